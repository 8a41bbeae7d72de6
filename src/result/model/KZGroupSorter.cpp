#include "result/model/KZGroupSorter.h"

#include "result/model/KZColumnKeys.h"
#include "result/model/KZGroupDictionary.h"
#include "result/model/KZItemGroups.h"

#include <algorithm>
#include <numeric>
#include <utility>
#include <vector>

namespace {

// Rows sorted with their keys read once each: a group row computes its
// values over all its members, so asking per comparison would cost a walk
// of the group every time. The keys of all rows lie in one block, row after
// row, and the sort moves row numbers: a list of a few hundred thousand
// groups is sorted while its window is being built, and a list of keys per
// row would add an allocation per row on top of everything else alive then.
template <class Row, class ValueOf>
void sortRows(QList<Row>& rows, const KZSortDescriptors& descriptors, ValueOf valueOf)
{
    if (descriptors.isEmpty() || rows.size() < 2)
        return;
    const std::size_t count = static_cast<std::size_t>(rows.size());
    const std::size_t width = static_cast<std::size_t>(descriptors.size());
    std::vector<QVariant> keys;
    keys.reserve(count * width);
    for (const Row& row : std::as_const(rows)) {
        for (const KZSortDescriptor& descriptor : descriptors)
            keys.push_back(valueOf(row, descriptor.key()));
    }
    std::vector<std::size_t> order(count);
    std::iota(order.begin(), order.end(), std::size_t(0));
    std::stable_sort(order.begin(), order.end(), [&descriptors, &keys, width](std::size_t a, std::size_t b) {
        const QVariant* left = keys.data() + a * width;
        const QVariant* right = keys.data() + b * width;
        for (std::size_t i = 0; i < width; ++i) {
            const int result = descriptors[static_cast<qsizetype>(i)].compareObject(left[i], right[i]);
            if (result != 0)
                return result < 0;
        }
        return false;
    });
    keys = {};
    QList<Row> sorted;
    sorted.reserve(rows.size());
    for (const std::size_t index : order)
        sorted.append(std::as_const(rows)[static_cast<qsizetype>(index)]);
    rows = std::move(sorted);
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
