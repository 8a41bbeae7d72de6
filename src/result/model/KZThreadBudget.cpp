#include "result/model/KZThreadBudget.h"

#include "result/model/KZResultCntrl.h"

#include <condition_variable>
#include <mutex>

namespace KZThreadBudget {

namespace {

struct Signal {
    std::mutex mutex;
    std::condition_variable changed;
    // Bumped under the mutex by each change, so that a change made between a
    // waiter's test and its sleep is never missed.
    quint64 generation = 0;
};

Signal& signal()
{
    static Signal s;
    return s;
}

} // namespace

void budgetDidChange()
{
    Signal& s = signal();
    {
        std::lock_guard guard(s.mutex);
        ++s.generation;
    }
    s.changed.notify_all();
}

bool waitUntilNewThreadIsAvailable(const std::atomic<bool>& cancelled, const std::function<bool()>& canStart)
{
    Signal& s = signal();
    std::unique_lock lock(s.mutex);
    for (;;) {
        if (cancelled.load())
            return false;
        const quint64 seen = s.generation;
        // The test may read the process limit; it runs without the mutex so
        // that the threads that end meanwhile are not held up.
        lock.unlock();
        const bool free = canStart();
        lock.lock();
        if (free)
            return !cancelled.load();
        s.changed.wait(lock, [&] { return s.generation != seen || cancelled.load(); });
    }
}

bool waitUntilNewThreadIsAvailable(const std::atomic<bool>& cancelled)
{
    return waitUntilNewThreadIsAvailable(cancelled, [] { return KZCanStartNewThread(); });
}

} // namespace KZThreadBudget
