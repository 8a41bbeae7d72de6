#include "app/ui/KZQuitPolicy.h"

#include "TestSupport.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

namespace {

class KZQuitPolicyTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { KZQuitPolicy::install(*qApp); }
    void TearDown() override { QApplication::closeAllWindows(); }
};

TEST_F(KZQuitPolicyTest, OnlyRealWindowsKeepTheProgramRunning)
{
    struct Case {
        const char* what;
        Qt::WindowFlags flags;
        bool markedByHand;
        bool keepsAlive;
    } const cases[] = {
        {"window", Qt::Window, false, true},
        {"frameless window", Qt::Window | Qt::FramelessWindowHint, false, true},
        {"popup", Qt::Popup, false, false},
        {"tool window", Qt::Tool, false, false},
        {"tip", Qt::ToolTip, false, false},
        {"splash", Qt::SplashScreen, false, false},
        {"input-transparent overlay", Qt::Window | Qt::FramelessWindowHint | Qt::WindowTransparentForInput, false,
         false},
        {"overlay marked by its maker", Qt::Window | Qt::FramelessWindowHint, true, false},
    };
    for (const Case& c : cases) {
        QWidget window(nullptr, c.flags);
        if (c.markedByHand)
            KZQuitPolicy::markAsOverlay(&window);
        window.show();
        EXPECT_EQ(KZQuitPolicy::keepsProgramAlive(&window), c.keepsAlive) << c.what;
        window.hide();
    }
}

TEST_F(KZQuitPolicyTest, ClosingTheLastRealWindowQuitsWhileOverlaysAreUp)
{
    auto real = std::make_unique<QWidget>();
    auto tool = std::make_unique<QWidget>(nullptr, Qt::Tool | Qt::FramelessWindowHint);
    auto overlay = std::make_unique<QWidget>(nullptr, Qt::Window | Qt::FramelessWindowHint);
    KZQuitPolicy::markAsOverlay(overlay.get());
    real->show();
    tool->show();
    overlay->show();

    bool timedOut = false;
    QTimer::singleShot(0, real.get(), [&] { real->close(); });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] {
        timedOut = true;
        QCoreApplication::exit(1);
    });
    guard.start(kztest::kPatienceMs);
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_FALSE(timedOut);
}

} // namespace
