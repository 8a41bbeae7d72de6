#include "platform/MainThread.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace {

TEST(MainThreadTest, RunOnMainIsQueuedAndKeepsTheOrderOfAWorker)
{
    bool ran = false;
    platform::runOnMain([&] { ran = true; });
    // Never run in place: callers rely on it running after the current event.
    EXPECT_FALSE(ran);

    std::mutex mutex;
    std::vector<int> order;
    std::atomic<int> offMain{0};
    std::thread worker([&] {
        for (int i = 0; i < 50; ++i) {
            platform::runOnMain([&, i] {
                offMain += platform::isMainThread() ? 0 : 1;
                std::lock_guard lock(mutex);
                order.push_back(i);
            });
        }
    });
    worker.join();
    ASSERT_TRUE(kztest::processEventsUntil([&] {
        std::lock_guard lock(mutex);
        return ran && order.size() == 50;
    }));
    EXPECT_EQ(offMain, 0);
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
}

// Qt frees a queued call on whichever thread lets go of it last: the
// worker's, where the main thread ran it before the worker's post returned.
// The call's state, read on the main thread, must be freed after that read
// (ThreadSanitizer checks it). The worker shares the main thread's core at
// the lowest priority, so that the main thread it wakes runs at once.
TEST(MainThreadTest, ACallRunOnMainIsFreedAfterItRanOnWhicheverThreadLetsGoLast)
{
    cpu_set_t before;
    ASSERT_EQ(::sched_getaffinity(0, sizeof before, &before), 0);
    cpu_set_t one;
    CPU_ZERO(&one);
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &before)) {
            CPU_SET(cpu, &one);
            break;
        }
    ASSERT_EQ(::sched_setaffinity(0, sizeof one, &one), 0);

    constexpr int kCalls = 200;
    std::atomic<int> ran{0};
    std::thread worker([&] {
        ::sched_setaffinity(0, sizeof one, &one);
        const sched_param idle{};
        ::pthread_setschedparam(::pthread_self(), SCHED_IDLE, &idle);
        for (int i = 0; i < kCalls; ++i) {
            platform::runOnMain([&ran, state = std::vector<int>(8, i)] { ran += state.front() >= 0 ? 1 : 0; });
            while (ran <= i)
                std::this_thread::yield();
        }
    });
    // Asleep until the post wakes it; the timer only bounds the wait.
    QTimer tick;
    tick.start(100);
    QElapsedTimer waited;
    waited.start();
    while (ran < kCalls && waited.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const bool allRan = ran == kCalls;
    if (!allRan)
        ran = kCalls; // lets the worker end
    worker.join();
    ::sched_setaffinity(0, sizeof before, &before);
    EXPECT_TRUE(allRan) << ran << " of " << kCalls << " calls ran";
}

TEST(MainThreadTest, RunOnMainAndWaitRunsInPlaceOnMainAndBlocksAWorker)
{
    bool ran = false;
    platform::runOnMainAndWait([&] { ran = true; }); // queued, it would deadlock
    EXPECT_TRUE(ran);

    int value = 0; // written on the main thread, read by the worker after the wait
    std::atomic<bool> ranOnMain{false}, done{false};
    std::atomic<int> seenByWorker{-1};
    std::thread worker([&] {
        platform::runOnMainAndWait([&] {
            ranOnMain = platform::isMainThread();
            value = 42;
        });
        seenByWorker = value;
        done = true;
    });
    EXPECT_TRUE(kztest::processEventsUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_TRUE(ranOnMain);
    EXPECT_EQ(seenByWorker, 42);
}

} // namespace
