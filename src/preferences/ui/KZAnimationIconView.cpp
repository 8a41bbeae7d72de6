#include "preferences/ui/KZAnimationIconView.h"

#include "preferences/KZWelcomeGeometry.h"

#include "services/ui/KZAnimationTiming.h"
#include "services/ui/KZImages.h"

#include <QEasingCurve>
#include <QPainter>
#include <QVariantAnimation>

namespace {
constexpr double kIconSide = 256.0;
constexpr double kFlightSeconds = 2.0;
}

KZAnimationIconView::KZAnimationIconView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    resize(int(kIconSide), int(kIconSide));
    icon_ = KZImages::applicationIcon(512);
    // A one-point icon at the top-left corner until the flight starts.
    iconRect_ = QRectF(0, 0, 1, 1);
}

QPainterPath KZAnimationIconView::animationPath() const
{
    return KZWelcomeGeometry::animationPath(width(), height());
}

bool KZAnimationIconView::isAnimating() const
{
    return animation_ && animation_->state() == QAbstractAnimation::Running;
}

void KZAnimationIconView::animate()
{
    if (animation_)
        animation_->stop();
    auto* animation = new QVariantAnimation(this);
    animation->setStartValue(0.0);
    animation->setEndValue(1.0);
    animation->setDuration(KZAnimationTiming::milliseconds(kFlightSeconds));
    animation->setEasingCurve(QEasingCurve::OutCubic);
    connect(animation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { setProgress(value.toDouble()); });
    connect(animation, &QVariantAnimation::finished, this, [this] { setProgress(1.0); });
    animation_ = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void KZAnimationIconView::setProgress(double t)
{
    const QPainterPath path = animationPath();
    // The path is y-up; the icon's centre follows it while its size grows.
    const QPointF upPoint = path.pointAtPercent(qBound(0.0, t, 1.0));
    const double side = 1.0 + (kIconSide - 1.0) * t;
    QPointF centre(upPoint.x(), height() - upPoint.y());
    if (t >= 1.0)
        centre = QPointF(kIconSide / 2.0, kIconSide / 2.0);
    iconRect_ = QRectF(centre.x() - side / 2.0, centre.y() - side / 2.0, side, side);
    update();
}

void KZAnimationIconView::paintEvent(QPaintEvent*)
{
    if (icon_.isNull())
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(iconRect_, icon_);
}
