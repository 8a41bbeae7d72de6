#include "engine/KZSha1.h"

#include <QByteArrayView>
#include <QCryptographicHash>

#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define KZ_SHA1_X86 1
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace kzsha1 {

namespace {

Digest portableDigest(const void* data, std::size_t length)
{
    Digest out{};
    QCryptographicHash hash(QCryptographicHash::Sha1);
    // QByteArrayView's size is signed: feed very large buffers in parts.
    const char* bytes = static_cast<const char*>(data);
    constexpr std::size_t kPart = std::size_t(1) << 30;
    for (std::size_t done = 0; done < length; done += kPart)
        hash.addData(QByteArrayView(bytes + done, qsizetype(std::min(kPart, length - done))));
    const QByteArrayView result = hash.resultView();
    std::memcpy(out.data(), result.data(), out.size());
    return out;
}

#ifdef KZ_SHA1_X86

bool processorHasSha()
{
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return false;
    const bool ssse3 = ecx & (1u << 9);
    const bool sse41 = ecx & (1u << 19);
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx))
        return false;
    const bool sha = ebx & (1u << 29);
    return ssse3 && sse41 && sha;
}

// Compresses `blocks` 64-byte blocks into the state (a, b, c, d, e).
__attribute__((target("sha,sse4.1,ssse3"))) void compress(quint32 state[5], const unsigned char* data,
                                                          std::size_t blocks)
{
    const __m128i byteSwap = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
    __m128i e0 = _mm_set_epi32(int(state[4]), 0, 0, 0);

    // Four rounds per step; the function changes every five steps. W holds
    // the last four groups of four message words.
#define KZ_SHA1_ROUNDS(ABCD, E, F) _mm_sha1rnds4_epu32(ABCD, E, F)
    for (; blocks > 0; --blocks, data += 64) {
        const __m128i abcdSaved = abcd;
        const __m128i eSaved = e0;
        __m128i w[4];
        for (int i = 0; i < 4; ++i)
            w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), byteSwap);

        __m128i previous = abcd;
        abcd = KZ_SHA1_ROUNDS(abcd, _mm_add_epi32(e0, w[0]), 0);
        // Steps 1-19, unrolled by the compiler: the round function is an
        // immediate operand.
#define KZ_SHA1_STEP(k, F)                                                                                     \
    do {                                                                                                       \
        if ((k) >= 4) {                                                                                        \
            __m128i next = _mm_xor_si128(_mm_sha1msg1_epu32(w[(k) % 4], w[((k) + 1) % 4]), w[((k) + 2) % 4]); \
            w[(k) % 4] = _mm_sha1msg2_epu32(next, w[((k) + 3) % 4]);                                           \
        }                                                                                                      \
        const __m128i e = _mm_sha1nexte_epu32(previous, w[(k) % 4]);                                           \
        previous = abcd;                                                                                       \
        abcd = KZ_SHA1_ROUNDS(abcd, e, F);                                                                     \
    } while (false)
        KZ_SHA1_STEP(1, 0);
        KZ_SHA1_STEP(2, 0);
        KZ_SHA1_STEP(3, 0);
        KZ_SHA1_STEP(4, 0);
        KZ_SHA1_STEP(5, 1);
        KZ_SHA1_STEP(6, 1);
        KZ_SHA1_STEP(7, 1);
        KZ_SHA1_STEP(8, 1);
        KZ_SHA1_STEP(9, 1);
        KZ_SHA1_STEP(10, 2);
        KZ_SHA1_STEP(11, 2);
        KZ_SHA1_STEP(12, 2);
        KZ_SHA1_STEP(13, 2);
        KZ_SHA1_STEP(14, 2);
        KZ_SHA1_STEP(15, 3);
        KZ_SHA1_STEP(16, 3);
        KZ_SHA1_STEP(17, 3);
        KZ_SHA1_STEP(18, 3);
        KZ_SHA1_STEP(19, 3);
#undef KZ_SHA1_STEP
        e0 = _mm_sha1nexte_epu32(previous, eSaved);
        abcd = _mm_add_epi32(abcd, abcdSaved);
    }
#undef KZ_SHA1_ROUNDS
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
    state[4] = quint32(_mm_extract_epi32(e0, 3));
}

Digest acceleratedDigest(const void* data, std::size_t length)
{
    quint32 state[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
    const auto* bytes = static_cast<const unsigned char*>(data);
    const std::size_t whole = length / 64;
    compress(state, bytes, whole);
    // The tail, the 0x80 marker and the length in bits (big-endian) fill
    // one or two last blocks.
    unsigned char last[128] = {};
    const std::size_t tail = length % 64;
    if (tail)
        std::memcpy(last, bytes + whole * 64, tail);
    last[tail] = 0x80;
    const std::size_t lastBlocks = tail < 56 ? 1 : 2;
    const quint64 bits = quint64(length) * 8;
    for (int i = 0; i < 8; ++i)
        last[lastBlocks * 64 - 1 - i] = static_cast<unsigned char>(bits >> (8 * i));
    compress(state, last, lastBlocks);
    Digest out{};
    for (int i = 0; i < 5; ++i) {
        out[4 * i] = quint8(state[i] >> 24);
        out[4 * i + 1] = quint8(state[i] >> 16);
        out[4 * i + 2] = quint8(state[i] >> 8);
        out[4 * i + 3] = quint8(state[i]);
    }
    return out;
}

#endif

} // namespace

bool usesProcessorInstructions()
{
#ifdef KZ_SHA1_X86
    static const bool has = processorHasSha();
    return has;
#else
    return false;
#endif
}

Digest digest(const void* data, std::size_t length)
{
#ifdef KZ_SHA1_X86
    if (usesProcessorInstructions())
        return acceleratedDigest(data, length);
#endif
    return portableDigest(data, length);
}

} // namespace kzsha1
