#include "services/KZFilesUtilities.h"

#include "support/TestSupport.h"
#include "platform/FinderInfo.h"
#include "platform/StringTable.h"
#include "platform/Volumes.h"
#include "services/KZStartupDiskName.h"

#include <QFile>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const KZFilesUtilities& files() { return KZFilesUtilities::sharedControl(); }

// A name that is not valid UTF-8 (Latin-1 "café").
const std::string kLatin1Name = std::string("caf") + char(0xE9);

fs::path pathOf(const QVariant& value) { return value.value<fs::path>(); }

// Sets the immutable flag for one scope (an immutable file left behind
// could not be cleaned up); isSet() is false where that is not allowed.
class ImmutableFlag {
public:
    explicit ImmutableFlag(fs::path path) : path_(std::move(path)) { set_ = change(true); }
    ~ImmutableFlag()
    {
        if (set_)
            change(false);
    }
    bool isSet() const { return set_; }

private:
    bool change(bool on) const
    {
        const int fd = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return false;
        int flags = 0;
        bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        if (ok) {
            flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
            ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        ::close(fd);
        return ok;
    }

    fs::path path_;
    bool set_ = false;
};

std::vector<std::string> sortedKeys(const QVariantMap& map)
{
    std::vector<std::string> keys;
    for (const QString& key : map.keys())
        keys.push_back(key.toStdString());
    std::sort(keys.begin(), keys.end());
    return keys;
}

using Keys = std::vector<std::string>;

// Marks an item with Finder flags; false when the file system refuses
// user attributes (the caller skips).
bool setFinderFlags(const fs::path& item, quint16 flags)
{
    platform::FinderInfo info;
    info.setFlags(flags);
    return platform::writeFinderInfo(item, info) && platform::readFinderInfo(item).flags() == flags;
}

// Installs a media folder for the duration of a test.
struct MediaFolder {
    explicit MediaFolder(fs::path folder)
    {
        KZFilesUtilities::setiTunesFolderProvider([folder] { return folder; });
    }
    ~MediaFolder() { KZFilesUtilities::setiTunesFolderProvider({}); }
};

TEST(KZFilesUtilities, ItemNames)
{
    kztest::TempDir dir;
    const auto file = dir.write("report.txt", "x");
    const auto folder = dir.mkdir("Folder");
    const auto odd = dir.write(kLatin1Name, "x");

    EXPECT_EQ(files().itemNameWithURL(file), QStringLiteral("report.txt"));
    EXPECT_EQ(files().itemNameWithURL(fs::path(folder.native() + "/")), QStringLiteral("Folder"));
    EXPECT_EQ(files().itemNameWithURL(folder / "."), QStringLiteral("Folder"));
    EXPECT_EQ(files().itemNameWithURL(dir / "missing"), std::nullopt);
    EXPECT_EQ(files().itemNameWithURL(fs::path()), std::nullopt);
    EXPECT_EQ(files().itemNameWithURL("/"), platform::startupDiskName());

    // Shown, not lost: a name that is not UTF-8 still has a name.
    const auto name = files().itemNameWithURL(odd);
    ASSERT_TRUE(name.has_value());
    EXPECT_TRUE(name->startsWith(QStringLiteral("caf")));
}

TEST(KZFilesUtilities, PathOfADeletedItemIsMissingWithCode4)
{
    kztest::TempDir dir;
    const auto file = dir.write("gone.txt", "x");
    int err = 0;
    EXPECT_EQ(files().pathWithURL(file, &err), file);
    EXPECT_EQ(err, 0);
    fs::remove(file);
    EXPECT_TRUE(files().pathWithURL(file, &err).empty());
    EXPECT_EQ(err, 4);

    err = 0;
    EXPECT_TRUE(files().pathWithURL(fs::path(), &err).empty());
    EXPECT_EQ(err, 4);
    // A dangling link names nothing that exists either.
    fs::create_symlink(dir / "nowhere", dir / "dangling");
    err = 0;
    EXPECT_TRUE(files().pathWithURL(dir / "dangling", &err).empty());
    EXPECT_EQ(err, 4);
    EXPECT_EQ(files().pathWithURL(fs::path(dir.path().native() + "/")), dir.path());
}

TEST(KZFilesUtilities, HiddenItems)
{
    kztest::TempDir dir;
    const auto dotted = dir.write(".profile", "x");
    const auto plain = dir.write("plain", "x");
    EXPECT_TRUE(files().isHiddenWithURL(dotted));
    EXPECT_TRUE(files().isHiddenWithURL(dir / ".not-there")); // the name alone decides
    EXPECT_FALSE(files().isHiddenWithURL(plain));
    EXPECT_FALSE(files().isHiddenWithURL(fs::path()));

    if (!setFinderFlags(plain, platform::FinderInfo::kIsInvisible))
        GTEST_SKIP() << "no user extended attributes here";
    EXPECT_TRUE(files().isHiddenWithURL(plain));
}

TEST(KZFilesUtilities, KindsOfItems)
{
    kztest::TempDir dir;
    const auto folder = dir.mkdir("Folder");
    const auto file = dir.write("file.txt", "x");
    const auto app = dir.mkdir("Tool.app");
    const auto library = dir.mkdir("Pictures.photoslibrary");
    fs::create_directory_symlink(folder, dir / "folder-link");
    fs::create_symlink(dir / "nowhere", dir / "dangling");
    fs::create_directory_symlink(app, dir / "app-link");

    struct Case {
        fs::path path;
        bool directory, package, alias;
    };
    const Case cases[] = {
        {folder, true, false, false},
        {file, false, false, false},
        {app, true, true, false},
        {library, true, true, false},
        {dir / "folder-link", false, false, true},
        {dir / "dangling", false, false, true},
        {dir / "app-link", false, false, true},
        {dir / "missing", false, false, false},
        {fs::path(), false, false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(files().isDirectoryWithURL(c.path), c.directory) << c.path;
        EXPECT_EQ(files().isPackageWithURL(c.path), c.package) << c.path;
        EXPECT_EQ(files().isAliasWithURL(c.path), c.alias) << c.path;
    }
    EXPECT_TRUE(files().isApplicationWithURL(app));
    EXPECT_FALSE(files().isApplicationWithURL(library));
}

TEST(KZFilesUtilities, FinderAliasFlagMakesAnAlias)
{
    kztest::TempDir dir;
    const auto alias = dir.write("Old Alias", "opaque alias record");
    if (!setFinderFlags(alias, platform::FinderInfo::kIsAlias))
        GTEST_SKIP() << "no user extended attributes here";
    EXPECT_TRUE(files().isAliasWithURL(alias));
    // It cannot be followed, so it is no source.
    EXPECT_EQ(files().directoryInfoForPath(alias), std::nullopt);
}

TEST(KZFilesUtilities, AttributesAnswerInvalidWhenUnreadable)
{
    kztest::TempDir dir;
    const auto file = dir.write("ten.bin", "0123456789");
    using Key = KZFilesUtilities::ResourceKey;
    EXPECT_EQ(files().attributeWithURL(file, Key::FileSize).value<quint64>(), 10u);
    EXPECT_EQ(files().attributeWithURL(file, Key::TotalFileSize).value<quint64>(), 10u);
    EXPECT_FALSE(files().attributeWithURL(dir.path(), Key::FileSize).isValid());
    EXPECT_FALSE(files().attributeWithURL(dir / "missing", Key::IsDirectory).isValid());
    EXPECT_EQ(files().attributeWithURL(file, Key::Name).toString(), QStringLiteral("ten.bin"));
    EXPECT_EQ(pathOf(files().attributeWithURL(file, Key::ParentDirectory)), dir.path());
    EXPECT_EQ(files().attributeWithURL(file, Key::VolumeIdentifier).value<quint64>(),
              files().volumeIDWithItemURL(file).value());
    EXPECT_TRUE(files().attributeWithURL(file, Key::VolumeIsLocal).isValid());
}

TEST(KZFilesUtilities, VolumesAndParents)
{
    kztest::TempDir dir;
    const auto file = dir.write("f", "x");
    EXPECT_TRUE(files().isVolumeWithURL("/"));
    EXPECT_FALSE(files().isVolumeWithURL(file));
    EXPECT_GT(files().volumeCapacityWithURL(file), 0u);
    EXPECT_EQ(files().volumeCapacityWithURL(dir / "missing"), 0u);
    EXPECT_EQ(files().volumeIDWithItemURL(dir / "missing"), std::nullopt);
    EXPECT_TRUE(files().parentDirectoryWithURL("/").empty());
    EXPECT_EQ(files().parentDirectoryWithURL(file), dir.path());
    EXPECT_TRUE(files().parentDirectoryWithURL(dir / "missing").empty());
}

TEST(KZFilesUtilities, ObjectIdentifiersKeepTheWholeInodeAndTheDevice)
{
    kztest::TempDir dir;
    const auto folder = dir.mkdir("Folder");
    fs::create_directory_symlink(folder, dir / "link");
    struct stat st{};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);

    const KZObjectID id = files().directoryIDWithURL(folder);
    EXPECT_EQ(id.inode, quint64(st.st_ino));
    EXPECT_EQ(id.device, quint64(st.st_dev));
    EXPECT_EQ(files().directoryIDWithURL(dir / "link"), id); // getattrlist follows the link
    EXPECT_TRUE(files().directoryIDWithURL(dir / "missing").isNull());
    EXPECT_TRUE(files().directoryIDWithURL(fs::path()).isNull());

    // Same inode number on another device is another item.
    const KZObjectID elsewhere{id.device + 1, id.inode};
    EXPECT_NE(elsewhere, id);
    // Inode numbers above 32 bits (XFS, btrfs, NFS) stay apart from their
    // lower half.
    const KZObjectID high{id.device, id.inode + (quint64(1) << 32)};
    EXPECT_NE(high, id);
    EXPECT_LT(id, high);
}

TEST(KZFilesUtilities, NormalizeStringDecomposesCompatibly)
{
    EXPECT_EQ(files().normalizeString(QStringLiteral("\uFB01le")), QStringLiteral("file"));
    EXPECT_EQ(files().normalizeString(QStringLiteral("caf\u00E9")), QStringLiteral("cafe\u0301"));
}

TEST(KZFilesUtilities, FileURLsCarryEveryByte)
{
    const fs::path odd = fs::path("/tmp") / (kLatin1Name + " 100%#?");
    const QUrl url = KZFilesUtilities::fileURLWithPath(odd);
    EXPECT_TRUE(url.isLocalFile());
    EXPECT_EQ(KZFilesUtilities::pathFromFileURL(url), odd);
    EXPECT_TRUE(KZFilesUtilities::pathFromFileURL(QUrl(QStringLiteral("https://example.org/a"))).empty());
    EXPECT_EQ(KZFilesUtilities::pathFromFileURL(QUrl::fromLocalFile(QStringLiteral("/a b/\u00E9"))),
              fs::path("/a b/\xC3\xA9"));
}

TEST(KZFilesUtilities, URLsToPathsKeepsWhatIsNoExistingFile)
{
    kztest::TempDir dir;
    const auto file = dir.write("here.txt", "x");
    const auto odd = dir.write(kLatin1Name, "x");
    const QUrl remote(QStringLiteral("https://example.org/file.txt"));
    const QUrl missing = KZFilesUtilities::fileURLWithPath(dir / "missing.txt");

    const auto out = files().URLsToPaths(
        QList<QUrl>{KZFilesUtilities::fileURLWithPath(file), remote, missing, KZFilesUtilities::fileURLWithPath(odd)});
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(std::get<fs::path>(out[0]), file);
    EXPECT_EQ(std::get<QUrl>(out[1]), remote);
    EXPECT_EQ(std::get<QUrl>(out[2]), missing);
    EXPECT_EQ(std::get<fs::path>(out[3]), odd);

    EXPECT_EQ(std::get<QUrl>(files().URLsToPaths(remote)), remote);
}

TEST(KZFilesUtilities, SystemItemLists)
{
    const QStringList invisible = files().invisibleSystemItems();
    EXPECT_EQ(invisible.size(), 32);
    EXPECT_TRUE(invisible.contains(QStringLiteral(".HFS+ Private Directory Data\n")));
    EXPECT_TRUE(invisible.contains(QStringLiteral(".Archived_Directories\n")));
    EXPECT_EQ(invisible.last(), QStringLiteral(".Archived_Directories?"));
    EXPECT_EQ(files().visibleSystemItems().size(), 3);
    const auto paths = files().visibleSystemPaths();
    ASSERT_EQ(paths.size(), 3u);
    EXPECT_EQ(paths[2], fs::path("/System Folder"));
}

TEST(KZFilesUtilities, PathForms)
{
    quint16 count = 99;
    EXPECT_EQ(files().removeSlashesFromFileSystemName(QStringLiteral("a/b/c"), &count), QStringLiteral("a:b:c"));
    EXPECT_EQ(count, 2);
    EXPECT_EQ(files().removeSlashesFromFileSystemName(QStringLiteral("abc"), &count), QStringLiteral("abc"));
    EXPECT_EQ(count, 0);

    const std::string disk =
        QFile::encodeName(files().removeSlashesFromFileSystemName(KZStartupDiskName())).toStdString();
    const struct {
        fs::path in, out;
    } absolute[] = {
        {"/", "/Volumes/" + disk},
        {"/home/ann", "/Volumes/" + disk + "/home/ann"},
        {"/Volumes/Data/x", "/Volumes/Data/x"},
        {"/Volumes", "/Volumes"},
        // Only a leading component counts, not "/Volumes" anywhere.
        {"/home/ann/Volumes/x", "/Volumes/" + disk + "/home/ann/Volumes/x"},
        {"/VolumesX/y", "/Volumes/" + disk + "/VolumesX/y"},
        {"", ""},
    };
    for (const auto& c : absolute)
        EXPECT_EQ(files().setAbsolutePath(c.in), c.out) << c.in;

    const struct {
        fs::path in;
        std::string prefix;
        fs::path out;
    } stripped[] = {
        {"/Volumes/Data/x", "", "/Data/x"},
        {"/Volumes", "", "/Volumes"},
        {"/home/x", "", "/home/x"},
        {"/a/Volumes/b", "", "/a/Volumes/b"},
        {"/Linux/home/x", "/Linux/", "/home/x"},
        {"/Linuxer/x", "/Linux/", "/Linuxer/x"},
    };
    for (const auto& c : stripped) {
        EXPECT_EQ(files().removeFirstPathComponent(c.in, c.prefix), c.out) << c.in;
        EXPECT_EQ(files().removeFirstPathComponentWithURL(c.in, c.prefix), c.out) << c.in;
    }
    EXPECT_EQ(files().removeFirstPathComponent("/Volumes/"), fs::path("/"));
    // A location has no trailing slash: "/Volumes/" is the folder "/Volumes".
    EXPECT_EQ(files().removeFirstPathComponentWithURL("/Volumes/"), fs::path("/Volumes"));
    EXPECT_TRUE(files().removeFirstPathComponentWithURL(fs::path()).empty());
}

TEST(KZFilesUtilities, MusicFolderRelations)
{
    kztest::TempDir dir;
    const auto media = dir.mkdir("Users/a/Music/iTunes/iTunes Media");
    dir.mkdir("Users/a/Mus");
    dir.mkdir("Backup/iTunes Old");
    dir.mkdir("Users/a/Music/iTunes/iTunes Media/Music");
    MediaFolder installed(media);

    const struct {
        fs::path path;
        qint16 code;
    } cases[] = {
        {media, 2},
        {fs::path(media.native() + "/"), 2},
        {dir / "Users/a/Music/iTunes", 1},
        {dir / "Users/a/Music", 3},
        {dir / "Users/a", 0},
        // A shorter name that is a prefix of a component is no ancestor.
        {dir / "Users/a/Mus", 0},
        {dir / "Backup/iTunes Old", 4},
        {media / "Music", 0},
        {dir / "missing", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(files().isiTunesURL(c.path), c.code) << c.path;
}

TEST(KZFilesUtilities, MusicFolderLocation)
{
    kztest::TempDir dir;
    EXPECT_EQ(files().iTunesFolderLocationPath(), fs::path());
    const auto iTunesNamed = dir.mkdir("iTunes");
    EXPECT_EQ(files().isiTunesURL(iTunesNamed), 4);
    EXPECT_EQ(files().isiTunesURL(dir / "missing-iTunes"), 0); // no item, no name
    {
        MediaFolder installed(dir / "gone");
        EXPECT_EQ(files().iTunesFolderLocationPath(), std::nullopt);
        EXPECT_EQ(files().isiTunesURL(dir.path()), 0);
    }
    {
        MediaFolder installed(iTunesNamed);
        EXPECT_EQ(files().iTunesFolderLocationPath(), iTunesNamed);
    }
}

TEST(KZFilesUtilities, SourceInfoOfFoldersAndPackages)
{
    kztest::TempDir dir;
    const auto folder = dir.mkdir("Photos");
    const auto library = dir.mkdir("Family.photoslibrary");
    const auto app = dir.mkdir("Tool.app");
    const auto file = dir.write("plain.txt", "x");

    const auto info = files().directoryInfoForPath(folder);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(pathOf(info->value(QStringLiteral("url"))), folder);
    EXPECT_EQ(pathOf(info->value(QStringLiteral("path"))), folder);
    EXPECT_EQ(info->value(QStringLiteral("name")).toString(), QStringLiteral("Photos"));
    EXPECT_EQ(sortedKeys(*info), Keys({"isDisk", "isPhotosLib", "name", "path", "url"}));
    EXPECT_EQ(info->value(QStringLiteral("isDisk")).typeId(), QMetaType::Bool);
    EXPECT_FALSE(info->value(QStringLiteral("isDisk")).toBool());
    EXPECT_EQ(info->value(QStringLiteral("isPhotosLib")).typeId(), QMetaType::Bool);
    EXPECT_FALSE(info->value(QStringLiteral("isPhotosLib")).toBool());

    const auto lib = files().directoryInfoForPath(library);
    ASSERT_TRUE(lib.has_value());
    EXPECT_TRUE(lib->value(QStringLiteral("isPhotosLib")).toBool());

    EXPECT_EQ(files().directoryInfoForPath(app), std::nullopt);
    EXPECT_EQ(files().directoryInfoForPath(fs::path()), std::nullopt);
    EXPECT_EQ(files().directoryInfoForPath(dir / "missing"), std::nullopt);
    // A plain file still describes itself here; only the quick form refuses it.
    EXPECT_TRUE(files().directoryInfoForPath(file).has_value());
    EXPECT_EQ(files().fastDirectoryInfoForPath(file), std::nullopt);
}

TEST(KZFilesUtilities, SourceInfoFollowsLinksFromTheirOwnFolder)
{
    kztest::TempDir dir;
    const auto target = dir.mkdir("real/Target");
    dir.mkdir("links");
    fs::create_directory_symlink("../real/Target", dir / "links/relative");
    fs::create_symlink(dir / "real/none", dir / "links/dangling");

    const auto info = files().directoryInfoForPath(dir / "links/relative");
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(pathOf(info->value(QStringLiteral("url"))), target);
    EXPECT_EQ(pathOf(info->value(QStringLiteral("path"))), dir / "links/relative");
    EXPECT_EQ(info->value(QStringLiteral("name")).toString(), QStringLiteral("Target"));

    const auto fast = files().fastDirectoryInfoForPath(dir / "links/relative");
    ASSERT_TRUE(fast.has_value());
    EXPECT_EQ(sortedKeys(*fast), Keys({"name", "path", "url"}));
    EXPECT_EQ(pathOf(fast->value(QStringLiteral("url"))), target);
    EXPECT_EQ(pathOf(fast->value(QStringLiteral("path"))), dir / "links/relative");

    EXPECT_EQ(files().directoryInfoForPath(dir / "links/dangling"), std::nullopt);
}

TEST(KZFilesUtilities, SourceInfoKeepsNamesThatAreNotUtf8)
{
    kztest::TempDir dir;
    const auto folder = dir.mkdir(kLatin1Name);
    const auto info = files().directoryInfoForPath(folder);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(pathOf(info->value(QStringLiteral("url"))).native(), folder.native());
    EXPECT_FALSE(info->value(QStringLiteral("name")).toString().isEmpty());
}

TEST(KZFilesUtilities, SourceInfoOfTheStartupDisk)
{
    const auto info = files().directoryInfoForPath("/");
    ASSERT_TRUE(info.has_value());
    EXPECT_TRUE(info->value(QStringLiteral("isDisk")).toBool());
    EXPECT_EQ(info->value(QStringLiteral("name")).toString(), KZStartupDiskName());
    EXPECT_EQ(sortedKeys(*info),
              Keys({"freeSize", "isDisk", "isLocked", "name", "path", "totSize", "url"}));
    EXPECT_EQ(info->value(QStringLiteral("isLocked")).typeId(), QMetaType::Bool);
    const auto volume = platform::volumeForPath("/");
    ASSERT_TRUE(volume.has_value());
    const struct {
        const char* key;
        quint64 bytes;
    } sizes[] = {{"totSize", volume->capacity}, {"freeSize", volume->available}};
    for (const auto& size : sizes) {
        const QVariant value = info->value(QString::fromLatin1(size.key));
        if (size.bytes == 0) {
            EXPECT_EQ(value.typeId(), QMetaType::QString) << size.key;
        } else {
            EXPECT_EQ(value.typeId(), QMetaType::ULongLong) << size.key;
            EXPECT_GT(value.value<quint64>(), 0u) << size.key;
        }
    }
}

// A volume whose capacity reads as 0 (a kernel file system such as /proc)
// shows the "unknown" text instead of a size of zero bytes.
TEST(KZFilesUtilities, SourceInfoOfAVolumeWithoutCapacity)
{
    const fs::path proc("/proc");
    const auto volume = platform::volumeForPath(proc);
    if (!files().isVolumeWithURL(proc) || !volume || volume->mountPoint != proc || volume->capacity != 0)
        GTEST_SKIP() << "no volume of unknown capacity here";
    const auto info = files().directoryInfoForPath(proc);
    ASSERT_TRUE(info.has_value());
    EXPECT_TRUE(info->value(QStringLiteral("isDisk")).toBool());
    const QString unknown = platform::localizedString(QStringLiteral("unknown_file"));
    EXPECT_EQ(info->value(QStringLiteral("totSize")).typeId(), QMetaType::QString);
    EXPECT_EQ(info->value(QStringLiteral("totSize")).toString(), unknown);
    EXPECT_EQ(info->value(QStringLiteral("freeSize")).toString(), unknown);
}

TEST(KZFilesUtilities, LockedItemsAreTheImmutableOnes)
{
    kztest::TempDir dir;
    const auto file = dir.write("locked.txt", "x");
    EXPECT_FALSE(files().isLockedWithURL(file));
    EXPECT_FALSE(files().isLockedWithURL(dir / "missing"));
    EXPECT_FALSE(files().isLockedWithURL(fs::path()));
    fs::create_symlink(file, dir / "link");
    {
        const ImmutableFlag locked(file);
        if (!locked.isSet())
            GTEST_SKIP() << "the immutable flag cannot be set here";
        EXPECT_TRUE(files().isLockedWithURL(file));
        // A link to a locked item is not locked itself.
        EXPECT_FALSE(files().isLockedWithURL(dir / "link"));
    }
    EXPECT_FALSE(files().isLockedWithURL(file));
}

TEST(KZFilesUtilities, QuickSourceInfoSkipsGlobalExclusions)
{
    kztest::TempDir dir;
    const auto excluded = dir.mkdir("Excluded");
    const auto kept = dir.mkdir("Kept");

    // Without a request the visible system paths are excluded, present or not.
    EXPECT_EQ(files().fastDirectoryInfoForPath("/System"), std::nullopt);
    EXPECT_TRUE(files().fastDirectoryInfoForPath(excluded).has_value());

    KZFilesUtilities::setGlobalExclusionsProvider([excluded] { return std::vector<fs::path>{excluded}; });
    EXPECT_EQ(files().fastDirectoryInfoForPath(excluded), std::nullopt);
    EXPECT_EQ(files().fastDirectoryInfoForPath(fs::path(excluded.native() + "/")), std::nullopt);
    EXPECT_TRUE(files().fastDirectoryInfoForPath(kept).has_value());
    // The full form is not the quick one: it does not look at exclusions.
    EXPECT_TRUE(files().directoryInfoForPath(excluded).has_value());
    KZFilesUtilities::setGlobalExclusionsProvider({});
    EXPECT_TRUE(files().fastDirectoryInfoForPath(excluded).has_value());
}

QRgb pixel(const QImage& image, int x, int y) { return image.convertToFormat(QImage::Format_ARGB32).pixel(x, y); }

TEST(KZFilesUtilities, PlaceholderImage)
{
    const QImage image = files().placeholderImageWithSize(QSize(48, 48));
    ASSERT_EQ(image.size(), QSize(48, 48));
    EXPECT_EQ(qAlpha(pixel(image, 0, 0)), 0); // the rounded corner leaves it out
    const QRgb centre = pixel(image, 24, 24);
    EXPECT_NEAR(qAlpha(centre), 77, 2); // 0.3
    EXPECT_NEAR(qRed(centre), 179, 3);  // grey 0.7
    EXPECT_GT(qAlpha(pixel(image, 24, 0)), qAlpha(centre)); // the stroke is stronger
    EXPECT_TRUE(files().placeholderImageWithSize(QSize(0, 10)).isNull());
}

TEST(KZFilesUtilities, GhostIconIsHalfTransparent)
{
    QImage icon(16, 16, QImage::Format_ARGB32);
    icon.fill(QColor(255, 0, 0));
    const QImage ghost = files().ghostIconWithIcon(icon, QSize(32, 32));
    ASSERT_EQ(ghost.size(), QSize(32, 32));
    EXPECT_NEAR(qAlpha(pixel(ghost, 0, 31)), 128, 2); // bottom-left holds the icon
    EXPECT_NEAR(qRed(pixel(ghost, 0, 31)), 255, 2);
    EXPECT_EQ(qAlpha(pixel(ghost, 31, 0)), 0);
    EXPECT_EQ(files().ghostIconWithIcon(QImage(), QSize(8, 8)).size(), QSize(8, 8));
}

} // namespace
