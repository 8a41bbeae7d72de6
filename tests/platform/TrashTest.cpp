#include "platform/AnchoredItem.h"
#include "platform/FileStat.h"
#include "platform/Trash.h"

#include "support/ManualClock.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <optional>
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

TEST_F(Trash, TheDeletionDateComesFromTheProgramsClock)
{
    kztest::ScopedManualClock clock;
    clock->advance(2 * 86400.0);
    const QDateTime expected = Clock::shared().dateTime();
    const auto trashed = moveToTrash(dir.write("dated.txt", "x"));
    ASSERT_TRUE(trashed);
    const auto parsed = readTrashInfo(*trashed);
    ASSERT_TRUE(parsed);
    // The file keeps whole seconds.
    EXPECT_LE(std::abs(parsed->deletionDate.secsTo(expected)), 1) << parsed->deletionDate.toString().toStdString();
}

TEST_F(Trash, NeverReplacesAnythingInTheTrashOrOnRestore)
{
    const auto first = dir.write("a/report.txt", "1"), second = dir.write("b/report.txt", "2"),
               third = dir.write("c/report.txt", "3");
    ASSERT_TRUE(trashDirectoryFor(first, true));
    // A leftover of another program, without a trashinfo, holds "report.2.txt".
    std::ofstream(homeTrashDirectory() / "files/report.2.txt") << "stray";
    const auto t1 = moveToTrash(first), t2 = moveToTrash(second), t3 = moveToTrash(third);
    ASSERT_TRUE(t1 && t2 && t3);
    EXPECT_EQ(t1->filename(), "report.txt");
    EXPECT_EQ(t2->filename(), "report.3.txt");
    EXPECT_EQ(t3->filename(), "report.4.txt");
    EXPECT_EQ(readFile(homeTrashDirectory() / "files/report.2.txt"), "stray");
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
    EXPECT_FALSE(fs::exists(homeTrashDirectory())) << "the trash made for the failed move stays behind";

    // A restore that fails takes away the parent folders that it made.
    const auto trashed = moveToTrash(dir.write("back", "b"));
    ASSERT_TRUE(trashed);
    ASSERT_TRUE(kztest::setImmutable(*trashed, true));
    const bool restored = restoreFromTrash(*trashed, dir / "made/for/back", &error);
    kztest::setImmutable(*trashed, false);
    EXPECT_FALSE(restored);
    EXPECT_FALSE(fs::exists(dir / "made"));
    EXPECT_TRUE(fs::exists(infoFileOf(*trashed)));
}

// Two items of one name: the second gets a number before its extension, and
// a name too long for info/ is shortened to one that is still visible.
TEST_F(Trash, NamesInTheTrash)
{
    const std::string noUtf8(255, '\x80');
    std::string accents;
    while (accents.size() < 250)
        accents += "\xC3\xA9";
    struct Case {
        std::string name, first, second;
    } const cases[] = {
        {"x.txt", "x.txt", "x.2.txt"},
        {"archive.tar.gz", "archive.tar.gz", "archive.tar.2.gz"},
        {".bashrc", ".bashrc", ".bashrc.2"},
        {"folder", "folder", "folder.2"},
        {"name.", "name.", "name..2"},
        {std::string(251, 'a') + ".txt", std::string(235, 'a') + ".txt", std::string(235, 'a') + ".2.txt"},
        // A cut never splits a character: 234 bytes are 117 whole ones.
        {accents + ".txt", accents.substr(0, 234) + ".txt", accents.substr(0, 234) + ".2.txt"},
        {noUtf8, noUtf8.substr(0, 239), noUtf8.substr(0, 239) + ".2"},
        {noUtf8.substr(0, 250) + ".txt", noUtf8.substr(0, 235) + ".txt", noUtf8.substr(0, 235) + ".2.txt"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        const auto one = dir.write(std::to_string(++n) + "/" + c.name, "1");
        const auto two = dir.write(std::to_string(++n) + "/" + c.name, "2");
        const auto t1 = moveToTrash(one), t2 = moveToTrash(two);
        ASSERT_TRUE(t1 && t2);
        EXPECT_EQ(t1->filename().native(), c.first);
        EXPECT_EQ(t2->filename().native(), c.second);
        EXPECT_EQ(readTrashInfo(*t2)->originalPath, two);
        EXPECT_EQ(readFile(*t2), "2");
    }
}

// The info files lie in folders that others may write to: a ".." anywhere in
// a path, encoded or not, makes the entry unreadable.
TEST_F(Trash, TrashInfoPathsWithParentSteps)
{
    const fs::path top = dir / "volume", topTrash = top / ".Trash-1000", home = homeTrashDirectory();
    struct Case {
        fs::path trash;
        std::string path;
        std::optional<fs::path> expected;
    } const cases[] = {
        {topTrash, "../../../etc/cron.d/evil", std::nullopt},
        {topTrash, "a/../../x", std::nullopt},
        {topTrash, "%2E%2E/x", std::nullopt},
        {topTrash, "a/..", std::nullopt},
        {topTrash, "/abs/../etc/x", std::nullopt},
        {topTrash, "a/..b/c..", top / "a/..b/c.."},
        {topTrash, "/abs/x", fs::path("/abs/x")},
        {home, "/home/u/../../etc/passwd", std::nullopt},
        {home, "relative/x", std::nullopt},
        {home, "/home/u/x", fs::path("/home/u/x")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        fs::create_directories(c.trash / "files");
        fs::create_directories(c.trash / "info");
        std::ofstream(c.trash / "files/item") << "x";
        std::ofstream(c.trash / "info/item.trashinfo", std::ios::trunc)
            << "[Trash Info]\nPath=" << c.path << "\nDeletionDate=2020-01-02T03:04:05\n";
        const auto info = readTrashInfo(c.trash / "files/item");
        EXPECT_EQ(info.has_value(), c.expected.has_value());
        if (info && c.expected) {
            EXPECT_EQ(info->originalPath, *c.expected);
        }
    }
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

TEST(TrashPaths, TheLayoutInsideATrashFolder)
{
    const fs::path trash("/media/disk/.Trash-1000");
    EXPECT_EQ(trashFilesFolder(trash), trash / "files");
    EXPECT_EQ(trashInfoPath(trash, "x.txt"), trashInfoFolder(trash) / "x.txt.trashinfo");
    EXPECT_EQ(trashOfTrashedItem(trash / "files/x.txt"), trash);
    EXPECT_FALSE(trashOfTrashedItem(trash / "files/folder/deep")) << "only an item lying directly in files/";
    EXPECT_FALSE(trashOfTrashedItem(trash / "info/x.txt.trashinfo"));

    EXPECT_EQ(trashedNameOfInfo("x.txt.trashinfo"), "x.txt");
    EXPECT_EQ(trashedNameOfInfo("a.trashinfo.trashinfo"), "a.trashinfo");
    for (const char* other : {".trashinfo", "x.trashinfo~", "x.txt", "x.TRASHINFO", ""})
        EXPECT_FALSE(trashedNameOfInfo(other)) << other;
}

// A second file system (a tmpfs that only this test's child process sees):
// the item goes to $topdir/.Trash-$uid with a path relative to $topdir,
// never to the home trash on another device.
TEST_F(Trash, TopDirectoryTrashOnAnotherDevice)
{
    const fs::path top = dir / "volume";
    const auto outcome = kztest::runWithPrivateMounts([&] {
        kztest::mountTmpfs(top);
        const std::string uid = std::to_string(::getuid());
        const auto ownTrash = top / (".Trash-" + uid);

        // A mount point cannot be moved; refusing it leaves nothing inside.
        QString error;
        EXPECT_FALSE(moveToTrash(top, &error));
        EXPECT_FALSE(error.isEmpty());
        EXPECT_FALSE(fs::exists(ownTrash));

        const auto item = top / "work/item\xE9";
        fs::create_directories(item.parent_path());
        std::ofstream(item) << "tmpfs";
        EXPECT_EQ(trashDirectoryFor(item, false), ownTrash);
        EXPECT_FALSE(fs::exists(ownTrash)); // asking makes nothing

        // Folders that the umask left short are ours to repair.
        const mode_t oldMask = ::umask(0277);
        const auto trashed = moveToTrash(item, &error);
        ::umask(oldMask);
        ASSERT_TRUE(trashed) << error.toStdString();
        EXPECT_EQ(trashed->parent_path(), ownTrash / "files");
        for (const auto& folder : {ownTrash, ownTrash / "files", ownTrash / "info"})
            EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all) << folder;
        EXPECT_NE(readFile(infoFileOf(*trashed)).find("\nPath=work/item%E9\n"), std::string::npos);
        EXPECT_EQ(readTrashInfo(*trashed)->originalPath, item);
        EXPECT_TRUE(restoreFromTrash(*trashed, item, &error)) << error.toStdString();

        // Putting back onto another device fails and takes away the folders
        // that it made there; the item stays restorable.
        const auto homeItem = dir.write("home-item", "h");
        const auto inHomeTrash = moveToTrash(homeItem);
        ASSERT_TRUE(inHomeTrash);
        EXPECT_FALSE(restoreFromTrash(*inHomeTrash, top / "made/for/home-item", &error));
        EXPECT_FALSE(fs::exists(top / "made"));
        EXPECT_TRUE(fs::exists(infoFileOf(*inHomeTrash)));

        // An administrator's $topdir/.Trash is used only with the sticky bit,
        // never when it is a link, and our folder in it only when private.
        const auto shared = top / ".Trash", mine = shared / uid;
        fs::create_directory(shared);
        fs::permissions(shared, fs::perms::all, fs::perm_options::replace);
        EXPECT_EQ(trashDirectoryFor(item, false), ownTrash);
        fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit, fs::perm_options::replace);
        EXPECT_EQ(trashDirectoryFor(item, false), mine);
        const auto viaShared = moveToTrash(item, &error);
        ASSERT_TRUE(viaShared) << error.toStdString();
        EXPECT_EQ(viaShared->parent_path(), mine / "files");
        EXPECT_EQ(fs::status(mine).permissions() & fs::perms::all, fs::perms::owner_all);
        std::ofstream(item) << "again";
        fs::permissions(mine, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec,
                        fs::perm_options::replace);
        EXPECT_EQ(trashDirectoryFor(item, false), ownTrash);
        fs::remove_all(shared);

        fs::create_directory(top / "elsewhere");
        fs::permissions(top / "elsewhere", fs::perms::all | fs::perms::sticky_bit, fs::perm_options::replace);
        fs::create_directory_symlink(top / "elsewhere", shared);
        EXPECT_EQ(trashDirectoryFor(item, false), ownTrash);
        fs::remove(shared);
    });
    if (outcome == kztest::Isolated::Unavailable)
        GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(outcome, kztest::Isolated::Passed);
}

// A top-directory trash that others could enter or redirect is never used,
// nor repaired: the item stays where it is.
TEST_F(Trash, RefusesATopDirectoryTrashThatIsNotPrivate)
{
    const fs::path top = dir / "volume";
    const auto outcome = kztest::runWithPrivateMounts([&] {
        kztest::mountTmpfs(top);
        const auto own = top / (".Trash-" + std::to_string(::getuid()));
        const auto elsewhere = top / "elsewhere";
        const auto item = top / "item";
        const auto privateFolder = [](const fs::path& p) {
            fs::create_directories(p);
            fs::permissions(p, fs::perms::owner_all, fs::perm_options::replace);
        };
        struct Case {
            const char* what;
            std::function<bool()> plant; // false: cannot be set up here
        } const cases[] = {
            {"open to all",
             [&] {
                 privateFolder(own / "files");
                 privateFolder(own / "info");
                 fs::permissions(own, fs::perms::all, fs::perm_options::replace);
                 return true;
             }},
            {"info open to the group",
             [&] {
                 privateFolder(own / "files");
                 privateFolder(own / "info");
                 fs::permissions(own / "info", fs::perms::owner_all | fs::perms::group_all, fs::perm_options::replace);
                 return true;
             }},
            {"files is a link",
             [&] {
                 privateFolder(own / "info");
                 privateFolder(elsewhere);
                 fs::create_directory_symlink(elsewhere, own / "files");
                 return true;
             }},
            {"the trash is a link",
             [&] {
                 privateFolder(elsewhere / "files");
                 privateFolder(elsewhere / "info");
                 fs::permissions(elsewhere, fs::perms::owner_all, fs::perm_options::replace);
                 fs::create_directory_symlink(elsewhere, own);
                 return true;
             }},
            {"another user's",
             [&] {
                 privateFolder(own / "files");
                 privateFolder(own / "info");
                 return ::chown(own.c_str(), ::getuid() + 1, ::getgid()) == 0;
             }},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.what);
            std::ofstream(item) << "stays";
            if (!c.plant())
                continue;
            const auto before = fs::symlink_status(own).permissions();
            EXPECT_FALSE(trashDirectoryFor(item, false));
            QString error;
            EXPECT_FALSE(moveToTrash(item, &error));
            EXPECT_FALSE(error.isEmpty());
            EXPECT_EQ(readFile(item), "stays");
            EXPECT_EQ(fs::symlink_status(own).permissions(), before);
            std::error_code ec;
            EXPECT_FALSE(fs::exists(elsewhere / "files/item", ec));
            EXPECT_FALSE(fs::exists(own / "files/item", ec));
            fs::remove_all(own);
            fs::remove_all(elsewhere);
        }
    });
    if (outcome == kztest::Isolated::Unavailable)
        GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(outcome, kztest::Isolated::Passed);
}

// A bind mount shows the home file system under another mount: same device,
// but rename cannot cross to the home trash. The item goes to the trash at
// the top of its own mount instead, and a move that fails there leaves no
// trash folder behind.
TEST_F(Trash, ItemOnABindMountOfTheHomeFileSystem)
{
    const fs::path source = dir / "source", bound = dir / "bound";
    dir.write("source/x.txt", "bound");
    dir.write("source/locked/y", "locked");
    const auto outcome = kztest::runWithPrivateMounts([&] {
        kztest::bindMount(source, bound);
        const auto own = bound / (".Trash-" + std::to_string(::getuid()));
        const auto item = bound / "x.txt";
        QString error;
        const auto trashed = moveToTrash(item, &error);
        ASSERT_TRUE(trashed) << error.toStdString();
        EXPECT_EQ(*trashed, own / "files/x.txt");
        EXPECT_EQ(readFile(*trashed), "bound");
        EXPECT_NE(readFile(infoFileOf(*trashed)).find("\nPath=x.txt\n"), std::string::npos);
        EXPECT_EQ(readTrashInfo(*trashed)->originalPath, item);
        std::error_code ec;
        EXPECT_TRUE(fs::is_empty(homeTrashDirectory() / "info", ec) || ec);
        ASSERT_TRUE(restoreFromTrash(*trashed, item, &error)) << error.toStdString();
        EXPECT_EQ(readFile(item), "bound");

        // The bind mount's own top folder is a mount point too.
        EXPECT_FALSE(moveToTrash(bound, &error));

        fs::remove_all(own);
        if (!kztest::setImmutable(source / "locked", true))
            return;
        const bool moved = moveToTrash(bound / "locked/y", &error).has_value();
        kztest::setImmutable(source / "locked", false);
        EXPECT_FALSE(moved);
        EXPECT_EQ(readFile(bound / "locked/y"), "locked");
        EXPECT_FALSE(fs::exists(own));
    });
    if (outcome == kztest::Isolated::Unavailable)
        GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(outcome, kztest::Isolated::Passed);
}

TEST_F(Trash, NumberingStartsAtTheNextFreeNumberAndStillNeverReplaces)
{
    TrashNumbering numbering;
    std::vector<fs::path> trashed;
    for (int i = 1; i <= 3; ++i) {
        const auto item = AnchoredItem::open(dir.write(std::to_string(i) + "/x.txt", std::to_string(i)));
        ASSERT_TRUE(item);
        trashed.push_back(*moveToTrash(*item, &numbering));
    }
    EXPECT_EQ(trashed[2].filename(), "x.3.txt");
    // Another program takes the next number meanwhile: the item moves on to
    // the one after it, and the other program's files stay untouched.
    const auto files = homeTrashDirectory() / "files";
    std::ofstream(files / "x.4.txt") << "theirs";
    const auto item = AnchoredItem::open(dir.write("4/x.txt", "4"));
    const auto fourth = moveToTrash(*item, &numbering);
    ASSERT_TRUE(fourth);
    EXPECT_EQ(fourth->filename(), "x.5.txt");
    EXPECT_EQ(readFile(files / "x.4.txt"), "theirs");
    // A name freed in the Trash is not looked at again within the removal,
    // and a fresh removal starts at the plain name.
    fs::remove(files / "x.txt");
    fs::remove(homeTrashDirectory() / "info" / "x.txt.trashinfo");
    EXPECT_EQ(moveToTrash(*AnchoredItem::open(dir.write("5/x.txt", "5")), &numbering)->filename(), "x.6.txt");
    TrashNumbering fresh;
    EXPECT_EQ(moveToTrash(*AnchoredItem::open(dir.write("6/x.txt", "6")), &fresh)->filename(), "x.txt");
}

TEST_F(Trash, AnAnchoredItemIsTakenFromTheFolderItWasFoundIn)
{
    const auto item = dir.write("d/x", "mine");
    dir.write("other/x", "theirs");
    auto anchored = AnchoredItem::open(item);
    ASSERT_TRUE(anchored);
    fs::rename(dir / "d", dir / "d.aside");
    fs::create_directory_symlink(dir / "other", dir / "d");
    const auto trashed = moveToTrash(*anchored, nullptr);
    ASSERT_TRUE(trashed);
    EXPECT_EQ(readFile(*trashed), "mine");
    EXPECT_EQ(readFile(dir / "other/x"), "theirs");
    // The trashinfo names where the item was found, for Restore.
    EXPECT_EQ(readTrashInfo(*trashed)->originalPath, item);
    // A link on the way is refused when the item is opened.
    int err = 0;
    EXPECT_FALSE(AnchoredItem::open(dir / "d/x", &err));
    EXPECT_EQ(err, ELOOP);
    EXPECT_FALSE(AnchoredItem::open("relative/x", &err));
}
