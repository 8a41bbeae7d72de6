#include "platform/Volumes.h"

#include "platform/DirectoryListing.h"
#include "platform/FileStat.h"
#include "platform/HexDigit.h"
#include "platform/Paths.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <iterator>
#include <memory>
#include <linux/magic.h>
#include <mutex>
#include <poll.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace platform {

namespace {

std::vector<std::string> components(const std::filesystem::path& path)
{
    std::vector<std::string> parts;
    for (const auto& part : path) {
        const std::string& name = part.native();
        if (name.empty() || name == "/" || name == ".")
            continue;
        parts.push_back(name);
    }
    return parts;
}

bool isComponentPrefix(const std::vector<std::string>& prefix, const std::vector<std::string>& whole)
{
    return prefix.size() <= whole.size() && std::equal(prefix.begin(), prefix.end(), whole.begin());
}

std::filesystem::path normalAbsolute(const std::filesystem::path& path)
{
    std::error_code ec;
    std::filesystem::path absolute = path.is_absolute() ? path : std::filesystem::current_path(ec) / path;
    return absolute.lexically_normal();
}

QByteArray readProcFile(const char* name)
{
    // /proc files report a size of 0: read until the end.
    QByteArray data;
    const int fd = ::open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return data;
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        data.append(buffer, got);
    }
    ::close(fd);
    return data;
}

std::vector<MountEntry> currentMounts() { return parseMountInfo(readProcFile("/proc/self/mountinfo")); }

// The mount table as last read, and a descriptor whose poll tells when it
// changed (the kernel flags every mount and unmount in the namespace).
struct MountTableCache {
    std::mutex mutex;
    int watch = -1;
    std::shared_ptr<const std::vector<MountEntry>> mounts; // null until first read
};

std::string canonicalDevice(const std::string& source)
{
    if (source.empty() || source[0] != '/')
        return {};
    char resolved[PATH_MAX];
    if (!::realpath(source.c_str(), resolved))
        return {};
    return resolved;
}

// Labels of block devices, from the udev links in /dev/disk/by-label.
struct LabelIndex {
    struct Entry {
        std::string label;
        dev_t rdev = 0;
        std::string target;
    };
    std::vector<Entry> entries;

    static LabelIndex read()
    {
        LabelIndex index;
        const std::filesystem::path dir("/dev/disk/by-label");
        listDirectory(dir, [&](const DirEntry& entry) {
            Entry e;
            e.label = unescapeLabel(entry.name);
            const auto link = dir / entry.name;
            if (auto st = statPath(link, true); st && S_ISBLK(st->mode)) {
                struct stat raw;
                if (::stat(link.c_str(), &raw) == 0)
                    e.rdev = raw.st_rdev;
            }
            e.target = canonicalDevice(link.native());
            index.entries.push_back(std::move(e));
            return true;
        });
        return index;
    }

    QString labelFor(const MountEntry& mount) const
    {
        const std::string device = canonicalDevice(mount.source);
        for (const auto& e : entries) {
            if ((e.rdev != 0 && e.rdev == mount.deviceId) || (!device.empty() && device == e.target))
                return QString::fromUtf8(e.label);
        }
        return {};
    }
};

VolumeInfo describe(const MountEntry& mount, const LabelIndex& labels, bool askSizes)
{
    VolumeInfo info;
    info.mountPoint = mount.mountPoint;
    info.fsType = mount.fsType;
    info.device = platform::pathText(mount.source);
    info.deviceId = mount.deviceId;
    info.isNetwork = isNetworkFileSystemType(mount.fsType);
    const auto options = QByteArray::fromStdString(mount.mountOptions).split(',');
    info.readOnly = options.contains("ro");
    if (askSizes) {
        struct statvfs vfs;
        if (::statvfs(mount.mountPoint.c_str(), &vfs) == 0) {
            info.capacity = quint64(vfs.f_blocks) * vfs.f_frsize;
            info.available = quint64(vfs.f_bavail) * vfs.f_frsize;
            info.readOnly = info.readOnly || (vfs.f_flag & ST_RDONLY);
        }
    }
    if (mount.mountPoint == "/") {
        const QString label = labels.labelFor(mount);
        info.name = label.isEmpty() ? QStringLiteral("Linux") : label;
    } else {
        info.name = labels.labelFor(mount);
        if (info.name.isEmpty())
            info.name = platform::pathText(mount.mountPoint.filename());
    }
    return info;
}

} // namespace

std::string unescapeMountField(std::string_view field)
{
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const char a = field[i + 1], b = field[i + 2], c = field[i + 3];
            if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
                out.push_back(char(((a - '0') << 6) | ((b - '0') << 3) | (c - '0')));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

std::string unescapeLabel(std::string_view label)
{
    std::string out;
    out.reserve(label.size());
    for (size_t i = 0; i < label.size(); ++i) {
        if (label[i] == '\\' && i + 3 < label.size() && label[i + 1] == 'x') {
            const int hi = hexDigitValue(label[i + 2]), lo = hexDigitValue(label[i + 3]);
            if (hi >= 0 && lo >= 0) {
                out.push_back(char((hi << 4) | lo));
                i += 3;
                continue;
            }
        }
        out.push_back(label[i]);
    }
    return out;
}

std::vector<MountEntry> parseMountInfo(const QByteArray& text)
{
    std::vector<MountEntry> mounts;
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        // id parent major:minor root mount-point options [optional...] - type source super-options
        const qsizetype separator = fields.indexOf(QByteArray("-"), 6);
        if (fields.size() < 7 || separator < 6 || separator + 2 >= fields.size())
            continue;
        MountEntry m;
        bool okId = false, okParent = false, okMajor = false, okMinor = false;
        m.mountId = fields[0].toInt(&okId);
        m.parentId = fields[1].toInt(&okParent);
        const QList<QByteArray> majorMinor = fields[2].split(':');
        if (majorMinor.size() != 2)
            continue;
        const uint major = majorMinor[0].toUInt(&okMajor);
        const uint minor = majorMinor[1].toUInt(&okMinor);
        if (!okId || !okParent || !okMajor || !okMinor)
            continue;
        m.deviceId = makedev(major, minor);
        m.root = unescapeMountField(fields[3].toStdString());
        m.mountPoint = unescapeMountField(fields[4].toStdString());
        if (m.mountPoint.empty() || m.mountPoint.native()[0] != '/')
            continue;
        m.mountOptions = fields[5].toStdString();
        m.fsType = QString::fromUtf8(unescapeMountField(fields[separator + 1].toStdString()));
        m.source = unescapeMountField(fields[separator + 2].toStdString());
        if (separator + 3 < fields.size())
            m.superOptions = fields[separator + 3].toStdString();
        mounts.push_back(std::move(m));
    }
    return mounts;
}

bool isNetworkFileSystemType(QStringView fsType)
{
    static const char* const kNetworkTypes[] = {"nfs", "nfs4", "cifs", "smb3", "smbfs", "afs", "coda", "9p", "fuse.sshfs"};
    return std::any_of(std::begin(kNetworkTypes), std::end(kNetworkTypes), [&](const char* type) {
        return fsType.compare(QLatin1String(type), Qt::CaseInsensitive) == 0;
    });
}

bool isKernelFileSystemType(QStringView fsType)
{
    static const char* const kKernelTypes[] = {
        "proc",     "sysfs",    "devtmpfs",  "devpts",   "cgroup",      "cgroup2",    "debugfs",
        "tracefs",  "securityfs", "pstore",  "bpf",      "configfs",    "efivarfs",   "fusectl",
        "mqueue",   "hugetlbfs", "binfmt_misc", "autofs", "nsfs",       "rpc_pipefs", "selinuxfs",
        "smackfs",  "devfs",
    };
    return std::any_of(std::begin(kKernelTypes), std::end(kKernelTypes),
                       [&](const char* known) { return fsType == QLatin1String(known); });
}

bool isKernelFileSystem(int fd)
{
    struct statfs info {};
    if (::fstatfs(fd, &info) != 0)
        return false;
    switch (static_cast<unsigned long>(info.f_type)) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEVPTS_SUPER_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case PSTOREFS_MAGIC:
    case BPF_FS_MAGIC:
    case HUGETLBFS_MAGIC:
    case BINFMTFS_MAGIC:
    case EFIVARFS_MAGIC:
    case NSFS_MAGIC:
    case SELINUX_MAGIC:
    case SMACK_MAGIC:
    case 0x19800202: // mqueue
    case 0x62656570: // configfs
    case 0x65735543: // fusectl
    case 0x67596969: // rpc_pipefs
    case 0x0187:     // autofs
    case 0x1373:     // devfs
        return true;
    case TMPFS_MAGIC:
        break;
    default:
        return false;
    }
    // Only a tmpfs needs the mount table: the walk asks once per mount it
    // crosses, so reading the table each time costs little.
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return false;
    const std::vector<MountEntry> mounts = currentMounts();
    return std::any_of(mounts.begin(), mounts.end(), [&](const MountEntry& mount) {
        return mount.deviceId == st.st_dev && isKernelFileSystemType(mount.fsType);
    });
}

bool isKernelFileSystemAt(int dirFd, const char* name)
{
    const int fd = ::openat(dirFd, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool kernel = isKernelFileSystem(fd);
    ::close(fd);
    return kernel;
}

bool isOnKernelFileSystem(const std::filesystem::path& path)
{
    const int fd = ::open(path.c_str(), O_PATH | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool kernel = isKernelFileSystem(fd);
    ::close(fd);
    return kernel;
}

std::optional<size_t> pickMountFor(const std::vector<MountEntry>& mounts, const std::filesystem::path& path,
                                   std::optional<dev_t> device)
{
    const auto wanted = components(path);
    std::optional<size_t> longest, longestOnDevice;
    size_t longestLength = 0, longestOnDeviceLength = 0;
    for (size_t i = 0; i < mounts.size(); ++i) {
        const auto prefix = components(mounts[i].mountPoint);
        if (!isComponentPrefix(prefix, wanted))
            continue;
        // ">=": of two mounts on one folder the later one hides the earlier.
        if (!longest || prefix.size() >= longestLength) {
            longest = i;
            longestLength = prefix.size();
        }
        if (device && mounts[i].deviceId == *device
            && (!longestOnDevice || prefix.size() >= longestOnDeviceLength)) {
            longestOnDevice = i;
            longestOnDeviceLength = prefix.size();
        }
    }
    if (longestOnDevice)
        return longestOnDevice;
    if (device) {
        // The path reaches its volume through a symbolic link: the lexical
        // prefix is misleading, the device is not. Prefer a mount of the whole
        // file system over a bind mount of a part of it.
        std::optional<size_t> match;
        for (size_t i = 0; i < mounts.size(); ++i) {
            if (mounts[i].deviceId != *device)
                continue;
            if (!match || mounts[i].root == "/" || mounts[*match].root != "/")
                match = i;
        }
        if (match)
            return match;
    }
    return longest;
}

std::vector<VolumeInfo> mountedVolumes()
{
    const auto mounts = currentMounts();
    const auto labels = LabelIndex::read();
    std::vector<VolumeInfo> volumes;
    volumes.reserve(mounts.size());
    for (const auto& mount : mounts) {
        const bool mayNeverAnswer =
            mount.fsType.startsWith(QLatin1String("fuse")) || isNetworkFileSystemType(mount.fsType);
        volumes.push_back(describe(mount, labels, !mayNeverAnswer));
    }
    return volumes;
}

std::optional<VolumeInfo> volumeForPath(const std::filesystem::path& path)
{
    if (path.empty())
        return std::nullopt;
    const auto normal = normalAbsolute(path);
    const auto mounts = currentMounts();
    std::optional<dev_t> device;
    if (auto st = statPath(normal, false))
        device = st->device;
    const auto index = pickMountFor(mounts, normal, device);
    if (!index)
        return std::nullopt;
    return describe(mounts[*index], LabelIndex::read(), true);
}

std::shared_ptr<const std::vector<MountEntry>> mountTableWith(quint64 mountId)
{
    static MountTableCache cache;
    std::lock_guard guard(cache.mutex);
    if (cache.watch < 0)
        cache.watch = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    bool changed = !cache.mounts || cache.watch < 0;
    if (!changed) {
        pollfd p{cache.watch, POLLPRI, 0};
        changed = ::poll(&p, 1, 0) != 0;
    }
    const auto holds = [&] {
        return std::any_of(cache.mounts->begin(), cache.mounts->end(),
                           [&](const MountEntry& mount) { return quint64(mount.mountId) == mountId; });
    };
    // Read anew on a change, and for an id not seen yet (a mount made
    // between the poll and now).
    if (changed || !holds())
        cache.mounts = std::make_shared<const std::vector<MountEntry>>(currentMounts());
    return cache.mounts;
}

std::optional<MountEntry> mountWithId(quint64 mountId)
{
    const auto mounts = mountTableWith(mountId);
    for (const MountEntry& mount : *mounts)
        if (quint64(mount.mountId) == mountId)
            return mount;
    return std::nullopt;
}

std::optional<MountOfEntry> mountOfEntry(const std::filesystem::path& path)
{
    const std::optional<FileStat> st = statPath(path, false);
    if (!st || !st->mountId)
        return std::nullopt;
    auto mount = mountWithId(*st->mountId);
    if (!mount)
        return std::nullopt;
    return MountOfEntry{std::move(*mount), st->mountRoot};
}

MountTableWatch::MountTableWatch() : fd_(::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC)) {}

MountTableWatch::~MountTableWatch()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool MountTableWatch::changed()
{
    if (fd_ < 0)
        return true;
    // The kernel answers POLLPRI once per change and then forgets it.
    pollfd p{fd_, POLLPRI, 0};
    const int ready = ::poll(&p, 1, 0);
    return ready != 0;
}

bool hasMountAtOrBelow(const std::filesystem::path& path)
{
    const std::filesystem::path normal = path.lexically_normal();
    if (normal.empty() || !normal.is_absolute())
        return false;
    const auto mounts = currentMounts();
    return std::any_of(mounts.begin(), mounts.end(), [&](const MountEntry& mount) {
        const std::filesystem::path below = mount.mountPoint.lexically_relative(normal);
        return !below.empty() && *below.begin() != "..";
    });
}

bool isVolumeRoot(const std::filesystem::path& path)
{
    if (path.empty())
        return false;
    const auto normal = normalAbsolute(path);
    if (normal == "/")
        return true;
#ifdef STATX_ATTR_MOUNT_ROOT
    struct statx sx;
    if (::statx(AT_FDCWD, normal.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_BASIC_STATS, &sx) == 0
        && (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT))
        return (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
#endif
    const auto self = statPath(normal, false);
    if (!self || !self->isDir())
        return false;
    const auto parent = statPath(normal.parent_path(), false);
    if (parent && parent->device != self->device)
        return true;
    // A bind mount of a folder of the same file system keeps its device.
    const auto wanted = components(normal);
    for (const auto& mount : currentMounts()) {
        if (components(mount.mountPoint) == wanted)
            return true;
    }
    return false;
}

QString startupDiskName()
{
    // The root file system's label does not change while we run, and file
    // utilities ask for it per item.
    static const QString name = [] {
        const auto mounts = currentMounts();
        const auto index = pickMountFor(mounts, "/", std::nullopt);
        if (!index)
            return QStringLiteral("Linux");
        const QString label = LabelIndex::read().labelFor(mounts[*index]);
        return label.isEmpty() ? QStringLiteral("Linux") : label;
    }();
    return name;
}

} // namespace platform
