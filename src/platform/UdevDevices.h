#pragma once

#include <map>
#include <optional>
#include <string>

#include <sys/types.h>

// What udev publishes of the block devices: its database, read through
// libudev, which every user may read where a device node is root's and the
// disk group's alone. Nothing where udev does not run (containers, CI).

namespace platform {

// Every property udev published of the block device `device` once it had
// probed it ("ID_FS_TYPE" -> "exfat"); empty where it has not or runs not.
using DeviceProperties = std::map<std::string, std::string>;
DeviceProperties udevPropertiesOf(dev_t device);

// The file system udev found on the block device `device` (read through
// KernelConditions::udev): its type and its UUID byte for byte as libblkid
// reads them from its header. None where udev tells no UUID.
struct PublishedFileSystem {
    std::string type;
    std::string uuid;
};
std::optional<PublishedFileSystem> publishedFileSystemOf(dev_t device);

} // namespace platform
