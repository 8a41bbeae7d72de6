// Removals where another file system shows up: a mount inside a folder to
// delete for good, and a home disk too full to keep the record of a move to
// another disk's Trash. Each runs in a mount namespace of its own.

#include "RemovalTestSupport.h"

#include "platform/Packages.h"
#include "platform/Volumes.h"
#include "removal/KZRestoreRemovedFiles.h"
#include "removal/KZUndoFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace removaltest;
using namespace Qt::StringLiterals;

namespace {

void answerDeleteAll(Fixture& f)
{
    f.fs->local = [](const fs::path&) { return std::optional<bool>(false); };
    f.alerts.presenter->script = [](const KZAlertPresenter::Alert&) {
        return KZAlertPresenter::Answer{KZAlertPresenter::SecondButton};
    };
}

void skipUnlessIsolated(kztest::Isolated outcome)
{
    if (outcome == kztest::Isolated::Unavailable)
        GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(outcome, kztest::Isolated::Passed);
}

// A tmpfs of `kib` KiB at `at`, filled to its last byte.
void mountFullDisk(const fs::path& at, int kib)
{
    std::error_code ec;
    fs::create_directories(at, ec);
    const std::string options = "size=" + std::to_string(kib) + "k,mode=0755";
    if (::mount("kzfull", at.c_str(), "tmpfs", 0, options.c_str()) != 0)
        ::_exit(77);
    const int fd = ::open((at / "filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    const std::string block(4096, 'f');
    while (fd >= 0 && ::write(fd, block.data(), block.size()) > 0) {
    }
    ::close(fd);
}

// Twin folders A and B, each with a file x and a folder m, where A/m shows
// the folder elsewhere/m, or A is itself a mount of elsewhere.
void twinsWithAMount(Fixture& f, bool mountIsTheItem)
{
    f.dir.write("elsewhere/m/kept", "mounted");
    f.dir.write("B/x", "1");
    f.dir.write("B/m/kept", "mounted");
    if (mountIsTheItem) {
        f.dir.write("elsewhere/x", "1");
        kztest::bindMount(f.dir / "elsewhere", f.dir / "A");
    } else {
        f.dir.write("A/x", "1");
        kztest::bindMount(f.dir / "elsewhere/m", f.dir / "A/m");
    }
}

QStringList alertKeys(const KZRemove& engine)
{
    QStringList keys;
    for (const auto& alert : engine.errorAlerts())
        keys << alert.key;
    return keys;
}

// Makes a mount inside the folder it deletes, once part of it went: each
// entry still there that is a folder shows `shown` from then on.
struct MountingFileSystem : InjectingFileSystem {
    fs::path shown;
    bool mounted = false;
    bool removeTree(const platform::AnchoredItem& item, const platform::StopTest& stopped, int* err,
                    bool* deletedSome) override
    {
        int asked = 0;
        const fs::path folder = item.path();
        const platform::StopTest mountOnSecondAsk = [&, stopped] {
            if (++asked == 2 && !mounted) {
                for (const auto& entry : fs::directory_iterator(folder))
                    if (entry.is_directory() && !entry.is_symlink())
                        kztest::bindMount(shown, entry.path());
                mounted = true;
            }
            return stopped && stopped();
        };
        return InjectingFileSystem::removeTree(item, mountOnSecondAsk, err, deletedSome);
    }
};

} // namespace

// Twin folders A and B, where A/m shows another folder: the deletion of A is
// refused before anything goes, neither the mounted files nor A's own are
// touched, and the reason says so. The same holds when A itself is the mount.
TEST(KZRemoveAcrossMounts, APermanentDeletionNeverReachesIntoAMount)
{
    for (const bool mountIsTheItem : {false, true}) {
        SCOPED_TRACE(mountIsTheItem);
        const auto outcome = kztest::runWithPrivateMounts([&] {
            Fixture f;
            twinsWithAMount(f, mountIsTheItem);
            const auto all = f.items({{"A", 1}, {"B", 1}});
            f.panel->itemsArefiles = false;
            answerDeleteAll(f);
            auto engine = f.engine({all[0]}, all);
            engine->doMove();
            EXPECT_EQ(kztest::readFile(f.dir / "elsewhere/m/kept"), "mounted");
            EXPECT_EQ(kztest::readFile(f.dir / "A/x"), "1") << "the folder lost one of its own";
            EXPECT_EQ(engine->tally().deleted, 0u);
            EXPECT_EQ(engine->tally().mountInside, 1u);
            EXPECT_EQ(engine->outcomeOf(all[0]), u"mount_inside"_s);
            QStringList keys;
            for (const auto& alert : engine->errorAlerts())
                keys << alert.key;
            EXPECT_EQ(keys, QStringList{u"mount_inside_sing"_s});
        });
        skipUnlessIsolated(outcome);
    }
}

// The home disk is full, the items lie on another disk with a Trash of its
// own: nothing moves, since no record could tell Restore where it went, and
// the removal says why and counts nothing as removed.
TEST(KZRemoveAcrossMounts, NothingMovesToATrashWhenItsRecordCannotBeWritten)
{
    const auto outcome = kztest::runWithPrivateMounts([&] {
        emptyTrash();
        Fixture f;
        f.setLevel(0);
        mountFullDisk(platform::homeTrashDirectory(), 64);
        const fs::path other = f.dir / "other";
        kztest::mountTmpfs(other);
        std::vector<std::pair<std::string, qint64>> names{{"other/k/x", 1}};
        for (int i = 0; i < 5; ++i)
            names.push_back({"other/d" + std::to_string(i) + "/x", 1});
        const auto all = f.items(names);
        const KZFoundItemArray marked(all.begin() + 1, all.end());
        auto engine = f.engine(marked, all);
        engine->doMove();
        for (int i = 0; i < 5; ++i)
            EXPECT_TRUE(fs::exists(other / ("d" + std::to_string(i)) / "x")) << i;
        EXPECT_FALSE(fs::exists(other / (".Trash-" + std::to_string(::getuid())) / "files"))
            << "an item went to the other disk's Trash";
        EXPECT_EQ(engine->tally().done(), 0u);
        EXPECT_FALSE(engine->removedArray().value_or(KZFoundItemArray{}).contains(marked[0]));
        EXPECT_EQ(engine->outcomeOf(marked[0]), u"no_undo_record"_s);
        ASSERT_EQ(engine->stopReasons().size(), 1);
        EXPECT_TRUE(engine->stopReasons().front().contains(u"Restore"_s)) << engine->stopReasons().front().toStdString();
        EXPECT_EQ(f.alerts.shown(), 1u) << "the user is told at once";
    });
    skipUnlessIsolated(outcome);
}

// A library's masters shown again at a plain path by a bind mount: the path
// names no library, the mount's root does. Nothing of it leaves on any job,
// nor for an ordinary user in the namespace root made, and no Trash is made
// inside the package.
TEST(KZRemoveAcrossMounts, ALibraryFolderMountedAtAPlainPathKeepsItsMasters)
{
    const auto outcome = kztest::runWithPrivateMounts([&] {
        Fixture f;
        f.setLevel(0);
        const fs::path masters = f.dir / "Pictures.photoslibrary/Masters";
        f.dir.write("Pictures.photoslibrary/Masters/a.jpg", "same picture");
        f.dir.write("Pictures.photoslibrary/Masters/b.jpg", "same picture");
        const fs::path plain = f.dir / "plain";
        kztest::bindMount(masters, plain);
        EXPECT_EQ(platform::photoLibraryPlace(plain), platform::PhotoLibraryPlace::Inside);
        EXPECT_TRUE(platform::isInsidePhotoLibraryAsWritten(plain / "a.jpg"));
        EXPECT_EQ(platform::photoLibraryPlace(f.dir / "Pictures.photoslibrary"), platform::PhotoLibraryPlace::Library);
        EXPECT_EQ(platform::photoLibraryPlace(f.dir.path()), platform::PhotoLibraryPlace::None);

        const auto all = f.items({{"plain/a.jpg", 1}, {"plain/b.jpg", 1}});
        const fs::path destination = f.dir.mkdir("dest");
        const auto untouched = [&] {
            return kztest::readFile(masters / "a.jpg") == "same picture" && fs::is_empty(destination)
                && std::distance(fs::directory_iterator(masters), fs::directory_iterator()) == 2;
        };
        // As the owner of the library, who may write every folder of it:
        // only the mount's root tells. First, while this process runs no
        // thread: a child forked after a removal's threads could find a lock
        // one of them held, and wait for it for ever.
        ::chmod(f.dir.path().c_str(), 0755);
        for (const auto& entry : fs::recursive_directory_iterator(f.dir.path()))
            ::lchown(entry.path().c_str(), 65534, 65534);
        auto userEngine = f.engine({all[0]}, all);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(10);
            if (platform::photoLibraryPlace(plain) != platform::PhotoLibraryPlace::Inside
                || !platform::isInsidePhotoLibraryAsWritten(plain / "b.jpg"))
                ::_exit(11);
            userEngine->moveItems({all[0]}, KZRemove::MoveJob, destination);
            ::_exit(untouched() && userEngine->outcomeOf(all[0]) == u"not_tagged"_s ? 0 : 12);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

        for (const bool forGood : {false, true}) {
            for (const KZRemove::Job job : {KZRemove::TrashJob, KZRemove::MoveJob, KZRemove::CopyJob}) {
                auto engine = f.engine({all[0]}, all);
                engine->thereAreShared = forGood;
                engine->moveItems({all[0]}, job, job == KZRemove::TrashJob ? fs::path() : destination);
                EXPECT_TRUE(untouched()) << int(job) << forGood;
                EXPECT_EQ(engine->outcomeOf(all[0]), u"not_tagged"_s) << int(job) << forGood;
            }
        }
    });
    skipUnlessIsolated(outcome);
}

// A library that is the root of its own file system, mounted at its place
// and again at a plain path: both mounts have root "/", so only the other
// mount of the same file system tells. The same with a disk that holds only
// the masters. Nothing leaves on any job, no Trash is made inside the
// library, also for an ordinary user, and the plain path is the library
// (or inside it) to the intake.
TEST(KZRemoveAcrossMounts, ALibraryOnItsOwnDiskKeepsItsMastersThroughASecondMount)
{
    for (const bool mastersOnly : {false, true}) {
        SCOPED_TRACE(mastersOnly);
        const auto outcome = kztest::runWithPrivateMounts([&] {
            Fixture f;
            f.setLevel(0);
            const fs::path library = f.dir / "Pictures/Photos Library.photoslibrary";
            const fs::path disk = mastersOnly ? library / "Masters" : library;
            kztest::mountTmpfs(disk);
            for (const char* name : {"a.jpg", "b.jpg"})
                f.dir.write(fs::relative(library / "Masters" / name, f.dir.path()), "same picture");
            const fs::path plain = f.dir / "plain";
            kztest::bindMount(disk, plain);
            const fs::path masters = mastersOnly ? plain : plain / "Masters";
            EXPECT_EQ(platform::photoLibraryPlace(plain),
                      mastersOnly ? platform::PhotoLibraryPlace::Inside : platform::PhotoLibraryPlace::Library);
            EXPECT_EQ(platform::photoLibraryPlace(masters / "a.jpg"), platform::PhotoLibraryPlace::Inside);
            EXPECT_TRUE(platform::isInsidePhotoLibraryAsWritten(masters / "a.jpg"));
            EXPECT_EQ(platform::photoLibraryPlace(f.dir / "Pictures"), platform::PhotoLibraryPlace::None);

            const fs::path rel = fs::relative(masters, f.dir.path());
            const auto all = f.items({{(rel / "a.jpg").native(), 1}, {(rel / "b.jpg").native(), 1}});
            const fs::path destination = f.dir.mkdir("dest");
            const auto untouched = [&] {
                return kztest::readFile(masters / "a.jpg") == "same picture" && fs::is_empty(destination)
                    && std::distance(fs::directory_iterator(plain), fs::directory_iterator()) == (mastersOnly ? 2 : 1);
            };
            // First, while this process runs no thread: a child forked
            // after a removal's threads could start none of its own.
            ::chmod(f.dir.path().c_str(), 0755);
            for (const auto& entry : fs::recursive_directory_iterator(f.dir.path()))
                ::lchown(entry.path().c_str(), 65534, 65534);
            ::lchown(disk.c_str(), 65534, 65534);
            auto userEngine = f.engine({all[1]}, all);
            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                    ::_exit(10);
                if (!platform::isInsidePhotoLibraryAsWritten(masters / "b.jpg"))
                    ::_exit(11);
                userEngine->moveItems({all[1]}, KZRemove::MoveJob, destination);
                ::_exit(untouched() && userEngine->outcomeOf(all[1]) == u"not_tagged"_s ? 0 : 12);
            }
            int status = 0;
            ::waitpid(child, &status, 0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

            for (const bool forGood : {false, true}) {
                for (const KZRemove::Job job : {KZRemove::TrashJob, KZRemove::MoveJob, KZRemove::CopyJob}) {
                    auto engine = f.engine({all[0]}, all);
                    engine->thereAreShared = forGood;
                    engine->moveItems({all[0]}, job, job == KZRemove::TrashJob ? fs::path() : destination);
                    EXPECT_TRUE(untouched()) << int(job) << forGood;
                    EXPECT_EQ(engine->outcomeOf(all[0]), u"not_tagged"_s) << int(job) << forGood;
                }
            }
        });
        skipUnlessIsolated(outcome);
    }
}

// Twin folders A and B, where A/m shows another folder, or A is the mount
// itself: no job moves or copies A, since a mount travels with its folder
// and emptying the Trash would delete the other file system's files. A
// stays whole and the reason says so. For an ordinary user the mount lies
// in a folder that user cannot read, so the walk cannot see it and the
// mount table tells.
TEST(KZRemoveAcrossMounts, NoJobMovesOrCopiesAFolderThatHoldsAMount)
{
    for (const bool mountIsTheItem : {false, true}) {
        SCOPED_TRACE(mountIsTheItem);
        const auto outcome = kztest::runWithPrivateMounts([&] {
            emptyTrash();
            Fixture f;
            f.setLevel(0);
            twinsWithAMount(f, mountIsTheItem);
            f.dir.write("D/x", "1");
            f.dir.write("D/locked/m/kept", "mounted");
            f.dir.write("C/x", "1");
            kztest::bindMount(f.dir / "elsewhere/m", f.dir / "C/locked/m");
            const auto all = f.items({{"A", 1}, {"B", 1}, {"C", 2}, {"D", 2}});
            f.panel->itemsArefiles = false;
            const fs::path destination = f.dir.mkdir("dest");
            const auto whole = [&](const char* folder) {
                return kztest::readFile(f.dir / "elsewhere/m/kept") == "mounted"
                    && kztest::readFile(f.dir / folder / "x") == "1" && fs::is_empty(destination)
                    && countIn(trashFiles()) == 0;
            };
            // First, while this process runs no thread: a child forked
            // after a removal's threads could start none of its own.
            if (!mountIsTheItem) {
                ::chmod(f.dir.path().c_str(), 0755);
                for (const char* name : {"C", "C/x", "C/locked", "dest"})
                    ::lchown((f.dir / name).c_str(), 65534, 65534);
                ::chmod((f.dir / "C/locked").c_str(), 0);
                auto engine = f.engine({all[2]}, all);
                const pid_t child = ::fork();
                ASSERT_GE(child, 0);
                if (child == 0) {
                    if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                        ::_exit(10);
                    engine->moveItems({all[2]}, KZRemove::MoveJob, destination);
                    ::_exit(whole("C") && engine->outcomeOf(all[2]) == u"mount_inside"_s ? 0 : 11);
                }
                int status = 0;
                ::waitpid(child, &status, 0);
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
                EXPECT_TRUE(fs::exists(f.dir / "C/locked"));
            }
            for (const KZRemove::Job job : {KZRemove::TrashJob, KZRemove::MoveJob, KZRemove::CopyJob}) {
                auto engine = f.engine({all[0]}, all);
                engine->moveItems({all[0]}, job, job == KZRemove::TrashJob ? fs::path() : destination);
                EXPECT_TRUE(whole("A")) << int(job);
                EXPECT_EQ(kztest::readFile(f.dir / "A/m/kept"), "mounted") << int(job);
                EXPECT_EQ(engine->outcomeOf(all[0]), u"mount_inside"_s) << int(job);
                EXPECT_EQ(alertKeys(*engine), QStringList{u"mount_inside_sing"_s}) << int(job);
            }
        });
        skipUnlessIsolated(outcome);
    }
}

// A mount made in a folder after the mount check, right before the folder
// moves: no job takes it along. A move or a move to the Trash that took it
// puts the folder back, leaves no trace in the Trash and says why; a copy
// stops at the mount's edge and takes back what it made. Where the folder
// cannot go back (its place taken meanwhile), it stays where it went with
// its record, and the user is told what it holds.
TEST(KZRemoveAcrossMounts, AMountMadeRightBeforeTheMoveStaysOutOfTheTrashAndTheDestination)
{
    for (const KZRemove::Job job : {KZRemove::TrashJob, KZRemove::MoveJob, KZRemove::CopyJob}) {
        for (const bool placeTaken : {false, true}) {
            if (placeTaken && job == KZRemove::CopyJob)
                continue; // a copy leaves the folder in place
            SCOPED_TRACE(testing::Message() << int(job) << ' ' << placeTaken);
            const auto outcome = kztest::runWithPrivateMounts([&] {
                emptyTrash();
                Fixture f;
                f.setLevel(0);
                f.dir.write("elsewhere/kept", "mounted");
                for (const char* twin : {"A", "B"}) {
                    f.dir.write(std::string(twin) + "/x", "1");
                    f.dir.mkdir(std::string(twin) + "/m");
                }
                const auto all = f.items({{"A", 1}, {"B", 1}});
                f.panel->itemsArefiles = false;
                const fs::path a = all[0]->url();
                const fs::path destination = f.dir.mkdir("dest");
                bool mounted = false;
                f.fs->before = [&](const std::string& op, const fs::path& path) {
                    if (!mounted && path == a && (op == "trash" || op == "move" || op == "copy")) {
                        kztest::bindMount(f.dir / "elsewhere", a / "m");
                        mounted = true;
                    } else if (mounted && placeTaken && op == "move" && path != a) {
                        f.dir.write("A/mine", "the user's");
                    }
                    return 0;
                };
                auto engine = f.engine({all[0]}, all);
                engine->moveItems({all[0]}, job, job == KZRemove::TrashJob ? fs::path() : destination);
                ASSERT_TRUE(mounted);
                EXPECT_EQ(kztest::readFile(f.dir / "elsewhere/kept"), "mounted");
                if (!placeTaken) {
                    EXPECT_EQ(engine->outcomeOf(all[0]), u"mount_inside"_s);
                    EXPECT_EQ(alertKeys(*engine), QStringList{u"mount_inside_sing"_s});
                    EXPECT_EQ(kztest::readFile(a / "x"), "1");
                    EXPECT_EQ(kztest::readFile(a / "m/kept"), "mounted") << "the mount did not come back with it";
                    EXPECT_TRUE(fs::is_empty(destination));
                    EXPECT_EQ(countIn(trashFiles()), 0u);
                    EXPECT_EQ(countIn(homeTrash() / "info"), 0u) << "the Trash names an item it does not hold";
                    EXPECT_FALSE(engine->removedArray().value_or(KZFoundItemArray{}).contains(all[0]));
                    EXPECT_TRUE(engine->persistentUndo().empty());
                    EXPECT_TRUE(engine->standardUndo().empty());
                    return;
                }
                // Not put back: where it is now is told and recorded.
                const bool trash = job == KZRemove::TrashJob;
                EXPECT_EQ(engine->outcomeOf(all[0]), trash ? u"trash"_s : u"moved"_s);
                EXPECT_EQ(kztest::readFile(a / "mine"), "the user's");
                EXPECT_EQ(trash ? engine->persistentUndo().size() : engine->standardUndo().size(), 1u);
                const fs::path went = trash ? trashFiles() / "A" : destination / "A";
                EXPECT_EQ(kztest::readFile(went / "m/kept"), "mounted");
                QString told;
                {
                    std::lock_guard lock(f.alerts.presenter->mutex);
                    for (const auto& call : f.alerts.presenter->calls)
                        told += call.alert.messageText + u' ' + call.alert.informativeText;
                }
                EXPECT_TRUE(told.contains(QString::fromStdString(went.native()))) << told.toStdString();
                ::umount2((went / "m").c_str(), MNT_DETACH);
            });
            skipUnlessIsolated(outcome);
        }
    }
}

// A disk mounted on the destination folder right as an item moves into it
// (the folder the user chose, or the one that a clash's new name is taken
// in) would hide the item beneath the mount, where Undo cannot find it:
// the item goes back to its place, nothing of it lies in the covered
// folder, and the user is told.
TEST(KZRemoveAcrossMounts, AMountMadeOnTheDestinationRightAsTheItemMovesKeepsItInPlace)
{
    for (const bool clash : {false, true}) {
        SCOPED_TRACE(clash ? "a clashing name" : "the name free");
        const auto outcome = kztest::runWithPrivateMounts([&] {
            Fixture f;
            const auto all = f.items({{"src/a", 1}, {"keep/a", 1}});
            const fs::path item = all[0]->url();
            const fs::path destination = f.dir.mkdir("dest");
            if (clash)
                f.dir.write("dest/a", "the user's");
            f.panel->isMoveToTrash = false;
            f.panel->renameMove = true;
            int moves = 0;
            f.fs->before = [&](const std::string& op, const fs::path& path) {
                if (op == "move" && path == item && ++moves == (clash ? 2 : 1))
                    kztest::mountTmpfs(destination);
                return 0;
            };
            auto engine = f.engine({all[0]}, all);
            engine->moveItems({all[0]}, KZRemove::MoveJob, destination);
            ASSERT_EQ(moves, clash ? 2 : 1);
            EXPECT_EQ(engine->outcomeOf(all[0]), u"destination_covered"_s);
            EXPECT_EQ(alertKeys(*engine), QStringList{u"destination_covered_sing"_s});
            EXPECT_EQ(kztest::readFile(item), "same bytes");
            EXPECT_TRUE(engine->standardUndo().empty());
            EXPECT_FALSE(engine->removedArray().value_or(KZFoundItemArray{}).contains(all[0]));
            EXPECT_TRUE(fs::is_empty(destination)) << "nothing in the mount";
            ASSERT_EQ(unplug(destination), 0) << std::strerror(errno);
            EXPECT_EQ(clash ? kztest::readFile(destination / "a") : std::string(), clash ? "the user's" : "");
            EXPECT_EQ(std::distance(fs::directory_iterator(destination), fs::directory_iterator()), clash ? 1 : 0)
                << "nothing hidden beneath it";
        });
        skipUnlessIsolated(outcome);
    }
}

// The same for the Trash: a disk mounted on the home Trash's files folder
// right as an item moves there would hide the item beneath it, and the undo
// file written after it, which goes with the mount. The item stays in
// place and is told; no other Trash takes it instead.
TEST(KZRemoveAcrossMounts, AMountMadeOnTheTrashRightAsTheItemMovesKeepsItInPlace)
{
    emptyTrash();
    const auto outcome = kztest::runWithPrivateMounts([&] {
        Fixture f;
        const auto all = f.items({{"src/a", 1}, {"keep/a", 1}});
        const fs::path item = all[0]->url();
        const fs::path files = trashFiles();
        bool mounted = false;
        platform::setBeforeTrashMoveHook([&](const fs::path& destination) {
            if (!mounted && destination.parent_path() == files) {
                mounted = true;
                kztest::mountTmpfs(files);
            }
        });
        auto engine = f.engine({all[0]}, all);
        engine->doMove();
        platform::setBeforeTrashMoveHook({});
        ASSERT_TRUE(mounted);
        EXPECT_EQ(engine->outcomeOf(all[0]), u"destination_covered"_s);
        EXPECT_EQ(alertKeys(*engine), QStringList{u"destination_covered_sing"_s});
        EXPECT_EQ(kztest::readFile(item), "same bytes");
        EXPECT_FALSE(engine->removedArray().value_or(KZFoundItemArray{}).contains(all[0]));
        EXPECT_TRUE(fs::is_empty(files)) << "nothing in the mount";
        ASSERT_EQ(unplug(files), 0) << std::strerror(errno);
        EXPECT_EQ(countIn(files), 0u) << "nothing hidden beneath it";
        const auto volume = platform::volumeForPath(item);
        ASSERT_TRUE(volume);
        std::error_code ec;
        EXPECT_TRUE(fs::is_empty(volume->mountPoint / (".Trash-" + std::to_string(::getuid())) / "files", ec) || ec)
            << "nor in the Trash at the top of its disk";
    });
    skipUnlessIsolated(outcome);
}

// A disk mounted on the old folder right as Restore or Undo moves an item
// back would hide the item beneath it, counted as put back: the item stays
// where the removal put it, with its record, and goes back once the mount
// is gone.
TEST(KZRemoveAcrossMounts, AMountMadeOnTheOldFolderRightAsTheItemGoesBackKeepsItWhereItIs)
{
    for (const bool undo : {false, true}) {
        SCOPED_TRACE(undo ? "Undo of a move" : "Restore from the Trash");
        emptyTrash();
        const auto outcome = kztest::runWithPrivateMounts([&] {
            Fixture f;
            const auto all = f.items({{"src/a", 1}, {"keep/a", 1}});
            const fs::path item = all[0]->url();
            const fs::path dest = f.dir.mkdir("dest");
            f.panel->isMoveToTrash = !undo;
            f.panel->urlToMove = dest;
            auto engine = f.engine({all[0]}, all);
            engine->doMove();
            ASSERT_FALSE(fs::exists(item));
            const auto undoFiles = KZUndoFile::list(homeTrash());
            ASSERT_EQ(undoFiles.size(), undo ? 0u : 1u);

            KZRestoreRemovedFiles restore;
            bool mounted = false;
            restore.setBeforeMoveBack([&](const fs::path& oldPosition) {
                if (!mounted && oldPosition == item) {
                    mounted = true;
                    kztest::mountTmpfs(item.parent_path());
                }
            });
            KZUndoDict kept;
            if (undo) {
                const auto result = restore.doUndoMove({engine->standardUndo(), {}, {}});
                EXPECT_EQ(result.restored, 0u);
                EXPECT_EQ(result.notRestored.missingVolume, 1u);
                EXPECT_EQ(result.kept.standardUndo.size(), 1u) << "the Undo is offered again";
                EXPECT_EQ(kztest::readFile(dest / "a"), "same bytes");
                kept = result.kept;
            } else {
                const auto result = restore.restoreFiles(undoFiles);
                EXPECT_EQ(result.restored, 0u);
                EXPECT_EQ(result.notRestored.missingVolume, 1u);
                const auto contents = KZUndoFile::read(undoFiles[0]);
                ASSERT_TRUE(contents);
                EXPECT_EQ(contents->entries.size(), 1u) << "its record stays";
                EXPECT_EQ(countIn(trashFiles()), 1u) << "it stays in the Trash";
            }
            ASSERT_TRUE(mounted);
            EXPECT_TRUE(fs::is_empty(item.parent_path())) << "nothing in the mount";
            ASSERT_EQ(unplug(item.parent_path()), 0) << std::strerror(errno);
            EXPECT_FALSE(fs::exists(item)) << "nothing hidden beneath it";

            if (undo) {
                EXPECT_EQ(restore.doUndoMove(kept).restored, 1u);
            } else {
                EXPECT_EQ(restore.restoreFiles(undoFiles).restored, 1u);
                EXPECT_TRUE(KZUndoFile::list(homeTrash()).empty());
            }
            EXPECT_EQ(kztest::readFile(item), "same bytes");
        });
        skipUnlessIsolated(outcome);
    }
}

// A mount made inside a folder while it is deleted for good: the deletion
// stops at the mount's edge and leaves the mounted files, and the report
// says that part of the folder went, never that nothing in it was deleted.
TEST(KZRemoveAcrossMounts, AMountMadeDuringADeletionIsToldWithWhatWent)
{
    const auto outcome = kztest::runWithPrivateMounts([&] {
        Fixture f;
        auto mounting = std::make_shared<MountingFileSystem>();
        f.fs = mounting;
        mounting->shown = f.dir.mkdir("elsewhere");
        f.dir.write("elsewhere/kept", "mounted");
        for (const char* twin : {"A", "B"}) {
            f.dir.write(std::string(twin) + "/x", "1");
            for (const char* folder : {"/d1", "/d2", "/d3"})
                f.dir.mkdir(std::string(twin) + folder);
        }
        const auto all = f.items({{"A", 1}, {"B", 1}});
        f.panel->itemsArefiles = false;
        answerDeleteAll(f);
        auto engine = f.engine({all[0]}, all);
        engine->doMove();
        EXPECT_TRUE(mounting->mounted);
        EXPECT_EQ(kztest::readFile(f.dir / "elsewhere/kept"), "mounted");
        EXPECT_EQ(engine->outcomeOf(all[0]), u"mount_appeared"_s);
        EXPECT_EQ(engine->tally().deleted, 0u);
        EXPECT_EQ(engine->tally().mountInside, 0u);
        EXPECT_EQ(alertKeys(*engine), QStringList{u"mount_appeared_sing"_s});
        EXPECT_FALSE(engine->removedArray().value_or(KZFoundItemArray{}).contains(all[0]));
        EXPECT_TRUE(fs::exists(f.dir / "A"));
    });
    skipUnlessIsolated(outcome);
}

// An overlay whose lower layer lies on another disk than its upper one gives
// a file of the lower layer another device than its folder, within one
// mount: no mount point, so such a file moves and such a folder is deleted
// for good as any other.
TEST(KZRemoveAcrossMounts, AnOverlaysLowerFilesAreNoMountPoints)
{
    const auto outcome = kztest::runWithPrivateMounts([&] {
        Fixture f;
        f.setLevel(0);
        for (const char* name : {"lower/a", "lower/b", "lower/D/x", "lower/E/x"})
            f.dir.write(name, "1");
        const fs::path upper = f.dir / "upper";
        kztest::mountTmpfs(upper);
        fs::create_directories(upper / "u");
        fs::create_directories(upper / "w");
        const fs::path merged = f.dir.mkdir("merged");
        // An ordinary user's overlay (in a user namespace of its own) keeps
        // its whiteouts in user attributes: without them it cannot delete a
        // lower folder at all.
        const std::string options = std::string(::geteuid() != 0 ? "userxattr," : "") + "lowerdir="
            + (f.dir / "lower").native() + ",upperdir=" + (upper / "u").native() + ",workdir=" + (upper / "w").native();
        if (::mount("kzoverlay", merged.c_str(), "overlay", 0, options.c_str()) != 0)
            ::_exit(77);
        const auto all = f.items({{"merged/a", 1}, {"merged/b", 1}, {"merged/D", 2}, {"merged/E", 2}});
        const fs::path destination = f.dir.mkdir("merged/dest");
        auto move = f.engine({all[0]}, all);
        move->moveItems({all[0]}, KZRemove::MoveJob, destination);
        EXPECT_EQ(move->outcomeOf(all[0]), u"moved"_s);
        EXPECT_EQ(kztest::readFile(destination / "a"), "1");

        f.panel->itemsArefiles = false;
        answerDeleteAll(f);
        auto deletion = f.engine({all[2]}, all);
        deletion->doMove();
        EXPECT_EQ(deletion->outcomeOf(all[2]), u"deleted"_s);
        EXPECT_FALSE(fs::exists(merged / "D"));
    });
    skipUnlessIsolated(outcome);
}

// Where no mount can be made, the mount check answers for the file system:
// a folder it says holds a mount stays whole on every job, and neither the
// Trash nor a move or copy is asked for it. Last of this file: it runs a
// removal's threads in the test process itself, after which a forked child
// may start none of its own.
TEST(KZRemoveAcrossMounts, EveryJobAsksTheMountCheckBeforeItMovesAFolder)
{
    emptyTrash();
    Fixture f;
    f.setLevel(0);
    f.dir.write("A/x", "1");
    f.dir.write("B/x", "1");
    const auto all = f.items({{"A", 1}, {"B", 1}});
    f.panel->itemsArefiles = false;
    const fs::path a = all[0]->url();
    f.fs->before = [&](const std::string& op, const fs::path& path) { return op == "mount_check" && path == a ? EXDEV : 0; };
    const fs::path destination = f.dir.mkdir("dest");
    for (const KZRemove::Job job : {KZRemove::TrashJob, KZRemove::MoveJob, KZRemove::CopyJob}) {
        auto engine = f.engine({all[0]}, all);
        engine->moveItems({all[0]}, job, job == KZRemove::TrashJob ? fs::path() : destination);
        EXPECT_EQ(engine->outcomeOf(all[0]), u"mount_inside"_s) << int(job);
        EXPECT_EQ(kztest::readFile(a / "x"), "1");
    }
    EXPECT_TRUE(fs::is_empty(destination));
    EXPECT_EQ(countIn(trashFiles()), 0u);
    for (const auto& [op, path] : f.fs->calls)
        EXPECT_TRUE(op == "mount_check" || op == "locked") << op << ' ' << path;
}
