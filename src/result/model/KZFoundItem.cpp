#include "result/model/KZFoundItem.h"

#include "engine/KZAppSuppInfo.h"
#include "engine/KZSearchItemInfo.h"
#include "platform/Bookmark.h"
#include "platform/FileIdentity.h"
#include "platform/FileStat.h"
#include "platform/FinderInfo.h"
#include "platform/OperationQueue.h"
#include "platform/Paths.h"
#include "result/model/KZColumnKeys.h"
#include "result/model/KZResultCntrl.h"
#include "services/KZDateUtilities.h"
#include "services/KZErrorDelegate.h"
#include "services/KZFilesUtilities.h"
#include "settings/KZDefaultsKeys.h"

#include <QMimeDatabase>
#include <QMimeType>

#include <algorithm>
#include <condition_variable>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Each lazily read fact goes Unknown -> (Queued ->) Computing -> Known, and
// back to Unknown only when it could not be read (the file is missing), so
// that a later request tries again. Whoever moves it to Computing does the
// work; everyone else either answers the value as it stands (background
// facts) or waits for that one computation (facts asked for synchronously).
using Fact = std::uint8_t;
constexpr Fact kUnknown = 0;
constexpr Fact kQueued = 1;
constexpr Fact kComputing = 2;
constexpr Fact kKnown = 3;

// One wait point for every item: waits are rare (two threads asking the same
// item for the same fact at the same moment), and a condition variable per
// item would cost more memory than the items' own data.
std::mutex& factsMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::condition_variable& factsChanged()
{
    static std::condition_variable cv;
    return cv;
}

void settle(std::atomic<Fact>& state, bool known)
{
    {
        std::lock_guard guard(factsMutex());
        state.store(known ? kKnown : kUnknown, std::memory_order_release);
    }
    factsChanged().notify_all();
}

// True when the caller now owns the computation. False when the fact is
// known, or was being computed by another thread (which has finished by the
// time this returns).
bool claim(std::atomic<Fact>& state)
{
    Fact current = state.load(std::memory_order_acquire);
    for (;;) {
        if (current == kKnown)
            return false;
        if (current == kUnknown || current == kQueued) {
            if (state.compare_exchange_weak(current, kComputing, std::memory_order_acq_rel))
                return true;
            continue;
        }
        std::unique_lock lock(factsMutex());
        factsChanged().wait(lock, [&] { return state.load(std::memory_order_acquire) != kComputing; });
        return false;
    }
}

bool claimQueued(std::atomic<Fact>& state)
{
    Fact expected = kQueued;
    return state.compare_exchange_strong(expected, kComputing, std::memory_order_acq_rel);
}

bool markQueued(std::atomic<Fact>& state)
{
    Fact expected = kUnknown;
    return state.compare_exchange_strong(expected, kQueued, std::memory_order_acq_rel);
}

struct FactsQueue {
    static int width()
    {
        const unsigned cores = std::thread::hardware_concurrency();
        return static_cast<int>(std::clamp(cores, 2u, 4u));
    }
    platform::OperationQueue queue{QStringLiteral("KZFoundItemFacts"), width()};
    // Anything that reads an item's location may queue a bookmark here,
    // removals too, up to the end: the queue's threads must be gone before
    // the application object is.
    FactsQueue() { queue.endsWithApplication(); }
    // Operations still queued at exit see it closed and return at once
    // instead of measuring folders.
    ~FactsQueue() { queue.close(); }
};

FactsQueue& factsQueue()
{
    static FactsQueue queue;
    return queue;
}

double secondsSinceReferenceDate(const timespec& time)
{
    return static_cast<double>(time.tv_sec - KZDateUtilities::referenceDateEpochSeconds)
        + static_cast<double>(time.tv_nsec) / 1e9;
}

double placeholderSeconds()
{
    return KZDateUtilities::timeIntervalSinceReferenceDate(KZDateUtilities::sharedControl().wrongDate());
}

QString mimeComment(const QMimeDatabase& db, const char* name)
{
    return db.mimeTypeForName(QString::fromLatin1(name)).comment();
}

// The first bytes of a regular file, for files whose name says nothing.
// Never blocks on a pipe or a device and never follows a link.
QByteArray leadingBytes(const fs::path& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {};
    QByteArray bytes;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        bytes.resize(4096);
        const ssize_t n = ::read(fd, bytes.data(), static_cast<size_t>(bytes.size()));
        bytes.resize(n > 0 ? static_cast<qsizetype>(n) : 0);
    }
    ::close(fd);
    return bytes;
}

QString typeDescription(const fs::path& path, bool isDirectory, bool isPackage)
{
    const QMimeDatabase db;
    if (isDirectory && !isPackage)
        return mimeComment(db, "inode/directory");
    if (const auto st = platform::statPath(path, false); st && st->isSymlink())
        return mimeComment(db, "inode/symlink");
    const QString name = platform::pathText(path.filename());
    QMimeType type = db.mimeTypeForFile(name, QMimeDatabase::MatchExtension);
    if (type.isDefault()) {
        if (isDirectory)
            return mimeComment(db, "inode/directory");
        const QByteArray head = leadingBytes(path);
        if (!head.isEmpty())
            type = db.mimeTypeForData(head);
    }
    return type.comment();
}

} // namespace

platform::OperationQueue& KZFoundItemFactsQueue()
{
    return factsQueue().queue;
}

KZFoundItemArray KZFoundItemsOfVariant(const QVariant& value)
{
    if (value.metaType() == QMetaType::fromType<KZFoundItemArray>())
        return value.value<KZFoundItemArray>();
    KZFoundItemArray items;
    for (const QVariant& entry : value.toList()) {
        if (auto item = entry.value<KZFoundItemRef>())
            items.append(std::move(item));
    }
    return items;
}

KZFoundItemRef KZFoundItem::itemWithTreeNode(const TreeToCheck& node)
{
    return std::make_shared<KZFoundItem>(node);
}

KZFoundItem::KZFoundItem(const TreeToCheck& node)
{
    initializeWithNode(node);
}

KZFoundItem::~KZFoundItem()
{
    itemWillRemoveWithFlag();
}

void KZFoundItem::initializeWithNode(const TreeToCheck& node)
{
    if (const KZSearchItemInfo* record = node.item.get()) {
        url_ = record->url();
        name_ = record->originalName();
        type_.store(record->type());
        isDirectory_ = record->isDirectory();
        isPackage_ = record->isPackage();
        locationLabelTag_ = record->label();
        isAlias_ = record->isAlias();
        fileTypeTag_.store(record->fileTypeLabel());
        if (record->totSize() > 0) {
            size_.store(record->totSize());
            sizeState_.store(kKnown);
        }
        device_ = record->device();
        inode_ = record->inode();
        modificationTime_ = record->modificationTime();
        hasScanTime_ = record->hasIdentity();
        isFromSavedResult_ = record->isFromSavedResult();
        // Marked as the saved result has it.
        if (isFromSavedResult_ && record->isSavedMarked())
            setIsMarked(true);
        if (const auto& info = record->appSuppInfo()) {
            trackID_ = info->trackID();
            isiTunesItem_ = info->whichOwnerItem() == KZAppSuppInfo::ITunes;
            isPhotosItem_ = info->whichOwnerItem() == KZAppSuppInfo::Photos;
        }
    }

    // The scan has just read the modification time; reading it again would
    // cost one more disk access per item while a large result is built.
    if (hasScanTime_) {
        dateModified_.store(secondsSinceReferenceDate(modificationTime_));
        modifiedState_.store(kKnown);
    } else {
        dateModifiedWithoutChecking();
    }

    groupID_ = static_cast<qint64>(node.groupID);
    itemsInGroup_ = node.itemsInGroup;
    countedInGroup_.store(itemsInGroup_ != nullptr);
}

// ---- Location ----------------------------------------------------------------

fs::path KZFoundItem::urlField() const
{
    std::lock_guard guard(lock_);
    return url_;
}

const fs::path& KZFoundItem::missingPath()
{
    static const fs::path missing("--");
    return missing;
}

fs::path KZFoundItem::url()
{
    const KZFilesUtilities& files = KZFilesUtilities::sharedControl();
    fs::path current = urlField();
    if (current.empty())
        return {};
    placeChecks_.fetch_add(1, std::memory_order_relaxed);

    if (!isRemoved() && files.pathWithURL(current).empty()) {
        QByteArray bookmark = aliasData();
        // Renamed before anything asked for a bookmark: the identity the scan
        // read finds it all the same.
        if (bookmark.isEmpty() && inode_ != 0) {
            aliasAlreadyCreated_.store(true);
            createAlias();
            bookmark = aliasData();
        }
        if (!bookmark.isEmpty()) {
            // The disk work runs without the item's lock; only the thread
            // that actually moves the location renews the bookmark.
            if (const auto resolved = platform::resolveBookmark(bookmark)) {
                bool moved = false;
                {
                    std::lock_guard guard(lock_);
                    if (url_ == current && resolved->path != current) {
                        url_ = resolved->path;
                        name_ = platform::pathText(url_.filename());
                        fileIcon_ = QImage();
                        moved = true;
                    }
                    current = url_;
                }
                if (moved && resolved->renamed) {
                    aliasAlreadyCreated_.store(true);
                    scheduleAlias();
                }
            }
        }
        // The stored location is kept even when the file cannot be found:
        // it is what a saved result and the user's messages refer to, and
        // the file may come back.
        if (files.pathWithURL(current).empty())
            return {};
    }

    if (!isRemoved() && aliasData().isEmpty() && !aliasAlreadyCreated_.exchange(true))
        scheduleAlias();
    return current;
}

fs::path KZFoundItem::path()
{
    const fs::path location = url();
    fs::path present;
    if (!location.empty())
        present = KZFilesUtilities::sharedControl().pathWithURL(location);
    if (present.empty()) {
        alreadyShown_.store(true);
        return missingPath();
    }
    return present;
}

QString KZFoundItem::pathToDisplayInCell()
{
    const QString position = supportAppPath();
    if (!position.isEmpty())
        return position;
    return platform::pathText(path());
}

fs::path KZFoundItem::storedPath() const
{
    std::lock_guard guard(lock_);
    return storedPath_;
}

void KZFoundItem::setStorePath()
{
    const fs::path present = KZFilesUtilities::sharedControl().pathWithURL(urlField());
    std::lock_guard guard(lock_);
    storedPath_ = present;
}

QString KZFoundItem::parent()
{
    const fs::path present = path();
    if (present == missingPath() || present.empty())
        return {};
    return platform::pathText(present.parent_path().filename());
}

QString KZFoundItem::name()
{
    // Looked for where the path, a removal and a save look for it: a file
    // renamed in its folder is shown under its new name.
    url();
    nameIsKnown_.store(true, std::memory_order_release);
    return recordedName();
}

QString KZFoundItem::knownName()
{
    if (!nameIsKnown_.load(std::memory_order_acquire))
        return name();
    return recordedName();
}

QString KZFoundItem::recordedName() const
{
    std::lock_guard guard(lock_);
    return name_.isNull() ? platform::pathText(url_.filename()) : name_;
}

QString KZFoundItem::extension()
{
    return KZSearchItemInfo::extensionOfName(recordedName());
}

bool KZFoundItem::isInvisible()
{
    const fs::path location = url();
    return !location.empty() && KZFilesUtilities::sharedControl().isHiddenWithURL(location);
}

// ---- Bookmark --------------------------------------------------------------------

QByteArray KZFoundItem::aliasData() const
{
    std::lock_guard guard(aliasLock_);
    return aliasData_;
}

void KZFoundItem::setAliasData(const QByteArray& data)
{
    std::lock_guard guard(aliasLock_);
    aliasData_ = data;
}

void KZFoundItem::createAlias()
{
    // Made from what the scan read, not from what the location holds now:
    // the file may have been renamed meanwhile, and a file that replaced
    // it there is not the one that was found.
    QByteArray made;
    // With the folders above it, so that a result saved and reopened after
    // the searched folder (or one above it) was renamed still finds it.
    if (inode_ == 0) {
        made = platform::createBookmark(urlField(), nullptr, platform::FoldersAbove::Recorded);
    } else {
        platform::FileIdentity identity;
        identity.device = device_;
        identity.inode = inode_;
        identity.folder = isDirectory_;
        identity.modified =
            platform::FileIdentity::Time{qint64(modificationTime_.tv_sec), qint64(modificationTime_.tv_nsec)};
        // A folder's size changes with its entries and says nothing of it.
        if (!isDirectory_ && sizeState_.load(std::memory_order_acquire) == kKnown)
            identity.size = size_.load();
        made = platform::bookmarkOf(urlField(),
                                    platform::FileIdentity::completedFromScan(urlField(), identity, diskAsScanned_.get()),
                                    nullptr, platform::FoldersAbove::Recorded);
    }
    // The disk work above runs without the lock: the window's thread never
    // waits on it for the item's mark or bookmark. The old bookmark leaves
    // with `made`, after the lock.
    std::lock_guard guard(aliasLock_);
    aliasData_.swap(made);
}

bool KZFoundItem::isOnDiskAsScanned(const platform::FileStat& now, const fs::path& path) const
{
    if (quint64(now.device) == device_)
        return true;
    if (!diskAsScanned_)
        return false;
    const platform::DiskIdentity disk{device_, diskAsScanned_->identity, diskAsScanned_->volume,
                                      diskAsScanned_->mount};
    return disk.proveDiskOfItem(quint64(now.device), platform::fileSystemQueryOf(path, now)) == platform::Proof::Proved;
}

void KZFoundItem::scheduleAlias()
{
    KZFoundItemFactsQueue().addOperation([weak = weak_from_this()] {
        if (factsQueue().queue.isClosed())
            return;
        if (const auto self = weak.lock(); self && !self->isRemoved())
            self->createAlias();
    });
}

// ---- Libraries ----------------------------------------------------------------------

QString KZFoundItem::supportAppPath() const
{
    std::lock_guard guard(lock_);
    return supportAppPath_;
}

void KZFoundItem::setSupportedAppLibraryPosition(const QString& position)
{
    std::lock_guard guard(lock_);
    supportAppPath_ = position;
}

QString KZFoundItem::trackID() const
{
    std::lock_guard guard(lock_);
    return trackID_;
}

void KZFoundItem::setTrackID(const QString& trackID)
{
    std::lock_guard guard(lock_);
    trackID_ = trackID;
}

// ---- Facts read on first use -----------------------------------------------------------

QString KZFoundItem::kind()
{
    gatherKind();
    std::lock_guard guard(lock_);
    return kind_;
}

void KZFoundItem::gatherKind()
{
    if (!claim(kindState_))
        return;
    const fs::path location = url();
    QString description;
    if (!location.empty())
        description = typeDescription(location, isDirectory_, isPackage_);
    {
        std::lock_guard guard(lock_);
        kind_ = description;
    }
    settle(kindState_, true);
}

quint32 KZFoundItem::type()
{
    if (isDirectory_ && !isPackage_)
        return 0;
    if (isPackage_ && type_.load() == 0)
        osTypePackage();
    return type_.load();
}

quint32 KZFoundItem::creator()
{
    if (isDirectory_ && !isPackage_)
        return 0;
    if (isPackage_ && creator_.load() == 0)
        osTypePackage();
    return creator_.load();
}

void KZFoundItem::osTypePackage()
{
    if (!claim(osTypeState_))
        return;
    const fs::path location = url();
    // Codes that cannot be read (the package is gone) are asked for again.
    if (location.empty() || !platform::statPath(location, false)) {
        settle(osTypeState_, false);
        return;
    }
    const platform::FinderInfo info = platform::readFinderInfo(location);
    type_.store(info.fileType());
    creator_.store(info.creator());
    settle(osTypeState_, true);
}

double KZFoundItem::readDate(bool created, bool checking)
{
    std::atomic<Fact>& state = created ? createdState_ : modifiedState_;
    std::atomic<double>& value = created ? dateCreated_ : dateModified_;
    if (claim(state)) {
        const fs::path location = checking ? url() : urlField();
        double seconds = placeholderSeconds();
        if (!location.empty()) {
            if (const auto st = platform::statPath(location, false)) {
                if (!created)
                    seconds = secondsSinceReferenceDate(st->modified);
                else if (st->birth)
                    seconds = secondsSinceReferenceDate(*st->birth);
            }
        }
        // A file without the date gets the placeholder, so it is read once.
        value.store(seconds);
        settle(state, true);
    }
    return value.load();
}

double KZFoundItem::dateModified()
{
    return readDate(false, true);
}

double KZFoundItem::dateModifiedWithoutChecking()
{
    return readDate(false, false);
}

QDateTime KZFoundItem::cfDateModified()
{
    return KZDateUtilities::dateWithTimeIntervalSinceReferenceDate(dateModified());
}

QString KZFoundItem::formattedDateModified()
{
    return KZDateUtilities::sharedControl().stringWithSeconds(dateModified(), KZDateUtilities::Long, true, false);
}

double KZFoundItem::dateCreated()
{
    return readDate(true, true);
}

QDateTime KZFoundItem::cfDateCreated()
{
    return KZDateUtilities::dateWithTimeIntervalSinceReferenceDate(dateCreated());
}

QString KZFoundItem::formattedDateCreated()
{
    return KZDateUtilities::sharedControl().stringWithSeconds(dateCreated(), KZDateUtilities::Long, true, false);
}

quint64 KZFoundItem::size()
{
    if (sizeState_.load(std::memory_order_acquire) == kKnown)
        return size_.load();
    if (isPackage_) {
        scheduleFolderSize();
        return size_.load();
    }
    // A plain folder's size is only worked out when folderSize() is asked.
    if (isDirectory_)
        return size_.load();
    if (claim(sizeState_)) {
        const fs::path location = url();
        bool known = false;
        if (!location.empty()) {
            const QVariant total =
                KZFilesUtilities::sharedControl().attributeWithURL(location, KZFilesUtilities::ResourceKey::TotalFileSize);
            if (total.isValid()) {
                size_.store(total.toULongLong());
                known = true;
            }
        }
        settle(sizeState_, known);
    }
    return size_.load();
}

void KZFoundItem::setIsMarked(bool value)
{
    if (value && !isMarked_.load(std::memory_order_relaxed)) {
        countedSize_.store(size());
        hasCountedSize_.store(true);
    }
    isMarked_.store(value, std::memory_order_relaxed);
}

quint64 KZFoundItem::countedSize()
{
    return hasCountedSize_.load() ? countedSize_.load() : size();
}

void KZFoundItem::setSize(quint64 size)
{
    size_.store(size);
    settle(sizeState_, true);
}

quint64 KZFoundItem::folderSize()
{
    if (sizeState_.load(std::memory_order_acquire) != kKnown && isDirectory_)
        scheduleFolderSize();
    return size_.load();
}

void KZFoundItem::scheduleFolderSize()
{
    if (sizeState_.load(std::memory_order_acquire) != kUnknown)
        return;
    // A missing folder is not measured; a later request tries again.
    if (url().empty() || !markQueued(sizeState_))
        return;
    KZFoundItemFactsQueue().addOperation([weak = weak_from_this()] {
        const auto self = weak.lock();
        if (!self)
            return;
        if (factsQueue().queue.isClosed()) {
            Fact expected = kQueued;
            self->sizeState_.compare_exchange_strong(expected, kUnknown);
            return;
        }
        if (!claimQueued(self->sizeState_))
            return;
        const fs::path location = self->urlField();
        quint64 found = 0;
        self->size_.store(KZFilesUtilities::sharedControl().iterateFolderForSize(location, &found).totalFileSize);
        settle(self->sizeState_, true);
    });
}

void KZFoundItem::forceCalculateFolderSize()
{
    if (!isDirectory_) {
        size();
        return;
    }
    if (!claim(sizeState_))
        return;
    const fs::path location = url();
    if (location.empty()) {
        settle(sizeState_, false);
        return;
    }
    quint64 found = 0;
    size_.store(KZFilesUtilities::sharedControl().iterateFolderForSize(location, &found).totalFileSize);
    settle(sizeState_, true);
}

void KZFoundItem::getDirectorySize(const fs::path& folder)
{
    quint64 found = 0;
    setSize(KZFilesUtilities::sharedControl().iterateFolderForSize(folder, &found).totalFileSize);
}

// ---- The group's members counter -------------------------------------------------------

namespace {

void decrementNotBelowZero(std::atomic<quint32>& counter)
{
    quint32 value = counter.load();
    while (value > 0 && !counter.compare_exchange_weak(value, value - 1)) {
    }
}

} // namespace

quint32 KZFoundItem::countOfItemsInGroup() const
{
    std::lock_guard guard(lock_);
    return itemsInGroup_ ? itemsInGroup_->load() : 0;
}

void KZFoundItem::subtractUnitItemsInGroup()
{
    std::lock_guard guard(lock_);
    if (itemsInGroup_ && countedInGroup_.exchange(false))
        decrementNotBelowZero(*itemsInGroup_);
}

void KZFoundItem::addUnitItemsInGroup()
{
    std::lock_guard guard(lock_);
    if (itemsInGroup_ && !countedInGroup_.exchange(true))
        itemsInGroup_->fetch_add(1);
}

void KZFoundItem::itemWillRemoveWithFlag()
{
    KZItemsInGroup released;
    {
        std::lock_guard guard(lock_);
        if (!itemsInGroup_)
            return;
        if (countedInGroup_.exchange(false))
            decrementNotBelowZero(*itemsInGroup_);
        released = std::move(itemsInGroup_);
    }
    // `released` goes here: the last member to let go frees the counter.
}

// ---- For the windows -----------------------------------------------------------------------

QImage KZFoundItem::fileIcon() const
{
    std::lock_guard guard(lock_);
    return fileIcon_;
}

void KZFoundItem::setFileIcon(const QImage& icon)
{
    std::lock_guard guard(lock_);
    fileIcon_ = icon;
}

QImage KZFoundItem::locationImage() const
{
    return KZLabelImageForTag(locationLabelTag_);
}

QVariant KZFoundItem::valueForUndefinedKey(const QString& key)
{
    if (key == KZColumnKey::name_col)
        return knownName();
    if (key == KZColumnKey::kind_col)
        return kind();
    if (key == KZColumnKey::size_col) {
        // An unmeasured plain folder sorts as 0 without starting a measurement.
        if (isDirectory_ && !isPackage_ && size_.load() == 0)
            return QVariant::fromValue<quint64>(0);
        return QVariant::fromValue<quint64>(size());
    }
    if (key == KZColumnKey::date_modified_col)
        return cfDateModified();
    if (key == KZColumnKey::location_tag_col)
        return QVariant::fromValue<qint16>(locationLabelTag_);
    if (key == KZColumnKey::check_col)
        return QVariant::fromValue<int>(isMarked() ? 1 : 0);
    if (key == KZColumnKey::dupe_group_col)
        return QVariant::fromValue<qint64>(groupID_);
    return QVariant::fromValue(weak_from_this().lock());
}

void KZFoundItem::showPathError(const QString& path)
{
    KZErrorDelegate::sharedControl().showMessagePanelWithView(
        QStringLiteral("no_item_at_path_sing"), QStringLiteral("how_to_remove_path_msg"), {path},
        KZDefaultsKey::inform_path_not_found, false);
}
