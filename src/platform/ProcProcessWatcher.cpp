#include "platform/ProcProcessWatcher.h"

#include "platform/Paths.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

namespace {

// The file name of the executable that `pid` runs; empty when it cannot be
// read (another user's process, a kernel thread, a zombie).
QString executableName(pid_t pid)
{
    char link[64];
    std::snprintf(link, sizeof link, "/proc/%d/exe", int(pid));
    char target[4096];
    const ssize_t n = ::readlink(link, target, sizeof target - 1);
    if (n <= 0)
        return {};
    std::string path(target, size_t(n));
    static constexpr std::string_view deleted = " (deleted)";
    if (path.ends_with(deleted))
        path.resize(path.size() - deleted.size());
    const auto slash = path.rfind('/');
    return platform::pathText(slash == std::string::npos ? path : path.substr(slash + 1));
}

int openPidfd(pid_t pid)
{
#ifdef SYS_pidfd_open
    return int(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    errno = ENOSYS;
    return -1;
#endif
}

} // namespace

ProcProcessWatcher::ProcProcessWatcher(std::vector<WatchedApplication> applications,
                                       std::chrono::milliseconds scanInterval)
    : applications_(std::move(applications))
    , interval_(scanInterval)
    , wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
}

ProcProcessWatcher::~ProcProcessWatcher()
{
    std::thread last;
    {
        std::lock_guard lock(mutex_);
        ++generation_;
        running_ = false;
        observers_.clear();
        last = std::move(thread_);
    }
    wake();
    if (last.joinable()) {
        if (last.get_id() == std::this_thread::get_id())
            last.detach();
        else
            last.join();
    }
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

Subscription ProcProcessWatcher::observe(Callback callback)
{
    std::thread old;
    int id = 0;
    {
        std::lock_guard lock(mutex_);
        id = nextId_++;
        observers_[id] = std::make_shared<Observer>(Observer{std::move(callback)});
        // Without an application to look for, a scan could never find one.
        if (!running_ && !applications_.empty()) {
            running_ = true;
            old = std::move(thread_);
            // Taken here, so that whatever starts after observe() returned
            // is a launch.
            thread_ = std::thread([this, generation = generation_, baseline = scan()] { run(generation, baseline); });
        }
    }
    // A thread of an earlier generation is winding down on its own.
    if (old.joinable()) {
        if (old.get_id() == std::this_thread::get_id())
            old.detach();
        else
            old.join();
    }
    return Subscription([this, id] { remove(id); });
}

void ProcProcessWatcher::remove(int id)
{
    // Waits for a delivery on the watcher's thread; on that thread itself
    // (a callback cancelling) the lock is already held.
    std::lock_guard delivery(deliveryMutex_);
    std::lock_guard lock(mutex_);
    const auto found = observers_.find(id);
    if (found == observers_.end())
        return;
    found->second->active = false;
    observers_.erase(found);
    if (observers_.empty() && running_) {
        running_ = false;
        ++generation_;
        wake();
    }
}

bool ProcProcessWatcher::isScanning() const
{
    std::lock_guard lock(mutex_);
    return running_;
}

bool ProcProcessWatcher::isRunning(const QString& identifier)
{
    if (identifier.isEmpty())
        return false;
    for (const auto& [pid, application] : scan()) {
        if (application->identifier == identifier)
            return true;
    }
    return false;
}

const WatchedApplication* ProcProcessWatcher::applicationOf(pid_t pid) const
{
    const QString name = executableName(pid);
    if (name.isEmpty())
        return nullptr;
    for (const WatchedApplication& application : applications_) {
        if (application.executableNames.contains(name))
            return &application;
    }
    return nullptr;
}

std::map<pid_t, const WatchedApplication*> ProcProcessWatcher::scan() const
{
    std::map<pid_t, const WatchedApplication*> found;
    if (applications_.empty())
        return found;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return found;
    while (const dirent* entry = ::readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0')
            continue;
        if (const WatchedApplication* application = applicationOf(pid_t(pid)))
            found.emplace(pid_t(pid), application);
    }
    ::closedir(proc);
    return found;
}

void ProcProcessWatcher::wake()
{
    if (wakeFd_ >= 0) {
        const quint64 one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
    }
}

bool ProcProcessWatcher::deliver(quint64 generation, const std::vector<ProcessEvent>& events)
{
    std::lock_guard delivery(deliveryMutex_);
    for (const ProcessEvent& event : events) {
        std::vector<std::shared_ptr<Observer>> observers;
        {
            std::lock_guard lock(mutex_);
            if (generation_ != generation)
                return false;
            for (const auto& [id, observer] : observers_)
                observers.push_back(observer);
        }
        for (const auto& observer : observers) {
            bool active = false;
            {
                std::lock_guard lock(mutex_);
                active = observer->active;
            }
            if (active)
                observer->callback(event);
        }
    }
    std::lock_guard lock(mutex_);
    return generation_ == generation;
}

void ProcProcessWatcher::run(quint64 generation, const std::map<pid_t, const WatchedApplication*>& baseline)
{
    using Clock = std::chrono::steady_clock;
    std::map<pid_t, Tracked> tracked;
    auto event = [](ProcessEvent::Kind kind, pid_t pid, const WatchedApplication* application) {
        return ProcessEvent{kind, application->identifier, application->name, pid};
    };
    // Answers false when the process has already ended.
    auto track = [this, &tracked](pid_t pid, const WatchedApplication* application) {
        const int fd = openPidfd(pid);
        if (fd < 0 && errno == ESRCH)
            return false;
        // The pid may have been reused between the scan and the pidfd. An
        // executable that cannot be read is the same process, ended already:
        // its pidfd is readable at once.
        if (fd >= 0 && !executableName(pid).isEmpty() && applicationOf(pid) != application) {
            ::close(fd);
            return false;
        }
        tracked[pid] = Tracked{application, fd};
        return true;
    };

    std::vector<ProcessEvent> ended;
    for (const auto& [pid, application] : baseline) {
        if (!track(pid, application))
            ended.push_back(event(ProcessEvent::Kind::Terminated, pid, application));
    }
    if (!ended.empty() && !deliver(generation, ended))
        return;
    auto nextScan = Clock::now() + interval_;

    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (generation_ != generation)
                break;
        }
        std::vector<pollfd> fds{{wakeFd_, POLLIN, 0}};
        for (const auto& [pid, entry] : tracked) {
            if (entry.pidfd >= 0)
                fds.push_back({entry.pidfd, POLLIN, 0});
        }
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(nextScan - Clock::now());
        const int ready = ::poll(fds.data(), fds.size(), int(std::max<qint64>(0, wait.count())));
        if (ready < 0 && errno != EINTR)
            break;

        std::vector<ProcessEvent> events;
        if (fds[0].revents & POLLIN) {
            quint64 count = 0;
            [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &count, sizeof count);
        }
        for (size_t i = 1; i < fds.size(); ++i) {
            if (!fds[i].revents)
                continue;
            for (auto it = tracked.begin(); it != tracked.end(); ++it) {
                if (it->second.pidfd != fds[i].fd)
                    continue;
                events.push_back(event(ProcessEvent::Kind::Terminated, it->first, it->second.application));
                ::close(it->second.pidfd);
                tracked.erase(it);
                break;
            }
        }
        if (Clock::now() >= nextScan) {
            const auto current = scan();
            for (const auto& [pid, application] : current) {
                if (tracked.contains(pid))
                    continue;
                events.push_back(event(ProcessEvent::Kind::Launched, pid, application));
                if (!track(pid, application))
                    events.push_back(event(ProcessEvent::Kind::Terminated, pid, application));
            }
            // Without pidfds the scan is the only witness of an exit.
            for (auto it = tracked.begin(); it != tracked.end();) {
                if (it->second.pidfd < 0 && !current.contains(it->first)) {
                    events.push_back(event(ProcessEvent::Kind::Terminated, it->first, it->second.application));
                    it = tracked.erase(it);
                } else {
                    ++it;
                }
            }
            nextScan = Clock::now() + interval_;
        }
        if (!events.empty() && !deliver(generation, events))
            break;
    }
    for (const auto& [pid, entry] : tracked) {
        if (entry.pidfd >= 0)
            ::close(entry.pidfd);
    }
}

} // namespace platform
