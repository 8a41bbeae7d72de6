#include "platform/MainThread.h"

#include "platform/Log.h"
#include "platform/ThreadSanitizer.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <atomic>

#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

namespace {

// Without an application object there is no main loop to queue onto
// (command-line tools, early start-up); running in place is the only way the
// work still happens.
bool noApplication()
{
    if (QCoreApplication::instance())
        return false;
    static std::atomic<bool> logged{false};
    if (!logged.exchange(true))
        logLine(QStringLiteral("runOnMain: no application object; running work on the calling thread"));
    return true;
}

} // namespace

bool isMainThread()
{
    if (const auto* app = QCoreApplication::instance())
        return QThread::currentThread() == app->thread();
    // The process's first thread has the process's id as its thread id.
    return ::syscall(SYS_gettid) == ::getpid();
}

void runOnMain(std::function<void()> fn)
{
    if (!fn)
        return;
    if (noApplication()) {
        fn();
        return;
    }
    // Qt moves the call into memory of its own and queues it under its own
    // lock, which the sanitizer does not see: the hand-off is released once
    // that copy is written, in the copy's constructor, so that the main
    // thread's read of it comes after the write in the sanitizer's eyes too.
    // Qt frees that copy on whichever thread lets go of it last, which is
    // this one where the main thread ran it before the post returned: the
    // call releases the token once it has run and acquires it as it goes
    // away, so that the main thread's reads come before the free.
    struct QueuedCall {
        explicit QueuedCall(std::function<void()> call) : fn(std::move(call)) {}
        QueuedCall(QueuedCall&& other) noexcept : fn(std::move(other.fn)) { tsanRelease(&tsanHandOffToken); }
        QueuedCall(const QueuedCall& other) : fn(other.fn) { tsanRelease(&tsanHandOffToken); }
        QueuedCall& operator=(const QueuedCall&) = delete;
        ~QueuedCall() { tsanAcquire(&tsanHandOffToken); }
        std::function<void()> fn;
        void operator()() const
        {
            tsanAcquire(&tsanHandOffToken);
            fn();
            tsanRelease(&tsanHandOffToken);
        }
    };
    QMetaObject::invokeMethod(QCoreApplication::instance(), QueuedCall{std::move(fn)}, Qt::QueuedConnection);
}

void runOnMainAndWait(const std::function<void()>& fn)
{
    if (!fn)
        return;
    if (isMainThread() || noApplication()) {
        fn();
        return;
    }
    // Qt frees the call on whichever thread drops it last, which may be
    // this one after the main thread ran it: the call acquires the token as
    // it goes away, so that the main thread's reads of it come before the
    // free in the sanitizer's eyes too.
    struct BlockingCall {
        explicit BlockingCall(const std::function<void()>* call) : fn(call) {}
        // Qt keeps its own copy of the call in memory it allocates after the
        // hand-off below: releasing again once that copy is made orders the
        // allocation before the main thread's read of it.
        BlockingCall(const BlockingCall& other) : fn(other.fn) { tsanRelease(&tsanHandOffToken); }
        BlockingCall& operator=(const BlockingCall&) = delete;
        const std::function<void()>* fn;
        void operator()() const
        {
            tsanAcquire(&tsanHandOffToken);
            (*fn)();
            tsanRelease(&tsanHandOffToken);
        }
        ~BlockingCall() { tsanAcquire(&tsanHandOffToken); }
    };
    tsanRelease(&tsanHandOffToken);
    QMetaObject::invokeMethod(QCoreApplication::instance(), BlockingCall{&fn}, Qt::BlockingQueuedConnection);
    tsanAcquire(&tsanHandOffToken);
}

} // namespace platform
