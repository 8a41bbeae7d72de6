#include "services/KZProgressDisplayRule.h"

#include "ManualClock.h"

#include <gtest/gtest.h>

namespace {

// Moves the shared clock to `seconds` after it was made.
struct Timeline {
    kztest::ScopedManualClock clock;
    const double origin = clock->now();
    void at(double seconds) { clock->advance(origin + seconds - clock->now()); }
};

} // namespace

TEST(KZProgressDisplayRule, AQuickJobNeverShowsAndALongOneRefreshesAtMostTenTimesASecond)
{
    Timeline time;
    KZProgressDisplayRule rule;
    rule.startSession();

    time.at(0.69);
    KZProgressDisplayRule::Step step = rule.step(true);
    EXPECT_FALSE(step.show);
    EXPECT_FALSE(step.refresh);
    EXPECT_FALSE(rule.isVisible());

    time.at(0.7);
    step = rule.step(true);
    EXPECT_TRUE(step.show);
    EXPECT_TRUE(step.refresh);
    time.at(0.75);
    step = rule.step(true);
    EXPECT_FALSE(step.show);
    EXPECT_FALSE(step.refresh);
    time.at(0.85);
    EXPECT_TRUE(rule.step(true).refresh);

    step = rule.step(false);
    EXPECT_TRUE(step.terminate);
    EXPECT_FALSE(rule.sessionRunning());
    EXPECT_FALSE(rule.step(false).terminate); // told once only
}

TEST(KZProgressDisplayRule, AJobEndingBeforeTheDelayTerminatesWithoutShowing)
{
    Timeline time;
    KZProgressDisplayRule rule;
    rule.startSession();
    time.at(0.69);
    const KZProgressDisplayRule::Step step = rule.step(false);
    EXPECT_TRUE(step.terminate);
    EXPECT_FALSE(step.show);
    EXPECT_FALSE(rule.isVisible());
    EXPECT_DOUBLE_EQ(KZProgressDisplayRule::percent(5, 0), 0.0);
    EXPECT_DOUBLE_EQ(KZProgressDisplayRule::percent(7, 5), 100.0);
}
