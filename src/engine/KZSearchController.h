#pragma once

#include "engine/KZCandidateStack.h"
#include "engine/KZCrc32.h"
#include "engine/KZExcludedInfo.h"
#include "engine/KZFolderContentPass.h"
#include "engine/KZFolderWalk.h"
#include "engine/KZLibraryPasses.h"
#include "engine/KZFileTypeTagger.h"
#include "engine/KZFoundNodes.h"
#include "engine/KZObjectIDSet.h"
#include "engine/KZObjectKey.h"
#include "engine/KZProgressControl.h"
#include "engine/KZSearchItemInfo.h"
#include "engine/KZSecondPass.h"
#include "engine/KZThreadInfo.h"
#include "engine/TreeToCheck.h"
#include "settings/KZSearchStuff.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>
#include <QtGlobal>

#include <atomic>
#include <functional>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class KZContentReader;
class KZHashAhead;
class KZItemAttributes;
class KZItemFilters;
class KZItemReader;
class KZSearchCriteria;

namespace platform {
class OperationQueue;
}

// The engine's queue: no width limit, so the driver, the scan workers and
// the image pass never wait for one another's slots.
platform::OperationQueue& KZSearchOperationQueue();

// One duplicate search, from the request to the list of found nodes. The
// controller is the driver; the stages it drives are classes of their own.
//
//   startToSearch (caller's thread)      parse criteria, prepare sources, queue doSearch
//   doSearch (driver)                    list each source's top level, hand subfolders out
//     scan workers (up to kMaxScanWorkers)  walk subfolders (KZFolderWalk), filter
//                                        items, push candidates
//     music and photo libraries          feed the files a library lists into the same
//                                        per-item path (KZLibraryPasses; the photo
//                                        halves on the queue)
//     second pass (driver)               file candidates into the candidate tree through
//                                        the comparison cascade (KZSecondPass); a pool
//                                        hashes each batch's blocks ahead (KZHashAhead)
//     folder content (driver)            once the scan of a folder-content search has
//                                        ended, folders of one size compared entry by
//                                        entry (KZFolderContentPass)
//   end                                  drain the stacks, move the group heads into the
//                                        list, post "searchDidTerminate"
//
// The workers only read and filter; every comparison happens on the driver
// (and on the image pass for picture candidates), so each candidate tree has
// a single writer. The driver never spins: when it has nothing to file it
// sleeps until a worker has pushed a batch of candidates or goes idle.
//
// Locks, all the controller's, in the order they may nest (a lock is never
// taken while a later one is held):
//   notificationLock_  the candidate stacks and the sizes KZHashAhead keeps
//                      (noteCandidate, sizeShared expect it held), and the
//                      hashAhead_ pointer. Held by popBatch, driverHasWork,
//                      freeUnusedInfoCStyle and around every push.
//   progressLock_      the counters but itemsToCheck_ (an atomic), the found
//                      list (foundNodes_). May be held while the progress
//                      controller is called, never the other way round.
//                      setInfoFoundItemProgress, setItemsFoundProgress,
//                      processFoundItem and the delegate calls of
//                      KZSecondPass (candidateDropped, compareFoundFolders,
//                      joinGroup, foundInTree) and KZFolderContentPass
//                      (folderPassedOver, folderMatched) take it themselves;
//                      the folders tree of foundNodes_ is asked with it held.
//   filedLock_         filedEntries_ (the names of files met under several
//                      names), inside alreadyFiled only.
//   eventMutex_        the driver's sleep: signalEvent and waitForEvent only.
//   queuedLock_        queuedFolders_, the source folders waiting for a worker;
//                      taken alone, inside takeQueuedFolder and
//                      handFolderOut only.
//   skippedLock_       skippedSources_; taken alone, where a saved search is
//                      skipped and where the result is put together.
// KZObjectIDSet (filedItems_, listedFolders_) and KZHashPool keep locks of
// their own that no caller holds; so does KZLibraryPasses (the left-out
// library files, the photo halves at work), taken and let go before any of
// the controller's. KZFolderWalk, KZSecondPass and
// KZFolderContentPass take no lock: a walk belongs to its worker, the main
// tree and the folder-content pass to the driver and the image tree to the
// image pass, and what they hand back goes through the delegate
// calls above. Busy and phase flags are atomics written before the action
// they announce; the first blocks KZHashAhead meets and its pool belong to
// the driver.
//
// The controller is shared: the queued driver and the workers keep it alive
// until they return. After "searchDidTerminate" it no longer holds the list.
class KZSearchController : public KZCrc32::Delegate,
                           private KZFolderWalk::Delegate,
                           private KZSecondPass::Delegate,
                           private KZFolderContentPass::Delegate,
                           private KZLibraryPasses::Delegate,
                           public std::enable_shared_from_this<KZSearchController> {
public:
    // `sender` is the object of "searchDidTerminate" (compared by identity).
    static std::shared_ptr<KZSearchController> create(KZSearchStuffRef searchStuff, const void* sender,
                                                      std::shared_ptr<KZProgressControl> progressCntrl);
    ~KZSearchController() override;
    KZSearchController(const KZSearchController&) = delete;
    KZSearchController& operator=(const KZSearchController&) = delete;

    // Where content comparisons read (tests); call before startToSearch.
    void setContentReader(KZContentReader* reader) { contentReader_ = reader; }
    // Threads that hash ahead of the comparisons; 0 (the default) sizes them
    // to the machine and the disks. The result is the same for any number.
    void setHashingThreads(unsigned threads) { hashingThreads_ = threads; }
    // Candidates waiting for the driver from which a scan worker hashes the
    // small files it meets itself (tests); the result is the same for any.
    void setWorkerHashingBacklog(std::size_t candidates) { workerHashingBacklog_ = candidates; }
    // Scan workers walking folders at once; 0 (the default) sizes them to
    // the machine and the disks. The result is the same for any number.
    static constexpr unsigned kMaxScanWorkers = 8;
    void setScanThreads(unsigned threads) { scanThreads_ = threads; }

    // Prepares the search and queues the driver; returns at once.
    void startToSearch();

    // Tags a found item with the first file-type label that lists its
    // extension (ignoring case), else its type code; 2 for a plain folder,
    // 1 when nothing matches.
    void assignFileTypeTagToItem(KZSearchItemInfo& item) const;

    // KZCrc32::Delegate.
    bool phaseOneisTerminated() const override;
    const void* progressCntrl() const override { return progressCntrl_.get(); }
    bool searchWasStopped() const override { return wasStopped(); }

    // State, for the caller and the tests.
    const KZSearchCriteria* criteria() const { return criteria_.get(); }
    const KZSearchStuffRef& searchStuff() const { return searchStuff_; }
    quint64 itemsToCheck() const;
    quint64 itemsFoundCount() const;
    quint64 notDupesCount() const;

private:
    KZSearchController(KZSearchStuffRef searchStuff, const void* sender, std::shared_ptr<KZProgressControl> progressCntrl);

    bool wasStopped() const;
    void initializeSearchVariables();
    QVariantMap resultInfo(bool stopped);
    void indexFileTypesTags();
    void setupForImageContentIfNeeded();
    bool setMainInfoTitle(const QString& key);
    // Threads that hash or list ahead: as set, else sized to the sources' disks.
    unsigned hashingThreadCount() const;
    // Scan workers: as set, else sized to the sources' disks; either way as
    // many as `descriptors` (what the walks may hold open) has room for.
    unsigned scanWorkerCount(std::size_t descriptors) const;
    // The folders each walk keeps open.
    std::size_t walkBudget(std::size_t descriptors) const;
    std::vector<std::string> sourceRoots() const;

    // ---- The driver's stages (KZSearchController.cpp) ----------------------
    void doSearch();
    // Each source in turn, until stopped.
    void searchSources();
    // The scan of the follow-up search for folders emptied by a removal.
    void doCheckEmptyFoldersAfterTrashed();
    void adjustSources();
    void checkDoubleLocations();
    // Null for an empty list; each location once, in the compared form.
    std::shared_ptr<KZExcludedInfo> setupExcluded(const std::vector<std::filesystem::path>& excluded) const;

    // ---- Progress ----------------------------------------------------------
    void setInfoFoundItemProgress(KZSearchItemInfo& item);
    void setItemsFoundProgress(quint64 count);
    void setItemsToCheckProgress(quint64 count);
    void setItemsCheckedProgress(quint64 count);
    void setProgressVariables();

    // ---- Scan ---------------------------------------------------------------
    void searchWithURL(const std::filesystem::path& url, std::shared_ptr<const KZExcludedInfo> excluded, qint16 label);
    // Claims an idle worker for the folder; false when every one is busy.
    // `read` (may be null) is the folder as its parent's listing read it.
    bool startNewThreadWithURL(const std::filesystem::path& url, qint16 label,
                               std::shared_ptr<const KZExcludedInfo> excluded, const KZSearchItemInfoRef& read = {});
    // A worker's bit, claimed in one atomic step; 0 when every one is busy.
    unsigned claimWorker();
    void launchWorker(unsigned worker, std::filesystem::path url, qint16 label,
                      std::shared_ptr<const KZExcludedInfo> excluded, KZSearchItemInfoRef read);
    // A source's subfolder: to an idle worker, else queued for the first
    // worker that ends its walk, so that the driver never waits for one.
    struct QueuedFolder {
        std::filesystem::path url;
        qint16 label = 0;
        std::shared_ptr<const KZExcludedInfo> excluded;
        KZSearchItemInfoRef read;
    };
    void handFolderOut(QueuedFolder folder);
    std::optional<QueuedFolder> takeQueuedFolder();
    // Starts idle workers on queued folders.
    void dispatchQueuedFolders();
    // A worker walks, or a folder waits for one.
    bool scanBusy() const;
    // The walk of one folder a worker was handed, the folder itself included.
    void walkHandedFolder(const std::filesystem::path& folder, const KZThreadInfo& info, KZSearchItemInfoRef read);
    void doSearchThread(unsigned worker, std::filesystem::path folder, std::shared_ptr<KZThreadInfo> info,
                        KZSearchItemInfoRef read);
    // A folder whose size the walk adds up is handed back in `deferred`, to
    // be filed after its contents. A folder not yet read is read here.
    bool checkThreadItemAtURL(const std::filesystem::path& url, const KZThreadInfo& info,
                              KZSearchItemInfoRef* deferred, KZSearchItemInfoRef read);
    // A worker's walk of one folder (KZFolderWalk). `rootSelf` (may be
    // null) is the root folder as a candidate, filed after everything inside.
    void iterateSearch(const std::filesystem::path& folder, std::shared_ptr<const KZExcludedInfo> excluded,
                       qint16 label, KZSearchItemInfoRef rootSelf = {});
    // KZFolderWalk::Delegate, on the worker's thread.
    bool walkWasStopped() const override;
    bool readWalkedItem(KZSearchItemInfo& item, qint16 label, const KZItemAttributes& attributes) override;
    void walkedFile(KZSearchItemInfoRef item) override;
    void walkedFolder(KZSearchItemInfoRef item) override;
    void folderNotListed(const std::filesystem::path& dir, int err) override;
    void entryNotRead() override;
    void folderListed() override;
    bool handOver(const std::filesystem::path& dir, qint16 label, const std::shared_ptr<const KZExcludedInfo>& excluded,
                  const KZSearchItemInfoRef& item) override;
    // A folder that could not be opened or listed to its end.
    void noteUnlisted(const std::filesystem::path& dir, int err);
    void processFileItem(KZSearchItemInfoRef item);
    void processFolderItem(KZSearchItemInfoRef item);
    void performTestOneForItem(KZSearchItemInfoRef item);
    // Puts a worker's accepted candidates onto the stack under one lock.
    void pushCandidates(std::vector<KZSearchItemInfoRef>& batch);
    bool alreadyFiled(const KZSearchItemInfo& item);
    void hashSmallFileIfSizeMet(KZSearchItemInfo& item);
    // Reads the item from attributes already at hand; false rejects it.
    bool readItem(KZSearchItemInfo& item, qint16 label, const KZItemAttributes& attributes) const;

    // ---- The driver's waits ------------------------------------------------
    // Files until the scan and every pass have ended, then empties the trees.
    void waitUntilThreadTerminated();
    void fileUntilEveryPassEnds();
    void emptyTheTrees();
    void finalDrain();
    quint64 eventCount() const;
    void signalEvent();
    void waitForEvent(quint64 seen);
    // Candidates that the driver itself could file now.
    bool driverHasWork() const;

    // ---- The second pass's turns ------------------------------------------
    void secondTestProcess();
    void doSecondProcessForImageContent();
    void secondTestProcessWithArray(KZCandidateStack& stack);
    void fileCandidate(const KZSearchItemInfoRef& item);
    void secondTestForItem(KZSearchItemInfoRef item);
    // Takes progressLock_ itself.
    void processFoundItem(std::unique_ptr<TreeToCheck> node);
    void freeUnusedInfoCStyle();
    // KZSecondPass::Delegate, on the thread filing the tree: the counters
    // and the found list, each under progressLock_ taken here.
    bool passWasStopped() const override;
    void candidateDropped() override;
    void contentUnreadable() override;
    qint16 compareFolderContent(TreeToCheck& one, TreeToCheck& two) override;
    qint16 compareFoundFolders(TreeToCheck& here, TreeToCheck& node) override;
    void joinGroup(TreeToCheck& here, std::unique_ptr<TreeToCheck> node) override;
    void foundInTree(std::unique_ptr<TreeToCheck> node) override;
    // KZFolderContentPass::Delegate, on the driver; the same lock rule.
    void folderPassedOver() override;
    void folderToFile(KZSearchItemInfoRef item) override;
    void folderMatched(TreeToCheck& representative, std::unique_ptr<TreeToCheck> node) override;
    void groupHeadFound(std::unique_ptr<TreeToCheck> node) override;

    // Up to `most` candidates off the stack, newest first, and whether
    // another candidate of each one's size has been met.
    std::vector<KZSearchItemInfoRef> popBatch(KZCandidateStack& stack, std::size_t most, std::vector<bool>* sizeShared);

    // ---- The passes beside the scan -----------------------------------------
    // The music and photo libraries (KZLibraryPasses) feed their files into
    // the scan's per-item path; saved searches and song durations have no
    // pass of their own yet, and until they do they find nothing.
    void gatherLibraryExclusions();
    // The photo library's halves, while the driver files what they find.
    void processPhotosLocation(const std::filesystem::path& path, qint16 label);
    // KZLibraryPasses::Delegate; a half calls on its own thread.
    void libraryFileMet(const std::filesystem::path& url, qint16 label, const KZItemAttributes& attributes,
                        const QString& name, std::shared_ptr<KZAppSuppInfo> owner) override;
    void missingTrackFound() override;
    void runPhotosHalf(std::function<void()> half) override;
    // A file a library or a saved search lists, into the scan's per-item
    // path; `owner` (may be null) is the library that lists it.
    void fileListedItem(const std::filesystem::path& url, qint16 label, const KZItemAttributes& attributes,
                        const QString& name, std::shared_ptr<KZAppSuppInfo> owner);
    void gatherSmartFolderItemsWithDict(const KZSourceItemRef& source, qint16 label);
    // One saved search on the queue: its query, then each result into the
    // scan under the source's own label.
    void doQuerySearch(const std::filesystem::path& savedSearch, qint16 label);
    void collectSongsTime();

    // Wiring.
    KZSearchStuffRef searchStuff_;
    const void* senderCntrl_;
    std::shared_ptr<KZProgressControl> progressCntrl_;
    KZContentReader* contentReader_ = nullptr;

    // Request-derived, set before the driver runs and then only read.
    std::unique_ptr<KZSearchCriteria> criteria_;
    std::unique_ptr<KZItemReader> reader_;
    std::unique_ptr<KZItemFilters> filters_;
    std::unique_ptr<KZCrc32> crc32_;
    QVariantList fileTypesTags_;
    // fileTypesTags_ by extension and by type code.
    KZFileTypeTagger fileTypeTagger_;
    bool isSameSearch_ = false;
    bool isUniqueSearch_ = false;
    bool isFollowUp_ = false;
    bool hasCriteria_ = false;
    bool checkForOnlyMetadataAlreadyAsked_ = false;

    // Locks.
    mutable std::recursive_mutex notificationLock_;
    mutable std::recursive_mutex progressLock_;

    // Counters, under progressLock_.
    std::atomic<quint64> itemsToCheck_{0}; // also bumped without the lock, by the scan workers
    quint64 checkedFilesCount_ = 0;
    quint64 itemsFoundCount_ = 0;
    quint64 sizeFoundValue_ = 0;
    quint64 notDupesCount_ = 0;
    quint64 currGroupID_ = 0;

    // Labels and flags.
    std::atomic<qint16> currLocationLabel_{-1};
    std::atomic<unsigned> workersBusy_{0}; // one bit per scan worker at work
    unsigned scanThreads_ = 0;
    std::mutex queuedLock_;
    std::deque<QueuedFolder> queuedFolders_; // under queuedLock_
    // Counted from before a folder is queued until after the worker that
    // takes it is marked busy, so that the scan never looks ended between.
    std::atomic<std::size_t> queuedCount_{0};
    unsigned scanWorkers_ = 2; // set by the driver before the scan
    std::size_t walkBudget_ = KZFolderWalk::kMaxOpenFolders; // likewise
    std::atomic<bool> contentImagesIsWorking_{false};
    std::atomic<bool> foldersContentIsWorking_{false};
    std::atomic<bool> mainCompleted_{false};
    std::atomic<bool> readingIsTerminated_{false};
    std::atomic<bool> timeAlreadyGot_{false};
    std::atomic<bool> progressAlreadyChanged_{false};
    std::atomic<bool> duplicateFoldersAlreadyChecked_{false};
    std::atomic<bool> isSearchSynchronize_{false};
    // Saved-search sources whose results are not all handed to the scan
    // yet; the driver's final wait lasts until none is left.
    std::atomic<int> queriesWorking_{0};
    std::atomic<quint64> unreadableCount_{0};
    std::atomic<quint64> unlistedCount_{0};
    // Saved searches that could not be searched, each as its name and why;
    // under skippedLock_.
    std::mutex skippedLock_;
    QStringList skippedSources_;
    bool searchedIniTunes_ = false;
    bool searchedInPhotos_ = false;
    QString photosLibraryPath_;
    // The music and photo library passes; made by the driver.
    std::unique_ptr<KZLibraryPasses> libraryPasses_;

    // Candidates and trees.
    KZCandidateStack itemInfoCStyle_;          // under notificationLock_
    KZCandidateStack itemInfoCStyleForImages_; // under notificationLock_
    // The candidate trees (the main tree the driver's, the image tree the
    // image pass's); made by the driver before the scan.
    std::unique_ptr<KZSecondPass> secondPass_;
    KZFoundNodes foundNodes_;                  // under progressLock_

    // Driver wake-ups: bumped by every push and by every worker that goes
    // idle. A push takes the mutex only when the driver is asleep.
    mutable std::mutex eventMutex_;
    std::condition_variable eventCondition_;
    std::atomic<quint64> events_{0};
    std::atomic<int> eventWaiters_{0};

    // Items already filed, so that a path met twice (overlapping sources,
    // a folder mounted twice) is filed once. Files named by several entries
    // remember which entries were met.
    struct EntryKey {
        quint64 parentDevice;
        quint64 parentInode;
        std::string name;
        bool operator==(const EntryKey&) const = default;
    };
    // Sizes of at most one block that a plain file candidate already had.
    // When every pair of equal size is compared by content, a file of such a
    // size will be read whole at its first comparison: while the driver is
    // behind, the scan worker that meets it hashes it instead, beside the
    // driver; while it keeps up, the walk is what the search waits for, and
    // the hashing pool reads the file with its batch. Null when sizes do not
    // lead to content (names compared too, no content, folders).
    std::unique_ptr<std::atomic<quint64>[]> smallSizesMet_;
    std::size_t workerHashingBacklog_ = 1024; // candidates waiting: the driver is behind

    // Hashing ahead, on when smallSizesMet_ is. The pointer is set and reset
    // by the driver with notificationLock_ held; its sizes are kept under
    // that lock, the rest belongs to the driver.
    unsigned hashingThreads_ = 0;
    std::unique_ptr<KZHashAhead> hashAhead_;
    KZObjectIDSet filedItems_;   // folders filed as candidates
    KZObjectIDSet listedFolders_; // folders whose entries a walk has listed
    std::mutex filedLock_; // filedEntries_
    std::unordered_map<KZObjectKey, std::vector<EntryKey>, KZObjectKeyHash> filedEntries_;

    // Folder content, driver only: made with the second pass, run once the
    // scan of a folder-content search has ended.
    std::unique_ptr<KZFolderContentPass> folderContentPass_;
};
