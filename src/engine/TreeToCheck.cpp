#include "engine/TreeToCheck.h"

#include "engine/KZContentCache.h"

#include <new>

std::unique_ptr<TreeToCheck> TreeToCheck::create(KZSearchItemInfoRef candidate)
{
    return std::unique_ptr<TreeToCheck>(new (std::nothrow) TreeToCheck(std::move(candidate)));
}

void TreeToCheck::noteFirstSum()
{
    const KZContentCache* content = KZContentCache::from(crcs.get());
    firstSumKnown = keyed && !imageContent && content && content->blocksHashed() >= 1 && content->length() == totSize;
    firstSum = firstSumKnown ? content->runningSum(1) : 0;
}

void freeTree(TreeToCheck*& root)
{
    forEachNodePostOrder(root, [](TreeToCheck* node) { delete node; });
    root = nullptr;
}
