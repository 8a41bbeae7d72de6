#include "result/model/KZMusicLibraryNotifier.h"

#include "media/KZApplescript.h"

#include <mutex>

namespace {

std::mutex& instanceLock()
{
    static std::mutex lock;
    return lock;
}

std::unique_ptr<KZMusicLibraryNotifier>& instance()
{
    static std::unique_ptr<KZMusicLibraryNotifier> shared;
    return shared;
}

} // namespace

KZMusicLibraryNotifier& KZMusicLibraryNotifier::sharedControl()
{
    std::lock_guard guard(instanceLock());
    if (!instance())
        instance() = std::make_unique<KZMusicLibraryNotifier>();
    return *instance();
}

void KZMusicLibraryNotifier::setSharedControl(std::unique_ptr<KZMusicLibraryNotifier> replacement)
{
    std::lock_guard guard(instanceLock());
    instance() = std::move(replacement);
}

bool KZMusicLibraryNotifier::notifyDeletion(const QString& trackIDs)
{
    return KZApplescript::sharedControl().notifyDeletion(trackIDs);
}

bool KZMusicLibraryNotifier::isValidTrackID(const QString& trackID)
{
    return KZApplescript::isValidTrackID(trackID);
}

QString KZMusicLibraryNotifier::deletionText(const QStringList& trackIDs)
{
    QStringList valid;
    for (const QString& id : trackIDs) {
        if (isValidTrackID(id))
            valid.append(id);
    }
    return valid.join(QLatin1Char('\n'));
}
