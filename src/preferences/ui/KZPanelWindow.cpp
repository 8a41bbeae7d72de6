#include "preferences/ui/KZPanelWindow.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QWindow>

namespace {

// The round close button of a window without a title bar.
class KZPanelCloseButton : public QAbstractButton {
public:
    explicit KZPanelCloseButton(QWidget* parent) : QAbstractButton(parent)
    {
        setFixedSize(14, 14);
        setCursor(Qt::ArrowCursor);
        setFocusPolicy(Qt::NoFocus);
        setAttribute(Qt::WA_Hover);
        setToolTip(QObject::tr("Close"));
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF disc = QRectF(rect()).adjusted(1, 1, -1, -1);
        p.setPen(QPen(QColor(0xd0, 0x40, 0x38), 0.8));
        p.setBrush(isDown() ? QColor(0xb8, 0x3c, 0x34) : QColor(0xff, 0x5f, 0x57));
        p.drawEllipse(disc);
        if (underMouse() || isDown()) {
            p.setPen(QPen(QColor(0x4d, 0x00, 0x00), 1.3, Qt::SolidLine, Qt::RoundCap));
            const QPointF c = disc.center();
            const qreal d = 3.0;
            p.drawLine(c + QPointF(-d, -d), c + QPointF(d, d));
            p.drawLine(c + QPointF(-d, d), c + QPointF(d, -d));
        }
    }
};

} // namespace

KZPanelWindow::KZPanelWindow(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint)
{
    setAttribute(Qt::WA_DeleteOnClose, false);
    closeButton_ = new KZPanelCloseButton(this);
    closeButton_->setObjectName(QStringLiteral("closeButton"));
    closeButton_->move(10, 10);
    connect(closeButton_, &QAbstractButton::clicked, this, &QWidget::close);
}

void KZPanelWindow::centerAndShow()
{
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen) {
        QRect frame = geometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    show();
    raise();
    activateWindow();
}

void KZPanelWindow::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    if (event->isAccepted() && !announcedClose_) {
        announcedClose_ = true;
        Q_EMIT windowWillClose();
    }
}

void KZPanelWindow::mousePressEvent(QMouseEvent* event)
{
    // A press that no control took may start a drag that moves the window,
    // as a title bar would.
    if (drag_.press(this, *event)) {
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void KZPanelWindow::mouseMoveEvent(QMouseEvent* event)
{
    if (drag_.move(*event)) {
        event->accept();
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void KZPanelWindow::mouseReleaseEvent(QMouseEvent* event)
{
    if (drag_.release(*event)) {
        event->accept();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void KZPanelWindow::hideEvent(QHideEvent* event)
{
    drag_.cancel();
    QWidget::hideEvent(event);
}

void KZPanelWindow::keyPressEvent(QKeyEvent* event)
{
    // Without a title bar the small close button is easy to miss; Escape
    // is the other way out a user tries.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        event->accept();
        return;
    }
    // Return does what it does in a dialog: the focused push button, else
    // the one drawn as the default. A plain window has no default button of
    // its own.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        // Only this window's own buttons: a dialog it parents (the unsent
        // mail shown by the very Return that reaches here) has its own.
        const auto ownButton = [this](QPushButton* button) {
            return button && button->window() == this && button->isVisible() && button->isEnabled();
        };
        auto* target = qobject_cast<QPushButton*>(focusWidget());
        if (!ownButton(target)) {
            target = nullptr;
            for (QPushButton* button : findChildren<QPushButton*>())
                if (button->isDefault() && ownButton(button))
                    target = button;
        }
        if (target) {
            target->click();
            event->accept();
            return;
        }
    }
    QWidget::keyPressEvent(event);
}

void KZPanelWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        Q_EMIT windowDidBecomeKey();
}

void KZPanelWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    closeButton_->raise();
}
