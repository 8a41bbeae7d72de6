#pragma once

#include <QPainterPath>
#include <QRect>
#include <QRectF>

// Geometry of the welcome window's pages and of the flying icon, in points
// with the origin at the bottom left (y up). The widgets convert once, with
// KZFlippedRect, where they are placed.
namespace KZWelcomeGeometry {

// Height of the navigation strip under the pages and the gap above them.
inline constexpr double kNavHeight = 45.0;
inline constexpr double kTopGap = 20.0;
inline constexpr int kPageCount = 5;

// The first page, in a window of width W and height H.
QRectF firstPageFrame(double W, double H);
// Where every other page waits: just off the right edge, 10 points narrower.
QRectF parkingFrame(double W, double H);

enum Direction { Forward = 0, Back = 1 };

struct EndFrames {
    QRectF fromRect; // the outgoing page
    QRectF toRect;   // the incoming page
};
// End frames of a slide, both taken from the incoming page's current frame:
// it ends at the left edge; the outgoing page leaves to the left (forward)
// or to the right (back) with the incoming page's size. Any other direction
// leaves both pages where they are.
EndFrames endFrames(const QRectF& outgoing, const QRectF& incoming, int direction);

// The icon's flight in a view of width W and height H: out past the right
// edge, back to the top centre, out past the left edge, down to the centre.
QPainterPath animationPath(double W, double H);

// A y-up rectangle in a parent of the given height, in the y-down frame of
// the widgets (and back: the conversion is its own inverse).
QRectF flipped(const QRectF& r, double parentHeight);
QRect flippedRect(const QRectF& r, double parentHeight);

} // namespace KZWelcomeGeometry
