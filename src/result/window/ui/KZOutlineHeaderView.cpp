#include "result/window/ui/KZOutlineHeaderView.h"

#include <QStyleOptionHeader>

KZOutlineHeaderView::KZOutlineHeaderView(QWidget* parent) : QHeaderView(Qt::Horizontal, parent)
{
    // As the tree view's own header would be.
    setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void KZOutlineHeaderView::initStyleOptionForIndex(QStyleOptionHeader* option, int logicalIndex) const
{
    QHeaderView::initStyleOptionForIndex(option, logicalIndex);
    if (option->sortIndicator == QStyleOptionHeader::SortDown)
        option->sortIndicator = QStyleOptionHeader::SortUp;
    else if (option->sortIndicator == QStyleOptionHeader::SortUp)
        option->sortIndicator = QStyleOptionHeader::SortDown;
}
