#include "services/ui/KZFileIcons.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

TEST(KZFileIcons, AlwaysAnImageOfTheAskedSize)
{
    kztest::TempDir dir;
    for (const auto& path : {dir.write("a.txt", "hi"), dir.mkdir("Folder"), dir / "missing", std::filesystem::path()}) {
        const QImage icon = KZFileIcons::iconOfItemWithURL(path, QSize(48, 48));
        EXPECT_FALSE(icon.isNull()) << path;
        EXPECT_EQ(icon.size(), QSize(48, 48)) << path;
    }
    EXPECT_TRUE(KZFileIcons::iconForItemPath(dir / "missing").isNull());
    EXPECT_TRUE(KZFileIcons::appIconWithIdentifier(QStringLiteral("com.apple.iTunes")).isNull());
}

} // namespace
