#pragma once

#include <functional>

class QObject;
class QWidget;

// Hands the screen from one top-level window to another. With `fade`, `to`
// shows transparent over `from` and the two cross-fade linearly; without,
// `to` shows and `from` hides at once, as on a display that does not
// composite, where a window's opacity would not show. Either way `done`
// runs once `from` is hidden and `to` is whole. Whatever ends a fade early
// (its context or either window going), neither window is left
// see-through and `done` does not run. GUI thread only.
class KZWindowCrossFade {
public:
    static void run(QWidget* from, QWidget* to, bool fade, double seconds, QObject* context,
                    std::function<void()> done);
};
