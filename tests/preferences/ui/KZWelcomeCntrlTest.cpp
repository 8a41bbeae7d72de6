#include "preferences/ui/KZWelcomeCntrl.h"

#include "preferences/ui/KZAnimationIconView.h"
#include "preferences/ui/KZWelcomeWindow.h"

#include "TestSupport.h"

#include "platform/NotificationCenter.h"
#include "platform/StringTable.h"
#include "services/ui/KZAnimationTiming.h"
#include "services/ui/KZGradientBackView.h"
#include "settings/KZNotificationNames.h"

#include <QGraphicsOpacityEffect>
#include <QScopeGuard>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace G = KZWelcomeGeometry;

namespace {

double opacity(QWidget* view)
{
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(view->graphicsEffect());
    return effect ? effect->opacity() : 1.0;
}

class KZWelcomeCntrlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        KZAnimationTiming::setScale(0.002);
        closeSubscription = platform::NotificationCenter::defaultCenter().addObserver(
            KZNotification::welcomeDidClose, platform::NotificationObject(static_cast<const void*>(&delegate)),
            [this](const platform::Notification&) { ++closings; });
        cntrl = std::make_unique<KZWelcomeCntrl>(&delegate, [this] { ++newsletterRequests; });
    }
    void TearDown() override
    {
        cntrl.reset();
        KZAnimationTiming::setScale(1.0);
    }

    void move(bool forward)
    {
        (forward ? cntrl->nextBtn() : cntrl->prevBtn())->click();
        ASSERT_TRUE(kztest::processEventsUntil([&] { return !cntrl->isSliding(); }));
        kztest::processEventsUntil([] { return false; }, std::chrono::milliseconds(10));
    }
    QRectF frame(int page) const { return cntrl->frameOfView(cntrl->views().at(page)); }
    QString counter(int page) const
    {
        return platform::localizedString(QStringLiteral("_of_int")).arg(page).arg(5);
    }
    bool secondPictureShown() const
    {
        return !cntrl->image_2View()->isHidden() && opacity(cntrl->image_2View()) == 1.0 &&
               cntrl->image_1View()->isHidden();
    }

    int delegate = 0; // stands for the application delegate: only its address matters
    int closings = 0;
    int newsletterRequests = 0;
    platform::Subscription closeSubscription;
    std::unique_ptr<KZWelcomeCntrl> cntrl;
};

TEST_F(KZWelcomeCntrlTest, StartsOnTheFirstPageWithOnlyForwardOpen)
{
    const double W = cntrl->gradientBackView()->panelRect().width();
    const double H = cntrl->gradientBackView()->panelRect().height();
    EXPECT_TRUE(cntrl->window()->isVisible());
    EXPECT_EQ(cntrl->currIndex(), 0u);
    EXPECT_FALSE(cntrl->prevBtn()->isEnabled());
    EXPECT_TRUE(cntrl->nextBtn()->isEnabled());
    EXPECT_EQ(cntrl->navInfoFld()->text(), counter(1));
    EXPECT_EQ(frame(0), G::firstPageFrame(W, H));
    for (int page = 1; page < 5; ++page)
        EXPECT_EQ(frame(page), G::parkingFrame(W, H)) << page;
    EXPECT_TRUE(cntrl->appIconImageView()->isHidden());
    EXPECT_TRUE(cntrl->image_2View()->isHidden());
}

TEST_F(KZWelcomeCntrlTest, ForwardForwardBackSettlesEveryPageWhereItBelongs)
{
    const double W = cntrl->gradientBackView()->panelRect().width();
    move(true);
    move(true);
    move(false);
    const double narrow = W - 10;
    EXPECT_EQ(cntrl->currIndex(), 1u);
    EXPECT_EQ(frame(1).x(), 0);
    EXPECT_EQ(frame(1).width(), narrow);
    EXPECT_EQ(frame(2).x(), narrow);
    EXPECT_EQ(frame(0).x(), -narrow);
    EXPECT_EQ(cntrl->navInfoFld()->text(), counter(2));
}

TEST_F(KZWelcomeCntrlTest, ButtonsCloseAtEitherEnd)
{
    struct Step {
        bool forward;
        quint64 index;
        bool prevEnabled, nextEnabled;
    } const steps[] = {
        {true, 1, true, true}, {true, 2, true, true},   {true, 3, true, true},
        {true, 4, true, false}, {false, 3, true, true}, {false, 2, true, true},
        {false, 1, true, true}, {false, 0, false, true},
    };
    for (const Step& step : steps) {
        move(step.forward);
        EXPECT_EQ(cntrl->currIndex(), step.index);
        EXPECT_EQ(cntrl->prevBtn()->isEnabled(), step.prevEnabled) << step.index;
        EXPECT_EQ(cntrl->nextBtn()->isEnabled(), step.nextEnabled) << step.index;
        EXPECT_EQ(cntrl->navInfoFld()->text(), counter(int(step.index) + 1));
    }
    cntrl->navAction(0); // a stray "back" on the first page stays there
    EXPECT_EQ(cntrl->currIndex(), 0u);
}

TEST_F(KZWelcomeCntrlTest, ReachingPageTwoPutsTheStillIconOnPageOne)
{
    move(true);
    EXPECT_TRUE(cntrl->iconAnimationView()->isHidden());
    EXPECT_FALSE(cntrl->appIconImageView()->isHidden());
    move(false);
    EXPECT_FALSE(cntrl->appIconImageView()->isHidden());
    EXPECT_EQ(cntrl->appIconImageView()->geometry(), cntrl->iconAnimationView()->geometry());
}

TEST_F(KZWelcomeCntrlTest, SecondPictureFadesInAndIsResetOnlyWhenLeavingForward)
{
    move(true);
    EXPECT_FALSE(cntrl->image_1View()->isHidden());
    ASSERT_TRUE(kztest::processEventsUntil([&] { return secondPictureShown(); }));

    move(false); // back to page 1: the second picture stays
    EXPECT_TRUE(secondPictureShown());

    move(true);
    move(true); // on to page 3: page 2 starts over with the first picture
    EXPECT_TRUE(cntrl->image_2View()->isHidden());
    EXPECT_EQ(opacity(cntrl->image_2View()), 0.0);
    EXPECT_FALSE(cntrl->image_1View()->isHidden());
    EXPECT_EQ(opacity(cntrl->image_1View()), 1.0);
}

TEST_F(KZWelcomeCntrlTest, TheIconFliesOnceWhateverTheWindowDoesLater)
{
    cntrl->windowDidBecomeKey();
    EXPECT_TRUE(cntrl->animationPerformed());
    KZAnimationIconView* icon = cntrl->iconAnimationView();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return icon->iconRect().width() == 256 && !icon->isAnimating(); }));
    EXPECT_EQ(icon->iconRect(), QRectF(0, 0, 256, 256));

    cntrl->windowDidBecomeKey();
    kztest::processEventsUntil([] { return false; }, std::chrono::milliseconds(30));
    EXPECT_FALSE(icon->isAnimating());
    EXPECT_EQ(icon->iconRect(), QRectF(0, 0, 256, 256));
}

TEST_F(KZWelcomeCntrlTest, ClosingAnnouncesItselfOnceHoweverItIsClosed)
{
    cntrl->startUsingBtn()->click();
    EXPECT_FALSE(cntrl->window()->isVisible());
    cntrl->window()->close();
    EXPECT_EQ(closings, 1);
    EXPECT_EQ(newsletterRequests, 0);
}

TEST_F(KZWelcomeCntrlTest, EscapeClosesLikeTheCloseButton)
{
    QWidget* window = cntrl->window();
    QTest::keyClick(window->focusWidget() ? window->focusWidget() : window, Qt::Key_Escape, Qt::ShiftModifier);
    EXPECT_TRUE(window->isVisible());
    QTest::keyClick(window->focusWidget() ? window->focusWidget() : window, Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(closings, 1);
    EXPECT_EQ(newsletterRequests, 0);
}

TEST_F(KZWelcomeCntrlTest, NewsletterButtonAsksForTheNewsletterAndStillCloses)
{
    for (int i = 0; i < 4; ++i)
        move(true);
    ASSERT_TRUE(cntrl->subscribeBtn()->isVisible());
    cntrl->subscribeBtn()->click();
    EXPECT_EQ(newsletterRequests, 1);
    EXPECT_EQ(closings, 1);
    EXPECT_FALSE(cntrl->window()->isVisible());
}

// Every page shows its whole text in the fonts the program is run with
// (DejaVu Sans, which the build installs, and the system's default): each
// label is at least as tall as its wrapped lines, stays inside its page,
// and the newsletter button stands below the last line.
TEST_F(KZWelcomeCntrlTest, EveryPageShowsItsWholeText)
{
    const QFont before = QApplication::font();
    const auto restore = qScopeGuard([&] { QApplication::setFont(before); });
    for (const QString& family : {before.family(), QStringLiteral("DejaVu Sans")}) {
        SCOPED_TRACE(family.toStdString());
        QFont font = before;
        font.setFamily(family);
        QApplication::setFont(font);
        cntrl.reset();
        cntrl = std::make_unique<KZWelcomeCntrl>(&delegate, [this] { ++newsletterRequests; });
        for (QWidget* page : cntrl->views()) {
            SCOPED_TRACE(page->objectName().toStdString());
            const QList<QLabel*> labels = page->findChildren<QLabel*>();
            int texts = 0;
            int lowest = 0;
            for (QLabel* label : labels) {
                if (label->text().isEmpty())
                    continue;
                ++texts;
                EXPECT_GE(label->height(), label->heightForWidth(label->width())) << label->text().toStdString();
                EXPECT_TRUE(page->rect().contains(label->geometry())) << label->text().toStdString();
                lowest = std::max(lowest, label->y() + label->heightForWidth(label->width()));
            }
            EXPECT_EQ(texts, 2);
            if (QPushButton* subscribe = page->findChild<QPushButton*>()) {
                EXPECT_GE(subscribe->y(), lowest);
                EXPECT_TRUE(page->rect().contains(subscribe->geometry()));
            }
        }
    }
}

// The pages slid off the window hold no Tab stop: from the first page Tab
// never reaches the newsletter button, and Space never opens the
// newsletter; on the last page Tab reaches it and Space works it.
TEST_F(KZWelcomeCntrlTest, OnlyThePageOnScreenTakesTheFocus)
{
    QWidget* window = cntrl->window();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    const auto tabAround = [&] {
        std::vector<QWidget*> reached;
        for (int step = 0; step < 10; ++step) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            reached.push_back(QApplication::focusWidget());
        }
        return reached;
    };
    std::vector<QWidget*> reached = tabAround();
    EXPECT_EQ(std::count(reached.begin(), reached.end(), cntrl->subscribeBtn()), 0);
    EXPECT_NE(std::count(reached.begin(), reached.end(), cntrl->nextBtn()), 0);

    for (int page = 2; page <= 5; ++page) {
        cntrl->nextBtn()->setFocus(Qt::TabFocusReason);
        QTest::keyClick(cntrl->nextBtn(), Qt::Key_Space);
        ASSERT_TRUE(kztest::processEventsUntil([&] { return !cntrl->isSliding(); }));
        reached = tabAround();
        EXPECT_EQ(std::count(reached.begin(), reached.end(), cntrl->subscribeBtn()) > 0, page == 5) << page;
        for (QWidget* focused : reached)
            EXPECT_TRUE(focused->isVisible()) << page << " " << focused->objectName().toStdString();
    }
    EXPECT_EQ(newsletterRequests, 0);
    cntrl->subscribeBtn()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(cntrl->subscribeBtn(), Qt::Key_Space);
    EXPECT_EQ(newsletterRequests, 1);
    EXPECT_FALSE(window->isVisible());
}

} // namespace

// The button drawn as the default answers the keyboard from the start:
// Return and Space press it; with Next focused by Tab, Space presses Next
// and Return still the focused button, as in a dialog.
TEST_F(KZWelcomeCntrlTest, TheKeyboardPressesStartUsingWithoutATab)
{
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Space, Qt::Key_Enter}) {
        SCOPED_TRACE(key);
        cntrl.reset();
        cntrl = std::make_unique<KZWelcomeCntrl>(&delegate, [this] { ++newsletterRequests; });
        QWidget* window = cntrl->window();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        ASSERT_EQ(window->focusWidget(), cntrl->startUsingBtn());
        const int before = closings;
        QTest::keyClick(window->focusWidget(), key);
        EXPECT_FALSE(window->isVisible());
        EXPECT_EQ(closings, before + 1);
    }

    cntrl.reset();
    cntrl = std::make_unique<KZWelcomeCntrl>(&delegate, [this] { ++newsletterRequests; });
    QWidget* window = cntrl->window();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    cntrl->nextBtn()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(cntrl->nextBtn(), Qt::Key_Space);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !cntrl->isSliding(); }));
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(cntrl->navInfoFld()->text(), counter(2));
    // Focus on a widget that is no push button: Return presses the default.
    cntrl->gradientBackView()->setFocusPolicy(Qt::StrongFocus);
    cntrl->gradientBackView()->setFocus();
    QTest::keyClick(window, Qt::Key_Return);
    EXPECT_FALSE(window->isVisible());
}
