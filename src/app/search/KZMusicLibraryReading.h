#pragma once

#include "media/KZiTunesSupport.h"

#include <QObject>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

// Reads the music library's export on a queue of its own when a reading is
// due, so that the window's thread never waits for a large export: a search
// checks its sources against the library only once it is read. The reading
// stops before its next piece of the file when asked, and at quit; a
// refusal is told on the window's thread, never from the reading's, which
// would wait there for a window's thread that may be waiting for it.
// Window's thread only, apart from the queued work.
class KZMusicLibraryReading : public QObject {
    Q_OBJECT
public:
    explicit KZMusicLibraryReading(QObject* parent = nullptr);
    // Stops a reading under way and waits for it a bounded while; one that
    // has not ended by then ends alone, its answer dropped.
    ~KZMusicLibraryReading() override;

    // Starts a reading when one is due and none is under way; answers
    // whether one is under way now (finished() follows).
    bool start();
    bool isRunning() const { return running_ != nullptr; }
    // Ends the reading under way at once: nothing of it is kept, and
    // finished(true) is emitted before this returns.
    void stop();

    // From a slot of finished(): tells the refusal of the reading that
    // ended, if any, there and then rather than after the slot.
    void tellRefusal();

    static constexpr std::chrono::milliseconds kEndWait{2000};

Q_SIGNALS:
    // The reading ended on its own (`stopped` false), its refusal, if any,
    // told right after unless a slot told it; or it was stopped, and
    // nothing of it was kept.
    void finished(bool stopped);

private:
    struct Shared {
        std::atomic<bool> stop{false};
        std::mutex lock;
        std::condition_variable ended;
        bool done = false;
    };
    void readingEnded(const std::shared_ptr<Shared>& shared, const std::optional<KZiTunesSupport::Refusal>& refusal,
                      bool stopped);

    std::shared_ptr<Shared> running_;
    std::optional<KZiTunesSupport::Refusal> refusal_;
};
