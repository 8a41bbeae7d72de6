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

// What the file system that holds an item says of itself, read with one
// statfs where the item is.
struct FileSystemFacts {
    // The file system's own identity, which stays when its disk comes back
    // under another device number: statfs's f_fsid where it is neither zero
    // nor the device number again (xfs and vfat make it of the device), else
    // the UUID the file system reports. None where it keeps neither.
    std::optional<quint64> identity;
    // A rename keeps an item's birth time. Overlayfs copies a lower layer's
    // item up when it moves, and the copy is born anew (its device, inode
    // and modification time stay).
    bool keepsBirthAcrossRename = true;
};

// Of the entry `name` of the open folder `dirfd` (AT_FDCWD allowed), the
// entry itself and never where a link leads; an empty name asks the folder.
// Nothing known (an identity of none, birth kept) when it cannot be asked.
FileSystemFacts fileSystemAt(int dirfd, const char* name);
FileSystemFacts fileSystemOf(const std::filesystem::path& path);

// Asks the file system of the item a check looks at for its identity, and
// only when the check needs it.
using FileSystemQuery = std::function<std::optional<quint64>()>;
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

// A disk: its file system's own identity beside its device number. The
// number changes when a disk comes back while another device holds its old
// one, and when overlay, btrfs, NFS or FUSE mount again; another disk may
// be given the old number meanwhile.
struct DiskIdentity {
    quint64 device = 0;
    std::optional<quint64> fileSystem;
    // The same disk: the same identity of the file system where both sides
    // have one, whatever the numbers; the same device number where either
    // lacks it. Another disk given the old number is Different.
    Proof proveSameDisk(quint64 deviceNow, const FileSystemQuery& fileSystemNow) const;
    bool isSameDisk(quint64 deviceNow, const FileSystemQuery& fileSystemNow) const
    {
        return proveSameDisk(deviceNow, fileSystemNow) == Proof::Proved;
    }
    bool operator==(const DiskIdentity&) const = default;
};
// The disk that holds the open folder, or its entry `name`.
DiskIdentity diskAt(int dirfd, const char* name, const FileStat& st);

} // namespace platform
