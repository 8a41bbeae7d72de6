// The first pass over folder sources: the driver lists each source's top
// level and hands every subfolder to one of two workers, which walk it and
// push every item that passes the filters onto a candidate stack. Once the
// driver has handed everything out, a worker that meets a visible subfolder
// offers it to the other worker when that one is idle, so that both stay
// busy until the end.
//
// Walks are iterative (an explicit stack of open folders), so a deep tree
// cannot exhaust a thread's stack; folders are listed through their open
// descriptors, so each item costs one statx relative to its folder.

#include "engine/KZSearchController.h"

#include "engine/KZCompareCodes.h"
#include "engine/KZEnginePaths.h"
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
#include <climits>
#include <cstring>
#include <string_view>
#include <unordered_set>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

// Open folders a walk keeps for descending by descriptor, so that a very deep
// tree does not run out of descriptors.
constexpr std::size_t kMaxOpenFolders = 64;
constexpr std::size_t kMaxHandOverPath = PATH_MAX / 2;
// Candidates on the stack that wake the driver during the scan.
constexpr std::size_t kWakeBatch = 64;

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
    return workersBusy_.load() == 0;
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
            while (!startNewThreadWithURL(child, label, excluded, read))
                waitUntilFreeThread();
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
    // The driver and both workers may try at once: a slot is claimed in one
    // atomic step, and the flag is set before the work is queued so that the
    // driver never sees both workers idle while a folder is on its way.
    unsigned current = workersBusy_.load();
    unsigned bit = 0;
    do {
        if ((current & 3u) == 3u)
            return false;
        bit = (current & 1u) ? 2u : 1u;
    } while (!workersBusy_.compare_exchange_weak(current, current | bit));

    auto info = KZThreadInfo::create(label, std::move(excluded));
    const int worker = bit == 1u ? 1 : 2;
    KZSearchOperationQueue().addOperation([self = shared_from_this(), worker, url, info, read]() mutable {
        self->doSearchThread(worker, std::move(url), std::move(info), std::move(read));
    });
    return true;
}

void KZSearchController::doSearchThread(int worker, fs::path folder, std::shared_ptr<KZThreadInfo> info,
                                        KZSearchItemInfoRef read)
{
    if (timeAlreadyGot_) {
        collectSongsTime();
    } else {
        KZSearchItemInfoRef deferred;
        if (!checkThreadItemAtURL(folder, *info, &deferred, std::move(read)))
            iterateSearch(folder, info->excInfo(), info->label(), std::move(deferred));
    }
    if (smallSizesMet_)
        KZCrc32::threadFinished(); // the worker may have hashed
    setItemsToCheckProgress(itemsToCheck_);
    workersBusy_ &= ~(worker == 1 ? 1u : 2u);
    signalEvent();
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
    struct PendingFolder {
        KZSearchItemInfoRef item;
        std::string name;
        bool hidden = false;
    };
    struct Frame {
        fs::path dir;
        std::string name; // in the folder below it on the stack
        platform::DirectoryHandle handle;
        dev_t device = 0;
        ino_t inode = 0;
        std::vector<PendingFolder> folders;
        std::size_t next = 0;
        KZSearchItemInfoRef self; // the folder as a candidate, after its contents
        // With folders measured by the walk: the sums so far, and the
        // subfolders whose own sums are still to come.
        quint64 size = 0;
        quint64 count = 0;
        std::vector<std::string> subfolders;
        std::unordered_set<std::string> walked;
        // Whether the listing showed content by the emptiness rule, or an
        // entry that only a look at it can judge.
        bool holdsContent = false;
        bool emptinessUnsure = false;
    };
    std::vector<Frame> stack;
    const bool wantsHidden = criteria_->isInvisible();
    const KZExcludedInfo* exclusions = excluded.get();
    const bool excludes = reader_->excludesAny(exclusions);
    // Each folder's size and count are added up from the listings the walk
    // makes anyway, children into parents, so that measuring every folder
    // costs nothing beyond the walk. A folder handed to the other worker
    // would leave its parent without its sums: such a walk keeps its
    // subfolders.
    const bool sums = reader_->foldersMeasuredByScan();
    // A folder's emptiness, when the filters ask for it, is judged from the
    // walk's own listing too, instead of listing the folder once more. Nested
    // emptiness looks at whole subtrees and is left to the filters.
    const bool weighs = sums
        || ((criteria_->isFolderEmpty() || criteria_->isFolderNotEmpty()) && !criteria_->isNestedEmptied());

    // Only the frames at the top of the stack keep their folders open, so a
    // walk holds a bounded number of descriptors at any depth. Every folder
    // is opened relative to its parent's descriptor, never by its full path,
    // so neither depth nor the length of a path limits the walk. A frame
    // that was closed is opened again, when the walk climbs back to it, as
    // ".." of the folder it left, and checked to be the same folder.
    auto identify = [](Frame& frame) {
        struct stat st {};
        if (::fstat(frame.handle.fd(), &st) != 0)
            return false;
        frame.device = st.st_dev;
        frame.inode = st.st_ino;
        return true;
    };
    auto isSame = [](const platform::DirectoryHandle& handle, const Frame& frame) {
        struct stat st {};
        return handle.isValid() && ::fstat(handle.fd(), &st) == 0 && st.st_dev == frame.device
            && st.st_ino == frame.inode;
    };
    // Opens the top frame again from the nearest frame below that is open,
    // name by name; false when a folder on the way is no longer the one
    // that was listed.
    auto reopenTop = [&]() {
        std::size_t base = stack.size() - 1;
        while (base > 0 && !stack[base - 1].handle.isValid())
            --base;
        for (std::size_t i = base; i < stack.size(); ++i) {
            platform::DirectoryHandle handle = i == 0 ? platform::DirectoryHandle::open(stack[0].dir)
                                                      : platform::DirectoryHandle::openAt(
                                                            stack[i - 1].handle.fd(), stack[i].name.c_str());
            if (!isSame(handle, stack[i]))
                return false;
            stack[i].handle = std::move(handle);
        }
        for (std::size_t i = base; i + kMaxOpenFolders < stack.size(); ++i)
            stack[i].handle = platform::DirectoryHandle();
        return true;
    };

    // Lists one folder: files become candidates at once; plain subfolders
    // wait in the frame, to be walked (or offered to the other worker) and
    // then handed on themselves, after everything inside them.
    auto enter = [&](const fs::path& dir, int parentFd, const std::string& name, KZSearchItemInfoRef self) {
        if (wasStopped() || reader_->isExcluded(dir, exclusions))
            return false;
        int err = 0;
        Frame frame;
        frame.dir = dir;
        frame.name = name;
        frame.self = std::move(self);
        frame.handle = parentFd >= 0 ? platform::DirectoryHandle::openAt(parentFd, name.c_str(), &err)
                                     : platform::DirectoryHandle::open(dir, &err);
        if (frame.handle.isValid() && !identify(frame)) {
            err = errno;
            frame.handle = platform::DirectoryHandle();
        }
        if (!frame.handle.isValid()) {
            noteUnlisted(dir, err);
            return false;
        }
        // A folder met again (through overlapping sources or a second mount)
        // is not listed again: what it holds was met the first time.
        if (!listedFolders_.insert(frame.device, frame.inode))
            return false;
        const KZSearchItemInfo::Folder folder = KZSearchItemInfo::makeFolder(dir);
        const bool listed = frame.handle.list([&](const platform::DirEntry& entry) {
            if (wasStopped())
                return false;
            if (sums && !entry.statFailed) {
                // The same rule as a folder measurement: view-settings files
                // count for nothing, whatever the filters leave out counts.
                if (!entry.name.starts_with(".DS_Store")) {
                    ++frame.count;
                    if (!entry.stat.isDir())
                        frame.size += entry.stat.size;
                }
                if (entry.stat.isDir())
                    frame.subfolders.push_back(entry.name);
            }
            if (weighs && !frame.holdsContent) {
                const KZItemReader::EntryWeight weight = reader_->weighEntryForEmptiness(entry);
                frame.holdsContent = weight == KZItemReader::EntryWeight::Content
                    || weight == KZItemReader::EntryWeight::Subfolder;
                frame.emptinessUnsure |= weight == KZItemReader::EntryWeight::Unsure;
            }
            if (entry.name.empty() || (!wantsHidden && entry.name.front() == '.'))
                return true;
            if (excludes && reader_->isExcluded(dir / entry.name, exclusions))
                return true;
            if (entry.statFailed) {
                if (entry.statError != ENOENT) // gone since the folder was read is no failure
                    unreadableCount_.fetch_add(1);
                return true;
            }
            const KZItemAttributes attributes = KZItemAttributes::fromEntry(dir, entry, frame.handle.fd());
            auto item = KZSearchItemInfo::create(folder, entry.name);
            if (!readItem(*item, label, attributes))
                return true;
            item->setOriginalNameFromLocation();
            if (item->isDirectory() && !item->isPackage() && !item->isApplication()) {
                // A folder whose extension is left out is neither walked nor
                // a candidate.
                if (reader_->extensionIsSame(item->extension()))
                    return true;
                const bool hidden = !wantsHidden && attributes.isHidden();
                frame.folders.push_back({std::move(item), entry.name, hidden});
            } else {
                processFileItem(std::move(item));
            }
            return !wasStopped();
        }, &err);
        if (!listed) {
            noteUnlisted(dir, err);
            frame.holdsContent = true; // not listed to its end: never called empty
        }
        stack.push_back(std::move(frame));
        if (stack.size() > kMaxOpenFolders)
            stack[stack.size() - 1 - kMaxOpenFolders].handle = platform::DirectoryHandle();
        return true;
    };

    if (reader_->extensionIsSame(extensionOfName(KZEnginePaths::lastComponent(root).native())))
        return;
    if (!enter(root, -1, std::string(), rootSelf) && rootSelf) {
        reader_->measureFolder(*rootSelf);
        processFolderItem(std::move(rootSelf));
    }

    while (!stack.empty()) {
        if (wasStopped())
            return;
        Frame& top = stack.back();
        if (top.next < top.folders.size()) {
            PendingFolder pending = std::move(top.folders[top.next++]);
            const fs::path dir = top.dir / pending.name;
            // The other worker opens what it is handed by its path: a folder
            // deep enough for its path to near the system's limit stays here.
            if (!sums && !pending.hidden && mainCompleted_ && dir.native().size() < kMaxHandOverPath) {
                currLocationLabel_ = label;
                if (startNewThreadWithURL(dir, label, excluded, pending.item))
                    continue; // the other worker takes the folder, itself included
            }
            if (!top.handle.isValid() && !reopenTop()) {
                // The folder was moved or replaced while its subfolders were
                // walked: what is left of it cannot be reached safely.
                for (std::size_t i = top.next - 1; i < top.folders.size(); ++i)
                    noteUnlisted(top.dir / top.folders[i].name, ESTALE);
                top.next = top.folders.size();
                continue;
            }
            if (!pending.hidden && enter(dir, top.handle.fd(), pending.name, pending.item))
                continue; // handed on when its frame is done
            if (sums) {
                reader_->measureFolder(*pending.item);
                top.size += pending.item->totSize();
                top.count += pending.item->multiPurposeInfo();
                top.walked.insert(pending.name);
            }
            processFolderItem(std::move(pending.item));
            continue;
        }
        KZSearchItemInfoRef self = std::move(top.self);
        if (self && weighs && !sums && (top.holdsContent || !top.emptinessUnsure))
            self->setEmptyAsScanned(!top.holdsContent);
        if (sums) {
            // Subfolders the walk passed over (hidden, left out, packages,
            // not listed) are measured on their own.
            for (const std::string& name : top.subfolders) {
                if (top.walked.count(name) != 0)
                    continue;
                auto child = KZSearchItemInfo::create(top.dir / name);
                reader_->measureFolder(*child);
                top.size += child->totSize();
                top.count += child->multiPurposeInfo();
            }
            if (self) {
                self->setTotSize(top.size);
                self->setMultiPurposeInfo(top.count);
                if (top.holdsContent || !top.emptinessUnsure)
                    self->setEmptyAsScanned(!top.holdsContent);
            }
            if (stack.size() > 1) {
                Frame& parent = stack[stack.size() - 2];
                parent.size += top.size;
                parent.count += top.count;
                parent.walked.insert(top.name);
            }
        }
        platform::DirectoryHandle left = std::move(top.handle);
        stack.pop_back();
        if (!stack.empty() && !stack.back().handle.isValid() && left.isValid()) {
            platform::DirectoryHandle parent = platform::DirectoryHandle::openAt(left.fd(), "..");
            if (isSame(parent, stack.back()))
                stack.back().handle = std::move(parent);
        }
        if (self)
            processFolderItem(std::move(self));
    }
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
        // A library pass may still be filling the tree beside the workers.
        std::lock_guard guard(photosLock_);
        if (!appURLsTree_.isEmpty() && appURLsTree_.appItemAlreadyExists(*item) == KZCompare::kNotComparable)
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

    bool wake = false;
    {
        std::lock_guard guard(notificationLock_);
        if (hashPool_ && item->isRegularFile() && !item->isImageContent()) {
            const quint64 identity = (item->inode() * 0x9E3779B97F4A7C15ull) ^ item->device();
            auto [met, fresh] = sizesMet_.try_emplace(item->totSize(), SizeMet{0, identity});
            if (!fresh && met->second.first != identity)
                ++met->second.others;
        }
        // The driver is woken for a batch worth filing, not for every file:
        // a worker that goes idle wakes it anyway, and whatever waits when
        // the scan ends is drained then.
        KZCandidateStack& stack = item->isImageContent() ? itemInfoCStyleForImages_ : itemInfoCStyle_;
        wake = stack.push(std::move(item)) && (&stack == &itemInfoCStyleForImages_ || stack.size() % kWakeBatch == 0);
    }
    if (wake)
        signalEvent();
}

bool KZSearchController::alreadyFiled(const KZSearchItemInfo& item)
{
    if (!item.hasIdentity())
        return false;
    const ObjectKey key{item.device(), item.inode()};
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
    if (met && item.linkCount() == 1) {
        std::unique_ptr<KZNodeCache> cache = crc32_->hashSmallFile(item.url(), size);
        if (!cache)
            item.setIsContentUnreadable(true); // counted when the driver files it
        item.setContentCache(std::move(cache));
    }
}

// ---- Driver waits -----------------------------------------------------------------------

void KZSearchController::waitUntilFreeThread()
{
    const bool driver = std::this_thread::get_id() == driverThread_;
    while ((workersBusy_.load() & 3u) == 3u) {
        const quint64 seen = eventCount();
        if (!driver) {
            if ((workersBusy_.load() & 3u) == 3u)
                waitForEvent(seen); // a worker that ends signals
            continue;
        }
        secondTestProcess();
        if ((workersBusy_.load() & 3u) != 3u)
            break;
        if (wasStopped() || !driverHasWork())
            waitForEvent(seen);
    }
}

void KZSearchController::waitUntilThreadTerminated()
{
    fileUntilEveryPassEnds();
    emptyTheTrees();
    timeAlreadyGot_ = true;
    appURLsTree_.freeAppURLsTreeNodes();
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
        return workersBusy_.load() != 0 || contentImagesIsWorking_.load() || foldersContentIsWorking_.load()
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

    if (criteria_->isFolderCompareContent() && workersBusy_.load() == 0 && !foldersContentIsWorking_.load()) {
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
    freeUnusedTreeNodes(checkTree_);
    freeUnusedTreeNodes(checkTreeForImages_);
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
            if (stack == &itemInfoCStyle_)
                hashAheadOf(batch, sizeShared);
            for (const KZSearchItemInfoRef& item : batch)
                secondTestForItem(item);
        }
    }
}
