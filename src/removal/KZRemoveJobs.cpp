#include "removal/KZRemove.h"

#include "platform/Bookmark.h"
#include "platform/FileOps.h"
#include "platform/FileStat.h"
#include "platform/Log.h"
#include "services/KZErrorDelegate.h"

#include <QFile>

#include <cerrno>
#include <string>

namespace fs = std::filesystem;

namespace {

QString display(const fs::path& path)
{
    return QFile::decodeName(path.c_str());
}

enum class Identity { Same, Changed, Missing };

Identity identityOf(const KZFoundItemRef& item, const fs::path& path)
{
    const auto st = platform::statPath(path, false);
    if (!st)
        return Identity::Missing;
    if (item->device() == 0 && item->inode() == 0)
        return Identity::Same; // a result that never read identities
    if (quint64(st->device) != item->device() || st->inode != item->inode())
        return Identity::Changed;
    if (!item->isDirectory() && !st->isDir()) {
        const timespec& found = item->modificationTime();
        if ((found.tv_sec != 0 || found.tv_nsec != 0)
            && (found.tv_sec != st->modified.tv_sec || found.tv_nsec != st->modified.tv_nsec))
            return Identity::Changed;
        if (st->isRegular() && st->size != item->size())
            return Identity::Changed;
    }
    return Identity::Same;
}

QString outcomeName(qint32 code, KZRemove::Job job, bool copied, bool linkFailed)
{
    if (linkFailed)
        return QStringLiteral("link_failed");
    switch (code) {
    case 0:
        return copied ? QStringLiteral("copied")
                      : job == KZRemove::TrashJob ? QStringLiteral("trash") : QStringLiteral("moved");
    case KZRemoveCode::alreadyExists:
        return QStringLiteral("same_name");
    case KZRemoveCode::noPermission:
        return QStringLiteral("permission_not_allowed");
    case KZRemoveCode::badFileName:
        return QStringLiteral("bad_file_name");
    case KZRemoveCode::busy:
        return QStringLiteral("busy");
    case KZRemoveCode::notFound:
        return QStringLiteral("not_found");
    case KZRemoveCode::diskLocked:
        return QStringLiteral("disk_locked");
    case KZRemoveCode::stopped:
        return QStringLiteral("stopped");
    default:
        return QStringLiteral("error %1").arg(code);
    }
}

bool isInsideOrSame(const fs::path& path, const fs::path& folder)
{
    auto p = path.begin();
    for (auto f = folder.begin(); f != folder.end(); ++f, ++p) {
        if (f->empty())
            continue;
        if (p == path.end() || *p != *f)
            return false;
    }
    return true;
}

} // namespace

bool KZRemove::identityMatches(const KZFoundItemRef& item, const fs::path& path) const
{
    return identityOf(item, path) == Identity::Same;
}

qint32 KZRemove::moveItems(const KZFoundItemArray& items, Job job, const fs::path& destination)
{
    // The handled items are kept for the whole removal, not per batch: which
    // items left their place is decided from them after the last batch.
    diskLockedCount.store(0);
    qint32 code = 0;
    for (const KZFoundItemRef& item : items) {
        if (isStopped())
            break;
        const fs::path url = item->url().lexically_normal();
        // What the search found must still be there: a file changed since
        // is no longer known to be a duplicate.
        const Identity identity = url.empty() ? Identity::Missing : identityOf(item, url);
        if (identity != Identity::Same) {
            (identity == Identity::Missing ? notFoundCount : changedCount).fetch_add(1);
            noteOutcome(item, identity == Identity::Missing ? QStringLiteral("not_found") : QStringLiteral("changed"));
            panel_->managedCount.fetch_add(1);
            continue;
        }
        const bool wantsLink = panel_->isCreateAlias && !item->isiTunesItem();

        if (thereAreShared.load()) {
            qint32 deleted = deleteItem(item, url);
            if (deleted == 0 && managedPath(item) == fs::path("-")) {
                if (wantsLink) {
                    createHardLink(item->groupID(), url, &deleted);
                    if (deleted != 0)
                        return deleted;
                }
                if (panel_->reportEmptyFolders)
                    panel_->addFolderToCheckForEmpty({url.parent_path(), item->locationLabelTag()});
            }
            if (deleted == KZRemoveCode::stopped)
                return deleted;
            code = deleted;
            panel_->managedCount.fetch_add(1);
            continue;
        }

        const quint64 size = item->size();
        const ItemResult moved = moveItem(item, url, destination, job);
        qint32 itemCode = moved.code;
        bool alertShown = false;
        bool isAway = itemCode == 0;
        if (itemCode == 0) {
            {
                std::lock_guard guard(mutex_);
                managedItems_[item.get()] = moved.copied ? url : moved.newPath;
            }
            // A copy leaves the item in place: a link there would have to
            // replace it, so none is made.
            if (wantsLink && !moved.copied) {
                createHardLink(item->groupID(), url, &itemCode);
                if (itemCode != 0) {
                    alertShown = true;
                    if (job != TrashJob) {
                        KZUndoMovedItem back{moved.newPath, url, false, false};
                        int err = 0;
                        if (fs_->moveNoReplace(moved.newPath, url, &err)) {
                            isAway = false;
                            std::lock_guard guard(mutex_);
                            managedItems_.erase(item.get());
                        }
                        // Otherwise the item stays at its new place and keeps
                        // its undo record, so that it is never lost track of.
                    }
                }
            }
        }

        if (isAway) {
            if (!moved.copied)
                item->setIsRemoved(true);
            std::lock_guard guard(mutex_);
            if (job == TrashJob) {
                // Made even when the link or the bookmark fails: without it
                // the item could not be found in the Trash again.
                KZPersistentUndoRecord record;
                record.oldPosition = url;
                record.aliasWasCreated = panel_->isCreateAlias;
                record.isiTunesItem = item->isiTunesItem();
                record.locationLabelTag = item->locationLabelTag();
                record.currPosition = moved.newPath;
                if (const auto st = platform::statPath(moved.newPath, false)) {
                    record.device = quint64(st->device);
                    record.inode = st->inode;
                }
                record.bookmark = platform::createBookmark(moved.newPath);
                persistentUndo_.push_back(std::move(record));
            } else {
                KZUndoMovedItem record{moved.newPath, url, panel_->isCreateAlias, moved.copied};
                (item->isiTunesItem() ? itunesUndo_ : standardUndo_).push_back(std::move(record));
            }
        }
        noteOutcome(item, outcomeName(isAway ? 0 : (itemCode ? itemCode : KZRemoveCode::stopped), job, moved.copied,
                                      alertShown && !isAway));
        if (isAway) {
            if (panel_->reportEmptyFolders)
                panel_->addFolderToCheckForEmpty({url.parent_path(), item->locationLabelTag()});
            panel_->removedSize.fetch_add(size);
        }

        switch (itemCode) {
        case KZRemoveCode::ok:
        case KZRemoveCode::alreadyExists: // counted by the renaming rule when it applies
            itemCode = 0;
            break;
        case KZRemoveCode::noPermission:
            noPermissionsCount.fetch_add(1);
            itemCode = KZRemoveCode::diskLocked;
            break;
        case KZRemoveCode::badFileName:
            badFileNameCount.fetch_add(1);
            itemCode = 0;
            break;
        case KZRemoveCode::busy:
            itemBusyCount.fetch_add(1);
            itemCode = 0;
            break;
        case KZRemoveCode::notFound:
            notFoundCount.fetch_add(1);
            itemCode = 0;
            break;
        case KZRemoveCode::diskLocked:
            break;
        case KZRemoveCode::stopped:
            return itemCode;
        default:
            manageError(itemCode, !alertShown, display(url));
            return itemCode;
        }
        if (itemCode == KZRemoveCode::diskLocked)
            diskLockedCount.fetch_add(1);
        panel_->managedCount.fetch_add(1);
    }
    return code;
}

KZRemove::ItemResult KZRemove::moveItem(const KZFoundItemRef& item, const fs::path& from, const fs::path& destination,
                                        Job job)
{
    (void)item;
    int err = 0;
    if (job == TrashJob) {
        // The Trash itself numbers a clashing name and never replaces; when
        // no trash on the item's own volume can be used, nothing moves.
        if (const auto trashed = fs_->moveToTrash(from, &err))
            return {0, *trashed, false};
        return {codeForErrno(err), {}, false};
    }
    fs::path target = destination / from.filename();
    if (panel_->createFolders) {
        const auto rebuilt = createDestinationRoot(destination, from);
        if (!rebuilt) {
            platform::logLine(QStringLiteral("NSInvalidArgumentException: destination is nil."));
            return {KZRemoveCode::noDestination, {}, false};
        }
        target = *rebuilt;
    }
    if (job == CopyJob) {
        ItemResult copied = copyItem(from, target);
        if (copied.code == KZRemoveCode::alreadyExists)
            return renameItem(from, destination, job, copied.code);
        return copied;
    }
    if (fs_->moveNoReplace(from, target, &err))
        return {0, target, false};
    if (err == EXDEV) {
        // Another file system after all (a bind mount): copied, never
        // copied and then deleted.
        ItemResult copied = copyItem(from, target);
        if (copied.code == KZRemoveCode::alreadyExists)
            return renameItem(from, destination, CopyJob, copied.code);
        return copied;
    }
    const qint32 code = codeForErrno(err);
    if (code == KZRemoveCode::alreadyExists)
        return renameItem(from, destination, job, code);
    return {code, {}, false};
}

KZRemove::ItemResult KZRemove::renameItem(const fs::path& from, const fs::path& folder, Job job, qint32 clashCode)
{
    if (!panel_->renameMove) {
        alreadyExistCount.fetch_add(1);
        return {clashCode, {}, false};
    }
    const fs::path name = from.filename();
    const std::string extension = name.extension().native().empty() ? std::string() : name.extension().native();
    const std::string base = name.stem().native();
    quint64 n = 1;
    {
        std::lock_guard guard(mutex_);
        if (const auto found = renamedDict_.find(base); found != renamedDict_.end())
            n = found->second + 1;
    }
    for (int attempts = 0; attempts < 100000; ++attempts, ++n) {
        const fs::path candidate = folder / (base + "  " + std::to_string(n) + extension);
        if (platform::statPath(candidate, false))
            continue;
        {
            std::lock_guard guard(mutex_);
            renamedDict_[base] = n;
        }
        ItemResult result;
        if (job == CopyJob) {
            result = copyItem(from, candidate);
        } else {
            int err = 0;
            if (fs_->moveNoReplace(from, candidate, &err))
                return {0, candidate, false};
            result = err == EXDEV ? copyItem(from, candidate) : ItemResult{codeForErrno(err), {}, false};
        }
        // Taken between the test and the move: the next number.
        if (result.code != KZRemoveCode::alreadyExists)
            return result;
    }
    alreadyExistCount.fetch_add(1);
    return {clashCode, {}, false};
}

KZRemove::ItemResult KZRemove::copyItem(const fs::path& from, const fs::path& to)
{
    int err = 0;
    if (fs_->copyTree(from, to, stopTest(), &err))
        return {0, to, true};
    return {codeForErrno(err), {}, false};
}

qint32 KZRemove::deleteItem(const KZFoundItemRef& item, const fs::path& path)
{
    // A permanent deletion needs a copy of the group that stays: on disk, not
    // leaving in this removal, and not inside something that leaves.
    if (!hasSurvivingMember(item)) {
        notTrashedSecurityCount.fetch_add(1);
        noteOutcome(item, QStringLiteral("last_member"));
        return 0;
    }
    int err = 0;
    if (fs_->removeTree(path, stopTest(), &err)) {
        noteOutcome(item, QStringLiteral("deleted"));
        std::lock_guard guard(mutex_);
        managedItems_[item.get()] = fs::path("-");
        return 0;
    }
    const qint32 code = codeForErrno(err);
    noteOutcome(item, outcomeName(code, TrashJob, false, false));
    if (code == KZRemoveCode::noPermission) {
        noPermissionsCount.fetch_add(1);
        return 0;
    }
    if (code == KZRemoveCode::busy) {
        itemBusyCount.fetch_add(1);
        return 0;
    }
    if (code != KZRemoveCode::stopped)
        otherFailureCount.fetch_add(1);
    return code;
}

bool KZRemove::hasSurvivingMember(const KZFoundItemRef& item) const
{
    for (const KZFoundItemRef& member : panel_->resultItems) {
        if (!member || member.get() == item.get() || member->groupID() != item->groupID())
            continue;
        if (removalItems_.count(member.get()))
            continue;
        const fs::path path = member->url().lexically_normal();
        if (path.empty() || identityOf(member, path) != Identity::Same)
            continue;
        bool insideRemoval = false;
        for (const fs::path& leaving : removalPaths_) {
            if (isInsideOrSame(path, leaving)) {
                insideRemoval = true;
                break;
            }
        }
        if (!insideRemoval)
            return true;
    }
    return false;
}

bool KZRemove::createHardLink(qint64 groupID, const fs::path& at, qint32* code)
{
    KZFoundItemRef kept;
    for (const KZFoundItemRef& master : panel_->mastersAlias) {
        if (master && master->groupID() == groupID) {
            kept = master;
            break;
        }
    }
    if (!kept)
        return false;
    const fs::path keptPath = kept->url();
    // Only to the very copy the search found: a link to a changed file would
    // put different data at the old place.
    if (keptPath.empty() || identityOf(kept, keptPath) != Identity::Same)
        return false;
    const auto keptStat = platform::statPath(keptPath, false);
    const auto placeStat = platform::statPath(at.parent_path(), true);
    if (!keptStat || !placeStat || keptStat->device != placeStat->device) {
        aliasNotInSameVolumeCount.fetch_add(1);
        return false;
    }
    int err = 0;
    if (fs_->link(keptPath, at, &err))
        return true;
    const QString text = QStringLiteral("%1: %2").arg(display(at), platform::systemErrorString(err));
    KZErrorDelegate::sharedControl().showError(QStringLiteral("execution_stopped"), {}, {text});
    platform::logLine(text);
    *code = codeForErrno(err);
    return false;
}

std::optional<fs::path> KZRemove::createDestinationRoot(const fs::path& destination, const fs::path& source)
{
    const fs::path item = source.lexically_normal();
    std::vector<fs::path> parts(item.begin(), item.end());
    if (parts.empty() || item.filename().empty())
        return std::nullopt;
    size_t first = 0;
    if (parts.size() > 1 && parts[0] == "/" && parts[1] == "Volumes")
        first = 2;
    else if (parts[0] == "Volumes" || parts[0] == "/")
        first = 1;
    fs::path p = destination;
    for (size_t i = first; i + 1 < parts.size(); ++i) {
        p /= parts[i];
        if (const auto st = platform::statPath(p, false)) {
            // A link in the rebuilt path could lead the item anywhere.
            if (!st->isDir()) {
                platform::logLine(QStringLiteral("Not a folder: %1").arg(display(p)));
                return std::nullopt;
            }
            continue;
        }
        int err = 0;
        if (!fs_->makeFolder(p, &err)) {
            platform::logLine(QStringLiteral("Cannot create %1: %2").arg(display(p), platform::systemErrorString(err)));
            return std::nullopt;
        }
        std::lock_guard guard(mutex_);
        createdFolderUndo_.push_back(p);
    }
    return p / item.filename();
}
