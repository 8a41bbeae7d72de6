#pragma once

#include <QtGlobal>

// Geometry of the removal panel over a result view, in a frame whose y grows
// upwards (origin at the lower left); the widgets turn it into Qt's y-down
// coordinates with KZPanelRectToTopDown.
struct KZPanelRect {
    double x = 0, y = 0, width = 0, height = 0;
    bool operator==(const KZPanelRect&) const = default;
};

// The result view's frame inset by one point on every side.
KZPanelRect KZPanelCoverRect(const KZPanelRect& resultFrame);
// A card keeps its size, centred across the main view, its top 74 points
// below the main view's top.
KZPanelRect KZPanelCardRect(const KZPanelRect& mainFrame, const KZPanelRect& card);

enum class KZPanelPage { Trash, Move, Other };
// Where a page of the choosing card stands when shown (inside) or hidden
// (outside), from its current frame and the card's.
KZPanelRect KZPanelPageRect(KZPanelPage page, bool outside, const KZPanelRect& pageFrame,
                            const KZPanelRect& cardFrame);
// The veil tiles 1-4: a quarter of the cover rectangle when open, just off
// its corner when closed; a zero rectangle for any other number.
KZPanelRect KZPanelTileRect(qint16 tile, bool open, const KZPanelRect& cover);

// The same rectangle with y growing downwards inside a parent `parentHeight` high.
KZPanelRect KZPanelRectToTopDown(const KZPanelRect& rect, double parentHeight);
