#include "removal/KZItemWhereabouts.h"

#include "platform/FileSystemFacts.h"
#include "platform/Paths.h"
#include "platform/Trash.h"
#include "platform/Volumes.h"

#include <QDateTime>
#include <QTimeZone>

#include <algorithm>
#include <cerrno>
#include <string>

namespace KZItemWhereabouts {

namespace {

using platform::DiskAnswer;
using platform::Proof;

bool isFreeName(const fs::path& path)
{
    int err = 0;
    return !platform::statPath(path, false, &err) && err == ENOENT;
}

// The disk of the Trash the item was put in, there, as the record reads
// it; its device in `trashDevice`. Another disk given the old device
// number holds a Trash of its own, and a byte copy of the disk holds a
// copy of the Trash.
DiskAnswer trashDiskOf(const platform::BookmarkTarget& target, const RecordSource& source, quint64* trashDevice = nullptr)
{
    const auto trash = platform::trashOfTrashedItem(target.path);
    fs::path folder = trash ? platform::trashFilesFolder(*trash) : target.path.parent_path();
    int err = 0;
    auto st = platform::statPath(folder, false, &err);
    // A Trash deleted whole leaves its disk connected where a mount still
    // stands at the Trash's top: the disk is judged there. A top that is no
    // mount's own is the bare folder an unplugged disk or an unmounted bind
    // mount left, and tells nothing of the disk.
    if (!st && err == ENOENT && trash) {
        if (const fs::path top = platform::topOfTrashDirectory(*trash); !top.empty() && platform::isVolumeRoot(top)) {
            folder = top;
            st = platform::statPath(top, false);
        }
    }
    if (!st || !st->isDir())
        return DiskAnswer::Different;
    if (trashDevice)
        *trashDevice = quint64(st->device);
    return judgeDisk(target.identity.disk(), source, quint64(st->device), platform::fileSystemQueryOf(folder));
}

// A deletion date a .trashinfo names (local time, whole seconds) that is no
// later than the record's moment: the item it tells of was trashed before
// the record was written, not by a later removal of the same place.
bool deletedBy(const QDateTime& deleted, const RecordSource& source)
{
    if (source.moment <= 0)
        return true;
    if (!deleted.isValid())
        return false;
    // Seconds since 2001-01-01 00:00:00 GMT.
    static const qint64 reference = QDateTime(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc()).toSecsSinceEpoch();
    const double recorded = double(reference) + source.moment;
    // The .trashinfo keeps whole seconds of local time; a clock change of a
    // second or two between the two writes is no later removal.
    return double(deleted.toSecsSinceEpoch()) <= recorded + 2.0;
}

// The Trash item at the record's Trash name is that record's own: its
// .trashinfo names the recorded place and a deletion no later than the
// record, and its kind, size and date are those recorded. A later removal
// of the same place gives another item that name: never this record's.
bool isRecordsOwnItem(const KZUndoFile::Entry& entry, const platform::BookmarkTarget& target,
                      const RecordSource& source)
{
    const auto st = platform::statPath(target.path, false);
    if (!st || !platform::isInTrash(target.path))
        return false;
    const auto info = platform::readTrashInfo(target.path);
    if (!info || !sameOldPosition(entry, info->originalPath) || !deletedBy(info->deletionDate, source))
        return false;
    const platform::FileIdentity& id = target.identity;
    if (id.folder && *id.folder != st->isDir())
        return false;
    if (id.birth && st->birth
        && (id.birth->seconds != qint64(st->birth->tv_sec) || id.birth->nanoseconds != qint64(st->birth->tv_nsec)))
        return false;
    if (st->isDir())
        return true;
    if (id.size && *id.size != quint64(st->size))
        return false;
    if (id.modified
        && (id.modified->seconds != qint64(st->modified.tv_sec)
            // A disk that keeps whole seconds, or two, shows no fraction.
            || (st->modified.tv_nsec != 0 && id.modified->nanoseconds != qint64(st->modified.tv_nsec))))
        return false;
    return true;
}

// The Trash name the item was given still holds an item whose .trashinfo
// names the entry's old place: whatever its inode, the entry's item is
// there in some form (an editor that saves by renaming gives it a new
// inode), and it is never dropped as gone.
bool holdsItsTrashName(const KZUndoFile::Entry& entry, const platform::BookmarkTarget& target)
{
    if (!platform::statPath(target.path, false) || !platform::isInTrash(target.path))
        return false;
    const auto info = platform::readTrashInfo(target.path);
    return info && sameOldPosition(entry, info->originalPath);
}

// This program's own evidence that the item left its Trash: a Restore
// killed after the move left the .trashinfo that names its old place.
bool restoreLeftItsInfo(const KZUndoFile::Entry& entry, const platform::BookmarkTarget& target)
{
    const auto info = platform::readTrashInfo(target.path);
    return info && sameOldPosition(entry, info->originalPath);
}

// Still in its Trash under its name, with the recorded inode on the
// recorded disk and a .trashinfo naming its old place, but not proved to be
// the item that left (its date touched where there is no birth time).
bool isChangedInTrash(const KZUndoFile::Entry& entry, const platform::BookmarkTarget& target,
                      const platform::ResolvedBookmark& resolved, const std::optional<platform::FileStat>& now,
                      const RecordSource& source)
{
    // On a disk not proved to be the item's (a copy of it), the Trash is
    // not the one the item lies in.
    if (!now || resolved.path != target.path || !platform::isInTrash(resolved.path))
        return false;
    const DiskAnswer disk
        = judgeDisk(target.identity.disk(), source, quint64(now->device), platform::fileSystemQueryOf(resolved.path));
    if ((disk != DiskAnswer::Same && disk != DiskAnswer::SameOrCopy)
        || target.identity.proveOnItsDisk(*now) == Proof::Different)
        return false;
    const auto info = platform::readTrashInfo(resolved.path);
    return info && sameOldPosition(entry, info->originalPath);
}

// On a file system that numbers its files anew at every mount, no bookmark
// finds the item by its number once its disk was mounted again: it is the
// item under its Trash name whose .trashinfo, this program's own record on
// that disk, names its old place, where it is proved by all but its number.
// A folder there has nothing of its own but its kind (no birth time, and a
// date that changes with its entries): that record names it.
std::optional<platform::ResolvedBookmark> renumberedInItsTrash(const KZUndoFile::Entry& entry,
                                                              const platform::BookmarkTarget& target,
                                                              const RecordSource& source)
{
    const auto st = platform::statPath(target.path, false);
    if (!st || st->inode == target.identity.inode || !target.identity.canProve() || !platform::isInTrash(target.path))
        return std::nullopt;
    const auto info = platform::readTrashInfo(target.path);
    if (!info || !sameOldPosition(entry, info->originalPath))
        return std::nullopt;
    const Proof proof = proveItem(target.identity, source, *st, platform::fileSystemQueryOf(target.path),
                                  platform::folderGenerationQueryOf(target.path));
    if (proof != Proof::Proved && !(proof == Proof::NotProved && st->isDir() && target.identity.folder.value_or(false)))
        return std::nullopt;
    return platform::ResolvedBookmark{target.path, false};
}

// The item at its old place, as the record proves it there: by all that it
// recorded, or on a disk that numbers its files anew by all but its number
// (a folder there by its kind), the move back having given it another one.
Proof proveBackAt(const platform::FileIdentity& identity, const platform::FileStat& st, const fs::path& place)
{
    const auto generation = platform::folderGenerationQueryOf(place);
    const Proof item = identity.proveOnItsDisk(st, generation);
    if (item != Proof::Different || st.inode == identity.inode)
        return item;
    const platform::FileSystemQuery fileSystem = platform::fileSystemQueryOf(place);
    if (!fileSystem || fileSystem().inodesLast)
        return Proof::Different;
    platform::FileIdentity renumbered = identity;
    renumbered.inode = st.inode;
    const Proof proof = renumbered.proveOnItsDisk(st, generation);
    if (proof == Proof::NotProved && st.isDir() && identity.folder.value_or(false))
        return Proof::Proved;
    return proof;
}

// A record kept for the disk itself has done its work once that disk is
// proved (not only one like it) and holds the item in its Trash neither at
// its name nor, as far as this program can tell, under another: no
// bookmark finds it there, and no .trashinfo there names its old place from
// before the record.
bool isProvedDone(const KZUndoFile::Entry& entry, const std::optional<platform::BookmarkTarget>& target,
                  const RecordSource& source, Seen* seen)
{
    if (!target || trashDiskOf(*target, source) != DiskAnswer::Same || !isFreeName(target->path))
        return false;
    if (const auto resolved = platform::resolveBookmark(entry.currPosition);
        resolved && platform::isInTrash(resolved->path))
        return false;
    const auto trash = platform::trashOfTrashedItem(target->path);
    if (!trash)
        return true;
    auto [at, fresh] = seen->trashed.try_emplace(*trash);
    if (fresh) {
        std::error_code ec;
        for (fs::directory_iterator it(platform::trashInfoFolder(*trash), ec), end; !ec && it != end;
             it.increment(ec)) {
            const std::optional<std::string> name = platform::trashedNameOfInfo(it->path().filename().native());
            if (!name)
                continue;
            const fs::path item = platform::trashFilesFolder(*trash) / *name;
            if (!platform::statPath(item, false))
                continue;
            if (const auto info = platform::readTrashInfo(item))
                at->second.emplace(info->originalPath, info->deletionDate);
        }
    }
    return std::none_of(at->second.begin(), at->second.end(), [&](const auto& place) {
        return sameOldPosition(entry, place.first) && deletedBy(place.second, source);
    });
}

// Back at its old place by what its disk itself shows, with no need of the
// .trashinfo a Restore leaves: the disk proved at both places (never only
// one like it), and the item by more than size and date.
bool provedByItsDisk(const platform::BookmarkTarget& target, DiskAnswer trashDisk, DiskAnswer place,
                     const platform::FileStat& st, const fs::path& oldPosition)
{
    return trashDisk == DiskAnswer::Same && place == DiskAnswer::Same
           && target.identity.isProvedBeyondSizeAndDate(st, platform::folderGenerationQueryOf(oldPosition));
}

// Where an entry whose bookmark no longer finds its item stands. Facts that
// the disk mounted now produces about itself (a change time, a Trash
// folder's date, size and date where there is no birth time) are shared by
// a used byte copy of the disk, a backup copy, another disk: they prove
// nothing here. Back needs the .trashinfo a killed Restore left, or the
// disk proved and the item proved by more than size and date; gone needs
// the disk proved and a free Trash name.
Answer unresolved(const KZUndoFile::Entry& entry, const platform::BookmarkTarget& target, const RecordSource& source,
                  Answer answer)
{
    quint64 trashDevice = 0;
    const DiskAnswer trashDisk = trashDiskOf(target, source, &trashDevice);
    answer.onPossibleCopy = trashDisk == DiskAnswer::SameOrCopy;
    answer.recordOnItsTrashDisk = trashDevice != 0 && trashDevice == source.device;
    // Which of the two holds the item is not known: nothing is concluded
    // from either.
    if (trashDisk == DiskAnswer::Twin) {
        answer.where = Where::Twin;
        return answer;
    }
    const bool nameFree = isFreeName(target.path);
    if (const auto st = platform::statPath(entry.oldPosition, false); st && trashDisk != DiskAnswer::Different) {
        const DiskAnswer place = judgeDisk(target.identity.disk(), source, quint64(st->device),
                                           platform::fileSystemQueryOf(entry.oldPosition));
        const Proof item = proveBackAt(target.identity, *st, entry.oldPosition);
        if (place != DiskAnswer::Different && item != Proof::Different) {
            if (nameFree && item == Proof::Proved && restoreLeftItsInfo(entry, target)) {
                answer.where = Where::BackInPlace;
                answer.backByItsDisk = provedByItsDisk(target, trashDisk, place, *st, entry.oldPosition);
            } else if (nameFree && provedByItsDisk(target, trashDisk, place, *st, entry.oldPosition)) {
                answer.where = Where::BackInPlace;
                answer.backByItsDisk = item == Proof::Proved;
            } else {
                answer.where = Where::Unproved;
            }
            return answer;
        }
    }
    // An unplugged disk, or an unmounted bind mount, takes its Trash along;
    // so does another disk mounted in its place, and a copy of the disk in
    // its place shows a Trash that is not the item's. The same disk under
    // another device number is no other disk; but where nothing tells the
    // disk from a copy of it, the item's absence from a Trash that may be
    // the copy's proves nothing.
    switch (trashDisk) {
    case DiskAnswer::Same:
        answer.where = Where::Gone;
        break;
    case DiskAnswer::SameOrCopy:
        answer.where = Where::NotInTrash;
        break;
    case DiskAnswer::Twin:
        answer.where = Where::Twin;
        break;
    case DiskAnswer::Different:
    case DiskAnswer::Unknown:
        answer.where = Where::NotConnected;
        break;
    }
    if ((answer.where == Where::Gone || answer.where == Where::NotInTrash) && holdsItsTrashName(entry, target))
        answer.where = Where::Changed;
    return answer;
}

// The item of a disk that is connected elsewhere than where it was: found
// relative to that mount where the disk is proved the disk itself; else
// said to be elsewhere, never not connected.
Answer remounted(const KZUndoFile::Entry& entry, const platform::BookmarkTarget& target, const RecordSource& source,
                 Seen* seen, Answer answer)
{
    const auto trash = platform::trashOfTrashedItem(target.path);
    const fs::path top = trash ? platform::topOfTrashDirectory(*trash) : fs::path();
    if (top.empty() || entry.oldPosition.lexically_relative(top).empty()
        || entry.oldPosition.lexically_relative(top).native().starts_with(".."))
        return answer;
    const fs::path inTrash = target.path.lexically_relative(top);
    const fs::path inDisk = entry.oldPosition.lexically_relative(top);
    const auto holds = [&](const fs::path& now) {
        const fs::path item = now / inTrash;
        const auto st = platform::statPath(item, false);
        if (!st
            || proveItem(target.identity, source, *st, platform::fileSystemQueryOf(item),
                         platform::folderGenerationQueryOf(item))
                   != Proof::Proved)
            return false;
        const auto info = platform::readTrashInfo(item);
        return info && (info->originalPath == now / inDisk || sameOldPosition(entry, info->originalPath));
    };
    const platform::DiskIdentity disk = target.identity.disk();
    std::vector<platform::DiskIdentity>& nowhere = seen->connectedNowhere[top];
    if (std::find(nowhere.begin(), nowhere.end(), disk) != nowhere.end())
        return answer;
    const auto known = seen->remounted.find(top);
    DiskAnswer elsewhere = DiskAnswer::Different;
    std::optional<fs::path> now;
    if (known != seen->remounted.end() && known->second && holds(*known->second))
        now = known->second;
    else
        now = remountedTop(top, disk, holds, &elsewhere);
    if (now) {
        seen->remounted[top] = now;
        answer.where = Where::InTrash;
        answer.trashed = *now / inTrash;
        answer.oldPosition = *now / inDisk;
        answer.now = platform::statPath(answer.trashed, false);
        return answer;
    }
    if (elsewhere == DiskAnswer::SameOrCopy || elsewhere == DiskAnswer::Same)
        answer.where = Where::Elsewhere;
    else if (elsewhere == DiskAnswer::Twin)
        answer.where = Where::Twin;
    else
        nowhere.push_back(disk);
    return answer;
}

} // namespace

RecordSource RecordSource::ofUndoFile(const fs::path& file)
{
    const auto st = platform::statPath(file, false);
    return {st ? quint64(st->device) : 0, KZUndoFile::secondsOfFileName(platform::pathText(file.filename()))};
}

DiskAnswer judgeDisk(const platform::DiskIdentity& disk, const RecordSource& source, quint64 deviceNow,
                     const platform::FileSystemQuery& fileSystemNow)
{
    return disk.judgeFromRecordOn(source.device, deviceNow, fileSystemNow);
}

Proof proveItem(const platform::FileIdentity& identity, const RecordSource& source, const platform::FileStat& now,
                const platform::FileSystemQuery& fileSystemNow, const platform::GenerationQuery& generationNow)
{
    // Only where the record lies on the item's very file system does it
    // say more of the disk than the disk's identity does.
    if (source.device == 0 || quint64(now.device) != source.device || !fileSystemNow)
        return identity.prove(now, fileSystemNow, generationNow);
    const DiskAnswer plain = identity.disk().judge(quint64(now.device), fileSystemNow);
    if (plain == DiskAnswer::Same || plain == DiskAnswer::Different
        || judgeDisk(identity.disk(), source, quint64(now.device), fileSystemNow) != DiskAnswer::Same)
        return identity.prove(now, fileSystemNow, generationNow);
    // The disk is the record's own: the item is proved by what it is itself,
    // under another number where the disk numbers its files anew and was
    // mounted again since.
    if (now.inode == identity.inode)
        return identity.proveOnItsDisk(now, generationNow);
    const platform::DiskMarks marks = fileSystemNow();
    if (marks.inodesLast || (identity.mount && marks.mount == identity.mount))
        return Proof::Different;
    platform::FileIdentity renumbered = identity;
    renumbered.inode = now.inode;
    return renumbered.proveOnItsDisk(now, generationNow);
}

bool sameOldPosition(const KZUndoFile::Entry& entry, const fs::path& original)
{
    if (original == entry.oldPosition)
        return true;
    const QVariant recorded = entry.raw.value(QStringLiteral("oldPosition"));
    return recorded.typeId() == QMetaType::QString && recorded.toString().contains(QChar::ReplacementCharacter)
           && platform::pathText(original) == recorded.toString();
}

bool wasPutBackOnPossibleCopy(const KZUndoFile::Entry& entry)
{
    const QVariant mark = entry.raw.value(QString::fromLatin1(kPutBackOnPossibleCopyKey));
    return mark.typeId() == QMetaType::Bool && mark.toBool();
}

bool isBackByItsDisk(const KZUndoFile::Entry& entry, const RecordSource& source)
{
    if (!entry.valid)
        return false;
    const auto target = platform::bookmarkTarget(entry.currPosition);
    if (!target || !isFreeName(target->path))
        return false;
    const auto st = platform::statPath(entry.oldPosition, false);
    if (!st)
        return false;
    const DiskAnswer place
        = judgeDisk(target->identity.disk(), source, quint64(st->device), platform::fileSystemQueryOf(entry.oldPosition));
    return proveBackAt(target->identity, *st, entry.oldPosition) == Proof::Proved
           && provedByItsDisk(*target, trashDiskOf(*target, source), place, *st, entry.oldPosition);
}

bool isListed(const KZUndoFile::Entry& entry, const RecordSource& source)
{
    if (!entry.valid || !wasPutBackOnPossibleCopy(entry))
        return true;
    const auto target = platform::bookmarkTarget(entry.currPosition);
    return target && isRecordsOwnItem(entry, *target, source);
}

Answer whereIs(const KZUndoFile::Entry& entry, const RecordSource& source, Seen* seen)
{
    Answer answer;
    answer.oldPosition = entry.oldPosition;
    if (!entry.valid)
        return answer;
    // By identity only: another item now under the same Trash name must
    // never be taken for it.
    const std::optional<platform::BookmarkTarget> target = platform::bookmarkTarget(entry.currPosition);
    answer.target = target;
    if (target)
        answer.trashed = target->path;
    // Kept for the disk itself: looked at only where a Trash holds that
    // record's own item at its name again.
    if (wasPutBackOnPossibleCopy(entry) && (!target || !isRecordsOwnItem(entry, *target, source))) {
        answer.where = isProvedDone(entry, target, source, seen) ? Where::KeptDone : Where::KeptAside;
        return answer;
    }
    if (!target) {
        // Damaged beyond reading: nothing finds its item, and nothing is
        // concluded of it.
        answer.where = Where::Unusable;
        return answer;
    }
    auto resolved = platform::resolveBookmark(entry.currPosition);
    if (!resolved || resolved->path == target->path)
        if (auto own = renumberedInItsTrash(entry, *target, source)) {
            resolved = std::move(own);
            answer.renumbered = true;
        }
    auto now = resolved ? platform::statPath(resolved->path, false) : std::nullopt;
    // A later file may have been given the freed inode in the Trash: the
    // birth time tells it from the item that left.
    if (resolved && target->identity.canProve() && !answer.renumbered
        && (!now
            || proveItem(target->identity, source, *now, platform::fileSystemQueryOf(resolved->path),
                         platform::folderGenerationQueryOf(resolved->path))
                   != Proof::Proved)) {
        if (isChangedInTrash(entry, *target, *resolved, now, source)) {
            // Only what was seen: a change, or nothing that could show one
            // either way.
            answer.where = target->identity.canBeToldAt(*now, platform::folderGenerationQueryOf(resolved->path))
                               ? Where::Changed
                               : Where::NotChecked;
            return answer;
        }
        resolved.reset();
    }
    if (!resolved) {
        answer = unresolved(entry, *target, source, std::move(answer));
        if (answer.where == Where::NotConnected)
            answer = remounted(entry, *target, source, seen, std::move(answer));
        return answer;
    }
    // A reference that names no item in a Trash was never a Trash
    // removal's: nothing to put back, and nothing said gone.
    if (!platform::isInTrash(resolved->path))
        return answer;
    // Inode numbers are reused at once on many file systems: a file trashed
    // later may carry the recorded identity. Its .trashinfo still names
    // where that file came from. Proved the item, in a Trash, it is never
    // gone: what it lacks is the record that it may go back.
    const auto info = platform::readTrashInfo(resolved->path);
    if (!info || !sameOldPosition(entry, info->originalPath)) {
        answer.where = Where::Changed;
        return answer;
    }
    quint64 trashDevice = 0;
    const DiskAnswer trashDisk = trashDiskOf(*target, RecordSource{}, &trashDevice);
    answer.where = Where::InTrash;
    answer.trashed = resolved->path;
    answer.oldPosition = info->originalPath;
    answer.now = now;
    answer.onPossibleCopy = trashDisk == DiskAnswer::SameOrCopy || trashDisk == DiskAnswer::Twin;
    answer.recordOnItsTrashDisk = trashDevice != 0 && trashDevice == source.device;
    return answer;
}

std::optional<fs::path> provedInTrash(const QByteArray& bookmark, const fs::path& oldPosition)
{
    const auto target = platform::bookmarkTarget(bookmark);
    const auto resolved = platform::resolveBookmark(bookmark);
    if (!target || !resolved || !target->identity.canProve())
        return std::nullopt;
    const auto now = platform::statPath(resolved->path, false);
    if (!now
        || !target->identity.isSameItem(*now, platform::fileSystemQueryOf(resolved->path),
                                        platform::folderGenerationQueryOf(resolved->path))
        || !platform::isInTrash(resolved->path))
        return std::nullopt;
    const auto info = platform::readTrashInfo(resolved->path);
    if (!info || info->originalPath != oldPosition)
        return std::nullopt;
    return resolved->path;
}

// ---- Undo ----------------------------------------------------------------------------

MovedWhere whyNotAt(DiskAnswer answer)
{
    switch (answer) {
    case DiskAnswer::Same:
        return MovedWhere::Gone;
    case DiskAnswer::SameOrCopy:
        return MovedWhere::OnPossibleCopy;
    case DiskAnswer::Twin:
        return MovedWhere::Twin;
    case DiskAnswer::Different:
    case DiskAnswer::Unknown:
        break;
    }
    return MovedWhere::NotConnected;
}

DiskAnswer diskAnswerAt(const fs::path& place, const platform::DiskIdentity& disk)
{
    fs::path existing = place;
    std::optional<platform::FileStat> st = platform::statPath(existing, false);
    while (!st && existing.has_relative_path()) {
        existing = existing.parent_path();
        st = platform::statPath(existing, false);
    }
    if (!st)
        return DiskAnswer::Different;
    return disk.judge(quint64(st->device), platform::fileSystemQueryOf(existing, *st));
}

MovedWhere whereMovedIs(const KZUndoMovedItem& item, const platform::AnchoredItem& at, const platform::FileStat& now,
                        const RecordSource& source)
{
    const int dirfd = at.parentFd();
    const std::string& name = at.name();
    if (!item.identity)
        return MovedWhere::AtDestination;
    const Proof proof = proveItem(*item.identity, source, now, platform::fileSystemQueryAt(dirfd, name),
                                  platform::folderGenerationQueryAt(dirfd, name));
    if (proof == Proof::Proved)
        return MovedWhere::AtDestination;
    // A copy is described whole, every entry beneath it: on a disk that
    // numbers its files anew, a folder copy without a birth time is proved
    // by that, where its own date says nothing.
    if (proof == Proof::NotProved && item.isCopy && item.copyIdentity
        && item.copyIdentity->prove(at.procPath()) == Proof::Proved)
        return MovedWhere::AtDestination;
    // Another disk given its disk's old number, or one not proved to be its
    // disk: the item is on the disk that is not there. On its disk, or one
    // that may be a copy of it, what is there and is not proved different
    // (a disk that numbers its files anew, a file without a birth time
    // whose date moved) may be the item; a stranger there says the item is
    // gone only on the disk itself.
    const DiskAnswer disk
        = judgeDisk(item.identity->disk(), source, quint64(now.device), platform::fileSystemQueryAt(dirfd, name));
    const bool onItsDisk = disk == DiskAnswer::Same || disk == DiskAnswer::SameOrCopy;
    return onItsDisk && proof == Proof::NotProved ? MovedWhere::Unproved : whyNotAt(disk);
}

bool isBackAtOldPlace(const KZUndoMovedItem& item)
{
    if (item.isCopy) {
        const fs::path folder = item.placedIn.empty() ? item.currPosition.parent_path() : item.placedIn;
        return isFreeName(folder / item.currPosition.filename()) && platform::statPath(item.oldPosition, false);
    }
    if (!item.identity || item.oldPosition.empty())
        return false;
    const auto st = platform::statPath(item.oldPosition, false);
    if (!st)
        return false;
    const platform::FileSystemQuery fileSystem = platform::fileSystemQueryOf(item.oldPosition);
    const platform::GenerationQuery generation = platform::folderGenerationQueryOf(item.oldPosition);
    Proof proof = item.identity->prove(*st, fileSystem, generation);
    // A file system whose numbers do not last may give the item a new one
    // as it moves back, within the same mount: there it is proved by all
    // but its number.
    if (proof != Proof::Proved && st->inode != item.identity->inode && fileSystem && !fileSystem().inodesLast) {
        platform::FileIdentity renumbered = *item.identity;
        renumbered.inode = st->inode;
        proof = renumbered.prove(*st, fileSystem, generation);
    }
    // Moved back by this undo, with the date the move back gave it.
    if (proof != Proof::Proved && item.backModified && item.identity->modified
        && *item.backModified != *item.identity->modified) {
        platform::FileIdentity stamped = *item.identity;
        stamped.modified = item.backModified;
        if (st->inode != stamped.inode && fileSystem && !fileSystem().inodesLast)
            stamped.inode = st->inode;
        proof = stamped.prove(*st, fileSystem, generation);
    }
    return proof == Proof::Proved;
}

std::optional<fs::path> remountedTop(const fs::path& recordedTop, const platform::DiskIdentity& disk,
                                     const std::function<bool(const fs::path& top)>& holds, DiskAnswer* seenElsewhere)
{
    // Only where the recorded place shows no longer the disk: the disk
    // itself there is where it is.
    if (const auto st = platform::statPath(recordedTop, false)) {
        const DiskAnswer there = disk.judge(quint64(st->device), platform::fileSystemQueryOf(recordedTop));
        if (there != DiskAnswer::Different && there != DiskAnswer::Unknown)
            return std::nullopt;
    }
    for (const platform::VolumeInfo& volume : platform::mountedVolumes()) {
        // A mount that holds the recorded place held it as a folder of its
        // own, not as the top of the disk recorded there.
        const fs::path inside = recordedTop.lexically_relative(volume.mountPoint);
        if (volume.isNetwork || inside.empty() || !inside.native().starts_with(".."))
            continue;
        const auto st = platform::statPath(volume.mountPoint, false);
        // The top of a mount, not a folder bound from inside one.
        if (!st || quint64(st->device) != quint64(volume.deviceId))
            continue;
        const platform::FileSystemQuery query = platform::fileSystemQueryOf(volume.mountPoint);
        const DiskAnswer answer = disk.judge(quint64(st->device), query);
        if (answer == DiskAnswer::Different || answer == DiskAnswer::Unknown)
            continue;
        // The disk itself is proved by its own hardware identity, read on
        // both sides; what a file system says of itself, or a mount that
        // showed it, is shared by a copy or by another view of one file
        // system, and binds it to its recorded place.
        const platform::DiskMarks marks = query();
        const bool itself = answer == DiskAnswer::Same && disk.volume && marks.volume && *disk.volume == *marks.volume;
        const bool alike = disk.fileSystem && marks.fileSystem && *disk.fileSystem == *marks.fileSystem;
        if (itself && holds(volume.mountPoint))
            return volume.mountPoint;
        if (seenElsewhere && (itself || alike)
            && (*seenElsewhere == DiskAnswer::Different || answer == DiskAnswer::Twin))
            *seenElsewhere = answer == DiskAnswer::Twin ? answer : DiskAnswer::SameOrCopy;
    }
    return std::nullopt;
}

std::optional<KZUndoMovedItem> remountedMove(const KZUndoMovedItem& item, bool* elsewhere)
{
    *elsewhere = false;
    if (!item.identity || item.currPosition.empty())
        return std::nullopt;
    const fs::path lies = item.placedIn.empty() ? item.currPosition : item.placedIn / item.currPosition.filename();
    // The top of the disk's mount is the shortest folder above the item
    // whose place no longer shows the disk and that a mount of the disk
    // now stands for.
    for (fs::path top = lies.root_path(); top != lies;) {
        const fs::path rest = lies.lexically_relative(top);
        if (rest.empty() || rest == ".")
            break;
        platform::DiskAnswer seen = platform::DiskAnswer::Different;
        const auto holds = [&](const fs::path& now) {
            int err = 0;
            const auto at = platform::AnchoredItem::open(now / rest, &err);
            const auto st = at ? at->stat() : std::nullopt;
            return st && whereMovedIs(item, *at, *st) == MovedWhere::AtDestination;
        };
        if (const auto now = remountedTop(top, item.identity->disk(), holds, &seen)) {
            KZUndoMovedItem moved = item;
            const auto under = [&](const fs::path& path) -> std::optional<fs::path> {
                const fs::path inside = path.lexically_relative(top);
                if (path.empty() || inside.empty() || inside.native().starts_with(".."))
                    return std::nullopt;
                return *now / inside;
            };
            moved.currPosition = under(item.currPosition).value_or(item.currPosition);
            if (!item.placedIn.empty())
                moved.placedIn = under(item.placedIn).value_or(item.placedIn);
            // The place it left moves with it only where it left from the
            // same disk.
            if (const auto old = under(item.oldPosition);
                old && item.oldFolderDevice && *item.oldFolderDevice == item.identity->device)
                moved.oldPosition = *old;
            return moved;
        }
        *elsewhere = *elsewhere || seen != platform::DiskAnswer::Different;
        const auto next = rest.begin();
        top /= *next;
    }
    return std::nullopt;
}

OriginalAnswer whereIsOriginal(const KZUndoMovedItem& item, const std::optional<platform::FileStat>& copy,
                               const RecordSource& source)
{
    OriginalAnswer answer;
    std::optional<platform::DiskIdentity> folderDisk;
    if (item.oldFolderDevice)
        folderDisk = platform::DiskIdentity{*item.oldFolderDevice, item.oldFolderFileSystem, item.oldFolderVolume,
                                            item.oldFolderMount};
    const auto original = platform::statPath(item.oldPosition, false);
    if (original && copy && !original->sameItem(*copy)) {
        answer.there = true;
        answer.where = OriginalWhere::AtItsPlace;
        int err = 0;
        answer.place = platform::AnchoredItem::open(item.oldPosition, &err);
        // A file of the same name on another disk mounted in the original's
        // place is not the original: the copy is all there is of it.
        if (answer.place && folderDisk) {
            const auto folder = platform::statAt(answer.place->parentFd(), ".", false);
            const DiskAnswer disk = folder ? judgeDisk(*folderDisk, source, quint64(folder->device),
                                                       platform::fileSystemQueryAt(answer.place->parentFd(), ""))
                                           : DiskAnswer::Different;
            if (disk != DiskAnswer::Same && disk != DiskAnswer::SameOrCopy) {
                answer.place.reset();
                answer.where = disk == DiskAnswer::Twin ? OriginalWhere::Twin : OriginalWhere::NotConnected;
            }
        }
        return answer;
    }
    // The original went away since: an original whose disk is not
    // connected has not gone away, nor has one missing from a disk that
    // may be a copy of its own (the disk itself may hold it still).
    if (folderDisk) {
        switch (diskAnswerAt(item.oldPosition, *folderDisk)) {
        case DiskAnswer::Same:
            break;
        case DiskAnswer::SameOrCopy:
            answer.where = OriginalWhere::OnPossibleCopy;
            break;
        case DiskAnswer::Twin:
            answer.where = OriginalWhere::Twin;
            break;
        case DiskAnswer::Different:
        case DiskAnswer::Unknown:
            answer.where = OriginalWhere::NotConnected;
            break;
        }
    }
    return answer;
}

// ---- Items of a removal killed before it recorded them (the recovery) ----------------

namespace {

platform::DiskIdentity diskOfIntent(const KZPersistentUndoRecord& intent)
{
    return intent.identity ? intent.identity->disk() : platform::DiskIdentity{intent.device};
}

// Whether what lies at the intent's place or folder (`now`) tells where the
// item went: on the item's own disk, as the journal read from `source`
// judges it.
bool tellsItsOwnHistory(const KZPersistentUndoRecord& intent, const RecordSource& source,
                        const platform::FileStat& now, const platform::FileSystemQuery& fileSystemNow)
{
    return judgeDisk(diskOfIntent(intent), source, quint64(now.device), fileSystemNow) == DiskAnswer::Same;
}

} // namespace

bool mayBeTheItem(const KZPersistentUndoRecord& record, const platform::FileStat& now,
                  const platform::FileSystemQuery& fileSystemNow)
{
    // A freed inode goes to the next new file at once: where the record kept
    // more than device and inode, an item proved different (another birth
    // time, kind or disk) is never the item.
    if (record.identity && record.identity->canProve()) {
        // An item of the recorded inode on the recorded disk that cannot be
        // told from the one that left (the journal's line of a folder holds
        // no generation, the move changed its change time; a file changed
        // in the Trash) is listed, where its .trashinfo names its old place.
        // One inode of one disk cannot lie in two places. A birth time or a
        // kind of its own still tells a stranger.
        return record.identity->prove(now, fileSystemNow) != Proof::Different;
    }
    if (record.identity)
        return record.identity->isSameInode(now, fileSystemNow);
    return quint64(now.device) == record.device && now.inode == record.inode;
}

QByteArray bookmarkOfFound(const KZPersistentUndoRecord& record, const fs::path& item)
{
    // On the item's own disk, proved, what lies under its inode at a Trash
    // name whose .trashinfo names its place is the item, changed there
    // maybe. On a disk not proved the item's (only one side tells an
    // identity of it, or it may be a copy) that file may be another one on
    // the item's inode number, which Restore would then put back as the
    // item: the bookmark keeps the identity the item left with, for
    // Restore to prove or keep.
    if (!record.identity)
        return platform::createBookmark(item);
    const auto st = platform::statPath(item, false);
    if (st
        && record.identity->disk().proveDiskOfItem(quint64(st->device), platform::fileSystemQueryOf(item, *st))
               == Proof::Proved
        && record.identity->prove(*st, platform::fileSystemQueryOf(item, *st)) != Proof::Different)
        return platform::createBookmark(item);
    return platform::bookmarkOf(item, *record.identity);
}

IntendedWhere
whereIsIntended(const KZPersistentUndoRecord& intent, const RecordSource& source, bool movedNowhere,
                const std::function<std::vector<std::pair<fs::path, platform::FileStat>>()>& withItsInode,
                fs::path* trashed)
{
    // Nothing says what it was, or the journal says that it never moved.
    if ((intent.device == 0 && intent.inode == 0) || movedNowhere)
        return IntendedWhere::AtItsPlace;
    // Never moved only where that place tells: a byte copy of the disk
    // made before the move shows the item at its old place too.
    if (const auto st = platform::statPath(intent.oldPosition, false);
        st && mayBeTheItem(intent, *st, platform::fileSystemQueryOf(intent.oldPosition))
        && tellsItsOwnHistory(intent, source, *st, platform::fileSystemQueryOf(intent.oldPosition)))
        return IntendedWhere::AtItsPlace;
    // The identity it had before the move, and a .trashinfo naming its old
    // place.
    for (const auto& [item, st] : withItsInode()) {
        if (!mayBeTheItem(intent, st, platform::fileSystemQueryOf(item)))
            continue;
        const auto info = platform::readTrashInfo(item);
        if (info && info->originalPath == intent.oldPosition.lexically_normal()) {
            *trashed = item;
            return IntendedWhere::InTrash;
        }
    }
    // Its folder is still on the disk the item had: every Trash it can
    // have gone to was looked into.
    const fs::path parent = intent.oldPosition.parent_path();
    if (const auto folder = platform::statPath(parent, false);
        folder && folder->isDir() && tellsItsOwnHistory(intent, source, *folder, platform::fileSystemQueryOf(parent)))
        return IntendedWhere::Gone;
    return IntendedWhere::NotKnown;
}

bool isOnIntendedDisk(const KZPersistentUndoRecord& intent, const fs::path& item, const platform::FileStat& now)
{
    return diskOfIntent(intent).proveDiskOfItem(quint64(now.device), platform::fileSystemQueryOf(item)) == Proof::Proved;
}

} // namespace KZItemWhereabouts
