#include "services/KZNumberUtilities.h"

#include "platform/StringTable.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

class NumberUtilitiesTest : public ::testing::Test {
protected:
    void SetUp() override { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void TearDown() override { QLocale::setDefault(saved_); }

    static QString sized(const char* number, const char* unitKey)
    {
        return QString::fromUtf8(number) + platform::localizedString(QString::fromLatin1(unitKey));
    }

    const QLocale saved_;
};

TEST_F(NumberUtilitiesTest, SizesNumbersClocksAndAngles)
{
    const KZNumberUtilities n;
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr quint64 max = std::numeric_limits<quint64>::max(), tera5 = 5'000'000'000'000;
    const auto size = [&](quint64 bytes, qint16 scale, bool two) { return n.sizeToFormatString(bytes, scale, two); };
    const auto num = [&](double value) { return n.numberToFormatString(value); };
    const auto clock = &KZNumberUtilities::secondsToFormatString;
    const auto dms = [](double degrees, const char* ref) {
        return KZNumberUtilities::mpsFromDegrees(degrees, QString::fromLatin1(ref));
    };
    const auto t = [](const char* text) { return QString::fromUtf8(text); };
    const std::pair<QString, QString> cases[] = {
        {size(0, 4, true), sized("0", "byte")}, {size(999, 4, true), sized("999", "byte")},
        {size(1000, 4, true), sized("1.00", "Kb")}, {size(1000, 4, false), sized("1.0", "Kb")},
        {size(999999, 4, true), sized("1,000.00", "Kb")}, // the unit is chosen before rounding
        {size(1500000, 1, true), sized("1,500,000", "byte")}, {size(1500000, 2, true), sized("1,500.00", "Kb")},
        {size(1500000, 4, true), sized("1.50", "Mb")}, {size(2500000000, 4, true), sized("2.50", "Gb")},
        {size(tera5, 4, true), sized("5.00", "Tb")}, {size(tera5, 3, true), sized("5,000,000.00", "Mb")},
        {size(tera5, -1, false), sized("5,000,000.0", "Mb")},
        {size(max, 4, true), sized("18,446,744.07", "Tb")},
        {size(max, 1, true), sized("18,446,744,073,709,551,616", "byte")},
        {num(1234567), t("1,234,567")}, {num(1.999), t("2")}, {num(-0.001), t("0")}, // no "-0"
        // Ties go to the even digit, on the decimal value as written.
        {num(0.125), t("0.12")}, {num(1.005), t("1")}, {num(1.015), t("1.02")},
        {num(1e20), t("100,000,000,000,000,000,000")},
        {clock(0), t("00:00")}, {clock(-5), t("00:00")}, {clock(61), t("01:01")}, {clock(3599), t("59:59")},
        {clock(3600), t("1:00:00")}, {clock(36000), t("10:00:00")},
        {dms(12.5, "N"), t("12\u00B0 30' 0.000\" N")}, {dms(45.123456, "E"), t("45\u00B0 7' 24.442\" E")},
        // 12.1 is 12 degrees 5 minutes 59.99999... seconds in binary: shown as 6 minutes.
        {dms(12.1, "N"), t("12\u00B0 6' 0.000\" N")}, {dms(12.999999999, "W"), t("13\u00B0 0' 0.000\" W")},
        {dms(0, "N"), QString()}, {dms(-33.9, "S"), QString()}, {dms(nan, "N"), QString()}, {dms(1e30, "N"), QString()},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].first, cases[i].second) << "row " << i;
    EXPECT_FALSE(num(nan).isEmpty());
    EXPECT_TRUE(clock(std::numeric_limits<qint64>::max()).endsWith(u":07"));
}

TEST_F(NumberUtilitiesTest, AnInstanceKeepsTheLocaleItWasMadeIn)
{
    const KZNumberUtilities english;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const KZNumberUtilities german;
    EXPECT_EQ(german.numberToFormatString(1234.5), QStringLiteral("1.234,5"));
    EXPECT_EQ(german.sizeToFormatString(1500000, 2, true), sized("1.500,00", "Kb"));
    EXPECT_EQ(english.numberToFormatString(1234.5), QStringLiteral("1,234.5"));
    // The decimal point of an angle's seconds does not follow the locale.
    EXPECT_EQ(KZNumberUtilities::mpsFromDegrees(45.123456, QStringLiteral("E")),
              QStringLiteral("45\u00B0 7' 24.442\" E"));
}

} // namespace
