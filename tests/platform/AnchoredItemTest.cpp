#include "platform/AnchoredItem.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using platform::AnchoredItem;

// A link the administrator made in a folder only they change (/home leading
// to /var/home) is followed for an ordinary user; a link the user could have
// made or swapped is not, and running as root none is.
TEST(AnchoredItem, OnlyLinksTheUserCannotChangeAreFollowed)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to make links an ordinary user cannot change";
    kztest::UserFolder dir;
    ::chmod(dir.path().c_str(), 0755);
    dir.write("var/home/me/x", "1");
    ::chmod((dir / "var").c_str(), 0755);
    ::chmod((dir / "var/home").c_str(), 0755);
    ::chmod((dir / "var/home/me").c_str(), 0755);
    fs::create_directory_symlink(dir / "var/home", dir / "home");
    const fs::path open = dir / "open";
    fs::create_directory(open);
    ::chmod(open.c_str(), 0777);
    fs::create_directory_symlink(dir / "var/home", open / "home");

    int err = 0;
    EXPECT_FALSE(AnchoredItem::open(dir / "home/me/x", &err)) << "root follows no link";
    EXPECT_EQ(err, ELOOP);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(10);
        const auto system = AnchoredItem::open(dir / "home/me/x");
        if (!system || !system->stat())
            ::_exit(11);
        int code = 0;
        if (AnchoredItem::open(open / "home/me/x", &code) || code != ELOOP)
            ::_exit(12);
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
