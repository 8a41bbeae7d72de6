#include "platform/TemporaryFolders.h"

#include "platform/FileOps.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace platform {

namespace {

// The owner's process id in a private folder's name, or 0.
pid_t ownerOf(std::string_view name, std::string_view prefix)
{
    if (prefix.empty() || !name.starts_with(prefix))
        return 0;
    name.remove_prefix(prefix.size());
    const size_t dash = name.find('-');
    if (dash == 0 || dash == std::string_view::npos || name.size() - dash - 1 != 6)
        return 0;
    pid_t pid = 0;
    for (const char c : name.substr(0, dash)) {
        if (c < '0' || c > '9' || pid > 99999999)
            return 0;
        pid = pid * 10 + (c - '0');
    }
    return pid;
}

fs::path temporaryFolder(std::error_code& ec)
{
    return fs::temp_directory_path(ec);
}

} // namespace

PrivateTemporaryFolder::PrivateTemporaryFolder(std::string_view prefix)
{
    const fs::path temporary = temporaryFolder(error_);
    if (error_)
        return;
    std::string templ = (temporary / (std::string(prefix) + std::to_string(::getpid()) + "-XXXXXX")).native();
    if (!::mkdtemp(templ.data())) {
        error_.assign(errno, std::generic_category());
        return;
    }
    path_ = templ;
    lock_ = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (lock_ >= 0)
        ::flock(lock_, LOCK_EX | LOCK_NB);
}

PrivateTemporaryFolder::~PrivateTemporaryFolder()
{
    if (!path_.empty())
        removeTree(path_);
    if (lock_ >= 0)
        ::close(lock_);
}

QString PrivateTemporaryFolder::problem() const
{
    return QString::fromStdString(error_.message());
}

int removeStaleTemporaryFolders(std::string_view prefix)
{
    std::error_code ec;
    const fs::path temporary = temporaryFolder(ec);
    if (ec)
        return 0;
    const int dir = openFolderAt(AT_FDCWD, temporary.c_str(), kFolderFollowLink);
    if (dir < 0)
        return 0;
    DIR* listing = ::fdopendir(dir);
    if (!listing) {
        ::close(dir);
        return 0;
    }
    std::vector<std::string> stale;
    while (const dirent* entry = ::readdir(listing)) {
        const pid_t owner = ownerOf(entry->d_name, prefix);
        if (owner <= 0 || owner == ::getpid())
            continue;
        struct stat st {};
        if (::fstatat(dir, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode)
            || st.st_uid != ::geteuid())
            continue;
        if (::kill(owner, 0) == 0 || errno != ESRCH)
            continue;
        stale.emplace_back(entry->d_name);
    }
    int removed = 0;
    for (const std::string& name : stale) {
        const int folder = ::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (folder < 0)
            continue;
        if (::flock(folder, LOCK_EX | LOCK_NB) == 0 && removeTreeAt(dir, name))
            ++removed;
        ::close(folder);
    }
    ::closedir(listing);
    return removed;
}

void removeStaleTemporaryFoldersOnce(std::string_view prefix)
{
    std::error_code ec;
    const fs::path temporary = temporaryFolder(ec);
    if (ec)
        return;
    static std::mutex mutex;
    static std::set<std::string> swept;
    {
        const std::lock_guard guard(mutex);
        if (!swept.insert(std::string(prefix) + '\0' + temporary.native()).second)
            return;
    }
    removeStaleTemporaryFolders(prefix);
}

} // namespace platform
