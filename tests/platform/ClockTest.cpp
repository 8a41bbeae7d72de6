#include "platform/Clock.h"

#include "ManualClock.h"
#include "TestSupport.h"

#include <QDateTime>

#include <QObject>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using namespace std::chrono_literals;

// The program's own clock: later work runs in the order of its times, on
// the event loop, and never after its context went away.
TEST(Clock, TheRealClockRunsWorkInTimeOrderAndOnlyWhileItsContextLives)
{
    platform::Clock& clock = platform::Clock::shared();
    const double start = clock.now();
    EXPECT_GT(start, 1000.0) << "a last time of 0 is long past from the first tick";
    QObject kept;
    auto dropped = std::make_unique<QObject>();
    std::vector<int> ran;
    clock.runAfter(0.03, &kept, [&] { ran.push_back(2); });
    clock.runAfter(0.0, &kept, [&] { ran.push_back(1); });
    clock.runAfter(0.0, dropped.get(), [&] { ran.push_back(0); });
    EXPECT_TRUE(ran.empty()) << "never inside the call";
    dropped.reset();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return ran.size() == 2; }, 5s));
    EXPECT_EQ(ran, (std::vector<int>{1, 2}));
    EXPECT_GE(clock.now() - start, 0.03);
}

TEST(Clock, TheDateIsTheSystemsAndAHandDrivenClockMovesIt)
{
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    const QDateTime real = platform::Clock::shared().dateTime();
    EXPECT_GE(real.toMSecsSinceEpoch(), before);
    EXPECT_LE(real.toMSecsSinceEpoch(), QDateTime::currentMSecsSinceEpoch());
    EXPECT_EQ(real.timeSpec(), Qt::LocalTime);

    kztest::ScopedManualClock manual;
    const QDateTime start = platform::Clock::shared().dateTime();
    manual->advance(3 * 86400.0 + 0.25);
    EXPECT_EQ(start.msecsTo(platform::Clock::shared().dateTime()), 3 * 86400 * 1000 + 250);
}

} // namespace
