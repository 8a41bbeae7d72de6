#include "result/panes/ui/KZResultBarItemView.h"

#include "result/panes/ui/KZResultTabItemView.h"

#include <QPainter>

KZResultBarItemView::KZResultBarItemView(const QRect& rect, const KZFileTypeLabelRef& label, bool isVertical,
                                         QWidget* parent)
    : KZTabSuperview(rect, label, false, parent), isVertical_(isVertical)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    hide();
}

void KZResultBarItemView::setTab(KZResultTabItemView* tab)
{
    tab_ = tab;
    update();
}

void KZResultBarItemView::setRightMargin(double margin)
{
    rightMargin_ = margin;
    update();
}

void KZResultBarItemView::setSelected(bool selected)
{
    if (!fadesEnabled()) {
        setContainerOpacity(selected ? 1.0 : 0.0);
        setVisible(selected);
        return;
    }
    if (selected) {
        if (isHidden()) {
            setContainerOpacity(0.0);
            show();
        }
        fadeIn();
    } else if (!isHidden()) {
        QPointer<KZResultBarItemView> self(this);
        fadeOut([self] {
            if (self)
                self->hide();
        });
    }
}

QPair<double, double> KZResultBarItemView::tabSpan() const
{
    if (!tab_ || !window() || tab_->window() != window())
        return {0.0, 0.0};
    const double x = tab_->mapTo(window(), QPoint(0, 0)).x() - mapTo(window(), QPoint(0, 0)).x();
    return {x, double(tab_->width())};
}

std::vector<QLineF> KZResultBarItemView::strokeSegments() const
{
    std::vector<QLineF> segments;
    const double h = height();
    if (isVertical_) {
        const KZTabStrokes::VerticalBar bar = KZTabStrokes::verticalBar(h);
        segments = KZTabStrokes::layerSegments(bar.stroke);
    } else {
        const auto [x, w] = tabSpan();
        const KZTabStrokes::HorizontalBar bar =
            KZTabStrokes::horizontalBar(width() - rightMargin_, kHorizontalHeight, x, w);
        for (const KZTabStrokes::Layer* layer : {&bar.left, &bar.right, &bar.bottom}) {
            const auto more = KZTabStrokes::layerSegments(*layer);
            segments.insert(segments.end(), more.begin(), more.end());
        }
    }
    return KZTabStrokes::flipToQt(segments, h);
}

void KZResultBarItemView::paintEvent(QPaintEvent*)
{
    if (containerOpacity() <= 0)
        return;
    QPainter painter(this);
    painter.setOpacity(containerOpacity());
    const double w = isVertical_ ? kVerticalWidth : width() - rightMargin_;
    const double h = height();
    painter.fillRect(QRectF(0, 0, w, h), newMainOnColor());

    const QColor stroke = newStrokeOnColor();
    if (isVertical_) {
        // The fill's own outline, on its left side only, centred on x = 0.
        const KZTabStrokes::VerticalBar bar = KZTabStrokes::verticalBar(h);
        painter.setPen(QPen(stroke, kLineWidth));
        for (const QLineF& line : KZTabStrokes::flipToQt(KZTabStrokes::layerSegments(bar.bar), h))
            painter.drawLine(line);
    }
    QPen pen(stroke, kThinLineWidth);
    pen.setJoinStyle(Qt::BevelJoin);
    painter.setPen(pen);
    for (const QLineF& line : strokeSegments())
        painter.drawLine(line);
}
