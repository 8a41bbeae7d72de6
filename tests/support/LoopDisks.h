#pragma once

// Shell steps of the cases that make, attach and mount disk images of their
// own (as root, inside a private mount namespace).

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <cerrno>

#include <dirent.h>
#include <fcntl.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kztest {

// Writes out what the file system holding `path` keeps in memory, that one
// alone: sync() would wait on every file system of the machine, a FUSE one
// whose daemon another test stopped or is taking down among them.
inline void syncDisk(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::syncfs(fd);
    ::close(fd);
}

// Runs `command` in a shell with its output thrown away; true when it
// succeeded.
inline bool shell(const std::string& command)
{
    return std::system((command + " > /dev/null 2>&1").c_str()) == 0;
}

// What `command` prints, without the line ends and spaces at its end.
inline std::string shellOutput(const std::string& command)
{
    std::string text;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe))
            text += buffer;
        ::pclose(pipe);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

// The loop devices attached to an image in `folder` (at any depth), that
// are not on their way out already (marked to go once their last user
// lets go, as a mount's own loop device is). The kernel names an image
// opened in another mount namespace (a case's private one) from the root
// of its file system, not of ours: that name is the folder's path less
// the place its file system is mounted at, so it ends the same. Read from
// sysfs, without opening any device: an open would hold another case's
// device a moment, and keep it from going as that case lets it go.
inline std::vector<std::string> loopDevicesAttachedUnder(const std::string& folder)
{
    std::vector<std::string> found;
    const auto slash = folder.find_last_of('/');
    if (slash == std::string::npos || slash + 1 >= folder.size())
        return found;
    const std::string name = "/" + folder.substr(slash + 1) + "/";
    const auto line = [](const std::string& path) {
        std::string text;
        if (FILE* file = std::fopen(path.c_str(), "r")) {
            char buffer[4096];
            if (std::fgets(buffer, sizeof buffer, file))
                text = buffer;
            std::fclose(file);
        }
        while (!text.empty() && text.back() == '\n')
            text.pop_back();
        return text;
    };
    if (DIR* block = ::opendir("/sys/block")) {
        while (const dirent* entry = ::readdir(block)) {
            const std::string device = entry->d_name;
            if (!device.starts_with("loop"))
                continue;
            const std::string sys = "/sys/block/" + device + "/loop/";
            const std::string file = line(sys + "backing_file");
            const auto at = file.find(name);
            if (at == std::string::npos || line(sys + "autoclear") == "1")
                continue;
            if (folder.ends_with(file.substr(0, at + name.size() - 1)))
                found.push_back("/dev/" + device);
        }
        ::closedir(block);
    }
    return found;
}

// Whether the loop status `info` names the file `st`, by its device and
// inode, whatever path named it.
inline bool namesFile(const loop_info64& info, const struct stat& st)
{
    return info.lo_device == st.st_dev && info.lo_inode == st.st_ino;
}

// Whether loop `device` is attached to the file `image`.
inline bool isAttachedTo(const std::string& device, const std::string& image)
{
    struct stat st {};
    if (::stat(image.c_str(), &st) != 0)
        return false;
    const int fd = ::open(device.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    loop_info64 info{};
    const bool attached = ::ioctl(fd, LOOP_GET_STATUS64, &info) == 0;
    ::close(fd);
    return attached && namesFile(info, st);
}

// Lets loop `device` go while it is attached to `image`, never once
// another case has the number: a device let go already (by the kernel once
// its last user went, where it was marked so) hands its number to the next
// case that asks, and a case that lets a number go twice, or late, would
// take that case's disk from under it. Without `image` (a number read from
// the kernel a moment ago), whatever the device holds now is let go. A
// device still held (a mount, a FUSE daemon) goes once its last user lets
// go. A refusal is tried again for up to five seconds, while the same file
// is behind it. True when the device holds none of it any more.
inline bool detachLoopDevice(const std::string& device, const std::string& image = {})
{
    struct stat expected {};
    if (!image.empty() && ::stat(image.c_str(), &expected) != 0)
        return true; // nothing left that it could hold
    const int fd = ::open(device.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT || errno == ENXIO;
    bool done = false;
    loop_info64 first{};
    if (::ioctl(fd, LOOP_GET_STATUS64, &first) != 0) {
        done = errno == ENXIO; // attached to nothing
    } else if (!image.empty() && !namesFile(first, expected)) {
        done = true; // another case's now
    } else {
        for (int attempt = 0; attempt < 50 && !done; ++attempt) {
            if (::ioctl(fd, LOOP_CLR_FD, 0) == 0 || errno == ENXIO) {
                done = true;
                break;
            }
            ::usleep(100000);
            loop_info64 now{};
            if (::ioctl(fd, LOOP_GET_STATUS64, &now) != 0 || now.lo_device != first.lo_device
                || now.lo_inode != first.lo_inode)
                done = true; // gone, or another's now
        }
    }
    ::close(fd);
    return done;
}

} // namespace kztest
