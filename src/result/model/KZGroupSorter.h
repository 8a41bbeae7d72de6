#pragma once

#include "result/model/KZFoundItem.h"
#include "result/model/KZFoundItemGroup.h"
#include "result/model/KZSortDescriptor.h"

// Sorting that keeps the members of a duplicate group next to each other,
// and the kinds a sort by kind reads first. Pure functions of their
// arguments apart from the kinds the items cache; any thread.
class KZGroupSorter {
public:
    // The groups of `root` in order, each with its members sorted; the
    // groups are the same objects.
    static KZFoundItemGroupRef sortedGroupWithArray(const KZFoundItemGroupRef& root,
                                                    const KZSortDescriptors& descriptors, bool sortContainedItems);
    // A flat list in order, group after group: whole groups move, and with
    // `sortContainedItems` the members within each group are sorted too.
    static KZFoundItemArray sortedGroupWithArray(const KZFoundItemArray& items, const KZSortDescriptors& descriptors,
                                                 bool sortContainedItems);

    static void gatherKindInfo(const KZFoundItemGroupRef& root);
    static void gatherKindInfo(const KZFoundItemArray& items);
};
