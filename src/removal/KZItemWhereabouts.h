#pragma once

#include "platform/AnchoredItem.h"
#include "platform/Bookmark.h"
#include "platform/DiskIdentity.h"
#include "platform/FileIdentity.h"
#include "platform/FileStat.h"
#include "removal/KZUndoFile.h"
#include "removal/KZUndoRecords.h"

#include <QDateTime>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <vector>

// Where a record's item lies now, given what the disks show: the one
// answer that Restore, Undo, the Restore list and the recovery act on, as
// DiskIdentity::judge is the one answer about disks. Each answer is proved
// as the identity rules say (an item by its disk, inode and birth time, or
// by all but its number on a disk that numbers its files anew; a disk by
// its hardware, then its file system), and what is not proved is said so,
// never taken for gone or back. The acting (moving, merging, rewriting the
// records) stays with the engine; nothing here changes a disk.
namespace KZItemWhereabouts {

namespace fs = std::filesystem;

// Where a record was read from: the device of the file system it lies on
// (0: a record held in memory, on no disk), and the moment its removal
// wrote it (0: not known). A record read from the very file system its
// item lies on is that disk's own, whatever else carries the disk's
// identity: a byte copy holds the record as it was when the copy was made.
struct RecordSource {
    quint64 device = 0;
    double moment = 0;
    static RecordSource ofUndoFile(const fs::path& file);
};

// A disk as a record read from `source` sees it.
platform::DiskAnswer judgeDisk(const platform::DiskIdentity& disk, const RecordSource& source, quint64 deviceNow,
                               const platform::FileSystemQuery& fileSystemNow);
// An item as a record read from `source` proves it: as FileIdentity::prove,
// its disk judged as judgeDisk() does.
platform::Proof proveItem(const platform::FileIdentity& identity, const RecordSource& source,
                          const platform::FileStat& now, const platform::FileSystemQuery& fileSystemNow,
                          const platform::GenerationQuery& generationNow = {});

enum class Where {
    InTrash,      // at its Trash name (or renamed beside it), proved the item, its .trashinfo naming its place
    BackInPlace,  // at its old place, proved so: this program's own evidence that it left its Trash, or its disk
                  // itself proved with its Trash name free
    Changed,      // at its Trash name, its .trashinfo naming its place, but not proved the item: it was changed
    NotChecked,   // the same, where nothing recorded could tell it from another either way
    Unproved,     // its old place holds an item like it, and nothing shows that it left the Trash
    NotInTrash,   // not in the Trash of a disk that may be a copy of its own: the absence proves nothing
    Elsewhere,    // its disk is connected, but at another place, and not proved the disk itself
    NotConnected, // its Trash, or that Trash's disk, is not there
    Twin,         // two connected disks carry its disk's identity, and nothing tells them apart
    Gone,         // its disk itself proved, and the item neither at its Trash name nor back
    Unusable,     // the record names no item in a Trash: nothing to act on, and nothing concluded
    // Of a record kept for the disk itself, once its item went back from a
    // disk that may have been a copy:
    KeptAside,    // no Trash holds that record's own item: kept, neither listed nor acted on
    KeptDone,     // its disk itself proved, and its Trash holds the item nowhere: the record has done its work
};

struct Answer {
    Where where = Where::Unusable;
    std::optional<platform::BookmarkTarget> target;
    // InTrash: the item in its Trash, as it is now, and the place it goes
    // back to, both where its disk is mounted now; else the Trash name and
    // the place the record names.
    fs::path trashed;
    fs::path oldPosition;
    std::optional<platform::FileStat> now;
    // Found by all but its number (a disk that numbers its files anew).
    bool renumbered = false;
    // Its Trash lies on a disk that nothing tells from a copy of its own:
    // the disk itself may still hold the item in its Trash.
    bool onPossibleCopy = false;
    // Its Trash lies on the file system the record was read from: that
    // file, and no other, is the disk's record of it.
    bool recordOnItsTrashDisk = false;
    // BackInPlace, and so by its disk alone, as isBackByItsDisk() says.
    bool backByItsDisk = false;
};

// What one look at many records knows of the disks and Trashes it saw.
struct Seen {
    // The old places named by the .trashinfo files of each Trash, each
    // with its deletion date.
    std::map<fs::path, std::multimap<fs::path, QDateTime>> trashed;
    // For each recorded mount place, where its disk is mounted now.
    std::map<fs::path, std::optional<fs::path>> remounted;
    // For each recorded mount place, the disks that no mount shows, there or
    // elsewhere: the mounts are looked through once for them, not once for
    // each of their items.
    std::map<fs::path, std::vector<platform::DiskIdentity>> connectedNowhere;
};

// Where the item of an undo file's entry lies now.
Answer whereIs(const KZUndoFile::Entry& entry, const RecordSource& source, Seen* seen);

// Whether the entry's item, out of its Trash, is proved back at its old
// place without the .trashinfo it left: its disk itself proved at both
// places, its Trash name free, and the item proved by more than size and
// date. Such an item's .trashinfo may go before its record does; whereIs()
// tells it of an item it finds back.
bool isBackByItsDisk(const KZUndoFile::Entry& entry, const RecordSource& source);

// Whether the entry is one to list: every valid entry, but one kept for
// the disk itself only while a Trash holds that record's own item at its
// name (its .trashinfo naming its place and a deletion before the record
// was written; its kind, size and date as recorded).
bool isListed(const KZUndoFile::Entry& entry, const RecordSource& source);
// What the entry says of itself: its item went back from a disk that may
// have been a copy, and it is kept for the disk itself.
bool wasPutBackOnPossibleCopy(const KZUndoFile::Entry& entry);
inline constexpr const char* kPutBackOnPossibleCopyKey = "putBackOnPossibleCopy";
// The entry and a .trashinfo name the same old place (older undo files
// hold a name that is no UTF-8 as text with its bytes replaced).
bool sameOldPosition(const KZUndoFile::Entry& entry, const fs::path& original);

// The item a Trash record's bookmark names, in a Trash still, proved the
// item that left `oldPosition` by its identity and by its .trashinfo.
std::optional<fs::path> provedInTrash(const QByteArray& bookmark, const fs::path& oldPosition);

// ---- Items moved by this run's removals (Undo) ----------------------------------------

enum class MovedWhere {
    AtDestination, // where the move put it (or the copy where it was made), proved
    Unproved,      // an item like it lies there, not proved to be it
    Gone,          // its disk itself proved, and nothing there
    OnPossibleCopy,// not there, on a disk that may be a copy of its own
    Twin,          // two connected disks carry its disk's identity
    NotConnected,  // the disk it lies on is not there
};
// Why nothing proved lies at `place`, on the disk judged `answer` there.
MovedWhere whyNotAt(platform::DiskAnswer answer);
// Which disk answers at `place`, or at the deepest folder above it still
// there, for `disk`: an unplugged disk leaves the bare folder it was
// mounted on, and another disk mounted in its place shows folders of its
// own.
platform::DiskAnswer diskAnswerAt(const fs::path& place, const platform::DiskIdentity& disk);
// Whether what lies at `at` (described by `now`) is the item `item`
// recorded where the move put it.
MovedWhere whereMovedIs(const KZUndoMovedItem& item, const platform::AnchoredItem& at, const platform::FileStat& now,
                        const RecordSource& source = {});
// An undo done once on a disk that may have been a copy, nothing left where
// the move put it: whether the item is proved back at its old place (a copy
// gone from where it was made, and the original at its place).
bool isBackAtOldPlace(const KZUndoMovedItem& item);

// An item moved on a disk connected now at another place than when it
// moved: the same record, its places (where it lies, and where it left
// from on the same disk) relative to where the disk is mounted now, where
// the disk is proved itself and holds the item proved there. None else;
// `elsewhere` then says whether a disk that may be it is connected at
// another place (bound to its recorded place, as the disk or a copy).
std::optional<KZUndoMovedItem> remountedMove(const KZUndoMovedItem& item, bool* elsewhere);

// Where the disk recorded as mounted at `recordedTop`'s disk is mounted now
// when that place no longer shows it: a place proved to hold `disk` itself
// (never one that may be a copy: that one is bound to its recorded place).
// `holds` checks a candidate top; the first that holds wins.
std::optional<fs::path> remountedTop(const fs::path& recordedTop, const platform::DiskIdentity& disk,
                                     const std::function<bool(const fs::path& top)>& holds,
                                     platform::DiskAnswer* seenElsewhere = nullptr);

// Where the original of a copy that an undo would delete lies, the copy
// described by `copy`: another item than the copy at its place (on its
// folder's recorded disk or one that nothing tells from it, or on one of
// two twins, or on another disk mounted there), or gone from its place,
// the copy being all there is, which only its disk itself proves.
enum class OriginalWhere {
    AtItsPlace,     // another item than the copy lies there, on its disk
    Gone,           // nothing (or the copy itself) there, its folder on its disk itself
    OnPossibleCopy, // not there, on a disk that may be a copy of its own
    Twin,           // its folder on one of two twins
    NotConnected,   // its folder's disk is not there: nothing shows that it went away
};
struct OriginalAnswer {
    OriginalWhere where = OriginalWhere::Gone;
    // Another item than the copy lies at its place (`where` then says on
    // which disk), opened in `place` where it could be reached on its disk.
    bool there = false;
    std::optional<platform::AnchoredItem> place;
};
OriginalAnswer whereIsOriginal(const KZUndoMovedItem& item, const std::optional<platform::FileStat>& copy,
                               const RecordSource& source);

// ---- Items of a removal killed before it recorded them (the recovery) ----------------

// Whether what lies at a place (`now`) may be the item a removal's intent
// or entry names, for the recovery to list it: not proved different where
// the record keeps more than device and inode (listing keeps, it moves
// nothing: Restore proves the item or keeps it); the same inode on the same
// disk where a line of an older journal keeps no more.
bool mayBeTheItem(const KZPersistentUndoRecord& record, const platform::FileStat& now,
                  const platform::FileSystemQuery& fileSystemNow);
// The bookmark under which the recovery lists a record's item found at
// `item`: made of it as it is where its disk is proved the item's and the
// item is not proved different; else of the identity the item left with.
QByteArray bookmarkOfFound(const KZPersistentUndoRecord& record, const fs::path& item);

enum class IntendedWhere {
    AtItsPlace, // never moved: its journal says so, or its place shows it on its disk itself
    InTrash,    // in a Trash it can have gone to, under its inode, its .trashinfo naming its place
    Gone,       // in none of them, while its folder is on its disk itself: nothing to wait for
    NotKnown,   // left its place, in no Trash here: its disk may be unplugged, or this a copy of it
};
// Where the item of a killed removal's intent lies, its journal read from
// `source`. `movedNowhere`: the journal itself shows that the removal
// never moved it. `withItsInode`: the items of the Trashes it can have gone
// to that carry its inode number, asked only when it left its place; the
// one found is put in `trashed`.
IntendedWhere
whereIsIntended(const KZPersistentUndoRecord& intent, const RecordSource& source, bool movedNowhere,
                const std::function<std::vector<std::pair<fs::path, platform::FileStat>>()>& withItsInode,
                fs::path* trashed);
// Whether the Trash item at `item` (`now`) lies on the disk of the intent's
// item, or one that nothing tells from it: there a Trash name whose
// .trashinfo names the intent's place holds the item in some form (an
// editor saves by renaming a new file over the old one); another disk
// mounted at its place has a Trash of its own, naming the same places.
bool isOnIntendedDisk(const KZPersistentUndoRecord& intent, const fs::path& item, const platform::FileStat& now);

} // namespace KZItemWhereabouts
