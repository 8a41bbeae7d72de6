// maravex-remove: the removal engine without windows.
//
//   maravex-remove [--rule N] (--trash | --move-to DIR [--create-folders])
//                  [--rename] [--links] [--level L]
//                  [--pause-before-removal FILE] PATH...
//   maravex-remove --saved FILE [options as above, without PATH]
//
// Searches the given folders for duplicate files with the preset criteria
// (a path is taken as maravex-search takes it: a photo library package is
// searched as the library, and its pictures are tagged, never removed; a
// saved result's music-library tracks stay too),
// marks them by rule N (default: the default marks), removes the marked items
// with the given options and last-member level on the same engine as the
// removal panel, and prints one line per marked item:
// "removed|kept|failed<TAB>reason<TAB>path", the path with control bytes and
// backslashes escaped as maravex-search prints it. A summary with the time of the
// removal alone goes to standard error. Questions take their declining
// answer (keep the last member, stop before deleting anything for good);
// how a photo library's pictures are compared is answered as maravex-search
// answers it (consolesearch::answerHowPicturesCompare). A removal stopped
// before its end (a destination that is not there, a full disk) is named
// on standard error and ends the run with status 1. A search that could
// not read everything (a folder named that is missing or cannot be listed,
// a file that cannot be read) still removes what it found, and ends the
// run with status 3 as maravex-search's does. Ctrl-C, SIGTERM and SIGHUP
// stop the run as the panel's Stop button does, in every step: the item
// being removed is finished, every marked item is printed, and the run ends
// with status 130. A record that could not be written (a full disk, a
// closed reader) ends the run with status 1, said on standard error. What the run sets for itself (--level) never changes the
// user's preferences.
// With --pause-before-removal the tool waits, once the items are marked,
// until FILE exists, so that a script can change the tree in between.
// With --saved the items and marks come from a saved result instead of a
// search, reopened on the same core as the program's (what the reopening
// left out or unmarked is said on standard error); --rule then marks anew.

#include "ConsoleSearch.h"
#include "engine/KZContentReader.h"
#include "engine/KZFoundListParcel.h"
#include "engine/KZProgressControl.h"
#include "engine/KZSearchController.h"
#include "media/KZiTunesSupport.h"
#include "platform/FileStat.h"
#include "platform/MainThread.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/OperationQueue.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "removal/KZRemove.h"
#include "removal/KZRemoveCntrl.h"
#include "result/model/KZFoundItemsCntrl.h"
#include "result/model/KZMarkingRequest.h"
#include "resultfiles/KZSavedResultReopen.h"
#include "services/KZErrorDelegate.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZDefaultsRegistry.h"
#include "settings/KZNotificationNames.h"
#include "settings/KZSearchStuff.h"
#include "settings/KZSourceItem.h"

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
#include <mutex>
#include <set>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using namespace consolesearch;

void complain(const std::string& what)
{
    std::fprintf(stderr, "maravex-remove: %s\n", what.c_str());
}

// The panel of a terminal: a signal (see stopOnSignals) is its Stop button.
class ConsolePanel : public KZRemovalPanel {
public:
    void statusDidChange(const QString& key) override
    {
        if (verbose)
            std::fprintf(stderr, "%s\n", key.toUtf8().constData());
    }
    void workDidEnd() override
    {
        platform::runOnMain([] { QCoreApplication::quit(); });
    }
    bool verbose = false;
};

// The rules of the mark menu that need nothing but the result: the others
// name folders, a location or earlier marks, which no command line gives.
bool isToolRule(int rule)
{
    return rule == KZMarkRule::byDefault || rule == KZMarkRule::oldest || rule == KZMarkRule::newest
        || rule == KZMarkRule::random || rule == KZMarkRule::swap;
}

int usage()
{
    std::fprintf(stderr, "usage: maravex-remove [--rule N] (--trash | --move-to DIR [--create-folders]) [--rename] "
                         "[--links] [--level L] [--pause-before-removal FILE] (--saved FILE | PATH...)\n"
                         "\n"
                         "  --rule N    how the items are marked: 1 the default marks, 2 all but the newest copy,\n"
                         "              3 all but the oldest copy, 5 all but the copy in the last folder searched,\n"
                         "              7 a saved result's marks swapped in each group (with --saved); without it\n"
                         "              a search takes the default marks and a saved result keeps its own\n"
                         "\n"
                         "Prints one record per marked item: removed, kept or failed, the reason and the path,\n"
                         "separated by TAB. Control bytes and backslashes in a path are escaped as \\n, \\t,\n"
                         "\\r, \\\\ and \\xHH, so that every line is one record. A photo library package\n"
                         "(.photoslibrary) is searched as the library: its pictures are never removed, nor\n"
                         "are the tracks of a music library in a saved result; they are compared by their bytes\n"
                         "unless the preference says pixels.\n"
                         "\n"
                         "Exit status: 0 done, 1 nothing could be searched, an item failed, the removal stopped\n"
                         "before its end (the reason on standard error) or not every record could be written to\n"
                         "standard output, 2 usage, 3 some files or folders could\n"
                         "not be read or a folder named was not searched (the result may lack duplicates; what\n"
                         "was found is removed), 130 stopped (Ctrl-C, SIGINT, SIGTERM or SIGHUP: the item under\n"
                         "way is finished and every marked item is printed).\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    reportClosedReaders();
    QCoreApplication app(argc, argv);
    const platform::ApplicationWorkGuard applicationWork;
    removeLeftoversOfKilledRuns();

    int rule = KZMarkRule::byDefault;
    bool trash = false, createFolders = false, links = false, rename = false;
    std::optional<int> level;
    fs::path moveTo, pauseFile, savedFile;
    bool ruleGiven = false;
    std::vector<fs::path> paths;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto number = [&](int& into) {
            if (++i >= argc)
                return false;
            char* end = nullptr;
            into = int(std::strtol(argv[i], &end, 10));
            return end && *end == 0;
        };
        if (arg == "--trash") {
            trash = true;
        } else if (arg == "--move-to") {
            if (++i >= argc)
                return usage();
            moveTo = argumentPath(argv[i]);
        } else if (arg == "--pause-before-removal") {
            if (++i >= argc)
                return usage();
            pauseFile = argumentPath(argv[i]);
        } else if (arg == "--saved") {
            if (++i >= argc)
                return usage();
            savedFile = argumentPath(argv[i]);
        } else if (arg == "--create-folders") {
            createFolders = true;
        } else if (arg == "--rename") {
            rename = true;
        } else if (arg == "--links") {
            links = true;
        } else if (arg == "--rule") {
            if (!number(rule))
                return usage();
            if (!isToolRule(rule)) {
                complain("--rule " + std::string(argv[i]) + ": no such rule (1, 2, 3, 5 or 7)");
                return usage();
            }
            ruleGiven = true;
        } else if (arg == "--level") {
            int value = 0;
            if (!number(value))
                return usage();
            level = value;
        } else if (arg == "--") {
            for (++i; i < argc; ++i)
                paths.push_back(argumentPath(argv[i]));
        } else if (arg.size() > 1 && arg.front() == '-') {
            return usage();
        } else {
            paths.push_back(argumentPath(argv[i]));
        }
    }
    if (paths.empty() == savedFile.empty() || trash == !moveTo.empty() || (createFolders && trash))
        return usage();
    if (rule == KZMarkRule::swap && savedFile.empty()) {
        complain("--rule 7 swaps the marks of a saved result (--saved FILE); a search has none to swap");
        return usage();
    }
    // From here on a signal stops the run, whatever step it is at; a
    // second one must not cut a removal short either.
    stopOnSignals(false);

    // What this run sets for itself stays in its own copy of the preferences:
    // a --level given here must not lower the user's last-copy level.
    std::optional<platform::PrivateTemporaryFolder> runDefaults;
    const bool photoLibraryNamed = namesPhotoLibrary(paths);
    if ((level || photoLibraryNamed) && !usePrivatePreferences(runDefaults, kRemoveToolFolder, complain))
        return 1;
    KZDefaultsRegistry::setupDefaultsPreferences();
    tellPhotoLibraryRefusals(complain);
    // The music library's files stay where they are, also while its export
    // cannot be read, which is said once.
    KZiTunesSupport::setRefusalTeller([](const fs::path&, const QString& reason) { complain(reason.toStdString()); });
    KZiTunesSupport::installMediaFolderProvider();

    KZFoundItemArray items;
    double searchSeconds = 0;
    std::shared_ptr<KZFoundItemsCntrl> model;
    std::vector<KZSourceItemRef> sources;
    // What the search could not look at: the result may lack duplicates.
    quint64 refused = 0, unreadable = 0, unlisted = 0, skippedCount = 0;
    if (!savedFile.empty()) {
        QString error;
        int damaged = 0;
        const std::optional<KZSavedResult> saved = KZSavedResultReopen::readFile(savedFile, &error, &damaged);
        if (!saved) {
            complain(error.toStdString());
            return 1;
        }
        int damagedSources = 0;
        sources = KZSavedResultReopen::resolveSources(saved->sources, &damagedSources);
        if (sources.empty()) {
            complain(damagedSources > 0 || saved->sources.empty()
                         ? "the saved result is damaged: the folders that were searched cannot be read from it"
                         : "none of the saved result's folders can be found");
            return 1;
        }
        KZSavedResultReopen::Options options;
        options.globalExclusions = KZSearchStuff::sharedControl().globalExclusions();
        KZSavedResultReopen::useFileTypeLabels(options, KZDefaultsRegistry::fileTagsExcludingTags());
        KZReopenedResult reopened = KZSavedResultReopen::rebuild(*saved, sources, options);
        reopened.notes.damaged += damaged;
        if (!reopened.notes.isEmpty())
            std::fprintf(stderr, "%s\n", reopened.notes.text().toUtf8().constData());
        // Each item takes its saved mark from its rebuilt record.
        while (std::unique_ptr<TreeToCheck> node = reopened.items.takeFirst()) {
            items.append(KZFoundItem::itemWithTreeNode(*node));
            items.back()->setDiskAsScanned(reopened.items.diskOf(items.back()->device()));
        }
        model = std::make_shared<KZFoundItemsCntrl>(nullptr, QVariantMap());
        model->setAllItems(items);
        if (!ruleGiven)
            rule = -1; // the saved marks stand
    } else {

        for (const fs::path& path : paths) {
            if (KZSourceItemRef source = commandLineSource(path, complain))
                sources.push_back(std::move(source));
            else
                ++refused;
        }
        if (sources.empty()) {
            complain("nothing could be searched");
            return 1;
        }

        auto stuff = KZSearchStuff::searchStuff();
        const quint64 type = KZSearchStuff::duplicateFiles;
        stuff->setSearchType(type);
        stuff->setSources(sources);
        stuff->globalExclusions();
        const std::optional<QVariantMap> criteria = stuff->criteriaWithTag(type);
        if (!criteria) {
            complain("no preset criteria for this search type (resources/criteria.plist)");
            return 1;
        }
        stuff->setCriteria(*criteria);
        // The one rule of every tool: see answerHowPicturesCompare.
        const qint64 imagePreference
            = platform::UserDefaults::standard().integerForKey(KZDefaultsKey::check_image_metadata_option);
        if (photoLibraryNamed)
            tellHowPicturesCompare(sources, *stuff, imagePreference, answerHowPicturesCompare());

        auto progress = std::make_shared<ConsoleProgress>();
        ReportingReader reader(complain);
        QElapsedTimer clock;
        clock.start();
        const QVariantMap result = runSearch(app, stuff, reader, progress);
        KZFoundList list = KZFoundListParcel::take(result.value(str("KZResultFoundItems")));
        while (std::unique_ptr<TreeToCheck> node = list.takeFirst()) {
            items.append(KZFoundItem::itemWithTreeNode(*node));
            items.back()->setDiskAsScanned(list.diskOf(items.back()->device()));
        }
        searchSeconds = double(clock.nsecsElapsed()) / 1e9;
        if (g_interrupted) {
            complain("stopped during the search: nothing was marked or removed");
            return 130;
        }
        // A saved search that could not be read searched nothing: with no
        // other source, "found 0" would pass for a search of an empty tree.
        const QStringList skipped = tellSkippedSources(result, complain);
        if (skipped.size() >= qsizetype(sources.size())) {
            complain("nothing could be searched");
            return 1;
        }
        skippedCount = quint64(skipped.size());
        unreadable = result.value(str("KZResultUnreadableItemsCount")).toULongLong();
        unlisted = result.value(str("KZResultUnlistedFoldersCount")).toULongLong();

        model = std::make_shared<KZFoundItemsCntrl>(nullptr, QVariantMap());
        model->setAllItems(items);
    }
    if (rule == -1) {
        // The saved result's own marks.
    } else if (rule == KZMarkRule::byDefault) {
        model->markItemsByDefaultWithTag(0, 0, nullptr, items);
    } else {
        model->markItemsWithDict({{KZMarkingKey::menuItemTag, rule},
                                  {KZMarkingKey::checkBtnState, 1},
                                  {KZMarkingKey::ownerTag, QVariant::fromValue<quint64>(0)},
                                  {KZMarkingKey::itemsToManageTag, QVariant::fromValue<quint64>(0)}});
    }
    KZFoundItemArray marked;
    for (const KZFoundItemRef& item : items)
        if (item->isMarked())
            marked.append(item);

    if (level)
        platform::UserDefaults::standard().setValue(KZDefaultsKey::security_moving_to_trash, *level);
    auto panel = std::make_shared<ConsolePanel>();
    panel->isMoveToTrash = trash;
    panel->urlToMove = moveTo;
    panel->createFolders = createFolders;
    panel->renameMove = rename;
    panel->isCreateAlias = links;
    panel->itemsToRemove = marked;
    panel->resultItems = items;
    panel->isOnlyPhotos = KZRemoveSourcesAreOnlyPhotos(sources);
    for (const KZSourceItemRef& source : sources)
        if (source->isPhotosLib())
            panel->photosLibraries.push_back(source->path());
    if (links)
        panel->mastersAlias = model->masterForAliasArrayWithArray(marked);
    // Where each item is, or else where the result says it was: a path too
    // long to be looked up, or an item gone since, is still named.
    const auto placeOf = [](const KZFoundItemRef& item) {
        const fs::path present = item->url();
        return escapedPath((present.empty() ? item->recordedURL() : present).native());
    };
    std::vector<std::string> places;
    for (const KZFoundItemRef& item : marked)
        places.push_back(placeOf(item));

    if (!pauseFile.empty()) {
        // The items that stay are named, so that a script can change them.
        for (const KZFoundItemRef& item : items)
            if (!item->isMarked())
                std::fprintf(stderr, "kept\t%s\n", placeOf(item).c_str());
        std::fprintf(stderr, "marked %lld items; waiting for %s\n", static_cast<long long>(marked.size()),
                     pauseFile.c_str());
        std::error_code ec;
        while (!g_interrupted && !fs::exists(fs::symlink_status(pauseFile, ec)))
            ::usleep(50000);
    }

    QTimer stopper;
    stopper.setInterval(50);
    QObject::connect(&stopper, &QTimer::timeout, &app, [&] {
        if (g_interrupted)
            panel->wasStopped = true;
    });
    auto engine = std::make_shared<KZRemove>(panel);
    // Stopped before the removal began (while a saved result was reopened
    // or the run waited): nothing moves, and every marked item is told.
    const bool stoppedBeforeRemoval = g_interrupted != 0;
    panel->wasStopped = stoppedBeforeRemoval;
    panel->isWorking = !stoppedBeforeRemoval;
    // CPU time too: on a busy machine the wall time mostly measures the others.
    const auto cpuSeconds = [] {
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
            + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    };
    const double cpuBefore = cpuSeconds();
    QElapsedTimer removal;
    removal.start();
    // The engine tells the window a stop's reason twice, as an alert and
    // in the log; this run says it once, below, with the other lines the
    // removal logged.
    std::mutex loggedLock;
    QStringList logged;
    platform::setLogSink([&](const QString& line) {
        std::lock_guard guard(loggedLock);
        logged << line;
    });
    if (!stoppedBeforeRemoval) {
        engine->startMoving();
        stopper.start();
        app.exec();
    }
    platform::setLogSink({});
    const double removalSeconds = double(removal.nsecsElapsed()) / 1e9;
    const double removalCpu = cpuSeconds() - cpuBefore;
    stopper.stop();

    const KZFoundItemArray removed = engine->removedArray().value_or(KZFoundItemArray{});
    const QSet<QString> kept = {str("locked"), str("last_member"), str("changed"), str("not_checked"), str("not_found"), str("copied"),
                                str("stopped"), str("link_not_made"), str("not_tagged"), str("link_in_path"), str("mount_inside"),
                                str("destination_covered"),
                                str("music_not_removed")};
    quint64 removedCount = 0, keptCount = 0, failedCount = 0;
    for (qsizetype i = 0; i < marked.size(); ++i) {
        QString reason = engine->outcomeOf(marked[i]);
        const char* verdict = "failed";
        if (removed.contains(marked[i])) {
            verdict = "removed";
            ++removedCount;
        } else if (reason.isEmpty() || kept.contains(reason)) {
            verdict = "kept";
            ++keptCount;
            if (reason.isEmpty())
                reason = str(panel->wasStopped ? "stopped" : "not_reached");
        } else {
            ++failedCount;
        }
        const std::string& path = places[size_t(i)];
        std::printf("%s\t%s\t", verdict, reason.toUtf8().constData());
        std::fwrite(path.data(), 1, path.size(), stdout);
        std::fputc('\n', stdout);
    }
    const bool written = recordsWritten(complain);
    // In the words of the panel's alerts.
    for (const KZRemove::Alert& alert : engine->errorAlerts()) {
        const QString text = KZErrorDelegate::replaceContentOfString(
            platform::localizedString(alert.key, str("Errors")), alert.names);
        std::fprintf(stderr, "%s\n", text.toUtf8().constData());
    }
    const QStringList stopReasons = engine->stopReasons();
    for (const QString& line : std::as_const(logged)) {
        const bool stopReason = std::any_of(stopReasons.begin(), stopReasons.end(), [&line](const QString& reason) {
            return line == reason || (line.startsWith(str("Alert: ")) && line.contains(reason));
        });
        if (!stopReason)
            std::fprintf(stderr, "maravex: %s\n", line.toUtf8().constData());
    }
    // A removal that stopped before its end failed, even when no item did.
    for (const QString& reason : stopReasons)
        complain("the removal was stopped: " + reason.toStdString());
    const bool incomplete = refused || unreadable || unlisted || skippedCount;
    std::fprintf(stderr, "%sfound %lld, marked %lld, removed %llu, kept %llu, failed %llu, search seconds %.3f, "
                         "removal seconds %.3f (cpu %.3f), files not read %llu, folders not listed %llu, "
                         "sources not searched %llu\n",
                 panel->wasStopped ? "stopped: " : (incomplete ? "incomplete: " : ""),
                 static_cast<long long>(items.size()), static_cast<long long>(marked.size()),
                 static_cast<unsigned long long>(removedCount), static_cast<unsigned long long>(keptCount),
                 static_cast<unsigned long long>(failedCount), searchSeconds, removalSeconds, removalCpu,
                 static_cast<unsigned long long>(unreadable), static_cast<unsigned long long>(unlisted),
                 static_cast<unsigned long long>(skippedCount + refused));
    // Before the stop's status: a record that did not arrive hides what
    // became of its item.
    if (!written)
        return 1;
    if (panel->wasStopped)
        return 130;
    if (failedCount || !stopReasons.isEmpty())
        return 1;
    return incomplete ? 3 : 0;
}
