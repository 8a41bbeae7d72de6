#include "platform/XmlTextEncoding.h"

#include <algorithm>

namespace platform::xmltext {

namespace {

bool isSpace(char16_t c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The head's characters, as far as the declaration needs them: one byte
// each, or two in UTF-16 (a character beyond Latin-1 stops the text, as
// none belongs to a declaration).
QString headText(QByteArrayView head, Kind kind, qsizetype markSize)
{
    QString text;
    if (kind == Kind::Utf16LE || kind == Kind::Utf16BE) {
        for (qsizetype i = markSize; i + 1 < head.size(); i += 2) {
            const uchar a = uchar(head[i]);
            const uchar b = uchar(head[i + 1]);
            const char16_t c = kind == Kind::Utf16LE ? char16_t(a | (b << 8)) : char16_t((a << 8) | b);
            if (c > 0xFF)
                break;
            text += QChar(c);
        }
    } else {
        for (qsizetype i = markSize; i < head.size(); ++i)
            text += QChar(char16_t(uchar(head[i])));
    }
    return text;
}

bool isNamed(const QString& name, std::initializer_list<const char*> names)
{
    return std::any_of(names.begin(), names.end(),
                       [&name](const char* n) { return name.compare(QLatin1String(n), Qt::CaseInsensitive) == 0; });
}

} // namespace

std::optional<Encoding> encodingOf(QByteArrayView head, QString* refused)
{
    const auto refuse = [refused](const QString& why) {
        if (refused)
            *refused = why;
        return std::nullopt;
    };
    Encoding e;
    if (head.startsWith("\xEF\xBB\xBF")) {
        e = {Kind::Utf8, 3};
    } else if (head.startsWith("\xFF\xFE")) {
        e = {Kind::Utf16LE, 2};
    } else if (head.startsWith("\xFE\xFF")) {
        e = {Kind::Utf16BE, 2};
    } else if (head.size() >= 2 && head[0] != 0 && head[1] == 0) {
        e = {Kind::Utf16LE, 0};
    } else if (head.size() >= 2 && head[0] == 0 && head[1] != 0) {
        e = {Kind::Utf16BE, 0};
    }
    const bool wide = e.kind == Kind::Utf16LE || e.kind == Kind::Utf16BE;
    const QString text = headText(head, e.kind, e.markSize);
    if (!text.startsWith(QLatin1String("<?xml")) || (text.size() > 5 && !isSpace(text[5].unicode())))
        return e;
    const qsizetype end = text.indexOf(QLatin1String("?>"));
    if (end < 0)
        return refuse(QStringLiteral("an XML declaration that does not end within its first %1 bytes").arg(kHeadBytes));
    const QString declaration = text.left(end);
    qsizetype at = declaration.indexOf(QLatin1String("encoding"));
    if (at < 0)
        return e;
    at += 8;
    while (at < declaration.size() && isSpace(declaration[at].unicode()))
        ++at;
    if (at >= declaration.size() || declaration[at] != u'=')
        return refuse(QStringLiteral("an XML declaration of its own form"));
    ++at;
    while (at < declaration.size() && isSpace(declaration[at].unicode()))
        ++at;
    const QChar quote = at < declaration.size() ? declaration[at] : QChar();
    const qsizetype close = quote == u'"' || quote == u'\'' ? declaration.indexOf(quote, at + 1) : -1;
    if (close < 0)
        return refuse(QStringLiteral("an XML declaration of its own form"));
    const QString name = declaration.mid(at + 1, close - at - 1);
    const auto contradicts = [&]() {
        return refuse(QStringLiteral("the encoding \u201C%1\u201D declared in a file whose bytes are in another").arg(name));
    };
    if (isNamed(name, {"UTF-16", "UTF-16LE", "UTF-16BE"})) {
        if (!wide || (e.kind == Kind::Utf16LE && isNamed(name, {"UTF-16BE"}))
            || (e.kind == Kind::Utf16BE && isNamed(name, {"UTF-16LE"})))
            return contradicts();
        return e;
    }
    if (wide)
        return contradicts();
    if (isNamed(name, {"UTF-8", "UTF8"}))
        return e;
    if (isNamed(name, {"ISO-8859-1", "ISO_8859-1", "LATIN1", "LATIN-1", "ISO-LATIN-1", "L1"})) {
        if (e.markSize != 0)
            return contradicts();
        return Encoding{Kind::Latin1, 0};
    }
    if (isNamed(name, {"US-ASCII", "ASCII"})) {
        if (e.markSize != 0)
            return contradicts();
        return Encoding{Kind::Ascii, 0};
    }
    return refuse(QStringLiteral("the encoding \u201C%1\u201D, which is not read (UTF-8, UTF-16, ISO-8859-1 and "
                                 "US-ASCII are)")
                      .arg(name.left(40)));
}

ToUtf8::ToUtf8(Encoding encoding)
    : encoding_(encoding), markLeft_(encoding.markSize),
      decoder_(encoding.kind == Kind::Utf16BE ? QStringDecoder::Utf16BE : QStringDecoder::Utf16LE)
{
}

void ToUtf8::convert(const char* bytes, qsizetype size, QByteArray* out)
{
    const qsizetype mark = std::min(markLeft_, size);
    markLeft_ -= mark;
    bytes += mark;
    size -= mark;
    switch (encoding_.kind) {
    case Kind::Utf8:
        out->append(bytes, size);
        return;
    case Kind::Ascii:
        for (qsizetype i = 0; i < size; ++i)
            bad_ = bad_ || uchar(bytes[i]) >= 0x80;
        out->append(bytes, size);
        return;
    case Kind::Latin1:
        out->reserve(out->size() + size);
        for (qsizetype i = 0; i < size; ++i) {
            const uchar c = uchar(bytes[i]);
            if (c < 0x80) {
                out->append(char(c));
            } else {
                out->append(char(0xC0 | (c >> 6)));
                out->append(char(0x80 | (c & 0x3F)));
            }
        }
        return;
    case Kind::Utf16LE:
    case Kind::Utf16BE: {
        wideBytes_ += quint64(size);
        const QString text = decoder_.decode(QByteArrayView(bytes, size));
        bad_ = bad_ || decoder_.hasError();
        out->append(text.toUtf8());
        return;
    }
    }
}

bool ToUtf8::finish()
{
    if ((encoding_.kind == Kind::Utf16LE || encoding_.kind == Kind::Utf16BE) && wideBytes_ % 2 != 0)
        bad_ = true;
    return !bad_ && markLeft_ == 0;
}

std::optional<QByteArray> toUtf8(const QByteArray& document, QString* reason)
{
    const std::optional<Encoding> e = encodingOf(QByteArrayView(document).first(std::min(document.size(), kHeadBytes)), reason);
    if (!e)
        return std::nullopt;
    if (e->kind == Kind::Utf8 && e->markSize == 0)
        return document;
    ToUtf8 converter(*e);
    QByteArray out;
    converter.convert(document.constData(), document.size(), &out);
    if (!converter.finish()) {
        if (reason)
            *reason = e->kind == Kind::Ascii ? QStringLiteral("bytes outside US-ASCII, its declared encoding")
                                             : QStringLiteral("bytes that are not UTF-16, its encoding");
        return std::nullopt;
    }
    return out;
}

} // namespace platform::xmltext
