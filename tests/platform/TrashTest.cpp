#include "platform/FileStat.h"
#include "platform/Trash.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

using namespace platform;
namespace fs = std::filesystem;
using kztest::readFile;

namespace {

fs::path infoFileOf(const fs::path& trashed)
{
    return trashed.parent_path().parent_path() / "info" / (trashed.filename().native() + ".trashinfo");
}

// The home trash is shared by every test of this run: each test clears it.
class Trash : public ::testing::Test {
protected:
    void SetUp() override { fs::remove_all(homeTrashDirectory()); }
    void TearDown() override { fs::remove_all(homeTrashDirectory()); }
    kztest::TempDir dir;
};

} // namespace

TEST_F(Trash, MovesAnItemToTheHomeTrashAndBackByteForByte)
{
    const fs::path home = homeTrashDirectory();
    EXPECT_EQ(home, kztest::sandboxHome() / ".local/share/Trash");
    const std::string name = "caf\xE9 & 100%.txt"; // not UTF-8, with characters that need escaping
    const auto item = dir.write("sub/" + name, "payload");
    EXPECT_EQ(trashDirectoryFor(item, false), home);
    EXPECT_FALSE(fs::exists(home)); // asking does not create
    EXPECT_FALSE(trashDirectoryFor(dir / "missing", true));
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);

    QString error;
    const auto trashed = moveToTrash(item, &error);
    ASSERT_TRUE(trashed) << error.toStdString();
    EXPECT_EQ(fs::status(home).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_EQ(*trashed, home / "files" / name);
    EXPECT_EQ(readFile(*trashed), "payload");
    const std::string info = readFile(infoFileOf(*trashed));
    EXPECT_EQ(info.rfind("[Trash Info]\nPath=", 0), 0u) << info;
    EXPECT_NE(info.find("caf%E9%20%26%20100%25.txt\nDeletionDate="), std::string::npos) << info;
    const auto parsed = readTrashInfo(*trashed);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->originalPath, item);
    EXPECT_GE(parsed->deletionDate, before);
    EXPECT_LE(parsed->deletionDate, QDateTime::currentDateTime().addSecs(1));

    ASSERT_TRUE(restoreFromTrash(*trashed, item, &error)) << error.toStdString();
    EXPECT_EQ(readFile(item), "payload");
    EXPECT_FALSE(fs::exists(*trashed));
    EXPECT_FALSE(fs::exists(infoFileOf(*trashed)));

    // Folders go whole; a link goes as a link, even spelled with a trailing slash.
    dir.write("folder/deep/file", "f");
    fs::create_symlink(item, dir / "link");
    EXPECT_EQ(readFile(moveToTrash(dir / "folder").value() / "deep/file"), "f");
    const auto link = moveToTrash(dir / "link/");
    ASSERT_TRUE(link);
    EXPECT_TRUE(fs::is_symlink(*link));
    EXPECT_EQ(readTrashInfo(*link)->originalPath, dir / "link");
    EXPECT_EQ(readFile(item), "payload");
}

TEST_F(Trash, NeverReplacesAnythingInTheTrashOrOnRestore)
{
    const auto first = dir.write("a/report.txt", "1"), second = dir.write("b/report.txt", "2"),
               third = dir.write("c/report.txt", "3");
    ASSERT_TRUE(trashDirectoryFor(first, true));
    // A leftover of another program, without a trashinfo, holds "report.txt.2".
    std::ofstream(homeTrashDirectory() / "files/report.txt.2") << "stray";
    const auto t1 = moveToTrash(first), t2 = moveToTrash(second), t3 = moveToTrash(third);
    ASSERT_TRUE(t1 && t2 && t3);
    EXPECT_EQ(t1->filename(), "report.txt");
    EXPECT_EQ(t2->filename(), "report.txt.3");
    EXPECT_EQ(t3->filename(), "report.txt.4");
    EXPECT_EQ(readFile(homeTrashDirectory() / "files/report.txt.2"), "stray");
    EXPECT_EQ(readTrashInfo(*t2)->originalPath, second);
    EXPECT_EQ(readFile(*t3), "3");

    dir.write("a/report.txt", "new");
    QString error;
    EXPECT_FALSE(restoreFromTrash(*t1, first, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(readFile(first), "new");
    EXPECT_EQ(readFile(*t1), "1");
    EXPECT_TRUE(fs::exists(infoFileOf(*t1))); // still restorable later
    // A parent folder removed in the meantime is made again.
    ASSERT_TRUE(restoreFromTrash(*t1, dir / "gone/again/report.txt", &error)) << error.toStdString();
    EXPECT_EQ(readFile(dir / "gone/again/report.txt"), "1");
    EXPECT_FALSE(restoreFromTrash(*t1, first, &error)); // nothing left to restore

    const auto trash = trashDirectoryFor(dir.path(), true).value();
    int err = 0;
    EXPECT_TRUE(createTrashInfo(trash, ".Maravex4_undo", dir / "undo", nullptr, &err));
    EXPECT_FALSE(createTrashInfo(trash, ".Maravex4_undo", dir / "other", nullptr, &err));
    EXPECT_EQ(err, EEXIST);
    std::ofstream(trash / "files/.Maravex4_undo") << "u";
    EXPECT_EQ(readTrashInfo(trash / "files/.Maravex4_undo")->originalPath, dir / "undo");
}

TEST_F(Trash, FailureLeavesNoTraceAndTheItemInPlace)
{
    QString error;
    for (const fs::path& bad : {dir / "missing", fs::path(), fs::path("/")}) {
        error.clear();
        EXPECT_FALSE(moveToTrash(bad, &error)) << bad;
        EXPECT_FALSE(error.isEmpty());
    }
    // An immutable item cannot be renamed, not even by root.
    const auto locked = dir.write("locked", "keep");
    if (!kztest::setImmutable(locked, true))
        GTEST_SKIP() << "the immutable flag cannot be set here";
    const bool moved = moveToTrash(locked, &error).has_value();
    kztest::setImmutable(locked, false);
    EXPECT_FALSE(moved);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(readFile(locked), "keep");
    EXPECT_TRUE(fs::is_empty(homeTrashDirectory() / "info"));
    EXPECT_TRUE(fs::is_empty(homeTrashDirectory() / "files"));
}

TEST(TrashPaths, PercentEncodingAndTrashFolders)
{
    const std::pair<std::string, std::string> cases[] = {
        {"/a b/%", "/a%20b/%25"}, {"/\xC3\xA9\n#?", "/%C3%A9%0A%23%3F"}, {"rel/x~y_z-1", "rel/x~y_z-1"}};
    for (const auto& [bytes, encoded] : cases) {
        EXPECT_EQ(encodeTrashPath(bytes), encoded);
        EXPECT_EQ(decodeTrashPath(encoded), bytes);
    }
    EXPECT_EQ(decodeTrashPath("/a%2fb%2Fc+!"), "/a/b/c+!"); // either case; others taken as they are
    for (const char* bad : {"/a%", "/a%2", "/a%zz", "%g0"})
        EXPECT_FALSE(decodeTrashPath(bad)) << bad;

    const auto home = homeTrashDirectory();
    EXPECT_TRUE(isTrashDirectory(home));
    for (const fs::path& in : {home / "files/x", home / "info/x.trashinfo", home / "files/folder/deep",
                               fs::path("/media/disk/.Trash-1000/files/a"), fs::path("/media/disk/.Trash/1000/files/a")})
        EXPECT_TRUE(isInTrash(in)) << in;
    for (const fs::path& out : {home, home.parent_path() / "files/x", fs::path("/media/disk/.Trash-abc/files/a"),
                                fs::path("/media/disk/files/a")})
        EXPECT_FALSE(isInTrash(out)) << out;
    kztest::TempDir dir;
    dir.mkdir(".Trash-1000/files");
    dir.mkdir("plain/files");
    EXPECT_TRUE(isTrashDirectory(dir / ".Trash-1000"));
    EXPECT_FALSE(isTrashDirectory(dir / "plain"));
}

// On a second file system the item goes to $topdir/.Trash-$uid with a path
// relative to $topdir, never to the home trash on another device.
TEST(TrashPaths, TopDirectoryTrashOnAnotherDevice)
{
    const fs::path top("/dev/shm");
    const auto here = statPath(kztest::sandboxHome(), false), there = statPath(top, false);
    if (!there || !here || there->device == here->device || ::access(top.c_str(), W_OK) != 0)
        GTEST_SKIP() << "no second writable file system";
    const auto ownTrash = top / (".Trash-" + std::to_string(::getuid()));
    const bool hadTrash = fs::exists(ownTrash);
    const auto work = top / ("kztrash-" + std::to_string(::getpid()));
    const auto item = work / "item\xE9";
    fs::create_directories(work);
    std::ofstream(item) << "shm";

    EXPECT_EQ(trashDirectoryFor(item, false), ownTrash);
    QString error;
    const auto trashed = moveToTrash(item, &error);
    ASSERT_TRUE(trashed) << error.toStdString();
    EXPECT_EQ(trashed->parent_path(), ownTrash / "files");
    EXPECT_NE(readFile(infoFileOf(*trashed)).find("\nPath=kztrash-"), std::string::npos);
    EXPECT_EQ(readTrashInfo(*trashed)->originalPath, item);
    EXPECT_TRUE(restoreFromTrash(*trashed, item, &error)) << error.toStdString();

    // An administrator's $topdir/.Trash is used only with the sticky bit, and
    // never when it is a link.
    const auto shared = top / ".Trash";
    if (!fs::exists(fs::symlink_status(shared))) {
        const auto mine = shared / std::to_string(::getuid());
        fs::create_directory(shared);
        fs::permissions(shared, fs::perms::all, fs::perm_options::replace);
        EXPECT_EQ(trashDirectoryFor(item, false), ownTrash);
        fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit, fs::perm_options::replace);
        EXPECT_EQ(trashDirectoryFor(item, false), mine);
        EXPECT_FALSE(fs::exists(mine)); // asking makes nothing
        const auto viaShared = moveToTrash(item, &error);
        ASSERT_TRUE(viaShared) << error.toStdString();
        EXPECT_EQ(viaShared->parent_path(), mine / "files");
        EXPECT_EQ(fs::status(mine).permissions() & fs::perms::all, fs::perms::owner_all);
        fs::remove_all(shared);

        fs::create_directory(work / "elsewhere");
        fs::permissions(work / "elsewhere", fs::perms::all | fs::perms::sticky_bit, fs::perm_options::replace);
        fs::create_directory_symlink(work / "elsewhere", shared);
        std::ofstream(work / "second") << "x";
        EXPECT_EQ(trashDirectoryFor(work / "second", false), ownTrash);
        fs::remove(shared);
    }
    std::error_code ec;
    fs::remove_all(work, ec);
    if (!hadTrash)
        fs::remove_all(ownTrash, ec);
}
