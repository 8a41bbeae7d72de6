#include "services/KZNumberUtilities.h"

#include "platform/SharedInstance.h"
#include "platform/StringTable.h"

#include <cmath>

namespace {

platform::SharedInstance<KZNumberUtilities>& sharedInstance()
{
    static platform::SharedInstance<KZNumberUtilities> instance([] { return std::make_unique<KZNumberUtilities>(); });
    return instance;
}

// Rounds the shortest decimal form of |value| to `maxFraction` digits, half
// to even, as number formatters do by default (0.125 -> 0.12, 0.375 -> 0.38).
// Rounding the decimal form rather than the binary value keeps 1.005 at 1.00
// and avoids the drift of scaling by powers of ten. Answers the rounded text
// in the C locale ("1234.5").
QString roundHalfEven(double value, int maxFraction)
{
    QString text = QString::number(std::fabs(value), 'f', QLocale::FloatingPointShortest);
    qsizetype dot = text.indexOf(u'.');
    if (dot < 0)
        return text;
    const qsizetype fractionLength = text.size() - dot - 1;
    if (fractionLength <= maxFraction)
        return text;

    const qsizetype cut = dot + 1 + maxFraction; // first dropped digit
    const char16_t first = text.at(cut).unicode();
    bool roundUp = first > u'5';
    if (first == u'5') {
        bool restNonZero = false;
        for (qsizetype i = cut + 1; i < text.size(); ++i)
            restNonZero = restNonZero || text.at(i) != u'0';
        const qsizetype lastKept = maxFraction > 0 ? cut - 1 : dot - 1;
        roundUp = restNonZero || ((text.at(lastKept).unicode() - u'0') % 2 == 1);
    }
    text.truncate(maxFraction > 0 ? cut : dot);
    if (!roundUp)
        return text;

    qsizetype i = text.size() - 1;
    for (; i >= 0; --i) {
        if (text.at(i) == u'.')
            continue;
        if (text.at(i) == u'9') {
            text[i] = u'0';
        } else {
            text[i] = QChar(text.at(i).unicode() + 1);
            break;
        }
    }
    if (i < 0)
        text.prepend(u'1');
    return text;
}

} // namespace

KZNumberUtilities& KZNumberUtilities::sharedControl()
{
    return sharedInstance().get();
}

void KZNumberUtilities::setSharedControl(std::unique_ptr<KZNumberUtilities> instance)
{
    sharedInstance().replace(std::move(instance));
}

KZNumberUtilities::KZNumberUtilities()
    : locale_(QLocale())
    , bytes_(platform::localizedString(QStringLiteral("byte")))
    , kBytes_(platform::localizedString(QStringLiteral("Kb")))
    , mBytes_(platform::localizedString(QStringLiteral("Mb")))
    , gBytes_(platform::localizedString(QStringLiteral("Gb")))
    , tBytes_(platform::localizedString(QStringLiteral("Tb")))
{
}

QString KZNumberUtilities::format(double value, int minFraction, int maxFraction) const
{
    std::lock_guard lock(formatterLock_);
    if (!std::isfinite(value))
        return locale_.toString(value);

    const QString rounded = roundHalfEven(value, maxFraction);
    const qsizetype dot = rounded.indexOf(u'.');
    int digits = dot < 0 ? 0 : static_cast<int>(rounded.size() - dot - 1);
    while (digits > minFraction && rounded.at(dot + digits) == u'0')
        --digits;
    if (digits < minFraction)
        digits = minFraction;

    const double magnitude = rounded.toDouble();
    // A value that rounds to zero shows no minus sign.
    const double signedValue = (value < 0 && magnitude != 0.0) ? -magnitude : magnitude;
    return locale_.toString(signedValue, 'f', digits);
}

QString KZNumberUtilities::numberToFormatString(double value) const
{
    return format(value, 0, 2);
}

QString KZNumberUtilities::sizeToFormatString(quint64 bytes, qint16 scale, bool doublePrecision) const
{
    double value = static_cast<double>(bytes);
    const int precision = doublePrecision ? 2 : 1;

    // The unit is chosen on the exact value, before rounding: 999,999 bytes
    // stay in Kb and show as 1,000.00.
    if (value < 1000.0 || scale == 1)
        return numberToFormatString(value) + bytes_;
    value /= 1000.0;
    if (value < 1000.0 || scale == 2)
        return format(value, precision, precision) + kBytes_;
    value /= 1000.0;
    if (value < 1000.0 || scale != 4)
        return format(value, precision, precision) + mBytes_;
    value /= 1000.0;
    if (value < 1000.0)
        return format(value, precision, precision) + gBytes_;
    value /= 1000.0;
    return format(value, precision, precision) + tBytes_;
}

QString KZNumberUtilities::secondsToFormatString(qint64 seconds)
{
    if (seconds < 1)
        return QStringLiteral("00:00");
    qint64 minutes = seconds / 60;
    QString text;
    if (minutes >= 60) {
        text = QString::number(minutes / 60) + u':';
        minutes %= 60;
    }
    const qint64 secs = seconds % 60;
    text += (minutes < 10 ? QStringLiteral("0") : QString()) + QString::number(minutes) + u':';
    text += (secs < 10 ? QStringLiteral("0") : QString()) + QString::number(secs);
    return text;
}

QString KZNumberUtilities::mpsFromDegrees(double degrees, const QString& reference)
{
    // Also rejects NaN and values no unsigned degree count can hold.
    if (!(degrees > 0.0) || !(degrees < 18446744073709551616.0))
        return {};
    quint64 d = static_cast<quint64>(degrees);
    quint64 m = static_cast<quint64>((degrees - static_cast<double>(d)) * 60.0);
    double s = (degrees - static_cast<double>(d) - static_cast<double>(m) / 60.0) * 3600.0;

    // Binary fractions land a hair beside whole minutes: 0.7 degrees gives 41
    // minutes and 59.9999... seconds. Show the seconds as printed, carried
    // into the minutes, never as "-0.000" or "60.000".
    if (s < 0.0)
        s = 0.0;
    if (std::round(s * 1000.0) >= 60000.0) {
        s = 0.0;
        if (++m == 60) {
            m = 0;
            ++d;
        }
    }
    return QString::number(d) + QStringLiteral("\u00B0 ") + QString::number(m) + QStringLiteral("' ")
        + QString::number(s, 'f', 3) + QStringLiteral("\" ") + reference;
}
