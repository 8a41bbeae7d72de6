#pragma once

// Shell steps of the cases that make, attach and mount disk images of their
// own (as root, inside a private mount namespace).

#include <cstdio>
#include <cstdlib>
#include <string>

#include <fcntl.h>
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

// Lets a loop device go. Right after its unmount the kernel or udev may
// still hold it for a moment: tried again for up to five seconds.
inline bool detachLoopDevice(const std::string& device)
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (shell("losetup -d " + device))
            return true;
        ::usleep(100000);
    }
    return false;
}

} // namespace kztest
