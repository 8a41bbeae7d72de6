#include "result/window/ui/KZPreviewSubviewView.h"

#include <QPainter>
#include <QPaintEvent>

void KZPreviewSubviewView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QRect r = rect();
    const QObjectList& kids = children();
    const QWidget* last = nullptr;
    for (auto it = kids.crbegin(); it != kids.crend() && !last; ++it)
        last = qobject_cast<const QWidget*>(*it);
    if (last && !last->isHidden()) {
        p.fillRect(r, Qt::white);
        p.setPen(QPen(QColor::fromRgbF(0.78f, 0.78f, 0.78f), 2));
        p.drawLine(QPointF(r.left(), r.top()), QPointF(r.right() + 1, r.top()));
        p.drawLine(QPointF(r.right() + 1, r.bottom() + 1), QPointF(r.left(), r.bottom() + 1));
    } else {
        p.fillRect(r, QColor::fromRgbF(0.945f, 0.949f, 0.952f));
    }
}
