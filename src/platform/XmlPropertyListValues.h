#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QDateTime>
#include <QStringView>
#include <QXmlStreamReader>
#include <QtGlobal>

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>

// The values of an XML property list's leaf elements, read by a reader that
// streams the list, in only the plain forms on which it and the whole-list
// reader cannot disagree. Any other form answers nothing: such a list is
// left to the whole-list reader, which decides what it means.
namespace platform::xmlplist {

// A decimal integer without leading zeros and no sign but '-', within 64
// signed bits.
std::optional<qint64> integer(QStringView text);
// Digits, an optional fraction and exponent; finite.
std::optional<double> real(QStringView text);
// "YYYY-MM-DDTHH:MM:SSZ", a real day and time of any year from 0001 to 9999.
std::optional<QDateTime> date(QStringView text);
// Plain base64 in groups of four, white space anywhere.
std::optional<QByteArray> base64(QStringView text);

// Whether `text` is base64 that base64() takes, checked piece by piece
// without holding its bytes: for a value that is passed over.
class Base64Check {
public:
    bool add(QStringView text);
    bool finish();

private:
    bool flush();

    QByteArray group_;
    qsizetype letters_ = 0;
    int padding_ = 0;
    bool bad_ = false;
};

class TokenStream;

// The next element's start or end, or the document's end. Anything else
// between them but white space answers Invalid: a declaration of another
// encoding than UTF-8, a DOCTYPE that declares anything, text, CDATA,
// comments and processing instructions; so does an element with attributes,
// but for the list's own <plist> with values of plain text.
QXmlStreamReader::TokenType nextPlainToken(TokenStream& tokens);

// What the reader stands on that is not of the plain form, for a message:
// "line 12: a comment". After an element's end, that element's value.
QString notPlainAt(const QXmlStreamReader& xml);

// A list's file as a streaming reader reads it. A carriage return is handed
// on so that XML reads it as the whole-list reader does: XML reads a line end
// "\r\n" in a text as "\n", the property list keeps both characters, so in
// the text of a value it becomes "&#13;", which XML keeps; anywhere else
// (between elements, inside a tag) both readers take it as white space, and
// it becomes a space. (A comment, CDATA or a processing instruction may
// mislead that scan; a file holding one is never read as it streams.) The
// whole-list reader decodes references ("&#38;", "&amp;") only in strings
// and keys: one in a number, a date, data or a boolean is noted as bytes the
// two readings disagree on, as is a numeric one that reader refuses for its
// length, and, where the reader does not decode them as that reader does,
// every numeric reference.
class StreamedFile : public QIODevice {
public:
    struct Rules {
        quint64 maxSize = 0;
        // What the file is, in "%1 holds at most": "an undo file".
        QString kind;
        bool followLinks = false;
        bool referencesDisputed = false;
    };

    // Opens `file` without blocking: a regular file of at most maxSize
    // bytes, without holes, that opens as XML in UTF-8 without a byte-order
    // mark. Otherwise null, with *otherForm set for a file that is merely
    // not XML to stream (and *error saying what it is instead), else *error
    // saying which file and why.
    static std::unique_ptr<StreamedFile> openToStream(const std::filesystem::path& file, const Rules& rules,
                                                      QString* error, bool* otherForm);
    ~StreamedFile() override;

    bool isSequential() const override { return true; }
    quint64 fileSize() const { return size_; }
    bool sawDisputedBytes() const { return disputed_; }
    // Where the first of those bytes lay, for a message: "line 3: a
    // character reference".
    QString disputedAt() const;
    // The errno of a failed read, or 0: ECANCELED once `stop` was raised.
    int failure() const { return failure_; }
    // Checked before every piece of the file is read: a raised flag ends
    // the file there, as a failed read does.
    void setStop(const std::atomic<bool>* stop) { stop_ = stop; }

protected:
    qint64 readData(char* data, qint64 max) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    StreamedFile(int fd, quint64 size, bool referencesDisputed);

    // Passes one byte of the file through the scan of tags and texts;
    // answers what it becomes: itself, a space, or nothing when it became
    // "&#13;" (already put in held_).
    bool pass(char c, char* out);
    // What the two readings disagree on: any numeric reference (where the
    // rules say so), a reference in a value that is no text, a numeric one
    // padded with zeros.
    enum class Disputed : quint8 { Any, InValue, Padded };
    void dispute(Disputed kind);
    // A byte of a value's text, for the references in it.
    void followReference(char c);

    int fd_;
    quint64 size_;
    const std::atomic<bool>* stop_ = nullptr;
    bool referencesDisputed_;
    bool disputed_ = false;
    Disputed disputedKind_ = Disputed::Any;
    bool afterAmpersand_ = false;
    // Within a reference of a value's text: the characters after its '&'
    // so far (-1 outside one), and whether the first was '#'.
    int referenceLength_ = -1;
    bool numericReference_ = false;
    int failure_ = 0;
    quint64 line_ = 1;
    quint64 disputedLine_ = 0;
    // The scan: inside a tag (and inside a quoted value in it), the start of
    // the tag, and whether the text now read is a value's.
    bool inTag_ = false;
    char quote_ = 0;
    QByteArray tag_;
    bool nameDone_ = false;
    char beforeClose_ = 0;
    bool inValueText_ = false;
    // ... and whether that value is a text (a string or a key).
    bool inText_ = false;
    // Bytes handed on that did not fit into the last read.
    QByteArray held_;
    qsizetype heldAt_ = 0;
};

// A file's tokens, read by handing the XML reader the file a piece at a
// time. QXmlStreamReader holds every character of a token, two bytes each,
// until the token ends, and reading from a device it reads on to that end
// however far it is: fed in pieces, a token is stopped once more of the
// file has gone into it than the caller allows, before it is collected.
class TokenStream {
public:
    explicit TokenStream(StreamedFile* file);

    QXmlStreamReader& xml() { return xml_; }
    // The most bytes of the file the tokens read from now on may hold.
    void setLimit(quint64 bytes) { limit_ = bytes; }
    // As QXmlStreamReader::readNext; Invalid, once and from then on, for a
    // token longer than the limit, and for a document that goes on past
    // its end with anything but white space.
    QXmlStreamReader::TokenType readNext();
    bool tooLong() const { return tooLong_; }
    // Where the token that was too long begins, for a message: "line 12,
    // column 9", as the XML reader counts lines and characters.
    QString tooLongAt() const;

private:
    static constexpr qint64 kPiece = 64 * 1024;

    bool onlySpaceLeft();

    QXmlStreamReader xml_;
    StreamedFile* file_;
    QByteArray piece_;
    quint64 fed_ = 0;
    // The bytes fed when the last token ended: all that came after belong
    // to the token being read.
    quint64 tokenStart_ = 0;
    // Where the last token ended, which is where the next one begins.
    qint64 startLine_ = 1;
    qint64 startColumn_ = 0;
    quint64 limit_ = UINT64_MAX;
    bool tooLong_ = false;
    bool ended_ = false;
};

} // namespace platform::xmlplist
