#include "preferences/ui/KZPreferencesWindow.h"

#include "preferences/KZPreferencesWindowOpen.h"
#include "preferences/ui/KZPreferencesLabelsCntrl.h"
#include "preferences/ui/KZPreferencesLimitationsCntrl.h"

#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "services/ui/KZAnimationTiming.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZDefaultsRegistry.h"

#include "TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QToolBar>
#include <QTest>

#include <gtest/gtest.h>

namespace K = KZDefaultsKey;
using namespace Qt::StringLiterals;

namespace {

class PreferencesWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        KZDefaultsRegistry::setupDefaultsPreferences(*defaults);
        KZAnimationTiming::setScale(0.01);
        reduceSubscription = platform::NotificationCenter::defaultCenter().addObserver(
            u"updateReduceTransparence"_s, platform::bundleIdentifier(),
            [this](const platform::Notification&) { ++reducePosts; });
    }
    void TearDown() override
    {
        KZPreferencesWindow::destroyShared();
        KZAnimationTiming::setScale(1.0);
        KZSetPreferencesWindowOpen(false);
    }

    // Lets the frame and fade animations run out.
    static void settle()
    {
        KZPreferencesWindow* window = KZPreferencesWindow::sharedWindow();
        ASSERT_TRUE(kztest::processEventsUntil([window] { return !window->isChangingFrame(); }));
        QTest::qWait(20);
    }

    kztest::ScopedDefaults defaults;
    platform::Subscription reduceSubscription;
    int reducePosts = 0;
};

int preferencesWindows()
{
    int count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        count += qobject_cast<KZPreferencesWindow*>(widget) != nullptr;
    return count;
}

} // namespace

TEST_F(PreferencesWindowTest, OpeningTwiceShowsTheOneWindowAsItWasLeft)
{
    KZPreferencesWindow::showShared();
    KZPreferencesWindow* window = KZPreferencesWindow::sharedWindow();
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(KZPreferencesWindowIsOpen());
    EXPECT_EQ(window->windowTitle(), window->toolbarItem(0)->text());
    // The other panes are made on the first toolbar click, whichever it is.
    EXPECT_FALSE(window->limitsCntrl());
    EXPECT_FALSE(window->labelsCntrl());
    window->toolbarAction(KZPreferencesWindow::LabelsTag);
    ASSERT_TRUE(window->limitsCntrl());
    ASSERT_TRUE(window->labelsCntrl());
    KZPreferencesLimitationsCntrl* limits = window->limitsCntrl();
    settle();

    // The title bar's close button and a close from the program both end in closeEvent.
    QCloseEvent close;
    QApplication::sendEvent(window, &close);
    EXPECT_FALSE(KZPreferencesWindowIsOpen());
    window->hide();

    KZPreferencesWindow::showShared();
    EXPECT_EQ(KZPreferencesWindow::sharedWindow(), window);
    EXPECT_EQ(preferencesWindows(), 1);
    EXPECT_TRUE(KZPreferencesWindowIsOpen());
    EXPECT_EQ(window->selectedTag(), int(KZPreferencesWindow::LabelsTag));
    EXPECT_EQ(window->mainTab()->currentIndex(), 2);
    EXPECT_EQ(window->limitsCntrl(), limits);
    EXPECT_TRUE(window->toolbarItem(2)->isChecked());

    window->close();
    EXPECT_FALSE(KZPreferencesWindowIsOpen());
}

TEST_F(PreferencesWindowTest, EscapeClosesTheWindowOnEveryPane)
{
    KZPreferencesWindow::showShared();
    KZPreferencesWindow* window = KZPreferencesWindow::sharedWindow();
    for (int tag : {int(KZPreferencesWindow::GeneralTag), int(KZPreferencesWindow::LabelsTag)}) {
        if (!window->isVisible())
            KZPreferencesWindow::showShared();
        window->toolbarAction(tag);
        settle();
        // A closed pop-up button with the focus passes Escape on to the window.
        window->emptyFoldersPopup()->setFocus();
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : window;
        QTest::keyClick(target, Qt::Key_Escape);
        EXPECT_FALSE(window->isVisible()) << tag;
        EXPECT_FALSE(KZPreferencesWindowIsOpen()) << tag;
    }
}

TEST_F(PreferencesWindowTest, SwitchingPanesKeepsTheTopRightCorner)
{
    KZPreferencesWindow::showShared();
    KZPreferencesWindow* window = KZPreferencesWindow::sharedWindow();
    const QRect available = window->screen()->availableGeometry();
    window->move(available.x() + 150, available.y() + 20);
    const QRect before = window->frameGeometry();
    const int right = before.x() + before.width();

    window->toolbarAction(KZPreferencesWindow::LimitationsTag);
    settle();
    const QRect limits = window->frameGeometry();
    EXPECT_EQ(limits.x() + limits.width(), right);
    EXPECT_EQ(limits.y(), before.y());
    EXPECT_EQ(window->width(), KZPreferencesLimitationsCntrl::paneSize().width());
    EXPECT_NE(limits.width(), before.width());

    // After the user moves the window, its new corner is the one kept.
    window->move(available.x() + 60, available.y() + 10);
    const QRect moved = window->frameGeometry();
    window->toolbarAction(KZPreferencesWindow::GeneralTag);
    settle();
    EXPECT_EQ(window->frameGeometry().x() + window->frameGeometry().width(), moved.x() + moved.width());
    EXPECT_EQ(window->frameGeometry().y(), moved.y());

    // A pane too large for where the window stands moves it into the screen.
    window->move(available.x() + 10, available.y() + available.height() / 2);
    window->toolbarAction(KZPreferencesWindow::LabelsTag);
    settle();
    EXPECT_TRUE(available.contains(window->frameGeometry())) << window->frameGeometry().height();
}

TEST_F(PreferencesWindowTest, RestoreButtonsTouchOnlyTheirKeys)
{
    KZPreferencesWindow* window = KZPreferencesWindow::sharedWindow();
    defaults->setValue(K::security_moving_to_trash, 3);
    defaults->setValue(K::reduce_transparence, true);
    defaults->setValue(K::ask_close_photos, true);
    defaults->setValue(K::disable_lables, true);
    defaults->setValue(K::last_file_type_tag, 20);
    QTest::qWait(1);

    window->restoreValuesBtn()->click();
    EXPECT_EQ(defaults->integerForKey(K::security_moving_to_trash), 2);
    EXPECT_FALSE(defaults->boolForKey(K::reduce_transparence));
    EXPECT_TRUE(defaults->boolForKey(K::ask_close_photos));
    EXPECT_EQ(reducePosts, 0);
    EXPECT_EQ(window->lastCopyPopup()->currentData().toInt(), 2);

    window->restoreWarningsBtn()->click();
    EXPECT_FALSE(defaults->boolForKey(K::ask_close_photos));
    EXPECT_TRUE(defaults->boolForKey(K::disable_lables));
    EXPECT_EQ(defaults->integerForKey(K::last_file_type_tag), 20);
}

TEST_F(PreferencesWindowTest, GeneralControlsWriteAndFollowTheirKeys)
{
    KZPreferencesWindow* window = KZPreferencesWindow::sharedWindow();
    window->reduceTransparenceBox()->click();
    EXPECT_TRUE(defaults->boolForKey(K::reduce_transparence));
    EXPECT_EQ(reducePosts, 1);

    QComboBox* popup = window->imageContentPopup();
    popup->setCurrentIndex(popup->findData(2));
    Q_EMIT popup->activated(popup->currentIndex());
    EXPECT_EQ(defaults->integerForKey(K::check_image_metadata_option), 2);

    defaults->setValue(K::report_empty_folders, 2);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return window->emptyFoldersPopup()->currentData().toInt() == 2; }));

    // A hand-edited value that means nothing shows the factory choice and
    // stays as it is until the user picks one.
    defaults->setValue(K::security_moving_to_trash, u"often"_s);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return window->lastCopyPopup()->currentData().toInt() == 2; }));
    EXPECT_EQ(defaults->value(K::security_moving_to_trash), QVariant(u"often"_s));

    // Every stored level but asking and keeping removes the last copy, and
    // is shown as that choice, 0 too.
    for (const int level : {0, 3, 7, 1, -2}) {
        defaults->setValue(K::security_moving_to_trash, level);
        const int shown = level == 1 ? 1 : 3;
        ASSERT_TRUE(kztest::processEventsUntil([&] { return window->lastCopyPopup()->currentData().toInt() == shown; }))
            << level << " shows " << window->lastCopyPopup()->currentData().toInt();
        EXPECT_EQ(defaults->value(K::security_moving_to_trash), QVariant(level)) << "shown, not rewritten";
    }
}

// The pane buttons are in the Tab chain before the pane, Space presses the
// one with the focus and the arrows go to its neighbours; the page keys of a
// tabbed window turn the panes from any control, round.
TEST_F(PreferencesWindowTest, TheKeyboardReachesAndTurnsThePanes)
{
    KZPreferencesWindow::showShared();
    KZPreferencesWindow* window = KZPreferencesWindow::sharedWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    const auto button = [window](int tag) { return window->toolbar()->widgetForAction(window->toolbarItem(tag)); };
    const auto focus = [] { return QApplication::focusWidget(); };
    const auto press = [&](Qt::Key key, Qt::KeyboardModifiers modifiers, int tag) {
        QTest::keyClick(focus(), key, modifiers);
        EXPECT_EQ(window->selectedTag(), tag) << QKeySequence(key | modifiers).toString().toStdString();
        settle();
    };

    window->restoreWarningsBtn()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(focus(), Qt::Key_Tab);
    QTest::keyClick(focus(), Qt::Key_Tab);
    ASSERT_EQ(focus(), button(KZPreferencesWindow::LimitationsTag));
    press(Qt::Key_Space, {}, 1);
    press(Qt::Key_Right, {}, 2);
    EXPECT_EQ(focus(), button(KZPreferencesWindow::LabelsTag));
    press(Qt::Key_Right, {}, 2); // the arrows stop at the last
    press(Qt::Key_Up, {}, 1);

    QTest::keyClick(focus(), Qt::Key_Tab);
    QTest::keyClick(focus(), Qt::Key_Tab);
    ASSERT_TRUE(window->mainTab()->currentWidget()->isAncestorOf(focus()));
    press(Qt::Key_Tab, Qt::ControlModifier, 2);
    press(Qt::Key_PageDown, Qt::ControlModifier, 0);
    press(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier, 2);
    press(Qt::Key_PageUp, Qt::ControlModifier, 1);
    EXPECT_TRUE(window->toolbarItem(1)->isChecked());
}

// On the Limitations pane Tab and Shift+Tab go through the lists and on:
// every control of the pane and the pane buttons are reached again, each
// list only once a round.
TEST_F(PreferencesWindowTest, TabLeavesTheLimitationsListsBothWays)
{
    KZPreferencesWindow::showShared();
    KZPreferencesWindow* window = KZPreferencesWindow::sharedWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    window->toolbarItem(KZPreferencesWindow::LimitationsTag)->trigger();
    settle();
    QWidget* pane = window->mainTab()->currentWidget();
    ASSERT_TRUE(pane->findChild<QWidget*>(u"locationsTable"_s));
    for (const Qt::Key key : {Qt::Key_Tab, Qt::Key_Backtab}) {
        SCOPED_TRACE(key == Qt::Key_Tab ? "Tab" : "Shift+Tab");
        pane->findChild<QWidget*>(u"locationsTable"_s)->setFocus(Qt::TabFocusReason);
        QStringList stops;
        for (int step = 0; step < 24; ++step) {
            QTest::keyClick(QApplication::focusWidget(), key);
            ASSERT_TRUE(QApplication::focusWidget());
            stops << QApplication::focusWidget()->objectName();
        }
        const std::string walked = stops.join(u", "_s).toStdString();
        // The switch is one stop, at its chosen side, as a group of radio
        // buttons is; the arrows turn it.
        for (const QString& name : {u"locationsTable"_s, u"locationsTabBtn"_s, u"addLimitsBtn"_s,
                                    u"restoreLimitsBtn"_s})
            EXPECT_TRUE(stops.contains(name)) << name.toStdString() << " in " << walked;
        for (int tag : {KZPreferencesWindow::GeneralTag, KZPreferencesWindow::LimitationsTag,
                        KZPreferencesWindow::LabelsTag})
            EXPECT_TRUE(stops.contains(window->toolbar()->widgetForAction(window->toolbarItem(tag))->objectName()))
                << tag << " in " << walked;
        for (qsizetype i = 1; i < stops.size(); ++i)
            EXPECT_NE(stops[i], stops[i - 1]) << walked;
    }
    auto* locations = pane->findChild<QWidget*>(u"locationsTabBtn"_s);
    locations->setFocus(Qt::TabFocusReason);
    QTest::keyClick(locations, Qt::Key_Right);
    ASSERT_EQ(QApplication::focusWidget()->objectName(), u"extensionsTabBtn"_s);
    auto* limits = pane->findChild<KZPreferencesLimitationsCntrl*>();
    ASSERT_TRUE(limits);
    EXPECT_EQ(limits->tabInFront(), u"extensions"_s);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), u"extensionsTable"_s);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), u"addLimitsBtn"_s);
}
