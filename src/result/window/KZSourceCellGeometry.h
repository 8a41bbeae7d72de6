#pragma once

#include <QPointF>

// Where a sources-list row's mark menu opens, in the arrow button's own
// frame with the origin at its bottom left and y up, as the row's layout is
// drawn; the widget converts once with `topDown`.
namespace KZSourceCellGeometry {

// The menu's first item stands this far left of the check button's
// height, so that the menu covers the row's check pill ...
inline constexpr double kMenuShiftLeft = 50.0;
// ... and its top this far above the arrow.
inline constexpr double kMenuRaise = 4.0;

// The top left of the menu's first item, y up.
QPointF markMenuLocation(double checkButtonHeight, double arrowHeight);

// A y-up point of a view `viewHeight` high in Qt's y-down frame.
QPointF topDown(QPointF yUp, double viewHeight);

} // namespace KZSourceCellGeometry
