#include "preferences/ui/KZAboutCntrl.h"

#include "preferences/KZBundleInfo.h"
#include "preferences/ui/KZAboutTextField.h"
#include "preferences/ui/KZAboutTextView.h"
#include "preferences/ui/KZAppNameLogoView.h"

#include "TestSupport.h"

#include "platform/NotificationCenter.h"
#include "platform/StringTable.h"
#include "services/KZErrorDelegate.h"
#include "services/ui/KZMessageBoxPresenter.h"
#include "settings/KZNotificationNames.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <memory>

namespace {

class RecordingPresenter : public KZAlertPresenter {
public:
    Answer runModal(const Alert& alert) override
    {
        alerts.push_back(alert);
        return {};
    }
    void beginSheet(const Alert& alert) override { alerts.push_back(alert); }
    std::vector<Alert> alerts;
};

class KZAboutCntrlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        presenter = std::make_shared<RecordingPresenter>();
        KZErrorDelegate::sharedControl().setPresenter(presenter);
        closeSubscription = platform::NotificationCenter::defaultCenter().addObserver(
            KZNotification::aboutDidClose, platform::NotificationObject(static_cast<const void*>(&delegate)),
            [this](const platform::Notification&) { ++closings; });
        cntrl = std::make_unique<KZAboutCntrl>(&delegate);
        spy = std::make_unique<QSignalSpy>(cntrl->splashBtn(), &QAbstractButton::clicked);
    }
    void TearDown() override
    {
        cntrl.reset();
        KZErrorDelegate::sharedControl().setPresenter(nullptr);
    }

    // A point over the splash button, and one well away from it, both in
    // `source`'s coordinates.
    QPoint overSplash(QWidget* source) const
    {
        return source->mapFromGlobal(cntrl->splashBtn()->mapToGlobal(cntrl->splashBtn()->rect().center()));
    }
    static QPoint away(QWidget* source) { return source->rect().center(); }

    int delegate = 0;
    int closings = 0;
    std::shared_ptr<RecordingPresenter> presenter;
    platform::Subscription closeSubscription;
    std::unique_ptr<KZAboutCntrl> cntrl;
    std::unique_ptr<QSignalSpy> spy;
};

TEST_F(KZAboutCntrlTest, ShowsTheRunningVersionAndHidesTheCreditsButton)
{
    EXPECT_TRUE(cntrl->window()->isVisible());
    EXPECT_TRUE(cntrl->creditBtn()->isHidden());
    EXPECT_EQ(cntrl->versionFld()->text(),
              KZAboutCntrl::versionLine(platform::localizedString(QStringLiteral("about_version_format"))));
    EXPECT_TRUE(cntrl->versionFld()->text().contains(KZShortVersionString()));
    EXPECT_EQ(cntrl->appNameLogo()->logoFont().weight(), QFont::Thin);
    EXPECT_TRUE(cntrl->appNameLogo()->logoFont().italic());
}

TEST_F(KZAboutCntrlTest, VersionFormatTakesTheShortVersionFirst)
{
    const QString v = KZShortVersionString();
    const QString b = KZBundleVersion();
    const std::pair<QString, QString> cases[] = {
        {QStringLiteral("Version %@ (%@)"), QStringLiteral("Version ") + v + QStringLiteral(" (") + b + QLatin1Char(')')},
        {QStringLiteral("%@/%@"), v + QLatin1Char('/') + b},
        {QStringLiteral("Version %@"), QStringLiteral("Version ") + v},
        {QStringLiteral("No version"), QStringLiteral("No version")},
    };
    for (const auto& [format, line] : cases)
        EXPECT_EQ(KZAboutCntrl::versionLine(format), line) << format.toStdString();
}

TEST_F(KZAboutCntrlTest, CreditsAreWhiteAndCannotBeSelectedOrEdited)
{
    KZAboutTextView* text = cntrl->creditsText();
    EXPECT_TRUE(text->isReadOnly());
    EXPECT_EQ(text->textInteractionFlags(), Qt::NoTextInteraction);
    text->setCredits(QStringLiteral("<p style='color:red'>red</p><p><font color='#00ff00'>green</font> plain</p>"));
    for (QTextBlock block = text->document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it)
            EXPECT_EQ(it.fragment().charFormat().foreground().color(), QColor(Qt::white))
                << it.fragment().text().toStdString();
    }
}

// Press on a credits text, optionally drag, release: the text stands for
// the splash button, so a release over the text or the button clicks the
// button once, and a release anywhere else does not; the highlight follows
// the pointer.
TEST_F(KZAboutCntrlTest, ClicksOnTheCreditsActOnTheSplashButton)
{
    QWidget* sources[] = {cntrl->creditsText()->viewport(), cntrl->creditsLabel()};
    for (QWidget* source : sources) {
        SCOPED_TRACE(source->objectName().toStdString());
        const QPoint on = overSplash(source);
        const QPoint text = source->rect().center();
        const QPoint off = source->mapFrom(cntrl->window(), QPoint(cntrl->window()->width() - 30, 20));
        const auto drag = [source](QPoint to) {
            QMouseEvent move(QEvent::MouseMove, to, source->mapToGlobal(to), Qt::NoButton, Qt::LeftButton, {});
            QApplication::sendEvent(source, &move);
        };

        spy->clear();
        QTest::mouseClick(source, Qt::LeftButton, {}, text);
        EXPECT_EQ(spy->count(), 1) << "a click on the text";

        spy->clear();
        QTest::mousePress(source, Qt::LeftButton, {}, text);
        EXPECT_TRUE(cntrl->splashBtn()->isDown());
        drag(off);
        EXPECT_FALSE(cntrl->splashBtn()->isDown());
        drag(on);
        EXPECT_TRUE(cntrl->splashBtn()->isDown());
        QTest::mouseRelease(source, Qt::LeftButton, {}, on);
        EXPECT_EQ(spy->count(), 1) << "released over the button";

        spy->clear();
        QTest::mousePress(source, Qt::LeftButton, {}, text);
        drag(off);
        QTest::mouseRelease(source, Qt::LeftButton, {}, off);
        EXPECT_EQ(spy->count(), 0) << "released away from both";
        EXPECT_FALSE(cntrl->splashBtn()->isDown());
    }
}

TEST_F(KZAboutCntrlTest, SplashButtonShowsTheAcknowledgmentsAsAModalMessage)
{
    cntrl->splashBtn()->click();
    ASSERT_EQ(presenter->alerts.size(), 1u);
    EXPECT_EQ(presenter->alerts[0].messageText, platform::localizedString(QStringLiteral("acknowledgment")));
    EXPECT_TRUE(presenter->alerts[0].informativeText.isEmpty());
    EXPECT_TRUE(presenter->alerts[0].sheetWindow.isNull());
    // It thanks what the program is made with: the libraries it links and the
    // tool it reads photo libraries with, and nothing it no longer uses (its
    // digests are its own code).
    const QString thanks = presenter->alerts[0].messageText;
    for (const char* used : {"Qt", "libplist", "TagLib", "Exiv2", "SQLite"})
        EXPECT_TRUE(thanks.contains(QLatin1String(used))) << used;
    EXPECT_FALSE(thanks.contains(QLatin1String("OpenSSL"))) << thanks.toStdString();
}

TEST_F(KZAboutCntrlTest, ClosingAnnouncesItselfOnce)
{
    cntrl->closeAction();
    cntrl->window()->close();
    EXPECT_FALSE(cntrl->window()->isVisible());
    EXPECT_EQ(closings, 1);
}

// The acknowledgments are a modal message: it must come up in front of the
// About window, which stays above the other windows, or it blocks a window
// that hides it. Once it is answered the About window answers again.
TEST(AboutWindowWithRealMessages, TheAcknowledgmentsComeInFrontAndTheWindowAnswersAfterwards)
{
    KZErrorDelegate::sharedControl().setPresenter(std::make_shared<KZMessageBoxPresenter>());
    const auto restore = qScopeGuard([] { KZErrorDelegate::sharedControl().setPresenter(nullptr); });
    int delegate = 0;
    KZAboutCntrl about(&delegate);
    ASSERT_TRUE(QTest::qWaitForWindowActive(about.window()));

    for (QWidget* clicked : {static_cast<QWidget*>(about.creditsLabel()), static_cast<QWidget*>(about.splashBtn())}) {
        SCOPED_TRACE(clicked->objectName().toStdString());
        bool shown = false, inFront = false, transient = false;
        QTimer::singleShot(0, [&] { // inside the message's own loop
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            shown = box->isVisible() && box->text() == platform::localizedString(QStringLiteral("acknowledgment"));
            inFront = box->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
            transient = box->windowHandle() && box->windowHandle()->transientParent() == about.window()->windowHandle();
            box->buttons().first()->click();
        });
        QTimer guard; // a broken test must not hang
        guard.callOnTimeout([] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                box->done(0);
        });
        guard.start(5000);
        QTest::mouseClick(clicked, Qt::LeftButton, {}, clicked->rect().center());
        guard.stop();
        EXPECT_TRUE(shown);
        EXPECT_TRUE(inFront) << "a message under a window that stays on top is never seen";
        EXPECT_TRUE(transient);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
    QTest::keyClick(about.window(), Qt::Key_Escape);
    EXPECT_FALSE(about.window()->isVisible());
}

} // namespace
