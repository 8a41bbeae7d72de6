#pragma once

#include "platform/FileSystemHeader.h"
#include "platform/UdevDevices.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include <sys/types.h>

// The conditions the decisions about disks rest on, and the readers of what
// the system says. The program reads them from the system and nothing else
// (no setting of its environment reaches them); tests set what a user's
// machine has and CI's does not (an older kernel, another boot or mount
// namespace, disks without a serial, udev's database, a device node the
// user may not open) through setKernelConditions().

namespace platform {

struct KernelConditions {
    bool uniqueMountIds = true; // statx's STATX_MNT_ID_UNIQUE, from Linux 6.8
    bool deviceSerials = true;  // the block devices' own identity in sysfs
    std::string bootId;         // /proc/sys/kernel/random/boot_id
    std::string mountNamespace; // /proc/self/ns/mnt
    std::string sysfs = "/sys"; // where the block devices describe themselves
    std::string mountInfo = "/proc/self/mountinfo"; // what each mount was made from
    // What udev published of a block device.
    std::function<DeviceProperties(dev_t)> udev = udevPropertiesOf;
    // What libblkid reads from the header in a device node or an image.
    std::function<std::optional<quint64>(const std::filesystem::path&)> fileSystemHeader = volumeSerialOf;
};

// The conditions in force: the system's until they are set.
KernelConditions kernelConditions();
// What the system gives.
KernelConditions systemKernelConditions();
// Lets go of every answer kept under the conditions before.
void setKernelConditions(const KernelConditions& conditions);

} // namespace platform
