#pragma once

#include "engine/KZAppSuppInfo.h"
#include "engine/KZNodeCache.h"

#include <QMetaType>
#include <QString>
#include <QtGlobal>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

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
// display and name comparison and is never turned back into a path. A scan
// holds every item it meets at once, so an item listed from a folder keeps
// only its name and shares the folder's location with its siblings; the
// full location is put together when asked for.
class KZSearchItemInfo {
public:
    // The location of a folder, as bytes, shared by the items listed from
    // it: one pointer in each item, the count beside the bytes.
    class Folder {
    public:
        Folder() = default;
        explicit Folder(std::string bytes) : shared_(new Shared{{1}, std::move(bytes)}) {}
        Folder(const Folder& other) : shared_(other.shared_) { retain(); }
        Folder(Folder&& other) noexcept : shared_(std::exchange(other.shared_, nullptr)) {}
        Folder& operator=(Folder other) noexcept
        {
            std::swap(shared_, other.shared_);
            return *this;
        }
        ~Folder() { reset(); }
        void reset()
        {
            if (shared_ && shared_->count.fetch_sub(1, std::memory_order_acq_rel) == 1)
                delete shared_;
            shared_ = nullptr;
        }
        explicit operator bool() const { return shared_ != nullptr; }
        const std::string& operator*() const { return shared_->bytes; }
        const std::string* operator->() const { return &shared_->bytes; }

    private:
        struct Shared {
            std::atomic<quint32> count;
            const std::string bytes;
        };
        void retain()
        {
            if (shared_)
                shared_->count.fetch_add(1, std::memory_order_relaxed);
        }
        Shared* shared_ = nullptr;
    };

    KZSearchItemInfo() = default;
    explicit KZSearchItemInfo(const std::filesystem::path& url) { leaf_.assign(url.native()); }
    KZSearchItemInfo(Folder folder, const std::string& name) : folder_(std::move(folder)) { leaf_.assign(name); }
    KZSearchItemInfo(const KZSearchItemInfo&) = delete;
    KZSearchItemInfo& operator=(const KZSearchItemInfo&) = delete;

    static KZSearchItemInfoRef create(const std::filesystem::path& url = {})
    {
        return std::make_shared<KZSearchItemInfo>(url);
    }
    // An entry `name` of the folder at `folder` (bytes, shared by the
    // folder's entries).
    static KZSearchItemInfoRef create(Folder folder, std::string name)
    {
        return std::make_shared<KZSearchItemInfo>(std::move(folder), name);
    }
    static Folder makeFolder(const std::filesystem::path& folder) { return Folder(folder.native()); }

    // Back to the state of a new item (the location too).
    void initializeVariables();

    std::filesystem::path url() const { return std::filesystem::path(urlBytes()); }
    std::string urlBytes() const;
    void setUrl(const std::filesystem::path& url)
    {
        folder_.reset();
        leaf_.assign(url.native());
    }

    // A null string when the name could not be read.
    QString originalName() const;
    bool hasOriginalName() const { return flag(NameFromLocation) || (rare_ && !rare_->name.isNull()); }
    void setOriginalName(const QString& name)
    {
        if (!name.isNull() || rare_)
            rare().name = name;
        setFlag(NameFromLocation, false);
    }
    // The name is the last part of the location, decoded, as a listing gives
    // it: kept once, as the location's bytes, and decoded when asked for.
    void setOriginalNameFromLocation()
    {
        if (rare_)
            rare_->name = QString();
        setFlag(NameFromLocation, true);
    }

    const std::shared_ptr<KZAppSuppInfo>& appSuppInfo() const;
    void setAppSuppInfo(std::shared_ptr<KZAppSuppInfo> info)
    {
        if (info || rare_)
            rare().appSuppInfo = std::move(info);
    }

    quint64 totSize() const { return totSize_; }
    void setTotSize(quint64 size) { totSize_ = size; }

    quint32 type() const { return type_; }
    void setType(quint32 type) { type_ = type; }

    // The Finder flags as the scan read them with the type; none for an item
    // read otherwise, whose flags are then asked of the file.
    std::optional<quint16> finderFlags() const
    {
        return flag(HasFinderFlags) ? std::optional<quint16>(finderFlags_) : std::nullopt;
    }
    void setFinderFlags(quint16 flags)
    {
        finderFlags_ = flags;
        setFlag(HasFinderFlags, true);
    }

    // For a folder or package: the number of items inside it.
    quint64 multiPurposeInfo() const { return rare_ ? rare_->multiPurposeInfo : 0; }
    void setMultiPurposeInfo(quint64 value)
    {
        if (value != 0 || rare_)
            rare().multiPurposeInfo = value;
    }

    qint16 label() const { return label_; }
    void setLabel(qint16 label) { label_ = label; }

    bool isLocked() const { return flag(Locked); }
    void setIsLocked(bool value) { setFlag(Locked, value); }
    bool isDirectory() const { return flag(Directory); }
    void setIsDirectory(bool value) { setFlag(Directory, value); }
    bool isPackage() const { return flag(Package); }
    void setIsPackage(bool value) { setFlag(Package, value); }
    bool isAlias() const { return flag(Alias); }
    void setIsAlias(bool value) { setFlag(Alias, value); }
    bool isApplication() const { return flag(Application); }
    void setIsApplication(bool value) { setFlag(Application, value); }
    // A regular file as the scan saw it: the only kind whose content is ever
    // opened. Links, pipes, sockets and devices are never read (opening a
    // device can act on it, a pipe can block the search).
    bool isRegularFile() const { return flag(RegularFile); }
    void setIsRegularFile(bool value) { setFlag(RegularFile, value); }
    // The scan tried to read the file and could not: no comparison opens it
    // again.
    bool isContentUnreadable() const { return flag(ContentUnreadable); }
    void setIsContentUnreadable(bool value) { setFlag(ContentUnreadable, value); }
    // Rebuilt from a saved result rather than found by a search: what is
    // known of it may be days old, so a removal compares its content with
    // the copy that stays before it goes.
    bool isFromSavedResult() const { return flag(FromSavedResult); }
    void setIsFromSavedResult(bool value) { setFlag(FromSavedResult, value); }
    // A rebuilt item's mark, as the reopening left it: the found item made
    // from it starts with it, so that no table of marks by path is made for
    // a large result.
    bool isSavedMarked() const { return flag(SavedMarked); }
    void setIsSavedMarked(bool value) { setFlag(SavedMarked, value); }

    // Changed after publication (a comparison may clear it): atomic.
    bool isImageContent() const { return flag(ImageContent); }
    void setIsImageContent(bool value) { setFlag(ImageContent, value); }

    // Assigned when the item is found, read by the progress display: atomic.
    quint64 fileTypeLabel() const { return fileTypeLabel_.load(std::memory_order_relaxed); }
    void setFileTypeLabel(quint64 tag) { fileTypeLabel_.store(tag, std::memory_order_relaxed); }

    // Identity and state as read by the scan. Removal compares them with the
    // item on disk before it changes anything, so that an item replaced or
    // edited since the search is never taken for the one that was found.
    // Zero device and inode: never read.
    quint64 device() const { return flag(ExactDevice) ? rare_->device : device_; }
    void setDevice(quint64 device);
    quint64 inode() const { return inode_; }
    void setInode(quint64 inode) { inode_ = inode; }
    timespec modificationTime() const;
    void setModificationTime(const timespec& time);
    bool hasIdentity() const { return inode_ != 0; }
    // Directory entries that name the file (st_nlink) as the scan saw it; 0
    // when not read. A file named once cannot be met under a second path
    // except through the same entry. More names than 65,535 are counted as
    // that many.
    quint64 linkCount() const { return linkCount_; }
    void setLinkCount(quint64 count) { linkCount_ = quint16(std::min<quint64>(count, 0xFFFFu)); }

    // The pixel record of an image-content item, made by the scan and taken
    // over by the tree node that compares it. Only the thread that owns the
    // item's node touches it.
    bool hasImageRecord() const { return scanRecord_ && scanRecord_->kind() != KZNodeCache::Kind::Content; }
    void setImageRecord(std::unique_ptr<KZNodeCache> record) { scanRecord_ = std::move(record); }
    std::unique_ptr<KZNodeCache> takeImageRecord()
    {
        return hasImageRecord() ? std::move(scanRecord_) : std::unique_ptr<KZNodeCache>();
    }

    // The hashed content of a small file, made by the scan when another file
    // of its size had been met (its first comparison would read it all), and
    // taken over by the item's tree node. Never set on image-content items.
    void setContentCache(std::unique_ptr<KZNodeCache> cache) { scanRecord_ = std::move(cache); }
    std::unique_ptr<KZNodeCache> takeContentCache()
    {
        return scanRecord_ && scanRecord_->kind() == KZNodeCache::Kind::Content ? std::move(scanRecord_)
                                                                                 : std::unique_ptr<KZNodeCache>();
    }

    // A folder's emptiness as the scan's own listing of it showed, so that
    // the filters need not list it again; empty when the scan could not tell.
    std::optional<bool> emptyAsScanned() const
    {
        return flag(EmptinessKnown) ? std::optional<bool>(flag(EmptyAsScanned)) : std::nullopt;
    }
    void setEmptyAsScanned(bool empty)
    {
        setFlag(EmptinessKnown, true);
        setFlag(EmptyAsScanned, empty);
    }

    // The last extension of originalName ("gz" of "archive.tar.gz"); empty
    // when there is none. A leading dot starts a name, not an extension.
    QString extension() const;
    // originalName without its last extension when asked, else unchanged.
    QString nameWithOption(bool withoutExtension) const;

    // The same rules on any name.
    static QString extensionOfName(const QString& name);
    static QString nameWithoutExtension(const QString& name);

private:
    // Bytes kept in 16 bytes: up to 15 in place (most names), longer ones
    // in a block of their exact length. A scan holds one name per item it
    // met, so the half of a std::string this saves counts.
    class Bytes {
    public:
        Bytes() = default;
        ~Bytes() { release(); }
        Bytes(const Bytes&) = delete;
        Bytes& operator=(const Bytes&) = delete;
        void assign(std::string_view bytes);
        void clear()
        {
            release();
            bytes_[kTag] = 0;
        }
        std::string_view view() const
        {
            if (!isLarge())
                return std::string_view(bytes_, std::size_t(quint8(bytes_[kTag])));
            const char* data = nullptr;
            quint32 size = 0;
            std::memcpy(&data, bytes_, sizeof data);
            std::memcpy(&size, bytes_ + sizeof data, sizeof size);
            return std::string_view(data, size);
        }

    private:
        static constexpr std::size_t kTag = 15; // the in-place length, or kLarge
        static constexpr char kLarge = char(0xFF);
        bool isLarge() const { return bytes_[kTag] == kLarge; }
        void release();
        // In place: the bytes, then their count in the last byte. Larger:
        // the block's address and length, then kLarge.
        char bytes_[16] = {};
    };
    static_assert(sizeof(Bytes) == 16);

    Folder folder_; // null: leaf_ is the whole location
    Bytes leaf_;
    // What few items carry, kept apart: a name given other than by the
    // location, the library record, a folder's item count, and an identity
    // the packed fields below cannot hold.
    struct Rare {
        QString name; // null: no name, or the location's last part
        std::shared_ptr<KZAppSuppInfo> appSuppInfo;
        quint64 multiPurposeInfo = 0;
        quint64 device = 0;
        timespec modificationTime{};
    };
    Rare& rare()
    {
        if (!rare_)
            rare_ = std::make_unique<Rare>();
        return *rare_;
    }
    // The flags share one atomic word: most are written only while the item
    // is filled, before it is published, but ImageContent changes after
    // publication (a comparison may clear it) while other threads read.
    enum Flag : quint16 {
        Locked = 1u << 0,
        Directory = 1u << 1,
        Package = 1u << 2,
        Alias = 1u << 3,
        Application = 1u << 4,
        NameFromLocation = 1u << 5,
        RegularFile = 1u << 6,
        ContentUnreadable = 1u << 7,
        HasFinderFlags = 1u << 8,
        EmptinessKnown = 1u << 9,
        EmptyAsScanned = 1u << 10,
        ImageContent = 1u << 11,
        ExactDevice = 1u << 12,           // the device is rare_->device
        ExactModificationTime = 1u << 13, // the time is rare_->modificationTime
        FromSavedResult = 1u << 14,
        SavedMarked = 1u << 15,
    };
    bool flag(Flag f) const { return flags_.load(std::memory_order_relaxed) & f; }
    void setFlag(Flag f, bool value)
    {
        if (value)
            flags_.fetch_or(f, std::memory_order_relaxed);
        else
            flags_.fetch_and(quint16(~f), std::memory_order_relaxed);
    }

    // A scan holds one record per item it meets, so every field counts: the
    // record fits 88 bytes (112 with its count, in one allocation). The
    // device and the modification time are packed; the rare values that do
    // not fit go to rare_.
    std::unique_ptr<Rare> rare_;
    std::unique_ptr<KZNodeCache> scanRecord_; // an image record or a content cache, until a node takes it
    quint64 totSize_ = 0;
    std::atomic<quint64> fileTypeLabel_{0};
    quint64 inode_ = 0;
    // Seconds (signed, 34 bits: the years 1698 to 2242) above nanoseconds
    // (30 bits).
    quint64 modificationTime_ = 0;
    quint32 device_ = 0;
    quint32 type_ = 0;
    qint16 label_ = -1;
    quint16 finderFlags_ = 0;
    quint16 linkCount_ = 0; // more names than this are counted as this many
    std::atomic<quint16> flags_{0};
};

// One record per item met: a field added here costs every search memory.
static_assert(sizeof(void*) != 8 || sizeof(KZSearchItemInfo) <= 88, "the item record outgrew its 88 bytes");

Q_DECLARE_METATYPE(KZSearchItemInfoRef)
