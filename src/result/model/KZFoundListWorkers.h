#pragma once

#include "platform/OperationQueue.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>

// The background work of one list model: the workers it starts, the
// continuations they queue for the main thread, and the stop its owner
// pulls before it goes away.
//
// Continuations are queued, never waited for, so the owner's destructor (on
// the main thread) can wait for the workers without a deadlock; after
// stop() none of them runs.
class KZFoundListWorkers {
public:
    explicit KZFoundListWorkers(const QString& queueName);
    // Stops, when the owner has not.
    ~KZFoundListWorkers();
    KZFoundListWorkers(const KZFoundListWorkers&) = delete;
    KZFoundListWorkers& operator=(const KZFoundListWorkers&) = delete;

    void add(std::function<void()> work);
    // Runs `work` on the main thread later, unless stop() came first.
    void onMainLater(std::function<void()> work) const;
    // At once on the main thread; from a worker, as onMainLater().
    void onMain(std::function<void()> work) const;

    // Set by stop(); a worker in a long loop looks at it between steps.
    const std::atomic<bool>& cancelled() const { return cancelled_; }
    // Waits for the workers; continuations they queued may still be pending.
    void waitUntilIdle();
    // Main thread: a thread-budget wait is woken, nothing queued for the
    // main thread runs from now on, and the workers are waited for.
    void stop();

private:
    std::atomic<bool> cancelled_{false};
    // Workers read only the weak token, which never changes; stop() resets
    // alive_.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    const std::weak_ptr<int> aliveToken_ = alive_;
    platform::OperationQueue queue_;
};
