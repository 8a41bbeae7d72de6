#pragma once

#include "platform/FileIdentity.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

#include <filesystem>
#include <functional>
#include <optional>

namespace platform {

// A name taken ahead of a move so that the move can never replace what is
// there: a Trash's .trashinfo, and on a file system that offers neither the
// no-replace rename nor hard links (exFAT, vfat), an empty file or folder at
// the destination that the rename then takes the place of. A process killed
// between the two leaves the reservation behind, holding the name for good
// unless whoever keeps a record of the move names it: a watcher installed on
// a thread hears of every reservation made on that thread, before it is made
// (a kill right after the creation leaves nothing unnamed) and once it is.
struct ReservationIntent {
    std::filesystem::path place;
    // The item that is to take the place; empty for a .trashinfo.
    std::filesystem::path item;
    bool folder = false;
    // The name is taken by a hard link to `item` itself (a second name that
    // goes once the move or the swap is done), not by an empty entry.
    bool link = false;
    // The clock when it was announced: what is made there after is younger.
    timespec announced{};
    // A file moved over its placeholder: its size and modification time,
    // which the move gives back after the rename (a disk may date the entry
    // a rename writes by the clock).
    std::optional<quint64> size;
    std::optional<timespec> modified;
    // Of a copy (ReservationWatcher::willCopy): one already made, proved the
    // copy, about to be taken apart, rather than one about to be made.
    bool takenApart = false;
};

class ReservationWatcher {
public:
    virtual ~ReservationWatcher() = default;
    // Right before a name is reserved: a record names it before it exists.
    virtual void willReserve(const ReservationIntent& intent) = 0;
    // `place` now holds the reservation, an item of `identity`, made empty
    // (a .trashinfo holds its text).
    virtual void reserved(const std::filesystem::path& place, const FileIdentity& identity) = 0;
    // The move the reservation at `place` was made for did not happen, and
    // the reservation is about to be taken away: a record that says so
    // before it goes tells a recovery that nothing took that name.
    virtual void givenUp(const std::filesystem::path& place) { (void)place; }
    // Right before a copy of `intent.item` is made at `intent.place`, which
    // is whole only once `copied` says so: a kill in between leaves it cut
    // short, and it would pass for the item.
    virtual void willCopy(const ReservationIntent& intent) { (void)intent; }
    virtual void copied(const std::filesystem::path& place) { (void)place; }
};

// Installs a watcher on the calling thread for its lifetime (the one before
// it is back afterwards).
class WatchingReservations {
public:
    explicit WatchingReservations(ReservationWatcher& watcher);
    ~WatchingReservations();
    WatchingReservations(const WatchingReservations&) = delete;
    WatchingReservations& operator=(const WatchingReservations&) = delete;

private:
    ReservationWatcher* previous_;
};

// For the code that reserves: before making the entry `name` of the open
// folder `dirfd` (AT_FDCWD with an absolute or working-folder name) for the
// item `itemName` of `itemDirfd` (null for a .trashinfo), a folder or an
// empty file; and once it is made. Nothing happens while no watcher is
// installed.
// `movedFile`: the file about to be moved over the placeholder, as it is.
void reservingName(int dirfd, const char* name, int itemDirfd = AT_FDCWD, const char* itemName = nullptr,
                   bool folder = false, bool link = false, const struct stat* movedFile = nullptr);
void nameReserved(int dirfd, const char* name);
// For the code that copies: before making the copy `name` of `dirfd` of the
// item `itemName` of `itemDirfd` (a folder or a file), and once it is whole.
// `takenApart`: the copy is there, proved made, and is about to be deleted.
void copyingInto(int dirfd, const char* name, int itemDirfd, const char* itemName, bool folder,
                 bool takenApart = false);
void copyMade(int dirfd, const char* name);
// For the code that reserves: before it takes away the reservation `name`
// of `dirfd` because the move it was made for did not happen.
void reservationGivenUp(int dirfd, const char* name);

// For tests: heard right after each reservation (and after the watcher, if
// one is installed, was told of it), before the move that takes its place,
// so that a test can kill the process at that moment.
void setAfterReservationHook(std::function<void(const std::filesystem::path& place)> hook);

} // namespace platform
