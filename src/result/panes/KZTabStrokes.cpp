#include "result/panes/KZTabStrokes.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace KZTabStrokes {

namespace {

double nonNegative(double v)
{
    return std::isnan(v) ? 0.0 : std::max(0.0, v);
}

double unitFraction(double v)
{
    return std::isnan(v) ? 0.0 : std::clamp(v, 0.0, 1.0);
}

} // namespace

double fraction(double a, double b)
{
    return b > 0 ? a / b : 0.0;
}

std::vector<QLineF> rectangleStrokeSegments(const QRectF& rect, double strokeStart, double strokeEnd)
{
    const double w = nonNegative(rect.width());
    const double h = nonNegative(rect.height());
    const double perimeter = 2 * w + 2 * h;
    const double start = unitFraction(strokeStart) * perimeter;
    const double end = unitFraction(strokeEnd) * perimeter;
    std::vector<QLineF> out;
    if (perimeter <= 0 || end <= start)
        return out;

    const double x0 = rect.x(), y0 = rect.y(), x1 = x0 + w, y1 = y0 + h;
    const std::array<QLineF, 4> sides = {QLineF(x0, y0, x1, y0), QLineF(x1, y0, x1, y1), QLineF(x1, y1, x0, y1),
                                         QLineF(x0, y1, x0, y0)};
    double offset = 0;
    for (const QLineF& side : sides) {
        const double length = side.length();
        const double from = std::max(start, offset);
        const double to = std::min(end, offset + length);
        if (to > from && length > 0)
            out.emplace_back(side.pointAt((from - offset) / length), side.pointAt((to - offset) / length));
        offset += length;
    }
    return out;
}

std::vector<QLineF> layerSegments(const Layer& layer)
{
    std::vector<QLineF> out = rectangleStrokeSegments(layer.path, layer.strokeStart, layer.strokeEnd);
    for (QLineF& line : out)
        line.translate(layer.frame.topLeft());
    return out;
}

std::vector<QLineF> flipToQt(const std::vector<QLineF>& segments, double height)
{
    std::vector<QLineF> out;
    out.reserve(segments.size());
    for (const QLineF& l : segments)
        out.emplace_back(l.x1(), height - l.y1(), l.x2(), height - l.y2());
    return out;
}

Layer tabOutline(double width, double height)
{
    const double w = nonNegative(width), h = nonNegative(height);
    // The tiny offsets keep the bottom's two end points out of the stroke.
    return {QRectF(0, 0, w, h), QRectF(0, 0, w, h), fraction(w, 2 * w + 2 * h) + 0.00001, 0.99999};
}

HorizontalBar horizontalBar(double width, double height, double tabX, double tabWidth)
{
    const double W = nonNegative(width), H = nonNegative(height);
    HorizontalBar bar;
    bar.bar = {QRectF(0, 0, W, H), QRectF(0, 0, W, H), 0.0, 1.0};

    const double a = nonNegative(tabX - 1);
    bar.left = {QRectF(1, 0, a, H), QRectF(0, 0, a, H), fraction(a + H, 2 * H + 2 * a), 1.0};

    const double tabRight = tabX + nonNegative(tabWidth);
    const double b = nonNegative(W - tabRight - 1);
    bar.right = {QRectF(tabRight, 0, b, H), QRectF(0, 0, b, H), fraction(b, 2 * H + 2 * b),
                 1.0 - fraction(H, 2 * H + 2 * b)};

    const double c = nonNegative(W - 4);
    bar.bottom = {QRectF(4, 1, c, H), QRectF(0, 0, c, H), 0.0, fraction(c, 2 * H + 2 * c)};
    return bar;
}

VerticalBar verticalBar(double height)
{
    const double W = 4.0, H = nonNegative(height);
    VerticalBar bar;
    bar.bar = {QRectF(0, 0, W, H), QRectF(0, 0, W, H), fraction(2 * W + H, 2 * W + 2 * H), 1.0};
    bar.stroke = {QRectF(1, 0, 4, H + 1), QRectF(0, 0, 4, H), 0.0,
                  1.0 - fraction(H + 1 + 4, 2 * (H + 1) + 8)};
    return bar;
}

} // namespace KZTabStrokes
