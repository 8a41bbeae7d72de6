// Hashing ahead: the driver files candidates one at a time, in the order
// that gives the groups their numbers, and a comparison reads blocks only as
// far as two files agree. Reading those blocks is what takes the time, so a
// pool reads them for a whole batch of candidates before the batch is
// filed. The filing itself does not change: it finds the blocks in the
// caches and opens nothing, and the groups and their numbers are those of a
// search that hashes on the driver alone.
//
// A batch is hashed in two rounds. First the first block of every file whose
// size another candidate has; then the whole file where another file of its
// size had the same first block: those are almost always duplicates, whose
// every block the comparisons will read. A file whose first block is shared
// with a node already in the tree finishes that node too: the driver waits
// for the pool, so no node is touched by two threads at once.

#include "engine/KZSearchController.h"

#include "engine/KZContentCache.h"
#include "engine/KZHashPool.h"
#include "settings/KZSearchCriteria.h"

#include <cstring>

namespace {

quint64 headOf(const KZContentCache& content)
{
    quint64 head = 0;
    std::memcpy(&head, content.digest(1).data(), sizeof head);
    return head;
}

bool worthHashing(const KZSearchItemInfo& item)
{
    return item.isRegularFile() && !item.isImageContent() && !item.isContentUnreadable() && item.totSize() > 0;
}

} // namespace

std::vector<KZSearchItemInfoRef> KZSearchController::popBatch(KZCandidateStack& stack, std::size_t most,
                                                              std::vector<bool>* sizeShared)
{
    std::vector<KZSearchItemInfoRef> batch;
    sizeShared->clear();
    std::lock_guard guard(notificationLock_);
    while (batch.size() < most) {
        KZSearchItemInfoRef item = stack.pop();
        if (!item)
            break;
        const auto met = sizesMet_.find(item->totSize());
        sizeShared->push_back(met != sizesMet_.end() && met->second.others > 0);
        batch.push_back(std::move(item));
    }
    return batch;
}

void KZSearchController::hashAheadOf(const std::vector<KZSearchItemInfoRef>& batch, const std::vector<bool>& sizeShared)
{
    if (!hashPool_ || batch.empty())
        return;

    // Round one: first blocks.
    std::vector<KZSearchItemInfo*> first;
    for (std::size_t i = 0; i < batch.size(); ++i) {
        KZSearchItemInfo& item = *batch[i];
        if (sizeShared[i] && worthHashing(item))
            first.push_back(&item);
    }
    hashPool_->forEach(first.size(), [&](std::size_t i) {
        KZSearchItemInfo& item = *first[i];
        std::unique_ptr<KZNodeCache> cache = item.takeContentCache();
        if (!crc32_->hashAhead(item, 1, &cache))
            item.setIsContentUnreadable(true);
        item.setContentCache(std::move(cache));
    });
    if (wasStopped())
        return;

    // Round two: whole files whose first block another file has.
    struct Whole {
        const KZSearchItemInfo* item;
        std::unique_ptr<KZNodeCache>* cache;
        std::unique_ptr<KZNodeCache> own; // a candidate's, given back afterwards
        KZSearchItemInfo* owner = nullptr;
    };
    // Every first block of the batch is counted before any is judged, so
    // that two copies in one batch both count as shared.
    std::vector<std::pair<KZSearchItemInfo*, FirstBlockMet*>> counted;
    for (KZSearchItemInfo* item : first) {
        if (item->isContentUnreadable() || KZCrc32::blocksOf(item->totSize()) < 2)
            continue;
        std::unique_ptr<KZNodeCache> cache = item->takeContentCache();
        const KZContentCache* content = KZContentCache::from(cache.get());
        if (content && content->blocksHashed() >= 1) {
            FirstBlockMet& met = firstBlocksMet_[FirstBlock{item->totSize(), headOf(*content)}];
            ++met.count;
            counted.emplace_back(item, &met);
        }
        item->setContentCache(std::move(cache));
    }
    std::vector<Whole> whole;
    for (auto& [item, met] : counted) {
        if (met->count < 2)
            continue;
        if (met->partialNode) {
            TreeToCheck* node = met->partialNode;
            met->partialNode = nullptr;
            whole.push_back({node->item.get(), &node->crcs, nullptr, nullptr});
        }
        whole.push_back({item, nullptr, item->takeContentCache(), item});
    }
    for (Whole& w : whole) {
        if (!w.cache)
            w.cache = &w.own;
    }
    hashPool_->forEach(whole.size(), [&](std::size_t i) {
        Whole& w = whole[i];
        if (!crc32_->hashAhead(*w.item, KZCrc32::blocksOf(w.item->totSize()), w.cache) && w.owner)
            w.owner->setIsContentUnreadable(true);
    });
    for (Whole& w : whole) {
        if (w.owner)
            w.owner->setContentCache(std::move(w.own));
    }
}

void KZSearchController::notePartialNode(TreeToCheck* node)
{
    if (!hashPool_)
        return;
    const KZContentCache* content = KZContentCache::from(node->crcs.get());
    if (!content || content->blocksHashed() != 1 || KZCrc32::blocksOf(content->length()) < 2)
        return;
    const auto met = firstBlocksMet_.find(FirstBlock{content->length(), headOf(*content)});
    if (met != firstBlocksMet_.end() && !met->second.partialNode)
        met->second.partialNode = node;
}

void KZSearchController::forgetPartialNode(const TreeToCheck* node)
{
    const KZContentCache* content = KZContentCache::from(node->crcs.get());
    if (!hashPool_ || !content || content->blocksHashed() < 1)
        return;
    const auto met = firstBlocksMet_.find(FirstBlock{content->length(), headOf(*content)});
    if (met != firstBlocksMet_.end() && met->second.partialNode == node)
        met->second.partialNode = nullptr;
}
