#include "platform/XmlPropertyListValues.h"

#include <QRegularExpression>

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

} // namespace platform::xmlplist
