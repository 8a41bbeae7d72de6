#include "platform/DirectoryListing.h"
#include "platform/FileOps.h"
#include "platform/FileStat.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <map>
#include <unistd.h>

using namespace platform;
namespace fs = std::filesystem;
using kztest::readFile;

namespace {

std::map<std::string, DirEntry> listAll(const fs::path& dir)
{
    std::map<std::string, DirEntry> entries;
    int err = -1;
    EXPECT_TRUE(listDirectory(dir, [&](const DirEntry& e) { return entries.emplace(e.name, e), true; }, &err));
    EXPECT_EQ(err, 0);
    return entries;
}

} // namespace

TEST(FileStat, DescribesItemsWithoutFollowingLinksUnlessAsked)
{
    kztest::TempDir dir;
    const auto file = dir.write("caf\xE9", std::string(5000, 'x'));
    fs::create_symlink("caf\xE9", dir / "link");
    fs::create_hard_link(file, dir / "hard");
    struct stat raw;
    ASSERT_EQ(::lstat(file.c_str(), &raw), 0);
    const auto st = statPath(file, false);
    ASSERT_TRUE(st);
    EXPECT_TRUE(st->isRegular());
    EXPECT_EQ(st->size, 5000u);
    EXPECT_EQ(st->inode, raw.st_ino);
    EXPECT_EQ(st->device, raw.st_dev);
    EXPECT_EQ(st->links, 2u);
    EXPECT_TRUE(statPath(dir / "hard", false)->sameItem(*st));
    EXPECT_EQ(statPath(dir / "link", false)->size, 4u); // the link itself
    EXPECT_TRUE(statPath(dir / "link", true)->sameItem(*st));
    const int fd = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    EXPECT_TRUE(statAt(fd, "caf\xE9", false)->sameItem(*st));
    ::close(fd);

    fs::create_symlink("nowhere", dir / "dangling");
    const std::tuple<fs::path, bool, int> failures[] = {
        {dir / "missing", false, ENOENT}, {{}, false, ENOENT}, {dir / "dangling", true, ENOENT}, {file / "x", false, ENOTDIR}};
    for (const auto& [path, follow, expected] : failures) {
        int err = 0;
        EXPECT_FALSE(statPath(path, follow, &err)) << path;
        EXPECT_EQ(err, expected) << path;
    }
}

TEST(FileOps, MovesFilesFoldersAndLinksButNeverReplaces)
{
    kztest::TempDir dir;
    dir.write("caf\xE9", "data");
    dir.write("folder/inner", "in");
    dir.write("b", "B");
    const auto empty = dir.mkdir("empty");
    fs::create_symlink("nowhere", dir / "link");

    QString error;
    ASSERT_TRUE(moveNoReplace(dir / "caf\xE9", dir / "a\xE9", &error)) << error.toStdString();
    EXPECT_EQ(readFile(dir / "a\xE9"), "data");
    ASSERT_TRUE(moveNoReplace(dir / "link", dir / "link2", &error)) << error.toStdString();
    EXPECT_EQ(fs::read_symlink(dir / "link2"), fs::path("nowhere"));

    // rename(2) would replace the file and the empty folder without a word.
    const std::pair<fs::path, fs::path> refused[] = {
        {dir / "a\xE9", dir / "b"}, {dir / "folder", empty}, {dir / "a\xE9", empty}, {dir / "folder", dir / "b"}};
    for (const auto& [from, to] : refused) {
        int err = 0;
        EXPECT_FALSE(moveNoReplace(from, to, &error, &err)) << from << " -> " << to;
        EXPECT_EQ(err, EEXIST);
    }
    EXPECT_EQ(readFile(dir / "b"), "B");
    EXPECT_EQ(readFile(dir / "folder/inner"), "in");
    EXPECT_TRUE(fs::is_empty(empty));


    const std::optional<fs::path> other = kztest::otherVolume();
    if (!other)
        GTEST_SKIP() << "no second writable file system";
    const auto target = *other / ("kzfileops-" + std::to_string(::getpid()));
    int err = 0;
    EXPECT_FALSE(moveNoReplace(dir / "b", target, nullptr, &err));
    EXPECT_EQ(err, EXDEV);
    EXPECT_TRUE(fs::exists(dir / "b"));
    EXPECT_FALSE(fs::exists(target));
}

TEST(DirectoryListing, ListsRawNamesWithoutFollowingLinksAndStopsWhenAsked)
{
    kztest::TempDir dir;
    dir.write("caf\xE9.txt", "1234");
    dir.write("sub/inner", "x");
    fs::create_symlink("sub", dir / "linkToSub");
    fs::create_symlink("nowhere", dir / "dangling");

    const auto entries = listAll(dir.path());
    ASSERT_EQ(entries.size(), 4u); // no "." or ".."
    const auto& file = entries.at("caf\xE9.txt");
    EXPECT_TRUE(file.stat.isRegular());
    EXPECT_EQ(file.stat.size, 4u);
    EXPECT_TRUE(entries.at("sub").stat.isDir());
    EXPECT_TRUE(entries.at("linkToSub").stat.isSymlink());
    EXPECT_TRUE(entries.at("dangling").stat.isSymlink());
    EXPECT_FALSE(entries.at("dangling").statFailed);

    int visits = 0;
    EXPECT_TRUE(listDirectory(dir.path(), [&](const DirEntry&) { return ++visits < 2; }));
    EXPECT_EQ(visits, 2);

    // A link to a folder is not opened.
    const std::pair<fs::path, int> refused[] = {
        {dir / "missing", ENOENT}, {dir / "caf\xE9.txt", ENOTDIR}, {dir / "linkToSub", ENOTDIR}, {{}, ENOENT}};
    for (const auto& [path, expected] : refused) {
        int err = 0;
        bool called = false;
        EXPECT_FALSE(listDirectory(path, [&](const DirEntry&) { return called = true; }, &err)) << path;
        EXPECT_EQ(err, expected) << path;
        EXPECT_FALSE(called);
    }
}

TEST(DirectoryListing, HandlesFollowTheFolderNotItsName)
{
    kztest::TempDir dir;
    dir.write("a/b/c.txt", "abc");
    dir.write("a/b/d.txt", "");
    int err = -1;
    auto top = DirectoryHandle::open(dir / "a", &err);
    ASSERT_TRUE(top.isValid());
    const auto inner = DirectoryHandle::openAt(top.fd(), "b", &err);
    ASSERT_TRUE(inner.isValid());
    fs::rename(dir / "a", dir / "renamed");

    // A listing cut short, then two whole ones: each listing starts over.
    int seen = 0;
    EXPECT_TRUE(inner.list([&](const DirEntry&) { return ++seen, false; }, &err));
    EXPECT_EQ(seen, 1);
    for (int round = 0; round < 2; ++round) {
        int count = 0;
        EXPECT_TRUE(inner.list([&](const DirEntry&) { return ++count, true; }, &err));
        EXPECT_EQ(count, 2);
    }
    int count = 0;
    EXPECT_TRUE(listDirectoryAt(top.fd(), "b", [&](const DirEntry&) { return ++count, true; }));
    EXPECT_EQ(count, 2);

    DirectoryHandle moved = std::move(top);
    EXPECT_FALSE(top.isValid()); // NOLINT(bugprone-use-after-move): moved-from state is defined
    EXPECT_FALSE(DirectoryHandle::openAt(moved.fd(), "nope", &err).isValid());
    EXPECT_EQ(err, ENOENT);
}
