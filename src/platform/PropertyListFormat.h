#pragma once

// What the property-list readers share about the binary format and the
// bounds they hold any list to, so that a list one of them takes the other
// takes too.

#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>
#include <QtGlobal>

#include <optional>
#include <vector>

namespace platform::plistformat {

// Deep enough for any list this program writes (a saved result nests about
// as deep as the folders it describes), shallow enough for a worker's stack.
inline constexpr int kMaxDepth = 512;
inline constexpr qint64 kReferenceDateMsecs = 978307200000LL; // 2001-01-01T00:00:00Z
// About 30,000 years either side of 2001: far beyond any real date, and well
// inside what QDateTime and a double's whole seconds can hold.
inline constexpr double kMaxDateSeconds = 1e12;

// The memory that reading a list of `size` bytes may take beyond its own
// bytes: whatever is read stays within four times the bytes a file of the
// list holds, with room for the program itself.
inline quint64 readingBudget(quint64 size)
{
    return (quint64(64) << 20) + 3 * size;
}

// The unsigned number of `bytes` bytes (at most 8) at `p`, most significant
// first, as the format stores every number, offset and reference.
inline quint64 readBigEndian(const uchar* p, unsigned bytes)
{
    quint64 value = 0;
    for (unsigned i = 0; i < bytes; ++i)
        value = (value << 8) | p[i];
    return value;
}

// The text of a string or a key stored as UTF-8, every byte with the
// meaning the XML reader gives it in a list read as it streams by: a
// leading U+FEFF is a character of the text, where QString::fromUtf8 takes
// it for a byte-order mark and drops it. Bytes that are not UTF-8 become
// U+FFFD, as fromUtf8 makes them; that reader refuses them, and such a list
// is always left to the whole reading.
inline QString textOfUtf8(QByteArrayView bytes)
{
    if (!bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes);
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    return decoder(bytes);
}

// The text of a binary list's text object from its content's bytes: one
// byte a character as the whole reading takes it (UTF-8, ended by a NUL, as
// libplist keeps text as C strings), or big-endian UTF-16 code units as they
// stand.
inline QString textOfBinaryString(QByteArrayView bytes, bool utf16)
{
    if (!utf16) {
        const qsizetype nul = bytes.indexOf('\0');
        return textOfUtf8(nul < 0 ? bytes : bytes.first(nul));
    }
    QString text(bytes.size() / 2, Qt::Uninitialized);
    QChar* out = text.data();
    for (qsizetype i = 0; i < text.size(); ++i)
        out[i] = QChar(char16_t((uchar(bytes[2 * i]) << 8) | uchar(bytes[2 * i + 1])));
    return text;
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
    // Every table a reader keeps per object is sized by the count, so the
    // count must be paid for with bytes before anything is sized by it: each
    // entry names its own object, inside the objects. A table of one-byte
    // entries naming one object over and over claims millions that are not
    // there.
    if (t->count > t->tableOffset - 8)
        return QStringLiteral("the offset table claims more objects than the list holds");
    std::vector<bool> named(size_t(t->tableOffset), false);
    const uchar* table = data + t->tableOffset;
    for (quint64 i = 0; i < t->count; ++i) {
        const quint64 offset = readBigEndian(table + i * t->offsetSize, t->offsetSize);
        if (offset < 8 || offset >= t->tableOffset)
            return QStringLiteral("object %1 lies outside the data").arg(i);
        if (named[size_t(offset)])
            return QStringLiteral("objects %1 and another begin at the same place").arg(i);
        named[size_t(offset)] = true;
    }
    return std::nullopt;
}

} // namespace platform::plistformat
