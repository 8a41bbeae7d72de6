#pragma once

// The usual USB stick as the cases make it where the kernel has neither
// driver: exFAT through exfat-fuse on a loop device, or vfat through fusefat
// (on its image, or on a loop device). Made, mounted, unplugged and plugged
// back, and taken down, each step bounded: a case that fails on the way
// leaves no daemon, no mount and no loop device behind. Used inside the
// case's private mount namespace (runWithPrivateMounts), as root.

#include "LoopDisks.h"

#include <dirent.h>
#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>

namespace kztest {

// A mount or a tool that does not answer within this ends the step as
// failed; a healthy one takes a fraction of it even under a loaded run.
inline constexpr int kFuseToolSeconds = 10;

// How long a step waits for a daemon to end, or for a busy mount or device
// to be let go, before it forces or gives up.
inline constexpr auto kFuseLetGo = std::chrono::seconds(3);

enum class FuseKind { Exfat, Vfat };

inline const char* nameOf(FuseKind kind)
{
    return kind == FuseKind::Exfat ? "exFAT through exfat-fuse" : "vfat through fusefat";
}

// A loop device attached to an image for as long as this lives: detached
// at its end, whatever the case did meanwhile.
class LoopDevice {
public:
    LoopDevice() = default;
    explicit LoopDevice(const std::filesystem::path& image)
        : name_(shellOutput("timeout -k 2 " + std::to_string(kFuseToolSeconds) + " losetup -f --show "
                            + image.native())),
          image_(image)
    {
    }
    ~LoopDevice() { detach(); }
    LoopDevice(LoopDevice&& other) noexcept
        : name_(std::exchange(other.name_, {})), image_(std::exchange(other.image_, {}))
    {
    }
    LoopDevice& operator=(LoopDevice&& other) noexcept
    {
        if (this != &other) {
            detach();
            name_ = std::exchange(other.name_, {});
            image_ = std::exchange(other.image_, {});
        }
        return *this;
    }

    bool attached() const { return !name_.empty(); }
    const std::string& name() const { return name_; }
    // Lets the device go now; true when it is free (or none was held).
    bool detach()
    {
        if (name_.empty())
            return true;
        const bool done = detachLoopDevice(name_, image_);
        name_.clear();
        return done;
    }

private:
    std::string name_;
    std::string image_;
};

namespace fusedetail {

// Whether process `pid` still runs (a zombie has ended).
inline bool running(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text))
        return false;
    const auto close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z';
}

// The daemon serving the mount at `at`: the process, other than this one,
// given that folder among its arguments. Each case mounts in a folder of
// its own, so no other case's daemon answers.
inline pid_t daemonServing(const std::filesystem::path& at)
{
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return 0;
    pid_t found = 0;
    while (const dirent* entry = ::readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end || pid == ::getpid())
            continue;
        std::ifstream cmdline(std::string("/proc/") + entry->d_name + "/cmdline");
        std::string argument;
        bool named = false;
        while (!named && std::getline(cmdline, argument, '\0'))
            named = argument == at.native();
        if (named) {
            found = pid_t(pid);
            break;
        }
    }
    ::closedir(proc);
    return found;
}

// Waits a moment for `pid` to end; true when it has.
inline bool awaitEnd(pid_t pid, std::chrono::milliseconds bound)
{
    const auto end = std::chrono::steady_clock::now() + bound;
    while (running(pid)) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

} // namespace fusedetail

// Unmounts what is mounted at `at` as a user unplugs its disk; 0, or -1
// with errno. A mount that stays busy a moment is tried again. The FUSE
// daemon that served it, if any, is waited for: it writes out what it still
// holds as it ends, so its loop device let go any sooner takes those writes
// with it (EBUSY when it does not end).
inline int unplugMount(const std::filesystem::path& at)
{
    const pid_t daemon = fusedetail::daemonServing(at);
    int unmounted = -1;
    for (int attempt = 0; attempt < 100 && unmounted != 0; ++attempt)
        if ((unmounted = ::umount2(at.c_str(), 0)) != 0 && errno == EBUSY)
            ::usleep(20 * 1000);
    if (unmounted == 0 && daemon > 0 && !fusedetail::awaitEnd(daemon, std::chrono::seconds(kFuseToolSeconds))) {
        errno = EBUSY;
        return -1;
    }
    return unmounted;
}

// A stick of `kind` made afresh in `folder` (its image stick.img, mounted at
// folder/mnt). Unplugging unmounts it and waits for its daemon to end;
// plugging in mounts it again at the same place, on the same device.
class FuseStick {
public:
    struct Options {
        // Given to the driver's -o, beside what the kind needs.
        std::string mount;
        // vfat only: fusefat on a loop device of the image, naming it,
        // rather than on the image.
        bool vfatOnLoopDevice = false;
        std::string size = "64M";
        // Given to mkfs (a vfat volume serial: "-i 1111AAAA").
        std::string format;
    };

    FuseStick(FuseKind kind, const std::filesystem::path& folder) : FuseStick(kind, folder, Options{}) {}
    // With `mount` given to the driver's -o.
    FuseStick(FuseKind kind, const std::filesystem::path& folder, const std::string& mount)
        : FuseStick(kind, folder, withMountOptions(mount))
    {
    }
    FuseStick(FuseKind kind, const std::filesystem::path& folder, Options options)
        : kind_(kind)
        , options_(std::move(options))
        , image_(folder / "stick.img")
        , at_(folder / "mnt")
    {
        std::error_code ec;
        std::filesystem::create_directories(at_, ec);
        made_ = !ec && shell("truncate -s " + options_.size + " " + image_.native())
            && shell((kind_ == FuseKind::Exfat ? "mkfs.exfat " : "mkfs.vfat ") + options_.format + " "
                     + image_.native());
        if (made_ && (kind_ == FuseKind::Exfat || options_.vfatOnLoopDevice)) {
            device_ = LoopDevice(image_);
            made_ = device_.attached();
        }
        made_ = made_ && plugIn();
        // A case that finds it unmade ends its child at once, past every
        // destructor: nothing may be left held.
        if (!made_)
            takeDown();
    }
    ~FuseStick() { takeDown(); }
    FuseStick(const FuseStick&) = delete;
    FuseStick& operator=(const FuseStick&) = delete;

    // Made and mounted; a case that finds it not skips as unavailable.
    bool made() const { return made_; }
    FuseKind kind() const { return kind_; }
    const std::filesystem::path& at() const { return at_; }
    const std::filesystem::path& image() const { return image_; }
    // The loop device; empty for vfat on its image.
    const std::string& device() const { return device_.name(); }

    // Mounted at its place. A daemon of the last mount that still holds the
    // image is waited for first.
    bool plugIn()
    {
        if (mounted_)
            return true;
        endDaemon();
        const std::string& source = device_.attached() ? device_.name() : image_.native();
        std::string command = "timeout -k 2 " + std::to_string(kFuseToolSeconds) + " ";
        if (kind_ == FuseKind::Exfat) {
            command += "mount.exfat-fuse " + (options_.mount.empty() ? "" : "-o " + options_.mount + " ");
        } else {
            // Named by its image or device, as a user's mount names its
            // device: the volume serial read there tells the disk.
            command += "fusefat -o rw+,fsname=" + source + (options_.mount.empty() ? "" : "," + options_.mount) + " ";
        }
        command += source + " " + at_.native();
        // The kernel may hold the device of the last mount a moment longer.
        for (int attempt = 0; attempt < 5 && !mounted_; ++attempt) {
            if (attempt)
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
            mounted_ = shell(command);
        }
        daemon_ = mounted_ ? fusedetail::daemonServing(at_) : 0;
        return mounted_;
    }

    // Unmounted as a user unplugs it, what it holds in memory written out
    // first; its daemon has ended when this answers true. A mount that stays
    // busy a moment (a folder being read) is tried again.
    bool unplug()
    {
        if (!mounted_)
            return true;
        syncDisk(at_);
        const auto end = std::chrono::steady_clock::now() + kFuseLetGo;
        while (::umount2(at_.c_str(), 0) != 0) {
            if (errno != EBUSY || std::chrono::steady_clock::now() >= end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        mounted_ = false;
        return endDaemon();
    }

    // Unplugged and plugged back at the same place, nothing touched.
    bool replug() { return unplug() && plugIn(); }

private:
    static Options withMountOptions(const std::string& mount)
    {
        Options options;
        options.mount = mount;
        return options;
    }

    // Unmounted first, in this namespace, so that the daemon ends on its
    // own; one that does not is ended; then the loop device goes.
    void takeDown()
    {
        unplug();
        if (mounted_ && ::umount2(at_.c_str(), MNT_DETACH) == 0)
            mounted_ = false;
        endDaemon();
        device_.detach();
    }

    // Waits for the daemon of the last mount to end, and ends it where it
    // does not; true when none is left.
    bool endDaemon()
    {
        if (!daemon_)
            return true;
        const pid_t pid = std::exchange(daemon_, 0);
        if (fusedetail::awaitEnd(pid, kFuseLetGo))
            return true;
        ::kill(pid, SIGTERM);
        if (fusedetail::awaitEnd(pid, std::chrono::seconds(1)))
            return false;
        ::kill(pid, SIGKILL);
        fusedetail::awaitEnd(pid, std::chrono::seconds(1));
        return false;
    }

    FuseKind kind_;
    Options options_;
    std::filesystem::path image_;
    std::filesystem::path at_;
    LoopDevice device_;
    pid_t daemon_ = 0;
    bool made_ = false;
    bool mounted_ = false;
};

} // namespace kztest
