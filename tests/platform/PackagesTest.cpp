#include "platform/Packages.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

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
