#pragma once

#include <QObject>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QTimer;

// Drives a tick about 60 times a second until the tick answers that it is
// done. The ticks run on a thread of their own, so that sampling never costs
// the GUI thread or the engine anything; when that thread cannot be started
// a GUI-thread timer runs the same ticks, so that the end of the work is
// still performed.
//
// The clock holds no lock while a tick runs, and a tick never overlaps
// another. Stopping waits for a running tick to return, so a tick must not
// wait for the thread that stops the clock.
class KZProgressClock : public QObject {
    Q_OBJECT
public:
    // Answers true when the work is done and the clock should stop.
    using Tick = std::function<bool()>;

    static constexpr int intervalMs = 16;

    explicit KZProgressClock(Tick tick, QObject* parent = nullptr);
    ~KZProgressClock() override;

    // Must be called on the GUI thread (the fallback timer lives there).
    void start();
    void stop();
    bool isRunning() const;
    bool usesFallbackTimer() const { return timer_ != nullptr; }

    // Tests: make the next starts fail as a thread that cannot be created.
    static void setThreadStartFailsForTesting(bool fails);

private:
    // What one start's thread works with. The thread shares it, so that a
    // clock stopped (or destroyed) from inside its own tick leaves the
    // detached thread nothing freed to touch on its way out, and a later
    // start never revives a thread that was told to stop.
    struct Run {
        explicit Run(Tick t) : tick(std::move(t)) {}
        const Tick tick;
        std::mutex mutex;
        std::condition_variable wake;
        bool stopRequested = false;
        bool running = true;
    };
    static void run(const std::shared_ptr<Run>& state);

    Tick tick_;
    mutable std::mutex runMutex_; // guards run_ itself
    std::shared_ptr<Run> run_;
    std::thread thread_;
    QTimer* timer_ = nullptr;
};
