#include "services/KZDateUtilities.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <limits>
#include <thread>
#include <vector>

namespace {

// Pins the locale to en_US and the local zone to a POSIX TZ rule (no tzdata
// needed) for the test's lifetime.
class DateUtilitiesTest : public ::testing::Test {
protected:
    DateUtilitiesTest()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        setTimeZone("UTC0");
    }
    ~DateUtilitiesTest() override { QLocale::setDefault(savedLocale_); }
    static void setTimeZone(const char* tz)
    {
        qputenv("TZ", tz);
        tzset();
    }
    static double at(QDate day, QTime time)
    {
        return KZDateUtilities::timeIntervalSinceReferenceDate({day, time, Qt::UTC});
    }

    struct TzReset {
        ~TzReset() { tzset(); } // runs after the guard put TZ back
    } tzReset_;
    kztest::EnvGuard tz_{"TZ"};
    const QLocale savedLocale_;
    KZDateUtilities dates;
    const double may3 = at({2019, 5, 3}, {12, 34, 56});
};

TEST_F(DateUtilitiesTest, ReadsOnlyTheExactForm)
{
    EXPECT_EQ(KZDateUtilities::dateWithString(QStringLiteral("2019/05/03 12:34:56")),
              QDateTime(QDate(2019, 5, 3), QTime(12, 34, 56), Qt::UTC));
    EXPECT_EQ(KZDateUtilities::dateWithString(QStringLiteral("2020/02/29 23:59:59")).timeSpec(), Qt::UTC);
    const char* rejected[] = {
        "", "2019/05/03", "2019/05/03 12:34", " 2019/05/03 12:34:56", "2019/05/03 12:34:56 ",
        "2019/05/03 12:34:56\n", "2019/05/03 12:34:56Z", "2019-05-03 12:34:56", "2019/05/03T12:34:56",
        "2019/5/03 12:34:56", "19/05/03 12:34:56", "2019/13/03 12:34:56", "2019/00/03 12:34:56",
        "2019/04/31 12:00:00", "2019/02/29 12:00:00", "2019/05/03 24:00:00", "2019/05/03 12:60:00",
        "2019/05/03 12:34:60", "0000/01/01 00:00:00", "2019/05/03 1a:34:56", "+019/05/03 12:34:56",
        "\u0662\u0660\u0661\u0669/05/03 12:34:56", // digits of another script
    };
    for (const char* text : rejected) {
        EXPECT_FALSE(KZDateUtilities::dateWithString(QString::fromUtf8(text)).isValid()) << text;
        QString typed = QString::fromUtf8(text);
        EXPECT_FALSE(dates.isValidStringDate(typed, 3)) << text;
        EXPECT_EQ(typed, QString::fromUtf8(text)); // left as typed
    }
    QString typed = QStringLiteral("2019/05/03 12:34:56");
    EXPECT_TRUE(dates.isValidStringDate(typed, 3));
    EXPECT_EQ(typed, QStringLiteral("May 3, 2019"));
}

TEST_F(DateUtilitiesTest, ShowsStylesInTheUsersLocaleAndZone)
{
    const std::tuple<unsigned, bool, bool, const char*> cases[] = {
        {3, true, false, "May 3, 2019"}, {3, true, true, "May 3, 2019 12:34:56 PM"}, {1, true, false, "5/3/19"},
        {4, true, false, "Friday, May 3, 2019"}, {0, true, true, "12:34:56 PM"}, {3, false, false, ""},
    };
    for (const auto& [style, isDate, withTime, text] : cases)
        EXPECT_EQ(dates.stringWithSeconds(may3, style, isDate, withTime), QString::fromUtf8(text)) << text;
    setTimeZone("XST-10");
    EXPECT_EQ(dates.stringWithSeconds(may3, 3, true, true), QStringLiteral("May 3, 2019 10:34:56 PM"));
    for (double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(), 1e300})
        EXPECT_TRUE(dates.stringWithSeconds(bad, 3, true, true).isEmpty()) << bad;
    // The placeholder date of items without one is the reference date in any zone.
    EXPECT_EQ(KZDateUtilities().wrongDate().toSecsSinceEpoch(), KZDateUtilities::referenceDateEpochSeconds);
}

TEST_F(DateUtilitiesTest, CachesOneFormatterPerKeyAndFollowsTheLocale)
{
    EXPECT_EQ(KZDateUtilities::formatterKey(3, true, false), QStringLiteral("3-1-0"));
    const QString first = dates.stringWithSeconds(may3, 3, true, false);
    dates.stringWithSeconds(may3, 3, true, false);
    EXPECT_EQ(dates.formatterCount(), 1u);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(dates.stringWithSeconds(may3, 3, true, false), QStringLiteral("3. Mai 2019"));
    EXPECT_EQ(dates.formatterCount(), 1u);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    dates.localeChanged();
    EXPECT_EQ(dates.stringWithSeconds(may3, 3, true, false), first);
    // A damaged key gives a formatter that shows nothing rather than garbage.
    EXPECT_TRUE(KZDateUtilities::updateFormatterWithKey(QStringLiteral("nonsense")).pattern.isEmpty());
}

// The threads fill the shared formatter cache while the others read it.
TEST_F(DateUtilitiesTest, DisplayFromSeveralThreadsAgrees)
{
    const QDateTime local = KZDateUtilities::dateWithTimeIntervalSinceReferenceDate(may3).toLocalTime();
    QString expected[4]; // built aside, so the cache starts empty
    for (unsigned s = 0; s < 4; ++s)
        expected[s] = KZDateUtilities::updateFormatterWithKey(KZDateUtilities::formatterKey(s + 1, true, s % 2))
                          .format(local);
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < 8; ++i)
        threads.emplace_back([&, s = i % 4] {
            for (int n = 0; n < 300; ++n)
                mismatches += dates.stringWithSeconds(may3, s + 1, true, s % 2) != expected[s];
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(mismatches, 0);
}

TEST_F(DateUtilitiesTest, DayStartIsTheFirstMomentOfTheLocalDay)
{
    setTimeZone("EST5EDT,M3.2.0,M11.1.0"); // New York: UTC-4 in May
    const double start = at({2019, 5, 3}, {4, 0});
    EXPECT_EQ(dates.convertDateOfCurrFile(at({2019, 5, 3}, {19, 15, 30})), start);
    EXPECT_EQ(dates.convertDateOfCurrFile(at({2019, 5, 4}, {3, 59, 59})), start);
    EXPECT_EQ(dates.convertDateOfCurrFile(start), start);
    // Summer time beginning at midnight: 10 March 2019 starts at 01:00 local.
    setTimeZone("XST3XDT,M3.2.0/0,M11.1.0/0");
    EXPECT_EQ(dates.convertDateOfCurrFile(at({2019, 3, 10}, {17, 0})), at({2019, 3, 10}, {3, 0}));
}

TEST_F(DateUtilitiesTest, YearOfADateText)
{
    setTimeZone("XST-14"); // the year is the GMT one
    const std::pair<const char*, const char*> cases[] = {
        {"2019-05-03 12:34:56 +0000", "2019"}, {"abc-def", "abc"}, {"-05", ""},
        {"2019/12/31 23:00:00", "2019"}, {"0999/12/31 23:59:59", "0999"},
        {"2019/05/03", nullptr}, {"hello", nullptr}, {"", nullptr},
    };
    for (const auto& [text, year] : cases) {
        const QString got = KZDateUtilities::yearFromDateString(QString::fromUtf8(text));
        EXPECT_EQ(got.isNull(), year == nullptr) << text;
        EXPECT_EQ(got, QString::fromUtf8(year)) << text;
    }
}

} // namespace
