#include "engine/KZSearchController.h"

#include "engine/KZCompareCodes.h"
#include "engine/KZEnginePaths.h"
#include "engine/KZFolderContentPass.h"
#include "engine/KZFolderWalk.h"
#include "engine/KZFoundListParcel.h"
#include "engine/KZHashAhead.h"
#include "engine/KZHashPool.h"
#include "engine/KZItemAttributes.h"
#include "engine/KZItemFilters.h"
#include "engine/KZItemReader.h"
#include "engine/KZLibraryPasses.h"
#include "engine/KZLocationGrouping.h"
#include "engine/KZMDQuery.h"
#include "engine/KZResultInfoKeys.h"
#include "engine/KZSecondPass.h"
#include "engine/KZSourcePreparation.h"
#include "platform/Clock.h"
#include "platform/DirectoryListing.h"
#include "platform/FileStat.h"
#include "platform/FinderInfo.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/OperationQueue.h"
#include "platform/Paths.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "platform/Volumes.h"
#include "platform/Users.h"
#include "services/KZErrorDelegate.h"
#include "services/KZFilesUtilities.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZDefaultsRegistry.h"
#include "settings/KZNotificationNames.h"
#include "settings/KZSearchCriteria.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QVariant>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <functional>
#include <limits>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

QString key(const char* text)
{
    return QString::fromLatin1(text);
}

// Folders a walk keeps open at the least, besides the one it lists and a
// file it may hash.
constexpr std::size_t kLeastOpenFolders = 8;

// Descriptors the walks may hold together: half of what the process may
// still open, the rest left to the files compared and everything else.
std::size_t descriptorsForWalks()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return std::numeric_limits<std::size_t>::max() / 2;
    std::size_t open = 0;
    std::error_code ec;
    for (auto it = fs::directory_iterator("/proc/self/fd", ec); !ec && it != fs::directory_iterator(); it.increment(ec))
        ++open;
    const std::size_t allowed = std::size_t(limit.rlim_cur);
    return allowed > open ? (allowed - open) / 2 : 0;
}

} // namespace

platform::OperationQueue& KZSearchOperationQueue()
{
    static platform::OperationQueue queue(QStringLiteral("KZSearchOperationQueue"),
                                          platform::OperationQueue::Unbounded);
    return queue;
}

std::shared_ptr<KZSearchController> KZSearchController::create(KZSearchStuffRef searchStuff, const void* sender,
                                                               std::shared_ptr<KZProgressControl> progressCntrl)
{
    return std::shared_ptr<KZSearchController>(
        new KZSearchController(std::move(searchStuff), sender, std::move(progressCntrl)));
}

KZSearchController::KZSearchController(KZSearchStuffRef searchStuff, const void* sender,
                                       std::shared_ptr<KZProgressControl> progressCntrl)
    : searchStuff_(std::move(searchStuff)), senderCntrl_(sender), progressCntrl_(std::move(progressCntrl))
{
}

KZSearchController::~KZSearchController() = default;

bool KZSearchController::wasStopped() const
{
    return progressCntrl_ && progressCntrl_->wasStopped();
}

// ---- Preparation ------------------------------------------------------------

void KZSearchController::startToSearch()
{
    if (!searchStuff_)
        searchStuff_ = KZSearchStuff::searchStuff();
    const std::optional<QVariantMap> dictionary = searchStuff_->criteria();
    // Without criteria every item would count as a find; such a request
    // searches nothing and still ends with its notification.
    hasCriteria_ = dictionary.has_value();
    if (!hasCriteria_)
        platform::logLine(QStringLiteral("startToSearch: the search request carries no criteria; nothing is searched"));
    criteria_ = std::make_unique<KZSearchCriteria>(dictionary.value_or(QVariantMap()));
    isSameSearch_ = criteria_->isSameSearch();
    isUniqueSearch_ = criteria_->isUniqueSearch();
    isFollowUp_ = searchStuff_->isASearchForEmptyFoldersAfterTrashed();

    const qint64 imageNoMetadataPref
        = platform::UserDefaults::standard().integerForKey(KZDefaultsKey::check_image_metadata_option);
    checkForOnlyMetadataAlreadyAsked_ = false;
    if (imageNoMetadataPref == 1) {
        criteria_->setIsImageContent(true);
        checkForOnlyMetadataAlreadyAsked_ = true;
    } else if (imageNoMetadataPref != 2) {
        setupForImageContentIfNeeded();
    }

    currLocationLabel_ = -1;
    mainCompleted_ = false;

    if (progressCntrl_) {
        progressCntrl_->prepareToSearch({{key("isEmptiedFolders"), isFollowUp_}, {key("showInterface"), true}});
        if (criteria_->isFolderCompareContent())
            progressCntrl_->prepareToSearchForFoldersContent();
    }

    adjustSources();
    if (!isFollowUp_)
        checkDoubleLocations();

    fileTypesTags_ = KZDefaultsRegistry::fileTagsExcludingTags();
    indexFileTypesTags();

    reader_ = std::make_unique<KZItemReader>(*criteria_, searchStuff_->exludedByLocation(),
                                             searchStuff_->exclLocsCount(), progressCntrl_.get(),
                                             KZFilesUtilities::sharedControl());
    reader_->setFoldersMeasuredByScan(criteria_->isFolderCompareContent());
    filters_ = std::make_unique<KZItemFilters>(*criteria_, *reader_, KZFilesUtilities::sharedControl());

    KZSearchOperationQueue().addOperation([self = shared_from_this()] { self->doSearch(); });
}

void KZSearchController::setupForImageContentIfNeeded()
{
    if (!criteria_->isCompareContent() || !isSameSearch_ || checkForOnlyMetadataAlreadyAsked_ || isFollowUp_)
        return;
    const auto sources = searchStuff_->sources();
    // A library that is gone is told as missing when its turn comes; no
    // question about its pictures comes first.
    const bool hasPhotosLibrary = std::any_of(sources.begin(), sources.end(), [](const KZSourceItemRef& s) {
        return s && s->isPhotosLib() && !s->path().empty();
    });
    if (!hasPhotosLibrary)
        return;
    const qint64 answer = KZErrorDelegate::sharedControl().askToTheUser(
        key("ask_for_images_content"), key("ask_for_images_content_mess"), {}, key("fastest"), key("slowest"),
        QString(), false, nullptr, false);
    if (answer == KZErrorDelegate::SecondButton)
        criteria_->setIsImageContent(true);
    checkForOnlyMetadataAlreadyAsked_ = true;
}

void KZSearchController::initializeSearchVariables()
{
    if (criteria_->isCompareContent() || criteria_->isFolderCompareContent())
        crc32_ = std::make_unique<KZCrc32>(this, contentReader_);
    smallSizesMet_.reset();
    if (crc32_ && criteria_->isCompareContent() && (criteria_->isSameSize() || criteria_->isUniqueSize())
        && !criteria_->isSameName() && !criteria_->isUniqueName() && !criteria_->isFolderCompareContent()) {
        constexpr std::size_t words = KZCrc32::kBlockSize / 64 + 1;
        smallSizesMet_ = std::make_unique<std::atomic<quint64>[]>(words);
        for (std::size_t i = 0; i < words; ++i)
            smallSizesMet_[i].store(0, std::memory_order_relaxed);
    }
    std::unique_ptr<KZHashAhead> hashAhead;
    if (smallSizesMet_) {
        hashAhead = std::make_unique<KZHashAhead>(*crc32_, hashingThreadCount(), [this] { return wasStopped(); });
    }
    {
        std::lock_guard guard(notificationLock_);
        itemInfoCStyle_.clear();
        itemInfoCStyleForImages_.clear();
        hashAhead_ = std::move(hashAhead);
    }
    KZSecondPass::Delegate& filed = *this;
    secondPass_ = std::make_unique<KZSecondPass>(*criteria_, crc32_.get(), readingIsTerminated_, filed);
    secondPass_->setHashAhead(hashAhead_.get());
    KZFolderContentPass::Delegate& compared = *this;
    folderContentPass_ = std::make_unique<KZFolderContentPass>(*secondPass_, crc32_.get(), progressCntrl_.get(), compared);
    {
        std::lock_guard guard(progressLock_);
        foundNodes_.clear();
        itemsToCheck_ = 0;
        currGroupID_ = 0;
        notDupesCount_ = 0;
    }
    KZLibraryPasses::Delegate& libraries = *this;
    libraryPasses_ = std::make_unique<KZLibraryPasses>(*criteria_, libraries);
    {
        filedItems_.clear();
        listedFolders_.clear();
        std::lock_guard guard(filedLock_);
        filedEntries_.clear();
    }
    readingIsTerminated_ = false;
    const std::size_t descriptors = descriptorsForWalks();
    scanWorkers_ = scanWorkerCount(descriptors);
    walkBudget_ = walkBudget(descriptors);
    unreadableCount_ = 0;
    unlistedCount_ = 0;
    {
        std::lock_guard guard(skippedLock_);
        skippedSources_.clear();
    }
    workersBusy_ = 0;
    mainCompleted_ = false;
    timeAlreadyGot_ = false;
    contentImagesIsWorking_ = false;
    progressAlreadyChanged_ = false;
    duplicateFoldersAlreadyChecked_ = false;
}

std::vector<std::string> KZSearchController::sourceRoots() const
{
    std::vector<std::string> roots;
    for (const KZSourceItemRef& source : searchStuff_->sources())
        if (source)
            roots.push_back(source->path().native());
    return roots;
}

unsigned KZSearchController::hashingThreadCount() const
{
    return hashingThreads_ ? hashingThreads_ : KZHashPool::threadsFor(sourceRoots());
}

unsigned KZSearchController::scanWorkerCount(std::size_t descriptors) const
{
    unsigned wanted = scanThreads_;
    if (wanted == 0) {
        // A rotating disk keeps the two walks it always had. Otherwise the
        // walks take all cores but two: the driver, whose filing is the one
        // serial stage, and the pool it hashes with are never crowded out.
        const unsigned cores = KZHashPool::threadsFor(sourceRoots(), kMaxScanWorkers + 2);
        wanted = cores > 2 ? cores - 2 : 2u;
    }
    // No more walks than the open-file limit leaves room for.
    const std::size_t fit = descriptors / (kLeastOpenFolders + 2);
    return unsigned(std::clamp<std::size_t>(std::min<std::size_t>(wanted, fit), 1, kMaxScanWorkers));
}

std::size_t KZSearchController::walkBudget(std::size_t descriptors) const
{
    // The walks together keep as many folders open as two always did, and
    // never more than the open-file limit leaves them.
    const std::size_t share = descriptors / scanWorkers_;
    const std::size_t budget = std::min(2 * KZFolderWalk::kMaxOpenFolders / scanWorkers_, share > 2 ? share - 2 : 0);
    return std::max(kLeastOpenFolders, budget);
}

// ---- The driver ---------------------------------------------------------------

void KZSearchController::doSearch()
{
    initializeSearchVariables();

    if (isFollowUp_ && hasCriteria_) {
        workersBusy_ |= 1u;
        KZSearchOperationQueue().addOperation([self = shared_from_this()] {
            self->doCheckEmptyFoldersAfterTrashed();
        });
    } else if (!isFollowUp_) {
        searchSources();
    }

    mainCompleted_ = true;
    signalEvent();
    waitUntilThreadTerminated();

    if (criteria_->isNestedEmptied()) {
        duplicateFoldersAlreadyChecked_ = true;
        std::lock_guard guard(progressLock_);
        foundNodes_.freeUnusedFoldersTreeNodes();
    }

    const bool stopped = wasStopped();
    if (criteria_->isOnlyDead()) {
        std::lock_guard guard(progressLock_);
        itemsFoundCount_ = 0;
        sizeFoundValue_ = 0;
    }
    if (progressCntrl_) {
        if (criteria_->isDeads())
            if (const QVariantList* dead = libraryPasses_ ? libraryPasses_->missingTracks() : nullptr)
                progressCntrl_->setMissingTracksCount(quint64(dead->size()));
        progressCntrl_->setIsSearching(false);
    }

    {
        // The pool's threads end here, not when the last reference goes.
        std::unique_ptr<KZHashAhead> hashAhead;
        {
            std::lock_guard guard(notificationLock_);
            hashAhead = std::move(hashAhead_);
        }
        secondPass_->setHashAhead(nullptr);
    }
    const QVariantMap info = resultInfo(stopped);
    platform::NotificationCenter::defaultCenter().post(KZNotification::searchDidTerminate,
                                                       platform::NotificationObject(senderCntrl_), info);
    searchStuff_.reset();
    KZCrc32::threadFinished();
}

void KZSearchController::searchSources()
{
    const bool shown = setMainInfoTitle(key("gathering_excluded"));
    gatherLibraryExclusions();
    if (wasStopped())
        return;
    if (shown)
        setMainInfoTitle(key("scanning"));

    const std::vector<KZSourceItemRef> sources = hasCriteria_ ? searchStuff_->sources() : std::vector<KZSourceItemRef>();
    const bool labelled = sources.size() > 1;
    for (const KZSourceItemRef& source : sources) {
        if (!source)
            continue;
        const fs::path url = source->url();
        if (labelled) {
            currLocationLabel_ = qint16(currLocationLabel_ + 1);
            source->setLocationLabelTag(currLocationLabel_);
        }
        const qint16 label = currLocationLabel_;
        if (!url.empty() && reader_->isExcluded(url, nullptr))
            continue;
        if (wasStopped())
            break;

        if (source->isPhotosLib() || source->iTunesLibValue() == 1) {
            isSearchSynchronize_ = true;
            source->setWasSearched(true);
            if (source->isPhotosLib()) {
                searchedInPhotos_ = true;
                const fs::path path = source->path();
                photosLibraryPath_ = platform::pathText(path);
                // A library gone since it was chosen is still read at its
                // place, so that the reader tells the user it is missing.
                processPhotosLocation(path.empty() ? url : path, label);
            } else {
                searchedIniTunes_ = true;
                libraryPasses_->musicLibrary(label);
            }
            secondTestProcess();
            continue;
        }

        isSearchSynchronize_ = false;
        if (source->isSmartFolder()) {
            gatherSmartFolderItemsWithDict(source, label);
            continue;
        }
        const fs::path path = source->path();
        if (path.empty()) {
            // A source that has lost its location takes no part; the
            // sources after it are still searched.
            platform::logLine(QStringLiteral("Source skipped, no location: ") + platform::pathText(url));
            continue;
        }
        std::vector<fs::path> excluded = source->excluded();
        std::sort(excluded.begin(), excluded.end(),
                  [](const fs::path& a, const fs::path& b) { return a.native() < b.native(); });
        source->setExcluded(excluded);
        std::shared_ptr<const KZExcludedInfo> record = setupExcluded(excluded);
        source->setWasSearched(true);
        searchWithURL(url, std::move(record), label);
    }
}

std::shared_ptr<KZExcludedInfo> KZSearchController::setupExcluded(const std::vector<fs::path>& excluded) const
{
    return KZSourcePreparation::setupExcluded(excluded);
}

void KZSearchController::adjustSources()
{
    KZSourcePreparation(KZFilesUtilities::sharedControl())
        .adjustSources(*searchStuff_, criteria_ && criteria_->isFolderCompareContent());
}

void KZSearchController::checkDoubleLocations()
{
    KZSourcePreparation(KZFilesUtilities::sharedControl()).checkDoubleLocations(*searchStuff_);
}

QVariantMap KZSearchController::resultInfo(bool stopped)
{
    QVariantMap info;
    KZFoundList list;
    {
        std::lock_guard guard(progressLock_);
        list = foundNodes_.takeList();
        if (reader_)
            list.setScanDisks(reader_->scanDisks());
        info.insert(KZResultKey::foundItemsCount, itemsFoundCount_);
        info.insert(KZResultKey::itemsToCheckCount, itemsToCheck_.load());
        info.insert(KZResultKey::foundItemsSize, sizeFoundValue_);
        info.insert(KZResultKey::checkedItemsCount, checkedFilesCount_);
    }
    info.insert(KZResultKey::unreadableItemsCount, unreadableCount_.load());
    info.insert(KZResultKey::unlistedFoldersCount, unlistedCount_.load());
    {
        // Only when there are some: readers take absent as empty.
        std::lock_guard guard(skippedLock_);
        if (!skippedSources_.isEmpty())
            info.insert(KZResultKey::skippedSources, skippedSources_);
    }
    // The list changes owner here: whoever takes it out of the parcel frees
    // it, and a parcel nobody takes frees it with its last copy.
    info.insert(KZResultKey::foundItems, KZFoundListParcel::toVariant(std::move(list)));
    info.insert(KZResultKey::searchStuffItem, QVariant::fromValue(searchStuff_));
    info.insert(KZResultKey::foundFileTypes, progressCntrl_ ? progressCntrl_->fileTypes() : QVariantMap());
    info.insert(KZResultKey::stoppedByUser, stopped);
    info.insert(KZResultKey::currentLocationLabel, QVariant::fromValue<qint16>(currLocationLabel_.load()));
    info.insert(KZResultKey::searchedIniTunes, searchedIniTunes_);
    info.insert(KZResultKey::searchedInPhotos, searchedInPhotos_);
    info.insert(KZResultKey::photosLibraryPath, photosLibraryPath_.isNull() ? QStringLiteral("") : photosLibraryPath_);
    info.insert(KZResultKey::photosDatabaseWasNotFound,
                libraryPasses_ && libraryPasses_->photosDatabaseWasNotFound());
    info.insert(KZResultKey::isEmptyFolders, isFollowUp_);
    info.insert(KZResultKey::searchedForDeads, criteria_->isDeads());
    info.insert(KZResultKey::searchedForFolders, criteria_->isFolderCompareContent());
    info.insert(KZResultKey::isRestoreOfSaved, false);
    info.insert(KZResultKey::isSavedItemsToRestore, QVariantMap());
    if (!criteria_->isDeads())
        info.insert(KZResultKey::foundDeads, QVariantList());
    else if (const QVariantList* dead = libraryPasses_ ? libraryPasses_->missingTracks() : nullptr)
        info.insert(KZResultKey::foundDeads, *dead);
    return info;
}

void KZSearchController::doCheckEmptyFoldersAfterTrashed()
{
    isSearchSynchronize_ = false;
    for (const KZSourceItemRef& source : searchStuff_->sources()) {
        if (wasStopped())
            break;
        if (!source)
            continue;
        const fs::path url = source->url();
        auto item = KZSearchItemInfo::create(url);
        const qint16 label = source->locationLabelTag();
        currLocationLabel_ = label;
        const KZItemAttributes attributes = KZItemAttributes::read(url);
        if (!readItem(*item, label, attributes))
            continue;
        const std::optional<QString> name = attributes.fileName();
        if (!name)
            continue;
        item->setOriginalName(*name);
        processFolderItem(std::move(item));
    }
    workersBusy_ &= ~1u;
    signalEvent();
}

// ---- File-type tags and titles ---------------------------------------------------

void KZSearchController::indexFileTypesTags()
{
    fileTypeTagger_ = KZFileTypeTagger(fileTypesTags_);
}

void KZSearchController::assignFileTypeTagToItem(KZSearchItemInfo& item) const
{
    item.setFileTypeLabel(fileTypeTagger_.tagFor(item));
}

bool KZSearchController::setMainInfoTitle(const QString& titleKey)
{
    if (titleKey == key("gathering_excluded") && !criteria_->excludeiTunesItems() && !criteria_->excludePhotosItems())
        return false;
    if (progressCntrl_)
        progressCntrl_->setMainInfoTitle(platform::localizedString(titleKey));
    return true;
}

// ---- Progress reports --------------------------------------------------------------

void KZSearchController::setInfoFoundItemProgress(KZSearchItemInfo& item)
{
    std::lock_guard guard(progressLock_);
    sizeFoundValue_ += item.totSize();
    assignFileTypeTagToItem(item);
    if (progressCntrl_) {
        progressCntrl_->setFoundSize(sizeFoundValue_);
        progressCntrl_->setFoundItemFileType(item);
    }
}

void KZSearchController::setItemsFoundProgress(quint64 count)
{
    std::lock_guard guard(progressLock_);
    if (progressCntrl_)
        progressCntrl_->setFoundCount(count);
}

void KZSearchController::setItemsToCheckProgress(quint64 count)
{
    if (progressCntrl_)
        progressCntrl_->setItemsToCheckCount(count);
}

void KZSearchController::setItemsCheckedProgress(quint64 count)
{
    if (progressCntrl_)
        progressCntrl_->setCheckedCount(count);
}

void KZSearchController::setProgressVariables()
{
    if (!progressCntrl_)
        return;
    std::lock_guard guard(progressLock_);
    progressCntrl_->setFoundSize(sizeFoundValue_);
    progressCntrl_->setFoundCount(itemsFoundCount_);
    progressCntrl_->setCheckedCount(checkedFilesCount_);
    progressCntrl_->setItemsToCheckCount(itemsToCheck_.load());
}

quint64 KZSearchController::itemsToCheck() const
{
    return itemsToCheck_.load();
}

quint64 KZSearchController::itemsFoundCount() const
{
    std::lock_guard guard(progressLock_);
    return itemsFoundCount_;
}

quint64 KZSearchController::notDupesCount() const
{
    std::lock_guard guard(progressLock_);
    return notDupesCount_;
}

// ==== The scan ===================================================================================

// The first pass over folder sources: the driver lists each source's top
// level and hands every subfolder to one of the scan workers (or queues it
// for the first one that ends its walk), which walk it and push every item
// that passes the filters onto a candidate stack. Once the driver has handed
// everything out, a worker that meets a visible subfolder offers it to an
// idle worker, so that all of them stay busy until the end, however few or
// lopsided the top-level folders are.
// The walk itself is KZFolderWalk's.

namespace {

// Candidates on the stack that wake the driver during the scan.
constexpr std::size_t kWakeBatch = 64;

// The candidates a scan worker has accepted and not yet put on the stack:
// they go there a folder (or a wake-up's worth) at a time, so that workers
// and the driver meet at the stack's lock once per batch, not per file.
thread_local std::vector<KZSearchItemInfoRef>* workerCandidates = nullptr;

class WorkerCandidates {
public:
    WorkerCandidates() { workerCandidates = &batch_; }
    ~WorkerCandidates() { workerCandidates = nullptr; }
    WorkerCandidates(const WorkerCandidates&) = delete;
    WorkerCandidates& operator=(const WorkerCandidates&) = delete;
    std::vector<KZSearchItemInfoRef>& batch() { return batch_; }

private:
    std::vector<KZSearchItemInfoRef> batch_;
};

QString extensionOfName(const std::string& name)
{
    return KZSearchItemInfo::extensionOfName(platform::pathText(name));
}

} // namespace

// ---- Driver wake-ups -----------------------------------------------------------

quint64 KZSearchController::eventCount() const
{
    return events_.load();
}

void KZSearchController::signalEvent()
{
    // Both steps are sequentially consistent: either the waiter sees the new
    // count before it sleeps, or this sees the waiter and wakes it (taking
    // the mutex first, so the waiter is asleep or has not checked yet).
    events_.fetch_add(1);
    if (eventWaiters_.load() == 0)
        return;
    {
        std::lock_guard guard(eventMutex_);
    }
    eventCondition_.notify_all();
}

void KZSearchController::waitForEvent(quint64 seen)
{
    std::unique_lock lock(eventMutex_);
    eventWaiters_.fetch_add(1);
    eventCondition_.wait(lock, [&] { return events_.load() != seen; });
    eventWaiters_.fetch_sub(1);
}

bool KZSearchController::driverHasWork() const
{
    std::lock_guard guard(notificationLock_);
    return !itemInfoCStyle_.isEmpty() || (!itemInfoCStyleForImages_.isEmpty() && !contentImagesIsWorking_.load());
}

bool KZSearchController::phaseOneisTerminated() const
{
    return !scanBusy();
}

bool KZSearchController::scanBusy() const
{
    // In this order: a queued folder is counted until after its worker is
    // marked busy, so one of the two reads sees it.
    return queuedCount_.load() != 0 || workersBusy_.load() != 0;
}

// ---- Reading items ----------------------------------------------------------------

bool KZSearchController::readItem(KZSearchItemInfo& item, qint16 label, const KZItemAttributes& attributes) const
{
    if (!reader_->setCurrVariables(item, label, attributes))
        return false;
    if (attributes.stat())
        item.setLinkCount(quint64(attributes.stat()->links));
    return true;
}

// ---- The driver's listing of one source --------------------------------------------

void KZSearchController::searchWithURL(const fs::path& url, std::shared_ptr<const KZExcludedInfo> excluded,
                                       qint16 label)
{
    if (wasStopped())
        return;
    if (reader_->extensionIsSame(extensionOfName(KZEnginePaths::lastComponent(url).native())))
        return;

    int err = 0;
    platform::DirectoryHandle folder = platform::DirectoryHandle::open(url, &err);
    if (!folder.isValid() && (err == ELOOP || err == ENOTDIR)) {
        // A source given as a link to a folder is searched as that folder;
        // only links met inside a source are left alone.
        const auto target = platform::statPath(url, true);
        std::error_code ec;
        const fs::path resolved = fs::canonical(url, ec);
        if (target && target->isDir() && !ec)
            folder = platform::DirectoryHandle::open(resolved, &err);
    }
    if (!folder.isValid()) {
        noteUnlisted(url, err);
        return;
    }
    struct stat self {};
    if (::fstat(folder.fd(), &self) == 0 && !listedFolders_.insert(self.st_dev, self.st_ino))
        return; // the same folder as a source before, spelled otherwise
    if (platform::isKernelFileSystem(folder.fd())) {
        // The search window and the tools refuse such a source; one that
        // came another way (a saved search's result) is still not listed.
        platform::logLine(QStringLiteral("Source skipped, the kernel's own file system: ") + platform::pathText(url));
        return;
    }

    const bool wantsHidden = criteria_->isInvisible();
    const KZSearchItemInfo::Folder folderBytes = KZSearchItemInfo::makeFolder(url);
    const bool listed = folder.list([&](const platform::DirEntry& entry) {
        if (wasStopped())
            return false;
        const fs::path child = url / entry.name;
        if (reader_->isExcluded(child, excluded.get()))
            return true;
        // As in a walk: /proc, /sys and /dev below a source of "/" are not
        // searched.
        if (!entry.statFailed && entry.stat.device != self.st_dev
            && platform::isKernelFileSystemAt(folder.fd(), entry.name.c_str()))
            return true;
        if (entry.name.empty() || (!wantsHidden && entry.name.front() == '.'))
            return true;
        if (entry.statFailed) {
            if (entry.statError != ENOENT) // gone since the folder was read is no failure
                unreadableCount_.fetch_add(1);
            return true;
        }
        const KZItemAttributes attributes = KZItemAttributes::fromEntry(url, entry, folder.fd());
        if (attributes.isDirectory()) {
            // A plain folder is read here, from the listing; a package may
            // need measuring, which is the worker's job.
            KZSearchItemInfoRef read;
            if (!attributes.isPackage()) {
                read = KZSearchItemInfo::create(folderBytes, entry.name);
                if (readItem(*read, label, attributes))
                    read->setOriginalNameFromLocation();
                else
                    read.reset();
            }
            handFolderOut({child, label, excluded, std::move(read)});
        } else {
            auto item = KZSearchItemInfo::create(folderBytes, entry.name);
            if (readItem(*item, label, attributes)) {
                item->setOriginalNameFromLocation();
                processFileItem(std::move(item));
            }
        }
        return !wasStopped();
    }, &err);
    if (!listed)
        noteUnlisted(url, err);
}

// ---- Workers ------------------------------------------------------------------------

bool KZSearchController::startNewThreadWithURL(const fs::path& url, qint16 label,
                                               std::shared_ptr<const KZExcludedInfo> excluded,
                                               const KZSearchItemInfoRef& read)
{
    const unsigned worker = claimWorker();
    if (worker != 0)
        launchWorker(worker, url, label, std::move(excluded), read);
    return worker != 0;
}

unsigned KZSearchController::claimWorker()
{
    // The driver and the workers may try at once: a slot is claimed in one
    // atomic step, and the flag is set before the work is queued so that the
    // driver never sees every worker idle while a folder is on its way.
    const unsigned slots = (1u << scanWorkers_) - 1u;
    unsigned current = workersBusy_.load();
    unsigned bit = 0;
    do {
        const unsigned idle = slots & ~current;
        if (idle == 0)
            return 0;
        bit = idle & (0u - idle);
    } while (!workersBusy_.compare_exchange_weak(current, current | bit));
    return bit;
}

void KZSearchController::launchWorker(unsigned worker, fs::path url, qint16 label,
                                      std::shared_ptr<const KZExcludedInfo> excluded, KZSearchItemInfoRef read)
{
    auto info = KZThreadInfo::create(label, std::move(excluded));
    KZSearchOperationQueue().addOperation(
        [self = shared_from_this(), worker, url = std::move(url), info, read = std::move(read)]() mutable {
            self->doSearchThread(worker, std::move(url), std::move(info), std::move(read));
        });
}

void KZSearchController::handFolderOut(QueuedFolder folder)
{
    if (startNewThreadWithURL(folder.url, folder.label, folder.excluded, folder.read))
        return;
    {
        std::lock_guard guard(queuedLock_);
        queuedCount_.fetch_add(1);
        queuedFolders_.push_back(std::move(folder));
    }
    // A worker may have ended between the claim and the queueing.
    dispatchQueuedFolders();
}

std::optional<KZSearchController::QueuedFolder> KZSearchController::takeQueuedFolder()
{
    std::lock_guard guard(queuedLock_);
    if (queuedFolders_.empty())
        return std::nullopt;
    QueuedFolder folder = std::move(queuedFolders_.front());
    queuedFolders_.pop_front();
    queuedCount_.fetch_sub(1);
    return folder;
}

void KZSearchController::dispatchQueuedFolders()
{
    while (queuedCount_.load() != 0) {
        const unsigned worker = claimWorker();
        if (worker == 0)
            return; // a busy worker takes the queue's next when it ends
        std::optional<QueuedFolder> folder = takeQueuedFolder();
        if (!folder) {
            workersBusy_ &= ~worker;
            signalEvent();
            return;
        }
        launchWorker(worker, std::move(folder->url), folder->label, std::move(folder->excluded),
                     std::move(folder->read));
    }
}

void KZSearchController::doSearchThread(unsigned worker, fs::path folder, std::shared_ptr<KZThreadInfo> info,
                                        KZSearchItemInfoRef read)
{
    if (timeAlreadyGot_) {
        collectSongsTime();
    } else {
        WorkerCandidates candidates;
        walkHandedFolder(folder, *info, std::move(read));
        // Then the source folders that waited while every worker was busy.
        while (std::optional<QueuedFolder> next = takeQueuedFolder()) {
            if (!wasStopped())
                walkHandedFolder(next->url, KZThreadInfo(next->label, next->excluded), std::move(next->read));
        }
        pushCandidates(candidates.batch()); // before the worker is seen idle
    }
    if (smallSizesMet_)
        KZCrc32::threadFinished(); // the worker may have hashed
    setItemsToCheckProgress(itemsToCheck_);
    workersBusy_ &= ~worker;
    signalEvent();
    dispatchQueuedFolders(); // one queued after this worker looked
}

void KZSearchController::walkHandedFolder(const fs::path& folder, const KZThreadInfo& info, KZSearchItemInfoRef read)
{
    KZSearchItemInfoRef deferred;
    if (!checkThreadItemAtURL(folder, info, &deferred, std::move(read)))
        iterateSearch(folder, info.excInfo(), info.label(), std::move(deferred));
}

bool KZSearchController::checkThreadItemAtURL(const fs::path& url, const KZThreadInfo& info,
                                              KZSearchItemInfoRef* deferred, KZSearchItemInfoRef read)
{
    KZSearchItemInfoRef item = std::move(read);
    bool hidden = false;
    if (item) {
        // Read from its parent's listing: judged as it was read there.
        const auto flags = item->finderFlags();
        hidden = !criteria_->isInvisible()
            && (item->originalName().startsWith(QLatin1Char('.'))
                || (flags && (*flags & platform::FinderInfo::kIsInvisible) != 0));
    } else {
        const KZItemAttributes attributes = KZItemAttributes::read(url);
        const std::optional<QString> name = attributes.fileName();
        hidden = !criteria_->isInvisible() && attributes.isHidden();
        item = KZSearchItemInfo::create(url);
        if (name && readItem(*item, info.label(), attributes))
            item->setOriginalName(*name);
        else
            item.reset();
    }
    if (item) {
        if (item->isApplication() || (item->isPackage() && !criteria_->treatPackAsFolder())) {
            processFileItem(std::move(item));
            return true;
        }
        if (reader_->foldersMeasuredByScan() && !hidden) {
            *deferred = std::move(item);
            return false;
        }
        if (reader_->foldersMeasuredByScan())
            reader_->measureFolder(*item);
        processFolderItem(std::move(item));
    }
    return hidden;
}

void KZSearchController::iterateSearch(const fs::path& root, std::shared_ptr<const KZExcludedInfo> excluded,
                                       qint16 label, KZSearchItemInfoRef rootSelf)
{
    KZFolderWalk(*criteria_, *reader_, listedFolders_, *this, walkBudget_)
        .walk(root, std::move(excluded), label, std::move(rootSelf));
}

// ---- What a walk hands on ---------------------------------------------------------------

bool KZSearchController::walkWasStopped() const
{
    return wasStopped();
}

bool KZSearchController::readWalkedItem(KZSearchItemInfo& item, qint16 label, const KZItemAttributes& attributes)
{
    return readItem(item, label, attributes);
}

void KZSearchController::walkedFile(KZSearchItemInfoRef item)
{
    processFileItem(std::move(item));
}

void KZSearchController::walkedFolder(KZSearchItemInfoRef item)
{
    processFolderItem(std::move(item));
}

void KZSearchController::folderNotListed(const fs::path& dir, int err)
{
    noteUnlisted(dir, err);
}

void KZSearchController::entryNotRead()
{
    unreadableCount_.fetch_add(1);
}

void KZSearchController::folderListed()
{
    if (workerCandidates)
        pushCandidates(*workerCandidates);
}

bool KZSearchController::handOver(const fs::path& dir, qint16 label,
                                  const std::shared_ptr<const KZExcludedInfo>& excluded,
                                  const KZSearchItemInfoRef& item)
{
    // Once the driver has handed every source folder out, a walk that meets
    // a visible subfolder offers it to a worker that idles.
    if (!mainCompleted_)
        return false;
    currLocationLabel_ = label;
    return startNewThreadWithURL(dir, label, excluded, item);
}

void KZSearchController::noteUnlisted(const fs::path& dir, int err)
{
    if (err == ENOENT)
        return; // gone since its parent was listed
    unlistedCount_.fetch_add(1);
    platform::logLine(
        QStringLiteral("Cannot list %1: %2").arg(platform::pathText(dir), QString::fromLocal8Bit(std::strerror(err))));
}

// ---- Per-item entry and the candidate step --------------------------------------------

void KZSearchController::processFolderItem(KZSearchItemInfoRef item)
{
    if (criteria_->excludeFolder())
        return;
    performTestOneForItem(std::move(item));
}

void KZSearchController::processFileItem(KZSearchItemInfoRef item)
{
    if (criteria_->isFolderEmpty() || criteria_->isFolderNotEmpty())
        return;
    performTestOneForItem(std::move(item));
}

void KZSearchController::performTestOneForItem(KZSearchItemInfoRef item)
{
    const bool sameOrUnique = isSameSearch_ || isUniqueSearch_;
    if (!sameOrUnique)
        setItemsToCheckProgress(++itemsToCheck_);

    if (!filters_->checkForNotSameUniqueCriteria(*item)) {
        if (sameOrUnique)
            setItemsToCheckProgress(++itemsToCheck_);
        std::lock_guard guard(progressLock_);
        setItemsCheckedProgress(++checkedFilesCount_);
        if (isUniqueSearch_) {
            ++notDupesCount_;
            itemsFoundCount_ = checkedFilesCount_ - notDupesCount_;
            setItemsFoundProgress(itemsFoundCount_);
        }
        return;
    }

    const bool leavesLibrariesOut
        = criteria_->excludeiTunesItems() || !criteria_->excludePhotosItemsDict().isEmpty();
    if (leavesLibrariesOut && !(criteria_->isDuration() && timeAlreadyGot_)) {
        if (libraryPasses_->leftOut(*item))
            return;
    }

    if (alreadyFiled(*item))
        return;

    if (item->isImageContent()) {
        std::unique_ptr<KZNodeCache> record = crc32_ ? crc32_->CRCForImageWithURL(item->url()) : nullptr;
        if (record)
            item->setImageRecord(std::move(record));
        else
            item->setIsImageContent(false);
    }

    if (!item->isImageContent())
        hashSmallFileIfSizeMet(*item);

    if (sameOrUnique)
        setItemsToCheckProgress(++itemsToCheck_);

    if (workerCandidates && !item->isImageContent()) {
        workerCandidates->push_back(std::move(item));
        if (workerCandidates->size() >= kWakeBatch)
            pushCandidates(*workerCandidates);
        return;
    }
    bool wake = false;
    {
        std::lock_guard guard(notificationLock_);
        if (hashAhead_)
            hashAhead_->noteCandidate(*item);
        // The driver is woken for a batch worth filing, not for every file:
        // a worker that goes idle wakes it anyway, and whatever waits when
        // the scan ends is drained then.
        KZCandidateStack& stack = item->isImageContent() ? itemInfoCStyleForImages_ : itemInfoCStyle_;
        wake = stack.push(std::move(item)) && (&stack == &itemInfoCStyleForImages_ || stack.size() % kWakeBatch == 0);
    }
    if (wake)
        signalEvent();
}

void KZSearchController::pushCandidates(std::vector<KZSearchItemInfoRef>& batch)
{
    if (batch.empty())
        return;
    bool wake = false;
    {
        std::lock_guard guard(notificationLock_);
        const std::size_t before = itemInfoCStyle_.size();
        for (KZSearchItemInfoRef& item : batch) {
            if (hashAhead_)
                hashAhead_->noteCandidate(*item);
            itemInfoCStyle_.push(std::move(item));
        }
        // The same wake-ups as one candidate at a time would give.
        wake = itemInfoCStyle_.size() / kWakeBatch != before / kWakeBatch;
    }
    batch.clear();
    if (wake)
        signalEvent();
}

bool KZSearchController::alreadyFiled(const KZSearchItemInfo& item)
{
    if (!item.hasIdentity())
        return false;
    const KZObjectKey key{item.device(), item.inode()};
    // A folder can be met again through overlapping sources, two spellings
    // of one path, a folder mounted twice. A file with a single name only
    // through its one folder, and no folder is listed twice: nothing needs
    // to be remembered for it, which for most files is all there is.
    if (item.isDirectory())
        return !filedItems_.insert(key.device, key.inode);
    if (item.linkCount() == 1)
        return false;
    // A file with several names: its hard links are duplicates of each
    // other, but each name is filed once. A name is its folder's identity
    // and its bytes, whatever path led there.
    const fs::path& url = item.url();
    EntryKey entry{0, 0, KZEnginePaths::lastComponent(url).native()};
    if (const auto parent = platform::statPath(url.parent_path(), true)) {
        entry.parentDevice = quint64(parent->device);
        entry.parentInode = parent->inode;
    } else {
        entry.name = url.native();
    }
    std::lock_guard guard(filedLock_);
    std::vector<EntryKey>& entries = filedEntries_[key];
    if (std::find(entries.begin(), entries.end(), entry) != entries.end())
        return true;
    entries.push_back(std::move(entry));
    return false;
}

void KZSearchController::hashSmallFileIfSizeMet(KZSearchItemInfo& item)
{
    if (!smallSizesMet_ || !item.isRegularFile() || item.totSize() > KZCrc32::kBlockSize)
        return;
    const quint64 size = item.totSize();
    const quint64 bit = quint64(1) << (size % 64);
    const bool met = (smallSizesMet_[size / 64].fetch_or(bit, std::memory_order_relaxed) & bit) != 0;
    // A file with other names may meet one of them, which needs no read.
    // While the driver keeps up, the hashing pool reads the file for the
    // batch it is filed in, off the walk.
    if (met && item.linkCount() == 1 && itemInfoCStyle_.size() >= workerHashingBacklog_) {
        std::unique_ptr<KZNodeCache> cache = crc32_->hashSmallFile(item.url(), size);
        if (!cache)
            item.setIsContentUnreadable(true); // counted when the driver files it
        item.setContentCache(std::move(cache));
    }
}

// ---- Driver waits -----------------------------------------------------------------------

void KZSearchController::waitUntilThreadTerminated()
{
    fileUntilEveryPassEnds();
    emptyTheTrees();
    timeAlreadyGot_ = true;
    libraryPasses_->forgetLeftOut();
    if (!criteria_->isDuration())
        return;

    // The durations pass: one more worker turn, filed like the scan's.
    bool started = false;
    for (;;) {
        const quint64 seen = eventCount();
        if (!started) {
            setMainInfoTitle(QStringLiteral("gathering_durations"));
            started = startNewThreadWithURL(fs::path(), currLocationLabel_, nullptr);
        } else {
            secondTestProcess();
        }
        if (started && workersBusy_.load() == 0)
            break;
        if (!driverHasWork())
            waitForEvent(seen);
    }
    finalDrain();
    emptyTheTrees();
    // Nothing gathers durations yet: the nodes set aside for that phase join
    // the list, so that no confirmed duplicate is lost.
    std::lock_guard guard(progressLock_);
    foundNodes_.restoreDurationItems();
}

void KZSearchController::fileUntilEveryPassEnds()
{
    auto busy = [this] {
        return scanBusy() || contentImagesIsWorking_.load() || foldersContentIsWorking_.load()
            || queriesWorking_.load() != 0;
    };
    for (;;) {
        const quint64 seen = eventCount();
        secondTestProcess();
        if (!busy())
            break;
        if (wasStopped() || !driverHasWork())
            waitForEvent(seen);
    }

    if (criteria_->isFolderCompareContent() && !scanBusy() && !foldersContentIsWorking_.load()) {
        readingIsTerminated_ = true;
        secondTestProcess();
    }

    if (wasStopped())
        freeUnusedInfoCStyle();
    else
        finalDrain();
}

void KZSearchController::emptyTheTrees()
{
    setProgressVariables();
    secondPass_->emptyTree(KZSecondPass::Tree::Main);
    secondPass_->emptyTree(KZSecondPass::Tree::Images);
}

void KZSearchController::finalDrain()
{
    // Candidates pushed after the last turn of either pass. The image pass
    // has ended by now, so the driver may file into its tree too.
    std::vector<bool> sizeShared;
    for (KZCandidateStack* stack : {&itemInfoCStyle_, &itemInfoCStyleForImages_}) {
        for (;;) {
            const std::vector<KZSearchItemInfoRef> batch = popBatch(*stack, 512, &sizeShared);
            if (batch.empty())
                break;
            if (stack == &itemInfoCStyle_ && hashAhead_)
                hashAhead_->hashAheadOf(batch, sizeShared);
            for (const KZSearchItemInfoRef& item : batch)
                secondTestForItem(item);
        }
    }
}

// ==== The second pass ============================================================================

// The driver's turns of the second pass: candidates come off the stacks,
// newest first, in batches that a pool may hash ahead, and are filed by
// KZSecondPass; what it finds joins the counters and the found list here,
// under progressLock_.

// ---- Turns of the pass ---------------------------------------------------------------

std::vector<KZSearchItemInfoRef> KZSearchController::popBatch(KZCandidateStack& stack, std::size_t most,
                                                              std::vector<bool>* sizeShared)
{
    std::vector<KZSearchItemInfoRef> batch;
    sizeShared->clear();
    std::lock_guard guard(notificationLock_);
    while (batch.size() < most) {
        KZSearchItemInfoRef item = stack.pop();
        if (!item)
            break;
        sizeShared->push_back(hashAhead_ && hashAhead_->sizeShared(item->totSize()));
        batch.push_back(std::move(item));
    }
    return batch;
}

void KZSearchController::secondTestProcess()
{
    bool imagesWaiting = false;
    {
        std::lock_guard guard(notificationLock_);
        imagesWaiting = !itemInfoCStyleForImages_.isEmpty();
    }
    if (imagesWaiting && !contentImagesIsWorking_.exchange(true))
        KZSearchOperationQueue().addOperation([self = shared_from_this()] { self->doSecondProcessForImageContent(); });

    if (criteria_->isFolderCompareContent() && readingIsTerminated_) {
        foldersContentIsWorking_ = true;
        quint64 toCheck = 0;
        {
            std::lock_guard guard(progressLock_);
            toCheck = itemsToCheck_;
        }
        if (!wasStopped() && toCheck > 50 && progressCntrl_) {
            progressCntrl_->showFolderView(true);
            progressCntrl_->showDeterminateProgress();
        }
        folderContentPass_->run(secondPass_->mainTree(), hashingThreadCount());
        foldersContentIsWorking_ = false;
        signalEvent();
    }

    secondTestProcessWithArray(itemInfoCStyle_);
}

void KZSearchController::doSecondProcessForImageContent()
{
    secondTestProcessWithArray(itemInfoCStyleForImages_);
    KZCrc32::threadFinished();
    contentImagesIsWorking_ = false;
    signalEvent();
}

void KZSearchController::secondTestProcessWithArray(KZCandidateStack& stack)
{
    const bool duration = criteria_->isDuration();
    if (!duration && wasStopped())
        return;
    // Only the driver's own stack is hashed ahead: the pool has one caller.
    const bool hashes = &stack == &itemInfoCStyle_ && hashAhead_;
    std::vector<bool> sizeShared;
    for (;;) {
        const std::size_t most = !hashes ? 1 : (mainCompleted_ ? 512 : 64);
        const std::vector<KZSearchItemInfoRef> batch = popBatch(stack, most, &sizeShared);
        if (batch.empty())
            break;
        if (hashes)
            hashAhead_->hashAheadOf(batch, sizeShared);
        for (const KZSearchItemInfoRef& item : batch)
            fileCandidate(item);
        if (!duration && wasStopped())
            break;
        if (mainCompleted_ && workersBusy_.load() == 0 && !contentImagesIsWorking_ && !foldersContentIsWorking_
            && !progressAlreadyChanged_.exchange(true) && progressCntrl_)
            progressCntrl_->showDeterminateProgress();
    }
}

void KZSearchController::fileCandidate(const KZSearchItemInfoRef& item)
{
    if (!item->hasOriginalName()) {
        // Cannot be compared or shown; left at the head it would hold back
        // every candidate behind it.
        platform::logLine(QStringLiteral("secondTestProcessWithArray: candidate without a name dropped"));
        return;
    }
    secondTestForItem(item);
}

// ---- Filing one candidate -----------------------------------------------------------------

void KZSearchController::secondTestForItem(KZSearchItemInfoRef item)
{
    const bool folderSearch = criteria_->isFolderCompareContent();
    if (!folderSearch || readingIsTerminated_) {
        std::lock_guard guard(progressLock_);
        setItemsCheckedProgress(++checkedFilesCount_);
    }

    std::unique_ptr<TreeToCheck> node = TreeToCheck::create(item);
    if (!node) {
        platform::logLine(QStringLiteral("secondTestForItem: newNode not malloced"));
        return;
    }
    node->crcs = item->takeContentCache();

    if (!isSameSearch_ && !isUniqueSearch_) {
        // Every candidate is a find (the empty-folder searches).
        if (!criteria_->isNestedEmptied()) {
            std::lock_guard guard(progressLock_);
            setItemsFoundProgress(++itemsFoundCount_);
            setInfoFoundItemProgress(*item);
        }
        processFoundItem(std::move(node));
        return;
    }

    if (folderSearch && readingIsTerminated_)
        folderContentPass_->fileFolder(std::move(node));
    else
        secondPass_->addNode(std::move(node),
                             item->isImageContent() ? KZSecondPass::Tree::Images : KZSecondPass::Tree::Main);

    if (isUniqueSearch_) {
        std::lock_guard guard(progressLock_);
        itemsFoundCount_ = checkedFilesCount_ - notDupesCount_;
        setItemsFoundProgress(itemsFoundCount_);
    }
}

// ---- What the filing hands back ----------------------------------------------------------

bool KZSearchController::passWasStopped() const
{
    return wasStopped();
}

void KZSearchController::candidateDropped()
{
    if (isUniqueSearch_) {
        std::lock_guard guard(progressLock_);
        ++notDupesCount_;
    }
}

void KZSearchController::contentUnreadable()
{
    // The content reader is the one that knows why and says so; here the
    // failure is only counted, once per file.
    unreadableCount_.fetch_add(1);
}

qint16 KZSearchController::compareFolderContent(TreeToCheck& one, TreeToCheck& two)
{
    return folderContentPass_->compareFolders(one, two);
}

qint16 KZSearchController::compareFoundFolders(TreeToCheck& here, TreeToCheck& node)
{
    std::lock_guard guard(progressLock_);
    return foundNodes_.foldersTree().folderAlreadyExists(here, node);
}

void KZSearchController::joinGroup(TreeToCheck& here, std::unique_ptr<TreeToCheck> node)
{
    const bool onlyUnique = isUniqueSearch_ && !isSameSearch_;
    std::lock_guard guard(progressLock_);
    if (!here.inGroup) {
        here.groupID = ++currGroupID_;
        here.inGroup = true;
        if (isSameSearch_) {
            here.itemsInGroup = makeItemsInGroup(1);
            setItemsFoundProgress(++itemsFoundCount_);
            setInfoFoundItemProgress(*here.item);
        } else {
            ++notDupesCount_;
        }
    }
    if (onlyUnique) {
        node->crcs.reset();
        ++notDupesCount_;
        return;
    }
    if (!criteria_->isNestedEmptied()) {
        setItemsFoundProgress(++itemsFoundCount_);
        setInfoFoundItemProgress(*node->item);
    }
    node->groupID = here.groupID;
    if (here.itemsInGroup) {
        here.itemsInGroup->fetch_add(1);
        node->itemsInGroup = here.itemsInGroup;
    }
    processFoundItem(std::move(node));
}

void KZSearchController::foundInTree(std::unique_ptr<TreeToCheck> node)
{
    processFoundItem(std::move(node));
}

void KZSearchController::folderPassedOver()
{
    std::lock_guard guard(progressLock_);
    setItemsCheckedProgress(++checkedFilesCount_);
}

void KZSearchController::folderToFile(KZSearchItemInfoRef item)
{
    secondTestForItem(std::move(item));
}

void KZSearchController::folderMatched(TreeToCheck& representative, std::unique_ptr<TreeToCheck> node)
{
    std::lock_guard guard(progressLock_);
    if (!representative.inGroup) {
        representative.groupID = ++currGroupID_;
        representative.inGroup = true;
        representative.itemsInGroup = makeItemsInGroup(1);
        setItemsFoundProgress(++itemsFoundCount_);
        setInfoFoundItemProgress(*representative.item);
    }
    node->groupID = representative.groupID;
    representative.itemsInGroup->fetch_add(1);
    node->itemsInGroup = representative.itemsInGroup;
    setItemsFoundProgress(++itemsFoundCount_);
    setInfoFoundItemProgress(*node->item);
    processFoundItem(std::move(node));
}

void KZSearchController::groupHeadFound(std::unique_ptr<TreeToCheck> node)
{
    processFoundItem(std::move(node));
}

void KZSearchController::processFoundItem(std::unique_ptr<TreeToCheck> node)
{
    std::lock_guard guard(progressLock_);
    const KZFoundNodes::Phase phase{criteria_->isNestedEmptied(), duplicateFoldersAlreadyChecked_.load(),
                                    criteria_->isDuration(), timeAlreadyGot_.load()};
    if (TreeToCheck* newFolder = foundNodes_.processFoundItem(std::move(node), phase)) {
        setItemsFoundProgress(++itemsFoundCount_);
        setInfoFoundItemProgress(*newFolder->item);
    }
}

void KZSearchController::freeUnusedInfoCStyle()
{
    std::lock_guard guard(notificationLock_);
    itemInfoCStyle_.clear();
    itemInfoCStyleForImages_.clear();
}

// ==== Library passes, saved searches, song durations =============================================

// The passes that are not part of the scan: the music and photo libraries
// (KZLibraryPasses), whose files are fed into the scan's per-item path as
// their libraries list them, saved searches, whose queries we evaluate over
// the file system, and song durations (not built yet: the stage is called
// where its pass belongs, and until then contributes no items).

void KZSearchController::gatherLibraryExclusions()
{
    if (criteria_->excludeiTunesItems())
        libraryPasses_->musicLibrary(0);
    if (wasStopped() || criteria_->excludePhotosItemsDict().isEmpty())
        return;
    const fs::path library = platform::pathFromText(
        criteria_->excludePhotosItemsDict().value(QStringLiteral("libraryPath")).toString());
    processPhotosLocation(library, 0);
}

void KZSearchController::processPhotosLocation(const fs::path& path, qint16 label)
{
    if (!libraryPasses_->startPhotos(path, label))
        return;
    // The driver files what the halves find while they work, and sleeps
    // when there is nothing to file.
    const bool leaveOut = criteria_->excludePhotosItems();
    for (;;) {
        const quint64 seen = eventCount();
        if (!leaveOut)
            secondTestProcess();
        if (!libraryPasses_->photosWorking())
            break;
        if (leaveOut || wasStopped() || !driverHasWork())
            waitForEvent(seen);
    }
}

// ---- KZLibraryPasses::Delegate ----------------------------------------------------------------

void KZSearchController::libraryFileMet(const fs::path& url, qint16 label, const KZItemAttributes& attributes,
                                        const QString& name, std::shared_ptr<KZAppSuppInfo> owner)
{
    fileListedItem(url, label, attributes, name, std::move(owner));
}

void KZSearchController::missingTrackFound()
{
    std::lock_guard guard(progressLock_);
    setItemsFoundProgress(++itemsFoundCount_);
}

void KZSearchController::runPhotosHalf(std::function<void()> half)
{
    KZSearchOperationQueue().addOperation([self = shared_from_this(), half = std::move(half)] {
        half();
        self->signalEvent();
    });
}

void KZSearchController::fileListedItem(const fs::path& url, qint16 label, const KZItemAttributes& attributes,
                                        const QString& name, std::shared_ptr<KZAppSuppInfo> owner)
{
    auto item = KZSearchItemInfo::create(url);
    if (!readItem(*item, label, attributes))
        return;
    item->setOriginalName(name);
    if (owner)
        item->setAppSuppInfo(std::move(owner));
    processFileItem(std::move(item));
}

// ---- Saved searches ------------------------------------------------------------------------

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

// The progress window's title while a saved search's results are handled.
QString smartFolderTitle(int step)
{
    return KZErrorDelegate::replaceContentOfString(platform::localizedString(QStringLiteral("managing_smart_folder")),
                                                   {QString::number(step)});
}

// Lets the grouping by location ask for a stop and show its steps and count
// in the search's progress window.
class SearchGrouping : public KZLocationGroupingDelegate {
public:
    SearchGrouping(std::function<bool()> stopped, std::function<void(quint64)> checked, KZProgressControl* progress)
        : stopped_(std::move(stopped)), checked_(std::move(checked)), progress_(progress)
    {
    }
    bool nsWasStopped() override { return stopped_(); }
    void setAlreadyCheckedCount(quint64 count) override { checked_(count); }
    void groupingStepBegan(int step) override
    {
        if (progress_)
            progress_->setMainInfoTitle(smartFolderTitle(step));
    }

private:
    std::function<bool()> stopped_;
    std::function<void(quint64)> checked_;
    KZProgressControl* progress_;
};

} // namespace

void KZSearchController::doQuerySearch(const fs::path& savedSearch, qint16 label)
{
    if (wasStopped())
        return;
    if (progressCntrl_)
        progressCntrl_->setMainInfoTitle(smartFolderTitle(1));
    KZMDQuery::Options options;
    options.home = platform::homeDirectory();
    options.now = platform::Clock::shared().dateTime();
    options.includeHidden = criteria_->isInvisible();
    options.wasStopped = [this] { return wasStopped(); };
    QString error;
    const std::optional<std::vector<KZLocationEntry>> results = KZMDQuery::run(savedSearch, options, &error);
    if (!results) {
        // Handed on with the result, which says it: otherwise the search
        // would end as if the saved search had found nothing.
        platform::logLine(QStringLiteral("Saved search skipped: ") + platform::pathText(savedSearch)
                          + QStringLiteral(": ") + error);
        std::lock_guard guard(skippedLock_);
        skippedSources_.append(QStringLiteral("“%1”: %2").arg(platform::elementText(savedSearch.filename()), error));
        return;
    }
    setItemsToCheckProgress(results->size());
    bool anyFolder = false;
    for (std::size_t i = 0; i < results->size(); ++i) {
        anyFolder = anyFolder || (*results)[i].isFolder;
        setItemsCheckedProgress(i + 1);
        if (wasStopped())
            return;
    }
    std::vector<std::size_t> order;
    if (anyFolder) {
        // A folder's contents are reached through its scan.
        setItemsCheckedProgress(0);
        SearchGrouping delegate([this] { return wasStopped(); },
                                [this](quint64 count) { setItemsCheckedProgress(count); }, progressCntrl_.get());
        order = KZGroupItemsByLocation(*results, &delegate);
    } else {
        for (std::size_t i = 0; i < results->size(); ++i)
            order.push_back(i);
    }
    setMainInfoTitle(QStringLiteral("scanning"));
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
        if (const std::optional<QString> name = attributes.fileName())
            fileListedItem(entry.path, label, attributes, *name, nullptr);
    }
}

void KZSearchController::collectSongsTime() {}
