#include "preferences/KZUnsentMail.h"

#include "preferences/KZSubscribeMessage.h"

#include <gtest/gtest.h>

namespace {

KZUnsentMail read(const char* encoded)
{
    const auto mail = KZUnsentMail::fromEncoded(QByteArray(encoded));
    EXPECT_TRUE(mail.has_value()) << encoded;
    return mail.value_or(KZUnsentMail{});
}

TEST(KZUnsentMail, EveryPartIsDecodedAsTheUserWouldTypeIt)
{
    // "+" is a plus sign, not a space; "%2B" is one too.
    EXPECT_EQ(read("mailto:a+b@x.example?subject=1+1%2B1").subject, QStringLiteral("1+1+1"));
    EXPECT_EQ(read("mailto:a+b@x.example").recipients, QStringList{QStringLiteral("a+b@x.example")});
    // Line breaks of every form come back as one "\n".
    EXPECT_EQ(read("mailto:?body=one%0D%0Atwo%0Athree%0Dfour").body, QStringLiteral("one\ntwo\nthree\nfour"));
    // Escapes are UTF-8, in either case of hex digit; raw UTF-8 too.
    EXPECT_EQ(read("mailto:?body=Zo%C3%AB%20%e6%9d%8e").body, QStringLiteral("Zoë 李"));
    EXPECT_EQ(read("mailto:?subject=Zo\xc3\xab").subject, QStringLiteral("Zoë"));
    // A "%" that starts no escape stays as it is; broken UTF-8 is marked, not dropped.
    EXPECT_EQ(read("mailto:?body=100%25%20sure%").body, QStringLiteral("100% sure%"));
    EXPECT_EQ(read("mailto:?body=%ZZ%4%4G%%41").body, QStringLiteral("%ZZ%4%4G%A"));
    EXPECT_EQ(read("mailto:?body=a%FFb").body, QStringLiteral("a\uFFFDb"));
    // Encoded separators stay inside their part.
    const KZUnsentMail separators = read("mailto:x@y.example?body=Tom%20%26%20Jerry%3Dfun%3Fsubject%3Dno&cc=z@y.example");
    EXPECT_EQ(separators.body, QStringLiteral("Tom & Jerry=fun?subject=no"));
    EXPECT_TRUE(separators.subject.isEmpty());
    EXPECT_EQ(separators.recipients, QStringList{QStringLiteral("x@y.example")});
}

TEST(KZUnsentMail, AddressesAndHeaders)
{
    // Several addresses, from the path and from "to", any empty ones left out.
    const KZUnsentMail many = read("mailto:a@x.example,%20b@x.example,?To=c@x.example%2Cd@x.example&SUBJECT=Hi");
    EXPECT_EQ(many.recipients, (QStringList{QStringLiteral("a@x.example"), QStringLiteral("b@x.example"),
                                            QStringLiteral("c@x.example"), QStringLiteral("d@x.example")}));
    EXPECT_EQ(many.recipientsLine(), QStringLiteral("a@x.example, b@x.example, c@x.example, d@x.example"));
    EXPECT_EQ(many.subject, QStringLiteral("Hi"));
    // A header given twice counts once; a header without "=" is empty; no fragment.
    const KZUnsentMail twice = read("MAILTO:?subject=first&subject=second&body&body=late#frag");
    EXPECT_EQ(twice.subject, QStringLiteral("first"));
    EXPECT_TRUE(twice.body.isEmpty());
    EXPECT_TRUE(twice.recipients.isEmpty());
    EXPECT_EQ(read("mailto:?body=a%23b#c").body, QStringLiteral("a#b"));

    EXPECT_FALSE(KZUnsentMail::fromEncoded("https://x.example/?body=a").has_value());
    EXPECT_FALSE(KZUnsentMail::fromEncoded("mailt").has_value());
}

// The newsletter request, through a QUrl as the program hands it over, comes
// back as it was made, whatever the user typed.
TEST(KZUnsentMail, TheNewsletterRequestComesBackWhole)
{
    const QString names[] = {
        QStringLiteral("Tom & Jerry"), QStringLiteral("x&cc=a@evil.example"), QStringLiteral("50% #1 ?why=not"),
        QStringLiteral("A+B = C"),     QStringLiteral("Zoë Ångström 李"),     QStringLiteral("two\nlines"),
        QStringLiteral("%41%2B"),
    };
    for (const QString& name : names) {
        const KZSubscribeMessage message = KZMakeSubscribeMessage(name, QStringLiteral("ada@x.example"));
        const auto mail = KZUnsentMail::fromURL(message.mailtoURL());
        ASSERT_TRUE(mail.has_value());
        EXPECT_EQ(mail->recipients, message.recipients);
        EXPECT_EQ(mail->subject, message.subject);
        EXPECT_EQ(mail->body, message.body) << name.toStdString();
    }
    // A QUrl in tolerant mode keeps a lone "%" as "%25": it still reads back.
    const auto tolerant = KZUnsentMail::fromURL(QUrl(QStringLiteral("mailto:?subject=Maravex&body=50% off+more")));
    ASSERT_TRUE(tolerant.has_value());
    EXPECT_EQ(tolerant->body, QStringLiteral("50% off+more"));
}

} // namespace
