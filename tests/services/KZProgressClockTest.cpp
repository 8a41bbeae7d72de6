#include "services/KZProgressClock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Waits up to two seconds for `done`, checking every few milliseconds.
template <typename Pred>
bool waitFor(Pred done)
{
    const auto until = std::chrono::steady_clock::now() + 2s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// The owner lets its clock go from inside a tick, on the clock's own thread.
// The thread must leave without touching the destroyed clock and tick no more
// (the sanitizer build reports any late access).
TEST(ProgressClock, ClockDestroyedInsideItsOwnTickEndsQuietly)
{
    struct Owner {
        std::mutex mutex;
        std::unique_ptr<KZProgressClock> clock;
    };
    auto owner = std::make_shared<Owner>();
    std::atomic<int> ticks{0};
    std::atomic<bool> released{false};
    {
        std::lock_guard guard(owner->mutex);
        owner->clock = std::make_unique<KZProgressClock>([owner, &ticks, &released] {
            ++ticks;
            std::unique_ptr<KZProgressClock> last;
            {
                std::lock_guard inner(owner->mutex);
                last = std::move(owner->clock);
            }
            last.reset();
            released.store(true);
            return false; // "not done": only the stop must end the thread
        });
        owner->clock->start();
    }
    ASSERT_TRUE(waitFor([&] { return released.load(); }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(ticks.load(), 1);
}

// A tick stops its clock and the GUI thread starts it again before that tick
// has returned: the first thread must not come back to life, so that two
// ticks never run at once.
TEST(ProgressClock, RestartAfterAStopFromTheTickNeverRunsTwoThreads)
{
    std::mutex mutex;
    std::condition_variable changed;
    bool stoppedInTick = false, restarted = false;
    std::atomic<int> inside{0}, overlaps{0}, ticks{0}, ticksOfFirstThread{0};
    std::thread::id firstThread;
    std::atomic<bool> first{true};
    KZProgressClock* self = nullptr;

    KZProgressClock clock([&] {
        if (++inside > 1)
            ++overlaps;
        ++ticks;
        if (first.exchange(false)) {
            firstThread = std::this_thread::get_id();
            self->stop();
            std::unique_lock lock(mutex);
            stoppedInTick = true;
            changed.notify_all();
            changed.wait_for(lock, 2s, [&] { return restarted; });
        }
        if (std::this_thread::get_id() == firstThread)
            ++ticksOfFirstThread;
        --inside;
        return false;
    });
    self = &clock;
    clock.start();
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, 2s, [&] { return stoppedInTick; }));
    }
    clock.start();
    {
        std::lock_guard lock(mutex);
        restarted = true;
    }
    changed.notify_all();
    ASSERT_TRUE(waitFor([&] { return ticks.load() >= 6; }));
    clock.stop();
    EXPECT_FALSE(clock.isRunning());
    const int after = ticks.load();
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(ticks.load(), after) << "no thread ticks after the last stop";
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(ticksOfFirstThread.load(), 1) << "the thread stopped from its tick is gone";
}

} // namespace
