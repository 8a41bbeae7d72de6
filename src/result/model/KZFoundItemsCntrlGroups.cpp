#include "result/model/KZFoundItemsCntrl.h"

#include <algorithm>

KZFoundItemGroupRef KZFoundItemsCntrl::setupItemsByGroupForItems(const KZFoundItemArray& items, bool sortGroupBefore) const
{
    KZFoundItemArray ordered = items;
    if (sortGroupBefore) {
        std::stable_sort(ordered.begin(), ordered.end(), [](const KZFoundItemRef& a, const KZFoundItemRef& b) {
            return a->groupID() < b->groupID();
        });
    }

    KZFoundItemGroupRef root = KZFoundItemGroup::itemGroup();
    KZFoundItemGroupRef current;
    for (const KZFoundItemRef& item : ordered) {
        if (!current || current->groupID() != item->groupID()) {
            current = KZFoundItemGroup::itemGroup();
            current->setName(item->name());
            current->setGroupID(item->groupID());
            root->groups().append(current);
        }
        current->items().append(item);
        if (item->isMarked())
            current->setMarkedCount(static_cast<quint16>(current->markedCount() + 1));
    }
    return root;
}

KZFoundItemArray KZFoundItemsCntrl::separateItemsFromGroups(const KZFoundItemGroupRef& root) const
{
    KZFoundItemArray flat;
    if (!root)
        return flat;
    for (const KZFoundItemGroupRef& group : root->groups())
        flat.append(group->items());
    return flat;
}
