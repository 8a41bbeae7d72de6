#include "EngineTestSupport.h"

#include "platform/FinderInfo.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <utility>
#include <vector>

using namespace enginetest;

namespace {

QVariantMap folderCriteria()
{
    return {
        {str("isFolder"), true},
        {str("folderStruct"), QVariantMap{{str("compareContent"), true}, {str("whichItem"), 2}}},
    };
}

// Groups as folder paths relative to the searched root.
std::set<std::set<std::string>> relativeGroups(const std::vector<FoundRow>& rows, const fs::path& root)
{
    std::set<std::set<std::string>> groups;
    for (const auto& paths : groupSet(rows)) {
        std::set<std::string> relative;
        for (const auto& path : paths)
            relative.insert(path.lexically_relative(root).string());
        groups.insert(relative);
    }
    return groups;
}

// Every group's rows share one counter that holds the group's size, and
// numbers run from 1.
void expectCounters(const std::vector<FoundRow>& rows)
{
    std::map<quint64, std::vector<const FoundRow*>> byId;
    for (const auto& row : rows)
        byId[row.groupID].push_back(&row);
    quint64 expected = 1;
    for (const auto& [id, members] : byId) {
        EXPECT_EQ(id, expected++);
        int heads = 0;
        for (const FoundRow* row : members) {
            EXPECT_EQ(row->counter, members.size()) << row->path;
            EXPECT_EQ(row->counterId, members.front()->counterId);
            heads += row->head ? 1 : 0;
        }
        EXPECT_EQ(heads, 1) << "group " << id;
    }
}

using Tree = std::vector<std::pair<std::string, std::string>>; // path -> bytes; a trailing '/' makes a folder
using GroupsOf = std::set<std::set<std::string>>;

struct FolderCase {
    const char* name;
    Tree tree;
    std::vector<GroupsOf> acceptable; // the scan's order may decide between equally right answers
};

void PrintTo(const FolderCase& c, std::ostream* os)
{
    *os << c.name;
}

class KZFolderContentTest : public ::testing::Test {
protected:
    void build(const Tree& tree)
    {
        for (const auto& [path, bytes] : tree) {
            if (!path.empty() && path.back() == '/')
                dir.mkdir(path);
            else
                dir.write(path, bytes);
        }
    }
    kztest::TempDir dir;
};

std::vector<FolderCase> folderCases()
{
    const std::string block = randomBytes(50000, 7);
    return {
        {"copy with a shared subfolder is reported once, at the top",
         {{"a/f", "one"}, {"a/sub/g", block}, {"b/f", "one"}, {"b/sub/g", block}},
         {{{"a", "b"}}}},
        {"view settings of equal size but other content are ignored",
         {{"a/.DS_Store", "xx"}, {"a/f", block}, {"b/.DS_Store", "yy"}, {"b/f", block}},
         {{{"a", "b"}}}},
        {"empty folders are no duplicates", {{"a/", ""}, {"b/", ""}}, {{}}},
        {"folders holding only the file system's bookkeeping are empty",
         {{"a/._x", "hello"}, {"a/.DS_Store", "v"}, {"b/._x", "hello"}},
         {{}}},
        {"a hidden file of somebody's is content", {{"a/.env", "key"}, {"b/.env", "key"}}, {{{"a", "b"}}}},
        {"equal size with another count never groups", {{"a/f", "ab"}, {"b/g", "a"}, {"b/h", "b"}}, {{}}},
        {"a file against a folder at the same place differs",
         {{"a/m", "ab"}, {"a/n/", ""}, {"b/m/", ""}, {"b/n", "ab"}},
         {{}}},
        {"one byte of one file differs",
         {{"a/f", block}, {"a/g", "same"}, {"b/f", flipped(block, 49999)}, {"b/g", "same"}},
         {{}}},
        {"passed-over names leave listings of other lengths apart",
         {{"a/.DS_Store", "P"}, {"a/x", "Q"}, {"b/y", "Q"}, {"b/z", "Q"}},
         {{}}},
        {"of equal sizes the folder holding the other is met first, so the copy is found at its top",
         {{"p/X/f", block}, {"p/X/g", "g"}, {"q/Y/f", block}, {"q/Y/g", "g"}},
         {{{"p", "q"}}}},
        {"three copies make one group of three",
         {{"a/f", block}, {"b/f", block}, {"c/f", block}, {"d/f", flipped(block, 0)}},
         {{{"a", "b", "c"}}}},
    };
}

// "one byte of one file differs" -> OneByteOfOneFileDiffers
std::string caseName(const ::testing::TestParamInfo<FolderCase>& named)
{
    std::string out;
    bool upper = true;
    for (const char* p = named.param.name; *p; ++p) {
        const unsigned char ch = static_cast<unsigned char>(*p);
        if (!std::isalnum(ch)) {
            upper = upper || ch == ' ' || ch == '-';
            continue;
        }
        out += upper ? char(std::toupper(ch)) : char(ch);
        upper = false;
    }
    return out;
}

class KZFolderCasesTest : public ::testing::TestWithParam<FolderCase> {};

TEST_P(KZFolderCasesTest, GroupsTheCopies)
{
    const FolderCase& c = GetParam();
    kztest::TempDir root;
    for (const auto& [path, bytes] : c.tree) {
        if (path.back() == '/')
            root.mkdir(path);
        else
            root.write(path, bytes);
    }
    const SearchResult result = runSearch({root.path()}, folderCriteria());
    EXPECT_EQ(result.notifications, 1);
    EXPECT_TRUE(result.info.value(str("KZResultSearchedForFolders")).toBool());
    const GroupsOf found = relativeGroups(result.rows, root.path());
    EXPECT_NE(std::find(c.acceptable.begin(), c.acceptable.end(), found), c.acceptable.end())
        << "found " << ::testing::PrintToString(found);
    expectCounters(result.rows);
}

INSTANTIATE_TEST_SUITE_P(FolderContent, KZFolderCasesTest, ::testing::ValuesIn(folderCases()), caseName);

// A folder that cannot be compared with the first one met must still meet
// its real copies, whichever of them the walk reaches first.
// Folders searched with criteria that compare files' content, not
// folders': a folder has no bytes of its own, so none is read as a file;
// folders of one size are compared entry by entry, and nothing is counted
// unreadable.
TEST_F(KZFolderContentTest, FileContentCriteriaNeverReadAFolderAsAFile)
{
    dir.write("x/d1/a", "hello");
    dir.write("y/d1/a", "hello");
    dir.write("z/d1/a", "jello");
    QVariantMap criteria = sizeAndContentCriteria();
    criteria.insert(str("isFolder"), true);
    criteria.insert(str("folderStruct"), QVariantMap{{str("compareContent"), false}, {str("whichItem"), 2}});
    ObservingReader reader;
    SearchOptions options;
    options.reader = &reader;
    const SearchResult result = runSearch({dir.path()}, criteria, options);
    ASSERT_EQ(result.notifications, 1);
    EXPECT_EQ(result.info.value(str("KZResultUnreadableItemsCount")).toULongLong(), 0u);
    EXPECT_EQ(relativeGroups(result.rows, dir.path()), (GroupsOf{{"x", "y"}, {"x/d1", "y/d1"}}));
    for (const char* folder : {"x", "y", "z", "x/d1", "y/d1", "z/d1"})
        EXPECT_EQ(reader.attempts[dir / folder], 0) << folder << " read as a file";
}

TEST_F(KZFolderContentTest, UnreadableFileMakesItsFolderNotComparableOnly)
{
    const std::string block = randomBytes(30000, 9);
    build({{"a/f", block}, {"a/g", "tail"}, {"b/f", block}, {"b/g", "tail"}, {"c/f", block}, {"c/g", "tail"}});
    ObservingReader reader;
    reader.refused = dir / "a/f";
    SearchOptions options;
    options.reader = &reader;
    const SearchResult result = runSearch({dir.path()}, folderCriteria(), options);
    EXPECT_EQ(relativeGroups(result.rows, dir.path()), (GroupsOf{{"b", "c"}}));
    expectCounters(result.rows);
}

// Compared against several representatives, a file is still read once.
TEST_F(KZFolderContentTest, NoFileIsReadAgainFromTheStart)
{
    const std::string block = randomBytes(200000, 11);
    Tree tree;
    for (const char* folder : {"a", "b", "c", "d", "e"}) {
        tree.push_back({std::string(folder) + "/f", block});
        tree.push_back({std::string(folder) + "/g", "x"});
    }
    // Same size and count, other bytes late in the file: each is compared
    // with every representative before it.
    tree.push_back({"v/f", flipped(block, 199999)});
    tree.push_back({"v/g", "x"});
    tree.push_back({"w/f", flipped(block, 150000)});
    tree.push_back({"w/g", "x"});
    build(tree);
    ObservingReader reader;
    SearchOptions options;
    options.reader = &reader;
    const SearchResult result = runSearch({dir.path()}, folderCriteria(), options);
    EXPECT_EQ(relativeGroups(result.rows, dir.path()), (GroupsOf{{"a", "b", "c", "d", "e"}}));
    // A later comparison resumes where the cache ends: at the block that
    // differed last time, never earlier.
    std::lock_guard guard(reader.lock);
    for (const auto& [path, opens] : reader.sessions) {
        std::optional<quint64> lastRead;
        for (const auto& offsets : opens) {
            if (offsets.empty())
                continue;
            if (lastRead) {
                EXPECT_GE(offsets.front(), *lastRead) << path << " went back";
            }
            lastRead = std::max(lastRead.value_or(0), offsets.back());
        }
    }
}

// Files of a few blocks are read whole when their folders' listings agree:
// one that differed early from one representative is not opened again to go
// on with it against the next, and two names of one file in a folder are
// read once. Every block of every file is read at most once.
TEST_F(KZFolderContentTest, SmallFilesAreReadWholeAndNeverAgain)
{
    const std::string two = randomBytes(60000, 12); // two blocks
    Tree tree;
    // Whatever the order they are met in, some folder meets one that
    // differs in the first block before it meets its copy.
    const std::vector<std::pair<std::string, std::string>> firsts = {
        {"a", flipped(two, 0, 1)}, {"b", two}, {"c", two}, {"x", flipped(two, 0, 2)}, {"y", flipped(two, 0, 4)}};
    for (const auto& [folder, bytes] : firsts) {
        tree.push_back({folder + "/f", bytes});
        tree.push_back({folder + "/g", "tail"});
    }
    build(tree);
    // The same file under two names in both of two more folders.
    for (const char* folder : {"d", "e"}) {
        dir.write(std::string(folder) + "/h1", two);
        fs::create_hard_link(dir / folder / "h1", dir / folder / "h2");
    }
    ObservingReader reader;
    SearchOptions options;
    options.reader = &reader;
    const SearchResult result = runSearch({dir.path()}, folderCriteria(), options);
    EXPECT_EQ(relativeGroups(result.rows, dir.path()), (GroupsOf{{"b", "c"}, {"d", "e"}}));
    expectCounters(result.rows);
    for (const char* file : {"a/f", "b/f", "c/f", "x/f", "y/f", "d/h1", "e/h1"}) {
        std::vector<quint64> offsets = reader.offsetsOf(dir / file);
        std::vector<quint64> distinct = offsets;
        std::sort(distinct.begin(), distinct.end());
        distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
        EXPECT_EQ(offsets.size(), distinct.size()) << file << " had a block read twice";
    }
}

// Folders inside two folders that differ are compared on their own, seen
// through the listings of the folders holding them; a sibling whose name
// differs only in case sorts among their entries and must not join them.
TEST_F(KZFolderContentTest, FoldersInsideFoldersThatDifferAreComparedOnTheirOwn)
{
    const std::string block = randomBytes(45000, 13);
    build({{"p/d", "aaaa"}, {"q/d", "aaab"},
           {"p/Sub/f", block}, {"q/Sub/f", block},
           {"p/Sub/deeper/h", "hh"}, {"q/Sub/deeper/h", "hh"},
           {"p/sub/e", "x"}, {"q/sub/e", "y"},
           {"p/other/Sub/f", block}, {"p/other/Sub/deeper/h", "hh"}, {"p/other/g", "gg"},
           {"q/other/Sub/f", block}, {"q/other/Sub/deeper/h", "hh"}, {"q/other/g", "gG"}});
    for (unsigned threads : {1u, 4u}) {
        SCOPED_TRACE(threads);
        SearchOptions options;
        options.hashingThreads = threads;
        const SearchResult result = runSearch({dir.path()}, folderCriteria(), options);
        EXPECT_EQ(relativeGroups(result.rows, dir.path()),
                  (GroupsOf{{"p/Sub", "q/Sub", "p/other/Sub", "q/other/Sub"}}));
        expectCounters(result.rows);
    }
}

// Stopped at the first file a comparison opens, while many folders are still
// being listed side by side: the search ends once, says it was stopped, and
// reports only whole groups.
TEST_F(KZFolderContentTest, StopWhileFoldersAreListedEndsTheSearchOnce)
{
    Tree tree;
    for (int n = 0; n < 150; ++n) {
        const std::string bytes = randomBytes(100 + std::size_t(n), unsigned(n));
        for (const char* side : {"a", "b"}) {
            const std::string top = std::string(side) + "/" + std::to_string(n);
            tree.push_back({top + "/f", bytes});
            tree.push_back({top + "/deeper/g", bytes});
        }
    }
    build(tree);
    auto progress = std::make_shared<RecordingProgress>();
    struct StoppingReader : KZContentReader {
        std::unique_ptr<File> open(const fs::path& path) override
        {
            progress->stopped = true;
            return KZContentReader::fileSystem().open(path);
        }
        RecordingProgress* progress = nullptr;
    } reader;
    reader.progress = progress.get();
    SearchOptions options;
    options.progress = progress;
    options.reader = &reader;
    options.hashingThreads = 4;
    const SearchResult result = runSearch({dir.path()}, folderCriteria(), options);
    ASSERT_EQ(result.notifications, 1);
    EXPECT_TRUE(result.info.value(str("KZResultSearchWasStoppedByUser")).toBool());
    EXPECT_LE(result.rows.size(), 2u);
    expectCounters(result.rows);
}

} // namespace

namespace {

// Size and count of a folder as a user would add them up: every file below
// it (hidden ones too) but view-settings files, and every entry counted once.
std::pair<quint64, quint64> independentSums(const fs::path& folder)
{
    quint64 size = 0;
    quint64 count = 0;
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
        if (it->path().filename().string().starts_with(".DS_Store"))
            continue;
        ++count;
        if (!it->is_directory() || it->is_symlink())
            size += it->is_symlink() ? fs::read_symlink(it->path()).string().size() : it->file_size();
    }
    return {size, count};
}

TEST_F(KZFolderContentTest, SizesAddedUpByTheWalkMatchTheFolders)
{
    const std::string block = randomBytes(70000, 5);
    Tree tree;
    // Two deep copies with hidden files, a hidden subfolder the walk does not
    // enter, view settings and a link: found at the top, with their sums.
    for (const char* top : {"one", "two"}) {
        std::string path = top;
        for (int depth = 0; depth < 300; ++depth) {
            path += "/d";
            tree.push_back({path + "/f", std::to_string(depth)});
        }
        tree.push_back({std::string(top) + "/.hidden", "secret"});
        tree.push_back({std::string(top) + "/.cache/inner", block});
        tree.push_back({std::string(top) + "/.DS_Store", top});
        tree.push_back({std::string(top) + "/big", block});
    }
    build(tree);
    fs::create_symlink("big", dir / "one/link");
    fs::create_symlink("big", dir / "two/link");
    const SearchResult result = runSearch({dir.path()}, folderCriteria());
    EXPECT_EQ(relativeGroups(result.rows, dir.path()), (GroupsOf{{"one", "two"}}));
    for (const FoundRow& row : result.rows)
        EXPECT_EQ(row.size, independentSums(row.path).first) << row.path;
}

} // namespace

#include "engine/KZFolderAncestry.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

// A found folder's family: itself, everything below it and everything above
// it, known by (device, inode) alone.
TEST(KZFolderAncestryTest, FoundFoldersMarkTheirFamilyByIdentity)
{
    struct Folder {
        const char* path;
        quint64 device, inode;
    };
    const std::vector<Folder> layout{
        {"/r/a", 1, 10}, {"/r/a/x", 1, 11}, {"/r/a/x/y", 1, 12}, {"/r/b", 1, 20}, {"/r/b/z", 1, 21},
        // The same inode on another device is another folder.
        {"/r/c", 2, 11},
        {"/r/none", 0, 0}, // the scan could not identify it
    };
    std::map<std::string, KZSearchItemInfoRef> items;
    std::vector<const KZSearchItemInfo*> folders;
    for (const Folder& f : layout) {
        auto info = KZSearchItemInfo::create(fs::path(f.path));
        info->setDevice(f.device);
        info->setInode(f.inode);
        folders.push_back(info.get());
        items[f.path] = std::move(info);
    }
    KZFolderAncestry ancestry;
    ancestry.learn(folders);
    EXPECT_FALSE(ancestry.isContained(*items["/r/a"])) << "nothing found yet";
    ancestry.addFound(*items["/r/a/x"]);
    ancestry.addFound(*items["/r/none"]);
    const std::vector<std::pair<const char*, bool>> verdicts{
        {"/r/a/x", true}, {"/r/a", true}, {"/r/a/x/y", true}, {"/r/b", false},
        {"/r/b/z", false}, {"/r/c", false}, {"/r/none", false},
    };
    for (const auto& [path, contained] : verdicts)
        EXPECT_EQ(ancestry.isContained(*items[path]), contained) << path;
    ancestry.addFound(*items["/r/b"]);
    EXPECT_TRUE(ancestry.isContained(*items["/r/b/z"]));
    EXPECT_FALSE(ancestry.isContained(*items["/r/c"]));
}

// The highest marked folder above each folder: the one whose listing holds
// the others'.
TEST(KZFolderAncestryTest, HighestChosenFolderAboveEachFolder)
{
    const std::vector<const char*> layout{"/r", "/r/a", "/r/a/x", "/r/a/x/y", "/r/b", "/r/b/z", "/s/t"};
    std::vector<KZSearchItemInfoRef> items;
    std::vector<const KZSearchItemInfo*> folders;
    for (std::size_t i = 0; i < layout.size(); ++i) {
        items.push_back(KZSearchItemInfo::create(fs::path(layout[i])));
        items.back()->setDevice(1);
        items.back()->setInode(100 + i);
        folders.push_back(items.back().get());
    }
    KZFolderAncestry ancestry;
    ancestry.learn(folders);
    //                          /r a  x  y  b  z  /s/t
    const std::vector<char> chosen{0, 1, 1, 0, 0, 1, 1};
    const std::size_t none = KZFolderAncestry::kNone;
    EXPECT_EQ(ancestry.highestChosenAbove(chosen), (std::vector<std::size_t>{none, none, 1, 1, none, none, none}));
}

// Chains of folders whose paths are longer than the system takes in one
// call, with their only file at the bottom: every folder of a chain has the
// same size, and the copy is still reported once, at its top.
fs::path makeChain(const fs::path& top, int depth, const std::string& name, const std::string& bytes)
{
    fs::create_directories(top);
    return kztest::makeFolderChain(top, depth, name, {{"bottom", bytes}});
}

TEST_F(KZFolderContentTest, CopiedChainDeeperThanAnyPathIsFoundAtItsTop)
{
    const std::string name(200, 'd');
    constexpr int depth = 30;
    const std::string bytes = randomBytes(5000, 3);
    for (const char* top : {"a", "b"})
        ASSERT_GT(makeChain(dir / top, depth, name, bytes).native().size(), std::size_t(PATH_MAX));
    ASSERT_FALSE(makeChain(dir / "c", depth, name, flipped(bytes, 4999)).empty());
    const SearchResult result = runSearch({dir.path()}, folderCriteria());
    EXPECT_EQ(relativeGroups(result.rows, dir.path()), (GroupsOf{{"a", "b"}}));
    expectCounters(result.rows);
    for (const char* top : {"a", "b", "c"})
        kztest::removeFolderChain(dir / top, name);
}

} // namespace

// The folder view follows each pair of folders compared entry by entry: the
// items and bytes of both, and two for every pair of files read.
TEST_F(KZFolderContentTest, TheFolderProgressIsFedEveryPairOfFoldersAndFiles)
{
    build({{"a/f", "12345"}, {"a/g", "1234567"}, {"b/f", "12345"}, {"b/g", "1234567"}, {"c/h", "other"}});
    SearchOptions options;
    options.progress = std::make_shared<RecordingProgress>();
    const SearchResult result = runSearch({dir.path()}, folderCriteria(), options);
    EXPECT_EQ(relativeGroups(result.rows, dir.path()), (GroupsOf{{"a", "b"}}));
    const RecordingProgress& progress = *options.progress;
    EXPECT_EQ(progress.foldersContentPrepared.load(), 1);
    EXPECT_EQ(progress.folderTotals, std::vector<quint64>{4}) << "c differs in size: never listed";
    EXPECT_EQ(progress.folderSizes, std::vector<quint64>{24});
    EXPECT_EQ(progress.folderValueAdded.load(), 4u);
}

// The folder view of the progress window is worth its room only when many
// folders are to be compared: more than fifty.
TEST_F(KZFolderContentTest, TheFolderProgressShowsOnlyForMoreThanFiftyFolders)
{
    for (const int folders : {50, 51}) {
        kztest::TempDir here;
        for (int n = 0; n < folders; ++n)
            here.write("f" + std::to_string(n) + "/x", "same");
        SearchOptions options;
        options.progress = std::make_shared<RecordingProgress>();
        const SearchResult result = runSearch({here.path()}, folderCriteria(), options);
        ASSERT_EQ(result.notifications, 1);
        EXPECT_EQ(result.info.value(str("KZResultItemsToCheckCount")).toULongLong(), quint64(folders));
        EXPECT_EQ(options.progress->folderViewShown.load(), folders > 50 ? 1 : 0) << folders << " folders";
        EXPECT_EQ(groupSet(result.rows).size(), 1u) << "every folder holds the same file";
    }
}

// A folder the user hid is not walked when hidden items are not wanted, but
// in a duplicate-folders search it is still a folder of the search: a hidden
// copy of a visible folder is found, while a folder inside a hidden one is
// never met, even when it has a copy.
TEST_F(KZFolderContentTest, AHiddenFolderIsNotWalkedButIsStillAFolderOfTheSearch)
{
    const std::string block = randomBytes(30000, 11);
    build({{"veiled/f", block}, {"veiled/sub/g", "inner"}, {"shown/f", block}, {"shown/sub/g", "inner"},
           {"apart/h", "alone"}, {"apart/sub/g", "deep"}, {"copy/g", "deep"}});
    platform::FinderInfo info;
    info.setFlags(platform::FinderInfo::kIsInvisible);
    QString error;
    for (const char* hidden : {"veiled", "apart"}) {
        if (!platform::writeFinderInfo(dir / hidden, info, &error))
            GTEST_SKIP() << "no extended attributes here: " << error.toStdString();
    }
    const SearchResult result = runSearch({dir.path()}, folderCriteria());
    EXPECT_EQ(relativeGroups(result.rows, dir.path()), (GroupsOf{{"shown", "veiled"}}));
    expectCounters(result.rows);
}
