#pragma once

#include "platform/FileStat.h"

#include <QtGlobal>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

// Which disk holds an item, told by its file system's own identity beside
// the device number, and what that file system keeps of an item.

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
    // The block device's own identity: the backing file of a loop device
    // (its path, device and inode), a device-mapper UUID, or the serial or
    // WWID the hardware gives, with the partition. None on a disk without a
    // block device (tmpfs, overlay, FUSE, network) or one that gives none.
    std::optional<quint64> volume = std::nullopt;
    // The oldest mount of its file system here (the one it is seen through
    // where the kernel cannot list mounts), by an ID the kernel never hands
    // out again: while it stays, so does the file system. None where the
    // kernel has no such ID.
    std::optional<quint64> mount = std::nullopt;
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
    DiskMarks marks() const { return {identity, volume, mount}; }
};

// Of the entry `name` of the open folder `dirfd` (AT_FDCWD allowed), the
// entry itself and never where a link leads; an empty name asks the folder.
// Nothing known (an identity of none, birth kept) when it cannot be asked.
FileSystemFacts fileSystemAt(int dirfd, const char* name);
FileSystemFacts fileSystemOf(const std::filesystem::path& path);

// Asks the disk of the item a check looks at for its marks, and only when
// the check needs them.
using FileSystemQuery = std::function<DiskMarks()>;
FileSystemQuery fileSystemQueryAt(int dirfd, std::string name);
FileSystemQuery fileSystemQueryOf(std::filesystem::path path);
// The same for an item already described by `st`: a plain statfs of the path
// where that tells (a link is asked through its folder), so that a check of
// many items costs one call each.
FileSystemQuery fileSystemQueryOf(std::filesystem::path path, const FileStat& st);

// What a check of identity found: the recorded thing is there, something
// else is there, or what is there cannot be told from it. Only Proved lets
// an item move, go, or count as back in its place.
enum class Proof { Proved, Different, NotProved };

// A disk: its device number and its marks. The number changes when a disk
// comes back while another device holds its old one, and when overlay,
// btrfs, NFS or FUSE mount again; another disk may be given the old number
// meanwhile, and a byte copy of the disk shows every identity written on it.
struct DiskIdentity {
    quint64 device = 0;
    std::optional<quint64> fileSystem = std::nullopt;
    std::optional<quint64> volume = std::nullopt;
    std::optional<quint64> mount = std::nullopt;
    // Without a query the caller vouches for the disk (a record compared
    // with one of the same disk): the numbers are compared. Else
    // Proved: the same block device with the same file system, or the same
    // mount (the recorded one, or another mount of its file system while
    // the recorded one still shows it), whatever the numbers. Different:
    // another file system or another block device, or another number where
    // no file system identity says otherwise. NotProved otherwise: an equal
    // device number, or an equal file system identity, proves nothing on
    // its own, and a record that kept neither block device nor mount (one
    // made before they were kept) proves no disk.
    Proof proveSameDisk(quint64 deviceNow, const FileSystemQuery& fileSystemNow) const;
    bool isSameDisk(quint64 deviceNow, const FileSystemQuery& fileSystemNow) const
    {
        return proveSameDisk(deviceNow, fileSystemNow) == Proof::Proved;
    }
    bool operator==(const DiskIdentity&) const = default;
};
// The volume serial or UUID of the file system in the device or image at
// `deviceOrImage`, as libblkid reads it from its header (with its type);
// none where there is none, or the device cannot be read.
std::optional<quint64> volumeSerialOf(const std::filesystem::path& deviceOrImage);

// The disk that holds the open folder, or its entry `name`.
DiskIdentity diskAt(int dirfd, const char* name, const FileStat& st);
// The disk that holds the item at `path` (not followed); none when it
// cannot be reached.
std::optional<DiskIdentity> diskOf(const std::filesystem::path& path);

} // namespace platform
