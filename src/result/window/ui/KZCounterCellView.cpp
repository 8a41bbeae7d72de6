#include "result/window/ui/KZCounterCellView.h"

#include "result/window/KZCellFormatting.h"

#include <QPainter>

using KZCellFormatting::grey;

void KZCounterCellView::draw(QPainter* painter, const QRect& checkImage, const QRect& popup, bool mouseIsDown,
                             bool isRemoving)
{
    // A gradient band between two lines, darker while pressed.
    const double alpha = isRemoving ? 0.5 : 1.0;
    const QRectF band(checkImage.right() + 1, checkImage.top(), popup.left() - (checkImage.right() + 1) + 3,
                      checkImage.height());
    QLinearGradient gradient(band.topLeft(), band.bottomLeft());
    gradient.setColorAt(0.0, grey(mouseIsDown ? 0.908 : 1.0, alpha));
    gradient.setColorAt(1.0, grey(mouseIsDown ? 0.822 : 0.956, alpha));
    painter->fillRect(band, gradient);
    const QColor line = grey(0.753, alpha);
    painter->setPen(QPen(line, 2.0));
    painter->drawLine(band.topLeft(), band.topRight());
    painter->drawLine(band.bottomLeft(), band.bottomRight());
    if (mouseIsDown) {
        painter->setPen(QPen(QColor(0, 0, 0, int(90 * alpha)), 2.0));
        painter->drawLine(QPointF(band.left() + 1.5, band.top() + 1.0),
                          QPointF(band.left() + 1.5, band.bottom() - 1.0));
        painter->setPen(QPen(line, 1.0));
        painter->drawLine(QPointF(band.left(), band.top() + 1.0), QPointF(band.left(), band.bottom() - 1.0));
    }
    // The rounded ends.
    painter->setPen(QPen(line, 1.0));
    painter->setBrush(grey(mouseIsDown ? 0.86 : 0.97, alpha));
    painter->drawChord(QRectF(checkImage).adjusted(0.5, -0.5, checkImage.width() - 0.5, 0.5), 90 * 16, 180 * 16);
    painter->drawChord(QRectF(popup).adjusted(-popup.width() + 0.5, -0.5, -0.5, 0.5), -90 * 16, 180 * 16);
}
