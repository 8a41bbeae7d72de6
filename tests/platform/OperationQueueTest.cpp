#include "platform/OperationQueue.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <pthread.h>

using platform::OperationQueue;

namespace {

std::size_t currentStackSize()
{
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0)
        return 0;
    std::size_t size = 0;
    pthread_attr_getstacksize(&attr, &size);
    pthread_attr_destroy(&attr);
    return size;
}

TEST(OperationQueueTest, WidthIsAnUpperBoundAndWidthOneKeepsTheOrder)
{
    for (int width : {0, 1, 3}) {
        OperationQueue queue(QStringLiteral("fixed"), width);
        std::atomic<int> now{0}, most{0};
        std::vector<int> order; // only appended to when width is one
        for (int i = 0; i < 60; ++i) {
            queue.addOperation([&, i] {
                for (int n = ++now, seen = most; n > seen && !most.compare_exchange_weak(seen, n);) {
                }
                if (width <= 1)
                    order.push_back(i);
                std::this_thread::yield();
                --now;
            });
        }
        queue.waitUntilAllOperationsAreFinished();
        EXPECT_LE(most, std::max(width, 1)) << "width " << width;
        EXPECT_TRUE(width > 1 || (order.size() == 60 && std::is_sorted(order.begin(), order.end()))) << width;
    }
}

TEST(OperationQueueTest, UnboundedGivesEveryOperationAThread)
{
    // Each operation waits for all the others to have started: with any
    // width limit below N they could never all get there.
    constexpr int N = 48;
    OperationQueue queue(QStringLiteral("unbounded"));
    std::mutex mutex;
    std::condition_variable cv;
    int started = 0;
    std::atomic<int> met{0};
    for (int i = 0; i < N; ++i) {
        queue.addOperation([&] {
            std::unique_lock lock(mutex);
            ++started;
            cv.notify_all();
            if (cv.wait_for(lock, std::chrono::seconds(20), [&] { return started == N; }))
                ++met;
        });
    }
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(met, N);
}

TEST(OperationQueueTest, StackSizeIsHonoured)
{
    // Not whole pages, and below what pthread accepts.
    for (std::size_t requested : {std::size_t(60u << 20), std::size_t((3u << 20) + 5), std::size_t(1)}) {
        auto queue = std::make_unique<OperationQueue>(QStringLiteral("stack"), 2, requested);
        std::atomic<std::size_t> seen{0};
        kztest::Gate ran;
        queue->addOperation([&] {
            seen = currentStackSize();
            ran.open();
        });
        if (!ran.wait()) {
            // A thread that never started would keep the destructor waiting for ever.
            (void)queue.release();
            FAIL() << "operation never ran with stack size " << requested;
        }
        queue.reset();
        // glibc may hand out a larger cached stack, never a smaller one.
        EXPECT_GE(seen, std::max(requested, std::size_t(PTHREAD_STACK_MIN))) << requested;
    }
}

TEST(OperationQueueTest, WaitAndDestructorCoverQueuedAndNestedOperationsAndTheirCaptures)
{
    auto done = std::make_shared<std::atomic<int>>(0);
    kztest::Gate release;
    {
        OperationQueue queue(QStringLiteral("nested"), 1);
        queue.addOperation([&release] { release.wait(); });
        for (int i = 0; i < 8; ++i) {
            queue.addOperation([&queue, done] {
                for (int j = 0; j < 4; ++j)
                    queue.addOperation([done] { ++*done; });
                ++*done;
            });
        }
        EXPECT_EQ(queue.operationCount(), 9);
        release.open();
        queue.waitUntilAllOperationsAreFinished();
        EXPECT_EQ(queue.operationCount(), 0);
        EXPECT_EQ(*done, 8 * 5);
        // A waiter that tears down what an operation held must not race the
        // operation's own clean-up.
        EXPECT_EQ(done.use_count(), 1);
        for (int i = 0; i < 10; ++i)
            queue.addOperation([done] { std::this_thread::sleep_for(std::chrono::milliseconds(1)), ++*done; });
    }
    EXPECT_EQ(*done, 50); // the destructor waited
}

TEST(OperationQueueTest, ApplicationWorkIsWaitedForAndNothingStartsAfterIt)
{
    OperationQueue marked(QStringLiteral("marked"), 2);
    marked.endsWithApplication();
    OperationQueue other(QStringLiteral("other"), 1);
    kztest::Gate started;
    std::atomic<bool> finished{false};
    marked.addOperation([&] {
        started.open();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        finished.store(true);
    });
    ASSERT_TRUE(started.wait());
    platform::finishApplicationWork();
    EXPECT_TRUE(finished.load());
    EXPECT_TRUE(marked.isClosed());

    // Work added later never gets a thread; other queues go on as before.
    std::atomic<int> late{0};
    marked.addOperation([&late] { ++late; });
    EXPECT_EQ(marked.operationCount(), 0);
    other.addOperation([&late] { ++late; });
    other.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(late.load(), 1);
    EXPECT_FALSE(other.isClosed());
}

} // namespace
