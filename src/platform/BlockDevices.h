#pragma once

#include <QtGlobal>

#include <array>
#include <optional>
#include <string>

#include <sys/types.h>

// What sysfs says of the block devices (under KernelConditions::sysfs): a
// device's own hardware identity, and the name the kernel gives its node.

namespace platform {

// The hardware identity of the block device `device` (DiskMarks::volume);
// none where it tells none.
std::optional<quint64> blockDeviceVolume(dev_t device);

// The path of the device node the kernel names for `device` ("/dev/sdb1");
// empty where it names none.
std::string blockDeviceNode(dev_t device);

// The UUIDs of the btrfs file system that stands on the block device
// `device`, as /sys/fs/btrfs shows them: the one the kernel knows it by, and
// the one its disk carries. They differ where the kernel gave a mount a
// temporary one because another mounted disk carries the same (a byte
// copy): the second of the two to be mounted, whichever is the copy.
struct BtrfsUuids {
    std::array<quint8, 16> kernel{};
    std::array<quint8, 16> disk{};
};
std::optional<BtrfsUuids> btrfsUuidsOn(dev_t device);

} // namespace platform
