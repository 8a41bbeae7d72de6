#pragma once

#include "media/KZiTunesLibrary.h"
#include "media/KZiTunesSupport.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

namespace kztest {

// Stands in for the music library's reader: each reading holds until the
// test lets it go or the reading is stopped (at most 10 s, for a test that
// fails), then reads the file as the program does. Says which thread read,
// and whether the reading saw its stop.
class HeldMusicReader {
public:
    HeldMusicReader()
    {
        KZiTunesSupport::setReader(
            [this](const std::filesystem::path& file, QString* error, const std::atomic<bool>* stop) {
                {
                    std::unique_lock lock(lock_);
                    ++entered_;
                    readerThread_ = std::this_thread::get_id();
                    changed_.notify_all();
                    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
                    // The stop flag is polled as the real reader checks it
                    // between pieces of the file.
                    while (!released_ && !(stop && stop->load()) && std::chrono::steady_clock::now() < until)
                        changed_.wait_for(lock, std::chrono::milliseconds(5));
                }
                auto library = KZiTunesLibrary::fromFile(file, error, stop);
                std::lock_guard lock(lock_);
                ++left_;
                sawStop_ = sawStop_ || (stop && stop->load());
                changed_.notify_all();
                return library;
            });
    }
    ~HeldMusicReader()
    {
        release();
        waitUntil([this] { return left_ == entered_; });
        KZiTunesSupport::setReader({});
    }
    HeldMusicReader(const HeldMusicReader&) = delete;
    HeldMusicReader& operator=(const HeldMusicReader&) = delete;

    void release()
    {
        std::lock_guard lock(lock_);
        released_ = true;
        changed_.notify_all();
    }
    // Bounded waits for a reading to begin and for every reading to end.
    bool waitEntered() { return waitUntil([this] { return entered_ > 0; }); }
    bool waitAllLeft() { return waitUntil([this] { return entered_ > 0 && left_ == entered_; }); }

    int entered() const
    {
        std::lock_guard lock(lock_);
        return entered_;
    }
    int left() const
    {
        std::lock_guard lock(lock_);
        return left_;
    }
    bool sawStop() const
    {
        std::lock_guard lock(lock_);
        return sawStop_;
    }
    std::thread::id readerThread() const
    {
        std::lock_guard lock(lock_);
        return readerThread_;
    }

private:
    template <typename F>
    bool waitUntil(F done)
    {
        std::unique_lock lock(lock_);
        return changed_.wait_for(lock, std::chrono::seconds(10), done);
    }

    mutable std::mutex lock_;
    std::condition_variable changed_;
    bool released_ = false;
    int entered_ = 0;
    int left_ = 0;
    bool sawStop_ = false;
    std::thread::id readerThread_;
};

} // namespace kztest
