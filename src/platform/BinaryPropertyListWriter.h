#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QtGlobal>

#include <functional>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

namespace platform {

// A binary property list written object by object, for lists too large to
// build as a tree of values first (a saved result of hundreds of thousands
// of records). Each value is added once, children before the container that
// holds them, and answers a reference for that container; finish() lays the
// objects out with the reference table and trailer around them.
//
// Memory stays of the order of the finished list: the objects' own bytes,
// four bytes per reference, and one table entry per distinct value; or,
// streaming, an offset per object and the short values alone. Equal values
// (a dictionary's keys, above all) are written once and shared, as any
// reader of the format expects them to be; streaming, only short ones are
// (values too long to share, a reference's bytes, are not looked for again).
//
// The encoding is the one PropertyList::toData writes: integers from 0 to
// INT64_MAX in their smallest width, negative ones in 8 bytes, unsigned ones
// above INT64_MAX in 16; text in ASCII where it is, UTF-16 otherwise; a real
// in 4 bytes where that keeps it exactly. So PropertyList reads back what
// was added, type for type.
class BinaryPropertyListWriter {
public:
    using Ref = quint32;

    BinaryPropertyListWriter();

    Ref boolean(bool value);
    Ref integer(qint64 value);
    Ref unsignedInteger(quint64 value);
    Ref real(double value);
    // Text holding a NUL is refused (see failed()): readers cut it short.
    Ref string(const QString& text);
    Ref data(const QByteArray& bytes);
    Ref array(const std::vector<Ref>& elements);
    // Keys (references to strings) and values, in the order given.
    Ref dictionary(const std::vector<std::pair<Ref, Ref>>& entries);

    // A value of PropertyList's mapping: bool, the integer types, double,
    // QString, QByteArray, QVariantList, QVariantMap. Anything else (a date,
    // an invalid or custom value) is refused.
    Ref value(const QVariant& value);

    // True once something was refused; finish() then answers nothing.
    bool failed() const { return !error_.isEmpty(); }
    const QString& error() const { return error_; }

    // The list with `top` as its root. The writer is empty afterwards.
    QByteArray finish(Ref top, QString* error = nullptr);
    // The same handed to `sink` in pieces of about a megabyte, so that a
    // large list is not held twice; false when something was refused or the
    // sink answered false.
    using Sink = std::function<bool(const char* bytes, size_t size)>;
    bool finish(Ref top, const Sink& sink, QString* error = nullptr);

    // From here on each object goes to `sink` as it is added, so that a list
    // far larger than what came before (a result's item records after its
    // window state) is never held whole: memory keeps each object's offset
    // and the short values that later ones may share. `objectsToCome`
    // bounds how many objects will still be added, which sets the width of
    // every reference; adding more is refused. End with finishStreaming.
    void streamTo(Sink sink, quint64 objectsToCome);
    bool finishStreaming(Ref top, QString* error = nullptr);

private:
    Ref leaf(std::string_view encoded);
    Ref container(uchar marker, const Ref* refs, size_t count);
    Ref refuse(const QString& reason);
    void appendMarkerAndCount(std::string& out, uchar marker, quint64 count) const;

    struct Object {
        // A leaf: its bytes in leaves_. A container: its references in refs_
        // (a dictionary's keys, then its values).
        quint64 start = 0;
        quint32 length = 0;
        uchar marker = 0; // 0 for a leaf; 0xA0 or 0xD0 for a container
    };
    struct LeafHash {
        const BinaryPropertyListWriter* writer;
        using is_transparent = void;
        size_t operator()(Ref ref) const;
        size_t operator()(std::string_view bytes) const;
    };
    struct LeafEqual {
        const BinaryPropertyListWriter* writer;
        using is_transparent = void;
        bool operator()(Ref a, Ref b) const;
        bool operator()(std::string_view a, Ref b) const;
        bool operator()(Ref a, std::string_view b) const;
    };
    std::string_view leafBytes(Ref ref) const;
    void streamObject(size_t index);
    // Where the next object begins; false when none may be added.
    bool beginStreamedObject();
    void flush(bool force);
    void reset();

    std::vector<Object> objects_;
    std::string leaves_;
    std::vector<Ref> refs_;
    std::unordered_set<Ref, LeafHash, LeafEqual> uniqueLeaves_;
    std::string scratch_;
    QString error_;

    // While streaming: leaves_ holds only the leaves that may be shared,
    // objects_ their place there (other objects keep their length alone),
    // and offsets_ where every object begins in the list.
    bool streaming_ = false;
    Sink sink_;
    quint64 streamLimit_ = 0;
    unsigned refSize_ = 0;
    std::vector<quint64> offsets_;
    std::string chunk_;
    quint64 written_ = 0;
};

} // namespace platform
