#include "ModelTestSupport.h"

#include "settings/KZTags.h"

#include <gtest/gtest.h>

using namespace modeltest;
namespace K = KZMarkingKey;

namespace {


ItemShape member(qint64 group, qint16 label, quint64 type, quint64 size, bool marked = false)
{
    return {.group = group, .label = label, .tag = type, .size = size, .marked = marked};
}

// (count, size) of every entry, by (tab, row); row 0 is the tab's own entry.
using Entries = std::map<std::pair<quint64, quint64>, std::pair<qint64, qint64>>;

Entries entriesOf(const KZViewsToUpdate& info)
{
    Entries entries;
    for (const auto& [tab, entry] : info) {
        entries[{tab, 0}] = {entry->managedCount(), entry->size()};
        for (const auto& [row, location] : entry->locationsInfo())
            entries[{tab, row}] = {location->managedCount(), location->size()};
    }
    return entries;
}

struct BookkeepingCase {
    const char* name;
    std::vector<ItemShape> items;
    qint16 types;                // file types found
    qint16 lastLocation;         // the highest location label; -1 for one source
    std::vector<quint64> tabs;   // the tabs that get bookkeeping entries
    int rule;
    int check;                   // the check box state of the request
    quint64 owner;               // the tab that asks, also the list it asks for
    std::string marks;           // the marks afterwards, one character per item
    Entries expected;
};

TEST(MarkingBookkeeping, ChangesAreCountedOnceOnEachTabAndLocationTheyBelongTo)
{
    constexpr KZTabTag l0 = KZTag::sourceRowBase; // the location rows of labels 0 and 1
    constexpr KZTabTag l1 = KZTag::sourceRowBase + 1;
    const BookkeepingCase cases[] = {
        {.name = "a single type's one entry stands for every type",
         .items = {member(1, 0, 3, 100), member(1, 1, 3, 50)},
         .types = 1, .lastLocation = 1, .tabs = {3}, .rule = KZMarkRule::byDefault, .check = 1, .owner = 3,
         .marks = "10",
         .expected = {{{3, 0}, {1, 100}}, {{3, l0}, {1, 100}}}},
        {.name = "a single type beside the missing tracks",
         .items = {member(1, 0, 3, 100), member(1, 1, 3, 50)},
         .types = 1, .lastLocation = 1, .tabs = {3, KZTag::missingTracks}, .rule = KZMarkRule::byDefault, .check = 1,
         .owner = 3, .marks = "10",
         .expected = {{{3, 0}, {1, 100}}, {{3, l0}, {1, 100}}, {{KZTag::missingTracks, 0}, {0, 0}}}},
        {.name = "two types found, only the type's own tab kept",
         .items = {member(1, 0, 3, 100), member(1, 1, 3, 50)},
         .types = 2, .lastLocation = 1, .tabs = {3}, .rule = KZMarkRule::byDefault, .check = 1, .owner = 3,
         .marks = "10",
         .expected = {{{3, 0}, {1, 100}}, {{3, l0}, {1, 100}}}},
        {.name = "one searched location makes no location entries",
         .items = {member(1, -1, 3, 100), member(1, -1, 4, 50)},
         .types = 2, .lastLocation = -1, .tabs = {0, 3, 4}, .rule = KZMarkRule::byDefault, .check = 1, .owner = 0,
         .marks = "10",
         .expected = {{{0, 0}, {1, 100}}, {{3, 0}, {1, 100}}, {{4, 0}, {0, 0}}}},
        {.name = "a swap removes and adds on the tabs and locations of each item",
         .items = {member(1, 0, 3, 100, true), member(1, 1, 4, 50), member(2, 1, 3, 7), member(2, 0, 3, 9)},
         .types = 2, .lastLocation = 1, .tabs = {0, 3, 4}, .rule = KZMarkRule::swap, .check = 1, .owner = 0,
         .marks = "0100",
         .expected = {{{0, 0}, {0, -50}}, {{0, l0}, {-1, -100}}, {{0, l1}, {1, 50}}, {{3, 0}, {-1, -100}},
                      {{3, l0}, {-1, -100}}, {{4, 0}, {1, 50}}, {{4, l1}, {1, 50}}}},
        {.name = "unmarking counts each change as an addition",
         .items = {member(1, 0, 3, 10, true), member(2, 0, 3, 20, true), member(3, 1, 3, 30, true),
                   member(4, 1, 3, 40)},
         .types = 1, .lastLocation = 1, .tabs = {3}, .rule = KZMarkRule::byDefault, .check = 0, .owner = 3,
         .marks = "0000",
         .expected = {{{3, 0}, {3, 60}}, {{3, l0}, {2, 30}}, {{3, l1}, {1, 30}}}},
    };
    for (const BookkeepingCase& c : cases) {
        SCOPED_TRACE(c.name);
        const KZFoundItemArray items = makeItems(c.items);
        auto info = viewsFor(c.tabs);
        makeModel(items, c.types, c.lastLocation)
            ->markItemsWithDict(markRequest(c.rule, c.check, c.owner, c.owner, QVariant::fromValue(items), info));
        EXPECT_EQ(marksOf(items), c.marks);
        EXPECT_EQ(entriesOf(*info), c.expected);
        for (quint64 tab : c.tabs) {
            const bool changed = c.expected.at({tab, 0}) != std::pair<qint64, qint64>();
            EXPECT_EQ(info->at(tab)->needsUpdate(), changed) << tab;
        }
    }
}

// A folder's size is worked out after it is listed, often after it was marked.
TEST(MarkingBookkeeping, MarkingAndUnmarkingCountTheSameSizeWhenTheSizeArrivesLater)
{
    const KZFoundItemArray items = makeItems({{.group = 1, .label = 0, .tag = 2, .isDirectory = true},
                                              member(1, 1, 2, 10)});
    auto model = makeModel(items, 1);
    const QVariant folder = QVariant::fromValue(items.mid(0, 1));
    auto marking = viewsFor({2});
    model->markItemsWithDict(markRequest(0, 1, 2, 2, folder, marking));
    items[0]->setSize(4096);
    EXPECT_EQ(static_cast<qint64>(model->markedCountWithArray(items).markedSize),
              marking->at(2)->size());
    auto unmarking = viewsFor({2});
    model->markItemsWithDict(markRequest(0, 0, 2, 2, folder, unmarking));
    EXPECT_EQ(marksOf(items), "00");
    EXPECT_EQ(entriesOf(*unmarking), entriesOf(*marking));

    // Marked again, it counts at its size of now.
    auto again = viewsFor({2});
    model->markItemsWithDict(markRequest(0, 1, 2, 2, folder, again));
    EXPECT_EQ(again->at(2)->size(), 4096);
}

// ---- The last unmarked member -----------------------------------------------------------------

TEST(MarkingBookkeeping, LastItemToMarkAnswersFromTheGroup)
{
    struct Case { const char* marks; int asked; bool expected; }; // marks of a three-member group
    for (const Case& c : {Case{"100", 1, false}, Case{"110", 2, true}, Case{"110", 0, true}, Case{"000", 0, false}}) {
        std::vector<ItemShape> shapes;
        for (int i = 0; i < 3; ++i)
            shapes.push_back(member(7, 0, 3, 1, c.marks[i] == '1'));
        shapes.push_back(member(8, 0, 3, 1)); // another group, unmarked
        const KZFoundItemArray items = makeItems(shapes);
        EXPECT_EQ(makeModel(items)->isLastItemToMark(items[c.asked]), c.expected) << c.marks << " " << c.asked;
    }

    const KZFoundItemArray items = makeItems({member(1, 0, 3, 1, true), member(1, 1, 3, 1), member(1, 2, 3, 1)});
    auto model = makeModel(items);
    EXPECT_FALSE(model->isLastItemToMark(makeItem(member(99, 0, 3, 1)))); // a group the model does not hold
    EXPECT_FALSE(model->isLastItemToMark(nullptr));
    // The answer follows new marks and removals.
    items[2]->setIsMarked(true);
    EXPECT_TRUE(model->isLastItemToMark(items[1]));
    items[2]->setIsMarked(false);
    EXPECT_FALSE(model->isLastItemToMark(items[1]));
    model->updateAfterRemotion({{K::removedItems, QVariant::fromValue(KZFoundItemArray{items[2]})},
                                {K::infoDict, QVariant::fromValue(viewsFor({0}))}});
    EXPECT_TRUE(model->isLastItemToMark(items[1]));
}

// Putting a snapshot back names, per group it would fill, the last entry
// that newly marks a member; a group that keeps an unmarked one is left out.
TEST(MarkingBookkeeping, SnapshotsThatWouldFillAGroupAreNamed)
{
    const KZFoundItemArray items = makeItems({member(1, 0, 3, 1, true), member(1, 1, 3, 1), member(1, 2, 3, 1),
                                              member(2, 0, 3, 1), member(2, 1, 3, 1)});
    auto model = makeModel(items);
    const auto filling = [&](const KZMarkSnapshot& snapshot) {
        QList<qsizetype> at;
        for (const KZMarkState& entry : model->marksFillingAGroup(snapshot))
            at.append(items.indexOf(entry.item));
        return at;
    };
    EXPECT_EQ(filling({{items[1], true}, {items[2], true}}), (QList<qsizetype>{2}));
    EXPECT_EQ(filling({{items[1], true}, {items[2], true}, {items[0], false}}), QList<qsizetype>{})
        << "the snapshot itself unmarks a member";
    EXPECT_EQ(filling({{items[1], true}}), QList<qsizetype>{});
    EXPECT_EQ(filling({{items[3], true}, {items[1], true}, {items[4], true}, {items[2], true}}),
              (QList<qsizetype>{4, 2}))
        << "one per group, in snapshot order";
    items[1]->setIsMarked(true);
    items[2]->setIsMarked(true);
    EXPECT_EQ(filling({{items[1], true}}), QList<qsizetype>{}) << "nothing newly marked: nothing to hold";
}

// ---- Marked totals and snapshots --------------------------------------------------------------

TEST(MarkingBookkeeping, MarkedTotalsOfFlatAndGroupedLists)
{
    const KZFoundItemArray items =
        makeItems({member(1, 0, 3, 5, true), member(1, 1, 3, 6), member(2, 0, 3, 7, true), member(2, 1, 3, 8, true)});
    auto model = makeModel(items);
    quint64 size = 42;
    EXPECT_EQ(model->markedWithArray(items.mid(1, 1), &size), 0u);
    EXPECT_EQ(size, 42u);
    const KZFoundItemsCntrl::MarkedTotals flat = model->markedCountWithArray(items);
    EXPECT_EQ(flat.markedCount, 3u);
    EXPECT_EQ(flat.markedSize, 20u);
    EXPECT_EQ(model->markedCountWithArray(model->setupItemsByGroupForItems(items, true)), flat);
}

TEST(MarkingBookkeeping, UndoAndRedoSnapshotsRestoreTheMarksExactly)
{
    const KZFoundItemArray items = makeItems({member(1, 0, 3, 1, true), member(1, 1, 3, 1), member(1, 2, 4, 1),
                                              member(2, 0, 3, 1), member(2, 1, 3, 1, true)});
    auto model = makeModel(items);
    const std::string before = marksOf(items);
    const KZMarkSnapshot undo = model->currentItemsMarkStateWithArray(items);
    model->markItemsWithDict(markRequest(3, 1, 0, 0, QVariant::fromValue(items))); // newest, then swap
    model->markItemsWithDict(markRequest(7, 1, 0, 0, QVariant::fromValue(items)));
    const std::string after = marksOf(items);
    ASSERT_NE(after, before);
    const KZMarkSnapshot redo = model->currentMarkStateForRedoWithArray(undo);

    const auto restore = [&](const QVariant& snapshot) {
        auto info = viewsFor({0, 3, 4});
        model->markItemsWithDict(markRequest(8, 1, 0, 0, snapshot, info));
        return info->at(0)->needsUpdate();
    };
    EXPECT_TRUE(restore(QVariant::fromValue(undo)));
    EXPECT_EQ(marksOf(items), before);
    restore(QVariant::fromValue(redo));
    EXPECT_EQ(marksOf(items), after);
    restore(QVariant::fromValue(undo));
    EXPECT_EQ(marksOf(items), before);
    // A restore request in the dictionary form is read too.
    QVariantList entries;
    for (const KZMarkState& entry : redo)
        entries.append(QVariantMap{{K::item, QVariant::fromValue(entry.item)}, {K::state, entry.state}});
    model->markItemsWithDict({{K::menuItemTag, 8}, {K::checkBtnState, 1}, {K::itemsToManage, entries}});
    EXPECT_EQ(marksOf(items), after);
}

// ---- Masters for links ------------------------------------------------------------------------

TEST(MarkingBookkeeping, MasterForLinksIsTheOneCopyThatStays)
{
    ItemShape photos = member(1, 0, 3, 1, true);
    photos.owner = KZAppSuppInfo::Photos;
    // The members in the removal list, and the index of the master (-1: none).
    struct Case { const char* name; std::vector<ItemShape> group; std::vector<int> listed; int expected; };
    const Case cases[] = {
        {"two of three leave, the third stays",
         {member(1, 0, 3, 1, true), member(1, 1, 3, 1, true), member(1, 2, 3, 1)}, {0, 1}, 2},
        {"a Photos member means no links", {photos, member(1, 1, 3, 1, true), member(1, 2, 3, 1)}, {0, 1}, -1},
        {"one of three leaving keeps two", {member(1, 0, 3, 1, true), member(1, 1, 3, 1), member(1, 2, 3, 1)}, {0}, -1},
        {"an unmarked leaving copy is never the master",
         {member(1, 0, 3, 1), member(1, 1, 3, 1, true), member(1, 2, 3, 1)}, {0, 1}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const KZFoundItemArray items = makeItems(c.group);
        KZFoundItemArray listed;
        for (int index : c.listed)
            listed.append(items[index]);
        const KZFoundItemArray masters = makeModel(items)->masterForAliasArrayWithArray(listed);
        EXPECT_EQ(masters, c.expected < 0 ? KZFoundItemArray() : KZFoundItemArray{items[c.expected]});
    }
}

} // namespace
