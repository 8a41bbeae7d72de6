#include "SearchTestSupport.h"

#include "engine/KZContentCache.h"
#include "engine/KZCrc32.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

using namespace searchtest;

namespace {

std::string randomBytes(std::size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string bytes(n, '\0');
    for (auto& c : bytes)
        c = char(gen() & 0xFF);
    return bytes;
}

std::string flipped(std::string bytes, std::size_t at)
{
    bytes[at] = char(bytes[at] ^ 1);
    return bytes;
}

// Counts, per file, the opens and the bytes read, from any thread.
class CountingReader : public KZContentReader {
public:
    std::unique_ptr<File> open(const fs::path& path) override
    {
        auto inner = KZContentReader::fileSystem().open(path);
        if (!inner)
            return nullptr;
        std::lock_guard guard(lock);
        ++opened[path];
        return std::make_unique<Counted>(std::move(inner), this, path);
    }

    int opensOf(const fs::path& path)
    {
        std::lock_guard guard(lock);
        return opened.count(path) ? opened[path] : 0;
    }
    quint64 bytesOf(const fs::path& path)
    {
        std::lock_guard guard(lock);
        return bytes.count(path) ? bytes[path] : 0;
    }

    std::mutex lock;
    std::map<fs::path, int> opened;
    std::map<fs::path, quint64> bytes;

private:
    class Counted : public File {
    public:
        Counted(std::unique_ptr<File> inner, CountingReader* owner, fs::path path)
            : inner_(std::move(inner)), owner_(owner), path_(std::move(path)) {}
        quint64 length() const override { return inner_->length(); }
        qint64 readAt(quint64 offset, char* buffer, std::size_t count) override
        {
            const qint64 n = inner_->readAt(offset, buffer, count);
            std::lock_guard guard(owner_->lock);
            owner_->bytes[path_] += quint64(std::max<qint64>(n, 0));
            return n;
        }

    private:
        std::unique_ptr<File> inner_;
        CountingReader* owner_;
        fs::path path_;
    };
};

std::set<std::set<fs::path>> groupSet(const std::vector<FoundRow>& rows)
{
    std::set<std::set<fs::path>> groups;
    for (auto& [id, paths] : groupsOf(rows))
        groups.insert(paths);
    return groups;
}

class KZSearchControllerReadsTest : public ::testing::Test {
protected:
    kztest::TempDir dir;
};

TEST_F(KZSearchControllerReadsTest, ManySmallFilesOfOneSizeAreEachReadOnce)
{
    // Sixty files of one size in twenty contents, spread over folders that
    // both workers walk: whoever hashes a file, it is read once, whole.
    std::vector<fs::path> files;
    std::set<std::set<fs::path>> expected;
    for (int content = 0; content < 20; ++content) {
        const std::string bytes = randomBytes(700, unsigned(content) + 1);
        std::set<fs::path> group;
        for (int copy = 0; copy < 3; ++copy) {
            const fs::path path = dir.write("f" + std::to_string(copy) + "/s" + std::to_string(content % 4) + "/"
                                                + std::to_string(content) + ".bin",
                                            bytes);
            files.push_back(path);
            group.insert(path);
        }
        expected.insert(group);
    }
    // A whole block and one byte more, differing only in that byte.
    const std::string plus = randomBytes(40961, 99);
    const fs::path plusOne = dir.write("g/plus1", plus);
    const fs::path plusTwo = dir.write("h/plus2", flipped(plus, 40960));
    const fs::path lone = dir.write("g/lone", "a size of its own");
    // Two names of one file whose size nobody else has: never read.
    const fs::path linked = dir.write("g/linked", "twice named, once stored");
    fs::create_hard_link(linked, dir / "h/linked2");
    expected.insert({linked, dir / "h/linked2"});

    CountingReader reader;
    SearchOptions options;
    options.reader = &reader;
    const SearchResult result = runSearch({folderSource(dir.path())}, sizeAndContentCriteria(false), options);

    EXPECT_EQ(groupSet(result.rows), expected);
    for (const fs::path& file : files) {
        EXPECT_EQ(reader.opensOf(file), 1) << file;
        EXPECT_EQ(reader.bytesOf(file), 700u) << file;
    }
    for (const fs::path& file : {plusOne, plusTwo})
        EXPECT_EQ(reader.bytesOf(file), 40961u) << file;
    EXPECT_EQ(reader.opensOf(lone), 0);
    EXPECT_EQ(reader.opensOf(linked), 0);
    EXPECT_EQ(reader.opensOf(dir / "h/linked2"), 0);
}

TEST_F(KZSearchControllerReadsTest, SameSizeDifferencesKeepTheTreeOrdered)
{
    // Equal sizes that differ in their bytes are ordered by them: however
    // the candidates arrive, every file meets its duplicates.
    std::set<std::set<fs::path>> expected;
    for (int content = 0; content < 200; ++content) {
        const std::string bytes = std::to_string(100000 + content);
        const fs::path a = dir.write("a/" + std::to_string(content), bytes);
        if (content % 7 == 0)
            expected.insert({a, dir.write("b/" + std::to_string(content), bytes)});
    }
    const SearchResult result = runSearch({folderSource(dir.path())}, sizeAndContentCriteria(false));
    EXPECT_EQ(groupSet(result.rows), expected);
}

TEST(KZContentCacheTest, BlocksAreKeptForTheWholeFileOnly)
{
    KZContentCache cache(3 * 40960 - 5);
    KZContentCache::Digest digest{};
    for (quint64 k = 1; k <= 3; ++k) {
        digest[0] = quint8(k);
        cache.store(k, quint32(10 * k), digest);
    }
    EXPECT_EQ(cache.blocksHashed(), 3u);
    EXPECT_EQ(cache.resumeIndex(), 2u);
    EXPECT_EQ(cache.runningSum(2), 20u);
    EXPECT_EQ(cache.digest(3)[0], 3);
    // Going back forgets what followed.
    cache.store(2, 21, digest);
    EXPECT_EQ(cache.blocksHashed(), 2u);
    EXPECT_EQ(cache.runningSum(2), 21u);
    EXPECT_EQ(cache.runningSum(1), 10u);
}

TEST(KZContentCacheTest, KnownContentAnswersOnlyWhatTheCachesHold)
{
    KZContentCache::Digest a{};
    KZContentCache::Digest b{};
    b[5] = 1;
    auto cache = [](quint64 length, std::vector<std::pair<quint32, KZContentCache::Digest>> blocks) {
        auto made = std::make_unique<KZContentCache>(length);
        for (std::size_t k = 0; k < blocks.size(); ++k)
            made->store(k + 1, blocks[k].first, blocks[k].second);
        return made;
    };
    const auto whole = cache(100, {{7, a}});
    const auto wholeToo = cache(100, {{7, a}});
    const auto otherSum = cache(100, {{9, a}});
    const auto otherBytes = cache(100, {{7, b}});
    EXPECT_EQ(KZCrc32::compareKnownContent(whole.get(), wholeToo.get()), qint16(0));
    EXPECT_EQ(KZCrc32::compareKnownContent(whole.get(), otherSum.get()), qint16(1));
    EXPECT_EQ(KZCrc32::compareKnownContent(otherSum.get(), whole.get()), qint16(-1));
    EXPECT_NE(KZCrc32::compareKnownContent(whole.get(), otherBytes.get()).value_or(0), 0);

    // Two blocks of three agreeing: a file must be read to know more.
    const auto partOne = cache(100000, {{1, a}, {2, a}});
    const auto partTwo = cache(100000, {{1, a}, {2, a}});
    EXPECT_FALSE(KZCrc32::compareKnownContent(partOne.get(), partTwo.get()));
    EXPECT_FALSE(KZCrc32::compareKnownContent(partOne.get(), nullptr));
    EXPECT_FALSE(KZCrc32::compareKnownContent(whole.get(), partOne.get())) << "caches of other lengths";
}

} // namespace
