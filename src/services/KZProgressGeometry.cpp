#include "services/KZProgressGeometry.h"

#include <algorithm>
#include <cmath>

namespace KZProgressGeometry {

QPointF RingArc::endPoint() const
{
    const double radians = endDegrees * M_PI / 180.0;
    return {kRingCentre.x() + kRingRadius * std::cos(radians), kRingCentre.y() + kRingRadius * std::sin(radians)};
}

std::optional<RingArc> ringArcForPercentage(double percent)
{
    if (!(percent > 0))
        return std::nullopt;
    const double sweep = 360.0 * percent / 100.0;
    const double end = 450.0 - sweep;
    if (end < 90.0)
        return std::nullopt;
    return RingArc{90.0, end};
}

double determinateBarWidth(double viewWidth, double percent)
{
    const double p = std::isfinite(percent) ? std::clamp(percent, 0.0, 100.0) : 0.0;
    return std::max(0.0, viewWidth - 2) * p / 100.0;
}

QRectF determinateBarRect(double viewWidth, double viewHeight, double percent)
{
    return {1, 1, determinateBarWidth(viewWidth, percent), std::max(0.0, viewHeight - 2)};
}

double markerHeight(double viewHeight)
{
    return viewHeight - 2;
}

int stripeCount(double viewWidth)
{
    return int(std::lround(float(viewWidth / 2) / 8.0f)) + 1;
}

double stripeSpacing(double viewWidth)
{
    return 16.0 + 6.0 / stripeCount(viewWidth);
}

int nextOffset(int offset, int animateDirection)
{
    if (animateDirection == 1)
        return offset < 0 ? offset + 1 : -16;
    return offset <= -16 ? 16 : offset - 1;
}

std::vector<std::array<QPointF, 4>> stripePolygons(double viewWidth, double viewHeight, int offset)
{
    const int n = stripeCount(viewWidth);
    const double h = markerHeight(viewHeight);
    const double spacing = stripeSpacing(viewWidth);
    std::vector<std::array<QPointF, 4>> stripes;
    if (n <= 0 || h <= 0)
        return stripes;
    stripes.reserve(size_t(n));
    for (int i = 0; i < n; ++i) {
        const double x0 = offset - 2 + i * spacing;
        stripes.push_back({QPointF(x0, 1), QPointF(x0 + 8, 1), QPointF(x0 + 14, h + 1), QPointF(x0 + 6, h + 1)});
    }
    return stripes;
}

} // namespace KZProgressGeometry
