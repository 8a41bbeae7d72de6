#include "result/panes/KZDeadTrackItem.h"

#include "media/KZApplescript.h"
#include "platform/Paths.h"

#include <filesystem>

KZDeadTrackItem::KZDeadTrackItem(const QVariantMap& dictionary)
    : songName_(dictionary.value(QStringLiteral("songName")).toString())
    , album_(dictionary.value(QStringLiteral("album")).toString())
    , artist_(dictionary.value(QStringLiteral("artist")).toString())
{
    const QString trackID = dictionary.value(QStringLiteral("trackID")).toString();
    // A saved result is a file anyone can edit; its identifiers end up in a
    // script.
    if (KZApplescript::isValidTrackID(trackID))
        trackID_ = trackID.toLower();
    const QVariant url = dictionary.value(QStringLiteral("url"));
    if (dictionary.contains(QStringLiteral("path")))
        url_ = QUrl::fromLocalFile(dictionary.value(QStringLiteral("path")).toString());
    else if (url.metaType() == QMetaType::fromType<std::filesystem::path>())
        // The search hands over the file as its path's bytes.
        url_ = QUrl::fromLocalFile(platform::pathText(url.value<std::filesystem::path>()));
    else
        url_ = url.toUrl();
    if (dictionary.contains(QStringLiteral("isMarked")))
        isMarked_.store(dictionary.value(QStringLiteral("isMarked")).toBool());
}

QString KZDeadTrackItem::path() const
{
    return url_.isLocalFile() ? url_.toLocalFile() : QString();
}

QVariantMap KZDeadTrackItem::savedDictionary() const
{
    return {{QStringLiteral("songName"), songName_}, {QStringLiteral("album"), album_},
            {QStringLiteral("artist"), artist_},     {QStringLiteral("trackID"), trackID_},
            {QStringLiteral("path"), path()},        {QStringLiteral("isMarked"), isMarked()}};
}

KZDeadTracksToRemove KZMarkedDeadTracks(const std::vector<KZDeadTrackItemRef>& deads)
{
    KZDeadTracksToRemove removal;
    QStringList ids;
    for (std::size_t i = 0; i < deads.size(); ++i) {
        if (!deads[i] || !deads[i]->isMarked() || deads[i]->trackID().isEmpty())
            continue;
        ids << deads[i]->trackID();
        removal.indexes.push_back(i);
    }
    removal.trackIDs = ids.join(u'\n');
    return removal;
}

void KZRemoveDeadTracks(std::vector<KZDeadTrackItemRef>& deads, const std::vector<std::size_t>& indexes)
{
    for (auto it = indexes.rbegin(); it != indexes.rend(); ++it) {
        if (*it < deads.size())
            deads.erase(deads.begin() + std::ptrdiff_t(*it));
    }
}
