#include "app/ui/KZStateDriver.h"

#include "TestSupport.h"

#include <QApplication>
#include <QCloseEvent>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

// A window that, like the result window, asks before it closes and here
// always refuses.
class AskingWindow : public QWidget {
public:
    int asked = 0;

protected:
    void closeEvent(QCloseEvent* event) override
    {
        ++asked;
        event->ignore();
    }
};

TEST(KZStateDriverTest, QuitEndsTheRunWithoutAskingAWindowThatWouldAsk)
{
    AskingWindow window;
    window.show();
    KZStateDriver driver(QStringList{QStringLiteral("wait 10"), QStringLiteral("quit")}, nullptr);
    driver.start();
    // Had the run waited on the question, the watchdog would end it.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(7); });
    watchdog.start(kztest::kPatienceMs);
    const int status = QApplication::exec();
    watchdog.stop();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(window.asked, 0);
    EXPECT_TRUE(window.isVisible());
}

// A brief window may come and go before the script looks: waiting for it
// or for the window that follows it goes on as soon as either shows.
TEST(KZStateDriverTest, WaitForGoesOnWhenAnyOfItsNamesShows)
{
    QWidget after;
    after.setObjectName(QStringLiteral("foundListView"));
    after.show();
    KZStateDriver driver(QStringList{QStringLiteral("waitfor openingWindow foundListView"), QStringLiteral("quit")},
                         nullptr);
    driver.start();
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(7); });
    watchdog.start(kztest::kPatienceMs);
    const int status = QApplication::exec();
    watchdog.stop();
    EXPECT_EQ(status, 0);
}

} // namespace
