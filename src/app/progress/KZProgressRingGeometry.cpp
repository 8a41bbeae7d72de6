#include "app/progress/KZProgressRingGeometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace KZProgressRingGeometry {

namespace {

// Lays tabs out from the top down, each 2a + gap below the previous one.
void placeFromTop(std::vector<Tab>& tabs)
{
    double toValue = kTopAngle;
    double previous = 0;
    for (Tab& tab : tabs) {
        toValue = toValue - previous - tab.halfAperture - kGap;
        tab.angle = toValue;
        previous = tab.halfAperture;
    }
}

} // namespace

std::vector<Tab> runningLayout(const std::vector<quint64>& tags)
{
    std::vector<Tab> tabs;
    if (tags.empty())
        return tabs;
    const double n = static_cast<double>(tags.size());
    const double a = (kTopAngle - kGap * n / 2) / n;
    for (quint64 tag : tags)
        tabs.push_back({tag, a, kRunningThickness, 0});
    placeFromTop(tabs);
    return tabs;
}

std::vector<Tab> finalLayout(std::vector<std::pair<quint64, quint64>> sizes)
{
    std::vector<Tab> tabs;
    if (sizes.size() < 2)
        return tabs;
    std::sort(sizes.begin(), sizes.end());
    const std::size_t m = sizes.size();

    quint64 largest = 0;
    quint64 smallest = std::numeric_limits<quint64>::max();
    double totalLog = 0;
    for (auto& [tag, size] : sizes) {
        size = std::max<quint64>(size, 1);
        largest = std::max(largest, size);
        smallest = std::min(smallest, size);
        totalLog += std::log10(static_cast<double>(size));
    }
    const double available = kTopAngle - kGap * static_cast<double>(m - 1) / 2;

    // Widths by the logarithm of the bytes; all single bytes share equally.
    std::vector<double> a(m, available / static_cast<double>(m));
    if (totalLog > 0) {
        for (std::size_t i = 0; i < m; ++i)
            a[i] = available * std::log10(static_cast<double>(sizes[i].second)) / totalLog;
    }
    // Tabs below the minimum take it; the others share what is left in
    // proportion, until no tab is below.
    const double floorA = std::min(kMinHalfAperture, available / static_cast<double>(m));
    std::vector<bool> fixed(m, false);
    for (std::size_t round = 0; round < m; ++round) {
        double fixedSum = 0, freeSum = 0;
        bool changed = false;
        for (std::size_t i = 0; i < m; ++i) {
            if (!fixed[i] && a[i] < floorA) {
                fixed[i] = true;
                changed = true;
            }
            if (fixed[i])
                fixedSum += floorA;
            else
                freeSum += a[i];
        }
        if (!changed)
            break;
        const double left = available - fixedSum;
        for (std::size_t i = 0; i < m; ++i) {
            if (fixed[i])
                a[i] = floorA;
            else if (freeSum > 0)
                a[i] = a[i] * left / freeSum;
        }
    }

    const double ratio = static_cast<double>(largest) / static_cast<double>(smallest);
    const double logRatio = std::log10(ratio);
    for (std::size_t i = 0; i < m; ++i) {
        double h = kMaxThickness;
        // All sizes equal: no ratio to spread over, every tab at full thickness.
        if (logRatio > 0) {
            const quint64 quotient = sizes[i].second / smallest;
            h = std::log10(static_cast<double>(quotient)) / logRatio * (kMaxThickness - kMinThickness) + kMinThickness;
            h = std::clamp(h, kMinThickness, kMaxThickness);
        }
        tabs.push_back({sizes[i].first, a[i], h, 0});
    }
    placeFromTop(tabs);
    return tabs;
}

double strokeStart(double halfAperture, double thickness)
{
    const double r1 = kInnerRadius;
    const double r2 = kInnerRadius + thickness;
    return (2 * halfAperture * r1) / (2 * thickness + 2 * halfAperture * (r2 + r1)) + 0.00001;
}

QPointF polar(QPointF centre, double radius, double angle)
{
    return {centre.x() + radius * std::cos(angle), centre.y() + radius * std::sin(angle)};
}

QPointF iconCentre(QPointF centre, const Tab& tab)
{
    const double phi = tab.halfAperture - 0.05;
    const double r = (tab.thickness / 2 - kIconSide / 2) + 1 + kInnerRadius + kIconSide / 2;
    // Clamped into the tab so a narrow tab still holds its icon's centre.
    const double along = std::max(phi, 0.0);
    return polar(centre, r, tab.angle + along);
}

double uprightDegrees(double angle)
{
    // Along the ring clockwise is "forward" on the upper half; on the lower
    // half that direction runs right to left, so the line turns round.
    const double clockwise = angle * 180.0 / kPi - 90.0;
    double degrees = std::remainder(clockwise, 360.0);
    if (degrees < -90.0 || degrees > 90.0)
        degrees = std::remainder(degrees + 180.0, 360.0);
    return degrees;
}

TextPlacement sizeTextPlacement(QPointF centre, const Tab& tab)
{
    const double mid = kInnerRadius + tab.thickness / 2;
    // The icon takes the counter-clockwise end.
    const double from = tab.angle + tab.halfAperture - 0.1;
    const double to = tab.angle - tab.halfAperture;
    const double middle = (from + to) / 2;
    return {polar(centre, mid, middle), uprightDegrees(middle), std::max((from - to) * mid - 6, 0.0)};
}

double fittingPointSize(double largest, double smallest, double length, const std::function<double(double)>& widthAt)
{
    for (double size = largest; size >= smallest - 1e-9; size -= 0.5)
        if (widthAt(size) <= length)
            return size;
    return 0;
}

QRectF enlargedWindowFrame(const QRectF& frame, bool enlarge)
{
    const double sign = enlarge ? 1 : -1;
    return {frame.x(), frame.y(), frame.width() + sign * kEnlargeWidth, frame.height() + sign * kEnlargeHeight};
}

QPointF windowDragStep(QPointF topLeft, QPointF delta, double availableTop)
{
    const QPointF moved = topLeft + delta;
    if (moved.y() < availableTop)
        return topLeft;
    return moved;
}

QPointF besideOnRim(QPointF windowCentre, QPointF besideCentre, double besideSide, double side, double gap)
{
    const QPointF from = besideCentre - windowCentre;
    const double radius = std::hypot(from.x(), from.y());
    const double distance = (besideSide + side) / 2 + gap;
    if (radius <= 0 || distance >= 2 * radius)
        return besideCentre + QPointF(distance, 0);
    // y down: towards the top of the circle is a growing angle on the left.
    const double angle = std::atan2(from.y(), from.x()) + 2 * std::asin(distance / (2 * radius));
    return windowCentre + QPointF(radius * std::cos(angle), radius * std::sin(angle));
}

} // namespace KZProgressRingGeometry
