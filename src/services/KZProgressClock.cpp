#include "services/KZProgressClock.h"

#include "platform/Log.h"

#include <QTimer>

#include <atomic>
#include <chrono>
#include <system_error>

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
    {
        std::lock_guard guard(mutex_);
        stopRequested_ = false;
        running_ = true;
    }
    try {
        if (g_threadStartFails.load())
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        thread_ = std::thread([this] { run(); });
        return;
    } catch (const std::system_error& error) {
        platform::logLine(QStringLiteral("Search progress clock thread could not start (%1); using a timer")
                              .arg(QString::fromLocal8Bit(error.what())));
    }
    timer_ = new QTimer(this);
    timer_->setInterval(intervalMs);
    connect(timer_, &QTimer::timeout, this, [this] {
        if (tick_()) {
            std::lock_guard guard(mutex_);
            running_ = false;
            timer_->stop();
        }
    });
    timer_->start();
}

void KZProgressClock::stop()
{
    {
        std::lock_guard guard(mutex_);
        stopRequested_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        // A clock that stops itself from its own tick (its owner released
        // there) must not join itself.
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
    std::lock_guard guard(mutex_);
    running_ = false;
}

bool KZProgressClock::isRunning() const
{
    std::lock_guard guard(mutex_);
    return running_;
}

void KZProgressClock::run()
{
    const auto interval = std::chrono::milliseconds(intervalMs);
    auto next = std::chrono::steady_clock::now() + interval;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            if (wake_.wait_until(lock, next, [this] { return stopRequested_; })) {
                running_ = false;
                return;
            }
        }
        if (tick_()) {
            std::lock_guard guard(mutex_);
            running_ = false;
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
