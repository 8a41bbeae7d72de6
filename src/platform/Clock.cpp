#include "platform/Clock.h"

#include "platform/SharedInstance.h"

#include <QElapsedTimer>
#include <QTimer>

#include <cmath>

namespace platform {

namespace {

class SteadyClock : public Clock {
public:
    SteadyClock() { started_.start(); }
    // Far from zero: a rule that starts its "last time" at 0 finds it long
    // past on its first tick, however soon after launch that comes.
    double now() const override { return kOrigin + double(started_.nsecsElapsed()) / 1e9; }
    double sinceEpoch() const override { return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0; }
    void runAfter(double seconds, QObject* context, std::function<void()> work) override
    {
        const int ms = seconds > 0 ? int(std::lround(seconds * 1000.0)) : 0;
        QTimer::singleShot(ms, context, std::move(work));
    }

private:
    static constexpr double kOrigin = 1e6;
    QElapsedTimer started_;
};

SharedInstance<Clock>& instance()
{
    static SharedInstance<Clock> shared([]() -> std::unique_ptr<Clock> { return std::make_unique<SteadyClock>(); });
    return shared;
}

} // namespace

QDateTime Clock::dateTime() const
{
    return QDateTime::fromMSecsSinceEpoch(std::llround(sinceEpoch() * 1000.0));
}

Clock& Clock::shared()
{
    return instance().get();
}

void Clock::setShared(std::unique_ptr<Clock> clock)
{
    instance().replace(std::move(clock));
}

} // namespace platform
