#pragma once

#include <QtGlobal>

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

} // namespace platform
