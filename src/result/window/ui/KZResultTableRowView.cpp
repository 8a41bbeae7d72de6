#include "result/window/ui/KZResultTableRowView.h"

#include "result/window/ui/KZResultGroupTableRowView.h"

#include <QPainter>

void KZResultTableRowView::drawBackground(QPainter* painter, const QRect& r, bool selected, int style,
                                          KZCellFormatting::Tint tint,
                                          const std::optional<KZRowColourRecord>& backColorInfo)
{
    if (selected) {
        painter->fillRect(r, style == 1 ? KZCellFormatting::tintColour(tint) : KZCellFormatting::grey(0.86));
    } else if (backColorInfo) {
        painter->fillRect(r, KZCellFormatting::grey(KZRowColours::greyForCode(backColorInfo->colorCode)));
        if (backColorInfo->isFirstGroupLine) {
            // The same colour as the group bar's lines.
            painter->setPen(QPen(KZResultGroupTableRowView::strokeColour(), 0.5));
            painter->drawLine(QPointF(r.left(), r.top() + 0.25), QPointF(r.right() + 1, r.top() + 0.25));
        }
    } else {
        painter->fillRect(r, Qt::white);
    }
}
