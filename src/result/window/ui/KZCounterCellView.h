#pragma once

class QPainter;
class QRect;

// The pill behind a group row's counter, in the row's cell: a gradient band
// between two lines with rounded ends, running from the image at its left
// end to the pop-up arrow at its right. It looks pressed while the group's
// mark menu is open and fades to half while files are being removed. The
// cell draws the counter text, the left image and the arrow over it.
class KZCounterCellView {
public:
    KZCounterCellView() = delete;

    // `checkImage` and `popup`: the pill's two end views, in row coordinates.
    static void draw(QPainter* painter, const QRect& checkImage, const QRect& popup, bool mouseIsDown, bool isRemoving);
};
