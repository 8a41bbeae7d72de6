#include "platform/XmlPropertyListValues.h"

#include "platform/FileOps.h"
#include "platform/Paths.h"

#include <QRegularExpression>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <cmath>

namespace platform::xmlplist {

std::optional<qint64> integer(QStringView text)
{
    static const QRegularExpression plain(QStringLiteral("\\A-?(0|[1-9][0-9]{0,18})\\z"));
    if (!plain.match(text).hasMatch() || text == u"-0")
        return std::nullopt;
    bool ok = false;
    const qint64 v = text.toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    return v;
}

std::optional<double> real(QStringView text)
{
    static const QRegularExpression plain(
        QStringLiteral("\\A-?[0-9]{1,30}(\\.[0-9]{1,30})?([eE][-+]?[0-9]{1,3})?\\z"));
    if (!plain.match(text).hasMatch())
        return std::nullopt;
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::optional<QDateTime> date(QStringView text)
{
    static const QRegularExpression plain(
        QStringLiteral("\\A([0-9]{4})-([0-9]{2})-([0-9]{2})T([0-9]{2}):([0-9]{2}):([0-9]{2})Z\\z"));
    const auto m = plain.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const int year = m.capturedView(1).toInt();
    const QDate day(year, m.capturedView(2).toInt(), m.capturedView(3).toInt());
    const QTime time(m.capturedView(4).toInt(), m.capturedView(5).toInt(), m.capturedView(6).toInt());
    // Every year of four digits but 0 (which the calendar lacks) reads as the
    // whole-list reader reads it, before 1970 and after 2038 alike.
    if (year < 1 || !day.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(day, time, Qt::UTC);
}

std::optional<QByteArray> base64(QStringView text)
{
    QByteArray packed;
    packed.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == ' ' || u == '\t' || u == '\n' || u == '\r')
            continue;
        const bool letter = (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '+'
                            || u == '/' || u == '=';
        if (!letter)
            return std::nullopt;
        packed.append(char(u));
    }
    const qsizetype padding = packed.endsWith("==") ? 2 : packed.endsWith('=') ? 1 : 0;
    const qsizetype firstPad = packed.indexOf('=');
    if (packed.size() % 4 != 0 || (firstPad >= 0 && firstPad < packed.size() - padding))
        return std::nullopt;
    auto decoded = QByteArray::fromBase64Encoding(packed, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return std::move(decoded.decoded);
}

namespace {

// An attribute the whole-list reader passes over as this reader does: on the
// list's own element, a value that holds no quote and no '>' (which that
// reader, looking for a tag's end, would take for one).
bool isPlainAttribute(const QXmlStreamReader& xml)
{
    if (xml.qualifiedName() != u"plist" || !xml.namespaceDeclarations().isEmpty())
        return false;
    for (const QXmlStreamAttribute& attribute : xml.attributes()) {
        const QStringView value = attribute.value();
        if (value.contains(u'>') || value.contains(u'<') || value.contains(u'"') || value.contains(u'\''))
            return false;
    }
    return true;
}

bool isBase64Letter(char16_t u)
{
    return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '+' || u == '/'
        || u == '=';
}

bool isSpace(char16_t u)
{
    return u == ' ' || u == '\t' || u == '\n' || u == '\r';
}
} // namespace

// base64()'s rules, a group of whole quads at a time: '=' only at the end
// and at most two of them, whole quads, and each group decoding.
bool Base64Check::add(QStringView text)
{
    constexpr qsizetype kGroup = 64 * 1024;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (isSpace(u))
            continue;
        if (!isBase64Letter(u) || (padding_ > 0 && u != '=')) {
            bad_ = true;
            return false;
        }
        padding_ += u == '=' ? 1 : 0;
        group_.append(char(u));
        ++letters_;
        if (group_.size() >= kGroup && padding_ == 0 && !flush())
            return false;
    }
    return !bad_;
}

bool Base64Check::flush()
{
    if (!group_.isEmpty() && !QByteArray::fromBase64Encoding(group_, QByteArray::AbortOnBase64DecodingErrors))
        bad_ = true;
    group_.clear();
    return !bad_;
}

bool Base64Check::finish()
{
    if (bad_ || letters_ % 4 != 0 || padding_ > 2)
        return false;
    return flush();
}

QXmlStreamReader::TokenType nextPlainToken(TokenStream& tokens)
{
    QXmlStreamReader& xml = tokens.xml();
    for (;;) {
        switch (tokens.readNext()) {
        case QXmlStreamReader::StartDocument: {
            const QStringView encoding = xml.documentEncoding();
            if (!encoding.isEmpty() && encoding.compare(u"UTF-8", Qt::CaseInsensitive) != 0)
                return QXmlStreamReader::Invalid;
            continue;
        }
        case QXmlStreamReader::DTD:
            // A list's DOCTYPE names its public definition and declares
            // nothing itself; the whole-list reader knows only double quotes.
            if (xml.text().contains(u'[') || xml.text().contains(u'\''))
                return QXmlStreamReader::Invalid;
            continue;
        case QXmlStreamReader::Characters:
            if (xml.isWhitespace() && !xml.isCDATA())
                continue;
            return QXmlStreamReader::Invalid;
        case QXmlStreamReader::StartElement:
            if ((!xml.attributes().isEmpty() || !xml.namespaceDeclarations().isEmpty()) && !isPlainAttribute(xml))
                return QXmlStreamReader::Invalid;
            return xml.tokenType();
        case QXmlStreamReader::EndElement:
        case QXmlStreamReader::EndDocument:
            return xml.tokenType();
        default:
            return QXmlStreamReader::Invalid;
        }
    }
}

QString notPlainAt(const QXmlStreamReader& xml)
{
    const QString line = QStringLiteral("line %1: ").arg(xml.lineNumber());
    if (xml.hasError())
        return line + QStringLiteral("XML that is not well formed (%1)").arg(xml.errorString());
    const QString name = xml.qualifiedName().toString();
    switch (xml.tokenType()) {
    case QXmlStreamReader::StartDocument:
        return line + QStringLiteral("the encoding %1").arg(xml.documentEncoding().toString());
    case QXmlStreamReader::DTD:
        return line + QStringLiteral("a DOCTYPE of its own");
    case QXmlStreamReader::Comment:
        return line + QStringLiteral("a comment");
    case QXmlStreamReader::ProcessingInstruction:
        return line + QStringLiteral("a processing instruction");
    case QXmlStreamReader::EntityReference:
        return line + QStringLiteral("an entity of its own");
    case QXmlStreamReader::Characters:
        return line + (xml.isCDATA() ? QStringLiteral("a CDATA section") : QStringLiteral("text between elements"));
    case QXmlStreamReader::StartElement:
        if (!xml.attributes().isEmpty() || !xml.namespaceDeclarations().isEmpty())
            return line + QStringLiteral("attributes on <%1>").arg(name);
        return line + QStringLiteral("an element <%1> where none belongs").arg(name);
    case QXmlStreamReader::EndElement:
        return line + QStringLiteral("a <%1> value written in a form of its own").arg(name);
    case QXmlStreamReader::EndDocument:
        return line + QStringLiteral("an end before the list's end");
    default:
        return line + QStringLiteral("a part of XML of its own");
    }
}

std::unique_ptr<StreamedFile> StreamedFile::openToStream(const std::filesystem::path& file, const Rules& rules,
                                                         QString* error, bool* otherForm)
{
    *otherForm = false;
    const QString name = QStringLiteral("\u201C%1\u201D").arg(pathText(file));
    const auto fail = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("Could not read %1: %2").arg(name, why);
        return nullptr;
    };
    // Without blocking: a pipe in the file's place must not hang the reader.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | (rules.followLinks ? 0 : O_NOFOLLOW));
    if (fd < 0)
        return fail(systemErrorString(errno));
    struct Closer {
        int fd;
        bool keep = false;
        ~Closer()
        {
            if (!keep)
                ::close(fd);
        }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return fail(QStringLiteral("not a regular file"));
    const quint64 size = quint64(st.st_size);
    if (size > rules.maxSize)
        return fail(QStringLiteral("the file is too large (%1 bytes; %2 holds at most %3)")
                        .arg(size)
                        .arg(rules.kind)
                        .arg(rules.maxSize));
    // A sparse file claims bytes it never wrote.
    if (const off_t hole = ::lseek(fd, 0, SEEK_HOLE); hole >= 0 && quint64(hole) < size)
        return fail(QStringLiteral("the file has holes (parts that were never written): it is damaged"));
    char head[2] = {};
    if (::pread(fd, head, sizeof head, 0) != ssize_t(sizeof head) || head[0] != '<' || head[1] == '\0'
        || ::lseek(fd, 0, SEEK_SET) != 0) {
        *otherForm = true;
        if (error)
            *error = std::memcmp(head, "bp", 2) == 0 ? QStringLiteral("line 1: the binary form of a property list")
                                                     : QStringLiteral("line 1: a start other than \u201C<\u201D");
        return nullptr;
    }
    closer.keep = true;
    return std::unique_ptr<StreamedFile>(new StreamedFile(fd, size, rules.referencesDisputed));
}

StreamedFile::StreamedFile(int fd, quint64 size, bool referencesDisputed)
    : fd_(fd), size_(size), referencesDisputed_(referencesDisputed)
{
    open(QIODevice::ReadOnly);
}

StreamedFile::~StreamedFile()
{
    ::close(fd_);
}

QString StreamedFile::disputedAt() const
{
    switch (disputedKind_) {
    case Disputed::InValue:
        return QStringLiteral("line %1: a reference (\u201C&\u2026;\u201D) in a number, a date, data or a "
                              "boolean")
            .arg(disputedLine_);
    case Disputed::Padded:
        return QStringLiteral("line %1: a character reference (\u201C&#\u2026;\u201D) padded with zeros")
            .arg(disputedLine_);
    default:
        return QStringLiteral("line %1: a character reference (\u201C&#\u2026;\u201D)").arg(disputedLine_);
    }
}

void StreamedFile::dispute(Disputed kind)
{
    if (disputed_)
        return;
    disputed_ = true;
    disputedKind_ = kind;
    disputedLine_ = line_;
}

void StreamedFile::followReference(char c)
{
    // The whole-list reader decodes references in texts and keys only, and
    // there refuses a numeric one of more than eight characters between
    // '&' and ';', which XML reads whatever its zeros.
    if (c == '&') {
        if (!inText_)
            dispute(Disputed::InValue);
        referenceLength_ = 0;
        numericReference_ = false;
        return;
    }
    if (referenceLength_ < 0)
        return;
    if (c == ';') {
        if (numericReference_ && referenceLength_ > 8)
            dispute(Disputed::Padded);
        referenceLength_ = -1;
        return;
    }
    if (referenceLength_ == 0)
        numericReference_ = c == '#';
    referenceLength_ = std::min(referenceLength_ + 1, 64);
}

bool StreamedFile::pass(char c, char* out)
{
    *out = c;
    if (c == '\n')
        ++line_;
    if (referencesDisputed_ && c == '#' && afterAmpersand_)
        dispute(Disputed::Any);
    afterAmpersand_ = c == '&';
    if (!inTag_ && inValueText_ && c != '<')
        followReference(c);
    const bool space = c == ' ' || c == '\t' || c == '\n' || c == '\r';
    if (!inTag_) {
        if (c == '<') {
            referenceLength_ = -1;
            inTag_ = true;
            quote_ = 0;
            tag_.clear();
            nameDone_ = false;
            beforeClose_ = 0;
        } else if (c == '\r') {
            if (inValueText_) {
                held_.append("&#13;");
                return false;
            }
            *out = ' ';
        }
        return true;
    }
    if (c == '\r')
        *out = ' ';
    if (quote_ != 0) {
        if (c == quote_)
            quote_ = 0;
    } else if (c == '"' || c == '\'') {
        quote_ = c;
    } else if (c == '>') {
        // A value's text follows the start of any element but the list and
        // its containers; between elements there is only white space.
        inTag_ = false;
        const bool start = !tag_.isEmpty() && tag_[0] != '/' && tag_[0] != '?' && tag_[0] != '!';
        inValueText_ = start && beforeClose_ != '/' && tag_ != "plist" && tag_ != "dict" && tag_ != "array";
        inText_ = tag_ == "string" || tag_ == "key";
        return true;
    }
    // The tag's name, as far as it tells the list's elements apart.
    if (!nameDone_) {
        if (space || (c == '/' && !tag_.isEmpty()) || tag_.size() >= 16)
            nameDone_ = true;
        else
            tag_.append(c);
    }
    beforeClose_ = c;
    return true;
}

TokenStream::TokenStream(StreamedFile* file) : file_(file), piece_(int(kPiece), Qt::Uninitialized)
{
    xml_.setNamespaceProcessing(false);
}

QXmlStreamReader::TokenType TokenStream::readNext()
{
    if (tooLong_)
        return QXmlStreamReader::Invalid;
    for (;;) {
        const QXmlStreamReader::TokenType token = xml_.readNext();
        if (token == QXmlStreamReader::Invalid && xml_.error() == QXmlStreamReader::PrematureEndOfDocumentError
            && !ended_) {
            // All the bytes fed since the last token belong to the one
            // being read.
            if (fed_ - tokenStart_ > limit_) {
                tooLong_ = true;
                return QXmlStreamReader::Invalid;
            }
            const qint64 got = file_->read(piece_.data(), kPiece);
            if (got <= 0) {
                ended_ = true;
                continue;
            }
            xml_.addData(QByteArray(piece_.constData(), got));
            fed_ += quint64(got);
            continue;
        }
        tokenStart_ = fed_;
        startLine_ = xml_.lineNumber();
        startColumn_ = xml_.columnNumber();
        // Fed in pieces, the reader ends the document where its root ends
        // and the bytes fed so far do: what follows is not read by it.
        if (token == QXmlStreamReader::EndDocument && !ended_ && !onlySpaceLeft())
            return QXmlStreamReader::Invalid;
        return token;
    }
}

QString TokenStream::tooLongAt() const
{
    return QStringLiteral("line %1, column %2").arg(startLine_).arg(startColumn_ + 1);
}

bool TokenStream::onlySpaceLeft()
{
    for (;;) {
        const qint64 got = file_->read(piece_.data(), kPiece);
        if (got <= 0) {
            ended_ = true;
            return true;
        }
        for (qint64 i = 0; i < got; ++i)
            if (!isSpace(char16_t(uchar(piece_[i]))))
                return false;
    }
}

qint64 StreamedFile::readData(char* data, qint64 max)
{
    if (stop_ && stop_->load(std::memory_order_relaxed)) {
        failure_ = ECANCELED;
        return -1;
    }
    if (heldAt_ == held_.size() && !held_.isEmpty()) {
        held_.clear();
        heldAt_ = 0;
    }
    qint64 given = 0;
    if (held_.isEmpty()) {
        ssize_t got = 0;
        do
            got = ::read(fd_, data, size_t(max));
        while (got < 0 && errno == EINTR);
        if (got < 0) {
            failure_ = errno;
            return -1;
        }
        // In place until a carriage return grows into a reference; from
        // there on into held_, handed on by the reads that follow.
        for (ssize_t i = 0; i < got; ++i) {
            char out = 0;
            if (!held_.isEmpty()) {
                if (pass(data[i], &out))
                    held_.append(out);
            } else if (pass(data[i], &out)) {
                data[given++] = out;
            }
        }
        if (given > 0)
            return given;
    }
    const qint64 n = std::min<qint64>(max, held_.size() - heldAt_);
    std::memcpy(data, held_.constData() + heldAt_, size_t(n));
    heldAt_ += n;
    return n;
}

} // namespace platform::xmlplist
