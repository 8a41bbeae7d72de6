#pragma once

#include <QString>
#include <QVariant>

#include <memory>

namespace platform {

// What one script, or one request to open a file with an application, came
// back with.
struct ScriptResult {
    enum class Status {
        // The script ran; `hasValue` says whether it returned something.
        Ok,
        // The application ran the script and reported an error.
        Failed,
        // No application can take scripts here; nothing was run.
        NotAvailable,
    };

    Status status = Status::NotAvailable;
    // Ok only: a value came back. A string, or a QVariantList of strings and
    // nested lists.
    bool hasValue = false;
    QVariant value;
    // Failed only.
    QString errorMessage;
    qint64 errorNumber = 0;

    bool ok() const { return status == Status::Ok; }
};

// Runs scripts in the music and photo applications. Linux has neither the
// applications nor a scripting bridge to them, so the shared runner answers
// NotAvailable at once for everything; tests install a recording runner.
// Calls may come from any thread and block that thread until they answer.
class ScriptRunner {
public:
    static ScriptRunner& shared();
    // nullptr restores the runner of this platform.
    static void setShared(std::unique_ptr<ScriptRunner> runner);

    virtual ~ScriptRunner() = default;

    virtual ScriptResult run(const QString& script) = 0;
    // Opens `path` with the application named `appName`, without bringing it
    // to the front.
    virtual ScriptResult openWithApplication(const QString& path, const QString& appName) = 0;
    // Whether scripts and opening requests can reach an application at all;
    // when not, every call answers NotAvailable, so there is no point in
    // asking the user's leave to quit or open one.
    virtual bool canReachApplications() const { return true; }
};

} // namespace platform
