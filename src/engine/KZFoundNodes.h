#pragma once

#include "engine/KZFoundFoldersTree.h"
#include "engine/KZFoundList.h"
#include "engine/TreeToCheck.h"

#include <cstddef>
#include <memory>
#include <vector>

// Where a confirmed node goes: into the found list, or first into the
// found-folders tree (nested empty folders, until the search knows which are
// final) or aside for the song-duration phase. Not locked: the search
// controller calls it under its progress lock, so that the main pass and the
// image pass never change the list at the same time.
class KZFoundNodes {
public:
    // The search's state at the moment a node is handed in.
    struct Phase {
        bool isNestedEmptied = false;
        bool duplicateFoldersAlreadyChecked = false;
        bool isDuration = false;
        bool timeAlreadyGot = false;
    };

    KZFoundNodes() = default;
    KZFoundNodes(const KZFoundNodes&) = delete;
    KZFoundNodes& operator=(const KZFoundNodes&) = delete;

    // Takes a confirmed node. Answers the node when it was filed as a new
    // found folder, which the caller then counts and reports as found; null in
    // every other case (listed, set aside, a folder met before, or dropped
    // for want of memory).
    TreeToCheck* processFoundItem(std::unique_ptr<TreeToCheck> node, const Phase& phase);

    // Moves every found folder into the list, children first. Call once the
    // found folders are final.
    void freeUnusedFoldersTreeNodes();

    // The nodes set aside for the duration phase join the list again, oldest
    // first, so that no confirmed node is lost when that phase is over.
    void restoreDurationItems();

    const KZFoundList& cStyleArray() const { return cStyleArray_; }
    const KZFoundFoldersTree& foldersTree() const { return foldersTree_; }
    std::size_t durationItemsCount() const { return durationItems_.size(); }

    // Hands the list over; this side keeps an empty one.
    KZFoundList takeList() { return std::move(cStyleArray_); }

    // Frees everything (a new search starts empty).
    void clear();

private:
    KZFoundList cStyleArray_;
    KZFoundFoldersTree foldersTree_;
    std::vector<std::unique_ptr<TreeToCheck>> durationItems_;
};
