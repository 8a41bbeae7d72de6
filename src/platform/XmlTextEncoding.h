#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

#include <optional>

// The encoding of an XML document, told from its first bytes as XML readers
// tell it (a byte-order mark, the zero bytes of UTF-16, the declaration),
// and its text turned into UTF-8 for the readers that take UTF-8 alone. The
// whole reading of a property list and the scan of a music library export
// that no reading takes decide alike through it.
namespace platform::xmltext {

enum class Kind { Utf8, Utf16LE, Utf16BE, Latin1, Ascii };

struct Encoding {
    Kind kind = Kind::Utf8;
    // The byte-order mark's bytes, which are no character of the text.
    qsizetype markSize = 0;
};

// The bytes within which the declaration must end.
inline constexpr qsizetype kHeadBytes = 1024;

// The encoding of the document that starts with `head` (its first
// kHeadBytes bytes, or all of it when shorter); nullopt, with *refused
// saying why, for an encoding not read (anything but UTF-8, UTF-16,
// ISO-8859-1 and US-ASCII), a declaration that contradicts the mark or the
// bytes, or one that does not end.
std::optional<Encoding> encodingOf(QByteArrayView head, QString* refused);

// A document's bytes into UTF-8, piece by piece; the mark dropped.
class ToUtf8 {
public:
    explicit ToUtf8(Encoding encoding);

    bool passesThrough() const { return encoding_.kind == Kind::Utf8 && markLeft_ == 0; }
    // Appends what the next bytes hold to *out.
    void convert(const char* bytes, qsizetype size, QByteArray* out);
    // No more bytes come: false when a character was cut off or a byte
    // was none of the encoding's (what XML readers refuse).
    bool finish();

private:
    Encoding encoding_;
    qsizetype markLeft_;
    QStringDecoder decoder_;
    quint64 wideBytes_ = 0;
    bool bad_ = false;
};

// The whole document in UTF-8 without a mark (the same bytes when it is in
// UTF-8 already); nullopt with *reason when it cannot be.
std::optional<QByteArray> toUtf8(const QByteArray& document, QString* reason);

} // namespace platform::xmltext
