#pragma once

#include "platform/FileStat.h"

#include <QVariantMap>
#include <QtGlobal>

#include <filesystem>
#include <optional>

namespace platform {

// Who a file is: its device, inode and birth time; where the file system
// keeps no birth time, its size and modification time as well. A file system
// hands a freed inode number to the next file made at once, so device and
// inode alone never prove that an item is the one recorded.
struct FileIdentity {
    struct Time {
        qint64 seconds = 0;
        qint64 nanoseconds = 0;
        bool operator==(const Time&) const = default;
    };
    quint64 device = 0;
    quint64 inode = 0;
    std::optional<Time> birth;
    // Only when there is no birth time.
    std::optional<quint64> size;
    std::optional<Time> modified;

    static FileIdentity of(const FileStat& st);
    // More than device and inode was recorded.
    bool canProve() const { return birth || (size && modified); }
    // The same file: device, inode and birth time, or, where none was
    // recorded, size and modification time. An identity of device and inode
    // alone proves nothing and answers false.
    bool isSameFile(const FileStat& now) const;
    // The same folder: device and inode, and the birth time where both have
    // one (a folder's size and date change with its entries).
    bool isSameFolder(const FileStat& now) const;

    // The keys added to a stored record (device and inode are the record's
    // own); a record without them reads as an identity of device and inode
    // alone.
    void insertInto(QVariantMap& map) const;
    static FileIdentity readFrom(const QVariantMap& map, quint64 device, quint64 inode);

    bool operator==(const FileIdentity&) const = default;
};

// A whole number of a stored record (a bookmark, an identity): an integer
// as it is, a real only when it is whole and fits (a crafted 1e30 or
// infinity names no device or time); anything else is no number.
std::optional<quint64> storedUnsigned(const QVariant& value);

} // namespace platform
