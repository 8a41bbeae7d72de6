#pragma once

#include <QColor>

class QPainter;
class QRect;

// The row of a group in the grouped list paints the group bar under its
// cell: a light blue-grey gradient between two lines. A selected group turns
// a darker blue-grey in the focused list of the active window (style 1) and
// flat grey anywhere else.
class KZResultGroupTableRowView {
public:
    KZResultGroupTableRowView() = delete;

    // The colour of the bar's two lines.
    static QColor strokeColour();
    // `rect` spans the whole width of the list.
    static void drawBackground(QPainter* painter, const QRect& rect, bool selected, int style);
};
