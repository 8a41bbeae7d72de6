// Which disk answers now is told by what the disk itself is, on every
// kernel and in every boot and mount namespace: its hardware identity first,
// then its file system's, a mount only in its own boot and namespace. What a
// byte copy carries (a header's UUID, a reader's serial, an image's path)
// never proves the disk.

#include "FuseMounts.h"
#include "LoopDisks.h"
#include "RunConditions.h"
#include "TestSupport.h"

#include "platform/ConnectedDisks.h"
#include "platform/DiskIdentity.h"
#include "platform/FileIdentity.h"
#include "platform/Volumes.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <sstream>

namespace fs = std::filesystem;
using platform::DiskAnswer;
using platform::DiskIdentity;
using platform::DiskMarks;
using platform::Proof;

namespace {

// The conditions a case sets, and the system's again once it ends.
struct ScopedConditions {
    explicit ScopedConditions(const platform::KernelConditions& conditions) { platform::setKernelConditions(conditions); }
    ~ScopedConditions() { platform::setKernelConditions(kztest::runKernelConditions()); }
};

DiskAnswer judge(const DiskIdentity& recorded, quint64 deviceNow, const DiskMarks& now)
{
    return recorded.judge(deviceNow, [now] { return now; });
}

// A sysfs of block devices made of plain files and links, as the kernel
// lays its own out.
struct FakeSysfs {
    kztest::TempDir dir;
    void file(const std::string& path, const std::string& text) const { dir.write(path, text + "\n"); }
    // The device `major`:`minor` is the folder `device` (under devices/).
    void device(unsigned major, unsigned minor, const std::string& device) const
    {
        fs::create_directories(dir / "devices" / device);
        file("devices/" + device + "/dev", std::to_string(major) + ':' + std::to_string(minor));
        fs::create_directories(dir / "dev/block");
        fs::create_symlink(dir / "devices" / device, dir / "dev/block" / (std::to_string(major) + ':' + std::to_string(minor)));
    }
    void slave(const std::string& device, const std::string& slaveDevice) const
    {
        fs::create_directories(dir / "devices" / device / "slaves");
        fs::create_symlink(dir / "devices" / slaveDevice,
                           dir / "devices" / device / "slaves" / fs::path(slaveDevice).filename());
    }
    std::optional<quint64> volume(unsigned major, unsigned minor) const
    {
        platform::KernelConditions conditions = kztest::runKernelConditions();
        // The serials are the fake's own, whatever the run's devices show.
        conditions.deviceSerials = true;
        conditions.sysfs = dir.path();
        ScopedConditions scoped(conditions);
        return platform::blockDeviceVolume(::makedev(major, minor));
    }
};

// What udev publishes of a device, as `blkid -p -o udev` prints it: the
// same library, the same encoding, the same names.
platform::DeviceProperties udevPropertiesFromBlkid(const std::string& deviceOrImage)
{
    platform::DeviceProperties properties;
    std::istringstream lines(kztest::shellOutput("blkid -p -o udev " + deviceOrImage));
    std::string line;
    while (std::getline(lines, line))
        if (const size_t equals = line.find('='); equals != std::string::npos)
            properties.emplace(line.substr(0, equals), line.substr(equals + 1));
    return properties;
}

// Runs `body` in a child that is the ordinary user 65534, no groups but its
// own; answers whether it passed.
bool passesAsOrdinaryUser(const std::function<void()>& body)
{
    std::fflush(stdout);
    const int failuresBefore = kztest::failuresOfCurrentTest();
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(10);
        kztest::runInChild(body);
        std::fflush(stdout);
        ::_exit(kztest::failuresOfCurrentTest() > failuresBefore ? 1 : 0);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

// The order of the marks: a clone's equal file system and a coinciding
// mount never outweigh another disk; the same disk under another number,
// or told only by its file system, is no other disk.
TEST(DiskDecision, TheDiskItselfFirstThenItsFileSystemThenAMount)
{
    const DiskIdentity recorded{7, 0xf5, 0xd15c, 0x3a};
    // A byte clone in a later boot that gave the same mount the same ID.
    EXPECT_EQ(judge(recorded, 7, {0xf5, 0xc10e, 0x3a}), DiskAnswer::Different);
    EXPECT_EQ(judge(recorded, 9, {0xf5, 0xd15c, std::nullopt}), DiskAnswer::Same);
    EXPECT_EQ(judge(recorded, 7, {0xf6, 0xd15c, 0x3a}), DiskAnswer::Different) << "formatted anew";
    // No hardware identity to read (a virtio disk without a serial, FUSE, a
    // loop whose backing file was deleted): the disk or a copy of it.
    const DiskIdentity noSerial{7, 0xf5, std::nullopt, 0x3a};
    EXPECT_EQ(judge(noSerial, 9, {0xf5, std::nullopt, std::nullopt}), DiskAnswer::SameOrCopy);
    EXPECT_EQ(judge(noSerial, 7, {0xf5, std::nullopt, 0x3a}), DiskAnswer::Same) << "the very mount, this boot";
    EXPECT_EQ(noSerial.proveSameDisk(9, [] { return DiskMarks{0xf5}; }), Proof::NotProved);
    EXPECT_EQ(noSerial.proveDiskOfItem(9, [] { return DiskMarks{0xf5}; }), Proof::Proved);
    // Nothing but the number and a mount (FUSE naming no device): the disk
    // at the recorded place, mounted again or under another number, may be
    // the disk, and is never one that is not connected.
    const DiskIdentity bare{7, std::nullopt, std::nullopt, 0x3a};
    EXPECT_EQ(judge(bare, 7, {}), DiskAnswer::SameOrCopy) << "an equal number proves nothing";
    EXPECT_EQ(judge(bare, 9, {}), DiskAnswer::SameOrCopy);
    EXPECT_EQ(judge(bare, 9, {std::nullopt, std::nullopt, 0x3a}), DiskAnswer::Same);
    EXPECT_EQ(bare.proveSameDisk(9, [] { return DiskMarks{}; }), Proof::NotProved);
    // One side tells a file system and the other none: another disk (the
    // bare folder an unplugged disk was mounted on) where the number says so.
    EXPECT_EQ(judge(bare, 9, {0xf5}), DiskAnswer::Different);
    EXPECT_EQ(judge(bare, 7, {0xf5}), DiskAnswer::Unknown);
    EXPECT_EQ(judge(noSerial, 9, {}), DiskAnswer::Different);
    // The same disk, its file system read on one side only (root reads the
    // header its user may not open): the very mount proves it, another
    // mount leaves its content unproved.
    const DiskIdentity readByItsUser{7, std::nullopt, 0xd15c, 0x3a};
    EXPECT_EQ(judge(readByItsUser, 7, {0xf5, 0xd15c, 0x3a}), DiskAnswer::Same);
    EXPECT_EQ(judge(readByItsUser, 7, {0xf5, 0xd15c, 0x3b}), DiskAnswer::SameOrCopy);
    EXPECT_EQ(judge(recorded, 7, {std::nullopt, 0xd15c, 0x3a}), DiskAnswer::Same);
}

// The kernel counts mount IDs anew at every boot and each namespace sees
// mounts of its own: a mount's mark from one never equals one from another,
// and a kernel before 6.8 gives none (and the disk is still told by its
// file system).
TEST(DiskDecision, AMountCountsOnlyInItsOwnBootAndNamespace)
{
    kztest::TempDir d;
    platform::KernelConditions conditions = kztest::runKernelConditions();
    const auto marksUnder = [&](const platform::KernelConditions& c) {
        ScopedConditions scoped(c);
        return platform::fileSystemOf(d.path()).marks();
    };
    const DiskMarks here = marksUnder(conditions);
    if (!conditions.uniqueMountIds || !here.mount)
        GTEST_SKIP() << "this kernel or run gives no unique mount ID";
    platform::KernelConditions otherBoot = conditions;
    otherBoot.bootId = "another boot";
    platform::KernelConditions otherNamespace = conditions;
    otherNamespace.mountNamespace = "mnt:[1]";
    platform::KernelConditions olderKernel = conditions;
    olderKernel.uniqueMountIds = false;
    EXPECT_EQ(marksUnder(conditions).mount, here.mount);
    EXPECT_NE(marksUnder(otherBoot).mount, here.mount);
    EXPECT_NE(marksUnder(otherNamespace).mount, here.mount);
    // Before 6.8 the file system watched by this process marks the disk,
    // never a mount ID handed out again.
    const DiskMarks older = marksUnder(olderKernel);
    EXPECT_NE(older.mount, here.mount);
    EXPECT_EQ(older.fileSystem, here.fileSystem);

    // A record made under the older kernel is proved on its disk as the
    // same one: by its file system alone it is the disk or a copy of it,
    // and an item on it is proved by what it is itself.
    const fs::path file = d.write("f", "x");
    std::optional<platform::FileIdentity> recorded;
    {
        ScopedConditions scoped(olderKernel);
        recorded = platform::FileIdentity::ofPath(file);
    }
    ASSERT_TRUE(recorded);
    ScopedConditions scoped(otherBoot);
    EXPECT_TRUE(recorded->isSameItem(*platform::statPath(file, false), platform::fileSystemQueryOf(file)));
}

// The hardware identity is what the disk reports of itself, never what a
// copy carries: virtio's serial, beneath device-mapper and md the disks
// they stand on, a loop's backing file by its own disk, inode and birth.
TEST(DiskDecision, ABlockDeviceIsKnownByWhatACopyCannotCarry)
{
    FakeSysfs sys;
    // A virtio disk with a serial, another without one, and a partition.
    sys.device(254, 0, "pci/virtio1/block/vda");
    sys.file("devices/pci/virtio1/block/vda/serial", "DISK-ONE");
    sys.device(254, 1, "pci/virtio1/block/vda/vda1");
    sys.file("devices/pci/virtio1/block/vda/vda1/partition", "1");
    sys.file("devices/pci/virtio1/block/vda/vda1/start", "2048");
    sys.device(254, 16, "pci/virtio2/block/vdb");
    sys.file("devices/pci/virtio2/block/vdb/serial", "");
    sys.device(254, 32, "pci/virtio3/block/vdc");
    sys.file("devices/pci/virtio3/block/vdc/serial", "DISK-TWO");
    ASSERT_TRUE(sys.volume(254, 0));
    EXPECT_FALSE(sys.volume(254, 16)) << "an empty serial is none";
    EXPECT_NE(sys.volume(254, 1), sys.volume(254, 0)) << "a partition is its place on the disk too";

    // A LUKS clone opened under the same name on another disk: the same
    // device-mapper UUID, another disk beneath.
    sys.device(253, 0, "virtual/block/dm-0");
    sys.file("devices/virtual/block/dm-0/dm/uuid", "CRYPT-LUKS2-0123-home");
    sys.slave("virtual/block/dm-0", "pci/virtio1/block/vda/vda1");
    sys.device(253, 1, "virtual/block/dm-1");
    sys.file("devices/virtual/block/dm-1/dm/uuid", "CRYPT-LUKS2-0123-home");
    sys.slave("virtual/block/dm-1", "pci/virtio3/block/vdc");
    ASSERT_TRUE(sys.volume(253, 0));
    EXPECT_NE(sys.volume(253, 0), sys.volume(253, 1));
    // An md array over a disk that tells nothing is told by nothing.
    sys.device(9, 0, "virtual/block/md0");
    sys.file("devices/virtual/block/md0/md/uuid", "abcd");
    sys.slave("virtual/block/md0", "pci/virtio2/block/vdb");
    EXPECT_FALSE(sys.volume(9, 0));

    // A card reader's serial is every card's.
    sys.file("devices/pci/usb1/1-1/serial", "READER-42");
    sys.device(8, 0, "pci/usb1/1-1/host0/target0/0:0:0:0/block/sda");
    fs::create_symlink(sys.dir / "devices/pci/usb1/1-1/host0/target0/0:0:0:0",
                       sys.dir / "devices/pci/usb1/1-1/host0/target0/0:0:0:0/block/sda/device");
    EXPECT_FALSE(sys.volume(8, 0));

    // A loop device: its image moved into a folder of its own disk is the
    // same; a copy put at the image's path is not.
    kztest::TempDir images;
    const fs::path image = images.write("disk.img", "image");
    sys.device(7, 0, "virtual/block/loop0");
    sys.file("devices/virtual/block/loop0/loop/offset", "0");
    sys.file("devices/virtual/block/loop0/loop/backing_file", image.native());
    const auto loop = sys.volume(7, 0);
    if (!loop)
        GTEST_SKIP() << "the temporary folder's disk keeps no birth times";
    fs::create_directories(images / "moved");
    fs::rename(image, images / "moved/disk.img");
    sys.file("devices/virtual/block/loop0/loop/backing_file", (images / "moved/disk.img").native());
    EXPECT_EQ(sys.volume(7, 0), loop);
    fs::copy_file(images / "moved/disk.img", images / "copy.img");
    fs::remove(images / "moved/disk.img");
    fs::rename(images / "copy.img", images / "moved/disk.img");
    EXPECT_NE(sys.volume(7, 0), loop) << "a copy on the image's path";
    sys.file("devices/virtual/block/loop0/loop/backing_file", (images / "moved/disk.img").native() + " (deleted)");
    EXPECT_FALSE(sys.volume(7, 0));
}

// A file system that numbers its files anew at every mount (vfat, exfat,
// FUSE) shows the item under another number once mounted again: there a
// number proves no other item, and what the item is itself proves it.
TEST(DiskDecision, AFileSystemThatNumbersItsFilesAnewProvesNoOtherItemByItsNumber)
{
    platform::FileStat st;
    st.device = 40;
    st.inode = 2;
    st.mode = S_IFREG | 0644;
    st.size = 7;
    st.modified = {1000, 0};
    platform::FileIdentity recorded = platform::FileIdentity::of(st, {.identity = 0x1111aaaa});
    recorded.mount = 0x51;
    platform::FileStat now = st;
    now.device = 41;
    now.inode = 5;
    const auto marks = [](bool inodesLast, std::optional<quint64> mount) {
        return [=] { return DiskMarks{0x1111aaaa, std::nullopt, mount, inodesLast}; };
    };
    EXPECT_EQ(recorded.prove(now, marks(false, 0x52)), Proof::Proved);
    EXPECT_EQ(recorded.prove(now, marks(true, 0x52)), Proof::Different) << "ext4 keeps its numbers";
    EXPECT_EQ(recorded.prove(now, marks(false, 0x51)), Proof::Different) << "the very mount keeps them too";
    platform::FileStat edited = now;
    edited.modified = {2000, 0};
    EXPECT_EQ(recorded.prove(edited, marks(false, 0x52)), Proof::NotProved);
    EXPECT_EQ(recorded.prove(now, [] { return DiskMarks{0x2222bbbb, std::nullopt, std::nullopt, false}; }),
              Proof::Different);
}

// A found item's bookmark carries its disk's marks and, where the scanned
// item is still there unchanged, its birth time: a disk back under another
// number is its disk.
TEST(DiskDecision, AScannedItemIsCompletedWithItsDiskAndBirth)
{
    kztest::TempDir d;
    const fs::path file = d.write("a/f.txt", "found");
    const auto st = platform::statPath(file, false);
    ASSERT_TRUE(st);
    platform::FileIdentity scanned;
    scanned.device = quint64(st->device);
    scanned.inode = st->inode;
    scanned.folder = false;
    scanned.size = st->size;
    scanned.modified = platform::FileIdentity::Time{qint64(st->modified.tv_sec), qint64(st->modified.tv_nsec)};
    const auto facts = platform::fileSystemOf(file);
    const platform::FileIdentity completed = platform::FileIdentity::completedFromScan(file, scanned);
    EXPECT_EQ(completed.fileSystem, facts.identity);
    EXPECT_EQ(completed.volume, facts.volume);
    EXPECT_EQ(completed.birth.has_value(), st->birth.has_value());

    // Changed since the scan: its birth time is not taken for what was read.
    std::ofstream(file, std::ios::app) << " and changed";
    const platform::FileIdentity afterChange = platform::FileIdentity::completedFromScan(file, scanned);
    EXPECT_FALSE(afterChange.birth);
    EXPECT_EQ(afterChange.size, scanned.size);
    EXPECT_EQ(afterChange.fileSystem, facts.identity);
}

// With its disk as the scan read it, a found item's record names that disk
// whatever has the number by then. Read under a number its disk has left
// since, the item is completed with its birth time where the scan's marks
// prove the disk under its number now; read on another disk, whose number
// the item's disk holds now, nothing vouches for what the path shows and no
// birth time is taken from it.
TEST(DiskDecision, AScannedItemIsCompletedWithTheDiskTheScanRead)
{
    kztest::TempDir d;
    const fs::path file = d.write("a/f.txt", "found");
    const auto st = platform::statPath(file, false);
    ASSERT_TRUE(st);
    const platform::FileSystemFacts facts = platform::fileSystemOf(file);
    if (!facts.identity && !facts.volume)
        GTEST_SKIP() << "the temporary folder's disk tells no identity";
    platform::FileIdentity scanned;
    scanned.device = quint64(st->device) + 1;
    scanned.inode = st->inode;
    scanned.folder = false;
    scanned.size = st->size;
    scanned.modified = platform::FileIdentity::Time{qint64(st->modified.tv_sec), qint64(st->modified.tv_nsec)};

    const platform::FileIdentity completed = platform::FileIdentity::completedFromScan(file, scanned, &facts);
    EXPECT_EQ(completed.device, scanned.device) << "the number the scan read";
    EXPECT_EQ(completed.fileSystem, facts.identity);
    EXPECT_EQ(completed.volume, facts.volume);
    EXPECT_EQ(completed.mount, facts.mount);
    EXPECT_EQ(completed.birth.has_value(), st->birth.has_value() && facts.keepsBirthAcrossRename);
    EXPECT_EQ(completed.disk().proveDiskOfItem(quint64(st->device), platform::fileSystemQueryOf(file)),
              Proof::Proved);

    platform::FileSystemFacts other;
    other.identity = facts.identity ? *facts.identity ^ 1 : 1;
    if (facts.volume)
        other.volume = *facts.volume ^ 1;
    const platform::FileIdentity stranger = platform::FileIdentity::completedFromScan(file, scanned, &other);
    EXPECT_EQ(stranger.fileSystem, other.identity);
    EXPECT_EQ(stranger.volume, other.volume);
    EXPECT_FALSE(stranger.mount);
    EXPECT_FALSE(stranger.birth) << "a birth time of an item on another disk";
    EXPECT_EQ(stranger.size, scanned.size);
    EXPECT_EQ(stranger.modified, scanned.modified);
}

// Where the kernel gives no lasting mount ID (before Linux 6.8), a disk is
// still asked once, not once per item (a virtio disk answers its serial with
// a request to the device): its answer holds until anything is mounted or
// unmounted, as a plain mount ID and a device number are handed out again
// only after.
TEST(DiskDecision, WithoutLastingMountIdsADiskIsAskedOnceUntilTheMountTableChanges)
{
    // The temporary folders prefer memory; a folder on a disk is wanted.
    fs::path onDisk;
    for (const char* candidate : std::initializer_list<const char*>{std::getenv("TMPDIR"), "/var/tmp", "/tmp"}) {
        struct stat folder {};
        if (candidate && *candidate && ::stat(candidate, &folder) == 0 && ::major(folder.st_dev) != 0
            && ::access(candidate, W_OK) == 0) {
            onDisk = candidate;
            break;
        }
    }
    if (onDisk.empty())
        GTEST_SKIP() << "no temporary folder here is on a block device";
    kztest::TempDir dir(onDisk);
    const fs::path file = dir.write("item", "x");
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    FakeSysfs sys;
    const std::string device = "pci/virtio9/block/vdz";
    sys.device(::major(st.st_dev), ::minor(st.st_dev), device);
    sys.file("devices/" + device + "/serial", "FIRST");
    platform::KernelConditions conditions = kztest::runKernelConditions();
    conditions.uniqueMountIds = false;
    conditions.deviceSerials = true;
    conditions.sysfs = sys.dir.path();
    ScopedConditions scoped(conditions);

    const std::optional<quint64> first = platform::fileSystemOf(file).volume;
    ASSERT_TRUE(first);
    // Nothing a real disk does: it only shows whether the disk was asked again.
    sys.file("devices/" + device + "/serial", "SECOND");
    EXPECT_EQ(platform::fileSystemOf(file).volume, first);
    EXPECT_NE(platform::blockDeviceVolume(st.st_dev), first) << "asked afresh, the disk says otherwise";

    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to change the mount table";
    const fs::path at = dir.mkdir("mount");
    ASSERT_EQ(::mount("none", at.c_str(), "tmpfs", 0, "size=1m"), 0) << std::strerror(errno);
    ASSERT_EQ(::umount2(at.c_str(), 0), 0) << std::strerror(errno);
    const std::optional<quint64> after = platform::fileSystemOf(file).volume;
    EXPECT_TRUE(after);
    EXPECT_NE(after, first) << "the disk is asked again once the table changed";
    EXPECT_EQ(after, platform::blockDeviceVolume(st.st_dev));
}

// The shipped program and tools take no condition from the environment: a
// setting there that said "no device serials" or named another boot would
// let a copy of a disk pass as the disk. The tests' own runs read it.
TEST(DiskDecision, TheProgramTakesNoConditionFromTheEnvironment)
{
    const platform::KernelConditions before = kztest::runKernelConditions();
    const char* given = std::getenv("MARAVEX_TEST_KERNEL");
    const std::optional<std::string> runs = given ? std::optional<std::string>(given) : std::nullopt;
    ::setenv("MARAVEX_TEST_KERNEL", "no-unique-mount-id,no-device-serial,boot=forged,namespace=mnt:[1]", 1);
    const platform::KernelConditions system = platform::systemKernelConditions();
    EXPECT_TRUE(system.uniqueMountIds);
    EXPECT_TRUE(system.deviceSerials);
    EXPECT_NE(system.bootId, "forged");
    EXPECT_FALSE(system.bootId.empty());
    EXPECT_NE(system.mountNamespace, "mnt:[1]");

    // The tests' run: what the variable says, in force from the start and
    // what a case returns to.
    kztest::startWithRunKernelConditions();
    const platform::KernelConditions run = platform::kernelConditions();
    EXPECT_FALSE(run.uniqueMountIds);
    EXPECT_FALSE(run.deviceSerials);
    EXPECT_EQ(run.bootId, "forged");
    EXPECT_EQ(run.mountNamespace, "mnt:[1]");
    EXPECT_EQ(kztest::runKernelConditions().bootId, "forged");

    // This run's own conditions again, for the cases after this one.
    if (runs)
        ::setenv("MARAVEX_TEST_KERNEL", runs->c_str(), 1);
    else
        ::unsetenv("MARAVEX_TEST_KERNEL");
    kztest::startWithRunKernelConditions();
    EXPECT_EQ(platform::kernelConditions().bootId, before.bootId);
    EXPECT_EQ(platform::kernelConditions().uniqueMountIds, before.uniqueMountIds);
    EXPECT_EQ(platform::kernelConditions().deviceSerials, before.deviceSerials);
}

// udev publishes the UUID libblkid read from the header, encoded: decoded,
// it is the header's bytes, and gives the number libblkid's own reading
// gives, so that a record made by root (libblkid on the device) matches
// one made by the user (udev). Its other spelling, with blanks made '_',
// is never taken.
TEST(DiskDecision, WhatUdevPublishesOfAFileSystemIsWhatLibblkidReads)
{
    kztest::TempDir d;
    const fs::path image = d / "stick.img";
    if (!kztest::shell("truncate -s 4M " + image.native()) || !kztest::shell("mkfs.vfat -i 1234ABCD " + image.native()))
        GTEST_SKIP() << "no mkfs.vfat here";
    const std::optional<quint64> header = platform::volumeSerialOf(image);
    ASSERT_TRUE(header);
    const platform::DeviceProperties published = udevPropertiesFromBlkid(image.native());
    ASSERT_EQ(published.count("ID_FS_UUID_ENC"), 1u) << "blkid prints udev's properties";

    platform::KernelConditions conditions = kztest::runKernelConditions();
    std::map<dev_t, platform::DeviceProperties> udev{
        {::makedev(8, 1), published},
        {::makedev(8, 2), {{"ID_FS_TYPE", "ntfs"}, {"ID_FS_UUID", "My_Disk"}, {"ID_FS_UUID_ENC", "My\\x20Disk\\x5c"}}},
        {::makedev(8, 3), {{"ID_FS_TYPE", "vfat"}, {"ID_FS_UUID", "1234-ABCD"}}},
        {::makedev(8, 4), {{"ID_FS_TYPE", "vfat"}, {"ID_FS_UUID_ENC", "12\\x3"}}},
        {::makedev(8, 5), {{"ID_FS_TYPE", "vfat"}, {"ID_FS_UUID_ENC", ""}}},
    };
    conditions.udev = [&udev](dev_t device) {
        const auto found = udev.find(device);
        return found == udev.end() ? platform::DeviceProperties() : found->second;
    };
    ScopedConditions scoped(conditions);
    const auto stick = platform::publishedFileSystemOf(::makedev(8, 1));
    ASSERT_TRUE(stick);
    EXPECT_EQ(stick->type, "vfat");
    EXPECT_EQ(stick->uuid, "1234-ABCD");
    EXPECT_EQ(platform::volumeSerialFrom(stick->type, stick->uuid), header);

    const auto spaced = platform::publishedFileSystemOf(::makedev(8, 2));
    ASSERT_TRUE(spaced);
    EXPECT_EQ(spaced->uuid, "My Disk\\") << "the header's bytes, not udev's safe spelling";
    EXPECT_FALSE(platform::publishedFileSystemOf(::makedev(8, 3))) << "only the exact spelling is taken";
    EXPECT_FALSE(platform::publishedFileSystemOf(::makedev(8, 4))) << "a cut escape";
    EXPECT_FALSE(platform::publishedFileSystemOf(::makedev(8, 5)));
    EXPECT_FALSE(platform::publishedFileSystemOf(::makedev(8, 9))) << "udev knows nothing of it";
}

// The usual USB stick shows no serial, and its file system (exFAT or vfat,
// through the kernel or FUSE) no identity of its own: the volume serial in
// its header is all that tells it. The ordinary user may not open the
// device node that libblkid reads it from, so it is read from what udev
namespace {

// A fresh 16 MB exFAT image `image` on a loop device, mounted through FUSE
// at `at`; its device. Inside runWithPrivateMounts(): the case is left out
// (status 77) where the machine cannot make or mount one.
std::string exfatStickMountedAt(const fs::path& image, const fs::path& at)
{
    if (!kztest::shell("truncate -s 16M " + image.native()) || !kztest::shell("mkfs.exfat " + image.native()))
        ::_exit(77);
    const std::string device = kztest::shellOutput("losetup -f --show " + image.native());
    if (device.empty())
        ::_exit(77);
    if (!kztest::shell("mount.exfat-fuse " + device + " " + at.native())) {
        kztest::detachLoopDevice(device, image);
        ::_exit(77);
    }
    return device;
}

} // namespace

// published, and is the same number root reads; where udev published
// nothing, root still reads the header. FUSE over an image reads the image,
// which its user may read.
TEST(DiskDecision, AStickIsKnownToItsUserAsToRoot)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to attach and mount disks";
    const auto outcome = kztest::runWithPrivateMounts([] {
        // A folder the ordinary user may pass through, whatever TMPDIR is.
        kztest::TempDir d(fs::path("/tmp"));
        ASSERT_EQ(::chmod(d.path().c_str(), 0755), 0);
        const fs::path image = d / "stick.img";
        const fs::path at = d.mkdir("stick");
        // As root mounts it: the user may enter it (allow_other).
        const std::string device = exfatStickMountedAt(image, at);
        std::ofstream(at / "f") << "on the stick";
        struct stat node {};
        ASSERT_EQ(::stat(device.c_str(), &node), 0);
        std::map<dev_t, platform::DeviceProperties> published{{node.st_rdev, udevPropertiesFromBlkid(device)}};
        const auto withUdev = [&](bool publishes, bool headerReadable) {
            platform::KernelConditions conditions = kztest::runKernelConditions();
            conditions.udev = [=](dev_t dev) {
                const auto found = published.find(dev);
                return publishes && found != published.end() ? found->second : platform::DeviceProperties();
            };
            if (!headerReadable)
                conditions.fileSystemHeader = [](const fs::path&) { return std::optional<quint64>(); };
            return conditions;
        };
        const auto identityUnder = [&](const platform::KernelConditions& conditions) {
            ScopedConditions scoped(conditions);
            return platform::fileSystemOf(at).identity;
        };

        const std::optional<quint64> asRoot = identityUnder(withUdev(false, true));
        ASSERT_TRUE(asRoot) << "libblkid reads the device as root";
        EXPECT_EQ(asRoot, platform::volumeSerialOf(device));
        EXPECT_EQ(identityUnder(withUdev(true, false)), asRoot) << "udev's word is the header's";
        EXPECT_EQ(identityUnder(withUdev(true, true)), asRoot);
        EXPECT_FALSE(identityUnder(withUdev(false, false)));
        // As USB mass storage shows the stick (no serial) on a kernel before
        // 6.8 (no lasting mount ID): its file system's serial alone tells it.
        const auto asAStick = [&](bool publishes) {
            platform::KernelConditions conditions = withUdev(publishes, true);
            conditions.deviceSerials = false;
            conditions.uniqueMountIds = false;
            return conditions;
        };
        std::optional<platform::DiskIdentity> recorded;
        {
            ScopedConditions scoped(asAStick(false));
            recorded = platform::diskOf(at / "f");
        }
        ASSERT_TRUE(recorded);
        ASSERT_FALSE(recorded->volume);
        const auto st = platform::statPath(at / "f", false);
        ASSERT_TRUE(st);
        const auto proofUnder = [&](const platform::KernelConditions& conditions) {
            ScopedConditions scoped(conditions);
            return recorded->proveDiskOfItem(quint64(st->device), platform::fileSystemQueryOf(at / "f"));
        };
        EXPECT_EQ(proofUnder(asAStick(false)), Proof::Proved);

        EXPECT_TRUE(passesAsOrdinaryUser([&] {
            if (::access(device.c_str(), R_OK) != 0) {
                EXPECT_FALSE(identityUnder(withUdev(false, true))) << "the device node is root's";
                // It read the stick's other marks: the disk or a copy.
                EXPECT_EQ(proofUnder(asAStick(false)), Proof::Proved);
                ScopedConditions scoped(asAStick(false));
                EXPECT_EQ(recorded->proveSameDisk(quint64(st->device), platform::fileSystemQueryOf(at / "f")),
                          Proof::NotProved);
            }
            EXPECT_EQ(identityUnder(withUdev(true, true)), asRoot);
            EXPECT_EQ(proofUnder(asAStick(true)), Proof::Proved);
        }));

        // fusefat naming the device: an unnamed device whose mount names
        // the block device, asked of udev as well.
        ASSERT_EQ(kztest::unplugMount(at), 0) << std::strerror(errno);
        const fs::path vfat = d / "vfat.img";
        ASSERT_TRUE(kztest::detachLoopDevice(device, image));
        if (kztest::shell("truncate -s 4M " + vfat.native()) && kztest::shell("mkfs.vfat -i 2222BBBB " + vfat.native())
            && kztest::shell("losetup " + device + " " + vfat.native())
            && kztest::shell("fusefat -o rw+,allow_other,fsname=" + device + " " + device + " " + at.native())) {
            published[node.st_rdev] = udevPropertiesFromBlkid(device);
            const std::optional<quint64> fuseAsRoot = identityUnder(withUdev(false, true));
            EXPECT_TRUE(fuseAsRoot);
            EXPECT_EQ(identityUnder(withUdev(true, false)), fuseAsRoot);
            EXPECT_NE(fuseAsRoot, asRoot);
            EXPECT_TRUE(passesAsOrdinaryUser([&] {
                EXPECT_EQ(identityUnder(withUdev(true, true)), fuseAsRoot);
                if (::access(device.c_str(), R_OK) != 0) {
                    EXPECT_FALSE(identityUnder(withUdev(false, true)));
                }
            }));
            kztest::unplugMount(at);

            // FUSE over an image the user owns: the user reads it.
            ASSERT_EQ(::chown(vfat.c_str(), 65534, 65534), 0);
            kztest::detachLoopDevice(device, vfat);
            if (kztest::shell("fusefat -o rw+,allow_other,fsname=" + vfat.native() + " " + vfat.native() + " "
                              + at.native())) {
                EXPECT_TRUE(passesAsOrdinaryUser([&] {
                    EXPECT_EQ(identityUnder(withUdev(false, true)), fuseAsRoot);
                }));
                ::umount2(at.c_str(), 0);
            }
        } else {
            kztest::unplugMount(at);
            std::fprintf(stderr, "fusefat on a device is not available here: that part is left out\n");
        }
        kztest::detachLoopDevice(device, vfat);
    });
    if (outcome == kztest::Isolated::Unavailable)
        GTEST_SKIP() << "loop devices or exFAT through FUSE are not available here";
    EXPECT_EQ(outcome, kztest::Isolated::Passed);
}

// The connected disks are read from the mount table, a mount point with a
// blank in its name too: a file system identity that another mounted disk
// tells is found there, and the disk asked about is never its own twin.
TEST(DiskDecision, AnotherConnectedDiskOfTheSameIdentityIsFound)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to mount";
    kztest::TempDir d;
    const auto outcome = kztest::runWithPrivateMounts([&] {
        const fs::path at = d.path() / "a disk";
        fs::create_directories(at);
        kztest::mountTmpfs(at);
        const auto facts = platform::fileSystemOf(at);
        struct stat st {};
        ASSERT_EQ(::stat(at.c_str(), &st), 0);
        if (!facts.identity)
            ::_exit(77); // a kernel whose tmpfs tells no identity
        EXPECT_FALSE(platform::anotherConnectedDiskCarries(*facts.identity, quint64(st.st_dev)));
        EXPECT_TRUE(platform::anotherConnectedDiskCarries(*facts.identity, quint64(st.st_dev) + 1));
        ASSERT_EQ(::umount2(at.c_str(), MNT_DETACH), 0);
        EXPECT_FALSE(platform::anotherConnectedDiskCarries(*facts.identity, quint64(st.st_dev) + 1))
            << "an unmounted disk is not connected";
    });
    if (outcome == kztest::Isolated::Unavailable)
        GTEST_SKIP() << "no private mounts here";
    EXPECT_EQ(outcome, kztest::Isolated::Passed);
}

namespace {

// The process whose command line names `mountPoint` and `program`: the
// daemon of a FUSE mount made there.
pid_t daemonServing(const fs::path& mountPoint, const std::string& program)
{
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream in(entry.path() / "cmdline", std::ios::binary);
        const std::string line((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (line.find(program) != std::string::npos && line.find(mountPoint.native() + '\0') != std::string::npos)
            return pid_t(std::stoi(name));
    }
    return 0;
}

} // namespace

// A FUSE daemon that answers nobody (stopped, or busy with another's work)
// never holds the search for a disk of the same identity, nor the list of
// mounted volumes: a FUSE disk is told from the mount table and the header
// of its device or image.
TEST(DiskDecision, AStoppedFuseDaemonHoldsNoListOfDisks)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to attach and mount disks";
    const auto outcome = kztest::runWithPrivateMounts([] {
        kztest::TempDir d;
        const fs::path at = d.mkdir("stick");
        const fs::path image = d / "stick.img";
        const std::string device = exfatStickMountedAt(image, at);
        const auto facts = platform::fileSystemOf(at);
        struct stat st {};
        ASSERT_EQ(::stat(at.c_str(), &st), 0);
        ASSERT_TRUE(facts.identity);
        const pid_t daemon = daemonServing(at, "exfat");
        ASSERT_GT(daemon, 0);
        ASSERT_EQ(::kill(daemon, SIGSTOP), 0);
        auto answer = std::async(std::launch::async, [&] {
            const auto volumes = platform::mountedVolumes();
            EXPECT_TRUE(std::any_of(volumes.begin(), volumes.end(),
                                    [&](const platform::VolumeInfo& v) { return v.mountPoint == at; }));
            return std::pair(platform::anotherConnectedDiskCarries(*facts.identity, quint64(st.st_dev)),
                             platform::anotherConnectedDiskCarries(*facts.identity, quint64(st.st_dev) + 1));
        });
        const bool answered = answer.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
        // Whatever happened, the daemon answers again before the mount goes.
        ::kill(daemon, SIGCONT);
        EXPECT_TRUE(answered) << "a list of disks waited on a stopped FUSE daemon";
        const auto [itself, another] = answer.get();
        EXPECT_FALSE(itself) << "the disk asked about is never its own twin";
        EXPECT_TRUE(another) << "the FUSE disk's identity was read from its device";
        kztest::unplugMount(at);
        kztest::detachLoopDevice(device, image);
    });
    if (outcome == kztest::Isolated::Unavailable)
        GTEST_SKIP() << "loop devices or exFAT through FUSE are not available here";
    EXPECT_EQ(outcome, kztest::Isolated::Passed);
}

// On a disk that numbers its files anew, a side that read the disk's marks
// but not its file system's identity (its user, without udev, where root
// reads the header) may be judging the disk itself: the disk or a copy,
// never another disk. What the marks show read: a mount mark or a volume
// in a record; the disk's numbering itself now. A record without any mark,
// and disks that keep their numbers, are judged as before.
TEST(DiskDecision, ASideThatCouldNotReadARenumberingDisksFileSystemTakesTheOthersIdentity)
{
    constexpr quint64 kFsid = 0xf5f5f5f5f5f5ULL; // no connected disk tells it
    const std::optional<quint64> none;
    const DiskMarks renumbering{kFsid, none, 0x3b, false};
    const DiskMarks unreadRenumbering{none, none, 0x3b, false};
    const DiskMarks unreadRenumberingBefore68{none, none, none, false};
    struct Row {
        DiskIdentity recorded;
        quint64 deviceNow;
        DiskMarks now;
        DiskAnswer expected;
        const char* what;
    };
    const Row rows[] = {
        {{7, none, none, 0x3a}, 9, renumbering, DiskAnswer::SameOrCopy, "its user's record, root after a replug"},
        {{7, none, none, 0x3a}, 7, renumbering, DiskAnswer::SameOrCopy, "the same, under the old number"},
        {{7, none, 0xd15c, none}, 9, renumbering, DiskAnswer::SameOrCopy, "a volume shows the marks were read"},
        {{7, kFsid, none, 0x3a}, 9, unreadRenumbering, DiskAnswer::SameOrCopy, "root's record, its user now"},
        {{7, kFsid, none, none}, 9, unreadRenumberingBefore68, DiskAnswer::SameOrCopy, "no mount mark either"},
        {{7, kFsid + 1, none, 0x3a}, 9, unreadRenumbering, DiskAnswer::SameOrCopy, "nothing to compare"},
        {{7, kFsid + 1, none, 0x3a}, 9, renumbering, DiskAnswer::Different, "another identity is another disk"},
        {{7, none, none, 0x3b}, 9, renumbering, DiskAnswer::Same, "the very mount"},
        {{7, none, none, none}, 9, renumbering, DiskAnswer::Different, "a record without marks, as before"},
        {{7, none, none, none}, 7, renumbering, DiskAnswer::Unknown, "a record without marks, as before"},
        {{7, none, none, 0x3a}, 9, {kFsid, none, 0x3b, true}, DiskAnswer::Different, "numbers kept"},
        {{7, kFsid, none, 0x3a}, 9, {none, none, 0x3b, true}, DiskAnswer::Different, "numbers kept"},
        {{7, kFsid, none, 0x3a}, 7, {none, none, 0x3b, true}, DiskAnswer::Unknown, "numbers kept"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(judge(row.recorded, row.deviceNow, row.now), row.expected) << row.what;
        if (row.expected == DiskAnswer::SameOrCopy) {
            EXPECT_EQ(row.recorded.proveSameDisk(row.deviceNow, [&] { return row.now; }), Proof::NotProved) << row.what;
            EXPECT_EQ(row.recorded.proveDiskOfItem(row.deviceNow, [&] { return row.now; }), Proof::Proved) << row.what;
        }
    }
}

namespace {

// A disk image attached to a loop device and mounted; unmounted and let go
// at the end, whatever happened.
struct MountedImage {
    std::string device;
    fs::path image;
    fs::path at;
    MountedImage(const fs::path& imageFile, const fs::path& mountPoint, const char* type) : image(imageFile)
    {
        device = kztest::shellOutput("losetup -f --show " + image.native());
        fs::create_directories(mountPoint);
        if (!device.empty() && ::mount(device.c_str(), mountPoint.c_str(), type, 0, nullptr) == 0)
            at = mountPoint;
    }
    ~MountedImage() { letGo(); }
    void letGo()
    {
        if (!at.empty())
            ::umount2(at.c_str(), MNT_DETACH);
        if (!device.empty())
            kztest::detachLoopDevice(device, image);
        at.clear();
        device.clear();
    }
    MountedImage(const MountedImage&) = delete;
    MountedImage& operator=(const MountedImage&) = delete;
};

} // namespace

// The mount table's watch tells of a mount at once: a byte copy mounted a
// moment after the disk was judged makes the disk a twin on the next
// judgement, and its unmount makes it the disk or a copy again.
TEST(DiskDecision, ATwinMountedAMomentAgoIsSeenAtOnce)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to attach and mount disks";
    const auto outcome = kztest::runWithPrivateMounts([] {
        kztest::TempDir d;
        const fs::path image = d / "disk.img";
        const fs::path copy = d / "copy.img";
        if (!kztest::shell("truncate -s 8M " + image.native()) || !kztest::shell("mkfs.ext4 -q -F " + image.native())
            || !kztest::shell("cp " + image.native() + " " + copy.native()))
            ::_exit(77);
        MountedImage disk(image, d / "disk", "ext4");
        if (disk.at.empty()) {
            disk.letGo();
            ::_exit(77);
        }
        const auto identity = platform::fileSystemOf(disk.at).identity;
        struct stat st {};
        ASSERT_EQ(::stat(disk.at.c_str(), &st), 0);
        ASSERT_TRUE(identity);
        const quint64 device = quint64(st.st_dev);
        const DiskIdentity recorded{device, identity, std::nullopt, std::nullopt};
        const DiskMarks now{identity};
        EXPECT_FALSE(platform::anotherConnectedDiskCarries(*identity, device));
        EXPECT_EQ(judge(recorded, device, now), DiskAnswer::SameOrCopy);
        {
            MountedImage twin(copy, d / "twin", "ext4");
            ASSERT_FALSE(twin.at.empty()) << "the copy could not be mounted beside its disk";
            EXPECT_TRUE(platform::anotherConnectedDiskCarries(*identity, device));
            EXPECT_EQ(judge(recorded, device, now), DiskAnswer::Twin);
            // A record read from the very disk speaks of that disk, beside
            // its twin too; read from any other, it tells neither apart.
            const auto marks = [now] { return now; };
            EXPECT_EQ(recorded.judgeFromRecordOn(device, device, marks), DiskAnswer::Same);
            EXPECT_EQ(recorded.judgeFromRecordOn(device + 1, device, marks), DiskAnswer::Twin);
            EXPECT_EQ(recorded.judgeFromRecordOn(0, device, marks), DiskAnswer::Twin);
        }
        EXPECT_EQ(judge(recorded, device, now), DiskAnswer::SameOrCopy) << "the copy went";
    });
    if (outcome == kztest::Isolated::Unavailable)
        GTEST_SKIP() << "loop devices or ext4 are not available here";
    EXPECT_EQ(outcome, kztest::Isolated::Passed);
}
