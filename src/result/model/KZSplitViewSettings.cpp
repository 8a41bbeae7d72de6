#include "result/model/KZSplitViewSettings.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace KZSplitViewSettings {

namespace {

QString flag(bool value)
{
    return value ? QStringLiteral("YES") : QStringLiteral("NO");
}

std::optional<bool> readFlag(const QString& text)
{
    if (text == QLatin1String("YES"))
        return true;
    if (text == QLatin1String("NO"))
        return false;
    return std::nullopt;
}

} // namespace

QString format(const Subview& subview)
{
    // asprintf formats in the C locale.
    return QString::asprintf("%f, %f, %f, %f, ", subview.frame.x(), subview.frame.y(), subview.frame.width(),
                             subview.frame.height())
        + flag(subview.collapsed) + QStringLiteral(", ") + flag(subview.otherCollapsed);
}

std::optional<Subview> parse(const QString& text)
{
    const QStringList fields = text.split(QLatin1Char(','));
    if (fields.size() != 6)
        return std::nullopt;
    const QLocale c = QLocale::c();
    double numbers[4] = {};
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        numbers[i] = c.toDouble(fields[i].trimmed(), &ok);
        if (!ok || !std::isfinite(numbers[i]))
            return std::nullopt;
    }
    const auto collapsed = readFlag(fields[4].trimmed());
    const auto other = readFlag(fields[5].trimmed());
    if (!collapsed || !other || numbers[2] < 0 || numbers[3] < 0)
        return std::nullopt;
    return Subview{QRectF(numbers[0], numbers[1], numbers[2], numbers[3]), *collapsed, *other};
}

std::optional<std::pair<Subview, Subview>> parseStored(const QVariant& value)
{
    const QVariantList list = value.toList();
    if (list.size() != 2)
        return std::nullopt;
    const auto first = parse(list[0].toString());
    const auto second = parse(list[1].toString());
    if (!first || !second)
        return std::nullopt;
    return std::make_pair(*first, *second);
}

QVariantList storedValue(const Subview& first, const Subview& second)
{
    return {format(first), format(second)};
}

QList<int> initialSizes(int extent, int divider)
{
    const int usable = std::max(extent - divider, 0);
    const int first = usable * 3 / 4;
    return {first, usable - first};
}

QList<int> restoredSizes(const std::optional<std::pair<Subview, Subview>>& stored, bool sideBySide, int extent,
                         int divider)
{
    if (!stored)
        return initialSizes(extent, divider);
    auto length = [sideBySide](const Subview& s) {
        if (s.collapsed)
            return 0.0;
        return sideBySide ? s.frame.width() : s.frame.height();
    };
    const double first = length(stored->first);
    const double second = length(stored->second);
    if (first + second <= 0)
        return initialSizes(extent, divider);
    // The splitter spreads any difference from its present extent by the
    // subviews' stretch factors, as the stored frames would be resized.
    return {static_cast<int>(std::lround(first)), static_cast<int>(std::lround(second))};
}

double popoverTextWidth(double naturalWidth)
{
    return std::min(naturalWidth, popoverMaxTextWidth);
}

} // namespace KZSplitViewSettings
