#pragma once

#include "platform/AnchoredItem.h"
#include "removal/KZRemovalFileSystem.h"
#include "removal/KZRemovalJournal.h"
#include "removal/KZRemovalPanel.h"
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

// Result codes of the removal's file operations: 0 for success, else one of
// these (the file manager's codes and the program's own).
namespace KZRemoveCode {
constexpr qint32 ok = 0;
constexpr qint32 stopped = 1;           // ends a batch without a message
constexpr qint32 noDestination = 2;
constexpr qint32 notFound = 4;
constexpr qint32 unknownWrite = 512;
constexpr qint32 noPermission = 513;
constexpr qint32 badFileName = 514;
constexpr qint32 alreadyExists = 516;
constexpr qint32 noTrash = -43;
constexpr qint32 busy = -47;
constexpr qint32 diskLocked = -61;
constexpr qint32 noUndoRecord = -108;
} // namespace KZRemoveCode

// What became of one item that a batch took up. Each step of the batch
// answers one of these; the integer codes of the file operations are turned
// into them in one place.
enum class KZRemoveOutcome {
    Trashed,
    Moved,
    Copied,
    Deleted,
    NotFound,
    Changed,         // differs from what the search found
    LastMember,      // no copy of its group would stay
    NotTagged,       // a photo-library item: only its library may take it
    MusicKept,       // a music-library item: only the music application may take it
    LinkNotMade,     // a hard link was asked for and cannot be made: the item stays
    SameName,        // the destination holds the name and renaming is off
    NoPermission,
    BadFileName,
    Busy,
    DiskLocked,
    Stopped,
    NoTrash,         // ends the batch with an alert
    NoDestination,   // ends the batch with an alert
    Failed,          // any other failure: ends the batch with an alert
};

// The counters of one removal.
struct KZRemoveTally {
    quint64 trashed = 0;
    quint64 moved = 0;
    quint64 copied = 0;
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
// Each item goes through a chain of steps, each answering a KZRemoveOutcome:
// its identity is checked (device, inode, modification time, and for a file
// its size) through its parent folder opened without following links; a
// copy of its group that stays must still be on disk as the search saw it
// (for a folder deleted for good, and for any item of a reopened result,
// with the very same content); a hard link,
// when asked for, must be possible; then the item is relocated through that
// same open folder, the link is made or the move taken back, the undo record
// is kept, and the outcome is tallied. An item that changed or went away is
// left alone and counted, never reported as removed.
class KZRemove : public std::enable_shared_from_this<KZRemove> {
public:
    enum Job : qint16 { TrashJob = 1, MoveJob = 2, CopyJob = 3 };

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
    std::vector<std::filesystem::path> createdFolderUndo() const;
    std::vector<KZPhotosUndoRecord> photosUndo() const;

    // ---- The report -------------------------------------------------------------
    struct Alert {
        QString key;       // of the "Errors" table
        QStringList names; // the count, for more than one
        bool operator==(const Alert&) const = default;
    };
    std::vector<Alert> errorAlerts() const;
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
    // Where a relocated item went.
    struct Relocation {
        KZRemoveOutcome outcome = KZRemoveOutcome::Failed;
        int err = 0;                 // of the failed step, for the alert
        std::filesystem::path newPath;
        bool copied = false;         // the item stayed; a copy was made
    };
    // The copy of the group that a hard link will point at.
    struct LinkPlan {
        bool wanted = false;
        std::optional<platform::AnchoredItem> kept; // empty: no link (none known, or on another volume)
        KZFoundItemRef keptItem;
    };

    void moveToTrashPreliminary(const KZFoundItemArray& items);
    void moveItemsPreliminary(const KZFoundItemArray& items, const std::filesystem::path& destination);
    qint32 proceedToMoveItems(const KZFoundItemArray& items, bool copy, const std::filesystem::path& destination);
    bool checkForSharedLocation(const std::filesystem::path& url, bool* alreadyShown, bool* unreadable);
    void restoreItemsInGroupCount(const KZFoundItemArray& items);
    void acceptForRemoval(const KZFoundItemArray& items);

    // ---- The steps of one item ----
    KZRemoveOutcome removeOne(const KZFoundItemRef& item, Job job, const std::filesystem::path& destination,
                              int* err);
    std::optional<platform::AnchoredItem> checkIdentity(const KZFoundItemRef& item, KZRemoveOutcome* outcome) const;
    bool keepsACopy(const KZFoundItemRef& item, const platform::AnchoredItem& anchor) const;
    KZRemoveOutcome planLink(const KZFoundItemRef& item, const platform::AnchoredItem& anchor, LinkPlan* plan);
    Relocation relocate(const KZFoundItemRef& item, const platform::AnchoredItem& anchor, Job job,
                        const std::filesystem::path& destination);
    Relocation moveOrCopy(const platform::AnchoredItem& anchor, const std::filesystem::path& target,
                          const std::filesystem::path& folder, Job job);
    Relocation renameItem(const platform::AnchoredItem& anchor, const std::filesystem::path& folder, Job job);
    Relocation copyItem(const platform::AnchoredItem& anchor, const std::filesystem::path& to);
    void linkOrRollBack(const KZFoundItemRef& item, const platform::AnchoredItem& anchor, const LinkPlan& plan,
                        const Relocation& moved, Job job, bool* movedBack);
    void recordUndo(const KZFoundItemRef& item, const std::filesystem::path& oldPath, const Relocation& moved,
                    Job job);
    void tallyOutcome(const KZFoundItemRef& item, KZRemoveOutcome outcome, quint64 size,
                      const std::filesystem::path& oldPath);

    static KZRemoveOutcome outcomeForErrno(int err);
    static QString outcomeName(KZRemoveOutcome outcome);
    bool isSameAsFound(const KZFoundItemRef& item, const platform::FileStat& st) const;
    bool sameContent(const std::filesystem::path& a, const std::filesystem::path& b) const;
    qint16 securityLevel() const;
    void manageError(qint32 code, bool showError, const QString& detail);
    void noteOutcome(const KZFoundItemRef& item, const QString& outcome);
    void countAside(const KZFoundItemRef& item, quint64 KZRemoveTally::*counter, const QString& outcome);
    // Counts a music-library item as staying; answers whether it was one.
    bool keepsMusicItem(const KZFoundItemRef& item);
    bool isStopped() const;
    void status(const QString& key) const;
    platform::StopTest stopTest() const;

    std::shared_ptr<KZRemovalPanel> panel_;
    std::shared_ptr<KZRemovalFileSystem> fs_;
    // The durable list of what this Trash pass moved, made at its first item
    // and handed on with the records to the writer of the undo file.
    std::unique_ptr<KZRemovalJournal> journal_;
    bool journalTried_ = false;
    bool securityApplyToAll_ = false;
    bool securityChosen_ = false;
    // The items accepted for this removal, by path, and for each group the
    // members that stay: a copy of the group must still be there.
    std::unordered_set<std::string> removalPaths_;
    std::unordered_map<qint64, std::vector<KZFoundItemRef>> keptMembers_;

    mutable std::mutex mutex_; // guards what follows: read by the panel and the tests
    KZRemoveTally tally_;
    std::map<std::string, quint64> renamedDict_;
    std::unordered_map<const KZFoundItem*, std::filesystem::path> managedItems_;
    std::unordered_map<const KZFoundItem*, QString> outcomes_;
    std::optional<KZFoundItemArray> removedArray_;
    std::vector<KZUndoMovedItem> standardUndo_;
    std::vector<KZUndoMovedItem> itunesUndo_;
    std::vector<KZPersistentUndoRecord> persistentUndo_;
    std::vector<std::filesystem::path> createdFolderUndo_;
    std::vector<KZPhotosUndoRecord> photosUndo_;
};
