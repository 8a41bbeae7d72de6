#include "result/window/KZSourceCellGeometry.h"

#include <gtest/gtest.h>

namespace {

namespace G = KZSourceCellGeometry;

TEST(KZSourceCellGeometry, TheMarkMenuCoversThePillWithItsFirstItemAboveTheArrow)
{
    // A check button 18 high and an arrow 18 high: 32 to the left of the
    // arrow, 4 above its top, which in Qt's frame is 4 above y 0.
    const QPointF upward = G::markMenuLocation(18, 18);
    EXPECT_EQ(upward, QPointF(-32, 22));
    EXPECT_EQ(G::topDown(upward, 18), QPointF(-32, -4));
    // Only the check button's height moves it sideways, only the arrow's
    // height moves it up.
    EXPECT_EQ(G::markMenuLocation(22, 18), QPointF(-28, 22));
    EXPECT_EQ(G::topDown(G::markMenuLocation(18, 30), 30), QPointF(-32, -4));
}

} // namespace
