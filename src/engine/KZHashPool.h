#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Threads that compute block digests ahead of the comparisons. The caller
// takes part in the work and gets its answer only when every piece is done,
// so whatever the pieces wrote is its own again afterwards. One caller at a
// time, with one batch open at a time. A pool of one thread runs everything
// on the caller's thread.
class KZHashPool {
public:
    explicit KZHashPool(unsigned threads);
    ~KZHashPool();
    KZHashPool(const KZHashPool&) = delete;
    KZHashPool& operator=(const KZHashPool&) = delete;

    unsigned threads() const { return unsigned(workers_.size()) + 1; }

    // Calls work(i) once for every i below count, spread over the threads.
    void forEach(std::size_t count, const std::function<void(std::size_t)>& work);

    // The same in two halves, so that the caller can do other work while
    // the pool's threads take pieces: start opens the batch without taking
    // part in it, finish takes the pieces still waiting and returns when
    // every piece is done. `work` must live until finish returns, and
    // nothing a piece touches may be touched by the caller in between. A
    // pool without threads of its own (or a batch of a few pieces) runs
    // the whole batch in finish.
    void start(std::size_t count, const std::function<void(std::size_t)>& work);
    void finish();

    // Threads that make sense for reading the files below `paths`: one when
    // any of them lies on a rotating disk (spreading its reads would only
    // make the head seek), else one per processor, at most `most`.
    static unsigned threadsFor(const std::vector<std::string>& paths, unsigned most = 8);

private:
    static constexpr std::size_t kPiecesPerThread = 16;

    void run();
    void takePieces(const std::function<void(std::size_t)>& work, std::size_t count);

    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    // Set under the lock before a batch is announced and cleared under it
    // when the batch closes; a thread copies both under the lock as it
    // joins the batch, and joins only an open one.
    const std::function<void(std::size_t)>* work_ = nullptr;
    std::size_t count_ = 0;
    std::atomic<std::size_t> next_{0};
    unsigned active_ = 0; // threads inside a batch, under the lock
    unsigned long generation_ = 0;
    bool quit_ = false;
    // A batch that finish runs on the caller alone (the caller's own).
    const std::function<void(std::size_t)>* inline_ = nullptr;
    std::size_t inlineCount_ = 0;
};
