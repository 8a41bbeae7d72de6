#include "preferences/ui/KZAppNameLogoView.h"

#include "services/ui/KZShadowPainter.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>

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
    // Few desktops have an italic face this thin, and a fallback face would
    // be much heavier: the upright thin face is slanted by hand instead.
    QFont upright = font_;
    upright.setItalic(false);
    const QFontMetricsF metrics(upright);
    const qreal width = metrics.horizontalAdvance(string());
    const qreal baseline = (height() - (metrics.ascent() + metrics.descent())) / 2.0 + metrics.ascent();
    QPainterPath letters;
    letters.addText(QPointF(0, 0), upright, string());
    const qreal slant = 0.2;
    QTransform place;
    place.translate((this->width() - width) / 2.0, baseline);
    place.shear(-slant, 0);
    letters = place.map(letters);
    // The shadow falls 4 points right and 4 down, blurred by 8, at 30 %.
    KZShadowPainter::drawShadow(p, letters, QPointF(4, 4), 8, QColor::fromRgbF(0, 0, 0, 0.3f));
    p.fillPath(letters, kLogoColour);
}
