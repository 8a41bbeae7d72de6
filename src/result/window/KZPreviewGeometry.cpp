#include "result/window/KZPreviewGeometry.h"

#include "services/KZSharedFunctions.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace KZPreviewGeometry {

namespace {

// Toward zero, into a signed 16-bit whole number; values past its range are
// held at its ends rather than wrapped.
double trunc16(double value)
{
    if (!std::isfinite(value))
        return 0;
    return std::clamp(std::trunc(value), double(INT16_MIN), double(INT16_MAX));
}

int clampSide(double value)
{
    if (!std::isfinite(value))
        return minCardSide;
    return int(std::clamp(std::trunc(value), double(minCardSide), double(maxCardSide)));
}

double fittedHeight(double width, double height, double maxWidth)
{
    return KZSizeFittingMaxWidth(width, height, maxWidth).height();
}

} // namespace

QSize cardSize(const CardInput& in)
{
    const double innerWidth = in.pane.width() - in.inset.left - in.inset.right;
    const double innerHeight = in.pane.height() - in.inset.top - in.inset.bottom;
    double w = 0;
    double h = 0;
    if (in.kind == KZPreviewItem::Kind::Other) {
        if (in.vertical) {
            w = std::min(innerWidth, maxCardWidth);
            h = w + 35;
        } else {
            h = innerHeight;
            w = h - 35;
        }
    } else if (in.vertical) {
        w = std::min(innerWidth, maxCardWidth);
        if (in.kind == KZPreviewItem::Kind::Image) {
            const double fitted = fittedHeight(in.pixelWidth, in.pixelHeight, w - 30);
            h = 35 + (fitted > 0 ? fitted : w) + 115 + 30;
        } else {
            h = 35 + w + 115;
        }
    } else {
        h = innerHeight;
        w = in.widestText > 0 ? h + (in.descriptionWidth + in.widestText) - 15 : h - 35;
    }
    return QSize(clampSide(w), clampSide(h));
}

CardLayout imageOrSongLayout(QSizeF bounds, bool vertical, bool isSong, double pathHeight, double infoHeight,
                             double pixelWidth, double pixelHeight)
{
    CardLayout out;
    const double bw = bounds.width();
    const double bh = bounds.height();
    const double w = isSong ? 0 : pixelWidth;
    const double hp = isSong ? 0 : pixelHeight;
    double s = 0;
    double p = 0;
    double previewY = 0;
    double infoX = 0;
    double infoY = 0;
    double infoW = 0;
    if (vertical) {
        s = std::max(trunc16(bw) - 30, 75.0);
        const double fitted = trunc16(fittedHeight(w, hp, s));
        p = fitted > 0 ? fitted : s;
        previewY = bh - p - 15;
        infoW = std::max(bw > 322 ? 322 : bw - 30, 75.0);
        infoX = std::max(bw > 322 ? bw / 2 - 30 - infoW / 2 : 15.0, 15.0);
        infoY = trunc16(previewY) - infoHeight;
    } else {
        p = std::max(bh > 115 ? trunc16(trunc16(bh) - 45 - pathHeight) : trunc16(bh) - 30, 75.0);
        s = p;
        previewY = p > 115 ? pathHeight + 30 : bh / 2 - std::floor(p / 2);
        infoX = p + 30;
        // Held 15 points inside the card's right edge, which the panel
        // would otherwise overhang by as much.
        infoW = std::min(bw - 15 - p, bw - 15 - infoX);
        infoY = p > 115 ? trunc16(previewY + (std::floor((p + 15) / 2) - (infoHeight - 15) / 2)) : trunc16(bh / 2 - 48);
    }
    out.preview = QRectF(15, previewY, s, p);
    out.infoApplied = infoW > 10 && infoHeight > 0;
    out.info = QRectF(infoX, infoY, infoW, infoHeight);

    if (w > 0 && w < s && hp > 0 && hp < p)
        out.content = QRectF(s / 2 - w / 2, p / 2 - hp / 2, w, hp);
    else if (isSong && s < 165)
        out.content = QRectF(std::floor(s / 2) - 82.5, std::floor(s / 2) - 82.5, 165, 165);
    else
        out.content = QRectF(0, 0, s, p);

    out.path = QRectF(15, 15, bw - 30, pathHeight);
    // The path shows only with a little air between it and what stands
    // above it: the panel, and in a low card under the list the preview,
    // which is centred and reaches further down than the panel.
    const double above = vertical ? infoY : std::min(infoY, previewY);
    out.pathHidden = 15 + pathHeight + pathClearance > above;
    return out;
}

CardLayout otherItemLayout(QSizeF bounds, double pathHeight)
{
    CardLayout out;
    const double s = std::max(trunc16(bounds.width()) - 30, 75.0);
    const double y = bounds.height() - s - 15;
    const double x = bounds.width() / 2 - std::floor((s + 2) / 2);
    out.preview = QRectF(x, y, s, s);
    out.content = QRectF(0, 0, s, s);
    out.path = QRectF(x, 15, s, pathHeight);
    out.pathHidden = 15 + pathHeight > y;
    return out;
}

Flow flow(const QList<QSize>& sizes, bool vertical, QSizeF pane, const Insets& inset, double spacing)
{
    // Laid out y down first (rows from the top), then turned y up.
    Flow out;
    out.frames.reserve(sizes.size());
    const double limit = vertical ? pane.width() - inset.left - inset.right : pane.height() - inset.top - inset.bottom;
    double along = 0;      // within the current line
    double lineStart = 0;  // across the lines
    double lineExtent = 0; // the thickest card of the line
    double farthest = 0;
    QList<QRectF> down;
    down.reserve(sizes.size());
    for (const QSize& size : sizes) {
        const double length = vertical ? size.width() : size.height();
        const double thickness = vertical ? size.height() : size.width();
        if (along > 0 && along + length > limit) {
            lineStart += lineExtent + spacing;
            along = 0;
            lineExtent = 0;
        }
        const double x = vertical ? inset.left + along : inset.left + lineStart;
        const double y = vertical ? inset.top + lineStart : inset.top + along;
        down.append(QRectF(x, y, size.width(), size.height()));
        along += length + spacing;
        lineExtent = std::max(lineExtent, thickness);
        farthest = std::max(farthest, along - spacing);
    }
    const double lines = sizes.isEmpty() ? 0 : lineStart + lineExtent;
    QSizeF content = vertical ? QSizeF(inset.left + farthest + inset.right, inset.top + lines + inset.bottom)
                              : QSizeF(inset.left + lines + inset.right, inset.top + farthest + inset.bottom);
    // The content fills the pane at least, so cards sit at its top.
    content = content.expandedTo(pane);
    out.contentSize = content;
    for (const QRectF& r : down)
        out.frames.append(QRectF(r.x(), content.height() - r.y() - r.height(), r.width(), r.height()));
    return out;
}

} // namespace KZPreviewGeometry
