#include "../../model/ResultCntrlFakes.h"
#include "RealSearch.h"
#include "ModelChecker.h"
#include "TestSupport.h"

#include "engine/KZSearchController.h"
#include "media/KZApplescript.h"
#include "media/KZiTunesSupport.h"
#include "support/LibraryFixtures.h"
#include "support/MediaFakes.h"
#include "engine/KZSearchItemInfo.h"
#include "settings/KZFileTypeLabel.h"
#include "platform/MainThread.h"
#include "platform/NotificationCenter.h"
#include "platform/OperationQueue.h"
#include "platform/StringTable.h"
#include "platform/Trash.h"
#include "platform/UserDefaults.h"
#include "removal/KZRemove.h"
#include "removal/KZRestoreRemovedFiles.h"
#include "removal/KZUndoFile.h"
#include "removal/ui/KZRemovePanelWidget.h"
#include "result/window/ui/RemovalPanelSteps.h"
#include "result/model/KZColumnKeys.h"
#include "result/model/KZResultCntrl.h"
#include "result/panes/ui/KZResultTabsView.h"
#include "result/window/ui/KZFoundItemsModel.h"
#include "result/window/ui/KZFoundItemsOutlineView.h"
#include "result/window/ui/KZListMarkingCntrl.h"
#include "result/window/ui/KZMarkMenuWidget.h"
#include "result/window/ui/KZMarkPopovers.h"
#include "result/model/ui/KZResultItemsTypeCntrl.h"
#include "result/model/KZFoundListCntrl.h"
#include "result/window/ui/KZSavedViewState.h"
#include "resultfiles/KZSavedResultFormat.h"
#include "services/KZDesktopOpener.h"
#include "services/KZErrorDelegate.h"
#include "services/KZFileDialogPresenter.h"
#include "services/ui/KZWorkspace.h"
#include "support/ScriptedPresenter.h"
#include "services/ui/KZMenuSet.h"
#include "services/ui/KZFileDialogSheetPresenter.h"
#include "services/ui/Popover.h"
#include "result/window/ui/KZResultOutlineCntrl.h"
#include "result/window/ui/KZPreviewPanel.h"
#include "result/window/KZTableHeaderCntrl.h"
#include "result/model/KZColumnKeys.h"
#include "result/window/ui/KZResultRemovalHost.h"
#include "result/window/ui/KZResultSourcesListCntrl.h"
#include "result/window/ui/KZResultWindowCntrl.h"
#include "result/window/KZResultMenus.h"

#include <QAction>
#include <QFileDialog>
#include <QMenu>
#include <QMenuBar>
#include <QItemSelectionModel>
#include "settings/KZDefaultsKeys.h"
#include "settings/KZDefaultsRegistry.h"
#include "settings/KZNotificationNames.h"
#include "settings/KZSearchStuff.h"
#include "settings/KZSourceItem.h"
#include "settings/KZTags.h"

#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <set>
#include <sys/stat.h>
#include <utime.h>

namespace {

namespace fs = std::filesystem;
using realsearch::searchFor;
using namespace Qt::StringLiterals;

void setModified(const fs::path& path, time_t seconds)
{
    const utimbuf times{seconds, seconds};
    ASSERT_EQ(::utime(path.c_str(), &times), 0) << path;
}

struct OpenedFiles : KZWorkspace {
    std::vector<fs::path> opened;
    void revealItems(const QList<fs::path>& paths) override { opened.insert(opened.end(), paths.begin(), paths.end()); }
    void openItem(const fs::path& path) override { opened.push_back(path); }
};

// A real search's result in the real window, as the program opens it.
class ResultWindowFlow : public ::testing::Test {
protected:
    void SetUp() override
    {
        realsearch::prepareWindowDefaults();
        platform::UserDefaults::standard().setValue(KZDefaultsKey::show_result_by_group, true);
        // Beside the home Trash, on its disk: nothing crosses devices.
        root = kztest::sandboxHome() / ("flow-" + std::to_string(::getpid()) + "-" + std::to_string(++runs));
        fs::create_directories(root);
        // Each run starts with an empty (sandboxed) Trash: what an earlier run
        // trashed would give this run's files other names there.
        emptyTrash();
    }
    void TearDown() override
    {
        window.reset();
        KZRemovePanelWidget::setAnimationsInstant(false);
        std::error_code ec;
        fs::remove_all(root, ec);
        emptyTrash();
    }

    static void emptyTrash()
    {
        std::error_code ec;
        fs::remove_all(platform::homeTrashDirectory(), ec);
    }

    // Two copies of each file: the older under old/, the newer under new/.
    void writeTree(int files)
    {
        for (int i = 0; i < files; ++i) {
            const std::string bytes = std::string(1000 + 37 * i, char('a' + i)) + std::to_string(i);
            const std::string ext = i % 2 ? ".txt" : ".jpg";
            for (const auto& [folder, when] : {std::pair{"old", 1'000'000'000}, std::pair{"new", 1'600'000'000}}) {
                const fs::path path = root / folder / ("file" + std::to_string(i) + ext);
                fs::create_directories(path.parent_path());
                std::ofstream(path, std::ios::binary) << bytes;
                setModified(path, when);
                contents[path] = bytes;
            }
        }
    }

    // The tab tag that names the last file-type tab, whatever its tag.
    static constexpr quint64 lastTypeTab = ~quint64(0);

    // The window with the result `info`, once the result is ready.
    void initialize(const QVariantMap& info)
    {
        KZResultWindowCntrl::Services services;
        services.askToClose = [] { return true; };
        services.beep = [this] { ++beeps; };
        services.workspace = [this]() -> KZWorkspace* { return desktopWorkspace ? nullptr : &workspace; };
        // Edit > Undo of a removal goes to the real undo engine, as in the program.
        services.undoMove = [](const QVariant& undoDict) {
            if (undoDict.canConvert<KZUndoDict>())
                KZRestoreRemovedFiles::sharedControl().undoMove(undoDict.value<KZUndoDict>());
        };
        window = std::make_unique<KZResultWindowCntrl>(services);
        window->resize(1000, 640);
        ASSERT_TRUE(realsearch::openResult(*window, info));
    }

    void open(quint64 tab)
    {
        ASSERT_NO_FATAL_FAILURE(initialize(searchFor(root)));
        if (tab == lastTypeTab)
            tab = window->tabsStrip()->fileTypes().rbegin()->first;
        window->showWindowWithTabTag(tab);
        ASSERT_TRUE(kztest::processEventsUntil(
            [&] {
                KZResultOutlineCntrl* outline = window->outlineOfTab(tab);
                return window->isVisible() && outline && outline->foundModel()->rowCount() > 0;
            },
            std::chrono::seconds(20)));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get(), kztest::kPatienceMs));
    }

    KZResultOutlineCntrl* outline(quint64 tab) const { return window->outlineOfTab(tab); }

    // The paths of the items a tab's list shows, marked or not.
    std::set<fs::path> listed(quint64 tab, std::optional<bool> marked = std::nullopt) const
    {
        std::set<fs::path> paths;
        const auto& list = outline(tab)->foundModel()->list();
        if (!list)
            return paths;
        for (const KZFoundItemRef& item : list->flattened())
            if (!marked || item->isMarked() == *marked)
                paths.insert(item->url());
        return paths;
    }

    // Each group row's counter as it reads, "marked / members".
    std::multiset<QString> counters(quint64 tab) const
    {
        std::multiset<QString> texts;
        const auto& list = outline(tab)->foundModel()->list();
        if (list && list->isGrouped())
            for (const KZFoundItemGroupRef& group : list->root->groups())
                texts.insert(group->formattedMarkedCount() + u" / "_s + group->formattedCount());
        return texts;
    }

    // "Newest" from each group's menu of the all-duplicates tab.
    void markNewestInEveryGroup()
    {
        KZFoundItemsOutlineView* view = outline(KZTag::allDuplicates)->foundListView();
        auto* marking = view->findChild<KZListMarkingCntrl*>();
        ASSERT_NE(marking, nullptr);
        for (int g = 0; g < view->model()->rowCount(); ++g) {
            const QModelIndex group = view->model()->index(g, 0);
            view->scrollTo(group);
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, marking->groupLayout(group).arrow.center());
            ASSERT_TRUE(marking->markMenu()->isVisible()) << g;
            marking->markMenu()->actionWithTag(3)->trigger();
            marking->markMenu()->close();
        }
    }

    fs::path root;
    std::map<fs::path, std::string> contents;
    OpenedFiles workspace;
    // The desktop's own workspace instead of the recording one.
    bool desktopWorkspace = false;
    std::unique_ptr<KZResultWindowCntrl> window;
    int beeps = 0;
    static inline int runs = 0;
};

// The user's whole road: a search over a tree, the result window, a rule
// from each group's mark menu, Remove, the Trash, Start.
TEST_F(ResultWindowFlow, MarkedCopiesGoToTheTrashAndTheListAndCountsFollow)
{
    writeTree(6);
    ASSERT_NO_FATAL_FAILURE(open(KZTag::allDuplicates));
    EXPECT_EQ(window->currSelectedTabTag(), KZTag::allDuplicates);
    KZResultOutlineCntrl* all = outline(KZTag::allDuplicates);
    EXPECT_EQ(listed(KZTag::allDuplicates).size(), 12u);
    // The outline's model keeps Qt's rules through marking and removal.
    kztest::ModelChecker checker(all->foundModel());

    // "Newest" from each group's menu: the copies under new/ are marked.
    ASSERT_NO_FATAL_FAILURE(markNewestInEveryGroup());
    ASSERT_TRUE(kztest::processEventsUntil([&] { return listed(KZTag::allDuplicates, true).size() == 6; }));
    const std::set<fs::path> marked = listed(KZTag::allDuplicates, true);
    for (const fs::path& path : marked)
        EXPECT_EQ(path.parent_path().filename(), "new") << path;
    EXPECT_TRUE(window->undoStack()->canUndo());

    // Remove, the Trash page, Start; then the final card is closed.
    QTest::mouseClick(window->removeBtn(), Qt::LeftButton);
    QPointer<KZRemovePanelWidget> panel;
    ASSERT_TRUE(kztest::processEventsUntil([&] {
        panel = window->findChild<KZRemovePanelWidget*>();
        return panel && panel->visibleCard() == KZRemovePanelWidget::Card::Choose;
    }));
    EXPECT_FALSE(window->removeBtn()->isEnabled());
    EXPECT_FALSE(window->removalRefusesQuit()) << "nothing has started yet";
    // A removal under way (announced as Start announces it) holds the program.
    platform::NotificationCenter::defaultCenter().post(u"removingProcessDidChangeStatus"_s,
                                                       platform::bundleIdentifier(), {{u"isRemoving"_s, true}});
    ASSERT_TRUE(kztest::processEventsUntil([&] { return window->isRemovingProcessActive(); }));
    EXPECT_TRUE(window->removalRefusesQuit());
    QTest::mouseClick(panel->startButton(), Qt::LeftButton);
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] { return panel && panel->visibleCard() == KZRemovePanelWidget::Card::Final; }, std::chrono::seconds(30)));
    EXPECT_LE(window->undoStack()->count(), 1) << "the marking steps left when the removal started";
    // The final card: the run is over and nothing moves, so Quit may end the
    // program, while the window itself still waits for the panel to close.
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !KZRemove::isRemovalRunning(); }));
    EXPECT_FALSE(window->removalRefusesQuit());
    EXPECT_TRUE(window->isRemovingProcessActive());
    QTest::mouseClick(panel->findChild<QPushButton*>(u"removalClose"_s), Qt::LeftButton);
    ASSERT_TRUE(kztest::processEventsUntil([&] {
        // The panel deletes itself later, which needs an event loop's turn.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return !panel && !window->isRemoving();
    }));

    // The marked files are in the Trash, each with a valid .trashinfo.
    const fs::path trash = platform::homeTrashDirectory();
    for (const fs::path& path : marked) {
        EXPECT_FALSE(fs::exists(path)) << path;
        const fs::path inTrash = trash / "files" / path.filename();
        EXPECT_EQ(kztest::readFile(inTrash), contents[path]) << inTrash;
        const std::string info = kztest::readFile(trash / "info" / (path.filename().string() + ".trashinfo"));
        EXPECT_EQ(info.rfind("[Trash Info]\n", 0), 0u) << info;
        EXPECT_NE(info.find("\nPath=" + path.string() + "\n"), std::string::npos) << info;
        EXPECT_NE(info.find("\nDeletionDate="), std::string::npos) << info;
    }
    // The copies kept are untouched.
    for (const auto& [path, bytes] : contents) {
        if (!marked.contains(path)) {
            EXPECT_EQ(kztest::readFile(path), bytes) << path;
        }
    }

    // The list shows no removed item, and the tab's figures agree with it.
    ASSERT_TRUE(kztest::processEventsUntil([&] { return listed(KZTag::allDuplicates).size() == 6; }));
    for (const fs::path& path : listed(KZTag::allDuplicates))
        EXPECT_FALSE(marked.contains(path)) << path;
    EXPECT_TRUE(listed(KZTag::allDuplicates, true).empty());
    const auto types = window->tabsStrip()->fileTypes();
    quint64 keptSize = 0;
    for (const fs::path& path : listed(KZTag::allDuplicates))
        keptSize += contents[path].size();
    ASSERT_TRUE(types.contains(KZTag::allDuplicates));
    EXPECT_EQ(types.at(KZTag::allDuplicates)->filesCount(), 6u);
    EXPECT_EQ(types.at(KZTag::allDuplicates)->size(), keptSize);
    quint64 typesCount = 0, typesSize = 0;
    for (const auto& [tag, label] : types)
        if (tag != KZTag::allDuplicates) {
            typesCount += label->filesCount();
            typesSize += label->size();
        }
    EXPECT_EQ(typesCount, 6u) << "the type tabs together";
    EXPECT_EQ(typesSize, keptSize);
    EXPECT_EQ(all->itemsCount(), 6u);
    EXPECT_EQ(beeps, 0);
    EXPECT_TRUE(checker.failures().isEmpty()) << checker.report().toStdString();
}

// The panel gives the keyboard back where it found it, to Remove (or the
// tab's list when Remove is off), whether Escape closes it or Close after
// the removal: left to itself, the focus fell to the view beneath, which
// shows nothing, and Space and Tab went nowhere a user could see.
TEST_F(ResultWindowFlow, TheRemovalPanelGivesTheFocusBackWhenItCloses)
{
    writeTree(2);
    ASSERT_NO_FATAL_FAILURE(open(KZTag::allDuplicates));
    ASSERT_NO_FATAL_FAILURE(markNewestInEveryGroup());
    ASSERT_TRUE(kztest::processEventsUntil([&] { return window->removeBtn()->isEnabled(); }));
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get(), kztest::kPatienceMs));
    const auto panelOpens = [&](QPointer<KZRemovePanelWidget>& panel) {
        return kztest::processEventsUntil([&] {
            panel = window->findChild<KZRemovePanelWidget*>();
            return panel && panel->visibleCard() == KZRemovePanelWidget::Card::Choose;
        });
    };
    const auto panelCloses = [&](QPointer<KZRemovePanelWidget>& panel) {
        return kztest::processEventsUntil([&] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return !panel && !window->isRemoving();
        });
    };

    QPointer<KZRemovePanelWidget> panel;
    window->removeBtn()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(window->removeBtn(), Qt::Key_Space);
    ASSERT_TRUE(panelOpens(panel));
    QTest::keyClick(window->focusWidget(), Qt::Key_Escape);
    ASSERT_TRUE(panelCloses(panel));
    // The window's own focus: the mark menus the test used may still take
    // the activation back and forth on this platform.
    EXPECT_EQ(window->focusWidget(), window->removeBtn());

    // Start and Close by Return: the focus comes back to Remove, or to the
    // list when Remove is off.
    QTest::keyClick(window->removeBtn(), Qt::Key_Space);
    ASSERT_TRUE(panelOpens(panel));
    QTest::keyClick(window->focusWidget(), Qt::Key_Return);
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] { return panel && panel->visibleCard() == KZRemovePanelWidget::Card::Final; }, std::chrono::seconds(30)));
    QTest::keyClick(window->focusWidget(), Qt::Key_Return);
    ASSERT_TRUE(panelCloses(panel));
    EXPECT_EQ(window->focusWidget(), window->removeBtn()->isEnabled()
                                         ? static_cast<QWidget*>(window->removeBtn())
                                         : outline(KZTag::allDuplicates)->foundListView());
}

// In the list by group with the groups closed, no member row is ever drawn:
// a marked copy renamed in its folder then is still followed by Remove, with
// the mouse, into the Trash.
TEST_F(ResultWindowFlow, AMarkedCopyRenamedBeforeItsRowWasDrawnGoesToTheTrash)
{
    writeTree(2);
    ASSERT_NO_FATAL_FAILURE(open(KZTag::allDuplicates));
    KZFoundItemsOutlineView* view = outline(KZTag::allDuplicates)->foundListView();
    for (int g = 0; g < view->model()->rowCount(); ++g)
        ASSERT_FALSE(view->isExpanded(view->model()->index(g, 0))) << g;
    ASSERT_NO_FATAL_FAILURE(markNewestInEveryGroup());
    ASSERT_TRUE(kztest::processEventsUntil([&] { return listed(KZTag::allDuplicates, true).size() == 2; }));
    const fs::path before = root / "new/file0.jpg";
    const fs::path after = root / "new/file0 renamed.jpg";
    fs::rename(before, after);

    QTest::mouseClick(window->removeBtn(), Qt::LeftButton);
    QPointer<KZRemovePanelWidget> panel;
    ASSERT_TRUE(kztest::processEventsUntil([&] {
        panel = window->findChild<KZRemovePanelWidget*>();
        return panel && panel->visibleCard() == KZRemovePanelWidget::Card::Choose;
    }));
    QTest::mouseClick(panel->startButton(), Qt::LeftButton);
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] { return panel && panel->visibleCard() == KZRemovePanelWidget::Card::Final; }, std::chrono::seconds(30)));
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !KZRemove::isRemovalRunning(); }));

    EXPECT_FALSE(fs::exists(after));
    EXPECT_FALSE(fs::exists(root / "new/file1.txt"));
    const fs::path trash = platform::homeTrashDirectory();
    EXPECT_EQ(kztest::readFile(trash / "files" / after.filename()), contents[before]);
    EXPECT_EQ(kztest::readFile(root / "old/file0.jpg"), contents[before]);
}

// Answers the folder question with one folder.
struct ChosenFolder : KZFileDialogPresenter {
    QString folder;
    void present(const Request&, Completion done) override { done({true, {folder}, false}); }
};

// A removal taken back: the files go back, and so do their rows, their
// groups' counters and the tab's figures, as they were before.
class RemovalTakenBack : public ResultWindowFlow {
protected:
    void SetUp() override
    {
        ResultWindowFlow::SetUp();
        writeTree(4);
        ASSERT_NO_FATAL_FAILURE(open(KZTag::allDuplicates));
        ASSERT_NO_FATAL_FAILURE(markNewestInEveryGroup());
        ASSERT_TRUE(kztest::processEventsUntil([&] { return listed(KZTag::allDuplicates, true).size() == 4; }));
        marked = listed(KZTag::allDuplicates, true);
        before = counters(KZTag::allDuplicates);
        ASSERT_EQ(before, (std::multiset<QString>{u"1 / 2"_s, u"1 / 2"_s, u"1 / 2"_s, u"1 / 2"_s}));
        for (const auto& [tag, label] : window->tabsStrip()->fileTypes())
            figures[tag] = {label->filesCount(), label->size()};
    }

    // Remove, then Start on the Trash page, or on the move page with
    // `destination`; the final card is closed.
    void removeMarked(const fs::path& destination = {})
    {
        auto chosen = std::make_shared<ChosenFolder>();
        chosen->folder = QString::fromStdString(destination.string());
        const auto previous = KZFileDialogPresenter::setShared(chosen);
        const auto restorePresenter = qScopeGuard([&] { KZFileDialogPresenter::setShared(previous); });
        QTest::mouseClick(window->removeBtn(), Qt::LeftButton);
        QPointer<KZRemovePanelWidget> panel;
        ASSERT_TRUE(kztest::processEventsUntil([&] {
            panel = window->findChild<KZRemovePanelWidget*>();
            return panel && panel->visibleCard() == KZRemovePanelWidget::Card::Choose;
        }));
        if (destination.empty()) {
            QTest::mouseClick(panel->startButton(), Qt::LeftButton);
        } else {
            QTest::mouseClick(panel->findChild<QPushButton*>(u"removalToFolder"_s), Qt::LeftButton);
            ASSERT_TRUE(kztest::processEventsUntil([&] { return panel->movePageShown(); }));
            QTest::mouseClick(panel->findChild<QPushButton*>(u"removalChoose"_s), Qt::LeftButton);
            QTest::mouseClick(panel->moveStartButton(), Qt::LeftButton);
        }
        ASSERT_TRUE(kztest::processEventsUntil(
            [&] { return panel && panel->visibleCard() == KZRemovePanelWidget::Card::Final; },
            std::chrono::seconds(30)));
        QTest::mouseClick(panel->findChild<QPushButton*>(u"removalClose"_s), Qt::LeftButton);
        ASSERT_TRUE(kztest::processEventsUntil([&] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return !panel && !window->isRemoving();
        }));
        for (const fs::path& path : marked)
            ASSERT_FALSE(fs::exists(path)) << path;
        ASSERT_TRUE(kztest::processEventsUntil([&] { return listed(KZTag::allDuplicates).size() == 4; }));
        ASSERT_EQ(counters(KZTag::allDuplicates),
                  (std::multiset<QString>{u"0 / 1"_s, u"0 / 1"_s, u"0 / 1"_s, u"0 / 1"_s}));
    }

    void expectAsBefore()
    {
        ASSERT_TRUE(kztest::processEventsUntil([&] { return listed(KZTag::allDuplicates).size() == 8; }))
            << "the items put back are listed again";
        for (const fs::path& path : marked)
            EXPECT_EQ(kztest::readFile(path), contents[path]) << path;
        EXPECT_EQ(listed(KZTag::allDuplicates, true), marked);
        EXPECT_EQ(counters(KZTag::allDuplicates), before);
        for (const auto& [tag, label] : window->tabsStrip()->fileTypes())
            EXPECT_EQ(std::make_pair(label->filesCount(), label->size()), figures[tag]) << tag;
        EXPECT_EQ(outline(KZTag::allDuplicates)->itemsCount(), 8u);
        EXPECT_EQ(beeps, 0);
    }

    std::set<fs::path> marked;
    std::multiset<QString> before;
    std::map<quint64, std::pair<quint64, quint64>> figures;
};

TEST_F(RemovalTakenBack, ByEditUndoAfterAMoveToAFolder)
{
    const fs::path destination = root / "moved";
    fs::create_directories(destination);
    ASSERT_NO_FATAL_FAILURE(removeMarked(destination));
    for (const fs::path& path : marked)
        ASSERT_TRUE(fs::exists(destination / path.filename())) << path;

    // Edit > Undo, as the menu offers it.
    QAction* undo = nullptr;
    for (QAction* menu : window->menuBar()->actions())
        if (menu->menu() && menu->text() == u"&Edit"_s)
            undo = menu->menu()->actions().value(0);
    ASSERT_NE(undo, nullptr);
    ASSERT_TRUE(undo->isEnabled());
    undo->trigger();
    expectAsBefore();
}

// A move onto another disk can only copy: the done card says how many were
// copied and that the originals stay, and Edit names the undo after the
// copies, which it takes away again.
TEST_F(ResultWindowFlow, AMoveOntoAnotherDiskTellsOfTheCopiesAndItsUndoIsNamedForThem)
{
    writeTree(3);
    const fs::path destination = fs::path("/var/tmp") / ("maravex-copies-" + std::to_string(::getpid()));
    fs::create_directories(destination);
    const auto cleanUp = qScopeGuard([&] {
        std::error_code ec;
        fs::remove_all(destination, ec);
    });
    struct stat rootStat {}, destinationStat {};
    ASSERT_EQ(::stat(root.c_str(), &rootStat), 0);
    ASSERT_EQ(::stat(destination.c_str(), &destinationStat), 0);
    if (rootStat.st_dev == destinationStat.st_dev)
        GTEST_SKIP() << "no second file system beside " << root;
    ASSERT_NO_FATAL_FAILURE(open(KZTag::allDuplicates));
    ASSERT_NO_FATAL_FAILURE(markNewestInEveryGroup());
    ASSERT_TRUE(kztest::processEventsUntil([&] { return listed(KZTag::allDuplicates, true).size() == 3; }));
    const std::set<fs::path> marked = listed(KZTag::allDuplicates, true);

    auto chosen = std::make_shared<ChosenFolder>();
    chosen->folder = QString::fromStdString(destination.string());
    const auto previous = KZFileDialogPresenter::setShared(chosen);
    const auto restorePresenter = qScopeGuard([&] { KZFileDialogPresenter::setShared(previous); });
    QTest::mouseClick(window->removeBtn(), Qt::LeftButton);
    QPointer<KZRemovePanelWidget> panel;
    ASSERT_TRUE(kztest::processEventsUntil([&] {
        panel = window->findChild<KZRemovePanelWidget*>();
        return panel && panel->visibleCard() == KZRemovePanelWidget::Card::Choose;
    }));
    QTest::mouseClick(panel->findChild<QPushButton*>(u"removalToFolder"_s), Qt::LeftButton);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return panel->movePageShown(); }));
    QTest::mouseClick(panel->findChild<QPushButton*>(u"removalChoose"_s), Qt::LeftButton);
    QTest::mouseClick(panel->moveStartButton(), Qt::LeftButton);
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] { return panel && panel->visibleCard() == KZRemovePanelWidget::Card::Final; }, std::chrono::seconds(30)))
        << "the panel closed without a word";
    const QString told = panel->finalField()->text();
    EXPECT_TRUE(told.contains(u"3 items"_s) && told.contains(u"copied"_s) && told.contains(u"originals stay"_s))
        << told.toStdString();
    QTest::mouseClick(panel->findChild<QPushButton*>(u"removalClose"_s), Qt::LeftButton);
    ASSERT_TRUE(kztest::processEventsUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return !panel && !window->isRemoving();
    }));
    for (const fs::path& path : marked) {
        EXPECT_EQ(kztest::readFile(path), contents[path]) << "the original stays: " << path;
        EXPECT_EQ(kztest::readFile(destination / path.filename()), contents[path]) << "copied: " << path;
    }
    EXPECT_EQ(listed(KZTag::allDuplicates, true), marked) << "the originals stay marked";

    Q_EMIT window->editMenu()->aboutToShow();
    QAction* undo = window->editMenu()->actions().first();
    ASSERT_TRUE(undo->isEnabled());
    EXPECT_EQ(undo->text(), u"Undo Copy of 3 Items"_s);
    undo->trigger();
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] {
            return std::none_of(marked.begin(), marked.end(),
                                [&](const fs::path& path) { return fs::exists(destination / path.filename()); });
        },
        std::chrono::seconds(30)))
        << "the undo takes the copies away";
    for (const fs::path& path : marked)
        EXPECT_EQ(kztest::readFile(path), contents[path]) << path;
    EXPECT_EQ(beeps, 0);
}

// A Trash removal is taken back from the restore window, which puts back
// the undo file's items.
TEST_F(RemovalTakenBack, ByRestoringFromTheTrash)
{
    ASSERT_NO_FATAL_FAILURE(removeMarked());
    const std::vector<fs::path> files = KZUndoFile::list(platform::homeTrashDirectory());
    ASSERT_EQ(files.size(), 1u);
    KZRestoreRemovedFiles::sharedControl().restoreItemsOfFile(files, {});
    expectAsBefore();
}

// The program opens the window on the tab the user pointed at in the
// progress ring: that tab is selected and its list is the one on screen.
TEST_F(ResultWindowFlow, OpensOnTheRequestedTab)
{
    writeTree(4);
    ASSERT_NO_FATAL_FAILURE(open(lastTypeTab));
    const quint64 tag = window->tabsStrip()->fileTypes().rbegin()->first;
    ASSERT_NE(tag, KZTag::allDuplicates);
    EXPECT_EQ(window->currSelectedTabTag(), tag);
    EXPECT_EQ(window->tabsStrip()->selectedTag(), std::optional<quint64>(tag));
    EXPECT_TRUE(outline(tag)->foundListView()->isVisible());
    for (const auto& [other, label] : window->tabsStrip()->fileTypes())
        if (other != tag && outline(other)) {
            EXPECT_FALSE(outline(other)->foundListView()->isVisible()) << other;
        }
    // The find field selects, in the list on screen, an item by its name.
    const std::string wanted = listed(tag).rbegin()->filename().string();
    QTest::keyClicks(window->findFld(), QString::fromStdString(wanted).toUpper());
    QTest::keyClick(window->findFld(), Qt::Key_Return);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !outline(tag)->foundListView()->selectedRows().isEmpty(); }));
    const QList<KZListRow> found = outline(tag)->foundListView()->selectedRows();
    ASSERT_EQ(found.size(), 1);
    const KZListRow& hit = found.first();
    EXPECT_EQ((hit.item ? hit.item->name() : hit.group->name()).toStdString(), wanted) << "its group, or itself";

    // Its list holds that type's copies only.
    const std::set<fs::path> shown = listed(tag);
    ASSERT_FALSE(shown.empty());
    for (const fs::path& path : shown)
        EXPECT_EQ(path.extension(), shown.begin()->extension()) << path;
}

// Which way the sort arrow of `section` points, from what is drawn: the
// arrow is the rightmost mark in the section, apart from its title. A
// triangle pointing up is widest at its foot. +1 up, -1 down, 0 none drawn.
int drawnArrow(QHeaderView* header, int section)
{
    const QRect rect(header->sectionViewportPosition(section), 0, header->sectionSize(section), header->height());
    const QImage image = header->grab(rect).toImage();
    const auto marked = [&](int x, int y) {
        return std::abs(qGray(image.pixel(x, y)) - qGray(image.pixel(image.width() - 2, y))) >= 40;
    };
    const auto columnMarked = [&](int x) {
        for (int y = 1; y < image.height() - 1; ++y)
            if (marked(x, y))
                return true;
        return false;
    };
    int right = image.width() - 3;
    while (right > 0 && !columnMarked(right))
        --right;
    int left = right;
    while (left > 0 && columnMarked(left - 1))
        --left;
    std::vector<int> widths;
    for (int y = 1; y < image.height() - 1; ++y) {
        int width = 0;
        for (int x = left; x <= right; ++x)
            width += marked(x, y);
        if (width > 0)
            widths.push_back(width);
    }
    if (widths.size() < 2 || widths.front() == widths.back())
        return 0;
    return widths.front() < widths.back() ? 1 : -1;
}

// The arrow of the sorted column points up exactly when the smallest comes
// first, in either order a click gives.
TEST_F(ResultWindowFlow, TheSortArrowAgreesWithTheOrderOfTheRows)
{
    writeTree(5);
    ASSERT_NO_FATAL_FAILURE(open(KZTag::allDuplicates));
    KZResultOutlineCntrl* all = outline(KZTag::allDuplicates);
    KZFoundItemsModel* model = all->foundModel();
    QHeaderView* header = all->foundListView()->header();
    const auto sizeOfRow = [&](int g) {
        const KZListRow row = model->rowAt(model->index(g, 0));
        return contents[row.group->items().first()->url()].size();
    };
    const int size = KZTableHeaderCntrl::indexOf(KZColumnKey::size_col);
    ASSERT_GE(size, 0);
    for (int click = 0; click < 2; ++click) {
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(size) + header->sectionSize(size) / 2,
                                 header->height() / 2));
        ASSERT_FALSE(all->sortDescriptors().isEmpty());
        ASSERT_EQ(all->sortDescriptors().first().key(), KZColumnKey::size_col);
        const bool ascending = all->sortDescriptors().first().ascending();
        ASSERT_TRUE(kztest::processEventsUntil([&] {
            return model->rowCount() == 5 && (sizeOfRow(0) < sizeOfRow(4)) == ascending;
        })) << "click " << click;
        const int up = drawnArrow(header, size);
        EXPECT_EQ(up, sizeOfRow(0) < sizeOfRow(4) ? 1 : -1)
            << "click " << click << ": the smallest is " << (ascending ? "first" : "last");
    }
}

// Return in the find field always starts from the top of the list: finding
// again lands on the same row, wherever the user has moved the selection.
TEST_F(ResultWindowFlow, FindingAgainFindsTheSameFirstMatchFromTheTop)
{
    writeTree(3);
    ASSERT_NO_FATAL_FAILURE(open(KZTag::allDuplicates));
    KZFoundItemsOutlineView* view = outline(KZTag::allDuplicates)->foundListView();
    KZFoundItemsModel* model = outline(KZTag::allDuplicates)->foundModel();
    // Every row matches "FILE": the first group row is the first match.
    ASSERT_EQ(model->rowCount(), 3);
    const KZListRow top = model->rowAt(model->index(0, 0));
    const auto find = [&] {
        view->clearSelection();
        QTest::keyClick(window->findFld(), Qt::Key_Return);
        EXPECT_TRUE(kztest::processEventsUntil([&] { return !view->selectedRows().isEmpty(); }));
        const QList<KZListRow> selected = view->selectedRows();
        return selected.size() == 1 ? std::optional<KZListRow>(selected.first()) : std::nullopt;
    };
    QTest::keyClicks(window->findFld(), u"FILE"_s);
    for (int again = 0; again < 3; ++again)
        EXPECT_EQ(find(), top) << "find " << again;

    // A row the user picks further down changes nothing.
    const QModelIndex lastGroup = model->index(model->rowCount() - 1, 0);
    view->selectionModel()->setCurrentIndex(lastGroup, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    QTest::keyClick(window->findFld(), Qt::Key_Return);
    EXPECT_TRUE(kztest::processEventsUntil([&] { return view->selectedRows() == QList<KZListRow>{top}; }));
    EXPECT_EQ(beeps, 0);
}

// Open and Show in Folder on a desktop without a file manager on the bus or
// without xdg-open: each goes on to the next program, and when none can
// open the item an alert names it.
TEST_F(ResultWindowFlow, OpenAndShowInFolderFallBackAndSayWhenNothingOpens)
{
    writeTree(2);
    desktopWorkspace = true;
    auto alerts = std::make_shared<kztest::ScriptedPresenter>();
    const auto shownAlerts = KZErrorDelegate::sharedControl().presenter();
    KZErrorDelegate::sharedControl().setPresenter(alerts);
    std::vector<std::pair<QString, fs::path>> tried;
    bool xdgOpens = false;
    bool servicesOpen = true;
    int fileManagerAsked = 0;
    const auto record = [&tried](const char* program, const QUrl& url) {
        tried.emplace_back(QString::fromLatin1(program), fs::path(QFile::encodeName(url.toLocalFile()).toStdString()));
    };
    const KZDesktopOpener::Launchers previous = KZDesktopOpener::setLaunchers(
        {[&](const QUrl& url) { return record("xdg-open", url), xdgOpens; },
         [&](const QUrl& url) { return record("services", url), servicesOpen; }});
    KZWorkspace::setFileManagerReveal([&](const QStringList&, const std::function<void(bool)>& shown) {
        ++fileManagerAsked;
        shown(false);
    });
    const auto restore = qScopeGuard([previous, shownAlerts] {
        KZDesktopOpener::setLaunchers(previous);
        KZWorkspace::setFileManagerReveal({});
        KZErrorDelegate::sharedControl().setPresenter(shownAlerts);
    });
    ASSERT_NO_FATAL_FAILURE(open(KZTag::allDuplicates));
    KZFoundItemsOutlineView* view = outline(KZTag::allDuplicates)->foundListView();
    const QModelIndex group = view->model()->index(0, 0);
    view->expand(group);
    const QModelIndex member = view->model()->index(0, 0, group);
    view->selectionModel()->select(member, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    const KZFoundItemRef item = outline(KZTag::allDuplicates)->foundModel()->rowAt(member).item;
    ASSERT_TRUE(item);
    const QString name = QString::fromStdString(item->path().filename().string());
    QAction* openItem = window->listCommandItem(KZResultMenus::openTag);
    QAction* revealItem = window->listCommandItem(KZResultMenus::revealTag);
    window->validateMenus();
    ASSERT_TRUE(openItem->isEnabled() && revealItem->isEnabled());
    using Tried = std::vector<std::pair<QString, fs::path>>;

    // No xdg-open: Qt's desktop services open the file.
    openItem->trigger();
    EXPECT_EQ(tried, (Tried{{u"xdg-open"_s, item->path()}, {u"services"_s, item->path()}}));
    EXPECT_EQ(alerts->shown(), 0u);
    // Nothing opens it: the user is told which file.
    tried.clear();
    servicesOpen = false;
    openItem->trigger();
    EXPECT_EQ(tried.size(), 2u);
    ASSERT_EQ(alerts->shown(), 1u);
    EXPECT_TRUE(alerts->calls.back().alert.messageText.contains(name));

    // No file manager on the bus: xdg-open opens the folder.
    tried.clear();
    xdgOpens = true;
    revealItem->trigger();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !tried.empty(); }));
    EXPECT_EQ(fileManagerAsked, 1);
    EXPECT_EQ(tried, (Tried{{u"xdg-open"_s, item->path().parent_path()}}));
    EXPECT_EQ(alerts->shown(), 1u);
    // Nothing shows the folder either.
    tried.clear();
    xdgOpens = false;
    revealItem->trigger();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return alerts->shown() == 2; }));
    EXPECT_EQ(tried.size(), 2u);
    EXPECT_TRUE(alerts->calls.back().alert.messageText.contains(name));
    EXPECT_EQ(beeps, 0);
}

// The keyboard walks into collapsed groups as soon as the window is up: the
// list, not the find field, has the keys. With every group collapsed and
// nothing selected, Down selects the first group, Right opens it, Down goes
// to its first copy, Left back to the group and Left again closes it; Down
// then passes on to the next group. Another tab brings its own list the keys.
TEST_F(ResultWindowFlow, ArrowKeysEnterCollapsedGroups)
{
    writeTree(3);
    ASSERT_NO_FATAL_FAILURE(open(KZTag::allDuplicates));
    KZFoundItemsOutlineView* view = outline(KZTag::allDuplicates)->foundListView();
    KZFoundItemsModel* model = outline(KZTag::allDuplicates)->foundModel();
    window->viewItem(5)->trigger();
    ASSERT_TRUE(kztest::processEventsUntil([&] {
        for (int g = 0; g < view->model()->rowCount(); ++g)
            if (view->isExpanded(view->model()->index(g, 0)))
                return false;
        return true;
    }));
    view->selectionModel()->clear();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get(), kztest::kPatienceMs));
    ASSERT_EQ(window->focusWidget(), view) << "the find field has the keys";
    // Where the list put the keyboard when it took the focus.
    view->setCurrentIndex(view->model()->index(0, 0));
    view->selectionModel()->clear();
    const QModelIndex first = view->model()->index(0, 0);
    const auto selected = [&] { return view->selectedRows(); };
    const auto press = [&](Qt::Key key) {
        QTest::keyClick(window->focusWidget(), key);
        kztest::processEventsUntil([] { return false; }, std::chrono::milliseconds(20));
    };

    press(Qt::Key_Down);
    ASSERT_EQ(selected(), QList<KZListRow>{model->rowAt(first)});
    press(Qt::Key_Right);
    EXPECT_TRUE(view->isExpanded(first));
    press(Qt::Key_Down);
    ASSERT_EQ(selected(), QList<KZListRow>{model->rowAt(view->model()->index(0, 0, first))}) << "its first copy";
    press(Qt::Key_Left);
    EXPECT_EQ(selected(), QList<KZListRow>{model->rowAt(first)}) << "back to the group";
    press(Qt::Key_Left);
    EXPECT_FALSE(view->isExpanded(first));
    press(Qt::Key_Down);
    EXPECT_EQ(selected(), QList<KZListRow>{model->rowAt(view->model()->index(1, 0))}) << "the next group";

    const quint64 other = window->tabsStrip()->fileTypes().rbegin()->first;
    window->showWindowWithTabTag(other);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return outline(other) && outline(other)->foundListView()->isVisible(); }));
    EXPECT_EQ(window->focusWidget(), outline(other)->foundListView());
    EXPECT_EQ(beeps, 0);
}

// Open on twelve selected copies, on a desktop whose xdg-open runs and has
// no program for them: one alert names a few copies, says how many more and
// that the opener ran, instead of twelve alerts saying that none was found.
TEST_F(ResultWindowFlow, OpenOnManyItemsTheOpenerCannotOpenSaysSoOnce)
{
    writeTree(6);
    desktopWorkspace = true;
    auto alerts = std::make_shared<kztest::ScriptedPresenter>();
    const auto shownAlerts = KZErrorDelegate::sharedControl().presenter();
    KZErrorDelegate::sharedControl().setPresenter(alerts);
    const KZDesktopOpener::Launchers previous = KZDesktopOpener::setLaunchers({});
    kztest::TempDir bin;
    kztest::EnvGuard path("PATH");
    const fs::path script = bin / "xdg-open";
    std::ofstream(script) << "#!/bin/sh\necho 'xdg-open: no method available for opening' >&2\nexit 3\n";
    fs::permissions(script, fs::perms::owner_all);
    ::setenv("PATH", (bin.path().string() + ":/usr/bin:/bin").c_str(), 1);
    const auto restore = qScopeGuard([previous, shownAlerts] {
        KZDesktopOpener::setLaunchers(previous);
        KZErrorDelegate::sharedControl().setPresenter(shownAlerts);
    });
    ASSERT_NO_FATAL_FAILURE(open(KZTag::allDuplicates));
    KZFoundItemsOutlineView* view = outline(KZTag::allDuplicates)->foundListView();
    QItemSelection members;
    QStringList names;
    for (int g = 0; g < view->model()->rowCount(); ++g) {
        const QModelIndex group = view->model()->index(g, 0);
        view->expand(group);
        for (int m = 0; m < view->model()->rowCount(group); ++m) {
            const QModelIndex member = view->model()->index(m, 0, group);
            members.select(member, member);
            names << QString::fromStdString(outline(KZTag::allDuplicates)->foundModel()->rowAt(member).item->path().filename().string());
        }
    }
    ASSERT_EQ(names.size(), 12);
    view->selectionModel()->select(members, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    window->validateMenus();
    QAction* openItem = window->listCommandItem(KZResultMenus::openTag);
    ASSERT_TRUE(openItem->isEnabled());
    openItem->trigger();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return alerts->shown() > 0; }, std::chrono::seconds(20)));
    kztest::processEventsUntil([] { return false; }, std::chrono::milliseconds(200));
    ASSERT_EQ(alerts->shown(), 1u);
    const auto& alert = alerts->calls.front().alert;
    QStringList lines = alert.messageText.split(u'\n');
    ASSERT_EQ(lines.size(), 1 + KZErrorDelegate::kListedNames + 1) << alert.messageText.toStdString();
    EXPECT_EQ(lines.takeLast(), u"…and 7 more"_s);
    for (const QString& line : lines.mid(1))
        EXPECT_TRUE(names.contains(QFileInfo(line).fileName())) << line.toStdString();
    EXPECT_EQ(alert.informativeText, platform::localizedString(u"open_failed_ran_info"_s, u"Errors"_s));
    EXPECT_EQ(beeps, 0);
}

// Show in Folder, Open and Mark in the window's menus act on the selection
// of whichever tab is on screen when they are chosen.
TEST_F(ResultWindowFlow, MenuCommandsFollowTheShownTab)
{
    writeTree(4);
    ASSERT_NO_FATAL_FAILURE(open(KZTag::allDuplicates));
    QAction* openItem = window->listCommandItem(KZResultMenus::openTag);
    QAction* markItem = window->listCommandItem(KZResultMenus::markTag);
    ASSERT_TRUE(openItem && markItem && window->listCommandItem(KZResultMenus::revealTag));
    window->validateMenus();
    EXPECT_FALSE(openItem->isEnabled()) << "nothing selected";

    const auto selectFirstMember = [&](quint64 tab) {
        KZFoundItemsOutlineView* view = outline(tab)->foundListView();
        const QModelIndex group = view->model()->index(0, 0);
        view->expand(group);
        const QModelIndex member = view->model()->index(0, 0, group);
        view->selectionModel()->select(member, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        return outline(tab)->foundModel()->rowAt(member).item;
    };
    const KZFoundItemRef inAll = selectFirstMember(KZTag::allDuplicates);
    window->validateMenus();
    EXPECT_TRUE(openItem->isEnabled());
    EXPECT_TRUE(markItem->isEnabled());
    EXPECT_FALSE(markItem->text().isEmpty());
    openItem->trigger();
    ASSERT_EQ(workspace.opened.size(), 1u);
    EXPECT_EQ(workspace.opened.back(), inAll->path());

    const quint64 other = window->tabsStrip()->fileTypes().rbegin()->first;
    window->showWindowWithTabTag(other);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return outline(other) && outline(other)->foundModel()->rowCount() > 0; }));
    const KZFoundItemRef inOther = selectFirstMember(other);
    window->validateMenus();
    openItem->trigger();
    ASSERT_EQ(workspace.opened.size(), 2u);
    EXPECT_EQ(workspace.opened.back(), inOther->path()) << "the tab on screen, not the one the item was made for";

    // Mark toggles: a marked copy is cleared, the group's last unmarked
    // copy is asked about first.
    const bool wasMarked = inOther->isMarked();
    markItem->trigger();
    auto* marking = outline(other)->foundListView()->findChild<KZListMarkingCntrl*>();
    ASSERT_TRUE(kztest::processEventsUntil([&] {
        return inOther->isMarked() != wasMarked || marking->markInfoPopover()->popover()->isVisible();
    }));
    EXPECT_EQ(marking->markInfoPopover()->popover()->isVisible(), !wasMarked);
    EXPECT_EQ(beeps, 0);
    marking->markInfoPopover()->popover()->close();
}

// The View menu cycles the tabs and expands or collapses the groups of the
// tab on screen; the Result menu names that tab.
TEST_F(ResultWindowFlow, ViewAndResultMenusActOnAndNameTheShownTab)
{
    writeTree(4);
    ASSERT_NO_FATAL_FAILURE(open(KZTag::allDuplicates));
    KZMenuSet& menus = KZMenuSet::shared();
    QAction* removeItem = menus.item(KZMenuSet::Result, KZMenuSet::RemoveTag);
    QAction* exportItem = menus.item(KZMenuSet::Result, KZMenuSet::ExportTag);
    QAction* markItem = menus.item(KZMenuSet::Result, KZMenuSet::MarkTag);
    const auto titled = [](const char* key, const QString& tab) {
        return platform::localizedString(QString::fromLatin1(key)).replace(u"%@"_s, tab);
    };
    const QString allName = window->tabsStrip()->fileTypes().at(KZTag::allDuplicates)->removeBtnTitle();
    markItem->setText(u"as before"_s);
    window->validateMenus();
    EXPECT_EQ(removeItem->text(), titled("remove_button_title", allName));
    EXPECT_EQ(exportItem->text(), titled("export_menu_title", allName));
    EXPECT_FALSE(exportItem->text().contains(u"export_menu_title"_s));
    EXPECT_EQ(markItem->text(), u"as before"_s) << "nothing selected: the title stays";

    // Collapse and expand every group of the tab on screen.
    QAction* expandAll = window->viewItem(4);
    QAction* collapseAll = window->viewItem(5);
    ASSERT_TRUE(expandAll && collapseAll && window->viewItem(1));
    ASSERT_TRUE(expandAll->isEnabled() && collapseAll->isEnabled());
    KZFoundItemsOutlineView* view = outline(KZTag::allDuplicates)->foundListView();
    const auto allGroups = [view](bool expanded) {
        for (int g = 0; g < view->model()->rowCount(); ++g)
            if (view->isExpanded(view->model()->index(g, 0)) != expanded)
                return false;
        return view->model()->rowCount() > 0;
    };
    collapseAll->trigger();
    EXPECT_TRUE(kztest::processEventsUntil([&] { return allGroups(false); }));
    expandAll->trigger();
    EXPECT_TRUE(kztest::processEventsUntil([&] { return allGroups(true); }));

    // The next tab comes up, and the menus follow it.
    const auto types = window->tabsStrip()->fileTypes();
    ASSERT_GT(types.size(), 1u);
    window->validateMenus();
    ASSERT_TRUE(window->viewItem(1)->isEnabled());
    window->viewItem(1)->trigger();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return window->currSelectedTabTag() != KZTag::allDuplicates; }));
    const quint64 next = window->currSelectedTabTag();
    window->validateMenus();
    EXPECT_EQ(removeItem->text(), titled("remove_button_title", types.at(next)->removeBtnTitle()));

    // Shown as a list there is nothing to expand.
    window->showByGroupAction();
    EXPECT_TRUE(kztest::processEventsUntil([&] {
        window->validateMenus();
        return !expandAll->isEnabled() && !collapseAll->isEnabled();
    }));
    window->showByGroupAction();
    EXPECT_EQ(beeps, 0);
}

// File > Quick Look opens the preview panel on the tab on screen; the
// panel follows the tab brought to the front and closes with the item.
TEST_F(ResultWindowFlow, QuickLookShowsTheSelectionOfTheTabOnScreen)
{
    writeTree(4);
    ASSERT_NO_FATAL_FAILURE(open(KZTag::allDuplicates));
    const auto selectFirstGroup = [&](quint64 tab) {
        KZFoundItemsOutlineView* view = outline(tab)->foundListView();
        const QModelIndex group = view->model()->index(0, 0);
        view->selectionModel()->select(group, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        return outline(tab)->foundModel()->rowAt(group).group->items().first();
    };
    QAction* quickLook = window->quickLookItem();
    window->validateMenus();
    EXPECT_FALSE(quickLook->isEnabled()) << "nothing selected";
    const KZFoundItemRef inAll = selectFirstGroup(KZTag::allDuplicates);
    window->validateMenus();
    ASSERT_TRUE(quickLook->isEnabled());
    EXPECT_TRUE(KZMenuSet::hasHandler(KZMenuSet::File, KZMenuSet::QuickLookTag));
    quickLook->trigger();
    KZPreviewPanel& panel = KZPreviewPanel::shared();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return panel.currentItem() && panel.currentItem()->item() == inAll; }));
    EXPECT_TRUE(KZPreviewPanel::isOpen());

    const quint64 other = window->tabsStrip()->fileTypes().rbegin()->first;
    window->showWindowWithTabTag(other);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return outline(other) && outline(other)->foundModel()->rowCount() > 0; }));
    const KZFoundItemRef inOther = selectFirstGroup(other);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return panel.currentItem() && panel.currentItem()->item() == inOther; }));
    window->validateMenus();
    quickLook->trigger();
    EXPECT_FALSE(KZPreviewPanel::isOpen());
}

// The result shown the moment the search ends: the tab is on screen before
// its list is built, and shows the list once it is, not "no duplicates".
TEST_F(ResultWindowFlow, AListBuiltAfterTheWindowShowsComesOnScreen)
{
    writeTree(4);
    const QVariantMap info = searchFor(root);
    // The tabs' lists start only once the window is up.
    kztest::Gate shown;
    platform::Subscription hold = platform::NotificationCenter::defaultCenter().addObserver(
        KZNotification::startToShowItems, platform::bundleIdentifier(), [&shown](const platform::Notification&) {
            if (!platform::isMainThread())
                shown.wait();
        });
    const auto release = qScopeGuard([&] { shown.open(); });
    KZResultWindowCntrl::Services services;
    services.askToClose = [] { return true; };
    window = std::make_unique<KZResultWindowCntrl>(services);
    window->resize(1000, 640);
    window->initializeResultWithInfo(info);
    window->showWindowWithTabTag(KZTag::allDuplicates);
    ASSERT_TRUE(kztest::processEventsUntil([&] {
        KZResultOutlineCntrl* shownOutline = outline(KZTag::allDuplicates);
        return window->isVisible() && shownOutline && shownOutline->view()->isVisible();
    }));
    QTest::qWait(50);
    EXPECT_EQ(outline(KZTag::allDuplicates)->foundModel()->rowCount(), 0) << "the list came before the window";
    shown.open();
    EXPECT_TRUE(kztest::processEventsUntil([&] {
        return outline(KZTag::allDuplicates)->foundModel()->rowCount() == 4 &&
               !outline(KZTag::allDuplicates)->emptyView()->isVisible();
    }));
    EXPECT_EQ(listed(KZTag::allDuplicates).size(), contents.size());
}

// Up and Down in the panel move the list's selection, as they would in the
// list, and the panel follows; with one row selected too, where the panel
// has nothing of its own to step through.
TEST_F(ResultWindowFlow, QuickLookArrowsMoveTheListSelection)
{
    writeTree(4);
    ASSERT_NO_FATAL_FAILURE(open(KZTag::allDuplicates));
    KZFoundItemsOutlineView* view = outline(KZTag::allDuplicates)->foundListView();
    KZFoundItemsModel* model = outline(KZTag::allDuplicates)->foundModel();
    ASSERT_GE(model->rowCount(), 3);
    const auto firstOf = [&](int row) { return model->rowAt(model->index(row, 0)).group->items().first(); };
    view->setCurrentIndex(model->index(0, 0));
    ASSERT_EQ(view->selectionModel()->selectedRows().size(), 1);
    window->validateMenus();
    window->quickLookItem()->trigger();
    KZPreviewPanel& panel = KZPreviewPanel::shared();
    const auto shows = [&](const KZFoundItemRef& item) {
        return kztest::processEventsUntil([&] { return panel.currentItem() && panel.currentItem()->item() == item; });
    };
    ASSERT_TRUE(shows(firstOf(0)));

    QTest::keyClick(&panel, Qt::Key_Down);
    EXPECT_EQ(view->currentIndex().row(), 1);
    EXPECT_EQ(view->selectionModel()->selectedRows(), QModelIndexList{model->index(1, 0)});
    EXPECT_TRUE(shows(firstOf(1)));
    QTest::keyClick(&panel, Qt::Key_Down);
    EXPECT_TRUE(shows(firstOf(2)));
    QTest::keyClick(&panel, Qt::Key_Up);
    EXPECT_EQ(view->currentIndex().row(), 1);
    EXPECT_TRUE(shows(firstOf(1)));

    // Left and Right are the list's too: they open a group, step into it
    // and back out, as they do in the list.
    const QModelIndex group = model->index(1, 0);
    ASSERT_FALSE(view->isExpanded(group));
    QTest::keyClick(&panel, Qt::Key_Right);
    EXPECT_TRUE(view->isExpanded(group));
    QTest::keyClick(&panel, Qt::Key_Right);
    EXPECT_EQ(view->currentIndex().siblingAtColumn(0), model->index(0, 0, group));
    EXPECT_TRUE(shows(firstOf(1)));
    QTest::keyClick(&panel, Qt::Key_Left);
    EXPECT_EQ(view->currentIndex().siblingAtColumn(0), group);
    QTest::keyClick(&panel, Qt::Key_Left);
    EXPECT_FALSE(view->isExpanded(group));
    EXPECT_TRUE(KZPreviewPanel::isOpen());
    EXPECT_EQ(beeps, 0);
    QTest::keyClick(&panel, Qt::Key_Escape);
    EXPECT_FALSE(KZPreviewPanel::isOpen());
}

// Quick Look opens out of the selected row's name and closes back into it;
// a row scrolled out of view has no place on screen, and the panel then
// opens and closes where it stands.
TEST_F(ResultWindowFlow, QuickLookZoomsFromAndToTheSelectedRowWhileItIsInView)
{
    writeTree(14);
    ASSERT_NO_FATAL_FAILURE(open(KZTag::allDuplicates));
    KZResultOutlineCntrl* list = outline(KZTag::allDuplicates);
    KZFoundItemsOutlineView* view = list->foundListView();
    KZFoundItemsModel* model = list->foundModel();
    const QModelIndex group = model->index(0, 0);
    view->expand(group);
    const QModelIndex member = model->index(1, 0, group);
    const KZFoundItemRef item = model->rowAt(member).item;
    view->setCurrentIndex(member);
    QTest::qWait(50);
    const QRect at = list->rectOfItem(item);
    ASSERT_FALSE(at.isEmpty());
    EXPECT_TRUE(list->isItemVisible(item));
    EXPECT_EQ(at.size(), QSize(32, 32));
    // On the row, at the start of its name cell.
    const QRect name = view->visualRect(member.siblingAtColumn(KZTableHeaderCntrl::indexOf(KZColumnKey::name_col)));
    const QRect onScreen(view->viewport()->mapToGlobal(name.topLeft()), name.size());
    EXPECT_TRUE(onScreen.contains(at.center())) << onScreen.x() << "," << onScreen.y() << " " << at.x() << "," << at.y();
    EXPECT_LT(at.left() - onScreen.left(), 10);
    EXPECT_EQ(list->rectOfNameColumn().height(), 0);
    EXPECT_GT(list->rectOfNameColumn().width(), 0);

    KZPreviewPanel& panel = KZPreviewPanel::shared();
    const int zooms = panel.zoomCount();
    window->validateMenus();
    window->quickLookItem()->trigger();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return panel.currentItem() && panel.currentItem()->item() == item; }));
    ASSERT_EQ(panel.zoomCount(), zooms + 1);
    EXPECT_TRUE(panel.lastZoom()->opening);
    EXPECT_EQ(panel.lastZoom()->from, at);
    EXPECT_EQ(panel.lastZoom()->to, panel.geometry());
    EXPECT_TRUE(kztest::processEventsUntil([&] { return panel.windowOpacity() == 1.0; })) << "shown once the zoom ends";
    QTest::keyClick(&panel, Qt::Key_Escape);
    ASSERT_EQ(panel.zoomCount(), zooms + 2);
    EXPECT_FALSE(panel.lastZoom()->opening);
    EXPECT_EQ(panel.lastZoom()->to, at);

    // The same row scrolled out of view: no place, no zoom either way.
    view->scrollToBottom();
    QCoreApplication::processEvents();
    ASSERT_FALSE(list->isItemVisible(item));
    EXPECT_TRUE(list->rectOfItem(item).isEmpty());
    EXPECT_TRUE(list->rectOfItem(nullptr).isEmpty());
    window->quickLookItem()->trigger();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return panel.currentItem() && panel.currentItem()->item() == item; }));
    EXPECT_TRUE(KZPreviewPanel::isOpen());
    EXPECT_EQ(panel.windowOpacity(), 1.0);
    QTest::keyClick(&panel, Qt::Key_Escape);
    EXPECT_FALSE(KZPreviewPanel::isOpen());
    EXPECT_EQ(panel.zoomCount(), zooms + 2);
}

// The panel previewing a row goes before its window leaves the screen, and
// closes where it stands: a closing zoom would fly into a row no longer
// there, over whatever the screen shows next.
TEST_F(ResultWindowFlow, QuickLookClosesInPlaceBeforeItsWindowLeaves)
{
    writeTree(4);
    ASSERT_NO_FATAL_FAILURE(open(KZTag::allDuplicates));
    KZResultOutlineCntrl* list = outline(KZTag::allDuplicates);
    KZFoundItemsOutlineView* view = list->foundListView();
    const QModelIndex group = list->foundModel()->index(0, 0);
    view->expand(group);
    const QModelIndex member = list->foundModel()->index(1, 0, group);
    const KZFoundItemRef item = list->foundModel()->rowAt(member).item;
    view->setCurrentIndex(member);
    QTest::qWait(50);
    ASSERT_FALSE(list->rectOfItem(item).isEmpty());

    KZPreviewPanel& panel = KZPreviewPanel::shared();
    std::vector<bool> windowShownAtClose;
    const auto note = platform::NotificationCenter::defaultCenter().addObserver(
        QStringLiteral("quickLookWindowVisibilityWillChange"), platform::bundleIdentifier(),
        [&](const platform::Notification& n) {
            if (!n.userInfo.value(QStringLiteral("isVisible")).toBool())
                windowShownAtClose.push_back(window->isVisible());
        });
    const auto openPanel = [&] {
        if (!window->isVisible()) {
            window->showWindowWithTabTag(KZTag::allDuplicates);
            if (!QTest::qWaitForWindowExposed(window.get(), kztest::kPatienceMs))
                return false;
        }
        window->validateMenus();
        window->quickLookItem()->trigger();
        return kztest::processEventsUntil([&] {
            return KZPreviewPanel::isOpen() && panel.currentItem() && panel.currentItem()->item() == item &&
                   panel.windowOpacity() == 1.0;
        });
    };

    // New Search and Search Again tell the window before its transition.
    ASSERT_TRUE(openPanel());
    int zooms = panel.zoomCount();
    platform::NotificationCenter::defaultCenter().post(KZNotification::newSearch,
                                                       platform::NotificationObject(window->notificationObject()));
    EXPECT_FALSE(KZPreviewPanel::isOpen()) << "closed before the window goes";
    EXPECT_EQ(windowShownAtClose, std::vector<bool>{true});
    EXPECT_EQ(panel.zoomCount(), zooms) << "no zoom into a row about to go";
    window->hide();

    // Taken off screen some other way, the window's rows have no place.
    ASSERT_TRUE(openPanel());
    zooms = panel.zoomCount();
    window->hide();
    EXPECT_FALSE(KZPreviewPanel::isOpen());
    EXPECT_EQ(panel.zoomCount(), zooms);
    EXPECT_TRUE(list->rectOfItem(item).isEmpty());

    // Closed by the user.
    ASSERT_TRUE(openPanel());
    zooms = panel.zoomCount();
    EXPECT_TRUE(window->close());
    EXPECT_FALSE(KZPreviewPanel::isOpen());
    EXPECT_EQ(panel.zoomCount(), zooms);
    EXPECT_EQ(windowShownAtClose, (std::vector<bool>{true, false, true}));
}

// Answers each file panel with the next scripted path, and its check box
// with `checkBox`.
class ScriptedSavePanels : public KZFileDialogPresenter {
public:
    std::vector<Request> requests;
    std::deque<QString> answers;
    bool checkBox = false;
    void present(const Request& request, Completion done) override
    {
        requests.push_back(request);
        if (answers.empty()) {
            done({});
            return;
        }
        const QString path = answers.front();
        answers.pop_front();
        done({true, {path}, checkBox});
    }
};

// The Save and Export dialogs are sheets of the result window: while one is
// open the window is inactive, and its list must paint every row as before,
// groups with their boxes, names and counters.
TEST_F(ResultWindowFlow, TheListPaintsAsBeforeBehindTheSaveAndExportDialogs)
{
    writeTree(4);
    KZFileDialogPresenter::setShared(std::make_shared<KZFileDialogSheetPresenter>());
    const auto unregister = qScopeGuard([] { KZFileDialogPresenter::setShared(nullptr); });
    ASSERT_NO_FATAL_FAILURE(open(KZTag::allDuplicates));
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get(), kztest::kPatienceMs));
    KZFoundItemsOutlineView* view = outline(KZTag::allDuplicates)->foundListView();
    view->expandAll();
    view->clearSelection();
    QCoreApplication::processEvents();
    // Rows only: the scroll bars may come and go with the window's activity.
    const QImage before = view->viewport()->grab().toImage();
    ASSERT_FALSE(before.isNull());

    KZMenuSet& menus = KZMenuSet::shared();
    for (const auto& [menu, tag] : {std::pair{KZMenuSet::File, KZMenuSet::SaveTag},
                                    std::pair{KZMenuSet::Result, KZMenuSet::ExportTag}}) {
        SCOPED_TRACE(tag);
        window->validateMenus();
        QAction* item = menus.item(menu, tag);
        ASSERT_TRUE(item && item->isEnabled());
        item->trigger();
        QFileDialog* dialog = nullptr;
        ASSERT_TRUE(kztest::processEventsUntil([&] {
            dialog = window->findChild<QFileDialog*>();
            return dialog && dialog->isVisible() && QApplication::activeWindow() == dialog;
        }, kztest::kPatience));
        QTest::qWait(200);
        EXPECT_FALSE(window->isActiveWindow());
        const QImage behind = view->viewport()->grab().toImage();
        EXPECT_TRUE(behind == before) << "the list behind the open dialog paints otherwise";
        dialog->reject();
        ASSERT_TRUE(kztest::processEventsUntil([&] { return !window->findChild<QFileDialog*>(); }));
        ASSERT_TRUE(kztest::processEventsUntil([&] { return !window->resultCntrl()->saveCntrl(); }));
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get(), kztest::kPatienceMs));
    }
}

// File > Save… and Result > Export… as the user reaches them: the shared
// menu items, a save panel answered by script, the files on disk.
TEST_F(ResultWindowFlow, SaveAndExportThroughTheMenus)
{
    writeTree(4);
    auto panels = std::make_shared<ScriptedSavePanels>();
    KZFileDialogPresenter::setShared(panels);
    const auto unregister = qScopeGuard([] { KZFileDialogPresenter::setShared(nullptr); });
    ASSERT_NO_FATAL_FAILURE(open(KZTag::allDuplicates));
    KZMenuSet& menus = KZMenuSet::shared();
    QAction* save = menus.item(KZMenuSet::File, KZMenuSet::SaveTag);
    QAction* exportItem = menus.item(KZMenuSet::Result, KZMenuSet::ExportTag);
    ASSERT_TRUE(save && exportItem && menus.item(KZMenuSet::Result, KZMenuSet::RemoveTag) &&
                menus.item(KZMenuSet::Result, KZMenuSet::MarkTag));
    window->validateMenus();
    ASSERT_TRUE(save->isEnabled());
    ASSERT_TRUE(exportItem->isEnabled());

    // A cancelled panel writes nothing and leaves Save usable.
    save->trigger();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !window->resultCntrl()->saveCntrl(); }));
    ASSERT_EQ(panels->requests.size(), 1u);
    EXPECT_EQ(panels->requests.back().allowedTypes, QStringList{u"maravex"_s});
    EXPECT_EQ(panels->requests.back().window, window.get()) << "a sheet of the result window";

    // The typed name gets the file type's extension.
    const fs::path saved = root / "result.maravex";
    panels->answers.push_back(QString::fromStdString((root / "result").string()));
    save->trigger();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !window->resultCntrl()->saveCntrl(); },
                                           std::chrono::seconds(20)));
    ASSERT_TRUE(fs::exists(saved));
    QString error;
    const auto back = KZSavedResultFormat::decode(QByteArray::fromStdString(kztest::readFile(saved)), &error);
    ASSERT_TRUE(back) << error.toStdString();
    EXPECT_EQ(back->items.size(), contents.size());
    EXPECT_EQ(back->selectedTabTag, quint64(KZTag::allDuplicates));
    size_t marked = 0;
    for (const KZSavedItem& item : back->items) {
        EXPECT_FALSE(item.alias.isEmpty());
        marked += item.isMarked;
    }
    EXPECT_EQ(marked, listed(KZTag::allDuplicates, true).size());

    // Export acts on the tab on screen: the last file-type tab.
    const quint64 other = window->tabsStrip()->fileTypes().rbegin()->first;
    window->showWindowWithTabTag(other);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return outline(other) && outline(other)->foundModel()->rowCount() > 0; }));
    window->validateMenus();
    ASSERT_TRUE(exportItem->isEnabled());
    auto* tab = dynamic_cast<KZResultItemsTypeCntrl*>(window->resultCntrl()->itemsTypeCntrl(other));
    ASSERT_TRUE(tab && tab->foundListCntrl());
    const fs::path exported = root / "list.txt";
    panels->answers.push_back(QString::fromStdString(exported.string()));
    exportItem->trigger();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return fs::exists(exported) && !tab->foundListCntrl()->exportIsRunning(); },
                                           std::chrono::seconds(20)));
    EXPECT_EQ(panels->requests.back().allowedTypes, QStringList{u"txt"_s});
    EXPECT_FALSE(panels->requests.back().checkBoxTitle.isEmpty()) << "the only-marked check box";
    EXPECT_FALSE(panels->requests.back().checkBoxChecked);
    const QStringList lines = QString::fromStdString(kztest::readFile(exported)).split(u'\n', Qt::SkipEmptyParts);
    // The title and the footer are plain lines; the header and every row
    // have the same fields.
    QStringList table;
    for (const QString& line : lines)
        if (line.contains(u'\t'))
            table << line;
    const std::set<fs::path> shown = listed(other);
    ASSERT_EQ(table.size(), qsizetype(shown.size()) + 1);
    for (const QString& line : table)
        EXPECT_EQ(line.split(u'\t').size(), table.first().split(u'\t').size()) << line.toStdString();
    const QString text = lines.join(u'\n');
    for (const fs::path& path : shown)
        EXPECT_TRUE(text.contains(QString::fromStdString(path.filename().string()))) << path;
    for (const fs::path& path : listed(KZTag::allDuplicates)) {
        if (!shown.count(path)) {
            EXPECT_FALSE(text.contains(QString::fromStdString(path.filename().string()))) << "another tab's " << path;
        }
    }

    // With the check box on, only the marked items become rows. The same
    // names lie in two folders, so a row is told by its name and folder.
    const std::set<fs::path> markedShown = listed(other, true);
    ASSERT_FALSE(markedShown.empty());
    ASSERT_LT(markedShown.size(), shown.size());
    const fs::path exportedMarked = root / "marked.txt";
    panels->checkBox = true;
    panels->answers.push_back(QString::fromStdString(exportedMarked.string()));
    exportItem->trigger();
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] { return fs::exists(exportedMarked) && !tab->foundListCntrl()->exportIsRunning(); },
        std::chrono::seconds(20)));
    QStringList rows;
    for (const QString& line : QString::fromStdString(kztest::readFile(exportedMarked)).split(u'\n'))
        if (line.contains(u'\t'))
            rows << line;
    ASSERT_FALSE(rows.isEmpty());
    rows.removeFirst(); // the header
    std::set<fs::path> rowPaths;
    for (const QString& row : rows) {
        const QStringList fields = row.split(u'\t');
        for (const fs::path& path : shown) {
            const QString folder = QString::fromStdString(path.parent_path().string()) + u'/';
            if (fields.contains(QString::fromStdString(path.filename().string())) && fields.contains(folder))
                rowPaths.insert(path);
        }
    }
    EXPECT_EQ(rows.size(), qsizetype(markedShown.size()));
    EXPECT_EQ(rowPaths, markedShown);

    // Result > Remove opens the tab's removal panel; while it is open
    // nothing saves, exports or removes again.
    QAction* removeItem = menus.item(KZMenuSet::Result, KZMenuSet::RemoveTag);
    window->validateMenus();
    ASSERT_TRUE(removeItem->isEnabled());
    removeItem->trigger();
    QPointer<KZRemovePanelWidget> panel;
    ASSERT_TRUE(kztest::processEventsUntil([&] {
        panel = window->findChild<KZRemovePanelWidget*>();
        return panel && panel->visibleCard() == KZRemovePanelWidget::Card::Choose;
    }));
    window->validateMenus();
    EXPECT_FALSE(save->isEnabled());
    EXPECT_FALSE(exportItem->isEnabled());
    EXPECT_FALSE(removeItem->isEnabled());
    panel->closePanel();
    ASSERT_TRUE(kztest::processEventsUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return !panel && !window->isRemoving();
    }));
    EXPECT_TRUE(save->isEnabled());
    EXPECT_EQ(beeps, 0);
}

// A save keeps the view of every tab, not only of the tab on screen: each
// tab's expanded groups, selected rows, sort order and shown source row.
TEST_F(ResultWindowFlow, SaveKeepsTheViewStateOfEveryTab)
{
    writeTree(4);
    auto panels = std::make_shared<ScriptedSavePanels>();
    KZFileDialogPresenter::setShared(panels);
    const auto unregister = qScopeGuard([] { KZFileDialogPresenter::setShared(nullptr); });
    ASSERT_NO_FATAL_FAILURE(open(KZTag::allDuplicates));

    // The first tab: a member of the first group expanded and selected.
    KZFoundItemsOutlineView* allView = outline(KZTag::allDuplicates)->foundListView();
    const QModelIndex group = allView->model()->index(0, 0);
    allView->expand(group);
    const QModelIndex member = allView->model()->index(0, 0, group);
    allView->selectionModel()->select(member, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    const KZFoundItemRef selected = outline(KZTag::allDuplicates)->foundModel()->rowAt(member).item;
    ASSERT_TRUE(selected);

    // Another tab on screen: a group row selected, sorted by a header click.
    const quint64 other = window->tabsStrip()->fileTypes().rbegin()->first;
    window->showWindowWithTabTag(other);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return outline(other) && outline(other)->foundModel()->rowCount() > 0; }));
    KZFoundItemsOutlineView* otherView = outline(other)->foundListView();
    otherView->selectionModel()->select(otherView->model()->index(0, 0),
                                        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    const KZListRow otherGroup = outline(other)->foundModel()->rowAt(otherView->model()->index(0, 0));
    ASSERT_TRUE(otherGroup.isGroupRow());
    outline(other)->headerClicked(2);
    ASSERT_FALSE(outline(other)->sortDescriptors().isEmpty());

    const fs::path saved = root / "state.maravex";
    panels->answers.push_back(QString::fromStdString(saved.string()));
    window->validateMenus();
    KZMenuSet::shared().item(KZMenuSet::File, KZMenuSet::SaveTag)->trigger();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !window->resultCntrl()->saveCntrl(); },
                                           std::chrono::seconds(20)));
    QString error;
    const auto back = KZSavedResultFormat::decode(QByteArray::fromStdString(kztest::readFile(saved)), &error);
    ASSERT_TRUE(back) << error.toStdString();
    EXPECT_EQ(back->selectedTabTag, other);

    for (const auto& [tag, tab] : window->resultCntrl()->itemsTypeCntrls()) {
        EXPECT_TRUE(back->leftSide.count(tag)) << tag;
        if (tag != KZTag::missingTracks) {
            EXPECT_TRUE(back->rightSide.count(tag)) << tag;
        }
    }
    const KZSavedListState& all = back->rightSide.at(KZTag::allDuplicates);
    EXPECT_EQ(back->leftSide.at(KZTag::allDuplicates).selection, all.currSelectedSourceTag);
    ASSERT_TRUE(all.expandedByTag.count(all.currSelectedSourceTag));
    EXPECT_EQ(all.expandedByTag.at(all.currSelectedSourceTag), std::vector<qint64>{selected->groupID()});
    ASSERT_TRUE(all.selectedItems.count(all.currSelectedSourceTag));
    const std::vector<KZSavedSelection> expected{
        {false, selected->groupID(), QFile::decodeName(QByteArray(selected->url().c_str()))}};
    EXPECT_EQ(all.selectedItems.at(all.currSelectedSourceTag), expected);

    const KZSavedListState& shown = back->rightSide.at(other);
    ASSERT_TRUE(shown.selectedItems.count(shown.currSelectedSourceTag));
    const std::vector<KZSavedSelection> groupRow{{true, otherGroup.group->groupID(), QString()}};
    EXPECT_EQ(shown.selectedItems.at(shown.currSelectedSourceTag), groupRow);
    ASSERT_TRUE(shown.sortDescriptors.count(shown.currSelectedSourceTag));
    EXPECT_EQ(shown.sortDescriptors.at(shown.currSelectedSourceTag).size(),
              size_t(outline(other)->sortDescriptors().size()));

    // Handed back, the saved state reaches every tab's list again: the
    // collapsed group opens, the cleared selection is remembered once more.
    for (const KZFoundItemGroupRef& each : outline(KZTag::allDuplicates)->foundModel()->list()->root->groups())
        each->setIsExpanded(false);
    outline(KZTag::allDuplicates)->resetSelectionState();
    KZSavedViewState::apply(*window->resultCntrl(), *back, true);
    ASSERT_TRUE(kztest::processEventsUntil([&] {
        return !outline(KZTag::allDuplicates)->selectedItemsByTags().empty();
    }));
    const auto& remembered = outline(KZTag::allDuplicates)->selectedItemsByTags();
    ASSERT_TRUE(remembered.count(all.currSelectedSourceTag));
    ASSERT_EQ(remembered.at(all.currSelectedSourceTag).size(), 1);
    EXPECT_EQ(remembered.at(all.currSelectedSourceTag).first().item, selected);
    bool reopened = false;
    for (const KZFoundItemGroupRef& each : outline(KZTag::allDuplicates)->foundModel()->list()->root->groups())
        reopened = reopened || (each->groupID() == selected->groupID() && each->isExpanded());
    EXPECT_TRUE(reopened);
}

} // namespace

// A result with missing tracks opens its own tab; Remove deletes the marked
// tracks from the music library through the script bridge, and the window
// leaves its removal state.
TEST_F(ResultWindowFlow, TheMissingTracksTabRemovesThroughTheBridgeAndEndsTheRemoval)
{
    writeTree(2);
    kztest::ScopedScriptRunner scripts;
    QVariantMap info = searchFor(root);
    auto track = [](const QString& id, const QString& song) {
        return QVariantMap{{u"trackID"_s, id}, {u"songName"_s, song}, {u"path"_s, QString(u"/music/"_s + song)}};
    };
    info.insert(u"KZResultFoundDeads"_s, QVariantList{track(u"a1"_s, u"One"_s), track(u"b2"_s, u"Two"_s)});
    info.insert(u"KZResultSearchedForDeads"_s, true);
    ASSERT_NO_FATAL_FAILURE(initialize(info));
    window->showWindowWithTabTag(KZTag::missingTracks);
    QTableView* table = nullptr;
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] {
            table = window->findChild<QTableView*>(u"tableView"_s);
            return window->isVisible() && table && table->isVisible() && table->model()->rowCount() == 2;
        },
        std::chrono::seconds(20)));

    ASSERT_TRUE(window->deadTracksToSave());
    ASSERT_EQ(window->deadTracksToSave()->size(), 2u);
    EXPECT_EQ(window->deadTracksToSave()->at(1).trackID, u"b2"_s);
    EXPECT_EQ(window->deadTracksToSave()->at(1).path, u"/music/Two"_s);

    // Saving keeps the missing tracks and sounds once when they are gathered.
    {
        auto panels = std::make_shared<ScriptedSavePanels>();
        KZFileDialogPresenter::setShared(panels);
        const auto unregister = qScopeGuard([] { KZFileDialogPresenter::setShared(nullptr); });
        const fs::path saved = root / "tracks.maravex";
        panels->answers.push_back(QString::fromStdString(saved.string()));
        window->validateMenus();
        KZMenuSet::shared().item(KZMenuSet::File, KZMenuSet::SaveTag)->trigger();
        ASSERT_TRUE(kztest::processEventsUntil([&] { return !window->resultCntrl()->saveCntrl(); },
                                               std::chrono::seconds(20)));
        const auto back = KZSavedResultFormat::decode(QByteArray::fromStdString(kztest::readFile(saved)));
        ASSERT_TRUE(back && back->deadTracks);
        EXPECT_EQ(back->deadTracks->size(), 2u);
        EXPECT_EQ(beeps, 1);
    }

    window->removeBtn()->click();
    EXPECT_TRUE(window->isRemoving());
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !window->isRemoving(); }));
    EXPECT_EQ(scripts.runner->recorded(), QStringList{KZApplescript::deletionScriptWithString(u"a1\nb2"_s)});
    EXPECT_EQ(table->model()->rowCount(), 0);
    // A result saved now does not bring the deleted tracks back.
    ASSERT_TRUE(window->deadTracksToSave());
    EXPECT_TRUE(window->deadTracksToSave()->empty());
}

// A search of a music library whose export names tracks without a file:
// the window, asked for the tab of all duplicates that this result does not
// have (one file type beside the missing tracks), opens on its file-type tab,
// and the missing-tracks tab lists exactly the tracks whose files are gone.
TEST_F(ResultWindowFlow, ASearchedMusicLibraryOpensWithItsMissingTracksListed)
{
    kztest::ScopedDefaults defaults;
    realsearch::prepareWindowDefaults();
    KZiTunesSupport::setSharedControl(nullptr);
    const auto forget = qScopeGuard([] { KZiTunesSupport::setSharedControl(nullptr); });
    const fs::path media = root / "iTunes Media";
    const fs::path exportFile = root / "iTunes Library.xml";
    fs::create_directories(media);
    const std::string song(4000, 's');
    std::ofstream(media / "one.mp3", std::ios::binary) << song;
    std::ofstream(media / "one again.mp3", std::ios::binary) << song;
    std::ofstream(media / "single.mp3", std::ios::binary) << std::string(3000, 'u');
    kztest::MusicLibraryBuilder(media)
        .fileTrack(1, 0xA1, media / "one.mp3", u"One"_s, u"Ada"_s, u"First"_s)
        .fileTrack(2, 0xB2, media / "one again.mp3", u"One Again"_s, u"Ada"_s, u"First"_s)
        .fileTrack(3, 0xC3, media / "single.mp3", u"Single"_s)
        .fileTrack(4, 0xD4, media / "gone.mp3", u"Gone"_s, u"Bea"_s, u"Second"_s)
        .fileTrack(5, 0xE5, media / "lost.mp3", u"Lost"_s, u"Bea"_s, u"Second"_s)
        .write(exportFile);
    defaults->setValue(KZDefaultsKey::iTunes_library_path, QFile::decodeName(exportFile.c_str()));
    defaults->setValue(KZDefaultsKey::ask_show_deads, true);

    const auto library = KZSourceItem::create({{u"url"_s, QVariant::fromValue(root)}, {u"iTunesLibValue"_s, 1}});
    ASSERT_NO_FATAL_FAILURE(initialize(searchFor(std::vector<KZSourceItemRef>{library})));
    const auto tabs = window->tabsStrip()->fileTypes();
    ASSERT_EQ(tabs.size(), 2u);
    ASSERT_FALSE(tabs.contains(KZTag::allDuplicates));
    const quint64 music = tabs.begin()->first;

    window->showWindowWithTabTag(KZTag::allDuplicates); // as Show Result asks
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] { return window->isVisible() && outline(music) && outline(music)->foundListView()->isVisible(); },
        std::chrono::seconds(20)));
    EXPECT_EQ(listed(music), (std::set<fs::path>{media / "one.mp3", media / "one again.mp3"}));

    window->showWindowWithTabTag(KZTag::missingTracks);
    QTableView* table = nullptr;
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] {
            table = window->findChild<QTableView*>(u"tableView"_s);
            return table && table->isVisible() && table->model()->rowCount() == 2;
        },
        std::chrono::seconds(20)));
    EXPECT_FALSE(outline(music)->foundListView()->isVisible());
    QStringList songs;
    for (int row = 0; row < table->model()->rowCount(); ++row)
        for (int column = 0; column < table->model()->columnCount(); ++column)
            songs << table->model()->index(row, column).data().toString();
    EXPECT_TRUE(songs.contains(u"Gone"_s) && songs.contains(u"Lost"_s)) << songs.join(u", "_s).toStdString();
    EXPECT_FALSE(songs.contains(u"Single"_s));
    ASSERT_TRUE(window->deadTracksToSave());
    ASSERT_EQ(window->deadTracksToSave()->size(), 2u);
    EXPECT_EQ(window->deadTracksToSave()->at(0).trackID, u"d4"_s);
    // Where the file was stays in the tab and in a saved result.
    EXPECT_EQ(window->deadTracksToSave()->at(0).path, QFile::decodeName((media / "gone.mp3").c_str()));
    EXPECT_TRUE(songs.contains(QFile::decodeName((media / "lost.mp3").c_str())));
}

// Missing tracks with no duplicate beside them are a result of their own:
// the window asked for all duplicates opens on the missing tracks.
TEST_F(ResultWindowFlow, MissingTracksWithoutAnyDuplicateOpenOnTheirTab)
{
    kztest::ScopedDefaults defaults;
    realsearch::prepareWindowDefaults();
    KZiTunesSupport::setSharedControl(nullptr);
    const auto forget = qScopeGuard([] { KZiTunesSupport::setSharedControl(nullptr); });
    const fs::path media = root / "iTunes Media";
    const fs::path exportFile = root / "iTunes Library.xml";
    fs::create_directories(media);
    std::ofstream(media / "single.mp3", std::ios::binary) << std::string(3000, 'u');
    kztest::MusicLibraryBuilder(media)
        .fileTrack(1, 0xC3, media / "single.mp3", u"Single"_s)
        .fileTrack(2, 0xD4, media / "gone.mp3", u"Gone"_s, u"Bea"_s, u"Second"_s)
        .fileTrack(3, 0xE5, media / "lost.mp3", u"Lost"_s, u"Bea"_s, u"Second"_s)
        .write(exportFile);
    defaults->setValue(KZDefaultsKey::iTunes_library_path, QFile::decodeName(exportFile.c_str()));
    defaults->setValue(KZDefaultsKey::ask_show_deads, true);

    const auto library = KZSourceItem::create({{u"url"_s, QVariant::fromValue(root)}, {u"iTunesLibValue"_s, 1}});
    const QVariantMap info = searchFor(std::vector<KZSourceItemRef>{library});
    ASSERT_EQ(info.value(u"KZResultFoundItemsCount"_s).toULongLong(), 0u);
    ASSERT_NO_FATAL_FAILURE(initialize(info));
    window->showWindowWithTabTag(KZTag::allDuplicates); // as Show Result asks
    QTableView* table = nullptr;
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] {
            table = window->findChild<QTableView*>(u"tableView"_s);
            return window->isVisible() && table && table->isVisible() && table->model()->rowCount() == 2;
        },
        std::chrono::seconds(20)));
    EXPECT_EQ(window->currSelectedTabTag(), KZTag::missingTracks);
}

// The removal's destination is one folder that exists; the chooser offers
// no way to make a new one.
TEST(ResultRemovalHost, TheDestinationChooserPicksOneExistingFolder)
{
    kztest::TempDir dir;
    auto panels = std::make_shared<ScriptedSavePanels>();
    KZFileDialogPresenter::setShared(panels);
    const auto unregister = qScopeGuard([] { KZFileDialogPresenter::setShared(nullptr); });
    panels->answers.push_back(QString::fromStdString(dir.path().string()));
    KZResultRemovalHost host(nullptr, {});
    std::optional<fs::path> chosen;
    host.chooseDestination([&chosen](const fs::path& path) { chosen = path; });
    ASSERT_TRUE(kztest::processEventsUntil([&] { return chosen.has_value(); }));
    EXPECT_EQ(*chosen, dir.path());
    ASSERT_EQ(panels->requests.size(), 1u);
    EXPECT_EQ(panels->requests[0].mode, KZFileDialogPresenter::Mode::ChooseFolders);
    EXPECT_FALSE(panels->requests[0].canCreateDirectories);
    EXPECT_FALSE(panels->requests[0].allowsMultipleSelection);
}

// Two sources: every copy in A is older and marked, B holds their kept
// copies and one older copy of its own. After the Trash each source's row
// counts what left it and what stays in it, and the restore gives each row
// back what it had.
TEST_F(ResultWindowFlow, EachSourcesRowCountsWhatLeftItAndGetsItBack)
{
    for (int i = 0; i < 3; ++i) {
        const std::string bytes(1500 + 100 * i, char('k' + i));
        for (const auto& [folder, when] : {std::pair{"A", 1'000'000'000}, std::pair{"B", 1'600'000'000}}) {
            const fs::path path = root / folder / ("f" + std::to_string(i) + ".txt");
            fs::create_directories(path.parent_path());
            std::ofstream(path, std::ios::binary) << bytes;
            setModified(path, when);
        }
    }
    for (const auto& [name, when] : {std::pair{"B/p.txt", 1'000'000'000}, std::pair{"B/in/p.txt", 1'600'000'000}}) {
        fs::create_directories((root / name).parent_path());
        std::ofstream(root / name, std::ios::binary) << std::string(900, 'p');
        setModified(root / name, when);
    }
    ASSERT_NO_FATAL_FAILURE(initialize(searchFor(std::vector<fs::path>{root / "A", root / "B"})));
    const quint64 tab = window->tabsStrip()->fileTypes().begin()->first;
    window->showWindowWithTabTag(tab);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return outline(tab) && outline(tab)->foundModel()->rowCount() == 4; },
                                           std::chrono::seconds(20)));
    auto* tabCntrl = dynamic_cast<KZResultItemsTypeCntrl*>(window->resultCntrl()->itemsTypeCntrl(tab));
    auto* sources = tabCntrl ? dynamic_cast<KZResultSourcesListCntrl*>(tabCntrl->sourcesListCntrl()) : nullptr;
    ASSERT_TRUE(sources);
    // Per source row: items, marked, removed.
    using Figures = std::tuple<quint64, quint64, quint64>;
    const auto figures = [&] {
        std::map<QString, Figures> rows;
        for (const KZResultSourcesTypeItemRef& row : sources->rows().items())
            if (row->isSourceRow())
                rows[row->name] = {row->itemsCount, row->markedCount, row->removedCount};
        return rows;
    };
    const std::map<QString, Figures> before{{u"A"_s, {3, 3, 0}}, {u"B"_s, {5, 1, 0}}};
    ASSERT_TRUE(kztest::processEventsUntil([&] { return figures() == before; })) << figures().size();

    ASSERT_NO_FATAL_FAILURE(kztest::removeThroughThePanel(window.get()));
    const std::map<QString, Figures> after{{u"A"_s, {0, 0, 3}}, {u"B"_s, {4, 0, 1}}};
    EXPECT_EQ(figures(), after);

    const std::vector<fs::path> files = KZUndoFile::list(platform::homeTrashDirectory());
    ASSERT_EQ(files.size(), 1u);
    KZRestoreRemovedFiles::sharedControl().restoreItemsOfFile(files, {});
    EXPECT_TRUE(kztest::processEventsUntil([&] { return figures() == before; }));
    EXPECT_EQ(figures(), before);
}
