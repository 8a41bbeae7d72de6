#include "app/KZNewSearchRouting.h"
#include "app/KZWindowTransitionMath.h"
#include "app/progress/KZSearchProgressCore.h"
#include "app/progress/ui/KZSearchProgress.h"
#include "app/progress/ui/KZSearchProgressWindow.h"
#include "app/search/ui/KZSearchView.h"
#include "app/ui/KZMaravexApp.h"

#include "app/search/SearchTestSupport.h"
#include "app/ui/SettledTransitions.h"
#include "ShortAnimations.h"
#include "TestSupport.h"

#include "platform/NotificationCenter.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "services/ui/KZWindowPlacement.h"
#include "preferences/KZURLOpener.h"
#include "result/window/ui/KZFoundItemsModel.h"
#include "result/window/ui/KZFoundItemsOutlineView.h"
#include "result/window/ui/KZPreviewPanel.h"
#include "result/window/ui/KZResultOutlineCntrl.h"
#include "result/window/ui/KZResultWindowCntrl.h"
#include "services/ui/KZMenuSet.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZNotificationNames.h"

#include <QAction>
#include <QApplication>
#include <QPointer>
#include <QPushButton>
#include <QToolButton>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

// The names of the transitions' notifications, in the order they came.
class Recorder {
public:
    Recorder()
    {
        auto& center = platform::NotificationCenter::defaultCenter();
        for (const QString& name : {KZNotification::flipAnimationDidEnd, KZNotification::newSearchProgressTerminated,
                                    KZNotification::openAnimationDidTerminate,
                                    KZNotification::newSearchResultTerminated}) {
            subscriptions_.push_back(
                center.addObserver(name, {}, [this](const platform::Notification& n) { posts.push_back(n.name); }));
        }
    }
    std::vector<QString> posts;

private:
    std::vector<platform::Subscription> subscriptions_;
};

// The program's settings in `folder`, its transitions and animations short,
// no address opened and every alert recorded; all put back however the
// test ends, so that the next one starts afresh.
class ProgramWithShortTransitions {
    // Made first and let go last: the alerts and the short animations go
    // before the windows are closed and the settings let go.
    struct Settings {
        explicit Settings(const std::filesystem::path& folder)
        {
            platform::UserDefaults::setStandard(std::make_unique<platform::UserDefaults>(folder / "defaults.plist"));
            platform::UserDefaults::standard().setValue(KZDefaultsKey::is_first_run, false);
        }
        ~Settings()
        {
            KZTransitionMath::setDurationFactor(1.0);
            KZSetURLOpener({});
            QApplication::closeAllWindows();
            platform::UserDefaults::setStandard(nullptr);
        }
        Settings(const Settings&) = delete;
        Settings& operator=(const Settings&) = delete;
    } settings_;

public:
    explicit ProgramWithShortTransitions(const std::filesystem::path& folder) : settings_(folder)
    {
        KZSetURLOpener([](const QUrl&) { return true; });
        KZTransitionMath::setDurationFactor(0.05);
    }
    searchtest::AlertScope alerts;
    kztest::ShortAnimations shortAnimations;
};

// Search, flip to the progress window, zoom to the result, then New Search
// walks back through both transitions: the real program's windows, with
// short durations.
TEST(TransitionsEndToEnd, SearchFlipZoomAndNewSearchThroughTheRealWindows)
{
    ASSERT_TRUE(kztest::settleWindowTransitions()) << "a transition from before this test still runs";
    kztest::TempDir dir;
    ProgramWithShortTransitions program(dir.path());
    searchtest::AlertScope& alerts = program.alerts;
    dir.write("tree/photos/beach.jpg", std::string(40000, 'b'));
    dir.write("tree/backup/beach.jpg", std::string(40000, 'b'));
    dir.write("tree/photos/notes.txt", std::string(3000, 'n'));
    dir.write("tree/backup/notes copy.txt", std::string(3000, 'n'));

    Recorder recorder;
    {
        KZMaravexApp app;
        const kztest::SettleTransitionsOnExit settle;
        app.setCrashReportFolder(dir.path() / "state");
        app.applicationWillFinishLaunching();
        app.applicationDidFinishLaunching();
        QWidget* search = app.window();
        KZSearchView* view = app.windowCntrl()->searchView();
        ASSERT_TRUE(search && view);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(search, kztest::kPatienceMs));
        // Through the view's own animation, as a drop or the open panel adds them.
        app.windowCntrl()->addFolders({dir.path() / "tree/photos", dir.path() / "tree/backup"});
        ASSERT_TRUE(kztest::processEventsUntil(
            [&] { return view->phase() == KZSearchView::Phase::LaidOut && view->sourcesCntrl().sources().size() == 2; },
            20s));

        view->startButton()->click();
        const auto progress = app.windowCntrl()->progressCntrl();
        ASSERT_NE(progress, nullptr);
        // Let go, and perhaps deleted, once a new search has turned it away.
        QPointer<QWidget> progressWindow = progress->window();
        ASSERT_TRUE(kztest::processEventsUntil(
            [&] { return progressWindow->isVisible() && !search->isVisible() && !recorder.posts.empty(); }, 20s));
        ASSERT_TRUE(kztest::processEventsUntil([&] { return app.resultWindowCntrl() && !progress->isSearching(); }, 60s));
        ASSERT_TRUE(kztest::settleWindowTransitions());

        progress->showResultAction();
        QWidget* result = app.resultWindowCntrl();
        ASSERT_TRUE(kztest::processEventsUntil([&] { return result->isVisible() && !progressWindow->isVisible(); }, 20s));
        // The result window stands inside the usable screen with room for its
        // title bar (this screen is narrower than the window's least width).
        const QRect available = result->screen()->availableGeometry();
        const QRect at = result->geometry();
        EXPECT_GE(at.top(), available.top() + KZWindowPlacement::kEstimatedTitleBar);
        EXPECT_GE(at.left(), available.left());
        EXPECT_LE(at.bottom(), available.bottom());

        // The preview panel open on a row: New Search takes it away with the
        // result window, not leaving it over the search window.
        KZResultWindowCntrl* resultCntrl = app.resultWindowCntrl();
        KZResultOutlineCntrl* outline = resultCntrl->outlineOfTab(resultCntrl->currSelectedTabTag());
        ASSERT_TRUE(outline && outline->foundModel()->rowCount() > 0);
        outline->foundListView()->setCurrentIndex(outline->foundModel()->index(0, 0));
        resultCntrl->validateMenus();
        resultCntrl->quickLookItem()->trigger();
        ASSERT_TRUE(KZPreviewPanel::isOpen());

        result->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(result, kztest::kPatienceMs));
        // It goes first, in place, while the result window is still there.
        KZPreviewPanel& panel = KZPreviewPanel::shared();
        ASSERT_TRUE(kztest::processEventsUntil([&] { return panel.windowOpacity() == 1.0; }));
        const int zooms = panel.zoomCount();
        std::vector<bool> resultShownAtClose;
        const auto panelNote = platform::NotificationCenter::defaultCenter().addObserver(
            QStringLiteral("quickLookWindowVisibilityWillChange"), platform::bundleIdentifier(),
            [&](const platform::Notification& n) {
                if (!n.userInfo.value(QStringLiteral("isVisible")).toBool())
                    resultShownAtClose.push_back(result->isVisible());
            });
        app.newSearchAction();
        EXPECT_FALSE(KZPreviewPanel::isOpen());
        EXPECT_EQ(resultShownAtClose, std::vector<bool>{true});
        const bool walkedBack = kztest::processEventsUntil(
            [&] {
                return !app.routing().waitsForResult() && !app.routing().waitsForProgress() && search->isVisible() &&
                       view->sourcesCntrl().sources().empty();
            },
            20s);
        ASSERT_TRUE(walkedBack) << app.routing().waitsForResult() << app.routing().waitsForProgress()
                                << search->isVisible() << view->sourcesCntrl().sources().size() << " "
                                << recorder.posts.size();
        EXPECT_FALSE(result->isVisible());
        EXPECT_FALSE(progressWindow && progressWindow->isVisible());
        EXPECT_FALSE(KZPreviewPanel::isOpen());
        EXPECT_EQ(panel.zoomCount(), zooms) << "no zoom into the window walked away from";
        EXPECT_EQ(recorder.posts,
                  (std::vector<QString>{KZNotification::flipAnimationDidEnd, KZNotification::newSearchProgressTerminated,
                                        KZNotification::openAnimationDidTerminate,
                                        KZNotification::newSearchResultTerminated, KZNotification::flipAnimationDidEnd,
                                        KZNotification::newSearchProgressTerminated}));
        // Only the question before the result is given up, answered "go on".
        ASSERT_EQ(alerts.presenter->shown.size(), 1u);
        EXPECT_EQ(alerts.presenter->shown[0].messageText,
                  platform::localizedString(QStringLiteral("search_again")));
    }
}

// The result window's back button, clicked: the preview panel closes and the
// result zooms back into the progress window it came from, which asks
// nothing and keeps it; that window's Show Result brings the same result
// back. File > Search Again still asks before the result goes.
TEST(TransitionsEndToEnd, TheBackButtonGoesBackToTheProgressWindowWhoseShowResultBringsTheResultBack)
{
    ASSERT_TRUE(kztest::settleWindowTransitions()) << "a transition from before this test still runs";
    kztest::TempDir dir;
    ProgramWithShortTransitions program(dir.path());
    searchtest::AlertScope& alerts = program.alerts;
    dir.write("tree/a/notes.txt", std::string(3000, 'n'));
    dir.write("tree/b/notes copy.txt", std::string(3000, 'n'));

    KZMaravexApp app;
    const kztest::SettleTransitionsOnExit settle;
    app.setCrashReportFolder(dir.path() / "state");
    app.applicationWillFinishLaunching();
    app.applicationDidFinishLaunching();
    QWidget* search = app.window();
    KZSearchView* view = app.windowCntrl()->searchView();
    ASSERT_TRUE(search && view);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(search, kztest::kPatienceMs));
    app.windowCntrl()->addFolders({dir.path() / "tree"});
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] { return view->phase() == KZSearchView::Phase::LaidOut && view->startButton()->isVisible(); }, 20s));
    QTest::mouseClick(view->startButton(), Qt::LeftButton);
    const auto progress = app.windowCntrl()->progressCntrl();
    ASSERT_NE(progress, nullptr);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return app.resultWindowCntrl() && !progress->isSearching(); }, 60s));
    ASSERT_TRUE(kztest::settleWindowTransitions());
    KZSearchProgressWindow* progressWindow = progress->progressWindow();
    ASSERT_TRUE(progressWindow && progressWindow->isVisible());
    ASSERT_TRUE(kztest::processEventsUntil([&] { return progressWindow->showResultBtn()->isVisible(); }, 20s));
    QTest::mouseClick(progressWindow->showResultBtn(), Qt::LeftButton);
    KZResultWindowCntrl* result = app.resultWindowCntrl();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return result->isVisible() && !progressWindow->isVisible(); }, 20s));
    ASSERT_TRUE(kztest::settleWindowTransitions());

    KZResultOutlineCntrl* outline = result->outlineOfTab(result->currSelectedTabTag());
    ASSERT_TRUE(outline && outline->foundModel()->rowCount() > 0);
    outline->foundListView()->setCurrentIndex(outline->foundModel()->index(0, 0));
    result->validateMenus();
    result->quickLookItem()->trigger();
    ASSERT_TRUE(KZPreviewPanel::isOpen());
    result->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(result, kztest::kPatienceMs));
    ASSERT_TRUE(kztest::processEventsUntil([&] { return result->goBackBtn()->isEnabled(); }));

    QTest::mouseClick(result->goBackBtn(), Qt::LeftButton);
    EXPECT_FALSE(KZPreviewPanel::isOpen());
    ASSERT_TRUE(kztest::processEventsUntil([&] { return progressWindow->isVisible() && !result->isVisible(); }, 20s));
    ASSERT_TRUE(kztest::settleWindowTransitions());
    kztest::processEventsUntil([] { return false; }, 200ms); // a question would come now
    EXPECT_TRUE(alerts.presenter->shown.empty()) << alerts.presenter->shown[0].messageText.toStdString();
    EXPECT_FALSE(search->isVisible());
    EXPECT_FALSE(app.routing().waitsForResult());
    EXPECT_FALSE(app.routing().waitsForProgress());
    EXPECT_EQ(app.resultWindowCntrl(), result) << "the result is kept";
    EXPECT_TRUE(progressWindow->showResultBtn()->isVisible());

    QTest::mouseClick(progressWindow->showResultBtn(), Qt::LeftButton);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return result->isVisible() && !progressWindow->isVisible(); }, 20s));
    EXPECT_EQ(app.resultWindowCntrl(), result);
    EXPECT_GT(result->outlineOfTab(result->currSelectedTabTag())->foundModel()->rowCount(), 0);
    ASSERT_TRUE(kztest::settleWindowTransitions());

    // File > Search Again asks whether the result may go.
    result->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(result, kztest::kPatienceMs));
    QAction* again = KZMenuSet::shared().item(KZMenuSet::File, KZMenuSet::SearchAgainTag);
    ASSERT_TRUE(again && app.validateMenuItem(again));
    again->trigger();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !alerts.presenter->shown.empty(); }, 20s));
    EXPECT_EQ(alerts.presenter->shown[0].messageText, platform::localizedString(QStringLiteral("search_again")));
    ASSERT_TRUE(kztest::processEventsUntil([&] { return search->isVisible() && !app.routing().waitsForProgress(); }, 20s));
}

} // namespace
