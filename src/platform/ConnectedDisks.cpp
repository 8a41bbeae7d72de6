#include "platform/ConnectedDisks.h"

#include "platform/DiskIdentity.h"
#include "platform/FileSystemFacts.h"
#include "platform/MountTable.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cerrno>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace platform {

namespace {

// A mount table larger than this is read no further: what lies beyond is
// not asked.
constexpr size_t kMaxTableBytes = size_t(4) << 20;

std::string mountTableText()
{
    const int fd = ::open("/proc/thread-self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::string text;
    std::array<char, 16384> buffer{};
    while (text.size() < kMaxTableBytes) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        text.append(buffer.data(), size_t(got));
    }
    ::close(fd);
    return text;
}

// File systems that hold no disk of the user's, or whose server may not
// answer: never asked.
bool isAsked(std::string_view type)
{
    static const std::set<std::string_view> kernel{
        "proc",     "sysfs",    "devtmpfs", "devpts",    "cgroup",   "cgroup2",  "securityfs", "debugfs",
        "tracefs",  "pstore",   "bpf",      "configfs",  "fusectl",  "mqueue",   "hugetlbfs",  "autofs",
        "binfmt_misc", "efivarfs", "nsfs",  "rpc_pipefs", "selinuxfs", "ramfs",  "squashfs",   "iso9660"};
    if (kernel.count(type))
        return false;
    for (const std::string_view remote : {"nfs", "cifs", "smb", "ceph", "9p", "afs", "gluster", "lustre", "ssh",
                                          "rclone", "s3fs", "gvfs", "davfs", "curlftp", "beegfs"})
        if (type.find(remote) != std::string_view::npos)
            return false;
    return true;
}

// A FUSE file system is asked only where it was mounted from a disk image
// or a device, which a byte copy can share: one that serves a network or
// anything else may take its time to answer, or never answer.
bool isDiskSource(const std::string& source)
{
    struct stat st {};
    return !source.empty() && source[0] == '/' && ::stat(source.c_str(), &st) == 0
           && (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode));
}

// The "major:minor" field of a mount table line, as the kernel encodes a
// device number in st_dev.
std::optional<quint64> deviceNumberOf(std::string_view field)
{
    const size_t colon = field.find(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    unsigned major = 0, minor = 0;
    const auto [majorEnd, majorError] = std::from_chars(field.data(), field.data() + colon, major);
    const auto [minorEnd, minorError] = std::from_chars(field.data() + colon + 1, field.data() + field.size(), minor);
    if (majorError != std::errc() || minorError != std::errc() || majorEnd != field.data() + colon
        || minorEnd != field.data() + field.size())
        return std::nullopt;
    return quint64(::makedev(major, minor));
}

struct Mount {
    std::string_view device; // "major:minor"
    std::string mountPoint;
    std::string_view type;
    std::string_view source;
};

std::vector<Mount> mountsIn(std::string_view text)
{
    std::vector<Mount> mounts;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        // ID, parent, major:minor, root, mount point, ... " - " type source.
        const size_t separator = line.find(" - ");
        if (separator == std::string_view::npos)
            continue;
        std::string_view fields = line.substr(0, separator);
        std::array<std::string_view, 5> first{};
        for (auto& field : first) {
            const size_t blank = fields.find(' ');
            field = fields.substr(0, blank);
            fields = blank == std::string_view::npos ? std::string_view() : fields.substr(blank + 1);
        }
        std::string_view type = line.substr(separator + 3);
        std::string_view source = type.substr(std::min(type.size(), type.find(' ') + 1));
        type = type.substr(0, type.find(' '));
        source = source.substr(0, source.find(' '));
        if (!first[4].empty())
            mounts.push_back({first[2], unescapedMountField(first[4]), type, source});
    }
    return mounts;
}

// Whether the way to `mountPoint` passes through a FUSE mount: walking it
// would ask that mount's daemon.
bool liesInFuse(const std::string& mountPoint, const std::vector<std::string>& fuseMountPoints)
{
    return std::any_of(fuseMountPoints.begin(), fuseMountPoints.end(), [&](const std::string& fuse) {
        return mountPoint.size() > fuse.size() && mountPoint.compare(0, fuse.size(), fuse) == 0
               && (fuse.back() == '/' || mountPoint[fuse.size()] == '/');
    });
}

// Each mounted file system's identity by its device number.
std::map<quint64, std::optional<quint64>> identitiesOf(const std::string& text)
{
    const std::vector<Mount> mounts = mountsIn(text);
    std::vector<std::string> fuseMountPoints;
    for (const Mount& mount : mounts)
        if (mount.type.substr(0, 4) == "fuse")
            fuseMountPoints.push_back(mount.mountPoint);
    std::map<quint64, std::optional<quint64>> identities;
    std::set<quint64> asked;
    for (const Mount& mount : mounts) {
        if (!isAsked(mount.type))
            continue;
        if (mount.type.substr(0, 4) == "fuse") {
            // Told from the mount table and the header of what it was
            // mounted from alone: one stopped daemon would otherwise hold
            // every judgement that reaches this search.
            const std::string from = unescapedMountField(mount.source);
            const std::optional<quint64> device = deviceNumberOf(mount.device);
            if (device && isDiskSource(from) && asked.insert(*device).second)
                identities[*device] = headerSerialOfFuseSource(from);
            continue;
        }
        if (liesInFuse(mount.mountPoint, fuseMountPoints))
            continue;
        const int fd = ::open(mount.mountPoint.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && asked.insert(quint64(st.st_dev)).second)
            identities[quint64(st.st_dev)] = fileSystemIdentityOfFolder(fd);
        ::close(fd);
    }
    return identities;
}

// What the table showed when it was last read, and the mount table's
// generation then: read again only once something was mounted or
// unmounted.
struct Table {
    std::optional<quint64> generation;
    std::map<quint64, std::optional<quint64>> identities;
};

std::mutex tableMutex;
Table lastTable;

} // namespace

bool anotherConnectedDiskCarries(quint64 fileSystem, quint64 device)
{
    std::lock_guard guard(tableMutex);
    const quint64 generation = mountTableGeneration();
    if (lastTable.generation != generation) {
        // A mount made after the generation was read is in the text, or
        // changes the generation the next call reads.
        const std::string text = mountTableText();
        lastTable = Table{generation, identitiesOf(text)};
    }
    for (const auto& [mounted, identity] : lastTable.identities)
        if (mounted != device && identity == fileSystem)
            return true;
    return false;
}

} // namespace platform
