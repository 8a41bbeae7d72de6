#include "EngineTestSupport.h"

#include "platform/FinderInfo.h"
#include "platform/Paths.h"
#include "platform/StringTable.h"
#include "services/KZFilesUtilities.h"
#include "settings/KZDefaultsRegistry.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>
#include <tuple>

#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace enginetest;

namespace {

// What any careful duplicate finder must report: every regular, visible,
// readable file grouped by its bytes; groups of one are no duplicates.
Groups byteGroups(const fs::path& root)
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
        if (!it->is_symlink(ec) && it->is_regular_file(ec) && readableByAnyone(it->path()))
            byContent[kztest::readFile(it->path())].insert(it->path());
    }
    Groups groups;
    for (auto& [content, paths] : byContent)
        if (paths.size() > 1)
            groups.insert(paths);
    return groups;
}

// Every structural promise of the found list of a same-criteria search.
void expectWellFormedGroups(const std::vector<FoundRow>& rows)
{
    std::map<quint64, std::vector<std::size_t>> members;
    for (std::size_t i = 0; i < rows.size(); ++i)
        members[rows[i].groupID].push_back(i);
    quint64 expectedId = 1;
    for (const auto& [id, indexes] : members) {
        EXPECT_EQ(id, expectedId++) << "group numbers run from 1 without gaps";
        std::vector<std::size_t> heads;
        for (std::size_t i : indexes) {
            EXPECT_EQ(rows[i].counter, indexes.size()) << rows[i].path;
            EXPECT_EQ(rows[i].counterId, rows[indexes.front()].counterId) << "one counter shared by the group";
            if (rows[i].head)
                heads.push_back(i);
        }
        ASSERT_EQ(heads.size(), 1u) << "group " << id;
        // The list runs newest first: the head, filed when the tree is
        // emptied, was added after every member.
        EXPECT_EQ(heads[0], indexes.front()) << "group " << id;
    }
}

// Each block of a file is read once; a later comparison of the same file
// starts again at the last block read before, and nowhere earlier.
void expectEachBlockReadOnce(const ObservingReader& reader)
{
    for (const auto& [path, opens] : reader.sessions) {
        std::optional<quint64> lastRead;
        for (std::size_t i = 0; i < opens.size(); ++i) {
            for (std::size_t k = 1; k < opens[i].size(); ++k)
                EXPECT_LT(opens[i][k - 1], opens[i][k]) << path << " open " << i;
            if (opens[i].empty())
                continue;
            if (lastRead) {
                EXPECT_GE(opens[i].front(), *lastRead) << path << " open " << i << " went back";
            }
            lastRead = std::max(lastRead.value_or(0), opens[i].back());
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
    const std::vector<std::pair<const char*, std::string>> files{
        {"a/empty1", ""}, {"b/empty2", ""}, {"a/one1", "x"}, {"b/one2", "x"}, {"c/one3", "y"},
        {"a/block1", block}, {"b/block2", block}, {"c/block3", flipped(block, 40959)},
        {"a/plus1", blockPlus}, {"b/sub/plus2", blockPlus}, {"c/plus3", flipped(blockPlus, 40960)},
        {"d/big1", big}, {"d/big2", flipped(big, 99999)}, {"e/big3", big}, {"e/big4", flipped(big, 99999, 2)},
        {"e/big5", flipped(big, 50000)},
        // One name in several folders, different and equal contents.
        {"h/same.txt", "alpha"}, {"i/same.txt", "gamma"}, {"j/same.txt", "alpha"},
        {"l/caf\xe9-\xff.bin", "alpha"}, {".hidden/copy", "alpha"}, {"n/.dotcopy", "alpha"},
        {"f/lonely", "only here, twice named"}, {"m/shallow", "deep content"},
    };
    for (const auto& [name, bytes] : files)
        dir.write(name, bytes);
    // Same-size files that part in the first, a middle or the last block,
    // some with copies, so that nodes meet many candidates and resume their
    // caches.
    const std::string large = randomBytes(200000, 7);
    for (int i = 0; i < 9; ++i) {
        const std::size_t at = std::vector<std::size_t>{0, 100000, 199999}[i % 3];
        const std::string bytes = flipped(large, at, char(1 + i / 3));
        dir.write("q" + std::to_string(i) + "/large", bytes);
        if (i % 2 == 0)
            dir.write("q" + std::to_string(i) + "/twin", bytes);
    }
    // Sixty small files of one size in twenty contents, spread over folders
    // that both workers walk: whoever hashes a file reads it once, whole.
    std::vector<fs::path> small;
    for (int content = 0; content < 20; ++content)
        for (int copy = 0; copy < 3; ++copy)
            small.push_back(dir.write("s" + std::to_string(copy) + "/" + std::to_string(content % 4) + "/"
                                          + std::to_string(content),
                                      randomBytes(700, unsigned(content) + 10)));
    // Hard links: two names of one file, and a file whose only duplicate is
    // its own second name.
    dir.mkdir("g");
    fs::create_hard_link(dir / "f/lonely", dir / "g/lonely-link");
    fs::create_hard_link(dir / "a/plus1", dir / "g/plus-link");
    // Links are never followed: a loop back to an ancestor and one to itself.
    dir.mkdir("k");
    fs::create_directory_symlink(dir / "k", dir / "k/loop");
    fs::create_symlink(dir / "k/self", dir / "k/self");
    fs::create_symlink(dir / "nowhere", dir / "k/dangling");
    // A pipe has size 0 like the empty files but can never be read.
    ASSERT_EQ(::mkfifo((dir / "k/pipe").c_str(), 0644), 0);
    fs::path deep = "m";
    for (int i = 0; i < 130; ++i)
        deep /= "d";
    dir.write(deep / "deepfile", "deep content");
    // Copies nobody may read: no content, so no duplicates, and the readable
    // copies of the same bytes still find each other past them.
    for (const char* name : {"o/locked1", "o/locked2", "o/locked3"})
        fs::permissions(dir.write(name, block), fs::perms::none);
    const fs::path lone = dir.write("p/lone", randomBytes(77777, 4));

    ObservingReader reader;
    SearchOptions options;
    options.reader = &reader;
    const SearchResult result = runSearch({dir.path()}, sizeAndContentCriteria(), options);

    ASSERT_EQ(result.notifications, 1);
    EXPECT_FALSE(result.info.value(str("KZResultSearchWasStoppedByUser")).toBool());
    EXPECT_EQ(groupSet(result.rows), byteGroups(dir.path()));
    expectWellFormedGroups(result.rows);
    EXPECT_EQ(result.info.value(str("KZResultFoundItemsCount")).toULongLong(), result.rows.size());
    quint64 size = 0;
    bool sawNonUtf8 = false;
    for (const auto& row : result.rows) {
        size += row.size;
        EXPECT_EQ(row.label, -1) << "one source: no location labels";
        sawNonUtf8 = sawNonUtf8 || row.path.filename().native() == "caf\xe9-\xff.bin";
    }
    EXPECT_EQ(result.info.value(str("KZResultFoundItemsSize")).toULongLong(), size);
    EXPECT_TRUE(sawNonUtf8) << "a name that is not UTF-8 keeps its bytes";

    // Sizes that nothing else has are never opened; two names of one file
    // are duplicates without a byte read.
    for (const fs::path& never : {lone, dir / "f/lonely", dir / "g/lonely-link"})
        EXPECT_EQ(reader.sessions.count(never), 0u) << never;
    for (const fs::path& file : small)
        EXPECT_EQ(reader.offsetsOf(file), std::vector<quint64>{0}) << file;
    expectEachBlockReadOnce(reader);
}

TEST_F(KZSearchControllerTest, HashingThreadsChangeNeitherTheGroupsNorTheirNumbers)
{
    // One folder that the driver lists alone, so that the candidates are
    // filed in the same order in every run. Files of a few sizes (one block
    // and several), copies, and near-copies that part in their first, a
    // middle or their last block.
    std::mt19937 gen(5);
    const std::vector<std::size_t> sizes{900, 40960, 40961, 150000, 300001};
    for (int i = 0; i < 240; ++i) {
        const std::size_t size = sizes[gen() % sizes.size()];
        const std::string base = randomBytes(size, unsigned(gen() % 12));
        const std::size_t at = std::vector<std::size_t>{0, size / 2, size - 1}[gen() % 3];
        dir.write("flat/" + std::to_string(i), gen() % 3 == 0 ? flipped(base, at) : base);
    }
    // Whether the scan workers hash the small files or leave them to the
    // pool changes nothing either.
    struct Run {
        unsigned threads;
        std::size_t backlog;
        std::vector<std::tuple<fs::path, quint64, bool>> rows;
    };
    std::vector<Run> runs{{1, 1024, {}}, {6, 1024, {}}, {6, 0, {}}, {1, 0, {}}};
    for (Run& run : runs) {
        SCOPED_TRACE(testing::Message() << run.threads << " threads, backlog " << run.backlog);
        ObservingReader reader;
        SearchOptions options;
        options.reader = &reader;
        options.hashingThreads = run.threads;
        options.workerHashingBacklog = run.backlog;
        const SearchResult result = runSearch({dir / "flat"}, sizeAndContentCriteria(), options);
        EXPECT_EQ(groupSet(result.rows), byteGroups(dir / "flat"));
        expectWellFormedGroups(result.rows);
        expectEachBlockReadOnce(reader);
        for (const auto& row : result.rows)
            run.rows.emplace_back(row.path, row.groupID, row.head);
    }
    for (std::size_t i = 1; i < runs.size(); ++i)
        EXPECT_EQ(runs[0].rows, runs[i].rows) << "same list, same numbers, same heads";
}

TEST_F(KZSearchControllerTest, ScanWorkersChangeNeitherTheGroupsNorWhatIsChecked)
{
    // A lopsided tree: one top-level folder that holds nearly everything,
    // several levels deep and wide, so that the walks hand folders to one
    // another; more top-level folders than workers, which wait for one; a
    // flat folder; hard links across folders, links to files and folders,
    // one dangling; a hidden folder that is never walked.
    std::mt19937 gen(17);
    const std::vector<std::string> contents{"alpha", "beta", "gamma-gamma", "delta", std::string(50000, 'd')};
    std::vector<std::string> folders{"big"};
    for (std::size_t i = 0; i < folders.size() && folders.size() < 120; ++i)
        for (int k = 0; k < 4; ++k)
            folders.push_back(folders[i] + "/s" + std::to_string(k));
    int n = 0;
    for (const std::string& folder : folders)
        for (int k = 0; k < 3; ++k)
            dir.write(folder + "/f" + std::to_string(n++), contents[gen() % contents.size()]);
    for (int k = 0; k < 60; ++k)
        dir.write("flat/g" + std::to_string(k), contents[gen() % contents.size()] + std::to_string(k % 7));
    for (int k = 0; k < 20; ++k)
        dir.write("top" + std::to_string(k) + "/inner/h", contents[gen() % contents.size()]);
    dir.write(".hidden/inner/copy", "alpha");
    fs::create_hard_link(dir / "flat/g1", dir / "big/s2/hard");
    fs::create_symlink(dir / "flat/g2", dir / "big/s1/link");
    fs::create_directory_symlink(dir / "big/s3", dir / "flat/folder-link");
    fs::create_symlink(dir / "nowhere", dir / "big/dangling");

    std::vector<quint64> checked;
    for (unsigned workers : {1u, 2u, 8u}) {
        SCOPED_TRACE(testing::Message() << workers << " scan workers");
        SearchOptions options;
        options.scanThreads = workers;
        const SearchResult result = runSearch({dir.path()}, sizeAndContentCriteria(), options);
        EXPECT_EQ(groupSet(result.rows), byteGroups(dir.path()));
        expectWellFormedGroups(result.rows);
        EXPECT_EQ(result.info.value(str("KZResultUnreadableItemsCount")).toULongLong(), 0u);
        EXPECT_EQ(result.info.value(str("KZResultUnlistedFoldersCount")).toULongLong(), 0u);
        checked.push_back(result.info.value(str("KZResultCheckedItemsCount")).toULongLong());
    }
    EXPECT_EQ(checked, std::vector<quint64>(3, checked.front())) << "every item met once, whoever walked it";
}

TEST_F(KZSearchControllerTest, FewOpenFilesAllowedStillSearchEverything)
{
    // A session that allows few open files, a little over what a search
    // needs at least: however many walks the machine could run side by side,
    // every folder of a deep tree is listed and every file read.
    for (int top = 0; top < 12; ++top) {
        std::string folder = "t" + std::to_string(top);
        for (int level = 0; level < 14; ++level) {
            folder += "/l" + std::to_string(level);
            dir.write(folder + "/a", "copy " + std::to_string(level));
            dir.write(folder + "/b" + std::to_string(top), std::string(2000 + level, char('a' + top % 3)));
        }
    }
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit few = saved;
    few.rlim_cur = 48;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &few), 0);
    const SearchResult result = runSearch({dir.path()}, sizeAndContentCriteria());
    ::setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(result.info.value(str("KZResultUnreadableItemsCount")).toULongLong(), 0u);
    EXPECT_EQ(result.info.value(str("KZResultUnlistedFoldersCount")).toULongLong(), 0u);
    EXPECT_EQ(groupSet(result.rows), byteGroups(dir.path()));
}

TEST_F(KZSearchControllerTest, FilesFailingAmongManySizesLeaveEveryOtherGroupWhole)
{
    // Candidates of one size start their descent where that size enters
    // the tree; a node whose file fails, before or after its first block,
    // reshapes the tree under them. Many sizes in random order, copies of
    // each, one file refused outright and one failing after its first block.
    std::mt19937 gen(11);
    std::vector<fs::path> files;
    for (int i = 0; i < 360; ++i) {
        const std::size_t size = 600 + (gen() % 14) * 7000;
        files.push_back(dir.write("flat/" + std::to_string(i), randomBytes(size, unsigned(gen() % 5))));
    }
    const fs::path refused = files[17];
    const fs::path failing = files[203];
    Groups expected;
    for (std::set<fs::path> group : byteGroups(dir / "flat")) {
        group.erase(refused);
        group.erase(failing);
        if (group.size() > 1)
            expected.insert(group);
    }
    std::vector<std::vector<std::tuple<fs::path, quint64, bool>>> runs;
    for (unsigned threads : {1u, 6u}) {
        SCOPED_TRACE(threads);
        ObservingReader reader;
        reader.refused = refused;
        reader.failing = failing;
        reader.failFrom = KZCrc32::kBlockSize;
        SearchOptions options;
        options.reader = &reader;
        options.hashingThreads = threads;
        const SearchResult result = runSearch({dir / "flat"}, sizeAndContentCriteria(), options);
        EXPECT_EQ(groupSet(result.rows), expected);
        expectWellFormedGroups(result.rows);
        EXPECT_LE(reader.attempts[refused], 1);
        auto& rows = runs.emplace_back();
        for (const auto& row : result.rows)
            rows.emplace_back(row.path, row.groupID, row.head);
    }
    EXPECT_EQ(runs[0], runs[1]) << "same list, same numbers, same heads";
}

TEST_F(KZSearchControllerTest, LongRunOfEqualSizesDoesNotExhaustTheStack)
{
    // Thousands of files of one size that differ in their bytes, every
    // seventh with a copy: however the candidates arrive, each meets its
    // duplicate, and no tree walk recurses down the run.
    for (int i = 0; i < 3000; ++i) {
        dir.write("f/" + std::to_string(i), std::to_string(1000000 + i));
        if (i % 7 == 0)
            dir.write("g/" + std::to_string(i), std::to_string(1000000 + i));
    }
    EXPECT_EQ(groupSet(runSearch({dir.path()}, sizeAndContentCriteria()).rows), byteGroups(dir.path()));
}

TEST_F(KZSearchControllerTest, PathMetTwiceIsFiledOnce)
{
    dir.write("src/inner/one", "same bytes");
    dir.write("src/inner/two", "same bytes");
    dir.write("src/solo", "no twin");
    fs::create_directory_symlink(dir / "src", dir / "alias");
    // The same folder as itself, spelled differently, nested inside another
    // source, through a link, and nested through a link, which no comparison
    // of the spellings can see.
    const SearchResult result = runSearch(
        {dir / "src", dir / "src/./", dir / "src/inner", dir / "alias", dir / "alias/inner"}, sizeAndContentCriteria());
    const Groups groups = groupSet(result.rows);
    ASSERT_EQ(groups.size(), 1u);
    ASSERT_EQ(groups.begin()->size(), 2u) << "no file is reported as its own duplicate";
    std::set<std::string> names;
    for (const auto& path : *groups.begin())
        names.insert(path.filename().native());
    EXPECT_EQ(names, (std::set<std::string>{"one", "two"}));
}

TEST_F(KZSearchControllerTest, SourceWithoutLocationIsSkippedAndTheOthersSearched)
{
    dir.write("a/x", "twin");
    dir.write("b/y", "twin");
    auto lost = folderSource(dir / "a");
    lost->setUrl(fs::path());
    const SearchResult result = runSearch({lost, folderSource(dir / "a"), folderSource(dir / "b")}, sizeAndContentCriteria());
    EXPECT_EQ(groupSet(result.rows), (Groups{{dir / "a/x", dir / "b/y"}}));
}

TEST_F(KZSearchControllerTest, ResultInfoKeysValuesAndLocationLabelsForOneAndThreeSources)
{
    dir.write("one/a", "same");
    dir.write("two/b", "same");
    dir.write("three/c", "same");
    const std::vector<KZSourceItemRef> three{folderSource(dir / "one"), folderSource(dir / "two"),
                                             folderSource(dir / "three")};
    struct Case {
        const char* name;
        std::vector<KZSourceItemRef> sources;
        int currentLabel;
        std::map<std::string, qint16> rowLabels;
    };
    const std::vector<Case> cases{
        {"one source", {folderSource(dir.path())}, -1, {{"a", -1}, {"b", -1}, {"c", -1}}},
        {"three sources", three, 2, {{"a", 0}, {"b", 1}, {"c", 2}}},
    };
    const QString noes = str("KZResultSearchWasStoppedByUser KZResultSearchedIniTunes KZResultSearchedInPhotos "
                             "KZPhotosDatabaseWasNotFound KZResultIsEmptyFolders KZResultSearchedForDeads "
                             "KZResultSearchedForFolders KZResultIsRestoreOfSaved "
                             "KZResultUnreadableItemsCount KZResultUnlistedFoldersCount");
    QStringList keys = QString(noes + str(" KZResultFoundItems KZResultFoundItemsCount KZResultItemsToCheckCount "
                                   "KZResultFoundItemsSize KZResultCheckedItemsCount KZResultSearchStuffItem "
                                   "KZResultFoundFileTypes KZResultCurrentLocationLabel KZResultPhotosLibraryPath "
                                   "KZResultIsSavedItemsToRestore KZResultFoundDeads"))
                           .split(QLatin1Char(' '));
    keys.sort();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto progress = std::make_shared<RecordingProgress>();
        SearchOptions options;
        options.progress = progress;
        const SearchResult result = runSearch(c.sources, sizeAndContentCriteria(), options);
        const QVariantMap& info = result.info;
        // Readers look keys up by name: a misspelt key would read as absent.
        EXPECT_EQ(info.keys(), keys);
        EXPECT_EQ(info.value(str("KZResultCurrentLocationLabel")).toInt(), c.currentLabel);
        for (const char* count : {"KZResultFoundItemsCount", "KZResultCheckedItemsCount", "KZResultItemsToCheckCount"})
            EXPECT_EQ(info.value(str(count)).toULongLong(), 3u) << count;
        EXPECT_EQ(info.value(str("KZResultFoundItemsSize")).toULongLong(), 12u);
        EXPECT_TRUE(info.value(str("KZResultSearchStuffItem")).canConvert<KZSearchStuffRef>());
        for (const QString& no : noes.split(QLatin1Char(' ')))
            EXPECT_FALSE(info.value(no).toBool()) << no.toStdString();
        EXPECT_EQ(info.value(str("KZResultPhotosLibraryPath")).toString(), QString());
        EXPECT_TRUE(info.value(str("KZResultIsSavedItemsToRestore")).toMap().isEmpty());
        std::map<std::string, qint16> labels;
        for (const auto& row : result.rows)
            labels[row.path.filename().native()] = row.label;
        EXPECT_EQ(labels, c.rowLabels);
        EXPECT_FALSE(progress->isSearching.load());
        EXPECT_EQ(progress->foundCount.load(), 3u);
        EXPECT_EQ(progress->checkedCount.load(), 3u);
        EXPECT_EQ(progress->foundSize.load(), 12u);
        EXPECT_TRUE(progress->prepareOptions.value(str("showInterface")).toBool());
    }
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(three[i]->locationLabelTag(), i);
        EXPECT_TRUE(three[i]->wasSearched());
    }
}

TEST_F(KZSearchControllerTest, NothingToFindOrNoCriteriaHandsOverAnEmptyList)
{
    dir.write("a", "1");
    dir.write("b", "22");
    for (bool noCriteria : {false, true}) {
        SearchOptions options;
        options.noCriteria = noCriteria;
        const SearchResult result = runSearch({dir.path()}, sizeAndContentCriteria(), options);
        ASSERT_EQ(result.notifications, 1) << noCriteria;
        EXPECT_TRUE(result.rows.empty()) << noCriteria;
        EXPECT_EQ(result.info.value(str("KZResultFoundItemsCount")).toULongLong(), 0u) << noCriteria;
    }
}

TEST_F(KZSearchControllerTest, UniqueSearchReportsFilesWithoutDuplicateWithItsCounters)
{
    for (const char* name : {"t/1", "t/2", "t/3"})
        dir.write(name, "ten bytes!");
    dir.write("t/4", "ten bytez!");
    dir.write("u/5", "twenty bytes of text");
    dir.write("u/6", "twenty bytes of text");
    dir.write("v/7", "thirty bytes of text, and more");
    dir.write("w/empty1", "");
    dir.write("w/empty2", "");
    // Skipped empty files count as repeated, as duplicates do.
    QVariantMap criteria = sizeAndContentCriteria(true);
    criteria.insert(str("sizeStruct"),
                    QVariantMap{{str("isUnique"), true}, {str("skipData"), true}, {str("skipDataAmount"), 0}});
    std::shared_ptr<KZSearchController> controller;
    SearchOptions options;
    options.keep = &controller;
    const SearchResult result = runSearch({dir.path()}, criteria, options);
    std::set<std::string> found;
    for (const auto& row : result.rows) {
        found.insert(fs::relative(row.path, dir.path()).native());
        EXPECT_EQ(row.groupID, 0u);
        EXPECT_EQ(row.counter, 0u);
    }
    EXPECT_EQ(found, (std::set<std::string>{"t/4", "v/7"}));
    EXPECT_EQ(result.info.value(str("KZResultFoundItemsCount")).toULongLong(), 2u);
    EXPECT_EQ(result.info.value(str("KZResultCheckedItemsCount")).toULongLong(), 9u);
    EXPECT_EQ(result.info.value(str("KZResultItemsToCheckCount")).toULongLong(), 9u);
    ASSERT_TRUE(controller);
    EXPECT_EQ(controller->notDupesCount(), 7u);
    EXPECT_EQ(controller->itemsFoundCount(), 2u);
}

TEST_F(KZSearchControllerTest, StopPostsOnceWithWhatWasFiled)
{
    for (int folder = 0; folder < 20; ++folder)
        for (int file = 0; file < 100; ++file)
            dir.write("f" + std::to_string(folder) + "/" + std::to_string(file), std::to_string(file % 50));
    for (bool beforeTheScan : {true, false}) {
        SCOPED_TRACE(beforeTheScan ? "stopped before the scan" : "stopped mid-scan");
        auto progress = std::make_shared<RecordingProgress>();
        progress->stopped = beforeTheScan;
        progress->stopAfterToCheck = 300;
        SearchOptions options;
        options.progress = progress;
        const SearchResult result = runSearch({dir.path()}, sizeAndContentCriteria(), options);
        ASSERT_EQ(result.notifications, 1);
        EXPECT_TRUE(result.info.value(str("KZResultSearchWasStoppedByUser")).toBool());
        EXPECT_LT(result.info.value(str("KZResultItemsToCheckCount")).toULongLong(), 2000u);
        EXPECT_EQ(result.info.value(str("KZResultFoundItemsCount")).toULongLong(), result.rows.size());
        if (beforeTheScan) {
            EXPECT_TRUE(result.rows.empty());
        }
        expectWellFormedGroups(result.rows);
        for (const auto& group : groupSet(result.rows)) {
            std::set<std::string> contents;
            for (const auto& path : group)
                contents.insert(kztest::readFile(path));
            EXPECT_EQ(contents.size(), 1u) << "a partial result holds true duplicates only";
        }
    }
}

TEST_F(KZSearchControllerTest, UnreadableTreeNodeDoesNotTurnDuplicatesAway)
{
    // Names are compared too, so a failed comparison is not simply taken as
    // "different". The candidates are filed newest first: the unreadable
    // file, listed last, becomes the root that both duplicates meet.
    const fs::path one = dir.write("one/same.bin", "identical bytes");
    const fs::path two = dir.write("two/same.bin", "identical bytes");
    ObservingReader reader;
    reader.refused = dir.write("three/same.bin", "different bytes");
    SearchOptions options;
    options.reader = &reader;
    QVariantMap criteria = sizeAndContentCriteria();
    criteria.insert(str("isName"), true);
    criteria.insert(str("nameStruct"), QVariantMap{{str("isSame"), true}});
    const SearchResult result = runSearch({dir / "one", dir / "two", dir / "three"}, criteria, options);
    EXPECT_EQ(groupSet(result.rows), (Groups{{one, two}}));
}

// Names alone decide: letter case aside, and the last extension too when
// the user asks; sizes and contents are not looked at.
TEST_F(KZSearchControllerTest, NamesAloneMakeDuplicatesWhateverTheirSizes)
{
    const fs::path upper = dir.write("a/Photo.JPG", "x");
    const fs::path lower = dir.write("b/photo.jpg", "a longer and other content");
    const fs::path png = dir.write("c/photo.png", "y");
    dir.write("d/other.jpg", "x");
    for (const bool withoutExtension : {false, true}) {
        SCOPED_TRACE(withoutExtension);
        const QVariantMap criteria{
            {str("isName"), true},
            {str("nameStruct"), QVariantMap{{str("isSame"), true}, {str("extensionIsExcluded"), withoutExtension}}},
        };
        const SearchResult result = runSearch({dir.path()}, criteria);
        const Groups expected = withoutExtension ? Groups{{upper, lower, png}} : Groups{{upper, lower}};
        EXPECT_EQ(groupSet(result.rows), expected);
        expectWellFormedGroups(result.rows);
    }
}

// A package is one item, like a file; only a package at a source's top
// level is opened as a folder, and only when the user asks for it.
TEST_F(KZSearchControllerTest, OnlyTopLevelPackagesAreOpenedAndOnlyWhenAsked)
{
    for (const char* package : {"Top.bundle", "Top copy.bundle"}) {
        dir.write(std::string(package) + "/a", "package content");
        dir.write(std::string(package) + "/b", "package content");
    }
    for (const char* package : {"deep/Inner.bundle", "deep/Inner copy.bundle"}) {
        dir.write(std::string(package) + "/c", "inner content");
        dir.write(std::string(package) + "/d", "inner content");
    }
    for (const bool opened : {false, true}) {
        SCOPED_TRACE(opened);
        QVariantMap criteria = sizeAndContentCriteria();
        criteria.insert(str("contentStruct"), QVariantMap{{str("isData"), true}, {str("treatPack"), opened}});
        const SearchResult result = runSearch({dir.path()}, criteria);
        const Groups inner{{dir / "deep/Inner.bundle", dir / "deep/Inner copy.bundle"}};
        Groups expected = inner;
        if (opened)
            expected.insert({dir / "Top.bundle/a", dir / "Top.bundle/b", dir / "Top copy.bundle/a",
                             dir / "Top copy.bundle/b"});
        else
            expected.insert({dir / "Top.bundle", dir / "Top copy.bundle"});
        EXPECT_EQ(groupSet(result.rows), expected);
    }
}

// After a removal the folders that held the removed items are looked at
// themselves, each under the label its items had: an emptied folder is
// found, at the outermost folder that it left empty, and nothing is walked.
TEST_F(KZSearchControllerTest, TheFollowUpFindsTheEmptiedFoldersUnderTheirOwnLabels)
{
    dir.write("kept/file", "still here");
    const fs::path inner = dir.mkdir("outer/inner");
    const fs::path alone = dir.mkdir("alone");
    dir.write("alone-sibling/file", "keeps the temporary folder from being empty");
    const std::vector<std::pair<fs::path, qint16>> folders{{inner, 3}, {dir / "kept", 5}, {alone, 7}};
    std::vector<KZSourceItemRef> sources;
    for (const auto& [folder, label] : folders) {
        sources.push_back(folderSource(folder));
        sources.back()->setLocationLabelTag(label);
    }
    auto request = KZSearchStuff::searchStuff();
    request->createEmptyFoldersCriteria();
    SearchOptions options;
    options.emptiedFoldersFollowUp = true;
    options.progress = std::make_shared<RecordingProgress>();
    const SearchResult result = runSearch(sources, request->criteria().value_or(QVariantMap()), options);
    ASSERT_EQ(result.notifications, 1);
    std::map<fs::path, qint16> found;
    for (const FoundRow& row : result.rows) {
        found[row.path] = row.label;
        EXPECT_EQ(row.groupID, 0u) << row.path;
    }
    EXPECT_EQ(found, (std::map<fs::path, qint16>{{dir / "outer", 3}, {alone, 7}}));
    EXPECT_TRUE(result.info.value(str("KZResultIsEmptyFolders")).toBool());
    EXPECT_TRUE(options.progress->prepareOptions.value(str("isEmptiedFolders")).toBool());
    EXPECT_EQ(sources[0]->locationLabelTag(), 3) << "the sources keep their labels";
    EXPECT_FALSE(options.progress->titles.contains(platform::localizedString(str("scanning"))));
}

TEST_F(KZSearchControllerTest, FileTypeTagsByExtensionThenTypeCode)
{
    KZDefaultsRegistry::setupDefaultsPreferences();
    dir.write("a/song.mp3", "tune");
    dir.write("b/SONG.MP3", "tune");
    dir.write("c/noext", "plain");
    dir.write("d/noext2", "plain");
    std::shared_ptr<KZSearchController> controller;
    SearchOptions options;
    options.keep = &controller;
    options.progress = std::make_shared<RecordingProgress>();
    const SearchResult result = runSearch({dir.path()}, sizeAndContentCriteria(), options);
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

    // The search tags what it finds and tells the progress window.
    ASSERT_EQ(result.rows.size(), 4u);
    for (const auto& row : result.rows)
        EXPECT_EQ(row.fileTypeLabel, row.path.extension().empty() ? 1u : music) << row.path;
    EXPECT_EQ(options.progress->fileTypeCounts[music], 2);
    EXPECT_EQ(options.progress->fileTypeCounts[1], 2);
}

} // namespace

TEST_F(KZSearchControllerTest, EmptyFoldersAsTheWalkListedThem)
{
    // Folders met inside a walk are judged from the walk's own listing;
    // the verdicts are those of the emptiness rule: the system's bookkeeping
    // is nothing, a hidden file or a subfolder is content, and a folder
    // holding only an empty folder is not empty without nested emptying.
    dir.mkdir("top/a");
    dir.write("top/b/.DS_Store", "view settings");
    dir.write("top/b/._shadow", "resource fork");
    dir.write("top/c/file.txt", "content");
    dir.mkdir("top/d/e");
    dir.write("top/f/.env", "KEY=1");
    dir.write("top/g/h/deeper/file", "content");
    dir.mkdir("top/g/h/empty");
    for (const qint64 which : {1, 2}) {
        SCOPED_TRACE(which);
        const QVariantMap criteria{
            {str("isFolder"), true},
            {str("folderStruct"), QVariantMap{{str("whichItem"), which}}},
        };
        std::set<fs::path> found;
        for (const auto& row : runSearch({dir.path()}, criteria).rows)
            found.insert(row.path.lexically_relative(dir.path()));
        const std::set<fs::path> empty{"top/a", "top/b", "top/d/e", "top/g/h/empty"};
        const std::set<fs::path> notEmpty{"top", "top/c", "top/d", "top/f", "top/g", "top/g/h", "top/g/h/deeper"};
        EXPECT_EQ(found, which == 1 ? empty : notEmpty);
    }
}

TEST_F(KZSearchControllerTest, InvisibleFoldersAreNeitherWalkedNorFoundWhereverTheyAre)
{
    // A folder marked invisible by its Finder flags, at a source's top level
    // and deeper down, with two more folders beside it so that the walk
    // hands folders to the other worker: what lies inside is never searched
    // when only visible items are asked for, and searched when all are.
    for (const char* folder : {"veiled", "shown/inner", "shown/a", "shown/b", "shown/c"}) {
        dir.write(std::string(folder) + "/one", std::string("copy in ") + folder);
        dir.write(std::string(folder) + "/two", std::string("copy in ") + folder);
    }
    platform::FinderInfo info;
    info.setFlags(platform::FinderInfo::kIsInvisible);
    QString error;
    for (const char* folder : {"veiled", "shown/inner"}) {
        if (!platform::writeFinderInfo(dir / folder, info, &error))
            GTEST_SKIP() << "no extended attributes here: " << error.toStdString();
    }
    for (const bool all : {false, true}) {
        SCOPED_TRACE(all);
        QVariantMap criteria = sizeAndContentCriteria();
        if (all) {
            criteria.insert(str("isVisibility"), true);
            criteria.insert(str("visibilityStruct"), QVariantMap{{str("whichItem"), 2}});
        }
        Groups expected;
        for (const char* folder : {"shown/a", "shown/b", "shown/c"})
            expected.insert({dir / folder / "one", dir / folder / "two"});
        if (all) {
            for (const char* folder : {"veiled", "shown/inner"})
                expected.insert({dir / folder / "one", dir / folder / "two"});
        }
        EXPECT_EQ(groupSet(runSearch({dir.path()}, criteria).rows), expected);
    }
}

// The duplicate-files search leaves out the extensions of the preferences:
// a folder named with one of them (a build folder, a bundle of settings) is
// a thing of its own, never opened, whether it is a source or lies deeper.
// The comparison is exact, as for files.
TEST_F(KZSearchControllerTest, FoldersNamedWithALeftOutExtensionAreNeitherSourcesNorWalked)
{
    for (const char* folder : {"Build.tmp", "plain/Cache.tmp", "plain/Cache.tmp/inner", "plain", "Other.TMP"}) {
        dir.write(std::string(folder) + "/one", std::string("copy in ") + folder);
        dir.write(std::string(folder) + "/two", std::string("copy in ") + folder);
    }
    dir.write("plain/a.tmp", "left-out file");
    dir.write("plain/b.tmp", "left-out file");
    QVariantMap criteria = sizeAndContentCriteria();
    criteria.insert(str("isExtension"), true);
    criteria.insert(str("extensionStruct"),
                    QVariantMap{{str("whichItem"), 2}, {str("array"), QVariantList{str("lib"), str("tmp")}}});

    const SearchResult result = runSearch({dir / "Build.tmp", dir / "plain", dir / "Other.TMP"}, criteria);
    ASSERT_EQ(result.notifications, 1);
    EXPECT_EQ(groupSet(result.rows), (Groups{{dir / "plain/one", dir / "plain/two"},
                                             {dir / "Other.TMP/one", dir / "Other.TMP/two"}}));
}

// ---- The kernel's own file systems ----------------------------------------------------------

namespace {

// Every entry at the top of "/" but the kernel's own file systems, so that
// a search of "/" meets only those and stays short.
std::vector<fs::path> rootEntriesBut(const std::set<std::string>& kept)
{
    std::vector<fs::path> others;
    for (const fs::directory_entry& entry : fs::directory_iterator("/"))
        if (!kept.count(entry.path().filename().native()))
            others.push_back(entry.path());
    return others;
}

bool underKernelFolders(const fs::path& path)
{
    for (const char* top : {"/proc", "/sys", "/dev"})
        if (platform::isInsideFolder(path, top))
            return true;
    return false;
}

} // namespace

// /proc, /sys and /dev hold no user files: a search of "/" never lists them,
// and a source that lies on one (its registers look like duplicates of each
// other) is not searched at all.
TEST(KZSearchController, TheKernelsOwnFileSystemsAreNeverSearched)
{
    auto root = folderSource("/");
    root->setExcluded(rootEntriesBut({"proc", "sys", "dev"}));
    const SearchResult whole = runSearch({root}, sizeAndContentCriteria());
    ASSERT_EQ(whole.notifications, 1);
    for (const FoundRow& row : whole.rows)
        EXPECT_FALSE(underKernelFolders(row.path)) << row.path;

    kztest::TempDir dir;
    dir.write("a", "user bytes");
    dir.write("b", "user bytes");
    std::vector<fs::path> sources{dir.path()};
    for (const char* kernel : {"/sys/bus", "/proc/self/net", "/proc/bus"})
        if (fs::exists(kernel))
            sources.push_back(kernel);
    const SearchResult some = runSearch(sources, sizeAndContentCriteria());
    ASSERT_EQ(some.notifications, 1);
    EXPECT_EQ(groupSet(some.rows), (Groups{{dir / "a", dir / "b"}}));
}

// ~/Documents leads to data/docs: a source chosen as ~/Documents/Work is
// walked as data/docs/Work, and a folder left out under its linked name
// (~/Documents/Work/Private) stays out, whether the request or the source
// leaves it out. A folder left out through a link of its own (Work/Elsewhere
// leading into another source) is left out where the link leads.
TEST(KZSearchController, ExclusionsNamedThroughALinkHold)
{
    kztest::TempDir dir;
    dir.write("data/docs/Work/a.txt", "private pair");
    dir.write("data/docs/Work/Private/b.txt", "private pair");
    dir.write("data/docs/Work/c.txt", "plain pair");
    dir.write("data/docs/Work/Sub/d.txt", "plain pair");
    dir.write("other/inner/e.txt", "linked pair");
    dir.write("data/docs/Work/e.txt", "linked pair");
    dir.mkdir("home");
    fs::create_directory_symlink(dir / "data/docs", dir / "home/Documents");
    fs::create_directory_symlink(dir / "other/inner", dir / "data/docs/Work/Elsewhere");
    const fs::path chosen = dir / "home/Documents/Work";
    const std::vector<fs::path> excluded{chosen / "Private", chosen / "Elsewhere"};

    const auto sources = [&] {
        const auto info = KZFilesUtilities::sharedControl().directoryInfoForPath(chosen);
        EXPECT_TRUE(info.has_value());
        return std::vector<KZSourceItemRef>{KZSourceItem::create(info.value_or(QVariantMap())),
                                            folderSource(dir / "other")};
    };
    const Groups expected{{dir / "data/docs/Work/c.txt", dir / "data/docs/Work/Sub/d.txt"}};

    SearchOptions global;
    global.excludedLocations = excluded;
    const SearchResult byRequest = runSearch(sources(), sizeAndContentCriteria(), global);
    ASSERT_EQ(byRequest.notifications, 1);
    EXPECT_EQ(groupSet(byRequest.rows), expected) << "left out by the request";

    std::vector<KZSourceItemRef> own = sources();
    own[0]->setExcluded(excluded);
    const SearchResult bySource = runSearch(own, sizeAndContentCriteria());
    ASSERT_EQ(bySource.notifications, 1);
    // A source's own exclusion keeps its own walk out of the folder; the
    // other source, which holds where the link leads, still walks it.
    EXPECT_EQ(groupSet(bySource.rows),
              (Groups{{dir / "data/docs/Work/c.txt", dir / "data/docs/Work/Sub/d.txt"},
                      {dir / "data/docs/Work/e.txt", dir / "other/inner/e.txt"}}))
        << "left out by the source";
}

// ---- A photo library's folders mounted inside a source ---------------------------------------

namespace {

constexpr const char* kMountedSourceVar = "KZ_TEST_MOUNTED_SOURCE";
// The user the fresh process searches as. It switches after it has started:
// the test program may lie where that user cannot go (a checkout in root's
// own home, mode 700), so it cannot be started as that user.
constexpr const char* kSearchAsUserVar = "KZ_TEST_SEARCH_AS_UID";

struct FreshSearch {
    int status = -1;
    std::string output;
};

// Runs the case below in a process of its own, in the caller's mount
// namespace, as `uid` unless it is -1: the search's thread pools do not
// survive a fork, so it runs where no search ran before.
FreshSearch searchInFreshProcess(const fs::path& source, const fs::path& tmp, int uid)
{
    FreshSearch result;
    int fds[2];
    if (::pipe(fds) != 0)
        return result;
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (!entry.starts_with("TMPDIR=") && !entry.starts_with("GTEST_"))
            env.push_back(entry);
    }
    env.push_back("TMPDIR=" + tmp.native());
    env.push_back(std::string(kMountedSourceVar) + "=" + source.native());
    if (uid >= 0)
        env.push_back(std::string(kSearchAsUserVar) + "=" + std::to_string(uid));
    std::vector<char*> envp;
    for (auto& entry : env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string self = fs::read_symlink("/proc/self/exe").native();
    std::string all = "--gtest_also_run_disabled_tests";
    std::string filter = "--gtest_filter=KZSearchControllerInMounts.DISABLED_PrintsWhatTheSearchFinds";
    char* argv[] = {self.data(), all.data(), filter.data(), nullptr};
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        ::close(fds[0]);
        ::close(fds[1]);
        ::execve(self.c_str(), argv, envp.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    char buffer[4096];
    for (ssize_t got; (got = ::read(fds[0], buffer, sizeof buffer)) != 0;) {
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            break;
        result.output.append(buffer, std::size_t(got));
    }
    ::close(fds[0]);
    int status = 0;
    if (child > 0 && ::waitpid(child, &status, 0) == child)
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

} // namespace

// Run alone, in a process of its own, by the test below.
TEST(KZSearchControllerInMounts, DISABLED_PrintsWhatTheSearchFinds)
{
    const char* source = std::getenv(kMountedSourceVar);
    ASSERT_NE(source, nullptr);
    if (const char* user = std::getenv(kSearchAsUserVar)) {
        const int uid = std::atoi(user);
        ASSERT_EQ(::setgroups(0, nullptr), 0);
        ASSERT_EQ(::setgid(gid_t(uid)), 0);
        ASSERT_EQ(::setuid(uid_t(uid)), 0);
    }
    const SearchResult result = runSearch({fs::path(source)}, sizeAndContentCriteria());
    ASSERT_EQ(result.notifications, 1);
    for (const FoundRow& row : result.rows)
        std::printf("found %s\n", row.path.c_str());
}

// A library's masters shown by bind mounts at plain paths inside a source,
// at its top level and deeper down: the path names no library, the mount's
// root does. The mounted folder is one item, as the library package would
// be, and none of the masters is found as a plain file; the plain pair
// beside them is. The same for an ordinary user.
TEST(KZSearchController, ALibraryFolderMountedInsideASourceIsNotWalked)
{
    kztest::UserFolder dir;
    dir.write("lib/Family.photoslibrary/Masters/a.jpg", "same picture");
    dir.write("lib/Family.photoslibrary/Masters/b.jpg", "same picture");
    dir.write("lib/Family.photoslibrary/Masters/2024/c.jpg", "another picture");
    dir.write("lib/Family.photoslibrary/Masters/2024/d.jpg", "another picture");
    const fs::path x = dir.write("data/x.txt", "plain pair"), y = dir.write("data/sub/y.txt", "plain pair");
    // Two folders of the library: one folder shown twice is walked once.
    const std::vector<std::pair<fs::path, fs::path>> mounts{
        {dir / "lib/Family.photoslibrary/Masters", dir / "data/pics"},
        {dir / "lib/Family.photoslibrary/Masters/2024", dir / "data/sub/deeper/pics"}};
    const fs::path tmp = dir.mkdir("tmp");
    ::chmod(tmp.c_str(), 01777);
    ::chmod(dir.path().c_str(), 0755);

    const auto outcome = kztest::runWithPrivateMounts([&] {
        for (const auto& [from, to] : mounts)
            kztest::bindMount(from, to);
        // Root in the namespace may be anybody: another user only as root.
        for (const int uid : {-1, 65534}) {
            if (uid >= 0 && ::geteuid() != 0)
                continue;
            SCOPED_TRACE(uid);
            const FreshSearch search = searchInFreshProcess(dir / "data", tmp, uid);
            EXPECT_EQ(search.status, 0) << search.output;
            EXPECT_NE(search.output.find("[  PASSED  ] 1 test"), std::string::npos) << search.output;
            std::set<fs::path> found;
            std::istringstream lines(search.output);
            for (std::string line; std::getline(lines, line);)
                if (line.starts_with("found "))
                    found.insert(line.substr(6));
            EXPECT_TRUE(found.count(x) && found.count(y)) << search.output;
            for (const fs::path& path : found)
                for (const auto& [from, to] : mounts)
                    EXPECT_FALSE(platform::isInsideFolder(path, to) && path != to) << path;
        }
    });
    if (outcome == kztest::Isolated::Unavailable)
        GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(outcome, kztest::Isolated::Passed);
}
