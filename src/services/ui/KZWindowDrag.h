#pragma once

#include <QPoint>
#include <QPointF>
#include <QPointer>

class QMouseEvent;
class QWidget;

// Moves a window without a title bar by a drag on its background. The move
// begins only once the pointer has travelled the drag distance with the
// left button held, and it ends with the release: a click, however short,
// leaves the window where it is. The window moves itself instead of
// handing the move to the window manager, whose move, asked for at the
// press, starts after a quick release has already happened and then
// follows the pointer until the next click. Main thread only.
class KZWindowDrag {
public:
    // Each answers whether it took the event. `window` is the top-level
    // window to move; `event` may come to any widget inside it.
    bool press(QWidget* window, const QMouseEvent& event);
    bool move(const QMouseEvent& event);
    bool release(const QMouseEvent& event);
    // Forgets a press whose release will not come (the window went away).
    void cancel();

    bool isPressed() const { return !window_.isNull(); }
    bool isMoving() const { return moving_; }

private:
    QPointer<QWidget> window_;
    QPointF pressedAt_;
    QPoint windowAt_;
    bool moving_ = false;
};
