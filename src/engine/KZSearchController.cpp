#include "engine/KZSearchController.h"

#include "engine/KZFolderContentPass.h"
#include "engine/KZResultInfoKeys.h"

#include "engine/KZFoundListParcel.h"
#include "engine/KZHashAhead.h"
#include "engine/KZHashPool.h"
#include "engine/KZItemAttributes.h"
#include "engine/KZItemFilters.h"
#include "engine/KZItemReader.h"
#include "engine/KZSourcePreparation.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/OperationQueue.h"
#include "platform/Paths.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "services/KZErrorDelegate.h"
#include "services/KZFilesUtilities.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZDefaultsRegistry.h"
#include "settings/KZNotificationNames.h"
#include "settings/KZSearchCriteria.h"

#include <QByteArray>
#include <QVariant>

#include <algorithm>
#include <limits>

#include <sys/resource.h>

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
    const bool hasPhotosLibrary
        = std::any_of(sources.begin(), sources.end(), [](const KZSourceItemRef& s) { return s && s->isPhotosLib(); });
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
    if (progressCntrl_)
        progressCntrl_->setIsSearching(false);

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
                processPhotosLocation(path, label);
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
        info.insert(KZResultKey::foundItemsCount, itemsFoundCount_);
        info.insert(KZResultKey::itemsToCheckCount, itemsToCheck_.load());
        info.insert(KZResultKey::foundItemsSize, sizeFoundValue_);
        info.insert(KZResultKey::checkedItemsCount, checkedFilesCount_);
    }
    info.insert(KZResultKey::unreadableItemsCount, unreadableCount_.load());
    info.insert(KZResultKey::unlistedFoldersCount, unlistedCount_.load());
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
