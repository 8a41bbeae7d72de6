#include "platform/MountWatch.h"

#include "platform/MountTable.h"
#include "platform/StableHash.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace platform {

namespace {

struct Watch {
    int wd = -1;
    quint64 mark = 0;
};

// One queue for the whole process, read without waiting.
struct Watches {
    std::mutex mutex;
    int queue = -1;
    pid_t pid = 0;
    quint64 processNumber = 0;
    quint64 serial = 0; // counts every watch made, never goes back
    std::map<dev_t, Watch> byDevice;
    // A device whose folder could not be watched, by the mount table's
    // generation then: not tried again until something was mounted or
    // unmounted.
    std::map<dev_t, quint64> unwatchable;
};

Watches& watches()
{
    static Watches instance;
    return instance;
}

quint64 randomNumber()
{
    quint64 number = 0;
    if (::getrandom(&number, sizeof number, GRND_NONBLOCK) == ssize_t(sizeof number) && number)
        return number;
    // Early in a boot: what sets this process apart from others all the same.
    return stableHash(std::to_string(::getpid()) + ':'
                      + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ':'
                      + std::to_string(quintptr(&number)));
}

// The kernel drops a watch itself once its folder or file system went.
void endWatch(Watches& w, int wd)
{
    for (auto it = w.byDevice.begin(); it != w.byDevice.end(); ++it)
        if (it->second.wd == wd) {
            w.byDevice.erase(it);
            return;
        }
}

void endEveryWatch(Watches& w)
{
    for (const auto& [device, watch] : w.byDevice)
        ::inotify_rm_watch(w.queue, watch.wd);
    w.byDevice.clear();
}

void take(Watches& w, std::span<const char> events)
{
    size_t at = 0;
    while (at + sizeof(inotify_event) <= events.size()) {
        inotify_event event{};
        std::memcpy(&event, events.data() + at, sizeof event);
        at += sizeof event + event.len;
        // Events were lost: any watch may have ended unseen.
        if (event.mask & IN_Q_OVERFLOW)
            endEveryWatch(w);
        else if (event.mask & (IN_UNMOUNT | IN_IGNORED | IN_DELETE_SELF))
            endWatch(w, event.wd);
    }
}

// Under the mutex: the queue of this process, with every event it holds
// taken. A forked child shares its parent's queue and must neither read
// its parent's events nor show its parent's marks: it starts anew.
bool readQueue(Watches& w)
{
    if (w.pid != ::getpid()) {
        if (w.queue >= 0)
            ::close(w.queue); // the child's copy only
        w.queue = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        w.pid = ::getpid();
        w.processNumber = randomNumber();
        w.byDevice.clear();
        w.unwatchable.clear();
    }
    if (w.queue < 0)
        return false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(w.queue, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return got == 0 || errno == EAGAIN || errno == EWOULDBLOCK;
        take(w, std::span<const char>(buffer, size_t(got)));
    }
}

// Watches the folder `folder` where it lies on `device`; its watch number.
std::optional<int> watchFolder(int queue, const std::string& folder, dev_t device)
{
    // O_PATH, and a statx that keeps to what the kernel holds: nothing here
    // waits on a FUSE daemon or lists the folder.
    const int fd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct statx sx {};
    std::optional<int> wd;
    if (::statx(fd, "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, STATX_TYPE, &sx) == 0
        && ::makedev(sx.stx_dev_major, sx.stx_dev_minor) == device) {
        // Through the descriptor: the very folder just checked, whatever
        // is mounted at its path meanwhile.
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        const int added = ::inotify_add_watch(queue, self.c_str(), IN_DELETE_SELF | IN_ONLYDIR);
        if (added >= 0)
            wd = added;
    }
    ::close(fd);
    return wd;
}

} // namespace

std::optional<quint64> watchedFileSystemMark(dev_t device, const std::function<std::optional<std::string>()>& folderOn)
{
    Watches& w = watches();
    std::lock_guard guard(w.mutex);
    if (!readQueue(w))
        return std::nullopt;
    if (const auto found = w.byDevice.find(device); found != w.byDevice.end())
        return found->second.mark;
    const quint64 generation = mountTableGeneration();
    if (const auto failed = w.unwatchable.find(device); failed != w.unwatchable.end() && failed->second == generation)
        return std::nullopt;
    const std::optional<std::string> folder = folderOn();
    const std::optional<int> wd = folder ? watchFolder(w.queue, *folder, device) : std::nullopt;
    if (!wd) {
        w.unwatchable[device] = generation;
        return std::nullopt;
    }
    w.unwatchable.erase(device);
    const quint64 mark = stableHash("watch:" + std::to_string(w.processNumber) + ':' + std::to_string(++w.serial));
    w.byDevice[device] = Watch{*wd, mark};
    return mark;
}

void takeMountWatchEvents(std::span<const char> events)
{
    Watches& w = watches();
    std::lock_guard guard(w.mutex);
    if (readQueue(w))
        take(w, events);
}

} // namespace platform
