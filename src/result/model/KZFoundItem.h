#pragma once

#include "engine/TreeToCheck.h"

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QVariant>
#include <QtGlobal>

#include <atomic>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>

namespace platform {
class OperationQueue;
struct FileStat;
struct FileSystemFacts;
} // namespace platform

class KZFoundItem;
using KZFoundItemRef = std::shared_ptr<KZFoundItem>;
// Arrays of found items are implicitly shared: a copy is a cheap snapshot
// that a reader can walk while the owner edits its own.
using KZFoundItemArray = QList<KZFoundItemRef>;

// One duplicate of a result: a file, package or folder that the engine put in
// a group of equal items.
//
// An item keeps what the engine already knew and fetches the rest on first
// use: kind, creation date, the type codes of a package, the size of a
// folder, and a bookmark that finds the file again after a rename in its
// folder. Each of those is worked out at most once per item; the slow ones
// (folder sizes, bookmarks) run on the shared facts queue, whose width is
// bounded, and readers see the unknown value (0, an empty bookmark) until
// they land.
//
// Threads: items are built on the model's queue and then read from the main
// thread and from list threads. Marks, tags, sizes and dates are atomics;
// the location, texts and the bookmark sit behind the item's own locks. The
// icon slot is for the windows; the model neither reads nor draws icons.
//
// Items must be owned by a shared pointer (use itemWithTreeNode): background
// work holds a weak reference and leaves a dropped item alone.
class KZFoundItem : public std::enable_shared_from_this<KZFoundItem> {
public:
    // The file-type tag of an item whose tab is being worked out again.
    static constexpr quint64 unassignedFileTypeTag = ~quint64(0);

    static KZFoundItemRef itemWithTreeNode(const TreeToCheck& node);

    // Fills the item from the node and its record; the node keeps its own
    // references. Prefer itemWithTreeNode.
    explicit KZFoundItem(const TreeToCheck& node);
    virtual ~KZFoundItem();
    KZFoundItem(const KZFoundItem&) = delete;
    KZFoundItem& operator=(const KZFoundItem&) = delete;

    // ---- Location ----------------------------------------------------------

    // The item's location, repaired through the bookmark when the file was
    // renamed in its folder. Empty when the file cannot be found (or was
    // removed and is gone). The first call schedules the bookmark.
    std::filesystem::path url();
    // The present path, or missingPath() ("--") when the file cannot be found.
    // "--" is for display only, never a location to act on: use url().
    std::filesystem::path path();
    static const std::filesystem::path& missingPath();
    // The library position when the item has one, else the path, as text.
    QString pathToDisplayInCell();
    // The location as last recorded, without looking at the disk: kept when
    // the file cannot be found (an export still names where it was).
    std::filesystem::path recordedURL() const { return urlField(); }
    // The path recorded by setStorePath(); empty when none.
    std::filesystem::path storedPath() const;
    // Records the present path; the removal calls it just before the file goes.
    void setStorePath();
    // The name of the folder that holds the item; empty for a missing file.
    QString parent();

    // The name at the present location, which follows a rename as url()
    // does; a file that cannot be found keeps the name it had.
    QString name();
    // The name as last recorded, without looking at the disk (for work over
    // every item, which must not read the disk for each).
    QString recordedName() const;
    // The name read from the disk once, the first time it is asked for, and
    // from then on as last recorded: every later look at the item's place
    // (url(), name(), a row shown) still follows a rename. For work over
    // every item (finding, sorting), which reads the disk only on its first
    // pass.
    QString knownName();
    // How often the item looked for its place on the disk (url()).
    quint32 placeChecks() const { return placeChecks_.load(std::memory_order_relaxed); }
    QString extension();
    bool isInvisible();

    // ---- Bookmark ------------------------------------------------------------

    QByteArray aliasData() const;
    void setAliasData(const QByteArray& data);
    // Set once a bookmark was made, is being made, or came with a saved
    // result: no further bookmark is then scheduled.
    bool aliasAlreadyCreated() const { return aliasAlreadyCreated_.load(); }
    void setAliasAlreadyCreated(bool value) { aliasAlreadyCreated_.store(value); }
    // Makes the bookmark now, on the calling thread (failure leaves none).
    void createAlias();
    std::recursive_mutex& aliasLock() const { return aliasLock_; }

    // ---- Libraries -------------------------------------------------------------

    QString supportAppPath() const;
    void setSupportedAppLibraryPosition(const QString& position);
    QString trackID() const;
    void setTrackID(const QString& trackID);
    bool isPhotosItem() const { return isPhotosItem_; }
    bool isiTunesItem() const { return isiTunesItem_; }

    // ---- Facts read on first use ------------------------------------------------

    // The type description; empty for a file that cannot be found.
    QString kind();
    void gatherKind();

    // A folder that is not a package answers 0. A package reads its codes
    // from its Finder information on first use.
    quint32 type();
    quint32 creator();
    void osTypePackage();

    // Seconds since 1 January 2001 GMT; the placeholder date (0) when the
    // file has none. dateModified() goes through url() and its repair;
    // dateModifiedWithoutChecking() reads the recorded location as it is.
    double dateModified();
    double dateModifiedWithoutChecking();
    QDateTime cfDateModified();
    QString formattedDateModified();
    double dateCreated();
    QDateTime cfDateCreated();
    QString formattedDateCreated();

    // Bytes; 0 while unknown. A package's size and any folder's folderSize()
    // are computed in the background, once; a file's is read at once.
    quint64 size();
    void setSize(quint64 size);
    quint64 folderSize();
    quint64 cfSize() { return folderSize(); }
    // Computes a folder's size on the calling thread unless it is known;
    // waits instead when a computation of it is already running.
    void forceCalculateFolderSize();
    // Stores the size of the files under `folder`.
    void getDirectorySize(const std::filesystem::path& folder);

    // ---- Facts from the engine -------------------------------------------------

    bool isDirectory() const { return isDirectory_; }
    bool isPackage() const { return isPackage_; }
    bool isAlias() const { return isAlias_; }
    // -1 when the search had one source, else the index of the source.
    qint16 locationLabelTag() const { return locationLabelTag_; }
    qint64 groupID() const { return groupID_; }

    // The identity the scan read; the removal compares it with the file on
    // disk before it changes anything. Zero device and inode: never read.
    quint64 device() const { return device_; }
    quint64 inode() const { return inode_; }
    const timespec& modificationTime() const { return modificationTime_; }
    // Rebuilt from a saved result: its identity was read when the result
    // was reopened, not when the duplicates were compared.
    bool isFromSavedResult() const { return isFromSavedResult_; }
    // Its disk as the scan met it (KZFoundList::diskOf), shared by every
    // item of the disk: the bookmark and every record made from what the
    // scan read name it, not whatever disk has its number by then. Given
    // before the item is shared; null when the scan's disks are not known.
    const std::shared_ptr<const platform::FileSystemFacts>& diskAsScanned() const { return diskAsScanned_; }
    void setDiskAsScanned(std::shared_ptr<const platform::FileSystemFacts> disk) { diskAsScanned_ = std::move(disk); }
    // Whether `now`, read at `path`, is on the disk the scan read the item
    // on: under its device number, or under another one where the disk's
    // marks as the scan read them prove it.
    bool isOnDiskAsScanned(const platform::FileStat& now, const std::filesystem::path& path) const;

    // ---- State -----------------------------------------------------------------

    bool isMarked() const { return isMarked_.load(std::memory_order_relaxed); }
    // Marking takes the item's size at that moment as the size it adds to
    // the marked totals.
    void setIsMarked(bool value);
    // What the marked totals hold for this item: its size when it was last
    // marked, or its current size if it never was. A folder's or package's
    // size arrives later than its mark; counting it in at one size and out at
    // another would make the totals drift, even below zero.
    quint64 countedSize();
    bool isRemoved() const { return isRemoved_.load(); }
    void setIsRemoved(bool value) { isRemoved_.store(value); }
    quint64 fileTypeTag() const { return fileTypeTag_.load(std::memory_order_relaxed); }
    void setFileTypeTag(quint64 tag) { fileTypeTag_.store(tag, std::memory_order_relaxed); }
    // Set once the item's path was found missing.
    bool alreadyShown() const { return alreadyShown_.load(std::memory_order_relaxed); }
    void setAlreadyShown(bool value) { alreadyShown_.store(value, std::memory_order_relaxed); }

    // ---- The group's members counter ---------------------------------------------

    // Members of the group still present; 0 for an item without a group.
    quint32 countOfItemsInGroup() const;
    // This item leaves the count (removed) or joins it again (removal undone).
    // Each only acts when the item is not already on that side, so a repeated
    // call can never push the count away from the members really present.
    void subtractUnitItemsInGroup();
    void addUnitItemsInGroup();
    // Leaves the count and lets the counter go; the last member to let go
    // frees it. Called by the destructor.
    void itemWillRemoveWithFlag();

    // ---- For the windows -----------------------------------------------------------

    // The icon the windows cached for the item; dropped when the item's
    // location changes.
    QImage fileIcon() const;
    void setFileIcon(const QImage& icon);
    // The image of the item's location label; a null image for a search of
    // one source (-1) or a label without an image.
    QImage locationImage() const;

    // The value of a list column: name and kind as text, sizes as unsigned
    // integers, the date as a date, the location label and group as integers,
    // the mark as the integer 1 or 0. Any other key answers the item itself.
    QVariant valueForUndefinedKey(const QString& key);

    // Tells the user that nothing is at `path` any more (suppressible).
    void showPathError(const QString& path);

protected:
    void initializeWithNode(const TreeToCheck& node);

private:
    // The location field as it is, without repair.
    std::filesystem::path urlField() const;
    bool sizeIsBackground() const { return isPackage_ || isDirectory_; }
    void scheduleFolderSize();
    void scheduleAlias();
    double readDate(bool created, bool checking);

    // Guards url_, name_, storedPath_, kind_, supportAppPath_, trackID_, fileIcon_.
    mutable std::mutex lock_;
    mutable std::recursive_mutex aliasLock_;

    std::filesystem::path url_;
    QString name_;
    std::filesystem::path storedPath_;
    QString kind_;
    QString supportAppPath_;
    QString trackID_;
    QImage fileIcon_;
    QByteArray aliasData_;

    KZItemsInGroup itemsInGroup_;
    std::atomic<bool> countedInGroup_{false};

    std::atomic<quint64> size_{0};
    std::atomic<double> dateModified_{0.0};
    std::atomic<double> dateCreated_{0.0};
    std::atomic<quint32> type_{0};
    std::atomic<quint32> creator_{0};
    std::atomic<quint64> fileTypeTag_{0};

    std::atomic<std::uint8_t> kindState_{0};
    std::atomic<std::uint8_t> sizeState_{0};
    std::atomic<std::uint8_t> modifiedState_{0};
    std::atomic<std::uint8_t> createdState_{0};
    std::atomic<std::uint8_t> osTypeState_{0};

    std::atomic<bool> isMarked_{false};
    std::atomic<bool> hasCountedSize_{false};
    std::atomic<quint64> countedSize_{0};
    std::atomic<bool> isRemoved_{false};
    std::atomic<bool> aliasAlreadyCreated_{false};
    std::atomic<bool> alreadyShown_{false};
    std::atomic<bool> nameIsKnown_{false};
    std::atomic<quint32> placeChecks_{0};

    qint64 groupID_ = 0;
    quint64 device_ = 0;
    quint64 inode_ = 0;
    timespec modificationTime_{};
    qint16 locationLabelTag_ = -1;
    bool isDirectory_ = false;
    bool isPackage_ = false;
    bool isAlias_ = false;
    bool isPhotosItem_ = false;
    bool isiTunesItem_ = false;
    bool hasScanTime_ = false;
    bool isFromSavedResult_ = false;
    std::shared_ptr<const platform::FileSystemFacts> diskAsScanned_;
};

// The shared queue of the items' background work (folder sizes, bookmarks):
// a few threads, whatever the number of items.
platform::OperationQueue& KZFoundItemFactsQueue();

// The items a request or notification carries, whether it holds the array
// itself or a plain list of single items.
KZFoundItemArray KZFoundItemsOfVariant(const QVariant& value);

Q_DECLARE_METATYPE(KZFoundItemRef)
