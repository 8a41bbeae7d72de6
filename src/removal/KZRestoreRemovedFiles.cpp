#include "removal/KZRestoreRemovedFiles.h"

#include "media/KZApplescript.h"
#include "media/KZAppsSupport.h"
#include "media/KZPhotosSupport.h"
#include "platform/AnchoredItem.h"
#include "platform/Bookmark.h"
#include "platform/DirectoryListing.h"
#include "platform/FileIdentity.h"
#include "platform/FileOps.h"
#include "platform/NameReservation.h"
#include "platform/FileStat.h"
#include "platform/FolderAttributes.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/OperationQueue.h"
#include "platform/Paths.h"
#include "platform/SharedInstance.h"
#include "platform/StringTable.h"
#include "platform/Trash.h"
#include "removal/KZItemWhereabouts.h"
#include "removal/KZRemovalJournal.h"
#include "removal/KZReservationJournal.h"
#include "removal/KZRemove.h"
#include "removal/KZUndoFile.h"
#include "result/model/KZFoundItem.h"
#include "result/model/KZListNotifications.h"
#include "services/KZErrorDelegate.h"
#include "services/KZNumberUtilities.h"

#include <QScopeGuard>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <thread>
#include <utility>

namespace fs = std::filesystem;

namespace {

namespace where = KZItemWhereabouts;

bool isThere(const fs::path& path)
{
    return platform::statPath(path, false).has_value();
}

// Held by a Restore while it reads and rewrites undo files, and tried by
// whatever drops a finished one: never both on one file at once.
std::mutex& undoFilesInUse()
{
    static std::mutex mutex;
    return mutex;
}

// The item went back to `oldPosition`: with nothing left under its Trash
// name, its .trashinfo goes (never one that names another place, or that
// someone's item now under that name needs).
bool removeInfoOfRestored(const fs::path& trashedItem, const fs::path& oldPosition)
{
    int err = 0;
    if (platform::statPath(trashedItem, false, &err) || err != ENOENT)
        return false;
    const auto info = platform::readTrashInfo(trashedItem);
    return info && info->originalPath == oldPosition && KZUndoFile::removeTrashInfoOf(trashedItem);
}

std::function<void()>& restoreStepHook()
{
    static std::function<void()> hook;
    return hook;
}

void restoreStep()
{
    if (const auto& hook = restoreStepHook())
        hook();
}

// What an item not found where its move put it tells the user.
KZRestoreRemovedFiles::ItemResult resultOf(where::MovedWhere answer)
{
    using ItemResult = KZRestoreRemovedFiles::ItemResult;
    switch (answer) {
    case where::MovedWhere::AtDestination:
    case where::MovedWhere::Gone:
        break;
    case where::MovedWhere::Unproved:
        return ItemResult::Unproved;
    case where::MovedWhere::OnPossibleCopy:
        return ItemResult::OnPossibleCopy;
    case where::MovedWhere::Twin:
        return ItemResult::TwinDisks;
    case where::MovedWhere::NotConnected:
        return ItemResult::HolderNotConnected;
    }
    return ItemResult::Missing;
}

// The item where the removal put it, held by its open folder; empty when
// the recorded place no longer holds the item that left, with why in `why`:
// Missing, or HolderNotConnected when the disk it lies on is not there. The
// folder it was put in is reached without following links, so that a folder
// swapped for a link since cannot hand over a stranger's file of the same
// name.
std::optional<platform::AnchoredItem> openCurrentPlace(const KZUndoMovedItem& item, const where::RecordSource& source,
                                                       KZRestoreRemovedFiles::ItemResult* why)
{
    using ItemResult = KZRestoreRemovedFiles::ItemResult;
    const fs::path folder = item.placedIn.empty() ? item.currPosition.parent_path() : item.placedIn;
    const auto missing = [&item, &folder, why] {
        *why = item.identity ? resultOf(where::whyNotAt(
                                   where::diskAnswerAt(folder / item.currPosition.filename(), item.identity->disk())))
                             : ItemResult::Missing;
        return std::nullopt;
    };
    int err = 0;
    std::optional<platform::AnchoredItem> from
        = item.placedIn.empty() ? platform::AnchoredItem::openInFolder(item.currPosition, &err)
                                : platform::AnchoredItem::open(item.placedIn / item.currPosition.filename(), &err);
    if (!from) {
        if (err != ENOENT)
            platform::logLine(QStringLiteral("Undo could not reach %1: %2")
                                  .arg(platform::pathText(item.currPosition), platform::systemErrorString(err)));
        return missing();
    }
    const auto st = from->stat();
    if (!st)
        return missing();
    if (const where::MovedWhere at = where::whereMovedIs(item, *from, *st, source);
        at != where::MovedWhere::AtDestination) {
        *why = resultOf(at);
        platform::logLine(QStringLiteral("Undo left %1 alone: it is not surely the item the removal put there")
                              .arg(platform::pathText(item.currPosition)));
        return std::nullopt;
    }
    return from;
}

// Which disk the open folder lies on, for the disk recorded for it; Same
// where none was recorded.
platform::DiskAnswer diskOfFolder(int folderFd, const std::optional<platform::DiskIdentity>& disk,
                                  const where::RecordSource& source)
{
    if (!disk)
        return platform::DiskAnswer::Same;
    const auto st = platform::statAt(folderFd, ".", false);
    if (!st)
        return platform::DiskAnswer::Different;
    return where::judgeDisk(*disk, source, quint64(st->device), platform::fileSystemQueryAt(folderFd, ""));
}

// The open folder lies on the disk recorded for it, or on one that nothing
// tells from a copy of it.
bool isOnDisk(platform::DiskAnswer answer)
{
    return answer == platform::DiskAnswer::Same || answer == platform::DiskAnswer::SameOrCopy;
}

// The disk of the folder the item left, as recorded when it left.
std::optional<platform::DiskIdentity> oldFolderDisk(const KZUndoMovedItem& item)
{
    if (!item.oldFolderDevice)
        return std::nullopt;
    return platform::DiskIdentity{*item.oldFolderDevice, item.oldFolderFileSystem, item.oldFolderVolume,
                                  item.oldFolderMount};
}

} // namespace

namespace {

platform::SharedInstance<KZRestoreRemovedFiles>& sharedInstance()
{
    static platform::SharedInstance<KZRestoreRemovedFiles> instance(
        [] { return std::make_unique<KZRestoreRemovedFiles>(); });
    return instance;
}

} // namespace

KZRestoreRemovedFiles& KZRestoreRemovedFiles::sharedControl()
{
    return sharedInstance().get();
}

void KZRestoreRemovedFiles::setSharedControl(std::unique_ptr<KZRestoreRemovedFiles> instance)
{
    sharedInstance().replace(std::move(instance));
}

KZRestoreRemovedFiles::KZRestoreRemovedFiles()
    : queue_(std::make_unique<platform::OperationQueue>(QStringLiteral("restore"), 1))
    , mountBases_{"/media", "/run/media", "/mnt"}
{
    qRegisterMetaType<KZUndoDict>();
}

KZRestoreRemovedFiles::~KZRestoreRemovedFiles()
{
    queue_->waitUntilAllOperationsAreFinished();
}

void KZRestoreRemovedFiles::setMountBases(std::vector<fs::path> bases)
{
    std::lock_guard guard(mutex_);
    mountBases_ = std::move(bases);
}

QString KZRestoreRemovedFiles::infoText() const
{
    std::lock_guard guard(mutex_);
    return infoText_;
}

void KZRestoreRemovedFiles::setInfoText(const QString& text)
{
    std::function<void(const QString&)> observer;
    {
        std::lock_guard guard(mutex_);
        infoText_ = text;
        observer = infoTextObserver_;
    }
    if (observer)
        observer(text);
}

void KZRestoreRemovedFiles::setInfoTextObserver(std::function<void(const QString&)> observer)
{
    std::lock_guard guard(mutex_);
    infoTextObserver_ = std::move(observer);
}

void KZRestoreRemovedFiles::recoverInterruptedRemovals(fs::path trashDir)
{
    queue_->addOperation([this, trashDir = std::move(trashDir)] {
        std::lock_guard job(jobMutex_);
        if (const int folded = KZRemovalJournal::recoverInterrupted(trashDir))
            platform::logLine(QStringLiteral("Removals that never ended left %1 undo files in %2")
                                  .arg(folded)
                                  .arg(platform::pathText(trashDir)));
    });
}

void KZRestoreRemovedFiles::waitUntilIdle()
{
    queue_->waitUntilAllOperationsAreFinished();
}

void KZRestoreRemovedFiles::setRestoreStepHook(std::function<void()> hook)
{
    restoreStepHook() = std::move(hook);
}

void KZRestoreRemovedFiles::leftTheTrash(const fs::path& trashed, const fs::path& oldPosition)
{
    restoreStep();
    if (restoring_)
        backFromTrash_.emplace_back(trashed, oldPosition);
    else
        removeInfoOfRestored(trashed, oldPosition);
}

void KZRestoreRemovedFiles::removeInfosOfRestored()
{
    for (const auto& [trashed, oldPosition] : backFromTrash_)
        if (removeInfoOfRestored(trashed, oldPosition))
            restoreStep();
    backFromTrash_.clear();
}

// ---- Recording ---------------------------------------------------------------------

void KZRestoreRemovedFiles::addRootPathWithTag(qint16 tag, const fs::path& root)
{
    std::lock_guard guard(mutex_);
    sourcesUrlsForRestore_.try_emplace(tag, root);
}

QVariantList KZRestoreRemovedFiles::permanentRootAliases() const
{
    std::map<qint16, fs::path> roots;
    {
        std::lock_guard guard(mutex_);
        roots = sourcesUrlsForRestore_;
    }
    QVariantList aliases;
    for (const auto& [tag, path] : roots) {
        const QByteArray data = platform::createBookmark(path);
        if (!data.isEmpty())
            aliases << data;
    }
    return aliases;
}

std::optional<fs::path> KZRestoreRemovedFiles::createPermanentFile(const std::vector<KZPersistentUndoRecord>& records,
                                                                  KZRemovalJournal* journal)
{
    if (records.empty()) {
        if (journal)
            journal->finish(std::nullopt);
        return std::nullopt;
    }
    const fs::path trash = platform::homeTrashDirectory();
    QString error;
    // The journal names the file before it exists, so that a removal killed
    // before the journal's end is never folded into a second list.
    const auto announce = [journal](const std::string& name) {
        if (journal)
            journal->willWriteUndoFile(name);
    };
    const auto reserving = [journal](const std::string& name) {
        if (journal)
            journal->willReserveUndoFileName(name);
    };
    auto written = KZUndoFile::write(trash, permanentRootAliases(), records, KZUndoFile::nowSinceReferenceDate(),
                                     &error, announce, reserving);
    if (!written) {
        platform::logLine(QStringLiteral("Undo file not written in %1: %2")
                                 .arg(platform::pathText(trash), error));
        KZErrorDelegate::sharedControl().showError(QStringLiteral("undo_file_not_written"), {},
                                                   {platform::pathText(trash)});
    } else if (journal) {
        journal->finish(written);
    }
    return written;
}

quint64 KZRestoreRemovedFiles::undoCount(const KZUndoDict& dict)
{
    quint64 count = dict.standardUndo.size() + dict.itunesUndo.size();
    for (const KZPhotosUndoRecord& record : dict.photosUndo)
        count += quint64(record.ids.size());
    return count;
}

quint64 KZRestoreRemovedFiles::implementUndoWithAction(const KZUndoDict& dict, bool isTrashAction)
{
    const quint64 count = undoCount(dict);
    if (count == 0)
        return 0;
    quint64 copied = 0;
    for (const auto* list : {&dict.standardUndo, &dict.itunesUndo})
        copied += quint64(std::count_if(list->begin(), list->end(), [](const KZUndoMovedItem& r) { return r.isCopy; }));
    platform::NotificationCenter::defaultCenter().post(
        QStringLiteral("registerRemovedUndo"), platform::NotificationObject(platform::bundleIdentifier()),
        {{QStringLiteral("undoDict"), QVariant::fromValue(dict)},
         {QStringLiteral("isTrashAction"), isTrashAction},
         {QStringLiteral("undoCount"), count},
         {QStringLiteral("copiedCount"), copied}});
    return count;
}

void KZRestoreRemovedFiles::registerRemoval(const KZRemove& removal, bool isTrashAction,
                                            std::unique_ptr<KZRemovalJournal> journal)
{
    if (isTrashAction) {
        const std::vector<KZPersistentUndoRecord> trashed = removal.persistentUndo();
        createPermanentFile(trashed, journal.get());
        rememberTrashed(trashed);
    } else if (journal)
        journal->finish(std::nullopt);
    implementUndoWithAction(
        {removal.standardUndo(), removal.itunesUndo(), removal.createdFolderUndo(), removal.photosUndo()},
        isTrashAction);
}

void KZRestoreRemovedFiles::rememberTrashed(const std::vector<KZPersistentUndoRecord>& records)
{
    std::lock_guard guard(mutex_);
    std::erase_if(trashed_, [](const auto& entry) { return entry.second.expired(); });
    for (const KZPersistentUndoRecord& record : records)
        if (record.foundItem && record.inode != 0)
            trashed_[{record.oldPosition, record.device, record.inode}] = record.foundItem;
}

std::shared_ptr<KZFoundItem> KZRestoreRemovedFiles::takeTrashed(quint64 device, quint64 inode,
                                                                const fs::path& oldPosition)
{
    std::lock_guard guard(mutex_);
    // An inode number is soon given to another file: the place it came from
    // must agree too.
    const auto found = trashed_.find({oldPosition, device, inode});
    if (found == trashed_.end())
        return nullptr;
    std::shared_ptr<KZFoundItem> item = found->second.lock();
    trashed_.erase(found);
    return item;
}

void KZRestoreRemovedFiles::tellBackInPlace(const std::vector<std::shared_ptr<KZFoundItem>>& items)
{
    if (items.empty())
        return;
    platform::NotificationCenter::defaultCenter().post(
        KZNotification::itemsWereRestored, platform::NotificationObject(platform::bundleIdentifier()),
        {{QStringLiteral("removedItems"), QVariant::fromValue(KZFoundItemArray(items.begin(), items.end()))}});
}

// ---- What the user is told ---------------------------------------------------------------

void KZRestoreRemovedFiles::NotRestored::add(ItemResult result, bool isCopy)
{
    if ((isCopy || result == ItemResult::CopyKept) && result != ItemResult::Restored
        && result != ItemResult::CopyDeleted && result != ItemResult::AlreadyBack)
        copies += 1;
    switch (result) {
    case ItemResult::Restored:
    case ItemResult::CopyDeleted:
    case ItemResult::AlreadyBack:
        break;
    case ItemResult::Occupied:
        occupied += 1;
        break;
    case ItemResult::Missing:
        gone += 1;
        copiesGone += isCopy ? 1 : 0;
        break;
    case ItemResult::MissingVolume:
        missingVolume += 1;
        break;
    case ItemResult::HolderNotConnected:
        holderDisconnected += 1;
        copiesDisconnected += isCopy ? 1 : 0;
        break;
    case ItemResult::Unproved:
        unproved += 1;
        copiesUnproved += isCopy ? 1 : 0;
        break;
    case ItemResult::CopyKept:
        copyKept += 1;
        break;
    case ItemResult::OnPossibleCopy:
        possibleCopy += 1;
        copiesPossibleCopy += isCopy ? 1 : 0;
        break;
    case ItemResult::TwinDisks:
        twinDisks += 1;
        break;
    case ItemResult::Elsewhere:
        elsewhere += 1;
        break;
    case ItemResult::NoOldPosition:
        unreadable += 1;
        break;
    case ItemResult::Failed:
        failed += 1;
        break;
    }
}

KZRestoreRemovedFiles::NotRestored& KZRestoreRemovedFiles::NotRestored::operator+=(const NotRestored& other)
{
    occupied += other.occupied;
    gone += other.gone;
    missingVolume += other.missingVolume;
    copyKept += other.copyKept;
    failed += other.failed;
    unreadable += other.unreadable;
    disconnected += other.disconnected;
    changed += other.changed;
    notChecked += other.notChecked;
    unproved += other.unproved;
    notInTrash += other.notInTrash;
    holderDisconnected += other.holderDisconnected;
    possibleCopy += other.possibleCopy;
    twinDisks += other.twinDisks;
    elsewhere += other.elsewhere;
    copiesGone += other.copiesGone;
    copiesDisconnected += other.copiesDisconnected;
    copiesUnproved += other.copiesUnproved;
    copiesPossibleCopy += other.copiesPossibleCopy;
    afterMove = afterMove || other.afterMove;
    return *this;
}

QString KZRestoreRemovedFiles::NotRestored::reasonKey() const
{
    // Copies and moved items of one kind are told apart: the wording of a
    // move would say that an original left its place.
    const std::pair<quint64, const char*> kinds[] = {
        {occupied, "not_restored_occupied"},
        {gone - copiesGone, afterMove ? "not_restored_gone_moved" : "not_restored_gone"},
        {copiesGone, "not_restored_copy_gone"},
        {missingVolume, "not_restored_volume"},
        {copyKept, "not_restored_copy_kept"},
        {failed, "not_restored_failed"},
        {unreadable, "not_restored_unreadable"},
        {disconnected, "not_restored_disconnected"},
        {changed, "not_restored_changed"},
        {notChecked, "not_restored_not_checked"},
        {holderDisconnected - copiesDisconnected,
         afterMove ? "not_restored_moved_volume" : "not_restored_disconnected"},
        {copiesDisconnected, "not_restored_copy_not_connected"},
        {unproved - copiesUnproved, afterMove ? "not_restored_unproved_moved" : "not_restored_unproved"},
        {copiesUnproved, "not_restored_copy_unproved"},
        {notInTrash, "not_restored_not_in_trash"},
        {possibleCopy - copiesPossibleCopy,
         afterMove ? "not_restored_possible_copy_moved" : "not_restored_not_in_trash"},
        {copiesPossibleCopy, "not_restored_copy_possible_copy"},
        {twinDisks, afterMove ? "not_restored_twin_disks_moved" : "not_restored_twin_disks"},
        {elsewhere, afterMove ? "not_restored_elsewhere_moved" : "not_restored_elsewhere"},
    };
    const char* only = nullptr;
    for (const auto& [count, key] : kinds) {
        if (count == 0)
            continue;
        if (only) {
            // Restore's words for several reasons speak of items that left
            // their places; a copy's original never did.
            const quint64 ofCopies = std::max(
                copies, copiesGone + copyKept + copiesDisconnected + copiesUnproved + copiesPossibleCopy);
            if (ofCopies == 0)
                return QStringLiteral("not_restored_several");
            return ofCopies >= total() ? QStringLiteral("not_restored_several_copies")
                                       : QStringLiteral("not_restored_several_with_copies");
        }
        only = key;
    }
    return only ? QString::fromLatin1(only) : QString();
}

void KZRestoreRemovedFiles::tellOutcome(quint64 restored, quint64 missed, const QString& reasonKey, bool tellSuccess,
                                        quint64 onPossibleCopy, bool onlyCopies)
{
    auto& alerts = KZErrorDelegate::sharedControl();
    auto& numbers = KZNumberUtilities::sharedControl();
    // What went back on a disk that may be a copy is told even where an
    // undo tells no success: the disk itself may still hold it.
    if (onPossibleCopy > 0) {
        alerts.showMessagePanel(nullptr,
                                onPossibleCopy == 1 ? QStringLiteral("put_back_on_possible_copy_sing")
                                                    : QStringLiteral("put_back_on_possible_copy_plur"),
                                QStringLiteral("put_back_on_possible_copy_info"),
                                {numbers.numberToFormatString(double(onPossibleCopy))});
        if (missed == 0)
            return;
    }
    if (missed == 0) {
        if (!tellSuccess || restored == 0)
            return;
        if (restored == 1)
            alerts.showMessagePanel(nullptr, QStringLiteral("successful_restored_sing"));
        else
            alerts.showMessagePanel(nullptr, QStringLiteral("successful_restored_plur"), {},
                                    {numbers.numberToFormatString(double(restored))});
        return;
    }
    const QString missedText = numbers.numberToFormatString(double(missed));
    QString key;
    QStringList names;
    if (onlyCopies) {
        // An undo of copies puts nothing back: its originals never left.
        key = missed == 1 ? QStringLiteral("copies_not_undone_sing") : QStringLiteral("copies_not_undone_plur");
        if (missed > 1)
            names = {missedText};
    } else if (!tellSuccess || restored == 0) {
        key = missed == 1 ? QStringLiteral("not_restored_sing") : QStringLiteral("not_restored_plur");
        if (missed > 1)
            names = {missedText};
    } else {
        key = QStringLiteral("partly_restored_%1_%2")
                  .arg(restored == 1 ? QStringLiteral("sing") : QStringLiteral("plur"),
                       missed == 1 ? QStringLiteral("sing") : QStringLiteral("plur"));
        if (restored > 1)
            names << numbers.numberToFormatString(double(restored));
        if (missed > 1)
            names << missedText;
    }
    alerts.showError(key, reasonKey, names);
}

void KZRestoreRemovedFiles::tellUndoOutcome(const UndoOutcome& outcome)
{
    auto& alerts = KZErrorDelegate::sharedControl();
    auto& numbers = KZNumberUtilities::sharedControl();
    // Told even where nothing else is: the disk itself may still hold those
    // items where the removal put them, and Edit > Undo stays for them.
    const auto tell = [&](quint64 count, const char* one, const char* several) {
        if (count == 0)
            return;
        alerts.showMessagePanel(nullptr, QString::fromLatin1(count == 1 ? one : several),
                                QStringLiteral("undo_kept_for_possible_copy_info"),
                                {numbers.numberToFormatString(double(count))});
    };
    tell(outcome.onPossibleCopy, "undone_on_possible_copy_sing", "undone_on_possible_copy_plur");
    tell(outcome.alreadyBack, "already_back_on_possible_copy_sing", "already_back_on_possible_copy_plur");
    if (outcome.notRestored.total() > 0)
        tellOutcome(outcome.restored, outcome.notRestored.total(), outcome.notRestored.reasonKey(), false, 0,
                    outcome.notRestored.copies >= outcome.notRestored.total());
}

// ---- Undo ----------------------------------------------------------------------------

void KZRestoreRemovedFiles::undoMove(KZUndoDict dict, std::function<void(const UndoOutcome&)> done)
{
    isWorking = true;
    queue_->addOperation([this, dict = std::move(dict), done = std::move(done)] {
        const UndoOutcome outcome = doUndoMove(dict);
        isWorking = false;
        tellBackInPlace(outcome.backInPlace);
        if (done)
            done(outcome);
    });
}

KZRestoreRemovedFiles::UndoOutcome KZRestoreRemovedFiles::doUndoMove(const KZUndoDict& dict)
{
    std::lock_guard job(jobMutex_);
    const KZReservationJournal reservations;
    const quint64 restoredBefore = restoredItems.load();
    managedCount = 0;
    totToManage = 0;
    lockedCount = 0;
    setInfoText(platform::localizedString(QStringLiteral("restoring_items")));
    onPossibleCopy_ = 0;
    UndoOutcome outcome;
    const auto undoList = [this, &outcome](const std::vector<KZUndoMovedItem>& items, bool isiTunes,
                                           std::vector<KZUndoMovedItem>& kept) {
        std::vector<bool> forDisk;
        const std::vector<ItemResult> results = undoMovedFiles(items, isiTunes, &outcome.notRestored, &forDisk);
        for (size_t i = 0; i < items.size() && i < results.size(); ++i) {
            if (results[i] == ItemResult::Restored && items[i].foundItem)
                outcome.backInPlace.push_back(items[i].foundItem);
            outcome.alreadyBack += results[i] == ItemResult::AlreadyBack ? 1 : 0;
            // Put back on a disk that may be a copy of its own: the disk
            // itself may still hold the item where the move put it, and its
            // undo stays for it.
            if (i < forDisk.size() && forDisk[i]) {
                KZUndoMovedItem item = items[i];
                item.putBackOnPossibleCopy = true;
                if (results[i] == ItemResult::Restored && !item.isCopy && item.identity && item.identity->size)
                    if (const auto back = platform::statPath(item.oldPosition, false);
                        back && !back->isDir() && back->size == *item.identity->size)
                        item.backModified = platform::FileIdentity::Time{qint64(back->modified.tv_sec),
                                                                         qint64(back->modified.tv_nsec)};
                kept.push_back(std::move(item));
                continue;
            }
            // Left where it is for a disk that is not connected, the one it
            // came from or the one it lies on: the undo must still be there
            // once the disk is back.
            if (results[i] == ItemResult::MissingVolume || results[i] == ItemResult::HolderNotConnected
                || results[i] == ItemResult::Unproved || results[i] == ItemResult::OnPossibleCopy
                || results[i] == ItemResult::TwinDisks || results[i] == ItemResult::Elsewhere)
                kept.push_back(items[i]);
        }
    };
    undoList(dict.standardUndo, false, outcome.kept.standardUndo);
    undoPhotosRecords(dict.photosUndo, &outcome.notRestored);
    undoList(dict.itunesUndo, true, outcome.kept.itunesUndo);
    std::vector<KZCreatedFolder> foldersLeft = removeCreatedFolders(dict.createdFolderUndo);
    if (!outcome.kept.standardUndo.empty() || !outcome.kept.itunesUndo.empty()) {
        outcome.kept.createdFolderUndo = std::move(foldersLeft);
        implementUndoWithAction(outcome.kept, false);
    }
    outcome.restored = restoredItems.load() - restoredBefore;
    outcome.onPossibleCopy = onPossibleCopy_;
    if (const quint64 locked = lockedCount.load()) {
        if (locked < 2)
            KZErrorDelegate::sharedControl().showError(QStringLiteral("locked_sing"));
        else
            KZErrorDelegate::sharedControl().showError(
                QStringLiteral("locked_plur"), {},
                {KZNumberUtilities::sharedControl().numberToFormatString(double(locked))});
    }
    return outcome;
}

quint64 KZRestoreRemovedFiles::undoPhotosRecords(const std::vector<KZPhotosUndoRecord>& records,
                                                 NotRestored* notRestored)
{
    quint64 done = 0;
    KZAppsSupport& guard = KZAppsSupport::sharedControl();
    for (const KZPhotosUndoRecord& record : records) {
        if (record.ids.isEmpty())
            continue;
        setInfoText(platform::localizedString(QStringLiteral("restoring_items")) + QStringLiteral(" ")
                    + platform::localizedString(QStringLiteral("sending_spple_event"))
                          .arg(KZPhotosSupport::sharedControl().appName()));
        totToManage += quint64(record.ids.size());
        managedCount += quint64(record.ids.size());
        // As for tagging, the watch stays off until the script has answered:
        // the application settling on the library and taking the keyword off
        // is our doing, not the user's.
        const bool watching = guard.isObserving();
        guard.removeObservers();
        if (guard.reopenPhotosOnLibrary(platform::pathText(record.sourcePath)))
            std::this_thread::sleep_for(photosSettleDelay);
        const quint64 count = quint64(record.ids.size());
        const bool undone =
            KZApplescript::sharedControl().undoPhotosItems(record.ids.join(QLatin1Char('\n')), record.keyword);
        if (watching)
            guard.addObservers();
        if (undone) {
            done += 1;
            restoredItems += count;
        } else if (notRestored) {
            // The keyword is still on them: told, never counted as undone.
            notRestored->failed += count;
        }
    }
    return done;
}

std::vector<KZRestoreRemovedFiles::ItemResult> KZRestoreRemovedFiles::undoMovedFiles(
    const std::vector<KZUndoMovedItem>& items, bool isiTunes, NotRestored* notRestored, std::vector<bool>* keptForDisk)
{
    totToManage += items.size();
    // A folder made again for an item is given what this removal recorded
    // of it; nothing that another removal put in a trash counts.
    for (const KZUndoMovedItem& item : items)
        if (item.oldFolderAttributes)
            recordedFolders_.try_emplace(item.oldPosition.parent_path(), *item.oldFolderAttributes);
    std::vector<ItemResult> results;
    results.reserve(items.size());
    if (keptForDisk)
        keptForDisk->assign(items.size(), false);
    for (size_t i = 0; i < items.size(); ++i) {
        const KZUndoMovedItem& item = items[i];
        const quint64 possibleCopiesBefore = onPossibleCopy_;
        bool keep = false;
        const ItemResult result = item.putBackOnPossibleCopy ? undoPutBackItem(item, isiTunes, &keep)
                                                             : undoItem(item, isiTunes);
        keep = keep || onPossibleCopy_ > possibleCopiesBefore;
        if (keptForDisk)
            (*keptForDisk)[i] = keep;
        results.push_back(result);
        if (result == ItemResult::AlreadyBack) {
            // Neither put back now nor left: told apart.
        } else if (result == ItemResult::Restored) {
            if (isiTunes) {
                // The file is back, but the music library cannot be told so:
                // it is never reported as restored to the library.
                itunesNotAvailableCount += 1;
            } else {
                restoredItems += 1;
            }
        } else if (result != ItemResult::CopyDeleted) {
            notRestoredCount += 1;
            if (notRestored)
                notRestored->add(result, item.isCopy);
        }
        managedCount += 1;
    }
    finishMadeFolders();
    return results;
}

std::optional<platform::AnchoredItem> KZRestoreRemovedFiles::openOldPlace(
    const fs::path& oldPosition, const std::optional<platform::DiskIdentity>& folderDisk, ItemResult* why)
{
    int err = 0;
    if (auto place = platform::AnchoredItem::open(oldPosition, &err)) {
        // Another disk mounted in its place, or the bare folder it is
        // mounted on: the items belong on the disk that is not there.
        if (const platform::DiskAnswer disk = diskOfFolder(place->parentFd(), folderDisk, recordSource_); !isOnDisk(disk)) {
            *why = disk == platform::DiskAnswer::Twin ? ItemResult::TwinDisks : ItemResult::MissingVolume;
            return std::nullopt;
        }
        return place;
    }
    if (err != ENOENT) {
        // A file or a link where a folder of the old place should be: the
        // place is someone else's now, and a link could lead anywhere.
        *why = (err == ELOOP || err == ENOTDIR) ? ItemResult::Occupied : ItemResult::Failed;
        platform::logLine(QStringLiteral("Undo could not reach %1: %2")
                              .arg(platform::pathText(oldPosition), platform::systemErrorString(err)));
        return std::nullopt;
    }
    // The deepest folder that is still there.
    fs::path existing = oldPosition.parent_path();
    while (existing.has_relative_path() && !isThere(existing))
        existing = existing.parent_path();
    std::vector<fs::path> bases;
    {
        std::lock_guard guard(mutex_);
        bases = mountBases_;
    }
    const auto existingStat = platform::statPath(existing, false);
    // Folders on the way to a folder lie on its disk, unless one of them is
    // where a disk is mounted: one that is on another disk now is the bare
    // folder of a disk that is not connected.
    if (folderDisk) {
        const platform::DiskAnswer disk
            = existingStat ? where::judgeDisk(*folderDisk, recordSource_, quint64(existingStat->device),
                                              platform::fileSystemQueryOf(existing / "."))
                           : platform::DiskAnswer::Different;
        if (!isOnDisk(disk)) {
            *why = disk == platform::DiskAnswer::Twin ? ItemResult::TwinDisks : ItemResult::MissingVolume;
            return std::nullopt;
        }
    }
    for (const auto& base : bases) {
        // A missing child of /media, /media/<user>, /run/media/<user> or /mnt
        // is where a volume is mounted: a folder made there would take the
        // items onto the wrong disk. A mounted volume itself (another device
        // than its base) is a fine place to make folders in.
        const auto baseStat = platform::statPath(base, false);
        const bool perUserFolder = existing.parent_path() == base && existingStat && baseStat
                                   && existingStat->device == baseStat->device;
        if (existing == base || perUserFolder) {
            *why = ItemResult::MissingVolume;
            return std::nullopt;
        }
    }
    // Made folder by folder from the one before it, so that a link put on
    // the way meanwhile is refused rather than followed.
    std::optional<platform::AnchoredItem> place;
    if (makeMissingFolders(oldPosition.parent_path(), existing, &err))
        place = platform::AnchoredItem::open(oldPosition, &err);
    if (!place) {
        *why = (err == ELOOP || err == ENOTDIR) ? ItemResult::Occupied : ItemResult::Failed;
        platform::logLine(QStringLiteral("Undo could not make the folders of %1: %2")
                              .arg(platform::pathText(oldPosition), platform::systemErrorString(err)));
    }
    return place;
}

bool KZRestoreRemovedFiles::makeMissingFolders(const fs::path& folder, const fs::path& existing, int* err)
{
    const fs::path there = existing.lexically_normal();
    std::vector<fs::path> missing;
    for (fs::path above = folder.lexically_normal(); above != there && above.has_relative_path();
         above = above.parent_path())
        missing.push_back(above);
    std::reverse(missing.begin(), missing.end());
    for (const fs::path& place : missing) {
        const std::optional<platform::AnchoredItem> at = platform::AnchoredItem::open(place, err);
        if (!at)
            return false;
        std::optional<platform::FolderAttributes> attributes;
        MadeFolder made{place};
        // A folder in a trash that this job's records put there is the
        // user's folder, not a new one: made anew, it would be as open as a
        // new folder is, the restoring user's, and of today.
        if (const auto trashed = trashedFolderOf(place, there)) {
            const int fd = platform::openFolderAt(trashed->parentFd(), trashed->name().c_str(),
                                                  platform::kFolderPathOnly);
            const auto st = trashed->stat();
            if (fd >= 0) {
                attributes = platform::FolderAttributes::of(fd);
                ::close(fd);
            }
            if (attributes && st) {
                made.forTrashed = true;
                made.times = std::pair(st->accessed, st->modified);
            }
        }
        if (!attributes)
            if (const auto recorded = recordedFolders_.find(place); recorded != recordedFolders_.end())
                attributes = recorded->second;
        // Its owner may need to put items in it until the job ends; root
        // needs no bits for that.
        mode_t extra = 0;
        if (attributes && ::geteuid() != 0 && (attributes->mode & S_IRWXU) != S_IRWXU)
            extra = S_IRWXU;
        platform::FileStat st;
        switch (platform::makeFolderAt(at->parentFd(), at->name(), attributes, extra, &st, err)) {
        case platform::FolderMade::Failed:
            return false;
        case platform::FolderMade::Existed:
            continue; // made meanwhile by someone else: theirs as it is
        case platform::FolderMade::Private:
            if (attributes)
                platform::logLine(QStringLiteral("Restore made %1 private: its owner, mode or ACL could not be given")
                                      .arg(platform::pathText(place)));
            made.forTrashed = false;
            made.times.reset();
            break;
        case platform::FolderMade::Given:
            if (extra)
                made.mode = attributes->mode;
            break;
        }
        made.device = st.device;
        made.inode = st.inode;
        madeFolders_.push_back(std::move(made));
    }
    return true;
}

std::optional<platform::AnchoredItem> KZRestoreRemovedFiles::trashedFolderOf(const fs::path& place,
                                                                             const fs::path& existing)
{
    if (jobUndoFiles_.empty())
        return std::nullopt;
    if (!jobTrashed_) {
        jobTrashed_.emplace();
        for (const fs::path& file : jobUndoFiles_)
            if (const auto contents = KZUndoFile::read(file))
                for (const KZUndoFile::Entry& entry : contents->entries)
                    if (entry.valid)
                        jobTrashed_->emplace(entry.oldPosition, entry.currPosition);
    }
    // Only the missing folders, and those this job made for trashed ones: a
    // folder still there was trashed long ago and made again, and held
    // another folder of that name.
    const auto madeForTrashed = [this](const fs::path& folder) {
        return std::any_of(madeFolders_.begin(), madeFolders_.end(),
                           [&folder](const MadeFolder& made) { return made.forTrashed && made.path == folder; });
    };
    for (fs::path above = place; (above != existing || madeForTrashed(above)) && above.has_relative_path();
         above = above.parent_path()) {
        const auto [first, last] = jobTrashed_->equal_range(above);
        if (first == last)
            continue;
        const fs::path inside = place.lexically_relative(above);
        for (auto it = first; it != last; ++it) {
            const auto trashed = where::provedInTrash(it->second, above);
            if (!trashed)
                continue;
            // Reached without following links: the Trash is anyone's of
            // the user to write in.
            int err = 0;
            auto at = platform::AnchoredItem::open(inside == "." ? *trashed : *trashed / inside, &err);
            const auto st = at ? at->stat() : std::nullopt;
            if (st && st->isDir())
                return at;
        }
        break;
    }
    return std::nullopt;
}

void KZRestoreRemovedFiles::finishMadeFolders()
{
    for (const MadeFolder& made : madeFolders_) {
        if (!made.mode && !made.times)
            continue;
        int err = 0;
        const auto at = platform::AnchoredItem::open(made.path, &err);
        const int fd = at ? platform::openFolderAt(at->parentFd(), at->name().c_str()) : -1;
        if (fd < 0)
            continue;
        struct stat st {};
        // Only the folder made: whatever took its place since is not ours.
        if (::fstat(fd, &st) == 0 && st.st_dev == made.device && quint64(st.st_ino) == made.inode) {
            // A disk that keeps no modes leaves it as it was made.
            if (made.mode)
                platform::changeMode(fd, *made.mode);
            if (made.times) {
                const timespec times[2] = {made.times->first, made.times->second};
                ::futimens(fd, times);
            }
        }
        ::close(fd);
    }
    madeFolders_.clear();
    recordedFolders_.clear();
    jobUndoFiles_.clear();
    jobTrashed_.reset();
}

KZRestoreRemovedFiles::ItemResult KZRestoreRemovedFiles::undoItem(const KZUndoMovedItem& item, bool isiTunes)
{
    if (item.currPosition.empty())
        return ItemResult::Missing;
    // Only the item that left moves, taken from the folder it was put in:
    // whatever else now answers to its path stays where it is.
    ItemResult missing = ItemResult::Missing;
    const std::optional<platform::AnchoredItem> from = openCurrentPlace(item, recordSource_, &missing);
    if (!from) {
        // Its disk connected at another place: found there when proved the
        // disk itself, else said to be elsewhere, never not connected.
        if (missing != ItemResult::HolderNotConnected)
            return missing;
        bool elsewhere = false;
        if (const auto remounted = where::remountedMove(item, &elsewhere))
            return undoItem(*remounted, isiTunes);
        return elsewhere ? ItemResult::Elsewhere : missing;
    }
    // Without the old place the item cannot go back; deleting it instead
    // would lose the user's file.
    if (item.oldPosition.empty() || !item.oldPosition.is_absolute())
        return ItemResult::NoOldPosition;
    if (item.isCopy)
        return undoCopy(item, *from);

    // Everything at the old place is checked and done through its folder,
    // opened without following links: a folder on the way swapped for a
    // link cannot turn the item to another folder.
    ItemResult why = ItemResult::Failed;
    const std::optional<platform::AnchoredItem> place = openOldPlace(item.oldPosition, oldFolderDisk(item), &why);
    if (!place)
        return why;
    if (beforeMoveBack_)
        beforeMoveBack_(item.oldPosition);
    // A disk mounted on the old folder since it was checked would hide the
    // item beneath it: as with another disk found there, the item waits
    // where it is with its record.
    if (!platform::pathReachesOpenFolder(place->parentFd()))
        return ItemResult::MissingVolume;
    // Taken from, or put back on, a disk that nothing tells from a copy of
    // its own: the user is told that the disk itself may hold it still.
    const auto fromStat = from->stat();
    const bool onPossibleCopy
        = diskOfFolder(place->parentFd(), oldFolderDisk(item), recordSource_) == platform::DiskAnswer::SameOrCopy
          || (item.identity && fromStat
              && item.identity->disk().judge(quint64(fromStat->device),
                                             platform::fileSystemQueryAt(from->parentFd(), from->name()))
                     == platform::DiskAnswer::SameOrCopy);
    if (item.aliasWasCreated && place->stat()) {
        const ItemResult linked = moveBackWithLink(item, *from, *place);
        onPossibleCopy_ += linked == ItemResult::Restored && onPossibleCopy ? 1 : 0;
        return linked;
    }

    int err = 0;
    if (platform::moveNoReplaceAt(from->parentFd(), from->name(), place->parentFd(), place->name(), &err)) {
        // Mounted on during the move: the item would lie beneath the mount,
        // where nobody sees it back; it goes where it came from.
        if (!platform::pathReachesOpenFolder(place->parentFd())) {
            if (platform::moveNoReplaceAt(place->parentFd(), place->name(), from->parentFd(), from->name(), &err))
                return ItemResult::MissingVolume;
            platform::logLine(QStringLiteral("%1 is back, beneath a disk mounted on its folder as it moved there")
                                  .arg(platform::pathText(item.oldPosition)));
        }
        onPossibleCopy_ += onPossibleCopy ? 1 : 0;
        leftTheTrash(item.currPosition, item.oldPosition);
        return ItemResult::Restored;
    }
    if (err == EEXIST) {
        const auto moved = from->stat();
        const auto into = place->stat();
        if (moved && into && moved->isDir() && into->isDir()
            && mergeFolder(from->parentFd(), from->name(), place->parentFd(), place->name())) {
            onPossibleCopy_ += onPossibleCopy ? 1 : 0;
            // Every entry found its place: the folder is back, only merged.
            leftTheTrash(item.currPosition, item.oldPosition);
            return ItemResult::Restored;
        }
        return ItemResult::Occupied;
    }
    platform::logLine(QStringLiteral("Undo could not move %1 back: %2")
                             .arg(platform::pathText(item.currPosition), platform::systemErrorString(err)));
    return ItemResult::Failed;
}

KZRestoreRemovedFiles::ItemResult KZRestoreRemovedFiles::undoPutBackItem(const KZUndoMovedItem& item, bool isiTunes,
                                                                         bool* keep)
{
    // Whatever lies where the move put it, proved the item, is acted on as
    // by any undo: on the disk itself, coming back, that is the undo it
    // waited for.
    const ItemResult result = undoItem(item, isiTunes);
    if (result != ItemResult::Missing && result != ItemResult::OnPossibleCopy)
        return result;
    // Nothing where the move put it. On the disk itself (Missing) the entry
    // has done its work; on a disk that may be a copy, the disk itself may
    // still hold the item there, and the undo stays. Either way, an item
    // proved at its old place (a copy gone from where it was made) is
    // already back, and nothing acts on it again.
    *keep = result == ItemResult::OnPossibleCopy;
    const bool back = where::isBackAtOldPlace(item);
    return back ? ItemResult::AlreadyBack : result;
}

KZRestoreRemovedFiles::ItemResult KZRestoreRemovedFiles::undoCopy(const KZUndoMovedItem& item,
                                                                  const platform::AnchoredItem& anchor)
{
    const auto copy = anchor.stat();
    const where::OriginalAnswer original = where::whereIsOriginal(item, copy, recordSource_);
    if (original.there) {
        // The copy goes only while it is still exactly what the removal
        // made: an edited copy, or anything the user put at its place, is
        // theirs. Its size and date can be put back after an edit in place,
        // so its bytes are compared with the original's too. A record that
        // never described its copy deletes nothing. Checked and deleted
        // through one open parent, so that a folder on the way swapped in
        // between cannot turn the deletion elsewhere.
        int err = 0;
        if (!item.copyIdentity)
            return ItemResult::CopyKept;
        // Just like the copy, but on a disk not proved to be its own: it may
        // be the copy, and so the undo waits with it.
        if (const platform::Proof copyProof = item.copyIdentity->prove(anchor.procPath());
            copyProof != platform::Proof::Proved) {
            if (copyProof != platform::Proof::NotProved)
                return ItemResult::CopyKept;
            const bool onTwin = item.copyIdentity->disk
                                && item.copyIdentity->disk->judge(
                                       quint64(copy->device), platform::fileSystemQueryAt(anchor.parentFd(), anchor.name()))
                                       == platform::DiskAnswer::Twin;
            return onTwin ? ItemResult::TwinDisks : ItemResult::Unproved;
        }
        // A file of the same name on another disk mounted in the original's
        // place is not the original: the copy is all there is of it.
        if (original.where == where::OriginalWhere::Twin)
            return ItemResult::TwinDisks;
        if (original.where == where::OriginalWhere::NotConnected)
            return ItemResult::MissingVolume;
        const std::optional<platform::AnchoredItem>& originalPlace = original.place;
        if (!originalPlace || !platform::sameContent(anchor.procPath(), originalPlace->procPath())) {
            platform::logLine(QStringLiteral("Undo kept the copy %1: it no longer holds what %2 holds")
                                  .arg(platform::pathText(item.currPosition), platform::pathText(item.oldPosition)));
            return ItemResult::CopyKept;
        }
        // Made on a disk that nothing tells from a copy of its own: the disk
        // itself may hold the copy still.
        const bool onPossibleCopy
            = item.copyIdentity->disk
              && item.copyIdentity->disk->judge(quint64(copy->device),
                                                platform::fileSystemQueryAt(anchor.parentFd(), anchor.name()))
                     == platform::DiskAnswer::SameOrCopy;
        // A folder goes entry by entry: a kill part-way leaves part of the
        // copy, which would pass for the original's copy. Announced as a
        // copy that a kill may leave cut short, which the next start takes
        // away.
        platform::copyingInto(anchor.parentFd(), anchor.name().c_str(), originalPlace->parentFd(),
                              originalPlace->name().c_str(), copy->isDir(), true);
        if (platform::removeTreeAt(anchor.parentFd(), anchor.name(), {}, &err)) {
            onPossibleCopy_ += onPossibleCopy ? 1 : 0;
            return ItemResult::CopyDeleted;
        }
        if (platform::isImmutable(item.currPosition))
            lockedCount += 1;
        return ItemResult::Failed;
    }
    // The original went away since: the copy is all there is, so it goes
    // back in its place and is kept where it is too. An original whose disk
    // is not connected has not gone away: the copy stays where it is. Nor
    // has one missing from a disk that may be a copy of its own: the disk
    // itself may hold it still.
    if (original.where != where::OriginalWhere::Gone) {
        platform::logLine(QStringLiteral("Undo kept the copy %1: nothing shows that %2 went away from its disk")
                              .arg(platform::pathText(item.currPosition), platform::pathText(item.oldPosition)));
        return original.where == where::OriginalWhere::OnPossibleCopy ? ItemResult::OnPossibleCopy
               : original.where == where::OriginalWhere::Twin         ? ItemResult::TwinDisks
                                                                      : ItemResult::MissingVolume;
    }
    ItemResult why = ItemResult::Failed;
    const std::optional<platform::AnchoredItem> place = openOldPlace(item.oldPosition, oldFolderDisk(item), &why);
    if (!place)
        return why;
    if (beforeMoveBack_)
        beforeMoveBack_(item.oldPosition);
    if (!platform::pathReachesOpenFolder(place->parentFd()))
        return ItemResult::MissingVolume;
    int err = 0;
    if (platform::moveNoReplaceAt(anchor.parentFd(), anchor.name(), place->parentFd(), place->name(), &err))
        return ItemResult::Restored;
    if (err == EXDEV
        && platform::copyTreeAt(anchor.parentFd(), anchor.name(), place->parentFd(), place->name(), {}, &err))
        return ItemResult::Restored;
    return err == EEXIST ? ItemResult::Occupied : ItemResult::Failed;
}

KZRestoreRemovedFiles::ItemResult KZRestoreRemovedFiles::moveBackWithLink(const KZUndoMovedItem& item,
                                                                          const platform::AnchoredItem& from,
                                                                          const platform::AnchoredItem& place)
{
    int err = 0;
    // Only a link that holds exactly the bytes being put back may give way:
    // anything else at the old place is the user's and stays.
    const auto link = place.stat();
    const auto moved = from.stat();
    if (!link || !moved || !link->isRegular() || !moved->isRegular() || link->links < 2
        || link->size != moved->size || !platform::sameFileBytes(place.procPath(), from.procPath()))
        return ItemResult::Occupied;
    // Set aside rather than unlinked, so that a failed move back can put the
    // link where it was. The aside name does not carry the item's own: a
    // long name with the prefix would pass the file system's limit.
    const int folder = place.parentFd();
    std::string aside;
    for (int n = 0;; ++n) {
        aside = ".maravex-undo-" + std::to_string(::getpid()) + "-" + std::to_string(n);
        if (platform::moveNoReplaceAt(folder, place.name(), folder, aside, &err))
            break;
        if (err != EEXIST)
            return ItemResult::Failed;
    }
    const auto asideStat = platform::statAt(folder, aside.c_str(), false);
    if (!asideStat || !asideStat->sameItem(*link)) {
        // Something swapped under us; put back whatever was set aside.
        platform::moveNoReplaceAt(folder, aside, folder, place.name(), &err);
        return ItemResult::Occupied;
    }
    if (!platform::moveNoReplaceAt(from.parentFd(), from.name(), folder, place.name(), &err)) {
        int backErr = 0;
        if (!platform::moveNoReplaceAt(folder, aside, folder, place.name(), &backErr))
            platform::logLine(QStringLiteral("Undo left the link to %1 at %2")
                                  .arg(platform::pathText(item.oldPosition),
                                       platform::pathText(item.oldPosition.parent_path() / aside)));
        return err == EEXIST ? ItemResult::Occupied : ItemResult::Failed;
    }
    ::unlinkat(folder, aside.c_str(), 0);
    leftTheTrash(item.currPosition, item.oldPosition);
    return ItemResult::Restored;
}

bool KZRestoreRemovedFiles::mergeFolder(int fromParent, const std::string& fromName, int intoParent,
                                        const std::string& intoName)
{
    // Both folders are held open for the whole merge: each entry goes from
    // the one into the other, whatever happens to the names around them.
    const int from = platform::openFolderAt(fromParent, fromName.c_str());
    if (from < 0)
        return false;
    DIR* dir = ::fdopendir(from);
    if (!dir) {
        ::close(from);
        return false;
    }
    const int into = platform::openFolderAt(intoParent, intoName.c_str(), platform::kFolderPathOnly);
    if (into < 0) {
        ::closedir(dir);
        return false;
    }
    std::vector<std::string> entries;
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            entries.emplace_back(entry->d_name);
    }
    bool all = errno == 0;
    for (const auto& name : entries) {
        int err = 0;
        if (platform::moveNoReplaceAt(from, name, into, name, &err))
            continue;
        const auto a = platform::statAt(from, name.c_str(), false);
        const auto b = platform::statAt(into, name.c_str(), false);
        if (err == EEXIST && a && b && a->isDir() && b->isDir() && mergeFolder(from, name, into, name))
            continue;
        // A clashing file stays where it is: neither copy is lost.
        all = false;
    }
    ::closedir(dir);
    ::close(into);
    // Only an emptied folder goes; whatever is still in it keeps it.
    return ::unlinkat(fromParent, fromName.c_str(), AT_REMOVEDIR) == 0 && all;
}

std::vector<KZCreatedFolder> KZRestoreRemovedFiles::removeCreatedFolders(std::vector<KZCreatedFolder> folders)
{
    const auto depth = [](const KZCreatedFolder& f) {
        const fs::path& at = f.madeAt.empty() ? f.path : f.madeAt;
        return std::distance(at.begin(), at.end());
    };
    std::stable_sort(folders.begin(), folders.end(),
                     [&depth](const KZCreatedFolder& a, const KZCreatedFolder& b) { return depth(a) > depth(b); });
    std::vector<KZCreatedFolder> left;
    for (auto& folder : folders) {
        // Through the folder it was made in, reached without following
        // links, and only while it is the folder made: a link put in its
        // place, or a stranger's folder behind one, is never removed.
        int err = 0;
        const fs::path at = folder.madeAt.empty() ? folder.path : folder.madeAt;
        const auto made = platform::AnchoredItem::open(at, &err);
        const auto st = made ? made->stat(&err) : std::nullopt;
        if (!st || !st->isDir()
            || (folder.identity
                && !folder.identity->isSameFolder(*st, platform::fileSystemQueryAt(made->parentFd(), made->name()),
                                                  platform::folderGenerationQueryAt(made->parentFd(), made->name())))) {
            // Gone already, or another's; on a disk that is not connected,
            // or one that may be a copy of its own, it waits for the disk
            // with the items it holds.
            if (folder.identity && where::diskAnswerAt(at, folder.identity->disk()) != platform::DiskAnswer::Same)
                left.push_back(std::move(folder));
            continue;
        }
        // A folder the user put something into stays.
        if (::unlinkat(made->parentFd(), made->name().c_str(), AT_REMOVEDIR) != 0)
            left.push_back(std::move(folder));
    }
    return left;
}

// ---- Restore ----------------------------------------------------------------------------

bool KZRestoreRemovedFiles::wasPutBackFromPossibleCopy(const KZUndoFile::Entry& entry)
{
    return entry.valid && where::wasPutBackOnPossibleCopy(entry);
}

bool KZRestoreRemovedFiles::isListed(const KZUndoFile::Entry& entry, const fs::path& undoFile)
{
    return where::isListed(entry, undoFile.empty() ? where::RecordSource{} : where::RecordSource::ofUndoFile(undoFile));
}

bool KZRestoreRemovedFiles::removeIfAllDone(const fs::path& file)
{
    // A Restore at work on undo files has them: this waits for a next look.
    std::unique_lock inUse(undoFilesInUse(), std::try_to_lock);
    if (!inUse.owns_lock())
        return false;
    const auto contents = KZUndoFile::read(file);
    if (!contents || contents->entries.empty())
        return false;
    where::Seen seen;
    const where::RecordSource source = where::RecordSource::ofUndoFile(file);
    for (const auto& entry : contents->entries)
        if (!entry.valid || !where::wasPutBackOnPossibleCopy(entry)
            || where::whereIs(entry, source, &seen).where != where::Where::KeptDone)
            return false;
    QString error;
    if (KZUndoFile::rewrite(file, contents->rootData, {}, &error))
        return true;
    platform::logLine(QStringLiteral("Undo file %1 not removed: %2").arg(platform::pathText(file), error));
    return false;
}

int KZRestoreRemovedFiles::dropPutBack(const fs::path& file)
{
    std::unique_lock inUse(undoFilesInUse(), std::try_to_lock);
    if (!inUse.owns_lock())
        return 0;
    const auto contents = KZUndoFile::read(file);
    if (!contents || contents->entries.empty())
        return 0;
    where::Seen seen;
    const where::RecordSource source = where::RecordSource::ofUndoFile(file);
    std::vector<KZUndoFile::Entry> keep;
    std::vector<std::pair<fs::path, fs::path>> back;
    std::vector<const KZUndoFile::Entry*> backEntries;
    int found = 0;
    for (const auto& entry : contents->entries) {
        // Only an item whose Trash name is free can be back: the list is
        // built often, and most items lie in the Trash still, so the rest
        // are left unexamined.
        const auto target = entry.valid ? platform::bookmarkTarget(entry.currPosition) : std::nullopt;
        int err = 0;
        if (!target || platform::statPath(target->path, false, &err) || err != ENOENT) {
            keep.push_back(entry);
            continue;
        }
        const where::Answer at = where::whereIs(entry, source, &seen);
        if (at.where != where::Where::BackInPlace) {
            keep.push_back(entry);
            continue;
        }
        ++found;
        // Proved back by its disk alone, its .trashinfo goes first, as a
        // Restore's does.
        if (at.backByItsDisk && removeInfoOfRestored(at.trashed, entry.oldPosition))
            continue;
        back.emplace_back(at.trashed, entry.oldPosition);
        backEntries.push_back(&entry);
        // As a Restore that ends keeps it: the disk itself may still hold
        // the item in its Trash.
        if (at.onPossibleCopy && !at.recordOnItsTrashDisk) {
            KZUndoFile::Entry kept = entry;
            kept.raw.insert(QString::fromLatin1(where::kPutBackOnPossibleCopyKey), true);
            keep.push_back(std::move(kept));
        }
    }
    if (found == 0)
        return 0;
    QString error;
    // Named first, as a Restore names what it touches: a kill between the
    // rewrite and the .trashinfo removals leaves nothing the next start
    // does not find.
    KZReservationJournal reservations;
    KZRemovalJournal* journal = back.empty() ? nullptr : reservations.journal();
    if (journal && journal->path().parent_path() != file.parent_path())
        journal = nullptr;
    if (journal)
        for (const KZUndoFile::Entry* entry : backEntries)
            journal->restoring(file.filename().native(), entry->currPosition, entry->oldPosition);
    const auto announceTemporary = [journal](const fs::path& temporary) {
        if (journal)
            journal->rewriting(temporary);
    };
    // The file first: while it names the items, their .trashinfo files
    // are what proves that they left the Trash.
    if (!KZUndoFile::rewrite(file, contents->rootData, keep, &error, {}, announceTemporary)) {
        platform::logLine(QStringLiteral("Undo file %1 not rewritten: %2").arg(platform::pathText(file), error));
        return 0;
    }
    for (const auto& [trashed, oldPosition] : back)
        removeInfoOfRestored(trashed, oldPosition);
    return found;
}

KZRestoreRemovedFiles::RestoreResult KZRestoreRemovedFiles::restoreFiles(const std::vector<fs::path>& undoFiles)
{
    std::lock_guard job(jobMutex_);
    std::lock_guard inUse(undoFilesInUse());
    where::Seen seen;
    KZReservationJournal reservations;
    RestoreResult result;
    managedCount = 0;
    totToManage = 0;
    restoring_ = true;
    backFromTrash_.clear();
    const bool several = undoFiles.size() > 1;
    jobUndoFiles_ = undoFiles;
    int fileCount = 0;
    for (const auto& file : undoFiles) {
        ++fileCount;
        // This file's own reasons, for its row; added to the run's as the
        // file ends, whichever way.
        NotRestored runSoFar = std::exchange(result.notRestored, NotRestored{});
        const auto endOfFile = qScopeGuard([&] {
            if (result.notRestored.total() > 0)
                result.keptWhy.emplace_back(file, result.notRestored);
            runSoFar += result.notRestored;
            result.notRestored = runSoFar;
        });
        const QString number = KZNumberUtilities::sharedControl().numberToFormatString(fileCount);
        const auto say = [&](const char* one, const char* withCount) {
            setInfoText(several ? KZErrorDelegate::replaceContentOfString(
                                      platform::localizedString(QString::fromLatin1(withCount)), {number})
                                : platform::localizedString(QString::fromLatin1(one)));
        };
        // Reading a large undo file and checking its items takes a while:
        // the user sees which removal is being read before its items move.
        say("preparing_restore", "preparing_restore_with_count");
        QString error;
        const auto contents = KZUndoFile::read(file, &error);
        if (!contents) {
            // Kept: it may be readable later, and it is the only way back to
            // its items.
            platform::logLine(QStringLiteral("Undo file %1 not read: %2")
                                     .arg(platform::pathText(file), error));
            result.unreadable.push_back(file);
            // Its items are still in the Trash: they count as not put back.
            result.notRestored.unreadable += 1;
            result.skipped += 1;
            continue;
        }
        say("restoring_items", "restoring_items_with_count");
        totToManage += contents->entries.size();
        // What this removal recorded of the folders its items left.
        recordedFolders_.clear();
        for (const auto& entry : contents->entries)
            if (entry.valid && entry.oldFolder)
                recordedFolders_.try_emplace(entry.oldPosition.parent_path(), *entry.oldFolder);
        std::vector<KZUndoFile::Entry> keep;
        recordSource_ = where::RecordSource::ofUndoFile(file);
        // What this Restore will touch, named before it does: a kill after
        // the file is rewritten leaves the .trashinfo files of the items it
        // no longer lists, and maybe the rewrite's temporary file, which
        // the recovery finds by these lines. Only for a file beside the
        // journal, where the recovery looks for it.
        const auto journal = [&]() -> KZRemovalJournal* {
            KZRemovalJournal* named = reservations.journal();
            return named && named->path().parent_path() == file.parent_path() ? named : nullptr;
        };
        const auto announce = [&](const KZUndoFile::Entry& entry) {
            if (KZRemovalJournal* named = journal())
                named->restoring(file.filename().native(), entry.currPosition, entry.oldPosition);
        };
        // Put back from a disk that may be a copy of its own: the disk
        // itself may still hold the item in its Trash, and the record stays
        // for it (marked, and listed only where a Trash holds its own item
        // again), unless this file lies on that very disk: the disk's own
        // file lists the item there.
        const auto keepForTheDiskItself = [&](const KZUndoFile::Entry& entry, const where::Answer& at) {
            if (!at.onPossibleCopy)
                return;
            result.onPossibleCopy += 1;
            if (at.recordOnItsTrashDisk)
                return;
            KZUndoFile::Entry kept = entry;
            kept.raw.insert(QString::fromLatin1(where::kPutBackOnPossibleCopyKey), true);
            keep.push_back(std::move(kept));
        };
        // Put back, and proved so by its disk alone: its .trashinfo goes
        // before the record does, so that a kill between the two leaves no
        // .trashinfo that nothing names.
        std::vector<std::pair<fs::path, fs::path>> infosFirst;
        const auto infoGoesFirst = [&](const KZUndoFile::Entry& entry, const fs::path& trashed,
                                       const fs::path& oldPosition) {
            if (where::isBackByItsDisk(entry, recordSource_))
                infosFirst.emplace_back(trashed, oldPosition);
        };
        const auto countBack = [&](const KZUndoFile::Entry& entry) {
            if (entry.isiTunesItem)
                itunesNotAvailableCount += 1;
            else
                result.restored += 1;
        };
        // Not put back, and kept: the only record of where the item is.
        const auto notBack = [&](const KZUndoFile::Entry& entry, quint64 NotRestored::*why) {
            result.skipped += 1;
            result.notRestored.*why += 1;
            keep.push_back(entry);
        };
        for (const auto& entry : contents->entries) {
            managedCount += 1;
            if (!entry.valid) {
                notBack(entry, &NotRestored::unreadable);
                continue;
            }
            const where::Answer at = where::whereIs(entry, recordSource_, &seen);
            switch (at.where) {
            case where::Where::InTrash:
                break;
            case where::Where::KeptAside:
                keep.push_back(entry);
                continue;
            case where::Where::KeptDone:
                continue;
            case where::Where::BackInPlace:
                // A killed Restore's move, found done: its .trashinfo goes
                // once the file no longer names the item.
                announce(entry);
                backFromTrash_.emplace_back(at.trashed, entry.oldPosition);
                if (auto found = takeTrashed(at.target->device, at.target->inode, entry.oldPosition))
                    result.backInPlace.push_back(std::move(found));
                countBack(entry);
                keepForTheDiskItself(entry, at);
                if (at.backByItsDisk)
                    infosFirst.emplace_back(at.trashed, entry.oldPosition);
                continue;
            case where::Where::Changed:
                notBack(entry, &NotRestored::changed);
                continue;
            case where::Where::NotChecked:
                notBack(entry, &NotRestored::notChecked);
                continue;
            case where::Where::Unproved:
                notBack(entry, &NotRestored::unproved);
                continue;
            case where::Where::NotInTrash:
                notBack(entry, &NotRestored::notInTrash);
                continue;
            case where::Where::Elsewhere:
                notBack(entry, &NotRestored::elsewhere);
                continue;
            case where::Where::NotConnected:
                notBack(entry, &NotRestored::disconnected);
                continue;
            case where::Where::Twin:
                notBack(entry, &NotRestored::twinDisks);
                continue;
            case where::Where::Unusable:
                notBack(entry, &NotRestored::unreadable);
                continue;
            case where::Where::Gone:
                // Its disk itself proved, its Trash name free: the record
                // has nothing left to find.
                result.skipped += 1;
                result.notRestored.gone += 1;
                continue;
            }
            KZUndoMovedItem item{at.trashed, at.oldPosition, entry.aliasWasCreated, false, std::nullopt};
            item.oldFolderAttributes = entry.oldFolder;
            // A folder proved a moment ago under another number by this
            // program's own record on its disk: its identity names it no
            // more, where a file's size and date still do.
            if (at.target && at.target->identity.canProve() && !(at.renumbered && at.now && at.now->isDir()))
                item.identity = at.target->identity;
            // An item goes to a Trash on its own device only: its old folder
            // on another device now is the bare folder of a disk not there.
            if (at.now)
                if (const auto disk = platform::diskOf(at.trashed))
                    item.setOldFolderDisk(*disk);
            announce(entry);
            const ItemResult outcome = undoItem(item, entry.isiTunesItem);
            if (outcome == ItemResult::Restored) {
                // The result's item by this removal's own record of it: a
                // disk that numbers its files anew gives the item in its
                // Trash another number once it is mounted again.
                if (at.target)
                    if (auto found = takeTrashed(at.target->device, at.target->inode, entry.oldPosition))
                        result.backInPlace.push_back(std::move(found));
                countBack(entry);
                keepForTheDiskItself(entry, at);
                infoGoesFirst(entry, at.trashed, at.oldPosition);
                continue;
            }
            result.skipped += 1;
            result.notRestored.add(outcome);
            if (const auto left = platform::statPath(at.trashed, false)) {
                KZUndoFile::Entry kept = entry;
                // Proved a moment ago, and changed since only by this
                // Restore (a merge that went in part): recorded as it is
                // now, so that where no birth time or generation tells a
                // folder, its new change time still does.
                if (at.now && left->sameItem(*at.now))
                    if (QByteArray fresh = platform::createBookmark(at.trashed); !fresh.isEmpty()) {
                        kept.raw.insert(QStringLiteral("currPosition"), fresh);
                        kept.currPosition = std::move(fresh);
                    }
                keep.push_back(std::move(kept));
            } else if (outcome == ItemResult::HolderNotConnected || outcome == ItemResult::OnPossibleCopy
                       || outcome == ItemResult::TwinDisks || outcome == ItemResult::Elsewhere) {
                // Its Trash's disk went while this Restore ran: the record
                // is all that finds the item once it is back.
                keep.push_back(entry);
            }
        }
        recordSource_ = {};
        for (const auto& [trashed, oldPosition] : infosFirst)
            if (removeInfoOfRestored(trashed, oldPosition)) {
                restoreStep();
                std::erase(backFromTrash_, std::pair{trashed, oldPosition});
            }
        const auto announceTemporary = [&](const fs::path& temporary) {
            if (KZRemovalJournal* named = journal())
                named->rewriting(temporary);
        };
        if (KZUndoFile::rewrite(file, contents->rootData, keep, &error, {}, announceTemporary)) {
            restoreStep();
            removeInfosOfRestored();
        } else {
            // The file still names the items put back: their .trashinfo
            // files stay, and tell the next Restore that they left.
            platform::logLine(QStringLiteral("Undo file %1 not rewritten: %2")
                                     .arg(platform::pathText(file), error));
            backFromTrash_.clear();
        }
    }
    restoring_ = false;
    finishMadeFolders();
    restoredItems += result.restored;
    notRestoredCount += result.skipped;
    return result;
}

void KZRestoreRemovedFiles::restoreItemsOfFile(std::vector<fs::path> undoFiles, QVariantList indexes)
{
    isWorking = true;
    restoredItems = 0;
    queue_->addOperation([this, files = std::move(undoFiles), indexes = std::move(indexes)] {
        const RestoreResult result = restoreFiles(files);
        isWorking = false;
        tellBackInPlace(result.backInPlace);
        QVariantMap keptReasons;
        for (const auto& [file, why] : result.keptWhy)
            keptReasons.insert(platform::pathText(file),
                               QVariantMap{{QStringLiteral("count"), why.total()},
                                           {QStringLiteral("reason"), why.reasonKey()}});
        platform::NotificationCenter::defaultCenter().post(
            QStringLiteral("updateRestoredList"), platform::NotificationObject(this),
            {{QStringLiteral("indexes"), indexes},
             {QStringLiteral("restoredItems"), result.restored},
             {QStringLiteral("notRestoredItems"), result.notRestored.total()},
             {QStringLiteral("notRestoredReason"), result.notRestored.reasonKey()},
             {QStringLiteral("keptReasons"), keptReasons},
             {QStringLiteral("onPossibleCopy"), result.onPossibleCopy}});
    });
}
