#pragma once

#include <QLineF>
#include <QRectF>

#include <vector>

// The outlines of the selected tab and of its two bars. Each outline is a
// rectangle of which only some sides are drawn: the rectangle is walked from
// its lower-left corner counter-clockwise (bottom, right, top, left) and only
// the stretch between two fractions of its perimeter is stroked, so that the
// tab, open at the bottom, and its bars form one outlined shape.
//
// Everything here is y-up, in points, with the origin at the lower left of
// the view it belongs to; flipToQt() converts the result once for painting.
namespace KZTabStrokes {

// One stroked outline: where its rectangle lies in the view, the rectangle
// in its own coordinates (origin included), and the stretch drawn.
struct Layer {
    QRectF frame;
    QRectF path;
    double strokeStart = 0;
    double strokeEnd = 1;
};

// The drawn stretch of `rect` as straight segments, zero-length ones left
// out. Negative sizes count as zero and the fractions are clamped to 0...1,
// so a tab narrower than its neighbours' margins draws nothing odd.
std::vector<QLineF> rectangleStrokeSegments(const QRectF& rect, double strokeStart, double strokeEnd);
// The same for a layer, in its view's coordinates.
std::vector<QLineF> layerSegments(const Layer& layer);
// Segments in a view `height` high with y pointing down.
std::vector<QLineF> flipToQt(const std::vector<QLineF>& segments, double height);

// The tab's outline, W x H: the left side, the top and the right side.
Layer tabOutline(double width, double height);

struct HorizontalBar {
    Layer bar;    // the fill; no outline of its own
    Layer left;   // along the top from the tab's left side to x = 1, then down
    Layer right;  // up the right end, then along the top back to the tab's right side
    Layer bottom; // along the bottom from 4 points in to the right end
};
// A horizontal bar W x H under a tab at `tabX` of `tabWidth` (both in the
// bar's coordinates; zero when the tab is gone).
HorizontalBar horizontalBar(double width, double height, double tabX, double tabWidth);

struct VerticalBar {
    Layer bar;    // the fill, stroked on its left side only
    Layer stroke; // along its bottom and up its right side
};
VerticalBar verticalBar(double height);

// a / b, or 0 when b is not positive.
double fraction(double a, double b);

} // namespace KZTabStrokes
