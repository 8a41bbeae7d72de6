#include "preferences/ui/KZWelcomePictures.h"

#include <QConicalGradient>
#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace KZWelcomePictures {

namespace {

QImage canvas(int side)
{
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

void drawDisc(QPainter& p, const QRectF& disc)
{
    QRadialGradient fill(disc.center(), disc.width() / 2.0);
    fill.setColorAt(0.0, QColor(0x3a, 0x40, 0x4c));
    fill.setColorAt(1.0, QColor(0x22, 0x26, 0x2e));
    p.setPen(QPen(QColor(255, 255, 255, 60), 1.5));
    p.setBrush(fill);
    p.drawEllipse(disc);
}

void drawFolder(QPainter& p, const QRectF& r, const QColor& colour)
{
    QPainterPath back;
    back.moveTo(r.left(), r.top() + r.height() * 0.12);
    back.lineTo(r.left() + r.width() * 0.38, r.top() + r.height() * 0.12);
    back.lineTo(r.left() + r.width() * 0.46, r.top());
    back.lineTo(r.right(), r.top());
    back.lineTo(r.right(), r.bottom());
    back.lineTo(r.left(), r.bottom());
    back.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(colour.darker(125));
    p.drawPath(back);
    QLinearGradient front(r.topLeft(), r.bottomLeft());
    front.setColorAt(0.0, colour.lighter(120));
    front.setColorAt(1.0, colour);
    p.setBrush(front);
    p.drawRoundedRect(QRectF(r.left(), r.top() + r.height() * 0.22, r.width(), r.height() * 0.78), 3, 3);
}

} // namespace

QImage searchWindowPicture(int side)
{
    QImage image = canvas(side);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF disc(side * 0.04, side * 0.04, side * 0.92, side * 0.92);
    drawDisc(p, disc);

    // Three folders on the tile row, the way added sources look.
    const double tile = side * 0.18;
    const double gap = side * 0.05;
    const double rowWidth = 3 * tile + 2 * gap;
    const QColor colours[] = {QColor(0x5a, 0xa9, 0xf0), QColor(0x6c, 0xc4, 0x8b), QColor(0xf0, 0xb4, 0x4c)};
    for (int i = 0; i < 3; ++i) {
        const QRectF r((side - rowWidth) / 2.0 + i * (tile + gap), side * 0.36, tile, tile * 0.8);
        drawFolder(p, r, colours[i]);
    }

    // The Start button under the row.
    const QRectF button(side * 0.34, side * 0.66, side * 0.32, side * 0.1);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x74, 0xb2, 0xf6));
    p.drawRoundedRect(button, button.height() / 2, button.height() / 2);
    QFont font;
    font.setPixelSize(int(side * 0.055));
    font.setWeight(QFont::DemiBold);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(button, Qt::AlignCenter, QStringLiteral("Start"));
    return image;
}

QImage progressPicture(int side)
{
    QImage image = canvas(side);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF disc(side * 0.04, side * 0.04, side * 0.92, side * 0.92);
    drawDisc(p, disc);

    // A ring of coloured file-type arcs around the counters.
    const QRectF ring = disc.adjusted(side * 0.1, side * 0.1, -side * 0.1, -side * 0.1);
    const struct {
        int span;
        QColor colour;
    } arcs[] = {{110, QColor(0x5a, 0xa9, 0xf0)}, {70, QColor(0x6c, 0xc4, 0x8b)}, {55, QColor(0xf0, 0xb4, 0x4c)},
                {40, QColor(0xe0, 0x6c, 0x9f)}};
    int start = 90;
    for (const auto& arc : arcs) {
        p.setPen(QPen(arc.colour, side * 0.06, Qt::SolidLine, Qt::FlatCap));
        p.drawArc(ring, start * 16, -arc.span * 16);
        start -= arc.span + 6;
    }

    QFont big;
    big.setPixelSize(int(side * 0.13));
    big.setWeight(QFont::Light);
    p.setFont(big);
    p.setPen(Qt::white);
    const QRectF centre = ring.adjusted(side * 0.1, side * 0.14, -side * 0.1, -side * 0.3);
    p.drawText(centre, Qt::AlignCenter, QStringLiteral("1 284"));
    QFont small;
    small.setPixelSize(int(side * 0.05));
    p.setFont(small);
    p.setPen(QColor(255, 255, 255, 170));
    p.drawText(centre.translated(0, side * 0.13), Qt::AlignCenter, QStringLiteral("duplicates"));
    return image;
}

} // namespace KZWelcomePictures
