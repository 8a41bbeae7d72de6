#include "services/KZProgressDisplayRule.h"

#include "platform/Clock.h"

#include <algorithm>

void KZProgressDisplayRule::startSession()
{
    std::lock_guard guard(mutex_);
    startTime_ = platform::Clock::shared().now();
    updatedTime_ = 0;
    visible_ = false;
    running_ = true;
}

KZProgressDisplayRule::Step KZProgressDisplayRule::step(bool isWorking)
{
    std::lock_guard guard(mutex_);
    Step step;
    if (!running_)
        return step;
    const double now = platform::Clock::shared().now();
    if (!isWorking) {
        step.terminate = true;
        running_ = false;
        return step;
    }
    if (!visible_ && now - startTime_ >= showDelay) {
        visible_ = true;
        step.show = true;
    }
    if (visible_ && now - updatedTime_ >= refreshInterval) {
        updatedTime_ = now;
        step.refresh = true;
    }
    return step;
}

bool KZProgressDisplayRule::isVisible() const
{
    std::lock_guard guard(mutex_);
    return visible_;
}

bool KZProgressDisplayRule::sessionRunning() const
{
    std::lock_guard guard(mutex_);
    return running_;
}

double KZProgressDisplayRule::percent(quint64 managed, quint64 total)
{
    if (total == 0)
        return 0;
    return double(std::min(managed, total)) / double(total) * 100.0;
}
