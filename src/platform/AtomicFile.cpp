#include "platform/AtomicFile.h"

#include "platform/FileOps.h"

#include <QFile>

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
        *error = QStringLiteral("Could not write “%1”: %2: %3")
                     .arg(QFile::decodeName(QByteArray(file.c_str())), what, systemErrorString(err));
    }
    return false;
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

bool writeFileAtomically(const fs::path& file, const QByteArray& data, QString* error, bool followLinks)
{
    if (error)
        error->clear();
    if (file.empty() || !file.has_filename())
        return fail(error, file, QStringLiteral("not a file path"), EINVAL);

    fs::path target = file;
    std::error_code ec;
    if (followLinks && fs::is_symlink(file, ec)) {
        const fs::path resolved = fs::canonical(file, ec);
        if (!ec)
            target = resolved;
    }

    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    // Hidden, beside the target (rename only works within one file system),
    // and short enough that a long target name still leaves room for it.
    std::string name = target.filename().native();
    if (name.size() > 200)
        name.resize(200);
    std::string tempTemplate = (folder / ("." + name + ".tmp-XXXXXX")).native();

    const int fd = ::mkostemp(tempTemplate.data(), O_CLOEXEC);
    if (fd < 0)
        return fail(error, target, QStringLiteral("cannot create a temporary file"), errno);
    const fs::path temp = tempTemplate;

    auto abandon = [&](const QString& what, int err) {
        ::close(fd);
        ::unlink(temp.c_str());
        return fail(error, target, what, err);
    };

    struct stat old {};
    const bool hasOld = followLinks ? ::stat(target.c_str(), &old) == 0
                                    : ::lstat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    const mode_t mode = hasOld ? (old.st_mode & 07777) : (0666 & ~currentUmask());
    if (::fchmod(fd, mode) != 0)
        return abandon(QStringLiteral("cannot set permissions"), errno);

    if (!writeAll(fd, data.constData(), static_cast<size_t>(data.size())))
        return abandon(QStringLiteral("write failed"), errno);
    if (::fsync(fd) != 0)
        return abandon(QStringLiteral("flush to disk failed"), errno);
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        return fail(error, target, QStringLiteral("write failed"), err);
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        return fail(error, target, QStringLiteral("cannot replace the file"), err);
    }

    // The rename is only durable once the folder is on disk too. By now the
    // new content is in place and readable, so a folder that cannot be synced
    // (some file systems refuse) does not turn the write into a failure.
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

} // namespace platform
