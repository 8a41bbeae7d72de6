#pragma once

#include "platform/Clock.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace kztest {

// A clock that moves only when the test says. Work runs inside advance(), on
// the test's thread, each piece at its own due time and in the order it was
// asked for among equal times; work whose context went away is dropped.
// The date starts at the real one and moves with now(). A clock thread of
// the code under test may read the time while the test advances it.
class ManualClock : public platform::Clock {
public:
    double now() const override { return now_.load(); }
    double sinceEpoch() const override { return epochAtStart_ + (now_.load() - kStart); }
    void runAfter(double seconds, QObject* context, std::function<void()> work) override
    {
        pending_.push_back({now_.load() + std::max(seconds, 0.0), next_++, context, context != nullptr, std::move(work)});
    }

    void advance(double seconds)
    {
        const double end = now_.load() + seconds;
        for (;;) {
            auto due = std::min_element(pending_.begin(), pending_.end(), [](const Pending& a, const Pending& b) {
                return a.at != b.at ? a.at < b.at : a.order < b.order;
            });
            if (due == pending_.end() || due->at > end)
                break;
            Pending item = std::move(*due);
            pending_.erase(due);
            now_ = item.at;
            if (!item.hadContext || item.context)
                item.work();
        }
        now_ = end;
    }
    std::size_t pending() const { return pending_.size(); }

private:
    struct Pending {
        double at;
        std::uint64_t order;
        QPointer<QObject> context;
        bool hadContext;
        std::function<void()> work;
    };
    static constexpr double kStart = 1000.0;
    std::atomic<double> now_ = kStart;
    const double epochAtStart_ = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    std::uint64_t next_ = 0;
    std::vector<Pending> pending_;
};

// The shared clock is a ManualClock while this lives; the real one after.
class ScopedManualClock {
public:
    ScopedManualClock()
    {
        auto clock = std::make_unique<ManualClock>();
        clock_ = clock.get();
        platform::Clock::setShared(std::move(clock));
    }
    ~ScopedManualClock() { platform::Clock::setShared(nullptr); }
    ScopedManualClock(const ScopedManualClock&) = delete;
    ScopedManualClock& operator=(const ScopedManualClock&) = delete;

    ManualClock* operator->() const { return clock_; }
    ManualClock& operator*() const { return *clock_; }

private:
    ManualClock* clock_;
};

} // namespace kztest
