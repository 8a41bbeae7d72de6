#include "app/search/ui/KZSourcesView.h"

#include "app/search/KZSearchGeometry.h"
#include "app/search/ui/KZSourceTiles.h"

#include <QPainter>

KZSourcesView::KZSourcesView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    collection_ = new KZSourcesCollectionView(this);
    collection_->hide();
}

void KZSourcesView::install(QWidget* view, QWidget* below)
{
    setParent(view);
    resize(view->width(), view->height() / 2);
    setGeometry(parkedFrame());
    if (below)
        stackUnder(below);
    show();
}

QRect KZSourcesView::parkedFrame() const
{
    const int parentHeight = parentWidget() ? parentWidget()->height() : 0;
    // Half of it stays in the window as the drop tray.
    const double yUp = 8.0 - height() / 2.0;
    return {0, qRound(parentHeight - yUp - height()), width(), height()};
}

QRect KZSourcesView::shownFrame() const
{
    const int parentHeight = parentWidget() ? parentWidget()->height() : 0;
    // The dome's middle meets the small add button's final place.
    const double yUp = parentHeight / 2.0 - 48.0 + 122.0 + 12.0 - (height() - 1.0 - 48.0 * (1.0 - std::sin(M_PI / 8.0)) + 14.0);
    return {0, qRound(parentHeight - yUp - height()), width(), height()};
}

QRectF KZSourcesView::yUpFrame() const
{
    const int parentHeight = parentWidget() ? parentWidget()->height() : height();
    return {double(x()), double(parentHeight - y() - height()), double(width()), double(height())};
}

void KZSourcesView::paintEvent(QPaintEvent*)
{
    const QRectF frame = yUpFrame();
    const QPainterPath shape = KZSearchGeometry::dropAreaShape(frame, addButtonCircleRadius_, addedItems_);
    if (shape.isEmpty())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // The shapes are worked out with y up.
    painter.translate(0, height());
    painter.scale(1, -1);
    painter.setBrush(QColor(0, 0, 0, 128));
    painter.setPen(QPen(QColor(0, 0, 0), 2.0, Qt::SolidLine, Qt::FlatCap, Qt::BevelJoin));
    painter.drawPath(shape);
    const QPainterPath base = KZSearchGeometry::dropAreaBaseLine(frame, addedItems_);
    if (!base.isEmpty())
        painter.drawPath(base);
}
