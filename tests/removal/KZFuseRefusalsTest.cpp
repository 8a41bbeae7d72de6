// What a vfat stick through fusefat refuses, told as the disk's refusal and
// never taken for a fault of the user's: it moves no folder without
// replacing, keeps no modes and makes no hard links. The item stays where
// it is and is told once; what only lacks its mode is made all the same.
// And the kernel's own refusal of a hard link (protected_hardlinks), which
// needs no FUSE: a duplicate whose link cannot be made never leaves.

#include "LoopDisks.h"
#include "RemovalTestSupport.h"

#include "platform/AtomicFile.h"
#include "platform/FileOps.h"
#include "platform/FolderAttributes.h"
#include "platform/StringTable.h"
#include "removal/KZRestoreRemovedFiles.h"
#include "removal/KZUndoFile.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

using namespace removaltest;
using namespace Qt::StringLiterals;

namespace {

constexpr int kUnavailable = 77;

// A fresh vfat stick at `folder`/mnt: fusefat on a loop device, named by
// it, inside the case's private mount namespace. Unmounted (which ends its
// daemon there) and detached when this goes, also after a failed step.
struct VfatStick {
    fs::path image;
    fs::path at;
    std::string device;

    explicit VfatStick(const fs::path& folder) : image(folder / "stick.img"), at(folder / "mnt")
    {
        fs::create_directories(at);
        if (!kztest::shell("truncate -s 64M " + image.native()) || !kztest::shell("mkfs.vfat " + image.native()))
            ::_exit(kUnavailable);
        device = kztest::shellOutput("losetup -f --show " + image.native());
        if (device.empty())
            ::_exit(kUnavailable);
        if (!kztest::shell("fusefat -o rw+,fsname=" + device + " " + device + " " + at.native())) {
            kztest::detachLoopDevice(device, image);
            ::_exit(kUnavailable);
        }
    }
    ~VfatStick()
    {
        ::umount2(at.c_str(), MNT_DETACH);
        kztest::detachLoopDevice(device, image);
    }
};

void onStick(const std::function<void(const fs::path& at, const fs::path& folder)>& body)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to attach and mount disks";
    emptyTrash();
    kztest::TempDir d;
    const auto outcome = kztest::runWithPrivateMounts([&] {
        VfatStick stick(d.path());
        body(stick.at, d.path());
    });
    if (outcome == kztest::Isolated::Unavailable)
        GTEST_SKIP() << "vfat through fusefat could not be made or mounted here (install dosfstools, fusefat)";
    EXPECT_EQ(outcome, kztest::Isolated::Passed);
}

QStringList alertKeys(const KZRemove& engine)
{
    QStringList keys;
    for (const auto& alert : engine.errorAlerts())
        keys << alert.key;
    return keys;
}

std::size_t hiddenLinksIn(const fs::path& folder)
{
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator(folder))
        count += entry.path().filename().native().starts_with(".maravex-link-") ? 1 : 0;
    return count;
}

// Each of `names` under `at`, holding the same bytes, its folders made.
void sameBytesAt(const fs::path& at, std::initializer_list<const char*> names)
{
    for (const char* name : names) {
        fs::create_directories((at / name).parent_path());
        std::ofstream(at / name) << "same bytes";
    }
}

} // namespace

// A folder to the Trash and into a folder of the stick: the disk refuses,
// the folder stays whole where it was, no .trashinfo is left for it, and
// the report says the volume refused, once.
TEST(KZFuseRefusals, AFolderTheDiskWillNotMoveStaysAndIsToldOnce)
{
    onStick([](const fs::path& at, const fs::path&) {
        for (const bool toTrash : {true, false}) {
            SCOPED_TRACE(toTrash ? "trash" : "move");
            emptyTrash();
            Fixture f;
            sameBytesAt(at, {"keep/d/f", "t/d/f"});
            fs::create_directories(at / "dest");
            f.panel->itemsArefiles = false;
            f.panel->isMoveToTrash = toTrash;
            f.panel->urlToMove = at / "dest";
            const auto items = f.items({{(at / "keep/d").native(), 1}, {(at / "t/d").native(), 1}});
            auto engine = f.engine({items[1]}, items);
            engine->doMove();
            EXPECT_EQ(engine->outcomeOf(items[1]), u"disk_locked"_s);
            EXPECT_EQ(alertKeys(*engine), QStringList{u"disk_locked_sing"_s});
            EXPECT_EQ(f.alerts.shown(), 0u);
            EXPECT_EQ(kztest::readFile(at / "t/d/f"), "same bytes");
            EXPECT_FALSE(items[1]->isRemoved());
            EXPECT_TRUE(fs::is_empty(at / "dest"));
            const fs::path info = at / (".Trash-" + std::to_string(::getuid())) / "info";
            EXPECT_TRUE(!fs::exists(info) || fs::is_empty(info)) << "no record of a move that never was";
            EXPECT_TRUE(engine->persistentUndo().empty());
            EXPECT_TRUE(engine->standardUndo().empty());
        }
    });
}

// Items of another disk copied onto the stick, a saved file written there:
// the disk answers ENOSYS to every mode; each copy keeps what the create
// gave, the batch goes on to the next, and the saved file is written.
TEST(KZFuseRefusals, CopiesAndSavedFilesOnADiskWithoutModesAreMade)
{
    onStick([](const fs::path& at, const fs::path&) {
        ASSERT_EQ(::chmod(at.c_str(), 0755), -1) << "the disk is expected to refuse modes";
        Fixture f;
        const auto items = f.items({{"k/x", 1}, {"a/x", 1}, {"k/y", 2}, {"a/y", 2}});
        fs::create_directories(at / "dest");
        f.panel->isMoveToTrash = false;
        f.panel->urlToMove = at / "dest";
        f.panel->renameMove = true;
        auto engine = f.engine({items[1], items[3]}, items);
        engine->doMove();
        EXPECT_EQ(engine->outcomeOf(items[1]), u"copied"_s);
        EXPECT_EQ(engine->outcomeOf(items[3]), u"copied"_s);
        EXPECT_TRUE(alertKeys(*engine).isEmpty()) << alertKeys(*engine).join(u' ').toStdString();
        EXPECT_EQ(f.alerts.shown(), 0u);
        std::size_t copies = 0;
        for (const auto& entry : fs::recursive_directory_iterator(at / "dest"))
            if (entry.is_regular_file()) {
                ++copies;
                EXPECT_EQ(kztest::readFile(entry.path()), "same bytes") << entry.path();
            }
        EXPECT_EQ(copies, 2u);

        QString error;
        EXPECT_TRUE(platform::writeFileAtomically(at / "saved.result", "saved bytes", &error)) << error.toStdString();
        EXPECT_EQ(kztest::readFile(at / "saved.result"), "saved bytes");
        // Written again over itself, as a second save does.
        EXPECT_TRUE(platform::writeFileAtomically(at / "saved.result", "saved again", &error)) << error.toStdString();
        EXPECT_EQ(kztest::readFile(at / "saved.result"), "saved again");
        for (const auto& entry : fs::directory_iterator(at))
            EXPECT_FALSE(entry.path().filename().native().starts_with(".saved.result")) << "left " << entry.path();
    });
}

// Restore's folders: with the attributes of the folder that held the item,
// or private, a folder is made at its name on a disk that keeps no modes
// and moves no folder, and a trashed file whose folder went since comes
// back into it.
TEST(KZFuseRefusals, RestoreMakesTheItemsFolderAgainOnADiskWithoutModes)
{
    onStick([](const fs::path& at, const fs::path&) {
        const int fd = platform::openFolderAt(AT_FDCWD, at.c_str());
        ASSERT_GE(fd, 0);
        const platform::FolderAttributes theirs{0, 0, 0755, {}, {}};
        int err = 0;
        EXPECT_EQ(platform::makeFolderAt(fd, "given", theirs, 0, nullptr, &err), platform::FolderMade::Private) << err;
        EXPECT_EQ(platform::makeFolderAt(fd, "private", std::nullopt, 0, nullptr, &err),
                  platform::FolderMade::Private)
            << err;
        EXPECT_EQ(platform::makeFolderAt(fd, "private", std::nullopt, 0, nullptr, &err),
                  platform::FolderMade::Existed);
        ::close(fd);
        EXPECT_TRUE(fs::is_directory(at / "given"));
        EXPECT_TRUE(fs::is_directory(at / "private"));
        for (const auto& entry : fs::directory_iterator(at))
            EXPECT_FALSE(entry.path().filename().native().starts_with(".maravex-folder-")) << entry.path();

        Fixture f;
        sameBytesAt(at, {"keep/x", "t/sub/x"});
        const auto items = f.items({{(at / "keep/x").native(), 1}, {(at / "t/sub/x").native(), 1}});
        auto engine = f.engine({items[1]}, items);
        engine->doMove();
        ASSERT_EQ(engine->outcomeOf(items[1]), u"trash"_s);
        fs::remove(at / "t/sub");
        const auto undoFiles = KZUndoFile::list(homeTrash());
        ASSERT_EQ(undoFiles.size(), 1u);
        const auto back = KZRestoreRemovedFiles().restoreFiles(undoFiles);
        EXPECT_EQ(back.restored, 1u);
        EXPECT_EQ(kztest::readFile(at / "t/sub/x"), "same bytes");
    });
}

// The stick makes no hard links: the duplicate stays in place, unmoved and
// told as the link not made, with no hidden link left beside it.
TEST(KZFuseRefusals, ADuplicateWhoseLinkTheDiskRefusesStays)
{
    onStick([](const fs::path& at, const fs::path&) {
        for (const bool toTrash : {true, false}) {
            SCOPED_TRACE(toTrash ? "trash" : "move");
            emptyTrash();
            Fixture f;
            sameBytesAt(at, {"keep/x", "t/x"});
            fs::create_directories(at / "dest");
            f.setLevel(0);
            f.panel->isMoveToTrash = toTrash;
            f.panel->urlToMove = at / "dest";
            f.panel->isCreateAlias = true;
            const auto items = f.items({{(at / "keep/x").native(), 1}, {(at / "t/x").native(), 1}});
            f.panel->mastersAlias = {items[0]};
            auto engine = f.engine({items[1]}, items);
            engine->doMove();
            EXPECT_EQ(engine->outcomeOf(items[1]), u"link_not_made"_s);
            EXPECT_EQ(alertKeys(*engine), QStringList{u"link_not_made_sing"_s});
            EXPECT_EQ(f.alerts.shown(), 0u);
            EXPECT_EQ(kztest::readFile(at / "t/x"), "same bytes");
            EXPECT_EQ(hiddenLinksIn(at / "t"), 0u);
            EXPECT_TRUE(fs::is_empty(at / "dest"));
            EXPECT_TRUE(engine->persistentUndo().empty());
        }
    });
}

// A real permission failure where the disk keeps modes is still one: an
// ordinary user changing root's file is refused, not taken for a disk
// without modes; their own file's mode is given.
TEST(KZFuseRefusals, AnotherUsersFileIsARealModeFailure)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    kztest::UserFolder d;
    const fs::path roots = d.path() / "roots";
    std::ofstream(roots) << "root's";
    ASSERT_EQ(::chmod(roots.c_str(), 0644), 0);
    ASSERT_EQ(::chmod(d.path().c_str(), 0777), 0);
    EXPECT_TRUE(passesAsUser(kztest::kOrdinaryUser, d.path() / "data", [&] {
        int err = 0;
        EXPECT_EQ(platform::changeModeAt(AT_FDCWD, roots.c_str(), 0600, 0, &err), platform::ModeChange::Failed);
        EXPECT_EQ(err, EPERM);
        const fs::path own = d.path() / "own";
        std::ofstream(own) << "mine";
        EXPECT_EQ(platform::changeModeAt(AT_FDCWD, own.c_str(), 0600, 0, &err), platform::ModeChange::Given);
        const int fd = ::open(roots.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(platform::changeMode(fd, 0600, &err), platform::ModeChange::Failed);
        ::close(fd);
    }));
    EXPECT_EQ(fs::status(roots).permissions(), fs::perms(0644));
}

// With the kernel's protected_hardlinks (on in Debian), an ordinary user
// may not link to a file of root's they cannot write. Their duplicate of
// such a kept copy stays where it is, to the Trash and into a folder alike,
// instead of leaving without the link they asked for.
TEST(KZLinkRefusals, AUsersDuplicateOfRootsKeptCopyStaysWhenTheKernelRefusesTheLink)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to own the kept copy and act as another user";
    if (kztest::readFile("/proc/sys/fs/protected_hardlinks").starts_with("0"))
        GTEST_SKIP() << "the kernel lets anyone link to another's file here (fs.protected_hardlinks = 0)";
    const uid_t user = kztest::kOrdinaryUser;
    kztest::UserFolder d;
    const fs::path home = d.path() / "home";
    fs::create_directories(home);
    ASSERT_EQ(::chmod(d.path().c_str(), 0755), 0);
    ASSERT_EQ(::lchown(home.c_str(), user, user), 0);
    const auto outcome = kztest::runWithPrivateMounts([&] {
        const fs::path at = d.path() / "disk";
        kztest::mountTmpfs(at, "mode=0777");
        fs::create_directories(at / "keep");
        std::ofstream(at / "keep/x") << "same bytes";
        ASSERT_EQ(::chmod((at / "keep/x").c_str(), 0644), 0);
        for (const char* folder : {"t", "dest"}) {
            fs::create_directories(at / folder);
            ASSERT_EQ(::lchown((at / folder).c_str(), user, user), 0);
        }
        EXPECT_TRUE(passesAsUser(user, home / ".local/share", [&] {
            ::setenv("HOME", home.c_str(), 1);
            ::setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
            for (const bool toTrash : {true, false}) {
                SCOPED_TRACE(toTrash ? "trash" : "move");
                emptyTrash();
                Fixture f;
                std::ofstream(at / "t/x") << "same bytes";
                f.setLevel(0);
                f.panel->isMoveToTrash = toTrash;
                f.panel->urlToMove = at / "dest";
                f.panel->isCreateAlias = true;
                const auto items = f.items({{(at / "keep/x").native(), 1}, {(at / "t/x").native(), 1}});
                f.panel->mastersAlias = {items[0]};
                auto engine = f.engine({items[1]}, items);
                engine->doMove();
                EXPECT_EQ(engine->outcomeOf(items[1]), u"link_not_made"_s);
                EXPECT_EQ(f.alerts.shown(), 0u);
                EXPECT_EQ(kztest::readFile(at / "t/x"), "same bytes");
                EXPECT_EQ(platform::statPath(at / "t/x", false)->links, 1u);
                EXPECT_EQ(hiddenLinksIn(at / "t"), 0u);
                EXPECT_TRUE(fs::is_empty(at / "dest"));
                EXPECT_TRUE(engine->persistentUndo().empty());
                EXPECT_TRUE(KZUndoFile::list(homeTrash()).empty());
                fs::remove(at / "t/x");
            }
        })) << "the ordinary user's removal";
    });
    if (outcome == kztest::Isolated::Unavailable)
        GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(outcome, kztest::Isolated::Passed);
}
