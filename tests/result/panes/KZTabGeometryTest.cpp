#include "result/panes/KZTabStrokes.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace KZTabStrokes;

void expectLayer(const Layer& layer, QRectF frame, QRectF path, double start, double end)
{
    EXPECT_EQ(layer.frame, frame);
    EXPECT_EQ(layer.path, path);
    EXPECT_NEAR(layer.strokeStart, start, 1e-9);
    EXPECT_NEAR(layer.strokeEnd, end, 1e-9);
}

TEST(TabStrokes, HorizontalBarUnderATab)
{
    // A window 800 wide less a margin of 100, a tab at x 120 and 100 wide.
    const HorizontalBar bar = horizontalBar(700, 5, 120, 100);
    expectLayer(bar.left, {1, 0, 119, 5}, {0, 0, 119, 5}, 0.5, 1.0);
    expectLayer(bar.right, {220, 0, 479, 5}, {0, 0, 479, 5}, 479.0 / 968, 963.0 / 968);
    expectLayer(bar.bottom, {4, 1, 696, 5}, {0, 0, 696, 5}, 0.0, 696.0 / 1402);

    // Drawn: the top from the tab's left side to x 1 and down; up the right
    // end and along the top back to the tab; the bottom line.
    const auto left = layerSegments(bar.left);
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0], QLineF(120, 5, 1, 5));
    EXPECT_EQ(left[1], QLineF(1, 5, 1, 0));
    const auto right = layerSegments(bar.right);
    ASSERT_EQ(right.size(), 2u);
    EXPECT_EQ(right[0], QLineF(699, 0, 699, 5));
    EXPECT_EQ(right[1], QLineF(699, 5, 220, 5));
    const auto bottom = layerSegments(bar.bottom);
    ASSERT_EQ(bottom.size(), 1u);
    EXPECT_EQ(bottom[0], QLineF(4, 1, 700, 1));
}

TEST(TabStrokes, VerticalBarAndTabOutline)
{
    const VerticalBar bar = verticalBar(300);
    EXPECT_NEAR(bar.bar.strokeStart, 308.0 / 608, 1e-12);
    expectLayer(bar.stroke, {1, 0, 4, 301}, {0, 0, 4, 300}, 0.0, 0.5);
    const auto left = layerSegments(bar.bar);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0], QLineF(0, 300, 0, 0)) << "only the left side";
    const auto stroke = layerSegments(bar.stroke);
    ASSERT_EQ(stroke.size(), 2u);
    EXPECT_EQ(stroke[0], QLineF(1, 0, 5, 0));
    EXPECT_EQ(stroke[1], QLineF(5, 0, 5, 300));

    // A tab 120 x 28 is open at the bottom.
    const Layer tab = tabOutline(120, 28);
    EXPECT_NEAR(tab.strokeStart, 120.0 / 296 + 0.00001, 1e-12);
    const auto sides = layerSegments(tab);
    ASSERT_EQ(sides.size(), 3u);
    EXPECT_NEAR(sides[0].x1(), 120, 1e-2);
    EXPECT_NEAR(sides[0].y1(), 0, 1e-2);
    EXPECT_EQ(sides[1], QLineF(120, 28, 0, 28));
    EXPECT_NEAR(sides[2].y2(), 0, 1e-2);
    EXPECT_EQ(sides[2].x2(), 0);
}

TEST(TabStrokes, DegenerateSizesDrawNothingOdd)
{
    struct Case {
        const char* name;
        QRectF rect;
        double start, end;
        std::size_t segments;
    };
    const Case cases[] = {
        {"tab at x 1: only the left end", {0, 0, 0, 5}, 0.5, 1.0, 1},
        {"negative width counts as zero", {0, 0, -40, 5}, 0.5, 1.0, 1},
        {"negative height counts as zero", {0, 0, 10, -3}, 0.0, 1.0, 2},
        {"empty rectangle", {0, 0, 0, 0}, 0.0, 1.0, 0},
        {"NaN fractions", {0, 0, 10, 10}, std::nan(""), std::nan(""), 0},
        {"start after end", {0, 0, 10, 10}, 0.8, 0.2, 0},
        {"fractions beyond 0...1", {0, 0, 10, 10}, -1.0, 2.0, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto segments = rectangleStrokeSegments(c.rect, c.start, c.end);
        EXPECT_EQ(segments.size(), c.segments);
        for (const QLineF& line : segments) {
            EXPECT_GT(line.length(), 0.0);
            EXPECT_TRUE(std::isfinite(line.x1()) && std::isfinite(line.y2()));
        }
    }
    EXPECT_EQ(rectangleStrokeSegments({0, 0, 0, 5}, 0.5, 1.0).front(), QLineF(0, 5, 0, 0));

    // A tab wider than the bar leaves no negative right stroke.
    const HorizontalBar bar = horizontalBar(100, 5, 60, 200);
    EXPECT_EQ(bar.right.path.width(), 0.0);
    EXPECT_GE(bar.right.strokeStart, 0.0);
    const HorizontalBar none = horizontalBar(0, 0, 0, 0);
    EXPECT_TRUE(layerSegments(none.bottom).empty());
}

TEST(TabStrokes, FlipToQtKeepsLengths)
{
    const auto flipped = flipToQt({QLineF(1, 0, 1, 5)}, 5);
    EXPECT_EQ(flipped.front(), QLineF(1, 5, 1, 0));
}

} // namespace
