#include "platform/FileIdentity.h"

#include <cmath>
#include <string>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace platform {

namespace {

const QString kBirthSecondsKey = QStringLiteral("birthSeconds");
const QString kBirthNanosecondsKey = QStringLiteral("birthNanoseconds");
const QString kSizeKey = QStringLiteral("size");
const QString kModifiedSecondsKey = QStringLiteral("modifiedSeconds");
const QString kModifiedNanosecondsKey = QStringLiteral("modifiedNanoseconds");
const QString kFileSystemKey = QStringLiteral("fileSystem");
const QString kVolumeKey = QStringLiteral("volume");
const QString kMountKey = QStringLiteral("mount");
const QString kFolderKey = QStringLiteral("folder");
const QString kGenerationKey = QStringLiteral("generation");
const QString kChangedSecondsKey = QStringLiteral("changedSeconds");
const QString kChangedNanosecondsKey = QStringLiteral("changedNanoseconds");

FileIdentity::Time timeOf(const timespec& t)
{
    return {qint64(t.tv_sec), qint64(t.tv_nsec)};
}

// Stored unsigned, as every number of a record is; a time before 1970 keeps
// its bits.
void insertTime(QVariantMap& map, const QString& secondsKey, const QString& nanosecondsKey, const FileIdentity::Time& t)
{
    map.insert(secondsKey, quint64(t.seconds));
    map.insert(nanosecondsKey, quint64(t.nanoseconds));
}

using Lookup = std::function<QVariant(const QString& key)>;

std::optional<quint64> readNumber(const Lookup& value, const QString& key)
{
    return storedUnsigned(value(key));
}

std::optional<FileIdentity::Time> readTime(const Lookup& value, const QString& secondsKey,
                                           const QString& nanosecondsKey)
{
    const auto seconds = readNumber(value, secondsKey);
    const auto nanoseconds = readNumber(value, nanosecondsKey);
    if (!seconds || !nanoseconds)
        return std::nullopt;
    return FileIdentity::Time{qint64(*seconds), qint64(*nanoseconds)};
}

Proof proveTime(const std::optional<timespec>& now, const FileIdentity::Time& recorded)
{
    if (!now)
        return Proof::NotProved;
    return timeOf(*now) == recorded ? Proof::Proved : Proof::Different;
}

} // namespace

std::optional<quint64> folderGenerationAt(int dirfd, const char* name)
{
    const bool folderItself = !name || !*name;
    const int fd = ::openat(dirfd, folderItself ? "." : name,
                            O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    // The kernel writes an int where the request's type says long.
    union {
        long wide;
        int narrow;
    } version{};
    const bool ok = ::ioctl(fd, FS_IOC_GETVERSION, &version) == 0;
    ::close(fd);
    // A file system that answers 0 for every inode tells nothing.
    if (!ok || version.narrow == 0)
        return std::nullopt;
    return quint64(quint32(version.narrow));
}

GenerationQuery folderGenerationQueryAt(int dirfd, std::string name)
{
    return [dirfd, name = std::move(name)] { return folderGenerationAt(dirfd, name.c_str()); };
}

GenerationQuery folderGenerationQueryOf(std::filesystem::path path)
{
    return [path = std::move(path)] { return folderGenerationAt(AT_FDCWD, path.c_str()); };
}

std::optional<quint64> storedUnsigned(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::ULongLong:
    case QMetaType::UInt:
        return value.toULongLong();
    case QMetaType::LongLong:
    case QMetaType::Int:
        // Stored unsigned, and read back as signed by a reader that keeps
        // the bits: a negative number is the same 64 bits.
        return quint64(value.toLongLong());
    case QMetaType::Double: {
        const double d = value.toDouble();
        if (!(d >= 0) || d >= 18446744073709551616.0 || std::floor(d) != d)
            return std::nullopt;
        return static_cast<quint64>(d);
    }
    default:
        return std::nullopt;
    }
}

FileIdentity FileIdentity::of(const FileStat& st, const FileSystemFacts& fileSystem)
{
    FileIdentity identity;
    identity.device = quint64(st.device);
    identity.inode = st.inode;
    identity.fileSystem = fileSystem.identity;
    identity.volume = fileSystem.volume;
    identity.mount = fileSystem.mount;
    identity.folder = st.isDir();
    if (st.birth && fileSystem.keepsBirthAcrossRename) {
        identity.birth = timeOf(*st.birth);
    } else {
        identity.size = st.size;
        identity.modified = timeOf(st.modified);
        if (st.isDir())
            identity.changed = timeOf(st.changed);
    }
    return identity;
}

FileIdentity FileIdentity::of(int dirfd, const char* name, const FileStat& st, const FileSystemFacts& fileSystem)
{
    FileIdentity identity = of(st, fileSystem);
    if (st.isDir() && !identity.birth)
        identity.generation = folderGenerationAt(dirfd, name);
    return identity;
}

std::optional<FileIdentity> FileIdentity::at(int dirfd, const char* name)
{
    const bool folderItself = !name || !*name;
    const auto st = statAt(dirfd, folderItself ? "." : name, false);
    if (!st)
        return std::nullopt;
    return of(dirfd, name, *st, fileSystemAt(dirfd, name));
}

std::optional<FileIdentity> FileIdentity::ofPath(const std::filesystem::path& path)
{
    const auto st = statPath(path, false);
    if (!st)
        return std::nullopt;
    return of(AT_FDCWD, path.c_str(), *st, fileSystemOf(path));
}

FileIdentity FileIdentity::completedFromScan(const std::filesystem::path& path, FileIdentity scanned,
                                             const FileSystemFacts* scanDisk)
{
    if (scanDisk) {
        scanned.fileSystem = scanDisk->identity;
        scanned.volume = scanDisk->volume;
        scanned.mount = scanDisk->mount;
    }
    const std::filesystem::path parent = path.has_parent_path() ? path.parent_path() : ".";
    const int folder = ::open(parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return scanned;
    const std::string name = path.filename().native();
    FileSystemFacts facts;
    if (scanDisk) {
        facts = *scanDisk;
    } else if (const auto folderStat = statAt(folder, ".", false);
               folderStat && quint64(folderStat->device) == scanned.device) {
        facts = fileSystemAt(folder, "");
        scanned.fileSystem = facts.identity;
        scanned.volume = facts.volume;
        scanned.mount = facts.mount;
    } else {
        ::close(folder);
        return scanned;
    }
    const auto now = name.empty() ? std::nullopt : statAt(folder, name.c_str(), false);
    // Under the scanned number, or under another one where the scan's marks
    // prove the disk there (it came back while another device held its old
    // number); a disk that is not proved gives nothing.
    const bool onItsDisk = now
        && (quint64(now->device) == scanned.device
            || (scanDisk
                && scanned.disk().proveDiskOfItem(quint64(now->device), fileSystemQueryAt(folder, name))
                       == Proof::Proved));
    const bool wasFolder = scanned.folder.value_or(false);
    // The very item, as it was read: a birth time taken from anything
    // else would vouch for a stranger on the freed inode.
    const bool unchanged = onItsDisk && now->inode == scanned.inode && now->isDir() == wasFolder && scanned.modified
                           && timeOf(now->modified) == *scanned.modified
                           && (wasFolder || (scanned.size && now->size == *scanned.size));
    if (unchanged && now->birth && facts.keepsBirthAcrossRename) {
        scanned.birth = timeOf(*now->birth);
        scanned.size.reset();
        scanned.modified.reset();
    } else if (unchanged && wasFolder) {
        scanned.generation = folderGenerationAt(folder, name.c_str());
    }
    ::close(folder);
    return scanned;
}

bool FileIdentity::isSameInode(const FileStat& now, const FileSystemQuery& fileSystemNow) const
{
    return now.inode == inode && disk().proveDiskOfItem(quint64(now.device), fileSystemNow) == Proof::Proved;
}

namespace {

// Of an item on the recorded disk, with the recorded inode.
Proof proveFile(const FileIdentity& identity, const FileStat& now)
{
    if (identity.birth)
        return proveTime(now.birth, *identity.birth);
    return identity.size && identity.modified && now.size == *identity.size
                   && timeOf(now.modified) == *identity.modified
               ? Proof::Proved
               : Proof::NotProved;
}

Proof proveFolder(const FileIdentity& identity, const FileStat& now, const GenerationQuery& generationNow)
{
    if (identity.birth && now.birth)
        return proveTime(now.birth, *identity.birth);
    if (identity.generation && generationNow)
        if (const std::optional<quint64> current = generationNow())
            return *current == *identity.generation ? Proof::Proved : Proof::Different;
    // Any entry made or taken since changes it, so a folder the user changed
    // is left too: its inode may be a new folder's. A change time in whole
    // seconds (ext4 with 128-byte inodes beneath an overlay, FUSE) is shared
    // by a new folder made in the same second on the freed inode, and
    // proves nothing.
    if (identity.changed && identity.changed->nanoseconds != 0 && timeOf(now.changed) == *identity.changed)
        return Proof::Proved;
    return Proof::NotProved;
}

} // namespace

Proof FileIdentity::prove(const FileStat& now, const FileSystemQuery& fileSystemNow,
                          const GenerationQuery& generationNow) const
{
    if (now.inode != inode) {
        // A file system that numbers its files anew at every mount, seen
        // under another mount than the record's, holds the item under
        // another number: there it is proved by all but its number.
        if (!fileSystemNow)
            return Proof::Different;
        const DiskMarks marks = fileSystemNow();
        if (marks.inodesLast || (mount && marks.mount == mount)
            || disk().proveDiskOfItem(quint64(now.device), fileSystemNow) != Proof::Proved)
            return Proof::Different;
        FileIdentity renumbered = *this;
        renumbered.inode = now.inode;
        return renumbered.proveOnItsDisk(now, generationNow);
    }
    // On a disk that nothing tells from a byte copy of it, the item is
    // proved by what it is itself.
    const Proof disk = this->disk().proveDiskOfItem(quint64(now.device), fileSystemNow);
    if (disk == Proof::Different)
        return disk;
    // A birth time or kind of its own tells a stranger on any disk, a copy
    // of the item's disk too.
    const Proof item = proveOnItsDisk(now, generationNow);
    return item == Proof::Different ? item : disk == Proof::Proved ? item : Proof::NotProved;
}

bool FileIdentity::isProvedBeyondSizeAndDate(const FileStat& now, const GenerationQuery& generationNow) const
{
    if (proveOnItsDisk(now, generationNow) != Proof::Proved)
        return false;
    if (birth && now.birth)
        return true;
    if (!folder.value_or(now.isDir()) || !generation || !generationNow)
        return false;
    const std::optional<quint64> current = generationNow();
    return current && *current == *generation;
}

Proof FileIdentity::proveOnItsDisk(const FileStat& now, const GenerationQuery& generationNow) const
{
    if (now.inode != inode)
        return Proof::Different;
    const bool wasFolder = folder.value_or(now.isDir());
    if (wasFolder != now.isDir())
        return Proof::Different;
    return wasFolder ? proveFolder(*this, now, generationNow) : proveFile(*this, now);
}

bool FileIdentity::canBeToldAt(const FileStat& now, const GenerationQuery& generationNow) const
{
    if (!folder.value_or(now.isDir()))
        return birth || (size && modified);
    if (birth && now.birth)
        return true;
    if (generation && generationNow && generationNow())
        return true;
    return changed && changed->nanoseconds != 0 && now.changed.tv_nsec != 0;
}

bool FileIdentity::isSameFile(const FileStat& now, const FileSystemQuery& fileSystemNow) const
{
    return isSameInode(now, fileSystemNow) && proveFile(*this, now) == Proof::Proved;
}

bool FileIdentity::isSameFolder(const FileStat& now, const FileSystemQuery& fileSystemNow,
                                const GenerationQuery& generationNow) const
{
    return isSameInode(now, fileSystemNow) && proveFolder(*this, now, generationNow) == Proof::Proved;
}

bool FileIdentity::isSameItem(const FileStat& now, const FileSystemQuery& fileSystemNow,
                              const GenerationQuery& generationNow) const
{
    return prove(now, fileSystemNow, generationNow) == Proof::Proved;
}

void FileIdentity::insertInto(QVariantMap& map) const
{
    if (birth)
        insertTime(map, kBirthSecondsKey, kBirthNanosecondsKey, *birth);
    if (size)
        map.insert(kSizeKey, *size);
    if (modified)
        insertTime(map, kModifiedSecondsKey, kModifiedNanosecondsKey, *modified);
    if (fileSystem)
        map.insert(kFileSystemKey, *fileSystem);
    if (volume)
        map.insert(kVolumeKey, *volume);
    if (mount)
        map.insert(kMountKey, *mount);
    if (folder)
        map.insert(kFolderKey, *folder);
    if (generation)
        map.insert(kGenerationKey, *generation);
    if (changed)
        insertTime(map, kChangedSecondsKey, kChangedNanosecondsKey, *changed);
}

FileIdentity FileIdentity::readFrom(const QVariantMap& map, quint64 device, quint64 inode)
{
    return readWith([&map](const QString& key) { return map.value(key); }, device, inode);
}

FileIdentity FileIdentity::readWith(const Lookup& value, quint64 device, quint64 inode)
{
    FileIdentity identity;
    identity.device = device;
    identity.inode = inode;
    identity.birth = readTime(value, kBirthSecondsKey, kBirthNanosecondsKey);
    identity.size = readNumber(value, kSizeKey);
    identity.modified = readTime(value, kModifiedSecondsKey, kModifiedNanosecondsKey);
    identity.fileSystem = readNumber(value, kFileSystemKey);
    identity.volume = readNumber(value, kVolumeKey);
    identity.mount = readNumber(value, kMountKey);
    const QVariant folder = value(kFolderKey);
    if (folder.typeId() == QMetaType::Bool)
        identity.folder = folder.toBool();
    identity.generation = readNumber(value, kGenerationKey);
    identity.changed = readTime(value, kChangedSecondsKey, kChangedNanosecondsKey);
    return identity;
}

} // namespace platform
