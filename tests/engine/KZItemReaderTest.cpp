#include "engine/KZItemReader.h"
#include "engine/KZProgressControl.h"
#include "platform/FinderInfo.h"
#include "services/KZFilesUtilities.h"
#include "settings/KZSearchCriteria.h"

#include "support/TestSupport.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class KZItemReaderTest : public ::testing::Test {
protected:
    KZItemReader reader(const std::vector<fs::path>& global = {}, quint64 count = 0) const
    {
        return KZItemReader(criteria, global, count, nullptr, KZFilesUtilities::sharedControl());
    }

    KZSearchItemInfoRef read(const fs::path& path, bool* answer, qint16 label = 4) const
    {
        auto info = KZSearchItemInfo::create(path);
        *answer = reader().setCurrVariables(*info, label);
        return info;
    }

    bool writeFinderInfo(const fs::path& path, quint32 type, quint16 flags = 0)
    {
        platform::FinderInfo info;
        info.setFileType(type);
        info.setFlags(flags);
        return platform::writeFinderInfo(path, info);
    }

    KZSearchCriteria criteria;
    kztest::TempDir dir;
};

TEST_F(KZItemReaderTest, FileGetsSizeTypeLabelAndIdentity)
{
    const fs::path file = dir.write("a.txt", "12345");
    const bool typed = writeFinderInfo(file, 0x54455854);
    bool answer = false;
    auto info = read(file, &answer, 2);
    EXPECT_TRUE(answer);
    EXPECT_EQ(info->totSize(), 5u);
    EXPECT_EQ(info->label(), 2);
    EXPECT_FALSE(info->isDirectory());
    EXPECT_FALSE(info->isAlias());
    EXPECT_EQ(info->multiPurposeInfo(), 0u);
    EXPECT_TRUE(info->hasIdentity());
    const auto st = platform::statPath(file, false);
    EXPECT_EQ(info->inode(), st->inode);
    EXPECT_EQ(info->device(), quint64(st->device));
    EXPECT_EQ(info->modificationTime().tv_sec, st->modified.tv_sec);
    if (typed) {
        EXPECT_EQ(info->type(), 0x54455854u);
    }
}

TEST_F(KZItemReaderTest, SymbolicLinkIsAnAliasAndNeverFollowed)
{
    dir.write("folder/inside.txt", "x");
    fs::create_symlink(dir / "folder", dir / "link");
    bool answer = false;
    auto info = read(dir / "link", &answer);
    EXPECT_TRUE(answer);
    EXPECT_TRUE(info->isAlias());
    EXPECT_FALSE(info->isDirectory());
    EXPECT_EQ(info->totSize(), (dir / "folder").native().size()) << "the link's own size";
}

TEST_F(KZItemReaderTest, VanishedItemIsRejected)
{
    bool answer = true;
    read(dir / "gone", &answer);
    EXPECT_FALSE(answer);
}

struct FolderCase {
    const char* name;
    bool compareByContent; // F
    bool onlyContent;      // O
    bool measured;
};

class KZItemReaderFolderRuleTest : public KZItemReaderTest, public ::testing::WithParamInterface<FolderCase> {};

// Folders are measured while listed only where the filters cannot wait:
// packages unless compared by content alongside other criteria, plain
// folders only when compared by content alone.
TEST_P(KZItemReaderFolderRuleTest, MeasuresAccordingToTheContentCriteria)
{
    const FolderCase& c = GetParam();
    dir.write(std::string(c.name) + "/one", "123");
    dir.write(std::string(c.name) + "/sub/two", "4567");
    criteria.setIsSameSize(true);
    criteria.setIsFolderCompareContent(c.compareByContent);
    criteria.setIsOnlyContent(c.onlyContent);
    bool answer = false;
    auto info = read(dir / c.name, &answer);
    EXPECT_TRUE(answer);
    EXPECT_TRUE(info->isDirectory());
    if (c.measured) {
        EXPECT_EQ(info->totSize(), 7u);
        EXPECT_EQ(info->multiPurposeInfo(), 3u) << "two files and one folder";
    } else {
        EXPECT_EQ(info->totSize(), 0u);
        EXPECT_EQ(info->multiPurposeInfo(), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Rules, KZItemReaderFolderRuleTest,
                         ::testing::Values(FolderCase{"Doc.rtfd", false, true, true},
                                           FolderCase{"Doc.rtfd", true, false, false},
                                           FolderCase{"Doc.rtfd", true, true, true},
                                           FolderCase{"Doc.rtfd", false, false, true},
                                           FolderCase{"Plain", true, true, true},
                                           FolderCase{"Plain", true, false, false},
                                           FolderCase{"Plain", false, true, false},
                                           FolderCase{"Plain", false, false, false}));

TEST_F(KZItemReaderTest, ApplicationIsAskedOnlyForTheApplicationKind)
{
    dir.write("Tool.app/Contents/x", "1");
    dir.write("Doc.rtfd/x", "1");
    bool answer = false;
    EXPECT_FALSE(read(dir / "Tool.app", &answer)->isApplication());
    criteria.setIsKindApplication(true);
    EXPECT_TRUE(read(dir / "Tool.app", &answer)->isApplication());
    EXPECT_TRUE(read(dir / "Tool.app", &answer)->isPackage());
    EXPECT_FALSE(read(dir / "Doc.rtfd", &answer)->isApplication());
}

TEST_F(KZItemReaderTest, PackageIsNeverASongCandidate)
{
    dir.write("Album.bundle/track.mp3", "1");
    criteria.setIsSongTags(true);
    bool answer = true;
    read(dir / "Album.bundle", &answer);
    EXPECT_FALSE(answer);
}

TEST_F(KZItemReaderTest, EmptyPackageIsRejectedWhenEmptyItemsAreSkipped)
{
    dir.mkdir("Empty.app");
    dir.write("Full.app/Contents/bin", "1");
    criteria.setIsCompareContent(true);
    criteria.setIsSkipData(true);
    criteria.setSkipDataValue(0);
    bool answer = true;
    read(dir / "Empty.app", &answer);
    EXPECT_FALSE(answer);
    read(dir / "Full.app", &answer);
    EXPECT_TRUE(answer);

    criteria.setSkipDataValue(1); // skipping sizes up to 1 byte says nothing about emptiness here
    read(dir / "Empty.app", &answer);
    EXPECT_TRUE(answer);
}

TEST_F(KZItemReaderTest, FolderTypeIsZeroUnlessTypeOrKindIsTested)
{
    const fs::path package = dir.mkdir("Thing.bundle");
    if (!writeFinderInfo(package, 0x424E444C)) // 'BNDL'
        GTEST_SKIP() << "no user extended attributes here";
    auto info = KZSearchItemInfo::create(package);
    info->setIsDirectory(true);
    info->setIsPackage(true);
    info->setType(0x11111111);
    EXPECT_TRUE(reader().setCurrPackagesVariables(*info));
    EXPECT_EQ(info->type(), 0u);
    criteria.setIsTypeIs(true);
    EXPECT_TRUE(reader().setCurrPackagesVariables(*info));
    EXPECT_EQ(info->type(), 0x424E444Cu);
}

// Records what the engine asks of the progress window; the stop answer is
// set by the test.
class RecordingProgress : public KZProgressControl {
public:
    bool wasStopped() const override
    {
        ++stopQuestions;
        return stopped;
    }
    void prepareToSearch(const QVariantMap&) override {}
    void prepareToSearchForFoldersContent() override {}
    void allowsShowResult() override {}
    void setFoundSize(quint64) override {}
    void setFoundCount(quint64) override {}
    void setCheckedCount(quint64) override {}
    void setItemsToCheckCount(quint64) override {}
    void setFoundItemFileType(const KZSearchItemInfo&) override {}
    void setMainInfoTitle(const QString&) override {}
    void setIsSearching(bool) override {}
    void showDeterminateProgress() override {}
    void showFolderView(bool) override {}
    void initializeFoldersProgressWithTotValue(quint64) override {}
    void setFolderSizeValue(quint64) override {}
    void addCurrFoldersValue(quint64) override {}

    bool stopped = false;
    mutable int stopQuestions = 0;
};

TEST_F(KZItemReaderTest, PackageMeasurementHeedsAStop)
{
    dir.write("Big.bundle/a", "123");
    dir.write("Big.bundle/b", "456");
    criteria.setIsSameSize(true);
    RecordingProgress progress;
    auto measure = [&] {
        const KZItemReader r(criteria, {}, 0, &progress, KZFilesUtilities::sharedControl());
        auto info = KZSearchItemInfo::create(dir / "Big.bundle");
        EXPECT_TRUE(r.setCurrVariables(*info, 0));
        return info->totSize();
    };
    EXPECT_EQ(measure(), 6u);
    EXPECT_GT(progress.stopQuestions, 0);
    progress.stopped = true;
    EXPECT_EQ(measure(), 0u) << "a stopped search measures nothing more";
}

TEST_F(KZItemReaderTest, PlainFolderIsNotMeasuredWithoutContentOrSizeComparison)
{
    dir.write("Plain/file", "12345");
    auto info = KZSearchItemInfo::create(dir / "Plain");
    info->setIsDirectory(true);
    criteria.setIsEmptyFile(true); // would measure a package, not a plain folder
    EXPECT_TRUE(reader().setCurrPackagesVariables(*info));
    EXPECT_EQ(info->totSize(), 0u);
}

// ---- Exclusions ---------------------------------------------------------------------------

TEST_F(KZItemReaderTest, IsExcludedConsultsOnlyTheCountedEntries)
{
    const std::vector<fs::path> global = {"/data/A", "/data/B", "/data/C"};
    const KZItemReader r = reader(global, 2);
    const KZExcludedInfo own({"/src/D", "/src/E"});
    KZExcludedInfo ownFirstOnly({"/src/D", "/src/E"});
    ownFirstOnly.setCount(1);
    KZExcludedInfo overCounted({"/src/D"});
    overCounted.setCount(5);

    struct Case {
        const char* path;
        const KZExcludedInfo* record;
        bool excluded;
    } cases[] = {
        {"/data/A", nullptr, true},
        {"/data/B", nullptr, true},
        {"/data/C", nullptr, false}, // beyond exclLocsCount
        {"/data/A/inside", nullptr, false}, // below an excluded folder: never listed, not matched here
        {"/src/D", nullptr, false},
        {"/src/D", &own, true},
        {"/src/E", &own, true},
        {"/src/E", &ownFirstOnly, false},
        {"/src/D", &ownFirstOnly, true},
        {"/src/D", &overCounted, true},
        {"/src/X", &overCounted, false},
        {"/data/B", &own, true}, // the request's entries hold with a record too
    };
    for (const Case& c : cases)
        EXPECT_EQ(r.isExcluded(c.path, c.record), c.excluded) << c.path;
}

TEST_F(KZItemReaderTest, IsExcludedNormalisesSpellingsAndVolumes)
{
    const KZItemReader r = reader({"/data/A/", "/Volumes/Backup/Photos"}, 2);
    const KZExcludedInfo own({"/src/./D"});
    for (const char* path : {"/data/A", "/data//A", "/data/./A/", "/data/x/../A", "/Volumes/Backup/Photos", "/Backup/Photos"})
        EXPECT_TRUE(r.isExcluded(path, nullptr)) << path;
    EXPECT_TRUE(r.isExcluded("/src/D", &own));
    EXPECT_FALSE(r.isExcluded("/Volumes/x/src/D", &own));
    EXPECT_FALSE(r.isExcluded("/data/a", nullptr)) << "names are bytes: case counts";
    EXPECT_FALSE(reader().isExcluded("/data/A", nullptr));
}

TEST_F(KZItemReaderTest, ExtensionIsSameIsExact)
{
    criteria.setExtensions({QStringLiteral("jpg"), QStringLiteral("tar.gz"), QStringLiteral("")});
    const KZItemReader r = reader();
    struct Case {
        QString extension;
        bool listed;
    } cases[] = {
        {QStringLiteral("jpg"), true},
        {QStringLiteral("JPG"), false},
        {QStringLiteral("jpg "), false},
        {QStringLiteral("jp"), false},
        {QStringLiteral("tar.gz"), true},
        {QStringLiteral("gz"), false},
        {QString(), false},
        {QStringLiteral(""), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(r.extensionIsSame(c.extension), c.listed) << c.extension.toStdString();
}

TEST_F(KZItemReaderTest, NameForSearchNeedsAName)
{
    const KZSearchItemInfo info;
    EXPECT_FALSE(reader().nameForSearch(QString(), info));
    EXPECT_FALSE(reader().nameForSearch(QStringLiteral(""), info));
    EXPECT_TRUE(reader().nameForSearch(QStringLiteral("a"), info));
}

// ---- Empty folders -----------------------------------------------------------------------

TEST_F(KZItemReaderTest, EmptyFolderRules)
{
    const bool xattrs = writeFinderInfo(dir.write("probe", ""), 0, platform::FinderInfo::kIsInvisible);

    struct Case {
        const char* name;
        std::function<void(const fs::path&)> fill;
        bool nested, customIconIsContent;
        bool empty;
        bool needsXattrs = false;
    };
    auto hiddenIcon = [&](const fs::path& f) {
        std::ofstream(f / "Icon\r");
        writeFinderInfo(f / "Icon\r", 0, platform::FinderInfo::kIsInvisible);
    };
    const std::vector<Case> cases = {
        {"nothing", [](const fs::path&) {}, false, false, true},
        {"dot files only", [](const fs::path& f) { std::ofstream(f / ".DS_Store"); std::ofstream(f / ".x"); }, false, false, true},
        {"a file", [](const fs::path& f) { std::ofstream(f / "a"); }, false, false, false},
        {"dot file and hidden icon", [&](const fs::path& f) { std::ofstream(f / ".x"); hiddenIcon(f); }, false, false, true, true},
        {"hidden icon, icons count", hiddenIcon, false, true, false, true},
        {"visible icon file", [](const fs::path& f) { std::ofstream(f / "Icon\r"); }, false, false, false},
        {"empty subfolder", [](const fs::path& f) { fs::create_directory(f / "sub"); }, false, false, false},
        {"empty subfolder, nested", [](const fs::path& f) { fs::create_directory(f / "sub"); }, true, false, true},
        {"full subfolder, nested", [](const fs::path& f) { fs::create_directories(f / "sub/deeper"); std::ofstream(f / "sub/deeper/x"); }, true, false, false},
        {"empty package", [](const fs::path& f) { fs::create_directory(f / "X.app"); }, true, false, false},
        {"link to an empty folder", [](const fs::path& f) { fs::create_directory(f / ".target"); fs::create_symlink(".target", f / "link"); }, true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsXattrs && !xattrs)
            continue;
        const fs::path folder = dir.mkdir(c.name);
        c.fill(folder);
        criteria.setIsNestedEmptied(c.nested);
        criteria.setIsExcludeEFCustIcon(c.customIconIsContent);
        EXPECT_EQ(reader().checkForEmptyFolder(folder), c.empty);
    }
}

TEST_F(KZItemReaderTest, DeepChainOfEmptyFoldersIsEmptyWhenNested)
{
    criteria.setIsNestedEmptied(true);
    fs::path deepest = dir.path();
    for (int i = 0; i < 1000; ++i)
        deepest /= "d";
    fs::create_directories(deepest);
    EXPECT_TRUE(reader().checkForEmptyFolder(dir.path()));
    std::ofstream(deepest / "last");
    EXPECT_FALSE(reader().checkForEmptyFolder(dir.path()));
}

TEST_F(KZItemReaderTest, FolderThatCannotBeListedIsNotEmpty)
{
    criteria.setIsNestedEmptied(true);
    EXPECT_FALSE(reader().checkForEmptyFolder(dir / "missing"));
    const fs::path locked = dir.mkdir("outer/locked");
    fs::permissions(locked, fs::perms::none);
    if (::access(locked.c_str(), R_OK) == 0) {
        fs::permissions(locked, fs::perms::owner_all);
        GTEST_SKIP() << "running with permission to read anything";
    }
    EXPECT_FALSE(reader().checkForEmptyFolder(dir / "outer"));
    fs::permissions(locked, fs::perms::owner_all);
}

} // namespace
