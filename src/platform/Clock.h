#pragma once

#include <QDateTime>

#include <functional>
#include <memory>

class QObject;

namespace platform {

// Where every timed rule takes its time from: the windows' waits of whole
// seconds (a fallback that ends a pending state, a delay after launch), the
// progress windows' show and refresh rules, and the dates the program stores
// or shows (a removal's date, a stamp in a file name). The program runs on
// the steady clock, the system's date and Qt's timers; a test installs a
// clock it advances by hand, so a five-second wait costs nothing and fires
// exactly when the test says.
//
// Short animation frames stay on QTimer/QVariantAnimation and are shortened
// through the animation timing scale instead.
class Clock {
public:
    virtual ~Clock() = default;

    // Seconds from an arbitrary origin; only differences mean anything.
    // Any thread.
    virtual double now() const = 0;
    // Seconds since 1970-01-01 00:00 UTC, for a time that is stored or shown.
    // It may jump when the system's date is set; measure waits with now().
    // Any thread.
    virtual double sinceEpoch() const = 0;
    // sinceEpoch() as a local date and time, to the millisecond.
    QDateTime dateTime() const;
    // Runs `work` on `context`'s thread after `seconds`, unless `context` is
    // destroyed first. Call it on the thread that owns `context`.
    virtual void runAfter(double seconds, QObject* context, std::function<void()> work) = 0;

    static Clock& shared();
    // nullptr puts the real clock back.
    static void setShared(std::unique_ptr<Clock> clock);
};

} // namespace platform
