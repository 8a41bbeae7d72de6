#include "services/KZFilesUtilities.h"

#include "support/TestSupport.h"
#include "platform/FileStat.h"
#include "platform/FinderInfo.h"
#include "platform/StringTable.h"
#include "platform/Volumes.h"
#include "services/KZStartupDiskName.h"

#include <QFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <sys/mount.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

const KZFilesUtilities& files() { return KZFilesUtilities::sharedControl(); }

// Latin-1 "café": not valid UTF-8.
const std::string kLatin1Name = std::string("caf") + char(0xE9);

fs::path pathOf(const QVariant& value) { return value.value<fs::path>(); }

std::string keysOf(const QVariantMap& map) { return map.keys().join(u',').toStdString(); } // sorted

// False when the file system refuses user attributes (the caller skips).
bool setFinderFlags(const fs::path& item, quint16 flags)
{
    platform::FinderInfo info;
    info.setFlags(flags);
    return platform::writeFinderInfo(item, info) && platform::readFinderInfo(item).flags() == flags;
}

struct MediaFolder {
    explicit MediaFolder(fs::path folder) { KZFilesUtilities::setiTunesFolderProvider([folder] { return folder; }); }
    ~MediaFolder() { KZFilesUtilities::setiTunesFolderProvider({}); }
};

TEST(KZFilesUtilities, NamesAndTheAnswersForMissingItems)
{
    kztest::TempDir dir;
    const auto file = dir.write("gone.txt", "x");
    const auto folder = dir.mkdir("Folder");
    EXPECT_EQ(files().itemNameWithURL(fs::path(folder.native() + "/")), QStringLiteral("Folder"));
    EXPECT_EQ(files().itemNameWithURL(folder / "."), QStringLiteral("Folder"));
    EXPECT_EQ(files().itemNameWithURL("/"), platform::startupDiskName());
    const auto odd = files().itemNameWithURL(dir.write(kLatin1Name, "x"));
    EXPECT_TRUE(odd && odd->startsWith(QStringLiteral("caf")));

    int err = 0;
    EXPECT_EQ(files().pathWithURL(file, &err), file);
    fs::remove(file);
    fs::create_symlink(dir / "nowhere", dir / "dangling");
    for (const fs::path& p : {file, fs::path(), dir / "dangling"}) {
        err = 0;
        EXPECT_TRUE(files().pathWithURL(p, &err).empty()) << p;
        EXPECT_EQ(err, 4) << p;
    }
    EXPECT_EQ(files().itemNameWithURL(file), std::nullopt);
    EXPECT_FALSE(files().attributeWithURL(file, KZFilesUtilities::ResourceKey::IsDirectory).isValid());
    EXPECT_FALSE(files().attributeWithURL(folder, KZFilesUtilities::ResourceKey::FileSize).isValid());
    EXPECT_EQ(files().volumeCapacityWithURL(file), 0u);
    EXPECT_TRUE(files().directoryIDWithURL(file).isNull());
    EXPECT_TRUE(files().parentDirectoryWithURL("/").empty());
    EXPECT_TRUE(files().isVolumeWithURL("/") && !files().isVolumeWithURL(folder));
}

TEST(KZFilesUtilities, KindsAndFinderFlags)
{
    kztest::TempDir dir;
    const auto folder = dir.mkdir("Folder");
    const auto app = dir.mkdir("Tool.app");
    const auto library = dir.mkdir("Pictures.photoslibrary");
    const auto plain = dir.write("plain", "x");
    fs::create_directory_symlink(folder, dir / "folder-link");
    fs::create_symlink(dir / "nowhere", dir / "dangling");
    fs::create_directory_symlink(app, dir / "app-link");
    // "DPAH": directory, package, alias, hidden; links are never followed.
    const std::pair<fs::path, std::string> cases[] = {
        {folder, "D---"}, {plain, "----"}, {app, "DP--"}, {library, "DP--"}, {dir / "folder-link", "--A-"},
        {dir / "dangling", "--A-"}, {dir / "app-link", "--A-"}, {dir / ".missing", "---H"}, {fs::path(), "----"},
    };
    for (const auto& [path, kinds] : cases) {
        const std::string seen = std::string(files().isDirectoryWithURL(path) ? "D" : "-")
            + (files().isPackageWithURL(path) ? "P" : "-") + (files().isAliasWithURL(path) ? "A" : "-")
            + (files().isHiddenWithURL(path) ? "H" : "-");
        EXPECT_EQ(seen, kinds) << path;
    }

    const auto alias = dir.write("Old Alias", "opaque alias record");
    using platform::FinderInfo;
    if (!setFinderFlags(plain, FinderInfo::kIsInvisible) || !setFinderFlags(alias, FinderInfo::kIsAlias))
        GTEST_SKIP() << "no user extended attributes here";
    EXPECT_TRUE(files().isHiddenWithURL(plain));
    EXPECT_TRUE(files().isAliasWithURL(alias));
    EXPECT_EQ(files().directoryInfoForPath(alias), std::nullopt); // it cannot be followed
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
    EXPECT_EQ(files().directoryIDWithURL(dir / "link"), id);
    // Inodes above 32 bits (XFS, btrfs, NFS) must not collide with their lower half.
    EXPECT_NE((KZObjectID{id.device, id.inode + (quint64(1) << 32)}), id);
    EXPECT_NE((KZObjectID{id.device + 1, id.inode}), id);
}

TEST(KZFilesUtilities, FileURLsAndURLListsKeepEveryByte)
{
    EXPECT_EQ(files().normalizeString(QStringLiteral("\uFB01le")), QStringLiteral("file")); // compatibility form
    const fs::path odd = fs::path("/tmp") / (kLatin1Name + " 100%#?");
    EXPECT_EQ(KZFilesUtilities::pathFromFileURL(KZFilesUtilities::fileURLWithPath(odd)), odd);
    EXPECT_TRUE(KZFilesUtilities::pathFromFileURL(QUrl(QStringLiteral("https://example.org/a"))).empty());
    // A NUL ends a path where the system reads it: "x%00y" would name x.
    EXPECT_TRUE(KZFilesUtilities::pathFromFileURL(QUrl(QStringLiteral("file:///tmp/x%00y"))).empty());
    EXPECT_TRUE(KZFilesUtilities::pathOfLocalFileURL(QStringLiteral("file:///tmp/x%00y")).empty());
    EXPECT_TRUE(KZFilesUtilities::pathOfLocalFileURL(QStringLiteral("file:///tmp/%00/")).empty());

    kztest::TempDir dir;
    const auto file = dir.write(kLatin1Name, "x");
    const QUrl remote(QStringLiteral("https://example.org/file.txt"));
    const QUrl missing = KZFilesUtilities::fileURLWithPath(dir / "missing.txt");
    const auto out = files().URLsToPaths(QList<QUrl>{KZFilesUtilities::fileURLWithPath(file), remote, missing});
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(std::get<fs::path>(out[0]), file);
    EXPECT_EQ(std::get<QUrl>(out[1]), remote);
    EXPECT_EQ(std::get<QUrl>(out[2]), missing);
    EXPECT_EQ(std::get<QUrl>(files().URLsToPaths(remote)), remote);
}

TEST(KZFilesUtilities, VolumesPathFormsAndSystemItems)
{
    quint16 count = 99;
    EXPECT_EQ(files().removeSlashesFromFileSystemName(QStringLiteral("a/b/c"), &count), QStringLiteral("a:b:c"));
    EXPECT_EQ(count, 2);

    const std::string disk =
        QFile::encodeName(files().removeSlashesFromFileSystemName(KZStartupDiskName())).toStdString();
    // Only a leading "/Volumes" component makes a path absolute, not one anywhere.
    const std::pair<fs::path, fs::path> absolute[] = {
        {"/", "/Volumes/" + disk}, {"/home/ann", "/Volumes/" + disk + "/home/ann"},
        {"/Volumes/Data/x", "/Volumes/Data/x"}, {"/Volumes", "/Volumes"},
        {"/home/ann/Volumes/x", "/Volumes/" + disk + "/home/ann/Volumes/x"},
        {"/VolumesX/y", "/Volumes/" + disk + "/VolumesX/y"}, {"", ""},
    };
    for (const auto& [in, out] : absolute)
        EXPECT_EQ(files().setAbsolutePath(in), out) << in;

    const std::tuple<fs::path, std::string, fs::path> stripped[] = {
        {"/Volumes/Data/x", "", "/Data/x"}, {"/Volumes", "", "/Volumes"}, {"/a/Volumes/b", "", "/a/Volumes/b"},
        {"/Linux/home/x", "/Linux/", "/home/x"}, {"/Linuxer/x", "/Linux/", "/Linuxer/x"},
    };
    for (const auto& [in, prefix, out] : stripped) {
        EXPECT_EQ(files().removeFirstPathComponent(in, prefix), out) << in;
        EXPECT_EQ(files().removeFirstPathComponentWithURL(in, prefix), out) << in;
    }
    EXPECT_EQ(files().removeFirstPathComponent("/Volumes/"), fs::path("/"));
    // A location has no trailing slash: "/Volumes/" is the folder "/Volumes".
    EXPECT_EQ(files().removeFirstPathComponentWithURL("/Volumes/"), fs::path("/Volumes"));

    EXPECT_EQ(files().invisibleSystemItems().size(), 32);
    EXPECT_EQ(files().invisibleSystemItems().last(), QStringLiteral(".Archived_Directories?"));
    EXPECT_EQ(files().visibleSystemPaths().at(2), fs::path("/System Folder"));
}

TEST(KZFilesUtilities, MusicFolderRelations)
{
    kztest::TempDir dir;
    EXPECT_EQ(files().iTunesFolderLocationPath(), fs::path()); // no library: empty, not missing
    const auto media = dir.mkdir("Users/a/Music/iTunes/iTunes Media/Music").parent_path();
    dir.mkdir("Users/a/Mus");
    dir.mkdir("Backup/iTunes Old");
    // "Users/a/Mus" is a prefix of a component, no ancestor.
    const std::pair<fs::path, qint16> cases[] = {
        {media, 2}, {fs::path(media.native() + "/"), 2}, {dir / "Users/a/Music/iTunes", 1},
        {dir / "Users/a/Music", 3}, {dir / "Users/a", 0}, {dir / "Users/a/Mus", 0},
        {dir / "Backup/iTunes Old", 4}, {media / "Music", 0}, {dir / "missing-iTunes", 0},
    };
    {
        MediaFolder installed(media);
        EXPECT_EQ(files().iTunesFolderLocationPath(), media);
        for (const auto& [path, code] : cases)
            EXPECT_EQ(files().isiTunesURL(path), code) << path;
    }
    MediaFolder installed(dir / "gone");
    EXPECT_EQ(files().iTunesFolderLocationPath(), std::nullopt);
    EXPECT_EQ(files().isiTunesURL(dir.path()), 0);
}

TEST(KZFilesUtilities, SourceInfoDictionaries)
{
    kztest::TempDir dir;
    const auto folder = dir.mkdir(kLatin1Name);
    const auto library = dir.mkdir("Family.photoslibrary");
    const auto file = dir.write("plain.txt", "x");
    fs::create_directory_symlink("../" + kLatin1Name, dir.mkdir("links") / "relative");
    fs::create_symlink(dir / "none", dir / "links/dangling");

    const auto info = files().directoryInfoForPath(dir / "links/relative");
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(keysOf(*info), "isDisk,isPhotosLib,name,path,url");
    EXPECT_EQ(pathOf(info->value(QStringLiteral("url"))).native(), folder.native()); // followed from its own folder
    EXPECT_EQ(pathOf(info->value(QStringLiteral("path"))), dir / "links/relative");
    EXPECT_TRUE(info->value(QStringLiteral("name")).toString().startsWith(QStringLiteral("caf")));
    // BOOLs, not numbers that happen to be 0 or 1: the dictionaries are stored.
    EXPECT_EQ(info->value(QStringLiteral("isDisk")), QVariant(false));
    EXPECT_EQ(info->value(QStringLiteral("isPhotosLib")).typeId(), QMetaType::Bool);
    EXPECT_EQ(files().directoryInfoForPath(library)->value(QStringLiteral("isPhotosLib")), QVariant(true));
    const auto fast = files().fastDirectoryInfoForPath(dir / "links/relative");
    ASSERT_TRUE(fast.has_value());
    EXPECT_EQ(keysOf(*fast), "name,path,url");

    for (const fs::path& none : {dir.mkdir("Tool.app"), fs::path(), dir / "missing", dir / "links/dangling"})
        EXPECT_EQ(files().directoryInfoForPath(none), std::nullopt) << none;
    // A plain file still describes itself; only the quick form refuses it.
    EXPECT_TRUE(files().directoryInfoForPath(file).has_value());
    EXPECT_EQ(files().fastDirectoryInfoForPath(file), std::nullopt);

    const auto root = files().directoryInfoForPath("/");
    ASSERT_TRUE(root.has_value());
    EXPECT_EQ(keysOf(*root), "freeSize,isDisk,isLocked,name,path,totSize,url");
    EXPECT_EQ(root->value(QStringLiteral("isDisk")), QVariant(true));
    EXPECT_EQ(root->value(QStringLiteral("name")).toString(), KZStartupDiskName());

    // Without a request the visible system paths are excluded, present or not.
    EXPECT_EQ(files().fastDirectoryInfoForPath("/System"), std::nullopt);
    KZFilesUtilities::setGlobalExclusionsProvider([&] { return std::vector<fs::path>{dir / "links"}; });
    const bool excluded = !files().fastDirectoryInfoForPath(dir / "links/").has_value();
    const bool kept = files().fastDirectoryInfoForPath(library).has_value();
    KZFilesUtilities::setGlobalExclusionsProvider({});
    EXPECT_TRUE(excluded && kept);
}

// A volume whose capacity reads as 0 shows the "unknown" text rather than a
// size of zero bytes. The kernel's own file systems (/proc) read so too, but
// are no sources at all. A tmpfs without a size limit (size=0) is such a
// volume: it counts no blocks at all.
TEST(KZFilesUtilities, SourceInfoOfAVolumeWithoutCapacity)
{
    EXPECT_FALSE(files().directoryInfoForPath("/proc").has_value());
    kztest::TempDir dir;
    const fs::path unsized = dir / "unsized";
    const kztest::Isolated outcome = kztest::runWithPrivateMounts([&] {
        kztest::mountTmpfs(unsized, "mode=0755,size=0");
        const std::vector<platform::VolumeInfo> volumes = platform::mountedVolumes();
        const auto volume = std::find_if(volumes.begin(), volumes.end(),
                                         [&](const platform::VolumeInfo& v) { return v.mountPoint == unsized; });
        ASSERT_NE(volume, volumes.end());
        ASSERT_EQ(volume->capacity, 0u) << "the tmpfs counts its blocks after all";
        const QVariant unknown(platform::localizedString(QStringLiteral("unknown_file")));
        const QVariantMap info = files().directoryInfoForPath(unsized).value_or(QVariantMap());
        EXPECT_EQ(info.value(QStringLiteral("isDisk")), QVariant(true));
        EXPECT_EQ(info.value(QStringLiteral("totSize")), unknown);
        EXPECT_EQ(info.value(QStringLiteral("freeSize")), unknown);
    });
    if (outcome == kztest::Isolated::Unavailable)
        GTEST_SKIP() << "this machine gives no private mount namespace or refuses a tmpfs there";
    EXPECT_EQ(outcome, kztest::Isolated::Passed);
}

// A disk the user cannot write to is told as locked, beside its size and
// its room; a folder on it is no disk and says nothing of either.
TEST(KZFilesUtilities, SourceInfoOfAReadOnlyVolume)
{
    kztest::TempDir dir;
    const fs::path disk = dir / "disk";
    const kztest::Isolated outcome = kztest::runWithPrivateMounts([&] {
        kztest::mountTmpfs(disk, "mode=0755,size=1m");
        fs::create_directory(disk / "inner");
        const QVariantMap writable = files().directoryInfoForPath(disk).value_or(QVariantMap());
        EXPECT_EQ(writable.value(QStringLiteral("isLocked")), QVariant(false));
        ASSERT_EQ(::mount(nullptr, disk.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);

        const QVariantMap info = files().directoryInfoForPath(disk).value_or(QVariantMap());
        EXPECT_EQ(info.value(QStringLiteral("isDisk")), QVariant(true));
        EXPECT_EQ(info.value(QStringLiteral("isLocked")), QVariant(true));
        EXPECT_EQ(info.value(QStringLiteral("totSize")), QVariant::fromValue(quint64(1) << 20));
        EXPECT_EQ(info.value(QStringLiteral("freeSize")), QVariant::fromValue(quint64(1) << 20)) << "nothing in it";
        EXPECT_TRUE(files().isVolumeLockedWithURL(disk / "inner"));
        EXPECT_EQ(files().volumeCapacityWithURL(disk / "inner"), quint64(1) << 20);

        const QVariantMap folder = files().directoryInfoForPath(disk / "inner").value_or(QVariantMap());
        EXPECT_EQ(folder.value(QStringLiteral("isDisk")), QVariant(false));
        EXPECT_FALSE(folder.contains(QStringLiteral("isLocked")));
        EXPECT_FALSE(folder.contains(QStringLiteral("totSize")));
    });
    if (outcome == kztest::Isolated::Unavailable)
        GTEST_SKIP() << "this machine gives no private mount namespace or refuses a tmpfs there";
    EXPECT_EQ(outcome, kztest::Isolated::Passed);
}

// A folder holding only these is empty; anything else, a dot file of the
// user's included, must keep it from being offered for removal as empty.
TEST(KZFilesUtilities, OnlyFileSystemBookkeepingLeavesAFolderEmpty)
{
    const std::pair<std::string_view, bool> cases[] = {
        {".DS_Store", true}, {".localized", true}, {"._photo.jpg", true}, {"Icon\r", true},
        {".env", false}, {".gitignore", false}, {".DS_Store.bak", false}, {"._", false},
        {"Icon", false}, {"Icon\r.txt", false}, {"DS_Store", false}, {"notes.txt", false}, {"", false},
    };
    for (const auto& [name, metadata] : cases)
        EXPECT_EQ(KZFilesUtilities::isFolderMetadataName(name), metadata) << name;
}

TEST(KZFilesUtilities, LockedItemsAreTheImmutableOnes)
{
    kztest::TempDir dir;
    const auto file = dir.write("locked.txt", "x");
    EXPECT_FALSE(files().isLockedWithURL(file));
    EXPECT_FALSE(files().isLockedWithURL(dir / "missing"));
    if (!kztest::setImmutable(file, true))
        GTEST_SKIP() << "the immutable flag cannot be set here";
    const bool locked = files().isLockedWithURL(file);
    kztest::setImmutable(file, false); // an immutable file could not be cleaned up
    EXPECT_TRUE(locked);
}

} // namespace
