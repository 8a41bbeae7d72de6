// Folders and saved results handed to the running program while the result
// window removes items: the real program, a real search and a real removal
// held part-way on its first move to the Trash.

#include "app/KZNewSearchRouting.h"
#include "app/KZWindowTransitionMath.h"
#include "app/progress/ui/KZSearchProgress.h"
#include "app/search/ui/KZSearchView.h"
#include "app/ui/KZMaravexApp.h"

#include "ShortAnimations.h"
#include "TestSupport.h"
#include "app/search/SearchTestSupport.h"
#include "app/ui/SettledTransitions.h"

#include "platform/NotificationCenter.h"
#include "platform/OpenedFiles.h"
#include "platform/Paths.h"
#include "platform/StringTable.h"
#include "platform/Trash.h"
#include "platform/UserDefaults.h"
#include "preferences/KZURLOpener.h"
#include "removal/KZRemovalFileSystem.h"
#include "removal/KZRemove.h"
#include "removal/ui/KZRemovePanelWidget.h"
#include "result/window/ui/KZFoundItemsModel.h"
#include "result/window/ui/KZFoundItemsOutlineView.h"
#include "result/window/ui/KZListMarkingCntrl.h"
#include "result/window/ui/KZMarkMenuWidget.h"
#include "result/window/ui/KZResultOutlineCntrl.h"
#include "result/window/ui/KZResultWindowCntrl.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZNotificationNames.h"
#include "settings/KZTags.h"

#include <QApplication>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>
#include <utime.h>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Every wait is for a condition; the bound only ends a test that went wrong,
// and is wide enough for a loaded machine.
constexpr std::chrono::milliseconds kPatience = 60s;
constexpr int kPatienceMs = static_cast<int>(kPatience.count());

// The first move to the Trash waits until the test lets it go.
class HeldTrash : public KZRemovalFileSystem {
public:
    std::optional<fs::path> moveToTrash(const platform::AnchoredItem& item, int* err) override
    {
        if (!entered.exchange(true))
            release.wait(kPatience);
        return KZRemovalFileSystem::moveToTrash(item, err);
    }
    std::atomic<bool> entered{false};
    kztest::Gate release;
};

// A later start of the program, on its own thread: it blocks until the
// running program, on this thread, has taken its paths. The thread gives up
// before the event loop stops serving it.
bool handOver(const fs::path& socket, const std::vector<fs::path>& paths)
{
    std::atomic<bool> done{false};
    auto role = platform::OpenedFiles::Role::Alone;
    std::thread later([&] {
        platform::OpenedFiles second(socket);
        role = second.start(paths, 30000);
        done = true;
    });
    kztest::processEventsUntil([&] { return done.load(); }, kPatience);
    later.join();
    return role == platform::OpenedFiles::Role::HandedOver;
}

class HandOverDuringRemoval : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(kztest::settleWindowTransitions()) << "a transition from before this test still runs";
        platform::UserDefaults::setStandard(std::make_unique<platform::UserDefaults>(dir / "defaults.plist"));
        platform::UserDefaults::standard().setValue(KZDefaultsKey::is_first_run, false);
        platform::UserDefaults::standard().setValue(KZDefaultsKey::show_result_by_group, true);
        KZSetURLOpener([](const QUrl&) { return true; });
        KZTransitionMath::setDurationFactor(0.05);
        KZRemovePanelWidget::setAnimationsInstant(true);
        std::error_code ec;
        fs::remove_all(platform::homeTrashDirectory(), ec);
    }
    void TearDown() override
    {
        KZRemovePanelWidget::setAnimationsInstant(false);
        KZTransitionMath::setDurationFactor(1.0);
        KZSetURLOpener({});
        QApplication::closeAllWindows();
        platform::UserDefaults::setStandard(nullptr);
        std::error_code ec;
        fs::remove_all(platform::homeTrashDirectory(), ec);
    }

    void write(const fs::path& rel, const std::string& bytes, time_t modified)
    {
        const fs::path path = tree / rel;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
        const utimbuf times{modified, modified};
        ASSERT_EQ(::utime(path.c_str(), &times), 0);
    }

    kztest::TempDir dir;
    // Beside the home Trash, on its disk: the removal moves, never copies.
    kztest::TempDir tree{kztest::sandboxHome()};
    searchtest::AlertScope alerts;
    kztest::ShortAnimations shortAnimations;
    std::shared_ptr<HeldTrash> held = std::make_shared<HeldTrash>();
};

TEST_F(HandOverDuringRemoval, FoldersSavedResultsAndNewSearchAreRefusedWhileTheRemovalRuns)
{
    ASSERT_NO_FATAL_FAILURE(write("photos/beach.jpg", std::string(40000, 'b'), 1'000'000'000));
    ASSERT_NO_FATAL_FAILURE(write("backup/beach.jpg", std::string(40000, 'b'), 1'600'000'000));
    ASSERT_NO_FATAL_FAILURE(write("photos/notes.txt", std::string(3000, 'n'), 1'600'000'000));
    ASSERT_NO_FATAL_FAILURE(write("backup/notes.txt", std::string(3000, 'n'), 1'000'000'000));
    const std::vector<fs::path> newer{tree / "backup/beach.jpg", tree / "photos/notes.txt"};
    const fs::path more = tree.mkdir("more");
    const fs::path saved = tree.write("earlier.maravex", "not read while refused");

    KZMaravexApp app;
    const kztest::SettleTransitionsOnExit settle;
    app.setCrashReportFolder(dir / "state");
    platform::OpenedFiles running(dir / "maravex.socket");
    ASSERT_EQ(running.start({}), platform::OpenedFiles::Role::Primary);
    running.setHandler([&app](const std::vector<fs::path>& paths) { app.openFiles(paths); });
    // A failed step must not leave the removal held while the program goes.
    const auto letGo = qScopeGuard([&] {
        held->release.open();
        kztest::processEventsUntil([] { return !KZRemove::isRemovalRunning(); }, kPatience);
    });
    app.applicationWillFinishLaunching();
    app.applicationDidFinishLaunching();
    QWidget* search = app.window();
    ASSERT_TRUE(search && QTest::qWaitForWindowExposed(search, kPatienceMs));
    KZSearchView* view = app.windowCntrl()->searchView();

    // The search, its result window, and the newer copy of each pair marked;
    // each folder keeps a file, so no emptied folder is asked about.
    app.windowCntrl()->addFolders({tree / "photos", tree / "backup"});
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] { return view->phase() == KZSearchView::Phase::LaidOut && view->sourcesCntrl().sources().size() == 2; },
        20s));
    // Shown once its lists are built, so that the rows are there to mark.
    std::atomic<bool> listsReady{false};
    const platform::Subscription readiness = platform::NotificationCenter::defaultCenter().addObserver(
        KZNotification::resultIsReady, platform::bundleIdentifier(),
        [&](const platform::Notification&) { listsReady = true; });
    view->startButton()->click();
    const auto progress = app.windowCntrl()->progressCntrl();
    ASSERT_NE(progress, nullptr);
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] { return app.resultWindowCntrl() && !progress->isSearching() && listsReady.load(); }, kPatience));
    // Pressed once the progress window has turned into view, as a user can.
    ASSERT_TRUE(kztest::processEventsUntil([&] { return progress->window() && progress->window()->isVisible(); }));
    ASSERT_TRUE(kztest::settleWindowTransitions());
    progress->showResultAction();
    KZResultWindowCntrl* result = app.resultWindowCntrl();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return result->isVisible() && !search->isVisible(); }, kPatience));
    result->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(result, kPatienceMs));
    KZResultOutlineCntrl* outline = nullptr;
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] {
            outline = result->outlineOfTab(KZTag::allDuplicates);
            return outline && outline->foundModel()->rowCount() > 0;
        },
        20s));
    KZFoundItemsOutlineView* list = outline->foundListView();
    auto* marking = list->findChild<KZListMarkingCntrl*>();
    ASSERT_NE(marking, nullptr);
    ASSERT_EQ(list->model()->rowCount(), 2);
    for (int row = 0; row < 2; ++row) {
        const QModelIndex group = list->model()->index(row, 0);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, marking->groupLayout(group).arrow.center());
        ASSERT_TRUE(marking->markMenu()->isVisible());
        marking->markMenu()->actionWithTag(3)->trigger();
        marking->markMenu()->close();
    }

    // Remove, Start: the removal holds on its first move.
    QTest::mouseClick(result->removeBtn(), Qt::LeftButton);
    QPointer<KZRemovePanelWidget> panel;
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] {
            panel = result->findChild<KZRemovePanelWidget*>();
            return panel && panel->visibleCard() == KZRemovePanelWidget::Card::Choose;
        },
        kPatience));
    ASSERT_TRUE(panel->cntrl());
    panel->cntrl()->setEngineFactory([fileSystem = held](std::shared_ptr<KZRemovalPanel> owner) {
        return std::make_shared<KZRemove>(std::move(owner), fileSystem);
    });
    QTest::mouseClick(panel->startButton(), Qt::LeftButton);
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] { return held->entered.load() && result->isRemovingProcessActive(); }, kPatience));
    const std::size_t alertsBefore = alerts.presenter->shown.size();
    // The refusal is the program's answer to each request: once the user
    // reads it, whatever the request set going has been set going.
    const auto resultStaysInFront = [&](std::size_t alertsNow) {
        ASSERT_TRUE(
            kztest::processEventsUntil([&] { return alerts.presenter->shown.size() >= alertsNow; }, kPatience));
        QCoreApplication::processEvents();
        EXPECT_TRUE(result->isVisible());
        EXPECT_FALSE(search->isVisible());
        EXPECT_FALSE(app.routing().waitsForResult());
        EXPECT_FALSE(app.routing().waitsForProgress());
        EXPECT_FALSE(app.routing().waitsForReady());
        EXPECT_FALSE(app.routing().waitsToOpen());
        EXPECT_TRUE(app.foldersToAdd().empty()) << "nothing left to be added behind the user's back";
    };

    // Folders from a later start: refused, and the user reads which.
    ASSERT_TRUE(handOver(dir / "maravex.socket", {more}));
    ASSERT_NO_FATAL_FAILURE(resultStaysInFront(alertsBefore + 1));
    ASSERT_EQ(alerts.presenter->shown.size(), alertsBefore + 1);
    EXPECT_TRUE(alerts.presenter->shown.back().messageText.contains(platform::pathText(more)))
        << alerts.presenter->shown.back().messageText.toStdString();

    // A saved result: refused before anything asks to replace the result.
    ASSERT_TRUE(handOver(dir / "maravex.socket", {saved, more}));
    ASSERT_NO_FATAL_FAILURE(resultStaysInFront(alertsBefore + 2));
    ASSERT_EQ(alerts.presenter->shown.size(), alertsBefore + 2);
    EXPECT_TRUE(alerts.presenter->shown.back().messageText.contains(platform::pathText(saved)));
    EXPECT_EQ(alerts.presenter->count(platform::localizedString(QStringLiteral("losing_result_msg"))), 0);

    // New Search and Search Again, as their shortcuts reach them.
    app.newSearchAction();
    app.searchAgainAction();
    ASSERT_NO_FATAL_FAILURE(resultStaysInFront(alertsBefore + 4));
    ASSERT_EQ(alerts.presenter->shown.size(), alertsBefore + 4);
    EXPECT_EQ(alerts.presenter->shown.back().messageText,
              platform::localizedString(QStringLiteral("close_result_window_while_removing")));

    // The removal goes on to its end; the newer copies moved to the Trash.
    held->release.open();
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] { return panel && panel->visibleCard() == KZRemovePanelWidget::Card::Final; }, kPatience));
    ASSERT_TRUE(kztest::processEventsUntil([] { return !KZRemove::isRemovalRunning(); }, kPatience));
    for (const fs::path& path : newer) {
        EXPECT_FALSE(fs::exists(path)) << path;
        EXPECT_TRUE(fs::exists(platform::homeTrashDirectory() / "files" / path.filename())) << path;
    }
    EXPECT_TRUE(result->isVisible());
    QTest::mouseClick(panel->findChild<QPushButton*>(QStringLiteral("removalClose")), Qt::LeftButton);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !result->isRemoving(); }, kPatience));

    // Once the removal has closed, the same folders are taken as ever: the
    // result window walks back and they join the sources of the search.
    result->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(result, kPatienceMs));
    ASSERT_TRUE(handOver(dir / "maravex.socket", {more}));
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] { return search->isVisible() && !result->isVisible() && view->sourcesCntrl().sources().size() == 3; },
        20s));
}

} // namespace
