#include "SearchTestSupport.h"

#include "platform/UserDefaults.h"
#include "settings/KZDefaultsRegistry.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

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

std::string withByte(std::string bytes, std::size_t at, char value)
{
    bytes[at] = value;
    return bytes;
}

std::string readAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

bool readableByAnyone(const fs::path& path)
{
    constexpr auto read = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path, ec);
    return ec || (status.permissions() & read) != fs::perms::none;
}

// What any careful duplicate finder must report: every regular, visible
// file grouped by its bytes; groups of one are no duplicates.
std::set<std::set<fs::path>> byteGroups(const fs::path& root)
{
    std::map<std::string, std::set<fs::path>> byContent;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (it->path().filename().native().front() == '.') {
            if (it->is_directory(ec) && !it->is_symlink(ec))
                it.disable_recursion_pending();
            continue;
        }
        if (it->is_symlink(ec) || !it->is_regular_file(ec))
            continue;
        if (!readableByAnyone(it->path()))
            continue; // no content to compare: never a duplicate
        byContent[readAll(it->path())].insert(it->path());
    }
    std::set<std::set<fs::path>> groups;
    for (auto& [content, paths] : byContent) {
        if (paths.size() > 1)
            groups.insert(paths);
    }
    return groups;
}

std::set<std::set<fs::path>> groupSet(const std::vector<FoundRow>& rows)
{
    std::set<std::set<fs::path>> groups;
    for (auto& [id, paths] : groupsOf(rows))
        groups.insert(paths);
    return groups;
}

// Every structural promise of a found list of a same-criteria search.
void expectWellFormedGroups(const std::vector<FoundRow>& rows)
{
    std::map<quint64, std::vector<std::size_t>> members;
    for (std::size_t i = 0; i < rows.size(); ++i)
        members[rows[i].groupID].push_back(i);
    quint64 expectedId = 1;
    for (const auto& [id, indexes] : members) {
        EXPECT_EQ(id, expectedId++) << "group numbers run from 1 without gaps";
        int heads = 0;
        std::size_t headIndex = 0;
        for (std::size_t i : indexes) {
            const FoundRow& row = rows[i];
            EXPECT_EQ(row.counter, indexes.size()) << row.path;
            EXPECT_EQ(row.counterId, rows[indexes.front()].counterId) << "one counter shared by the group";
            if (row.head) {
                ++heads;
                headIndex = i;
            }
        }
        ASSERT_EQ(heads, 1) << "group " << id;
        // The list runs newest first: the head, filed when the tree is
        // emptied, was added after every member.
        for (std::size_t i : indexes)
            EXPECT_LE(headIndex, i) << "group " << id;
    }
}

// Reads through the file system as a user without privileges would (the
// tests may run as the super-user, whom permissions do not stop) and records
// every read, grouped by the open that made it.
class ObservingReader : public KZContentReader {
public:
    std::unique_ptr<File> open(const fs::path& path) override
    {
        if (!readableByAnyone(path))
            return nullptr;
        auto inner = KZContentReader::fileSystem().open(path);
        if (!inner)
            return nullptr;
        std::lock_guard guard(lock);
        auto& opens = sessions[path];
        opens.emplace_back();
        return std::make_unique<Observed>(std::move(inner), this, path, opens.size() - 1);
    }

    std::mutex lock;
    // Per file, per open, the offsets read in order.
    std::map<fs::path, std::vector<std::vector<quint64>>> sessions;

private:
    class Observed : public File {
    public:
        Observed(std::unique_ptr<File> inner, ObservingReader* owner, fs::path path, std::size_t session)
            : inner_(std::move(inner)), owner_(owner), path_(std::move(path)), session_(session) {}
        quint64 length() const override { return inner_->length(); }
        qint64 readAt(quint64 offset, char* buffer, std::size_t count) override
        {
            {
                std::lock_guard guard(owner_->lock);
                owner_->sessions[path_][session_].push_back(offset);
            }
            return inner_->readAt(offset, buffer, count);
        }

    private:
        std::unique_ptr<File> inner_;
        ObservingReader* owner_;
        fs::path path_;
        std::size_t session_;
    };
};

// Each block of a file is read once; a later comparison of the same file
// starts again at the last block read before, and nowhere earlier.
void expectEachBlockReadOnce(const ObservingReader& reader)
{
    for (const auto& [path, opens] : reader.sessions) {
        std::optional<quint64> lastRead;
        for (std::size_t i = 0; i < opens.size(); ++i) {
            const std::vector<quint64>& offsets = opens[i];
            for (std::size_t k = 1; k < offsets.size(); ++k) {
                EXPECT_LT(offsets[k - 1], offsets[k]) << path << " open " << i;
            }
            if (!offsets.empty() && lastRead) {
                EXPECT_GE(offsets.front(), *lastRead) << path << " open " << i << " went back";
            }
            if (!offsets.empty())
                lastRead = std::max(lastRead.value_or(0), offsets.back());
        }
    }
}

class KZSearchControllerTest : public ::testing::Test {
protected:
    kztest::TempDir dir;
};

TEST_F(KZSearchControllerTest, SameSizeAndContentFindsExactlyTheByteGroups)
{
    const std::string block = randomBytes(40960, 1);
    const std::string blockPlus = randomBytes(40961, 2);
    const std::string big = randomBytes(100000, 3);

    dir.write("a/empty1", "");
    dir.write("b/empty2", "");
    dir.write("a/one1", "x");
    dir.write("b/one2", "x");
    dir.write("c/one3", "y");
    dir.write("a/block1", block);
    dir.write("b/block2", block);
    dir.write("c/block3", withByte(block, 40959, char(block[40959] ^ 1)));
    dir.write("a/plus1", blockPlus);
    dir.write("b/sub/plus2", blockPlus);
    dir.write("c/plus3", withByte(blockPlus, 40960, char(blockPlus[40960] ^ 1)));
    dir.write("d/big1", big);
    dir.write("d/big2", withByte(big, 99999, char(big[99999] ^ 1)));
    dir.write("e/big3", big);
    dir.write("e/big4", withByte(big, 99999, char(big[99999] ^ 2)));
    dir.write("e/big5", withByte(big, 50000, char(big[50000] ^ 1)));
    // Hard links: two names of one file, and a file whose only duplicate is
    // its own second name.
    dir.write("f/lonely", "only here, twice named");
    dir.mkdir("g");
    fs::create_hard_link(dir / "f/lonely", dir / "g/lonely-link");
    fs::create_hard_link(dir / "a/plus1", dir / "g/plus-link");
    // One name in several folders, different and equal contents.
    dir.write("h/same.txt", "alpha");
    dir.write("i/same.txt", "gamma");
    dir.write("j/same.txt", "alpha");
    // Links are never followed: a loop back to an ancestor and one to itself.
    dir.mkdir("k");
    fs::create_directory_symlink(dir / "k", dir / "k/loop");
    fs::create_symlink(dir / "k/self", dir / "k/self");
    fs::create_symlink(dir / "nowhere", dir / "k/dangling");
    // A pipe has size 0 like the empty files but can never be read.
    ASSERT_EQ(::mkfifo((dir / "k/pipe").c_str(), 0644), 0);
    // A name that is not UTF-8.
    dir.write("l/caf\xe9-\xff.bin", "alpha");
    // A deep chain of folders.
    fs::path deep = "m";
    for (int i = 0; i < 130; ++i)
        deep /= "d";
    dir.write(deep / "deepfile", "deep content");
    dir.write("m/shallow", "deep content");
    // Hidden items are not searched.
    dir.write(".hidden/copy", "alpha");
    dir.write("n/.dotcopy", "alpha");
    // Copies nobody may read: no content, so no duplicates, and the readable
    // copies of the same bytes still find each other past them.
    for (const char* name : {"o/locked1", "o/locked2", "o/locked3"})
        fs::permissions(dir.write(name, block), fs::perms::none);
    // Sizes that nothing else has are never opened; two names of one file
    // are duplicates without a byte read.
    const fs::path lone = dir.write("p/lone", randomBytes(77777, 4));

    ObservingReader reader;
    SearchOptions options;
    options.reader = &reader;
    const SearchResult result = runSearch({dir.path()}, sizeAndContentCriteria(false), options);

    ASSERT_EQ(result.notifications, 1);
    EXPECT_FALSE(result.info.value(str("KZResultSearchWasStoppedByUser")).toBool());
    EXPECT_EQ(groupSet(result.rows), byteGroups(dir.path()));
    expectWellFormedGroups(result.rows);
    EXPECT_EQ(result.info.value(str("KZResultFoundItemsCount")).toULongLong(), result.rows.size());
    quint64 size = 0;
    for (const auto& row : result.rows) {
        size += row.size;
        EXPECT_EQ(row.label, -1);
    }
    EXPECT_EQ(result.info.value(str("KZResultFoundItemsSize")).toULongLong(), size);
    bool sawNonUtf8 = false;
    for (const auto& row : result.rows)
        sawNonUtf8 = sawNonUtf8 || row.path.filename().native() == "caf\xe9-\xff.bin";
    EXPECT_TRUE(sawNonUtf8) << "a name that is not UTF-8 keeps its bytes";

    EXPECT_EQ(reader.sessions.count(lone), 0u);
    EXPECT_EQ(reader.sessions.count(dir / "f/lonely"), 0u);
    EXPECT_EQ(reader.sessions.count(dir / "g/lonely-link"), 0u);
    expectEachBlockReadOnce(reader);
}

TEST_F(KZSearchControllerTest, LongRunOfEqualSizesDoesNotExhaustTheStack)
{
    // Every file has the same size and differs from the others, so the tree
    // degenerates into one chain; one pair among them is equal.
    for (int i = 0; i < 3000; ++i)
        dir.write("f/" + std::to_string(i), std::to_string(1000000 + i));
    dir.write("g/copy", "1000007");
    const SearchResult result = runSearch({dir.path()}, sizeAndContentCriteria(false));
    EXPECT_EQ(groupSet(result.rows), byteGroups(dir.path()));
}

TEST_F(KZSearchControllerTest, PathMetTwiceIsFiledOnce)
{
    dir.write("src/inner/one", "same bytes");
    dir.write("src/inner/two", "same bytes");
    dir.write("src/solo", "no twin");
    fs::create_directory_symlink(dir / "src", dir / "alias");
    // The same folder given several times: as itself, spelled differently,
    // nested inside another source, through a link, and nested through a
    // link, which no comparison of the spellings can see.
    const SearchResult result = runSearch({dir / "src", dir / "src/./", dir / "src/inner", dir / "alias",
                                           dir / "alias/inner"},
                                          sizeAndContentCriteria(false));
    const auto groups = groupSet(result.rows);
    ASSERT_EQ(groups.size(), 1u);
    std::set<std::string> names;
    for (const auto& path : *groups.begin())
        names.insert(path.filename().native());
    EXPECT_EQ(names, (std::set<std::string>{"one", "two"}));
    EXPECT_EQ(groups.begin()->size(), 2u) << "no file is reported as its own duplicate";
}

TEST_F(KZSearchControllerTest, SourceWithoutLocationIsSkippedAndTheOthersSearched)
{
    dir.write("a/x", "twin");
    dir.write("b/y", "twin");
    auto lost = folderSource(dir / "a");
    lost->setUrl(fs::path());
    const SearchResult result
        = runSearch({lost, folderSource(dir / "a"), folderSource(dir / "b")}, sizeAndContentCriteria(false));
    EXPECT_EQ(groupSet(result.rows), (std::set<std::set<fs::path>>{{dir / "a/x", dir / "b/y"}}));
}

TEST_F(KZSearchControllerTest, LocationLabelsForOneAndThreeSources)
{
    dir.write("one/a", "same");
    dir.write("two/b", "same");
    dir.write("three/c", "same");

    const SearchResult single = runSearch({dir.path()}, sizeAndContentCriteria(false));
    EXPECT_EQ(single.info.value(str("KZResultCurrentLocationLabel")).toInt(), -1);
    for (const auto& row : single.rows)
        EXPECT_EQ(row.label, -1);

    std::vector<KZSourceItemRef> sources{folderSource(dir / "one"), folderSource(dir / "two"),
                                         folderSource(dir / "three")};
    const SearchResult three = runSearch(sources, sizeAndContentCriteria(false));
    EXPECT_EQ(three.info.value(str("KZResultCurrentLocationLabel")).toInt(), 2);
    for (const char* count : {"KZResultFoundItemsCount", "KZResultCheckedItemsCount", "KZResultItemsToCheckCount"})
        EXPECT_EQ(three.info.value(str(count)).toULongLong(), 3u) << count;
    EXPECT_EQ(three.info.value(str("KZResultFoundItemsSize")).toULongLong(), 12u);
    EXPECT_FALSE(three.info.value(str("KZResultSearchWasStoppedByUser")).toBool());
    ASSERT_EQ(three.rows.size(), 3u);
    std::map<std::string, qint16> labels;
    for (const auto& row : three.rows)
        labels[row.path.filename().native()] = row.label;
    EXPECT_EQ(labels, (std::map<std::string, qint16>{{"a", 0}, {"b", 1}, {"c", 2}}));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(sources[i]->locationLabelTag(), i);
        EXPECT_TRUE(sources[i]->wasSearched());
    }
}

TEST_F(KZSearchControllerTest, ResultInfoCarriesEveryKey)
{
    dir.write("a", "1234");
    dir.write("b", "1234");
    auto progress = std::make_shared<RecordingProgress>();
    SearchOptions options;
    options.progress = progress;
    const SearchResult result = runSearch({dir.path()}, sizeAndContentCriteria(false), options);
    const QVariantMap& info = result.info;
    // Readers look keys up by name: a misspelt key would read as absent.
    const QStringList keys{str("KZResultFoundItems"), str("KZResultFoundItemsCount"),
                           str("KZResultItemsToCheckCount"), str("KZResultFoundItemsSize"),
                           str("KZResultCheckedItemsCount"), str("KZResultSearchStuffItem"),
                           str("KZResultFoundFileTypes"), str("KZResultSearchWasStoppedByUser"),
                           str("KZResultCurrentLocationLabel"), str("KZResultSearchedIniTunes"),
                           str("KZResultSearchedInPhotos"), str("KZResultPhotosLibraryPath"),
                           str("KZPhotosDatabaseWasNotFound"), str("KZResultIsEmptyFolders"),
                           str("KZResultSearchedForDeads"), str("KZResultSearchedForFolders"),
                           str("KZResultIsRestoreOfSaved"), str("KZResultIsSavedItemsToRestore"),
                           str("KZResultFoundDeads")};
    QStringList expected = keys;
    expected.sort();
    EXPECT_EQ(info.keys(), expected);
    EXPECT_EQ(info.value(str("KZResultFoundItemsCount")).toULongLong(), 2u);
    EXPECT_EQ(info.value(str("KZResultItemsToCheckCount")).toULongLong(), 2u);
    EXPECT_EQ(info.value(str("KZResultCheckedItemsCount")).toULongLong(), 2u);
    EXPECT_EQ(info.value(str("KZResultFoundItemsSize")).toULongLong(), 8u);
    EXPECT_TRUE(info.value(str("KZResultSearchStuffItem")).canConvert<KZSearchStuffRef>());
    EXPECT_TRUE(info.contains(str("KZResultFoundFileTypes")));
    EXPECT_FALSE(info.value(str("KZResultSearchedIniTunes")).toBool());
    EXPECT_FALSE(info.value(str("KZResultSearchedInPhotos")).toBool());
    EXPECT_EQ(info.value(str("KZResultPhotosLibraryPath")).toString(), QString());
    EXPECT_FALSE(info.value(str("KZPhotosDatabaseWasNotFound")).toBool());
    EXPECT_FALSE(info.value(str("KZResultIsEmptyFolders")).toBool());
    EXPECT_FALSE(info.value(str("KZResultSearchedForDeads")).toBool());
    EXPECT_FALSE(info.value(str("KZResultSearchedForFolders")).toBool());
    EXPECT_FALSE(info.value(str("KZResultIsRestoreOfSaved")).toBool());
    EXPECT_TRUE(info.value(str("KZResultIsSavedItemsToRestore")).toMap().isEmpty());
    EXPECT_TRUE(info.contains(str("KZResultFoundDeads")));
    EXPECT_FALSE(progress->isSearching.load());
    EXPECT_EQ(progress->foundCount.load(), 2u);
    EXPECT_EQ(progress->checkedCount.load(), 2u);
    EXPECT_EQ(progress->foundSize.load(), 8u);
    EXPECT_EQ(progress->prepareOptions.value(str("showInterface")).toBool(), true);
}

TEST_F(KZSearchControllerTest, EmptySearchHandsOverAnEmptyList)
{
    dir.write("a", "1");
    dir.write("b", "22");
    const SearchResult result = runSearch({dir.path()}, sizeAndContentCriteria(false));
    EXPECT_TRUE(result.rows.empty());
    EXPECT_EQ(result.info.value(str("KZResultFoundItemsCount")).toULongLong(), 0u);
}

TEST_F(KZSearchControllerTest, RequestWithoutCriteriaSearchesNothing)
{
    dir.write("a", "1");
    dir.write("b", "1");
    SearchOptions options;
    options.noCriteria = true;
    const SearchResult result = runSearch({dir.path()}, {}, options);
    ASSERT_EQ(result.notifications, 1);
    EXPECT_TRUE(result.rows.empty());
}

TEST_F(KZSearchControllerTest, UniqueSearchReportsFilesWithoutDuplicateWithItsCounters)
{
    struct Case {
        const char* name;
        std::vector<std::pair<const char*, const char*>> files;
        bool skipEmpty;
        std::set<std::string> found;
        quint64 checked, repeated;
    };
    const std::vector<Case> cases{
        {"three identical and one different",
         {{"a/1", "ten bytes!"}, {"b/2", "ten bytes!"}, {"c/3", "ten bytes!"}, {"d/4", "ten bytez!"}},
         false, {"d/4"}, 4, 3},
        {"several groups, and rejected items count as repeated",
         {{"t/1", "ten bytes!"}, {"t/2", "ten bytes!"}, {"t/3", "ten bytes!"}, {"t/4", "ten bytez!"},
          {"u/5", "twenty bytes of text"}, {"u/6", "twenty bytes of text"},
          {"v/7", "thirty bytes of text, and more"}, {"w/empty1", ""}, {"w/empty2", ""}},
         true, {"t/4", "v/7"}, 9, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kztest::TempDir tree;
        for (const auto& [name, bytes] : c.files)
            tree.write(name, bytes);
        QVariantMap criteria = sizeAndContentCriteria(true);
        if (c.skipEmpty)
            criteria.insert(str("sizeStruct"), QVariantMap{{str("isUnique"), true}, {str("skipData"), true},
                                                           {str("skipDataAmount"), 0}});
        std::shared_ptr<KZSearchController> controller;
        SearchOptions options;
        options.keep = &controller;
        const SearchResult result = runSearch({tree.path()}, criteria, options);
        std::set<std::string> found;
        for (const auto& row : result.rows) {
            found.insert(fs::relative(row.path, tree.path()).native());
            EXPECT_EQ(row.groupID, 0u);
            EXPECT_EQ(row.counter, 0u);
        }
        EXPECT_EQ(found, c.found);
        EXPECT_EQ(result.info.value(str("KZResultFoundItemsCount")).toULongLong(), c.found.size());
        EXPECT_EQ(result.info.value(str("KZResultCheckedItemsCount")).toULongLong(), c.checked);
        EXPECT_EQ(result.info.value(str("KZResultItemsToCheckCount")).toULongLong(), c.checked);
        ASSERT_TRUE(controller);
        EXPECT_EQ(controller->notDupesCount(), c.repeated);
        EXPECT_EQ(controller->itemsFoundCount(), c.checked - c.repeated);
    }
}

TEST_F(KZSearchControllerTest, StopMidScanPostsOnceWithWhatWasFiled)
{
    for (int folder = 0; folder < 20; ++folder)
        for (int file = 0; file < 100; ++file)
            dir.write("f" + std::to_string(folder) + "/" + std::to_string(file), std::to_string(file % 50));
    auto progress = std::make_shared<RecordingProgress>();
    progress->stopAfterToCheck = 300;
    SearchOptions options;
    options.progress = progress;
    const SearchResult result = runSearch({dir.path()}, sizeAndContentCriteria(false), options);
    ASSERT_EQ(result.notifications, 1);
    EXPECT_TRUE(result.info.value(str("KZResultSearchWasStoppedByUser")).toBool());
    EXPECT_LT(result.info.value(str("KZResultItemsToCheckCount")).toULongLong(), 2000u);
    EXPECT_EQ(result.info.value(str("KZResultFoundItemsCount")).toULongLong(), result.rows.size());
    expectWellFormedGroups(result.rows);
    for (const auto& [id, paths] : groupsOf(result.rows)) {
        std::set<std::string> contents;
        for (const auto& path : paths)
            contents.insert(readAll(path));
        EXPECT_EQ(contents.size(), 1u) << "a partial result holds true duplicates only";
    }
}

TEST_F(KZSearchControllerTest, StopBeforeTheScanYieldsNothing)
{
    dir.write("a", "same");
    dir.write("b", "same");
    auto progress = std::make_shared<RecordingProgress>();
    progress->stopped = true;
    SearchOptions options;
    options.progress = progress;
    const SearchResult result = runSearch({dir.path()}, sizeAndContentCriteria(false), options);
    ASSERT_EQ(result.notifications, 1);
    EXPECT_TRUE(result.info.value(str("KZResultSearchWasStoppedByUser")).toBool());
    EXPECT_TRUE(result.rows.empty());
}

// Fails to open one file, as a file that vanished or lost its permissions.
class FailingReader : public KZContentReader {
public:
    explicit FailingReader(fs::path failing) : failing_(std::move(failing)) {}
    std::unique_ptr<File> open(const fs::path& path) override
    {
        return path == failing_ ? nullptr : KZContentReader::fileSystem().open(path);
    }

private:
    fs::path failing_;
};

TEST_F(KZSearchControllerTest, UnreadableTreeNodeDoesNotTurnDuplicatesAway)
{
    // Names are compared too, so a failed comparison is not simply taken as
    // "different". The candidates are filed newest first: the unreadable
    // file, listed last, becomes the root that both duplicates meet.
    const fs::path one = dir.write("one/same.bin", "identical bytes");
    const fs::path two = dir.write("two/same.bin", "identical bytes");
    const fs::path bad = dir.write("three/same.bin", "different bytes");
    FailingReader reader(bad);
    SearchOptions options;
    options.reader = &reader;
    QVariantMap criteria = sizeAndContentCriteria(false);
    criteria.insert(str("isName"), true);
    criteria.insert(str("nameStruct"), QVariantMap{{str("isSame"), true}});
    const SearchResult result = runSearch({dir / "one", dir / "two", dir / "three"}, criteria, options);
    EXPECT_EQ(groupSet(result.rows), (std::set<std::set<fs::path>>{{one, two}}));
}

TEST_F(KZSearchControllerTest, EachBlockIsReadOnceAndLoneSizesNever)
{
    // Same-size files that part in the first, a middle or the last block,
    // with copies, so that nodes meet many candidates and resume their caches.
    const std::string big = randomBytes(200000, 7);
    const std::vector<std::size_t> partAt{0, 100000, 199999};
    for (int i = 0; i < 9; ++i) {
        const std::string bytes = withByte(big, partAt[i % 3], char(big[partAt[i % 3]] ^ (1 + i / 3)));
        dir.write("d" + std::to_string(i) + "/big", bytes);
        if (i % 2 == 0)
            dir.write("d" + std::to_string(i) + "/twin", bytes);
    }
    dir.write("lone/a", "a size of its own");
    dir.write("lone/b", randomBytes(123457, 9));
    ObservingReader reader;
    SearchOptions options;
    options.reader = &reader;
    const SearchResult result = runSearch({dir.path()}, sizeAndContentCriteria(false), options);
    EXPECT_EQ(groupSet(result.rows), byteGroups(dir.path()));
    EXPECT_EQ(reader.sessions.count(dir / "lone/a"), 0u);
    EXPECT_EQ(reader.sessions.count(dir / "lone/b"), 0u);
    expectEachBlockReadOnce(reader);
}

TEST_F(KZSearchControllerTest, FoundItemsAreTaggedByTheirLabels)
{
    KZDefaultsRegistry::setupDefaultsPreferences();
    // Find the tag of the label that lists "mp3", whatever the table says.
    quint64 musicTag = 0;
    for (const QVariant& entry : KZDefaultsRegistry::fileTagsExcludingTags()) {
        const QVariantMap label = entry.toMap();
        for (const QVariant& extension : label.value(str("labels_extension")).toList())
            if (extension.toString() == str("mp3"))
                musicTag = label.value(str("file_type_tag")).toULongLong();
    }
    ASSERT_NE(musicTag, 0u);
    dir.write("a/song.mp3", "tune");
    dir.write("b/SONG.MP3", "tune");
    dir.write("c/noext", "plain");
    dir.write("d/noext2", "plain");
    auto progress = std::make_shared<RecordingProgress>();
    SearchOptions options;
    options.progress = progress;
    const SearchResult result = runSearch({dir.path()}, sizeAndContentCriteria(false), options);
    ASSERT_EQ(result.rows.size(), 4u);
    for (const auto& row : result.rows) {
        const bool music = row.path.extension() == ".mp3" || row.path.extension() == ".MP3";
        EXPECT_EQ(row.fileTypeLabel, music ? musicTag : 1u) << row.path;
    }
    EXPECT_EQ(progress->fileTypeCounts[musicTag], 2);
    EXPECT_EQ(progress->fileTypeCounts[1], 2);
}

TEST_F(KZSearchControllerTest, FileTypeTagsByExtensionThenTypeCode)
{
    KZDefaultsRegistry::setupDefaultsPreferences();
    std::shared_ptr<KZSearchController> controller;
    SearchOptions options;
    options.keep = &controller;
    runSearch({dir.path()}, sizeAndContentCriteria(false), options);
    ASSERT_TRUE(controller);

    auto tagOf = [&](const char* name, quint32 type, bool directory, bool package) {
        auto item = KZSearchItemInfo::create(dir / name);
        item->setOriginalName(str(name));
        item->setType(type);
        item->setIsDirectory(directory);
        item->setIsPackage(package);
        controller->assignFileTypeTagToItem(*item);
        return item->fileTypeLabel();
    };
    const quint32 jpeg = 0x4A504547; // 'JPEG'
    const quint64 images = tagOf("p.jpg", 0, false, false);
    const quint64 music = tagOf("s.mp3", 0, false, false);
    EXPECT_NE(images, 1u);
    EXPECT_NE(music, 1u);
    EXPECT_NE(images, music);
    EXPECT_EQ(tagOf("S.MP3", 0, false, false), music) << "extensions match ignoring case";
    EXPECT_EQ(tagOf("picture", jpeg, false, false), images) << "no extension: the type code decides";
    EXPECT_EQ(tagOf("picture.zzz", jpeg, false, false), images) << "an unlisted extension: the type code decides";
    EXPECT_EQ(tagOf("plain", 0, false, false), 1u);
    EXPECT_EQ(tagOf("folder", 0, true, false), 2u);
    EXPECT_EQ(tagOf("folder.jpg", 0, true, false), 2u) << "a plain folder is a folder whatever its name";
    EXPECT_EQ(tagOf("bundle.mp3", 0, true, true), music) << "a package is labelled like a file";
}

TEST_F(KZSearchControllerTest, FollowUpSearchReportsEmptiedFolders)
{
    dir.mkdir("trashed/from/here");
    dir.write("kept/file", "still here");
    QVariantMap criteria = KZSearchStuff::emptyCriteria();
    criteria.insert(str("isFolder"), true);
    criteria.insert(str("folderStruct"),
                    QVariantMap{{str("whichItem"), 1}, {str("excludeCustomIcon"), 0}, {str("neastedEmptied"), 1}});
    SearchOptions options;
    options.followUp = true;
    const SearchResult result
        = runSearch({dir / "trashed/from/here", dir / "kept"}, criteria, options);
    EXPECT_TRUE(result.info.value(str("KZResultIsEmptyFolders")).toBool());
    ASSERT_EQ(result.rows.size(), 1u);
    // The climb stops below the first folder that holds something else.
    EXPECT_EQ(result.rows[0].path, dir / "trashed");
}

} // namespace
