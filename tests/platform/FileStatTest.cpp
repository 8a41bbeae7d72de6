#include "platform/FileStat.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace platform;
namespace fs = std::filesystem;

namespace {

// Sets or clears the immutable flag; false where the file system or the
// privileges do not allow it.
bool setImmutable(const fs::path& path, bool on)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
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

struct ImmutableGuard {
    fs::path path;
    ~ImmutableGuard() { setImmutable(path, false); }
};

} // namespace

TEST(FileStat, DescribesFilesFoldersAndLinks)
{
    kztest::TempDir dir;
    const auto file = dir.write("file", std::string(5000, 'x'));
    const auto sub = dir.mkdir("sub");
    const auto link = dir / "link";
    fs::create_symlink("file", link);

    struct stat raw;
    ASSERT_EQ(::lstat(file.c_str(), &raw), 0);
    const auto st = statPath(file, false);
    ASSERT_TRUE(st);
    EXPECT_TRUE(st->isRegular());
    EXPECT_EQ(st->size, 5000u);
    EXPECT_EQ(st->inode, raw.st_ino);
    EXPECT_EQ(st->device, raw.st_dev);
    EXPECT_EQ(st->allocatedSize, quint64(raw.st_blocks) * 512);
    EXPECT_EQ(st->modified.tv_sec, raw.st_mtim.tv_sec);
    EXPECT_EQ(st->modified.tv_nsec, raw.st_mtim.tv_nsec);
    EXPECT_EQ(st->links, 1u);
    if (st->birth) {
        EXPECT_LE(st->birth->tv_sec, st->modified.tv_sec + 1);
    }

    EXPECT_TRUE(statPath(sub, false)->isDir());

    const auto linkStat = statPath(link, false);
    ASSERT_TRUE(linkStat);
    EXPECT_TRUE(linkStat->isSymlink());
    EXPECT_EQ(linkStat->size, 4u); // the length of "file"
    const auto followed = statPath(link, true);
    ASSERT_TRUE(followed);
    EXPECT_TRUE(followed->sameItem(*st));

    fs::create_hard_link(file, dir / "hard");
    EXPECT_EQ(statPath(file, false)->links, 2u);
    EXPECT_TRUE(statPath(dir / "hard", false)->sameItem(*st));
}

TEST(FileStat, ReportsErrors)
{
    kztest::TempDir dir;
    int err = 0;
    EXPECT_FALSE(statPath(dir / "missing", false, &err));
    EXPECT_EQ(err, ENOENT);
    EXPECT_FALSE(statPath({}, false, &err));
    EXPECT_EQ(err, ENOENT);
    fs::create_symlink("nowhere", dir / "dangling");
    EXPECT_TRUE(statPath(dir / "dangling", false, &err));
    EXPECT_EQ(err, 0);
    EXPECT_FALSE(statPath(dir / "dangling", true, &err));
    EXPECT_EQ(err, ENOENT);
    const auto file = dir.write("f", "x");
    EXPECT_FALSE(statPath(file / "below", false, &err));
    EXPECT_EQ(err, ENOTDIR);
}

TEST(FileStat, StatAtUsesTheFolderDescriptorAndRawNames)
{
    kztest::TempDir dir;
    const std::string name = "caf\xE9.txt"; // Latin-1, not UTF-8
    dir.write(name, "abc");
    const int fd = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const auto st = statAt(fd, name.c_str(), false);
    ::close(fd);
    ASSERT_TRUE(st);
    EXPECT_EQ(st->size, 3u);
    EXPECT_TRUE(statPath(dir / name, false));
}

TEST(FileStat, ConvertsTimesToLocalDates)
{
    const QDateTime date = toDateTime(timespec{1'600'000'000, 123'456'789});
    EXPECT_EQ(date.toMSecsSinceEpoch(), 1'600'000'000'123LL);
    EXPECT_EQ(date.timeSpec(), Qt::LocalTime);
}

TEST(FileStat, ImmutableFlag)
{
    kztest::TempDir dir;
    const auto file = dir.write("locked", "x");
    fs::create_symlink("locked", dir / "link");
    EXPECT_FALSE(isImmutable(file));
    EXPECT_FALSE(isImmutable(dir / "missing"));

    if (!setImmutable(file, true))
        GTEST_SKIP() << "the immutable flag cannot be set here";
    ImmutableGuard guard{file};
    EXPECT_TRUE(isImmutable(file));
    EXPECT_FALSE(isImmutable(dir / "link")); // a link is never followed
    const auto st = statPath(file, false);
    ASSERT_TRUE(st);
    if (st->immutable) {
        EXPECT_TRUE(*st->immutable);
    }
}
