// Runs only when MARAVEX_SHOTS_DIR names a folder (scripts/screenshots.sh
// sets it): a zoom held in the middle of its disc, between two stand-in
// windows, photographed from the screen as a person would see it.

#include "app/KZWindowTransitionMath.h"
#include "app/ui/KZWindowTransitionAnimator.h"

#include "TestSupport.h"

#include <QDir>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

// A round window like the progress window: a light disc with a blue ring.
class RoundStandIn : public QWidget {
public:
    RoundStandIn() : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint)
    {
        setAttribute(Qt::WA_TranslucentBackground);
        resize(509, 509);
        setMask(QRegion(rect(), QRegion::Ellipse));
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setBrush(QColor(236, 238, 242));
        p.setPen(Qt::NoPen);
        p.drawEllipse(rect());
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(40, 110, 220), 18));
        p.drawEllipse(QRectF(rect()).adjusted(90, 90, -90, -90));
    }
};

// A window like the result window: a band of tabs over rows of a list.
class ListStandIn : public QWidget {
public:
    ListStandIn() : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint) { resize(900, 560); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), Qt::white);
        p.fillRect(QRect(0, 0, width(), 38), QColor(222, 226, 232));
        const QColor tabs[] = {QColor(90, 160, 90), QColor(200, 120, 60), QColor(70, 120, 200)};
        for (int i = 0; i < 3; ++i)
            p.fillRect(QRect(40 + i * 150, 8, 130, 24), tabs[i]);
        for (int row = 0; row < 12; ++row) {
            const int y = 50 + row * 40;
            p.fillRect(QRect(0, y, width(), 38), row % 3 == 0 ? QColor(200, 214, 236) : QColor(246, 247, 250));
            p.fillRect(QRect(20, y + 12, 16, 16), QColor(120, 130, 150));
            p.fillRect(QRect(50, y + 15, 260 - (row % 4) * 30, 9), QColor(60, 60, 70));
        }
    }
};

TEST(TransitionShots, ZoomHeldInItsDisc)
{
    const QString dir = qEnvironmentVariable("MARAVEX_SHOTS_DIR");
    if (dir.isEmpty())
        GTEST_SKIP() << "pictures only when MARAVEX_SHOTS_DIR is set";
    QDir().mkpath(dir);
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);

    RoundStandIn progress;
    ListStandIn result;
    progress.move(screen->geometry().center() - QPoint(254, 254));
    progress.show();
    kztest::processEventsUntil([] { return false; }, 800ms);

    KZTransitionMath::setPauseAt(0.5);
    KZWindowTransitionAnimator animator;
    animator.transitionFromWindow(&progress, &result, KZWindowTransitionAnimator::Opening, &progress);
    kztest::processEventsUntil([] { return false; }, 1200ms);
    const QPixmap shot = screen->grabWindow(0);
    ASSERT_FALSE(shot.isNull());
    EXPECT_TRUE(shot.save(dir + QStringLiteral("/transition-mid-zoom.png"), "PNG"));
    KZTransitionMath::setPauseAt(-1);
}

} // namespace
