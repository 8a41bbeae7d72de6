#include "app/search/ui/KZSourceIcon.h"

#include "services/ui/KZFileIcons.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

QPixmap drawnFolder(int side)
{
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(side / 64.0, side / 64.0);
    QPainterPath back;
    back.moveTo(4, 14);
    back.lineTo(24, 14);
    back.lineTo(29, 19);
    back.lineTo(60, 19);
    back.lineTo(60, 54);
    back.lineTo(4, 54);
    back.closeSubpath();
    painter.setPen(QPen(QColor(38, 92, 150), 1.2));
    painter.setBrush(QColor(88, 150, 214));
    painter.drawPath(back);
    QLinearGradient front(0, 24, 0, 56);
    front.setColorAt(0, QColor(150, 200, 245));
    front.setColorAt(1, QColor(96, 160, 226));
    painter.setBrush(front);
    painter.drawRoundedRect(QRectF(4, 24, 56, 31), 3, 3);
    painter.setPen(QPen(QColor(255, 255, 255, 110), 1.0));
    painter.drawLine(QPointF(6, 26.5), QPointF(58, 26.5));
    return pixmap;
}

} // namespace

QIcon KZSourceIconForPath(const std::filesystem::path& path)
{
    QIcon icon = KZFileIcons::iconForItemPath(path);
    if (!icon.isNull() && !icon.availableSizes().isEmpty())
        return icon;
    if (!icon.isNull() && !icon.pixmap(32, 32).isNull())
        return icon;
    QIcon drawn;
    for (const int side : {32, 64, 128})
        drawn.addPixmap(drawnFolder(side));
    return drawn;
}
