#include "services/ui/KZWindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace KZWindowPlacement {

QRect fitted(const QRect& geometry, const QMargins& frame, const QRect& available, const QSize& minimum)
{
    if (available.isEmpty())
        return geometry;
    const int roomW = available.width() - frame.left() - frame.right();
    const int roomH = available.height() - frame.top() - frame.bottom();
    const int w = std::max(std::min(geometry.width(), roomW), minimum.width());
    const int h = std::max(std::min(geometry.height(), roomH), minimum.height());
    const int minX = available.left() + frame.left();
    const int minY = available.top() + frame.top();
    // x + w + frame.right() must not pass the area's right edge; a window
    // wider than the area keeps its left side (and its title) in view.
    const int maxX = std::max(minX, available.left() + available.width() - frame.right() - w);
    const int maxY = std::max(minY, available.top() + available.height() - frame.bottom() - h);
    return {std::clamp(geometry.x(), minX, maxX), std::clamp(geometry.y(), minY, maxY), w, h};
}

QRect centred(const QSize& size, const QMargins& frame, const QRect& available, const QSize& minimum)
{
    const int outerW = size.width() + frame.left() + frame.right();
    const int outerH = size.height() + frame.top() + frame.bottom();
    const QRect at(available.left() + (available.width() - outerW) / 2 + frame.left(),
                   available.top() + (available.height() - outerH) / 2 + frame.top(), size.width(), size.height());
    return fitted(at, frame, available, minimum);
}

QMargins frameOf(const QWidget* window)
{
    if (!window || window->windowFlags().testFlag(Qt::FramelessWindowHint) ||
        window->windowFlags().testFlag(Qt::X11BypassWindowManagerHint))
        return {};
    const QRect inner = window->geometry();
    const QRect outer = window->frameGeometry();
    if (window->testAttribute(Qt::WA_WState_Created) && outer != inner)
        return {inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                outer.bottom() - inner.bottom()};
    return {kEstimatedBorder, kEstimatedTitleBar, kEstimatedBorder, kEstimatedBorder};
}

QRect availableFor(const QWidget* window)
{
    QScreen* screen = window ? window->screen() : nullptr;
    if (window) {
        // The screen under the window's middle, when it stands on one.
        if (QScreen* under = QGuiApplication::screenAt(window->geometry().center()))
            screen = under;
    }
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

void centre(QWidget* window)
{
    if (!window)
        return;
    window->setGeometry(centred(window->size(), frameOf(window), availableFor(window), window->minimumSize()));
}

void keepOnScreen(QWidget* window)
{
    if (!window)
        return;
    const QRect now = window->geometry();
    const QRect inside = fitted(now, frameOf(window), availableFor(window), window->minimumSize());
    if (inside != now)
        window->setGeometry(inside);
}

} // namespace KZWindowPlacement
