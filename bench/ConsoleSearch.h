#pragma once

// What the command-line tools share: Ctrl-C, SIGTERM and SIGHUP as their
// Stop button, counters for the terminal, how a path on the command line
// becomes a source, how a path is printed, a reader that names each file it
// cannot read once, and a search run to its end on the tool's own event
// loop.

#include "engine/KZContentReader.h"
#include "engine/KZProgressControl.h"
#include "engine/KZResultInfoKeys.h"
#include "engine/KZSearchController.h"
#include "media/KZPhotosSupport.h"
#include "media/KZSQLite.h"
#include "platform/FileStat.h"
#include "platform/Log.h"
#include "platform/MainThread.h"
#include "platform/NotificationCenter.h"
#include "platform/OperationQueue.h"
#include "platform/Packages.h"
#include "platform/Paths.h"
#include "platform/TemporaryFolders.h"
#include "platform/UserDefaults.h"
#include "platform/Volumes.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZNotificationNames.h"
#include "settings/KZSearchCriteria.h"
#include "settings/KZSearchStuff.h"
#include "settings/KZSourceItem.h"

#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace consolesearch {

inline volatile std::sig_atomic_t g_interrupted = 0;

inline void onInterrupt(int)
{
    g_interrupted = 1;
}

// The signals that stop a run as the Stop button stops the program's work:
// Ctrl-C (SIGINT), SIGTERM (a shutdown, kill) and SIGHUP (the terminal
// closed). The run ends cleanly and says what it did. With `secondEndsAtOnce`
// a second signal ends the program at once, for a run that has nothing
// half done to lose.
// A signal never breaks a write in two: without SA_RESTART one that comes
// while the records wait on a slow reader fails the write, and the
// standard library drops what it held.
inline void stopOnSignals(bool secondEndsAtOnce)
{
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    action.sa_flags = SA_RESTART | (secondEndsAtOnce ? SA_RESETHAND : 0);
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
}

// A reader that closes early (`| head -1`) must not end the run unseen
// with SIGPIPE, before its summary and with no status of its own: the
// failed write is what recordsWritten() reports. Ignoring it survives the
// exec into maravex-search-full; ChildProcess gives children the default
// back.
inline void reportClosedReaders()
{
    struct sigaction action {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    sigaction(SIGPIPE, &action, nullptr);
}

// Whether every record printed on standard output reached it; if not, says
// so through `complain`: a reader given fewer records than the run made
// must not take the run for a success.
inline bool recordsWritten(void (*complain)(const std::string&))
{
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    const int error = errno;
    if (flushed && !std::ferror(stdout))
        return true;
    complain(std::string("not every record reached standard output")
             + (!flushed && error ? std::string(": ") + std::strerror(error) : std::string()));
    return false;
}

// The saved searches that a search could not read, each told through
// `tell`: they searched nothing, which a count of found items would hide.
inline QStringList tellSkippedSources(const QVariantMap& result, void (*tell)(const std::string&))
{
    const QStringList skipped = result.value(KZResultKey::skippedSources).toStringList();
    for (const QString& source : skipped)
        tell("saved search not searched: " + source.toStdString());
    return skipped;
}

inline QString str(const char* text)
{
    return QString::fromLatin1(text);
}

// Counters for the terminal; the engine's threads write them, a timer on the
// main thread shows them.
class ConsoleProgress : public KZProgressControl {
public:
    bool wasStopped() const override { return g_interrupted != 0; }
    void prepareToSearch(const QVariantMap&) override {}
    void setFoundSize(quint64 size) override { foundSize = size; }
    void setFoundCount(quint64 count) override { foundCount = count; }
    void setCheckedCount(quint64 count) override { checkedCount = count; }
    void setItemsToCheckCount(quint64 count) override { itemsToCheck = count; }
    void setIsSearching(bool) override {}

    void show() const
    {
        std::fprintf(stderr, "\rto check %llu, checked %llu, found %llu (%llu bytes)   ",
                     static_cast<unsigned long long>(itemsToCheck.load()),
                     static_cast<unsigned long long>(checkedCount.load()),
                     static_cast<unsigned long long>(foundCount.load()),
                     static_cast<unsigned long long>(foundSize.load()));
    }

    std::atomic<quint64> foundSize{0};
    std::atomic<quint64> foundCount{0};
    std::atomic<quint64> checkedCount{0};
    std::atomic<quint64> itemsToCheck{0};
};

// A path named on the command line, absolute from here on, so that what a
// run prints and saves names the same items from any working folder. With
// the working folder gone it stays as given and is reported missing where
// it is used.
inline std::filesystem::path argumentPath(const char* argument)
{
    std::filesystem::path absolute = platform::absolutePath(argument);
    return absolute.empty() ? std::filesystem::path(argument) : absolute;
}

// A path as one field of a record that a reader splits on TAB and newline:
// every control byte and the backslash itself escaped (\n, \t, \r, \\,
// \xHH), any other byte as it is.
inline std::string escapedPath(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const unsigned char c = static_cast<unsigned char>(ch);
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        default:
            if (c < 0x20 || c == 0x7f) {
                out += "\\x";
                out += digits[c >> 4];
                out += digits[c & 0xF];
            } else {
                out += ch;
            }
        }
    }
    return out;
}

// The facts of a source named on the command line, or nothing after telling
// `complain` why it cannot be searched.
inline std::optional<platform::FileStat> sourceFacts(const std::filesystem::path& path,
                                                    void (*complain)(const std::string&))
{
    int error = 0;
    std::optional<platform::FileStat> st = platform::statPath(path, true, &error);
    if (!st)
        complain(path.native() + ": " + std::strerror(error));
    return st;
}

// The source that a path named on the command line stands for, the same for
// every tool, or null after telling `complain` why it is not searched: a
// saved-search file, a photo library package (searched as the library, so
// that its pictures are tagged, never removed), or a folder. A path inside a
// library is refused: walked as a folder, the library's pictures would pass
// for ordinary files.
//
// A source is searched where every link on its way leads, as the program
// takes it: the removal opens the folders above an item without following
// links, and would find nothing of a source named through one. A source on
// one of the kernel's own file systems (/proc, /sys) is refused.
inline KZSourceItemRef commandLineSource(const std::filesystem::path& given, void (*complain)(const std::string&))
{
    const auto st = sourceFacts(given, complain);
    if (!st)
        return nullptr;
    const std::filesystem::path path = platform::linkFreePath(given, true);
    if (path.empty()) {
        complain(given.native() + ": a folder on its way cannot be reached");
        return nullptr;
    }
    if (platform::isOnKernelFileSystem(path)) {
        complain(given.native() + ": one of the system's own file systems, which hold no user files");
        return nullptr;
    }
    const auto with = [&path, &given](QVariantMap facts) {
        facts.insert(QStringLiteral("url"), QVariant::fromValue(path));
        facts.insert(QStringLiteral("path"), QVariant::fromValue(given));
        return KZSourceItem::create(facts);
    };
    if (st->isRegular() && path.extension() == ".savedSearch")
        return with({{QStringLiteral("isSmartFolder"), true}});
    if (!st->isDir()) {
        complain(given.native() + ": not a folder");
        return nullptr;
    }
    // A folder that cannot be listed is not searched: said here, once, as
    // a missing one is, rather than searched as if it were empty.
    const int folder = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        complain(given.native() + ": cannot be listed: " + std::strerror(errno));
        return nullptr;
    }
    ::close(folder);
    switch (platform::photoLibraryPlace(path)) {
    case platform::PhotoLibraryPlace::Inside:
        complain(given.native() + ": lies inside a photo library, whose pictures belong to the library; "
                                 "name the library itself");
        return nullptr;
    case platform::PhotoLibraryPlace::Library: {
        // Searched only when its database names some image; the reading
        // says why not (tellPhotoLibraryRefusals).
        int images = 0;
        KZPhotosSupport::sharedControl().photosAlbumsWithPath(path, &images);
        if (images == 0)
            return nullptr;
        std::fprintf(stderr, "photo library %s: %d images\n", escapedPath(path.native()).c_str(), images);
        return with({{QStringLiteral("isPhotosLib"), true}});
    }
    case platform::PhotoLibraryPlace::None:
        break;
    }
    return with({});
}

// A photo library that cannot be searched is said once, on the terminal, in
// the words of the program's alert.
inline void tellPhotoLibraryRefusals(void (*complain)(const std::string&))
{
    KZPhotosSupport::setRefusalTeller([complain](const std::filesystem::path& library, const QString& reason) {
        complain(library.native() + ": " + reason.toStdString());
    });
}

// The private folders of the tools' runs in the temporary folder: each
// named after its tool and process, so that the next start of any tool can
// remove what a killed run left.
inline constexpr std::string_view kSearchToolFolder = "maravex-search-";
inline constexpr std::string_view kRemoveToolFolder = "maravex-remove-";

// Removes what killed runs of the tools, and the database readers they ran,
// left in the temporary folder; folders of runs that still live stay.
inline void removeLeftoversOfKilledRuns()
{
    platform::removeStaleTemporaryFolders(kSearchToolFolder);
    platform::removeStaleTemporaryFolders(kRemoveToolFolder);
    KZSQLite::removeStaleCopies();
}

// What a run sets for itself (how pictures are compared, a last-copy level)
// goes into its own copy of the user's preferences, never into theirs. The
// copy lives in `folder` (named with `prefix`), which the caller keeps until
// the end of the run.
inline bool usePrivatePreferences(std::optional<platform::PrivateTemporaryFolder>& folder, std::string_view prefix,
                                  void (*complain)(const std::string&))
{
    if (folder)
        return true;
    folder.emplace(prefix);
    const std::filesystem::path copy = folder->path() / "defaults.plist";
    std::error_code ec;
    if (folder->path().empty()
        || (std::filesystem::exists(platform::UserDefaults::defaultFilePath(), ec)
            && !std::filesystem::copy_file(platform::UserDefaults::defaultFilePath(), copy, ec))) {
        complain("cannot make a private copy of the preferences");
        return false;
    }
    platform::UserDefaults::setStandard(std::make_unique<platform::UserDefaults>(copy));
    return true;
}

// Whether a photo library package is among the paths named.
inline bool namesPhotoLibrary(const std::vector<std::filesystem::path>& paths)
{
    for (const std::filesystem::path& path : paths)
        if (platform::photoLibraryPlace(path) == platform::PhotoLibraryPlace::Library)
            return true;
    return false;
}

// How a photo library's pictures are compared in a run of any tool, where
// nobody is there to answer the question: as the preference says, and where
// it says to ask, the question's first answer, the faster one (their
// bytes), set in the run's private preferences. Answers the preference in
// force: 1 pixels, 2 bytes.
inline qint64 answerHowPicturesCompare()
{
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    const qint64 preference = defaults.integerForKey(KZDefaultsKey::check_image_metadata_option);
    if (preference == 1 || preference == 2)
        return preference;
    defaults.setValue(KZDefaultsKey::check_image_metadata_option, 2);
    return 2;
}

// Says on standard error how a search of these sources compares pictures,
// when a photo library is among them and the search compares content.
inline void tellHowPicturesCompare(const std::vector<KZSourceItemRef>& sources, const KZSearchStuff& stuff,
                                   qint64 asked, qint64 used)
{
    bool library = false;
    for (const KZSourceItemRef& source : sources)
        library = library || (source && source->isPhotosLib());
    if (!library || !stuff.criteria())
        return;
    const KZSearchCriteria criteria(*stuff.criteria());
    if (criteria.isCompareContent() && criteria.isSameSearch())
        std::fprintf(stderr, "pictures compared by their %s (preference %s)\n", used == 1 ? "pixels" : "bytes",
                     asked == 1 ? "pixels" : asked == 2 ? "bytes" : "ask, nobody to answer");
}

// Reads through the file system and tells `complain` once per file when a
// file that a comparison needs cannot be read.
class ReportingReader : public KZContentReader {
public:
    explicit ReportingReader(void (*complain)(const std::string&)) : complain_(complain) {}

    std::unique_ptr<File> open(const std::filesystem::path& path) override
    {
        errno = 0;
        std::unique_ptr<File> file = KZContentReader::fileSystem().open(path);
        // A symbolic link is never followed, so it has no content to read;
        // saying so for every link would drown the real failures.
        if (!file && errno != ELOOP) {
            const int error = errno;
            std::lock_guard guard(lock_);
            if (reported_.insert(path.native()).second)
                complain_("cannot read " + path.native() + ": "
                          + (error ? std::string(std::strerror(error)) : std::string("not a regular file")));
        }
        return file;
    }

private:
    void (*complain_)(const std::string&);
    std::mutex lock_;
    std::set<std::string> reported_;
};

// Runs the search of `stuff` to its end and answers what it posted when it
// ended; the counters show on a terminal while it runs.
inline QVariantMap runSearch(QCoreApplication& app, const KZSearchStuffRef& stuff, KZContentReader& reader,
                             const std::shared_ptr<ConsoleProgress>& progress)
{
    static int senderTag = 0;
    QVariantMap result;
    std::mutex resultLock;
    platform::Subscription subscription = platform::NotificationCenter::defaultCenter().addObserver(
        KZNotification::searchDidTerminate, platform::NotificationObject(&senderTag),
        [&](const platform::Notification& note) {
            {
                std::lock_guard guard(resultLock);
                result = note.userInfo;
            }
            platform::runOnMain([&app] { app.quit(); });
        });

    const bool showProgress = ::isatty(STDERR_FILENO);
    QTimer ticker;
    ticker.setInterval(100);
    QObject::connect(&ticker, &QTimer::timeout, &app, [&] {
        if (showProgress)
            progress->show();
    });
    ticker.start();
    // The engine logs each saved search it skips for the window's log; a
    // tool tells them itself (tellSkippedSources), and says each once.
    platform::setLogSink([](const QString& line) {
        if (!line.startsWith(QStringLiteral("Saved search skipped: ")))
            std::fprintf(stderr, "maravex: %s\n", line.toUtf8().constData());
    });
    {
        auto controller = KZSearchController::create(stuff, &senderTag, progress);
        controller->setContentReader(&reader);
        controller->startToSearch();
    }
    app.exec();
    ticker.stop();
    KZSearchOperationQueue().waitUntilAllOperationsAreFinished();
    platform::setLogSink({});
    if (showProgress)
        std::fputs("\n", stderr);
    std::lock_guard guard(resultLock);
    return result;
}

} // namespace consolesearch
