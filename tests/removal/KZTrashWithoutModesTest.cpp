// The Trash on the usual USB stick: exFAT or vfat, which keep no modes (and
// no owners), mounted through FUSE as the kernel may have neither. A
// removal to the Trash goes to the disk's own .Trash-<uid> there, as the
// desktop's file managers do, and Restore brings it back; where the disk
// offers no Trash at all, the user is asked before anything moves.

#include "FuseMounts.h"
#include "RemovalTestSupport.h"

#include "platform/FileOps.h"
#include "platform/FileStat.h"
#include "platform/StringTable.h"
#include "removal/KZRestoreList.h"
#include "removal/KZRestoreRemovedFiles.h"
#include "removal/KZUndoFile.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <set>

using namespace removaltest;
using namespace Qt::StringLiterals;

namespace {

using kztest::FuseKind;

constexpr int kUnavailable = 77;

// A fresh disk of `kind` mounted at `at` with `options`, inside the private
// mount namespace of the case; it leaves (and its loop device with it) when
// this goes. The case's child ends as unavailable when the tools or the
// kernel refuse it.
struct FuseDisk {
    kztest::FuseStick disk;
    const fs::path at;

    FuseDisk(FuseKind kind, const fs::path& folder, const std::string& options)
        : disk(kind, folder, options)
        , at(disk.at())
    {
        if (!disk.made())
            ::_exit(kUnavailable);
    }
};

void runOn(FuseKind kind, const std::function<void(const fs::path& folder)>& body)
{
    SCOPED_TRACE(kztest::nameOf(kind));
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to attach and mount disks";
    // The ordinary user reaches it whatever TMPDIR is.
    kztest::UserFolder d;
    const auto outcome = kztest::runWithPrivateMounts([&] { body(d.path()); });
    if (outcome == kztest::Isolated::Unavailable) {
        std::fprintf(stderr, "%s could not be made or mounted here (install exfat-fuse, exfatprogs, fusefat)\n",
                     kztest::nameOf(kind));
        return;
    }
    EXPECT_EQ(outcome, kztest::Isolated::Passed);
}

// Runs `step` as uid 65534 with a home folder of its own under `folder`.
void asOrdinaryUser(const fs::path& folder, const std::function<void()>& step)
{
    const uid_t user = 65534;
    const fs::path home = folder / "home";
    fs::create_directories(home);
    ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
    ASSERT_EQ(::lchown(home.c_str(), user, user), 0);
    EXPECT_TRUE(passesAsUser(user, home / ".local/share", [&] {
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
        step();
    })) << "the ordinary user's step failed";
}

// Twice (the disk's Trash made by the first removal, found by the second):
// the item goes to the disk's .Trash-<uid> with its .trashinfo, with no
// question and no error, and Restore puts it back.
void trashAndRestore(const fs::path& at)
{
    const fs::path own = at / (".Trash-" + std::to_string(::getuid()));
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        emptyTrash();
        Fixture f;
        fs::create_directories(at / "keep");
        fs::create_directories(at / "t");
        std::ofstream(at / "keep/x") << "same bytes";
        std::ofstream(at / "t/x") << "same bytes";
        const auto items = f.items({{(at / "keep/x").native(), 1}, {(at / "t/x").native(), 1}});
        auto engine = f.engine({items[1]}, items);
        engine->doMove();
        EXPECT_EQ(f.alerts.shown(), 0u) << "neither a question nor an error";
        ASSERT_FALSE(fs::exists(at / "t/x"));
        EXPECT_EQ(kztest::readFile(own / "files/x"), "same bytes");
        EXPECT_NE(kztest::readFile(own / "info/x.trashinfo").find("Path=t/x\n"), std::string::npos);
        ASSERT_TRUE(engine->removedArray());
        EXPECT_EQ(engine->removedArray()->size(), 1);

        const auto undoFiles = KZUndoFile::list(homeTrash());
        ASSERT_EQ(undoFiles.size(), 1u);
        const auto back = KZRestoreRemovedFiles().restoreFiles(undoFiles);
        EXPECT_EQ(back.restored, 1u);
        EXPECT_EQ(kztest::readFile(at / "t/x"), "same bytes");
        EXPECT_FALSE(fs::exists(own / "files/x"));
        EXPECT_FALSE(fs::exists(own / "info/x.trashinfo"));
        // Where nothing proves the mount (before Linux 6.8), a disk without
        // a serial may be a copy: the record stays for the disk itself,
        // unlisted.
        KZRestoreList listed(homeTrash());
        listed.permanentItems();
        EXPECT_TRUE(listed.rows().empty());
        std::set<std::string> inTrash;
        for (const auto& entry : fs::directory_iterator(own))
            inTrash.insert(entry.path().filename().native());
        EXPECT_EQ(inTrash, (std::set<std::string>{"files", "info"})) << "what asked the disk is gone";
    }
}

} // namespace

TEST(KZTrashWithoutModes, AnItemGoesToTheDisksOwnTrashAndComesBack)
{
    runOn(FuseKind::Exfat, [](const fs::path& folder) {
        FuseDisk disk(FuseKind::Exfat, folder, "");
        trashAndRestore(disk.at);
    });
    runOn(FuseKind::Vfat, [](const fs::path& folder) {
        FuseDisk disk(FuseKind::Vfat, folder, "");
        trashAndRestore(disk.at);
    });
}

// The stick mounted for the user (every folder shows as theirs, open to
// all, as exFAT shows folders without a umask): the user's removal goes to
// the disk's .Trash-65534.
TEST(KZTrashWithoutModes, AnOrdinaryUsersItemGoesToTheirTrashOnTheDisk)
{
    runOn(FuseKind::Exfat, [](const fs::path& folder) {
        FuseDisk disk(FuseKind::Exfat, folder, "uid=65534,gid=65534");
        asOrdinaryUser(folder, [&] { trashAndRestore(disk.at); });
    });
}

// The stick mounted for root and open to all: every folder the user makes
// there shows as root's, so no Trash of theirs can be used. The user is
// asked before the start; stopped there, nothing moves and no Trash folder
// is left behind; agreed to, the item is deleted for good, as the question
// says.
TEST(KZTrashWithoutModes, ADiskWithoutAUsableTrashIsAskedAboutBeforeTheStart)
{
    runOn(FuseKind::Exfat, [](const fs::path& folder) {
        FuseDisk disk(FuseKind::Exfat, folder, "");
        const fs::path at = disk.at;
        // Read while this process may still enter the checkout: the
        // ordinary user cannot, where it lies in a private folder.
        platform::localizedString(u"shared_item"_s, u"Errors"_s);
        asOrdinaryUser(folder, [&] {
            for (const bool agree : {false, true}) {
                SCOPED_TRACE(agree ? "delete" : "stop");
                Fixture f;
                fs::create_directories(at / "keep");
                fs::create_directories(at / "t");
                std::ofstream(at / "keep/x") << "same bytes";
                std::ofstream(at / "t/x") << "same bytes";
                if (agree)
                    f.alerts.presenter->script = [](const KZAlertPresenter::Alert&) {
                        return KZAlertPresenter::Answer{KZAlertPresenter::SecondButton};
                    };
                const auto items = f.items({{(at / "keep/x").native(), 1}, {(at / "t/x").native(), 1}});
                auto engine = f.engine({items[1]}, items);
                engine->doMove();
                ASSERT_EQ(f.alerts.shown(), 1u) << "the question, and no error after it";
                const auto& question = f.alerts.presenter->calls[0].alert;
                EXPECT_TRUE(question.messageText.contains(u"deleted permanently"_s))
                    << question.messageText.toStdString();
                EXPECT_EQ(question.cancelButton, KZAlertPresenter::FirstButton);
                EXPECT_EQ(fs::exists(at / "t/x"), !agree);
                EXPECT_EQ(kztest::readFile(at / "keep/x"), "same bytes");
                EXPECT_FALSE(fs::exists(at / ".Trash-65534"));
                EXPECT_TRUE(KZUndoFile::list(homeTrash()).empty());
            }
        });
    });
}

// FAT through FUSE offers neither the no-replace rename nor links, and
// dates the entry a rename writes by the clock: a file moved there over its
// placeholder keeps its own date once the stick is plugged back.
TEST(KZTrashWithoutModes, AFileMovedOnAStickKeepsItsDate)
{
    runOn(FuseKind::Vfat, [](const fs::path& folder) {
        kztest::FuseStick stick(FuseKind::Vfat, folder);
        if (!stick.made())
            ::_exit(kUnavailable);
        const fs::path at = stick.at();
        fs::create_directories(at / "a");
        fs::create_directories(at / "b");
        std::ofstream(at / "a/x") << "dated";
        const timespec old[2] = {{1577872800, 0}, {1577872800, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, (at / "a/x").c_str(), old, AT_SYMLINK_NOFOLLOW), 0);
        ASSERT_TRUE(platform::moveNoReplace(at / "a/x", at / "b/x"));
        ASSERT_TRUE(stick.replug());
        const auto st = platform::statPath(at / "b/x", false);
        ASSERT_TRUE(st);
        EXPECT_EQ(st->modified.tv_sec, 1577872800);
        EXPECT_EQ(kztest::readFile(at / "b/x"), "dated");
    });
}
