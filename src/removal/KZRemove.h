#pragma once

#include "platform/AnchoredItem.h"
#include "removal/KZRemovalFileSystem.h"
#include "removal/KZRemovalJournal.h"
#include "removal/KZRemovalPanel.h"
#include "removal/KZRemoveItemSteps.h"
#include "removal/KZUndoRecords.h"
#include "result/model/KZFoundItem.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// The counters of one removal.
struct KZRemoveTally {
    quint64 trashed = 0;
    quint64 moved = 0;
    quint64 copied = 0;
    quint64 copiedSize = 0;  // what the copies hold; their originals stay
    quint64 deleted = 0;
    quint64 deletedSize = 0;
    quint64 locked = 0;
    quint64 notFound = 0;
    quint64 lastMember = 0;
    quint64 noPermission = 0;
    quint64 busy = 0;
    quint64 diskLocked = 0;
    quint64 sameName = 0;
    quint64 badFileName = 0;
    quint64 linkNotSameVolume = 0;
    quint64 linkNotMade = 0;
    quint64 changed = 0;
    quint64 notChecked = 0; // one like it at its place, not proved to be the item found
    quint64 linkInPath = 0; // a folder on the item's way became a symbolic link
    quint64 mountInside = 0; // the item is or holds a mount point, and stayed whole
    quint64 mountAppeared = 0; // a mount made during a permanent deletion stopped it after part of the folder went
    quint64 destinationCovered = 0; // a mount made on the destination folder would have hidden it: left in place
    quint64 otherFailure = 0;
    quint64 notTagged = 0;   // photo-library items whose keyword could not be set
    quint64 tagged = 0;      // photo-library items marked in their library (they stay in place)
    quint64 musicKept = 0;   // music-library items, left where they are
    quint64 linked = 0;      // items whose place now holds a hard link to the kept copy

    // Items that really left their place or were copied.
    quint64 done() const { return trashed + moved + copied + deleted; }
};

// One removal: moves the marked items of a result to the Trash or into a
// chosen folder (copying those on another volume), optionally leaving a hard
// link to the kept copy, and keeps what could not be done for the report.
//
// Made new for each removal. startMoving() runs the work on the engine's
// queue; doMove() runs it on the calling thread. Only one removal runs in the
// process at a time: the undo lists are shared by everything a removal did.
//
// The batch looks at the items first (locked, on a shared volume where they
// can only be deleted for good, the last member of their group), then hands
// each one to KZRemoveItemSteps, which checks it again and relocates it, and
// tallies the outcome: an item that changed or went away is left alone and
// counted, never reported as removed. The steps report what they did through
// KZRemoveItemRecorder, which the batch implements under mutex_.
class KZRemove : public std::enable_shared_from_this<KZRemove>, private KZRemoveItemRecorder {
public:
    using Job = KZRemoveJob::Kind;
    using enum KZRemoveJob::Kind;

    explicit KZRemove(std::shared_ptr<KZRemovalPanel> panel,
                      std::shared_ptr<KZRemovalFileSystem> fileSystem = nullptr);
    KZRemove(const KZRemove&) = delete;
    KZRemove& operator=(const KZRemove&) = delete;

    // Queues the work and returns at once; the engine stays alive until it
    // has run.
    void startMoving();
    // The work, on the calling thread. Refused, with a message, while
    // another removal runs; the panel's isWorking ends clear on every road.
    void doMove();
    // True while some removal of the process works.
    static bool isRemovalRunning();

    // ---- What happened ----------------------------------------------------------
    std::atomic<bool> thereAreShared{false};
    std::atomic<bool> refused{false};
    // The counters of the report, read as one consistent snapshot.
    KZRemoveTally tally() const;
    // For the report's tests and the tools that compose one.
    void setTallyForTesting(const KZRemoveTally& tally);

    // The items that left their place; empty optional when nothing reached a job.
    std::optional<KZFoundItemArray> removedArray() const;

    // ---- Undo records, kept for the undo engine ---------------------------------
    std::vector<KZUndoMovedItem> standardUndo() const;
    std::vector<KZUndoMovedItem> itunesUndo() const;
    std::vector<KZPersistentUndoRecord> persistentUndo() const;
    std::vector<KZCreatedFolder> createdFolderUndo() const;
    std::vector<KZPhotosUndoRecord> photosUndo() const;

    // ---- The report -------------------------------------------------------------
    struct Alert {
        QString key;       // of the "Errors" table
        QStringList names; // the count, for more than one
        bool operator==(const Alert&) const = default;
    };
    std::vector<Alert> errorAlerts() const;
    // Why the removal stopped before its end, as the user was told
    // ("execution_stopped"); empty when it ran to its end.
    QStringList stopReasons() const;
    // Shows errorAlerts() one after the other.
    void showErrors() const;

    // ---- Steps, open to the passes and the tests ----------------------------------
    static qint32 codeForErrno(int err);
    // A move or a copy needs an absolute destination folder; without one
    // every item stays where it is and is counted.
    qint32 moveItems(const KZFoundItemArray& items, Job job, const std::filesystem::path& destination);
    // The full target under `destination` with the item's folders made
    // again; empty when a folder could not be made, a step is not a folder
    // or the destination is not absolute.
    std::optional<std::filesystem::path> createDestinationRoot(const std::filesystem::path& destination,
                                                               const std::filesystem::path& source);
    KZFoundItemArray findProcessedItems(const KZFoundItemArray& items);
    KZFoundItemArray currItemsWithArray(const KZFoundItemArray& items, bool isTrash);
    bool checkSecurity(const KZFoundItemRef& item);
    std::map<std::string, quint64> renamedDict() const;
    // What became of one item, for the command-line tool: the job done
    // ("trash", "moved", "copied", "deleted") or why it was left ("locked",
    // "last_member", "changed", "not_found", "music_not_removed", a
    // failure's name); empty when the removal never reached it.
    QString outcomeOf(const KZFoundItemRef& item) const;
    std::filesystem::path managedPath(const KZFoundItemRef& item) const;
    // Tags photo-library items with the removal's keyword inside their
    // library. Only items the library really tagged count as removed; the
    // others stay in the result and are counted as not tagged. Answers
    // whether the last library's script went through.
    bool markPhotosItems(const KZFoundItemArray& items, bool trashIt);
    static QString keywordWithFlag(bool trashIt);
    // How long the photo application is given to open a library before the
    // script goes to it; nothing waits when the application cannot be reached.
    std::chrono::milliseconds photosSettleDelay{2000};

private:
    void moveToTrashPreliminary(const KZFoundItemArray& items);
    void moveItemsPreliminary(const KZFoundItemArray& items, const std::filesystem::path& destination);
    qint32 proceedToMoveItems(const KZFoundItemArray& items, bool copy, const std::filesystem::path& destination);
    bool checkForSharedLocation(const std::filesystem::path& url, bool* alreadyShown, bool* unreadable);
    void restoreItemsInGroupCount(const KZFoundItemArray& items);

    void tallyOutcome(const KZFoundItemRef& item, KZRemoveOutcome outcome, quint64 size,
                      const std::filesystem::path& oldPath);

    // ---- KZRemoveItemRecorder: what the steps of one item did ----
    void itemPlaced(const KZFoundItemRef& item, const std::filesystem::path& place) override;
    void itemPutBack(const KZFoundItemRef& item) override;
    void linkMade() override;
    void linkNotMade() override;
    void linkNotOnSameVolume() override;
    quint64 lastRenameNumber(const std::string& base) const override;
    void renameNumberTaken(const std::string& base, quint64 number) override;
    void folderCreated(KZCreatedFolder folder) override;
    bool trashIntended(const KZPersistentUndoRecord& intent, int* err) override;
    void trashRecorded(KZPersistentUndoRecord record) override;
    void moveRecorded(KZUndoMovedItem record) override;
    void nameReserving(const platform::ReservationIntent& intent) override;
    void nameReserved(const std::filesystem::path& place, const platform::FileIdentity& identity) override;
    void nameGivenUp(const std::filesystem::path& place) override;
    void copying(const platform::ReservationIntent& intent) override;
    void copyMade(const std::filesystem::path& place) override;

    static QString outcomeName(KZRemoveOutcome outcome);
    // `err`, the errno of the failed step when there is one, says why in words.
    void manageError(qint32 code, bool showError, const QString& detail, int err = 0);
    void noteOutcome(const KZFoundItemRef& item, const QString& outcome);
    void countAside(const KZFoundItemRef& item, quint64 KZRemoveTally::*counter, const QString& outcome);
    // Counts a music-library item as staying; answers whether it was one.
    bool keepsMusicItem(const KZFoundItemRef& item);
    bool isStopped() const;
    void status(const QString& key) const;
    // The journal of a move into a folder, begun at its first need.
    KZRemovalJournal* reservationJournal();

    std::shared_ptr<KZRemovalPanel> panel_;
    std::shared_ptr<KZRemovalFileSystem> fs_;
    // The steps of each item; they report to this removal as its recorder.
    KZRemoveItemSteps steps_;
    // Touched on the removal's thread only. The durable list of what this
    // Trash pass moved, made at its first item and handed on with the
    // records to the writer of the undo file; for a move into a folder,
    // made at its first reserved name or copy and naming those alone.
    std::unique_ptr<KZRemovalJournal> journal_;
    bool journalTried_ = false;
    int journalErr_ = 0;
    bool securityApplyToAll_ = false;
    bool securityChosen_ = false;

    mutable std::mutex mutex_; // guards what follows: read by the panel and the tests
    KZRemoveTally tally_;
    std::map<std::string, quint64> renamedDict_;
    std::unordered_map<const KZFoundItem*, std::filesystem::path> managedItems_;
    std::unordered_map<const KZFoundItem*, QString> outcomes_;
    std::optional<KZFoundItemArray> removedArray_;
    std::vector<KZUndoMovedItem> standardUndo_;
    std::vector<KZUndoMovedItem> itunesUndo_;
    std::vector<KZPersistentUndoRecord> persistentUndo_;
    std::vector<KZCreatedFolder> createdFolderUndo_;
    std::vector<KZPhotosUndoRecord> photosUndo_;
    QStringList stopReasons_;
};
