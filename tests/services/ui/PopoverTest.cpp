#include "services/ui/Popover.h"

#include <gtest/gtest.h>

namespace {

using platform::Popover;

TEST(PopoverPlacement, StaysOnScreenAndFlipsWhenThereIsNoRoom)
{
    const QRect screen(0, 0, 1280, 800);
    const QSize size(280, 200);
    const struct {
        const char* name;
        QRect anchor;
        Popover::Edge preferred;
        Popover::Edge taken;
        QPoint topLeft;
    } cases[] = {
        {"room below", QRect(500, 300, 4, 4), Popover::Edge::Below, Popover::Edge::Below, QPoint(361, 304)},
        {"bottom edge flips up", QRect(500, 700, 4, 4), Popover::Edge::Below, Popover::Edge::Above, QPoint(361, 500)},
        {"top edge flips down", QRect(500, 50, 4, 4), Popover::Edge::Above, Popover::Edge::Below, QPoint(361, 54)},
        {"right edge clamps", QRect(1270, 300, 4, 4), Popover::Edge::Below, Popover::Edge::Below, QPoint(1000, 304)},
        {"left edge clamps", QRect(2, 300, 4, 4), Popover::Edge::Below, Popover::Edge::Below, QPoint(0, 304)},
    };
    for (const auto& c : cases) {
        Popover::Edge taken = c.preferred;
        int arrowX = -1;
        const QRect frame = Popover::placement(c.anchor, size, screen, c.preferred, &taken, &arrowX);
        EXPECT_EQ(taken, c.taken) << c.name;
        EXPECT_EQ(frame.topLeft(), c.topLeft) << c.name;
        EXPECT_TRUE(screen.contains(frame)) << c.name;
        EXPECT_GT(arrowX, 0) << c.name;
        EXPECT_LT(arrowX, size.width()) << c.name;
    }
}

} // namespace
