#include "result/window/ui/KZResultFileProgressSheet.h"

#include "resultfiles/KZExportResult.h"
#include "services/ui/KZGenericProgressWindowCntrl.h"
#include "services/ui/KZProgressWindow.h"

#include "HeldDisk.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include <gtest/gtest.h>

// A slow export: no sheet at 0.69 s, a window-modal sheet over the window at
// 0.7 s; Stop reaches the job, and the sheet stays until the job has ended.
TEST(ResultFileProgressSheet, ShowsAfterTheDelayAndStopsTheJob)
{
    kztest::TempDir dir;
    QWidget window;
    window.resize(600, 400);
    window.show();
    kztest::HeldDisk disk;
    double now = 1000.0;
    auto job = KZExportResult::create();
    job->setDrivesOwnClock(false);
    job->setTimeSource([&now] { return now; });
    job->setWriteFunction(disk.function());
    KZResultFileProgressSheet::attach(*job, &window);
    job->exportSnapshot({}, dir / "slow.txt");
    ASSERT_TRUE(kztest::waitUntil([&disk] { return disk.entered.load(); }));

    now = 1000.69;
    EXPECT_FALSE(job->tick());
    QCoreApplication::processEvents();
    EXPECT_EQ(window.findChild<KZProgressWindow*>(), nullptr);

    now = 1000.7;
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
    double now = 1000.0;
    auto job = KZExportResult::create();
    job->setDrivesOwnClock(false);
    job->setTimeSource([&now] { return now; });
    job->setWriteFunction(disk.function());
    KZResultFileProgressSheet::attach(*job, &window);
    job->exportSnapshot({}, dir / "slow.txt");
    ASSERT_TRUE(kztest::waitUntil([&disk] { return disk.entered.load(); }));
    now = 1001.0;
    job->tick();
    QCoreApplication::processEvents();
    KZProgressWindow* sheet = window.findChild<KZProgressWindow*>();
    ASSERT_NE(sheet, nullptr);
    sheet->reject();
    EXPECT_TRUE(sheet->isVisible());
    now = 1001.2;
    job->tick();
    QCoreApplication::processEvents();
    EXPECT_TRUE(job->wasStopped());
    disk.release();
    ASSERT_TRUE(kztest::waitUntil([&job] { return !job->isWorking(); }));
    job->tick();
    QCoreApplication::processEvents();
    EXPECT_TRUE(job->didFinish());
}
