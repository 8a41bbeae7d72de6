#include "platform/BinaryPropertyListReader.h"

#include "platform/ParallelFor.h"
#include "platform/PropertyListFormat.h"

#include <QDateTime>
#include <QVariantList>
#include <QVariantMap>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

namespace platform {

namespace {

using plistformat::kMaxDateSeconds;
using plistformat::kMaxDepth;
using plistformat::kReferenceDateMsecs;
using plistformat::readBigEndian;
using plistformat::textOfUtf8;

} // namespace

// Below this many records an array is read in order: threads cost more than
// they save.
std::atomic<quint64> recordsReadInParallelFrom{4096};

namespace {

// The reading allocates as it goes, and the program keeps two malloc
// arenas: more threads than that only queue on their locks.
constexpr size_t kReadingThreads = 2;

using FlatEntry = BinaryPropertyListEntry;


class Reader {
public:
    Reader(const uchar* data, quint64 size, const BinaryRecordReader* recordReader = nullptr)
        : d_(data), n_(size), recordReader_(recordReader)
    {
    }

    // A record the record reader took, or the array holding it, was met
    // again elsewhere in the list: that place must see the record as the
    // list holds it, so the list is read again without the record reader.
    bool sharedWhatItTook() const { return sharedTaken_; }

    std::optional<QVariant> read(QString* error)
    {
        quint64 top = 0;
        if (const std::optional<QString> damage = open(&top))
            return fail(error, *damage);
        if (const std::optional<QString> tooMuch = costProblem())
            return fail(error, *tooMuch);
        values_.resize(trailer_.count);
        state_.assign(trailer_.count, New);
        expanded_.assign(trailer_.count, 0);
        keyText_.assign(trailer_.count, false);
        std::optional<QVariant> value = object(top, 0);
        if (!value)
            return fail(error, problem_);
        // A reader that walks every shared object as often as it is referred
        // to must not be led into far more work than the list's own size.
        if (expanded_[top] > 4 * (totalRefs_ + 1) + 1024)
            return fail(error, QStringLiteral("shared objects expand beyond a sensible size"));
        return value;
    }

    // The entries of a root dictionary whose keys are plain text and whose
    // values hold no other object, as read() would read them; false for
    // anything else, which read() then reads or refuses with its reason.
    // Builds nothing but the values: a reference to an item is read by the
    // hundred thousand, and a map of it costs more than its reading.
    bool readFlatDictionary(std::vector<FlatEntry>* out, const std::function<bool(std::string_view)>& wanted)
    {
        quint64 top = 0;
        quint64 offset = 0;
        Head h;
        QString reason;
        if (open(&top) || !offsetOf(top, &offset) || !head(offset, &h, &reason) || h.type != 0xD)
            return false;
        out->clear();
        out->reserve(size_t(h.count));
        for (quint64 k = 0; k < h.count; ++k) {
            const quint64 keyRef = refAt(h.content, k);
            const quint64 valueRef = refAt(h.content, h.count + k);
            std::optional<std::string_view> key = plainKey(keyRef);
            quint64 valueOffset = 0;
            Head value;
            bool keyText = false;
            if (!key || valueRef >= trailer_.count || !offsetOf(valueRef, &valueOffset)
                || !head(valueOffset, &value, &reason)
                || isContainer(value))
                return false;
            const bool listed = !wanted || wanted(*key);
            // Data and one-byte text hold no fault past their length: one
            // that is not wanted need not be read to be known whole.
            if (!listed && (value.type == 0x4 || value.type == 0x5))
                continue;
            std::optional<QVariant> read = leaf(value, &keyText, &reason);
            if (!read)
                return false;
            if (listed)
                out->push_back({*key, std::move(*read)});
        }
        return true;
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

    // What the reading may cost beyond the list's own bytes: its tables,
    // kept per object, the values made of each container's references (a
    // one-byte reference to one object, repeated, makes a value of 32 bytes
    // from every byte; a dictionary's entry is a map node of 96 bytes, two
    // references), and what text and data keep on the heap (text of one
    // byte a character is widened to two). A few times the list's size, and
    // some room for a small list: a real list spends far more bytes on each
    // object.
    static constexpr quint64 kTableBytesPerObject = sizeof(QVariant) + sizeof(quint64) + 2;
    static constexpr quint64 kBytesPerReference = 48;
    std::optional<QString> costProblem() const
    {
        const quint64 budget = plistformat::readingBudget(n_);
        const quint64 tables = trailer_.count * kTableBytesPerObject;
        if (tables > budget)
            return QStringLiteral("the list holds more objects than a list of its size may (%1 objects in %2 bytes)")
                .arg(trailer_.count)
                .arg(n_);
        if (valueRefs_ > (budget - tables) / kBytesPerReference)
            return QStringLiteral("the list refers to its objects more often than a list of its size may (%1 "
                                  "references in %2 bytes)")
                .arg(valueRefs_)
                .arg(n_);
        if (heapBytes_ > budget - tables - valueRefs_ * kBytesPerReference)
            return QStringLiteral("the list's texts and data take more memory than a list of its size may (%1 "
                                  "bytes of memory for a list of %2 bytes)")
                .arg(heapBytes_)
                .arg(n_);
        return std::nullopt;
    }

    // The trailer's fields, checked against the data; the damage otherwise.
    std::optional<QString> open(quint64* top)
    {
        std::optional<QString> damage = plistformat::readTrailer(d_, n_, &trailer_);
        *top = trailer_.top;
        return damage;
    }

    // Where object `index` (one of the objects counted) begins, when that is
    // among the objects.
    bool offsetOf(quint64 index, quint64* offset) const
    {
        *offset = readBigEndian(d_ + trailer_.tableOffset + index * trailer_.offsetSize, trailer_.offsetSize);
        return *offset >= 8 && *offset < trailer_.tableOffset;
    }

    // The k-th reference of a container whose references begin at `content`.
    quint64 refAt(quint64 content, quint64 k) const
    {
        return readBigEndian(d_ + content + k * trailer_.refSize, trailer_.refSize);
    }

    // The bytes of an object that is text in one byte a character without a
    // NUL: a key that any reading takes as it stands.
    std::optional<std::string_view> plainKey(quint64 index) const
    {
        quint64 offset = 0;
        Head h;
        QString reason;
        if (index >= trailer_.count || !offsetOf(index, &offset) || !head(offset, &h, &reason) || h.type != 0x5)
            return std::nullopt;
        const char* bytes = reinterpret_cast<const char*>(d_ + h.content);
        if (std::memchr(bytes, 0, h.count))
            return std::nullopt;
        return std::string_view(bytes, size_t(h.count));
    }

    // The object at `index`, read once however often it is referred to.
    std::optional<QVariant> object(quint64 index, int depth)
    {
        if (state_[index] == Done) {
            sharedTaken_ = sharedTaken_ || (!taken_.empty() && taken_[index]);
            return values_[index];
        }
        if (state_[index] == Active)
            return refuse(index, QStringLiteral("objects contain themselves"));
        if (depth > kMaxDepth)
            return refuse(index, QStringLiteral("nested too deeply"));
        quint64 offset = 0;
        if (!offsetOf(index, &offset))
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

    // An object's marker and, for data, text and containers, its length and
    // where its content begins; a reason when they do not fit the objects.
    struct Head {
        unsigned type = 0;
        unsigned low = 0;
        quint64 count = 0;
        quint64 content = 0;
    };
    bool head(quint64 offset, Head* h, QString* reason) const
    {
        const quint64 limit = trailer_.tableOffset; // objects lie between header and table
        quint64 p = offset + 1;
        const auto fits = [&](quint64 bytes) { return bytes <= limit - p; };
        const uchar marker = d_[offset];
        h->type = marker >> 4;
        h->low = marker & 0x0f;
        h->content = p;
        switch (h->type) {
        case 0x0: case 0x1: case 0x2: case 0x3:
            return true;
        case 0x4: case 0x5: case 0x6: case 0xA: case 0xD:
            break;
        default: // sets, UIDs and unassigned markers have no place in our lists
            *reason = QStringLiteral("unsupported object type");
            return false;
        }
        quint64 count = h->low;
        if (h->low == 0x0f) {
            if (!fits(1)) {
                *reason = QStringLiteral("truncated length");
                return false;
            }
            const uchar sizeMarker = d_[p++];
            if ((sizeMarker >> 4) != 0x1 || (sizeMarker & 0x0f) > 3) {
                *reason = QStringLiteral("damaged length");
                return false;
            }
            const unsigned bytes = 1u << (sizeMarker & 0x0f);
            if (!fits(bytes)) {
                *reason = QStringLiteral("truncated length");
                return false;
            }
            count = readBigEndian(d_ + p, bytes);
            p += bytes;
        }
        const quint64 unit = h->type == 0x6 ? 2
            : h->type == 0xA               ? trailer_.refSize
            : h->type == 0xD               ? 2 * trailer_.refSize
                                           : 1;
        if (count > (limit - p) / unit) {
            *reason = QStringLiteral("content runs past the end of the objects");
            return false;
        }
        h->count = count;
        h->content = p;
        return true;
    }

    static bool isContainer(const Head& h) { return h.type == 0xA || h.type == 0xD; }

    // A block of `payload` bytes behind a header of 16, as the allocator
    // hands it out.
    static quint64 heapBlock(quint64 payload) { return (16 + payload + 8 + 15) & ~quint64(15); }

    // What the value of a leaf keeps on the heap, known from its head
    // before it is made.
    static quint64 heapOf(const Head& h)
    {
        switch (h.type) {
        case 0x4:
            return heapBlock(h.count + 1);
        case 0x5:
        case 0x6:
            return heapBlock(2 * h.count + 2);
        default:
            return 0;
        }
    }

    // A value that refers to no other object, read without touching the
    // reader's state, so that several threads may read such values at once.
    // `keyText`: whether it may serve as a dictionary key.
    std::optional<QVariant> leaf(const Head& h, bool* keyText, QString* reason) const
    {
        const quint64 limit = trailer_.tableOffset;
        const quint64 p = h.content;
        const auto fits = [&](quint64 bytes) { return bytes <= limit - p; };
        const unsigned low = h.low;
        const auto refuse = [reason](const char* why) -> std::optional<QVariant> {
            *reason = QString::fromLatin1(why);
            return std::nullopt;
        };
        *keyText = false;
        switch (h.type) {
        case 0x0:
            if (low == 0x8 || low == 0x9)
                return QVariant(low == 0x9);
            return refuse("unknown marker");
        case 0x1: {
            if (low > 4 || !fits(1u << low))
                return refuse("damaged integer");
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
                return refuse("damaged real");
            if (low == 2)
                return QVariant(double(std::bit_cast<float>(quint32(readBigEndian(d_ + p, 4)))));
            return QVariant(std::bit_cast<double>(readBigEndian(d_ + p, 8)));
        }
        case 0x3: {
            if (low != 3 || !fits(8))
                return refuse("damaged date");
            const double seconds = std::bit_cast<double>(readBigEndian(d_ + p, 8));
            if (!std::isfinite(seconds) || std::fabs(seconds) > kMaxDateSeconds)
                return refuse("date out of the supported range");
            return QVariant(QDateTime::fromMSecsSinceEpoch(std::llround(seconds * 1000.0) + kReferenceDateMsecs,
                                                           Qt::UTC));
        }
        default:
            break;
        }
        const quint64 count = h.count;
        const char* bytes = reinterpret_cast<const char*>(d_ + p);
        if (h.type == 0x4)
            return QVariant(QByteArray(bytes, qsizetype(count)));
        if (h.type == 0x5) {
            // libplist keeps text as C strings: a NUL ends it.
            *keyText = std::memchr(bytes, 0, count) == nullptr;
            return QVariant(plistformat::textOfBinaryString(QByteArrayView(bytes, qsizetype(count)), false));
        }
        const QString text = plistformat::textOfBinaryString(QByteArrayView(bytes, qsizetype(2 * count)), true);
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar c = text.at(i);
            if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
                ++i;
            else if (c.isSurrogate())
                return refuse("damaged UTF-16 text");
        }
        *keyText = !text.contains(QChar(0));
        return QVariant(text);
    }

    std::optional<QVariant> decode(quint64 index, quint64 offset, int depth)
    {
        Head h;
        QString reason;
        if (!head(offset, &h, &reason))
            return refuse(index, reason);
        if (!isContainer(h)) {
            heapBytes_ += heapOf(h);
            if (const std::optional<QString> tooMuch = costProblem())
                return refuse(index, *tooMuch);
            bool keyText = false;
            std::optional<QVariant> value = leaf(h, &keyText, &reason);
            if (!value)
                return refuse(index, reason);
            isKey(index, keyText);
            return value;
        }
        const unsigned type = h.type;
        const quint64 count = h.count;
        const quint64 p = h.content;
        const quint64 refs = type == 0xA ? count : 2 * count;
        totalRefs_ += refs;
        valueRefs_ += refs;
        if (const std::optional<QString> tooMuch = costProblem())
            return refuse(index, *tooMuch);
        quint64 size = 1;
        const auto child = [&](quint64 k) -> std::optional<QVariant> {
            const quint64 ref = readBigEndian(d_ + p + k * trailer_.refSize, trailer_.refSize);
            if (ref >= trailer_.count)
                return refuse(index, QStringLiteral("reference to an object that does not exist"));
            std::optional<QVariant> value = object(ref, depth + 1);
            if (value) {
                size += expanded_[ref];
                // Bounded here too, so that the sum cannot overflow.
                if (size > 4 * (totalRefs_ + 1) + 1024 + quint64(trailer_.count) * 4)
                    return refuse(index, QStringLiteral("shared objects expand beyond a sensible size"));
            }
            return value;
        };
        if (type == 0xA) {
            QVariantList list;
            list.reserve(qsizetype(count));
            if (count >= recordsReadInParallelFrom.load(std::memory_order_relaxed) && depth + 2 <= kMaxDepth) {
                switch (records(index, p, count, depth, &size, &list)) {
                case Records::Read:
                    expanded_[index] = size;
                    return QVariant(list);
                case Records::Refused:
                    return std::nullopt;
                case Records::NotSuch:
                    break;
                }
            }
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
            const quint64 keyRef = readBigEndian(d_ + p + k * trailer_.refSize, trailer_.refSize);
            if (!keyText_[keyRef])
                return refuse(index, QStringLiteral("a dictionary key is not a string (or holds a NUL)"));
            // What the record reader is told of an array of the root.
            if (depth == 0)
                rootKey_ = key->toString();
            std::optional<QVariant> value = child(count + k);
            rootKey_.clear();
            if (!value)
                return std::nullopt;
            map.insert(key->toString(), std::move(*value));
        }
        expanded_[index] = size;
        return QVariant(map);
    }

    enum class Records { NotSuch, Read, Refused };

    // An array of many records, each a dictionary of its own whose keys are
    // plain text and whose values hold no other object (a saved result's
    // items), read on a few threads into `list`: the same values, the same
    // sharing of keys, the same first fault and the same bounds as the walk
    // in order. NotSuch, with nothing read, for any other array, which that
    // walk then reads.
    Records records(quint64 index, quint64 p, quint64 count, int depth, quint64* size, QVariantList* list)
    {
        // A record met twice, or read before, is shared: the walk in order
        // keeps that sharing.
        std::vector<quint64> refs(count);
        std::vector<bool> taken(trailer_.count, false);
        for (quint64 k = 0; k < count; ++k) {
            const quint64 ref = refAt(p, k);
            if (ref >= trailer_.count || state_[ref] != New || taken[ref])
                return Records::NotSuch;
            taken[ref] = true;
            refs[k] = ref;
        }

        struct Read {
            QVariant value;
            quint64 entries = 0;
            bool taken = false; // by the record reader
            bool notSuch = false; // no dictionary of plain values
            bool unread = false; // left unread once the records' maps were over the budget
            quint64 failedAt = 0; // the value that did not read
            // What its map would keep on the heap: each key made anew, and
            // the values this record read first.
            quint64 heap = 0;
            QString reason;
            bool failed = false;
        };
        std::vector<Read> read(count);
        const BinaryRecordReader* recordReader = depth == 1 && !rootKey_.isNull() ? recordReader_ : nullptr;
        const QString arrayKey = rootKey_;
        std::atomic<bool> notSuch{false};
        // The records kept as maps are paid for as they are made, so that
        // the threads stop once they would cost more than the budget leaves.
        const quint64 budget = plistformat::readingBudget(n_);
        const quint64 before = trailer_.count * kTableBytesPerObject + valueRefs_ * kBytesPerReference + heapBytes_
            + count * (sizeof(Read) + sizeof(quint64));
        const quint64 room = budget > before ? budget - before : 0;
        std::atomic<quint64> maps{0};
        std::atomic<bool> overBudget{false};
        // Changes nothing of the reader's own but the values of leaves, each
        // set once by the thread that reads it first: what it finds is taken
        // in below, in order, or dropped when the array is no such.
        const auto readOne = [&](quint64 k) {
            Read& out = read[k];
            if (notSuch.load(std::memory_order_relaxed))
                return;
            if (overBudget.load(std::memory_order_relaxed)) {
                out.unread = true;
                return;
            }
            // One list of entries a thread, not one a record.
            thread_local std::vector<FlatEntry> entries;
            struct Clear {
                ~Clear() { entries.clear(); }
            } clearAtEnd;
            quint64 offset = 0;
            Head record;
            if (!offsetOf(refs[k], &offset) || !head(offset, &record, &out.reason) || record.type != 0xD) {
                notSuch.store(true, std::memory_order_relaxed);
                return;
            }
            out.entries = record.count;
            for (quint64 e = 0; e < record.count; ++e) {
                const std::optional<std::string_view> key = plainKey(refAt(record.content, e));
                const quint64 valueRef = refAt(record.content, record.count + e);
                Head value;
                if (!key || valueRef >= trailer_.count || !offsetOf(valueRef, &offset)
                    || !head(offset, &value, &out.reason)
                    || isContainer(value)) {
                    notSuch.store(true, std::memory_order_relaxed);
                    return;
                }
                bool first = false;
                std::optional<QVariant> decoded = sharedLeaf(valueRef, value, &out.reason, &first);
                out.heap += heapBlock(2 * key->size() + 2) + (first ? heapOf(value) : 0);
                if (!decoded) {
                    out.failed = true;
                    out.failedAt = valueRef;
                    return;
                }
                entries.push_back({*key, std::move(*decoded)});
            }
            if (recordReader) {
                out.value = (*recordReader)(arrayKey, entries);
                out.taken = out.value.isValid();
                if (out.taken)
                    return;
            }
            // The map's own block besides its nodes.
            constexpr quint64 kMapBytes = 64;
            const quint64 cost = kMapBytes + 2 * out.entries * kBytesPerReference + out.heap;
            if (maps.fetch_add(cost, std::memory_order_relaxed) + cost > room) {
                overBudget.store(true, std::memory_order_relaxed);
                out.unread = true;
                return;
            }
            QVariantMap map;
            for (FlatEntry& entry : entries)
                map.insert(textOfUtf8(QByteArrayView(entry.key.data(), qsizetype(entry.key.size()))),
                           std::move(entry.value));
            out.value = QVariant(std::move(map));
        };
        leafReading_.reset(new std::atomic<quint8>[size_t(trailer_.count)]());
        forEachIndexInParallel(size_t(count), kReadingThreads, 1024, readOne);
        // A value that one record alone holds lives on in that record only.
        for (quint64 i = 0; i < trailer_.count; ++i) {
            if (leafReading_[i].load(std::memory_order_relaxed) == LeafReadOnce && state_[i] == New)
                values_[i] = QVariant();
        }
        leafReading_.reset();
        // A record that is not such fails no record before it: the walk in
        // order reads them all and finds the first fault itself.
        if (notSuch.load())
            return Records::NotSuch;

        for (quint64 k = 0; k < count; ++k) {
            Read& one = read[k];
            if (one.failed) {
                refuse(one.failedAt, one.reason);
                return Records::Refused;
            }
            if (one.unread) {
                refuse(index, QStringLiteral("the list's records take more memory than a list of its size may "
                                             "(%1 bytes of memory for a list of %2 bytes)")
                                  .arg(before + maps.load())
                                  .arg(n_));
                return Records::Refused;
            }
            const quint64 ref = refs[k];
            totalRefs_ += 2 * one.entries;
            expanded_[ref] = 1 + 2 * one.entries;
            state_[ref] = Done;
            values_[ref] = std::move(one.value);
            if (!one.taken) {
                valueRefs_ += 2 * one.entries;
                heapBytes_ += one.heap;
                if (const std::optional<QString> tooMuch = costProblem()) {
                    refuse(index, *tooMuch);
                    return Records::Refused;
                }
            }
            if (one.taken) {
                if (taken_.empty())
                    taken_.assign(trailer_.count, false);
                taken_[ref] = true;
                taken_[index] = true;
            }
            *size += expanded_[ref];
            if (*size > 4 * (totalRefs_ + 1) + 1024 + quint64(trailer_.count) * 4) {
                refuse(index, QStringLiteral("shared objects expand beyond a sensible size"));
                return Records::Refused;
            }
            list->append(values_[ref]);
        }
        return Records::Read;
    }

    // How far the threads have read a value of the records: one that many
    // records refer to is read once and shared by all of them, as the walk
    // in order shares it, not copied into each (one large value under every
    // record would cost its size times the records).
    enum LeafReading : quint8 { LeafUnread, LeafBeingRead, LeafReadOnce, LeafShared, LeafDamaged };

    // The value at `index` (a leaf whose head is `h`) for one of the records
    // the threads read: the first thread to meet it reads it into values_,
    // every later one takes that reading.
    std::optional<QVariant> sharedLeaf(quint64 index, const Head& h, QString* reason, bool* first)
    {
        *first = false;
        std::atomic<quint8>& reading = leafReading_[index];
        quint8 seen = reading.load(std::memory_order_acquire);
        for (;;) {
            if (seen == LeafReadOnce || seen == LeafShared) {
                if (seen == LeafReadOnce)
                    reading.compare_exchange_strong(seen, LeafShared, std::memory_order_acq_rel);
                return values_[index];
            }
            if (seen == LeafDamaged)
                break;
            if (seen == LeafUnread) {
                if (!reading.compare_exchange_weak(seen, LeafBeingRead, std::memory_order_acq_rel))
                    continue;
                bool keyText = false;
                std::optional<QVariant> value = leaf(h, &keyText, reason);
                if (!value) {
                    reading.store(LeafDamaged, std::memory_order_release);
                    return std::nullopt;
                }
                values_[index] = *value;
                *first = true;
                reading.store(LeafReadOnce, std::memory_order_release);
                return value;
            }
            std::this_thread::yield();
            seen = reading.load(std::memory_order_acquire);
        }
        // Read again for its reason: a damaged leaf fails the same way.
        bool keyText = false;
        return leaf(h, &keyText, reason);
    }

    void isKey(quint64 index, bool key) { keyText_[index] = key; }

    const uchar* d_;
    quint64 n_;
    plistformat::Trailer trailer_;
    quint64 totalRefs_ = 0;
    // The references read into values of their containers (not those of
    // the records the threads read straight into what the caller keeps).
    quint64 valueRefs_ = 0;
    // What the texts and data read keep on the heap (heapOf).
    quint64 heapBytes_ = 0;
    std::vector<QVariant> values_;
    std::vector<State> state_;
    std::vector<quint64> expanded_;
    // Text that may serve as a dictionary key: no NUL in it.
    std::vector<bool> keyText_;
    QString problem_;
    const BinaryRecordReader* recordReader_ = nullptr;
    // The root's key whose value is being read, while it is.
    QString rootKey_;
    // What the record reader took: the records and the arrays holding them.
    std::vector<bool> taken_;
    bool sharedTaken_ = false;
    // While the threads read records: each object's LeafReading.
    std::unique_ptr<std::atomic<quint8>[]> leafReading_;
};

} // namespace

std::optional<QVariant> readBinaryPropertyList(const QByteArray& data, QString* error)
{
    return readBinaryPropertyList(data, error, BinaryRecordReader());
}

std::optional<QVariant> readBinaryPropertyList(const QByteArray& data, QString* error,
                                               const BinaryRecordReader& recordReader)
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
    const auto* bytes = reinterpret_cast<const uchar*>(data.constData());
    if (recordReader) {
        Reader reader(bytes, quint64(data.size()), &recordReader);
        std::optional<QVariant> value = reader.read(error);
        if (!reader.sharedWhatItTook())
            return value;
    }
    return Reader(bytes, quint64(data.size())).read(error);
}

const QVariant* entryValue(const std::vector<BinaryPropertyListEntry>& entries, const QString& key)
{
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
        if (entry->key.size() == size_t(key.size())
            && QLatin1StringView(entry->key.data(), qsizetype(entry->key.size())) == key)
            return &entry->value;
    }
    return nullptr;
}

std::optional<std::vector<BinaryPropertyListEntry>> readFlatBinaryDictionary(
    const QByteArray& data, const std::function<bool(std::string_view key)>& wanted)
{
    if (!data.startsWith("bplist00"))
        return std::nullopt;
    std::vector<BinaryPropertyListEntry> entries;
    if (!Reader(reinterpret_cast<const uchar*>(data.constData()), quint64(data.size()))
             .readFlatDictionary(&entries, wanted))
        return std::nullopt;
    return entries;
}

} // namespace platform
