#pragma once

#include "result/window/KZPreviewItem.h"

#include <QList>
#include <QPointF>
#include <QRectF>
#include <QSize>
#include <QSizeF>

// The preview pane's geometry as pure functions, in points, y up (origin at
// the bottom left of the card or pane), as the widgets convert it once.
namespace KZPreviewGeometry {

// The room a card keeps beside its preview: the path control, the
// information panel and the margins; 532 is the widest card.
inline constexpr double maxCardWidth = 532;
inline constexpr int minCardSide = 75;
inline constexpr int maxCardSide = 32767;
// The least room between a picture's or song's path and the parts above it.
inline constexpr double pathClearance = 6;

struct Insets {
    double top = 0;
    double left = 0;
    double bottom = 0;
    double right = 0;
};

struct CardInput {
    KZPreviewItem::Kind kind = KZPreviewItem::Kind::Other;
    // List and pane side by side: the cards scroll vertically.
    bool vertical = true;
    // The visible area of the pane, and the flow's section inset.
    QSizeF pane;
    Insets inset;
    // The picture's pixel size; 0 when not known (and for songs).
    double pixelWidth = 0;
    double pixelHeight = 0;
    // The widest information line, and the width of the descriptions
    // beside the lines of this kind.
    double widestText = 0;
    double descriptionWidth = 0;
};

// The card's size; each side held to [75, 32767], so that no picture shape
// and no pane, however narrow, gives a negative or wrapped size.
QSize cardSize(const CardInput& input);

struct CardLayout {
    QRectF preview;
    // The picture (or icon) inside the preview area, in its coordinates.
    QRectF content;
    QRectF info;
    // The panel keeps its old frame when it would be 10 wide or less or has
    // no height.
    bool infoApplied = false;
    QRectF path;
    bool pathHidden = false;
};

// Pictures and songs. `bounds` is the card's size, `pathHeight` and
// `infoHeight` the heights of the path control and the information panel.
CardLayout imageOrSongLayout(QSizeF bounds, bool vertical, bool isSong, double pathHeight, double infoHeight,
                             double pixelWidth, double pixelHeight);
// Every other item, the same in both directions.
CardLayout otherItemLayout(QSizeF bounds, double pathHeight);

// Where the flow puts each card (its bottom-left corner, y up in a content
// area of `contentSize`): rows that wrap at the pane's inner width when the
// cards scroll vertically, columns that wrap at its inner height otherwise.
struct Flow {
    QList<QRectF> frames;
    QSizeF contentSize;
};
Flow flow(const QList<QSize>& sizes, bool vertical, QSizeF pane, const Insets& inset, double spacing);

} // namespace KZPreviewGeometry
