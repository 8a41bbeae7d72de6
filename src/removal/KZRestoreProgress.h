#pragma once

#include <QtGlobal>

#include <functional>
#include <mutex>

// When the progress of an undo or a restore is shown, refreshed and closed.
// A short job never shows a window; the counts on screen change at most ten
// times a second however often the clock ticks; the window goes away by
// itself once the work has ended. The clock is injected so that the rules can
// be checked without waiting.
class KZRestoreProgress {
public:
    using Clock = std::function<double()>; // seconds

    static constexpr double showDelay = 0.7;
    static constexpr double refreshInterval = 0.1;

    explicit KZRestoreProgress(Clock clock = {});

    struct Step {
        bool show = false;      // put the window on screen now
        bool refresh = false;   // update the bar and the count text
        bool terminate = false; // final refresh, stop the animation, close
    };

    void startSession();
    // One tick of the display's timer.
    Step step(bool isWorking);
    bool isVisible() const;
    bool sessionRunning() const;

    // Done in percent; 0 while the total is not known.
    static double percent(quint64 managed, quint64 total);

private:
    Clock clock_;
    mutable std::mutex mutex_;
    double startTime_ = 0;
    double updatedTime_ = 0;
    bool visible_ = false;
    bool running_ = false;
};
