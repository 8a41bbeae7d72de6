#pragma once

#include <QString>
#include <QUrl>
#include <QVariantMap>

#include <atomic>
#include <memory>
#include <vector>

// One music-library track whose file is missing, as the missing-tracks tab
// lists it.
class KZDeadTrackItem {
public:
    // A track of the music-library reader ("songName", "album", "artist",
    // "trackID", "url" as a QUrl or a path), or of a saved result ("path" in place of "url", and
    // "isMarked"). A track identifier that is not 1 to 16 hexadecimal digits
    // is dropped: such a track stays listed but cannot be deleted.
    explicit KZDeadTrackItem(const QVariantMap& dictionary);

    const QString& songName() const { return songName_; }
    const QString& album() const { return album_; }
    const QString& artist() const { return artist_; }
    // Lower-case hexadecimal; empty when the dictionary's was not valid.
    const QString& trackID() const { return trackID_; }
    const QUrl& url() const { return url_; }
    // The missing file's path; empty when the location is no file URL.
    QString path() const;
    // As a saved result keeps it; the constructor reads it back.
    QVariantMap savedDictionary() const;

    bool isMarked() const { return isMarked_.load(); }
    void setIsMarked(bool marked) { isMarked_.store(marked); }

private:
    QString songName_;
    QString album_;
    QString artist_;
    QString trackID_;
    QUrl url_;
    std::atomic<bool> isMarked_{true};
};

using KZDeadTrackItemRef = std::shared_ptr<KZDeadTrackItem>;

// What a removal sends: the identifiers of the marked tracks, one per line
// without a final line feed, and the indexes of those tracks.
struct KZDeadTracksToRemove {
    QString trackIDs;
    std::vector<std::size_t> indexes;
};
KZDeadTracksToRemove KZMarkedDeadTracks(const std::vector<KZDeadTrackItemRef>& deads);
// Removes the entries at `indexes` (ascending), keeping the others in order.
void KZRemoveDeadTracks(std::vector<KZDeadTrackItemRef>& deads, const std::vector<std::size_t>& indexes);
