#include "media/KZiTunesLibrary.h"

#include "platform/Paths.h"
#include "platform/PropertyList.h"
#include "services/KZFilesUtilities.h"
#include "settings/KZPlistValue.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>

namespace fs = std::filesystem;

namespace {

QString textValue(const QVariantMap& map, const char* key)
{
    const QVariant value = map.value(QLatin1String(key));
    return value.typeId() == QMetaType::QString ? value.toString() : QString(QLatin1String(""));
}

// A count (milliseconds, a bit rate, a number); a negative one, one out of
// range (1e30, infinity) or one of another type reads as 0, never as an
// integer that the conversion would make up.
quint64 numberValue(const QVariantMap& map, const char* key)
{
    return KZPlistValue::unsigned64Value(map, QLatin1String(key));
}

} // namespace

QString KZiTunesLibrary::trackIDWithPersistentID(quint64 persistentID)
{
    return QString::number(persistentID, 16);
}

std::shared_ptr<const KZiTunesLibrary> KZiTunesLibrary::fromFile(const fs::path& file, QString* error)
{
    QString reason;
    // An export spends one to three kilobytes on each track: a gigabyte is
    // several hundred thousand tracks, beyond the largest real libraries.
    constexpr quint64 kMaxExportSize = quint64(1) << 30;
    const std::optional<QVariantMap> root = platform::PropertyList::readDictionary(
        file, &reason, platform::PropertyList::Links::Follow, kMaxExportSize,
        platform::PropertyList::kLibraryExportCost);
    if (!root) {
        if (error)
            *error = reason;
        return nullptr;
    }
    if (!root->contains(QStringLiteral("Tracks"))) {
        if (error)
            *error = QStringLiteral("“%1”: no \"Tracks\" in the file: not a music library export")
                         .arg(platform::pathText(file));
        return nullptr;
    }
    return fromDictionary(*root, file);
}

std::shared_ptr<const KZiTunesLibrary> KZiTunesLibrary::fromDictionary(const QVariantMap& root, const fs::path& file)
{
    auto library = std::make_shared<KZiTunesLibrary>();
    library->file_ = file;
    library->musicFolder_ = KZFilesUtilities::pathOfLocalFileURL(textValue(root, "Music Folder"));

    const QVariantMap tracks = root.value(QStringLiteral("Tracks")).toMap();
    std::vector<std::pair<quint64, KZiTunesTrack>> numbered;
    numbered.reserve(size_t(tracks.size()));
    for (auto it = tracks.cbegin(); it != tracks.cend(); ++it) {
        if (it->typeId() != QMetaType::QVariantMap)
            continue;
        const QVariantMap entry = it->toMap();
        // The URL and remote kinds stream from elsewhere: no file of ours.
        const QString kind = textValue(entry, "Track Type");
        if (kind == QStringLiteral("URL") || kind == QStringLiteral("Remote"))
            continue;
        bool ok = false;
        const quint64 persistentID = textValue(entry, "Persistent ID").toULongLong(&ok, 16);
        if (!ok)
            continue; // without its identity a track cannot be referred to
        KZiTunesTrack track;
        track.url = KZFilesUtilities::pathOfLocalFileURL(textValue(entry, "Location"));
        if (track.url.empty())
            continue;
        track.trackID = trackIDWithPersistentID(persistentID);
        track.songName = textValue(entry, "Name");
        track.artist = textValue(entry, "Artist");
        track.album = textValue(entry, "Album");
        track.genre = textValue(entry, "Genre");
        track.totalTime = numberValue(entry, "Total Time");
        track.bitRate = quint32(std::min<quint64>(numberValue(entry, "Bit Rate"), UINT32_MAX));
        const quint64 number = entry.contains(QStringLiteral("Track ID")) ? numberValue(entry, "Track ID")
                                                                          : it.key().toULongLong();
        numbered.emplace_back(number, std::move(track));
    }
    // The dictionary's keys are text ("10" before "9"); the export lists the
    // tracks by number.
    std::stable_sort(numbered.begin(), numbered.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    library->tracks_.reserve(numbered.size());
    library->indexByID_.reserve(qsizetype(numbered.size()));
    for (auto& [number, track] : numbered) {
        if (!library->indexByID_.contains(track.trackID))
            library->indexByID_.insert(track.trackID, library->tracks_.size());
        library->tracks_.push_back(std::move(track));
    }
    return library;
}

const KZiTunesTrack* KZiTunesLibrary::trackWithID(const QString& trackID) const
{
    const auto found = indexByID_.constFind(trackID);
    return found == indexByID_.constEnd() ? nullptr : &tracks_[*found];
}
