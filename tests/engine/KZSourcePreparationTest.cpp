#include "engine/KZEnginePaths.h"
#include "engine/KZItemReader.h"
#include "engine/KZSourcePreparation.h"
#include "services/KZFilesUtilities.h"
#include "settings/KZSearchCriteria.h"
#include "settings/KZSearchStuff.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace fs = std::filesystem;

namespace {

const std::string nonUtf8 = "jos\xE9";

class KZSourcePreparationTest : public ::testing::Test {
protected:
    static KZSourceItemRef source(const fs::path& path) { return KZSourcePreparation::sourceItemWithURL(path); }

    static KZSourcePreparation preparation(const fs::path& home = "/nonexistent/home/user")
    {
        return KZSourcePreparation(KZFilesUtilities::sharedControl(), home);
    }

    // Whether the scan of `outer`, with the record its excluded entries give,
    // leaves `location` out.
    static bool scanLeavesOut(const KZSourceItem& outer, const fs::path& location)
    {
        KZSearchCriteria criteria;
        const KZItemReader reader(criteria, {}, 0, nullptr, KZFilesUtilities::sharedControl());
        const auto record = KZSourcePreparation::setupExcluded(outer.excluded());
        return reader.isExcluded(location, record.get());
    }

    static std::vector<fs::path> sorted(std::vector<fs::path> paths)
    {
        std::sort(paths.begin(), paths.end());
        return paths;
    }

    std::vector<fs::path> urls() const
    {
        std::vector<fs::path> urls;
        for (const auto& s : stuff->sources())
            urls.push_back(s->url());
        return urls;
    }

    std::shared_ptr<KZSearchStuff> stuff = KZSearchStuff::searchStuff();
    kztest::TempDir dir;
};

TEST_F(KZSourcePreparationTest, NestedSourceBecomesAnExclusionOfTheOuterOne)
{
    dir.mkdir("ann/Music");
    dir.mkdir("ann/" + nonUtf8);
    dir.mkdir("annex");
    const std::string base = dir.path().native();
    struct Case {
        const char* what;
        std::string outer, inner;
        fs::path location;
        bool excluded;
        bool innerFirst = false, photosLibrary = false;
    };
    const std::vector<Case> cases{
        {"plain spellings", base + "/ann", base + "/ann/Music", dir / "ann/Music", true},
        {"trailing slashes and \".\", inner first", base + "/ann/", base + "//ann/./Music/", dir / "ann/Music", true, true},
        {"a name that is not UTF-8", base + "/ann", base + "/ann/" + nonUtf8 + "/.", dir / "ann" / nonUtf8, true},
        {"a sibling with a common prefix is not inside", base + "/ann", base + "/annex", dir / "annex", false},
        {"a photo library takes no part", base + "/ann", base + "/ann/Music", dir / "ann/Music", false, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        stuff = KZSearchStuff::searchStuff();
        auto outer = source(c.outer);
        auto inner = source(c.inner);
        inner->setIsPhotosLib(c.photosLibrary);
        stuff->setSources(c.innerFirst ? std::vector{inner, outer} : std::vector{outer, inner});
        preparation().checkDoubleLocations(*stuff);
        EXPECT_EQ(stuff->sources().size(), 2u);
        EXPECT_TRUE(inner->excluded().empty());
        ASSERT_EQ(outer->excluded().size(), c.excluded ? 1u : 0u);
        if (c.excluded) {
            EXPECT_EQ(outer->excluded().front().native(), c.location.native()) << "the scan meets the plain spelling";
        }
        EXPECT_EQ(scanLeavesOut(*outer, c.location), c.excluded);
        EXPECT_FALSE(scanLeavesOut(*outer, dir / "ann/Musical"));
        EXPECT_FALSE(scanLeavesOut(*inner, c.location / "x"));
    }
}

TEST_F(KZSourcePreparationTest, RepeatedSourceIsSearchedOnce)
{
    dir.mkdir("a/b");
    fs::create_symlink(dir / "a", dir / "link");
    const std::string base = dir.path().native();
    auto first = source(dir / "a");
    stuff->setSources({first, source(base + "/a/"), source(base + "/x/../a"), source(dir / "link"), source(dir / "a/b")});
    preparation().checkDoubleLocations(*stuff);
    EXPECT_EQ(urls(), (std::vector<fs::path>{dir / "a", dir / "a/b"}));
    EXPECT_EQ(stuff->sources()[0], first);
    EXPECT_EQ(first->excluded(), std::vector<fs::path>{dir / "a/b"});
}

TEST_F(KZSourcePreparationTest, SourcesWithoutALocationAreSkippedAndTheRestPrepared)
{
    dir.mkdir("top/inner");
    auto missing = source(dir / "gone");
    auto none = std::make_shared<KZSourceItem>();
    auto top = source(dir / "top");
    stuff->setSources({missing, none, top, source(dir / "top/inner")});
    preparation().checkDoubleLocations(*stuff);
    EXPECT_EQ(stuff->sources().size(), 4u);
    EXPECT_EQ(top->excluded(), std::vector<fs::path>{dir / "top/inner"});
    EXPECT_TRUE(missing->excluded().empty());
    EXPECT_TRUE(none->excluded().empty());
}

TEST_F(KZSourcePreparationTest, NestedExclusionsAreTakenBackBeforeTheNextSearch)
{
    dir.mkdir("a/b");
    auto outer = source(dir / "a");
    outer->addExcluded(dir / "a/mine"); // the user's own
    stuff->setSources({outer, source(dir / "a/b")});
    preparation().checkDoubleLocations(*stuff);
    EXPECT_EQ(outer->excluded().size(), 2u);

    // The next search has only the outer source.
    auto next = KZSearchStuff::searchStuff();
    next->setSources({outer});
    preparation().adjustSources(*next, false);
    preparation().checkDoubleLocations(*next);
    EXPECT_EQ(outer->excluded(), std::vector<fs::path>{dir / "a/mine"});
    EXPECT_FALSE(scanLeavesOut(*outer, dir / "a/b"));
}

// ---- The users' folders in a folder-content search, with the home folder given by the test ----

class KZUsersFolderSplitTest : public KZSourcePreparationTest {
protected:
    void SetUp() override
    {
        for (const char* sub : {"Users/ann/Music", "Users/bob", "Users/Shared", "Users/.hidden", "Applications"})
            dir.mkdir(fs::path("disk") / sub);
        dir.mkdir("disk/Users/" + nonUtf8);
        dir.write("disk/Users/notes.txt", "x");
    }
};

TEST_F(KZUsersFolderSplitTest, HomeBecomesASourceOtherUsersAreLeftOutAndAPlainSearchTakesThatBack)
{
    const fs::path home = dir / "disk/Users/ann";
    auto disk = source(dir / "disk");
    disk->addExcluded(dir / "disk/Users/bob"); // the user excluded bob too
    stuff->setSources({disk, source(home / "Music")});
    preparation(home).adjustSources(*stuff, true);
    preparation(home).adjustSources(*stuff, true); // a second such search adds nothing twice

    // The new sources follow the ones given.
    std::vector<fs::path> found = urls();
    ASSERT_EQ(found.size(), 5u);
    EXPECT_EQ(found[0], dir / "disk");
    EXPECT_EQ(found[1], home / "Music");
    EXPECT_EQ(sorted({found.begin() + 2, found.end()}), sorted({dir / "disk/Users", dir / "disk/Users/Shared", home}));
    EXPECT_EQ(sorted(disk->excluded()),
              sorted({dir / "disk/Users", dir / "disk/Users/bob", dir / "disk/Users" / nonUtf8}));

    // Every item of the disk is scanned under exactly one source.
    preparation(home).checkDoubleLocations(*stuff);
    for (const char* left : {"Users", "Users/bob", "Users/ann", "Users/Shared", "Users/ann/Music"})
        EXPECT_TRUE(scanLeavesOut(*disk, dir / "disk" / left)) << left;
    EXPECT_FALSE(scanLeavesOut(*disk, dir / "disk/Applications"));
    const auto all = stuff->sources();
    const auto own = std::find_if(all.begin(), all.end(), [&](const KZSourceItemRef& s) { return s->url() == home; });
    ASSERT_NE(own, all.end());
    EXPECT_TRUE(scanLeavesOut(**own, home / "Music"));

    auto later = KZSearchStuff::searchStuff();
    later->setSources({disk});
    preparation(home).adjustSources(*later, false);
    preparation(home).checkDoubleLocations(*later);
    EXPECT_EQ(disk->excluded(), std::vector<fs::path>{dir / "disk/Users/bob"}) << "the user's own entry stays";
    EXPECT_EQ(later->sources().size(), 1u);
}

TEST_F(KZUsersFolderSplitTest, SpelledSourcesAndAHomeWithANameThatIsNotUtf8StillSplit)
{
    const fs::path home = dir / "disk/Users" / nonUtf8;
    for (const std::string& spelling : {dir.path().native() + "/disk/", dir.path().native() + "/./disk"}) {
        SCOPED_TRACE(spelling);
        stuff = KZSearchStuff::searchStuff();
        auto disk = source(spelling);
        stuff->setSources({disk});
        preparation(fs::path(home.native() + "/")).adjustSources(*stuff, true);
        ASSERT_EQ(stuff->sources().size(), 4u);
        for (const char* left : {"Users", "Users/ann", "Users/bob"})
            EXPECT_TRUE(scanLeavesOut(*disk, dir / "disk" / left)) << left;
        EXPECT_FALSE(scanLeavesOut(*disk, home)) << "the own home is a source, excluded only as nested";
        EXPECT_FALSE(scanLeavesOut(*disk, dir / "disk/Applications"));
        const auto all = urls();
        EXPECT_EQ(std::count_if(all.begin(), all.end(), [&](const fs::path& url) { return url.filename() == nonUtf8; }), 1);
    }
}

TEST_F(KZUsersFolderSplitTest, NothingToSplit)
{
    struct Case {
        const char* what;
        fs::path home, source;
        bool photosLibrary;
    };
    // Containers and service users may have no home folder of their own: the
    // home is then the root, or nothing.
    const std::vector<Case> cases{
        {"no passwd entry: the root", "/", dir / "disk", false},
        {"no home at all", fs::path(), dir / "disk", false},
        {"a source that cannot be listed", dir / "disk/Users/ann", dir / "gone", false},
        {"a photo library", dir / "disk/Users/ann", dir / "disk", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        stuff = KZSearchStuff::searchStuff();
        auto disk = source(c.source);
        disk->setIsPhotosLib(c.photosLibrary);
        stuff->setSources({disk});
        preparation(c.home).adjustSources(*stuff, true);
        EXPECT_EQ(stuff->sources().size(), 1u);
        EXPECT_TRUE(disk->excluded().empty());
    }
}

TEST_F(KZUsersFolderSplitTest, AHomeAlreadyASourceIsNotAddedAgain)
{
    const fs::path home = dir / "disk/Users/ann";
    stuff->setSources({source(dir / "disk"), source(home)});
    preparation(home).adjustSources(*stuff, true);
    const auto all = urls();
    EXPECT_EQ(std::count(all.begin(), all.end(), home), 1);
}

// ---- Exclusion records and the "/Volumes" forms ----

TEST(KZSetupExcludedTest, VolumeRelativeFormEachLocationOnce)
{
    EXPECT_EQ(KZSourcePreparation::setupExcluded({}), nullptr);
    const auto record = KZSourcePreparation::setupExcluded(
        {"/Volumes/Backup/Photos", "/Backup/Photos/", "/Data/x", "/data/x", "", "/home/a/./b", "/Volumes"});
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->excluded(), (std::vector<fs::path>{"/Backup/Photos", "/Data/x", "/data/x", "/home/a/b", "/Volumes"}));
    EXPECT_EQ(record->count(), 5u);

    const std::vector<fs::path> array = {"/a/b", "/Volumes/V/c"};
    EXPECT_EQ(KZSourcePreparation::indexOfItemInArray(array, "/a//b/"), 0u);
    EXPECT_EQ(KZSourcePreparation::indexOfItemInArray(array, "/V/c"), 1u);
    EXPECT_FALSE(KZSourcePreparation::indexOfItemInArray(array, "/A/b").has_value());
}

TEST(KZSetupExcludedTest, ComparableLocationTable)
{
    const std::vector<std::pair<const char*, const char*>> cases{
        {"/Volumes/Backup/x", "/Backup/x"}, {"/Volumes/Backup", "/Backup"}, {"/Volumes", "/Volumes"},
        {"/Volumes/", "/Volumes"},          {"/VolumesX/a", "/VolumesX/a"}, {"/home/Volumes/a", "/home/Volumes/a"},
        {"//Volumes//Backup/", "/Backup"},  {"/", "/"},                     {"/a/b/../c", "/a/c"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(KZItemReader::comparableLocation(in), fs::path(out)) << in;
}

TEST(KZEnginePathsTest, InsideIsDecidedByWholeComponents)
{
    struct Case {
        const char* inner;
        const char* outer;
        bool inside;
    } cases[] = {
        {"/a/b", "/a", true},      {"/a/b/", "/a//", true}, {"/a", "/", true},    {"/ab", "/a", false},
        {"/a", "/a", false},       {"/a/", "/a", false},    {"/", "/", false},    {"/a", "/a/b", false},
        {"", "/a", false},         {"/a/b/../c", "/a", true}, {"/a/../b", "/a", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(KZEnginePaths::isStrictlyInside(c.inner, c.outer), c.inside) << c.inner << " in " << c.outer;
}

} // namespace
