#pragma once

#include "engine/TreeToCheck.h"

#include <QtGlobal>

#include <cstddef>
#include <functional>
#include <memory>

// The folders found by a search for nested empty folders, kept until the
// search knows which of them are final, so that a folder reached through two
// candidates is reported once. Ordered by the folders' names; a folder is the
// same folder when its location is the same. Not locked: the search
// controller changes it under its progress lock only.
class KZFoundFoldersTree {
public:
    KZFoundFoldersTree() = default;
    ~KZFoundFoldersTree() { freeTree(foldersTree_); }
    KZFoundFoldersTree(const KZFoundFoldersTree&) = delete;
    KZFoundFoldersTree& operator=(const KZFoundFoldersTree&) = delete;

    // Files a found folder. Answers the node, now in the tree, when the folder
    // is new (the caller counts it as found); null when the folder is there
    // already, in which case the node is freed.
    TreeToCheck* addFolderToNode(std::unique_ptr<TreeToCheck> node);

    // -2 when the new node's folder is the tree node's or is in this tree
    // already; 0 otherwise.
    qint16 folderAlreadyExists(const TreeToCheck& treeNode, const TreeToCheck& newNode) const;
    qint16 findSameFolder(const TreeToCheck& newNode) const;

    // Empties the tree, handing every node over children first with its links
    // cleared: each folder is handed over exactly once.
    void freeUnusedFoldersTreeNodes(const std::function<void(std::unique_ptr<TreeToCheck>)>& processFoundItem);

    bool isEmpty() const { return foldersTree_ == nullptr; }
    std::size_t size() const { return size_; }

private:
    TreeToCheck* foldersTree_ = nullptr;
    std::size_t size_ = 0;
};
