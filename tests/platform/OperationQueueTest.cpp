#include "platform/OperationQueue.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <pthread.h>

using platform::OperationQueue;

namespace {

// Counts operations in flight and remembers the most seen at once.
struct Concurrency {
    std::atomic<int> now{0};
    std::atomic<int> most{0};
    void enter()
    {
        const int n = ++now;
        int seen = most.load();
        while (n > seen && !most.compare_exchange_weak(seen, n)) {
        }
    }
    void leave() { --now; }
};

using kztest::Gate;

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

TEST(OperationQueueTest, WidthOneRunsOneAtATimeInOrder)
{
    OperationQueue queue(QStringLiteral("serial"), 1);
    Concurrency concurrency;
    std::vector<int> order; // only ever touched by one operation at a time
    for (int i = 0; i < 100; ++i) {
        queue.addOperation([&, i] {
            concurrency.enter();
            order.push_back(i);
            concurrency.leave();
        });
    }
    queue.waitUntilAllOperationsAreFinished();
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(order[static_cast<size_t>(i)], i);
    EXPECT_EQ(concurrency.most, 1);
}

TEST(OperationQueueTest, FixedWidthIsAnUpperBound)
{
    for (int width : {0, 2, 3}) {
        OperationQueue queue(QStringLiteral("fixed"), width);
        Concurrency concurrency;
        for (int i = 0; i < 40; ++i) {
            queue.addOperation([&] {
                concurrency.enter();
                std::this_thread::yield();
                concurrency.leave();
            });
        }
        queue.waitUntilAllOperationsAreFinished();
        EXPECT_LE(concurrency.most, std::max(width, 1)) << "width " << width;
        EXPECT_GE(concurrency.most, 1) << "width " << width;
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
    struct Row {
        std::size_t requested;
        std::size_t atLeast;
    };
    const Row rows[] = {
        {60u << 20, 60u << 20},
        {0x5000000, 0x5000000},
        {(3u << 20) + 5, (3u << 20) + 5}, // not whole pages
        {1, static_cast<std::size_t>(PTHREAD_STACK_MIN)}, // below what pthread accepts
    };
    for (const Row& row : rows) {
        auto queue = std::make_unique<OperationQueue>(QStringLiteral("stack"), 2, row.requested);
        std::atomic<std::size_t> seen{0};
        Gate ran;
        queue->addOperation([&] {
            seen = currentStackSize();
            ran.open();
        });
        if (!ran.wait()) {
            // A thread that never started would keep the queue's destructor
            // waiting for ever.
            (void)queue.release();
            FAIL() << "operation never ran with stack size " << row.requested;
        }
        queue.reset();
        // glibc may hand out a larger cached stack, never a smaller one.
        EXPECT_GE(seen, row.atLeast) << row.requested;
    }
}

TEST(OperationQueueTest, CountsQueuedAndRunningOperations)
{
    OperationQueue queue(QStringLiteral("count"), 1);
    EXPECT_EQ(queue.operationCount(), 0);
    Gate started;
    Gate release;
    queue.addOperation([&] {
        started.open();
        release.wait();
    });
    for (int i = 0; i < 3; ++i)
        queue.addOperation([] {});
    ASSERT_TRUE(started.wait());
    EXPECT_EQ(queue.operationCount(), 4);
    release.open();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(queue.operationCount(), 0);
}

TEST(OperationQueueTest, WaitCoversOperationsAddedByOperations)
{
    OperationQueue queue(QStringLiteral("nested"));
    std::atomic<int> done{0};
    for (int i = 0; i < 8; ++i) {
        queue.addOperation([&] {
            for (int j = 0; j < 4; ++j)
                queue.addOperation([&] { ++done; });
            ++done;
        });
    }
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(done, 8 * 5);
    // An idle queue answers at once, and may be waited on again.
    queue.waitUntilAllOperationsAreFinished();
}

TEST(OperationQueueTest, DestructorWaitsForOperations)
{
    std::atomic<int> done{0};
    Gate release;
    {
        OperationQueue queue(QStringLiteral("scoped"), 2);
        for (int i = 0; i < 10; ++i) {
            queue.addOperation([&] {
                release.wait();
                ++done;
            });
        }
        release.open();
    }
    EXPECT_EQ(done, 10);
}

TEST(OperationQueueTest, CapturedStateIsReleasedBeforeTheWaitReturns)
{
    // A waiter that tears down what an operation held (a model, a list) must
    // not race the operation's own clean-up.
    OperationQueue queue(QStringLiteral("captures"), 4);
    auto shared = std::make_shared<int>(0);
    for (int i = 0; i < 50; ++i)
        queue.addOperation([shared] { ++*shared; });
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(shared.use_count(), 1);
}

} // namespace
