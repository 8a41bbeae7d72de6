#pragma once

#include <QRunnable>
#include <QString>

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>

class QThreadPool;

namespace platform {

struct OperationQueueForkHandlers;

// A queue of operations run on threads of its own (a QThreadPool).
// maxConcurrent < 0 means no width limit (every operation gets a thread);
// operations are taken in the order they were added. stackSize 0 keeps the
// system's default; other sizes are rounded up to whole pages.
// A forked child has none of its parent's threads: there every queue starts
// afresh, empty, on a pool of its own, and the operations the parent had
// queued or running are the parent's alone.
class OperationQueue {
public:
    static constexpr int Unbounded = -1;

    explicit OperationQueue(QString name, int maxConcurrent = Unbounded, std::size_t stackSize = 0);
    // Waits for the operations still running.
    ~OperationQueue();
    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    const QString& name() const { return name_; }
    void addOperation(std::function<void()> operation);
    // Also waits for operations added meanwhile. Never call it from one of
    // the queue's own operations: it would wait for itself.
    void waitUntilAllOperationsAreFinished();
    // Operations queued or running.
    int operationCount() const;

    // The queue's work must end before the application object goes:
    // finishApplicationWork() closes the queue and waits for it.
    void endsWithApplication();
    // From now on added operations are dropped unrun. Waits for the ones
    // added before, then lets the pool's idle threads end.
    void close();
    bool isClosed() const;

private:
    friend struct OperationQueueForkHandlers;

    class Operation : public QRunnable {
    public:
        Operation(OperationQueue* queue, std::function<void()> body);
        void run() override;

    private:
        OperationQueue* queue_;
        std::function<void()> body_;
    };

    void finished();
    // The queue's pool, made when none is left from a fork; under mutex_.
    QThreadPool* poolLocked();
    static void listInstance(OperationQueue* queue);
    static void unlistInstance(OperationQueue* queue);

    QString name_;
    int maxThreads_;
    uint stackSize_;
    std::unique_ptr<QThreadPool> pool_;
    mutable std::mutex mutex_;
    std::condition_variable idle_;
    int pending_ = 0;
    bool closed_ = false;
    bool endsWithApplication_ = false; // set under the list of such queues
};

// A pool thread that starts or ends while Qt takes the application object
// down can use what is being destroyed and crash the program at exit. So
// every program declares an ApplicationWorkGuard right after its
// application object: on every way out of main() it closes the queues
// marked endsWithApplication() and waits for their work and threads. Never
// call it from one of those queues' operations.
void finishApplicationWork();

struct ApplicationWorkGuard {
    ApplicationWorkGuard() = default;
    ApplicationWorkGuard(const ApplicationWorkGuard&) = delete;
    ApplicationWorkGuard& operator=(const ApplicationWorkGuard&) = delete;
    ~ApplicationWorkGuard() { finishApplicationWork(); }
};

} // namespace platform
