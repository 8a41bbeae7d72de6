#pragma once

#include "platform/FileOps.h"

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>

// The file operations of a removal, in one place: the engine never calls the
// system directly, so tests can make a step fail the way a disk would.
// Every operation answers false (or nullopt) with the errno in `err`.
class KZRemovalFileSystem {
public:
    virtual ~KZRemovalFileSystem() = default;

    // platform::noUsableTrash in `err` when the item's volume has no trash.
    virtual std::optional<std::filesystem::path> moveToTrash(const std::filesystem::path& item, int* err);
    virtual bool moveNoReplace(const std::filesystem::path& from, const std::filesystem::path& to, int* err);
    virtual bool copyTree(const std::filesystem::path& from, const std::filesystem::path& to,
                          const platform::StopTest& stopped, int* err);
    virtual bool removeTree(const std::filesystem::path& path, const platform::StopTest& stopped, int* err);
    // A hard link at `newPath` to `existing`; never replaces.
    virtual bool link(const std::filesystem::path& existing, const std::filesystem::path& newPath, int* err);
    virtual bool makeFolder(const std::filesystem::path& path, int* err);
    // Empty when the volume cannot be asked. Types that are not known network
    // file systems count as local.
    virtual std::optional<bool> isLocalVolume(const std::filesystem::path& path);
    virtual bool isLocked(const std::filesystem::path& path);

private:
    // Reading the mount table for each of thousands of items would cost more
    // than the moves; a removal asks once per device.
    std::mutex localityMutex_;
    std::map<dev_t, std::optional<bool>> localityByDevice_;
};
