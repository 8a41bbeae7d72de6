#include "platform/FileOps.h"

#include "platform/FileStat.h"
#include "platform/NameReservation.h"
#include "platform/Paths.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <set>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace platform {

QString systemErrorString(int err)
{
    if (err == folderMoveRefusedByDisk)
        return QStringLiteral("The disk does not move a folder without replacing what is at its new place");
    char buffer[256];
    // GNU strerror_r answers a pointer that may or may not be the buffer.
    const char* text = strerror_r(err, buffer, sizeof buffer);
    return QString::fromLocal8Bit(text);
}

std::optional<QByteArray> readRegularFile(const std::filesystem::path& file, quint64 maxSize, QString* reason,
                                          bool followLinks,
                                          const std::function<std::optional<QString>(int fd, quint64 size)>& inspect)
{
    const auto fail = [reason](const QString& why) -> std::optional<QByteArray> {
        if (reason)
            *reason = why;
        return std::nullopt;
    };
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (followLinks ? 0 : O_NOFOLLOW));
    if (fd < 0)
        return fail(systemErrorString(errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } const closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return fail(systemErrorString(errno));
    // A FIFO or device would block or never end.
    if (!S_ISREG(st.st_mode))
        return fail(QStringLiteral("not a regular file"));
    if (inspect) {
        if (std::optional<QString> refused = inspect(fd, quint64(st.st_size)))
            return fail(*refused);
    }
    if (quint64(st.st_size) > maxSize)
        return fail(QStringLiteral("the file is too large"));
    QByteArray data;
    data.resize(qsizetype(st.st_size));
    qsizetype done = 0;
    while (done < data.size()) {
        // By offset: the inspection may have moved the file's own.
        const ssize_t n = ::pread(fd, data.data() + done, size_t(data.size() - done), off_t(done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(systemErrorString(errno));
        }
        if (n == 0)
            break; // shrank while we read it
        done += n;
    }
    data.truncate(done);
    return data;
}

namespace {

// Opened for reading its bytes only when it is a regular file: without
// blocking, so that a FIFO put under the name is refused at once instead
// of waited on, and without following a link as the last component.
int openRegularForReading(const std::filesystem::path& file)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

} // namespace

bool sameFileBytes(const std::filesystem::path& a, const std::filesystem::path& b)
{
    const int fa = openRegularForReading(a);
    const int fb = fa < 0 ? -1 : openRegularForReading(b);
    bool same = fa >= 0 && fb >= 0;
    std::vector<char> bufA(1 << 16), bufB(1 << 16);
    while (same) {
        const ssize_t got = ::read(fa, bufA.data(), bufA.size());
        ssize_t have = 0;
        while (have < got) {
            const ssize_t more = ::read(fb, bufB.data() + have, size_t(got - have));
            if (more <= 0)
                break;
            have += more;
        }
        if (got < 0 || have != got || std::memcmp(bufA.data(), bufB.data(), size_t(got)) != 0) {
            same = false;
            break;
        }
        if (got == 0) {
            char extra;
            same = ::read(fb, &extra, 1) == 0;
            break;
        }
    }
    if (fa >= 0)
        ::close(fa);
    if (fb >= 0)
        ::close(fb);
    return same;
}

std::optional<std::set<std::string>> namesInFolder(int fd)
{
    if (fd < 0)
        return std::nullopt;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return std::nullopt;
    }
    std::set<std::string> names;
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.insert(entry->d_name);
    }
    const bool ok = errno == 0;
    ::closedir(dir);
    return ok ? std::optional(std::move(names)) : std::nullopt;
}

namespace {

// The names in a folder, read through a descriptor that did not follow a link.
std::optional<std::set<std::string>> namesIn(const std::filesystem::path& folder)
{
    return namesInFolder(openFolderAt(AT_FDCWD, folder.c_str()));
}

std::optional<std::string> linkTarget(const std::filesystem::path& link)
{
    std::string target(PATH_MAX + 1, '\0');
    const ssize_t got = ::readlink(link.c_str(), target.data(), target.size());
    if (got < 0 || size_t(got) >= target.size())
        return std::nullopt;
    target.resize(size_t(got));
    return target;
}

} // namespace

bool sameContent(const std::filesystem::path& a, const std::filesystem::path& b, const StopTest& stopped)
{
    struct stat sa, sb;
    if (::lstat(a.c_str(), &sa) != 0 || ::lstat(b.c_str(), &sb) != 0 || (sa.st_mode & S_IFMT) != (sb.st_mode & S_IFMT))
        return false;
    if (S_ISDIR(sa.st_mode)) {
        const auto na = namesIn(a), nb = namesIn(b);
        if (!na || !nb || *na != *nb)
            return false;
        for (const std::string& name : *na) {
            if ((stopped && stopped()) || !sameContent(a / name, b / name, stopped))
                return false;
        }
        return true;
    }
    if (S_ISLNK(sa.st_mode)) {
        const auto ta = linkTarget(a), tb = linkTarget(b);
        return ta && tb && *ta == *tb;
    }
    if (S_ISREG(sa.st_mode))
        return sa.st_size == sb.st_size && sameFileBytes(a, b);
    return false;
}

bool writeAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t wrote = ::write(fd, data, size);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote == 0)
            errno = EIO;
        if (wrote <= 0)
            return false;
        data += wrote;
        size -= static_cast<size_t>(wrote);
    }
    return true;
}

namespace {

// EPERM is the disk's answer only for an item of ours: the owner may always
// change a mode where the disk keeps one.
ModeChange modeRefusal(int code, bool ours, int* err)
{
    if (err)
        *err = code;
    if (code == ENOSYS || code == EOPNOTSUPP || (code == EPERM && ours))
        return ModeChange::RefusedByDisk;
    return ModeChange::Failed;
}

} // namespace

ModeChange changeMode(int fd, mode_t mode, int* err)
{
    if (::fchmod(fd, mode) == 0) {
        if (err)
            *err = 0;
        return ModeChange::Given;
    }
    const int code = errno;
    struct stat st {};
    return modeRefusal(code, code == EPERM && ::fstat(fd, &st) == 0 && st.st_uid == ::geteuid(), err);
}

ModeChange changeModeAt(int dirfd, const char* name, mode_t mode, int flags, int* err)
{
    if (::fchmodat(dirfd, name, mode, flags) == 0) {
        if (err)
            *err = 0;
        return ModeChange::Given;
    }
    const int code = errno;
    struct stat st {};
    const bool ours = code == EPERM && ::fstatat(dirfd, name, &st, flags & AT_SYMLINK_NOFOLLOW) == 0
        && st.st_uid == ::geteuid();
    return modeRefusal(code, ours, err);
}

namespace {

bool fail(int code, const std::filesystem::path& from, const std::filesystem::path& to, QString* error, int* err)
{
    if (err)
        *err = code;
    if (error) {
        *error = QStringLiteral("Cannot move \u201c%1\u201d to \u201c%2\u201d: %3")
                     .arg(platform::pathText(from), platform::pathText(to), systemErrorString(code));
    }
    return false;
}

int renameNoReplaceAt(int fromDir, const char* from, int toDir, const char* to)
{
    return static_cast<int>(::syscall(SYS_renameat2, fromDir, from, toDir, to, RENAME_NOREPLACE));
}

// rename(2) silently replaces a file or an empty folder. Reserving the name
// first with an exclusive create means the only thing rename can replace is
// our own placeholder.
// A process killed between the two steps leaves the placeholder: it is
// told to whoever records the move, so that a recovery can take it away.
int renameOverPlaceholder(int fromDir, const char* from, int toDir, const char* to, const struct stat& item)
{
    const bool isDir = S_ISDIR(item.st_mode);
    reservingName(toDir, to, fromDir, from, isDir, false, isDir ? nullptr : &item);
    if (isDir) {
        if (::mkdirat(toDir, to, 0700) != 0)
            return errno;
    } else {
        const int fd = ::openat(toDir, to, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0)
            return errno;
        ::close(fd);
    }
    nameReserved(toDir, to);
    if (::renameat(fromDir, from, toDir, to) != 0) {
        const int code = errno;
        ::unlinkat(toDir, to, isDir ? AT_REMOVEDIR : 0);
        // Only a disk that refused the no-replace flag comes here. The
        // user's rights made the placeholder; a folder refused the rename
        // over it is the disk's refusal (FAT through FUSE replaces no
        // folder), which no permission of the user would change.
        return isDir && code == EPERM ? folderMoveRefusedByDisk : code;
    }
    // FAT through FUSE dates the entry a rename writes by the clock, and
    // shows it once mounted again: the file keeps its own dates.
    if (!isDir) {
        const timespec times[2] = {item.st_atim, item.st_mtim};
        ::utimensat(toDir, to, times, AT_SYMLINK_NOFOLLOW);
    }
    return 0;
}

int linkAndUnlink(int fromDir, const char* from, int toDir, const char* to)
{
    // linkat without AT_SYMLINK_FOLLOW does not follow a symbolic link: the
    // link itself is moved. A kill between the two steps leaves two names
    // of the item: the new one is announced, for the recovery to take.
    reservingName(toDir, to, fromDir, from, false, true);
    if (::linkat(fromDir, from, toDir, to, 0) != 0)
        return errno;
    if (::unlinkat(fromDir, from, 0) != 0) {
        const int code = errno;
        ::unlinkat(toDir, to, 0); // both names must not survive: undo the new one
        return code;
    }
    return 0;
}

int moveAt(int fromDir, const char* from, int toDir, const char* to)
{
    if (renameNoReplaceAt(fromDir, from, toDir, to) == 0)
        return 0;
    int code = errno;
    // EINVAL is also how a file system without the flag answers; ENOSYS is an
    // old kernel or a sandbox that filters the call.
    if (code != EINVAL && code != ENOSYS)
        return code;
    struct stat st;
    if (::fstatat(fromDir, from, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno;
    const bool isDir = S_ISDIR(st.st_mode);
    if (!isDir) {
        code = linkAndUnlink(fromDir, from, toDir, to);
        if (code == 0)
            return 0;
        // File systems without hard links (FAT, some network mounts).
        if (code != EPERM && code != EOPNOTSUPP && code != EMLINK && code != ENOSYS)
            return code;
    }
    return renameOverPlaceholder(fromDir, from, toDir, to, st);
}

} // namespace

bool moveNoReplace(const std::filesystem::path& from, const std::filesystem::path& to, QString* error, int* err)
{
    if (from.empty() || to.empty())
        return fail(ENOENT, from, to, error, err);
    const int code = moveAt(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str());
    if (code == 0) {
        if (err)
            *err = 0;
        return true;
    }
    return fail(code, from, to, error, err);
}

bool moveNoReplaceAt(int fromDir, const std::string& fromName, int toDir, const std::string& toName, int* err)
{
    const int code = fromName.empty() || toName.empty() ? ENOENT
                                                         : moveAt(fromDir, fromName.c_str(), toDir, toName.c_str());
    if (err)
        *err = code;
    return code == 0;
}

namespace {

struct FdCloser {
    int fd;
    ~FdCloser()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// The names in an open folder without "." and "..", read in one go so that
// what the caller then creates or removes there does not disturb the reading.
// Answers the errno of a failed read, else 0.
int entryNames(DIR* dir, std::vector<std::string>& names)
{
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    }
    return errno;
}

int copyAttributes(int from, int to)
{
    // Attributes that the target file system cannot hold (a FAT stick, a
    // "security." name without privileges) are left behind: the data and the
    // mode matter, a lost label does not fail the copy.
    const ssize_t size = ::flistxattr(from, nullptr, 0);
    if (size <= 0)
        return 0;
    std::vector<char> names(size_t(size) + 1);
    const ssize_t got = ::flistxattr(from, names.data(), names.size());
    if (got <= 0)
        return 0;
    for (ssize_t at = 0; at < got;) {
        const char* name = names.data() + at;
        at += ssize_t(std::strlen(name)) + 1;
        const ssize_t valueSize = ::fgetxattr(from, name, nullptr, 0);
        if (valueSize < 0)
            continue;
        std::vector<char> value(size_t(valueSize) + 1);
        const ssize_t read = ::fgetxattr(from, name, value.data(), value.size());
        if (read >= 0)
            ::fsetxattr(to, name, value.data(), size_t(read), 0);
    }
    return 0;
}

int copyData(int from, int to)
{
    for (;;) {
        const ssize_t moved = ::copy_file_range(from, nullptr, to, nullptr, 1 << 30, 0);
        if (moved > 0)
            continue;
        if (moved == 0)
            return 0;
        if (errno == EINTR)
            continue;
        if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP)
            return errno;
        break;
    }
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(from, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return errno;
        if (got == 0)
            return 0;
        if (!writeAll(to, buffer, size_t(got)))
            return errno ? errno : EIO;
    }
}

// Where an entry lies: its file system, and the mount that shows it.
int placementAt(int dirfd, const char* name, FileStat* out)
{
    int code = 0;
    const std::optional<FileStat> st = statAt(dirfd, name, false, &code);
    if (!st)
        return code ? code : ENOENT;
    *out = *st;
    return 0;
}

// Another file system, or another mount of the same one, starts at `entry`.
// A bind mount of a folder of the same file system keeps the device, so the
// mount is told by its id, and by the mount-root flag where the kernel gives
// it. Where it gives the id, the device alone tells nothing: it also changes
// within one mount (a btrfs subvolume, or an overlay's file whose lower
// layer lies on another disk), and such an item moves and goes as any other.
bool crossesMount(const FileStat& parent, const FileStat& entry)
{
    if (entry.mountRoot)
        return true;
    if (parent.mountId && entry.mountId)
        return *entry.mountId != *parent.mountId;
    return entry.device != parent.device;
}

// `made` is set once the target exists: from then on it is ours to clean up.
// `parent` is where the folder `fromDir` lies.
int copyOne(int fromDir, const char* fromName, const FileStat& parent, int toDir, const char* toName,
            const StopTest& stopped, bool* made);

int copyFolder(int fromDir, const char* fromName, const FileStat& here, int toDir, const char* toName,
               const struct stat& st, const StopTest& stopped, bool* made)
{
    const int fd = openFolderAt(fromDir, fromName);
    if (fd < 0)
        return errno;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        const int code = errno;
        ::close(fd);
        return code;
    }
    struct DirCloser {
        DIR* dir;
        ~DirCloser() { ::closedir(dir); }
    } const dirCloser{dir};
    if (::mkdirat(toDir, toName, 0700) != 0)
        return errno;
    *made = true;
    // The new folder is filled through its own descriptor: whatever is done
    // to the names above it meanwhile, the entries land in it.
    const int target = openFolderAt(toDir, toName);
    if (target < 0)
        return errno;
    const FdCloser targetCloser{target};
    std::vector<std::string> names;
    int code = entryNames(dir, names);
    for (size_t i = 0; code == 0 && i < names.size(); ++i) {
        bool inner = false;
        if (stopped && stopped())
            code = ECANCELED;
        else
            code = copyOne(::dirfd(dir), names[i].c_str(), here, target, names[i].c_str(), stopped, &inner);
    }
    if (code == 0) {
        copyAttributes(::dirfd(dir), target);
        // A folder whose mode cannot be given stays as private as the disk
        // shows it; its entries are what the copy is for.
        changeMode(target, st.st_mode & 07777);
        const timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(target, times);
    }
    return code;
}

int copyOne(int fromDir, const char* fromName, const FileStat& parent, int toDir, const char* toName,
            const StopTest& stopped, bool* made)
{
    // A mount made in the folder after the caller looked for one shows
    // another file system's files (a server's share, a whole disk): the copy
    // stops at its edge, as a deletion does.
    FileStat here;
    if (const int code = placementAt(fromDir, fromName, &here))
        return code;
    if (crossesMount(parent, here))
        return EXDEV;
    struct stat st;
    if (::fstatat(fromDir, fromName, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno;
    if (S_ISDIR(st.st_mode))
        return copyFolder(fromDir, fromName, here, toDir, toName, st, stopped, made);
    if (S_ISLNK(st.st_mode)) {
        std::string target(size_t(st.st_size > 0 ? st.st_size : PATH_MAX) + 1, '\0');
        const ssize_t got = ::readlinkat(fromDir, fromName, target.data(), target.size());
        if (got < 0)
            return errno;
        target.resize(size_t(got));
        if (::symlinkat(target.c_str(), toDir, toName) != 0)
            return errno;
        *made = true;
        const timespec times[2] = {st.st_atim, st.st_mtim};
        ::utimensat(toDir, toName, times, AT_SYMLINK_NOFOLLOW);
        return 0;
    }
    if (!S_ISREG(st.st_mode))
        return EOPNOTSUPP; // devices, pipes and sockets are not duplicates to keep
    // Without blocking: a FIFO swapped in since the look above is refused.
    const int source = ::openat(fromDir, fromName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (source < 0)
        return errno;
    FdCloser sourceCloser{source};
    struct stat opened;
    if (::fstat(source, &opened) != 0)
        return errno;
    if (!S_ISREG(opened.st_mode))
        return EOPNOTSUPP;
    const int target = ::openat(toDir, toName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (target < 0)
        return errno;
    *made = true;
    int code = copyData(source, target);
    if (code == 0) {
        copyAttributes(source, target);
        // On a disk that keeps no modes the copy keeps the create's 0600.
        int modeErr = 0;
        if (changeMode(target, st.st_mode & 07777, &modeErr) == ModeChange::Failed)
            code = modeErr;
        const timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(target, times);
    }
    if (::close(target) != 0 && code == 0)
        code = errno;
    return code;
}

// One entry's name: not empty, not "." or "..", no separator.
bool isPlainName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// Opens the folder entry without following a link and reads its names.
// *dir is left null when the folder could not be opened; otherwise the
// caller closes it, also when reading the names failed.
int listFolderAt(int dirfd, const char* name, DIR** dir, std::vector<std::string>& names)
{
    const int fd = openFolderAt(dirfd, name);
    if (fd < 0)
        return errno;
    *dir = ::fdopendir(fd);
    if (!*dir) {
        const int code = errno;
        ::close(fd);
        return code;
    }
    return entryNames(*dir, names);
}

// Walks the entry `name` of `dirfd` without touching anything: EXDEV when
// the entry or anything beneath it is a mount point, the errno of a folder
// that cannot be read, else 0. A deletion asks first, so that it never
// begins what it could not finish. A stop is honoured by the deletion that
// follows, at its first child.
int mountInsideAt(int dirfd, const char* name, const FileStat& parent)
{
    FileStat here;
    if (const int code = placementAt(dirfd, name, &here))
        return code;
    if (crossesMount(parent, here))
        return EXDEV;
    if (!here.isDir())
        return 0;
    DIR* dir = nullptr;
    std::vector<std::string> names;
    int code = listFolderAt(dirfd, name, &dir, names);
    if (!dir)
        return code;
    for (size_t i = 0; code == 0 && i < names.size(); ++i)
        code = mountInsideAt(::dirfd(dir), names[i].c_str(), here);
    ::closedir(dir);
    return code;
}

// `deletedSome` turns true with the first entry that goes.
int removeAt(int dirfd, const char* name, const FileStat& parent, const StopTest& stopped, bool keepTop,
             bool& deletedSome)
{
    FileStat here;
    if (const int code = placementAt(dirfd, name, &here))
        return code;
    // A mount that appeared since the walk above: what it shows belongs to
    // another file system, and the deletion stops at its edge.
    if (crossesMount(parent, here))
        return EXDEV;
    const auto unlinked = [&](int flags) {
        if (::unlinkat(dirfd, name, flags) != 0)
            return errno;
        deletedSome = true;
        return 0;
    };
    if (!here.isDir())
        return unlinked(0);
    DIR* dir = nullptr;
    std::vector<std::string> names;
    int code = listFolderAt(dirfd, name, &dir, names);
    if (!dir)
        return code;
    for (size_t i = 0; code == 0 && i < names.size(); ++i) {
        if (stopped && stopped())
            code = ECANCELED;
        else
            code = removeAt(::dirfd(dir), names[i].c_str(), here, stopped, false, deletedSome);
    }
    ::closedir(dir);
    if (code != 0 || keepTop)
        return code;
    return unlinked(AT_REMOVEDIR);
}

// The whole deletion of an entry: refused with EXDEV, before anything goes,
// when a mount point lies in it.
int removeWholeAt(int dirfd, const char* name, const StopTest& stopped, bool keepTop, bool* deletedSome = nullptr)
{
    FileStat parent;
    if (const int code = placementAt(dirfd, ".", &parent))
        return code;
    if (const int code = mountInsideAt(dirfd, name, parent))
        return code;
    bool deleted = false;
    const int code = removeAt(dirfd, name, parent, stopped, keepTop, deleted);
    if (deletedSome)
        *deletedSome = deleted;
    return code;
}

} // namespace

int openFolderAt(int dirfd, const char* name, unsigned how)
{
    int flags = O_DIRECTORY | O_CLOEXEC;
    flags |= (how & kFolderPathOnly) ? O_PATH : O_RDONLY;
    if (!(how & kFolderFollowLink))
        flags |= O_NOFOLLOW;
    return ::openat(dirfd, name, flags);
}

std::optional<std::filesystem::path> pathOfOpenFolder(int fd)
{
    const std::optional<std::string> target = linkTarget("/proc/self/fd/" + std::to_string(fd));
    if (!target || target->empty() || (*target)[0] != '/')
        return std::nullopt;
    return std::filesystem::path(*target);
}

bool pathReachesOpenFolder(int fd)
{
    const auto path = pathOfOpenFolder(fd);
    const auto held = statAt(fd, ".", false);
    if (!path || !held)
        return true;
    const auto reached = statPath(*path, false);
    return reached && reached->sameItem(*held)
           && (!reached->mountId || !held->mountId || *reached->mountId == *held->mountId);
}

bool copyTreeAt(int fromDir, const std::string& fromName, int toDir, const std::string& toName,
                const StopTest& stopped, int* err)
{
    const auto bad = [](const std::string& name) {
        return name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos;
    };
    bool made = false;
    FileStat parent;
    int code = bad(fromName) || bad(toName) ? EINVAL : placementAt(fromDir, ".", &parent);
    struct stat item {};
    if (code == 0 && ::fstatat(fromDir, fromName.c_str(), &item, AT_SYMLINK_NOFOLLOW) != 0)
        code = errno;
    // A copy is written in place, whole only at its end: announced, so that
    // one a kill cut short never passes for the item. Where the name is
    // taken the copy makes nothing, and names nothing there.
    struct stat there {};
    const bool announced = code == 0 && (S_ISDIR(item.st_mode) || S_ISREG(item.st_mode))
        && ::fstatat(toDir, toName.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
    if (announced)
        copyingInto(toDir, toName.c_str(), fromDir, fromName.c_str(), S_ISDIR(item.st_mode));
    if (code == 0)
        code = copyOne(fromDir, fromName.c_str(), parent, toDir, toName.c_str(), stopped, &made);
    if (code == 0 && announced)
        copyMade(toDir, toName.c_str());
    if (code != 0 && made) {
        // Only our own, exclusively created target goes, through the very
        // folder it was made in: whatever else is beside it was there
        // before, and a folder on the way swapped for a link since cannot
        // turn the clean-up elsewhere.
        removeWholeAt(toDir, toName.c_str(), {}, false);
    }
    if (err)
        *err = code;
    return code == 0;
}

bool copyTree(const std::filesystem::path& from, const std::filesystem::path& to, const StopTest& stopped, int* err)
{
    int code = ENOENT;
    if (!from.empty() && !to.empty()) {
        const std::filesystem::path fromParent = from.has_parent_path() ? from.parent_path() : ".";
        const std::filesystem::path toParent = to.has_parent_path() ? to.parent_path() : ".";
        const FdCloser fromDir{openFolderAt(AT_FDCWD, fromParent.c_str(), kFolderPathOnly | kFolderFollowLink)};
        const FdCloser toDir{fromDir.fd < 0 ? -1
                                            : openFolderAt(AT_FDCWD, toParent.c_str(), kFolderPathOnly | kFolderFollowLink)};
        if (fromDir.fd < 0 || toDir.fd < 0)
            code = errno;
        else
            copyTreeAt(fromDir.fd, from.filename().native(), toDir.fd, to.filename().native(), stopped, &code);
    }
    if (err)
        *err = code;
    return code == 0;
}

bool removeTree(const std::filesystem::path& path, const StopTest& stopped, int* err, bool keepTop)
{
    int code = ENOENT;
    if (!path.empty()) {
        const std::filesystem::path parent = path.has_parent_path() ? path.parent_path() : ".";
        const int dirfd = openFolderAt(AT_FDCWD, parent.c_str(), kFolderFollowLink);
        if (dirfd < 0) {
            code = errno;
        } else {
            const std::string name = path.filename().native();
            code = (name.empty() || name == "." || name == "..") ? EINVAL : removeWholeAt(dirfd, name.c_str(), stopped, keepTop);
            ::close(dirfd);
        }
    }
    if (err)
        *err = code;
    return code == 0;
}

bool removeTreeAt(int dirfd, const std::string& name, const StopTest& stopped, int* err, bool* deletedSome)
{
    if (deletedSome)
        *deletedSome = false;
    const int code = isPlainName(name) ? removeWholeAt(dirfd, name.c_str(), stopped, false, deletedSome) : EINVAL;
    if (err)
        *err = code;
    return code == 0;
}

int mountInsideEntryAt(int dirfd, const std::string& name)
{
    if (!isPlainName(name))
        return EINVAL;
    FileStat parent;
    if (const int code = placementAt(dirfd, ".", &parent))
        return code;
    return mountInsideAt(dirfd, name.c_str(), parent);
}

namespace {

enum class Share { None, Part, Whole };

std::optional<std::string> linkTargetAt(int dirfd, const char* name)
{
    std::string target(PATH_MAX + 1, '\0');
    const ssize_t got = ::readlinkat(dirfd, name, target.data(), target.size());
    if (got < 0 || size_t(got) >= target.size())
        return std::nullopt;
    target.resize(size_t(got));
    return target;
}

// Whether the copy's bytes, all `size` of them, are the item's first ones.
bool startsTheFile(int itemDir, const char* itemName, int copyDir, const char* copyName, off_t size)
{
    const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    const FdCloser item{::openat(itemDir, itemName, flags)};
    const FdCloser copy{item.fd < 0 ? -1 : ::openat(copyDir, copyName, flags)};
    struct stat a {}, b {};
    if (copy.fd < 0 || ::fstat(item.fd, &a) != 0 || ::fstat(copy.fd, &b) != 0 || !S_ISREG(a.st_mode)
        || !S_ISREG(b.st_mode) || b.st_size != size)
        return false;
    std::vector<char> bufA(1 << 16), bufB(1 << 16);
    for (off_t done = 0; done < size;) {
        const size_t want = size_t(std::min<off_t>(off_t(bufA.size()), size - done));
        const ssize_t gotA = ::pread(item.fd, bufA.data(), want, done);
        const ssize_t gotB = ::pread(copy.fd, bufB.data(), want, done);
        if (gotA <= 0 || gotA != gotB || std::memcmp(bufA.data(), bufB.data(), size_t(gotA)) != 0)
            return false;
        done += gotA;
    }
    return true;
}

Share shareAt(int itemDir, const char* itemName, int copyDir, const char* copyName, int depth)
{
    struct stat a {}, b {};
    if (depth > 256 || ::fstatat(itemDir, itemName, &a, AT_SYMLINK_NOFOLLOW) != 0
        || ::fstatat(copyDir, copyName, &b, AT_SYMLINK_NOFOLLOW) != 0 || (a.st_mode & S_IFMT) != (b.st_mode & S_IFMT))
        return Share::None;
    if (S_ISLNK(a.st_mode)) {
        const auto ta = linkTargetAt(itemDir, itemName), tb = linkTargetAt(copyDir, copyName);
        return ta && tb && *ta == *tb ? Share::Whole : Share::None;
    }
    if (S_ISREG(a.st_mode)) {
        if (b.st_size > a.st_size || !startsTheFile(itemDir, itemName, copyDir, copyName, b.st_size))
            return Share::None;
        return b.st_size == a.st_size ? Share::Whole : Share::Part;
    }
    if (!S_ISDIR(a.st_mode))
        return Share::None;
    const FdCloser item{openFolderAt(itemDir, itemName)};
    const FdCloser copy{item.fd < 0 ? -1 : openFolderAt(copyDir, copyName)};
    if (copy.fd < 0)
        return Share::None;
    const auto itemNames = namesInFolder(::dup(item.fd));
    const auto copyNames = namesInFolder(::dup(copy.fd));
    if (!itemNames || !copyNames)
        return Share::None;
    bool part = copyNames->size() < itemNames->size();
    for (const std::string& name : *copyNames) {
        if (!itemNames->count(name))
            return Share::None;
        const Share inner = shareAt(item.fd, name.c_str(), copy.fd, name.c_str(), depth + 1);
        if (inner == Share::None)
            return Share::None;
        part = part || inner == Share::Part;
    }
    return part ? Share::Part : Share::Whole;
}

} // namespace

bool isUnfinishedCopyAt(int itemDir, const std::string& itemName, int copyDir, const std::string& copyName)
{
    return shareAt(itemDir, itemName.c_str(), copyDir, copyName.c_str(), 0) == Share::Part;
}

} // namespace platform
