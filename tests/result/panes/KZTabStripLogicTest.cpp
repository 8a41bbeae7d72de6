#include "result/panes/KZTabClickTracker.h"
#include "result/panes/KZTabStripLogic.h"

#include "settings/KZDefaultsKeys.h"
#include "settings/KZTags.h"

#include <gtest/gtest.h>

namespace {

using namespace KZTabStripLogic;

constexpr KZTabTag kDeads = KZTag::missingTracks;
constexpr KZTabTag kEmpty = KZTag::emptyFolders;

QVariantList labels(std::initializer_list<quint64> tags)
{
    QVariantList out;
    for (const quint64 tag : tags)
        out.append(QVariantMap{{KZLabelKey::file_type_tag, QVariant::fromValue(tag)}});
    return out;
}

TEST(TabStripLogic, RowWidthsAndGaps)
{
    struct Case {
        const char* name;
        std::vector<quint64> tags;
        std::vector<double> gaps;
        int minTabWidth;
    };
    const Case cases[] = {
        {"no tabs", {}, {}, 0},
        {"one tab", {3}, {1}, 726},
        {"five tabs", {0, 1, 3, 5, kDeads}, {1, 4, 4, 4, 32}, 142},
        {"single type with dead tracks", {3, kDeads}, {1, 32}, 361},
        {"two fixed tabs: one wide gap", {0, 3, kDeads, kEmpty}, {1, 4, 32, 4}, 178},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Row row = rowLayout(c.tags);
        EXPECT_EQ(row.gapsBefore, c.gaps);
        EXPECT_EQ(row.minTabWidth, c.minTabWidth);
        EXPECT_EQ(row.trailing, 1.0);
    }
    EXPECT_EQ(minWidth(730, 0), 0.0) << "no division by zero";
    EXPECT_EQ(minWidth(10, 5), 0.0) << "never negative";
}

TEST(TabStripLogic, SelectionCyclingAndRemoval)
{
    const std::vector<quint64> tags{0, 3, 5, kDeads};
    EXPECT_EQ(resolveSelection({7}, 3), 7u) << "a single tab is always the one";
    EXPECT_EQ(resolveSelection(tags, 99), 99u) << "an unknown tag selects nothing";

    EXPECT_EQ(nextForCycle(tags, 3), 5u);
    EXPECT_EQ(nextForCycle(tags, kDeads), 0u) << "wraps to the first";
    EXPECT_EQ(nextForCycle(tags, std::nullopt), std::nullopt);
    EXPECT_EQ(nextForCycle({}, 3), std::nullopt);

    struct Case {
        const char* name;
        std::vector<quint64> tags;
        quint64 removed;
        std::optional<quint64> selected, expected;
    };
    const Case cases[] = {
        {"selected, not first", tags, 5, 5, 0},
        {"selected and first", {4, 6, kDeads}, 4, 4, 6},
        {"not selected", tags, 5, 3, std::nullopt},
        {"nothing selected", tags, 5, std::nullopt, std::nullopt},
        {"the last tab", {4}, 4, 4, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(selectionAfterRemoval(c.tags, c.removed, c.selected), c.expected);
    }
}

TEST(TabStripLogic, LabelsAddedAndRemoved)
{
    // A label new to the defaults gets a tab; one that was there before
    // (without duplicates) and the fixed tags do not.
    EXPECT_EQ(addedTabs(labels({1, 2, 3, 4, 9}), {0, 3}, labels({1, 2, 3, 4})), (std::vector<quint64>{9}));
    EXPECT_EQ(addedTabs(labels({1, 2, 9, 11}), {0}, labels({1, 2})), (std::vector<quint64>{9, 11}));
    EXPECT_TRUE(addedTabs(labels({0, 1, 2, kDeads}), {}, {}).empty());
    EXPECT_TRUE(addedTabs(labels({3, 4}), {3, 4}, {}).empty());

    struct Case {
        const char* name;
        std::vector<quint64> tabs;
        QVariantList now, before;
        std::optional<quint64> expected;
    };
    const Case cases[] = {
        {"label deleted", {0, 3, 5}, labels({1, 2, 3}), labels({1, 2, 3, 5}), 5},
        {"never the empty-folders tab", {0, 3, 5, kEmpty}, labels({1, 2, 3}), labels({1, 2, 3, 6}), std::nullopt},
        {"never the last tab", {5}, labels({}), labels({5}), std::nullopt},
        {"never a fixed tab", {0, 1, 2, kDeads}, labels({}), labels({0, 1, 2}), std::nullopt},
        {"a tab kept before is not offered again", {0, 5, 9}, labels({1}), labels({1, 9}), 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(removedTab(c.tabs, c.now, c.before), c.expected);
    }
}

TEST(TabClickTracker, PressDragRelease)
{
    using Hit = KZTabClickTracker::Hit;
    using O = KZTabClickTracker::Outcome;
    const Hit body{false, true}, cross{true, true}, outside{false, false};
    const KZTabClickTracker::Context unselected{false, false}, selected{true, false}, removing{false, true};

    struct Case {
        const char* name;
        KZTabClickTracker::Context context;
        Hit press;
        std::vector<Hit> drags;
        Hit release;
        bool tracked;
        bool pressedBeforeRelease;
        O outcome;
    };
    const Case cases[] = {
        {"click on the body", unselected, body, {}, body, true, true, O::Select},
        {"out and back in", unselected, body, {body, outside, body}, body, true, true, O::Select},
        {"released outside", unselected, body, {body, outside}, outside, true, false, O::None},
        {"first drag is skipped", unselected, body, {outside}, outside, true, true, O::None},
        {"selected tab's body", selected, body, {}, body, false, false, O::None},
        {"cross click", unselected, cross, {}, cross, true, false, O::Remove},
        {"cross of the selected tab", selected, cross, {}, cross, true, false, O::Remove},
        {"cross dragged off", unselected, cross, {cross, body}, body, true, false, O::None},
        {"body pressed, released on the cross", unselected, body, {body, cross}, cross, true, true, O::Remove},
        {"while removing", removing, body, {}, body, false, false, O::None},
        {"while removing, cross", removing, cross, {}, cross, false, false, O::None},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KZTabClickTracker tracker;
        EXPECT_EQ(tracker.press(c.press, c.context), c.tracked);
        for (const Hit& hit : c.drags)
            tracker.drag(hit);
        EXPECT_EQ(tracker.bodyPressed(), c.pressedBeforeRelease);
        EXPECT_EQ(tracker.release(c.release, c.context), c.outcome);
        EXPECT_FALSE(tracker.bodyPressed());
        EXPECT_FALSE(tracker.crossPressed());
    }

    KZTabClickTracker tracker;
    tracker.press(cross, unselected);
    EXPECT_TRUE(tracker.crossPressed());
    tracker.drag(outside);
    tracker.drag(outside);
    EXPECT_FALSE(tracker.crossPressed()) << "thin again off the cross";
    tracker.drag(cross);
    EXPECT_TRUE(tracker.crossPressed());
}

} // namespace
