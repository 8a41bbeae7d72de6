#include "../../model/ModelTestSupport.h"

#include "TestSupport.h"
#include "platform/NotificationCenter.h"
#include "platform/StringTable.h"
#include "result/model/KZListNotifications.h"
#include "result/window/ui/KZFoundItemPreviewCntrl.h"
#include "result/window/ui/KZFoundItemsModel.h"
#include "result/window/ui/KZFoundItemsOutlineView.h"
#include "result/window/ui/KZListMarkingCntrl.h"
#include "result/window/ui/KZPathControl.h"
#include "result/window/ui/KZPreview.h"
#include "result/window/ui/KZPreviewLoader.h"
#include "result/window/ui/KZPreviewPanel.h"
#include "result/window/ui/KZResultOutlineCntrl.h"
#include "services/ui/KZFocusRing.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZNotificationNames.h"
#include "platform/UserDefaults.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QScrollArea>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using kztest::TempDir;
using modeltest::ItemShape;

namespace {

constexpr quint64 kDocuments = 7;

class RecordingWorkspace : public KZWorkspace {
public:
    void revealItems(const QList<std::filesystem::path>& paths) override { revealed.append(paths); }
    void openItem(const std::filesystem::path& path) override { opened.append(path); }
    QList<std::filesystem::path> revealed;
    QList<std::filesystem::path> opened;
};

KZPreviewItemRef previewOf(const KZFoundItemRef& found, qint64 index)
{
    auto item = std::make_shared<KZPreviewItem>(found);
    item->setIndex(index);
    return item;
}

// Lets the queued card updates and the decoded pictures arrive.
void settle()
{
    for (int i = 0; i < 3; ++i) {
        KZPreviewLoader::waitForDone();
        QCoreApplication::processEvents();
    }
}

std::filesystem::path writePicture(const TempDir& dir, const char* name, QSize size, QColor colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    const std::filesystem::path path = dir / name;
    EXPECT_TRUE(image.save(QString::fromStdString(path.string())));
    return path;
}

class PreviewPane : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The pane beside the list: cards one under the other.
        defaults->setValue(KZDefaultsKey::list_splitView_is_vertical, true);
        make();
    }
    void TearDown() override
    {
        if (KZPreviewPanel::isOpen())
            KZPreviewPanel::shared().close();
        pane.reset();
        other.reset();
    }
    std::unique_ptr<KZFoundItemPreviewCntrl> makePane(bool* onScreen)
    {
        KZFoundItemPreviewCntrl::Settings settings;
        settings.outlineView = &outlineMarker;
        settings.prepareToShowPreview = [this] { ++prepared; };
        settings.isTabOnScreen = [onScreen] { return *onScreen; };
        settings.workspace = &workspace;
        settings.beep = [this] { ++beeps; };
        auto made = std::make_unique<KZFoundItemPreviewCntrl>(std::move(settings));
        made->view()->resize(420, 800);
        made->view()->show();
        return made;
    }
    void make() { pane = makePane(&paneOnScreen); }
    void show(const KZPreviewItems& items)
    {
        pane->showPreviewWithArray(items);
        settle();
    }
    QList<KZPreviewItem*> cardItems() const
    {
        QList<KZPreviewItem*> items;
        for (KZPreview* card : pane->cards())
            items.append(card->previewItem().get());
        return items;
    }

    kztest::ScopedDefaults defaults;
    int outlineMarker = 0;
    bool paneOnScreen = true;
    bool otherOnScreen = false;
    int prepared = 0;
    int beeps = 0;
    RecordingWorkspace workspace;
    std::unique_ptr<KZFoundItemPreviewCntrl> pane;
    std::unique_ptr<KZFoundItemPreviewCntrl> other;
};

} // namespace

TEST_F(PreviewPane, CardsFollowTheSelectionByDifference)
{
    const KZFoundItemArray found = modeltest::makeItems({{.tag = kDocuments}, {.tag = kDocuments}, {.tag = kDocuments}});
    const KZPreviewItemRef a = previewOf(found[0], 0);
    const KZPreviewItemRef b = previewOf(found[1], 1);
    show({a, b});
    ASSERT_EQ(pane->cards().size(), 2);
    KZPreview* cardOfB = pane->cardForItem(b.get());

    // {A, B} → {B, C}: the new selection brings new preview items, even
    // for B; B's card keeps the item it was made with.
    const KZPreviewItemRef b2 = previewOf(found[1], 1);
    const KZPreviewItemRef c = previewOf(found[2], 2);
    show({b2, c});
    EXPECT_EQ(pane->lastDifference().deleted, QList<int>{0});
    EXPECT_EQ(pane->lastDifference().inserted, QList<int>{1});
    EXPECT_EQ(pane->itemsCollection(), (KZPreviewItems{b, c}));
    EXPECT_EQ(pane->cardForItem(b.get()), cardOfB) << "a card that stays keeps its widget";
    EXPECT_EQ(pane->cardForItem(a.get()), nullptr);
    EXPECT_EQ(cardItems(), (QList<KZPreviewItem*>{b.get(), c.get()}));
    EXPECT_FALSE(b->dontUpdate());
    EXPECT_TRUE(c->dontUpdate());
    EXPECT_LT(cardOfB->y(), pane->cardForItem(c.get())->y());

    // A row inserted before B lands in front of it.
    const KZFoundItemRef early = modeltest::makeItem({.tag = kDocuments});
    show({previewOf(early, -5), b2, c});
    EXPECT_EQ(pane->lastDifference().inserted, QList<int>{0});
    EXPECT_EQ(cardItems().value(1), b.get());
    EXPECT_GT(pane->cardForItem(b.get())->y(), pane->cards().first()->y());

    // Nothing selected: every card goes and the notice comes back.
    show({});
    EXPECT_TRUE(pane->cards().isEmpty());
    EXPECT_TRUE(pane->emptyPreviewFld()->isVisibleTo(pane->view()));
    EXPECT_FALSE(pane->collectionView()->isVisibleTo(pane->view()));
}

TEST_F(PreviewPane, AGoneFoundItemLosesItsCardAtTheNextDifference)
{
    KZFoundItemArray found = modeltest::makeItems({{.tag = kDocuments}, {.tag = kDocuments}});
    const KZPreviewItemRef kept = previewOf(found[1], 1);
    KZPreviewItemRef gone = previewOf(found[0], 0);
    show({gone, kept});
    const KZPreviewItem* goneItem = gone.get();
    found.removeFirst();
    gone.reset();
    show({previewOf(found[0], 1)});
    EXPECT_EQ(pane->itemsCollection(), KZPreviewItems{kept});
    EXPECT_EQ(pane->cardForItem(goneItem), nullptr);
}

TEST_F(PreviewPane, TheSelectionIsAnnouncedBeforeTheCardsChange)
{
    const KZFoundItemArray found = modeltest::makeItems({{.tag = kDocuments}, {.tag = kDocuments}, {.tag = kDocuments}});
    QList<QVariantMap> notes;
    QList<qsizetype> cardsWhenTold;
    auto watch = platform::NotificationCenter::defaultCenter().addObserver(
        KZNotification::listSelectionDidChange, platform::bundleIdentifier(), [&](const platform::Notification& note) {
            notes.append(note.userInfo);
            cardsWhenTold.append(pane->itemsCollection().size());
        });
    show({previewOf(found[0], 0)});
    show({previewOf(found[0], 0), previewOf(found[1], 1), previewOf(found[2], 2)});
    show({});
    ASSERT_EQ(notes.size(), 3);
    EXPECT_EQ(notes[0].value(u"fileName"_s).toString(), found[0]->name());
    EXPECT_EQ(notes[0].value(u"count"_s).toULongLong(), 1u);
    EXPECT_EQ(notes[1].value(u"fileName"_s).toString(),
              platform::localizedString(u"items_count"_s).arg(u"3"_s));
    EXPECT_EQ(notes[1].value(u"count"_s).toULongLong(), 3u);
    EXPECT_TRUE(notes[2].isEmpty());
    EXPECT_EQ(cardsWhenTold, (QList<qsizetype>{0, 1, 3}));
}

TEST_F(PreviewPane, ACollapsedPaneMakesNoCardsAndRebuildsThemWhenItOpens)
{
    const KZFoundItemArray found = modeltest::makeItems({{.tag = kDocuments}, {.tag = kDocuments}});
    auto& center = platform::NotificationCenter::defaultCenter();
    int told = 0;
    auto watch = center.addObserver(KZNotification::listSelectionDidChange, platform::bundleIdentifier(),
                                    [&](const platform::Notification&) { ++told; });
    show({previewOf(found[0], 0)});
    center.post(KZNotification::splitViewDidCollapse, &outlineMarker);
    settle();
    EXPECT_TRUE(pane->splitViewIsCollapsed());
    EXPECT_TRUE(pane->cards().isEmpty()) << "closed with the panel down: the preview is emptied";
    told = 0;
    show({previewOf(found[0], 0), previewOf(found[1], 1)});
    EXPECT_EQ(told, 1);
    EXPECT_TRUE(pane->cards().isEmpty());
    EXPECT_TRUE(pane->itemsCollection().isEmpty());

    // Opening asks the list for its selection and shows all of it.
    center.post(KZNotification::splitViewDidUncollapse, &outlineMarker);
    EXPECT_EQ(prepared, 1);
    show({previewOf(found[0], 0), previewOf(found[1], 1)});
    EXPECT_EQ(pane->cards().size(), 2);

    // With the panel up, a closed pane still feeds the panel; the cards are
    // made from the selection once the pane opens again.
    KZPreviewPanel::shared().open();
    EXPECT_EQ(KZPreviewPanel::shared().dataSource(), pane.get());
    center.post(KZNotification::splitViewDidCollapse, &outlineMarker);
    const KZPreviewItemRef only = previewOf(found[1], 1);
    show({only});
    EXPECT_EQ(pane->itemsCollection(), KZPreviewItems{only});
    EXPECT_EQ(KZPreviewPanel::shared().dataSource()->numberOfPreviewItems(), 1);
    center.post(KZNotification::splitViewDidUncollapse, &outlineMarker);
    show({only});
    EXPECT_EQ(cardItems(), QList<KZPreviewItem*>{only.get()});
}

TEST_F(PreviewPane, ThePanelServesTheTabOnScreen)
{
    other = makePane(&otherOnScreen);
    const KZFoundItemArray found = modeltest::makeItems({{.tag = kDocuments}, {.tag = kDocuments}});
    show({previewOf(found[0], 0)});
    other->showPreviewWithArray({previewOf(found[1], 0)});
    settle();
    KZPreviewPanel& panel = KZPreviewPanel::shared();
    panel.open();
    EXPECT_TRUE(pane->qlPanelIsVisible());
    EXPECT_TRUE(other->qlPanelIsVisible());
    EXPECT_EQ(panel.dataSource(), pane.get());
    EXPECT_EQ(panel.currentItem()->item(), found[0]);

    // The other tab comes to the front.
    paneOnScreen = false;
    otherOnScreen = true;
    other->updateQuickLookPanelDelegate();
    EXPECT_EQ(panel.dataSource(), other.get());
    EXPECT_EQ(panel.currentItem()->item(), found[1]);

    // A pane that goes away never leaves the panel pointing at it.
    other.reset();
    EXPECT_EQ(panel.dataSource(), nullptr);
    panel.close();
    EXPECT_FALSE(pane->qlPanelIsVisible());
}

TEST_F(PreviewPane, ThePanelMovesThroughItsItemsAndShowsPicturesTextAndFacts)
{
    TempDir dir;
    const auto picture = writePicture(dir, "red.png", QSize(64, 48), Qt::red);
    const auto text = dir.write("notes.txt", "first line\nsecond line\n");
    const auto binary = dir.write("data.bin", std::string("\x01\x02\x03\x00\x05", 5));
    const KZFoundItemArray found = modeltest::makeItems(std::vector<ItemShape>{
        {.path = picture, .tag = 3}, {.path = text, .tag = kDocuments}, {.path = binary, .tag = kDocuments}});
    show({previewOf(found[0], 0), previewOf(found[1], 1), previewOf(found[2], 2)});
    KZPreviewPanel& panel = KZPreviewPanel::shared();
    panel.open();
    settle();
    EXPECT_EQ(panel.showing(), KZPreviewPanel::Showing::Picture);
    EXPECT_EQ(panel.picture().pixelColor(10, 10), QColor(Qt::red));
    QTest::keyClick(&panel, Qt::Key_Right);
    settle();
    EXPECT_EQ(panel.currentPreviewItemIndex(), 1);
    EXPECT_EQ(panel.showing(), KZPreviewPanel::Showing::Text);
    QTest::keyClick(&panel, Qt::Key_Down);
    settle();
    EXPECT_EQ(panel.showing(), KZPreviewPanel::Showing::Facts);
    EXPECT_EQ(panel.titleText(), u"data.bin"_s);
    QTest::keyClick(&panel, Qt::Key_Left);
    EXPECT_EQ(panel.currentPreviewItemIndex(), 1);
    QTest::keyClick(&panel, Qt::Key_Space);
    EXPECT_FALSE(KZPreviewPanel::isOpen());
    panel.open();
    QTest::keyClick(&panel, Qt::Key_Escape);
    EXPECT_FALSE(KZPreviewPanel::isOpen());
}

// The card is a small live preview: it shows what the panel shows of the
// same file (a text file's text, a picture that was found as a plain file),
// and a name that is not UTF-8 reads like any other, in both.
TEST_F(PreviewPane, TheCardShowsWhatThePanelShowsWhateverTheNameBytes)
{
    TempDir dir;
    const auto notes = dir.write("notes.txt", "first line\nsecond line\n");
    const auto latin = dir.write("caf\xe9 notes.txt", "Meeting notes\n");
    const auto picture = writePicture(dir, "plain.png", QSize(40, 30), Qt::red);
    std::filesystem::path latinPicture = dir / "r\xf6" "d.png";
    std::filesystem::rename(writePicture(dir, "tmp.png", QSize(40, 30), Qt::green), latinPicture);
    ASSERT_TRUE(std::filesystem::exists(latinPicture));
    const KZFoundItemArray found = modeltest::makeItems(std::vector<ItemShape>{{.path = notes, .tag = kDocuments},
                                                                               {.path = latin, .tag = kDocuments},
                                                                               {.path = picture, .tag = kDocuments},
                                                                               {.path = latinPicture, .tag = 3}});
    show({previewOf(found[0], 0), previewOf(found[1], 1), previewOf(found[2], 2), previewOf(found[3], 3)});
    const QList<KZPreview*> cards = pane->cards();
    ASSERT_EQ(cards.size(), 4);
    EXPECT_EQ(cards[0]->text(), u"first line\nsecond line\n"_s);
    EXPECT_EQ(cards[1]->text(), u"Meeting notes\n"_s);
    ASSERT_FALSE(cards[2]->image().isNull());
    EXPECT_EQ(cards[2]->image().pixelColor(5, 5), QColor(Qt::red));
    EXPECT_TRUE(cards[2]->text().isNull());
    ASSERT_FALSE(cards[3]->image().isNull()) << "a picture whose name is Latin-1";
    EXPECT_EQ(cards[3]->image().pixelColor(5, 5), QColor(Qt::green));
    EXPECT_EQ(cards[3]->fieldText(u"dimension"_s), u"40 x 30"_s);

    // The text is on the card's face: a white page with dark letters where
    // a document's icon stood.
    KZPreview* card = cards[1];
    QImage face(card->size(), QImage::Format_ARGB32);
    face.fill(Qt::transparent);
    card->render(&face, QPoint(), QRegion(), QWidget::DrawChildren);
    const QRect page = card->previewView()->geometry();
    int dark = 0, white = 0;
    for (int y = page.top() + 2; y < page.top() + 20; ++y)
        for (int x = page.left() + 2; x < page.right() - 2; ++x) {
            const QColor c = face.pixelColor(x, y);
            dark += c.lightness() < 120;
            white += c == QColor(Qt::white);
        }
    EXPECT_GT(dark, 20) << "the first line's letters";
    EXPECT_GT(white, 200) << "the page";

    KZPreviewPanel& panel = KZPreviewPanel::shared();
    panel.open();
    panel.setCurrentPreviewItemIndex(1);
    settle();
    EXPECT_EQ(panel.showing(), KZPreviewPanel::Showing::Text);
    EXPECT_EQ(panel.findChild<QPlainTextEdit*>(u"quickLookText"_s)->toPlainText(), u"Meeting notes\n"_s);
    panel.setCurrentPreviewItemIndex(3);
    settle();
    EXPECT_EQ(panel.showing(), KZPreviewPanel::Showing::Picture);
    EXPECT_EQ(panel.picture().pixelColor(5, 5), QColor(Qt::green));
}

// A preview reads regular files only: a pipe under a found item's name
// would hold the reader for ever.
TEST_F(PreviewPane, APipeUnderAFoundNameIsNotRead)
{
    TempDir dir;
    const auto pipe = dir / "notes.txt";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const KZPreviewLoader::Result read = KZPreviewLoader::read({pipe, QSize(100, 100), true, true});
    EXPECT_TRUE(read.image.isNull());
    EXPECT_FALSE(read.isText);
}

TEST_F(PreviewPane, PicturesAreDecodedAtTheirShownSizeAndDroppedWhenTheirCardGoes)
{
    TempDir dir;
    const auto path = writePicture(dir, "wide.png", QSize(1200, 600), Qt::blue);
    const KZPreviewLoader::Result read = KZPreviewLoader::read({path, QSize(300, 300), true, false});
    EXPECT_EQ(read.pixelSize, QSize(1200, 600));
    EXPECT_EQ(read.image.size(), QSize(300, 150));

    // A card that goes before its picture arrives gets nothing, and nothing breaks.
    const KZFoundItemRef found = modeltest::makeItem({.path = path, .tag = 3});
    auto card = std::make_unique<KZPreview>(KZPreview::Services{});
    card->resize(300, 400);
    card->setRepresentedObject(previewOf(found, 0));
    card.reset();
    settle();

    // A card given another item before the first picture arrived shows the second.
    const auto green = writePicture(dir, "green.png", QSize(80, 60), Qt::green);
    const KZFoundItemRef second = modeltest::makeItem({.path = green, .tag = 3});
    KZPreview reused{KZPreview::Services{}};
    reused.resize(300, 400);
    reused.setRepresentedObject(previewOf(found, 0));
    reused.setRepresentedObject(previewOf(second, 0));
    settle();
    ASSERT_FALSE(reused.image().isNull());
    EXPECT_EQ(reused.image().pixelColor(5, 5), QColor(Qt::green));
    EXPECT_EQ(reused.fieldText(u"dimension"_s), u"80 x 60"_s);
}

TEST_F(PreviewPane, TheCardPaintsItsRoundedOutlinedFace)
{
    const KZFoundItemRef found = modeltest::makeItem({.tag = kDocuments});
    KZPreview card{KZPreview::Services{}};
    card.resize(200, 235);
    card.setRepresentedObject(previewOf(found, 0));
    QImage face(card.size(), QImage::Format_ARGB32);
    face.fill(Qt::transparent);
    card.render(&face, QPoint(), QRegion(), QWidget::DrawChildren);
    const auto grey = [&](int x, int y) { return face.pixelColor(x, y); };
    EXPECT_EQ(grey(0, 0).alpha(), 0) << "the rounded corner leaves the corner clear";
    // Lighter at the top, darker at the bottom.
    EXPECT_NEAR(grey(100, 4).red(), 252, 3);
    EXPECT_NEAR(grey(100, 230).red(), 243, 3);
    EXPECT_GT(grey(100, 4).red(), grey(100, 230).red());
    // The grey outline along the left edge.
    EXPECT_NEAR(grey(1, 120).red(), 199, 12);
    EXPECT_EQ(grey(1, 120).red(), grey(1, 120).blue());
}

TEST_F(PreviewPane, ThePathMenuRevealsAndOpensAndBeepsForAGoneFile)
{
    TempDir dir;
    const auto path = dir.write("folder/report.pdf", "pdf");
    const KZFoundItemRef found = modeltest::makeItem({.path = path, .tag = kDocuments});
    KZPreview::Services services;
    services.workspace = &workspace;
    services.beep = [this] { ++beeps; };
    KZPreview card(services);
    card.resize(300, 340);
    card.setRepresentedObject(previewOf(found, 0));
    card.contextualMenuAction(KZPathControl::revealTag);
    card.contextualMenuAction(KZPathControl::openTag);
    card.contextualMenuAction(7);
    EXPECT_EQ(workspace.revealed, QList<std::filesystem::path>{path});
    EXPECT_EQ(workspace.opened, QList<std::filesystem::path>{path});
    // The menu acts on the element it was opened on: here the folder.
    KZPathControl* control = card.pathBtn();
    int onFolder = 0;
    while (onFolder < control->width() && control->elementAt(QPoint(onFolder, 5)) != path.parent_path())
        ++onFolder;
    ASSERT_LT(onFolder, control->width()) << "the folder shows in the path";
    control->prepareMenuAt(QPoint(onFolder, control->height() / 2));
    EXPECT_EQ(control->clickedPath(), path.parent_path());
    card.contextualMenuAction(KZPathControl::openTag);
    EXPECT_EQ(workspace.opened.last(), control->clickedPath());

    std::filesystem::remove(path);
    control->prepareMenuAt(QPoint(control->width() - 2, control->height() / 2));
    card.contextualMenuAction(KZPathControl::revealTag);
    card.contextualMenuAction(KZPathControl::openTag);
    EXPECT_EQ(beeps, 2);
    EXPECT_EQ(workspace.revealed.size(), 1);
}

TEST_F(PreviewPane, SpaceInTheListOpensAndClosesThePanel)
{
    QWidget list;
    KZFoundItemPreviewCntrl::Settings settings;
    settings.keyView = &list;
    settings.isTabOnScreen = [] { return true; };
    pane = std::make_unique<KZFoundItemPreviewCntrl>(std::move(settings));
    const KZFoundItemRef found = modeltest::makeItem({.tag = kDocuments});
    QTest::keyClick(&list, Qt::Key_Space);
    EXPECT_FALSE(KZPreviewPanel::isOpen()) << "nothing selected, nothing to show";
    show({previewOf(found, 0)});
    QTest::keyClick(&list, Qt::Key_Space);
    EXPECT_TRUE(KZPreviewPanel::isOpen());
    QTest::keyClick(&list, Qt::Key_Space);
    EXPECT_FALSE(KZPreviewPanel::isOpen());
}

// ---- A real list --------------------------------------------------------------------

namespace {

class PreviewOfAList : public ::testing::Test {
protected:
    void make(int count)
    {
        defaults->setValue(KZDefaultsKey::list_splitView_is_vertical, true);
        std::vector<ItemShape> shapes(size_t(count), ItemShape{.tag = 3});
        items = modeltest::makeItems(shapes);
        KZResultOutlineCntrl::Settings settings;
        settings.tabTag = 3;
        settings.showPreviewItems = [this](const KZPreviewItems& shown) {
            if (pane)
                pane->showPreviewWithArray(shown);
        };
        outline = std::make_unique<KZResultOutlineCntrl>(std::move(settings));
        outline->view()->resize(900, 500);
        outline->view()->show();
        KZFoundItemPreviewCntrl::Settings paneSettings;
        paneSettings.isTabOnScreen = [] { return true; };
        pane = std::make_unique<KZFoundItemPreviewCntrl>(std::move(paneSettings));
        pane->view()->resize(400, 700);
        pane->view()->show();
        KZListHandOff data;
        data.currSelectedTag = 3;
        data.currArray = KZShownList::flat(items);
        outline->showNewData(data);
    }
    void select(std::initializer_list<int> rows)
    {
        auto* view = outline->foundListView();
        view->selectionModel()->clearSelection();
        for (int row : rows)
            view->selectionModel()->select(outline->foundModel()->index(row, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
        settle();
    }
    void TearDown() override
    {
        pane.reset();
        outline.reset();
    }

    kztest::ScopedDefaults defaults;
    KZFoundItemArray items;
    std::unique_ptr<KZResultOutlineCntrl> outline;
    std::unique_ptr<KZFoundItemPreviewCntrl> pane;
};

} // namespace

TEST_F(PreviewOfAList, OneTwoAndThreeRowsGiveOneTwoAndThreeCardsInRowOrder)
{
    make(20);
    select({4});
    EXPECT_EQ(pane->cards().size(), 1) << pane->itemsCollection().size();
    select({9, 4});
    ASSERT_EQ(pane->cards().size(), 2);
    select({12, 4, 9});
    const QList<KZPreview*> cards = pane->cards();
    ASSERT_EQ(cards.size(), 3);
    const KZFoundItemArray expected{items[4], items[9], items[12]};
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(cards[i]->previewItem()->item(), expected[i]) << i;
    EXPECT_LT(cards[0]->y(), cards[1]->y());
    EXPECT_LT(cards[1]->y(), cards[2]->y());
}

TEST_F(PreviewOfAList, SelectingEveryRowOfALongListBuildsOnlyTheCardsInView)
{
    make(10000);
    outline->foundListView()->selectAll();
    settle();
    EXPECT_EQ(pane->itemsCollection().size(), 10000);
    EXPECT_GT(pane->liveCardCount(), 0);
    EXPECT_LT(pane->liveCardCount(), 20);
    // Scrolling to the end builds the cards there and lets the first go.
    auto* area = pane->collectionView();
    area->verticalScrollBar()->setValue(area->verticalScrollBar()->maximum());
    EXPECT_EQ(pane->cardForItem(pane->itemsCollection().first().get()), nullptr);
    EXPECT_NE(pane->cardForItem(pane->itemsCollection().last().get()), nullptr);
    EXPECT_LT(pane->liveCardCount(), 20);
}

// Cards beside the list fit the part of the pane the scroll bar leaves,
// with the same margin on both sides; cards under it, the part above the
// bar. A bar that would not be needed by cards at the full size never shows.
TEST_F(PreviewOfAList, CardsStayClearOfTheScrollBar)
{
    make(40);
    QScrollArea* area = pane->collectionView();
    select({1});
    EXPECT_FALSE(area->verticalScrollBar()->isVisible());
    ASSERT_EQ(pane->cards().size(), 1);
    EXPECT_EQ(pane->cards().first()->geometry().right(), area->viewport()->width() - 1 - 10);

    outline->foundListView()->selectAll();
    settle();
    ASSERT_TRUE(area->verticalScrollBar()->isVisible());
    const int free = area->viewport()->width();
    ASSERT_LT(free, area->width());
    for (KZPreview* card : pane->cards()) {
        EXPECT_EQ(card->x(), 10);
        EXPECT_EQ(card->geometry().right(), free - 1 - 10);
    }

    defaults->setValue(KZDefaultsKey::list_splitView_is_vertical, false);
    platform::NotificationCenter::defaultCenter().post(KZNotification::switchPositionSplitView,
                                                       platform::bundleIdentifier());
    pane->view()->resize(700, 300);
    settle();
    ASSERT_TRUE(area->horizontalScrollBar()->isVisible());
    EXPECT_FALSE(area->verticalScrollBar()->isVisible());
    for (KZPreview* card : pane->cards())
        EXPECT_EQ(card->geometry().bottom(), area->viewport()->height() - 1 - 10);
}

// Whatever the card's shape, its path line keeps clear of the picture and
// the panel above it, or is left out; a path too long for it loses its
// middle, never its ends, and no element runs into another.
TEST_F(PreviewPane, ThePathLineKeepsClearOfTheCardAndShortensInTheMiddle)
{
    TempDir dir;
    const auto folder = dir.mkdir("Holiday pictures from the summer/Second camera/Backup copies");
    const auto picture = writePicture(dir, "Holiday pictures from the summer/Second camera/Backup copies/beach.png",
                                      QSize(300, 300), Qt::blue);
    const KZFoundItemRef found = modeltest::makeItem({.path = picture, .tag = 3});
    struct Shape {
        int width, height;
        bool vertical;
    };
    for (const Shape shape : {Shape{320, 172, false}, Shape{320, 178, false}, Shape{420, 240, false}, Shape{200, 420, true}}) {
        KZPreview card{KZPreview::Services{}};
        card.setVerticalLayout(shape.vertical);
        card.resize(shape.width, shape.height);
        card.setRepresentedObject(previewOf(found, 0));
        card.show();
        settle();
        const QRect path = card.pathBtn()->geometry();
        if (card.pathBtn()->isHidden())
            continue;
        for (QWidget* above : {card.previewView(), card.infoView()})
            EXPECT_GE(path.top() - above->geometry().bottom(), 6)
                << shape.width << "x" << shape.height << " " << above->objectName().toStdString();
    }

    KZPathControl control;
    control.setPath(picture);
    for (const int width : {260, 120, 40}) {
        control.resize(width, 22);
        const auto shown = control.shownElements();
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(shown.back().first, picture) << width;
        for (size_t i = 0; i < shown.size(); ++i) {
            EXPECT_GE(shown[i].second.left(), 0) << width;
            EXPECT_LT(shown[i].second.right(), width) << width;
            if (i > 0) {
                EXPECT_GT(shown[i].second.left(), shown[i - 1].second.right()) << width;
            }
            // The ellipsis takes a place of its own.
            if (control.ellipsisX() >= 0) {
                EXPECT_FALSE(control.ellipsisX() >= shown[i].second.left()
                             && control.ellipsisX() <= shown[i].second.right())
                    << width;
            }
        }
    }
    control.resize(260, 22);
    const auto shown = control.shownElements();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].first, picture.root_path() / *std::next(picture.begin())) << "the folder the path starts from";
    EXPECT_EQ(shown[1].first, folder) << "the deepest folder";
    EXPECT_GT(control.ellipsisX(), shown[0].second.right());
    EXPECT_LT(control.ellipsisX(), shown[1].second.left());
    // The name is shown whole.
    EXPECT_GE(shown[2].second.width(), 18 + QFontMetrics(control.font()).horizontalAdvance(u"beach.png"_s));
}

// The list paints its own selection over a transparent highlight and the
// strip of cards is a plain scroll area: neither shows the focus by the
// style, so each wears a ring, in the opaque highlight colour, exactly
// while it has the focus.
TEST_F(PreviewOfAList, TheListAndTheStripWearARingOnlyWhileTheyHaveTheFocus)
{
    make(3);
    select({0, 1});
    auto* list = outline->foundListView();
    QScrollArea* strip = pane->collectionView();
    ASSERT_TRUE(strip->isVisible());
    ASSERT_TRUE(strip->focusPolicy() & Qt::TabFocus);
    // The window shown last is active, with the focus on its first control.
    EXPECT_EQ(KZFocusRing::isShownOn(list), list->hasFocus());
    EXPECT_EQ(KZFocusRing::isShownOn(strip), strip->hasFocus());

    list->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(list->window(), kztest::kPatienceMs));
    list->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(list->hasFocus());
    EXPECT_TRUE(KZFocusRing::isShownOn(list));
    const QColor ring = KZFocusRing::colour(list);
    EXPECT_EQ(ring.alpha(), 255);
    EXPECT_EQ(ring.rgb(), QApplication::palette().color(QPalette::Active, QPalette::Highlight).rgb())
        << "not the list's own transparent highlight made opaque (black)";
    const QColor edge = list->grab().toImage().pixelColor(1, list->height() / 2);
    EXPECT_LT(std::abs(edge.red() - ring.red()) + std::abs(edge.green() - ring.green()) + std::abs(edge.blue() - ring.blue()),
              24)
        << edge.name().toStdString();

    strip->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(strip->window(), kztest::kPatienceMs));
    strip->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(strip->hasFocus());
    EXPECT_TRUE(KZFocusRing::isShownOn(strip));
    EXPECT_FALSE(KZFocusRing::isShownOn(list)) << "its window is in the background";

    list->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(list->window(), kztest::kPatienceMs));
    ASSERT_TRUE(kztest::processEventsUntil([&] { return list->hasFocus(); }));
    EXPECT_TRUE(KZFocusRing::isShownOn(list)) << "back with its window";
    EXPECT_FALSE(KZFocusRing::isShownOn(strip));
    list->clearFocus();
    EXPECT_FALSE(KZFocusRing::isShownOn(list));
}
