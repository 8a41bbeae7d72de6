#pragma once

#include "platform/AnchoredItem.h"
#include "platform/FileStat.h"
#include "platform/FolderAttributes.h"
#include "removal/KZItemWhereabouts.h"
#include "removal/KZRemovalJournal.h"
#include "removal/KZUndoFile.h"
#include "removal/KZUndoRecords.h"

#include <QMetaType>
#include <QString>
#include <QVariantList>
#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <functional>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <tuple>
#include <vector>

class KZRemove;

namespace platform {
class OperationQueue;
}

// What one removal can take back while the program runs.
struct KZUndoDict {
    std::vector<KZUndoMovedItem> standardUndo;
    std::vector<KZUndoMovedItem> itunesUndo;
    std::vector<KZCreatedFolder> createdFolderUndo;
    std::vector<KZPhotosUndoRecord> photosUndo = {};
};
Q_DECLARE_METATYPE(KZUndoDict)

// The one undo and restore engine of the process: puts back what removals
// moved, both from the lists of a removal of this run and from the undo
// files left in the Trash by earlier runs.
//
// Nothing here replaces or deletes a file the user may still want: an item
// goes back only to a free place, a link at the old place is removed only
// when it holds the very bytes being put back, a copy is deleted only while
// its original is still in place, and created folders go only when empty.
// Jobs run one at a time, whether queued or called directly.
class KZRestoreRemovedFiles {
public:
    static KZRestoreRemovedFiles& sharedControl();
    // Replaces the shared instance (tests); nullptr makes the next call build
    // a fresh one. The shared instance is never destroyed at exit
    // (platform::SharedInstance).
    static void setSharedControl(std::unique_ptr<KZRestoreRemovedFiles> instance);
    KZRestoreRemovedFiles();
    ~KZRestoreRemovedFiles();
    KZRestoreRemovedFiles(const KZRestoreRemovedFiles&) = delete;
    KZRestoreRemovedFiles& operator=(const KZRestoreRemovedFiles&) = delete;

    // ---- Recording ----------------------------------------------------------------
    // The first root recorded for a tag stays for the whole run.
    void addRootPathWithTag(qint16 tag, const std::filesystem::path& root);
    QVariantList permanentRootAliases() const;
    // Writes the undo file of a Trash pass into the home trash; an alert
    // naming the Trash tells a failure. Nothing for no records. Once the file
    // is written (or there was nothing to write) the pass's journal goes; a
    // failed write keeps it, so that Restore still finds the items.
    std::optional<std::filesystem::path> createPermanentFile(const std::vector<KZPersistentUndoRecord>& records,
                                                             KZRemovalJournal* journal = nullptr);
    // Posts "registerRemovedUndo" when there is something to take back;
    // folders that were only created register nothing. Answers the count.
    quint64 implementUndoWithAction(const KZUndoDict& dict, bool isTrashAction);
    static quint64 undoCount(const KZUndoDict& dict);
    // Both of the above for a finished removal pass, with its records and
    // the journal it kept while it ran.
    void registerRemoval(const KZRemove& removal, bool isTrashAction,
                         std::unique_ptr<KZRemovalJournal> journal = nullptr);

    // ---- Undo ---------------------------------------------------------------------
    enum class ItemResult {
        Restored,       // back at its old place
        CopyDeleted,    // the original never left; the copy is gone
        Occupied,       // something else is at the old place: left where it is
        NoOldPosition,  // nothing says where it belongs: left where it is
        Missing,        // nothing at the current place
        MissingVolume,  // the old place lies on a volume that is not there
        HolderNotConnected, // the disk it lies on now (the move's destination) is not there
        Unproved,       // an item like it lies where the move put it, not proved to be it: left, undo kept
        Failed,         // a step failed: left where it is
        CopyKept,       // the copy changed since it was made, or was never described: kept
        // Not found, or not proved, on a disk that nothing tells from a copy
        // of its own (or, for a copy, its original not found there): the disk
        // itself may hold it, so it is left where it is and its undo kept.
        OnPossibleCopy,
        // Another connected disk carries the same identity as its disk, and
        // nothing tells the two apart: neither is touched, the undo kept.
        TwinDisks,
        // Undone once already on a disk that nothing told from a copy of its
        // own, and found done: the item proved at its old place (a copy
        // gone), nothing where the removal put it. Nothing acts twice.
        AlreadyBack,
        // Its disk is connected at another place than the one recorded, and
        // not proved the disk itself (the disk or a copy is bound to its
        // recorded place): left where it is, its undo kept.
        Elsewhere,
    };
    // Why items did not go back, by kind, for what the user is told.
    struct NotRestored {
        quint64 occupied = 0;      // something else is at the old place
        quint64 gone = 0;          // no longer where the removal put it
        quint64 missingVolume = 0; // its volume is not there
        quint64 copyKept = 0;      // a copy that is no longer what was made
        quint64 failed = 0;        // a step failed
        quint64 unreadable = 0;    // its record could not be read
        quint64 disconnected = 0;  // the Trash it lies in, or that Trash's disk, is not there
        quint64 changed = 0;       // still in the Trash, but no longer surely the item that left
        quint64 notChecked = 0;    // still in the Trash, and nothing its disk keeps could tell it from another
        quint64 unproved = 0;      // its old place holds one like it, and nothing shows it left the Trash
        quint64 notInTrash = 0;    // not in a Trash that may be a copy's of its disk: absence proves nothing
        quint64 holderDisconnected = 0; // the disk it lies on is not there
        quint64 possibleCopy = 0;  // not found on a disk that may be a copy of its own: absence proves nothing
        quint64 twinDisks = 0;     // two connected disks carry its disk's identity: neither touched
        quint64 elsewhere = 0;     // its disk is connected at another place, not proved the disk itself
        // Of those gone, on a disk not connected or unproved, the copies
        // made on another disk: their originals never left, so nothing of
        // theirs is said to have moved.
        quint64 copiesGone = 0;
        quint64 copiesDisconnected = 0;
        quint64 copiesUnproved = 0;
        quint64 copiesPossibleCopy = 0;
        // Every copy among those that did not go back, whatever the reason:
        // when the reasons are several, the words still say that the
        // originals stayed.
        quint64 copies = 0;
        // An undo of a move to a folder: what is gone left that folder, not
        // the Trash.
        bool afterMove = false;
        quint64 total() const
        {
            return occupied + gone + missingVolume + copyKept + failed + unreadable + disconnected + changed
                   + notChecked + unproved + notInTrash + holderDisconnected + possibleCopy + twinDisks + elsewhere;
        }
        void add(ItemResult result, bool isCopy = false);
        NotRestored& operator+=(const NotRestored& other);
        // The key of the "Errors" text saying why: one kind, or several.
        QString reasonKey() const;
    };
    // Tells what a finished undo or restore did: nothing when everything went
    // back and `tellSuccess` is false; else the items put back, as
    // information, or those that did not go back, with why, as a warning.
    // `onPossibleCopy` of those put back went back on a disk that nothing
    // tells from a copy of its own: the user is told that the disk itself
    // may still hold them. `onlyCopies`: every item that did not go back is
    // a copy the removal made, whose original never left.
    static void tellOutcome(quint64 restored, quint64 notRestored, const QString& reasonKey, bool tellSuccess,
                            quint64 onPossibleCopy = 0, bool onlyCopies = false);
    // What one undo did, for what the user is told.
    struct UndoOutcome {
        quint64 restored = 0;
        NotRestored notRestored{.afterMove = true};
        // Of those put back, the ones put back on a disk that nothing tells
        // from a copy of its own.
        quint64 onPossibleCopy = 0;
        // Undone by an earlier undo on such a disk, and found done there.
        quint64 alreadyBack = 0;
        // The result's items whose files are back at their places.
        std::vector<std::shared_ptr<KZFoundItem>> backInPlace;
        // What stays to be undone once its disk is connected again, with
        // the folders made that still hold it; registered again as an undo.
        KZUndoDict kept;
    };
    // Queued on the engine's queue; returns at once. Once the undo has
    // ended, "itemsWereRestored" names the result's items that are back,
    // and `done`, when given, is called on the engine's queue with the
    // outcome.
    void undoMove(KZUndoDict dict, std::function<void(const UndoOutcome&)> done = {});
    // The same, on the calling thread.
    UndoOutcome doUndoMove(const KZUndoDict& dict);
    // What an ended undo tells the user: what was put back on a disk that
    // may be a copy, what was found already back there, and what did not go
    // back, with why.
    static void tellUndoOutcome(const UndoOutcome& outcome);
    // `keptForDisk`, when given, says of each item whether its undo stays,
    // marked putBackOnPossibleCopy, for the disk itself: the undo acted on,
    // or found done on, a disk that nothing tells from a copy of its own.
    std::vector<ItemResult> undoMovedFiles(const std::vector<KZUndoMovedItem>& items, bool isiTunes,
                                           NotRestored* notRestored = nullptr,
                                           std::vector<bool>* keptForDisk = nullptr);
    // rmdir only, deepest first, each through the folder it was made in and
    // only while it is the folder made; a folder that is not empty stays.
    // Answers the folders made that are still there.
    std::vector<KZCreatedFolder> removeCreatedFolders(std::vector<KZCreatedFolder> folders);
    // Takes each record's keyword off its media items again, inside the
    // library's application; answers how many records the application took.
    quint64 undoPhotosRecords(const std::vector<KZPhotosUndoRecord>& records, NotRestored* notRestored = nullptr);
    // How long the photo application is given to open its library before
    // the script goes to it.
    std::chrono::milliseconds photosSettleDelay{2000};

    // ---- Restore from undo files --------------------------------------------------------
    struct RestoreResult {
        quint64 restored = 0;
        quint64 skipped = 0;      // entries not put back (gone, invalid, occupied, ...)
        NotRestored notRestored;  // the same, by why
        // Of those put back, the ones put back from a Trash on a disk that
        // nothing tells from a copy of its own: their records are kept,
        // listed again only while a Trash holds their items at their names.
        quint64 onPossibleCopy = 0;
        std::vector<std::filesystem::path> unreadable; // files kept untouched
        // Each undo file that kept records of items that did not go back,
        // with why.
        std::vector<std::pair<std::filesystem::path, NotRestored>> keptWhy;
        // The items of this run's results that are back at their places.
        std::vector<std::shared_ptr<KZFoundItem>> backInPlace;
    };
    RestoreResult restoreFiles(const std::vector<std::filesystem::path>& undoFiles);
    // Whether the entry is one to list: every entry, but one whose item was
    // put back from a Trash on a disk that nothing told from a copy of its
    // own, only while a Trash holds its item at its name again (the disk
    // itself connected).
    // `undoFile`, the file it was read from, tells which Trash item is the
    // record's own: one trashed before the file was written.
    static bool isListed(const KZUndoFile::Entry& entry, const std::filesystem::path& undoFile = {});
    // Whether its item was put back so; what the entry says of itself.
    static bool wasPutBackFromPossibleCopy(const KZUndoFile::Entry& entry);
    // Removes an undo file, with its .trashinfo, whose every entry was put
    // back from a disk that may have been a copy and has since been proved
    // done: that disk itself connected, and its Trash holding the item
    // neither at its name nor under another. Nothing while a Restore is at
    // work on undo files. Answers whether the file went.
    static bool removeIfAllDone(const std::filesystem::path& file);
    // Drops from an undo file the records whose item a killed Restore
    // already put back (proved at its old place, its Trash name free, the
    // .trashinfo that Restore left naming that place), keeping those of a
    // disk that may be a copy for the disk itself, then removes those
    // .trashinfo files. Nothing while a Restore is at work on undo files.
    // Answers how many records it found back.
    static int dropPutBack(const std::filesystem::path& file);
    // Queued; posts "itemsWereRestored" when items of this run's results
    // are back, then "updateRestoredList" with "indexes" handed back,
    // "restoredItems", "notRestoredItems" and "notRestoredReason" (a key of
    // "Errors"), "keptReasons" (for each undo file that kept records of
    // items that did not go back, by its path: a map of "count" and
    // "reason", a key of "Errors"), the engine as object.
    void restoreItemsOfFile(std::vector<std::filesystem::path> undoFiles, QVariantList indexes);

    // Queued: folds the journals of removals that never ended into undo
    // files and drops the .trashinfo files of moves that never happened
    // (see KZRemovalJournal), in line with the undo and restore jobs.
    void recoverInterruptedRemovals(std::filesystem::path trashDir);

    void waitUntilIdle();

    // Tests: heard after each step of a restore that leaves its mark on
    // disk (an item moved back, an undo file rewritten, a .trashinfo
    // removed), so that a test can kill the process at that moment.
    static void setRestoreStepHook(std::function<void()> hook);

    // Folders under which a missing child is a volume that is not mounted, so
    // that a folder chain is never made where the volume should be.
    void setMountBases(std::vector<std::filesystem::path> bases);

    // ---- Progress, read by the progress display -----------------------------------------
    std::atomic<quint64> restoredItems{0};
    std::atomic<quint64> totToManage{0};
    std::atomic<quint64> managedCount{0};
    std::atomic<quint64> notRestoredCount{0};
    std::atomic<quint64> lockedCount{0}; // copies that could not be deleted
    std::atomic<quint64> itunesNotAvailableCount{0};
    std::atomic<bool> isWorking{false};
    // What the work is doing now, for the progress window.
    QString infoText() const;
    // Called on the work's thread with each text as it is set: a display
    // that polls may never see a text that lasted a moment.
    void setInfoTextObserver(std::function<void(const QString&)> observer);
    // For tests: runs right before an item moves back into its old folder,
    // once that folder was opened and checked.
    void setBeforeMoveBack(std::function<void(const std::filesystem::path& oldPosition)> hook)
    {
        beforeMoveBack_ = std::move(hook);
    }

private:
    ItemResult undoItem(const KZUndoMovedItem& item, bool isiTunes);
    // An undo already done once on a disk that may have been a copy: acted
    // on again only where the item still lies where the move put it. Sets
    // `keep` while the disk itself is not proved.
    ItemResult undoPutBackItem(const KZUndoMovedItem& item, bool isiTunes, bool* keep);
    // `anchor` holds the copy, proved to be the one made.
    ItemResult undoCopy(const KZUndoMovedItem& item, const platform::AnchoredItem& anchor);
    ItemResult moveBackWithLink(const KZUndoMovedItem& item, const platform::AnchoredItem& from,
                                const platform::AnchoredItem& place);
    // The old place held by its folder, opened without following links; its
    // missing folders are made (see makeMissingFolders()), unless a volume
    // that is not there belongs on the way, or the folder (or the deepest
    // one still there) lies on another disk than `folderDisk`, recorded when
    // the item left: then its disk is not connected. Empty, with why in
    // `why`, when it cannot be had.
    std::optional<platform::AnchoredItem> openOldPlace(const std::filesystem::path& oldPosition,
                                                       const std::optional<platform::DiskIdentity>& folderDisk,
                                                       ItemResult* why);
    // Makes each missing folder of `folder` below `existing`, outermost
    // first, each from the one before it, with the attributes of what it
    // stands for: a folder that this job's own records put in a trash, as
    // that folder (finishMadeFolders() gives it its times); else the folder
    // as the same removal recorded it when its item left; else private to
    // the one restoring. Never from a folder that some other removal or
    // program put in a trash: that one may have been anyone's, and open.
    bool makeMissingFolders(const std::filesystem::path& folder, const std::filesystem::path& existing, int* err);
    // The folder that this job's records put in a trash and that was at
    // `place`: trashed itself, or inside a trashed folder that held it and
    // was below `existing`. Proved by its identity, found where the record
    // says, with a .trashinfo naming the place.
    std::optional<platform::AnchoredItem> trashedFolderOf(const std::filesystem::path& place,
                                                          const std::filesystem::path& existing);
    // Gives each folder made its final mode and, when it stands for a
    // trashed one, its times, now that what goes into it is back; then
    // forgets what the job knew of folders.
    void finishMadeFolders();
    // Answers whether every entry of the folder `fromName` (in the open
    // folder `fromParent`) went into `intoName` (in `intoParent`), and the
    // emptied folder is gone.
    bool mergeFolder(int fromParent, const std::string& fromName, int intoParent, const std::string& intoName);

    void setInfoText(const QString& text);
    // The results' items that this run trashed, by the entry they left and
    // their identity in the Trash, so that a restore can tell the result
    // which came back. Two hard-linked names are one file but two entries.
    void rememberTrashed(const std::vector<KZPersistentUndoRecord>& records);
    std::shared_ptr<KZFoundItem> takeTrashed(quint64 device, quint64 inode, const std::filesystem::path& oldPosition);
    static void tellBackInPlace(const std::vector<std::shared_ptr<KZFoundItem>>& items);

    std::unique_ptr<platform::OperationQueue> queue_;
    std::mutex jobMutex_; // one undo or restore at a time
    mutable std::mutex mutex_;
    std::map<qint16, std::filesystem::path> sourcesUrlsForRestore_;
    // The place it left, then device and inode in the Trash.
    using TrashedKey = std::tuple<std::filesystem::path, quint64, quint64>;
    std::map<TrashedKey, std::weak_ptr<KZFoundItem>> trashed_; // the result owns the items
    std::vector<std::filesystem::path> mountBases_;
    // What one job made, and what it knows of folders; used by the job's
    // thread only.
    struct MadeFolder {
        std::filesystem::path path;
        dev_t device = 0;
        quint64 inode = 0;
        bool forTrashed = false; // stands for a folder of this job's records in a trash
        std::optional<mode_t> mode = std::nullopt; // to give it once the job is done
        std::optional<std::pair<timespec, timespec>> times = std::nullopt; // accessed, modified
    };
    std::vector<MadeFolder> madeFolders_;
    // The folders the removal being taken back recorded, by place.
    std::map<std::filesystem::path, platform::FolderAttributes> recordedFolders_;
    // The undo files of the restore under way, and what they put in a
    // trash, by old place (read when a folder first has to be made).
    std::vector<std::filesystem::path> jobUndoFiles_;
    std::optional<std::multimap<std::filesystem::path, QByteArray>> jobTrashed_;
    // While a restore runs: the trashed items it put back (or found back),
    // with their old places. Their .trashinfo files are the only proof left
    // on a disk without birth times that an item left its Trash, so they go
    // only once the undo file no longer names the items.
    bool restoring_ = false;
    // Items this undo put back on a disk that nothing tells from a copy of
    // its own.
    quint64 onPossibleCopy_ = 0;
    std::vector<std::pair<std::filesystem::path, std::filesystem::path>> backFromTrash_;
    // The undo file a Restore reads now, which may be its disk's own
    // record; none in an Undo of this run's lists.
    KZItemWhereabouts::RecordSource recordSource_;
    void leftTheTrash(const std::filesystem::path& trashed, const std::filesystem::path& oldPosition);
    void removeInfosOfRestored();
    QString infoText_;
    std::function<void(const QString&)> infoTextObserver_;
    std::function<void(const std::filesystem::path&)> beforeMoveBack_;
};
