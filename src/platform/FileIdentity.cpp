#include "platform/FileIdentity.h"

#include <climits>
#include <cmath>
#include <string>
#include <unistd.h>

namespace platform {

namespace {

const QString kBirthSecondsKey = QStringLiteral("birthSeconds");
const QString kBirthNanosecondsKey = QStringLiteral("birthNanoseconds");
const QString kSizeKey = QStringLiteral("size");
const QString kModifiedSecondsKey = QStringLiteral("modifiedSeconds");
const QString kModifiedNanosecondsKey = QStringLiteral("modifiedNanoseconds");

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

std::optional<quint64> readNumber(const QVariantMap& map, const QString& key)
{
    return storedUnsigned(map.value(key));
}

std::optional<FileIdentity::Time> readTime(const QVariantMap& map, const QString& secondsKey,
                                           const QString& nanosecondsKey)
{
    const auto seconds = readNumber(map, secondsKey);
    const auto nanoseconds = readNumber(map, nanosecondsKey);
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

FileIdentity FileIdentity::of(const FileStat& st)
{
    FileIdentity identity;
    identity.device = quint64(st.device);
    identity.inode = st.inode;
    if (st.birth) {
        identity.birth = timeOf(*st.birth);
    } else {
        identity.size = st.size;
        identity.modified = timeOf(st.modified);
    }
    return identity;
}

bool FileIdentity::isSameFile(const FileStat& now) const
{
    if (quint64(now.device) != device || now.inode != inode)
        return false;
    if (birth)
        return now.birth && timeOf(*now.birth) == *birth;
    return size && modified && now.size == *size && timeOf(now.modified) == *modified;
}

bool FileIdentity::isSameFolder(const FileStat& now) const
{
    if (quint64(now.device) != device || now.inode != inode)
        return false;
    return !birth || !now.birth || timeOf(*now.birth) == *birth;
}

void FileIdentity::insertInto(QVariantMap& map) const
{
    if (birth)
        insertTime(map, kBirthSecondsKey, kBirthNanosecondsKey, *birth);
    if (size)
        map.insert(kSizeKey, *size);
    if (modified)
        insertTime(map, kModifiedSecondsKey, kModifiedNanosecondsKey, *modified);
}

FileIdentity FileIdentity::readFrom(const QVariantMap& map, quint64 device, quint64 inode)
{
    FileIdentity identity;
    identity.device = device;
    identity.inode = inode;
    identity.birth = readTime(map, kBirthSecondsKey, kBirthNanosecondsKey);
    identity.size = readNumber(map, kSizeKey);
    identity.modified = readTime(map, kModifiedSecondsKey, kModifiedNanosecondsKey);
    return identity;
}

} // namespace platform
