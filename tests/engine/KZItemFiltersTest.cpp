#include "EngineTestSupport.h"

#include "engine/KZItemFilters.h"
#include "engine/KZItemReader.h"
#include "platform/FinderInfo.h"
#include "services/KZFilesUtilities.h"
#include "settings/KZSearchCriteria.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>

using namespace enginetest;

namespace {

constexpr quint32 code(const char (&s)[5])
{
    return (quint32(quint8(s[0])) << 24) | (quint32(quint8(s[1])) << 16) | (quint32(quint8(s[2])) << 8)
        | quint32(quint8(s[3]));
}

using Criteria = std::function<void(KZSearchCriteria&)>;

class KZItemFiltersTest : public ::testing::Test {
protected:
    bool passes(KZSearchItemInfo& item)
    {
        KZItemReader reader(criteria, {}, 0, nullptr, KZFilesUtilities::sharedControl());
        KZItemFilters filters(criteria, reader, KZFilesUtilities::sharedControl());
        return filters.checkForNotSameUniqueCriteria(item);
    }

    // An item that exists only as fields.
    static KZSearchItemInfoRef file(const std::string& name, quint32 type = 0, quint64 size = 1)
    {
        auto item = KZSearchItemInfo::create(fs::path("/nonexistent") / name);
        item->setOriginalName(QString::fromStdString(name));
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

Criteria name(void (KZSearchCriteria::*op)(bool), const char* wanted, bool noExtension = false)
{
    return [=](KZSearchCriteria& c) {
        (c.*op)(true);
        c.setName(str(wanted));
        c.setNoExtensionCompare(noExtension);
    };
}

Criteria kind(void (KZSearchCriteria::*which)(bool), bool is)
{
    return [=](KZSearchCriteria& c) {
        (c.*which)(true);
        is ? c.setIsKindIs(true) : c.setIsKindNot(true);
    };
}

Criteria sizeRange(bool between)
{
    return [=](KZSearchCriteria& c) {
        c.setIsTotalSize(true);
        between ? c.setIsSizeBetween(true) : c.setIsSizeNotBetween(true);
        c.setSizeValue(100);
        c.setSizeBetweenValue(200);
    };
}

void skipZero(KZSearchCriteria& c)
{
    c.setIsSkipData(true);
    c.setSkipDataValue(0);
}

void limitAtMost50(KZSearchCriteria& c)
{
    c.setIsSameSize(true);
    c.setIsLimitSize(true);
    c.setIsLimitSizeLessOrEqual(true);
    c.setLimitSizeValue(50);
}

// One criterion of a files search (the size and kind tests apply only there)
// against an item that exists only as fields.
struct FileCase {
    const char* label;
    Criteria set;
    std::string name;
    quint32 type;
    quint64 size;
    bool passes;
};

void PrintTo(const FileCase& c, std::ostream* os)
{
    *os << c.label << " (" << c.name << ", size " << c.size << ")";
}

std::vector<FileCase> fileCases()
{
    using C = KZSearchCriteria;
    return {
        {"NameContainsRefusesAnotherName", name(&C::setIsNameContains, "Report copy"), "Report.txt", 0, 1, false},
        {"NameContainsFindsIt", name(&C::setIsNameContains, "Report copy"), "Report copy.txt", 0, 1, true},
        {"NameContainsIgnoresCase", name(&C::setIsNameContains, "Report copy"), "REPORT COPY.txt", 0, 1, true},
        {"NameStartLongerThanTheName", name(&C::setIsNameStart, "Report copy of"), "Report", 0, 1, false},
        {"NameStartIgnoresCase", name(&C::setIsNameStart, "rep"), "Report.txt", 0, 1, true},
        {"NameEndIgnoresCase", name(&C::setIsNameEnd, "TXT"), "Report.txt", 0, 1, true},
        {"NameEndLongerThanTheName", name(&C::setIsNameEnd, "a longer text than the name"), "b.txt", 0, 1, false},
        {"NameIsIgnoresCase", name(&C::setIsNameIs, "report.TXT"), "Report.txt", 0, 1, true},
        {"NameIsNotIgnoresCase", name(&C::setNameIsNot, "report.TXT"), "Report.txt", 0, 1, false},
        {"NameDoesNotContainRefuses", name(&C::setNameDoesntContains, "copy"), "Report copy.txt", 0, 1, false},
        {"NameDoesNotContainPasses", name(&C::setNameDoesntContains, "copy"), "Report.txt", 0, 1, true},
        {"NameIsWithoutExtension", name(&C::setIsNameIs, "report", true), "Report.txt", 0, 1, true},
        // The criteria keep their text decomposed; a composed name matches.
        {"DecomposedTextMatchesAComposedName", name(&C::setIsNameContains, "Cafe\xcc\x81"), "Caf\xc3\xa9.txt", 0, 1,
         true},
        {"FontByExtension", kind(&C::setIsKindFont, true), "Font.ttf", 0, 1, true},
        {"NotFontRefusesAFont", kind(&C::setIsKindFont, false), "Font.ttf", 0, 1, false},
        {"FontByTypeCode", kind(&C::setIsKindFont, true), "Font.bin", code("FFIL"), 1, true},
        {"FontRefusesAPlainFile", kind(&C::setIsKindFont, true), "Plain", 0, 1, false},
        {"SoundByExtension", kind(&C::setIsKindSound, true), "tune.mp3", 0, 1, true},
        {"SoundExtensionMp3IsCaseSensitive", kind(&C::setIsKindSound, true), "tune.MP3", 0, 1, false},
        {"SoundExtensionAiffInCapitals", kind(&C::setIsKindSound, true), "tune.AIFF", 0, 1, true},
        {"SoundByTypeCode", kind(&C::setIsKindSound, true), "noext", code("WAVE"), 1, true},
        {"NotSoundRefusesASound", kind(&C::setIsKindSound, false), "tune.wav", 0, 1, false},
        {"DocumentByExtension", kind(&C::setIsKindDocument, true), "letter.txt", 0, 1, true},
        {"AnApplicationIsNoDocument", kind(&C::setIsKindDocument, true), "tool", code("APPL"), 1, false},
        {"NotDocumentPassesAnApplication", kind(&C::setIsKindDocument, false), "tool", code("APPL"), 1, true},
        {"SizeBetweenBelowTheRange", sizeRange(true), "f", 0, 99, false},
        {"SizeBetweenAtTheLowerBound", sizeRange(true), "f", 0, 100, true},
        {"SizeBetweenAtTheUpperBound", sizeRange(true), "f", 0, 200, true},
        {"SizeBetweenAboveTheRange", sizeRange(true), "f", 0, 201, false},
        {"SizeNotBetweenBelowTheRange", sizeRange(false), "f", 0, 99, true},
        {"SizeNotBetweenAtTheLowerBound", sizeRange(false), "f", 0, 100, false},
        {"SizeNotBetweenAtTheUpperBound", sizeRange(false), "f", 0, 200, false},
        {"SizeNotBetweenAboveTheRange", sizeRange(false), "f", 0, 201, true},
        {"SkipZeroBytesRefusesAnEmptyFile", skipZero, "f", 0, 0, false},
        {"SkipZeroBytesPassesOneByte", skipZero, "f", 0, 1, true},
        {"SizeLimitAtMostPassesTheLimit", limitAtMost50, "f", 0, 50, true},
        {"SizeLimitAtMostRefusesAboveIt", limitAtMost50, "f", 0, 51, false},
        {"VisibleRefusesADotFile", [](C& c) { c.setIsVisible(true); }, ".profile", 0, 1, false},
        {"VisiblePassesAPlainName", [](C& c) { c.setIsVisible(true); }, "profile", 0, 1, true},
        {"EmptyFilePassesZeroBytes", [](C& c) { c.setIsEmptyFile(true); }, "empty", 0, 0, true},
        {"EmptyFileRefusesContent", [](C& c) { c.setIsEmptyFile(true); }, "full", 0, 3, false},
        {"LockedRefusesAnUnlockedFile", [](C& c) { c.setIsLockedIs(true); }, "unlocked", 0, 1, false},
    };
}

class KZFileCriteriaTest : public KZItemFiltersTest, public ::testing::WithParamInterface<FileCase> {};

TEST_P(KZFileCriteriaTest, DecidesTheItem)
{
    const FileCase& c = GetParam();
    criteria.initializeCriteriaWithDict({});
    criteria.setExcludeFolder(true);
    c.set(criteria);
    EXPECT_EQ(passes(*file(c.name, c.type, c.size)), c.passes);
}

INSTANTIATE_TEST_SUITE_P(OneCriterion, KZFileCriteriaTest, ::testing::ValuesIn(fileCases()),
                         [](const ::testing::TestParamInfo<FileCase>& named) { return std::string(named.param.label); });

TEST_F(KZItemFiltersTest, LockedPassesALockedFile)
{
    criteria.initializeCriteriaWithDict({});
    criteria.setExcludeFolder(true);
    criteria.setIsLockedIs(true);
    auto locked = file("locked");
    locked->setIsLocked(true);
    EXPECT_TRUE(passes(*locked));
}

TEST_F(KZItemFiltersTest, TypeAndExtensionAreAlternatives)
{
    // A photo criterion limits the items to image types and extensions: the
    // one way the criteria get a type list.
    const QVariantMap photos{{str("isPixelsSize"), true},
                             {str("pixelsSizeStruct"), QVariantMap{{str("isSame"), true}}}};
    criteria.initializeCriteriaWithDict(photos);
    ASSERT_TRUE(criteria.isTypeIs() && criteria.isExtensionIs());
    ASSERT_FALSE(criteria.types().empty() || criteria.extensions().isEmpty());
    const quint32 x = criteria.types().front();
    const std::string y = criteria.extensions().front().toStdString();
    const quint32 w = code("WWWW");
    struct Case {
        std::string name;
        quint32 type;
        bool withExtensionFilter;
        bool passes;
    };
    const std::vector<Case> cases{
        {"file.zzz", x, true, true},   // type passes, extension fails
        {"file." + y, w, true, true},  // extension passes, type fails
        {"file.zzz", w, true, false},  // both fail
        {"noextension", x, true, false}, // "extension is" needs an extension
        {"file.zzz", x, false, true},
        {"file.zzz", w, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        criteria.initializeCriteriaWithDict(photos);
        criteria.setIsExtensionIs(c.withExtensionFilter);
        EXPECT_EQ(passes(*file(c.name, c.type)), c.passes);
    }
}

// What makes a folder empty is the reader's matter; the filter decides
// which folder is found and that only folders can be.
TEST_F(KZItemFiltersTest, EmptyAndNotEmptyFoldersAndTheFolderKind)
{
    dir.mkdir("nested/inner");
    dir.write("full/file", "x");
    criteria.initializeCriteriaWithDict({});
    criteria.setIsFolderEmpty(true);
    EXPECT_FALSE(passes(*readFolder(dir / "nested"))) << "a subfolder is content without nesting";
    EXPECT_FALSE(passes(*readFolder(dir / "full")));
    EXPECT_FALSE(passes(*file("not-a-folder")));

    criteria.setIsNestedEmptied(true);
    auto inner = readFolder(dir / "nested/inner");
    EXPECT_TRUE(passes(*inner));
    EXPECT_EQ(inner->url(), dir / "nested") << "the found item is the outermost empty folder";
    EXPECT_EQ(inner->originalName(), str("nested"));
    EXPECT_EQ(inner->label(), 3);

    criteria.initializeCriteriaWithDict({});
    criteria.setIsFolderNotEmpty(true);
    EXPECT_TRUE(passes(*readFolder(dir / "full")));

    // The folder kind applies to every search, files searches included.
    criteria.initializeCriteriaWithDict({});
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
    criteria.setIsCompareContent(true);
    const quint32 jpeg = platform::osTypeFromString(u"JPEG");
    struct Case {
        const char* what;
        const char* name;
        quint32 type;
        quint64 size;
        bool imageContent, expected;
    };
    const std::vector<Case> cases{
        {"a listed extension", "p.png", 0, 10, true, true},
        {"a bitmap", "p.bmp", 0, 10, true, true},
        {"a listed type code without an extension", "p", jpeg, 10, true, true},
        {"an empty image is no image-content item", "p.png", 0, 0, true, false},
        {"an empty image with its type code neither", "p", jpeg, 0, true, false},
        {"extensions are compared exactly", "p.PNG", 0, 10, true, false},
        {"a format whose pixels are not compared", "p.psd", 0, 10, true, false},
        {"without the image criterion", "p.png", 0, 10, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        criteria.setIsImageContent(c.imageContent);
        auto picture = file("p", c.type, c.size);
        picture->setOriginalName(str(c.name));
        filters.isImageContent(*picture);
        EXPECT_EQ(picture->isImageContent(), c.expected);
    }
}

TEST_F(KZItemFiltersTest, FinderFlagsAreJudgedAsTheScanReadThem)
{
    // The flags are read once, with the alias flag, when the item is read,
    // for files and folders alike: a record that changes afterwards changes
    // no verdict, and no filter goes back to the file.
    const fs::path file = dir.write("flagged.txt", "bytes");
    const fs::path folder = dir.mkdir("flagged folder");
    platform::FinderInfo info;
    info.setFlags(platform::FinderInfo::kHasCustomIcon | platform::FinderInfo::kIsInvisible);
    info.setLabelColor(3);
    QString error;
    if (!platform::writeFinderInfo(file, info, &error) || !platform::writeFinderInfo(folder, info, &error))
        GTEST_SKIP() << "no extended attributes here: " << error.toStdString();
    KZItemReader reader(criteria, {}, 0, nullptr, KZFilesUtilities::sharedControl());
    std::vector<KZSearchItemInfoRef> items;
    for (const fs::path& path : {file, folder}) {
        auto item = KZSearchItemInfo::create(path);
        ASSERT_TRUE(reader.setCurrVariables(*item, -1));
        item->setOriginalNameFromLocation();
        ASSERT_TRUE(platform::writeFinderInfo(path, platform::FinderInfo{}, &error));
        items.push_back(std::move(item));
    }
    // An item that was never read has no flags: no label, no icon, visible.
    auto unread = KZSearchItemInfo::create(file);
    unread->setOriginalNameFromLocation();

    struct Case {
        const char* name;
        Criteria set;
        bool passes;
    };
    const std::vector<Case> cases{
        {"label 3", [](KZSearchCriteria& c) { c.setIsLabelIs(true); c.setWhichLabel(3); }, true},
        {"label not 3", [](KZSearchCriteria& c) { c.setIsLabelNot(true); c.setWhichLabel(3); }, false},
        {"custom icon", [](KZSearchCriteria& c) { c.setIsHasCustomIcon(true); }, true},
        {"no custom icon", [](KZSearchCriteria& c) { c.setIsHasCustomIconNot(true); }, false},
        {"invisible only", [](KZSearchCriteria& c) { c.setIsInvisible(true); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KZSearchCriteria local;
        c.set(local);
        KZItemReader localReader(local, {}, 0, nullptr, KZFilesUtilities::sharedControl());
        const KZItemFilters filters(local, localReader, KZFilesUtilities::sharedControl());
        for (const KZSearchItemInfoRef& item : items)
            EXPECT_EQ(filters.checkForNotSameUniqueCriteria(*item), c.passes) << item->urlBytes();
        EXPECT_EQ(filters.checkForNotSameUniqueCriteria(*unread), std::string(c.name) == "no custom icon");
    }
}

} // namespace
