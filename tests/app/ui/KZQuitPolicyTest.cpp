#include "app/ui/KZQuitPolicy.h"

#include "QuitRequests.h"
#include "TestSupport.h"
#include "services/ui/KZMessageBoxPresenter.h"

#include <QApplication>
#include <QTest>
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

namespace {

KZAlertPresenter::Alert alert(const char* text)
{
    KZAlertPresenter::Alert shown;
    shown.messageText = QString::fromLatin1(text);
    return shown;
}

} // namespace

// While a main window is on its way (hidden for a flip or a zoom, or standing
// in the opening window's place) nothing else the user closes ends the
// program, whatever is on screen meanwhile: an alert answered with Return, or
// another window closed. Once the main window has arrived the program goes on.
TEST_F(KZQuitPolicyTest, NothingClosedWhileAMainWindowIsOnItsWayEndsTheProgram)
{
    struct Case {
        const char* onScreen;
        Qt::WindowFlags flags; // none: nothing
        bool answerAnAlert;
    } const cases[] = {
        {"nothing (the screen settling under an overlay)", {}, true},
        {"a transition overlay", Qt::Window | Qt::FramelessWindowHint | Qt::WindowTransparentForInput, true},
        {"the opening window", Qt::Tool | Qt::FramelessWindowHint, true},
        {"the opening window, Preferences closed", Qt::Tool | Qt::FramelessWindowHint, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.onScreen);
        kztest::QuitRequests quits;
        kztest::AlertAnswerer answerer;
        kztest::runInsideTheEventLoop([&] {
            QWidget search;
            QWidget next;
            QWidget preferences;
            search.show();
            if (!c.answerAnAlert)
                preferences.show();
            auto transit = std::make_unique<KZQuitPolicy::MainWindowInTransit>();
            search.hide();
            std::unique_ptr<QWidget> standIn;
            if (c.flags != Qt::WindowFlags()) {
                standIn = std::make_unique<QWidget>(nullptr, c.flags);
                standIn->show();
            }
            if (c.answerAnAlert) {
                KZMessageBoxPresenter().runModal(alert("The music library was not read."));
                EXPECT_EQ(answerer.said.size(), 1);
            } else {
                QTest::mouseClick(&preferences, Qt::LeftButton);
                preferences.close();
            }
            QCoreApplication::processEvents();
            EXPECT_EQ(quits.count, 0) << "still on its way";
            next.show();
            if (standIn)
                standIn->hide();
            transit.reset();
            QTest::qWait(50);
            EXPECT_EQ(quits.count, 0);
        });
    }
}

// A main window that never arrives leaves no window to keep the program
// running: the close that waited for it ends the program then.
TEST_F(KZQuitPolicyTest, AMainWindowThatNeverArrivesEndsTheProgramOnceItsWayEnds)
{
    kztest::QuitRequests quits;
    kztest::AlertAnswerer answerer;
    kztest::runInsideTheEventLoop([&] {
        QWidget search;
        search.show();
        auto transit = std::make_unique<KZQuitPolicy::MainWindowInTransit>();
        search.hide();
        KZMessageBoxPresenter().runModal(alert("An alert"));
        QCoreApplication::processEvents();
        EXPECT_EQ(quits.count, 0);
        transit.reset();
        QTest::qWait(50);
        EXPECT_EQ(quits.count, 1);
    });
}
