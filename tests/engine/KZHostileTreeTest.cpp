// Searches over trees that try to make the engine misbehave: items that
// must never be opened, files that cannot be read, folders deeper than any
// path the system accepts in one call.

#include "EngineTestSupport.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

using namespace enginetest;

namespace {

quint64 infoCount(const SearchResult& result, const char* key)
{
    return result.info.value(str(key)).toULongLong();
}

class KZHostileTreeTest : public ::testing::Test {
protected:
    kztest::TempDir dir;
};

TEST_F(KZHostileTreeTest, SpecialFilesAreNeverOpenedNorDuplicates)
{
    // Empty files count here (no size threshold), so a pipe, a socket or a
    // device of size 0 would meet every other one, and two names of one pipe
    // would pass for a file and its hard link.
    dir.mkdir("special");
    const fs::path pipe = dir / "special/pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
    ASSERT_EQ(::link(pipe.c_str(), (dir / "special/pipe-link").c_str()), 0);
    ASSERT_EQ(::mkfifo((dir / "special/other-pipe").c_str(), 0644), 0);
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = (dir / "special/socket").native();
    if (socketPath.size() < sizeof(address.sun_path)) {
        std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
        EXPECT_EQ(::bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    }
    if (::geteuid() == 0) { // a device node of its own: opening a real one could act on it
        EXPECT_EQ(::mknod((dir / "special/device").c_str(), S_IFCHR | 0600, makedev(1, 3)), 0);
    }
    const fs::path empty = dir.write("files/empty", "");
    const fs::path emptyToo = dir.write("files/empty-too", "");

    ObservingReader reader;
    SearchOptions options;
    options.reader = &reader;
    const SearchResult result = runSearch({dir.path()}, sizeAndContentCriteria(), options);
    ::close(sock);

    EXPECT_EQ(groupSet(result.rows), (Groups{{empty, emptyToo}}));
    for (const auto& [path, count] : reader.attempts)
        EXPECT_EQ(path.parent_path(), dir / "files") << path << " was opened " << count << " times";
    EXPECT_EQ(infoCount(result, "KZResultUnreadableItemsCount"), 0u);
}

TEST_F(KZHostileTreeTest, LinksAreNeverOpenedAndUnreadableFilesAreTriedOnce)
{
    // Links and files all of one size, and a reader that refuses every file:
    // no comparison can succeed, and none may be tried twice.
    constexpr int count = 3000;
    const std::string pad = "target-";
    for (int i = 0; i < count; ++i) {
        const std::string name = pad + std::to_string(100000 + i); // 13 bytes: the links' size too
        dir.write("tree/" + name, std::string(name.size(), 'x'));
        fs::create_symlink(name, dir / ("tree/link-" + std::to_string(i)));
    }
    ObservingReader reader;
    reader.refuseAll = true;
    SearchOptions options;
    options.reader = &reader;
    const SearchResult result = runSearch({dir / "tree"}, sizeAndContentCriteria(), options);

    EXPECT_TRUE(result.rows.empty());
    int tried = 0;
    for (const auto& [path, attempts] : reader.attempts) {
        EXPECT_EQ(path.filename().native().rfind("link-", 0), std::string::npos) << path << " is a link";
        EXPECT_EQ(attempts, 1) << path;
        tried += attempts;
    }
    // Only the first file of the size may never need its bytes: it waits in
    // the tree for a readable partner that never comes.
    EXPECT_GE(tried, count - 1);
    EXPECT_EQ(infoCount(result, "KZResultUnreadableItemsCount"), quint64(tried)) << "each counted once";
}

TEST_F(KZHostileTreeTest, DepthAndPathLengthDoNotLimitTheSearch)
{
    const fs::path top = dir.write("root/copy", "deep and equal bytes").parent_path();
    const fs::path deepest = kztest::makeFolderChain(
        top, 200, std::string(60, 'd'), {{"copy", "deep and equal bytes"}, {"other", "deep but other bytes"}});
    ASSERT_FALSE(deepest.empty());
    ASSERT_GT(deepest.native().size(), std::size_t(PATH_MAX) * 2);

    const SearchResult result = runSearch({top}, sizeAndContentCriteria());
    EXPECT_EQ(groupSet(result.rows), (Groups{{top / "copy", deepest / "copy"}}));
    EXPECT_EQ(infoCount(result, "KZResultUnlistedFoldersCount"), 0u);
    EXPECT_EQ(infoCount(result, "KZResultUnreadableItemsCount"), 0u);

    // The test's own clean-up goes by path: take the chain down from the
    // bottom, relative to each parent.
    std::vector<int> fds{::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    const std::string name(60, 'd');
    while (fds.back() >= 0 && fds.size() <= 200)
        fds.push_back(::openat(fds.back(), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (std::size_t i = fds.size() - 1; i > 0; --i) {
        ::unlinkat(fds[i], "copy", 0);
        ::unlinkat(fds[i], "other", 0);
        ::close(fds[i]);
        ::unlinkat(fds[i - 1], name.c_str(), AT_REMOVEDIR);
    }
    ::close(fds[0]);
}

TEST_F(KZHostileTreeTest, WhatCouldNotBeListedIsCounted)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not stop the super-user";
    dir.write("open/a", "twin");
    dir.write("closed/b", "twin");
    fs::permissions(dir / "closed", fs::perms::none);
    const SearchResult result = runSearch({dir.path()}, sizeAndContentCriteria());
    fs::permissions(dir / "closed", fs::perms::owner_all);
    EXPECT_TRUE(result.rows.empty());
    EXPECT_EQ(infoCount(result, "KZResultUnlistedFoldersCount"), 1u);
}

} // namespace
