#pragma once

#include "platform/FileIdentity.h"
#include "platform/FolderAttributes.h"
#include "removal/KZCopyIdentity.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <filesystem>
#include <memory>
#include <optional>

class KZFoundItem;

// What a removal did to one item, kept so that it can be put back.

// An item moved into a chosen folder, or copied there from another volume.
struct KZUndoMovedItem {
    std::filesystem::path currPosition; // where the item (or its copy) lies now
    std::filesystem::path oldPosition;  // where it was
    bool aliasWasCreated = false;       // a hard link to the kept copy was asked for at the old place
    // A copy is told by this flag, never guessed from the volumes: undoing
    // a copy deletes it, undoing a move puts the item back.
    bool isCopy = false;
    // What the copy was when it was made; a copy is deleted by undo only
    // while it is still exactly that. Without it the copy is never deleted.
    std::optional<KZCopyIdentity> copyIdentity = std::nullopt;
    // The result's item that was moved, so that the result shows it again
    // once it is back; none for records that stand for no result's item.
    std::shared_ptr<KZFoundItem> foundItem = nullptr;
    // Who the item (or its copy) is: undo moves back only that item, never
    // whatever took its name since. None: records that never kept it.
    std::optional<platform::FileIdentity> identity = std::nullopt;
    // The folder it was put in, every link on the way resolved when it was
    // put there: undo reaches it folder by folder without following links,
    // so that a folder swapped for a link since leads nowhere. Empty: the
    // current position as given.
    std::filesystem::path placedIn = {};
    // The device of the folder it left, when it left, and its disk's marks
    // (platform::DiskMarks): another disk there now means that its disk is
    // not connected; the same block device or mount under another device
    // number is its disk come back.
    std::optional<quint64> oldFolderDevice = std::nullopt;
    std::optional<quint64> oldFolderFileSystem = std::nullopt;
    std::optional<quint64> oldFolderVolume = std::nullopt;
    std::optional<quint64> oldFolderMount = std::nullopt;
    void setOldFolderDisk(const platform::DiskIdentity& disk)
    {
        oldFolderDevice = disk.device;
        oldFolderFileSystem = disk.fileSystem;
        oldFolderVolume = disk.volume;
        oldFolderMount = disk.mount;
    }
    // The owner, mode and ACLs of the folder it left, when it left: what a
    // folder made again in its place is given. None: records that never
    // kept them, whose folders are made private.
    std::optional<platform::FolderAttributes> oldFolderAttributes = std::nullopt;
    // Already put back once, on a disk that nothing told from a copy of its
    // own: kept for the disk itself, which may still hold the item where the
    // move put it. An undo then acts only on what it finds there, and says
    // of an item proved at its old place that it is already back.
    bool putBackOnPossibleCopy = false;
    // The date the item had at its old place right after it went back
    // there: some drivers (vfat through fusefat) stamp a file moved back
    // with the time of the move, and the date it left with would never
    // find it back again.
    std::optional<platform::FileIdentity::Time> backModified = std::nullopt;
};

// A folder a removal made under its destination, for undo to remove when
// empty: the folder it was made in is reached by `madeAt` (every link
// resolved when it was made) without following links, and only the folder
// with this identity goes.
struct KZCreatedFolder {
    std::filesystem::path path;                         // as the destination names it
    std::filesystem::path madeAt = {};                  // empty: `path`
    std::optional<platform::FileIdentity> identity = std::nullopt; // none: whatever empty folder is there
    bool operator==(const KZCreatedFolder&) const = default;
};

// An item moved to the Trash, the record that outlives the program.
struct KZPersistentUndoRecord {
    std::filesystem::path oldPosition;
    bool aliasWasCreated = false;
    bool isiTunesItem = false;
    qint16 locationLabelTag = -1;
    // Where the item lies in the Trash, with its identity there: a different
    // item later put under the same Trash name must never be taken for it.
    std::filesystem::path currPosition;
    quint64 device = 0;
    quint64 inode = 0;
    // A bookmark (which also keeps the rest of the item's identity) of the trashed item; empty when it could not be made, which
    // never costs the record itself.
    QByteArray bookmark;
    // The result's item that was trashed, for this run only: never written.
    std::shared_ptr<KZFoundItem> foundItem = nullptr;
    // Who the item is, as the removal journal keeps it for its intent and
    // its entry: recovery takes only that very item in the Trash for it.
    // None: a journal line that kept device and inode alone.
    std::optional<platform::FileIdentity> identity = std::nullopt;
    // The owner, mode and ACLs of the folder it left, when it left.
    std::optional<platform::FolderAttributes> oldFolderAttributes = std::nullopt;
};

// Photo-library items that received a keyword inside their library, one
// record per library. Undo takes off exactly this keyword from exactly these
// media items.
struct KZPhotosUndoRecord {
    QString keyword;
    QStringList ids;
    std::filesystem::path sourcePath; // the library package
};
