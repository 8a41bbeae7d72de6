#include "app/progress/ui/KZProgressCloseButton.h"

#include <QPainter>

KZProgressCloseButton::KZProgressCloseButton(QWidget* parent)
    : QAbstractButton(parent)
{
    setObjectName(QStringLiteral("progressCloseButton"));
    setFixedSize(16, 16);
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::ArrowCursor);
}

void KZProgressCloseButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool enabled = isEnabled();
    QColor disc = enabled ? QColor(0x8a, 0x93, 0xa3) : QColor(0x5f, 0x66, 0x72, 120);
    if (enabled && (hovered_ || isDown()))
        disc = isDown() ? QColor(0xc0, 0x4a, 0x43) : QColor(0xe0, 0x5c, 0x53);
    painter.setPen(QPen(disc.darker(130), 1.0));
    painter.setBrush(disc);
    painter.drawEllipse(QRectF(0.5, 0.5, 15, 15));
    painter.setPen(QPen(enabled ? QColor(40, 40, 40, 210) : QColor(40, 40, 40, 90), 1.6, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(5, 5), QPointF(11, 11));
    painter.drawLine(QPointF(11, 5), QPointF(5, 11));
}

void KZProgressCloseButton::enterEvent(QEnterEvent* event)
{
    hovered_ = true;
    update();
    QAbstractButton::enterEvent(event);
}

void KZProgressCloseButton::leaveEvent(QEvent* event)
{
    hovered_ = false;
    update();
    QAbstractButton::leaveEvent(event);
}
