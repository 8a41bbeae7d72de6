#include "app/progress/KZFakeTabView.h"
#include "app/progress/KZProgressRingGeometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

namespace G = KZProgressRingGeometry;

TEST(ProgressRingGeometry, RunningTabsShareTheSpanEqually)
{
    const auto two = G::runningLayout({7, 3});
    ASSERT_EQ(two.size(), 2u);
    const double a = (G::kPi / 3 - 0.02) / 2;
    EXPECT_DOUBLE_EQ(two[0].halfAperture, a);
    EXPECT_DOUBLE_EQ(two[0].thickness, 26);
    EXPECT_DOUBLE_EQ(two[0].angle, G::kPi / 3 - a - 0.02);
    EXPECT_DOUBLE_EQ(two[0].angle - two[1].angle, 2 * a + 0.02);
    EXPECT_EQ(two[0].tag, 7u) << "running tabs keep the order they appeared in";

    const auto five = G::runningLayout({1, 2, 3, 4, 5});
    const double a5 = (G::kPi / 3 - 0.02 * 5 / 2) / 5;
    for (const auto& tab : five)
        EXPECT_DOUBLE_EQ(tab.halfAperture, a5);
    // The lowest tab ends the gap's width above −60°.
    EXPECT_NEAR(five.back().angle - a5, -G::kPi / 3, 1e-12);
}

TEST(ProgressRingGeometry, FinalTabsFollowTheLogarithmOfTheirBytes)
{
    // Tags deliberately out of order: the ring runs in tag order.
    const auto tabs = G::finalLayout({{5, 100000}, {1, 10}, {2, 100}, {3, 1000}, {4, 10000}});
    ASSERT_EQ(tabs.size(), 5u);
    const double available = G::kPi / 3 - 0.02 * 4 / 2;
    const double heights[] = {22, 26.5, 31, 35.5, 40};
    double toValue = G::kPi / 3, previous = 0;
    for (std::size_t i = 0; i < tabs.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(tabs[i].tag, i + 1);
        const double a = available * double(i + 1) / 15.0;
        EXPECT_NEAR(tabs[i].halfAperture, a, 1e-12);
        EXPECT_NEAR(tabs[i].thickness, heights[i], 1e-9);
        toValue = toValue - previous - a - 0.02;
        EXPECT_NEAR(tabs[i].angle, toValue, 1e-12);
        previous = a;
    }
    const auto two = G::finalLayout({{1, 1000}, {2, 1000000}});
    EXPECT_NEAR(two[0].halfAperture * 2, two[1].halfAperture, 1e-12);
    EXPECT_DOUBLE_EQ(two[0].thickness, 22);
    EXPECT_DOUBLE_EQ(two[1].thickness, 40);
}

TEST(ProgressRingGeometry, DegenerateSizesStayFiniteAndVisible)
{
    struct Case {
        const char* name;
        std::vector<std::pair<quint64, quint64>> sizes;
    };
    const Case cases[] = {
        {"an empty type", {{1, 0}, {2, 5000}, {3, 70}}},
        {"single bytes only", {{1, 1}, {2, 1}}},
        {"zero and one", {{1, 0}, {2, 1}}},
        {"all equal", {{1, 4096}, {2, 4096}, {3, 4096}}},
        {"huge", {{1, ~0ULL}, {2, 3}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto tabs = G::finalLayout(c.sizes);
        ASSERT_EQ(tabs.size(), c.sizes.size());
        double lowestEdge = G::kPi / 3, sum = 0;
        for (const auto& tab : tabs) {
            EXPECT_TRUE(std::isfinite(tab.halfAperture) && std::isfinite(tab.thickness) && std::isfinite(tab.angle));
            EXPECT_GE(tab.halfAperture, std::min(G::kMinHalfAperture, 0.1) - 1e-12);
            EXPECT_GE(tab.thickness, G::kMinThickness);
            EXPECT_LE(tab.thickness, G::kMaxThickness);
            EXPECT_LT(tab.angle + tab.halfAperture, lowestEdge) << "tabs never overlap";
            lowestEdge = tab.angle - tab.halfAperture;
            sum += 2 * tab.halfAperture;
        }
        EXPECT_NEAR(sum, 2 * G::kPi / 3 - 0.02 * double(tabs.size() - 1), 1e-9) << "the span is kept";
    }
    const auto equal = G::finalLayout({{1, 4096}, {2, 4096}});
    EXPECT_DOUBLE_EQ(equal[0].thickness, G::kMaxThickness);
    EXPECT_DOUBLE_EQ(equal[0].halfAperture, equal[1].halfAperture);
    EXPECT_TRUE(G::finalLayout({{1, 10}}).empty()) << "one type makes no final ring";
}

TEST(ProgressRingGeometry, OutlineStrokeWindowAndDrag)
{
    const double a = 0.5, h = 26;
    const double r1 = 254.5, r2 = r1 + h;
    EXPECT_DOUBLE_EQ(G::strokeStart(a, h), (2 * a * r1) / (2 * h + 2 * a * (r2 + r1)) + 0.00001);

    const QRectF frame(100, 50, 510, 510);
    EXPECT_EQ(G::enlargedWindowFrame(frame, true), QRectF(100, 50, 560, 520));
    EXPECT_EQ(G::enlargedWindowFrame(G::enlargedWindowFrame(frame, true), false), frame);

    // Screen y grows downwards; the available area starts at 30.
    EXPECT_EQ(G::windowDragStep({100, 50}, {10, -15}, 30), QPointF(110, 35));
    EXPECT_EQ(G::windowDragStep({100, 35}, {10, -15}, 30), QPointF(100, 35)) << "the whole step is dropped";
    EXPECT_EQ(G::windowDragStep({100, 35}, {-5, 40}, 30), QPointF(95, 75));
}

TEST(ProgressRingGeometry, TextAlongTheRingNeverReadsUpsideDown)
{
    // Degrees counter-clockwise, y up: within ±90 reads from left to right.
    EXPECT_NEAR(G::uprightDegrees(G::kPi / 3), -30, 1e-9) << "the top tab reads down the ring";
    EXPECT_NEAR(G::uprightDegrees(-G::kPi / 3), 30, 1e-9) << "the lowest tab reads up the ring, not upside down";
    EXPECT_NEAR(G::uprightDegrees(-0.01), 90 - 0.01 * 180 / G::kPi, 1e-9);
    for (const auto& tab : G::runningLayout({1, 2, 3, 4, 5, 6, 7})) {
        const double degrees = G::uprightDegrees(tab.angle);
        EXPECT_GE(degrees, -90);
        EXPECT_LE(degrees, 90);
        // Still along the tab: a quarter turn from its centre line, either way.
        const double fromRadius = std::remainder(degrees - tab.angle * 180 / G::kPi, 180.0);
        EXPECT_NEAR(std::abs(fromRadius), 90, 1e-9);
    }

    // The text sits mid-thickness between the icon's end and the clockwise end.
    const G::Tab tab{1, 0.2, 30, -0.7};
    const auto place = G::sizeTextPlacement({0, 0}, tab);
    const double mid = G::kInnerRadius + 15;
    EXPECT_NEAR(std::hypot(place.centre.x(), place.centre.y()), mid, 1e-9);
    EXPECT_NEAR(std::atan2(place.centre.y(), place.centre.x()), -0.7 - 0.05, 1e-9);
    EXPECT_NEAR(place.length, 0.3 * mid - 6, 1e-9);
    EXPECT_EQ(G::sizeTextPlacement({0, 0}, {1, 0.04, 26, 0}).length, 0) << "no negative room on a sliver";
}

TEST(ProgressRingGeometry, SizeTextShrinksToFitOrStaysOut)
{
    const auto width = [](double points) { return points * 6; }; // "900 KB" at 6 units a point
    EXPECT_EQ(G::fittingPointSize(11, 7, 100, width), 11);
    EXPECT_EQ(G::fittingPointSize(11, 7, 60, width), 10);
    EXPECT_EQ(G::fittingPointSize(11, 7, 42, width), 7);
    EXPECT_EQ(G::fittingPointSize(11, 7, 41.9, width), 0) << "never a cut size";
    EXPECT_EQ(G::fittingPointSize(11, 7, 0, width), 0);
}

TEST(ProgressRingGeometry, AButtonBesideAnotherOnTheRim)
{
    const QPointF centre(250, 250), close(100, 100);
    const QPointF menu = G::besideOnRim(centre, close, 16, 22, 20);
    const double radius = std::hypot(150.0, 150.0);
    EXPECT_NEAR(std::hypot(menu.x() - 250, menu.y() - 250), radius, 1e-9) << "on the same circle";
    EXPECT_NEAR(std::hypot(menu.x() - close.x(), menu.y() - close.y()), 8 + 11 + 20, 1e-9) << "the gap between the discs";
    EXPECT_LT(menu.y(), close.y()) << "further towards the top";
    EXPECT_GT(menu.x(), close.x());
}

// ---- Pointer over the tabs --------------------------------------------------------

struct RecordingHost : KZFakeTabView::Host {
    std::vector<std::string> calls;
    void bringTabToFront(int t) override { calls.push_back("front" + std::to_string(t)); }
    void showTabInfo(int t) override { calls.push_back("info" + std::to_string(t)); }
    void hideTabInfoSoon() override { calls.push_back("remotion"); }
    void setTabPressed(int t, bool on) override { calls.push_back((on ? "press" : "unpress") + std::to_string(t)); }
    void openTab(int t) override { calls.push_back("open" + std::to_string(t)); }
    void beep() override { calls.push_back("beep"); }
    void startWindowDrag(QPointF) override { calls.push_back("dragStart"); }
    void dragWindowTo(QPointF) override { calls.push_back("drag"); }
};

TEST(FakeTabView, PointerScripts)
{
    enum Kind { Move, Leave, Press, Release };
    struct Step {
        Kind kind;
        int tab;
        bool searching = false;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"hover asks once per entry",
         {{Move, 0}, {Move, 0}, {Move, 0}, {Move, -1}, {Move, 0}},
         {"front0", "info0", "remotion", "front0", "info0"}},
        {"moving between tabs", {{Move, 0}, {Move, 1}, {Leave, -1}}, {"front0", "info0", "remotion", "front1", "info1", "remotion"}},
        {"click after the search opens", {{Move, 1}, {Press, 1}, {Release, 1}}, {"front1", "info1", "press1", "unpress1", "open1"}},
        {"click during the search beeps",
         {{Move, 1}, {Press, 1, true}, {Release, 1, true}},
         {"front1", "info1", "beep"}},
        {"drag out and back",
         {{Press, 2}, {Move, -1}, {Move, 2}, {Move, 0}, {Release, 0}},
         {"press2", "unpress2", "press2", "unpress2", "unpress2", "front0", "info0"}},
        {"release outside opens nothing", {{Press, 2}, {Move, -1}, {Release, -1}}, {"press2", "unpress2", "unpress2"}},
        {"press off the arc drags the window",
         {{Press, -1}, {Move, 1}, {Move, 1}, {Release, 1}},
         {"dragStart", "drag", "drag", "front1", "info1"}},
        {"drag during the search still drags", {{Press, -1, true}, {Move, -1}, {Release, -1, true}}, {"dragStart", "drag"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingHost host;
        KZFakeTabView fakeTabView(host);
        for (const Step& s : c.steps) {
            switch (s.kind) {
            case Move: fakeTabView.mouseMove(s.tab, {}); break;
            case Leave: fakeTabView.mouseLeave(); break;
            case Press: fakeTabView.mousePress(s.tab, {}, s.searching); break;
            case Release: fakeTabView.mouseRelease(s.tab, s.searching); break;
            }
        }
        EXPECT_EQ(host.calls, c.expected);
        EXPECT_EQ(fakeTabView.pressedTab(), -1);
        EXPECT_FALSE(fakeTabView.draggingWindow());
    }
}

} // namespace
