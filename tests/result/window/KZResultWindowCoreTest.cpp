#include "result/model/KZColumnKeys.h"
#include "result/window/KZOutlineRules.h"
#include "result/window/KZRowColours.h"
#include "result/window/KZSelectionSummary.h"
#include "result/window/KZTableHeaderCntrl.h"
#include "settings/KZTags.h"

#include <gtest/gtest.h>

namespace {

using R = KZRowColourRecord;

TEST(RowColours, RecordsFollowGroupChanges)
{
    struct Case {
        const char* name;
        QList<qint64> ids;
        QList<R> expected;
    };
    const Case cases[] = {
        {"three groups of two", {5, 5, 7, 7, 9, 9},
         {{1, false, false}, {1, false, true}, {2, true, false}, {2, false, true}, {1, true, false}, {1, false, false}}},
        {"first group with id 0 keeps code 2", {0, 0, 3}, {{2, false, false}, {2, false, false}, {1, false, false}}},
        {"group on the last row is unmarked", {4, 4, 8}, {{1, false, false}, {1, false, false}, {2, false, false}}},
        {"empty list", {}, {}},
        {"single row", {3}, {{1, false, false}}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(KZRowColours::recordsForGroupIDs(c.ids), c.expected) << c.name;
}

TEST(RowColours, RowsPastTheEndTakeTheLastRecordAndParityPicksTheGrey)
{
    const QList<R> records = KZRowColours::recordsForGroupIDs({1, 2});
    EXPECT_EQ(KZRowColours::recordForRow(records, 5), records.last());
    EXPECT_EQ(KZRowColours::recordForRow({}, 0), R{});
    EXPECT_DOUBLE_EQ(KZRowColours::greyForCode(1), 0.99);
    EXPECT_DOUBLE_EQ(KZRowColours::greyForCode(2), 0.95);
    EXPECT_DOUBLE_EQ(KZRowColours::greyForCode(-3), 0.99);
    EXPECT_DOUBLE_EQ(KZRowColours::greyForCode(-2), 0.95);
}

TEST(ResultColumns, SixColumnsWithLocationOnlyForTwoSources)
{
    using namespace KZColumnKey;
    QStringList ids;
    for (const KZResultColumn& column : KZTableHeaderCntrl::all())
        ids << column.identifier;
    EXPECT_EQ(ids, (QStringList{check_col, location_tag_col, name_col, date_modified_col, size_col, kind_col}));
    EXPECT_FALSE(KZTableHeaderCntrl::isShown(location_tag_col, 1));
    EXPECT_TRUE(KZTableHeaderCntrl::isShown(location_tag_col, 2));
    EXPECT_TRUE(KZTableHeaderCntrl::isShown(name_col, 1));
    EXPECT_FALSE(KZTableHeaderCntrl::columnWithIdentifier(check_col)->resizable);
    EXPECT_EQ(KZTableHeaderCntrl::columnWithIdentifier(size_col)->maxWidth, 200);
    EXPECT_EQ(KZTableHeaderCntrl::columnWithIdentifier(name_col)->minWidth, 254);
}

TEST(ResultColumns, HeaderClicksBuildDescriptorLists)
{
    using namespace KZColumnKey;
    const QString ci = KZTableHeaderCntrl::localizedCaseInsensitiveCompare;
    const KZSortDescriptors defaults = KZTableHeaderCntrl::defaultSortDescriptors();
    EXPECT_EQ(defaults, (KZSortDescriptors{{dupe_group_col, true}, {location_tag_col, true}}));

    struct Case {
        const char* name;
        KZSortDescriptors before;
        QString clicked;
        KZSortDescriptors after;
    };
    const Case cases[] = {
        {"check sorts marked first", defaults, check_col,
         {{check_col, false}, {dupe_group_col, true}, {location_tag_col, true}}},
        {"name ascending, case-insensitive", defaults, name_col,
         {{name_col, true, ci}, {dupe_group_col, true}, {location_tag_col, true}}},
        {"second click toggles", {{name_col, true, ci}, {dupe_group_col, true}}, name_col,
         {{name_col, false, ci}, {dupe_group_col, true}}},
        {"secondary key moves to the front", defaults, location_tag_col,
         {{location_tag_col, true}, {dupe_group_col, true}}},
        {"empty order", {}, size_col, {{size_col, true}}},
        {"unknown column keeps the order", defaults, QStringLiteral("nope"), defaults},
    };
    for (const Case& c : cases)
        EXPECT_EQ(KZTableHeaderCntrl::descriptorsAfterClick(c.before, c.clicked), c.after) << c.name;
}

TEST(OutlineRules, GhostRows)
{
    const quint64 location3 = KZTag::sourceRowBase + 3;
    const quint64 marked = KZTag::markedItemsRowBase + 1;
    struct Case {
        const char* name;
        quint64 tag;
        bool marked;
        qint16 label;
        quint32 inGroup;
        quint16 n;
        bool ghost;
    };
    const Case cases[] = {
        {"tab list never", 1, false, 3, 0, 0, false},
        {"marked list, unmarked", marked, false, 3, 1, 0, true},
        {"marked list, marked", marked, true, 3, 1, 0, false},
        {"other location", location3, false, 2, 1, 0, true},
        {"own location with members", location3, false, 3, 2, 0, false},
        {"own location, counter zero", location3, false, 3, 0, 0, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(KZOutlineRules::drawItemAsGhost(c.tag, c.marked, c.label, c.inGroup, c.n), c.ghost) << c.name;
}

TEST(SelectionSummary, PicksTheWordingByWhatIsSelected)
{
    EXPECT_EQ(KZSelectionSummary::text(0, 0, 10, 4), QString());
    const QString both = KZSelectionSummary::text(1, 2, 1200, 4);
    EXPECT_TRUE(both.contains(QStringLiteral("2"))) << both.toStdString();
    EXPECT_TRUE(both.contains(QStringLiteral("1,200")) || both.contains(QStringLiteral("1200"))) << both.toStdString();
    EXPECT_FALSE(both.contains(QLatin1Char('%'))) << both.toStdString();
    const QString items = KZSelectionSummary::text(0, 3, 10, 4);
    EXPECT_TRUE(items.contains(QStringLiteral("3")) && items.contains(QStringLiteral("10"))) << items.toStdString();
    const QString groups = KZSelectionSummary::text(2, 0, 10, 4);
    EXPECT_TRUE(groups.contains(QStringLiteral("2")) && groups.contains(QStringLiteral("4"))) << groups.toStdString();
    EXPECT_NE(items, groups);
}

} // namespace

#include "result/window/KZCellFormatting.h"

namespace {

TEST(CellFormatting, DateFormFollowsTheColumnWidth)
{
    using F = KZCellFormatting::DateForm;
    const std::pair<double, F> cases[] = {
        {300, {4, true}}, {220, {4, true}}, {219, {4, false}}, {170, {4, false}}, {169, {3, true}},
        {140, {3, true}}, {139, {3, false}}, {100, {3, false}}, {99, {1, false}}, {0, {1, false}},
    };
    for (const auto& [width, form] : cases)
        EXPECT_EQ(KZCellFormatting::dateFormForWidth(width), form) << width;
    // A cell whose text is wider than the rule expects steps down from there.
    EXPECT_EQ(KZCellFormatting::dateFormsFrom({4, false}), (QList<F>{{4, false}, {3, true}, {3, false}, {1, false}}));
    EXPECT_EQ(KZCellFormatting::dateFormsFrom({1, false}), (QList<F>{F{1, false}}));
}

TEST(CellFormatting, WhiteTextOnlyInTheFocusedListOfTheActiveWindowAndNeverForGhosts)
{
    using namespace KZCellFormatting;
    EXPECT_EQ(rowStyle(true, true, true), 1);
    EXPECT_EQ(rowStyle(true, false, true), 0);
    EXPECT_EQ(rowStyle(true, true, false), 0);
    EXPECT_EQ(rowStyle(false, true, true), 0);
    EXPECT_EQ(titleColour(1, false), QColor(Qt::white));
    EXPECT_NE(titleColour(0, false), QColor(Qt::white));
    EXPECT_EQ(titleColour(1, true), titleColour(0, true));
    EXPECT_EQ(subTitleColour(1, true), subTitleColour(0, true));
    EXPECT_NE(tintColour(Tint::Blue), tintColour(Tint::Graphite));
}

} // namespace

#include "result/window/KZResultWindowState.h"

namespace {

TEST(ResultWindowState, RemovalUndoNamesCountAndPlace)
{
    using KZResultWindowState::removalUndoName;
    EXPECT_TRUE(removalUndoName(0, true).isEmpty());
    EXPECT_NE(removalUndoName(1, true), removalUndoName(1, false));
    EXPECT_FALSE(removalUndoName(1, true).contains(QLatin1Char('%')));
    const QString many = removalUndoName(1500, true);
    EXPECT_TRUE(many.contains(QStringLiteral("1,500")) || many.contains(QStringLiteral("1500"))) << many.toStdString();
    EXPECT_NE(KZResultWindowState::groupingItemTitle(true), KZResultWindowState::groupingItemTitle(false));
    EXPECT_NE(KZResultWindowState::previewItemTitle(true), KZResultWindowState::previewItemTitle(false));
}

TEST(ResultWindowState, ToolbarItemsFollowKeyStateRemovalAndTab)
{
    using KZResultWindowState::toolbarItemEnabled;
    constexpr int grouping = KZResultWindowState::groupingToolbarTag;
    constexpr int preview = KZResultWindowState::previewToolbarTag;
    constexpr int find = 0;
    struct Case {
        int tag;
        quint64 tab;
        bool enabled;
    };
    // In the key window outside a removal.
    const Case cases[] = {
        {grouping, 0, true},
        {grouping, 7, true},
        {grouping, KZTag::missingTracks, false},
        {grouping, KZTag::emptyFolders, false},
        {preview, 0, true},
        {preview, KZTag::missingTracks, false},
        {preview, KZTag::emptyFolders, true},
        {find, KZTag::missingTracks, true},
        {find, KZTag::emptyFolders, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(toolbarItemEnabled(c.tag, true, false, c.tab), c.enabled) << c.tag << " on " << c.tab;
        // Nothing is enabled in a window that is not key or while removing.
        EXPECT_FALSE(toolbarItemEnabled(c.tag, false, false, c.tab)) << c.tag << " on " << c.tab;
        EXPECT_FALSE(toolbarItemEnabled(c.tag, true, true, c.tab)) << c.tag << " on " << c.tab;
    }
}

} // namespace
