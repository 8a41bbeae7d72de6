#include "result/window/KZPreviewGeometry.h"

#include <gtest/gtest.h>

namespace G = KZPreviewGeometry;
using Kind = KZPreviewItem::Kind;

namespace {

G::CardInput card(Kind kind, bool vertical, QSizeF pane, double w = 0, double h = 0)
{
    G::CardInput input;
    input.kind = kind;
    input.vertical = vertical;
    input.pane = pane;
    input.pixelWidth = w;
    input.pixelHeight = h;
    return input;
}

} // namespace

TEST(PreviewCardSize, FollowsTheFormulasForEachKindAndDirection)
{
    // Beside the list: the picture's height fitted to the card's width.
    EXPECT_EQ(G::cardSize(card(Kind::Image, true, {400, 900}, 100, 80)), QSize(400, 260));
    EXPECT_EQ(G::cardSize(card(Kind::Image, true, {400, 900}, 740, 80)), QSize(400, 220));
    // No known size: a square preview, in a card no wider than 532.
    EXPECT_EQ(G::cardSize(card(Kind::Image, true, {600, 900})), QSize(532, 712));
    EXPECT_EQ(G::cardSize(card(Kind::Song, true, {300, 900})), QSize(300, 35 + 300 + 115));
    EXPECT_EQ(G::cardSize(card(Kind::Other, true, {300, 900})), QSize(300, 335));
    // Under the list: the pane's inner height; a document is 35 narrower.
    G::CardInput document = card(Kind::Other, false, {900, 320});
    document.inset = {10, 10, 10, 10};
    EXPECT_EQ(G::cardSize(document), QSize(265, 300));
    G::CardInput picture = card(Kind::Image, false, {900, 300});
    picture.widestText = 120;
    picture.descriptionWidth = 78;
    EXPECT_EQ(G::cardSize(picture), QSize(300 + 78 + 120 - 15, 300));
    picture.widestText = 0;
    EXPECT_EQ(G::cardSize(picture), QSize(265, 300));
}

TEST(PreviewCardSize, NeverNegativeNorWrappedPastSixteenBits)
{
    // A 10 × 100,000 pixel picture beside the list would be 2,000,000 high.
    const QSize tall = G::cardSize(card(Kind::Image, true, {230, 900}, 10, 100000));
    EXPECT_EQ(tall.width(), 230);
    EXPECT_EQ(tall.height(), 32767);
    // A pane narrower than its insets.
    G::CardInput narrow = card(Kind::Other, true, {12, 40});
    narrow.inset = {10, 10, 10, 10};
    EXPECT_EQ(G::cardSize(narrow), QSize(75, 75));
    G::CardInput low = card(Kind::Song, false, {400, 5});
    low.inset = {10, 10, 10, 10};
    EXPECT_EQ(G::cardSize(low), QSize(75, 75));
}

TEST(PreviewCardLayout, PicturesAndSongsBesideTheList)
{
    const double ih = 100;
    const G::CardLayout image = G::imageOrSongLayout({400, 260}, true, false, 22, ih, 100, 80);
    EXPECT_EQ(image.preview, QRectF(15, 165, 370, 80));
    EXPECT_EQ(image.info, QRectF(15, 165 - ih, 322, ih));
    EXPECT_TRUE(image.infoApplied);
    // 80 is not below the preview's height: the picture fills the area.
    EXPECT_EQ(image.content, QRectF(0, 0, 370, 80));
    EXPECT_EQ(image.path, QRectF(15, 15, 370, 22));
    EXPECT_FALSE(image.pathHidden);

    // Beside the list the preview is the picture's own fitted height.
    EXPECT_EQ(G::imageOrSongLayout({400, 500}, true, false, 22, ih, 100, 80).preview, QRectF(15, 405, 370, 80));
    // In a square preview a small picture sits centred at its own size.
    EXPECT_EQ(G::imageOrSongLayout({500, 300}, false, false, 20, ih, 100, 60).content, QRectF(67.5, 87.5, 100, 60));

    const G::CardLayout song = G::imageOrSongLayout({150, 400}, true, true, 22, ih, 0, 0);
    EXPECT_EQ(song.preview.width(), 120);
    EXPECT_EQ(song.content, QRectF(-22.5, -22.5, 165, 165));
}

TEST(PreviewCardLayout, PicturesAndSongsUnderTheList)
{
    const G::CardLayout image = G::imageOrSongLayout({500, 300}, false, false, 20, 100, 0, 0);
    EXPECT_EQ(image.preview, QRectF(15, 50, 235, 235));
    EXPECT_EQ(image.info.x(), 265);
    EXPECT_EQ(image.info.y(), std::trunc(50 + (125 - 42.5)));
    // Kept inside the card's right edge.
    EXPECT_LE(image.info.right(), 500 - 15);
    // A low card: the preview is centred and no panel leaves room for the path.
    const G::CardLayout low = G::imageOrSongLayout({300, 110}, false, false, 20, 100, 0, 0);
    EXPECT_EQ(low.preview, QRectF(15, 55 - 40, 80, 80));
    EXPECT_EQ(low.info.y(), 7);
    EXPECT_TRUE(low.pathHidden);
}

TEST(PreviewCardLayout, OtherItemsAndThePathControl)
{
    const G::CardLayout document = G::otherItemLayout({200, 235}, 22);
    EXPECT_EQ(document.preview, QRectF(14, 50, 170, 170));
    EXPECT_EQ(document.content, QRectF(0, 0, 170, 170));
    EXPECT_EQ(document.path, QRectF(14, 15, 170, 22));
    EXPECT_FALSE(document.pathHidden);
    EXPECT_FALSE(G::otherItemLayout({200, 235}, 35).pathHidden);
    EXPECT_TRUE(G::otherItemLayout({200, 235}, 36).pathHidden);
    // A panel whose top falls under the path hides it; a taller card shows it.
    EXPECT_TRUE(G::imageOrSongLayout({400, 170}, true, false, 22, 100, 100, 80).pathHidden);
    EXPECT_FALSE(G::imageOrSongLayout({400, 260}, true, false, 22, 100, 100, 80).pathHidden);
    // Too narrow a panel keeps its old frame.
    EXPECT_FALSE(G::imageOrSongLayout({400, 300}, true, false, 22, 0, 100, 80).infoApplied);
}

TEST(PreviewFlow, RowsBesideTheListAndColumnsUnderIt)
{
    const G::Insets inset{10, 10, 10, 10};
    // Beside the list: one card a row in a narrow pane, top first (y up).
    const G::Flow rows = G::flow({QSize(200, 100), QSize(200, 50)}, true, {220, 100}, inset, 10);
    EXPECT_EQ(rows.contentSize, QSizeF(220, 10 + 100 + 10 + 50 + 10));
    EXPECT_EQ(rows.frames.at(0), QRectF(10, 180 - 10 - 100, 200, 100));
    EXPECT_EQ(rows.frames.at(1), QRectF(10, 10, 200, 50));
    // Under the list: side by side.
    const G::Flow columns = G::flow({QSize(100, 80), QSize(120, 80), QSize(90, 80)}, false, {200, 100}, inset, 10);
    EXPECT_EQ(columns.frames.at(1).x(), 120);
    EXPECT_EQ(columns.frames.at(2).x(), 250);
    EXPECT_EQ(columns.contentSize.width(), 350);
    EXPECT_TRUE(G::flow({}, true, {100, 100}, inset, 10).frames.isEmpty());
}
