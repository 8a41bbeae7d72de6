#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QDateTime>
#include <QStringView>
#include <QXmlStreamReader>
#include <QtGlobal>

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
// "YYYY-MM-DDTHH:MM:SSZ" in the years every reader of dates agrees on.
std::optional<QDateTime> date(QStringView text);
// Plain base64 in groups of four, white space anywhere.
std::optional<QByteArray> base64(QStringView text);

// The next element's start or end, or the document's end. Anything else
// between them but white space answers Invalid: a declaration of another
// encoding than UTF-8, a DOCTYPE that declares anything, text, CDATA,
// comments and processing instructions.
QXmlStreamReader::TokenType nextPlainToken(QXmlStreamReader& xml);

// A list's file as a streaming reader reads it, noting on the way the bytes
// whose reading the XML rules and the whole-list reader disagree on: a
// carriage return (XML reads a line end "\r\n" as "\n", the property list
// keeps it) and, where the reader does not decode them as the whole-list
// reader does, a numeric character reference ("&#38;").
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
    // not XML to stream, else *error saying which file and why.
    static std::unique_ptr<StreamedFile> openToStream(const std::filesystem::path& file, const Rules& rules,
                                                      QString* error, bool* otherForm);
    ~StreamedFile() override;

    bool isSequential() const override { return true; }
    quint64 fileSize() const { return size_; }
    bool sawDisputedBytes() const { return disputed_; }
    // The errno of a failed read, or 0.
    int failure() const { return failure_; }

protected:
    qint64 readData(char* data, qint64 max) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    StreamedFile(int fd, quint64 size, bool referencesDisputed);

    int fd_;
    quint64 size_;
    bool referencesDisputed_;
    bool disputed_ = false;
    bool afterAmpersand_ = false;
    int failure_ = 0;
};

} // namespace platform::xmlplist
