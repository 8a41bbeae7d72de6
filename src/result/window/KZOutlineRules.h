#pragma once

#include <QtGlobal>

class KZFoundItem;

namespace KZOutlineRules {

// Whether a row of the list with tag `listTag` is drawn as a ghost (greyed,
// not selectable, its box disabled): in the list of marked items an item that
// is not marked; in a location's list an item found elsewhere, or one whose
// group has `itemsInGroup` members left in that location.
bool drawItemAsGhost(quint64 listTag, bool isMarked, qint16 locationLabelTag, quint32 countOfItemsInGroup,
                     quint16 itemsInGroup);

// A location's list (a source row), as opposed to the tab's whole list or
// the list of marked items.
bool isLocationList(quint64 listTag);
bool isMarkedItemsList(quint64 listTag);

} // namespace KZOutlineRules
