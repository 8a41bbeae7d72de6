#pragma once

#include "platform/Subscription.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

// An application the watcher can recognise: its identifier, the name shown
// to the user, and the file names of the executables that run it.
struct WatchedApplication {
    QString identifier;
    QString name;
    QStringList executableNames;
};

struct ProcessEvent {
    enum class Kind { Launched, Terminated };
    Kind kind = Kind::Launched;
    QString identifier;
    QString name;
    pid_t pid = 0;
};

// Tells when applications start and end. Events arrive on the watcher's own
// thread; an observer must not block there for long (it delays every other
// observer), and must not wait for a thread that is cancelling its
// subscription.
class ProcessWatcher {
public:
    using Callback = std::function<void(const ProcessEvent&)>;

    // The process-wide watcher: a /proc watcher over the applications this
    // platform has, which are none of those the program manages.
    static ProcessWatcher& shared();
    // nullptr restores the platform's watcher.
    static void setShared(std::unique_ptr<ProcessWatcher> watcher);

    virtual ~ProcessWatcher() = default;

    // The registration lasts as long as the Subscription. Cancelling it from
    // inside a callback is allowed.
    [[nodiscard]] virtual Subscription observe(Callback callback) = 0;
    // Whether a process of the application runs now.
    virtual bool isRunning(const QString& identifier) = 0;
};

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
