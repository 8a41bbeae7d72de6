// Undo, Restore and moves into recreated folders act in the folder they
// looked at: a folder on the way swapped for a link, before or during the
// work, never leads a file into another folder. Also the undo of a copy that
// was edited in place, and names at the file system's length limit.

#include "RemovalTestSupport.h"

#include "platform/Bookmark.h"
#include "removal/KZRestoreRemovedFiles.h"
#include "removal/KZUndoFile.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace removaltest;
using Result = KZRestoreRemovedFiles::ItemResult;

namespace {

std::size_t entriesIn(const fs::path& folder)
{
    return std::size_t(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

// `folder` goes aside and a link to `elsewhere` takes its name.
void swapForLink(const fs::path& folder, const fs::path& elsewhere)
{
    fs::rename(folder, fs::path(folder.native() + ".real"));
    fs::create_directory_symlink(elsewhere, folder);
}

void swapBack(const fs::path& folder)
{
    fs::remove(folder);
    fs::rename(fs::path(folder.native() + ".real"), folder);
}

} // namespace

// The old place's grandparent is a link to another folder that has a
// folder of the same name: neither a move back nor folders made again go
// through it. With the real folder back, both items go home.
TEST(KZSwappedFolders, UndoNeverMovesNorMakesFoldersThroughALinkOnTheWay)
{
    kztest::TempDir dir;
    fs::create_directories(dir / "home/a/b");
    fs::create_directories(dir / "other/b");
    const KZUndoMovedItem moved{dir.write("dest/x", "X"), dir / "home/a/b/x", false, false};
    const KZUndoMovedItem deeper{dir.write("dest/y", "Y"), dir / "home/a/new/deeper/y", false, false};
    swapForLink(dir / "home/a", dir / "other");

    KZRestoreRemovedFiles restore;
    KZRestoreRemovedFiles::NotRestored why;
    const auto results = restore.undoMovedFiles({moved, deeper}, false, &why);
    EXPECT_EQ(results, (std::vector<Result>{Result::Occupied, Result::Occupied}));
    EXPECT_EQ(why.occupied, 2u);
    EXPECT_EQ(restore.restoredItems.load(), 0u);
    EXPECT_EQ(kztest::readFile(dir / "dest/x"), "X") << "left where the removal put it";
    EXPECT_EQ(kztest::readFile(dir / "dest/y"), "Y");
    EXPECT_EQ(entriesIn(dir / "other"), 1u) << "nothing made in the other folder";
    EXPECT_EQ(entriesIn(dir / "other/b"), 0u);

    swapBack(dir / "home/a");
    EXPECT_EQ(restore.undoMovedFiles({moved, deeper}, false),
              (std::vector<Result>{Result::Restored, Result::Restored}));
    EXPECT_EQ(kztest::readFile(dir / "home/a/b/x"), "X");
    EXPECT_EQ(kztest::readFile(dir / "home/a/new/deeper/y"), "Y");
}

// Restore from the undo file: an item whose old folder's parent became a
// link stays in the Trash with its record and its .trashinfo, listed again.
TEST(KZSwappedFolders, RestoreLeavesAnItemInTheTrashWhenItsOldPlaceLeadsThroughALink)
{
    emptyTrash();
    kztest::TempDir dir;
    const fs::path item = dir.write("home/a/x", "X");
    fs::create_directories(dir / "other/a");
    KZPersistentUndoRecord record;
    record.oldPosition = item;
    record.currPosition = platform::moveToTrash(item).value_or(fs::path());
    ASSERT_FALSE(record.currPosition.empty());
    record.bookmark = platform::createBookmark(record.currPosition);
    const fs::path file = *KZUndoFile::write(platform::homeTrashDirectory(), {}, {record}, 80.0);
    const fs::path info = platform::trashInfoPath(platform::homeTrashDirectory(), record.currPosition.filename());
    ASSERT_TRUE(fs::exists(info));
    swapForLink(dir / "home", dir / "other");

    KZRestoreRemovedFiles restore;
    auto result = restore.restoreFiles({file});
    EXPECT_EQ(result.restored, 0u);
    EXPECT_EQ(result.notRestored.total(), 1u);
    EXPECT_EQ(kztest::readFile(record.currPosition), "X");
    EXPECT_TRUE(fs::exists(info));
    EXPECT_EQ(entriesIn(dir / "other/a"), 0u);
    EXPECT_EQ(KZUndoFile::read(file)->entries.size(), 1u);

    swapBack(dir / "home");
    result = restore.restoreFiles({file});
    EXPECT_EQ(result.restored, 1u);
    EXPECT_EQ(kztest::readFile(item), "X");
    EXPECT_FALSE(fs::exists(info));
}

// A folder that clashes at the old place is merged through both open
// folders; a sub-folder of the old place that became a link is never
// entered, and its entries stay in the Trash's copy.
TEST(KZSwappedFolders, AMergeNeverEntersALinkAtTheOldPlace)
{
    kztest::TempDir dir;
    dir.write("dest/f/top", "T");
    dir.write("dest/f/sub/inner", "I");
    dir.write("home/f/mine", "M");
    fs::create_directories(dir / "other");
    fs::create_directory_symlink(dir / "other", dir / "home/f/sub");

    KZRestoreRemovedFiles restore;
    const KZUndoMovedItem item{dir / "dest/f", dir / "home/f", false, false};
    EXPECT_EQ(restore.undoMovedFiles({item}, false).at(0), Result::Occupied);
    EXPECT_EQ(kztest::readFile(dir / "home/f/top"), "T");
    EXPECT_EQ(kztest::readFile(dir / "home/f/mine"), "M");
    EXPECT_EQ(kztest::readFile(dir / "dest/f/sub/inner"), "I");
    EXPECT_EQ(entriesIn(dir / "other"), 0u);
}

// A removal into a chosen folder with its folders made again: the folder
// made for the item is swapped for a link right before the move. The item
// lands in the folder that was made, never in the one the link leads to.
TEST(KZSwappedFolders, AMoveIntoRecreatedFoldersLandsInTheFolderItMade)
{
    Fixture f;
    const auto items = f.items({{"src/x", 1}, {"keep/x", 1}});
    const fs::path dest = f.dir.mkdir("dest");
    const fs::path other = f.dir.mkdir("other");
    const fs::path made = dest / f.dir.path().relative_path() / "src";
    f.panel->isMoveToTrash = false;
    f.panel->urlToMove = dest;
    f.panel->createFolders = true;
    f.fs->before = [&](const std::string& op, const fs::path&) {
        if (op == "move" && fs::is_directory(fs::symlink_status(made)))
            swapForLink(made, other);
        return 0;
    };
    auto engine = f.engine({items[0]}, items);
    engine->doMove();
    EXPECT_EQ(engine->tally().moved, 1u);
    EXPECT_EQ(entriesIn(other), 0u) << "nothing went through the link";
    EXPECT_EQ(kztest::readFile(fs::path(made.native() + ".real") / "x"), "same bytes");
    EXPECT_FALSE(fs::exists(f.dir / "src/x"));
    EXPECT_EQ(kztest::readFile(f.dir / "keep/x"), "same bytes");
}

// A copy edited in place, its size and modification time put back after:
// its identity still matches, but its bytes are no longer the original's,
// so the undo keeps it and says so. An unchanged copy still goes.
TEST(KZSwappedFolders, TheUndoOfACopyKeepsACopyEditedInPlaceWithItsDatePutBack)
{
    kztest::TempDir dir;
    dir.write("src/a", "before bytes");
    const fs::path copy = dir.write("dest/a", "before bytes");
    const KZUndoMovedItem edited{copy, dir / "src/a", false, true, KZCopyIdentity::capture(copy)};
    struct stat before {};
    ASSERT_EQ(::stat(copy.c_str(), &before), 0);
    {
        const int fd = ::open(copy.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, "EDITED", 6, 0), 6);
        const timespec times[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(::futimens(fd, times), 0);
        ::close(fd);
    }
    ASSERT_TRUE(edited.copyIdentity->matches(copy)) << "the identity alone cannot tell";

    KZRestoreRemovedFiles restore;
    KZRestoreRemovedFiles::NotRestored why;
    EXPECT_EQ(restore.undoMovedFiles({edited}, false, &why).at(0), Result::CopyKept);
    EXPECT_EQ(why.copyKept, 1u);
    EXPECT_EQ(kztest::readFile(copy), "EDITED bytes");
    EXPECT_EQ(kztest::readFile(dir / "src/a"), "before bytes");

    // A folder copy with one file edited the same way stays too.
    dir.write("src/f/in", "1234");
    dir.write("dest/f/in", "1234");
    const KZUndoMovedItem folder{dir / "dest/f", dir / "src/f", false, true, KZCopyIdentity::capture(dir / "dest/f")};
    {
        ASSERT_EQ(::stat((dir / "dest/f/in").c_str(), &before), 0);
        const int fd = ::open((dir / "dest/f/in").c_str(), O_WRONLY);
        ASSERT_EQ(::pwrite(fd, "5678", 4, 0), 4);
        const timespec times[2] = {before.st_atim, before.st_mtim};
        ::futimens(fd, times);
        ::close(fd);
    }
    EXPECT_EQ(restore.undoMovedFiles({folder}, false).at(0), Result::CopyKept);
    EXPECT_EQ(kztest::readFile(dir / "dest/f/in"), "5678");

    const KZUndoMovedItem same{dir.write("dest/b", "B"), dir.write("src/b", "B"), false, true,
                               KZCopyIdentity::capture(dir / "dest/b")};
    EXPECT_EQ(restore.undoMovedFiles({same}, false).at(0), Result::CopyDeleted);
    EXPECT_FALSE(fs::exists(dir / "dest/b"));
}

// A name near the file system's limit replaced by a hard link goes back:
// what is set aside meanwhile has a short name of its own.
TEST(KZSwappedFolders, AnItemWithALongNameReplacedByALinkGoesBack)
{
    kztest::TempDir dir;
    const std::string name = std::string(245, 'n') + ".jpg";
    dir.write("keep/" + name, "same bytes");
    fs::create_directories(dir / "d");
    fs::create_hard_link(dir / "keep" / name, dir / "d" / name);
    dir.write("dest/" + name, "same bytes");

    KZRestoreRemovedFiles restore;
    const KZUndoMovedItem item{dir / "dest" / name, dir / "d" / name, true, false};
    EXPECT_EQ(restore.undoMovedFiles({item}, false).at(0), Result::Restored);
    EXPECT_FALSE(fs::exists(dir / "dest" / name));
    EXPECT_EQ(platform::statPath(dir / "d" / name, false)->links, 1u) << "the item itself, not the link";
    EXPECT_EQ(entriesIn(dir / "d"), 1u) << "nothing left aside";
    EXPECT_EQ(platform::statPath(dir / "keep" / name, false)->links, 1u);
}
