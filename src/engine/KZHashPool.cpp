#include "engine/KZHashPool.h"

#include "engine/KZCrc32.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>

KZHashPool::KZHashPool(unsigned threads)
{
    for (unsigned i = 1; i < std::max(1u, threads); ++i)
        workers_.emplace_back([this] { run(); });
}

KZHashPool::~KZHashPool()
{
    {
        std::lock_guard guard(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
}

void KZHashPool::takePieces(const std::function<void(std::size_t)>& work, std::size_t count)
{
    // Pieces are claimed without the lock: a batch holds hundreds of small
    // files, and a lock per piece would keep the threads waiting on it. The
    // batch's work and count are the caller's copies, taken under the lock:
    // the shared ones change as soon as the batch is closed.
    for (;;) {
        const std::size_t piece = next_.fetch_add(1);
        if (piece >= count)
            break;
        work(piece);
    }
}

void KZHashPool::run()
{
    std::unique_lock lock(mutex_);
    unsigned long seen = generation_;
    for (;;) {
        // A thread woken for a batch that closed before it got the lock
        // waits for the next one: it was never counted in that batch, so
        // the batch did not wait for it, and its pieces are all done.
        wake_.wait(lock, [&] { return quit_ || (work_ && generation_ != seen); });
        if (quit_)
            break;
        seen = generation_;
        const std::function<void(std::size_t)>& work = *work_;
        const std::size_t count = count_;
        ++active_;
        lock.unlock();
        takePieces(work, count);
        lock.lock();
        if (--active_ == 0)
            done_.notify_all();
    }
    lock.unlock();
    KZCrc32::threadFinished();
}

void KZHashPool::forEach(std::size_t count, const std::function<void(std::size_t)>& work)
{
    start(count, work);
    finish();
}

void KZHashPool::start(std::size_t count, const std::function<void(std::size_t)>& work)
{
    if (count == 0)
        return;
    // A few pieces are not worth waking threads for: finish runs them.
    if (workers_.empty() || count < 4) {
        inline_ = &work;
        inlineCount_ = count;
        return;
    }
    {
        std::lock_guard guard(mutex_);
        // Only the threads counted in a batch ever touch next_, and none is
        // once the previous batch closed.
        work_ = &work;
        count_ = count;
        next_ = 0;
        ++generation_;
    }
    // A thread for every few pieces: waking one costs about as much as
    // hashing a dozen small files, and each woken thread takes the lock
    // once more on its way out.
    const std::size_t wanted = std::max<std::size_t>(1, count / kPiecesPerThread);
    for (std::size_t i = 0; i < wanted && i < workers_.size(); ++i)
        wake_.notify_one();
}

void KZHashPool::finish()
{
    if (inline_) {
        const std::function<void(std::size_t)>& work = *inline_;
        const std::size_t count = inlineCount_;
        inline_ = nullptr;
        inlineCount_ = 0;
        for (std::size_t i = 0; i < count; ++i)
            work(i);
        return;
    }
    const std::function<void(std::size_t)>* work = nullptr;
    std::size_t count = 0;
    {
        std::lock_guard guard(mutex_);
        work = work_;
        count = count_;
    }
    if (!work)
        return; // nothing open
    takePieces(*work, count);
    // Every piece has been claimed; the batch is done when no thread is
    // still inside one, and none may be when the next batch is set up.
    std::unique_lock lock(mutex_);
    done_.wait(lock, [&] { return active_ == 0; });
    // Closed: a thread that takes the lock from now on finds no work.
    work_ = nullptr;
    count_ = 0;
}

unsigned KZHashPool::threadsFor(const std::vector<std::string>& paths, unsigned most)
{
    for (const std::string& path : paths) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0)
            continue;
        // A partition's queue is its disk's; /sys names both by number.
        const std::string device = "/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":"
            + std::to_string(minor(st.st_dev));
        for (const char* disk : {"", "/.."}) {
            std::ifstream in(device + disk + "/queue/rotational");
            int rotational = 0;
            if (!(in >> rotational))
                continue;
            // A virtual machine's disk says it rotates by default, whatever
            // the storage behind it is: its flag tells nothing.
            std::error_code ec;
            const std::string driver
                = std::filesystem::read_symlink(device + disk + "/device/driver", ec).filename().native();
            if (rotational == 1 && driver != "virtio_blk" && driver != "vbd")
                return 1;
            break;
        }
    }
    return std::clamp(std::thread::hardware_concurrency(), 1u, std::max(1u, most));
}
