#include "ListModelFakes.h"
#include "ModelTestSupport.h"
#include "TestSupport.h"

#include "platform/NotificationCenter.h"
#include "platform/OperationQueue.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "result/model/KZColumnKeys.h"
#include "result/model/KZFindFolding.h"
#include "result/model/KZFoundListCntrl.h"
#include "result/model/KZListNotifications.h"
#include "result/model/KZMusicLibraryNotifier.h"
#include "result/model/KZResultCntrl.h"
#include "result/model/KZThreadBudget.h"
#include "services/KZErrorDelegate.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZNotificationNames.h"
#include "settings/KZSourceItem.h"
#include "settings/KZTags.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

using namespace modeltest;
using namespace listtest;

namespace {

constexpr KZTabTag kTab = 3;
constexpr KZTabTag kMarkedOfTab = KZTag::markedItemsRowBase + kTab;

platform::NotificationCenter& center()
{
    return platform::NotificationCenter::defaultCenter();
}

std::vector<KZSourceItemRef> makeSources(int count)
{
    std::vector<KZSourceItemRef> sources;
    for (int i = 0; i < count; ++i) {
        auto source = KZSourceItem::create(
            {{QStringLiteral("url"), QVariant::fromValue(std::filesystem::path("/nonexistent/source" + std::to_string(i)))}});
        source->setLocationLabelTag(static_cast<qint16>(i));
        sources.push_back(source);
    }
    return sources;
}

// A tab's list model over a model of `items`, with its recording fakes.
struct Tab {
    OutlineLog log;
    FakeListHost host;
    std::shared_ptr<KZFoundItemsCntrl> model;
    std::atomic<bool> grouped{false};
    std::unique_ptr<KZFoundListCntrl> lists;

    Tab(const KZFoundItemArray& items, quint64 tag = kTab, int sources = 2, bool groupedAtStart = false,
        KZSortDescriptors viewOrder = {})
    {
        grouped.store(groupedAtStart);
        model = makeModel(items, 2, static_cast<qint16>(sources - 1));
        KZFoundListCntrl::Settings settings;
        settings.fileType = KZFileTypeLabel::create(tag);
        settings.sources = makeSources(sources);
        if (tag == KZTag::emptyFolders)
            settings.foundItemsCntrl = model;
        settings.host = &host;
        settings.outline = std::make_unique<FakeOutline>(&log, std::move(viewOrder));
        settings.showResultByGroup = [this] { return grouped.load(); };
        lists = std::make_unique<KZFoundListCntrl>(std::move(settings));
    }

    FakeOutline& outline() { return static_cast<FakeOutline&>(*lists->outlineCntrl()); }

    // Lets the workers end and the main thread run what they queued.
    void settle()
    {
        for (int round = 0; round < 3; ++round) {
            lists->waitUntilIdle();
            QCoreApplication::processEvents();
        }
    }
    void build()
    {
        lists->startToShowItems(model);
        settle();
    }
    ~Tab() { EXPECT_EQ(log.offMainCalls.load(), 0); }
};

// Two groups of two files and one of three, in two locations; one marked
// item in each group.
KZFoundItemArray sampleItems()
{
    return makeItems({{.group = 3, .label = 0, .size = 30, .marked = true},
                      {.group = 3, .label = 1, .size = 30},
                      {.group = 1, .label = 0, .size = 10},
                      {.group = 1, .label = 1, .size = 10, .marked = true},
                      {.group = 2, .label = 0, .size = 20},
                      {.group = 2, .label = 1, .size = 20, .marked = true},
                      {.group = 2, .label = 1, .size = 20}});
}

// The group identifiers of a flat list, with each run of equal ones once.
std::vector<qint64> groupRuns(const KZFoundItemArray& items)
{
    std::vector<qint64> runs;
    for (const KZFoundItemRef& item : items) {
        if (runs.empty() || runs.back() != item->groupID())
            runs.push_back(item->groupID());
    }
    return runs;
}

// Names parameterised cases after their table row.
struct CaseName {
    template <class P>
    std::string operator()(const ::testing::TestParamInfo<P>& row) const
    {
        return row.param.name;
    }
};

struct Counter {
    std::atomic<int> posts{0};
    std::vector<QVariantMap> infos;
    std::mutex lock;
};

} // namespace

// ---- Building ------------------------------------------------------------------------

struct BuildCase {
    const char* name;
    int sources;
    std::set<quint64> lists;
};

class ListBuilding : public ::testing::TestWithParam<BuildCase> {};

TEST_P(ListBuilding, OneListPerSourceOnlyWithSeveralSourcesAndOneReadyPost)
{
    const BuildCase& c = GetParam();
    std::vector<ItemShape> shapes;
    for (int s = 0; s < c.sources; ++s)
        shapes.push_back({.group = 1, .label = static_cast<qint16>(c.sources > 1 ? s : -1), .size = 5, .marked = s > 0});
    Counter ready;
    Counter info;
    auto readyObs = center().addObserver(KZNotification::KZListsReadyToShow, {}, [&](const platform::Notification& n) {
        if (n.userInfo.value(QStringLiteral("tag")).toULongLong() == kTab)
            ++ready.posts;
    });
    auto infoObs = center().addObserver(KZNotification::updateInfo, platform::NotificationObject::number(kTab),
                                        [&](const platform::Notification& n) {
                                            std::lock_guard guard(info.lock);
                                            info.infos.push_back(n.userInfo);
                                        });
    Tab tab(makeItems(shapes), kTab, c.sources);
    tab.build();

    std::set<quint64> reported;
    for (const QVariantMap& entry : info.infos)
        reported.insert(entry.value(QStringLiteral("itemsToManageTag")).toULongLong());
    EXPECT_EQ(reported, c.lists);
    EXPECT_EQ(info.infos.size(), c.lists.size());
    EXPECT_EQ(ready.posts.load(), 1);
    EXPECT_EQ(tab.lists->itemsArrayToCreate(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, ListBuilding,
    ::testing::Values(BuildCase{"one", 1, {kTab, kMarkedOfTab}},
                      BuildCase{"eight", 8,
                                {kTab, kMarkedOfTab, 100000000004ULL, 100000000005ULL, 100000000006ULL,
                                 100000000007ULL, 100000000008ULL, 100000000009ULL, 100000000010ULL,
                                 100000000011ULL}}),
    CaseName());

TEST(ListModel, AListWithoutItemsIsNotStoredButCountsDownAndReportsZeros)
{
    Counter info;
    auto infoObs = center().addObserver(KZNotification::updateInfo, platform::NotificationObject::number(kTab),
                                        [&](const platform::Notification& n) {
                                            std::lock_guard guard(info.lock);
                                            info.infos.push_back(n.userInfo);
                                        });
    // Nothing marked: the marked list's query answers nothing.
    Tab tab(makeItems({{.group = 1, .label = -1}, {.group = 1, .label = -1}}), kTab, 1);
    tab.build();
    EXPECT_EQ(tab.lists->listTags(), QList<quint64>{kTab});
    EXPECT_EQ(tab.lists->itemsArrayToCreate(), 0);
    tab.lists->sourceSelectionDidChange({{QStringLiteral("tag"), QVariant::fromValue(kMarkedOfTab)}});
    EXPECT_EQ(tab.lists->currentArray().rowCount(), 0);
    for (const QVariantMap& entry : info.infos) {
        if (entry.value(QStringLiteral("itemsToManageTag")).toULongLong() == kMarkedOfTab) {
            EXPECT_EQ(entry.value(QStringLiteral("count")).toULongLong(), 0u);
            EXPECT_EQ(entry.value(QStringLiteral("size")).toULongLong(), 0u);
        }
    }
}

TEST(ListModel, ReadyIsPostedOnceWhileManyTabsBuildAtOnce)
{
    std::atomic<int> ready{0};
    auto readyObs = center().addObserver(KZNotification::KZListsReadyToShow, {},
                                         [&](const platform::Notification&) { ++ready; });
    std::vector<ItemShape> shapes;
    for (int i = 0; i < 400; ++i)
        shapes.push_back({.group = i / 4, .label = static_cast<qint16>(i % 8), .marked = i % 4 == 0});
    const KZFoundItemArray items = makeItems(shapes);
    std::vector<std::unique_ptr<Tab>> tabs;
    for (int t = 0; t < 6; ++t)
        tabs.push_back(std::make_unique<Tab>(items, kTab, 8));
    // The first builds start on several threads at once, as the tabs of
    // several results would.
    std::vector<std::thread> starters;
    for (auto& tab : tabs)
        starters.emplace_back([&tab] { tab->lists->startToShowItems(tab->model); });
    for (std::thread& starter : starters)
        starter.join();
    for (auto& tab : tabs) {
        tab->settle();
        // A second post of the hand-shake starts nothing again.
        tab->lists->startToShowItems(tab->model);
        tab->settle();
    }
    EXPECT_EQ(ready.load(), 6);
    EXPECT_EQ(KZRunningThreadsCount(), 0);
}

// A tab let go leaves the freeing of its items and groups to a worker, once
// the main thread has finished letting go of the rest; nothing is kept.
TEST(ListModel, ATabLetGoFreesItsItemsAndGroupsAsideAndKeepsNone)
{
    std::vector<std::weak_ptr<KZFoundItem>> items;
    std::weak_ptr<KZFoundItemGroup> root;
    {
        auto tab = std::make_unique<Tab>(sampleItems(), kTab, 2, true);
        tab->build();
        for (const KZFoundItemRef& item : tab->model->allItems())
            items.push_back(item);
        ASSERT_TRUE(tab->lists->currArray() && tab->lists->currArray()->isGrouped());
        root = tab->lists->currArray()->root;
    }
    ASSERT_EQ(items.size(), 7u);
    EXPECT_FALSE(items.front().expired()) << "freed by the thread that let the tab go";
    EXPECT_FALSE(root.expired());
    QCoreApplication::processEvents();
    KZFoundItemFactsQueue().waitUntilAllOperationsAreFinished();
    for (const auto& item : items)
        EXPECT_TRUE(item.expired());
    EXPECT_TRUE(root.expired());
}

TEST(ThreadBudget, AWaiterSleepsUntilTheCountChangesAndStopsWhenCancelled)
{
    std::atomic<bool> cancelled{false};
    std::atomic<bool> room{false};
    std::atomic<int> tests{0};
    std::atomic<bool> answer{false};
    std::thread waiter([&] {
        answer = KZThreadBudget::waitUntilNewThreadIsAvailable(cancelled, [&] {
            ++tests;
            return room.load();
        });
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // A sleeping waiter tests again only when woken.
    EXPECT_LE(tests.load(), 2);
    room = true;
    KZChangeRunningThreadsCount(true);
    KZChangeRunningThreadsCount(false);
    waiter.join();
    EXPECT_TRUE(answer.load());

    std::thread cancelledWaiter([&] {
        answer = KZThreadBudget::waitUntilNewThreadIsAvailable(cancelled, [] { return false; });
    });
    cancelled = true;
    KZThreadBudget::budgetDidChange();
    cancelledWaiter.join();
    EXPECT_FALSE(answer.load());
}

TEST(ListModel, SwitchingBetweenGroupedAndFlatKeepsEveryItem)
{
    Tab tab(sampleItems());
    tab.build();
    const KZFoundItemArray before = tab.lists->itemsWithTag(kTab);
    ASSERT_FALSE(tab.lists->listWithTag(kTab)->isGrouped());

    tab.grouped = true;
    tab.lists->showByGroup();
    tab.settle();
    for (const quint64 tag : tab.lists->listTags())
        EXPECT_TRUE(tab.lists->listWithTag(tag)->isGrouped()) << tag;
    EXPECT_EQ(tab.lists->listWithTag(kTab)->root->groups().size(), 3);
    ASSERT_FALSE(tab.log.handOffs.empty());
    EXPECT_TRUE(tab.log.handOffs.back().currArray->isGrouped());

    tab.grouped = false;
    tab.lists->showByGroup();
    tab.settle();
    const KZFoundItemArray after = tab.lists->itemsWithTag(kTab);
    EXPECT_EQ(QSet<KZFoundItemRef>(before.begin(), before.end()), QSet<KZFoundItemRef>(after.begin(), after.end()));
    EXPECT_FALSE(tab.lists->listWithTag(kTab)->isGrouped());
}

TEST(ListModel, ARefreshAfterALabelChangeRebuildsEveryListWithoutAnnouncingAgain)
{
    std::atomic<int> ready{0};
    auto readyObs = center().addObserver(KZNotification::KZListsReadyToShow, {},
                                         [&](const platform::Notification&) { ++ready; });
    KZFoundItemArray items = sampleItems();
    Tab tab(items);
    tab.build();
    ASSERT_EQ(tab.lists->itemsWithTag(kTab).size(), 7);
    // Two items move to another tab, as an edited label would move them.
    items[0]->setFileTypeTag(4);
    items[1]->setFileTypeTag(4);
    const std::size_t handed = tab.log.handOffs.size();
    tab.lists->updateFilesList(tab.model);
    tab.settle();
    EXPECT_EQ(tab.lists->itemsWithTag(kTab).size(), 5);
    EXPECT_EQ(tab.lists->updatedArray(), 0);
    EXPECT_GT(tab.log.handOffs.size(), handed);
    EXPECT_EQ(ready.load(), 1);
    EXPECT_EQ(KZRunningThreadsCount(), 0);
}

TEST(ListModel, AHiddenTabHandsNoListOverAndDropsOnlyOnce)
{
    Tab tab(sampleItems());
    tab.build();
    tab.lists->updateList(false);
    ASSERT_TRUE(tab.log.handOffs.back().currArray.has_value());
    tab.host.hidden = true;
    tab.lists->superviewDidHide();
    EXPECT_FALSE(tab.log.handOffs.back().currArray.has_value());
    const std::size_t handed = tab.log.handOffs.size();
    tab.lists->updateList(false);
    EXPECT_EQ(tab.log.handOffs.size(), handed);
}

TEST(ListModel, SwitchingSourcesKeepsEachListsOrder)
{
    Tab tab(sampleItems());
    tab.build();
    const KZSortDescriptors bySize{KZSortDescriptor(KZColumnKey::size_col, false)};
    tab.outline().setSortDescriptors(bySize);
    tab.lists->sourceSelectionDidChange({{QStringLiteral("tag"), QVariant::fromValue<quint64>(100000000004ULL)}});
    EXPECT_EQ(tab.lists->sortDescriptorsWithTag(kTab), bySize);
    tab.lists->sourceSelectionDidChange({{QStringLiteral("tag"), QVariant::fromValue<quint64>(kTab)}});
    EXPECT_EQ(tab.outline().sortDescriptors(), bySize);
}

// ---- Sorting -------------------------------------------------------------------------------

struct SortCase {
    const char* name;
    bool grouped;
    QString key;
    bool ascending;
    std::vector<qint64> groups;
};

class ListSorting : public ::testing::TestWithParam<SortCase> {};

TEST_P(ListSorting, KeepsGroupsTogether)
{
    const SortCase& c = GetParam();
    Tab tab(sampleItems(), kTab, 2, c.grouped);
    tab.build();
    tab.lists->sortListWithDictionary(
        {{QStringLiteral("descriptors"), QVariant::fromValue(KZSortDescriptors{KZSortDescriptor(c.key, c.ascending)})},
         {QStringLiteral("tag"), QVariant::fromValue(kTab)},
         {QStringLiteral("updateInterface"), true}});
    tab.settle();
    const KZShownList list = *tab.lists->listWithTag(kTab);
    EXPECT_EQ(list.isGrouped(), c.grouped);
    EXPECT_EQ(groupRuns(list.flattened()), c.groups);
    EXPECT_EQ(tab.host.spinnerStarts, tab.host.spinnerStops);
}

INSTANTIATE_TEST_SUITE_P(
    Columns, ListSorting,
    ::testing::Values(SortCase{"flatBySizeDown", false, KZColumnKey::size_col, false, {3, 2, 1}},
                      SortCase{"flatByGroupUp", false, KZColumnKey::dupe_group_col, true, {1, 2, 3}},
                      SortCase{"groupedBySizeUp", true, KZColumnKey::size_col, true, {1, 2, 3}},
                      SortCase{"groupedByGroupDown", true, KZColumnKey::dupe_group_col, false, {3, 2, 1}}),
    CaseName());

TEST(ListModel, KindsAreGatheredOnceBeforeTheFirstSortByKind)
{
    Tab tab(sampleItems(), kTab, 2, true);
    tab.build();
    const QVariantMap byKind{
        {QStringLiteral("descriptors"), QVariant::fromValue(KZSortDescriptors{KZSortDescriptor(KZColumnKey::kind_col, true)})},
        {QStringLiteral("tag"), QVariant::fromValue(kTab)},
        {QStringLiteral("updateInterface"), true}};
    tab.lists->sortListWithDictionary(byKind);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return tab.log.gatheringKind.size() == 2; }));
    tab.settle();
    EXPECT_EQ(tab.log.gatheringKind, (std::vector<bool>{true, false}));
    EXPECT_TRUE(tab.lists->sortByKindAlreayDone());
    EXPECT_EQ(tab.lists->sortDescriptorsWithTag(kTab).first().key(), KZColumnKey::kind_col);

    tab.lists->sortListWithDictionary(byKind);
    tab.settle();
    EXPECT_EQ(tab.log.gatheringKind.size(), 2u);
}

TEST(ListModel, ASilentSortReordersWithoutTheSpinnerOrTheOutline)
{
    Tab tab(sampleItems());
    tab.build();
    const std::size_t handed = tab.log.handOffs.size();
    tab.lists->sortListWithDictionary(
        {{QStringLiteral("descriptors"),
          QVariant::fromValue(KZSortDescriptors{KZSortDescriptor(KZColumnKey::dupe_group_col, false)})},
         {QStringLiteral("tag"), QVariant::fromValue<quint64>(100000000005ULL)},
         {QStringLiteral("updateInterface"), false}});
    tab.settle();
    EXPECT_EQ(groupRuns(tab.lists->itemsWithTag(100000000005ULL)), (std::vector<qint64>{3, 2, 1}));
    EXPECT_EQ(tab.host.spinnerStarts, 0);
    EXPECT_EQ(tab.log.handOffs.size(), handed);
}

// ---- Finding -------------------------------------------------------------------------------

struct FindCase {
    const char* name;
    QString query;
    bool grouped;
    QString expected; // empty: a miss
};

class ListFinding : public ::testing::TestWithParam<FindCase> {};

TEST_P(ListFinding, FoldsAccentsAndCase)
{
    const FindCase& c = GetParam();
    std::vector<ItemShape> shapes;
    for (const char* name : {"notes.md", "R\u00e9sum\u00e9.TXT", "CAF\u00c9 au lait", "plain"})
        shapes.push_back({.path = std::filesystem::path("/nonexistent/find") / name, .group = 1});
    const KZFoundItemArray items = makeItems(shapes);
    const KZShownList list = c.grouped ? KZShownList::grouped(makeModel(items)->setupItemsByGroupForItems(items, true))
                                       : KZShownList::flat(items);
    const auto hit = KZFoundListCntrl::searchString(KZFindFolding::fold(c.query), list);
    if (c.expected.isEmpty()) {
        EXPECT_FALSE(hit.has_value());
        return;
    }
    ASSERT_TRUE(hit.has_value());
    ASSERT_TRUE(hit->item);
    EXPECT_EQ(hit->item->name(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Queries, ListFinding,
    ::testing::Values(FindCase{"plainLower", QStringLiteral("resume"), false, QStringLiteral("Résumé.TXT")},
                      FindCase{"accentedUpper", QStringLiteral("RÉSUMÉ"), false, QStringLiteral("Résumé.TXT")},
                      FindCase{"extensionCase", QStringLiteral(".txt"), false, QStringLiteral("Résumé.TXT")},
                      FindCase{"decomposedQuery", QStringLiteral("cafe\u0301"), false, QStringLiteral("CAFÉ au lait")},
                      FindCase{"memberOfAGroup", QStringLiteral("AU LAIT"), true, QStringLiteral("CAFÉ au lait")},
                      FindCase{"miss", QStringLiteral("zebra"), false, QString()}),
    CaseName());

// With several matches, the find lands on the first one in list order
// (a group before its members), and the same text always lands there again.
TEST(ListModel, FindStartsFromTheTopAndFindsTheSameRowAgain)
{
    std::vector<ItemShape> shapes;
    for (const auto& [name, group] : {std::pair{"pear", 1}, std::pair{"apple.txt", 1}, std::pair{"apple pie", 2},
                                      std::pair{"plum", 2}, std::pair{"crab apple", 2}})
        shapes.push_back({.path = std::filesystem::path("/nonexistent/next") / name, .group = group});
    const KZFoundItemArray items = makeItems(shapes);
    const QString apple = KZFindFolding::fold(QStringLiteral("APPLE"));
    const KZShownList flat = KZShownList::flat(items);
    const KZShownList grouped = KZShownList::grouped(makeModel(items)->setupItemsByGroupForItems(items, true));

    for (const KZShownList& list : {flat, grouped}) {
        std::optional<KZListRow> first;
        if (list.isGrouped()) {
            for (const KZFoundItemGroupRef& group : list.root->groups()) {
                if (!first && group->name().contains(QStringLiteral("apple")))
                    first = KZListRow{group, nullptr};
                for (const KZFoundItemRef& item : group->items())
                    if (!first && item->name().contains(QStringLiteral("apple")))
                        first = KZListRow{group, item};
            }
        } else {
            for (const KZFoundItemRef& item : list.items)
                if (!first && item->name().contains(QStringLiteral("apple")))
                    first = KZListRow{nullptr, item};
        }
        ASSERT_TRUE(first.has_value());
        for (int again = 0; again < 3; ++again)
            EXPECT_EQ(KZFoundListCntrl::searchString(apple, list), first) << "grouped " << list.isGrouped();
    }
}

TEST(ListModel, FindSelectsTheFirstMatchGroupBeforeMembersAndBeepsOnAMiss)
{
    Tab tab(sampleItems(), kTab, 2, true);
    tab.build();
    const KZShownList list = *tab.lists->listWithTag(kTab);
    const KZFoundItemGroupRef first = list.root->groups().first();

    tab.lists->searchInFoundList({{QStringLiteral("string"), QString()}});
    tab.settle();
    EXPECT_TRUE(tab.log.selected.empty());
    EXPECT_EQ(tab.host.beeps, 0);

    // The group's name is its first member's: the group row is found first.
    tab.lists->searchInFoundList({{QStringLiteral("string"), first->name().toUpper()}});
    tab.settle();
    ASSERT_EQ(tab.log.selected.size(), 1u);
    EXPECT_EQ(tab.log.selected.back(), (KZListRow{first, nullptr}));

    tab.lists->searchInFoundList({{QStringLiteral("string"), QStringLiteral("no such name")}});
    tab.settle();
    EXPECT_EQ(tab.host.beeps, 1);

    tab.host.hidden = true;
    tab.lists->searchInFoundList({{QStringLiteral("string"), QStringLiteral("no such name")}});
    tab.settle();
    EXPECT_EQ(tab.host.beeps, 1);
}

// ---- Undo records and marked information ----------------------------------------------------

TEST(ListModel, UndoRecordsSwapTheRuleTagsAndRestoresRegisterNothing)
{
    namespace K = KZMarkingKey;
    Tab tab(sampleItems());
    tab.build();
    QVariantMap restore = markRequest(KZMarkRule::restore, 1, kTab, kTab);
    EXPECT_FALSE(tab.lists->undoInfoToRegisterWithDict(restore).has_value());

    QVariantMap request = markRequest(KZMarkRule::oldest, 1, kTab, kTab);
    request.insert(K::menuItemTagToRestore, 2);
    request.insert(QStringLiteral("oldMenuItemTagToRestore"), 5);
    request.insert(QStringLiteral("view"), QStringLiteral("outline"));
    const auto record = tab.lists->undoInfoToRegisterWithDict(request);
    ASSERT_TRUE(record.has_value());
    // The items were filled into the request itself, for the marking to use.
    EXPECT_EQ(KZFoundItemsOfVariant(request.value(K::itemsToManage)).size(), 7);
    EXPECT_EQ(record->value(K::menuItemTagToRestore).toInt(), 5);
    EXPECT_EQ(record->value(QStringLiteral("oldMenuItemTagToRestore")).toInt(), 2);
    EXPECT_EQ(record->value(K::oldMenuItemTag).toInt(), 2);
    EXPECT_EQ(record->value(K::menuItemTag).toInt(), KZMarkRule::restore);
    EXPECT_EQ(record->value(K::checkBtnState).toInt(), 1);
    EXPECT_FALSE(record->contains(QStringLiteral("view")));
    const auto snapshot = record->value(K::itemsToManage).value<KZMarkSnapshot>();
    ASSERT_EQ(snapshot.size(), 7);
    EXPECT_TRUE(snapshot.first().state);

    const QVariantMap redo = tab.lists->redoInfoToRegisterWithDict(*record);
    EXPECT_EQ(redo.value(K::menuItemTagToRestore).toInt(), 2);
    EXPECT_EQ(redo.value(QStringLiteral("oldMenuItemTagToRestore")).toInt(), 5);
}

TEST(ListModel, MarkingRebuildsTheMarkedListAndCountsWithoutTouchingRulesAtMinusOne)
{
    KZFoundItemArray items = sampleItems();
    Tab tab(items, kTab, 2, true);
    tab.build();
    const KZFoundItemGroupRef group = tab.lists->listWithTag(kTab)->root->groups().first();
    group->setMarkedMenuItem(3);
    for (const KZFoundItemRef& item : items)
        item->setIsMarked(item->groupID() == group->groupID());
    KZMarkedInfoUpdate update;
    update.menuItemTagToRestore = 2;
    update.itemSenderView = QVariant::fromValue(group);
    update.managedTags = {kTab};
    update.oldMenuItemTag = 2;
    tab.lists->updateMarkedInfo(update);
    tab.settle();
    // The sender's own row shows the rule; the counts follow the marks, but
    // the -1 that a group's own menu gives leaves the other rows' rules.
    EXPECT_EQ(group->markedMenuItem(), 2);
    EXPECT_EQ(group->markedCount(), group->items().size());
    EXPECT_EQ(tab.lists->itemsWithTag(kMarkedOfTab).size(), group->items().size());
    for (const KZFoundItemGroupRef& other : tab.lists->listWithTag(kTab)->root->groups()) {
        if (other != group) {
            EXPECT_EQ(other->markedCount(), 0);
            EXPECT_EQ(other->markedMenuItem(), 1);
        }
    }
}

// ---- Missing members ---------------------------------------------------------------------------

struct LeaveCase {
    const char* name;
    quint64 tab;
    int kept; // members left in the shown group
};

class MissingMembers : public ::testing::TestWithParam<LeaveCase> {};

TEST_P(MissingMembers, LeavingTheTabListDropsOnlyOtherTypes)
{
    const LeaveCase& c = GetParam();
    // One group: two members of the tab's type, one of another type.
    KZFoundItemArray items = makeItems({{.group = 1, .label = 0, .tag = kTab},
                                        {.group = 1, .label = 1, .tag = kTab},
                                        {.group = 1, .label = 1, .tag = 4}});
    Tab tab(items, c.tab, 2, true);
    tab.build();
    const KZFoundItemGroupRef group = tab.lists->listWithTag(c.tab)->root->groups().first();
    group->items().append(items[2]);
    tab.lists->removeExtraneousItems();
    EXPECT_EQ(group->items().size(), c.kept);
}

INSTANTIATE_TEST_SUITE_P(Tabs, MissingMembers,
                         ::testing::Values(LeaveCase{"ownType", kTab, 2}, LeaveCase{"allDuplicates", 0, 4}),
                         CaseName());

TEST(ListModel, MissingMembersComeFromTheTabListAndLeaveWithTheLocation)
{
    Tab tab(sampleItems(), kTab, 2, true);
    tab.build();
    const quint64 location = 100000000004ULL;
    tab.lists->sourceSelectionDidChange({{QStringLiteral("tag"), QVariant::fromValue(location)}});
    const KZFoundItemGroupRef shown = tab.lists->listWithTag(location)->root->groups().first();
    const qsizetype before = shown->items().size();
    tab.lists->showMissingMembers({.groupItem = QVariant::fromValue(shown), .ownerTag = {}, .senderTag = {}, .isForAllGroups = false});
    EXPECT_GT(shown->items().size(), before);
    ASSERT_EQ(tab.log.rowsUpdated.size(), 1u);
    EXPECT_EQ(tab.log.rowsUpdated.back().second, before);
    // A second time adds nothing.
    const qsizetype full = shown->items().size();
    tab.lists->showMissingMembers({.groupItem = QVariant::fromValue(shown), .ownerTag = {}, .senderTag = {}, .isForAllGroups = true});
    EXPECT_EQ(shown->items().size(), full);

    tab.lists->sourceSelectionDidChange({{QStringLiteral("tag"), QVariant::fromValue(kTab)}});
    EXPECT_EQ(shown->items().size(), before);
    EXPECT_FALSE(tab.lists->missingMembersWasAdded());
}

// The counter of a group row counts the marked members among those the
// row shows: the members a location list adds bring their marks along, and
// take them away again when they leave.
TEST(ListModel, MissingMembersBringTheirMarksIntoTheGroupsCounter)
{
    Tab tab(makeItems({{.group = 1, .label = 0, .size = 10},
                       {.group = 1, .label = 1, .size = 10, .marked = true},
                       {.group = 1, .label = 1, .size = 10, .marked = true},
                       {.group = 2, .label = 0, .size = 20, .marked = true},
                       {.group = 2, .label = 1, .size = 20}}),
            kTab, 2, true);
    tab.build();
    const quint64 location = KZTag::sourceRowBase;
    tab.lists->sourceSelectionDidChange({{QStringLiteral("tag"), QVariant::fromValue(location)}});
    const auto groups = tab.lists->listWithTag(location)->root->groups();
    ASSERT_EQ(groups.size(), 2);
    const KZFoundItemGroupRef one = groups[0]->groupID() == 1 ? groups[0] : groups[1];
    const KZFoundItemGroupRef two = one == groups[0] ? groups[1] : groups[0];
    ASSERT_EQ(one->items().size(), 1);
    EXPECT_EQ(one->markedCount(), 0);
    EXPECT_EQ(two->markedCount(), 1);

    tab.lists->showMissingMembers({.groupItem = QVariant::fromValue(one), .ownerTag = {}, .senderTag = {}, .isForAllGroups = false});
    EXPECT_EQ(one->items().size(), 3);
    EXPECT_EQ(one->markedCount(), 2);
    tab.lists->showMissingMembers({.groupItem = QVariant::fromValue(one), .ownerTag = {}, .senderTag = {}, .isForAllGroups = true});
    EXPECT_EQ(two->items().size(), 2);
    EXPECT_EQ(two->markedCount(), 1) << "an unmarked member adds to the members only";

    tab.lists->sourceSelectionDidChange({{QStringLiteral("tag"), QVariant::fromValue(kTab)}});
    EXPECT_EQ(one->items().size(), 1);
    EXPECT_EQ(one->markedCount(), 0);
}

// ---- Removal -------------------------------------------------------------------------------------

class RemovalHandOff : public ::testing::Test {
protected:
    void SetUp() override
    {
        presenter = std::make_shared<ScriptedPresenter>();
        KZErrorDelegate::sharedControl().setPresenter(presenter);
        platform::UserDefaults::standard().removeValue(KZDefaultsKey::show_nothing_to_remove);
    }
    void TearDown() override
    {
        KZErrorDelegate::sharedControl().setPresenter(nullptr);
        platform::UserDefaults::standard().removeValue(KZDefaultsKey::show_nothing_to_remove);
    }
    std::shared_ptr<ScriptedPresenter> presenter;
};

TEST_F(RemovalHandOff, NothingMarkedTellsOnceThenBeepsAndAlwaysFails)
{
    std::atomic<int> failed{0};
    auto obs = center().addObserver(KZNotification::remotionFailed, platform::bundleIdentifier(),
                                    [&](const platform::Notification&) { ++failed; });
    Tab tab(makeItems({{.group = 1}, {.group = 1}}));
    tab.build();
    presenter->tickSuppression = true;
    tab.lists->prepareRemotion();
    tab.lists->prepareRemotion();
    EXPECT_EQ(presenter->shown.size(), 1);
    EXPECT_EQ(tab.host.beeps, 1);
    EXPECT_EQ(failed.load(), 2);
    EXPECT_TRUE(tab.host.removalRequests.empty());
}

struct AreFilesCase {
    const char* name;
    quint64 tab;
    bool areFiles;
};

class RemovalRequest : public ::testing::TestWithParam<AreFilesCase> {};

TEST_P(RemovalRequest, SaysWhetherTheItemsAreFiles)
{
    const AreFilesCase& c = GetParam();
    Tab tab(makeItems({{.group = 1, .tag = c.tab == KZTag::emptyFolders ? 2 : c.tab, .marked = true, .isDirectory = true},
                       {.group = 1, .tag = c.tab == KZTag::emptyFolders ? 2 : c.tab}}),
            c.tab);
    if (c.tab == KZTag::emptyFolders)
        tab.model->setAllEmptyFolders(tab.model->allItems());
    else
        tab.build();
    tab.settle();
    tab.lists->removeButtonDidClick();
    ASSERT_EQ(tab.host.removalRequests.size(), 1u);
    const QVariantMap& request = tab.host.removalRequests.front();
    EXPECT_EQ(request.size(), 11);
    EXPECT_EQ(request.value(QStringLiteral("areFiles")).toBool(), c.areFiles);
    EXPECT_FALSE(request.value(QStringLiteral("isEmptyFolders")).toBool());
    EXPECT_EQ(KZFoundItemsOfVariant(request.value(QStringLiteral("itemsToRemove"))).size(), 1);
}

INSTANTIATE_TEST_SUITE_P(Tabs, RemovalRequest,
                         ::testing::Values(AreFilesCase{"folders", 2, false},
                                           AreFilesCase{"emptyFolders", KZTag::emptyFolders, false},
                                           AreFilesCase{"files", kTab, true}, AreFilesCase{"all", 0, true}),
                         CaseName());

class RecordingMusicLibrary : public KZMusicLibraryNotifier {
public:
    static inline std::atomic<int> calls{0};
    static inline QString last;
    bool notifyDeletion(const QString& ids) override
    {
        ++calls;
        last = ids;
        return true;
    }
};

TEST(ListModel, RemovedItemsAreHandledOnceEvenWhenThePanelClosesOnAHiddenTab)
{
    KZMusicLibraryNotifier::setSharedControl(std::make_unique<RecordingMusicLibrary>());
    RecordingMusicLibrary::calls = 0;
    KZFoundItemArray items = makeItems({{.group = 1, .marked = true, .owner = KZAppSuppInfo::ITunes},
                                        {.group = 1, .owner = KZAppSuppInfo::ITunes}});
    items[0]->setTrackID(QStringLiteral("00FF00FF00FF00FF"));
    Tab tab(items);
    tab.build();
    tab.lists->prepareRemotion();
    ASSERT_TRUE(tab.lists->removalIsOpen());
    const void* model = tab.model.get();
    const QVariantMap removed{{QStringLiteral("removedItems"), QVariant::fromValue(KZFoundItemArray{items[0]})}};
    center().post(KZNotification::itemsDidRemove, model, removed);
    tab.host.hidden = true;
    center().post(KZNotification::removePanelDidClose, platform::bundleIdentifier());
    EXPECT_FALSE(tab.lists->removalIsOpen());
    // The next removal's report reaches only the next panel's registration.
    tab.lists->prepareRemotion();
    center().post(KZNotification::itemsDidRemove, model, removed);
    EXPECT_EQ(RecordingMusicLibrary::calls.load(), 2);
    EXPECT_EQ(RecordingMusicLibrary::last, QStringLiteral("00FF00FF00FF00FF"));
    QCoreApplication::processEvents();
    KZMusicLibraryNotifier::setSharedControl(nullptr);
}

struct TrackCase {
    const char* name;
    QStringList ids;
    QString text;
};

class TrackIDs : public ::testing::TestWithParam<TrackCase> {};

TEST_P(TrackIDs, OnlyHexIdentifiersReachTheScript)
{
    EXPECT_EQ(KZMusicLibraryNotifier::deletionText(GetParam().ids), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Identifiers, TrackIDs,
    ::testing::Values(TrackCase{"three", {QStringLiteral("A1"), QStringLiteral("b2"), QStringLiteral("C3")},
                                QStringLiteral("A1\nb2\nC3")},
                      TrackCase{"quoteDropped", {QStringLiteral("A1\" & quit"), QStringLiteral("ff")}, QStringLiteral("ff")},
                      TrackCase{"tooLong", {QStringLiteral("0123456789ABCDEF0")}, QString()},
                      TrackCase{"sixteen", {QStringLiteral("0123456789ABCDEF")}, QStringLiteral("0123456789ABCDEF")},
                      TrackCase{"empty", {QString(), QStringLiteral("x1")}, QString()}),
    CaseName());

// ---- Export, menus and saved state ---------------------------------------------------------------

TEST(ListModel, ExportOrderIsGroupByGroupWithMarkedMembersFirst)
{
    KZFoundItemArray items = makeItems({{.group = 2}, {.group = 1}, {.group = 2, .marked = true}, {.group = 1, .marked = true}});
    Tab tab(items);
    tab.build();
    tab.lists->exportResult();
    tab.settle();
    ASSERT_EQ(tab.host.exportRequests.size(), 1u);
    const QVariantMap& request = tab.host.exportRequests.front();
    EXPECT_EQ(request.size(), 7);
    EXPECT_EQ(KZFoundItemsOfVariant(request.value(QStringLiteral("items"))),
              (KZFoundItemArray{items[3], items[1], items[2], items[0]}));
    EXPECT_EQ(request.value(QStringLiteral("sender")).value<KZFoundListCntrl*>(), tab.lists.get());
    // One export at a time, until it reports its end.
    tab.lists->exportResult();
    tab.settle();
    EXPECT_EQ(tab.host.exportRequests.size(), 1u);
    center().post(KZNotification::exportingDidFinish, static_cast<const void*>(tab.lists.get()));
    EXPECT_FALSE(tab.lists->exportIsRunning());
}

// The file name offered for an export names the tab; the tab of every type
// has a name of its own.
TEST(ListModel, TheExportOffersAFileNamedForItsTab)
{
    for (const KZTabTag tag : {KZTag::allDuplicates, kTab}) {
        SCOPED_TRACE(tag);
        Tab tab(sampleItems(), tag);
        tab.lists->fileTypeItem()->setName(QStringLiteral("Pictures"));
        tab.build();
        tab.lists->exportResult();
        tab.settle();
        ASSERT_EQ(tab.host.exportRequests.size(), 1u);
        const QString offered = tab.host.exportRequests.front().value(QStringLiteral("suggestName")).toString();
        if (tag == KZTag::allDuplicates) {
            EXPECT_EQ(offered, platform::localizedString(QStringLiteral("export_all_files_name")));
        } else {
            EXPECT_TRUE(offered.contains(QStringLiteral("Pictures"))) << offered.toStdString();
            EXPECT_NE(offered, platform::localizedString(QStringLiteral("export_all_files_name")));
        }
        EXPECT_FALSE(offered.contains(QStringLiteral("%@"))) << offered.toStdString();
    }
}

TEST(ListModel, MenuItemsFollowTheVisibleTabAndTheAboutWindow)
{
    Tab tab(sampleItems());
    tab.build();
    tab.lists->superviewDidUnhide();
    EXPECT_TRUE(tab.host.menu.actions[1]);
    EXPECT_TRUE(tab.lists->validateMenuItem(1, true));
    EXPECT_FALSE(tab.lists->validateMenuItem(102, true));
    tab.outline().hasSelection = true;
    EXPECT_TRUE(tab.lists->validateMenuItem(102, true));
    tab.host.aboutOpen = true;
    for (const qint64 item : {1, 2, 102})
        EXPECT_FALSE(tab.lists->validateMenuItem(item, true)) << item;
    EXPECT_FALSE(tab.lists->validateMenuItem(7, false));
    tab.host.hidden = true;
    tab.lists->superviewDidHide();
    EXPECT_FALSE(tab.host.menu.actions[1]);
    EXPECT_FALSE(tab.host.menu.actions[2]);
}

struct SavedOrderCase {
    const char* name;
    QVariantList saved;
    KZSortDescriptors expected;
};

class SavedOrder : public ::testing::TestWithParam<SavedOrderCase> {};

TEST_P(SavedOrder, OnlyKnownColumnsAndComparisonsAreTaken)
{
    EXPECT_EQ(KZFoundListCntrl::sortDescriptorsFromSaved(GetParam().saved), GetParam().expected);
}

QVariantMap savedDescriptor(const QString& key, bool ascending, const QString& selector)
{
    return {{QStringLiteral("key"), key}, {QStringLiteral("ascending"), ascending}, {QStringLiteral("selector"), selector}};
}

INSTANTIATE_TEST_SUITE_P(
    Files, SavedOrder,
    ::testing::Values(
        SavedOrderCase{"known",
                       {savedDescriptor(KZColumnKey::name_col, false, QStringLiteral("localizedStandardCompare:")),
                        savedDescriptor(KZColumnKey::size_col, true, QStringLiteral("compare:"))},
                       {KZSortDescriptor(KZColumnKey::name_col, false, QStringLiteral("localizedStandardCompare:")),
                        KZSortDescriptor(KZColumnKey::size_col, true)}},
        SavedOrderCase{"unknownSelector",
                       {savedDescriptor(KZColumnKey::name_col, true, QStringLiteral("deleteFiles:"))},
                       {}},
        SavedOrderCase{"unknownKey",
                       {savedDescriptor(QStringLiteral("path"), true, QStringLiteral("compare:")),
                        savedDescriptor(KZColumnKey::kind_col, true, QStringLiteral("caseInsensitiveCompare:"))},
                       {KZSortDescriptor(KZColumnKey::kind_col, true, QStringLiteral("caseInsensitiveCompare:"))}},
        SavedOrderCase{"notAMap", {QStringLiteral("name_col")}, {}}),
    CaseName());

TEST(ListModel, ASelectionSavedFlatIsFoundAfterGroupingForTheLookUp)
{
    // Real files: a missing file's path reads as "--" for every item.
    kztest::TempDir dir;
    std::vector<ItemShape> shapes;
    for (int i = 0; i < 4; ++i)
        shapes.push_back({.path = dir.write("f" + std::to_string(i), "same"), .group = 1 + i / 2,
                          .label = static_cast<qint16>(i % 2)});
    KZFoundItemArray items = makeItems(shapes);
    Tab tab(items);
    tab.build();
    const QString path = QFile::decodeName(items[3]->path().c_str());
    tab.lists->setSavedSettings(
        {{QStringLiteral("selectedItems"),
          QVariantMap{{QString::number(kTab),
                       QVariantList{QVariantMap{{QStringLiteral("groupID"), items[3]->groupID()},
                                                {QStringLiteral("isGroupItem"), false},
                                                {QStringLiteral("path"), path}},
                                    QVariantMap{{QStringLiteral("groupID"), 99},
                                                {QStringLiteral("isGroupItem"), false},
                                                {QStringLiteral("path"), path}}}}}}},
        false);
    ASSERT_EQ(tab.log.selectedByTags.count(kTab), 1u);
    EXPECT_EQ(tab.log.selectedByTags[kTab], (QList<KZListRow>{KZListRow{nullptr, items[3]}}));
    EXPECT_FALSE(tab.lists->listWithTag(kTab)->isGrouped());
}

TEST(ListModel, ExpandedStatesComeBackOnlyForAGroupedSave)
{
    Tab tab(sampleItems(), kTab, 2, true);
    tab.build();
    const QVariantMap saved{
        {QStringLiteral("expandedByTag"),
         QVariantMap{{QString::number(kTab),
                      QVariantList{QVariantMap{{QStringLiteral("groupID"), 2}, {QStringLiteral("isExpanded"), true}}}}}}};
    tab.lists->setSavedSettings(saved, false);
    auto expanded = [&] {
        int count = 0;
        for (const KZFoundItemGroupRef& group : tab.lists->listWithTag(kTab)->root->groups())
            count += group->isExpanded() ? 1 : 0;
        return count;
    };
    EXPECT_EQ(expanded(), 0);
    tab.lists->setSavedSettings(saved, true);
    EXPECT_EQ(expanded(), 1);
}

TEST(ListModel, TheEmptyFoldersTabBuildsAtOnceStaysFlatAndRefreshesWithSizeZero)
{
    KZFoundItemArray folders = makeItems({{.group = 1, .tag = 2, .marked = true, .isDirectory = true},
                                          {.group = 2, .tag = 2, .isDirectory = true}});
    Counter info;
    auto infoObs = center().addObserver(KZNotification::updateInfo, platform::NotificationObject::number(KZTag::emptyFolders),
                                        [&](const platform::Notification& n) {
                                            std::lock_guard guard(info.lock);
                                            info.infos.push_back(n.userInfo);
                                        });
    auto model = makeModel({}, 2, 1);
    model->setAllEmptyFolders(folders);
    OutlineLog log;
    FakeListHost host;
    KZFoundListCntrl::Settings settings;
    settings.fileType = KZFileTypeLabel::create(KZTag::emptyFolders);
    settings.sources = makeSources(1);
    settings.foundItemsCntrl = model;
    settings.host = &host;
    settings.outline = std::make_unique<FakeOutline>(&log);
    settings.showResultByGroup = [] { return true; };
    KZFoundListCntrl lists(std::move(settings));
    lists.waitUntilIdle();
    EXPECT_FALSE(lists.shownByGroup());
    ASSERT_TRUE(lists.listWithTag(KZTag::emptyFolders).has_value());
    EXPECT_EQ(lists.itemsWithTag(KZTag::emptyFolders).size(), 2);

    model->appendToEmptyFolders(makeItems({{.group = 3, .tag = 2, .isDirectory = true}}));
    info.infos.clear();
    center().post(KZNotification::emptyFoldersWereAdded, platform::NotificationObject::number(KZTag::emptyFolders));
    lists.waitUntilIdle();
    QCoreApplication::processEvents();
    EXPECT_EQ(lists.itemsWithTag(KZTag::emptyFolders).size(), 3);
    ASSERT_FALSE(info.infos.empty());
    for (const QVariantMap& entry : info.infos)
        EXPECT_EQ(entry.value(QStringLiteral("size")).toULongLong(), 0u);
}
