#pragma once

#include "engine/KZAppSuppInfo.h"
#include "engine/KZNodeCache.h"

#include <QMetaType>
#include <QString>
#include <QtGlobal>

#include <atomic>
#include <ctime>
#include <filesystem>
#include <memory>

class KZSearchItemInfo;
using KZSearchItemInfoRef = std::shared_ptr<KZSearchItemInfo>;

// One scanned file or folder on its way from the scan through the candidate
// trees into the result.
//
// Sharing: the item is filled by one thread and then published (pushed onto
// a candidate stack under its lock, or handed over in the found list); from
// then on it is only read, except for the fields marked below, which later
// passes may change while other threads read the item.
//
// The location is kept as bytes; originalName is the decoded name for
// display and name comparison and is never turned back into a path.
class KZSearchItemInfo {
public:
    KZSearchItemInfo() = default;
    explicit KZSearchItemInfo(std::filesystem::path url) : url_(std::move(url)) {}
    KZSearchItemInfo(const KZSearchItemInfo&) = delete;
    KZSearchItemInfo& operator=(const KZSearchItemInfo&) = delete;

    static KZSearchItemInfoRef create(std::filesystem::path url = {})
    {
        return std::make_shared<KZSearchItemInfo>(std::move(url));
    }

    // Back to the state of a new item (the location too).
    void initializeVariables();

    const std::filesystem::path& url() const { return url_; }
    void setUrl(std::filesystem::path url) { url_ = std::move(url); }

    // A null string when the name could not be read.
    const QString& originalName() const { return originalName_; }
    void setOriginalName(const QString& name) { originalName_ = name; }

    const std::shared_ptr<KZAppSuppInfo>& appSuppInfo() const { return appSuppInfo_; }
    void setAppSuppInfo(std::shared_ptr<KZAppSuppInfo> info) { appSuppInfo_ = std::move(info); }

    quint64 totSize() const { return totSize_; }
    void setTotSize(quint64 size) { totSize_ = size; }

    quint32 type() const { return type_; }
    void setType(quint32 type) { type_ = type; }

    // For a folder or package: the number of items inside it.
    quint64 multiPurposeInfo() const { return multiPurposeInfo_; }
    void setMultiPurposeInfo(quint64 value) { multiPurposeInfo_ = value; }

    qint16 label() const { return label_; }
    void setLabel(qint16 label) { label_ = label; }

    bool isLocked() const { return isLocked_; }
    void setIsLocked(bool value) { isLocked_ = value; }
    bool isDirectory() const { return isDirectory_; }
    void setIsDirectory(bool value) { isDirectory_ = value; }
    bool isPackage() const { return isPackage_; }
    void setIsPackage(bool value) { isPackage_ = value; }
    bool isAlias() const { return isAlias_; }
    void setIsAlias(bool value) { isAlias_ = value; }
    bool isApplication() const { return isApplication_; }
    void setIsApplication(bool value) { isApplication_ = value; }

    // Changed after publication (a comparison may clear it): atomic.
    bool isImageContent() const { return isImageContent_.load(std::memory_order_relaxed); }
    void setIsImageContent(bool value) { isImageContent_.store(value, std::memory_order_relaxed); }

    // Assigned when the item is found, read by the progress display: atomic.
    quint64 fileTypeLabel() const { return fileTypeLabel_.load(std::memory_order_relaxed); }
    void setFileTypeLabel(quint64 tag) { fileTypeLabel_.store(tag, std::memory_order_relaxed); }

    // Identity and state as read by the scan. Removal compares them with the
    // item on disk before it changes anything, so that an item replaced or
    // edited since the search is never taken for the one that was found.
    // Zero device and inode: never read.
    quint64 device() const { return device_; }
    void setDevice(quint64 device) { device_ = device; }
    quint64 inode() const { return inode_; }
    void setInode(quint64 inode) { inode_ = inode; }
    const timespec& modificationTime() const { return modificationTime_; }
    void setModificationTime(const timespec& time) { modificationTime_ = time; }
    bool hasIdentity() const { return inode_ != 0; }
    // Directory entries that name the file (st_nlink) as the scan saw it; 0
    // when not read. A file named once cannot be met under a second path
    // except through the same entry.
    quint64 linkCount() const { return linkCount_; }
    void setLinkCount(quint64 count) { linkCount_ = count; }

    // The pixel record of an image-content item, made by the scan and taken
    // over by the tree node that compares it. Only the thread that owns the
    // item's node touches it.
    bool hasImageRecord() const { return imageRecord_ != nullptr; }
    void setImageRecord(std::unique_ptr<KZNodeCache> record) { imageRecord_ = std::move(record); }
    std::unique_ptr<KZNodeCache> takeImageRecord() { return std::move(imageRecord_); }

    // The last extension of originalName ("gz" of "archive.tar.gz"); empty
    // when there is none. A leading dot starts a name, not an extension.
    QString extension() const;
    // originalName without its last extension when asked, else unchanged.
    QString nameWithOption(bool withoutExtension) const;

    // The same rules on any name.
    static QString extensionOfName(const QString& name);
    static QString nameWithoutExtension(const QString& name);

private:
    std::filesystem::path url_;
    QString originalName_;
    std::shared_ptr<KZAppSuppInfo> appSuppInfo_;
    std::unique_ptr<KZNodeCache> imageRecord_;
    quint64 totSize_ = 0;
    quint64 multiPurposeInfo_ = 0;
    std::atomic<quint64> fileTypeLabel_{0};
    quint64 device_ = 0;
    quint64 inode_ = 0;
    quint64 linkCount_ = 0;
    timespec modificationTime_{};
    quint32 type_ = 0;
    qint16 label_ = -1;
    bool isLocked_ = false;
    bool isDirectory_ = false;
    bool isPackage_ = false;
    std::atomic<bool> isImageContent_{false};
    bool isAlias_ = false;
    bool isApplication_ = false;
};

Q_DECLARE_METATYPE(KZSearchItemInfoRef)
