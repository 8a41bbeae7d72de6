#include "app/ui/KZCompositor.h"
#include "app/ui/KZWindowCrossFade.h"

#include "TestSupport.h"

#include <QApplication>
#include <QPointer>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

namespace {

using namespace std::chrono_literals;

// Only the X11 platform is asked whether a compositing manager runs; every
// other platform answers no without asking, offscreen (the tests' and CI's)
// included, so that nothing ever reaches for an X server that is not there.
TEST(KZCompositor, OnlyTheX11PlatformAsksTheServer)
{
    struct Case {
        const char* platform;
        bool owned;
        int asks;
        bool composites;
    } const cases[] = {
        {"xcb", true, 1, true},      {"xcb", false, 1, false},      {"offscreen", true, 0, false},
        {"wayland", true, 0, false}, {"minimal", true, 0, false},   {"", true, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.platform);
        int asks = 0;
        const bool composites = KZCompositor::composites(QString::fromLatin1(c.platform), [&] {
            ++asks;
            return c.owned;
        });
        EXPECT_EQ(composites, c.composites);
        EXPECT_EQ(asks, c.asks);
    }
    EXPECT_FALSE(KZCompositor::composites(u"xcb", {})) << "nobody to ask: no";

    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("offscreen"));
    int asked = 0;
    KZCompositor::setSelectionOwnerQuery([&] { return ++asked, true; });
    EXPECT_FALSE(KZCompositor::composites());
    KZCompositor::setSelectionOwnerQuery({});
    EXPECT_FALSE(KZCompositor::composites());
    EXPECT_EQ(asked, 0);
}

class KZWindowCrossFadeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        from = std::make_unique<QWidget>();
        to = std::make_unique<QWidget>();
        from->resize(200, 200);
        to->resize(200, 200);
        from->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(from.get(), kztest::kPatienceMs));
    }

    std::unique_ptr<QWidget> from;
    std::unique_ptr<QWidget> to;
};

// The fade ends with the old window hidden and the new one shown whole, and
// only then says it is done; the new window shows see-through at first.
// Without a fade the same end comes at once.
TEST_F(KZWindowCrossFadeTest, EndsWithTheOldWindowHiddenAndTheNewOneWhole)
{
    for (const bool fade : {true, false}) {
        SCOPED_TRACE(fade ? "faded" : "at once");
        from->show();
        to->hide();
        int done = 0;
        bool wholeWhenDone = false;
        KZWindowCrossFade::run(from.get(), to.get(), fade, 0.05, nullptr, [&] {
            ++done;
            wholeWhenDone = !from->isVisible() && to->isVisible() && to->windowOpacity() == 1.0 &&
                            from->windowOpacity() == 1.0;
        });
        EXPECT_TRUE(to->isVisible());
        if (fade) {
            EXPECT_EQ(done, 0);
            EXPECT_TRUE(from->isVisible()) << "both on screen while they fade";
            EXPECT_DOUBLE_EQ(to->windowOpacity(), 0.0);
        }
        ASSERT_TRUE(kztest::processEventsUntil([&] { return done > 0; }, 5s));
        EXPECT_TRUE(wholeWhenDone);
        QTest::qWait(20);
        EXPECT_EQ(done, 1);
    }
}

// A fade cut short (its owner goes, or a window goes) leaves no window
// see-through, and nothing follows it.
TEST_F(KZWindowCrossFadeTest, AFadeCutShortLeavesNoWindowSeeThrough)
{
    auto owner = std::make_unique<QObject>();
    int done = 0;
    KZWindowCrossFade::run(from.get(), to.get(), true, 5.0, owner.get(), [&] { ++done; });
    QTest::qWait(50);
    EXPECT_LT(to->windowOpacity(), 1.0);
    owner.reset();
    EXPECT_DOUBLE_EQ(to->windowOpacity(), 1.0);
    EXPECT_DOUBLE_EQ(from->windowOpacity(), 1.0);

    to->hide();
    KZWindowCrossFade::run(from.get(), to.get(), true, 0.05, nullptr, [&] { ++done; });
    from.reset();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return to->windowOpacity() == 1.0; }, 5s));
    QTest::qWait(20);
    EXPECT_EQ(done, 0);
    EXPECT_TRUE(to->isVisible());
}

} // namespace
