#include "RealSearch.h"

#include "platform/MainThread.h"
#include "platform/Paths.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "removal/KZRestoreRemovedFiles.h"
#include "removal/ui/KZRemovePanelWidget.h"
#include "result/window/ui/RemovalPanelSteps.h"
#include "removal/ui/KZRestoreProgressWindow.h"
#include "result/model/KZFoundItemsCntrl.h"
#include "result/model/KZMarkingRequest.h"
#include "result/model/KZFoundListCntrl.h"
#include "result/model/KZResultCntrl.h"
#include "result/model/ui/KZResultItemsTypeCntrl.h"
#include "result/panes/ui/KZResultTabsView.h"
#include "result/window/ui/KZFoundItemsModel.h"
#include "result/window/ui/KZFoundItemsOutlineView.h"
#include "result/window/ui/KZMarkMenuWidget.h"
#include "result/window/ui/KZPopoverResultSourceInfo.h"
#include "result/window/ui/KZListMarkingCntrl.h"
#include "result/window/KZResultMenus.h"
#include "services/ui/KZFocusRing.h"
#include "services/ui/Popover.h"
#include "services/ui/KZMenuSet.h"
#include "result/window/ui/KZResultOutlineCntrl.h"
#include "result/window/ui/KZResultSourceTableCellView.h"
#include "result/window/ui/KZResultSourcesListCntrl.h"
#include "result/window/ui/KZResultWindowCntrl.h"
#include "platform/Trash.h"
#include "services/KZErrorDelegate.h"
#include "services/KZFileDialogPresenter.h"
#include "support/ScriptedPresenter.h"
#include "services/KZFilesUtilities.h"
#include "services/ui/KZFileDialogSheetPresenter.h"
#include "services/ui/KZInterfaceUtilities.h"
#include "services/ui/KZOpenPanel.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZDefaultsRegistry.h"
#include "settings/KZTags.h"

#include <QAbstractItemView>
#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QCheckBox>
#include <QCursor>
#include <QEnterEvent>
#include <QDialogButtonBox>
#include <QFile>
#include <QScopeGuard>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QUndoStack>

#include <gtest/gtest.h>

#include <fstream>

namespace {

namespace fs = std::filesystem;
using namespace Qt::StringLiterals;

// Three sources: one file in all three, one in the first and the last, and
// one of the second's own.
class SourcesFlow : public ::testing::Test {
protected:
    void SetUp() override
    {
        realsearch::prepareWindowDefaults();
        platform::UserDefaults::standard().setValue(KZDefaultsKey::show_marked_info, false);
        root = kztest::sandboxHome() / ("sources-flow-" + std::to_string(::getpid()));
        const std::string shared(3000, 'x'), pair(5000, 'y'), own(7000, 'z');
        write("Camera/shared.jpg", shared);
        write("Laptop/shared.jpg", shared);
        write("Backup/shared.jpg", shared);
        write("Camera/pair.txt", pair);
        write("Backup/pair.txt", pair);
        write("Laptop/own.txt", own);
    }
    void TearDown() override
    {
        window.reset();
        KZRemovePanelWidget::setAnimationsInstant(false);
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    void write(const fs::path& rel, const std::string& bytes) const
    {
        fs::create_directories((root / rel).parent_path());
        std::ofstream(root / rel, std::ios::binary) << bytes;
    }

    void open()
    {
        KZResultWindowCntrl::Services services;
        services.askToClose = [] { return true; };
        services.beep = [this] { ++beeps; };
        services.undoMove = [](const QVariant& undoDict) {
            if (undoDict.canConvert<KZUndoDict>())
                KZRestoreProgressWindow::undoWithProgress(KZRestoreRemovedFiles::sharedControl(),
                                                          undoDict.value<KZUndoDict>());
        };
        if (searchEmptiedFolders)
            services.emptyFoldersSources = [](const QVariantList& folders) {
                std::vector<KZSourceItemRef> sources;
                for (const QVariant& entry : folders) {
                    const QVariantMap folder = entry.toMap();
                    const auto info = KZFilesUtilities::sharedControl().directoryInfoForPath(
                        folder.value(u"url"_s).value<fs::path>());
                    if (!info)
                        continue;
                    auto source = KZSourceItem::create(*info);
                    source->setLocationLabelTag(static_cast<qint16>(folder.value(u"locationLabelTag"_s).toInt()));
                    sources.push_back(source);
                }
                return sources;
            };
        window = std::make_unique<KZResultWindowCntrl>(services);
        window->resize(1000, 640);
        ASSERT_TRUE(realsearch::openResult(
            *window, realsearch::searchFor({root / "Camera", root / "Laptop", root / "Backup"})));
        window->showWindowWithTabTag(KZTag::allDuplicates);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get(), kztest::kPatienceMs));
        auto* tab = dynamic_cast<KZResultItemsTypeCntrl*>(window->resultCntrl()->itemsTypeCntrl(KZTag::allDuplicates));
        ASSERT_NE(tab, nullptr);
        list = dynamic_cast<KZResultSourcesListCntrl*>(tab->sourcesListCntrl());
        ASSERT_NE(list, nullptr);
        ASSERT_TRUE(list->view()->isVisible());
    }

    const KZResultSourcesTypeItem& row(int index) const { return *list->rows().at(index); }
    QString line(int index) const { return list->cellAt(index)->infoText(); }

    fs::path root;
    std::unique_ptr<KZResultWindowCntrl> window;
    KZResultSourcesListCntrl* list = nullptr;
    int beeps = 0;
    // The removal's follow-up search for the folders it emptied.
    bool searchEmptiedFolders = false;
};

} // namespace

TEST_F(SourcesFlow, TheColumnFollowsTheSearchMarkingAndRemoval)
{
    ASSERT_NO_FATAL_FAILURE(open());
    ASSERT_EQ(list->rows().count(), 5);
    EXPECT_EQ(list->cellAt(1)->nameText(), u"Camera"_s);
    EXPECT_EQ(list->cellAt(2)->nameText(), u"Laptop"_s);
    EXPECT_EQ(list->cellAt(3)->nameText(), u"Backup"_s);
    // Each list's count arrives from its worker.
    ASSERT_TRUE(kztest::processEventsUntil([&] {
        return row(0).itemsCount == 5 && row(1).itemsCount == 2 && row(2).itemsCount == 1 && row(3).itemsCount == 2;
    }));
    EXPECT_EQ(row(1).itemsSize, 8000u);
    EXPECT_EQ(line(2), row(2).formattedInfoWithOwnerTag(0, false));
    EXPECT_TRUE(line(2).contains(u"1 items"_s)) << line(2).toStdString();

    // Everything unmarked from the tab's own box; then the Laptop's copy
    // marked from its row's menu, as one step of the window's undo.
    QCheckBox* all = list->cellAt(0)->checkBtn();
    if (all->isEnabled())
        QTest::mouseClick(all, Qt::LeftButton);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return row(4).markedCount == 0; }));
    // The lines show marked figures again, as the popover's switch sets.
    platform::UserDefaults::standard().setValue(KZDefaultsKey::show_marked_info, true);
    platform::NotificationCenter::defaultCenter().post(u"updateInfoString"_s, platform::bundleIdentifier());
    ASSERT_TRUE(kztest::processEventsUntil([&] { return line(2) == row(2).formattedInfoWithOwnerTag(0, true); }));
    const QString laptopBefore = line(2), markedBefore = line(4);
    QTest::mouseClick(list->cellAt(2)->popdownBtn(), Qt::LeftButton);
    ASSERT_TRUE(list->markMenu()->isVisible());
    QAction* inLocation = list->markMenu()->actionWithTag(KZMarkRule::inLocation);
    ASSERT_TRUE(inLocation->isVisible() && inLocation->isEnabled());
    inLocation->trigger();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return row(2).markedCount == 1; }));
    EXPECT_EQ(row(4).markedCount, 1u);
    EXPECT_EQ(row(4).markedSize, 3000u);
    EXPECT_EQ(row(1).markedCount, 0u);
    EXPECT_EQ(row(2).markedMenuItem, KZMarkRule::inLocation) << "the rule shows in that row's menu";
    EXPECT_EQ(row(0).markedMenuItem, KZMarkRule::byDefault);
    EXPECT_NE(line(2), laptopBefore);
    EXPECT_NE(line(4), markedBefore);
    EXPECT_TRUE(window->undoStack()->canUndo());
    EXPECT_EQ(window->undoStack()->undoText(), platform::localizedString(u"undo_mark"_s).arg(inLocation->text()));

    // Remove, the Trash page, Start: the Laptop's figures move to removed.
    ASSERT_NO_FATAL_FAILURE(kztest::removeThroughThePanel(window.get()));
    EXPECT_FALSE(fs::exists(root / "Laptop/shared.jpg"));
    EXPECT_EQ(row(2).removedCount, 1u);
    EXPECT_EQ(row(2).removedSize, 3000u);
    EXPECT_EQ(row(2).markedCount, 0u);
    EXPECT_EQ(row(0).removedCount, 1u);
    EXPECT_EQ(row(4).markedCount, 0u);
    EXPECT_EQ(row(2).itemsCount, 0u);
    EXPECT_TRUE(line(2).endsWith(u"1 removed"_s)) << line(2).toStdString();
    EXPECT_EQ(beeps, 0);
}

// Mark / Unmark from the Result menu, the list's context menu and Edit ▸
// Mark toggles the selected copy; the figures of the tab's row and of the
// marked row count the marks the boxes show, and the undo step says which.
TEST_F(SourcesFlow, MarkFromTheMenusCountsTheMarksTheBoxesShow)
{
    ASSERT_NO_FATAL_FAILURE(open());
    ASSERT_TRUE(kztest::processEventsUntil([&] { return row(0).itemsCount == 5 && row(4).markedCount > 0; }));
    KZResultOutlineCntrl* outline = window->outlineOfTab(KZTag::allDuplicates);
    KZFoundItemsOutlineView* view = outline->foundListView();
    auto* marking = view->findChild<KZListMarkingCntrl*>();
    ASSERT_NE(marking, nullptr);
    const auto& groups = outline->foundModel()->list()->root->groups();
    int pairRow = -1;
    for (int g = 0; g < groups.size(); ++g)
        if (groups.at(g)->items().first()->path().filename() == "pair.txt")
            pairRow = g;
    ASSERT_GE(pairRow, 0);
    const QModelIndex pairGroup = view->model()->index(pairRow, 0);
    view->expand(pairGroup);
    const auto boxesTicked = [&] {
        quint64 ticked = 0;
        for (const auto& group : groups)
            for (const KZFoundItemRef& item : group->items())
                ticked += item->isMarked() ? 1 : 0;
        return ticked;
    };
    const auto countsMatch = [&] { return row(0).markedCount == boxesTicked() && row(4).markedCount == boxesTicked(); };
    ASSERT_TRUE(countsMatch());
    const auto member = [&](int at) { return view->model()->index(at, 0, pairGroup); };
    const auto itemAt = [&](int at) { return outline->foundModel()->rowAt(member(at)).item; };
    const int markedAt = itemAt(0)->isMarked() ? 0 : 1;
    ASSERT_TRUE(itemAt(markedAt)->isMarked());
    ASSERT_FALSE(itemAt(1 - markedAt)->isMarked()) << "the default rule keeps one copy";
    const auto select = [&](int at) {
        view->selectionModel()->select(member(at), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        window->validateMenus();
    };
    const QString unmarkStep = platform::localizedString(u"undo_unmark"_s);
    const QString markStep = platform::localizedString(u"mark_item"_s);

    // Result ▸ Mark / Unmark on the marked copy unmarks it.
    const quint64 before = boxesTicked();
    select(markedAt);
    QAction* resultMark = KZMenuSet::shared().item(KZMenuSet::Result, KZMenuSet::MarkTag);
    ASSERT_TRUE(resultMark && resultMark->isEnabled());
    resultMark->trigger();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !itemAt(markedAt)->isMarked(); }));
    EXPECT_EQ(boxesTicked(), before - 1);
    EXPECT_TRUE(countsMatch()) << row(4).markedCount << " counted, " << boxesTicked() << " ticked";
    EXPECT_EQ(window->undoStack()->undoText(), unmarkStep);

    // The context menu on the other copy marks it: no copy was marked, so
    // the group keeps one and nothing is asked.
    const QRect otherRect = view->visualRect(member(1 - markedAt));
    marking->prepareContextMenu(view->indexAt(otherRect.center()));
    QAction* contextMark = nullptr;
    for (QAction* action : marking->contextMenu()->actions())
        if (action->data().toInt() == KZResultMenus::markTag)
            contextMark = action;
    ASSERT_TRUE(contextMark && contextMark->isEnabled());
    contextMark->trigger();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return itemAt(1 - markedAt)->isMarked(); }));
    EXPECT_EQ(boxesTicked(), before);
    EXPECT_TRUE(countsMatch()) << row(4).markedCount << " counted, " << boxesTicked() << " ticked";
    EXPECT_EQ(window->undoStack()->undoText(), markStep);

    // Edit ▸ Mark on it again clears it; Undo puts the mark back, counted.
    select(1 - markedAt);
    QAction* editMark = window->listCommandItem(KZResultMenus::markTag);
    ASSERT_TRUE(editMark && editMark->isEnabled());
    editMark->trigger();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !itemAt(1 - markedAt)->isMarked(); }));
    EXPECT_TRUE(countsMatch()) << row(4).markedCount << " counted, " << boxesTicked() << " ticked";
    window->undoStack()->undo();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return itemAt(1 - markedAt)->isMarked(); }));
    EXPECT_TRUE(countsMatch()) << row(4).markedCount << " counted, " << boxesTicked() << " ticked";
    EXPECT_EQ(beeps, 0);
}

// The removal panel opens over the tab with the row the user chose still
// chosen, and the list under the veil still that row's list, wherever the
// keyboard focus was: here on the info button of a row under the pointer,
// where a Tab from the list puts it.
TEST_F(SourcesFlow, TheChosenRowStaysChosenWhileTheRemovalPanelOpens)
{
    ASSERT_NO_FATAL_FAILURE(open());
    ASSERT_TRUE(kztest::processEventsUntil([&] { return row(0).itemsCount == 5 && row(4).markedCount > 0; }));
    auto* tab = dynamic_cast<KZResultItemsTypeCntrl*>(window->resultCntrl()->itemsTypeCntrl(KZTag::allDuplicates));
    KZFoundListCntrl* found = tab->foundListCntrl();
    for (const int chosen : {0, 2}) {
        SCOPED_TRACE(chosen);
        QTest::mouseClick(list->cellAt(chosen), Qt::LeftButton, {}, QPoint(40, 12));
        ASSERT_TRUE(kztest::processEventsUntil([&] { return found->nsCurrSelectedSourceTag() == row(chosen).tag; }));
        ASSERT_EQ(list->currSelectedRow(), chosen);

        KZResultSourceTableCellView* hovered = list->cellAt(3);
        QCursor::setPos(hovered->mapToGlobal(hovered->rect().center()));
        QEnterEvent enter(hovered->rect().center(), hovered->rect().center(), hovered->mapToGlobal(hovered->rect().center()));
        QApplication::sendEvent(hovered, &enter);
        ASSERT_TRUE(hovered->infoBtn()->isVisible());
        hovered->infoBtn()->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(hovered->infoBtn()->hasFocus());

        QTest::mouseClick(window->removeBtn(), Qt::LeftButton);
        QPointer<KZRemovePanelWidget> panel;
        ASSERT_TRUE(kztest::processEventsUntil([&] {
            panel = window->findChild<KZRemovePanelWidget*>();
            return panel && panel->visibleCard() == KZRemovePanelWidget::Card::Choose;
        }));
        QTest::qWait(50);
        EXPECT_EQ(list->currSelectedRow(), chosen);
        const QModelIndexList selected = qobject_cast<QAbstractItemView*>(list->view())->selectionModel()->selectedRows();
        ASSERT_EQ(selected.size(), 1);
        EXPECT_EQ(selected.first().row(), chosen) << "the row shown chosen";
        EXPECT_EQ(found->nsCurrSelectedSourceTag(), row(chosen).tag) << "the list under the veil";

        QTest::keyClick(panel, Qt::Key_Escape);
        ASSERT_TRUE(kztest::processEventsUntil([&] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return !panel && !window->isRemoving();
        }));
        EXPECT_EQ(list->currSelectedRow(), chosen);
        EXPECT_EQ(found->nsCurrSelectedSourceTag(), row(chosen).tag);
    }
}

// Mark in Folder from the tab row's menu asks in the real folder panel, a
// sheet of the window: a cancel changes nothing; a folder chosen with a
// click marks the copies inside it, and each group keeps a copy.
TEST_F(SourcesFlow, MarkInFolderAsksForAFolderAndMarksTheCopiesInsideIt)
{
    KZFileDialogPresenter::setShared(std::make_shared<KZFileDialogSheetPresenter>());
    const auto unregister = qScopeGuard([] { KZFileDialogPresenter::setShared(nullptr); });
    ASSERT_NO_FATAL_FAILURE(open());
    ASSERT_TRUE(kztest::processEventsUntil([&] { return row(0).itemsCount == 5; }));
    const auto choose = [&]() -> KZOpenPanel* {
        QTest::mouseClick(list->cellAt(0)->popdownBtn(), Qt::LeftButton);
        EXPECT_TRUE(list->markMenu()->isVisible());
        QAction* inFolders = list->markMenu()->actionWithTag(KZMarkRule::byChosenFolder);
        EXPECT_TRUE(inFolders->isVisible() && inFolders->isEnabled());
        inFolders->trigger();
        list->markMenu()->close();
        QPointer<KZOpenPanel> panel;
        kztest::processEventsUntil([&] {
            panel = window->findChild<KZOpenPanel*>();
            return panel && panel->isVisible();
        });
        return panel;
    };

    const QString markedBefore = line(4);
    QPointer<KZOpenPanel> panel = choose();
    ASSERT_TRUE(panel);
    EXPECT_EQ(panel->windowModality(), Qt::WindowModal);
    EXPECT_FALSE(panel->allowsMultipleSelection());
    EXPECT_EQ(panel->windowTitle(), platform::localizedString(u"ask_add_location_title"_s));
    EXPECT_EQ(panel->message(), platform::localizedString(u"ask_add_location"_s));
    panel->reject();
    ASSERT_TRUE(kztest::processEventsUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return !panel;
    }));
    kztest::processEventsUntil([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(line(4), markedBefore);

    // Camera in the panel's list; the button that takes it says what it
    // does.
    panel = choose();
    ASSERT_TRUE(panel);
    panel->setDirectory(QFile::decodeName(root.c_str()));
    // The view the panel shows: its list or its detailed list.
    QAbstractItemView* view = nullptr;
    for (auto* each : panel->findChildren<QAbstractItemView*>())
        if ((each->objectName() == u"listView"_s || each->objectName() == u"treeView"_s) && each->isVisible())
            view = each;
    ASSERT_NE(view, nullptr);
    const auto rowNamed = [&](const QString& name) {
        const QModelIndex folder = view->rootIndex();
        for (int i = 0; i < view->model()->rowCount(folder); ++i)
            if (view->model()->index(i, 0, folder).data().toString() == name)
                return view->model()->index(i, 0, folder);
        return QModelIndex();
    };
    ASSERT_TRUE(kztest::processEventsUntil([&] { return rowNamed(u"Camera"_s).isValid(); }));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(rowNamed(u"Camera"_s)).center());
    QPushButton* accept = panel->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Open);
    ASSERT_NE(accept, nullptr);
    EXPECT_TRUE(accept->isEnabled());
    EXPECT_EQ(accept->text().remove(u'&'), u"Choose"_s);
    QTest::mouseClick(accept, Qt::LeftButton);

    // Camera's copies of shared.jpg and pair.txt; every other copy kept.
    ASSERT_TRUE(kztest::processEventsUntil([&] { return row(4).markedCount == 2; }));
    EXPECT_EQ(row(1).markedCount, 2u);
    EXPECT_EQ(row(2).markedCount, 0u);
    EXPECT_EQ(row(3).markedCount, 0u);
    EXPECT_EQ(row(0).markedMenuItem, KZMarkRule::byChosenFolder);
    QString title = list->markMenu()->actionWithTag(KZMarkRule::byChosenFolder)->text();
    title.chop(1); // the ellipsis
    EXPECT_EQ(window->undoStack()->undoText(), platform::localizedString(u"undo_mark"_s).arg(title));
    // Edit names the rule once: "Undo Mark in Folder", never "Undo Mark Mark in Folder".
    QAction* undo = nullptr;
    for (QAction* menu : window->menuBar()->actions())
        if (menu->menu() && menu->text().remove(u'&') == u"Edit"_s)
            undo = menu->menu()->actions().value(0);
    ASSERT_NE(undo, nullptr);
    EXPECT_EQ(undo->text(), u"Undo Mark in Folder"_s);
    window->undoStack()->undo();
    EXPECT_EQ(window->undoStack()->redoText(), u"Mark in Folder"_s);
    EXPECT_EQ(beeps, 0);
}

// The folder panel of a row's Mark in Folder opens in the place the row
// stands for: a location row in its location, the tab's row in the folder
// that holds every searched location.
TEST_F(SourcesFlow, MarkInFolderOpensInTheRowsOwnFolder)
{
    KZFileDialogPresenter::setShared(std::make_shared<KZFileDialogSheetPresenter>());
    const auto unregister = qScopeGuard([] { KZFileDialogPresenter::setShared(nullptr); });
    ASSERT_NO_FATAL_FAILURE(open());
    ASSERT_TRUE(kztest::processEventsUntil([&] { return row(0).itemsCount == 5 && row(2).itemsCount == 1; }));
    const auto folderAskedFrom = [&](int index) -> std::string {
        QTest::mouseClick(list->cellAt(index)->popdownBtn(), Qt::LeftButton);
        QAction* inFolders = list->markMenu()->actionWithTag(KZMarkRule::byChosenFolder);
        EXPECT_TRUE(inFolders->isVisible() && inFolders->isEnabled());
        inFolders->trigger();
        list->markMenu()->close();
        QPointer<KZOpenPanel> panel;
        kztest::processEventsUntil([&] {
            panel = window->findChild<KZOpenPanel*>();
            return panel && panel->isVisible();
        });
        if (!panel)
            return "no panel";
        const std::string folder = QFile::encodeName(panel->directory().absolutePath()).toStdString();
        panel->reject();
        kztest::processEventsUntil([&] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return !panel;
        });
        return folder;
    };
    const auto text = [](const fs::path& path) { return path.string(); };
    EXPECT_EQ(folderAskedFrom(2), text(root / "Laptop"));
    EXPECT_EQ(folderAskedFrom(3), text(root / "Backup"));
    EXPECT_EQ(folderAskedFrom(0), text(root));
    EXPECT_EQ(beeps, 0);
}

// A removal empties a folder and the follow-up lists it on a tab of empty
// folders; the Edit menu's Undo fills it again, so the tab, which would
// otherwise offer to remove the folder with what is back inside, goes.
TEST_F(SourcesFlow, AnUndoneRemovalTakesTheFoldersItEmptiedOffTheEmptyFoldersTab)
{
    const std::string beach(9000, 'b');
    write("Camera/Trip/beach.jpg", beach);
    write("Backup/beach.jpg", beach);
    searchEmptiedFolders = true;
    ASSERT_NO_FATAL_FAILURE(open());
    ASSERT_TRUE(kztest::processEventsUntil([&] { return row(1).itemsCount == 3; }));
    QCheckBox* all = list->cellAt(0)->checkBtn();
    if (all->isEnabled())
        QTest::mouseClick(all, Qt::LeftButton);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return row(4).markedCount == 0; }));
    // Every copy in Camera, the one in Trip among them.
    QTest::mouseClick(list->cellAt(1)->popdownBtn(), Qt::LeftButton);
    list->markMenu()->actionWithTag(KZMarkRule::inLocation)->trigger();
    list->markMenu()->close();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return row(1).markedCount == 3; }));

    QTest::mouseClick(window->removeBtn(), Qt::LeftButton);
    QPointer<KZRemovePanelWidget> panel;
    ASSERT_TRUE(kztest::processEventsUntil([&] {
        panel = window->findChild<KZRemovePanelWidget*>();
        return panel && panel->visibleCard() == KZRemovePanelWidget::Card::Choose;
    }));
    // Moved to a folder, which the Edit menu's Undo brings back from.
    const fs::path destination = root / "Moved";
    fs::create_directories(destination);
    KZInterfaceUtilities::setPanelAnswerProvider([&](const KZOpenPanel&) {
        return KZInterfaceUtilities::PanelAnswer{1, {QFile::decodeName(destination.c_str())}};
    });
    const auto noPanel = qScopeGuard([] { KZInterfaceUtilities::setPanelAnswerProvider({}); });
    QTest::mouseClick(panel->findChild<QPushButton*>(u"removalToFolder"_s), Qt::LeftButton);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return panel->movePageShown(); }));
    QTest::mouseClick(panel->findChild<QPushButton*>(u"removalChoose"_s), Qt::LeftButton);
    QPushButton* start = panel->findChild<QPushButton*>(u"removalStartMove"_s);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return start->isEnabled(); }));
    QTest::mouseClick(start, Qt::LeftButton);
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] { return panel && panel->visibleCard() == KZRemovePanelWidget::Card::Final; }, std::chrono::seconds(30)));
    QTest::mouseClick(panel->findChild<QPushButton*>(u"removalClose"_s), Qt::LeftButton);
    ASSERT_TRUE(kztest::processEventsUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return !panel && !window->isRemoving();
    }));
    ASSERT_FALSE(fs::exists(root / "Camera/Trip/beach.jpg"));
    KZResultCntrl* result = window->resultCntrl();
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] {
            const auto folders = result->foundItemsCntrl()->allEmptyFolders();
            return result->itemsTypeCntrl(KZTag::emptyFolders) && folders && !folders->isEmpty();
        },
        std::chrono::seconds(30)));
    KZResultTabsView* tabs = window->tabsStrip();
    ASSERT_NE(tabs, nullptr);
    ASSERT_TRUE(tabs->fileTypes().count(KZTag::emptyFolders));

    // The menu's items are brought up to date as it opens.
    Q_EMIT window->editMenu()->aboutToShow();
    QAction* undo = window->editMenu()->actions().first();
    ASSERT_TRUE(undo->isEnabled());
    undo->trigger();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return fs::exists(root / "Camera/Trip/beach.jpg"); },
                                           std::chrono::seconds(30)));
    // The tab and the list it showed go in separate steps: wait for both.
    EXPECT_TRUE(kztest::processEventsUntil(
        [&] {
            return !result->itemsTypeCntrl(KZTag::emptyFolders)
                && !result->foundItemsCntrl()->allEmptyFolders().has_value();
        },
        std::chrono::seconds(10)));
    EXPECT_FALSE(tabs->fileTypes().count(KZTag::emptyFolders));
    EXPECT_TRUE(fs::exists(root / "Camera/shared.jpg"));
    EXPECT_EQ(beeps, 0);
}

// The folders a removal emptied are listed, marked, on their own tab, and
// Remove takes them to the Trash with the registered settings: an empty
// folder belongs to no group of duplicates, so no "last copy" keeps it.
TEST_F(SourcesFlow, FoldersEmptiedByARemovalGoToTheTrashFromTheirOwnTab)
{
    const std::string beach(9000, 'b');
    write("Camera/Trip/beach.jpg", beach);
    write("Backup/beach.jpg", beach);
    searchEmptiedFolders = true;
    auto alerts = std::make_shared<kztest::ScriptedPresenter>();
    const auto previous = KZErrorDelegate::sharedControl().presenter();
    KZErrorDelegate::sharedControl().setPresenter(alerts);
    const auto restore = qScopeGuard([&] { KZErrorDelegate::sharedControl().setPresenter(previous); });
    const fs::path trash = platform::homeTrashDirectory();
    std::error_code ec;
    fs::remove_all(trash, ec);
    ASSERT_NO_FATAL_FAILURE(open());
    ASSERT_TRUE(kztest::processEventsUntil([&] { return row(1).itemsCount == 3; }));
    QCheckBox* all = list->cellAt(0)->checkBtn();
    if (all->isEnabled())
        QTest::mouseClick(all, Qt::LeftButton);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return row(4).markedCount == 0; }));
    QTest::mouseClick(list->cellAt(1)->popdownBtn(), Qt::LeftButton);
    list->markMenu()->actionWithTag(KZMarkRule::inLocation)->trigger();
    list->markMenu()->close();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return row(1).markedCount == 3; }));

    // Remove, the Trash, Start, and the done card closed.
    const auto removeFromShownTab = [&] {
        QTest::mouseClick(window->removeBtn(), Qt::LeftButton);
        QPointer<KZRemovePanelWidget> panel;
        ASSERT_TRUE(kztest::processEventsUntil([&] {
            panel = window->findChild<KZRemovePanelWidget*>();
            return panel && panel->visibleCard() == KZRemovePanelWidget::Card::Choose;
        }));
        QTest::mouseClick(panel->startButton(), Qt::LeftButton);
        ASSERT_TRUE(kztest::processEventsUntil(
            [&] {
                QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
                if (panel && panel->visibleCard() == KZRemovePanelWidget::Card::Final)
                    QTest::mouseClick(panel->findChild<QPushButton*>(u"removalClose"_s), Qt::LeftButton);
                return !panel && !window->isRemoving();
            },
            std::chrono::seconds(30)));
    };
    ASSERT_NO_FATAL_FAILURE(removeFromShownTab());
    ASSERT_FALSE(fs::exists(root / "Camera/Trip/beach.jpg"));

    // The follow-up lists what the removal emptied, marked.
    KZResultCntrl* result = window->resultCntrl();
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] {
            const auto folders = result->foundItemsCntrl()->allEmptyFolders();
            return result->itemsTypeCntrl(KZTag::emptyFolders) && folders && !folders->isEmpty();
        },
        std::chrono::seconds(30)));
    const KZFoundItemArray emptied = *result->foundItemsCntrl()->allEmptyFolders();
    std::vector<fs::path> folders;
    for (const KZFoundItemRef& folder : emptied) {
        EXPECT_TRUE(folder->isMarked()) << folder->url();
        folders.push_back(folder->url());
    }
    window->showWindowWithTabTag(KZTag::emptyFolders);
    ASSERT_TRUE(kztest::processEventsUntil([&] {
        KZResultOutlineCntrl* tab = window->outlineOfTab(KZTag::emptyFolders);
        return tab && tab->foundListView()->isVisible() && tab->foundModel()->rowCount() > 0;
    }));
    const std::size_t alertsBefore = alerts->shown();
    ASSERT_NO_FATAL_FAILURE(removeFromShownTab());
    for (const fs::path& folder : folders)
        EXPECT_FALSE(fs::exists(folder)) << folder << " stayed";
    EXPECT_TRUE(fs::exists(trash / "files" / "Camera") || fs::exists(trash / "files" / "Trip"));
    for (std::size_t i = alertsBefore; i < alerts->shown(); ++i)
        ADD_FAILURE() << "alert: " << alerts->calls[i].alert.messageText.toStdString();
    EXPECT_TRUE(fs::exists(root / "Backup/beach.jpg"));
    EXPECT_EQ(beeps, 0);
}

// In the window, Tab from Find by name goes through every row of the
// sources and the buttons a row offers (its info button included, shown
// while the row holds the focus), then to the list, choosing no row on the
// way; the list then wears its ring. Shift+Tab goes back the same way. The
// pointer rests over a row: it adds no stop of its own.
TEST_F(SourcesFlow, TabGoesFromFindByNameThroughTheRowsToTheList)
{
    ASSERT_NO_FATAL_FAILURE(open());
    KZResultSourceTableCellView* hovered = list->cellAt(1);
    QCursor::setPos(hovered->mapToGlobal(hovered->rect().center()));
    QEnterEvent enter(hovered->rect().center(), hovered->rect().center(), hovered->mapToGlobal(hovered->rect().center()));
    QApplication::sendEvent(hovered, &enter);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return row(0).itemsCount == 5 && row(4).markedCount > 0; }));
    auto* tab = dynamic_cast<KZResultItemsTypeCntrl*>(window->resultCntrl()->itemsTypeCntrl(KZTag::allDuplicates));
    KZFoundListCntrl* found = tab->foundListCntrl();
    const quint64 shownBefore = found->nsCurrSelectedSourceTag();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get(), kztest::kPatienceMs));
    auto* find = window->findChild<QWidget*>(u"findFld"_s);
    ASSERT_NE(find, nullptr);
    find->setFocus(Qt::TabFocusReason);
    QList<QWidget*> visited;
    QWidget* listView = nullptr;
    for (int step = 0; step < 40 && !listView; ++step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* now = QApplication::focusWidget();
        ASSERT_NE(now, nullptr);
        if (qobject_cast<KZFoundItemsOutlineView*>(now))
            listView = now;
        else
            visited << now;
    }
    ASSERT_NE(listView, nullptr) << "Tab never reached the list";
    QList<QWidget*> expected;
    for (int r = 0; r < list->rows().count(); ++r) {
        KZResultSourceTableCellView* cell = list->cellAt(r);
        expected << cell;
        for (QWidget* button : {static_cast<QWidget*>(cell->checkBtn()), static_cast<QWidget*>(cell->popdownBtn())})
            if (button->isVisible() && button->isEnabled())
                expected << button;
        if (cell->offersInfo())
            expected << cell->infoBtn();
    }
    const auto namesOf = [](const QList<QWidget*>& widgets) {
        QStringList names;
        for (QWidget* widget : widgets)
            names << widget->objectName();
        return names.join(u", "_s).toStdString();
    };
    EXPECT_EQ(visited, expected) << namesOf(visited);
    EXPECT_TRUE(expected.contains(list->cellAt(2)->popdownBtn()));
    EXPECT_TRUE(expected.contains(list->cellAt(0)->infoBtn()));
    EXPECT_TRUE(expected.contains(list->cellAt(2)->infoBtn()));
    EXPECT_EQ(list->currSelectedRow(), 0);
    EXPECT_EQ(found->nsCurrSelectedSourceTag(), shownBefore) << "the focus chose a row";
    EXPECT_TRUE(KZFocusRing::isShownOn(listView));
    EXPECT_FALSE(KZFocusRing::isShownOn(list->cellAt(0)->checkBtn()));

    // Only the row that holds the focus and the one under the pointer show
    // their info buttons.
    for (int r = 0; r < list->rows().count(); ++r)
        EXPECT_EQ(list->cellAt(r)->infoBtn()->isVisible(), r == 1) << r;

    QList<QWidget*> back;
    for (int step = 0; step < expected.size(); ++step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        back.prepend(QApplication::focusWidget());
    }
    EXPECT_EQ(back, expected) << namesOf(back);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), find);
    for (QWidget* widget = find; widget != listView; widget = QApplication::focusWidget())
        QTest::keyClick(widget, Qt::Key_Tab);

    // Back into the rows and a choice with Space: the list follows it.
    QTest::keyClick(listView, Qt::Key_Backtab);
    ASSERT_EQ(QApplication::focusWidget(), expected.last());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
    ASSERT_EQ(QApplication::focusWidget(), list->cellAt(2));
    QTest::keyClick(list->cellAt(2), Qt::Key_Space);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return found->nsCurrSelectedSourceTag() == row(2).tag; }));
    EXPECT_EQ(list->currSelectedRow(), 2);
    EXPECT_EQ(beeps, 0);
}

// The source info popover by the keyboard alone: Tab shows a row's info
// button with its ring, Space opens the popover, Escape closes it and gives
// the focus back to the button, which stays shown while its row holds the
// focus, with the pointer far from the window.
TEST_F(SourcesFlow, TheInfoPopoverOpensAndClosesByTheKeyboard)
{
    ASSERT_NO_FATAL_FAILURE(open());
    ASSERT_TRUE(kztest::processEventsUntil([&] { return row(0).itemsCount == 5; }));
    QCursor::setPos(window->frameGeometry().bottomRight() + QPoint(80, 80));
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get(), kztest::kPatienceMs));
    KZResultSourceTableCellView* cell = list->cellAt(2);
    ASSERT_TRUE(cell->offersInfo());
    EXPECT_FALSE(cell->infoBtn()->isVisible());
    cell->focusPart(KZResultSourceTableCellView::Part::Arrow);
    ASSERT_TRUE(cell->infoBtn()->isVisible()) << "shown as the focus came into its row";
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), cell->infoBtn());
    EXPECT_TRUE(KZFocusRing::isShownOn(cell->infoBtn()));

    QTest::keyClick(cell->infoBtn(), Qt::Key_Space);
    platform::Popover* popover = list->extraInfoCntrl() ? list->extraInfoCntrl()->popover() : nullptr;
    ASSERT_TRUE(kztest::processEventsUntil([&] {
        popover = list->extraInfoCntrl() ? list->extraInfoCntrl()->popover() : nullptr;
        return popover && popover->isVisible();
    }));
    EXPECT_TRUE(cell->popoverIsOpen());
    // The keys go to the popover while it is open.
    ASSERT_EQ(QApplication::activePopupWidget(), popover);
    QTest::keyClick(popover, Qt::Key_Escape);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !popover->isVisible() && !cell->popoverIsOpen(); }));
    ASSERT_TRUE(kztest::processEventsUntil([&] { return QApplication::focusWidget() == cell->infoBtn(); }, std::chrono::seconds(2)))
        << (QApplication::focusWidget() ? QApplication::focusWidget()->objectName().toStdString() : "none") << " "
        << (QApplication::activeWindow() ? QApplication::activeWindow()->objectName().toStdString() : "no window")
        << " " << (window->focusWidget() ? window->focusWidget()->objectName().toStdString() : "-");
    EXPECT_TRUE(cell->infoBtn()->isVisible());
    EXPECT_TRUE(KZFocusRing::isShownOn(cell->infoBtn()));

    // Up goes to the same button of the row above; leaving the rows hides
    // the buttons of both.
    QTest::keyClick(cell->infoBtn(), Qt::Key_Up);
    ASSERT_EQ(QApplication::focusWidget(), list->cellAt(1)->infoBtn());
    EXPECT_FALSE(cell->infoBtn()->isVisible());
    window->findChild<QWidget*>(u"findFld"_s)->setFocus(Qt::TabFocusReason);
    EXPECT_FALSE(list->cellAt(1)->infoBtn()->isVisible());

    // Remove, the window's default button, looks so with the focus or
    // without: its ring tells the two apart.
    EXPECT_FALSE(KZFocusRing::isShownOn(window->removeBtn()));
    window->removeBtn()->setFocus(Qt::TabFocusReason);
    EXPECT_TRUE(KZFocusRing::isShownOn(window->removeBtn()));
    EXPECT_EQ(beeps, 0);
}
