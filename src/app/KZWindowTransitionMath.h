#pragma once

#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QSizeF>
#include <QTransform>

// Per-frame arithmetic of the two window transitions (the flip between the
// search and progress windows, the zoom between the progress and result
// windows). Pure functions, so that every number can be checked without a
// screen; the animators only sample them.
namespace KZTransitionMath {

// ---- Timing curves ----

// Cubic Bézier timing through (0,0), (x1,y1), (x2,y2), (1,1): the eased
// progress at time fraction t (clamped to [0, 1]).
double cubicBezier(double x1, double y1, double x2, double y2, double t);
double easeInEaseOut(double t); // 0.42, 0, 0.58, 1
double easeIn(double t);        // 0.42, 0, 1, 1
double easeOut(double t);       // 0, 0, 0.58, 1

// ---- Flip ----

inline constexpr double kFlipSeconds = 1.0;
inline constexpr double kFlipSwell = 1.02;
// The distance of the eye: the perspective term m34 is -1/kFlipEyeDistance.
inline constexpr double kFlipEyeDistance = 1500.0;
// The overlay leaves room for the turning, swelling snapshots.
inline constexpr double kFlipOverlayFactor = 3.04;

enum class FlipAxis { Vertical, Horizontal };

struct FlipAngles {
    FlipAxis axis;
    double from;
    double to;
};

// Direction codes 0 to 3 as callers pass them; any other code behaves as 1.
// `turning` picks the leaving window's angles, else the incoming window's.
FlipAngles flipAngles(unsigned direction, bool turning);

// The swell at eased progress u: up to kFlipSwell at half time and back.
double flipSwell(double u);

// The projective transform that draws a snapshot centred on the origin
// (drawn at -w/2, -h/2) turned by `angle` radians about `axis`, scaled by
// `scale`, then placed with its centre at `centre`. Built by hand because
// Qt's own axis rotation fixes the eye distance at 1024.
QTransform flipProjection(FlipAxis axis, double angle, double scale, QPointF centre);

// A snapshot turned past a quarter turn shows its back, which is not drawn.
bool flipFaceVisible(double angle);

// The overlay rectangle: 3.04 times the larger of the two windows' sizes,
// centred on the current window (frame-independent).
QRectF flipOverlayRect(const QRectF& current, const QRectF& next);

// Where the incoming window goes, in Qt's y-down frame: its own size,
// centred horizontally on the current window, top edges level.
QRectF flipIncomingRect(const QRectF& current, const QSizeF& nextSize);

// ---- Zoom ----

inline constexpr double kZoomDiscSeconds = 0.3;
inline constexpr double kZoomDiscBeginWhenClosing = 0.001;
inline constexpr double kZoomDiscGrowth = 70.0;
inline constexpr double kZoomWideWindow = 1100.0;
inline constexpr double kZoomMargin = 10.0;

// The size animation's length: 0.2 s for a result window up to 1100 points
// wide, 0.4 s for a wider one.
double zoomSizeSeconds(double resultWidth);

// Distances the grown window keeps from each screen edge: 10 points beyond
// whatever panels take from that edge (the difference between the screen's
// geometry and its available geometry, on any side).
struct ScreenMargins {
    double top = kZoomMargin;
    double bottom = kZoomMargin;
    double left = kZoomMargin;
    double right = kZoomMargin;
    bool operator==(const ScreenMargins&) const = default;
};
ScreenMargins screenMargins(const QRect& geometry, const QRect& available);

// The shown window's size placed on the centre of the window that is left,
// each coordinate rounded up. Screen-relative, y-up.
QRectF zoomTarget(const QRectF& fromRect, const QSizeF& toSize);

// The anchor about which the result grows, so that it ends inside the
// margins. fromRect and target are screen-relative, y-up; the anchor is a
// unit point of the target (0.5, 0.5 = its centre).
QPointF zoomAnchor(const QRectF& fromRect, const QRectF& target, const QSizeF& screenSize,
                   const ScreenMargins& margins);

// The growing snapshot's rectangle at eased progress u: its size runs from
// fromRect's to target's and its anchor from the centre to `anchor`, about
// fromRect's centre, which stays put. y-up.
QRectF zoomGrowRect(const QRectF& fromRect, const QRectF& target, QPointF anchor, double u);

// The disc's rectangle at eased progress u, from `from` to `to` (the disc
// is the ellipse inscribed in it).
QRectF discRect(const QRectF& from, const QRectF& to, double u);

// The shadow a zooming window's snapshot casts when the window has one:
// black at half opacity, 10 points below it, blurred over 15 points.
inline constexpr double kSnapshotShadowOpacity = 0.5;
inline constexpr QPointF kSnapshotShadowOffset{0.0, -10.0}; // y up
inline constexpr double kSnapshotShadowRadius = 15.0;

// What the shadow of a snapshot at `snapshot` covers (y-up): the snapshot
// moved by the offset and grown by the blur radius on every side.
QRectF snapshotShadowRect(const QRectF& snapshot);

// ---- Reopened result ----

// The progress window takes the place of the window that showed a saved
// result being opened before the result comes up from it: its origin on
// that window's, this much lower. y-up.
inline constexpr double kReopenedProgressDrop = 10.0;
QRectF reopenedProgressRect(const QRectF& opening, const QSizeF& progressSize);
// Where the display composites, the window that showed the opening fades
// out while the progress window fades in, linearly, before the result
// comes up.
inline constexpr double kReopenedCrossFadeSeconds = 0.25;

// One conversion between the y-up screen-relative frame and Qt's y-down
// frame of a screen `screenHeight` high (the same in both directions).
QRectF flipY(const QRectF& rect, double screenHeight);

} // namespace KZTransitionMath

namespace KZTransitionMath {

// Every transition length is multiplied by this factor (tests shorten them).
void setDurationFactor(double factor);
double durationFactor();
// A transition held at this fraction of its time (negative: none), so that a
// frame in the middle can be photographed.
void setPauseAt(double fraction);
double pauseAt();

} // namespace KZTransitionMath
