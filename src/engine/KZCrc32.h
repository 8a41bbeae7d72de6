#pragma once

#include "engine/KZContentReader.h"
#include "engine/KZNodeCache.h"

#include <QtGlobal>

#include <array>
#include <filesystem>
#include <memory>
#include <optional>

// Decides whether two files hold the same bytes and whether two images show
// the same picture. One instance serves a whole search and is shared by the
// scan workers, the main pass and the image pass: every operation works on
// its arguments only, and the table is filled before the instance is shared.
//
// Files are compared in blocks of 40960 bytes. Each block is reduced to its
// SHA-1 digest and to a 32-bit block value (the CRC of the digest); the
// running sums of the block values order the candidate tree, and two files
// are equal only when every block digest is equal. What was hashed is kept in
// the nodes' caches (KZContentCache), so that a file met again by another
// candidate is not read again for the blocks already done.
class KZSearchItemInfo;

class KZCrc32 {
public:
    static constexpr quint64 kBlockSize = 40960;
    using Digest = std::array<quint8, 20>;

    // The search controller: asked whether the scan workers are done, so
    // that a long comparison after the scan can say what it is doing.
    class Delegate {
    public:
        virtual ~Delegate() = default;
        virtual bool phaseOneisTerminated() const = 0;
        // The object of "updateOtherFoldersInfo".
        virtual const void* progressCntrl() const = 0;
        // Asked between blocks, so that stopping does not wait for two huge
        // files to be read to their end.
        virtual bool searchWasStopped() const { return false; }
    };

    // Which side of a comparison could not be read.
    enum class Unreadable { None, One, Two, Both };

    // `reader` null means the file system.
    explicit KZCrc32(Delegate* delegate = nullptr, KZContentReader* reader = nullptr);
    KZCrc32(const KZCrc32&) = delete;
    KZCrc32& operator=(const KZCrc32&) = delete;

    Delegate* delegate() const { return delegate_; }
    void setDelegate(Delegate* delegate) { delegate_ = delegate; }

    // The CRC-32 table of the reflected polynomial 0xEDB88320; false when
    // handed no table.
    static bool buildTableCrc32(quint32* table);
    // The register after the last byte, not inverted.
    quint32 calculate_buffer_crc(quint64 count, quint32 crc, const quint8* data) const;

    // 0 same content; 1 the second file sorts after the first, -1 before;
    // -2 not comparable (a file that cannot be opened or read, lengths
    // that differ, or the search stopped part-way). `one` belongs to the tree node, `two` to the new node.
    // Missing caches are made in the pointed-to fields, which the caller
    // owns. `unreadable` (may be null) tells which side failed.
    qint16 compareContentOfFile(const std::filesystem::path& one, const std::filesystem::path& two,
                                std::unique_ptr<KZNodeCache>* crc32One, std::unique_ptr<KZNodeCache>* crc32Two,
                                Unreadable* unreadable = nullptr) const;
    // The same for two scanned items: their locations are put together only
    // when a file has to be opened, which nodes whose caches already hold
    // the answer never need.
    qint16 compareContentOfFile(const KZSearchItemInfo& one, const KZSearchItemInfo& two,
                                std::unique_ptr<KZNodeCache>* crc32One, std::unique_ptr<KZNodeCache>* crc32Two,
                                Unreadable* unreadable = nullptr) const;

    // The answer of compareContentOfFile when the two caches alone hold it
    // (both files hashed up to a difference, or whole); none when a file
    // would have to be read.
    static std::optional<qint16> compareKnownContent(const KZNodeCache* one, const KZNodeCache* two);

    // The cache of a file of at most one block, hashed whole; null when it
    // cannot be read or no longer has `length` bytes.
    std::unique_ptr<KZNodeCache> hashSmallFile(const std::filesystem::path& url, quint64 length) const;

    // Hashes the item's file ahead of its comparisons into `cache` (made
    // when empty), from the first block not yet there up to block `blocks`.
    // False when the file cannot be read or its length is no longer the
    // item's; what was hashed before a failure is kept. Stops early, with
    // true, when the search is stopped.
    bool hashAhead(const KZSearchItemInfo& item, quint64 blocks, std::unique_ptr<KZNodeCache>* cache) const;
    // The same for a file known by its location and the length it was seen with.
    bool hashAhead(const std::filesystem::path& url, quint64 length, quint64 blocks,
                   std::unique_ptr<KZNodeCache>* cache) const;
    static quint64 blocksOf(quint64 length);

    // The image record of a picture: its pixels decoded and converted to one
    // format, their dimensions and digest. Null when the file cannot be read
    // or decoded, and the item then takes part by its bytes.
    std::unique_ptr<KZNodeCache> CRCForImageWithURL(const std::filesystem::path& url) const;
    // Two pictures by their records (made where missing): -2 when either has
    // none, else the pixel lengths, the dimensions, then the whole digests.
    qint16 compareContentOfPhoto(const std::filesystem::path& one, const std::filesystem::path& two,
                                 std::unique_ptr<KZNodeCache>* recordOne,
                                 std::unique_ptr<KZNodeCache>* recordTwo) const;

    // The block value of the `length - position` bytes (at most one block)
    // that start at `position`: 0 with nothing read for an empty rest. False
    // when the block cannot be read.
    bool calculateShaForFile(KZContentReader::File& file, quint64 position, char* buffer, quint32* value,
                             Digest* hashString) const;
    static quint64 fileLength(const KZContentReader::File& file) { return file.length(); }

    // Lets the hashing library free what it keeps for the calling thread; a
    // thread that hashed calls it before it goes back to its pool, whose
    // threads may outlive the library's own clean-up at exit.
    static void threadFinished();

    // 0 when equal, -1 when the second is smaller, 1 when it is larger.
    static qint16 compareForSameNumber(quint32 first, quint32 second);

private:
    // A side of a comparison: a location, or an item that knows its own.
    struct Location {
        const std::filesystem::path* path = nullptr;
        const KZSearchItemInfo* item = nullptr;
        std::filesystem::path get() const;
    };
    qint16 compareContent(const Location& one, const Location& two, std::unique_ptr<KZNodeCache>* crc32One,
                          std::unique_ptr<KZNodeCache>* crc32Two, Unreadable* unreadable) const;
    struct Side;
    bool openSide(Side& side) const;
    // Opens what must be opened and fits the caches to the common length;
    // false when the two cannot be compared.
    bool settleLength(Side (&sides)[2], quint64* length) const;
    bool hashNextBlock(Side& side, quint64 k, quint64 length) const;
    void postNotice(bool show) const;

    std::array<quint32, 256> crcTable_{};
    Delegate* delegate_;
    KZContentReader* reader_;
};
