#pragma once

#include <QPointF>

// The pointer over the ring of file-type tabs: hover, press, drag and
// release, decided from which tab (if any) holds the pointer. The tabs are
// arcs, so a point in a tab's bounding box but off its arc is no tab: a
// press there drags the window instead.
//
// The tabs' views overlap and take no pointer events, so this one invisible
// overlay serves every tab of the ring: a press/move/release state
// machine on the GUI thread. The ring widget feeds it the hit-tested tab
// index (-1 for none) and carries out what it asks.
class KZFakeTabView {
public:
    class Host {
    public:
        virtual ~Host() = default;
        // The hovered tab draws above its neighbours.
        virtual void bringTabToFront(int tab) = 0;
        // Ask for the tab's information ("updatefileTypeInfo").
        virtual void showTabInfo(int tab) = 0;
        // The information may go shortly ("installRemotion").
        virtual void hideTabInfoSoon() = 0;
        virtual void setTabPressed(int tab, bool pressed) = 0;
        // Open the result on this tab ("showResultWithTag").
        virtual void openTab(int tab) = 0;
        virtual void beep() = 0;
        // The window follows the pointer; `screenPos` in screen coordinates.
        virtual void startWindowDrag(QPointF screenPos) = 0;
        virtual void dragWindowTo(QPointF screenPos) = 0;
    };

    explicit KZFakeTabView(Host& host) : host_(host) {}

    // `searchRunning` is the process-wide search flag at the time of the event.
    void mouseMove(int tab, QPointF screenPos);
    void mouseLeave();
    void mousePress(int tab, QPointF screenPos, bool searchRunning);
    void mouseRelease(int tab, bool searchRunning);
    // The tabs were rebuilt: forget what pointed at the old ones.
    void reset();

    int hoveredTab() const { return hovered_; }
    int pressedTab() const { return pressed_; }
    bool pressedAndOut() const { return pressedAndOut_; }
    bool draggingWindow() const { return draggingWindow_; }

private:
    void hoverTo(int tab);

    Host& host_;
    int hovered_ = -1;
    int pressed_ = -1;
    bool pressedAndOut_ = false;
    bool draggingWindow_ = false;
    bool buttonDown_ = false;
};
