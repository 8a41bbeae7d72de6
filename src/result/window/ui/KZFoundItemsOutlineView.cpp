#include "result/window/ui/KZFoundItemsOutlineView.h"
#include "result/window/ui/KZOutlineHeaderView.h"

#include "result/window/KZTableHeaderCntrl.h"
#include "result/window/ui/KZFoundItemsDelegate.h"
#include "result/window/ui/KZFoundItemsModel.h"
#include "result/window/ui/KZResultGroupTableRowView.h"
#include "result/window/ui/KZResultTableRowView.h"
#include "services/KZDateUtilities.h"
#include "services/ui/KZFocusRing.h"

#include <QApplication>
#include <QDateTime>
#include <QHash>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSet>
#include <QWheelEvent>

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
    setHeader(new KZOutlineHeaderView(this));
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
    // The style marks no focus on a list; the ring shows where Tab put it.
    KZFocusRing::showWhileFocused(this);
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
        const qint64 place = parent.isValid() ? (qint64(parent.row()) << 32) + index.row() + 1
                                              : qint64(index.row()) << 32;
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
    const QFont cellFont = KZFoundItemsDelegate::fontOfSize(font(), 13);
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

void KZFoundItemsOutlineView::drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                                      const QModelIndex& index) const
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
        triangle << QPointF(c.x() - 4.5, c.y() - 2.5) << QPointF(c.x() + 4.5, c.y() - 2.5)
                 << QPointF(c.x(), c.y() + 3.5);
    else
        triangle << QPointF(c.x() - 2.5, c.y() - 4.5) << QPointF(c.x() + 3.5, c.y())
                 << QPointF(c.x() - 2.5, c.y() + 4.5);
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
    if (isGhostIndex(index))
        return; // a ghost is shown for context only and cannot be selected
    QTreeView::mousePressEvent(event);
}

void KZFoundItemsOutlineView::wheelEvent(QWheelEvent* event)
{
    if (isRemoving_) {
        // Taken here, so that no scrolling parent moves the list instead.
        event->accept();
        return;
    }
    QTreeView::wheelEvent(event);
}

bool KZFoundItemsOutlineView::isGhostIndex(const QModelIndex& index) const
{
    return index.isValid() && ghostTest_ && foundModel() && isGhost(foundModel()->rowAt(index));
}

void KZFoundItemsOutlineView::deselectGhosts()
{
    if (!ghostTest_ || !selectionModel() || !model())
        return;
    QItemSelection ghosts;
    const int last = model()->columnCount() - 1;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        if (isGhostIndex(index))
            ghosts.select(index.siblingAtColumn(0), index.siblingAtColumn(last));
    if (!ghosts.isEmpty())
        selectionModel()->select(ghosts, QItemSelectionModel::Deselect);
}

void KZFoundItemsOutlineView::selectAll()
{
    QTreeView::selectAll();
    deselectGhosts();
}

void KZFoundItemsOutlineView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command)
{
    QTreeView::setSelection(rect, command);
    deselectGhosts();
}

QModelIndex KZFoundItemsOutlineView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers)
{
    const QModelIndex moved = QTreeView::moveCursor(cursorAction, modifiers);
    if (!isGhostIndex(moved))
        return moved;
    // On to the nearest row beyond the ghosts, in the way the key went; when
    // there is none, the cursor stays where it was.
    const bool down = cursorAction == MoveDown || cursorAction == MoveNext || cursorAction == MovePageDown ||
                      cursorAction == MoveHome || cursorAction == MoveRight;
    for (QModelIndex index = moved; index.isValid(); index = down ? indexBelow(index) : indexAbove(index))
        if (!isGhostIndex(index))
            return index;
    return currentIndex();
}

void KZFoundItemsOutlineView::keyPressEvent(QKeyEvent* event)
{
    // The list that takes the focus puts the keyboard on its first row
    // without selecting it; with nothing selected, Down and Up select the
    // row the keyboard is on instead of moving past it.
    const bool upOrDown = event->key() == Qt::Key_Down || event->key() == Qt::Key_Up;
    if (upOrDown && !isRemoving_ && event->modifiers() == Qt::NoModifier && selectionModel()
        && !selectionModel()->hasSelection() && currentIndex().isValid() && !isGhostIndex(currentIndex())) {
        selectionModel()->select(currentIndex(), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        scrollTo(currentIndex());
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
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
