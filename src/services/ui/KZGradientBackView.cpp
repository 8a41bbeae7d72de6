#include "services/ui/KZGradientBackView.h"

#include "services/ui/KZShadowPainter.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>

namespace {

constexpr qreal kCornerRadius = 6.0;
constexpr qreal kShadowBlur = 10.0;
const QPointF kShadowOffset(4, 4); // right and down

} // namespace

KZGradientBackView::KZGradientBackView(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setContentsMargins(shadowMargins());
}

QMargins KZGradientBackView::shadowMargins()
{
    const int blur = int(kShadowBlur);
    return {blur - int(kShadowOffset.x()), blur - int(kShadowOffset.y()), blur + int(kShadowOffset.x()),
            blur + int(kShadowOffset.y())};
}

void KZGradientBackView::setPanelGeometry(const QRect& panel)
{
    setGeometry(panel.marginsAdded(shadowMargins()));
}

void KZGradientBackView::backgroundLayerWithTitle(const QString& title)
{
    title_ = title;
    hasBackground_ = true;
    update();
}

QRectF KZGradientBackView::panelRect() const
{
    return QRectF(rect().marginsRemoved(shadowMargins()));
}

QPainterPath KZGradientBackView::path() const
{
    QPainterPath outline;
    outline.addRoundedRect(panelRect(), kCornerRadius, kCornerRadius);
    return outline;
}

void KZGradientBackView::resizeEvent(QResizeEvent* event)
{
    shadow_ = {};
    QWidget::resizeEvent(event);
}

void KZGradientBackView::paintEvent(QPaintEvent*)
{
    const QRectF panel = panelRect();
    if (!hasBackground_ || panel.width() <= 0 || panel.height() <= 0)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath outline = path();

    if (shadow_.isNull())
        shadow_ = KZShadowPainter::shadowImage(outline, kShadowBlur, QColor::fromRgbF(0, 0, 0, 0.5f),
                                               devicePixelRatioF());
    painter.drawImage(outline.boundingRect().topLeft() - QPointF(kShadowBlur, kShadowBlur) + kShadowOffset, shadow_);

    painter.fillPath(outline, Qt::white);
    // Light grey at the bottom edge fading to nothing at the top.
    QLinearGradient wash(panel.bottomLeft(), panel.topLeft());
    wash.setColorAt(0.0, QColor::fromRgbF(0.87f, 0.87f, 0.87f, 1.0f));
    wash.setColorAt(1.0, QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.0f));
    painter.fillPath(outline, wash);
    painter.setPen(QPen(QColor::fromRgbF(0.78f, 0.78f, 0.78f), 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(outline);

    if (!title_.isEmpty()) {
        QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
        font.setPointSizeF(16);
        painter.setFont(font);
        painter.setPen(QColor::fromRgbF(0.15f, 0.15f, 0.15f));
        const QRectF box = titleRect();
        const QString shown = QFontMetricsF(font).elidedText(title_, Qt::ElideRight, box.width());
        painter.drawText(box, Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine, shown);
    }
}
