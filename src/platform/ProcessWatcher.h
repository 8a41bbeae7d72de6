#pragma once

#include "platform/Subscription.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <sys/types.h>

#include <functional>
#include <memory>

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

} // namespace platform
