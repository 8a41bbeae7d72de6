#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

// Runs work(i) for every i below `count` on at most `threads` threads (the
// calling one among them), handing out `chunk` indices at a time. Each call
// must write only what is its own, so that the answer does not depend on
// how the work was shared. The first exception a call throws stops the
// handing out and is thrown again here once every thread has ended.
template <typename Work>
void forEachIndexInParallel(size_t count, size_t threads, size_t chunk, const Work& work)
{
    static const size_t cores = std::max(1u, std::thread::hardware_concurrency());
    threads = std::min({threads, cores, (count + chunk - 1) / chunk});
    if (threads <= 1) {
        for (size_t i = 0; i < count; ++i)
            work(i);
        return;
    }
    std::atomic<size_t> next{0};
    std::mutex failureLock;
    std::exception_ptr failure;
    const auto run = [&] {
        try {
            for (size_t from = next.fetch_add(chunk); from < count; from = next.fetch_add(chunk)) {
                for (size_t i = from; i < std::min(count, from + chunk); ++i)
                    work(i);
            }
        } catch (...) {
            const std::lock_guard<std::mutex> lock(failureLock);
            if (!failure)
                failure = std::current_exception();
            next.store(count);
        }
    };
    std::vector<std::thread> helpers;
    helpers.reserve(threads - 1);
    for (size_t t = 1; t < threads; ++t)
        helpers.emplace_back(run);
    run();
    for (std::thread& helper : helpers)
        helper.join();
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace platform
