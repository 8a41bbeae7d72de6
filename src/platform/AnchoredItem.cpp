#include "platform/AnchoredItem.h"

#include "platform/FileOps.h"
#include "platform/Paths.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace platform {

namespace {

int answer(int code, int* err)
{
    if (err)
        *err = code;
    return code;
}

// A link that the system's administrator made in a folder only they can
// change, such as /home leading to /var/home: the user (and anything the
// user runs) can neither make nor swap it, so it cannot redirect an act.
// Running as root, every link could be swapped by the program's own user,
// and none is followed.
bool isSystemLink(int dirfd, const std::string& name)
{
    if (::geteuid() == 0)
        return false;
    struct stat link {}, folder {};
    if (::fstatat(dirfd, name.c_str(), &link, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(link.st_mode))
        return false;
    if (::fstat(dirfd, &folder) != 0)
        return false;
    return link.st_uid == 0 && folder.st_uid == 0 && (folder.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

} // namespace

std::optional<AnchoredItem> AnchoredItem::open(const std::filesystem::path& item, int* err)
{
    return openAnchored(item, err, nullptr, false);
}

std::optional<AnchoredItem> AnchoredItem::openMakingFolders(const std::filesystem::path& item, int* err,
                                                            std::vector<std::filesystem::path>* made)
{
    return openAnchored(item, err, made, true);
}

std::optional<AnchoredItem> AnchoredItem::inFolder(int folderFd, std::string name, std::filesystem::path path,
                                                   int* err)
{
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
        answer(EINVAL, err);
        return std::nullopt;
    }
    const int fd = ::fcntl(folderFd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        answer(errno, err);
        return std::nullopt;
    }
    answer(0, err);
    return AnchoredItem(fd, std::move(name), std::move(path));
}

std::optional<AnchoredItem> AnchoredItem::openAnchored(const std::filesystem::path& item, int* err,
                                                       std::vector<std::filesystem::path>* made, bool makeFolders)
{
    const std::filesystem::path normal = item.lexically_normal();
    const std::string name = normal.filename().native();
    if (!normal.is_absolute() || name.empty() || name == "." || name == "..") {
        answer(EINVAL, err);
        return std::nullopt;
    }
    // O_PATH is enough for the *at calls and also opens a folder that may
    // be searched but not listed.
    int fd = openFolderAt(AT_FDCWD, "/", kFolderPathOnly);
    if (fd < 0) {
        answer(errno, err);
        return std::nullopt;
    }
    const std::filesystem::path parent = normal.parent_path();
    std::filesystem::path reached = "/";
    for (const auto& part : parent.relative_path()) {
        const std::string component = part.native();
        if (component.empty() || component == ".")
            continue;
        reached /= component;
        int next = openFolderAt(fd, component.c_str(), kFolderPathOnly);
        int code = errno;
        if (next < 0 && code == ENOENT && makeFolders) {
            // Another maker may come first; whatever is there then is
            // opened, still without following a link.
            const bool madeHere = ::mkdirat(fd, component.c_str(), 0777) == 0;
            code = errno;
            if (madeHere && made)
                made->push_back(reached);
            if (madeHere || code == EEXIST) {
                next = openFolderAt(fd, component.c_str(), kFolderPathOnly);
                code = errno;
            }
        }
        if (next < 0 && isSystemLink(fd, component)) {
            next = openFolderAt(fd, component.c_str(), kFolderPathOnly | kFolderFollowLink);
            code = errno;
        }
        ::close(fd);
        if (next < 0) {
            // A link met with O_NOFOLLOW | O_DIRECTORY answers ENOTDIR; the
            // caller is told that a link stood in the way.
            answer(code == ENOTDIR ? ELOOP : code, err);
            return std::nullopt;
        }
        fd = next;
    }
    answer(0, err);
    return AnchoredItem(fd, name, normal);
}

int AnchoredItem::openFolder(const std::filesystem::path& folder, int* err)
{
    const int fd = openFolderAt(AT_FDCWD, folder.c_str(), kFolderPathOnly | kFolderFollowLink);
    answer(fd < 0 ? errno : 0, err);
    return fd;
}

std::optional<AnchoredItem> AnchoredItem::openInFolder(const std::filesystem::path& item, int* err)
{
    // "link/.." names the folder beside the link's target, as the open below
    // would reach it: the path recorded for the item must say the same.
    const std::filesystem::path normal = item.is_absolute() ? absolutePath(item) : item.lexically_normal();
    std::string name = normal.filename().native();
    if (!normal.is_absolute() || name.empty() || name == "." || name == "..") {
        answer(EINVAL, err);
        return std::nullopt;
    }
    const int fd = openFolder(normal.parent_path(), err);
    if (fd < 0)
        return std::nullopt;
    return AnchoredItem(fd, std::move(name), normal);
}

AnchoredItem::AnchoredItem(int fd, std::string name, std::filesystem::path path)
    : fd_(fd), name_(std::move(name)), path_(std::move(path))
{
}

AnchoredItem::AnchoredItem(AnchoredItem&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), name_(std::move(other.name_)), path_(std::move(other.path_))
{
}

AnchoredItem& AnchoredItem::operator=(AnchoredItem&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        name_ = std::move(other.name_);
        path_ = std::move(other.path_);
    }
    return *this;
}

AnchoredItem::~AnchoredItem()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::optional<FileStat> AnchoredItem::stat(int* err) const
{
    return statAt(fd_, name_.c_str(), false, err);
}

std::filesystem::path AnchoredItem::procPath() const
{
    return std::filesystem::path("/proc/self/fd") / std::to_string(fd_) / name_;
}

} // namespace platform
