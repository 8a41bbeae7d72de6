#include "engine/KZContentCache.h"
#include "engine/KZCrc32.h"
#include "engine/KZImageRecord.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <random>
#include <sys/stat.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string randomBytes(std::size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string bytes(n, '\0');
    for (auto& c : bytes)
        c = char(gen() & 0xFF);
    return bytes;
}

std::string withByteFlipped(std::string bytes, std::size_t at)
{
    bytes[at] = char(bytes[at] ^ 1);
    return bytes;
}

// Records every read (file, offset) and can make one file fail from a given
// offset on, as a disk with a bad sector would.
class RecordingReader : public KZContentReader {
public:
    std::unique_ptr<File> open(const fs::path& path) override
    {
        auto inner = KZContentReader::fileSystem().open(path);
        if (!inner)
            return nullptr;
        return std::make_unique<Recorded>(std::move(inner), this, path);
    }

    std::vector<std::pair<fs::path, quint64>> reads;
    fs::path failing;
    quint64 failFrom = 0;

private:
    class Recorded : public File {
    public:
        Recorded(std::unique_ptr<File> inner, RecordingReader* owner, fs::path path)
            : inner_(std::move(inner)), owner_(owner), path_(std::move(path)) {}
        quint64 length() const override { return inner_->length(); }
        qint64 readAt(quint64 offset, char* buffer, std::size_t count) override
        {
            owner_->reads.emplace_back(path_, offset);
            if (path_ == owner_->failing && offset >= owner_->failFrom)
                return -1;
            return inner_->readAt(offset, buffer, count);
        }

    private:
        std::unique_ptr<File> inner_;
        RecordingReader* owner_;
        fs::path path_;
    };
};

class KZCrc32Test : public ::testing::Test {
protected:
    qint16 compare(const fs::path& one, const fs::path& two, KZCrc32::Unreadable* unreadable = nullptr)
    {
        return crc.compareContentOfFile(one, two, &cacheOne, &cacheTwo, unreadable);
    }
    const KZContentCache* cache(const std::unique_ptr<KZNodeCache>& field)
    {
        return dynamic_cast<const KZContentCache*>(field.get());
    }
    std::vector<quint64> offsetsOf(const fs::path& path) const
    {
        std::vector<quint64> offsets;
        for (const auto& [file, offset] : reader.reads)
            if (file == path)
                offsets.push_back(offset);
        return offsets;
    }

    kztest::TempDir dir;
    RecordingReader reader;
    KZCrc32 crc{nullptr, &reader};
    std::unique_ptr<KZNodeCache> cacheOne;
    std::unique_ptr<KZNodeCache> cacheTwo;
};

TEST_F(KZCrc32Test, TableAndRegisterFollowTheReflectedPolynomial)
{
    quint32 table[256];
    ASSERT_TRUE(KZCrc32::buildTableCrc32(table));
    EXPECT_EQ(table[1], 0x77073096u);
    EXPECT_EQ(table[255], 0x2D02EF8Du);
    EXPECT_FALSE(KZCrc32::buildTableCrc32(nullptr));
    const quint8 check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    // The standard check value 0xCBF43926 is the inverted register.
    EXPECT_EQ(crc.calculate_buffer_crc(sizeof check, 0xFFFFFFFFu, check), ~0xCBF43926u);
    EXPECT_EQ(crc.calculate_buffer_crc(0, 0x12345678u, check), 0x12345678u);
}

TEST_F(KZCrc32Test, CompareForSameNumber)
{
    EXPECT_EQ(KZCrc32::compareForSameNumber(5, 5), 0);
    EXPECT_EQ(KZCrc32::compareForSameNumber(5, 4), -1);
    EXPECT_EQ(KZCrc32::compareForSameNumber(5, 0xFFFFFFFFu), 1);
}

TEST_F(KZCrc32Test, VerdictsByLengthAndContent)
{
    const std::string block = randomBytes(40961, 4);
    struct Case {
        const char* name;
        std::string one;
        std::string two;
        qint16 expected; // 2 means "1 or -1"
        quint64 blocks;
    };
    const std::vector<Case> cases{
        {"two empty files", "", "", 0, 1},
        {"one byte equal", "a", "a", 0, 1},
        {"one byte different", "a", "b", 2, 1},
        {"one block equal", block.substr(0, 40960), block.substr(0, 40960), 0, 1},
        {"one byte past a block", block, block, 0, 2},
        {"differ in the extra byte", block, block.substr(0, 40960) + char(block[40960] ^ 1), 2, 2},
        {"different lengths", "abc", "abcd", -2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cacheOne.reset();
        cacheTwo.reset();
        reader.reads.clear();
        const fs::path one = dir.write(std::string(c.name) + ".1", c.one);
        const fs::path two = dir.write(std::string(c.name) + ".2", c.two);
        const qint16 answer = compare(one, two);
        if (c.expected == 2)
            EXPECT_TRUE(answer == 1 || answer == -1) << answer;
        else
            EXPECT_EQ(answer, c.expected);
        if (c.one.empty() && c.two.empty()) {
            EXPECT_TRUE(reader.reads.empty()) << "empty files are equal without a read";
        }
        if (c.blocks > 0) {
            ASSERT_NE(cache(cacheOne), nullptr);
            EXPECT_EQ(cache(cacheOne)->blocksHashed(), c.blocks);
        }
    }
}

TEST_F(KZCrc32Test, OrderIsTheSameForEqualFiles)
{
    // Files of equal content must go the same way at every node they meet.
    const fs::path a = dir.write("a", randomBytes(5000, 1));
    const fs::path b = dir.write("b", randomBytes(5000, 2));
    const fs::path c = dir.write("c", randomBytes(5000, 2));
    const qint16 ab = compare(a, b);
    cacheTwo.reset();
    const qint16 ac = compare(a, c);
    EXPECT_NE(ab, 0);
    EXPECT_EQ(ab, ac);
}

TEST_F(KZCrc32Test, CacheResumesFromTheLastHashedBlock)
{
    // Three blocks: two differs from one in the second, three in the third.
    const std::string big = randomBytes(100000, 5);
    std::string second = big;
    second[50000] = char(second[50000] ^ 1);
    std::string third = big;
    third[99999] = char(third[99999] ^ 2);
    const fs::path one = dir.write("one", big);
    const fs::path two = dir.write("two", second);
    const fs::path three = dir.write("three", third);

    const qint16 first = compare(one, two);
    EXPECT_TRUE(first == 1 || first == -1);
    ASSERT_NE(cache(cacheOne), nullptr);
    EXPECT_EQ(cache(cacheOne)->resumeIndex(), 1u);
    EXPECT_EQ(cache(cacheOne)->blocksHashed(), 2u);
    EXPECT_EQ(cache(cacheTwo)->resumeIndex(), 1u);
    EXPECT_EQ(offsetsOf(one), (std::vector<quint64>{0, 40960}));

    // Three agrees with all that one's cache holds: one is read on, from
    // its last hashed block.
    reader.reads.clear();
    cacheTwo.reset();
    const qint16 again = compare(one, three);
    EXPECT_TRUE(again == 1 || again == -1);
    EXPECT_EQ(offsetsOf(one), (std::vector<quint64>{40960, 81920})) << "only the last hashed block is read again";
    EXPECT_EQ(offsetsOf(three), (std::vector<quint64>{0, 40960, 81920}));
    EXPECT_EQ(cache(cacheOne)->blocksHashed(), 3u);

    // Once its cache holds the answer, one is not read at all.
    reader.reads.clear();
    cacheTwo.reset();
    EXPECT_EQ(compare(one, two), first);
    EXPECT_TRUE(offsetsOf(one).empty());
    EXPECT_EQ(offsetsOf(two), (std::vector<quint64>{0, 40960}));
}

TEST_F(KZCrc32Test, OnlyTheFirstResumeReadsABlockAgain)
{
    // Five blocks; each candidate agrees with one's cache one block further.
    const std::string big = randomBytes(5 * 40960, 9);
    const fs::path one = dir.write("one", big);
    const fs::path firstBlock = dir.write("b1", withByteFlipped(big, 100));
    const fs::path thirdBlock = dir.write("b3", withByteFlipped(big, 2 * 40960 + 7));
    const fs::path fifthBlock = dir.write("b5", withByteFlipped(big, 4 * 40960 + 7));
    std::vector<quint64> readsOfOne;
    for (const fs::path& candidate : {firstBlock, thirdBlock, fifthBlock}) {
        cacheTwo.reset();
        reader.reads.clear();
        EXPECT_NE(compare(one, candidate), 0);
        const std::vector<quint64> offsets = offsetsOf(one);
        readsOfOne.insert(readsOfOne.end(), offsets.begin(), offsets.end());
    }
    EXPECT_EQ(readsOfOne, (std::vector<quint64>{0, 0, 40960, 81920, 122880, 163840}))
        << "block 1 once more at the first resume, nothing twice after it";
    EXPECT_TRUE(cache(cacheOne)->wasResumed());
}

TEST_F(KZCrc32Test, ResumeOfAFileThatChangedIsNotComparable)
{
    const std::string big = randomBytes(90000, 8);
    const fs::path one = dir.write("one", big);
    const fs::path two = dir.write("two", withByteFlipped(big, 50000));
    const fs::path three = dir.write("three", big);
    EXPECT_NE(compare(one, two), 0);
    ASSERT_EQ(cache(cacheOne)->blocksHashed(), 2u);

    // The block one's cache would resume from is no longer what was hashed.
    dir.write("one", withByteFlipped(big, 41000));
    cacheTwo.reset();
    KZCrc32::Unreadable side = KZCrc32::Unreadable::None;
    EXPECT_EQ(compare(one, three, &side), -2);
    EXPECT_EQ(side, KZCrc32::Unreadable::One);
}

TEST_F(KZCrc32Test, NodesThatKnowTheirAnswerOpenNothing)
{
    const fs::path a = dir.write("a", "first text");
    const fs::path b = dir.write("b", "other text");
    const fs::path c = dir.write("c", "third text");
    std::unique_ptr<KZNodeCache> cacheA;
    std::unique_ptr<KZNodeCache> cacheB;
    std::unique_ptr<KZNodeCache> cacheC;
    crc.compareContentOfFile(a, b, &cacheA, &cacheB);
    crc.compareContentOfFile(a, c, &cacheA, &cacheC);
    reader.reads.clear();
    EXPECT_NE(crc.compareContentOfFile(b, c, &cacheB, &cacheC), 0);
    EXPECT_TRUE(reader.reads.empty());
}

TEST_F(KZCrc32Test, EqualSumsWithDifferentDigestsAreNotEqual)
{
    // Two caches that agree on every running sum but not on the bytes: the
    // 32-bit sums alone would call these files equal.
    const fs::path one = dir.write("one", "same length 1");
    const fs::path two = dir.write("two", "same length 2");
    auto first = std::make_unique<KZContentCache>(13);
    auto second = std::make_unique<KZContentCache>(13);
    KZContentCache::Digest d1{};
    KZContentCache::Digest d2{};
    d2[19] = 1;
    first->store(1, 0xABCDu, d1);
    second->store(1, 0xABCDu, d2);
    cacheOne = std::move(first);
    cacheTwo = std::move(second);
    EXPECT_NE(compare(one, two), 0);
}

TEST_F(KZCrc32Test, UnreadableSidesAreNeverEqual)
{
    const std::string big = randomBytes(90000, 6);
    const fs::path good = dir.write("good", big);
    const fs::path copy = dir.write("copy", big);
    const fs::path missing = dir / "missing";
    const fs::path pipe = dir / "pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
    const fs::path empty = dir.write("empty", "");
    fs::create_symlink(good, dir / "link");

    KZCrc32::Unreadable side = KZCrc32::Unreadable::None;
    EXPECT_EQ(compare(good, missing, &side), -2);
    EXPECT_EQ(side, KZCrc32::Unreadable::Two);
    EXPECT_EQ(compare(missing, good, &side), -2);
    EXPECT_EQ(side, KZCrc32::Unreadable::One);
    EXPECT_EQ(compare(empty, pipe, &side), -2) << "a pipe is refused, not waited on";
    EXPECT_EQ(side, KZCrc32::Unreadable::Two);
    EXPECT_EQ(compare(dir / "link", copy, &side), -2) << "links are not followed";
    EXPECT_EQ(side, KZCrc32::Unreadable::One);

    // A read that fails part-way through the second block.
    cacheOne.reset();
    cacheTwo.reset();
    reader.failing = copy;
    reader.failFrom = 40960;
    EXPECT_EQ(compare(good, copy, &side), -2);
    EXPECT_EQ(side, KZCrc32::Unreadable::Two);
    ASSERT_NE(cache(cacheTwo), nullptr);
    EXPECT_EQ(cache(cacheTwo)->blocksHashed(), 1u) << "a failed block is not cached";
}

TEST_F(KZCrc32Test, ImageRecordsCompareByLengthThenCrc)
{
    // No picture can be decoded yet: no record, not comparable.
    const fs::path picture = dir.write("p.png", "not really a picture");
    EXPECT_EQ(crc.CRCForImageWithURL(picture), nullptr);
    std::unique_ptr<KZNodeCache> one;
    std::unique_ptr<KZNodeCache> two;
    EXPECT_EQ(crc.compareContentOfPhoto(picture, picture, &one, &two), -2);

    struct Case {
        quint32 lengthOne, crcOne, lengthTwo, crcTwo;
        qint16 expected;
    };
    for (const Case& c : {Case{10, 5, 10, 5, 0}, Case{10, 5, 10, 6, 1}, Case{10, 5, 10, 4, -1},
                          Case{10, 5, 9, 9, -1}, Case{10, 5, 11, 0, 1}}) {
        one = std::make_unique<KZImageRecord>(c.lengthOne, c.crcOne);
        two = std::make_unique<KZImageRecord>(c.lengthTwo, c.crcTwo);
        EXPECT_EQ(crc.compareContentOfPhoto(picture, picture, &one, &two), c.expected);
    }
}

} // namespace
