// Copies and comparisons against a tree changed while they run: a failed
// copy is cleaned up in the folder it was made in, and a FIFO put where a
// file was is refused at once.

#include "platform/AnchoredItem.h"
#include "platform/FileOps.h"
#include "platform/Trash.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

// The folder the copy goes into is swapped for a link to a folder that has
// an item of the copy's name; the copy is then stopped. Only what the copy
// made goes, from where it made it; the other folder's item stays whole.
TEST(FileOpsSwap, AFailedCopyIsCleanedUpInTheFolderItWasMadeIn)
{
    kztest::TempDir dir;
    dir.write("src/a", "A");
    dir.write("src/b", "B");
    fs::create_directories(dir / "into");
    dir.write("other/copy/precious", "P");
    int calls = 0;
    const auto swapThenStop = [&] {
        if (++calls == 1) {
            fs::rename(dir / "into", dir / "into.real");
            fs::create_directory_symlink(dir / "other", dir / "into");
        }
        return true;
    };
    int err = 0;
    EXPECT_FALSE(platform::copyTree(dir / "src", dir / "into/copy", swapThenStop, &err));
    EXPECT_EQ(err, ECANCELED);
    EXPECT_EQ(kztest::readFile(dir / "other/copy/precious"), "P");
    EXPECT_FALSE(fs::exists(dir / "into.real/copy")) << "the partial copy is gone";
    EXPECT_EQ(kztest::readFile(dir / "src/a"), "A");

    // Through descriptors: the entries land in the folder opened, and a
    // target that was there before is neither replaced nor removed.
    const int from = platform::openFolderAt(AT_FDCWD, (dir / "src").c_str());
    const int into = platform::openFolderAt(AT_FDCWD, (dir / "into.real").c_str());
    ASSERT_GE(from, 0);
    ASSERT_GE(into, 0);
    EXPECT_TRUE(platform::copyTreeAt(from, "a", into, "a", {}, &err)) << err;
    EXPECT_FALSE(platform::copyTreeAt(from, "b", into, "a", {}, &err));
    EXPECT_EQ(err, EEXIST);
    EXPECT_FALSE(platform::copyTreeAt(from, "missing", into, "a", {}, &err));
    EXPECT_EQ(kztest::readFile(dir / "into.real/a"), "A");
    ::close(from);
    ::close(into);
}

// A FIFO in place of a file answers "not the same" at once, whichever side
// it is on; a copy refuses one too.
TEST(FileOpsSwap, AFifoIsRefusedAtOnceNeverWaitedOn)
{
    kztest::TempDir dir;
    const fs::path file = dir.write("file", "bytes");
    const fs::path fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const auto& [a, b] : {std::pair{fifo, file}, std::pair{file, fifo}}) {
        auto compared = std::async(std::launch::async, [a, b] { return platform::sameFileBytes(a, b); });
        if (compared.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
            // Releases the waiting open so that the test can end.
            const int writer = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
            ADD_FAILURE() << "the comparison waited on a FIFO";
            compared.wait();
            ::close(writer);
            continue;
        }
        EXPECT_FALSE(compared.get());
    }
    EXPECT_TRUE(platform::sameFileBytes(file, file));
    EXPECT_FALSE(platform::sameContent(dir.path(), dir.path())) << "a folder holding a FIFO";
    int err = 0;
    EXPECT_FALSE(platform::copyTree(fifo, dir / "copied", {}, &err));
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "copied")));
}

// Folders made again on the way to an item are made from the folder opened
// before them and never through a link the user could have put there, as
// root or not; an administrator's link (/home to /var/home) still leads an
// ordinary user to their folders.
TEST(FileOpsSwap, FoldersMadeOnTheWayNeverPassThroughALink)
{
    kztest::UserFolder dir;
    ::chmod(dir.path().c_str(), 0755);
    fs::create_directories(dir / "mine/place");
    fs::create_directories(dir / "other");
    fs::create_directory_symlink(dir / "other", dir / "mine/link");
    std::vector<fs::path> made;
    int err = 0;
    const auto place = platform::AnchoredItem::openMakingFolders(dir / "mine/place/new/deeper/x", &err, &made);
    ASSERT_TRUE(place) << err;
    EXPECT_EQ(made, (std::vector<fs::path>{dir / "mine/place/new", dir / "mine/place/new/deeper"}));
    EXPECT_TRUE(fs::is_directory(dir / "mine/place/new/deeper"));
    EXPECT_FALSE(platform::AnchoredItem::openMakingFolders(dir / "mine/link/new/x", &err));
    EXPECT_EQ(err, ELOOP);
    EXPECT_TRUE(fs::is_empty(dir / "other"));
    if (::geteuid() != 0)
        return;

    // As an ordinary user: their own link is refused, the administrator's
    // is followed.
    dir.write("var/home/me/keep", "1");
    for (const char* folder : {"var", "var/home"})
        ::chmod((dir / folder).c_str(), 0755);
    ::chown((dir / "var/home/me").c_str(), 65534, 65534);
    fs::create_directory_symlink(dir / "var/home", dir / "home");
    const fs::path open = dir.mkdir("open");
    ::chown(open.c_str(), 65534, 65534);
    const fs::path theirs = dir.mkdir("theirs");
    ::chown(theirs.c_str(), 65534, 65534);
    fs::create_directory_symlink(theirs, open / "link");
    ::lchown((open / "link").c_str(), 65534, 65534);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(10);
        int code = 0;
        if (platform::AnchoredItem::openMakingFolders(open / "link/new/x", &code) || code != ELOOP)
            ::_exit(11);
        if (!platform::AnchoredItem::openMakingFolders(dir / "home/me/new/x", &code))
            ::_exit(12);
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(fs::is_empty(theirs));
    EXPECT_TRUE(fs::is_directory(dir / "var/home/me/new"));
}

// Putting an item back from the Trash reaches its old place without
// following a link: with a folder on the way swapped for one, the item stays
// in the Trash and the folder the link leads to gets nothing.
TEST(FileOpsSwap, PuttingBackFromTheTrashNeverFollowsALinkOnTheWay)
{
    kztest::TempDir dir;
    const fs::path item = dir.write("home/a/x", "X");
    fs::create_directories(dir / "other/a");
    const auto trashed = platform::moveToTrash(item);
    ASSERT_TRUE(trashed);
    fs::rename(dir / "home", dir / "home.real");
    fs::create_directory_symlink(dir / "other", dir / "home");
    QString error;
    EXPECT_FALSE(platform::restoreFromTrash(*trashed, item, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(fs::is_empty(dir / "other/a"));
    EXPECT_EQ(kztest::readFile(*trashed), "X");

    fs::remove(dir / "home");
    fs::rename(dir / "home.real", dir / "home");
    EXPECT_TRUE(platform::restoreFromTrash(*trashed, item, &error)) << error.toStdString();
    EXPECT_EQ(kztest::readFile(item), "X");
}
