#include "preferences/ui/KZSubscribe.h"

#include "preferences/KZSubscribeMessage.h"
#include "preferences/KZURLOpener.h"

#include "TestSupport.h"

#include "platform/NotificationCenter.h"
#include "settings/KZNotificationNames.h"

#include <QLineEdit>
#include <QPushButton>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

class KZSubscribeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        KZSetURLOpener([this](const QUrl& url) {
            opened.push_back(url);
            return true;
        });
        closeSubscription = platform::NotificationCenter::defaultCenter().addObserver(
            KZNotification::newsletterDidClose, platform::NotificationObject(static_cast<const void*>(&delegate)),
            [this](const platform::Notification&) { ++closings; });
        cntrl = std::make_unique<KZSubscribe>(&delegate);
    }
    void TearDown() override
    {
        cntrl.reset();
        KZSetURLOpener({});
    }
    void subscribe(const QString& name, const QString& email)
    {
        cntrl->nameFld()->setText(name);
        cntrl->emailFld()->setText(email);
        cntrl->subscribeBtn()->click();
    }

    int delegate = 0;
    int closings = 0;
    std::vector<QUrl> opened;
    platform::Subscription closeSubscription;
    std::unique_ptr<KZSubscribe> cntrl;
};

TEST_F(KZSubscribeTest, RefusedAddressesTurnRedAndSendNothing)
{
    const QString refused[] = {
        QString(),
        QStringLiteral("ada@example"),          // no full stop in the domain
        QStringLiteral("ada@example.c"),        // last label of one letter
        QStringLiteral("ada@example.c0m"),      // last label ends in a digit
        QStringLiteral("ada@exa_mple.com"),     // underscore in the domain
        QStringLiteral("ada@example..com"),     // empty label
        QStringLiteral("ada@.example.com"),     // full stop right after the at sign
        QStringLiteral("ada@example.com "),     // trailing space
        QStringLiteral("@example.com"),         // nothing before the at sign
        QStringLiteral("ada@exa@mple"),         // the domain is after the last at sign
    };
    for (const QString& email : refused) {
        subscribe(QStringLiteral("Ada"), email);
        EXPECT_TRUE(cntrl->emailMarkedInvalid()) << email.toStdString();
        EXPECT_TRUE(cntrl->window()->isVisible()) << email.toStdString();
    }
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(closings, 0);
}

TEST_F(KZSubscribeTest, AcceptedAddressOpensTheMessageAndClosesTheWindow)
{
    subscribe(QStringLiteral("Ada"), QStringLiteral("bad@address"));
    ASSERT_TRUE(cntrl->emailMarkedInvalid());
    subscribe(QString(), QStringLiteral(" odd_user@x@sub-domain.-.example.org"));
    EXPECT_FALSE(cntrl->emailMarkedInvalid()); // black again
    ASSERT_EQ(opened.size(), 1u);
    const QUrlQuery query(opened[0]);
    EXPECT_EQ(opened[0].path(), KZNewsletterAddress());
    EXPECT_EQ(query.queryItemValue(QStringLiteral("body"), QUrl::FullyDecoded),
              QStringLiteral("\t odd_user@x@sub-domain.-.example.org"));
    EXPECT_FALSE(cntrl->window()->isVisible());
    EXPECT_EQ(closings, 1);
}

} // namespace
