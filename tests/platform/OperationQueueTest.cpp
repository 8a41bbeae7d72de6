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
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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

// A forked child has none of its parent's threads. With an operation still
// running in the parent, and a width-one queue whose one thread is that
// operation's, the child waits for nothing of the parent's, and its own
// operations run, on both queues, and are waited for.
TEST(OperationQueueTest, AForkedChildRunsAndWaitsForItsOwnOperationsOnly)
{
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer refuses a thread started in a forked child of a process with threads";
#endif
    OperationQueue one(QStringLiteral("one"), 1);
    OperationQueue wide(QStringLiteral("wide"));
    kztest::Gate started;
    kztest::Gate release;
    one.addOperation([&] {
        started.open();
        release.wait();
    });
    // An idle thread of the wide queue, which the child would wake.
    wide.addOperation([] {});
    wide.waitUntilAllOperationsAreFinished();
    ASSERT_TRUE(started.wait());
    ASSERT_EQ(one.operationCount(), 1);

    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A hang ends the child, and the parent sees it killed.
        ::alarm(10);
        if (one.operationCount() != 0)
            ::_exit(2);
        one.waitUntilAllOperationsAreFinished();
        std::atomic<int> ran{0};
        for (int i = 0; i < 3; ++i) {
            one.addOperation([&ran] { ++ran; });
            wide.addOperation([&ran] { ++ran; });
        }
        one.waitUntilAllOperationsAreFinished();
        wide.waitUntilAllOperationsAreFinished();
        ::_exit(ran.load() == 6 ? 0 : 3);
    }
    int status = 0;
    pid_t ended = 0;
    for (kztest::Deadline deadline(std::chrono::seconds(20)); ended == 0 && !deadline.passed();) {
        ended = ::waitpid(child, &status, WNOHANG);
        if (ended == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (ended == 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
    }
    release.open();
    one.waitUntilAllOperationsAreFinished();
    ASSERT_EQ(ended, child) << "the child did not end";
    EXPECT_TRUE(WIFEXITED(status)) << "the child hung, or died of signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
    EXPECT_EQ(one.operationCount(), 0) << "the parent's count is its own";
}

} // namespace
