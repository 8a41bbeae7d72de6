#include "result/panes/KZTabColours.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using namespace KZTabColours;

void expectUnit(const Rgba& c)
{
    for (const double v : {c.r, c.g, c.b, c.a}) {
        EXPECT_GE(v, 0.0);
        EXPECT_LE(v, 1.0);
    }
}

TEST(TabColours, DerivationsOfTheLabelColours)
{
    // Off (0.5, 0.25, 0.25): brightness 0.5 lowered to 0.3, hue and
    // saturation kept.
    const Rgba off{0.5, 0.25, 0.25, 0.8};
    const Rgba fill = mainOff(off);
    EXPECT_NEAR(fill.r, 0.3, 2e-3);
    EXPECT_NEAR(fill.g, 0.15, 2e-3);
    EXPECT_NEAR(fill.a, 0.8, 1e-9) << "alpha kept";
    const Rgba stroke = strokeOff(off);
    EXPECT_NEAR(stroke.r, 0.2, 2e-3);
    EXPECT_NEAR(stroke.g, 0.05, 2e-3);
    EXPECT_EQ(stroke.a, 1.0) << "strokes are opaque";

    const Rgba on{0.6, 0.7, 0.8, 0.5};
    EXPECT_EQ(mainOn(on), on);
    const Rgba onStroke = strokeOn(on);
    EXPECT_NEAR(onStroke.r, 0.5, 1e-9);
    EXPECT_NEAR(onStroke.b, 0.7, 1e-9);
    EXPECT_EQ(onStroke.a, 1.0);
    // (0.5, 0.6, 0.7) a fifth darker: brightness 0.5, then a tenth less.
    const Rgba cross = xLayerStrokeOn(on);
    EXPECT_NEAR(cross.b, 0.4, 3e-3);
    EXPECT_EQ(cross.a, 1.0);

    const Rgba pressed = pressedFill({0.6, 0.5, 0.4, 0.3});
    EXPECT_NEAR(pressed.r, 0.45, 1e-9);
    EXPECT_NEAR(pressed.b, 0.25, 1e-9);
    EXPECT_EQ(pressed.a, 1.0);

    EXPECT_NEAR(textWhite({1, 1, 1, 1}), 0.15, 1e-9) << "dark text on white";
    EXPECT_NEAR(textWhite({0, 0, 0, 1}), 1.0, 1e-9) << "white text on black";
}

TEST(TabColours, EveryComponentIsClamped)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* name;
        Rgba input;
    };
    const Case cases[] = {
        {"black", {0, 0, 0, 1}},
        {"nearly black", {0.05, 0.02, 0.09, 1}},
        {"beyond one", {1.7, 2.0, 1.2, 3.0}},
        {"negative", {-0.5, -1, -0.2, -1}},
        {"NaN", {nan, nan, nan, nan}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const Rgba& out : {mainOn(c.input), mainOff(c.input), strokeOn(c.input), strokeOff(c.input),
                                xLayerStrokeOn(c.input), pressedFill(c.input), offColorComponent(c.input),
                                onStrokeColorComponent(c.input)})
            expectUnit(out);
        const double w = textWhite(c.input);
        EXPECT_TRUE(w >= 0.0 && w <= 1.0);
        EXPECT_TRUE(toColor(c.input).isValid());
    }
    EXPECT_EQ(strokeOn({0.05, 0.05, 0.05, 1}).r, 0.0);
    EXPECT_EQ(pressedFill({0.1, 0.1, 0.1, 1}).g, 0.0);
}

} // namespace
