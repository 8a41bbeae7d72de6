#include "platform/BlockDevices.h"

#include "platform/FileSystemFacts.h"
#include "platform/HexDigit.h"
#include "platform/KernelConditions.h"
#include "platform/StableHash.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace platform {

namespace {

// The sysfs folder of the block device `device`, as sysfs names it.
std::string sysfsFolderOf(dev_t device)
{
    return kernelConditions().sysfs + "/dev/block/" + std::to_string(::major(device)) + ':'
           + std::to_string(::minor(device));
}

// A small file of sysfs, its first line; empty when there is none.
std::string firstLineOf(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line))
        return {};
    while (!line.empty() && (line.back() == ' ' || line.back() == '\n' || line.back() == '\t'))
        line.pop_back();
    return line;
}

std::string realPathOf(const std::string& path)
{
    std::error_code ec;
    const std::filesystem::path real = std::filesystem::canonical(path, ec);
    return ec ? std::string() : real.native();
}

// The unit serial number a SCSI disk reports in its VPD page 0x80: four
// bytes of header, then the serial's length in bytes 2 and 3.
std::string unitSerialOf(const std::string& device)
{
    std::ifstream in(device + "/device/vpd_pg80", std::ios::binary);
    std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (page.size() <= 4)
        return {};
    const size_t length = (size_t(quint8(page[2])) << 8) | quint8(page[3]);
    std::string serial = page.substr(4, std::min(length, page.size() - 4));
    const size_t first = serial.find_first_not_of(" \t");
    const size_t last = serial.find_last_not_of(std::string(" \t\0", 3));
    if (first == std::string::npos || last == std::string::npos || last < first)
        return {};
    return serial.substr(first, last - first + 1);
}

std::optional<quint64> volumeOfBlockDevice(dev_t device, int depth);
std::string identityOfFile(const std::string& path, int depth);

// Devices stacked on others (device-mapper, md) are known by the devices
// they stand on: their own UUIDs are written in headers that a byte copy
// carries (LUKS, LVM, md superblocks), so they prove nothing.
std::string identityOfSlaves(const std::string& device, int depth)
{
    std::vector<std::string> parts;
    std::error_code ec;
    for (const auto& slave : std::filesystem::directory_iterator(device + "/slaves", ec)) {
        const std::string dev = firstLineOf(slave.path().native() + "/dev");
        unsigned major = 0;
        unsigned minor = 0;
        if (std::sscanf(dev.c_str(), "%u:%u", &major, &minor) != 2)
            return {};
        const auto identity = volumeOfBlockDevice(::makedev(major, minor), depth + 1);
        if (!identity)
            return {};
        parts.push_back(std::to_string(*identity));
    }
    if (ec || parts.empty())
        return {};
    std::sort(parts.begin(), parts.end());
    std::string joined = "stack";
    for (const std::string& part : parts)
        joined += ':' + part;
    return joined;
}

// What the block device whose sysfs folder is `device` (a whole disk) says
// of itself, and only what a byte copy of it cannot share: the serial or
// WWID the disk itself reports (virtio's included); beneath loop,
// device-mapper and md devices, what they stand on. A serial found higher up
// belongs to a card reader, a dock or a USB bridge, which every disk put in
// it shares: it is never taken alone.
std::string blockDeviceIdentity(const std::string& device, int depth)
{
    if (depth > 8 || !kernelConditions().deviceSerials)
        return {};
    if (std::filesystem::exists(device + "/loop")) {
        std::string backing = firstLineOf(device + "/loop/backing_file");
        // A backing file deleted since it was attached is known by nothing
        // that lasts.
        if (backing.empty() || (backing.size() > 10 && backing.compare(backing.size() - 10, 10, " (deleted)") == 0))
            return {};
        const std::string file = identityOfFile(backing, depth);
        return file.empty() ? std::string() : "loop:" + file + ':' + firstLineOf(device + "/loop/offset");
    }
    if (std::filesystem::exists(device + "/dm") || std::filesystem::exists(device + "/md"))
        return identityOfSlaves(device, depth);
    for (const char* name : {"/wwid", "/device/wwid", "/serial", "/device/serial"})
        if (const std::string id = firstLineOf(device + name); !id.empty())
            return std::string("id:") + name + ':' + id;
    if (const std::string serial = unitSerialOf(device); !serial.empty())
        return "id:vpd80:" + serial;
    return {};
}

// Of the block device `device`: a partition is its disk's identity and its
// place on that disk.
std::optional<quint64> volumeOfBlockDevice(dev_t device, int depth)
{
    const std::string sysfs = realPathOf(sysfsFolderOf(device));
    if (sysfs.empty())
        return std::nullopt;
    std::string disk = sysfs;
    std::string partition;
    if (const std::string number = firstLineOf(sysfs + "/partition"); !number.empty()) {
        disk = sysfs.substr(0, sysfs.rfind('/'));
        partition = "part:" + number + ':' + firstLineOf(sysfs + "/start") + ':';
    }
    const std::string identity = blockDeviceIdentity(disk, depth);
    if (identity.empty())
        return std::nullopt;
    return stableHash(partition + identity);
}

// A file by what a copy of it put in its place cannot share: the identity
// of its own disk, its inode and its birth time. None where its disk or its
// birth time says nothing (a file system without birth times hands the
// freed inode to the next file, and a copy put there is born later).
std::string identityOfFile(const std::string& path, int depth)
{
    const int fd = ::open(path.c_str(), O_PATH | O_CLOEXEC);
    if (fd < 0)
        return {};
    struct statx sx {};
    struct statfs fsInfo {};
    std::string disk;
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_INO | STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME)
        && ::fstatfs(fd, &fsInfo) == 0) {
        const dev_t device = ::makedev(sx.stx_dev_major, sx.stx_dev_minor);
        if (const auto volume = ::major(device) != 0 ? volumeOfBlockDevice(device, depth + 1) : std::nullopt)
            disk = "disk:" + std::to_string(*volume);
        else if (const auto fsid = ownFileSystemId(fsInfo, device))
            disk = "fs:" + std::to_string(*fsid);
    }
    ::close(fd);
    if (disk.empty())
        return {};
    return disk + ':' + std::to_string(sx.stx_ino) + ':' + std::to_string(sx.stx_btime.tv_sec) + '.'
           + std::to_string(sx.stx_btime.tv_nsec);
}

// A UUID as sysfs writes it ("60136961-f0e4-4c23-a031-c7efba655539").
std::optional<std::array<quint8, 16>> uuidFrom(const std::string& text)
{
    std::array<quint8, 16> uuid{};
    size_t got = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '-')
            continue;
        if (i + 1 >= text.size() || got >= uuid.size())
            return std::nullopt;
        const int high = hexDigitValue(text[i]);
        const int low = hexDigitValue(text[i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        uuid[got++] = quint8(high << 4 | low);
        ++i;
    }
    if (got != uuid.size())
        return std::nullopt;
    return uuid;
}

} // namespace

std::optional<BtrfsUuids> btrfsUuidsOn(dev_t device)
{
    const std::string sysfs = realPathOf(sysfsFolderOf(device));
    if (sysfs.empty())
        return std::nullopt;
    const std::string name = std::filesystem::path(sysfs).filename().native();
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(kernelConditions().sysfs + "/fs/btrfs", ec)) {
        // Each mounted btrfs lists the block devices it stands on.
        std::error_code missing;
        if (!std::filesystem::exists(entry.path() / "devices" / name, missing))
            continue;
        const auto kernel = uuidFrom(entry.path().filename().native());
        if (!kernel)
            return std::nullopt;
        BtrfsUuids uuids{*kernel, *kernel};
        // Without a temporary UUID the kernel's is the disk's own, whatever
        // its metadata UUID (which btrfstune may have set apart from it).
        if (firstLineOf(entry.path().native() + "/temp_fsid") == "1") {
            const auto disk = uuidFrom(firstLineOf(entry.path().native() + "/metadata_uuid"));
            if (!disk)
                return std::nullopt;
            uuids.disk = *disk;
        }
        return uuids;
    }
    return std::nullopt;
}

std::optional<quint64> blockDeviceVolume(dev_t device)
{
    return volumeOfBlockDevice(device, 0);
}

std::string blockDeviceNode(dev_t device)
{
    std::ifstream in(sysfsFolderOf(device) + "/uevent");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("DEVNAME=", 0) == 0)
            return "/dev/" + line.substr(std::strlen("DEVNAME="));
    return {};
}

} // namespace platform
