#include "app/search/KZMusicLibraryReading.h"
#include "app/search/ui/KZMusicLibraryReadingSheet.h"
#include "app/search/ui/KZSearchView.h"
#include "app/search/ui/KZSearchWindowCntrl.h"
#include "app/search/ui/KZSearchWindowLayout.h"
#include "media/KZiTunesSupport.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "services/KZFilesUtilities.h"
#include "services/KZMusicLibraryFolders.h"
#include "services/ui/KZGenericProgressWindowCntrl.h"
#include "services/ui/KZLinearProgressIndicatorView.h"
#include "settings/KZDefaultsKeys.h"
#include "support/HeldMusicReader.h"
#include "support/LibraryFixtures.h"
#include "support/UnreadExports.h"

#include "app/search/SearchTestSupport.h"
#include "app/ui/SettledTransitions.h"
#include "TestSupport.h"

#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <thread>

using namespace searchtest;
namespace fs = std::filesystem;

namespace {

// The search window as the program builds it, a folder of one duplicate
// pair among its sources, and a music library export named by the default
// whose reading the file services consult, as the program installs them.
struct SearchWithLibrary {
    AlertScope alerts;
    kztest::ScopedDefaults defaults;
    kztest::TempDir tree;
    fs::path media = tree.mkdir("Music/Media");
    fs::path exportFile = tree.path() / "Music/Library.xml";
    QObject owner;
    KZSearchWindowLayout layout = buildSearchWindowLayout(&owner);
    KZSearchWindowCntrl* cntrl = layout.windowCntrl;
    KZSearchView* view = cntrl->searchView();

    SearchWithLibrary()
    {
        KZiTunesSupport::setSharedControl(nullptr);
        defaults->setValue(KZDefaultsKey::iTunes_library_path, QFile::decodeName(exportFile.c_str()));
        KZiTunesSupport::installMediaFolderProvider();
        kztest::MusicLibraryBuilder(media).fileTrack(1, 1, media / "a.mp3", QStringLiteral("A")).write(exportFile);
        tree.write("docs/a.txt", std::string(3000, 'a'));
        tree.write("docs/copy/a.txt", std::string(3000, 'a'));
        cntrl->setTheWindow(layout.window);
        view->sourcesCntrl().addChosenItems({tree / "docs"});
    }
    ~SearchWithLibrary()
    {
        EXPECT_TRUE(kztest::settleWindowTransitions());
        KZFilesUtilities::setiTunesFolderProvider({});
        KZMusicLibraryFolders::setUnreadLibraryProvider({});
        KZiTunesSupport::setSharedControl(nullptr);
    }
    SearchWithLibrary(const SearchWithLibrary&) = delete;
    SearchWithLibrary& operator=(const SearchWithLibrary&) = delete;

    KZMusicLibraryReadingSheet* sheet() const { return cntrl->musicLibraryReadingSheet(); }
    bool sheetShown() const { return sheet() && sheet()->isShown() && sheet()->controller()->window()->isVisible(); }
};

} // namespace

// A slow reading: Start waits for it without holding the window, which
// shows the sheet after a moment; each way of ending it (Stop, Escape,
// closing the search window) ends the reading, keeps nothing of it and
// starts no search.
TEST(MusicLibraryReading, StartWaitsForASlowReadingBehindASheetThatStopsIt)
{
    enum class Way { Stop, Escape, CloseWindow };
    for (const Way way : {Way::Stop, Way::Escape, Way::CloseWindow}) {
        SCOPED_TRACE(int(way));
        SearchWithLibrary search;
        kztest::HeldMusicReader held;
        QSignalSpy handled(search.cntrl, &KZSearchWindowCntrl::searchEndHandled);
        search.view->startButton()->click();
        EXPECT_EQ(search.cntrl->progressCntrl(), nullptr);
        ASSERT_TRUE(held.waitEntered());
        EXPECT_NE(held.readerThread(), std::this_thread::get_id());

        // The window's thread goes on while the reading is held.
        int ticks = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&ticks] { ++ticks; });
        tick.start(5);
        ASSERT_TRUE(kztest::processEventsUntil([&] { return search.sheetShown() && ticks >= 3; }, std::chrono::seconds(10)));
        KZGenericProgressWindowCntrl* parts = search.sheet()->controller();
        EXPECT_EQ(parts->infoFld()->text(), QStringLiteral("Reading the music library\u2026"));
        EXPECT_EQ(parts->spinning()->mode(), KZLinearProgressIndicatorView::Mode::Indeterminate);
        EXPECT_TRUE(parts->stopBtn()->isVisible());
        // Start again while waiting starts nothing more.
        search.cntrl->startScanAction();

        switch (way) {
        case Way::Stop:
            parts->stopBtn()->click();
            break;
        case Way::Escape:
            QTest::keyClick(parts->window(), Qt::Key_Escape);
            break;
        case Way::CloseWindow:
            Q_EMIT search.view->closeClicked();
            break;
        }
        ASSERT_TRUE(held.waitAllLeft());
        ASSERT_TRUE(kztest::processEventsUntil([&] { return !search.sheetShown(); }, std::chrono::seconds(10)));
        EXPECT_TRUE(held.sawStop());
        EXPECT_EQ(held.entered(), 1);
        QTest::qWait(50);
        EXPECT_EQ(search.cntrl->progressCntrl(), nullptr);
        EXPECT_FALSE(search.cntrl->observesSearchEnd());
        EXPECT_TRUE(handled.isEmpty());
        EXPECT_TRUE(KZiTunesSupport::sharedControl().readingIsDue()) << "nothing of a stopped reading is kept";
        EXPECT_FALSE(search.cntrl->musicLibraryReading()->isRunning());
    }
}

// A reading that ends starts the search as Start did before, with the
// library it read; a second Start finds nothing due and searches at once.
TEST(MusicLibraryReading, AReadingThatEndsStartsTheSearch)
{
    SearchWithLibrary search;
    QSignalSpy handled(search.cntrl, &KZSearchWindowCntrl::searchEndHandled);
    {
        kztest::HeldMusicReader held;
        search.view->startButton()->click();
        ASSERT_TRUE(held.waitEntered());
        EXPECT_EQ(search.cntrl->progressCntrl(), nullptr);
        held.release();
        ASSERT_TRUE(kztest::processEventsUntil([&] { return !handled.isEmpty(); }, std::chrono::seconds(10)));
        EXPECT_EQ(held.entered(), 1);
        EXPECT_FALSE(held.sawStop());
    }
    EXPECT_GE(handled.first().first().toULongLong(), 2u);
    EXPECT_FALSE(KZiTunesSupport::sharedControl().readingIsDue());
    EXPECT_EQ(KZiTunesSupport::sharedControl().musicFolderLocation(), search.media);
    EXPECT_FALSE(search.sheetShown());
}

// An export that cannot be read: the reason is shown once, from the
// window's thread, and the search goes on without the library.
TEST(MusicLibraryReading, ARefusalIsToldOnceOnTheWindowsThreadAndTheSearchGoesOn)
{
    SearchWithLibrary search;
    kztest::writeUnreadExport(search.exportFile, kztest::UnreadExport::Broken, search.media);
    QSignalSpy handled(search.cntrl, &KZSearchWindowCntrl::searchEndHandled);
    search.view->startButton()->click();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !handled.isEmpty(); }, std::chrono::seconds(10)));
    const QString notRead = QStringLiteral("The music library was not read.");
    int told = 0;
    for (const KZAlertPresenter::Alert& alert : search.alerts.presenter->shown)
        told += alert.messageText.startsWith(notRead) ? 1 : 0;
    EXPECT_EQ(told, 1);
}

// Destroyed, or at quit, a reading is stopped and waited for a bounded
// while: it ends at its next piece of the file and keeps nothing.
TEST(MusicLibraryReading, DestructionDuringAReadingStopsItAndReturns)
{
    AlertScope alerts;
    kztest::ScopedDefaults defaults;
    kztest::TempDir tree;
    const fs::path media = tree.mkdir("Media");
    const fs::path file = kztest::MusicLibraryBuilder(media).write(tree.path() / "Library.xml");
    KZiTunesSupport::setSharedControl(nullptr);
    defaults->setValue(KZDefaultsKey::iTunes_library_path, QFile::decodeName(file.c_str()));
    kztest::HeldMusicReader held;
    {
        KZMusicLibraryReading reading;
        QSignalSpy finished(&reading, &KZMusicLibraryReading::finished);
        ASSERT_TRUE(reading.start());
        ASSERT_TRUE(held.waitEntered());
        EXPECT_TRUE(reading.isRunning());
        // Stop answers at once; the reading itself ends on its own thread.
        reading.stop();
        ASSERT_EQ(finished.size(), 1);
        EXPECT_TRUE(finished.first().first().toBool());
        ASSERT_TRUE(held.waitAllLeft());
        ASSERT_TRUE(reading.start());
        ASSERT_TRUE(kztest::waitUntil([&] { return held.entered() == 2; }, std::chrono::seconds(10)));
    }
    EXPECT_EQ(held.left(), 2) << "the destructor waited for the reading it stopped";
    EXPECT_TRUE(held.sawStop());
    EXPECT_TRUE(KZiTunesSupport::sharedControl().readingIsDue());
    QCoreApplication::processEvents();
    KZiTunesSupport::setSharedControl(nullptr);
}

// A picture of the sheet over the search window while a reading is held,
// for people to look at. Runs only when MARAVEX_SHOTS_DIR names a folder
// (scripts/screenshots.sh sets it).
TEST(MusicLibraryReadingShots, SheetOverTheSearchWindow)
{
    const QString dir = qEnvironmentVariable("MARAVEX_SHOTS_DIR");
    if (dir.isEmpty())
        GTEST_SKIP() << "pictures only when MARAVEX_SHOTS_DIR is set";
    SearchWithLibrary search;
    kztest::HeldMusicReader held;
    search.view->startButton()->click();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return search.sheetShown(); }, std::chrono::seconds(10)));
    kztest::processEventsUntil([] { return false; }, std::chrono::milliseconds(300));
    QWidget* window = search.layout.window;
    QWidget* sheet = search.sheet()->controller()->window();
    const QPixmap under = window->grab();
    const QPixmap over = sheet->grab();
    QImage canvas(under.size() + QSize(80, 80), QImage::Format_ARGB32_Premultiplied);
    canvas.fill(QColor(0x5d, 0x6b, 0x7d));
    QPainter painter(&canvas);
    painter.drawPixmap(40, 40, under);
    // Where a sheet stands: at the top of its window, centred.
    painter.drawPixmap(40 + (under.width() - over.width()) / 2, 40 + 60, over);
    painter.end();
    EXPECT_TRUE(canvas.save(dir + QStringLiteral("/search-reading-music-library.png")));
    search.sheet()->controller()->stopBtn()->click();
    ASSERT_TRUE(held.waitAllLeft());
}
