// How long a large saved result takes to reopen. A tree of files in
// duplicate groups is written, saved as a result, and read back and rebuilt
// against the disk as the program and maravex-remove do, in three shapes:
//
// - pairs:       N files in groups of two;
// - one group:   N copies of one file in a single group;
// - gone:        N records in one folder, half of whose files were deleted
//                after saving (each lost record looks for a rename there);
// - renamed:     N files in pairs, the searched folder renamed after saving
//                (each record is followed through the renamed folder);
// - crafted:     the records of "gone", each bookmark given a record of the
//                folders above of its own, as a crafted file may hold: each
//                lost record walks its own way down, which costs no more
//                than its bytes.
//
// Bookmarks are made as the program makes them, with the folders above.
//
//   reopen_bench [--files N] [--folder DIR]
//
// N defaults to 100,000; the tree is made in DIR (default: a new folder in
// the temporary folder) and removed afterwards.

#include "platform/BinaryPropertyListReader.h"
#include "platform/BinaryPropertyListWriter.h"
#include "platform/Bookmark.h"
#include "platform/FileStat.h"
#include "resultfiles/KZSavedResultFormat.h"
#include "resultfiles/KZSavedResultReopen.h"
#include "settings/KZTags.h"

#include <QCoreApplication>
#include <QVariantMap>
#include <QtEndian>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

void writeFile(const fs::path& path, const std::string& content)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, content.data(), content.size()) != ssize_t(content.size())) {
        std::fprintf(stderr, "reopen_bench: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
        std::exit(1);
    }
    ::close(fd);
}

KZSavedSource sourceRecord(const fs::path& folder)
{
    KZSavedSource source;
    source.alias = platform::createBookmark(folder, nullptr, platform::FoldersAbove::Recorded);
    source.wasSearched = true;
    return source;
}

// `files` files in `folder`, `groupSize` copies to a group, the first of
// each group kept.
KZSavedResult makeResult(const fs::path& folder, int files, int groupSize)
{
    fs::create_directories(folder);
    KZSavedResult result;
    result.sources = {sourceRecord(folder)};
    result.items.reserve(size_t(files));
    for (int i = 0; i < files; ++i) {
        const int group = i / groupSize;
        const fs::path file = folder / ("f" + std::to_string(i) + ".txt");
        writeFile(file, "group " + std::to_string(group));
        const auto st = platform::statPath(file, false);
        KZSavedItem item;
        item.alias = platform::createBookmark(file, nullptr, platform::FoldersAbove::Recorded);
        item.groupId = group + 1;
        item.countOfItemsInGroup = quint32(std::min(groupSize, files - group * groupSize));
        item.isMarked = i % groupSize != 0;
        item.fileTypeTag = KZTag::unlabeledFiles;
        item.locationLabelTag = 0;
        item.size = st->size;
        item.dateModified = double(st->modified.tv_sec) + double(st->modified.tv_nsec) / 1e9;
        result.items.push_back(std::move(item));
    }
    return result;
}

// `result` with each bookmark given a record of the folders above that no
// other holds (one folder, of an inode of its own, with nothing to prove it).
KZSavedResult withFoldersOfTheirOwn(KZSavedResult result)
{
    quint64 inode = 1;
    for (KZSavedItem& item : result.items) {
        QVariantMap map = platform::readBinaryPropertyList(item.alias)->toMap();
        QByteArray folders(10, '\0');
        folders[0] = 1;
        qToBigEndian(inode++, folders.data() + 1);
        map.insert(QStringLiteral("folders"), folders);
        platform::BinaryPropertyListWriter writer;
        item.alias = writer.finish(writer.value(map));
    }
    return result;
}

void run(const char* shape, const KZSavedResult& result, const fs::path& file)
{
    QString error;
    const QByteArray bytes = KZSavedResultFormat::encode(result, &error);
    writeFile(file, bytes.toStdString());
    const auto start = Clock::now();
    const std::optional<KZSavedResult> read = KZSavedResultReopen::readFile(file, &error);
    if (!read) {
        std::fprintf(stderr, "reopen_bench: %s\n", error.toUtf8().constData());
        std::exit(1);
    }
    const auto readDone = Clock::now();
    const KZReopenedResult rebuilt =
        KZSavedResultReopen::rebuild(*read, KZSavedResultReopen::resolveSources(read->sources), {});
    const auto end = Clock::now();
    std::printf("%-10s %8zu records  read %7.3f s  rebuild %7.3f s  items %llu\n", shape, result.items.size(),
                seconds(readDone - start), seconds(end - readDone),
                static_cast<unsigned long long>(rebuilt.itemsCount));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int files = 100000;
    fs::path root;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--files") && i + 1 < argc) {
            files = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--folder") && i + 1 < argc) {
            root = argv[++i];
        } else {
            std::fprintf(stderr, "usage: reopen_bench [--files N] [--folder DIR]\n");
            return 2;
        }
    }
    if (files < 2)
        files = 2;
    if (root.empty())
        root = fs::temp_directory_path() / ("maravex-reopen-bench-" + std::to_string(::getpid()));
    fs::create_directories(root);

    run("pairs", makeResult(root / "pairs", files, 2), root / "pairs.maravex");
    run("one group", makeResult(root / "one", files, files), root / "one.maravex");
    const KZSavedResult gone = makeResult(root / "gone", files, 2);
    for (int i = 0; i < files; i += 2)
        fs::remove(root / "gone" / ("f" + std::to_string(i) + ".txt"));
    run("gone", gone, root / "gone.maravex");
    run("crafted", withFoldersOfTheirOwn(gone), root / "crafted.maravex");
    const KZSavedResult renamed = makeResult(root / "searched", files, 2);
    fs::rename(root / "searched", root / "renamed");
    run("renamed", renamed, root / "renamed.maravex");

    std::error_code ec;
    fs::remove_all(root, ec);
    return 0;
}
