#include "services/KZProgressClock.h"
#include "app/progress/KZSearchProgressCore.h"
#include "ProgressTestSupport.h"
#include "ManualClock.h"
#include "TestSupport.h"

#include "platform/NotificationCenter.h"
#include "platform/StringTable.h"
#include "services/KZAlertPresenter.h"
#include "services/KZErrorDelegate.h"
#include "services/KZNumberUtilities.h"
#include "services/KZSearchInProgress.h"
#include "settings/KZNotificationNames.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <thread>

namespace {

using Field = KZSearchProgressDisplay::Field;
using kztest::RecordingDisplay;

QString text(const char* key) { return platform::localizedString(QString::fromLatin1(key)); }
QString count(quint64 n) { return KZNumberUtilities::sharedControl().numberToFormatString(static_cast<double>(n)); }

struct AnsweringPresenter : KZAlertPresenter {
    qint64 button = FirstButton;
    int asked = 0;
    Answer runModal(const Alert&) override
    {
        ++asked;
        return Answer{button, false, false};
    }
    void beginSheet(const Alert&) override {}
};

// A core with a hand-driven clock whose work for the GUI thread runs at once.
class ProgressCoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        core_.setDispatch([](std::function<void()> work) { work(); });
        core_.setStartsClock(false);
        KZErrorDelegate::sharedControl().setPresenter(presenter_);
    }
    void TearDown() override
    {
        KZErrorDelegate::sharedControl().setPresenter(nullptr);
        KZSetSearchInProgress(false);
    }

    void start(bool emptiedFolders = false)
    {
        core_.prepareToSearch({{QStringLiteral("isEmptiedFolders"), emptiedFolders},
                               {QStringLiteral("showInterface"), true}});
    }
    // Ticks as a 60 Hz display would until `seconds` have passed.
    void runFor(double seconds)
    {
        const double end = clock_->now() + seconds;
        while (clock_->now() < end) {
            clock_->advance(1.0 / 60.0);
            core_.tick();
        }
    }
    bool finish()
    {
        core_.setIsSearching(false);
        clock_->advance(1.0 / 60.0);
        return core_.tick();
    }

    kztest::ScopedManualClock clock_;
    RecordingDisplay display_;
    std::shared_ptr<AnsweringPresenter> presenter_ = std::make_shared<AnsweringPresenter>();
    KZSearchProgressCore core_{&display_, nullptr, &display_};
};

TEST_F(ProgressCoreTest, RefreshesAtMostEveryTenthOfASecondAndAlwaysAtTheEnd)
{
    start();
    quint64 found = 0;
    const int refreshesBefore = display_.refreshesOfFound;
    for (int i = 0; i < 120; ++i) { // 2 s at 60 Hz, a new find every tick
        core_.setFoundCount(++found);
        clock_->advance(1.0 / 60.0);
        core_.tick();
    }
    const int refreshes = display_.refreshesOfFound - refreshesBefore;
    EXPECT_LE(refreshes, 21);
    EXPECT_GE(refreshes, 15);

    // The last find comes right after a refresh; the end still shows it.
    core_.setFoundCount(++found);
    EXPECT_TRUE(finish());
    EXPECT_EQ(display_.field(Field::itemsFound), count(found));
    EXPECT_TRUE(display_.has("offer"));
    // Once ended, further ticks do nothing.
    const auto calls = display_.calls.size();
    EXPECT_TRUE(core_.tick());
    EXPECT_EQ(display_.calls.size(), calls);
}

TEST_F(ProgressCoreTest, SpinnerOnlyAfterOneSecondOfARunningSearch)
{
    struct Case {
        const char* name;
        double runFor;
        bool stopFirst;
        bool spinner;
    };
    const Case cases[] = {
        {"short search", 0.95, false, false},
        {"long search", 1.2, false, true},
        {"stopped before one second", 1.2, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        display_.calls.clear();
        start();
        if (c.stopFirst)
            core_.stopAction();
        runFor(c.runFor);
        EXPECT_EQ(display_.has("spinner"), c.spinner);
        finish();
    }
}

TEST_F(ProgressCoreTest, StallTextAfterTwoQuietSecondsAndBackOnChange)
{
    start();
    core_.setItemsToCheckCount(10);
    runFor(1.2);
    // A checked count sampled a second after the last change of to-check.
    core_.setCheckedCount(3);
    runFor(0.2);
    const QString title = core_.mainInfoStr();
    EXPECT_EQ(display_.title, title);
    runFor(1.5);
    EXPECT_FALSE(core_.hungStringShown());

    runFor(0.6);
    EXPECT_TRUE(core_.hungStringShown());
    EXPECT_EQ(display_.title, text("comparing_huge_folders"));

    core_.setCheckedCount(4);
    runFor(0.2);
    EXPECT_FALSE(core_.hungStringShown());
    EXPECT_EQ(display_.title, title);

    // A moving to-check count is no stall either, however long.
    for (int i = 0; i < 40; ++i) {
        core_.setItemsToCheckCount(11 + i);
        runFor(0.1);
    }
    EXPECT_FALSE(core_.hungStringShown());

    // In the determinate phase a quiet count is normal work.
    core_.showDeterminateProgress();
    runFor(3.0);
    EXPECT_FALSE(core_.hungStringShown());
    finish();
}

TEST_F(ProgressCoreTest, DeterminatePercentageNeverDividesByZero)
{
    start();
    core_.showDeterminateProgress();
    EXPECT_TRUE(display_.has("determinate"));
    EXPECT_EQ(display_.title, text("checking"));
    core_.setCheckedCount(5);
    runFor(0.2);
    EXPECT_EQ(display_.percent, 0.0);

    core_.setItemsToCheckCount(20);
    runFor(0.3);
    EXPECT_DOUBLE_EQ(display_.percent, 25.0);
    finish();
}

TEST_F(ProgressCoreTest, FolderPanelRules)
{
    start();
    core_.prepareToSearchForFoldersContent();
    EXPECT_TRUE(display_.has("folderCaptions"));

    // A total of 0 would never finish: it shows as 1.
    core_.initializeFoldersProgressWithTotValue(0);
    core_.setFolderSizeValue(4096);
    core_.addCurrFoldersValue(1);
    runFor(0.4);
    EXPECT_FALSE(display_.folderPanelShown) << "a comparison younger than 0.5 s shows nothing";
    runFor(0.3);
    EXPECT_TRUE(display_.folderPanelShown);
    EXPECT_EQ(display_.folderTotal, count(1));
    EXPECT_EQ(display_.folderCurrent, count(1));

    // Short comparisons one after the other: hidden from the 10th young refresh.
    int refreshesUntilHidden = 0;
    while (display_.folderPanelShown && refreshesUntilHidden < 50) {
        core_.initializeFoldersProgressWithTotValue(5);
        clock_->advance(0.11);
        core_.tick();
        ++refreshesUntilHidden;
    }
    EXPECT_EQ(refreshesUntilHidden, 10);
    finish();
}

TEST_F(ProgressCoreTest, EndOfSearchOffersTheResultWhenItShould)
{
    enum class Ready { never, beforeEnd, afterEnd };
    struct Case {
        const char* name;
        quint64 found;
        bool userStop, errorStop;
        Ready ready;
        bool offeredAtEnd, offeredAfterReady, invalid;
    };
    const Case cases[] = {
        {"exactly the limit", 10000, false, false, Ready::never, true, true, false},
        {"above the limit waits", 10001, false, false, Ready::never, false, false, false},
        {"ready before the end", 10001, false, false, Ready::beforeEnd, true, true, false},
        {"ready after the end", 10001, false, false, Ready::afterEnd, false, true, false},
        {"user stop with items", 3, true, false, Ready::never, true, true, false},
        {"error stop", 3, false, true, Ready::never, false, false, true},
        {"nothing found", 0, false, false, Ready::never, false, false, true},
    };
    auto& center = platform::NotificationCenter::defaultCenter();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        display_.calls.clear();
        start();
        EXPECT_TRUE(KZIsSearchInProgress());
        core_.setFoundCount(c.found);
        if (c.userStop)
            core_.stopAction();
        if (c.errorStop)
            center.post(KZNotification::stopSearchingDueError, platform::bundleIdentifier());
        runFor(0.3);
        if (c.ready == Ready::beforeEnd)
            center.post(KZNotification::resultIsReady, platform::bundleIdentifier());
        finish();
        EXPECT_EQ(display_.has("offer"), c.offeredAtEnd);
        EXPECT_EQ(display_.has("invalidEnd"), c.invalid);
        EXPECT_EQ(display_.has(c.invalid ? "end:invalid" : "end:valid"), true);
        EXPECT_EQ(display_.has("preparing"), c.found > 10000 && c.ready != Ready::beforeEnd);
        if (c.ready == Ready::afterEnd)
            center.post(KZNotification::resultIsReady, platform::bundleIdentifier());
        EXPECT_EQ(display_.has("offer"), c.offeredAfterReady);
        EXPECT_LE(display_.count("offer"), 1);
        EXPECT_EQ(KZIsSearchInProgress(), !c.offeredAfterReady && !c.invalid) << "still waiting, or done";
        EXPECT_EQ(core_.stoppedDueAnError(), c.errorStop);
        // Whatever a stopped search offers, it does not pass for a whole one.
        EXPECT_EQ(display_.endTitle.isEmpty(), !c.userStop && !c.errorStop) << display_.endTitle.toStdString();
    }
}

TEST_F(ProgressCoreTest, AReopenedResultIsOfferedWithoutWaiting)
{
    start();
    core_.setIsSearching(false);
    core_.setSavedProgress({{QStringLiteral("KZResultFoundItemsCount"), 20000},
                            {QStringLiteral("KZResultFoundItemsSize"), 1 << 20},
                            {QStringLiteral("KZResultCheckedItemsCount"), 30000},
                            {QStringLiteral("KZResultItemsToCheckCount"), 30000}});
    EXPECT_TRUE(core_.isRestoreOpening());
    EXPECT_TRUE(display_.has("enlarge+"));
    EXPECT_TRUE(display_.has("offer"));
    EXPECT_FALSE(display_.has("preparing"));
    EXPECT_EQ(display_.field(Field::itemsFound), count(20000));
    EXPECT_EQ(display_.field(Field::checked), count(30000));
}

TEST_F(ProgressCoreTest, StartingOverAndClosing)
{
    struct Case {
        const char* name;
        quint64 found;
        qint64 answer;
        bool asked, backToSearch, declinedPosted;
    };
    const Case cases[] = {
        {"invalid search goes back at once", 0, KZAlertPresenter::SecondButton, false, true, false},
        {"agreeing goes back", 4, KZAlertPresenter::FirstButton, true, true, false},
        {"declining stays", 4, KZAlertPresenter::SecondButton, true, false, true},
    };
    auto& center = platform::NotificationCenter::defaultCenter();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start();
        core_.setFoundCount(c.found);
        finish();
        display_.calls.clear();
        presenter_->asked = 0;
        presenter_->button = c.answer;

        int resetPosts = 0;
        QVariantMap declined;
        bool declinedPosted = false;
        auto resetObs = center.addObserver(KZNotification::resetButtonDidClick, &display_,
                                           [&](const platform::Notification&) { ++resetPosts; });
        auto declinedObs = center.addObserver(KZNotification::newSearchProgressTerminated, {},
                                              [&](const platform::Notification& note) {
                                                  declinedPosted = true;
                                                  declined = note.userInfo;
                                              });
        EXPECT_EQ(core_.resetAction(), c.backToSearch);
        EXPECT_EQ(presenter_->asked > 0, c.asked);
        EXPECT_EQ(display_.has("hideWindow"), c.backToSearch);
        EXPECT_EQ(resetPosts, c.backToSearch && c.asked ? 1 : 0);
        EXPECT_EQ(declinedPosted, c.declinedPosted);
        if (c.declinedPosted) {
            ASSERT_TRUE(declined.contains(QStringLiteral("isClosed")));
            EXPECT_FALSE(declined.value(QStringLiteral("isClosed")).toBool());
        }
        EXPECT_EQ(core_.closeAction(), c.answer == KZAlertPresenter::FirstButton);
    }
}

TEST_F(ProgressCoreTest, RingUpdatesFromTwoSecondsWithTwoTypesOnASnapshot)
{
    start();
    core_.addFoundItemOfType(3, 100);
    runFor(2.5);
    EXPECT_EQ(display_.tabUpdates, 0) << "one type never updates the ring";

    core_.addFoundItemOfType(5, 0);
    core_.addFoundItemOfType(3, 50);
    runFor(0.3);
    EXPECT_GT(display_.tabUpdates, 0);
    ASSERT_EQ(display_.lastTabs.size(), 2u);
    EXPECT_EQ(display_.lastTabs.at(3)->filesCount(), 2u);
    EXPECT_EQ(display_.lastTabs.at(3)->size(), 150u);

    // The ring holds its own table: a type added later is not in it.
    const auto held = display_.lastTabs;
    core_.addFoundItemOfType(9, 1);
    EXPECT_EQ(held.size(), 2u);
    EXPECT_EQ(core_.fileTypes().size(), 3);
    EXPECT_TRUE(core_.fileTypes().contains(QStringLiteral("9")));
    finish();
}

TEST_F(ProgressCoreTest, ObserversGoAfterTheEndAnimation)
{
    auto& center = platform::NotificationCenter::defaultCenter();
    start();
    core_.setFoundCount(2);
    finish();
    EXPECT_FALSE(core_.observersRemoved());
    center.post(KZNotification::tabsAnimationDidEnd, platform::bundleIdentifier());
    EXPECT_TRUE(core_.observersRemoved());
    // A late error notice no longer touches a finished search.
    center.post(KZNotification::stopSearchingDueError, platform::bundleIdentifier());
    EXPECT_FALSE(core_.stoppedDueAnError());
}

TEST(ProgressCoreLifetime, WorkQueuedForTheGuiThreadOutlivesNoController)
{
    RecordingDisplay display;
    {
        KZSearchProgressCore core(&display, nullptr, nullptr);
        core.setStartsClock(false);
        core.prepareToSearch({{QStringLiteral("showInterface"), true}});
        QCoreApplication::processEvents();
        display.title.clear();
        // Queued onto the event loop, then the controller goes away.
        core.setMainInfoTitle(QStringLiteral("late"));
        core.showDeterminateProgress();
        core.setIsSearching(false);
    }
    display.calls.clear();
    QCoreApplication::processEvents();
    EXPECT_TRUE(display.title.isEmpty());
    EXPECT_TRUE(display.calls.empty());
    KZSetSearchInProgress(false);
}

// ---- The real clock thread against worker threads --------------------------------

// Work for the GUI thread, queued like the event loop and run by the test.
struct QueuedMain {
    std::mutex mutex;
    std::deque<std::function<void()>> work;
    void post(std::function<void()> fn)
    {
        std::lock_guard guard(mutex);
        work.push_back(std::move(fn));
    }
    void drain()
    {
        for (;;) {
            std::function<void()> fn;
            {
                std::lock_guard guard(mutex);
                if (work.empty())
                    return;
                fn = std::move(work.front());
                work.pop_front();
            }
            fn();
        }
    }
};

TEST(ProgressClockTest, WorkersNeverWaitAndTheEndIsAlwaysShown)
{
    for (const bool threadFails : {false, true}) {
        SCOPED_TRACE(threadFails ? "timer fallback" : "clock thread");
        KZProgressClock::setThreadStartFailsForTesting(threadFails);
        RecordingDisplay display;
        QueuedMain mainQueue;
        KZSearchProgressCore core(&display, nullptr, nullptr);
        core.setDispatch([&](std::function<void()> fn) { mainQueue.post(std::move(fn)); });
        core.prepareToSearch({{QStringLiteral("showInterface"), true}});
        EXPECT_TRUE(core.clockIsRunning());

        std::atomic<quint64> found{0};
        std::atomic<int> finished{0};
        std::vector<std::thread> workers;
        for (int w = 0; w < 3; ++w) {
            workers.emplace_back([&, w] {
                for (int i = 0; i < 3000; ++i) {
                    const quint64 n = ++found;
                    core.setFoundCount(n);
                    core.setCheckedCount(n);
                    core.addFoundItemOfType(static_cast<quint64>(w), 10);
                }
                ++finished;
            });
        }
        const auto started = std::chrono::steady_clock::now();
        bool workersDone = false;
        std::thread joiner([&] {
            for (auto& w : workers)
                w.join();
        });
        // The GUI thread keeps running its queue (and, for the fallback, its
        // timer) until the last worker has written.
        EXPECT_TRUE(kztest::processEventsUntil([&] {
            mainQueue.drain();
            return finished.load() == 3;
        }));
        joiner.join();
        workersDone = true;
        core.setFoundCount(found.load());
        core.setIsSearching(false);
        const auto ended = std::chrono::steady_clock::now();
        EXPECT_TRUE(kztest::processEventsUntil([&] {
            mainQueue.drain();
            return display.has("offer");
        }));
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        EXPECT_TRUE(workersDone);
        EXPECT_EQ(display.field(Field::itemsFound), count(9000));
        EXPECT_LE(display.refreshesOfFound, static_cast<int>(seconds * 10) + 2);
        EXPECT_LT(std::chrono::steady_clock::now() - ended, std::chrono::seconds(2));
        EXPECT_FALSE(core.clockIsRunning());
        KZProgressClock::setThreadStartFailsForTesting(false);
    }
}

} // namespace
