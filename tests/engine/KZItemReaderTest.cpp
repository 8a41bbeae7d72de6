#include "EngineTestSupport.h"

#include "engine/KZItemReader.h"
#include "platform/FinderInfo.h"
#include "services/KZFilesUtilities.h"
#include "settings/KZSearchCriteria.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

using namespace enginetest;

namespace {

using Criteria = std::function<void(KZSearchCriteria&)>;

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

    static bool writeFinderInfo(const fs::path& path, quint32 type, quint16 flags = 0)
    {
        platform::FinderInfo info;
        info.setFileType(type);
        info.setFlags(flags);
        return platform::writeFinderInfo(path, info);
    }

    KZSearchCriteria criteria;
    kztest::TempDir dir;
};

TEST_F(KZItemReaderTest, FilesLinksAndVanishedItems)
{
    const fs::path file = dir.write("a.txt", "12345");
    const bool typed = writeFinderInfo(file, 0x54455854);
    bool answer = false;
    auto info = read(file, &answer, 2);
    EXPECT_TRUE(answer);
    EXPECT_EQ(info->totSize(), 5u);
    EXPECT_EQ(info->label(), 2);
    EXPECT_FALSE(info->isDirectory() || info->isAlias());
    EXPECT_TRUE(info->hasIdentity());
    const auto st = platform::statPath(file, false);
    EXPECT_EQ(info->inode(), st->inode);
    EXPECT_EQ(info->device(), quint64(st->device));
    EXPECT_EQ(info->modificationTime().tv_sec, st->modified.tv_sec);
    if (typed) {
        EXPECT_EQ(info->type(), 0x54455854u);
    }

    // A link is an alias of its own size and is never followed.
    dir.write("folder/inside.txt", "x");
    fs::create_symlink(dir / "folder", dir / "link");
    info = read(dir / "link", &answer);
    EXPECT_TRUE(answer);
    EXPECT_TRUE(info->isAlias());
    EXPECT_FALSE(info->isDirectory());
    EXPECT_EQ(info->totSize(), (dir / "folder").native().size());

    read(dir / "gone", &answer);
    EXPECT_FALSE(answer);
}

struct FolderCase {
    const char* name;
    bool compareByContent;
    bool onlyContent;
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
    EXPECT_EQ(info->totSize(), c.measured ? 7u : 0u);
    EXPECT_EQ(info->multiPurposeInfo(), c.measured ? 3u : 0u) << "two files and one folder";
}

INSTANTIATE_TEST_SUITE_P(Rules, KZItemReaderFolderRuleTest,
                         ::testing::Values(FolderCase{"Doc.rtfd", false, true, true},
                                           FolderCase{"Doc.rtfd", true, false, false},
                                           FolderCase{"Doc.rtfd", true, true, true},
                                           FolderCase{"Doc.rtfd", false, false, true},
                                           FolderCase{"Plain", true, true, true},
                                           FolderCase{"Plain", true, false, false},
                                           FolderCase{"Plain", false, true, false},
                                           FolderCase{"Plain", false, false, false},
                                           FolderCase{"\xFF\xFE-caf\xE9", true, true, true}));

TEST_F(KZItemReaderTest, PackageRules)
{
    dir.write("Tool.app/Contents/x", "1");
    dir.write("Doc.rtfd/x", "1");
    dir.write("Album.bundle/track.mp3", "1");
    dir.mkdir("Empty.app");
    const Criteria none = [](KZSearchCriteria&) {};
    const Criteria applications = [](KZSearchCriteria& c) { c.setIsKindApplication(true); };
    const auto skipUpTo = [](quint64 bytes) {
        return Criteria([bytes](KZSearchCriteria& c) {
            c.setIsCompareContent(true);
            c.setIsSkipData(true);
            c.setSkipDataValue(bytes);
        });
    };
    struct Case {
        const char* what;
        Criteria set;
        const char* name;
        bool answer;
        bool application;
    };
    const std::vector<Case> cases{
        {"application asked only for the application kind", none, "Tool.app", true, false},
        {"application kind", applications, "Tool.app", true, true},
        {"a document package is no application", applications, "Doc.rtfd", true, false},
        {"a package is never a song candidate", [](KZSearchCriteria& c) { c.setIsSongTags(true); }, "Album.bundle",
         false, false},
        {"an empty package is skipped with empty items", skipUpTo(0), "Empty.app", false, false},
        {"a full one is not", skipUpTo(0), "Tool.app", true, false},
        {"skipping up to 1 byte says nothing about emptiness", skipUpTo(1), "Empty.app", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        criteria.initializeCriteriaWithDict({});
        c.set(criteria);
        bool answer = !c.answer;
        auto info = read(dir / c.name, &answer);
        EXPECT_EQ(answer, c.answer);
        if (answer) {
            EXPECT_TRUE(info->isPackage());
            EXPECT_EQ(info->isApplication(), c.application);
        }
    }
}

TEST_F(KZItemReaderTest, FolderTypeAndSizeOnlyWhereACriterionAsks)
{
    dir.write("Plain/file", "12345");
    auto plain = KZSearchItemInfo::create(dir / "Plain");
    plain->setIsDirectory(true);
    criteria.setIsEmptyFile(true); // would measure a package, not a plain folder
    EXPECT_TRUE(reader().setCurrPackagesVariables(*plain));
    EXPECT_EQ(plain->totSize(), 0u);

    criteria.initializeCriteriaWithDict({});
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

TEST_F(KZItemReaderTest, IsExcludedConsultsOnlyTheCountedEntries)
{
    const KZItemReader r = reader({"/data/A", "/data/B", "/data/C"}, 2);
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
        {"/data/C", nullptr, false},        // beyond exclLocsCount
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

    // Spellings and the "/Volumes" form of one location are that location.
    const KZItemReader spelled = reader({"/data/A/", "/Volumes/Backup/Photos"}, 2);
    for (const char* path : {"/data/A", "/data//A", "/data/./A/", "/data/x/../A", "/Volumes/Backup/Photos", "/Backup/Photos"})
        EXPECT_TRUE(spelled.isExcluded(path, nullptr)) << path;
    const KZExcludedInfo dotted({"/src/./D"});
    EXPECT_TRUE(spelled.isExcluded("/src/D", &dotted));
    EXPECT_FALSE(spelled.isExcluded("/Volumes/x/src/D", &dotted));
    EXPECT_FALSE(spelled.isExcluded("/data/a", nullptr)) << "names are bytes: case counts";
    EXPECT_FALSE(reader().isExcluded("/data/A", nullptr));
}

TEST_F(KZItemReaderTest, WalkAsksAboutEntriesOnlyInFoldersThatHoldAnExclusion)
{
    // Whatever the spelling of the folder listed, an entry that isExcluded
    // leaves out lies in a folder that says it may hold one; folders
    // elsewhere spare their entries the question.
    const KZItemReader r = reader({"/data/A/", "/Volumes/Backup/Photos", "/Volumes/top"}, 3);
    const KZExcludedInfo own({"/src/D", "/src/./E"});
    const std::vector<std::string> folders{"/", "/data", "/data/", "/data//", "/data/x/..", "/Volumes", "/Volumes/",
                                           "/Volumes/Backup", "/Backup", "/Backup/", "/src", "/src/.", "/x/../src",
                                           "/elsewhere", "/data/A"};
    const std::vector<std::string> names{"A", "Photos", "D", "E", "top", "x", "Backup", "data", "src"};
    for (const KZExcludedInfo* record : {static_cast<const KZExcludedInfo*>(nullptr), &own}) {
        const std::unordered_set<std::string> holders = r.foldersHoldingExclusions(record);
        int excluded = 0;
        for (const std::string& folder : folders) {
            const bool asked = KZItemReader::mayHoldExclusions(folder, holders);
            for (const std::string& name : names) {
                if (!r.isExcluded(fs::path(folder) / name, record))
                    continue;
                ++excluded;
                EXPECT_TRUE(asked) << folder << " holds excluded " << name;
            }
        }
        EXPECT_GE(excluded, record ? 11 : 9);
        EXPECT_FALSE(KZItemReader::mayHoldExclusions("/elsewhere", holders));
        EXPECT_FALSE(KZItemReader::mayHoldExclusions("/data/A", holders));
    }
    EXPECT_TRUE(reader().foldersHoldingExclusions(nullptr).empty());
}

TEST_F(KZItemReaderTest, ExtensionIsSameIsExact)
{
    criteria.setExtensions({str("jpg"), str("tar.gz"), str("")});
    const KZItemReader r = reader();
    const std::vector<std::pair<QString, bool>> cases{
        {str("jpg"), true}, {str("JPG"), false}, {str("jpg "), false}, {str("jp"), false},
        {str("tar.gz"), true}, {str("gz"), false}, {QString(), false}, {str(""), false},
    };
    for (const auto& [extension, listed] : cases)
        EXPECT_EQ(r.extensionIsSame(extension), listed) << extension.toStdString();
}

TEST_F(KZItemReaderTest, EmptyFolderRules)
{
    const bool xattrs = writeFinderInfo(dir.write("probe", ""), 0, platform::FinderInfo::kIsInvisible);
    auto hiddenIcon = [&](const fs::path& f) {
        std::ofstream(f / "Icon\r");
        writeFinderInfo(f / "Icon\r", 0, platform::FinderInfo::kIsInvisible);
    };
    auto touch = [](const fs::path& f) { std::ofstream{f}; };
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> fill;
        bool nested, customIconIsContent;
        bool empty;
        bool needsXattrs = false;
    };
    const std::vector<Case> cases = {
        {"nothing", [](const fs::path&) {}, false, false, true},
        {"file-system bookkeeping only", [&](const fs::path& f) { touch(f / ".DS_Store"); touch(f / ".localized"); touch(f / "._a"); }, false, false, true},
        {"a dot file of the user's", [&](const fs::path& f) { touch(f / ".env"); }, false, false, false},
        {"bookkeeping beside a dot file", [&](const fs::path& f) { touch(f / ".DS_Store"); touch(f / ".gitignore"); }, false, false, false},
        {"a file", [&](const fs::path& f) { touch(f / "a"); }, false, false, false},
        {"bookkeeping and hidden icon", [&](const fs::path& f) { touch(f / ".DS_Store"); hiddenIcon(f); }, false, false, true, true},
        {"hidden icon, icons count", hiddenIcon, false, true, false, true},
        {"visible icon file", [&](const fs::path& f) { touch(f / "Icon\r"); }, false, false, false},
        {"empty subfolder", [](const fs::path& f) { fs::create_directory(f / "sub"); }, false, false, false},
        {"empty subfolder, nested", [](const fs::path& f) { fs::create_directory(f / "sub"); }, true, false, true},
        {"full subfolder, nested", [&](const fs::path& f) { fs::create_directories(f / "sub/deeper"); touch(f / "sub/deeper/x"); }, true, false, false},
        {"empty package", [](const fs::path& f) { fs::create_directory(f / "X.app"); }, true, false, false},
        {"link to an empty folder", [](const fs::path& f) { fs::create_directory(f / "target"); fs::create_symlink("target", f / "link"); }, true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsXattrs && !xattrs)
            continue;
        const fs::path folder = dir.mkdir(fs::path("cases") / c.name);
        c.fill(folder);
        criteria.setIsNestedEmptied(c.nested);
        criteria.setIsExcludeEFCustIcon(c.customIconIsContent);
        EXPECT_EQ(reader().checkForEmptyFolder(folder), c.empty);
    }
    EXPECT_FALSE(reader().checkForEmptyFolder(dir / "missing")) << "what cannot be listed is not empty";
}

TEST_F(KZItemReaderTest, DeepChainOfEmptyFoldersIsEmptyWhenNested)
{
    criteria.setIsNestedEmptied(true);
    constexpr int depth = 1000;
    const fs::path deepest = kztest::makeFolderChain(dir.path(), depth, "d");
    ASSERT_FALSE(deepest.empty());
    EXPECT_TRUE(reader().checkForEmptyFolder(dir.path()));
    std::ofstream(deepest / "last");
    EXPECT_FALSE(reader().checkForEmptyFolder(dir.path()));
    kztest::removeFolderChain(dir.path(), "d");
}

} // namespace
