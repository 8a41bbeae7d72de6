#pragma once

#include <QByteArray>
#include <QString>
#include <QVariantMap>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kztest {

// Runs an SQL script with the sqlite3 tool on `database` (created when
// missing). Answers the tool's complaint, empty on success.
std::string runSQLiteScript(const std::filesystem::path& database, const std::string& script);
// The same on a database switched to WAL mode, as a program that keeps it
// open leaves it: the script's changes stay in "<database>-wal" alone, and
// no "-shm" file is left beside it.
std::string runSQLiteScriptInWAL(const std::filesystem::path& database, const std::string& script);

// A picture small enough to write by hand: a width x height 24-bit BMP
// filled with one grey, so that two shades are two different files.
void writeTinyImage(const std::filesystem::path& file, int shade, int width = 2, int height = 2);

// A photo library package: the four tables its reader queries (with a few
// columns it does not read, as real libraries have) built with the sqlite3
// tool from a schema script, and tiny images under Masters/.
class PhotosLibraryBuilder {
public:
    explicit PhotosLibraryBuilder(std::filesystem::path package) : package_(std::move(package)) {}

    PhotosLibraryBuilder& master(const QString& uuid, const QString& imagePath, bool inTrash = false);
    PhotosLibraryBuilder& version(const QString& uuid, const QString& masterUuid, bool inTrash = false);
    PhotosLibraryBuilder& album(const QString& uuid, const QString& name, int albumType = 1);
    PhotosLibraryBuilder& sortOrder(const QString& containerUuid, const QString& objectUuid);
    // A picture with its master ("m-" + uuid) and version rows, its file
    // under Masters/, and its container when there is one.
    PhotosLibraryBuilder& image(const QString& uuid, const std::string& relativePath,
                                const std::optional<QString>& container = std::nullopt, int shade = 128);
    // Leaves one of the four tables out of the schema.
    PhotosLibraryBuilder& withoutTable(const std::string& table);
    // The rows added after this call live only in the database's WAL.
    PhotosLibraryBuilder& inWAL();

    // The schema and rows as one script (the rows before inWAL()).
    std::string script() const;
    // Writes the package; answers its path. A tool failure fails the test.
    std::filesystem::path build() const;

private:
    bool kept(const std::string& insert) const;

    std::filesystem::path package_;
    std::vector<std::string> inserts_;
    std::vector<std::pair<std::filesystem::path, int>> images_;
    std::vector<std::string> leftOut_;
    std::optional<size_t> walFrom_;
};

// A music library export as the music application writes it: an XML
// property list with "Music Folder" and "Tracks".
class MusicLibraryBuilder {
public:
    explicit MusicLibraryBuilder(std::filesystem::path mediaFolder = {}) : mediaFolder_(std::move(mediaFolder)) {}

    // "file://localhost/…" (or "file:///…") with every byte of the path
    // that is not plain ASCII percent-encoded.
    static QString fileURL(const std::filesystem::path& path, bool localhost = true);
    // 16 upper-case hexadecimal digits, as the export writes them.
    static QString persistentIDText(quint64 persistentID);

    // A track entry as it stands; the number is its "Track ID" and key.
    MusicLibraryBuilder& entry(quint64 number, const QVariantMap& entry);
    // A file track with the usual keys; empty texts are left out.
    MusicLibraryBuilder& fileTrack(quint64 number, quint64 persistentID, const std::filesystem::path& file,
                                   const QString& name, const QString& artist = {}, const QString& album = {},
                                   qint64 totalTimeMs = 0, qint64 bitRate = 0);

    QVariantMap dictionary() const;
    // Writes the export (XML); answers `file`.
    std::filesystem::path write(const std::filesystem::path& file) const;

    // `count` tracks, in files named under mediaFolder, as the music
    // application itself writes its export: the Apple DOCTYPE, tabs, "&#38;"
    // for "&", the usual keys of a track (Track ID, Name, Artist, Album, Size,
    // Total Time, Year, dates, Comments, Persistent ID, Track Type,
    // Location) and a Library playlist of them all. `extra(i)` adds key and
    // value elements to the i-th track.
    static QByteArray applicationExport(const std::filesystem::path& mediaFolder, int count,
                                        const std::function<QByteArray(int)>& extra = {});

private:
    std::filesystem::path mediaFolder_;
    QVariantMap tracks_;
};

} // namespace kztest
