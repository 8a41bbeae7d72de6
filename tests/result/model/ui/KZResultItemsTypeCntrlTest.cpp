#include "SourcesListFake.h"
#include "TestSupport.h"

#include "engine/KZResultInfoKeys.h"
#include "platform/NotificationCenter.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "result/model/KZFoundListCntrl.h"
#include "result/model/KZListNotifications.h"
#include "result/model/KZSplitViewSettings.h"
#include "result/model/ui/KZResultItemsTypeCntrl.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZTags.h"

#include <QApplication>
#include <QLabel>
#include <QSplitter>
#include <QToolButton>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

class DeadTracks : public KZDeadTracksTab {
public:
    QWidget view;
    QWidget* resultView() override { return &view; }
};

class ResultTab : public ::testing::Test {
protected:
    void SetUp() override
    {
        KZResultItemsTypeCntrl::positionsWriteDelayMs = 0;
        for (const QString& key : {KZDefaultsKey::main_splitview_settings, KZDefaultsKey::list_ver_splitview_settings,
                                   KZDefaultsKey::list_hor_splitview_settings})
            defaults().removeValue(key);
        defaults().setValue(KZDefaultsKey::list_splitView_is_vertical, true);
        defaults().setValue(KZDefaultsKey::show_result_by_group, true);
    }

    std::unique_ptr<KZResultItemsTypeCntrl> makeTab(quint64 tag, KZResultTabParts parts = {})
    {
        const QVariantMap info{{QStringLiteral("tag"), QVariant::fromValue(tag)},
                               {QStringLiteral("fileType"), QVariant::fromValue(KZFileTypeLabel::create(tag))}};
        auto tab = std::make_unique<KZResultItemsTypeCntrl>(info, nullptr, std::move(parts));
        // Wide enough that the pane's minimum does not decide the split.
        tab->resultWidget()->resize(2000, 600);
        tab->resultWidget()->show();
        QApplication::processEvents();
        return tab;
    }
};

} // namespace

TEST_F(ResultTab, WithNothingStoredTheListTakesThreeQuartersAndItsPositionIsKept)
{
    auto tab = makeTab(3);
    const QList<int> sizes = tab->listSplit()->sizes();
    ASSERT_EQ(sizes.size(), 2);
    EXPECT_NEAR(static_cast<double>(sizes[0]) / (sizes[0] + sizes[1]), 0.75, 0.02);

    tab->listSplit()->setSizes({500, 300});
    tab->resultWidget()->resize(2001, 600);
    QApplication::processEvents();
    const auto stored = KZSplitViewSettings::parseStored(defaults().value(KZDefaultsKey::list_ver_splitview_settings));
    ASSERT_TRUE(stored.has_value());
    EXPECT_FALSE(stored->second.collapsed);
    EXPECT_GE(stored->second.frame.width(), 166);
}

TEST_F(ResultTab, SwitchingTheOrientationSwapsThePanesMinimumAndItsKey)
{
    auto tab = makeTab(3);
    EXPECT_EQ(tab->previewPane()->minimumWidth(), 166);
    EXPECT_EQ(tab->listSplitKey(), KZDefaultsKey::list_ver_splitview_settings);
    defaults().setValue(KZDefaultsKey::list_hor_splitview_settings,
                        KZSplitViewSettings::storedValue({QRectF(0, 200, 800, 300), false, false},
                                                         {QRectF(0, 0, 800, 199), false, false}));
    defaults().setValue(KZDefaultsKey::list_splitView_is_vertical, false);
    platform::NotificationCenter::defaultCenter().post(KZNotification::switchPositionSplitView,
                                                      platform::bundleIdentifier());
    ASSERT_TRUE(kztest::processEventsUntil([&] { return tab->listSplit()->orientation() == Qt::Vertical; }));
    EXPECT_EQ(tab->previewPane()->minimumHeight(), 166);
    EXPECT_EQ(tab->previewPane()->minimumWidth(), 0);
    EXPECT_EQ(tab->listSplitKey(), KZDefaultsKey::list_hor_splitview_settings);
    const QList<int> sizes = tab->listSplit()->sizes();
    EXPECT_GT(sizes[0], sizes[1]);
}

TEST_F(ResultTab, CollapsingThePreviewIsToldOnEveryResizeAndUncollapsingOnce)
{
    auto tab = makeTab(3);
    int collapses = 0;
    int uncollapses = 0;
    auto c = platform::NotificationCenter::defaultCenter().addObserver(
        KZNotification::splitViewDidCollapse, {}, [&](const platform::Notification&) { ++collapses; });
    auto u = platform::NotificationCenter::defaultCenter().addObserver(
        KZNotification::splitViewDidUncollapse, {}, [&](const platform::Notification&) { ++uncollapses; });
    auto resize = [&](int width) {
        tab->resultWidget()->resize(width, 600);
        QApplication::processEvents();
    };
    tab->listSplit()->setSizes({2000, 0});
    resize(2010);
    EXPECT_TRUE(tab->collectionViewSplitIsCollapsed());
    const int afterFirst = collapses;
    EXPECT_GE(afterFirst, 1);
    resize(2020);
    EXPECT_GT(collapses, afterFirst);
    EXPECT_EQ(uncollapses, 0);

    tab->listSplit()->setSizes({600, 300});
    resize(2030);
    resize(2040);
    EXPECT_EQ(uncollapses, 1);
    EXPECT_FALSE(tab->collectionViewSplitIsCollapsed());
}

TEST_F(ResultTab, TheEmptyFoldersTabHasNoExpandButtonsOrMenuItems)
{
    auto tab = makeTab(KZTag::emptyFolders);
    EXPECT_TRUE(tab->expandAllBtn()->isHidden());
    EXPECT_TRUE(tab->contractAllBtn()->isHidden());
    EXPECT_FALSE(tab->emptyFoldersInfoBtn()->isHidden());
    EXPECT_FALSE(tab->validateMenuItem(4, true));
    EXPECT_FALSE(tab->validateMenuItem(5, true));

    auto files = makeTab(3);
    EXPECT_TRUE(files->validateMenuItem(4, true));
    defaults().setValue(KZDefaultsKey::show_result_by_group, false);
    files->enableBtns();
    EXPECT_FALSE(files->validateMenuItem(4, true));
    EXPECT_TRUE(files->validateMenuItem(9, true));
}

TEST_F(ResultTab, ExpandAllIsPostedForTheVisibleTabOnly)
{
    auto tab = makeTab(3);
    std::vector<qint64> posted;
    auto obs = platform::NotificationCenter::defaultCenter().addObserver(
        KZNotification::expandItems, platform::NotificationObject::number(3),
        [&](const platform::Notification& n) { posted.push_back(n.userInfo.value(QStringLiteral("tag")).toLongLong()); });
    tab->contractAllBtn()->click();
    tab->setResultViewHidden(true);
    tab->expandAllBtn()->click();
    EXPECT_EQ(posted, std::vector<qint64>{5});
}

TEST_F(ResultTab, TheMissingTracksTabGetsAnEmptyListWhenTheResultHasNone)
{
    std::optional<QVariant> deads;
    QVariantMap given;
    KZResultTabParts parts;
    parts.makeDeadTracks = [&](const QVariantMap& info) {
        given = info;
        deads = info.value(KZResultKey::foundDeads);
        return std::make_unique<DeadTracks>();
    };
    auto tab = makeTab(KZTag::missingTracks, parts);
    ASSERT_TRUE(deads.has_value());
    EXPECT_TRUE(deads->canConvert<QVariantList>());
    EXPECT_TRUE(deads->toList().isEmpty());
    EXPECT_TRUE(given.contains(QStringLiteral("tabView")));
    EXPECT_TRUE(given.contains(QStringLiteral("KZResultSearchWasStoppedByUser")));
    EXPECT_EQ(tab->foundListCntrl(), nullptr);
    EXPECT_NE(tab->resultView(), nullptr);
}

TEST_F(ResultTab, TheEmptyFoldersPopoverWrapsLongTexts)
{
    auto tab = makeTab(KZTag::emptyFolders);
    tab->infoButtonAction();
    ASSERT_NE(tab->popover(), nullptr);
    EXPECT_TRUE(tab->popover()->isVisible());
    EXPECT_LE(tab->popover()->width(), 350 + 30);
    // The shipped text, not its key, and long enough to take several lines.
    const QLabel* info = tab->popover()->findChild<QLabel*>();
    ASSERT_NE(info, nullptr);
    const QString key = QStringLiteral("empty_folders_info");
    EXPECT_EQ(info->text(), platform::localizedString(key));
    EXPECT_NE(info->text(), key);
    EXPECT_GT(tab->popover()->height() - 30, 2 * info->fontMetrics().height());
    tab->infoButtonAction();
    EXPECT_FALSE(tab->popover()->isVisible());
}

TEST_F(ResultTab, TheSourcesListIsMadeBesideTheListAndTakesTheTabsUpdates)
{
    RecordingSourcesList* made = nullptr;
    QVariantMap asked;
    KZResultTabParts parts;
    parts.makeSourcesList = [&](const QVariantMap& info) {
        asked = info;
        auto list = std::make_unique<RecordingSourcesList>();
        made = list.get();
        return list;
    };
    auto tab = makeTab(3, parts);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(asked.value(QStringLiteral("fileType")).value<KZFileTypeLabelRef>()->tag(), 3u);
    EXPECT_TRUE(asked.contains(KZResultKey::searchSources));
    EXPECT_EQ(tab->sourcesSplit()->widget(0), made->widget.data());
    EXPECT_EQ(made->outline, tab->foundListCntrl()->outlineCntrl());

    KZMarkedInfoUpdate update;
    update.info = std::make_shared<KZViewToUpdate>();
    tab->updateMarkedInfoWithDict(update);
    ASSERT_EQ(made->marked.size(), 1u);
    EXPECT_EQ(made->marked[0].info, update.info);
    const auto removal = std::make_shared<KZViewToUpdate>();
    tab->updateRemovedInfoWithDict(removal);
    ASSERT_EQ(made->removed.size(), 1u);
    EXPECT_EQ(made->removed[0], removal);
}
