#include "app/KZWindowTransitionMath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

using namespace KZTransitionMath;
constexpr double pi = std::numbers::pi;

TEST(KZTransitionMath, TimingCurvesKeepTheirEndsAndShapes)
{
    struct Case {
        const char* name;
        double (*curve)(double);
        double atQuarter; // rough expectation, ±0.02
    } const cases[] = {
        {"ease in-out", easeInEaseOut, 0.129},
        {"ease in", easeIn, 0.093},
        {"ease out", easeOut, 0.382},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_DOUBLE_EQ(c.curve(0.0), 0.0);
        EXPECT_NEAR(c.curve(1.0), 1.0, 1e-9);
        EXPECT_NEAR(c.curve(0.25), c.atQuarter, 0.02);
        // Out of range times clamp rather than overshoot.
        EXPECT_DOUBLE_EQ(c.curve(-1.0), 0.0);
        EXPECT_NEAR(c.curve(2.0), 1.0, 1e-9);
        double last = 0;
        for (int i = 1; i <= 100; ++i) {
            const double v = c.curve(i / 100.0);
            EXPECT_GE(v, last - 1e-12);
            last = v;
        }
    }
    EXPECT_NEAR(easeInEaseOut(0.5), 0.5, 1e-9);
}

TEST(KZTransitionMath, FlipDirectionsPickAxisAndSign)
{
    struct Case {
        unsigned direction;
        FlipAxis axis;
        double turnTo, incomingFrom;
    } const cases[] = {
        {0, FlipAxis::Vertical, -pi, pi},
        {1, FlipAxis::Vertical, pi, -pi},
        {2, FlipAxis::Horizontal, -pi, pi},
        {3, FlipAxis::Horizontal, pi, -pi},
        {7, FlipAxis::Vertical, pi, -pi}, // unknown codes behave as 1
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.direction);
        const FlipAngles turning = flipAngles(c.direction, true);
        const FlipAngles incoming = flipAngles(c.direction, false);
        EXPECT_EQ(turning.axis, c.axis);
        EXPECT_EQ(incoming.axis, c.axis);
        EXPECT_DOUBLE_EQ(turning.from, 0.0);
        EXPECT_DOUBLE_EQ(turning.to, c.turnTo);
        EXPECT_DOUBLE_EQ(incoming.from, c.incomingFrom);
        EXPECT_DOUBLE_EQ(incoming.to, 0.0);
    }
}

TEST(KZTransitionMath, SwellPeaksAtHalfTimeAndReturns)
{
    EXPECT_DOUBLE_EQ(flipSwell(0.0), 1.0);
    EXPECT_DOUBLE_EQ(flipSwell(0.25), 1.01);
    EXPECT_DOUBLE_EQ(flipSwell(0.5), 1.02);
    EXPECT_DOUBLE_EQ(flipSwell(0.75), 1.01);
    EXPECT_DOUBLE_EQ(flipSwell(1.0), 1.0);
}

TEST(KZTransitionMath, ProjectionUsesTheEyeDistanceOf1500)
{
    const QPointF centre(400, 300);
    // Unturned and unscaled: a plain move to the centre.
    EXPECT_EQ(flipProjection(FlipAxis::Vertical, 0, 1, centre).map(QPointF(10, 20)), QPointF(410, 320));

    // A point 300 to the right of the axis, turned by 60 degrees: x shrinks
    // by cos and both coordinates divide by 1 + x sin / 1500.
    const double a = pi / 3;
    const double w = 1.0 + 300.0 * std::sin(a) / 1500.0;
    const QPointF p = flipProjection(FlipAxis::Vertical, a, 1, centre).map(QPointF(300, 100));
    EXPECT_NEAR(p.x(), 400 + 300 * std::cos(a) / w, 1e-9);
    EXPECT_NEAR(p.y(), 300 + 100 / w, 1e-9);
    // The eye distance is ours, not Qt's 1024.
    QTransform qtOwn;
    qtOwn.rotateRadians(a, Qt::YAxis);
    EXPECT_GT(std::abs((qtOwn * QTransform::fromTranslate(400, 300)).map(QPointF(300, 100)).y() - p.y()), 0.5);

    // The horizontal axis turns y the same way; the far edge shrinks, the
    // near edge grows, and the swell scales before the projection.
    const QPointF top = flipProjection(FlipAxis::Horizontal, a, 1.02, centre).map(QPointF(100, -200));
    const double wt = 1.0 + 1.02 * -200.0 * std::sin(a) / 1500.0;
    EXPECT_NEAR(top.x(), 400 + 1.02 * 100 / wt, 1e-9);
    EXPECT_NEAR(top.y(), 300 + 1.02 * -200 * std::cos(a) / wt, 1e-9);
}

TEST(KZTransitionMath, BackFacesAreSkipped)
{
    EXPECT_TRUE(flipFaceVisible(0));
    EXPECT_TRUE(flipFaceVisible(pi / 2 - 0.01));
    EXPECT_FALSE(flipFaceVisible(pi / 2 + 0.01));
    EXPECT_FALSE(flipFaceVisible(-pi));
    EXPECT_TRUE(flipFaceVisible(-0.3));
}

TEST(KZTransitionMath, FlipOverlayAndIncomingPlacement)
{
    // The progress window (509 square) leaving, a 600 x 400 window coming.
    const QRectF current(100, 50, 509, 509);
    const QRectF overlay = flipOverlayRect(current, QRectF(0, 0, 600, 400));
    EXPECT_NEAR(overlay.width(), 600 * 3.04, 1e-9);
    EXPECT_NEAR(overlay.height(), 509 * 3.04, 1e-9);
    EXPECT_NEAR(overlay.center().x(), current.center().x(), 1e-9);
    EXPECT_NEAR(overlay.center().y(), current.center().y(), 1e-9);

    const QRectF incoming = flipIncomingRect(current, QSizeF(600, 400));
    EXPECT_EQ(incoming, QRectF(100 + 254.5 - 300, 50, 600, 400));
}

// The progress window takes the opening window's origin, 10 points lower,
// keeping its own size; in Qt's frame its bottom edge is 10 below.
TEST(KZTransitionMath, ReopenedProgressWindowStandsWhereTheOpeningWindowStood)
{
    const QRectF opening(200, 300, 509, 509);
    EXPECT_EQ(reopenedProgressRect(opening, QSizeF(519, 531)), QRectF(200, 290, 519, 531));
    const double screen = 1000;
    const QRectF placed = flipY(reopenedProgressRect(flipY(QRectF(200, 100, 509, 509), screen), QSizeF(519, 531)), screen);
    EXPECT_EQ(placed, QRectF(200, 100 + 509 + 10 - 531, 519, 531));
}

TEST(KZTransitionMath, ZoomDurationsByWidth)
{
    EXPECT_DOUBLE_EQ(zoomSizeSeconds(800), 0.2);
    EXPECT_DOUBLE_EQ(zoomSizeSeconds(1100), 0.2);
    EXPECT_DOUBLE_EQ(zoomSizeSeconds(1100.5), 0.4);
    EXPECT_DOUBLE_EQ(zoomSizeSeconds(1400), 0.4);
}

TEST(KZTransitionMath, MarginsFollowPanelsOnEverySide)
{
    const QRect screen(0, 0, 1440, 900);
    struct Case {
        const char* name;
        QRect available;
        ScreenMargins expected;
    } const cases[] = {
        {"no panels", screen, {10, 10, 10, 10}},
        {"top bar 25", QRect(0, 25, 1440, 875), {35, 10, 10, 10}},
        {"bottom dock 70 and top bar", QRect(0, 25, 1440, 805), {35, 80, 10, 10}},
        {"left dock 64", QRect(64, 0, 1376, 900), {10, 10, 74, 10}},
        {"right dock 64", QRect(0, 0, 1376, 900), {10, 10, 10, 74}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(screenMargins(screen, c.available), c.expected);
    }
    // A second screen to the right: only the differences count.
    EXPECT_EQ(screenMargins(QRect(1440, 0, 1920, 1080), QRect(1440, 30, 1920, 1050)),
              (ScreenMargins{40, 10, 10, 10}));
}

TEST(KZTransitionMath, ZoomTargetIsCentredAndRoundedUp)
{
    const QRectF from(100.25, 200.5, 509, 509);
    const QRectF target = zoomTarget(from, QSizeF(1000, 700));
    EXPECT_EQ(target, QRectF(std::ceil(100.25 + 254.5 - 500), std::ceil(200.5 + 254.5 - 350), 1000, 700));
}

TEST(KZTransitionMath, AnchorKeepsTheGrownWindowInsideTheMargins)
{
    const QSizeF screen(1440, 900);
    const ScreenMargins margins{35, 80, 10, 10}; // top bar 25, bottom dock 70
    struct Case {
        const char* name;
        QRectF from;
        QSizeF size;
        double expectX, expectY; // where the grown window's origin ends (y-up)
        bool centredX, centredY;
    } const cases[] = {
        {"room everywhere", QRectF(465, 195, 509, 509), QSizeF(800, 500), 0, 0, true, true},
        {"under the dock", QRectF(465, 20, 509, 509), QSizeF(800, 700), 0, 80, true, false},
        {"past the top bar", QRectF(465, 380, 509, 509), QSizeF(800, 700), 0, 900 - 35 - 700, true, false},
        {"off the left edge", QRectF(0, 195, 509, 509), QSizeF(1000, 500), 10, 0, false, true},
        {"off the right edge", QRectF(931, 195, 509, 509), QSizeF(1000, 500), 1440 - 10 - 1000, 0, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QRectF target = zoomTarget(c.from, c.size);
        const QPointF anchor = zoomAnchor(c.from, target, screen, margins);
        const QRectF end = zoomGrowRect(c.from, target, anchor, 1.0);
        EXPECT_NEAR(end.width(), c.size.width(), 1e-9);
        EXPECT_NEAR(end.height(), c.size.height(), 1e-9);
        if (c.centredX) {
            EXPECT_DOUBLE_EQ(anchor.x(), 0.5);
        } else {
            EXPECT_NEAR(end.x(), c.expectX, 1e-9);
        }
        if (c.centredY) {
            EXPECT_DOUBLE_EQ(anchor.y(), 0.5);
        } else {
            EXPECT_NEAR(end.y(), c.expectY, 1e-9);
        }
        // It starts exactly on the window that is left.
        const QRectF start = zoomGrowRect(c.from, target, anchor, 0.0);
        EXPECT_NEAR(start.x(), c.from.x(), 1e-9);
        EXPECT_NEAR(start.y(), c.from.y(), 1e-9);
    }
}

TEST(KZTransitionMath, DiscAndFrameConversion)
{
    const QRectF empty(254.5, 254.5, 0, 0);
    const QRectF grown(-70, -70, 509 + 140, 509 + 140);
    EXPECT_EQ(discRect(empty, grown, 0), empty);
    EXPECT_EQ(discRect(empty, grown, 1), grown);
    EXPECT_EQ(discRect(empty, grown, 0.5), QRectF(92.25, 92.25, 324.5, 324.5));
    EXPECT_EQ(flipY(QRectF(10, 20, 100, 50), 900), QRectF(10, 830, 100, 50));
    EXPECT_EQ(flipY(flipY(QRectF(10, 20, 100, 50), 900), 900), QRectF(10, 20, 100, 50));
}

TEST(KZTransitionMath, SnapshotShadowFallsBelowTheWindow)
{
    EXPECT_DOUBLE_EQ(kSnapshotShadowOpacity, 0.5);
    // A 1000 x 700 window at (100, 200), y up: the shadow is 10 lower and
    // 15 wider on every side.
    const QRectF shadow = snapshotShadowRect(QRectF(100, 200, 1000, 700));
    EXPECT_EQ(shadow, QRectF(85, 175, 1030, 730));
    // On a screen 900 high, in Qt's frame, it reaches further down than up.
    const QRectF window = flipY(QRectF(100, 200, 1000, 700), 900);
    const QRectF down = flipY(shadow, 900);
    EXPECT_DOUBLE_EQ(down.bottom() - window.bottom(), 25);
    EXPECT_DOUBLE_EQ(window.top() - down.top(), 5);
}

} // namespace
