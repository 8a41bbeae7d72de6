#pragma once

#include <QDateTime>
#include <QtGlobal>

#include <ctime>
#include <filesystem>
#include <optional>
#include <sys/stat.h>
#include <sys/types.h>

namespace platform {

// What a scan needs to know of one item, read with one statx call.
struct FileStat {
    dev_t device = 0;
    quint64 inode = 0;
    mode_t mode = 0;
    quint64 size = 0;
    quint64 allocatedSize = 0; // blocks actually used, st_blocks * 512
    nlink_t links = 0;
    uid_t uid = 0;
    gid_t gid = 0;
    timespec modified{};
    timespec changed{};
    timespec accessed{};
    std::optional<timespec> birth; // when the file system records it
    // From the statx attribute bits when the file system reports them; an
    // empty optional means "ask isImmutable()".
    std::optional<bool> immutable;
    // The mount that shows the item (statx's mount id) and whether a mount
    // stands on it; nothing and false where the kernel does not say. A bind
    // mount of a folder of the same file system keeps the device: only these
    // tell a walk that it crossed one.
    std::optional<quint64> mountId;
    bool mountRoot = false;

    bool isDir() const { return S_ISDIR(mode); }
    bool isRegular() const { return S_ISREG(mode); }
    bool isSymlink() const { return S_ISLNK(mode); }
    bool sameItem(const FileStat& other) const { return device == other.device && inode == other.inode; }
};

// With followLinks false a symbolic link is described itself. On failure
// answers std::nullopt and the errno value in `err`.
std::optional<FileStat> statPath(const std::filesystem::path& path, bool followLinks, int* err = nullptr);

// Relative to an open directory descriptor (AT_FDCWD allowed), so a walker
// never resolves a full path again.
std::optional<FileStat> statAt(int dirfd, const char* name, bool followLinks, int* err = nullptr);

// Local date and time of a file time stamp, milliseconds kept.
QDateTime toDateTime(const timespec& time);

// The immutable ("locked") flag. A symbolic link, a missing item, or a file
// system without the flag answers false. Device nodes and pipes are never
// opened to ask.
bool isImmutable(const std::filesystem::path& path);

} // namespace platform
