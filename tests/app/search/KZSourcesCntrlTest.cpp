#include "app/search/KZSourcesCntrl.h"

#include "SearchTestSupport.h"
#include "platform/Paths.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace searchtest;
namespace fs = std::filesystem;

namespace {

class RecordingView : public KZSourcesCntrlView {
public:
    explicit RecordingView(KZSourcesCntrl* cntrl = nullptr) : cntrl_(cntrl) {}
    int shown = 0, hidden = 0, resets = 0, cleared = 0;
    std::vector<KZSourceTile> tiles;
    std::vector<KZSourceItemRef> removed;
    std::vector<std::vector<fs::path>> animated;

    void showCollection() override { ++shown; }
    void hideCollection() override { ++hidden; }
    void addTiles(const std::vector<KZSourceTile>& added, bool) override
    {
        tiles.insert(tiles.end(), added.begin(), added.end());
    }
    void removeTile(const KZSourceItemRef& source) override { removed.push_back(source); }
    void clearTiles() override { ++cleared; }
    void resetSearchView() override { ++resets; }
    // The view hands the paths on at once, as it does after its animation.
    void animateAddedItems(const std::vector<fs::path>& paths) override
    {
        animated.push_back(paths);
        if (cntrl_)
            cntrl_->addChosenItems(paths);
    }

private:
    KZSourcesCntrl* cntrl_;
};

std::vector<fs::path> folders(const kztest::TempDir& dir, int first, int count)
{
    std::vector<fs::path> paths;
    for (int i = first; i < first + count; ++i)
        paths.push_back(dir.mkdir("f" + std::to_string(i)));
    return paths;
}

struct LimitCase {
    const char* name;
    int present;
    int chosen;
    bool viaPanel;
    std::size_t expectedSources;
    int expectedLimitAlerts;
};

class SourcesLimit : public ::testing::TestWithParam<LimitCase> {};

TEST_P(SourcesLimit, AddsUpToEightAndSaysSoOnce)
{
    const LimitCase& c = GetParam();
    AlertScope alerts;
    kztest::TempDir dir;
    KZSourcesCntrl cntrl;
    RecordingView view(&cntrl);
    cntrl.setView(&view);
    cntrl.addChosenItems(folders(dir, 0, c.present));
    ASSERT_EQ(cntrl.sources().size(), static_cast<std::size_t>(c.present));

    PostCounter didAdd(QStringLiteral("sourcesDidAdd"));
    const auto chosen = folders(dir, 100, c.chosen);
    if (c.viaPanel)
        cntrl.chooseLocationPanelDidEndWithCode(1, chosen);
    else
        cntrl.addChosenItems(chosen);

    EXPECT_EQ(cntrl.sources().size(), c.expectedSources);
    EXPECT_EQ(alerts.presenter->shown.size(), static_cast<std::size_t>(c.expectedLimitAlerts));
    EXPECT_EQ(didAdd.count, 1) << "the add button waits for exactly one end of the adding";
}

INSTANTIATE_TEST_SUITE_P(Cases, SourcesLimit,
                         ::testing::Values(LimitCase{"NineOnEmptyBatch", 0, 9, false, 8, 1},
                                           LimitCase{"EightOnEmpty", 0, 8, false, 8, 0},
                                           LimitCase{"PanelTwoWithSeven", 7, 2, true, 7, 1},
                                           LimitCase{"PanelOneWithSeven", 7, 1, true, 8, 0},
                                           LimitCase{"BatchThreeWithSix", 6, 3, false, 8, 1}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(SourcesCntrl, SkipsPresentPathsButKeepsOtherLetterCase)
{
    AlertScope alerts;
    kztest::TempDir dir;
    const fs::path lower = dir.mkdir("photos");
    const fs::path upper = dir.mkdir("Photos");
    const fs::path other = dir.mkdir("music");
    KZSourcesCntrl cntrl;
    cntrl.addChosenItems({lower});
    cntrl.addChosenItems({lower, other, upper, fs::path(dir / "missing")});

    ASSERT_EQ(cntrl.sources().size(), 3u);
    EXPECT_EQ(cntrl.sources()[0]->path(), lower);
    EXPECT_EQ(cntrl.sources()[1]->path(), other);
    EXPECT_EQ(cntrl.sources()[2]->path(), upper);
    EXPECT_TRUE(alerts.presenter->shown.empty());
}

TEST(SourcesCntrl, CancelledPanelStillEndsTheAdding)
{
    AlertScope alerts;
    KZSourcesCntrl cntrl;
    PostCounter didAdd(QStringLiteral("sourcesDidAdd"));
    cntrl.chooseLocationPanelDidEndWithCode(0, {});
    EXPECT_EQ(didAdd.count, 1);
    EXPECT_TRUE(cntrl.sources().empty());
}

TEST(SourcesCntrl, PanelIsAskedWithTheAddSettingsAndGreysGlobalExclusions)
{
    AlertScope alerts;
    kztest::TempDir dir;
    const auto system = KZFilesUtilities::sharedControl().visibleSystemPaths();
    ASSERT_FALSE(system.empty());
    const fs::path excluded = system.front();
    KZSourcesCntrl cntrl;
    QVariantMap asked;
    cntrl.setPanelRunner([&](const QVariantMap& settings, KZSourcesCntrl::PanelAnswer answer) {
        asked = settings;
        answer(1, {dir.mkdir("chosen")});
    });
    cntrl.addSourcesAction();

    EXPECT_EQ(asked.value(QStringLiteral("prompt")).toString(), QStringLiteral("ask_add_source"));
    EXPECT_TRUE(asked.value(QStringLiteral("allowsMultipleSelection")).toBool());
    EXPECT_FALSE(asked.value(QStringLiteral("canCreateDirectories")).toBool());
    EXPECT_FALSE(cntrl.shouldEnableURL(excluded));
    EXPECT_TRUE(cntrl.shouldEnableURL(dir / "chosen"));
    EXPECT_EQ(cntrl.sources().size(), 1u);
}

TEST(SourcesCntrl, RemovalFollowsTheRecordNotItsPath)
{
    AlertScope alerts;
    kztest::TempDir dir;
    KZSourcesCntrl cntrl;
    RecordingView view(&cntrl);
    cntrl.setView(&view);
    const auto paths = folders(dir, 0, 3);
    cntrl.addChosenItems(paths);
    ASSERT_EQ(view.tiles.size(), 3u);
    const KZSourceItemRef middle = view.tiles[1].source;

    // Renamed and then deleted: no path matches any more, the record does.
    fs::rename(paths[1], dir / "renamed");
    fs::remove(dir / "renamed");
    cntrl.removeSource(middle);
    ASSERT_EQ(cntrl.sources().size(), 2u);
    EXPECT_EQ(cntrl.sources()[0], view.tiles[0].source);
    EXPECT_EQ(cntrl.sources()[1], view.tiles[2].source);
    ASSERT_EQ(view.removed.size(), 1u);
    EXPECT_EQ(view.removed[0], middle);

    // A record that is no longer listed (a second click) changes nothing.
    cntrl.removeSource(middle);
    cntrl.removeSource(KZSourceItem::create({}));
    EXPECT_EQ(cntrl.sources().size(), 2u);
    EXPECT_EQ(view.removed.size(), 1u);
}

TEST(SourcesCntrl, RemovingTheLastSourceResetsTheView)
{
    AlertScope alerts;
    kztest::TempDir dir;
    KZSourcesCntrl cntrl;
    RecordingView view(&cntrl);
    cntrl.setView(&view);
    cntrl.addChosenItems(folders(dir, 0, 1));
    EXPECT_EQ(view.shown, 1);
    cntrl.removeSource(cntrl.sources().front());
    EXPECT_EQ(view.resets, 1);
    EXPECT_TRUE(view.removed.empty()) << "no empty row of tiles is left behind";
    EXPECT_TRUE(cntrl.sources().empty());
    cntrl.setCollectionEmpty();
    EXPECT_EQ(view.cleared, 1);
    EXPECT_EQ(view.hidden, 1);
}

TEST(SourcesCntrl, SavedSourcesComeInWhateverTheirNumber)
{
    AlertScope alerts;
    kztest::TempDir dir;
    KZSourcesCntrl cntrl;
    std::vector<KZSourceItemRef> saved;
    for (const auto& path : folders(dir, 0, 10))
        saved.push_back(KZSourceItem::create({{QStringLiteral("url"), QVariant::fromValue(path)}}));
    saved.push_back(saved.front());
    cntrl.addSavedSources(saved);
    EXPECT_EQ(cntrl.sources().size(), 11u);
    EXPECT_TRUE(alerts.presenter->shown.empty());
}

TEST(SourcesCntrl, EmptyFoldersSourcesLeaveOutDeletedFolders)
{
    kztest::TempDir dir;
    const fs::path kept = dir.mkdir("kept");
    const QVariantList folders{
        QVariantMap{{QStringLiteral("url"), QVariant::fromValue(dir / "gone")}, {QStringLiteral("locationLabelTag"), 2}},
        QVariantMap{{QStringLiteral("url"), QVariant::fromValue(kept)}, {QStringLiteral("locationLabelTag"), 5}},
    };
    const auto sources = KZSourcesCntrl::sharedControl().emptyFoldersSourcesWithFolders(folders);
    ASSERT_EQ(sources.size(), 1u);
    EXPECT_EQ(sources[0]->path(), kept);
    EXPECT_EQ(sources[0]->locationLabelTag(), 5);
    EXPECT_TRUE(KZSourcesCntrl::sharedControl().emptyFoldersSourcesWithFolders({folders[0]}).empty());
}

// A folder inside a photo library, or on the kernel's own file systems, is
// refused with its reason, however it was reached (chosen, dropped, named on
// the command line: all come here); the library itself is taken as the
// library. Without the refusal a removal would trash the library's masters.
TEST(SourcesCntrl, FoldersInsideALibraryOrOfTheKernelAreRefusedWithTheirReason)
{
    AlertScope alerts;
    kztest::TempDir dir;
    const fs::path masters = dir.mkdir("Lib.photoslibrary/Masters/2020");
    fs::create_directory_symlink(dir / "Lib.photoslibrary/Masters", dir / "to-masters");
    KZSourcesCntrl cntrl;
    std::vector<fs::path> chosen{dir / "Lib.photoslibrary/Masters", masters, dir / "to-masters", fs::path("/proc/self")};
    if (fs::exists("/sys/bus"))
        chosen.push_back("/sys/bus");
    cntrl.addChosenItems(chosen);

    EXPECT_TRUE(cntrl.sources().empty());
    ASSERT_EQ(alerts.presenter->shown.size(), chosen.size());
    EXPECT_EQ(alerts.presenter->count(QStringLiteral("inside a photo library")), 3);
    EXPECT_EQ(alerts.presenter->count(QStringLiteral("system’s own folders")), int(chosen.size()) - 3);
    EXPECT_EQ(alerts.presenter->count(platform::pathText(dir / "to-masters")), 1) << "named as chosen";
    // The follow-up search of emptied folders makes no such source either.
    EXPECT_FALSE(KZFilesUtilities::sharedControl().directoryInfoForPath(masters));

    cntrl.addChosenItems({dir / "Lib.photoslibrary"});
    ASSERT_EQ(cntrl.sources().size(), 1u);
    EXPECT_TRUE(cntrl.sources()[0]->isPhotosLib());
}

// A whole library shown at a plain path, by a bind mount or as the root of
// its own disk mounted a second time, is the library there too, not a plain
// folder or a disk whose masters a search would offer; its folders are
// refused as inside it.
TEST(SourcesCntrl, ALibraryShownAtAPlainPathIsTakenAsTheLibrary)
{
    const auto outcome = kztest::runWithPrivateMounts([] {
        AlertScope alerts;
        kztest::TempDir dir;
        dir.mkdir("Lib.photoslibrary/Masters");
        kztest::mountTmpfs(dir / "Disk.photoslibrary");
        dir.mkdir("Disk.photoslibrary/Masters");
        kztest::bindMount(dir / "Lib.photoslibrary", dir / "bound");
        kztest::bindMount(dir / "Disk.photoslibrary", dir / "again");
        KZSourcesCntrl cntrl;
        cntrl.addChosenItems({dir / "bound", dir / "again", dir / "bound/Masters", dir / "again/Masters"});
        ASSERT_EQ(cntrl.sources().size(), 2u);
        for (const KZSourceItemRef& source : cntrl.sources()) {
            EXPECT_TRUE(source->isPhotosLib()) << source->url();
            EXPECT_FALSE(source->isDisk()) << source->url();
        }
        EXPECT_EQ(alerts.presenter->count(QStringLiteral("inside a photo library")), 2);
    });
    if (outcome == kztest::Isolated::Unavailable)
        GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(outcome, kztest::Isolated::Passed);
}

// A folder reached through a link (~/Documents leading to /data/docs) is
// searched where the link leads, so that a removal, which follows no link,
// reaches its items; the tile still shows the name the user chose, and the
// same folder chosen both ways is one source.
TEST(SourcesCntrl, AFolderReachedThroughALinkIsTakenWhereItLeadsUnderItsChosenName)
{
    AlertScope alerts;
    kztest::TempDir dir;
    const fs::path top = fs::canonical(dir.path());
    dir.mkdir("data/docs/tree");
    fs::create_directory_symlink(top / "data/docs", top / "Documents");
    KZSourcesCntrl cntrl;
    RecordingView view(&cntrl);
    cntrl.setView(&view);
    cntrl.addChosenItems({top / "Documents", top / "Documents/tree", top / "data/docs", top / "Documents/"});

    ASSERT_EQ(cntrl.sources().size(), 2u);
    EXPECT_EQ(cntrl.sources()[0]->url(), top / "data/docs");
    EXPECT_EQ(cntrl.sources()[0]->path(), top / "data/docs");
    EXPECT_EQ(cntrl.sources()[1]->path(), top / "data/docs/tree");
    ASSERT_EQ(view.tiles.size(), 2u);
    EXPECT_EQ(view.tiles[0].name, QStringLiteral("Documents"));
    EXPECT_EQ(view.tiles[0].tip, platform::pathText(top / "Documents"));
    EXPECT_EQ(cntrl.sources()[0]->name(), QStringLiteral("Documents"));
    EXPECT_TRUE(alerts.presenter->shown.empty());
}

TEST(SourcesCntrl, TileNameDropsUpToTwoExtensions)
{
    kztest::TempDir dir;
    const struct {
        const char* folder;
        const char* name;
    } cases[] = {{"plain", "plain"}, {"backup.tar.gz", "backup"}, {"one.ext", "one"}};
    for (const auto& c : cases) {
        const auto source = KZSourceItem::create({{QStringLiteral("url"), QVariant::fromValue(dir.mkdir(c.folder))}});
        const KZSourceTile tile = KZSourcesCntrl::tileForSource(source);
        EXPECT_EQ(tile.name, QString::fromUtf8(c.name)) << c.folder;
        EXPECT_EQ(tile.tip, QString::fromStdString((dir / c.folder).string()));
        EXPECT_EQ(tile.source, source);
    }
}

} // namespace
