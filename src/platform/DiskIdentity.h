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
    // it proves nothing in another of either. None before Linux 6.8.
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

// Asks the disk of the item a check looks at for its marks, and only when
// the check needs them.
using FileSystemQuery = std::function<DiskMarks()>;
FileSystemQuery fileSystemQueryAt(int dirfd, std::string name);
FileSystemQuery fileSystemQueryOf(std::filesystem::path path);
// The same for an item already described by `st`: a plain statfs of the path
// where that tells (a link is asked through its folder), so that a check of
// many items costs one call each.
FileSystemQuery fileSystemQueryOf(std::filesystem::path path, const FileStat& st);

// The conditions the decisions about disks rest on. The program reads them
// from the system; tests set what a user's machine has and CI's does not
// (an older kernel, another boot or mount namespace, disks without a
// serial), and the whole program takes them from MARAVEX_TEST_KERNEL.
struct KernelConditions {
    bool uniqueMountIds = true; // statx's STATX_MNT_ID_UNIQUE, from Linux 6.8
    bool deviceSerials = true;  // the block devices' own identity in sysfs
    std::string bootId;         // /proc/sys/kernel/random/boot_id
    std::string mountNamespace; // /proc/self/ns/mnt
    std::string sysfs = "/sys"; // where the block devices describe themselves
};
KernelConditions kernelConditions();
// What the system gives, MARAVEX_TEST_KERNEL included.
KernelConditions systemKernelConditions();
void setKernelConditions(const KernelConditions& conditions);

// What a check of identity found: the recorded thing is there, something
// else is there, or what is there cannot be told from it. Only Proved lets
// an item move, go, or count as back in its place.
enum class Proof { Proved, Different, NotProved };

// Which disk answers now, in the order the marks are asked: the disk's
// hardware identity (different is different, equal is the disk), then the
// file system's (different is different), then the very mount in this boot
// and namespace. SameOrCopy: the same file system identity where no
// hardware identity can be read, so the disk or a byte copy of it that
// nothing here tells apart: items on it are acted on when each is proved
// on its own, and nothing is concluded from an item's absence. So is a disk
// that tells neither identity, seen at the recorded place. Twin: the disk or
// a copy, while another connected disk carries the same file system
// identity and nothing tells the two apart: neither is acted on.
enum class DiskAnswer { Same, SameOrCopy, Different, Unknown, Twin };

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
    // with one of the same disk): the numbers are compared. An equal device
    // number alone never proves a disk; another one, where no mark says
    // more, is another disk.
    DiskAnswer judge(quint64 deviceNow, const FileSystemQuery& fileSystemNow) const;
    // Proved only for the disk itself (Same): what concludes from an
    // item's absence (gone, or back in place without this program's own
    // evidence) needs it.
    Proof proveSameDisk(quint64 deviceNow, const FileSystemQuery& fileSystemNow) const;
    // Proved for the disk or a copy nothing tells from it (SameOrCopy too):
    // enough to act on an item that is itself proved there.
    Proof proveDiskOfItem(quint64 deviceNow, const FileSystemQuery& fileSystemNow) const;
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

// The hardware identity of the block device `device` (DiskMarks::volume);
// none where it tells none.
std::optional<quint64> blockDeviceVolume(dev_t device);

// The disk that holds the open folder, or its entry `name`.
DiskIdentity diskAt(int dirfd, const char* name, const FileStat& st);
// The disk that holds the item at `path` (not followed); none when it
// cannot be reached.
std::optional<DiskIdentity> diskOf(const std::filesystem::path& path);

} // namespace platform
