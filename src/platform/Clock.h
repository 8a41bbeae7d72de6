#pragma once

#include <functional>
#include <memory>

class QObject;

namespace platform {

// Where the windows' waits of whole seconds take their time from: a fallback
// that ends a pending state, a delay after launch. The program runs on the
// steady clock and Qt's timers; a test installs a clock it advances by hand,
// so a five-second wait costs nothing and fires exactly when the test says.
//
// Short animation frames stay on QTimer/QVariantAnimation and are shortened
// through the animation timing scale instead.
class Clock {
public:
    virtual ~Clock() = default;

    // Seconds from an arbitrary origin; only differences mean anything.
    virtual double now() const = 0;
    // Runs `work` on `context`'s thread after `seconds`, unless `context` is
    // destroyed first. Call it on the thread that owns `context`.
    virtual void runAfter(double seconds, QObject* context, std::function<void()> work) = 0;

    static Clock& shared();
    // nullptr puts the real clock back.
    static void setShared(std::unique_ptr<Clock> clock);
};

} // namespace platform
