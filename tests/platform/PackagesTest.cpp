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
