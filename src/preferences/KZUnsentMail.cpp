#include "preferences/KZUnsentMail.h"

#include "platform/HexDigit.h"

namespace {

using platform::hexDigitValue;

QString decoded(QByteArrayView part)
{
    QByteArray bytes;
    bytes.reserve(part.size());
    for (qsizetype i = 0; i < part.size(); ++i) {
        const char c = part[i];
        if (c == '%' && i + 2 < part.size() && hexDigitValue(part[i + 1]) >= 0 && hexDigitValue(part[i + 2]) >= 0) {
            bytes += char(hexDigitValue(part[i + 1]) * 16 + hexDigitValue(part[i + 2]));
            i += 2;
        } else {
            bytes += c;
        }
    }
    QString text = QString::fromUtf8(bytes);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

void addRecipients(QStringList& recipients, QByteArrayView encoded)
{
    for (const QByteArray& one : encoded.toByteArray().split(',')) {
        const QString address = decoded(one).trimmed();
        if (!address.isEmpty())
            recipients << address;
    }
}

} // namespace

QString KZUnsentMail::recipientsLine() const
{
    return recipients.join(QLatin1String(", "));
}

std::optional<KZUnsentMail> KZUnsentMail::fromURL(const QUrl& url)
{
    return fromEncoded(url.toEncoded(QUrl::FullyEncoded));
}

std::optional<KZUnsentMail> KZUnsentMail::fromEncoded(const QByteArray& encoded)
{
    static constexpr char scheme[] = "mailto:";
    constexpr qsizetype schemeSize = sizeof(scheme) - 1;
    if (encoded.left(schemeSize).toLower() != QByteArray(scheme))
        return std::nullopt;
    QByteArrayView rest = QByteArrayView(encoded).sliced(schemeSize);
    // A mail message has no fragment: what follows "#" belongs to no part.
    if (const qsizetype hash = rest.indexOf('#'); hash >= 0)
        rest = rest.first(hash);

    KZUnsentMail mail;
    const qsizetype question = rest.indexOf('?');
    addRecipients(mail.recipients, question < 0 ? rest : rest.first(question));
    if (question < 0)
        return mail;
    bool hasSubject = false;
    bool hasBody = false;
    for (const QByteArray& field : rest.sliced(question + 1).toByteArray().split('&')) {
        const qsizetype equals = field.indexOf('=');
        const QString name = decoded(QByteArrayView(field).first(equals < 0 ? field.size() : equals)).toLower();
        const QByteArrayView value = equals < 0 ? QByteArrayView() : QByteArrayView(field).sliced(equals + 1);
        // A header given twice counts once: the first.
        if (name == QLatin1String("to")) {
            // A header's value is decoded whole: its commas may be encoded.
            for (const QString& address : decoded(value).split(QLatin1Char(',')))
                if (!address.trimmed().isEmpty())
                    mail.recipients << address.trimmed();
        } else if (name == QLatin1String("subject") && !hasSubject) {
            mail.subject = decoded(value);
            hasSubject = true;
        } else if (name == QLatin1String("body") && !hasBody) {
            mail.body = decoded(value);
            hasBody = true;
        }
    }
    return mail;
}
