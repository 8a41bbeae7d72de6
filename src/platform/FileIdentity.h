#pragma once

#include "platform/DiskIdentity.h"
#include "platform/FileStat.h"

#include <QVariantMap>
#include <QtGlobal>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace platform {

// The inode's generation, which a file system that hands out a freed inode
// number again gives the new item anew (ext4, xfs, btrfs): asked of folders,
// where birth time cannot tell them. None where the file system keeps none.
using GenerationQuery = std::function<std::optional<quint64>()>;
std::optional<quint64> folderGenerationAt(int dirfd, const char* name);
GenerationQuery folderGenerationQueryAt(int dirfd, std::string name);
GenerationQuery folderGenerationQueryOf(std::filesystem::path path);

// Who an item is: its disk, its inode and its birth time. Where the file
// system keeps no birth time, or does not keep it across a rename, a file
// is its size and modification time as well; a folder never is, for its
// size and date change with its entries: it is its disk and inode, and its
// birth time, or where there is none its inode's generation, or else its
// change time as it was once it reached its place (a folder changed since
// is not proved). A file system hands a freed inode number to the next item
// made at once, so disk and inode alone never prove that an item is the one
// recorded.
struct FileIdentity {
    struct Time {
        qint64 seconds = 0;
        qint64 nanoseconds = 0;
        bool operator==(const Time&) const = default;
    };
    quint64 device = 0;
    quint64 inode = 0;
    std::optional<Time> birth;
    // Only when there is no birth time to trust.
    std::optional<quint64> size;
    std::optional<Time> modified;
    // The file system's own identity (FileSystemFacts::identity); none in
    // records made before it was kept.
    std::optional<quint64> fileSystem;
    // Its block device's identity and its mount (DiskMarks); none in records
    // made before they were kept, whose disk is then never proved.
    std::optional<quint64> volume = std::nullopt;
    std::optional<quint64> mount = std::nullopt;
    // Whether the item was a folder; none in records made before it was kept,
    // which take what is there now as the kind.
    std::optional<bool> folder;
    // Of a folder without a birth time to trust: its inode's generation, and
    // its change time (set by the move that put it where it lies).
    std::optional<quint64> generation;
    std::optional<Time> changed;

    // With the facts of the file system that holds the item.
    static FileIdentity of(const FileStat& st, const FileSystemFacts& fileSystem);
    // On a file system that keeps birth times and no identity of its own.
    static FileIdentity of(const FileStat& st) { return of(st, {}); }
    // The same for the entry `name` of the open folder `dirfd` that `st`
    // describes, with the generation of a folder that needs it.
    static FileIdentity of(int dirfd, const char* name, const FileStat& st, const FileSystemFacts& fileSystem);
    // The entry `name` of the open folder `dirfd` (empty: the folder), not
    // followed when it is a link; none when it cannot be read.
    static std::optional<FileIdentity> at(int dirfd, const char* name);
    static std::optional<FileIdentity> ofPath(const std::filesystem::path& path);
    // What a scan read of the item at `path` (device, inode, kind, size and
    // date), with what it did not read: the marks of its disk, and its
    // birth time where the path still holds the very item unchanged. The
    // marks are those the scan read of the disk (`scanDisk`), which hold
    // whatever disk has the number by now; without them they are asked of
    // the item's folder while that folder is on the scanned device. A record
    // without marks would take the disk back under another number for
    // another disk.
    static FileIdentity completedFromScan(const std::filesystem::path& path, FileIdentity scanned,
                                          const FileSystemFacts* scanDisk = nullptr);

    DiskIdentity disk() const { return {device, fileSystem, volume, mount}; }
    // More than disk and inode was recorded, or the item was a folder.
    bool canProve() const { return folder.value_or(false) || birth || (size && modified); }
    // Whether `now` is the recorded item. Different: another disk, inode or
    // kind, or a birth time or generation of its own. NotProved: what is
    // there may be the item or an item made on its freed inode (a file whose
    // size or date changed where there is no birth time, a folder changed
    // where there is neither birth time nor generation, a record of disk and
    // inode alone). `generationNow` is asked only of a folder that needs it.
    Proof prove(const FileStat& now, const FileSystemQuery& fileSystemNow = {},
                const GenerationQuery& generationNow = {}) const;
    // The same, where the item's disk is taken as proved (or proved apart):
    // what the item itself shows, its inode, kind, birth time or size and
    // date, or generation.
    Proof proveOnItsDisk(const FileStat& now, const GenerationQuery& generationNow = {}) const;
    // Whether what was recorded could tell the item from another at all
    // where `now` lies, its number apart: a folder where neither side has a
    // birth time or generation, and one side keeps its change time in whole
    // seconds only (FUSE), has nothing that could show it changed, nor that
    // it did not.
    bool canBeToldAt(const FileStat& now, const GenerationQuery& generationNow = {}) const;
    // Proved by what a new item on the freed inode would not share: its
    // birth time, or a folder's generation; never size and date alone.
    bool isProvedBeyondSizeAndDate(const FileStat& now, const GenerationQuery& generationNow = {}) const;
    // The same file: its disk and inode, and its birth time, or where none
    // was recorded its size and modification time. An identity of disk and
    // inode alone proves nothing and answers false.
    bool isSameFile(const FileStat& now, const FileSystemQuery& fileSystemNow = {}) const;
    // The same folder, proved as prove() says.
    bool isSameFolder(const FileStat& now, const FileSystemQuery& fileSystemNow = {},
                      const GenerationQuery& generationNow = {}) const;
    // The item of either kind: a file as a file, a folder as a folder, and
    // never the one for the other; prove() answered Proved.
    bool isSameItem(const FileStat& now, const FileSystemQuery& fileSystemNow = {},
                    const GenerationQuery& generationNow = {}) const;
    // Its disk and inode, with nothing else proved: where a reference finds it.
    bool isSameInode(const FileStat& now, const FileSystemQuery& fileSystemNow = {}) const;

    // The keys added to a stored record (device and inode are the record's
    // own); a record without them reads as an identity of device and inode
    // alone.
    void insertInto(QVariantMap& map) const;
    static FileIdentity readFrom(const QVariantMap& map, quint64 device, quint64 inode);
    // The same from a record read as a lookup of its values by key (an
    // invalid value for a missing key).
    static FileIdentity readWith(const std::function<QVariant(const QString& key)>& value, quint64 device,
                                 quint64 inode);

    bool operator==(const FileIdentity&) const = default;
};

// A whole number of a stored record (a bookmark, an identity): an integer
// as it is, a real only when it is whole and fits (a crafted 1e30 or
// infinity names no device or time); anything else is no number.
std::optional<quint64> storedUnsigned(const QVariant& value);

} // namespace platform
