#include "platform/MainThread.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace {

TEST(MainThreadTest, KnowsTheMainThread)
{
    EXPECT_TRUE(platform::isMainThread());
    bool onWorker = true;
    std::thread([&] { onWorker = platform::isMainThread(); }).join();
    EXPECT_FALSE(onWorker);
}

TEST(MainThreadTest, RunOnMainFromTheMainThreadWaitsForTheLoop)
{
    bool ran = false;
    platform::runOnMain([&] { ran = true; });
    // Queued, never run in place: callers rely on it running after the
    // current event.
    EXPECT_FALSE(ran);
    EXPECT_TRUE(kztest::processEventsUntil([&] { return ran; }));
}

TEST(MainThreadTest, RunOnMainFromWorkersRunsOnTheMainThreadInOrder)
{
    std::mutex mutex;
    std::vector<int> order;
    std::atomic<int> offMain{0};
    std::thread worker([&] {
        for (int i = 0; i < 50; ++i) {
            platform::runOnMain([&, i] {
                if (!platform::isMainThread())
                    ++offMain;
                std::lock_guard lock(mutex);
                order.push_back(i);
            });
        }
    });
    worker.join();
    ASSERT_TRUE(kztest::processEventsUntil([&] {
        std::lock_guard lock(mutex);
        return order.size() == 50;
    }));
    EXPECT_EQ(offMain, 0);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(order[static_cast<size_t>(i)], i);
}

TEST(MainThreadTest, RunOnMainAndWaitOnTheMainThreadRunsInPlace)
{
    bool ran = false;
    platform::runOnMainAndWait([&] { ran = true; });
    EXPECT_TRUE(ran);
}

TEST(MainThreadTest, RunOnMainAndWaitFromAWorkerBlocksUntilItHasRun)
{
    int value = 0; // written on the main thread, read by the worker after the wait
    std::atomic<bool> ranOnMain{false};
    std::atomic<int> seenByWorker{-1};
    std::atomic<bool> done{false};
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
