#include "services/KZExtensionFunctions.h"

#include <QRegularExpression>
#include <QVariantMap>

#include <cmath>

bool isValidEmail(const QString& address)
{
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("^.+@([A-Za-z0-9-]+\\.)+[A-Za-z]{2}[A-Za-z]*$")));
    return pattern.match(address).hasMatch();
}

qsizetype indexOfItemInFILETYPETAGArray(const QVariantList& labels, qint64 tag)
{
    for (qsizetype i = 0; i < labels.size(); ++i) {
        const QVariant value = labels.at(i).toMap().value(QStringLiteral("file_type_tag"));
        bool ok = false;
        const qint64 found = value.toLongLong(&ok);
        if (ok && found == tag)
            return i;
    }
    return -1;
}

QString KZSplitViewPaneSetting::toString() const
{
    auto number = [](double v) { return QString::number(v, 'f', 6); };
    auto flag = [](bool v) { return v ? QStringLiteral("YES") : QStringLiteral("NO"); };
    return QStringList{number(x), number(y), number(width), number(height), flag(collapsed), flag(otherCollapsed)}
        .join(QStringLiteral(", "));
}

std::optional<KZSplitViewPaneSetting> KZSplitViewPaneSetting::fromString(const QString& string)
{
    const QStringList fields = string.split(QStringLiteral(", "));
    if (fields.size() < 5)
        return std::nullopt;
    double numbers[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        numbers[i] = fields.at(i).trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(numbers[i]))
            return std::nullopt;
    }
    if (numbers[2] < 0 || numbers[3] < 0)
        return std::nullopt;
    KZSplitViewPaneSetting setting;
    setting.x = numbers[0];
    setting.y = numbers[1];
    setting.width = numbers[2];
    setting.height = numbers[3];
    setting.collapsed = KZStringBoolValue(fields.at(4));
    setting.otherCollapsed = fields.size() > 5 && KZStringBoolValue(fields.at(5));
    return setting;
}

bool KZStringBoolValue(const QString& string)
{
    qsizetype i = 0;
    while (i < string.size() && string.at(i).isSpace())
        ++i;
    if (i < string.size() && (string.at(i) == QLatin1Char('+') || string.at(i) == QLatin1Char('-')))
        ++i;
    while (i < string.size() && string.at(i) == QLatin1Char('0'))
        ++i;
    if (i >= string.size())
        return false;
    const QChar c = string.at(i);
    return c == QLatin1Char('Y') || c == QLatin1Char('y') || c == QLatin1Char('T') || c == QLatin1Char('t')
        || (c >= QLatin1Char('1') && c <= QLatin1Char('9'));
}
