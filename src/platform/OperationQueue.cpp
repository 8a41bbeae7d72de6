#include "platform/OperationQueue.h"

#include "platform/Log.h"
#include "platform/ThreadSanitizer.h"

#include <QThreadPool>

#include <algorithm>
#include <limits>
#include <new>
#include <vector>

#include <limits.h>
#include <pthread.h>
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

// Every queue of the process. A fork copies each queue's count of
// operations and its pool, whose threads stay behind in the parent: a child
// waiting for the count, or handing an operation to a thread it believes
// idle, would wait for ever. So the list is held, and each queue's lock
// with it, across a fork (no count is copied halfway), and the child gives
// every queue an empty count and a pool of its own. Never destroyed: queues
// that are static objects leave it after main() has returned.
struct AllQueues {
    std::mutex mutex;
    std::vector<OperationQueue*> queues;
    // The pools a fork left without threads: destroying one would join
    // threads that are not there, so they are kept, unused.
    std::vector<std::unique_ptr<QThreadPool>> leftByFork;
};

AllQueues& allQueues();

} // namespace

// Run by pthread_atfork around every fork() of the process.
struct OperationQueueForkHandlers {
    static void prepare()
    {
        AllQueues& all = allQueues();
        all.mutex.lock();
        for (OperationQueue* queue : all.queues)
            queue->mutex_.lock();
    }
    static void parent()
    {
        AllQueues& all = allQueues();
        for (OperationQueue* queue : all.queues)
            queue->mutex_.unlock();
        all.mutex.unlock();
    }
    static void child()
    {
        AllQueues& all = allQueues();
        for (OperationQueue* queue : all.queues) {
            if (queue->pool_)
                all.leftByFork.push_back(std::move(queue->pool_));
            queue->pending_ = 0;
            // Its waiters were threads of the parent; a condition variable
            // that counts them would wait for them to leave.
            new (&queue->idle_) std::condition_variable;
            queue->mutex_.unlock();
        }
        all.mutex.unlock();
    }
};

namespace {

AllQueues& allQueues()
{
    static AllQueues* all = [] {
        auto* made = new AllQueues;
        ::pthread_atfork(&OperationQueueForkHandlers::prepare, &OperationQueueForkHandlers::parent,
                         &OperationQueueForkHandlers::child);
        return made;
    }();
    return *all;
}

} // namespace

void OperationQueue::listInstance(OperationQueue* queue)
{
    AllQueues& all = allQueues();
    std::lock_guard lock(all.mutex);
    all.queues.push_back(queue);
}

void OperationQueue::unlistInstance(OperationQueue* queue)
{
    AllQueues& all = allQueues();
    std::lock_guard lock(all.mutex);
    std::erase(all.queues, queue);
}

OperationQueue::OperationQueue(QString name, int maxConcurrent, std::size_t stackSize)
    : name_(std::move(name))
    , maxThreads_(maxConcurrent < 0 ? std::numeric_limits<int>::max() : std::max(maxConcurrent, 1))
    , stackSize_(usableStackSize(name_, stackSize))
{
    if (maxConcurrent == 0)
        logLine(QStringLiteral("OperationQueue %1: width 0 would run nothing; using 1").arg(name_));
    {
        std::lock_guard lock(mutex_);
        poolLocked();
    }
    listInstance(this);
}

QThreadPool* OperationQueue::poolLocked()
{
    if (!pool_) {
        pool_ = std::make_unique<QThreadPool>();
        pool_->setObjectName(name_);
        pool_->setMaxThreadCount(maxThreads_);
        if (stackSize_)
            pool_->setStackSize(stackSize_);
    }
    return pool_.get();
}

OperationQueue::~OperationQueue()
{
    unlistInstance(this);
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
    QThreadPool* pool = nullptr;
    {
        std::lock_guard lock(mutex_);
        if (closed_)
            return;
        ++pending_;
        pool = poolLocked();
    }
    auto* task = new Operation(this, std::move(operation));
    tsanRelease(&tsanHandOffToken);
    pool->start(task);
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
    QThreadPool* pool = nullptr;
    {
        std::lock_guard lock(mutex_);
        pool = pool_.get();
    }
    if (pool)
        pool->waitForDone();
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
