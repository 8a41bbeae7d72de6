#include "media/KZiTunesSupport.h"

#include "media/KZApplescript.h"
#include "media/KZMusicFolderScan.h"

#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/SharedInstance.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "services/KZErrorDelegate.h"
#include "services/KZFilesUtilities.h"
#include "services/KZMusicLibraryFolders.h"
#include "settings/KZDefaultsKeys.h"

#include <cerrno>
#include <cstdlib>
#include <system_error>

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

platform::SharedInstance<KZiTunesSupport>& shared()
{
    static platform::SharedInstance<KZiTunesSupport> instance([] { return std::make_unique<KZiTunesSupport>(); });
    return instance;
}

// What tells one state of a file from another without reading it.
std::string signatureOf(const fs::path& file)
{
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0)
        return "missing";
    return std::to_string(st.st_dev) + ':' + std::to_string(st.st_ino) + ':' + std::to_string(st.st_size) + ':'
           + std::to_string(st.st_mtim.tv_sec) + '.' + std::to_string(st.st_mtim.tv_nsec);
}

std::mutex& tellerLock()
{
    static std::mutex lock;
    return lock;
}

KZiTunesSupport::RefusalTeller& teller()
{
    static KZiTunesSupport::RefusalTeller installed;
    return installed;
}

std::mutex& readerLock()
{
    static std::mutex lock;
    return lock;
}

KZiTunesSupport::Reader& installedReader()
{
    static KZiTunesSupport::Reader reader;
    return reader;
}

KZiTunesSupport::Reader currentReader()
{
    std::lock_guard guard(readerLock());
    return installedReader();
}

void tellRefusal(const fs::path& file, QString reason)
{
    KZiTunesSupport::RefusalTeller tell;
    {
        std::lock_guard guard(tellerLock());
        tell = teller();
    }
    // The reader's reasons name the file; one that does not is given it.
    const QString named = QStringLiteral("\u201c") + platform::pathText(file) + QStringLiteral("\u201d");
    if (!reason.contains(platform::pathText(file)))
        reason = reason.isEmpty() ? named : named + QStringLiteral(": ") + reason;
    // A teller (a tool's terminal) says it itself; the program writes it to
    // the log beside its alert.
    if (tell) {
        tell(file, reason);
        return;
    }
    platform::logLine(QStringLiteral("Music library not read: ") + reason);
    KZErrorDelegate::sharedControl().showError(QStringLiteral("music_library_not_read"),
                                               QStringLiteral("music_library_not_read_mess"), {reason});
}

// The media folder of an unread export when the scan found one alone;
// empty when it keeps out the export's own folder and others in its place.
fs::path namedBeyondDoubt(const std::vector<fs::path>& keptOut, const fs::path& file)
{
    if (keptOut.size() != 1 || keptOut.front() == platform::absolutePath(file).parent_path())
        return {};
    return keptOut.front();
}

} // namespace

KZiTunesSupport& KZiTunesSupport::sharedControl()
{
    return shared().get();
}

void KZiTunesSupport::setSharedControl(std::unique_ptr<KZiTunesSupport> instance)
{
    shared().replace(std::move(instance));
}

void KZiTunesSupport::installMediaFolderProvider()
{
    KZFilesUtilities::setiTunesFolderProvider([] { return sharedControl().musicFolderLocation(); });
    KZMusicLibraryFolders::setUnreadLibraryProvider([] { return sharedControl().unreadLibraryFolders(); });
}

void KZiTunesSupport::setRefusalTeller(RefusalTeller tell)
{
    std::lock_guard guard(tellerLock());
    teller() = std::move(tell);
}

void KZiTunesSupport::tellRefusal(const Refusal& refusal)
{
    ::tellRefusal(refusal.file, refusal.reason);
}

void KZiTunesSupport::setReader(Reader reader)
{
    std::lock_guard guard(readerLock());
    installedReader() = std::move(reader);
}

void KZiTunesSupport::followLibraryChanges()
{
    KZApplescript::setMusicLibraryDidChange([] { sharedControl().noteUpdatedLibrary(); });
}

fs::path KZiTunesSupport::libraryFilePath()
{
    const QString configured = platform::UserDefaults::standard().stringForKey(KZDefaultsKey::iTunes_library_path);
    if (!configured.isEmpty())
        return platform::pathFromText(configured);
    const char* home = std::getenv("HOME");
    if (!home || !*home)
        return {};
    const fs::path folder = fs::path(home) / "Music" / "iTunes";
    std::error_code ec;
    for (const char* name : {"iTunes Library.xml", "iTunes Music Library.xml"}) {
        if (fs::exists(folder / name, ec))
            return folder / name;
    }
    return folder / "iTunes Library.xml";
}

std::shared_ptr<const KZiTunesLibrary> KZiTunesSupport::library()
{
    for (;;) {
        std::shared_ptr<const KZiTunesLibrary> read;
        // Told outside the lock: the alert waits for the window's thread,
        // which may ask for the library meanwhile.
        if (const std::optional<Refusal> refusal = readIfDue(nullptr, nullptr, &read))
            tellRefusal(*refusal);
        const fs::path file = libraryFilePath();
        {
            std::lock_guard guard(lock_);
            if (library_ && library_->file() == file)
                return library_;
            // Nothing to read (no export, or one refused as it stands).
            if (file.empty() || (failedOn_ && failedOn_->first == file && failedOn_->second == signatureOf(file)))
                return read;
        }
        // Dropped while it was read, the library having changed meanwhile:
        // it is still one whole reading, as a caller that asked a moment
        // before would hold.
        if (read)
            return read;
        // Dropped between the look that found it read and this one: this
        // caller read nothing, so it reads now.
    }
}

bool KZiTunesSupport::readingIsDue()
{
    const fs::path file = libraryFilePath();
    std::lock_guard guard(lock_);
    if (library_ && library_->file() == file)
        return false;
    if (file.empty())
        return false;
    return !(failedOn_ && failedOn_->first == file && failedOn_->second == signatureOf(file));
}

std::optional<KZiTunesSupport::Refusal> KZiTunesSupport::readIfDue(const std::atomic<bool>* stop, bool* stopped,
                                                                   std::shared_ptr<const KZiTunesLibrary>* read)
{
    if (stopped)
        *stopped = false;
    if (read)
        read->reset();
    const fs::path file = libraryFilePath();
    std::string signature;
    quint64 generation = 0;
    {
        std::lock_guard guard(lock_);
        if (library_ && library_->file() == file)
            return std::nullopt;
        library_.reset();
        if (file.empty()) {
            unread_ = false;
            return std::nullopt;
        }
        signature = signatureOf(file);
        if (failedOn_ && failedOn_->first == file && failedOn_->second == signature)
            return std::nullopt;
        generation = generation_;
    }

    // The file is read, and scanned when it cannot be, without the lock:
    // the window's thread asks for the current reading while this runs.
    QString error;
    const Reader reader = currentReader();
    std::shared_ptr<const KZiTunesLibrary> library =
        reader ? reader(file, &error, stop) : KZiTunesLibrary::fromFile(file, &error, stop);
    const auto wasStopped = [stop] { return stop && stop->load(); };
    const bool refused = !library && signature != "missing" && !wasStopped();
    decltype(unreadKeptOut_) unreadKeptOut;
    if (refused)
        unreadKeptOut = KZMusicFolderScan::musicFoldersIn(file, KZiTunesLibrary::kMaxExportSize, stop);
    if (wasStopped()) {
        if (stopped)
            *stopped = true;
        return std::nullopt;
    }
    if (read)
        *read = library;

    std::lock_guard guard(lock_);
    // Dropped, or read by another thread, meanwhile: that one stands, and
    // has told its own refusal.
    if (generation_ != generation)
        return std::nullopt;
    ++generation_;
    library_ = library;
    unread_ = false;
    unreadKeptOut_.clear();
    if (library_) {
        failedOn_.reset();
        return std::nullopt;
    }
    // A library that is there but cannot be read still owns its files:
    // what stands for its media folder is kept until the file changes, and
    // the user hears why once.
    if (refused) {
        unread_ = true;
        unreadKeptOut_ = std::move(unreadKeptOut);
    }
    failedOn_.emplace(file, std::move(signature));
    if (!refused)
        return std::nullopt;
    return Refusal{file, error};
}

void KZiTunesSupport::noteUpdatedLibrary()
{
    std::lock_guard guard(lock_);
    ++generation_;
    library_.reset();
    failedOn_.reset();
    unread_ = false;
    unreadKeptOut_.clear();
}

fs::path KZiTunesSupport::musicFolderLocation()
{
    if (const auto current = library())
        return current->musicFolderLocation();
    const fs::path file = libraryFilePath();
    std::lock_guard guard(lock_);
    return unread_ && failedOn_ && failedOn_->first == file ? namedBeyondDoubt(unreadKeptOut_, file) : fs::path();
}

std::vector<fs::path> KZiTunesSupport::unreadLibraryFolders()
{
    if (library())
        return {};
    const fs::path file = libraryFilePath();
    std::lock_guard guard(lock_);
    if (!unread_ || !failedOn_ || failedOn_->first != file)
        return {};
    // A media folder named beyond doubt but gone holds no file to keep.
    if (!namedBeyondDoubt(unreadKeptOut_, file).empty())
        return {};
    return unreadKeptOut_;
}

std::vector<fs::path> KZiTunesSupport::defaultMediaFolders()
{
    return KZMusicFolderScan::defaultMediaFolders();
}

std::vector<KZiTunesTrack> KZiTunesSupport::mediaItems()
{
    const auto current = library();
    return current ? current->mediaItems() : std::vector<KZiTunesTrack>();
}

std::optional<KZiTunesTrack> KZiTunesSupport::songMetadataWithTrackID(const QString& trackID)
{
    const auto current = library();
    const KZiTunesTrack* track = current ? current->trackWithID(trackID) : nullptr;
    if (!track)
        return std::nullopt;
    return *track;
}

std::optional<QString> KZiTunesSupport::libraryPositionWithTrackID(const QString& trackID)
{
    const auto current = library();
    const KZiTunesTrack* track = current ? current->trackWithID(trackID) : nullptr;
    if (!track || track->album.isEmpty())
        return std::nullopt;
    return platform::localizedString(QStringLiteral("iTunes Library")) + QStringLiteral(" -> ") + track->album;
}
