#pragma once

#include "result/window/KZCellFormatting.h"
#include "result/window/KZRowColours.h"

#include <optional>

class QPainter;
class QRect;

// The row of an item (every row but a group's) paints the background under
// its cells: the selection bar, or in the flat list the grey of its group's
// colour code with a thin line above a group's first member. Rows of the
// grouped list have no colour record and keep the plain background.
class KZResultTableRowView {
public:
    KZResultTableRowView() = delete;

    // `rect` spans the whole width of the list; `style` 1 is the selection of
    // the focused list in the active window, drawn in `tint`.
    static void drawBackground(QPainter* painter, const QRect& rect, bool selected, int style,
                               KZCellFormatting::Tint tint, const std::optional<KZRowColourRecord>& backColorInfo);
};
