#include "app/ui/KZWindowFlipAnimator.h"

#include "app/KZWindowTransitionMath.h"
#include "app/ui/KZTransitionOverlay.h"
#include "services/ui/KZWindowPlacement.h"
#include "platform/NotificationCenter.h"
#include "settings/KZNotificationNames.h"

#include <QLayout>
#include <QPainter>
#include <QTimer>
#include <QVariantAnimation>
#include <QWidget>

namespace math = KZTransitionMath;

namespace {

void drawTurned(QPainter& painter, const QPixmap& snapshot, const QRectF& rect, math::FlipAxis axis, double angle,
                double scale)
{
    if (snapshot.isNull() || !math::flipFaceVisible(angle))
        return;
    painter.save();
    painter.setTransform(math::flipProjection(axis, angle, scale, rect.center()), true);
    painter.drawPixmap(QRectF(-rect.width() / 2, -rect.height() / 2, rect.width(), rect.height()), snapshot,
                       QRectF(snapshot.rect()));
    painter.restore();
}

} // namespace

KZWindowFlipAnimator& KZWindowFlipAnimator::sharedWindowFlipAnimator()
{
    static auto* shared = new KZWindowFlipAnimator();
    return *shared;
}

KZWindowFlipAnimator::KZWindowFlipAnimator(QObject* parent) : QObject(parent) {}

KZWindowFlipAnimator::~KZWindowFlipAnimator()
{
    delete overlay_.data();
}

void KZWindowFlipAnimator::flipToWindow(QWidget* window, unsigned direction)
{
    if (!window)
        return;
    if (overlay_) {
        // The running flip's target must not be left half-shown; the latest
        // request wins once it is in front.
        queued_ = Request{window, direction};
        return;
    }
    if (currentWindow_ && currentWindow_->isVisible()) {
        if (currentWindow_ == window) {
            window->raise();
            window->activateWindow();
            return;
        }
        nextWindow_ = window;
        flipToNextWindow(direction);
        return;
    }
    currentWindow_ = window;
}

void KZWindowFlipAnimator::flipToNextWindow(unsigned direction)
{
    QWidget* current = currentWindow_;
    QWidget* next = nextWindow_;
    direction_ = direction;
    progress_ = 0;

    const QRectF currentRect(current->geometry());
    const QRectF incoming = math::flipIncomingRect(currentRect, QSizeF(next->size()));
    next->setGeometry(incoming.toRect());
    // A larger incoming window must not end past the screen's edge.
    KZWindowPlacement::keepOnScreen(next);
    const QRectF overlayRect = math::flipOverlayRect(currentRect, QRectF(next->geometry()));

    snapshotA_ = KZTransitionOverlay::snapshotOf(current);
    snapshotB_ = KZTransitionOverlay::snapshotOf(next);
    rectA_ = currentRect.translated(-overlayRect.topLeft());
    rectB_ = QRectF(next->geometry()).translated(-overlayRect.topLeft());

    overlay_ = new KZTransitionOverlay(overlayRect.toAlignedRect(), [this](QPainter& p) { paintFrame(p); });
    transit_ = std::make_unique<KZQuitPolicy::MainWindowInTransit>();
    current->hide();
    if (KZTransitionOverlay::displayNeedsBackdrop()) {
        QTimer::singleShot(KZTransitionOverlay::kBackdropSettleMs, this, [this] {
            if (!overlay_)
                return;
            overlay_->grabBackdrop();
            startAnimation();
        });
    } else {
        startAnimation();
    }
}

void KZWindowFlipAnimator::startAnimation()
{
    overlay_->show();
    overlay_->raise();
    auto* animation = new QVariantAnimation(this);
    animation->setStartValue(0.0);
    animation->setEndValue(1.0);
    animation->setDuration(qMax(1, int(math::kFlipSeconds * 1000.0 * math::durationFactor())));
    connect(animation, &QVariantAnimation::valueChanged, this, [this, animation](const QVariant& value) {
        double t = value.toDouble();
        const double pause = math::pauseAt();
        if (pause >= 0 && t >= pause) {
            t = pause;
            animation->pause();
        }
        progress_ = math::easeInEaseOut(t);
        if (overlay_)
            overlay_->update();
    });
    connect(animation, &QVariantAnimation::finished, this, &KZWindowFlipAnimator::animationDidStop);
    animation_ = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
    KZTransitionOverlay::holdAtPause(animation);
}

void KZWindowFlipAnimator::paintFrame(QPainter& painter) const
{
    const double u = progress_;
    const double swell = math::flipSwell(u);
    const math::FlipAngles a = math::flipAngles(direction_, true);
    const math::FlipAngles b = math::flipAngles(direction_, false);
    drawTurned(painter, snapshotA_, rectA_, a.axis, a.from + (a.to - a.from) * u, swell);
    drawTurned(painter, snapshotB_, rectB_, b.axis, b.from + (b.to - b.from) * u, swell);
}

void KZWindowFlipAnimator::animationDidStop()
{
    QWidget* next = nextWindow_;
    if (next) {
        next->show();
        next->raise();
        next->activateWindow();
        next->update();
    }
    if (overlay_) {
        overlay_->hide();
        overlay_->deleteLater();
    }
    overlay_ = nullptr;
    transit_.reset();
    snapshotA_ = QPixmap();
    snapshotB_ = QPixmap();
    currentWindow_ = nextWindow_;

    auto& center = platform::NotificationCenter::defaultCenter();
    center.post(KZNotification::flipAnimationDidEnd, platform::NotificationObject(static_cast<const void*>(next)));
    center.post(KZNotification::newSearchProgressTerminated, platform::bundleIdentifier(),
                {{QStringLiteral("isClosed"), true}});

    if (queued_) {
        const Request request = *queued_;
        queued_.reset();
        if (request.window)
            flipToWindow(request.window, request.direction);
    }
}
