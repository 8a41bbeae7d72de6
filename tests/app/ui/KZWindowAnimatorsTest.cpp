#include "app/KZNewSearchRouting.h"
#include "app/KZWindowTransitionMath.h"
#include "app/ui/KZQuitPolicy.h"
#include "app/ui/KZTransitionOverlay.h"
#include "app/ui/KZWindowFlipAnimator.h"
#include "app/ui/KZWindowTransitionAnimator.h"

#include "TestSupport.h"

#include "platform/NotificationCenter.h"
#include "settings/KZNotificationNames.h"

#include <QApplication>
#include <QPainter>
#include <QScreen>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace std::chrono_literals;

// A plain window filled with one colour, so that snapshots can be told apart.
class Plain : public QWidget {
public:
    Plain(QColor colour, QSize size) : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint), colour_(colour)
    {
        resize(size);
    }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), colour_); }

private:
    QColor colour_;
};

// Every notification the transitions post, in order.
class Recorder {
public:
    Recorder()
    {
        auto& center = platform::NotificationCenter::defaultCenter();
        for (const QString& name : {KZNotification::flipAnimationDidEnd, KZNotification::newSearchProgressTerminated,
                                    KZNotification::openAnimationDidTerminate,
                                    KZNotification::newSearchResultTerminated}) {
            subscriptions_.push_back(center.addObserver(name, {}, [this](const platform::Notification& n) {
                posts.push_back(n);
            }));
        }
    }
    std::vector<platform::Notification> posts;

private:
    std::vector<platform::Subscription> subscriptions_;
};

class KZWindowAnimatorsTest : public ::testing::Test {
protected:
    void SetUp() override { KZTransitionMath::setDurationFactor(0.03); }
    void TearDown() override
    {
        KZTransitionMath::setDurationFactor(1.0);
        KZTransitionMath::setPauseAt(-1);
        QApplication::closeAllWindows();
    }
    static bool settle(const std::function<bool()>& done) { return kztest::processEventsUntil(done, kztest::kPatience); }
};

TEST_F(KZWindowAnimatorsTest, FlipReplacesTheWindowAndPostsItsTwoNotificationsInOrder)
{
    Plain search(Qt::red, QSize(600, 400));
    Plain progress(Qt::blue, QSize(509, 509));
    // Both windows fit the screen where they stand: a window that would not
    // is moved back onto it.
    search.move(100, 40);
    search.show();
    KZWindowFlipAnimator animator;
    Recorder recorder;

    animator.flipToWindow(&search, 3); // only recorded
    EXPECT_EQ(animator.currentWindow(), &search);
    EXPECT_FALSE(animator.isFlipping());
    animator.flipToWindow(&search, 3); // already in front: no flip
    EXPECT_FALSE(animator.isFlipping());
    EXPECT_TRUE(recorder.posts.empty());

    const QRect before = search.geometry();
    animator.flipToWindow(&progress, 3);
    ASSERT_TRUE(animator.isFlipping());
    KZTransitionOverlay* overlay = animator.animationWindow();
    // The overlay takes no input and keeps nothing alive.
    EXPECT_TRUE(overlay->windowFlags().testFlag(Qt::WindowTransparentForInput));
    EXPECT_TRUE(overlay->testAttribute(Qt::WA_TransparentForMouseEvents));
    EXPECT_FALSE(KZQuitPolicy::keepsProgramAlive(overlay));
    EXPECT_NEAR(overlay->width(), 600 * 3.04, 1.0);
    EXPECT_FALSE(search.isVisible());

    ASSERT_TRUE(settle([&] { return !animator.isFlipping(); }));
    EXPECT_TRUE(progress.isVisible());
    EXPECT_EQ(animator.currentWindow(), &progress);
    // Centred under the same top edge.
    EXPECT_EQ(progress.geometry().top(), before.top());
    EXPECT_NEAR(progress.geometry().center().x(), before.center().x(), 1.0);

    ASSERT_EQ(recorder.posts.size(), 2U);
    EXPECT_EQ(recorder.posts[0].name, KZNotification::flipAnimationDidEnd);
    EXPECT_EQ(recorder.posts[0].object.pointer(), &progress);
    EXPECT_EQ(recorder.posts[1].name, KZNotification::newSearchProgressTerminated);
    EXPECT_EQ(recorder.posts[1].object.string(), platform::bundleIdentifier());
    EXPECT_TRUE(recorder.posts[1].userInfo.value(QStringLiteral("isClosed")).toBool());
}

TEST_F(KZWindowAnimatorsTest, RequestsDuringAFlipWaitAndTheLastOneEndsInFront)
{
    struct Case {
        const char* name;
        int requests; // after the first flip started: search, progress, search...
        bool searchEndsInFront;
        size_t flips;
    } const cases[] = {
        {"back again", 1, true, 2},
        {"back and forth", 2, false, 1}, // the last request is the running flip's own target
        {"three times", 3, true, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Plain search(Qt::red, QSize(600, 400));
        Plain progress(Qt::blue, QSize(509, 509));
        search.show();
        KZWindowFlipAnimator animator;
        Recorder recorder;
        animator.flipToWindow(&search, 3);
        animator.flipToWindow(&progress, 3);
        for (int i = 0; i < c.requests; ++i)
            animator.flipToWindow(i % 2 == 0 ? static_cast<QWidget*>(&search) : &progress, 2);
        ASSERT_TRUE(settle([&] { return !animator.isFlipping(); }));
        QWidget* front = c.searchEndsInFront ? static_cast<QWidget*>(&search) : &progress;
        QWidget* other = c.searchEndsInFront ? static_cast<QWidget*>(&progress) : &search;
        EXPECT_EQ(animator.currentWindow(), front);
        EXPECT_TRUE(front->isVisible());
        EXPECT_FALSE(other->isVisible());
        EXPECT_EQ(recorder.posts.size(), 2 * c.flips);
    }
}

TEST_F(KZWindowAnimatorsTest, MidFlipFrameShowsTheTurnedSnapshotWithoutBlack)
{
    Plain search(Qt::red, QSize(400, 300));
    Plain progress(Qt::blue, QSize(400, 300));
    search.show();
    KZWindowFlipAnimator animator;
    KZTransitionMath::setPauseAt(0.3);
    animator.flipToWindow(&search, 1);
    animator.flipToWindow(&progress, 1);
    ASSERT_TRUE(settle([&] { return animator.progress() > 0.1; }));
    const QImage frame = animator.animationWindow()->grab().toImage();
    const QPoint centre = frame.rect().center();
    EXPECT_EQ(QColor(frame.pixel(centre)), QColor(Qt::red)); // the leaving window, turned
    // The turned snapshot is narrower than the window and the rest is clear.
    const int halfWidth = 200;
    EXPECT_EQ(qAlpha(frame.pixel(centre.x() - halfWidth + 5, centre.y())), 0);
    EXPECT_EQ(qAlpha(frame.pixel(5, 5)), 0);
    KZTransitionMath::setPauseAt(-1);
}

TEST_F(KZWindowAnimatorsTest, ZoomOpensInsideTheScreenAndClosesBackOnTheProgressWindow)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    const QRect area = screen->geometry();
    Plain progress(Qt::blue, QSize(509, 509));
    auto* round = new QWidget(&progress);
    round->setGeometry(80, 80, 350, 350);
    Plain result(Qt::green, QSize(qMin(1000, area.width() - 40), qMin(700, area.height() - 40)));
    // Close to the bottom right corner, so the result must grow inwards.
    progress.move(area.right() - 520, area.bottom() - 520);
    progress.show();
    KZWindowTransitionAnimator animator;
    Recorder recorder;

    animator.transitionFromWindow(&progress, &result, KZWindowTransitionAnimator::Opening, round);
    ASSERT_TRUE(animator.isRunning());
    EXPECT_FALSE(KZQuitPolicy::keepsProgramAlive(animator.animationWindow()));
    EXPECT_EQ(animator.animationWindow()->geometry(), area);
    EXPECT_DOUBLE_EQ(animator.thirdAnimTime(), result.width() <= 1100 ? 0.2 : 0.4);
    ASSERT_TRUE(settle([&] { return !animator.isRunning(); }));
    EXPECT_TRUE(result.isVisible());
    EXPECT_FALSE(progress.isVisible());
    EXPECT_EQ(result.size(), QSize(result.width(), result.height()));
    const QRect inner = area.adjusted(9, 9, -9, -9);
    EXPECT_TRUE(inner.contains(result.geometry())) << result.geometry().x() << "," << result.geometry().y();
    ASSERT_EQ(recorder.posts.size(), 1U);
    EXPECT_EQ(recorder.posts[0].name, KZNotification::openAnimationDidTerminate);
    EXPECT_EQ(recorder.posts[0].object.pointer(), &result);
    EXPECT_EQ(recorder.posts[0].userInfo.value(QStringLiteral("direction")).toInt(), 0);

    const QPoint resultCentre = result.geometry().center();
    animator.transitionFromWindow(&result, &progress, KZWindowTransitionAnimator::Closing, round);
    ASSERT_TRUE(settle([&] { return !animator.isRunning(); }));
    EXPECT_TRUE(progress.isVisible());
    EXPECT_FALSE(result.isVisible());
    EXPECT_EQ(progress.size(), QSize(509, 509));
    EXPECT_NEAR(progress.geometry().center().x(), resultCentre.x(), 1.5);
    EXPECT_NEAR(progress.geometry().center().y(), resultCentre.y(), 1.5);
    ASSERT_EQ(recorder.posts.size(), 2U);
    EXPECT_EQ(recorder.posts[1].name, KZNotification::newSearchResultTerminated);
    EXPECT_EQ(recorder.posts[1].object.string(), platform::bundleIdentifier());
    EXPECT_EQ(recorder.posts[1].userInfo.value(QStringLiteral("direction")).toInt(), 1);
}

// Sizes whose centres fall between pixels: every New Search cycle must
// still put the progress window back exactly where it stood.
TEST_F(KZWindowAnimatorsTest, OpenAndCloseCyclesLeaveTheProgressWindowWhereItWas)
{
    Plain progress(Qt::blue, QSize(509, 509));
    auto* round = new QWidget(&progress);
    round->setGeometry(80, 80, 350, 350);
    Plain result(Qt::green, QSize(600, 400));
    progress.move(101, 41);
    progress.show();
    const QRect start = progress.geometry();
    KZWindowTransitionAnimator animator;
    for (int cycle = 0; cycle < 3; ++cycle) {
        animator.transitionFromWindow(&progress, &result, KZWindowTransitionAnimator::Opening, round);
        ASSERT_TRUE(settle([&] { return !animator.isRunning(); }));
        // Opened centred on the progress window, as far as whole pixels allow.
        EXPECT_NEAR(result.geometry().center().x(), start.center().x(), 1.5);
        EXPECT_NEAR(result.geometry().center().y(), start.center().y(), 1.5);
        animator.transitionFromWindow(&result, &progress, KZWindowTransitionAnimator::Closing, round);
        ASSERT_TRUE(settle([&] { return !animator.isRunning(); }));
        EXPECT_EQ(progress.geometry(), start) << "cycle " << cycle;
    }

    // A result window the user moved still takes the progress window along.
    animator.transitionFromWindow(&progress, &result, KZWindowTransitionAnimator::Opening, round);
    ASSERT_TRUE(settle([&] { return !animator.isRunning(); }));
    result.move(result.pos() + QPoint(40, 30));
    const QPoint movedCentre = result.geometry().center();
    animator.transitionFromWindow(&result, &progress, KZWindowTransitionAnimator::Closing, round);
    ASSERT_TRUE(settle([&] { return !animator.isRunning(); }));
    EXPECT_NEAR(progress.geometry().center().x(), movedCentre.x(), 1.5);
    EXPECT_NEAR(progress.geometry().center().y(), movedCentre.y(), 1.5);
}

TEST_F(KZWindowAnimatorsTest, ZoomSnapshotsCastAShadowBelowThemWhenTheirWindowHasOne)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    const QRect area = screen->geometry();
    for (const bool shaped : {false, true}) {
        Plain progress(Qt::blue, QSize(300, 300));
        // A shaped window paints its own shadow; the snapshot adds none.
        progress.setAttribute(Qt::WA_TranslucentBackground, shaped);
        auto* round = new QWidget(&progress);
        round->setGeometry(50, 50, 200, 200);
        Plain result(Qt::green, QSize(500, 400));
        progress.move(area.center() - QPoint(150, 150));
        progress.show();
        KZWindowTransitionAnimator animator;
        // Held in the disc, where the progress window's snapshot is whole.
        KZTransitionMath::setDurationFactor(1.0);
        KZTransitionMath::setPauseAt(0.5);
        animator.transitionFromWindow(&progress, &result, KZWindowTransitionAnimator::Opening, round);
        kztest::processEventsUntil([] { return false; }, 400ms);
        ASSERT_TRUE(animator.animationWindow());
        const QImage frame = animator.animationWindow()->grab().toImage();
        const QRect at = progress.geometry().translated(-area.topLeft());
        const int x = at.center().x();
        const QColor below = frame.pixelColor(x, at.bottom() + 8);
        const QColor above = frame.pixelColor(x, at.top() - 8);
        if (shaped) {
            EXPECT_EQ(below.alpha(), 0);
        } else {
            // Half-opaque black 10 points lower, blurred: dark below, clear
            // above.
            EXPECT_GT(below.alpha(), 40);
            EXPECT_LT(below.alpha(), 128);
            EXPECT_LT(below.red() + below.green() + below.blue(), 60);
            EXPECT_EQ(above.alpha(), 0);
        }
        KZTransitionMath::setPauseAt(-1);
    }
}

// The routing with the real transitions: the result window zooms back to the
// progress window, which flips back to the search window.
class AnimatedWindows : public KZRoutingHost {
public:
    Plain search{Qt::red, QSize(600, 400)};
    Plain progress{Qt::blue, QSize(509, 509)};
    Plain result{Qt::green, QSize(900, 600)};
    KZWindowFlipAnimator flip;
    KZWindowTransitionAnimator zoom;
    std::vector<std::string> log;

    const QWidget* shown() const
    {
        for (const QWidget* w : {static_cast<const QWidget*>(&search), static_cast<const QWidget*>(&progress),
                                 static_cast<const QWidget*>(&result)})
            if (w->isVisible())
                return w;
        return nullptr;
    }
    Front front() const override
    {
        const QWidget* w = shown();
        return w == &search ? Front::Search : w == &progress ? Front::Progress : w == &result ? Front::Result : Front::None;
    }
    bool progressIsSearching() const override { return false; }
    bool resultIsRemoving() const override { return false; }
    bool removalIsUnderWay() const override { return false; }
    void refuseWhileRemoving(const std::vector<std::filesystem::path>&) override {}
    bool searchHasSources() const override { return true; }
    void postNewSearchToResult() override
    {
        log.push_back("result");
        zoom.transitionFromWindow(&result, &progress, KZWindowTransitionAnimator::Closing, &progress);
    }
    void postNewSearchToProgress() override
    {
        log.push_back("progress");
        flip.flipToWindow(&search, 2);
    }
    void postNewSearchToSearchView() override
    {
        log.push_back("search");
        platform::NotificationCenter::defaultCenter().post(KZNotification::newSearchIsReady,
                                                           platform::bundleIdentifier());
    }
    void addFolders(const std::vector<std::filesystem::path>&) override { log.push_back("add"); }
    bool isFolder(const std::filesystem::path&) const override { return true; }
    bool clearKeyIsDown() const override { return false; }
    qint64 askToReplaceResult() override { return 1000; }
    void openSavedResult(const std::filesystem::path&) override {}
    double now() const override { return 0; }
    void runAfter(double, std::function<void()>) override {}
};

TEST_F(KZWindowAnimatorsTest, TheWholeWalkBackRunsOnTheRealTransitions)
{
    for (bool again : {false, true}) {
        SCOPED_TRACE(again ? "search again with a folder" : "new search");
        AnimatedWindows windows;
        windows.search.show();
        windows.flip.flipToWindow(&windows.search, 3);
        windows.flip.flipToWindow(&windows.progress, 3);
        ASSERT_TRUE(settle([&] { return !windows.flip.isFlipping(); }));
        windows.zoom.transitionFromWindow(&windows.progress, &windows.result, 0, &windows.progress);
        ASSERT_TRUE(settle([&] { return !windows.zoom.isRunning(); }));
        ASSERT_EQ(windows.front(), KZRoutingHost::Front::Result);

        KZNewSearchRouting routing(windows, 0);
        if (again)
            routing.openFiles({"/folder"});
        else
            routing.newSearchAction();
        ASSERT_TRUE(settle([&] { return !routing.waitsForResult() && !routing.waitsForProgress(); }));
        EXPECT_EQ(windows.front(), KZRoutingHost::Front::Search);
        EXPECT_TRUE(windows.search.isVisible());
        EXPECT_FALSE(windows.progress.isVisible());
        EXPECT_FALSE(windows.result.isVisible());
        EXPECT_EQ(windows.log, again ? (std::vector<std::string>{"result", "progress", "add"})
                                     : (std::vector<std::string>{"result", "progress", "search"}));
    }
}

} // namespace
