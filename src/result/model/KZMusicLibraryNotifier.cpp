#include "result/model/KZMusicLibraryNotifier.h"

#include "platform/Log.h"

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
    platform::logLine(QStringLiteral("The music application is not available: %1 deleted track(s) not reported")
                          .arg(trackIDs.count(QLatin1Char('\n')) + 1));
    return false;
}

bool KZMusicLibraryNotifier::isValidTrackID(const QString& trackID)
{
    if (trackID.isEmpty() || trackID.size() > 16)
        return false;
    for (const QChar c : trackID) {
        const char16_t u = c.unicode();
        const bool hex = (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F');
        if (!hex)
            return false;
    }
    return true;
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
