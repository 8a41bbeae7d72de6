#include "services/KZProgressGeometry.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace KZProgressGeometry;

TEST(KZProgressGeometry, RingArcs)
{
    struct Row { double percent; std::optional<double> end; };
    const Row rows[] = {
        {25, 360},  // from 12 o'clock clockwise to 3 o'clock
        {50, 270},
        {100, 90},  // the full circle
        {0.5, 448.2},
        {0, std::nullopt},      // nothing to draw: the previous ring stays
        {-3, std::nullopt},
        {100.01, std::nullopt}, // beyond the full circle: the previous ring stays
        {250, std::nullopt},
        {std::nan(""), std::nullopt},
    };
    for (const Row& r : rows) {
        const auto arc = ringArcForPercentage(r.percent);
        ASSERT_EQ(arc.has_value(), r.end.has_value()) << r.percent;
        if (!arc)
            continue;
        EXPECT_DOUBLE_EQ(arc->startDegrees, 90) << r.percent;
        EXPECT_NEAR(arc->endDegrees, *r.end, 1e-9) << r.percent;
        EXPECT_NEAR(arc->sweepDegrees(), 360 * r.percent / 100, 1e-9) << r.percent;
    }
    // 25 %: the arc ends at 3 o'clock on the ring around (158, 158), r 153.
    const QPointF quarter = ringArcForPercentage(25)->endPoint();
    EXPECT_NEAR(quarter.x(), 311, 1e-9);
    EXPECT_NEAR(quarter.y(), 158, 1e-9);
    const QPointF full = ringArcForPercentage(100)->endPoint();
    EXPECT_NEAR(full.x(), 158, 1e-9);
    EXPECT_NEAR(full.y(), 311, 1e-9);
}

TEST(KZProgressGeometry, DeterminateBar)
{
    struct Row { double width, percent, bar; };
    const Row rows[] = {
        {200, 0, 0}, {200, 100, 198}, {200, 50, 99}, {200, 150, 198}, {200, -5, 0}, {200, std::nan(""), 0},
        {1, 50, 0}, // narrower than its border
    };
    for (const Row& r : rows)
        EXPECT_DOUBLE_EQ(determinateBarWidth(r.width, r.percent), r.bar) << r.width << " " << r.percent;
    EXPECT_EQ(determinateBarRect(200, 20, 100), QRectF(1, 1, 198, 18)); // left edge at x = 1
}

TEST(KZProgressGeometry, StripeCountsAndSpacing)
{
    struct Row { double width; int count; };
    const Row rows[] = {
        {200, 14}, // lroundf(12.5) = 13, plus 1
        {216, 15}, {0, 1}, {8, 2}, {7.9, 1}, {24, 3}, {460, 30},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(stripeCount(r.width), r.count) << r.width;
        EXPECT_DOUBLE_EQ(stripeSpacing(r.width), 16 + 6.0 / r.count) << r.width;
    }
    EXPECT_EQ(markerHeight(20), 18);
}

TEST(KZProgressGeometry, StripeOffsetsCycle)
{
    // Direction 1: −16 … 0, then back to −16: 17 values.
    int offset = -16;
    for (int step = 0; step < 16; ++step)
        offset = nextOffset(offset, 1);
    EXPECT_EQ(offset, 0);
    EXPECT_EQ(nextOffset(0, 1), -16);
    EXPECT_EQ(nextOffset(5, 1), -16); // anything at or past the end restarts
    // Any other direction: 16 down to −16, then back to 16.
    EXPECT_EQ(nextOffset(16, -1), 15);
    EXPECT_EQ(nextOffset(-15, 0), -16);
    EXPECT_EQ(nextOffset(-16, -1), 16);
    EXPECT_EQ(nextOffset(-40, 2), 16);
}

TEST(KZProgressGeometry, StripePolygons)
{
    const auto stripes = stripePolygons(200, 20, -16);
    ASSERT_EQ(stripes.size(), 14u);
    const double spacing = 16 + 6.0 / 14;
    // The first stripe: 8 wide at the bottom (y 1), slanted 6 to the right
    // over its height of 18 (up to y 19).
    EXPECT_EQ(stripes[0][0], QPointF(-18, 1));
    EXPECT_EQ(stripes[0][1], QPointF(-10, 1));
    EXPECT_EQ(stripes[0][2], QPointF(-4, 19));
    EXPECT_EQ(stripes[0][3], QPointF(-12, 19));
    EXPECT_NEAR(stripes[13][0].x(), -18 + 13 * spacing, 1e-9);
    // The row covers the view at every offset of the cycle.
    for (int offset = -16; offset <= 0; ++offset) {
        const auto row = stripePolygons(200, 20, offset);
        EXPECT_LE(row.front()[0].x(), 0) << offset;
        EXPECT_GE(row.back()[1].x(), 200 - spacing) << offset;
    }
    EXPECT_TRUE(stripePolygons(200, 2, 0).empty()); // no height for a stripe
}

TEST(KZProgressGeometry, FlipToQt)
{
    EXPECT_EQ(toQt(QRectF(1, 1, 50, 18), 20), QRectF(1, 1, 50, 18));
    EXPECT_EQ(toQt(QRectF(0, 0, 10, 5), 100), QRectF(0, 95, 10, 5));
    EXPECT_EQ(toQt(QPointF(158, 311), 316), QPointF(158, 5));
}

} // namespace
