#pragma once

#include <QMargins>
#include <QRect>
#include <QSize>

class QWidget;

// Where a window may stand: always wholly inside the screen's usable area
// (panels excluded), so that its title bar can be grabbed. Rectangles are a
// window's own geometry (its contents); `frame` is what the window manager
// adds around it.
namespace KZWindowPlacement {

// The frame a decorated window gets before the window manager has told us
// (a title bar and thin borders); frameless windows have none.
inline constexpr int kEstimatedTitleBar = 32;
inline constexpr int kEstimatedBorder = 1;

// `geometry` moved (and, when larger than the area, shrunk, never below
// `minimum`) so that geometry plus frame lies inside `available`. A window
// too large even at its minimum keeps its title bar at the top-left.
QRect fitted(const QRect& geometry, const QMargins& frame, const QRect& available, const QSize& minimum = {});
// `size` centred in `available`, frame included, then fitted.
QRect centred(const QSize& size, const QMargins& frame, const QRect& available, const QSize& minimum = {});

// The window's frame as the window manager drew it, or the estimate before
// its first showing.
QMargins frameOf(const QWidget* window);
// The usable area of the screen the window is on (or will be on).
QRect availableFor(const QWidget* window);
// Puts a window that has not been placed yet in the middle of its screen.
void centre(QWidget* window);
// Keeps a window that is placed (saved or computed position) on screen.
void keepOnScreen(QWidget* window);

} // namespace KZWindowPlacement
