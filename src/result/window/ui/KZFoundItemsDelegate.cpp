#include "result/window/ui/KZFoundItemsDelegate.h"

#include "result/model/KZColumnKeys.h"
#include "result/window/KZCellFormatting.h"
#include "result/window/KZTableHeaderCntrl.h"
#include "result/window/ui/KZFoundItemsModel.h"
#include "result/window/ui/KZFoundItemsOutlineView.h"
#include "result/window/ui/KZResultGroupTableRowView.h"
#include "services/KZDateUtilities.h"
#include "services/ui/KZFileIcons.h"

#include <QPainter>

#include <algorithm>

namespace {

// An item without an icon of its own gets its kind's from the icon theme,
// once; the group row then shows its first member's.
QImage iconOfItem(KZFoundItem& item)
{
    QImage icon = item.fileIcon();
    if (icon.isNull()) {
        icon = KZFileIcons::kindIconForName(item.name(), item.isDirectory(), QSize(32, 32));
        item.setFileIcon(icon);
    }
    return icon;
}

} // namespace

QFont KZFoundItemsDelegate::fontOfSize(const QFont& base, int pixels, bool bold)
{
    QFont font(base);
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

KZFoundItemsDelegate::KZFoundItemsDelegate(KZFoundItemsOutlineView* view) : QStyledItemDelegate(view), view_(view) { }

const KZFoundItemsDelegate::Fonts& KZFoundItemsDelegate::fonts() const
{
    const QFont base = view_->font();
    if (!fonts_ || fonts_->base != base) {
        const QFont text = fontOfSize(base, 13);
        const QFont small = fontOfSize(base, 11);
        const QFont boldText = fontOfSize(base, 13, true);
        const QFont boldSmall = fontOfSize(base, 11, true);
        fonts_ = Fonts{base, text, QFontMetrics(text), small, QFontMetrics(small), boldText, QFontMetrics(boldText),
                       boldSmall, QFontMetrics(boldSmall)};
    }
    return *fonts_;
}

QSize KZFoundItemsDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const
{
    // Asked for every row when all groups open: answered from the index
    // alone (group rows are the top level of a grouped list).
    const bool group = view_->showByGroup() && !index.internalPointer();
    return {100, group ? KZTableHeaderCntrl::groupRowHeight : KZTableHeaderCntrl::itemRowHeight};
}

void KZFoundItemsDelegate::paintGroup(QPainter* painter, const QRect& rect, const KZListRow& row, int style) const
{
    KZFoundItemGroup& group = *row.group;
    // A group without its own icon shows, and keeps, its first member's.
    if (group.fileIcon().isNull() && !group.items().isEmpty() && group.items().first())
        group.setFileIcon(iconOfItem(*group.items().first()));
    QImage icon = group.fileIcon();
    if (icon.isNull())
        icon = KZFileIcons::kindIconForName(QString(), false, QSize(32, 32));
    const QRect iconRect(rect.left() + 2, rect.top() + (rect.height() - 32) / 2, 32, 32);
    painter->drawImage(iconRect, icon);

    const Fonts& f = fonts();
    const QString counter = group.formattedMarkedCount() + QStringLiteral(" / ") + group.formattedCount();
    const int pillWidth = f.boldSmallMetrics.horizontalAdvance(counter) + 18;
    const QRect pill(rect.right() - pillWidth - 10, rect.top() + (rect.height() - 18) / 2, pillWidth, 18);
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(QPen(KZResultGroupTableRowView::strokeColour(), 1.0));
    painter->setBrush(group.markedCount() > 0 ? KZCellFormatting::tintColour(view_->tint()) : QColor(250, 251, 253));
    painter->drawRoundedRect(QRectF(pill).adjusted(0.5, 0.5, -0.5, -0.5), 9, 9);
    painter->setFont(f.boldSmall);
    painter->setPen(group.markedCount() > 0 ? QColor(Qt::white) : QColor(70, 75, 85));
    painter->drawText(pill, Qt::AlignCenter, counter);

    const int textLeft = iconRect.right() + 8;
    const int textWidth = std::max(0, pill.left() - 8 - textLeft);
    painter->setFont(f.boldText);
    painter->setPen(style == 1 ? QColor(Qt::white) : KZCellFormatting::titleColour(0, false));
    painter->drawText(QRect(textLeft, rect.top() + 3, textWidth, 19), Qt::AlignLeft | Qt::AlignVCenter,
                      f.boldTextMetrics.elidedText(group.name(), Qt::ElideRight, textWidth));
    painter->setFont(f.small);
    painter->setPen(style == 1 ? QColor(Qt::white) : KZCellFormatting::subTitleColour(0, false));
    painter->drawText(QRect(textLeft, rect.top() + 21, textWidth, 15), Qt::AlignLeft | Qt::AlignVCenter,
                      f.smallMetrics.elidedText(group.extraInfoFormatted(false), Qt::ElideRight, textWidth));
}

void KZFoundItemsDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const KZFoundItemsModel* found = view_->foundModel();
    if (!found)
        return;
    const KZListRow row = found->rowAt(index);
    const bool selected = option.state.testFlag(QStyle::State_Selected);
    const int style = KZCellFormatting::rowStyle(selected, view_->isActive(), view_->windowIsActive());
    painter->save();
    if (row.isGroupRow()) {
        paintGroup(painter, option.rect, row, style);
        painter->restore();
        return;
    }
    const KZFoundItemRef& item = row.item;
    if (!item) {
        painter->restore();
        return;
    }
    const bool ghost = view_->isGhost(row);
    const QString column = KZTableHeaderCntrl::all().at(index.column()).identifier;
    const QRect r = option.rect;
    const QColor title = KZCellFormatting::titleColour(style, ghost);
    using namespace KZColumnKey;
    if (column == check_col) {
        QStyleOptionButton box;
        box.rect = QRect(r.center().x() - 8, r.center().y() - 8, 16, 16);
        box.state = (item->isMarked() ? QStyle::State_On : QStyle::State_Off);
        if (!ghost)
            box.state |= QStyle::State_Enabled;
        view_->style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, painter, view_);
    } else if (column == location_tag_col) {
        const QImage image = item->locationImage();
        if (!image.isNull())
            painter->drawImage(QRect(r.center().x() - 8, r.center().y() - 8, 16, 16), image);
    } else if (column == name_col) {
        int textLeft = r.left() + 4;
        if (!view_->showByGroup()) {
            const QImage icon = iconOfItem(*item);
            if (item->isInvisible() || ghost)
                painter->setOpacity(0.5);
            painter->drawImage(QRect(r.left() + 4, r.top() + 2, 32, 32), icon);
            painter->setOpacity(1.0);
            textLeft += 38;
        }
        const int width = std::max(0, r.right() - textLeft - 4);
        const Fonts& f = fonts();
        painter->setFont(f.text);
        painter->setPen(title);
        painter->drawText(QRect(textLeft, r.top() + 2, width, 18), Qt::AlignLeft | Qt::AlignVCenter,
                          f.textMetrics.elidedText(item->name(), Qt::ElideRight, width));
        painter->setFont(f.small);
        painter->setPen(KZCellFormatting::subTitleColour(style, ghost));
        painter->drawText(QRect(textLeft, r.top() + 19, width, 15), Qt::AlignLeft | Qt::AlignVCenter,
                          f.smallMetrics.elidedText(item->pathToDisplayInCell(), Qt::ElideMiddle, width));
    } else {
        const Fonts& f = fonts();
        QString text;
        Qt::Alignment align = Qt::AlignLeft;
        if (column == date_modified_col) {
            const int room = r.width() - 10;
            const double seconds = item->dateModified();
            for (const KZCellFormatting::DateForm& form :
                 KZCellFormatting::dateFormsFrom(KZCellFormatting::dateFormForWidth(r.width()))) {
                text = KZDateUtilities::sharedControl().stringWithSeconds(seconds, form.style, true, form.withTime);
                if (f.textMetrics.horizontalAdvance(text) <= room)
                    break;
            }
        } else if (column == size_col) {
            text = KZFoundItemsModel::objectValue(row, size_col).toString();
            align = Qt::AlignRight;
        } else if (column == kind_col) {
            text = item->kind();
        }
        painter->setFont(f.text);
        painter->setPen(title);
        const QRect textRect = r.adjusted(4, 0, -6, 0);
        painter->drawText(textRect, align | Qt::AlignVCenter,
                          f.textMetrics.elidedText(text, Qt::ElideRight, textRect.width()));
    }
    painter->restore();
}
