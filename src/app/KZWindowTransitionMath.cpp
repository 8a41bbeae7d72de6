#include "app/KZWindowTransitionMath.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace KZTransitionMath {

namespace {

double bezier(double p1, double p2, double s)
{
    const double r = 1.0 - s;
    return 3.0 * r * r * s * p1 + 3.0 * r * s * s * p2 + s * s * s;
}

double lerp(double a, double b, double u)
{
    return a + (b - a) * u;
}

} // namespace

double cubicBezier(double x1, double y1, double x2, double y2, double t)
{
    // The ends are exact, so a finished animation lands on its end value.
    if (t <= 0.0)
        return 0.0;
    if (t >= 1.0)
        return 1.0;
    // Bisection: x(s) rises monotonically for control x values in [0, 1], and
    // 40 halvings are far below a pixel at any duration we use.
    double lo = 0.0;
    double hi = 1.0;
    for (int i = 0; i < 40; ++i) {
        const double mid = (lo + hi) / 2.0;
        if (bezier(x1, x2, mid) < t)
            lo = mid;
        else
            hi = mid;
    }
    return bezier(y1, y2, (lo + hi) / 2.0);
}

double easeInEaseOut(double t)
{
    return cubicBezier(0.42, 0.0, 0.58, 1.0, t);
}

double easeIn(double t)
{
    return cubicBezier(0.42, 0.0, 1.0, 1.0, t);
}

double easeOut(double t)
{
    return cubicBezier(0.0, 0.0, 0.58, 1.0, t);
}

FlipAngles flipAngles(unsigned direction, bool turning)
{
    constexpr double pi = std::numbers::pi;
    const FlipAxis axis = (direction == 2 || direction == 3) ? FlipAxis::Horizontal : FlipAxis::Vertical;
    // Codes 0 and 2 turn the leaving window towards negative angles.
    const bool negative = direction == 0 || direction == 2;
    if (turning)
        return {axis, 0.0, negative ? -pi : pi};
    return {axis, negative ? pi : -pi, 0.0};
}

double flipSwell(double u)
{
    u = std::clamp(u, 0.0, 1.0);
    const double half = u < 0.5 ? 2.0 * u : 2.0 - 2.0 * u;
    return 1.0 + (kFlipSwell - 1.0) * half;
}

QTransform flipProjection(FlipAxis axis, double angle, double scale, QPointF centre)
{
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    const double k = 1.0 / kFlipEyeDistance;
    // A flat snapshot (z = 0) turned about one axis: the turned coordinate
    // shrinks by cos, the depth it gains (sin) divides both by w = 1 - z/d.
    // In Qt's y-down frame the x-axis turn's depth keeps the sign that y-up
    // gives it, so the same edge comes towards the eye in both frames.
    QTransform projection;
    if (axis == FlipAxis::Vertical)
        projection = QTransform(scale * c, 0.0, scale * s * k, 0.0, scale, 0.0, 0.0, 0.0, 1.0);
    else
        projection = QTransform(scale, 0.0, 0.0, 0.0, scale * c, scale * s * k, 0.0, 0.0, 1.0);
    return projection * QTransform::fromTranslate(centre.x(), centre.y());
}

bool flipFaceVisible(double angle)
{
    return std::cos(angle) > 1e-9;
}

QRectF flipOverlayRect(const QRectF& current, const QRectF& next)
{
    const double maxW = std::max(current.width(), next.width());
    const double maxH = std::max(current.height(), next.height());
    const double w = maxW + maxW * (kFlipOverlayFactor - 1.0);
    const double h = maxH + maxH * (kFlipOverlayFactor - 1.0);
    return {current.x() + current.width() * 0.5 - w / 2.0, current.y() + current.height() * 0.5 - h / 2.0, w, h};
}

QRectF flipIncomingRect(const QRectF& current, const QSizeF& nextSize)
{
    return {current.x() + current.width() * 0.5 - nextSize.width() / 2.0, current.y(), nextSize.width(),
            nextSize.height()};
}

double zoomSizeSeconds(double resultWidth)
{
    return resultWidth <= kZoomWideWindow ? 0.2 : 0.4;
}

ScreenMargins screenMargins(const QRect& geometry, const QRect& available)
{
    // QRect's right() and bottom() are one short of the edge; the edges are
    // compared as x + width so that a full-width panel-free screen gives 0.
    ScreenMargins m;
    m.top = kZoomMargin + std::max(0, available.y() - geometry.y());
    m.left = kZoomMargin + std::max(0, available.x() - geometry.x());
    m.bottom = kZoomMargin + std::max(0, (geometry.y() + geometry.height()) - (available.y() + available.height()));
    m.right = kZoomMargin + std::max(0, (geometry.x() + geometry.width()) - (available.x() + available.width()));
    return m;
}

QRectF zoomTarget(const QRectF& fromRect, const QSizeF& toSize)
{
    return {std::ceil(fromRect.x() + fromRect.width() * 0.5 - toSize.width() / 2.0),
            std::ceil(fromRect.y() + fromRect.height() * 0.5 - toSize.height() / 2.0), toSize.width(),
            toSize.height()};
}

QPointF zoomAnchor(const QRectF& fromRect, const QRectF& target, const QSizeF& screenSize,
                   const ScreenMargins& margins)
{
    const QPointF c = fromRect.center();
    QPointF anchor(0.5, 0.5);
    if (target.height() > 0) {
        if (target.y() <= margins.bottom)
            anchor.setY((c.y() - margins.bottom) / target.height());
        if (target.y() + target.height() >= screenSize.height() - margins.top)
            anchor.setY(1.0 + (c.y() - (screenSize.height() - margins.top)) / target.height());
    }
    if (target.width() > 0) {
        if (target.x() <= margins.left)
            anchor.setX((c.x() - margins.left) / target.width());
        if (target.x() + target.width() >= screenSize.width() - margins.right)
            anchor.setX(1.0 + (c.x() - (screenSize.width() - margins.right)) / target.width());
    }
    return anchor;
}

QRectF zoomGrowRect(const QRectF& fromRect, const QRectF& target, QPointF anchor, double u)
{
    const QPointF c = fromRect.center();
    const double w = lerp(fromRect.width(), target.width(), u);
    const double h = lerp(fromRect.height(), target.height(), u);
    const double ax = lerp(0.5, anchor.x(), u);
    const double ay = lerp(0.5, anchor.y(), u);
    return {c.x() - ax * w, c.y() - ay * h, w, h};
}

QRectF discRect(const QRectF& from, const QRectF& to, double u)
{
    return {lerp(from.x(), to.x(), u), lerp(from.y(), to.y(), u), lerp(from.width(), to.width(), u),
            lerp(from.height(), to.height(), u)};
}

QRectF snapshotShadowRect(const QRectF& snapshot)
{
    const double r = kSnapshotShadowRadius;
    return snapshot.translated(kSnapshotShadowOffset).adjusted(-r, -r, r, r);
}

QRectF reopenedProgressRect(const QRectF& opening, const QSizeF& progressSize)
{
    return {opening.topLeft() - QPointF(0, kReopenedProgressDrop), progressSize};
}

QRectF flipY(const QRectF& rect, double screenHeight)
{
    return {rect.x(), screenHeight - rect.y() - rect.height(), rect.width(), rect.height()};
}

} // namespace KZTransitionMath

namespace KZTransitionMath {

namespace {
double g_durationFactor = 1.0;
double g_pauseAt = -1.0;
} // namespace

void setDurationFactor(double factor)
{
    g_durationFactor = factor > 0 ? factor : 1.0;
}

double durationFactor()
{
    return g_durationFactor;
}

void setPauseAt(double fraction)
{
    g_pauseAt = fraction;
}

double pauseAt()
{
    return g_pauseAt;
}

} // namespace KZTransitionMath
