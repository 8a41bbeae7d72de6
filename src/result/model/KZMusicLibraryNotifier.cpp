#include "result/model/KZMusicLibraryNotifier.h"

#include "media/KZApplescript.h"
#include "platform/SharedInstance.h"

namespace {

platform::SharedInstance<KZMusicLibraryNotifier>& sharedInstance()
{
    static platform::SharedInstance<KZMusicLibraryNotifier> instance(
        [] { return std::make_unique<KZMusicLibraryNotifier>(); });
    return instance;
}

} // namespace

KZMusicLibraryNotifier& KZMusicLibraryNotifier::sharedControl()
{
    return sharedInstance().get();
}

void KZMusicLibraryNotifier::setSharedControl(std::unique_ptr<KZMusicLibraryNotifier> replacement)
{
    sharedInstance().replace(std::move(replacement));
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
