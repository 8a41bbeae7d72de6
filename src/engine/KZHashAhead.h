#pragma once

#include "engine/KZSearchItemInfo.h"

#include <QtGlobal>

#include <cstddef>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

class KZCrc32;
class KZHashPool;
struct TreeToCheck;

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
//
// Threads: noteCandidate and sizeShared keep the sizes met, which the scan
// workers and the driver share; the owner calls them with its candidate lock
// held (the same lock as around the candidate stacks). Everything else
// belongs to the driver. The pool's threads end with this object.
class KZHashAhead {
public:
    // `stopped` is asked between the rounds.
    KZHashAhead(KZCrc32& crc32, unsigned threads, std::function<bool()> stopped);
    ~KZHashAhead();
    KZHashAhead(const KZHashAhead&) = delete;
    KZHashAhead& operator=(const KZHashAhead&) = delete;

    // A candidate pushed for the driver (owner's candidate lock held).
    void noteCandidate(const KZSearchItemInfo& item);
    // Whether another file than the first one met had a candidate of this
    // size (owner's candidate lock held).
    bool sizeShared(quint64 size) const;

    // Hashes, on the pool, the blocks that filing the batch will compare:
    // first blocks of files whose size is shared, whole files whose first
    // block is shared too (and the tree node that met that block first).
    // The batch is filed only afterwards: filing one batch while the next
    // was hashed lost groups of folder searches now and then.
    void hashAheadOf(const std::vector<KZSearchItemInfoRef>& batch, const std::vector<bool>& sizeShared);
    // The pool, for other work of the driver's between batches.
    KZHashPool& pool() { return *pool_; }

    // A tree node whose file was hashed only in part, so that the pool can
    // finish it when a file with the same first block comes.
    void notePartialNode(TreeToCheck* node);
    // The node leaves the tree.
    void forgetPartialNode(const TreeToCheck* node);

private:
    // Per size, the first file met (its identity, mixed) and whether
    // another file had a candidate of that size too (names of one file
    // share their bytes without a read). A word per size: the top bit says
    // shared, the others hold the identity. Small sizes, which most files
    // of a tree have, are looked up by index: every candidate passes here
    // with the candidate lock held.
    static constexpr quint64 kShared = quint64(1) << 63;
    static constexpr quint64 kIndexedSizes = 65536;
    quint64* sizeMet(quint64 size);
    struct FirstBlock {
        quint64 size;
        quint64 head; // the digest's first bytes
        bool operator==(const FirstBlock&) const = default;
    };
    struct FirstBlockHash {
        std::size_t operator()(const FirstBlock& key) const noexcept;
    };
    struct FirstBlockMet {
        quint32 count = 0;
        TreeToCheck* partialNode = nullptr; // in the tree, hashed only in part
    };

    KZCrc32& crc32_;
    std::unique_ptr<KZHashPool> pool_;
    std::function<bool()> stopped_;
    std::vector<quint64> smallSizesMet_; // by size, grown to the largest met; 0 when none met
    std::unordered_map<quint64, quint64> sizesMet_;
    std::unordered_map<FirstBlock, FirstBlockMet, FirstBlockHash> firstBlocksMet_;
};
