#include "preferences/KZPreferencesGeometry.h"

#include <gtest/gtest.h>

namespace G = KZPreferencesGeometry;

TEST(PreferencesGeometryTest, YUpFrameKeepsTheTopRightCorner)
{
    // A window at (700, 400) of 600 x 450 with a 78-point toolbar strip
    // switching to a pane of 500 x 300.
    const QRectF frame = G::paneFrameYUp({700, 400, 600, 450}, 78, {500, 300});
    EXPECT_DOUBLE_EQ(frame.x(), 800);   // 700 + 600 - 500
    EXPECT_DOUBLE_EQ(frame.y(), 472);   // 400 + 450 - (78 + 300)
    EXPECT_DOUBLE_EQ(frame.width(), 500);
    EXPECT_DOUBLE_EQ(frame.height(), 378);
    EXPECT_DOUBLE_EQ(frame.x() + frame.width(), 1300);
    EXPECT_DOUBLE_EQ(frame.y() + frame.height(), 850);

    // And back to a taller, wider pane: the corner still holds.
    const QRectF back = G::paneFrameYUp(frame, 78, {620, 560});
    EXPECT_DOUBLE_EQ(back.x() + back.width(), 1300);
    EXPECT_DOUBLE_EQ(back.y() + back.height(), 850);
    EXPECT_DOUBLE_EQ(back.y(), 212);
}

TEST(PreferencesGeometryTest, QtFrameKeepsRightEdgeAndTop)
{
    const QRect screen(0, 0, 1920, 1080);
    // Tall to short: right edge 1300 and top 200 stay.
    const QRect shorter = G::paneFrame({700, 200, 600, 650}, {500, 400}, screen);
    EXPECT_EQ(shorter, QRect(800, 200, 500, 400));
    // After the user moved the window, the new corner is the one kept.
    const QRect moved = G::paneFrame({100, 50, 500, 400}, {620, 640}, screen);
    EXPECT_EQ(moved, QRect(0, 50, 620, 640)); // 600 - 620 is off the screen: clamped
}

TEST(PreferencesGeometryTest, FrameIsClampedIntoTheAvailableArea)
{
    // A panel of 40 at the top and 30 at the left of a 1280 x 800 screen.
    const QRect available(30, 40, 1250, 760);
    // Growing at the bottom past the screen: moved up, not resized.
    EXPECT_EQ(G::paneFrame({600, 500, 400, 200}, {400, 500}, available), QRect(600, 300, 400, 500));
    // Growing leftwards past the panel: moved right.
    EXPECT_EQ(G::paneFrame({30, 100, 300, 300}, {600, 300}, available), QRect(30, 100, 600, 300));
    // Larger than the whole area: shrunk to it.
    EXPECT_EQ(G::paneFrame({30, 40, 300, 300}, {2000, 1000}, available), available);
    // No screen known: the rule alone.
    EXPECT_EQ(G::paneFrame({30, 40, 300, 300}, {500, 100}, QRect()), QRect(-170, 40, 500, 100));
}
