#include "services/ui/KZLinearProgressIndicatorView.h"

#include "services/KZProgressGeometry.h"
#include "services/ui/KZAnimationTiming.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {

using namespace KZProgressGeometry;

// Everything derives from one accent colour.
const QColor kLightFirst = QColor::fromRgbF(0.592f, 0.875f, 0.922f, 0.6f);
const QColor kLightSecond = QColor::fromRgbF(0.602f, 0.885f, 0.932f, 1.0f);
const QColor kBackFirst = QColor::fromRgbF(0.402f, 0.685f, 0.732f, 0.7f);
const QColor kBackSecond = QColor::fromRgbF(0.352f, 0.635f, 0.682f, 1.0f);
const QColor kStripe = QColor::fromRgbF(0.422f, 0.705f, 0.752f, 0.8f);
constexpr qreal kCornerRadius = 2.0;
constexpr double kFrameSeconds = 1.0 / 60.0; // one display refresh

// Gradients run from their first colour at the bottom edge to the second at
// the top.
QLinearGradient upward(const QRectF& r, const QColor& first, const QColor& second)
{
    QLinearGradient g(r.bottomLeft(), r.topLeft());
    g.setColorAt(0, first);
    g.setColorAt(1, second);
    return g;
}

} // namespace

KZLinearProgressIndicatorView::KZLinearProgressIndicatorView(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    clock_.setTimerType(Qt::PreciseTimer);
    connect(&clock_, &QTimer::timeout, this, &KZLinearProgressIndicatorView::clockTick);
}

double KZLinearProgressIndicatorView::markerHeight() const
{
    return KZProgressGeometry::markerHeight(height());
}

void KZLinearProgressIndicatorView::stopRunning()
{
    if (isInderminate_)
        stopIndeterminateAnimation();
    else
        stopDeterminateAnimation();
}

void KZLinearProgressIndicatorView::startDeterminateAnimation()
{
    stopRunning();
    mode_ = Mode::Determinate;
    barWidth_ = 0;
    update();
}

void KZLinearProgressIndicatorView::updateProgress(double percent)
{
    barWidth_ = determinateBarWidth(width(), percent);
    update();
}

void KZLinearProgressIndicatorView::stopDeterminateAnimation()
{
    if (mode_ == Mode::Determinate) {
        mode_ = Mode::Idle;
        update();
    }
}

void KZLinearProgressIndicatorView::startIndeterminateAnimation()
{
    stopRunning();
    mode_ = Mode::Indeterminate;
    isInderminate_ = true;
    updatedTime_.invalidate();
    clock_.start(KZAnimationTiming::milliseconds(kFrameSeconds));
    update();
}

void KZLinearProgressIndicatorView::stopIndeterminateAnimation()
{
    isInderminate_ = false;
    if (mode_ == Mode::Indeterminate) {
        mode_ = Mode::Idle;
        update();
    }
}

void KZLinearProgressIndicatorView::clockTick()
{
    if (!isInderminate_) {
        clock_.stop();
        return;
    }
    if (!updatedTime_.isValid() || updatedTime_.nsecsElapsed() >= qint64(kStepSeconds * 1e9)) {
        updatedTime_.start();
        incrementOffset();
    }
}

void KZLinearProgressIndicatorView::incrementOffset()
{
    offset_ = qint16(nextOffset(offset_, animateDirection_));
    if (mode_ == Mode::Indeterminate)
        update();
}

void KZLinearProgressIndicatorView::paintEvent(QPaintEvent*)
{
    if (mode_ == Mode::Idle || width() <= 0 || height() <= 0)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds(rect());
    QPainterPath back;
    back.addRoundedRect(bounds.adjusted(0.5, 0.5, -0.5, -0.5), kCornerRadius, kCornerRadius);

    if (mode_ == Mode::Determinate) {
        painter.fillPath(back, upward(bounds, kBackFirst, kBackSecond));
        painter.strokePath(back, QPen(kBackFirst, 1.0));
        if (barWidth_ > 0) {
            const QRectF bar = toQt(QRectF(1, 1, barWidth_, markerHeight()), height());
            QPainterPath barPath;
            barPath.addRoundedRect(bar, kCornerRadius, kCornerRadius);
            painter.fillPath(barPath, upward(bar, kLightFirst, kLightSecond));
        }
        return;
    }

    // The stripes stay inside the rounded background; its border is drawn
    // last, over them.
    painter.save();
    painter.setClipPath(back);
    painter.fillPath(back, upward(bounds, kBackFirst, kBackSecond));
    painter.fillRect(bounds, upward(bounds, kLightFirst, kLightSecond));
    painter.setPen(Qt::NoPen);
    painter.setBrush(kStripe);
    for (const auto& stripe : stripePolygons(width(), height(), offset_)) {
        QPointF points[4];
        for (int i = 0; i < 4; ++i)
            points[i] = toQt(stripe[size_t(i)], height());
        painter.drawPolygon(points, 4);
    }
    painter.restore();
    painter.strokePath(back, QPen(kBackFirst, 1.0));
}
