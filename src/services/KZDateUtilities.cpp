#include "services/KZDateUtilities.h"

#include "platform/SharedInstance.h"

#include <QStringList>
#include <QTime>

#include <cmath>
#include <vector>

namespace {

platform::SharedInstance<KZDateUtilities>& sharedInstance()
{
    static platform::SharedInstance<KZDateUtilities> instance([] { return std::make_unique<KZDateUtilities>(); });
    return instance;
}

// Beyond this many seconds (about three million years) a double no longer
// holds whole milliseconds and QDateTime could not represent the time anyway.
constexpr double kMaxSeconds = 1e14;

// Qt has short and long locale patterns only; the medium and long styles are
// derived from the long pattern by dropping fields from it. A pattern is cut
// into field runs ("MMMM"), quoted literals and single literal characters so
// that a field can be removed together with the punctuation that joins it to
// its neighbours.
struct Segment {
    QString text;
    QChar field; // the pattern letter of a field run, else null
    bool separator = false;
};

bool isSeparator(QChar c)
{
    static const QString joiners = QStringLiteral(",()\u060C\uFF0C");
    return c.isSpace() || joiners.contains(c);
}

std::vector<Segment> tokenize(const QString& pattern)
{
    std::vector<Segment> segments;
    const qsizetype n = pattern.size();
    for (qsizetype i = 0; i < n;) {
        const QChar c = pattern.at(i);
        if (c == u'\'') {
            qsizetype j = i + 1;
            while (j < n) {
                if (pattern.at(j) == u'\'') {
                    if (j + 1 < n && pattern.at(j + 1) == u'\'') {
                        j += 2;
                        continue;
                    }
                    ++j;
                    break;
                }
                ++j;
            }
            segments.push_back({pattern.mid(i, j - i), QChar(), false});
            i = j;
        } else if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')) {
            qsizetype j = i + 1;
            while (j < n && pattern.at(j) == c)
                ++j;
            segments.push_back({pattern.mid(i, j - i), c, false});
            i = j;
        } else {
            segments.push_back({QString(c), QChar(), isSeparator(c)});
            ++i;
        }
    }
    return segments;
}

template <typename Pred>
QString removeFields(const QString& pattern, Pred shouldRemove)
{
    std::vector<Segment> segments = tokenize(pattern);
    for (std::size_t i = segments.size(); i-- > 0;) {
        if (i >= segments.size() || segments[i].field.isNull() || !shouldRemove(segments[i]))
            continue;
        std::size_t end = i + 1;
        while (end < segments.size() && segments[end].separator)
            ++end;
        std::size_t begin = i;
        // A trailing field takes the joiner in front of it instead.
        if (end == segments.size())
            while (begin > 0 && segments[begin - 1].separator)
                --begin;
        segments.erase(segments.begin() + static_cast<std::ptrdiff_t>(begin),
                       segments.begin() + static_cast<std::ptrdiff_t>(end));
        i = begin;
    }
    QString out;
    for (const Segment& s : segments)
        out += s.text;
    return out.trimmed();
}

QString withoutWeekday(const QString& pattern)
{
    return removeFields(pattern, [](const Segment& s) { return s.field == u'd' && s.text.size() >= 3; });
}

QString datePattern(const QLocale& locale, unsigned style)
{
    switch (style) {
    case KZDateUtilities::None:
        return {};
    case KZDateUtilities::Short:
        return locale.dateFormat(QLocale::ShortFormat);
    case KZDateUtilities::Medium: {
        // The medium style abbreviates the month name.
        std::vector<Segment> segments = tokenize(withoutWeekday(locale.dateFormat(QLocale::LongFormat)));
        QString out;
        for (const Segment& s : segments)
            out += (s.field == u'M' && s.text.size() == 4) ? QStringLiteral("MMM") : s.text;
        return out;
    }
    case KZDateUtilities::Long:
        return withoutWeekday(locale.dateFormat(QLocale::LongFormat));
    default:
        return locale.dateFormat(QLocale::LongFormat);
    }
}

QString mediumTimePattern(const QLocale& locale)
{
    return removeFields(locale.timeFormat(QLocale::LongFormat), [](const Segment& s) { return s.field == u't'; });
}

// Two ASCII digits at `pos`, or -1.
int twoDigits(const QString& text, qsizetype pos)
{
    int value = 0;
    for (qsizetype i = pos; i < pos + 2; ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < u'0' || c > u'9')
            return -1;
        value = value * 10 + (c - u'0');
    }
    return value;
}

} // namespace

QString KZDateUtilities::Formatter::format(const QDateTime& date) const
{
    if (pattern.isEmpty() || !date.isValid())
        return {};
    return locale.toString(date, pattern);
}

KZDateUtilities& KZDateUtilities::sharedControl()
{
    return sharedInstance().get();
}

void KZDateUtilities::setSharedControl(std::unique_ptr<KZDateUtilities> instance)
{
    sharedInstance().replace(std::move(instance));
}

KZDateUtilities::KZDateUtilities()
{
    const QDateTime parsed = QLocale::c().toDateTime(QStringLiteral("01/01/2001 00:00:00"),
                                                     QStringLiteral("dd/MM/yyyy HH:mm:ss"));
    wrongDate_ = QDateTime(parsed.date(), parsed.time(), Qt::UTC);
}

QDateTime KZDateUtilities::referenceDate()
{
    return QDateTime::fromSecsSinceEpoch(referenceDateEpochSeconds, Qt::UTC);
}

double KZDateUtilities::timeIntervalSinceReferenceDate(const QDateTime& date)
{
    if (!date.isValid())
        return 0.0;
    return static_cast<double>(date.toMSecsSinceEpoch() - referenceDateEpochSeconds * 1000) / 1000.0;
}

QDateTime KZDateUtilities::dateWithTimeIntervalSinceReferenceDate(double seconds)
{
    if (!std::isfinite(seconds) || std::fabs(seconds) > kMaxSeconds)
        return {};
    const qint64 msecs = std::llround(seconds * 1000.0) + referenceDateEpochSeconds * 1000;
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC);
}

QDateTime KZDateUtilities::dateWithString(const QString& text)
{
    // "yyyy/MM/dd HH:mm:ss", checked by hand: the whole text must be the form,
    // with ASCII digits only, as the POSIX locale reads it.
    if (text.size() != 19)
        return {};
    static constexpr struct { qsizetype pos; char16_t c; } separators[] = {
        {4, u'/'}, {7, u'/'}, {10, u' '}, {13, u':'}, {16, u':'}};
    for (const auto& s : separators)
        if (text.at(s.pos) != s.c)
            return {};
    const int century = twoDigits(text, 0);
    const int yy = twoDigits(text, 2);
    const int month = twoDigits(text, 5);
    const int day = twoDigits(text, 8);
    const int hour = twoDigits(text, 11);
    const int minute = twoDigits(text, 14);
    const int second = twoDigits(text, 17);
    if (century < 0 || yy < 0 || month < 0 || day < 0 || hour < 0 || minute < 0 || second < 0)
        return {};
    // QDate and QTime reject out-of-range fields (month 13, 31 April, 24:00,
    // leap seconds, year 0) rather than rolling them over.
    const QDate date(century * 100 + yy, month, day);
    const QTime time(hour, minute, second);
    if (!date.isValid() || !time.isValid())
        return {};
    return QDateTime(date, time, Qt::UTC);
}

QString KZDateUtilities::formatterKey(unsigned style, bool isDate, bool withTime)
{
    return QStringLiteral("%1-%2-%3").arg(style).arg(isDate ? 1 : 0).arg(withTime ? 1 : 0);
}

KZDateUtilities::Formatter KZDateUtilities::updateFormatterWithKey(const QString& key)
{
    const QStringList parts = key.split(u'-');
    const unsigned style = parts.value(0).toUInt();
    const bool isDate = parts.value(1).toInt() != 0;
    const bool withTime = parts.value(2).toInt() != 0;

    Formatter formatter{QLocale(), QString()};
    const QString date = isDate ? datePattern(formatter.locale, style) : QString();
    const QString time = withTime ? mediumTimePattern(formatter.locale) : QString();
    if (!date.isEmpty() && !time.isEmpty())
        formatter.pattern = date + u' ' + time;
    else
        formatter.pattern = date.isEmpty() ? time : date;
    return formatter;
}

QString KZDateUtilities::stringWithSeconds(double seconds, unsigned style, bool isDate, bool withTime)
{
    const QDateTime date = dateWithTimeIntervalSinceReferenceDate(seconds).toLocalTime();
    if (!date.isValid())
        return {};
    const QString key = formatterKey(style, isDate, withTime);

    // Formatting happens under the lock too: a formatter is never used by two
    // threads at once.
    std::lock_guard lock(updateLock_);
    if (formattersLocale_ != QLocale())
        rebuildLocked();
    auto it = formatters_.find(key);
    if (it == formatters_.end())
        it = formatters_.emplace(key, updateFormatterWithKey(key)).first;
    return it->second.format(date);
}

bool KZDateUtilities::isValidStringDate(QString& text, unsigned style)
{
    const QDateTime date = dateWithString(text);
    if (!date.isValid())
        return false;
    text = stringWithSeconds(timeIntervalSinceReferenceDate(date), style, true, false);
    return true;
}

double KZDateUtilities::convertDateOfCurrFile(double seconds) const
{
    const QDateTime date = dateWithTimeIntervalSinceReferenceDate(seconds);
    if (!date.isValid())
        return seconds;
    // startOfDay() copes with days whose midnight falls into a daylight-saving
    // gap, where "00:00:00" does not exist.
    const QDateTime start = date.toLocalTime().date().startOfDay(Qt::LocalTime);
    return start.isValid() ? timeIntervalSinceReferenceDate(start) : seconds;
}

QString KZDateUtilities::yearFromDateString(const QString& text)
{
    const qsizetype dash = text.indexOf(u'-');
    if (dash >= 0)
        return text.left(dash);
    const QDateTime date = dateWithString(text);
    if (!date.isValid())
        return {};
    return QStringLiteral("%1").arg(date.date().year(), 4, 10, QChar(u'0'));
}

void KZDateUtilities::localeChanged()
{
    std::lock_guard lock(updateLock_);
    rebuildLocked();
}

void KZDateUtilities::rebuildLocked()
{
    std::map<QString, Formatter> rebuilt;
    for (const auto& entry : formatters_)
        rebuilt.emplace(entry.first, updateFormatterWithKey(entry.first));
    formatters_ = std::move(rebuilt);
    formattersLocale_ = QLocale();
}

std::size_t KZDateUtilities::formatterCount() const
{
    std::lock_guard lock(updateLock_);
    return formatters_.size();
}
