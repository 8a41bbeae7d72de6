#pragma once

#include <QString>
#include <QtGlobal>

// The result window's wording that depends on its state.
namespace KZResultWindowState {

// The Edit menu's name of a removal's undo; empty for a removal of nothing.
QString removalUndoName(quint64 count, bool isTrashAction);

// Titles of the View menu's grouping and preview-position items for the
// switches' present states.
QString groupingItemTitle(bool shownByGroup);
QString previewItemTitle(bool previewBeside);

} // namespace KZResultWindowState
