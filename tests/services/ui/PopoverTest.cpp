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

TEST(PopoverPlacement, StandsBesideTheAnchorOnEitherSideAndFlipsAcross)
{
    const QRect screen(0, 0, 1280, 800);
    const QSize size(280, 120);
    const struct {
        const char* name;
        QRect anchor;
        Popover::Edge preferred;
        Popover::Edge taken;
        QPoint topLeft;
        int arrowAt;
    } cases[] = {
        // The arrow points at the anchor's middle: y 399 - 339 = 60.
        {"room on the left", QRect(600, 390, 20, 20), Popover::Edge::Left, Popover::Edge::Left, QPoint(320, 339), 60},
        {"room on the right", QRect(600, 390, 20, 20), Popover::Edge::Right, Popover::Edge::Right, QPoint(620, 339), 60},
        {"left edge flips right", QRect(100, 390, 20, 20), Popover::Edge::Left, Popover::Edge::Right, QPoint(120, 339), 60},
        {"right edge flips left", QRect(1100, 390, 20, 20), Popover::Edge::Right, Popover::Edge::Left, QPoint(820, 339), 60},
        // Near the bottom the popover is held on screen and its arrow
        // slides down to stay at the anchor.
        {"bottom clamps", QRect(600, 770, 20, 20), Popover::Edge::Left, Popover::Edge::Left, QPoint(320, 680), 99},
    };
    for (const auto& c : cases) {
        Popover::Edge taken = c.preferred;
        int arrowAt = -1;
        const QRect frame = Popover::placement(c.anchor, size, screen, c.preferred, &taken, &arrowAt);
        EXPECT_EQ(taken, c.taken) << c.name;
        EXPECT_EQ(frame.topLeft(), c.topLeft) << c.name;
        EXPECT_EQ(arrowAt, c.arrowAt) << c.name;
        EXPECT_TRUE(screen.contains(frame)) << c.name;
        EXPECT_FALSE(frame.intersects(c.anchor)) << c.name;
    }
}

} // namespace
