#include "platform/MainThread.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

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
