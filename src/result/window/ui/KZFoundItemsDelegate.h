#pragma once

#include "result/model/KZShownList.h"

#include <QFontMetrics>
#include <QStyledItemDelegate>

#include <optional>

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
    // The cells' fonts and their metrics, made again only when the view's
    // font changes: each scroll step paints every cell in sight.
    struct Fonts {
        QFont base;
        QFont text;
        QFontMetrics textMetrics;
        QFont small;
        QFontMetrics smallMetrics;
        QFont boldText;
        QFontMetrics boldTextMetrics;
        QFont boldSmall;
        QFontMetrics boldSmallMetrics;
    };
    const Fonts& fonts() const;
    void paintGroup(QPainter* painter, const QRect& rect, const KZListRow& row, int style) const;
    KZFoundItemsOutlineView* view_;
    mutable std::optional<Fonts> fonts_;
};
