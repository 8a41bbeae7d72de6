#include "preferences/ui/KZAboutCntrl.h"

#include "preferences/KZBundleInfo.h"
#include "preferences/ui/KZAboutTextField.h"
#include "preferences/ui/KZAboutTextView.h"
#include "preferences/ui/KZAppNameLogoView.h"

#include "TestSupport.h"

#include "platform/NotificationCenter.h"
#include "platform/StringTable.h"
#include "services/KZErrorDelegate.h"
#include "settings/KZNotificationNames.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>

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

// Press on a credits text, optionally drag, release: the splash button is
// clicked only for a release over it, and its highlight follows the pointer.
TEST_F(KZAboutCntrlTest, ClicksOnTheCreditsActOnTheSplashButton)
{
    QWidget* sources[] = {cntrl->creditsText()->viewport(), cntrl->creditsLabel()};
    for (QWidget* source : sources) {
        const QPoint off = away(source);
        const QPoint on = overSplash(source);

        spy->clear();
        QTest::mousePress(source, Qt::LeftButton, {}, off);
        EXPECT_TRUE(cntrl->splashBtn()->isDown());
        QMouseEvent dragOn(QEvent::MouseMove, on, source->mapToGlobal(on), Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(source, &dragOn);
        EXPECT_TRUE(cntrl->splashBtn()->isDown());
        QMouseEvent dragOff(QEvent::MouseMove, off, source->mapToGlobal(off), Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(source, &dragOff);
        EXPECT_FALSE(cntrl->splashBtn()->isDown());
        QApplication::sendEvent(source, &dragOn);
        EXPECT_TRUE(cntrl->splashBtn()->isDown());
        QTest::mouseRelease(source, Qt::LeftButton, {}, on);
        EXPECT_EQ(spy->count(), 1);

        spy->clear();
        QTest::mousePress(source, Qt::LeftButton, {}, off);
        QTest::mouseRelease(source, Qt::LeftButton, {}, off);
        EXPECT_EQ(spy->count(), 0);
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

} // namespace
