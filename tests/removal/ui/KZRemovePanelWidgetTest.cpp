#include "../RemovalTestSupport.h"
#include "ShortAnimations.h"

#include "engine/KZAppSuppInfo.h"
#include "platform/NotificationCenter.h"
#include "removal/KZRemove.h"
#include "removal/KZRemoveCntrl.h"
#include "removal/ui/KZRemoveInfoSize.h"
#include "removal/ui/KZRemovePanelWidget.h"
#include "services/ui/KZFocusRing.h"
#include "result/model/KZFoundItemsCntrl.h"
#include "result/model/KZListNotifications.h"
#include "services/KZNumberUtilities.h"
#include "services/ui/Popover.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include "platform/StringTable.h"

#include <gtest/gtest.h>

#include <QCheckBox>

using namespace removaltest;
using namespace Qt::StringLiterals;

namespace {

struct FakeHost : KZRemovePanelHost {
    int purged = 0;
    std::filesystem::path answer;
    qint64 reportAnswer = 1001;
    void purgeMarkingUndo() override { ++purged; }
    void chooseDestination(const std::function<void(const std::filesystem::path&)>& done) override { done(answer); }
    qint64 askReportEmptyFolders() override { return reportAnswer; }
};

// Every panel notification, in order.
struct NoteLog {
    QStringList names;
    QList<QVariantMap> infos;
    std::vector<platform::Subscription> subs;
    NoteLog()
    {
        for (const QString& name : {u"disableViews"_s, u"removingProcessDidChangeStatus"_s,
                                    KZNotification::removePanelDidClose, KZNotification::itemsDidRemove})
            subs.push_back(platform::NotificationCenter::defaultCenter().addObserver(
                name, {}, [this](const platform::Notification& n) {
                    names << n.name;
                    infos << n.userInfo;
                }));
    }
};

struct PanelScene {
    Fixture f;
    FakeHost host;
    QWidget window;
    QWidget* resultView = new QWidget(&window);
    KZFoundItemArray all;
    std::shared_ptr<KZFoundItemsCntrl> model;
    std::shared_ptr<KZRemoveCntrl> cntrl;
    QPointer<KZRemovePanelWidget> panel;

    explicit PanelScene(quint64 ownerTag = 3, std::vector<KZSourceItemRef> sources = {}, bool areFiles = true,
                        qint16 owner = KZAppSuppInfo::None)
    {
        emptyTrash();
        f.defaults->setValue(KZDefaultsKey::report_empty_folders, 1);
        all = f.items({{"keep/a.txt", 1}, {"dup/a.txt", 1}, {"dup/b.txt", 2}, {"keep/b.txt", 2}}, "content");
        if (owner != KZAppSuppInfo::None) {
            std::vector<modeltest::ItemShape> shapes;
            for (const KZFoundItemRef& item : all)
                shapes.push_back(
                    {.path = item->recordedURL(), .group = item->groupID(), .marked = true, .owner = owner});
            all = modeltest::makeItems(shapes);
        }
        model = modeltest::makeModel(all);
        window.resize(900, 620);
        resultView->setGeometry(0, 0, 900, 620);
        resultView->setAutoFillBackground(true);
        QVariantMap request{{u"itemsToRemove"_s, QVariant::fromValue(KZFoundItemArray{all[1], all[2]})},
                            {u"size"_s, QVariant::fromValue<quint64>(14)},
                            {u"foundItemsCntrl"_s, QVariant::fromValue(model)},
                            {u"areFiles"_s, areFiles},
                            {u"isEmptyFolders"_s, false},
                            {u"KZResultSearchSources"_s, QVariant::fromValue(sources)},
                            {u"ownerTag"_s, QVariant::fromValue<quint64>(ownerTag)}};
        window.show();
        cntrl = KZRemovePanelWidget::open(request, resultView, &host);
        panel = resultView->findChild<KZRemovePanelWidget*>();
    }
    bool settle(const std::function<bool()>& done)
    {
        return kztest::processEventsUntil(done, std::chrono::seconds(10));
    }
    // The choice card shown in the active window, where keys reach it.
    void showChoiceActive()
    {
        ASSERT_TRUE(panel);
        ASSERT_TRUE(settle([&] { return panel->visibleCard() == KZRemovePanelWidget::Card::Choose; }));
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }
};

TEST(KZRemovePanelWidget, OpensThenClosesWithItsNotificationsInOrder)
{
    kztest::ShortAnimations shortAnimations;
    NoteLog log;
    PanelScene scene(7);
    ASSERT_TRUE(scene.panel);
    EXPECT_TRUE(scene.panel->isOpening());
    EXPECT_TRUE(log.names.isEmpty());
    ASSERT_TRUE(scene.settle([&] { return scene.panel->visibleCard() == KZRemovePanelWidget::Card::Choose; }));
    ASSERT_EQ(log.names, QStringList{u"disableViews"_s});
    EXPECT_TRUE(scene.panel->chooseCard()->isVisible());
    EXPECT_TRUE(scene.panel->trashPage()->isVisible());
    EXPECT_TRUE(log.infos[0].contains(u"excludeDiscendentOf"_s));
    // The tiles are gone once they settled into the veil.
    EXPECT_TRUE(scene.settle([&] { return !scene.panel->findChild<QWidget*>(u"removalTile1"_s); }));

    scene.cntrl->cancelAction();
    ASSERT_TRUE(scene.settle([&] { return !scene.panel; }));
    ASSERT_EQ(log.names, (QStringList{u"disableViews"_s, u"removingProcessDidChangeStatus"_s,
                                      KZNotification::removePanelDidClose}));
    EXPECT_EQ(log.infos[1].value(u"isRemoving"_s), QVariant(false));
    EXPECT_EQ(log.infos[2].value(u"ownerTag"_s).value<quint64>(), 7u);
}

TEST(KZRemovePanelWidget, MovePageNeedsAFolderAndSlidesThePages)
{
    KZRemovePanelWidget::setAnimationsInstant(true);
    PanelScene scene;
    ASSERT_TRUE(scene.panel);
    auto* panel = scene.panel.data();
    EXPECT_TRUE(panel->startButton()->isEnabled());
    const QRect trashHome = panel->trashPage()->geometry();
    panel->replacePage(1);
    EXPECT_TRUE(panel->movePageShown());
    EXPECT_EQ(panel->movePage()->geometry().topLeft(), QPoint(0, panel->movePage()->y()));
    EXPECT_EQ(panel->trashPage()->x(), trashHome.x() - trashHome.width());
    EXPECT_FALSE(panel->moveStartButton()->isEnabled());
    // A cancelled choice keeps Start off; a chosen folder turns it on.
    QTest::mouseClick(panel->findChild<QPushButton*>(u"removalChoose"_s), Qt::LeftButton);
    EXPECT_FALSE(panel->moveStartButton()->isEnabled());
    scene.host.answer = scene.f.dir / "dest";
    QTest::mouseClick(panel->findChild<QPushButton*>(u"removalChoose"_s), Qt::LeftButton);
    EXPECT_TRUE(panel->moveStartButton()->isEnabled());
    EXPECT_EQ(scene.cntrl->urlToMove, scene.f.dir / "dest");
    panel->replacePage(2);
    EXPECT_FALSE(panel->movePageShown());
    EXPECT_EQ(panel->trashPage()->geometry(), trashHome);
    KZRemovePanelWidget::setAnimationsInstant(false);
}

TEST(KZRemovePanelWidget, InfoPopoverWrapsTogglesAndShowsAMissingTag)
{
    KZRemovePanelWidget::setAnimationsInstant(true);
    PanelScene scene;
    ASSERT_TRUE(scene.panel);
    EXPECT_EQ(KZRemoveInfoText(999), u"999"_s);
    // Photo-library items get no keyword here: they stay in their library.
    EXPECT_EQ(KZRemoveInfoText(3).indexOf(u"keyword"_s, 0, Qt::CaseInsensitive), -1);
    EXPECT_NE(KZRemoveInfoText(3).indexOf(u"stay"_s), -1);
    EXPECT_EQ(KZRemoveInfoText(3).indexOf(u"%1"_s), -1);

    scene.panel->infoButton()->click();
    ASSERT_TRUE(scene.panel->popover());
    EXPECT_TRUE(scene.panel->popover()->isVisible());
    auto* label = scene.panel->popover()->findChild<QLabel*>(u"removalInfoText"_s);
    ASSERT_TRUE(label);
    // The long explanation wraps at the maximum width: 30 more for the margins.
    EXPECT_EQ(label->width(), KZRemoveInfoMaxWidth + 30);
    EXPECT_GT(label->height(), label->fontMetrics().height() * 2 + 30);
    // A second press closes it and opens nothing new.
    scene.panel->infoButton()->click();
    EXPECT_FALSE(scene.panel->popover()->isVisible());

    const QFontMetrics metrics(label->font());
    const QSize shortSize = KZRemoveInfoTextSize(metrics, u"Short"_s);
    EXPECT_LE(shortSize.width(), metrics.horizontalAdvance(u"Short"_s) + 2);
    EXPECT_EQ(shortSize.height(), metrics.height());
    KZRemovePanelWidget::setAnimationsInstant(false);
}

// Opened again, the explanation has the size it had the first time; and
// after the "i" was clicked, Return still presses Start.
TEST(KZRemovePanelWidget, InfoPopoverOpensAgainAtItsSizeAndLeavesReturnToStart)
{
    kztest::ShortAnimations shortAnimations;
    PanelScene scene;
    ASSERT_NO_FATAL_FAILURE(scene.showChoiceActive());
    QPushButton* info = scene.panel->infoButton();
    const auto openInfo = [&] {
        QTest::mouseClick(info, Qt::LeftButton);
        return scene.settle([&] { return scene.panel->popover() && scene.panel->popover()->isVisible(); });
    };
    const auto closeInfo = [&] {
        QTest::keyClick(scene.panel->popover(), Qt::Key_Escape);
        return scene.settle([&] { return !scene.panel->popover()->isVisible(); });
    };
    ASSERT_TRUE(openInfo());
    const QSize first = scene.panel->popover()->size();
    ASSERT_TRUE(closeInfo());
    ASSERT_TRUE(openInfo());
    EXPECT_EQ(scene.panel->popover()->size(), first) << "no room is kept for the text shown before";
    int shownTexts = 0;
    for (QLabel* text : scene.panel->popover()->findChildren<QLabel*>(u"removalInfoText"_s))
        shownTexts += text->isVisible();
    EXPECT_EQ(shownTexts, 1);
    ASSERT_TRUE(closeInfo());

    scene.window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&scene.window));
    QWidget* focused = QApplication::focusWidget();
    ASSERT_TRUE(focused && scene.panel->isAncestorOf(focused));
    EXPECT_NE(focused, info) << "a click on the i keeps the keys where they were";
    QTest::keyClick(focused, Qt::Key_Return);
    ASSERT_TRUE(scene.settle(
        [&] { return scene.panel && scene.panel->visibleCard() == KZRemovePanelWidget::Card::Final; }));
    EXPECT_FALSE(scene.panel->popover()->isVisible());
    EXPECT_FALSE(std::filesystem::exists(scene.all[1]->url())) << "Return started the removal";
}

// Every explanation has its button beside its option, and its popover
// opens on the button's left, clear of Cancel and Start.
TEST(KZRemovePanelWidget, EachOptionExplainsItselfWithoutCoveringTheButtons)
{
    KZRemovePanelWidget::setAnimationsInstant(true);
    auto global = [](const QWidget* w) { return QRect(w->mapToGlobal(QPoint(0, 0)), w->size()); };
    auto check = [&](KZRemovePanelWidget* panel, int tag, QWidget* page) {
        QPushButton* button = panel->infoButton(tag);
        ASSERT_TRUE(button) << tag;
        EXPECT_TRUE(button->isVisibleTo(page)) << tag;
        button->click();
        ASSERT_TRUE(panel->popover()) << tag;
        ASSERT_TRUE(panel->popover()->isVisible()) << tag;
        auto* label = qobject_cast<QLabel*>(panel->popover()->contentWidget());
        ASSERT_TRUE(label) << tag;
        EXPECT_EQ(label->text(), KZRemoveInfoText(tag)) << tag;
        EXPECT_EQ(panel->popover()->edge(), platform::Popover::Edge::Left) << tag;
        const QRect bubble = panel->popover()->geometry();
        EXPECT_LE(bubble.right(), global(button).left()) << tag;
        for (QPushButton* other : page->findChildren<QPushButton*>()) {
            if (other->text() == platform::localizedString(u"cancel_button"_s) ||
                other->text() == platform::localizedString(u"start_button"_s)) {
                EXPECT_FALSE(bubble.intersects(global(other))) << tag << " covers " << other->text().toStdString();
            }
        }
        button->click();
        EXPECT_FALSE(panel->popover()->isVisible()) << tag;
    };
    {
        PanelScene scene;
        ASSERT_TRUE(scene.panel);
        KZRemovePanelWidget* panel = scene.panel.data();
        ASSERT_TRUE(scene.settle([&] { return panel->visibleCard() == KZRemovePanelWidget::Card::Choose; }));
        check(panel, 1, panel->trashPage());
        panel->replacePage(1);
        for (int tag : {2, 4})
            check(panel, tag, panel->movePage());
    }
    {
        // What becomes of photo-library items is explained beside the
        // Photos notes.
        auto photos = KZSourceItem::create(QVariantMap{});
        photos->setIsPhotosLib(true);
        PanelScene scene(3, {photos}, true, KZAppSuppInfo::Photos);
        ASSERT_TRUE(scene.panel);
        KZRemovePanelWidget* panel = scene.panel.data();
        ASSERT_TRUE(scene.settle([&] { return panel->visibleCard() == KZRemovePanelWidget::Card::Choose; }));
        panel->replacePage(1);
        check(panel, 3, panel->movePage());
    }
    KZRemovePanelWidget::setAnimationsInstant(false);
}

TEST(KZRemovePanelWidget, PhotosAndEmptyFoldersVariants)
{
    KZRemovePanelWidget::setAnimationsInstant(true);
    {
        auto photos = KZSourceItem::create(QVariantMap{});
        photos->setIsPhotosLib(true);
        // Photos items stay in their library: no folder to choose, Start at
        // once. Anything else marked there would be moved: it waits for a
        // folder.
        for (const qint16 owner : {KZAppSuppInfo::Photos, KZAppSuppInfo::None}) {
            const bool onlyTagged = owner == KZAppSuppInfo::Photos;
            PanelScene scene(3, {photos}, true, owner);
            ASSERT_TRUE(scene.panel);
            scene.panel->replacePage(1);
            EXPECT_EQ(scene.panel->moveStartButton()->isEnabled(), onlyTagged);
            auto* choose = scene.panel->findChild<QPushButton*>(u"removalChoose"_s);
            ASSERT_TRUE(choose);
            EXPECT_EQ(choose->parentWidget()->isHidden(), onlyTagged);
            // The page tells what happens: the items stay where they are,
            // with no word of a keyword the program never gives.
            QStringList shown;
            for (const QLabel* label : scene.panel->movePage()->findChildren<QLabel*>())
                if (label->isVisibleTo(scene.panel->movePage()))
                    shown << label->text();
            const QString page = shown.join(u'\n');
            EXPECT_FALSE(page.contains(u"keyword"_s, Qt::CaseInsensitive)) << page.toStdString();
            if (onlyTagged) {
                EXPECT_TRUE(page.contains(u"stay where they are"_s)) << page.toStdString();
            }
        }
    }
    {
        PanelScene scene(100000000002ULL);
        ASSERT_TRUE(scene.panel);
        scene.panel->replacePage(1);
        EXPECT_FALSE(scene.panel->moveStartButton()->isEnabled());
    }
    KZRemovePanelWidget::setAnimationsInstant(false);
}

// Marked tracks of a music library are said to stay, on both pages, before
// Start; a result without one says nothing of them.
TEST(KZRemovePanelWidget, MarkedMusicTracksAreToldToStay)
{
    KZRemovePanelWidget::setAnimationsInstant(true);
    for (const qint16 owner : {KZAppSuppInfo::ITunes, KZAppSuppInfo::None}) {
        PanelScene scene(3, {}, true, owner);
        ASSERT_TRUE(scene.panel);
        for (const QString& name : {u"removalMusicNote1"_s, u"removalMusicNote2"_s}) {
            auto* note = scene.panel->findChild<QLabel*>(name);
            ASSERT_TRUE(note) << name.toStdString();
            EXPECT_EQ(!note->isHidden(), owner == KZAppSuppInfo::ITunes) << name.toStdString();
            if (owner == KZAppSuppInfo::ITunes) {
                EXPECT_TRUE(note->text().startsWith(u"2 marked tracks"_s)) << note->text().toStdString();
            }
        }
    }
    KZRemovePanelWidget::setAnimationsInstant(false);
}

// The Trash page says before Start that marked photo-library items stay in
// their library; a result without one says nothing of them.
TEST(KZRemovePanelWidget, MarkedPhotoLibraryItemsAreToldToStayOnTheTrashPage)
{
    KZRemovePanelWidget::setAnimationsInstant(true);
    auto photos = KZSourceItem::create(QVariantMap{});
    photos->setIsPhotosLib(true);
    for (const qint16 owner : {KZAppSuppInfo::Photos, KZAppSuppInfo::None}) {
        PanelScene scene(3, {photos}, true, owner);
        ASSERT_TRUE(scene.panel);
        auto* note = scene.panel->findChild<QLabel*>(u"removalPhotosNote"_s);
        ASSERT_TRUE(note);
        EXPECT_TRUE(scene.panel->trashPage()->isAncestorOf(note));
        EXPECT_EQ(!note->isHidden(), owner == KZAppSuppInfo::Photos);
        if (owner == KZAppSuppInfo::Photos) {
            EXPECT_TRUE(note->text().startsWith(u"2 marked items of the photo library stay"_s))
                << note->text().toStdString();
        }
    }
    EXPECT_EQ(KZRemovePhotosNote(0), QString());
    EXPECT_TRUE(KZRemovePhotosNote(1).startsWith(u"One marked item"_s));
    KZRemovePanelWidget::setAnimationsInstant(false);
}

TEST(KZRemovePanelWidget, HardLinksAreOfferedForFileResultsOnly)
{
    KZRemovePanelWidget::setAnimationsInstant(true);
    for (const bool areFiles : {true, false}) {
        PanelScene scene(3, {}, areFiles);
        ASSERT_TRUE(scene.panel);
        for (const QString& name : {u"removalHardLinks"_s, u"removalHardLinks2"_s}) {
            auto* box = scene.panel->findChild<QCheckBox*>(name);
            ASSERT_TRUE(box) << name.toStdString();
            EXPECT_EQ(!box->isHidden() && !box->parentWidget()->isHidden(), areFiles) << name.toStdString();
        }
    }
    KZRemovePanelWidget::setAnimationsInstant(false);
}

// The user's whole road over a plain result view: Trash, Start, the final
// card, Close; the real engine and model underneath.
TEST(KZRemovePanelWidget, TrashRemovalEndToEnd)
{
    kztest::ShortAnimations shortAnimations;
    NoteLog log;
    PanelScene scene;
    ASSERT_TRUE(scene.panel);
    ASSERT_TRUE(scene.settle([&] { return scene.panel->visibleCard() == KZRemovePanelWidget::Card::Choose; }));
    const auto removed1 = scene.all[1]->url(), removed2 = scene.all[2]->url();
    QTest::mouseClick(scene.panel->startButton(), Qt::LeftButton);
    EXPECT_EQ(scene.host.purged, 1);
    ASSERT_TRUE(scene.settle([&] { return scene.panel && scene.panel->visibleCard() == KZRemovePanelWidget::Card::Final; }));
    EXPECT_FALSE(scene.panel->finalField()->text().isEmpty());
    EXPECT_TRUE(scene.panel->finalCard()->isVisible());
    kztest::processEventsUntil([&] { return !scene.panel->progressCard()->isVisible(); });
    EXPECT_FALSE(scene.panel->progressCard()->isVisible());
    EXPECT_EQ(log.names.count(KZNotification::itemsDidRemove), 1);
    for (const auto& gone : {removed1, removed2}) {
        EXPECT_FALSE(std::filesystem::exists(gone));
        const auto info = platform::homeTrashDirectory() / "info" / (gone.filename().string() + ".trashinfo");
        EXPECT_NE(kztest::readFile(info).find("Path="), std::string::npos) << info;
    }
    EXPECT_TRUE(std::filesystem::exists(scene.all[0]->url()));
    EXPECT_TRUE(std::filesystem::exists(scene.all[3]->url()));
    EXPECT_TRUE(scene.all[1]->isRemoved());
    EXPECT_FALSE(scene.all[0]->isRemoved());
    EXPECT_EQ(scene.cntrl->managedCount.load(), 2u);

    QTest::mouseClick(scene.panel->findChild<QPushButton*>(u"removalClose"_s), Qt::LeftButton);
    ASSERT_TRUE(scene.settle([&] { return !scene.panel; }));
    EXPECT_EQ(log.names.last(), KZNotification::removePanelDidClose);
}

// The panel answers the keys a dialog would: Return starts what the shown
// page offers (a move only once a folder is chosen), Escape cancels, and on
// the done card either key closes.
TEST(KZRemovePanelWidget, ReturnStartsEscapeCancelsAndEitherClosesTheDoneCard)
{
    kztest::ShortAnimations shortAnimations;
    {
        PanelScene scene;
        ASSERT_NO_FATAL_FAILURE(scene.showChoiceActive());
        QWidget* focused = QApplication::focusWidget();
        ASSERT_TRUE(focused && scene.panel->isAncestorOf(focused)) << "the shown page takes the keys";
        QTest::keyClick(focused, Qt::Key_Escape);
        ASSERT_TRUE(scene.settle([&] { return !scene.panel; }));
        EXPECT_TRUE(std::filesystem::exists(scene.all[1]->url())) << "Escape removes nothing";
    }
    {
        // Tabbed to Cancel, Return cancels: it never starts the removal.
        PanelScene scene;
        ASSERT_NO_FATAL_FAILURE(scene.showChoiceActive());
        QPushButton* cancel = nullptr;
        for (QPushButton* button : scene.panel->trashPage()->findChildren<QPushButton*>())
            if (button->text() == platform::localizedString(u"cancel_button"_s))
                cancel = button;
        ASSERT_TRUE(cancel);
        cancel->setFocus(Qt::TabFocusReason);
        QTest::keyClick(cancel, Qt::Key_Return);
        ASSERT_TRUE(scene.settle([&] { return !scene.panel; }));
        EXPECT_TRUE(std::filesystem::exists(scene.all[1]->url())) << "Return on Cancel removes nothing";
    }
    PanelScene scene;
    ASSERT_NO_FATAL_FAILURE(scene.showChoiceActive());

    // The move page without a folder: Return beeps and nothing moves.
    scene.panel->replacePage(1);
    ASSERT_TRUE(scene.settle([&] { return scene.panel->movePage()->hasFocus(); }));
    ASSERT_FALSE(scene.panel->moveStartButton()->isEnabled());
    QTest::keyClick(scene.panel->movePage(), Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_EQ(scene.panel->visibleCard(), KZRemovePanelWidget::Card::Choose);

    // Back on the Trash page, Enter on the keypad starts the removal.
    scene.panel->replacePage(2);
    ASSERT_TRUE(scene.settle([&] { return scene.panel->trashPage()->hasFocus(); }));
    QTest::keyClick(scene.panel->trashPage(), Qt::Key_Enter, Qt::KeypadModifier);
    ASSERT_TRUE(scene.settle([&] { return scene.panel && scene.panel->visibleCard() == KZRemovePanelWidget::Card::Final; }));
    EXPECT_FALSE(std::filesystem::exists(scene.all[1]->url()));
    ASSERT_TRUE(scene.settle([&] { return QApplication::focusWidget() && scene.panel->isAncestorOf(QApplication::focusWidget()); }));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    ASSERT_TRUE(scene.settle([&] { return !scene.panel; }));
}

// Tab and Shift+Tab go round the shown page only: the page slid out of the
// card takes no focus, so Space never works a control nobody sees. Each
// stop shows the focus, the default Start button too.
TEST(KZRemovePanelWidget, TabGoesRoundTheShownPageOnly)
{
    kztest::ShortAnimations shortAnimations;
    PanelScene scene;
    ASSERT_NO_FATAL_FAILURE(scene.showChoiceActive());
    KZRemovePanelWidget* panel = scene.panel;
    QSet<QWidget*> stops;
    const auto walk = [&](QWidget* shown, QWidget* hidden, Qt::Key key) {
        SCOPED_TRACE(shown->objectName().toStdString() + (key == Qt::Key_Tab ? " Tab" : " Shift+Tab"));
        stops.clear();
        for (int step = 0; step < 30; ++step) {
            QTest::keyClick(QApplication::focusWidget(), key);
            QWidget* now = QApplication::focusWidget();
            ASSERT_TRUE(now);
            EXPECT_TRUE(shown->isAncestorOf(now)) << now->objectName().toStdString();
            EXPECT_FALSE(hidden->isAncestorOf(now) || now == hidden) << now->objectName().toStdString();
            stops << now;
        }
    };
    ASSERT_TRUE(panel->trashPage()->hasFocus());
    EXPECT_FALSE(panel->movePage()->isVisible());
    ASSERT_NO_FATAL_FAILURE(walk(panel->trashPage(), panel->movePage(), Qt::Key_Tab));
    EXPECT_TRUE(stops.contains(panel->startButton()));
    EXPECT_FALSE(stops.contains(panel->trashPage())) << "the page is no stop of its own";
    panel->startButton()->setFocus(Qt::TabFocusReason);
    EXPECT_TRUE(KZFocusRing::isShownOn(panel->startButton()));
    ASSERT_NO_FATAL_FAILURE(walk(panel->trashPage(), panel->movePage(), Qt::Key_Backtab));

    // To the move page by its button and Space: the Trash page goes.
    auto* toFolder = panel->findChild<QPushButton*>(u"removalToFolder"_s);
    toFolder->setFocus(Qt::TabFocusReason);
    QTest::keyClick(toFolder, Qt::Key_Space);
    ASSERT_TRUE(scene.settle([&] { return panel->movePage()->hasFocus() && !panel->trashPage()->isVisible(); }));
    ASSERT_NO_FATAL_FAILURE(walk(panel->movePage(), panel->trashPage(), Qt::Key_Tab));
    EXPECT_TRUE(stops.contains(panel->findChild<QPushButton*>(u"removalChoose"_s)));
    ASSERT_NO_FATAL_FAILURE(walk(panel->movePage(), panel->trashPage(), Qt::Key_Backtab));

    // And back: the move page goes, and Space on the Trash page's controls
    // never asks for a folder.
    auto* toTrash = panel->findChild<QPushButton*>(u"removalToTrash"_s);
    toTrash->setFocus(Qt::TabFocusReason);
    QTest::keyClick(toTrash, Qt::Key_Space);
    ASSERT_TRUE(scene.settle([&] { return panel->trashPage()->hasFocus() && !panel->movePage()->isVisible(); }));
    EXPECT_FALSE(panel->movePageShown());
    ASSERT_NO_FATAL_FAILURE(walk(panel->trashPage(), panel->movePage(), Qt::Key_Tab));
    QTest::keyClick(panel->trashPage(), Qt::Key_Escape);
    ASSERT_TRUE(scene.settle([&] { return !scene.panel; }));
}

// The info popover opens where it leaves the page's buttons free to press.
TEST(KZRemovePanelWidget, InfoPopoverLeavesCancelAndStartUncovered)
{
    KZRemovePanelWidget::setAnimationsInstant(true);
    PanelScene scene;
    ASSERT_TRUE(scene.panel);
    ASSERT_TRUE(scene.settle([&] { return scene.panel->visibleCard() == KZRemovePanelWidget::Card::Choose; }));
    scene.panel->infoButton()->click();
    ASSERT_TRUE(scene.panel->popover() && scene.panel->popover()->isVisible());
    const QRect popover = scene.panel->popover()->frameGeometry();
    auto* page = scene.panel->findChild<QWidget*>(u"removalTrashPage"_s);
    ASSERT_TRUE(page);
    int buttons = 0;
    for (QPushButton* button : page->findChildren<QPushButton*>()) {
        if (button == scene.panel->infoButton() || !button->isVisible())
            continue;
        ++buttons;
        const QRect at(button->mapToGlobal(QPoint(0, 0)), button->size());
        EXPECT_FALSE(popover.intersects(at)) << button->text().toStdString();
    }
    EXPECT_GE(buttons, 2); // Cancel and Start at least
    scene.panel->infoButton()->click();
    KZRemovePanelWidget::setAnimationsInstant(false);
}

// Links left in the items' places are told on the done card with what moved.
TEST(KZRemovePanelWidget, TheDoneCardTellsOfTheHardLinksLeft)
{
    kztest::ShortAnimations shortAnimations;
    PanelScene scene;
    ASSERT_TRUE(scene.panel);
    ASSERT_TRUE(scene.settle([&] { return scene.panel->visibleCard() == KZRemovePanelWidget::Card::Choose; }));
    auto* links = scene.panel->findChild<QCheckBox*>(u"removalHardLinks"_s);
    ASSERT_TRUE(links);
    links->setChecked(true);
    // Every item of the scene is marked; the kept copies are named as the
    // model names the unmarked members.
    scene.cntrl->mastersAlias = {scene.all[0], scene.all[3]};
    const auto place1 = scene.all[1]->url(), place2 = scene.all[2]->url();
    QTest::mouseClick(scene.panel->startButton(), Qt::LeftButton);
    ASSERT_TRUE(
        scene.settle([&] { return scene.panel && scene.panel->visibleCard() == KZRemovePanelWidget::Card::Final; }));
    // The links really stand there: the card tells no more than is true.
    EXPECT_TRUE(std::filesystem::exists(place1));
    EXPECT_TRUE(std::filesystem::exists(place2));
    const QString said = scene.panel->finalField()->text();
    EXPECT_TRUE(said.contains(u"moved to the Trash"_s)) << said.toStdString();
    EXPECT_TRUE(said.contains(u"Hard links"_s) && said.contains(u" 2 "_s)) << said.toStdString();
    QTest::mouseClick(scene.panel->findChild<QPushButton*>(u"removalClose"_s), Qt::LeftButton);
    ASSERT_TRUE(scene.settle([&] { return !scene.panel; }));
}

TEST(KZRemovePanelWidget, DoneCardTextNamesOneOrManyLinks)
{
    KZRemoveTally tally;
    EXPECT_EQ(KZRemoveFinalText(u"17.53 MB moved to the Trash."_s, tally), u"17.53 MB moved to the Trash."_s);
    tally.linked = 1;
    EXPECT_EQ(KZRemoveFinalText(u"1 KB moved to the Trash."_s, tally),
              u"1 KB moved to the Trash. "_s + platform::localizedString(u"final_links_sing"_s));
    tally.linked = 1200;
    const QString many = KZRemoveFinalText(u"x."_s, tally);
    EXPECT_TRUE(many.startsWith(u"x. "_s));
    EXPECT_FALSE(many.contains(u"%1"_s)) << many.toStdString();
    EXPECT_TRUE(many.contains(KZNumberUtilities::sharedControl().numberToFormatString(1200.0))) << many.toStdString();
}

// The desktop notice never tells a copy as a move: the originals stayed.
TEST(KZRemovePanelWidget, TheNoticeTellsCopiesAsCopies)
{
    KZRemoveTally tally;
    tally.copied = 3;
    const QString copied = KZRemoveCompletionText(tally, false);
    EXPECT_TRUE(copied.startsWith(u"3 items copied"_s)) << copied.toStdString();
    tally.moved = 2;
    const QString both = KZRemoveCompletionText(tally, false);
    EXPECT_TRUE(both.startsWith(u"2 items moved, 3 copied"_s)) << both.toStdString();
    tally.copied = 0;
    EXPECT_EQ(KZRemoveCompletionText(tally, false), u"2 items moved."_s);
}

// A Trash pass registers no Edit > Undo step: the page promises only what is true.
TEST(KZRemovePanelWidget, TrashPageNamesTheWaysBackThatExist)
{
    PanelScene scene;
    ASSERT_TRUE(scene.panel);
    const auto* page = scene.panel->findChild<QWidget*>(u"removalTrashPage"_s);
    ASSERT_TRUE(page);
    QStringList texts;
    for (const auto* label : page->findChildren<QLabel*>())
        texts << label->text();
    const QString said = texts.join(u' ');
    EXPECT_TRUE(said.contains(u"from the Trash"_s)) << said.toStdString();
    EXPECT_TRUE(said.contains(u"Restore Removed Items"_s)) << said.toStdString();
    EXPECT_FALSE(said.contains(u"Undo"_s)) << said.toStdString();
}

// Pictures for people to look at; only with MARAVEX_SHOTS_DIR.
TEST(RemovalPanelShots, TrashMoveProgressAndFinalCards)
{
    const QString dir = qEnvironmentVariable("MARAVEX_SHOTS_DIR");
    if (dir.isEmpty())
        GTEST_SKIP() << "pictures only when MARAVEX_SHOTS_DIR is set";
    QDir().mkpath(dir);
    PanelScene scene;
    scene.window.setWindowTitle(u"Maravex"_s);
    auto* hint = new QLabel(u"(the tab's list of duplicates)"_s, scene.resultView);
    hint->move(24, 24);
    hint->lower();
    hint->show();
    ASSERT_TRUE(scene.panel);
    auto save = [&](const QString& name) {
        kztest::processEventsUntil([] { return false; }, std::chrono::milliseconds(900));
        EXPECT_TRUE(scene.window.grab().save(dir + u"/"_s + name));
    };
    save(u"removal-trash-page.png"_s);
    scene.panel->replacePage(1);
    save(u"removal-move-page.png"_s);
    scene.panel->replacePage(2);
    kztest::processEventsUntil([] { return false; }, std::chrono::milliseconds(900));
    scene.panel->showProgressView();
    scene.panel->setStatus(u"Moving to the Trash…"_s);
    scene.panel->setProgressDeterminate(true);
    scene.panel->setProgress(40);
    scene.panel->setCounters(u"2 / 5"_s, u"1.2 MB / 3 MB"_s);
    save(u"removal-progress.png"_s);
    scene.panel->showSuccessfulView(u"3 MB moved to the Trash."_s);
    save(u"removal-final.png"_s);
    scene.panel->showSuccessfulView(platform::localizedString(u"final_deleting_string"_s).arg(u"3 MB"_s));
    save(u"removal-final-deleted.png"_s);
}

TEST(RemovalPanelShots, FolderResultPagesWithoutHardLinks)
{
    const QString dir = qEnvironmentVariable("MARAVEX_SHOTS_DIR");
    if (dir.isEmpty())
        GTEST_SKIP() << "pictures only when MARAVEX_SHOTS_DIR is set";
    QDir().mkpath(dir);
    PanelScene scene(3, {}, false);
    scene.window.setWindowTitle(u"Maravex"_s);
    ASSERT_TRUE(scene.panel);
    auto save = [&](const QString& name) {
        kztest::processEventsUntil([] { return false; }, std::chrono::milliseconds(900));
        EXPECT_TRUE(scene.window.grab().save(dir + u"/"_s + name));
    };
    save(u"removal-trash-page-folders.png"_s);
    scene.panel->replacePage(1);
    save(u"removal-move-page-folders.png"_s);
}

TEST(RemovalPanelShots, PhotosMovePageWithTheKeywordsExplained)
{
    const QString dir = qEnvironmentVariable("MARAVEX_SHOTS_DIR");
    if (dir.isEmpty())
        GTEST_SKIP() << "pictures only when MARAVEX_SHOTS_DIR is set";
    QDir().mkpath(dir);
    auto photos = KZSourceItem::create(QVariantMap{});
    photos->setIsPhotosLib(true);
    PanelScene scene(3, {photos}, true, KZAppSuppInfo::Photos);
    scene.window.setWindowTitle(u"Maravex"_s);
    ASSERT_TRUE(scene.panel);
    kztest::processEventsUntil([] { return false; }, std::chrono::milliseconds(900));
    scene.panel->replacePage(1);
    kztest::processEventsUntil([] { return false; }, std::chrono::milliseconds(900));
    scene.panel->infoButton(3)->click();
    kztest::processEventsUntil([] { return false; }, std::chrono::milliseconds(500));
    // The popover is a window of its own: the screen shows both.
    const QRect area = scene.window.frameGeometry() | scene.panel->popover()->frameGeometry();
    const QPixmap shot = scene.window.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    EXPECT_TRUE(shot.save(dir + u"/removal-move-page-photos-info.png"_s));
}

} // namespace
