#include "result/model/KZSplitViewSettings.h"

#include <QLocale>
#include <gtest/gtest.h>

using namespace KZSplitViewSettings;

namespace {

struct RoundTrip {
    const char* name;
    Subview subview;
    QString text;
};

class SplitStrings : public ::testing::TestWithParam<RoundTrip> {};

// A comma decimal separator would split "12,5" into two fields.
class CommaLocale {
public:
    CommaLocale() : saved_(QLocale()) { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }
    ~CommaLocale() { QLocale::setDefault(saved_); }

private:
    QLocale saved_;
};

} // namespace

TEST_P(SplitStrings, RoundTripInTheCLocaleWhateverTheUsers)
{
    CommaLocale comma;
    const RoundTrip& c = GetParam();
    EXPECT_EQ(format(c.subview), c.text);
    const auto back = parse(c.text);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, c.subview);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, SplitStrings,
    ::testing::Values(RoundTrip{"open", {QRectF(0, 0, 212.5, 640), false, false},
                                QStringLiteral("0.000000, 0.000000, 212.500000, 640.000000, NO, NO")},
                      RoundTrip{"collapsed", {QRectF(750, 0, 0, 640), true, false},
                                QStringLiteral("750.000000, 0.000000, 0.000000, 640.000000, YES, NO")}),
    [](const ::testing::TestParamInfo<RoundTrip>& row) { return std::string(row.param.name); });

TEST(SplitStrings, DamagedValuesAreRefused)
{
    for (const QString& text : {QString(), QStringLiteral("1, 2, 3, 4, YES"), QStringLiteral("1,5, 2, 3, 4, YES, NO"),
                                QStringLiteral("a, 2, 3, 4, YES, NO"), QStringLiteral("1, 2, -3, 4, NO, NO"),
                                QStringLiteral("1, 2, 3, 4, yes, NO"), QStringLiteral("nan, 2, 3, 4, NO, NO")})
        EXPECT_FALSE(parse(text).has_value()) << text.toStdString();
    EXPECT_FALSE(parseStored(QVariantList{format({})}).has_value());
}

TEST(SplitStrings, SizesComeFromTheStoredFramesOrThreeQuarters)
{
    EXPECT_EQ(restoredSizes(std::nullopt, true, 1001, 1), (QList<int>{750, 250}));
    const auto stored = parseStored(storedValue({QRectF(0, 0, 600, 400), false, false}, {QRectF(601, 0, 300, 400), false, false}));
    EXPECT_EQ(restoredSizes(stored, true, 1000, 1), (QList<int>{600, 300}));
    EXPECT_EQ(restoredSizes(stored, false, 1000, 1), (QList<int>{400, 400}));
    const auto collapsed = parseStored(storedValue({QRectF(0, 0, 900, 400), false, true}, {QRectF(901, 0, 0, 400), true, false}));
    EXPECT_EQ(restoredSizes(collapsed, true, 1000, 1), (QList<int>{900, 0}));
    EXPECT_EQ(popoverTextWidth(1200), 350);
    EXPECT_EQ(popoverTextWidth(80), 80);
}
