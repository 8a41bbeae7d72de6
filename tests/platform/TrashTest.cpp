#include "platform/FileOps.h"
#include "platform/FileStat.h"
#include "platform/Trash.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <linux/fs.h>
#include <sstream>
#include <sys/ioctl.h>
#include <unistd.h>

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

TEST_F(Trash, HomeTrashFollowsXdgDataHome)
{
    EXPECT_EQ(homeTrashDirectory(), kztest::sandboxHome() / ".local/share/Trash");
    const auto item = dir.write("x", "");
    EXPECT_EQ(trashDirectoryFor(item, false), homeTrashDirectory());
    EXPECT_FALSE(fs::exists(homeTrashDirectory())); // asking does not create
    EXPECT_EQ(trashDirectoryFor(item, true), homeTrashDirectory());
    EXPECT_TRUE(fs::is_directory(homeTrashDirectory() / "files"));
    EXPECT_TRUE(fs::is_directory(homeTrashDirectory() / "info"));
    EXPECT_EQ(fs::status(homeTrashDirectory()).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_FALSE(trashDirectoryFor(dir / "missing", true));
}

TEST_F(Trash, MovesAFileAndRecordsWhereItCameFrom)
{
    const std::string name = "caf\xE9 & 100%.txt"; // not UTF-8, with characters that need escaping
    const auto item = dir.write("sub/" + name, "payload");
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);

    QString error;
    const auto trashed = moveToTrash(item, &error);
    ASSERT_TRUE(trashed) << error.toStdString();
    EXPECT_EQ(*trashed, homeTrashDirectory() / "files" / name);
    EXPECT_FALSE(fs::exists(item));
    EXPECT_EQ(contentOf(*trashed), "payload");

    const std::string info = contentOf(infoFileOf(*trashed));
    EXPECT_EQ(info.rfind("[Trash Info]\nPath=", 0), 0u) << info;
    EXPECT_NE(info.find("caf%E9%20%26%20100%25.txt\n"), std::string::npos) << info;
    EXPECT_NE(info.find("\nDeletionDate="), std::string::npos);

    const auto parsed = readTrashInfo(*trashed);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->originalPath, item); // byte for byte
    EXPECT_GE(parsed->deletionDate, before);
    EXPECT_LE(parsed->deletionDate, QDateTime::currentDateTime().addSecs(1));

    ASSERT_TRUE(restoreFromTrash(*trashed, parsed->originalPath, &error)) << error.toStdString();
    EXPECT_EQ(contentOf(item), "payload");
    EXPECT_FALSE(fs::exists(*trashed));
    EXPECT_FALSE(fs::exists(infoFileOf(*trashed)));
}

TEST_F(Trash, PicksAFreeNameForEachItem)
{
    const auto first = dir.write("a/report.txt", "1");
    const auto second = dir.write("b/report.txt", "2");
    const auto third = dir.write("c/report.txt", "3");
    ASSERT_TRUE(trashDirectoryFor(first, true));
    // A leftover of another program, without a trashinfo, holds the name "report.txt.2".
    std::ofstream(homeTrashDirectory() / "files" / "report.txt.2") << "stray";

    const auto t1 = moveToTrash(first);
    const auto t2 = moveToTrash(second);
    const auto t3 = moveToTrash(third);
    ASSERT_TRUE(t1 && t2 && t3);
    EXPECT_EQ(t1->filename(), "report.txt");
    EXPECT_EQ(t2->filename(), "report.txt.3");
    EXPECT_EQ(t3->filename(), "report.txt.4");
    EXPECT_EQ(contentOf(homeTrashDirectory() / "files" / "report.txt.2"), "stray");
    EXPECT_FALSE(fs::exists(homeTrashDirectory() / "info" / "report.txt.2.trashinfo"));
    EXPECT_EQ(readTrashInfo(*t2)->originalPath, second);
    EXPECT_EQ(contentOf(*t3), "3");
}

TEST_F(Trash, FoldersAndLinksGoAsTheyAre)
{
    dir.write("folder/deep/file", "f");
    const auto target = dir.write("target", "t");
    fs::create_symlink(target, dir / "link");

    const auto folder = moveToTrash(dir / "folder");
    ASSERT_TRUE(folder);
    EXPECT_EQ(contentOf(*folder / "deep/file"), "f");

    const auto link = moveToTrash(dir / "link/"); // a trailing slash names the link too
    ASSERT_TRUE(link);
    EXPECT_TRUE(fs::is_symlink(*link));
    EXPECT_EQ(contentOf(target), "t"); // the link's target stays
    EXPECT_EQ(readTrashInfo(*link)->originalPath, dir / "link");
}

TEST_F(Trash, FailureLeavesNoTraceAndTheItemInPlace)
{
    QString error;
    EXPECT_FALSE(moveToTrash(dir / "missing", &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(moveToTrash({}, &error));
    EXPECT_FALSE(moveToTrash("/", &error));

    // An immutable item cannot be renamed, not even by root.
    const auto locked = dir.write("locked", "keep");
    const int fd = ::open(locked.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    int flags = 0;
    bool set = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (set) {
        flags |= FS_IMMUTABLE_FL;
        set = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    if (set) {
        error.clear();
        EXPECT_FALSE(moveToTrash(locked, &error));
        EXPECT_FALSE(error.isEmpty());
        flags &= ~FS_IMMUTABLE_FL;
        ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
        EXPECT_EQ(contentOf(locked), "keep");
        EXPECT_TRUE(fs::is_empty(homeTrashDirectory() / "info"));
        EXPECT_TRUE(fs::is_empty(homeTrashDirectory() / "files"));
    }
    ::close(fd);
}

TEST_F(Trash, RestoreNeverReplaces)
{
    const auto item = dir.write("doc", "old");
    const auto trashed = moveToTrash(item);
    ASSERT_TRUE(trashed);
    dir.write("doc", "new");

    QString error;
    EXPECT_FALSE(restoreFromTrash(*trashed, item, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(contentOf(item), "new");
    EXPECT_EQ(contentOf(*trashed), "old");
    EXPECT_TRUE(fs::exists(infoFileOf(*trashed))); // still restorable later

    // A parent folder removed in the meantime is made again.
    const auto elsewhere = dir / "gone/again/doc";
    ASSERT_TRUE(restoreFromTrash(*trashed, elsewhere, &error)) << error.toStdString();
    EXPECT_EQ(contentOf(elsewhere), "old");
    EXPECT_FALSE(fs::exists(infoFileOf(*trashed)));

    EXPECT_FALSE(restoreFromTrash(*trashed, item, &error)); // nothing left to restore
}

TEST_F(Trash, CreatesTrashInfoExclusively)
{
    const auto trash = trashDirectoryFor(dir.path(), true);
    ASSERT_TRUE(trash);
    int err = 0;
    EXPECT_TRUE(createTrashInfo(*trash, ".Maravex4_undo", dir / "undo", nullptr, &err));
    EXPECT_FALSE(createTrashInfo(*trash, ".Maravex4_undo", dir / "other", nullptr, &err));
    EXPECT_EQ(err, EEXIST);
    // The first record is untouched.
    std::ofstream(*trash / "files" / ".Maravex4_undo") << "u";
    EXPECT_EQ(readTrashInfo(*trash / "files" / ".Maravex4_undo")->originalPath, dir / "undo");
}

TEST(TrashPaths, PercentEncoding)
{
    struct Case {
        std::string bytes, encoded;
    };
    const Case cases[] = {
        {"/home/a/b.txt", "/home/a/b.txt"},
        {"/a b/%", "/a%20b/%25"},
        {"/caf\xE9", "/caf%E9"},
        {"/\xC3\xA9\n#?", "/%C3%A9%0A%23%3F"},
        {"rel/x~y_z-1", "rel/x~y_z-1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(encodeTrashPath(c.bytes), c.encoded);
        EXPECT_EQ(decodeTrashPath(c.encoded), c.bytes);
    }
    EXPECT_EQ(decodeTrashPath("/a%2fb%2Fc"), "/a/b/c"); // either case
    EXPECT_EQ(decodeTrashPath("/a+b!"), "/a+b!");     // unescaped characters are taken as they are
    for (const char* bad : {"/a%", "/a%2", "/a%zz", "%g0"})
        EXPECT_FALSE(decodeTrashPath(bad)) << bad;
}

TEST(TrashPaths, RecognisesTrashFolders)
{
    const auto home = homeTrashDirectory();
    EXPECT_TRUE(isTrashDirectory(home));
    EXPECT_TRUE(isInTrash(home / "files/x"));
    EXPECT_TRUE(isInTrash(home / "info/x.trashinfo"));
    EXPECT_TRUE(isInTrash(home / "files/folder/deep"));
    EXPECT_FALSE(isInTrash(home));
    EXPECT_FALSE(isInTrash(home.parent_path() / "files/x"));
    EXPECT_TRUE(isInTrash("/media/disk/.Trash-1000/files/a"));
    EXPECT_TRUE(isInTrash("/media/disk/.Trash/1000/files/a"));
    EXPECT_FALSE(isInTrash("/media/disk/.Trash-abc/files/a"));
    EXPECT_FALSE(isInTrash("/media/disk/files/a"));

    kztest::TempDir dir;
    dir.mkdir(".Trash-1000/files");
    dir.mkdir("plain/files");
    EXPECT_TRUE(isTrashDirectory(dir / ".Trash-1000"));
    EXPECT_FALSE(isTrashDirectory(dir / "plain"));
    EXPECT_FALSE(isTrashDirectory(dir / ".Trash-1001")); // not there
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
    fs::create_directories(work);
    std::ofstream(work / "item\xE9") << "shm";

    const auto chosen = trashDirectoryFor(work / "item\xE9", false);
    ASSERT_TRUE(chosen);
    EXPECT_EQ(*chosen, ownTrash);
    QString error;
    const auto trashed = moveToTrash(work / "item\xE9", &error);
    ASSERT_TRUE(trashed) << error.toStdString();
    EXPECT_EQ(trashed->parent_path(), ownTrash / "files");
    EXPECT_EQ(statPath(*trashed, false)->device, there->device);
    const std::string info = contentOf(infoFileOf(*trashed));
    EXPECT_NE(info.find("\nPath=kztrash-"), std::string::npos) << info;
    EXPECT_EQ(readTrashInfo(*trashed)->originalPath, work / "item\xE9");
    EXPECT_TRUE(restoreFromTrash(*trashed, work / "item\xE9", &error)) << error.toStdString();
    EXPECT_TRUE(fs::exists(work / "item\xE9"));

    // An administrator's $topdir/.Trash is used only with the sticky bit, and
    // never when it is a link.
    const auto shared = top / ".Trash";
    if (!fs::exists(fs::symlink_status(shared))) {
        const auto mine = shared / std::to_string(::getuid());
        fs::create_directory(shared);
        fs::permissions(shared, fs::perms::all, fs::perm_options::replace);
        EXPECT_EQ(trashDirectoryFor(work / "item\xE9", false), ownTrash);
        fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit, fs::perm_options::replace);
        EXPECT_EQ(trashDirectoryFor(work / "item\xE9", false), mine);
        EXPECT_FALSE(fs::exists(mine)); // asking makes nothing
        const auto viaShared = moveToTrash(work / "item\xE9", &error);
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
