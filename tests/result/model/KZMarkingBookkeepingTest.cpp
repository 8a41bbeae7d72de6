#include "MarkingTestSupport.h"

#include "result/model/KZMarkingRequest.h"
#include "settings/KZTags.h"

#include <gtest/gtest.h>

using namespace markingtest;
namespace K = KZMarkingKey;

namespace {

constexpr quint64 kLocation = static_cast<quint64>(KZTag::sourceRowBase);

ItemShape member(qint64 group, qint16 label, quint64 type, quint64 size, bool marked = false)
{
    ItemShape shape;
    shape.group = group;
    shape.label = label;
    shape.type = type;
    shape.size = size;
    shape.marked = marked;
    return shape;
}

KZViewsToUpdateRef bookkeeping(std::initializer_list<quint64> tabs)
{
    auto info = std::make_shared<KZViewsToUpdate>();
    for (quint64 tab : tabs)
        (*info)[tab] = std::make_shared<KZViewToUpdate>();
    return info;
}

QVariantMap request(int rule, int check, quint64 owner, quint64 tag, const KZFoundItemArray& items,
                    const KZViewsToUpdateRef& info)
{
    return {{K::menuItemTag, rule},
            {K::checkBtnState, check},
            {K::ownerTag, QVariant::fromValue(owner)},
            {K::itemsToManageTag, QVariant::fromValue(tag)},
            {K::itemsToManage, QVariant::fromValue(items)},
            {K::infoDict, QVariant::fromValue(info)}};
}

// ---- Recording changes ----------------------------------------------------------------------

TEST(MarkingBookkeeping, ASingleTypeResultCountsItsOneEntryOnce)
{
    const KZFoundItemArray items = makeItems({member(1, 0, 3, 100), member(1, 1, 3, 50)});
    auto model = makeModel(items, 1, 1);
    auto info = bookkeeping({3});
    model->markItemsWithDict(request(1, 1, 3, 3, items, info));

    const KZViewToUpdate& entry = *info->at(3);
    EXPECT_TRUE(entry.needsUpdate());
    EXPECT_EQ(entry.managedCount(), 1);
    EXPECT_EQ(entry.size(), 100);
    ASSERT_EQ(entry.locationsInfo().size(), 1u);
    EXPECT_EQ(entry.locationsInfo().at(kLocation + 0)->managedCount(), 1);
}

TEST(MarkingBookkeeping, ASingleTypeResultWithTheMissingTracksTabStillCountsItsChanges)
{
    constexpr quint64 kDeads = static_cast<quint64>(KZTag::missingTracks);
    const KZFoundItemArray items = makeItems({member(1, 0, 3, 100), member(1, 1, 3, 50)});
    auto model = makeModel(items, 1, 1);
    auto info = bookkeeping({3, kDeads});
    model->markItemsWithDict(request(1, 1, 3, 3, items, info));

    const KZViewToUpdate& entry = *info->at(3);
    EXPECT_TRUE(entry.needsUpdate());
    EXPECT_EQ(entry.managedCount(), 1);
    EXPECT_EQ(entry.size(), 100);
    ASSERT_EQ(entry.locationsInfo().size(), 1u);
    EXPECT_EQ(entry.locationsInfo().at(kLocation + 0)->size(), 100);
    EXPECT_FALSE(info->at(kDeads)->needsUpdate());
}

TEST(MarkingBookkeeping, OneEntryStandingForBothIsNotCountedTwice)
{
    // Two types found, yet only the type's own tab is being kept.
    const KZFoundItemArray items = makeItems({member(1, 0, 3, 100), member(1, 1, 3, 50)});
    auto model = makeModel(items, 2, 1);
    auto info = bookkeeping({3});
    model->markItemsWithDict(request(1, 1, 3, 3, items, info));
    EXPECT_EQ(info->at(3)->managedCount(), 1);
    EXPECT_EQ(info->at(3)->size(), 100);
}

TEST(MarkingBookkeeping, OneSearchedLocationMakesNoLocationEntries)
{
    const KZFoundItemArray items = makeItems({member(1, -1, 3, 100), member(1, -1, 4, 50)});
    auto model = makeModel(items, 2, -1);
    auto info = bookkeeping({0, 3, 4});
    model->markItemsWithDict(request(1, 1, 0, 0, items, info));
    for (const auto& [tab, entry] : *info)
        EXPECT_TRUE(entry->locationsInfo().empty()) << tab;
    EXPECT_EQ(info->at(0)->managedCount(), 1);
}

TEST(MarkingBookkeeping, ChangesGoToTheTabsAndLocationsTheyBelongTo)
{
    const KZFoundItemArray items =
        makeItems({member(1, 0, 3, 100, true), member(1, 1, 4, 50), member(2, 1, 3, 7), member(2, 0, 3, 9)});
    auto model = makeModel(items, 2, 1);
    auto info = bookkeeping({0, 3, 4});
    // Swap: group 1 turns around (one removal of 100, one addition of 50);
    // group 2 has no marks and stays.
    model->markItemsWithDict(request(7, 1, 0, 0, items, info));

    EXPECT_EQ(info->at(0)->managedCount(), 0);
    EXPECT_EQ(info->at(0)->size(), -50);
    EXPECT_EQ(info->at(3)->managedCount(), -1);
    EXPECT_EQ(info->at(3)->size(), -100);
    EXPECT_EQ(info->at(4)->managedCount(), 1);
    EXPECT_EQ(info->at(4)->size(), 50);
    EXPECT_EQ(info->at(0)->locationsInfo().at(kLocation + 0)->managedCount(), -1);
    EXPECT_EQ(info->at(0)->locationsInfo().at(kLocation + 1)->managedCount(), 1);
    EXPECT_EQ(info->at(4)->locationsInfo().count(kLocation + 0), 0u);
}

TEST(MarkingBookkeeping, UnmarkingCountsEachChangeAsAnAddition)
{
    const KZFoundItemArray items = makeItems({member(1, 0, 3, 10, true), member(2, 0, 3, 20, true),
                                              member(3, 1, 3, 30, true), member(4, 1, 3, 40)});
    auto model = makeModel(items, 1, 1);
    auto info = bookkeeping({3});
    model->markItemsWithDict(request(1, 0, 3, 3, items, info));
    EXPECT_EQ(marksOf(items), "0000");
    EXPECT_EQ(info->at(3)->managedCount(), 3);
    EXPECT_EQ(info->at(3)->size(), 60);
}

// ---- The last unmarked member -----------------------------------------------------------------

struct LastCase {
    const char* name;
    std::string marks; // of a three-member group
    int asked;         // index of the member asked about
    bool expected;
};

class LastItemToMark : public ::testing::TestWithParam<LastCase> {};

TEST_P(LastItemToMark, AnswersFromTheGroup)
{
    const LastCase& c = GetParam();
    std::vector<ItemShape> shapes;
    for (char mark : c.marks)
        shapes.push_back(member(7, 0, 3, 1, mark == '1'));
    shapes.push_back(member(8, 0, 3, 1)); // another group, unmarked
    const KZFoundItemArray items = makeItems(shapes);
    auto model = makeModel(items);
    EXPECT_EQ(model->isLastItemToMark(items[c.asked]), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, LastItemToMark,
                         ::testing::Values(LastCase{"OneOfThreeMarked", "100", 1, false},
                                           LastCase{"TwoOfThreeMarked", "110", 2, true},
                                           LastCase{"AskedMemberIsOneOfTheMarked", "110", 0, true},
                                           LastCase{"NoneMarked", "000", 0, false}),
                         [](const ::testing::TestParamInfo<LastCase>& info) { return std::string(info.param.name); });

TEST(MarkingBookkeeping, LastItemToMarkOfAnUnknownGroupIsNo)
{
    const KZFoundItemArray items = makeItems({member(1, 0, 3, 1, true), member(1, 1, 3, 1)});
    auto model = makeModel(items);
    const KZFoundItemArray stranger = makeItems({member(99, 0, 3, 1)});
    EXPECT_FALSE(model->isLastItemToMark(stranger.first()));
    EXPECT_FALSE(model->isLastItemToMark(nullptr));
}

TEST(MarkingBookkeeping, LastItemToMarkFollowsRemovalsAndNewMarks)
{
    const KZFoundItemArray items = makeItems({member(1, 0, 3, 1, true), member(1, 1, 3, 1), member(1, 2, 3, 1)});
    auto model = makeModel(items);
    EXPECT_FALSE(model->isLastItemToMark(items[1]));
    items[2]->setIsMarked(true);
    EXPECT_TRUE(model->isLastItemToMark(items[1]));
    items[2]->setIsMarked(false);

    // The unmarked copy at label 2 is removed: two members are left, one marked.
    model->updateAfterRemotion({{QStringLiteral("removedItems"), QVariant::fromValue(KZFoundItemArray{items[2]})},
                                {K::infoDict, QVariant::fromValue(bookkeeping({0}))}});
    EXPECT_TRUE(model->isLastItemToMark(items[1]));
}

// ---- Marked totals and snapshots --------------------------------------------------------------

TEST(MarkingBookkeeping, MarkedTotalsOfFlatAndGroupedLists)
{
    const KZFoundItemArray none = makeItems({member(1, 0, 3, 5), member(1, 1, 3, 6)});
    auto model = makeModel(none);
    quint64 size = 42;
    EXPECT_EQ(model->markedWithArray(none, &size), 0u);
    EXPECT_EQ(size, 42u);

    const KZFoundItemArray items =
        makeItems({member(1, 0, 3, 5, true), member(1, 1, 3, 6), member(2, 0, 3, 7, true), member(2, 1, 3, 8, true)});
    const QVariantMap flat = model->markedCountWithArray(items);
    EXPECT_EQ(flat.value(QStringLiteral("markedCount")).toULongLong(), 3u);
    EXPECT_EQ(flat.value(QStringLiteral("markedSize")).toULongLong(), 20u);
    const QVariantMap grouped = model->markedCountWithArray(model->setupItemsByGroupForItems(items, true));
    EXPECT_EQ(grouped, flat);
}

TEST(MarkingBookkeeping, UndoAndRedoSnapshotsRestoreTheMarksExactly)
{
    const KZFoundItemArray items = makeItems({member(1, 0, 3, 1, true), member(1, 1, 3, 1), member(1, 2, 4, 1),
                                              member(2, 0, 3, 1), member(2, 1, 3, 1, true)});
    auto model = makeModel(items);
    const std::string before = marksOf(items);
    const KZMarkSnapshot undo = model->currentItemsMarkStateWithArray(items);

    model->markItemsWithDict(request(3, 1, 0, 0, items, nullptr)); // newest, then swap
    model->markItemsWithDict(request(7, 1, 0, 0, items, nullptr));
    const std::string after = marksOf(items);
    ASSERT_NE(after, before);
    const KZMarkSnapshot redo = model->currentMarkStateForRedoWithArray(undo);

    auto restore = [&](const KZMarkSnapshot& snapshot) {
        auto info = bookkeeping({0, 3, 4});
        model->markItemsWithDict({{K::menuItemTag, 8},
                                  {K::checkBtnState, 1},
                                  {K::ownerTag, QVariant::fromValue<quint64>(0)},
                                  {K::itemsToManageTag, QVariant::fromValue<quint64>(0)},
                                  {K::itemsToManage, QVariant::fromValue(snapshot)},
                                  {K::infoDict, QVariant::fromValue(info)}});
        return info;
    };
    const auto undoInfo = restore(undo);
    EXPECT_EQ(marksOf(items), before);
    EXPECT_TRUE(undoInfo->at(0)->needsUpdate());
    restore(redo);
    EXPECT_EQ(marksOf(items), after);
    restore(undo);
    EXPECT_EQ(marksOf(items), before);

    // A restore request in the dictionary form is read too.
    QVariantList entries;
    for (const KZMarkState& entry : redo)
        entries.append(QVariantMap{{K::item, QVariant::fromValue(entry.item)}, {K::state, entry.state}});
    model->markItemsWithDict({{K::menuItemTag, 8}, {K::checkBtnState, 1}, {K::ownerTag, 0}, {K::itemsToManage, entries}});
    EXPECT_EQ(marksOf(items), after);
}

// ---- Masters for links ------------------------------------------------------------------------

struct MasterCase {
    const char* name;
    std::vector<ItemShape> group; // one group, all members
    std::vector<int> listed;     // members in the removal list
    int expected;                // index of the master, -1 for none
};

class MasterForAlias : public ::testing::TestWithParam<MasterCase> {};

TEST_P(MasterForAlias, KeepsTheOneCopyThatStays)
{
    const MasterCase& c = GetParam();
    const KZFoundItemArray items = makeItems(c.group);
    auto model = makeModel(items);
    KZFoundItemArray listed;
    for (int index : c.listed)
        listed.append(items[index]);
    const KZFoundItemArray masters = model->masterForAliasArrayWithArray(listed);
    if (c.expected < 0) {
        EXPECT_TRUE(masters.isEmpty());
    } else {
        ASSERT_EQ(masters.size(), 1);
        EXPECT_EQ(masters.first(), items[c.expected]);
    }
}

ItemShape photos(qint64 group, bool marked)
{
    ItemShape shape = member(group, 0, 3, 1, marked);
    shape.owner = KZAppSuppInfo::Photos;
    return shape;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MasterForAlias,
    ::testing::Values(
        MasterCase{"TwoOfThreeLeaveTheThirdStays",
                   {member(1, 0, 3, 1, true), member(1, 1, 3, 1, true), member(1, 2, 3, 1)}, {0, 1}, 2},
        MasterCase{"APhotosMemberMeansNoLinks",
                   {photos(1, true), member(1, 1, 3, 1, true), member(1, 2, 3, 1)}, {0, 1}, -1},
        MasterCase{"OneOfThreeLeavingKeepsTwo",
                   {member(1, 0, 3, 1, true), member(1, 1, 3, 1), member(1, 2, 3, 1)}, {0}, -1},
        MasterCase{"AnUnmarkedLeavingCopyIsNeverTheMaster",
                   {member(1, 0, 3, 1), member(1, 1, 3, 1, true), member(1, 2, 3, 1)}, {0, 1}, 2}),
    [](const ::testing::TestParamInfo<MasterCase>& info) { return std::string(info.param.name); });

} // namespace
