#include "services/ui/KZFileIcons.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

TEST(KZFileIcons, AlwaysAnImageOfTheAskedSize)
{
    kztest::TempDir dir;
    const auto file = dir.write("notes.txt", "hello");
    const auto folder = dir.mkdir("Folder");
    for (const auto& path : {file, folder, dir / "missing", std::filesystem::path()}) {
        const QImage icon = KZFileIcons::iconOfItemWithURL(path, QSize(48, 48));
        EXPECT_FALSE(icon.isNull()) << path;
        EXPECT_EQ(icon.size(), QSize(48, 48)) << path;
    }
    EXPECT_TRUE(KZFileIcons::iconForItemPath(dir / "missing").isNull());
}

TEST(KZFileIcons, NoApplicationRegistry)
{
    EXPECT_TRUE(KZFileIcons::appIconWithIdentifier(QStringLiteral("com.apple.iTunes")).isNull());
}

} // namespace
