#include "services/KZProgressClock.h"

#include "platform/Log.h"

#include <QTimer>

#include <atomic>
#include <chrono>
#include <system_error>
#include <utility>

namespace {
std::atomic<bool> g_threadStartFails{false};
}

KZProgressClock::KZProgressClock(Tick tick, QObject* parent)
    : QObject(parent), tick_(std::move(tick))
{
}

KZProgressClock::~KZProgressClock()
{
    stop();
}

void KZProgressClock::setThreadStartFailsForTesting(bool fails)
{
    g_threadStartFails.store(fails);
}

void KZProgressClock::start()
{
    stop();
    auto state = std::make_shared<Run>(tick_);
    {
        std::lock_guard guard(runMutex_);
        run_ = state;
    }
    try {
        if (g_threadStartFails.load())
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        thread_ = std::thread([state] { run(state); });
        return;
    } catch (const std::system_error& error) {
        platform::logLine(QStringLiteral("Search progress clock thread could not start (%1); using a timer")
                              .arg(QString::fromLocal8Bit(error.what())));
    }
    timer_ = new QTimer(this);
    timer_->setInterval(intervalMs);
    connect(timer_, &QTimer::timeout, this, [this, state] {
        if (state->tick()) {
            {
                std::lock_guard guard(state->mutex);
                state->running = false;
            }
            // The tick may have stopped the clock already.
            if (timer_)
                timer_->stop();
        }
    });
    timer_->start();
}

void KZProgressClock::stop()
{
    std::shared_ptr<Run> state;
    {
        std::lock_guard guard(runMutex_);
        state = std::exchange(run_, nullptr);
    }
    if (state) {
        {
            std::lock_guard guard(state->mutex);
            state->stopRequested = true;
        }
        state->wake.notify_all();
    }
    if (thread_.joinable()) {
        // A clock that stops itself from its own tick (its owner released
        // there) must not join itself; the thread keeps its own state and
        // ends as soon as the tick returns.
        if (thread_.get_id() == std::this_thread::get_id())
            thread_.detach();
        else
            thread_.join();
    }
    if (timer_) {
        timer_->stop();
        timer_->deleteLater();
        timer_ = nullptr;
    }
    if (state) {
        std::lock_guard guard(state->mutex);
        state->running = false;
    }
}

bool KZProgressClock::isRunning() const
{
    std::shared_ptr<Run> state;
    {
        std::lock_guard guard(runMutex_);
        state = run_;
    }
    if (!state)
        return false;
    std::lock_guard guard(state->mutex);
    return state->running;
}

void KZProgressClock::run(const std::shared_ptr<Run>& state)
{
    const auto interval = std::chrono::milliseconds(intervalMs);
    auto next = std::chrono::steady_clock::now() + interval;
    for (;;) {
        {
            std::unique_lock lock(state->mutex);
            if (state->wake.wait_until(lock, next, [&] { return state->stopRequested; })) {
                state->running = false;
                return;
            }
        }
        const bool done = state->tick();
        std::lock_guard guard(state->mutex);
        if (done || state->stopRequested) {
            state->running = false;
            return;
        }
        next += interval;
        // After a long tick (a slow GUI thread) skip the missed ticks rather
        // than running them back to back.
        const auto now = std::chrono::steady_clock::now();
        if (next < now)
            next = now + interval;
    }
}
