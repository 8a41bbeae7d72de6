#include "result/window/ui/KZSourceSpinner.h"

#include <QPainter>
#include <QPalette>
#include <QTimerEvent>

#include <algorithm>

namespace {

constexpr int kSpinnerSpokes = 12;
constexpr int kSpinnerStepMs = 80;

} // namespace

KZSourceSpinner::KZSourceSpinner(QWidget* parent) : QWidget(parent)
{
    setFixedSize(16, 16);
    hide();
}

void KZSourceSpinner::startAnimation()
{
    if (!timer_)
        timer_ = startTimer(kSpinnerStepMs);
    show();
}

void KZSourceSpinner::stopAnimation()
{
    if (timer_)
        killTimer(timer_);
    timer_ = 0;
    hide();
}

void KZSourceSpinner::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != timer_)
        return QWidget::timerEvent(event);
    step_ = (step_ + 1) % kSpinnerSpokes;
    update();
}

void KZSourceSpinner::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(width() / 2.0, height() / 2.0);
    const double radius = std::min(width(), height()) / 2.0;
    for (int i = 0; i < kSpinnerSpokes; ++i) {
        // The newest spoke is the darkest; the trail fades behind it.
        const int age = (step_ - i + kSpinnerSpokes) % kSpinnerSpokes;
        QColor colour = palette().color(QPalette::WindowText);
        colour.setAlphaF(1.0 - 0.8 * age / kSpinnerSpokes);
        p.setPen(QPen(colour, 1.8, Qt::SolidLine, Qt::RoundCap));
        p.save();
        p.rotate(360.0 * i / kSpinnerSpokes);
        p.drawLine(QPointF(0, -radius * 0.45), QPointF(0, -radius * 0.9));
        p.restore();
    }
}
