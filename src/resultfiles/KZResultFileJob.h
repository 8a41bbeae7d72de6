#pragma once

#include "services/KZProgressDisplayRule.h"

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class KZProgressClock;

// What a save or an export shows while it runs. Every call comes on the GUI
// thread. The result windows implement it with a progress sheet; without one
// (tests, command-line tools) nothing is shown.
class KZResultFileProgressDisplay {
public:
    virtual ~KZResultFileProgressDisplay() = default;
    virtual void showProgress() = 0;
    virtual void updateProgress(quint64 managed, quint64 total, const QString& mainText) = 0;
    virtual void closeProgress() = 0;
};

// One background write of a result file (a save or an export): the work on
// a queue, the progress clock, Stop, and the one finishing notification.
//
// The finishing notification is posted on the GUI thread exactly once:
// at once when the user cancelled the file panel, otherwise only after the
// work has returned, whether it wrote, was stopped or failed. Until then the
// queued work and the clock's pending calls keep the job alive, so its owner
// may drop it as soon as the notification arrives.
class KZResultFileJob : public std::enable_shared_from_this<KZResultFileJob> {
public:
    explicit KZResultFileJob(QString finishNotification);
    virtual ~KZResultFileJob();
    KZResultFileJob(const KZResultFileJob&) = delete;
    KZResultFileJob& operator=(const KZResultFileJob&) = delete;

    void setDisplay(std::shared_ptr<KZResultFileProgressDisplay> display);
    // The object of the finishing notification (the request's "sender").
    void setSender(const void* sender) { sender_ = sender; }
    // Tests: no clock thread (they call tick()).
    void setDrivesOwnClock(bool drives) { drivesOwnClock_ = drives; }

    // The file panel was cancelled: nothing is written.
    void finishWithoutWork();
    // The Stop button (any thread).
    void stop() { stopped_.store(true); }
    bool wasStopped() const { return stopped_.load(); }
    bool isWorking() const { return isWorking_.load(); }
    bool didFinish() const { return finished_.load(); }

    // One tick of the progress clock (any thread). Answers true once the job
    // has ended and the clock may stop.
    bool tick();

    // The reason the last run failed; empty after success, a stop or a cancel.
    QString errorText() const;

    quint64 managedCount() const { return managedCount_.load(); }
    quint64 totToManage() const { return totToManage_.load(); }

protected:
    // Starts `work` through `enqueue` (the job's queue; GUI thread); the
    // progress clock starts with it.
    using Enqueue = std::function<void(std::function<void()>)>;
    void begin(const Enqueue& enqueue, std::function<void()> work);

    // Called on the GUI thread once the work ended with an error, before the
    // finishing notification.
    virtual void reportError(const QString& error) = 0;
    // Called on the GUI thread once the work ended without an error, before
    // the finishing notification: what the user should still be told.
    virtual void reportSuccess() {}

    void setMainString(const QString& text);
    void setError(const QString& error);

    std::atomic<quint64> managedCount_{0};
    std::atomic<quint64> totToManage_{0};
    std::atomic<bool> stopped_{false};

private:
    void finish();

    const QString finishNotification_;
    const void* sender_ = nullptr;
    std::shared_ptr<KZResultFileProgressDisplay> display_;
    std::unique_ptr<KZProgressDisplayRule> rule_;
    std::unique_ptr<KZProgressClock> clock_;
    bool drivesOwnClock_ = true;
    std::atomic<bool> isWorking_{false};
    std::atomic<bool> finished_{false};
    mutable std::mutex textLock_;
    QString mainString_;
    QString error_;
};
