#include "preferences/KZSubscribeMessage.h"

#include "platform/StringTable.h"

QString KZNewsletterAddress()
{
    return QStringLiteral("newsletter@maravex.app");
}

KZSubscribeMessage KZMakeSubscribeMessage(const QString& name, const QString& email)
{
    KZSubscribeMessage message;
    message.recipients = {KZNewsletterAddress()};
    message.subject = QStringLiteral("%1 - %2 - %3")
                          .arg(platform::localizedString(QStringLiteral("subscribe_subject")),
                               QStringLiteral("Maravex"), platform::localizedString(QStringLiteral("language")));
    message.body = name + QLatin1Char('\t') + email;
    return message;
}

QUrl KZSubscribeMessage::mailtoURL() const
{
    QByteArray encoded = "mailto:";
    for (qsizetype i = 0; i < recipients.size(); ++i) {
        if (i)
            encoded += ',';
        // "@" stays readable; everything that could end the address is encoded.
        encoded += QUrl::toPercentEncoding(recipients.at(i), "@");
    }
    encoded += "?subject=" + QUrl::toPercentEncoding(subject);
    encoded += "&body=" + QUrl::toPercentEncoding(body);
    return QUrl::fromEncoded(encoded, QUrl::StrictMode);
}
