#pragma once

#include "removal/KZRemovalFileSystem.h"
#include "removal/KZRemovalPanel.h"
#include "removal/KZUndoRecords.h"
#include "result/model/KZFoundItem.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <atomic>
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

// One removal: moves the marked items of a result to the Trash or into a
// chosen folder (copying those on another volume), optionally leaving a hard
// link to the kept copy, and keeps what could not be done for the report.
//
// Made new for each removal. startMoving() runs the work on the engine's
// queue; doMove() runs it on the calling thread. Only one removal runs in the
// process at a time: the undo lists are shared by everything a removal did.
//
// Before anything is trashed, moved, copied or deleted, the item on disk is
// compared with what the search found (device, inode, and for a file its
// size and modification time); an item that changed or went away is left
// alone and counted, never reported as removed.
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

    // ---- What happened -------------------------------------------------------
    std::atomic<quint64> lockedCount{0};
    std::atomic<quint64> notFoundCount{0};
    std::atomic<quint64> notTrashedSecurityCount{0};
    std::atomic<quint64> noPermissionsCount{0};
    std::atomic<quint64> itemBusyCount{0};
    std::atomic<quint64> diskLockedCount{0};
    std::atomic<quint64> alreadyExistCount{0};
    std::atomic<quint64> badFileNameCount{0};
    std::atomic<quint64> aliasNotInSameVolumeCount{0};
    // Items that differ from what the search found, left alone.
    std::atomic<quint64> changedCount{0};
    // Items a step failed on for a reason no other counter names.
    std::atomic<quint64> otherFailureCount{0};
    std::atomic<bool> thereAreShared{false};
    std::atomic<bool> refused{false};

    // The items that left their place; empty optional when nothing reached a job.
    std::optional<KZFoundItemArray> removedArray() const;

    // ---- Undo records, kept for the undo engine ---------------------------------
    std::vector<KZUndoMovedItem> standardUndo() const;
    std::vector<KZUndoMovedItem> itunesUndo() const;
    std::vector<KZPersistentUndoRecord> persistentUndo() const;
    std::vector<std::filesystem::path> createdFolderUndo() const;

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
    qint32 moveItems(const KZFoundItemArray& items, Job job, const std::filesystem::path& destination);
    // The full target under `destination` with the item's folders made
    // again; empty when a folder could not be made or a step is not a folder.
    std::optional<std::filesystem::path> createDestinationRoot(const std::filesystem::path& destination,
                                                               const std::filesystem::path& source);
    KZFoundItemArray findProcessedItems(const KZFoundItemArray& items);
    KZFoundItemArray currItemsWithArray(const KZFoundItemArray& items, bool isTrash);
    bool checkSecurity(const KZFoundItemRef& item);
    std::map<std::string, quint64> renamedDict() const;
    // What became of one item, for the command-line tool: the job done
    // ("trash", "moved", "copied", "deleted") or why it was left ("locked",
    // "last_member", "changed", "not_found", a failure's name); empty when
    // the removal never reached it.
    QString outcomeOf(const KZFoundItemRef& item) const;
    std::filesystem::path managedPath(const KZFoundItemRef& item) const;

private:
    struct ItemResult {
        qint32 code = 0;
        std::filesystem::path newPath;
        bool copied = false; // the item stayed; a copy was made
    };

    void moveToTrashPreliminary(const KZFoundItemArray& items);
    void moveItemsPreliminary(const KZFoundItemArray& items, const std::filesystem::path& destination);
    qint32 proceedToMoveItems(const KZFoundItemArray& items, bool copy, const std::filesystem::path& destination);
    bool checkForSharedLocation(const std::filesystem::path& url, bool* alreadyShown, bool* unreadable);
    void restoreItemsInGroupCount(const KZFoundItemArray& items);

    ItemResult moveItem(const KZFoundItemRef& item, const std::filesystem::path& from,
                        const std::filesystem::path& destination, Job job);
    ItemResult renameItem(const std::filesystem::path& from, const std::filesystem::path& folder, Job job,
                          qint32 clashCode);
    ItemResult copyItem(const std::filesystem::path& from, const std::filesystem::path& to);
    qint32 deleteItem(const KZFoundItemRef& item, const std::filesystem::path& path);
    bool hasSurvivingMember(const KZFoundItemRef& item) const;
    bool createHardLink(qint64 groupID, const std::filesystem::path& at, qint32* code);
    bool identityMatches(const KZFoundItemRef& item, const std::filesystem::path& path) const;
    void manageError(qint32 code, bool showError, const QString& detail);
    void noteOutcome(const KZFoundItemRef& item, const QString& outcome);
    bool isStopped() const;
    void status(const QString& key) const;
    platform::StopTest stopTest() const;

    std::shared_ptr<KZRemovalPanel> panel_;
    std::shared_ptr<KZRemovalFileSystem> fs_;
    bool securityApplyToAll_ = false;
    bool securityChosen_ = false;
    // The items accepted for this removal, by path, for the deletion check.
    std::vector<std::filesystem::path> removalPaths_;
    std::unordered_set<const KZFoundItem*> removalItems_;

    mutable std::mutex mutex_; // guards what follows: read by the panel and the tests
    std::map<std::string, quint64> renamedDict_;
    std::unordered_map<const KZFoundItem*, std::filesystem::path> managedItems_;
    std::unordered_map<const KZFoundItem*, QString> outcomes_;
    std::optional<KZFoundItemArray> removedArray_;
    std::vector<KZUndoMovedItem> standardUndo_;
    std::vector<KZUndoMovedItem> itunesUndo_;
    std::vector<KZPersistentUndoRecord> persistentUndo_;
    std::vector<std::filesystem::path> createdFolderUndo_;
};
