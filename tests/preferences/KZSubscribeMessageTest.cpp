#include "preferences/KZSubscribeMessage.h"

#include "platform/StringTable.h"

#include <QUrlQuery>

#include <gtest/gtest.h>

namespace {

TEST(KZSubscribeMessage, SubjectNamesTheProductBetweenTheTwoTexts)
{
    const KZSubscribeMessage message = KZMakeSubscribeMessage(QStringLiteral("Ada"), QStringLiteral("ada@example.org"));
    EXPECT_EQ(message.recipients, QStringList{KZNewsletterAddress()});
    EXPECT_EQ(message.subject, platform::localizedString(QStringLiteral("subscribe_subject")) +
                                   QStringLiteral(" - Maravex - ") +
                                   platform::localizedString(QStringLiteral("language")));
}

TEST(KZSubscribeMessage, BodyIsNameTabAddressAndSurvivesTheMailtoAddress)
{
    // Names a user may type that would break a hand-built mailto: address.
    const QString names[] = {
        QString(),
        QStringLiteral("Ada Lovelace"),
        QStringLiteral("Tom & Jerry"),
        QStringLiteral("x&cc=attacker@evil.example"),
        QStringLiteral("50% #1 ?why=not"),
        QStringLiteral("A+B = C"),
        QStringLiteral("Zoë Ångström 李"),
        QStringLiteral("two\nlines"),
    };
    const QString address = QStringLiteral("a.b-c@mail.example.org");
    for (const QString& name : names) {
        const KZSubscribeMessage message = KZMakeSubscribeMessage(name, address);
        EXPECT_EQ(message.body, name + QLatin1Char('\t') + address);

        const QUrl url = message.mailtoURL();
        ASSERT_TRUE(url.isValid()) << name.toStdString();
        EXPECT_EQ(url.scheme(), QStringLiteral("mailto"));
        EXPECT_EQ(url.path(), KZNewsletterAddress());
        const QUrlQuery query(url);
        EXPECT_EQ(query.queryItemValue(QStringLiteral("body"), QUrl::FullyDecoded), message.body) << name.toStdString();
        EXPECT_EQ(query.queryItemValue(QStringLiteral("subject"), QUrl::FullyDecoded), message.subject);
        EXPECT_FALSE(query.hasQueryItem(QStringLiteral("cc"))) << name.toStdString();
    }
}

} // namespace
