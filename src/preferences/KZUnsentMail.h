#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

// A mail message that no mail program took, read back from its mailto:
// address so that the user can send it by hand: every part fully decoded,
// as the user would type it.
//
// Headers are split before anything is decoded, so an encoded "&" or "="
// stays inside its part, and so are the addresses before "?"; the "to"
// header is a list decoded whole. "+" is a plus sign (a mailto: address is not a
// form), escapes are read as UTF-8, a "%" that starts no escape stays as it
// is, and line breaks of any form come back as "\n".
struct KZUnsentMail {
    QStringList recipients;
    QString subject;
    QString body;

    // The recipients as one line, as a mail program's "To" field takes them.
    QString recipientsLine() const;

    // Nothing when the address is not a mailto: address.
    static std::optional<KZUnsentMail> fromURL(const QUrl& url);
    static std::optional<KZUnsentMail> fromEncoded(const QByteArray& encoded);
};
