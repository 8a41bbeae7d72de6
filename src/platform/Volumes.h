#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <QtGlobal>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace platform {

struct VolumeInfo {
    std::filesystem::path mountPoint;
    QString name;    // the file system label, else the mount point's last component; "/" is startupDiskName()
    QString fsType;  // as the kernel names it: "ext4", "nfs4", "fuse.sshfs"
    QString device;  // the mount source: "/dev/sda1", "server:/export"
    dev_t deviceId = 0; // st_dev of the items on this volume
    quint64 capacity = 0;  // bytes; 0 when unknown
    quint64 available = 0; // bytes available to this user
    bool readOnly = false;
    bool isNetwork = false;
};

// One line of /proc/self/mountinfo, unescaped (octal \040 and friends).
struct MountEntry {
    int mountId = 0;
    int parentId = 0;
    dev_t deviceId = 0;
    std::string root;                     // the mounted part of the source file system
    std::filesystem::path mountPoint;
    std::string mountOptions;
    QString fsType;
    std::string source;
    std::string superOptions;
};

// Pure: lines that do not parse are left out.
std::vector<MountEntry> parseMountInfo(const QByteArray& text);

// Undoes the kernel's octal escapes ("\040" -> ' ') of mountinfo fields.
std::string unescapeMountField(std::string_view field);

// Undoes the \xHH escapes of the names in /dev/disk/by-label.
std::string unescapeLabel(std::string_view label);

bool isNetworkFileSystemType(QStringView fsType);

// The kernel's own file systems (proc, sysfs, devtmpfs, devpts, cgroup, …):
// views of the running system that hold no user files. Their "files" are
// never duplicates of anything a user keeps, reading some of them has side
// effects, and none may be offered for removal.
bool isKernelFileSystemType(QStringView fsType);
// The file system of an open descriptor (an O_PATH one will do). devtmpfs
// answers statfs as tmpfs does, so a tmpfs is told apart by the name its
// mount carries.
bool isKernelFileSystem(int fd);
// The entry `name` of the folder `dirFd`, a symbolic link taken as itself.
bool isKernelFileSystemAt(int dirFd, const char* name);
// A path, its links followed; false when it cannot be reached.
bool isOnKernelFileSystem(const std::filesystem::path& path);

// Every mounted file system of this process's mount namespace, in mount
// order. Sizes come from statvfs; a mount that cannot be asked keeps zeros,
// and so does a FUSE or network one: its daemon or server may be stopped or
// gone and never answer, and one such mount must not hold the whole list.
std::vector<VolumeInfo> mountedVolumes();

// The volume that holds `path`: the longest mount point that contains the
// path (by components, after lexical normalisation against the current
// folder), confirmed by st_dev when the item exists.
std::optional<VolumeInfo> volumeForPath(const std::filesystem::path& path);

// Picks, from `mounts`, the entry for `path` as volumeForPath() does; `device`
// is the item's st_dev or nullopt when it could not be read. Pure, for tests.
std::optional<size_t> pickMountFor(const std::vector<MountEntry>& mounts,
                                   const std::filesystem::path& normalAbsolutePath,
                                   std::optional<dev_t> device);

// The mount of this process's namespace with the id `mountId` (statx's
// stx_mnt_id, the first field of mountinfo). The table is read again only
// when the kernel says it changed, so asking once per item costs a poll.
std::optional<MountEntry> mountWithId(quint64 mountId);
// The whole table that mountWithId() reads, sure to hold `mountId` when the
// kernel still has it: for a question about every mount of one file system.
std::shared_ptr<const std::vector<MountEntry>> mountTableWith(quint64 mountId);

// The mount that shows the entry at `path` (its last component not
// followed) and whether the entry is that mount's root; nullopt when the
// kernel does not tell mounts apart or the entry cannot be reached.
struct MountOfEntry {
    MountEntry mount;
    bool isRoot = false;
};
std::optional<MountOfEntry> mountOfEntry(const std::filesystem::path& path);

// Whether the mount table names a mount point at `path` or beneath it (by
// whole components; `path` absolute, without links): for a folder whose
// content cannot be read.
bool hasMountAtOrBelow(const std::filesystem::path& path);

// Tells whether anything was mounted or unmounted in this process's mount
// namespace since the watch was made or last asked: the kernel flags every
// change on an open mount table. Where the table cannot be opened, every
// question answers yes. One thread asks at a time.
class MountTableWatch {
public:
    MountTableWatch();
    ~MountTableWatch();
    MountTableWatch(const MountTableWatch&) = delete;
    MountTableWatch& operator=(const MountTableWatch&) = delete;

    bool changed();

private:
    int fd_ = -1;
};

// True for "/" and for every folder on which a file system is mounted.
bool isVolumeRoot(const std::filesystem::path& path);

// The label of the root file system, else "Linux".
QString startupDiskName();

} // namespace platform
