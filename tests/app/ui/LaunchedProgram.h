#pragma once

#include "app/KZWindowTransitionMath.h"
#include "app/progress/ui/KZSearchProgress.h"
#include "app/search/ui/KZSearchView.h"
#include "app/ui/KZMaravexApp.h"

#include "ShortAnimations.h"
#include "TestSupport.h"
#include "app/search/SearchTestSupport.h"
#include "app/ui/SettledTransitions.h"

#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "preferences/KZURLOpener.h"
#include "preferences/ui/KZPreferencesWindow.h"
#include "result/window/ui/KZResultWindowCntrl.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZNotificationNames.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace kztest {

// The real program started as its main() starts it, its crash reporter's
// files kept in `stateFolder`. Its first window may still be on its way.
inline std::unique_ptr<KZMaravexApp> launchProgram(const std::filesystem::path& stateFolder)
{
    auto app = std::make_unique<KZMaravexApp>();
    app->setCrashReportFolder(stateFolder);
    app->applicationWillFinishLaunching();
    app->applicationDidFinishLaunching();
    return app;
}

// The real program on a later run (no welcome), its window transitions
// short and the web left alone, for tests that walk its windows from the
// search window to a result as a user does.
class LaunchedProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(settleWindowTransitions()) << "a transition from before this test still runs";
        platform::UserDefaults::setStandard(std::make_unique<platform::UserDefaults>(dir / "defaults.plist"));
        platform::UserDefaults::standard().setValue(KZDefaultsKey::is_first_run, false);
        KZSetURLOpener([](const QUrl&) { return true; });
        KZTransitionMath::setDurationFactor(0.05);
    }
    void TearDown() override
    {
        KZPreferencesWindow::destroyShared();
        KZTransitionMath::setDurationFactor(1.0);
        KZSetURLOpener({});
        app.reset();
        QApplication::closeAllWindows();
        platform::UserDefaults::setStandard(nullptr);
    }

    // Starts the program and waits for its search window.
    void launch()
    {
        app = launchProgram(dir / "state");
        ASSERT_TRUE(app->window() && QTest::qWaitForWindowExposed(app->window(), kPatienceMs));
    }

    // Two folders of `tree` that hold one pair of equal files between them.
    std::vector<std::filesystem::path> twoFoldersOfCopies()
    {
        const std::filesystem::path photos = tree.mkdir("photos");
        const std::filesystem::path backup = tree.mkdir("backup");
        tree.write("photos/beach.jpg", std::string(40000, 'b'));
        tree.write("backup/beach.jpg", std::string(40000, 'b'));
        return {photos, backup};
    }

    // Start in the search window, then Show Result: the result window in
    // front, the search and progress windows behind it.
    void searchAndShowTheResult(KZResultWindowCntrl** shown)
    {
        KZSearchView* view = app->windowCntrl()->searchView();
        ASSERT_TRUE(processEventsUntil(
            [&] { return view->phase() == KZSearchView::Phase::LaidOut && view->startButton()->isVisible(); }));
        // Shown once its lists are built, as a user sees it.
        std::atomic<bool> listsReady{false};
        const platform::Subscription readiness = platform::NotificationCenter::defaultCenter().addObserver(
            KZNotification::resultIsReady, platform::bundleIdentifier(),
            [&](const platform::Notification&) { listsReady = true; });
        QTest::mouseClick(view->startButton(), Qt::LeftButton);
        const auto progress = app->windowCntrl()->progressCntrl();
        ASSERT_NE(progress, nullptr);
        ASSERT_TRUE(processEventsUntil([&] {
            return app->resultWindowCntrl() && !progress->isSearching() && listsReady.load() && progress->window() &&
                   progress->window()->isVisible();
        }));
        ASSERT_TRUE(settleWindowTransitions());
        progress->showResultAction();
        KZResultWindowCntrl* result = app->resultWindowCntrl();
        ASSERT_TRUE(processEventsUntil([&] {
            return result->isVisible() && !progress->window()->isVisible() && !app->window()->isVisible();
        }));
        ASSERT_TRUE(settleWindowTransitions());
        result->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(result, kPatienceMs));
        *shown = result;
    }

    TempDir dir;
    TempDir tree;
    searchtest::AlertScope alerts;
    ShortAnimations shortAnimations;
    std::unique_ptr<KZMaravexApp> app;
};

} // namespace kztest
