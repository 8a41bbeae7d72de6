#include "preferences/KZWelcomeGeometry.h"

#include <cmath>

namespace KZWelcomeGeometry {

QRectF firstPageFrame(double W, double H)
{
    return {0.0, kNavHeight, W, H - kNavHeight - kTopGap};
}

QRectF parkingFrame(double W, double H)
{
    return {W - 5.0, kNavHeight, W - 10.0, H - kNavHeight - kTopGap};
}

EndFrames endFrames(const QRectF& outgoing, const QRectF& incoming, int direction)
{
    const double y = incoming.y();
    const double w = incoming.width();
    const double h = incoming.height();
    switch (direction) {
    case Forward:
        return {QRectF(-w, y, w, h), QRectF(0.0, y, w, h)};
    case Back:
        return {QRectF(w, y, w, h), QRectF(0.0, y, w, h)};
    default:
        return {outgoing, incoming};
    }
}

QPainterPath animationPath(double W, double H)
{
    constexpr double margin = 70.0;
    QPainterPath path;
    path.moveTo(0.0, H);
    path.cubicTo(W + 100.0, H, W, H - margin, W / 2.0, H - margin);
    path.cubicTo(-20.0, H - margin, -20.0, H / 2.0, W / 2.0, H / 2.0);
    return path;
}

QRectF flipped(const QRectF& r, double parentHeight)
{
    return {r.x(), parentHeight - r.y() - r.height(), r.width(), r.height()};
}

QRect flippedRect(const QRectF& r, double parentHeight)
{
    const QRectF f = flipped(r, parentHeight);
    return {int(std::lround(f.x())), int(std::lround(f.y())), int(std::lround(f.width())),
            int(std::lround(f.height()))};
}

} // namespace KZWelcomeGeometry
