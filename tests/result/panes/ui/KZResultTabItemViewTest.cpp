#include "TabStripTestSupport.h"
#include "TestSupport.h"

#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "result/panes/ui/KZResultBarItemView.h"
#include "result/panes/ui/KZResultTabItemView.h"
#include "services/ui/KZAnimationTiming.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZDefaultsRegistry.h"
#include "settings/KZNotificationNames.h"

#include <QFontMetricsF>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using tabstest::FakeDelegate;
using tabstest::Frame;
using tabstest::tabInfo;

void settle(int ms = 60)
{
    kztest::processEventsUntil([] { return false; }, std::chrono::milliseconds(ms));
}

void paint(const KZFileTypeLabelRef& label, double on, double off)
{
    label->setRedOnColor(on);
    label->setGreenOnColor(on * 0.5);
    label->setBlueOnColor(0.2);
    label->setOnAlphaValue(1.0);
    label->setRedOffColor(off);
    label->setGreenOffColor(off);
    label->setBlueOffColor(off * 0.5);
    label->setOffAlphaValue(1.0);
}

bool near(QColor a, QColor b, int tolerance = 3)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
        && std::abs(a.blue() - b.blue()) <= tolerance;
}

class ResultTabLook : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::UserDefaults::setStandard(nullptr);
        KZDefaultsRegistry::setupDefaultsPreferences();
        KZAnimationTiming::setScale(0.01);
    }
    void TearDown() override
    {
        frame.reset();
        KZAnimationTiming::setScale(1.0);
        platform::UserDefaults::setStandard(nullptr);
    }

    KZResultTabsView* build(const QVariantMap& info)
    {
        frame = std::make_unique<Frame>(&delegate);
        frame->strip->createTabsWithTabInfo(info);
        for (const auto& [tag, label] : frame->strip->fileTypes())
            paint(label, 0.9, 0.6);
        for (const auto& [tag, label] : frame->strip->fileTypes()) {
            frame->strip->tab(tag)->updateTabLayer();
            frame->strip->horizontalBar(tag)->updateTabLayer();
        }
        frame->window->show();
        settle();
        return frame->strip;
    }
    QColor pixel(QWidget* child, QPoint at)
    {
        const QImage shot = frame->window->grab().toImage();
        return shot.pixelColor(child->mapTo(frame->window.get(), at));
    }

    FakeDelegate delegate;
    std::unique_ptr<Frame> frame;
};

TEST_F(ResultTabLook, FillsOnScreen)
{
    KZResultTabsView* strip = build(tabInfo({3, 5}));
    strip->selectTabWithTag(3);
    settle(100);
    KZResultTabItemView* on = strip->tab(3);
    KZResultTabItemView* off = strip->tab(5);
    // Left of the title, right of the cross, away from the outline.
    const QPoint inside(22, 6);
    EXPECT_TRUE(near(pixel(on, inside), on->newMainOnColor())) << pixel(on, inside).name().toStdString();
    EXPECT_TRUE(near(pixel(off, inside), off->newMainOffColor())) << pixel(off, inside).name().toStdString();
    EXPECT_TRUE(near(pixel(on, QPoint(0, 14)), on->newStrokeOnColor(), 40)) << "the outline's left side";

    KZResultBarItemView* hBar = strip->horizontalBar(3);
    EXPECT_TRUE(near(pixel(hBar, QPoint(hBar->width() / 2, 2)), hBar->newMainOnColor()));
    KZResultBarItemView* vBar = strip->verticalBar(3);
    EXPECT_TRUE(near(pixel(vBar, QPoint(3, vBar->height() / 2)), vBar->newMainOnColor(), 40));
    // The unselected tab's bars are not drawn: the content's own colour.
    EXPECT_FALSE(strip->horizontalBar(5)->isVisible());

    // The pressed look of an unselected tab, taken away on a release outside.
    QTest::mousePress(off, Qt::LeftButton, {}, QPoint(70, 14));
    const QColor pressed = QColor::fromRgbF(0.45f, 0.45f, 0.15f);
    EXPECT_TRUE(near(pixel(off, inside), pressed)) << pixel(off, inside).name().toStdString();
    QTest::mouseMove(off, QPoint(70, 60));
    QTest::mouseMove(off, QPoint(70, 80));
    EXPECT_TRUE(near(pixel(off, inside), off->newMainOffColor())) << "dragged out";
    QTest::mouseRelease(off, Qt::LeftButton, {}, QPoint(70, 80));
    EXPECT_FALSE(off->isSpinning());
}

TEST_F(ResultTabLook, BarsJoinTheSelectedTab)
{
    KZResultTabsView* strip = build(tabInfo({3, 5}));
    strip->selectTabWithTag(5);
    settle(100);
    KZResultBarItemView* bar = strip->horizontalBar(5);
    const auto [x, w] = bar->tabSpan();
    EXPECT_EQ(x, strip->tab(5)->x());
    EXPECT_EQ(w, strip->tab(5)->width());
    // The top stroke runs from the tab's left side to the left end; it leaves
    // the stretch under the tab open.
    bool underTab = false;
    bool leftOfTab = false;
    for (const QLineF& line : bar->strokeSegments()) {
        if (line.y1() == 0 && line.y2() == 0) {
            const double lo = std::min(line.x1(), line.x2()), hi = std::max(line.x1(), line.x2());
            underTab |= lo < x + w / 2 && hi > x + w / 2;
            leftOfTab |= lo <= 1 && hi >= x - 1;
        }
    }
    EXPECT_FALSE(underTab);
    EXPECT_TRUE(leftOfTab);

    // Under "disable_lables" the bars switch at once, else they fade.
    platform::UserDefaults::standard().setValue(KZDefaultsKey::disable_lables, true);
    strip->selectTabWithTag(3);
    EXPECT_TRUE(strip->horizontalBar(3)->isVisible());
    EXPECT_EQ(strip->horizontalBar(3)->containerOpacity(), 1.0);
    EXPECT_FALSE(strip->horizontalBar(5)->isVisible());
    platform::UserDefaults::standard().setValue(KZDefaultsKey::disable_lables, false);
    strip->selectTabWithTag(5);
    EXPECT_LT(strip->horizontalBar(5)->containerOpacity(), 1.0) << "fading in";
    EXPECT_TRUE(strip->horizontalBar(3)->isVisible()) << "fading out";
    settle(100);
    EXPECT_EQ(strip->horizontalBar(5)->containerOpacity(), 1.0);
    EXPECT_FALSE(strip->horizontalBar(3)->isVisible());
}

TEST_F(ResultTabLook, CrossHoverAndTooltip)
{
    KZResultTabsView* strip = build(tabInfo({3, 5}));
    KZResultTabItemView* tab = strip->tab(3);
    const int w = tab->width(), h = tab->height();
    EXPECT_EQ(tab->crossRect(), QRectF(6, h - (h / 2.0 - 5) - 9, 9, 9));
    EXPECT_EQ(tab->spinnerRect().right(), w - 4);
    EXPECT_EQ(tab->titleWidth(), w - 39);

    QEnterEvent enter(QPointF(20, 10), QPointF(20, 10), QPointF(20, 10));
    QCoreApplication::sendEvent(tab, &enter);
    EXPECT_TRUE(tab->crossVisible());
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(tab, &leave);
    EXPECT_FALSE(tab->crossVisible());
    QCoreApplication::sendEvent(strip->tab(0), &enter);
    EXPECT_FALSE(strip->tab(0)->crossVisible()) << "the first tab has no cross";
    delegate.removing = true;
    QCoreApplication::sendEvent(tab, &enter);
    EXPECT_FALSE(tab->crossVisible()) << "no cross while removing";
    delegate.removing = false;

    // A name exactly as wide as the title gets the whole name as tooltip.
    const auto label = strip->fileTypes().at(3);
    QFont font = QApplication::font();
    font.setPixelSize(13);
    const QFontMetricsF metrics(font);
    label->setName(QStringLiteral("Photographs of holidays and birthdays and weddings"));
    tab->updateTabLayer();
    EXPECT_EQ(tab->toolTip(), label->name());
    label->setName(QStringLiteral("Pics"));
    tab->updateTabLayer();
    EXPECT_TRUE(tab->toolTip().isEmpty());
    const double fits = metrics.horizontalAdvance(QStringLiteral("Pics"));
    tab->setFixedWidth(int(std::ceil(fits)) + 39);
    settle();
    EXPECT_EQ(tab->toolTip().isEmpty(), fits < tab->titleWidth());
}

} // namespace
