#include "platform/FileSystemFacts.h"

#include "platform/BlockDevices.h"
#include "platform/FileSystemHeader.h"
#include "platform/KernelConditions.h"
#include "platform/MountTable.h"
#include "platform/MountWatch.h"
#include "platform/StableHash.h"
#include "platform/UdevDevices.h"

#include <cstring>

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#ifndef FS_IOC_GETFSUUID
// Linux 6.5 and later; older headers lack it, and an older kernel answers
// ENOTTY.
struct fsuuid2 {
    __u8 len;
    __u8 uuid[16];
};
#define FS_IOC_GETFSUUID _IOR(0x15, 0, struct fsuuid2)
#endif

namespace platform {

namespace {

// The serial udev published of the file system on the block device
// `device`: what libblkid read from its header when the device appeared,
// read by whoever asks.
std::optional<quint64> publishedSerialOf(dev_t device)
{
    const auto published = publishedFileSystemOf(device);
    return published ? volumeSerialFrom(published->type, published->uuid) : std::nullopt;
}

// libblkid on `source`, as the kernel conditions read it.
std::optional<quint64> headerSerialFrom(const std::string& source)
{
    const KernelConditions conditions = kernelConditions();
    if (source.empty() || !conditions.fileSystemHeader)
        return std::nullopt;
    return conditions.fileSystemHeader(source);
}

// What a FUSE mount names as its source, a block device (fusefat naming
// one) or an image: udev's word on the device first, else its header.
std::optional<quint64> serialOfFuseSource(const std::string& source)
{
    struct stat st {};
    if (source.empty() || source[0] != '/' || ::stat(source.c_str(), &st) != 0)
        return std::nullopt;
    if (S_ISBLK(st.st_mode))
        if (const auto published = publishedSerialOf(st.st_rdev))
            return published;
    if (!S_ISBLK(st.st_mode) && !S_ISREG(st.st_mode))
        return std::nullopt;
    return headerSerialFrom(source);
}

// Of a file system without an identity of its own (vfat, exfat and ntfs,
// kernel or FUSE), the volume serial in its header. udev's word first,
// which every user may read; else libblkid on the device node, which only
// root and the disk group may open, or on the image FUSE was mounted from,
// which its user may read. Both give one number for one header, so a
// record made either way matches. What is read only ever tells two disks
// apart or agrees: a disk is proved by its block device or its mount.
std::optional<quint64> headerSerialOf(dev_t device, const MountIds& ids)
{
    return oncePerMount(MountQuestion::HeaderSerial, device, ids, [&]() -> std::optional<quint64> {
        if (::major(device) != 0) {
            if (const auto published = publishedSerialOf(device))
                return published;
            return headerSerialFrom(blockDeviceNode(device));
        }
        // FUSE on an unnamed device: what its mount names.
        const auto mount = ids.plain ? sourceOfMount(*ids.plain) : std::nullopt;
        if (!mount || mount->type.rfind("fuse", 0) != 0)
            return std::nullopt;
        return serialOfFuseSource(mount->source);
    });
}

// Of the item open at `fd` on the device `device`: its block device's own
// identity.
std::optional<quint64> volumeOf(dev_t device, const MountIds& ids)
{
    return oncePerMount(MountQuestion::Volume, device, ids, [&]() -> std::optional<quint64> {
        if (::major(device) != 0)
            return blockDeviceVolume(device);
        if (ids.plain)
            if (const std::optional<dev_t> source = sourceDeviceOfMount(*ids.plain))
                return blockDeviceVolume(*source);
        return std::nullopt;
    });
}

// A btrfs UUID folded into an f_fsid as btrfs folds it (each half of the
// number from the big-endian words of both halves), less its subvolume.
quint64 btrfsFold(const std::array<quint8, 16>& uuid)
{
    const auto word = [&uuid](size_t at) {
        return quint32(uuid[at]) << 24 | quint32(uuid[at + 1]) << 16 | quint32(uuid[at + 2]) << 8 | uuid[at + 3];
    };
    return quint64(word(0) ^ word(8)) | quint64(word(4) ^ word(12)) << 32;
}

// What turns the f_fsid btrfs gives an item on the mount `ids` into the one
// its disk's own UUID gives: nothing, unless the kernel gave this mount a
// temporary UUID because another mounted disk carries the same. Then the
// disk itself, mounted second beside its copy, would read as another disk
// and the copy as the only one of its identity. Read from sysfs, as any
// user may.
quint64 btrfsDiskUuidCorrection(dev_t device, const MountIds& ids)
{
    const auto correction = oncePerMount(MountQuestion::BtrfsDiskUuid, device, ids, [&]() -> std::optional<quint64> {
        const std::optional<dev_t> source = ids.plain ? sourceDeviceOfMount(*ids.plain) : std::nullopt;
        const std::optional<BtrfsUuids> uuids = source ? btrfsUuidsOn(*source) : std::nullopt;
        if (!uuids)
            return std::nullopt;
        return btrfsFold(uuids->kernel) ^ btrfsFold(uuids->disk);
    });
    return correction.value_or(0);
}

// The kernel's own encoding of a device number, which xfs, vfat, exfat and
// others hand out as their f_fsid: no identity beyond the number itself.
quint64 encodedDevice(dev_t device)
{
    const quint64 major = ::major(device);
    const quint64 minor = ::minor(device);
    return (minor & 0xff) | (major << 8) | ((minor & ~quint64(0xff)) << 12);
}

// The UUID the file system reports, folded to a number as ext4 folds its
// own into f_fsid. The ioctl needs a descriptor that is no O_PATH one, of a
// folder, which may be one the user cannot list.
std::optional<quint64> uuidOfFolder(int folderFd)
{
    const int fd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    fsuuid2 uuid{};
    uuid.len = sizeof uuid.uuid;
    const bool ok = ::ioctl(fd, FS_IOC_GETFSUUID, &uuid) == 0 && uuid.len > 0 && uuid.len <= sizeof uuid.uuid;
    ::close(fd);
    if (!ok)
        return std::nullopt;
    quint64 halves[2] = {};
    std::memcpy(halves, uuid.uuid, uuid.len);
    // Folded as ext4 folds it, and where that gives 0 (a UUID whose halves
    // are alike) by its first half: a UUID is an identity all the same.
    const quint64 folded = halves[0] ^ halves[1];
    if (folded)
        return folded;
    return halves[0] ? std::optional<quint64>(halves[0]) : std::nullopt;
}

// The UUID of the file system of the folder open at `folderFd`, where it
// holds the device `device`: a file mounted on its own is not its folder's.
std::optional<quint64> uuidOfFolderOn(int folderFd, dev_t device)
{
    struct stat folder {};
    if (folderFd < 0 || ::fstatat(folderFd, "", &folder, AT_EMPTY_PATH) != 0 || folder.st_dev != device)
        return std::nullopt;
    return uuidOfFolder(folderFd);
}

// DiskMarks::fileSystem of the item open at `fd`, described by `fsInfo`
// and `st`. `openFolder` as below.
std::optional<quint64> identityOf(int fd, const struct statfs& fsInfo, const struct stat& st, const MountIds& ids,
                                  const std::function<int()>& openFolder, bool closeFolder)
{
    std::optional<quint64> identity = ownFileSystemId(fsInfo, st.st_dev);
    if (identity && fsInfo.f_type == BTRFS_SUPER_MAGIC)
        identity = *identity ^ btrfsDiskUuidCorrection(st.st_dev, ids);
    if (!identity && S_ISDIR(st.st_mode)) {
        identity = uuidOfFolder(fd);
    } else if (!identity) {
        const int folder = openFolder();
        identity = uuidOfFolderOn(folder, st.st_dev);
        if (closeFolder && folder >= 0)
            ::close(folder);
    }
    // vfat, exfat and ntfs keep a volume serial in their header, which
    // neither statfs nor the UUID ioctl tells.
    if (!identity)
        identity = headerSerialOf(st.st_dev, ids);
    return identity;
}

// Of the item open at `fd`. `openFolder` opens the folder that holds it
// (to be closed by the caller), asked only for a file whose f_fsid says
// nothing of its own.
FileSystemFacts factsOf(int fd, const std::function<int()>& openFolder, bool closeFolder)
{
    FileSystemFacts facts;
    struct statfs fsInfo {};
    struct stat st {};
    if (::fstatfs(fd, &fsInfo) != 0 || ::fstat(fd, &st) != 0)
        return facts;
    facts.keepsBirthAcrossRename = fsInfo.f_type != OVERLAYFS_SUPER_MAGIC;
    constexpr long kExfatMagic = 0x2011BAB0;
    constexpr long kFuseMagic = 0x65735546;
    facts.inodesLast = fsInfo.f_type != MSDOS_SUPER_MAGIC && fsInfo.f_type != kExfatMagic && fsInfo.f_type != kFuseMagic;
    const MountIds ids = mountIdsOf(fd);
    facts.mount = mountMarkOf(ids);
    // Where mount IDs are handed out again: the file system watched by this
    // process ever since, as long as the run lasts.
    if (!facts.mount && !ids.unique && ids.plain)
        facts.mount = watchedFileSystemMark(st.st_dev, [&] { return mountPointOf(*ids.plain); });
    facts.volume = volumeOf(st.st_dev, ids);
    facts.identity = identityOf(fd, fsInfo, st, ids, openFolder, closeFolder);
    // A file system in memory has no byte copy anywhere: the identity it is
    // given anew at each mount is the disk itself.
    if (facts.identity && fsInfo.f_type == TMPFS_MAGIC)
        facts.volume = stableHash("memory:" + std::to_string(*facts.identity));
    return facts;
}

} // namespace

std::optional<quint64> ownFileSystemId(const struct statfs& fsInfo, dev_t device)
{
    quint32 parts[2] = {};
    static_assert(sizeof parts == sizeof fsInfo.f_fsid);
    std::memcpy(parts, &fsInfo.f_fsid, sizeof parts);
    const quint64 fsid = quint64(parts[0]) | (quint64(parts[1]) << 32);
    if (fsid == 0 || fsid == encodedDevice(device))
        return std::nullopt;
    return fsid;
}

std::optional<quint64> fileSystemIdentityOfFolder(int folderFd)
{
    struct statfs fsInfo {};
    struct stat st {};
    if (::fstatfs(folderFd, &fsInfo) != 0 || ::fstat(folderFd, &st) != 0 || !S_ISDIR(st.st_mode))
        return std::nullopt;
    return identityOf(folderFd, fsInfo, st, mountIdsOf(folderFd), [] { return -1; }, false);
}

std::optional<quint64> headerSerialOfFuseSource(const std::string& source)
{
    return serialOfFuseSource(source);
}

bool keepsBirthAcrossRenameAt(int fd)
{
    struct statfs fsInfo {};
    return ::fstatfs(fd, &fsInfo) != 0 || fsInfo.f_type != OVERLAYFS_SUPER_MAGIC;
}

FileSystemFacts fileSystemAt(int dirfd, const char* name)
{
    const bool folderItself = !name || !*name;
    // O_PATH: a link is asked itself, never where it leads.
    const int fd = ::openat(dirfd, folderItself ? "." : name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return {};
    const FileSystemFacts facts = factsOf(fd, [dirfd] { return dirfd; }, false);
    ::close(fd);
    return facts;
}

FileSystemFacts fileSystemOf(const std::filesystem::path& path)
{
    if (path.empty())
        return {};
    // The folders on the way are followed as a path is; the item itself is
    // not.
    const int fd = ::open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return {};
    const auto openFolder = [&path] {
        const std::filesystem::path parent = path.has_parent_path() ? path.parent_path() : ".";
        return ::open(parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    };
    const FileSystemFacts facts = factsOf(fd, openFolder, true);
    ::close(fd);
    return facts;
}

FileSystemQuery fileSystemQueryAt(int dirfd, std::string name)
{
    return [dirfd, name = std::move(name)] { return fileSystemAt(dirfd, name.c_str()).marks(); };
}

FileSystemQuery fileSystemQueryOf(std::filesystem::path path)
{
    return [path = std::move(path)] { return fileSystemOf(path).marks(); };
}

FileSystemQuery fileSystemQueryOf(std::filesystem::path path, const FileStat&)
{
    return fileSystemQueryOf(std::move(path));
}

} // namespace platform
