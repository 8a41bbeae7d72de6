#pragma once

#include <atomic>
#include <functional>

// Waiting for a free place under the worker-thread budget of the result
// model (KZCanStartNewThread). A waiter sleeps on a condition variable that
// every change of the running count wakes, so nothing spins while a result
// with many tabs waits for its list threads.
namespace KZThreadBudget {

// Wakes every waiter; KZChangeRunningThreadsCount calls it after each change.
void budgetDidChange();

// Returns once `canStart` answers true or `cancelled` is set (answering
// false then). Whoever sets `cancelled` calls budgetDidChange() afterwards,
// so that the waiter sees it.
bool waitUntilNewThreadIsAvailable(const std::atomic<bool>& cancelled,
                                   const std::function<bool()>& canStart);
// The same with KZCanStartNewThread as the test.
bool waitUntilNewThreadIsAvailable(const std::atomic<bool>& cancelled);

} // namespace KZThreadBudget
