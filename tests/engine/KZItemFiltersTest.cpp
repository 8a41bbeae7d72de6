#include "engine/KZItemFilters.h"
#include "engine/KZItemReader.h"
#include "platform/FinderInfo.h"
#include "services/KZFilesUtilities.h"
#include "settings/KZSearchCriteria.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr quint32 code(const char (&s)[5])
{
    return (quint32(quint8(s[0])) << 24) | (quint32(quint8(s[1])) << 16) | (quint32(quint8(s[2])) << 8)
        | quint32(quint8(s[3]));
}

QString str(const char* text)
{
    return QString::fromUtf8(text);
}

class KZItemFiltersTest : public ::testing::Test {
protected:
    // A files search unless told otherwise: the size and kind tests apply
    // only there.
    KZItemFiltersTest() { criteria.setExcludeFolder(true); }

    bool passes(KZSearchItemInfo& item)
    {
        KZItemReader reader(criteria, {}, 0, nullptr, KZFilesUtilities::sharedControl());
        KZItemFilters filters(criteria, reader, KZFilesUtilities::sharedControl());
        return filters.checkForNotSameUniqueCriteria(item);
    }

    // An item that exists only as fields.
    static KZSearchItemInfoRef file(const char* name, quint32 type = 0, quint64 size = 1)
    {
        auto item = KZSearchItemInfo::create(fs::path("/nonexistent") / name);
        item->setOriginalName(str(name));
        item->setType(type);
        item->setTotSize(size);
        return item;
    }

    KZSearchItemInfoRef readFolder(const fs::path& path)
    {
        KZItemReader reader(criteria, {}, 0, nullptr, KZFilesUtilities::sharedControl());
        auto item = KZSearchItemInfo::create(path);
        EXPECT_TRUE(reader.setCurrVariables(*item, 3));
        item->setOriginalName(QString::fromStdString(path.filename().native()));
        return item;
    }

    KZSearchCriteria criteria;
    kztest::TempDir dir;
};

TEST_F(KZItemFiltersTest, NameOperators)
{
    struct Case {
        std::function<void(KZSearchCriteria&)> set;
        const char* wanted;
        const char* name;
        bool passes;
    };
    const std::vector<Case> cases{
        {[](auto& c) { c.setIsNameContains(true); }, "Report copy", "Report.txt", false},
        {[](auto& c) { c.setIsNameContains(true); }, "Report copy", "Report copy.txt", true},
        {[](auto& c) { c.setIsNameContains(true); }, "Report copy", "REPORT COPY.txt", true},
        {[](auto& c) { c.setIsNameStart(true); }, "Report copy of", "Report", false},
        {[](auto& c) { c.setIsNameStart(true); }, "rep", "Report.txt", true},
        {[](auto& c) { c.setIsNameEnd(true); }, "TXT", "Report.txt", true},
        {[](auto& c) { c.setIsNameEnd(true); }, "a longer text than the name", "b.txt", false},
        {[](auto& c) { c.setIsNameIs(true); }, "report.TXT", "Report.txt", true},
        {[](auto& c) { c.setNameIsNot(true); }, "report.TXT", "Report.txt", false},
        {[](auto& c) { c.setNameDoesntContains(true); }, "copy", "Report copy.txt", false},
        {[](auto& c) { c.setNameDoesntContains(true); }, "copy", "Report.txt", true},
        {[](auto& c) {
             c.setIsNameIs(true);
             c.setNoExtensionCompare(true);
         },
         "report", "Report.txt", true},
        // The criteria keep their text decomposed; a composed name matches.
        {[](auto& c) { c.setIsNameContains(true); }, "Cafe\xcc\x81", "Caf\xc3\xa9.txt", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.wanted) + " / " + c.name);
        criteria.initializeCriteriaWithDict({});
        criteria.setExcludeFolder(true);
        c.set(criteria);
        criteria.setName(str(c.wanted));
        auto item = file(c.name);
        EXPECT_EQ(passes(*item), c.passes);
    }
}

TEST_F(KZItemFiltersTest, KindTests)
{
    struct Case {
        std::function<void(KZSearchCriteria&)> set;
        bool is;
        const char* name;
        quint32 type;
        bool passes;
    };
    const auto font = [](KZSearchCriteria& c) { c.setIsKindFont(true); };
    const auto sound = [](KZSearchCriteria& c) { c.setIsKindSound(true); };
    const auto document = [](KZSearchCriteria& c) { c.setIsKindDocument(true); };
    const std::vector<Case> cases{
        {font, true, "Font.ttf", 0, true},
        {font, false, "Font.ttf", 0, false},
        {font, true, "Font.bin", code("FFIL"), true},
        {font, true, "Plain", 0, false},
        {sound, true, "tune.mp3", 0, true},
        {sound, true, "tune.MP3", 0, false},
        {sound, true, "tune.AIFF", 0, true},
        {sound, true, "noext", code("WAVE"), true},
        {sound, false, "tune.wav", 0, false},
        {document, true, "letter.txt", 0, true},
        {document, true, "tool", code("APPL"), false},
        {document, false, "tool", code("APPL"), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        criteria.initializeCriteriaWithDict({});
        criteria.setExcludeFolder(true);
        c.set(criteria);
        (c.is ? criteria.setIsKindIs(true) : criteria.setIsKindNot(true));
        auto item = file(c.name, c.type);
        EXPECT_EQ(passes(*item), c.passes);
    }
}

TEST_F(KZItemFiltersTest, TypeAndExtensionAreAlternatives)
{
    // A photo criterion limits the items to image types and extensions: the
    // one way the criteria get a type list.
    const QVariantMap photos{{str("isPixelsSize"), true},
                             {str("pixelsSizeStruct"), QVariantMap{{str("isSame"), true}}}};
    criteria.initializeCriteriaWithDict(photos);
    ASSERT_TRUE(criteria.isTypeIs());
    ASSERT_TRUE(criteria.isExtensionIs());
    ASSERT_FALSE(criteria.types().empty());
    ASSERT_FALSE(criteria.extensions().isEmpty());
    const quint32 x = criteria.types().front();
    const QByteArray y = criteria.extensions().front().toUtf8();
    const quint32 w = code("WWWW");

    struct Case {
        std::string name;
        quint32 type;
        bool withExtensionFilter;
        bool passes;
    };
    const std::vector<Case> cases{
        {"file.zzz", x, true, true},          // type passes, extension fails
        {"file." + y.toStdString(), w, true, true}, // extension passes, type fails
        {"file.zzz", w, true, false},         // both fail
        {"noextension", x, true, false},      // "extension is" needs an extension
        {"file.zzz", x, false, true},
        {"file.zzz", w, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        criteria.initializeCriteriaWithDict(photos);
        criteria.setIsExtensionIs(c.withExtensionFilter);
        auto item = file("x", c.type);
        item->setOriginalName(QString::fromStdString(c.name));
        EXPECT_EQ(passes(*item), c.passes);
    }
}

TEST_F(KZItemFiltersTest, SizeTests)
{
    struct Case {
        std::function<void(KZSearchCriteria&)> set;
        quint64 size;
        bool passes;
    };
    const auto between = [](KZSearchCriteria& c) {
        c.setIsTotalSize(true);
        c.setIsSizeBetween(true);
        c.setSizeValue(100);
        c.setSizeBetweenValue(200);
    };
    const auto notBetween = [](KZSearchCriteria& c) {
        c.setIsTotalSize(true);
        c.setIsSizeNotBetween(true);
        c.setSizeValue(100);
        c.setSizeBetweenValue(200);
    };
    const auto skipZero = [](KZSearchCriteria& c) {
        c.setIsSkipData(true);
        c.setSkipDataValue(0);
    };
    const auto limitAtMost = [](KZSearchCriteria& c) {
        c.setIsSameSize(true);
        c.setIsLimitSize(true);
        c.setIsLimitSizeLessOrEqual(true);
        c.setLimitSizeValue(50);
    };
    const std::vector<Case> cases{
        {between, 99, false},     {between, 100, true},  {between, 200, true},   {between, 201, false},
        {notBetween, 99, true},   {notBetween, 100, false}, {notBetween, 200, false}, {notBetween, 201, true},
        {skipZero, 0, false},     {skipZero, 1, true},   {limitAtMost, 50, true}, {limitAtMost, 51, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        criteria.initializeCriteriaWithDict({});
        criteria.setExcludeFolder(true);
        c.set(criteria);
        auto item = file("f.bin", 0, c.size);
        EXPECT_EQ(passes(*item), c.passes);
    }
}

TEST_F(KZItemFiltersTest, LockedVisibilityAndEmptyFiles)
{
    criteria.setIsLockedIs(true);
    auto item = file("a");
    EXPECT_FALSE(passes(*item));
    item->setIsLocked(true);
    EXPECT_TRUE(passes(*item));

    criteria.initializeCriteriaWithDict({});
    criteria.setExcludeFolder(true);
    criteria.setIsVisible(true);
    EXPECT_FALSE(passes(*file(".profile")));
    EXPECT_TRUE(passes(*file("profile")));

    criteria.initializeCriteriaWithDict({});
    criteria.setExcludeFolder(true);
    criteria.setIsEmptyFile(true);
    EXPECT_TRUE(passes(*file("empty", 0, 0)));
    EXPECT_FALSE(passes(*file("full", 0, 3)));
}

TEST_F(KZItemFiltersTest, EmptyFolders)
{
    dir.write("dots/.DS_Store", "x");
    const fs::path icon = dir.write("dots/Icon\r", "");
    platform::FinderInfo invisible;
    invisible.setFlags(0x4000);
    const bool flagged = platform::writeFinderInfo(icon, invisible);
    dir.mkdir("nested/inner");
    dir.write("full/file", "x");

    criteria.initializeCriteriaWithDict({});
    criteria.setIsFolderEmpty(true);
    if (flagged) {
        auto dots = readFolder(dir / "dots");
        EXPECT_TRUE(passes(*dots)) << "dot files and a hidden icon file leave a folder empty";
        criteria.setIsExcludeEFCustIcon(true);
        EXPECT_FALSE(passes(*dots)) << "unless custom icons count as content";
        criteria.setIsExcludeEFCustIcon(false);
    }
    EXPECT_FALSE(passes(*readFolder(dir / "nested"))) << "a subfolder is content without nesting";
    EXPECT_FALSE(passes(*readFolder(dir / "full")));
    EXPECT_FALSE(passes(*file("not-a-folder"))) << "only folders are empty or not";

    criteria.setIsNestedEmptied(true);
    auto inner = readFolder(dir / "nested/inner");
    EXPECT_TRUE(passes(*inner));
    EXPECT_EQ(inner->url(), dir / "nested") << "the found item is the outermost empty folder";
    EXPECT_EQ(inner->originalName(), str("nested"));
    EXPECT_EQ(inner->label(), 3);

    criteria.setIsNestedEmptied(false);
    criteria.setIsFolderEmpty(false);
    criteria.setIsFolderNotEmpty(true);
    EXPECT_TRUE(passes(*readFolder(dir / "full")));
}

TEST_F(KZItemFiltersTest, FolderKindAppliesToEverySearch)
{
    criteria.setExcludeFolder(false);
    criteria.setIsKindFolder(true);
    criteria.setIsKindIs(true);
    EXPECT_TRUE(passes(*readFolder(dir.mkdir("plain"))));
    EXPECT_FALSE(passes(*file("a.txt")));
    criteria.setIsKindIs(false);
    criteria.setIsKindNot(true);
    EXPECT_FALSE(passes(*readFolder(dir / "plain")));
}

TEST_F(KZItemFiltersTest, ImageContentNeedsAnExactFormatAndBytes)
{
    KZItemReader reader(criteria, {}, 0, nullptr, KZFilesUtilities::sharedControl());
    KZItemFilters filters(criteria, reader, KZFilesUtilities::sharedControl());
    ASSERT_FALSE(filters.extensionsForCheckContent().isEmpty());
    const QString listed = filters.extensionsForCheckContent().first();
    const QString upper = listed.toUpper();

    criteria.setIsCompareContent(true);
    criteria.setIsImageContent(true);
    auto picture = file("p", 0, 10);
    picture->setOriginalName(str("p.") + listed);
    filters.isImageContent(*picture);
    EXPECT_TRUE(picture->isImageContent());

    picture->setTotSize(0);
    filters.isImageContent(*picture);
    EXPECT_FALSE(picture->isImageContent()) << "an empty image is no image-content item";

    if (upper != listed && !filters.extensionsForCheckContent().contains(upper)) {
        picture->setTotSize(10);
        picture->setOriginalName(str("p.") + upper);
        filters.isImageContent(*picture);
        EXPECT_FALSE(picture->isImageContent()) << "extensions are compared exactly";
    }

    criteria.setIsImageContent(false);
    picture->setOriginalName(str("p.") + listed);
    picture->setTotSize(10);
    filters.isImageContent(*picture);
    EXPECT_FALSE(picture->isImageContent());
}

} // namespace
