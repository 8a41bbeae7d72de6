#include "MarkingTestSupport.h"

#include "result/model/KZColumnKeys.h"
#include "result/model/KZMarkingRequest.h"
#include "result/model/KZSortDescriptor.h"
#include "settings/KZTags.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace markingtest;
namespace fs = std::filesystem;

namespace {

ItemShape folder(qint64 group, const fs::path& path = {})
{
    ItemShape shape;
    shape.group = group;
    shape.type = 2;
    shape.path = path;
    return shape;
}

QStringList namesOf(const KZFoundItemArray& items)
{
    QStringList names;
    for (const KZFoundItemRef& item : items)
        names.append(item->name());
    return names;
}

// ---- Empty folders ------------------------------------------------------------------------------

TEST(EmptyFolders, ALaterSearchAppendsItsFoldersMarked)
{
    kztest::TempDir dir;
    auto model = makeModel({});
    EXPECT_FALSE(model->allEmptyFolders().has_value());

    model->doCreateEmptyFoldersList({{QStringLiteral("KZResultFoundItems"),
                                      parcelOf({folder(1, dir.mkdir("one")), folder(2, dir.mkdir("two"))})}});
    model->doCreateEmptyFoldersList(
        {{QStringLiteral("KZResultFoundItems"), parcelOf({folder(3, dir.mkdir("three"))})}});

    const KZFoundItemArray folders = model->allEmptyFolders().value_or(KZFoundItemArray());
    EXPECT_EQ(namesOf(folders), (QStringList{QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three")}));
    EXPECT_EQ(marksOf(folders), "111");
}

TEST(EmptyFolders, ARestoredResultTakesItsMarksFromTheSavedItems)
{
    kztest::TempDir dir;
    const fs::path kept = dir.mkdir("kept");
    const fs::path marked = dir.mkdir("marked");
    auto model = makeModel({});
    const QVariantMap saved{
        {KZFoundItemsCntrl::savedItemKey(marked), QVariantMap{{QStringLiteral("isMarked"), true}}},
        {KZFoundItemsCntrl::savedItemKey(kept), QVariantMap{{QStringLiteral("isMarked"), false}}}};
    model->doCreateEmptyFoldersList({{QStringLiteral("KZResultFoundItems"), parcelOf({folder(1, kept), folder(2, marked),
                                                                                     folder(3, dir.mkdir("unsaved"))})},
                                     {QStringLiteral("KZResultIsRestoreOfSaved"), true},
                                     {QStringLiteral("KZResultIsSavedItemsToRestore"), saved}});
    const KZFoundItemArray folders = model->allEmptyFolders().value_or(KZFoundItemArray());
    EXPECT_EQ(marksOf(folders), "010");
    for (const KZFoundItemRef& item : folders)
        EXPECT_TRUE(item->aliasAlreadyCreated());
}

TEST(EmptyFolders, RemovalsAreCountedAndDropped)
{
    auto model = makeModel({}, 1, 1);
    model->doCreateEmptyFoldersList({{QStringLiteral("KZResultFoundItems"), parcelOf({folder(1), folder(2), folder(3)})}});
    const KZFoundItemArray folders = *model->allEmptyFolders();
    auto info = std::make_shared<KZViewsToUpdate>();
    (*info)[static_cast<quint64>(KZTag::emptyFolders)] = std::make_shared<KZViewToUpdate>();
    model->updateEmptyFoldersAfterRemotion(
        {{QStringLiteral("removedItems"), QVariant::fromValue(KZFoundItemArray{folders[0], folders[2]})},
         {KZMarkingKey::infoDict, QVariant::fromValue<KZViewsToUpdateRef>(info)}});
    EXPECT_EQ(*model->allEmptyFolders(), KZFoundItemArray{folders[1]});
    const auto& entry = info->at(static_cast<quint64>(KZTag::emptyFolders));
    EXPECT_EQ(entry->managedCount(), 2);
    EXPECT_EQ(entry->size(), 20);

    model->cleanEmptyFoldersMemoryAfterTabRemotion();
    EXPECT_FALSE(model->allEmptyFolders().has_value());
}

// ---- Sorting that keeps groups together -------------------------------------------------------

ItemShape sized(qint64 group, quint64 size, qint16 label)
{
    ItemShape shape;
    shape.group = group;
    shape.size = size;
    shape.label = label;
    return shape;
}

struct SortCase {
    const char* name;
    KZSortDescriptors descriptors;
    bool sortMembers;
    std::vector<int> expected; // indexes into the items, in sorted order
};

class FlatGroupSort : public ::testing::TestWithParam<SortCase> {};

TEST_P(FlatGroupSort, KeepsEveryGroupTogether)
{
    // Group 1: three copies of 10 bytes (30 in all), group 2: two of 12 (24),
    // group 3: two of 5 (10).
    const KZFoundItemArray items = makeItems({sized(1, 10, 2), sized(2, 12, 1), sized(1, 10, 0), sized(3, 5, 1),
                                              sized(2, 12, 0), sized(1, 10, 1), sized(3, 5, 0)});
    auto model = makeModel(items);
    const KZFoundItemArray sorted = model->sortedGroupWithArray(items, GetParam().descriptors, GetParam().sortMembers);
    std::vector<int> order;
    for (const KZFoundItemRef& item : sorted)
        order.push_back(static_cast<int>(items.indexOf(item)));
    EXPECT_EQ(order, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FlatGroupSort,
    ::testing::Values(
        // By the size of one copy, not of the whole group: group 2 holds
        // fewer bytes than group 1, but each of its copies is larger.
        SortCase{"SizeSortsGroupsByOneCopy", {KZSortDescriptor(KZColumnKey::size_col, true)}, false,
                 {3, 6, 0, 2, 5, 1, 4}},
        SortCase{"SizeDescending", {KZSortDescriptor(KZColumnKey::size_col, false)}, false, {1, 4, 0, 2, 5, 3, 6}},
        SortCase{"MembersSortedWhenAsked",
                 {KZSortDescriptor(KZColumnKey::size_col, true), KZSortDescriptor(KZColumnKey::location_tag_col, true)},
                 true, {6, 3, 2, 5, 0, 4, 1}},
        SortCase{"ByGroupThenLocation",
                 {KZSortDescriptor(KZColumnKey::dupe_group_col, false),
                  KZSortDescriptor(KZColumnKey::location_tag_col, true)},
                 true, {6, 3, 4, 1, 2, 5, 0}}),
    [](const ::testing::TestParamInfo<SortCase>& info) { return std::string(info.param.name); });

TEST(GroupSort, GroupedContentSortsGroupsAndTheirMembers)
{
    const KZFoundItemArray items = makeItems({sized(1, 10, 2), sized(2, 20, 1), sized(1, 10, 0), sized(2, 20, 0)});
    auto model = makeModel(items);
    const KZFoundItemGroupRef root = model->setupItemsByGroupForItems(items, true);
    const KZSortDescriptors descriptors{KZSortDescriptor(KZColumnKey::size_col, false),
                                        KZSortDescriptor(KZColumnKey::location_tag_col, true)};
    const KZFoundItemGroupRef sorted = model->sortedGroupWithArray(root, descriptors, false);
    ASSERT_EQ(sorted->groups().size(), 2);
    EXPECT_EQ(sorted->groups()[0]->groupID(), 2);
    EXPECT_EQ(sorted->groups()[0]->items(), (KZFoundItemArray{items[3], items[1]}));
    EXPECT_EQ(sorted->groups()[1]->items(), (KZFoundItemArray{items[2], items[0]}));
}

TEST(GroupSort, DescriptorsCompareByTheirSelector)
{
    struct Case {
        KZSortDescriptor descriptor;
        QVariant a;
        QVariant b;
        int sign;
    };
    const QString compare = KZSortDescriptor::compareSelector;
    const QVariant file2 = QStringLiteral("file2");
    const QVariant file10 = QStringLiteral("file10");
    for (const Case& c : {
             Case{KZSortDescriptor(KZColumnKey::name_col, true, compare), file2, file10, 1},
             Case{KZSortDescriptor(KZColumnKey::name_col, true, QStringLiteral("localizedStandardCompare:")), file2,
                  file10, -1},
             Case{KZSortDescriptor(KZColumnKey::name_col, true, QStringLiteral("caseInsensitiveCompare:")),
                  QStringLiteral("ABC"), QStringLiteral("abc"), 0},
             Case{KZSortDescriptor(KZColumnKey::name_col, true, compare), QStringLiteral("ABC"),
                  QStringLiteral("abc"), -1},
             Case{KZSortDescriptor(KZColumnKey::size_col, false, compare), QVariant::fromValue<quint64>(5),
                  QVariant::fromValue<quint64>(7), 1},
             Case{KZSortDescriptor(KZColumnKey::size_col, true, compare), QVariant::fromValue<quint64>(0),
                  QVariant::fromValue<int>(0), 0},
             Case{KZSortDescriptor(KZColumnKey::name_col, true, compare), QStringLiteral("x"), QVariant(3), 0},
         }) {
        const int order = c.descriptor.compareObject(c.a, c.b);
        EXPECT_EQ((order > 0) - (order < 0), c.sign) << c.descriptor.selector().toStdString() << " "
                                                     << c.a.toString().toStdString() << " vs "
                                                     << c.b.toString().toStdString();
    }
}

// ---- Look-ups -------------------------------------------------------------------------------------

TEST(LookUps, PathsCompareExactly)
{
    kztest::TempDir dir;
    ItemShape upper;
    upper.path = dir.write("Photo.JPG", "x");
    ItemShape lower;
    lower.path = dir.write("photo.jpg", "x");
    const KZFoundItemArray items = makeItems({upper, lower});
    auto model = makeModel(items);

    EXPECT_EQ(model->itemByPathWithArray(items, dir / "photo.jpg"), items[1]);
    EXPECT_EQ(model->itemByPathWithArray(items, dir / "PHOTO.jpg"), nullptr);
    EXPECT_EQ(model->indexOfItemInArray(items, dir / "Photo.JPG"), 0);
    EXPECT_EQ(model->indexOfItemInArray(items, dir / "missing"), KZFoundItemsCntrl::notFound);
}

TEST(LookUps, ByGroupIdentifier)
{
    ItemShape a;
    a.group = 4;
    a.marked = true;
    ItemShape b = a;
    ItemShape c = a;
    c.group = 9;
    c.marked = false;
    const KZFoundItemArray items = makeItems({a, b, c});
    auto model = makeModel(items);

    EXPECT_EQ(model->indexOfItemInArray(items, qint64(9)), 2);
    EXPECT_EQ(model->indexOfNotMarkedItemInArray(items, 4), KZFoundItemsCntrl::notFound);
    EXPECT_EQ(model->indexOfNotMarkedItemInArray(items, 9), 2);

    const KZFoundItemGroupRef root = model->setupItemsByGroupForItems(items, true);
    EXPECT_EQ(model->indexOfGroupInArray(root->groups(), 9), 1);
    EXPECT_EQ(model->groupByIDWithRootArray(root, 4), root->groups().first());
    EXPECT_EQ(model->groupByIDWithRootArray(root, 5), nullptr);
}

} // namespace
