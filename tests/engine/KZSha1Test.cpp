// The content digests: the processor's SHA instructions give the digest of
// the standard, whatever the length and wherever the buffer lies.

#include "engine/KZSha1.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

QByteArray hex(const kzsha1::Digest& digest)
{
    return QByteArray(reinterpret_cast<const char*>(digest.data()), qsizetype(digest.size())).toHex();
}

TEST(KZSha1, EqualsTheStandardDigestAtEveryLengthAndAlignment)
{
    EXPECT_EQ(hex(kzsha1::digest("abc", 3)), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(hex(kzsha1::digest("", 0)), "da39a3ee5e6b4b0d3255bfef95601890afd80709");

    std::mt19937 random(7);
    std::vector<char> bytes(200'008); // the longest length at the largest offset
    for (char& byte : bytes)
        byte = char(random());
    std::vector<std::size_t> lengths;
    // Every tail around one and two blocks (the length field's own block
    // starts at 56 bytes), then whole content blocks and odd large sizes.
    for (std::size_t n = 0; n <= 200; ++n)
        lengths.push_back(n);
    for (std::size_t n : {4095u, 4096u, 40'959u, 40'960u, 65'536u, 199'999u})
        lengths.push_back(n);
    for (const std::size_t offset : {0u, 1u, 7u}) {
        for (const std::size_t length : lengths) {
            const QByteArray expected =
                QCryptographicHash::hash(QByteArrayView(bytes.data() + offset, qsizetype(length)),
                                         QCryptographicHash::Sha1)
                    .toHex();
            ASSERT_EQ(hex(kzsha1::digest(bytes.data() + offset, length)), expected)
                << "length " << length << ", offset " << offset
                << (kzsha1::usesProcessorInstructions() ? " (processor)" : " (portable)");
        }
    }
}

} // namespace
