#pragma once

#include "engine/KZNodeCache.h"
#include "engine/KZSearchItemInfo.h"
#include "engine/KZTreeWalk.h"

#include <QtGlobal>

#include <atomic>
#include <memory>
#include <unordered_map>
#include <utility>

// The members counter of one group of duplicates: shared by every member's
// node (and later by their found items) and freed with the last of them.
using KZItemsInGroup = std::shared_ptr<std::atomic<quint32>>;

inline KZItemsInGroup makeItemsInGroup(quint32 initial)
{
    return std::make_shared<std::atomic<quint32>>(initial);
}

// A candidate in a comparison tree; the same record later travels in the
// found list. Nodes are owned explicitly: whoever unlinks a node frees it.
// Deleting a node never touches its links, so a long chain is freed by an
// iterative walk (forEachNodePostOrder), not by recursion.
struct TreeToCheck {
    // A tree walk reads these at every node it passes, so they come first,
    // within one cache line. The item's size and image flag are copied here
    // when the node is made, as the item lies elsewhere in memory; the
    // comparisons clear imageContent together with the item's flag. They
    // share one word (a size from 2^60 bytes on leaves the node unkeyed).
    quint64 totSize : 60 = 0;
    bool keyed : 1 = false;
    bool imageContent : 1 = false;
    bool inGroup : 1 = false;            // the node heads a group
    bool unreadable : 1 = false;         // its file failed once: never opened again
    // The running sum of the file's first block, copied from the content
    // cache when it holds that block for the file's whole length: most
    // candidates of one size part at their first block, and a walk that
    // finds the sum here does not touch the cache at all.
    bool firstSumKnown = false;
    quint32 firstSum = 0;
    TreeToCheck* left = nullptr;         // the cascade answered 1
    TreeToCheck* right = nullptr;        // any other answer but 0 and -2
    std::unique_ptr<KZNodeCache> crcs;   // content cache or image record, made on demand
    KZSearchItemInfoRef item;            // one reference, released with the node
    quint64 groupID = 0;                 // 0 until the node is in a group
    KZItemsInGroup itemsInGroup;         // absent outside a group

    TreeToCheck() = default;
    explicit TreeToCheck(KZSearchItemInfoRef candidate) : item(std::move(candidate))
    {
        if (item && item->totSize() < (quint64(1) << 60)) {
            totSize = item->totSize();
            imageContent = item->isImageContent();
            keyed = true;
        }
    }
    TreeToCheck(const TreeToCheck&) = delete;
    TreeToCheck& operator=(const TreeToCheck&) = delete;

    // Answers no node when memory is exhausted, as the callers drop the
    // candidate then instead of failing the search.
    static std::unique_ptr<TreeToCheck> create(KZSearchItemInfoRef candidate = {});

    // Takes the first block's sum from crcs again; called wherever crcs
    // may have been read into.
    void noteFirstSum();
};

// Frees a whole tree (its nodes release their items and caches) and empties
// the link.
void freeTree(TreeToCheck*& root);
