#include "result/window/KZOutlineRules.h"

#include "settings/KZTags.h"

namespace KZOutlineRules {

bool isLocationList(quint64 listTag)
{
    return listTag > KZTag::sourceRowBase - 1 && listTag < KZTag::markedItemsRowBase;
}

bool isMarkedItemsList(quint64 listTag)
{
    return listTag >= KZTag::markedItemsRowBase;
}

bool drawItemAsGhost(quint64 listTag, bool isMarked, qint16 locationLabelTag, quint32 countOfItemsInGroup,
                     quint16 itemsInGroup)
{
    if (listTag <= KZTag::sourceRowBase - 1)
        return false;
    if (isMarkedItemsList(listTag))
        return !isMarked;
    const qint64 label = static_cast<qint64>(listTag - KZTag::sourceRowBase);
    if (locationLabelTag != label)
        return true;
    return itemsInGroup == countOfItemsInGroup;
}

} // namespace KZOutlineRules
