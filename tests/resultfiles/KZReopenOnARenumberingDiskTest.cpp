// A result saved from a USB stick, the stick unplugged and plugged back:
// exFAT numbers its files anew at every mount, so every item, and the
// searched folder itself, stands at its place under another number. The
// result reopens whole; a stranger put at an item's place since (another
// size) is not taken for the item.

#include "resultfiles/KZSavedResultReopen.h"

#include "FuseMounts.h"
#include "platform/Bookmark.h"
#include "platform/FileStat.h"
#include "result/model/KZFoundItemsCntrl.h"
#include "settings/KZTags.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>

namespace fs = std::filesystem;

namespace {

constexpr int kUnavailable = 77;

KZSavedItem savedItem(const fs::path& path, qint64 group, bool marked)
{
    KZSavedItem saved;
    saved.alias = platform::createBookmark(path);
    saved.groupId = group;
    saved.isMarked = marked;
    saved.countOfItemsInGroup = group == 1 ? 2 : 3;
    saved.fileTypeTag = KZTag::unlabeledFiles;
    const auto st = platform::statPath(path, false);
    saved.isFolder = st->isDir();
    if (!st->isDir())
        saved.size = st->size;
    saved.dateModified = double(st->modified.tv_sec) + double(st->modified.tv_nsec) / 1e9;
    return saved;
}

} // namespace

TEST(ReopenOnARenumberingDisk, AResultSavedFromAStickReopensAfterAReplug)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to attach and mount disks";
    kztest::TempDir d;
    const auto outcome = kztest::runWithPrivateMounts([&] {
        kztest::FuseStick stick(kztest::FuseKind::Exfat, d.path());
        if (!stick.made())
            ::_exit(kUnavailable);
        const fs::path at = stick.at();
        fs::create_directories(at / "src/sub");
        for (const char* name : {"src/a", "src/b", "src/c", "src/sub/d", "src/sub/e"})
            std::ofstream(at / name) << "same bytes";
        KZSavedResult saved;
        KZSavedSource source;
        source.alias = platform::createBookmark(at / "src");
        source.wasSearched = true;
        saved.sources = {source};
        saved.items = {savedItem(at / "src/a", 1, false), savedItem(at / "src/b", 1, true),
                       savedItem(at / "src/c", 2, false), savedItem(at / "src/sub/d", 2, true),
                       savedItem(at / "src/sub/e", 2, false)};
        const quint64 numberThen = platform::statPath(at / "src/a", false)->inode;

        std::vector<fs::path> seen;
        for (const auto& entry : fs::recursive_directory_iterator(at))
            seen.push_back(entry.path());
        std::sort(seen.begin(), seen.end());
        ASSERT_TRUE(stick.unplug()) << std::strerror(errno);
        ASSERT_TRUE(stick.plugIn());
        // Looked up in another order than before: other numbers.
        std::for_each(seen.rbegin(), seen.rend(), [](const fs::path& path) { platform::statPath(path, false); });
        if (platform::statPath(at / "src/a", false)->inode == numberThen)
            std::fprintf(stderr, "the replug gave src/a its old number again\n");
        // A stranger at c's place: another file of another size.
        std::ofstream(at / "src/c", std::ios::trunc) << "another file, of another size";

        KZReopenedResult result = KZSavedResultReopen::rebuild(saved,
                                                               KZSavedResultReopen::resolveSources(saved.sources), {});
        std::set<fs::path> paths;
        for (const ArrayCStyle* cell = result.items.head(); cell; cell = cell->next)
            paths.insert(cell->node->item->url());
        ASSERT_EQ(result.sources.size(), 1u) << "the searched folder is found at its place";
        EXPECT_EQ(result.sources.front()->path(), at / "src");
        EXPECT_TRUE(paths.count(at / "src/a"));
        EXPECT_TRUE(paths.count(at / "src/b"));
        EXPECT_TRUE(paths.count(at / "src/sub/d"));
        EXPECT_TRUE(paths.count(at / "src/sub/e"));
        EXPECT_FALSE(paths.count(at / "src/c")) << "a stranger is not the item";
        EXPECT_EQ(result.notes.outsideSources, 0);
    });
    if (outcome == kztest::Isolated::Unavailable) {
        std::fprintf(stderr, "exFAT through FUSE could not be made or mounted here\n");
        return;
    }
    EXPECT_EQ(outcome, kztest::Isolated::Passed);
}
