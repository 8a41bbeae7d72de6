#include "platform/OperationQueue.h"

#include "platform/Log.h"
#include "platform/ThreadSanitizer.h"

#include <QThreadPool>

#include <algorithm>
#include <limits>
#include <vector>

#include <limits.h>
#include <unistd.h>

namespace platform {

namespace {

// QThread refuses to start a thread whose stack size pthread rejects, and
// the pool would then keep the operation queued for ever; so the size is
// brought into the range pthread accepts, whole pages, instead.
uint usableStackSize(const QString& queueName, std::size_t requested)
{
    if (requested == 0)
        return 0;
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const auto minimum = static_cast<std::size_t>(PTHREAD_STACK_MIN);
    const std::size_t maximum = std::numeric_limits<uint>::max() / page * page;
    std::size_t size = std::max(requested, minimum);
    size = std::min(size, maximum);
    size = (size + page - 1) / page * page;
    if (requested > maximum)
        logLine(QStringLiteral("OperationQueue %1: stack size %2 is too large; using %3")
                    .arg(queueName).arg(requested).arg(size));
    return static_cast<uint>(size);
}

// The queues whose work ends with the application. Never destroyed: queues
// that are static objects leave it after main() has returned.
struct ApplicationQueues {
    std::mutex mutex;
    std::vector<OperationQueue*> queues;
};

ApplicationQueues& applicationQueues()
{
    static auto* queues = new ApplicationQueues;
    return *queues;
}

} // namespace

OperationQueue::OperationQueue(QString name, int maxConcurrent, std::size_t stackSize)
    : name_(std::move(name))
    , pool_(std::make_unique<QThreadPool>())
{
    pool_->setObjectName(name_);
    if (maxConcurrent < 0) {
        pool_->setMaxThreadCount(std::numeric_limits<int>::max());
    } else {
        if (maxConcurrent == 0)
            logLine(QStringLiteral("OperationQueue %1: width 0 would run nothing; using 1").arg(name_));
        pool_->setMaxThreadCount(std::max(maxConcurrent, 1));
    }
    if (const uint size = usableStackSize(name_, stackSize))
        pool_->setStackSize(size);
}

OperationQueue::~OperationQueue()
{
    // Only a listed queue takes the list's lock: a queue made and dropped
    // inside an operation never waits for the queues being closed.
    if (endsWithApplication_) {
        ApplicationQueues& registry = applicationQueues();
        std::lock_guard lock(registry.mutex);
        std::erase(registry.queues, this);
    }
    waitUntilAllOperationsAreFinished();
    // The pool's own destructor joins its threads.
    pool_.reset();
}

void OperationQueue::addOperation(std::function<void()> operation)
{
    if (!operation)
        return;
    {
        std::lock_guard lock(mutex_);
        if (closed_)
            return;
        ++pending_;
    }
    auto* task = new Operation(this, std::move(operation));
    tsanRelease(&tsanHandOffToken);
    pool_->start(task);
}

OperationQueue::Operation::Operation(OperationQueue* queue, std::function<void()> body)
    : queue_(queue)
    , body_(std::move(body))
{
}

void OperationQueue::Operation::run()
{
    // First, before any member is read: the pool hands the operation over
    // inside Qt, where a thread sanitizer cannot see it.
    tsanAcquire(&tsanHandOffToken);
    struct Done {
        OperationQueue* queue;
        ~Done() { queue->finished(); }
    } done{queue_};
    // Destroyed before `done`: whatever the operation captured is gone by
    // the time a waiter is told the queue is idle.
    auto body = std::move(body_);
    body();
}

void OperationQueue::waitUntilAllOperationsAreFinished()
{
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return pending_ == 0; });
}

int OperationQueue::operationCount() const
{
    std::lock_guard lock(mutex_);
    return pending_;
}

void OperationQueue::endsWithApplication()
{
    ApplicationQueues& registry = applicationQueues();
    std::lock_guard lock(registry.mutex);
    if (!endsWithApplication_)
        registry.queues.push_back(this);
    endsWithApplication_ = true;
}

void OperationQueue::close()
{
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    waitUntilAllOperationsAreFinished();
    // Joins the pool's threads, which would otherwise end on their own
    // later, whenever their idle time runs out.
    pool_->waitForDone();
}

bool OperationQueue::isClosed() const
{
    std::lock_guard lock(mutex_);
    return closed_;
}

void finishApplicationWork()
{
    // Held throughout, so that no queue goes away while it is closed.
    ApplicationQueues& registry = applicationQueues();
    std::lock_guard lock(registry.mutex);
    for (OperationQueue* queue : registry.queues)
        queue->close();
}

void OperationQueue::finished()
{
    // Notified under the lock: a waiter may destroy the queue as soon as it
    // sees the count at zero.
    std::lock_guard lock(mutex_);
    if (--pending_ == 0)
        idle_.notify_all();
}

} // namespace platform
