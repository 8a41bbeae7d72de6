// The shared menus in the states of the windows: an item is enabled only
// where choosing it does something.

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
#include "services/KZFileDialogPresenter.h"
#include "services/ui/KZMenuSet.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZNotificationNames.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>

namespace {

namespace fs = std::filesystem;

// Counts the save panels asked for, and cancels each.
class CountedPanels : public KZFileDialogPresenter {
public:
    void present(const Request& request, Completion done) override
    {
        saves += request.mode == Mode::SaveFile;
        done({});
    }
    int saves = 0;
};

class MenuStates : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(kztest::settleWindowTransitions());
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
    void launch()
    {
        app = std::make_unique<KZMaravexApp>();
        app->setCrashReportFolder(dir / "state");
        app->applicationWillFinishLaunching();
        app->applicationDidFinishLaunching();
        ASSERT_TRUE(app->window() && QTest::qWaitForWindowExposed(app->window(), kztest::kPatienceMs));
    }
    // Every item of the shared menus, as its menu shows it now.
    std::map<std::string, bool> shared()
    {
        QMetaObject::invokeMethod(KZMenuSet::shared().popupMenu(), "aboutToShow");
        std::map<std::string, bool> items;
        for (QAction* sub : KZMenuSet::shared().popupMenu()->actions())
            if (QMenu* menu = sub->menu()) {
                QMetaObject::invokeMethod(menu, "aboutToShow");
                for (QAction* a : menu->actions())
                    if (!a->isSeparator())
                        items[a->objectName().toStdString()] = a->isEnabled();
            }
        return items;
    }
    kztest::TempDir dir;
    kztest::TempDir tree;
    searchtest::AlertScope alerts;
    kztest::ShortAnimations shortAnimations;
    std::unique_ptr<KZMaravexApp> app;
};

// Save, Quick Look and the Result menu act on the result window: enabled
// while it is on screen (Preferences in front of it included), disabled in
// the search window before any result and after New Search has taken the
// result window away, where they would have nothing to act on.
TEST_F(MenuStates, TheResultWindowsCommandsAreOfferedOnlyWhileItIsOnScreen)
{
    const fs::path photos = tree.mkdir("photos");
    const fs::path backup = tree.mkdir("backup");
    tree.write("photos/beach.jpg", std::string(40000, 'b'));
    tree.write("backup/beach.jpg", std::string(40000, 'b'));
    ASSERT_NO_FATAL_FAILURE(launch());
    const kztest::SettleTransitionsOnExit settle;
    const auto expect = [this](bool onScreen, const char* state) {
        SCOPED_TRACE(state);
        const std::map<std::string, bool> items = shared();
        for (const char* name : {"save", "resultRemove", "resultExport"})
            EXPECT_EQ(items.at(name), onScreen) << name;
        // Nothing is selected: there is nothing to preview or mark.
        for (const char* name : {"quickLook", "resultMark"})
            EXPECT_FALSE(items.at(name)) << name;
        // Each window's own commands stay.
        for (const char* name : {"openSaved", "close", "quit", "about", "newsletter"})
            EXPECT_TRUE(items.at(name)) << name;
    };
    expect(false, "search window before any result");

    app->windowCntrl()->addFolders({photos, backup});
    KZSearchView* view = app->windowCntrl()->searchView();
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] { return view->phase() == KZSearchView::Phase::LaidOut && view->startButton()->isVisible(); }));
    std::atomic<bool> listsReady{false};
    const platform::Subscription readiness = platform::NotificationCenter::defaultCenter().addObserver(
        KZNotification::resultIsReady, platform::bundleIdentifier(),
        [&](const platform::Notification&) { listsReady = true; });
    QTest::mouseClick(view->startButton(), Qt::LeftButton);
    const auto progress = app->windowCntrl()->progressCntrl();
    ASSERT_TRUE(kztest::processEventsUntil([&] {
        return app->resultWindowCntrl() && !progress->isSearching() && listsReady.load() && progress->window() &&
               progress->window()->isVisible();
    }));
    ASSERT_TRUE(kztest::settleWindowTransitions());
    progress->showResultAction();
    KZResultWindowCntrl* result = app->resultWindowCntrl();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return result->isVisible() && !app->window()->isVisible(); }));
    ASSERT_TRUE(kztest::settleWindowTransitions());
    result->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(result, kztest::kPatienceMs));
    expect(true, "result window");
    KZPreferencesWindow::showShared();
    ASSERT_TRUE(QTest::qWaitForWindowActive(KZPreferencesWindow::sharedWindow(), kztest::kPatienceMs));
    expect(true, "Preferences in front of the result window");
    KZPreferencesWindow::destroyShared();

    result->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(result, kztest::kPatienceMs));
    app->newSearchAction();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return app->window()->isVisible() && !result->isVisible(); }));
    ASSERT_TRUE(kztest::settleWindowTransitions());
    expect(false, "search window after New Search");
    // Its shortcut asks for no file either.
    const auto panels = std::make_shared<CountedPanels>();
    const auto previous = KZFileDialogPresenter::setShared(panels);
    app->window()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(app->window(), kztest::kPatienceMs));
    QTest::keyClick(app->window(), Qt::Key_S, Qt::ControlModifier);
    QCoreApplication::processEvents();
    EXPECT_EQ(panels->saves, 0);
    KZFileDialogPresenter::setShared(previous);
}

} // namespace
