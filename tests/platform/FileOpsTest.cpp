#include "platform/FileOps.h"
#include "platform/FileStat.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <sstream>

using namespace platform;
namespace fs = std::filesystem;

namespace {

std::string contentOf(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

TEST(FileOps, MovesFilesFoldersAndLinksThemselves)
{
    kztest::TempDir dir;
    const auto file = dir.write("caf\xE9", "data");
    dir.write("folder/inner", "in");
    fs::create_symlink("caf\xE9", dir / "link");

    QString error;
    ASSERT_TRUE(moveNoReplace(file, dir / "moved\xE9", &error)) << error.toStdString();
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(contentOf(dir / "moved\xE9"), "data");

    ASSERT_TRUE(moveNoReplace(dir / "folder", dir / "folder2", &error)) << error.toStdString();
    EXPECT_EQ(contentOf(dir / "folder2/inner"), "in");

    // The (now dangling) link moves as a link.
    ASSERT_TRUE(moveNoReplace(dir / "link", dir / "link2", &error)) << error.toStdString();
    EXPECT_TRUE(fs::is_symlink(dir / "link2"));
    EXPECT_EQ(fs::read_symlink(dir / "link2"), fs::path("caf\xE9"));
}

TEST(FileOps, NeverReplacesWhatIsThere)
{
    kztest::TempDir dir;
    const auto a = dir.write("a", "A");
    const auto b = dir.write("b", "B");
    dir.mkdir("folder");
    dir.write("folder/x", "x");
    const auto empty = dir.mkdir("empty");

    struct Case {
        fs::path from, to;
    };
    // rename(2) would replace the file and the empty folder without a word.
    const Case cases[] = {{a, b}, {dir / "folder", empty}, {a, empty}, {dir / "folder", b}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.from.native() + " -> " + c.to.native());
        QString error;
        int err = 0;
        EXPECT_FALSE(moveNoReplace(c.from, c.to, &error, &err));
        EXPECT_EQ(err, EEXIST);
        EXPECT_FALSE(error.isEmpty());
    }
    EXPECT_EQ(contentOf(a), "A");
    EXPECT_EQ(contentOf(b), "B");
    EXPECT_TRUE(fs::is_directory(empty));
    EXPECT_EQ(contentOf(dir / "folder/x"), "x");
}

TEST(FileOps, ReportsOtherFailures)
{
    kztest::TempDir dir;
    int err = 0;
    EXPECT_FALSE(moveNoReplace(dir / "missing", dir / "x", nullptr, &err));
    EXPECT_EQ(err, ENOENT);
    dir.mkdir("f");
    EXPECT_FALSE(moveNoReplace(dir / "f", dir / "f/inside", nullptr, &err));
    EXPECT_EQ(err, EINVAL);
    EXPECT_TRUE(fs::is_directory(dir / "f"));
    EXPECT_FALSE(fs::exists(dir / "f/inside"));
    EXPECT_FALSE(moveNoReplace({}, dir / "x", nullptr, &err));
}

TEST(FileOps, DoesNotCrossDevices)
{
    kztest::TempDir dir;
    const auto file = dir.write("f", "x");
    const fs::path other("/dev/shm");
    const auto here = statPath(dir.path(), false), there = statPath(other, false);
    if (!there || there->device == here->device || ::access(other.c_str(), W_OK) != 0)
        GTEST_SKIP() << "no second writable file system";
    const auto target = other / ("kzfileops-" + std::to_string(::getpid()));
    int err = 0;
    EXPECT_FALSE(moveNoReplace(file, target, nullptr, &err));
    EXPECT_EQ(err, EXDEV);
    EXPECT_TRUE(fs::exists(file));
    EXPECT_FALSE(fs::exists(target));
}
