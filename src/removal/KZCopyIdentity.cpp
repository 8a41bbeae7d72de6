#include "removal/KZCopyIdentity.h"

#include "platform/DirectoryListing.h"
#include "platform/DiskIdentity.h"
#include "platform/FileStat.h"

#include <sys/stat.h>

#include <algorithm>

namespace fs = std::filesystem;

namespace {

KZCopyIdentity::Node nodeOf(const std::string& relative, const platform::FileStat& st)
{
    return {relative,
            quint64(st.device),
            st.inode,
            mode_t(st.mode & S_IFMT),
            st.size,
            qint64(st.modified.tv_sec),
            qint64(st.modified.tv_nsec)};
}

// The folder held open is the one that was described.
bool isSameFolder(int fd, const platform::FileStat& described)
{
    struct stat s;
    return ::fstat(fd, &s) == 0 && quint64(s.st_dev) == quint64(described.device) && quint64(s.st_ino) == described.inode;
}

// Appends the entries below the folder open as `dir`; false when any part
// of it cannot be read.
bool captureFolder(const platform::DirectoryHandle& dir, const std::string& prefix,
                   std::vector<KZCopyIdentity::Node>& nodes)
{
    std::vector<platform::DirEntry> entries;
    const bool listed = dir.list([&](const platform::DirEntry& entry) {
        entries.push_back(entry);
        return true;
    });
    if (!listed)
        return false;
    std::sort(entries.begin(), entries.end(),
              [](const platform::DirEntry& a, const platform::DirEntry& b) { return a.name < b.name; });
    for (const auto& entry : entries) {
        if (entry.statFailed)
            return false;
        const std::string relative = prefix.empty() ? entry.name : prefix + "/" + entry.name;
        nodes.push_back(nodeOf(relative, entry.stat));
        if (entry.stat.isDir()) {
            const auto child = platform::DirectoryHandle::openAt(dir.fd(), entry.name.c_str());
            if (!child.isValid() || !isSameFolder(child.fd(), entry.stat))
                return false;
            if (!captureFolder(child, relative, nodes))
                return false;
        }
    }
    return true;
}

} // namespace

std::optional<KZCopyIdentity> KZCopyIdentity::capture(const fs::path& path)
{
    const auto st = platform::statPath(path, false);
    if (!st)
        return std::nullopt;
    KZCopyIdentity identity;
    identity.nodes.push_back(nodeOf({}, *st));
    identity.disk = platform::diskOf(path);
    if (st->isDir()) {
        const auto dir = platform::DirectoryHandle::open(path);
        if (!dir.isValid() || !isSameFolder(dir.fd(), *st))
            return std::nullopt;
        if (!captureFolder(dir, {}, identity.nodes))
            return std::nullopt;
    }
    return identity;
}

bool KZCopyIdentity::matches(const fs::path& path) const
{
    return prove(path) == platform::Proof::Proved;
}

platform::Proof KZCopyIdentity::prove(const fs::path& path) const
{
    using platform::Proof;
    if (nodes.empty())
        return Proof::Different;
    const auto now = capture(path);
    if (!now || now->nodes.size() != nodes.size())
        return Proof::Different;
    const quint64 deviceThen = nodes.front().device;
    const quint64 deviceNow = now->nodes.front().device;
    const platform::FileSystemQuery fileSystemNow = platform::fileSystemQueryOf(path);
    // Another number is the same disk only where its marks say so; the same
    // number is not where they say otherwise, nor where another connected
    // disk carries the same identity: which of the two holds the copy is
    // not known, and the twin keeps the number it had.
    const platform::DiskAnswer answer
        = disk ? disk->judge(deviceNow, fileSystemNow) : platform::DiskAnswer::Unknown;
    if (answer == platform::DiskAnswer::Different)
        return Proof::Different;
    if (answer == platform::DiskAnswer::Twin)
        return Proof::NotProved;
    const bool sameDisk = answer == platform::DiskAnswer::Same || answer == platform::DiskAnswer::SameOrCopy;
    if (deviceNow != deviceThen && !sameDisk)
        return Proof::NotProved;
    bool renumbered = false;
    for (size_t i = 0; i < nodes.size(); ++i) {
        Node then = nodes[i];
        Node seen = now->nodes[i];
        // Each node on the copy's own disk then and now, whatever its number.
        if ((then.device == deviceThen) != (seen.device == deviceNow))
            return Proof::Different;
        renumbered = renumbered || then.inode != seen.inode;
        then.device = seen.device = 0;
        then.inode = seen.inode = 0;
        if (then != seen)
            return Proof::Different;
    }
    if (!renumbered)
        return Proof::Proved;
    // Its numbers tell only on a disk that keeps them, or within the mount
    // the copy was made in: a disk that numbers its files anew, mounted
    // again, holds the copy under other numbers, where it is proved by all
    // but them. Without its disk's record, nothing tells which it is.
    if (!disk)
        return Proof::NotProved;
    const platform::DiskMarks marks = fileSystemNow();
    if (marks.inodesLast || (disk->mount && marks.mount == disk->mount))
        return Proof::Different;
    return Proof::Proved;
}
