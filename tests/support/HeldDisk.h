#pragma once

#include "platform/AtomicFile.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <unistd.h>

namespace kztest {

// A disk that holds the first write until released, so a test can look at a
// job's progress while the job is certainly still working.
struct HeldDisk {
    std::mutex mutex;
    std::condition_variable wake;
    bool released = false;
    std::atomic<bool> entered{false};

    platform::AtomicFileWriter::WriteFunction function()
    {
        return [this](int fd, const void* data, size_t size) -> ssize_t {
            entered.store(true);
            std::unique_lock lock(mutex);
            wake.wait(lock, [this] { return released; });
            return ::write(fd, data, size);
        };
    }
    void release()
    {
        {
            std::lock_guard guard(mutex);
            released = true;
        }
        wake.notify_all();
    }
};

} // namespace kztest
