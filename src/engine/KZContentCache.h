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
// The first block lives in the cache itself; from the second on, a file's
// blocks are kept apart, as they are read. Memory follows what was
// read, never the file's length: two huge sparse files that differ early cost
// a few blocks, not an array for their whole length.
class KZContentCache final : public KZNodeCache {
public:
    using Digest = std::array<quint8, 20>;

    explicit KZContentCache(quint64 length) : KZNodeCache(Kind::Content)
    {
        if (length >= kInPlaceLengths) {
            many_ = new Many{length, {}};
            isMany_ = true;
        } else {
            lengthLow_ = quint16(length);
            lengthHigh_ = quint32(length >> 16);
            one_ = Block();
        }
    }
    ~KZContentCache() override
    {
        if (isMany_)
            delete many_;
    }
    KZContentCache(const KZContentCache&) = delete;
    KZContentCache& operator=(const KZContentCache&) = delete;

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
    quint64 length() const { return isMany_ ? many_->length : (quint64(lengthHigh_) << 16) | lengthLow_; }
    quint64 resumeIndex() const { return blocksHashed() ? blocksHashed() - 1 : 0; }
    quint64 blocksHashed() const { return isMany_ ? quint64(many_->blocks.size()) : quint64(oneHashed_); }
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
        Q_ASSERT(block >= 1 && block <= blocksHashed() + 1);
        if (block > blocks())
            return;
        if (!isMany_ && block == 1) {
            one_ = {runningSum, digest};
            oneHashed_ = true;
            return;
        }
        if (!isMany_) {
            // The second block: from now on the blocks are kept apart.
            auto* many = new Many{length(), {one_}};
            many_ = many;
            isMany_ = true;
        }
        many_->blocks.resize(std::size_t(block - 1));
        many_->blocks.push_back({runningSum, digest});
    }

    // Blocks beyond the first that this cache holds memory for.
    std::size_t laterCapacity() const
    {
        return isMany_ && many_->blocks.capacity() > 0 ? many_->blocks.capacity() - 1 : 0;
    }

    // The blocks of the file; files of more than this many (some 175 TB)
    // are beyond what a cache describes.
    static constexpr quint64 kMaxBlocks = 0xFFFFFFFFu;

private:
    struct Block {
        quint32 sum = 0;
        Digest digest{};
    };
    // A file of which more than one block was read: its blocks, and its
    // length when that does not fit beside the tag.
    struct Many {
        quint64 length = 0;
        std::vector<Block> blocks;
    };

    static constexpr quint64 kBlockSize = 40960;
    static constexpr quint64 kInPlaceLengths = quint64(1) << 48;

    quint64 blocks() const
    {
        const quint64 bytes = length();
        return bytes == 0 ? 1 : bytes / kBlockSize + (bytes % kBlockSize != 0);
    }
    const Block& at(quint64 block) const { return isMany_ ? many_->blocks[block - 1] : one_; }

    // Beside the base's tag. Most files of a search are compared by their
    // first block alone, and a search keeps a cache for every file of a
    // shared size: those keep the block in place, which makes the whole
    // cache 40 bytes.
    bool resumed_ : 1 = false;
    bool isMany_ : 1 = false;
    bool oneHashed_ : 1 = false;
    quint16 lengthLow_ = 0;
    quint32 lengthHigh_ = 0;
    union {
        Block one_;
        Many* many_;
    };
};
static_assert(sizeof(KZContentCache) <= 40, "a one-block cache fits a 48-byte allocation");
