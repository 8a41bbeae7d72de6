#include "services/KZDateUtilities.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QLocale>
#include <QTimeZone>

#include <cmath>
#include <ctime>
#include <limits>
#include <thread>
#include <vector>

namespace {

// Pins the locale to en_US and the local time zone to a POSIX TZ rule (no
// tzdata needed) for the test's lifetime.
class DateUtilitiesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedLocale_ = QLocale();
        savedTz_ = qgetenv("TZ");
        hadTz_ = qEnvironmentVariableIsSet("TZ");
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        setTimeZone("UTC0");
    }
    void TearDown() override
    {
        QLocale::setDefault(savedLocale_);
        if (hadTz_)
            qputenv("TZ", savedTz_);
        else
            qunsetenv("TZ");
        tzset();
    }
    static void setTimeZone(const char* tz)
    {
        qputenv("TZ", tz);
        tzset();
    }
    static double secondsOf(const QDateTime& utc) { return KZDateUtilities::timeIntervalSinceReferenceDate(utc); }

    QLocale savedLocale_;
    QByteArray savedTz_;
    bool hadTz_ = false;
};

const QDateTime kMay3 = QDateTime(QDate(2019, 5, 3), QTime(12, 34, 56), Qt::UTC);

TEST_F(DateUtilitiesTest, ReadsOnlyTheExactForm)
{
    EXPECT_EQ(KZDateUtilities::dateWithString(QStringLiteral("2019/05/03 12:34:56")), kMay3);
    EXPECT_EQ(KZDateUtilities::dateWithString(QStringLiteral("2019/05/03 12:34:56")).timeSpec(), Qt::UTC);
    EXPECT_EQ(KZDateUtilities::dateWithString(QStringLiteral("2020/02/29 23:59:59")),
              QDateTime(QDate(2020, 2, 29), QTime(23, 59, 59), Qt::UTC));

    const char* rejected[] = {
        "",
        "2019/05/03",            // date without its time
        "2019/05/03 12:34",      // no seconds
        " 2019/05/03 12:34:56",  // leading blank
        "2019/05/03 12:34:56 ",  // trailing blank
        "2019/05/03 12:34:56\n", // trailing line feed
        "2019/05/03 12:34:56Z",
        "2019-05-03 12:34:56",
        "2019/05/03T12:34:56",
        "2019/5/03 12:34:56",    // one-digit month
        "19/05/03 12:34:56",
        "2019/13/03 12:34:56",   // month out of range
        "2019/00/03 12:34:56",
        "2019/04/31 12:00:00",   // no 31 April
        "2019/02/29 12:00:00",   // not a leap year
        "2019/05/03 24:00:00",
        "2019/05/03 12:60:00",
        "2019/05/03 12:34:60",   // no leap seconds
        "0000/01/01 00:00:00",
        "2019/05/03 1a:34:56",
        "+019/05/03 12:34:56",
    };
    for (const char* text : rejected)
        EXPECT_FALSE(KZDateUtilities::dateWithString(QString::fromUtf8(text)).isValid()) << text;
    // Digits of other scripts are not read, as in the POSIX locale.
    EXPECT_FALSE(KZDateUtilities::dateWithString(QStringLiteral("\u0662\u0660\u0661\u0669/05/03 12:34:56")).isValid());
}

TEST_F(DateUtilitiesTest, PlaceholderIsTheReferenceDateInAnyZone)
{
    setTimeZone("XST-9");
    KZDateUtilities dates;
    EXPECT_EQ(secondsOf(dates.wrongDate()), 0.0);
    EXPECT_EQ(dates.wrongDate().toSecsSinceEpoch(), KZDateUtilities::referenceDateEpochSeconds);
}

TEST_F(DateUtilitiesTest, ShowsStylesInTheUsersLocaleAndZone)
{
    KZDateUtilities dates;
    const double t = secondsOf(kMay3);
    struct Case {
        unsigned style;
        bool isDate;
        bool withTime;
        const char* expected;
    } cases[] = {
        {3, true, false, "May 3, 2019"},
        {3, true, true, "May 3, 2019 12:34:56 PM"},
        {1, true, false, "5/3/19"},
        {2, true, false, "May 3, 2019"},
        {4, true, false, "Friday, May 3, 2019"},
        {3, false, true, "12:34:56 PM"},
        {0, true, true, "12:34:56 PM"},
        {3, false, false, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(dates.stringWithSeconds(t, c.style, c.isDate, c.withTime), QString::fromUtf8(c.expected))
            << c.style << c.isDate << c.withTime;

    // Ten hours ahead of GMT the same moment is already the evening.
    setTimeZone("XST-10");
    EXPECT_EQ(dates.stringWithSeconds(t, 3, true, true), QStringLiteral("May 3, 2019 10:34:56 PM"));

    for (double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(), 1e300})
        EXPECT_TRUE(dates.stringWithSeconds(bad, 3, true, true).isEmpty()) << bad;
}

TEST_F(DateUtilitiesTest, CachesOneFormatterPerKeyAndFollowsTheLocale)
{
    KZDateUtilities dates;
    const double t = secondsOf(kMay3);
    EXPECT_EQ(KZDateUtilities::formatterKey(3, true, false), QStringLiteral("3-1-0"));
    EXPECT_EQ(KZDateUtilities::formatterKey(3, true, true), QStringLiteral("3-1-1"));

    const QString first = dates.stringWithSeconds(t, 3, true, false);
    EXPECT_EQ(dates.stringWithSeconds(t, 3, true, false), first);
    EXPECT_EQ(dates.formatterCount(), 1u);
    dates.stringWithSeconds(t, 3, true, true);
    EXPECT_EQ(dates.formatterCount(), 2u);

    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(dates.stringWithSeconds(t, 3, true, false), QStringLiteral("3. Mai 2019"));
    EXPECT_EQ(dates.stringWithSeconds(t, 1, true, false), QStringLiteral("03.05.19"));
    EXPECT_EQ(dates.formatterCount(), 3u);

    // An explicit rebuild keeps the keys and uses the locale now current.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    dates.localeChanged();
    EXPECT_EQ(dates.formatterCount(), 3u);
    EXPECT_EQ(dates.stringWithSeconds(t, 3, true, false), first);

    // A damaged key gives a formatter that shows nothing rather than garbage.
    EXPECT_TRUE(KZDateUtilities::updateFormatterWithKey(QStringLiteral("nonsense")).pattern.isEmpty());
}

TEST_F(DateUtilitiesTest, ValidTypedDateIsReplacedByItsDisplayForm)
{
    KZDateUtilities dates;
    QString text = QStringLiteral("2019/05/03 12:34:56");
    EXPECT_TRUE(dates.isValidStringDate(text, 3));
    EXPECT_EQ(text, QStringLiteral("May 3, 2019"));

    for (const char* bad : {"2019/05/03", "May 3, 2019", "2019/02/30 00:00:00"}) {
        QString typed = QString::fromUtf8(bad);
        EXPECT_FALSE(dates.isValidStringDate(typed, 3)) << bad;
        EXPECT_EQ(typed, QString::fromUtf8(bad));
    }
}

TEST_F(DateUtilitiesTest, DayStartIsLocalMidnight)
{
    // New York rules: on 3 May 2019 the zone is UTC-4.
    setTimeZone("EST5EDT,M3.2.0,M11.1.0");
    KZDateUtilities dates;
    const double afternoon = secondsOf(QDateTime(QDate(2019, 5, 3), QTime(19, 15, 30), Qt::UTC)); // 15:15:30 local
    const double start = dates.convertDateOfCurrFile(afternoon);
    EXPECT_EQ(start, secondsOf(QDateTime(QDate(2019, 5, 3), QTime(4, 0), Qt::UTC)));
    EXPECT_EQ(dates.convertDateOfCurrFile(start), start);

    // Just after local midnight, and just before the next one.
    const double late = secondsOf(QDateTime(QDate(2019, 5, 4), QTime(3, 59, 59), Qt::UTC));
    EXPECT_EQ(dates.convertDateOfCurrFile(late), start);
}

TEST_F(DateUtilitiesTest, DayStartOnADayWithoutMidnight)
{
    // Summer time that begins at midnight on the second Sunday of March: on
    // 10 March 2019 the clock jumps from 00:00 to 01:00 (UTC-3 to UTC-2).
    setTimeZone("XST3XDT,M3.2.0/0,M11.1.0/0");
    KZDateUtilities dates;
    const double afternoon = secondsOf(QDateTime(QDate(2019, 3, 10), QTime(17, 0), Qt::UTC));
    const QDateTime start = KZDateUtilities::dateWithTimeIntervalSinceReferenceDate(dates.convertDateOfCurrFile(afternoon));
    EXPECT_EQ(start, QDateTime(QDate(2019, 3, 10), QTime(3, 0), Qt::UTC)); // 01:00 local, the day's first moment
    EXPECT_EQ(start.toLocalTime().date(), QDate(2019, 3, 10));
}

TEST_F(DateUtilitiesTest, YearOfADateText)
{
    struct Case {
        const char* text;
        const char* year; // nullptr: no year
    } cases[] = {
        {"2019-05-03 12:34:56 +0000", "2019"},
        {"abc-def", "abc"}, // taken as it is, never parsed
        {"-05", ""},
        {"2019/05/03 12:34:56", "2019"},
        {"0999/12/31 23:59:59", "0999"},
        {"2019/05/03", nullptr},
        {"hello", nullptr},
        {"", nullptr},
    };
    for (const Case& c : cases) {
        const QString year = KZDateUtilities::yearFromDateString(QString::fromUtf8(c.text));
        if (c.year) {
            EXPECT_FALSE(year.isNull()) << c.text;
            EXPECT_EQ(year, QString::fromUtf8(c.year)) << c.text;
        } else {
            EXPECT_TRUE(year.isNull()) << c.text;
        }
    }
    // The year is the GMT one, whatever the local zone.
    setTimeZone("XST-14");
    EXPECT_EQ(KZDateUtilities::yearFromDateString(QStringLiteral("2019/12/31 23:00:00")), QStringLiteral("2019"));
}

TEST_F(DateUtilitiesTest, DisplayFromSeveralThreadsAgrees)
{
    KZDateUtilities dates;
    const double t = secondsOf(kMay3);
    std::vector<std::thread> threads;
    std::vector<int> mismatches(6, 0);
    std::vector<QString> expected;
    for (int i = 0; i < 6; ++i)
        expected.push_back(KZDateUtilities::updateFormatterWithKey(
                               KZDateUtilities::formatterKey(1 + static_cast<unsigned>(i % 4), true, i % 2 == 0))
                               .format(kMay3.toLocalTime()));
    for (int i = 0; i < 6; ++i) {
        threads.emplace_back([&, i] {
            const auto at = static_cast<std::size_t>(i);
            for (int n = 0; n < 300; ++n)
                if (dates.stringWithSeconds(t, 1 + static_cast<unsigned>(i % 4), true, i % 2 == 0) != expected[at])
                    ++mismatches[at];
        });
    }
    for (auto& th : threads)
        th.join();
    for (int m : mismatches)
        EXPECT_EQ(m, 0);
}

} // namespace
