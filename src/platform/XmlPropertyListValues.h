#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QStringView>
#include <QXmlStreamReader>
#include <QtGlobal>

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

} // namespace platform::xmlplist
