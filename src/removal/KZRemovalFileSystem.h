#pragma once

#include "platform/AnchoredItem.h"
#include "platform/FileOps.h"
#include "platform/Trash.h"

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>

// The file operations of a removal, in one place: the engine never calls the
// system directly, so tests can make a step fail the way a disk would, or
// change the tree between the engine's check and its act.
// Every operation on a found item acts through the item's open parent folder
// (platform::AnchoredItem), never through its path again. Every operation
// answers false (or nullopt) with the errno in `err`.
class KZRemovalFileSystem {
public:
    virtual ~KZRemovalFileSystem() = default;

    // platform::noUsableTrash in `err` when the item's volume has no trash.
    virtual std::optional<std::filesystem::path> moveToTrash(const platform::AnchoredItem& item, int* err);
    // Into `to`'s open folder: whatever happens to the names on the way to
    // it after it was opened, the item lands in that very folder.
    virtual bool moveNoReplace(const platform::AnchoredItem& from, const platform::AnchoredItem& to, int* err);
    // Takes a move back: `from` is where the removal put the item.
    virtual bool moveBack(const std::filesystem::path& from, const platform::AnchoredItem& to, int* err);
    // Into `to`'s open folder; a failed copy is cleaned up through it too.
    virtual bool copyTree(const platform::AnchoredItem& from, const platform::AnchoredItem& to,
                          const platform::StopTest& stopped, int* err);
    // `deletedSome`: whether anything of the item went before a failure.
    virtual bool removeTree(const platform::AnchoredItem& item, const platform::StopTest& stopped, int* err,
                            bool* deletedSome = nullptr);
    // EXDEV when the item is a mount point or one lies beneath it, else 0. A
    // folder in it that cannot be read is judged by the mount table.
    virtual int mountInside(const platform::AnchoredItem& item);
    // A hard link at `at` to `existing`; never replaces.
    virtual bool link(const platform::AnchoredItem& existing, const platform::AnchoredItem& at, int* err);
    // The folder `name` in the open folder `dirfd`.
    virtual bool makeFolderAt(int dirfd, const std::string& name, int* err);
    // Empty when the volume cannot be asked. Types that are not known network
    // file systems count as local.
    virtual std::optional<bool> isLocalVolume(const std::filesystem::path& path);
    // Whether the item's volume has a trash that it can go to (made there
    // for the question and taken away again).
    virtual bool canTrash(const std::filesystem::path& path);
    virtual bool isLocked(const std::filesystem::path& path);

private:
    // Reading the mount table, or making a trash, for each of thousands of
    // items would cost more than the moves; a removal asks once per device.
    std::mutex localityMutex_;
    std::map<dev_t, std::optional<bool>> localityByDevice_;
    std::map<dev_t, bool> trashByDevice_;
    platform::TrashNumbering trashNumbering_;
};
