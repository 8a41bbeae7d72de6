#include "services/ui/KZShadowPainter.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// One pass of a box blur of half-width `r` along rows (or columns) of an
// alpha plane. Three passes come close to a Gaussian.
void boxBlur(std::vector<float>& plane, int width, int height, int r, bool alongRows)
{
    if (r <= 0)
        return;
    const int lines = alongRows ? height : width;
    const int length = alongRows ? width : height;
    std::vector<float> line(static_cast<size_t>(length));
    std::vector<float> prefix(static_cast<size_t>(length) + 1);
    const float norm = 1.0f / float(2 * r + 1);
    for (int l = 0; l < lines; ++l) {
        auto at = [&](int i) -> float& {
            return alongRows ? plane[size_t(l) * size_t(width) + size_t(i)]
                             : plane[size_t(i) * size_t(width) + size_t(l)];
        };
        prefix[0] = 0;
        for (int i = 0; i < length; ++i)
            prefix[size_t(i) + 1] = prefix[size_t(i)] + at(i);
        for (int i = 0; i < length; ++i) {
            const int lo = std::max(0, i - r);
            const int hi = std::min(length, i + r + 1);
            line[size_t(i)] = (prefix[size_t(hi)] - prefix[size_t(lo)]) * norm;
        }
        for (int i = 0; i < length; ++i)
            at(i) = line[size_t(i)];
    }
}

} // namespace

QImage KZShadowPainter::shadowImage(const QPainterPath& shape, qreal blurRadius, const QColor& color,
                                    qreal devicePixelRatio)
{
    const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    const qreal blur = std::max<qreal>(0, blurRadius);
    const QRectF bounds = shape.boundingRect().adjusted(-blur, -blur, blur, blur);
    const int width = int(std::ceil(bounds.width() * ratio));
    const int height = int(std::ceil(bounds.height() * ratio));
    if (width <= 0 || height <= 0)
        return {};

    QImage mask(width, height, QImage::Format_Alpha8);
    mask.fill(0);
    {
        QPainter p(&mask);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(ratio, ratio);
        p.translate(-bounds.topLeft());
        p.fillPath(shape, Qt::black);
    }

    std::vector<float> plane(size_t(width) * size_t(height));
    for (int y = 0; y < height; ++y) {
        const uchar* row = mask.constScanLine(y);
        for (int x = 0; x < width; ++x)
            plane[size_t(y) * size_t(width) + size_t(x)] = float(row[x]);
    }
    // Three box passes whose combined spread matches a blur radius of the
    // given size (about two standard deviations).
    const int r = int(std::lround(blur * ratio / 3.0));
    for (int pass = 0; pass < 3; ++pass) {
        boxBlur(plane, width, height, r, true);
        boxBlur(plane, width, height, r, false);
    }

    QImage shadow(width, height, QImage::Format_ARGB32_Premultiplied);
    const float alpha = float(color.alphaF());
    const float red = float(color.redF()), green = float(color.greenF()), blue = float(color.blueF());
    for (int y = 0; y < height; ++y) {
        auto* out = reinterpret_cast<QRgb*>(shadow.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const float a = std::clamp(plane[size_t(y) * size_t(width) + size_t(x)] / 255.0f * alpha, 0.0f, 1.0f);
            out[x] = qRgba(int(std::lround(red * a * 255)), int(std::lround(green * a * 255)),
                           int(std::lround(blue * a * 255)), int(std::lround(a * 255)));
        }
    }
    shadow.setDevicePixelRatio(ratio);
    return shadow;
}

void KZShadowPainter::drawShadow(QPainter& painter, const QPainterPath& shape, QPointF offset, qreal blurRadius,
                                 const QColor& color)
{
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const QImage shadow = shadowImage(shape, blurRadius, color, ratio);
    if (shadow.isNull())
        return;
    const qreal blur = std::max<qreal>(0, blurRadius);
    const QPointF origin = shape.boundingRect().topLeft() - QPointF(blur, blur) + offset;
    painter.drawImage(origin, shadow);
}
