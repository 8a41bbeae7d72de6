#include "app/search/KZMusicLibraryReading.h"

#include "platform/MainThread.h"
#include "platform/OperationQueue.h"

#include <QCoreApplication>
#include <QPointer>

#include <filesystem>
#include <system_error>
#include <utility>

namespace {

platform::OperationQueue& readingQueue()
{
    // Its work ends before the application object goes; a reading stops
    // at quit, so that wait is short.
    static platform::OperationQueue queue(QStringLiteral("KZMusicLibraryReadingQueue"));
    static const bool listed = (queue.endsWithApplication(), true);
    (void)listed;
    return queue;
}

} // namespace

KZMusicLibraryReading::KZMusicLibraryReading(QObject* parent) : QObject(parent)
{
    // Quit does not wait for a reading: it is stopped, and ends at its next
    // piece of the file.
    if (QCoreApplication* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, [this] { stop(); });
}

KZMusicLibraryReading::~KZMusicLibraryReading()
{
    const std::shared_ptr<Shared> shared = std::exchange(running_, nullptr);
    if (!shared)
        return;
    shared->stop = true;
    std::unique_lock lock(shared->lock);
    shared->ended.wait_for(lock, kEndWait, [&shared] { return shared->done; });
}

bool KZMusicLibraryReading::start()
{
    if (running_)
        return true;
    KZiTunesSupport& music = KZiTunesSupport::sharedControl();
    if (!music.readingIsDue())
        return false;
    // No export there: the reading learns so from one look, here.
    std::error_code ec;
    if (!std::filesystem::exists(KZiTunesSupport::libraryFilePath(), ec) && !ec) {
        if (const std::optional<KZiTunesSupport::Refusal> refusal = music.readIfDue())
            KZiTunesSupport::tellRefusal(*refusal);
        return false;
    }
    auto shared = std::make_shared<Shared>();
    running_ = shared;
    QPointer<KZMusicLibraryReading> guard(this);
    readingQueue().addOperation([guard, shared] {
        bool stopped = false;
        const std::optional<KZiTunesSupport::Refusal> refusal =
            KZiTunesSupport::sharedControl().readIfDue(&shared->stop, &stopped);
        platform::runOnMain([guard, shared, refusal, stopped] {
            if (guard)
                guard->readingEnded(shared, refusal, stopped);
            else if (refusal && !stopped)
                // Kept as refused until the file changes: told now or never.
                KZiTunesSupport::tellRefusal(*refusal);
        });
        {
            std::lock_guard lock(shared->lock);
            shared->done = true;
        }
        shared->ended.notify_all();
    });
    return true;
}

void KZMusicLibraryReading::stop()
{
    const std::shared_ptr<Shared> shared = std::exchange(running_, nullptr);
    if (!shared)
        return;
    shared->stop = true;
    Q_EMIT finished(true);
}

void KZMusicLibraryReading::readingEnded(const std::shared_ptr<Shared>& shared,
                                         const std::optional<KZiTunesSupport::Refusal>& refusal, bool stopped)
{
    // A refusal is kept, and told once, even when the reading it came from
    // was given up here: stopping only keeps the search from starting.
    if (refusal && !stopped)
        refusal_ = refusal;
    if (running_ == shared) {
        running_.reset();
        Q_EMIT finished(stopped);
    }
    tellRefusal();
}

void KZMusicLibraryReading::tellRefusal()
{
    if (std::optional<KZiTunesSupport::Refusal> refusal = std::exchange(refusal_, std::nullopt))
        KZiTunesSupport::tellRefusal(*refusal);
}
