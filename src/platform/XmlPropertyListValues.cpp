#include "platform/XmlPropertyListValues.h"

#include "platform/FileOps.h"
#include "platform/Paths.h"

#include <QRegularExpression>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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
    if (year < 1970 || year > 2037 || !day.isValid() || !time.isValid())
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

QXmlStreamReader::TokenType nextPlainToken(QXmlStreamReader& xml)
{
    for (;;) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartDocument: {
            const QStringView encoding = xml.documentEncoding();
            if (!encoding.isEmpty() && encoding.compare(u"UTF-8", Qt::CaseInsensitive) != 0)
                return QXmlStreamReader::Invalid;
            continue;
        }
        case QXmlStreamReader::DTD:
            // A list's DOCTYPE names its public definition and declares
            // nothing itself.
            if (xml.text().contains(u'['))
                return QXmlStreamReader::Invalid;
            continue;
        case QXmlStreamReader::Characters:
            if (xml.isWhitespace() && !xml.isCDATA())
                continue;
            return QXmlStreamReader::Invalid;
        case QXmlStreamReader::StartElement:
        case QXmlStreamReader::EndElement:
        case QXmlStreamReader::EndDocument:
            return xml.tokenType();
        default:
            return QXmlStreamReader::Invalid;
        }
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

qint64 StreamedFile::readData(char* data, qint64 max)
{
    ssize_t got = 0;
    do
        got = ::read(fd_, data, size_t(max));
    while (got < 0 && errno == EINTR);
    if (got < 0) {
        failure_ = errno;
        return -1;
    }
    for (ssize_t i = 0; i < got; ++i) {
        const char c = data[i];
        if (c == '\r' || (referencesDisputed_ && c == '#' && afterAmpersand_))
            disputed_ = true;
        afterAmpersand_ = c == '&';
    }
    return got;
}

} // namespace platform::xmlplist
