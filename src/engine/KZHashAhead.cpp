#include "engine/KZHashAhead.h"

#include "engine/KZContentCache.h"
#include "engine/KZCrc32.h"
#include "engine/KZHashPool.h"
#include "engine/TreeToCheck.h"

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

KZHashAhead::KZHashAhead(KZCrc32& crc32, unsigned threads, std::function<bool()> stopped)
    : crc32_(crc32), pool_(std::make_unique<KZHashPool>(threads)), stopped_(std::move(stopped))
{
}

KZHashAhead::~KZHashAhead() = default;

std::size_t KZHashAhead::FirstBlockHash::operator()(const FirstBlock& key) const noexcept
{
    return std::hash<quint64>{}(key.head ^ (key.size * 0x9E3779B97F4A7C15ull));
}

quint64* KZHashAhead::sizeMet(quint64 size)
{
    if (size >= kIndexedSizes)
        return &sizesMet_[size];
    if (size >= smallSizesMet_.size())
        smallSizesMet_.resize(std::size_t(size) + 1, 0);
    return &smallSizesMet_[std::size_t(size)];
}

void KZHashAhead::noteCandidate(const KZSearchItemInfo& item)
{
    if (!item.isRegularFile() || item.isImageContent())
        return;
    quint64 identity = ((item.inode() * 0x9E3779B97F4A7C15ull) ^ item.device()) & ~kShared;
    if (identity == 0)
        identity = 1; // 0 says "none met"
    quint64& met = *sizeMet(item.totSize());
    if (met == 0)
        met = identity;
    else if ((met & ~kShared) != identity)
        met |= kShared;
}

bool KZHashAhead::sizeShared(quint64 size) const
{
    if (size < kIndexedSizes)
        return size < smallSizesMet_.size() && (smallSizesMet_[std::size_t(size)] & kShared) != 0;
    const auto met = sizesMet_.find(size);
    return met != sizesMet_.end() && (met->second & kShared) != 0;
}

void KZHashAhead::hashAheadOf(const std::vector<KZSearchItemInfoRef>& batch, const std::vector<bool>& sizeShared)
{
    // Round one: first blocks of the files whose size is shared.
    std::vector<KZSearchItemInfo*> first;
    for (std::size_t i = 0; i < batch.size(); ++i) {
        KZSearchItemInfo& item = *batch[i];
        if (sizeShared[i] && worthHashing(item))
            first.push_back(&item);
    }
    pool_->forEach(first.size(), [&](std::size_t i) {
        KZSearchItemInfo& item = *first[i];
        std::unique_ptr<KZNodeCache> cache = item.takeContentCache();
        if (!crc32_.hashAhead(item, 1, &cache))
            item.setIsContentUnreadable(true);
        item.setContentCache(std::move(cache));
    });
    if (first.empty() || stopped_())
        return;

    // Round two: whole files whose first block another file has.
    struct Whole {
        const KZSearchItemInfo* item;
        std::unique_ptr<KZNodeCache>* cache;
        std::unique_ptr<KZNodeCache> own; // a candidate's, given back afterwards
        KZSearchItemInfo* owner = nullptr;
        TreeToCheck* node = nullptr; // a tree node's, read into in place
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
            whole.push_back({node->item.get(), &node->crcs, nullptr, nullptr, node});
        }
        whole.push_back({item, nullptr, item->takeContentCache(), item, nullptr});
    }
    for (Whole& w : whole) {
        if (!w.cache)
            w.cache = &w.own;
    }
    pool_->forEach(whole.size(), [&](std::size_t i) {
        Whole& w = whole[i];
        if (!crc32_.hashAhead(*w.item, KZCrc32::blocksOf(w.item->totSize()), w.cache) && w.owner)
            w.owner->setIsContentUnreadable(true);
    });
    for (Whole& w : whole) {
        if (w.owner)
            w.owner->setContentCache(std::move(w.own));
        if (w.node)
            w.node->noteFirstSum();
    }
}

void KZHashAhead::notePartialNode(TreeToCheck* node)
{
    const KZContentCache* content = KZContentCache::from(node->crcs.get());
    if (!content || content->blocksHashed() != 1 || KZCrc32::blocksOf(content->length()) < 2)
        return;
    const auto met = firstBlocksMet_.find(FirstBlock{content->length(), headOf(*content)});
    if (met != firstBlocksMet_.end() && !met->second.partialNode)
        met->second.partialNode = node;
}

void KZHashAhead::forgetPartialNode(const TreeToCheck* node)
{
    const KZContentCache* content = KZContentCache::from(node->crcs.get());
    if (!content || content->blocksHashed() < 1)
        return;
    const auto met = firstBlocksMet_.find(FirstBlock{content->length(), headOf(*content)});
    if (met != firstBlocksMet_.end() && met->second.partialNode == node)
        met->second.partialNode = nullptr;
}
