#include "platform/FileStat.h"
#include "platform/Volumes.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

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

TEST(Volumes, ParsesMountInfo)
{
    const auto mounts = parseMountInfo(kSample);
    ASSERT_EQ(mounts.size(), 8u);

    const auto& root = mounts[1];
    EXPECT_EQ(root.mountId, 27);
    EXPECT_EQ(root.parentId, 1);
    EXPECT_EQ(root.deviceId, makedev(254, 0));
    EXPECT_EQ(root.mountPoint, fs::path("/"));
    EXPECT_EQ(root.fsType, QStringLiteral("ext4"));
    EXPECT_EQ(root.source, "/dev/vda");
    EXPECT_EQ(root.superOptions, "rw,discard");

    const auto& usb = mounts[2]; // two optional fields and an escaped space
    EXPECT_EQ(usb.mountPoint, fs::path("/media/user/My Disk"));
    EXPECT_EQ(usb.fsType, QStringLiteral("vfat"));
    EXPECT_EQ(usb.source, "/dev/sdb1");
    EXPECT_EQ(usb.mountOptions, "rw,nosuid,nodev");

    EXPECT_EQ(mounts[3].fsType, QStringLiteral("nfs4"));
    EXPECT_EQ(mounts[3].source, "server:/export/home");
    EXPECT_EQ(mounts[4].root, "/sub");
}

TEST(Volumes, UnescapesFieldsAndLabels)
{
    EXPECT_EQ(unescapeMountField("a\\040b\\011c\\134d\\012"), std::string("a b\tc\\d\n"));
    EXPECT_EQ(unescapeMountField("trailing\\04"), "trailing\\04"); // incomplete escapes stay
    EXPECT_EQ(unescapeMountField("\\999"), "\\999");
    EXPECT_EQ(unescapeLabel("My\\x20Disk"), "My Disk");
    EXPECT_EQ(unescapeLabel("caf\\xc3\\xa9"), "caf\xc3\xa9");
    EXPECT_EQ(unescapeLabel("odd\\xZZ\\x2"), "odd\\xZZ\\x2");
}

TEST(Volumes, NetworkTypes)
{
    for (const char16_t* type : {u"nfs", u"nfs4", u"cifs", u"smb3", u"smbfs", u"afs", u"coda", u"9p", u"fuse.sshfs"})
        EXPECT_TRUE(isNetworkFileSystemType(QString::fromUtf16(type))) << QString::fromUtf16(type).toStdString();
    for (const char16_t* type : {u"ext4", u"tmpfs", u"fuse", u"fuse.gvfsd-fuse", u"btrfs", u"", u"nfsd"})
        EXPECT_FALSE(isNetworkFileSystemType(QString::fromUtf16(type))) << QString::fromUtf16(type).toStdString();
}

TEST(Volumes, PicksTheLongestMountByComponents)
{
    const auto mounts = parseMountInfo(kSample);
    struct Case {
        const char* path;
        std::optional<dev_t> device;
        const char* expected;
    };
    const Case cases[] = {
        {"/home/user/file", std::nullopt, "/"},
        {"/mnt/data/x", std::nullopt, "/mnt/data"},
        {"/mnt/data", std::nullopt, "/mnt/data"},
        {"/mnt/database/x", std::nullopt, "/mnt/database"}, // not inside /mnt/data
        {"/mnt/datab", std::nullopt, "/"},
        {"/media/user/My Disk/photo.jpg", std::nullopt, "/media/user/My Disk"},
        {"/mnt/data/inner/f", std::nullopt, "/mnt/data/inner"},
        // Reached through a link: the device names the volume.
        {"/home/user/link-to-share/f", makedev(0, 50), "/mnt/share"},
        {"/mnt/data/x", makedev(0, 51), "/mnt/data"},
        // A device that no mount reports (a nested subvolume): fall back to the prefix.
        {"/mnt/data/x", makedev(0, 99), "/mnt/data"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const auto index = pickMountFor(mounts, c.path, c.device);
        ASSERT_TRUE(index);
        EXPECT_EQ(mounts[*index].mountPoint, fs::path(c.expected));
    }
    // Of two mounts on one folder, the later one is the visible one.
    const auto inner = pickMountFor(mounts, "/mnt/data/inner/f", std::nullopt);
    EXPECT_EQ(mounts[*inner].source, "second");

    EXPECT_FALSE(pickMountFor({}, "/x", std::nullopt));
}

TEST(Volumes, DescribesTheLiveSystem)
{
    const auto volumes = mountedVolumes();
    ASSERT_FALSE(volumes.empty());
    const auto root = std::find_if(volumes.begin(), volumes.end(), [](const VolumeInfo& v) { return v.mountPoint == "/"; });
    ASSERT_NE(root, volumes.end());
    EXPECT_EQ(root->name, startupDiskName());
    EXPECT_FALSE(startupDiskName().isEmpty());
    // A volume without a label (nothing of a kernel file system is) is named
    // by its folder.
    for (const auto& v : volumes) {
        if (v.mountPoint != "/" && (v.fsType == QLatin1String("proc") || v.fsType == QLatin1String("sysfs"))) {
            EXPECT_EQ(v.name, QString::fromStdString(v.mountPoint.filename().native())) << v.mountPoint;
            EXPECT_EQ(v.capacity, 0u) << v.mountPoint;
        }
    }

    kztest::TempDir dir;
    const auto file = dir.write("sub/file", "x");
    const auto volume = volumeForPath(file);
    ASSERT_TRUE(volume);
    EXPECT_EQ(volume->deviceId, statPath(file, false)->device);
    EXPECT_GT(volume->capacity, 0u);
    EXPECT_LE(volume->available, volume->capacity);
    EXPECT_FALSE(volume->name.isEmpty());
    EXPECT_FALSE(volume->isNetwork);

    EXPECT_TRUE(isVolumeRoot("/"));
    EXPECT_TRUE(isVolumeRoot("/proc") || !fs::exists("/proc/self"));
    EXPECT_FALSE(isVolumeRoot(dir.path()));
    EXPECT_FALSE(isVolumeRoot(file));
    EXPECT_FALSE(isVolumeRoot(dir / "missing"));
    EXPECT_TRUE(isVolumeRoot(volume->mountPoint));
}
