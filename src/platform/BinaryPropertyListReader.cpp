#include "platform/BinaryPropertyListReader.h"

#include "platform/PropertyListFormat.h"

#include <QDateTime>
#include <QVariantList>
#include <QVariantMap>

#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

namespace platform {

namespace {

using plistformat::kMaxDateSeconds;
using plistformat::kMaxDepth;
using plistformat::kReferenceDateMsecs;
using plistformat::readBigEndian;

class Reader {
public:
    Reader(const uchar* data, quint64 size) : d_(data), n_(size) {}

    std::optional<QVariant> read(QString* error)
    {
        // Header, at least one object byte, one offset byte, the trailer.
        if (n_ < 8 + 1 + 1 + 32)
            return fail(error, QStringLiteral("the data is truncated"));
        const uchar* trailer = d_ + n_ - 32;
        offsetSize_ = trailer[6];
        refSize_ = trailer[7];
        count_ = readBigEndian(trailer + 8, 8);
        const quint64 top = readBigEndian(trailer + 16, 8);
        tableOffset_ = readBigEndian(trailer + 24, 8);
        if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8)
            return fail(error, QStringLiteral("the trailer is damaged (field sizes)"));
        if (count_ == 0 || top >= count_)
            return fail(error, QStringLiteral("the trailer is damaged (object count)"));
        if (tableOffset_ < 9 || tableOffset_ >= n_ - 32)
            return fail(error, QStringLiteral("the trailer is damaged (offset table position)"));
        if (count_ > (n_ - 32 - tableOffset_) / offsetSize_)
            return fail(error, QStringLiteral("the offset table is truncated"));
        values_.resize(count_);
        state_.assign(count_, New);
        expanded_.assign(count_, 0);
        keyText_.assign(count_, false);
        std::optional<QVariant> value = object(top, 0);
        if (!value)
            return fail(error, problem_);
        // A reader that walks every shared object as often as it is referred
        // to must not be led into far more work than the list's own size.
        if (expanded_[top] > 4 * (totalRefs_ + 1) + 1024)
            return fail(error, QStringLiteral("shared objects expand beyond a sensible size"));
        return value;
    }

private:
    enum State : quint8 { New, Active, Done };

    std::optional<QVariant> fail(QString* error, const QString& reason)
    {
        if (error)
            *error = QStringLiteral("damaged binary property list: %1").arg(reason);
        return std::nullopt;
    }

    std::optional<QVariant> refuse(quint64 index, const QString& reason)
    {
        if (problem_.isEmpty())
            problem_ = QStringLiteral("object %1: %2").arg(index).arg(reason);
        return std::nullopt;
    }

    // The object at `index`, read once however often it is referred to.
    std::optional<QVariant> object(quint64 index, int depth)
    {
        if (state_[index] == Done)
            return values_[index];
        if (state_[index] == Active)
            return refuse(index, QStringLiteral("objects contain themselves"));
        if (depth > kMaxDepth)
            return refuse(index, QStringLiteral("nested too deeply"));
        const quint64 offset = readBigEndian(d_ + tableOffset_ + index * offsetSize_, offsetSize_);
        if (offset < 8 || offset >= tableOffset_)
            return refuse(index, QStringLiteral("lies outside the data"));
        state_[index] = Active;
        std::optional<QVariant> value = decode(index, offset, depth);
        if (!value)
            return std::nullopt;
        state_[index] = Done;
        if (expanded_[index] == 0)
            expanded_[index] = 1;
        values_[index] = *value;
        return value;
    }

    std::optional<QVariant> decode(quint64 index, quint64 offset, int depth)
    {
        const quint64 limit = tableOffset_; // objects lie between header and table
        quint64 p = offset + 1;
        const auto fits = [&](quint64 bytes) { return bytes <= limit - p; };
        const uchar marker = d_[offset];
        const unsigned type = marker >> 4;
        const unsigned low = marker & 0x0f;
        switch (type) {
        case 0x0:
            if (low == 0x8 || low == 0x9)
                return QVariant(low == 0x9);
            return refuse(index, QStringLiteral("unknown marker"));
        case 0x1: {
            if (low > 4 || !fits(1u << low))
                return refuse(index, QStringLiteral("damaged integer"));
            const unsigned bytes = 1u << low;
            // 8 bytes are signed; 16 the unsigned numbers above INT64_MAX,
            // their upper half unused.
            const quint64 value = bytes == 16 ? readBigEndian(d_ + p + 8, 8) : readBigEndian(d_ + p, bytes);
            if (bytes == 16 && value > quint64(INT64_MAX))
                return QVariant(value);
            return QVariant(static_cast<qint64>(value));
        }
        case 0x2: {
            if (!((low == 2 || low == 3) && fits(1u << low)))
                return refuse(index, QStringLiteral("damaged real"));
            if (low == 2)
                return QVariant(double(std::bit_cast<float>(quint32(readBigEndian(d_ + p, 4)))));
            return QVariant(std::bit_cast<double>(readBigEndian(d_ + p, 8)));
        }
        case 0x3: {
            if (low != 3 || !fits(8))
                return refuse(index, QStringLiteral("damaged date"));
            const double seconds = std::bit_cast<double>(readBigEndian(d_ + p, 8));
            if (!std::isfinite(seconds) || std::fabs(seconds) > kMaxDateSeconds)
                return refuse(index, QStringLiteral("date out of the supported range"));
            return QVariant(QDateTime::fromMSecsSinceEpoch(std::llround(seconds * 1000.0) + kReferenceDateMsecs,
                                                           Qt::UTC));
        }
        case 0x4: case 0x5: case 0x6: case 0xA: case 0xD:
            break;
        default: // sets, UIDs and unassigned markers have no place in our lists
            return refuse(index, QStringLiteral("unsupported object type"));
        }

        quint64 count = low;
        if (low == 0x0f) {
            if (!fits(1))
                return refuse(index, QStringLiteral("truncated length"));
            const uchar sizeMarker = d_[p++];
            if ((sizeMarker >> 4) != 0x1 || (sizeMarker & 0x0f) > 3)
                return refuse(index, QStringLiteral("damaged length"));
            const unsigned bytes = 1u << (sizeMarker & 0x0f);
            if (!fits(bytes))
                return refuse(index, QStringLiteral("truncated length"));
            count = readBigEndian(d_ + p, bytes);
            p += bytes;
        }
        const quint64 unit = type == 0x6 ? 2 : type == 0xA ? refSize_ : type == 0xD ? 2 * refSize_ : 1;
        if (count > (limit - p) / unit)
            return refuse(index, QStringLiteral("content runs past the end of the objects"));
        const char* bytes = reinterpret_cast<const char*>(d_ + p);
        switch (type) {
        case 0x4:
            return QVariant(QByteArray(bytes, qsizetype(count)));
        case 0x5: {
            // libplist keeps text as C strings: a NUL ends it.
            const char* nul = static_cast<const char*>(std::memchr(bytes, 0, count));
            isKey(index, nul == nullptr);
            return QVariant(QString::fromUtf8(bytes, nul ? qsizetype(nul - bytes) : qsizetype(count)));
        }
        case 0x6: {
            QString text(qsizetype(count), Qt::Uninitialized);
            QChar* out = text.data();
            bool hasNul = false;
            for (quint64 i = 0; i < count; ++i) {
                const char16_t unit16 = char16_t(readBigEndian(d_ + p + 2 * i, 2));
                hasNul = hasNul || unit16 == 0;
                out[i] = QChar(unit16);
            }
            for (qsizetype i = 0; i < text.size(); ++i) {
                const QChar c = text.at(i);
                if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
                    ++i;
                else if (c.isSurrogate())
                    return refuse(index, QStringLiteral("damaged UTF-16 text"));
            }
            isKey(index, !hasNul);
            return QVariant(text);
        }
        default:
            break;
        }

        const quint64 refs = type == 0xA ? count : 2 * count;
        totalRefs_ += refs;
        quint64 size = 1;
        const auto child = [&](quint64 k) -> std::optional<QVariant> {
            const quint64 ref = readBigEndian(d_ + p + k * refSize_, refSize_);
            if (ref >= count_)
                return refuse(index, QStringLiteral("reference to an object that does not exist"));
            std::optional<QVariant> value = object(ref, depth + 1);
            if (value) {
                size += expanded_[ref];
                // Bounded here too, so that the sum cannot overflow.
                if (size > 4 * (totalRefs_ + 1) + 1024 + quint64(count_) * 4)
                    return refuse(index, QStringLiteral("shared objects expand beyond a sensible size"));
            }
            return value;
        };
        if (type == 0xA) {
            QVariantList list;
            list.reserve(qsizetype(count));
            for (quint64 k = 0; k < count; ++k) {
                std::optional<QVariant> value = child(k);
                if (!value)
                    return std::nullopt;
                list.append(std::move(*value));
            }
            expanded_[index] = size;
            return QVariant(list);
        }
        QVariantMap map;
        for (quint64 k = 0; k < count; ++k) {
            std::optional<QVariant> key = child(k);
            if (!key)
                return std::nullopt;
            const quint64 keyRef = readBigEndian(d_ + p + k * refSize_, refSize_);
            if (!keyText_[keyRef])
                return refuse(index, QStringLiteral("a dictionary key is not a string (or holds a NUL)"));
            std::optional<QVariant> value = child(count + k);
            if (!value)
                return std::nullopt;
            map.insert(key->toString(), std::move(*value));
        }
        expanded_[index] = size;
        return QVariant(map);
    }

    void isKey(quint64 index, bool key) { keyText_[index] = key; }

    const uchar* d_;
    quint64 n_;
    unsigned offsetSize_ = 0;
    unsigned refSize_ = 0;
    quint64 count_ = 0;
    quint64 tableOffset_ = 0;
    quint64 totalRefs_ = 0;
    std::vector<QVariant> values_;
    std::vector<State> state_;
    std::vector<quint64> expanded_;
    // Text that may serve as a dictionary key: no NUL in it.
    std::vector<bool> keyText_;
    QString problem_;
};

} // namespace

std::optional<QVariant> readBinaryPropertyList(const QByteArray& data, QString* error)
{
    if (data.isEmpty()) {
        if (error)
            *error = QStringLiteral("the property list is empty");
        return std::nullopt;
    }
    if (!data.startsWith("bplist00")) {
        if (error)
            *error = data.startsWith("bplist") ? QStringLiteral("unsupported binary property list version")
                                               : QStringLiteral("not a binary property list");
        return std::nullopt;
    }
    return Reader(reinterpret_cast<const uchar*>(data.constData()), quint64(data.size())).read(error);
}

} // namespace platform
