#include "result/window/ui/KZFoundItemsOutlineView.h"

#include "result/model/KZColumnKeys.h"
#include "result/window/KZTableHeaderCntrl.h"
#include "result/window/ui/KZFoundItemsModel.h"
#include "result/window/ui/KZResultGroupTableRowView.h"
#include "result/window/ui/KZResultTableRowView.h"
#include "services/KZDateUtilities.h"
#include "services/ui/KZFileIcons.h"

#include <QApplication>
#include <QDateTime>
#include <QHash>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSet>

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

QFont fontOfSize(const QFont& base, int pixels, bool bold = false)
{
    QFont font(base);
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

} // namespace

// ---- The view ------------------------------------------------------------------------

KZFoundItemsOutlineView::KZFoundItemsOutlineView(QWidget* parent) : QTreeView(parent)
{
    setObjectName(QStringLiteral("foundListView"));
    viewport()->setObjectName(QStringLiteral("foundListViewport"));
    setUniformRowHeights(false);
    // The selection bar is the only mark of the current row.
    setAllColumnsShowFocus(false);
    setFocusPolicy(Qt::StrongFocus);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSortingEnabled(false);
    setAlternatingRowColors(false);
    setRootIsDecorated(false);
    setIndentation(18);
    setUniformRowHeights(false);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFrameShape(QFrame::NoFrame);
    header()->setSectionsClickable(true);
    header()->setSectionsMovable(false);
    header()->setHighlightSections(false);
    header()->setStretchLastSection(true);
    // Rows paint their own selection; the style's would cover the group bar.
    QPalette pal = palette();
    for (auto group : {QPalette::Active, QPalette::Inactive})
        pal.setColor(group, QPalette::Highlight, Qt::transparent);
    pal.setColor(QPalette::Base, Qt::white);
    setPalette(pal);
    setItemDelegate(new KZFoundItemsDelegate(this));
}

KZFoundItemsModel* KZFoundItemsOutlineView::foundModel() const
{
    return qobject_cast<KZFoundItemsModel*>(model());
}

void KZFoundItemsOutlineView::setFoundModel(KZFoundItemsModel* foundModel)
{
    setModel(foundModel);
    connect(foundModel, &QAbstractItemModel::modelReset, this, &KZFoundItemsOutlineView::applyGroupSpans);
}

void KZFoundItemsOutlineView::setShowByGroup(bool grouped)
{
    showByGroup_ = grouped;
    setRootIsDecorated(grouped);
    // Members sit two indentation steps in; the box column makes room for
    // them so that the box keeps its own width.
    header()->resizeSection(0, 28 + (grouped ? 2 * indentation() : 0));
}

void KZFoundItemsOutlineView::applyGroupSpans()
{
    KZFoundItemsModel* found = foundModel();
    if (!found || !found->isGrouped())
        return;
    const int rows = found->rowCount();
    for (int row = 0; row < rows; ++row)
        setFirstColumnSpanned(row, QModelIndex(), true);
}

void KZFoundItemsOutlineView::setActiveOverride(std::optional<bool> listActive, std::optional<bool> windowActive)
{
    listActive_ = listActive;
    windowActive_ = windowActive;
    viewport()->update();
}

bool KZFoundItemsOutlineView::isActive() const
{
    return listActive_.value_or(hasFocus());
}

bool KZFoundItemsOutlineView::windowIsActive() const
{
    return windowActive_.value_or(window()->isActiveWindow());
}

std::pair<int, int> KZFoundItemsOutlineView::visibleItemsRange() const
{
    const QModelIndex top = indexAt(QPoint(1, 1));
    if (!top.isValid())
        return {0, 0};
    const int first = rowOfIndex(top);
    int count = 0;
    for (QModelIndex index = top; index.isValid(); index = indexBelow(index)) {
        if (visualRect(index).top() >= viewport()->height())
            break;
        ++count;
    }
    return {first, count};
}

QModelIndex KZFoundItemsOutlineView::indexAtRow(int row) const
{
    // Rows count as the outline shows them, expanded members included; a
    // walk from the top is linear, so callers ask near the visible area.
    if (row < 0 || !model())
        return {};
    QModelIndex index = model()->index(0, 0);
    for (int i = 0; i < row && index.isValid(); ++i)
        index = indexBelow(index);
    return index;
}

int KZFoundItemsOutlineView::rowOfIndex(const QModelIndex& target) const
{
    if (!target.isValid() || !model())
        return -1;
    const QModelIndex wanted = target.siblingAtColumn(0);
    int row = 0;
    for (QModelIndex index = model()->index(0, 0); index.isValid(); index = indexBelow(index), ++row)
        if (index == wanted)
            return row;
    return -1;
}

KZFoundItemsOutlineView::SelectionInfo KZFoundItemsOutlineView::selectionInfo() const
{
    SelectionInfo info;
    if (!selectionModel())
        return info;
    for (const QModelIndex& index : selectionModel()->selectedRows()) {
        if (index.data(KZFoundItemsModel::GroupRowRole).toBool())
            ++info.groupsCount;
        else
            ++info.itemsCount;
    }
    return info;
}

QList<KZListRow> KZFoundItemsOutlineView::selectedRows() const
{
    QList<KZListRow> rows;
    KZFoundItemsModel* found = foundModel();
    if (!found || !selectionModel())
        return rows;
    for (const auto& [top, index] : orderedSelection())
        rows.append(found->rowAt(index));
    return rows;
}

QList<std::pair<qint64, QModelIndex>> KZFoundItemsOutlineView::orderedSelection() const
{
    QList<std::pair<qint64, QModelIndex>> ordered;
    if (!selectionModel())
        return ordered;
    // The rows are groups with their members under them (or a flat list),
    // so a row's place follows from its group's row and its own: asking the
    // view where each row is would walk the list once per row, which a
    // selection of every row of a long list cannot afford.
    const QModelIndexList indexes = selectionModel()->selectedRows();
    ordered.reserve(indexes.size());
    for (const QModelIndex& index : indexes) {
        const QModelIndex parent = index.parent();
        const qint64 place = parent.isValid() ? (qint64(parent.row()) << 32) + index.row() + 1 : qint64(index.row()) << 32;
        ordered.append({place, index});
    }
    std::sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return ordered;
}

KZPreviewItems KZFoundItemsOutlineView::previewItemsForSelection() const
{
    KZPreviewItems items;
    KZFoundItemsModel* found = foundModel();
    if (!found)
        return items;
    QSet<const KZFoundItem*> seen;
    for (const auto& [top, index] : orderedSelection()) {
        const KZListRow row = found->rowAt(index);
        KZFoundItemRef item = row.item;
        qint64 place = top;
        if (row.isGroupRow() && !row.group->items().isEmpty()) {
            item = row.group->items().first();
            place += 1;
        }
        if (!item || seen.contains(item.get()))
            continue;
        seen.insert(item.get());
        auto preview = std::make_shared<KZPreviewItem>(item);
        preview->setIndex(place);
        items.append(preview);
    }
    return items;
}

KZFoundItemArray KZFoundItemsOutlineView::selectedItemsForPreview() const
{
    KZFoundItemArray items;
    QSet<const KZFoundItem*> seen;
    for (const KZListRow& row : selectedRows()) {
        KZFoundItemRef item = row.item;
        if (row.isGroupRow() && !row.group->items().isEmpty())
            item = row.group->items().first();
        // A group and its first member selected together show that item once.
        if (item && !seen.contains(item.get())) {
            seen.insert(item.get());
            items.append(item);
        }
    }
    return items;
}

int KZFoundItemsOutlineView::fullDateWidth() const
{
    // The widest full date with its time, over every month and weekday with
    // a two-digit day, at the font the cells use, with the cell's margins.
    // Measured once per font.
    static QHash<QString, int> measured;
    const QFont cellFont = fontOfSize(font(), 13);
    const QString key = cellFont.key();
    if (const auto found = measured.constFind(key); found != measured.constEnd())
        return found.value();
    const QFontMetrics metrics(cellFont);
    int widest = 0;
    for (int month = 1; month <= 12; ++month)
        for (int day = 22; day <= 28; ++day) {
            const QDateTime sample(QDate(2026, month, day), QTime(23, 59, 58));
            const QString text = KZDateUtilities::sharedControl().stringWithSeconds(
                KZDateUtilities::timeIntervalSinceReferenceDate(sample), 4, true, true);
            widest = std::max(widest, metrics.horizontalAdvance(text));
        }
    const int width = widest + 10 + 6;
    measured.insert(key, width);
    return width;
}

QList<KZListRow> KZFoundItemsOutlineView::rowsForMenu(const QModelIndex& clicked) const
{
    if (clicked.isValid() && selectionModel() && !selectionModel()->isRowSelected(clicked.row(), clicked.parent()))
        return {foundModel()->rowAt(clicked)};
    return selectedRows();
}

void KZFoundItemsOutlineView::drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const KZFoundItemsModel* found = foundModel();
    const KZListRow row = found ? found->rowAt(index) : KZListRow{};
    const bool selected = selectionModel() && selectionModel()->isRowSelected(index.row(), index.parent());
    const int style = KZCellFormatting::rowStyle(selected, isActive(), windowIsActive());
    const QRect r(0, option.rect.y(), viewport()->width(), option.rect.height());
    painter->save();
    if (row.isGroupRow()) {
        KZResultGroupTableRowView::drawBackground(painter, r, selected, style);
    } else {
        std::optional<KZRowColourRecord> backColorInfo;
        if (!showByGroup_ && !rowColours_.isEmpty())
            backColorInfo = KZRowColours::recordForRow(rowColours_, index.row());
        KZResultTableRowView::drawBackground(painter, r, selected, style, tint_, backColorInfo);
    }
    painter->restore();
    QTreeView::drawRow(painter, option, index);
}

void KZFoundItemsOutlineView::drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const
{
    if (!showByGroup_ || index.parent().isValid())
        return;
    // A plain disclosure triangle on the bar.
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(QColor(95, 100, 110));
    const QPointF c(rect.right() - 9.0, rect.center().y() + 0.5);
    QPolygonF triangle;
    if (isExpanded(index))
        triangle << QPointF(c.x() - 4.5, c.y() - 2.5) << QPointF(c.x() + 4.5, c.y() - 2.5) << QPointF(c.x(), c.y() + 3.5);
    else
        triangle << QPointF(c.x() - 2.5, c.y() - 4.5) << QPointF(c.x() + 3.5, c.y()) << QPointF(c.x() - 2.5, c.y() + 4.5);
    painter->drawPolygon(triangle);
    painter->restore();
}

void KZFoundItemsOutlineView::focusInEvent(QFocusEvent* event)
{
    if (isRemoving_) {
        clearFocus();
        return;
    }
    QTreeView::focusInEvent(event);
    viewport()->update();
}

void KZFoundItemsOutlineView::focusOutEvent(QFocusEvent* event)
{
    QTreeView::focusOutEvent(event);
    viewport()->update();
}

void KZFoundItemsOutlineView::mousePressEvent(QMouseEvent* event)
{
    if (isRemoving_)
        return;
    // The selection shows the accent only while the list is the key view, so a
    // press must make it so even where the platform gave focus elsewhere.
    setFocus(Qt::MouseFocusReason);
    const QModelIndex index = indexAt(event->position().toPoint());
    if (index.isValid() && ghostTest_ && foundModel() && isGhost(foundModel()->rowAt(index)))
        return; // a ghost is shown for context only and cannot be selected
    QTreeView::mousePressEvent(event);
}

bool KZFoundItemsOutlineView::viewportEvent(QEvent* e)
{
    // Rows have no hover look: the style's would tint the painted bars.
    switch (e->type()) {
    case QEvent::HoverEnter:
    case QEvent::HoverMove:
    case QEvent::HoverLeave:
        return false;
    default:
        return QTreeView::viewportEvent(e);
    }
}

bool KZFoundItemsOutlineView::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate || e->type() == QEvent::WindowDeactivate)
        viewport()->update();
    return QTreeView::event(e);
}

// ---- The cells -------------------------------------------------------------------------

KZFoundItemsDelegate::KZFoundItemsDelegate(KZFoundItemsOutlineView* view) : QStyledItemDelegate(view), view_(view) {}

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

    const QString counter = group.formattedMarkedCount() + QStringLiteral(" / ") + group.formattedCount();
    const QFont counterFont = fontOfSize(view_->font(), 11, true);
    const int pillWidth = QFontMetrics(counterFont).horizontalAdvance(counter) + 18;
    const QRect pill(rect.right() - pillWidth - 10, rect.top() + (rect.height() - 18) / 2, pillWidth, 18);
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(QPen(KZResultGroupTableRowView::strokeColour(), 1.0));
    painter->setBrush(group.markedCount() > 0 ? KZCellFormatting::tintColour(view_->tint()) : QColor(250, 251, 253));
    painter->drawRoundedRect(QRectF(pill).adjusted(0.5, 0.5, -0.5, -0.5), 9, 9);
    painter->setFont(counterFont);
    painter->setPen(group.markedCount() > 0 ? QColor(Qt::white) : QColor(70, 75, 85));
    painter->drawText(pill, Qt::AlignCenter, counter);

    const int textLeft = iconRect.right() + 8;
    const int textWidth = std::max(0, pill.left() - 8 - textLeft);
    const QFont nameFont = fontOfSize(view_->font(), 13, true);
    painter->setFont(nameFont);
    painter->setPen(style == 1 ? QColor(Qt::white) : KZCellFormatting::titleColour(0, false));
    painter->drawText(QRect(textLeft, rect.top() + 3, textWidth, 19), Qt::AlignLeft | Qt::AlignVCenter,
                      QFontMetrics(nameFont).elidedText(group.name(), Qt::ElideRight, textWidth));
    const QFont infoFont = fontOfSize(view_->font(), 11);
    painter->setFont(infoFont);
    painter->setPen(style == 1 ? QColor(Qt::white) : KZCellFormatting::subTitleColour(0, false));
    painter->drawText(QRect(textLeft, rect.top() + 21, textWidth, 15), Qt::AlignLeft | Qt::AlignVCenter,
                      QFontMetrics(infoFont).elidedText(group.extraInfoFormatted(false), Qt::ElideRight, textWidth));
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
        const QFont nameFont = fontOfSize(view_->font(), 13);
        painter->setFont(nameFont);
        painter->setPen(title);
        painter->drawText(QRect(textLeft, r.top() + 2, width, 18), Qt::AlignLeft | Qt::AlignVCenter,
                          QFontMetrics(nameFont).elidedText(item->name(), Qt::ElideRight, width));
        const QFont pathFont = fontOfSize(view_->font(), 11);
        painter->setFont(pathFont);
        painter->setPen(KZCellFormatting::subTitleColour(style, ghost));
        painter->drawText(QRect(textLeft, r.top() + 19, width, 15), Qt::AlignLeft | Qt::AlignVCenter,
                          QFontMetrics(pathFont).elidedText(item->pathToDisplayInCell(), Qt::ElideMiddle, width));
    } else {
        QString text;
        Qt::Alignment align = Qt::AlignLeft;
        if (column == date_modified_col) {
            const QFontMetrics metrics(fontOfSize(view_->font(), 13));
            const int room = r.width() - 10;
            const double seconds = item->dateModified();
            for (const KZCellFormatting::DateForm& form :
                 KZCellFormatting::dateFormsFrom(KZCellFormatting::dateFormForWidth(r.width()))) {
                text = KZDateUtilities::sharedControl().stringWithSeconds(seconds, form.style, true, form.withTime);
                if (metrics.horizontalAdvance(text) <= room)
                    break;
            }
        } else if (column == size_col) {
            text = KZFoundItemsModel::objectValue(row, size_col).toString();
            align = Qt::AlignRight;
        } else if (column == kind_col) {
            text = item->kind();
        }
        const QFont font = fontOfSize(view_->font(), 13);
        painter->setFont(font);
        painter->setPen(title);
        const QRect textRect = r.adjusted(4, 0, -6, 0);
        painter->drawText(textRect, align | Qt::AlignVCenter,
                          QFontMetrics(font).elidedText(text, Qt::ElideRight, textRect.width()));
    }
    painter->restore();
}
