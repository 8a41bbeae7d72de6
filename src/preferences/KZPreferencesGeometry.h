#pragma once

#include <QRect>
#include <QRectF>
#include <QSize>
#include <QSizeF>

// Where the preferences window goes when another pane comes to the front:
// it takes the pane's size plus the toolbar strip and keeps its top-right
// corner where it was.
namespace KZPreferencesGeometry {

// In the y-up frame (origin at the bottom left of the screen, points):
// `original` is the window frame the switch starts from, `toolbarHeight` the
// strip above the pane and `pane` the pane's size.
QRectF paneFrameYUp(const QRectF& original, double toolbarHeight, const QSizeF& pane);

// The same rule in Qt's y-down frame for a window whose frame is `current`
// and whose new frame size is `size`: x = old right - new width, y
// unchanged. The result is then moved (never resized, unless it is larger
// than the screen) so that it lies inside `available`, the screen's usable
// area; an empty `available` leaves it where the rule put it.
QRect paneFrame(const QRect& current, const QSize& size, const QRect& available);

} // namespace KZPreferencesGeometry
