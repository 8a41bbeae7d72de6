#include "app/progress/ui/KZProgressTabView.h"

#include "platform/NotificationCenter.h"
#include "services/KZNumberUtilities.h"
#include "settings/KZNotificationNames.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>

namespace G = KZProgressRingGeometry;

namespace {

double degrees(double radians)
{
    return radians * 180.0 / G::kPi;
}

QRectF circle(QPointF centre, double radius)
{
    return {centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius};
}

} // namespace

KZProgressTabView::KZProgressTabView(const QRect& rect, const KZFileTypeLabelRef& label, QPointF centre,
                                     QWidget* parent)
    : KZTabSuperview(rect, label, true, parent), centre_(centre)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setImageLayerOptions(imageLayerOptions());
}

QVariantMap KZProgressTabView::imageLayerOptions()
{
    return {{QStringLiteral("imageIsSquare"), true},     {QStringLiteral("fontName"), QStringLiteral("Monaco")},
            {QStringLiteral("fontSize"), 12.0},           {QStringLiteral("fontColorIsBlack"), false},
            {QStringLiteral("layerOrigin"), QStringLiteral("267.0, 271.0")}, {QStringLiteral("drawCircle"), true}};
}

void KZProgressTabView::setCentre(QPointF centre)
{
    centre_ = centre;
    rebuild();
}

void KZProgressTabView::updateTabWithLayerAndWithAperture(double halfAperture, double height, double angle)
{
    geometry_.halfAperture = halfAperture;
    geometry_.thickness = height;
    geometry_.angle = angle;
    if (const auto label = fileTypeItem())
        geometry_.tag = label->tag();
    platform::NotificationCenter::defaultCenter().post(KZNotification::updatefileTypeCount,
                                                       platform::bundleIdentifier());
    if (halfAperture == oldHalfAngleAperture_ && angle == builtAngle_ && !savedPath().isEmpty()) {
        update(); // only the size text may have changed
        return;
    }
    rebuild();
}

// The outline about the centre (y down): the inner arc clockwise, the outer
// arc back. Qt's arc angles run counter-clockwise on screen, as the ring's
// angles do in their y-up frame, so they carry over unchanged.
void KZProgressTabView::rebuild()
{
    oldHalfAngleAperture_ = geometry_.halfAperture;
    builtAngle_ = geometry_.angle;
    const double r1 = G::kInnerRadius, r2 = G::kInnerRadius + geometry_.thickness;
    const double from = degrees(geometry_.angle + geometry_.halfAperture);
    const double sweep = degrees(2 * geometry_.halfAperture);
    QPainterPath path;
    path.arcMoveTo(circle(centre_, r1), from);
    path.arcTo(circle(centre_, r1), from, -sweep);
    path.arcTo(circle(centre_, r2), from - sweep, sweep);
    path.closeSubpath();

    // Only the edges away from the disc are stroked.
    const double low = from - sweep;
    QPainterPath stroke;
    stroke.arcMoveTo(circle(centre_, r1), low);
    QPainterPath probe;
    probe.arcMoveTo(circle(centre_, r2), low);
    stroke.lineTo(probe.currentPosition());
    stroke.arcTo(circle(centre_, r2), low, sweep);
    probe.arcMoveTo(circle(centre_, r1), from);
    stroke.lineTo(probe.currentPosition());
    stroke_ = stroke;
    setSavedPath(path);
}

QPointF KZProgressTabView::flipped(QPointF yUp) const
{
    return {yUp.x(), 2 * centre_.y() - yUp.y()};
}

KZProgressTabView::SizeText KZProgressTabView::sizeText() const
{
    const auto label = fileTypeItem();
    if (!label)
        return {};
    const G::TextPlacement place = G::sizeTextPlacement(centre_, geometry_);
    SizeText text;
    text.centre = flipped(place.centre);
    text.rotation = -place.degrees;
    text.length = place.length;
    text.font = QApplication::font();
    text.font.setWeight(QFont::Light);
    const QString size = KZNumberUtilities::sharedControl().sizeToFormatString(label->size(), 4, true);
    const double largest = std::min(11.0, geometry_.thickness * 0.42);
    if (size != fit_.text || text.font != fit_.base || largest != fit_.largest || place.length != fit_.length) {
        QFont probe = text.font;
        const double fitted = G::fittingPointSize(largest, 7.0, place.length, [&probe, &size](double pointSize) {
            probe.setPointSizeF(pointSize);
            return double(QFontMetricsF(probe).horizontalAdvance(size));
        });
        fit_ = {size, text.font, largest, place.length, fitted};
    }
    const double points = fit_.points;
    if (points <= 0)
        return text; // the pointed tab's panel tells the size
    text.font.setPointSizeF(points);
    text.text = size;
    return text;
}

void KZProgressTabView::paintContents(QPainter& painter)
{
    const auto label = fileTypeItem();
    if (!label)
        return;
    const G::Tab& g = geometry_;
    if (icon_.isNull() || icon_.devicePixelRatio() != devicePixelRatioF())
        icon_ = tabImageWithOptions(imageLayerOptions(), devicePixelRatioF());

    // The letter near the tab's counter-clockwise end, upright along the tab.
    const QPointF iconUp = G::iconCentre(centre_, g);
    const double iconAngle = g.angle + std::max(g.halfAperture - 0.05, 0.0);
    painter.save();
    painter.translate(flipped(iconUp));
    painter.rotate(-G::uprightDegrees(iconAngle));
    painter.drawImage(QPointF(-G::kIconSide / 2, -G::kIconSide / 2), icon_);
    painter.restore();

    // The size found, along the tab after its letter.
    const SizeText text = sizeText();
    if (text.text.isEmpty())
        return;
    painter.save();
    painter.translate(text.centre);
    painter.rotate(text.rotation);
    painter.setFont(text.font);
    painter.setPen(textColor());
    painter.drawText(QRectF(-text.length / 2, -g.thickness / 2, text.length, g.thickness), Qt::AlignCenter, text.text);
    painter.restore();
}
