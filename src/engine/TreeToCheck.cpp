#include "engine/TreeToCheck.h"

#include <new>

std::unique_ptr<TreeToCheck> TreeToCheck::create(KZSearchItemInfoRef candidate)
{
    return std::unique_ptr<TreeToCheck>(new (std::nothrow) TreeToCheck(std::move(candidate)));
}

void freeTree(TreeToCheck*& root)
{
    forEachNodePostOrder(root, [](TreeToCheck* node) { delete node; });
    root = nullptr;
}
