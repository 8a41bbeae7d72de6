#include "app/progress/ui/KZSearchProgress.h"
#include "app/progress/ui/KZSearchProgressWindow.h"
#include "app/search/ui/KZSearchView.h"
#include "preferences/ui/KZAboutCntrl.h"
#include "preferences/ui/KZAboutWindow.h"
#include "ShortAnimations.h"
#include "TestSupport.h"

#include "services/KZSearchInProgress.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

namespace {

// The pointer as a person moves it: every event carries where it is on the
// screen, and goes to the widget the press went to, as Qt's grab does.
class Pointer {
public:
    explicit Pointer(QWidget* window) : window_(window) {}

    // A point of the window's background that no control covers.
    bool pressOnBackground()
    {
        for (int y = 20; y < window_->height() - 20; y += 7)
            for (int x = 20; x < window_->width() - 20; x += 7)
                if (!window_->childAt(x, y)) {
                    at_ = window_->mapToGlobal(QPoint(x, y));
                    send(QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton);
                    return true;
                }
        return false;
    }
    void moveBy(QPoint step, bool held = true)
    {
        at_ += step;
        send(QEvent::MouseMove, Qt::NoButton, held ? Qt::LeftButton : Qt::NoButton);
    }
    void release() { send(QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton); }

private:
    void send(QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons buttons)
    {
        const QPointF local = window_->mapFromGlobal(QPointF(at_));
        QMouseEvent event(type, local, QPointF(at_), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(window_, &event);
    }

    QWidget* window_;
    QPoint at_;
};

// A click on the background, however short, leaves the window where it is
// and nothing follows the pointer afterwards; a drag moves the window by
// the pointer's travel and ends with the release.
void expectMovedOnlyByADrag(QWidget* window, const char* which)
{
    SCOPED_TRACE(which);
    ASSERT_TRUE(window->isVisible());
    window->move(200, 150);
    const QPoint start = window->pos();
    Pointer pointer(window);

    ASSERT_TRUE(pointer.pressOnBackground());
    pointer.release();
    pointer.moveBy(QPoint(90, 70), false);
    EXPECT_EQ(window->pos(), start) << "a click without a pause between press and release";

    ASSERT_TRUE(pointer.pressOnBackground());
    pointer.moveBy(QPoint(2, 1));
    EXPECT_EQ(window->pos(), start) << "a hand's tremble is no drag";
    pointer.moveBy(QPoint(58, 39));
    EXPECT_EQ(window->pos(), start + QPoint(60, 40));
    pointer.moveBy(QPoint(-10, 5));
    EXPECT_EQ(window->pos(), start + QPoint(50, 45));
    pointer.release();
    pointer.moveBy(QPoint(100, 100), false);
    EXPECT_EQ(window->pos(), start + QPoint(50, 45)) << "the move ended with the release";
}

TEST(FramelessWindowDrag, TheSearchWindowMovesOnlyWhileItsBackgroundIsDragged)
{
    kztest::ShortAnimations shortAnimations;
    KZSearchView view;
    view.resize(509, 509);
    view.show();
    expectMovedOnlyByADrag(&view, "search window");
}

TEST(FramelessWindowDrag, TheProgressWindowMovesOnlyWhileItsBackgroundIsDragged)
{
    kztest::ShortAnimations shortAnimations(0.02);
    QWidget searchWindow;
    searchWindow.resize(509, 509);
    {
        const std::shared_ptr<KZSearchProgress> progress = KZSearchProgress::create(&searchWindow, true);
        KZSearchProgressWindow* window = progress->progressWindow();
        ASSERT_NE(window, nullptr);
        window->show();
        expectMovedOnlyByADrag(window, "progress window");
    }
    KZSetSearchInProgress(false);
}

TEST(FramelessWindowDrag, TheAboutWindowMovesOnlyWhileItsBackgroundIsDragged)
{
    int delegate = 0;
    KZAboutCntrl about(&delegate);
    expectMovedOnlyByADrag(about.window(), "About window");
    // Still answering: Escape closes it.
    QTest::keyClick(about.window(), Qt::Key_Escape);
    EXPECT_FALSE(about.window()->isVisible());
}

} // namespace
