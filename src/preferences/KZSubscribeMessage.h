#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

// The request for the newsletter: a prepared message that the user's mail
// program opens for the user to send. Nothing is sent by the program itself.
struct KZSubscribeMessage {
    QStringList recipients;
    QString subject;
    QString body;

    // The message as a mailto: address, every part percent-encoded, so that a
    // name holding "&", "#" or "?" cannot cut the body short or add headers.
    QUrl mailtoURL() const;
};

// The mailbox that collects the requests.
QString KZNewsletterAddress();

// Subject "<subscribe_subject> - Maravex - <language>", body the name, a tab
// and the address, both as typed (an empty name still gives the tab).
KZSubscribeMessage KZMakeSubscribeMessage(const QString& name, const QString& email);
