#include "platform/BinaryPropertyListWriter.h"

#include <QVariantList>
#include <QVariantMap>

#include <bit>
#include <climits>
#include <cstring>
#include <functional>
#include <limits>

namespace platform {

namespace {

constexpr uchar kArray = 0xA0;
constexpr uchar kDict = 0xD0;

// Bytes needed for `value` as an unsigned number, among 1, 2, 4 and 8.
unsigned widthOf(quint64 value)
{
    if (value <= 0xFF)
        return 1;
    if (value <= 0xFFFF)
        return 2;
    if (value <= 0xFFFFFFFFull)
        return 4;
    return 8;
}

// Bytes needed for `value`, from 1 to 8: references and offsets take any width.
unsigned bytesFor(quint64 value)
{
    unsigned bytes = 1;
    while (bytes < 8 && (value >> (8 * bytes)) != 0)
        ++bytes;
    return bytes;
}

unsigned log2Of(unsigned width)
{
    return unsigned(std::countr_zero(width));
}

void appendBigEndian(std::string& out, quint64 value, unsigned bytes)
{
    for (unsigned i = bytes; i > 0; --i)
        out.push_back(char((value >> (8 * (i - 1))) & 0xFF));
}

// An integer object of the smallest width, as a count after a 0x?F marker.
void appendCountInteger(std::string& out, quint64 count)
{
    const unsigned width = widthOf(count);
    out.push_back(char(0x10 | log2Of(width)));
    appendBigEndian(out, count, width);
}

size_t countBytes(quint64 count)
{
    return count < 15 ? 0 : 1 + widthOf(count);
}

// Pieces handed to a sink: the list is never whole in memory twice.
constexpr size_t kChunk = size_t(1) << 20;
// Streaming, leaves up to this long stay to be shared: keys, numbers, dates.
constexpr size_t kSharedLeaf = 64;

} // namespace

size_t BinaryPropertyListWriter::LeafHash::operator()(Ref ref) const
{
    return std::hash<std::string_view>()(writer->leafBytes(ref));
}

size_t BinaryPropertyListWriter::LeafHash::operator()(std::string_view bytes) const
{
    return std::hash<std::string_view>()(bytes);
}

bool BinaryPropertyListWriter::LeafEqual::operator()(Ref a, Ref b) const
{
    return writer->leafBytes(a) == writer->leafBytes(b);
}

bool BinaryPropertyListWriter::LeafEqual::operator()(std::string_view a, Ref b) const
{
    return a == writer->leafBytes(b);
}

bool BinaryPropertyListWriter::LeafEqual::operator()(Ref a, std::string_view b) const
{
    return writer->leafBytes(a) == b;
}

BinaryPropertyListWriter::BinaryPropertyListWriter()
    : uniqueLeaves_(64, LeafHash{this}, LeafEqual{this})
{
}

std::string_view BinaryPropertyListWriter::leafBytes(Ref ref) const
{
    const Object& object = objects_[ref];
    return std::string_view(leaves_.data() + object.start, object.length);
}

BinaryPropertyListWriter::Ref BinaryPropertyListWriter::refuse(const QString& reason)
{
    if (error_.isEmpty())
        error_ = reason;
    return 0;
}

BinaryPropertyListWriter::Ref BinaryPropertyListWriter::leaf(std::string_view encoded)
{
    if (const auto found = uniqueLeaves_.find(encoded); found != uniqueLeaves_.end())
        return *found;
    if (objects_.size() >= size_t(UINT32_MAX) || encoded.size() >= size_t(UINT32_MAX))
        return refuse(QStringLiteral("the property list is too large"));
    const Ref ref = Ref(objects_.size());
    if (streaming_) {
        if (!beginStreamedObject())
            return 0;
        chunk_.append(encoded);
        if (encoded.size() <= kSharedLeaf) {
            objects_.push_back({quint64(leaves_.size()), quint32(encoded.size()), 0});
            leaves_.append(encoded);
            uniqueLeaves_.insert(ref);
        } else {
            objects_.push_back({0, 0, 0});
        }
        flush(false);
        return ref;
    }
    objects_.push_back({quint64(leaves_.size()), quint32(encoded.size()), 0});
    leaves_.append(encoded);
    uniqueLeaves_.insert(ref);
    return ref;
}

BinaryPropertyListWriter::Ref BinaryPropertyListWriter::container(uchar marker, const Ref* refs, size_t count)
{
    if (objects_.size() >= size_t(UINT32_MAX) || count >= size_t(UINT32_MAX))
        return refuse(QStringLiteral("the property list is too large"));
    for (size_t i = 0; i < count; ++i) {
        if (refs[i] >= objects_.size())
            return refuse(QStringLiteral("internal error: a reference to nothing"));
    }
    const Ref ref = Ref(objects_.size());
    if (streaming_) {
        if (!beginStreamedObject())
            return 0;
        appendMarkerAndCount(chunk_, marker, marker == kDict ? count / 2 : count);
        for (size_t i = 0; i < count; ++i)
            appendBigEndian(chunk_, refs[i], refSize_);
        objects_.push_back({0, quint32(count), marker});
        flush(false);
        return ref;
    }
    objects_.push_back({quint64(refs_.size()), quint32(count), marker});
    refs_.insert(refs_.end(), refs, refs + count);
    return ref;
}

bool BinaryPropertyListWriter::beginStreamedObject()
{
    if (failed())
        return false;
    if (objects_.size() >= streamLimit_) {
        refuse(QStringLiteral("internal error: more objects than announced"));
        return false;
    }
    offsets_.push_back(written_ + chunk_.size());
    return true;
}

void BinaryPropertyListWriter::flush(bool force)
{
    if (chunk_.empty() || !(force || chunk_.size() >= kChunk) || failed())
        return;
    const bool written = sink_(chunk_.data(), chunk_.size());
    written_ += chunk_.size();
    chunk_.clear();
    if (!written)
        refuse(QStringLiteral("the property list could not be written"));
}

void BinaryPropertyListWriter::streamObject(size_t index)
{
    Object& object = objects_[index];
    offsets_.push_back(written_ + chunk_.size());
    if (object.marker == 0) {
        chunk_.append(leaves_.data() + object.start, object.length);
    } else {
        appendMarkerAndCount(chunk_, object.marker, object.marker == kDict ? object.length / 2 : object.length);
        for (quint32 i = 0; i < object.length; ++i)
            appendBigEndian(chunk_, refs_[object.start + i], refSize_);
    }
    flush(false);
}

void BinaryPropertyListWriter::streamTo(Sink sink, quint64 objectsToCome)
{
    if (failed() || streaming_)
        return;
    streamLimit_ = quint64(objects_.size()) + objectsToCome;
    if (streamLimit_ == 0 || streamLimit_ >= quint64(UINT32_MAX)) {
        refuse(QStringLiteral("the property list is too large"));
        return;
    }
    streaming_ = true;
    sink_ = std::move(sink);
    refSize_ = bytesFor(streamLimit_ - 1);
    written_ = 0;
    chunk_.reserve(kChunk + 64);
    chunk_.append("bplist00", 8);
    // Pages are taken as the offsets come, not for the whole bound.
    offsets_.reserve(size_t(streamLimit_));
    for (size_t i = 0; i < objects_.size() && !failed(); ++i)
        streamObject(i);
    // Only the short leaves stay, to be shared by what is still to come.
    std::string kept;
    for (Object& object : objects_) {
        if (object.marker == 0 && object.length <= kSharedLeaf) {
            const quint64 start = kept.size();
            kept.append(leaves_.data() + object.start, object.length);
            object.start = start;
        } else {
            object.start = 0;
            if (object.marker == 0)
                object.length = 0;
        }
    }
    leaves_.swap(kept);
    std::vector<Ref>().swap(refs_);
    uniqueLeaves_ = std::unordered_set<Ref, LeafHash, LeafEqual>(64, LeafHash{this}, LeafEqual{this});
    for (size_t i = 0; i < objects_.size(); ++i) {
        if (objects_[i].marker == 0 && objects_[i].length > 0)
            uniqueLeaves_.insert(Ref(i));
    }
}

bool BinaryPropertyListWriter::finishStreaming(Ref top, QString* error)
{
    if (!streaming_)
        refuse(QStringLiteral("internal error: the list is not being streamed"));
    if (!failed() && top >= objects_.size())
        refuse(QStringLiteral("internal error: the root is not in the list"));
    if (!failed()) {
        const quint64 tableOffset = written_ + chunk_.size();
        const unsigned offsetSize = bytesFor(tableOffset);
        if (tableOffset + quint64(offsets_.size()) * offsetSize + 32 > quint64(UINT32_MAX)) {
            refuse(QStringLiteral("the property list is too large"));
        } else {
            for (const quint64 offset : offsets_) {
                appendBigEndian(chunk_, offset, offsetSize);
                flush(false);
            }
            chunk_.append(6, '\0');
            chunk_.push_back(char(offsetSize));
            chunk_.push_back(char(refSize_));
            appendBigEndian(chunk_, objects_.size(), 8);
            appendBigEndian(chunk_, top, 8);
            appendBigEndian(chunk_, tableOffset, 8);
            flush(true);
        }
    }
    const bool written = !failed();
    if (!written && error)
        *error = error_;
    reset();
    return written;
}

void BinaryPropertyListWriter::appendMarkerAndCount(std::string& out, uchar marker, quint64 count) const
{
    if (count < 15) {
        out.push_back(char(marker | uchar(count)));
        return;
    }
    out.push_back(char(marker | 0x0F));
    appendCountInteger(out, count);
}

BinaryPropertyListWriter::Ref BinaryPropertyListWriter::boolean(bool value)
{
    const char byte = value ? char(0x09) : char(0x08);
    return leaf(std::string_view(&byte, 1));
}

BinaryPropertyListWriter::Ref BinaryPropertyListWriter::integer(qint64 value)
{
    scratch_.clear();
    const quint64 bits = quint64(value);
    // Negative numbers take all 8 bytes, which readers take as signed.
    unsigned width = value < 0 ? 8 : widthOf(bits);
    scratch_.push_back(char(0x10 | log2Of(width)));
    appendBigEndian(scratch_, bits, width);
    return leaf(scratch_);
}

BinaryPropertyListWriter::Ref BinaryPropertyListWriter::unsignedInteger(quint64 value)
{
    if (value <= quint64(INT64_MAX))
        return integer(qint64(value));
    // Above INT64_MAX: 16 bytes, the width that tells readers it is unsigned.
    scratch_.clear();
    scratch_.push_back(char(0x14));
    appendBigEndian(scratch_, 0, 8);
    appendBigEndian(scratch_, value, 8);
    return leaf(scratch_);
}

BinaryPropertyListWriter::Ref BinaryPropertyListWriter::real(double value)
{
    scratch_.clear();
    const float narrow = float(value);
    if (double(narrow) == value || value != value) {
        scratch_.push_back(char(0x22));
        appendBigEndian(scratch_, std::bit_cast<quint32>(narrow), 4);
    } else {
        scratch_.push_back(char(0x23));
        appendBigEndian(scratch_, std::bit_cast<quint64>(value), 8);
    }
    return leaf(scratch_);
}

BinaryPropertyListWriter::Ref BinaryPropertyListWriter::string(const QString& text)
{
    scratch_.clear();
    bool ascii = true;
    for (const QChar c : text) {
        if (c.unicode() == 0)
            return refuse(QStringLiteral("a text contains a NUL character"));
        ascii = ascii && c.unicode() < 0x80;
    }
    if (ascii) {
        appendMarkerAndCount(scratch_, 0x50, quint64(text.size()));
        for (const QChar c : text)
            scratch_.push_back(char(c.unicode()));
    } else {
        appendMarkerAndCount(scratch_, 0x60, quint64(text.size()));
        for (const QChar c : text)
            appendBigEndian(scratch_, c.unicode(), 2);
    }
    return leaf(scratch_);
}

BinaryPropertyListWriter::Ref BinaryPropertyListWriter::data(const QByteArray& bytes)
{
    scratch_.clear();
    appendMarkerAndCount(scratch_, 0x40, quint64(bytes.size()));
    scratch_.append(bytes.constData(), size_t(bytes.size()));
    return leaf(scratch_);
}

BinaryPropertyListWriter::Ref BinaryPropertyListWriter::array(const std::vector<Ref>& elements)
{
    return container(kArray, elements.data(), elements.size());
}

BinaryPropertyListWriter::Ref BinaryPropertyListWriter::dictionary(const std::vector<std::pair<Ref, Ref>>& entries)
{
    std::vector<Ref> refs;
    refs.reserve(2 * entries.size());
    for (const auto& entry : entries)
        refs.push_back(entry.first);
    for (const auto& entry : entries)
        refs.push_back(entry.second);
    return container(kDict, refs.data(), refs.size());
}

BinaryPropertyListWriter::Ref BinaryPropertyListWriter::value(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return boolean(value.toBool());
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::Short:
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
        return integer(value.toLongLong());
    case QMetaType::UChar:
    case QMetaType::UShort:
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        return unsignedInteger(value.toULongLong());
    case QMetaType::Float:
    case QMetaType::Double:
        return real(value.toDouble());
    case QMetaType::QString:
        return string(value.toString());
    case QMetaType::QByteArray:
        return data(value.toByteArray());
    case QMetaType::QVariantList: {
        std::vector<Ref> elements;
        const QVariantList list = value.toList();
        elements.reserve(size_t(list.size()));
        for (const QVariant& element : list)
            elements.push_back(this->value(element));
        return array(elements);
    }
    case QMetaType::QVariantMap: {
        std::vector<std::pair<Ref, Ref>> entries;
        const QVariantMap map = value.toMap();
        entries.reserve(size_t(map.size()));
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            const Ref key = string(it.key());
            entries.emplace_back(key, this->value(it.value()));
        }
        return dictionary(entries);
    }
    default:
        return refuse(value.isValid() ? QStringLiteral("a value of type %1 cannot be stored in a property list")
                                            .arg(QString::fromLatin1(value.metaType().name()))
                                      : QStringLiteral("an empty value cannot be stored in a property list"));
    }
}

QByteArray BinaryPropertyListWriter::finish(Ref top, QString* error)
{
    QByteArray out;
    const bool written = finish(
        top,
        [&out](const char* bytes, size_t size) {
            out.append(bytes, qsizetype(size));
            return true;
        },
        error);
    return written ? out : QByteArray();
}

bool BinaryPropertyListWriter::finish(Ref top, const Sink& sink, QString* error)
{
    if (streaming_)
        refuse(QStringLiteral("internal error: a streamed list ends with finishStreaming"));
    if (!failed() && top >= objects_.size())
        refuse(QStringLiteral("internal error: the root is not in the list"));
    bool written = false;
    if (!failed()) {
        const quint64 count = objects_.size();
        const unsigned refSize = bytesFor(count - 1);
        // Where each object starts, and so how wide an offset must be.
        quint64 size = 8;
        for (const Object& object : objects_) {
            if (object.marker == 0)
                size += object.length;
            else
                size += 1 + countBytes(object.marker == kDict ? object.length / 2 : object.length)
                    + quint64(object.length) * refSize;
        }
        const quint64 tableOffset = size;
        const unsigned offsetSize = bytesFor(tableOffset);
        size += count * offsetSize + 32;
        if (size > quint64(UINT32_MAX)) {
            refuse(QStringLiteral("the property list is too large"));
        } else {
            // Handed on in pieces: the list is never whole in memory twice.
            std::string chunk;
            chunk.reserve(kChunk + 64);
            bool sinkOk = true;
            const auto flushIfFull = [&](bool force) {
                if (sinkOk && !chunk.empty() && (force || chunk.size() >= kChunk)) {
                    sinkOk = sink(chunk.data(), chunk.size());
                    chunk.clear();
                }
            };
            chunk.append("bplist00", 8);
            quint64 at = 8;
            for (Object& object : objects_) {
                const quint64 offset = at;
                const size_t before = chunk.size();
                if (object.marker == 0) {
                    chunk.append(leaves_.data() + object.start, object.length);
                } else {
                    appendMarkerAndCount(chunk, object.marker,
                                         object.marker == kDict ? object.length / 2 : object.length);
                    for (quint32 i = 0; i < object.length; ++i)
                        appendBigEndian(chunk, refs_[object.start + i], refSize);
                }
                at += chunk.size() - before;
                // The start is not needed again: it keeps the offset now.
                object.start = offset;
                flushIfFull(false);
            }
            for (const Object& object : objects_) {
                appendBigEndian(chunk, object.start, offsetSize);
                flushIfFull(false);
            }
            chunk.append(6, '\0');
            chunk.push_back(char(offsetSize));
            chunk.push_back(char(refSize));
            appendBigEndian(chunk, count, 8);
            appendBigEndian(chunk, top, 8);
            appendBigEndian(chunk, tableOffset, 8);
            flushIfFull(true);
            written = sinkOk;
            if (!sinkOk)
                refuse(QStringLiteral("the property list could not be written"));
        }
    }
    if (failed() && error)
        *error = error_;
    reset();
    return written;
}

void BinaryPropertyListWriter::reset()
{
    // What the list took is given back at once: it may have been large.
    uniqueLeaves_ = std::unordered_set<Ref, LeafHash, LeafEqual>(64, LeafHash{this}, LeafEqual{this});
    std::vector<Object>().swap(objects_);
    std::string().swap(leaves_);
    std::vector<Ref>().swap(refs_);
    std::vector<quint64>().swap(offsets_);
    std::string().swap(chunk_);
    sink_ = nullptr;
    streaming_ = false;
    streamLimit_ = 0;
    refSize_ = 0;
    written_ = 0;
    error_.clear();
}

} // namespace platform
