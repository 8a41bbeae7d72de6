// What reading a library costs as it grows: the images of a photo library
// judged by where their folders really are, and XML property lists (a music
// library's export, a preference file) with one large dictionary, read or
// refused. Each should grow with the input, not with its square. And what
// a small library costs when it claims much more than it holds: a sparse
// write-ahead log of many gigabytes, a view that never ends; each should
// cost what the library holds on disk, not what it claims.

#include "media/KZPhotosSupport.h"
#include "media/KZiTunesLibrary.h"
#include "media/KZSQLite.h"
#include "platform/ChildProcess.h"
#include "platform/PropertyList.h"

#include <QByteArray>
#include <QString>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// A library folder with `folders` year/month folders under Masters, and
// `images` images spread over them in one album.
struct PhotoLibrary {
    PhotoLibrary(int images, int folders)
    {
        std::string templ = (fs::temp_directory_path() / "maravex-bench-photos-XXXXXX").native();
        if (!::mkdtemp(templ.data()))
            std::abort();
        root = fs::canonical(templ);
        masters = root / "Masters";
        for (int f = 0; f < folders; ++f)
            fs::create_directories(masters / std::to_string(2000 + f / 12) / std::to_string(f % 12 + 1));
        albums.resize(1);
        albums.front().children.reserve(size_t(images));
        for (int i = 0; i < images; ++i) {
            const int f = i % folders;
            albums.front().children.push_back(
                {QString::number(i), QStringLiteral("%1/%2/IMG_%3.jpg").arg(2000 + f / 12).arg(f % 12 + 1).arg(i),
                 std::nullopt});
        }
    }
    ~PhotoLibrary() { fs::remove_all(root); }

    fs::path root;
    fs::path masters;
    std::vector<KZPhotosAlbum> albums;
};

void BM_PhotoImagesInsideTheLibrary(benchmark::State& state)
{
    const PhotoLibrary library(int(state.range(0)), 240);
    for (auto _ : state) {
        auto entries = KZPhotosSupport::entriesInsideLibrary(library.albums, library.masters, library.root);
        benchmark::DoNotOptimize(entries.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_PhotoImagesInsideTheLibrary)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond);

QByteArray dictionary(int keys, const QByteArray& value)
{
    QByteArray xml("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>");
    for (int k = 0; k < keys; ++k)
        xml += "<key>" + QByteArray::number(k) + "</key>" + value;
    return xml + "</dict></plist>";
}

// A music library's tracks: a dictionary keyed by track, about 1 KB each.
void BM_XmlTracksDictionary(benchmark::State& state)
{
    const QByteArray track = "<dict><key>Name</key><string>" + QByteArray(900, 'x') +
                             "</string><key>Size</key><integer>1234567</integer></dict>";
    const QByteArray xml = dictionary(int(state.range(0)), track);
    for (auto _ : state) {
        auto value = platform::PropertyList::fromData(xml);
        if (!value)
            state.SkipWithError("a real library was refused");
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(state.iterations() * xml.size());
}
BENCHMARK(BM_XmlTracksDictionary)->Arg(10000)->Arg(40000)->Unit(benchmark::kMillisecond);

// Bare keys: read while few, refused before parsing once packed.
void BM_XmlBareKeysDictionary(benchmark::State& state)
{
    const QByteArray xml = dictionary(int(state.range(0)), "<true/>");
    bool read = false;
    for (auto _ : state) {
        auto value = platform::PropertyList::fromData(xml);
        read = value.has_value();
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(state.iterations() * xml.size());
    state.SetLabel(read ? "read" : "refused");
}
BENCHMARK(BM_XmlBareKeysDictionary)->Arg(20000)->Arg(400000)->Arg(800000)->Unit(benchmark::kMillisecond);

// A folder with one small database made by the sqlite3 tool from `script`.
struct SmallDatabase {
    explicit SmallDatabase(const std::string& script)
    {
        std::string templ = (fs::temp_directory_path() / "maravex-bench-sqlite-XXXXXX").native();
        if (!::mkdtemp(templ.data()))
            std::abort();
        root = templ;
        file = root / "Photos.db";
        const auto made = platform::runProcess("/usr/bin/sqlite3", {file.native(), script}, std::chrono::seconds(30));
        if (!made.succeededQuietly())
            std::abort();
    }
    ~SmallDatabase() { fs::remove_all(root); }

    fs::path root;
    fs::path file;
};

long maxResidentKilobytes()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// A music library's export of range(0) tracks of about 800 bytes each, as
// the music application writes it, read from its file: it should cost a
// small multiple of its size, not the tree of every value it holds.
void BM_MusicLibraryExport(benchmark::State& state)
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
                      "\t<key>Music Folder</key><string>file:///home/someone/Music/</string>\n"
                      "\t<key>Tracks</key>\n\t<dict>\n";
    for (int i = 1; i <= int(state.range(0)); ++i) {
        const std::string n = std::to_string(i);
        xml += "\t\t<key>" + n + "</key>\n\t\t<dict>\n\t\t\t<key>Track ID</key><integer>" + n
            + "</integer>\n\t\t\t<key>Name</key><string>Song " + n + " &#38; more</string>\n"
              "\t\t\t<key>Artist</key><string>Some Artist</string>\n\t\t\t<key>Album</key><string>Some Album"
              "</string>\n\t\t\t<key>Kind</key><string>MPEG audio file</string>\n\t\t\t<key>Total Time</key>"
              "<integer>239900</integer>\n\t\t\t<key>Date Added</key><date>2019-05-04T10:11:12Z</date>\n"
              "\t\t\t<key>Bit Rate</key><integer>320</integer>\n\t\t\t<key>Persistent ID</key><string>"
            + std::to_string(1000000 + i) + "</string>\n\t\t\t<key>Track Type</key><string>File</string>\n"
            + "\t\t\t<key>Location</key><string>file:///home/someone/Music/Some%20Artist/Some%20Album/" + n
            + "%20Song.mp3</string>\n\t\t</dict>\n";
    }
    xml += "\t</dict>\n\t<key>Playlists</key><array/>\n</dict>\n</plist>\n";
    std::string templ = (fs::temp_directory_path() / "maravex-bench-export-XXXXXX").native();
    const int fd = ::mkstemp(templ.data());
    if (fd < 0 || ::write(fd, xml.data(), xml.size()) != ssize_t(xml.size()))
        std::abort();
    ::close(fd);
    const fs::path file = templ;
    const long before = maxResidentKilobytes();
    size_t tracks = 0;
    for (auto _ : state) {
        QString error;
        const auto library = KZiTunesLibrary::fromFile(file, &error);
        if (!library)
            state.SkipWithError("a real export was refused");
        else
            tracks = library->mediaItems().size();
    }
    state.SetBytesProcessed(state.iterations() * int64_t(xml.size()));
    state.counters["tracks"] = double(tracks);
    state.counters["file_MB"] = double(xml.size()) / (1 << 20);
    state.counters["peak_growth_MB"] = double(maxResidentKilobytes() - before) / 1024;
    fs::remove(file);
}

// A database in WAL mode beside a log of range(0) GB that holds nothing
// (`truncate -s`): read through its private copy.
void BM_SparseLogLibrary(benchmark::State& state)
{
    const SmallDatabase db("PRAGMA journal_mode=WAL; CREATE TABLE t (v TEXT); INSERT INTO t VALUES ('one');");
    const fs::path wal(db.file.native() + "-wal");
    const int fd = ::open(wal.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0 || ::ftruncate(fd, off_t(state.range(0)) << 30) != 0)
        std::abort();
    ::close(fd);
    bool read = false;
    for (auto _ : state) {
        read = KZSQLite::sharedControl().dataFromSQLDatabase(db.file, QStringLiteral("select v from t"),
                                                             QStringLiteral("v")).has_value();
    }
    state.SetLabel(read ? "read" : "refused");
    state.counters["max_rss_MB"] = double(maxResidentKilobytes()) / 1024.0;
}
BENCHMARK(BM_MusicLibraryExport)->Arg(40000)->Arg(250000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SparseLogLibrary)->Arg(1)->Arg(50)->Unit(benchmark::kMillisecond)->Iterations(3);

// A 20 KB database whose view never ends: refused at the output bound.
void BM_EndlessViewLibrary(benchmark::State& state)
{
    const SmallDatabase db("CREATE VIEW v AS WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) "
                           "SELECT x, 'a row of text that goes on' AS w FROM c;");
    bool refused = false;
    for (auto _ : state) {
        refused = !KZSQLite::sharedControl().dataFromSQLDatabase(db.file, QStringLiteral("select x, w from v"),
                                                                 QStringLiteral("x, w"));
    }
    state.SetLabel(refused ? "refused" : "read");
    state.counters["max_rss_MB"] = double(maxResidentKilobytes()) / 1024.0;
}
BENCHMARK(BM_EndlessViewLibrary)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
