#pragma once

#include <QPointF>
#include <QRectF>

#include <array>
#include <optional>
#include <vector>

// Geometry of the two progress displays, in points with the origin at the
// bottom left (y up). The widgets convert once when they paint.
namespace KZProgressGeometry {

// ---- The big progress disc ---------------------------------------------
inline constexpr double kDiscSide = 316;        // a 300-point disc plus 16
inline constexpr QPointF kRingCentre{158, 158}; // 5 + 306 / 2
inline constexpr double kRingRadius = 153;      // 306 / 2
inline constexpr double kRingLineWidth = 7;
inline constexpr double kBackdropRingWidth = 9;
inline constexpr double kSpinSeconds = 1.7;     // one clockwise turn
inline constexpr double kFadeSeconds = 0.5;

// The arc for a percentage: it starts at the top (90°) and runs clockwise
// to `endDegrees` = 450 − 360 × percent / 100 (angles counter-clockwise
// from the positive x axis). No arc (the previous one stays) for 0 or
// less, or above 100.
struct RingArc {
    double startDegrees = 90;
    double endDegrees = 90;
    // Clockwise from the start the arc meets the end angle after
    // start + 360 − end degrees (end lies in 90...450).
    double sweepDegrees() const { return startDegrees + 360 - endDegrees; }
    // The arc's end point on the ring.
    QPointF endPoint() const;
};
std::optional<RingArc> ringArcForPercentage(double percent);

// ---- The linear indicator ----------------------------------------------
inline constexpr double kStepSeconds = 0.0095; // at most one stripe step per interval

// Width of the determinate bar, whose left edge stays at x = 1; the
// percentage is held to 0...100 so that the bar never leaves the view.
double determinateBarWidth(double viewWidth, double percent);
QRectF determinateBarRect(double viewWidth, double viewHeight, double percent);
// A stripe is as high as the view less 2.
double markerHeight(double viewHeight);
// round(width / 16) + 1 stripes, spaced 16 + 6 / n apart.
int stripeCount(double viewWidth);
double stripeSpacing(double viewWidth);
// The next stripe offset: direction 1 runs −16, −15, …, 0 and wraps to
// −16; any other direction runs 16 down to −16 and wraps to 16.
int nextOffset(int offset, int animateDirection);
// The slanted stripes, left to right: each is the band (x0, 1) → (x0 + 8, 1)
// → (x0 + 14, h + 1) → (x0 + 6, h + 1), h = markerHeight, x0 = offset − 2
// + i × spacing.
std::vector<std::array<QPointF, 4>> stripePolygons(double viewWidth, double viewHeight, int offset);

// y-up to y-down for a rectangle inside a parent of height `parentHeight`.
inline QRectF toQt(const QRectF& r, double parentHeight)
{
    return {r.x(), parentHeight - r.y() - r.height(), r.width(), r.height()};
}
inline QPointF toQt(const QPointF& p, double parentHeight) { return {p.x(), parentHeight - p.y()}; }

} // namespace KZProgressGeometry
