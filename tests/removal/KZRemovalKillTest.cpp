// Trash removals killed at any moment: after the next start, Restore lists
// exactly what left its place, puts all of it back, says so, and leaves
// nothing behind in the Trash. The same for removals into the Trash of a
// bind mount's own top folder, and for restores killed part-way.
//
// The removal runs in a child, this very test program started again with
// the tree in its environment, and is killed with SIGKILL. The quick
// version runs with ctest; the full one is
//   KZ_KILL_ROUNDS=50 KZ_KILL_PAIRS=6000 kz_removal_tests --gtest_filter='KZRemovalKill.*'
// (KZ_KILL_SEED picks other moments).

#include "LoopDisks.h"
#include "RemovalTestSupport.h"

#include "platform/NameReservation.h"
#include "platform/Trash.h"
#include "removal/KZRemovalJournal.h"
#include "removal/KZRestoreList.h"
#include "removal/KZRestoreRemovedFiles.h"
#include "removal/KZUndoFile.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <random>
#include <thread>

extern char** environ;

using namespace removaltest;

namespace {

const char* const kTreeVar = "KZ_KILL_TREE";
const char* const kDataVar = "KZ_KILL_DATA_HOME";
const char* const kDieAfterVar = "KZ_KILL_AFTER_MOVES";
const char* const kReadyVar = "KZ_KILL_READY_FD";
const char* const kRestoreVar = "KZ_KILL_RESTORE";
// The child folds the journals left instead, and dies at this step of the
// fold (0: never).
const char* const kRecoverVar = "KZ_KILL_RECOVERY_STEP";
// The child runs as this user.
const char* const kUserVar = "KZ_KILL_AS_UID";
// The child dies right after its n-th reserved name, before the move that
// takes it.
const char* const kDieAtReservationVar = "KZ_KILL_AT_RESERVATION";
// The child moves the marked half into this folder instead of the Trash.
const char* const kMoveToVar = "KZ_KILL_MOVE_TO";

int envNumber(const char* name, int fallback)
{
    const char* text = std::getenv(name);
    return text && *text ? std::atoi(text) : fallback;
}

// The real file operations, and a process that dies the moment its n-th
// item has reached the Trash: before anything else has heard of the move.
struct DyingFileSystem : KZRemovalFileSystem {
    int dieAfter = 0;
    int moves = 0;
    std::optional<fs::path> moveToTrash(const platform::AnchoredItem& item, int* err) override
    {
        auto moved = KZRemovalFileSystem::moveToTrash(item, err);
        if (moved && ++moves == dieAfter)
            ::raise(SIGKILL);
        return moved;
    }
};

// tree/a/f<i> and tree/b/f<i> are equal; the b side is marked.
void makeTree(const fs::path& tree, int pairs)
{
    fs::create_directories(tree / "a");
    fs::create_directories(tree / "b");
    for (int i = 0; i < pairs; ++i)
        for (const char* side : {"a", "b"}) {
            const fs::path file = tree / side / ("f" + std::to_string(i));
            const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            ASSERT_GE(fd, 0) << file;
            const std::string content = "pair " + std::to_string(i) + "\n";
            ASSERT_TRUE(platform::writeAll(fd, content.data(), content.size()));
            ::close(fd);
        }
}

struct Child {
    pid_t pid = -1;
    int ready = -1; // read end: one byte when the removal starts
};

// This program again, running the removal of a child, with its own
// sandbox inside `scratch` (a killed child cannot remove it) and the Trash
// of this process.
// With `restore`, the child restores every row Restore lists instead; with
// `recoveryStep` of 0 or more, it folds the journals left. `uid`: the user
// it runs as, when not -1.
Child startChild(const fs::path& tree, const fs::path& scratch, int dieAfter, bool restore = false,
                 int recoveryStep = -1, int uid = -1, const std::vector<std::string>& more = {})
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return {};
    const int writeEnd = ::fcntl(fds[1], F_DUPFD, 10); // without close-on-exec
    ::close(fds[1]);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (!entry.starts_with("TMPDIR=") && !entry.starts_with("KZ_KILL_") && !entry.starts_with("GTEST_"))
            env.push_back(entry);
    }
    env.push_back("TMPDIR=" + scratch.native());
    env.push_back(std::string(kTreeVar) + "=" + tree.native());
    env.push_back(std::string(kDataVar) + "=" + platform::homeTrashDirectory().parent_path().native());
    env.push_back(std::string(kReadyVar) + "=" + std::to_string(writeEnd));
    if (dieAfter > 0)
        env.push_back(std::string(kDieAfterVar) + "=" + std::to_string(dieAfter));
    if (restore)
        env.push_back(std::string(kRestoreVar) + "=1");
    if (recoveryStep >= 0)
        env.push_back(std::string(kRecoverVar) + "=" + std::to_string(recoveryStep));
    if (uid >= 0)
        env.push_back(std::string(kUserVar) + "=" + std::to_string(uid));
    env.insert(env.end(), more.begin(), more.end());
    std::vector<char*> envp;
    for (auto& entry : env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string self = fs::read_symlink("/proc/self/exe").native();
    // One case, so that the environments are set up; the child's ends the
    // child before it runs.
    std::string filter = "--gtest_filter=KZRemovalKill.AKillRightAfterAMoveStillLeavesRestoreThatItem";
    char* argv[] = {self.data(), filter.data(), nullptr};

    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::execve(self.c_str(), argv, envp.data());
        ::_exit(127);
    }
    ::close(writeEnd);
    if (pid < 0) {
        ::close(fds[0]);
        return {};
    }
    return {pid, fds[0]};
}

bool waitUntilReady(const Child& child)
{
    pollfd p{child.ready, POLLIN, 0};
    char byte = 0;
    const bool ready = ::poll(&p, 1, 120000) == 1 && ::read(child.ready, &byte, 1) == 1;
    ::close(child.ready);
    return ready;
}

int waitForEnd(const Child& child)
{
    int status = 0;
    ::waitpid(child.pid, &status, 0);
    return status;
}

// Entries of a folder, none left out.
std::size_t entriesIn(const fs::path& folder)
{
    std::error_code ec;
    std::size_t n = 0;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        ++n;
    return n;
}

int missingIn(const fs::path& folder, int pairs)
{
    int missing = 0;
    for (int i = 0; i < pairs; ++i)
        missing += !platform::statPath(folder / ("f" + std::to_string(i)), false);
    return missing;
}

// The next start comes later: leftovers of the killed moment are old by then.
void ageTrashInfos(const fs::path& otherTrash)
{
    const fs::path trash = platform::homeTrashDirectory();
    std::error_code ec;
    std::vector<fs::path> folders{trash / "info", trash};
    if (!otherTrash.empty())
        folders.push_back(otherTrash / "info");
    for (const fs::path& folder : folders)
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            timespec times[2] = {{0, UTIME_OMIT}, {std::time(nullptr) - 120, 0}};
            ::utimensat(AT_FDCWD, it->path().c_str(), times, AT_SYMLINK_NOFOLLOW);
        }
}

struct Round {
    bool journalLeft = false; // the kill came before the removal's end
    int moved = 0;    // items in the Trash after the kill
    int listed = 0;   // entries of the undo files Restore lists
    quint64 restored = 0;
    quint64 notRestored = 0;
    std::string why; // the reasons of what was not put back
};

// Restore as the user would after the next start: the list, then every row.
// `otherTrash`: the trash of the tree's own mount, where its items went.
Round restoreEverything(const fs::path& tree, int pairs, const fs::path& otherTrash = {})
{
    Round round;
    round.moved = missingIn(tree / "b", pairs);
    round.journalLeft = !KZRemovalJournal::list(platform::homeTrashDirectory()).empty();
    ageTrashInfos(otherTrash);
    KZRestoreList list(platform::homeTrashDirectory());
    list.permanentItems();
    std::vector<fs::path> files;
    for (const auto& row : list.rows()) {
        files.push_back(row.path);
        if (const auto contents = KZUndoFile::read(row.path))
            round.listed += int(contents->entries.size());
    }
    KZRestoreRemovedFiles engine;
    const auto result = engine.restoreFiles(files);
    round.restored = result.restored;
    round.notRestored = result.notRestored.total();
    const auto& n = result.notRestored;
    for (const auto& [name, count] : {std::pair{"occupied", n.occupied}, {"gone", n.gone},
                                      {"missingVolume", n.missingVolume}, {"failed", n.failed},
                                      {"disconnected", n.disconnected}, {"changed", n.changed},
                                      {"unproved", n.unproved}, {"notInTrash", n.notInTrash},
                                      {"holderDisconnected", n.holderDisconnected},
                                      {"possibleCopy", n.possibleCopy}, {"twinDisks", n.twinDisks}})
        if (count)
            round.why += std::string(" ") + name + '=' + std::to_string(count);
    EXPECT_TRUE(result.unreadable.empty());
    return round;
}

// `otherTrash`: the trash of the tree's own mount, where its items went.
void expectAllBack(const fs::path& tree, int pairs, const Round& round, const fs::path& otherTrash = {})
{
    EXPECT_EQ(round.listed, round.moved) << "Restore lists exactly what moved";
    EXPECT_EQ(round.restored, quint64(round.moved)) << "the report counts what came back";
    EXPECT_EQ(round.notRestored, 0u) << round.why;
    EXPECT_EQ(missingIn(tree / "b", pairs), 0);
    EXPECT_EQ(missingIn(tree / "a", pairs), 0);
    for (const fs::path& trash : {platform::homeTrashDirectory(), otherTrash}) {
        if (trash.empty())
            continue;
        EXPECT_EQ(removaltest::entriesBesideUndoFiles(trash, "files"), 0u) << "nothing stays in the Trash " << trash;
        EXPECT_EQ(removaltest::entriesBesideUndoFiles(trash, "info"), 0u);
    }
    EXPECT_EQ(removaltest::listedRecords(platform::homeTrashDirectory()), 0u);
    EXPECT_TRUE(KZRemovalJournal::list(platform::homeTrashDirectory()).empty());
}

// What a restore killed part-way leaves, restored again: every item still
// in the Trash is listed once, and every listed item is told as put back
// (also those the killed restore moved before it could say so).
void expectRestoredAfterKill(const fs::path& tree, int pairs, const Round& round)
{
    EXPECT_GE(round.listed, round.moved) << "nothing in the Trash is left unlisted";
    EXPECT_LE(round.listed, pairs) << "nothing is listed twice";
    EXPECT_EQ(round.restored, quint64(round.listed)) << "the report agrees with the disk";
    EXPECT_EQ(round.notRestored, 0u);
    EXPECT_EQ(missingIn(tree / "b", pairs), 0);
    EXPECT_EQ(entriesIn(platform::homeTrashDirectory() / "files"), 0u);
    EXPECT_EQ(entriesIn(platform::homeTrashDirectory() / "info"), 0u);
}

// The removal of a child, run before any case when the child's environment
// names a tree; the child ends with it.
int trashTheMarkedHalf(const fs::path& tree)
{
    ScopedAlerts alerts;
    std::vector<modeltest::ItemShape> shapes;
    const int pairs = int(entriesIn(tree / "a"));
    for (int i = 0; i < pairs; ++i)
        for (const char* side : {"a", "b"})
            shapes.push_back(
                {.path = tree / side / ("f" + std::to_string(i)), .group = i + 1, .marked = side[0] == 'b'});
    const KZFoundItemArray all = modeltest::makeItems(shapes);
    KZFoundItemArray marked;
    for (const auto& item : all)
        if (item->isMarked())
            marked.append(item);
    auto panel = std::make_shared<RecordingPanel>();
    const char* moveTo = std::getenv(kMoveToVar);
    panel->isMoveToTrash = !moveTo;
    if (moveTo)
        panel->urlToMove = moveTo;
    panel->itemsToRemove = marked;
    panel->resultItems = all;
    auto files = std::make_shared<DyingFileSystem>();
    files->dieAfter = envNumber(kDieAfterVar, 0);
    if (const int dieAt = envNumber(kDieAtReservationVar, 0); dieAt > 0)
        platform::setAfterReservationHook([reserved = 0, dieAt](const fs::path&) mutable {
            if (++reserved == dieAt)
                ::raise(SIGKILL);
        });
    auto engine = std::make_shared<KZRemove>(panel, files);
    const int ready = envNumber(kReadyVar, -1);
    if (::write(ready, "r", 1) != 1)
        return 2;
    ::close(ready);
    engine->doMove();
    return (moveTo ? engine->tally().moved : engine->tally().trashed) == quint64(pairs) ? 0 : 1;
}

// The restore of a child: every row of the list, as the user would; with
// kDieAfterVar set, killed right after that many of its steps that leave a
// mark on disk.
int restoreTheList()
{
    ScopedAlerts alerts;
    if (const int dieAt = envNumber(kDieAtReservationVar, 0); dieAt > 0)
        platform::setAfterReservationHook([reserved = 0, dieAt](const fs::path&) mutable {
            if (++reserved == dieAt)
                ::raise(SIGKILL);
        });
    if (const int dieAt = envNumber(kDieAfterVar, 0); dieAt > 0)
        KZRestoreRemovedFiles::setRestoreStepHook([steps = 0, dieAt]() mutable {
            if (++steps == dieAt)
                ::raise(SIGKILL);
        });
    KZRestoreList list(platform::homeTrashDirectory());
    list.permanentItems();
    std::vector<fs::path> files;
    for (const auto& row : list.rows())
        files.push_back(row.path);
    const int ready = envNumber(kReadyVar, -1);
    if (::write(ready, "r", 1) != 1)
        return 2;
    ::close(ready);
    KZRestoreRemovedFiles engine;
    return engine.restoreFiles(files).notRestored.total() == 0 ? 0 : 1;
}

// The fold of a child, as the next start runs it, killed right after its
// `dieAt`-th step that leaves a mark on disk.
int recoverKilledAt(int dieAt)
{
    int steps = 0;
    KZRemovalJournal::setRecoveryStepHook([&steps, dieAt] {
        if (++steps == dieAt)
            ::raise(SIGKILL);
    });
    const int ready = envNumber(kReadyVar, -1);
    if (::write(ready, "r", 1) != 1)
        return 2;
    ::close(ready);
    KZRemovalJournal::recoverInterrupted(platform::homeTrashDirectory());
    return 0;
}

struct ChildRemoval : ::testing::Environment {
    void SetUp() override
    {
        const char* tree = std::getenv(kTreeVar);
        const char* data = std::getenv(kDataVar);
        if (!tree || !data)
            return;
        ::setenv("XDG_DATA_HOME", data, 1);
        if (std::getenv(kUserVar) && !becomeUser(envNumber(kUserVar, -1)))
            ::_exit(3);
        int status = 0;
        if (std::getenv(kRecoverVar))
            status = recoverKilledAt(envNumber(kRecoverVar, 0));
        else
            status = std::getenv(kRestoreVar) ? restoreTheList() : trashTheMarkedHalf(tree);
        std::fflush(nullptr);
        ::_exit(status);
    }
};
[[maybe_unused]] ::testing::Environment* const childRemoval = ::testing::AddGlobalTestEnvironment(new ChildRemoval);

} // namespace

TEST(KZRemovalKill, AKillRightAfterAMoveStillLeavesRestoreThatItem)
{
    emptyTrash();
    kztest::TempDir dir;
    const int pairs = 5;
    makeTree(dir / "tree", pairs);
    const Child child = startChild(dir / "tree", dir.path(), 3);
    ASSERT_GT(child.pid, 0);
    ASSERT_TRUE(waitUntilReady(child));
    const int status = waitForEnd(child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    ASSERT_EQ(missingIn(dir / "tree/b", pairs), 3);
    // The journal keeps who each item is, not only its device and inode.
    const auto journals = KZRemovalJournal::list(platform::homeTrashDirectory());
    ASSERT_EQ(journals.size(), 1u);
    const auto left = KZRemovalJournal::read(journals[0]);
    ASSERT_TRUE(left);
    ASSERT_EQ(left->pending.size(), 1u) << "killed between the move and its entry";
    for (const auto& record : left->records)
        EXPECT_TRUE(record.identity && record.identity->canProve());
    EXPECT_TRUE(left->pending[0].identity && left->pending[0].identity->canProve());

    const Round round = restoreEverything(dir / "tree", pairs);
    expectAllBack(dir / "tree", pairs, round);
}

TEST(KZRemovalKill, RandomKillsLeaveRestoreExactlyWhatMoved)
{
    const int rounds = envNumber("KZ_KILL_ROUNDS", 6);
    const int pairs = envNumber("KZ_KILL_PAIRS", 300);
    std::mt19937 rng(unsigned(envNumber("KZ_KILL_SEED", 1)));
    using Clock = std::chrono::steady_clock;

    // One removal to its end: how long one takes, and the case without a kill.
    double seconds = 0;
    {
        emptyTrash();
        kztest::TempDir dir;
        makeTree(dir / "tree", pairs);
        const Child child = startChild(dir / "tree", dir.path(), 0);
        ASSERT_GT(child.pid, 0);
        ASSERT_TRUE(waitUntilReady(child));
        const auto start = Clock::now();
        const int status = waitForEnd(child);
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        const Round round = restoreEverything(dir / "tree", pairs);
        EXPECT_EQ(round.moved, pairs);
        expectAllBack(dir / "tree", pairs, round);
    }

    const auto failures = [] {
        return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
    };
    int killed = 0;
    int wrong = 0;
    for (int r = 1; r <= rounds; ++r) {
        const int failuresBefore = failures();
        SCOPED_TRACE(r);
        emptyTrash();
        kztest::TempDir dir;
        makeTree(dir / "tree", pairs);
        const double delay = std::uniform_real_distribution<double>(0, seconds * 1.05)(rng);
        const Child child = startChild(dir / "tree", dir.path(), 0);
        ASSERT_GT(child.pid, 0);
        ASSERT_TRUE(waitUntilReady(child));
        std::this_thread::sleep_for(std::chrono::duration<double>(delay));
        ::kill(child.pid, SIGKILL);
        const int status = waitForEnd(child);
        killed += WIFSIGNALED(status);
        const Round round = restoreEverything(dir / "tree", pairs);
        expectAllBack(dir / "tree", pairs, round);
        std::cout << "round " << r << ": killed after " << int(delay * 1000) << " ms of " << int(seconds * 1000)
                  << " ms, " << round.moved << " of " << pairs << " in the Trash, journal "
                  << (round.journalLeft ? "left" : "gone") << ", " << round.listed
                  << " listed, " << round.restored << " restored, " << round.notRestored << " not restored\n";
        wrong += failures() > failuresBefore;
    }
    std::cout << killed << " of " << rounds << " removals of " << pairs << " items killed part-way, " << wrong
              << " rounds wrong\n";
}

// A bind mount shows the home file system under another mount: the home
// trash is tried first and refuses (a rename never crosses mounts), and the
// items go to the Trash at the top of the mount. A kill at any moment, also
// right after the first such move, leaves Restore exactly what moved.
TEST(KZRemovalKill, RandomKillsIntoABindMountsOwnTrashLeaveRestoreExactlyWhatMoved)
{
    const int rounds = envNumber("KZ_KILL_ROUNDS", 4);
    const int pairs = envNumber("KZ_KILL_PAIRS", 100);
    emptyTrash();
    kztest::TempDir dir;
    fs::create_directories(dir / "source");
    const auto outcome = kztest::runWithPrivateMounts([&] {
        const fs::path bound = dir / "bound";
        kztest::bindMount(dir / "source", bound);
        const fs::path ownTrash = bound / (".Trash-" + std::to_string(::getuid()));
        const fs::path tree = bound / "tree";
        std::mt19937 rng(unsigned(envNumber("KZ_KILL_SEED", 1)));
        using Clock = std::chrono::steady_clock;
        double seconds = 0;
        for (int r = 0; r <= rounds + 1; ++r) {
            SCOPED_TRACE(r);
            emptyTrash();
            fs::remove_all(ownTrash);
            fs::remove_all(tree);
            makeTree(tree, pairs);
            // Round 0 runs to its end and times it; round 1 dies right after
            // its first move, before anything else has heard of it.
            const Child child = startChild(tree, dir.path(), r == 1 ? 1 : 0);
            ASSERT_GT(child.pid, 0);
            ASSERT_TRUE(waitUntilReady(child));
            const auto start = Clock::now();
            if (r > 1) {
                const double delay = std::uniform_real_distribution<double>(0, seconds * 1.05)(rng);
                std::this_thread::sleep_for(std::chrono::duration<double>(delay));
                ::kill(child.pid, SIGKILL);
            }
            const int status = waitForEnd(child);
            if (r == 0) {
                seconds = std::chrono::duration<double>(Clock::now() - start).count();
                ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
            }
            if (r == 1) {
                ASSERT_EQ(missingIn(tree / "b", pairs), 1);
                ASSERT_TRUE(fs::exists(ownTrash / "files")) << "the item went to the mount's own Trash";
            }
            const Round round = restoreEverything(tree, pairs, ownTrash);
            expectAllBack(tree, pairs, round, ownTrash);
            std::cout << "bind mount round " << r << ": " << round.moved << " of " << pairs << " in the Trash, journal "
                      << (round.journalLeft ? "left" : "gone") << ", " << round.listed << " listed, " << round.restored
                      << " restored\n";
        }
    });
    if (outcome == kztest::Isolated::Unavailable)
        GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(outcome, kztest::Isolated::Passed);
}

// Restores killed at any moment, while items move back or while an undo
// file is rewritten: the next Restore lists every item still in the Trash
// once, and counts those the killed one put back as put back.
TEST(KZRemovalKill, RandomKillsDuringRestoreLeaveNothingUnlistedNorListedTwice)
{
    const int rounds = envNumber("KZ_KILL_ROUNDS", 6);
    const int pairs = envNumber("KZ_KILL_PAIRS", 300);
    std::mt19937 rng(unsigned(envNumber("KZ_KILL_SEED", 1)));
    using Clock = std::chrono::steady_clock;
    double seconds = 0;
    for (int r = 0; r <= rounds; ++r) {
        SCOPED_TRACE(r);
        emptyTrash();
        kztest::TempDir dir;
        makeTree(dir / "tree", pairs);
        const Child removal = startChild(dir / "tree", dir.path(), 0);
        ASSERT_GT(removal.pid, 0);
        ASSERT_TRUE(waitUntilReady(removal));
        const int removed = waitForEnd(removal);
        ASSERT_TRUE(WIFEXITED(removed) && WEXITSTATUS(removed) == 0) << removed;
        ASSERT_EQ(missingIn(dir / "tree/b", pairs), pairs);

        // Round 0 restores to its end and times it.
        const Child restore = startChild(dir / "tree", dir.path(), 0, true);
        ASSERT_GT(restore.pid, 0);
        ASSERT_TRUE(waitUntilReady(restore));
        const auto start = Clock::now();
        if (r > 0) {
            const double delay = std::uniform_real_distribution<double>(0, seconds * 1.05)(rng);
            std::this_thread::sleep_for(std::chrono::duration<double>(delay));
            ::kill(restore.pid, SIGKILL);
        }
        const int status = waitForEnd(restore);
        if (r == 0) {
            seconds = std::chrono::duration<double>(Clock::now() - start).count();
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
            EXPECT_EQ(missingIn(dir / "tree/b", pairs), 0);
            EXPECT_TRUE(KZUndoFile::list(platform::homeTrashDirectory()).empty());
            continue;
        }
        const Round round = restoreEverything(dir / "tree", pairs);
        expectRestoredAfterKill(dir / "tree", pairs, round);
        std::cout << "restore round " << r << ": " << round.moved << " of " << pairs << " still in the Trash, "
                  << round.listed << " listed, " << round.restored << " restored\n";
    }
}

// A removal killed right after a move leaves an intent whose item is in the
// Trash. Its fold at the next start, killed after each of its steps in
// turn and run again, lists that item and every other one exactly once, as
// root and as an ordinary user.
TEST(KZRemovalKill, ARecoveryKilledAtAnyStepAndRunAgainListsEachItemOnce)
{
    for (const int uid : {-1, 65534}) {
        if (uid >= 0 && ::geteuid() != 0)
            continue; // already an ordinary user
        SCOPED_TRACE(uid < 0 ? "as the user running the tests" : "as an ordinary user");
        int step = 1;
        for (;; ++step) {
            SCOPED_TRACE(step);
            kztest::UserFolder dir;
            kztest::EnvGuard data("XDG_DATA_HOME");
            ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
            fs::create_directories(dir / "data");
            const int pairs = 3;
            makeTree(dir / "tree", pairs);
            if (uid >= 0) {
                ::chmod(dir.path().c_str(), 0777);
                for (const auto& entry : fs::recursive_directory_iterator(dir.path()))
                    ASSERT_EQ(::lchown(entry.path().c_str(), uid_t(uid), gid_t(uid)), 0);
            }
            const Child removal = startChild(dir / "tree", dir.path(), 2, false, -1, uid);
            ASSERT_GT(removal.pid, 0);
            ASSERT_TRUE(waitUntilReady(removal));
            const int removed = waitForEnd(removal);
            ASSERT_TRUE(WIFSIGNALED(removed) && WTERMSIG(removed) == SIGKILL) << removed;
            ASSERT_EQ(missingIn(dir / "tree/b", pairs), 2);

            const Child fold = startChild(dir / "tree", dir.path(), 0, false, step, uid);
            ASSERT_GT(fold.pid, 0);
            ASSERT_TRUE(waitUntilReady(fold));
            const int folded = waitForEnd(fold);
            const bool killed = WIFSIGNALED(folded) && WTERMSIG(folded) == SIGKILL;
            ASSERT_TRUE(killed || (WIFEXITED(folded) && WEXITSTATUS(folded) == 0)) << folded;
            // The next start, later: what the kill left half made is old.
            ageTrashInfos({});
            const Child again = startChild(dir / "tree", dir.path(), 0, false, 0, uid);
            ASSERT_GT(again.pid, 0);
            ASSERT_TRUE(waitUntilReady(again));
            const int refolded = waitForEnd(again);
            ASSERT_TRUE(WIFEXITED(refolded) && WEXITSTATUS(refolded) == 0) << refolded;
            EXPECT_TRUE(KZRemovalJournal::list(platform::homeTrashDirectory()).empty());

            const Round round = restoreEverything(dir / "tree", pairs);
            expectAllBack(dir / "tree", pairs, round);
            if (!killed)
                break;
        }
        EXPECT_GE(step, 5) << "the fold has that many steps to die after";
    }
}

// On a disk without birth times only this program's own evidence tells an
// item that a Restore put back from one like it that a copy of the disk
// shows. A Restore killed after any of its steps (an item moved back, the
// undo file rewritten, a .trashinfo removed) leaves the next Restore every
// item still named proved back or still in the Trash: it says all of them
// restored, lists nothing afterwards, and the tree is whole, the Trash
// empty. The same with the home Trash on that disk (where the next start's
// recovery sweeps the Trash first) and with the disk's own Trash.
TEST(KZRemovalKill, ARestoreKilledAtAnyStepOnADiskWithoutBirthTimesLeavesEveryItemProvedBack)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to attach a loop device";
    kztest::TempDir d;
    const auto outcome = kztest::runWithPrivateMounts([&] {
        const fs::path at = d / "disk";
        fs::create_directories(at);
        const fs::path image = d / "disk.img";
        if (!kztest::shell("truncate -s 64M " + image.native()) || !kztest::shell("mkfs.ext4 -q -I 128 " + image.native())
            || !kztest::shell("mount -o loop " + image.native() + " " + at.native()))
            ::_exit(77);
        if (platform::statPath(at, false)->birth)
            ::_exit(77);
        const int pairs = 3;
        for (const bool homeOnDisk : {true, false}) {
            SCOPED_TRACE(homeOnDisk ? "the home Trash on the disk" : "the disk's own Trash");
            kztest::EnvGuard data("XDG_DATA_HOME");
            if (homeOnDisk)
                ::setenv("XDG_DATA_HOME", (at / "data").c_str(), 1);
            const fs::path trash = homeOnDisk ? homeTrash() : at / (".Trash-" + std::to_string(::getuid()));
            int step = 1;
            for (;; ++step) {
                SCOPED_TRACE(step);
                emptyTrash();
                fs::remove_all(trash);
                const fs::path tree = at / "tree";
                fs::remove_all(tree);
                makeTree(tree, pairs);
                const Child removal = startChild(tree, d.path(), 0);
                ASSERT_GT(removal.pid, 0);
                ASSERT_TRUE(waitUntilReady(removal));
                const int removed = waitForEnd(removal);
                ASSERT_TRUE(WIFEXITED(removed) && WEXITSTATUS(removed) == 0) << removed;
                ASSERT_EQ(missingIn(tree / "b", pairs), pairs);
                ASSERT_EQ(entriesIn(trash / "files"), size_t(pairs) + (homeOnDisk ? 1 : 0)) << "and the undo file";

                const Child restore = startChild(tree, d.path(), step, true);
                ASSERT_GT(restore.pid, 0);
                ASSERT_TRUE(waitUntilReady(restore));
                const int restored = waitForEnd(restore);
                const bool killed = WIFSIGNALED(restored) && WTERMSIG(restored) == SIGKILL;
                ASSERT_TRUE(killed || (WIFEXITED(restored) && WEXITSTATUS(restored) == 0)) << restored;

                const Round round = restoreEverything(tree, pairs);
                EXPECT_EQ(round.notRestored, 0u) << "nothing is kept as not proved";
                EXPECT_EQ(round.restored, quint64(round.listed)) << "every item listed is told as back";
                EXPECT_GE(round.listed, round.moved);
                EXPECT_EQ(missingIn(tree / "b", pairs), 0);
                EXPECT_EQ(missingIn(tree / "a", pairs), 0);
                EXPECT_EQ(entriesIn(trash / "files"), 0u);
                if (homeOnDisk) {
                    EXPECT_EQ(entriesIn(trash / "info"), 0u);
                }
                KZRestoreList list(platform::homeTrashDirectory());
                list.permanentItems();
                EXPECT_TRUE(list.rows().empty()) << "no phantom record is left";
                if (!killed)
                    break;
            }
            EXPECT_GE(step, 2 * pairs + 2) << "each move back, the rewrite and each .trashinfo are steps";
        }
        ::umount2(at.c_str(), 0);
    });
    if (outcome == kztest::Isolated::Unavailable)
        GTEST_SKIP() << "no loop device, ext4 without birth times or private mount namespace here";
    EXPECT_EQ(outcome, kztest::Isolated::Passed);
}

namespace {

// Empty files and empty folders right in `folder`: what a reservation made
// on a disk without the no-replace rename looks like.
std::size_t emptyEntriesIn(const fs::path& folder)
{
    std::error_code ec;
    std::size_t n = 0;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const auto st = platform::statPath(it->path(), false);
        n += st && ((st->isRegular() && st->size == 0) || (st->isDir() && entriesIn(it->path()) == 0));
    }
    return n;
}

// .trashinfo files whose item is not in the Trash.
std::size_t infosWithoutItem(const fs::path& trash)
{
    std::error_code ec;
    std::size_t n = 0;
    for (fs::directory_iterator it(trash / "info", ec), end; !ec && it != end; it.increment(ec))
        if (const auto name = platform::trashedNameOfInfo(it->path().filename().native()))
            n += !platform::statPath(trash / "files" / *name, false);
    return n;
}

// The marked half of `root`/tree trashed (or, with `move`, moved into
// `root`/dest) by a child killed right after its k-th reserved name, for
// every k until the removal runs to its end. The next start's recovery
// (as the same user, killed once and run again) leaves no empty placeholder
// and no .trashinfo without
// its item; Restore puts back what moved; and the next removal of the same
// items takes their own names, with no "same name" and no numbered name in
// the Trash. Answers how many names a whole removal reserved. `trash`: the
// Trash the items go to.
int killAtEveryReservation(const fs::path& root, const fs::path& scratch, const fs::path& trash, bool move, int uid)
{
    const int pairs = 2;
    const fs::path tree = root / "tree";
    const fs::path dest = root / "dest";
    const auto prepare = [&] {
        emptyTrash();
        fs::remove_all(trash);
        fs::remove_all(tree);
        fs::remove_all(dest);
        makeTree(tree, pairs);
        fs::create_directories(dest);
        if (uid >= 0)
            for (const auto& entry : fs::recursive_directory_iterator(root))
                ::lchown(entry.path().c_str(), uid_t(uid), gid_t(uid)); // refused on a disk without owners
    };
    std::vector<std::string> moveTo;
    if (move)
        moveTo.push_back(std::string(kMoveToVar) + "=" + dest.native());
    const auto removal = [&](int dieAt) {
        std::vector<std::string> env = moveTo;
        if (dieAt > 0)
            env.push_back(std::string(kDieAtReservationVar) + "=" + std::to_string(dieAt));
        const Child child = startChild(tree, scratch, 0, false, -1, uid, env);
        EXPECT_GT(child.pid, 0);
        EXPECT_TRUE(child.pid > 0 && waitUntilReady(child));
        return child.pid > 0 ? waitForEnd(child) : -1;
    };
    for (int k = 1; k < 20; ++k) {
        SCOPED_TRACE("killed at reserved name " + std::to_string(k));
        prepare();
        const int status = removal(k);
        if (!WIFSIGNALED(status)) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
            return k - 1;
        }
        EXPECT_EQ(WTERMSIG(status), SIGKILL);
        EXPECT_EQ(KZRemovalJournal::list(platform::homeTrashDirectory()).size(), 1u) << "it names what it reserved";

        // The next start, killed after its first step that leaves a mark
        // (taking a placeholder away before its .trashinfo, where there is
        // one), and the one after it.
        for (const int dieAt : {1, 0}) {
            const Child recovery = startChild(tree, scratch, 0, false, dieAt, uid);
            EXPECT_GT(recovery.pid, 0);
            if (recovery.pid <= 0)
                continue;
            EXPECT_TRUE(waitUntilReady(recovery));
            const int recovered = waitForEnd(recovery);
            EXPECT_TRUE((dieAt > 0 && WIFSIGNALED(recovered)) || (WIFEXITED(recovered) && WEXITSTATUS(recovered) == 0))
                << recovered;
        }
        EXPECT_TRUE(KZRemovalJournal::list(platform::homeTrashDirectory()).empty());
        EXPECT_EQ(emptyEntriesIn(move ? dest : trash / "files"), 0u) << "no placeholder stays";
        EXPECT_EQ(infosWithoutItem(trash), 0u) << "no .trashinfo stays without its item";

        // Whatever moved goes back, by Restore or by hand, and the same
        // items are removed again, to their own names.
        if (move) {
            for (int i = 0; i < pairs; ++i) {
                const std::string name = "f" + std::to_string(i);
                if (platform::statPath(dest / name, false)) {
                    EXPECT_TRUE(platform::moveNoReplace(dest / name, tree / "b" / name));
                }
            }
            EXPECT_EQ(entriesIn(dest), 0u);
        } else {
            const Round round = restoreEverything(tree, pairs, trash);
            expectAllBack(tree, pairs, round, trash);
        }
        const int again = removal(0);
        EXPECT_TRUE(WIFEXITED(again) && WEXITSTATUS(again) == 0) << "the next removal of the items succeeds: " << again;
        for (int i = 0; i < pairs; ++i) {
            const std::string name = "f" + std::to_string(i);
            EXPECT_EQ(kztest::readFile((move ? dest : trash / "files") / name), "pair " + std::to_string(i) + "\n");
        }
        EXPECT_EQ(entriesIn(move ? dest : trash / "files"), std::size_t(pairs) + (!move && trash == homeTrash()))
            << "and the undo file";
    }
    ADD_FAILURE() << "the removal never ran to its end";
    return -1;
}

// The next start of the user `uid` (-1: the one running the tests): its
// recovery killed after its first step that leaves a mark, then whole.
void recoverKilledOnceThenWhole(const fs::path& tree, const fs::path& scratch, int uid)
{
    for (const int dieAt : {1, 0}) {
        const Child recovery = startChild(tree, scratch, 0, false, dieAt, uid);
        EXPECT_GT(recovery.pid, 0);
        if (recovery.pid <= 0)
            continue;
        EXPECT_TRUE(waitUntilReady(recovery));
        const int recovered = waitForEnd(recovery);
        EXPECT_TRUE((dieAt > 0 && WIFSIGNALED(recovered)) || (WIFEXITED(recovered) && WEXITSTATUS(recovered) == 0))
            << recovered;
    }
}

// The marked half of `root`/tree trashed by a child of the user `uid`
// killed right after its k-th move, before anything else has heard of it,
// for every k. Where that user is not the one running the tests, a start
// of root's with the user's home comes first and leaves the user's journal
// alone: root's own Trash of the disk holds none of the moved items. Then
// the user's next start (killed once) and Restore put back exactly what
// moved. `trash`: the Trash the items go to.
void killAfterEveryMove(const fs::path& root, const fs::path& scratch, const fs::path& trash, int uid, int pairs)
{
    const fs::path tree = root / "tree";
    for (int k = 1; k <= pairs; ++k) {
        SCOPED_TRACE("killed after move " + std::to_string(k));
        emptyTrash();
        fs::remove_all(trash);
        fs::remove_all(tree);
        makeTree(tree, pairs);
        if (uid >= 0) {
            for (const auto& entry : fs::recursive_directory_iterator(root)) {
                ASSERT_EQ(::lchown(entry.path().c_str(), uid_t(uid), gid_t(uid)), 0);
            }
        }
        const Child child = startChild(tree, scratch, k, false, -1, uid);
        ASSERT_GT(child.pid, 0);
        ASSERT_TRUE(waitUntilReady(child));
        const int status = waitForEnd(child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
        ASSERT_EQ(missingIn(tree / "b", pairs), k);
        ASSERT_EQ(KZRemovalJournal::list(platform::homeTrashDirectory()).size(), 1u);
        if (uid >= 0) {
            ageTrashInfos(trash);
            KZRemovalJournal::recoverInterrupted(platform::homeTrashDirectory());
            EXPECT_EQ(KZRemovalJournal::list(platform::homeTrashDirectory()).size(), 1u)
                << "the journal is left for the user who removed";
            EXPECT_TRUE(KZUndoFile::list(platform::homeTrashDirectory()).empty());
        }
        recoverKilledOnceThenWhole(tree, scratch, uid);
        EXPECT_TRUE(KZRemovalJournal::list(platform::homeTrashDirectory()).empty());
        const Round round = restoreEverything(tree, pairs, trash);
        expectAllBack(tree, pairs, round, trash);
    }
}

// The marked half of `root`/tree trashed, then a Restore killed right after
// it reserved the first item's old name with an empty file: the next start
// takes that away, and the next Restore puts every item back.
void killRestoreAtItsReservation(const fs::path& root, const fs::path& scratch, const fs::path& trash, int uid)
{
    const int pairs = 2;
    const fs::path tree = root / "tree";
    emptyTrash();
    fs::remove_all(trash);
    fs::remove_all(tree);
    makeTree(tree, pairs);
    const auto run = [&](bool restore, int dieAtReservation, int recoveryStep) {
        std::vector<std::string> env;
        if (dieAtReservation > 0)
            env.push_back(std::string(kDieAtReservationVar) + "=" + std::to_string(dieAtReservation));
        const Child child = startChild(tree, scratch, 0, restore, recoveryStep, uid, env);
        EXPECT_GT(child.pid, 0);
        EXPECT_TRUE(child.pid > 0 && waitUntilReady(child));
        return child.pid > 0 ? waitForEnd(child) : -1;
    };
    const int removed = run(false, 0, -1);
    ASSERT_TRUE(WIFEXITED(removed) && WEXITSTATUS(removed) == 0) << removed;
    const int restored = run(true, 1, -1);
    ASSERT_TRUE(WIFSIGNALED(restored) && WTERMSIG(restored) == SIGKILL) << restored;
    ASSERT_EQ(emptyEntriesIn(tree / "b"), 1u) << "killed holding the old name";
    const int recovered = run(false, 0, 0);
    EXPECT_TRUE(WIFEXITED(recovered) && WEXITSTATUS(recovered) == 0) << recovered;
    EXPECT_EQ(emptyEntriesIn(tree / "b"), 0u);
    EXPECT_TRUE(KZRemovalJournal::list(platform::homeTrashDirectory()).empty());
    const Round round = restoreEverything(tree, pairs, trash);
    expectAllBack(tree, pairs, round, trash);
}

// An exFAT disk through exfat-fuse on a loop device, as the usual stick is,
// at `folder`/disk inside the case's private mount namespace; its loop
// device goes with it. `mounted` false where the tools or the kernel refuse.
struct ExfatDisk {
    fs::path at;
    fs::path image;
    std::string device;
    bool mounted = false;

    ExfatDisk(const fs::path& folder, const std::string& options)
        : at(folder / "disk"), image(folder / "disk.img")
    {
        fs::create_directories(at);
        if (!kztest::shell("truncate -s 64M " + image.native())
            || !kztest::shell("mkfs.exfat " + image.native() + " >/dev/null"))
            return;
        device = kztest::shellOutput("losetup -f --show " + image.native());
        mounted = !device.empty()
            && kztest::shell("mount.exfat-fuse " + (options.empty() ? "" : "-o " + options + " ") + device + " "
                             + at.native());
    }
    ~ExfatDisk()
    {
        if (mounted)
            ::umount2(at.c_str(), MNT_DETACH);
        if (!device.empty())
            kztest::detachLoopDevice(device, image);
    }
};

// Runs `body` as the user running the tests and, where they are root, once
// more for the ordinary user `uid` with a home Trash that user may write.
void asEachUser(const fs::path& folder, const std::function<void(int uid)>& body)
{
    for (const int uid : {-1, 65534}) {
        if (uid >= 0 && ::geteuid() != 0)
            continue;
        SCOPED_TRACE(uid < 0 ? "as the user running the tests" : "as an ordinary user");
        kztest::EnvGuard data("XDG_DATA_HOME");
        const fs::path home = folder / (uid < 0 ? "data" : "user-data");
        fs::create_directories(home);
        ::setenv("XDG_DATA_HOME", home.c_str(), 1);
        if (uid >= 0) {
            ::chmod(folder.c_str(), 0777);
            ASSERT_EQ(::lchown(home.c_str(), uid_t(uid), gid_t(uid)), 0);
        }
        body(uid);
    }
}

} // namespace

// On a disk that keeps no-replace renames, only the .trashinfo is reserved
// before an item goes to the Trash; a move into a folder reserves nothing.
TEST(KZRemovalKill, AKillBetweenReservingANameAndTheMoveLeavesNothingThatHoldsTheName)
{
    kztest::TempDir d;
    asEachUser(d.path(), [&](int uid) {
        const fs::path root = d / ("root" + std::to_string(uid));
        fs::create_directories(root);
        if (uid >= 0) {
            ASSERT_EQ(::lchown(root.c_str(), uid_t(uid), gid_t(uid)), 0);
        }
        {
            SCOPED_TRACE("to the Trash");
            EXPECT_EQ(killAtEveryReservation(root, d.path(), homeTrash(), false, uid), 2) << "one .trashinfo an item";
        }
        {
            SCOPED_TRACE("into a folder");
            EXPECT_EQ(killAtEveryReservation(root, d.path(), homeTrash(), true, uid), 0);
        }
    });
}

// exFAT has neither the no-replace rename nor hard links: the Trash
// reserves each item's .trashinfo and then its name in files/ with an empty
// file, a move into a folder its name there, and a Restore the item's old
// name.
TEST(KZRemovalKill, AKillBetweenReservingANameAndTheMoveOnExfatLeavesNothingThatHoldsTheName)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to attach and mount a disk";
    kztest::TempDir d;
    const auto outcome = kztest::runWithPrivateMounts([&] {
        asEachUser(d.path(), [&](int uid) {
            const fs::path folder = d / ("exfat" + std::to_string(uid));
            fs::create_directories(folder);
            ExfatDisk disk(folder, uid < 0 ? "" : "uid=" + std::to_string(uid) + ",gid=" + std::to_string(uid));
            if (!disk.mounted)
                ::_exit(77);
            const fs::path trash = disk.at / (".Trash-" + std::to_string(uid < 0 ? ::getuid() : uid_t(uid)));
            {
                SCOPED_TRACE("to the Trash");
                EXPECT_EQ(killAtEveryReservation(disk.at, d.path(), trash, false, uid), 4)
                    << "a .trashinfo and a name in files/ an item";
            }
            {
                SCOPED_TRACE("into a folder");
                EXPECT_EQ(killAtEveryReservation(disk.at, d.path(), trash, true, uid), 2) << "one name an item";
            }
            {
                SCOPED_TRACE("a Restore");
                killRestoreAtItsReservation(disk.at, d.path(), trash, uid);
            }
        });
    });
    if (outcome == kztest::Isolated::Unavailable)
        GTEST_SKIP() << "exFAT could not be made or mounted through FUSE here (install exfat-fuse, exfatprogs)";
    EXPECT_EQ(outcome, kztest::Isolated::Passed);
}

// A bind mount shows the temporary disk under another mount, so the items
// go to the Trash at the mount's top, the user's own .Trash-<uid>: a kill
// right after each reserved name and right after each move, as the user
// running the tests and as an ordinary user, leaves the next start of that
// user nothing that holds a name and Restore exactly what moved.
TEST(KZRemovalKill, AKillAfterEachReservationAndEachMoveIntoABindMountsOwnTrashLeavesRestoreExactlyWhatMoved)
{
    kztest::TempDir d;
    const auto outcome = kztest::runWithPrivateMounts([&] {
        asEachUser(d.path(), [&](int uid) {
            const fs::path source = d / ("source" + std::to_string(uid));
            const fs::path bound = d / ("bound" + std::to_string(uid));
            fs::create_directories(source);
            fs::create_directories(bound);
            if (uid >= 0) {
                ASSERT_EQ(::lchown(source.c_str(), uid_t(uid), gid_t(uid)), 0);
            }
            kztest::bindMount(source, bound);
            const fs::path trash = bound / (".Trash-" + std::to_string(uid < 0 ? ::getuid() : uid_t(uid)));
            {
                SCOPED_TRACE("killed after each reserved name");
                EXPECT_EQ(killAtEveryReservation(bound, d.path(), trash, false, uid), 4)
                    << "a .trashinfo in the home Trash, which refuses the move, then one in the mount's own, an item";
            }
            {
                SCOPED_TRACE("killed after each move");
                killAfterEveryMove(bound, d.path(), trash, uid, 2);
            }
        });
    });
    if (outcome == kztest::Isolated::Unavailable)
        GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(outcome, kztest::Isolated::Passed);
}
