#include "services/ui/KZWindowDrag.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

bool KZWindowDrag::press(QWidget* window, const QMouseEvent& event)
{
    if (event.button() != Qt::LeftButton || !window)
        return false;
    window_ = window;
    pressedAt_ = event.globalPosition();
    windowAt_ = window->pos();
    moving_ = false;
    return true;
}

bool KZWindowDrag::move(const QMouseEvent& event)
{
    if (!window_)
        return false;
    // A release that never reached us (a grab taken elsewhere) ends the
    // press: the window never follows a pointer whose button is up.
    if (!(event.buttons() & Qt::LeftButton)) {
        cancel();
        return false;
    }
    const QPointF travelled = event.globalPosition() - pressedAt_;
    if (!moving_) {
        if (travelled.manhattanLength() < QApplication::startDragDistance())
            return true;
        moving_ = true;
        // A Wayland compositor places windows itself; while the button is
        // still held it takes the move over and ends it at the release.
        if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
            if (QWindow* handle = window_->windowHandle())
                handle->startSystemMove();
            cancel();
            return true;
        }
    }
    window_->move(windowAt_ + travelled.toPoint());
    return true;
}

bool KZWindowDrag::release(const QMouseEvent& event)
{
    if (!window_ || event.button() != Qt::LeftButton)
        return false;
    cancel();
    return true;
}

void KZWindowDrag::cancel()
{
    window_.clear();
    moving_ = false;
}
