#include "platform/FileOps.h"
#include "platform/FileStat.h"
#include "platform/Trash.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace fs = std::filesystem;

TEST(FileTreeOps, FolderOpensRelativeToItsParentAndLinksOnlyWhenAsked)
{
    kztest::TempDir dir;
    dir.write("real/inside", "x");
    fs::create_symlink("real", dir / "link");
    dir.write("file", "y");
    const int parent = platform::openFolderAt(AT_FDCWD, dir.path().c_str());
    ASSERT_GE(parent, 0);

    const int real = platform::openFolderAt(parent, "real");
    EXPECT_GE(real, 0);
    EXPECT_EQ(::faccessat(real, "inside", F_OK, 0), 0);
    // A link is refused unless asked for, and a file is never a folder.
    errno = 0;
    EXPECT_EQ(platform::openFolderAt(parent, "link"), -1);
    EXPECT_TRUE(errno == ELOOP || errno == ENOTDIR) << errno;
    const int followed = platform::openFolderAt(parent, "link", platform::kFolderFollowLink);
    EXPECT_GE(followed, 0);
    EXPECT_EQ(platform::openFolderAt(parent, "file", platform::kFolderFollowLink), -1);
    EXPECT_EQ(errno, ENOTDIR);

    // A folder that may be searched but not listed opens for the *at calls.
    ::chmod((dir / "real").c_str(), 0100);
    const int pathOnly = platform::openFolderAt(parent, "real", platform::kFolderPathOnly);
    EXPECT_GE(pathOnly, 0);
    EXPECT_EQ(::faccessat(pathOnly, "inside", F_OK, 0), 0);
    if (::geteuid() != 0) { // permissions do not stop the super-user
        EXPECT_EQ(platform::openFolderAt(parent, "real"), -1);
    }
    ::chmod((dir / "real").c_str(), 0700);
    for (int fd : {parent, real, followed, pathOnly})
        if (fd >= 0)
            ::close(fd);
}

TEST(FileTreeOps, CopyKeepsModesTimesAttributesAndLinks)
{
    kztest::TempDir dir;
    dir.write("src/a.txt", "alpha");
    dir.write("src/sub/b.bin", std::string(300000, 'b'));
    fs::create_symlink("../a.txt", dir / "src/sub/link");
    fs::create_symlink("/nonexistent/target", dir / "src/dangling");
    ::chmod((dir / "src/a.txt").c_str(), 0640);
    ::chmod((dir / "src/sub").c_str(), 0750);
    const timespec times[2] = {{1000, 0}, {2000, 500}};
    ::utimensat(AT_FDCWD, (dir / "src/a.txt").c_str(), times, 0);
    const bool xattrs = ::setxattr((dir / "src/a.txt").c_str(), "user.kz", "v", 1, 0) == 0;

    int err = -1;
    ASSERT_TRUE(platform::copyTree(dir / "src", dir / "dst", {}, &err)) << err;
    EXPECT_EQ(kztest::readFile(dir / "dst/a.txt"), "alpha");
    EXPECT_EQ(kztest::readFile(dir / "dst/sub/b.bin").size(), 300000u);
    EXPECT_EQ(fs::read_symlink(dir / "dst/sub/link"), "../a.txt");
    EXPECT_EQ(fs::read_symlink(dir / "dst/dangling"), "/nonexistent/target");
    const auto st = platform::statPath(dir / "dst/a.txt", false);
    EXPECT_EQ(st->mode & 07777, 0640u);
    EXPECT_EQ(st->modified.tv_sec, 2000);
    EXPECT_EQ(st->modified.tv_nsec, 500);
    EXPECT_EQ(platform::statPath(dir / "dst/sub", false)->mode & 07777, 0750u);
    if (xattrs) {
        char value[4] = {};
        EXPECT_EQ(::getxattr((dir / "dst/a.txt").c_str(), "user.kz", value, sizeof value), 1);
    }
}

TEST(FileTreeOps, CopyNeverReplacesAndCleansOnlyItsOwnPartialTarget)
{
    kztest::TempDir dir;
    dir.write("src/a", "new");
    dir.write("src/b", "new");
    dir.write("taken", "old");
    int err = 0;
    EXPECT_FALSE(platform::copyTree(dir / "src/a", dir / "taken", {}, &err));
    EXPECT_EQ(err, EEXIST);
    EXPECT_EQ(kztest::readFile(dir / "taken"), "old");

    // A stop after the first child: the half-made copy goes, the source stays.
    int calls = 0;
    EXPECT_FALSE(platform::copyTree(dir / "src", dir / "copy", [&] { return ++calls > 1; }, &err));
    EXPECT_EQ(err, ECANCELED);
    EXPECT_FALSE(fs::exists(dir / "copy"));
    EXPECT_EQ(kztest::readFile(dir / "src/a"), "new");
    EXPECT_EQ(kztest::readFile(dir / "src/b"), "new");

    // An existing folder of that name is not merged into.
    dir.write("existing/keep", "old");
    EXPECT_FALSE(platform::copyTree(dir / "src", dir / "existing", {}, &err));
    EXPECT_EQ(err, EEXIST);
    EXPECT_EQ(kztest::readFile(dir / "existing/keep"), "old");
    EXPECT_FALSE(fs::exists(dir / "existing/a"));
}

// A mount in the folder, or the item itself a mount, shows another file
// system's files: the copy stops at its edge, leaves no partial target, and
// the mounted files stay as they are. Also a mount made while the copy runs.
TEST(FileTreeOps, CopyNeverCrossesIntoAMount)
{
    const auto outcome = kztest::runWithPrivateMounts([] {
        kztest::TempDir dir;
        dir.write("other/kept", "mounted");
        dir.write("src/a", "own");
        dir.write("src/z/b", "own");
        kztest::bindMount(dir / "other", dir / "src/m");
        kztest::bindMount(dir / "other", dir / "whole");
        for (const char* from : {"src", "whole"}) {
            int err = 0;
            EXPECT_FALSE(platform::copyTree(dir / from, dir / "copy", {}, &err)) << from;
            EXPECT_EQ(err, EXDEV) << from;
            EXPECT_FALSE(fs::exists(dir / "copy")) << from;
        }
        ::umount2((dir / "src/m").c_str(), MNT_DETACH);
        int asked = 0;
        const platform::StopTest mountOnFirstAsk = [&] {
            if (asked++ == 0)
                kztest::bindMount(dir / "other", dir / "src/z");
            return false;
        };
        int err = 0;
        EXPECT_FALSE(platform::copyTree(dir / "src", dir / "copy", mountOnFirstAsk, &err));
        EXPECT_EQ(err, EXDEV);
        EXPECT_FALSE(fs::exists(dir / "copy"));
        EXPECT_EQ(kztest::readFile(dir / "other/kept"), "mounted");
    });
    if (outcome == kztest::Isolated::Unavailable)
        GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(outcome, kztest::Isolated::Passed);
}

TEST(FileTreeOps, RemoveNeverFollowsLinksOutOfTheFolder)
{
    kztest::TempDir dir;
    dir.write("outside/precious", "keep");
    dir.write("victim/a/b/c", "x");
    fs::create_directory_symlink(dir / "outside", dir / "victim/a/toOutside");
    fs::create_symlink(dir / "outside/precious", dir / "victim/fileLink");
    int err = -1;
    ASSERT_TRUE(platform::removeTree(dir / "victim", {}, &err)) << err;
    EXPECT_FALSE(fs::exists(dir / "victim"));
    EXPECT_EQ(kztest::readFile(dir / "outside/precious"), "keep");

    // A link given itself goes as a link.
    fs::create_directory_symlink(dir / "outside", dir / "top");
    ASSERT_TRUE(platform::removeTree(dir / "top", {}, &err));
    EXPECT_EQ(kztest::readFile(dir / "outside/precious"), "keep");
}

TEST(FileTreeOps, RemoveStopsBetweenChildrenAndCanKeepTheFolder)
{
    kztest::TempDir dir;
    for (const char* name : {"f/1", "f/2", "f/3", "f/sub/4"})
        dir.write(name, "x");
    int calls = 0;
    int err = 0;
    EXPECT_FALSE(platform::removeTree(dir / "f", [&] { return ++calls > 2; }, &err));
    EXPECT_EQ(err, ECANCELED);
    EXPECT_TRUE(fs::exists(dir / "f"));
    std::size_t left = 0;
    for (auto it = fs::recursive_directory_iterator(dir / "f"); it != fs::recursive_directory_iterator(); ++it)
        left += it->is_regular_file();
    EXPECT_GE(left, 1u);
    EXPECT_LT(left, 4u);

    ASSERT_TRUE(platform::removeTree(dir / "f", {}, &err, true));
    EXPECT_TRUE(fs::is_directory(dir / "f"));
    EXPECT_TRUE(fs::is_empty(dir / "f"));
    EXPECT_FALSE(platform::removeTree(dir / "missing", {}, &err));
    EXPECT_EQ(err, ENOENT);
}

TEST(FileTreeOps, TrashNamesTheReasonOfAFailure)
{
    kztest::TempDir dir;
    int err = 0;
    EXPECT_FALSE(platform::moveToTrash(dir / "missing", nullptr, &err));
    EXPECT_EQ(err, ENOENT);
    EXPECT_FALSE(platform::moveToTrash("/", nullptr, &err));
    EXPECT_NE(err, 0);
    dir.write("here", "x");
    EXPECT_TRUE(platform::moveToTrash(dir / "here", nullptr, &err));
    EXPECT_EQ(err, 0);
}
