#include "../../model/ModelTestSupport.h"

#include "platform/NotificationCenter.h"
#include "result/model/KZColumnKeys.h"
#include "result/model/KZListNotifications.h"
#include "result/window/KZTableHeaderCntrl.h"
#include "result/window/ui/KZFoundItemsModel.h"
#include "result/window/ui/KZFoundItemsOutlineView.h"
#include "result/window/ui/KZResultOutlineCntrl.h"
#include "settings/KZNotificationNames.h"
#include "settings/KZTags.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

#include "services/KZDateUtilities.h"
#include "platform/StringTable.h"
#include <QIcon>
#include <QDateTime>
#include "result/window/KZCellFormatting.h"
#include "services/ui/KZAnimationTiming.h"
#include "ModelChecker.h"
#include "TestSupport.h"
#include <QGraphicsOpacityEffect>
#include <gtest/gtest.h>

namespace {

using modeltest::ItemShape;

// Groups of `perGroup` members each; group identifiers from 1.
QList<KZFoundItemGroupRef> makeGroups(int groups, int perGroup)
{
    std::vector<ItemShape> shapes;
    for (int g = 0; g < groups; ++g)
        for (int m = 0; m < perGroup; ++m)
            shapes.push_back({.group = g + 1, .label = qint16(m)});
    const KZFoundItemArray items = modeltest::makeItems(shapes);
    QList<KZFoundItemGroupRef> result;
    for (int g = 0; g < groups; ++g) {
        auto group = KZFoundItemGroup::itemGroup();
        group->setGroupID(g + 1);
        group->setName(QStringLiteral("group %1").arg(g + 1));
        group->setItems(items.mid(g * perGroup, perGroup));
        result.append(group);
    }
    return result;
}

KZShownList grouped(const QList<KZFoundItemGroupRef>& groups)
{
    auto root = KZFoundItemGroup::itemGroup();
    root->setGroups(groups);
    return KZShownList::grouped(root);
}

KZShownList flat(const QList<KZFoundItemGroupRef>& groups)
{
    KZFoundItemArray items;
    for (const auto& group : groups)
        items.append(group->items());
    return KZShownList::flat(items);
}

KZListHandOff handOff(quint64 tag, const KZShownList& list, bool restore = false)
{
    KZListHandOff data;
    data.currSelectedTag = tag;
    data.restoreScroll = restore;
    data.currArray = list;
    return data;
}

class Outline : public ::testing::Test {
protected:
    void make(qint16 locations = 2)
    {
        KZResultOutlineCntrl::Settings settings;
        settings.tabTag = 3;
        settings.locationsCount = locations;
        settings.beep = [this] { ++beeps; };
        settings.setSelectionInfo = [this](const QString& text) { summary = text; };
        settings.showPreview = [this](const KZFoundItemArray& items) { preview = items; };
        endModelCheck();
        cntrl = std::make_unique<KZResultOutlineCntrl>(std::move(settings));
        checker = std::make_unique<kztest::ModelChecker>(cntrl->foundModel());
        cntrl->view()->resize(1100, 400);
        cntrl->view()->show();
        view = cntrl->foundListView();
    }
    void TearDown() override
    {
        endModelCheck();
        cntrl.reset();
    }
    // Every list the outline showed kept the rules of a Qt item model.
    void endModelCheck()
    {
        if (checker) {
            EXPECT_TRUE(checker->failures().isEmpty()) << checker->report().toStdString();
        }
        checker.reset();
    }

    QModelIndex groupIndex(int row) { return cntrl->foundModel()->index(row, 0); }
    void selectRow(const QModelIndex& index, bool add = false)
    {
        view->selectionModel()->select(index, (add ? QItemSelectionModel::Select : QItemSelectionModel::ClearAndSelect) |
                                                  QItemSelectionModel::Rows);
    }

    std::unique_ptr<KZResultOutlineCntrl> cntrl;
    std::unique_ptr<kztest::ModelChecker> checker;
    KZFoundItemsOutlineView* view = nullptr;
    int beeps = 0;
    QString summary;
    KZFoundItemArray preview;
};

TEST_F(Outline, RowHeightsColumnsAndTheLocationColumnFollowTheSources)
{
    for (const qint16 locations : {qint16(1), qint16(2)}) {
        make(locations);
        cntrl->setupShowByGroup(true);
        const auto groups = makeGroups(3, 2);
        cntrl->showNewData(handOff(3, grouped(groups)));
        view->expand(groupIndex(0));
        EXPECT_EQ(cntrl->foundModel()->columnCount(), 6);
        EXPECT_EQ(view->visualRect(groupIndex(0)).height(), KZTableHeaderCntrl::groupRowHeight);
        EXPECT_EQ(view->visualRect(cntrl->foundModel()->index(0, 0, groupIndex(0))).height(),
                  KZTableHeaderCntrl::itemRowHeight);
        EXPECT_EQ(view->isColumnHidden(KZTableHeaderCntrl::indexOf(KZColumnKey::location_tag_col)), locations < 2)
            << locations;
        EXPECT_EQ(cntrl->tableColumns().size(), locations < 2 ? 5 : 6);
        EXPECT_TRUE(view->isFirstColumnSpanned(0, QModelIndex()));
        EXPECT_EQ(view->header()->sectionResizeMode(0), QHeaderView::Fixed);
        EXPECT_EQ(view->header()->sectionResizeMode(KZTableHeaderCntrl::indexOf(KZColumnKey::name_col)),
                  QHeaderView::Interactive);
    }
}

// Beside the preview the list is narrow: every column still shows, and the
// name is the widest; widened, the name keeps the most room.
TEST_F(Outline, ColumnsShareTheListsWidthWithTheNameFirst)
{
    make(1);
    cntrl->setupShowByGroup(true);
    cntrl->showNewData(handOff(3, grouped(makeGroups(3, 2))));
    QHeaderView* header = view->header();
    const int name = KZTableHeaderCntrl::indexOf(KZColumnKey::name_col);
    const int date = KZTableHeaderCntrl::indexOf(KZColumnKey::date_modified_col);
    const int kind = KZTableHeaderCntrl::indexOf(KZColumnKey::kind_col);
    for (const int width : {706, 1100, 760}) {
        SCOPED_TRACE(width);
        cntrl->view()->resize(width, 400);
        QApplication::processEvents();
        EXPECT_LE(header->sectionViewportPosition(kind) + header->sectionSize(kind), view->viewport()->width())
            << "the kind in sight without scrolling";
        EXPECT_FALSE(view->horizontalScrollBar()->isVisible());
        EXPECT_GT(header->sectionSize(name), header->sectionSize(date));
        EXPECT_GE(header->sectionSize(name), 254);
    }

    // A divider dragged on the header: the user's widths stay from then on.
    const int divider = header->sectionViewportPosition(name) + header->sectionSize(name) - 1;
    const QPoint at(divider, header->height() / 2);
    QTest::mousePress(header->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseMove(header->viewport(), at + QPoint(-60, 0));
    QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, at + QPoint(-60, 0));
    const int chosen = header->sectionSize(name);
    cntrl->view()->resize(1000, 400);
    QApplication::processEvents();
    EXPECT_EQ(header->sectionSize(name), chosen);
}

TEST_F(Outline, OnlyRememberedGroupsInViewOpenAndTheyOpenAsTheyScrollIn)
{
    make();
    cntrl->setupShowByGroup(true);
    const auto groups = makeGroups(200, 2);
    for (const auto& group : groups)
        group->setIsExpanded(true);
    groups[1]->setIsExpanded(false);
    cntrl->showNewData(handOff(3, grouped(groups)));
    EXPECT_TRUE(view->isExpanded(groupIndex(0)));
    EXPECT_FALSE(view->isExpanded(groupIndex(1))) << "a group the user closed stays closed";
    EXPECT_FALSE(view->isExpanded(groupIndex(150))) << "a group out of view is not opened";

    view->scrollTo(groupIndex(150), QAbstractItemView::PositionAtTop);
    QApplication::processEvents();
    EXPECT_TRUE(view->isExpanded(groupIndex(150)));
    EXPECT_FALSE(view->isExpanded(groupIndex(199)));

    cntrl->expandAllGroups(true);
    EXPECT_TRUE(view->isExpanded(groupIndex(199)));
    EXPECT_TRUE(groups[1]->isExpanded());
    cntrl->expandAllGroups(false);
    EXPECT_FALSE(view->isExpanded(groupIndex(0)));
    EXPECT_FALSE(groups[0]->isExpanded());
}

TEST_F(Outline, SelectionComesBackPerListAndIsForgottenOnAShapeSwitch)
{
    make();
    cntrl->setupShowByGroup(false);
    const auto groups = makeGroups(4, 2);
    const KZShownList whole = flat(groups);
    const KZShownList location = flat({groups[0], groups[2]});
    const quint64 locationTag = KZTag::sourceRowBase + 0;

    cntrl->showNewData(handOff(3, whole));
    selectRow(cntrl->foundModel()->index(3, 0));
    const KZFoundItemRef chosen = whole.items[3];

    cntrl->showNewData(handOff(locationTag, location, true));
    EXPECT_TRUE(view->selectedRows().isEmpty());
    cntrl->showNewData(handOff(3, whole, true));
    ASSERT_EQ(view->selectedRows().size(), 1);
    EXPECT_EQ(view->selectedRows().first().item, chosen);

    // Grouped and flat rows are different rows: nothing carries over.
    cntrl->showNewData(handOff(locationTag, location, true));
    cntrl->setupShowByGroup(true);
    cntrl->showNewData(handOff(3, grouped(groups), true));
    EXPECT_TRUE(view->selectedRows().isEmpty());
    EXPECT_TRUE(cntrl->selectedItemsByTags().empty());
}

// Another source row and back: the grouped list comes back scrolled to the
// group that was last in view, not to its top.
TEST_F(Outline, ComingBackToAGroupedListScrollsToWhereItWas)
{
    make();
    cntrl->setupShowByGroup(true);
    const auto groups = makeGroups(200, 2);
    const KZShownList whole = grouped(groups);
    cntrl->showNewData(handOff(3, whole));
    view->scrollTo(groupIndex(120), QAbstractItemView::PositionAtTop);
    QApplication::processEvents();
    const auto [first, count] = view->visibleItemsRange();
    ASSERT_GE(first, 100);
    const int lastInView = first + count - 2;

    cntrl->showNewData(handOff(KZTag::sourceRowBase, grouped({groups[0], groups[1]}), true));
    EXPECT_EQ(view->visibleItemsRange().first, 0);
    cntrl->showNewData(handOff(3, whole, true));
    QApplication::processEvents();
    const auto [back, backCount] = view->visibleItemsRange();
    EXPECT_LE(back, lastInView);
    EXPECT_GT(back + backCount, lastInView) << "the group last in view is in view again";
}

// A group revealed from a source's list opens in the tab's list, in view,
// with its first member chosen, so that the menus and the preview act on a
// file of the group at once.
TEST_F(Outline, ARevealedGroupOpensInViewWithItsFirstMemberChosen)
{
    make();
    cntrl->setupShowByGroup(true);
    const auto groups = makeGroups(200, 2);
    cntrl->showNewData(handOff(3, grouped(groups)));
    cntrl->revealGroup(groups[150]);
    QApplication::processEvents();
    EXPECT_TRUE(view->isExpanded(groupIndex(150)));
    EXPECT_TRUE(groups[150]->isExpanded());
    ASSERT_EQ(view->selectedRows().size(), 1);
    EXPECT_EQ(view->selectedRows().first(), (KZListRow{groups[150], groups[150]->items().first()}));
    EXPECT_TRUE(view->viewport()->rect().intersects(view->visualRect(groupIndex(150))));
    EXPECT_EQ(preview, KZFoundItemArray{groups[150]->items().first()});
}

// Members shown at the user's request: their group opens to show them, and
// what was selected stays selected.
TEST_F(Outline, MembersShownOnRequestOpenTheirGroupAndKeepTheSelection)
{
    make();
    cntrl->setupShowByGroup(true);
    const auto groups = makeGroups(3, 3);
    const KZFoundItemArray all = groups[1]->items();
    groups[1]->setItems(all.mid(0, 1));
    cntrl->showNewData(handOff(KZTag::sourceRowBase, grouped(groups)));
    selectRow(groupIndex(0));
    ASSERT_FALSE(view->isExpanded(groupIndex(1)));

    groups[1]->setItems(all);
    cntrl->updateRowsForGroup(groups[1], 1);
    EXPECT_TRUE(view->isExpanded(groupIndex(1)));
    EXPECT_TRUE(groups[1]->isExpanded());
    EXPECT_EQ(cntrl->foundModel()->rowCount(groupIndex(1)), 3);
    ASSERT_EQ(view->selectedRows().size(), 1);
    EXPECT_EQ(view->selectedRows().first().group, groups[0]);
    EXPECT_TRUE(view->selectedRows().first().isGroupRow());
}

TEST_F(Outline, APendingSelectionStaysWithItsOwnList)
{
    make();
    cntrl->setupShowByGroup(true);
    const auto groups = makeGroups(300, 2);
    const KZListRow farMember{groups[250], groups[250]->items().first()};
    cntrl->setSelectedItemsByTags({{3, {farMember}}});
    cntrl->showNewData(handOff(3, grouped(groups)));
    ASSERT_TRUE(cntrl->pendingSelection().has_value()) << "the far member's group is closed";

    const quint64 other = KZTag::markedItemsRowBase + 3;
    cntrl->showNewData(handOff(other, grouped(makeGroups(2, 2))));
    EXPECT_FALSE(cntrl->pendingSelection().has_value());
    EXPECT_TRUE(view->selectedRows().isEmpty()) << "another list's rows take nothing of it";
    ASSERT_EQ(cntrl->selectedItemsByTags().count(3), 1u);
    EXPECT_EQ(cntrl->selectedItemsByTags().at(3), QList<KZListRow>{farMember});

    groups[250]->setIsExpanded(true);
    cntrl->showNewData(handOff(3, grouped(groups)));
    view->scrollTo(groupIndex(250), QAbstractItemView::PositionAtTop);
    QApplication::processEvents();
    ASSERT_EQ(view->selectedRows().size(), 1);
    EXPECT_EQ(view->selectedRows().first(), farMember);
    EXPECT_FALSE(cntrl->pendingSelection().has_value());
}

TEST_F(Outline, HeaderClicksPostTheOrderAndBeepWhileKindsAreGathered)
{
    make();
    cntrl->showNewData(handOff(3, flat(makeGroups(2, 2))));
    QList<QVariantMap> posts;
    auto sub = platform::NotificationCenter::defaultCenter().addObserver(
        KZNotification::sortList, platform::NotificationObject::number(3),
        [&posts](const platform::Notification& note) { posts.append(note.userInfo); });
    const int check = KZTableHeaderCntrl::indexOf(KZColumnKey::check_col);
    const int kind = KZTableHeaderCntrl::indexOf(KZColumnKey::kind_col);

    QTest::mouseClick(view->header()->viewport(), Qt::LeftButton, {},
                      QPoint(view->header()->sectionViewportPosition(check) + 5, 5));
    ASSERT_EQ(posts.size(), 1);
    auto descriptors = posts.last().value(QStringLiteral("descriptors")).value<KZSortDescriptors>();
    ASSERT_FALSE(descriptors.isEmpty());
    EXPECT_EQ(descriptors.first(), KZSortDescriptor(KZColumnKey::check_col, false));
    EXPECT_TRUE(posts.last().value(QStringLiteral("updateInterface")).toBool());
    EXPECT_EQ(posts.last().value(QStringLiteral("tag")).toULongLong(), 3u);
    EXPECT_EQ(view->header()->sortIndicatorSection(), check);

    cntrl->setIsGatheringKind(true);
    const QString gatheringTitle = cntrl->foundModel()->headerData(kind, Qt::Horizontal).toString();
    cntrl->headerClicked(kind);
    EXPECT_EQ(beeps, 1);
    EXPECT_EQ(posts.size(), 1) << "no sort while kinds are gathered";
    EXPECT_EQ(cntrl->sortDescriptors().first().key(), KZColumnKey::check_col);

    cntrl->setIsGatheringKind(false);
    EXPECT_NE(cntrl->foundModel()->headerData(kind, Qt::Horizontal).toString(), gatheringTitle);
    ASSERT_EQ(posts.size(), 2) << "the order the user had is applied again";
    descriptors = posts.last().value(QStringLiteral("descriptors")).value<KZSortDescriptors>();
    EXPECT_EQ(descriptors.first(), KZSortDescriptor(KZColumnKey::check_col, false));
}

TEST_F(Outline, SummaryAndPreviewOfTheSelection)
{
    make();
    cntrl->setupShowByGroup(true);
    const auto groups = makeGroups(5, 2);
    cntrl->setItemsCount(10);
    cntrl->showNewData(handOff(3, grouped(groups)));
    view->expand(groupIndex(0));
    selectRow(groupIndex(0));
    selectRow(cntrl->foundModel()->index(0, 0, groupIndex(0)), true);
    ASSERT_EQ(preview.size(), 1) << "a group and its first member preview that item once";
    EXPECT_EQ(preview.first(), groups[0]->items().first());
    EXPECT_TRUE(summary.contains(QStringLiteral("1 of 10")) && summary.contains(QStringLiteral("1 of 5")))
        << summary.toStdString();
    view->selectionModel()->clearSelection();
    EXPECT_TRUE(summary.isEmpty());
    EXPECT_TRUE(preview.isEmpty());
}

TEST_F(Outline, StopNoticeGoesToTheListTagOrTheTab)
{
    make();
    QList<platform::NotificationObject> objects;
    auto sub = platform::NotificationCenter::defaultCenter().addObserver(
        KZNotification::KZStopProgressIndicator, platform::NotificationObject(),
        [&objects](const platform::Notification& note) { objects.append(note.object); });
    cntrl->showNewData(handOff(KZTag::sourceRowBase + 1, flat(makeGroups(1, 2)), true));
    KZListHandOff empty = handOff(3, flat({}), false);
    cntrl->showNewData(empty);
    ASSERT_EQ(objects.size(), 2);
    EXPECT_EQ(objects[0], platform::NotificationObject::number(qint64(KZTag::sourceRowBase + 1)));
    EXPECT_TRUE(cntrl->emptyView()->isVisibleTo(cntrl->view()));
}

// A ghost row is there to be seen, not chosen: in the list of marked items
// the unmarked members are ghosts, and neither Select All, nor a range, nor
// the arrow keys select them; the arrows pass over them.
TEST_F(Outline, NoGestureOfTheUserSelectsAGhost)
{
    make();
    const KZFoundItemArray items =
        modeltest::makeItems({{.group = 1, .marked = true}, {.group = 1}, {.group = 2, .marked = true},
                              {.group = 2}, {.group = 3, .marked = true}, {.group = 3}});
    cntrl->showNewData(handOff(KZTag::markedItemsRowBase + 3, KZShownList::flat(items)));
    QWidget* window = cntrl->view()->window();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window, kztest::kPatienceMs));
    view->setFocus();
    const auto selected = [this] {
        std::vector<int> rows;
        for (const QModelIndex& index : view->selectionModel()->selectedRows())
            rows.push_back(index.row());
        std::sort(rows.begin(), rows.end());
        return rows;
    };
    const auto rowCentre = [this](int row) {
        return QPoint(view->viewport()->width() / 2, view->visualRect(cntrl->foundModel()->index(row, 0)).center().y());
    };

    QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(selected(), (std::vector<int>{0, 2, 4})) << "Select All";

    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rowCentre(0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ShiftModifier, rowCentre(4));
    EXPECT_EQ(selected(), (std::vector<int>{0, 2, 4})) << "a range";
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rowCentre(3));
    EXPECT_EQ(selected(), (std::vector<int>{0, 2, 4})) << "a click on a ghost";

    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rowCentre(0));
    QTest::keyClick(view, Qt::Key_Down);
    EXPECT_EQ(selected(), std::vector<int>{2});
    EXPECT_EQ(view->currentIndex().row(), 2);
    QTest::keyClick(view, Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(selected(), (std::vector<int>{2, 4}));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rowCentre(0));
    QTest::keyClick(view, Qt::Key_End);
    EXPECT_EQ(selected(), std::vector<int>{4}) << "the last row is a ghost: the last that is not";
    QTest::keyClick(view, Qt::Key_Down);
    EXPECT_EQ(view->currentIndex().row(), 4) << "nothing beyond the ghosts to go to";

    // In the tab's own list nobody is a ghost.
    cntrl->showNewData(handOff(3, KZShownList::flat(items)));
    QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(selected().size(), 6u);
}

// The stopped notice speaks of the search: the list of marked items is the
// user's own choice, complete whatever the search, and never carries it.
TEST_F(Outline, TheStoppedNoticeShowsOnEveryListButTheMarkedItems)
{
    KZAnimationTiming::setScale(0.05);
    make();
    const auto shows = [this](quint64 tag) {
        KZListHandOff data = handOff(tag, flat(makeGroups(2, 2)));
        data.searchStoppeByUser = true;
        cntrl->showNewData(data);
        kztest::processEventsUntil([] { return false; }, std::chrono::milliseconds(100));
        return cntrl->stoppedFld()->isVisibleTo(cntrl->view());
    };
    EXPECT_TRUE(shows(3)) << "the tab's list";
    EXPECT_TRUE(shows(KZTag::sourceRowBase + 1)) << "a source's list";
    EXPECT_FALSE(shows(KZTag::markedItemsRowBase + 3)) << "the marked items";
    EXPECT_TRUE(shows(3)) << "back on the tab's list";
    KZAnimationTiming::setScale(1.0);
}

// A group that has no icon of its own takes its first member's when its row
// is drawn, and keeps it; a folder that holds nothing shows a dash for its
// size, a file of no size its size.
TEST_F(Outline, AGroupKeepsItsFirstMembersIconAndAnEmptyFolderShowsNoSize)
{
    make();
    cntrl->setupShowByGroup(true);
    const auto groups = makeGroups(2, 2);
    QImage red(32, 32, QImage::Format_ARGB32_Premultiplied);
    red.fill(Qt::red);
    groups[0]->items().first()->setFileIcon(red);
    ASSERT_TRUE(groups[0]->fileIcon().isNull());
    cntrl->showNewData(handOff(3, grouped(groups)));
    QApplication::processEvents();
    (void)view->viewport()->grab();
    EXPECT_EQ(groups[0]->fileIcon(), red);
    QImage blue = red;
    blue.fill(Qt::blue);
    groups[0]->items().first()->setFileIcon(blue);
    (void)view->viewport()->grab();
    EXPECT_EQ(groups[0]->fileIcon(), red) << "kept, not looked up again";

    cntrl->setupShowByGroup(false);
    const KZFoundItemArray items = modeltest::makeItems({{.group = 1, .size = 0, .isDirectory = true},
                                                         {.group = 1, .size = 0},
                                                         {.group = 2, .size = 2000, .isDirectory = true}});
    cntrl->showNewData(handOff(3, KZShownList::flat(items)));
    const int size = KZTableHeaderCntrl::indexOf(KZColumnKey::size_col);
    const KZFoundItemsModel* model = cntrl->foundModel();
    const auto text = [&](int row) { return model->data(model->index(row, size)).toString(); };
    EXPECT_EQ(text(0), QStringLiteral("-"));
    EXPECT_NE(text(1), QStringLiteral("-"));
    EXPECT_FALSE(text(1).isEmpty());
    EXPECT_NE(text(2), QStringLiteral("-"));
}

// While files are being removed the list stays as the removal found it: it
// takes no focus and the wheel does not scroll it.
TEST_F(Outline, DuringARemovalTheListTakesNoFocusAndDoesNotScroll)
{
    make();
    cntrl->showNewData(handOff(3, flat(makeGroups(60, 2))));
    QWidget* window = cntrl->view()->window();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window, kztest::kPatienceMs));
    QScrollBar* bar = view->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    const auto wheel = [this] {
        const QPointF at(view->viewport()->width() / 2.0, view->viewport()->height() / 2.0);
        QWheelEvent event(at, view->viewport()->mapToGlobal(at), QPoint(), QPoint(0, -360), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view->viewport(), &event);
    };

    view->clearFocus();
    view->setIsRemoving(true);
    view->setFocus();
    EXPECT_FALSE(view->hasFocus());
    EXPECT_FALSE(view->isActive());
    wheel();
    EXPECT_EQ(bar->value(), 0);

    view->setIsRemoving(false);
    wheel();
    EXPECT_GT(bar->value(), 0) << "the same turn scrolls once the removal has ended";
    view->setFocus();
    EXPECT_TRUE(view->hasFocus());
}

// What a new user missed: dates cut at the first width, every file with the
// same blank page, and an unexplained coloured mark.
TEST(OutlineLooks, FullDatesKindIconsAndTheSourceMarksFolder)
{
    KZResultOutlineCntrl::Settings settings;
    settings.tabTag = 3;
    settings.locationsCount = 2;
    settings.sourceFolders = {QStringLiteral("/data/Photos"), QStringLiteral("/backup/Photos")};
    KZResultOutlineCntrl cntrl(std::move(settings));
    cntrl.view()->resize(1000, 300);
    cntrl.view()->show();
    KZFoundItemsOutlineView* view = cntrl.foundListView();

    const int dateColumn = KZTableHeaderCntrl::indexOf(KZColumnKey::date_modified_col);
    const int width = view->header()->sectionSize(dateColumn);
    EXPECT_GE(width, view->fullDateWidth());
    EXPECT_EQ(KZCellFormatting::dateFormForWidth(width), (KZCellFormatting::DateForm{4, true}));
    QFont cellFont = view->font();
    cellFont.setPixelSize(13);
    const QDateTime longest(QDate(2026, 9, 30), QTime(23, 59, 59));
    const QString full = KZDateUtilities::sharedControl().stringWithSeconds(
        KZDateUtilities::timeIntervalSinceReferenceDate(longest), 4, true, true);
    EXPECT_LE(QFontMetrics(cellFont).horizontalAdvance(full), width - 10) << full.toStdString();

    const KZFoundItemArray items = modeltest::makeItems(
        {{.path = "/data/Photos/a.txt", .group = 1, .label = 0}, {.path = "/backup/Photos/a.txt", .group = 1, .label = 1},
         {.path = "/data/Photos/b.jpg", .group = 2, .label = 0}, {.path = "/backup/Photos/b.jpg", .group = 2, .label = 1}});
    cntrl.showNewData(handOff(3, KZShownList::flat(items)));
    QApplication::processEvents();
    (void)view->viewport()->grab();
    for (const KZFoundItemRef& item : items)
        EXPECT_FALSE(item->fileIcon().isNull()) << "painted rows carry their kind's icon";
    if (!QIcon::fromTheme(QStringLiteral("text-plain")).isNull() || !QIcon::fromTheme(QStringLiteral("image-jpeg")).isNull()) {
        EXPECT_NE(items[0]->fileIcon(), items[2]->fileIcon()) << "a text file and a picture look different";
    }

    const int location = KZTableHeaderCntrl::indexOf(KZColumnKey::location_tag_col);
    const KZFoundItemsModel* model = cntrl.foundModel();
    EXPECT_EQ(model->data(model->index(1, location), Qt::ToolTipRole).toString(),
              platform::localizedString(QStringLiteral("source_mark_tip")).arg(QStringLiteral("/backup/Photos")));
    EXPECT_FALSE(model->data(model->index(1, 2), Qt::ToolTipRole).isValid()) << "only the mark explains itself";
}

// The empty and stopped notices fade in and out rather than blink; they end
// fully shown or hidden.
TEST_F(Outline, NoticesFadeInAndOut)
{
    KZAnimationTiming::setScale(0.05);
    make();
    const auto opacity = [](QWidget* notice) {
        auto* effect = qobject_cast<QGraphicsOpacityEffect*>(notice->graphicsEffect());
        return effect ? effect->opacity() : (notice->isVisible() ? 1.0 : 0.0);
    };
    KZListHandOff empty = handOff(3, flat({}));
    empty.searchStoppeByUser = true;
    cntrl->showNewData(empty);
    EXPECT_TRUE(cntrl->emptyView()->isVisibleTo(cntrl->view()));
    EXPECT_LT(opacity(cntrl->emptyView()), 1.0) << "fading, not there at once";
    EXPECT_TRUE(kztest::processEventsUntil([&] {
        return opacity(cntrl->emptyView()) == 1.0 && opacity(cntrl->stoppedFld()) == 1.0;
    }));

    cntrl->showNewData(handOff(3, flat(makeGroups(1, 2))));
    EXPECT_TRUE(cntrl->emptyView()->isVisibleTo(cntrl->view())) << "still fading out";
    EXPECT_TRUE(kztest::processEventsUntil([&] { return cntrl->emptyView()->isHidden(); }));
    EXPECT_TRUE(cntrl->stoppedFld()->isHidden()) << "the new list was not stopped";
    KZAnimationTiming::setScale(1.0);
}

// Pixel probes: what the rows paint, away from any text.
class RowPaint : public Outline {
protected:
    QColor probe(const QModelIndex& index)
    {
        QApplication::processEvents();
        const QImage image = view->viewport()->grab().toImage();
        const QRect rect = view->visualRect(index);
        return image.pixelColor(view->viewport()->width() - 4, rect.center().y());
    }
};

TEST_F(RowPaint, FlatRowsAlternateGreysByGroup)
{
    make();
    cntrl->showNewData(handOff(3, flat(makeGroups(3, 2))));
    const auto* model = cntrl->foundModel();
    const QColor first = probe(model->index(0, 0));
    EXPECT_EQ(first, probe(model->index(1, 0)));
    EXPECT_NE(first, probe(model->index(2, 0)));
    EXPECT_EQ(first.red(), qRound(0.99 * 255));
    EXPECT_EQ(probe(model->index(2, 0)).red(), qRound(0.95 * 255));
}

TEST_F(RowPaint, SelectionBarsFollowFocusAndWindow)
{
    make();
    cntrl->setupShowByGroup(true);
    cntrl->showNewData(handOff(3, grouped(makeGroups(3, 2))));
    view->expand(groupIndex(1));
    const QModelIndex member = cntrl->foundModel()->index(0, 0, groupIndex(1));
    const QColor plainGroup = probe(groupIndex(0));
    selectRow(groupIndex(0));
    selectRow(member, true);

    view->setActiveOverride(true, true);
    const QColor activeGroup = probe(groupIndex(0));
    const QColor activeItem = probe(member);
    view->setActiveOverride(true, false);
    const QColor inactiveGroup = probe(groupIndex(0));
    const QColor inactiveItem = probe(member);
    view->setActiveOverride(false, true);
    EXPECT_EQ(probe(groupIndex(0)), inactiveGroup) << "an unfocused list looks like an inactive window";

    EXPECT_NE(activeGroup, plainGroup);
    EXPECT_NE(activeGroup, inactiveGroup);
    EXPECT_EQ(inactiveGroup.rgb(), QColor::fromRgbF(0.796f, 0.796f, 0.796f).rgb());
    EXPECT_GT(activeItem.blue(), activeItem.red() + 60) << "the accent";
    EXPECT_EQ(inactiveItem.red(), inactiveItem.blue()) << "a plain grey";
}

TEST_F(RowPaint, AClickedRowTakesTheFocusAndPaintsTheAccent)
{
    make();
    cntrl->showNewData(handOff(3, flat(makeGroups(2, 2))));
    QWidget* window = cntrl->view()->window();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window, kztest::kPatienceMs));
    view->clearFocus();
    view->setActiveOverride(std::nullopt, true);
    const QModelIndex row = cntrl->foundModel()->index(1, 0);
    const QColor before = probe(row);

    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                      QPoint(view->viewport()->width() - 4, view->visualRect(row).center().y()));
    EXPECT_TRUE(view->hasFocus());
    const QColor bar = probe(row);
    EXPECT_NE(bar, before);
    EXPECT_GT(bar.blue(), bar.red() + 60) << "the accent, not the inactive grey";
}

} // namespace
