#include "platform/UdevDevices.h"

#include "platform/HexDigit.h"
#include "platform/KernelConditions.h"

#include <libudev.h>

#include <mutex>

namespace platform {

namespace {

// udev publishes a UUID twice: ID_FS_UUID with every blank or unprintable
// byte made '_', and ID_FS_UUID_ENC with every byte outside a safe set
// (the backslash included) written as \xNN. Only the second tells the
// header's bytes exactly; decoded, it is what libblkid read.
std::optional<std::string> decodedUdevValue(const std::string& encoded)
{
    std::string out;
    for (size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] != '\\') {
            out += encoded[i];
            continue;
        }
        if (i + 3 >= encoded.size() || encoded[i + 1] != 'x')
            return std::nullopt;
        const int high = hexDigitValue(encoded[i + 2]);
        const int low = hexDigitValue(encoded[i + 3]);
        if (high < 0 || low < 0)
            return std::nullopt;
        out += char(high * 16 + low);
        i += 3;
    }
    return out;
}

} // namespace

DeviceProperties udevPropertiesOf(dev_t device)
{
    // libudev's own set-up of a context is not safe from two threads at
    // once: one question at a time.
    static std::mutex udevMutex;
    std::lock_guard guard(udevMutex);
    DeviceProperties properties;
    udev* context = ::udev_new();
    if (!context)
        return properties;
    if (udev_device* found = ::udev_device_new_from_devnum(context, 'b', device)) {
        // Before udev has probed a device (or where it never runs) only the
        // kernel's own uevent is there.
        if (::udev_device_get_is_initialized(found) > 0)
            for (udev_list_entry* entry = ::udev_device_get_properties_list_entry(found); entry;
                 entry = ::udev_list_entry_get_next(entry)) {
                const char* name = ::udev_list_entry_get_name(entry);
                const char* value = ::udev_list_entry_get_value(entry);
                if (name && value)
                    properties.emplace(name, value);
            }
        ::udev_device_unref(found);
    }
    ::udev_unref(context);
    return properties;
}

std::optional<PublishedFileSystem> publishedFileSystemOf(dev_t device)
{
    const KernelConditions conditions = kernelConditions();
    if (!conditions.udev)
        return std::nullopt;
    const DeviceProperties properties = conditions.udev(device);
    const auto uuid = properties.find("ID_FS_UUID_ENC");
    if (uuid == properties.end())
        return std::nullopt;
    const std::optional<std::string> decoded = decodedUdevValue(uuid->second);
    if (!decoded || decoded->empty())
        return std::nullopt;
    const auto type = properties.find("ID_FS_TYPE");
    return PublishedFileSystem{type == properties.end() ? std::string() : type->second, *decoded};
}

} // namespace platform
