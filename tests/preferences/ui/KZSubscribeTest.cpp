#include "preferences/ui/KZSubscribe.h"

#include "preferences/KZSubscribeMessage.h"
#include "preferences/KZURLOpener.h"
#include "preferences/ui/KZUnsentMailDialog.h"

#include "ScriptedPresenter.h"
#include "TestSupport.h"

#include "platform/NotificationCenter.h"
#include "services/KZErrorDelegate.h"
#include "settings/KZNotificationNames.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QPushButton>
#include <QTest>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <functional>
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

// Without a mail program, Subscribe says that nothing was sent and gives the
// message to send by hand, decoded, as Tell a Friend does; the window stays
// with what was typed, so that nothing is lost; once a mail program takes
// the request, the window goes.
TEST_F(KZSubscribeTest, WithoutAMailProgramTheUserIsToldAndTheWindowStays)
{
    auto presenter = std::make_shared<kztest::ScriptedPresenter>();
    KZErrorDelegate::setSharedControl(nullptr);
    KZErrorDelegate::sharedControl().setPresenter(presenter);
    const auto restore = qScopeGuard([] { KZErrorDelegate::setSharedControl(nullptr); });
    bool mailProgram = false;
    KZSetURLOpener([&](const QUrl& url) {
        opened.push_back(url);
        return mailProgram;
    });
    ASSERT_TRUE(QTest::qWaitForWindowExposed(cntrl->window(), kztest::kPatienceMs));
    QTest::keyClicks(cntrl->nameFld(), QStringLiteral("Tom & Jerry+1"));
    QTest::keyClicks(cntrl->emailFld(), QStringLiteral("ada+news@example.org"));
    QTest::mouseClick(cntrl->subscribeBtn(), Qt::LeftButton);

    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(presenter->shown(), 0u) << "no error alert with a half-decoded address";
    const QList<KZUnsentMailDialog*> told = cntrl->window()->findChildren<KZUnsentMailDialog*>();
    ASSERT_EQ(told.size(), 1);
    ASSERT_TRUE(told.first()->isVisible());
    const KZSubscribeMessage message = KZMakeSubscribeMessage(QStringLiteral("Tom & Jerry+1"), QStringLiteral("ada+news@example.org"));
    EXPECT_EQ(told.first()->addressField()->text(), KZNewsletterAddress());
    EXPECT_EQ(told.first()->subjectField()->text(), message.subject);
    EXPECT_EQ(told.first()->textField()->toPlainText(), message.body);
    EXPECT_TRUE(cntrl->window()->isVisible());
    EXPECT_EQ(closings, 0);
    EXPECT_EQ(cntrl->nameFld()->text(), QStringLiteral("Tom & Jerry+1"));
    EXPECT_EQ(cntrl->emailFld()->text(), QStringLiteral("ada+news@example.org"));
    EXPECT_TRUE(cntrl->subscribeBtn()->isEnabled()) << "it can be tried again";
    told.first()->close();

    mailProgram = true;
    QTest::keyClick(cntrl->emailFld(), Qt::Key_Return);
    EXPECT_EQ(opened.size(), 2u);
    EXPECT_EQ(presenter->shown(), 0u);
    EXPECT_FALSE(cntrl->window()->isVisible());
    EXPECT_EQ(closings, 1);
}

// Every road to Subscribe, without a mail program, ends as a click does: one
// request, and the message to send by hand in front. A Return from a field
// reaches the window, which presses Subscribe; the dialog that Return opens
// is not the window's, and its Close button is not pressed by it.
TEST_F(KZSubscribeTest, EveryRoadToSubscribeWithoutAMailProgramShowsTheMessageOnce)
{
    KZSetURLOpener([this](const QUrl& url) {
        opened.push_back(url);
        return false;
    });
    ASSERT_TRUE(QTest::qWaitForWindowExposed(cntrl->window(), kztest::kPatienceMs));
    cntrl->nameFld()->setText(QStringLiteral("Ann Example"));
    cntrl->emailFld()->setText(QStringLiteral("ann@example.org"));
    struct Road {
        const char* name;
        std::function<void()> take;
    } const roads[] = {
        {"click", [&] { QTest::mouseClick(cntrl->subscribeBtn(), Qt::LeftButton); }},
        {"Space on Subscribe",
         [&] {
             cntrl->subscribeBtn()->setFocus();
             QTest::keyClick(cntrl->subscribeBtn(), Qt::Key_Space);
         }},
        {"Return on Subscribe",
         [&] {
             cntrl->subscribeBtn()->setFocus();
             QTest::keyClick(cntrl->subscribeBtn(), Qt::Key_Return);
         }},
        {"Return in the address",
         [&] {
             cntrl->emailFld()->setFocus();
             QTest::keyClick(cntrl->emailFld(), Qt::Key_Return);
         }},
        {"Enter in the address",
         [&] {
             cntrl->emailFld()->setFocus();
             QTest::keyClick(cntrl->emailFld(), Qt::Key_Enter, Qt::KeypadModifier);
         }},
        {"Return in the name (the default button)",
         [&] {
             cntrl->nameFld()->setFocus();
             QTest::keyClick(cntrl->nameFld(), Qt::Key_Return);
         }},
    };
    for (const Road& road : roads) {
        SCOPED_TRACE(road.name);
        opened.clear();
        road.take();
        QApplication::processEvents();
        EXPECT_EQ(opened.size(), 1u);
        QList<KZUnsentMailDialog*> shown;
        for (KZUnsentMailDialog* dialog : cntrl->window()->findChildren<KZUnsentMailDialog*>())
            if (dialog->isVisible())
                shown << dialog;
        ASSERT_EQ(shown.size(), 1);
        EXPECT_EQ(shown.first()->addressField()->text(), KZNewsletterAddress());
        EXPECT_TRUE(cntrl->window()->isVisible());
        EXPECT_EQ(closings, 0);
        delete shown.first();
    }
}

} // namespace
