#include "EngineTestSupport.h"

#include "engine/KZContentCache.h"
#include "engine/KZCrc32.h"
#include "platform/NotificationCenter.h"
#include "platform/StringTable.h"
#include "settings/KZNotificationNames.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <map>
#include <sys/stat.h>
#include <thread>

using namespace enginetest;

namespace {

// Files that exist only as a length and one byte that differs: huge sparse
// files without a byte on disk. Counts the blocks read.
class VirtualReader : public KZContentReader {
public:
    struct Shape {
        quint64 length = 0;
        quint64 differentByte = ~quint64(0);
    };
    std::unique_ptr<File> open(const fs::path& path) override
    {
        const auto found = files.find(path);
        return found == files.end() ? nullptr : std::make_unique<Virtual>(found->second, this);
    }
    std::map<fs::path, Shape> files;
    std::atomic<int> reads{0};
    std::atomic<int> stopAfterReads{0};
    std::atomic<bool> stopped{false};
    // Makes one read slow, as a busy or sleeping disk would.
    int pauseAtRead = 0;
    std::chrono::milliseconds pause{0};

private:
    class Virtual : public File {
    public:
        Virtual(Shape shape, VirtualReader* owner) : shape_(shape), owner_(owner) {}
        quint64 length() const override { return shape_.length; }
        qint64 readAt(quint64 offset, char* buffer, std::size_t count) override
        {
            const quint64 n = std::min<quint64>(count, shape_.length - std::min(offset, shape_.length));
            std::memset(buffer, 0, n);
            if (shape_.differentByte >= offset && shape_.differentByte < offset + n)
                buffer[shape_.differentByte - offset] = 1;
            const int done = ++owner_->reads;
            if (owner_->pauseAtRead && done == owner_->pauseAtRead)
                std::this_thread::sleep_for(owner_->pause);
            if (owner_->stopAfterReads && done >= owner_->stopAfterReads)
                owner_->stopped = true;
            return qint64(n);
        }

    private:
        Shape shape_;
        VirtualReader* owner_;
    };
};

class StopDelegate : public KZCrc32::Delegate {
public:
    explicit StopDelegate(const VirtualReader& reader) : reader_(reader) {}
    bool phaseOneisTerminated() const override { return false; }
    const void* progressCntrl() const override { return nullptr; }
    bool searchWasStopped() const override { return reader_.stopped.load(); }

private:
    const VirtualReader& reader_;
};

class KZCrc32Test : public ::testing::Test {
protected:
    qint16 compare(const fs::path& one, const fs::path& two, KZCrc32::Unreadable* unreadable = nullptr)
    {
        return crc.compareContentOfFile(one, two, &cacheOne, &cacheTwo, unreadable);
    }
    static const KZContentCache* cache(const std::unique_ptr<KZNodeCache>& field)
    {
        return dynamic_cast<const KZContentCache*>(field.get());
    }

    kztest::TempDir dir;
    ObservingReader reader;
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
    EXPECT_EQ(KZCrc32::compareForSameNumber(5, 5), 0);
    EXPECT_EQ(KZCrc32::compareForSameNumber(5, 4), -1);
    EXPECT_EQ(KZCrc32::compareForSameNumber(5, 0xFFFFFFFFu), 1);
}

TEST_F(KZCrc32Test, VerdictsByLengthAndContent)
{
    const std::string block = randomBytes(40961, 4);
    struct Case {
        const char* name;
        std::string one, two;
        qint16 expected; // 2 means "1 or -1"
        quint64 blocks;
    };
    const std::vector<Case> cases{
        {"two empty files", "", "", 0, 1},
        {"one byte equal", "a", "a", 0, 1},
        {"one byte different", "a", "b", 2, 1},
        {"one block equal", block.substr(0, 40960), block.substr(0, 40960), 0, 1},
        {"one byte past a block", block, block, 0, 2},
        {"differ in the extra byte", block, flipped(block, 40960), 2, 2},
        {"different lengths", "abc", "abcd", -2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cacheOne.reset();
        cacheTwo.reset();
        reader.sessions.clear();
        const fs::path one = dir.write(std::string(c.name) + ".1", c.one);
        const qint16 answer = compare(one, dir.write(std::string(c.name) + ".2", c.two));
        if (c.expected == 2)
            EXPECT_TRUE(answer == 1 || answer == -1) << answer;
        else
            EXPECT_EQ(answer, c.expected);
        if (c.one.empty() && c.two.empty()) {
            EXPECT_TRUE(reader.offsetsOf(one).empty()) << "empty files are equal without a read";
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
    const qint16 ab = compare(a, dir.write("b", randomBytes(5000, 2)));
    cacheTwo.reset();
    EXPECT_NE(ab, 0);
    EXPECT_EQ(compare(a, dir.write("c", randomBytes(5000, 2))), ab);
}

TEST_F(KZCrc32Test, CacheResumeReadsOnlyTheLastHashedBlockAgainAndOnlyOnce)
{
    // Five blocks; each candidate agrees with one's cache one block further.
    const std::string big = randomBytes(5 * 40960, 9);
    const fs::path one = dir.write("one", big);
    const fs::path firstBlock = dir.write("b1", flipped(big, 100));
    const std::vector<std::pair<fs::path, std::vector<quint64>>> steps{
        {firstBlock, {0}},
        {dir.write("b3", flipped(big, 2 * 40960 + 7)), {0, 40960, 81920}}, // the first resume
        {dir.write("b5", flipped(big, 4 * 40960 + 7)), {122880, 163840}},  // nothing twice after it
        {firstBlock, {}}, // the cache holds the answer: one is not read at all
    };
    for (const auto& [candidate, readsOfOne] : steps) {
        SCOPED_TRACE(candidate.native());
        cacheTwo.reset();
        reader.sessions.clear();
        EXPECT_NE(compare(one, candidate), 0);
        EXPECT_EQ(reader.offsetsOf(one), readsOfOne);
        EXPECT_EQ(reader.offsetsOf(candidate).at(0), 0u) << "a new candidate is read from its start";
    }
    EXPECT_TRUE(cache(cacheOne)->wasResumed());
    EXPECT_EQ(cache(cacheOne)->blocksHashed(), 5u);
}

TEST_F(KZCrc32Test, ResumeOfAFileThatChangedIsNotComparable)
{
    const std::string big = randomBytes(90000, 8);
    const fs::path one = dir.write("one", big);
    EXPECT_NE(compare(one, dir.write("two", flipped(big, 50000))), 0);
    ASSERT_EQ(cache(cacheOne)->blocksHashed(), 2u);

    // The block one's cache would resume from is no longer what was hashed.
    dir.write("one", flipped(big, 41000));
    cacheTwo.reset();
    KZCrc32::Unreadable side = KZCrc32::Unreadable::None;
    EXPECT_EQ(compare(one, dir.write("three", big), &side), -2);
    EXPECT_EQ(side, KZCrc32::Unreadable::One);
}

TEST_F(KZCrc32Test, EqualSumsWithDifferentDigestsAreNotEqual)
{
    // Caches that agree on every running sum but not on the bytes: the
    // 32-bit sums alone would call these files equal.
    KZContentCache::Digest a{};
    KZContentCache::Digest b{};
    b[19] = 1;
    auto made = [](quint64 length, std::vector<std::pair<quint32, KZContentCache::Digest>> blocks) {
        auto cache = std::make_unique<KZContentCache>(length);
        for (std::size_t k = 0; k < blocks.size(); ++k)
            cache->store(k + 1, blocks[k].first, blocks[k].second);
        return cache;
    };
    cacheOne = made(13, {{0xABCDu, a}});
    cacheTwo = made(13, {{0xABCDu, b}});
    EXPECT_NE(compare(dir.write("one", "same length 1"), dir.write("two", "same length 2")), 0);

    // What complete caches answer without a read.
    const auto whole = made(100, {{7, a}});
    EXPECT_EQ(KZCrc32::compareKnownContent(whole.get(), made(100, {{7, a}}).get()), qint16(0));
    EXPECT_EQ(KZCrc32::compareKnownContent(whole.get(), made(100, {{9, a}}).get()), qint16(1));
    EXPECT_EQ(KZCrc32::compareKnownContent(made(100, {{9, a}}).get(), whole.get()), qint16(-1));
    EXPECT_NE(KZCrc32::compareKnownContent(whole.get(), made(100, {{7, b}}).get()).value_or(0), 0);
    // Two blocks of three agreeing: a file must be read to know more.
    const auto part = made(100000, {{1, a}, {2, a}});
    EXPECT_FALSE(KZCrc32::compareKnownContent(part.get(), made(100000, {{1, a}, {2, a}}).get()));
    EXPECT_FALSE(KZCrc32::compareKnownContent(part.get(), nullptr));
    EXPECT_FALSE(KZCrc32::compareKnownContent(whole.get(), part.get())) << "caches of other lengths";
}

TEST_F(KZCrc32Test, UnreadableSidesAreNeverEqual)
{
    const std::string big = randomBytes(90000, 6);
    const fs::path good = dir.write("good", big);
    const fs::path copy = dir.write("copy", big);
    const fs::path pipe = dir / "pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
    fs::create_symlink(good, dir / "link");
    struct Case {
        const char* name;
        fs::path one, two;
        KZCrc32::Unreadable side;
    };
    const std::vector<Case> cases{
        {"missing second", good, dir / "missing", KZCrc32::Unreadable::Two},
        {"missing first", dir / "missing", good, KZCrc32::Unreadable::One},
        {"a pipe is refused, not waited on", dir.write("empty", ""), pipe, KZCrc32::Unreadable::Two},
        {"links are not followed", dir / "link", copy, KZCrc32::Unreadable::One},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KZCrc32::Unreadable side = KZCrc32::Unreadable::None;
        EXPECT_EQ(compare(c.one, c.two, &side), -2);
        EXPECT_EQ(side, c.side);
    }

    // A read that fails part-way through the second block.
    cacheOne.reset();
    cacheTwo.reset();
    reader.failing = copy;
    reader.failFrom = 40960;
    KZCrc32::Unreadable side = KZCrc32::Unreadable::None;
    EXPECT_EQ(compare(good, copy, &side), -2);
    EXPECT_EQ(side, KZCrc32::Unreadable::Two);
    ASSERT_NE(cache(cacheTwo), nullptr);
    EXPECT_EQ(cache(cacheTwo)->blocksHashed(), 1u) << "a failed block is not cached";
}

} // namespace

namespace {

TEST(KZCrc32HugeFilesTest, MemoryFollowsWhatWasReadAndStopIsSeenBetweenBlocks)
{
    constexpr quint64 tebibyte = quint64(1) << 40;
    struct Case {
        const char* name;
        quint64 length;
        quint64 differentByte;
        int stopAfterReads;
        qint16 answer; // 2: ordered, either way
        int maxReads;
    };
    const std::vector<Case> cases{
        {"sparse files that differ in their second block", tebibyte, 50000, 0, 2, 4},
        {"stop part-way through two equal files", 4 * (quint64(1) << 30), ~quint64(0), 10, -2, 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualReader reader;
        StopDelegate delegate(reader);
        reader.stopAfterReads = c.stopAfterReads;
        reader.files["/one"] = {c.length, ~quint64(0)};
        reader.files["/two"] = {c.length, c.differentByte};
        KZCrc32 crc(&delegate, &reader);
        std::unique_ptr<KZNodeCache> one;
        std::unique_ptr<KZNodeCache> two;
        const qint16 answer = crc.compareContentOfFile(fs::path("/one"), fs::path("/two"), &one, &two);
        if (c.answer == 2)
            EXPECT_TRUE(answer == 1 || answer == -1) << answer;
        else
            EXPECT_EQ(answer, c.answer);
        EXPECT_LE(reader.reads.load(), c.maxReads);
        for (const auto* field : {&one, &two}) {
            const auto* content = dynamic_cast<const KZContentCache*>(field->get());
            ASSERT_NE(content, nullptr);
            EXPECT_LE(content->laterCapacity(), std::size_t(c.maxReads)) << "memory for the blocks read only";
        }
    }
}

} // namespace

namespace {

// Asks only whether the scan is over; the notices name it as their object.
class ScanDelegate : public KZCrc32::Delegate {
public:
    bool phaseOneisTerminated() const override { return scanOver; }
    const void* progressCntrl() const override { return this; }
    bool scanOver = false;
};

// One pair of large files compared after the scan has ended keeps the
// progress window still for a while: the window is told once, and told
// again when the comparison ends. While the scan still runs, the window has
// enough to show.
TEST(KZCrc32NoticeTest, ALongComparisonAfterTheScanIsToldOnceAndTakenBack)
{
    struct Case {
        const char* name;
        bool scanOver;
        int pauseAtRead; // 0: no read is slow
        std::vector<QVariantMap> notices;
    };
    const QVariantMap shown{{str("show"), true},
                            {str("whichInfo"), platform::localizedString(str("comparingContent_info"))}};
    const QVariantMap hidden{{str("show"), false}};
    const std::vector<Case> cases{
        {"slow, after the scan", true, 3, {shown, hidden}},
        {"slow, while the scan runs", false, 3, {}},
        {"quick, after the scan", true, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualReader reader;
        reader.files["/one"] = {3 * KZCrc32::kBlockSize, ~quint64(0)};
        reader.files["/two"] = {3 * KZCrc32::kBlockSize, ~quint64(0)};
        // The second block of the first file takes longer than the notice
        // waits; the third is compared after it.
        reader.pauseAtRead = c.pauseAtRead;
        reader.pause = std::chrono::milliseconds(1600);
        ScanDelegate delegate;
        delegate.scanOver = c.scanOver;
        std::vector<QVariantMap> notices;
        const platform::Subscription watch = platform::NotificationCenter::defaultCenter().addObserver(
            KZNotification::updateOtherFoldersInfo, platform::NotificationObject(delegate.progressCntrl()),
            [&](const platform::Notification& note) { notices.push_back(note.userInfo); });
        KZCrc32 crc(&delegate, &reader);
        std::unique_ptr<KZNodeCache> one;
        std::unique_ptr<KZNodeCache> two;
        EXPECT_EQ(crc.compareContentOfFile(fs::path("/one"), fs::path("/two"), &one, &two), 0);
        EXPECT_EQ(reader.reads.load(), 6);
        EXPECT_EQ(notices, c.notices);
    }
}

TEST(KZContentCacheTest, BlocksAndLengthSurviveTheMoveApartAndARestart)
{
    KZContentCache::Digest a{};
    KZContentCache::Digest b{};
    a.fill(1);
    b.fill(2);
    // Lengths at the edges of what is kept beside the tag, and one beyond.
    for (const quint64 length : {quint64(0), quint64(40960), quint64(40961), quint64(65536), (quint64(1) << 48) - 1,
                                 quint64(1) << 48, ~quint64(0)}) {
        SCOPED_TRACE(length);
        KZContentCache cache(length);
        EXPECT_EQ(cache.length(), length);
        EXPECT_EQ(cache.blocksHashed(), 0u);
        cache.store(1, 7, a);
        EXPECT_EQ(cache.blocksHashed(), 1u);
        EXPECT_EQ(cache.runningSum(1), 7u);
        EXPECT_EQ(cache.digest(1), a);
        cache.store(2, 9, b); // past the end of a one-block file: not kept
        const bool twoBlocks = length > 40960;
        EXPECT_EQ(cache.blocksHashed(), twoBlocks ? 2u : 1u);
        EXPECT_EQ(cache.digest(1), a) << "the first block moves apart unchanged";
        if (twoBlocks) {
            EXPECT_EQ(cache.runningSum(2), 9u);
            EXPECT_EQ(cache.digest(2), b);
            EXPECT_EQ(cache.resumeIndex(), 1u);
        }
        cache.store(1, 3, b); // read again from the start: later blocks forgotten
        EXPECT_EQ(cache.blocksHashed(), 1u);
        EXPECT_EQ(cache.runningSum(1), 3u);
        EXPECT_EQ(cache.digest(1), b);
        EXPECT_EQ(cache.length(), length);
    }
}

} // namespace
