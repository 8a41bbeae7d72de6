#pragma once

#include <QHash>
#include <QString>
#include <QVariantMap>

#include <atomic>
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
    // library export. An XML export in the plain form the music application
    // writes is read as it streams by, track by track, up to
    // kMaxExportSize, whatever dates, line ends and texts its values hold;
    // any other form (binary, comments, CDATA, a DOCTYPE of its own,
    // attributes and the like) is read whole by the property-list reader,
    // which costs many times more and so takes files only up to
    // kMaxOtherExportSize. A raised `stop` ends the reading before the next
    // piece of the file (null, the reason saying so).
    static std::shared_ptr<const KZiTunesLibrary> fromFile(const std::filesystem::path& file,
                                                           QString* error = nullptr,
                                                           const std::atomic<bool>* stop = nullptr);
    // The two ways fromFile takes, apart, so that they can be held to the
    // same answer. fromStream sets *otherForm, and answers null, for a file
    // it leaves to the other way, with *error saying where the file leaves
    // the music application's form ("line 12: a comment"); fromWholeList
    // reads any form up to kMaxOtherExportSize.
    static std::shared_ptr<const KZiTunesLibrary> fromStream(const std::filesystem::path& file, QString* error,
                                                             bool* otherForm);
    static std::shared_ptr<const KZiTunesLibrary> fromWholeList(const std::filesystem::path& file,
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

    // An export spends one to three kilobytes on each track: a gigabyte is
    // several hundred thousand tracks, beyond the largest real libraries.
    static constexpr quint64 kMaxExportSize = quint64(1) << 30;
    // Read whole, an export of many short values costs up to some eighteen
    // times its size.
    static constexpr quint64 kMaxOtherExportSize = quint64(5) << 20;

private:
    // fromStream, ended before the next piece of the file once `stop` is
    // raised.
    static std::shared_ptr<const KZiTunesLibrary> streamed(const std::filesystem::path& file, QString* error,
                                                           bool* otherForm, const std::atomic<bool>* stop);
    // Tracks already in the library's order.
    static std::shared_ptr<const KZiTunesLibrary> withTracks(const std::filesystem::path& file,
                                                             std::filesystem::path musicFolder,
                                                             std::vector<KZiTunesTrack> tracks);

    std::filesystem::path file_;
    std::filesystem::path musicFolder_;
    std::vector<KZiTunesTrack> tracks_;
    QHash<QString, size_t> indexByID_;
};
