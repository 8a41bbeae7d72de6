#pragma once

#include "platform/FileOps.h"
#include "platform/FileStat.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// An item reached through its parent folder, which was opened one component
// at a time without following any symbolic link. Every check and every act
// on the item goes through that one descriptor: a folder on the way that is
// swapped for a link after the check can no longer redirect the act to some
// other folder's item of the same name.
class AnchoredItem {
public:
    // Opens the parent of `item` (an absolute path). Fails with ELOOP when a
    // folder on the way is a link, ENOTDIR when it is not a folder. Only a
    // link that the administrator made in a folder only they can change
    // (/home leading to /var/home) is followed, and never when running as
    // root.
    static std::optional<AnchoredItem> open(const std::filesystem::path& item, int* err = nullptr);
    // The same, making each missing folder on the way (mkdirat in the folder
    // opened before it), so that a chain made again never passes through a
    // link either. `made`, when given, receives the folders made, outermost
    // first.
    static std::optional<AnchoredItem> openMakingFolders(const std::filesystem::path& item, int* err = nullptr,
                                                         std::vector<std::filesystem::path>* made = nullptr);
    // `name` in the open folder `folderFd`, which stays the caller's (the
    // item holds its own duplicate). `path` is what the item is called.
    static std::optional<AnchoredItem> inFolder(int folderFd, std::string name, std::filesystem::path path,
                                                int* err = nullptr);
    // A folder opened the ordinary way (links followed): a destination that
    // the user chose may be reached through a link of theirs.
    static int openFolder(const std::filesystem::path& folder, int* err = nullptr);
    // `item` in its parent opened the ordinary way (links followed), for an
    // item in a place the user chose: a later check and act still go through
    // that one descriptor.
    static std::optional<AnchoredItem> openInFolder(const std::filesystem::path& item, int* err = nullptr);

    AnchoredItem(AnchoredItem&& other) noexcept;
    AnchoredItem& operator=(AnchoredItem&& other) noexcept;
    AnchoredItem(const AnchoredItem&) = delete;
    AnchoredItem& operator=(const AnchoredItem&) = delete;
    ~AnchoredItem();

    int parentFd() const { return fd_; }
    const std::string& name() const { return name_; }
    const std::filesystem::path& path() const { return path_; }
    // The entry itself, a link described as a link.
    std::optional<FileStat> stat(int* err = nullptr) const;
    // A path that resolves through the open parent, for calls that only take
    // paths; valid while this object lives.
    std::filesystem::path procPath() const;

private:
    AnchoredItem(int fd, std::string name, std::filesystem::path path);
    static std::optional<AnchoredItem> openAnchored(const std::filesystem::path& item, int* err,
                                                    std::vector<std::filesystem::path>* made, bool makeFolders);
    int fd_ = -1;
    std::string name_;
    std::filesystem::path path_;
};

} // namespace platform
