#include "TabStripTestSupport.h"
#include "TestSupport.h"

#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "result/panes/KZTabColours.h"
#include "result/panes/ui/KZResultBarItemView.h"
#include "result/panes/ui/KZResultTabItemView.h"
#include "services/KZAlertPresenter.h"
#include "services/KZErrorDelegate.h"
#include "services/ui/KZAnimationTiming.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZDefaultsRegistry.h"
#include "settings/KZNotificationNames.h"
#include "settings/KZTags.h"

#include <QAction>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <deque>
#include <thread>

namespace {

using tabstest::FakeDelegate;
using tabstest::Frame;
using tabstest::tabInfo;

constexpr KZTabTag kDeads = KZTag::missingTracks;
constexpr KZTabTag kEmpty = KZTag::emptyFolders;

class ScriptedPresenter : public KZAlertPresenter {
public:
    std::vector<QString> asked;
    std::deque<qint64> answers;
    Answer runModal(const Alert& alert) override
    {
        asked.push_back(alert.messageText);
        Answer answer;
        if (!answers.empty()) {
            answer.button = answers.front();
            answers.pop_front();
        }
        return answer;
    }
    void beginSheet(const Alert&) override {}
};

// Every post of the strip's notifications, in order, as "name tag".
class Recorder {
public:
    Recorder()
    {
        for (const QString& name :
             {KZNotification::updateTabSelection, KZNotification::showViewWithSelection,
              KZNotification::createNewAddedFileType, KZNotification::removeFileTypeLabel,
              KZNotification::deleteRemovedFiletype}) {
            subscriptions_.push_back(platform::NotificationCenter::defaultCenter().addObserver(
                name, {}, [this](const platform::Notification& note) {
                    posts.push_back(note.name + QLatin1Char(' ') + note.userInfo.value(QStringLiteral("tag")).toString());
                    infos.push_back(note.userInfo);
                }));
        }
    }
    int count(const QString& post) const { return int(std::count(posts.begin(), posts.end(), post)); }

    std::vector<QString> posts;
    std::vector<QVariantMap> infos;

private:
    std::vector<platform::Subscription> subscriptions_;
};

QString post(const QString& name, quint64 tag)
{
    return name + QLatin1Char(' ') + QString::number(tag);
}

class ResultTabs : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::UserDefaults::setStandard(nullptr);
        KZDefaultsRegistry::setupDefaultsPreferences();
        KZAnimationTiming::setScale(0.01);
        KZErrorDelegate::setSharedControl(nullptr);
        KZErrorDelegate::sharedControl().setPresenter(presenter);
    }
    void TearDown() override
    {
        frame.reset();
        KZErrorDelegate::setSharedControl(nullptr);
        KZAnimationTiming::setScale(1.0);
        platform::UserDefaults::setStandard(nullptr);
    }

    KZResultTabsView* build(const QVariantMap& info)
    {
        frame = std::make_unique<Frame>(&delegate);
        frame->strip->createTabsWithTabInfo(info);
        frame->window->show();
        kztest::processEventsUntil([] { return false; }, std::chrono::milliseconds(30));
        return frame->strip;
    }
    std::vector<quint64> order() const
    {
        const QList<quint64> keys = frame->strip->allOrderedTabsKeys();
        return {keys.begin(), keys.end()};
    }
    void settle(int ms = 60) { kztest::processEventsUntil([] { return false; }, std::chrono::milliseconds(ms)); }

    FakeDelegate delegate;
    std::shared_ptr<ScriptedPresenter> presenter = std::make_shared<ScriptedPresenter>();
    std::unique_ptr<Frame> frame;
    Recorder recorder;
};

TEST_F(ResultTabs, TabsInTagOrderWithMinimumWidths)
{
    KZResultTabsView* strip = build(tabInfo({1, 3, 5}, true));
    ASSERT_EQ(order(), (std::vector<quint64>{0, 1, 3, 5, kDeads}));
    EXPECT_FALSE(strip->fileTypes().at(0)->canBeRemoved()) << "the first tab has no cross";
    EXPECT_TRUE(strip->fileTypes().at(3)->canBeRemoved());
    EXPECT_EQ(strip->fileTypes().at(0)->filesCount(), 120u);
    EXPECT_EQ(strip->fileTypes().at(kDeads)->filesCount(), 3u);
    EXPECT_DOUBLE_EQ(strip->minWidth(), 142.0);
    for (const quint64 tag : order()) {
        SCOPED_TRACE(tag);
        EXPECT_GE(strip->tab(tag)->width(), 142);
        EXPECT_EQ(strip->tab(tag)->width(), strip->tab(0)->width()) << "equal widths";
        EXPECT_EQ(strip->tab(tag)->height(), 28);
    }
    EXPECT_EQ(strip->tab(0)->x(), 1);
    EXPECT_EQ(strip->tab(1)->x() - strip->tab(0)->geometry().right() - 1, 4);
    EXPECT_EQ(strip->tab(kDeads)->x() - strip->tab(5)->geometry().right() - 1, 32) << "the fixed tabs stand apart";

    // One type: a single tab under the single-tab name, no all-duplicates
    // tab; dead tracks follow after the wide gap.
    strip->createTabsWithTabInfo(tabInfo({4}, true));
    ASSERT_EQ(order(), (std::vector<quint64>{4, kDeads})) << "a second build replaces the tabs";
    EXPECT_EQ(strip->findChildren<KZResultTabItemView*>().size(), 2);
    EXPECT_TRUE(strip->fileTypes().at(4)->showSingleName());
    EXPECT_FALSE(strip->fileTypes().at(4)->canBeRemoved());
}

TEST_F(ResultTabs, NoLabelsAtAll)
{
    KZResultTabsView* strip = build(tabInfo({}));
    EXPECT_TRUE(order().empty());
    EXPECT_EQ(strip->minWidth(), 0.0);
    strip->selectTabWithTag(3);
    EXPECT_EQ(recorder.count(post(KZNotification::showViewWithSelection, 3)), 1);
    strip->cycleTabs();
    EXPECT_FALSE(strip->canCycleTabs());
    strip->createEmptyFoldersTab(tabInfo({}));
    EXPECT_EQ(order(), (std::vector<quint64>{kEmpty}));
    strip->selectTabWithTag(99);
    EXPECT_TRUE(strip->tab(kEmpty)->isSelected()) << "a strip of one tab always selects it";
}

TEST_F(ResultTabs, ClickSelectsThroughTheHandShake)
{
    KZResultTabsView* strip = build(tabInfo({3, 5, 6}));
    strip->selectTabWithTag(0);
    ASSERT_TRUE(strip->tab(0)->isSelected());
    recorder.posts.clear();

    KZResultTabItemView* tab = strip->tab(5);
    QTest::mousePress(tab, Qt::LeftButton, {}, QPoint(70, 14));
    QTest::mouseRelease(tab, Qt::LeftButton, {}, QPoint(70, 14));
    EXPECT_TRUE(tab->isSpinning()) << "the spinner shows at once";
    EXPECT_TRUE(recorder.posts.empty()) << "the selection waits for the next turn of the loop";
    settle();
    EXPECT_EQ(recorder.posts, (std::vector<QString>{post(KZNotification::updateTabSelection, 5),
                                                    post(KZNotification::showViewWithSelection, 5)}));
    for (const quint64 t : order()) {
        SCOPED_TRACE(t);
        EXPECT_EQ(strip->tab(t)->isSelected(), t == 5);
        EXPECT_EQ(strip->horizontalBar(t)->isVisible(), t == 5) << "only the selected tab's bars";
        EXPECT_EQ(strip->verticalBar(t)->isVisible(), t == 5);
    }

    // The selected tab's body does nothing; a request for a tag without a tab
    // leaves none selected and is still passed on.
    recorder.posts.clear();
    QTest::mouseClick(tab, Qt::LeftButton, {}, QPoint(70, 14));
    settle();
    EXPECT_TRUE(recorder.posts.empty());
    strip->selectTabWithTag(42);
    EXPECT_FALSE(strip->selectedTag().has_value());
    EXPECT_EQ(recorder.count(post(KZNotification::showViewWithSelection, 42)), 1);

    // While files are being removed a click posts nothing.
    delegate.removing = true;
    recorder.posts.clear();
    QTest::mouseClick(strip->tab(3), Qt::LeftButton, {}, QPoint(70, 14));
    settle();
    EXPECT_TRUE(recorder.posts.empty());
}

TEST_F(ResultTabs, CyclingWrapsAndIsEnabledOnlyWhenUseful)
{
    KZResultTabsView* strip = build(tabInfo({3, 5}, true));
    QAction action;
    strip->installCycleAction(&action);
    strip->selectTabWithTag(kDeads);
    EXPECT_TRUE(action.isEnabled());
    action.trigger();
    EXPECT_EQ(strip->selectedTag(), 0u) << "from the last to the first";
    EXPECT_TRUE(strip->tab(0)->isSpinning());
    action.trigger();
    EXPECT_EQ(strip->selectedTag(), 3u);

    struct Case {
        const char* name;
        bool removing, visible, about;
    };
    for (const Case& c : {Case{"removing", true, true, false}, Case{"hidden", false, false, false},
                          Case{"About open", false, true, true}}) {
        SCOPED_TRACE(c.name);
        delegate.removing = c.removing;
        delegate.visible = c.visible;
        delegate.aboutOpen = c.about;
        strip->updateCycleAction();
        EXPECT_FALSE(action.isEnabled());
        strip->cycleTabs();
        EXPECT_EQ(strip->selectedTag(), 3u);
    }
    delegate = FakeDelegate();
    strip = build(tabInfo({3}));
    EXPECT_FALSE(strip->canCycleTabs()) << "one tab";
}

TEST_F(ResultTabs, LabelsAddedAndDeletedInTheDefaults)
{
    auto& defaults = platform::UserDefaults::standard();
    const QVariantList factory = defaults.arrayForKey(KZDefaultsKey::file_type_labels);
    KZResultTabsView* strip = build(tabInfo({3, 5}));

    QVariantList more = factory;
    more.append(QVariantMap{{KZLabelKey::label_name, QStringLiteral("Scans")},
                            {KZLabelKey::file_type_tag, QVariant::fromValue<quint64>(9)}});
    defaults.setValue(KZDefaultsKey::file_type_labels, more);
    settle();
    EXPECT_EQ(order(), (std::vector<quint64>{0, 3, 5, 9}));
    EXPECT_EQ(recorder.count(post(KZNotification::createNewAddedFileType, 9)), 1);
    EXPECT_EQ(strip->fileTypes().at(9)->filesCount(), 0u) << "an empty tab";
    EXPECT_EQ(recorder.infos.back().value(QStringLiteral("tab")).value<QObject*>(), strip->tab(9));

    // Label 5 deleted; the question is declined, so the tab stays, and the
    // same deletion is not asked about again.
    QVariantList fewer;
    for (const QVariant& label : more) {
        if (label.toMap().value(KZLabelKey::file_type_tag).toULongLong() != 5)
            fewer.append(label);
    }
    presenter->answers = {KZErrorDelegate::SecondButton};
    defaults.setValue(KZDefaultsKey::file_type_labels, fewer);
    settle();
    ASSERT_EQ(presenter->asked.size(), 1u);
    EXPECT_EQ(order(), (std::vector<quint64>{0, 3, 5, 9}));

    // Label 9 deleted too: its tab is the one offered, not the kept one.
    fewer.removeLast();
    defaults.setValue(KZDefaultsKey::file_type_labels, fewer);
    settle();
    ASSERT_EQ(presenter->asked.size(), 2u);
    EXPECT_EQ(order(), (std::vector<quint64>{0, 3, 5}));
    EXPECT_EQ(recorder.count(post(KZNotification::deleteRemovedFiletype, 9)), 1);
    EXPECT_EQ(recorder.count(post(KZNotification::removeFileTypeLabel, 9)), 1);
}

TEST_F(ResultTabs, CrossRemovesATabAfterTheQuestion)
{
    KZResultTabsView* strip = build(tabInfo({2, 3, 5}));
    strip->selectTabWithTag(3);
    recorder.posts.clear();
    recorder.infos.clear();
    KZResultTabItemView* folders = strip->tab(2);
    const QPoint cross = folders->crossRect().center().toPoint();

    presenter->answers = {KZErrorDelegate::SecondButton};
    QTest::mouseClick(folders, Qt::LeftButton, {}, cross);
    EXPECT_TRUE(presenter->asked.empty()) << "the modal question waits for the next turn";
    settle();
    ASSERT_EQ(presenter->asked.size(), 1u);
    EXPECT_EQ(order(), (std::vector<quint64>{0, 2, 3, 5}));

    QTest::mouseClick(folders, Qt::LeftButton, {}, cross);
    settle();
    EXPECT_EQ(order(), (std::vector<quint64>{0, 3, 5}));
    EXPECT_EQ(recorder.posts, (std::vector<QString>{post(KZNotification::removeFileTypeLabel, 2),
                                                    post(KZNotification::deleteRemovedFiletype, 2)}));
    EXPECT_EQ(recorder.infos.front().value(QStringLiteral("size")).toULongLong(), 2000u);
    EXPECT_EQ(strip->selectedTag(), 3u) << "an unselected tab leaves the selection alone";
    EXPECT_EQ(strip->tab(3)->x() - strip->tab(0)->geometry().right() - 1, 4) << "the gap is closed";
}

TEST_F(ResultTabs, RemovingTheSelectedTabSelectsTheFirstRemaining)
{
    struct Case {
        const char* name;
        QVariantMap info;
        quint64 removed;
        quint64 expected;
    };
    const Case cases[] = {
        {"selected, not first", tabInfo({3, 5}), 5, 0},
        {"selected and first", tabInfo({6}, true), 6, kDeads},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KZResultTabsView* strip = build(c.info);
        strip->selectTabWithTag(c.removed);
        strip->removeTabWithTag(c.removed);
        EXPECT_EQ(strip->selectedTag(), c.expected);
        settle();
        EXPECT_TRUE(strip->horizontalBar(c.expected)->isVisible());
    }
}

TEST_F(ResultTabs, EmptyFoldersTabComesLater)
{
    KZResultTabsView* strip = build(tabInfo({3, 5}));
    QVariantMap info = tabInfo({});
    info.insert(QStringLiteral("KZResultFoundItemsCount"), QVariant::fromValue<quint64>(7));
    strip->createEmptyFoldersTab(info);
    strip->createEmptyFoldersTab(info);
    EXPECT_EQ(order(), (std::vector<quint64>{0, 3, 5, kEmpty})) << "once, and last";
    EXPECT_EQ(strip->fileTypes().at(kEmpty)->filesCount(), 7u);
    settle();
    EXPECT_EQ(strip->tab(kEmpty)->x() - strip->tab(5)->geometry().right() - 1, 32);
}

TEST_F(ResultTabs, OneSpinnerPerTab)
{
    KZResultTabsView* strip = build(tabInfo({3, 5}));
    KZResultTabItemView* tab = strip->tab(3);
    auto& center = platform::NotificationCenter::defaultCenter();
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i)
            center.post(KZNotification::KZStartTabProgressIndicator, static_cast<const void*>(tab));
    });
    worker.join();
    tab->manageSpinner();
    settle();
    EXPECT_TRUE(tab->isSpinning());
    EXPECT_EQ(tab->findChildren<QTimer*>().size(), 1);

    center.post(KZNotification::KZStopProgressIndicator, static_cast<const void*>(strip->tab(5)));
    settle();
    EXPECT_TRUE(tab->isSpinning()) << "another tab's stop";
    center.post(KZNotification::KZStopProgressIndicator, static_cast<const void*>(tab));
    settle();
    EXPECT_FALSE(tab->isSpinning()) << "one stop after many starts";
    center.post(KZNotification::KZStopProgressIndicator, static_cast<const void*>(tab));
    settle();
    EXPECT_FALSE(tab->isSpinning());
}

} // namespace
