#pragma once

#include "result/model/KZSortDescriptor.h"
#include "settings/KZTags.h"

#include <QVariantMap>

#include <functional>

struct KZFoundListContext;

// Sorts the lists of one list model on its workers. A flat list is stored
// sorted; a grouped list keeps its group objects, which the outline's
// selection points at: the worker sorts stand-ins and the main thread puts
// the groups in the new order. A sort computed on a list that changed
// meanwhile is done again, a few times at most.
class KZFoundListSorter {
public:
    // `showSorted` hands the current list to the outline again (main
    // thread); `context` outlives the sorter.
    KZFoundListSorter(const KZFoundListContext& context, std::function<void()> showSorted);

    // {"descriptors" (KZSortDescriptors), "tag" (the current one when
    // absent), "updateInterface"}; main thread. The first sort by kind
    // gathers the kinds first.
    void sortWithRequest(const QVariantMap& request);
    bool kindsGathered() const { return kindsGathered_; }

private:
    void gatherKinds(const QVariantMap& request);
    void sort(const KZSortDescriptors& descriptors, KZTabTag tag, bool updateInterface, int attempt);

    const KZFoundListContext& context_;
    const std::function<void()> showSorted_;
    bool kindsGathered_ = false;
};
