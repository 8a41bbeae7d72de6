#include "removal/KZRemovalFileSystem.h"

#include "platform/FileStat.h"
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

std::optional<fs::path> KZRemovalFileSystem::moveToTrash(const platform::AnchoredItem& item, int* err)
{
    return platform::moveToTrash(item, &trashNumbering_, nullptr, err);
}

bool KZRemovalFileSystem::moveNoReplace(const platform::AnchoredItem& from, const platform::AnchoredItem& to, int* err)
{
    return platform::moveNoReplaceAt(from.parentFd(), from.name(), to.parentFd(), to.name(), err);
}

bool KZRemovalFileSystem::moveBack(const fs::path& from, const platform::AnchoredItem& to, int* err)
{
    return platform::moveNoReplaceAt(AT_FDCWD, from.native(), to.parentFd(), to.name(), err);
}

bool KZRemovalFileSystem::copyTree(const platform::AnchoredItem& from, const platform::AnchoredItem& to,
                                   const platform::StopTest& stopped, int* err)
{
    return platform::copyTreeAt(from.parentFd(), from.name(), to.parentFd(), to.name(), stopped, err);
}

bool KZRemovalFileSystem::removeTree(const platform::AnchoredItem& item, const platform::StopTest& stopped, int* err,
                                     bool* deletedSome)
{
    return platform::removeTreeAt(item.parentFd(), item.name(), stopped, err, deletedSome);
}

int KZRemovalFileSystem::mountInside(const platform::AnchoredItem& item)
{
    const int code = platform::mountInsideEntryAt(item.parentFd(), item.name());
    if (code == 0 || code == EXDEV)
        return code;
    // A folder that cannot be read hides its entries from the walk, not
    // from the mount table; one that moves anyway takes its mounts along.
    const auto folder = platform::pathOfOpenFolder(item.parentFd());
    return folder && platform::hasMountAtOrBelow(*folder / item.name()) ? EXDEV : 0;
}

bool KZRemovalFileSystem::link(const platform::AnchoredItem& existing, const platform::AnchoredItem& at, int* err)
{
    // linkat without AT_SYMLINK_FOLLOW links a symbolic link itself, as the
    // kept copy is a link when the duplicates were links.
    const bool ok = ::linkat(existing.parentFd(), existing.name().c_str(), at.parentFd(), at.name().c_str(), 0) == 0;
    return answer(ok, errno, err);
}

bool KZRemovalFileSystem::makeFolderAt(int dirfd, const std::string& name, int* err)
{
    const bool ok = ::mkdirat(dirfd, name.c_str(), 0777) == 0;
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

bool KZRemovalFileSystem::canTrash(const fs::path& path)
{
    const auto st = platform::statPath(path, false);
    if (!st)
        return false;
    std::lock_guard guard(localityMutex_);
    if (const auto found = trashByDevice_.find(st->device); found != trashByDevice_.end())
        return found->second;
    return trashByDevice_[st->device] = platform::canTrashOnDeviceOf(path);
}

bool KZRemovalFileSystem::isLocked(const fs::path& path)
{
    return platform::isImmutable(path);
}
