// The first pass over folder sources: the driver lists each source's top
// level and hands every subfolder to one of the scan workers (or queues it
// for the first one that ends its walk), which walk it and push every item
// that passes the filters onto a candidate stack. Once the driver has handed
// everything out, a worker that meets a visible subfolder offers it to an
// idle worker, so that all of them stay busy until the end, however few or
// lopsided the top-level folders are.
// The walk itself is KZFolderWalk's.

#include "engine/KZSearchController.h"

#include "engine/KZCompareCodes.h"
#include "engine/KZEnginePaths.h"
#include "engine/KZFolderWalk.h"
#include "engine/KZHashAhead.h"
#include "engine/KZItemAttributes.h"
#include "engine/KZItemFilters.h"
#include "engine/KZItemReader.h"
#include "platform/DirectoryListing.h"
#include "platform/FileStat.h"
#include "platform/FinderInfo.h"
#include "platform/Log.h"
#include "platform/OperationQueue.h"
#include "platform/Paths.h"
#include "settings/KZSearchCriteria.h"

#include <QByteArray>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace fs = std::filesystem;

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
    if (struct stat st {}; ::fstat(folder.fd(), &st) == 0 && !listedFolders_.insert(st.st_dev, st.st_ino))
        return; // the same folder as a source before, spelled otherwise

    const bool wantsHidden = criteria_->isInvisible();
    const KZSearchItemInfo::Folder folderBytes = KZSearchItemInfo::makeFolder(url);
    const bool listed = folder.list([&](const platform::DirEntry& entry) {
        if (wasStopped())
            return false;
        const fs::path child = url / entry.name;
        if (reader_->isExcluded(child, excluded.get()))
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
