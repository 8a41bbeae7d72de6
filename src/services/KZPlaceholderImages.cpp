// The drawn images of the file-system service, apart from the rest so that a
// program without windows that uses the utilities does not load the
// graphics library.
#include "services/KZPlaceholderImages.h"

#include <QPainter>
#include <QPainterPath>

QImage KZPlaceholderImages::placeholderImageWithSize(QSize size)
{
    if (size.isEmpty())
        return {};
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    // Inset by half the line so that the whole stroke stays inside.
    shape.addRoundedRect(QRectF(0.5, 0.5, size.width() - 1.0, size.height() - 1.0), 10.0, 10.0);
    painter.fillPath(shape, QColor::fromRgbF(0.7f, 0.7f, 0.7f, 0.3f));
    QPen pen(QColor::fromRgbF(0.6f, 0.6f, 0.6f, 0.9f));
    pen.setWidthF(1.0);
    painter.strokePath(shape, pen);
    return image;
}

QImage KZPlaceholderImages::ghostIconWithIcon(const QImage& icon, QSize size)
{
    if (size.isEmpty())
        return {};
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    if (icon.isNull())
        return image;
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setOpacity(0.5);
    // The icon keeps its own size and sits on the bottom-left corner.
    painter.drawImage(QPoint(0, size.height() - icon.height()), icon);
    return image;
}
