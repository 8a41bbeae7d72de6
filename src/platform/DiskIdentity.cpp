#include "platform/DiskIdentity.h"

#include "platform/ConnectedDisks.h"

namespace platform {

DiskAnswer DiskIdentity::judge(quint64 deviceNow, const FileSystemQuery& fileSystemNow) const
{
    if (!fileSystemNow)
        return deviceNow == device ? DiskAnswer::Same : DiskAnswer::Different;
    const DiskMarks now = fileSystemNow();
    // What the disk itself is, then what its file system says: different
    // there is different, whatever else is equal.
    if (volume && now.volume && *volume != *now.volume)
        return DiskAnswer::Different;
    if (fileSystem && now.fileSystem && *fileSystem != *now.fileSystem)
        return DiskAnswer::Different;
    // The very mount the record was made through, in this boot and this
    // namespace: it has shown this disk ever since.
    const bool sameMount = mount && now.mount && *mount == *now.mount;
    // A file system identity read on one side only (root reads a header
    // that its user may not) leaves the disk's content unproved, unless the
    // very mount has shown it since.
    if (volume && now.volume)
        return fileSystem.has_value() == now.fileSystem.has_value() || sameMount ? DiskAnswer::Same
                                                                                 : DiskAnswer::SameOrCopy;
    if (sameMount)
        return DiskAnswer::Same;
    // On a disk that numbers its files anew, a side that read the disk's
    // marks but could not read its file system (its user may not open the
    // device that root reads) is taken as the other side's identity.
    // A record without any mark read none, and is judged below.
    const bool readUnidentified
        = !now.inodesLast && (fileSystem ? !now.fileSystem : now.fileSystem && (mount || volume));
    // Two connected disks of one identity: which is the disk is not known.
    if ((fileSystem && now.fileSystem) || readUnidentified)
        return anotherConnectedDiskCarries(fileSystem ? *fileSystem : *now.fileSystem, deviceNow) ? DiskAnswer::Twin
                                                                                                  : DiskAnswer::SameOrCopy;
    // Neither identity was read then, nor is now (FUSE naming no device):
    // the disk at the recorded place may be the disk, and is never taken
    // for one that is not connected.
    if (!fileSystem && !volume && !now.fileSystem && !now.volume)
        return DiskAnswer::SameOrCopy;
    // One side tells and the other does not: another number is another
    // disk, and an equal one proves nothing.
    if (deviceNow != device)
        return DiskAnswer::Different;
    return DiskAnswer::Unknown;
}

DiskAnswer DiskIdentity::judgeFromRecordOn(quint64 recordDevice, quint64 deviceNow,
                                           const FileSystemQuery& fileSystemNow) const
{
    const DiskAnswer answer = judge(deviceNow, fileSystemNow);
    // A twin too: whichever of the two the record lies on, it is that one's.
    const bool itsOwn = answer == DiskAnswer::SameOrCopy || answer == DiskAnswer::Twin;
    return itsOwn && recordDevice != 0 && deviceNow == recordDevice ? DiskAnswer::Same : answer;
}

Proof DiskIdentity::proveSameDisk(quint64 deviceNow, const FileSystemQuery& fileSystemNow) const
{
    switch (judge(deviceNow, fileSystemNow)) {
    case DiskAnswer::Same:
        return Proof::Proved;
    case DiskAnswer::Different:
        return Proof::Different;
    case DiskAnswer::SameOrCopy:
    case DiskAnswer::Unknown:
    case DiskAnswer::Twin:
        break;
    }
    return Proof::NotProved;
}

Proof DiskIdentity::proveDiskOfItem(quint64 deviceNow, const FileSystemQuery& fileSystemNow) const
{
    switch (judge(deviceNow, fileSystemNow)) {
    case DiskAnswer::Same:
    case DiskAnswer::SameOrCopy:
        return Proof::Proved;
    case DiskAnswer::Different:
        return Proof::Different;
    case DiskAnswer::Unknown:
    case DiskAnswer::Twin:
        break;
    }
    return Proof::NotProved;
}

DiskIdentity diskAt(int dirfd, const char* name, const FileStat& st)
{
    const FileSystemFacts facts = fileSystemAt(dirfd, name);
    return {quint64(st.device), facts.identity, facts.volume, facts.mount};
}

std::optional<DiskIdentity> diskOf(const std::filesystem::path& path)
{
    const auto st = statPath(path, false);
    if (!st)
        return std::nullopt;
    const FileSystemFacts facts = fileSystemOf(path);
    return DiskIdentity{quint64(st->device), facts.identity, facts.volume, facts.mount};
}

} // namespace platform
