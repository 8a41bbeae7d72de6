#include "result/model/KZGroupSorter.h"

#include "result/model/KZColumnKeys.h"
#include "result/model/KZGroupDictionary.h"
#include "result/model/KZItemGroups.h"

#include <algorithm>
#include <vector>

namespace {

// Rows sorted with their keys read once each: a group row computes its
// values over all its members, so asking per comparison would cost a walk
// of the group every time.
template <class Row, class ValueOf>
void sortRows(QList<Row>& rows, const KZSortDescriptors& descriptors, ValueOf valueOf)
{
    if (descriptors.isEmpty() || rows.size() < 2)
        return;
    struct Keyed {
        Row row;
        QVariantList keys;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(static_cast<std::size_t>(rows.size()));
    for (const Row& row : rows) {
        Keyed entry{row, {}};
        entry.keys.reserve(descriptors.size());
        for (const KZSortDescriptor& descriptor : descriptors)
            entry.keys.append(valueOf(row, descriptor.key()));
        keyed.push_back(std::move(entry));
    }
    std::stable_sort(keyed.begin(), keyed.end(), [&descriptors](const Keyed& a, const Keyed& b) {
        for (qsizetype i = 0; i < descriptors.size(); ++i) {
            const int order = descriptors[i].compareObject(a.keys[i], b.keys[i]);
            if (order != 0)
                return order < 0;
        }
        return false;
    });
    for (std::size_t i = 0; i < keyed.size(); ++i)
        rows[static_cast<qsizetype>(i)] = std::move(keyed[i].row);
}

void sortItems(KZFoundItemArray& items, const KZSortDescriptors& descriptors)
{
    sortRows(items, descriptors,
             [](const KZFoundItemRef& item, const QString& key) { return item->valueForUndefinedKey(key); });
}

} // namespace

KZFoundItemGroupRef KZGroupSorter::sortedGroupWithArray(const KZFoundItemGroupRef& root,
                                                        const KZSortDescriptors& descriptors,
                                                        bool /*sortContainedItems*/)
{
    KZFoundItemGroupRef sorted = KZFoundItemGroup::itemGroup();
    if (!root)
        return sorted;
    QList<KZFoundItemGroupRef> groups = root->groups();
    sortRows(groups, descriptors,
             [](const KZFoundItemGroupRef& group, const QString& key) { return group->valueForUndefinedKey(key); });
    for (const KZFoundItemGroupRef& group : groups) {
        KZFoundItemArray members = group->items();
        sortItems(members, descriptors);
        group->setItems(members);
    }
    sorted->setGroups(groups);
    return sorted;
}

KZFoundItemArray KZGroupSorter::sortedGroupWithArray(const KZFoundItemArray& items,
                                                     const KZSortDescriptors& descriptors, bool sortContainedItems)
{
    QList<KZGroupDictionary> rows;
    for (KZFoundItemArray group : KZItemGroups::groupsArrayWithArray(items)) {
        if (sortContainedItems)
            sortItems(group, descriptors);
        rows.append(KZGroupDictionary::dictionaryWithObjectsAndKeys(
            {{QVariant::fromValue(group), KZGroupDictionary::childrenKey}}));
    }

    // A flat list sorted by size orders whole groups by the size of one
    // copy, which is what each row of the list shows.
    KZSortDescriptors rowDescriptors = descriptors;
    if (!rowDescriptors.isEmpty() && rowDescriptors.first().key() == KZColumnKey::size_col) {
        const KZSortDescriptor& first = rowDescriptors.first();
        rowDescriptors.first() = KZSortDescriptor(KZColumnKey::size_col_ungrouped, first.ascending(), first.selector());
    }
    sortRows(rows, rowDescriptors,
             [](const KZGroupDictionary& row, const QString& key) { return row.objectForKey(key); });

    KZFoundItemArray sorted;
    sorted.reserve(items.size());
    for (const KZGroupDictionary& row : rows)
        sorted.append(row.children());
    return sorted;
}

void KZGroupSorter::gatherKindInfo(const KZFoundItemGroupRef& root)
{
    if (!root)
        return;
    for (const KZFoundItemGroupRef& group : root->groups())
        gatherKindInfo(group->items());
}

void KZGroupSorter::gatherKindInfo(const KZFoundItemArray& items)
{
    for (const KZFoundItemRef& item : items)
        item->gatherKind();
}
