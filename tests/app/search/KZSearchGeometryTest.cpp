#include "app/search/KZSearchGeometry.h"

#include <gtest/gtest.h>

#include <cmath>

namespace G = KZSearchGeometry;

namespace {

struct AddButtonCase {
    bool first;
    double p;
    double side;
    int lineWidth;
};

class AddButtonMove : public ::testing::TestWithParam<AddButtonCase> {};

TEST_P(AddButtonMove, SideAndLineWidth)
{
    const auto& c = GetParam();
    EXPECT_DOUBLE_EQ(G::addButtonSide(c.first, c.p), c.side);
    EXPECT_EQ(G::addButtonLineWidth(c.first, c.p), c.lineWidth);
}

INSTANTIATE_TEST_SUITE_P(Cases, AddButtonMove,
                         ::testing::Values(AddButtonCase{true, 0.0, 96.0, 4}, AddButtonCase{true, 0.5, 60.0, 3},
                                           AddButtonCase{true, 1.0, 24.0, 2}, AddButtonCase{false, 0.0, 24.0, 2},
                                           AddButtonCase{false, 0.5, 60.0, 3}, AddButtonCase{false, 1.0, 96.0, 4}));

TEST(AddButtonGeometry, TravelAndFrameKeepTheCentre)
{
    EXPECT_DOUBLE_EQ(G::addButtonTravel(G::MoveKind::Drop), 70.0);
    EXPECT_DOUBLE_EQ(G::addButtonTravel(G::MoveKind::Panel), 122.0);
    EXPECT_DOUBLE_EQ(G::addButtonTravel(G::MoveKind::Reset), -122.0);

    const QRectF large(177, 177, 96, 96);
    for (const double p : {0.0, 0.5, 1.0}) {
        const QRectF frame = G::addButtonFrame(true, p, G::MoveKind::Panel, 177, large);
        EXPECT_DOUBLE_EQ(frame.center().x(), large.center().x()) << p;
        EXPECT_DOUBLE_EQ(frame.y(), 177 + 122 * p) << p;
    }
    EXPECT_EQ(G::zoomTable().front(), 1.0);
    EXPECT_NEAR(G::zoomTable().back(), 1.39, 1e-12);
}

TEST(TileRow, WidthFollowsTheNumberOfTiles)
{
    const struct {
        int tiles;
        double width;
    } cases[] = {{1, 102.0}, {2, 202.0}, {3, 414.0}, {8, 414.0}};
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(G::tileRowWidth(100.0, c.tiles, 450.0), c.width) << c.tiles;
}

TEST(DropArea, FollowsTheWindowCurveAndCarriesTheDome)
{
    const QRectF frame(0, 95, 450, 235);
    const QPainterPath flat = G::dropAreaShape(frame, 0.0, 0);
    const QPainterPath domed = G::dropAreaShape(frame, 48.0, 1);
    ASSERT_FALSE(flat.isEmpty());
    // The dome rises above the flat top by r(1 - sin(pi/8)) at most.
    const double top = frame.height() - 1.0 - 48.0 * (1.0 - std::sin(M_PI / 8.0));
    EXPECT_NEAR(domed.boundingRect().bottom(), frame.height() - 1.0, 0.5);
    EXPECT_TRUE(domed.contains(QPointF(225, top + 10)));
    EXPECT_FALSE(domed.contains(QPointF(120, top + 10)));
    // Symmetric about the window's centre line.
    EXPECT_NEAR(flat.boundingRect().center().x(), 225.0, 0.5);
    // Too low for the curve: nothing to draw rather than a broken path.
    EXPECT_TRUE(G::dropAreaShape(QRectF(0, 0, 450, 5), 0.0, 0).isEmpty());
    EXPECT_TRUE(G::dropAreaBaseLine(frame, 0).isEmpty());
}

TEST(Tiles, CloseButtonAndPopoverAnchor)
{
    EXPECT_EQ(G::closeButtonRect(QRectF(18, 40, 64, 64)), QRectF(18, 84, 20, 20));
    EXPECT_EQ(G::popoverAnchor(QSizeF(100, 140)), QRectF(48, 80, 4, 4));
}

} // namespace
