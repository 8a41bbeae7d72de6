#pragma once

#include "platform/DirectoryListing.h"
#include "platform/FileStat.h"
#include "platform/FinderInfo.h"
#include "services/KZFilesUtilities.h"

#include <QString>
#include <QtGlobal>

#include <filesystem>
#include <optional>
#include <string>

// What the scan knows of one item, read once: the stat that the listing made
// on the folder's descriptor (or one lstat for a lone path) and, when first
// asked, the Finder information (one lgetxattr). Every question the per-item
// reading and the filters ask is answered from these two reads. Symbolic
// links are described, never followed.
//
// One object per item and thread; the lazy read is not synchronised.
class KZItemAttributes {
public:
    KZItemAttributes() = default;
    // A copy holds its path itself: it may outlive the listing it came from.
    KZItemAttributes(const KZItemAttributes& other);
    KZItemAttributes& operator=(const KZItemAttributes& other);
    KZItemAttributes(KZItemAttributes&& other);
    KZItemAttributes& operator=(KZItemAttributes&& other);
    ~KZItemAttributes() = default;

    // An entry of a listing of `parent`. With the folder's descriptor, the
    // Finder information is read relative to it, which spares the system a
    // walk down the whole path for every item; the descriptor must stay open
    // while the attributes are asked. The item's path is put together only
    // when asked, so `parent` must outlive the attributes (a copy does not
    // depend on it).
    static KZItemAttributes fromEntry(const std::filesystem::path& parent, const platform::DirEntry& entry,
                                      int parentFd = -1);
    // A lone item; its attributes are read now.
    static KZItemAttributes read(const std::filesystem::path& path);
    // A lone item whose stat (links described, not followed; none when it
    // is not there) was just read by the caller.
    static KZItemAttributes described(std::filesystem::path path, std::optional<platform::FileStat> stat);

    const std::filesystem::path& path() const;
    // Hands the path over to a caller done with it; the path is empty after.
    std::filesystem::path takePath();
    // The last component of the path, as bytes.
    const std::string& name() const { return name_; }
    bool exists() const { return stat_.has_value(); }
    const std::optional<platform::FileStat>& stat() const { return stat_; }

    // The name as bytes and decoded; empty when there is no item.
    std::optional<QString> fileName() const;
    std::filesystem::path parentDirectory() const;

    bool isSymbolicLink() const { return stat_ && stat_->isSymlink(); }
    // Folders and packages; a link to a folder is not one.
    bool isDirectory() const { return stat_ && stat_->isDir(); }
    // A folder document by its extension, or a folder on which a mount of
    // a photo library's folder stands.
    bool isPackage() const;
    bool isApplication() const;
    // A leading full stop, or the Finder's invisible flag.
    bool isHidden() const;
    // A symbolic link, or an item whose Finder flags mark it as an alias.
    bool isAlias() const;
    // The immutable flag.
    bool isLocked() const;
    bool hasCustomIcon() const;
    // The Finder's colour label, 0 (none) to 7; empty when there is no item.
    std::optional<int> labelNumber() const;
    // The four-character type code; 0 when the item carries none.
    quint32 typeCode() const;
    // A file's size in bytes; empty for folders and missing items.
    std::optional<quint64> totalFileSize() const;

    // Device and inode; null when there is no item.
    KZObjectID objectID() const;

    const platform::FinderInfo& finderInfo() const;

    // One-shot questions about a lone path, each answered from a fresh read;
    // a missing item answers empty, false or a null identifier.
    static std::filesystem::path pathWithURL(const std::filesystem::path& path, int* posixError = nullptr);
    static std::optional<QString> fileNameWithURL(const std::filesystem::path& path);
    static std::filesystem::path parentDirectoryWithURL(const std::filesystem::path& path);
    static bool isApplicationWithURL(const std::filesystem::path& path);
    static bool isPackageWithURL(const std::filesystem::path& path);
    static bool isDirectoryWithURL(const std::filesystem::path& path);
    static bool isHiddenWithURL(const std::filesystem::path& path);
    static bool isAliasWithURL(const std::filesystem::path& path);
    static bool isLockedWithURL(const std::filesystem::path& path);
    static KZObjectID directoryIDWithURL(const std::filesystem::path& path);
    static bool hasCustomIcon(const std::filesystem::path& path);

private:
    // Puts the path together from the parent and the name, once.
    void holdPath() const;

    mutable std::filesystem::path path_;
    mutable const std::filesystem::path* parent_ = nullptr; // until path_ is put together
    std::string name_;
    int parentFd_ = -1;
    std::optional<platform::FileStat> stat_;
    mutable std::optional<platform::FinderInfo> finderInfo_;
};
