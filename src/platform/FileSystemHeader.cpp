#include "platform/FileSystemHeader.h"

#include "platform/StableHash.h"

#include <blkid/blkid.h>

#include <cstring>

namespace platform {

std::optional<quint64> volumeSerialFrom(const std::string& type, const std::string& uuid)
{
    if (uuid.empty())
        return std::nullopt;
    return stableHash(type + ':' + uuid);
}

std::optional<quint64> volumeSerialOf(const std::filesystem::path& deviceOrImage)
{
    const blkid_probe probe = blkid_new_probe_from_filename(deviceOrImage.c_str());
    if (!probe)
        return std::nullopt;
    blkid_probe_enable_superblocks(probe, 1);
    blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_UUID | BLKID_SUBLKS_TYPE);
    std::optional<quint64> serial;
    const char* uuid = nullptr;
    size_t length = 0;
    if (blkid_do_safeprobe(probe) == 0 && blkid_probe_lookup_value(probe, "UUID", &uuid, &length) == 0 && uuid
        && length > 1) {
        const char* type = nullptr;
        if (blkid_probe_lookup_value(probe, "TYPE", &type, nullptr) != 0 || !type)
            type = "";
        serial = volumeSerialFrom(type, std::string(uuid, ::strnlen(uuid, length)));
    }
    blkid_free_probe(probe);
    return serial;
}

} // namespace platform
