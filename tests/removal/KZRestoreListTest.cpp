#include "RemovalTestSupport.h"

#include "platform/Bookmark.h"
#include "removal/KZRestoreList.h"
#include "services/KZProgressDisplayRule.h"
#include "removal/KZUndoFile.h"
#include "ManualClock.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>

using namespace removaltest;

namespace {

fs::path undoFileWith(int items, double seconds)
{
    kztest::TempDir dir;
    std::vector<KZPersistentUndoRecord> records;
    for (int i = 0; i < items; ++i) {
        KZPersistentUndoRecord r;
        r.oldPosition = dir / ("f" + std::to_string(i));
        r.bookmark = QByteArray("b");
        records.push_back(r);
    }
    return *KZUndoFile::write(platform::homeTrashDirectory(), {}, records, seconds);
}

} // namespace

TEST(KZRestoreList, RowsCountTheItemsOfEachFileAndCloseWhenRestored)
{
    emptyTrash();
    KZRestoreList list(platform::homeTrashDirectory());
    list.permanentItems();
    EXPECT_TRUE(list.rows().empty());
    EXPECT_FALSE(KZRestoreList::areTherePermanentFiles(platform::homeTrashDirectory()));

    const fs::path one = undoFileWith(1, 100.0);
    const fs::path three = undoFileWith(3, 200.0);
    fs::create_directories(trashFiles());
    { std::ofstream(trashFiles() / ".Maravex4_") << "damaged"; }
    EXPECT_TRUE(KZRestoreList::areTherePermanentFiles(platform::homeTrashDirectory()));
    list.permanentItems();
    ASSERT_EQ(list.rows().size(), 3u);
    std::map<fs::path, QString> texts;
    for (const auto& row : list.rows())
        texts[row.path] = row.name;
    EXPECT_TRUE(texts[one].startsWith(QStringLiteral("1 item trashed at "))) << texts[one].toStdString();
    EXPECT_TRUE(texts[three].startsWith(QStringLiteral("3 items trashed at "))) << texts[three].toStdString();
    // Unreadable: how many it trashed is not known, and no count is made up.
    EXPECT_EQ(texts[trashFiles() / ".Maravex4_"], KZRestoreList::unreadRowText(0));

    // Checking and unchecking leaves Restore off; the bottom row comes first.
    EXPECT_TRUE(list.toggle(0));
    EXPECT_FALSE(list.toggle(0));
    list.toggle(0);
    list.toggle(2);
    EXPECT_EQ(list.checkedPathsBottomUp(), (std::vector<fs::path>{list.rows()[2].path, list.rows()[0].path}));
    const auto done = list.checkedPathsBottomUp();
    list.removeRows(done);
    ASSERT_EQ(list.rows().size(), 1u);
    EXPECT_EQ(list.selectedCount(), 0);
    list.removeRows({list.rows()[0].path});
    EXPECT_TRUE(list.rows().empty());
}

TEST(KZRestoreProgressRule, ShowsOnlyAfterTheDelayRefreshesTenTimesASecondAndEnds)
{
    kztest::ScopedManualClock clock;
    const double origin = clock->now();
    auto at = [&](double seconds) { clock->advance(origin + seconds - clock->now()); };
    KZProgressDisplayRule progress;
    progress.startSession();
    struct Tick {
        double at;
        bool working;
        bool show, refresh, terminate;
    };
    const Tick ticks[] = {
        {0.0, true, false, false, false}, {0.69, true, false, false, false}, {0.7, true, true, true, false},
        {0.75, true, false, false, false}, {0.81, true, false, true, false}, {0.85, true, false, false, false},
        {2.0, false, false, false, true},  {2.1, false, false, false, false},
    };
    for (const auto& t : ticks) {
        at(t.at);
        const auto step = progress.step(t.working);
        EXPECT_EQ(step.show, t.show) << t.at;
        EXPECT_EQ(step.refresh, t.refresh) << t.at;
        EXPECT_EQ(step.terminate, t.terminate) << t.at;
    }
    // A short job never shows anything but still ends.
    progress.startSession();
    at(2.5);
    const auto step = progress.step(false);
    EXPECT_TRUE(step.terminate);
    EXPECT_FALSE(step.show);
    EXPECT_FALSE(progress.isVisible());
    EXPECT_FALSE(progress.sessionRunning());

    EXPECT_EQ(KZProgressDisplayRule::percent(5, 0), 0.0);
    EXPECT_EQ(KZProgressDisplayRule::percent(1, 4), 25.0);
    EXPECT_EQ(KZProgressDisplayRule::percent(9, 4), 100.0);
}
