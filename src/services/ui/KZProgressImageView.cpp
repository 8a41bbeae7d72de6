#include "services/ui/KZProgressImageView.h"

#include "services/ui/KZAnimationTiming.h"
#include "services/ui/KZImages.h"

#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>

namespace {

using namespace KZProgressGeometry;

const QColor kRingColour = QColor::fromRgbF(0.552f, 0.835f, 0.882f);
const QColor kBackdropColour = QColor::fromRgbF(0.052f, 0.335f, 0.382f);

} // namespace

KZProgressImageView::KZProgressImageView(QWidget* parent)
    : QWidget(parent)
{
    setFixedSize(int(kDiscSide), int(kDiscSide));
    setAttribute(Qt::WA_TranslucentBackground);
}

KZProgressImageView::~KZProgressImageView() = default;

QSize KZProgressImageView::sizeHint() const
{
    return {int(kDiscSide), int(kDiscSide)};
}

bool KZProgressImageView::isSpinning() const
{
    return spinnerShown_ && spin_ && spin_->state() == QAbstractAnimation::Running;
}

QVariantAnimation* KZProgressImageView::fade(qreal& opacity)
{
    auto* animation = new QVariantAnimation(this);
    animation->setStartValue(0.0);
    animation->setEndValue(1.0);
    animation->setDuration(KZAnimationTiming::milliseconds(kFadeSeconds));
    qreal* target = &opacity;
    connect(animation, &QVariantAnimation::valueChanged, this, [this, target](const QVariant& v) {
        *target = v.toReal();
        update();
    });
    opacity = 0;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
    return animation;
}

void KZProgressImageView::startIndeterminateAnimation()
{
    if (!isInderminate_ || isSpinning())
        return;
    if (spinner_.isNull())
        spinner_ = KZImages::imageNamed(QStringLiteral("spinner"));
    spin_ = new QVariantAnimation(this);
    spin_->setStartValue(0.0);
    spin_->setEndValue(360.0);
    spin_->setDuration(KZAnimationTiming::milliseconds(kSpinSeconds));
    spin_->setLoopCount(-1);
    connect(spin_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        spinnerAngle_ = v.toReal();
        update();
    });
    spinnerAngle_ = 0;
    spinnerShown_ = true;
    spin_->start(QAbstractAnimation::DeleteWhenStopped);
    spinnerFade_ = fade(spinnerOpacity_);
    update();
}

void KZProgressImageView::stopIndeterminateAnimation()
{
    if (!spinnerShown_)
        return;
    // The spinner leaves at once; a fade-out would only show a frozen wheel.
    if (spin_)
        spin_->stop();
    if (spinnerFade_)
        spinnerFade_->stop();
    spinnerShown_ = false;
    update();
}

void KZProgressImageView::startDeterminateAnimation()
{
    if (isInderminate_)
        return;
    ringShown_ = true;
    if (ringFade_)
        ringFade_->stop();
    ringFade_ = fade(ringOpacity_);
    update();
}

void KZProgressImageView::stopDeterminateAnimation()
{
    if (ringFade_)
        ringFade_->stop();
    ringShown_ = false;
    update();
}

void KZProgressImageView::updateDeterminateProgress()
{
    if (auto arc = ringArcForPercentage(percentageValue_)) {
        arc_ = arc;
        update();
    }
}

void KZProgressImageView::stopAnimation()
{
    stopIndeterminateAnimation();
    if (!isInderminate_)
        stopDeterminateAnimation();
}

void KZProgressImageView::setIsInderminate(bool flag, bool startAnimation)
{
    isInderminate_ = flag;
    if (flag)
        return;
    stopIndeterminateAnimation();
    if (startAnimation)
        startDeterminateAnimation();
}

void KZProgressImageView::drawSpinningBackground()
{
    backdropShown_ = true;
    update();
}

void KZProgressImageView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF disc(0, 0, kDiscSide, kDiscSide);

    if (backdropShown_) {
        QPainterPath ring;
        ring.setFillRule(Qt::OddEvenFill);
        ring.addEllipse(disc);
        ring.addEllipse(disc.adjusted(kBackdropRingWidth, kBackdropRingWidth, -kBackdropRingWidth,
                                      -kBackdropRingWidth));
        painter.fillPath(ring, kBackdropColour);
    }

    if (spinnerShown_ && !spinner_.isNull()) {
        painter.save();
        painter.setOpacity(spinnerOpacity_);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const QPointF centre = toQt(kRingCentre, kDiscSide);
        painter.translate(centre);
        painter.rotate(spinnerAngle_);
        painter.translate(-centre);
        painter.drawImage(disc, spinner_);
        painter.restore();
    }

    if (ringShown_ && arc_) {
        painter.save();
        painter.setOpacity(ringOpacity_);
        const QRectF box(kRingCentre.x() - kRingRadius, kDiscSide - kRingCentre.y() - kRingRadius, 2 * kRingRadius,
                         2 * kRingRadius);
        QPainterPath path;
        // Qt counts angles counter-clockwise on screen, as the arc's own
        // y-up angles do, so they carry over; the sweep is clockwise.
        path.arcMoveTo(box, arc_->startDegrees);
        path.arcTo(box, arc_->startDegrees, -arc_->sweepDegrees());
        painter.setPen(QPen(kRingColour, kRingLineWidth, Qt::SolidLine, Qt::FlatCap));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(path);
        painter.restore();
    }
}
