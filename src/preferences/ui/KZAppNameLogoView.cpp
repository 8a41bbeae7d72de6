#include "preferences/ui/KZAppNameLogoView.h"

#include "services/ui/KZShadowPainter.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

namespace {
constexpr qreal kLogoPointSize = 76.0;
const QColor kLogoColour = QColor::fromRgbF(0.454f, 0.698f, 0.964f, 1.0f);
}

KZAppNameLogoView::KZAppNameLogoView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    font_ = font();
    font_.setPointSizeF(kLogoPointSize);
    font_.setWeight(QFont::ExtraLight);
    font_.setItalic(true);
}

void KZAppNameLogoView::setSemiboldFont()
{
    font_.setWeight(QFont::Thin);
    update();
}

void KZAppNameLogoView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QFontMetricsF metrics(font_);
    const qreal width = metrics.horizontalAdvance(string());
    const QPointF baseline((this->width() - width) / 2.0,
                           (height() - (metrics.ascent() + metrics.descent())) / 2.0 + metrics.ascent());
    QPainterPath letters;
    letters.addText(baseline, font_, string());
    // The shadow falls 4 points right and 4 down, blurred by 8, at 30 %.
    KZShadowPainter::drawShadow(p, letters, QPointF(4, 4), 8, QColor::fromRgbF(0, 0, 0, 0.3f));
    p.fillPath(letters, kLogoColour);
}
