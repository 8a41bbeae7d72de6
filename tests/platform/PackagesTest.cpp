#include "platform/Packages.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/sysmacros.h>

using namespace platform;
namespace fs = std::filesystem;

TEST(Packages, ExtensionsFoldersAndApplications)
{
    EXPECT_TRUE(isPackageExtension(u"prefPane"));
    for (const char16_t* ext : {u"lproj", u"", u"ap", u"apps"})
        EXPECT_FALSE(isPackageExtension(QStringView(ext))) << QString::fromUtf16(ext).toStdString();
    kztest::TempDir dir;
    dir.mkdir("Tool.APP");
    dir.mkdir("en.lproj");
    dir.mkdir("Thing.bundle");
    dir.mkdir(".app"); // a hidden folder, not an extension
    dir.write("fake.app", "not a folder");
    fs::create_symlink("Tool.APP", dir / "Link.app");
    dir.write("editor.desktop", "# comment\n[Desktop Entry]\nName=Editor\nType=Application\nExec=editor\n");
    dir.write("site.desktop", "[Desktop Entry]\nType=Link\nURL=https://example.org\n");
    dir.write("odd.desktop", "[Desktop Entry]\nName=Odd\n[Other]\nType=Application\n");
    dir.write("notes.txt", "Type=Application\n");
    const struct {
        const char* name;
        bool package, application;
    } cases[] = {
        {"Tool.APP", true, true},       {"Tool.APP/", true, true},     {"Thing.bundle", true, false},
        {"en.lproj", false, false},     {".app", false, false},        {"fake.app", false, false},
        {"Link.app", false, false},     {"missing.app", false, false}, {"editor.desktop", false, true},
        {"site.desktop", false, false}, {"odd.desktop", false, false}, {"notes.txt", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isPackage(dir.path().native() + "/" + c.name), c.package) << c.name;
        EXPECT_EQ(isApplication(dir.path().native() + "/" + c.name), c.application) << c.name;
    }
}

TEST(Packages, APhotoLibraryIsFoundAsWrittenAndThroughLinks)
{
    kztest::TempDir dir;
    dir.mkdir("Pictures.photoslibrary/Masters/2020");
    dir.mkdir("Old.PhotosLibrary");
    dir.mkdir("plain/sub");
    dir.write("file.photoslibrary", "not a folder");
    fs::create_symlink(dir / "Pictures.photoslibrary", dir / "plain/to-library");
    fs::create_symlink(dir / "Pictures.photoslibrary/Masters", dir / "plain/to-masters");
    fs::create_symlink(dir / "plain", dir / "Named.photoslibrary"); // a link is no library
    using P = PhotoLibraryPlace;
    const struct {
        const char* path;
        P place;
    } cases[] = {
        {"Pictures.photoslibrary", P::Library},
        {"Pictures.photoslibrary/", P::Library},
        {"Old.PhotosLibrary", P::Library},
        {"Pictures.photoslibrary/Masters", P::Inside},
        {"Pictures.photoslibrary/Masters/2020/../2020", P::Inside},
        {"plain/to-library", P::Library},
        {"plain/to-masters", P::Inside},
        {"plain/to-library/Masters/2020", P::Inside},
        {"plain/sub", P::None},
        {"plain/sub/../../Pictures.photoslibrary", P::Library},
        {"file.photoslibrary", P::None},
        {"Named.photoslibrary", P::None},
        {"missing.photoslibrary", P::None},
    };
    for (const auto& c : cases)
        EXPECT_EQ(photoLibraryPlace(dir / c.path), c.place) << c.path;
}

// Mount tables no test may make: the library is the root of its own disk
// (8:1), mounted at the library's place and again at a plain path, both with
// root "/"; a second disk (8:2) holds only its masters and is mounted twice
// too; a third (8:3) shows one library folder through a bind of its folder.
// An entry is the library's when any mount of its file system whose root
// holds it shows it inside a library.
TEST(Packages, AnEntryIsInsideALibraryWhenAnyMountOfItsFileSystemShowsItThere)
{
    const auto mounts = parseMountInfo(
        "1 0 254:0 / / rw - ext4 /dev/vda rw\n"
        "2 1 8:1 / /home/u/Pictures/Photos\\040Library.photoslibrary rw - ext4 /dev/sda1 rw\n"
        "3 1 8:1 / /mnt/plain rw - ext4 /dev/sda1 rw\n"
        "4 1 8:2 / /home/u/Old.photoslibrary/Masters rw - ext4 /dev/sdb1 rw\n"
        "5 1 8:2 /2024 /mnt/pictures rw - ext4 /dev/sdb1 rw\n"
        "6 1 8:3 /data /home/u/Work.photoslibrary rw - ext4 /dev/sdc1 rw\n"
        "7 1 8:3 /data2 /mnt/data2 rw - ext4 /dev/sdc1 rw\n"
        "8 1 8:3 / /mnt/whole rw - ext4 /dev/sdc1 rw\n");
    ASSERT_EQ(mounts.size(), 8u);
    using P = PhotoLibraryPlace;
    const struct {
        unsigned major, minor;
        const char* inFileSystem;
        bool folder;
        P place;
    } cases[] = {
        {8, 1, "/", true, P::Library}, // /mnt/plain is the library
        {8, 1, "/Masters", true, P::Inside},
        {8, 1, "/Masters/a.jpg", false, P::Inside}, // /mnt/plain/Masters/a.jpg
        {8, 1, "/.Trash-0", true, P::Inside},
        {8, 2, "/", true, P::Inside}, // the masters, wherever they are mounted
        {8, 2, "/2024/c.jpg", false, P::Inside},
        {8, 3, "/data/x", false, P::Inside}, // /mnt/whole/data/x
        {8, 3, "/data", true, P::Library},
        {8, 3, "/data/.", true, P::Library}, // a mount root joined to the way below it
        {8, 3, "/data2/x", false, P::None}, // no mount shows it inside a library
        {8, 3, "/database/x", false, P::None}, // a root holds by whole names only
        {8, 3, "/", true, P::None},
        {8, 4, "/Masters/a.jpg", false, P::None}, // another disk
        {254, 0, "/home/u/Old.photoslibrary/Masters/a.jpg", false, P::Inside},
        {254, 0, "/home/u/notes.photoslibrary", false, P::None}, // a file is no library
        {254, 0, "/home/u/notes.photoslibrary", true, P::Library},
        {254, 0, "/home/u/x.jpg", false, P::None},
    };
    for (const auto& c : cases)
        EXPECT_EQ(photoLibraryPlaceThroughMounts(mounts, makedev(c.major, c.minor), c.inFileSystem, c.folder), c.place)
            << c.major << ':' << c.minor << ' ' << c.inFileSystem;
}
