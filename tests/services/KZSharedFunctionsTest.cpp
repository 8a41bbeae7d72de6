#include "services/KZExtensionFunctions.h"
#include "services/KZSharedFunctions.h"

#include <QVariantMap>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

TEST(KZSharedFunctions, SizeFittingMaxWidth)
{
    struct Row { double w, h, max; QSizeF expected; };
    const Row rows[] = {
        {400, 300, 200, {400, 150}}, // scaled to the maximum width; callers read the height
        {100, 300, 200, {100, 300}}, // narrower: unchanged
        {200, 300, 200, {200, 300}}, // exactly the maximum: unchanged
        {0, 300, 200, {0, 0}},
        {400, -1, 200, {0, 0}},
        {-5, 10, 200, {0, 0}},
    };
    for (const Row& r : rows)
        EXPECT_EQ(KZSizeFittingMaxWidth(r.w, r.h, r.max), r.expected) << r.w << "x" << r.h << " max " << r.max;
}

TEST(KZSharedFunctions, ContrastingTextWhite)
{
    struct Row { bool black; double r, g, b; double expected; };
    const Row rows[] = {
        {true, 1, 1, 1, 0.0}, {false, 1, 1, 1, 0.15}, // white background: dark text
        {true, 0, 0, 0, 1.0}, {false, 0, 0, 0, 1.0},  // black background: white text
        {true, 0.5, 0.5, 0.5, 1.0},                   // luminance 0.5 exactly counts as dark
        {false, 1, 1, 0, 0.15},                       // yellow: 0.886
        {true, 0, 0, 1, 1.0},                         // blue: 0.114
        {true, 0.552, 0.835, 0.882, 0.0},             // the accent teal is light
    };
    for (const Row& r : rows)
        EXPECT_DOUBLE_EQ(KZContrastingTextWhite(r.black, r.r, r.g, r.b), r.expected) << r.r << "," << r.g << "," << r.b;
}

TEST(KZSharedFunctions, TreeFindValueForKey)
{
    qint16 label = 77;
    EXPECT_FALSE(KZTreeFindValueForKey(5, nullptr, &label));
    EXPECT_EQ(label, 77);

    // Keys compare unsigned: the top-bit key belongs to the right.
    IdsTree high{~quint64(0) - 1, nullptr, nullptr, -3};
    IdsTree low{2, nullptr, nullptr, 9};
    IdsTree root{1000, &low, &high, 4};
    const std::pair<quint64, std::optional<qint16>> lookups[] = {
        {1000, 4}, {2, 9}, {~quint64(0) - 1, -3}, {3, std::nullopt}, {~quint64(0), std::nullopt}, {0, std::nullopt},
    };
    for (const auto& [key, expected] : lookups) {
        label = 77;
        EXPECT_EQ(KZTreeFindValueForKey(key, &root, &label), expected.has_value()) << key;
        EXPECT_EQ(label, expected.value_or(77)) << key;
    }

    // A tree of sorted keys is a list; the look-up must not recurse down it.
    std::vector<IdsTree> chain(200000);
    for (size_t i = 0; i < chain.size(); ++i) {
        chain[i].key = i;
        chain[i].label = qint16(i % 1000);
        chain[i].right = i + 1 < chain.size() ? &chain[i + 1] : nullptr;
    }
    EXPECT_TRUE(KZTreeFindValueForKey(199999, &chain[0], &label));
    EXPECT_EQ(label, 999);
}

TEST(KZSharedFunctions, CompareURLPathsIgnoresCase)
{
    const QUrl a = QUrl::fromLocalFile(QStringLiteral("/Users/Ann/Photo.JPG"));
    const QUrl b = QUrl::fromLocalFile(QStringLiteral("/users/ann/photo.jpg"));
    const QUrl c = QUrl::fromLocalFile(QStringLiteral("/users/ann/photo2.jpg"));
    EXPECT_EQ(KZCompareURLPaths(a, b), 0);
    EXPECT_EQ(KZCompareURLPaths(b, c), -1);
    EXPECT_EQ(KZCompareURLPaths(c, a), 1);
    EXPECT_EQ(KZCompareURLPaths(std::filesystem::path("/A/b"), std::filesystem::path("/a/B")), 0);
}

TEST(KZSharedFunctions, AppRunningAnswersTheInstalledWatcher)
{
    EXPECT_FALSE(KZIsAppRunning(QStringLiteral("com.apple.iTunes")));
    KZSetAppRunningProvider([](const QString& id) { return id == QLatin1String("org.example.Running"); });
    EXPECT_TRUE(KZIsAppRunning(QStringLiteral("org.example.Running")));
    EXPECT_FALSE(KZIsAppRunning(QStringLiteral("com.apple.iTunes")));
    EXPECT_FALSE(KZIsAppRunning(QString()));
    KZSetAppRunningProvider({});
    EXPECT_FALSE(KZIsAppRunning(QStringLiteral("org.example.Running")));
}

TEST(KZSharedFunctions, DegreesToRadians)
{
    EXPECT_DOUBLE_EQ(KZDegreesToRadians(180), M_PI);
    EXPECT_DOUBLE_EQ(KZDegreesToRadians(-90), -M_PI / 2);
    EXPECT_DOUBLE_EQ(KZDegreesToRadians(450), 2.5 * M_PI);
}

TEST(KZExtensionFunctions, ValidEmail)
{
    const std::pair<const char*, bool> rows[] = {
        {"ann@example.com", true},
        {"ann@mail.example.co", true},      // two letters after the last dot
        {"a b c!#@example-1.museum", true}, // anything goes before the "@"
        {"ann@@example.com", true},         // ".+" takes the first "@"
        {"ann@example.c", false},           // one letter after the last dot
        {"ann@example", false},             // no dot after the "@"
        {"@example.com", false},            // nothing before the "@"
        {"ann@exa_mple.com", false},        // "_" is not a label character
        {"ann@example.com2", false},        // the last label is letters only
        {"ann@example..com", false},        // an empty label
        {"ann@example.com ", false},        // the whole string must match
        {"ann\n@example.com", false},       // no line breaks before the "@"
        {"", false},
    };
    for (const auto& [address, valid] : rows)
        EXPECT_EQ(isValidEmail(QString::fromUtf8(address)), valid) << address;
}

TEST(KZExtensionFunctions, IndexOfFileTypeTag)
{
    auto label = [](const QVariant& tag) { return QVariantMap{{QStringLiteral("file_type_tag"), tag}}; };
    const QVariantList labels{label(qint64(3)), QVariantMap{}, label(QStringLiteral("100000000001")),
                              label(qint64(100000000004)), label(qint64(3))};
    EXPECT_EQ(indexOfItemInFILETYPETAGArray(labels, 3), 0);
    EXPECT_EQ(indexOfItemInFILETYPETAGArray(labels, 100000000004), 3);
    EXPECT_EQ(indexOfItemInFILETYPETAGArray(labels, 100000000001), 2); // a number stored as text
    EXPECT_EQ(indexOfItemInFILETYPETAGArray(labels, 0), -1);            // a missing tag is not 0
    EXPECT_EQ(indexOfItemInFILETYPETAGArray({}, 3), -1);
}

TEST(KZExtensionFunctions, SplitViewPaneStrings)
{
    const KZSplitViewPaneSetting written{0, 0, 250, 400, true, false};
    EXPECT_EQ(written.toString(), QStringLiteral("0.000000, 0.000000, 250.000000, 400.000000, YES, NO"));
    const auto read = KZSplitViewPaneSetting::fromString(written.toString());
    ASSERT_TRUE(read);
    EXPECT_EQ(read->width, 250);
    EXPECT_EQ(read->height, 400);
    EXPECT_TRUE(read->collapsed);
    EXPECT_FALSE(read->otherCollapsed);

    // Five fields are enough; field 5 is optional.
    EXPECT_TRUE(KZSplitViewPaneSetting::fromString(QStringLiteral("1, 2, 3, 4, NO")));

    const char* malformed[] = {
        "",
        "250",
        "0.0, 0.0, 250.0, 400.0",              // four fields
        "0.0,0.0,250.0,400.0,YES,NO",          // not our separator
        "0.0, 0.0, wide, 400.0, YES, NO",      // not a number
        "0.0, 0.0, 250.0, nan, YES, NO",
        "0.0, 0.0, inf, 400.0, YES, NO",
        "0.0, 0.0, -250.0, 400.0, NO, NO",     // a negative size
        "x, 0.0, 250.0, 400.0, NO, NO",
    };
    for (const char* s : malformed)
        EXPECT_FALSE(KZSplitViewPaneSetting::fromString(QString::fromUtf8(s))) << s;
}

TEST(KZExtensionFunctions, StringBoolValue)
{
    const std::pair<const char*, bool> rows[] = {
        {"YES", true}, {"yes", true}, {"true", true}, {"T", true}, {"1", true}, {"  9", true}, {"+0007", true},
        {"NO", false}, {"no", false}, {"0", false}, {"-000", false}, {"", false}, {"maybe", false}, {"0x1", false},
    };
    for (const auto& [text, value] : rows)
        EXPECT_EQ(KZStringBoolValue(QString::fromUtf8(text)), value) << text;
}

} // namespace
