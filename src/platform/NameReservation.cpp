#include "platform/NameReservation.h"

#include "platform/FileOps.h"

#include <fcntl.h>

namespace platform {

namespace {

thread_local ReservationWatcher* t_watcher = nullptr;

std::function<void(const std::filesystem::path&)>& afterReservationHook()
{
    static std::function<void(const std::filesystem::path&)> hook;
    return hook;
}

std::filesystem::path placeOf(int dirfd, const char* name)
{
    // Named as the system knows its folder now, every link on the way
    // resolved: a recovery reaches it again without following one.
    const std::filesystem::path entry(name);
    if (dirfd == AT_FDCWD) {
        std::error_code ec;
        const std::filesystem::path absolute
            = (entry.is_absolute() ? entry : std::filesystem::current_path(ec) / entry).lexically_normal();
        const std::filesystem::path folder = std::filesystem::canonical(absolute.parent_path(), ec);
        return ec ? absolute : folder / absolute.filename();
    }
    const auto folder = pathOfOpenFolder(dirfd);
    return folder ? (*folder / entry).lexically_normal() : std::filesystem::path();
}

} // namespace

WatchingReservations::WatchingReservations(ReservationWatcher& watcher)
    : previous_(t_watcher)
{
    t_watcher = &watcher;
}

WatchingReservations::~WatchingReservations()
{
    t_watcher = previous_;
}

void reservingName(int dirfd, const char* name, int itemDirfd, const char* itemName, bool folder, bool link,
                   const struct stat* movedFile)
{
    if (!t_watcher)
        return;
    ReservationIntent intent;
    intent.place = placeOf(dirfd, name);
    if (itemName)
        intent.item = placeOf(itemDirfd, itemName);
    intent.folder = folder;
    intent.link = link;
    if (movedFile) {
        intent.size = quint64(movedFile->st_size);
        intent.modified = movedFile->st_mtim;
    }
    ::clock_gettime(CLOCK_REALTIME, &intent.announced);
    t_watcher->willReserve(intent);
}

void copyingInto(int dirfd, const char* name, int itemDirfd, const char* itemName, bool folder, bool takenApart)
{
    if (!t_watcher)
        return;
    ReservationIntent intent;
    intent.place = placeOf(dirfd, name);
    intent.item = placeOf(itemDirfd, itemName);
    intent.folder = folder;
    intent.takenApart = takenApart;
    ::clock_gettime(CLOCK_REALTIME, &intent.announced);
    t_watcher->willCopy(intent);
}

void copyMade(int dirfd, const char* name)
{
    if (t_watcher)
        t_watcher->copied(placeOf(dirfd, name));
}

void nameReserved(int dirfd, const char* name)
{
    const auto& hook = afterReservationHook();
    if (!t_watcher && !hook)
        return;
    const std::filesystem::path place = placeOf(dirfd, name);
    if (t_watcher) {
        const std::optional<FileIdentity> identity = FileIdentity::at(dirfd, name);
        if (!place.empty() && place.is_absolute() && identity)
            t_watcher->reserved(place, *identity);
    }
    if (hook)
        hook(place);
}

void reservationGivenUp(int dirfd, const char* name)
{
    if (!t_watcher)
        return;
    const std::filesystem::path place = placeOf(dirfd, name);
    if (!place.empty() && place.is_absolute())
        t_watcher->givenUp(place);
}

void setAfterReservationHook(std::function<void(const std::filesystem::path&)> hook)
{
    afterReservationHook() = std::move(hook);
}

} // namespace platform
