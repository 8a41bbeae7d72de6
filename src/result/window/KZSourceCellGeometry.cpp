#include "result/window/KZSourceCellGeometry.h"

namespace KZSourceCellGeometry {

QPointF markMenuLocation(double checkButtonHeight, double arrowHeight)
{
    return {checkButtonHeight - kMenuShiftLeft, arrowHeight + kMenuDrop};
}

} // namespace KZSourceCellGeometry
