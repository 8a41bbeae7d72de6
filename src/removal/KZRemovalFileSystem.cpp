#include "removal/KZRemovalFileSystem.h"

#include "platform/FileStat.h"
#include "platform/Trash.h"
#include "platform/Volumes.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

bool answer(bool ok, int code, int* err)
{
    if (err)
        *err = ok ? 0 : code;
    return ok;
}

} // namespace

std::optional<fs::path> KZRemovalFileSystem::moveToTrash(const fs::path& item, int* err)
{
    return platform::moveToTrash(item, nullptr, err);
}

bool KZRemovalFileSystem::moveNoReplace(const fs::path& from, const fs::path& to, int* err)
{
    return platform::moveNoReplace(from, to, nullptr, err);
}

bool KZRemovalFileSystem::copyTree(const fs::path& from, const fs::path& to, const platform::StopTest& stopped,
                                   int* err)
{
    return platform::copyTree(from, to, stopped, err);
}

bool KZRemovalFileSystem::removeTree(const fs::path& path, const platform::StopTest& stopped, int* err)
{
    return platform::removeTree(path, stopped, err);
}

bool KZRemovalFileSystem::link(const fs::path& existing, const fs::path& newPath, int* err)
{
    // linkat without AT_SYMLINK_FOLLOW links a symbolic link itself, as the
    // kept copy is a link when the duplicates were links.
    const bool ok = ::linkat(AT_FDCWD, existing.c_str(), AT_FDCWD, newPath.c_str(), 0) == 0;
    return answer(ok, errno, err);
}

bool KZRemovalFileSystem::makeFolder(const fs::path& path, int* err)
{
    const bool ok = ::mkdir(path.c_str(), 0777) == 0;
    return answer(ok, errno, err);
}

std::optional<bool> KZRemovalFileSystem::isLocalVolume(const fs::path& path)
{
    const auto st = platform::statPath(path, false);
    if (!st)
        return std::nullopt;
    {
        std::lock_guard guard(localityMutex_);
        if (const auto found = localityByDevice_.find(st->device); found != localityByDevice_.end())
            return found->second;
    }
    std::optional<bool> local;
    if (const auto volume = platform::volumeForPath(path))
        local = !volume->isNetwork;
    std::lock_guard guard(localityMutex_);
    localityByDevice_[st->device] = local;
    return local;
}

bool KZRemovalFileSystem::isLocked(const fs::path& path)
{
    return platform::isImmutable(path);
}
