#include "engine/KZFoundFoldersTree.h"

#include "engine/KZCompareCodes.h"
#include "engine/KZEnginePaths.h"

namespace {

QString nameOf(const TreeToCheck& node)
{
    return node.item ? node.item->originalName() : QString();
}

bool sameLocation(const TreeToCheck& a, const TreeToCheck& b)
{
    return a.item && b.item && KZEnginePaths::isSameLocation(a.item->url(), b.item->url());
}

} // namespace

TreeToCheck* KZFoundFoldersTree::addFolderToNode(std::unique_ptr<TreeToCheck> node)
{
    if (!node || !node->item)
        return nullptr;
    TreeToCheck** link = &foldersTree_;
    while (*link) {
        TreeToCheck* here = *link;
        if (sameLocation(*here, *node))
            return nullptr; // the unique_ptr frees the repeat and its item reference
        link = compareForSameString(nameOf(*here), nameOf(*node)) == KZCompare::kAfter ? &here->left : &here->right;
    }
    node->left = nullptr;
    node->right = nullptr;
    *link = node.release();
    ++size_;
    return *link;
}

qint16 KZFoundFoldersTree::folderAlreadyExists(const TreeToCheck& treeNode, const TreeToCheck& newNode) const
{
    if (sameLocation(treeNode, newNode))
        return KZCompare::kNotComparable;
    return findSameFolder(newNode);
}

qint16 KZFoundFoldersTree::findSameFolder(const TreeToCheck& newNode) const
{
    const TreeToCheck* here = foldersTree_;
    while (here) {
        if (sameLocation(*here, newNode))
            return KZCompare::kNotComparable;
        here = compareForSameString(nameOf(*here), nameOf(newNode)) == KZCompare::kAfter ? here->left : here->right;
    }
    return KZCompare::kSame;
}

void KZFoundFoldersTree::freeUnusedFoldersTreeNodes(
    const std::function<void(std::unique_ptr<TreeToCheck>)>& processFoundItem)
{
    TreeToCheck* root = foldersTree_;
    foldersTree_ = nullptr;
    size_ = 0;
    forEachNodePostOrder(root, [&](TreeToCheck* node) {
        node->left = nullptr;
        node->right = nullptr;
        std::unique_ptr<TreeToCheck> owned(node);
        if (processFoundItem)
            processFoundItem(std::move(owned));
    });
}
