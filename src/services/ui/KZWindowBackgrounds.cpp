#include "services/ui/KZWindowBackgrounds.h"

#include "platform/UserDefaults.h"
#include "services/ui/KZShadowPainter.h"

#include <QColor>
#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace {

constexpr qreal kDiscSide = 503;

QColor blend(const QColor& a, const QColor& b, qreal fraction)
{
    return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * fraction),
                            float(a.greenF() + (b.greenF() - a.greenF()) * fraction),
                            float(a.blueF() + (b.blueF() - a.blueF()) * fraction),
                            float(a.alphaF() + (b.alphaF() - a.alphaF()) * fraction));
}

} // namespace

void KZDrawRoundGradientBackground(QPainter& painter)
{
    static const QColor a = QColor::fromRgbF(0.9f, 0.9f, 0.9f, 0.2f);
    static const QColor b = QColor::fromRgbF(0.419f, 0.423f, 0.47f, 0.4f);
    const QRectF disc(3, 3, kDiscSide, kDiscSide);
    const QPointF centre = disc.center();
    // The gradient runs inwards, from the rim (radius 252.99) to 146.72, and
    // is extended on both sides, so the centre is pale and the rim darker.
    constexpr qreal outer = 252.99;
    constexpr qreal inner = 146.72;
    QRadialGradient gradient(centre, outer);
    gradient.setColorAt(inner / outer, a);
    gradient.setColorAt((inner + 0.75 * (outer - inner)) / outer, blend(b, a, 0.5));
    gradient.setColorAt(1.0, b);
    gradient.setSpread(QGradient::PadSpread);

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath oval;
    oval.addEllipse(disc);
    painter.fillPath(oval, gradient);
    painter.setPen(QPen(QColor::fromRgbF(0.621f, 0.664f, 0.735f, 1.0f), 6.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(oval);
    painter.restore();
}

void KZDrawWindowBackground(QPainter& painter, bool isActive, const QRectF& frame, const QRectF& contentFrame)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(frame, Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);

    const QRectF disc(contentFrame.x() + 3, contentFrame.y() + 3, kDiscSide, kDiscSide);
    QPainterPath oval;
    oval.addEllipse(QRectF(0, 0, kDiscSide, kDiscSide));

    // Blurring a window-sized shadow costs milliseconds; the two looks are
    // made once per resolution and reused.
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    static QHash<QPair<bool, qreal>, QImage> shadows;
    const qreal blur = isActive ? 25 : 20;
    const QPointF offset = isActive ? QPointF(8, 6) : QPointF(5, 3);
    auto key = qMakePair(isActive, ratio);
    auto it = shadows.find(key);
    if (it == shadows.end())
        it = shadows.insert(key, KZShadowPainter::shadowImage(oval, blur, QColor::fromRgbF(0, 0, 0, isActive ? 0.7f : 0.6f),
                                                              ratio));
    painter.drawImage(disc.topLeft() - QPointF(blur, blur) + offset, *it);

    const bool opaque = platform::UserDefaults::standard().boolForKey(QStringLiteral("reduce_transparence"));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgbF(0.321f, 0.364f, 0.435f, opaque ? 1.0f : 0.9f));
    painter.drawEllipse(disc);
    painter.restore();
}
