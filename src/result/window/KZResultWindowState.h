#pragma once

#include <QString>
#include <QtGlobal>

// The result window's wording that depends on its state.
namespace KZResultWindowState {

// The Edit menu's name of a removal's undo; empty for a removal of nothing.
// `copied` of the `count` items were copies (from another disk), which an
// undo deletes rather than moves back: the name says which it undoes.
QString removalUndoName(quint64 count, bool isTrashAction, quint64 copied = 0);

// Titles of the View menu's grouping and preview-position items for the
// switches' present states.
QString groupingItemTitle(bool shownByGroup);
QString previewItemTitle(bool previewBeside);

// Tags of the toolbar's items; an item with another tag (the find field)
// follows only the window's key state and the removal.
inline constexpr int groupingToolbarTag = 3;
inline constexpr int previewToolbarTag = 4;

// Whether a toolbar item's control takes input: only in the key window and
// outside a removal, and never where its switch would change nothing (the
// missing-tracks tab has no list to group or preview, the empty-folders tab
// nothing to group).
bool toolbarItemEnabled(int tag, bool windowIsActive, bool isRemoving, quint64 tabTag);

} // namespace KZResultWindowState
