#include "platform/MainThread.h"
#include "platform/NotificationCenter.h"
#include "platform/Resources.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "result/model/KZListNotifications.h"
#include "result/window/ui/KZResultWindowCntrl.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZTags.h"
#include "services/KZAlertPresenter.h"
#include "services/KZErrorDelegate.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QToolBar>
#include <QToolButton>
#include <QUndoStack>

#include <QUndoCommand>
#include <QUndoStack>
#include <gtest/gtest.h>

#include <tuple>

namespace {

platform::NotificationCenter& center()
{
    return platform::NotificationCenter::defaultCenter();
}

void settle()
{
    for (int i = 0; i < 3; ++i)
        QApplication::processEvents();
}

void setActive(QWidget* window, bool active)
{
    QEvent event(active ? QEvent::WindowActivate : QEvent::WindowDeactivate);
    QApplication::sendEvent(window, &event);
}

class ResultWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        KZResultWindowCntrl::Services services;
        services.askToClose = [this] {
            ++questions;
            return answer;
        };
        services.refuseCloseWhileRemoving = [this] { ++refusals; };
        services.beep = [] {};
        services.undoMove = [this](const QVariant& dict) { undone.append(dict.toMap()); };
        services.goBack = [this] { ++wentBack; };
        window = std::make_unique<KZResultWindowCntrl>(services);
        window->show();
        settle();
    }

    std::unique_ptr<KZResultWindowCntrl> window;
    int questions = 0;
    int refusals = 0;
    bool answer = false;
    int wentBack = 0;
    QList<QVariantMap> undone;
};

TEST_F(ResultWindow, ARemovalDisablesAndRestoresExactlyWhatItTouched)
{
    // A panel of the tab: one control enabled, one already disabled, one
    // inside the removal panel itself.
    auto* tabView = new QWidget(window->centralWidget());
    auto* enabled = new QPushButton(QStringLiteral("a"), tabView);
    auto* alreadyOff = new QCheckBox(QStringLiteral("b"), tabView);
    alreadyOff->setEnabled(false);
    auto* panel = new QWidget(tabView);
    auto* inPanel = new QPushButton(QStringLiteral("c"), panel);
    tabView->show();

    int removeClicks = 0;
    auto sub = center().addObserver(KZNotification::removeButtonDidClick, platform::bundleIdentifier(),
                                    [&removeClicks](const platform::Notification&) { ++removeClicks; });
    for (int removal = 0; removal < 2; ++removal) {
        window->removeBtn()->click();
        EXPECT_TRUE(window->isRemoving());
        center().post(QStringLiteral("disableViews"), platform::bundleIdentifier(),
                      {{QStringLiteral("viewsToDisable"), QVariantList{QVariant::fromValue<QObject*>(tabView)}},
                       {QStringLiteral("excludeDiscendentOf"), QVariant::fromValue<QObject*>(panel)}});
        settle();
        EXPECT_FALSE(enabled->isEnabled());
        EXPECT_TRUE(inPanel->isEnabled()) << "the panel stays usable";
        EXPECT_FALSE(window->removeBtn()->isEnabled());
        EXPECT_FALSE(window->toolBar()->isEnabled());
        const qsizetype touched = window->touchedViews().size();

        center().post(removal == 0 ? KZNotification::removePanelDidClose : KZNotification::remotionFailed,
                      platform::bundleIdentifier());
        settle();
        EXPECT_FALSE(window->isRemoving());
        EXPECT_TRUE(enabled->isEnabled());
        EXPECT_FALSE(alreadyOff->isEnabled()) << "what was off before stays off";
        EXPECT_TRUE(window->removeBtn()->isEnabled());
        EXPECT_TRUE(window->toolBar()->isEnabled());
        EXPECT_TRUE(window->touchedViews().isEmpty());
        EXPECT_GT(touched, 0);
    }
    EXPECT_EQ(removeClicks, 2);
}

TEST_F(ResultWindow, CloseIsRefusedWhileFilesMoveAndAskedOtherwise)
{
    window->removeBtn()->click();
    center().post(QStringLiteral("removingProcessDidChangeStatus"), platform::bundleIdentifier(),
                  {{QStringLiteral("isRemoving"), true}});
    settle();
    EXPECT_FALSE(window->close());
    EXPECT_EQ(refusals, 1);
    EXPECT_EQ(questions, 0);
    center().post(KZNotification::removePanelDidClose, platform::bundleIdentifier());
    settle();

    answer = false;
    EXPECT_FALSE(window->close());
    EXPECT_EQ(questions, 1);
    EXPECT_TRUE(window->isVisible());
    answer = true;
    EXPECT_TRUE(window->close());
    EXPECT_FALSE(window->isVisible());
}

TEST_F(ResultWindow, TheSharedCloseQuestionIsSkippedOnceSuppressed)
{
    platform::UserDefaults::standard().setValue(KZDefaultsKey::ask_close_result, true);
    KZResultWindowCntrl plain;
    plain.show();
    EXPECT_TRUE(plain.close());
    platform::UserDefaults::standard().setValue(KZDefaultsKey::ask_close_result, false);
}

// The close question names its buttons by key, so Escape keeps the window
// whatever a translation calls the buttons.
TEST(ResultWindowClose, EscapeAnswersDontCloseWhateverTheButtonsSay)
{
    kztest::TempDir resources;
    resources.write("strings/en/Default.json",
                    R"({"close_button": "Close and cancel the review", "dont_close_button": "Keep Open"})");
    platform::setResourceDirectory(resources.path());
    platform::resetStringTables();
    struct Escape : KZAlertPresenter {
        QList<Alert> shown;
        Answer runModal(const Alert& alert) override
        {
            shown.append(alert);
            return {alert.cancelButton, false, false};
        }
        void beginSheet(const Alert&) override {}
    };
    auto presenter = std::make_shared<Escape>();
    KZErrorDelegate::sharedControl().setPresenter(presenter);
    platform::UserDefaults::standard().setValue(KZDefaultsKey::ask_close_result, false);
    {
        KZResultWindowCntrl window;
        window.show();
        EXPECT_FALSE(window.close());
        EXPECT_TRUE(window.isVisible());
        ASSERT_EQ(presenter->shown.size(), 1);
        const QStringList buttons = presenter->shown.first().buttonTitles;
        ASSERT_GE(buttons.size(), 2);
        EXPECT_EQ(buttons.at(0), QStringLiteral("Close and cancel the review"));
        EXPECT_EQ(buttons.at(1), QStringLiteral("Keep Open"));
        platform::UserDefaults::standard().setValue(KZDefaultsKey::ask_close_result, true);
    }
    platform::UserDefaults::standard().setValue(KZDefaultsKey::ask_close_result, false);
    KZErrorDelegate::sharedControl().setPresenter(nullptr);
    platform::setResourceDirectory({});
    platform::resetStringTables();
}

TEST_F(ResultWindow, EditUndoNamesTheRemovalAndUndoesItOnce)
{
    center().post(QStringLiteral("registerRemovedUndo"), platform::bundleIdentifier(),
                  {{QStringLiteral("undoDict"), QVariantMap{{QStringLiteral("id"), 7}}},
                   {QStringLiteral("undoCount"), 3},
                   {QStringLiteral("isTrashAction"), true}});
    settle();
    QAction* undo = window->editMenu()->actions().first();
    EXPECT_TRUE(undo->isEnabled());
    EXPECT_TRUE(undo->text().contains(QStringLiteral("3"))) << undo->text().toStdString();
    undo->trigger();
    ASSERT_EQ(undone.size(), 1);
    EXPECT_EQ(undone.first().value(QStringLiteral("id")).toInt(), 7);
    EXPECT_FALSE(window->undoStack()->canRedo()) << "an undone removal offers no redo";
    EXPECT_FALSE(window->undoStack()->canUndo());
}

TEST_F(ResultWindow, StartingARemovalDropsMarkingStepsButKeepsEarlierRemovals)
{
    QUndoStack* stack = window->undoStack();
    stack->push(new QUndoCommand(QStringLiteral("Mark")));
    center().post(QStringLiteral("registerRemovedUndo"), platform::bundleIdentifier(),
                  {{QStringLiteral("undoDict"), QVariantMap{{QStringLiteral("id"), 1}}},
                   {QStringLiteral("undoCount"), 2},
                   {QStringLiteral("isTrashAction"), true}});
    settle();
    stack->push(new QUndoCommand(QStringLiteral("Mark again")));
    ASSERT_EQ(stack->count(), 3);

    window->purgeMarkingUndo();
    ASSERT_EQ(stack->count(), 1) << "only the removal is left";
    stack->undo();
    ASSERT_EQ(undone.size(), 1);
    EXPECT_EQ(undone.first().value(QStringLiteral("id")).toInt(), 1);
}

TEST_F(ResultWindow, ToolbarControlsFollowKeyStateTabAndRemoval)
{
    QToolButton* grouping = window->toggleViewByGroupBtn();
    QToolButton* preview = window->switchPreviewViewBtn();
    QLineEdit* find = window->findFld();
    const auto states = [&] {
        return std::tuple(grouping->isEnabled(), preview->isEnabled(), find->isEnabled(),
                          window->groupingItem()->isEnabled(), window->previewItem()->isEnabled());
    };
    setActive(window.get(), true);
    window->setCurrSelectedTabTag(0);
    EXPECT_EQ(states(), std::tuple(true, true, true, true, true));
    window->setCurrSelectedTabTag(KZTag::missingTracks);
    EXPECT_EQ(states(), std::tuple(false, false, true, false, false));
    window->setCurrSelectedTabTag(KZTag::emptyFolders);
    EXPECT_EQ(states(), std::tuple(false, true, true, false, true));

    // A window that is not key takes no toolbar input; the find field gets
    // its focus back when the window does.
    window->setCurrSelectedTabTag(0);
    find->setFocus();
    setActive(window.get(), false);
    EXPECT_EQ(states(), std::tuple(false, false, false, false, false));
    setActive(window.get(), true);
    EXPECT_EQ(states(), std::tuple(true, true, true, true, true));
    EXPECT_EQ(window->focusWidget(), find);

    // A removal ends with the tab's rule, not with everything enabled.
    window->setCurrSelectedTabTag(KZTag::missingTracks);
    window->removeBtn()->click();
    EXPECT_EQ(states(), std::tuple(false, false, false, false, false));
    center().post(QStringLiteral("disableViews"), platform::bundleIdentifier(), {});
    center().post(KZNotification::removePanelDidClose, platform::bundleIdentifier());
    settle();
    EXPECT_EQ(states(), std::tuple(false, false, true, false, false));
    window->setCurrSelectedTabTag(0);
}

// The toolbar opens with the way back to the window the result came from;
// like the toolbar's other controls it rests while the window is not the
// active one and while a removal runs.
TEST_F(ResultWindow, TheBackButtonGoesBackOnlyWhenTheWindowMayLeave)
{
    QToolButton* back = window->goBackBtn();
    ASSERT_TRUE(back);
    EXPECT_EQ(window->toolBar()->widgetForAction(window->toolBar()->actions().first()), back);
    setActive(window.get(), true);
    ASSERT_TRUE(back->isEnabled());
    back->click();
    EXPECT_EQ(wentBack, 1);

    setActive(window.get(), false);
    EXPECT_FALSE(back->isEnabled());
    setActive(window.get(), true);
    window->removeBtn()->click();
    EXPECT_FALSE(back->isEnabled());
    back->click();
    EXPECT_EQ(wentBack, 1) << "a removal holds the window";
    center().post(KZNotification::removePanelDidClose, platform::bundleIdentifier());
    settle();
    EXPECT_TRUE(back->isEnabled());
}

// When the removal panel closes, the sources list of the tab that asked
// for the removal reloads; the missing-tracks tab names no tab, and its
// close reaches no list's tag.
TEST_F(ResultWindow, AClosedRemovalPanelReloadsTheSourcesListOfTheTabThatAsked)
{
    QList<platform::NotificationObject> reloads;
    auto sub = center().addObserver(QStringLiteral("updateTableView"), platform::NotificationObject(),
                                    [&reloads](const platform::Notification& note) { reloads.append(note.object); });
    window->removeBtn()->click();
    center().post(KZNotification::removePanelDidClose, platform::bundleIdentifier(),
                  {{QStringLiteral("isRemoving"), false}, {QStringLiteral("ownerTag"), 5}});
    settle();
    window->removeBtn()->click();
    center().post(KZNotification::removePanelDidClose, platform::bundleIdentifier());
    settle();
    ASSERT_EQ(reloads.size(), 2);
    EXPECT_EQ(reloads[0], platform::NotificationObject::number(5));
    EXPECT_TRUE(reloads[1].isNone());
    EXPECT_FALSE(window->isRemoving());
}

TEST_F(ResultWindow, SwitchesWriteTheirDefaultsInOrderAndRetitleTheViewMenu)
{
    auto& defaults = platform::UserDefaults::standard();
    defaults.setValue(KZDefaultsKey::list_splitView_is_vertical, false);
    QList<std::pair<QString, bool>> seen;
    auto a = center().addObserver(QStringLiteral("splitViewPositionDidSwitch"), platform::bundleIdentifier(),
                                  [&](const platform::Notification& n) {
                                      seen.append({n.name, defaults.boolForKey(KZDefaultsKey::list_splitView_is_vertical)});
                                  });
    auto b = center().addObserver(KZNotification::switchPositionSplitView, platform::bundleIdentifier(),
                                  [&](const platform::Notification& n) {
                                      seen.append({n.name, defaults.boolForKey(KZDefaultsKey::list_splitView_is_vertical)});
                                  });
    const QString before = window->previewItem()->text();
    window->switchPositionSplitView();
    ASSERT_EQ(seen.size(), 2);
    EXPECT_FALSE(seen[0].second) << "the first notice sees the old position";
    EXPECT_TRUE(seen[1].second);
    EXPECT_NE(window->previewItem()->text(), before);

    const bool grouped = defaults.boolForKey(KZDefaultsKey::show_result_by_group);
    const QString groupTitle = window->groupingItem()->text();
    window->showByGroupAction();
    EXPECT_EQ(defaults.boolForKey(KZDefaultsKey::show_result_by_group), !grouped);
    EXPECT_EQ(window->toggleViewByGroupBtn()->isChecked(), !grouped);
    EXPECT_NE(window->groupingItem()->text(), groupTitle);

    // The missing-tracks tab has nothing to group: the switch is off there.
    window->setCurrSelectedTabTag(KZTag::missingTracks);
    ASSERT_FALSE(window->toggleViewByGroupBtn()->isEnabled());
    EXPECT_FALSE(window->groupingItem()->isEnabled()) << "the item follows its switch";
    window->setCurrSelectedTabTag(0);
    EXPECT_FALSE(window->quickLookItem()->isEnabled()) << "nothing selected to look at";
}

} // namespace

namespace {

// The program's hook brings a hidden window on screen (its opening
// transition); a window already shown is only raised, never opened twice.
TEST(ResultWindowPresent, OnlyAHiddenWindowGoesThroughThePresentHook)
{
    for (const bool shownBefore : {false, true}) {
        SCOPED_TRACE(shownBefore);
        int presented = 0;
        KZResultWindowCntrl::Services services;
        services.present = [&](QWidget* window) {
            ++presented;
            window->show();
        };
        KZResultWindowCntrl window(services);
        if (shownBefore)
            window.show();
        window.showWindowWithTabTag(0);
        EXPECT_EQ(presented, shownBefore ? 0 : 1);
        EXPECT_TRUE(window.isVisible());
    }
}

} // namespace
