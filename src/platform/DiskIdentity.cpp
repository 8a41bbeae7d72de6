#include "platform/DiskIdentity.h"

#include "platform/ConnectedDisks.h"

#include <QByteArray>

#include <blkid/blkid.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <sstream>

#include <fcntl.h>
#include <linux/magic.h>
#include <poll.h>
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

namespace {

std::string readLinkOf(const char* path)
{
    char buffer[256];
    const ssize_t length = ::readlink(path, buffer, sizeof buffer - 1);
    return length > 0 ? std::string(buffer, size_t(length)) : std::string();
}

// What the system gives, with what MARAVEX_TEST_KERNEL takes away or sets:
// a comma-separated list of "no-unique-mount-id", "no-device-serial",
// "boot=<id>" and "namespace=<id>".
KernelConditions systemConditions()
{
    KernelConditions conditions;
    conditions.bootId = QByteArray::fromStdString(
                            [] {
                                std::ifstream in("/proc/sys/kernel/random/boot_id");
                                std::string line;
                                std::getline(in, line);
                                return line;
                            }())
                            .trimmed()
                            .toStdString();
    conditions.mountNamespace = readLinkOf("/proc/self/ns/mnt");
    if (const char* seam = std::getenv("MARAVEX_TEST_KERNEL")) {
        for (const QByteArray& word : QByteArray(seam).split(',')) {
            const QByteArray item = word.trimmed();
            if (item == "no-unique-mount-id")
                conditions.uniqueMountIds = false;
            else if (item == "no-device-serial")
                conditions.deviceSerials = false;
            else if (item.startsWith("boot="))
                conditions.bootId = item.mid(5).toStdString();
            else if (item.startsWith("namespace="))
                conditions.mountNamespace = item.mid(10).toStdString();
        }
    }
    return conditions;
}

std::mutex conditionsMutex;
std::optional<KernelConditions> currentConditions;

// Each lasting mount's answers, kept while the conditions stay.
std::mutex mountAnswersMutex;
std::map<quint64, std::optional<quint64>> knownHeaderSerials;
std::map<quint64, std::optional<quint64>> knownVolumes;

// Where the kernel has no lasting mount ID: answers by a mount's plain ID
// and its device number, kept only while this mount namespace's table stays
// as it was. Both numbers are handed out again only once a mount is gone,
// which the table tells of. Guarded by mountAnswersMutex.
struct PlainMount {
    quint64 mountId = 0;
    quint64 device = 0;
    auto operator<=>(const PlainMount&) const = default;
};
std::map<PlainMount, std::optional<quint64>> knownPlainHeaderSerials;
std::map<PlainMount, std::optional<quint64>> knownPlainVolumes;

// The mount table, watched: poll() tells of any mount or unmount in its
// namespace since the last poll on the same open file.
struct MountTableWatch {
    int fd = -1;
    pid_t pid = 0;           // a forked child opens its own
    std::string nameSpace;   // the namespace the open table shows
    quint64 generation = 0;  // counts the times the answers were let go
};
MountTableWatch mountTable;

void forgetPlainAnswers()
{
    knownPlainHeaderSerials.clear();
    knownPlainVolumes.clear();
    ++mountTable.generation;
}

} // namespace

KernelConditions kernelConditions()
{
    std::lock_guard guard(conditionsMutex);
    if (!currentConditions)
        currentConditions = systemConditions();
    return *currentConditions;
}

void setKernelConditions(const KernelConditions& conditions)
{
    {
        std::lock_guard guard(conditionsMutex);
        currentConditions = conditions;
    }
    std::lock_guard guard(mountAnswersMutex);
    knownHeaderSerials.clear();
    knownVolumes.clear();
    forgetPlainAnswers();
}

KernelConditions systemKernelConditions()
{
    return systemConditions();
}

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
    while (!line.empty() && (line.back() == ' ' || line.back() == '\n' || line.back() == '\t'))
        line.pop_back();
    return line;
}

std::string realPathOf(const std::string& path)
{
    std::error_code ec;
    const std::filesystem::path real = std::filesystem::canonical(path, ec);
    return ec ? std::string() : real.native();
}

// The unit serial number a SCSI disk reports in its VPD page 0x80: four
// bytes of header, then the serial's length in bytes 2 and 3.
std::string unitSerialOf(const std::string& device)
{
    std::ifstream in(device + "/device/vpd_pg80", std::ios::binary);
    std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (page.size() <= 4)
        return {};
    const size_t length = (size_t(quint8(page[2])) << 8) | quint8(page[3]);
    std::string serial = page.substr(4, std::min(length, page.size() - 4));
    const size_t first = serial.find_first_not_of(" \t");
    const size_t last = serial.find_last_not_of(std::string(" \t\0", 3));
    if (first == std::string::npos || last == std::string::npos || last < first)
        return {};
    return serial.substr(first, last - first + 1);
}

std::optional<quint64> volumeOfBlockDevice(dev_t device, int depth);
std::string identityOfFile(const std::string& path, int depth);

// Devices stacked on others (device-mapper, md) are known by the devices
// they stand on: their own UUIDs are written in headers that a byte copy
// carries (LUKS, LVM, md superblocks), so they prove nothing.
std::string identityOfSlaves(const std::string& device, int depth)
{
    std::vector<std::string> parts;
    std::error_code ec;
    for (const auto& slave : std::filesystem::directory_iterator(device + "/slaves", ec)) {
        const std::string dev = firstLineOf(slave.path().native() + "/dev");
        unsigned major = 0;
        unsigned minor = 0;
        if (std::sscanf(dev.c_str(), "%u:%u", &major, &minor) != 2)
            return {};
        const auto identity = volumeOfBlockDevice(::makedev(major, minor), depth + 1);
        if (!identity)
            return {};
        parts.push_back(std::to_string(*identity));
    }
    if (ec || parts.empty())
        return {};
    std::sort(parts.begin(), parts.end());
    std::string joined = "stack";
    for (const std::string& part : parts)
        joined += ':' + part;
    return joined;
}

// What the block device whose sysfs folder is `device` (a whole disk) says
// of itself, and only what a byte copy of it cannot share: the serial or
// WWID the disk itself reports (virtio's included); beneath loop,
// device-mapper and md devices, what they stand on. A serial found higher up
// belongs to a card reader, a dock or a USB bridge, which every disk put in
// it shares: it is never taken alone.
std::string blockDeviceIdentity(const std::string& device, int depth)
{
    if (depth > 8 || !kernelConditions().deviceSerials)
        return {};
    if (std::filesystem::exists(device + "/loop")) {
        std::string backing = firstLineOf(device + "/loop/backing_file");
        // A backing file deleted since it was attached is known by nothing
        // that lasts.
        if (backing.empty() || (backing.size() > 10 && backing.compare(backing.size() - 10, 10, " (deleted)") == 0))
            return {};
        const std::string file = identityOfFile(backing, depth);
        return file.empty() ? std::string() : "loop:" + file + ':' + firstLineOf(device + "/loop/offset");
    }
    if (std::filesystem::exists(device + "/dm") || std::filesystem::exists(device + "/md"))
        return identityOfSlaves(device, depth);
    for (const char* name : {"/wwid", "/device/wwid", "/serial", "/device/serial"})
        if (const std::string id = firstLineOf(device + name); !id.empty())
            return std::string("id:") + name + ':' + id;
    if (const std::string serial = unitSerialOf(device); !serial.empty())
        return "id:vpd80:" + serial;
    return {};
}

// Of the block device `device`: a partition is its disk's identity and its
// place on that disk.
std::optional<quint64> volumeOfBlockDevice(dev_t device, int depth)
{
    const std::string sysfs = realPathOf(kernelConditions().sysfs + "/dev/block/" + std::to_string(::major(device))
                                         + ':' + std::to_string(::minor(device)));
    if (sysfs.empty())
        return std::nullopt;
    std::string disk = sysfs;
    std::string partition;
    if (const std::string number = firstLineOf(sysfs + "/partition"); !number.empty()) {
        disk = sysfs.substr(0, sysfs.rfind('/'));
        partition = "part:" + number + ':' + firstLineOf(sysfs + "/start") + ':';
    }
    const std::string identity = blockDeviceIdentity(disk, depth);
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
    if (kernelConditions().uniqueMountIds
        && ::statx(fd, "", AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW, STATX_MNT_ID_UNIQUE, &sx) == 0
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

// Under mountAnswersMutex: whether the plain answers may be used and kept,
// after letting them go if anything was mounted or unmounted since they
// were. Never where the table cannot be watched.
bool plainAnswersHold()
{
    const std::string nameSpace = readLinkOf("/proc/thread-self/ns/mnt");
    if (nameSpace.empty())
        return false;
    if (mountTable.fd < 0 || mountTable.pid != ::getpid() || mountTable.nameSpace != nameSpace) {
        // A forked child closes only its own copy: the parent's open table,
        // and what its polls have seen, stay the parent's.
        if (mountTable.fd >= 0)
            ::close(mountTable.fd);
        forgetPlainAnswers();
        mountTable.fd = ::open("/proc/thread-self/mountinfo", O_RDONLY | O_CLOEXEC);
        mountTable.pid = ::getpid();
        mountTable.nameSpace = nameSpace;
        return mountTable.fd >= 0;
    }
    pollfd table{mountTable.fd, POLLPRI, 0};
    const int polled = ::poll(&table, 1, 0);
    if (polled == 0)
        return true;
    forgetPlainAnswers();
    if (polled < 0 || (table.revents & POLLNVAL)) {
        ::close(mountTable.fd);
        mountTable.fd = -1;
        return false;
    }
    return true;
}

// What a mount's disk answers stays while it is mounted, so each mount is
// asked once: a lasting mount for as long as the conditions stay, another
// one until the mount table changes. The item open at `fd` keeps its mount
// from being let go while its answer is computed and kept, so that no later
// mount can be given the same numbers before the table tells of it.
template <typename Compute>
std::optional<quint64> oncePerMount(std::map<quint64, std::optional<quint64>>& known,
                                    std::map<PlainMount, std::optional<quint64>>& knownPlain, dev_t device,
                                    const MountIds& ids, Compute compute)
{
    if (ids.unique) {
        {
            std::lock_guard guard(mountAnswersMutex);
            if (const auto found = known.find(*ids.unique); found != known.end())
                return found->second;
        }
        const std::optional<quint64> value = compute();
        std::lock_guard guard(mountAnswersMutex);
        known.emplace(*ids.unique, value);
        return value;
    }
    if (!ids.plain)
        return compute();
    const PlainMount key{*ids.plain, quint64(device)};
    quint64 generation = 0;
    {
        std::lock_guard guard(mountAnswersMutex);
        if (!plainAnswersHold())
            return compute();
        if (const auto found = knownPlain.find(key); found != knownPlain.end())
            return found->second;
        generation = mountTable.generation;
    }
    const std::optional<quint64> value = compute();
    // A change meanwhile is seen by the next look-up, which lets this go too.
    std::lock_guard guard(mountAnswersMutex);
    if (mountTable.generation == generation)
        knownPlain.emplace(key, value);
    return value;
}

// Of a file system without an identity of its own, the serial libblkid
// reads from its header.
std::optional<quint64> headerSerialOf(dev_t device, const MountIds& ids)
{
    return oncePerMount(knownHeaderSerials, knownPlainHeaderSerials, device, ids, [&]() -> std::optional<quint64> {
        const std::string source = headerSourceOf(device, ids);
        return source.empty() ? std::nullopt : volumeSerialOf(source);
    });
}

// Of the item open at `fd` on the device `device`: its block device's own
// identity.
std::optional<quint64> volumeOf(dev_t device, const MountIds& ids)
{
    return oncePerMount(knownVolumes, knownPlainVolumes, device, ids, [&]() -> std::optional<quint64> {
        if (::major(device) != 0)
            return volumeOfBlockDevice(device, 0);
        if (ids.plain)
            if (const std::optional<dev_t> source = sourceDeviceOfMount(*ids.plain))
                return volumeOfBlockDevice(*source, 0);
        return std::nullopt;
    });
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

// A mount, by an ID that the kernel never hands out again in this boot, and
// only in this boot and this mount namespace: every boot counts its IDs
// anew, and another namespace sees other mounts. None where the kernel has
// no such ID (before Linux 6.8).
std::optional<quint64> mountMarkOf(const MountIds& ids)
{
    if (!ids.unique)
        return std::nullopt;
    const KernelConditions conditions = kernelConditions();
    if (conditions.bootId.empty() || conditions.mountNamespace.empty())
        return std::nullopt;
    return hashOf("mount:" + conditions.bootId + ':' + conditions.mountNamespace + ':' + std::to_string(*ids.unique));
}

// A file by what a copy of it put in its place cannot share: the identity
// of its own disk, its inode and its birth time. None where its disk or its
// birth time says nothing (a file system without birth times hands the
// freed inode to the next file, and a copy put there is born later).
std::string identityOfFile(const std::string& path, int depth)
{
    const int fd = ::open(path.c_str(), O_PATH | O_CLOEXEC);
    if (fd < 0)
        return {};
    struct statx sx {};
    struct statfs fsInfo {};
    std::string disk;
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_INO | STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME)
        && ::fstatfs(fd, &fsInfo) == 0) {
        const dev_t device = ::makedev(sx.stx_dev_major, sx.stx_dev_minor);
        if (const auto volume = ::major(device) != 0 ? volumeOfBlockDevice(device, depth + 1) : std::nullopt)
            disk = "disk:" + std::to_string(*volume);
        else if (const auto fsid = ownFsid(fsInfo, device))
            disk = "fs:" + std::to_string(*fsid);
    }
    ::close(fd);
    if (disk.empty())
        return {};
    return disk + ':' + std::to_string(sx.stx_ino) + ':' + std::to_string(sx.stx_btime.tv_sec) + '.'
           + std::to_string(sx.stx_btime.tv_nsec);
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
    // A file system in memory has no byte copy anywhere: the identity it is
    // given anew at each mount is the disk itself.
    if (facts.identity && fsInfo.f_type == TMPFS_MAGIC)
        facts.volume = hashOf("memory:" + std::to_string(*facts.identity));
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

DiskAnswer DiskIdentity::judge(quint64 deviceNow, const FileSystemQuery& fileSystemNow) const
{
    if (!fileSystemNow)
        return deviceNow == device ? DiskAnswer::Same : DiskAnswer::Different;
    const DiskMarks now = fileSystemNow();
    // What the disk itself is, then what its file system says: different
    // there is different, whatever else is equal.
    if (volume && now.volume && *volume != *now.volume)
        return DiskAnswer::Different;
    if (fileSystem && now.fileSystem && *fileSystem != *now.fileSystem)
        return DiskAnswer::Different;
    if (volume && now.volume)
        return fileSystem.has_value() == now.fileSystem.has_value() ? DiskAnswer::Same : DiskAnswer::SameOrCopy;
    // The very mount the record was made through, in this boot and this
    // namespace: it has shown this disk ever since.
    if (mount && now.mount && *mount == *now.mount)
        return DiskAnswer::Same;
    // Two connected disks of one identity: which is the disk is not known.
    if (fileSystem && now.fileSystem)
        return anotherConnectedDiskCarries(*fileSystem, deviceNow) ? DiskAnswer::Twin : DiskAnswer::SameOrCopy;
    // Neither identity was read then, nor is now (FUSE naming no device):
    // the disk at the recorded place may be the disk, and is never taken
    // for one that is not connected.
    if (!fileSystem && !volume && !now.fileSystem && !now.volume)
        return DiskAnswer::SameOrCopy;
    // One side tells and the other does not: another number is another
    // disk, and an equal one proves nothing.
    if (deviceNow != device)
        return DiskAnswer::Different;
    return DiskAnswer::Unknown;
}

Proof DiskIdentity::proveSameDisk(quint64 deviceNow, const FileSystemQuery& fileSystemNow) const
{
    switch (judge(deviceNow, fileSystemNow)) {
    case DiskAnswer::Same:
        return Proof::Proved;
    case DiskAnswer::Different:
        return Proof::Different;
    case DiskAnswer::SameOrCopy:
    case DiskAnswer::Unknown:
    case DiskAnswer::Twin:
        break;
    }
    return Proof::NotProved;
}

Proof DiskIdentity::proveDiskOfItem(quint64 deviceNow, const FileSystemQuery& fileSystemNow) const
{
    switch (judge(deviceNow, fileSystemNow)) {
    case DiskAnswer::Same:
    case DiskAnswer::SameOrCopy:
        return Proof::Proved;
    case DiskAnswer::Different:
        return Proof::Different;
    case DiskAnswer::Unknown:
    case DiskAnswer::Twin:
        break;
    }
    return Proof::NotProved;
}

std::optional<quint64> blockDeviceVolume(dev_t device)
{
    return volumeOfBlockDevice(device, 0);
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
