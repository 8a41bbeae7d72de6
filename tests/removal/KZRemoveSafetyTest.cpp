// What the engine does when the tree changed between the search and the
// removal: every case here once lost or misreported a file.

#include "RemovalTestSupport.h"

#include "removal/KZCopyIdentity.h"
#include "removal/KZRemovalJournal.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <functional>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace removaltest;
using namespace Qt::StringLiterals;

namespace {

void keepTimes(const fs::path& path, const std::function<void()>& change)
{
    const auto st = platform::statPath(path, false);
    change();
    const timespec times[2] = {st->accessed, st->modified};
    ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

void answerDeleteAll(Fixture& f)
{
    f.fs->local = [](const fs::path&) { return std::optional<bool>(false); };
    f.alerts.presenter->script = [](const KZAlertPresenter::Alert&) {
        return KZAlertPresenter::Answer{KZAlertPresenter::SecondButton};
    };
}

QStringList alertKeys(const KZRemove& engine)
{
    QStringList keys;
    for (const auto& alert : engine.errorAlerts())
        keys << alert.key;
    return keys;
}

} // namespace

// ---- Folders are compared by their time, and by their whole content before a deletion ---------------

TEST(KZRemoveSafety, AFolderWithAnEntryAddedSinceTheSearchIsChangedNotTrashed)
{
    emptyTrash();
    Fixture f;
    f.dir.write("d/x", "1");
    f.dir.write("k/x", "1");
    const auto all = f.items({{"d", 1}, {"k", 1}});
    f.panel->itemsArefiles = false;
    f.dir.write("d/added later", "mine");
    auto engine = f.engine({all[0]}, all);
    engine->doMove();
    EXPECT_EQ(kztest::readFile(f.dir / "d/added later"), "mine");
    EXPECT_EQ(engine->tally().changed, 1u);
    EXPECT_EQ(engine->outcomeOf(all[0]), u"changed"_s);
    EXPECT_TRUE(engine->persistentUndo().empty());
}

TEST(KZRemoveSafety, APermanentDeletionComparesTheWholeFolderWithItsKeptTwin)
{
    struct Case {
        const char* what;
        std::function<void(const fs::path& item, const fs::path& kept)> change;
        bool deleted;
    };
    const Case cases[] = {
        {"unchanged", [](const fs::path&, const fs::path&) {}, true},
        // Deep inside: the top folder's time does not move.
        {"file edited deep inside",
         [](const fs::path& item, const fs::path&) {
             keepTimes(item / "sub/y", [&] { kztest::TempDir().write("n", ""); std::ofstream(item / "sub/y") << "2"; });
         },
         false},
        {"file added deep inside",
         [](const fs::path& item, const fs::path&) {
             keepTimes(item / "sub", [&] { std::ofstream(item / "sub/new") << "mine"; });
         },
         false},
        {"kept twin emptied",
         [](const fs::path&, const fs::path& kept) {
             keepTimes(kept / "sub", [&] { fs::remove(kept / "sub/y"); });
         },
         false},
    };
    for (const Case& c : cases) {
        Fixture f;
        f.dir.write("d/x", "1");
        f.dir.write("d/sub/y", "1");
        f.dir.write("k/x", "1");
        f.dir.write("k/sub/y", "1");
        const auto all = f.items({{"d", 1}, {"k", 1}});
        f.panel->itemsArefiles = false;
        answerDeleteAll(f);
        c.change(f.dir / "d", f.dir / "k");
        auto engine = f.engine({all[0]}, all);
        engine->doMove();
        EXPECT_EQ(!fs::exists(f.dir / "d"), c.deleted) << c.what;
        EXPECT_EQ(engine->tally().deleted, c.deleted ? 1u : 0u) << c.what;
        if (!c.deleted) {
            EXPECT_EQ(engine->outcomeOf(all[0]), u"last_member"_s) << c.what;
            EXPECT_TRUE(fs::exists(f.dir / "d/sub/y")) << c.what;
        }
    }
}

// ---- A parent folder swapped for a link between the check and the act ---------------------------------

TEST(KZRemoveSafety, AParentSwappedForALinkNeverRedirectsTheAct)
{
    for (const char* op : {"trash", "move", "delete", "copy"}) {
        emptyTrash();
        Fixture f;
        f.setLevel(0);
        const auto all = f.items({{"d/x", 1}, {"k/x", 1}});
        f.dir.write("other/x", "another folder's file");
        const quint64 inode = platform::statPath(f.dir / "d/x", false)->inode;
        const fs::path dest = f.dir.mkdir("dest");
        const std::string step = op;
        f.panel->isMoveToTrash = step == "trash" || step == "delete";
        f.panel->urlToMove = dest;
        if (step == "delete")
            answerDeleteAll(f);
        if (step == "copy")
            f.fs->before = [&](const std::string& o, const fs::path&) { return o == "move" ? EXDEV : 0; };
        auto inject = f.fs->before;
        f.fs->before = [&, inject](const std::string& o, const fs::path& path) {
            if (o == (step == "copy" ? "copy" : step) && path == f.dir / "d/x") {
                fs::rename(f.dir / "d", f.dir / "d.aside");
                fs::create_directory_symlink(f.dir / "other", f.dir / "d");
            }
            return inject(o, path);
        };
        auto engine = f.engine({all[0]}, all);
        engine->doMove();
        EXPECT_EQ(kztest::readFile(f.dir / "other/x"), "another folder's file") << op;
        if (step == "trash") {
            ASSERT_EQ(engine->persistentUndo().size(), 1u);
            EXPECT_EQ(engine->persistentUndo()[0].inode, inode);
            EXPECT_FALSE(fs::exists(f.dir / "d.aside/x"));
        } else if (step == "move") {
            EXPECT_EQ(platform::statPath(dest / "x", false)->inode, inode);
        } else if (step == "delete") {
            EXPECT_FALSE(fs::exists(f.dir / "d.aside/x"));
        } else {
            EXPECT_EQ(kztest::readFile(dest / "x"), "same bytes");
            EXPECT_TRUE(fs::exists(f.dir / "d.aside/x"));
        }
    }
}

TEST(KZRemoveSafety, AParentThatIsALinkAtTheCheckLeavesTheItem)
{
    emptyTrash();
    Fixture f;
    f.setLevel(0);
    const auto all = f.items({{"d/x", 1}, {"k/x", 1}});
    f.dir.write("other/x", "same bytes");
    fs::rename(f.dir / "d", f.dir / "d.aside");
    fs::create_directory_symlink(f.dir / "other", f.dir / "d");
    auto engine = f.engine({all[0]}, all);
    engine->doMove();
    EXPECT_TRUE(fs::exists(f.dir / "other/x"));
    EXPECT_TRUE(fs::exists(f.dir / "d.aside/x"));
    // Told as the link it is, not as a change of the item.
    EXPECT_EQ(engine->outcomeOf(all[0]), u"link_in_path"_s);
    EXPECT_EQ(engine->tally().linkInPath, 1u);
    EXPECT_EQ(engine->tally().changed, 0u);
    EXPECT_EQ(alertKeys(*engine), QStringList{u"link_in_path_sing"_s});
}

// Whatever a result says, nothing on the kernel's own file systems is
// trashed, moved, copied or deleted: those "files" are the system's view of
// itself.
TEST(KZRemoveSafety, NothingOnTheKernelsOwnFileSystemsIsRemovedOnAnyJob)
{
    emptyTrash();
    Fixture f;
    f.setLevel(0);
    const fs::path kept = f.dir.write("k/status", "copy");
    const fs::path status = "/proc/" + std::to_string(::getpid()) + "/status";
    const auto items = modeltest::makeItems({{.path = status, .group = 1, .marked = true},
                                             {.path = kept, .group = 1}});
    const fs::path destination = f.dir.mkdir("dest");
    auto engine = f.engine({items[0]}, items);
    engine->moveItems({items[0]}, KZRemove::TrashJob, {});
    engine->moveItems({items[0]}, KZRemove::MoveJob, destination);
    engine->moveItems({items[0]}, KZRemove::CopyJob, destination);
    engine->thereAreShared = true;
    engine->moveItems({items[0]}, KZRemove::TrashJob, {});
    EXPECT_EQ(engine->tally().done(), 0u);
    EXPECT_TRUE(fs::is_empty(destination));
    EXPECT_EQ(engine->outcomeOf(items[0]), u"permission_not_allowed"_s);
    for (const auto& [op, path] : f.fs->calls)
        EXPECT_NE(op, "trash") << path;
}

TEST(KZRemoveSafety, AHardLinkIsMadeAtTheItemsOwnFolderEvenWhenItsPathMoved)
{
    emptyTrash();
    Fixture f;
    const auto all = f.items({{"k/x", 1}, {"d/x", 1}});
    f.dir.write("other/y", "1");
    f.panel->isCreateAlias = true;
    f.panel->mastersAlias = {all[0]};
    f.fs->before = [&](const std::string& op, const fs::path&) {
        if (op == "link") {
            fs::rename(f.dir / "d", f.dir / "d.aside");
            fs::create_directory_symlink(f.dir / "other", f.dir / "d");
        }
        return 0;
    };
    auto engine = f.engine({all[1]}, all);
    engine->doMove();
    EXPECT_FALSE(fs::exists(f.dir / "other/x"));
    EXPECT_EQ(platform::statPath(f.dir / "d.aside/x", false)->inode, platform::statPath(f.dir / "k/x", false)->inode);
}

// The kept copy swapped for other bytes between the last look and the link:
// the item's place must not end up holding a link to them.
TEST(KZRemoveSafety, AKeptCopySwappedJustBeforeTheLinkGetsNoLink)
{
    for (const bool toTrash : {true, false}) {
        SCOPED_TRACE(toTrash ? "trash" : "move");
        emptyTrash();
        Fixture f;
        const auto all = f.items({{"k/x", 1}, {"d/x", 1}});
        f.panel->isMoveToTrash = toTrash;
        f.panel->urlToMove = f.dir.mkdir("dest");
        f.panel->isCreateAlias = true;
        f.panel->mastersAlias = {all[0]};
        f.fs->before = [&](const std::string& op, const fs::path&) {
            if (op == "link") {
                fs::rename(f.dir / "k/x", f.dir / "k/x.kept");
                f.dir.write("k/x", "someone else's bytes");
            }
            return 0;
        };
        auto engine = f.engine({all[1]}, all);
        engine->doMove();
        const auto swapped = platform::statPath(f.dir / "k/x", false);
        ASSERT_TRUE(swapped);
        EXPECT_EQ(swapped->links, 1u) << "nothing links to the bytes swapped in";
        EXPECT_EQ(kztest::readFile(f.dir / "k/x"), "someone else's bytes");
        EXPECT_EQ(engine->tally().linked, 0u);
        // The link is tried before the item leaves: it never went.
        EXPECT_EQ(kztest::readFile(f.dir / "d/x"), "same bytes");
        EXPECT_EQ(engine->tally().linkNotMade, 1u);
        EXPECT_EQ(countIn(f.dir / "d"), 1u) << "no hidden link left beside it";
    }
}

// ---- The kept copy must still be there before every removal job ---------------------------------------

TEST(KZRemoveSafety, AGroupWhoseKeptCopyWentAwayKeepsItsLastMember)
{
    const std::vector<std::pair<const char*, std::function<void(const fs::path&)>>> changes = {
        {"deleted", [](const fs::path& kept) { fs::remove(kept); }},
        {"edited", [](const fs::path& kept) { std::ofstream(kept, std::ios::app) << "edited"; }},
        {"replaced by a link", [](const fs::path& kept) {
             fs::remove(kept);
             fs::create_symlink(kept.parent_path().parent_path() / "d/x", kept);
         }},
    };
    for (const auto& [what, change] : changes) {
        for (const bool toTrash : {true, false}) {
            emptyTrash();
            Fixture f;
            const auto all = f.items({{"k/x", 1}, {"d/x", 1}});
            f.panel->isMoveToTrash = toTrash;
            f.panel->urlToMove = f.dir.mkdir("dest");
            change(f.dir / "k/x");
            auto engine = f.engine({all[1]}, all);
            engine->doMove();
            EXPECT_EQ(kztest::readFile(f.dir / "d/x"), "same bytes") << what << toTrash;
            EXPECT_EQ(engine->outcomeOf(all[1]), u"last_member"_s) << what << toTrash;
            EXPECT_EQ(engine->tally().lastMember, 1u) << what;
            EXPECT_EQ(alertKeys(*engine), QStringList{u"last_member_sing"_s}) << what;
            EXPECT_FALSE(all[1]->isRemoved());
            EXPECT_TRUE(!engine->removedArray() || engine->removedArray()->isEmpty());
        }
    }
}

namespace {
constexpr const char* kBindMountJobVar = "KZ_TEST_BIND_MOUNT_JOB";
} // namespace

// Run by the test below in a fresh process with mounts of its own, once
// per job.
TEST(KZRemoveSafetyInFreshProcess, DISABLED_TheItemSeenThroughABindMountIsNoCopyOfIt)
{
    if (!kztest::inFreshProcess())
        GTEST_SKIP() << "runs only in the process the test below starts";
    const std::string step = std::getenv(kBindMountJobVar);
    emptyTrash();
    Fixture f;
    f.panel->isMoveToTrash = step != "move";
    f.panel->urlToMove = f.dir.mkdir("dest");
    if (step == "delete")
        answerDeleteAll(f);
    f.dir.write("src/a/x", "same bytes");
    f.dir.write("src/a/y", "same bytes");
    fs::create_hard_link(f.dir / "src/a/y", f.dir / "src/a/y-link");
    kztest::bindMount(f.dir / "src/a", f.dir / "src/b");
    const auto all = f.items({{"src/b/x", 1}, {"src/a/x", 1}, {"src/b/y-link", 2}, {"src/a/y", 2}});
    auto engine = f.engine({all[1], all[3]}, all);
    engine->doMove();
    EXPECT_EQ(kztest::readFile(f.dir / "src/a/x"), "same bytes") << "the only copy stays";
    EXPECT_EQ(engine->outcomeOf(all[1]), u"last_member"_s);
    EXPECT_FALSE(all[1]->isRemoved());
    EXPECT_FALSE(fs::exists(f.dir / "src/a/y")) << "its hard link keeps the bytes";
    EXPECT_EQ(kztest::readFile(f.dir / "src/a/y-link"), "same bytes");
    ::umount2((f.dir / "src/b").c_str(), MNT_DETACH);
}

// A bind mount shows a folder at a second place: the item seen there is the
// item itself, no copy that stays, whatever the job. A second name of the
// file (a hard link) is a copy that stays.
TEST(KZRemoveSafety, TheItemSeenThroughABindMountIsNoCopyOfIt)
{
    for (const char* op : {"trash", "move", "delete"}) {
        SCOPED_TRACE(op);
        const auto outcome
            = kztest::runTestInFreshProcess("KZRemoveSafetyInFreshProcess.DISABLED_TheItemSeenThroughABindMountIsNoCopyOfIt",
                                            true, {std::string(kBindMountJobVar) + "=" + op});
        if (outcome == kztest::Isolated::Unavailable)
            GTEST_SKIP() << "no private mount namespace here";
        EXPECT_EQ(outcome, kztest::Isolated::Passed);
    }
}

// The check runs again before each item, so a kept copy that goes while the
// run is under way keeps the group's later items, whatever the job.
TEST(KZRemoveSafety, AKeptCopyThatGoesDuringTheRunKeepsTheItemsNotYetRemoved)
{
    const std::vector<std::pair<const char*, std::function<void(const fs::path&)>>> changes = {
        {"deleted", [](const fs::path& kept) { fs::remove(kept); }},
        {"edited", [](const fs::path& kept) { std::ofstream(kept, std::ios::app) << "edited"; }},
    };
    for (const auto& [what, change] : changes) {
        for (const char* op : {"trash", "move", "delete"}) {
            emptyTrash();
            Fixture f;
            const auto all = f.items({{"k/x", 1}, {"a/x", 1}, {"b/x", 1}});
            const std::string step = op;
            f.panel->isMoveToTrash = step != "move";
            f.panel->urlToMove = f.dir.mkdir("dest");
            f.panel->renameMove = true;
            if (step == "delete")
                answerDeleteAll(f);
            bool changed = false;
            f.fs->before = [&, change](const std::string& o, const fs::path&) {
                if (o == step && !changed) {
                    changed = true;
                    change(f.dir / "k/x");
                }
                return 0;
            };
            auto engine = f.engine({all[1], all[2]}, all);
            engine->doMove();
            SCOPED_TRACE(std::string(what) + " " + op);
            EXPECT_TRUE(changed);
            EXPECT_FALSE(fs::exists(f.dir / "a/x")) << "it had passed its check";
            EXPECT_EQ(kztest::readFile(f.dir / "b/x"), "same bytes");
            EXPECT_EQ(engine->outcomeOf(all[2]), u"last_member"_s);
            EXPECT_EQ(engine->tally().lastMember, 1u);
            EXPECT_FALSE(all[2]->isRemoved());
        }
    }
}

// ---- Hard links that cannot be made -----------------------------------------------------------------

TEST(KZRemoveSafety, ALinkToAChangedKeptCopyIsRefusedAndTheItemStays)
{
    for (const bool toTrash : {true, false}) {
        emptyTrash();
        Fixture f;
        f.setLevel(0); // the kept copy's change alone must keep the item
        const auto all = f.items({{"k/x", 1}, {"d/x", 1}});
        f.panel->isMoveToTrash = toTrash;
        f.panel->urlToMove = f.dir.mkdir("dest");
        f.panel->isCreateAlias = true;
        f.panel->mastersAlias = {all[0]};
        std::ofstream(f.dir / "k/x", std::ios::app) << "edited";
        auto engine = f.engine({all[1]}, all);
        engine->doMove();
        EXPECT_EQ(kztest::readFile(f.dir / "d/x"), "same bytes") << toTrash;
        EXPECT_EQ(platform::statPath(f.dir / "d/x", false)->links, 1u);
        EXPECT_EQ(engine->tally().linkNotMade, 1u);
        EXPECT_EQ(engine->outcomeOf(all[1]), u"link_not_made"_s);
        EXPECT_TRUE(alertKeys(*engine).contains(u"link_not_made_sing"_s));
        EXPECT_FALSE(all[1]->isRemoved());
        EXPECT_TRUE(engine->persistentUndo().empty());
    }
}

// The kept copy may change while the item itself leaves: the link made at
// the freed place must still lead to the copy the search found.
TEST(KZRemoveSafety, AKeptCopyReplacedWhileTheItemLeavesGetsNoLink)
{
    for (const bool toTrash : {true, false}) {
        emptyTrash();
        Fixture f;
        f.setLevel(0);
        const auto all = f.items({{"k/x", 1}, {"d/x", 1}});
        const fs::path kept = f.dir / "k/x";
        const auto keptStat = platform::statPath(kept, false);
        const fs::path dest = f.dir.mkdir("dest");
        f.panel->isMoveToTrash = toTrash;
        f.panel->urlToMove = dest;
        f.panel->isCreateAlias = true;
        f.panel->mastersAlias = {all[0]};
        f.fs->before = [&](const std::string& op, const fs::path&) {
            if (op == (toTrash ? "trash" : "move")) {
                // Another file of the same size and date takes the kept copy's name.
                f.dir.write("k/new", "xxxx bytes");
                timespec times[2] = {keptStat->modified, keptStat->modified};
                ::utimensat(AT_FDCWD, (f.dir / "k/new").c_str(), times, AT_SYMLINK_NOFOLLOW);
                fs::rename(f.dir / "k/new", kept);
            }
            return 0;
        };
        auto engine = f.engine({all[1]}, all);
        engine->doMove();
        const auto there = platform::statPath(f.dir / "d/x", false);
        if (there) {
            EXPECT_EQ(kztest::readFile(f.dir / "d/x"), "same bytes") << toTrash;
        }
        EXPECT_EQ(engine->tally().linked, 0u) << toTrash;
        EXPECT_EQ(engine->tally().linkNotMade, 1u) << toTrash;
        if (toTrash) {
            ASSERT_EQ(engine->persistentUndo().size(), 1u) << "the trashed item keeps its record";
            EXPECT_EQ(kztest::readFile(engine->persistentUndo()[0].currPosition), "same bytes");
        } else {
            EXPECT_TRUE(there) << "the moved item comes back";
            EXPECT_FALSE(all[1]->isRemoved());
        }
    }
}

TEST(KZRemoveSafety, AFolderNeverGetsALinkAttemptAndIsToldSo)
{
    emptyTrash();
    Fixture f;
    f.setLevel(0);
    f.dir.write("d/x", "1");
    f.dir.write("k/x", "1");
    const auto all = f.items({{"k", 1}, {"d", 1}});
    f.panel->itemsArefiles = false;
    f.panel->isCreateAlias = true;
    f.panel->mastersAlias = {all[0]};
    auto engine = f.engine({all[1]}, all);
    engine->doMove();
    for (const auto& [op, path] : f.fs->calls)
        EXPECT_NE(op, "link");
    EXPECT_EQ(f.alerts.shown(), 0u);
    EXPECT_TRUE(fs::exists(f.dir / "d/x"));
    EXPECT_EQ(engine->tally().linkNotMade, 1u);
    EXPECT_EQ(engine->tally().noPermission, 0u);
    EXPECT_EQ(alertKeys(*engine), QStringList{u"link_not_made_sing"_s});
}

// ---- Undo records ------------------------------------------------------------------------------

TEST(KZRemoveSafety, ACopyRecordsWhatItWasWhenMade)
{
    Fixture f;
    const fs::path dest = f.dir.mkdir("dest");
    f.dir.write("a/x/in", "1");
    f.dir.write("k/x/in", "1");
    const auto all = f.items({{"a/x", 1}, {"k/x", 1}});
    f.panel->isMoveToTrash = false;
    f.panel->itemsArefiles = false;
    f.panel->urlToMove = dest;
    f.fs->before = [](const std::string& op, const fs::path&) { return op == "move" ? EXDEV : 0; };
    auto engine = f.engine({all[0]}, all);
    engine->doMove();
    const auto records = engine->standardUndo();
    ASSERT_EQ(records.size(), 1u);
    const auto& record = records[0];
    EXPECT_TRUE(record.isCopy);
    ASSERT_TRUE(record.copyIdentity);
    EXPECT_EQ(record.currPosition, dest / "x");
    EXPECT_TRUE(record.copyIdentity->matches(dest / "x"));
    std::ofstream(dest / "x/added") << "mine";
    EXPECT_FALSE(record.copyIdentity->matches(dest / "x"));
}

TEST(KZRemoveSafety, TheJournalListsEachTrashedItemWhileThePassRuns)
{
    emptyTrash();
    Fixture f;
    f.setLevel(0);
    const auto all = f.items({{"k/x", 1}, {"a/x", 1}, {"b/x", 1}});
    std::vector<std::size_t> seen;
    f.fs->before = [&](const std::string& op, const fs::path&) {
        if (op == "trash") {
            const auto journals = KZRemovalJournal::list(platform::homeTrashDirectory());
            std::size_t entries = 0;
            for (const auto& journal : journals)
                if (const auto contents = KZRemovalJournal::read(journal))
                    entries += contents->records.size();
            seen.push_back(entries);
        }
        return 0;
    };
    auto engine = f.engine({all[1], all[2]}, all);
    engine->doMove();
    // Before the second item moved, the first was on disk in the journal.
    EXPECT_EQ(seen, (std::vector<std::size_t>{0, 1}));
    EXPECT_EQ(engine->persistentUndo().size(), 2u);
}
