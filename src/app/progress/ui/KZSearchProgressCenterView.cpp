#include "app/progress/ui/KZSearchProgressCenterView.h"

#include "services/ui/KZShadowPainter.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

KZSearchProgressCenterView::KZSearchProgressCenterView(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("progressCenterView"));
    setAttribute(Qt::WA_TranslucentBackground);
}

void KZSearchProgressCenterView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // (24, 24, 300, 300) with y up in a 350-point view.
    const QRectF disc(24, height() - 24 - 300, 300, 300);
    QPainterPath shape;
    shape.addEllipse(disc);
    if (searchRunning_ && !searchRunning_())
        KZShadowPainter::drawShadow(painter, shape, QPointF(3, 3), 5, QColor::fromRgbF(0.321f, 0.364f, 0.435f, 0.2f));
    const QColor light = QColor::fromRgbF(0.935f, 0.95f, 0.976f);
    const QColor dark = QColor::fromRgbF(0.728f, 0.751f, 0.783f);
    const QColor middle = QColor::fromRgbF((light.redF() + dark.redF()) / 2, (light.greenF() + dark.greenF()) / 2,
                                           (light.blueF() + dark.blueF()) / 2);
    QLinearGradient gradient(disc.topLeft(), disc.bottomLeft());
    gradient.setColorAt(0.0, light);
    gradient.setColorAt(0.6, middle);
    gradient.setColorAt(1.0, dark);
    painter.setPen(Qt::NoPen);
    painter.setBrush(gradient);
    painter.drawPath(shape);
}
