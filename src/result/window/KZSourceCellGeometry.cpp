#include "result/window/KZSourceCellGeometry.h"

namespace KZSourceCellGeometry {

QPointF markMenuLocation(double checkButtonHeight, double arrowHeight)
{
    return {checkButtonHeight - kMenuShiftLeft, arrowHeight + kMenuRaise};
}

QPointF topDown(QPointF yUp, double viewHeight)
{
    return {yUp.x(), viewHeight - yUp.y()};
}

} // namespace KZSourceCellGeometry
