#pragma once

// What the property-list readers share about the binary format and the
// bounds they hold any list to, so that a list one of them takes the other
// takes too.

#include <QString>
#include <QtGlobal>

#include <optional>

namespace platform::plistformat {

// Deep enough for any list this program writes (a saved result nests about
// as deep as the folders it describes), shallow enough for a worker's stack.
inline constexpr int kMaxDepth = 512;
inline constexpr qint64 kReferenceDateMsecs = 978307200000LL; // 2001-01-01T00:00:00Z
// About 30,000 years either side of 2001: far beyond any real date, and well
// inside what QDateTime and a double's whole seconds can hold.
inline constexpr double kMaxDateSeconds = 1e12;

// The unsigned number of `bytes` bytes (at most 8) at `p`, most significant
// first, as the format stores every number, offset and reference.
inline quint64 readBigEndian(const uchar* p, unsigned bytes)
{
    quint64 value = 0;
    for (unsigned i = 0; i < bytes; ++i)
        value = (value << 8) | p[i];
    return value;
}

// The fields of a binary list's trailer.
struct Trailer {
    unsigned offsetSize = 0;
    unsigned refSize = 0;
    quint64 count = 0;
    quint64 top = 0;
    quint64 tableOffset = 0;
};

// The trailer of the `size` bytes at `data` (a binary list from its
// "bplist00" on), checked against them; the damage otherwise.
inline std::optional<QString> readTrailer(const uchar* data, quint64 size, Trailer* t)
{
    // Header, at least one object byte, one offset byte, the trailer.
    if (size < 8 + 1 + 1 + 32)
        return QStringLiteral("the data is truncated");
    const uchar* trailer = data + size - 32;
    t->offsetSize = trailer[6];
    t->refSize = trailer[7];
    t->count = readBigEndian(trailer + 8, 8);
    t->top = readBigEndian(trailer + 16, 8);
    t->tableOffset = readBigEndian(trailer + 24, 8);
    if (t->offsetSize < 1 || t->offsetSize > 8 || t->refSize < 1 || t->refSize > 8)
        return QStringLiteral("the trailer is damaged (field sizes)");
    if (t->count == 0 || t->top >= t->count)
        return QStringLiteral("the trailer is damaged (object count)");
    if (t->tableOffset < 9 || t->tableOffset >= size - 32)
        return QStringLiteral("the trailer is damaged (offset table position)");
    if (t->count > (size - 32 - t->tableOffset) / t->offsetSize)
        return QStringLiteral("the offset table is truncated");
    return std::nullopt;
}

} // namespace platform::plistformat
