#include "app/search/KZSearchGeometry.h"

#include <QtMath>

#include <cmath>

namespace KZSearchGeometry {

const std::array<double, zoomSteps>& zoomTable()
{
    static const std::array<double, zoomSteps> table = [] {
        std::array<double, zoomSteps> t{};
        for (int i = 0; i < zoomSteps; ++i)
            t[static_cast<std::size_t>(i)] = 1.0 + 0.03 * i;
        return t;
    }();
    return table;
}

double addButtonSide(bool first, double p)
{
    const double span = largeSide - smallSide;
    return first ? smallSide + span * (1.0 - p) : largeSide - span * (1.0 - p);
}

double addButtonTravel(MoveKind kind)
{
    switch (kind) {
    case MoveKind::Panel:
        return 122.0;
    case MoveKind::Reset:
        return -122.0;
    case MoveKind::Drop:
        break;
    }
    return 70.0;
}

int addButtonLineWidth(bool first, double p)
{
    const double width = first ? 2.0 + 2.0 * (1.0 - p) : 4.0 - 2.0 * (1.0 - p);
    return static_cast<int>(width);
}

QRectF addButtonFrame(bool first, double p, MoveKind kind, double startY, const QRectF& current)
{
    const double side = addButtonSide(first, p);
    const double y = startY + p * addButtonTravel(kind);
    const double x = current.x() + current.width() / 2.0 - side / 2.0;
    return {x, y, side, side};
}

QRectF addButtonHoverRect(const QSizeF& viewSize, bool firstItemsWasAdded)
{
    const double side = firstItemsWasAdded ? 32.0 : 64.0;
    return {viewSize.width() / 2.0 - side / 2.0, viewSize.height() / 2.0 - side / 2.0, side, side};
}

QPainterPath plusSignPath(double h)
{
    const double arm = h / 3.0;
    QPainterPath path;
    path.moveTo(-0.5, arm);
    path.lineTo(-0.5, -arm);
    path.moveTo(-arm, 0.0);
    path.lineTo(arm, 0.0);
    return path;
}

namespace {

// PostScript's arct: from the current point towards `corner`, a circular arc
// of `radius` tangent to both legs, ending on the tangent point of the leg
// to `to` (the path does not go on to `to` itself).
void arcFromCorner(QPainterPath& path, QPointF corner, QPointF to, double radius)
{
    const QPointF from = path.currentPosition();
    const QPointF a = from - corner;
    const QPointF b = to - corner;
    const double la = std::hypot(a.x(), a.y());
    const double lb = std::hypot(b.x(), b.y());
    if (la <= 0.0 || lb <= 0.0 || radius <= 0.0) {
        path.lineTo(corner);
        return;
    }
    const QPointF ua = a / la;
    const QPointF ub = b / lb;
    const double cosTheta = std::clamp(ua.x() * ub.x() + ua.y() * ub.y(), -1.0, 1.0);
    const double theta = std::acos(cosTheta); // angle between the legs
    if (theta < 1e-9 || std::abs(theta - M_PI) < 1e-9) {
        path.lineTo(corner);
        return;
    }
    const double tangentDistance = radius / std::tan(theta / 2.0);
    const QPointF t1 = corner + ua * tangentDistance;
    const QPointF t2 = corner + ub * tangentDistance;
    const QPointF bisector = (ua + ub) / std::hypot((ua + ub).x(), (ua + ub).y());
    const QPointF centre = corner + bisector * (radius / std::sin(theta / 2.0));
    path.lineTo(t1);
    // QPainterPath angles are counter-clockwise in a y-up reading when the
    // y axis is flipped; compute them in the path's own (y-as-given) frame.
    const double start = std::atan2(-(t1.y() - centre.y()), t1.x() - centre.x());
    const double end = std::atan2(-(t2.y() - centre.y()), t2.x() - centre.x());
    double sweep = end - start;
    while (sweep > M_PI)
        sweep -= 2 * M_PI;
    while (sweep < -M_PI)
        sweep += 2 * M_PI;
    const QRectF box(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    path.arcTo(box, qRadiansToDegrees(start), qRadiansToDegrees(sweep));
}

} // namespace

QPainterPath dropAreaShape(const QRectF& frame, double radius, int addedItems)
{
    const double sinEighth = std::sin(M_PI / 8.0);
    const double top = frame.height() - 1.0 - radius * (1.0 - sinEighth);
    const double width = frame.width() - 2.0 - 12.0;
    const double margin = 7.0;
    const double bottom = 7.0 - frame.y();
    const double cornerRadius = frame.width() / 2.0 - 7.0;
    const double rise = top - bottom;
    const double under = width * width - 4.0 * (rise * rise - width * rise + 0.25 * width * width);
    if (!(under > 0.0))
        return {};
    const double d = 0.5 * std::sqrt(under);
    const double theta = std::atan(rise / d);
    const double e = rise / std::sin(2.0 * theta);
    const double mid = width / 2.0 + margin;

    QPainterPath path;
    path.moveTo(mid - d, top);
    arcFromCorner(path, {mid - e, bottom}, {mid, bottom}, cornerRadius);
    path.lineTo(mid, bottom);
    arcFromCorner(path, {mid + e, bottom}, {mid + d, top}, cornerRadius);
    path.lineTo(mid + d, top);
    if (addedItems > 0 && radius > 0.0) {
        const QPointF centre(mid, top - radius * sinEighth);
        const QRectF box(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
        // From pi/8 to 7pi/8 counter-clockwise in y-up: over the top of the
        // circle. With y as given (up), Qt's positive sweep runs the other
        // way, so the angles are negated.
        path.lineTo(centre.x() + radius * std::cos(M_PI / 8.0), centre.y() + radius * sinEighth);
        path.arcTo(box, -22.5, -135.0);
    }
    path.closeSubpath();
    return path;
}

QPainterPath dropAreaBaseLine(const QRectF& frame, int addedItems)
{
    QPainterPath path;
    if (addedItems <= 0)
        return path;
    const double width = frame.width() - 2.0 - 12.0;
    const double bottom = 7.0 - frame.y();
    const double under = width * width - 4.0 * (bottom * bottom + width * bottom + 0.25 * width * width);
    if (!(under > 0.0))
        return path;
    const double d0 = 0.5 * std::sqrt(under);
    const double mid = width / 2.0 + 7.0;
    path.moveTo(mid - d0, 0.5);
    path.lineTo(mid + d0, 0.5);
    return path;
}

double tileRowWidth(double tileWidth, int tiles, double outerWidth)
{
    if (tiles < 3)
        return tileWidth * tiles + 2.0;
    return outerWidth - 36.0;
}

QRectF closeButtonRect(const QRectF& iconFrame)
{
    return {iconFrame.x(), iconFrame.y() + iconFrame.height() - 20.0, 20.0, 20.0};
}

QRectF popoverAnchor(const QSizeF& tileSize)
{
    return {tileSize.width() / 2.0 - 2.0, tileSize.height() / 2.0 + 10.0, 4.0, 4.0};
}

} // namespace KZSearchGeometry
