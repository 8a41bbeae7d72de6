#include "platform/DirectoryListing.h"

#include "platform/FileOps.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

bool setErr(int* err, int code)
{
    if (err)
        *err = code;
    return code == 0;
}

} // namespace

DirectoryHandle::~DirectoryHandle()
{
    if (fd_ >= 0)
        ::close(fd_);
}

DirectoryHandle::DirectoryHandle(DirectoryHandle&& other) noexcept : fd_(other.fd_), listed_(other.listed_)
{
    other.fd_ = -1;
}

DirectoryHandle& DirectoryHandle::operator=(DirectoryHandle&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = other.fd_;
        listed_ = other.listed_;
        other.fd_ = -1;
    }
    return *this;
}

DirectoryHandle DirectoryHandle::open(const std::filesystem::path& dir, int* err)
{
    if (dir.empty()) {
        setErr(err, ENOENT);
        return {};
    }
    return openAt(AT_FDCWD, dir.c_str(), err);
}

DirectoryHandle DirectoryHandle::openAt(int parentFd, const char* name, int* err)
{
    if (!name || !*name) {
        setErr(err, ENOENT);
        return {};
    }
    const int fd = openFolderAt(parentFd, name);
    if (fd < 0) {
        // O_NOFOLLOW on a link answers ELOOP; ENOTDIR reads better for a caller.
        setErr(err, errno == ELOOP ? ENOTDIR : errno);
        return {};
    }
    setErr(err, 0);
    return DirectoryHandle(fd);
}

bool DirectoryHandle::list(const DirVisitor& visit, int* err) const
{
    if (fd_ < 0)
        return setErr(err, EBADF);
    // The handle's own descriptor is read, from the start: a folder is
    // opened once however it is used, and a walk opens every folder.
    if (listed_ && ::lseek(fd_, 0, SEEK_SET) != 0)
        return setErr(err, errno);
    listed_ = true;
    const int fd = fd_;
    // The entries are read in large batches straight from the system, and
    // one entry record is refilled for each, so that a listing costs no
    // allocation per entry beyond a long name's.
    // (A visitor may list another folder meanwhile: each listing has its own.)
    constexpr std::size_t kBufferSize = 32 * 1024;
    const auto buffer = std::make_unique_for_overwrite<char[]>(kBufferSize);
    DirEntry item;
    int code = 0;
    bool going = true;
    while (going) {
        const ssize_t got = ::getdents64(fd, buffer.get(), kBufferSize);
        if (got <= 0) {
            code = got < 0 ? errno : 0;
            break;
        }
        for (ssize_t at = 0; going && at < got;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer.get() + at);
            at += entry->d_reclen;
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
                continue;
            item.name.assign(name);
            item.type = entry->d_type;
            int statError = 0;
            if (auto st = statAt(fd, name, false, &statError)) {
                item.stat = *st;
                item.statFailed = false;
                item.statError = 0;
            } else {
                item.stat = FileStat();
                item.statFailed = true;
                item.statError = statError;
            }
            going = visit(item);
        }
    }
    return setErr(err, code);
}

bool listDirectory(const std::filesystem::path& dir, const DirVisitor& visit, int* err)
{
    const DirectoryHandle handle = DirectoryHandle::open(dir, err);
    return handle.isValid() && handle.list(visit, err);
}

bool listDirectoryAt(int parentFd, const char* name, const DirVisitor& visit, int* err)
{
    const DirectoryHandle handle = DirectoryHandle::openAt(parentFd, name, err);
    return handle.isValid() && handle.list(visit, err);
}

} // namespace platform
