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
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8 + arrowHeight, 8, 8);
}

Popover::~Popover() = default;

void Popover::setContentWidget(QWidget* content)
{
    if (content_)
        content_->deleteLater();
    content_ = content;
    if (content)
        layout()->addWidget(content);
}

QRect Popover::placement(const QRect& anchorGlobal, const QSize& size, const QRect& available, Edge preferred,
                         Edge* taken, int* arrowX)
{
    const bool roomBelow = anchorGlobal.bottom() + size.height() <= available.bottom();
    const bool roomAbove = anchorGlobal.top() - size.height() >= available.top();
    Edge edge = preferred;
    if (edge == Edge::Below && !roomBelow && roomAbove)
        edge = Edge::Above;
    else if (edge == Edge::Above && !roomAbove && roomBelow)
        edge = Edge::Below;

    const int centreX = anchorGlobal.center().x();
    int x = centreX - size.width() / 2;
    x = std::clamp(x, available.left(), std::max(available.left(), available.right() + 1 - size.width()));
    int y = edge == Edge::Below ? anchorGlobal.bottom() + 1 : anchorGlobal.top() - size.height();
    y = std::clamp(y, available.top(), std::max(available.top(), available.bottom() + 1 - size.height()));
    if (taken)
        *taken = edge;
    if (arrowX)
        *arrowX = std::clamp(centreX - x, kRadius + kArrowHalf, std::max(kRadius + kArrowHalf, size.width() - kRadius - kArrowHalf));
    return {QPoint(x, y), size};
}

void Popover::showRelativeTo(QWidget* anchor, const QRect& anchorRect, Edge preferred)
{
    if (!anchor)
        return;
    const QRect global(anchor->mapToGlobal(anchorRect.topLeft()), anchorRect.size());
    QScreen* screen = anchor->screen() ? anchor->screen() : QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect(global.topLeft() - QPoint(2000, 2000), QSize(4000, 4000));
    adjustSize();
    const QSize size = sizeHint().expandedTo(minimumSizeHint());
    Edge edge = preferred;
    const QRect frame = placement(global, size, available, preferred, &edge, &arrowX_);
    edge_ = edge;
    auto* box = qobject_cast<QVBoxLayout*>(layout());
    if (edge_ == Edge::Below)
        box->setContentsMargins(8, 8 + arrowHeight, 8, 8);
    else
        box->setContentsMargins(8, 8, 8, 8 + arrowHeight);
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
    if (edge_ == Edge::Below)
        body.setTop(body.top() + arrowHeight);
    else
        body.setBottom(body.bottom() - arrowHeight);
    QPainterPath path;
    path.addRoundedRect(body, kRadius, kRadius);
    QPainterPath arrow;
    if (edge_ == Edge::Below) {
        arrow.moveTo(arrowX_ - kArrowHalf, body.top() + 1);
        arrow.lineTo(arrowX_, 1);
        arrow.lineTo(arrowX_ + kArrowHalf, body.top() + 1);
    } else {
        arrow.moveTo(arrowX_ - kArrowHalf, body.bottom() - 1);
        arrow.lineTo(arrowX_, height() - 1);
        arrow.lineTo(arrowX_ + kArrowHalf, body.bottom() - 1);
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
