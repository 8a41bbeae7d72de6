// The passes that are not part of the scan: the music and photo libraries,
// whose files are fed into the scan's per-item path as their libraries list
// them, saved searches, whose queries we evaluate over the file system,
// and song durations (not built yet: the stage is called where its pass
// belongs, and until then contributes no items).

#include "engine/KZSearchController.h"

#include "engine/KZCompareCodes.h"
#include "engine/KZHashPool.h"
#include "engine/KZItemAttributes.h"
#include "engine/KZItemReader.h"
#include "engine/KZLocationGrouping.h"
#include "engine/KZMDQuery.h"
#include "engine/KZTreeWalk.h"
#include "media/KZiTunesSupport.h"
#include "platform/DirectoryListing.h"
#include "platform/Log.h"
#include "platform/OperationQueue.h"
#include "platform/Paths.h"
#include "platform/Users.h"
#include "services/KZErrorDelegate.h"
#include "settings/KZSearchCriteria.h"

#include <QDateTime>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

void KZSearchController::gatherLibraryExclusions()
{
    if (criteria_->excludeiTunesItems())
        processiTunesLocationWithLabel(0);
    if (wasStopped() || criteria_->excludePhotosItemsDict().isEmpty())
        return;
    const fs::path library = platform::pathFromText(
        criteria_->excludePhotosItemsDict().value(QStringLiteral("libraryPath")).toString());
    processPhotosLocation(library, 0);
}

namespace {

enum class LibraryFile { Present, Missing, Other };

// What a library names at `path`, seen without following a link: a file to
// search, nothing (a missing file, or a link that leads nowhere), or
// something that is not searched as a library file (a folder, a link to
// something that is there, a special file, a file that cannot be looked at).
LibraryFile libraryFileAt(const fs::path& path)
{
    struct stat st {};
    if (path.empty())
        return LibraryFile::Missing;
    if (::lstat(path.c_str(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? LibraryFile::Missing : LibraryFile::Other;
    if (S_ISREG(st.st_mode))
        return LibraryFile::Present;
    if (S_ISLNK(st.st_mode) && ::stat(path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR))
        return LibraryFile::Missing;
    return LibraryFile::Other;
}

std::shared_ptr<KZAppSuppInfo> libraryOwner(const QString& identifier, KZAppSuppInfo::Owner owner)
{
    auto info = KZAppSuppInfo::create();
    if (!identifier.isEmpty()) {
        info->setWhichOwnerItem(owner);
        info->setTrackID(identifier);
    }
    return info;
}

QVariantMap deadTrack(const KZiTunesTrack& track)
{
    return {{QStringLiteral("url"), QVariant::fromValue(track.url)},
            {QStringLiteral("trackID"), track.trackID},
            {QStringLiteral("songName"), track.songName},
            {QStringLiteral("artist"), track.artist},
            {QStringLiteral("album"), track.album},
            {QStringLiteral("isiTunes"), true}};
}

} // namespace

void KZSearchController::feedLibraryFile(const fs::path& url, qint16 label, bool leaveOut,
                                         std::shared_ptr<KZAppSuppInfo> owner)
{
    const KZItemAttributes attributes = KZItemAttributes::read(url);
    const std::optional<QString> name = attributes.fileName();
    if (!name)
        return;
    if (leaveOut) {
        std::lock_guard guard(photosLock_);
        appURLsTree_.addNodeAppURLToTree(url, *name);
        return;
    }
    if (libraryURLsMet_.urlAlreadyExist(url) != 0)
        return;
    auto item = KZSearchItemInfo::create(url);
    if (!readItem(*item, label, attributes))
        return;
    item->setOriginalName(*name);
    item->setAppSuppInfo(std::move(owner));
    processFileItem(std::move(item));
}

void KZSearchController::processiTunesLocationWithLabel(qint16 label)
{
    const std::vector<KZiTunesTrack> tracks = KZiTunesSupport::sharedControl().mediaItems();
    const bool leaveOut = criteria_->excludeiTunesItems();
    const bool onlyDead = criteria_->isOnlyDead();
    for (const KZiTunesTrack& track : tracks) {
        if (wasStopped())
            return;
        const LibraryFile file = libraryFileAt(track.url);
        if (file == LibraryFile::Present) {
            if (!onlyDead)
                feedLibraryFile(track.url, label, leaveOut, libraryOwner(track.trackID, KZAppSuppInfo::ITunes));
            continue;
        }
        if (file != LibraryFile::Missing || leaveOut)
            continue;
        if (!criteria_->isDeads())
            askForDeads();
        if (!criteria_->isDeads())
            continue;
        if (!deadItems_)
            deadItems_ = std::make_unique<QVariantList>();
        deadItems_->append(deadTrack(track));
        if (onlyDead) {
            {
                std::lock_guard guard(progressLock_);
                ++itemsFoundCount_;
            }
            updateCountsForOnlyDeads();
        }
    }
}

void KZSearchController::askForDeads()
{
    if (alreadyAskedForDead_.exchange(true))
        return;
    const qint64 answer = KZErrorDelegate::sharedControl().askToTheUserWithView(
        QStringLiteral("missing_files_detected"), QStringLiteral("missing_files_detected_mess"), {},
        QStringLiteral("yes_button"), QStringLiteral("no_button"), QString(), QStringLiteral("ask_show_deads"),
        false);
    if (answer == KZErrorDelegate::FirstButton)
        criteria_->setIsDeads(true);
}

void KZSearchController::updateCountsForOnlyDeads()
{
    std::lock_guard guard(progressLock_);
    setItemsFoundProgress(itemsFoundCount_);
}

void KZSearchController::processPhotosLocation(const fs::path& path, qint16 label)
{
    photosIsWorking_ = 0;
    std::vector<KZPhotosImageEntry> first = KZPhotosSupport::sharedControl().photosDataWithPath(path);
    if (first.empty()) {
        photosDatabaseWasNotFound_ = true;
        return;
    }
    // Two halves read file attributes at once; with a single image the
    // first half is empty and the second holds it, so that it is searched
    // (and protected as a library item) like any other.
    const std::ptrdiff_t half = std::ptrdiff_t(first.size() / 2);
    std::vector<KZPhotosImageEntry> second(std::make_move_iterator(first.begin() + half),
                                           std::make_move_iterator(first.end()));
    first.resize(std::size_t(half));
    for (std::vector<KZPhotosImageEntry>* part : {&first, &second}) {
        if (part->empty())
            continue;
        {
            std::lock_guard guard(photosLock_);
            photosIsWorking_.fetch_add(1);
        }
        KZSearchOperationQueue().addOperation([self = shared_from_this(), items = std::move(*part), label] {
            self->firstPassForPhotosWithArray(items, label);
        });
    }
    // The driver files what the halves find while they work, and sleeps
    // when there is nothing to file.
    const bool leaveOut = criteria_->excludePhotosItems();
    for (;;) {
        const quint64 seen = eventCount();
        if (!leaveOut)
            secondTestProcess();
        if (photosIsWorking_.load() == 0)
            break;
        if (leaveOut || wasStopped() || !driverHasWork())
            waitForEvent(seen);
    }
}

void KZSearchController::firstPassForPhotosWithArray(const std::vector<KZPhotosImageEntry>& items, qint16 label)
{
    const bool leaveOut = criteria_->excludePhotosItems();
    const bool onlyDead = criteria_->isOnlyDead();
    for (const KZPhotosImageEntry& entry : items) {
        if (wasStopped())
            break;
        // Missing images are not reported, and what is not a plain file in
        // the library's Masters is no image of it.
        if (onlyDead || libraryFileAt(entry.imagePath) != LibraryFile::Present)
            continue;
        feedLibraryFile(entry.imagePath, label, leaveOut, libraryOwner(entry.uuid, KZAppSuppInfo::Photos));
    }
    // Before the half counts as done, so that the crypto library's state of
    // this pool thread is let go before the search can end.
    KZCrc32::threadFinished();
    {
        std::lock_guard guard(photosLock_);
        photosIsWorking_.fetch_sub(1);
    }
    signalEvent();
}

void KZSearchController::gatherSmartFolderItemsWithDict(const KZSourceItemRef& source, qint16 label)
{
    // Outstanding from here until its last result is in the scan: the
    // driver goes on with the next source, and its final wait lasts until
    // every saved search has ended.
    queriesWorking_.fetch_add(1);
    KZSearchOperationQueue().addOperation([self = shared_from_this(), file = source->path(), label] {
        self->doQuerySearch(file, label);
        if (self->smallSizesMet_)
            KZCrc32::threadFinished(); // its files may have been hashed here
        self->queriesWorking_.fetch_sub(1);
        self->signalEvent();
    });
}

namespace {

class StopAsking : public KZLocationGroupingDelegate {
public:
    explicit StopAsking(std::function<bool()> stopped) : stopped_(std::move(stopped)) {}
    bool nsWasStopped() override { return stopped_(); }

private:
    std::function<bool()> stopped_;
};

} // namespace

void KZSearchController::doQuerySearch(const fs::path& savedSearch, qint16 label)
{
    if (wasStopped())
        return;
    const auto stopped = [this] { return wasStopped(); };
    KZMDQuery::Options options;
    options.home = platform::homeDirectory();
    options.now = QDateTime::currentDateTime();
    options.includeHidden = criteria_->isInvisible();
    options.wasStopped = stopped;
    QString error;
    const std::optional<std::vector<KZLocationEntry>> results = KZMDQuery::run(savedSearch, options, &error);
    if (!results) {
        platform::logLine(QStringLiteral("Saved search skipped: ") + platform::pathText(savedSearch)
                          + QStringLiteral(": ") + error);
        return;
    }
    std::vector<std::size_t> order;
    if (std::any_of(results->begin(), results->end(), [](const KZLocationEntry& e) { return e.isFolder; })) {
        // A folder's contents are reached through its scan.
        StopAsking delegate(stopped);
        order = KZGroupItemsByLocation(*results, &delegate);
    } else {
        for (std::size_t i = 0; i < results->size(); ++i)
            order.push_back(i);
    }
    for (const std::size_t index : order) {
        if (wasStopped())
            break;
        const KZLocationEntry& entry = (*results)[index];
        if (reader_->isExcluded(entry.path, nullptr))
            continue;
        if (entry.isFolder) {
            searchWithURL(entry.path, nullptr, label);
            continue;
        }
        const KZItemAttributes attributes = KZItemAttributes::read(entry.path);
        const std::optional<QString> name = attributes.fileName();
        if (!name)
            continue;
        auto item = KZSearchItemInfo::create(entry.path);
        if (!readItem(*item, label, attributes))
            continue;
        item->setOriginalName(*name);
        processFileItem(std::move(item));
    }
}

void KZSearchController::collectSongsTime() {}
