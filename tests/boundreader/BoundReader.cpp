// kz_bound_reader READER FILE: runs one of the program's readers of its
// input on FILE, as the program runs it, and prints "read" or
// "refused<TAB>reason". The input cost bound test runs it in a child for
// each reader and shape of input, and holds the child's peak memory and time
// to what the file's bytes allow.
#include "engine/KZMDQuery.h"
#include "media/KZMusicFolderScan.h"
#include "media/KZPhotosSupport.h"
#include "media/KZiTunesLibrary.h"
#include "platform/BinaryPropertyListReader.h"
#include "platform/Bookmark.h"
#include "platform/FileOps.h"
#include "platform/MallocArenas.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"
#include "removal/KZRemovalJournal.h"
#include "removal/KZRestoreList.h"
#include "removal/KZUndoFile.h"
#include "resultfiles/KZSavedResultReopen.h"

#include <QCoreApplication>
#include <QDateTime>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <string>

namespace fs = std::filesystem;

namespace {

// The reason, or empty when the reader took the file.
using Reader = std::function<QString(const fs::path& file)>;

QString savedResult(const fs::path& file, bool rebuild)
{
    QString error;
    const std::optional<KZSavedResult> saved = KZSavedResultReopen::readFile(file, &error);
    if (!saved)
        return error;
    if (rebuild) {
        const KZReopenedResult rebuilt =
            KZSavedResultReopen::rebuild(*saved, KZSavedResultReopen::resolveSources(saved->sources), {});
        std::printf("rebuilt %llu items\n", static_cast<unsigned long long>(rebuilt.itemsCount));
    }
    return {};
}

const std::map<std::string, Reader>& readers()
{
    static const std::map<std::string, Reader> all{
        {"saved-result", [](const fs::path& file) { return savedResult(file, false); }},
        {"saved-result-in-order",
         [](const fs::path& file) {
             platform::recordsReadInParallelFrom = UINT64_MAX;
             return savedResult(file, false);
         }},
        {"saved-result-reopened", [](const fs::path& file) { return savedResult(file, true); }},
        {"bookmark",
         [](const fs::path& file) {
             QString error;
             const std::optional<QByteArray> data = platform::readRegularFile(file, UINT32_MAX, &error);
             if (!data)
                 return error;
             return platform::bookmarkTarget(*data, &error) ? QString() : error;
         }},
        {"undo-file",
         [](const fs::path& file) {
             QString error;
             return KZUndoFile::read(file, &error) ? QString() : error;
         }},
        {"removal-journal",
         [](const fs::path& file) {
             QString error;
             return KZRemovalJournal::read(file, &error) ? QString() : error;
         }},
        {"restore-listing",
         [](const fs::path& file) {
             const KZRestoreList::Row row = KZRestoreList::rowOf(file);
             return row.problem;
         }},
        {"defaults",
         [](const fs::path& file) {
             platform::UserDefaults defaults(file);
             const auto reset = defaults.takeReset();
             return reset ? reset->reason : QString();
         }},
        {"criteria",
         [](const fs::path& file) {
             QString error;
             return platform::PropertyList::readFile(file, &error) ? QString() : error;
         }},
        {"saved-search",
         [](const fs::path& file) {
             QString error;
             KZMDQuery::Options options;
             options.home = fs::temp_directory_path();
             options.now = QDateTime::currentDateTimeUtc();
             // Told with the file's name, as the search tells it.
             return KZMDQuery::run(file, options, &error)
                 ? QString()
                 : QStringLiteral("“%1”: %2").arg(QString::fromStdString(file.filename().native()), error);
         }},
        {"music-library-export",
         [](const fs::path& file) {
             QString error;
             return KZiTunesLibrary::fromFile(file, &error) ? QString() : error;
         }},
        {"music-folder-scan",
         [](const fs::path& file) {
             // Never refuses: a folder it cannot find is none.
             KZMusicFolderScan::musicFoldersIn(file, KZiTunesLibrary::kMaxExportSize);
             return QString();
         }},
        {"photo-library",
         [](const fs::path& library) {
             QString error;
             KZPhotosSupport::sharedControl().photosAlbumsWithPath(library);
             return QString();
         }},
    };
    return all;
}

} // namespace

int main(int argc, char** argv)
{
    platform::limitMallocArenas();
    QCoreApplication app(argc, argv);
    if (argc != 3 || !readers().count(argv[1])) {
        std::fprintf(stderr, "usage: kz_bound_reader READER FILE\n");
        return 2;
    }
    const QString refused = readers().at(argv[1])(fs::path(argv[2]));
    if (refused.isEmpty())
        std::printf("read\n");
    else
        std::printf("refused\t%s\n", refused.toUtf8().constData());
    return 0;
}
