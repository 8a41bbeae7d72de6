#include "result/window/KZSourceCellGeometry.h"

#include <gtest/gtest.h>

namespace {

namespace G = KZSourceCellGeometry;

TEST(KZSourceCellGeometry, TheMarkMenuCoversThePillWithItsFirstItemBelowTheArrow)
{
    // A check button 18 high and an arrow 18 high: 32 to the left of the
    // arrow, 4 below its bottom edge, the way the group rows' menu opens.
    EXPECT_EQ(G::markMenuLocation(18, 18), QPointF(-32, 22));
    // Only the check button's height moves it sideways, only the arrow's
    // height moves it down.
    EXPECT_EQ(G::markMenuLocation(22, 18), QPointF(-28, 22));
    EXPECT_EQ(G::markMenuLocation(18, 30), QPointF(-32, 34));
}

} // namespace
