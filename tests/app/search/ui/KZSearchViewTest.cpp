#include "app/search/ui/KZAddBtnView.h"
#include "app/search/ui/KZSearchView.h"
#include "app/search/ui/KZSearchWindowTextView.h"
#include "app/search/ui/KZSourcePopoverCntrl.h"
#include "app/search/ui/KZSourceTiles.h"
#include "app/search/ui/KZSourcesView.h"
#include "platform/StringTable.h"
#include "services/ui/KZThemeImageSwitchButton.h"

#include "app/search/SearchTestSupport.h"
#include "ManualClock.h"
#include "ShortAnimations.h"
#include "TestSupport.h"

#include <QApplication>
#include <QCursor>
#include <QDragEnterEvent>
#include <QGraphicsOpacityEffect>
#include <QListWidget>
#include <QPushButton>
#include <QMimeData>
#include <QTest>

#include <gtest/gtest.h>

#include <string_view>

using namespace searchtest;
namespace fs = std::filesystem;

namespace {

QList<QUrl> urlsOf(const std::vector<fs::path>& paths)
{
    QList<QUrl> urls;
    for (const auto& path : paths)
        urls.append(QUrl::fromLocalFile(QString::fromStdString(path.string())));
    return urls;
}

std::vector<fs::path> folders(const kztest::TempDir& dir, const std::string& prefix, int count)
{
    std::vector<fs::path> paths;
    for (int i = 0; i < count; ++i)
        paths.push_back(dir.mkdir(prefix + std::to_string(i)));
    return paths;
}

// A view on screen whose panel never answers unless told to.
struct ShownView {
    kztest::ShortAnimations shortAnimations;
    KZSearchView view;
    KZSourcesCntrl::PanelAnswer pendingAnswer;
    int panelsAsked = 0;
    ShownView()
    {
        view.sourcesCntrl().setPanelRunner([this](const QVariantMap&, KZSourcesCntrl::PanelAnswer answer) {
            ++panelsAsked;
            pendingAnswer = std::move(answer);
        });
        view.show();
        KZCSourceView::setWindowIsKey(true);
    }
    bool drag(const std::vector<fs::path>& paths)
    {
        QMimeData mime;
        mime.setUrls(urlsOf(paths));
        QDragEnterEvent enter(view.rect().center(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&view, &enter);
        return enter.isAccepted();
    }
    bool drop(const std::vector<fs::path>& paths)
    {
        if (!drag(paths))
            return false;
        QMimeData mime;
        mime.setUrls(urlsOf(paths));
        QDropEvent dropEvent(QPointF(view.rect().center()), Qt::CopyAction, &mime, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&view, &dropEvent);
        return dropEvent.isAccepted();
    }
    bool settle()
    {
        return kztest::processEventsUntil([&] {
            const auto phase = view.phase();
            return phase == KZSearchView::Phase::LaidOut || phase == KZSearchView::Phase::Empty;
        });
    }
};

TEST(SearchViewDrop, NineFoldersAreRefusedAndEightAccepted)
{
    AlertScope alerts;
    kztest::TempDir dir;
    {
        ShownView shown;
        QCursor::setPos(shown.view.mapToGlobal(shown.view.rect().center()));
        shown.drag(folders(dir, "nine", 9));
        EXPECT_FALSE(shown.view.dropHighlight());
        QDragLeaveEvent leave;
        QCoreApplication::sendEvent(&shown.view, &leave);
        EXPECT_EQ(alerts.presenter->count(platform::localizedString(QStringLiteral("sources_limit_reached"), QStringLiteral("Errors"))), 1);
        EXPECT_EQ(shown.view.phase(), KZSearchView::Phase::Empty);
        EXPECT_TRUE(shown.view.sourcesCntrl().sources().empty());
    }
    ShownView shown;
    EXPECT_TRUE(shown.drop(folders(dir, "eight", 8)));
    ASSERT_TRUE(shown.settle());
    EXPECT_EQ(shown.view.phase(), KZSearchView::Phase::LaidOut);
    EXPECT_EQ(shown.view.sourcesCntrl().sources().size(), 8u);
    EXPECT_EQ(shown.view.sourcesView()->collection()->tiles().size(), 8u);
    EXPECT_TRUE(shown.view.scanView()->isVisible());
}

TEST(SearchViewDrop, PresentFolderIsLeftOutOfALaterDrop)
{
    AlertScope alerts;
    kztest::TempDir dir;
    ShownView shown;
    const fs::path first = dir.mkdir("first");
    const fs::path second = dir.mkdir("second");
    ASSERT_TRUE(shown.drop({first}));
    ASSERT_TRUE(shown.settle());
    EXPECT_EQ(shown.view.acceptablePaths(urlsOf({first, second})), std::vector<fs::path>{second});
    ASSERT_TRUE(shown.drop({first, second}));
    ASSERT_EQ(shown.view.sourcesCntrl().sources().size(), 2u);
    EXPECT_EQ(shown.view.sourcesCntrl().sources()[1]->path(), second);
    // Only the folder already there: nothing to offer, the drop is refused.
    EXPECT_FALSE(shown.drag({first}));
    EXPECT_TRUE(alerts.presenter->shown.empty());
}

TEST(SearchViewDrop, DragLeavingBeforeTheDropRestoresTheEmptyWindow)
{
    AlertScope alerts;
    kztest::TempDir dir;
    ShownView shown;
    PostCounter ready(QStringLiteral("newSearchIsReady"));
    ASSERT_TRUE(shown.drag({dir.mkdir("a")}));
    kztest::processEventsUntil([&] { return shown.view.phase() == KZSearchView::Phase::WaitingForDrop; });
    QDragLeaveEvent leave;
    QCoreApplication::sendEvent(&shown.view, &leave);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return shown.view.phase() == KZSearchView::Phase::Empty; }));
    EXPECT_EQ(ready.count, 1);
    EXPECT_TRUE(shown.view.bottomTextView()->isVisible());
    EXPECT_EQ(shown.view.addBtnView()->geometry(), shown.view.addBtnView()->originalRect());
}

TEST(SearchViewNewSearch, EmptyWindowIsReadyAtOnceElseItResets)
{
    AlertScope alerts;
    kztest::TempDir dir;
    ShownView shown;
    PostCounter ready(QStringLiteral("newSearchIsReady"));
    shown.view.newSearch();
    EXPECT_EQ(ready.count, 1) << "no animation for an empty window";
    shown.view.animateAddedItems({dir.mkdir("x")});
    ASSERT_TRUE(shown.settle());
    ASSERT_EQ(shown.view.phase(), KZSearchView::Phase::LaidOut);
    shown.view.newSearch();
    EXPECT_EQ(ready.count, 1);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return shown.view.phase() == KZSearchView::Phase::Empty; }));
    EXPECT_EQ(ready.count, 2);
    EXPECT_TRUE(shown.view.sourcesCntrl().sources().empty());
}

TEST(SearchViewKeys, ReturnAndEnterOpenThePanelBeforeTheFirstSourcesAndStartAfter)
{
    AlertScope alerts;
    kztest::TempDir dir;
    ShownView shown;
    for (const int key : {Qt::Key_Return, Qt::Key_Enter}) {
        const int before = shown.panelsAsked;
        QTest::keyClick(&shown.view, static_cast<Qt::Key>(key));
        EXPECT_EQ(shown.panelsAsked, before + 1) << key;
        shown.pendingAnswer(0, {});
    }
    shown.view.animateAddedItems({dir.mkdir("x")});
    ASSERT_TRUE(shown.settle());
    ASSERT_EQ(shown.view.phase(), KZSearchView::Phase::LaidOut);
    // Laid out, the keys press Start instead, drawn as the default button.
    int starts = 0;
    QObject::connect(&shown.view, &KZSearchView::startClicked, [&starts] { ++starts; });
    const int before = shown.panelsAsked;
    QTest::keyClick(&shown.view, Qt::Key_Return);
    QTest::keyClick(&shown.view, Qt::Key_Enter);
    EXPECT_EQ(shown.panelsAsked, before);
    EXPECT_EQ(starts, 2);
    shown.view.startButton()->setEnabled(false);
    QTest::keyClick(&shown.view, Qt::Key_Return);
    EXPECT_EQ(starts, 2) << "a disabled Start is not pressed";
}

// The add button waiting for the open panel, on a clock the test advances.
class AddButtonWait : public ::testing::Test {
protected:
    void click() { QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, button->rect().center()); }

    AlertScope alerts;
    kztest::ScopedManualClock clock;
    ShownView shown;
    KZAddBtnView* button = shown.view.addBtnView();
    PostCounter didAdd{QStringLiteral("sourcesDidAdd")};
};

TEST_F(AddButtonWait, PendingClickBeepsAndTheFallbackEndsTheAdding)
{
    click();
    ASSERT_EQ(shown.panelsAsked, 1);
    EXPECT_TRUE(button->isAddingSources());
    EXPECT_TRUE(button->hoverRect().isEmpty()) << "no hover while the panel is pending";
    click();
    EXPECT_EQ(button->beeps(), 1);
    EXPECT_EQ(shown.panelsAsked, 1);
    EXPECT_EQ(didAdd.count, 0);
    clock->advance(2.9);
    EXPECT_EQ(didAdd.count, 0) << "the panel still has time to answer";
    EXPECT_TRUE(button->isAddingSources());
    clock->advance(0.1);
    EXPECT_EQ(didAdd.count, 1);
    EXPECT_FALSE(button->isAddingSources());
}

// An answer ends the wait: the fallback of that panel never fires, and a
// second panel waits its own full time.
TEST_F(AddButtonWait, AnAnswerVoidsTheFallbackAndTheNextPanelWaitsAgain)
{
    click();
    clock->advance(2.0);
    shown.pendingAnswer(0, {});
    ASSERT_FALSE(button->isAddingSources());
    const int answered = didAdd.count;
    click();
    ASSERT_EQ(shown.panelsAsked, 2);
    clock->advance(2.0);
    EXPECT_EQ(didAdd.count, answered) << "the first panel's fallback must not end the second wait";
    EXPECT_TRUE(button->isAddingSources());
    clock->advance(1.0);
    EXPECT_EQ(didAdd.count, answered + 1);
    EXPECT_FALSE(button->isAddingSources());
}

TEST(AddButton, GrowAndShrinkShareOneTimerAndEndAtRest)
{
    ShownView shown;
    KZAddBtnView* button = shown.view.addBtnView();
    const QPoint middle = button->rect().center();
    QTest::mouseMove(button, middle);
    QTest::qWait(30);
    QTest::mouseMove(button, QPoint(2, 2)); // out of the hover square
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !button->zoomTimer().isActive(); }));
    EXPECT_DOUBLE_EQ(button->increaseCrossBy(), 1.0);

    QTest::mouseMove(button, middle);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !button->zoomTimer().isActive(); }));
    EXPECT_NEAR(button->increaseCrossBy(), 1.39, 1e-9);
}

TEST(AddButton, ReleasedOutsideShrinksWithoutOpeningThePanel)
{
    ShownView shown;
    KZAddBtnView* button = shown.view.addBtnView();
    const QPoint middle = button->rect().center();
    QTest::mouseMove(button, QPoint(1, 1));
    QTest::mouseMove(button, middle);
    QTest::mousePress(button, Qt::LeftButton, Qt::NoModifier, middle);
    QTest::mouseMove(button, QPoint(2, 2));
    EXPECT_TRUE(button->mouseIsDownAndOutAddBtn());
    QTest::mouseMove(button, middle);
    EXPECT_FALSE(button->mouseIsDownAndOutAddBtn()) << "coming back keeps the press";
    QTest::mouseMove(button, QPoint(2, 2));
    QTest::mouseRelease(button, Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));
    EXPECT_EQ(shown.panelsAsked, 0);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !button->zoomTimer().isActive(); }));
    EXPECT_DOUBLE_EQ(button->increaseCrossBy(), 1.0);
}

class TilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        shown_ = std::make_unique<ShownView>();
        shown_->view.animateAddedItems(folders(dir_, "t", 3));
        ASSERT_TRUE(shown_->settle());
        ASSERT_EQ(row()->tiles().size(), 3u);
    }
    KZSourcesCollectionView* row() const { return shown_->view.sourcesView()->collection(); }
    KZCSourceView* tile(int i) const { return row()->tiles()[static_cast<std::size_t>(i)]; }

    AlertScope alerts_;
    kztest::TempDir dir_;
    std::unique_ptr<ShownView> shown_;
};

TEST_F(TilesTest, CloseButtonRemovesOnlyWhenReleasedInside)
{
    KZCSourceView* second = tile(1);
    const KZSourceItemRef source = second->tile().source;
    const QPoint close = second->closeButtonRect().center();
    const QPoint away = second->iconRect().bottomRight() + QPoint(8, 8);

    QTest::mouseMove(second, second->iconRect().center());
    QTest::mouseMove(second, close);
    ASSERT_TRUE(second->isInsideXBtn());
    QTest::mousePress(second, Qt::LeftButton, Qt::NoModifier, close);
    QTest::mouseMove(second, away);
    QTest::mouseRelease(second, Qt::LeftButton, Qt::NoModifier, away);
    EXPECT_EQ(shown_->view.sourcesCntrl().sources().size(), 3u);

    QTest::mouseMove(second, second->iconRect().center());
    QTest::mouseMove(second, close);
    QTest::mousePress(second, Qt::LeftButton, Qt::NoModifier, close);
    QTest::mouseMove(second, away);
    QTest::mouseMove(second, close);
    QTest::mouseRelease(second, Qt::LeftButton, Qt::NoModifier, close);
    ASSERT_EQ(shown_->view.sourcesCntrl().sources().size(), 2u);
    for (const auto& left : shown_->view.sourcesCntrl().sources())
        EXPECT_NE(left, source);
    EXPECT_EQ(row()->tileForSource(source), nullptr);
}

TEST_F(TilesTest, HeldMouseKeepsOtherTilesQuietUntilTheNextMove)
{
    QTest::mouseMove(tile(0), tile(0)->iconRect().center());
    QTest::mousePress(tile(0), Qt::LeftButton, Qt::NoModifier, tile(0)->iconRect().center());
    QTest::mouseMove(tile(2), tile(2)->iconRect().center());
    EXPECT_FALSE(tile(2)->isInsideView());
    EXPECT_TRUE(tile(2)->mouseRefusedToFire());
    QTest::mouseRelease(tile(0), Qt::LeftButton, Qt::NoModifier, tile(0)->iconRect().center());
    QTest::mouseMove(tile(2), tile(2)->iconRect().center() + QPoint(1, 0));
    EXPECT_TRUE(tile(2)->isInsideView());
    EXPECT_FALSE(tile(0)->isInsideView()) << "only one tile shows hover";
}

TEST_F(TilesTest, NoHoverWhileTheProgramIsInTheBackground)
{
    KZCSourceView::setWindowIsKey(false);
    QTest::mouseMove(tile(1), tile(1)->iconRect().center());
    EXPECT_FALSE(tile(1)->isInsideView());
    KZCSourceView::setWindowIsKey(true);
}

TEST_F(TilesTest, RowWidthFollowsTheTiles)
{
    const int outer = shown_->view.sourcesView()->width();
    EXPECT_EQ(row()->width(), outer - 36);
    shown_->view.sourcesCntrl().removeSource(shown_->view.sourcesCntrl().sources().front());
    ASSERT_TRUE(kztest::processEventsUntil([&] { return row()->width() == 2 * KZCSourceView::tileWidth + 2; }));
}

TEST_F(TilesTest, ClosingTheLastTileResetsTheWindow)
{
    PostCounter ready(QStringLiteral("newSearchIsReady"));
    auto& cntrl = shown_->view.sourcesCntrl();
    while (!cntrl.sources().empty())
        cntrl.removeSource(cntrl.sources().back());
    ASSERT_TRUE(kztest::processEventsUntil([&] { return shown_->view.phase() == KZSearchView::Phase::Empty; }));
    EXPECT_TRUE(row()->tiles().empty());
    EXPECT_FALSE(shown_->view.scanView()->isVisible());
    EXPECT_EQ(ready.count, 1);
}

TEST_F(TilesTest, RightClickOpensTheExclusionsAndASecondRequestClosesThem)
{
    QTest::mouseClick(tile(1), Qt::RightButton, Qt::NoModifier, tile(1)->iconRect().center());
    KZSourcePopoverCntrl* popover = shown_->view.popoverCntrl();
    ASSERT_NE(popover, nullptr);
    EXPECT_TRUE(popover->isShown());
    EXPECT_EQ(popover->sourceItem(), tile(1)->tile().source);
    popover->showPopoverWitView(tile(1));
    EXPECT_FALSE(popover->isShown());
}

// Tab reaches the tiles, the Files/Folders switch, Start and Start Over, and
// each shows that it has the focus; Space works the one focused.
TEST_F(TilesTest, TabReachesEveryControlAndTheFocusedOneShowsIt)
{
    KZSearchView& view = shown_->view;
    view.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view, kztest::kPatienceMs));
    ASSERT_TRUE(kztest::processEventsUntil([&] { return view.resetBtn()->isVisible() && view.toggleBtn()->isVisible(); }));
    // The tiles have faded in.
    ASSERT_TRUE(kztest::processEventsUntil([&] {
        return std::all_of(row()->tiles().begin(), row()->tiles().end(),
                           [](const QWidget* tile) { return !tile->graphicsEffect(); });
    }));
    view.setFocus(Qt::OtherFocusReason);
    const std::vector<QWidget*> wanted{view.addBtnView(), tile(0),          tile(1),
                                       tile(2),           view.toggleBtn(), view.startButton(),
                                       view.resetBtn()};
    std::vector<QWidget*> reached;
    for (int step = 0; step < 12; ++step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* focused = QApplication::focusWidget();
        if (std::find(reached.begin(), reached.end(), focused) == reached.end())
            reached.push_back(focused);
    }
    for (QWidget* control : wanted)
        EXPECT_NE(std::find(reached.begin(), reached.end(), control), reached.end())
            << control->metaObject()->className() << " " << control->objectName().toStdString();
    // The view itself, which shows no focus, is no stop of the round.
    EXPECT_EQ(std::find(reached.begin(), reached.end(), &view), reached.end());

    // The focused control looks different from the same control without it.
    for (QWidget* control : wanted) {
        SCOPED_TRACE(control->objectName().toStdString());
        view.setFocus(Qt::OtherFocusReason);
        const QImage plain = control->grab().toImage();
        control->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(control->hasFocus());
        EXPECT_NE(control->grab().toImage(), plain) << "no sign of the focus on " << control->metaObject()->className();
    }

    // Focus that comes to them other than from the keyboard (a window given
    // back its focus) stays with the view, so that Space starts nothing.
    for (QWidget* control : {static_cast<QWidget*>(tile(0)), static_cast<QWidget*>(view.toggleBtn()),
                             static_cast<QWidget*>(view.resetBtn()), static_cast<QWidget*>(view.addBtnView())}) {
        control->setFocus(Qt::ActiveWindowFocusReason);
        EXPECT_EQ(QApplication::focusWidget(), &view) << control->metaObject()->className();
    }

    // Space flips the switch and closes the focused tile.
    const int type = view.toggleBtn()->state();
    view.toggleBtn()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(view.toggleBtn(), Qt::Key_Space);
    EXPECT_NE(view.toggleBtn()->state(), type);
    const KZSourceItemRef second = tile(1)->tile().source;
    tile(1)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(tile(1), Qt::Key_Space);
    ASSERT_EQ(view.sourcesCntrl().sources().size(), 2u);
    for (const auto& left : view.sourcesCntrl().sources())
        EXPECT_NE(left, second);
}

// With sources in, Return is Start: a keyboard user adds the next folder by
// Tab to the + button and Space, which opens the panel as a click does;
// Return there still starts nothing but what the window's default is.
TEST_F(TilesTest, TabAndSpaceOnThePlusButtonAddAFolder)
{
    KZSearchView& view = shown_->view;
    view.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view, kztest::kPatienceMs));
    view.setFocus(Qt::OtherFocusReason);
    KZAddBtnView* plus = view.addBtnView();
    for (int step = 0; step < 12 && QApplication::focusWidget() != plus; ++step)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), plus) << "Tab never reaches the + button";

    QTest::keyClick(plus, Qt::Key_Space);
    ASSERT_EQ(shown_->panelsAsked, 1);
    // A second Space while the panel is up asks for no second one.
    QTest::keyClick(plus, Qt::Key_Space);
    EXPECT_EQ(shown_->panelsAsked, 1);
    EXPECT_EQ(plus->beeps(), 1);
    const fs::path fourth = dir_.mkdir("fourth");
    shown_->pendingAnswer(1, {fourth});
    ASSERT_TRUE(kztest::processEventsUntil([&] { return view.sourcesCntrl().sources().size() == 4u; }));
    const auto& sources = view.sourcesCntrl().sources();
    EXPECT_TRUE(std::any_of(sources.begin(), sources.end(), [&](const auto& source) { return source->path() == fourth; }));
}

// The first three tiles fade in, each added alone or in one batch; a fourth
// and later ones appear at once; without animation none fades.
TEST(TileRow, OnlyTheFirstThreeTilesFadeIn)
{
    auto faded = [](const KZCSourceView* tile) {
        const auto* effect = qobject_cast<const QGraphicsOpacityEffect*>(tile->graphicsEffect());
        return effect && effect->opacity() < 1.0;
    };
    auto tilesFor = [](int first, int count) {
        std::vector<KZSourceTile> tiles;
        for (int i = first; i < first + count; ++i) {
            const QString name = QStringLiteral("s%1").arg(i);
            tiles.push_back({KZSourceItem::create({}), name, QStringLiteral("/tmp/") + name});
        }
        return tiles;
    };
    QWidget outer;
    outer.resize(700, 300);
    auto* row = new KZSourcesCollectionView(&outer);
    outer.show();

    row->setContent(tilesFor(0, 1), true);
    row->setContent(tilesFor(1, 2), true);
    row->setContent(tilesFor(3, 1), true);
    row->setContent(tilesFor(4, 2), true);
    ASSERT_EQ(row->tiles().size(), 6u);
    for (std::size_t i = 0; i < row->tiles().size(); ++i)
        EXPECT_EQ(faded(row->tiles()[i]), i < 3) << "tile " << i;

    row->setCollectionEmpty();
    row->setContent(tilesFor(0, 2), false);
    for (const KZCSourceView* tile : row->tiles())
        EXPECT_FALSE(faded(tile));
}

// A German or French window draws its hints smaller, as their words run longer.
TEST(SearchWindowHints, GermanAndFrenchTakeTheSmallerSize)
{
    EXPECT_EQ(KZSearchWindowTextView().textFontSize(), 36.0);
    for (const char* language : {"de", "fr", "es"}) {
        const kztest::ScopedLanguage localized(QString::fromLatin1(language));
        const double expected = std::string_view(language) == "es" ? 36.0 : 30.0;
        EXPECT_EQ(KZSearchWindowTextView().textFontSize(), expected) << language;
    }
    EXPECT_EQ(KZSearchWindowTextView().textFontSize(), 36.0) << "the shipped tables come back";
}

TEST(ExclusionPopover, ListsOnlyVisiblePlainFoldersAndWritesExclusions)
{
    kztest::TempDir dir;
    const fs::path root = dir.mkdir("src");
    for (const char* name : {"Pictures", "Work", ".hidden", "Tool.app", "Library", "System"})
        dir.mkdir(fs::path("src") / name);
    dir.write("src/file.txt", "x");
    const auto source = KZSourceItem::create({{QStringLiteral("url"), QVariant::fromValue(root)}});

    KZSourcePopoverCntrl popover;
    popover.setSourceItem(source);
    popover.startFolderScan();
    ASSERT_EQ(popover.rows().size(), 2u);
    EXPECT_EQ(popover.rows()[0].name, QStringLiteral("Pictures"));
    EXPECT_EQ(popover.rows()[1].name, QStringLiteral("Work"));

    popover.setRowExcluded(1, true);
    source->addExcluded(root / "Work"); // listed twice: unticking removes both
    popover.startFolderScan();
    EXPECT_TRUE(popover.rows()[1].isExcluded) << "a reopened list shows the tick";
    popover.setRowExcluded(1, false);
    EXPECT_TRUE(source->excluded().empty());
}

TEST(ExclusionPopover, EmptySourceShowsOneNoFoldersRow)
{
    kztest::TempDir dir;
    const fs::path empty = dir.mkdir("empty");
    dir.mkdir("empty/.git");
    ShownView shown;
    KZSourcePopoverCntrl popover;
    popover.setSourceItem(KZSourceItem::create({{QStringLiteral("url"), QVariant::fromValue(empty)}}));
    popover.showPopoverWitView(&shown.view);
    ASSERT_NE(popover.table(), nullptr);
    ASSERT_EQ(popover.table()->count(), 1);
    EXPECT_EQ(popover.table()->item(0)->text(), platform::localizedString(QStringLiteral("no_folders")));
    EXPECT_FALSE(popover.table()->item(0)->flags() & Qt::ItemIsUserCheckable);
}

} // namespace
