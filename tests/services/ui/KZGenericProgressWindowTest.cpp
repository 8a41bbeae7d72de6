#include "services/ui/KZGenericProgressWindowCntrl.h"
#include "services/ui/KZLinearProgressIndicatorView.h"
#include "services/ui/KZWindowBackgrounds.h"

#include "platform/UserDefaults.h"
#include "support/TestSupport.h"

#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

TEST(KZGenericProgressWindow, PartsAreInPlace)
{
    KZGenericProgressWindowCntrl controller;
    ASSERT_NE(controller.window(), nullptr);
    for (QWidget* part : std::initializer_list<QWidget*>{controller.infoFld(), controller.spinning(),
                                                         controller.countFld(), controller.countTxt(),
                                                         controller.stopBtn()}) {
        ASSERT_NE(part, nullptr);
        EXPECT_EQ(part->window(), controller.window());
    }
    EXPECT_EQ(controller.touchStopBtn(), nullptr);
    EXPECT_EQ(controller.countStr(), controller.countFld()->text());
    EXPECT_EQ(controller.countStr().arg(3).arg(10), QStringLiteral("3 of 10"));
    EXPECT_FALSE(controller.wasStopped());
}

TEST(KZGenericProgressWindow, StopIsAFlagThatWorkersSee)
{
    KZGenericProgressWindowCntrl controller;
    controller.window()->show();

    // A worker polls the flag as the owners' workers do.
    std::atomic<bool> workerSawStop{false};
    std::thread worker([&] {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!controller.wasStopped() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        workerSawStop = controller.wasStopped();
    });
    QTest::mouseClick(controller.stopBtn(), Qt::LeftButton);
    worker.join();
    EXPECT_TRUE(workerSawStop);

    // A second press changes nothing, and the window stays for its owner to close.
    QTest::mouseClick(controller.stopBtn(), Qt::LeftButton);
    EXPECT_TRUE(controller.wasStopped());
    EXPECT_TRUE(controller.window()->isVisible());
}

TEST(KZGenericProgressWindow, EscapeStopsInsteadOfHiding)
{
    KZGenericProgressWindowCntrl controller;
    controller.window()->show();
    QTest::keyClick(controller.window(), Qt::Key_Escape);
    EXPECT_TRUE(controller.wasStopped());
    EXPECT_TRUE(controller.window()->isVisible());
    // The owner closes it from code when its work has ended.
    controller.window()->close();
    EXPECT_FALSE(controller.window()->isVisible());

    KZGenericProgressWindowCntrl other;
    other.window()->show();
    QTest::keyClick(other.window(), Qt::Key_Return); // never stops by accident
    EXPECT_FALSE(other.wasStopped());
}

TEST(KZWindowBackgrounds, RoundBackdrops)
{
    kztest::TempDir dir;
    platform::UserDefaults::setStandard(std::make_unique<platform::UserDefaults>(dir / "defaults.plist"));

    QImage disc(512, 512, QImage::Format_ARGB32);
    disc.fill(Qt::transparent);
    {
        QPainter painter(&disc);
        KZDrawRoundGradientBackground(painter);
    }
    const QColor centre = QColor::fromRgba(disc.pixel(254, 254));
    EXPECT_NEAR(centre.alphaF(), 0.2, 0.01);               // the pale centre
    EXPECT_GT(QColor::fromRgba(disc.pixel(254, 10)).alphaF(), centre.alphaF() + 0.1); // darker towards the rim
    const QColor edge = QColor::fromRgba(disc.pixel(254, 4));
    EXPECT_EQ(edge.alpha(), 255);
    EXPECT_NEAR(edge.blueF(), 0.735, 0.01);
    EXPECT_EQ(qAlpha(disc.pixel(2, 2)), 0);

    struct Row { bool active; bool opaque; int alpha; };
    const Row rows[] = {{true, false, 230}, {false, false, 230}, {true, true, 255}}; // 0.9 and 1.0 of 255
    int activeShadow = 0;
    for (const Row& r : rows) {
        platform::UserDefaults::standard().setValue(QStringLiteral("reduce_transparence"), r.opaque);
        QImage window(560, 560, QImage::Format_ARGB32);
        window.fill(Qt::red); // cleared first
        {
            QPainter painter(&window);
            KZDrawWindowBackground(painter, r.active, QRectF(0, 0, 560, 560), QRectF(10, 10, 509, 509));
        }
        EXPECT_EQ(qAlpha(window.pixel(1, 1)), 0);
        // The shadow under a translucent fill shows through a little.
        EXPECT_GE(qAlpha(window.pixel(264, 264)), r.alpha - 1);
        EXPECT_NEAR(qRed(window.pixel(264, 264)) * 255 / std::max(1, qAlpha(window.pixel(264, 264))), 82, 5);
        // The shadow falls below the circle.
        const int below = qAlpha(window.pixel(270, 523));
        EXPECT_GT(below, 0);
        if (r.active && !r.opaque) {
            activeShadow = below;
        } else if (!r.active) {
            EXPECT_LT(below, activeShadow);
        }
    }
    platform::UserDefaults::setStandard(nullptr);
}

} // namespace
