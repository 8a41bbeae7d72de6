#pragma once

#include <QHash>
#include <QString>
#include <QVariantMap>

#include <filesystem>
#include <memory>
#include <vector>

// One track of the music library that has a local file (the file may be gone).
struct KZiTunesTrack {
    QString trackID;              // persistent ID in lower-case hexadecimal, no leading zeros
    std::filesystem::path url;    // the file, as the bytes of its path
    QString songName, artist, album, genre; // empty when the library has none
    quint64 totalTime = 0;        // milliseconds
    quint32 bitRate = 0;          // kbit/s

    // Whole seconds, truncated.
    quint32 duration() const { return quint32(totalTime / 1000); }
};

// One reading of the library's XML property-list export. Immutable: a
// reload makes a new one, so a reader that holds it sees one whole library.
class KZiTunesLibrary {
public:
    // std::nullopt-like null with a reason when the file is not a music
    // library export.
    static std::shared_ptr<const KZiTunesLibrary> fromFile(const std::filesystem::path& file,
                                                           QString* error = nullptr);
    static std::shared_ptr<const KZiTunesLibrary> fromDictionary(const QVariantMap& root,
                                                                 const std::filesystem::path& file = {});

    // The persistent ID as a track identifier: "ff" for 255.
    static QString trackIDWithPersistentID(quint64 persistentID);

    const std::filesystem::path& file() const { return file_; }
    // The media folder; empty when the library names none.
    const std::filesystem::path& musicFolderLocation() const { return musicFolder_; }
    // Tracks with a local file, in the library's track-number order; URL and
    // remote tracks are left out.
    const std::vector<KZiTunesTrack>& mediaItems() const { return tracks_; }
    // Indexed once per reading.
    const KZiTunesTrack* trackWithID(const QString& trackID) const;

private:
    std::filesystem::path file_;
    std::filesystem::path musicFolder_;
    std::vector<KZiTunesTrack> tracks_;
    QHash<QString, size_t> indexByID_;
};
