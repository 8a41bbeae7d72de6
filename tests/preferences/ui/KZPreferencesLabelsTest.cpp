#include "preferences/ui/KZPreferencesLabelsCntrl.h"

#include "preferences/KZLabelsTable.h"
#include "preferences/ui/KZColorWell.h"
#include "preferences/ui/KZPreferencesLabelsCellView.h"
#include "preferences/ui/KZPreferencesLabelsPopoverCntrl.h"

#include "platform/NotificationCenter.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZDefaultsRegistry.h"
#include "settings/KZNotificationNames.h"

#include "TestSupport.h"

#include <QCheckBox>
#include <QLabel>
#include <QCoreApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace K = KZDefaultsKey;
namespace L = KZLabelKey;
using namespace Qt::StringLiterals;

namespace {

class PreferencesLabelsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        KZDefaultsRegistry::setupDefaultsPreferences(*defaults);
        auto& center = platform::NotificationCenter::defaultCenter();
        for (const QString& name : {KZNotification::removeObservers, KZNotification::addObservers, u"updateTableView"_s})
            subscriptions.push_back(center.addObserver(name, platform::bundleIdentifier(),
                                                       [this, name](const platform::Notification&) { posts.append(name); }));
        subscriptions.push_back(center.addObserver(
            KZNotification::fileTypeExtensionsDidChange, {}, [this](const platform::Notification& note) {
                announcements.push_back(note);
                popoverVisibleAtAnnouncement = popoverShown();
            }));
        pane = std::make_unique<KZPreferencesLabelsCntrl>();
        pane->show();
    }
    void TearDown() override { pane.reset(); }

    KZPreferencesLabelsCellView* cell(quint64 tag) const { return pane->cellWithTag(tag); }
    QVariantMap stored(quint64 tag) const { return table.labelWithTag(tag).value_or(QVariantMap()); }
    KZPreferencesLabelsPopoverCntrl* openPopover(quint64 tag)
    {
        cell(tag)->ellipseAction();
        return cell(tag)->popoverCntrl();
    }
    bool popoverShown() const
    {
        for (KZPreferencesLabelsCellView* row : pane->cells())
            if (row->popoverCntrl() && row->popoverCntrl()->isShown())
                return true;
        return false;
    }
    // The table refreshes on the next turn of the event loop.
    static void refresh()
    {
        // Two hops: the defaults' observer queues the refresh, which runs on
        // the next turn. A wait alone may end after one long first turn.
        for (int i = 0; i < 4; ++i)
            QCoreApplication::processEvents();
        QTest::qWait(5);
    }

    kztest::ScopedDefaults defaults;
    KZLabelsTable table{*defaults};
    std::unique_ptr<KZPreferencesLabelsCntrl> pane;
    QStringList posts;
    std::vector<platform::Notification> announcements;
    bool popoverVisibleAtAnnouncement = true;
    std::vector<platform::Subscription> subscriptions;
};

QList<quint64> tagsOf(const QList<KZPreferencesLabelsCellView*>& cells)
{
    QList<quint64> tags;
    for (const KZPreferencesLabelsCellView* cell : cells)
        tags.append(cell->tag());
    return tags;
}

} // namespace

TEST_F(PreferencesLabelsTest, RowsShowTheTableAndFixedLabelsCannotBeChanged)
{
    EXPECT_EQ(tagsOf(pane->cells()), (QList<quint64>{0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_TRUE(pane->descriptionTxt()->text().contains(u"12"_s));
    for (quint64 tag : {0, 1, 2}) {
        EXPECT_FALSE(cell(tag)->ellipseBtn()->isVisible());
        EXPECT_FALSE(cell(tag)->removeBtn()->isVisible());
        EXPECT_TRUE(cell(tag)->nameField()->isReadOnly());
    }
    EXPECT_TRUE(cell(3)->ellipseBtn()->isVisible());
    EXPECT_FALSE(cell(3)->nameField()->isReadOnly());

    // Labels switched off: every well shows the neutral grey.
    pane->disableBox()->click();
    EXPECT_TRUE(defaults->boolForKey(K::disable_lables));
    for (KZPreferencesLabelsCellView* row : pane->cells())
        EXPECT_EQ(row->colorWell()->color(), QColor::fromRgbF(0.843f, 0.843f, 0.843f, 1.0f));
    EXPECT_DOUBLE_EQ(stored(3).value(L::red_label_on_color).toDouble(), 0.611);
}

TEST_F(PreferencesLabelsTest, AddingStopsAtTwelveAndTheNewNameIsEditedAtOnce)
{
    pane->window()->activateWindow();
    for (int i = 0; i < 3; ++i)
        pane->addBtn()->click();
    EXPECT_TRUE(pane->addBtn()->isEnabled());
    pane->addBtn()->click();
    EXPECT_FALSE(pane->addBtn()->isEnabled());
    EXPECT_EQ(tagsOf(pane->cells()).last(), 12u);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return cell(12)->nameField()->hasFocus(); }));
    pane->addAction();
    EXPECT_EQ(table.labels().size(), 12);

    // The restore brings back the eight and numbering from 9.
    pane->restoreBtn()->click();
    EXPECT_EQ(pane->cells().size(), 8);
    EXPECT_TRUE(pane->addBtn()->isEnabled());
    pane->addBtn()->click();
    EXPECT_EQ(tagsOf(pane->cells()).last(), 9u);
}

TEST_F(PreferencesLabelsTest, RemovingPostsInOrderAndDropsTheRow)
{
    cell(5)->removeBtn()->click();
    EXPECT_EQ(posts, (QStringList{KZNotification::removeObservers, KZNotification::addObservers, u"updateTableView"_s}));
    refresh();
    EXPECT_EQ(tagsOf(pane->cells()), (QList<quint64>{0, 1, 2, 3, 4, 6, 7}));
    EXPECT_FALSE(table.labelWithTag(5));
}

TEST_F(PreferencesLabelsTest, ARowWhoseLabelMovedOrWentActsOnNothingElse)
{
    KZPreferencesLabelsCellView* stale = cell(6);
    // Another window removes a label above it: the row's old index now
    // belongs to another label.
    table.removeLabel(4);
    const QVariantMap documents = stored(7);
    stale->colorAction(Qt::red);
    EXPECT_EQ(stored(7), documents);
    EXPECT_DOUBLE_EQ(stored(6).value(L::red_label_on_color).toDouble(), 1.0);

    // Its own label gone: nothing happens at all.
    table.removeLabel(6);
    const QVariant before = defaults->value(K::file_type_labels);
    posts.clear();
    stale->colorAction(Qt::green);
    stale->nameField()->setText(u"stale"_s);
    stale->fieldNameAction();
    stale->removeAction();
    EXPECT_EQ(defaults->value(K::file_type_labels), before);
    EXPECT_FALSE(posts.contains(KZNotification::removeObservers));
}

TEST_F(PreferencesLabelsTest, RenamingAndRecolouringThroughTheRow)
{
    QLineEdit* name = cell(4)->nameField();
    name->setText(u"sONGS and PODCASTS"_s);
    Q_EMIT name->editingFinished();
    EXPECT_EQ(stored(4).value(L::label_name), u"Songs And Podcasts"_s);
    EXPECT_EQ(name->text(), u"Songs And Podcasts"_s);
    name->clear();
    Q_EMIT name->editingFinished();
    EXPECT_EQ(stored(4).value(L::label_name), u"Songs And Podcasts"_s);
    EXPECT_EQ(name->text(), u"Songs And Podcasts"_s);

    cell(4)->colorAction(QColor::fromRgbF(0.25f, 0.5f, 0.75f));
    const QVariantMap label = stored(4);
    EXPECT_NEAR(label.value(L::green_label_off_color).toDouble(), 0.5, 1e-4);
    EXPECT_DOUBLE_EQ(label.value(L::alpha_label_on_color).toDouble(), 0.8);
    EXPECT_DOUBLE_EQ(label.value(L::alpha_label_off_color).toDouble(), 0.6);
}

TEST_F(PreferencesLabelsTest, PopoverCommitsOnDoneAndAnnouncesAfterClosing)
{
    KZPreferencesLabelsPopoverCntrl* popover = openPopover(3);
    ASSERT_TRUE(popover->isShown());
    const QStringList groups = popover->groups();
    ASSERT_GT(groups.size(), 1);
    EXPECT_EQ(popover->extTableView()->count(), groups.size());

    // Done without an edit: nothing written, nothing announced.
    const QVariant before = defaults->value(K::file_type_labels);
    popover->doneBtn()->click();
    EXPECT_FALSE(popover->isShown());
    refresh();
    EXPECT_EQ(defaults->value(K::file_type_labels), before);
    EXPECT_TRUE(announcements.empty());

    openPopover(3);
    popover->updateExtensions(0, groups.at(0)); // the same tokens: no change
    popover->updateExtensions(1, u" heic , webp "_s);
    popover->doneAction();
    EXPECT_TRUE(announcements.empty());
    ASSERT_TRUE(kztest::processEventsUntil([&] { return announcements.size() == 1; }));
    EXPECT_FALSE(popoverVisibleAtAnnouncement);
    EXPECT_EQ(announcements.front().object, platform::NotificationObject::number(3));
    QStringList expected = groups;
    expected[1] = u"heic,webp"_s;
    EXPECT_EQ(stored(3).value(L::labels_extension_array).toStringList(), expected);
    EXPECT_EQ(announcements.front().userInfo.value(L::labels_extension), expected.join(u","_s));
    EXPECT_TRUE(posts.contains(u"updateTableView"_s));
}

TEST_F(PreferencesLabelsTest, ASecondEllipsisClickCommitsAnyOtherCloseDiscards)
{
    KZPreferencesLabelsPopoverCntrl* popover = openPopover(6);
    popover->updateExtensions(0, u"zip"_s);
    popover->popover()->close(); // a click elsewhere
    refresh();
    EXPECT_NE(stored(6).value(L::labels_extension_array).toStringList().value(0), u"zip"_s);
    EXPECT_TRUE(announcements.empty());

    openPopover(6);
    EXPECT_NE(popover->groups().value(0), u"zip"_s); // the dropped edit is gone
    popover->updateExtensions(0, u"zip"_s);
    cell(6)->ellipseBtn()->click();
    EXPECT_FALSE(popover->isShown());
    EXPECT_EQ(stored(6).value(L::labels_extension_array).toStringList().value(0), u"zip"_s);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return announcements.size() == 1; }));
}

TEST_F(PreferencesLabelsTest, PopoverEdgeCases)
{
    quint64 tag = 0;
    ASSERT_EQ(table.addLabel(&tag), KZLabelsTable::AddResult::Added);
    refresh();

    // An added group never edited is dropped: nothing to commit.
    KZPreferencesLabelsPopoverCntrl* popover = openPopover(tag);
    popover->addAction();
    EXPECT_EQ(popover->groups(), QStringList{QString()});
    const QVariant before = defaults->value(K::file_type_labels);
    popover->doneAction();
    EXPECT_EQ(defaults->value(K::file_type_labels), before);

    // An edit with an unnamed label names it.
    openPopover(tag);
    popover->addAction();
    popover->updateExtensions(0, u"raw, dng"_s);
    popover->doneAction();
    EXPECT_EQ(stored(tag).value(L::label_name), platform::localizedString(u"user_added"_s));
    EXPECT_EQ(stored(tag).value(L::labels_extension), u"raw,dng"_s);

    // Removing the only group stores empty extensions and announces it.
    refresh();
    announcements.clear();
    openPopover(tag);
    popover->extTableView()->setCurrentRow(0);
    EXPECT_TRUE(popover->removeBtn()->isEnabled());
    popover->removeAction();
    popover->doneAction();
    EXPECT_EQ(stored(tag).value(L::labels_extension), QString());
    EXPECT_EQ(stored(tag).value(L::labels_extension_array), QVariantList());
    ASSERT_TRUE(kztest::processEventsUntil([&] { return announcements.size() == 1; }));
}

TEST_F(PreferencesLabelsTest, PopoverCommitKeepsChangesMadeMeanwhileAndSparesARemovedLabel)
{
    KZPreferencesLabelsPopoverCntrl* popover = openPopover(5);
    table.renameLabel(5, u"clips"_s);
    table.recolourLabel(5, 0.2, 0.4, 0.6);
    popover->updateExtensions(0, u"mov"_s);
    popover->doneAction();
    EXPECT_EQ(stored(5).value(L::label_name), u"Clips"_s);
    EXPECT_DOUBLE_EQ(stored(5).value(L::blue_label_on_color).toDouble(), double(0.6f));
    EXPECT_EQ(stored(5).value(L::labels_extension_array).toStringList().value(0), u"mov"_s);

    refresh();
    popover = openPopover(7);
    table.removeLabel(7);
    const QVariant before = defaults->value(K::file_type_labels);
    announcements.clear();
    popover->updateExtensions(0, u"doc"_s);
    popover->doneAction();
    EXPECT_EQ(defaults->value(K::file_type_labels), before);
    refresh();
    EXPECT_TRUE(announcements.empty());
}

TEST_F(PreferencesLabelsTest, APressOnTheEllipsisWhileOpenCommitsAndIsNotReplayed)
{
    KZPreferencesLabelsPopoverCntrl* popover = openPopover(4);
    popover->updateExtensions(0, u"flac"_s);
    QToolButton* ellipsis = cell(4)->ellipseBtn();
    const QPoint onButton =
        popover->popover()->mapFromGlobal(ellipsis->mapToGlobal(ellipsis->rect().center()));
    ASSERT_FALSE(popover->popover()->rect().contains(onButton));
    QTest::mousePress(popover->popover(), Qt::LeftButton, {}, onButton);
    EXPECT_FALSE(popover->isShown());
    EXPECT_TRUE(popover->popover()->testAttribute(Qt::WA_NoMouseReplay));
    EXPECT_EQ(stored(4).value(L::labels_extension_array).toStringList().value(0), u"flac"_s);
}
