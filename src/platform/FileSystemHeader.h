#pragma once

#include <QtGlobal>

#include <filesystem>
#include <optional>
#include <string>

// What a file system's header says of it, as libblkid reads it from the
// device or image that holds it: its volume serial or UUID, with its type.

namespace platform {

// The volume serial or UUID of the file system in the device or image at
// `deviceOrImage`, as libblkid reads it from its header (with its type);
// none where there is none, or the device cannot be read.
std::optional<quint64> volumeSerialOf(const std::filesystem::path& deviceOrImage);

// The number a file system of `type` ("vfat") whose header holds `uuid`
// ("1234-ABCD", exactly as libblkid reads it) is known by; none for an empty
// UUID. Whoever read the two strings, the number is the same.
std::optional<quint64> volumeSerialFrom(const std::string& type, const std::string& uuid);

} // namespace platform
