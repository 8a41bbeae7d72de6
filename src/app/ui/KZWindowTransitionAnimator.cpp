#include "app/ui/KZWindowTransitionAnimator.h"

#include "app/KZWindowTransitionMath.h"
#include "app/ui/KZTransitionOverlay.h"
#include "platform/NotificationCenter.h"
#include "platform/SharedInstance.h"
#include "services/ui/KZShadowPainter.h"
#include "services/ui/KZWindowPlacement.h"
#include "settings/KZNotificationNames.h"

#include <qdrawutil.h>
#include <QGuiApplication>
#include <QLayout>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTimer>
#include <QVariantAnimation>
#include <QWidget>

namespace math = KZTransitionMath;

namespace {

platform::SharedInstance<KZWindowTransitionAnimator>& sharedInstance()
{
    static platform::SharedInstance<KZWindowTransitionAnimator> instance(
        [] { return std::make_unique<KZWindowTransitionAnimator>(); });
    return instance;
}

} // namespace

KZWindowTransitionAnimator& KZWindowTransitionAnimator::sharedControl()
{
    return sharedInstance().get();
}

void KZWindowTransitionAnimator::setSharedControl(std::unique_ptr<KZWindowTransitionAnimator> instance)
{
    sharedInstance().replace(std::move(instance));
}

KZWindowTransitionAnimator::KZWindowTransitionAnimator(QObject* parent) : QObject(parent) {}

KZWindowTransitionAnimator::~KZWindowTransitionAnimator()
{
    delete overlay_.data();
}

QRectF KZWindowTransitionAnimator::toOverlay(const QRectF& yUp) const
{
    return math::flipY(yUp, screenRect_.height());
}

QPixmap KZWindowTransitionAnimator::shadowOf(const QWidget* window)
{
    if (window->windowFlags().testFlag(Qt::NoDropShadowWindowHint) ||
        window->testAttribute(Qt::WA_TranslucentBackground))
        return {};
    // Made once at the window's own size; each frame stretches only its
    // middle, so the blurred edges keep their width while the size changes.
    QPainterPath shape;
    shape.addRect(QRectF(QPointF(0, 0), QSizeF(window->size())));
    QColor colour(Qt::black);
    colour.setAlphaF(float(math::kSnapshotShadowOpacity));
    return QPixmap::fromImage(KZShadowPainter::shadowImage(shape, math::kSnapshotShadowRadius, colour));
}

void KZWindowTransitionAnimator::paintShadow(QPainter& painter, const QPixmap& shadow, const QRectF& yUp) const
{
    if (shadow.isNull())
        return;
    // The blur runs a radius either side of the shadow's edge.
    const int edge = int(2 * math::kSnapshotShadowRadius);
    const QRect target = toOverlay(math::snapshotShadowRect(yUp)).toRect();
    if (target.width() <= 2 * edge || target.height() <= 2 * edge)
        return;
    qDrawBorderPixmap(&painter, target, QMargins(edge, edge, edge, edge), shadow);
}

void KZWindowTransitionAnimator::transitionFromWindow(QWidget* from, QWidget* to, unsigned direction,
                                                      QWidget* roundView)
{
    if (!from || !to)
        return;
    if (overlay_) {
        queued_ = Request{from, to, direction, roundView};
        return;
    }
    fromWindow_ = from;
    toWindow_ = to;
    direction_ = direction == Closing ? Closing : Opening;

    QScreen* screen = from->screen() ? from->screen() : QGuiApplication::primaryScreen();
    screenRect_ = screen ? screen->geometry() : QRect(0, 0, 1280, 800);
    const QRect available = screen ? screen->availableGeometry() : screenRect_;

    // The result window must fit the usable area with its title bar.
    const QMargins frame = KZWindowPlacement::frameOf(direction == Closing ? from : to);
    if (direction != Closing) {
        const QRect fit = KZWindowPlacement::fitted(to->geometry(), frame, available, to->minimumSize());
        if (fit.size() != to->size())
            to->resize(fit.size());
    }

    const double screenH = screenRect_.height();
    if (direction_ == Opening)
        opened_ = Opened{from, from->geometry(), to};
    fromRect_ = math::flipY(QRectF(from->geometry()).translated(-screenRect_.topLeft()), screenH);
    const QRectF toRect = math::flipY(QRectF(to->geometry()).translated(-screenRect_.topLeft()), screenH);
    QWidget* progress = direction_ == Opening ? from : to;
    if (roundView && roundView->window() == progress)
        round_ = QRectF(QRect(roundView->mapTo(progress, QPoint(0, 0)), roundView->size()));
    else
        round_ = QRectF(QPointF(0, 0), QSizeF(progress->size()));

    fromShot_ = KZTransitionOverlay::snapshotOf(from);
    toShot_ = KZTransitionOverlay::snapshotOf(to);
    fromShadow_ = shadowOf(from);
    toShadow_ = shadowOf(to);
    firstAnimTime_ = math::kZoomDiscSeconds;
    target_ = math::zoomTarget(fromRect_, toRect.size());
    if (direction_ == Opening) {
        thirdAnimTime_ = math::zoomSizeSeconds(target_.width());
        // The margins keep the window's frame, not only its contents, on
        // screen.
        math::ScreenMargins margins = math::screenMargins(screenRect_, available);
        margins.top += frame.top();
        margins.bottom += frame.bottom();
        margins.left += frame.left();
        margins.right += frame.right();
        anchor_ = math::zoomAnchor(fromRect_, target_, QSizeF(screenRect_.size()), margins);
    } else {
        thirdAnimTime_ = math::zoomSizeSeconds(fromRect_.width());
        anchor_ = QPointF(0.5, 0.5);
        // Centring rounds up both ways, so a window closed onto the one it
        // opened from would land a pixel off its old place, and each cycle
        // would add one. Within that pixel it goes back exactly.
        if (opened_.from == to && opened_.to == from && opened_.fromFrame.size() == to->size()) {
            const QRectF before = math::flipY(QRectF(opened_.fromFrame).translated(-screenRect_.topLeft()), screenH);
            if (std::abs(before.x() - target_.x()) <= 1.0 && std::abs(before.y() - target_.y()) <= 1.0)
                target_ = before;
        }
        // The progress window waits, hidden, where the result shrinks to.
        const QRectF qtTarget = toOverlay(target_).translated(screenRect_.topLeft());
        to->setGeometry(qtTarget.toRect());
    }

    overlay_ = new KZTransitionOverlay(screenRect_, [this](QPainter& p) { paintFrame(p); });
    transit_ = std::make_unique<KZQuitPolicy::MainWindowInTransit>();
    from->hide();
    phase_ = direction_ == Opening ? Phase::Disc : Phase::Size;
    t_ = 0;
    auto begin = [this] {
        if (!overlay_)
            return;
        overlay_->show();
        overlay_->raise();
        if (direction_ == Opening)
            run(Phase::Disc, firstAnimTime_, true);
        else
            run(Phase::Size, thirdAnimTime_, true);
    };
    if (KZTransitionOverlay::displayNeedsBackdrop()) {
        QTimer::singleShot(KZTransitionOverlay::kBackdropSettleMs, this, [this, begin] {
            if (overlay_)
                overlay_->grabBackdrop();
            begin();
        });
    } else {
        begin();
    }
}

void KZWindowTransitionAnimator::run(Phase phase, double seconds, bool easeIn)
{
    phase_ = phase;
    easeIn_ = easeIn;
    t_ = 0;
    auto* animation = new QVariantAnimation(this);
    animation->setStartValue(0.0);
    animation->setEndValue(1.0);
    animation->setDuration(qMax(1, int(seconds * 1000.0 * math::durationFactor())));
    connect(animation, &QVariantAnimation::valueChanged, this, [this, animation](const QVariant& value) {
        double t = value.toDouble();
        const double pause = math::pauseAt();
        if (pause >= 0 && t >= pause) {
            t = pause;
            animation->pause();
        }
        t_ = t;
        if (overlay_)
            overlay_->update();
    });
    connect(animation, &QVariantAnimation::finished, this, &KZWindowTransitionAnimator::phaseDidEnd);
    animation_ = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
    KZTransitionOverlay::holdAtPause(animation);
}

void KZWindowTransitionAnimator::phaseDidEnd()
{
    // Opening: the disc, then the growth; closing: the shrinking, then the
    // disc closing over the progress window.
    if (direction_ == Opening && phase_ == Phase::Disc) {
        run(Phase::Size, thirdAnimTime_, false);
        return;
    }
    if (direction_ == Closing && phase_ == Phase::Size) {
        // The disc starts a moment after the size ends, as the closing
        // asks for; the pause is shorter than a frame.
        QTimer::singleShot(int(math::kZoomDiscBeginWhenClosing * 1000.0), this,
                           [this] { run(Phase::Disc, firstAnimTime_, false); });
        return;
    }
    finish();
}

void KZWindowTransitionAnimator::paintFrame(QPainter& painter) const
{
    const double u = easeIn_ ? math::easeIn(t_) : math::easeOut(t_);
    if (direction_ == Opening) {
        if (phase_ == Phase::Disc) {
            const QRectF at = toOverlay(fromRect_);
            paintShadow(painter, fromShadow_, fromRect_);
            painter.drawPixmap(at, fromShot_, QRectF(fromShot_.rect()));
            // The result's snapshot squeezed into the progress window's
            // rectangle, seen through the growing disc.
            const QPointF centre = at.topLeft() + round_.center();
            const QRectF grown = round_.adjusted(-math::kZoomDiscGrowth, -math::kZoomDiscGrowth,
                                                 math::kZoomDiscGrowth, math::kZoomDiscGrowth)
                                     .translated(at.topLeft());
            const QRectF disc = math::discRect(QRectF(centre, QSizeF(0, 0)), grown, u);
            QPainterPath clip;
            clip.addEllipse(disc);
            painter.save();
            painter.setClipPath(clip);
            painter.drawPixmap(at, toShot_, QRectF(toShot_.rect()));
            painter.restore();
        } else {
            const QRectF grow = math::zoomGrowRect(fromRect_, target_, anchor_, u);
            paintShadow(painter, toShadow_, grow);
            painter.drawPixmap(toOverlay(grow), toShot_, QRectF(toShot_.rect()));
        }
        return;
    }
    if (phase_ == Phase::Size) {
        const QRectF shrink = math::zoomGrowRect(fromRect_, target_, QPointF(0.5, 0.5), u);
        paintShadow(painter, fromShadow_, shrink);
        painter.drawPixmap(toOverlay(shrink), fromShot_, QRectF(fromShot_.rect()));
        return;
    }
    // The progress window under the result, which closes as a disc on the
    // round view's centre.
    // The snapshot inside the disc is clipped with its shadow, so only the
    // progress window under it casts one.
    const QRectF at = toOverlay(target_);
    paintShadow(painter, toShadow_, target_);
    painter.drawPixmap(at, toShot_, QRectF(toShot_.rect()));
    const QRectF start = QRectF(round_.topLeft(), target_.size()).translated(at.topLeft());
    const QPointF centre = at.topLeft() + round_.center();
    const QRectF disc = math::discRect(start, QRectF(centre, QSizeF(0, 0)), u);
    QPainterPath clip;
    clip.addEllipse(disc);
    painter.save();
    painter.setClipPath(clip);
    painter.drawPixmap(at, fromShot_, QRectF(fromShot_.rect()));
    painter.restore();
}

void KZWindowTransitionAnimator::finish()
{
    QWidget* to = toWindow_;
    if (to) {
        if (direction_ == Opening) {
            const QRectF end = toOverlay(math::zoomGrowRect(fromRect_, target_, anchor_, 1.0));
            to->setGeometry(end.translated(screenRect_.topLeft()).toRect());
        }
        KZWindowPlacement::keepOnScreen(to);
        to->show();
        to->raise();
        to->activateWindow();
        to->update();
    }
    if (overlay_) {
        overlay_->hide();
        overlay_->deleteLater();
    }
    overlay_ = nullptr;
    transit_.reset();
    fromShot_ = QPixmap();
    toShot_ = QPixmap();
    fromShadow_ = QPixmap();
    toShadow_ = QPixmap();

    auto& center = platform::NotificationCenter::defaultCenter();
    if (direction_ == Opening)
        center.post(KZNotification::openAnimationDidTerminate,
                    platform::NotificationObject(static_cast<const void*>(to)),
                    {{QStringLiteral("direction"), 0}});
    else
        center.post(KZNotification::newSearchResultTerminated, platform::bundleIdentifier(),
                    {{QStringLiteral("direction"), 1}});

    if (queued_) {
        const Request request = *queued_;
        queued_.reset();
        if (request.from && request.to)
            transitionFromWindow(request.from, request.to, request.direction, request.roundView);
    }
}
