#pragma once

#include "engine/KZNodeCache.h"

#include <QtGlobal>

#include <array>
#include <memory>
#include <vector>

// What a content comparison remembers of one file, so that a node met by
// several candidates reads its file only once.
//
// Block k (1-based) is described by the running sum of the block values of
// blocks 1 to k and by its own SHA-1 digest. The sums order the candidate
// tree; the digests decide equality, since equal 32-bit sums prove nothing.
// Blocks 1 to resumeIndex are taken as they are; the first time a
// comparison needs more than the cache holds, reading resumes with block
// resumeIndex + 1 (the last block hashed is read once more, where a
// comparison that stopped there left it), and later ones after it.
//
// Most files of a search are a single block, so the first block lives in the
// cache itself; the others are kept as they are read. Memory follows what was
// read, never the file's length: two huge sparse files that differ early cost
// a few blocks, not an array for their whole length.
class KZContentCache final : public KZNodeCache {
public:
    using Digest = std::array<quint8, 20>;

    explicit KZContentCache(quint64 length) : KZNodeCache(Kind::Content), length_(length) {}

    // The cache a node holds, or null when it holds none or another kind.
    static KZContentCache* from(KZNodeCache* cache)
    {
        return cache && cache->kind() == Kind::Content ? static_cast<KZContentCache*>(cache) : nullptr;
    }
    static const KZContentCache* from(const KZNodeCache* cache)
    {
        return cache && cache->kind() == Kind::Content ? static_cast<const KZContentCache*>(cache) : nullptr;
    }

    // The length of the file the blocks were read from.
    quint64 length() const { return length_; }
    quint64 resumeIndex() const { return hashed_ ? hashed_ - 1 : 0; }
    quint64 blocksHashed() const { return hashed_; }
    // Whether a comparison has gone on reading the file where an earlier
    // one left it.
    bool wasResumed() const { return resumed_; }
    void setWasResumed() { resumed_ = true; }
    quint32 runningSum(quint64 block) const { return at(block).sum; }
    const Digest& digest(quint64 block) const { return at(block).digest; }

    // Records a freshly hashed block k (at most one past those hashed);
    // blocks after it are forgotten. A block past the file's end is not
    // recorded: the comparisons never ask for one.
    void store(quint64 block, quint32 runningSum, const Digest& digest)
    {
        Q_ASSERT(block >= 1 && block <= quint64(hashed_) + 1);
        if (block > blocks())
            return;
        if (block == 1) {
            first_ = {runningSum, digest};
            later_.reset();
        } else {
            if (!later_)
                later_ = std::make_unique<std::vector<Block>>();
            later_->resize(std::size_t(block - 2));
            later_->push_back({runningSum, digest});
        }
        hashed_ = quint32(block);
    }

    // Blocks beyond the first that this cache holds memory for.
    std::size_t laterCapacity() const { return later_ ? later_->capacity() : 0; }

    // The blocks of the file; files of more than this many (some 175 TB)
    // are beyond what a cache describes.
    static constexpr quint64 kMaxBlocks = 0xFFFFFFFFu;

private:
    struct Block {
        quint32 sum = 0;
        Digest digest{};
    };

    static constexpr quint64 kBlockSize = 40960;

    quint64 blocks() const { return length_ == 0 ? 1 : (length_ + kBlockSize - 1) / kBlockSize; }
    const Block& at(quint64 block) const { return block == 1 ? first_ : (*later_)[block - 2]; }

    bool resumed_ = false; // beside the base's tag
    quint32 hashed_ = 0;
    quint64 length_;
    Block first_;
    // Only multi-block files have later blocks: most caches are of one
    // block, and a search keeps one for every file of a shared size, so the
    // list costs them a pointer only.
    std::unique_ptr<std::vector<Block>> later_;
};
