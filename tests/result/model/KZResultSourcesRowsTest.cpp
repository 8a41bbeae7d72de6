#include "TestSupport.h"

#include "result/model/KZMarkingRequest.h"
#include "result/model/KZResultSourcesRows.h"
#include "settings/KZTags.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

namespace K = KZMarkingKey;
constexpr KZTabTag kBase = KZTag::sourceRowBase;
constexpr quint64 kNotFound = static_cast<quint64>(std::numeric_limits<qint64>::max());

KZSourceItemRef source(const std::filesystem::path& path, bool searched, qint16 label)
{
    auto item = KZSourceItem::create({{QStringLiteral("url"), QVariant::fromValue(path)}});
    item->setWasSearched(searched);
    item->setLocationLabelTag(label);
    return item;
}

std::vector<quint64> tags(const KZResultSourcesRows& rows)
{
    std::vector<quint64> result;
    for (const auto& item : rows.items())
        result.push_back(item->tag);
    return result;
}

// A change of `count` items and `bytes` on the tab, with its share per row.
KZViewToUpdateRef change(qint64 count, qint64 bytes, std::map<quint64, std::pair<qint64, qint64>> rows = {})
{
    auto info = std::make_shared<KZViewToUpdate>();
    info->setManagedCount(count);
    info->setSize(bytes);
    for (const auto& [tag, figures] : rows) {
        auto entry = std::make_shared<KZViewToUpdate>();
        entry->setManagedCount(figures.first);
        entry->setSize(figures.second);
        info->locationsInfo()[tag] = entry;
    }
    return info;
}

class SourcesRows : public ::testing::Test {
protected:
    SourcesRows()
    {
        dir.mkdir("Camera");
        dir.mkdir("Laptop");
        dir.mkdir("Backup");
    }
    // Three sources on tab 1: labels 2, (not searched), 5.
    KZResultSourcesRows three(quint64 tab = 1) const
    {
        return KZResultSourcesRows(tab, QStringLiteral("Images"),
                                   {source(dir / "Camera", true, 2), source(dir / "Laptop", false, 0),
                                    source(dir / "Backup", true, 5)},
                                   false);
    }
    static KZMarkedInfoUpdate marking(bool add, KZViewToUpdateRef info, quint64 owner, QVariant location,
                                      QVariant rule = {}, QVariant sender = 0, quint64 firstTab = 0)
    {
        KZMarkedInfoUpdate update;
        update.addValue = add;
        update.info = std::move(info);
        update.ownerTag = owner;
        update.locationTag = std::move(location);
        update.menuItemTagToRestore = std::move(rule);
        update.itemSenderView = std::move(sender);
        update.firstTabTag = QVariant::fromValue(firstTab);
        return update;
    }

    kztest::TempDir dir;
};

} // namespace

TEST_F(SourcesRows, OneSourceGivesTheTabRowItsPlaceAndTheMarkedRow)
{
    auto photos = source(dir / "Camera", true, 0);
    photos->setIsPhotosLib(true);
    photos->setLibrariesCount(2);
    const KZResultSourcesRows rows(0, QStringLiteral("All Duplicates"), {photos}, true);
    ASSERT_EQ(tags(rows), (std::vector<quint64>{0, KZTag::markedItemsRowBase}));
    const auto& type = *rows.at(0);
    EXPECT_EQ(type.name, QStringLiteral("All Duplicates"));
    EXPECT_EQ(type.url, dir / "Camera");
    EXPECT_TRUE(type.isPhotosLib);
    EXPECT_EQ(type.librariesCount, 2);
    EXPECT_TRUE(type.drawHSeparator);
    EXPECT_EQ(type.markedMenuItem, KZMarkRule::byDefault);
    EXPECT_TRUE(type.searchStoppeByUser);
    const auto& marked = *rows.at(1);
    EXPECT_EQ(marked.name, QStringLiteral("Marked"));
    EXPECT_FALSE(marked.drawHSeparator);
    EXPECT_EQ(marked.markedMenuItem, 0);
    EXPECT_TRUE(marked.searchStoppeByUser);
}

TEST_F(SourcesRows, ASourceNotSearchedTakesTheLabelAfterThePreviousOne)
{
    const KZResultSourcesRows rows = three();
    ASSERT_EQ(tags(rows), (std::vector<quint64>{1, kBase + 2, kBase + 3, kBase + 5, KZTag::markedItemsRowBase + 1}));
    EXPECT_TRUE(rows.at(0)->drawHSeparator);
    EXPECT_TRUE(rows.at(0)->url.empty()) << "several sources: the tab row stands for none";
    EXPECT_FALSE(rows.at(1)->drawHSeparator);
    EXPECT_FALSE(rows.at(2)->drawHSeparator);
    EXPECT_TRUE(rows.at(3)->drawHSeparator);
    EXPECT_EQ(rows.at(2)->name, QStringLiteral("Laptop"));
    EXPECT_EQ(rows.at(2)->url, dir / "Laptop");
    EXPECT_EQ(rows.at(2)->locationLabelTag, 3);
    EXPECT_EQ(rows.at(3)->markedMenuItem, KZMarkRule::byDefault);
    EXPECT_EQ(rows.indexOfItemWithTag(kBase + 5), std::optional<int>(3));
    EXPECT_EQ(rows.indexOfItemWithTag(kBase + 4), std::nullopt);
}

TEST_F(SourcesRows, ARowsRequestNamesTheRowAndTheTabOrIsDropped)
{
    const KZResultSourcesRows rows = three();
    const QVariantMap box{{K::checkBtnState, 0},
                          {K::menuItemTag, 1},
                          {K::itemsToManageTag, QVariant::fromValue(kBase + 2)}};
    const auto completed = rows.completeMarkRequest(box);
    ASSERT_TRUE(completed);
    EXPECT_EQ(completed->value(K::locationTag).toULongLong(), kBase + 2);
    EXPECT_EQ(completed->value(K::ownerTag).toULongLong(), 1u);
    EXPECT_EQ(completed->value(K::checkBtnState).toInt(), 0);

    QVariantMap gone = box;
    gone.insert(K::itemsToManageTag, QVariant::fromValue(kBase + 7));
    EXPECT_EQ(rows.completeMarkRequest(gone), std::nullopt);
    gone.remove(K::itemsToManageTag);
    EXPECT_EQ(rows.completeMarkRequest(gone), std::nullopt);
}

TEST_F(SourcesRows, MarkingMovesMarkedFiguresAndTheMarkedRowsItems)
{
    KZResultSourcesRows rows = three();
    // 2 items of 10 bytes, both in the first source; another tab's location
    // in the record has no row here.
    auto info = change(2, 20, {{kBase + 2, {2, 20}}, {kBase + 40, {1, 1}}});
    const QList<int> changed = rows.updateMarkedInfo(marking(true, info, 1, QVariant::fromValue(kNotFound)));
    EXPECT_EQ(changed, (QList<int>{0, 1, 4}));
    EXPECT_EQ(rows.at(0)->markedCount, 2u);
    EXPECT_EQ(rows.at(0)->itemsCount, 0u) << "only the marked row counts its items by marks";
    EXPECT_EQ(rows.at(1)->markedSize, 20u);
    EXPECT_EQ(rows.at(4)->itemsCount, 2u);
    EXPECT_EQ(rows.at(4)->itemsSize, 20u);
    EXPECT_EQ(rows.at(2)->markedCount, 0u);

    // Unmarking three when the row knows of two (a late list count raced the
    // marking) stops at zero.
    rows.updateMarkedInfo(marking(false, change(3, 30, {{kBase + 2, {3, 30}}}), 1, QVariant::fromValue(kNotFound)));
    EXPECT_EQ(rows.at(1)->markedCount, 0u);
    EXPECT_EQ(rows.at(1)->markedSize, 0u);
    EXPECT_EQ(rows.at(4)->itemsCount, 0u);
    EXPECT_EQ(rows.at(0)->markedSize, 0u);
}

TEST_F(SourcesRows, OnlyAMenuRuleIsShownAndOnlyWhereItCameFrom)
{
    const auto info = [&] { return change(1, 1, {{kBase + 2, {1, 1}}, {kBase + 5, {1, 1}}}); };
    const QVariant rule3 = 3;
    // From a source row: only that row.
    KZResultSourcesRows rows = three();
    rows.updateMarkedInfo(marking(true, info(), 1, QVariant::fromValue(kBase + 2), rule3));
    EXPECT_EQ(rows.at(1)->markedMenuItem, 3);
    EXPECT_EQ(rows.at(0)->markedMenuItem, 1);
    EXPECT_EQ(rows.at(3)->markedMenuItem, 1);
    // From the type row of the first tab: every changed row of every tab.
    KZResultSourcesRows other = three(4);
    other.updateMarkedInfo(marking(true, info(), 1, QVariant::fromValue<quint64>(1), rule3, 0, 1));
    EXPECT_EQ(other.at(0)->markedMenuItem, 3);
    EXPECT_EQ(other.at(3)->markedMenuItem, 3);
    EXPECT_EQ(other.at(2)->markedMenuItem, 1) << "unchanged rows keep theirs";
    EXPECT_EQ(other.at(4)->markedMenuItem, 3);
    // From the type row of another tab: that tab's rows only.
    KZResultSourcesRows notOwner = three(4);
    notOwner.updateMarkedInfo(marking(true, info(), 2, QVariant::fromValue<quint64>(2), rule3, 0, 1));
    EXPECT_EQ(notOwner.at(0)->markedMenuItem, 1);
    KZResultSourcesRows owner = three(2);
    owner.updateMarkedInfo(marking(true, info(), 2, QVariant::fromValue<quint64>(2), rule3, 0, 1));
    EXPECT_EQ(owner.at(0)->markedMenuItem, 3);
    // A check box (no rule), and the groups outline (its group as sender):
    // figures only.
    KZResultSourcesRows figures = three();
    figures.updateMarkedInfo(marking(true, info(), 1, QVariant::fromValue(kBase + 2)));
    figures.updateMarkedInfo(
        marking(true, info(), 1, QVariant::fromValue(kNotFound), rule3, QVariant::fromValue(QStringLiteral("group"))));
    EXPECT_EQ(figures.at(1)->markedMenuItem, 1);
    EXPECT_EQ(figures.at(0)->markedMenuItem, 1);
    EXPECT_EQ(figures.at(1)->markedCount, 2u);
}

TEST_F(SourcesRows, RemovalMovesFiguresFromMarkedAndItemsToRemoved)
{
    KZResultSourcesRows rows = three();
    for (const auto& item : rows.items()) {
        item->itemsCount = 4;
        item->itemsSize = 40;
        item->markedCount = 2;
        item->markedSize = 20;
    }
    const QList<int> changed = rows.updateRemovedInfo(change(2, 20, {{kBase + 5, {2, 20}}}));
    EXPECT_EQ(changed, (QList<int>{0, 3, 4}));
    for (const int row : changed) {
        const auto& item = *rows.at(row);
        EXPECT_EQ(item.removedCount, 2u) << row;
        EXPECT_EQ(item.removedSize, 20u) << row;
        EXPECT_EQ(item.markedCount, 0u) << row;
        EXPECT_EQ(item.itemsCount, 2u) << row;
        EXPECT_EQ(item.itemsSize, 20u) << row;
    }
    EXPECT_EQ(rows.at(1)->removedCount, 0u);
    // More than the row holds: nothing wraps.
    rows.updateRemovedInfo(change(5, 50, {{kBase + 5, {5, 50}}}));
    EXPECT_EQ(rows.at(3)->itemsCount, 0u);
    EXPECT_EQ(rows.at(3)->markedSize, 0u);
    EXPECT_EQ(rows.at(3)->removedCount, 7u);
    EXPECT_TRUE(rows.updateRemovedInfo(nullptr).isEmpty());
}

TEST_F(SourcesRows, SavedSettingsRestoreRemovedFiguresAndSelectOnlyARowThatExists)
{
    KZResultSourcesRows saved = three();
    saved.at(3)->removedCount = 4;
    saved.at(3)->removedSize = 400;
    saved.at(3)->markedCount = 9;
    saved.at(1)->isPhotosLib = true;
    saved.selectionDidChange(3);
    const QVariantMap settings = saved.savedSettings();
    EXPECT_EQ(settings.value(QStringLiteral("selection")).toULongLong(), kBase + 5);
    EXPECT_EQ(settings.value(QStringLiteral("sources")).toList().size(), 5);

    KZResultSourcesRows reopened = three();
    reopened.at(3)->markedCount = 1;
    EXPECT_EQ(reopened.setSavedSettings(settings), std::optional<int>(3)) << "by tag, not the tag as an index";
    EXPECT_EQ(reopened.at(3)->removedCount, 4u);
    EXPECT_EQ(reopened.at(3)->removedSize, 400u);
    EXPECT_EQ(reopened.at(3)->markedCount, 1u) << "marks come from the lists";
    EXPECT_TRUE(reopened.at(1)->isPhotosLib);
    EXPECT_EQ(reopened.currSelectedRow(), 0) << "the selection itself reports the row";

    QVariantMap unknown = settings;
    unknown.insert(QStringLiteral("selection"), QVariant::fromValue(kBase + 60));
    EXPECT_EQ(reopened.setSavedSettings(unknown), std::nullopt);
    QVariantMap typeRow = settings;
    typeRow.insert(QStringLiteral("selection"), 1);
    EXPECT_EQ(reopened.setSavedSettings(typeRow), std::optional<int>(0));

    // Figures from a file that cannot be counts count as none.
    QVariantMap bad{{QStringLiteral("sources"),
                     QVariantList{QVariantMap{{QStringLiteral("tag"), QVariant::fromValue(kBase + 2)},
                                              {QStringLiteral("removedCount"), -3},
                                              {QStringLiteral("removedSize"), QStringLiteral("lots")}}}}};
    EXPECT_EQ(reopened.setSavedSettings(bad), std::nullopt);
    EXPECT_EQ(reopened.at(1)->removedCount, 0u);
    EXPECT_EQ(reopened.at(1)->removedSize, 0u);
}
