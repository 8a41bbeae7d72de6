#include "engine/KZNumberTree.h"

#include "engine/KZCompareCodes.h"
#include "engine/KZEnginePaths.h"
#include "engine/KZTreeWalk.h"

#include <functional>
#include <new>
#include <string_view>

qint16 KZNumberTree::urlAlreadyExist(const std::filesystem::path& path)
{
    auto* node = new (std::nothrow) NumberTree;
    if (!node)
        return KZCompare::kAlreadySeen;
    node->path = KZEnginePaths::normalized(path).native();
    node->value = std::hash<std::string_view>{}(node->path);

    std::lock_guard guard(nodeIdLock_);
    fileIDWasFound_ = false;
    addNodeNumberToTree(node);
    if (fileIDWasFound_) {
        delete node;
        return KZCompare::kAlreadySeen;
    }
    return KZCompare::kSame;
}

void KZNumberTree::addNodeNumberToTree(NumberTree* node)
{
    NumberTree** link = &numberTreeIDs_;
    while (*link) {
        NumberTree* here = *link;
        int order = node->value < here->value ? -1 : (node->value > here->value ? 1 : 0);
        if (order == 0)
            order = node->path.compare(here->path);
        if (order == 0) {
            fileIDWasFound_ = true;
            return;
        }
        link = order < 0 ? &here->left : &here->right;
    }
    *link = node;
}

bool KZNumberTree::isEmpty() const
{
    std::lock_guard guard(nodeIdLock_);
    return numberTreeIDs_ == nullptr;
}

void KZNumberTree::clear()
{
    std::lock_guard guard(nodeIdLock_);
    forEachNodePostOrder(numberTreeIDs_, [](NumberTree* node) { delete node; });
    numberTreeIDs_ = nullptr;
}
