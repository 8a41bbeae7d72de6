#include "platform/FileStat.h"
#include "platform/Volumes.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/sysmacros.h>

using namespace platform;
namespace fs = std::filesystem;

namespace {

const QByteArray kSample =
    "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
    "27 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw,discard\n"
    "40 27 8:17 / /media/user/My\\040Disk rw,nosuid,nodev shared:20 master:3 - vfat /dev/sdb1 rw,uid=1000\n"
    "41 27 0:50 / /mnt/share ro,relatime - nfs4 server:/export/home ro,vers=4.2\n"
    "42 27 0:51 /sub /mnt/data rw - ext4 /dev/sdc1 rw\n"
    "43 27 0:52 / /mnt/database rw - fuse.sshfs me@host:/srv rw\n"
    "44 42 0:53 / /mnt/data/inner rw - tmpfs tmpfs rw\n"
    "45 42 0:54 / /mnt/data/inner rw - tmpfs second rw\n"
    "this line is not a mount\n"
    "46 27 0:55 / /mnt/broken rw no-separator ext4 /dev/x rw\n"
    "\n";

} // namespace

TEST(Volumes, ParsesMountInfoAndItsEscapes)
{
    const auto mounts = parseMountInfo(kSample);
    ASSERT_EQ(mounts.size(), 8u);
    const auto& root = mounts[1];
    EXPECT_EQ(root.mountId, 27);
    EXPECT_EQ(root.parentId, 1);
    EXPECT_EQ(root.deviceId, makedev(254, 0));
    EXPECT_EQ(root.fsType, QStringLiteral("ext4"));
    EXPECT_EQ(root.source, "/dev/vda");
    EXPECT_EQ(root.superOptions, "rw,discard");
    const auto& usb = mounts[2]; // two optional fields and an escaped space
    EXPECT_EQ(usb.mountPoint, fs::path("/media/user/My Disk"));
    EXPECT_EQ(usb.fsType, QStringLiteral("vfat"));
    EXPECT_EQ(usb.mountOptions, "rw,nosuid,nodev");
    EXPECT_EQ(mounts[4].root, "/sub");

    EXPECT_EQ(unescapeMountField("a\\040b\\011c\\134d\\012"), std::string("a b\tc\\d\n"));
    EXPECT_EQ(unescapeMountField("trailing\\04 \\999"), "trailing\\04 \\999"); // incomplete escapes stay
    EXPECT_EQ(unescapeLabel("caf\\xc3\\xa9\\x20"), "caf\xc3\xa9 ");
    EXPECT_EQ(unescapeLabel("odd\\xZZ\\x2"), "odd\\xZZ\\x2");

    for (const char16_t* type : {u"nfs4", u"cifs", u"fuse.sshfs"})
        EXPECT_TRUE(isNetworkFileSystemType(QStringView(type))) << QString::fromUtf16(type).toStdString();
    for (const char16_t* type : {u"ext4", u"fuse", u"", u"nfsd"})
        EXPECT_FALSE(isNetworkFileSystemType(QStringView(type))) << QString::fromUtf16(type).toStdString();
}

TEST(Volumes, PicksTheLongestMountByComponents)
{
    const auto mounts = parseMountInfo(kSample);
    const struct {
        const char* path;
        std::optional<dev_t> device;
        const char* expected;
    } cases[] = {
        {"/home/user/file", std::nullopt, "/"},
        {"/mnt/data", std::nullopt, "/mnt/data"},
        {"/mnt/database/x", std::nullopt, "/mnt/database"}, // not inside /mnt/data
        {"/mnt/datab", std::nullopt, "/"},
        {"/media/user/My Disk/photo.jpg", std::nullopt, "/media/user/My Disk"},
        // Reached through a link: the device names the volume.
        {"/home/user/link-to-share/f", makedev(0, 50), "/mnt/share"},
        // A device that no mount reports (a nested subvolume): fall back to the prefix.
        {"/mnt/data/x", makedev(0, 99), "/mnt/data"},
    };
    for (const auto& c : cases) {
        const auto index = pickMountFor(mounts, c.path, c.device);
        ASSERT_TRUE(index) << c.path;
        EXPECT_EQ(mounts[*index].mountPoint, fs::path(c.expected)) << c.path;
    }
    // Of two mounts on one folder, the later one is the visible one.
    EXPECT_EQ(mounts[pickMountFor(mounts, "/mnt/data/inner/f", std::nullopt).value()].source, "second");
    EXPECT_FALSE(pickMountFor({}, "/x", std::nullopt));
}

TEST(Volumes, DescribesTheLiveSystem)
{
    kztest::TempDir dir;
    const auto file = dir.write("sub/file", "x");
    const auto volume = volumeForPath(file);
    ASSERT_TRUE(volume);
    EXPECT_EQ(volume->deviceId, statPath(file, false)->device);
    EXPECT_GT(volume->capacity, 0u);
    EXPECT_LE(volume->available, volume->capacity);
    EXPECT_TRUE(isVolumeRoot("/"));
    EXPECT_TRUE(isVolumeRoot(volume->mountPoint));
    EXPECT_FALSE(isVolumeRoot(dir.path()));
    // A volume without a label (no kernel file system has one) is named by its folder.
    for (const auto& v : mountedVolumes()) {
        if (v.mountPoint != "/" && v.fsType == QLatin1String("proc")) {
            EXPECT_EQ(v.name, QString::fromStdString(v.mountPoint.filename().native())) << v.mountPoint;
        }
    }
}

// The kernel's own file systems are known by their statfs type, and a
// devtmpfs, which answers statfs as a tmpfs does, by the name of its mount.
TEST(Volumes, TellsTheKernelsOwnFileSystemsFromFilesOfUsers)
{
    kztest::TempDir dir;
    EXPECT_FALSE(isOnKernelFileSystem(dir.path()));
    EXPECT_FALSE(isOnKernelFileSystem("/"));
    EXPECT_FALSE(isOnKernelFileSystem(dir / "missing"));
    EXPECT_TRUE(isOnKernelFileSystem("/proc/self/status"));
    EXPECT_TRUE(isKernelFileSystemAt(AT_FDCWD, "/proc"));
    if (fs::exists("/sys/kernel")) {
        EXPECT_TRUE(isOnKernelFileSystem("/sys/kernel"));
    }
    // /dev, where it is a devtmpfs; a plain tmpfs holds files of users. A
    // mount hidden under a later one at the same place cannot be asked, and
    // no other is: another's FUSE daemon may be stopped and never answer.
    for (const VolumeInfo& volume : mountedVolumes()) {
        if (!QStringList{u"devtmpfs"_qs, u"devpts"_qs, u"tmpfs"_qs, u"ext4"_qs}.contains(volume.fsType))
            continue;
        const auto st = statPath(volume.mountPoint, true);
        if (!st || st->device != volume.deviceId)
            continue;
        if (volume.fsType == QLatin1String("devtmpfs") || volume.fsType == QLatin1String("devpts")) {
            EXPECT_TRUE(isOnKernelFileSystem(volume.mountPoint)) << volume.mountPoint;
        }
        if (volume.fsType == QLatin1String("tmpfs") || volume.fsType == QLatin1String("ext4")) {
            EXPECT_FALSE(isOnKernelFileSystem(volume.mountPoint)) << volume.mountPoint;
        }
    }
    // A link is judged as itself where the caller asks so.
    fs::create_directory_symlink("/proc", dir / "to-proc");
    EXPECT_FALSE(isKernelFileSystemAt(AT_FDCWD, (dir / "to-proc").c_str()));
    EXPECT_TRUE(isOnKernelFileSystem(dir / "to-proc"));
    for (const char* type : {"proc", "sysfs", "devtmpfs", "cgroup2", "nsfs"})
        EXPECT_TRUE(isKernelFileSystemType(QString::fromLatin1(type))) << type;
    for (const char* type : {"tmpfs", "ext4", "nfs4", "fuse.sshfs", ""})
        EXPECT_FALSE(isKernelFileSystemType(QString::fromLatin1(type))) << type;
}
