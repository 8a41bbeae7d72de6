#include "removal/KZKilledRestore.h"

#include "platform/AnchoredItem.h"
#include "platform/Bookmark.h"
#include "platform/FileStat.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/Trash.h"
#include "removal/KZItemWhereabouts.h"
#include "removal/KZUndoFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <set>

namespace fs = std::filesystem;

namespace KZKilledRestore {

namespace {

namespace where = KZItemWhereabouts;

// What an undo file lists now of items still in the Trash: the Trash name
// and old place of each entry that is not one kept for the disk itself
// after its item went back. Unread (torn, or no longer ours) it lists
// everything, and nothing it may name is touched.
struct Listed {
    bool read = false;
    std::set<std::pair<fs::path, fs::path>> inTrash;
};

Listed listedBy(const fs::path& file)
{
    Listed listed;
    int err = 0;
    if (!platform::statPath(file, false, &err)) {
        listed.read = err == ENOENT; // rewritten with nothing left, and gone
        return listed;
    }
    const auto contents = KZUndoFile::read(file);
    if (!contents)
        return listed;
    listed.read = true;
    for (const KZUndoFile::Entry& entry : contents->entries) {
        // An entry that fails its checks puts nothing back, and names
        // nothing to keep.
        if (!entry.valid || where::wasPutBackOnPossibleCopy(entry))
            continue;
        if (const auto target = platform::bookmarkTarget(entry.currPosition))
            listed.inTrash.emplace(target->path, entry.oldPosition);
    }
    return listed;
}

bool removeAnchored(const fs::path& path, bool (*isOurs)(const platform::FileStat&))
{
    const auto anchor = platform::AnchoredItem::open(path);
    const auto st = anchor ? anchor->stat() : std::nullopt;
    return st && isOurs(*st) && ::unlinkat(anchor->parentFd(), anchor->name().c_str(), 0) == 0;
}

bool isRegular(const platform::FileStat& st)
{
    return st.isRegular();
}

// A disk that dates the entry a rename writes by the clock (FAT through
// FUSE) has the moved file's own dates given back right after the move: a
// kill in between leaves the item back at its place dated by the move.
// Given back here, where the journal announced that very move, the item's
// Trash name is free and its .trashinfo names the place.
void redateMovedBack(const KZRemovalJournal::Restoring& restoring, const KZRemovalJournal::Contents& contents,
                     const timespec& lastWritten)
{
    const auto target = platform::bookmarkTarget(restoring.currPosition);
    if (!target)
        return;
    const auto intent = std::find_if(contents.intendedReservations.begin(), contents.intendedReservations.end(),
                                     [&](const platform::ReservationIntent& announced) {
                                         return !announced.link && !announced.folder
                                             && announced.place == restoring.oldPosition
                                             && announced.item == target->path;
                                     });
    int err = 0;
    if (intent == contents.intendedReservations.end() || platform::statPath(target->path, false, &err) || err != ENOENT)
        return;
    const auto info = platform::readTrashInfo(target->path);
    if (!info || info->originalPath != restoring.oldPosition)
        return;
    if (KZRemovalJournal::giveBackDatesOfKilledMove(restoring.oldPosition, target->identity, intent->announced,
                                                    lastWritten))
        platform::logLine(QStringLiteral("Gave %1 back the date it had before a Restore that was killed moved it")
                              .arg(platform::pathText(restoring.oldPosition)));
}

} // namespace

int finish(const fs::path& trashDir, const KZRemovalJournal::Contents& contents, quint64 journalDevice,
           const timespec& lastWritten, const std::function<void()>& step)
{
    int removed = 0;
    const auto heard = [&](const fs::path& path, const char* what) {
        platform::logLine(QStringLiteral("Removed %1, %2").arg(platform::pathText(path), QString::fromLatin1(what)));
        ++removed;
        if (step)
            step();
    };
    // Made by a rewrite that never ended, or renamed over its undo file
    // since (then the name is free).
    for (const fs::path& temporary : contents.rewrites)
        if (removeAnchored(temporary, isRegular))
            heard(temporary, "left by a rewrite of an undo file that was killed");

    std::map<std::string, Listed> files;
    where::Seen seen;
    for (const KZRemovalJournal::Restoring& restoring : contents.restoring) {
        redateMovedBack(restoring, contents, lastWritten);
        auto [file, fresh] = files.try_emplace(restoring.undoFile);
        if (fresh)
            file->second = listedBy(platform::trashFilesFolder(trashDir) / restoring.undoFile);
        const auto target = platform::bookmarkTarget(restoring.currPosition);
        if (!target || !file->second.read || file->second.inTrash.count({target->path, restoring.oldPosition}))
            continue;
        const KZUndoFile::Entry entry = KZUndoFile::entryFor(restoring.currPosition, restoring.oldPosition);
        const where::RecordSource source{journalDevice,
                                         KZUndoFile::secondsOfFileName(platform::pathText(restoring.undoFile))};
        const where::Answer at = where::whereIs(entry, source, &seen);
        if (at.where != where::Where::BackInPlace)
            continue;
        // Nothing under its Trash name, and the .trashinfo names its place:
        // never one that someone's item now under that name needs.
        int err = 0;
        if (platform::statPath(at.trashed, false, &err) || err != ENOENT)
            continue;
        const auto info = platform::readTrashInfo(at.trashed);
        const auto trash = platform::trashOfTrashedItem(at.trashed);
        if (!info || !trash || !where::sameOldPosition(entry, info->originalPath))
            continue;
        const fs::path infoFile = platform::trashInfoPath(*trash, at.trashed.filename().native());
        if (removeAnchored(infoFile, isRegular))
            heard(infoFile, "of an item a Restore that was killed had put back");
    }
    return removed;
}

} // namespace KZKilledRestore
