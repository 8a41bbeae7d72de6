#include "platform/FileIdentity.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

using platform::FileIdentity;
using platform::FileStat;
namespace fs = std::filesystem;

namespace {

FileStat statOf(quint64 inode, std::optional<timespec> birth, quint64 size, timespec modified)
{
    FileStat st;
    st.device = 7;
    st.inode = inode;
    st.birth = birth;
    st.size = size;
    st.modified = modified;
    return st;
}

} // namespace

// Device and inode alone prove nothing; the birth time does, and where the
// file system keeps none, size and modification time stand in for it. A
// folder is told by device, inode and birth time only: its entries change
// its size and date.
TEST(FileIdentity, MoreThanDeviceAndInodeProvesAFile)
{
    const FileStat born = statOf(5, timespec{100, 1}, 10, {200, 2});
    const FileIdentity identity = FileIdentity::of(born);
    EXPECT_TRUE(identity.isSameFile(statOf(5, timespec{100, 1}, 99, {300, 3})));
    EXPECT_FALSE(identity.isSameFile(statOf(5, timespec{100, 2}, 10, {200, 2}))) << "a new file, the inode reused";
    EXPECT_FALSE(identity.isSameFile(statOf(5, std::nullopt, 10, {200, 2})));
    EXPECT_FALSE(identity.isSameFile(statOf(6, timespec{100, 1}, 10, {200, 2})));

    const FileIdentity unborn = FileIdentity::of(statOf(5, std::nullopt, 10, {200, 2}));
    EXPECT_TRUE(unborn.canProve());
    EXPECT_TRUE(unborn.isSameFile(statOf(5, std::nullopt, 10, {200, 2})));
    EXPECT_FALSE(unborn.isSameFile(statOf(5, std::nullopt, 11, {200, 2})));
    EXPECT_FALSE(unborn.isSameFile(statOf(5, std::nullopt, 10, {200, 3})));

    QVariantMap stored;
    identity.insertInto(stored);
    EXPECT_EQ(FileIdentity::readFrom(stored, 7, 5), identity);
    const FileIdentity bare = FileIdentity::readFrom({}, 7, 5);
    EXPECT_FALSE(bare.canProve());
    EXPECT_FALSE(bare.isSameFile(born)) << "an older record cannot prove it";

    EXPECT_TRUE(identity.isSameFolder(statOf(5, timespec{100, 1}, 4096, {900, 0})));
    EXPECT_FALSE(identity.isSameFolder(statOf(5, timespec{101, 1}, 10, {200, 2})));
    // Without a birth time, generation or change time, a folder's inode
    // may be a new folder's.
    EXPECT_FALSE(unborn.isSameFolder(statOf(5, std::nullopt, 8192, {900, 0})));
}

// A disk is its device number, or another number with the same identity of
// its file system; a record without that identity goes by the number alone.
// A folder's record proves a folder by disk, inode and birth time where both
// have one, never a file; a file's never a folder. Overlayfs gives a moved
// item a new birth time: there size and date stand in for it. What is
// recorded reads back, and an older record reads as it was.
TEST(FileIdentity, AFileSystemsOwnIdentityTellsTheDiskAndAFolderIsNoFile)
{
    // The same block device throughout, as a disk back under another number.
    const platform::DiskIdentity disk{7, 0xc5cdea38337a537fULL, 0xb10c};
    const auto fileSystem = [](std::optional<quint64> id) {
        return [id] { return platform::DiskMarks{id, 0xb10c}; };
    };
    EXPECT_TRUE(disk.isSameDisk(7, {}));
    EXPECT_FALSE(disk.isSameDisk(7, fileSystem(std::nullopt))) << "another file system on the block device";
    EXPECT_FALSE(disk.isSameDisk(7, fileSystem(0x1234))) << "another disk given the old number";
    EXPECT_TRUE(disk.isSameDisk(9, fileSystem(0xc5cdea38337a537fULL)));
    EXPECT_FALSE(disk.isSameDisk(9, fileSystem(0x1234)));
    EXPECT_FALSE(disk.isSameDisk(9, fileSystem(std::nullopt)));
    EXPECT_FALSE((platform::DiskIdentity{7, std::nullopt}.isSameDisk(9, fileSystem(0xc5cdea38337a537fULL))));

    FileStat folder = statOf(5, std::nullopt, 4096, {200, 2});
    folder.mode = S_IFDIR | 0755;
    FileIdentity folderIdentity
        = FileIdentity::of(folder, {.identity = 0xc5cdea38337a537fULL, .keepsBirthAcrossRename = true, .volume = 0xb10c});
    folderIdentity.generation = 77;
    FileStat grown = folder;
    grown.size = 8192;
    grown.modified = {300, 0};
    grown.changed = {300, 0};
    grown.device = 9;
    const auto generation = [](quint64 g) { return [g] { return std::optional<quint64>(g); }; };
    EXPECT_TRUE(folderIdentity.isSameItem(grown, fileSystem(0xc5cdea38337a537fULL), generation(77)));
    EXPECT_FALSE(folderIdentity.isSameItem(grown, fileSystem(0xc5cdea38337a537fULL), generation(78)));
    EXPECT_FALSE(folderIdentity.isSameItem(grown, fileSystem(0xc5cdea38337a537fULL))) << "its change time moved";
    EXPECT_FALSE(folderIdentity.isSameItem(statOf(5, std::nullopt, 4096, {200, 2}))) << "a file took the inode";
    EXPECT_FALSE(FileIdentity::of(statOf(5, std::nullopt, 4096, {200, 2})).isSameItem(folder));

    const FileStat born = statOf(5, timespec{100, 1}, 10, {200, 2});
    const FileIdentity overlay = FileIdentity::of(born, {.identity = std::nullopt, .keepsBirthAcrossRename = false});
    EXPECT_FALSE(overlay.birth);
    EXPECT_TRUE(overlay.isSameItem(statOf(5, timespec{999, 9}, 10, {200, 2}))) << "moved, and born anew";
    EXPECT_FALSE(overlay.isSameItem(statOf(5, timespec{100, 1}, 11, {200, 2})));

    QVariantMap stored;
    folderIdentity.insertInto(stored);
    EXPECT_EQ(FileIdentity::readFrom(stored, 7, 5), folderIdentity);
    const FileIdentity older = FileIdentity::readFrom({}, 7, 5);
    EXPECT_FALSE(older.fileSystem || older.folder);
    EXPECT_FALSE(older.isSameInode(grown, fileSystem(0xc5cdea38337a537fULL)));
}

// A disk is proved by what a byte copy of it does not share: its block
// device, or the mount it was seen on. An equal device number, or an equal
// file system identity, proves nothing on its own; neither does a record
// that kept no more (one made before the block device and mount were kept).
TEST(FileIdentity, ADiskIsProvedByItsBlockDeviceOrItsMount)
{
    using platform::DiskIdentity;
    using platform::Proof;
    const auto marks = [](std::optional<quint64> fileSystem, std::optional<quint64> volume,
                          std::optional<quint64> mount = std::nullopt) {
        return [=] { return platform::DiskMarks{fileSystem, volume, mount}; };
    };
    const DiskIdentity ext4{7, 0xf5, 0xb10c};
    EXPECT_EQ(ext4.proveSameDisk(7, marks(0xf5, 0xb10c)), Proof::Proved);
    EXPECT_EQ(ext4.proveSameDisk(9, marks(0xf5, 0xb10c)), Proof::Proved) << "back under another number";
    EXPECT_EQ(ext4.proveSameDisk(7, marks(0xf5, 0xc0b1)), Proof::Different) << "a byte copy on another device";
    EXPECT_EQ(ext4.proveSameDisk(7, marks(0xf5, std::nullopt)), Proof::NotProved);

    // vfat, exfat and FUSE give no file system identity.
    const DiskIdentity stick{7, std::nullopt, 0x5e71a1};
    EXPECT_EQ(stick.proveSameDisk(7, marks(std::nullopt, 0x5e71a1)), Proof::Proved);
    EXPECT_EQ(stick.proveSameDisk(7, marks(std::nullopt, 0x07e4)), Proof::Different) << "another stick";
    EXPECT_EQ(stick.proveSameDisk(7, marks(0xf5, 0x5e71a1)), Proof::NotProved) << "formatted anew";
    EXPECT_EQ((DiskIdentity{7}.proveSameDisk(7, marks(std::nullopt, std::nullopt))), Proof::NotProved)
        << "an equal device number alone";
    EXPECT_EQ((DiskIdentity{7}.proveSameDisk(9, marks(std::nullopt, std::nullopt))), Proof::NotProved)
        << "neither tells: the disk at the place, or a copy of it";
    EXPECT_EQ((DiskIdentity{7, 0xf5}.proveSameDisk(7, marks(0xf5, 0xb10c))), Proof::NotProved)
        << "a record of the file system alone";
    EXPECT_EQ((DiskIdentity{7, 0xf5}.proveSameDisk(9, marks(0xf5, 0xb10c))), Proof::NotProved);

    // tmpfs, overlay, FUSE without a block device: the same mount only.
    const DiskIdentity fuse{7, std::nullopt, std::nullopt, 0x10001};
    EXPECT_EQ(fuse.proveSameDisk(7, marks(std::nullopt, std::nullopt, 0x10001)), Proof::Proved);
    EXPECT_EQ(fuse.proveSameDisk(7, marks(std::nullopt, std::nullopt, 0x10002)), Proof::NotProved)
        << "mounted again, or another disk under the number";
    EXPECT_EQ(fuse.proveSameDisk(7, marks(0xf5, std::nullopt, 0x10001)), Proof::Proved);
    EXPECT_EQ((DiskIdentity{7, 0xf5, std::nullopt, 0x10001}.proveSameDisk(7, marks(0xf6, std::nullopt, 0x10001))),
              Proof::Different);
}

// What the machine says of the folder the tests run in: a mount that is
// never named again where the kernel has such IDs, the same each time it
// is asked, and a disk proved by it.
TEST(FileIdentity, TheDiskOfAFolderIsProvedWhileItStaysMounted)
{
    const auto facts = platform::fileSystemOf(".");
    const auto again = platform::fileSystemOf(".");
    EXPECT_EQ(facts.marks(), again.marks());
    const auto disk = platform::diskOf(".");
    ASSERT_TRUE(disk);
    if (!facts.mount && !facts.volume)
        GTEST_SKIP() << "neither a block device nor a lasting mount ID here";
    EXPECT_EQ(disk->proveSameDisk(disk->device, platform::fileSystemQueryOf(".")), platform::Proof::Proved);
}

// A folder without birth time or generation is told by the change time its
// move set. Where the file system keeps whole seconds only, a new folder
// made in that second on the freed inode shows the very same time: such a
// time proves nothing, while one with its fraction of a second does.
TEST(FileIdentity, AChangeTimeInWholeSecondsProvesNoFolder)
{
    FileStat folder = statOf(5, std::nullopt, 4096, {200, 0});
    folder.mode = S_IFDIR | 0755;
    for (const long fraction : {0L, 123456789L}) {
        SCOPED_TRACE(fraction);
        folder.changed = {300, fraction};
        const FileIdentity identity = FileIdentity::of(folder, {std::nullopt, false});
        ASSERT_TRUE(identity.changed);
        FileStat madeInThatSecond = folder;
        EXPECT_EQ(identity.prove(madeInThatSecond), fraction ? platform::Proof::Proved : platform::Proof::NotProved);
        madeInThatSecond.changed = {301, fraction};
        EXPECT_EQ(identity.prove(madeInThatSecond), platform::Proof::NotProved);
    }
}

// vfat keeps its disk's identity only as a volume serial in its header:
// read from an image, two serials are two disks and one serial is one,
// whatever the image; an image without a file system has none.
TEST(FileIdentity, AVolumeSerialTellsADiskWithoutAFileSystemIdentity)
{
    if (std::system("command -v mkfs.vfat > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "mkfs.vfat is not installed";
    kztest::TempDir d;
    const auto image = [&d](const char* name, const char* serial) {
        const fs::path path = d / name;
        const std::string command = "truncate -s 8M " + path.native() + " && mkfs.vfat -i " + serial + " "
            + path.native() + " > /dev/null 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0);
        return path;
    };
    const auto a = platform::volumeSerialOf(image("a.img", "1234ABCD"));
    const auto again = platform::volumeSerialOf(image("again.img", "1234ABCD"));
    const auto b = platform::volumeSerialOf(image("b.img", "5678EF01"));
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a, again);
    EXPECT_NE(a, b);
    std::ofstream(d / "blank.img") << std::string(65536, '\0');
    EXPECT_FALSE(platform::volumeSerialOf(d / "blank.img"));
    EXPECT_FALSE(platform::volumeSerialOf(d / "missing.img"));
}
