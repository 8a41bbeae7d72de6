#pragma once

#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QRect>
#include <QRectF>

#include <memory>
#include <optional>

#include "app/ui/KZQuitPolicy.h"
#include "app/ui/KZTransitionOverlay.h"

class QVariantAnimation;
class QWidget;

// Moves between the progress window and the result window with a zoom on an
// overlay over the screen. Opening (direction 0): the result's snapshot,
// squeezed into the progress window, shows through a disc growing from the
// progress window's round view, then grows to its own size about an anchor
// that keeps it inside the screen's margins; it posts
// "openAnimationDidTerminate" (object the result window, {"direction": 0}).
// Closing (direction 1) runs the same steps backwards and posts
// "newSearchResultTerminated" {"direction": 1}. Main thread only.
class KZWindowTransitionAnimator : public QObject {
    Q_OBJECT
public:
    enum Direction : unsigned { Opening = 0, Closing = 1 };

    static KZWindowTransitionAnimator& sharedControl();
    // Replaces the shared instance (tests); nullptr makes the next call build
    // a fresh one. The shared instance is never destroyed at exit
    // (platform::SharedInstance).
    static void setSharedControl(std::unique_ptr<KZWindowTransitionAnimator> instance);

    explicit KZWindowTransitionAnimator(QObject* parent = nullptr);
    ~KZWindowTransitionAnimator() override;

    // `roundView` is a view of the progress window (`from` when opening,
    // `to` when closing) whose centre is the disc's centre. A transition
    // asked for while one runs starts when it ends.
    void transitionFromWindow(QWidget* from, QWidget* to, unsigned direction, QWidget* roundView);

    bool isRunning() const { return overlay_ != nullptr; }
    KZTransitionOverlay* animationWindow() const { return overlay_; }
    QWidget* fromWindow() const { return fromWindow_; }
    QWidget* toWindow() const { return toWindow_; }
    double firstAnimTime() const { return firstAnimTime_; }
    double thirdAnimTime() const { return thirdAnimTime_; }
    QRect screenRect() const { return screenRect_; }

private:
    struct Request {
        QPointer<QWidget> from;
        QPointer<QWidget> to;
        unsigned direction;
        QPointer<QWidget> roundView;
    };
    enum class Phase { Disc, Size };

    void run(Phase phase, double seconds, bool easeIn);
    void phaseDidEnd();
    void paintFrame(QPainter& painter) const;
    void finish();
    // y-up screen-relative rectangle to the overlay's own (y-down) frame.
    QRectF toOverlay(const QRectF& yUp) const;
    // The shadow a window's snapshot casts, or none when the window has no
    // shadow of its own (a shaped window paints its own).
    static QPixmap shadowOf(const QWidget* window);
    void paintShadow(QPainter& painter, const QPixmap& shadow, const QRectF& yUp) const;

    QPointer<QWidget> fromWindow_;
    QPointer<QWidget> toWindow_;
    QPointer<KZTransitionOverlay> overlay_;
    QPointer<QVariantAnimation> animation_;
    // From the moment the window left hides until the other one shows.
    std::unique_ptr<KZQuitPolicy::MainWindowInTransit> transit_;
    unsigned direction_ = Opening;
    Phase phase_ = Phase::Disc;
    double t_ = 0;
    bool easeIn_ = true;
    double firstAnimTime_ = 0.3;
    double thirdAnimTime_ = 0.4;
    QRect screenRect_;
    QPixmap fromShot_;
    QPixmap toShot_;
    QPixmap fromShadow_;
    QPixmap toShadow_;
    QRectF fromRect_; // y-up, screen-relative
    QRectF target_;
    QPointF anchor_;
    QRectF round_; // in the progress window, Qt's frame
    std::optional<Request> queued_;
    // The last opening: the window it left, and where that window stood.
    struct Opened {
        QPointer<QWidget> from;
        QRect fromFrame;
        QPointer<QWidget> to;
    };
    Opened opened_;
};
