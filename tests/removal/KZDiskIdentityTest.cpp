// Restore, Undo and the recovery of a killed removal find every item again
// where its disk shows it now: a folder whose entries changed (on a file
// system without birth times too), an item overlayfs gave a new birth time
// when it moved, and a disk that came back under another device number.

#include "LoopDisks.h"
#include "RemovalTestSupport.h"

#include "platform/Bookmark.h"
#include "platform/FileIdentity.h"
#include "platform/PropertyList.h"
#include "removal/KZRemovalJournal.h"
#include "removal/KZRestoreRemovedFiles.h"
#include "removal/KZUndoFile.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>

using namespace Qt::StringLiterals;
using namespace removaltest;

namespace {

// As a file system that keeps neither birth times nor inode generations
// (FUSE, vfat) records the item: a folder by its change time alone. The
// temporary folder's own file system may keep a generation (ext4, xfs,
// btrfs) that would prove the folder whatever its entries did.
platform::FileIdentity unborn(const fs::path& item)
{
    auto st = *platform::statPath(item, false);
    st.birth.reset();
    auto identity = platform::FileIdentity::of(AT_FDCWD, item.c_str(), st, platform::fileSystemOf(item));
    identity.generation.reset();
    return identity;
}

QByteArray unbornBookmark(const KZPersistentUndoRecord& record)
{
    auto map = platform::PropertyList::fromData(record.bookmark)->toMap();
    map.remove(u"birthSeconds"_s);
    map.remove(u"birthNanoseconds"_s);
    map.remove(u"generation"_s);
    unborn(record.currPosition).insertInto(map);
    return platform::PropertyList::toData(map, platform::PropertyList::Format::Binary);
}

// As the same disk recorded it under another device number, with or
// without its disk's marks (as a record made before they were kept).
QByteArray elsewhereBookmark(const QByteArray& bookmark, bool keepFileSystem)
{
    auto map = platform::PropertyList::fromData(bookmark)->toMap();
    map.insert(u"device"_s, map.value(u"device"_s).toULongLong() + 1);
    if (!keepFileSystem)
        for (const QString& key : {u"fileSystem"_s, u"volume"_s, u"mount"_s})
            map.remove(key);
    return platform::PropertyList::toData(map, platform::PropertyList::Format::Binary);
}

// The journal of a removal killed after moving `item`, before its entry,
// with the line its intent wrote; by hand, so that a forked child starts no
// thread.
void writeKilledJournal(const fs::path& item, const platform::FileIdentity& identity, int seconds)
{
    const auto time = [](const std::optional<platform::FileIdentity::Time>& t) {
        return t ? std::to_string(t->seconds) + '\t' + std::to_string(t->nanoseconds) : std::string("\t");
    };
    fs::create_directories(trashFiles());
    std::ofstream(trashFiles() / (KZRemovalJournal::namePrefix + std::to_string(seconds)))
        << "maravex-removal-journal 1\nintent\t" << platform::encodeTrashPath(item.native()) << '\t'
        << identity.device << '\t' << identity.inode << "\t0\t0\t-1\t" << time(identity.birth) << '\t'
        << (identity.size ? std::to_string(*identity.size) : "") << '\t' << time(identity.modified) << '\t'
        << (identity.folder ? (*identity.folder ? "d" : "f") : "") << '\t'
        << (identity.fileSystem ? std::to_string(*identity.fileSystem) : "") << '\n';
}

quint64 restoreAll()
{
    return KZRestoreRemovedFiles().restoreFiles(KZUndoFile::list(homeTrash())).restored;
}

void skipUnlessIsolated(kztest::Isolated outcome, const char* why)
{
    if (outcome == kztest::Isolated::Unavailable)
        GTEST_SKIP() << why;
    EXPECT_EQ(outcome, kztest::Isolated::Passed);
}

// A disk image mounted at `at` through a loop device that goes with the
// mount, only inside runWithPrivateMounts(); the child ends as unavailable
// when the machine refuses any step.
struct LoopDisk {
    fs::path image;
    fs::path at;
    std::string holding; // the loop device held by another image

    LoopDisk(const fs::path& folder, const fs::path& mountAt, const std::string& mkfsOptions)
        : image(folder / "disk.img"), at(mountAt)
    {
        fs::create_directories(at);
        if (!kztest::shell("truncate -s 64M " + image.native()) || !kztest::shell("mkfs.ext4 -q " + mkfsOptions + " " + image.native())
            || !kztest::shell("mount -o loop " + image.native() + " " + at.native()))
            ::_exit(77);
    }
    // Attached again while another image holds its old device number.
    void attachUnderAnotherNumber()
    {
        const auto before = platform::statPath(at, false);
        ASSERT_TRUE(before);
        const std::string device = "/dev/loop" + std::to_string(minor(before->device));
        ASSERT_EQ(unplug(at), 0) << std::strerror(errno);
        const fs::path holder = image.native() + ".holder";
        // The loop device is let go once its mount is gone.
        for (int attempt = 0; attempt < 50 && holding.empty(); ++attempt) {
            if (kztest::shell("truncate -s 1M " + holder.native()) && kztest::shell("losetup " + device + " " + holder.native()))
                holding = device;
            else
                ::usleep(100000);
        }
        if (holding.empty() || !kztest::shell("mount -o loop " + image.native() + " " + at.native())) {
            this->~LoopDisk();
            ::_exit(77);
        }
        ASSERT_NE(platform::statPath(at, false)->device, before->device);
    }
    ~LoopDisk()
    {
        ::umount2(at.c_str(), 0);
        if (!holding.empty())
            kztest::detachLoopDevice(holding, image.native() + ".holder");
    }
};

// Runs `body` on a new ext4 disk image made with `mkfsOptions` and attached
// on a loop device, in a private mount namespace; skips where none can be
// had.
void onLoopDisk(const char* mkfsOptions, const std::function<void(LoopDisk&)>& body)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to attach a loop device";
    emptyTrash();
    kztest::TempDir d;
    const auto outcome = kztest::runWithPrivateMounts([&] {
        LoopDisk disk(d.path(), d / "disk", mkfsOptions);
        body(disk);
    });
    skipUnlessIsolated(outcome, "no loop device or private mount namespace here");
}

} // namespace

// A folder is proved by its disk, inode and birth time where both have one,
// never by its size or date, which change with its entries. Recorded as on
// a file system that keeps neither birth times nor generations, a trashed
// folder that gained an entry, like a file whose size changed, is no longer
// surely the item that left: both stay in the Trash and listed, as changed.
// One that a partial merge of Restore emptied in part is recorded anew and
// comes back; Undo leaves a moved folder that gained a file; the recovery
// of a removal killed after moving a folder lists it.
// A folder recorded with nothing that could tell it from another (no birth
// time, no generation, its change time in whole seconds, as through FUSE)
// and changed in the Trash is kept there, listed, as not checked: nothing
// seen says it changed. A file recorded the same way that grew is changed.
TEST(KZDiskIdentity, AFolderThatNothingCouldTellIsNotCheckedRatherThanChanged)
{
    emptyTrash();
    kztest::TempDir d;
    d.write("trashed/x", "x");
    const fs::path file = d.write("file.txt", "file");
    KZPersistentUndoRecord folder = trashWithIdentity(d / "trashed");
    KZPersistentUndoRecord changedFile = trashWithIdentity(file);
    auto map = platform::PropertyList::fromData(unbornBookmark(folder))->toMap();
    map.insert(u"changedNanoseconds"_s, 0);
    folder.bookmark = platform::PropertyList::toData(map, platform::PropertyList::Format::Binary);
    changedFile.bookmark = unbornBookmark(changedFile);
    const fs::path undo = writeUndoFile({folder, changedFile}, 600.0);
    std::ofstream(folder.currPosition / "y") << "added in the Trash";
    std::ofstream(changedFile.currPosition, std::ios::app) << " grown";

    auto result = KZRestoreRemovedFiles().restoreFiles({undo});
    EXPECT_EQ(result.restored, 0u);
    EXPECT_EQ(result.notRestored.changed, 1u);
    EXPECT_EQ(result.notRestored.notChecked, 1u);
    EXPECT_EQ(result.notRestored.reasonKey(), u"not_restored_several"_s);
    EXPECT_TRUE(fs::exists(folder.currPosition / "y"));
    ASSERT_TRUE(KZUndoFile::read(undo));
    EXPECT_EQ(KZUndoFile::read(undo)->entries.size(), 2u) << "both stay listed";
    EXPECT_FALSE(fs::exists(d / "trashed"));
    KZRestoreRemovedFiles::NotRestored alone;
    alone.notChecked = 1;
    EXPECT_EQ(alone.reasonKey(), u"not_restored_not_checked"_s);
    emptyTrash();
}

TEST(KZDiskIdentity, AFolderIsNeverProvedByItsSizeOrDate)
{
    emptyTrash();
    {
        kztest::TempDir d;
        d.write("trashed/x", "x");
        const fs::path file = d.write("file.txt", "file");
        KZPersistentUndoRecord folder = trashWithIdentity(d / "trashed");
        KZPersistentUndoRecord changedFile = trashWithIdentity(file);
        folder.bookmark = unbornBookmark(folder);
        changedFile.bookmark = unbornBookmark(changedFile);
        const fs::path undo = writeUndoFile({folder, changedFile}, 600.0);
        ::sleep(1);
        std::ofstream(folder.currPosition / "y") << "added in the Trash";
        std::ofstream(changedFile.currPosition, std::ios::app) << " grown";
        const auto result = KZRestoreRemovedFiles().restoreFiles({undo});
        EXPECT_EQ(result.restored, 0u);
        EXPECT_EQ(result.notRestored.changed, 2u);
        EXPECT_EQ(result.notRestored.reasonKey(), u"not_restored_changed"_s);
        EXPECT_FALSE(fs::exists(d / "trashed"));
        EXPECT_FALSE(fs::exists(file)) << "a changed file is not surely the file that left";
        EXPECT_TRUE(fs::exists(folder.currPosition / "y"));
        EXPECT_TRUE(fs::exists(changedFile.currPosition));
        ASSERT_TRUE(KZUndoFile::read(undo));
        EXPECT_EQ(KZUndoFile::read(undo)->entries.size(), 2u) << "both stay listed";
    }
    emptyTrash();
    {
        // Restore's own partial merge changes the trashed folder: the entry
        // that clashed keeps it in the Trash, and its record with it.
        kztest::TempDir d;
        d.write("merged/m1", "m1");
        d.write("merged/m2", "m2");
        KZPersistentUndoRecord folder = trashWithIdentity(d / "merged");
        folder.bookmark = unbornBookmark(folder);
        const fs::path undo = writeUndoFile({folder}, 620.0);
        d.write("merged/m2", "the user's own");
        ::sleep(1);
        KZRestoreRemovedFiles restore;
        const auto clashed = restore.restoreFiles({undo});
        EXPECT_EQ(clashed.notRestored.occupied, 1u);
        EXPECT_EQ(kztest::readFile(d / "merged/m1"), "m1");
        fs::rename(d / "merged/m2", d / "m2 of the user");
        const auto second = restore.restoreFiles({undo});
        EXPECT_EQ(second.restored, 1u);
        EXPECT_EQ(kztest::readFile(d / "merged/m2"), "m2");
        EXPECT_FALSE(fs::exists(folder.currPosition));
    }
    emptyTrash();
    {
        Fixture f;
        f.dir.write("moved/a", "same bytes");
        f.dir.write("kept/a", "same bytes");
        const auto items = f.items({{"moved", 1}, {"kept", 1}});
        f.panel->itemsArefiles = false;
        f.panel->isMoveToTrash = false;
        f.panel->urlToMove = f.dir.mkdir("dest");
        auto engine = f.engine({items[0]}, items);
        engine->doMove();
        KZUndoDict dict{engine->standardUndo(), {}, {}};
        ASSERT_EQ(dict.standardUndo.size(), 1u);
        ASSERT_TRUE(dict.standardUndo[0].identity);
        dict.standardUndo[0].identity = unborn(f.dir / "dest/moved");
        ::sleep(1);
        f.dir.write("dest/moved/gained", "new");
        const auto outcome = KZRestoreRemovedFiles().doUndoMove(dict);
        EXPECT_EQ(outcome.restored, 0u);
        EXPECT_EQ(outcome.notRestored.unproved, 1u) << "not proved, so neither moved nor given up";
        EXPECT_EQ(outcome.kept.standardUndo.size(), 1u) << "the undo is offered again";
        EXPECT_EQ(kztest::readFile(f.dir / "dest/moved/gained"), "new") << "left where it is";
    }
    emptyTrash();
    {
        kztest::TempDir d;
        d.write("folder/x", "x");
        writeKilledJournal(d / "folder", unborn(d / "folder"), 650);
        const auto trashed = platform::moveToTrash(d / "folder");
        ASSERT_TRUE(trashed);
        ::sleep(1);
        std::ofstream(*trashed / "y") << "y";
        EXPECT_EQ(KZRemovalJournal::recoverInterrupted(homeTrash()), 1);
        EXPECT_EQ(restoreAll(), 1u);
        EXPECT_EQ(kztest::readFile(d / "folder/y"), "y");
    }
}

// The same disk under another device number, told by its file system's own
// identity: recorded under another number, Restore puts back a file and a
// folder, Undo takes back a moved file, and the recovery of a killed
// removal lists what it moved. A record that kept no identity of its file
// system stays as it was read: its disk is not connected, and its entry stays.
TEST(KZDiskIdentity, TheSameDiskUnderAnotherDeviceNumberIsConnected)
{
    emptyTrash();
    kztest::TempDir d;
    if (!platform::fileSystemOf(d.path()).identity)
        GTEST_SKIP() << "the temporary folder's file system has no identity of its own";
    d.write("folder/x", "x");
    std::vector<KZPersistentUndoRecord> records{trashWithIdentity(d.write("a.txt", "a")),
                                                trashWithIdentity(d / "folder"),
                                                trashWithIdentity(d.write("older.txt", "older"))};
    for (auto& record : records)
        record.bookmark = elsewhereBookmark(record.bookmark, &record != &records[2]);
    const fs::path undo = writeUndoFile(records, 700.0);
    const auto restored = KZRestoreRemovedFiles().restoreFiles({undo});
    EXPECT_EQ(restored.restored, 2u);
    EXPECT_EQ(restored.notRestored.disconnected, 1u);
    EXPECT_EQ(kztest::readFile(d / "a.txt"), "a");
    EXPECT_EQ(kztest::readFile(d / "folder/x"), "x");
    EXPECT_EQ(KZUndoFile::read(undo)->entries.size(), 1u) << "the older record stays";

    {
        Fixture f;
        const auto items = f.items({{"m/a", 1}, {"k/a", 1}});
        f.panel->isMoveToTrash = false;
        f.panel->urlToMove = f.dir.mkdir("dest");
        auto engine = f.engine({items[0]}, items);
        engine->doMove();
        KZUndoDict dict{engine->standardUndo(), {}, {}};
        ASSERT_EQ(dict.standardUndo.size(), 1u);
        KZUndoMovedItem& moved = dict.standardUndo[0];
        ASSERT_TRUE(moved.identity && moved.oldFolderDevice);
        moved.identity->device += 1;
        *moved.oldFolderDevice += 1;
        const auto outcome = KZRestoreRemovedFiles().doUndoMove(dict);
        EXPECT_EQ(outcome.restored, 1u);
        EXPECT_EQ(outcome.notRestored.total(), 0u);
        EXPECT_EQ(kztest::readFile(f.dir / "m/a"), "same bytes");
    }

    emptyTrash();
    const fs::path killed = d.write("killed.txt", "killed");
    auto identity = *platform::FileIdentity::ofPath(killed);
    identity.device += 1;
    writeKilledJournal(killed, identity, 750);
    ASSERT_TRUE(platform::moveToTrash(killed));
    EXPECT_EQ(KZRemovalJournal::recoverInterrupted(homeTrash()), 1);
    EXPECT_EQ(restoreAll(), 1u);
    EXPECT_EQ(kztest::readFile(killed), "killed");
}

// An ext4 disk image on a loop device, attached again under another number
// while another image holds the old one: every item a removal took comes
// back once, by Restore (a file and a folder), by Undo (a move) and by the
// recovery of a removal killed after its move.
TEST(KZDiskIdentity, ADiskAttachedAgainUnderAnotherNumberGivesBackEveryItemOnce)
{
    onLoopDisk("", [](LoopDisk& disk) {
        const fs::path at = disk.at;
        fs::create_directories(at / "data/folder");
        std::ofstream(at / "data/folder/x") << "x";
        std::ofstream(at / "data/a.txt") << "a";
        const KZPersistentUndoRecord file = trashWithIdentity(at / "data/a.txt");
        const KZPersistentUndoRecord folder = trashWithIdentity(at / "data/folder");
        writeUndoFile({file, folder}, 800.0);

        std::ofstream(at / "data/moved") << "moved";
        fs::create_directories(at / "dest");
        KZUndoMovedItem moved{at / "dest/moved", at / "data/moved"};
        moved.identity = platform::FileIdentity::ofPath(at / "data/moved");
        moved.setOldFolderDisk(*platform::diskOf(at / "data"));
        fs::rename(at / "data/moved", at / "dest/moved");

        std::ofstream(at / "data/killed") << "killed";
        writeKilledJournal(at / "data/killed", *platform::FileIdentity::ofPath(at / "data/killed"), 850);
        ASSERT_TRUE(platform::moveToTrash(at / "data/killed"));

        disk.attachUnderAnotherNumber();

        KZRestoreRemovedFiles restore;
        const auto undone = restore.doUndoMove({{moved}, {}, {}});
        EXPECT_EQ(undone.restored, 1u);
        EXPECT_EQ(kztest::readFile(at / "data/moved"), "moved");
        EXPECT_EQ(KZRemovalJournal::recoverInterrupted(homeTrash()), 1);
        const auto result = restore.restoreFiles(KZUndoFile::list(homeTrash()));
        EXPECT_EQ(result.restored, 3u);
        EXPECT_EQ(result.notRestored.total(), 0u);
        EXPECT_EQ(kztest::readFile(file.oldPosition), "a");
        EXPECT_EQ(kztest::readFile(at / "data/folder/x"), "x");
        EXPECT_EQ(kztest::readFile(at / "data/killed"), "killed");
        EXPECT_EQ(listedRecords(homeTrash()), 0u) << "each item listed once";
    });
}

// On ext4 with 128-byte inodes, which keep no birth time: a trashed folder
// that gained an entry in the Trash is restored, and Undo takes back a moved
// folder that gained a file; a file is still proved by size and date.
TEST(KZDiskIdentity, OnAFileSystemWithoutBirthTimesAChangedFolderComesBack)
{
    onLoopDisk("-I 128", [](LoopDisk& disk) {
        const fs::path at = disk.at;
        if (platform::statPath(at, false)->birth)
            ::_exit(77);
        fs::create_directories(at / "data/trashed");
        std::ofstream(at / "data/trashed/x") << "x";
        const KZPersistentUndoRecord folder = trashWithIdentity(at / "data/trashed");
        writeUndoFile({folder}, 900.0);

        fs::create_directories(at / "data/moved");
        fs::create_directories(at / "dest");
        KZUndoMovedItem moved{at / "dest/moved", at / "data/moved"};
        moved.identity = platform::FileIdentity::ofPath(at / "data/moved");
        fs::rename(at / "data/moved", at / "dest/moved");

        ::sleep(1);
        std::ofstream(folder.currPosition / "y") << "y";
        std::ofstream(at / "dest/moved/gained") << "gained";
        KZRestoreRemovedFiles restore;
        EXPECT_EQ(restore.doUndoMove({{moved}, {}, {}}).restored, 1u);
        EXPECT_EQ(kztest::readFile(at / "data/moved/gained"), "gained");
        const auto result = restore.restoreFiles(KZUndoFile::list(homeTrash()));
        EXPECT_EQ(result.restored, 1u);
        EXPECT_EQ(kztest::readFile(at / "data/trashed/y"), "y");
    });
}

// Overlayfs gives a lower layer's file a new birth time when it moves: Undo
// of a move takes back every file, and the recovery of a removal killed
// between a move to the Trash and its entry lists the item.
TEST(KZDiskIdentity, OnOverlayAMovedItemIsProvedBySizeAndDate)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to mount an overlay";
    emptyTrash();
    kztest::TempDir d;
    for (const char* name : {"a", "b", "c", "killed"})
        d.write(std::string("lower/data/") + name, name);
    const auto outcome = kztest::runWithPrivateMounts([&] {
        const fs::path at = d / "merged";
        for (const char* folder : {"upper", "work", "merged"})
            fs::create_directories(d / folder);
        const std::string options = "lowerdir=" + (d / "lower").native() + ",upperdir=" + (d / "upper").native()
            + ",workdir=" + (d / "work").native();
        if (::mount("kzoverlay", at.c_str(), "overlay", 0, options.c_str()) != 0)
            ::_exit(77);
        EXPECT_FALSE(platform::fileSystemOf(at / "data/a").keepsBirthAcrossRename);
        fs::create_directories(at / "dest");
        KZUndoDict dict;
        for (const char* name : {"a", "b", "c"}) {
            KZUndoMovedItem moved{at / "dest" / name, at / "data" / name};
            const auto leaving = platform::statPath(moved.oldPosition, false);
            fs::rename(moved.oldPosition, moved.currPosition);
            moved.identity = platform::FileIdentity::of(*leaving, platform::fileSystemOf(moved.currPosition));
            dict.standardUndo.push_back(moved);
        }
        writeKilledJournal(at / "data/killed", *platform::FileIdentity::ofPath(at / "data/killed"), 950);
        ASSERT_TRUE(platform::moveToTrash(at / "data/killed"));

        KZRestoreRemovedFiles restore;
        EXPECT_EQ(restore.doUndoMove(dict).restored, 3u);
        for (const char* name : {"a", "b", "c"})
            EXPECT_EQ(kztest::readFile(at / "data" / name), name);
        EXPECT_EQ(KZRemovalJournal::recoverInterrupted(homeTrash()), 1);
        EXPECT_EQ(restore.restoreFiles(KZUndoFile::list(homeTrash())).restored, 1u);
        EXPECT_EQ(kztest::readFile(at / "data/killed"), "killed");
    });
    skipUnlessIsolated(outcome, "no overlay or private mount namespace here");
}

// A removal killed after moving a file that then changed in the Trash, on a
// file system without birth times: the recovery still lists it (its inode,
// disk and .trashinfo say it is the one that left, and nothing says
// otherwise), so Restore can put it back rather than lose track of it.
TEST(KZDiskIdentity, AKilledRemovalsFileThatChangedInTheTrashStaysListed)
{
    emptyTrash();
    kztest::TempDir d;
    const fs::path file = d.write("data/f", "f");
    writeKilledJournal(file, unborn(file), 660);
    const auto trashed = platform::moveToTrash(file);
    ASSERT_TRUE(trashed);
    std::ofstream(*trashed, std::ios::app) << " changed";
    EXPECT_EQ(KZRemovalJournal::recoverInterrupted(homeTrash()), 1);
    const auto result = KZRestoreRemovedFiles().restoreFiles(KZUndoFile::list(homeTrash()));
    EXPECT_EQ(result.restored, 1u);
    EXPECT_EQ(kztest::readFile(file), "f changed");
}
