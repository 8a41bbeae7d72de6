// Before Linux 6.8 a mount ID is handed out again, so the very same disk,
// never let go, is told within one run by a watch on its file system: the
// mark holds until the file system goes, never hinders its unmount, and is
// never shown by another process.

#include "RunConditions.h"
#include "TestSupport.h"

#include "platform/FileSystemFacts.h"
#include "platform/MountWatch.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace fs = std::filesystem;

namespace {

using kztest::BeforeLastingMountIds;

std::optional<quint64> markOf(const fs::path& item)
{
    return platform::fileSystemOf(item).marks().mount;
}

// Runs `body` in a forked child (as `uid` where one is given) and answers
// whether it passed; a child that takes longer than ten seconds is killed.
bool passesInChild(const std::function<void()>& body, std::optional<uid_t> uid = std::nullopt)
{
    std::fflush(stdout);
    const int failuresBefore = kztest::failuresOfCurrentTest();
    const pid_t child = ::fork();
    if (child == 0) {
        if (uid && (::setgroups(0, nullptr) != 0 || ::setgid(*uid) != 0 || ::setuid(*uid) != 0))
            ::_exit(10);
        kztest::runInChild(body);
        std::fflush(stdout);
        ::_exit(kztest::failuresOfCurrentTest() > failuresBefore ? 1 : 0);
    }
    if (child < 0)
        return false;
    int status = 0;
    for (int waited = 0; waited < 1000; ++waited) {
        if (::waitpid(child, &status, WNOHANG) == child)
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        ::usleep(10000);
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
    ADD_FAILURE() << "the child took longer than ten seconds";
    return false;
}

std::vector<char> eventOf(int wd, uint32_t mask)
{
    inotify_event event{};
    event.wd = wd;
    event.mask = mask;
    std::vector<char> bytes(sizeof event);
    std::memcpy(bytes.data(), &event, sizeof event);
    return bytes;
}

} // namespace

// The mark stays while the file system does, through a bind mount of it and
// the unmount of one of its mounts; the watch lets the last unmount go at
// once (an open descriptor would answer "target is busy"), and a file system
// mounted afterwards under the same device number has another mark.
TEST(MountWatch, AFileSystemKeepsItsMarkUntilItIsUnmounted)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to mount";
    kztest::UserFolder d;
    ASSERT_EQ(::chmod(d.path().c_str(), 0711), 0);
    const auto outcome = kztest::runWithPrivateMounts([&] {
        BeforeLastingMountIds olderKernel;
        const fs::path at = d / "disk";
        const fs::path bound = d / "bound";
        kztest::mountTmpfs(at);
        std::ofstream(at / "f") << "x";
        const auto first = markOf(at / "f");
        ASSERT_TRUE(first) << "root may watch the disk's root";
        EXPECT_EQ(markOf(at), first);
        kztest::bindMount(at, bound);
        EXPECT_EQ(markOf(bound / "f"), first) << "a bind mount shows the very same file system";
        ASSERT_EQ(::umount2(bound.c_str(), 0), 0) << std::strerror(errno);
        EXPECT_EQ(markOf(at / "f"), first) << "one of its mounts went, the file system stayed";

        ASSERT_EQ(::umount2(at.c_str(), 0), 0) << "the watch held the disk: " << std::strerror(errno);
        kztest::mountTmpfs(at);
        std::ofstream(at / "f") << "x";
        const auto second = markOf(at / "f");
        EXPECT_TRUE(second);
        EXPECT_NE(second, first) << "a file system mounted anew";
        EXPECT_EQ(markOf(at / "f"), second);

        // The ordinary user watches a root it may read, and has no mark of
        // one it may only pass through.
        const fs::path passOnly = d / "pass only";
        kztest::mountTmpfs(passOnly, "mode=0711");
        std::ofstream(passOnly / "f") << "x";
        ASSERT_EQ(::chmod((passOnly / "f").c_str(), 0644), 0);
        ASSERT_EQ(::chmod((at / "f").c_str(), 0644), 0);
        EXPECT_TRUE(passesInChild(
            [&] {
                EXPECT_TRUE(markOf(at / "f"));
                EXPECT_EQ(markOf(at / "f"), markOf(at / "f"));
                EXPECT_FALSE(markOf(passOnly / "f"));
            },
            kztest::kOrdinaryUser));
    });
    if (outcome == kztest::Isolated::Unavailable)
        GTEST_SKIP() << "no private mounts here";
    EXPECT_EQ(outcome, kztest::Isolated::Passed);
}

// Another run draws another random number; a forked child shares its
// parent's number and queue, and starts both anew: its marks are never its
// parent's, and its parent's watches go on.
TEST(MountWatch, AForkedChildNeverShowsItsParentsMark)
{
    kztest::TempDir d;
    const fs::path f = d.write("f", "x");
    BeforeLastingMountIds olderKernel;
    const auto parents = markOf(f);
    if (!parents)
        GTEST_SKIP() << "the temporary folder's root cannot be watched here";
    EXPECT_TRUE(passesInChild([&] {
        const auto its = markOf(f);
        EXPECT_TRUE(its);
        EXPECT_NE(its, parents);
        EXPECT_EQ(markOf(f), its);
    }));
    EXPECT_EQ(markOf(f), parents);
}

// A queue that overflowed lost events: every watch ends, and the disks are
// watched anew under new marks. Events of watches it does not hold change
// nothing.
TEST(MountWatch, AnOverflowOfTheQueueEndsEveryWatch)
{
    kztest::TempDir d;
    const fs::path f = d.write("f", "x");
    BeforeLastingMountIds olderKernel;
    const auto before = markOf(f);
    if (!before)
        GTEST_SKIP() << "the temporary folder's root cannot be watched here";
    platform::takeMountWatchEvents(eventOf(0x7fff0000, IN_IGNORED));
    platform::takeMountWatchEvents(eventOf(0x7fff0001, IN_UNMOUNT));
    EXPECT_EQ(markOf(f), before);
    platform::takeMountWatchEvents(eventOf(-1, IN_Q_OVERFLOW));
    const auto after = markOf(f);
    EXPECT_TRUE(after);
    EXPECT_NE(after, before);
    EXPECT_EQ(markOf(f), after);
}
