#pragma once

#include "platform/AnchoredItem.h"
#include "platform/NameReservation.h"
#include "platform/Volumes.h"
#include "removal/KZRemovalFileSystem.h"
#include "removal/KZRemovalPanel.h"
#include "removal/KZUndoRecords.h"
#include "result/model/KZFoundItem.h"

#include <QtGlobal>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// Result codes of the removal's file operations: 0 for success, else one of
// these (the file manager's codes and the program's own).
namespace KZRemoveCode {
constexpr qint32 ok = 0;
constexpr qint32 stopped = 1; // ends a batch without a message
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
    Changed,     // differs from what the search found
    NotChecked,  // one like it is at its place, but nothing proves it is the item found (its disk numbers its files anew)
    LinkInPath,  // a folder on its way is a symbolic link now, which no removal follows
    MountInside, // the item is or holds a mount point: no removal takes or enters another file system
    MountAppeared, // a mount made inside a folder while it was deleted for good stopped the deletion, part of it gone
    DestinationCovered, // a mount made on the destination folder as the item moved would hide it there: it stays
    LastMember,  // no copy of its group would stay
    NotTagged,   // a photo-library item: only its library may take it
    MusicKept,   // a music-library item: only the music application may take it
    LinkNotMade, // a hard link was asked for and cannot be made: the item stays
    SameName,    // the destination holds the name and renaming is off
    NoPermission,
    BadFileName,
    Busy,
    DiskLocked,
    Stopped,
    NoTrash,       // ends the batch with an alert
    NoDestination, // ends the batch with an alert
    NoUndoRecord,  // the record that lets Restore find the item could not be written: ends the batch with an alert
    Failed,        // any other failure: ends the batch with an alert
};

// Where the items of a batch go: to the Trash, into a folder, or copied there.
namespace KZRemoveJob {
enum Kind : qint16 { TrashJob = 1, MoveJob = 2, CopyJob = 3 };
} // namespace KZRemoveJob

// What the steps of one item tell the batch that runs them; the steps keep
// no tally, undo list or journal of their own. Called on the removal's
// thread only; an implementation guards whatever other threads read.
class KZRemoveItemRecorder {
public:
    virtual ~KZRemoveItemRecorder() = default;

    // The item's job was done: `place` is where it went, its old place for
    // a copy, "-" for an item deleted for good.
    virtual void itemPlaced(const KZFoundItemRef& item, const std::filesystem::path& place) = 0;
    // A moved item went back to its old place after all.
    virtual void itemPutBack(const KZFoundItemRef& item) = 0;

    // The hard link asked for took the item's place, could not be made, or
    // was not tried because the kept copy lies on another volume.
    virtual void linkMade() = 0;
    virtual void linkNotMade() = 0;
    virtual void linkNotOnSameVolume() = 0;

    // The numbers given to clashing names, per base name, for the whole
    // removal: 0 when none was given yet.
    virtual quint64 lastRenameNumber(const std::string& base) const = 0;
    virtual void renameNumberTaken(const std::string& base, quint64 number) = 0;

    // A folder made under the destination, for undo to remove when empty.
    virtual void folderCreated(KZCreatedFolder folder) = 0;

    // Before an item is moved to the Trash: the intent, on disk before the
    // move, so that a removal killed mid-way still leaves Restore the item.
    // False, with `err` set, when it could not be written: the item stays.
    virtual bool trashIntended(const KZPersistentUndoRecord& intent, int* err) = 0;
    // After the move: the record that finds the item in the Trash again.
    virtual void trashRecorded(KZPersistentUndoRecord record) = 0;
    // An item moved or copied into a folder, for undo.
    virtual void moveRecorded(KZUndoMovedItem record) = 0;

    // A name reserved for a move (platform::ReservationWatcher): named in
    // the record before it is taken, then told as taken, so that a removal
    // killed at any instant before the move leaves nothing behind for good.
    virtual void nameReserving(const platform::ReservationIntent& intent) = 0;
    virtual void nameReserved(const std::filesystem::path& place, const platform::FileIdentity& identity) = 0;
    virtual void nameGivenUp(const std::filesystem::path& place) = 0;
    // A copy about to be made in place, and made whole.
    virtual void copying(const platform::ReservationIntent& intent) = 0;
    virtual void copyMade(const std::filesystem::path& place) = 0;
};

// The steps that one item of a removal goes through, each answering a
// KZRemoveOutcome: its identity is checked (device, inode, modification
// time, and for a file its size) through its parent folder opened without
// following links; a copy of its group that stays must still be on disk as
// the search saw it (for a folder deleted for good, and for any item of a
// reopened result, with the very same content); a hard link, when asked
// for, must be possible; then the item is relocated through that same open
// folder, the link is made or the move taken back, and the undo record is
// handed to the recorder. An item that changed or went away is left alone.
//
// Owned by one removal and used on its thread only, so it takes no lock;
// what it learns goes to the recorder, which the removal implements.
class KZRemoveItemSteps {
public:
    KZRemoveItemSteps(std::shared_ptr<KZRemovalPanel> panel, std::shared_ptr<KZRemovalFileSystem> fileSystem,
                      KZRemoveItemRecorder& recorder);
    KZRemoveItemSteps(const KZRemoveItemSteps&) = delete;
    KZRemoveItemSteps& operator=(const KZRemoveItemSteps&) = delete;

    // The items that leave in this removal, by path, and for each of their
    // groups the members of the result that stay.
    void acceptForRemoval(const KZFoundItemArray& items);
    // Asks where the music library keeps its files, once per removal, before
    // the first item (and at the first item asked about, for a job started
    // without a removal): what lies there is the library's, whoever found
    // it, and so is a folder that holds it.
    void learnMusicLibrary();
    bool isMusicLibraryFile(const std::filesystem::path& path);

    // One item, one step after the other; the first step that refuses ends
    // it. `forGood`: the user chose to delete the items instead of moving
    // them to the Trash. `err` is the failed step's errno, for the alert.
    KZRemoveOutcome removeOne(const KZFoundItemRef& item, KZRemoveJob::Kind job,
                              const std::filesystem::path& destination, bool forGood, int* err);

    // The full target under `destination` with the item's folders made
    // again, held by the folder it goes into: each folder is made and opened
    // from the one before it, starting at the destination, and never through
    // a link. Empty when a folder could not be made, a step is not a folder
    // or the destination is not absolute.
    std::optional<platform::AnchoredItem> createDestinationRoot(const std::filesystem::path& destination,
                                                                const std::filesystem::path& source);

    static qint32 codeForErrno(int err);
    static bool isSuccess(KZRemoveOutcome outcome);
    // The level of the last-copy rule that the user chose.
    static qint16 securityLevel();

private:
    // Where a relocated item went.
    struct Relocation {
        KZRemoveOutcome outcome = KZRemoveOutcome::Failed;
        int err = 0; // of the failed step, for the alert
        std::filesystem::path newPath;
        bool copied = false; // the item stayed; a copy was made
    };
    // The copy of the group that a hard link will point at.
    struct LinkPlan {
        bool wanted = false;
        std::optional<platform::AnchoredItem> kept; // empty: no link (none known, or on another volume)
        KZFoundItemRef keptItem;
        std::optional<platform::FileStat> keptStat; // the kept copy as proved
        // The link made beside the item before it leaves, under a hidden
        // name, swapped into the item's place once it has gone.
        std::optional<platform::AnchoredItem> trial;
    };

    std::optional<platform::AnchoredItem> checkIdentity(const KZFoundItemRef& item, KZRemoveOutcome* outcome) const;
    bool keepsACopy(const KZFoundItemRef& item, const platform::AnchoredItem& anchor, bool forGood) const;
    KZRemoveOutcome planLink(const KZFoundItemRef& item, const platform::AnchoredItem& anchor, LinkPlan* plan);
    // Whether the disk and the kernel let the link be made: false leaves the
    // item where it is.
    bool tryLink(const platform::AnchoredItem& anchor, LinkPlan* plan);
    static void dropTrialLink(const LinkPlan& plan);
    Relocation relocate(const KZFoundItemRef& item, const platform::AnchoredItem& anchor, KZRemoveJob::Kind job,
                        const std::filesystem::path& destination, bool forGood);
    Relocation moveOrCopy(const platform::AnchoredItem& anchor, const platform::AnchoredItem& target,
                          const std::filesystem::path& folder, KZRemoveJob::Kind job);
    Relocation renameItem(const platform::AnchoredItem& anchor, const std::filesystem::path& folder,
                          KZRemoveJob::Kind job);
    Relocation copyItem(const platform::AnchoredItem& anchor, const platform::AnchoredItem& to);
    // Whether a mount arrived in the item since the mount table was last
    // asked; walked again only when the table changed.
    bool mountArrived(const platform::AnchoredItem& anchor);
    // A moved item back at `anchor` when a mount went along with it to
    // `placed`: what the move answers after all.
    Relocation keepMountsOut(const platform::AnchoredItem& anchor, const platform::AnchoredItem& placed,
                             Relocation moved);
    // A moved item back at `anchor` when its destination folder was covered
    // by a mount as it moved: what the move answers after all.
    Relocation keepInView(const platform::AnchoredItem& anchor, const platform::AnchoredItem& placed,
                          Relocation moved);
    void linkOrRollBack(const KZFoundItemRef& item, const platform::AnchoredItem& anchor, const LinkPlan& plan,
                        const Relocation& moved, KZRemoveJob::Kind job, bool* movedBack);
    void recordUndo(const KZFoundItemRef& item, const std::filesystem::path& oldPath, const Relocation& moved,
                    const std::optional<platform::FileStat>& leaving,
                    std::optional<platform::DiskIdentity> oldFolder,
                    std::optional<platform::FolderAttributes> folderAttributes);

    static KZRemoveOutcome outcomeForErrno(int err);
    // Whether the item at `at`, described by `st`, is the one the search
    // found: its kind, size and date, and its disk and number, or on a disk
    // that numbers its files anew, all but its number.
    static platform::Proof proveAsFound(const KZFoundItemRef& item, const platform::AnchoredItem& at,
                                        const platform::FileStat& st);
    // Whether `other` is the very directory entry of `item`, reached by another path.
    static bool isSameEntry(const platform::AnchoredItem& item, const platform::AnchoredItem& other,
                            const platform::FileStat& otherStat);
    bool isOnKernelFileSystem(const platform::AnchoredItem& anchor, const platform::FileStat& st) const;
    bool sameContent(const std::filesystem::path& a, const std::filesystem::path& b) const;
    bool isStopped() const;
    platform::StopTest stopTest() const;

    std::shared_ptr<KZRemovalPanel> panel_;
    std::shared_ptr<KZRemovalFileSystem> fs_;
    KZRemoveItemRecorder& recorder_;
    // Set by acceptForRemoval before the items go, read by keepsACopy.
    std::unordered_set<std::string> removalPaths_;
    std::unordered_map<qint64, std::vector<KZFoundItemRef>> keptMembers_;
    // The music library's folder as written, reached without links and
    // where a link leads; empty without a library.
    std::optional<std::vector<std::filesystem::path>> musicLibraryPlaces_;
    // Devices known to be, or not to be, one of the kernel's own file
    // systems: telling a tmpfs from a devtmpfs reads the mount table.
    mutable std::unordered_map<dev_t, bool> kernelDevices_;
    // Tells when a mount was made anywhere since an item was looked at, so
    // that the item is walked again only then.
    platform::MountTableWatch mounts_;
};
