#include "removal/KZRemovePanelGeometry.h"

KZPanelRect KZPanelCoverRect(const KZPanelRect& r)
{
    return {r.x + 1, r.y + 1, r.width - 2, r.height - 2};
}

KZPanelRect KZPanelCardRect(const KZPanelRect& main, const KZPanelRect& card)
{
    return {main.width / 2 - card.width / 2, main.height - (card.height + 74), card.width, card.height};
}

KZPanelRect KZPanelPageRect(KZPanelPage page, bool outside, const KZPanelRect& v, const KZPanelRect& card)
{
    switch (page) {
    case KZPanelPage::Trash:
        return outside ? KZPanelRect{v.x - v.width, v.y, v.width, v.height} : KZPanelRect{0, 0, v.width, card.height};
    case KZPanelPage::Move:
        return outside ? KZPanelRect{v.width, card.height - v.height, v.width, v.height}
                       : KZPanelRect{0, v.y, v.width, v.height};
    case KZPanelPage::Other:
        break;
    }
    return {};
}

KZPanelRect KZPanelTileRect(qint16 tile, bool open, const KZPanelRect& r)
{
    const double w = r.width / 2, h = r.height / 2;
    const double midX = r.x + w, midY = r.y + h, maxX = r.x + r.width, maxY = r.y + r.height;
    switch (tile) {
    case 1: return open ? KZPanelRect{r.x, midY, w, h} : KZPanelRect{r.x - w, maxY, w, h};
    case 2: return open ? KZPanelRect{r.x, r.y, w, h} : KZPanelRect{r.x - w, r.y - h, w, h};
    case 3: return open ? KZPanelRect{midX, midY, w, h} : KZPanelRect{maxX, maxY, w, h};
    case 4: return open ? KZPanelRect{midX, r.y, w, h} : KZPanelRect{maxX, r.y - h, w, h};
    default: return {};
    }
}

KZPanelRect KZPanelRectToTopDown(const KZPanelRect& r, double parentHeight)
{
    return {r.x, parentHeight - r.y - r.height, r.width, r.height};
}
