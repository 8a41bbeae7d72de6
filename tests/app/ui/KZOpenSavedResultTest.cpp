#include "app/ui/KZOpenSavedResult.h"

#include "app/KZNewSearchRouting.h"
#include "app/KZWindowTransitionMath.h"
#include "app/progress/ui/KZSearchProgress.h"
#include "app/progress/ui/KZSearchProgressWindow.h"
#include "app/search/ui/KZSearchView.h"
#include "app/ui/KZCompositor.h"
#include "app/ui/KZMaravexApp.h"
#include "app/ui/KZQuitPolicy.h"
#include "app/ui/KZWindowFlipAnimator.h"
#include "app/ui/KZWindowTransitionAnimator.h"
#include "media/KZiTunesSupport.h"
#include "support/HeldMusicReader.h"
#include "support/LibraryFixtures.h"
#include "services/ui/KZMessageBoxPresenter.h"

#include "app/search/SearchTestSupport.h"
#include "QuitRequests.h"
#include "ShortAnimations.h"
#include "UnreadExports.h"
#include "TestSupport.h"

#include "platform/Bookmark.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/NotificationCenter.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "preferences/KZURLOpener.h"
#include "removal/ui/KZRemovePanelWidget.h"
#include "result/window/ui/RemovalPanelSteps.h"
#include "result/model/KZFoundItemsCntrl.h"
#include "services/KZFileDialogPresenter.h"
#include "services/ui/KZMenuSet.h"
#include "result/model/KZFoundListCntrl.h"
#include "result/model/KZResultCntrl.h"
#include "result/model/ui/KZResultItemsTypeCntrl.h"
#include "result/window/ui/KZFoundItemsModel.h"
#include "result/window/ui/KZFoundItemsOutlineView.h"
#include "result/window/ui/KZListMarkingCntrl.h"
#include "result/window/ui/KZMarkPopovers.h"
#include "result/window/ui/KZResultOutlineCntrl.h"
#include "result/window/ui/KZResultSourceTableCellView.h"
#include "result/window/ui/KZResultSourcesListCntrl.h"
#include "result/window/ui/KZResultWindowCntrl.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZNotificationNames.h"
#include "settings/KZTags.h"
#include "app/ui/SettledTransitions.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDBusConnection>
#include <QFile>
#include <QVariantAnimation>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QToolButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <map>
#include <set>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The program's windows on a sandbox of their own, with a saved result of a
// small tree: two groups of two copies, one copy of each marked.
class OpenSavedResult : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::UserDefaults::setStandard(std::make_unique<platform::UserDefaults>(dir.path() / "defaults.plist"));
        platform::UserDefaults::standard().setValue(KZDefaultsKey::is_first_run, false);
        KZSetURLOpener([](const QUrl&) { return true; });
        KZTransitionMath::setDurationFactor(0.05);
        a = dir.write("tree/a.txt", std::string(3000, 'a'));
        b = dir.write("tree/copy/a.txt", std::string(3000, 'a'));
        c = dir.write("tree/c.jpg", std::string(5000, 'c'));
        d = dir.write("tree/copy/c.jpg", std::string(5000, 'c'));
        KZSavedResult saved;
        // Two file types, so that the result has the tab of all duplicates.
        const auto item = [](const fs::path& path, qint64 group, bool marked) {
            KZSavedItem record;
            record.alias = platform::createBookmark(path);
            record.groupId = group;
            record.countOfItemsInGroup = 2;
            record.isMarked = marked;
            record.fileTypeTag = path.extension() == ".jpg" ? 3 : 7;
            return record;
        };
        saved.items = {item(a, 1, false), item(b, 1, true), item(c, 2, false), item(d, 2, true)};
        KZSavedSource source;
        source.alias = platform::createBookmark(dir / "tree");
        source.wasSearched = true;
        saved.sources = {source};
        saved.genericInfo.showResultByGroup = true;
        // The pictures' tab on screen, its group selected and open.
        saved.selectedTabTag = 3;
        saved.rightSide[3].currSelectedSourceTag = 3;
        saved.rightSide[3].selectedItems[3] = {{true, 2, QString()}};
        saved.rightSide[3].expandedByTag[3] = {2};
        saved.rightSide[3].sortDescriptors[3] = {{true, QStringLiteral("dupe_group_col"), QStringLiteral("compare:")}};
        file = dir / "result.maravex";
        std::ofstream(file, std::ios::binary) << KZSavedResultFormat::encode(saved).toStdString();

        app = std::make_unique<KZMaravexApp>();
        app->setCrashReportFolder(dir.path() / "state");
        app->applicationWillFinishLaunching();
        app->applicationDidFinishLaunching();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(app->window(), kztest::kPatienceMs));
        // The opening ends towards the application delegate that started it.
        finished = center().addObserver(KZNotification::openingDidFinish,
                                        platform::NotificationObject(static_cast<const void*>(app.get())),
                                        [this](const platform::Notification&) { ++finishes; });
        terminated = center().addObserver(
            KZNotification::searchDidTerminate,
            platform::NotificationObject(static_cast<const void*>(app->windowCntrl())),
            [this](const platform::Notification&) { ++terminations; });
    }
    void TearDown() override
    {
        finished.cancel();
        terminated.cancel();
        app.reset();
        QApplication::closeAllWindows();
        KZTransitionMath::setDurationFactor(1.0);
        KZSetURLOpener({});
        platform::UserDefaults::setStandard(nullptr);
    }
    static platform::NotificationCenter& center() { return platform::NotificationCenter::defaultCenter(); }

    // The result of a search of two equal songs, shown: what a saved result
    // is opened over.
    void showSearchResult(KZResultWindowCntrl** shown)
    {
        dir.write("other/one/song.mp3", std::string(4000, 's'));
        dir.write("other/two/song.mp3", std::string(4000, 's'));
        KZSearchView* view = app->windowCntrl()->searchView();
        app->windowCntrl()->addFolders({dir / "other/one", dir / "other/two"});
        ASSERT_TRUE(kztest::processEventsUntil(
            [&] {
                return view->phase() == KZSearchView::Phase::LaidOut && view->sourcesCntrl().sources().size() == 2;
            },
            20s));
        view->startButton()->click();
        const auto progress = app->windowCntrl()->progressCntrl();
        ASSERT_NE(progress, nullptr);
        ASSERT_TRUE(
            kztest::processEventsUntil([&] { return app->resultWindowCntrl() && !progress->isSearching(); }, 60s));
        // A search this small can end while the progress window is still
        // turning into view: Show Result is pressed once the user can see it.
        ASSERT_TRUE(kztest::processEventsUntil([&] { return progress->window() && progress->window()->isVisible(); }));
        ASSERT_TRUE(kztest::settleWindowTransitions());
        progress->showResultAction();
        KZResultWindowCntrl* searched = app->resultWindowCntrl();
        ASSERT_TRUE(kztest::processEventsUntil([&] { return searched->isVisible(); }, 20s));
        ASSERT_TRUE(kztest::settleWindowTransitions());
        *shown = searched;
    }

    KZOpenSavedResult::Host host()
    {
        KZOpenSavedResult::Host h;
        h.searchWindowCntrl = app->windowCntrl();
        h.searchWindow = app->window();
        h.resultWindow = [this] { return app->resultWindowCntrl(); };
        h.removalIsRunning = [] { return false; };
        h.delegate = app.get();
        return h;
    }

    // A host whose flip to the opening window shows it and ends only when
    // the test calls `*endFlip`.
    KZOpenSavedResult::Host hostWithHeldFlip(std::function<void()>* endFlip)
    {
        KZOpenSavedResult::Host h = host();
        h.flip = [endFlip](QWidget* opening, std::function<void()> done) {
            opening->show();
            *endFlip = std::move(done);
        };
        return h;
    }

    // The marks of the reopened result's items, by path.
    std::map<fs::path, bool> marks() const
    {
        std::map<fs::path, bool> out;
        for (const KZFoundItemRef& item : app->resultWindowCntrl()->resultCntrl()->foundItemsCntrl()->allItems())
            out[item->url()] = item->isMarked();
        return out;
    }

    // Saves the file again with the row of the marked items as tab 3's
    // chosen source row, which it answers.
    quint64 saveWithTheMarkedRowChosen()
    {
        KZSavedResult saved = *KZSavedResultFormat::decode(QByteArray::fromStdString(kztest::readFile(file)));
        const quint64 markedRow = KZTag::markedItemsRowBase + 3;
        saved.leftSide[3].selection = markedRow;
        std::ofstream(file, std::ios::binary | std::ios::trunc) << KZSavedResultFormat::encode(saved).toStdString();
        return markedRow;
    }

    kztest::TempDir dir;
    kztest::ShortAnimations shortAnimations;
    searchtest::AlertScope alerts;
    fs::path a, b, c, d, file;
    std::unique_ptr<KZMaravexApp> app;
    platform::Subscription finished, terminated;
    int finishes = 0;
    int terminations = 0;
};

} // namespace

// Through the program's own routing: the saved sources come back into the
// search window, the result window comes up with the saved marks, and the
// opening ends once.
TEST_F(OpenSavedResult, ReopensIntoTheResultWindowWithTheSavedMarks)
{
    app->openSavedResult(file);
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] { return finishes > 0 && app->resultWindowCntrl() && app->resultWindowCntrl()->isVisible(); }, 30s));
    QTest::qWait(200);
    EXPECT_EQ(finishes, 1);
    EXPECT_EQ(terminations, 1);
    const std::map<fs::path, bool> expected{{a, false}, {b, true}, {c, false}, {d, true}};
    EXPECT_EQ(marks(), expected);
    ASSERT_EQ(app->windowCntrl()->searchView()->sourcesCntrl().sources().size(), 1u);
    EXPECT_EQ(app->windowCntrl()->searchView()->sourcesCntrl().sources().front()->path(), dir / "tree");
    EXPECT_TRUE(alerts.presenter->shown.empty()) << "nothing changed since saving: nothing to tell";

    EXPECT_EQ(app->resultWindowCntrl()->currSelectedTabTag(), 3u);
    KZResultOutlineCntrl* outline = app->resultWindowCntrl()->outlineOfTab(3);
    ASSERT_TRUE(outline);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !outline->foundListView()->selectedRows().isEmpty(); }, kztest::kPatience));
    const QList<KZListRow> rows = outline->foundListView()->selectedRows();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_TRUE(rows.first().isGroupRow());
    EXPECT_EQ(rows.first().group->groupID(), 2);
    EXPECT_TRUE(rows.first().group->isExpanded());
}

// The flip and the rebuild end in either order. The result is posted once,
// as soon as it is rebuilt, so that its window is made while the flip still
// turns; the window comes up, and the opening ends, only after the flip.
TEST_F(OpenSavedResult, TheFlipEndingAfterTheResultWasMadeShowsItThen)
{
    std::function<void()> endFlip;
    KZOpenSavedResult reader(hostWithHeldFlip(&endFlip));
    reader.prepareOpenSavedFile(file);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return terminations == 1 && app->resultWindowCntrl(); }, 30s));
    // Whatever the result window still has to make is made meanwhile.
    QTest::qWait(300);
    EXPECT_FALSE(app->resultWindowCntrl()->isVisible()) << "the flip still turns";
    EXPECT_FALSE(reader.didFinish());
    ASSERT_TRUE(reader.openingWindow() && reader.openingWindow()->isVisible());
    ASSERT_TRUE(endFlip);
    endFlip();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return reader.didFinish(); }, 30s));
    EXPECT_TRUE(app->resultWindowCntrl()->isVisible());
    EXPECT_FALSE(reader.openingWindow()->isVisible());
    EXPECT_EQ(terminations, 1);
    EXPECT_EQ(finishes, 1);
    const std::map<fs::path, bool> expected{{a, false}, {b, true}, {c, false}, {d, true}};
    EXPECT_EQ(marks(), expected);
}

// A reopening that leaves nothing brings the search window back, which the
// flip's end would cover with the opening window: it waits for the flip.
TEST_F(OpenSavedResult, AReopeningThatLeavesNothingWaitsForTheFlip)
{
    for (const fs::path& item : {a, b, c, d})
        fs::remove(item);
    std::function<void()> endFlip;
    KZOpenSavedResult reader(hostWithHeldFlip(&endFlip));
    reader.prepareOpenSavedFile(file);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return reader.hasRebuilt(); }, 30s));
    QTest::qWait(100);
    EXPECT_EQ(terminations, 0);
    EXPECT_FALSE(reader.didFinish());
    ASSERT_TRUE(endFlip);
    endFlip();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return reader.didFinish(); }, 30s));
    EXPECT_EQ(terminations, 1);
    EXPECT_EQ(finishes, 1);
    EXPECT_TRUE(app->window()->isVisible());
    EXPECT_FALSE(reader.openingWindow()->isVisible());
}

TEST_F(OpenSavedResult, TheFlipEndingFirstPostsTheResultOnceTheRebuildEnds)
{
    KZOpenSavedResult::Host h = host();
    h.flip = [](QWidget* opening, std::function<void()> done) {
        opening->show();
        done();
    };
    KZOpenSavedResult reader(h);
    reader.prepareOpenSavedFile(file);
    EXPECT_EQ(terminations, 0) << "the file is still being read";
    ASSERT_TRUE(kztest::processEventsUntil([&] { return reader.didFinish(); }, 30s));
    EXPECT_EQ(terminations, 1);
    EXPECT_EQ(finishes, 1);
}

// A removal under way changes the disk the result describes: the opening is
// refused, said so, and still ends once.
TEST_F(OpenSavedResult, IsRefusedWhileARemovalRuns)
{
    KZOpenSavedResult::Host h = host();
    h.removalIsRunning = [] { return true; };
    KZOpenSavedResult reader(h);
    reader.prepareOpenSavedFile(file);
    EXPECT_TRUE(reader.didFinish());
    EXPECT_EQ(reader.openingWindow(), nullptr);
    EXPECT_EQ(finishes, 1);
    EXPECT_EQ(terminations, 0);
    ASSERT_EQ(alerts.presenter->shown.size(), 1u);
}

// A file that is not a saved result: the reason is told, the opening window
// goes, the search window is back, and the opening ends once.
TEST_F(OpenSavedResult, AFileThatIsNotASavedResultIsToldAndEndsTheOpening)
{
    const fs::path bad = dir.write("bad.maravex", "not a property list");
    KZOpenSavedResult reader(host());
    reader.prepareOpenSavedFile(bad);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return reader.didFinish(); }, 30s));
    EXPECT_EQ(finishes, 1);
    EXPECT_EQ(terminations, 0);
    ASSERT_EQ(alerts.presenter->shown.size(), 1u);
    EXPECT_TRUE(alerts.presenter->shown[0].informativeText.contains(QStringLiteral("bad.maravex")) ||
                alerts.presenter->shown[0].messageText.contains(QStringLiteral("bad.maravex")));
    EXPECT_FALSE(reader.openingWindow() && reader.openingWindow()->isVisible());
    EXPECT_TRUE(app->window()->isVisible());
}

// The check before the question "Open the saved result?" reads the file
// off the window's thread: the windows go on painting meanwhile.
TEST_F(OpenSavedResult, TheCheckBeforeTheQuestionReadsTheFileWhileTheWindowsRun)
{
    std::atomic<bool> ticked{false};
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&ticked] { ticked = true; });
    tick.start(10);
    std::thread::id readingThread;
    const auto read = KZOpenSavedResult::readFileAside(file, [&] {
        readingThread = std::this_thread::get_id();
        // Holds the reading until the GUI thread has run a timer of its own.
        for (int i = 0; i < 1000 && !ticked; ++i)
            std::this_thread::sleep_for(10ms);
    });
    EXPECT_TRUE(ticked);
    EXPECT_NE(readingThread, std::this_thread::get_id());
    ASSERT_TRUE(read && read->saved);
    EXPECT_EQ(read->saved->items.size(), 4u);
    EXPECT_FALSE(KZOpenSavedResult::failureOf(*read));
}

// The sources are checked against the music library on the window's
// thread: the opening reads the library first on its own queue, and the
// window's thread only asks for what was read.
TEST_F(OpenSavedResult, TheMusicLibraryIsReadOnTheOpeningsQueue)
{
    const fs::path media = dir.mkdir("Music/Media");
    const fs::path exportFile =
        kztest::MusicLibraryBuilder(media).fileTrack(1, 1, media / "a.mp3", QStringLiteral("A")).write(dir / "Music/Library.xml");
    platform::UserDefaults::standard().setValue(KZDefaultsKey::iTunes_library_path,
                                                QFile::decodeName(exportFile.c_str()));
    KZiTunesSupport::sharedControl().noteUpdatedLibrary();
    kztest::HeldMusicReader held;
    held.release();
    app->openSavedResult(file);
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] { return finishes > 0 && app->resultWindowCntrl() && app->resultWindowCntrl()->isVisible(); }, 30s));
    EXPECT_EQ(held.entered(), 1);
    EXPECT_NE(held.readerThread(), std::this_thread::get_id());
    EXPECT_EQ(KZiTunesSupport::sharedControl().musicFolderLocation(), media);
    EXPECT_EQ(marks().size(), 4u);
    KZiTunesSupport::sharedControl().noteUpdatedLibrary();
}

namespace {

// The panel as a user answers it: a file chosen, or Cancel when `path` is empty.
class OnePanelAnswer : public KZFileDialogPresenter {
public:
    explicit OnePanelAnswer(QString path) : path_(std::move(path)) {}
    explicit OnePanelAnswer(const fs::path& path) : path_(QString::fromStdString(path.string())) {}
    std::vector<Request> requests;
    void present(const Request& request, Completion done) override
    {
        requests.push_back(request);
        if (path_.isEmpty())
            done({false, {}, false});
        else
            done({true, {path_}, false});
    }

private:
    QString path_;
};

// Registers the panel for one call of File > Open… over the search window.
void openThroughThePanel(KZMaravexApp& app, const std::shared_ptr<OnePanelAnswer>& panel)
{
    KZFileDialogPresenter::setShared(panel);
    app.window()->activateWindow();
    QApplication::setActiveWindow(app.window());
    app.openSavedAction();
    KZFileDialogPresenter::setShared(nullptr);
}

} // namespace

// File > Open… asks through the shared file panel, as a sheet of the window
// in front, for saved results only, and opens the chosen one.
TEST_F(OpenSavedResult, TheOpenPanelAsksForSavedResultsAndOpensTheChoice)
{
    auto panel = std::make_shared<OnePanelAnswer>(file);
    openThroughThePanel(*app, panel);
    ASSERT_EQ(panel->requests.size(), 1u);
    EXPECT_EQ(panel->requests.front().allowedTypes, QStringList{QStringLiteral("maravex")});
    EXPECT_EQ(panel->requests.front().window, QApplication::activeWindow());
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] { return finishes > 0 && app->resultWindowCntrl() && app->resultWindowCntrl()->isVisible(); }, 30s));
    EXPECT_EQ(terminations, 1);
}

// Cancel opens nothing, says nothing and leaves the search window as it was.
TEST_F(OpenSavedResult, CancellingTheOpenPanelOpensNothing)
{
    auto panel = std::make_shared<OnePanelAnswer>(QString());
    openThroughThePanel(*app, panel);
    ASSERT_EQ(panel->requests.size(), 1u);
    QCoreApplication::processEvents();
    EXPECT_EQ(app->openedReader(), nullptr);
    EXPECT_FALSE(app->routing().openURL().has_value());
    EXPECT_EQ(finishes, 0);
    EXPECT_EQ(terminations, 0);
    EXPECT_TRUE(alerts.presenter->shown.empty());
    EXPECT_TRUE(app->window()->isVisible());
    EXPECT_EQ(app->resultWindowCntrl(), nullptr);
}

// A chosen file that cannot be read (gone since it was chosen, a folder under
// a saved result's name): the user is told which file and why, the search
// window is back, and the opening ends once; the next choice still opens.
TEST_F(OpenSavedResult, AChosenFileThatCannotBeReadIsToldByNameAndWhy)
{
    const fs::path gone = dir / "gone.maravex";
    const fs::path folder = dir.mkdir("folder.maravex");
    int expectedFinishes = 0;
    for (const fs::path& chosen : {gone, folder}) {
        SCOPED_TRACE(chosen.filename().string());
        alerts.presenter->shown.clear();
        openThroughThePanel(*app, std::make_shared<OnePanelAnswer>(chosen));
        ++expectedFinishes;
        ASSERT_TRUE(kztest::processEventsUntil([&] { return finishes == expectedFinishes; }, 30s));
        ASSERT_EQ(alerts.presenter->shown.size(), 1u);
        const KZAlertPresenter::Alert& alert = alerts.presenter->shown[0];
        const QString said = alert.messageText + u'\n' + alert.informativeText;
        EXPECT_TRUE(said.contains(QString::fromStdString(chosen.filename().string()))) << said.toStdString();
        EXPECT_TRUE(said.contains(QRegularExpression(QStringLiteral("could not be read: \\S"))))
            << "the reason is given: " << said.toStdString();
        EXPECT_TRUE(app->window()->isVisible());
        EXPECT_EQ(terminations, 0);
        QCoreApplication::processEvents();
    }
    openThroughThePanel(*app, std::make_shared<OnePanelAnswer>(file));
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] { return finishes > expectedFinishes && app->resultWindowCntrl() && app->resultWindowCntrl()->isVisible(); },
        30s));
    EXPECT_EQ(terminations, 1);
}

// Why a saved result cannot be shown is said as it is: folders that are gone,
// a file whose folder records are damaged, and items none of which is left
// (which is not "no duplicates were found").
TEST_F(OpenSavedResult, WhatCannotBeShownIsSaidForWhatItIs)
{
    const QString noDuplicates = platform::localizedString(QStringLiteral("no_items_found"), QStringLiteral("Errors"));
    const auto openAndHear = [&](const KZSavedResult& saved, const char* name) {
        const fs::path path = dir / name;
        std::ofstream(path, std::ios::binary) << KZSavedResultFormat::encode(saved).toStdString();
        alerts.presenter->shown.clear();
        const int before = finishes;
        app->openSavedResult(path);
        EXPECT_TRUE(kztest::processEventsUntil(
            [&] { return finishes > before && !alerts.presenter->shown.empty(); }, 30s));
        QString said;
        for (const KZAlertPresenter::Alert& alert : alerts.presenter->shown)
            said += alert.messageText + u'\n' + alert.informativeText + u'\n';
        return said;
    };
    KZSavedResult saved = *KZSavedResultFormat::decode(QByteArray::fromStdString(kztest::readFile(file)));

    KZSavedResult damaged = saved;
    damaged.sources.front().alias = QByteArray("not a reference");
    const QString damagedSaid = openAndHear(damaged, "damaged.maravex");
    EXPECT_TRUE(damagedSaid.contains(platform::localizedString(QStringLiteral("open_saved_damaged_sources"))))
        << damagedSaid.toStdString();

    KZSavedResult moved = saved;
    // Its parent goes too: a file made later in the same folder could take
    // the freed inode and pass for the folder renamed.
    moved.sources.front().alias = platform::createBookmark(dir.mkdir("gone/went"));
    fs::remove_all(dir / "gone");
    const QString movedSaid = openAndHear(moved, "moved.maravex");
    EXPECT_TRUE(movedSaid.contains(platform::localizedString(QStringLiteral("open_saved_no_sources"))))
        << movedSaid.toStdString();

    for (const fs::path& item : {a, b, c, d})
        fs::remove(item);
    const QString goneSaid = openAndHear(saved, "gone-items.maravex");
    EXPECT_TRUE(goneSaid.contains(platform::localizedString(QStringLiteral("open_saved_no_items"))))
        << goneSaid.toStdString();
    EXPECT_FALSE(goneSaid.contains(noDuplicates)) << goneSaid.toStdString();
}

// Missing music tracks are a result of their own: a saved result whose
// items are all gone but which lists missing tracks opens on their tab,
// says nothing failed, and tells that it is open again.
TEST_F(OpenSavedResult, MissingTracksAloneOpenOnTheirTab)
{
    KZSavedResult saved = *KZSavedResultFormat::decode(QByteArray::fromStdString(kztest::readFile(file)));
    saved.deadTracks = std::vector<KZSavedDeadTrack>{
        {QStringLiteral("Song"), QStringLiteral("Album"), QStringLiteral("Artist"), QStringLiteral("1A"),
         platform::pathText(dir / "Music/Song.mp3"), false},
        {QStringLiteral("Other"), QStringLiteral("Album"), QStringLiteral("Artist"), QStringLiteral("1B"),
         platform::pathText(dir / "Music/Other.mp3"), true}};
    const fs::path tracks = dir / "tracks.maravex";
    std::ofstream(tracks, std::ios::binary) << KZSavedResultFormat::encode(saved).toStdString();
    for (const fs::path& item : {a, b, c, d})
        fs::remove(item);
    QStringList log;
    platform::setLogSink([&log](const QString& line) { log << line; });
    const auto restoreLog = qScopeGuard([] { platform::setLogSink({}); });

    app->openSavedResult(tracks);
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] { return finishes > 0 && app->resultWindowCntrl() && app->resultWindowCntrl()->isVisible(); }, 30s))
        << "the result window must come up";
    QTest::qWait(200);
    EXPECT_EQ(app->resultWindowCntrl()->currSelectedTabTag(), KZTag::missingTracks);
    EXPECT_EQ(alerts.presenter->count(QStringLiteral("could not be opened")), 0);
    EXPECT_FALSE(app->window()->isVisible()) << "the search window stays behind the result";
    EXPECT_EQ(finishes, 1);
    if (!QDBusConnection::sessionBus().isConnected()) {
        EXPECT_TRUE(log.join(u'\n').contains(
            platform::localizedString(QStringLiteral("opening_saved_terminated_description"))))
            << log.join(u'\n').toStdString();
    }
}

// A reopening that opens nothing says why in its alert, and no notice says
// that the result is open again: items that are all there but lie outside
// the searched folders are named as such, not as gone.
TEST_F(OpenSavedResult, AReopeningThatOpensNothingSaysWhyAndNoNoticeSaysItOpened)
{
    QStringList log;
    platform::setLogSink([&log](const QString& line) { log << line; });
    const auto restoreLog = qScopeGuard([] { platform::setLogSink({}); });
    const QString opened = platform::localizedString(QStringLiteral("opening_saved_terminated_description"));
    const QString gone = platform::localizedString(QStringLiteral("open_saved_no_items"));
    const auto openAndHear = [&](const KZSavedResult& saved, const char* name) {
        const fs::path path = dir / name;
        std::ofstream(path, std::ios::binary) << KZSavedResultFormat::encode(saved).toStdString();
        alerts.presenter->shown.clear();
        log.clear();
        const int before = finishes;
        app->openSavedResult(path);
        EXPECT_TRUE(kztest::processEventsUntil(
            [&] { return finishes > before && !alerts.presenter->shown.empty(); }, 30s));
        QTest::qWait(200);
        QString said;
        for (const KZAlertPresenter::Alert& alert : alerts.presenter->shown)
            said += alert.messageText + u'\n' + alert.informativeText + u'\n';
        return said;
    };
    KZSavedResult saved = *KZSavedResultFormat::decode(QByteArray::fromStdString(kztest::readFile(file)));

    KZSavedResult elsewhere = saved;
    elsewhere.sources.front().alias = platform::createBookmark(dir.mkdir("elsewhere"));
    const QString outsideSaid = openAndHear(elsewhere, "elsewhere.maravex");
    EXPECT_TRUE(outsideSaid.contains(QStringLiteral("lie outside the searched folders"))) << outsideSaid.toStdString();
    EXPECT_FALSE(outsideSaid.contains(gone)) << "every file is still there";
    EXPECT_FALSE(log.join(u'\n').contains(opened)) << log.join(u'\n').toStdString();
    EXPECT_TRUE(app->window()->isVisible());

    for (const fs::path& item : {a, b, c, d})
        fs::remove(item);
    const QString goneSaid = openAndHear(saved, "gone.maravex");
    EXPECT_TRUE(goneSaid.contains(gone)) << goneSaid.toStdString();
    EXPECT_FALSE(log.join(u'\n').contains(opened)) << log.join(u'\n').toStdString();
}

// A result saved by the search tool of a folder whose name holds "iTunes"
// (the tool searches it; the program takes it for a media folder and leaves
// it out): the reopening says that reason, not that the items lie outside
// the searched folders, which is false.
TEST_F(OpenSavedResult, AFolderNamedForTheMusicLibraryIsLeftOutForThatReason)
{
    const fs::path named = dir.mkdir("My iTunes");
    const fs::path one = dir.write("My iTunes/one.mp3", std::string(4000, 's'));
    const fs::path two = dir.write("My iTunes/iTunes Stuff/two.mp3", std::string(4000, 's'));
    KZSavedResult saved;
    for (const fs::path& path : {one, two}) {
        KZSavedItem record;
        record.alias = platform::createBookmark(path);
        record.groupId = 1;
        record.countOfItemsInGroup = 2;
        record.isMarked = path == two;
        record.fileTypeTag = KZTag::unlabeledFiles;
        saved.items.push_back(record);
    }
    KZSavedSource source;
    source.alias = platform::createBookmark(named);
    source.excluded = {dir.mkdir("My iTunes/iTunes Old")};
    source.wasSearched = true;
    saved.sources = {source};
    const fs::path path = dir / "named.maravex";
    std::ofstream(path, std::ios::binary) << KZSavedResultFormat::encode(saved).toStdString();

    app->openSavedResult(path);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return finishes > 0 && !alerts.presenter->shown.empty(); }, 30s));
    QString said;
    for (const KZAlertPresenter::Alert& alert : alerts.presenter->shown)
        said += alert.messageText + u'\n' + alert.informativeText + u'\n';
    EXPECT_TRUE(said.contains(QStringLiteral("whose name holds “iTunes”"))) << said.toStdString();
    EXPECT_FALSE(said.contains(QStringLiteral("outside the searched folders"))) << said.toStdString();
    // Nothing on disk changed: the heading does not say it did.
    EXPECT_FALSE(said.contains(QStringLiteral("disk has changed"))) << said.toStdString();
    EXPECT_TRUE(fs::exists(one) && fs::exists(two));
}

// The same left out beside a group that opens: the result opens, and the
// heading over the line says that it was not opened as saved, not that the
// disk changed, since nothing on it did.
TEST_F(OpenSavedResult, WhatASearchLeavesOutIsToldUnderAHeadingThatHolds)
{
    const fs::path named = dir.mkdir("My iTunes");
    const fs::path plain = dir.mkdir("plain");
    const fs::path media[] = {dir.write("My iTunes/one.mp3", std::string(4000, 's')),
                              dir.write("My iTunes/two.mp3", std::string(4000, 's'))};
    const fs::path kept[] = {dir.write("plain/a.txt", std::string(3000, 'k')),
                             dir.write("plain/copy/a.txt", std::string(3000, 'k'))};
    KZSavedResult saved;
    const auto add = [&saved](const fs::path& path, qint64 group, bool marked) {
        KZSavedItem record;
        record.alias = platform::createBookmark(path);
        record.groupId = group;
        record.countOfItemsInGroup = 2;
        record.isMarked = marked;
        record.fileTypeTag = KZTag::unlabeledFiles;
        saved.items.push_back(record);
    };
    add(media[0], 1, false);
    add(media[1], 1, true);
    add(kept[0], 2, false);
    add(kept[1], 2, true);
    for (const fs::path& folder : {named, plain}) {
        KZSavedSource source;
        source.alias = platform::createBookmark(folder);
        source.wasSearched = true;
        saved.sources.push_back(source);
    }
    const fs::path path = dir / "lib.maravex";
    std::ofstream(path, std::ios::binary) << KZSavedResultFormat::encode(saved).toStdString();

    app->openSavedResult(path);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return finishes > 0 && !alerts.presenter->shown.empty(); }, 30s));
    ASSERT_TRUE(app->resultWindowCntrl() && app->resultWindowCntrl()->isVisible());
    ASSERT_EQ(alerts.presenter->shown.size(), 1u);
    const QString said = alerts.presenter->shown[0].messageText + u'\n' + alerts.presenter->shown[0].informativeText;
    EXPECT_TRUE(said.contains(QStringLiteral("2 items lie in the music library"))) << said.toStdString();
    EXPECT_TRUE(said.contains(QStringLiteral("opened, but not entirely as it was saved"))) << said.toStdString();
    EXPECT_FALSE(said.contains(QStringLiteral("disk has changed"))) << said.toStdString();
}

// The kept copy of a group deleted since saving: its other copy comes back
// unmarked, and the user is told so once.
TEST_F(OpenSavedResult, AGroupWhoseKeptCopyWentIsUnmarkedAndTheUserToldOnce)
{
    ASSERT_TRUE(fs::remove(a));
    app->openSavedResult(file);
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] { return finishes > 0 && app->resultWindowCntrl() && app->resultWindowCntrl()->isVisible(); }, 30s));
    QTest::qWait(200);
    const std::map<fs::path, bool> expected{{b, false}, {c, false}, {d, true}};
    EXPECT_EQ(marks(), expected);
    ASSERT_EQ(alerts.presenter->shown.size(), 1u);
    EXPECT_EQ(alerts.presenter->count(QStringLiteral("unmarked")), 1);
    EXPECT_EQ(finishes, 1);
}

// The saved source row comes back: here the row of the marked items, whose
// list the tab then shows.
TEST_F(OpenSavedResult, TheSavedSourceRowIsShownAgain)
{
    const quint64 markedRow = saveWithTheMarkedRowChosen();
    app->openSavedResult(file);
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] { return finishes > 0 && app->resultWindowCntrl() && app->resultWindowCntrl()->isVisible(); }, 30s));
    auto* tab = dynamic_cast<KZResultItemsTypeCntrl*>(app->resultWindowCntrl()->resultCntrl()->itemsTypeCntrl(3));
    ASSERT_TRUE(tab && tab->foundListCntrl());
    EXPECT_EQ(tab->foundListCntrl()->nsCurrSelectedSourceTag(), markedRow);
}

// The saved source row's list comes up, and the row's spinner stops with it;
// so does the spinner of a row chosen afterwards.
TEST_F(OpenSavedResult, TheSavedSourceRowsSpinnerStops)
{
    const quint64 markedRow = saveWithTheMarkedRowChosen();
    app->openSavedResult(file);
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] { return finishes > 0 && app->resultWindowCntrl() && app->resultWindowCntrl()->isVisible(); }, 30s));
    auto* tab = dynamic_cast<KZResultItemsTypeCntrl*>(app->resultWindowCntrl()->resultCntrl()->itemsTypeCntrl(3));
    ASSERT_TRUE(tab);
    auto* sources = dynamic_cast<KZResultSourcesListCntrl*>(tab->sourcesListCntrl());
    ASSERT_TRUE(sources);
    const auto spinning = [&] {
        std::vector<int> rows;
        for (int row = 0; sources->cellAt(row); ++row)
            if (sources->cellAt(row)->spinning()->isAnimating())
                rows.push_back(row);
        return rows;
    };
    ASSERT_TRUE(kztest::processEventsUntil([&] { return tab->foundListCntrl()->nsCurrSelectedSourceTag() == markedRow; }, kztest::kPatience));
    EXPECT_TRUE(kztest::processEventsUntil([&] { return spinning().empty(); }, kztest::kPatience)) << spinning().size() << " rows spin";

    // Another row: its spinner stops too, and the first one stays still.
    auto* table = qobject_cast<QAbstractItemView*>(sources->view());
    ASSERT_TRUE(table);
    table->selectionModel()->setCurrentIndex(table->model()->index(0, 0),
                                             QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return tab->foundListCntrl()->nsCurrSelectedSourceTag() == 3; }, kztest::kPatience));
    EXPECT_TRUE(kztest::processEventsUntil([&] { return spinning().empty(); }, kztest::kPatience));
}

namespace {

// The reopened result's progress window once it has come to the front.
QWidget* progressWindowInFront(KZMaravexApp& app)
{
    const std::shared_ptr<KZSearchProgress> progress = app.windowCntrl()->progressCntrl();
    QWidget* window = progress ? progress->window() : nullptr;
    if (!window || !kztest::processEventsUntil([&] { return window->isVisible(); }, 20s) ||
        !kztest::settleWindowTransitions())
        return nullptr;
    return window;
}

// File > Search Again over the reopened result, or the result window's back
// button and then the progress window's New Search, as a user chooses them:
// the search window comes back laid out with the saved source and its Start
// button, and nothing is left on screen or waited for.
void searchAgainComesBackToTheSavedSources(KZMaravexApp& app, const std::vector<fs::path>& sources,
                                           bool byBackButton = false)
{
    KZResultWindowCntrl* result = app.resultWindowCntrl();
    ASSERT_TRUE(result && result->isVisible());
    result->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(result, kztest::kPatienceMs));
    if (byBackButton) {
        ASSERT_TRUE(kztest::processEventsUntil([&] { return result->goBackBtn()->isEnabled(); }));
        QTest::mouseClick(result->goBackBtn(), Qt::LeftButton);
        auto* progress = qobject_cast<KZSearchProgressWindow*>(progressWindowInFront(app));
        ASSERT_TRUE(progress);
        QTest::mouseClick(progress->resetBtn(), Qt::LeftButton);
    } else {
        QAction* again = KZMenuSet::shared().item(KZMenuSet::File, KZMenuSet::SearchAgainTag);
        ASSERT_TRUE(again);
        ASSERT_TRUE(app.validateMenuItem(again));
        again->trigger();
    }

    KZSearchView* view = app.windowCntrl()->searchView();
    const bool back = kztest::processEventsUntil(
        [&] {
            return app.window()->isVisible() && view->phase() == KZSearchView::Phase::LaidOut &&
                   view->startButton()->isVisible() && !result->isVisible() && !app.routing().waitsForResult() &&
                   !app.routing().waitsForProgress();
        },
        20s);
    ASSERT_TRUE(back) << "search window shown " << app.window()->isVisible() << ", laid out "
                      << (view->phase() == KZSearchView::Phase::LaidOut) << ", result shown " << result->isVisible();
    std::vector<fs::path> shown;
    for (const KZSourceItemRef& source : view->sourcesCntrl().sources())
        shown.push_back(source->path());
    EXPECT_EQ(shown, sources);
    EXPECT_FALSE(app.routing().isSearchAgain());
    // Those sources start a search again.
    EXPECT_TRUE(view->startButton()->isEnabled());
}

} // namespace

TEST_F(OpenSavedResult, SearchAgainAfterOpeningThroughTheMenuBringsBackTheSavedSources)
{
    openThroughThePanel(*app, std::make_shared<OnePanelAnswer>(file));
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] { return finishes > 0 && app->resultWindowCntrl() && app->resultWindowCntrl()->isVisible(); }, 30s));
    searchAgainComesBackToTheSavedSources(*app, {dir / "tree"});
}

TEST_F(OpenSavedResult, TheResultWindowsBackButtonBringsBackTheSavedSources)
{
    app->openSavedResult(file);
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] { return finishes > 0 && app->resultWindowCntrl() && app->resultWindowCntrl()->isVisible(); }, 30s));
    searchAgainComesBackToTheSavedSources(*app, {dir / "tree"}, true);
}

// Back from a reopened result goes back to the progress window it came up
// from, as Back from a search's result does: nothing is asked, nothing goes,
// and Show Result brings the same result back.
TEST_F(OpenSavedResult, BackFromAReopenedResultGoesBackToItsProgressWindowWithoutAQuestion)
{
    app->openSavedResult(file);
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] { return finishes > 0 && app->resultWindowCntrl() && app->resultWindowCntrl()->isVisible(); }, 30s));
    ASSERT_TRUE(kztest::settleWindowTransitions());
    KZResultWindowCntrl* result = app->resultWindowCntrl();
    const std::map<fs::path, bool> reopened = marks();
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        result->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(result, kztest::kPatienceMs));
        ASSERT_TRUE(kztest::processEventsUntil([&] { return result->goBackBtn()->isEnabled(); }));
        QTest::mouseClick(result->goBackBtn(), Qt::LeftButton);
        auto* progress = qobject_cast<KZSearchProgressWindow*>(progressWindowInFront(*app));
        ASSERT_TRUE(progress) << "back to the progress window";
        EXPECT_TRUE(alerts.presenter->shown.empty()) << alerts.presenter->shown.front().messageText.toStdString();
        EXPECT_FALSE(result->isVisible());
        EXPECT_FALSE(app->window()->isVisible());
        EXPECT_TRUE(progress->showResultBtn()->isVisible() && progress->showResultBtn()->isEnabled());
        EXPECT_TRUE(progress->resetBtn()->isVisible());
        EXPECT_FALSE(app->routing().waitsForResult() || app->routing().waitsForProgress());

        QTest::mouseClick(progress->showResultBtn(), Qt::LeftButton);
        ASSERT_TRUE(kztest::processEventsUntil([&] { return result->isVisible(); }, 20s));
        ASSERT_TRUE(kztest::settleWindowTransitions());
        EXPECT_FALSE(progress->isVisible());
        EXPECT_EQ(app->resultWindowCntrl(), result) << "the same result";
        EXPECT_EQ(marks(), reopened);
    }
}

// Handed over at launch, the result waits for the search window to settle;
// the search window then gives way to it rather than staying behind it.
TEST_F(OpenSavedResult, SearchAgainAfterOpeningFromTheArgumentsBringsBackTheSavedSources)
{
    app->openFiles({file});
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] { return finishes > 0 && app->resultWindowCntrl() && app->resultWindowCntrl()->isVisible(); }, 30s));
    EXPECT_FALSE(app->window()->isVisible()) << "one main window on screen";
    searchAgainComesBackToTheSavedSources(*app, {dir / "tree"});
}

// New Search and Search Again over a reopened result ask before its result
// goes, as they do over a search's: the result window goes back to its
// progress window, whose question it is; "don't" keeps that window in front
// with the result one Show Result away and nothing left waiting, and the
// question is asked again next time.
TEST_F(OpenSavedResult, LeavingAReopenedResultAsksFirst)
{
    app->openSavedResult(file);
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] { return finishes > 0 && app->resultWindowCntrl() && app->resultWindowCntrl()->isVisible(); }, 30s));
    KZResultWindowCntrl* result = app->resultWindowCntrl();
    for (const int tag : {KZMenuSet::SearchAgainTag, KZMenuSet::NewSearchTag}) {
        SCOPED_TRACE(tag);
        result->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(result, kztest::kPatienceMs));
        alerts.presenter->shown.clear();
        alerts.presenter->answers = {KZErrorDelegate::SecondButton};
        QAction* action = KZMenuSet::shared().item(KZMenuSet::File, tag);
        ASSERT_TRUE(action && app->validateMenuItem(action));
        action->trigger();
        ASSERT_TRUE(kztest::processEventsUntil([&] { return !alerts.presenter->shown.empty(); }));
        QTest::qWait(200); // nothing more is asked
        ASSERT_EQ(alerts.presenter->shown.size(), 1u);
        EXPECT_EQ(alerts.presenter->shown[0].messageText, platform::localizedString(QStringLiteral("search_again")));
        EXPECT_EQ(alerts.presenter->shown[0].informativeText,
                  platform::localizedString(QStringLiteral("losing_result_msg")));
        auto* progress = qobject_cast<KZSearchProgressWindow*>(progressWindowInFront(*app));
        ASSERT_TRUE(progress);
        EXPECT_FALSE(result->isVisible());
        EXPECT_FALSE(app->window()->isVisible());
        EXPECT_FALSE(app->routing().waitsForResult());
        EXPECT_FALSE(app->routing().waitsForProgress());
        QTest::mouseClick(progress->showResultBtn(), Qt::LeftButton);
        ASSERT_TRUE(kztest::processEventsUntil([&] { return result->isVisible(); }, 20s));
        ASSERT_TRUE(kztest::settleWindowTransitions());
    }
    alerts.presenter->shown.clear();
    searchAgainComesBackToTheSavedSources(*app, {dir / "tree"});
    EXPECT_EQ(alerts.presenter->count(platform::localizedString(QStringLiteral("search_again"))), 1);
}

// A saved result opened over the result of a search: the one question about
// losing that result, then the file opens in its place.
TEST_F(OpenSavedResult, OpeningOverASearchResultAsksOnceAndOpensTheFile)
{
    KZResultWindowCntrl* searched = nullptr;
    ASSERT_NO_FATAL_FAILURE(showSearchResult(&searched));
    searched->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(searched, kztest::kPatienceMs));
    alerts.presenter->shown.clear();
    const int terminationsBefore = terminations;

    auto panel = std::make_shared<OnePanelAnswer>(file);
    KZFileDialogPresenter::setShared(panel);
    app->openSavedAction();
    KZFileDialogPresenter::setShared(nullptr);
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] { return finishes > 0 && app->resultWindowCntrl() && app->resultWindowCntrl()->isVisible(); }, 30s));
    QTest::qWait(200);
    ASSERT_EQ(alerts.presenter->shown.size(), 1u);
    EXPECT_EQ(alerts.presenter->shown[0].messageText, platform::localizedString(QStringLiteral("ask_open_file")));
    EXPECT_EQ(terminations, terminationsBefore + 1);
    const std::map<fs::path, bool> expected{{a, false}, {b, true}, {c, false}, {d, true}};
    EXPECT_EQ(marks(), expected);
    KZSearchView* view = app->windowCntrl()->searchView();
    ASSERT_EQ(view->sourcesCntrl().sources().size(), 1u);
    EXPECT_EQ(view->sourcesCntrl().sources().front()->path(), dir / "tree");
}

// Saved result A handed over (a second start) over a search's result; while
// A is read and checked before "Open the saved result?", B is handed over.
// The user's Continue for A opens A; B then asks its own question over A's
// result, and opens on its own Continue.
TEST_F(OpenSavedResult, ASavedResultHandedOverDuringTheCheckOfAnotherAsksItsOwnQuestionAfterIt)
{
    KZSavedResult onlyTexts = *KZSavedResultFormat::decode(QByteArray::fromStdString(kztest::readFile(file)));
    onlyTexts.items.resize(2);
    const fs::path second = dir / "texts.maravex";
    std::ofstream(second, std::ios::binary) << KZSavedResultFormat::encode(onlyTexts).toStdString();
    KZResultWindowCntrl* searched = nullptr;
    ASSERT_NO_FATAL_FAILURE(showSearchResult(&searched));
    searched->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(searched, kztest::kPatienceMs));
    alerts.presenter->shown.clear();

    bool handedOver = false;
    KZOpenSavedResult::setReadingHook([&] {
        if (std::exchange(handedOver, true))
            return;
        QMetaObject::invokeMethod(qApp, [&] { app->openFiles({second}); }, Qt::QueuedConnection);
        std::this_thread::sleep_for(100ms); // the check takes its time
    });
    const auto noHook = qScopeGuard([] { KZOpenSavedResult::setReadingHook({}); });
    std::vector<std::set<fs::path>> opened;
    platform::Subscription openings = center().addObserver(
        KZNotification::openingDidFinish, {}, [&](const platform::Notification&) {
            std::set<fs::path> items;
            for (const auto& [path, marked] : marks())
                items.insert(path);
            opened.push_back(items);
        });
    app->openFiles({file});
    ASSERT_TRUE(kztest::processEventsUntil([&] { return opened.size() == 2; }, 60s)) << opened.size() << " opened";
    ASSERT_TRUE(kztest::settleWindowTransitions());
    EXPECT_TRUE(handedOver);
    EXPECT_EQ(opened[0], (std::set<fs::path>{a, b, c, d})) << "A opens first";
    EXPECT_EQ(opened[1], (std::set<fs::path>{a, b})) << "then B";
    EXPECT_EQ(alerts.presenter->count(platform::localizedString(QStringLiteral("ask_open_file"))), 2)
        << "each asked its own question";
    EXPECT_FALSE(app->routing().waitsForFront() || app->routing().waitsToOpen() || app->routing().canContinueOpening());
}

// The result comes back as it was saved, whatever the window showed since:
// by group when it was saved so (the setting and the window's toggle follow,
// and the list shows groups), and with its saved empty folders on a tab of
// their own.
TEST_F(OpenSavedResult, ReopeningShowsTheSavedGroupingAndAddsTheSavedEmptyFolders)
{
    const fs::path empty = dir.path() / "tree/empty";
    fs::create_directories(empty);
    KZSavedResult saved = *KZSavedResultFormat::decode(QByteArray::fromStdString(kztest::readFile(file)));
    KZSavedItem folder;
    folder.alias = platform::createBookmark(empty);
    folder.groupId = 1;
    folder.countOfItemsInGroup = 1;
    folder.isMarked = true;
    folder.fileTypeTag = KZTag::emptyFolders;
    folder.isFolder = true;
    saved.emptyFolders = std::vector<KZSavedItem>{folder};
    ASSERT_EQ(saved.genericInfo.showResultByGroup, std::optional<bool>(true));
    std::ofstream(file, std::ios::binary | std::ios::trunc) << KZSavedResultFormat::encode(saved).toStdString();
    platform::UserDefaults::standard().setValue(KZDefaultsKey::show_result_by_group, false);

    app->openSavedResult(file);
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] { return finishes > 0 && app->resultWindowCntrl() && app->resultWindowCntrl()->isVisible(); }, 30s));
    QTest::qWait(200);
    KZResultWindowCntrl* window = app->resultWindowCntrl();
    EXPECT_TRUE(platform::UserDefaults::standard().boolForKey(KZDefaultsKey::show_result_by_group));
    ASSERT_TRUE(window->toggleViewByGroupBtn());
    EXPECT_TRUE(window->toggleViewByGroupBtn()->isChecked());
    KZResultOutlineCntrl* outline = window->outlineOfTab(3);
    ASSERT_TRUE(outline);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !outline->foundListView()->selectedRows().isEmpty(); }, kztest::kPatience));
    EXPECT_TRUE(outline->foundListView()->selectedRows().first().isGroupRow());

    KZResultCntrl* result = window->resultCntrl();
    const std::optional<KZFoundItemArray> folders = result->foundItemsCntrl()->allEmptyFolders();
    ASSERT_TRUE(folders.has_value());
    ASSERT_EQ(folders->size(), 1);
    EXPECT_EQ(folders->first()->url(), empty);
    EXPECT_TRUE(folders->first()->isMarked());
    EXPECT_NE(result->itemsTypeCntrl(KZTag::emptyFolders), nullptr);
    EXPECT_EQ(result->foundItemsCntrl()->allItems().size(), 4) << "the folder is no duplicate";
}

// A saved result that cannot be opened, chosen in the panel or handed over
// while a search's result is in front: it is read and checked before the
// question about losing that result, told once, and the result stays.
TEST_F(OpenSavedResult, AFileThatCannotOpenIsToldBeforeTheQuestionAndTheResultStays)
{
    KZResultWindowCntrl* searched = nullptr;
    ASSERT_NO_FATAL_FAILURE(showSearchResult(&searched));
    const qsizetype found = searched->resultCntrl()->foundItemsCntrl()->allItems().size();
    ASSERT_EQ(found, 2);

    // Not a saved result at all, and a saved result whose only folder went.
    const fs::path damaged = dir.write("damaged.maravex", "bplist00 but nothing after it");
    KZSavedResult saved = *KZSavedResultFormat::decode(QByteArray::fromStdString(kztest::readFile(file)));
    KZSavedSource gone;
    gone.alias = platform::createBookmark(dir.write("gone/x", "x").parent_path());
    saved.sources = {gone};
    const fs::path orphan = dir / "orphan.maravex";
    std::ofstream(orphan, std::ios::binary) << KZSavedResultFormat::encode(saved).toStdString();
    fs::remove_all(dir / "gone");

    const int terminationsBefore = terminations;
    for (const fs::path& bad : {damaged, orphan}) {
        for (const bool handedOver : {false, true}) {
            SCOPED_TRACE(bad.filename().string() + (handedOver ? " handed over" : " chosen"));
            searched->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(searched, kztest::kPatienceMs));
            alerts.presenter->shown.clear();
            if (handedOver) {
                app->openFiles({bad});
            } else {
                auto panel = std::make_shared<OnePanelAnswer>(bad);
                KZFileDialogPresenter::setShared(panel);
                app->openSavedAction();
                KZFileDialogPresenter::setShared(nullptr);
            }
            ASSERT_TRUE(kztest::processEventsUntil([&] { return !alerts.presenter->shown.empty(); }));
            QTest::qWait(200); // nothing more is asked
            ASSERT_EQ(alerts.presenter->shown.size(), 1u);
            EXPECT_NE(alerts.presenter->shown[0].messageText, platform::localizedString(QStringLiteral("ask_open_file")));
            const QString told = alerts.presenter->shown[0].messageText + alerts.presenter->shown[0].informativeText;
            EXPECT_TRUE(told.contains(QStringLiteral("could not be opened"))) << told.toStdString();
            EXPECT_EQ(app->resultWindowCntrl(), searched);
            EXPECT_TRUE(searched->isVisible());
            EXPECT_FALSE(app->window()->isVisible());
            EXPECT_EQ(searched->resultCntrl()->foundItemsCntrl()->allItems().size(), found);
            EXPECT_EQ(terminations, terminationsBefore);
            EXPECT_FALSE(app->routing().openURL().has_value());
        }
    }
}

namespace {

// A saved result of three sources, one nested in another (Main leaves
// Main/Music to its own source), beside the sandbox's home Trash: a pair
// of documents, a picture kept in Music with a marked copy and a marked
// hard link to it in Backup, and a picture marked in Music and kept in
// Backup.
class ReopenedNestedResult : public OpenSavedResult {
protected:
    void SetUp() override
    {
        OpenSavedResult::SetUp();
        main = home / "Main";
        music = home / "Main/Music";
        backup = home / "Backup";
        mainDoc = home.write("Main/a.txt", std::string(3000, 'a'));
        backupDoc = home.write("Backup/a.txt", std::string(3000, 'a'));
        keptPicture = home.write("Main/Music/c.jpg", std::string(5000, 'c'));
        copiedPicture = home.write("Backup/c.jpg", std::string(5000, 'c'));
        linkedPicture = backup / "link to c.jpg";
        fs::create_hard_link(keptPicture, linkedPicture);
        markedPhoto = home.write("Main/Music/d.jpg", std::string(7000, 'd'));
        keptPhoto = home.write("Backup/d.jpg", std::string(7000, 'd'));

        KZSavedResult saved;
        const auto item = [](const fs::path& path, qint64 group, quint32 count, bool marked, qint16 label) {
            KZSavedItem record;
            record.alias = platform::createBookmark(path);
            record.groupId = group;
            record.countOfItemsInGroup = count;
            record.isMarked = marked;
            record.locationLabelTag = label;
            record.fileTypeTag = path.extension() == ".jpg" ? 3 : 7;
            return record;
        };
        saved.items = {item(mainDoc, 1, 2, false, 1),        item(backupDoc, 1, 2, true, 2),
                       item(keptPicture, 2, 3, false, 3),    item(copiedPicture, 2, 3, true, 2),
                       item(linkedPicture, 2, 3, true, 2),   item(markedPhoto, 3, 2, true, 3),
                       item(keptPhoto, 3, 2, false, 2)};
        const auto source = [](const fs::path& path, qint16 label, std::vector<fs::path> excluded) {
            KZSavedSource record;
            record.alias = platform::createBookmark(path);
            record.wasSearched = true;
            record.locationLabelTag = label;
            record.excluded = std::move(excluded);
            record.excludedProgrammatically = record.excluded;
            return record;
        };
        saved.sources = {source(main, 1, {music}), source(backup, 2, {}), source(music, 3, {})};
        saved.genericInfo.showResultByGroup = true;
        saved.genericInfo.currentLocationLabel = 3;
        saved.selectedTabTag = 3;
        nested = home / "nested.maravex";
        std::ofstream(nested, std::ios::binary) << KZSavedResultFormat::encode(saved).toStdString();
    }

    void reopen()
    {
        app->openSavedResult(nested);
        ASSERT_TRUE(kztest::processEventsUntil(
            [&] { return finishes > 0 && app->resultWindowCntrl() && app->resultWindowCntrl()->isVisible(); }, 30s));
        ASSERT_TRUE(kztest::processEventsUntil([&] { return outline(3) && outline(3)->foundModel()->rowCount() == 2; }, kztest::kPatience));
    }

    KZResultOutlineCntrl* outline(quint64 tab) const { return app->resultWindowCntrl()->outlineOfTab(tab); }

    KZResultSourcesRows* rows(quint64 tab) const
    {
        auto* cntrl = dynamic_cast<KZResultItemsTypeCntrl*>(app->resultWindowCntrl()->resultCntrl()->itemsTypeCntrl(tab));
        auto* list = cntrl ? dynamic_cast<KZResultSourcesListCntrl*>(cntrl->sourcesListCntrl()) : nullptr;
        return list ? &list->rows() : nullptr;
    }

    // Every row of a tab's sources list counts the marked items, and the
    // items, of what it stands for.
    void expectRowsAgreeWithTheItems(quint64 tab) const
    {
        KZResultSourcesRows* list = rows(tab);
        ASSERT_TRUE(list);
        const KZFoundItemArray items = app->resultWindowCntrl()->resultCntrl()->foundItemsCntrl()->allItems();
        for (const KZResultSourcesTypeItemRef& row : list->items()) {
            quint64 marked = 0, count = 0;
            for (const KZFoundItemRef& item : items) {
                if (tab != KZTag::allDuplicates && item->fileTypeTag() != tab)
                    continue;
                if (row->isSourceRow() && item->locationLabelTag() != row->locationLabelTag)
                    continue;
                marked += item->isMarked() ? 1 : 0;
                count += 1;
            }
            EXPECT_EQ(row->markedCount, marked) << row->name.toStdString() << " on tab " << tab;
            if (!row->isMarkedRow()) {
                EXPECT_EQ(row->itemsCount, count) << row->name.toStdString() << " on tab " << tab;
            }
        }
    }

    kztest::TempDir home{kztest::sandboxHome()};
    fs::path main, music, backup, nested;
    fs::path mainDoc, backupDoc, keptPicture, copiedPicture, linkedPicture, markedPhoto, keptPhoto;
};

} // namespace

// Nothing changed on disk since saving: every item comes back with its mark,
// the nested source's and both hard links included, and nothing is told;
// Search Again, once agreed to, brings back the three sources and Start.
TEST_F(ReopenedNestedResult, ReopensWithEveryItemOfNestedSourcesAndHardLinks)
{
    ASSERT_NO_FATAL_FAILURE(reopen());
    const std::map<fs::path, bool> expected{{mainDoc, false},      {backupDoc, true},    {keptPicture, false},
                                            {copiedPicture, true}, {linkedPicture, true}, {markedPhoto, true},
                                            {keptPhoto, false}};
    EXPECT_EQ(marks(), expected);
    for (const auto& alert : alerts.presenter->shown)
        ADD_FAILURE() << alert.messageText.toStdString() << "\n" << alert.informativeText.toStdString();
    for (const quint64 tab : {quint64(KZTag::allDuplicates), quint64(3), quint64(7)})
        ASSERT_NO_FATAL_FAILURE(expectRowsAgreeWithTheItems(tab));

    searchAgainComesBackToTheSavedSources(*app, {main, backup, music});
    EXPECT_EQ(alerts.presenter->count(platform::localizedString(QStringLiteral("search_again"))), 1);
}

// A member ticked by hand leaves its group with no rule checked in its menu;
// the group's box still clears the whole group, and every row of the
// sources list keeps counting what is marked.
TEST_F(ReopenedNestedResult, TheGroupsBoxClearsTheGroupAfterAMemberWasTickedByHand)
{
    ASSERT_NO_FATAL_FAILURE(reopen());
    KZResultWindowCntrl* window = app->resultWindowCntrl();
    window->showWindowWithTabTag(7);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return outline(7) && outline(7)->foundModel()->rowCount() == 1; }, kztest::kPatience));
    KZFoundItemsOutlineView* view = outline(7)->foundListView();
    auto* marking = view->findChild<KZListMarkingCntrl*>();
    ASSERT_TRUE(marking);
    KZFoundItemsModel* model = outline(7)->foundModel();
    view->expandAll();
    const auto group = [&] { return model->list()->root->groups().value(0); };
    const auto checkBox = [&](const fs::path& member) {
        for (const KZFoundItemRef& item : group()->items())
            if (item->url() == member)
                return marking->checkBoxRect(model->indexOfRow({group(), item})).center();
        ADD_FAILURE() << member << " is not listed";
        return QPoint();
    };
    const auto click = [&](const QPoint& at) {
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
        QTest::qWait(100);
    };
    ASSERT_TRUE(group());

    // The marked copy ticked off and on again by hand.
    click(checkBox(backupDoc));
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !marks().at(backupDoc); }, kztest::kPatience));
    click(checkBox(backupDoc));
    ASSERT_TRUE(kztest::processEventsUntil([&] { return marks().at(backupDoc); }, kztest::kPatience));
    // The last unmarked copy ticked and left unmarked.
    click(checkBox(mainDoc));
    KZMarkInfoPopover* question = marking->markInfoPopover();
    ASSERT_TRUE(question->popover()->isVisible());
    QTest::mouseClick(question->leaveButton(), Qt::LeftButton);
    QTest::qWait(100);
    ASSERT_FALSE(marks().at(mainDoc));

    // Three presses on the group's box: the first clears the group, the
    // others find nothing marked.
    for (int press = 0; press < 3; ++press) {
        click(marking->groupLayout(model->indexOfGroup(group().get())).check.center());
        QTest::qWait(200);
        EXPECT_FALSE(marks().at(backupDoc)) << press;
        EXPECT_FALSE(marks().at(mainDoc)) << press;
    }
    EXPECT_TRUE(marks().at(copiedPicture)) << "another group keeps its marks";
    for (const quint64 tab : {quint64(KZTag::allDuplicates), quint64(3), quint64(7)})
        ASSERT_NO_FATAL_FAILURE(expectRowsAgreeWithTheItems(tab));
}

// The marked items go to the Trash: each source's row counts what left it
// and what stays in it, the nested source's too.
TEST_F(ReopenedNestedResult, AfterARemovalEverySourcesRowCountsWhatLeftIt)
{
    KZRemovePanelWidget::setAnimationsInstant(true);
    const auto instant = qScopeGuard([] { KZRemovePanelWidget::setAnimationsInstant(false); });
    ASSERT_NO_FATAL_FAILURE(reopen());
    KZResultWindowCntrl* window = app->resultWindowCntrl();
    window->showWindowWithTabTag(KZTag::allDuplicates);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return outline(0) && outline(0)->foundModel()->rowCount() == 3; }, kztest::kPatience));
    ASSERT_NO_FATAL_FAILURE(kztest::removeThroughThePanel(window));
    for (const fs::path& path : {backupDoc, copiedPicture, linkedPicture, markedPhoto})
        EXPECT_FALSE(fs::exists(path)) << path;
    EXPECT_EQ(kztest::readFile(keptPicture), std::string(5000, 'c'));

    KZResultSourcesRows* list = rows(KZTag::allDuplicates);
    ASSERT_TRUE(list);
    const std::map<qint16, std::pair<quint64, quint64>> left{{1, {1, 0}}, {2, {1, 3}}, {3, {1, 1}}};
    for (const KZResultSourcesTypeItemRef& row : list->items()) {
        if (!row->isSourceRow())
            continue;
        const auto [items, removed] = left.at(row->locationLabelTag);
        EXPECT_EQ(row->itemsCount, items) << row->name.toStdString();
        EXPECT_EQ(row->markedCount, 0u) << row->name.toStdString();
        EXPECT_EQ(row->removedCount, removed) << row->name.toStdString();
    }
    ASSERT_NO_FATAL_FAILURE(expectRowsAgreeWithTheItems(KZTag::allDuplicates));
}

namespace {

// Alerts as the program shows them, answered with Return by the user, in the
// application's event loop, where answering the last window ends the program
// unless something else keeps it running.
class AlertsAnsweredInTheEventLoop {
public:
    AlertsAnsweredInTheEventLoop()
    {
        KZQuitPolicy::install(*qApp);
        KZErrorDelegate::sharedControl().setPresenter(std::make_shared<KZMessageBoxPresenter>());
    }
    ~AlertsAnsweredInTheEventLoop()
    {
        KZiTunesSupport::setSharedControl(nullptr);
        KZTransitionMath::setPauseAt(-1);
    }
    kztest::QuitRequests quits;
    kztest::AlertAnswerer answerer;
    // A music library whose export the program cannot read.
    void unreadMusicExport(const fs::path& file)
    {
        KZiTunesSupport::setSharedControl(nullptr);
        kztest::writeUnreadExport(file, kztest::UnreadExport::Broken);
        platform::UserDefaults::standard().setValue(KZDefaultsKey::iTunes_library_path,
                                                    QFile::decodeName(file.c_str()));
    }
    QString said() const { return answerer.said.join(u'\n'); }
};

// The transition the shared animators hold at half time.
bool aTransitionIsHeld()
{
    for (QObject* animator : std::initializer_list<QObject*>{&KZWindowFlipAnimator::sharedWindowFlipAnimator(),
                                                             &KZWindowTransitionAnimator::sharedControl()})
        for (QVariantAnimation* animation : animator->findChildren<QVariantAnimation*>())
            if (animation->state() == QAbstractAnimation::Paused)
                return true;
    return false;
}

void letTheHeldTransitionGoOn()
{
    KZTransitionMath::setPauseAt(-1);
    for (QObject* animator : std::initializer_list<QObject*>{&KZWindowFlipAnimator::sharedWindowFlipAnimator(),
                                                             &KZWindowTransitionAnimator::sharedControl()})
        for (QVariantAnimation* animation : animator->findChildren<QVariantAnimation*>())
            if (animation->state() == QAbstractAnimation::Paused)
                animation->resume();
}

} // namespace

// Every alert a reopening can raise, answered with Return, leaves the program
// running and on the window the reopening ends with: also those that come
// while only the opening window or the flip into it is on screen (the music
// library's export refused, on both roads to a reopening; a file or its
// folders that cannot be read).
TEST_F(OpenSavedResult, EveryAlertOfAReopeningLeavesTheProgramRunning)
{
    enum class Road { Launch, Menu };
    enum class Ends { Result, Search };
    struct Case {
        const char* name;
        Road road;
        std::function<fs::path(AlertsAnsweredInTheEventLoop&)> arrange;
        const char* said;
        Ends ends;
    };
    const auto savedAs = [&](const char* name, const std::function<void(KZSavedResult&)>& change) {
        KZSavedResult saved = *KZSavedResultFormat::decode(QByteArray::fromStdString(kztest::readFile(file)));
        change(saved);
        const fs::path path = dir / name;
        std::ofstream(path, std::ios::binary) << KZSavedResultFormat::encode(saved).toStdString();
        return path;
    };
    const Case cases[] = {
        {"the music export refused, handed over at launch", Road::Launch,
         [&](auto& run) { return run.unreadMusicExport(dir / "Music/launch.xml"), file; }, "music library was not read",
         Ends::Result},
        {"the music export refused, opened from the menu", Road::Menu,
         [&](auto& run) { return run.unreadMusicExport(dir / "Music/menu.xml"), file; }, "music library was not read",
         Ends::Result},
        {"a file that is not a saved result", Road::Menu,
         [&](auto&) { return dir.write("bad.maravex", "not a property list"); }, "could not be opened", Ends::Search},
        {"its folders gone", Road::Menu,
         [&](auto&) {
             return savedAs("gone-folders.maravex", [&](KZSavedResult& saved) {
                 saved.sources.front().alias = platform::createBookmark(dir.mkdir("removed"));
                 fs::remove(dir / "removed");
             });
         },
         "None of the folders", Ends::Search},
        {"the disk changed since saving", Road::Menu,
         [&](auto&) { return fs::remove(d), file; }, "saved result", Ends::Result},
        {"none of its items left", Road::Menu,
         [&](auto&) {
             for (const fs::path& item : {a, b, c, d})
                 fs::remove(item);
             return file;
         },
         "", Ends::Search},
    };
    for (const Case& kase : cases) {
        SCOPED_TRACE(kase.name);
        // A program of its own for each case, ended as a quit ends it.
        app->applicationWillTerminate();
        KZErrorDelegate::sharedControl().setPresenter(alerts.presenter);
        TearDown();
        SetUp();
        AlertsAnsweredInTheEventLoop run;
        const fs::path opened = kase.arrange(run);
        kztest::runInsideTheEventLoop([&] {
            const int before = finishes;
            if (kase.road == Road::Launch)
                app->openFiles({opened});
            else
                openThroughThePanel(*app, std::make_shared<OnePanelAnswer>(opened));
            ASSERT_TRUE(kztest::processEventsUntil([&] { return finishes > before; }, 30s));
            ASSERT_TRUE(kztest::settleWindowTransitions());
            QTest::qWait(100);
        });
        EXPECT_EQ(run.quits.count, 0) << "the program went on";
        EXPECT_FALSE(run.answerer.said.isEmpty());
        EXPECT_TRUE(run.said().contains(QString::fromLatin1(kase.said))) << run.said().toStdString();
        if (kase.ends == Ends::Result)
            EXPECT_TRUE(app->resultWindowCntrl() && app->resultWindowCntrl()->isVisible());
        else
            EXPECT_TRUE(app->window()->isVisible());
    }
}

// An alert that comes at any moment of a reopening and of the way back from
// it, while only a transition or the opening window is on screen, answered
// with Return, ends nothing: the flip into the opening window, the opening
// window, the zoom up to the result, Back down to the progress window, and
// the flip back to the search window.
TEST_F(OpenSavedResult, AnAlertAnsweredWhileOnlyATransitionIsOnScreenLeavesTheProgramRunning)
{
    AlertsAnsweredInTheEventLoop run;
    const auto alertNow = [&](const char* moment) {
        SCOPED_TRACE(moment);
        const int before = int(run.answerer.said.size());
        EXPECT_FALSE(app->window()->isVisible());
        EXPECT_FALSE(app->resultWindowCntrl() && app->resultWindowCntrl()->isVisible());
        KZErrorDelegate::sharedControl().showError(QStringLiteral("running_alone"), {}, {QString::fromLatin1(moment)});
        EXPECT_EQ(run.answerer.said.size(), before + 1);
        QCoreApplication::processEvents();
        EXPECT_EQ(run.quits.count, 0);
    };
    const auto atHeldTransition = [&](const char* moment) {
        ASSERT_TRUE(kztest::processEventsUntil([] { return aTransitionIsHeld(); }, 30s)) << moment;
        alertNow(moment);
        letTheHeldTransitionGoOn();
    };
    // The opening window, alone on screen once the flip has put it there.
    platform::Subscription openingShown = center().addObserver(
        KZNotification::flipAnimationDidEnd, {}, [&](const platform::Notification&) {
            if (app->openedReader() && app->openedReader()->openingWindow() &&
                app->openedReader()->openingWindow()->isVisible()) {
                KZTransitionMath::setPauseAt(0.5);
                alertNow("the opening window");
            }
        });
    kztest::runInsideTheEventLoop([&] {
        // The search window in front as the flips know it, as after a search.
        KZWindowFlipAnimator::sharedWindowFlipAnimator().flipToWindow(app->window(), 0);
        KZTransitionMath::setPauseAt(0.5);
        openThroughThePanel(*app, std::make_shared<OnePanelAnswer>(file));
        atHeldTransition("the flip into the opening window");
        atHeldTransition("the zoom up to the result");
        ASSERT_TRUE(kztest::processEventsUntil(
            [&] { return finishes > 0 && app->resultWindowCntrl() && app->resultWindowCntrl()->isVisible(); }, 30s));
        openingShown.cancel();

        KZResultWindowCntrl* result = app->resultWindowCntrl();
        result->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(result, kztest::kPatienceMs));
        KZTransitionMath::setPauseAt(0.5);
        QTest::mouseClick(result->goBackBtn(), Qt::LeftButton);
        atHeldTransition("Back down to the progress window");
        auto* progress = qobject_cast<KZSearchProgressWindow*>(progressWindowInFront(*app));
        ASSERT_TRUE(progress);

        KZTransitionMath::setPauseAt(0.5);
        QTest::mouseClick(progress->resetBtn(), Qt::LeftButton); // its question answered with Return
        atHeldTransition("the flip back to the search window");
        ASSERT_TRUE(kztest::processEventsUntil([&] { return app->window()->isVisible(); }, 30s));
        ASSERT_TRUE(kztest::settleWindowTransitions());
    });
    EXPECT_EQ(run.quits.count, 0);
    EXPECT_EQ(run.answerer.said.size(), 6) << run.said().toStdString();
}

namespace {

// Counts the raising and activating of top-level windows.
class RaisedWindows : public QObject {
public:
    RaisedWindows() { qApp->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if ((event->type() == QEvent::ZOrderChange || event->type() == QEvent::WindowActivate) &&
            watched->isWidgetType() && static_cast<QWidget*>(watched)->isWindow())
            ++count;
        return false;
    }
};

} // namespace

// A folder handed over (a file manager, a second start) while a saved result
// opens, with the flip into the opening window held: nothing is asked, no
// window comes forward, and the folder is nowhere yet. Once the opening has
// ended, it asks "Start a new search?" of the reopened result as over any
// result; where the opening failed, the search window that came back takes
// the folder without a question.
TEST_F(OpenSavedResult, AFolderHandedOverWhileASavedResultOpensWaitsForItsEnd)
{
    const fs::path more = dir.mkdir("more");
    const fs::path goneFolders = [&] {
        KZSavedResult saved = *KZSavedResultFormat::decode(QByteArray::fromStdString(kztest::readFile(file)));
        saved.sources.front().alias = platform::createBookmark(dir.mkdir("removed"));
        fs::remove(dir / "removed");
        const fs::path path = dir / "gone-folders.maravex";
        std::ofstream(path, std::ios::binary) << KZSavedResultFormat::encode(saved).toStdString();
        return path;
    }();
    const auto unpause = qScopeGuard([] { KZTransitionMath::setPauseAt(-1); });
    const QString startOver = platform::localizedString(QStringLiteral("search_again"));
    for (const bool opens : {true, false}) {
        SCOPED_TRACE(opens ? "opened" : "failed");
        if (!opens) {
            TearDown();
            SetUp();
        }
        finishes = 0;
        alerts.presenter->shown.clear();
        KZSearchView* view = app->windowCntrl()->searchView();
        const auto sources = [&] {
            std::vector<fs::path> paths;
            for (const KZSourceItemRef& source : view->sourcesCntrl().sources())
                paths.push_back(source->path());
            return paths;
        };
        int questionsAtTheEnd = -1;
        const platform::Subscription ended = center().addObserver(
            KZNotification::openingDidFinish, {},
            [&](const platform::Notification&) { questionsAtTheEnd = alerts.presenter->count(startOver); });

        KZWindowFlipAnimator::sharedWindowFlipAnimator().flipToWindow(app->window(), 0);
        KZTransitionMath::setPauseAt(0.5);
        openThroughThePanel(*app, std::make_shared<OnePanelAnswer>(opens ? file : goneFolders));
        ASSERT_TRUE(kztest::processEventsUntil([] { return aTransitionIsHeld(); }, 10s));
        ASSERT_TRUE(app->routing().isOpening());

        const RaisedWindows raised;
        QWidget* activeBefore = QApplication::activeWindow();
        app->openFiles({more});
        QTest::qWait(100);
        EXPECT_EQ(alerts.presenter->count(startOver), 0) << "nothing asked while it opens";
        EXPECT_EQ(raised.count, 0) << "no window brought forward";
        EXPECT_EQ(QApplication::activeWindow(), activeBefore);
        EXPECT_FALSE(app->window()->isVisible());
        EXPECT_EQ(app->foldersToAdd(), std::vector<fs::path>{more});
        const std::vector<fs::path> meanwhile = sources();
        EXPECT_EQ(std::count(meanwhile.begin(), meanwhile.end(), more), 0) << "not in the search window it left";

        alerts.presenter->answers = {KZErrorDelegate::FirstButton};
        letTheHeldTransitionGoOn();
        ASSERT_TRUE(kztest::processEventsUntil(
            [&] { return finishes > 0 && app->window()->isVisible() && sources().size() == (opens ? 2u : 1u); },
            10s))
            << "questions " << alerts.presenter->count(startOver) << ", sources " << sources().size();
        ASSERT_TRUE(kztest::settleWindowTransitions(10s));
        EXPECT_EQ(questionsAtTheEnd, 0);
        EXPECT_EQ(alerts.presenter->count(startOver), opens ? 1 : 0);
        EXPECT_EQ(sources(), opens ? (std::vector<fs::path>{dir / "tree", more}) : std::vector<fs::path>{more});
        if (opens) {
            EXPECT_FALSE(app->resultWindowCntrl() && app->resultWindowCntrl()->isVisible());
        }
        EXPECT_FALSE(app->routing().isOpening() || app->routing().waitsForFront() || app->routing().waitsForReady() ||
                     app->routing().waitsForResult() || app->routing().waitsForProgress());
    }
}

namespace {

// What the progress window of a reopening looks like at the moments that
// matter: as it shows, and as the transition up to the result takes it
// away (and photographs it and the screen under it).
class ProgressWindowWatch : public QObject {
public:
    explicit ProgressWindowWatch(const KZOpenSavedResult& reader) : reader_(reader) { qApp->installEventFilter(this); }
    double opacityWhenShown = -1;
    double opacityWhenLeft = -1;
    bool openingShownWhenLeft = true;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* progress = qobject_cast<KZSearchProgressWindow*>(watched);
        if (!progress)
            return false;
        if (event->type() == QEvent::Show && opacityWhenShown < 0)
            opacityWhenShown = progress->windowOpacity();
        if (event->type() == QEvent::Hide && opacityWhenLeft < 0 && KZWindowTransitionAnimator::sharedControl().isRunning()) {
            opacityWhenLeft = progress->windowOpacity();
            openingShownWhenLeft = reader_.openingWindow() && reader_.openingWindow()->isVisible();
        }
        return false;
    }

private:
    const KZOpenSavedResult& reader_;
};

} // namespace

// The opening window hands over to the progress window by a cross-fade only
// where the display composites; on this display (offscreen) nothing is
// asked of any X server and the progress window simply shows. Either way
// the transition up to the result starts with the opening window gone and
// the progress window whole.
TEST_F(OpenSavedResult, TheOpeningWindowFadesIntoTheProgressWindowOnlyWhereTheDisplayComposites)
{
    int asked = 0;
    KZCompositor::setSelectionOwnerQuery([&] { return ++asked, true; });
    const auto unset = qScopeGuard([] { KZCompositor::setSelectionOwnerQuery({}); });
    for (const bool composites : {false, true}) {
        SCOPED_TRACE(composites ? "composited" : "this display");
        if (composites) {
            TearDown();
            SetUp();
        }
        KZOpenSavedResult::Host h = host();
        if (composites)
            h.windowsFade = [] { return true; };
        KZOpenSavedResult reader(std::move(h));
        const ProgressWindowWatch watch(reader);
        reader.prepareOpenSavedFile(file);
        ASSERT_TRUE(kztest::processEventsUntil([&] { return reader.didFinish(); }, 10s));
        ASSERT_TRUE(app->resultWindowCntrl() && app->resultWindowCntrl()->isVisible());
        EXPECT_DOUBLE_EQ(watch.opacityWhenShown, composites ? 0.0 : 1.0);
        EXPECT_DOUBLE_EQ(watch.opacityWhenLeft, 1.0);
        EXPECT_FALSE(watch.openingShownWhenLeft);
        EXPECT_FALSE(reader.openingWindow()->isVisible());
        EXPECT_DOUBLE_EQ(reader.openingWindow()->windowOpacity(), 1.0);
        ASSERT_TRUE(kztest::settleWindowTransitions(10s));
    }
    EXPECT_EQ(asked, 0) << "no X server asked on " << QGuiApplication::platformName().toStdString();
}
