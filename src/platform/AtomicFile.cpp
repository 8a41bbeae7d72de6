#include "platform/AtomicFile.h"

#include "platform/FileOps.h"
#include "platform/Paths.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace platform {

namespace {

bool fail(QString* error, const fs::path& file, const QString& what, int err)
{
    if (error) {
        *error = err == 0 ? QStringLiteral("Could not write “%1”: %2").arg(platform::pathText(file), what)
                          : QStringLiteral("Could not write “%1”: %2: %3")
                                .arg(platform::pathText(file), what, systemErrorString(err));
    }
    return false;
}

// A rename puts a regular file in the place of whatever is there: a pipe, a
// socket or a device (as root even /dev/full) would stop being one. Only a
// regular file, or nothing, may be replaced; with `linkMayGo` a symbolic link
// too (the writer was told not to follow it).
QString occupiedBy(const fs::path& target, bool linkMayGo)
{
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0)
        return {};
    if (S_ISREG(st.st_mode) || (linkMayGo && S_ISLNK(st.st_mode)))
        return {};
    const char* what = S_ISDIR(st.st_mode)    ? "a folder"
                       : S_ISFIFO(st.st_mode) ? "a pipe"
                       : S_ISSOCK(st.st_mode) ? "a socket"
                       : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "a device"
                       : S_ISLNK(st.st_mode)                        ? "a link that leads to no file"
                                                                    : "something";
    return QStringLiteral("%1 is there, not a regular file, and is left as it is").arg(QLatin1String(what));
}

// The process umask, read without changing it: umask(2) can only be read by
// setting it, which would race with files other threads create meanwhile.
mode_t currentUmask()
{
    if (FILE* f = std::fopen("/proc/self/status", "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, f)) {
            unsigned mask = 0;
            if (std::sscanf(line, "Umask: %o", &mask) == 1) {
                std::fclose(f);
                return static_cast<mode_t>(mask);
            }
        }
        std::fclose(f);
    }
    return 022;
}

} // namespace

AtomicFileWriter::AtomicFileWriter(fs::path file, WriteFunction write, bool followLinks)
    : file_(std::move(file))
    , target_(file_)
    , write_(write ? std::move(write) : WriteFunction([](int fd, const void* data, size_t size) {
        return ::write(fd, data, size);
    }))
    , followLinks_(followLinks)
{
}

AtomicFileWriter::~AtomicFileWriter()
{
    abandon();
}

bool AtomicFileWriter::fail(const QString& what, int err) // err 0: no system reason to add
{
    if (!failed_)
        platform::fail(&error_, target_, what, err);
    failed_ = true;
    abandon();
    return false;
}

void AtomicFileWriter::abandon()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temp_.empty()) {
        ::unlink(temp_.c_str());
        temp_.clear();
    }
}

bool AtomicFileWriter::open()
{
    if (failed_ || fd_ >= 0)
        return !failed_;
    if (file_.empty() || !file_.has_filename())
        return fail(QStringLiteral("not a file path"), EINVAL);

    std::error_code ec;
    if (followLinks_ && fs::is_symlink(file_, ec)) {
        const fs::path resolved = fs::canonical(file_, ec);
        if (!ec)
            target_ = resolved;
    }

    if (const QString occupied = occupiedBy(target_, !followLinks_); !occupied.isEmpty())
        return fail(occupied, 0);

    const fs::path folder = target_.has_parent_path() ? target_.parent_path() : fs::path(".");
    // Hidden, beside the target (rename only works within one file system),
    // and short enough that a long target name still leaves room for it.
    std::string name = target_.filename().native();
    if (name.size() > 200)
        name.resize(200);
    std::string tempTemplate = (folder / ("." + name + ".tmp-XXXXXX")).native();

    fd_ = ::mkostemp(tempTemplate.data(), O_CLOEXEC);
    if (fd_ < 0)
        return fail(QStringLiteral("cannot create a temporary file"), errno);
    temp_ = tempTemplate;

    struct stat old {};
    const bool hasOld = followLinks_ ? ::stat(target_.c_str(), &old) == 0
                                     : ::lstat(target_.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    const mode_t mode = hasOld ? (old.st_mode & 07777) : (0666 & ~currentUmask());
    // A disk that keeps no modes leaves the file as mkostemp made it.
    int modeErr = 0;
    if (changeMode(fd_, mode, &modeErr) == ModeChange::Failed)
        return fail(QStringLiteral("cannot set permissions"), modeErr);
    return true;
}

bool AtomicFileWriter::write(const char* data, size_t size)
{
    if (failed_)
        return false;
    if (fd_ < 0)
        return fail(QStringLiteral("write failed"), EBADF);
    while (size > 0) {
        const ssize_t n = write_(fd_, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail(QStringLiteral("write failed"), n < 0 ? errno : EIO);
        data += n;
        size -= size_t(n);
    }
    return true;
}

bool AtomicFileWriter::commit()
{
    if (failed_)
        return false;
    if (fd_ < 0)
        return fail(QStringLiteral("write failed"), EBADF);
    if (::fsync(fd_) != 0)
        return fail(QStringLiteral("flush to disk failed"), errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0)
        return fail(QStringLiteral("write failed"), errno);
    // Checked again: a long export leaves time to put something else there.
    if (const QString occupied = occupiedBy(target_, !followLinks_); !occupied.isEmpty())
        return fail(occupied, 0);
    if (::rename(temp_.c_str(), target_.c_str()) != 0)
        return fail(QStringLiteral("cannot replace the file"), errno);
    temp_.clear();

    // The rename is only durable once the folder is on disk too. By now the
    // new content is in place and readable, so a folder that cannot be synced
    // (some file systems refuse) does not turn the write into a failure.
    const fs::path folder = target_.has_parent_path() ? target_.parent_path() : fs::path(".");
    const int dirFd = openFolderAt(AT_FDCWD, folder.c_str(), kFolderFollowLink);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

bool writeFileAtomically(const fs::path& file, const QByteArray& data, QString* error, bool followLinks)
{
    AtomicFileWriter writer(file, {}, followLinks);
    const bool written = writer.open() && writer.write(data) && writer.commit();
    if (error)
        *error = writer.error();
    return written;
}

} // namespace platform
