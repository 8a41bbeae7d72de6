#pragma once

#include <QPointF>
#include <QRectF>
#include <QtGlobal>

#include <functional>
#include <utility>
#include <vector>

// Geometry of the ring of file-type tabs around the progress disc, in points
// with the origin at the bottom left (y up) and angles in radians counter-
// clockwise from the positive x axis, about the ring's centre. The ring
// widget converts once when it paints.
namespace KZProgressRingGeometry {

inline constexpr double kPi = 3.14159265358979323846;
inline constexpr double kInnerRadius = 254.5;
inline constexpr double kTopAngle = kPi / 3; // the ring spans +60° down to −60°
inline constexpr double kGap = 0.02;
inline constexpr double kRunningThickness = 26;
inline constexpr double kMinThickness = 22;
inline constexpr double kMaxThickness = 40;
// Even the smallest type keeps a tab that a pointer can find.
inline constexpr double kMinHalfAperture = 0.03;
inline constexpr double kIconSide = 15;

struct Tab {
    quint64 tag = 0;
    double halfAperture = 0; // a
    double thickness = 0;    // h
    double angle = 0;        // θ, the tab's centre line
};

// The running ring: n equal tabs in the given order, the first at the top.
std::vector<Tab> runningLayout(const std::vector<quint64>& tags);

// The final ring: (tag, bytes found) in tag order. Widths follow log10 of
// the bytes, thickness the ratio of the bytes to the smallest. Every size is
// taken as at least 1 byte, so empty types stay visible and finite. One type
// alone makes no final ring (empty result).
std::vector<Tab> finalLayout(std::vector<std::pair<quint64, quint64>> sizes);

// The share of the outline that the inner arc takes; the outline is stroked
// from there to the end, so the edge against the disc stays unstroked.
double strokeStart(double halfAperture, double thickness);

// A point at `radius` and `angle` from `centre`.
QPointF polar(QPointF centre, double radius, double angle);

// Where the tab's icon sits: in the middle of its thickness, near its
// counter-clockwise end. Answers the icon's centre.
QPointF iconCentre(QPointF centre, const Tab& tab);
// Where the size text runs: the middle of the tab along its centre line,
// from this radius outwards.
inline constexpr double kTextRadius = kInnerRadius + 4;

// The angle, in degrees counter-clockwise in the y-up frame, of a line of
// text or an icon's upright axis laid along the ring at `angle`: along the
// tab, turned half a circle where it would read upside down, so it always
// reads from left to right.
double uprightDegrees(double angle);

// The size text of a tab: centred on `centre` (y up) at the tab's mid
// thickness, between the icon and the clockwise end, at most `length` long,
// its baseline at `degrees` (as uprightDegrees).
struct TextPlacement {
    QPointF centre;
    double degrees = 0;
    double length = 0;
};
TextPlacement sizeTextPlacement(QPointF centre, const Tab& tab);

// The largest point size, from `largest` down to `smallest` by half points,
// at which `widthAt` of the size fits `length`; 0 when none does: a size cut
// short ("900 …") would read as another number.
double fittingPointSize(double largest, double smallest, double length, const std::function<double(double)>& widthAt);

// The window grows by this much to the right and at the bottom while the
// ring is shown, so the tabs fit in it; its top-left corner stays.
inline constexpr double kEnlargeWidth = 50;
inline constexpr double kEnlargeHeight = 10;
QRectF enlargedWindowFrame(const QRectF& frameYDown, bool enlarge);

// A window drag step in screen coordinates (y down): answers the new top-left
// corner, or the old one when the step would lift the top edge above the
// top of the available screen area (that step's movement is dropped).
QPointF windowDragStep(QPointF topLeft, QPointF delta, double availableTop);

// The centre of a round button of `side` beside another one of
// `besideSide` centred on `besideCentre`, on the same circle about
// `windowCentre` and further round towards the top (y down), `gap` apart
// edge to edge.
QPointF besideOnRim(QPointF windowCentre, QPointF besideCentre, double besideSide, double side, double gap);

} // namespace KZProgressRingGeometry
