#include "platform/Packages.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace platform;
namespace fs = std::filesystem;

TEST(Packages, ExtensionTable)
{
    struct Case {
        const char16_t* ext;
        bool package;
    };
    const Case cases[] = {
        {u"app", true},   {u"APP", true},      {u"Bundle", true}, {u"framework", true}, {u"photoslibrary", true},
        {u"rtfd", true},  {u"prefPane", true}, {u"pkg", true},    {u"lproj", false},    {u"txt", false},
        {u"", false},     {u"ap", false},      {u"apps", false},  {u"folder", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isPackageExtension(QString::fromUtf16(c.ext)), c.package) << QString::fromUtf16(c.ext).toStdString();
}

TEST(Packages, OnlyRealFoldersArePackages)
{
    kztest::TempDir dir;
    const auto app = dir.mkdir("Tool.app");
    const auto lproj = dir.mkdir("en.lproj");
    const auto fileApp = dir.write("fake.app", "not a folder");
    const auto library = dir.mkdir("Photos Library.photoslibrary");
    fs::create_symlink("Tool.app", dir / "Link.app");
    const auto noName = dir.mkdir(".app"); // a hidden folder, not an extension

    EXPECT_TRUE(isPackage(app));
    EXPECT_TRUE(isPackage(app.native() + "/"));
    EXPECT_TRUE(isPackage(library));
    EXPECT_FALSE(isPackage(lproj));
    EXPECT_FALSE(isPackage(fileApp));
    EXPECT_FALSE(isPackage(dir / "Link.app"));
    EXPECT_FALSE(isPackage(noName));
    EXPECT_FALSE(isPackage(dir / "missing.app"));
}

TEST(Packages, Applications)
{
    kztest::TempDir dir;
    const auto app = dir.mkdir("Editor.APP");
    const auto bundle = dir.mkdir("Thing.bundle");
    const auto entry = dir.write("editor.desktop",
                                 "# comment\n[Desktop Entry]\nName=Editor\nType=Application\nExec=editor\n");
    const auto link = dir.write("site.desktop", "[Desktop Entry]\nType=Link\nURL=https://example.org\n");
    const auto otherGroup = dir.write("odd.desktop", "[Desktop Entry]\nName=Odd\n[Other]\nType=Application\n");
    const auto plain = dir.write("notes.txt", "Type=Application\n");

    EXPECT_TRUE(isApplication(app));
    EXPECT_TRUE(isApplication(entry));
    EXPECT_FALSE(isApplication(bundle));
    EXPECT_FALSE(isApplication(link));
    EXPECT_FALSE(isApplication(otherGroup));
    EXPECT_FALSE(isApplication(plain));
    EXPECT_FALSE(isApplication(dir / "missing.desktop"));
}
