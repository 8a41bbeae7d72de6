#pragma once

#include "result/model/KZShownList.h"

#include <QStyledItemDelegate>

class KZFoundItemsOutlineView;

// Paints the cells of every column and the group rows.
class KZFoundItemsDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit KZFoundItemsDelegate(KZFoundItemsOutlineView* view);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // The view's font at a pixel size, which the cells and the date column's
    // measure share.
    static QFont fontOfSize(const QFont& base, int pixels, bool bold = false);

private:
    void paintGroup(QPainter* painter, const QRect& rect, const KZListRow& row, int style) const;
    KZFoundItemsOutlineView* view_;
};
