#include "LibraryFixtures.h"

#include "platform/ChildProcess.h"
#include "platform/PropertyList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>

namespace fs = std::filesystem;

namespace kztest {

namespace {

std::string quoted(const QString& text)
{
    std::string out = "'";
    for (const char c : text.toStdString()) {
        out += c;
        if (c == '\'')
            out += '\'';
    }
    return out + "'";
}

void put16(std::string& out, unsigned value)
{
    out += char(value & 0xFF);
    out += char((value >> 8) & 0xFF);
}

void put32(std::string& out, quint32 value)
{
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

const char* const kTables[] = {"RKVersion", "RKMaster", "RKAlbum", "RKCustomSortOrder"};

const char* schemaOf(const std::string& table)
{
    if (table == "RKVersion")
        return "CREATE TABLE RKVersion (modelId INTEGER PRIMARY KEY, uuid VARCHAR, masterUuid VARCHAR, "
               "name VARCHAR, isInTrash INTEGER DEFAULT 0);\n";
    if (table == "RKMaster")
        return "CREATE TABLE RKMaster (modelId INTEGER PRIMARY KEY, uuid VARCHAR, imagePath VARCHAR, "
               "fileSize INTEGER, isInTrash INTEGER DEFAULT 0);\n";
    if (table == "RKAlbum")
        return "CREATE TABLE RKAlbum (modelId INTEGER PRIMARY KEY, uuid VARCHAR, name VARCHAR, "
               "albumType INTEGER, isInTrash INTEGER DEFAULT 0);\n";
    return "CREATE TABLE RKCustomSortOrder (modelId INTEGER PRIMARY KEY, containerUuid VARCHAR, "
           "objectUuid VARCHAR, orderNumber INTEGER);\n";
}

} // namespace

std::string runSQLiteScript(const fs::path& database, const std::string& script)
{
    const fs::path file = fs::path(database.native() + ".sql");
    {
        std::ofstream out(file, std::ios::binary);
        out << script;
    }
    const platform::ProcessOutput run = platform::runProcess(
        "/usr/bin/sqlite3", {"-batch", "-init", "/dev/null", database.native(), ".read " + file.native()},
        std::chrono::seconds(120));
    fs::remove(file);
    if (run.succeededQuietly())
        return {};
    return QString(run.error + QString::fromUtf8(run.standardError)).toStdString() + " (exit "
           + std::to_string(run.exitCode) + ")";
}

std::string runSQLiteScriptInWAL(const fs::path& database, const std::string& script)
{
    // Without the checkpoint on close the tool would fold the log into the
    // database and delete it.
    const std::string complaint = runSQLiteScript(
        database, ".dbconfig no_ckpt_on_close on\nPRAGMA journal_mode=WAL;\n" + script);
    fs::remove(fs::path(database.native() + "-shm"));
    return complaint;
}

void writeTinyImage(const fs::path& file, int shade, int width, int height)
{
    const quint32 rowBytes = quint32((width * 3 + 3) & ~3);
    const quint32 pixelBytes = rowBytes * quint32(height);
    std::string bmp = "BM";
    put32(bmp, 54 + pixelBytes);
    put32(bmp, 0);
    put32(bmp, 54);
    put32(bmp, 40);
    put32(bmp, quint32(width));
    put32(bmp, quint32(height));
    put16(bmp, 1);
    put16(bmp, 24);
    put32(bmp, 0);
    put32(bmp, pixelBytes);
    put32(bmp, 2835);
    put32(bmp, 2835);
    put32(bmp, 0);
    put32(bmp, 0);
    for (int y = 0; y < height; ++y) {
        std::string row(rowBytes, '\0');
        for (int x = 0; x < width * 3; ++x)
            row[size_t(x)] = char(shade & 0xFF);
        bmp += row;
    }
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bmp;
}

// ---- Photo library ------------------------------------------------------------------------

PhotosLibraryBuilder& PhotosLibraryBuilder::master(const QString& uuid, const QString& imagePath, bool inTrash)
{
    inserts_.push_back("INSERT INTO RKMaster (uuid, imagePath, fileSize, isInTrash) VALUES (" + quoted(uuid) + ", "
                       + quoted(imagePath) + ", 54, " + (inTrash ? "1" : "0") + ");\n");
    return *this;
}

PhotosLibraryBuilder& PhotosLibraryBuilder::version(const QString& uuid, const QString& masterUuid, bool inTrash)
{
    inserts_.push_back("INSERT INTO RKVersion (uuid, masterUuid, name, isInTrash) VALUES (" + quoted(uuid) + ", "
                       + quoted(masterUuid) + ", 'v', " + (inTrash ? "1" : "0") + ");\n");
    return *this;
}

PhotosLibraryBuilder& PhotosLibraryBuilder::album(const QString& uuid, const QString& name, int albumType)
{
    inserts_.push_back("INSERT INTO RKAlbum (uuid, name, albumType) VALUES (" + quoted(uuid) + ", " + quoted(name)
                       + ", " + std::to_string(albumType) + ");\n");
    return *this;
}

PhotosLibraryBuilder& PhotosLibraryBuilder::sortOrder(const QString& containerUuid, const QString& objectUuid)
{
    inserts_.push_back("INSERT INTO RKCustomSortOrder (containerUuid, objectUuid, orderNumber) VALUES ("
                       + quoted(containerUuid) + ", " + quoted(objectUuid) + ", 0);\n");
    return *this;
}

PhotosLibraryBuilder& PhotosLibraryBuilder::image(const QString& uuid, const std::string& relativePath,
                                                  const std::optional<QString>& container, int shade)
{
    const QString masterUuid = QStringLiteral("m-") + uuid;
    master(masterUuid, QString::fromStdString(relativePath));
    version(uuid, masterUuid);
    if (container)
        sortOrder(*container, uuid);
    images_.emplace_back(fs::path(relativePath), shade);
    return *this;
}

PhotosLibraryBuilder& PhotosLibraryBuilder::withoutTable(const std::string& table)
{
    leftOut_.push_back(table);
    return *this;
}

PhotosLibraryBuilder& PhotosLibraryBuilder::inWAL()
{
    walFrom_ = inserts_.size();
    return *this;
}

bool PhotosLibraryBuilder::kept(const std::string& insert) const
{
    return std::none_of(leftOut_.begin(), leftOut_.end(), [&](const std::string& table) {
        return insert.find("INTO " + table + " ") != std::string::npos;
    });
}

std::string PhotosLibraryBuilder::script() const
{
    std::string script = "BEGIN;\n";
    for (const char* table : kTables) {
        if (std::find(leftOut_.begin(), leftOut_.end(), table) == leftOut_.end())
            script += schemaOf(table);
    }
    const size_t end = walFrom_.value_or(inserts_.size());
    for (size_t i = 0; i < end; ++i) {
        if (kept(inserts_[i]))
            script += inserts_[i];
    }
    return script + "COMMIT;\n";
}

fs::path PhotosLibraryBuilder::build() const
{
    fs::create_directories(package_ / "database");
    fs::create_directories(package_ / "Masters");
    const fs::path database = package_ / "database" / "Photos.db";
    EXPECT_EQ(runSQLiteScript(database, script()), "") << "building " << package_;
    if (walFrom_) {
        std::string rows = "BEGIN;\n";
        for (size_t i = *walFrom_; i < inserts_.size(); ++i) {
            if (kept(inserts_[i]))
                rows += inserts_[i];
        }
        EXPECT_EQ(runSQLiteScriptInWAL(database, rows + "COMMIT;\n"), "") << "building " << package_;
    }
    for (const auto& [relative, shade] : images_)
        writeTinyImage(package_ / "Masters" / relative, shade);
    return package_;
}

// ---- Music library ------------------------------------------------------------------------

QString MusicLibraryBuilder::fileURL(const fs::path& path, bool localhost)
{
    const std::string& bytes = path.native();
    const QByteArray encoded = QByteArray(bytes.data(), qsizetype(bytes.size())).toPercentEncoding("/");
    return QString(QLatin1String(localhost ? "file://localhost" : "file://") + QString::fromLatin1(encoded));
}

QByteArray MusicLibraryBuilder::applicationExport(const fs::path& mediaFolder, int count,
                                                  const std::function<QByteArray(int)>& extra)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                     "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                     "<plist version=\"1.0\">\n<dict>\n"
                     "\t<key>Major Version</key><integer>1</integer>\n"
                     "\t<key>Minor Version</key><integer>1</integer>\n"
                     "\t<key>Application Version</key><string>1.4.5.7</string>\n"
                     "\t<key>Date</key><date>2024-03-01T10:00:00Z</date>\n"
                     "\t<key>Features</key><integer>5</integer>\n"
                     "\t<key>Show Content Ratings</key><true/>\n"
                     "\t<key>Library Persistent ID</key><string>0F1E2D3C4B5A6978</string>\n"
                     "\t<key>Music Folder</key><string>"
        + fileURL(mediaFolder, false).toUtf8() + "/</string>\n\t<key>Tracks</key>\n\t<dict>\n";
    QByteArray items;
    for (int i = 0; i < count; ++i) {
        const QByteArray id = QByteArray::number(1000 + 2 * i);
        const QByteArray n = QByteArray::number(i);
        const fs::path file = mediaFolder / ("Band & Co " + std::to_string(i % 97)) / ("Album " + std::to_string(i % 13))
            / (std::to_string(i) + " Song.m4a");
        const QByteArray location = fileURL(file, false).toUtf8().replace("&", "&#38;");
        xml += "\t\t<key>" + id + "</key>\n\t\t<dict>\n"
               "\t\t\t<key>Track ID</key><integer>" + id + "</integer>\n"
               "\t\t\t<key>Name</key><string>Song " + n + " &#38; Reprise</string>\n"
               "\t\t\t<key>Artist</key><string>Band &#38; Co " + QByteArray::number(i % 97) + "</string>\n"
               "\t\t\t<key>Album Artist</key><string>Band &#38; Co</string>\n"
               "\t\t\t<key>Album</key><string>Album " + QByteArray::number(i % 13) + "</string>\n"
               "\t\t\t<key>Genre</key><string>Rock</string>\n"
               "\t\t\t<key>Kind</key><string>AAC audio file</string>\n"
               "\t\t\t<key>Size</key><integer>" + QByteArray::number(4000000 + i) + "</integer>\n"
               "\t\t\t<key>Total Time</key><integer>" + QByteArray::number(180000 + 37 * i) + "</integer>\n"
               "\t\t\t<key>Track Number</key><integer>" + QByteArray::number(i % 12 + 1) + "</integer>\n"
               "\t\t\t<key>Year</key><integer>" + QByteArray::number(1990 + i % 30) + "</integer>\n"
               "\t\t\t<key>Date Modified</key><date>2019-05-04T10:11:12Z</date>\n"
               "\t\t\t<key>Date Added</key><date>2020-01-02T03:04:05Z</date>\n"
               "\t\t\t<key>Bit Rate</key><integer>256</integer>\n"
               "\t\t\t<key>Sample Rate</key><integer>44100</integer>\n"
               "\t\t\t<key>Release Date</key><date>2001-06-0" + QByteArray::number(i % 9 + 1)
            + "T12:00:00Z</date>\n"
               "\t\t\t<key>Artwork Count</key><integer>1</integer>\n"
               "\t\t\t<key>Sort Name</key><string>Song " + n + "</string>\n"
               "\t\t\t<key>Comments</key><string>Recorded live, take " + n + "</string>\n"
               "\t\t\t<key>Persistent ID</key><string>" + persistentIDText(0x00A0B0C0D0000000ULL + quint64(i)).toUtf8()
            + "</string>\n"
               "\t\t\t<key>Track Type</key><string>File</string>\n"
               "\t\t\t<key>Location</key><string>" + location + "</string>\n"
               "\t\t\t<key>File Folder Count</key><integer>5</integer>\n"
               "\t\t\t<key>Library Folder Count</key><integer>1</integer>\n"
            + (extra ? extra(i) : QByteArray()) + "\t\t</dict>\n";
        items += "\t\t\t\t<dict>\n\t\t\t\t\t<key>Track ID</key><integer>" + id + "</integer>\n\t\t\t\t</dict>\n";
    }
    xml += "\t</dict>\n\t<key>Playlists</key>\n\t<array>\n\t\t<dict>\n"
           "\t\t\t<key>Name</key><string>Library</string>\n"
           "\t\t\t<key>Master</key><true/>\n"
           "\t\t\t<key>Playlist ID</key><integer>77</integer>\n"
           "\t\t\t<key>Playlist Persistent ID</key><string>5A6B7C8D9E0F1A2B</string>\n"
           "\t\t\t<key>Visible</key><false/>\n"
           "\t\t\t<key>All Items</key><true/>\n"
           "\t\t\t<key>Playlist Items</key>\n\t\t\t<array>\n"
        + items + "\t\t\t</array>\n\t\t</dict>\n\t</array>\n</dict>\n</plist>\n";
    return xml;
}

QString MusicLibraryBuilder::persistentIDText(quint64 persistentID)
{
    return QStringLiteral("%1").arg(persistentID, 16, 16, QLatin1Char('0')).toUpper();
}

MusicLibraryBuilder& MusicLibraryBuilder::entry(quint64 number, const QVariantMap& entry)
{
    QVariantMap track = entry;
    track.insert(QStringLiteral("Track ID"), qint64(number));
    tracks_.insert(QString::number(number), track);
    return *this;
}

MusicLibraryBuilder& MusicLibraryBuilder::fileTrack(quint64 number, quint64 persistentID, const fs::path& file,
                                                    const QString& name, const QString& artist,
                                                    const QString& album, qint64 totalTimeMs, qint64 bitRate)
{
    QVariantMap track{
        {QStringLiteral("Persistent ID"), persistentIDText(persistentID)},
        {QStringLiteral("Track Type"), QStringLiteral("File")},
        {QStringLiteral("Location"), fileURL(file)},
        {QStringLiteral("Kind"), QStringLiteral("WAV audio file")},
    };
    const std::pair<const char*, QString> texts[] = {{"Name", name}, {"Artist", artist}, {"Album", album}};
    for (const auto& [key, value] : texts) {
        if (!value.isEmpty())
            track.insert(QLatin1String(key), value);
    }
    if (totalTimeMs)
        track.insert(QStringLiteral("Total Time"), totalTimeMs);
    if (bitRate)
        track.insert(QStringLiteral("Bit Rate"), bitRate);
    return entry(number, track);
}

QVariantMap MusicLibraryBuilder::dictionary() const
{
    QVariantMap root{
        {QStringLiteral("Major Version"), qint64(1)},
        {QStringLiteral("Minor Version"), qint64(1)},
        {QStringLiteral("Application Version"), QStringLiteral("12.9")},
        {QStringLiteral("Tracks"), tracks_},
        {QStringLiteral("Playlists"), QVariantList{}},
    };
    if (!mediaFolder_.empty())
        root.insert(QStringLiteral("Music Folder"), QString(fileURL(mediaFolder_) + QStringLiteral("/")));
    return root;
}

fs::path MusicLibraryBuilder::write(const fs::path& file) const
{
    fs::create_directories(file.parent_path());
    QString error;
    EXPECT_TRUE(platform::PropertyList::writeFile(file, dictionary(), platform::PropertyList::Format::Xml, &error))
        << error.toStdString();
    return file;
}

} // namespace kztest
