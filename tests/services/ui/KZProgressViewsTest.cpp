#include "services/ui/KZAnimationTiming.h"
#include "services/ui/KZLinearProgressIndicatorView.h"
#include "services/ui/KZProgressImageView.h"

#include "support/TestSupport.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cmath>

namespace {

class ProgressViewsTest : public ::testing::Test {
protected:
    void SetUp() override { KZAnimationTiming::setScale(0.01); }
    void TearDown() override { KZAnimationTiming::setScale(1.0); }

    static QImage snapshot(QWidget& w)
    {
        return w.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    }
    // The pixel at `angle` degrees clockwise from 12 o'clock on the ring.
    static QRgb ringPixel(const QImage& image, double angle)
    {
        const double radians = angle * M_PI / 180;
        const int x = int(std::lround(158 + 153 * std::sin(radians)));
        const int y = int(std::lround(158 - 153 * std::cos(radians)));
        return image.pixel(x, y);
    }
    // Waits out a fade so that what is drawn is drawn fully.
    static void settle() { kztest::processEventsUntil([] { return false; }, std::chrono::milliseconds(60)); }
};

TEST_F(ProgressViewsTest, RingGrowsClockwiseFromTheTop)
{
    KZProgressImageView view;
    view.setIsInderminate(false, true);
    ASSERT_TRUE(view.showsRing());

    struct Step { double percent; std::vector<double> drawn, empty; double expectedEnd; };
    const Step steps[] = {
        {25, {3, 45, 87}, {93, 135, 180, 270, 357}, 360},
        {100, {3, 90, 180, 270, 357}, {}, 90},
        {150, {3, 90, 180, 270, 357}, {}, 90}, // above 100: the full ring stays
        {0, {3, 90, 180, 270, 357}, {}, 90},   // nothing new to draw: it stays too
    };
    for (const Step& step : steps) {
        view.setPercentageValue(step.percent);
        view.updateDeterminateProgress();
        settle();
        ASSERT_TRUE(view.ringArc()) << step.percent;
        EXPECT_DOUBLE_EQ(view.ringArc()->endDegrees, step.expectedEnd) << step.percent;
        const QImage image = snapshot(view);
        for (double a : step.drawn)
            EXPECT_GT(qAlpha(ringPixel(image, a)), 200) << step.percent << "% at " << a;
        for (double a : step.empty)
            EXPECT_EQ(qAlpha(ringPixel(image, a)), 0) << step.percent << "% at " << a;
    }
    view.stopAnimation();
    EXPECT_FALSE(view.showsRing());
    EXPECT_EQ(qAlpha(ringPixel(snapshot(view), 90)), 0);
}

TEST_F(ProgressViewsTest, SpinnerAndRingTakeTurns)
{
    KZProgressImageView view;
    EXPECT_TRUE(view.isInderminate());
    view.startDeterminateAnimation(); // not in determinate mode: nothing
    EXPECT_FALSE(view.showsRing());

    view.startIndeterminateAnimation();
    EXPECT_TRUE(view.isSpinning());
    kztest::processEventsUntil([&] { return view.spinnerAngle() > 0; });
    const qreal turned = view.spinnerAngle();
    EXPECT_GT(turned, 0);
    view.startIndeterminateAnimation(); // already turning: not restarted from 0
    EXPECT_GE(view.spinnerAngle(), turned);
    settle();
    EXPECT_GT(qAlpha(snapshot(view).pixel(158, 158 - 153)) + qAlpha(snapshot(view).pixel(158 + 153, 158)), 0);

    view.setIsInderminate(false, true);
    EXPECT_FALSE(view.isSpinning());
    EXPECT_TRUE(view.showsRing());
    view.startIndeterminateAnimation(); // determinate now: nothing
    EXPECT_FALSE(view.isSpinning());

    view.setIsInderminate(true);
    view.startIndeterminateAnimation();
    EXPECT_TRUE(view.isSpinning());
    view.stopAnimation(); // indeterminate: the ring is left alone
    EXPECT_FALSE(view.isSpinning());
    EXPECT_TRUE(view.showsRing());
}

TEST_F(ProgressViewsTest, SpinningBackdropIsAThinRing)
{
    KZProgressImageView view;
    view.drawSpinningBackground();
    const QImage image = snapshot(view);
    const QRgb ring = image.pixel(4, 158);
    EXPECT_EQ(qAlpha(ring), 255);
    EXPECT_NEAR(qRed(ring), 0.052 * 255, 2);
    EXPECT_NEAR(qGreen(ring), 0.335 * 255, 2);
    EXPECT_EQ(qAlpha(image.pixel(15, 158)), 0);  // inside the ring
    EXPECT_EQ(qAlpha(image.pixel(158, 158)), 0);
    EXPECT_EQ(qAlpha(image.pixel(2, 2)), 0);     // outside the circle
}

TEST_F(ProgressViewsTest, LinearBarWidths)
{
    KZLinearProgressIndicatorView view;
    view.resize(200, 20);
    view.startDeterminateAnimation();
    EXPECT_EQ(view.mode(), KZLinearProgressIndicatorView::Mode::Determinate);
    const std::pair<double, double> rows[] = {{0, 0}, {100, 198}, {50, 99}, {250, 198}, {-1, 0}};
    for (const auto& [percent, width] : rows) {
        view.updateProgress(percent);
        EXPECT_DOUBLE_EQ(view.barWidth(), width) << percent;
    }
    // At half, the light bar covers the left half only.
    view.updateProgress(50);
    const QImage image = snapshot(view);
    const QRgb bar = image.pixel(50, 10);
    const QRgb back = image.pixel(150, 10);
    EXPECT_GT(qRed(bar), qRed(back) + 30);
    EXPECT_GT(qAlpha(back), 200);
    view.stopDeterminateAnimation();
    EXPECT_EQ(view.mode(), KZLinearProgressIndicatorView::Mode::Idle);
    EXPECT_EQ(qAlpha(snapshot(view).pixel(150, 10)), 0);
}

TEST_F(ProgressViewsTest, LinearStripesRunAndStop)
{
    KZLinearProgressIndicatorView view;
    view.resize(200, 20);
    EXPECT_DOUBLE_EQ(view.markerHeight(), 18);

    // Stopping a view that never ran only clears the flag.
    view.setIsInderminate(true);
    view.stopIndeterminateAnimation();
    EXPECT_FALSE(view.isInderminate());
    EXPECT_EQ(view.mode(), KZLinearProgressIndicatorView::Mode::Idle);

    view.startIndeterminateAnimation();
    EXPECT_TRUE(view.isInderminate());
    EXPECT_TRUE(view.isClockRunning());
    const qint16 first = view.offset();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return view.offset() != first; }));

    // Stripe 1 crosses x 1.4…9.4 at mid height when the offset is −16;
    // between it and stripe 2 the light gradient shows.
    while (view.offset() != -16)
        view.incrementOffset();
    view.stopIndeterminateAnimation();
    view.startIndeterminateAnimation();
    while (view.offset() != -16)
        view.incrementOffset();
    const QImage image = snapshot(view);
    EXPECT_LT(qRed(image.pixel(5, 10)), qRed(image.pixel(13, 10)) - 20);

    // A determinate start replaces the stripes; the clock stops at its next tick.
    view.startDeterminateAnimation();
    EXPECT_EQ(view.mode(), KZLinearProgressIndicatorView::Mode::Determinate);
    EXPECT_FALSE(view.isInderminate());
    EXPECT_TRUE(kztest::processEventsUntil([&] { return !view.isClockRunning(); }));
}

TEST_F(ProgressViewsTest, LinearOffsetsFollowTheDirection)
{
    KZLinearProgressIndicatorView view;
    std::vector<int> seen;
    for (int i = 0; i < 18; ++i) {
        view.incrementOffset();
        seen.push_back(view.offset());
    }
    EXPECT_EQ(seen.front(), -16); // from 0 the cycle restarts
    EXPECT_EQ(seen[16], 0);
    EXPECT_EQ(seen[17], -16);
    view.setAnimateDirection(-1);
    view.incrementOffset();
    EXPECT_EQ(view.offset(), 16);
    view.incrementOffset();
    EXPECT_EQ(view.offset(), 15);
}

} // namespace
