#include "engine/KZCrc32.h"

#include "engine/KZCompareCodes.h"
#include "engine/KZContentCache.h"
#include "engine/KZImageRecord.h"
#include "engine/KZSearchItemInfo.h"
#include "engine/KZSha1.h"
#include "media/KZImageDecoding.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/StringTable.h"
#include "settings/KZNotificationNames.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QCryptographicHash>


#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>

namespace {

// A comparison that keeps the search busy this long after the scan has ended
// tells the progress window, so that the window does not look stalled.
constexpr auto kNoticeDelay = std::chrono::milliseconds(1500);

quint64 blockCount(quint64 length)
{
    // An empty file is one empty block, so that two of them meet once and
    // compare equal without a byte read.
    return length == 0 ? 1 : (length + KZCrc32::kBlockSize - 1) / KZCrc32::kBlockSize;
}

// One block's worth of memory per hashing thread, kept for the thread's
// life: a search compares tens of thousands of pairs.
char* blockBuffer()
{
    thread_local std::unique_ptr<char[]> buffer;
    if (!buffer)
        buffer.reset(new char[KZCrc32::kBlockSize]);
    return buffer.get();
}

bool sha1Digest(const char* data, std::size_t length, KZCrc32::Digest* digest)
{
    *digest = kzsha1::digest(data, length);
    return true;
}

qint16 orderOfDigests(const KZCrc32::Digest& one, const KZCrc32::Digest& two)
{
    // Equal sums, different bytes: any fixed order serves, as long as files
    // of equal content always land on the same side.
    return std::memcmp(two.data(), one.data(), one.size()) > 0 ? 1 : -1;
}

} // namespace

KZCrc32::KZCrc32(Delegate* delegate, KZContentReader* reader)
    : delegate_(delegate), reader_(reader ? reader : &KZContentReader::fileSystem())
{
    buildTableCrc32(crcTable_.data());
}

bool KZCrc32::buildTableCrc32(quint32* table)
{
    if (!table)
        return false;
    for (quint32 n = 0; n < 256; ++n) {
        quint32 c = n;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1u) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
        table[n] = c;
    }
    return true;
}

quint32 KZCrc32::calculate_buffer_crc(quint64 count, quint32 crc, const quint8* data) const
{
    for (quint64 i = 0; i < count; ++i)
        crc = crcTable_[(crc ^ data[i]) & 0xFFu] ^ (crc >> 8);
    return crc;
}

void KZCrc32::threadFinished()
{
    // Hashing keeps nothing per thread any more; the hook stays for the
    // threads' owners.
}

qint16 KZCrc32::compareForSameNumber(quint32 first, quint32 second)
{
    if (first == second)
        return 0;
    return second < first ? -1 : 1;
}

bool KZCrc32::calculateShaForFile(KZContentReader::File& file, quint64 position, char* buffer, quint32* value,
                                  Digest* hashString) const
{
    const quint64 length = file.length();
    const quint64 n = position < length ? std::min(kBlockSize, length - position) : 0;
    if (n == 0) {
        *value = 0;
        hashString->fill(0);
        return true;
    }
    if (file.readAt(position, buffer, std::size_t(n)) != qint64(n)) {
        platform::logLine(QStringLiteral("Failed to read data"));
        return false;
    }
    if (!sha1Digest(buffer, std::size_t(n), hashString))
        return false;
    *value = calculate_buffer_crc(hashString->size(), 0xFFFFFFFFu, hashString->data());
    return true;
}

qint16 KZCrc32::compareContentOfFile(const std::filesystem::path& one, const std::filesystem::path& two,
                                     std::unique_ptr<KZNodeCache>* crc32One,
                                     std::unique_ptr<KZNodeCache>* crc32Two, Unreadable* unreadable) const
{
    return compareContent({&one, nullptr}, {&two, nullptr}, crc32One, crc32Two, unreadable);
}

qint16 KZCrc32::compareContentOfFile(const KZSearchItemInfo& one, const KZSearchItemInfo& two,
                                     std::unique_ptr<KZNodeCache>* crc32One,
                                     std::unique_ptr<KZNodeCache>* crc32Two, Unreadable* unreadable) const
{
    return compareContent({nullptr, &one}, {nullptr, &two}, crc32One, crc32Two, unreadable);
}

std::optional<qint16> KZCrc32::compareKnownContent(const KZNodeCache* one, const KZNodeCache* two)
{
    const KZContentCache* first = KZContentCache::from(one);
    const KZContentCache* second = KZContentCache::from(two);
    if (!first || !second || first->length() != second->length())
        return std::nullopt;
    const quint64 known = std::min(first->blocksHashed(), second->blocksHashed());
    for (quint64 k = 1; k <= known; ++k) {
        if (first->runningSum(k) != second->runningSum(k))
            return compareForSameNumber(first->runningSum(k), second->runningSum(k));
        if (first->digest(k) != second->digest(k))
            return orderOfDigests(first->digest(k), second->digest(k));
    }
    if (known == blockCount(first->length()))
        return qint16(0);
    return std::nullopt;
}

std::filesystem::path KZCrc32::Location::get() const
{
    return path ? *path : item->url();
}

// One side of a comparison while it runs. A file is opened only when the
// comparison needs a block its cache does not hold. Two nodes that met other
// candidates before may know their answer without any file opened, and a
// node whose file is fully hashed is never read again: many files of one
// size cost one read each, not one per pair.
struct KZCrc32::Side {
    const Location* location;
    std::unique_ptr<KZNodeCache>* field;
    KZContentCache* cache;
    std::unique_ptr<KZContentReader::File> file;
    quint32 sum = 0;
    const Digest* digest = nullptr;
    Digest read{};
    bool failed = false;
};

bool KZCrc32::openSide(Side& side) const
{
    side.file = reader_->open(side.location->get());
    side.failed = !side.file;
    return side.file != nullptr;
}

bool KZCrc32::settleLength(Side (&sides)[2], quint64* length) const
{
    // The common length: from the caches when both agree; else every side
    // without a usable cache is opened first, so that a file that cannot be
    // opened, or has another length, costs no read and no cache.
    if (sides[0].cache && sides[1].cache && sides[0].cache->length() == sides[1].cache->length()) {
        *length = sides[0].cache->length();
        return true;
    }
    const bool both = sides[0].cache && sides[1].cache; // caches of different lengths
    bool known = false;
    // The new side first: a candidate that cannot be read costs no open
    // of the tree's file, which would otherwise be opened once for every
    // unreadable candidate of its size.
    for (int s : {1, 0}) {
        if (sides[s].cache && !both)
            continue;
        if (!openSide(sides[s]))
            return false;
        if (known && sides[s].file->length() != *length)
            return false;
        *length = sides[s].file->length();
        known = true;
    }
    for (Side& side : sides) {
        if (side.file)
            continue;
        // A cache made for another length describes a file that changed:
        // only its file can tell now.
        if (side.cache->length() != *length && (!openSide(side) || side.file->length() != *length))
            return false;
    }
    for (Side& side : sides) {
        if (side.file && (!side.cache || side.cache->length() != *length)) {
            auto fresh = std::make_unique<KZContentCache>(*length);
            side.cache = fresh.get();
            *side.field = std::move(fresh);
        }
    }
    return true;
}

bool KZCrc32::hashNextBlock(Side& side, quint64 k, quint64 length) const
{
    // The next block of a side whose cache has run out. The first time a
    // file is opened again to go on where an earlier comparison stopped, its
    // last hashed block is read once more; if that block is no longer what
    // was hashed, the file changed under the search and cannot be compared.
    // Later resumptions go straight on, so that no file is read more than
    // once but for that one block.
    KZContentCache& cache = *side.cache;
    if (!side.file) {
        if (!openSide(side) || side.file->length() != length)
            return false;
        const quint64 resume = cache.resumeIndex() + 1;
        if (resume < k && !cache.wasResumed()) {
            cache.setWasResumed();
            const Digest before = cache.digest(resume);
            quint32 value = 0;
            Digest again{};
            if (!calculateShaForFile(*side.file, (resume - 1) * kBlockSize, blockBuffer(), &value, &again)
                || again != before)
                return false;
            cache.store(resume, (resume > 1 ? cache.runningSum(resume - 1) : 0) + value, again);
        }
    }
    quint32 value = 0;
    if (!calculateShaForFile(*side.file, (k - 1) * kBlockSize, blockBuffer(), &value, &side.read))
        return false;
    side.sum = (k > 1 ? cache.runningSum(k - 1) : 0) + value; // modulo 2^32
    cache.store(k, side.sum, side.read);
    side.digest = &side.read;
    return true;
}

qint16 KZCrc32::compareContent(const Location& one, const Location& two, std::unique_ptr<KZNodeCache>* crc32One,
                               std::unique_ptr<KZNodeCache>* crc32Two, Unreadable* unreadable) const
{
    Side sides[2] = {{&one, crc32One, KZContentCache::from(crc32One->get()), {}},
                     {&two, crc32Two, KZContentCache::from(crc32Two->get()), {}}};
    auto report = [&] {
        if (unreadable)
            *unreadable = sides[0].failed ? (sides[1].failed ? Unreadable::Both : Unreadable::One)
                                          : (sides[1].failed ? Unreadable::Two : Unreadable::None);
    };
    report();

    quint64 length = 0;
    if (!settleLength(sides, &length)) {
        report();
        return KZCompare::kNotComparable;
    }
    const quint64 blocks = blockCount(length);
    if (blocks > KZContentCache::kMaxBlocks)
        return KZCompare::kNotComparable;
    const auto start = std::chrono::steady_clock::now();
    bool noticeShown = false;

    qint16 answer = KZCompare::kSame;
    for (quint64 k = 1; k <= blocks; ++k) {
        if (k > 1 && delegate_ && delegate_->searchWasStopped()) {
            answer = KZCompare::kNotComparable;
            break;
        }
        for (Side& side : sides) {
            if (k <= side.cache->blocksHashed()) {
                side.sum = side.cache->runningSum(k);
                side.digest = &side.cache->digest(k);
            } else if (!hashNextBlock(side, k, length)) {
                side.failed = true;
            }
        }
        if (sides[0].failed || sides[1].failed) {
            // A block we could not read proves nothing either way.
            report();
            answer = KZCompare::kNotComparable;
            break;
        }
        if (sides[0].sum != sides[1].sum) {
            answer = compareForSameNumber(sides[0].sum, sides[1].sum);
            break;
        }
        if (*sides[0].digest != *sides[1].digest) {
            answer = orderOfDigests(*sides[0].digest, *sides[1].digest);
            break;
        }
        if (!noticeShown && k < blocks && delegate_ && (sides[0].file || sides[1].file)
            && std::chrono::steady_clock::now() - start >= kNoticeDelay && delegate_->phaseOneisTerminated()) {
            noticeShown = true;
            postNotice(true);
        }
    }
    if (noticeShown)
        postNotice(false);
    return answer;
}

std::unique_ptr<KZNodeCache> KZCrc32::hashSmallFile(const std::filesystem::path& url, quint64 length) const
{
    if (length > kBlockSize)
        return nullptr;
    const std::unique_ptr<KZContentReader::File> file = reader_->open(url);
    if (!file || file->length() != length)
        return nullptr;
    quint32 value = 0;
    Digest digest{};
    if (!calculateShaForFile(*file, 0, blockBuffer(), &value, &digest))
        return nullptr;
    auto cache = std::make_unique<KZContentCache>(length);
    cache->store(1, value, digest);
    return cache;
}

quint64 KZCrc32::blocksOf(quint64 length)
{
    return blockCount(length);
}

bool KZCrc32::hashAhead(const KZSearchItemInfo& item, quint64 blocks, std::unique_ptr<KZNodeCache>* field) const
{
    return hashAhead(item.url(), item.totSize(), blocks, field);
}

bool KZCrc32::hashAhead(const std::filesystem::path& url, quint64 length, quint64 blocks,
                        std::unique_ptr<KZNodeCache>* field) const
{
    KZContentCache* cache = KZContentCache::from(field->get());
    if (cache && cache->length() != length)
        return false;
    blocks = std::min(blocks, blockCount(length));
    if (cache && cache->blocksHashed() >= blocks)
        return true;
    const std::unique_ptr<KZContentReader::File> file = reader_->open(url);
    if (!file || file->length() != length)
        return false;
    if (!cache) {
        auto fresh = std::make_unique<KZContentCache>(length);
        cache = fresh.get();
        *field = std::move(fresh);
    } else if (const quint64 last = cache->blocksHashed(); last > 0 && !cache->wasResumed()) {
        // Going on where an earlier read stopped: as in a comparison, the
        // last block is read once more, and a file that changed in between
        // cannot be compared.
        cache->setWasResumed();
        quint32 value = 0;
        Digest again{};
        if (!calculateShaForFile(*file, (last - 1) * kBlockSize, blockBuffer(), &value, &again)
            || again != cache->digest(last))
            return false;
    }
    for (quint64 k = cache->blocksHashed() + 1; k <= blocks; ++k) {
        if (k > 1 && delegate_ && delegate_->searchWasStopped())
            break;
        quint32 value = 0;
        Digest digest{};
        if (!calculateShaForFile(*file, (k - 1) * kBlockSize, blockBuffer(), &value, &digest))
            return false;
        cache->store(k, (k > 1 ? cache->runningSum(k - 1) : 0) + value, digest);
    }
    return true;
}

void KZCrc32::postNotice(bool show) const
{
    QVariantMap info{{QStringLiteral("show"), show}};
    if (show)
        info.insert(QStringLiteral("whichInfo"), platform::localizedString(QStringLiteral("comparingContent_info")));
    platform::NotificationCenter::defaultCenter().post(KZNotification::updateOtherFoldersInfo,
                                                       platform::NotificationObject(delegate_->progressCntrl()), info);
}

std::unique_ptr<KZNodeCache> KZCrc32::CRCForImageWithURL(const std::filesystem::path& url) const
{
    // Read through the content reader like any file, so that a file that
    // cannot be read is treated alike in both kinds of comparison.
    const std::unique_ptr<KZContentReader::File> file = reader_->open(url);
    if (!file)
        return nullptr;
    const quint64 length = file->length();
    if (length == 0 || length > quint64(std::numeric_limits<int>::max()))
        return nullptr;
    QByteArray bytes(qsizetype(length), Qt::Uninitialized);
    quint64 done = 0;
    while (done < length) {
        const qint64 n = file->readAt(done, bytes.data() + done, std::size_t(length - done));
        if (n <= 0)
            return nullptr;
        done += quint64(n);
    }
    const kzmedia::ImageDecodeFn decode = kzmedia::imageDecoder();
    if (!decode)
        return nullptr; // no decoder: compared by its bytes
    struct Pixels {
        QCryptographicHash hash{QCryptographicHash::Sha256};
        quint64 length = 0;
    } pixels;
    quint32 width = 0;
    quint32 height = 0;
    const auto row = [](void* context, const unsigned char* line, std::size_t lineBytes) {
        auto* p = static_cast<Pixels*>(context);
        p->length += lineBytes;
        p->hash.addData(QByteArrayView(line, qsizetype(lineBytes)));
        return true;
    };
    if (!decode(bytes.constData(), std::size_t(bytes.size()), &width, &height, row, &pixels))
        return nullptr; // not a picture after all: compared by its bytes
    KZImageRecord::Digest digest{};
    const QByteArrayView result = pixels.hash.resultView();
    if (std::size_t(result.size()) != digest.size())
        return nullptr;
    std::memcpy(digest.data(), result.data(), digest.size());
    return std::make_unique<KZImageRecord>(pixels.length, width, height, digest);
}

qint16 KZCrc32::compareContentOfPhoto(const std::filesystem::path& one, const std::filesystem::path& two,
                                      std::unique_ptr<KZNodeCache>* recordOne,
                                      std::unique_ptr<KZNodeCache>* recordTwo) const
{
    auto record = [](const std::unique_ptr<KZNodeCache>& field) {
        return field && field->kind() == KZNodeCache::Kind::Image ? static_cast<const KZImageRecord*>(field.get())
                                                                  : nullptr;
    };
    if (!record(*recordOne))
        *recordOne = CRCForImageWithURL(one);
    if (!record(*recordTwo))
        *recordTwo = CRCForImageWithURL(two);
    const KZImageRecord* first = record(*recordOne);
    const KZImageRecord* second = record(*recordTwo);
    if (!first || !second)
        return KZCompare::kNotComparable;
    return first->compare(*second);
}
