#include "platform/FileIdentity.h"

#include <cmath>
#include <string>

namespace platform {

namespace {

const QString kBirthSecondsKey = QStringLiteral("birthSeconds");
const QString kBirthNanosecondsKey = QStringLiteral("birthNanoseconds");
const QString kSizeKey = QStringLiteral("size");
const QString kModifiedSecondsKey = QStringLiteral("modifiedSeconds");
const QString kModifiedNanosecondsKey = QStringLiteral("modifiedNanoseconds");
const QString kFileSystemKey = QStringLiteral("fileSystem");
const QString kFolderKey = QStringLiteral("folder");

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

} // namespace

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
    identity.folder = st.isDir();
    if (st.birth && fileSystem.keepsBirthAcrossRename) {
        identity.birth = timeOf(*st.birth);
    } else {
        identity.size = st.size;
        identity.modified = timeOf(st.modified);
    }
    return identity;
}

std::optional<FileIdentity> FileIdentity::at(int dirfd, const char* name)
{
    const bool folderItself = !name || !*name;
    const auto st = statAt(dirfd, folderItself ? "." : name, false);
    if (!st)
        return std::nullopt;
    return of(*st, fileSystemAt(dirfd, name));
}

std::optional<FileIdentity> FileIdentity::ofPath(const std::filesystem::path& path)
{
    const auto st = statPath(path, false);
    if (!st)
        return std::nullopt;
    return of(*st, fileSystemOf(path));
}

bool FileIdentity::isSameInode(const FileStat& now, const FileSystemQuery& fileSystemNow) const
{
    return now.inode == inode && disk().isSameDisk(quint64(now.device), fileSystemNow);
}

bool FileIdentity::isSameFile(const FileStat& now, const FileSystemQuery& fileSystemNow) const
{
    if (!isSameInode(now, fileSystemNow))
        return false;
    if (birth)
        return now.birth && timeOf(*now.birth) == *birth;
    return size && modified && now.size == *size && timeOf(now.modified) == *modified;
}

bool FileIdentity::isSameFolder(const FileStat& now, const FileSystemQuery& fileSystemNow) const
{
    if (!isSameInode(now, fileSystemNow))
        return false;
    return !birth || !now.birth || timeOf(*now.birth) == *birth;
}

bool FileIdentity::isSameItem(const FileStat& now, const FileSystemQuery& fileSystemNow) const
{
    if (folder.value_or(now.isDir()))
        return now.isDir() && isSameFolder(now, fileSystemNow);
    return !now.isDir() && isSameFile(now, fileSystemNow);
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
    if (folder)
        map.insert(kFolderKey, *folder);
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
    const QVariant folder = value(kFolderKey);
    if (folder.typeId() == QMetaType::Bool)
        identity.folder = folder.toBool();
    return identity;
}

} // namespace platform
