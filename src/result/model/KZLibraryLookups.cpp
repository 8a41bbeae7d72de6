#include "result/model/KZLibraryLookups.h"

#include "media/KZPhotosSupport.h"
#include "media/KZiTunesSupport.h"
#include "platform/Paths.h"

#include <mutex>

namespace {

std::mutex& lookupsMutex()
{
    static std::mutex mutex;
    return mutex;
}

KZLibraryLookups& installed()
{
    static KZLibraryLookups lookups;
    return lookups;
}

} // namespace

KZLibraryLookups KZLibraryLookups::current()
{
    std::lock_guard guard(lookupsMutex());
    return installed();
}

void KZLibraryLookups::install(KZLibraryLookups lookups)
{
    KZLibraryLookups old;
    {
        std::lock_guard guard(lookupsMutex());
        old = std::exchange(installed(), std::move(lookups));
    }
}

KZLibraryLookups KZLibraryLookups::fromReaders()
{
    KZLibraryLookups lookups;
    lookups.songMetadataWithTrackID = [](const QString& trackID) -> std::optional<KZSongInfo> {
        const std::optional<KZiTunesTrack> track = KZiTunesSupport::sharedControl().songMetadataWithTrackID(trackID);
        if (!track)
            return std::nullopt;
        KZSongInfo info;
        // The library leaves out a tag it does not have: such a tag is not
        // known, rather than known to be empty.
        const auto text = [](const QString& value) { return value.isEmpty() ? QString() : value; };
        info.setSongName(text(track->songName));
        info.setArtist(text(track->artist));
        info.setAlbum(text(track->album));
        info.setGenre(text(track->genre));
        info.setDuration(qint64(track->duration()));
        info.setBitRate(track->bitRate);
        bool ok = false;
        const quint64 persistentID = track->trackID.toULongLong(&ok, 16);
        if (ok) {
            info.setTrackID(persistentID);
            info.setIsiTunesTrackID(true);
        }
        return info;
    };
    lookups.songPositions = [](const QStringList& trackIDs) {
        QHash<QString, QString> positions;
        KZiTunesSupport& music = KZiTunesSupport::sharedControl();
        for (const QString& trackID : trackIDs) {
            if (positions.contains(trackID))
                continue;
            if (const std::optional<QString> position = music.libraryPositionWithTrackID(trackID))
                positions.insert(trackID, *position);
        }
        return positions;
    };
    lookups.photoPositions = [](const QStringList& imageIDs, const QString& libraryPath) {
        QHash<QString, QString> positions;
        if (libraryPath.isEmpty())
            return positions;
        const KZPhotosLibraryPositions library = KZPhotosSupport::sharedControl().libraryPositionsWithPath(
            platform::pathFromText(libraryPath));
        for (const QString& imageID : imageIDs)
            positions.insert(imageID, library.positionWithImageUUID(imageID));
        return positions;
    };
    return lookups;
}
