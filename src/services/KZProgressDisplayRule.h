#pragma once

#include <QtGlobal>

#include <mutex>

// When a progress window of a background job (saving, exporting, undo,
// restore) appears, is refreshed and goes away. A job that ends within 0.7 s
// never shows a window; the figures on screen change at most ten times a
// second however often the clock ticks; the window closes by itself on the
// first tick after the work ended. Time comes from platform::Clock, so a
// test checks the rule without waiting. Ticks may come from the clock's own
// thread while the job's owner asks isVisible() on the GUI thread.
class KZProgressDisplayRule {
public:
    static constexpr double showDelay = 0.7;
    static constexpr double refreshInterval = 0.1;

    struct Step {
        bool show = false;      // put the window on screen now
        bool refresh = false;   // update the bar and the count text
        bool terminate = false; // last refresh, stop the animation, close
    };

    // The job starts now.
    void startSession();
    // One tick. `isWorking` is false once the work ended or was stopped; that
    // tick answers terminate, once, and the session is over.
    Step step(bool isWorking);
    bool isVisible() const;
    bool sessionRunning() const;

    // Done in percent; 0 while the total is not known.
    static double percent(quint64 managed, quint64 total);

private:
    mutable std::mutex mutex_;
    double startTime_ = 0;
    double updatedTime_ = 0;
    bool visible_ = false;
    bool running_ = false;
};
