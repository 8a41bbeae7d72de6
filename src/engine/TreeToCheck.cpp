#include "engine/TreeToCheck.h"

#include "engine/KZContentCache.h"

#include <new>

std::unique_ptr<TreeToCheck> TreeToCheck::create(KZSearchItemInfoRef candidate)
{
    return std::unique_ptr<TreeToCheck>(new (std::nothrow) TreeToCheck(std::move(candidate)));
}

void TreeToCheck::noteFirstSum()
{
    if (inGroup) {
        firstSumKnown = false; // the place holds the group's number
        return;
    }
    const KZContentCache* content = KZContentCache::from(crcs.get());
    if (keyed && !imageContent && content && content->blocksHashed() >= 1 && content->length() == totSize) {
        firstSum = content->runningSum(1);
        firstSumKnown = true;
    } else {
        forgetFirstSum();
    }
}

void freeTree(TreeToCheck*& root)
{
    forEachNodePostOrder(root, [](TreeToCheck* node) { delete node; });
    root = nullptr;
}
