#pragma once

#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QPointF>

class QPainter;

// Soft drop shadows for painted panels and round windows. QPainter has no
// shadow of its own, and a QGraphicsDropShadowEffect would take the one
// effect slot that the windows keep for their fades.
class KZShadowPainter {
public:
    // Paints the shadow of `shape` (in the painter's coordinates) moved by
    // `offset` (y down) and blurred by `blurRadius` points.
    static void drawShadow(QPainter& painter, const QPainterPath& shape, QPointF offset, qreal blurRadius,
                           const QColor& color);
    // The shadow alone on a transparent image that covers the shape's
    // bounding rectangle grown by the blur radius on every side; its origin
    // lies at (bounds.left - blur, bounds.top - blur).
    static QImage shadowImage(const QPainterPath& shape, qreal blurRadius, const QColor& color,
                              qreal devicePixelRatio = 1.0);
};
