#pragma once

#include "result/model/KZShownList.h"
#include "result/window/KZCellFormatting.h"
#include "result/window/KZPreviewItem.h"
#include "result/window/KZRowColours.h"

#include <QTreeView>

#include <functional>
#include <optional>

class KZFoundItemsModel;

// The outline of a tab's list: group rows spanning the width with their
// members below, or the flat list. Rows are painted, not built from
// widgets, so that lists of 100,000 rows stay light.
class KZFoundItemsOutlineView : public QTreeView {
    Q_OBJECT
public:
    explicit KZFoundItemsOutlineView(QWidget* parent = nullptr);

    KZFoundItemsModel* foundModel() const;
    void setFoundModel(KZFoundItemsModel* model);

    bool showByGroup() const { return showByGroup_; }
    void setShowByGroup(bool grouped);
    void setRowColours(QList<KZRowColourRecord> records) { rowColours_ = std::move(records); }
    const QList<KZRowColourRecord>& rowColours() const { return rowColours_; }
    // A ghost is shown for context only: no click, key or range of the user
    // selects it, and the arrow keys pass over it.
    void setGhostTest(std::function<bool(const KZListRow&)> test) { ghostTest_ = std::move(test); }
    bool isGhost(const KZListRow& row) const { return ghostTest_ && ghostTest_(row); }
    void selectAll() override;

    // During a removal the list takes no focus, no clicks and no scrolling:
    // the rows stay where the removal found them.
    void setIsRemoving(bool removing) { isRemoving_ = removing; }
    bool isRemoving() const { return isRemoving_; }

    // Whether the list and its window count as active (tests set them; by
    // default they follow the focus and the window).
    void setActiveOverride(std::optional<bool> listActive, std::optional<bool> windowActive);
    bool isActive() const;
    bool windowIsActive() const;
    void setTint(KZCellFormatting::Tint tint) { tint_ = tint; }
    KZCellFormatting::Tint tint() const { return tint_; }

    // The first visible row and how many rows are visible, top to bottom.
    std::pair<int, int> visibleItemsRange() const;
    QModelIndex indexAtRow(int row) const;
    int rowOfIndex(const QModelIndex& index) const;

    // Selected group rows and item rows, ascending by row.
    struct SelectionInfo {
        int groupsCount = 0;
        int itemsCount = 0;
    };
    SelectionInfo selectionInfo() const;
    QList<KZListRow> selectedRows() const;
    // The items the preview shows: each item once, a selected group standing
    // for its first member.
    KZFoundItemArray selectedItemsForPreview() const;
    // The same as preview items, each with the place of its row in the list
    // as index (a group's first member just after its group's row).
    KZPreviewItems previewItemsForSelection() const;
    // The rows a menu acts on: the row under the pointer when it is outside
    // the selection, else the selection.
    QList<KZListRow> rowsForMenu(const QModelIndex& clicked) const;
    // A date column this wide shows every date in full, with its time.
    int fullDateWidth() const;

    // Makes the group rows span the width again after a reset.
    void applyGroupSpans();

protected:
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    // The selected rows' indexes with their places in the list, top to
    // bottom (a group's members follow it, by their rows).
    QList<std::pair<qint64, QModelIndex>> orderedSelection() const;
    bool isGhostIndex(const QModelIndex& index) const;
    // Takes the ghosts out of what the user's gesture selected.
    void deselectGhosts();

    bool showByGroup_ = false;
    bool isRemoving_ = false;
    QList<KZRowColourRecord> rowColours_;
    std::function<bool(const KZListRow&)> ghostTest_;
    std::optional<bool> listActive_;
    std::optional<bool> windowActive_;
    KZCellFormatting::Tint tint_ = KZCellFormatting::Tint::Blue;
};
