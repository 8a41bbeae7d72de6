#include "services/ui/KZFocusRing.h"

#include <QPainter>
#include <QPalette>
#include <QWidget>

namespace KZFocusRing {

QColor colour(const QWidget* widget)
{
    QColor ring = widget ? widget->palette().color(QPalette::Active, QPalette::Highlight) : QColor(48, 140, 198);
    // Some widgets make the highlight transparent to paint their own rows.
    ring.setAlpha(255);
    return ring;
}

void paint(QPainter& painter, const QRectF& rect, qreal radius, const QWidget* widget, qreal width)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(colour(widget), width);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const qreal inset = width / 2;
    painter.drawRoundedRect(rect.adjusted(inset, inset, -inset, -inset), radius, radius);
    painter.restore();
}

QString pushButtonRule(const QWidget* widget, int radius)
{
    return QStringLiteral(" QPushButton:focus { border: 2px solid %1; border-radius: %2px; }")
        .arg(colour(widget).name())
        .arg(radius);
}

} // namespace KZFocusRing
