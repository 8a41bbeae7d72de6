#pragma once

#include <QStringView>

#include <functional>

// Whether the window manager composites this program's screen, so that a
// window's opacity shows instead of the window standing there whole. On X11
// a compositing manager owns the selection _NET_WM_CM_S<screen>; it is asked
// through the connection Qt already holds, never through one of our own,
// and on any other platform (offscreen, Wayland, where a window's opacity
// is not honoured) nothing is asked and the answer is no.
class KZCompositor {
public:
    // Asked afresh each time: a compositor may start or stop while the
    // program runs, and the question is one round trip.
    static bool composites();
    // The decision itself: `askSelectionOwner` is called only on the X11
    // platform ("xcb").
    static bool composites(QStringView platformName, const std::function<bool()>& askSelectionOwner);

    // Tests: what stands for the X server's answer (empty: the server).
    static void setSelectionOwnerQuery(std::function<bool()> query);
};
