#include "services/KZProgressDisplayRule.h"

#include <gtest/gtest.h>

TEST(KZProgressDisplayRule, AQuickJobNeverShowsAndALongOneRefreshesAtMostTenTimesASecond)
{
    double now = 100.0;
    KZProgressDisplayRule rule([&now] { return now; });
    rule.startSession();

    now = 100.69;
    KZProgressDisplayRule::Step step = rule.step(true);
    EXPECT_FALSE(step.show);
    EXPECT_FALSE(step.refresh);
    EXPECT_FALSE(rule.isVisible());

    now = 100.7;
    step = rule.step(true);
    EXPECT_TRUE(step.show);
    EXPECT_TRUE(step.refresh);
    now = 100.75;
    step = rule.step(true);
    EXPECT_FALSE(step.show);
    EXPECT_FALSE(step.refresh);
    now = 100.85;
    EXPECT_TRUE(rule.step(true).refresh);

    step = rule.step(false);
    EXPECT_TRUE(step.terminate);
    EXPECT_FALSE(rule.sessionRunning());
    EXPECT_FALSE(rule.step(false).terminate); // told once only
}

TEST(KZProgressDisplayRule, AJobEndingBeforeTheDelayTerminatesWithoutShowing)
{
    double now = 0;
    KZProgressDisplayRule rule([&now] { return now; });
    rule.startSession();
    now = 0.69;
    const KZProgressDisplayRule::Step step = rule.step(false);
    EXPECT_TRUE(step.terminate);
    EXPECT_FALSE(step.show);
    EXPECT_FALSE(rule.isVisible());
    EXPECT_DOUBLE_EQ(KZProgressDisplayRule::percent(5, 0), 0.0);
    EXPECT_DOUBLE_EQ(KZProgressDisplayRule::percent(7, 5), 100.0);
}
