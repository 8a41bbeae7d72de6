#include "services/ui/Popover.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

namespace platform {

namespace {
constexpr int kRadius = 8;
constexpr int kArrowHalf = 10;
} // namespace

Popover::Popover(QWidget* parent) : QFrame(parent, Qt::Popup | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint)
{
    setAttribute(Qt::WA_TranslucentBackground);
    new QVBoxLayout(this);
    setMarginsFor(edge_);
}

Popover::~Popover() = default;

void Popover::setContentWidget(QWidget* content)
{
    if (content_) {
        // Out of the layout now, not when it is deleted: the size asked for
        // right after would still count the old content with the new.
        layout()->removeWidget(content_);
        content_->hide();
        content_->deleteLater();
    }
    content_ = content;
    if (content)
        layout()->addWidget(content);
}

namespace {

bool isVertical(Popover::Edge edge)
{
    return edge == Popover::Edge::Below || edge == Popover::Edge::Above;
}

// The arrow's place along a side `length` long, kept clear of the corners.
int arrowAlong(int centre, int length)
{
    return std::clamp(centre, kRadius + kArrowHalf, std::max(kRadius + kArrowHalf, length - kRadius - kArrowHalf));
}

// The bubble's start, `length` long, on the axis that crosses the anchor's
// side: before the anchor (above or left) or after it, switching sides when
// only the other one has room, and kept on screen.
int besideAnchor(int anchorFirst, int anchorLast, int length, int availFirst, int availLast, bool& before)
{
    const bool roomAfter = anchorLast + length <= availLast;
    const bool roomBefore = anchorFirst - length >= availFirst;
    if (!before && !roomAfter && roomBefore)
        before = true;
    else if (before && !roomBefore && roomAfter)
        before = false;
    const int start = before ? anchorFirst - length : anchorLast + 1;
    return std::clamp(start, availFirst, std::max(availFirst, availLast + 1 - length));
}

// The bubble's start, `length` long, centred on `centre` and kept on screen.
int centredOn(int centre, int length, int availFirst, int availLast)
{
    return std::clamp(centre - length / 2, availFirst, std::max(availFirst, availLast + 1 - length));
}

} // namespace

QRect Popover::placement(const QRect& anchorGlobal, const QSize& size, const QRect& available, Edge preferred,
                         Edge* taken, int* arrowAt)
{
    Edge edge = preferred;
    int x = 0;
    int y = 0;
    int arrow = 0;
    if (isVertical(preferred)) {
        bool above = preferred == Edge::Above;
        y = besideAnchor(anchorGlobal.top(), anchorGlobal.bottom(), size.height(), available.top(), available.bottom(),
                         above);
        edge = above ? Edge::Above : Edge::Below;
        const int centreX = anchorGlobal.center().x();
        x = centredOn(centreX, size.width(), available.left(), available.right());
        arrow = arrowAlong(centreX - x, size.width());
    } else {
        bool left = preferred == Edge::Left;
        x = besideAnchor(anchorGlobal.left(), anchorGlobal.right(), size.width(), available.left(), available.right(),
                         left);
        edge = left ? Edge::Left : Edge::Right;
        const int centreY = anchorGlobal.center().y();
        y = centredOn(centreY, size.height(), available.top(), available.bottom());
        arrow = arrowAlong(centreY - y, size.height());
    }
    if (taken)
        *taken = edge;
    if (arrowAt)
        *arrowAt = arrow;
    return {QPoint(x, y), size};
}

void Popover::setMarginsFor(Edge edge)
{
    // The arrow takes its height from the side that faces the anchor.
    auto* box = qobject_cast<QVBoxLayout*>(layout());
    const int a = arrowHeight;
    switch (edge) {
    case Edge::Below: box->setContentsMargins(8, 8 + a, 8, 8); break;
    case Edge::Above: box->setContentsMargins(8, 8, 8, 8 + a); break;
    case Edge::Right: box->setContentsMargins(8 + a, 8, 8, 8); break;
    case Edge::Left: box->setContentsMargins(8, 8, 8 + a, 8); break;
    }
}

void Popover::showRelativeTo(QWidget* anchor, const QRect& anchorRect, Edge preferred)
{
    if (!anchor)
        return;
    const QRect global(anchor->mapToGlobal(anchorRect.topLeft()), anchorRect.size());
    QScreen* screen = anchor->screen() ? anchor->screen() : QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect(global.topLeft() - QPoint(2000, 2000), QSize(4000, 4000));
    // The size counts the arrow on the preferred side; a flip keeps the
    // arrow on the same axis, so the size holds for either side.
    setMarginsFor(preferred);
    adjustSize();
    const QSize size = sizeHint().expandedTo(minimumSizeHint());
    Edge edge = preferred;
    const QRect frame = placement(global, size, available, preferred, &edge, &arrowAt_);
    edge_ = edge;
    setMarginsFor(edge_);
    setGeometry(frame);
    updateShape();
    show();
    raise();
    activateWindow();
}

void Popover::toggleRelativeTo(QWidget* anchor, const QRect& anchorRect, Edge preferred)
{
    if (isVisible()) {
        close();
        return;
    }
    showRelativeTo(anchor, anchorRect, preferred);
}

QPainterPath Popover::bubblePath() const
{
    QRectF body = QRectF(rect()).adjusted(1, 1, -1, -1);
    switch (edge_) {
    case Edge::Below: body.setTop(body.top() + arrowHeight); break;
    case Edge::Above: body.setBottom(body.bottom() - arrowHeight); break;
    case Edge::Right: body.setLeft(body.left() + arrowHeight); break;
    case Edge::Left: body.setRight(body.right() - arrowHeight); break;
    }
    QPainterPath path;
    path.addRoundedRect(body, kRadius, kRadius);
    QPainterPath arrow;
    const double at = arrowAt_;
    switch (edge_) {
    case Edge::Below:
        arrow.moveTo(at - kArrowHalf, body.top() + 1);
        arrow.lineTo(at, 1);
        arrow.lineTo(at + kArrowHalf, body.top() + 1);
        break;
    case Edge::Above:
        arrow.moveTo(at - kArrowHalf, body.bottom() - 1);
        arrow.lineTo(at, height() - 1);
        arrow.lineTo(at + kArrowHalf, body.bottom() - 1);
        break;
    case Edge::Right:
        arrow.moveTo(body.left() + 1, at - kArrowHalf);
        arrow.lineTo(1, at);
        arrow.lineTo(body.left() + 1, at + kArrowHalf);
        break;
    case Edge::Left:
        arrow.moveTo(body.right() - 1, at - kArrowHalf);
        arrow.lineTo(width() - 1, at);
        arrow.lineTo(body.right() - 1, at + kArrowHalf);
        break;
    }
    arrow.closeSubpath();
    return path.united(arrow);
}

void Popover::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    updateShape();
}

void Popover::updateShape()
{
    // Without a compositor the clear corners would paint black.
    setMask(QRegion(bubblePath().toFillPolygon().toPolygon()).united(QRegion()));
}

void Popover::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath path = bubblePath();
    painter.setPen(QPen(palette().color(QPalette::Mid), 1));
    painter.setBrush(palette().color(QPalette::Window));
    painter.drawPath(path);
}

void Popover::hideEvent(QHideEvent* event)
{
    QFrame::hideEvent(event);
    Q_EMIT closed();
}

} // namespace platform
