#include "platform/DiskIdentity.h"

#include <QByteArray>

#include <blkid/blkid.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <sstream>

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
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

#ifndef STATX_MNT_ID_UNIQUE
// Linux 6.8 and later: a mount ID that is never handed out again.
#define STATX_MNT_ID_UNIQUE 0x00004000U
#endif

namespace platform {

namespace {

// FNV-1a: the same bytes give the same number in every run and build.
quint64 hashOf(const std::string& bytes)
{
    quint64 hash = 14695981039346656037ull;
    for (const unsigned char c : bytes) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash ? hash : 1;
}

} // namespace

std::optional<quint64> volumeSerialOf(const std::filesystem::path& deviceOrImage)
{
    const blkid_probe probe = blkid_new_probe_from_filename(deviceOrImage.c_str());
    if (!probe)
        return std::nullopt;
    blkid_probe_enable_superblocks(probe, 1);
    blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_UUID | BLKID_SUBLKS_TYPE);
    std::optional<quint64> serial;
    const char* uuid = nullptr;
    size_t length = 0;
    if (blkid_do_safeprobe(probe) == 0 && blkid_probe_lookup_value(probe, "UUID", &uuid, &length) == 0 && uuid
        && length > 1) {
        const char* type = nullptr;
        if (blkid_probe_lookup_value(probe, "TYPE", &type, nullptr) != 0 || !type)
            type = "";
        serial = hashOf(std::string(type) + ':' + std::string(uuid, ::strnlen(uuid, length)));
    }
    blkid_free_probe(probe);
    return serial;
}

namespace {

// A small file of sysfs, its first line; empty when there is none.
std::string firstLineOf(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line))
        return {};
    while (!line.empty() && (line.back() == ' ' || line.back() == '\n'))
        line.pop_back();
    return line;
}

std::string realPathOf(const std::string& path)
{
    std::error_code ec;
    const std::filesystem::path real = std::filesystem::canonical(path, ec);
    return ec ? std::string() : real.native();
}

// What the block device whose sysfs folder is `device` (a whole disk) says
// of itself: a loop device's backing file, which a copy of the image does
// not share (its path, device and inode: a path alone is handed to the
// next file written there); a device-mapper UUID; or the serial or WWID of
// the hardware, looked for up the device's parents (a USB stick keeps its
// serial on the USB device).
std::string blockDeviceIdentity(const std::string& device)
{
    const std::string backing = firstLineOf(device + "/loop/backing_file");
    if (!backing.empty()) {
        struct stat file {};
        if (::stat(backing.c_str(), &file) != 0)
            return {};
        return "loop:" + backing + ':' + std::to_string(quint64(file.st_dev)) + ':' + std::to_string(file.st_ino)
            + ':' + firstLineOf(device + "/loop/offset");
    }
    if (const std::string uuid = firstLineOf(device + "/dm/uuid"); !uuid.empty())
        return "dm:" + uuid;
    for (const char* name : {"/wwid", "/device/wwid", "/device/serial"})
        if (const std::string id = firstLineOf(device + name); !id.empty())
            return std::string("id:") + name + ':' + id;
    std::string parent = realPathOf(device + "/device");
    for (int depth = 0; depth < 12 && parent.size() > std::strlen("/sys/devices"); ++depth) {
        if (const std::string serial = firstLineOf(parent + "/serial"); !serial.empty())
            return "serial:" + parent.substr(parent.rfind('/') + 1) + ':' + serial;
        parent = parent.substr(0, parent.rfind('/'));
    }
    return {};
}

// Of the block device `device`: a partition is its disk's identity and its
// place on that disk.
std::optional<quint64> volumeOfBlockDevice(dev_t device)
{
    const std::string sysfs
        = realPathOf("/sys/dev/block/" + std::to_string(::major(device)) + ':' + std::to_string(::minor(device)));
    if (sysfs.empty())
        return std::nullopt;
    std::string disk = sysfs;
    std::string partition;
    if (const std::string number = firstLineOf(sysfs + "/partition"); !number.empty()) {
        disk = sysfs.substr(0, sysfs.rfind('/'));
        partition = "part:" + number + ':' + firstLineOf(sysfs + "/start") + ':';
    }
    const std::string identity = blockDeviceIdentity(disk);
    if (identity.empty())
        return std::nullopt;
    return hashOf(partition + identity);
}

// mountinfo escapes a blank, a tab, a newline and a backslash as octal.
std::string unescapedMountField(const std::string& field)
{
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string octal = field.substr(i + 1, 3);
            if (octal.size() == 3 && octal.find_first_not_of("01234567") == std::string::npos) {
                out += char(std::stoi(octal, nullptr, 8));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

struct MountIds {
    std::optional<quint64> unique; // never handed out again
    std::optional<quint64> plain;  // mountinfo's, handed out again
};

MountIds mountIdsOf(int fd)
{
    MountIds ids;
    struct statx sx {};
    if (::statx(fd, "", AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW, STATX_MNT_ID_UNIQUE, &sx) == 0
        && (sx.stx_mask & STATX_MNT_ID_UNIQUE))
        ids.unique = sx.stx_mnt_id;
    sx = {};
    if (::statx(fd, "", AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW, STATX_MNT_ID, &sx) == 0 && (sx.stx_mask & STATX_MNT_ID))
        ids.plain = sx.stx_mnt_id;
    return ids;
}

struct MountSource {
    std::string type;
    std::string source;
};

// What the mount `mountId` (mountinfo's own numbering) was mounted from.
std::optional<MountSource> sourceOfMount(quint64 mountId)
{
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    const std::string id = std::to_string(mountId);
    while (std::getline(in, line)) {
        if (line.compare(0, id.size() + 1, id + ' ') != 0)
            continue;
        const size_t separator = line.find(" - ");
        if (separator == std::string::npos)
            return std::nullopt;
        std::istringstream rest(line.substr(separator + 3));
        MountSource mount;
        rest >> mount.type >> mount.source;
        mount.source = unescapedMountField(mount.source);
        return mount;
    }
    return std::nullopt;
}

// The block device a file system on an unnamed device (btrfs) was mounted
// from. FUSE names its source as it likes, and tmpfs, overlay and network
// disks have none.
std::optional<dev_t> sourceDeviceOfMount(quint64 mountId)
{
    const auto mount = sourceOfMount(mountId);
    if (!mount || mount->type.rfind("fuse", 0) == 0)
        return std::nullopt;
    struct stat st {};
    if (mount->source.empty() || mount->source[0] != '/' || ::stat(mount->source.c_str(), &st) != 0
        || !S_ISBLK(st.st_mode))
        return std::nullopt;
    return st.st_rdev;
}

// Where libblkid can read the file system of the device `device`: its
// device node, or for FUSE on an unnamed device the image or device it was
// mounted from. Only a file system that gives no identity of its own is
// asked, and what is read only ever tells two disks apart or agrees: a
// disk is proved by its block device or its mount.
std::string headerSourceOf(dev_t device, const MountIds& ids)
{
    if (::major(device) != 0) {
        std::ifstream in("/sys/dev/block/" + std::to_string(::major(device)) + ':' + std::to_string(::minor(device))
                         + "/uevent");
        std::string line;
        while (std::getline(in, line))
            if (line.rfind("DEVNAME=", 0) == 0)
                return "/dev/" + line.substr(std::strlen("DEVNAME="));
        return {};
    }
    if (!ids.plain)
        return {};
    const auto mount = sourceOfMount(*ids.plain);
    struct stat st {};
    if (!mount || mount->type.rfind("fuse", 0) != 0 || mount->source.empty() || mount->source[0] != '/'
        || ::stat(mount->source.c_str(), &st) != 0 || !(S_ISBLK(st.st_mode) || S_ISREG(st.st_mode)))
        return {};
    return mount->source;
}

// What a mount's disk answers stays while it is mounted, so each lasting
// mount is asked once; a mount without a lasting ID is asked every time.
template <typename Compute>
std::optional<quint64> oncePerMount(std::map<quint64, std::optional<quint64>>& known, std::mutex& mutex,
                                    const MountIds& ids, Compute compute)
{
    if (ids.unique) {
        std::lock_guard guard(mutex);
        if (const auto found = known.find(*ids.unique); found != known.end())
            return found->second;
    }
    const std::optional<quint64> value = compute();
    if (ids.unique) {
        std::lock_guard guard(mutex);
        known.emplace(*ids.unique, value);
    }
    return value;
}

// Of a file system without an identity of its own, the serial libblkid
// reads from its header.
std::optional<quint64> headerSerialOf(dev_t device, const MountIds& ids)
{
    static std::mutex mutex;
    static std::map<quint64, std::optional<quint64>> known;
    return oncePerMount(known, mutex, ids, [&]() -> std::optional<quint64> {
        const std::string source = headerSourceOf(device, ids);
        return source.empty() ? std::nullopt : volumeSerialOf(source);
    });
}

// Of the item open at `fd` on the device `device`: its block device's own
// identity.
std::optional<quint64> volumeOf(dev_t device, const MountIds& ids)
{
    static std::mutex mutex;
    static std::map<quint64, std::optional<quint64>> known;
    return oncePerMount(known, mutex, ids, [&]() -> std::optional<quint64> {
        if (::major(device) != 0)
            return volumeOfBlockDevice(device);
        if (ids.plain)
            if (const std::optional<dev_t> source = sourceDeviceOfMount(*ids.plain))
                return volumeOfBlockDevice(*source);
        return std::nullopt;
    });
}

#ifndef SYS_statmount
#if defined(__x86_64__) || defined(__aarch64__) || defined(__i386__) || defined(__arm__) || defined(__riscv)
#define SYS_statmount 457
#endif
#endif

// Whether the mount `mountId` is still mounted here with a file system of
// the device `device`: a device number is held by one file system at a
// time, so an item seen under that number through another mount (a bind
// mount) lies on the very file system that was mounted then.
bool mountShowsDevice(quint64 mountId, quint64 device)
{
#ifdef SYS_statmount
    struct Request {
        quint32 size;
        quint32 spare;
        quint64 mountId;
        quint64 param;
    } request{sizeof(Request), 0, mountId, 0x1 /* STATMOUNT_SB_BASIC */};
    alignas(8) unsigned char buffer[1024] = {};
    if (::syscall(SYS_statmount, &request, buffer, sizeof buffer, 0) != 0)
        return false;
    quint64 mask = 0;
    quint32 major = 0;
    quint32 minor = 0;
    std::memcpy(&mask, buffer + 8, sizeof mask);
    std::memcpy(&major, buffer + 16, sizeof major);
    std::memcpy(&minor, buffer + 20, sizeof minor);
    return (mask & 0x1) && quint64(::makedev(major, minor)) == device;
#else
    (void)mountId;
    (void)device;
    return false;
#endif
}

#ifndef SYS_listmount
#if defined(SYS_statmount)
#define SYS_listmount (SYS_statmount + 1)
#endif
#endif

// The oldest mount here of the file system on `device`: the file system
// has lived on under this number for as long as that mount stays, whatever
// mount (a bind mount unmounted and made again) shows the item. None where
// the kernel cannot list its mounts.
std::optional<quint64> oldestMountOf(quint64 device)
{
#ifdef SYS_listmount
    struct Request {
        quint32 size;
        quint32 spare;
        quint64 mountId;
        quint64 param;
    } request{sizeof(Request), 0, ~quint64(0) /* LSMT_ROOT */, 0};
    std::optional<quint64> oldest;
    quint64 ids[256];
    for (int page = 0; page < 64; ++page) {
        const long count = ::syscall(SYS_listmount, &request, ids, std::size(ids), 0);
        if (count <= 0)
            break;
        for (long i = 0; i < count; ++i)
            if ((!oldest || ids[i] < *oldest) && mountShowsDevice(ids[i], device))
                oldest = ids[i];
        if (size_t(count) < std::size(ids))
            break;
        request.param = ids[count - 1];
    }
    return oldest;
#else
    (void)device;
    return std::nullopt;
#endif
}

// The mount that stands for the file system of an item seen through the
// mount `own`: its oldest, asked once for each mount while it still shows
// the file system.
std::optional<quint64> lastingMountOf(quint64 own, quint64 device)
{
    static std::mutex mutex;
    static std::map<quint64, quint64> known;
    {
        std::lock_guard guard(mutex);
        if (const auto found = known.find(own); found != known.end() && mountShowsDevice(found->second, device))
            return found->second;
    }
    const quint64 oldest = oldestMountOf(device).value_or(own);
    std::lock_guard guard(mutex);
    known[own] = oldest;
    return oldest;
}

// The kernel's own encoding of a device number, which xfs, vfat, exfat and
// others hand out as their f_fsid: no identity beyond the number itself.
quint64 encodedDevice(dev_t device)
{
    const quint64 major = ::major(device);
    const quint64 minor = ::minor(device);
    return (minor & 0xff) | (major << 8) | ((minor & ~quint64(0xff)) << 12);
}

std::optional<quint64> ownFsid(const struct statfs& fsInfo, dev_t device)
{
    quint32 parts[2] = {};
    static_assert(sizeof parts == sizeof fsInfo.f_fsid);
    std::memcpy(parts, &fsInfo.f_fsid, sizeof parts);
    const quint64 fsid = quint64(parts[0]) | (quint64(parts[1]) << 32);
    if (fsid == 0 || fsid == encodedDevice(device))
        return std::nullopt;
    return fsid;
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
    const MountIds ids = mountIdsOf(fd);
    if (ids.unique)
        facts.mount = lastingMountOf(*ids.unique, quint64(st.st_dev));
    facts.volume = volumeOf(st.st_dev, ids);
    facts.identity = ownFsid(fsInfo, st.st_dev);
    if (!facts.identity && S_ISDIR(st.st_mode)) {
        facts.identity = uuidOfFolder(fd);
    } else if (!facts.identity) {
        const int folder = openFolder();
        facts.identity = uuidOfFolderOn(folder, st.st_dev);
        if (closeFolder && folder >= 0)
            ::close(folder);
    }
    // vfat, exfat and ntfs keep a volume serial in their header, which
    // neither statfs nor the UUID ioctl tells.
    if (!facts.identity)
        facts.identity = headerSerialOf(st.st_dev, ids);
    return facts;
}

} // namespace

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

Proof DiskIdentity::proveSameDisk(quint64 deviceNow, const FileSystemQuery& fileSystemNow) const
{
    if (!fileSystemNow)
        return deviceNow == device ? Proof::Proved : Proof::Different;
    const DiskMarks now = fileSystemNow();
    if (fileSystem && now.fileSystem && *fileSystem != *now.fileSystem)
        return Proof::Different;
    if (mount && now.mount && *mount == *now.mount)
        return Proof::Proved;
    if (volume && now.volume) {
        if (*volume != *now.volume)
            return Proof::Different;
        return fileSystem.has_value() == now.fileSystem.has_value() ? Proof::Proved : Proof::NotProved;
    }
    // The recorded mount still shows a file system under the number seen
    // now: a number is held by one file system at a time, so it is that
    // one, seen through another mount of it.
    if (mount && deviceNow == device && mountShowsDevice(*mount, deviceNow))
        return Proof::Proved;
    // Another number, and no file system identity that the two share: not
    // this disk, unless a mount or block device said so above.
    if (deviceNow != device && !(fileSystem && now.fileSystem))
        return Proof::Different;
    return Proof::NotProved;
}

DiskIdentity diskAt(int dirfd, const char* name, const FileStat& st)
{
    const FileSystemFacts facts = fileSystemAt(dirfd, name);
    return {quint64(st.device), facts.identity, facts.volume, facts.mount};
}

std::optional<DiskIdentity> diskOf(const std::filesystem::path& path)
{
    const auto st = statPath(path, false);
    if (!st)
        return std::nullopt;
    const FileSystemFacts facts = fileSystemOf(path);
    return DiskIdentity{quint64(st->device), facts.identity, facts.volume, facts.mount};
}

} // namespace platform
