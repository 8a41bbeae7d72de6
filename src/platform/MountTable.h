#pragma once

#include <QtGlobal>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <sys/types.h>

// What the kernel says of the mounts: an item's mount by its IDs, what a
// mount was mounted from (the mount table), and the answers about a mount's
// disk, kept once per mount while it stays mounted.

namespace platform {

struct MountIds {
    std::optional<quint64> unique; // never handed out again
    std::optional<quint64> plain;  // mountinfo's, handed out again
};

// Of the item open at `fd` (an O_PATH descriptor will do); the unique ID
// only where the kernel conditions have it.
MountIds mountIdsOf(int fd);

// A mount, by an ID that the kernel never hands out again in this boot, and
// only in this boot and this mount namespace: every boot counts its IDs
// anew, and another namespace sees other mounts. None where the kernel has
// no such ID (before Linux 6.8).
std::optional<quint64> mountMarkOf(const MountIds& ids);

struct MountSource {
    std::string type;
    std::string source;
};

// What the mount `mountId` (mountinfo's own numbering) was mounted from.
std::optional<MountSource> sourceOfMount(quint64 mountId);

// Where the mount `mountId` (mountinfo's own numbering) is seen in this
// mount namespace.
std::optional<std::string> mountPointOf(quint64 mountId);

// The block device a file system on an unnamed device (btrfs) was mounted
// from. FUSE names its source as it likes, and tmpfs, overlay and network
// disks have none.
std::optional<dev_t> sourceDeviceOfMount(quint64 mountId);

// What a mount's disk answers stays while it is mounted, so each mount is
// asked once: a lasting mount for as long as the conditions stay, another
// one until the mount table changes. The item open where `ids` were read
// keeps its mount from being let go while its answer is computed and kept,
// so that no later mount can be given the same numbers before the table
// tells of it.
enum class MountQuestion { HeaderSerial, Volume, BtrfsDiskUuid };
std::optional<quint64> oncePerMount(MountQuestion question, dev_t device, const MountIds& ids,
                                    const std::function<std::optional<quint64>()>& compute);

// Lets every kept answer go (the conditions they were read under changed).
void forgetMountAnswers();

// Counts the changes of this mount namespace's table seen so far, and the
// times the kept answers were let go: equal to a number read before, nothing
// was mounted or unmounted since. Where the table cannot be watched, every
// call gives a new number.
quint64 mountTableGeneration();

// The mount namespace a /proc link names ("/proc/self/ns/mnt"); empty where
// it cannot be read.
std::string mountNamespaceAt(const char* link);

// A field of mountinfo, which escapes a blank, a tab, a newline and a
// backslash as octal.
std::string unescapedMountField(std::string_view field);

} // namespace platform
