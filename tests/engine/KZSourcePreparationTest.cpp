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

class KZSourcePreparationTest : public ::testing::Test {
protected:
    KZSourceItemRef source(const fs::path& path) const
    {
        return KZSourcePreparation::sourceItemWithURL(path);
    }

    void setSources(std::vector<KZSourceItemRef> sources) { stuff->setSources(std::move(sources)); }

    KZSourcePreparation preparation(const fs::path& home = "/nonexistent/home/user") const
    {
        return KZSourcePreparation(KZFilesUtilities::sharedControl(), home);
    }

    // Whether the scan of `outer`, with the record its excluded entries give,
    // leaves `location` out.
    bool scanLeavesOut(const KZSourceItem& outer, const fs::path& location) const
    {
        KZSearchCriteria criteria;
        const KZItemReader reader(criteria, {}, 0, nullptr, KZFilesUtilities::sharedControl());
        const auto record = KZSourcePreparation::setupExcluded(outer.excluded());
        return reader.isExcluded(location, record.get());
    }

    std::shared_ptr<KZSearchStuff> stuff = KZSearchStuff::searchStuff();
    kztest::TempDir dir;
};

TEST_F(KZSourcePreparationTest, InnerSourceBecomesAnExclusionOfTheOuterOne)
{
    dir.mkdir("ann/Music");
    auto outer = source(dir / "ann");
    auto inner = source(dir / "ann/Music");
    setSources({outer, inner});
    preparation().checkDoubleLocations(*stuff);

    EXPECT_EQ(stuff->sources().size(), 2u);
    EXPECT_EQ(outer->excluded(), std::vector<fs::path>{dir / "ann/Music"});
    EXPECT_TRUE(inner->excluded().empty());
    EXPECT_TRUE(scanLeavesOut(*outer, dir / "ann/Music"));
    EXPECT_FALSE(scanLeavesOut(*inner, dir / "ann/Music/x"));
}

TEST_F(KZSourcePreparationTest, SpellingsOfOneFolderAreOneFolder)
{
    dir.mkdir("ann/Music");
    const std::string base = dir.path().native();
    auto outer = source(base + "/ann/");
    auto inner = source(base + "//ann/./Music/");
    setSources({inner, outer});
    preparation().checkDoubleLocations(*stuff);

    EXPECT_TRUE(scanLeavesOut(*outer, dir / "ann/Music")) << "the scan meets the plain spelling";
    EXPECT_FALSE(scanLeavesOut(*outer, dir / "ann/Musical"));
}

TEST_F(KZSourcePreparationTest, SiblingWithACommonPrefixIsNotInside)
{
    dir.mkdir("ann");
    dir.mkdir("annex");
    auto ann = source(dir / "ann");
    auto annex = source(dir / "annex");
    setSources({ann, annex});
    preparation().checkDoubleLocations(*stuff);
    EXPECT_TRUE(ann->excluded().empty());
    EXPECT_TRUE(annex->excluded().empty());
}

TEST_F(KZSourcePreparationTest, RepeatedSourceIsSearchedOnce)
{
    dir.mkdir("a/b");
    fs::create_symlink(dir / "a", dir / "link");
    const std::string base = dir.path().native();
    auto first = source(dir / "a");
    setSources({first, source(base + "/a/"), source(base + "/x/../a"), source(dir / "link"), source(dir / "a/b")});
    preparation().checkDoubleLocations(*stuff);

    const auto kept = stuff->sources();
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0], first);
    EXPECT_EQ(kept[1]->url(), dir / "a/b");
    EXPECT_EQ(first->excluded(), std::vector<fs::path>{dir / "a/b"});
}

TEST_F(KZSourcePreparationTest, SourcesWithoutALocationAreSkippedAndTheRestPrepared)
{
    dir.mkdir("top/inner");
    auto missing = source(dir / "gone");
    auto none = std::make_shared<KZSourceItem>();
    auto top = source(dir / "top");
    auto inner = source(dir / "top/inner");
    setSources({missing, none, top, inner});
    preparation().checkDoubleLocations(*stuff);

    EXPECT_EQ(stuff->sources().size(), 4u);
    EXPECT_EQ(top->excluded(), std::vector<fs::path>{dir / "top/inner"});
    EXPECT_TRUE(missing->excluded().empty());
    EXPECT_TRUE(none->excluded().empty());
}

TEST_F(KZSourcePreparationTest, PhotoLibraryTakesNoPart)
{
    dir.mkdir("Pictures/Photos Library.photoslibrary");
    auto pictures = source(dir / "Pictures");
    auto library = source(dir / "Pictures/Photos Library.photoslibrary");
    library->setIsPhotosLib(true);
    setSources({pictures, library});
    preparation().checkDoubleLocations(*stuff);
    EXPECT_TRUE(pictures->excluded().empty());
}

TEST_F(KZSourcePreparationTest, NestedExclusionsAreTakenBackBeforeTheNextSearch)
{
    dir.mkdir("a/b");
    auto outer = source(dir / "a");
    outer->addExcluded(dir / "a/mine"); // the user's own
    setSources({outer, source(dir / "a/b")});
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

// ---- The users' folders in a folder-content search -----------------------------------------

class KZAdjustSourcesTest : public KZSourcePreparationTest {
protected:
    void SetUp() override
    {
        for (const char* sub : {"Users/ann/Documents", "Users/bob", "Users/Shared", "Users/.hidden", "Applications"})
            dir.mkdir(fs::path("disk") / sub);
        dir.write("disk/Users/notes.txt", "x");
        home = dir / "disk/Users/ann";
    }

    std::vector<fs::path> urlsOf(const std::vector<KZSourceItemRef>& sources) const
    {
        std::vector<fs::path> urls;
        for (const auto& s : sources)
            urls.push_back(s->url());
        return urls;
    }

    fs::path home;
};

TEST_F(KZAdjustSourcesTest, HomesBecomeSourcesAndOtherUsersAreLeftOut)
{
    auto disk = source(dir / "disk");
    setSources({disk});
    preparation(home).adjustSources(*stuff, true);

    // The new sources follow the ones given, in listing order.
    std::vector<fs::path> urls = urlsOf(stuff->sources());
    ASSERT_EQ(urls.size(), 4u);
    EXPECT_EQ(urls[0], dir / "disk");
    std::sort(urls.begin() + 1, urls.end());
    EXPECT_EQ(urls, (std::vector<fs::path>{dir / "disk", dir / "disk/Users", dir / "disk/Users/Shared", home}));
    std::vector<fs::path> excluded = disk->excluded();
    std::sort(excluded.begin(), excluded.end());
    EXPECT_EQ(excluded, (std::vector<fs::path>{dir / "disk/Users", dir / "disk/Users/bob"}));
}

TEST_F(KZAdjustSourcesTest, ALaterSearchWithoutFolderContentTakesExactlyThoseBack)
{
    auto disk = source(dir / "disk");
    disk->addExcluded(dir / "disk/Users/bob"); // the user excluded bob too
    setSources({disk});
    preparation(home).adjustSources(*stuff, true);
    preparation(home).adjustSources(*stuff, true); // a second such search adds nothing twice
    EXPECT_EQ(disk->excluded().size(), 2u);

    auto later = KZSearchStuff::searchStuff();
    later->setSources({disk});
    preparation(home).adjustSources(*later, false);
    EXPECT_EQ(disk->excluded(), std::vector<fs::path>{dir / "disk/Users/bob"});
    EXPECT_EQ(later->sources().size(), 1u);
}

TEST_F(KZAdjustSourcesTest, AHomeAlreadyASourceIsNotAddedAgain)
{
    auto disk = source(dir / "disk");
    auto own = source(home);
    setSources({disk, own});
    preparation(home).adjustSources(*stuff, true);
    const auto urls = urlsOf(stuff->sources());
    EXPECT_EQ(std::count(urls.begin(), urls.end(), home), 1);
}

TEST_F(KZAdjustSourcesTest, UnlistableSourcesAndLibrariesAreLeftAlone)
{
    auto gone = source(dir / "gone");
    auto library = source(dir / "disk");
    library->setIsPhotosLib(true);
    setSources({gone, library});
    preparation(home).adjustSources(*stuff, true);
    EXPECT_EQ(stuff->sources().size(), 2u);
    EXPECT_TRUE(library->excluded().empty());
}

// ---- Exclusion records ------------------------------------------------------------------------

TEST(KZSetupExcludedTest, VolumeRelativeFormEachLocationOnce)
{
    EXPECT_EQ(KZSourcePreparation::setupExcluded({}), nullptr);
    const auto record = KZSourcePreparation::setupExcluded(
        {"/Volumes/Backup/Photos", "/Backup/Photos/", "/Data/x", "/data/x", "", "/home/a/./b", "/Volumes"});
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->excluded(),
              (std::vector<fs::path>{"/Backup/Photos", "/Data/x", "/data/x", "/home/a/b", "/Volumes"}));
    EXPECT_EQ(record->count(), 5u);
}

TEST(KZSetupExcludedTest, IndexOfItemComparesTheCommonForm)
{
    const std::vector<fs::path> array = {"/a/b", "/Volumes/V/c"};
    EXPECT_EQ(KZSourcePreparation::indexOfItemInArray(array, "/a//b/"), 0u);
    EXPECT_EQ(KZSourcePreparation::indexOfItemInArray(array, "/V/c"), 1u);
    EXPECT_FALSE(KZSourcePreparation::indexOfItemInArray(array, "/A/b").has_value());
}

TEST(KZSetupExcludedTest, ComparableLocationTable)
{
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"/Volumes/Backup/x", "/Backup/x"},
        {"/Volumes/Backup", "/Backup"},
        {"/Volumes", "/Volumes"},
        {"/Volumes/", "/Volumes"},
        {"/VolumesX/a", "/VolumesX/a"},
        {"/home/Volumes/a", "/home/Volumes/a"},
        {"//Volumes//Backup/", "/Backup"},
        {"/", "/"},
        {"/a/b/../c", "/a/c"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(KZItemReader::comparableLocation(c.in), fs::path(c.out)) << c.in;
}

TEST(KZEnginePathsTest, InsideIsDecidedByWholeComponents)
{
    struct Case {
        const char* inner;
        const char* outer;
        bool inside;
    } cases[] = {
        {"/a/b", "/a", true},   {"/a/b/", "/a//", true}, {"/a", "/", true},
        {"/ab", "/a", false},   {"/a", "/a", false},     {"/a/", "/a", false},
        {"/", "/", false},      {"/a", "/a/b", false},   {"", "/a", false},
        {"/a/b/../c", "/a", true}, {"/a/../b", "/a", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(KZEnginePaths::isStrictlyInside(c.inner, c.outer), c.inside) << c.inner << " in " << c.outer;
}

} // namespace
