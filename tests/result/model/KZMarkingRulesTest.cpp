#include "ModelTestSupport.h"

#include "result/model/KZResultCntrl.h"
#include "services/KZFilesUtilities.h"
#include "settings/KZTags.h"
#include "TestSupport.h"

#include <QUrl>

#include <gtest/gtest.h>

#include <random>
#include <set>

using namespace modeltest;
namespace K = KZMarkingKey;
namespace fs = std::filesystem;

namespace {

constexpr quint64 kEmpty = static_cast<quint64>(KZTag::emptyFolders);
constexpr quint64 kLocation = static_cast<quint64>(KZTag::sourceRowBase);
constexpr quint64 kMarkedRow = static_cast<quint64>(KZTag::markedItemsRowBase);

ItemShape at(qint64 group, double date, qint16 label, bool marked = false, quint64 type = 3)
{
    return {.group = group, .label = label, .tag = type, .date = date, .marked = marked};
}

enum class ItemsGiven { All, Absent, Empty, FirstOnly };

struct RuleCase {
    const char* name;
    std::vector<ItemShape> items;
    int rule;
    int check;
    quint64 owner;
    quint64 tag;
    std::string expected;
    ItemsGiven given = ItemsGiven::All;
    qint16 types = 2;
};

class MarkingRuleTable : public ::testing::TestWithParam<RuleCase> {};

TEST_P(MarkingRuleTable, GivesTheExpectedMarks)
{
    const RuleCase& c = GetParam();
    const KZFoundItemArray items = makeItems(c.items);
    QVariantMap request = markRequest(c.rule, c.check, c.owner, c.tag);
    const KZFoundItemArray given[] = {items, {}, {}, {items.first()}};
    if (c.given != ItemsGiven::Absent)
        request.insert(K::itemsToManage, QVariant::fromValue(given[static_cast<int>(c.given)]));
    makeModel(items, c.types)->markItemsWithDict(request);
    EXPECT_EQ(marksOf(items), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, MarkingRuleTable,
    ::testing::Values(
        RuleCase{"DefaultKeepsHigherLabelAmongEqualDates", {at(1, 100, 1), at(1, 100, 2)}, 1, 1, 0, 0, "10"},
        RuleCase{"DefaultKeepsTheNewest", {at(1, 300, 0), at(1, 100, 1), at(1, 200, 2)}, 1, 1, 0, 0, "011"},
        RuleCase{"OldestMarksNothingAmongEqualDates", {at(1, 100, 1, true), at(1, 100, 2, true)}, 2, 1, 0, 0, "00"},
        RuleCase{"NewestMarksNothingAmongEqualDates", {at(1, 100, 1), at(1, 100, 2)}, 3, 1, 0, 0, "00"},
        RuleCase{"OldestKeepsEveryCopyOfTheNewestDate",
                 {at(1, 3, 0), at(1, 1, 1), at(1, 3, 2), at(1, 2, 3)}, 2, 1, 0, 0, "0101"},
        RuleCase{"NewestKeepsTheOldest", {at(1, 3, 0), at(1, 1, 1), at(1, 3, 2), at(1, 2, 3)}, 3, 1, 0, 0, "1011"},
        RuleCase{"SwapLeavesAnUnmarkedGroupAlone", {at(1, 1, 0), at(1, 2, 1), at(1, 3, 2)}, 7, 1, 0, 0, "000"},
        RuleCase{"SwapInvertsAMixedGroup", {at(1, 1, 0, true), at(1, 2, 1), at(1, 3, 2)}, 7, 1, 0, 0, "011"},
        RuleCase{"SwapFromALocationRowStaysThere",
                 {at(1, 1, 0, true), at(1, 2, 1, true), at(1, 3, 1)}, 7, 1, 0, kLocation + 1, "101"},
        RuleCase{"SwapOnATabLeavesOtherTabs",
                 {at(1, 1, 0, true, 3), at(1, 2, 1, false, 4), at(1, 3, 2, false, 3)}, 7, 1, 3, 3, "001"},
        RuleCase{"SwapInASingleTypeResultTakesEveryMember",
                 {at(1, 1, 0, true, 3), at(1, 2, 1, false, 4)}, 7, 1, 3, 3, "01", ItemsGiven::All, 1},
        RuleCase{"UnmarkOnEmptyFoldersTabClearsEverything",
                 {at(1, 1, 0, true, 2), at(1, 2, 1, true, 2), at(2, 3, 2, true, 2)}, 1, 0, kEmpty, kLocation + 1,
                 "000"},
        RuleCase{"DefaultOnEmptyFoldersTabMarksEveryMember",
                 {at(1, 1, 0, false, 2), at(1, 2, 1, false, 2), at(2, 3, 2, false, 2)}, 1, 1, kEmpty, kEmpty, "111"},
        RuleCase{"EmptyFoldersTabWithoutItemsLeavesTheDuplicatesAlone", {at(1, 1, 0), at(1, 2, 1)}, 1, 1, kEmpty,
                 kEmpty, "00", ItemsGiven::Absent},
        RuleCase{"WithoutItemsToManageEveryItemIsWorkedOn",
                 {at(1, 1, 2), at(1, 1, 0), at(2, 1, 1), at(2, 1, 3)}, 5, 1, 0, 0, "0110", ItemsGiven::Absent},
        RuleCase{"RuleNineWithCheckBoxOnDoesNothing", {at(1, 1, 0, true), at(1, 2, 1)}, 9, 1, 0, 0, "10"},
        RuleCase{"RuleNineWithCheckBoxOffUnmarks", {at(1, 1, 0, true), at(1, 2, 1)}, 9, 0, 0, 0, "00"},
        RuleCase{"NegativeRuleWithCheckBoxOnDoesNothing", {at(1, 1, 0, true), at(1, 2, 1)}, -1, 1, 0, 0, "10"},
        RuleCase{"SingleCheckBoxOnAnEmptyListDoesNothing", {at(1, 1, 0, true), at(1, 2, 1)}, 0, 1, 0, 0, "10",
                 ItemsGiven::Empty},
        RuleCase{"SingleCheckBoxTogglesItsItem", {at(1, 1, 0), at(1, 2, 1)}, 0, 0, 0, 0, "10", ItemsGiven::FirstOnly},
        RuleCase{"SingleCheckBoxMayMarkAWholeGroup", {at(1, 1, 0), at(1, 2, 1, true)}, 0, 1, 0, 0, "11",
                 ItemsGiven::FirstOnly},
        RuleCase{"InLocationKeepsACopyOfAGroupSplitOverTwoTabs",
                 {at(1, 1, 0, true, 3), at(1, 2, 1, false, 4), at(1, 3, 1, false, 4)}, 6, 1, 4, kLocation + 1,
                 "110"},
        RuleCase{"InLocationKeepsOneCopyThere", {at(1, 1, 1), at(1, 2, 1), at(1, 3, 1)}, 6, 1, 0, kLocation + 1,
                 "110"},
        RuleCase{"InLocationLeavesOtherLocationsUnmarked", {at(1, 1, 0, true), at(1, 2, 1), at(1, 3, 2)}, 6, 1, 0,
                 kLocation + 2, "001"},
        RuleCase{"UnmarkFromTheMarkedRowUnmarksTheTab",
                 {at(1, 1, 0, true, 3), at(2, 2, 1, true, 3), at(3, 3, 2, true, 4)}, 1, 0, 3, kMarkedRow + 3, "001"},
        RuleCase{"UnmarkFromTheAllTabsMarkedRowUnmarksEverything",
                 {at(1, 1, 0, true, 3), at(2, 2, 1, true, 4)}, 2, 0, 0, kMarkedRow, "00"},
        RuleCase{"UnmarkFromLocationZeroStaysInLocationZero",
                 {at(1, 1, 0, true), at(1, 2, 1, true)}, 1, 0, 0, kLocation + 0, "01", ItemsGiven::Absent},
        RuleCase{"UnmarkFromTheTabRowUnmarksThatTab", {at(1, 1, 0, true, 3), at(1, 2, 1, true, 4)}, 3, 0, 3, 3,
                 "01"},
        RuleCase{"RandomKeepsTheHighestLabel", {at(1, 1, 2), at(1, 1, 0), at(1, 1, 1)}, 5, 1, 0, 0, "011"}),
    [](const ::testing::TestParamInfo<RuleCase>& row) { return std::string(row.param.name); });

TEST(MarkingRules, ALoneMemberStaysUnmarkedUnderRulesOneToSix)
{
    for (int rule = 1; rule <= 6; ++rule) {
        const KZFoundItemArray items = makeItems({at(1, 1, 0, true)});
        QVariantMap request = markRequest(rule, 1, 0, kLocation + 0);
        request.insert(K::urls, QVariant::fromValue(QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/"))}));
        makeModel(items)->markItemsWithDict(request);
        EXPECT_EQ(marksOf(items), "0") << "rule " << rule;
    }
}

TEST(MarkingRules, RandomIsRepeatable)
{
    const KZFoundItemArray items = makeItems({at(1, 5, 1), at(1, 4, 3), at(1, 3, 1), at(1, 2, 0), at(2, 1, 2)});
    auto model = makeModel(items);
    model->markItemsWithDict(markRequest(5, 1, 0, 0));
    EXPECT_EQ(marksOf(items), "10110");
    for (const KZFoundItemRef& item : items)
        item->setIsMarked(!item->isMarked());
    model->markItemsWithDict(markRequest(5, 1, 0, 0));
    EXPECT_EQ(marksOf(items), "10110");
}

// ---- By chosen folder: real paths ------------------------------------------------------------

enum class FolderForm { Urls, Paths, Texts, None };

struct FolderCase {
    const char* name;
    std::vector<std::pair<std::string, qint16>> members; // relative path, location label
    std::string initial;
    std::string expected;
    FolderForm form = FolderForm::Urls;
};

class ByChosenFolder : public ::testing::TestWithParam<FolderCase> {};

TEST_P(ByChosenFolder, MarksTheCopiesInsideTheChosenFolder)
{
    const FolderCase& c = GetParam();
    kztest::TempDir dir;
    std::vector<ItemShape> shapes;
    for (std::size_t i = 0; i < c.members.size(); ++i) {
        shapes.push_back(at(1, 1, c.members[i].second, c.initial[i] == '1'));
        shapes.back().path = dir.write(c.members[i].first, "same");
    }
    const KZFoundItemArray items = makeItems(shapes);
    QVariantMap request = markRequest(4, 1, 0, 0);
    const fs::path folder = dir / "A";
    const QVariant forms[] = {QVariant::fromValue(QList<QUrl>{KZFilesUtilities::fileURLWithPath(folder)}),
                              QVariant::fromValue(std::vector<fs::path>{folder}),
                              QVariantList{QFile::decodeName(folder.c_str())}, QVariant()};
    if (c.form != FolderForm::None)
        request.insert(K::urls, forms[static_cast<int>(c.form)]);
    makeModel(items)->markItemsWithDict(request);
    EXPECT_EQ(marksOf(items), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ByChosenFolder,
    ::testing::Values(
        FolderCase{"FolderHoldingEveryMemberKeepsTheLastByLabel", {{"A/x1", 2}, {"A/sub/x2", 0}, {"A/x3", 1}}, "000",
                   "011"},
        FolderCase{"ComparisonIsCaseSensitive", {{"a/x", 0}, {"b/y", 1}}, "00", "00"},
        FolderCase{"ASiblingWithALongerNameIsNotInside", {{"Ab/y", 0}, {"A/x", 1}, {"Ab/z", 2}}, "000", "010"},
        FolderCase{"AMarkOutsideTheFolderIsCleared", {{"B/y", 0}, {"A/x", 1}, {"A/z", 2}}, "100", "011"},
        FolderCase{"FolderGivenAsPaths", {{"A/x", 0}, {"B/x", 1}, {"A/y", 2}}, "000", "101", FolderForm::Paths},
        FolderCase{"FolderGivenAsTexts", {{"A/x", 0}, {"B/x", 1}, {"A/y", 2}}, "000", "101", FolderForm::Texts},
        FolderCase{"WithoutAFolderNothingChanges", {{"A/x", 0}, {"A/y", 1}}, "10", "10", FolderForm::None}),
    [](const ::testing::TestParamInfo<FolderCase>& row) { return std::string(row.param.name); });

// ---- Property: rules 1 to 6 keep a copy and their bookkeeping adds up ----------------------

// Marked (count, size) per (tab, row): row 0 is the tab itself, 0 as the tab
// is every type.
using Totals = std::map<std::pair<quint64, quint64>, std::pair<qint64, qint64>>;

Totals recount(const KZFoundItemArray& items, const std::set<quint64>& tabs)
{
    Totals totals;
    for (const KZFoundItemRef& item : items) {
        if (!item->isMarked())
            continue;
        const quint64 location = KZResultCntrl::itemLocationTagWithLocationTag(item->locationLabelTag());
        for (quint64 tab : tabs) {
            if (tab != 0 && item->fileTypeTag() != tab)
                continue;
            for (quint64 row : {quint64(0), location}) {
                ++totals[{tab, row}].first;
                totals[{tab, row}].second += static_cast<qint64>(item->size());
            }
        }
    }
    return totals;
}

Totals withoutZeros(Totals totals)
{
    std::erase_if(totals, [](const auto& entry) { return entry.second == std::pair<qint64, qint64>(0, 0); });
    return totals;
}

class MarkingProperty : public ::testing::TestWithParam<unsigned> {};

TEST_P(MarkingProperty, RulesOneToSixKeepACopyAndCountTheirChanges)
{
    std::mt19937 random(GetParam());
    const qint16 types = static_cast<qint16>(1 + random() % 3);
    const qint16 locations = static_cast<qint16>(2 + random() % 3);
    kztest::TempDir dir;
    std::vector<ItemShape> shapes;
    const int groups = 6 + static_cast<int>(random() % 10);
    for (int group = 1; group <= groups; ++group) {
        const int members = 2 + static_cast<int>(random() % 4);
        for (int i = 0; i < members; ++i) {
            const double date = static_cast<double>(random() % 4); // ties are common
            ItemShape shape = at(group, date, static_cast<qint16>(random() % locations));
            shape.tag = 3 + random() % static_cast<unsigned>(types);
            shape.size = 1 + random() % 1000;
            shape.path = dir.write("loc" + std::to_string(shape.label) + "/d" + std::to_string(random() % 3) + "/g"
                                      + std::to_string(group) + "_" + std::to_string(i),
                                  "x");
            shapes.push_back(shape);
        }
    }
    const KZFoundItemArray items = makeItems(shapes);
    auto model = makeModel(items, types, static_cast<qint16>(locations - 1));
    model->markItemsByDefaultWithTag(0, 0, nullptr, items);

    // The tabs of the result, as the result controller keys its bookkeeping.
    std::set<quint64> tabs;
    for (const ItemShape& shape : shapes)
        tabs.insert(shape.tag);
    if (types > 1)
        tabs.insert(0);

    for (int step = 0; step < 60; ++step) {
        const int rule = 1 + static_cast<int>(random() % 6);
        const quint64 owner = *std::next(tabs.begin(), static_cast<long>(random() % tabs.size()));
        const quint64 tag = random() % 2
            ? owner
            : KZResultCntrl::itemLocationTagWithLocationTag(static_cast<qint16>(random() % locations));
        QVariantMap request = markRequest(rule, 1, owner, tag);
        if (random() % 3) {
            quint64 size = 0;
            request.insert(K::itemsToManage, QVariant::fromValue(model->itemsByTag(tag, owner, &size)));
        }
        const fs::path chosen = dir / ("loc" + std::to_string(random() % locations));
        request.insert(K::urls, QVariant::fromValue(std::vector<fs::path>{chosen}));
        const KZViewsToUpdateRef info = viewsFor({tabs.begin(), tabs.end()});
        request.insert(K::infoDict, QVariant::fromValue(info));

        Totals expected = recount(items, tabs);
        model->markItemsWithDict(request);
        const std::string context = "seed " + std::to_string(GetParam()) + " step " + std::to_string(step) + " rule "
            + std::to_string(rule) + " owner " + std::to_string(owner) + " tag " + std::to_string(tag);
        for (const KZFoundItemArray& group : model->groupsArrayWithArray(items)) {
            ASSERT_TRUE(std::any_of(group.begin(), group.end(), [](const auto& item) { return !item->isMarked(); }))
                << context << " group " << group.first()->groupID();
        }
        for (const auto& [tab, entry] : *info) {
            expected[{tab, 0}].first += entry->managedCount();
            expected[{tab, 0}].second += entry->size();
            for (const auto& [row, location] : entry->locationsInfo()) {
                expected[{tab, row}].first += location->managedCount();
                expected[{tab, row}].second += location->size();
            }
        }
        ASSERT_EQ(withoutZeros(expected), withoutZeros(recount(items, tabs))) << context;
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, MarkingProperty, ::testing::Range(1u, 41u));

} // namespace
