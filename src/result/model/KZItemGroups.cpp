#include "result/model/KZItemGroups.h"

#include <algorithm>

namespace fs = std::filesystem;

QList<KZFoundItemArray> KZItemGroups::groupsArrayWithArray(const KZFoundItemArray& items)
{
    KZFoundItemArray ordered = items;
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const KZFoundItemRef& a, const KZFoundItemRef& b) { return a->groupID() < b->groupID(); });
    QList<KZFoundItemArray> groups;
    for (const KZFoundItemRef& item : ordered) {
        if (groups.isEmpty() || groups.last().first()->groupID() != item->groupID())
            groups.append(KZFoundItemArray());
        groups.last().append(item);
    }
    return groups;
}

KZFoundItemGroupRef KZItemGroups::setupItemsByGroupForItems(const KZFoundItemArray& items, bool sortGroupBefore)
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
            current->setNamedAfter(item);
            current->setGroupID(item->groupID());
            root->groups().append(current);
        }
        current->items().append(item);
        if (item->isMarked())
            current->setMarkedCount(static_cast<quint16>(current->markedCount() + 1));
    }
    return root;
}

KZFoundItemArray KZItemGroups::separateItemsFromGroups(const KZFoundItemGroupRef& root)
{
    KZFoundItemArray flat;
    if (!root)
        return flat;
    for (const KZFoundItemGroupRef& group : root->groups())
        flat.append(group->items());
    return flat;
}

KZFoundItemRef KZItemGroups::itemByPathWithArray(const KZFoundItemArray& items, const fs::path& path)
{
    const qsizetype index = indexOfItemInArray(items, path);
    return index == notFound ? nullptr : items[index];
}

KZFoundItemGroupRef KZItemGroups::groupByIDWithRootArray(const KZFoundItemGroupRef& root, qint64 groupID)
{
    if (!root)
        return nullptr;
    const qsizetype index = indexOfGroupInArray(root->groups(), groupID);
    return index == notFound ? nullptr : root->groups()[index];
}

qsizetype KZItemGroups::indexOfGroupInArray(const QList<KZFoundItemGroupRef>& groups, qint64 groupID)
{
    for (qsizetype i = 0; i < groups.size(); ++i) {
        if (groups[i]->groupID() == groupID)
            return i;
    }
    return notFound;
}

qsizetype KZItemGroups::indexOfItemInArray(const KZFoundItemArray& items, const fs::path& path)
{
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (items[i]->path().native() == path.native())
            return i;
    }
    return notFound;
}

qsizetype KZItemGroups::indexOfItemInArray(const KZFoundItemArray& items, qint64 groupID)
{
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (items[i]->groupID() == groupID)
            return i;
    }
    return notFound;
}

qsizetype KZItemGroups::indexOfNotMarkedItemInArray(const KZFoundItemArray& items, qint64 groupID)
{
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (items[i]->groupID() == groupID && !items[i]->isMarked())
            return i;
    }
    return notFound;
}
