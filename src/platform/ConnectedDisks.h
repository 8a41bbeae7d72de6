#pragma once

#include <QtGlobal>

// The disks connected now, as the mount table shows them, each by the
// identity its file system tells.

namespace platform {

// Whether a connected disk other than the one of device number `device`
// tells the file system identity `fileSystem` (DiskMarks::fileSystem): a
// byte copy of a disk, or another disk written from the same image, beside
// it. The mount table is read again, and each mounted file system asked
// for its identity alone, only once the table's watch saw a change. Network and kernel file
// systems, and FUSE ones not mounted from an image or a device, are never
// asked: they hold no copy of a disk, and a server that does not answer
// would hold the decision; neither is a mount reached through a FUSE one.
bool anotherConnectedDiskCarries(quint64 fileSystem, quint64 device);

} // namespace platform
