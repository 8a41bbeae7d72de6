#pragma once

#include <QRectF>

class QPainter;

// The painted backdrops of the round search and progress windows.

// The disc: a radial gradient from a grey-blue rim to a pale centre inside
// the circle inscribed in (3, 3, 503, 503), with a 6-point blue-grey edge.
// Painted in the view's own coordinates.
void KZDrawRoundGradientBackground(QPainter& painter);

// The round window behind a content view: clears `frame`, then fills the
// circle at (content.x + 3, content.y + 3, 503, 503) in dark slate (opaque
// under "reduce_transparence", else 90 %), with a drop shadow that is deeper
// while the window is active. Rectangles are in the painter's coordinates
// (y down); the circle sits at the content's top-left.
void KZDrawWindowBackground(QPainter& painter, bool isActive, const QRectF& frame, const QRectF& contentFrame);
