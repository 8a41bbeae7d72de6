#include "platform/FileStat.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace platform {

namespace {

// Some sandboxes filter statx (ENOSYS or EPERM); after the first such answer
// every call goes to fstatat, which has no birth time.
std::atomic<bool> statxUnavailable{false};

FileStat fromStatx(const struct statx& sx)
{
    FileStat st;
    st.device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    st.inode = sx.stx_ino;
    st.mode = sx.stx_mode;
    st.size = sx.stx_size;
    st.allocatedSize = quint64(sx.stx_blocks) * 512;
    st.links = sx.stx_nlink;
    st.uid = sx.stx_uid;
    st.gid = sx.stx_gid;
    st.modified = {sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec};
    st.changed = {sx.stx_ctime.tv_sec, sx.stx_ctime.tv_nsec};
    st.accessed = {sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec};
    if (sx.stx_mask & STATX_BTIME)
        st.birth = timespec{sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec};
#ifdef STATX_ATTR_IMMUTABLE
    if (sx.stx_attributes_mask & STATX_ATTR_IMMUTABLE)
        st.immutable = (sx.stx_attributes & STATX_ATTR_IMMUTABLE) != 0;
#endif
    if (sx.stx_mask & STATX_MNT_ID)
        st.mountId = sx.stx_mnt_id;
    st.mountRoot = (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) && (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT);
    return st;
}

FileStat fromStat(const struct stat& s)
{
    FileStat st;
    st.device = s.st_dev;
    st.inode = s.st_ino;
    st.mode = s.st_mode;
    st.size = quint64(s.st_size);
    st.allocatedSize = quint64(s.st_blocks) * 512;
    st.links = s.st_nlink;
    st.uid = s.st_uid;
    st.gid = s.st_gid;
    st.modified = s.st_mtim;
    st.changed = s.st_ctim;
    st.accessed = s.st_atim;
    return st;
}

} // namespace

std::optional<FileStat> statAt(int dirfd, const char* name, bool followLinks, int* err)
{
    if (!name) {
        if (err)
            *err = EINVAL;
        return std::nullopt;
    }
    const int flags = (followLinks ? 0 : AT_SYMLINK_NOFOLLOW) | AT_NO_AUTOMOUNT;
    if (!statxUnavailable.load(std::memory_order_relaxed)) {
        struct statx sx;
        // The mount id comes with the rest at no cost.
        if (::statx(dirfd, name, flags, STATX_BASIC_STATS | STATX_BTIME | STATX_MNT_ID, &sx) == 0) {
            if (err)
                *err = 0;
            return fromStatx(sx);
        }
        const int code = errno;
        if (code != ENOSYS && code != EPERM) {
            if (err)
                *err = code;
            return std::nullopt;
        }
        if (code == ENOSYS)
            statxUnavailable.store(true, std::memory_order_relaxed);
        // EPERM may be a filter or a real refusal: let fstatat decide.
    }
    struct stat s;
    if (::fstatat(dirfd, name, &s, flags) != 0) {
        if (err)
            *err = errno;
        return std::nullopt;
    }
    if (err)
        *err = 0;
    return fromStat(s);
}

std::optional<FileStat> statPath(const std::filesystem::path& path, bool followLinks, int* err)
{
    if (path.empty()) {
        if (err)
            *err = ENOENT;
        return std::nullopt;
    }
    int code = 0;
    auto st = statAt(AT_FDCWD, path.c_str(), followLinks, &code);
    if (st || code != ENAMETOOLONG || !path.has_parent_path() || path.filename().empty()) {
        if (err)
            *err = code;
        return st;
    }
    // Longer than the system takes in one piece: reached folder by folder,
    // each opened from the one before it as the system would walk the path.
    int fd = ::open(path.is_absolute() ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    for (const std::filesystem::path& element : path.parent_path().relative_path()) {
        if (fd < 0)
            break;
        if (element.empty())
            continue;
        const int next = ::openat(fd, element.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        code = errno;
        ::close(fd);
        fd = next;
    }
    if (fd < 0) {
        if (err)
            *err = code ? code : ENOENT;
        return std::nullopt;
    }
    st = statAt(fd, path.filename().c_str(), followLinks, err);
    ::close(fd);
    return st;
}

QDateTime toDateTime(const timespec& time)
{
    const qint64 ms = qint64(time.tv_sec) * 1000 + time.tv_nsec / 1000000;
    return QDateTime::fromMSecsSinceEpoch(ms);
}

bool isImmutable(const std::filesystem::path& path)
{
    const auto st = statPath(path, false);
    if (!st || st->isSymlink())
        return false;
    if (st->immutable)
        return *st->immutable;
    // Opening a device node can have side effects (a tape rewinds), and a
    // pipe could block: only files and folders are opened to ask.
    if (!st->isRegular() && !st->isDir())
        return false;
    // O_PATH descriptors refuse the ioctl, so a real (non-blocking) open it is.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    int flags = 0;
    const bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    ::close(fd);
    return ok && (flags & FS_IMMUTABLE_FL);
}

} // namespace platform
