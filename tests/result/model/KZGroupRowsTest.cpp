#include "result/model/KZFoundItemGroup.h"
#include "result/model/KZGroupDictionary.h"
#include "result/model/KZSortGroupModule.h"

#include "ModelTestSupport.h"
#include "TestSupport.h"
#include "result/model/KZColumnKeys.h"
#include "result/model/KZSortDescriptor.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace modeltest;
namespace C = KZColumnKey;

namespace {

KZFoundItemGroupRef groupOf(const KZFoundItemArray& members)
{
    auto group = std::make_shared<KZFoundItemGroup>();
    group->setItems(members);
    return group;
}

} // namespace

// ---- Group rows ----------------------------------------------------------------------------

TEST(GroupRows, MarkedShareIsAWholePercentageRoundedDown)
{
    struct Case { int members; int marked; qint16 percent; };
    for (const Case& c : {Case{3, 1, 33}, Case{3, 2, 66}, Case{2, 2, 100}, Case{4, 0, 0}, Case{0, 0, 0}}) {
        std::vector<ItemShape> shapes;
        for (int i = 0; i < c.members; ++i)
            shapes.push_back({.marked = i < c.marked});
        const KZFoundItemArray members = makeItems(shapes);
        EXPECT_EQ(KZSortGroupModule::sharedControl().checkedCountInArray(members), c.percent);
        const QVariant check = groupOf(members)->valueForUndefinedKey(C::check_col);
        EXPECT_EQ(check.metaType(), QMetaType::fromType<qint16>());
        EXPECT_EQ(check.value<qint16>(), c.percent) << c.marked << " of " << c.members;
    }
}

TEST(GroupRows, GroupRowAnswersTheColumnsOfItsMembers)
{
    const KZFoundItemArray members = makeItems({{.group = 7, .label = 2, .size = 10, .marked = true},
                                                {.group = 7, .label = 1, .size = 10},
                                                {.group = 7, .label = 0, .size = 10, .marked = true}});
    const KZFoundItemGroupRef group = groupOf(members);
    const KZFoundItemGroupRef empty = groupOf({});
    struct Case { QString key; QVariant full; QVariant none; };
    const Case cases[] = {
        {C::size_col, QVariant::fromValue<quint64>(30), QVariant::fromValue<quint64>(0)},
        {C::size_col_ungrouped, QVariant::fromValue<quint64>(10), QVariant::fromValue<quint64>(0)},
        {C::checkedSize, QVariant::fromValue<quint64>(20), QVariant::fromValue<quint64>(0)},
        {C::items_in_group, QVariant::fromValue<quint64>(3), QVariant::fromValue<quint64>(0)},
        {C::location_tag_col, QVariant::fromValue<qint16>(2), false}, // the first member's
        {C::name_col, members[0]->name(), QString()},
        {C::icon, false, false}, // a group object leaves the icon to its cells
    };
    for (const Case& c : cases) {
        EXPECT_EQ(group->valueForUndefinedKey(c.key), c.full) << c.key.toStdString();
        EXPECT_EQ(empty->valueForUndefinedKey(c.key), c.none) << c.key.toStdString();
    }
    EXPECT_EQ(group->valueForUndefinedKey(C::date_modified_col).metaType(), QMetaType::fromType<QDateTime>());
}

TEST(GroupRows, ExtraInfoCarriesTheGroupSizeAndItsMarkedSize)
{
    const KZFoundItemGroupRef group = groupOf(makeItems({{.size = 1500, .marked = true}, {.size = 1500}}));
    EXPECT_NE(group->formattedSize(), group->formattedMarkedSize());
    const QString marked = group->extraInfoFormatted(true);
    EXPECT_TRUE(marked.contains(group->formattedSize()));
    EXPECT_TRUE(marked.contains(group->formattedMarkedSize()));
    EXPECT_TRUE(group->extraInfoFormatted(false).contains(group->formattedSize()));
    EXPECT_FALSE(group->extraInfoFormatted(false).contains(QStringLiteral("%@")));
    EXPECT_EQ(group->formattedCount(), QStringLiteral("2"));
}

TEST(GroupRows, GroupDictionaryStandsForTheGroupAndAnswersTheIcon)
{
    const KZFoundItemArray children = makeItems({{.group = 3, .size = 4, .marked = true}, {.group = 3, .size = 4}});
    QImage icon(2, 2, QImage::Format_ARGB32);
    icon.fill(Qt::red);
    children[0]->setFileIcon(icon);

    KZGroupDictionary row = KZGroupDictionary::dictionaryWithObjectsAndKeys(
        {{QVariant::fromValue(children), KZGroupDictionary::childrenKey}});
    EXPECT_EQ(row.children().size(), 2);
    // Keys the inner dictionary does not hold are computed for the group.
    EXPECT_EQ(row.objectForKey(C::name_col).toString(), children[0]->name());
    EXPECT_EQ(row.objectForKey(C::size_col_ungrouped).value<quint64>(), 4u);
    EXPECT_EQ(row.objectForKey(C::check_col).value<qint16>(), 50);
    EXPECT_EQ(row.objectForKey(C::icon).value<QImage>(), icon);
    // A stored entry wins.
    row.setObject(QStringLiteral("stored"), C::name_col);
    EXPECT_EQ(row.objectForKey(C::name_col).toString(), QStringLiteral("stored"));

    EXPECT_TRUE(KZGroupDictionary::dictionaryWithObjectsAndKeys({}).embeddedDictionary().isEmpty());
    EXPECT_TRUE(KZGroupDictionary::dictionaryWithObjectsAndKeys({{QVariant(), KZGroupDictionary::childrenKey}})
                    .embeddedDictionary()
                    .isEmpty());
}

TEST(GroupRows, GroupingCutsRunsOfEqualIdentifiers)
{
    const KZFoundItemArray items = makeItems(
        {{.group = 1, .marked = true}, {.group = 2}, {.group = 1, .marked = true}, {.group = 2, .marked = true}});
    const auto model = makeModel(items);

    const KZFoundItemGroupRef runs = model->setupItemsByGroupForItems(items, false);
    ASSERT_EQ(runs->groups().size(), 4); // not sorted: each run is a group, so a group appears twice
    EXPECT_EQ(runs->groups()[1]->groupID(), 2);

    const KZFoundItemGroupRef sorted = model->setupItemsByGroupForItems(items, true);
    ASSERT_EQ(sorted->groups().size(), 2);
    const KZFoundItemGroupRef& one = sorted->groups()[0];
    EXPECT_EQ(one->groupID(), 1);
    EXPECT_EQ(one->name(), items[0]->name());
    EXPECT_EQ(one->markedCount(), 2);
    EXPECT_FALSE(one->isExpanded());
    EXPECT_EQ(one->markedMenuItem(), 1);
    EXPECT_EQ(sorted->groups()[1]->markedCount(), 1);
    EXPECT_EQ(model->separateItemsFromGroups(sorted), (KZFoundItemArray{items[0], items[2], items[1], items[3]}));
    EXPECT_TRUE(model->separateItemsFromGroups(nullptr).isEmpty());
}

// ---- Sorting that keeps groups together -------------------------------------------------------

TEST(GroupSort, FlatListsKeepEveryGroupTogether)
{
    // Group 1: three copies of 10 bytes (30 in all), group 2: two of 12 (24),
    // group 3: two of 5 (10).
    const KZFoundItemArray items = makeItems({{.group = 1, .label = 2, .size = 10},
                                              {.group = 2, .label = 1, .size = 12},
                                              {.group = 1, .label = 0, .size = 10},
                                              {.group = 3, .label = 1, .size = 5},
                                              {.group = 2, .label = 0, .size = 12},
                                              {.group = 1, .label = 1, .size = 10},
                                              {.group = 3, .label = 0, .size = 5}});
    const auto model = makeModel(items);
    // `expected`: indexes into the items, in sorted order.
    struct Case { const char* name; KZSortDescriptors descriptors; bool sortMembers; std::vector<int> expected; };
    const Case cases[] = {
        // By the size of one copy, not of the whole group: group 2 holds
        // fewer bytes than group 1, but each of its copies is larger.
        {"size sorts groups by one copy", {KZSortDescriptor(C::size_col, true)}, false, {3, 6, 0, 2, 5, 1, 4}},
        {"size descending", {KZSortDescriptor(C::size_col, false)}, false, {1, 4, 0, 2, 5, 3, 6}},
        {"members sorted when asked",
         {KZSortDescriptor(C::size_col, true), KZSortDescriptor(C::location_tag_col, true)}, true,
         {6, 3, 2, 5, 0, 4, 1}},
        {"by group then location",
         {KZSortDescriptor(C::dupe_group_col, false), KZSortDescriptor(C::location_tag_col, true)}, true,
         {6, 3, 4, 1, 2, 5, 0}},
    };
    for (const Case& c : cases) {
        std::vector<int> order;
        for (const KZFoundItemRef& item : model->sortedGroupWithArray(items, c.descriptors, c.sortMembers))
            order.push_back(static_cast<int>(items.indexOf(item)));
        EXPECT_EQ(order, c.expected) << c.name;
    }

    // Grouped content: the groups and, inside them, their members.
    const KZFoundItemArray two = makeItems({{.group = 1, .label = 2, .size = 10},
                                            {.group = 2, .label = 1, .size = 20},
                                            {.group = 1, .label = 0, .size = 10},
                                            {.group = 2, .label = 0, .size = 20}});
    const KZFoundItemGroupRef sorted = model->sortedGroupWithArray(
        model->setupItemsByGroupForItems(two, true),
        {KZSortDescriptor(C::size_col, false), KZSortDescriptor(C::location_tag_col, true)}, false);
    ASSERT_EQ(sorted->groups().size(), 2);
    EXPECT_EQ(sorted->groups()[0]->items(), (KZFoundItemArray{two[3], two[1]}));
    EXPECT_EQ(sorted->groups()[1]->items(), (KZFoundItemArray{two[2], two[0]}));
}

TEST(GroupSort, RowsWithEqualKeysKeepTheirOrder)
{
    // Enough rows that an unstable sort would reorder some of the ties:
    // 150 groups of two copies of one size, with the members' sources
    // alternating, so that only the secondary key tells rows apart.
    std::vector<ItemShape> shapes;
    for (int group = 1; group <= 150; ++group) {
        shapes.push_back({.group = group, .label = qint16(group % 3), .size = 8});
        shapes.push_back({.group = group, .label = qint16((group + 1) % 3), .size = 8});
    }
    const KZFoundItemArray items = makeItems(shapes);
    const auto model = makeModel(items);
    const KZSortDescriptors bySize{KZSortDescriptor(C::size_col, false)};

    const KZFoundItemGroupRef grouped = model->setupItemsByGroupForItems(items, true);
    const QList<KZFoundItemGroupRef> before = grouped->groups();
    const KZFoundItemGroupRef sorted = model->sortedGroupWithArray(grouped, bySize, false);
    EXPECT_EQ(sorted->groups(), before);
    EXPECT_EQ(grouped->groups(), before); // the list sorted from is left alone

    EXPECT_EQ(model->sortedGroupWithArray(items, bySize, false), items);

    // Equal first keys, ordered by the second: within each group by source,
    // and the groups, whose first copies share sources, in their old order.
    const KZFoundItemArray bySource = model->sortedGroupWithArray(
        items, {KZSortDescriptor(C::size_col, true), KZSortDescriptor(C::location_tag_col, true)}, true);
    ASSERT_EQ(bySource.size(), items.size());
    for (qsizetype i = 0; i + 1 < bySource.size(); i += 2) {
        EXPECT_EQ(bySource[i]->groupID(), bySource[i + 1]->groupID());
        EXPECT_LT(bySource[i]->locationLabelTag(), bySource[i + 1]->locationLabelTag());
    }
    for (qsizetype i = 2; i < bySource.size(); i += 2) {
        const auto key = [](const KZFoundItemRef& item) { return std::pair(item->locationLabelTag(), item->groupID()); };
        EXPECT_LT(key(bySource[i - 2]), key(bySource[i])) << "row " << i;
    }
}

TEST(GroupSort, DescriptorsCompareByTheirSelector)
{
    struct Case { KZSortDescriptor descriptor; QVariant a; QVariant b; int sign; };
    const QString compare = KZSortDescriptor::compareSelector;
    const QVariant file2 = QStringLiteral("file2");
    const QVariant file10 = QStringLiteral("file10");
    for (const Case& c : {
             Case{KZSortDescriptor(C::name_col, true, compare), file2, file10, 1},
             Case{KZSortDescriptor(C::name_col, true, QStringLiteral("localizedStandardCompare:")), file2, file10, -1},
             Case{KZSortDescriptor(C::name_col, true, QStringLiteral("caseInsensitiveCompare:")), QStringLiteral("ABC"),
                  QStringLiteral("abc"), 0},
             Case{KZSortDescriptor(C::name_col, true, compare), QStringLiteral("ABC"), QStringLiteral("abc"), -1},
             Case{KZSortDescriptor(C::size_col, false, compare), QVariant::fromValue<quint64>(5),
                  QVariant::fromValue<quint64>(7), 1},
             Case{KZSortDescriptor(C::size_col, true, compare), QVariant::fromValue<quint64>(0),
                  QVariant::fromValue<int>(0), 0},
             Case{KZSortDescriptor(C::name_col, true, compare), QStringLiteral("x"), QVariant(3), 0},
         }) {
        const int order = c.descriptor.compareObject(c.a, c.b);
        EXPECT_EQ((order > 0) - (order < 0), c.sign)
            << c.descriptor.selector().toStdString() << " " << c.a.toString().toStdString() << " vs "
            << c.b.toString().toStdString();
    }
}

// ---- Look-ups -------------------------------------------------------------------------------------

TEST(LookUps, PathsCompareExactlyAndOnlyUnmarkedMembersAnswer)
{
    kztest::TempDir dir;
    const KZFoundItemArray items = makeItems({{.path = dir.write("Photo.JPG", "x"), .group = 4, .marked = true},
                                              {.path = dir.write("photo.jpg", "x"), .group = 4, .marked = true},
                                              {.group = 9}});
    const auto model = makeModel(items);
    EXPECT_EQ(model->itemByPathWithArray(items, dir / "photo.jpg"), items[1]);
    EXPECT_EQ(model->itemByPathWithArray(items, dir / "PHOTO.jpg"), nullptr);
    EXPECT_EQ(model->indexOfItemInArray(items, dir / "missing"), KZFoundItemsCntrl::notFound);
    EXPECT_EQ(model->indexOfNotMarkedItemInArray(items, 4), KZFoundItemsCntrl::notFound);
    EXPECT_EQ(model->indexOfNotMarkedItemInArray(items, 9), 2);
    const KZFoundItemGroupRef root = model->setupItemsByGroupForItems(items, true);
    EXPECT_EQ(model->groupByIDWithRootArray(root, 5), nullptr);
}
