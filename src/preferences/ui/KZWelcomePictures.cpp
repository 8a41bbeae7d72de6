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

QImage resultPicture(int side)
{
    QImage image = canvas(side);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = side;
    const QRectF window(s * 0.04, s * 0.12, s * 0.92, s * 0.76);
    p.setPen(QPen(QColor(0, 0, 0, 40), 1));
    p.setBrush(Qt::white);
    p.drawRoundedRect(window, 8, 8);

    // The tab strip: one coloured tab per kind of file.
    const QColor tabs[] = {QColor(0x5a, 0xa9, 0xf0), QColor(0x6c, 0xc4, 0x8b), QColor(0xf0, 0xb4, 0x4c),
                           QColor(0xe0, 0x6c, 0x9f)};
    const double tabWidth = (window.width() - s * 0.08) / 4.0;
    for (int i = 0; i < 4; ++i) {
        const QRectF tab(window.left() + s * 0.04 + i * tabWidth, window.top() + s * 0.04, tabWidth - 4, s * 0.07);
        p.setPen(Qt::NoPen);
        p.setBrush(i == 0 ? tabs[i] : tabs[i].lighter(140));
        p.drawRoundedRect(tab, 4, 4);
    }

    // Two groups: a grey bar, then members with a check box each; every
    // copy but the first is marked.
    double y = window.top() + s * 0.15;
    const double row = s * 0.075;
    for (int group = 0; group < 2; ++group) {
        const QRectF bar(window.left() + s * 0.03, y, window.width() - s * 0.06, row);
        QLinearGradient shade(bar.topLeft(), bar.bottomLeft());
        shade.setColorAt(0, QColor(0xee, 0xf0, 0xf4));
        shade.setColorAt(1, QColor(0xd9, 0xdd, 0xe4));
        p.setBrush(shade);
        p.drawRect(bar);
        p.setBrush(QColor(0x9a, 0xa3, 0xb0));
        p.drawRoundedRect(QRectF(bar.left() + s * 0.03, bar.center().y() - 3, s * 0.3, 6), 3, 3);
        y += row;
        for (int member = 0; member < (group == 0 ? 3 : 2); ++member) {
            const QRectF box(bar.left() + s * 0.03, y + row * 0.25, row * 0.5, row * 0.5);
            p.setPen(QPen(QColor(0x8a, 0x93, 0xa0), 1));
            p.setBrush(member == 0 ? QBrush(Qt::white) : QBrush(QColor(0x4f, 0x8f, 0xdc)));
            p.drawRoundedRect(box, 2, 2);
            if (member != 0) {
                p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
                p.drawPolyline(QPolygonF({box.topLeft() + QPointF(box.width() * 0.2, box.height() * 0.55),
                                          box.topLeft() + QPointF(box.width() * 0.42, box.height() * 0.78),
                                          box.topLeft() + QPointF(box.width() * 0.82, box.height() * 0.25)}));
            }
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(0xc4, 0xca, 0xd3));
            p.drawRoundedRect(QRectF(box.right() + s * 0.03, box.center().y() - 3, s * (0.42 - member * 0.05), 6), 3,
                              3);
            y += row;
        }
    }
    return image;
}

QImage removalPicture(int side)
{
    QImage image = canvas(side);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = side;

    // A bin with a sheet going in.
    const QRectF bin(s * 0.28, s * 0.36, s * 0.44, s * 0.5);
    QPainterPath body;
    body.moveTo(bin.left(), bin.top());
    body.lineTo(bin.right(), bin.top());
    body.lineTo(bin.right() - s * 0.04, bin.bottom());
    body.lineTo(bin.left() + s * 0.04, bin.bottom());
    body.closeSubpath();
    QLinearGradient metal(bin.topLeft(), bin.topRight());
    metal.setColorAt(0, QColor(0xb9, 0xc1, 0xcc));
    metal.setColorAt(0.5, QColor(0xe6, 0xea, 0xef));
    metal.setColorAt(1, QColor(0xa9, 0xb2, 0xbe));
    p.setPen(QPen(QColor(0x7d, 0x86, 0x93), 2));
    p.setBrush(metal);
    p.drawPath(body);
    p.setPen(QPen(QColor(0x8d, 0x96, 0xa3), 3, Qt::SolidLine, Qt::RoundCap));
    for (int i = 1; i <= 3; ++i) {
        const double x = bin.left() + bin.width() * i / 4.0;
        p.drawLine(QPointF(x, bin.top() + s * 0.06), QPointF(x, bin.bottom() - s * 0.06));
    }
    p.setPen(QPen(QColor(0x7d, 0x86, 0x93), 2));
    p.setBrush(QColor(0xd5, 0xdb, 0xe3));
    p.drawRoundedRect(QRectF(bin.left() - s * 0.03, bin.top() - s * 0.06, bin.width() + s * 0.06, s * 0.06), 4, 4);

    p.save();
    p.translate(s * 0.5, s * 0.22);
    p.rotate(-14);
    p.setPen(QPen(QColor(0xb0, 0xbb, 0xcc), 1.5));
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(-s * 0.1, -s * 0.13, s * 0.2, s * 0.26), 4, 4);
    p.restore();

    // The undo arrow bringing it back.
    QPainterPath arrow;
    arrow.moveTo(s * 0.82, s * 0.5);
    arrow.cubicTo(s * 0.95, s * 0.3, s * 0.8, s * 0.1, s * 0.62, s * 0.12);
    p.setPen(QPen(QColor(0x4f, 0x8f, 0xdc), s * 0.035, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(arrow);
    QPainterPath head;
    head.moveTo(s * 0.56, s * 0.12);
    head.lineTo(s * 0.66, s * 0.05);
    head.lineTo(s * 0.65, s * 0.19);
    head.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x4f, 0x8f, 0xdc));
    p.drawPath(head);
    return image;
}

QImage newsletterPicture(int side)
{
    QImage image = canvas(side);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = side;
    const QRectF envelope(s * 0.1, s * 0.28, s * 0.8, s * 0.5);

    // The letter sticking out of the open envelope.
    p.setPen(QPen(QColor(0xc4, 0xcc, 0xd8), 1.5));
    p.setBrush(Qt::white);
    const QRectF letter(envelope.left() + s * 0.08, envelope.top() - s * 0.16, envelope.width() - s * 0.16, s * 0.4);
    p.drawRoundedRect(letter, 4, 4);
    p.setPen(QPen(QColor(0xc4, 0xcc, 0xd8), s * 0.025, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 3; ++i) {
        const double y = letter.top() + s * 0.06 + i * s * 0.06;
        p.drawLine(QPointF(letter.left() + s * 0.05, y), QPointF(letter.right() - s * (i == 2 ? 0.2 : 0.05), y));
    }

    QLinearGradient paper(envelope.topLeft(), envelope.bottomLeft());
    paper.setColorAt(0, QColor(0x6a, 0xa8, 0xf0));
    paper.setColorAt(1, QColor(0x3d, 0x78, 0xc8));
    p.setPen(Qt::NoPen);
    p.setBrush(paper);
    QPainterPath pocket;
    pocket.moveTo(envelope.topLeft());
    pocket.lineTo(envelope.center().x(), envelope.top() + envelope.height() * 0.55);
    pocket.lineTo(envelope.topRight());
    pocket.lineTo(envelope.bottomRight());
    pocket.lineTo(envelope.bottomLeft());
    pocket.closeSubpath();
    p.drawPath(pocket);
    p.setPen(QPen(QColor(255, 255, 255, 90), 2));
    p.drawLine(envelope.bottomLeft(), QPointF(envelope.center().x(), envelope.top() + envelope.height() * 0.45));
    p.drawLine(envelope.bottomRight(), QPointF(envelope.center().x(), envelope.top() + envelope.height() * 0.45));
    return image;
}

} // namespace KZWelcomePictures
