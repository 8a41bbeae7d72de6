#pragma once

#include "platform/FileStat.h"

#include <QtGlobal>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include <sys/types.h>

struct statfs;

// What the disk that holds an item says of itself, gathered from each of
// the system's readers (statfs and the file system, sysfs, the mount table,
// the file system's header): the marks the disk decision compares.

namespace platform {

// What tells a disk from another one given its device number, and from a
// byte copy of it. The file system's identity is written on the disk, so a
// copy shares it; the block device's and the mount's are not.
struct DiskMarks {
    // The file system's own identity, which stays when its disk comes back
    // under another device number: statfs's f_fsid where it is neither zero
    // nor the device number again (xfs and vfat make it of the device), else
    // the UUID the file system reports, else the volume serial libblkid
    // reads from its header. None where it keeps none of these.
    std::optional<quint64> fileSystem = std::nullopt;
    // The disk's own hardware identity, which a byte copy does not share:
    // the serial or WWID the disk reports (virtio's included), with the
    // partition; beneath device-mapper and md, the devices they stand on;
    // of a loop device, its backing file by its own disk's identity, its
    // inode and its birth time. None on a disk without a block device
    // (tmpfs, overlay, network), one that gives no serial, or a loop whose
    // backing file was deleted.
    std::optional<quint64> volume = std::nullopt;
    // The mount the item is seen through, by an ID the kernel never hands
    // out again in one boot, marked with the boot and the mount namespace:
    // it proves nothing in another of either. Before Linux 6.8, its file
    // system as watched by this process since it first saw it, marked with
    // the process: it proves nothing in another run. None where neither
    // can be had.
    std::optional<quint64> mount = std::nullopt;
    // Its file system keeps an item's inode number across mounts. vfat and
    // exfat number their files anew at every mount, and so do most FUSE
    // file systems: there another number at the place is no proof of
    // another item.
    bool inodesLast = true;
    bool operator==(const DiskMarks&) const = default;
};

// What the file system that holds an item says of itself, read with one
// statfs where the item is.
struct FileSystemFacts {
    // DiskMarks::fileSystem.
    std::optional<quint64> identity;
    // A rename keeps an item's birth time. Overlayfs copies a lower layer's
    // item up when it moves, and the copy is born anew (its device, inode
    // and modification time stay).
    bool keepsBirthAcrossRename = true;
    std::optional<quint64> volume = std::nullopt;
    std::optional<quint64> mount = std::nullopt;
    bool inodesLast = true;
    DiskMarks marks() const { return {identity, volume, mount, inodesLast}; }
};

// Of the entry `name` of the open folder `dirfd` (AT_FDCWD allowed), the
// entry itself and never where a link leads; an empty name asks the folder.
// Nothing known (an identity of none, birth kept) when it cannot be asked.
FileSystemFacts fileSystemAt(int dirfd, const char* name);
FileSystemFacts fileSystemOf(const std::filesystem::path& path);
// FileSystemFacts::keepsBirthAcrossRename of the item open at `fd`, alone.
bool keepsBirthAcrossRenameAt(int fd);

// Asks the disk of the item a check looks at for its marks, and only when
// the check needs them.
using FileSystemQuery = std::function<DiskMarks()>;
FileSystemQuery fileSystemQueryAt(int dirfd, std::string name);
FileSystemQuery fileSystemQueryOf(std::filesystem::path path);
// The same for an item already described by `st`: a plain statfs of the path
// where that tells (a link is asked through its folder), so that a check of
// many items costs one call each.
FileSystemQuery fileSystemQueryOf(std::filesystem::path path, const FileStat& st);

// DiskMarks::fileSystem alone, of the folder open at `folderFd` (an O_PATH
// descriptor will do): nothing else of its disk is asked, and nothing of it
// is kept or watched.
std::optional<quint64> fileSystemIdentityOfFolder(int folderFd);

// statfs's f_fsid of a file system on `device`, where it is neither zero nor
// the device number again: an identity of the file system's own.
std::optional<quint64> ownFileSystemId(const struct statfs& fsInfo, dev_t device);

// The volume serial in the header of what a FUSE mount names as its source
// (a block device or a disk image), as the mount's own facts would tell it,
// read without asking the mount: a FUSE daemon that is stopped or busy
// answers nobody, and this never waits on one.
std::optional<quint64> headerSerialOfFuseSource(const std::string& source);

} // namespace platform
