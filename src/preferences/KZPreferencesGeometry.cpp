#include "preferences/KZPreferencesGeometry.h"

#include <algorithm>

namespace KZPreferencesGeometry {

QRectF paneFrameYUp(const QRectF& original, double toolbarHeight, const QSizeF& pane)
{
    const double x = original.x() + original.width() - pane.width();
    const double y = original.y() + original.height() - (toolbarHeight + pane.height());
    return {x, y, pane.width(), toolbarHeight + pane.height()};
}

QRect paneFrame(const QRect& current, const QSize& size, const QRect& available)
{
    // QRect::right() is one short of x + width; the corner is x + width.
    const int oldRight = current.x() + current.width();
    QRect frame(oldRight - size.width(), current.y(), size.width(), size.height());
    if (available.isEmpty())
        return frame;
    frame.setWidth(std::min(frame.width(), available.width()));
    frame.setHeight(std::min(frame.height(), available.height()));
    const int availableRight = available.x() + available.width();
    const int availableBottom = available.y() + available.height();
    frame.moveLeft(std::clamp(frame.x(), available.x(), availableRight - frame.width()));
    frame.moveTop(std::clamp(frame.y(), available.y(), availableBottom - frame.height()));
    return frame;
}

} // namespace KZPreferencesGeometry
