#include "services/ui/KZImageLayerView.h"

#include "services/ui/KZImages.h"

#include <QPainter>

#include <cmath>

KZImageLayerView::KZImageLayerView(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
}

void KZImageLayerView::paintEvent(QPaintEvent*)
{
    // Drawn at the screen's own resolution, so the icon stays sharp on a
    // high-density screen.
    const qreal ratio = devicePixelRatioF();
    const int pixels = int(std::ceil(std::max(width(), height()) * ratio));
    const QImage icon = KZImages::applicationIcon(pixels);
    if (icon.isNull())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(rect()), icon);
}
