#pragma once

#include <QPointF>

// Where a sources-list row's mark menu opens, in the arrow button's own
// frame (origin at its top left, y down).
namespace KZSourceCellGeometry {

// The menu's first item stands this far left of the check button's
// height, so that the menu covers the row's check pill ...
inline constexpr double kMenuShiftLeft = 50.0;
// ... and its top this far below the arrow, as the group rows' mark menu
// opens below theirs.
inline constexpr double kMenuDrop = 4.0;

// The top left of the menu's first item.
QPointF markMenuLocation(double checkButtonHeight, double arrowHeight);

} // namespace KZSourceCellGeometry
