#pragma once

#include "platform/BlockDevices.h"
#include "platform/FileStat.h"
#include "platform/FileSystemFacts.h"
#include "platform/FileSystemHeader.h"
#include "platform/KernelConditions.h"

#include <QtGlobal>

#include <filesystem>
#include <optional>

// Which disk holds an item, told by its file system's own identity beside
// the device number: the one decision about disks. What it compares is
// read by the readers of FileSystemFacts.h.

namespace platform {

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
    // judge() as a record kept on the file system of device `recordDevice`
    // reads it (0: a record kept nowhere in particular). A disk that
    // nothing tells from a byte copy of it is the record's own where the
    // record lies on it: a copy holds the record as it was when the copy
    // was made, so the record speaks of whichever of the two it lies on,
    // and the disk itself keeps a record of its own; so, too, of one of two
    // twins connected at once.
    DiskAnswer judgeFromRecordOn(quint64 recordDevice, quint64 deviceNow, const FileSystemQuery& fileSystemNow) const;
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

// The disk that holds the open folder, or its entry `name`.
DiskIdentity diskAt(int dirfd, const char* name, const FileStat& st);
// The disk that holds the item at `path` (not followed); none when it
// cannot be reached.
std::optional<DiskIdentity> diskOf(const std::filesystem::path& path);

} // namespace platform
