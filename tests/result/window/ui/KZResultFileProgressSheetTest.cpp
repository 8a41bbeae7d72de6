#include "result/window/ui/KZResultFileProgressSheet.h"

#include "engine/TreeToCheck.h"
#include "result/model/KZFoundItem.h"
#include "resultfiles/KZExportResult.h"
#include "resultfiles/KZSaveResult.h"
#include "services/ui/KZGenericProgressWindowCntrl.h"
#include "services/ui/KZProgressWindow.h"

#include "HeldDisk.h"
#include "ManualClock.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QHeaderView>
#include <QMainWindow>
#include <QPainter>
#include <QTest>
#include <QTreeWidget>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

// A slow export: no sheet at 0.69 s, a window-modal sheet over the window at
// 0.7 s; Stop reaches the job, and the sheet stays until the job has ended.
TEST(ResultFileProgressSheet, ShowsAfterTheDelayAndStopsTheJob)
{
    kztest::TempDir dir;
    QWidget window;
    window.resize(600, 400);
    window.show();
    kztest::HeldDisk disk;
    kztest::ScopedManualClock clock;
    auto job = KZExportResult::create();
    job->setDrivesOwnClock(false);
    job->setWriteFunction(disk.function());
    KZResultFileProgressSheet::attach(*job, &window);
    job->exportSnapshot({}, dir / "slow.txt");
    ASSERT_TRUE(kztest::waitUntil([&disk] { return disk.entered.load(); }));

    clock->advance(1000.69 - clock->now());
    EXPECT_FALSE(job->tick());
    QCoreApplication::processEvents();
    EXPECT_EQ(window.findChild<KZProgressWindow*>(), nullptr);

    clock->advance(1000.7 - clock->now());
    EXPECT_FALSE(job->tick());
    QCoreApplication::processEvents();
    KZProgressWindow* sheet = window.findChild<KZProgressWindow*>();
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    auto* count = sheet->findChild<QLabel*>(QStringLiteral("countFld"));
    ASSERT_NE(count, nullptr);
    EXPECT_FALSE(count->text().contains(u'%')) << count->text().toStdString();

    auto* stop = sheet->findChild<QPushButton*>(QStringLiteral("stopBtn"));
    ASSERT_NE(stop, nullptr);
    stop->click();
    EXPECT_TRUE(job->wasStopped());
    EXPECT_FALSE(stop->isEnabled());
    EXPECT_TRUE(sheet->isVisible()) << "the work still runs";

    disk.release();
    ASSERT_TRUE(kztest::waitUntil([&job] { return !job->isWorking(); }));
    EXPECT_TRUE(job->tick());
    QCoreApplication::processEvents();
    EXPECT_TRUE(job->didFinish());
    EXPECT_EQ(window.findChild<KZProgressWindow*>(), nullptr);
}

// Escape and the close button only raise the window's flag; the next
// refresh passes it on to the job.
TEST(ResultFileProgressSheet, EscapeStopsTheJobAtTheNextRefresh)
{
    kztest::TempDir dir;
    QWidget window;
    window.show();
    kztest::HeldDisk disk;
    kztest::ScopedManualClock clock;
    auto job = KZExportResult::create();
    job->setDrivesOwnClock(false);
    job->setWriteFunction(disk.function());
    KZResultFileProgressSheet::attach(*job, &window);
    job->exportSnapshot({}, dir / "slow.txt");
    ASSERT_TRUE(kztest::waitUntil([&disk] { return disk.entered.load(); }));
    clock->advance(1001.0 - clock->now());
    job->tick();
    QCoreApplication::processEvents();
    KZProgressWindow* sheet = window.findChild<KZProgressWindow*>();
    ASSERT_NE(sheet, nullptr);
    sheet->reject();
    EXPECT_TRUE(sheet->isVisible());
    clock->advance(1001.2 - clock->now());
    job->tick();
    QCoreApplication::processEvents();
    EXPECT_TRUE(job->wasStopped());
    disk.release();
    ASSERT_TRUE(kztest::waitUntil([&job] { return !job->isWorking(); }));
    job->tick();
    QCoreApplication::processEvents();
    EXPECT_TRUE(job->didFinish());
}

// The sheet of a slow save as a user sees it over the result window (only
// when MARAVEX_SHOTS_DIR is set; scripts/screenshots.sh does).
TEST(ResultFileSheetShots, SaveInProgress)
{
    const QString shots = qEnvironmentVariable("MARAVEX_SHOTS_DIR");
    if (shots.isEmpty())
        GTEST_SKIP() << "pictures only when MARAVEX_SHOTS_DIR is set";
    kztest::TempDir dir;
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Maravex"));
    auto* list = new QTreeWidget(&window);
    list->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Folder"), QStringLiteral("Size")});
    for (int i = 0; i < 12; ++i)
        list->addTopLevelItem(new QTreeWidgetItem(
            {QStringLiteral("photo-%1.jpg").arg(i), QStringLiteral("/home/user/Pictures/Backup"), QStringLiteral("2.4 MB")}));
    list->header()->resizeSection(0, 220);
    list->header()->resizeSection(1, 300);
    window.setCentralWidget(list);
    window.resize(760, 420);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, kztest::kPatienceMs));

    kztest::HeldDisk disk;
    kztest::ScopedManualClock clock;
    auto job = KZSaveResult::create();
    job->setDrivesOwnClock(false);
    job->setWriteFunction(disk.function());
    KZResultFileProgressSheet::attach(*job, &window);
    KZSaveSnapshot snapshot;
    for (int i = 0; i < 40; ++i) {
        const fs::path file = dir.write("file" + std::to_string(i), "copy");
        snapshot.items.append(KZFoundItem::itemWithTreeNode(TreeToCheck(KZSearchItemInfo::create(file))));
    }
    job->saveSnapshot(snapshot, dir / "result.maravex");
    ASSERT_TRUE(kztest::waitUntil([&disk] { return disk.entered.load(); }));
    clock->advance(1001.0 - clock->now());
    job->tick();
    KZProgressWindow* sheet = nullptr;
    ASSERT_TRUE(kztest::processEventsUntil([&] {
        sheet = window.findChild<KZProgressWindow*>();
        return sheet && sheet->isVisible();
    }));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet, kztest::kPatienceMs));

    QImage canvas(window.size(), QImage::Format_ARGB32);
    QPainter painter(&canvas);
    painter.drawPixmap(0, 0, window.grab());
    // A sheet hangs from the window with a shadow the window manager draws;
    // the picture draws a plain one.
    const QRect at(window.mapFromGlobal(sheet->geometry().topLeft()), sheet->size());
    for (int i = 1; i <= 6; ++i)
        painter.fillRect(at.adjusted(-i, 0, i, i), QColor(0, 0, 0, 10));
    painter.drawPixmap(at.topLeft(), sheet->grab());
    painter.setPen(QColor(150, 154, 162));
    painter.drawRect(at.adjusted(0, -1, -1, -1));
    painter.end();
    EXPECT_TRUE(canvas.save(QDir(shots).filePath(QStringLiteral("result-save-progress.png"))));

    disk.release();
    ASSERT_TRUE(kztest::waitUntil([&job] { return !job->isWorking(); }));
    job->tick();
    QCoreApplication::processEvents();
}
