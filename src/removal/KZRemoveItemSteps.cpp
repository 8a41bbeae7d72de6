#include "removal/KZRemoveItemSteps.h"
#include "removal/KZCopyIdentity.h"

#include "platform/Bookmark.h"
#include "platform/FileIdentity.h"
#include "platform/FileOps.h"
#include "platform/FileStat.h"
#include "platform/FolderAttributes.h"
#include "platform/Log.h"
#include "platform/NameReservation.h"
#include "platform/Packages.h"
#include "platform/Paths.h"
#include "platform/Trash.h"
#include "platform/UserDefaults.h"
#include "platform/Volumes.h"
#include "services/KZErrorDelegate.h"
#include "services/KZMusicLibraryFolders.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZDefaultsRegistry.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

bool sameTime(const timespec& a, const timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Whether the anchored item is a folder that holds nothing but folders that
// hold nothing, as the follow-up search finds them, read where it was
// checked and never through a link.
bool isEmptyFolder(const platform::AnchoredItem& anchor)
{
    std::vector<int> pending{platform::openFolderAt(anchor.parentFd(), anchor.name().c_str())};
    bool empty = true;
    while (!pending.empty()) {
        const int fd = pending.back();
        pending.pop_back();
        if (!empty || fd < 0) {
            empty = empty && fd >= 0;
            if (fd >= 0)
                ::close(fd);
            continue;
        }
        // Read the names through a second descriptor: the first one opens
        // the subfolders.
        const auto names = platform::namesInFolder(::dup(fd));
        empty = names.has_value();
        for (const std::string& name : names.value_or(std::set<std::string>{}))
            pending.push_back(platform::openFolderAt(fd, name.c_str()));
        ::close(fd);
    }
    return empty;
}

// The names the item's moves reserve, told to the removal's record.
class ReservationsToRecorder : public platform::ReservationWatcher {
public:
    explicit ReservationsToRecorder(KZRemoveItemRecorder& recorder)
        : recorder_(recorder)
    {
    }
    void willReserve(const platform::ReservationIntent& intent) override { recorder_.nameReserving(intent); }
    void reserved(const fs::path& place, const platform::FileIdentity& identity) override
    {
        recorder_.nameReserved(place, identity);
    }
    void givenUp(const fs::path& place) override { recorder_.nameGivenUp(place); }
    void willCopy(const platform::ReservationIntent& intent) override { recorder_.copying(intent); }
    void copied(const fs::path& place) override { recorder_.copyMade(place); }

private:
    KZRemoveItemRecorder& recorder_;
};

} // namespace

KZRemoveItemSteps::KZRemoveItemSteps(std::shared_ptr<KZRemovalPanel> panel,
                                     std::shared_ptr<KZRemovalFileSystem> fileSystem, KZRemoveItemRecorder& recorder)
    : panel_(std::move(panel)), fs_(std::move(fileSystem)), recorder_(recorder)
{
}

bool KZRemoveItemSteps::isStopped() const
{
    return panel_->wasStopped.load();
}

platform::StopTest KZRemoveItemSteps::stopTest() const
{
    return [panel = panel_] { return panel->wasStopped.load(); };
}

// ---- Codes, mapped once ------------------------------------------------------------------------

qint32 KZRemoveItemSteps::codeForErrno(int err)
{
    switch (err) {
    case 0:
        return KZRemoveCode::ok;
    case platform::noUsableTrash:
        return KZRemoveCode::noTrash;
    case EEXIST:
    case ENOTEMPTY:
        return KZRemoveCode::alreadyExists;
    case EACCES:
    case EPERM:
        return KZRemoveCode::noPermission;
    case ENAMETOOLONG:
    case EILSEQ:
        return KZRemoveCode::badFileName;
    case ENOENT:
    case ENOTDIR:
        return KZRemoveCode::notFound;
    case EBUSY:
    case ETXTBSY:
        return KZRemoveCode::busy;
    case EROFS:
    case platform::folderMoveRefusedByDisk:
        return KZRemoveCode::diskLocked;
    case ECANCELED:
        return KZRemoveCode::stopped;
    default:
        return KZRemoveCode::unknownWrite;
    }
}

bool KZRemoveItemSteps::isSuccess(KZRemoveOutcome outcome)
{
    return outcome == KZRemoveOutcome::Trashed || outcome == KZRemoveOutcome::Moved
        || outcome == KZRemoveOutcome::Copied || outcome == KZRemoveOutcome::Deleted;
}

KZRemoveOutcome KZRemoveItemSteps::outcomeForErrno(int err)
{
    if (err == platform::trashCovered)
        return KZRemoveOutcome::DestinationCovered;
    switch (codeForErrno(err)) {
    case KZRemoveCode::alreadyExists:
        return KZRemoveOutcome::SameName;
    case KZRemoveCode::noPermission:
        return KZRemoveOutcome::NoPermission;
    case KZRemoveCode::badFileName:
        return KZRemoveOutcome::BadFileName;
    case KZRemoveCode::busy:
        return KZRemoveOutcome::Busy;
    case KZRemoveCode::notFound:
        return KZRemoveOutcome::NotFound;
    case KZRemoveCode::diskLocked:
        return KZRemoveOutcome::DiskLocked;
    case KZRemoveCode::stopped:
        return KZRemoveOutcome::Stopped;
    case KZRemoveCode::noTrash:
        return KZRemoveOutcome::NoTrash;
    default:
        return KZRemoveOutcome::Failed;
    }
}

// ---- The items of this removal ------------------------------------------------------------------

void KZRemoveItemSteps::acceptForRemoval(const KZFoundItemArray& items)
{
    removalPaths_.clear();
    keptMembers_.clear();
    std::unordered_set<const KZFoundItem*> leaving;
    for (const KZFoundItemRef& item : items) {
        leaving.insert(item.get());
        const fs::path url = item->url();
        if (!url.empty())
            removalPaths_.insert(url.lexically_normal().native());
    }
    std::unordered_set<qint64> groups;
    for (const KZFoundItemRef& item : items)
        groups.insert(item->groupID());
    for (const KZFoundItemRef& member : panel_->resultItems) {
        if (member && !leaving.count(member.get()) && groups.count(member->groupID()))
            keptMembers_[member->groupID()].push_back(member);
    }
}

void KZRemoveItemSteps::learnMusicLibrary()
{
    musicLibraryPlaces_.emplace();
    for (const fs::path& folder : KZMusicLibraryFolders::keptOutFolders())
        for (const fs::path& place : platform::exclusionPlaces(platform::absolutePath(folder)))
            musicLibraryPlaces_->push_back(place.lexically_normal());
}

bool KZRemoveItemSteps::isMusicLibraryFile(const fs::path& path)
{
    if (!musicLibraryPlaces_)
        learnMusicLibrary();
    if (musicLibraryPlaces_->empty() || path.empty())
        return false;
    const fs::path normal = path.lexically_normal();
    return std::any_of(musicLibraryPlaces_->begin(), musicLibraryPlaces_->end(), [&normal](const fs::path& place) {
        return platform::isInsideFolder(normal, place) || platform::isInsideFolder(place, normal);
    });
}

// ---- One item -----------------------------------------------------------------------------------

KZRemoveOutcome KZRemoveItemSteps::removeOne(const KZFoundItemRef& item, KZRemoveJob::Kind job,
                                             const fs::path& destination, bool forGood, int* err)
{
    // A photo library owns its files: they are only ever tagged there, and
    // one taken out of the package would break the library. That holds by
    // where the file lies, whoever made the item: a folder inside a library
    // searched as a plain folder makes plain items of the library's masters.
    if (item->isPhotosItem() || platform::isInsidePhotoLibraryAsWritten(item->url()))
        return KZRemoveOutcome::NotTagged;
    // A music library keeps a track by its file: a file taken away leaves a
    // dead track behind, and only the music application may delete one.
    if (item->isiTunesItem() || isMusicLibraryFile(item->url()))
        return KZRemoveOutcome::MusicKept;
    // Every move of the item, also one back to its place, may reserve its
    // target's name first.
    ReservationsToRecorder reservations(recorder_);
    const platform::WatchingReservations watching(reservations);
    KZRemoveOutcome outcome = KZRemoveOutcome::Failed;
    const std::optional<platform::AnchoredItem> anchor = checkIdentity(item, &outcome);
    if (!anchor)
        return outcome;
    if (!keepsACopy(item, *anchor, forGood))
        return KZRemoveOutcome::LastMember;
    LinkPlan plan;
    if (const KZRemoveOutcome linkOutcome = planLink(item, *anchor, &plan); linkOutcome != KZRemoveOutcome::Moved)
        return linkOutcome;
    // A copy leaves the item in place, where no link can go.
    if (plan.kept && job != KZRemoveJob::CopyJob && !tryLink(*anchor, &plan))
        return KZRemoveOutcome::LinkNotMade;

    // Who the item is and which disk its folder is on, before it leaves: its
    // undo moves back only this item, and only onto this disk.
    const std::optional<platform::FileStat> leaving = anchor->stat();
    const std::optional<platform::FileStat> oldFolder = platform::statAt(anchor->parentFd(), ".", false);
    // And who its folder belongs to and who may enter it: a folder made
    // again for it is given no more than that.
    std::optional<platform::FolderAttributes> folderAttributes
        = forGood ? std::nullopt : platform::FolderAttributes::of(anchor->parentFd());
    const Relocation moved = relocate(item, *anchor, job, destination, forGood);
    if (!isSuccess(moved.outcome)) {
        dropTrialLink(plan);
        *err = moved.err;
        return moved.outcome;
    }
    recorder_.itemPlaced(item,
                         moved.outcome == KZRemoveOutcome::Deleted ? fs::path("-")
                             : moved.copied                        ? anchor->path()
                                                                   : moved.newPath);
    bool movedBack = false;
    linkOrRollBack(item, *anchor, plan, moved, job, &movedBack);
    if (movedBack)
        return KZRemoveOutcome::LinkNotMade;
    if (moved.outcome != KZRemoveOutcome::Deleted)
        recordUndo(item, anchor->path(), moved, leaving,
                   oldFolder ? std::optional(platform::diskAt(anchor->parentFd(), "", *oldFolder)) : std::nullopt,
                   std::move(folderAttributes));
    return moved.outcome;
}

// ---- Step 1: the item is still what the search found -------------------------------------------

namespace {

// Who the search found, with the marks of its disk where its bookmark
// carries them; without one, what the scan read and no marks.
platform::FileIdentity foundIdentity(const KZFoundItemRef& item)
{
    if (const auto target = platform::bookmarkTarget(item->aliasData());
        target && target->device == item->device() && target->inode == item->inode())
        return target->identity;
    platform::FileIdentity identity;
    identity.device = item->device();
    identity.inode = item->inode();
    identity.folder = item->isDirectory();
    if (!item->isDirectory())
        identity.size = item->size();
    identity.modified = platform::FileIdentity::Time{qint64(item->modificationTime().tv_sec),
                                                     qint64(item->modificationTime().tv_nsec)};
    return identity;
}

} // namespace

platform::Proof KZRemoveItemSteps::proveAsFound(const KZFoundItemRef& item, const platform::AnchoredItem& at,
                                                const platform::FileStat& st)
{
    if (item->device() == 0 && item->inode() == 0)
        return platform::Proof::Proved; // a result that never read identities
    if (item->isDirectory() != st.isDir())
        return platform::Proof::Different;
    // A folder's time changes when an entry is added, removed or renamed in it.
    const timespec& found = item->modificationTime();
    if ((found.tv_sec != 0 || found.tv_nsec != 0) && !sameTime(found, st.modified))
        return platform::Proof::Different;
    if (st.isRegular() && st.size != item->size())
        return platform::Proof::Different;
    if (quint64(st.device) == item->device() && st.inode == item->inode())
        return platform::Proof::Proved;
    // Under another number: its disk back under another device number, or
    // a disk that numbers its files anew at every mount, where the item is
    // proved by all but its number, as every other check proves it.
    const platform::FileIdentity recorded = foundIdentity(item);
    const platform::FileSystemQuery fileSystemNow = platform::fileSystemQueryAt(at.parentFd(), at.name());
    const platform::Proof proof
        = recorded.prove(st, fileSystemNow, platform::folderGenerationQueryAt(at.parentFd(), at.name().c_str()));
    if (proof != platform::Proof::Different || st.inode == item->inode())
        return proof;
    // A record that carries no marks of its disk cannot tell that disk from
    // another: on one that numbers its files anew, another number says
    // nothing either way.
    const bool unmarked = !recorded.fileSystem && !recorded.volume && !recorded.mount;
    return unmarked && !fileSystemNow().inodesLast ? platform::Proof::NotProved : proof;
}

std::optional<platform::AnchoredItem> KZRemoveItemSteps::checkIdentity(const KZFoundItemRef& item,
                                                                       KZRemoveOutcome* outcome) const
{
    const fs::path url = item->url().lexically_normal();
    *outcome = KZRemoveOutcome::NotFound;
    if (url.empty())
        return std::nullopt;
    int err = 0;
    std::optional<platform::AnchoredItem> anchor = platform::AnchoredItem::open(url, &err);
    if (!anchor) {
        // A folder on the way that became a link leads somewhere else than
        // the search went, and is told as such; one that became a file is
        // a change.
        if (err == ELOOP)
            *outcome = KZRemoveOutcome::LinkInPath;
        else if (err != ENOENT)
            *outcome = KZRemoveOutcome::Changed;
        return std::nullopt;
    }
    const auto st = anchor->stat(&err);
    if (!st)
        return std::nullopt;
    if (isOnKernelFileSystem(*anchor, *st)) {
        // The kernel's view of itself (/proc, /sys, /dev) holds no user
        // files: nothing there is removed, whatever a result says.
        *outcome = KZRemoveOutcome::NoPermission;
        return std::nullopt;
    }
    if (const platform::Proof proof = proveAsFound(item, *anchor, *st); proof != platform::Proof::Proved) {
        *outcome = proof == platform::Proof::Different ? KZRemoveOutcome::Changed : KZRemoveOutcome::NotChecked;
        return std::nullopt;
    }
    return anchor;
}

bool KZRemoveItemSteps::isOnKernelFileSystem(const platform::AnchoredItem& anchor, const platform::FileStat& st) const
{
    const auto known = kernelDevices_.find(st.device);
    if (known != kernelDevices_.end())
        return known->second;
    const bool kernel = platform::isKernelFileSystemAt(anchor.parentFd(), anchor.name().c_str());
    kernelDevices_.emplace(st.device, kernel);
    return kernel;
}

// ---- Step 2: a copy of the group stays -----------------------------------------------------------

qint16 KZRemoveItemSteps::securityLevel()
{
    return KZDefaultsRegistry::lastCopyLevel(
        platform::UserDefaults::standard().value(KZDefaultsKey::security_moving_to_trash));
}

bool KZRemoveItemSteps::sameContent(const fs::path& a, const fs::path& b) const
{
    return platform::sameContent(a, b, stopTest());
}

bool KZRemoveItemSteps::isSameEntry(const platform::AnchoredItem& item, const platform::AnchoredItem& other,
                                     const platform::FileStat& otherStat)
{
    const auto st = item.stat();
    if (!st)
        return false;
    // A folder, or a file of one name, has a single entry: its identity
    // names it. A file of several names is one entry per folder and name,
    // and each of its hard links is a copy that stays.
    if (st->sameItem(otherStat) && (st->isDir() || st->links <= 1 || otherStat.links <= 1))
        return true;
    const auto folder = platform::statAt(item.parentFd(), ".", false);
    const auto otherFolder = platform::statAt(other.parentFd(), ".", false);
    return folder && otherFolder && folder->sameItem(*otherFolder) && item.name() == other.name();
}

bool KZRemoveItemSteps::keepsACopy(const KZFoundItemRef& item, const platform::AnchoredItem& anchor, bool forGood) const
{
    // A folder found empty after a removal is no copy of anything: it has no
    // group, so there is no last copy to keep, and while it is still empty
    // nothing goes with it. Only a permanent deletion still wants a twin.
    if (item->groupID() == 0 && item->countOfItemsInGroup() == 0 && !forGood && item->isDirectory()
        && isEmptyFolder(anchor))
        return true;
    const auto found = keptMembers_.find(item->groupID());
    if (found == keptMembers_.end() || found->second.empty()) {
        // The whole group leaves: the last-member rule of the Trash let it,
        // unless the safe level holds (a stale counter must not get past
        // it); a move keeps every copy at the destination. Nothing is
        // deleted for good without a copy that stays.
        if (forGood)
            return false;
        return !panel_->isMoveToTrash || securityLevel() != 2;
    }
    // A permanent deletion of a folder needs a kept twin with the very same
    // content: a file added to the folder since the search would go with it.
    // So does any item of a reopened result, whose kept twin may have been
    // rewritten in place, with its old size and date, since it was saved.
    const bool sameContentNeeded = (forGood && item->isDirectory()) || item->isFromSavedResult();
    for (const KZFoundItemRef& member : found->second) {
        const fs::path path = member->url().lexically_normal();
        if (path.empty())
            continue;
        const auto memberAnchor = platform::AnchoredItem::open(path);
        const auto st = memberAnchor ? memberAnchor->stat() : std::nullopt;
        if (!st || proveAsFound(member, *memberAnchor, *st) != platform::Proof::Proved)
            continue;
        // The item itself seen through another path (a bind mount, a file
        // system mounted twice) goes with it: it is no copy of it.
        if (isSameEntry(anchor, *memberAnchor, *st))
            continue;
        bool insideRemoval = false;
        for (fs::path p = path; !insideRemoval && p.has_relative_path(); p = p.parent_path())
            insideRemoval = removalPaths_.count(p.native()) != 0;
        if (insideRemoval)
            continue;
        if (sameContentNeeded && !sameContent(anchor.procPath(), memberAnchor->procPath()))
            continue;
        return true;
    }
    // No kept twin of a reopened result holds this content any more: the
    // item is a file of its own now, whatever the level.
    if (item->isFromSavedResult())
        return false;
    // The kept copies were deleted, changed or replaced since the search: at
    // the levels that keep a group's last member, this item is it now.
    const qint16 level = securityLevel();
    return !forGood && level != 1 && level != 2;
}

// ---- Step 3: the hard link that will take the item's place --------------------------------------

// Moved means "go on"; anything else is why the item stays.
KZRemoveOutcome KZRemoveItemSteps::planLink(const KZFoundItemRef& item, const platform::AnchoredItem& anchor,
                                            LinkPlan* plan)
{
    plan->wanted = panel_->isCreateAlias;
    if (!plan->wanted)
        return KZRemoveOutcome::Moved;
    // A folder cannot be hard-linked; it is left where it is rather than
    // removed without the link the user asked for.
    if (item->isDirectory())
        return KZRemoveOutcome::LinkNotMade;
    KZFoundItemRef kept;
    for (const KZFoundItemRef& master : panel_->mastersAlias) {
        if (master && master->groupID() == item->groupID()) {
            kept = master;
            break;
        }
    }
    if (!kept)
        return KZRemoveOutcome::Moved; // another copy stays unmarked: nothing to link to
    const fs::path keptPath = kept->url().lexically_normal();
    std::optional<platform::AnchoredItem> keptAnchor = keptPath.empty() ? std::nullopt
                                                                        : platform::AnchoredItem::open(keptPath);
    const auto keptStat = keptAnchor ? keptAnchor->stat() : std::nullopt;
    // Only to the very copy the search found: a link to a changed file would
    // put different data at the old place.
    if (!keptStat || proveAsFound(kept, *keptAnchor, *keptStat) != platform::Proof::Proved
        || (item->isFromSavedResult() && !sameContent(anchor.procPath(), keptAnchor->procPath())))
        return KZRemoveOutcome::LinkNotMade;
    struct stat place {};
    if (::fstat(anchor.parentFd(), &place) != 0 || place.st_dev != keptStat->device) {
        recorder_.linkNotOnSameVolume();
        return KZRemoveOutcome::Moved;
    }
    plan->kept = std::move(keptAnchor);
    plan->keptItem = kept;
    plan->keptStat = keptStat;
    return KZRemoveOutcome::Moved;
}

// The link is made before the item leaves: where the disk has no hard links
// (FAT), or the kernel refuses one to a copy the user does not own
// (protected_hardlinks), the item must not go without the link the user
// asked for. A kill before the swap leaves the hidden link beside the item,
// a second name of the kept copy, announced in the journal before it was
// made: the recovery takes it away.
bool KZRemoveItemSteps::tryLink(const platform::AnchoredItem& anchor, LinkPlan* plan)
{
    const std::string stem = ".maravex-link-" + std::to_string(::getpid()) + "-";
    for (int n = 0; n < 100; ++n) {
        const std::string name = stem + std::to_string(n);
        int err = 0;
        auto trial = platform::AnchoredItem::inFolder(anchor.parentFd(), name, anchor.path().parent_path() / name, &err);
        // Announced first (to the item's watcher): a kill before the swap
        // leaves a name that the recovery takes away.
        if (trial)
            platform::reservingName(anchor.parentFd(), name.c_str(), plan->kept->parentFd(),
                                    plan->kept->name().c_str(), false, true);
        if (trial && fs_->link(*plan->kept, *trial, &err)) {
            // The link goes by name: a copy swapped in since the kept copy
            // was proved would be what it points at.
            const auto made = trial->stat();
            if (made && made->sameItem(*plan->keptStat)) {
                plan->trial = std::move(trial);
                return true;
            }
            if (made)
                ::unlinkat(anchor.parentFd(), name.c_str(), 0);
            platform::logLine(QStringLiteral("%1: the kept copy %2 changed while linking; no link made")
                                  .arg(platform::pathText(anchor.path()), platform::pathText(plan->kept->path())));
            return false;
        }
        if (err == EEXIST)
            continue;
        platform::logLine(QStringLiteral("%1: no hard link to %2 can be made there (%3); the item stays")
                              .arg(platform::pathText(anchor.path()), platform::pathText(plan->kept->path()),
                                   platform::systemErrorString(err)));
        return false;
    }
    return false;
}

void KZRemoveItemSteps::dropTrialLink(const LinkPlan& plan)
{
    if (plan.trial && ::unlinkat(plan.trial->parentFd(), plan.trial->name().c_str(), 0) != 0 && errno != ENOENT)
        platform::logLine(QStringLiteral("%1: the link made to try the disk could not be taken off: %2")
                              .arg(platform::pathText(plan.trial->path()), platform::systemErrorString(errno)));
}

// ---- Step 4: the item leaves its place, acting through its open folder --------------------------

KZRemoveItemSteps::Relocation KZRemoveItemSteps::relocate(const KZFoundItemRef& item,
                                                          const platform::AnchoredItem& anchor, KZRemoveJob::Kind job,
                                                          const fs::path& destination, bool forGood)
{
    int err = 0;
    if (forGood) {
        bool deletedSome = false;
        if (fs_->removeTree(anchor, stopTest(), &err, &deletedSome))
            return {KZRemoveOutcome::Deleted, 0, {}, false};
        // What is mounted inside belongs to another file system (a server's
        // share, another disk): refused before anything went, or, for a
        // mount made while the deletion ran, stopped at its edge with part
        // of the folder gone, which the report must not hide.
        if (err == EXDEV)
            return {deletedSome ? KZRemoveOutcome::MountAppeared : KZRemoveOutcome::MountInside, err, {}, false};
        return {outcomeForErrno(err), err, {}, false};
    }
    // A mount travels with its folder: in the Trash it would be deleted
    // when the Trash is emptied, and a move or copy would take another
    // file system's files along. Refused before anything moves; what the
    // mount table did before this look is of no interest.
    mounts_.changed();
    if (fs_->mountInside(anchor) == EXDEV)
        return {KZRemoveOutcome::MountInside, EXDEV, {}, false};
    if (job == KZRemoveJob::TrashJob) {
        // On disk before the move: a removal killed between the move and
        // its record still leaves Restore the item, found in the Trash by
        // this identity.
        KZPersistentUndoRecord intent;
        intent.oldPosition = anchor.path();
        intent.aliasWasCreated = panel_->isCreateAlias;
        intent.isiTunesItem = item->isiTunesItem();
        intent.locationLabelTag = item->locationLabelTag();
        intent.oldFolderAttributes = platform::FolderAttributes::of(anchor.parentFd());
        if (const auto st = anchor.stat()) {
            intent.device = quint64(st->device);
            intent.inode = st->inode;
            intent.identity = platform::FileIdentity::of(
                *st, platform::fileSystemAt(anchor.parentFd(), anchor.name().c_str()));
        }
        if (!recorder_.trashIntended(intent, &err))
            return {KZRemoveOutcome::NoUndoRecord, err, {}, false};
        // The intent took its time to reach the disk: a mount made meanwhile
        // is looked for once more, right before the move.
        if (mountArrived(anchor))
            return {KZRemoveOutcome::MountInside, EXDEV, {}, false};
        // The Trash numbers a clashing name and never replaces; when no trash
        // on the item's own volume can be used, nothing moves.
        const auto trashed = fs_->moveToTrash(anchor, &err);
        if (!trashed)
            return {outcomeForErrno(err), err, {}, false};
        const Relocation done{KZRemoveOutcome::Trashed, 0, *trashed, false};
        const auto placed = platform::AnchoredItem::openInFolder(*trashed, &err);
        if (!placed) {
            platform::logLine(QStringLiteral("%1: not looked at for mounts in the Trash: %2")
                                  .arg(platform::pathText(*trashed), platform::systemErrorString(err)));
            return done;
        }
        return keepMountsOut(anchor, *placed, done);
    }
    std::optional<platform::AnchoredItem> target;
    if (panel_->createFolders) {
        target = createDestinationRoot(destination, anchor.path());
        if (!target) {
            platform::logLine(QStringLiteral("NSInvalidArgumentException: destination is nil."));
            return {KZRemoveOutcome::NoDestination, 0, {}, false};
        }
    } else {
        // The folder the user chose may be reached through a link of theirs.
        target = platform::AnchoredItem::openInFolder(destination / anchor.name(), &err);
        if (!target)
            return {outcomeForErrno(err), err, {}, false};
    }
    // Making the destination's folders took its time: a mount made meanwhile
    // is looked for once more, right before the move or copy.
    if (mountArrived(anchor))
        return {KZRemoveOutcome::MountInside, EXDEV, {}, false};
    return moveOrCopy(anchor, *target, destination, job);
}

KZRemoveItemSteps::Relocation KZRemoveItemSteps::moveOrCopy(const platform::AnchoredItem& anchor,
                                                            const platform::AnchoredItem& target,
                                                            const fs::path& folder, KZRemoveJob::Kind job)
{
    Relocation result;
    int err = 0;
    if (!platform::pathReachesOpenFolder(target.parentFd()))
        return {KZRemoveOutcome::DestinationCovered, EXDEV, {}, false};
    if (job == KZRemoveJob::CopyJob) {
        result = copyItem(anchor, target);
    } else if (fs_->moveNoReplace(anchor, target, &err)) {
        return keepInView(anchor, target,
                          keepMountsOut(anchor, target, {KZRemoveOutcome::Moved, 0, target.path(), false}));
    } else if (err == EXDEV) {
        // Another file system after all (a bind mount): copied, never copied
        // and then deleted.
        job = KZRemoveJob::CopyJob;
        result = copyItem(anchor, target);
    } else {
        result = {outcomeForErrno(err), err, {}, false};
    }
    if (result.outcome == KZRemoveOutcome::SameName)
        return renameItem(anchor, folder, job);
    return result;
}

KZRemoveItemSteps::Relocation KZRemoveItemSteps::renameItem(const platform::AnchoredItem& anchor,
                                                            const fs::path& folder, KZRemoveJob::Kind job)
{
    const Relocation clash{KZRemoveOutcome::SameName, EEXIST, {}, false};
    if (!panel_->renameMove)
        return clash;
    const fs::path name = anchor.name();
    const std::string extension = name.extension().native();
    const std::string base = name.stem().native();
    int err = 0;
    // Every candidate is looked at and taken in the one folder opened here.
    const int folderFd = platform::AnchoredItem::openFolder(folder, &err);
    if (folderFd < 0)
        return {outcomeForErrno(err), err, {}, false};
    const struct FolderCloser {
        int fd;
        ~FolderCloser() { ::close(fd); }
    } closer{folderFd};
    quint64 n = recorder_.lastRenameNumber(base) + 1;
    for (int attempts = 0; attempts < 100000; ++attempts, ++n) {
        const std::string candidateName = base + "  " + std::to_string(n) + extension;
        if (platform::statAt(folderFd, candidateName.c_str(), false))
            continue;
        const auto candidate = platform::AnchoredItem::inFolder(folderFd, candidateName, folder / candidateName, &err);
        if (!candidate)
            return {outcomeForErrno(err), err, {}, false};
        recorder_.renameNumberTaken(base, n);
        Relocation result;
        if (!platform::pathReachesOpenFolder(folderFd))
            return {KZRemoveOutcome::DestinationCovered, EXDEV, {}, false};
        if (job == KZRemoveJob::CopyJob) {
            result = copyItem(anchor, *candidate);
        } else if (fs_->moveNoReplace(anchor, *candidate, &err)) {
            return keepInView(anchor, *candidate,
                              keepMountsOut(anchor, *candidate, {KZRemoveOutcome::Moved, 0, candidate->path(), false}));
        } else {
            result = err == EXDEV ? copyItem(anchor, *candidate) : Relocation{outcomeForErrno(err), err, {}, false};
        }
        // Taken between the test and the move: the next number.
        if (result.outcome != KZRemoveOutcome::SameName)
            return result;
    }
    return clash;
}

KZRemoveItemSteps::Relocation KZRemoveItemSteps::copyItem(const platform::AnchoredItem& anchor,
                                                          const platform::AnchoredItem& to)
{
    int err = 0;
    if (fs_->copyTree(anchor, to, stopTest(), &err))
        return {KZRemoveOutcome::Copied, 0, to.path(), true};
    // The copy met a mount made in the folder after it was looked at, and
    // took back what it had made.
    if (err == EXDEV)
        return {KZRemoveOutcome::MountInside, err, {}, false};
    return {outcomeForErrno(err), err, {}, false};
}

bool KZRemoveItemSteps::mountArrived(const platform::AnchoredItem& anchor)
{
    return mounts_.changed() && fs_->mountInside(anchor) == EXDEV;
}

// No look before a rename can rule out a mount made just after it: where
// the mount table changed since that look, the moved item is walked where
// it landed. A mount in the Trash would lose its files when the Trash is
// emptied, and one in the destination takes another file system's files
// there; the item goes back to its place, never replacing what took it
// meanwhile. Where that fails, it stays with its record, and the user is
// told what it holds.
KZRemoveItemSteps::Relocation KZRemoveItemSteps::keepMountsOut(const platform::AnchoredItem& anchor,
                                                               const platform::AnchoredItem& placed, Relocation moved)
{
    if (!mountArrived(placed))
        return moved;
    int err = 0;
    if (fs_->moveNoReplace(placed, anchor, &err)) {
        if (moved.outcome == KZRemoveOutcome::Trashed) {
            if (const auto trash = platform::trashOfTrashedItem(moved.newPath))
                ::unlink(platform::trashInfoPath(*trash, moved.newPath.filename().native()).c_str());
        }
        platform::logLine(QStringLiteral("%1: a mount was made in it while it moved; it was put back")
                              .arg(platform::pathText(anchor.path())));
        return {KZRemoveOutcome::MountInside, EXDEV, {}, false};
    }
    const QString text = QStringLiteral("%1 holds a mount point that was made while it moved there, and it could not "
                                        "be put back at %2 (%3): unmount it before anything deletes %1")
                             .arg(platform::pathText(moved.newPath), platform::pathText(anchor.path()),
                                  platform::systemErrorString(err));
    KZErrorDelegate::sharedControl().showError(QStringLiteral("execution_stopped"), {}, {text});
    platform::logLine(text);
    return moved;
}

// The destination's path was looked at right before the move: a disk
// mounted on the destination folder in between hides the item beneath it,
// and Undo would not find it. It goes back to its place, never replacing
// what took it meanwhile; where that fails, it stays with its record, and
// the user is told where it lies.
KZRemoveItemSteps::Relocation KZRemoveItemSteps::keepInView(const platform::AnchoredItem& anchor,
                                                            const platform::AnchoredItem& placed, Relocation moved)
{
    if (moved.outcome != KZRemoveOutcome::Moved || platform::pathReachesOpenFolder(placed.parentFd()))
        return moved;
    int err = 0;
    if (fs_->moveNoReplace(placed, anchor, &err)) {
        platform::logLine(QStringLiteral("%1: a disk was mounted on the destination folder while it moved there; "
                                         "it was put back")
                              .arg(platform::pathText(anchor.path())));
        return {KZRemoveOutcome::DestinationCovered, EXDEV, {}, false};
    }
    const QString text = QStringLiteral("%1 lies beneath a disk or shared folder that was mounted on its destination "
                                        "folder while it moved there, and it could not be put back at %2 (%3): "
                                        "unmount what was mounted there to reach it")
                             .arg(platform::pathText(moved.newPath), platform::pathText(anchor.path()),
                                  platform::systemErrorString(err));
    KZErrorDelegate::sharedControl().showError(QStringLiteral("execution_stopped"), {}, {text});
    platform::logLine(text);
    return moved;
}

// ---- Step 5: the link at the freed place, or the move taken back ---------------------------------

void KZRemoveItemSteps::linkOrRollBack(const KZFoundItemRef& item, const platform::AnchoredItem& anchor,
                                       const LinkPlan& plan, const Relocation& moved, KZRemoveJob::Kind job,
                                       bool* movedBack)
{
    // A copy leaves the item in place: a link there would have to replace it.
    if (!plan.trial || moved.copied) {
        dropTrialLink(plan);
        return;
    }
    int err = 0;
    // The kept copy may have been changed while the item left: the link
    // would put other data at the old place.
    const auto keptNow = plan.kept->stat();
    if (!keptNow || !keptNow->sameItem(*plan.keptStat)
        || proveAsFound(plan.keptItem, *plan.kept, *keptNow) != platform::Proof::Proved) {
        platform::logLine(QStringLiteral("%1: the kept copy %2 changed; no link made")
                              .arg(platform::pathText(anchor.path()), platform::pathText(plan.kept->path())));
        dropTrialLink(plan);
    } else if (fs_->moveNoReplace(*plan.trial, anchor, &err)) {
        const auto made = anchor.stat();
        if (made && made->sameItem(*keptNow)) {
            recorder_.linkMade();
            return;
        }
        // Something else took the hidden name meanwhile. It is not the
        // link, and not ours to delete: it stays, and the item keeps its
        // record where it went.
        platform::logLine(QStringLiteral("%1: what took the place of the link to %2 is not that copy; left there")
                              .arg(platform::pathText(anchor.path()), platform::pathText(plan.kept->path())));
    } else {
        dropTrialLink(plan);
        const QString text = QStringLiteral("%1: %2").arg(platform::pathText(anchor.path()),
                                                          platform::systemErrorString(err));
        KZErrorDelegate::sharedControl().showError(QStringLiteral("execution_stopped"), {}, {text});
        platform::logLine(text);
    }
    // A moved item goes back to its place and counts as the link not made; a
    // trashed one stays in the Trash with its record, and a deleted one is
    // gone. When the move back fails, the item stays at its new place and
    // keeps its undo record, so that it is never lost track of.
    if (job == KZRemoveJob::MoveJob && moved.outcome == KZRemoveOutcome::Moved
        && fs_->moveBack(moved.newPath, anchor, &err)) {
        *movedBack = true;
        recorder_.itemPutBack(item);
        return;
    }
    recorder_.linkNotMade();
}

// ---- Step 6: the undo record ----------------------------------------------------------------------

void KZRemoveItemSteps::recordUndo(const KZFoundItemRef& item, const fs::path& oldPath, const Relocation& moved,
                                   const std::optional<platform::FileStat>& leaving,
                                   std::optional<platform::DiskIdentity> oldFolder,
                                   std::optional<platform::FolderAttributes> folderAttributes)
{
    if (moved.outcome == KZRemoveOutcome::Trashed) {
        // Made even when the link or the bookmark fails: without it the item
        // could not be found in the Trash again.
        KZPersistentUndoRecord record;
        record.oldPosition = oldPath;
        record.aliasWasCreated = panel_->isCreateAlias;
        record.isiTunesItem = item->isiTunesItem();
        record.locationLabelTag = item->locationLabelTag();
        record.currPosition = moved.newPath;
        record.oldFolderAttributes = folderAttributes;
        if (const auto st = platform::statPath(moved.newPath, false)) {
            record.device = quint64(st->device);
            record.inode = st->inode;
            record.identity = platform::FileIdentity::of(AT_FDCWD, moved.newPath.c_str(), *st,
                                                         platform::fileSystemOf(moved.newPath));
        }
        record.bookmark = platform::createBookmark(moved.newPath);
        record.foundItem = item;
        recorder_.trashRecorded(std::move(record));
        return;
    }
    KZUndoMovedItem record{moved.newPath, oldPath, panel_->isCreateAlias, moved.copied};
    record.foundItem = item;
    record.oldFolderAttributes = std::move(folderAttributes);
    if (oldFolder)
        record.setOldFolderDisk(*oldFolder);
    // What the copy is now, so that undo deletes it only while it still is.
    if (moved.copied)
        record.copyIdentity = KZCopyIdentity::capture(moved.newPath);
    // Where it lies, the way to it resolved now, and who it is: a move keeps
    // the identity the item left with; a copy is a file of its own.
    int err = 0;
    if (const auto placed = platform::AnchoredItem::openInFolder(moved.newPath, &err)) {
        // A move leaves the item on its file system: where it lies now is
        // asked what that keeps of it.
        const auto there = placed->stat();
        const platform::FileSystemFacts fileSystem = platform::fileSystemAt(placed->parentFd(), placed->name().c_str());
        if (moved.copied && there) {
            record.identity = platform::FileIdentity::of(placed->parentFd(), placed->name().c_str(), *there, fileSystem);
        } else if (!moved.copied && leaving) {
            record.identity = platform::FileIdentity::of(placed->parentFd(), placed->name().c_str(), *leaving, fileSystem);
            const bool sameHere = there && there->sameItem(*leaving) && there->isDir() == leaving->isDir();
            // A folder without a birth time is told by its change time once
            // it lies here: the move itself set it.
            if (record.identity->changed && sameHere)
                record.identity->changed = platform::FileIdentity::of(*there, fileSystem).changed;
            else if (record.identity->changed)
                record.identity->changed.reset();
            // A file told by its size and date keeps the date it has here:
            // some drivers (vfat through fusefat) stamp a moved file with
            // the time of the move, and the date it left with would never
            // prove it again.
            if (record.identity->modified && !leaving->isDir() && sameHere && there->size == leaving->size)
                record.identity->modified = platform::FileIdentity::of(*there, fileSystem).modified;
        }
        if (const auto folder = platform::pathOfOpenFolder(placed->parentFd()))
            record.placedIn = *folder;
    }
    recorder_.moveRecorded(std::move(record));
}

// ---- The destination folder tree ------------------------------------------------------------------

std::optional<platform::AnchoredItem> KZRemoveItemSteps::createDestinationRoot(const fs::path& destination,
                                                                               const fs::path& source)
{
    if (!destination.is_absolute())
        return std::nullopt;
    const fs::path item = source.lexically_normal();
    std::vector<fs::path> parts(item.begin(), item.end());
    if (parts.empty() || item.filename().empty())
        return std::nullopt;
    size_t first = 0;
    if (parts.size() > 1 && parts[0] == "/" && parts[1] == "Volumes")
        first = 2;
    else if (parts[0] == "Volumes" || parts[0] == "/")
        first = 1;
    int err = 0;
    // The folder the user chose may be reached through a link of theirs;
    // below it, every folder is made and opened from the one before it.
    int fd = platform::AnchoredItem::openFolder(destination, &err);
    if (fd < 0) {
        platform::logLine(QStringLiteral("Cannot open %1: %2")
                              .arg(platform::pathText(destination), platform::systemErrorString(err)));
        return std::nullopt;
    }
    fs::path p = destination;
    for (size_t i = first; i + 1 < parts.size(); ++i) {
        const std::string name = parts[i].native();
        p /= parts[i];
        int next = platform::openFolderAt(fd, name.c_str(), platform::kFolderPathOnly);
        err = errno;
        if (next < 0 && err == ENOENT) {
            // Announced first: a kill before the item moves in leaves an
            // empty folder that the recovery takes away.
            platform::reservingName(fd, name.c_str(), AT_FDCWD, item.c_str(), true);
            if (!fs_->makeFolderAt(fd, name, &err)) {
                platform::logLine(QStringLiteral("Cannot create %1: %2")
                                      .arg(platform::pathText(p), platform::systemErrorString(err)));
                ::close(fd);
                return std::nullopt;
            }
            next = platform::openFolderAt(fd, name.c_str(), platform::kFolderPathOnly);
            err = errno;
            // Undo removes it through the folder it was made in, and only
            // while it is this folder: a link put in its place since leads
            // nowhere, and a stranger's folder stays.
            KZCreatedFolder made{p};
            if (next >= 0) {
                made.identity = platform::FileIdentity::at(next, "");
                if (const auto at = platform::pathOfOpenFolder(next))
                    made.madeAt = *at;
            }
            recorder_.folderCreated(std::move(made));
        }
        ::close(fd);
        if (next < 0) {
            // A link in the rebuilt path could lead the item anywhere.
            platform::logLine(QStringLiteral("Not a folder: %1 (%2)")
                                  .arg(platform::pathText(p), platform::systemErrorString(err)));
            return std::nullopt;
        }
        fd = next;
    }
    std::optional<platform::AnchoredItem> target
        = platform::AnchoredItem::inFolder(fd, item.filename().native(), p / item.filename(), &err);
    ::close(fd);
    return target;
}
