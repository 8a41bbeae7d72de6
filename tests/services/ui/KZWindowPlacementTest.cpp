#include "services/ui/KZWindowPlacement.h"

#include <gtest/gtest.h>

namespace {

using namespace KZWindowPlacement;

TEST(KZWindowPlacementTest, AWindowEndsWhollyInsideTheUsableArea)
{
    const QMargins frame(1, 32, 1, 1);
    struct Case {
        const char* what;
        QRect available;
        QRect geometry;
        QSize minimum;
        QRect expected;
    } const cases[] = {
        {"inside stays", {0, 0, 1280, 800}, {100, 100, 400, 300}, {}, {100, 100, 400, 300}},
        {"title bar above the top edge", {0, 0, 1280, 800}, {100, 0, 400, 300}, {}, {100, 32, 400, 300}},
        {"panel on top", {0, 28, 1280, 772}, {100, 20, 400, 300}, {}, {100, 60, 400, 300}},
        {"panel at the bottom", {0, 0, 1280, 760}, {100, 600, 400, 300}, {}, {100, 459, 400, 300}},
        {"panel on the left", {64, 0, 1216, 800}, {0, 100, 400, 300}, {}, {65, 100, 400, 300}},
        {"panel on the right", {0, 0, 1216, 800}, {1000, 100, 400, 300}, {}, {815, 100, 400, 300}},
        {"too tall shrinks", {0, 0, 1280, 700}, {0, 0, 1100, 700}, {820, 480}, {1, 32, 1100, 667}},
        {"too large even at its minimum keeps its title", {0, 0, 800, 400}, {50, 50, 1100, 700}, {820, 480},
         {1, 32, 820, 480}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(fitted(c.geometry, frame, c.available, c.minimum), c.expected) << c.what;
}

TEST(KZWindowPlacementTest, AFirstShowingIsCentredFrameIncluded)
{
    EXPECT_EQ(centred({509, 509}, {}, {0, 0, 1280, 800}), QRect(385, 145, 509, 509));
    // Centred in the area the panels leave, the title bar counted.
    EXPECT_EQ(centred({1100, 700}, {1, 32, 1, 1}, {0, 30, 1280, 770}), QRect(90, 80, 1100, 700));
}

} // namespace
