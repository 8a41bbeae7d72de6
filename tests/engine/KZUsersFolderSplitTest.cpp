// The users' folder split of a folder-content search and the nested-source
// exclusions, run one after the other as a search runs them, with the home
// folder given by the test.
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

class KZUsersFolderSplitTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* sub : {"Users/ann/Music", "Users/bob", "Users/Shared", "Applications"})
            dir.mkdir(fs::path("disk") / sub);
        dir.mkdir(fs::path("disk/Users") / nonUtf8User);
    }

    KZSourcePreparation preparation(const fs::path& home) const
    {
        return KZSourcePreparation(KZFilesUtilities::sharedControl(), home);
    }

    // One search's preparation, as the controller runs it.
    void prepare(KZSearchStuff& stuff, const fs::path& home, bool folderContent) const
    {
        preparation(home).adjustSources(stuff, folderContent);
        preparation(home).checkDoubleLocations(stuff);
    }

    static std::vector<fs::path> sorted(std::vector<fs::path> paths)
    {
        std::sort(paths.begin(), paths.end());
        return paths;
    }

    static std::vector<fs::path> urlsOf(const KZSearchStuff& stuff)
    {
        std::vector<fs::path> urls;
        for (const auto& source : stuff.sources())
            urls.push_back(source->url());
        return urls;
    }

    static bool scanLeavesOut(const KZSourceItem& source, const fs::path& location)
    {
        KZSearchCriteria criteria;
        const KZItemReader reader(criteria, {}, 0, nullptr, KZFilesUtilities::sharedControl());
        const auto record = KZSourcePreparation::setupExcluded(source.excluded());
        return reader.isExcluded(location, record.get());
    }

    kztest::TempDir dir;
    const std::string nonUtf8User = std::string("jos\xE9");
};

// Containers and service users may have no home folder of their own: the
// home is then the root, and there is nothing to split.
TEST_F(KZUsersFolderSplitTest, NoUsableHomeMeansNoSplit)
{
    for (const fs::path& home : {fs::path("/"), fs::path()}) {
        SCOPED_TRACE(home.native());
        auto stuff = KZSearchStuff::searchStuff();
        auto disk = KZSourcePreparation::sourceItemWithURL(dir / "disk");
        stuff->setSources({disk});
        preparation(home).adjustSources(*stuff, true);
        EXPECT_EQ(stuff->sources().size(), 1u);
        EXPECT_TRUE(disk->excluded().empty());
    }
}

TEST_F(KZUsersFolderSplitTest, SpelledSourcesAndHomesStillSplit)
{
    const fs::path home = dir / "disk/Users" / nonUtf8User;
    for (const std::string& spelling : {dir.path().native() + "/disk/", dir.path().native() + "/./disk"}) {
        SCOPED_TRACE(spelling);
        auto stuff = KZSearchStuff::searchStuff();
        auto disk = KZSourcePreparation::sourceItemWithURL(spelling);
        stuff->setSources({disk});
        preparation(fs::path(home.native() + "/")).adjustSources(*stuff, true);

        ASSERT_EQ(stuff->sources().size(), 4u);
        EXPECT_TRUE(scanLeavesOut(*disk, dir / "disk/Users"));
        EXPECT_TRUE(scanLeavesOut(*disk, dir / "disk/Users/ann"));
        EXPECT_TRUE(scanLeavesOut(*disk, dir / "disk/Users/bob"));
        EXPECT_FALSE(scanLeavesOut(*disk, home)) << "the own home is a source, excluded only as nested";
        EXPECT_FALSE(scanLeavesOut(*disk, dir / "disk/Applications"));
        const auto urls = urlsOf(*stuff);
        EXPECT_EQ(std::count_if(urls.begin(), urls.end(),
                                [&](const fs::path& url) { return url.filename() == nonUtf8User; }),
                  1)
            << "the home with a name that is not UTF-8 is a source of its own";
    }
}

// A folder-content search of a disk, then a plain search of the same disk:
// the second one scans the disk whole again, keeping the user's own entry.
TEST_F(KZUsersFolderSplitTest, SplitThenPlainSearchLeavesOnlyTheUsersEntries)
{
    const fs::path home = dir / "disk/Users/ann";
    auto disk = KZSourcePreparation::sourceItemWithURL(dir / "disk");
    auto music = KZSourcePreparation::sourceItemWithURL(dir / "disk/Users/ann/Music");
    disk->addExcluded(dir / "disk/Applications");

    auto first = KZSearchStuff::searchStuff();
    first->setSources({disk, music});
    prepare(*first, home, true);
    EXPECT_EQ(sorted(urlsOf(*first)), sorted({dir / "disk", dir / "disk/Users/ann/Music", dir / "disk/Users",
                                               dir / "disk/Users/Shared", home}));
    for (const char* left : {"Users", "Users/bob", "Users/ann", "Users/Shared", "Users/ann/Music", "Applications"})
        EXPECT_TRUE(scanLeavesOut(*disk, dir / "disk" / left)) << left;
    // Every item of the disk is scanned under exactly one source.
    for (const auto& source : first->sources()) {
        if (source->url() == home) {
            EXPECT_TRUE(scanLeavesOut(*source, dir / "disk/Users/ann/Music"));
        }
    }

    auto second = KZSearchStuff::searchStuff();
    second->setSources({disk});
    prepare(*second, home, false);
    EXPECT_EQ(disk->excluded(), std::vector<fs::path>{dir / "disk/Applications"});
    EXPECT_EQ(second->sources().size(), 1u);
}

TEST_F(KZUsersFolderSplitTest, NestedSourceWithANameThatIsNotUtf8IsLeftOutOfTheOuterOne)
{
    const fs::path inner = dir / "disk/Users" / nonUtf8User;
    auto stuff = KZSearchStuff::searchStuff();
    auto outer = KZSourcePreparation::sourceItemWithURL(dir / "disk/Users");
    auto nested = KZSourcePreparation::sourceItemWithURL(fs::path(inner.native() + "/."));
    stuff->setSources({outer, nested});
    preparation("/").checkDoubleLocations(*stuff);
    ASSERT_EQ(outer->excluded().size(), 1u);
    EXPECT_EQ(outer->excluded().front().native(), inner.native());
    EXPECT_TRUE(scanLeavesOut(*outer, inner));
    EXPECT_FALSE(scanLeavesOut(*outer, dir / "disk/Users/ann"));
}

} // namespace
