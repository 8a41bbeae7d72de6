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
    // share one word (a size from 2^59 bytes on leaves the node unkeyed).
    quint64 totSize : 59 = 0;
    bool keyed : 1 = false;
    bool imageContent : 1 = false;
    bool inGroup : 1 = false;            // the node heads a group
    bool unreadable : 1 = false;         // its file failed once: never opened again
    bool firstSumKnown : 1 = false;      // firstSum holds the place of groupID
    TreeToCheck* left = nullptr;         // the cascade answered 1
    TreeToCheck* right = nullptr;        // any other answer but 0 and -2
    std::unique_ptr<KZNodeCache> crcs;   // content cache or image record, made on demand
    KZSearchItemInfoRef item;            // one reference, released with the node
    // Until the node is in a group its group number is 0, and the place
    // may hold the running sum of its file's first block instead, copied
    // from the content cache (see noteFirstSum): most candidates of one
    // size part at their first block, and a walk that finds the sum here
    // does not touch the cache at all. A node keeps to 72 bytes, one
    // allocation size below the next.
    union {
        quint64 groupID = 0;
        quint32 firstSum;
    };
    KZItemsInGroup itemsInGroup;         // absent outside a group

    TreeToCheck() = default;
    explicit TreeToCheck(KZSearchItemInfoRef candidate) : item(std::move(candidate))
    {
        if (item && item->totSize() < (quint64(1) << 59)) {
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
    // may have been read into. A node in a group keeps its number instead.
    void noteFirstSum();
    // The first block's sum, when the node holds it.
    bool hasFirstSum() const { return firstSumKnown && !inGroup; }
    // Gives the place back to the group number (0) before the node leaves
    // the tree.
    void forgetFirstSum()
    {
        if (hasFirstSum())
            groupID = 0;
        firstSumKnown = false;
    }
};

static_assert(sizeof(TreeToCheck) <= 72, "a node fits an 80-byte allocation");

// Frees a whole tree (its nodes release their items and caches) and empties
// the link.
void freeTree(TreeToCheck*& root);
