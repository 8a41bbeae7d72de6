#include "platform/FileOps.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace platform {

QString systemErrorString(int err)
{
    char buffer[256];
    // GNU strerror_r answers a pointer that may or may not be the buffer.
    const char* text = strerror_r(err, buffer, sizeof buffer);
    return QString::fromLocal8Bit(text);
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

bool fail(int code, const std::filesystem::path& from, const std::filesystem::path& to, QString* error, int* err)
{
    if (err)
        *err = code;
    if (error) {
        *error = QStringLiteral("Cannot move \u201c%1\u201d to \u201c%2\u201d: %3")
                     .arg(QFile::decodeName(from.c_str()), QFile::decodeName(to.c_str()), systemErrorString(code));
    }
    return false;
}

int renameNoReplace(const char* from, const char* to)
{
    return static_cast<int>(::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE));
}

// rename(2) silently replaces a file or an empty folder. Reserving the name
// first with an exclusive create means the only thing rename can replace is
// our own placeholder.
int renameOverPlaceholder(const char* from, const char* to, bool isDir)
{
    if (isDir) {
        if (::mkdir(to, 0700) != 0)
            return errno;
    } else {
        const int fd = ::open(to, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0)
            return errno;
        ::close(fd);
    }
    if (::rename(from, to) != 0) {
        const int code = errno;
        if (isDir)
            ::rmdir(to);
        else
            ::unlink(to);
        return code;
    }
    return 0;
}

int linkAndUnlink(const char* from, const char* to)
{
    // link() does not follow a symbolic link: the link itself is moved.
    if (::link(from, to) != 0)
        return errno;
    if (::unlink(from) != 0) {
        const int code = errno;
        ::unlink(to); // both names must not survive: undo the new one
        return code;
    }
    return 0;
}

} // namespace

bool moveNoReplace(const std::filesystem::path& from, const std::filesystem::path& to, QString* error, int* err)
{
    if (from.empty() || to.empty())
        return fail(ENOENT, from, to, error, err);

    if (renameNoReplace(from.c_str(), to.c_str()) == 0)
        return true;
    int code = errno;
    // EINVAL is also how a file system without the flag answers; ENOSYS is an
    // old kernel or a sandbox that filters the call.
    if (code != EINVAL && code != ENOSYS)
        return fail(code, from, to, error, err);

    struct stat st;
    if (::lstat(from.c_str(), &st) != 0)
        return fail(errno, from, to, error, err);
    const bool isDir = S_ISDIR(st.st_mode);
    if (!isDir) {
        code = linkAndUnlink(from.c_str(), to.c_str());
        if (code == 0)
            return true;
        // File systems without hard links (FAT, some network mounts).
        if (code != EPERM && code != EOPNOTSUPP && code != EMLINK && code != ENOSYS)
            return fail(code, from, to, error, err);
    }
    code = renameOverPlaceholder(from.c_str(), to.c_str(), isDir);
    if (code == 0)
        return true;
    return fail(code, from, to, error, err);
}

} // namespace platform
