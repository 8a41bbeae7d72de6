#include "../RemovalTestSupport.h"

#include "platform/Bookmark.h"
#include "platform/StringTable.h"
#include "removal/KZRemovalJournal.h"
#include "removal/KZRestoreRemovedFiles.h"
#include "removal/KZUndoFile.h"
#include "removal/ui/KZRestoreProgressWindow.h"
#include "removal/ui/KZRestoreWindowCntrl.h"
#include "services/ui/KZMessageBoxPresenter.h"
#include "ManualClock.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QHelpEvent>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QTextDocument>
#include <QTest>
#include <QToolTip>
#include <QTreeWidget>

#include <algorithm>
#include <condition_variable>
#include <fstream>
#include <mutex>

using namespace removaltest;
using namespace Qt::StringLiterals;

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

// The latest removal first, whatever order the Trash lists its files in;
// the title is the menu command's; the focus frame goes round the row.
TEST(KZRestoreWindow, RowsComeLatestFirstUnderTheMenusTitle)
{
    emptyTrash();
    kztest::TempDir dir;
    // Written oldest, newest, middle: the Trash keeps no order of its own.
    undoFileOf(dir, {"a"}, 1000);
    undoFileOf(dir, {"b", "c", "d"}, 900000);
    undoFileOf(dir, {"e", "f"}, 50000);
    KZRestoreRemovedFiles engine;
    KZRestoreWindowCntrl window(engine, platform::homeTrashDirectory());
    window.showWindow();
    ASSERT_EQ(window.list()->topLevelItemCount(), 3);
    EXPECT_TRUE(window.list()->topLevelItem(0)->text(1).startsWith(QStringLiteral("3 items")));
    EXPECT_TRUE(window.list()->topLevelItem(1)->text(1).startsWith(QStringLiteral("2 items")));
    EXPECT_TRUE(window.list()->topLevelItem(2)->text(1).startsWith(QStringLiteral("1 item ")));
    // Restoring the bottom rows first still means the oldest first.
    window.list()->topLevelItem(0)->setCheckState(0, Qt::Checked);
    window.list()->topLevelItem(2)->setCheckState(0, Qt::Checked);
    const auto bottomUp = window.rows().checkedPathsBottomUp();
    ASSERT_EQ(bottomUp.size(), 2u);
    EXPECT_EQ(bottomUp[0], window.rows().rows()[2].path);

    QString command = platform::localizedString(QStringLiteral("menu_restore"));
    command.remove(QChar(0x2026));
    EXPECT_EQ(window.windowTitle(), command.trimmed());

    // The current row shows as a whole row, its text included.
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    window.list()->setFocus();
    window.list()->setCurrentItem(window.list()->topLevelItem(0), 0, QItemSelectionModel::NoUpdate);
    ASSERT_TRUE(window.list()->selectedItems().isEmpty());
    const QImage shot = window.list()->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const double ratio = shot.devicePixelRatio();
    // The far end of each row, past its text: only a frame round the whole
    // row reaches there.
    auto endOfRow = [&](int row) {
        const QRect at = window.list()->visualItemRect(window.list()->topLevelItem(row));
        const QRect end(QPoint(int((at.right() - 30) * ratio), int(at.top() * ratio)),
                        QPoint(int(at.right() * ratio), int(at.bottom() * ratio)));
        return shot.copy(end);
    };
    EXPECT_NE(endOfRow(0), endOfRow(2));
    EXPECT_EQ(endOfRow(1), endOfRow(2));
    window.close();
    emptyTrash();
}

TEST(KZRestoreWindow, ProgressShowsOnTheWindowOnlyForLongWorkAndGoesAway)
{
    kztest::ScopedManualClock clock;
    KZRestoreRemovedFiles engine;
    QWidget parent;
    engine.isWorking = true;
    QPointer<KZRestoreProgressWindow> progress =
        new KZRestoreProgressWindow(engine, &parent, QStringLiteral("working"));
    progress->tick();
    EXPECT_FALSE(progress->dialog()->isVisible());
    clock->advance(0.8);
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

// Work that ends before the delay never shows the dialog, not even for a
// moment: hiding it would bring the restore window forward, above the alert
// that tells the outcome, and leave the program looking stuck.
TEST(KZRestoreWindow, ProgressOfShortWorkNeverShows)
{
    struct ShowCounter : QObject {
        int shows = 0;
        bool eventFilter(QObject*, QEvent* event) override
        {
            shows += event->type() == QEvent::Show;
            return false;
        }
    } counter;
    kztest::ScopedManualClock clock;
    KZRestoreRemovedFiles engine;
    QWidget parent;
    parent.show();
    engine.isWorking = true;
    engine.totToManage = 3;
    engine.managedCount = 3;
    QPointer<KZRestoreProgressWindow> progress =
        new KZRestoreProgressWindow(engine, &parent, QStringLiteral("working"));
    progress->dialog()->installEventFilter(&counter);
    progress->tick();
    clock->advance(0.1);
    engine.isWorking = false;
    progress->tick();
    EXPECT_EQ(counter.shows, 0);
    EXPECT_TRUE(kztest::processEventsUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return progress.isNull();
    }));
}

// A restore that could not put everything back keeps the row of what is
// left, says how many items stayed and why, and leaves the window open.
TEST(KZRestoreWindow, ItemsThatStayedKeepTheirRowAndAreTold)
{
    emptyTrash();
    ScopedAlerts alerts;
    kztest::TempDir dir;
    undoFileOf(dir, {"a"}, 100);
    const fs::path second = undoFileOf(dir, {"b", "c"}, 200);
    dir.write("b", "the user's new b");
    KZRestoreRemovedFiles engine;
    KZRestoreWindowCntrl window(engine, platform::homeTrashDirectory());
    window.showWindow();
    ASSERT_EQ(window.list()->topLevelItemCount(), 2);
    window.list()->topLevelItem(0)->setCheckState(0, Qt::Checked);
    window.list()->topLevelItem(1)->setCheckState(0, Qt::Checked);
    // The outcome is told once the progress has gone: its hiding raises the
    // window, which would cover an alert shown before.
    bool progressLeft = false;
    alerts.presenter->script = [&](const KZAlertPresenter::Alert&) {
        progressLeft = !window.findChildren<QProgressDialog*>().isEmpty();
        return KZAlertPresenter::Answer{};
    };
    window.restoreAction();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !window.isRestoring() && alerts.shown() > 0; }));

    ASSERT_EQ(alerts.shown(), 1u);
    EXPECT_FALSE(progressLeft);
    const auto& told = alerts.presenter->calls[0].alert;
    EXPECT_EQ(told.messageText, QStringLiteral("2 items were put back, but one could not be."));
    EXPECT_EQ(told.style, KZAlertPresenter::Style::Warning);
    EXPECT_FALSE(told.informativeText.isEmpty());
    EXPECT_TRUE(window.isVisible());
    ASSERT_EQ(window.rows().rows().size(), 1u);
    EXPECT_EQ(window.rows().rows()[0].path, second);
    EXPECT_TRUE(window.list()->topLevelItem(0)->text(1).startsWith(QStringLiteral("1 item trashed at")))
        << window.list()->topLevelItem(0)->text(1).toStdString();
    EXPECT_EQ(kztest::readFile(dir / "b"), "the user's new b");
    window.close();
}

// A row left after a Restore tells in its tooltip how many of its items did
// not go back and why, each row its own; a row put back wholly goes, and a
// later Restore of a row replaces what it tells. Nothing of it outlives the
// window: the undo file keeps no reason.
TEST(KZRestoreWindow, ARowKeptByARestoreTellsWhyInItsTooltip)
{
    emptyTrash();
    ScopedAlerts alerts;
    kztest::TempDir dir;
    const fs::path one = undoFileOf(dir, {"a", "e"}, 100);
    const fs::path two = undoFileOf(dir, {"b", "c"}, 200);
    dir.write("a", "the user's new a");
    dir.write("b", "the user's new b");
    dir.write("c", "the user's new c");
    KZRestoreRemovedFiles engine;
    auto window = std::make_unique<KZRestoreWindowCntrl>(engine, platform::homeTrashDirectory());
    window->showWindow();
    const auto tooltipOf = [&](const fs::path& file) {
        const auto& rows = window->rows().rows();
        for (std::size_t i = 0; i < rows.size(); ++i)
            if (rows[i].path == file)
                return window->list()->topLevelItem(int(i))->toolTip(1);
        return QStringLiteral("no row");
    };
    const auto restore = [&](const std::vector<fs::path>& files) {
        const std::size_t before = alerts.shown();
        for (int i = 0; i < window->list()->topLevelItemCount(); ++i) {
            const bool chosen = std::find(files.begin(), files.end(), window->rows().rows()[std::size_t(i)].path)
                                != files.end();
            window->list()->topLevelItem(i)->setCheckState(0, chosen ? Qt::Checked : Qt::Unchecked);
        }
        window->restoreAction();
        return kztest::processEventsUntil([&] { return !window->isRestoring() && alerts.shown() > before; });
    };
    ASSERT_EQ(window->list()->topLevelItemCount(), 2);
    EXPECT_TRUE(tooltipOf(one).isEmpty());

    ASSERT_TRUE(restore({one, two}));
    const QString occupied = platform::localizedString(QStringLiteral("not_restored_occupied"), QStringLiteral("Errors"));
    EXPECT_TRUE(tooltipOf(one).contains(u"one of its items could not go back"_s)) << tooltipOf(one).toStdString();
    EXPECT_TRUE(tooltipOf(one).endsWith(occupied)) << tooltipOf(one).toStdString();
    EXPECT_TRUE(tooltipOf(two).contains(u"2 of its items could not go back"_s)) << tooltipOf(two).toStdString();
    EXPECT_TRUE(tooltipOf(two).endsWith(occupied));
    EXPECT_EQ(kztest::readFile(dir / "e"), "e");

    // The first row's place is free again: it goes back and its row goes;
    // the other row still tells its own reason.
    fs::remove(dir / "a");
    ASSERT_TRUE(restore({one}));
    EXPECT_EQ(tooltipOf(one), u"no row"_s);
    EXPECT_TRUE(tooltipOf(two).endsWith(occupied));
    // One of the two is free: the next Restore's count replaces the last.
    fs::remove(dir / "b");
    ASSERT_TRUE(restore({two}));
    EXPECT_TRUE(tooltipOf(two).contains(u"one of its items could not go back"_s)) << tooltipOf(two).toStdString();
    window->close();

    // A window made anew, as after a restart, knows no reason.
    window = std::make_unique<KZRestoreWindowCntrl>(engine, platform::homeTrashDirectory());
    window->showWindow();
    ASSERT_EQ(window->list()->topLevelItemCount(), 1);
    EXPECT_TRUE(tooltipOf(two).isEmpty()) << tooltipOf(two).toStdString();
    window->close();
}

TEST(KZRestoreWindow, AllPutBackIsToldAsInformation)
{
    emptyTrash();
    ScopedAlerts alerts;
    kztest::TempDir dir;
    undoFileOf(dir, {"a"}, 100);
    KZRestoreRemovedFiles engine;
    KZRestoreWindowCntrl window(engine, platform::homeTrashDirectory());
    window.showWindow();
    window.list()->topLevelItem(0)->setCheckState(0, Qt::Checked);
    window.restoreAction();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !window.isVisible(); }));
    ASSERT_EQ(alerts.shown(), 1u);
    EXPECT_EQ(alerts.presenter->calls[0].alert.messageText, QStringLiteral("One item was put back."));
    EXPECT_EQ(alerts.presenter->calls[0].alert.style, KZAlertPresenter::Style::Warning);
}

// A removal that never ended left only its journal: the window lists it.
TEST(KZRestoreWindow, ARemovalThatNeverEndedIsListed)
{
    emptyTrash();
    kztest::TempDir dir;
    {
        auto journal = KZRemovalJournal::begin();
        ASSERT_TRUE(journal);
        KZPersistentUndoRecord r;
        r.oldPosition = dir.write("a", "a");
        r.currPosition = *platform::moveToTrash(r.oldPosition);
        r.bookmark = platform::createBookmark(r.currPosition);
        journal->append(r);
    } // closed without its undo file, as after a crash
    KZRestoreRemovedFiles engine;
    KZRestoreWindowCntrl window(engine, platform::homeTrashDirectory());
    EXPECT_TRUE(window.areTherePermanentFiles());
    window.showWindow();
    ASSERT_EQ(window.list()->topLevelItemCount(), 1);
    EXPECT_TRUE(window.list()->topLevelItem(0)->text(1).startsWith(QStringLiteral("1 item trashed at")));
    EXPECT_TRUE(KZRemovalJournal::list(platform::homeTrashDirectory()).empty());
    window.close();
}

// The row of an undo file that could not be read says why, and the whole
// reason can be read at the window's own width: the row is as tall as its
// wrapped text, grows when the window narrows, and its tooltip holds it all.
TEST(KZRestoreWindow, TheReasonAnUndoFileWasNotReadIsReadWhole)
{
    emptyTrash();
    kztest::TempDir dir;
    undoFileOf(dir, {"kept"}, 100);
    const fs::path broken = undoFileOf(dir, {"a"}, 200);
    std::ofstream(broken, std::ios::binary | std::ios::trunc) << "not an undo file at all";
    KZRestoreRemovedFiles engine;
    KZRestoreWindowCntrl window(engine, platform::homeTrashDirectory());
    window.showWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTreeWidget* list = window.list();
    ASSERT_EQ(list->topLevelItemCount(), 2);
    QTreeWidgetItem* row = list->topLevelItem(0);
    const QString problem = window.rows().rows().front().problem;
    ASSERT_FALSE(problem.isEmpty());
    EXPECT_EQ(row->text(1), KZRestoreList::unreadRowText(200));
    EXPECT_FALSE(row->text(1).contains(problem));
    EXPECT_TRUE(row->toolTip(1).contains(problem));
    EXPECT_TRUE(list->topLevelItem(1)->toolTip(1).isEmpty()) << "a row that was read needs no tooltip";

    const auto needed = [&] {
        const QRect room(0, 0, list->columnWidth(1) - 6, 10000);
        return list->fontMetrics().boundingRect(room, Qt::TextWordWrap, row->text(1)).height();
    };
    const int oneLine = list->visualItemRect(list->topLevelItem(1)).height();
    EXPECT_GT(needed(), oneLine) << "the reason is longer than a line at this width";
    EXPECT_GE(list->visualItemRect(row).height(), needed());
    const int wide = list->visualItemRect(row).height();
    const int neededWide = needed();
    window.resize(window.width() / 2, window.height());
    ASSERT_TRUE(kztest::processEventsUntil([&] { return needed() > neededWide; }));
    EXPECT_TRUE(kztest::processEventsUntil([&] { return list->visualItemRect(row).height() >= needed(); }))
        << list->visualItemRect(row).height() << " " << needed() << " " << wide;
    EXPECT_GT(list->visualItemRect(row).height(), wide);
    EXPECT_LT(list->visualItemRect(list->topLevelItem(1)).height(), list->visualItemRect(row).height());

    // The tooltip, however long its reason, is wrapped to a readable width
    // and keeps its own line breaks and every character.
    const QString tip = row->toolTip(1) + u" <&> "_s + QString(400, u'w').replace(u"wwwwwwwwww"_s, u"wwwwwwwww "_s);
    row->setToolTip(1, tip);
    const QPoint at = list->visualItemRect(row).center();
    QHelpEvent help(QEvent::ToolTip, at, list->viewport()->mapToGlobal(at));
    QApplication::sendEvent(list->viewport(), &help);
    QLabel* shown = nullptr;
    ASSERT_TRUE(kztest::processEventsUntil([&] {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->objectName() == u"qtooltip_label"_s && top->isVisible())
                shown = qobject_cast<QLabel*>(top);
        return shown != nullptr;
    }));
    EXPECT_GT(list->fontMetrics().horizontalAdvance(tip), 1000);
    EXPECT_LE(shown->width(), 640);
    EXPECT_GE(shown->height(), 5 * list->fontMetrics().height());
    QTextDocument document;
    document.setHtml(shown->text());
    EXPECT_EQ(document.toPlainText(), tip);
    QToolTip::hideText();
    window.close();
}

// Edit > Undo of a removal shows its progress centred, late and briefly,
// and tells what it could not put back.
TEST(KZRestoreWindow, AnInProgramUndoShowsItsProgressCentredAndTellsWhatStayed)
{
    ScopedAlerts alerts;
    kztest::TempDir dir;
    KZRestoreRemovedFiles engine;
    // Keeps the engine's queue busy until the window has been looked at.
    std::mutex mutex;
    std::condition_variable changed;
    bool holding = false, release = false;
    engine.undoMove({}, [&](const KZRestoreRemovedFiles::UndoOutcome&) {
        std::unique_lock lock(mutex);
        holding = true;
        changed.notify_all();
        changed.wait(lock, [&] { return release; });
    });
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return holding; }));
    }

    dir.write("src/taken", "user");
    KZUndoDict dict;
    dict.standardUndo.push_back({dir.write("dest/taken", "T"), dir / "src/taken"});
    kztest::ScopedManualClock clock;
    QPointer<KZRestoreProgressWindow> progress = KZRestoreProgressWindow::undoWithProgress(engine, dict);
    ASSERT_TRUE(progress);
    progress->tick();
    EXPECT_FALSE(progress->dialog()->isVisible()) << "short work shows nothing";
    clock->advance(0.75);
    progress->tick();
    ASSERT_TRUE(progress->dialog()->isVisible());
    EXPECT_EQ(progress->dialog()->parentWidget(), nullptr);
    EXPECT_EQ(progress->dialog()->windowModality(), Qt::ApplicationModal);
    const QPoint centre = progress->dialog()->screen()->availableGeometry().center();
    EXPECT_LE((progress->dialog()->geometry().center() - centre).manhattanLength(), 4);

    {
        std::lock_guard lock(mutex);
        release = true;
    }
    changed.notify_all();
    engine.waitUntilIdle();
    ASSERT_TRUE(kztest::processEventsUntil([&] {
        if (progress)
            progress->tick();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return progress.isNull() && alerts.shown() == 1;
    }));
    EXPECT_EQ(alerts.presenter->calls[0].alert.messageText, QStringLiteral("One item could not be put back."));
    EXPECT_EQ(kztest::readFile(dir / "src/taken"), "user");
    EXPECT_EQ(kztest::readFile(dir / "dest/taken"), "T");
}

// Pictures for scripts/screenshots.sh: the list, what a partial restore
// tells, a full restore's message and the progress of Edit > Undo.
TEST(RestoreWindowShots, ListAlertsAndUndoProgress)
{
    const QString shots = qEnvironmentVariable("MARAVEX_SHOTS_DIR");
    if (shots.isEmpty())
        GTEST_SKIP() << "pictures only when MARAVEX_SHOTS_DIR is set";
    QDir().mkpath(shots);
    auto settle = [] { kztest::processEventsUntil([] { return false; }, std::chrono::milliseconds(600)); };
    auto save = [&](QWidget* widget, const char* name) {
        settle();
        EXPECT_TRUE(widget->grab().save(shots + QLatin1Char('/') + QLatin1String(name)));
    };
    auto saveAlert = [&](const KZAlertPresenter::Alert& alert, const char* name) {
        auto box = KZMessageBoxPresenter::createMessageBox(alert);
        box->show();
        save(box.get(), name);
    };

    emptyTrash();
    ScopedAlerts alerts;
    kztest::TempDir dir;
    const double now = KZUndoFile::nowSinceReferenceDate();
    undoFileOf(dir, {"holiday.jpg"}, now - 7200);
    undoFileOf(dir, {"notes.txt", "notes copy.txt", "report.pdf"}, now - 3600);
    undoFileOf(dir, {"track01.mp3", "track02.mp3"}, now - 60);
    // One whose undo file was damaged: its row says why, whole.
    const fs::path damaged = undoFileOf(dir, {"old.txt"}, now - 10800);
    std::ofstream(damaged, std::ios::binary | std::ios::trunc) << "damaged";
    dir.write("notes.txt", "a new file of the same name");
    KZRestoreRemovedFiles engine;
    KZRestoreWindowCntrl window(engine, platform::homeTrashDirectory());
    window.showWindow();
    // The Trash lists its files in no set order: the row is found by its text.
    auto rowStarting = [&](const QString& start) {
        for (int i = 0; i < window.list()->topLevelItemCount(); ++i)
            if (window.list()->topLevelItem(i)->text(1).startsWith(start))
                return window.list()->topLevelItem(i);
        return static_cast<QTreeWidgetItem*>(nullptr);
    };
    ASSERT_TRUE(rowStarting(QStringLiteral("3 items")));
    rowStarting(QStringLiteral("3 items"))->setCheckState(0, Qt::Checked);
    save(&window, "restore-window.png");

    window.restoreAction();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !window.isRestoring() && alerts.shown() > 0; }));
    ASSERT_EQ(alerts.shown(), 1u);
    save(&window, "restore-window-after-partial.png");
    saveAlert(alerts.presenter->calls[0].alert, "restore-not-put-back.png");

    // The row left behind keeps its check mark; this time only the music goes back.
    for (int i = 0; i < window.list()->topLevelItemCount(); ++i)
        window.list()->topLevelItem(i)->setCheckState(0, Qt::Unchecked);
    ASSERT_TRUE(rowStarting(QStringLiteral("2 items")));
    rowStarting(QStringLiteral("2 items"))->setCheckState(0, Qt::Checked);
    window.restoreAction();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return alerts.shown() == 2; }));
    saveAlert(alerts.presenter->calls[1].alert, "restore-put-back.png");
    window.close();

    // Held on screen with a hand-set clock while the queue is kept busy.
    std::mutex mutex;
    std::condition_variable changed;
    bool holding = false, release = false;
    engine.undoMove({}, [&](const KZRestoreRemovedFiles::UndoOutcome&) {
        std::unique_lock lock(mutex);
        holding = true;
        changed.notify_all();
        changed.wait(lock, [&] { return release; });
    });
    {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(10), [&] { return holding; });
    }
    KZUndoDict dict;
    for (int i = 0; i < 8; ++i)
        dict.standardUndo.push_back({dir.write("dest/" + std::to_string(i), "x"), dir / ("src/" + std::to_string(i))});
    kztest::ScopedManualClock clock;
    QPointer<KZRestoreProgressWindow> progress = KZRestoreProgressWindow::undoWithProgress(engine, dict);
    clock->advance(1);
    engine.totToManage = 8;
    engine.managedCount = 3;
    progress->tick();
    save(progress->dialog(), "undo-progress.png");
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    changed.notify_all();
    engine.waitUntilIdle();
    kztest::processEventsUntil([&] {
        if (progress)
            progress->tick();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return progress.isNull();
    });
}
