#pragma once

#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QRectF>

#include <memory>
#include <optional>

#include "app/ui/KZQuitPolicy.h"
#include "app/ui/KZTransitionOverlay.h"

class QVariantAnimation;
class QWidget;

// Replaces one window by another with a three-dimensional flip drawn on an
// overlay: the current window's snapshot turns away while the next one's
// turns into view, swelling slightly at half time. At the end of every flip
// it posts "flipAnimationDidEnd" (object the window now in front) and then
// "newSearchProgressTerminated" {"isClosed": true}. Main thread only.
class KZWindowFlipAnimator : public QObject {
    Q_OBJECT
public:
    static KZWindowFlipAnimator& sharedWindowFlipAnimator();

    explicit KZWindowFlipAnimator(QObject* parent = nullptr);
    ~KZWindowFlipAnimator() override;

    // Direction 0 and 1 turn about the vertical axis, 2 and 3 about the
    // horizontal one; any other code behaves as 1. With no visible current
    // window the window is only recorded as the one in front. A request
    // that arrives while a flip runs waits for its end, so the window asked
    // for last is the one left in front.
    void flipToWindow(QWidget* window, unsigned direction);

    QWidget* currentWindow() const { return currentWindow_; }
    QWidget* nextWindow() const { return nextWindow_; }
    bool isFlipping() const { return overlay_ != nullptr; }
    KZTransitionOverlay* animationWindow() const { return overlay_; }
    // Eased time of the running flip, 0 to 1 (tests, screenshots).
    double progress() const { return progress_; }

private:
    struct Request {
        QPointer<QWidget> window;
        unsigned direction;
    };

    void flipToNextWindow(unsigned direction);
    void startAnimation();
    void paintFrame(QPainter& painter) const;
    void animationDidStop();

    QPointer<QWidget> currentWindow_;
    QPointer<QWidget> nextWindow_;
    QPointer<KZTransitionOverlay> overlay_;
    QPointer<QVariantAnimation> animation_;
    QPixmap snapshotA_;
    QPixmap snapshotB_;
    QRectF rectA_; // overlay coordinates
    QRectF rectB_;
    unsigned direction_ = 1;
    double progress_ = 0;
    std::optional<Request> queued_;
    // From the moment the current window hides until the next one shows.
    std::unique_ptr<KZQuitPolicy::MainWindowInTransit> transit_;
};
