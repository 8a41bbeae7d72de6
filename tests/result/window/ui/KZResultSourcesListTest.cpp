#include "TestSupport.h"

#include "engine/KZResultInfoKeys.h"
#include "platform/NotificationCenter.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "result/model/KZListNotifications.h"
#include "result/window/KZMarkRequests.h"
#include "result/window/ui/KZMarkMenuWidget.h"
#include "result/window/ui/KZPopoverResultSourceInfo.h"
#include "result/window/ui/KZResultSourcesListCntrl.h"
#include "services/ui/KZFocusRing.h"
#include "services/ui/KZWorkspace.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZNotificationNames.h"
#include "settings/KZTags.h"

#include <QAbstractScrollArea>
#include <QCheckBox>
#include <QCursor>
#include <QEnterEvent>
#include <QFrame>
#include <QLabel>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>
#include <QUndoStack>

#include <gtest/gtest.h>

#include <thread>

namespace {

namespace K = KZMarkingKey;
using namespace Qt::StringLiterals;
constexpr KZTabTag kBase = KZTag::sourceRowBase;

platform::NotificationCenter& center()
{
    return platform::NotificationCenter::defaultCenter();
}

struct RevealedPaths : KZWorkspace {
    QList<std::filesystem::path> revealed;
    void revealItems(const QList<std::filesystem::path>& paths) override { revealed << paths; }
    void openItem(const std::filesystem::path&) override {}
};

QVariantMap listInfo(quint64 tag, quint64 count, quint64 size, quint64 marked, quint64 markedSize)
{
    return {{u"itemsToManageTag"_s, QVariant::fromValue(tag)}, {u"size"_s, QVariant::fromValue(size)},
            {u"count"_s, QVariant::fromValue(count)},          {u"markedCount"_s, QVariant::fromValue(marked)},
            {u"markedSize"_s, QVariant::fromValue(markedSize)}};
}

void hover(QWidget* widget)
{
    const QPointF centre = QRectF(widget->rect()).center();
    QEnterEvent enter(centre, centre, widget->mapToGlobal(centre));
    QApplication::sendEvent(widget, &enter);
}

// A sources list of tab `tab` over three sources (labels 0, 1, 2), with a
// marking that records what it sends on an undo stack of its own.
class SourcesList : public ::testing::Test {
protected:
    void SetUp() override
    {
        defaults->setValue(KZDefaultsKey::show_marked_info, true);
        for (const char* name : {"Camera", "Laptop", "Backup"}) {
            auto source = KZSourceItem::create({{u"url"_s, QVariant::fromValue(dir.mkdir(name))}});
            source->setWasSearched(true);
            source->setLocationLabelTag(static_cast<qint16>(sources.size()));
            sources.push_back(source);
        }
        KZOutlineMarking::Hooks hooks;
        hooks.undoRecord = [](QVariantMap& request) -> std::optional<QVariantMap> {
            QVariantMap record = request;
            record.insert(K::menuItemTag, KZMarkRule::restore);
            return record;
        };
        hooks.post = [this](const QVariantMap& request) { posted << request; };
        marking = std::make_unique<KZOutlineMarking>(&undo, hooks);
    }

    void make(quint64 tab = 1, size_t sourceCount = 3)
    {
        label = KZFileTypeLabel::create(tab);
        label->setName(u"Images"_s);
        KZResultSourcesListCntrl::Services services;
        services.marking = [this] { return marking.get(); };
        services.isRemoving = [this] { return removing; };
        services.aboutIsOpened = [this] { return aboutOpen; };
        services.beep = [this] { ++beeps; };
        services.workspace = &workspace;
        const std::vector<KZSourceItemRef> used(sources.begin(), sources.begin() + static_cast<long>(sourceCount));
        list = std::make_unique<KZResultSourcesListCntrl>(
            QVariantMap{{u"fileType"_s, QVariant::fromValue(label)},
                        {KZResultKey::searchSources, QVariant::fromValue(used)},
                        {u"searchStoppeByUser"_s, false}},
            services);
        list->view()->resize(260, 400);
        list->view()->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(list->view(), kztest::kPatienceMs));
    }

    void fill(quint64 tag, quint64 count, quint64 size, quint64 marked, quint64 markedSize)
    {
        center().post(KZNotification::updateInfo, platform::NotificationObject::number(qint64(list->tabTag())),
                      listInfo(tag, count, size, marked, markedSize));
        QCoreApplication::processEvents();
    }

    KZResultSourceTableCellView* cell(int row) const { return list->cellAt(row); }

    kztest::ScopedDefaults defaults;
    kztest::TempDir dir;
    std::vector<KZSourceItemRef> sources;
    KZFileTypeLabelRef label;
    QUndoStack undo;
    QList<QVariantMap> posted;
    std::unique_ptr<KZOutlineMarking> marking;
    RevealedPaths workspace;
    bool removing = false;
    bool aboutOpen = false;
    int beeps = 0;
    std::unique_ptr<KZResultSourcesListCntrl> list;
};

} // namespace

TEST_F(SourcesList, CellsShowEachRowAndTheCountsFromTheWorkersInOrder)
{
    ASSERT_NO_FATAL_FAILURE(make());
    ASSERT_EQ(list->rows().count(), 5);
    // The counts of one list come from a worker one after the other; the
    // last one posted is the one shown, and the worker never waits.
    std::thread worker([this] {
        for (quint64 n = 1; n <= 50; ++n)
            center().post(KZNotification::updateInfo, platform::NotificationObject::number(1),
                          listInfo(kBase + 1, n, n * 1000, n / 2, n * 500));
    });
    worker.join();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return list->rows().at(2)->itemsCount == 50; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(list->rows().at(2)->markedCount, 25u);
    EXPECT_EQ(cell(2)->nameText(), u"Laptop"_s);
    EXPECT_EQ(cell(2)->infoText(), list->rows().at(2)->formattedInfoWithOwnerTag(1));
    EXPECT_FALSE(cell(2)->label()->isHidden()) << "a source shows its label";
    EXPECT_TRUE(cell(0)->label()->isHidden());
    EXPECT_TRUE(cell(2)->checkBtn()->isChecked());
    EXPECT_TRUE(cell(2)->checkBtn()->isEnabled());
    EXPECT_EQ(cell(2)->itemsCount(), 50u);
    // Nothing marked: an unchecked box that cannot be used (the menu marks).
    EXPECT_FALSE(cell(1)->checkBtn()->isChecked());
    EXPECT_FALSE(cell(1)->checkBtn()->isEnabled());
    EXPECT_TRUE(cell(4)->backCheckImg()->isHidden()) << "the marked row cannot be marked";
    EXPECT_EQ(cell(4)->nameText(), u"Marked"_s);
    EXPECT_TRUE(cell(0)->drawHSeparator());
    EXPECT_TRUE(cell(3)->drawHSeparator());

    label->setName(u"Pictures"_s);
    center().post(KZNotification::updateOtherSourceListInfo, platform::NotificationObject::number(1));
    ASSERT_TRUE(kztest::processEventsUntil([&] { return cell(0)->nameText() == u"Pictures"_s; }));
}

// The list asks for the room its rows need, marked figures of some size
// included; a figure still cut short is read whole from its tooltip.
TEST_F(SourcesList, RowsAskForTheRoomTheirFiguresNeed)
{
    ASSERT_NO_FATAL_FAILURE(make());
    fill(kBase + 1, 20000, 14'120'000'000, 10400, 913'470'000);
    const int wanted = list->view()->sizeHint().width();
    list->view()->resize(wanted, 400);
    QApplication::processEvents();
    for (int row = 0; row < list->rows().count(); ++row) {
        SCOPED_TRACE(row);
        EXPECT_EQ(cell(row)->infoFld()->text(), cell(row)->infoText()) << "shown whole";
        EXPECT_EQ(cell(row)->nameFld()->text(), cell(row)->nameText());
        EXPECT_TRUE(cell(row)->infoFld()->toolTip().isEmpty());
    }
    EXPECT_GE(wanted, cell(2)->widthToShow(platform::localizedString(u"marked_info"_s).arg(u"888.88 MB"_s, u"8,888"_s)));

    list->view()->resize(200, 400);
    QApplication::processEvents();
    EXPECT_NE(cell(2)->infoFld()->text(), cell(2)->infoText());
    EXPECT_EQ(cell(2)->infoFld()->toolTip(), cell(2)->infoText());
}

TEST_F(SourcesList, OnTheEmptyFoldersTabTheBoxMarksAndTheMenuIsOff)
{
    ASSERT_NO_FATAL_FAILURE(make(KZTag::emptyFolders, 1));
    ASSERT_EQ(list->rows().count(), 2);
    EXPECT_FALSE(cell(0)->popdownBtn()->isEnabled());
    EXPECT_FALSE(cell(0)->checkBtn()->isEnabled());
    fill(KZTag::emptyFolders, 3, 0, 0, 0);
    EXPECT_TRUE(cell(0)->checkBtn()->isEnabled());
    EXPECT_FALSE(cell(0)->checkBtn()->isChecked());
    EXPECT_EQ(cell(0)->infoText(), u"No marked items"_s);
}

TEST_F(SourcesList, ANewRowIsReportedOnceAndItsSpinnerRunsUntilItsListIsShown)
{
    ASSERT_NO_FATAL_FAILURE(make());
    QList<QVariantMap> reports;
    platform::Subscription watch = center().addObserver(
        KZNotification::sourceSelectionDidChange, platform::NotificationObject::number(1),
        [&](const platform::Notification& note) { reports << note.userInfo; });
    fill(kBase + 1, 4, 4000, 0, 0);
    QTest::mouseClick(cell(2), Qt::LeftButton);
    ASSERT_EQ(reports.size(), 1);
    EXPECT_EQ(reports[0].value(u"tag"_s).toULongLong(), kBase + 1);
    EXPECT_EQ(reports[0].value(u"itemsCount"_s).toULongLong(), 4u);
    EXPECT_TRUE(cell(2)->spinning()->isAnimating());

    QTest::mouseClick(cell(2), Qt::LeftButton);
    // Empty space under the rows.
    QTest::mouseClick(list->sourcesTableView()->viewport(), Qt::LeftButton, {}, QPoint(20, 380));
    EXPECT_EQ(reports.size(), 1);
    EXPECT_EQ(list->sourcesTableView()->selectionModel()->selectedRows().value(0).row(), 2);

    center().post(KZNotification::KZStopProgressIndicator, platform::NotificationObject::number(qint64(kBase + 1)),
                  {{u"tag"_s, QVariant::fromValue(kBase + 1)}});
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !cell(2)->spinning()->isAnimating(); }));

    // A group revealed from its options selects its row.
    list->selectRowWithTag(1, kBase + 1);
    ASSERT_EQ(reports.size(), 2);
    EXPECT_EQ(reports[1].value(u"tag"_s).toULongLong(), 1u);
}

TEST_F(SourcesList, ARowsBoxAndMenuEachSendOneUndoableRequest)
{
    ASSERT_NO_FATAL_FAILURE(make());
    fill(kBase + 0, 4, 4000, 2, 2000);
    fill(1, 10, 10000, 2, 2000);

    QTest::mouseClick(cell(1)->checkBtn(), Qt::LeftButton);
    ASSERT_EQ(posted.size(), 1);
    const QVariantMap box = posted[0];
    EXPECT_EQ(box.value(K::checkBtnState).toInt(), 0);
    EXPECT_EQ(box.value(K::menuItemTag).toInt(), KZMarkRule::byDefault);
    EXPECT_EQ(box.value(K::itemsToManageTag).toULongLong(), kBase);
    EXPECT_EQ(box.value(K::locationTag).toULongLong(), kBase);
    EXPECT_EQ(box.value(K::ownerTag).toULongLong(), 1u);
    EXPECT_EQ(box.value(u"view"_s).value<QObject*>(), cell(1));
    ASSERT_EQ(undo.count(), 1);
    EXPECT_EQ(undo.undoText(), platform::localizedString(u"undo_unmark"_s));

    // The type row's menu: the default rule is offered there, the rule
    // within a location is not; choosing "newest" sends the 7-key request.
    QTest::mouseClick(cell(0)->popdownBtn(), Qt::LeftButton);
    KZMarkMenuWidget* menu = list->markMenu();
    ASSERT_TRUE(menu->isVisible());
    EXPECT_TRUE(menu->actionWithTag(KZMarkRule::byDefault)->isVisible());
    EXPECT_FALSE(menu->actionWithTag(KZMarkRule::inLocation)->isVisible());
    EXPECT_TRUE(menu->actionWithTag(KZMarkRule::byDefault)->isChecked());
    QAction* newest = menu->actionWithTag(KZMarkRule::newest);
    EXPECT_EQ(newest->objectName(), u"sourceMarkRule3"_s);
    newest->trigger();
    EXPECT_FALSE(menu->isVisible());
    ASSERT_EQ(posted.size(), 2);
    const QVariantMap chosen = posted[1];
    EXPECT_EQ(chosen.value(K::checkBtnState).toInt(), 1);
    EXPECT_EQ(chosen.value(K::menuItemTag).toInt(), KZMarkRule::newest);
    EXPECT_EQ(chosen.value(K::menuItemTagToRestore).toInt(), KZMarkRule::newest);
    EXPECT_EQ(chosen.value(KZMarkRequests::oldMenuItemTagToRestore).toInt(), KZMarkRule::byDefault);
    EXPECT_EQ(chosen.value(KZMarkRequests::menuItemTitle).toString(), newest->text());
    EXPECT_EQ(chosen.value(K::locationTag).toULongLong(), 1u);
    EXPECT_NE(chosen.value(K::menu).value<KZMarkMenu*>(), nullptr);
    ASSERT_EQ(undo.count(), 2);
    EXPECT_EQ(undo.undoText(), platform::localizedString(u"undo_mark"_s).arg(newest->text()));

    // Undo replays the record through the same marking.
    undo.undo();
    ASSERT_EQ(posted.size(), 3);
    EXPECT_EQ(posted[2].value(K::menuItemTag).toInt(), KZMarkRule::restore);
    EXPECT_EQ(beeps, 0);
}

TEST_F(SourcesList, ALocationsMenuMarksWithinItAndNothingIsOfferedWithoutItems)
{
    ASSERT_NO_FATAL_FAILURE(make());
    fill(kBase + 2, 2, 2000, 0, 0);
    QTest::mouseClick(cell(3)->popdownBtn(), Qt::RightButton);
    KZMarkMenuWidget* menu = list->markMenu();
    ASSERT_TRUE(menu->isVisible()) << "a right press opens it too";
    EXPECT_FALSE(menu->actionWithTag(KZMarkRule::byDefault)->isVisible());
    EXPECT_TRUE(menu->actionWithTag(KZMarkRule::inLocation)->isVisible());
    EXPECT_TRUE(menu->actionWithTag(KZMarkRule::swap)->isVisible());
    EXPECT_TRUE(menu->actionWithTag(KZMarkRule::oldest)->isEnabled());
    menu->close();
    EXPECT_TRUE(menu->actionWithTag(KZMarkRule::oldest)->objectName().isEmpty());

    QTest::mouseClick(cell(1)->popdownBtn(), Qt::LeftButton);
    EXPECT_FALSE(menu->actionWithTag(KZMarkRule::oldest)->isEnabled()) << "no items";
    menu->close();
    aboutOpen = true;
    QTest::mouseClick(cell(3)->popdownBtn(), Qt::LeftButton);
    EXPECT_FALSE(menu->actionWithTag(KZMarkRule::oldest)->isEnabled()) << "About is open";
    menu->close();
}

TEST_F(SourcesList, TheArrowOpensTheMenuOnThePressWithItsFirstItemBelowIt)
{
    ASSERT_NO_FATAL_FAILURE(make());
    // Away from the screen's edges, so that nothing pushes the menu.
    list->view()->move(200, 200);
    QCoreApplication::processEvents();
    fill(kBase + 0, 4, 4000, 2, 2000);
    for (const auto button : {Qt::LeftButton, Qt::RightButton}) {
        for (int row : {0, 1}) {
            QToolButton* arrow = cell(row)->popdownBtn();
            QTest::mousePress(arrow, button);
            KZMarkMenuWidget* menu = list->markMenu();
            ASSERT_TRUE(menu->isVisible()) << "open before the release, row " << row;
            QAction* first = nullptr;
            for (QAction* action : menu->actions())
                if (action->isVisible() && !first)
                    first = action;
            ASSERT_NE(first, nullptr);
            const QPoint firstAt = menu->mapToGlobal(menu->actionGeometry(first).topLeft());
            // 50 left of the check button's height, 4 below the arrow's
            // bottom, as a group row's menu opens below its arrow.
            const QPoint expected =
                arrow->mapToGlobal(QPoint(cell(row)->checkBtn()->height() - 50, arrow->height() + 4));
            EXPECT_LE((firstAt - expected).manhattanLength(), 1) << row << ": " << firstAt.x() << "," << firstAt.y()
                                                                 << " for " << expected.x() << "," << expected.y();
            QTest::mouseRelease(arrow, button);
            EXPECT_TRUE(menu->isVisible()) << "the release keeps it open";
            menu->close();
        }
    }
    EXPECT_TRUE(posted.isEmpty());
}

TEST_F(SourcesList, ARequestForARowThatIsGoneIsDroppedWithABeep)
{
    ASSERT_NO_FATAL_FAILURE(make());
    list->markItemsWithState({{K::checkBtnState, 1}, {K::menuItemTag, 1}, {K::itemsToManageTag, kBase + 40}});
    list->markItemsWithState({{K::checkBtnState, 1}, {K::menuItemTag, 1}});
    EXPECT_EQ(beeps, 2);
    EXPECT_TRUE(posted.isEmpty());
    EXPECT_EQ(undo.count(), 0);
}

TEST_F(SourcesList, TheInfoButtonShowsOnHoverOnlyWhereThereIsSomethingToTell)
{
    ASSERT_NO_FATAL_FAILURE(make());
    fill(kBase + 0, 3, 3000, 0, 0);
    hover(cell(0));
    EXPECT_TRUE(cell(0)->infoBtn()->isVisible());
    hover(cell(1));
    EXPECT_TRUE(cell(1)->infoBtn()->isVisible());
    hover(cell(2));
    EXPECT_FALSE(cell(2)->infoBtn()->isVisible()) << "a location without duplicates";
    hover(cell(4));
    EXPECT_FALSE(cell(4)->infoBtn()->isVisible()) << "the marked row";
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(cell(0), &leave);
    EXPECT_FALSE(cell(0)->infoBtn()->isVisible());
    removing = true;
    hover(cell(0));
    EXPECT_FALSE(cell(0)->infoBtn()->isVisible());
}

TEST_F(SourcesList, OnlyTheRowUnderThePointerKeepsItsInfoButton)
{
    ASSERT_NO_FATAL_FAILURE(make());
    fill(kBase + 0, 3, 3000, 0, 0);
    fill(kBase + 1, 5, 5000, 0, 0);
    const auto pointAt = [](QWidget* widget) { QCursor::setPos(widget->mapToGlobal(widget->rect().center())); };
    const auto pointAway = [this] { QCursor::setPos(list->view()->mapToGlobal(QPoint(-80, -80))); };

    // The pointer goes from row to row and the first row's Leave is lost.
    pointAway();
    hover(cell(0));
    ASSERT_TRUE(cell(0)->infoBtn()->isVisible());
    hover(cell(1));
    EXPECT_FALSE(cell(0)->infoBtn()->isVisible());
    EXPECT_TRUE(cell(1)->infoBtn()->isVisible());

    // A popover that closes while the pointer is elsewhere takes its
    // row's button along; one that closes over its row leaves it.
    hover(cell(0));
    QTest::mouseClick(cell(0)->infoBtn(), Qt::LeftButton);
    KZPopoverResultSourceInfo* info = list->extraInfoCntrl();
    ASSERT_NE(info, nullptr);
    ASSERT_TRUE(cell(0)->popoverIsOpen());
    hover(cell(2));
    EXPECT_TRUE(cell(0)->infoBtn()->isVisible()) << "kept while its popover is open";
    pointAway();
    info->popover()->close();
    EXPECT_FALSE(cell(0)->infoBtn()->isVisible());
    hover(cell(1));
    QTest::mouseClick(cell(1)->infoBtn(), Qt::LeftButton);
    pointAt(cell(1));
    info->popover()->close();
    EXPECT_TRUE(cell(1)->infoBtn()->isVisible());

    // The list scrolls under a still pointer.
    list->view()->resize(260, 60);
    QCoreApplication::processEvents();
    pointAt(cell(1));
    hover(cell(1));
    ASSERT_TRUE(cell(1)->infoBtn()->isVisible());
    auto* table = static_cast<QAbstractScrollArea*>(list->view());
    table->verticalScrollBar()->setValue(table->verticalScrollBar()->maximum());
    QCoreApplication::processEvents();
    ASSERT_FALSE(cell(1)->visibleRegion().contains(cell(1)->mapFromGlobal(QCursor::pos())));
    EXPECT_FALSE(cell(1)->infoBtn()->isVisible());
}

TEST_F(SourcesList, ThePopoverShowsTheRowsPanelAndTellsWhenItCloses)
{
    ASSERT_NO_FATAL_FAILURE(make());
    fill(kBase + 1, 5, 5000, 2, 2000);
    fill(1, 10, 10000, 2, 2000);

    hover(cell(0));
    QTest::mouseClick(cell(0)->infoBtn(), Qt::LeftButton);
    KZPopoverResultSourceInfo* info = list->extraInfoCntrl();
    ASSERT_NE(info, nullptr);
    EXPECT_TRUE(info->popover()->isVisible());
    EXPECT_TRUE(info->allItemsView()->isVisible());
    EXPECT_FALSE(info->locationView()->isVisible());
    EXPECT_EQ(info->removedAllFld()->text(), u"Nothing removed yet"_s);
    // Beside the button, on its right, not over the rows below it.
    EXPECT_EQ(info->popover()->edge(), platform::Popover::Edge::Right);
    const QRect button(cell(0)->infoBtn()->mapToGlobal(QPoint(0, 0)), cell(0)->infoBtn()->size());
    EXPECT_GT(info->popover()->geometry().left(), button.right());
    EXPECT_TRUE(cell(0)->popoverIsOpen());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(cell(0), &leave);
    EXPECT_TRUE(cell(0)->infoBtn()->isVisible()) << "kept while its popover is open";
    info->popover()->close();
    EXPECT_FALSE(cell(0)->popoverIsOpen());

    hover(cell(2));
    QTest::mouseClick(cell(2)->infoBtn(), Qt::LeftButton);
    EXPECT_EQ(list->extraInfoCntrl(), info) << "one popover per list";
    EXPECT_TRUE(info->locationView()->isVisible());
    EXPECT_FALSE(info->allItemsView()->isVisible());
    EXPECT_EQ(info->name()->text(), u"Laptop"_s);
    EXPECT_EQ(info->pathShown(), sources[1]->url());
    EXPECT_EQ(info->markedLocationFld()->text(), list->rows().at(2)->appropriateInfoString(1, true));
    // A path element's menu shows that element, not the whole path.
    ASSERT_GE(info->pathElements().size(), 2u);
    info->pathElementClicked(u"1"_s);
    ASSERT_TRUE(info->pathMenu()->isVisible());
    info->pathMenu()->actions().first()->trigger();
    info->pathMenu()->close();
    ASSERT_EQ(workspace.revealed.size(), 1);
    EXPECT_EQ(workspace.revealed[0], info->pathElements()[1]);

    // The switch changes every list's lines.
    const QString before = cell(2)->infoText();
    info->infoSwitch()->click();
    EXPECT_FALSE(platform::UserDefaults::standard().boolForKey(KZDefaultsKey::show_marked_info));
    ASSERT_TRUE(kztest::processEventsUntil([&] { return cell(2)->infoText() != before; }));
    EXPECT_EQ(cell(2)->infoText(), list->rows().at(2)->formattedInfoWithOwnerTag(1, false));
    EXPECT_EQ(info->markedLocationFld()->text(), list->rows().at(2)->appropriateInfoString(1, false));
    info->popover()->close();

    // The marked row has no place: its own name and no path.
    list->showInfo(KZTag::markedItemsRowBase + 1, cell(4)->infoBtn());
    EXPECT_EQ(info->name()->text(), platform::localizedString(u"marked_item"_s));
    EXPECT_TRUE(info->pathBtn()->isHidden());
    EXPECT_TRUE(info->iconImg()->isHidden());
    info->popover()->close();
}

TEST_F(SourcesList, ASavedSelectionIsRestoredOnlyWhenItsRowExists)
{
    ASSERT_NO_FATAL_FAILURE(make());
    QList<quint64> reports;
    platform::Subscription watch = center().addObserver(
        KZNotification::sourceSelectionDidChange, platform::NotificationObject::number(1),
        [&](const platform::Notification& note) { reports << note.userInfo.value(u"tag"_s).toULongLong(); });
    list->setSavedSettings({{u"selection"_s, QVariant::fromValue(kBase + 9)}});
    QCoreApplication::processEvents();
    EXPECT_TRUE(reports.isEmpty());
    EXPECT_EQ(list->currSelectedRow(), 0);

    list->setSavedSettings(
        {{u"selection"_s, QVariant::fromValue(kBase + 2)},
         {u"sources"_s, QVariantList{QVariantMap{{u"tag"_s, QVariant::fromValue(kBase + 2)}, {u"removedCount"_s, 3}}}}});
    EXPECT_EQ(cell(3)->removedCount(), 3u);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !reports.isEmpty(); }));
    EXPECT_EQ(reports, QList<quint64>{kBase + 2});
    EXPECT_EQ(list->currSelectedRow(), 3);
    EXPECT_EQ(list->savedSettings().value(u"selection"_s).toULongLong(), kBase + 2);
}

// Tab, the arrows and Space work the rows as the mouse does; the focus
// alone, which an item view would take for a choice of its row, chooses
// nothing.
TEST_F(SourcesList, TheKeyboardGoesAlongTheRowsAndOnlySpaceChooses)
{
    ASSERT_NO_FATAL_FAILURE(make());
    fill(kBase + 0, 4, 4000, 2, 2000);
    fill(1, 10, 10000, 2, 2000);
    list->view()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(list->view(), kztest::kPatienceMs));
    // The pointer away: a row under it shows its info button, which Tab
    // reaches too.
    QCursor::setPos(list->view()->mapToGlobal(QPoint(-80, -80)));
    for (int row = 0; row < list->rows().count(); ++row)
        cell(row)->dropStaleHover();
    QList<QVariantMap> reports;
    platform::Subscription watch = center().addObserver(
        KZNotification::sourceSelectionDidChange, platform::NotificationObject::number(1),
        [&](const platform::Notification& note) { reports << note.userInfo; });
    const auto focused = [] { return QApplication::focusWidget(); };
    const auto press = [&](int key) {
        QTest::keyClick(focused(), Qt::Key(key));
        QCoreApplication::processEvents();
    };

    cell(0)->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(focused(), cell(0));
    // Laptop and Backup have nothing marked: their boxes are off and Tab
    // passes them; the marked row has neither box nor arrow. The tab's row
    // and Camera, which have figures to tell, end with their info buttons.
    const QList<QWidget*> order{cell(0)->checkBtn(), cell(0)->popdownBtn(), cell(0)->infoBtn(),
                                cell(1),             cell(1)->checkBtn(),   cell(1)->popdownBtn(),
                                cell(1)->infoBtn(),  cell(2),               cell(2)->popdownBtn(),
                                cell(3),             cell(3)->popdownBtn(), cell(4)};
    for (QWidget* next : order) {
        press(Qt::Key_Tab);
        ASSERT_EQ(focused(), next) << next->objectName().toStdString() << " expected, "
                                   << (focused() ? focused()->objectName().toStdString() : "nothing") << " has it";
    }
    EXPECT_EQ(list->currSelectedRow(), 0);
    EXPECT_TRUE(reports.isEmpty()) << "the focus chose a row";

    // Up and Down keep to the part of the row where they can; Left and
    // Right go along the row and hold at its ends.
    cell(1)->checkBtn()->setFocus(Qt::TabFocusReason);
    const std::vector<std::pair<int, QWidget*>> moves{
        {Qt::Key_Down, cell(2)},           {Qt::Key_Up, cell(1)},
        {Qt::Key_Right, cell(1)->checkBtn()}, {Qt::Key_Right, cell(1)->popdownBtn()},
        {Qt::Key_Right, cell(1)->infoBtn()},  {Qt::Key_Right, cell(1)->infoBtn()},
        {Qt::Key_Up, cell(0)->infoBtn()},     {Qt::Key_Down, cell(1)->infoBtn()},
        {Qt::Key_Down, cell(2)},              {Qt::Key_Up, cell(1)},
        {Qt::Key_Right, cell(1)->checkBtn()}, {Qt::Key_Right, cell(1)->popdownBtn()},
        {Qt::Key_Down, cell(2)->popdownBtn()},
        {Qt::Key_Left, cell(2)},           {Qt::Key_Up, cell(1)},
        {Qt::Key_Up, cell(0)},             {Qt::Key_Up, cell(0)},
        {Qt::Key_Left, cell(0)},           {Qt::Key_End, cell(0)},
        {Qt::Key_PageDown, cell(0)},
    };
    for (const auto& [key, next] : moves) {
        press(key);
        ASSERT_EQ(focused(), next) << QKeySequence(key).toString().toStdString() << ": "
                                   << (focused() ? focused()->objectName().toStdString() : "nothing");
    }
    EXPECT_TRUE(reports.isEmpty());
    EXPECT_EQ(list->currSelectedRow(), 0) << "keys the rows leave do not move the view's current row";

    cell(2)->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Space);
    ASSERT_EQ(reports.size(), 1);
    EXPECT_EQ(reports[0].value(u"tag"_s).toULongLong(), kBase + 1);
    EXPECT_EQ(list->currSelectedRow(), 2);
    EXPECT_TRUE(posted.isEmpty()) << "choosing marks nothing";
}

TEST_F(SourcesList, SpaceTicksTheBoxAsOneStepAndOpensTheMenuAndTheButtonsShowTheFocus)
{
    ASSERT_NO_FATAL_FAILURE(make());
    fill(kBase + 0, 4, 4000, 2, 2000);
    list->view()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(list->view(), kztest::kPatienceMs));
    QCheckBox* box = cell(1)->checkBtn();
    QToolButton* arrow = cell(1)->popdownBtn();
    EXPECT_FALSE(KZFocusRing::isShownOn(box));

    box->setFocus(Qt::TabFocusReason);
    EXPECT_TRUE(KZFocusRing::isShownOn(box));
    EXPECT_FALSE(KZFocusRing::isShownOn(arrow));
    QTest::keyClick(box, Qt::Key_Space);
    ASSERT_EQ(posted.size(), 1);
    EXPECT_EQ(posted[0].value(K::checkBtnState).toInt(), 0);
    EXPECT_EQ(posted[0].value(K::itemsToManageTag).toULongLong(), kBase);
    ASSERT_EQ(undo.count(), 1) << "one step, as a click";
    EXPECT_EQ(undo.undoText(), platform::localizedString(u"undo_unmark"_s));
    EXPECT_EQ(list->currSelectedRow(), 0);

    arrow->setFocus(Qt::TabFocusReason);
    EXPECT_FALSE(KZFocusRing::isShownOn(box));
    EXPECT_TRUE(KZFocusRing::isShownOn(arrow));
    QTest::keyClick(arrow, Qt::Key_Space);
    KZMarkMenuWidget* menu = list->markMenu();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return menu->isVisible(); }));
    EXPECT_TRUE(menu->actionWithTag(KZMarkRule::inLocation)->isVisible());
    menu->close();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !menu->isVisible(); }));
    EXPECT_EQ(posted.size(), 1) << "opening the menu marks nothing";
    EXPECT_EQ(list->currSelectedRow(), 0);
}

// The row draws its own ring, in the highlight colour, only while it has
// the focus; on the chosen row's blue an inner white line goes with it.
TEST_F(SourcesList, ARowDrawsItsRingWhileItHasTheFocus)
{
    ASSERT_NO_FATAL_FAILURE(make());
    list->view()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(list->view(), kztest::kPatienceMs));
    const QColor ring = KZFocusRing::colour(cell(1));
    ASSERT_EQ(ring.alpha(), 255);
    const auto edge = [&](int row) { return cell(row)->grab().toImage().pixelColor(2, cell(row)->height() / 2); };
    const auto near = [](const QColor& a, const QColor& b) {
        return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) < 24;
    };
    EXPECT_FALSE(near(edge(1), ring));
    cell(1)->setFocus(Qt::TabFocusReason);
    EXPECT_TRUE(near(edge(1), ring)) << edge(1).name().toStdString() << " for " << ring.name().toStdString();
    cell(0)->setFocus(Qt::TabFocusReason);
    EXPECT_FALSE(near(edge(1), ring));
    EXPECT_TRUE(near(edge(0), ring)) << "the chosen row too";
}
