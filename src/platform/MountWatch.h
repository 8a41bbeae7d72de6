#pragma once

#include <QtGlobal>

#include <functional>
#include <optional>
#include <span>
#include <string>

#include <sys/types.h>

// A file system this process has watched without a break since it first
// saw it: the proof that a disk is the very same, never let go, on a kernel
// whose mount IDs are handed out again (before Linux 6.8). An inotify watch
// on a folder of it tells when the file system goes (unmounted for good, the
// folder deleted), and, unlike an open descriptor, never keeps the user's
// eject from unmounting it.

namespace platform {

// The mark of the file system on `device` while it stays watched; a new
// one, never given before in this process, once it was let go. `folderOn`
// names a folder on it (a mount point), asked only when no watch holds the
// device; it is opened only to check that it is on `device` and to watch
// it, never asked of its content, and closed at once. None where the folder
// cannot be watched (the user may not read it, or the watches ran out).
// The mark hashes a random number of this process, so another run's, or a
// forked child's, never equals it.
std::optional<quint64> watchedFileSystemMark(dev_t device, const std::function<std::optional<std::string>()>& folderOn);

// What the queue of watches told, as read from it (a run of inotify_event
// records). The queue is read before every answer; tests hand it what no
// test can make the kernel say (an overflow of the queue).
void takeMountWatchEvents(std::span<const char> events);

} // namespace platform
