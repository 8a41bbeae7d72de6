#include "services/KZNumberUtilities.h"

#include "platform/StringTable.h"

#include <gtest/gtest.h>

#include <QLocale>

#include <cmath>
#include <limits>

namespace {

class NumberUtilitiesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = QLocale();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }
    void TearDown() override { QLocale::setDefault(saved_); }

    static QString unit(const char* key) { return platform::localizedString(QString::fromLatin1(key)); }

    QLocale saved_;
};

TEST_F(NumberUtilitiesTest, SizesInDecimalUnits)
{
    KZNumberUtilities numbers;
    struct Case {
        quint64 bytes;
        qint16 scale;
        bool doublePrecision;
        const char* number;
        const char* unitKey;
    } cases[] = {
        {0, 4, true, "0", "byte"},
        {999, 4, true, "999", "byte"},
        {1000, 4, true, "1.00", "Kb"},
        {1000, 4, false, "1.0", "Kb"},
        {1500, 4, false, "1.5", "Kb"},
        {999999, 4, true, "1,000.00", "Kb"}, // the unit is chosen before rounding
        {1500000, 1, true, "1,500,000", "byte"},
        {1500000, 2, true, "1,500.00", "Kb"},
        {1500000, 4, true, "1.50", "Mb"},
        {2500000000, 4, true, "2.50", "Gb"},
        {2500000000, 3, true, "2,500.00", "Mb"},
        {5000000000000, 4, true, "5.00", "Tb"},
        {5000000000000, 3, true, "5,000,000.00", "Mb"},
        {5000000000000, 0, true, "5,000,000.00", "Mb"},
        {5000000000000, -1, false, "5,000,000.0", "Mb"},
        {999999999999999, 4, true, "1,000.00", "Tb"},
        {std::numeric_limits<quint64>::max(), 4, true, "18,446,744.07", "Tb"},
        {std::numeric_limits<quint64>::max(), 1, true, "18,446,744,073,709,551,616", "byte"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(numbers.sizeToFormatString(c.bytes, c.scale, c.doublePrecision),
                  QString::fromLatin1(c.number) + unit(c.unitKey))
            << c.bytes << " scale " << c.scale;
}

TEST_F(NumberUtilitiesTest, NumbersKeepUpToTwoFractionDigits)
{
    KZNumberUtilities numbers;
    struct Case {
        double value;
        const char* text;
    } cases[] = {
        {0, "0"},
        {7, "7"},
        {1234567, "1,234,567"},
        {1234.5, "1,234.5"},
        {2.25, "2.25"},
        {1.999, "2"},
        // Ties go to the even digit, on the decimal value as written.
        {0.125, "0.12"},
        {0.375, "0.38"},
        {1.005, "1"},
        {1.015, "1.02"},
        {-1.5, "-1.5"},
        {-0.001, "0"}, // no "-0"
        {1e20, "100,000,000,000,000,000,000"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(numbers.numberToFormatString(c.value), QString::fromLatin1(c.text)) << c.value;
    EXPECT_FALSE(numbers.numberToFormatString(std::nan("")).isEmpty());
}

TEST_F(NumberUtilitiesTest, AnInstanceKeepsTheLocaleItWasMadeIn)
{
    KZNumberUtilities english;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    KZNumberUtilities german;
    EXPECT_EQ(german.numberToFormatString(1234.5), QStringLiteral("1.234,5"));
    EXPECT_EQ(german.sizeToFormatString(1500000, 2, true), QStringLiteral("1.500,00") + unit("Kb"));
    EXPECT_EQ(english.numberToFormatString(1234.5), QStringLiteral("1,234.5"));
}

TEST_F(NumberUtilitiesTest, ClockTexts)
{
    struct Case {
        qint64 seconds;
        const char* text;
    } cases[] = {
        {0, "00:00"},
        {-5, "00:00"},
        {59, "00:59"},
        {61, "01:01"},
        {3599, "59:59"},
        {3600, "1:00:00"},
        {3605, "1:00:05"},
        {36000, "10:00:00"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(KZNumberUtilities::secondsToFormatString(c.seconds), QString::fromLatin1(c.text)) << c.seconds;
    EXPECT_TRUE(KZNumberUtilities::secondsToFormatString(std::numeric_limits<qint64>::max()).endsWith(u":07"));
}

TEST_F(NumberUtilitiesTest, AngleTexts)
{
    struct Case {
        double degrees;
        const char* reference;
        const char* text;
    } cases[] = {
        {12.5, "N", "12\u00B0 30' 0.000\" N"},
        {45.123456, "E", "45\u00B0 7' 24.442\" E"},
        {0.7, "S", "0\u00B0 42' 0.000\" S"},
        // 12.1 is 12 degrees 5 minutes 59.99999... seconds in binary: shown as 6 minutes.
        {12.1, "N", "12\u00B0 6' 0.000\" N"},
        {12.999999999, "W", "13\u00B0 0' 0.000\" W"},
        {0, "N", ""},
        {-33.9, "S", ""},
        {std::numeric_limits<double>::quiet_NaN(), "N", ""},
        {std::numeric_limits<double>::infinity(), "N", ""},
        {1e30, "N", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(KZNumberUtilities::mpsFromDegrees(c.degrees, QString::fromLatin1(c.reference)), QString::fromUtf8(c.text))
            << c.degrees;
    // The decimal point of the seconds does not follow the locale.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(KZNumberUtilities::mpsFromDegrees(45.123456, QStringLiteral("E")), QStringLiteral("45\u00B0 7' 24.442\" E"));
}

} // namespace
