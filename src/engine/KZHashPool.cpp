#include "engine/KZHashPool.h"

#include "engine/KZCrc32.h"

#include <algorithm>
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

void KZHashPool::takePieces(std::unique_lock<std::mutex>& lock)
{
    while (next_ < count_) {
        const std::size_t piece = next_++;
        const auto* work = work_;
        ++running_;
        lock.unlock();
        (*work)(piece);
        lock.lock();
        --running_;
    }
    if (running_ == 0)
        done_.notify_all();
}

void KZHashPool::run()
{
    std::unique_lock lock(mutex_);
    unsigned long seen = generation_;
    for (;;) {
        wake_.wait(lock, [&] { return quit_ || generation_ != seen; });
        if (quit_)
            break;
        seen = generation_;
        takePieces(lock);
    }
    lock.unlock();
    KZCrc32::threadFinished();
}

void KZHashPool::forEach(std::size_t count, const std::function<void(std::size_t)>& work)
{
    if (count == 0)
        return;
    if (workers_.empty() || count == 1) {
        for (std::size_t i = 0; i < count; ++i)
            work(i);
        return;
    }
    std::unique_lock lock(mutex_);
    work_ = &work;
    count_ = count;
    next_ = 0;
    ++generation_;
    wake_.notify_all();
    takePieces(lock);
    done_.wait(lock, [&] { return next_ >= count_ && running_ == 0; });
    work_ = nullptr;
    count_ = 0;
    next_ = 0;
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
        for (const char* queue : {"/queue/rotational", "/../queue/rotational"}) {
            std::ifstream in(device + queue);
            int rotational = 0;
            if (in >> rotational) {
                if (rotational == 1)
                    return 1;
                break;
            }
        }
    }
    return std::clamp(std::thread::hardware_concurrency(), 1u, std::max(1u, most));
}
