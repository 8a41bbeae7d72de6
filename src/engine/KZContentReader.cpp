#include "engine/KZContentReader.h"

#include "platform/FileOps.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<quint64> g_bytesRead{0};

class PosixFile final : public KZContentReader::File {
public:
    PosixFile(int fd, quint64 length) : fd_(fd), length_(length) {}
    ~PosixFile() override { ::close(fd_); }
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;

    quint64 length() const override { return length_; }

    qint64 readAt(quint64 offset, char* buffer, std::size_t count) override
    {
        std::size_t done = 0;
        while (done < count) {
            const ssize_t n = ::pread(fd_, buffer + done, count - done, off_t(offset + done));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return -1;
            }
            if (n == 0)
                break;
            done += std::size_t(n);
        }
        if (done > 0)
            g_bytesRead.fetch_add(done, std::memory_order_relaxed);
        return qint64(done);
    }

private:
    int fd_;
    quint64 length_;
};

// Opens a path of any length: a path longer than the system takes in one call
// is followed in pieces, each relative to the folder the previous one reached.
int openAnyLength(const std::string& path, int flags)
{
    constexpr std::size_t limit = PATH_MAX - 1;
    if (path.size() <= limit)
        return ::open(path.c_str(), flags);
    int dirFd = AT_FDCWD;
    std::size_t pos = 0;
    int fd = -1;
    for (;;) {
        if (path.size() - pos <= limit) {
            fd = ::openat(dirFd, path.c_str() + pos, flags);
            break;
        }
        const std::size_t cut = path.rfind('/', pos + limit);
        if (cut == std::string::npos || cut < pos) {
            errno = ENAMETOOLONG;
            break;
        }
        const std::string piece = cut == pos ? std::string("/") : path.substr(pos, cut - pos);
        const int next = platform::openFolderAt(dirFd, piece.c_str(), platform::kFolderPathOnly | platform::kFolderFollowLink);
        if (dirFd != AT_FDCWD)
            ::close(dirFd);
        dirFd = next;
        if (dirFd < 0)
            return -1;
        pos = cut + 1;
    }
    const int error = errno;
    if (dirFd != AT_FDCWD)
        ::close(dirFd);
    errno = error;
    return fd;
}

class FileSystemReader final : public KZContentReader {
public:
    std::unique_ptr<File> open(const std::filesystem::path& path) override
    {
        // O_NONBLOCK keeps a pipe from waiting for a writer; it has no effect
        // on the regular files that pass the check below.
        const int fd = openAnyLength(path.native(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
        if (fd < 0)
            return nullptr;
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            errno = EINVAL; // not a regular file
            return nullptr;
        }
        // A file that one read takes whole gains nothing from the advice.
        if (st.st_size > 65536)
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        return std::make_unique<PosixFile>(fd, quint64(st.st_size));
    }
};

} // namespace

quint64 KZContentReader::totalBytesRead()
{
    return g_bytesRead.load(std::memory_order_relaxed);
}

KZContentReader& KZContentReader::fileSystem()
{
    static FileSystemReader reader;
    return reader;
}
