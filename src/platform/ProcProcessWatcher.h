#pragma once

#include "platform/ProcessWatcher.h"

#include <QtGlobal>

#include <sys/types.h>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

// Scans /proc on a timer, only while someone observes, for processes of the
// watched applications, and holds a pidfd for each one it found, so that an
// exit is seen the moment it happens rather than at the next scan. Processes
// running when the first observer arrives are the baseline: they are not
// reported as launched, but their exit is.
class ProcProcessWatcher final : public ProcessWatcher {
public:
    explicit ProcProcessWatcher(std::vector<WatchedApplication> applications,
                                std::chrono::milliseconds scanInterval = std::chrono::milliseconds(500));
    ~ProcProcessWatcher() override;

    Subscription observe(Callback callback) override;
    bool isRunning(const QString& identifier) override;

    // Whether the scanning thread runs (tests).
    bool isScanning() const;

private:
    struct Observer {
        Callback callback;
        bool active = true;
    };
    struct Tracked {
        const WatchedApplication* application = nullptr;
        int pidfd = -1;
    };

    // The watched application a process runs, or null.
    const WatchedApplication* applicationOf(pid_t pid) const;
    std::map<pid_t, const WatchedApplication*> scan() const;

    void run(quint64 generation, const std::map<pid_t, const WatchedApplication*>& baseline);
    void wake();
    // Answers false once this generation of the thread is to end.
    bool deliver(quint64 generation, const std::vector<ProcessEvent>& events);
    void remove(int id);

    const std::vector<WatchedApplication> applications_;
    const std::chrono::milliseconds interval_;

    mutable std::mutex mutex_;
    std::map<int, std::shared_ptr<Observer>> observers_;
    int nextId_ = 0;
    // Each start of the scanning thread is one generation; stopping it moves
    // to the next, which the old thread sees and ends on.
    quint64 generation_ = 0;
    bool running_ = false;
    std::thread thread_;
    const int wakeFd_;

    // Held while callbacks run, so that a cancelled observer is never called
    // after cancel() returned on another thread.
    std::recursive_mutex deliveryMutex_;
};

} // namespace platform
