#include "removal/KZRemove.h"
#include "removal/KZRestoreRemovedFiles.h"

#include "engine/KZLocationGrouping.h"
#include "media/KZApplescript.h"
#include "media/KZAppsSupport.h"
#include "media/KZPhotosSupport.h"
#include "platform/FileOps.h"
#include "platform/FileStat.h"
#include "platform/Log.h"
#include "platform/OperationQueue.h"
#include "platform/Paths.h"
#include "platform/ScriptRunner.h"
#include "platform/StringTable.h"
#include "platform/Trash.h"
#include "services/KZErrorDelegate.h"
#include "services/KZNumberUtilities.h"
#include "settings/KZDefaultsKeys.h"

#include <cerrno>
#include <thread>
#include <unordered_set>

namespace fs = std::filesystem;

namespace {

std::atomic<bool> g_removalRunning{false};

platform::OperationQueue& removalQueue()
{
    // Deep folder trees are walked recursively: the thread gets a large stack.
    static auto* queue = new platform::OperationQueue(QStringLiteral("KZRemove"), platform::OperationQueue::Unbounded,
                                                      0x5000000);
    return *queue;
}

// Adapts the panel to the grouping by location.
class GroupingDelegate : public KZLocationGroupingDelegate {
public:
    explicit GroupingDelegate(KZRemovalPanel& panel) : panel_(panel) {}
    bool nsWasStopped() override { return panel_.wasStopped.load(); }
    void setAlreadyCheckedCount(quint64 count) override { panel_.checkedCount.store(count); }
    void updateFieldInfoWithString(const QString& key) override { panel_.statusDidChange(key); }

private:
    KZRemovalPanel& panel_;
};

} // namespace

KZRemove::KZRemove(std::shared_ptr<KZRemovalPanel> panel, std::shared_ptr<KZRemovalFileSystem> fileSystem)
    : panel_(std::move(panel)),
      fs_(fileSystem ? std::move(fileSystem) : std::make_shared<KZRemovalFileSystem>()),
      steps_(panel_, fs_, *this)
{
}

bool KZRemove::isRemovalRunning()
{
    return g_removalRunning.load();
}

void KZRemove::startMoving()
{
    removalQueue().addOperation([self = shared_from_this()] { self->doMove(); });
}

void KZRemove::doMove()
{
    if (g_removalRunning.exchange(true)) {
        // The undo lists belong to one removal at a time.
        refused.store(true);
        panel_->isWorking.store(false);
        KZErrorDelegate::sharedControl().showError(QStringLiteral("removal_already_running"));
        panel_->workDidEnd();
        return;
    }
    struct Release {
        ~Release() { g_removalRunning.store(false); }
    } release;

    {
        std::lock_guard guard(mutex_);
        renamedDict_.clear();
    }
    steps_.learnMusicLibrary();
    steps_.acceptForRemoval(panel_->itemsToRemove);
    if (panel_->isMoveToTrash)
        moveToTrashPreliminary(panel_->itemsToRemove);
    else
        moveItemsPreliminary(panel_->itemsToRemove, panel_->urlToMove);
    // Before the panel hears of the end, so that Edit > Undo and the undo
    // file are in place when it shows what was removed.
    KZRestoreRemovedFiles::sharedControl().registerRemoval(*this, panel_->isMoveToTrash, std::move(journal_));
    panel_->isWorking.store(false);
    panel_->workDidEnd();
}

// ---- Helpers ---------------------------------------------------------------------------------

KZRemoveTally KZRemove::tally() const
{
    std::lock_guard guard(mutex_);
    return tally_;
}

void KZRemove::setTallyForTesting(const KZRemoveTally& tally)
{
    std::lock_guard guard(mutex_);
    tally_ = tally;
}

bool KZRemove::isStopped() const
{
    return panel_->wasStopped.load();
}

void KZRemove::status(const QString& key) const
{
    panel_->statusDidChange(key);
}

qint32 KZRemove::codeForErrno(int err)
{
    return KZRemoveItemSteps::codeForErrno(err);
}

// ---- Outcomes, named once ------------------------------------------------------------------------

QString KZRemove::outcomeName(KZRemoveOutcome outcome)
{
    switch (outcome) {
    case KZRemoveOutcome::Trashed:
        return QStringLiteral("trash");
    case KZRemoveOutcome::Moved:
        return QStringLiteral("moved");
    case KZRemoveOutcome::Copied:
        return QStringLiteral("copied");
    case KZRemoveOutcome::Deleted:
        return QStringLiteral("deleted");
    case KZRemoveOutcome::NotFound:
        return QStringLiteral("not_found");
    case KZRemoveOutcome::Changed:
        return QStringLiteral("changed");
    case KZRemoveOutcome::NotChecked:
        return QStringLiteral("not_checked");
    case KZRemoveOutcome::LinkInPath:
        return QStringLiteral("link_in_path");
    case KZRemoveOutcome::MountInside:
        return QStringLiteral("mount_inside");
    case KZRemoveOutcome::MountAppeared:
        return QStringLiteral("mount_appeared");
    case KZRemoveOutcome::DestinationCovered:
        return QStringLiteral("destination_covered");
    case KZRemoveOutcome::LastMember:
        return QStringLiteral("last_member");
    case KZRemoveOutcome::NotTagged:
        return QStringLiteral("not_tagged");
    case KZRemoveOutcome::MusicKept:
        return QStringLiteral("music_not_removed");
    case KZRemoveOutcome::LinkNotMade:
        return QStringLiteral("link_not_made");
    case KZRemoveOutcome::SameName:
        return QStringLiteral("same_name");
    case KZRemoveOutcome::NoPermission:
        return QStringLiteral("permission_not_allowed");
    case KZRemoveOutcome::BadFileName:
        return QStringLiteral("bad_file_name");
    case KZRemoveOutcome::Busy:
        return QStringLiteral("busy");
    case KZRemoveOutcome::DiskLocked:
        return QStringLiteral("disk_locked");
    case KZRemoveOutcome::Stopped:
        return QStringLiteral("stopped");
    case KZRemoveOutcome::NoTrash:
        return QStringLiteral("no_trash");
    case KZRemoveOutcome::NoDestination:
        return QStringLiteral("no_destination");
    case KZRemoveOutcome::NoUndoRecord:
        return QStringLiteral("no_undo_record");
    case KZRemoveOutcome::Failed:
        break;
    }
    return QStringLiteral("error");
}

std::optional<KZFoundItemArray> KZRemove::removedArray() const
{
    std::lock_guard guard(mutex_);
    return removedArray_;
}

std::vector<KZUndoMovedItem> KZRemove::standardUndo() const
{
    std::lock_guard guard(mutex_);
    return standardUndo_;
}

std::vector<KZUndoMovedItem> KZRemove::itunesUndo() const
{
    std::lock_guard guard(mutex_);
    return itunesUndo_;
}

std::vector<KZPersistentUndoRecord> KZRemove::persistentUndo() const
{
    std::lock_guard guard(mutex_);
    return persistentUndo_;
}

std::vector<KZPhotosUndoRecord> KZRemove::photosUndo() const
{
    std::lock_guard guard(mutex_);
    return photosUndo_;
}

std::vector<KZCreatedFolder> KZRemove::createdFolderUndo() const
{
    std::lock_guard guard(mutex_);
    return createdFolderUndo_;
}

std::map<std::string, quint64> KZRemove::renamedDict() const
{
    std::lock_guard guard(mutex_);
    return renamedDict_;
}

void KZRemove::countAside(const KZFoundItemRef& item, quint64 KZRemoveTally::*counter, const QString& outcome)
{
    {
        std::lock_guard guard(mutex_);
        ++(tally_.*counter);
    }
    noteOutcome(item, outcome);
}

bool KZRemove::keepsMusicItem(const KZFoundItemRef& item)
{
    // Set aside before the group counters are touched and before any
    // question about the volume: the track stays, so it asks for nothing,
    // and it still counts as the copy its group keeps.
    if (item->isPhotosItem() || (!item->isiTunesItem() && !steps_.isMusicLibraryFile(item->url())))
        return false;
    countAside(item, &KZRemoveTally::musicKept, outcomeName(KZRemoveOutcome::MusicKept));
    return true;
}

void KZRemove::noteOutcome(const KZFoundItemRef& item, const QString& outcome)
{
    std::lock_guard guard(mutex_);
    outcomes_[item.get()] = outcome;
}

QString KZRemove::outcomeOf(const KZFoundItemRef& item) const
{
    std::lock_guard guard(mutex_);
    const auto found = outcomes_.find(item.get());
    return found == outcomes_.end() ? QString() : found->second;
}

fs::path KZRemove::managedPath(const KZFoundItemRef& item) const
{
    std::lock_guard guard(mutex_);
    const auto found = managedItems_.find(item.get());
    return found == managedItems_.end() ? fs::path() : found->second;
}

// ---- The move-to-Trash pass -------------------------------------------------------------------

void KZRemove::moveToTrashPreliminary(const KZFoundItemArray& items)
{
    if (items.isEmpty())
        return;
    thereAreShared.store(false);
    bool alreadyShown = false;
    panel_->totToCheck.store(quint64(items.size()));

    KZFoundItemArray standard, photos;
    for (const KZFoundItemRef& item : items) {
        if (keepsMusicItem(item)) {
            panel_->checkedCount.fetch_add(1);
            continue;
        }
        if (!item->aliasAlreadyCreated()) {
            item->setAliasAlreadyCreated(true);
            item->createAlias();
        }
        const fs::path url = item->url();
        if (url.empty()) {
            countAside(item, &KZRemoveTally::notFound, QStringLiteral("not_found"));
            continue;
        }
        const bool locked = fs_->isLocked(url);
        panel_->checkedCount.fetch_add(1);
        if (isStopped())
            break;
        if (locked) {
            countAside(item, &KZRemoveTally::locked, QStringLiteral("locked"));
            continue;
        }
        if (!item->isPhotosItem()) {
            bool unreadable = false;
            if (!checkForSharedLocation(url, &alreadyShown, &unreadable)) {
                // A volume that cannot be asked is not taken for a "stop": the
                // item is counted and the others are still looked at.
                if (unreadable) {
                    countAside(item, &KZRemoveTally::notFound, QStringLiteral("not_found"));
                    continue;
                }
                break;
            }
        }
        item->setStorePath();
        if (checkSecurity(item)) {
            item->subtractUnitItemsInGroup();
            (item->isPhotosItem() ? photos : standard).append(item);
        } else {
            noteOutcome(item, QStringLiteral("last_member"));
        }
    }
    // Every counter is whole again before the first file is touched, also
    // after a stop.
    restoreItemsInGroupCount(photos);
    restoreItemsInGroupCount(standard);

    if (!standard.isEmpty() && !isStopped()) {
        steps_.acceptForRemoval(standard);
        const KZFoundItemArray work = panel_->itemsArefiles ? standard : currItemsWithArray(standard, true);
        if (!isStopped()) {
            panel_->progressDidBecomeDeterminate(true);
            status(thereAreShared.load() ? QStringLiteral("deleting") : QStringLiteral("trashing"));
            panel_->totToManage.store(quint64(work.size()));
            moveItems(work, TrashJob, {});
            const KZFoundItemArray processed = findProcessedItems(items);
            std::lock_guard guard(mutex_);
            removedArray_ = processed;
        }
    }
    if (!photos.isEmpty() && !isStopped())
        markPhotosItems(photos, true);
}

bool KZRemove::checkForSharedLocation(const fs::path& url, bool* alreadyShown, bool* unreadable)
{
    if (*alreadyShown)
        return thereAreShared.load();
    const auto local = fs_->isLocalVolume(url);
    if (!local) {
        *unreadable = true;
        return false;
    }
    // A volume with no Trash the item can go to (a disk that shows its
    // folders as another user's, one mounted read-only) gets the same
    // question before anything moves: stopped at its first item with an
    // error, a removal would leave the user with half of it done.
    if (*local && fs_->canTrash(url))
        return true;
    const qint64 choice = KZErrorDelegate::sharedControl().askToTheUser(
        QStringLiteral("shared_item"), {}, {}, QStringLiteral("srop_btn"), QStringLiteral("delete_all_button"), {},
        false, nullptr, true);
    *alreadyShown = true;
    if (choice == KZErrorDelegate::SecondButton) {
        thereAreShared.store(true);
        return true;
    }
    return false;
}

bool KZRemove::checkSecurity(const KZFoundItemRef& item)
{
    if (item->countOfItemsInGroup() != 1)
        return true;
    const qint16 level = KZRemoveItemSteps::securityLevel();
    if (level == 1) {
        if (securityApplyToAll_)
            return securityChosen_;
        bool applyToAll = false;
        const qint64 choice = KZErrorDelegate::sharedControl().askToTheUser(
            QStringLiteral("security_alert"), {}, {item->name()}, QStringLiteral("move_to_trash_button"),
            QStringLiteral("dont_move_to_trash_button"), {}, true, &applyToAll, true);
        securityApplyToAll_ = applyToAll;
        securityChosen_ = choice == KZErrorDelegate::FirstButton;
        return securityChosen_;
    }
    if (level == 2) {
        std::lock_guard guard(mutex_);
        ++tally_.lastMember;
        return false;
    }
    return true;
}

void KZRemove::restoreItemsInGroupCount(const KZFoundItemArray& items)
{
    for (const KZFoundItemRef& item : items)
        item->addUnitItemsInGroup();
}

KZFoundItemArray KZRemove::currItemsWithArray(const KZFoundItemArray& items, bool isTrash)
{
    if (isStopped())
        return {};
    panel_->checkedCount.store(0);
    status(isTrash ? QStringLiteral("grouping") : QStringLiteral("grouping_move"));
    std::vector<KZLocationEntry> entries;
    entries.reserve(size_t(items.size()));
    for (const KZFoundItemRef& item : items) {
        const fs::path stored = item->storedPath();
        entries.push_back({stored.empty() ? item->url() : stored, item->isDirectory() && !item->isPackage()});
    }
    GroupingDelegate delegate(*panel_);
    KZFoundItemArray kept;
    for (const size_t index : KZGroupItemsByLocation(entries, &delegate))
        kept.append(items[qsizetype(index)]);
    return kept;
}

KZFoundItemArray KZRemove::findProcessedItems(const KZFoundItemArray& items)
{
    // Locked items were counted when the pass met them; counting again here
    // would lose them, as they never record a path.
    status(QStringLiteral("checking_moved_items"));
    KZFoundItemArray result;
    std::lock_guard guard(mutex_);
    // Folders whose job took them away: what they held went with them.
    std::vector<fs::path> leftFolders;
    for (const KZFoundItemRef& item : items) {
        const auto managed = managedItems_.find(item.get());
        const fs::path stored = item->storedPath();
        if (item->isDirectory() && !stored.empty() && managed != managedItems_.end() && managed->second != stored)
            leftFolders.push_back(stored.lexically_normal());
    }
    for (const KZFoundItemRef& item : items) {
        const fs::path stored = item->storedPath();
        // Gone only when its own job (or its folder's) succeeded: an item that
        // merely vanished, or whose place now holds something else, was not
        // removed by us.
        const auto managed = managedItems_.find(item.get());
        bool gone = !stored.empty() && managed != managedItems_.end() && managed->second != stored;
        if (!gone && !stored.empty() && managed == managedItems_.end()) {
            const fs::path normal = stored.lexically_normal();
            for (const fs::path& folder : leftFolders) {
                if (normal != folder && platform::isInsideFolder(normal, folder)
                    && !platform::statPath(normal, false)) {
                    gone = true;
                    break;
                }
            }
        }
        if (gone) {
            result.append(item);
            // Exactly once, so that the copy that stays is still found as the
            // kept member by a later removal.
            item->subtractUnitItemsInGroup();
        }
    }
    return result;
}

// ---- The move-to-folder pass ------------------------------------------------------------------

void KZRemove::moveItemsPreliminary(const KZFoundItemArray& items, const fs::path& destination)
{
    if (items.isEmpty())
        return;
    // Only an absolute folder is a destination: a relative one would put the
    // user's files wherever the program happens to run.
    std::optional<quint64> destVolume;
    bool notAFolder = false;
    if (destination.is_absolute()) {
        if (const auto st = platform::statPath(destination, true)) {
            if (st->isDir())
                destVolume = quint64(st->device);
            else
                notAFolder = true;
        }
    }
    if (!destVolume && !panel_->isOnlyPhotos) {
        // Named as the folder it is: "one item could not be found" would
        // send the user looking for a file, and a file in its place is
        // there to be found.
        manageError(notAFolder ? KZRemoveCode::noDestination : KZRemoveCode::notFound, true,
                    KZErrorDelegate::replaceContentOfString(
                        platform::localizedString(notAFolder ? QStringLiteral("destination_not_a_folder")
                                                             : QStringLiteral("destination_not_found"),
                                                  QStringLiteral("Errors")),
                        {platform::pathText(destination)}),
                    notAFolder ? ENOTDIR : ENOENT);
        return;
    }
    thereAreShared.store(false);
    panel_->totToCheck.store(quint64(items.size()));

    KZFoundItemArray same, other, photos;
    for (const KZFoundItemRef& item : items) {
        panel_->checkedCount.fetch_add(1);
        if (isStopped())
            break;
        if (keepsMusicItem(item))
            continue;
        if (!item->aliasAlreadyCreated()) {
            item->setAliasAlreadyCreated(true);
            item->createAlias();
        }
        const fs::path url = item->url();
        const auto st = url.empty() ? std::nullopt : platform::statPath(url, false);
        if (!st) {
            countAside(item, &KZRemoveTally::notFound, QStringLiteral("not_found"));
            continue;
        }
        if (item->isPhotosItem()) {
            photos.append(item);
            continue;
        }
        // A request of photo libraries alone needs no folder for its own
        // items; anything else it holds has nowhere to go and stays.
        if (!destVolume) {
            countAside(item, &KZRemoveTally::otherFailure, outcomeName(KZRemoveOutcome::NoDestination));
            continue;
        }
        item->setStorePath();
        (quint64(st->device) == *destVolume ? same : other).append(item);
    }
    panel_->checkedCount.store(0);

    KZFoundItemArray accepted = same;
    accepted.append(other);
    steps_.acceptForRemoval(accepted);
    bool didSomething = false;
    if (!same.isEmpty() && !isStopped()) {
        proceedToMoveItems(same, false, destination);
        didSomething = true;
    }
    if (!other.isEmpty() && !isStopped()) {
        proceedToMoveItems(other, true, destination);
        didSomething = true;
    }
    if (didSomething && !same.isEmpty()) {
        const KZFoundItemArray processed = findProcessedItems(items);
        std::lock_guard guard(mutex_);
        removedArray_ = processed;
    }
    if (!photos.isEmpty() && !isStopped())
        markPhotosItems(photos, false);
}

// ---- Photo-library items ------------------------------------------------------------------------

QString KZRemove::keywordWithFlag(bool trashIt)
{
    return platform::localizedString(trashIt ? QStringLiteral("delete_photos_keyword")
                                             : QStringLiteral("move_photos_keyword"));
}

bool KZRemove::markPhotosItems(const KZFoundItemArray& items, bool trashIt)
{
    if (items.isEmpty() || isStopped())
        return false;
    // With no application to tell, a question about the time it takes and a
    // status about telling it would only end in a failure: the items stay in
    // their library, as the Trash page said before Start, and the report
    // names them.
    if (!platform::ScriptRunner::shared().canReachApplications()) {
        for (const KZFoundItemRef& item : items)
            countAside(item, &KZRemoveTally::notTagged, QStringLiteral("not_tagged"));
        return false;
    }
    if (items.size() >= 2) {
        const qint64 answer = KZErrorDelegate::sharedControl().askToTheUserWithView(
            QStringLiteral("ask_mark_speed_info"), {}, {}, platform::localizedString(QStringLiteral("continue_button")),
            platform::localizedString(QStringLiteral("dont_continue_button")), {}, KZDefaultsKey::ask_continue_marking,
            false);
        if (answer != KZErrorDelegate::FirstButton)
            return false;
    }
    const QString keyword = keywordWithFlag(trashIt);
    panel_->totToManage.store(quint64(items.size()));
    bool ok = false;
    std::unordered_set<const KZFoundItem*> tagged, tried;
    KZFoundItemArray taggedItems;
    for (const fs::path& library : panel_->photosLibraries) {
        if (isStopped())
            break;
        const fs::path libraryPath = library.lexically_normal();
        // An identifier the script would refuse must not pass for tagged.
        KZFoundItemArray inLibrary;
        QStringList ids;
        for (const KZFoundItemRef& item : items) {
            if (tried.count(item.get())
                || !platform::isInsideFolder(item->recordedURL().lexically_normal(), libraryPath))
                continue;
            tried.insert(item.get());
            panel_->managedCount.fetch_add(1);
            if (KZApplescript::isValidMediaID(item->trackID())) {
                inLibrary.append(item);
                ids << item->trackID();
            }
        }
        // A library that holds none of the items is left alone: quitting the
        // user's application would gain nothing.
        if (ids.isEmpty())
            continue;
        QString appName = KZPhotosSupport::sharedControl().appName();
        if (appName.isEmpty())
            appName = QStringLiteral("Photos");
        panel_->statusFormatDidChange(QStringLiteral("sending_spple_event"), {appName});
        // The watch stays off until the script has answered: the quit, the
        // launch and the application's work on the library are ours, not
        // the user's.
        KZAppsSupport& apps = KZAppsSupport::sharedControl();
        const bool watching = apps.isObserving();
        apps.removeObservers();
        if (apps.reopenPhotosOnLibrary(platform::pathText(library)) && photosSettleDelay.count() > 0)
            std::this_thread::sleep_for(photosSettleDelay);
        QStringList notMarked;
        ok = KZApplescript::sharedControl().markPhotosItems(ids.join(QLatin1Char('\n')), keyword, &notMarked);
        if (watching)
            apps.addObservers();
        if (!ok)
            continue;
        QStringList marked;
        for (const KZFoundItemRef& item : inLibrary) {
            // The library did not know it: nothing was tagged.
            if (notMarked.contains(item->trackID()))
                continue;
            tagged.insert(item.get());
            taggedItems.append(item);
            marked << item->trackID();
            panel_->removedSize.fetch_add(item->size());
            countAside(item, &KZRemoveTally::tagged, QStringLiteral("tagged"));
        }
        if (!marked.isEmpty()) {
            std::lock_guard guard(mutex_);
            photosUndo_.push_back({keyword, marked, library});
        }
    }
    // Only what the library really tagged leaves the result; the rest stays
    // where it is and the report says so. Items a stop never reached are
    // left as they are.
    const bool stopped = isStopped();
    for (const KZFoundItemRef& item : items)
        if (!tagged.count(item.get()) && (tried.count(item.get()) || !stopped))
            countAside(item, &KZRemoveTally::notTagged, QStringLiteral("not_tagged"));
    for (const KZFoundItemRef& item : taggedItems)
        item->subtractUnitItemsInGroup();
    if (!taggedItems.isEmpty()) {
        std::lock_guard guard(mutex_);
        if (!removedArray_)
            removedArray_ = KZFoundItemArray();
        removedArray_->append(taggedItems);
    }
    return ok;
}

qint32 KZRemove::proceedToMoveItems(const KZFoundItemArray& items, bool copy, const fs::path& destination)
{
    const KZFoundItemArray work = panel_->itemsArefiles ? items : currItemsWithArray(items, false);
    if (isStopped())
        return 0;
    panel_->progressDidBecomeDeterminate(true);
    panel_->totToManage.store(quint64(work.size()));
    status(copy ? QStringLiteral("copying") : QStringLiteral("moving_folder"));
    return moveItems(work, copy ? CopyJob : MoveJob, destination);
}

// ---- The items, one after the other -------------------------------------------------------------

qint32 KZRemove::moveItems(const KZFoundItemArray& items, Job job, const fs::path& destination)
{
    if (job != TrashJob && !destination.is_absolute()) {
        // Relative to whatever folder the program runs in: no place for a
        // user's file, nor for the undo record that would have to find it.
        platform::logLine(QStringLiteral("No absolute destination folder: %1").arg(platform::pathText(destination)));
        for (const KZFoundItemRef& item : items)
            countAside(item, &KZRemoveTally::otherFailure, outcomeName(KZRemoveOutcome::NoDestination));
        return KZRemoveCode::noDestination;
    }
    // The handled items are kept for the whole removal, not per batch: which
    // items left their place is decided from them after the last batch.
    qint32 code = 0;
    for (const KZFoundItemRef& item : items) {
        if (isStopped())
            break;
        const quint64 size = item->size();
        const fs::path url = item->url().lexically_normal();
        int err = 0;
        const KZRemoveOutcome outcome = steps_.removeOne(item, job, destination, thereAreShared.load(), &err);
        tallyOutcome(item, outcome, size, url);
        switch (outcome) {
        case KZRemoveOutcome::Stopped:
            return KZRemoveCode::stopped;
        case KZRemoveOutcome::NoTrash:
            manageError(KZRemoveCode::noTrash, true, platform::pathText(url));
            return KZRemoveCode::noTrash;
        case KZRemoveOutcome::NoDestination:
            manageError(KZRemoveCode::noDestination, true, platform::pathText(url));
            return KZRemoveCode::noDestination;
        case KZRemoveOutcome::NoUndoRecord:
            manageError(KZRemoveCode::noUndoRecord, true,
                        KZErrorDelegate::replaceContentOfString(
                            platform::localizedString(QStringLiteral("undo_record_not_made"), QStringLiteral("Errors")),
                            {platform::pathText(platform::homeTrashDirectory())}),
                        err);
            return KZRemoveCode::noUndoRecord;
        case KZRemoveOutcome::Failed:
            // A failed permanent deletion leaves that item and goes on with
            // the next; any other failure ends the batch with an alert.
            code = codeForErrno(err);
            if (thereAreShared.load())
                continue;
            manageError(code, true, platform::pathText(url), err);
            return code;
        default:
            break;
        }
    }
    return code;
}

void KZRemove::tallyOutcome(const KZFoundItemRef& item, KZRemoveOutcome outcome, quint64 size, const fs::path& oldPath)
{
    noteOutcome(item, outcomeName(outcome));
    if (KZRemoveItemSteps::isSuccess(outcome)) {
        // A deletion is no removal the result marks; the pass finds it gone.
        if (outcome == KZRemoveOutcome::Trashed || outcome == KZRemoveOutcome::Moved)
            item->setIsRemoved(true);
        // The place it had before: a file deleted for good has none now.
        if (panel_->reportEmptyFolders)
            panel_->addFolderToCheckForEmpty({oldPath.parent_path(), item->locationLabelTag()});
        panel_->removedSize.fetch_add(size);
    }
    {
        std::lock_guard guard(mutex_);
        KZRemoveTally& t = tally_;
        switch (outcome) {
        case KZRemoveOutcome::Trashed: ++t.trashed; break;
        case KZRemoveOutcome::Moved: ++t.moved; break;
        case KZRemoveOutcome::Copied:
            ++t.copied;
            t.copiedSize += size;
            break;
        case KZRemoveOutcome::Deleted:
            ++t.deleted;
            t.deletedSize += size;
            break;
        case KZRemoveOutcome::NotFound: ++t.notFound; break;
        case KZRemoveOutcome::Changed: ++t.changed; break;
        case KZRemoveOutcome::NotChecked: ++t.notChecked; break;
        case KZRemoveOutcome::LinkInPath: ++t.linkInPath; break;
        case KZRemoveOutcome::MountInside: ++t.mountInside; break;
        case KZRemoveOutcome::MountAppeared: ++t.mountAppeared; break;
        case KZRemoveOutcome::DestinationCovered: ++t.destinationCovered; break;
        case KZRemoveOutcome::LastMember: ++t.lastMember; break;
        case KZRemoveOutcome::NotTagged: ++t.notTagged; break;
        case KZRemoveOutcome::MusicKept: ++t.musicKept; break;
        case KZRemoveOutcome::LinkNotMade: ++t.linkNotMade; break;
        case KZRemoveOutcome::SameName: ++t.sameName; break;
        case KZRemoveOutcome::NoPermission: ++t.noPermission; break;
        case KZRemoveOutcome::BadFileName: ++t.badFileName; break;
        case KZRemoveOutcome::Busy: ++t.busy; break;
        case KZRemoveOutcome::DiskLocked: ++t.diskLocked; break;
        case KZRemoveOutcome::Failed: ++t.otherFailure; break;
        case KZRemoveOutcome::Stopped:
        case KZRemoveOutcome::NoTrash:
        case KZRemoveOutcome::NoDestination:
        case KZRemoveOutcome::NoUndoRecord:
            break;
        }
    }
    if (outcome != KZRemoveOutcome::Stopped)
        panel_->managedCount.fetch_add(1);
}

std::optional<fs::path> KZRemove::createDestinationRoot(const fs::path& destination, const fs::path& source)
{
    const std::optional<platform::AnchoredItem> target = steps_.createDestinationRoot(destination, source);
    if (!target)
        return std::nullopt;
    return target->path();
}

// ---- What the steps of one item did ------------------------------------------------------------

void KZRemove::itemPlaced(const KZFoundItemRef& item, const fs::path& place)
{
    std::lock_guard guard(mutex_);
    managedItems_[item.get()] = place;
}

void KZRemove::itemPutBack(const KZFoundItemRef& item)
{
    std::lock_guard guard(mutex_);
    managedItems_.erase(item.get());
}

void KZRemove::linkMade()
{
    std::lock_guard guard(mutex_);
    ++tally_.linked;
}

void KZRemove::linkNotMade()
{
    std::lock_guard guard(mutex_);
    ++tally_.linkNotMade;
}

void KZRemove::linkNotOnSameVolume()
{
    std::lock_guard guard(mutex_);
    ++tally_.linkNotSameVolume;
}

quint64 KZRemove::lastRenameNumber(const std::string& base) const
{
    std::lock_guard guard(mutex_);
    const auto found = renamedDict_.find(base);
    return found == renamedDict_.end() ? 0 : found->second;
}

void KZRemove::renameNumberTaken(const std::string& base, quint64 number)
{
    std::lock_guard guard(mutex_);
    renamedDict_[base] = number;
}

void KZRemove::folderCreated(KZCreatedFolder folder)
{
    std::lock_guard guard(mutex_);
    createdFolderUndo_.push_back(std::move(folder));
}

bool KZRemove::trashIntended(const KZPersistentUndoRecord& intent, int* err)
{
    // Begun at the first item that goes to the Trash. Without it nothing
    // moves: an undo file written at the end needs the same disk (often the
    // full one a user frees by removing duplicates), and an item in a Trash
    // that no record names is lost to Restore.
    if (!journalTried_) {
        journalTried_ = true;
        journal_ = KZRemovalJournal::begin(&journalErr_, true);
    }
    if (!journal_) {
        if (err)
            *err = journalErr_;
        return false;
    }
    return journal_->intend(intent, err);
}

void KZRemove::trashRecorded(KZPersistentUndoRecord record)
{
    if (journal_)
        journal_->append(record);
    std::lock_guard guard(mutex_);
    persistentUndo_.push_back(std::move(record));
}

void KZRemove::nameReserving(const platform::ReservationIntent& intent)
{
    if (KZRemovalJournal* journal = reservationJournal())
        journal->reserving(intent);
}

KZRemovalJournal* KZRemove::reservationJournal()
{
    // A move into a folder keeps its undo in memory and needs no journal
    // until it reserves a name or copies, which a kill would leave behind.
    // Without one the move goes on as it always could: only the leftover is
    // not named.
    if (!journalTried_) {
        journalTried_ = true;
        journal_ = KZRemovalJournal::begin(&journalErr_, true);
    }
    return journal_.get();
}

void KZRemove::copying(const platform::ReservationIntent& intent)
{
    if (KZRemovalJournal* journal = reservationJournal())
        journal->copying(intent);
}

void KZRemove::copyMade(const fs::path& place)
{
    if (journal_)
        journal_->copied(place);
}

void KZRemove::nameReserved(const fs::path& place, const platform::FileIdentity& identity)
{
    if (journal_)
        journal_->reserved(place, identity);
}

void KZRemove::nameGivenUp(const fs::path& place)
{
    if (journal_)
        journal_->givenUp(place);
}

void KZRemove::moveRecorded(KZUndoMovedItem record)
{
    const bool musicItem = record.foundItem && record.foundItem->isiTunesItem();
    std::lock_guard guard(mutex_);
    (musicItem ? itunesUndo_ : standardUndo_).push_back(std::move(record));
}

// ---- The report -----------------------------------------------------------------------------

std::vector<KZRemove::Alert> KZRemove::errorAlerts() const
{
    const KZRemoveTally t = tally();
    const std::pair<quint64, const char*> rows[] = {
        {t.locked, "locked"},
        {t.notFound, "not_found"},
        {t.lastMember, "last_member"},
        {t.noPermission, "permission_not_allowed"},
        {t.busy, "busy"},
        {t.diskLocked, "disk_locked"},
        {t.sameName, "same_name"},
        {t.badFileName, "bad_file_name"},
        {t.linkNotSameVolume, "hard_link_not_same_volume"},
        {t.linkNotMade, "link_not_made"},
        {t.changed, "changed"},
        {t.notChecked, "not_checked"},
        {t.linkInPath, "link_in_path"},
        {t.mountInside, "mount_inside"},
        {t.mountAppeared, "mount_appeared"},
        {t.destinationCovered, "destination_covered"},
        {t.otherFailure, "not_removed"},
        {t.notTagged, "not_tagged"},
        {t.musicKept, "music_not_removed"},
    };
    std::vector<Alert> alerts;
    for (const auto& [count, stem] : rows) {
        if (count == 0)
            continue;
        const QString key = QString::fromLatin1(stem) + (count == 1 ? QStringLiteral("_sing") : QStringLiteral("_plur"));
        QStringList names;
        if (count > 1)
            names << KZNumberUtilities::sharedControl().numberToFormatString(double(count));
        alerts.push_back({key, names});
    }
    return alerts;
}

void KZRemove::showErrors() const
{
    for (const Alert& alert : errorAlerts())
        KZErrorDelegate::sharedControl().showError(alert.key, {}, alert.names);
}

QStringList KZRemove::stopReasons() const
{
    std::lock_guard guard(mutex_);
    return stopReasons_;
}

void KZRemove::manageError(qint32 code, bool showError, const QString& detail, int err)
{
    QString text;
    if (code == KZRemoveCode::noTrash)
        text = platform::localizedString(QStringLiteral("trash_folder_not_found"), QStringLiteral("Errors"));
    else if (err == ENOSPC)
        text = platform::localizedString(QStringLiteral("disk_full"), QStringLiteral("Errors"));
    else if ((code == KZRemoveCode::notFound || code == 260) && err == 0)
        text = platform::localizedString(QStringLiteral("not_found_sing"), QStringLiteral("Errors"));
    else if (code == KZRemoveCode::unknownWrite && err != 0)
        text = platform::systemErrorString(err) + QLatin1Char('.');
    const QString description = (text.isEmpty() ? detail : text + QStringLiteral(" ") + detail).trimmed()
        + QStringLiteral(" (%1)").arg(code);
    {
        std::lock_guard guard(mutex_);
        stopReasons_ << description;
    }
    if (showError)
        KZErrorDelegate::sharedControl().showError(QStringLiteral("execution_stopped"), {}, {description});
    platform::logLine(description);
}
