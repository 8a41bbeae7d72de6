#include "app/progress/KZProgressRingGeometry.h"
#include "app/progress/KZSearchProgressCore.h"
#include "app/progress/ui/KZProgressCloseButton.h"
#include "app/progress/ui/KZProgressTabView.h"
#include "app/progress/ui/KZProgressTabs.h"
#include "app/progress/ui/KZSearchProgress.h"
#include "app/progress/ui/KZSearchProgressExtraInfoCntrl.h"
#include "app/progress/ui/KZSearchProgressFoldersInfoCntrl.h"
#include "app/progress/ui/KZSearchProgressWindow.h"
#include "app/KZWindowTransitionMath.h"
#include "app/ui/KZWindowFlipAnimator.h"
#include "engine/EngineTestSupport.h"
#include "TestSupport.h"

#include "platform/NotificationCenter.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "services/KZSearchInProgress.h"
#include "services/ui/KZAnimationTiming.h"
#include "services/ui/KZProgressImageView.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZNotificationNames.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QWindow>

#include "engine/KZResultInfoKeys.h"
#include "services/ui/KZMenuSet.h"

#include <QContextMenuEvent>
#include <QMenu>

#include <gtest/gtest.h>

#include <cmath>
#include <string_view>

namespace {

namespace G = KZProgressRingGeometry;
using Field = KZSearchProgressDisplay::Field;

class ProgressWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        KZAnimationTiming::setScale(0.02);
        searchWindow_.resize(509, 509);
        progress_ = KZSearchProgress::create(&searchWindow_, true);
        window_ = progress_->progressWindow();
        ASSERT_NE(window_, nullptr);
    }
    void TearDown() override
    {
        progress_.reset();
        KZAnimationTiming::setScale(1.0);
        KZSetSearchInProgress(false);
    }

    // A search driven by hand to its end, with these types found.
    void searchAndEnd(const std::vector<std::pair<quint64, quint64>>& types, quint64 found)
    {
        auto& core = progress_->core();
        core.setStartsClock(false);
        core.prepareToSearch({{QStringLiteral("showInterface"), true}});
        for (const auto& [tag, size] : types)
            core.addFoundItemOfType(tag, size);
        core.setFoundCount(found);
        core.setIsSearching(false);
        core.tick();
    }
    bool waitForEnd(bool withRing)
    {
        return kztest::processEventsUntil([&] {
            return !window_->stopBtn()->isVisible() && KZSearchProgressWindow::alphaOf(window_->resetBtn()) == 1.0
                   && (!withRing || (window_->tabsView()->hasFinalRing() && window_->tabsView()->layers().empty()));
        });
    }
    // A point in the middle of a shown tab, in the ring widget.
    QPoint tabPoint(int index) const
    {
        const auto& tab = *window_->tabsView()->shownTabs().at(index);
        const double radius = G::kInnerRadius + tab.geometry().thickness / 2;
        const QPointF c = window_->tabsView()->ringCentre();
        return QPointF(c.x() + radius * std::cos(tab.geometry().angle), c.y() - radius * std::sin(tab.geometry().angle))
            .toPoint();
    }

    QWidget searchWindow_;
    std::shared_ptr<KZSearchProgress> progress_;
    KZSearchProgressWindow* window_ = nullptr;
};

// The engine holds the core itself; its notices, posted under the handle it
// was given, reach the window, and the handle keeps the controller alive.
TEST_F(ProgressWindowTest, TheEngineReportsToTheCoreDirectly)
{
    std::shared_ptr<KZProgressControl> engine = progress_->engineProgress();
    ASSERT_EQ(engine.get(), static_cast<KZProgressControl*>(&progress_->core()));
    progress_->core().setStartsClock(false);
    engine->prepareToSearch({{QStringLiteral("showInterface"), true}});
    engine->prepareToSearchForFoldersContent();
    platform::NotificationCenter::defaultCenter().post(
        KZNotification::updateOtherFoldersInfo, platform::NotificationObject(static_cast<const void*>(engine.get())),
        {{QStringLiteral("show"), true}});
    const QString hung = platform::localizedString(QStringLiteral("comparing_huge_folders"));
    EXPECT_TRUE(kztest::processEventsUntil([&] { return window_->mainInfoFld()->text() == hung; }))
        << window_->mainInfoFld()->text().toStdString();

    engine->setIsSearching(false);
    const std::weak_ptr<KZSearchProgress> controller = progress_;
    progress_.reset();
    EXPECT_FALSE(controller.expired());
    engine.reset();
    EXPECT_TRUE(controller.expired());
}

// Return and Enter press Show Result, the default button, once it is
// offered, and do nothing while the search runs.
TEST_F(ProgressWindowTest, ReturnShowsTheResultOnceItIsOffered)
{
    int shown = 0;
    const auto observation = platform::NotificationCenter::defaultCenter().addObserver(
        KZNotification::showWindowWithTag, {}, [&shown](const platform::Notification&) { ++shown; });
    auto& core = progress_->core();
    core.setStartsClock(false);
    core.prepareToSearch({{QStringLiteral("showInterface"), true}});
    QTest::keyClick(window_, Qt::Key_Return);
    EXPECT_EQ(shown, 0) << "nothing to show while searching";
    searchAndEnd({{3, 4096}}, 2);
    ASSERT_TRUE(waitForEnd(false));
    ASSERT_TRUE(window_->showResultBtn()->isVisible());
    QTest::keyClick(window_, Qt::Key_Return);
    QTest::keyClick(window_, Qt::Key_Enter);
    EXPECT_EQ(shown, 2);
}

TEST_F(ProgressWindowTest, EndLayouts)
{
    struct Case {
        const char* name;
        std::vector<std::pair<quint64, quint64>> types;
        quint64 found;
        bool resultOffered, ring;
    };
    const Case cases[] = {
        {"nothing found", {}, 0, false, false},
        {"one type", {{3, 4096}}, 2, true, false},
        {"three types", {{1, 100}, {3, 4096}, {7, 0}}, 6, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        searchAndEnd(c.types, c.found);
        ASSERT_TRUE(waitForEnd(c.ring));
        EXPECT_EQ(window_->showResultBtn()->isVisible(), c.resultOffered);
        EXPECT_EQ(KZSearchProgressWindow::alphaOf(window_->mainInfoFld()), 0.0);
        EXPECT_TRUE(window_->closeBtn()->isEnabled());
        EXPECT_EQ(window_->tabsView()->hasFinalRing(), c.ring);
        if (c.ring) {
            EXPECT_EQ(window_->tabsView()->finalLayers().size(), c.types.size());
            // The observers go on the main loop's next turn, which a busy
            // machine may hold back behind the ring.
            EXPECT_TRUE(kztest::processEventsUntil([&] { return progress_->core().observersRemoved(); }));
            EXPECT_GT(window_->width(), 509) << "the window grew for the ring";
        }
        EXPECT_FALSE(KZIsSearchInProgress());
    }
}

// A reopened result's counts put into a window that is not shown (the
// result comes up from it as soon as it is): it is at its end at once, with
// no fade left to run, as a search's is when Show Result is pressed.
TEST_F(ProgressWindowTest, AHiddenWindowIsAtItsEndAtOnce)
{
    auto& core = progress_->core();
    core.setStartsClock(false);
    core.prepareToSearch({{QStringLiteral("showInterface"), false}});
    core.addFoundItemOfType(3, 100);
    core.addFoundItemOfType(7, 50);
    ASSERT_FALSE(window_->isVisible());
    progress_->setSavedProgress({{KZResultKey::foundItemsCount, 4}, {KZResultKey::foundItemsSize, 150}});
    window_->show();
    EXPECT_FALSE(window_->stopBtn()->isVisible());
    EXPECT_EQ(KZSearchProgressWindow::alphaOf(window_->showResultBtn()), 1.0);
    EXPECT_EQ(KZSearchProgressWindow::alphaOf(window_->resetBtn()), 1.0);
    EXPECT_EQ(KZSearchProgressWindow::alphaOf(window_->mainInfoFld()), 0.0);
    EXPECT_TRUE(window_->tabsView()->hasFinalRing());
    EXPECT_TRUE(window_->tabsView()->layers().empty()) << "the running ring is gone";
}

TEST_F(ProgressWindowTest, PointerOnTheRing)
{
    searchAndEnd({{1, 100}, {3, 4096}}, 4);
    ASSERT_TRUE(waitForEnd(true));
    KZProgressTabs* ring = window_->tabsView();
    auto* info = window_->fileTypeExtraInfoCntrl();
    auto& center = platform::NotificationCenter::defaultCenter();
    std::vector<quint64> opened;
    auto openObs = center.addObserver(KZNotification::showWindowWithTag, platform::bundleIdentifier(),
                                      [&](const platform::Notification& note) {
                                          opened.push_back(note.userInfo.value(QStringLiteral("tag")).toULongLong());
                                      });

    // Hover shows the type's information, which stays while the pointer moves on it.
    QTest::mouseMove(ring, tabPoint(1));
    ASSERT_EQ(ring->hoveredTab(), 1);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return info->item() != nullptr; }));
    EXPECT_EQ(info->item()->tag(), 3u);
    EXPECT_EQ(info->alpha(), 1.0);
    QTest::mouseMove(ring, tabPoint(1) + QPoint(1, 1));
    EXPECT_FALSE(info->closePending());

    // Off the arcs the panel closes shortly after.
    QTest::mouseMove(ring, QPoint(5, ring->height() / 2));
    EXPECT_TRUE(kztest::processEventsUntil([&] { return info->closePending(); }));
    EXPECT_TRUE(kztest::processEventsUntil([&] { return info->alpha() == 0.0; }));

    // A click during a search opens nothing.
    KZSetSearchInProgress(true);
    QTest::mouseClick(ring, Qt::LeftButton, {}, tabPoint(0));
    QCoreApplication::processEvents();
    EXPECT_TRUE(opened.empty());
    KZSetSearchInProgress(false);

    // After the search a click opens that type's tab.
    QTest::mouseClick(ring, Qt::LeftButton, {}, tabPoint(0));
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !opened.empty(); }));
    EXPECT_EQ(opened[0], 1u);

    // Pressed, dragged out and released outside opens nothing.
    QTest::mousePress(ring, Qt::LeftButton, {}, tabPoint(1));
    EXPECT_TRUE(ring->shownTabs()[1]->isHighlighted());
    QTest::mouseMove(ring, QPoint(5, ring->height() / 2));
    EXPECT_FALSE(ring->shownTabs()[1]->isHighlighted());
    QTest::mouseMove(ring, tabPoint(1));
    EXPECT_TRUE(ring->shownTabs()[1]->isHighlighted());
    QTest::mouseRelease(ring, Qt::LeftButton, {}, QPoint(5, ring->height() / 2));
    QCoreApplication::processEvents();
    EXPECT_EQ(opened.size(), 1u);
    EXPECT_FALSE(ring->shownTabs()[1]->isHighlighted());
}

TEST_F(ProgressWindowTest, RemovedTypesRebuildTheRing)
{
    searchAndEnd({{1, 100}, {3, 4096}, {7, 0}}, 6);
    ASSERT_TRUE(waitForEnd(true));
    KZProgressTabs* ring = window_->tabsView();
    auto& center = platform::NotificationCenter::defaultCenter();
    auto remove = [&](quint64 tag) {
        center.post(KZNotification::removeFileTypeLabel, platform::bundleIdentifier(),
                    {{QStringLiteral("tag"), QVariant::fromValue<qulonglong>(tag)}, {QStringLiteral("size"), 0}});
    };
    remove(3);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return ring->finalLayers().size() == 2 && ring->layers().empty(); }));
    std::vector<quint64> tags;
    for (auto* tab : ring->finalLayers())
        tags.push_back(tab->fileTypeItem()->tag());
    EXPECT_EQ(tags, (std::vector<quint64>{1, 7}));
    remove(99); // not on the ring: nothing changes
    QCoreApplication::processEvents();
    EXPECT_EQ(ring->finalLayers().size(), 2u);
    remove(1);
    remove(7);
    EXPECT_TRUE(kztest::processEventsUntil([&] { return !ring->hasFinalRing(); }));
    EXPECT_LE(ring->shownTabs().size(), 1u);
}

// Every tab's size reads from left to right, whole or not at all, the
// lowest tab and the narrowest included.
TEST_F(ProgressWindowTest, RingTextsAreUprightAndWhole)
{
    searchAndEnd({{1, 900000}, {2, 3}, {3, 5}, {4, 7}, {5, 1200000000}, {6, 40000}, {7, 2}}, 14);
    ASSERT_TRUE(waitForEnd(true));
    bool someShown = false;
    for (KZProgressTabView* tab : window_->tabsView()->finalLayers()) {
        const KZProgressTabView::SizeText text = tab->sizeText();
        SCOPED_TRACE(tab->fileTypeItem()->tag());
        // Clockwise on screen; beyond a quarter turn the line reads right to left.
        EXPECT_LE(std::abs(text.rotation), 90.0);
        if (text.text.isEmpty())
            continue;
        someShown = true;
        EXPECT_FALSE(text.text.contains(QChar(0x2026))) << text.text.toStdString();
        EXPECT_LE(QFontMetricsF(text.font).horizontalAdvance(text.text), text.length);
    }
    EXPECT_TRUE(someShown);
    const auto& tabs = window_->tabsView()->finalLayers();
    ASSERT_GE(tabs.size(), 2u);
    EXPECT_LT(tabs.back()->geometry().angle, -0.5) << "the ring reaches down to its lowest tabs";
}

TEST_F(ProgressWindowTest, StopAndCloseWhileSearching)
{
    auto& core = progress_->core();
    core.setStartsClock(false);
    progress_->core().prepareToSearch({{QStringLiteral("showInterface"), true}});
    EXPECT_FALSE(window_->closeBtn()->isEnabled());
    EXPECT_FALSE(progress_->windowShouldClose());
    QTest::mouseClick(window_->stopBtn(), Qt::LeftButton);
    EXPECT_TRUE(progress_->core().wasStopped());
    EXPECT_TRUE(kztest::processEventsUntil([&] { return window_->mainInfoFld()->text() == core.mainInfoStr(); }));
    progress_->closeAction(); // refused with a beep
    EXPECT_TRUE(window_->isVisible());
}

// The close button follows its window's activation: pale while another
// window is in front, enabled or not, deaf to the pointer until its window
// comes back, which brings the plain look back.
// The pointer rests on the close button while the user goes to another
// window and comes back: only the activation moves, never the pointer.
TEST_F(ProgressWindowTest, TheCloseButtonFollowsItsWindowsActivation)
{
    using Look = KZProgressCloseButton::Look;
    auto* button = qobject_cast<KZProgressCloseButton*>(window_->closeBtn());
    ASSERT_NE(button, nullptr);
    button->setEnabled(true);
    window_->show();
    window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_, kztest::kPatienceMs));
    QWindow* handle = window_->windowHandle();
    const QPoint onButton = button->mapTo(window_, button->rect().center());
    const QPoint beside = onButton + QPoint(0, 60);
    ASSERT_FALSE(button->geometry().contains(button->parentWidget()->mapFrom(window_, beside)));
    EXPECT_EQ(button->look(), Look::Plain);
    QTest::mouseMove(handle, onButton);
    ASSERT_TRUE(button->underMouse());
    EXPECT_EQ(button->look(), Look::Hover);

    QWidget other;
    other.resize(100, 100);
    const auto goAwayAndBack = [&] {
        other.show();
        other.activateWindow();
        if (!QTest::qWaitForWindowActive(&other, kztest::kPatienceMs))
            return false;
        const Look away = button->look();
        window_->activateWindow();
        if (!QTest::qWaitForWindowActive(window_, kztest::kPatienceMs))
            return false;
        return away == Look::WindowNotActive;
    };
    ASSERT_TRUE(goAwayAndBack());
    EXPECT_TRUE(button->underMouse()) << "the pointer never moved";
    EXPECT_EQ(button->look(), Look::Plain) << "coming forward brings the plain look, not the hover";
    QTest::mouseMove(handle, beside);
    QTest::mouseMove(handle, onButton);
    EXPECT_EQ(button->look(), Look::Hover) << "a new entry lights it again";

    // Away, the pointer changes nothing; nor does the button's enabling.
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other, kztest::kPatienceMs));
    QTest::mouseMove(handle, beside);
    QTest::mouseMove(handle, onButton);
    EXPECT_EQ(button->look(), Look::WindowNotActive);
    button->setEnabled(false);
    EXPECT_EQ(button->look(), Look::WindowNotActive);
    window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_, kztest::kPatienceMs));
    EXPECT_EQ(button->look(), Look::Disabled) << "a disabled button stays pale in front";
    button->setEnabled(true);
    EXPECT_EQ(button->look(), Look::Plain);
    QTest::mouseMove(handle, beside);
    EXPECT_EQ(button->look(), Look::Plain);
    window_->hide();
}

TEST_F(ProgressWindowTest, AStoppedSearchEndsSayingSo)
{
    auto& core = progress_->core();
    core.setStartsClock(false);
    core.prepareToSearch({{QStringLiteral("showInterface"), true}});
    core.addFoundItemOfType(3, 4096);
    core.setFoundCount(2);
    QTest::mouseClick(window_->stopBtn(), Qt::LeftButton);
    core.setIsSearching(false);
    core.tick();
    ASSERT_TRUE(waitForEnd(false));
    EXPECT_TRUE(window_->showResultBtn()->isVisible()) << "what was found is still offered";
    QCoreApplication::processEvents();
    EXPECT_EQ(KZSearchProgressWindow::alphaOf(window_->mainInfoFld()), 1.0);
    EXPECT_TRUE(window_->mainInfoFld()->isVisible());
    EXPECT_EQ(window_->mainInfoFld()->text(), platform::localizedString(QStringLiteral("search_stopped")));
}

TEST_F(ProgressWindowTest, LongTitlesStepDownAFontSize)
{
    progress_->core().setStartsClock(false);
    progress_->core().prepareToSearch({{QStringLiteral("showInterface"), true}});
    window_->setTitleText(QStringLiteral("Short"));
    EXPECT_EQ(window_->mainInfoFld()->font().pointSizeF(), 16);
    window_->setTitleText(QString(60, QLatin1Char('W')));
    EXPECT_EQ(window_->mainInfoFld()->font().pointSizeF(), 14);
    progress_->core().setIsSearching(false);
}

// The French stop button stands 5 points higher, where its longer word
// would otherwise crowd the field above it; no other language moves it.
TEST(ProgressWindowLanguage, OnlyTheFrenchStopButtonStandsHigher)
{
    QWidget searchWindow;
    searchWindow.resize(509, 509);
    auto stopPlace = [&searchWindow] {
        auto progress = KZSearchProgress::create(&searchWindow, true);
        const QPushButton* stop = progress->progressWindow()->stopBtn();
        const QPoint centreBottom(stop->x() + stop->width() / 2, stop->y() + stop->height());
        KZSetSearchInProgress(false);
        return centreBottom;
    };
    const QPoint shipped = stopPlace();
    for (const char* language : {"fr", "de"}) {
        const kztest::ScopedLanguage localized(QString::fromLatin1(language));
        const QPoint place = stopPlace();
        EXPECT_EQ(place.x(), shipped.x()) << language;
        EXPECT_EQ(place.y(), shipped.y() - (std::string_view(language) == "fr" ? 5 : 0)) << language;
    }
}

// The real engine drives the real window over a generated tree.
TEST_F(ProgressWindowTest, RealSearchReachesTheEnd)
{
    kztest::TempDir tree;
    for (int i = 0; i < 30; ++i) {
        const std::string bytes = enginetest::randomBytes(2000 + i * 17, unsigned(i));
        tree.write("a/" + std::to_string(i) + ".txt", bytes);
        tree.write("b/copy" + std::to_string(i) + ".txt", bytes);
        tree.write("c/" + std::to_string(i) + ".jpg", bytes + "x");
        tree.write("d/" + std::to_string(i) + ".jpg", bytes + "x");
    }
    auto stuff = KZSearchStuff::searchStuff();
    stuff->setSources({enginetest::folderSource(tree.path())});
    stuff->setCriteria(enginetest::sizeAndContentCriteria());
    QVariantMap info;
    int sender = 0;
    auto done = platform::NotificationCenter::defaultCenter().addObserver(
        KZNotification::searchDidTerminate, platform::NotificationObject(&sender),
        [&](const platform::Notification& note) { info = note.userInfo; });
    {
        auto search = KZSearchController::create(stuff, &sender, progress_->engineProgress());
        search->startToSearch();
    }
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] { return !progress_->isSearching() && window_->showResultBtn()->isVisible()
                     && KZSearchProgressWindow::alphaOf(window_->resetBtn()) == 1.0; },
        std::chrono::seconds(60)));
    KZSearchOperationQueue().waitUntilAllOperationsAreFinished();
    EXPECT_EQ(window_->valueField(Field::itemsFound)->text(), QStringLiteral("120"));
    EXPECT_EQ(progress_->core().fileTypes().size() >= 1, true);
    // The list the engine handed over is freed with its parcel.
    KZFoundListParcel::take(info.value(QStringLiteral("KZResultFoundItems")));
}

} // namespace

namespace {

TEST_F(ProgressWindowTest, ARightClickAndTheMenuButtonOpenTheProgramsMenus)
{
    window_->show();
    QMenu* menu = KZMenuSet::shared().popupMenu();
    const QPoint at(60, 260);
    QContextMenuEvent click(QContextMenuEvent::Mouse, at, window_->mapToGlobal(at));
    QApplication::sendEvent(window_, &click);
    EXPECT_TRUE(kztest::processEventsUntil([&] { return menu->isVisible(); }));
    menu->hide();

    QAbstractButton* button = window_->menuBtn();
    ASSERT_NE(button, nullptr);
    // Beside the close button, on the round part of the window, as large as
    // the search window's and clear of the close button.
    const QRect closeRect = window_->closeBtn()->geometry();
    EXPECT_LT((button->geometry().center() - closeRect.center()).manhattanLength(), 80);
    EXPECT_GE(button->width(), 22);
    const QPointF between = QRectF(button->geometry()).center() - QRectF(closeRect).center();
    EXPECT_GE(std::hypot(between.x(), between.y()) - (button->width() + closeRect.width()) / 2.0, 12.0);
    button->click();
    EXPECT_TRUE(kztest::processEventsUntil([&] { return menu->isVisible(); }));
    // Every menu it shows has something in it: none is only a grey title.
    for (QAction* top : menu->actions()) {
        if (top->menu() && top->isVisible()) {
            EXPECT_FALSE(top->menu()->actions().isEmpty()) << top->text().toStdString();
        }
    }
    EXPECT_FALSE(KZMenuSet::shared().submenu(KZMenuSet::View)->menuAction()->isVisible());
    menu->hide();
}

TEST(ProgressExtraInfoPanel, FollowsThePointedTypeAndClosesLate)
{
    KZAnimationTiming::setScale(0.02);
    auto& defaults = platform::UserDefaults::standard();
    QWidget host;
    KZSearchProgressExtraInfoCntrl panel(&host);
    auto& center = platform::NotificationCenter::defaultCenter();
    auto music = KZFileTypeLabel::create(4);
    auto images = KZFileTypeLabel::create(3);
    music->setFilesCount(2);
    music->setSize(2048);

    for (const bool labelsDisabled : {false, true}) {
        SCOPED_TRACE(labelsDisabled ? "labels disabled" : "labels shown");
        defaults.setValue(KZDefaultsKey::disable_lables, labelsDisabled);
        panel.showInfoWithItem({{QStringLiteral("fileTypeItem"), QVariant::fromValue(music)}});
        EXPECT_EQ(panel.nameText().contains(QStringLiteral("<img")), !labelsDisabled);
        EXPECT_EQ(panel.alpha(), 1.0);

        // A count change of the shown type is written at once.
        music->setFilesCount(3);
        center.post(KZNotification::updatefileTypeCount, platform::bundleIdentifier());
        EXPECT_TRUE(kztest::processEventsUntil([&] { return panel.countText() == QStringLiteral("3"); }));

        // Leaving starts the close; another type within it keeps the panel up.
        center.post(KZNotification::installRemotion, platform::bundleIdentifier());
        EXPECT_TRUE(kztest::processEventsUntil([&] { return panel.closePending(); }));
        panel.showInfoWithItem({{QStringLiteral("fileTypeItem"), QVariant::fromValue(images)}});
        EXPECT_FALSE(panel.closePending());
        EXPECT_EQ(panel.item(), images);
        EXPECT_EQ(panel.alpha(), 1.0);

        center.post(KZNotification::installRemotion, platform::bundleIdentifier());
        EXPECT_TRUE(kztest::processEventsUntil([&] { return panel.alpha() == 0.0; }));
        music->setFilesCount(2);
    }
    defaults.setValue(KZDefaultsKey::disable_lables, false);
    KZAnimationTiming::setScale(1.0);
}

} // namespace

// With the search window on screen the progress window turns in with a flip:
// the ring grows only once the flip has ended, and hiding turns the search
// window back in front, also when asked while the first flip still runs.
TEST_F(ProgressWindowTest, FlipsInFrontOfTheSearchWindowAndBack)
{
    KZTransitionMath::setDurationFactor(0.03);
    auto& flip = KZWindowFlipAnimator::sharedWindowFlipAnimator();
    auto& center = platform::NotificationCenter::defaultCenter();
    std::vector<const void*> fronts;
    auto obs = center.addObserver(KZNotification::flipAnimationDidEnd, {},
                                  [&](const platform::Notification& n) { fronts.push_back(n.object.pointer()); });

    for (const bool hideWhileFlipping : {false, true}) {
        SCOPED_TRACE(hideWhileFlipping);
        fronts.clear();
        searchWindow_.show();
        progress_->core().setStartsClock(false);
        progress_->core().prepareToSearch({{QStringLiteral("showInterface"), true}});
        EXPECT_TRUE(flip.isFlipping());
        EXPECT_FALSE(window_->isEnlarged());
        if (!hideWhileFlipping) {
            ASSERT_TRUE(kztest::processEventsUntil([&] { return !flip.isFlipping(); }));
            EXPECT_TRUE(window_->isVisible());
            EXPECT_FALSE(searchWindow_.isVisible());
            EXPECT_TRUE(window_->isEnlarged());
        }
        progress_->core().setIsSearching(false);
        window_->hideWindow();
        ASSERT_TRUE(kztest::processEventsUntil([&] { return !flip.isFlipping() && searchWindow_.isVisible(); }));
        EXPECT_FALSE(window_->isVisible());
        EXPECT_FALSE(window_->isEnlarged());
        ASSERT_EQ(fronts.size(), 2u);
        EXPECT_EQ(fronts[0], static_cast<const void*>(window_));
        EXPECT_EQ(fronts[1], static_cast<const void*>(&searchWindow_));
    }
    KZTransitionMath::setDurationFactor(1.0);
}
