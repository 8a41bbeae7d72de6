#include "engine/KZCrc32.h"

#include "engine/KZContentCache.h"
#include "engine/KZImageRecord.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/StringTable.h"
#include "settings/KZNotificationNames.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

// A comparison that keeps the search busy this long after the scan has ended
// tells the progress window, so that the window does not look stalled.
constexpr auto kNoticeDelay = std::chrono::milliseconds(1500);

// The cache held by a node, made anew when there is none (or when what is
// there cannot describe a file of this length, as when the file changed).
KZContentCache* cacheFor(std::unique_ptr<KZNodeCache>* field, quint64 length)
{
    auto* cache = dynamic_cast<KZContentCache*>(field->get());
    if (cache && cache->length() == length)
        return cache;
    auto fresh = std::make_unique<KZContentCache>(length);
    cache = fresh.get();
    *field = std::move(fresh);
    return cache;
}

quint64 blockCount(quint64 length)
{
    // An empty file is one empty block, so that two of them meet once and
    // compare equal without a byte read.
    return length == 0 ? 1 : (length + KZCrc32::kBlockSize - 1) / KZCrc32::kBlockSize;
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
    OPENSSL_thread_stop();
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
    unsigned int digestLength = 0;
    if (EVP_Digest(buffer, std::size_t(n), hashString->data(), &digestLength, EVP_sha1(), nullptr) != 1
        || digestLength != hashString->size())
        return false;
    *value = calculate_buffer_crc(hashString->size(), 0xFFFFFFFFu, hashString->data());
    return true;
}

qint16 KZCrc32::compareContentOfFile(const std::filesystem::path& one, const std::filesystem::path& two,
                                     std::unique_ptr<KZNodeCache>* crc32One,
                                     std::unique_ptr<KZNodeCache>* crc32Two, Unreadable* unreadable) const
{
    auto report = [unreadable](bool oneFailed, bool twoFailed) {
        if (unreadable)
            *unreadable = oneFailed ? (twoFailed ? Unreadable::Both : Unreadable::One)
                                    : (twoFailed ? Unreadable::Two : Unreadable::None);
    };
    report(false, false);

    // Two nodes that both met other candidates before may already know their
    // answer: then neither file is opened. Many files of one size thus cost
    // one read each, not one per pair.
    const auto* knownOne = dynamic_cast<const KZContentCache*>(crc32One->get());
    const auto* knownTwo = dynamic_cast<const KZContentCache*>(crc32Two->get());
    if (knownOne && knownTwo && knownOne->length() == knownTwo->length()) {
        const quint64 known = std::min(knownOne->blocksHashed(), knownTwo->blocksHashed());
        for (quint64 k = 1; k <= known; ++k) {
            if (knownOne->runningSum(k) != knownTwo->runningSum(k))
                return compareForSameNumber(knownOne->runningSum(k), knownTwo->runningSum(k));
            if (knownOne->digest(k) != knownTwo->digest(k))
                return orderOfDigests(knownOne->digest(k), knownTwo->digest(k));
        }
        if (known == blockCount(knownOne->length()))
            return 0;
    }

    const std::unique_ptr<KZContentReader::File> fileOne = reader_->open(one);
    const std::unique_ptr<KZContentReader::File> fileTwo = reader_->open(two);
    if (!fileOne || !fileTwo) {
        report(!fileOne, !fileTwo);
        return -2;
    }
    const quint64 length = fileLength(*fileOne);
    if (fileLength(*fileTwo) != length)
        return -2;

    KZContentCache* cacheOne = cacheFor(crc32One, length);
    KZContentCache* cacheTwo = cacheFor(crc32Two, length);

    const quint64 blocks = blockCount(length);
    const auto start = std::chrono::steady_clock::now();
    bool noticeShown = false;
    std::unique_ptr<char[]> buffer;

    struct Side {
        KZContentReader::File* file;
        KZContentCache* cache;
        quint32 sum = 0;
        Digest digest{};
    };
    Side sides[2] = {{fileOne.get(), cacheOne}, {fileTwo.get(), cacheTwo}};

    qint16 answer = 0;
    for (quint64 k = 1; k <= blocks; ++k) {
        bool failed[2] = {false, false};
        for (int s = 0; s < 2; ++s) {
            Side& side = sides[s];
            if (side.cache->resumeIndex() >= k) {
                side.sum = side.cache->runningSum(k);
                side.digest = side.cache->digest(k);
                continue;
            }
            if (!buffer)
                buffer.reset(new char[kBlockSize]);
            quint32 value = 0;
            if (!calculateShaForFile(*side.file, (k - 1) * kBlockSize, buffer.get(), &value, &side.digest)) {
                failed[s] = true;
                continue;
            }
            side.sum += value; // modulo 2^32
            side.cache->store(k, side.sum, side.digest);
        }
        if (failed[0] || failed[1]) {
            // A block we could not read proves nothing either way.
            report(failed[0], failed[1]);
            answer = -2;
            break;
        }
        if (sides[0].sum != sides[1].sum) {
            answer = compareForSameNumber(sides[0].sum, sides[1].sum);
            break;
        }
        if (sides[0].digest != sides[1].digest) {
            answer = orderOfDigests(sides[0].digest, sides[1].digest);
            break;
        }
        if (!noticeShown && k < blocks && delegate_ && std::chrono::steady_clock::now() - start >= kNoticeDelay
            && delegate_->phaseOneisTerminated()) {
            noticeShown = true;
            postNotice(true);
        }
    }
    if (noticeShown)
        postNotice(false);
    return answer;
}

void KZCrc32::postNotice(bool show) const
{
    QVariantMap info{{QStringLiteral("show"), show}};
    if (show)
        info.insert(QStringLiteral("whichInfo"), platform::localizedString(QStringLiteral("comparingContent_info")));
    platform::NotificationCenter::defaultCenter().post(KZNotification::updateOtherFoldersInfo,
                                                       platform::NotificationObject(delegate_->progressCntrl()), info);
}

std::unique_ptr<KZNodeCache> KZCrc32::CRCForImageWithURL(const std::filesystem::path& /*url*/) const
{
    return nullptr;
}

qint16 KZCrc32::compareContentOfPhoto(const std::filesystem::path& one, const std::filesystem::path& two,
                                      std::unique_ptr<KZNodeCache>* recordOne,
                                      std::unique_ptr<KZNodeCache>* recordTwo) const
{
    if (!dynamic_cast<KZImageRecord*>(recordOne->get()))
        *recordOne = CRCForImageWithURL(one);
    if (!dynamic_cast<KZImageRecord*>(recordTwo->get()))
        *recordTwo = CRCForImageWithURL(two);
    const auto* first = dynamic_cast<const KZImageRecord*>(recordOne->get());
    const auto* second = dynamic_cast<const KZImageRecord*>(recordTwo->get());
    if (!first || !second)
        return -2;
    const qint16 byLength = compareForSameNumber(first->pixelLength(), second->pixelLength());
    if (byLength != 0)
        return byLength;
    return compareForSameNumber(first->crc(), second->crc());
}
