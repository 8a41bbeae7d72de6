#include "app/progress/ui/KZProgressCloseButton.h"

#include <QEvent>
#include <QPainter>

KZProgressCloseButton::KZProgressCloseButton(QWidget* parent)
    : QAbstractButton(parent)
{
    setObjectName(QStringLiteral("progressCloseButton"));
    setFixedSize(16, 16);
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::ArrowCursor);
}

KZProgressCloseButton::Look KZProgressCloseButton::look() const
{
    // An inactive window's button looks the same whether enabled or not.
    if (!isActiveWindow())
        return Look::WindowNotActive;
    if (!isEnabled())
        return Look::Disabled;
    if (isDown())
        return Look::Pressed;
    return hovered_ ? Look::Hover : Look::Plain;
}

void KZProgressCloseButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const Look shown = look();
    const bool pale = shown == Look::Disabled || shown == Look::WindowNotActive;
    QColor disc = pale ? QColor(0x5f, 0x66, 0x72, 120) : QColor(0x8a, 0x93, 0xa3);
    if (shown == Look::Hover)
        disc = QColor(0xe0, 0x5c, 0x53);
    else if (shown == Look::Pressed)
        disc = QColor(0xc0, 0x4a, 0x43);
    painter.setPen(QPen(disc.darker(130), 1.0));
    painter.setBrush(disc);
    painter.drawEllipse(QRectF(0.5, 0.5, 15, 15));
    painter.setPen(QPen(pale ? QColor(40, 40, 40, 90) : QColor(40, 40, 40, 210), 1.6, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(5, 5), QPointF(11, 11));
    painter.drawLine(QPointF(11, 5), QPointF(5, 11));
}

void KZProgressCloseButton::enterEvent(QEnterEvent* event)
{
    // The pointer over the button of a window in the background changes
    // nothing: the look is the inactive one until the window comes forward.
    hovered_ = isActiveWindow();
    update();
    QAbstractButton::enterEvent(event);
}

void KZProgressCloseButton::leaveEvent(QEvent* event)
{
    hovered_ = false;
    update();
    QAbstractButton::leaveEvent(event);
}

bool KZProgressCloseButton::event(QEvent* event)
{
    // The window passes its activation down to its children as these two
    // (ActivationChange reaches the window alone). Leaving the front or
    // coming back to it, the button starts from its plain look, even with
    // the pointer resting on it; the next entry of the pointer lights it.
    if (event->type() == QEvent::WindowActivate || event->type() == QEvent::WindowDeactivate) {
        hovered_ = false;
        update();
    }
    return QAbstractButton::event(event);
}
