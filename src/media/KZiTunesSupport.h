#pragma once

#include <QHash>
#include <QString>
#include <QVariantMap>

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
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

// The user's music library, read from its XML export at the path of the
// default "iTunes_library_path" (empty: the usual place under the home
// folder).
//
// Thread safety: every method may be called from any thread. The library is
// read on first use and kept until noteUpdatedLibrary() or a change of the
// path; a new reading is swapped in under the lock, and callers that hold
// the previous one keep using it unchanged.
class KZiTunesSupport {
public:
    // Always an instance; tests may replace it (nullptr restores a fresh one).
    static KZiTunesSupport& sharedControl();
    static void setSharedControl(std::unique_ptr<KZiTunesSupport> instance);

    // Tells the file services where the media folder is, so that the global
    // exclusion of that folder works. Called once at start-up.
    static void installMediaFolderProvider();
    // Reads the library again after the program changed it through its
    // application, so that deleted tracks are not offered again. Called once
    // at start-up.
    static void followLibraryChanges();

    // The export that will be read.
    static std::filesystem::path libraryFilePath();

    // The current reading; null when there is no readable library (a later
    // call tries again once the file has changed).
    std::shared_ptr<const KZiTunesLibrary> library();
    // Drops the reading, so that the next call reads the library again.
    void noteUpdatedLibrary();

    std::filesystem::path musicFolderLocation();
    std::vector<KZiTunesTrack> mediaItems();
    std::optional<KZiTunesTrack> songMetadataWithTrackID(const QString& trackID);
    // "iTunes Library -> Album" for a track with an album title; empty for
    // a track without one or not in the library.
    std::optional<QString> libraryPositionWithTrackID(const QString& trackID);

private:
    std::mutex lock_;
    std::shared_ptr<const KZiTunesLibrary> library_;
    // The file as it was when it last failed to read: not read again until
    // it changes.
    std::optional<std::pair<std::filesystem::path, std::string>> failedOn_;
};
