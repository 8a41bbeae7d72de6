#pragma once

#include <QtGlobal>

// The disks connected now, as the mount table shows them, each by the
// identity its file system tells.

namespace platform {

// Whether a connected disk other than the one of device number `device`
// tells the file system identity `fileSystem` (DiskMarks::fileSystem): a
// byte copy of a disk, or another disk written from the same image, beside
// it. The mount table is read once per call; each mounted file system is
// asked again only when the table has changed. Network and kernel file
// systems, and FUSE ones not mounted from an image or a device, are never
// asked: they hold no copy of a disk, and a server that does not answer
// would hold the decision.
bool anotherConnectedDiskCarries(quint64 fileSystem, quint64 device);

} // namespace platform
