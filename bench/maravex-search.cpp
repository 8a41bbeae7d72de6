// maravex-search: the duplicate search engine without windows.
//
//   maravex-search [-0] [--found-order] [--folders] [--criteria FILE.plist] [--unique] [--save FILE]
//                  [--music-library FILE.xml] PATH...
//
// Searches the given folders (a photo library package is searched as a
// photo library, see consolesearch::commandLineSource) and the music library
// of an XML export (its pictures and its tracks are found like any file, and
// tracks whose file is gone are named on standard error as missing tracks)
// with the preset criteria of the search type (or the
// criteria dictionary of FILE.plist, whose key "check_image_metadata_option"
// set to 1 compares pictures by their pixels in this run; without it a photo
// library's pictures are compared as the preference says, by their bytes
// where it says to ask, since nobody can answer), prints every found item as
// "groupID<TAB>size<TAB>path" and ends with one summary line on standard
// error. The engine numbers its
// groups in the order the comparisons finish, which depends on thread
// timing, so by default the groups are printed by path (members by path,
// groups by their first member) and numbered from 1 in that order: two runs
// over one tree print the same bytes. --found-order prints the found list as
// the engine made it. A name may hold any byte but "/" and
// NUL, a newline too: without -0 control bytes and backslashes in a path are
// escaped (\n, \t, \\, \xHH), so every line is one record; with -0 each
// record ends with NUL and the path's bytes are printed as they are.
// Ctrl-C, SIGTERM and SIGHUP stop the search; what was found until then is
// still printed. A record that could not be written ends the run with
// status 1, said on standard error.
// --save also writes the result, marked as a result window first marks it,
// to a saved-result file that the program opens.
//
// Two builds share this file. maravex-search links the engine alone, so a
// search starts without the graphics, image-metadata and audio-tag
// libraries (about 10 MiB resident); pictures compared by their pixels load
// the decoder module beside it on the first picture. Saving builds the
// result window's model of the found items, which needs those libraries:
// maravex-search-full has them linked, and a run with --save becomes a run
// of it (the same arguments, the same output).

#include "ConsoleSearch.h"
#include "engine/KZContentReader.h"
#include "engine/KZFoundListParcel.h"
#include "engine/KZProgressControl.h"
#include "engine/KZSearchController.h"
#include "media/KZiTunesLibrary.h"
#include "media/KZiTunesSupport.h"
#include "platform/FileStat.h"
#include "platform/MallocArenas.h"
#include "platform/NotificationCenter.h"
#include "platform/OperationQueue.h"
#include "platform/Packages.h"
#include "platform/Paths.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"
#include "services/KZOpenFileLimit.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZDefaultsRegistry.h"
#include "settings/KZPlistValue.h"
#include "settings/KZNotificationNames.h"
#include "settings/KZSearchCriteria.h"
#include "settings/KZSearchStuff.h"
#include "settings/KZSourceItem.h"

#ifdef KZ_SEARCH_TOOL_SAVES
#include "ConsoleSave.h"
#endif

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using namespace consolesearch;

void complain(const std::string& what)
{
    std::fprintf(stderr, "maravex-search: %s\n", what.c_str());
}

// Every comparison group that looks for the same value looks for unique
// values instead.
QVariantMap uniqueCriteria(QVariantMap criteria)
{
    for (auto it = criteria.begin(); it != criteria.end(); ++it) {
        if (it->typeId() != QMetaType::QVariantMap)
            continue;
        QVariantMap group = it->toMap();
        if (group.value(str("isSame")).toBool()) {
            group.insert(str("isSame"), false);
            group.insert(str("isUnique"), true);
            *it = group;
        }
    }
    return criteria;
}

constexpr int kExitIncomplete = 3;

// The music library's media folder stands for the library among the
// sources; an export that names none stands for its own folder.
std::optional<fs::path> musicLibraryMediaFolder(const fs::path& file)
{
    // The reason, which names the file, is said once, by the reading; a file
    // that is not there is not refused, and is read once more for it.
    static std::atomic<bool> told{false};
    KZiTunesSupport::setRefusalTeller([](const fs::path&, const QString& reason) {
        told = true;
        complain(reason.toStdString());
    });
    const auto library = KZiTunesSupport::sharedControl().library();
    if (!library) {
        if (!told) {
            QString error;
            KZiTunesLibrary::fromFile(file, &error);
            complain(error.toStdString());
        }
        return std::nullopt;
    }
    const fs::path media = library->musicFolderLocation().empty() ? file.parent_path()
                                                                  : library->musicFolderLocation();
    std::fprintf(stderr, "music library %s: %zu tracks with a file, media folder %s\n", file.c_str(),
                 library->mediaItems().size(), media.c_str());
    return media;
}

int usage()
{
    std::fprintf(stderr,
                 "usage: maravex-search [-0] [--found-order] [--folders] [--criteria FILE.plist] [--unique] "
                 "[--save FILE] [--music-library FILE.xml] PATH...\n"
                 "\n"
                 "Prints one record per found item: group, size and path, separated by TAB. Groups are\n"
                 "ordered by their first member's path and numbered from 1 in that order, members by path.\n"
                 "  -0          end each record with NUL instead of a newline and print paths as they are\n"
                 "              (without -0, control bytes and backslashes in paths are escaped as\n"
                 "              \\n, \\t, \\r, \\\\ and \\xHH)\n"
                 "  --found-order  print the found list in the engine's order, with its group numbers\n"
                 "              (these depend on thread timing)\n"
                 "  --folders   look for duplicate folders instead of files\n"
                 "  --criteria  the search criteria from a property list, which must switch on at least\n"
                 "              one criterion; its key \"check_image_metadata_option\" (1 pixels, 2 bytes)\n"
                 "              sets how pictures are compared for this run\n"
                 "  --unique    look for items without a duplicate\n"
                 "  --save      also save the result, with its default marks, to FILE (.maravex)\n"
                 "  --music-library  also search the music library of this XML export\n"
                 "A PATH that is a photo library package (.photoslibrary) is searched as a photo library,\n"
                 "a saved-search file (.savedSearch) as the items its query selects. A photo library's pictures\n"
                 "are compared by their pixels or bytes as the preference says; where it says to ask, by\n"
                 "their bytes, as nobody can answer here. Standard error says which was used.\n"
                 "\n"
                 "Exit status: 0 done, 1 nothing could be searched or not every record could be written\n"
                 "to standard output, 2 usage, %d some files or folders\n"
                 "could not be read or a folder named was not searched (the result may lack duplicates),\n"
                 "130 stopped (Ctrl-C, SIGINT, SIGTERM or SIGHUP: what was found until then is printed).\n",
                 kExitIncomplete);
    return 2;
}

struct Record {
    quint64 group;
    quint64 size;
    std::string path;
};

// The records by path: members of a group by path, groups (an item without
// a group is one of its own) by their first member, numbered from 1 in that
// order. Nothing in it depends on which comparison finished first.
std::vector<Record> inPathOrder(std::vector<Record> records)
{
    std::map<quint64, std::vector<Record>> byGroup;
    std::vector<std::vector<Record>> groups;
    for (Record& record : records) {
        if (record.group == 0)
            groups.push_back({std::move(record)});
        else
            byGroup[record.group].push_back(std::move(record));
    }
    for (auto& [id, members] : byGroup)
        groups.push_back(std::move(members));
    for (std::vector<Record>& members : groups)
        std::sort(members.begin(), members.end(),
                  [](const Record& a, const Record& b) { return a.path < b.path; });
    std::sort(groups.begin(), groups.end(), [](const auto& a, const auto& b) { return a.front().path < b.front().path; });
    std::vector<Record> out;
    out.reserve(records.size());
    quint64 number = 0;
    for (std::vector<Record>& members : groups) {
        const quint64 id = members.front().group == 0 ? 0 : ++number;
        for (Record& record : members) {
            record.group = id;
            out.push_back(std::move(record));
        }
    }
    return out;
}

#ifndef KZ_SEARCH_TOOL_SAVES
// The run goes on as the build that can save, with the same arguments.
int runAsFullBuild(char** argv)
{
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    const fs::path full = (ec ? fs::path(argv[0]).parent_path() : self.parent_path()) / "maravex-search-full";
    ::execv(full.c_str(), argv);
    complain(full.native() + ": " + std::strerror(errno) + " (--save needs it)");
    return 1;
}
#endif

} // namespace

int main(int argc, char** argv)
{
    reportClosedReaders();
    platform::limitMallocArenas();
    // Before anything opens a file: a deep tree keeps many folders open.
    const KZOpenFileLimit limit = KZRaiseOpenFileLimit();
    if (!limit.sufficesForSearch()) {
        std::fprintf(stderr,
                     "maravex-search: only %llu files may be open at once, a search needs at least %llu "
                     "(raise the limit with ulimit -n)\n",
                     static_cast<unsigned long long>(limit.soft),
                     static_cast<unsigned long long>(KZOpenFileLimit::kNeededForSearch));
        return 1;
    }
    bool nulTerminated = false;
    bool foundOrder = false;
    bool folders = false;
    bool unique = false;
    fs::path criteriaFile;
    fs::path saveFile;
    fs::path musicLibrary;
    std::vector<fs::path> paths;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-0") {
            nulTerminated = true;
        } else if (arg == "--found-order") {
            foundOrder = true;
        } else if (arg == "--folders") {
            folders = true;
        } else if (arg == "--unique") {
            unique = true;
        } else if (arg == "--criteria") {
            if (++i >= argc)
                return usage();
            criteriaFile = argv[i];
        } else if (arg == "--save") {
            if (++i >= argc)
                return usage();
            saveFile = argumentPath(argv[i]);
        } else if (arg == "--music-library") {
            if (++i >= argc)
                return usage();
            musicLibrary = argumentPath(argv[i]);
        } else if (arg == "--") {
            for (++i; i < argc; ++i)
                paths.push_back(argumentPath(argv[i]));
        } else if (arg.size() > 1 && arg.front() == '-') {
            return usage();
        } else {
            paths.push_back(argumentPath(argv[i]));
        }
    }
    if (paths.empty() && musicLibrary.empty())
        return usage();
    // From here on a signal stops the run, whatever step it is at.
    stopOnSignals(true);
#ifndef KZ_SEARCH_TOOL_SAVES
    if (!saveFile.empty())
        return runAsFullBuild(argv);
#endif
    QCoreApplication app(argc, argv);
    const platform::ApplicationWorkGuard applicationWork;
    removeLeftoversOfKilledRuns();

    // A criteria file may also say how pictures are compared, under the
    // preference's own key (1 by their pixels, 2 by their bytes). It holds
    // for this run only: the run reads a copy of the user's preferences.
    // Made only when needed: it lasts until the end of the run.
    std::optional<platform::PrivateTemporaryFolder> runDefaults;
    std::optional<qint64> imageOption;
    if (!criteriaFile.empty()) {
        const std::optional<QVariantMap> file = platform::PropertyList::readDictionary(criteriaFile);
        if (file && file->contains(KZDefaultsKey::check_image_metadata_option))
            imageOption = KZPlistValue::integerValue(*file, KZDefaultsKey::check_image_metadata_option);
    }
    // Nobody is there to answer how a photo library's pictures are compared:
    // the run's copy of the preferences says it instead.
    const bool photoLibraryNamed = namesPhotoLibrary(paths);
    if ((imageOption || !musicLibrary.empty() || photoLibraryNamed) && !usePrivatePreferences(runDefaults, kSearchToolFolder, complain))
        return 1;

#ifdef KZ_SEARCH_TOOL_SAVES
    // A saved result keeps the labels' names: the string tables are needed.
    KZDefaultsRegistry::setupDefaultsPreferences();
    consolesave::prepareProcess();
#else
    KZDefaultsRegistry::setupSearchDefaults(platform::UserDefaults::standard());
#endif
    tellPhotoLibraryRefusals(complain);
    if (imageOption)
        platform::UserDefaults::standard().setValue(KZDefaultsKey::check_image_metadata_option, *imageOption);
    const qint64 imagePreference
        = platform::UserDefaults::standard().integerForKey(KZDefaultsKey::check_image_metadata_option);
    const qint64 imageUsed = photoLibraryNamed ? answerHowPicturesCompare() : imagePreference;
    if (!musicLibrary.empty()) {
        platform::UserDefaults::standard().setValue(KZDefaultsKey::iTunes_library_path,
                                                    platform::pathText(musicLibrary));
        // Missing tracks are listed without a question (in this run's copy).
        platform::UserDefaults::standard().setValue(KZDefaultsKey::ask_show_deads, true);
    }

    std::vector<KZSourceItemRef> sources;
    // A folder named but not searched (missing, unreadable, refused) leaves
    // the result without its duplicates, as an unreadable one inside does.
    quint64 refused = 0;
    for (const fs::path& path : paths) {
        if (KZSourceItemRef source = commandLineSource(path, complain))
            sources.push_back(std::move(source));
        else
            ++refused;
    }
    if (!musicLibrary.empty()) {
        const std::optional<fs::path> media = musicLibraryMediaFolder(musicLibrary);
        if (!media)
            return 1;
        sources.push_back(KZSourceItem::create({{str("url"), QVariant::fromValue(*media)}, {str("iTunesLibValue"), 1}}));
    }
    if (sources.empty()) {
        complain("nothing could be searched");
        return 1;
    }

    auto stuff = KZSearchStuff::searchStuff();
    const quint64 type = folders ? KZSearchStuff::duplicateFolders : KZSearchStuff::duplicateFiles;
    stuff->setSearchType(type);
    stuff->setSources(sources);
    stuff->globalExclusions();
    std::optional<QVariantMap> criteria;
    if (!criteriaFile.empty()) {
        QString error;
        criteria = platform::PropertyList::readDictionary(criteriaFile, &error);
        if (!criteria) {
            complain(error.toStdString()); // it names the file
            return 1;
        }
        // Unknown keys are passed over, and an empty dictionary, or a group
        // switched on without its settings, compares nothing: every file
        // would come out alone, as if it had no copy.
        const KZSearchCriteria known(*criteria);
        if (!known.isDeads() && !known.decidesAnything()) {
            const QStringList empty = known.groupsWithoutSettings();
            if (empty.isEmpty())
                complain(criteriaFile.native()
                         + ": switches on no search criterion (such as \"isSize\" with \"sizeStruct\", or "
                           "\"isContent\" with \"contentStruct\")");
            else
                complain(criteriaFile.native() + ": switches on \"" + empty.join(str("\", \"")).toStdString()
                         + "\" without settings that compare or filter anything (such as \"isSame\" or a "
                           "\"whichItem\" in its dictionary), so no search criterion is on");
            return 1;
        }
    } else {
        criteria = stuff->criteriaWithTag(type);
        if (!criteria) {
            complain("no preset criteria for this search type (resources/criteria.plist)");
            return 1;
        }
    }
    stuff->setCriteria(unique ? uniqueCriteria(*criteria) : *criteria);
    tellHowPicturesCompare(sources, *stuff, imagePreference, imageUsed);

    auto progress = std::make_shared<ConsoleProgress>();
    ReportingReader reader(complain);
    QElapsedTimer clock;
    clock.start();
    const quint64 bytesBefore = KZContentReader::totalBytesRead();
    const QVariantMap result = runSearch(app, stuff, reader, progress);

    KZFoundList list = KZFoundListParcel::take(result.value(str("KZResultFoundItems")));
    std::vector<Record> records;
#ifdef KZ_SEARCH_TOOL_SAVES
    consolesave::FoundItems toSave;
#endif
    while (std::unique_ptr<TreeToCheck> node = list.takeFirst()) {
#ifdef KZ_SEARCH_TOOL_SAVES
        if (!saveFile.empty())
            toSave.add(*node, list);
#endif
        records.push_back({node->groupID, node->item->totSize(), node->item->urlBytes()});
    }
    if (!foundOrder)
        records = inPathOrder(std::move(records));
    std::set<quint64> groups;
    const quint64 found = records.size();
    for (const Record& record : records) {
        const std::string path = nulTerminated ? record.path : escapedPath(record.path);
        std::printf("%llu\t%llu\t", static_cast<unsigned long long>(record.group),
                    static_cast<unsigned long long>(record.size));
        std::fwrite(path.data(), 1, path.size(), stdout);
        std::fputc(nulTerminated ? '\0' : '\n', stdout);
        if (record.group != 0)
            groups.insert(record.group);
    }
    const bool written = recordsWritten(complain);
#ifdef KZ_SEARCH_TOOL_SAVES
    if (!saveFile.empty()) {
        QString error, leftOut;
        if (!toSave.save(result, sources, saveFile, &error, &leftOut)) {
            complain(error.toStdString());
            return 1;
        }
        if (!leftOut.isEmpty())
            complain(escapedPath(saveFile.native()) + ": " + leftOut.toStdString());
    }
#endif

    const QVariantList deads = result.value(str("KZResultFoundDeads")).toList();
    for (const QVariant& dead : deads) {
        const QVariantMap track = dead.toMap();
        std::fprintf(stderr, "missing track %s: %s\n", track.value(str("trackID")).toString().toUtf8().constData(),
                     escapedPath(track.value(str("url")).value<fs::path>().native()).c_str());
    }
    if (!deads.isEmpty())
        std::fprintf(stderr, "missing tracks: %lld\n", static_cast<long long>(deads.size()));

    const bool stopped = result.value(str("KZResultSearchWasStoppedByUser")).toBool();
    const quint64 unreadable = result.value(str("KZResultUnreadableItemsCount")).toULongLong();
    const quint64 unlisted = result.value(str("KZResultUnlistedFoldersCount")).toULongLong();
    // A saved search that could not be read searched nothing: said above by
    // the engine, and counted here so that the status does not claim success.
    const QStringList skippedSources = tellSkippedSources(result, complain);
    const quint64 skipped = quint64(skippedSources.size()) + refused;
    // Said once, after the counts: "incomplete" would undersell it.
    const bool nothingSearched = quint64(skippedSources.size()) >= sources.size();
    const bool incomplete = !nothingSearched && (unreadable || unlisted || skipped);
    std::fprintf(stderr,
                 "%schecked %llu, found %llu, groups %llu, bytes read %llu, seconds %.3f, "
                 "files not read %llu, folders not listed %llu, sources not searched %llu\n",
                 stopped ? "stopped: " : (incomplete ? "incomplete: " : ""),
                 static_cast<unsigned long long>(result.value(str("KZResultCheckedItemsCount")).toULongLong()),
                 static_cast<unsigned long long>(found), static_cast<unsigned long long>(groups.size()),
                 static_cast<unsigned long long>(KZContentReader::totalBytesRead() - bytesBefore),
                 double(clock.nsecsElapsed()) / 1e9, static_cast<unsigned long long>(unreadable),
                 static_cast<unsigned long long>(unlisted), static_cast<unsigned long long>(skipped));
    if (!written)
        return 1;
    if (stopped)
        return 130;
    if (nothingSearched) {
        complain("nothing could be searched");
        return 1;
    }
    return incomplete ? kExitIncomplete : 0;
}
