// What reading a library costs as it grows: the images of a photo library
// judged by where their folders really are, and XML property lists (a music
// library's export, a preference file) with one large dictionary, read or
// refused. Each should grow with the input, not with its square.

#include "media/KZPhotosSupport.h"
#include "platform/PropertyList.h"

#include <QByteArray>
#include <QString>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

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

} // namespace

BENCHMARK_MAIN();
