#include "result/model/KZFoundItemGroup.h"
#include "result/model/KZFoundItemsCntrl.h"
#include "result/model/KZGroupDictionary.h"
#include "result/model/KZSortGroupModule.h"

#include "ResultModelTestSupport.h"
#include "TestSupport.h"
#include "platform/OperationQueue.h"
#include "result/model/KZColumnKeys.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using modeltest::NodeSpec;

namespace {

class GroupRows : public ::testing::Test {
protected:
    void TearDown() override { KZFoundItemFactsQueue().waitUntilAllOperationsAreFinished(); }

    KZFoundItemRef item(const std::string& name, std::size_t bytes, qint64 group, bool marked = false, qint16 label = -1)
    {
        const fs::path path = dir_.write(name, std::string(bytes, 'x'));
        const auto node = modeltest::makeNode(
            {.path = path, .group = static_cast<quint64>(group), .label = label});
        KZFoundItemRef found = KZFoundItem::itemWithTreeNode(*node);
        found->setIsMarked(marked);
        return found;
    }

    kztest::TempDir dir_;
};

} // namespace

TEST_F(GroupRows, MarkedShareIsAWholePercentageRoundedDown)
{
    struct Case {
        int members;
        int marked;
        qint16 percent;
    };
    const Case cases[] = {{3, 1, 33}, {3, 2, 66}, {2, 2, 100}, {4, 0, 0}, {0, 0, 0}};
    int serial = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.marked << " of " << c.members);
        KZFoundItemArray members;
        for (int i = 0; i < c.members; ++i)
            members.append(item("p" + std::to_string(serial++), 1, 1, i < c.marked));
        EXPECT_EQ(KZSortGroupModule::sharedControl().checkedCountInArray(members), c.percent);
        KZFoundItemGroup group;
        group.setItems(members);
        const QVariant check = group.valueForUndefinedKey(KZColumnKey::check_col);
        EXPECT_EQ(check.metaType(), QMetaType::fromType<qint16>());
        EXPECT_EQ(check.value<qint16>(), c.percent);
    }
}

TEST_F(GroupRows, GroupRowAnswersTheColumnsOfItsMembers)
{
    KZFoundItemGroup group;
    group.setItems({item("first.txt", 10, 7, true, 2), item("second.txt", 10, 7, false, 1),
                    item("third.txt", 10, 7, true, 0)});
    const auto value = [&](const QString& key) { return group.valueForUndefinedKey(key); };

    EXPECT_EQ(value(KZColumnKey::name_col).toString(), QStringLiteral("first.txt"));
    EXPECT_EQ(value(KZColumnKey::dupe_group_col).value<qint64>(), 7);
    EXPECT_EQ(value(KZColumnKey::location_tag_col).value<qint16>(), 2);
    EXPECT_EQ(value(KZColumnKey::size_col).value<quint64>(), 30u);
    EXPECT_EQ(value(KZColumnKey::size_col_ungrouped).value<quint64>(), 10u);
    EXPECT_EQ(value(KZColumnKey::checkedSize).value<quint64>(), 20u);
    EXPECT_EQ(value(KZColumnKey::items_in_group).value<quint64>(), 3u);
    EXPECT_EQ(value(KZColumnKey::isDirectory).toBool(), false);
    EXPECT_EQ(value(KZColumnKey::date_modified_col).metaType(), QMetaType::fromType<QDateTime>());
    // A group object leaves the icon to its cells.
    EXPECT_EQ(value(KZColumnKey::icon), QVariant(false));
    EXPECT_EQ(value(QStringLiteral("anything")), QVariant(false));
}

TEST_F(GroupRows, EmptyGroupAnswersZerosAndEmptyTexts)
{
    KZFoundItemGroup group;
    EXPECT_EQ(group.valueForUndefinedKey(KZColumnKey::size_col_ungrouped).value<quint64>(), 0u);
    EXPECT_EQ(group.valueForUndefinedKey(KZColumnKey::check_col).value<qint16>(), 0);
    EXPECT_EQ(group.valueForUndefinedKey(KZColumnKey::name_col), QVariant(QString()));
    EXPECT_EQ(group.valueForUndefinedKey(KZColumnKey::kind_col), QVariant(QString()));
    EXPECT_EQ(group.valueForUndefinedKey(KZColumnKey::dupe_group_col), QVariant(false));
}

TEST_F(GroupRows, ExtraInfoCarriesTheGroupSizeAndItsMarkedSize)
{
    KZFoundItemGroup group;
    group.setItems({item("a", 1500, 1, true), item("b", 1500, 1, false)});
    EXPECT_NE(group.formattedSize(), group.formattedMarkedSize());
    const QString marked = group.extraInfoFormatted(true);
    EXPECT_TRUE(marked.contains(group.formattedSize()));
    EXPECT_TRUE(marked.contains(group.formattedMarkedSize()));
    EXPECT_TRUE(group.extraInfoFormatted(false).contains(group.formattedSize()));
    EXPECT_FALSE(group.extraInfoFormatted(false).contains(QStringLiteral("%@")));
    EXPECT_EQ(group.formattedCount(), QStringLiteral("2"));
}

TEST_F(GroupRows, GroupDictionaryStandsForTheGroupAndAnswersTheIcon)
{
    const KZFoundItemRef first = item("first.txt", 4, 3, true);
    QImage icon(2, 2, QImage::Format_ARGB32);
    icon.fill(Qt::red);
    first->setFileIcon(icon);
    const KZFoundItemArray children{first, item("second.txt", 4, 3)};

    KZGroupDictionary row = KZGroupDictionary::dictionaryWithObjectsAndKeys(
        {{QVariant::fromValue(children), KZGroupDictionary::childrenKey}});
    EXPECT_EQ(row.children().size(), 2);
    // Keys the inner dictionary does not hold are computed for the group.
    EXPECT_EQ(row.objectForKey(KZColumnKey::name_col).toString(), QStringLiteral("first.txt"));
    EXPECT_EQ(row.objectForKey(KZColumnKey::size_col_ungrouped).value<quint64>(), 4u);
    EXPECT_EQ(row.objectForKey(KZColumnKey::check_col).value<qint16>(), 50);
    EXPECT_EQ(row.objectForKey(KZColumnKey::icon).value<QImage>(), icon);
    // A stored entry wins until it is removed again.
    row.setObject(QStringLiteral("stored"), KZColumnKey::name_col);
    EXPECT_EQ(row.objectForKey(KZColumnKey::name_col).toString(), QStringLiteral("stored"));
    row.removeObjectForKey(KZColumnKey::name_col);
    EXPECT_EQ(row.objectForKey(KZColumnKey::name_col).toString(), QStringLiteral("first.txt"));

    EXPECT_TRUE(KZGroupDictionary::dictionaryWithObjectsAndKeys({}).embeddedDictionary().isEmpty());
    EXPECT_TRUE(KZGroupDictionary::dictionaryWithObjectsAndKeys({{QVariant(), KZGroupDictionary::childrenKey}})
                    .embeddedDictionary()
                    .isEmpty());
}

TEST_F(GroupRows, GroupingCutsRunsOfEqualIdentifiers)
{
    const KZFoundItemsCntrl model(nullptr, {});
    const KZFoundItemArray items{item("a1", 1, 1, true), item("b1", 1, 2), item("a2", 1, 1, true),
                                 item("b2", 1, 2, true)};

    const KZFoundItemGroupRef runs = model.setupItemsByGroupForItems(items, false);
    ASSERT_EQ(runs->groups().size(), 4); // not sorted: each run is a group, so a group appears twice
    EXPECT_EQ(runs->groups()[0]->groupID(), 1);
    EXPECT_EQ(runs->groups()[1]->groupID(), 2);

    const KZFoundItemGroupRef sorted = model.setupItemsByGroupForItems(items, true);
    ASSERT_EQ(sorted->groups().size(), 2);
    const KZFoundItemGroupRef& one = sorted->groups()[0];
    EXPECT_EQ(one->groupID(), 1);
    EXPECT_EQ(one->name(), QStringLiteral("a1"));
    EXPECT_EQ(one->markedCount(), 2);
    EXPECT_FALSE(one->isExpanded());
    EXPECT_EQ(one->markedMenuItem(), 1);
    EXPECT_EQ(sorted->groups()[1]->markedCount(), 1);

    const KZFoundItemArray flat = model.separateItemsFromGroups(sorted);
    ASSERT_EQ(flat.size(), 4);
    EXPECT_EQ(flat[0], items[0]);
    EXPECT_EQ(flat[1], items[2]);
    EXPECT_EQ(flat[2], items[1]);
    EXPECT_EQ(flat[3], items[3]);
    EXPECT_TRUE(model.separateItemsFromGroups(nullptr).isEmpty());
}
