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


ItemShape at(qint64 group, double date, qint16 label, bool marked = false, quint64 type = 3)
{
    return {.group = group, .label = label, .tag = type, .date = date, .marked = marked};
}

enum class ItemsGiven { All, Absent, Empty, FirstOnly };

// The state of the check box that sent the request.
constexpr int kOn = 1;
constexpr int kOff = 0;

struct RuleCase {
    const char* name;
    std::vector<ItemShape> items; // at(group, date, location label, marked, file type)
    int rule;
    int check;                    // kOn or kOff
    quint64 owner;                // the tab that asks
    quint64 tag;                  // the list it asks for: a tab, location row or marked row
    std::string expected;         // the marks afterwards, one character per item
    ItemsGiven given = ItemsGiven::All;
    qint16 types = 2;             // file types found
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
        RuleCase{.name = "DefaultKeepsHigherLabelAmongEqualDates",
                 .items = {at(1, 100, 1), at(1, 100, 2)},
                 .rule = KZMarkRule::byDefault, .check = kOn, .owner = 0, .tag = 0, .expected = "10"},
        RuleCase{.name = "DefaultKeepsTheNewest",
                 .items = {at(1, 300, 0), at(1, 100, 1), at(1, 200, 2)},
                 .rule = KZMarkRule::byDefault, .check = kOn, .owner = 0, .tag = 0, .expected = "011"},
        RuleCase{.name = "OldestMarksNothingAmongEqualDates",
                 .items = {at(1, 100, 1, true), at(1, 100, 2, true)},
                 .rule = KZMarkRule::oldest, .check = kOn, .owner = 0, .tag = 0, .expected = "00"},
        RuleCase{.name = "NewestMarksNothingAmongEqualDates",
                 .items = {at(1, 100, 1), at(1, 100, 2)},
                 .rule = KZMarkRule::newest, .check = kOn, .owner = 0, .tag = 0, .expected = "00"},
        RuleCase{.name = "OldestKeepsEveryCopyOfTheNewestDate",
                 .items = {at(1, 3, 0), at(1, 1, 1), at(1, 3, 2), at(1, 2, 3)},
                 .rule = KZMarkRule::oldest, .check = kOn, .owner = 0, .tag = 0, .expected = "0101"},
        RuleCase{.name = "NewestKeepsTheOldest",
                 .items = {at(1, 3, 0), at(1, 1, 1), at(1, 3, 2), at(1, 2, 3)},
                 .rule = KZMarkRule::newest, .check = kOn, .owner = 0, .tag = 0, .expected = "1011"},
        RuleCase{.name = "SwapLeavesAnUnmarkedGroupAlone",
                 .items = {at(1, 1, 0), at(1, 2, 1), at(1, 3, 2)},
                 .rule = KZMarkRule::swap, .check = kOn, .owner = 0, .tag = 0, .expected = "000"},
        RuleCase{.name = "SwapInvertsAMixedGroup",
                 .items = {at(1, 1, 0, true), at(1, 2, 1), at(1, 3, 2)},
                 .rule = KZMarkRule::swap, .check = kOn, .owner = 0, .tag = 0, .expected = "011"},
        RuleCase{.name = "SwapFromALocationRowStaysThere",
                 .items = {at(1, 1, 0, true), at(1, 2, 1, true), at(1, 3, 1)},
                 .rule = KZMarkRule::swap, .check = kOn, .owner = 0, .tag = KZTag::sourceRowBase + 1,
                 .expected = "101"},
        RuleCase{.name = "SwapFromALocationRowNeverMarksTheWholeGroup",
                 .items = {at(1, 1, 0, true), at(1, 2, 1)},
                 .rule = KZMarkRule::swap, .check = kOn, .owner = 0, .tag = KZTag::sourceRowBase + 1,
                 .expected = "10"},
        RuleCase{.name = "SwapOnATabLeavesOtherTabs",
                 .items = {at(1, 1, 0, true, 3), at(1, 2, 1, false, 4), at(1, 3, 2, false, 3)},
                 .rule = KZMarkRule::swap, .check = kOn, .owner = 3, .tag = 3, .expected = "001"},
        RuleCase{.name = "SwapInASingleTypeResultTakesEveryMember",
                 .items = {at(1, 1, 0, true, 3), at(1, 2, 1, false, 4)},
                 .rule = KZMarkRule::swap, .check = kOn, .owner = 3, .tag = 3, .expected = "01", .types = 1},
        RuleCase{.name = "UnmarkOnEmptyFoldersTabClearsEverything",
                 .items = {at(1, 1, 0, true, 2), at(1, 2, 1, true, 2), at(2, 3, 2, true, 2)},
                 .rule = KZMarkRule::byDefault, .check = kOff, .owner = KZTag::emptyFolders,
                 .tag = KZTag::sourceRowBase + 1, .expected = "000"},
        RuleCase{.name = "DefaultOnEmptyFoldersTabMarksEveryMember",
                 .items = {at(1, 1, 0, false, 2), at(1, 2, 1, false, 2), at(2, 3, 2, false, 2)},
                 .rule = KZMarkRule::byDefault, .check = kOn, .owner = KZTag::emptyFolders,
                 .tag = KZTag::emptyFolders, .expected = "111"},
        RuleCase{.name = "EmptyFoldersTabWithoutItemsLeavesTheDuplicatesAlone",
                 .items = {at(1, 1, 0), at(1, 2, 1)},
                 .rule = KZMarkRule::byDefault, .check = kOn, .owner = KZTag::emptyFolders,
                 .tag = KZTag::emptyFolders, .expected = "00", .given = ItemsGiven::Absent},
        RuleCase{.name = "WithoutItemsToManageEveryItemIsWorkedOn",
                 .items = {at(1, 1, 2), at(1, 1, 0), at(2, 1, 1), at(2, 1, 3)},
                 .rule = KZMarkRule::random, .check = kOn, .owner = 0, .tag = 0, .expected = "0110",
                 .given = ItemsGiven::Absent},
        RuleCase{.name = "RuleNineWithCheckBoxOnDoesNothing",
                 .items = {at(1, 1, 0, true), at(1, 2, 1)},
                 .rule = 9, .check = kOn, .owner = 0, .tag = 0, .expected = "10"},
        RuleCase{.name = "RuleNineWithCheckBoxOffUnmarks",
                 .items = {at(1, 1, 0, true), at(1, 2, 1)},
                 .rule = 9, .check = kOff, .owner = 0, .tag = 0, .expected = "00"},
        RuleCase{.name = "NegativeRuleWithCheckBoxOnDoesNothing",
                 .items = {at(1, 1, 0, true), at(1, 2, 1)},
                 .rule = -1, .check = kOn, .owner = 0, .tag = 0, .expected = "10"},
        RuleCase{.name = "SingleCheckBoxOnAnEmptyListDoesNothing",
                 .items = {at(1, 1, 0, true), at(1, 2, 1)},
                 .rule = KZMarkRule::singleCheckBox, .check = kOn, .owner = 0, .tag = 0, .expected = "10",
                 .given = ItemsGiven::Empty},
        RuleCase{.name = "SingleCheckBoxTogglesItsItem",
                 .items = {at(1, 1, 0), at(1, 2, 1)},
                 .rule = KZMarkRule::singleCheckBox, .check = kOff, .owner = 0, .tag = 0, .expected = "10",
                 .given = ItemsGiven::FirstOnly},
        RuleCase{.name = "SingleCheckBoxMayMarkAWholeGroup",
                 .items = {at(1, 1, 0), at(1, 2, 1, true)},
                 .rule = KZMarkRule::singleCheckBox, .check = kOn, .owner = 0, .tag = 0, .expected = "11",
                 .given = ItemsGiven::FirstOnly},
        RuleCase{.name = "InLocationKeepsACopyOfAGroupSplitOverTwoTabs",
                 .items = {at(1, 1, 0, true, 3), at(1, 2, 1, false, 4), at(1, 3, 1, false, 4)},
                 .rule = KZMarkRule::inLocation, .check = kOn, .owner = 4, .tag = KZTag::sourceRowBase + 1,
                 .expected = "110"},
        RuleCase{.name = "InLocationKeepsOneCopyThere",
                 .items = {at(1, 1, 1), at(1, 2, 1), at(1, 3, 1)},
                 .rule = KZMarkRule::inLocation, .check = kOn, .owner = 0, .tag = KZTag::sourceRowBase + 1,
                 .expected = "110"},
        RuleCase{.name = "InLocationLeavesOtherLocationsUnmarked",
                 .items = {at(1, 1, 0, true), at(1, 2, 1), at(1, 3, 2)},
                 .rule = KZMarkRule::inLocation, .check = kOn, .owner = 0, .tag = KZTag::sourceRowBase + 2,
                 .expected = "001"},
        RuleCase{.name = "UnmarkFromTheMarkedRowUnmarksTheTab",
                 .items = {at(1, 1, 0, true, 3), at(2, 2, 1, true, 3), at(3, 3, 2, true, 4)},
                 .rule = KZMarkRule::byDefault, .check = kOff, .owner = 3, .tag = KZTag::markedItemsRowBase + 3,
                 .expected = "001"},
        RuleCase{.name = "UnmarkFromTheAllTabsMarkedRowUnmarksEverything",
                 .items = {at(1, 1, 0, true, 3), at(2, 2, 1, true, 4)},
                 .rule = KZMarkRule::oldest, .check = kOff, .owner = 0, .tag = KZTag::markedItemsRowBase,
                 .expected = "00"},
        RuleCase{.name = "UnmarkFromLocationZeroStaysInLocationZero",
                 .items = {at(1, 1, 0, true), at(1, 2, 1, true)},
                 .rule = KZMarkRule::byDefault, .check = kOff, .owner = 0, .tag = KZTag::sourceRowBase + 0,
                 .expected = "01", .given = ItemsGiven::Absent},
        RuleCase{.name = "UnmarkFromTheTabRowUnmarksThatTab",
                 .items = {at(1, 1, 0, true, 3), at(1, 2, 1, true, 4)},
                 .rule = KZMarkRule::newest, .check = kOff, .owner = 3, .tag = 3, .expected = "01"},
        RuleCase{.name = "RandomKeepsTheHighestLabel",
                 .items = {at(1, 1, 2), at(1, 1, 0), at(1, 1, 1)},
                 .rule = KZMarkRule::random, .check = kOn, .owner = 0, .tag = 0, .expected = "011"}),
    [](const ::testing::TestParamInfo<RuleCase>& param) { return std::string(param.param.name); });

TEST(MarkingRules, ALoneMemberStaysUnmarkedUnderRulesOneToSix)
{
    for (int rule = 1; rule <= 6; ++rule) {
        const KZFoundItemArray items = makeItems({at(1, 1, 0, true)});
        QVariantMap request = markRequest(rule, 1, 0, KZTag::sourceRowBase + 0);
        request.insert(K::urls, QVariant::fromValue(QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/"))}));
        makeModel(items)->markItemsWithDict(request);
        EXPECT_EQ(marksOf(items), "0") << "rule " << rule;
    }
}

// The result controller reads an absent rule as 0; the model must agree.
TEST(MarkingRules, ARequestWithoutARuleIsTheSingleCheckBox)
{
    const KZFoundItemArray items = makeItems({at(1, 1, 0), at(1, 2, 1)});
    QVariantMap request = markRequest(0, 1, 0, 0, QVariant::fromValue(items.mid(1, 1)));
    request.remove(K::menuItemTag);
    makeModel(items)->markItemsWithDict(request);
    EXPECT_EQ(marksOf(items), "01");
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
    [](const ::testing::TestParamInfo<FolderCase>& param) { return std::string(param.param.name); });

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
