#include "app/progress/KZFakeTabView.h"

void KZFakeTabView::hoverTo(int tab)
{
    if (tab == hovered_)
        return;
    const int left = hovered_;
    hovered_ = tab;
    if (left >= 0)
        host_.hideTabInfoSoon();
    if (tab >= 0) {
        host_.bringTabToFront(tab);
        host_.showTabInfo(tab);
    }
}

void KZFakeTabView::mouseMove(int tab, QPointF screenPos)
{
    if (draggingWindow_) {
        host_.dragWindowTo(screenPos);
        return;
    }
    if (pressed_ >= 0) {
        // While a tab is held only its pressed look follows the pointer.
        const bool out = tab != pressed_;
        if (out != pressedAndOut_) {
            pressedAndOut_ = out;
            host_.setTabPressed(pressed_, !out);
        }
        return;
    }
    if (buttonDown_)
        return;
    hoverTo(tab);
}

void KZFakeTabView::mouseLeave()
{
    if (pressed_ >= 0 || draggingWindow_)
        return;
    hoverTo(-1);
}

void KZFakeTabView::mousePress(int tab, QPointF screenPos, bool searchRunning)
{
    buttonDown_ = true;
    if (tab < 0) {
        draggingWindow_ = true;
        host_.startWindowDrag(screenPos);
        return;
    }
    // During the search a tab has nothing to open; the release says so.
    if (searchRunning)
        return;
    pressed_ = tab;
    pressedAndOut_ = false;
    host_.setTabPressed(tab, true);
}

void KZFakeTabView::mouseRelease(int tab, bool searchRunning)
{
    buttonDown_ = false;
    if (draggingWindow_) {
        draggingWindow_ = false;
        hoverTo(tab);
        return;
    }
    const int pressed = pressed_;
    pressed_ = -1;
    pressedAndOut_ = false;
    if (pressed >= 0)
        host_.setTabPressed(pressed, false);
    if (searchRunning) {
        host_.beep();
        return;
    }
    if (pressed >= 0 && tab == pressed)
        host_.openTab(pressed);
    else
        hoverTo(tab);
}

void KZFakeTabView::reset()
{
    hovered_ = -1;
    pressed_ = -1;
    pressedAndOut_ = false;
}
