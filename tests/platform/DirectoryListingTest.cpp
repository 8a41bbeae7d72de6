#include "platform/DirectoryListing.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace platform;
namespace fs = std::filesystem;

namespace {

std::map<std::string, DirEntry> listAll(const fs::path& dir, int* err = nullptr, bool* ok = nullptr)
{
    std::map<std::string, DirEntry> entries;
    const bool result = listDirectory(dir, [&](const DirEntry& e) {
        entries.emplace(e.name, e);
        return true;
    }, err);
    if (ok)
        *ok = result;
    return entries;
}

} // namespace

TEST(DirectoryListing, ListsEveryEntryWithoutFollowingLinks)
{
    kztest::TempDir dir;
    const std::string latin1 = "caf\xE9.txt";
    dir.write(latin1, "1234");
    dir.write(".hidden", "");
    dir.mkdir("sub");
    dir.write("sub/inner", "x");
    fs::create_symlink("sub", dir / "linkToSub");
    fs::create_symlink("nowhere", dir / "dangling");

    int err = -1;
    bool ok = false;
    const auto entries = listAll(dir.path(), &err, &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(err, 0);
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_FALSE(entries.count(".") || entries.count(".."));

    const auto& file = entries.at(latin1); // the raw bytes come back unchanged
    EXPECT_FALSE(file.statFailed);
    EXPECT_TRUE(file.stat.isRegular());
    EXPECT_EQ(file.stat.size, 4u);
    EXPECT_TRUE(entries.at("sub").stat.isDir());
    EXPECT_TRUE(entries.at("linkToSub").stat.isSymlink());
    EXPECT_TRUE(entries.at("dangling").stat.isSymlink());
    EXPECT_FALSE(entries.at("dangling").statFailed);
    EXPECT_TRUE(entries.at(".hidden").stat.isRegular());
}

TEST(DirectoryListing, VisitorCanStop)
{
    kztest::TempDir dir;
    for (int i = 0; i < 5; ++i)
        dir.write("f" + std::to_string(i), "");
    int visits = 0;
    int err = -1;
    EXPECT_TRUE(listDirectory(dir.path(), [&](const DirEntry&) { return ++visits < 2; }, &err));
    EXPECT_EQ(visits, 2);
    EXPECT_EQ(err, 0);
}

TEST(DirectoryListing, RefusesWhatIsNotAFolder)
{
    kztest::TempDir dir;
    dir.mkdir("real");
    const auto file = dir.write("file", "x");
    fs::create_symlink("real", dir / "link");
    struct Case {
        fs::path path;
        int err;
    };
    const Case cases[] = {
        {dir / "missing", ENOENT},
        {file, ENOTDIR},
        {dir / "link", ENOTDIR}, // a link to a folder is not opened
        {fs::path(), ENOENT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.native());
        int err = 0;
        bool called = false;
        EXPECT_FALSE(listDirectory(c.path, [&](const DirEntry&) { return called = true; }, &err));
        EXPECT_EQ(err, c.err);
        EXPECT_FALSE(called);
    }
}

TEST(DirectoryListing, UnreadableFolderReportsEacces)
{
    kztest::TempDir dir;
    const auto locked = dir.mkdir("locked");
    dir.write("locked/x", "");
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(locked.c_str(), 0);
    const auto check = [&] {
        int err = 0;
        bool called = false;
        const bool ok = listDirectory(locked, [&](const DirEntry&) { return called = true; }, &err);
        return !ok && !called && err == EACCES;
    };
    if (::geteuid() != 0) {
        EXPECT_TRUE(check());
        return;
    }
    // Permissions do not bind root: ask from a child that gave them up.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const bool dropped = ::setgid(65534) == 0 && ::setuid(65534) == 0;
        ::_exit(!dropped ? 2 : check() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2)
        GTEST_SKIP() << "cannot give up root privileges here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(DirectoryListing, HandlesDescendByDescriptor)
{
    kztest::TempDir dir;
    dir.write("a/b/c.txt", "abc");
    dir.write("a/b/d.txt", "");
    int err = -1;
    auto top = DirectoryHandle::open(dir / "a", &err);
    ASSERT_TRUE(top.isValid());
    const auto inner = DirectoryHandle::openAt(top.fd(), "b", &err);
    ASSERT_TRUE(inner.isValid());

    // Listing twice gives the same answer: the handle keeps no read position.
    for (int round = 0; round < 2; ++round) {
        std::vector<std::string> names;
        EXPECT_TRUE(inner.list([&](const DirEntry& e) {
            names.push_back(e.name);
            return true;
        }, &err));
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"c.txt", "d.txt"}));
    }

    std::vector<std::string> viaAt;
    EXPECT_TRUE(listDirectoryAt(top.fd(), "b", [&](const DirEntry& e) {
        viaAt.push_back(e.name);
        return true;
    }));
    EXPECT_EQ(viaAt.size(), 2u);

    // The handle follows the folder, not its old name.
    fs::rename(dir / "a", dir / "renamed");
    int count = 0;
    EXPECT_TRUE(top.list([&](const DirEntry&) { return ++count, true; }));
    EXPECT_EQ(count, 1);

    DirectoryHandle moved = std::move(top);
    EXPECT_TRUE(moved.isValid());
    EXPECT_FALSE(top.isValid()); // NOLINT(bugprone-use-after-move): moved-from state is defined
    EXPECT_FALSE(DirectoryHandle::openAt(moved.fd(), "nope", &err).isValid());
    EXPECT_EQ(err, ENOENT);
}
