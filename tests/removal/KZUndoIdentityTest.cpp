// Undo and Restore put back only the item that left, and only onto the disk
// it left: a new file given a freed inode, a stranger's file behind a folder
// swapped for a link, or the bare folder of an unplugged disk never takes
// its place.

#include "RemovalTestSupport.h"

#include "platform/Bookmark.h"
#include "platform/NotificationCenter.h"
#include "platform/PropertyList.h"
#include "removal/KZRestoreRemovedFiles.h"
#include "removal/KZUndoFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include <grp.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

using namespace Qt::StringLiterals;
using namespace removaltest;
using Result = KZRestoreRemovedFiles::ItemResult;

namespace {

void emptyFromTrash(const KZPersistentUndoRecord& record)
{
    fs::remove(record.currPosition);
    KZUndoFile::removeTrashInfoOf(record.currPosition);
}

// Saves new files at `path` until one is given `inode`, keeping the others
// aside so that their inodes stay taken; false when the file system never
// hands it out again.
bool saveWithInode(const fs::path& path, quint64 inode, const std::string& bytes)
{
    for (int attempt = 0; attempt < 64; ++attempt) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
        const auto st = platform::statPath(path, false);
        if (st && st->inode == inode)
            return true;
        fs::rename(path, fs::path(path.native() + ".aside" + std::to_string(attempt)));
    }
    return false;
}

// A reference as versions that kept device and inode alone wrote it.
QByteArray deviceAndInodeOnlyBookmark(const fs::path& path)
{
    const auto st = platform::statPath(path, false);
    EXPECT_TRUE(st);
    const QVariantMap map{{u"path"_s, QByteArray::fromStdString(path.native())},
                          {u"pathString"_s, QString::fromStdString(path.native())},
                          {u"device"_s, quint64(st ? st->device : 0)},
                          {u"inode"_s, st ? st->inode : 0}};
    return platform::PropertyList::toData(map, platform::PropertyList::Format::Binary);
}

// The folder `folder` goes aside and a link to `elsewhere` takes its name.
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

void chownTree(const fs::path& top, uid_t uid, gid_t gid)
{
    ASSERT_EQ(::lchown(top.c_str(), uid, gid), 0);
    for (const auto& entry : fs::recursive_directory_iterator(top))
        ASSERT_EQ(::lchown(entry.path().c_str(), uid, gid), 0) << entry.path();
}

// What a move into a chosen folder with its folders made again leaves, and
// the folder made for the source folder, swapped for a link to a stranger's
// folder that holds a file of the same name as one moved.
struct SwappedMadeFolder {
    KZUndoDict dict;
    fs::path made;     // the folder swapped for the link
    fs::path stranger; // where the link leads
};

SwappedMadeFolder moveIntoMadeFoldersThenSwap(Fixture& f)
{
    const auto items = f.items({{"src/a", 1}, {"src/b", 2}, {"src/c", 3}, {"keep/a", 1}, {"keep/b", 2}, {"keep/c", 3}});
    const fs::path dest = f.dir.mkdir("dest");
    f.panel->isMoveToTrash = false;
    f.panel->urlToMove = dest;
    f.panel->createFolders = true;
    auto engine = f.engine({items[0], items[1], items[2]}, items);
    engine->doMove();
    EXPECT_EQ(engine->tally().moved, 3u);
    SwappedMadeFolder swapped{{engine->standardUndo(), engine->itunesUndo(), engine->createdFolderUndo()},
                              dest / f.dir.path().relative_path(), f.dir / "stranger"};
    EXPECT_EQ(swapped.dict.standardUndo.size(), 3u);
    EXPECT_TRUE(fs::exists(swapped.made / "src/a"));
    f.dir.write("stranger/src/a", "the stranger's own a");
    swapForLink(swapped.made, swapped.stranger);
    return swapped;
}

// Undo with the made folder swapped takes nothing through the link and
// removes nothing behind it; with the folder back, everything goes home.
void undoAroundTheSwap(const SwappedMadeFolder& swapped, const fs::path& top)
{
    KZRestoreRemovedFiles restore;
    const auto outcome = restore.doUndoMove(swapped.dict);
    EXPECT_EQ(outcome.restored, 0u);
    EXPECT_EQ(outcome.notRestored.gone, 3u);
    EXPECT_FALSE(fs::exists(top / "src/a")) << "the stranger's file stays theirs";
    EXPECT_EQ(kztest::readFile(swapped.stranger / "src/a"), "the stranger's own a");
    EXPECT_TRUE(fs::is_directory(swapped.stranger / "src")) << "never removed through the link";
    const fs::path real(swapped.made.native() + ".real");
    for (const char* name : {"a", "b", "c"})
        EXPECT_EQ(kztest::readFile(real / "src" / name), "same bytes") << name;

    swapBack(swapped.made);
    const auto back = restore.doUndoMove(swapped.dict);
    EXPECT_EQ(back.restored, 3u);
    EXPECT_EQ(back.notRestored.total(), 0u);
    for (const char* name : {"a", "b", "c"})
        EXPECT_EQ(kztest::readFile(top / "src" / name), "same bytes") << name;
    EXPECT_FALSE(fs::exists(swapped.made)) << "the folders made went again";
    EXPECT_EQ(kztest::readFile(swapped.stranger / "src/a"), "the stranger's own a");
}

// The undos the program offers again (Edit ▸ Undo), as they are posted.
class RegisteredUndos {
public:
    RegisteredUndos()
        : observer_(platform::NotificationCenter::defaultCenter().addObserver(
              u"registerRemovedUndo"_s, {},
              [this](const platform::Notification& n) { dicts_.push_back(n.userInfo.value(u"undoDict"_s).value<KZUndoDict>()); }))
    {
    }
    RegisteredUndos(const RegisteredUndos&) = delete;
    RegisteredUndos& operator=(const RegisteredUndos&) = delete;
    size_t size() const { return dicts_.size(); }
    const KZUndoDict& operator[](size_t i) const { return dicts_[i]; }

private:
    std::vector<KZUndoDict> dicts_;
    platform::Subscription observer_;
};

} // namespace

// A file system hands a freed inode to the next file made: a file saved at
// the old place after the Trash was emptied, or trashed again under the
// same Trash name, is never taken for the item the record names. A record
// of device and inode alone, as older versions wrote it, cannot tell them
// apart and counts as gone.
TEST(KZUndoIdentity, RestoreNeverTakesANewFileGivenTheFreedInodeForTheItem)
{
    // Memory file systems number inodes afresh; a disk's file system (ext4)
    // hands the one just freed to the next file.
    const auto volume = kztest::otherVolume();
    if (!volume)
        GTEST_SKIP() << "no second volume for the temporary folders";
    kztest::TempDir d(*volume);
    kztest::EnvGuard data("XDG_DATA_HOME");
    ::setenv("XDG_DATA_HOME", (d / "data").c_str(), 1);
    const auto saved = trashWithIdentity(d.write("home/report.txt", "the old report"));
    const fs::path file = writeUndoFile({saved}, 500.0);
    emptyFromTrash(saved);
    if (!saveWithInode(saved.oldPosition, saved.inode, "a new report"))
        GTEST_SKIP() << "this file system does not hand a freed inode out again at once";

    KZRestoreRemovedFiles restore;
    auto result = restore.restoreFiles({file});
    EXPECT_EQ(result.restored, 0u);
    EXPECT_EQ(result.notRestored.gone, 1u);
    EXPECT_EQ(kztest::readFile(saved.oldPosition), "a new report");

    // The new file trashed in its turn lies under the old Trash name with
    // the recorded device, inode and original path: it is not the item, and
    // stays in the Trash. Its .trashinfo names the entry's old place, so the
    // entry stays listed, as changed, for the user to judge.
    const auto again = trashWithIdentity(d.write("home/notes.txt", "old notes"));
    const fs::path second = writeUndoFile({again}, 600.0);
    emptyFromTrash(again);
    ASSERT_TRUE(saveWithInode(again.oldPosition, again.inode, "new notes"));
    ASSERT_EQ(platform::moveToTrash(again.oldPosition), again.currPosition);
    result = restore.restoreFiles({second});
    EXPECT_EQ(result.restored, 0u);
    EXPECT_EQ(result.notRestored.changed, 1u);
    ASSERT_TRUE(KZUndoFile::read(second));
    EXPECT_EQ(KZUndoFile::read(second)->entries.size(), 1u);
    EXPECT_EQ(kztest::readFile(again.currPosition), "new notes") << "left in the Trash";
    EXPECT_FALSE(fs::exists(again.oldPosition));

    // The item itself back at its place, with an older record that kept
    // device and inode alone: read, but not taken as proof of the item nor
    // of its disk. It stays listed, as one like it at its old place.
    auto old = trashWithIdentity(d.write("home/old.txt", "old"));
    old.bookmark = deviceAndInodeOnlyBookmark(old.currPosition);
    const fs::path third = writeUndoFile({old}, 700.0);
    fs::rename(old.currPosition, old.oldPosition);
    result = restore.restoreFiles({third});
    EXPECT_EQ(result.restored, 0u);
    EXPECT_EQ(result.notRestored.unproved, 1u);
    EXPECT_EQ(result.notRestored.unreadable, 0u);
    EXPECT_EQ(kztest::readFile(old.oldPosition), "old");
}

// A move onto another disk leaves the items in place and copies them. With
// the originals' disk unplugged, Undo keeps each copy where it is (never on
// the bare folder the disk was mounted on, nor in folders made there), says
// the disk is not connected and keeps the undo; with the disk back, that
// undo takes the copies away.
TEST(KZUndoIdentity, AnUndoKeepsTheCopiesWhileTheOriginalsDiskIsUnplugged)
{
    Fixture f;
    const auto outcome = kztest::runWithPrivateMounts([&] {
        const fs::path store = f.dir / "store";
        const fs::path disk = f.dir / "disk";
        kztest::mountTmpfs(store);
        kztest::bindMount(store, disk);
        const auto items = f.items({{"disk/a", 1}, {"disk/sub/b", 2}, {"keep/a", 1}, {"keep/b", 2}});
        const fs::path dest = f.dir.mkdir("dest");
        f.panel->isMoveToTrash = false;
        f.panel->urlToMove = dest;
        auto engine = f.engine({items[0], items[1]}, items);
        engine->doMove();
        ASSERT_EQ(engine->tally().copied, 2u);
        const KZUndoDict dict{engine->standardUndo(), {}, {}};

        ASSERT_EQ(unplug(disk), 0) << std::strerror(errno);
        const RegisteredUndos registered;
        KZRestoreRemovedFiles restore;
        const auto unplugged = restore.doUndoMove(dict);
        EXPECT_EQ(unplugged.restored, 0u);
        EXPECT_EQ(unplugged.notRestored.missingVolume, 2u);
        EXPECT_EQ(unplugged.notRestored.reasonKey(), u"not_restored_volume"_s);
        EXPECT_EQ(kztest::readFile(dest / "a"), "same bytes");
        EXPECT_EQ(kztest::readFile(dest / "b"), "same bytes");
        EXPECT_TRUE(fs::is_empty(disk)) << "nothing on the bare mount folder";
        ASSERT_EQ(registered.size(), 1u) << "the undo stays";
        EXPECT_EQ(registered[0].standardUndo.size(), 2u);

        kztest::bindMount(store, disk);
        const auto plugged = restore.doUndoMove(registered[0]);
        EXPECT_EQ(plugged.notRestored.total(), 0u);
        EXPECT_FALSE(fs::exists(dest / "a"));
        EXPECT_FALSE(fs::exists(dest / "b"));
        EXPECT_EQ(kztest::readFile(disk / "a"), "same bytes");
        EXPECT_EQ(kztest::readFile(disk / "sub/b"), "same bytes");
        EXPECT_EQ(registered.size(), 1u) << "nothing left to undo";
    });
    if (outcome == kztest::Isolated::Unavailable)
        GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(outcome, kztest::Isolated::Passed);
}

// The disk that holds what a removal moved or copied is unplugged, or
// another disk is mounted in its place: a move of duplicates into a folder
// on their own disk (with folders made there) and a copy onto that disk
// from another. Undo takes none of it for moved or deleted: it says that
// the disk that holds them is not connected and keeps the undo, with the
// folders it made; once the disk is back, that undo puts everything back.
TEST(KZUndoIdentity, AnUndoWaitsForTheDiskThatHoldsWhatItMoved)
{
    for (const bool copies : {false, true}) {
        for (const bool otherDisk : {false, true}) {
            SCOPED_TRACE(testing::Message() << (copies ? "copies" : "moved") << (otherDisk ? ", another disk" : ""));
            Fixture f;
            const auto outcome = kztest::runWithPrivateMounts([&] {
                const fs::path store = f.dir / "store";
                const fs::path disk = f.dir / "disk";
                kztest::mountTmpfs(store);
                kztest::bindMount(store, disk);
                const std::string from = copies ? "here" : "disk/data";
                const auto items = f.items({{from + "/a", 1}, {from + "/sub/b", 2}, {"keep/a", 1}, {"keep/b", 2}});
                const fs::path dest = disk / "dest";
                fs::create_directories(dest);
                f.panel->isMoveToTrash = false;
                f.panel->createFolders = !copies;
                f.panel->urlToMove = dest;
                auto engine = f.engine({items[0], items[1]}, items);
                engine->doMove();
                ASSERT_EQ(copies ? engine->tally().copied : engine->tally().moved, 2u);
                const KZUndoDict dict{engine->standardUndo(), {}, engine->createdFolderUndo()};
                ASSERT_EQ(dict.standardUndo.size(), 2u);
                // Made again below the destination, folder by folder.
                const auto placed = [&](const KZFoundItemRef& item, const char* name) {
                    return copies ? dest / name : dest / item->url().relative_path();
                };
                const fs::path a = placed(items[0], "a");
                const fs::path b = placed(items[1], "b");
                ASSERT_TRUE(fs::exists(a) && fs::exists(b));

                ASSERT_EQ(unplug(disk), 0) << std::strerror(errno);
                // Unplugged, the disk is mounted nowhere: the mount it was
                // bound from is hidden too, or the disk would be found
                // there, where it is mounted now.
                kztest::mountTmpfs(store);
                if (otherDisk) {
                    kztest::mountTmpfs(disk);
                    fs::create_directories(dest);
                }
                const RegisteredUndos registered;
                KZRestoreRemovedFiles restore;
                const auto unplugged = restore.doUndoMove(dict);
                EXPECT_EQ(unplugged.restored, 0u);
                EXPECT_EQ(unplugged.notRestored.gone, 0u) << "nothing is taken for moved or deleted";
                EXPECT_EQ(unplugged.notRestored.holderDisconnected, 2u);
                // A copy's original never left: nothing says it moved.
                EXPECT_EQ(unplugged.notRestored.reasonKey(),
                          copies ? u"not_restored_copy_not_connected"_s : u"not_restored_moved_volume"_s);
                ASSERT_EQ(registered.size(), 1u) << "the undo stays";
                EXPECT_EQ(registered[0].standardUndo.size(), 2u);
                EXPECT_EQ(registered[0].createdFolderUndo.size(), dict.createdFolderUndo.size());

                if (otherDisk) {
                    ASSERT_EQ(unplug(disk), 0) << std::strerror(errno);
                }
                ASSERT_EQ(unplug(store), 0) << std::strerror(errno);
                kztest::bindMount(store, disk);
                const auto plugged = restore.doUndoMove(registered[0]);
                EXPECT_EQ(plugged.notRestored.total(), 0u);
                EXPECT_EQ(plugged.restored, copies ? 0u : 2u);
                EXPECT_FALSE(fs::exists(a));
                EXPECT_FALSE(fs::exists(b));
                EXPECT_EQ(kztest::readFile(f.dir / from / "a"), "same bytes");
                EXPECT_EQ(kztest::readFile(f.dir / from / "sub/b"), "same bytes");
                EXPECT_TRUE(fs::is_empty(dest)) << "the folders the move made went with the undo";
                EXPECT_EQ(registered.size(), 1u) << "nothing left to undo";
            });
            if (outcome == kztest::Isolated::Unavailable)
                GTEST_SKIP() << "no private mount namespace here";
            EXPECT_EQ(outcome, kztest::Isolated::Passed);
        }
    }
}

// A folder that a move made at the destination is swapped for a link to a
// stranger's folder before Undo: nothing is taken from behind the link, no
// folder there is removed, and the items are counted as not where the
// removal put them.
TEST(KZUndoIdentity, AnUndoNeverActsThroughAMadeFolderSwappedForALink)
{
    Fixture f;
    const SwappedMadeFolder swapped = moveIntoMadeFoldersThenSwap(f);
    undoAroundTheSwap(swapped, f.dir.path());
}

// Run by the test below in a process of its own: the removal before the
// swap starts threads, and a forked copy of a process with threads may hang
// on a lock one of them held. The whole process becomes the ordinary user
// once its folders are theirs.
TEST(KZUndoIdentityInFreshProcess, DISABLED_AnUndoAsAnOrdinaryUserNeverActsThroughAMadeFolderSwappedForALink)
{
    if (!kztest::inFreshProcess())
        GTEST_SKIP() << "runs only in the process the test below starts";
    Fixture f;
    const SwappedMadeFolder swapped = moveIntoMadeFoldersThenSwap(f);
    chownTree(f.dir.path(), 65534, 65534);
    ASSERT_EQ(::setgroups(0, nullptr), 0);
    ASSERT_EQ(::setgid(65534), 0);
    ASSERT_EQ(::setuid(65534), 0);
    undoAroundTheSwap(swapped, f.dir.path());
}

// The same for an ordinary user, for whom the system's own links are
// followed and their own never are.
TEST(KZUndoIdentity, AnUndoAsAnOrdinaryUserNeverActsThroughAMadeFolderSwappedForALink)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to become another user";
    EXPECT_EQ(kztest::runTestInFreshProcess(
                  "KZUndoIdentityInFreshProcess.DISABLED_AnUndoAsAnOrdinaryUserNeverActsThroughAMadeFolderSwappedForALink"),
              kztest::Isolated::Passed);
}

// Restore of an item whose Trash is there while the folder it came from is
// the bare folder of an unmounted disk (here a second mount of the same
// file system): no folder is made there, and the item stays in its Trash
// with its record, told as on a volume that is not connected.
TEST(KZUndoIdentity, RestoreMakesNoFoldersOnTheBareFolderOfAnUnmountedDisk)
{
    emptyTrash();
    kztest::TempDir d;
    const auto outcome = kztest::runWithPrivateMounts([&] {
        const fs::path store = d / "store";
        kztest::mountTmpfs(store);
        fs::create_directories(store / "home/sub");
        const fs::path home = d / "home";
        kztest::bindMount(store / "home", home);
        const fs::path item = d.write("home/sub/x", "X");
        const fs::path trash = store / (".Trash-" + std::to_string(::getuid()));
        fs::create_directories(trash / "files");
        fs::create_directories(trash / "info");
        ASSERT_TRUE(platform::createTrashInfo(trash, "x", item));
        fs::rename(store / "home/sub/x", trash / "files/x");
        KZPersistentUndoRecord record;
        record.oldPosition = item;
        record.currPosition = trash / "files/x";
        record.bookmark = platform::createBookmark(record.currPosition);
        const fs::path file = writeUndoFile({record}, 800.0);

        ASSERT_EQ(unplug(home), 0) << std::strerror(errno);
        KZRestoreRemovedFiles restore;
        auto result = restore.restoreFiles({file});
        EXPECT_EQ(result.restored, 0u);
        EXPECT_EQ(result.notRestored.missingVolume, 1u);
        EXPECT_TRUE(fs::is_empty(home)) << "no folder made on the bare folder";
        EXPECT_EQ(kztest::readFile(record.currPosition), "X");
        EXPECT_EQ(KZUndoFile::read(file)->entries.size(), 1u);
    });
    if (outcome == kztest::Isolated::Unavailable)
        GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(outcome, kztest::Isolated::Passed);
}

namespace {

bool quietly(const std::string& command)
{
    return std::system((command + " > /dev/null 2>&1").c_str()) == 0;
}

} // namespace

// An overlay whose upper layer is ext4 with 128-byte inodes keeps neither
// birth times, nor generations it shows, nor fractions of a second: a folder
// moved to dest/D is told by its change time alone. A new dest/D made in
// the same second on the freed inode shows that very time, and Undo leaves
// it where it is rather than move it to the moved folder's old place.
TEST(KZUndoIdentity, AChangeTimeInWholeSecondsNeverMovesANewFolder)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to attach a loop device and mount an overlay";
    kztest::TempDir d;
    const auto outcome = kztest::runWithPrivateMounts([&] {
        const fs::path image = d / "small-inodes.img";
        const fs::path disk = d / "disk";
        const fs::path at = d / "merged";
        fs::create_directories(disk);
        fs::create_directories(at);
        if (!quietly("truncate -s 64M " + image.native()) || !quietly("mkfs.ext4 -q -I 128 " + image.native())
            || !quietly("mount -o loop " + image.native() + " " + disk.native()))
            ::_exit(77);
        for (const char* folder : {"lower", "upper", "work"})
            fs::create_directories(disk / folder);
        const std::string options = "lowerdir=" + (disk / "lower").native() + ",upperdir=" + (disk / "upper").native()
            + ",workdir=" + (disk / "work").native();
        if (::mount("kzoverlay", at.c_str(), "overlay", 0, options.c_str()) != 0)
            ::_exit(77);
        fs::create_directories(at / "dest");
        // A new folder on the freed inode within the same second, tried a
        // few times: a second may end between the two.
        std::optional<KZUndoMovedItem> moved;
        for (int attempt = 0; attempt < 20 && !moved; ++attempt) {
            fs::create_directories(at / "data/D");
            KZUndoMovedItem item{at / "dest/D", at / "data/D"};
            ASSERT_EQ(::rename(item.oldPosition.c_str(), item.currPosition.c_str()), 0);
            item.identity = platform::FileIdentity::ofPath(item.currPosition);
            ASSERT_TRUE(item.identity);
            if (item.identity->birth || item.identity->generation || !item.identity->changed
                || item.identity->changed->nanoseconds != 0)
                ::_exit(77); // this overlay tells its folders apart otherwise
            ASSERT_EQ(::rmdir(item.currPosition.c_str()), 0);
            ASSERT_EQ(::mkdir(item.currPosition.c_str(), 0755), 0);
            const auto made = platform::statPath(item.currPosition, false);
            ASSERT_TRUE(made);
            if (made->inode == item.identity->inode && made->changed.tv_sec == item.identity->changed->seconds)
                moved = item;
            else
                ASSERT_EQ(::rmdir(item.currPosition.c_str()), 0);
        }
        if (!moved)
            ::_exit(77);
        const auto undone = KZRestoreRemovedFiles().doUndoMove({{*moved}, {}, {}});
        EXPECT_EQ(undone.restored, 0u);
        EXPECT_EQ(undone.notRestored.unproved, 1u) << "a folder like it, never taken for it nor given up";
        EXPECT_TRUE(fs::is_directory(at / "dest/D")) << "the new folder stays";
        EXPECT_FALSE(fs::exists(at / "data/D"));
        ::umount2(at.c_str(), 0);
        ::umount2(disk.c_str(), 0);
    });
    if (outcome == kztest::Isolated::Unavailable)
        GTEST_SKIP() << "no loop device, overlay or private mount namespace here";
    EXPECT_EQ(outcome, kztest::Isolated::Passed);
}
