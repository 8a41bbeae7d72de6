#include "../../model/ModelTestSupport.h"
#include "TestSupport.h"

#include "platform/StringTable.h"
#include "result/window/KZResultMenus.h"
#include "result/window/ui/KZFoundItemsModel.h"
#include "result/window/ui/KZFoundItemsOutlineView.h"
#include "result/window/ui/KZListMarkingCntrl.h"
#include "result/window/ui/KZMarkMenuWidget.h"
#include "result/window/ui/KZMarkPopovers.h"
#include "settings/KZTags.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QUndoStack>

#include <gtest/gtest.h>

namespace {

namespace K = KZMarkingKey;
using namespace Qt::StringLiterals;

QString tr(const QString& key)
{
    return platform::localizedString(key);
}

struct FakeWorkspace : KZWorkspace {
    QList<QStringList> revealed;
    QStringList opened;
    void revealItems(const QList<std::filesystem::path>& paths) override
    {
        QStringList names;
        for (const auto& path : paths)
            names << QString::fromStdString(path.filename().string());
        revealed << names;
    }
    void openItem(const std::filesystem::path& path) override
    {
        opened << QString::fromStdString(path.filename().string());
    }
};

// Two groups of three members (labels 0, 1, 0), with the first group's
// first member marked; a model that marks what it is asked and a list that
// knows a group's last unmarked member.
class ListMarking : public ::testing::Test {
protected:
    void SetUp() override
    {
        items = modeltest::makeItems({{.group = 1, .label = 0, .marked = true}, {.group = 1, .label = 1}, {.group = 1, .label = 0},
                                      {.group = 2, .label = 0}, {.group = 2, .label = 1}, {.group = 2, .label = 0}});
        for (int g = 0; g < 2; ++g) {
            auto group = KZFoundItemGroup::itemGroup();
            group->setGroupID(g + 1);
            group->setName(u"group %1"_s.arg(g + 1));
            group->setItems(items.mid(g * 3, 3));
            group->setMarkedMenuItem(g == 0 ? 3 : 1);
            groups.append(group);
        }
        refreshCounts();
        view = std::make_unique<KZFoundItemsOutlineView>();
        model = new KZFoundItemsModel(view.get());
        view->setFoundModel(model);
        setList(groups);
        view->resize(900, 400);
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get(), kztest::kPatienceMs));

        KZListMarkingCntrl::Settings settings;
        settings.ownerTag = 3;
        settings.undoStack = &undo;
        settings.hooks.undoRecord = [](QVariantMap& request) -> std::optional<QVariantMap> {
            if (request.value(K::menuItemTag).toLongLong() == KZMarkRule::restore)
                return std::nullopt;
            return request;
        };
        settings.hooks.redoRecord = [](const QVariantMap& record) { return record; };
        settings.hooks.post = [this](const QVariantMap& request) {
            posted.append(request);
            const bool single = request.value(K::menuItemTag).toLongLong() == KZMarkRule::singleCheckBox;
            for (const KZFoundItemRef& item : KZFoundItemsOfVariant(request.value(K::itemsToManage)))
                item->setIsMarked(single ? !item->isMarked() : request.value(K::checkBtnState).toLongLong() != 0);
            refreshCounts();
        };
        settings.hooks.showUndoNotice = [this] { ++notices; };
        settings.hooks.beep = [this] { ++beeps; };
        settings.currSelectedTag = [this] { return listTag; };
        settings.isLastItemToMark = [this](const KZFoundItemRef& item) {
            for (const auto& group : groups)
                if (group->items().contains(item)) {
                    int unmarked = 0;
                    for (const auto& member : group->items())
                        unmarked += member->isMarked() ? 0 : 1;
                    return unmarked <= 1;
                }
            return false;
        };
        settings.postShowMembers = [this](const QVariantMap& info) { shown.append(info); };
        settings.aboutIsOpen = [this] { return aboutOpen; };
        settings.isSelectedTab = [this] { return selectedTab; };
        settings.workspace = &workspace;
        cntrl = new KZListMarkingCntrl(view.get(), settings);
    }

    void TearDown() override
    {
        for (QWidget* popup = QApplication::activePopupWidget(); popup; popup = QApplication::activePopupWidget())
            popup->close();
    }

    void setList(const QList<KZFoundItemGroupRef>& shownGroups)
    {
        auto root = KZFoundItemGroup::itemGroup();
        root->setGroups(shownGroups);
        model->setList(KZShownList::grouped(root));
        view->setShowByGroup(true);
        view->applyGroupSpans();
        view->expandAll();
    }

    void refreshCounts()
    {
        for (const auto& group : groups) {
            int marked = 0;
            for (const auto& member : group->items())
                marked += member->isMarked() ? 1 : 0;
            group->setMarkedCount(quint16(marked));
        }
    }

    QModelIndex groupIndex(int g) const { return model->indexOfGroup(groups[g].get()); }
    QModelIndex itemIndex(int g, int m) const { return model->indexOfRow({groups[g], groups[g]->items()[m]}); }
    void press(const QPoint& at, Qt::MouseButton button = Qt::LeftButton)
    {
        QTest::mouseClick(view->viewport(), button, {}, at);
    }
    void pressCheck(int g, int m) { press(cntrl->checkBoxRect(itemIndex(g, m)).center()); }

    std::string marks() const { return modeltest::marksOf(items); }

    KZFoundItemArray items;
    QList<KZFoundItemGroupRef> groups;
    std::unique_ptr<KZFoundItemsOutlineView> view;
    KZFoundItemsModel* model = nullptr;
    KZListMarkingCntrl* cntrl = nullptr;
    QUndoStack undo;
    FakeWorkspace workspace;
    QList<QVariantMap> posted;
    QList<QVariantMap> shown;
    quint64 listTag = 3;
    bool aboutOpen = false;
    bool selectedTab = true;
    int notices = 0;
    int beeps = 0;
};

TEST_F(ListMarking, GroupBoxClearsTheGroupWithItsCheckedRuleAsOneStep)
{
    const KZGroupRowLayout layout = cntrl->groupLayout(groupIndex(0));
    press(layout.check.center());
    ASSERT_EQ(posted.size(), 1);
    const QVariantMap request = posted.first();
    EXPECT_EQ(request.value(K::checkBtnState).toLongLong(), 0);
    EXPECT_EQ(request.value(K::menuItemTag).toLongLong(), 3) << "the group's checked rule";
    EXPECT_EQ(KZFoundItemsOfVariant(request.value(K::itemsToManage)).size(), 3);
    EXPECT_EQ(request.value(K::itemSenderView).value<KZFoundItemGroupRef>(), groups[0]);
    EXPECT_EQ(marks(), "000000");
    EXPECT_EQ(undo.count(), 1);
    EXPECT_EQ(undo.undoText(), tr(u"undo_unmark"_s));
    EXPECT_EQ(notices, 1);

    // The second group has nothing marked: its box is off and does nothing.
    press(cntrl->groupLayout(groupIndex(1)).check.center());
    EXPECT_EQ(posted.size(), 1);
}

TEST_F(ListMarking, CounterAndArrowOpenTheMenuOnLeftAndRightPress)
{
    struct Case {
        const char* name;
        KZGroupRowLayout::Part part;
        Qt::MouseButton button;
    };
    const Case cases[] = {
        {"arrow, left", KZGroupRowLayout::Part::Arrow, Qt::LeftButton},
        {"arrow, right", KZGroupRowLayout::Part::Arrow, Qt::RightButton},
        {"counter, left", KZGroupRowLayout::Part::Counter, Qt::LeftButton},
        {"counter, right", KZGroupRowLayout::Part::Counter, Qt::RightButton},
    };
    for (const Case& c : cases) {
        const KZGroupRowLayout layout = cntrl->groupLayout(groupIndex(0));
        const QRect target = c.part == KZGroupRowLayout::Part::Arrow ? layout.arrow : layout.counterText;
        press(target.center(), c.button);
        EXPECT_TRUE(cntrl->markMenu()->isVisible()) << c.name;
        EXPECT_EQ(cntrl->pressedGroup(), groups[0].get()) << c.name;
        EXPECT_EQ(cntrl->markMenu()->tagOfOnMenuItem(), 3) << c.name;
        cntrl->markMenu()->close();
        EXPECT_EQ(cntrl->pressedGroup(), nullptr) << c.name;
    }
    EXPECT_TRUE(posted.isEmpty());
}

TEST_F(ListMarking, MenuRuleSendsSevenKeysAndUndoNamesIt)
{
    press(cntrl->groupLayout(groupIndex(1)).arrow.center());
    ASSERT_TRUE(cntrl->markMenu()->isVisible());
    QAction* oldest = cntrl->markMenu()->actionWithTag(2);
    oldest->trigger();
    ASSERT_EQ(posted.size(), 1);
    const QVariantMap request = posted.first();
    EXPECT_EQ(request.value(K::menuItemTag).toLongLong(), 2);
    EXPECT_EQ(request.value(K::checkBtnState).toLongLong(), 1);
    EXPECT_EQ(request.value(u"oldMenuItemTagToRestore"_s).toLongLong(), 1);
    EXPECT_EQ(request.value(K::menuItemTagToRestore).toLongLong(), 2);
    EXPECT_EQ(request.value(u"menuItemTitle"_s).toString(), oldest->text());
    EXPECT_EQ(request.value(K::menu).value<KZMarkMenu*>(), static_cast<KZMarkMenu*>(cntrl->markMenu()));
    EXPECT_EQ(undo.undoText(), KZMarkRequests::undoActionName(request));
    EXPECT_EQ(notices, 0);
}

TEST_F(ListMarking, RowReloadedWhileTheMenuIsOpenBeepsAndSendsNothing)
{
    press(cntrl->groupLayout(groupIndex(0)).arrow.center());
    setList({groups[1], groups[0]}); // a reload puts another group where the press was
    cntrl->markMenu()->actionWithTag(2)->trigger();
    EXPECT_TRUE(posted.isEmpty());
    EXPECT_EQ(beeps, 1);
    EXPECT_EQ(undo.count(), 0);
}

TEST_F(ListMarking, MenuOffersTheRulesOfTheListAndNothingWhileAboutIsOpen)
{
    struct Case {
        const char* name;
        quint64 tag;
        bool about;
        bool defaultShown;
        bool locationShown;
        bool enabled;
    };
    const Case cases[] = {
        {"tab list", 3, false, true, false, true},
        {"location list", KZTag::sourceRowBase + 1, false, false, true, true},
        {"about open", 3, true, true, false, false},
    };
    for (const Case& c : cases) {
        listTag = c.tag;
        aboutOpen = c.about;
        press(cntrl->groupLayout(groupIndex(0)).arrow.center());
        KZMarkMenuWidget* menu = cntrl->markMenu();
        EXPECT_EQ(menu->actionWithTag(1)->isVisible(), c.defaultShown) << c.name;
        EXPECT_EQ(menu->actionWithTag(7)->isVisible(), c.defaultShown) << c.name;
        EXPECT_EQ(menu->actionWithTag(6)->isVisible(), c.locationShown) << c.name;
        EXPECT_EQ(menu->actionWithTag(2)->isEnabled(), c.enabled) << c.name;
        EXPECT_EQ(menu->actionWithTag(4)->toolTip(), tr(u"mark_by_location_tip"_s)) << c.name;
        menu->close();
    }
}

TEST_F(ListMarking, LastMemberIsMarkedOnlyAfterTheAnswer)
{
    pressCheck(1, 0);
    pressCheck(1, 1);
    EXPECT_EQ(marks(), "100110");
    EXPECT_EQ(posted.size(), 2);
    EXPECT_EQ(notices, 0) << "an item's box never shows the notice";

    pressCheck(1, 2); // the last unmarked member of group 2
    KZMarkInfoPopover* question = cntrl->markInfoPopover();
    ASSERT_TRUE(question->popover()->isVisible());
    EXPECT_EQ(posted.size(), 2);
    QTest::mouseClick(question->markButton(), Qt::LeftButton);
    EXPECT_FALSE(question->popover()->isVisible());
    EXPECT_EQ(marks(), "100111");
    EXPECT_EQ(posted.size(), 3);
    EXPECT_EQ(undo.count(), 3);

    // Unmarking never asks, even the only marked member.
    pressCheck(0, 0);
    EXPECT_EQ(marks(), "000111");
    EXPECT_FALSE(question->popover()->isVisible());
}

TEST_F(ListMarking, RememberedAnswerAppliesSilentlyAndASecondPressOnlyCloses)
{
    pressCheck(1, 0);
    pressCheck(1, 1);
    pressCheck(0, 1);
    pressCheck(0, 2);
    KZMarkInfoPopover* question = cntrl->markInfoPopover();
    ASSERT_TRUE(question->popover()->isVisible());
    // A press on another last member while asking only closes the question.
    pressCheck(1, 2);
    EXPECT_FALSE(question->popover()->isVisible());
    EXPECT_FALSE(question->gate().isPending());
    EXPECT_EQ(marks(), "110110");
    EXPECT_EQ(beeps, 0);

    pressCheck(0, 2);
    ASSERT_TRUE(question->popover()->isVisible());
    question->dontShowAgainCheck()->setChecked(true);
    QTest::mouseClick(question->leaveButton(), Qt::LeftButton);
    EXPECT_EQ(marks(), "110110");
    pressCheck(0, 2);
    pressCheck(1, 2);
    EXPECT_FALSE(question->popover()->isVisible());
    EXPECT_EQ(beeps, 2);
    EXPECT_EQ(marks(), "110110");
}

TEST_F(ListMarking, AnswerGoesToTheItemAskedAboutWhereverItNowIs)
{
    pressCheck(0, 1);
    pressCheck(0, 2);
    ASSERT_TRUE(cntrl->markInfoPopover()->popover()->isVisible());
    const int before = static_cast<int>(posted.size());
    setList({groups[1], groups[0]}); // the rows moved under the open question
    cntrl->markInfoPopover()->gate().answer(true, false);
    ASSERT_EQ(posted.size(), before + 1);
    EXPECT_EQ(KZFoundItemsOfVariant(posted.last().value(K::itemsToManage)), KZFoundItemArray{items[2]});

    // An item that left the list gets nothing.
    pressCheck(1, 1);
    pressCheck(1, 2);
    pressCheck(1, 0);
    ASSERT_TRUE(cntrl->markInfoPopover()->gate().isPending());
    setList({groups[0]});
    const int count = static_cast<int>(posted.size());
    cntrl->markInfoPopover()->gate().answer(true, false);
    EXPECT_EQ(posted.size(), count);
}

TEST_F(ListMarking, GroupOptionsTitlesEnablingAndForwarding)
{
    listTag = KZTag::sourceRowBase; // a location list: two of three members shown
    groups[0]->setItems({items[0], items[2]});
    setList(groups);
    const KZGroupRowLayout layout = cntrl->groupLayout(groupIndex(0));
    press(layout.options.center());
    KZGroupOptionsPopover* options = cntrl->optionsPopover();
    ASSERT_TRUE(options->popover()->isVisible());
    EXPECT_EQ(options->showGroupButton()->text(), tr(u"show_count_missing_member_sing"_s).arg(u"1"_s));
    EXPECT_TRUE(options->showGroupButton()->isEnabled());
    options->showInAllGroupsCheck()->setChecked(true);
    QTest::mouseClick(options->showGroupButton(), Qt::LeftButton);
    EXPECT_FALSE(options->popover()->isVisible());
    EXPECT_TRUE(shown.isEmpty()) << "sent after the press is handled";
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !shown.isEmpty(); }));
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].value(u"chosenTag"_s).toInt(), 1);
    EXPECT_EQ(shown[0].value(u"showForAll"_s).toInt(), 1);
    EXPECT_EQ(shown[0].value(u"groupItem"_s).value<KZFoundItemGroupRef>(), groups[0]);
    EXPECT_EQ(shown[0].value(u"tag"_s).toULongLong(), KZTag::sourceRowBase);
    EXPECT_EQ(shown[0].value(K::ownerTag).toULongLong(), 3u);

    // All members shown: only the reveal is offered. Closing by Esc sends nothing.
    press(cntrl->groupLayout(groupIndex(1)).options.center());
    ASSERT_TRUE(options->popover()->isVisible());
    EXPECT_EQ(options->showGroupButton()->text(), tr(u"show_present_members"_s));
    EXPECT_FALSE(options->showGroupButton()->isEnabled());
    EXPECT_TRUE(options->revealGroupButton()->isEnabled());
    options->popover()->close();
    QCoreApplication::processEvents();
    EXPECT_EQ(shown.size(), 1);

    listTag = 3; // the tab's own list has no options button
    press(cntrl->groupLayout(groupIndex(1)).options.center());
    EXPECT_FALSE(options->popover()->isVisible());
}

TEST_F(ListMarking, ContextMenuTitlesEnablingRevealOpenAndMark)
{
    view->selectionModel()->select(itemIndex(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    view->selectionModel()->select(itemIndex(0, 1), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    view->selectionModel()->select(itemIndex(0, 2), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    cntrl->prepareContextMenu(itemIndex(0, 1));
    const QList<QAction*> actions = cntrl->contextMenu()->actions();
    ASSERT_EQ(actions.size(), 3);
    EXPECT_EQ(actions[2]->text(), tr(u"unmark_unmark_item"_s));
    for (QAction* action : actions)
        EXPECT_TRUE(action->isEnabled());

    cntrl->contextualMenuAction(KZResultMenus::revealTag);
    cntrl->prepareContextMenu(itemIndex(0, 1));
    cntrl->contextualMenuAction(KZResultMenus::openTag);
    ASSERT_EQ(workspace.revealed.size(), 1);
    EXPECT_EQ(workspace.revealed[0].size(), 3);
    EXPECT_EQ(workspace.opened.size(), 3);

    // Toggling: the marked one is unmarked, the others marked, one step each.
    cntrl->prepareContextMenu(itemIndex(0, 1));
    cntrl->contextualMenuAction(KZResultMenus::markTag);
    EXPECT_EQ(marks(), "011000");
    EXPECT_EQ(undo.count(), 3);
    for (const QVariantMap& request : posted)
        EXPECT_EQ(request.value(K::menuItemTag).toLongLong(), 0);

    aboutOpen = true;
    cntrl->prepareContextMenu(itemIndex(0, 1));
    for (QAction* action : cntrl->contextMenu()->actions())
        EXPECT_FALSE(action->isEnabled());
    aboutOpen = false;
    selectedTab = false;
    cntrl->contextualMenuAction(KZResultMenus::openTag);
    EXPECT_EQ(workspace.opened.size(), 3) << "a hidden tab's list does nothing";
}

// A menu acts on a hundred rows at most: with more selected, reveal, open and
// mark offer nothing, in the list's menu and in the window's menus alike.
TEST_F(ListMarking, MenusActOnAHundredRowsAtMost)
{
    const std::vector<modeltest::ItemShape> shapes(101, modeltest::ItemShape{.group = 7});
    const KZFoundItemArray many = modeltest::makeItems(shapes);
    auto group = KZFoundItemGroup::itemGroup();
    group->setGroupID(7);
    group->setName(u"many"_s);
    group->setItems(many);
    setList({group});
    for (const int count : {100, 101}) {
        view->selectionModel()->clearSelection();
        for (int m = 0; m < count; ++m)
            view->selectionModel()->select(model->indexOfRow({group, many[m]}),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
        const bool offered = count <= 100;
        for (const int tag : {KZResultMenus::revealTag, KZResultMenus::openTag, KZResultMenus::markTag})
            EXPECT_EQ(cntrl->validateCommand(tag, nullptr), offered) << count << " rows, command " << tag;
        cntrl->prepareContextMenu(QModelIndex());
        for (QAction* action : cntrl->contextMenu()->actions())
            EXPECT_EQ(action->isEnabled(), offered) << count << " rows, " << action->text().toStdString();
    }
    // One more row clicked outside the selection is a menu of one row.
    setList(groups);
    view->selectionModel()->clearSelection();
    cntrl->prepareContextMenu(itemIndex(1, 0));
    EXPECT_TRUE(cntrl->contextMenu()->actions().at(0)->isEnabled());
}

// The mark menu keeps exactly the rule it is given checked, or none, and
// only its rules carry a tip.
TEST(MarkMenu, ChecksExactlyTheGivenRuleAndTipsOnlyItsRules)
{
    KZMarkMenuWidget menu;
    int separators = 0;
    for (QAction* action : menu.actions()) {
        if (action->isSeparator()) {
            ++separators;
            EXPECT_TRUE(action->toolTip().isEmpty());
        } else {
            const QString tip = KZMarkMenuWidget::tooltipKey(action->data().toLongLong());
            ASSERT_FALSE(tip.isEmpty()) << action->text().toStdString();
            EXPECT_EQ(action->toolTip(), tr(tip));
        }
    }
    EXPECT_GT(separators, 0);
    const auto checkedTags = [&menu] {
        QList<qint64> tags;
        for (QAction* action : menu.actions())
            if (action->isChecked())
                tags << action->data().toLongLong();
        return tags;
    };
    menu.setOnMenuItemWithTag(3);
    EXPECT_EQ(menu.tagOfOnMenuItem(), 3);
    EXPECT_EQ(checkedTags(), QList<qint64>{3});
    menu.setOnMenuItemWithTag(7);
    EXPECT_EQ(checkedTags(), QList<qint64>{7});
    for (const qint64 none : {0, 42}) {
        menu.setOnMenuItemWithTag(none);
        EXPECT_EQ(menu.tagOfOnMenuItem(), 0) << none;
        EXPECT_TRUE(checkedTags().isEmpty()) << none;
    }
}

// A sort that lands while the menu is open moves other items under the
// clicked row number; the commands act on the item that was clicked, and
// drop (with a beep) when it has left the list.
TEST_F(ListMarking, ContextMenuActsOnTheClickedItemWhereverItMoved)
{
    model->setList(KZShownList::flat(items));
    view->setShowByGroup(false);
    const auto flatIndex = [&](int row) { return model->index(row, 0); };
    using Command = std::function<void()>;
    const std::pair<int, Command> commands[] = {
        {KZResultMenus::markTag, [&] { EXPECT_EQ(marks(), "100100") << "the clicked item, now at row 2"; }},
        {KZResultMenus::openTag, [&] { EXPECT_EQ(workspace.opened, QStringList{QString::fromStdString(items[3]->path().filename().string())}); }},
    };
    for (const auto& [tag, check] : commands) {
        model->setList(KZShownList::flat(items));
        cntrl->prepareContextMenu(flatIndex(3));
        KZFoundItemArray reversed(items.rbegin(), items.rend());
        model->setList(KZShownList::flat(reversed)); // the sort lands
        cntrl->contextualMenuAction(tag);
        check();
    }
    EXPECT_EQ(beeps, 0);

    model->setList(KZShownList::flat(items));
    cntrl->prepareContextMenu(flatIndex(4));
    model->setList(KZShownList::flat(items.mid(0, 4))); // the item left the list
    const qsizetype sent = posted.size();
    cntrl->contextualMenuAction(KZResultMenus::markTag);
    EXPECT_EQ(posted.size(), sent);
    EXPECT_EQ(beeps, 1);
    cntrl->prepareContextMenu(flatIndex(4));
    EXPECT_FALSE(flatIndex(4).isValid());
}

// Qt toggles a checkable action before it reports it: the rule checked
// before is the group's, read when the menu opened, whatever the order of
// the rules in the menu and also when the checked rule is chosen again.
TEST_F(ListMarking, MenuRuleRemembersTheRuleCheckedBeforeIt)
{
    for (const auto& [before, chosen] : {std::pair{3, 2}, std::pair{3, 3}, std::pair{1, 5}}) {
        groups[1]->setMarkedMenuItem(before);
        press(cntrl->groupLayout(groupIndex(1)).arrow.center());
        ASSERT_TRUE(cntrl->markMenu()->isVisible());
        cntrl->markMenu()->actionWithTag(chosen)->trigger();
        cntrl->markMenu()->close();
        ASSERT_FALSE(posted.isEmpty());
        EXPECT_EQ(posted.last().value(u"oldMenuItemTagToRestore"_s).toLongLong(), before) << before << "->" << chosen;
        EXPECT_EQ(cntrl->markMenu()->tagOfOnMenuItem(), before) << "until the model checks the new rule";
    }
}

TEST_F(ListMarking, ContextualMarkWaitsForEachQuestionInRowOrder)
{
    for (int m = 0; m < 3; ++m)
        view->selectionModel()->select(itemIndex(1, m), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    pressCheck(1, 0); // the selection now: marked, unmarked, unmarked
    view->selectionModel()->clearSelection();
    for (int m = 0; m < 3; ++m)
        view->selectionModel()->select(itemIndex(1, m), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    posted.clear();
    cntrl->prepareContextMenu(itemIndex(1, 0));
    cntrl->contextualMenuAction(KZResultMenus::markTag);
    // Unmarking the first, marking the second; the third would then be the
    // last unmarked member... but the first was unmarked, so it is not.
    EXPECT_EQ(marks(), "100011");
    EXPECT_FALSE(cntrl->markInfoPopover()->popover()->isVisible());

    view->selectionModel()->clearSelection();
    view->selectionModel()->select(itemIndex(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    cntrl->prepareContextMenu(itemIndex(1, 0));
    cntrl->contextualMenuAction(KZResultMenus::markTag);
    ASSERT_TRUE(cntrl->markInfoPopover()->popover()->isVisible()) << "the last member asks first";
    const int before = static_cast<int>(posted.size());
    QTest::mouseClick(cntrl->markInfoPopover()->markButton(), Qt::LeftButton);
    EXPECT_EQ(posted.size(), before + 1);
    EXPECT_EQ(marks(), "100111");
}

TEST_F(ListMarking, DoubleClickOpensTheRowAndNotTheEmptyArea)
{
    const QRect first = view->visualRect(itemIndex(0, 0));
    const QPoint onRow(first.center().x() + 200, first.center().y());
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, onRow);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, onRow);
    EXPECT_EQ(workspace.opened.size(), 1);
    const QPoint below(300, view->viewport()->height() - 5);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, below);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, below);
    EXPECT_EQ(workspace.opened.size(), 1);
}

// The list with each menu or popover open over it, as a user sees it: each
// is on screen with its rows; a picture of it is kept for
// scripts/screenshots.sh when MARAVEX_SHOTS_DIR names a folder.
class ListMarkingShots : public ListMarking {
protected:
    void SetUp() override
    {
        dir = qEnvironmentVariable("MARAVEX_SHOTS_DIR");
        ListMarking::SetUp();
        view->resize(760, 300);
        view->header()->resizeSection(2, 330);
        if (!dir.isEmpty())
            QTest::qWait(50);
    }

    // The rows a menu offers: its actions, separators and hidden ones left out.
    static QStringList rowsOf(const QMenu* menu)
    {
        QStringList rows;
        for (const QAction* action : menu->actions()) {
            if (!action->isSeparator() && action->isVisible())
                rows << action->text();
        }
        return rows;
    }

    static void expectShown(const QAbstractButton* button)
    {
        ASSERT_NE(button, nullptr);
        EXPECT_TRUE(button->isVisible()) << button->text().toStdString();
        EXPECT_FALSE(button->text().isEmpty());
    }

    void shot(const QString& name, QWidget* popup)
    {
        ASSERT_NE(popup, nullptr);
        ASSERT_TRUE(popup->isVisible()) << name.toStdString();
        if (dir.isEmpty())
            return;
        QTest::qWait(150);
        QRect area = view->rect();
        const QRect popupRect(view->mapFromGlobal(popup->geometry().topLeft()), popup->size());
        area = area.united(popupRect.adjusted(0, 0, 12, 12));
        QImage canvas(area.size(), QImage::Format_ARGB32);
        canvas.fill(QColor(236, 237, 240));
        QPainter painter(&canvas);
        painter.translate(-area.topLeft());
        painter.drawPixmap(0, 0, view->grab());
        painter.drawPixmap(popupRect.topLeft(), popup->grab());
        painter.end();
        ASSERT_TRUE(canvas.save(QDir(dir).filePath(name)));
    }

    QString dir;
};

TEST_F(ListMarkingShots, MenuPopoversAndContextMenu)
{
    press(cntrl->groupLayout(groupIndex(0)).arrow.center());
    const QStringList rules = rowsOf(cntrl->markMenu());
    EXPECT_GE(rules.size(), 4) << rules.join(u", ").toStdString();
    EXPECT_FALSE(rules.contains(QString())) << "every rule has a title";
    ASSERT_NO_FATAL_FAILURE(shot(u"result-mark-menu.png"_s, cntrl->markMenu()));
    cntrl->markMenu()->close();

    pressCheck(0, 1);
    pressCheck(0, 2);
    KZMarkInfoPopover* lastMember = cntrl->markInfoPopover();
    EXPECT_FALSE(lastMember->questionLabel()->text().isEmpty());
    expectShown(lastMember->markButton());
    expectShown(lastMember->leaveButton());
    ASSERT_NO_FATAL_FAILURE(shot(u"result-last-member.png"_s, lastMember->popover()));
    lastMember->popover()->close();

    listTag = KZTag::sourceRowBase;
    groups[1]->setItems({items[3], items[5]});
    setList(groups);
    press(cntrl->groupLayout(groupIndex(1)).options.center());
    KZGroupOptionsPopover* options = cntrl->optionsPopover();
    expectShown(options->showGroupButton());
    expectShown(options->revealGroupButton());
    ASSERT_NO_FATAL_FAILURE(shot(u"result-group-options.png"_s, options->popover()));
    options->popover()->close();

    const QRect row = view->visualRect(itemIndex(1, 0));
    view->selectionModel()->select(itemIndex(1, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    cntrl->prepareContextMenu(itemIndex(1, 0));
    cntrl->contextMenu()->popup(view->viewport()->mapToGlobal(QPoint(260, row.center().y())));
    EXPECT_EQ(rowsOf(cntrl->contextMenu()),
              (QStringList{tr(u"reveal_in_file_manager"_s), tr(u"open_item"_s), tr(u"mark_item"_s)}));
    ASSERT_NO_FATAL_FAILURE(shot(u"result-context-menu.png"_s, cntrl->contextMenu()));
    cntrl->contextMenu()->close();
}

} // namespace
