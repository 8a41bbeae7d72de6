#include "result/window/ui/KZResultGroupTableRowView.h"

#include <QLinearGradient>
#include <QPainter>

namespace {

QColor rgb(double r, double g, double b)
{
    return QColor::fromRgbF(float(r), float(g), float(b));
}

QColor blend(const QColor& a, const QColor& b, double t)
{
    return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * t),
                            float(a.greenF() + (b.greenF() - a.greenF()) * t),
                            float(a.blueF() + (b.blueF() - a.blueF()) * t));
}

QLinearGradient verticalGradient(const QRect& r, const QColor& top, const QColor& bottom)
{
    QLinearGradient gradient(r.topLeft(), r.bottomLeft());
    gradient.setColorAt(0.0, top);
    gradient.setColorAt(0.5, blend(top, bottom, 0.5));
    gradient.setColorAt(1.0, bottom);
    return gradient;
}

} // namespace

QColor KZResultGroupTableRowView::strokeColour()
{
    return rgb(0.628, 0.651, 0.683);
}

void KZResultGroupTableRowView::drawBackground(QPainter* painter, const QRect& r, bool selected, int style)
{
    if (selected) {
        if (style == 1)
            painter->fillRect(r, verticalGradient(r, rgb(0.715, 0.741, 0.766), rgb(0.678, 0.701, 0.733)));
        else
            painter->fillRect(r, rgb(0.796, 0.796, 0.796));
    } else {
        const QColor c1 = rgb(0.888, 0.911, 0.943);
        const QColor c2 = rgb(0.858, 0.881, 0.913);
        painter->fillRect(r, verticalGradient(r, c1, c2));
    }
    painter->setPen(QPen(strokeColour(), 2.0));
    painter->drawLine(QPointF(r.left(), r.top()), QPointF(r.right() + 1, r.top()));
    painter->drawLine(QPointF(r.left(), r.bottom() + 1), QPointF(r.right() + 1, r.bottom() + 1));
}
