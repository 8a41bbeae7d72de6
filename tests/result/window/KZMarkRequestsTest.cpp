#include "../model/ModelTestSupport.h"

#include "platform/StringTable.h"
#include "result/window/KZGroupRowLayout.h"
#include "result/window/KZLastMemberGate.h"
#include "result/window/KZMarkRequests.h"
#include "result/window/KZResultMenus.h"
#include "settings/KZTags.h"

#include <QUndoStack>

#include <functional>

#include <gtest/gtest.h>

using namespace modeltest;
using namespace Qt::StringLiterals;
namespace K = KZMarkingKey;
namespace R = KZMarkRequests;

namespace {

KZFoundItemGroupRef groupOf(const KZFoundItemArray& items)
{
    KZFoundItemGroupRef group = KZFoundItemGroup::itemGroup();
    group->setItems(items);
    return group;
}

QString tr(const QString& key)
{
    return platform::localizedString(key);
}

TEST(MarkRequests, EachControlBuildsItsExactKeys)
{
    struct FakeMenu : KZMarkMenu {
        void setOnMenuItemWithTag(qint64) override {}
    } menu;
    const KZListRow groupRow{KZFoundItemGroup::itemGroup(), nullptr};
    struct Case {
        QString name;
        QVariantMap request;
        QStringList keys;
        qint64 state;
        qint64 rule;
    };
    const Case cases[] = {
        {u"item box"_s, R::itemCheckBox(true, 4), {u"checkBtnState"_s, u"menuItemTag"_s, u"row"_s}, 1, 0},
        {u"contextual mark of an unmarked item"_s, R::contextualMark(false, 2), {u"checkBtnState"_s, u"menuItemTag"_s, u"row"_s}, 1, 0},
        {u"contextual mark of a marked item"_s, R::contextualMark(true, 2), {u"checkBtnState"_s, u"menuItemTag"_s, u"row"_s}, 0, 0},
        {u"group box cleared under swap"_s, R::groupCheckBox(false, 7, groupRow), {u"checkBtnState"_s, u"menuItemTag"_s, u"view"_s}, 0, 7},
        {u"menu rule"_s, R::groupMenuChoice(3, u"Oldest…"_s, 2, &menu, groupRow),
         {u"checkBtnState"_s, u"menu"_s, u"menuItemTag"_s, u"menuItemTagToRestore"_s, u"menuItemTitle"_s, u"oldMenuItemTagToRestore"_s, u"view"_s},
         1, 3},
    };
    for (const Case& c : cases) {
        QStringList keys = c.request.keys();
        keys.sort();
        EXPECT_EQ(keys, c.keys) << qPrintable(c.name);
        EXPECT_EQ(c.request.value(K::checkBtnState).toLongLong(), c.state) << qPrintable(c.name);
        EXPECT_EQ(c.request.value(K::menuItemTag).toLongLong(), c.rule) << qPrintable(c.name);
    }
    const QVariantMap choice = cases[4].request;
    EXPECT_EQ(choice.value(R::oldMenuItemTagToRestore).toLongLong(), 2);
    EXPECT_EQ(choice.value(K::menuItemTagToRestore).toLongLong(), 3);
    EXPECT_EQ(choice.value(K::menu).value<KZMarkMenu*>(), &menu);
}

TEST(MarkRequests, CompletionNamesTheMembersOfTheShownListAndDropsVanishedRows)
{
    const KZFoundItemArray items = makeItems({{.group = 1, .label = 0}, {.group = 1, .label = 1},
                                              {.group = 1, .label = 0}, {.group = 2, .label = 1}});
    const KZFoundItemGroupRef group = groupOf(items.mid(0, 3));
    const KZFoundItemGroupRef other = groupOf(items.mid(3));
    const KZListRow groupRow{group, nullptr};
    const quint64 location0 = KZTag::sourceRowBase;
    const quint64 location2 = KZTag::sourceRowBase + 2;

    struct Case {
        QString name;
        QVariantMap request;
        std::optional<KZListRow> target;
        quint64 list;
        std::optional<int> memberCount; // nullopt: dropped
    };
    const Case cases[] = {
        {u"group in the tab list names every member"_s, R::groupCheckBox(true, 1, groupRow), groupRow, 3, 3},
        {u"group in a location list names its members there"_s, R::groupCheckBox(true, 1, groupRow), groupRow, location0, 2},
        {u"group with none in the location sends an empty list"_s, R::groupCheckBox(true, 1, groupRow), groupRow, location2, 0},
        {u"group row gone"_s, R::groupCheckBox(true, 1, groupRow), std::nullopt, 3, std::nullopt},
        {u"group row reused by another group"_s, R::groupCheckBox(true, 1, groupRow), KZListRow{other, nullptr}, 3,
         std::nullopt},
        {u"item row"_s, R::itemCheckBox(true, 1), KZListRow{group, items[1]}, 3, 1},
        {u"item row gone"_s, R::itemCheckBox(true, 1), std::nullopt, 3, std::nullopt},
        {u"item request pointing at a group row"_s, R::itemCheckBox(true, 0), groupRow, 3, std::nullopt},
    };
    for (const Case& c : cases) {
        const auto done = R::complete(c.request, c.target, c.list, 3);
        ASSERT_EQ(done.has_value(), c.memberCount.has_value()) << qPrintable(c.name);
        if (!done)
            continue;
        ASSERT_TRUE(done->contains(K::itemsToManage)) << qPrintable(c.name);
        EXPECT_EQ(KZFoundItemsOfVariant(done->value(K::itemsToManage)).size(), *c.memberCount) << qPrintable(c.name);
        EXPECT_EQ(done->value(K::itemsToManageTag).toULongLong(), c.list) << qPrintable(c.name);
        EXPECT_EQ(done->value(K::ownerTag).toULongLong(), 3u) << qPrintable(c.name);
    }
    const auto done = R::complete(R::groupCheckBox(true, 1, groupRow), groupRow, 3, 3);
    EXPECT_EQ(done->value(K::itemSenderView).value<KZFoundItemGroupRef>(), group);
    // Restoring never takes its items from the row.
    QVariantMap restore = R::groupCheckBox(true, KZMarkRule::restore, groupRow);
    EXPECT_FALSE(R::complete(restore, groupRow, 3, 3)->contains(K::itemsToManage));
}

TEST(MarkRequests, UndoNamesFollowStateRuleAndTitle)
{
    const KZListRow row{KZFoundItemGroup::itemGroup(), nullptr};
    struct Case {
        QString name;
        QVariantMap request;
        QString expected;
    };
    const Case cases[] = {
        {u"ellipsis dropped"_s, R::groupMenuChoice(4, u"In Folders\u2026"_s, 0, nullptr, row),
         tr(u"undo_mark"_s).arg(u"In Folders"_s)},
        {u"three full stops kept"_s, R::groupMenuChoice(4, u"In Folders..."_s, 0, nullptr, row),
         tr(u"undo_mark"_s).arg(u"In Folders..."_s)},
        {u"swap"_s, R::groupMenuChoice(7, u"Swap"_s, 0, nullptr, row), tr(u"undo_swap"_s).arg(u"Swap"_s)},
        {u"cleared box under swap unmarks"_s, R::groupCheckBox(false, 7, row), tr(u"undo_unmark"_s)},
        {u"box without a title"_s, R::groupCheckBox(true, 2, row), u"Mark"_s},
    };
    for (const Case& c : cases)
        EXPECT_EQ(R::undoActionName(c.request), c.expected) << qPrintable(c.name);
}

// A stand-in model: the undo record snapshots the items' marks, a posted
// request applies the rule u"mark all"_s or replays a snapshot.
struct MarkingRig {
    QUndoStack undo;
    QList<QVariantMap> posted;
    int notices = 0;
    int beeps = 0;
    std::unique_ptr<KZOutlineMarking> marking;

    // Lists of one window share its stack.
    explicit MarkingRig(QUndoStack* windowStack = nullptr,
                        const std::function<void(KZOutlineMarking::Hooks&)>& adjust = {})
    {
        KZOutlineMarking::Hooks hooks;
        hooks.undoRecord = [](QVariantMap& request) -> std::optional<QVariantMap> {
            if (request.value(K::menuItemTag).toLongLong() == KZMarkRule::restore)
                return std::nullopt;
            QVariantMap record = request;
            KZMarkSnapshot snapshot;
            for (const KZFoundItemRef& item : KZFoundItemsOfVariant(request.value(K::itemsToManage)))
                snapshot.append({item, item->isMarked()});
            record.insert(K::itemsToManage, QVariant::fromValue(snapshot));
            record.insert(K::menuItemTag, KZMarkRule::restore);
            if (request.contains(K::menuItemTagToRestore)) {
                record.insert(K::menuItemTagToRestore, request.value(R::oldMenuItemTagToRestore));
                record.insert(R::oldMenuItemTagToRestore, request.value(K::menuItemTagToRestore));
            }
            return record;
        };
        hooks.redoRecord = [](const QVariantMap& record) {
            QVariantMap redo = record;
            KZMarkSnapshot now;
            for (const KZMarkState& entry : record.value(K::itemsToManage).value<KZMarkSnapshot>())
                now.append({entry.item, entry.item->isMarked()});
            redo.insert(K::itemsToManage, QVariant::fromValue(now));
            redo.insert(K::menuItemTagToRestore, record.value(R::oldMenuItemTagToRestore));
            redo.insert(R::oldMenuItemTagToRestore, record.value(K::menuItemTagToRestore));
            return redo;
        };
        hooks.post = [this](const QVariantMap& request) {
            posted.append(request);
            if (request.value(K::menuItemTag).toLongLong() == KZMarkRule::restore) {
                for (const KZMarkState& entry : request.value(K::itemsToManage).value<KZMarkSnapshot>())
                    entry.item->setIsMarked(entry.state);
                return;
            }
            for (const KZFoundItemRef& item : KZFoundItemsOfVariant(request.value(K::itemsToManage)))
                item->setIsMarked(request.value(K::checkBtnState).toLongLong() != 0);
        };
        hooks.showUndoNotice = [this] { ++notices; };
        hooks.beep = [this] { ++beeps; };
        if (adjust)
            adjust(hooks);
        marking = std::make_unique<KZOutlineMarking>(windowStack ? windowStack : &undo, hooks);
        marking->setCurrSelectedTag(3);
        marking->setOwnerTag(3);
    }
};

TEST(OutlineMarking, UndoAndRedoAlternateSnapshotsAndCheckedRule)
{
    const KZFoundItemArray items = makeItems({{.group = 1, .marked = true}, {.group = 1}, {.group = 1}});
    const KZListRow row{groupOf(items), nullptr};
    MarkingRig rig;
    ASSERT_TRUE(rig.marking->markItemsWithState(R::groupMenuChoice(2, u"Oldest\u2026"_s, 5, nullptr, row), row));
    EXPECT_EQ(marksOf(items), "111");
    EXPECT_EQ(rig.undo.undoText(), tr(u"undo_mark"_s).arg(u"Oldest"_s));

    rig.undo.undo();
    EXPECT_EQ(marksOf(items), "100") << "undo restores the marks the rule left alone too";
    EXPECT_EQ(rig.posted.last().value(K::menuItemTagToRestore).toLongLong(), 5);
    EXPECT_EQ(rig.undo.redoText(), tr(u"undo_mark"_s).arg(u"Oldest"_s));

    items[1]->setIsMarked(false); // the model is where undo left it
    rig.undo.redo();
    EXPECT_EQ(marksOf(items), "111");
    EXPECT_EQ(rig.posted.last().value(K::menuItemTagToRestore).toLongLong(), 2);
    EXPECT_EQ(rig.posted.last().value(K::menuItemTag).toLongLong(), KZMarkRule::restore);

    rig.undo.undo();
    EXPECT_EQ(marksOf(items), "100");
    EXPECT_EQ(rig.posted.last().value(K::menuItemTagToRestore).toLongLong(), 5);
    EXPECT_EQ(rig.posted.size(), 4);
    EXPECT_EQ(rig.notices, 0);
}

TEST(OutlineMarking, NoticeOnceForClearedGroupsNeverForItemsAndNoStepForRestore)
{
    const KZFoundItemArray items = makeItems({{.group = 1, .marked = true}, {.group = 1}});
    const KZListRow row{groupOf(items), nullptr};
    MarkingRig rig;
    rig.marking->markItemsWithState(R::itemCheckBox(false, 1), KZListRow{row.group, items[0]});
    EXPECT_EQ(rig.notices, 0) << "an item's box never shows it";
    rig.marking->markItemsWithState(R::groupCheckBox(false, 1, row), row);
    rig.marking->markItemsWithState(R::groupCheckBox(false, 1, row), row);
    EXPECT_EQ(rig.notices, 1);
    EXPECT_TRUE(rig.marking->markUndoInfoShowed());

    const int before = static_cast<int>(rig.posted.size());
    rig.marking->markItemsWithState(R::groupCheckBox(true, KZMarkRule::restore, row), row);
    EXPECT_EQ(rig.posted.size(), before + 1) << "restoring is still sent";
    rig.undo.undo();
    rig.undo.undo();
    rig.undo.undo();
    EXPECT_FALSE(rig.undo.canUndo()) << "three requests, three steps; the restore added none";
}

TEST(OutlineMarking, VanishedRowBeepsAndSendsNothing)
{
    MarkingRig rig;
    EXPECT_FALSE(rig.marking->markItemsWithState(R::itemCheckBox(true, 9), std::nullopt));
    EXPECT_EQ(rig.beeps, 1);
    EXPECT_TRUE(rig.posted.isEmpty());
    EXPECT_FALSE(rig.undo.canUndo());
}

// A step that is not a list's mark, such as a removal, counting its undos.
struct ForeignStep : QUndoCommand {
    ForeignStep(const QString& name, int* undone) : undone_(undone) { setText(name); }
    void undo() override { ++*undone_; }
    int* undone_;
};

// The all-duplicates tab and a type tab show the same items: group {A, B}
// with B marked; B cleared in the one, A ticked in the other, the other
// closes. Its end takes every marking step, so no Undo can put B back next
// to A; a removal's step stays.
TEST(OutlineMarking, ClosingAListEndsEveryMarkingStepAndKeepsRemovals)
{
    const KZFoundItemArray shared = makeItems({{.group = 1}, {.group = 1, .marked = true}});
    const KZListRow a{groupOf(shared), shared[0]};
    const KZListRow b{a.group, shared[1]};
    QUndoStack undo;
    MarkingRig allTab(&undo);
    MarkingRig typeTab(&undo);
    int removalsUndone = 0;

    undo.push(new ForeignStep(u"removal"_s, &removalsUndone));
    allTab.marking->markItemsWithState(R::itemCheckBox(false, 1), b);
    typeTab.marking->markItemsWithState(R::itemCheckBox(true, 0), a);
    ASSERT_EQ(marksOf(shared), "10");
    ASSERT_EQ(undo.count(), 3);

    typeTab.marking.reset();
    EXPECT_EQ(undo.undoText(), u"removal"_s) << "no list's marking step is left to undo";
    undo.undo();
    EXPECT_EQ(removalsUndone, 1);
    EXPECT_EQ(marksOf(shared), "10") << "B was never put back next to A";
    KZOutlineMarking::dropStaleSteps(&undo);
    EXPECT_FALSE(undo.canUndo());
    EXPECT_EQ(allTab.posted.size(), 1) << "nothing was replayed";
}

// A snapshot that would leave every copy of a group marked holds that mark
// back and asks first, as a press on the last unmarked member does.
TEST(OutlineMarking, UndoNeverFillsAGroupWithoutAsking)
{
    const KZFoundItemArray items = makeItems({{.group = 1, .marked = true}, {.group = 1}, {.group = 1}});
    QList<std::pair<KZFoundItemRef, std::function<void(bool)>>> questions;
    MarkingRig rig(nullptr, [&](KZOutlineMarking::Hooks& hooks) {
        // The model's rule for this one group.
        hooks.marksFillingAGroup = [&items](const KZMarkSnapshot& snapshot) {
            int markedAfter = 0;
            for (const KZFoundItemRef& item : items) {
                bool state = item->isMarked();
                for (const KZMarkState& entry : snapshot)
                    state = entry.item == item ? entry.state : state;
                markedAfter += state ? 1 : 0;
            }
            KZMarkSnapshot held;
            if (markedAfter == static_cast<int>(items.size()))
                for (const KZMarkState& entry : snapshot)
                    if (entry.state && !entry.item->isMarked())
                        held = {entry};
            return held;
        };
        hooks.askLastMember = [&questions](const KZFoundItemRef& item, std::function<void(bool)> verdict) {
            questions.append({item, std::move(verdict)});
        };
    });
    rig.marking->markItemsWithState(R::itemCheckBox(false, 0), KZListRow{groupOf(items), items[0]});
    ASSERT_EQ(marksOf(items), "000");
    // Marked elsewhere since (another list, whose steps are gone).
    items[1]->setIsMarked(true);
    items[2]->setIsMarked(true);

    rig.undo.undo();
    EXPECT_EQ(marksOf(items), "011") << "held back until answered";
    ASSERT_EQ(questions.size(), 1);
    EXPECT_EQ(questions[0].first, items[0]);
    questions.takeFirst().second(false);
    EXPECT_EQ(marksOf(items), "011");

    // An undo that leaves an unmarked member asks nothing.
    rig.marking->markItemsWithState(R::itemCheckBox(false, 1), KZListRow{groupOf(items), items[1]});
    ASSERT_EQ(marksOf(items), "001");
    rig.undo.undo();
    EXPECT_TRUE(questions.isEmpty());
    EXPECT_EQ(marksOf(items), "011");

    rig.undo.redo();
    items[0]->setIsMarked(true);
    rig.undo.undo();
    EXPECT_EQ(marksOf(items), "101");
    ASSERT_EQ(questions.size(), 1);
    EXPECT_EQ(questions[0].first, items[1]);
    questions.takeFirst().second(true);
    EXPECT_EQ(marksOf(items), "111") << "marked once the user said so";
}

TEST(LastMemberGate, RemembersAnswersAndGivesOneVerdictPerRequest)
{
    const KZFoundItemArray items = makeItems({{.group = 1}, {.group = 2}});
    KZLastMemberGate gate;
    EXPECT_EQ(gate.check(false), KZLastMemberGate::Outcome::Go);
    EXPECT_EQ(gate.check(true), KZLastMemberGate::Outcome::Ask);

    QList<std::pair<bool, KZFoundItemRef>> verdicts;
    auto record = [&](bool mark, const KZFoundItemRef& item) { verdicts.append({mark, item}); };
    ASSERT_TRUE(gate.ask(items[0], record));
    // A second last member while asking only ends the question.
    EXPECT_FALSE(gate.ask(items[1], record));
    ASSERT_EQ(verdicts.size(), 2);
    EXPECT_EQ(verdicts[0], std::make_pair(false, items[0]));
    EXPECT_EQ(verdicts[1], std::make_pair(false, items[1]));
    EXPECT_FALSE(gate.isPending());
    EXPECT_EQ(gate.check(true), KZLastMemberGate::Outcome::Ask) << "an unanswered question remembers nothing";

    ASSERT_TRUE(gate.ask(items[1], record));
    gate.answer(true, false);
    EXPECT_EQ(verdicts.last(), std::make_pair(true, items[1]));
    gate.answer(true, false);
    EXPECT_EQ(verdicts.size(), 3) << "one verdict per request";
    EXPECT_EQ(gate.check(true), KZLastMemberGate::Outcome::Ask);

    struct Case {
        bool mark;
        KZLastMemberGate::Outcome remembered;
    };
    for (const Case c : {Case{true, KZLastMemberGate::Outcome::Go}, Case{false, KZLastMemberGate::Outcome::Refuse}}) {
        KZLastMemberGate remembering;
        remembering.ask(items[0], record);
        remembering.answer(c.mark, true);
        EXPECT_EQ(remembering.check(true), c.remembered);
        EXPECT_EQ(remembering.check(false), KZLastMemberGate::Outcome::Go);
    }
}

TEST(LastMemberGate, VerdictNamesNoItemOnceItLeftTheList)
{
    KZLastMemberGate gate;
    KZFoundItemRef asked = makeItem({.group = 1});
    bool called = false;
    KZFoundItemRef seen = makeItem({.group = 2});
    gate.ask(asked, [&](bool, const KZFoundItemRef& item) {
        called = true;
        seen = item;
    });
    asked.reset();
    gate.answer(true, false);
    EXPECT_TRUE(called);
    EXPECT_EQ(seen, nullptr);
}

TEST(GroupOptions, MissingTitleCountsAndClampsAtZero)
{
    const KZFoundItemArray five = makeItems({{.group = 1, .label = 0}, {.group = 1, .label = 0}, {.group = 1, .label = 0},
                                             {.group = 1, .label = 1}, {.group = 1, .label = 1}});
    struct Case {
        QString name;
        KZFoundItemArray shown;
        int missing;
        QString title;
    };
    const Case cases[] = {
        {u"three of five"_s, five.mid(0, 3), 2, tr(u"show_count_missing_members_plur"_s).arg(u"2"_s)},
        {u"four of five"_s, five.mid(0, 4), 1, tr(u"show_count_missing_member_sing"_s).arg(u"1"_s)},
        {u"all shown"_s, five, 0, tr(u"show_present_members"_s)},
        {u"more rows than the count after removals"_s, five + five.mid(0, 2), 0, tr(u"show_present_members"_s)},
        {u"empty group"_s, {}, 0, tr(u"show_present_members"_s)},
    };
    for (const Case& c : cases) {
        KZFoundItemGroupRef group = groupOf(c.shown);
        EXPECT_EQ(KZGroupOptions::missingCount(*group), c.missing) << qPrintable(c.name);
        EXPECT_EQ(KZGroupOptions::showMissingTitle(*group), c.title) << qPrintable(c.name);
    }
}

TEST(ResultMenus, MarkTitleAndEnabling)
{
    const KZFoundItemArray items = makeItems({{.group = 1, .marked = true}, {.group = 1}, {.group = 1}});
    const KZFoundItemRef folder = makeItem({.isDirectory = true});
    const KZFoundItemRef package = makeItem({.isDirectory = true, .isPackage = true});
    EXPECT_EQ(KZResultMenus::markItemTitle({}), QString());
    EXPECT_EQ(KZResultMenus::markItemTitle({items[0]}), tr(u"unmark_item"_s));
    EXPECT_EQ(KZResultMenus::markItemTitle({items[1]}), tr(u"mark_item"_s));
    EXPECT_EQ(KZResultMenus::markItemTitle(items), tr(u"unmark_unmark_item"_s));
    EXPECT_EQ(KZResultMenus::markItemTitle(items.mid(1)), tr(u"mark_item"_s));

    using namespace KZResultMenus;
    struct Case {
        QString name;
        int tag;
        KZFoundItemArray items;
        bool about;
        bool enabled;
    };
    const Case cases[] = {
        {u"nothing selected"_s, revealTag, {}, false, false},
        {u"about open"_s, revealTag, items, true, false},
        {u"reveal a folder"_s, revealTag, {folder}, false, true},
        {u"open a folder first"_s, openTag, {folder, items[0]}, false, false},
        {u"open a file before a folder"_s, openTag, {items[0], folder}, false, true},
        {u"open a package"_s, openTag, {package}, false, true},
        {u"mark"_s, markTag, items, false, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(checkForSelectionWithTag(c.tag, c.items, c.about), c.enabled) << qPrintable(c.name);
}

TEST(GroupRowLayout, HitRectanglesFollowTheCountersWidth)
{
    const QRect row(0, 0, 600, 40);
    const KZGroupRowLayout narrow = KZGroupRowLayout::compute(row, 30, true, true);
    const KZGroupRowLayout wide = KZGroupRowLayout::compute(row, 60, true, true);
    EXPECT_EQ(wide.arrow.left() - narrow.arrow.left(), 30);
    EXPECT_EQ(wide.check, narrow.check);

    using P = KZGroupRowLayout::Part;
    EXPECT_EQ(narrow.hitTest(narrow.check.center()), P::Check);
    EXPECT_EQ(narrow.hitTest(narrow.counterText.center()), P::Counter);
    EXPECT_EQ(narrow.hitTest(narrow.arrow.center()), P::Arrow);
    EXPECT_EQ(narrow.hitTest(narrow.options.center()), P::Options);
    EXPECT_EQ(narrow.hitTest(narrow.name.center()), P::None);
    EXPECT_LT(narrow.name.right(), narrow.check.left());
    EXPECT_LT(narrow.arrow.right(), narrow.options.left());

    const KZGroupRowLayout marked = KZGroupRowLayout::compute(row, 30, false, true);
    EXPECT_EQ(marked.hitTest(marked.arrow.center()), P::None);
    EXPECT_EQ(marked.hitTest(marked.counterText.center()), P::None);
    EXPECT_EQ(marked.hitTest(marked.options.center()), P::Options);
    const KZGroupRowLayout tabList = KZGroupRowLayout::compute(row, 30, true, false);
    EXPECT_EQ(tabList.hitTest(narrow.options.center()), P::None);

    EXPECT_EQ(narrow.menuPoint(100), QPoint(narrow.check.right() + 1 - 50, narrow.arrow.bottom() + 5));
}

// In a list with columns the group's check box sits over its members'
// boxes and the rest of its controls in the name column, never under the
// size or kind headers.
TEST(GroupRowLayout, ControlsSitUnderTheirColumns)
{
    const QRect row(18, 0, 900, 40);
    const KZGroupRowLayout::Columns columns{.checkCentreX = 50, .nameLeft = 64, .nameRight = 420};
    const KZGroupRowLayout l = KZGroupRowLayout::compute(row, 30, true, true, columns);
    EXPECT_EQ(l.check.left(), 50 - 8) << "placed as the members' boxes are";
    EXPECT_GE(l.icon.left(), columns.nameLeft);
    EXPECT_LE(l.options.right(), columns.nameRight);
    EXPECT_LT(l.pill.right(), l.options.left());
    EXPECT_LT(l.name.right(), l.pill.left());
    EXPECT_GT(l.name.left(), l.icon.right());
    using P = KZGroupRowLayout::Part;
    for (const auto& [point, part] : {std::pair{l.check.center(), P::Check}, std::pair{l.counterText.center(), P::Counter},
                                      std::pair{l.arrow.center(), P::Arrow}, std::pair{l.options.center(), P::Options},
                                      std::pair{l.name.center(), P::None}})
        EXPECT_EQ(l.hitTest(point), part);
    EXPECT_EQ(l.menuPoint(100).x(), l.pill.center().x() - 50) << "the menu opens under the pill";

    // A name column too narrow for the controls lends them part of the row.
    const KZGroupRowLayout narrow =
        KZGroupRowLayout::compute(row, 30, true, true, KZGroupRowLayout::Columns{50, 64, 150});
    EXPECT_GE(narrow.pill.left(), narrow.icon.right() + 60);
    EXPECT_LE(narrow.options.right(), row.right());
}

} // namespace
