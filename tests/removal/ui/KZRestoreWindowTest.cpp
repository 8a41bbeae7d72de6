#include "../RemovalTestSupport.h"

#include "platform/Bookmark.h"
#include "removal/KZRestoreRemovedFiles.h"
#include "removal/KZUndoFile.h"
#include "removal/ui/KZRestoreProgressWindow.h"
#include "removal/ui/KZRestoreWindowCntrl.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QProgressDialog>
#include <QPushButton>
#include <QTreeWidget>

using namespace removaltest;

namespace {

fs::path undoFileOf(kztest::TempDir& dir, const std::vector<std::string>& names, double seconds)
{
    std::vector<KZPersistentUndoRecord> records;
    for (const auto& name : names) {
        KZPersistentUndoRecord r;
        r.oldPosition = dir.write(name, name);
        r.currPosition = *platform::moveToTrash(r.oldPosition);
        r.bookmark = platform::createBookmark(r.currPosition);
        records.push_back(r);
    }
    return *KZUndoFile::write(platform::homeTrashDirectory(), {}, records, seconds);
}

} // namespace

TEST(KZRestoreWindow, RestoresTheCheckedRowsAndClosesWhenNoneIsLeft)
{
    emptyTrash();
    ScopedAlerts alerts;
    kztest::TempDir dir;
    undoFileOf(dir, {"a"}, 100);
    undoFileOf(dir, {"b", "c"}, 200);
    KZRestoreRemovedFiles engine;
    KZRestoreWindowCntrl window(engine, platform::homeTrashDirectory());
    ASSERT_TRUE(window.areTherePermanentFiles());
    window.showWindow();
    ASSERT_EQ(window.list()->topLevelItemCount(), 2);

    // Nothing checked: an alert and nothing else.
    window.restoreAction();
    EXPECT_EQ(alerts.shown(), 1u);
    EXPECT_FALSE(window.isRestoring());

    // Check and uncheck leaves Restore off.
    window.list()->topLevelItem(0)->setCheckState(0, Qt::Checked);
    EXPECT_TRUE(window.restoreButton()->isEnabled());
    window.list()->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
    EXPECT_FALSE(window.restoreButton()->isEnabled());

    // A click on the check box checks without selecting; elsewhere it selects.
    for (int i = 0; i < 2; ++i) {
        const QRect box = window.list()->visualItemRect(window.list()->topLevelItem(i));
        const QPointF at(window.list()->columnViewportPosition(0) + 8, box.center().y());
        for (const auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QMouseEvent click(type, at, window.list()->viewport()->mapToGlobal(at), Qt::LeftButton,
                              type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, {});
            QApplication::sendEvent(window.list()->viewport(), &click);
        }
    }
    EXPECT_EQ(window.rows().selectedCount(), 2);
    EXPECT_TRUE(window.list()->selectedItems().isEmpty());
    EXPECT_TRUE(window.restoreButton()->isEnabled());
    window.restoreAction();
    EXPECT_FALSE(window.restoreButton()->isEnabled());
    EXPECT_FALSE(window.list()->topLevelItem(0)->flags() & Qt::ItemIsUserCheckable);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !window.isVisible(); }));
    EXPECT_EQ(alerts.shown(), 2u); // "3 items were put back"
    for (const char* name : {"a", "b", "c"})
        EXPECT_EQ(kztest::readFile(dir / name), name);
    EXPECT_FALSE(window.areTherePermanentFiles());
}

TEST(KZRestoreWindow, ProgressShowsOnTheWindowOnlyForLongWorkAndGoesAway)
{
    double now = 0;
    KZRestoreRemovedFiles engine;
    QWidget parent;
    engine.isWorking = true;
    QPointer<KZRestoreProgressWindow> progress =
        new KZRestoreProgressWindow(engine, &parent, QStringLiteral("working"), [&] { return now; });
    progress->tick();
    EXPECT_FALSE(progress->dialog()->isVisible());
    now = 0.8;
    engine.totToManage = 4;
    engine.managedCount = 1;
    progress->tick();
    EXPECT_TRUE(progress->dialog()->isVisible());
    EXPECT_EQ(progress->dialog()->value(), 25);
    EXPECT_EQ(progress->dialog()->windowModality(), Qt::WindowModal);
    engine.isWorking = false;
    progress->tick();
    EXPECT_TRUE(kztest::processEventsUntil([&] { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return progress.isNull();
    }));
}
