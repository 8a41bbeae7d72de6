#pragma once

#include <QPainterPath>
#include <QPointF>
#include <QRectF>

#include <array>

// The search window's shapes and sizes as pure functions, so the widgets
// only paint and place what these answer. Every rectangle and point here is
// in the y-up frame of the view it belongs to (origin bottom-left); the
// widgets flip once when they paint.
namespace KZSearchGeometry {

// ---- The add button ----
inline constexpr double largeSide = 96.0;
inline constexpr double smallSide = 24.0;
inline constexpr int zoomSteps = 14;
// Hover zoom factors, 1.00 up to 1.39 by 0.03.
const std::array<double, zoomSteps>& zoomTable();

enum class MoveKind { Drop, Panel, Reset };

// The side of the button at progress p of the first-item move (`first`) or
// of its reverse.
double addButtonSide(bool first, double p);
// How far the button travels up over the whole move.
double addButtonTravel(MoveKind kind);
// Stroke width of the plus sign at progress p.
int addButtonLineWidth(bool first, double p);
// The frame at progress p: the centre keeps the x of `current`, the origin
// starts at `startY` and moves by p times the travel.
QRectF addButtonFrame(bool first, double p, MoveKind kind, double startY, const QRectF& current);
// The hover area: 64 wide in the large form, 32 in the small one, centred.
QRectF addButtonHoverRect(const QSizeF& viewSize, bool firstItemsWasAdded);
// The plus sign of a button of height h, about its own centre (0, 0); the
// painter scales it by the hover zoom.
QPainterPath plusSignPath(double h);

// ---- The drop area behind the tiles ----
// The lower part of the round window with a dome for the small add button.
// `frame` is the drop area's frame in its parent, `radius` the dome's radius
// (0 to 48), `addedItems` the items being added. Empty when the area is too
// low for the window's curve.
QPainterPath dropAreaShape(const QRectF& frame, double radius, int addedItems);
// The separate line drawn at the area's bottom once items are being added.
QPainterPath dropAreaBaseLine(const QRectF& frame, int addedItems);

// ---- The row of tiles ----
// Width of the tiles' container: tiles plus 2 for one or two tiles, the
// available width less 36 from three on.
double tileRowWidth(double tileWidth, int tiles, double outerWidth);
// The close button's square at the icon's top-left corner (y-up icon frame).
QRectF closeButtonRect(const QRectF& iconFrame);

// ---- The exclusion popover ----
// The 4 x 4 anchor inside a tile of the given size (y-up).
QRectF popoverAnchor(const QSizeF& tileSize);

} // namespace KZSearchGeometry
