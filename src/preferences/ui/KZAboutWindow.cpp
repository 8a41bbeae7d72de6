#include "preferences/ui/KZAboutWindow.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {
constexpr qreal kCornerRadius = 12.0;

QPainterPath outline(const QRectF& r)
{
    QPainterPath path;
    path.addRoundedRect(r, kCornerRadius, kCornerRadius);
    return path;
}
} // namespace

KZAboutWindow::KZAboutWindow(QWidget* parent) : KZPanelWindow(parent)
{
    setObjectName(QStringLiteral("aboutWindow"));
    setWindowTitle(tr("About Maravex"));
    // Above ordinary windows, as a panel the user opened on purpose.
    setWindowFlag(Qt::WindowStaysOnTopHint);
}

void KZAboutWindow::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF area = rect();
    QLinearGradient fill(area.topLeft(), area.bottomLeft());
    fill.setColorAt(0.0, QColor(0x33, 0x38, 0x42));
    fill.setColorAt(1.0, QColor(0x17, 0x1a, 0x20));
    p.fillPath(outline(area), fill);
    p.setPen(QPen(QColor(255, 255, 255, 40), 1.0));
    p.drawPath(outline(area.adjusted(0.5, 0.5, -0.5, -0.5)));
}

void KZAboutWindow::resizeEvent(QResizeEvent* event)
{
    KZPanelWindow::resizeEvent(event);
    setMask(QRegion(outline(rect()).toFillPolygon().toPolygon()));
}
