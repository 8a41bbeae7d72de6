// Restore and Undo act only where the item is proved to be the one that
// left, on every file system this machine can mount: another disk given
// the old device number, a folder made on a freed inode, a trashed file
// whose date was touched, and a byte copy of the disk in its place. What
// is not proved stays where it is, and so does its record.

#include "LoopDisks.h"
#include "RunConditions.h"
#include "RemovalTestSupport.h"

#include "platform/Bookmark.h"
#include "platform/FileIdentity.h"
#include "platform/KernelConditions.h"
#include "removal/KZRemovalJournal.h"
#include "removal/KZRestoreList.h"
#include "removal/KZRestoreRemovedFiles.h"
#include "removal/KZUndoFile.h"

#include <gtest/gtest.h>

#include <QScopeGuard>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <utility>

using namespace removaltest;

namespace {

// Ext4SameHalves: a UUID whose two halves are alike, which ext4 folds into
// an f_fsid of 0: a file system that tells no identity of its own.
// FuseVfat: vfat through FUSE, on no block device, with an f_fsid of 0, its
// files numbered anew at every mount: the volume serial libblkid reads from
// the image its mount names tells it.
// Exfat: exFAT through FUSE on a loop device, as the usual USB stick: its
// files keep no modes and are numbered anew at every mount.
// FuseVfatUnnamed: vfat through FUSE mounted the default way, naming no
// device or image: no identity of any kind can be read.
enum class Kind { Ext4, Ext4NoBirth, Ext4SameHalves, Xfs, Btrfs, Tmpfs, Overlay, FuseVfat, FuseVfatUnnamed, Exfat };

bool isFuseVfat(Kind kind)
{
    return kind == Kind::FuseVfat || kind == Kind::FuseVfatUnnamed;
}

// How fusefat is told to mount `image` at `at`: naming it, or the default
// way.
std::string fusefatCommand(Kind kind, const fs::path& image, const fs::path& at)
{
    const std::string named = kind == Kind::FuseVfat ? "fsname=" + image.native() + "," : std::string();
    return "fusefat -o " + named + "rw+ " + image.native() + " " + at.native();
}

const char* nameOf(Kind kind)
{
    switch (kind) {
    case Kind::Ext4:
        return "ext4";
    case Kind::Ext4NoBirth:
        return "ext4 with 128-byte inodes";
    case Kind::Ext4SameHalves:
        return "ext4 whose identity folds to 0";
    case Kind::Xfs:
        return "xfs";
    case Kind::Btrfs:
        return "btrfs";
    case Kind::Tmpfs:
        return "tmpfs";
    case Kind::FuseVfat:
        return "vfat through FUSE";
    case Kind::FuseVfatUnnamed:
        return "vfat through FUSE naming no device";
    case Kind::Exfat:
        return "exFAT through FUSE";
    case Kind::Overlay:
        return "overlay";
    }
    return "?";
}

// The child that runs a case ends so when the kernel or the machine
// refuses a disk of this kind: the case then says that it skipped.
constexpr int kUnavailable = 77;

// Disk images of one kind, attached one at a time on one loop device, so
// that the next one attached takes the device number of the one before.
struct Disks {
    Kind kind;
    fs::path folder;
    fs::path at;
    // The number each image takes in turn, and the image on it now (none
    // between a detach and the next attach).
    std::string device;
    fs::path attached;
    // Each step runs as uid 65534, with a home folder of its own, where
    // root passes checks of owner and permission that a user fails.
    bool ordinaryUser = false;

    Disks(Kind k, const fs::path& f) : kind(k), folder(f), at(f / "mnt") { fs::create_directories(at); }

    // Runs `step` as the user the case is for: this process's, or the
    // ordinary user in a child of its own, given the disk's top folder.
    void asUser(const std::function<void()>& step)
    {
        if (!ordinaryUser) {
            step();
            return;
        }
        const uid_t user = 65534;
        const fs::path home = folder / "home";
        fs::create_directories(home);
        ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
        ASSERT_EQ(::lchown(home.c_str(), user, user), 0);
        ASSERT_EQ(::lchown(at.c_str(), user, user), 0);
        EXPECT_TRUE(passesAsUser(user, home / ".local/share", [&] {
            ::setenv("HOME", home.c_str(), 1);
            ::setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
            step();
        })) << "the ordinary user's step failed";
    }
    ~Disks()
    {
        ::umount2(at.c_str(), MNT_DETACH);
        if (!device.empty() && !attached.empty())
            kztest::detachLoopDevice(device, attached);
    }

    fs::path make(const std::string& name)
    {
        const fs::path image = folder / (name + ".img");
        if (isFuseVfat(kind)) {
            const std::string serial = name == "A" ? "1111AAAA" : "2222BBBB";
            if (!kztest::shell("truncate -s 32M " + image.native()) || !kztest::shell("mkfs.vfat -i " + serial + " " + image.native()))
                ::_exit(kUnavailable);
            return image;
        }
        if (kind == Kind::Exfat) {
            if (!kztest::shell("truncate -s 64M " + image.native()) || !kztest::shell("mkfs.exfat " + image.native() + " >/dev/null"))
                ::_exit(kUnavailable);
            return image;
        }
        const char* size = kind == Kind::Xfs ? "320M" : kind == Kind::Btrfs ? "160M" : "64M";
        const std::string mkfs = kind == Kind::Xfs     ? "mkfs.xfs -q"
                                 : kind == Kind::Btrfs ? "mkfs.btrfs -q"
                                 : kind == Kind::Ext4NoBirth ? "mkfs.ext4 -q -I 128"
                                 : kind == Kind::Ext4SameHalves
                                     ? "mkfs.ext4 -q -U 01234567-89ab-cdef-0123-456789abcdef"
                                     : "mkfs.ext4 -q";
        if (!kztest::shell(std::string("truncate -s ") + size + " " + image.native()) || !kztest::shell(mkfs + " " + image.native()))
            ::_exit(kUnavailable);
        return image;
    }
    void attach(const fs::path& image)
    {
        if (isFuseVfat(kind)) {
            if (!kztest::shell(fusefatCommand(kind, image, at)))
                ::_exit(kUnavailable);
            return;
        }
        if (device.empty()) {
            device = kztest::shellOutput("losetup -f --show " + image.native());
            if (device.empty())
                ::_exit(kUnavailable);
        } else if (!kztest::shell("losetup " + device + " " + image.native())) {
            ::_exit(kUnavailable);
        }
        attached = image;
        if (!kztest::shell((kind == Kind::Exfat ? "mount.exfat-fuse " : "mount ") + device + " " + at.native())) {
            kztest::detachLoopDevice(device, image);
            device.clear();
            ::_exit(kUnavailable);
        }
    }
    // Unmounted and detached, as when its disk is unplugged; the device
    // stays free for the next image.
    void detach()
    {
        ASSERT_EQ(unplug(at), 0) << std::strerror(errno);
        if (isFuseVfat(kind))
            return;
        if (!kztest::detachLoopDevice(device, std::exchange(attached, fs::path())))
            FAIL() << "the loop device stays busy";
    }
};

// A mounted file system of `kind` at `folder`/mnt, inside a private mount
// namespace; Disks only for the kinds on loop devices.
void mountOther(Kind kind, const fs::path& folder, const fs::path& at)
{
    if (kind == Kind::Tmpfs) {
        kztest::mountTmpfs(at);
        return;
    }
    // Overlay over layers on a tmpfs of their own; what the cases make lies
    // in its upper layer.
    kztest::mountTmpfs(folder / "layers");
    for (const char* layer : {"lower", "upper", "work"})
        fs::create_directories(folder / "layers" / layer);
    const std::string options = "lowerdir=" + (folder / "layers/lower").native() + ",upperdir="
        + (folder / "layers/upper").native() + ",workdir=" + (folder / "layers/work").native();
    if (::mount("kzoverlay", at.c_str(), "overlay", 0, options.c_str()) != 0)
        ::_exit(kUnavailable);
}

// On an image of its own (a loop device, or FUSE).
bool onLoop(Kind kind)
{
    return kind != Kind::Tmpfs && kind != Kind::Overlay;
}

// Whether the block devices are read for a serial of their own, or act as
// those of a machine whose disks report none (most virtual disks, many USB
// sticks): then a loop device tells nothing of its image either.
enum class Serials { Read, NoneReported };

// Runs `body` once for each kind, each in a private mount namespace, and
// says which kinds this machine could not mount.
void forEachKind(std::initializer_list<Kind> kinds, const std::function<void(Kind, Disks&)>& body,
                 bool ordinaryUser = false, Serials serials = Serials::Read)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to attach and mount disks";
    std::string skipped;
    for (Kind kind : kinds) {
        SCOPED_TRACE(nameOf(kind));
        emptyTrash();
        // The ordinary user reaches its folder whatever TMPDIR is.
        const auto d = ordinaryUser ? std::make_unique<kztest::UserFolder>() : std::make_unique<kztest::TempDir>();
        const auto outcome = kztest::runWithPrivateMounts([&] {
            if (serials == Serials::NoneReported) {
                platform::KernelConditions conditions = kztest::runKernelConditions();
                conditions.deviceSerials = false;
                platform::setKernelConditions(conditions);
            }
            Disks disks(kind, d->path());
            disks.ordinaryUser = ordinaryUser;
            if (onLoop(kind))
                disks.attach(disks.make("A"));
            else
                mountOther(kind, d->path(), disks.at);
            body(kind, disks);
        });
        if (outcome == kztest::Isolated::Unavailable)
            skipped += std::string(skipped.empty() ? "" : ", ") + nameOf(kind);
        else
            EXPECT_EQ(outcome, kztest::Isolated::Passed);
    }
    if (!skipped.empty())
        std::fprintf(stderr, "Not mounted here (the kernel or the tools refused): %s\n", skipped.c_str());
}

quint64 entriesOf(const fs::path& undo)
{
    const auto contents = KZUndoFile::read(undo);
    return contents ? contents->entries.size() : 0;
}

// Those of them Restore lists: one kept for the disk itself after its item
// went back from a disk that may have been a copy (one whose mount nothing
// proves, before Linux 6.8) is not listed while no Trash holds its item.
quint64 listedEntriesOf(const fs::path& undo)
{
    const auto contents = KZUndoFile::read(undo);
    return contents ? quint64(std::count_if(contents->entries.begin(), contents->entries.end(),
                                            [](const KZUndoFile::Entry& entry) {
                                                return KZRestoreRemovedFiles::isListed(entry);
                                            }))
                    : 0;
}

// The removals Restore lists now: a record kept for the disk itself after
// its items went back from a disk that may be a copy of it is not listed
// while no Trash holds them.
size_t listedRemovals()
{
    KZRestoreList list(homeTrash());
    list.permanentItems();
    return list.rows().size();
}

} // namespace

// Disk A is unplugged and disk B, with a Trash of its own holding an item
// of the same name and old place, takes A's device number: Restore puts
// nothing of B back and keeps A's record; Undo of a copy made from A puts
// the copy nowhere on B. With A back, both go back.
static void anotherDiskUnderTheOldNumber(Disks& disks)
{
    const fs::path at = disks.at;
    const fs::path imageA = disks.folder / "A.img";
    const fs::path imageB = disks.make("B");
    const fs::path dest = disks.folder / "dest";
    disks.asUser([&] {
        std::ofstream(at / "w") << "A's own";
        writeUndoFile({trashWithIdentity(at / "w")}, KZUndoFile::nowSinceReferenceDate());
    });
    // The copy a move to another disk made, the original left in place.
    std::optional<KZUndoMovedItem> copy;
    if (!disks.ordinaryUser) {
        fs::create_directories(at / "t/b");
        std::ofstream(at / "t/b/x") << "copied away";
        fs::create_directories(dest);
        fs::copy_file(at / "t/b/x", dest / "x");
        copy = KZUndoMovedItem{dest / "x", at / "t/b/x", false, true};
        copy->copyIdentity = KZCopyIdentity::capture(dest / "x");
        copy->identity = platform::FileIdentity::ofPath(dest / "x");
        copy->setOldFolderDisk(*platform::diskOf(at / "t/b"));
    }

    disks.detach();
    disks.attach(imageB);
    disks.asUser([&] {
        std::ofstream(at / "w") << "B's own";
        ASSERT_TRUE(platform::moveToTrash(at / "w"));
        // A file manager's own use of B's Trash.
        std::ofstream(at / "unrelated") << "B's";
        ASSERT_TRUE(platform::moveToTrash(at / "unrelated"));
        const auto undoFiles = KZUndoFile::list(homeTrash());
        ASSERT_EQ(undoFiles.size(), 1u);
        const auto result = KZRestoreRemovedFiles().restoreFiles(undoFiles);
        EXPECT_EQ(result.restored, 0u);
        // Not connected; or, where B carries A's identity (written with the
        // same UUID) and no serial tells them apart, not proved either way.
        EXPECT_EQ(result.notRestored.total(), 1u);
        EXPECT_EQ(result.notRestored.gone, 0u);
        EXPECT_FALSE(fs::exists(at / "w")) << "B's trashed item stays in B's Trash";
        EXPECT_EQ(entriesOf(undoFiles[0]), 1u) << "A's record is kept";
    });
    if (copy) {
        const auto undone = KZRestoreRemovedFiles().doUndoMove({{*copy}, {}, {}});
        EXPECT_EQ(undone.restored, 0u);
        EXPECT_EQ(undone.notRestored.missingVolume + undone.notRestored.possibleCopy, 1u);
        EXPECT_EQ(undone.kept.standardUndo.size(), 1u) << "the undo waits for A";
        EXPECT_FALSE(fs::exists(at / "t")) << "no folder is made on B";
        EXPECT_TRUE(fs::exists(dest / "x"));
    }

    disks.detach();
    disks.attach(imageA);
    disks.asUser([&] {
        const auto undoFiles = KZUndoFile::list(homeTrash());
        // vfat through FUSE numbers its files anew at every mount: its
        // item is proved under its Trash name by all but its number.
        const auto back = KZRestoreRemovedFiles().restoreFiles(undoFiles);
        EXPECT_EQ(back.restored, 1u);
        EXPECT_EQ(kztest::readFile(at / "w"), "A's own");
        EXPECT_EQ(listedRemovals(), 0u);
    });
}

TEST(KZProofOnEveryDisk, AnotherDiskUnderTheOldNumberIsNotTheItemsDisk)
{
    forEachKind({Kind::Ext4, Kind::Ext4NoBirth, Kind::Ext4SameHalves, Kind::Xfs, Kind::Btrfs, Kind::FuseVfat},
                [](Kind, Disks& disks) { anotherDiskUnderTheOldNumber(disks); });
}

TEST(KZProofOnEveryDisk, AnotherDiskUnderTheOldNumberIsNotTheItemsDiskForAnOrdinaryUser)
{
    forEachKind({Kind::Ext4, Kind::Ext4SameHalves, Kind::Xfs},
                [](Kind, Disks& disks) { anotherDiskUnderTheOldNumber(disks); }, true);
}

TEST(KZProofOnEveryDisk, AnotherDiskUnderTheOldNumberIsNotTheItemsDiskWhereDisksReportNoSerial)
{
    forEachKind({Kind::Ext4, Kind::Ext4NoBirth, Kind::Ext4SameHalves, Kind::Xfs, Kind::Btrfs, Kind::FuseVfat},
                [](Kind, Disks& disks) { anotherDiskUnderTheOldNumber(disks); }, false, Serials::NoneReported);
    forEachKind({Kind::Ext4, Kind::Xfs}, [](Kind, Disks& disks) { anotherDiskUnderTheOldNumber(disks); }, true,
                Serials::NoneReported);
}

// A duplicate folder moved away, deleted there by the user and made anew
// under its name (a file system hands the new folder the freed inode): Undo
// leaves the user's new folder where it is and says the item is gone. The
// folder itself, untouched, comes back.
static void folderOnAFreedInode(Disks& disks)
{
    disks.asUser([&] {
        const fs::path at = disks.at;
        for (int round = 0; round < 2; ++round) {
            SCOPED_TRACE(round);
            Fixture f;
            fs::create_directories(at / "t/a/D");
            fs::create_directories(at / "t/b/D");
            fs::create_directories(at / "dest");
            std::ofstream(at / "t/a/D/f") << "same bytes";
            std::ofstream(at / "t/b/D/f") << "same bytes";
            const auto items = f.items({{(at / "t/b/D").native(), 1}, {(at / "t/a/D").native(), 1}});
            f.panel->itemsArefiles = false;
            f.panel->isMoveToTrash = false;
            f.panel->urlToMove = at / "dest";
            auto engine = f.engine({items[0]}, items);
            engine->doMove();
            ASSERT_TRUE(fs::exists(at / "dest/D/f"));
            const KZUndoDict dict{engine->standardUndo(), {}, {}};
            ASSERT_EQ(dict.standardUndo.size(), 1u);
            const bool replaced = round == 0;
            if (replaced) {
                fs::remove_all(at / "dest/D");
                fs::create_directory(at / "dest/D");
                std::ofstream(at / "dest/D/mine") << "the user's";
            }
            const auto outcome = KZRestoreRemovedFiles().doUndoMove(dict);
            if (replaced) {
                EXPECT_EQ(outcome.restored, 0u);
                // Gone; or, where nothing proves the mount (an overlay before
                // Linux 6.8), on a disk that may be a copy: not gone there.
                EXPECT_EQ(outcome.notRestored.gone + outcome.notRestored.possibleCopy, 1u);
                EXPECT_EQ(kztest::readFile(at / "dest/D/mine"), "the user's");
                EXPECT_FALSE(fs::exists(at / "t/b/D"));
            } else {
                EXPECT_EQ(outcome.restored, 1u);
                EXPECT_EQ(kztest::readFile(at / "t/b/D/f"), "same bytes");
            }
            fs::remove_all(at / "t");
            fs::remove_all(at / "dest");
        }
    });
}

TEST(KZProofOnEveryDisk, AFolderOnAFreedInodeIsNotTheFolderThatLeft)
{
    forEachKind({Kind::Ext4, Kind::Ext4NoBirth, Kind::Xfs, Kind::Btrfs, Kind::Tmpfs, Kind::Overlay},
                [](Kind, Disks& disks) { folderOnAFreedInode(disks); });
}

TEST(KZProofOnEveryDisk, AFolderOnAFreedInodeIsNotTheFolderThatLeftForAnOrdinaryUser)
{
    forEachKind({Kind::Ext4NoBirth, Kind::Overlay}, [](Kind, Disks& disks) { folderOnAFreedInode(disks); }, true);
}

// A trashed file whose date a preview or a backup tool touched is still in
// the Trash: where no birth time proves it, it stays listed as changed;
// where one does, it comes back. Its record is never dropped while it is
// there.
static void touchedTrashedFile(Disks& disks)
{
    disks.asUser([&] {
        const fs::path at = disks.at;
        fs::create_directories(at / "r");
        std::ofstream(at / "r/a") << "a";
        std::ofstream(at / "r/b") << "b";
        const auto a = trashWithIdentity(at / "r/a");
        const auto b = trashWithIdentity(at / "r/b");
        const fs::path undo = writeUndoFile({a, b}, KZUndoFile::nowSinceReferenceDate());
        const timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, b.currPosition.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
        const auto result = KZRestoreRemovedFiles().restoreFiles({undo});
        EXPECT_EQ(kztest::readFile(at / "r/a"), "a");
        if (fs::exists(b.currPosition)) {
            EXPECT_EQ(result.restored, 1u);
            EXPECT_EQ(result.notRestored.changed, 1u);
            EXPECT_EQ(listedEntriesOf(undo), 1u) << "the touched file is still in the Trash";
            EXPECT_TRUE(platform::readTrashInfo(b.currPosition));
        } else {
            EXPECT_EQ(result.restored, 2u);
            EXPECT_EQ(kztest::readFile(at / "r/b"), "b");
        }
    });
}

TEST(KZProofOnEveryDisk, ATouchedTrashedFileStaysListed)
{
    forEachKind({Kind::Ext4, Kind::Ext4NoBirth, Kind::Xfs, Kind::Btrfs, Kind::Tmpfs, Kind::Overlay},
                [](Kind, Disks& disks) { touchedTrashedFile(disks); });
}

TEST(KZProofOnEveryDisk, ATouchedTrashedFileStaysListedForAnOrdinaryUser)
{
    forEachKind({Kind::Ext4NoBirth, Kind::Overlay}, [](Kind, Disks& disks) { touchedTrashedFile(disks); }, true);
}

// A byte copy of the disk, made before six of its files went to the Trash,
// mounted in its place: its files lie at their old places with every
// identity the same, but nothing on it shows that they left a Trash, so
// Restore counts none of them back and keeps every record; two files made
// after the copy are not on it at all, and their records stay too. With
// the disk itself back, all eight come back. Both with and without a Trash
// on the disk before the copy.
TEST(KZProofOnEveryDisk, AByteCopyOfTheDiskIsNotTheDisk)
{
    forEachKind({Kind::Ext4, Kind::Xfs, Kind::Ext4NoBirth}, [](Kind, Disks& disks) {
        const fs::path at = disks.at;
        const fs::path imageA = disks.folder / "A.img";
        for (bool trashBefore : {false, true}) {
            SCOPED_TRACE(trashBefore);
            emptyTrash();
            fs::remove_all(at / "r");
            fs::create_directories(at / "r");
            std::vector<fs::path> files;
            for (int i = 0; i < 6; ++i) {
                files.push_back(at / "r" / std::to_string(i));
                std::ofstream(files.back()) << i;
            }
            if (trashBefore) {
                std::ofstream(at / "old") << "trashed long ago";
                ASSERT_TRUE(platform::moveToTrash(at / "old"));
            }
            kztest::syncDisk(at);
            disks.detach();
            const fs::path clone = disks.folder / "clone.img";
            ASSERT_TRUE(kztest::shell("cp --sparse=always " + imageA.native() + " " + clone.native()));
            disks.attach(imageA);
            ::sleep(1);
            for (int i = 6; i < 8; ++i) {
                files.push_back(at / "r" / std::to_string(i));
                std::ofstream(files.back()) << i;
            }
            std::vector<KZPersistentUndoRecord> records;
            for (const fs::path& file : files)
                records.push_back(trashWithIdentity(file));
            const fs::path undo = writeUndoFile(records, KZUndoFile::nowSinceReferenceDate());

            disks.detach();
            disks.attach(clone);
            KZRestoreRemovedFiles restore;
            const auto onClone = restore.restoreFiles({undo});
            EXPECT_EQ(onClone.restored, 0u);
            EXPECT_EQ(onClone.notRestored.total(), 8u);
            EXPECT_EQ(entriesOf(undo), 8u) << "every record is kept";

            disks.detach();
            disks.attach(imageA);
            const auto back = restore.restoreFiles({undo});
            EXPECT_EQ(back.restored, 8u);
            for (int i = 0; i < 8; ++i)
                EXPECT_EQ(kztest::readFile(files[size_t(i)]), std::to_string(i));
            fs::remove(clone);
        }
    });
}

// A byte copy of the disk in its place, used as any disk is used: its files
// at their old places given another mode, and a file manager's own use of
// its Trash. Nothing on it shows that an item left the disk's Trash or is
// gone from it: Restore keeps every record and puts nothing back, and with
// the disk itself back, every item comes back. Both with a copy made after
// the files were made and one made before.
static void usedByteCopy(Disks& disks)
{
    const fs::path at = disks.at;
    const fs::path imageA = disks.folder / "A.img";
    for (bool copyOlderThanFiles : {false, true}) {
        SCOPED_TRACE(copyOlderThanFiles);
        emptyTrash();
        fs::remove_all(at / "r");
        fs::create_directories(at / "r");
        ASSERT_EQ(::chmod((at / "r").c_str(), 0777), 0);
        const auto copyDisk = [&] {
            kztest::syncDisk(at);
            disks.detach();
            ASSERT_TRUE(kztest::shell("cp --sparse=always " + imageA.native() + " " + (disks.folder / "clone.img").native()));
            disks.attach(imageA);
        };
        if (copyOlderThanFiles)
            copyDisk();
        std::vector<fs::path> files;
        for (int i = 0; i < 6; ++i)
            files.push_back(at / "r" / std::to_string(i));
        disks.asUser([&] {
            for (int i = 0; i < 6; ++i)
                std::ofstream(files[size_t(i)]) << i;
        });
        if (!copyOlderThanFiles)
            copyDisk();
        disks.asUser([&] {
            std::vector<KZPersistentUndoRecord> records;
            for (const fs::path& file : files)
                records.push_back(trashWithIdentity(file));
            writeUndoFile(records, KZUndoFile::nowSinceReferenceDate());
        });

        disks.detach();
        disks.attach(disks.folder / "clone.img");
        ::sleep(1);
        disks.asUser([&] {
            if (copyOlderThanFiles) {
                std::ofstream(at / "unrelated") << "trashed by a file manager";
                ASSERT_TRUE(platform::moveToTrash(at / "unrelated"));
            } else {
                for (const fs::path& file : files)
                    ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
            }
            // This round's removal: one an earlier round put back from a disk
            // that may have been a copy stays, unlisted.
            std::vector<fs::path> undoFiles;
            for (const fs::path& file : KZUndoFile::list(homeTrash()))
                if (listedEntriesOf(file) > 0)
                    undoFiles.push_back(file);
            ASSERT_EQ(undoFiles.size(), 1u);
            const auto onCopy = KZRestoreRemovedFiles().restoreFiles(undoFiles);
            EXPECT_EQ(onCopy.restored, 0u);
            EXPECT_EQ(onCopy.notRestored.gone, 0u);
            EXPECT_EQ(onCopy.notRestored.total(), 6u);
            EXPECT_EQ(entriesOf(undoFiles[0]), 6u) << "every record is kept";
        });

        disks.detach();
        disks.attach(imageA);
        disks.asUser([&] {
            const auto back = KZRestoreRemovedFiles().restoreFiles(KZUndoFile::list(homeTrash()));
            EXPECT_EQ(back.restored, 6u);
            for (int i = 0; i < 6; ++i)
                EXPECT_EQ(kztest::readFile(files[size_t(i)]), std::to_string(i));
            EXPECT_EQ(listedRemovals(), 0u);
        });
        fs::remove(disks.folder / "clone.img");
    }
}

TEST(KZProofOnEveryDisk, AUsedByteCopyOfTheDiskNeitherGivesBackNorDropsAnItem)
{
    forEachKind({Kind::Ext4, Kind::Xfs, Kind::Ext4NoBirth}, [](Kind, Disks& disks) { usedByteCopy(disks); });
}

TEST(KZProofOnEveryDisk, AUsedByteCopyOfTheDiskNeitherGivesBackNorDropsAnItemForAnOrdinaryUser)
{
    forEachKind({Kind::Ext4, Kind::Ext4NoBirth}, [](Kind, Disks& disks) { usedByteCopy(disks); }, true);
}

// A Trash removal killed right after its fourth move, its journal
// recovered while a byte copy of the disk (made before the removal) is
// mounted in its place: the copy shows the fourth item at its old place,
// which proves nothing of the disk. The journal stays, and once the disk
// is back the fourth item is listed too: all four come back.
TEST(KZProofOnEveryDisk, AJournalRecoveredOnAByteCopyLosesNoItem)
{
    forEachKind({Kind::Ext4, Kind::Xfs, Kind::Ext4NoBirth}, [](Kind, Disks& disks) {
        const fs::path at = disks.at;
        const fs::path imageA = disks.folder / "A.img";
        fs::create_directories(at / "r");
        std::vector<fs::path> files;
        for (int i = 0; i < 4; ++i) {
            files.push_back(at / "r" / ("j" + std::to_string(i)));
            std::ofstream(files.back()) << i;
        }
        kztest::syncDisk(at);
        disks.detach();
        ASSERT_TRUE(kztest::shell("cp --sparse=always " + imageA.native() + " " + (disks.folder / "clone.img").native()));
        disks.attach(imageA);
        {
            auto journal = KZRemovalJournal::beginIn(homeTrash(), KZUndoFile::nowSinceReferenceDate());
            ASSERT_TRUE(journal);
            for (size_t i = 0; i < files.size(); ++i) {
                KZPersistentUndoRecord record;
                record.oldPosition = files[i];
                record.identity = platform::FileIdentity::ofPath(files[i]);
                ASSERT_TRUE(record.identity);
                record.device = record.identity->device;
                record.inode = record.identity->inode;
                ASSERT_TRUE(journal->intend(record));
                const auto moved = platform::moveToTrash(files[i]);
                ASSERT_TRUE(moved);
                if (i + 1 == files.size())
                    break; // killed before its entry
                record.currPosition = *moved;
                record.bookmark = platform::createBookmark(*moved);
                journal->append(record);
            }
        } // no end: as a removal killed

        disks.detach();
        disks.attach(disks.folder / "clone.img");
        KZRemovalJournal::recoverInterrupted(homeTrash());
        EXPECT_EQ(KZRemovalJournal::list(homeTrash()).size(), 1u) << "the journal waits for the disk";

        disks.detach();
        disks.attach(imageA);
        KZRemovalJournal::recoverInterrupted(homeTrash());
        EXPECT_TRUE(KZRemovalJournal::list(homeTrash()).empty());
        const auto back = KZRestoreRemovedFiles().restoreFiles(KZUndoFile::list(homeTrash()));
        EXPECT_EQ(back.restored, 4u);
        for (size_t i = 0; i < files.size(); ++i)
            EXPECT_EQ(kztest::readFile(files[i]), std::to_string(i));
    });
}

// On ext4 with 128-byte inodes, which keep no birth time: the Trash
// emptied, and a backup copy made with its date (cp -p) put back at the old
// place, where it takes the freed inode. Size and date are all that could
// tell it, and they are the copy's too: it is not counted back, and the
// record stays, as one whose old place holds one like it.
TEST(KZProofOnEveryDisk, ABackupCopyOnTheFreedInodeIsNotCountedBack)
{
    forEachKind({Kind::Ext4NoBirth}, [](Kind, Disks& disks) {
        const fs::path at = disks.at;
        fs::create_directories(at / "r");
        fs::create_directories(at / "backup");
        std::ofstream(at / "r/f") << "kept in a backup";
        ASSERT_TRUE(kztest::shell("cp -p " + (at / "r/f").native() + " " + (at / "backup/f").native()));
        const KZPersistentUndoRecord record = trashWithIdentity(at / "r/f");
        const fs::path undo = writeUndoFile({record}, KZUndoFile::nowSinceReferenceDate());
        // The Trash emptied.
        const auto trash = platform::trashOfTrashedItem(record.currPosition);
        ASSERT_TRUE(trash);
        fs::remove(record.currPosition);
        fs::remove(platform::trashInfoPath(*trash, record.currPosition.filename().native()));
        ::sleep(1);
        ASSERT_TRUE(kztest::shell("cp -p " + (at / "backup/f").native() + " " + (at / "r/f").native()));
        if (platform::statPath(at / "r/f", false)->inode != record.inode)
            ::_exit(kUnavailable); // the file system gave the copy another inode
        const auto result = KZRestoreRemovedFiles().restoreFiles({undo});
        EXPECT_EQ(result.restored, 0u);
        EXPECT_EQ(result.notRestored.unproved, 1u);
        EXPECT_EQ(entriesOf(undo), 1u);
        EXPECT_EQ(kztest::readFile(at / "r/f"), "kept in a backup");
    });
}

namespace {

// Unmounted and mounted again at its place, nothing else changed, as a
// user's disk is after an unplug, a reboot or a login in another
// namespace.
void mountAgain(Disks& disks)
{
    const fs::path at = disks.at;
    ASSERT_EQ(unplug(at), 0) << std::strerror(errno);
    switch (disks.kind) {
    case Kind::FuseVfat:
    case Kind::FuseVfatUnnamed: {
        // The daemon of the last mount may still hold its image a moment.
        const fs::path image = disks.folder / "A.img";
        bool mounted = false;
        for (int attempt = 0; attempt < 50 && !mounted; ++attempt) {
            mounted = kztest::shell(fusefatCommand(disks.kind, image, at) + " >/dev/null 2>&1");
            if (!mounted)
                ::usleep(100 * 1000);
        }
        ASSERT_TRUE(mounted);
        break;
    }
    case Kind::Overlay: {
        const std::string options = "lowerdir=" + (disks.folder / "layers/lower").native() + ",upperdir="
            + (disks.folder / "layers/upper").native() + ",workdir=" + (disks.folder / "layers/work").native();
        ASSERT_EQ(::mount("kzoverlay", at.c_str(), "overlay", 0, options.c_str()), 0);
        break;
    }
    case Kind::Exfat: {
        // The FUSE daemon of the mount before may still hold the device for
        // a moment under a loaded run.
        bool mounted = false;
        for (int attempt = 0; attempt < 5 && !mounted; ++attempt) {
            if (attempt)
                ::usleep(200000);
            mounted = kztest::shell("mount.exfat-fuse " + disks.device + " " + at.native());
        }
        ASSERT_TRUE(mounted);
        break;
    }
    default:
        ASSERT_TRUE(kztest::shell("mount " + disks.device + " " + at.native()));
    }
}

// A disk that tells nothing but its file system: a loop whose image was
// deleted once attached, vfat through FUSE, an overlay. Three items
// trashed and two moved to a folder on it, then the disk mounted again
// and looked at under `later`: Restore and Undo put every item back, each
// proved on its own; nothing is called not connected.
void backAfterAMount(Disks& disks, const platform::KernelConditions& later)
{
    const fs::path at = disks.at;
    if (disks.kind == Kind::Ext4)
        fs::remove(disks.folder / "A.img");
    if (disks.kind == Kind::FuseVfatUnnamed) {
        const auto facts = platform::fileSystemOf(at);
        EXPECT_FALSE(facts.identity || facts.volume) << "a mount naming no device tells no identity";
    }
    std::vector<KZPersistentUndoRecord> records;
    for (int i = 0; i < 3; ++i) {
        fs::create_directories(at / "t");
        std::ofstream(at / "t" / std::to_string(i)) << "trashed " << i;
        records.push_back(trashWithIdentity(at / "t" / std::to_string(i)));
    }
    const fs::path undo = writeUndoFile(records, KZUndoFile::nowSinceReferenceDate());
    std::vector<KZUndoMovedItem> moved;
    fs::create_directories(at / "src");
    fs::create_directories(at / "dest");
    for (int i = 0; i < 2; ++i) {
        const std::string name = "m" + std::to_string(i);
        std::ofstream(at / "src" / name) << "moved " << i;
        fs::rename(at / "src" / name, at / "dest" / name);
        KZUndoMovedItem item{at / "dest" / name, at / "src" / name, false, false};
        item.identity = platform::FileIdentity::ofPath(at / "dest" / name);
        item.setOldFolderDisk(*platform::diskOf(at / "src"));
        moved.push_back(std::move(item));
    }
    kztest::syncDisk(at);
    mountAgain(disks);
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    platform::setKernelConditions(later);

    const auto restored = KZRestoreRemovedFiles().restoreFiles({undo});
    EXPECT_EQ(restored.restored, 3u);
    EXPECT_EQ(restored.notRestored.disconnected, 0u) << "a connected disk is never called not connected";
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(kztest::readFile(at / "t" / std::to_string(i)), "trashed " + std::to_string(i));
    EXPECT_EQ(listedRemovals(), 0u);

    const auto undone = KZRestoreRemovedFiles().doUndoMove({moved, {}, {}});
    EXPECT_EQ(undone.restored, 2u);
    EXPECT_EQ(undone.notRestored.total(), 0u);
    expectNothingLeftToUndo(undone);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(kztest::readFile(at / "src" / ("m" + std::to_string(i))), "moved " + std::to_string(i));
}

} // namespace

TEST(KZProofOnEveryDisk, ADiskWithoutHardwareIdentityIsItselfAfterAMountInAnotherBootAndNamespace)
{
    forEachKind({Kind::Ext4, Kind::FuseVfat, Kind::FuseVfatUnnamed, Kind::Exfat, Kind::Overlay}, [](Kind, Disks& disks) {
        platform::KernelConditions later = kztest::runKernelConditions();
        later.bootId = "a later boot";
        later.mountNamespace = "mnt:[4026531999]";
        backAfterAMount(disks, later);
    });
}

// Debian 12's kernel gives no unique mount ID: the disk is told by its
// file system alone, before and after.
TEST(KZProofOnEveryDisk, ADiskWithoutHardwareIdentityIsItselfAfterAMountOnAKernelBefore68)
{
    forEachKind({Kind::Ext4, Kind::FuseVfat, Kind::FuseVfatUnnamed, Kind::Exfat}, [](Kind, Disks& disks) {
        platform::KernelConditions older = kztest::runKernelConditions();
        older.uniqueMountIds = false;
        platform::setKernelConditions(older);
        backAfterAMount(disks, older);
    });
}

// A copy made on disk A, whose original stays elsewhere: A unplugged, and
// back under another device number while another disk holds its old one.
// The copy is still exactly what was made, and Undo deletes it.
TEST(KZProofOnEveryDisk, ACopyOnADiskBackUnderAnotherNumberIsStillTheCopy)
{
    forEachKind({Kind::Ext4, Kind::Ext4NoBirth}, [](Kind, Disks& disks) {
        const fs::path at = disks.at;
        const fs::path original = disks.folder / "orig/x";
        fs::create_directories(original.parent_path());
        std::ofstream(original) << "the original";
        fs::create_directories(at / "dest");
        fs::copy_file(original, at / "dest/x");
        KZUndoMovedItem copy{at / "dest/x", original, false, true};
        copy.copyIdentity = KZCopyIdentity::capture(at / "dest/x");
        copy.identity = platform::FileIdentity::ofPath(at / "dest/x");
        copy.setOldFolderDisk(*platform::diskOf(original.parent_path()));
        const quint64 deviceThen = quint64(platform::statPath(at, false)->device);
        kztest::syncDisk(at);

        const std::string oldDevice = disks.device;
        disks.detach();
        // B holds A's old number, unless a test beside this one took it
        // meanwhile: A comes back under another number all the same.
        const fs::path imageB = disks.make("B");
        const bool held = kztest::shell("losetup " + oldDevice + " " + imageB.native() + " 2>/dev/null");
        const std::string holder = held ? oldDevice : std::string();
        const std::string elsewhere = kztest::shellOutput("losetup -f --show " + (disks.folder / "A.img").native());
        ASSERT_FALSE(elsewhere.empty());
        ASSERT_TRUE(kztest::shell("mount " + elsewhere + " " + at.native()));
        if (quint64(platform::statPath(at, false)->device) == deviceThen) {
            std::fprintf(stderr, "A came back under its own number here: the case is left out\n");
            ::umount2(at.c_str(), 0);
            kztest::detachLoopDevice(elsewhere, disks.folder / "A.img");
            if (!holder.empty())
                kztest::detachLoopDevice(holder, imageB);
            return;
        }

        const auto undone = KZRestoreRemovedFiles().doUndoMove({{copy}, {}, {}});
        EXPECT_EQ(undone.notRestored.total(), 0u);
        EXPECT_FALSE(fs::exists(at / "dest/x")) << "the copy the removal made is gone";
        EXPECT_EQ(kztest::readFile(original), "the original");
        ::umount2(at.c_str(), 0);
        kztest::detachLoopDevice(elsewhere, disks.folder / "A.img");
        if (!holder.empty())
            kztest::detachLoopDevice(holder, imageB);
    });
}

namespace {

// A byte copy of disk A's image as it is now, made while A is detached, A
// attached again after.
fs::path cloneOfA(Disks& disks, const std::string& name)
{
    const fs::path clone = disks.folder / (name + ".img");
    kztest::syncDisk(disks.at);
    disks.detach();
    EXPECT_TRUE(kztest::shell("cp --sparse=always " + (disks.folder / "A.img").native() + " " + clone.native()));
    disks.attach(disks.folder / "A.img");
    return clone;
}

// Three files trashed from `at`/r, each with its record, in one undo file.
std::vector<KZPersistentUndoRecord> trashThree(const fs::path& at)
{
    fs::create_directories(at / "r");
    std::vector<KZPersistentUndoRecord> records;
    for (int i = 0; i < 3; ++i) {
        std::ofstream(at / "r" / std::to_string(i)) << "trashed " << i;
        records.push_back(trashWithIdentity(at / "r" / std::to_string(i)));
    }
    writeUndoFile(records, KZUndoFile::nowSinceReferenceDate());
    return records;
}

// The three of trashThree() back at their places below `at`, as they were.
void expectThreeBack(const fs::path& at)
{
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(kztest::readFile(at / "r" / std::to_string(i)), "trashed " + std::to_string(i));
}

// Restore, the disk itself alone in its place: the three go back, and
// nothing is listed after.
void expectThreeRestored(const fs::path& at)
{
    const auto back = KZRestoreRemovedFiles().restoreFiles(KZUndoFile::list(homeTrash()));
    EXPECT_EQ(back.restored, 3u);
    expectThreeBack(at);
    EXPECT_EQ(listedRemovals(), 0u);
}

// Restore, the disk at `at` and a byte copy of it at `beside` both
// connected: neither gets any of the three back, and their record stays
// listed.
KZRestoreRemovedFiles::RestoreResult restoreBesideATwin(const fs::path& at, const fs::path& beside)
{
    const auto twins = KZRestoreRemovedFiles().restoreFiles(KZUndoFile::list(homeTrash()));
    EXPECT_EQ(twins.restored, 0u);
    EXPECT_EQ(twins.notRestored.twinDisks, 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(fs::exists(at / "r" / std::to_string(i)));
        EXPECT_FALSE(fs::exists(beside / "r" / std::to_string(i)));
    }
    EXPECT_EQ(listedRemovals(), 1u);
    return twins;
}

// `count` files moved from src into dest on the disk, each with its undo.
std::vector<KZUndoMovedItem> moveOnDisk(const fs::path& at, int count)
{
    std::vector<KZUndoMovedItem> moved;
    fs::create_directories(at / "src");
    fs::create_directories(at / "dest");
    for (int i = 0; i < count; ++i) {
        const std::string name = "m" + std::to_string(i);
        if (!fs::exists(at / "src" / name))
            std::ofstream(at / "src" / name) << "moved " << i;
        fs::rename(at / "src" / name, at / "dest" / name);
        KZUndoMovedItem item{at / "dest" / name, at / "src" / name, false, false};
        item.identity = platform::FileIdentity::ofPath(at / "dest" / name);
        item.setOldFolderDisk(*platform::diskOf(at / "src"));
        moved.push_back(std::move(item));
    }
    return moved;
}

} // namespace

// Two disks of one file system identity, neither reporting a serial (two
// sticks written from one image, a byte copy used since): B, written from
// A before two files were moved on A and a file copied away from it, takes
// A's place. B lacks the moved files and the copy's original, which proves
// nothing of A: Undo keeps both undos, says the disk may be a copy, and
// makes nothing on B. With A back, the files go back and the copy goes.
TEST(KZProofOnEveryDisk, AnAbsenceOnADiskThatMayBeACopyProvesNothing)
{
    forEachKind(
        {Kind::Ext4, Kind::Ext4NoBirth, Kind::Xfs, Kind::FuseVfat},
        [](Kind, Disks& disks) {
            const fs::path at = disks.at;
            fs::create_directories(at / "src");
            for (int i = 0; i < 2; ++i)
                std::ofstream(at / "src" / ("m" + std::to_string(i))) << "moved " << i;
            const fs::path imageB = cloneOfA(disks, "B");
            std::vector<KZUndoMovedItem> undo = moveOnDisk(at, 2);
            // The copy a move to another disk made, its original left on A.
            fs::create_directories(at / "t/b");
            std::ofstream(at / "t/b/x") << "copied away";
            const fs::path away = disks.folder / "away";
            fs::create_directories(away);
            fs::copy_file(at / "t/b/x", away / "x");
            KZUndoMovedItem copy{away / "x", at / "t/b/x", false, true};
            copy.copyIdentity = KZCopyIdentity::capture(away / "x");
            copy.identity = platform::FileIdentity::ofPath(away / "x");
            copy.setOldFolderDisk(*platform::diskOf(at / "t/b"));
            undo.push_back(copy);
            kztest::syncDisk(at);

            disks.detach();
            disks.attach(imageB);
            const auto onB = KZRestoreRemovedFiles().doUndoMove({undo, {}, {}});
            EXPECT_EQ(onB.restored, 0u);
            EXPECT_EQ(onB.notRestored.possibleCopy, 3u);
            EXPECT_EQ(onB.notRestored.copiesPossibleCopy, 1u);
            EXPECT_EQ(onB.notRestored.gone, 0u) << "nothing is called moved, renamed or deleted";
            EXPECT_EQ(onB.notRestored.reasonKey(), QStringLiteral("not_restored_several_with_copies"));
            EXPECT_EQ(onB.kept.standardUndo.size(), 3u) << "every undo waits for the disk itself";
            EXPECT_FALSE(fs::exists(at / "t")) << "no folder is made on B for the copy";
            EXPECT_EQ(kztest::readFile(away / "x"), "copied away");
            EXPECT_EQ(kztest::readFile(at / "src/m0"), "moved 0") << "B's own file stays";

            disks.detach();
            disks.attach(disks.folder / "A.img");
            const auto onA = KZRestoreRemovedFiles().doUndoMove(onB.kept);
            EXPECT_EQ(onA.restored, 2u);
            EXPECT_EQ(onA.notRestored.total(), 0u);
            expectNothingLeftToUndo(onA);
            for (int i = 0; i < 2; ++i)
                EXPECT_EQ(kztest::readFile(at / "src" / ("m" + std::to_string(i))), "moved " + std::to_string(i));
            EXPECT_FALSE(fs::exists(away / "x")) << "the copy goes while its original is there";
            EXPECT_EQ(kztest::readFile(at / "t/b/x"), "copied away");
        },
        false, Serials::NoneReported);
}

// The words for each kind of item left on such a disk.
TEST(KZProofOnEveryDisk, WhatIsLeftOnADiskThatMayBeACopyIsToldSo)
{
    KZRestoreRemovedFiles::NotRestored moved{.afterMove = true};
    moved.add(KZRestoreRemovedFiles::ItemResult::OnPossibleCopy);
    EXPECT_EQ(moved.reasonKey(), QStringLiteral("not_restored_possible_copy_moved"));
    KZRestoreRemovedFiles::NotRestored copies{.afterMove = true};
    copies.add(KZRestoreRemovedFiles::ItemResult::OnPossibleCopy, true);
    EXPECT_EQ(copies.reasonKey(), QStringLiteral("not_restored_copy_possible_copy"));
    KZRestoreRemovedFiles::NotRestored twins;
    twins.add(KZRestoreRemovedFiles::ItemResult::TwinDisks);
    EXPECT_EQ(twins.reasonKey(), QStringLiteral("not_restored_twin_disks"));
    EXPECT_EQ(twins.total(), 1u);
}

// A disk with no serial: three items trashed and one moved, then a byte
// copy of it made. While the copy is connected beside the disk, the two
// carry one identity and nothing tells them apart: nothing is put back
// from either. The copy alone in the disk's place: its items go back, and
// the user is told they went back on a disk that may be a copy; the
// records are kept but not listed. The disk itself back: its Trash still
// holds the items, and they are listed and put back again.
static void byteCopyInTheDisksPlace(Disks& disks)
{
    const fs::path at = disks.at;
    std::vector<KZUndoMovedItem> moved;
    disks.asUser([&] { trashThree(at); });
    if (!disks.ordinaryUser)
        moved = moveOnDisk(at, 1);
    const fs::path clone = cloneOfA(disks, "clone");

    // The copy connected beside the disk, on a loop device of its own.
    const fs::path beside = disks.folder / "beside";
    fs::create_directories(beside);
    const std::string cloneDevice = kztest::shellOutput("losetup -f --show " + clone.native());
    ASSERT_FALSE(cloneDevice.empty());
    ASSERT_TRUE(kztest::shell("mount " + cloneDevice + " " + beside.native()));
    disks.asUser([&] {
        const auto twins = restoreBesideATwin(at, beside);
        EXPECT_EQ(twins.notRestored.reasonKey(), QStringLiteral("not_restored_twin_disks"));
    });
    if (!moved.empty()) {
        const auto twins = KZRestoreRemovedFiles().doUndoMove({moved, {}, {}});
        EXPECT_EQ(twins.restored, 0u);
        EXPECT_EQ(twins.notRestored.twinDisks, 1u);
        EXPECT_EQ(twins.kept.standardUndo.size(), 1u);
        EXPECT_TRUE(fs::exists(at / "dest/m0"));
    }
    ASSERT_EQ(unplug(beside), 0);
    ASSERT_TRUE(kztest::detachLoopDevice(cloneDevice, clone));

    // The copy alone, in the disk's place.
    disks.detach();
    disks.attach(clone);
    disks.asUser([&] {
        const auto onCopy = KZRestoreRemovedFiles().restoreFiles(KZUndoFile::list(homeTrash()));
        EXPECT_EQ(onCopy.restored, 3u);
        EXPECT_EQ(onCopy.onPossibleCopy, 3u);
        ASSERT_EQ(KZUndoFile::list(homeTrash()).size(), 1u) << "the records are kept for the disk itself";
        EXPECT_EQ(listedRemovals(), 0u) << "and listed only while a Trash holds their items";
        EXPECT_FALSE(KZRestoreList::areTherePermanentFiles(homeTrash())) << "Restore is not offered for them";
        // Asked again, the copy's Trash holds nothing of them: nothing is
        // said of them, and nothing is dropped.
        const auto again = KZRestoreRemovedFiles().restoreFiles(KZUndoFile::list(homeTrash()));
        EXPECT_EQ(again.restored + again.notRestored.total(), 0u);
        EXPECT_EQ(entriesOf(KZUndoFile::list(homeTrash()).front()), 3u);
    });
    if (!moved.empty()) {
        const auto onCopy = KZRestoreRemovedFiles().doUndoMove({moved, {}, {}});
        EXPECT_EQ(onCopy.restored, 1u);
        EXPECT_EQ(onCopy.onPossibleCopy, 1u);
    }

    // The disk itself back: its Trash holds the items at their names.
    disks.detach();
    disks.attach(disks.folder / "A.img");
    disks.asUser([&] {
        EXPECT_EQ(listedRemovals(), 1u);
        EXPECT_TRUE(KZRestoreList::areTherePermanentFiles(homeTrash()));
        expectThreeRestored(at);
    });
}

TEST(KZProofOnEveryDisk, AByteCopyInTheDisksPlaceLeavesTheDiskItsRecords)
{
    // btrfs gives the copy mounted beside the disk a temporary UUID of the
    // kernel's: what the copy carries on disk still makes them twins.
    forEachKind({Kind::Ext4, Kind::Ext4NoBirth, Kind::Btrfs},
                [](Kind, Disks& disks) { byteCopyInTheDisksPlace(disks); }, false, Serials::NoneReported);
    forEachKind({Kind::Ext4}, [](Kind, Disks& disks) { byteCopyInTheDisksPlace(disks); }, true,
                Serials::NoneReported);
}

// A btrfs disk without serial, three items trashed on it; a byte copy of it
// takes its place, and the disk itself is mounted beside, second: the
// kernel gives the disk itself a temporary UUID on that mount. Read as its
// disk carries it, its identity is still the one its records name, so the
// two are twins and Restore puts nothing back on either. The disk alone in
// its place again, its items go back.
static void diskItselfMountedBesideItsCopy(Disks& disks)
{
    const fs::path at = disks.at;
    std::optional<quint64> recorded;
    disks.asUser([&] { trashThree(at); });
    recorded = platform::fileSystemOf(at).identity;
    ASSERT_TRUE(recorded);
    // Alone in its place, the disk reads as records made before always read
    // it: its f_fsid.
    struct statfs fsInfo {};
    ASSERT_EQ(::statfs(at.c_str(), &fsInfo), 0);
    EXPECT_EQ(recorded, platform::ownFileSystemId(fsInfo, platform::statPath(at, false)->device));
    const fs::path clone = cloneOfA(disks, "clone");
    disks.detach();
    disks.attach(clone);

    const fs::path beside = disks.folder / "beside";
    fs::create_directories(beside);
    std::string disk = kztest::shellOutput("losetup -f --show " + (disks.folder / "A.img").native());
    ASSERT_FALSE(disk.empty());
    const auto diskGone = qScopeGuard([&] {
        ::umount2(beside.c_str(), MNT_DETACH);
        kztest::detachLoopDevice(disk, disks.folder / "A.img");
    });
    if (!kztest::shell("mount " + disk + " " + beside.native())) {
        std::fprintf(stderr, "this kernel mounts no second btrfs of one UUID: the case is left out\n");
        return;
    }
    const std::string temporary = kztest::shellOutput("grep -l 1 /sys/fs/btrfs/*/temp_fsid");
    EXPECT_FALSE(temporary.empty()) << "the kernel told the two mounts apart by a temporary UUID";
    disks.asUser([&] {
        EXPECT_EQ(platform::fileSystemOf(at).identity, recorded) << "the copy carries the disk's identity";
        EXPECT_EQ(platform::fileSystemOf(beside).identity, recorded) << "and so does the disk itself, mounted second";
        restoreBesideATwin(at, beside);
    });
    ASSERT_EQ(unplug(beside), 0);
    ASSERT_TRUE(kztest::detachLoopDevice(std::exchange(disk, std::string()), disks.folder / "A.img"));

    disks.detach();
    disks.attach(disks.folder / "A.img");
    disks.asUser([&] { expectThreeRestored(at); });
}

TEST(KZProofOnEveryDisk, ADiskMountedBesideItsCopyIsItsTwinWhateverUuidTheKernelGaveIt)
{
    for (const bool ordinaryUser : {false, true})
        forEachKind({Kind::Btrfs}, [](Kind, Disks& disks) { diskItselfMountedBesideItsCopy(disks); }, ordinaryUser,
                    Serials::NoneReported);
}

namespace {

// Whether the block devices are read for a serial of their own from here
// on: a stick that reports one, and a byte copy of it written onto a stick
// that reports none, whose file system alone says it is the disk.
void seeSerials(bool read)
{
    platform::KernelConditions conditions = kztest::runKernelConditions();
    conditions.deviceSerials = read;
    platform::setKernelConditions(conditions);
}

bool allMarked(const std::vector<KZUndoMovedItem>& items)
{
    return std::all_of(items.begin(), items.end(),
                       [](const KZUndoMovedItem& item) { return item.putBackOnPossibleCopy; });
}

} // namespace

// Two files moved on disk A, a stick with a serial; A goes, and a byte copy
// B of it, on a stick that reports none, takes its place. Undo puts the
// files back on B, says so, and keeps the undo for A; asked again on B, it
// finds them back and moves nothing. A itself back: the one file still
// where the move put it goes back, the one put back by hand is found back,
// and nothing is left to undo.
TEST(KZProofOnEveryDisk, AnUndoOnADiskThatMayBeACopyWaitsForTheDiskItself)
{
    forEachKind({Kind::Ext4, Kind::Ext4NoBirth}, [](Kind, Disks& disks) {
        const fs::path at = disks.at;
        // Its marks are read first here, as a stick with a serial shows
        // them.
        seeSerials(true);
        const std::vector<KZUndoMovedItem> undo = moveOnDisk(at, 2);
        const fs::path copyB = cloneOfA(disks, "B");

        disks.detach();
        seeSerials(false);
        disks.attach(copyB);
        const auto onB = KZRestoreRemovedFiles().doUndoMove({undo, {}, {}});
        EXPECT_EQ(onB.restored, 2u);
        EXPECT_EQ(onB.onPossibleCopy, 2u);
        EXPECT_EQ(onB.notRestored.total(), 0u);
        ASSERT_EQ(onB.kept.standardUndo.size(), 2u) << "the undo waits for the disk itself";
        EXPECT_TRUE(allMarked(onB.kept.standardUndo));
        for (int i = 0; i < 2; ++i)
            EXPECT_EQ(kztest::readFile(at / "src" / ("m" + std::to_string(i))), "moved " + std::to_string(i));

        // Asked again on B: already back, nothing moves, the undo stays.
        const auto twice = KZRestoreRemovedFiles().doUndoMove(onB.kept);
        EXPECT_EQ(twice.restored, 0u);
        EXPECT_EQ(twice.alreadyBack, 2u);
        EXPECT_EQ(twice.onPossibleCopy, 0u);
        EXPECT_EQ(twice.notRestored.total(), 0u) << "nothing is called moved, renamed or deleted";
        ASSERT_EQ(twice.kept.standardUndo.size(), 2u);
        EXPECT_TRUE(allMarked(twice.kept.standardUndo));
        EXPECT_EQ(kztest::readFile(at / "src/m0"), "moved 0");
        EXPECT_TRUE(fs::is_empty(at / "dest"));

        disks.detach();
        seeSerials(true);
        disks.attach(disks.folder / "A.img");
        ASSERT_TRUE(fs::exists(at / "dest/m0")) << "A itself still holds what B gave back";
        fs::rename(at / "dest/m1", at / "src/m1");
        const auto onA = KZRestoreRemovedFiles().doUndoMove(twice.kept);
        EXPECT_EQ(onA.restored, 1u);
        EXPECT_EQ(onA.alreadyBack, 1u);
        EXPECT_EQ(onA.onPossibleCopy, 0u);
        EXPECT_EQ(onA.notRestored.total(), 0u);
        EXPECT_TRUE(onA.kept.standardUndo.empty()) << "the disk itself is proved: nothing is left to undo";
        for (int i = 0; i < 2; ++i)
            EXPECT_EQ(kztest::readFile(at / "src" / ("m" + std::to_string(i))), "moved " + std::to_string(i));
        EXPECT_TRUE(fs::is_empty(at / "dest"));
    });
}

// A copy made on a disk that reports no serial, while a byte copy of that
// disk is connected beside it: the disk kept its device number, and the
// copy's own is unchanged, yet which of the two holds the copy is not
// known. The copy is kept with its undo, not deleted. The twin gone, the
// copy goes; the undo stays for the disk itself, and a further Undo finds
// it done.
TEST(KZProofOnEveryDisk, ACopyOnOneOfTwinDisksIsKept)
{
    forEachKind(
        {Kind::Ext4},
        [](Kind, Disks& disks) {
            const fs::path at = disks.at;
            const fs::path original = disks.folder / "orig/x";
            fs::create_directories(original.parent_path());
            std::ofstream(original) << "the original";
            fs::create_directories(at / "dest");
            fs::copy_file(original, at / "dest/x");
            KZUndoMovedItem copy{at / "dest/x", original, false, true};
            copy.copyIdentity = KZCopyIdentity::capture(at / "dest/x");
            copy.identity = platform::FileIdentity::ofPath(at / "dest/x");
            copy.setOldFolderDisk(*platform::diskOf(original.parent_path()));
            const quint64 deviceThen = quint64(platform::statPath(at, false)->device);
            // The twin, written after the copy was made, holds it too.
            const fs::path clone = cloneOfA(disks, "twin");
            if (quint64(platform::statPath(at, false)->device) != deviceThen) {
                std::fprintf(stderr, "A came back under another number here: the case is left out\n");
                return;
            }

            const fs::path beside = disks.folder / "beside";
            fs::create_directories(beside);
            std::string cloneDevice = kztest::shellOutput("losetup -f --show " + clone.native());
            ASSERT_FALSE(cloneDevice.empty());
            // The twin goes even where the case fails half way.
            const auto twinGone = qScopeGuard([&] {
                if (cloneDevice.empty())
                    return;
                ::umount2(beside.c_str(), MNT_DETACH);
                kztest::detachLoopDevice(cloneDevice, clone);
            });
            ASSERT_TRUE(kztest::shell("mount " + cloneDevice + " " + beside.native()));
            const auto twins = KZRestoreRemovedFiles().doUndoMove({{copy}, {}, {}});
            EXPECT_EQ(twins.notRestored.twinDisks, 1u);
            EXPECT_EQ(twins.notRestored.reasonKey(), QStringLiteral("not_restored_twin_disks_moved"));
            ASSERT_EQ(twins.kept.standardUndo.size(), 1u);
            EXPECT_EQ(kztest::readFile(at / "dest/x"), "the original") << "the copy is not deleted";
            EXPECT_EQ(kztest::readFile(beside / "dest/x"), "the original");
            ASSERT_EQ(unplug(beside), 0);
            ASSERT_TRUE(kztest::detachLoopDevice(std::exchange(cloneDevice, std::string()), clone));

            const auto alone = KZRestoreRemovedFiles().doUndoMove(twins.kept);
            EXPECT_EQ(alone.notRestored.total(), 0u);
            EXPECT_FALSE(fs::exists(at / "dest/x")) << "the copy goes while its original is there";
            EXPECT_EQ(kztest::readFile(original), "the original");
            ASSERT_EQ(alone.kept.standardUndo.size(), 1u) << "the disk may be a copy: the undo waits for it";
            EXPECT_TRUE(allMarked(alone.kept.standardUndo));
            const auto again = KZRestoreRemovedFiles().doUndoMove(alone.kept);
            EXPECT_EQ(again.alreadyBack, 1u);
            EXPECT_EQ(again.notRestored.total(), 0u);
            EXPECT_EQ(kztest::readFile(original), "the original");
        },
        false, Serials::NoneReported);
}

// Two items trashed on disk A, a stick with a serial, then put back from a
// byte copy of it that reports none: their records stay, unlisted, for A.
// A itself back, its Trash no longer holding one of them anywhere, and the
// other under another name: the first record has done its work and goes,
// the second stays. With both done, the hidden file goes when Restore
// lists.
TEST(KZProofOnEveryDisk, RecordsKeptForTheDiskItselfGoOnceProvedDone)
{
    forEachKind({Kind::Ext4}, [](Kind, Disks& disks) {
        const fs::path at = disks.at;
        seeSerials(true);
        std::vector<KZPersistentUndoRecord> records;
        fs::create_directories(at / "r");
        for (int i = 0; i < 2; ++i) {
            std::ofstream(at / "r" / std::to_string(i)) << "trashed " << i;
            records.push_back(trashWithIdentity(at / "r" / std::to_string(i)));
        }
        writeUndoFile(records, KZUndoFile::nowSinceReferenceDate());
        const fs::path copyB = cloneOfA(disks, "B");
        // On A itself: the first emptied from the Trash, the second renamed
        // there, its .trashinfo with it.
        const fs::path trash = *platform::trashOfTrashedItem(records[0].currPosition);
        const std::string secondName = records[1].currPosition.filename().native();
        fs::remove(records[0].currPosition);
        KZUndoFile::removeTrashInfoOf(records[0].currPosition);
        fs::rename(records[1].currPosition, platform::trashFilesFolder(trash) / "renamed");
        fs::rename(platform::trashInfoPath(trash, secondName), platform::trashInfoPath(trash, "renamed"));
        kztest::syncDisk(at);

        disks.detach();
        seeSerials(false);
        disks.attach(copyB);
        const auto onB = KZRestoreRemovedFiles().restoreFiles(KZUndoFile::list(homeTrash()));
        EXPECT_EQ(onB.restored, 2u);
        EXPECT_EQ(onB.onPossibleCopy, 2u);
        ASSERT_EQ(KZUndoFile::list(homeTrash()).size(), 1u);
        EXPECT_EQ(listedRemovals(), 0u);

        disks.detach();
        seeSerials(true);
        disks.attach(disks.folder / "A.img");
        EXPECT_EQ(listedRemovals(), 0u) << "no Trash holds either at its name";
        ASSERT_EQ(KZUndoFile::list(homeTrash()).size(), 1u) << "the second may still be in A's Trash";
        const auto onA = KZRestoreRemovedFiles().restoreFiles(KZUndoFile::list(homeTrash()));
        EXPECT_EQ(onA.restored + onA.notRestored.total(), 0u);
        ASSERT_EQ(KZUndoFile::list(homeTrash()).size(), 1u);
        EXPECT_EQ(entriesOf(KZUndoFile::list(homeTrash()).front()), 1u) << "the first record went";
        EXPECT_TRUE(fs::exists(platform::trashFilesFolder(trash) / "renamed"));

        // The second taken out of A's Trash too: the file goes as Restore
        // lists.
        fs::remove(platform::trashFilesFolder(trash) / "renamed");
        fs::remove(platform::trashInfoPath(trash, "renamed"));
        EXPECT_EQ(listedRemovals(), 0u);
        EXPECT_TRUE(KZUndoFile::list(homeTrash()).empty());
        EXPECT_FALSE(KZRestoreList::areTherePermanentFiles(homeTrash()));
    });
}

// The home folder's disk, reporting no serial, holds the home Trash: three
// items trashed there, then a byte copy of the disk at the home's place and
// the disk itself mounted beside it. The two are twins, but a record read
// from the copy's own Trash speaks of that disk alone: Restore puts its
// items back there, and nothing of the disk beside it moves.
static void homeDiskBesideItsTwin(Disks& disks)
{
    const fs::path at = disks.at;
    ::setenv("XDG_DATA_HOME", (at / "share").c_str(), 1);
    fs::create_directories(at / "share");
    trashThree(at);
    const fs::path clone = cloneOfA(disks, "copy");
    disks.detach();
    disks.attach(clone);
    const fs::path beside = disks.folder / "beside";
    fs::create_directories(beside);
    const fs::path image = disks.folder / "A.img";
    const std::string device = kztest::shellOutput("losetup -f --show " + image.native());
    ASSERT_FALSE(device.empty());
    ASSERT_TRUE(kztest::shell("mount " + device + " " + beside.native()));
    const auto letGo = qScopeGuard([&] {
        unplug(beside);
        kztest::detachLoopDevice(device, image);
    });
    EXPECT_EQ(listedRemovals(), 1u);
    const auto back = KZRestoreRemovedFiles().restoreFiles(KZUndoFile::list(homeTrash()));
    EXPECT_EQ(back.restored, 3u);
    EXPECT_EQ(back.notRestored.total(), 0u) << back.notRestored.reasonKey().toStdString();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(kztest::readFile(at / "r" / std::to_string(i)), "trashed " + std::to_string(i));
        EXPECT_FALSE(fs::exists(beside / "r" / std::to_string(i)));
    }
    EXPECT_TRUE(KZUndoFile::list(homeTrash()).empty()) << "the disk's own record of them has done its work";
    EXPECT_EQ(KZUndoFile::list(beside / "share/Trash").size(), 1u) << "the twin keeps its own";
}

TEST(KZProofOnEveryDisk, TheHomeDisksOwnRecordsAreItsOwnBesideItsTwin)
{
    forEachKind({Kind::Ext4, Kind::Ext4NoBirth}, [](Kind, Disks& disks) { homeDiskBesideItsTwin(disks); }, false,
                Serials::NoneReported);
}

// Items trashed on a disk mounted at mnt; the disk plugged back at mnt1,
// as a desktop mounts a stick at …/STICK1 while …/STICK is taken. Proved
// the disk itself (its identity read beneath the loop device), its items
// are found relative to where it is mounted now and go back there. Told by
// its file system alone, it may be a copy, which is bound to the place it
// was recorded at: its items stay, said to lie on a disk connected
// elsewhere, never on one that is not connected.
static void pluggedBackElsewhere(Disks& disks)
{
    // The disk itself only where its serial is read: a run as where disks
    // report none finds it the disk or a copy.
    const bool itself = platform::kernelConditions().deviceSerials;
    const fs::path at = disks.at;
    const std::vector<KZPersistentUndoRecord> records = trashThree(at);
    ASSERT_EQ(records[0].currPosition.parent_path().parent_path().parent_path(), at) << "trashed on the disk";
    const std::vector<KZUndoMovedItem> moved = moveOnDisk(at, 2);
    kztest::syncDisk(at);
    disks.detach();
    const fs::path other = disks.folder / "mnt1";
    fs::create_directories(other);
    const fs::path image = disks.folder / "A.img";
    const std::string device = kztest::shellOutput("losetup -f --show " + image.native());
    ASSERT_FALSE(device.empty());
    ASSERT_TRUE(kztest::shell("mount " + device + " " + other.native()));
    const auto letGo = qScopeGuard([&] {
        unplug(other);
        kztest::detachLoopDevice(device, image);
    });
    const auto result = KZRestoreRemovedFiles().restoreFiles(KZUndoFile::list(homeTrash()));
    EXPECT_EQ(result.notRestored.disconnected, 0u) << "a connected disk is never said not connected";
    if (itself) {
        EXPECT_EQ(result.restored, 3u);
        EXPECT_EQ(result.notRestored.total(), 0u) << result.notRestored.reasonKey().toStdString();
        expectThreeBack(other);
        const fs::path trash = records[0].currPosition.parent_path().parent_path();
        EXPECT_TRUE(fs::is_empty(other / trash.lexically_relative(at) / "info")) << "no .trashinfo is left";
        EXPECT_TRUE(KZUndoFile::list(homeTrash()).empty());
        const auto undone = KZRestoreRemovedFiles().doUndoMove({moved, {}, {}});
        EXPECT_EQ(undone.restored, 2u);
        EXPECT_EQ(undone.notRestored.total(), 0u) << undone.notRestored.reasonKey().toStdString();
        for (int i = 0; i < 2; ++i)
            EXPECT_EQ(kztest::readFile(other / "src" / ("m" + std::to_string(i))), "moved " + std::to_string(i));
    } else {
        const auto undone = KZRestoreRemovedFiles().doUndoMove({moved, {}, {}});
        EXPECT_EQ(undone.restored, 0u);
        EXPECT_EQ(undone.notRestored.holderDisconnected, 0u) << "a connected disk is never said not connected";
        EXPECT_EQ(undone.notRestored.elsewhere, 2u);
        EXPECT_EQ(undone.notRestored.reasonKey(), QStringLiteral("not_restored_elsewhere_moved"));
        EXPECT_EQ(undone.kept.standardUndo.size(), 2u);
        EXPECT_EQ(result.restored, 0u);
        EXPECT_EQ(result.notRestored.elsewhere, 3u);
        EXPECT_EQ(result.notRestored.reasonKey(), QStringLiteral("not_restored_elsewhere"));
        EXPECT_EQ(entriesOf(KZUndoFile::list(homeTrash()).at(0)), 3u);
        for (int i = 0; i < 3; ++i)
            EXPECT_FALSE(fs::exists(other / "r" / std::to_string(i)));
    }
}

TEST(KZProofOnEveryDisk, ADiskPluggedBackAtAnotherPlaceIsFoundThere)
{
    forEachKind({Kind::Ext4, Kind::Ext4NoBirth, Kind::Xfs}, [](Kind, Disks& disks) { pluggedBackElsewhere(disks); });
    forEachKind({Kind::Ext4}, [](Kind, Disks& disks) { pluggedBackElsewhere(disks); }, false, Serials::NoneReported);
}

// Three items trashed on a disk whose Trash folder is then deleted whole
// (emptied on another computer, or by hand): the disk is connected, so its
// items are never said to lie on a disk that is not connected. The disk
// proved itself, they are gone and their records go. On a byte copy of the
// disk in its place (`onACopy`), which may be the disk, the absence proves
// nothing: the records stay, and the disk itself back, its items go back.
static void trashFolderDeletedWhole(Disks& disks, bool onACopy)
{
    const fs::path at = disks.at;
    disks.asUser([&] {
        const auto records = trashThree(at);
        ASSERT_EQ(records[0].currPosition.parent_path().parent_path().parent_path(), at) << "trashed on the disk";
    });
    const fs::path trash = at / (".Trash-" + std::to_string(disks.ordinaryUser ? 65534 : ::geteuid()));
    ASSERT_TRUE(fs::is_directory(trash / "files"));
    if (onACopy) {
        const fs::path copy = cloneOfA(disks, "B");
        disks.detach();
        disks.attach(copy);
    }
    // A FUSE disk takes away what it hid of a file replaced while still
    // open (a placeholder renamed over) once the file's release comes,
    // which may race the deletion: it goes again then.
    std::error_code ec;
    for (int tries = 0; tries < 50 && (fs::remove_all(trash, ec), ec || fs::exists(trash)); ++tries)
        ::usleep(100000);
    ASSERT_FALSE(fs::exists(trash)) << ec.message();

    disks.asUser([&] {
        const auto undoFiles = KZUndoFile::list(homeTrash());
        ASSERT_EQ(undoFiles.size(), 1u);
        const auto result = KZRestoreRemovedFiles().restoreFiles(undoFiles);
        EXPECT_EQ(result.restored, 0u);
        EXPECT_EQ(result.notRestored.disconnected, 0u) << "a connected disk is never said not connected";
        // Told by its file system alone, where no mount ID lasts, the disk
        // itself may be a copy too: its records stay as on one.
        const bool itself = !onACopy && (platform::kernelConditions().deviceSerials || result.notRestored.gone != 0);
        if (!itself) {
            EXPECT_EQ(result.notRestored.notInTrash, 3u) << result.notRestored.reasonKey().toStdString();
            EXPECT_EQ(entriesOf(undoFiles[0]), 3u);
            EXPECT_EQ(listedRemovals(), 1u) << "kept, and offered again";
        } else {
            EXPECT_EQ(result.notRestored.gone, 3u) << result.notRestored.reasonKey().toStdString();
            for (int i = 0; i < 3; ++i)
                EXPECT_FALSE(fs::exists(at / "r" / std::to_string(i)));
            EXPECT_EQ(listedRemovals(), 0u);
        }
    });
    if (!onACopy)
        return;
    disks.detach();
    disks.attach(disks.folder / "A.img");
    disks.asUser([&] { expectThreeRestored(at); });
}

TEST(KZProofOnEveryDisk, ADiskWhoseTrashFolderWasDeletedIsStillConnected)
{
    forEachKind({Kind::Ext4, Kind::FuseVfat}, [](Kind, Disks& disks) { trashFolderDeletedWhole(disks, false); });
    for (const bool ordinaryUser : {false, true})
        forEachKind({Kind::Ext4}, [](Kind, Disks& disks) { trashFolderDeletedWhole(disks, true); }, ordinaryUser,
                    Serials::NoneReported);
    forEachKind({Kind::Ext4}, [](Kind, Disks& disks) { trashFolderDeletedWhole(disks, false); }, true);
}
