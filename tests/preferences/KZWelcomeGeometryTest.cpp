#include "preferences/KZWelcomeGeometry.h"

#include <gtest/gtest.h>

#include <vector>

namespace G = KZWelcomeGeometry;

namespace {

constexpr double W = 680;
constexpr double H = 460;

// Plays moves through the pure frame functions the way the window does:
// each move takes its end frames from the pages' current frames.
struct Pages {
    std::vector<QRectF> frames;
    size_t current = 0;

    Pages()
    {
        frames.assign(G::kPageCount, G::parkingFrame(W, H));
        frames[0] = G::firstPageFrame(W, H);
    }
    void move(bool forward)
    {
        const size_t from = current;
        current = forward ? current + 1 : current - 1;
        const G::EndFrames end = G::endFrames(frames[from], frames[current], forward ? G::Forward : G::Back);
        frames[current] = end.toRect;
        frames[from] = end.fromRect;
    }
};

TEST(KZWelcomeGeometry, PagesStartOnTheLeftAndParkJustOffTheRightEdge)
{
    EXPECT_EQ(G::firstPageFrame(W, H), QRectF(0, 45, W, H - 65));
    EXPECT_EQ(G::parkingFrame(W, H), QRectF(W - 5, 45, W - 10, H - 65));
}

TEST(KZWelcomeGeometry, ForwardForwardBackLeavesThePagesWhereTheUserLeftThem)
{
    Pages pages;
    pages.move(true);
    pages.move(true);
    pages.move(false);
    const double narrow = W - 10; // the parked width travels with every slide
    struct Case {
        size_t page;
        QRectF frame;
    } const cases[] = {
        {0, QRectF(-narrow, 45, narrow, H - 65)},
        {1, QRectF(0, 45, narrow, H - 65)},
        {2, QRectF(narrow, 45, narrow, H - 65)}, // not back at its parked x
        {3, G::parkingFrame(W, H)},
        {4, G::parkingFrame(W, H)},
    };
    EXPECT_EQ(pages.current, 1u);
    for (const Case& c : cases)
        EXPECT_EQ(pages.frames[c.page], c.frame) << "page " << c.page + 1;
}

TEST(KZWelcomeGeometry, EndFramesByDirection)
{
    const QRectF outgoing(0, 45, 680, 395);
    const QRectF incoming(675, 45, 670, 395);
    struct Case {
        int direction;
        QRectF from, to;
    } const cases[] = {
        {G::Forward, QRectF(-670, 45, 670, 395), QRectF(0, 45, 670, 395)},
        {G::Back, QRectF(670, 45, 670, 395), QRectF(0, 45, 670, 395)},
        {7, outgoing, incoming}, // an unknown direction moves nothing
    };
    for (const Case& c : cases) {
        const G::EndFrames end = G::endFrames(outgoing, incoming, c.direction);
        EXPECT_EQ(end.fromRect, c.from) << c.direction;
        EXPECT_EQ(end.toRect, c.to) << c.direction;
    }
}

TEST(KZWelcomeGeometry, FlightStartsAtTheTopLeftCornerAndEndsInTheCentre)
{
    const QPainterPath path = G::animationPath(256, 256);
    ASSERT_EQ(path.elementCount(), 7); // move, then two cubics of three elements
    const QPointF expected[] = {{0, 256},          {356, 256}, {256, 186}, {128, 186},
                                {-20, 186},        {-20, 128}, {128, 128}};
    for (int i = 0; i < path.elementCount(); ++i)
        EXPECT_EQ(QPointF(path.elementAt(i)), expected[i]) << "element " << i;
    EXPECT_EQ(path.pointAtPercent(1.0), QPointF(128, 128));
}

TEST(KZWelcomeGeometry, FlippingBetweenYUpAndYDownIsItsOwnInverse)
{
    const QRectF up(10, 45, 670, 395);
    EXPECT_EQ(G::flipped(up, 460), QRectF(10, 20, 670, 395));
    EXPECT_EQ(G::flipped(G::flipped(up, 460), 460), up);
    EXPECT_EQ(G::flippedRect(QRectF(-670, 45, 670, 395), 460), QRect(-670, 20, 670, 395));
}

} // namespace
