#include "removal/KZRemovePanelGeometry.h"

#include <gtest/gtest.h>

#include <ostream>

// Found by gtest through the argument's (global) namespace.
static void PrintTo(const KZPanelRect& r, std::ostream* out)
{
    *out << "(" << r.x << ", " << r.y << ", " << r.width << ", " << r.height << ")";
}

namespace {

TEST(KZRemovePanelGeometry, CoverAndCard)
{
    EXPECT_EQ(KZPanelCoverRect({10, 20, 800, 600}), (KZPanelRect{11, 21, 798, 598}));
    // Centred across, top edge 74 below the main view's top.
    EXPECT_EQ(KZPanelCardRect({11, 21, 798, 598}, {0, 0, 500, 300}), (KZPanelRect{149, 224, 500, 300}));
    // A card wider than the main view still centres (negative x), never clamps.
    EXPECT_EQ(KZPanelCardRect({0, 0, 400, 600}, {0, 0, 500, 300}), (KZPanelRect{-50, 226, 500, 300}));
}

TEST(KZRemovePanelGeometry, Pages)
{
    const KZPanelRect card{100, 50, 500, 320};
    struct Case {
        KZPanelPage page;
        bool outside;
        KZPanelRect frame;
        KZPanelRect expected;
    };
    for (const Case& c : {
             Case{KZPanelPage::Trash, false, {-500, 0, 500, 300}, {0, 0, 500, 320}},
             // One own width left of where it stands now, not of its home.
             Case{KZPanelPage::Trash, true, {-120, 7, 500, 300}, {-620, 7, 500, 300}},
             Case{KZPanelPage::Move, false, {500, 20, 500, 300}, {0, 20, 500, 300}},
             Case{KZPanelPage::Move, true, {0, 20, 500, 300}, {500, 20, 500, 300}},
             Case{KZPanelPage::Other, true, {1, 2, 3, 4}, {}},
             Case{KZPanelPage::Other, false, {1, 2, 3, 4}, {}},
         })
        EXPECT_EQ(KZPanelPageRect(c.page, c.outside, c.frame, card), c.expected)
            << static_cast<int>(c.page) << c.outside;
}

TEST(KZRemovePanelGeometry, Tiles)
{
    const KZPanelRect r{1, 1, 800, 600};
    struct Case {
        qint16 tile;
        bool open;
        KZPanelRect expected;
    };
    for (const Case& c : {
             Case{1, true, {1, 301, 400, 300}},   Case{1, false, {-399, 601, 400, 300}},
             Case{2, true, {1, 1, 400, 300}},     Case{2, false, {-399, -299, 400, 300}},
             Case{3, true, {401, 301, 400, 300}}, Case{3, false, {801, 601, 400, 300}},
             Case{4, true, {401, 1, 400, 300}},   Case{4, false, {801, -299, 400, 300}},
             Case{0, true, {}},                   Case{5, false, {}}, Case{-1, true, {}},
         })
        EXPECT_EQ(KZPanelTileRect(c.tile, c.open, r), c.expected) << c.tile << c.open;
    // Open tiles cover the rectangle exactly; closed ones never touch it.
    double area = 0;
    for (qint16 n = 1; n <= 4; ++n) {
        const KZPanelRect t = KZPanelTileRect(n, true, r);
        area += t.width * t.height;
        const KZPanelRect off = KZPanelTileRect(n, false, r);
        EXPECT_TRUE(off.x + off.width <= r.x || off.x >= r.x + r.width) << n;
        EXPECT_TRUE(off.y + off.height <= r.y || off.y >= r.y + r.height) << n;
    }
    EXPECT_DOUBLE_EQ(area, r.width * r.height);
}

TEST(KZRemovePanelGeometry, TopDown)
{
    // The upper-left tile lands at the top of a y-down parent.
    EXPECT_EQ(KZPanelRectToTopDown({1, 301, 400, 300}, 602), (KZPanelRect{1, 1, 400, 300}));
    EXPECT_EQ(KZPanelRectToTopDown({0, 0, 10, 10}, 100), (KZPanelRect{0, 90, 10, 10}));
}

} // namespace
