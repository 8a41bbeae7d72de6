#pragma once

#include "engine/KZNodeCache.h"

#include <QtGlobal>

#include <array>
#include <vector>

// What a content comparison remembers of one file, so that a node met by
// several candidates reads its file only once.
//
// Block k (1-based) is described by the running sum of the block values of
// blocks 1 to k and by its own SHA-1 digest. The sums order the candidate
// tree; the digests decide equality, since equal 32-bit sums prove nothing.
// Blocks 1 to resumeIndex are taken as they are; reading resumes with block
// resumeIndex + 1 (the last block hashed is read once more, where a
// comparison that stopped there left it).
class KZContentCache final : public KZNodeCache {
public:
    using Digest = std::array<quint8, 20>;

    explicit KZContentCache(quint64 length) : length_(length) {}

    // The length of the file the blocks were read from.
    quint64 length() const { return length_; }
    quint64 resumeIndex() const { return resumeIndex_; }
    quint64 blocksHashed() const { return sums_.size(); }
    quint32 runningSum(quint64 block) const { return sums_[block - 1]; }
    const Digest& digest(quint64 block) const { return digests_[block - 1]; }

    // Records a freshly hashed block k; blocks after it are forgotten.
    void store(quint64 block, quint32 runningSum, const Digest& digest)
    {
        sums_.resize(block);
        digests_.resize(block);
        sums_[block - 1] = runningSum;
        digests_[block - 1] = digest;
        resumeIndex_ = block - 1;
    }

private:
    quint64 length_;
    quint64 resumeIndex_ = 0;
    std::vector<quint32> sums_;
    std::vector<Digest> digests_;
};
