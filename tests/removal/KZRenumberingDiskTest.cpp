// The usual USB stick numbers its files anew each time it is mounted
// (exFAT, vfat, most FUSE file systems): unplugged and plugged back,
// touching nothing, its items stand where they were under other numbers.
// The removal's check, Undo of a move and of a copy, and Restore prove
// them there by all but their number; an item that cannot be proved that
// way is said not to be checked, never changed, and its undo stays. A
// stranger at the place (another size, date or kind) is refused all the
// same.

#include "FuseMounts.h"
#include "RemovalTestSupport.h"

#include "platform/NotificationCenter.h"
#include "platform/StringTable.h"
#include "removal/KZRestoreRemovedFiles.h"
#include "removal/KZUndoFile.h"
#include "result/model/KZListNotifications.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <mutex>
#include <set>

using namespace removaltest;
using namespace Qt::StringLiterals;

namespace {

using kztest::FuseKind;

constexpr int kUnavailable = 77;

// A fresh stick of `kind` at `folder`/mnt, inside the case's private mount
// namespace, that can be unplugged and plugged back at the same place.
struct Stick {
    kztest::FuseStick disk;
    const fs::path at;

    Stick(FuseKind kind, const fs::path& folder, const std::string& mountOptions = {})
        : disk(kind, folder, mountOptions)
        , at(disk.at())
    {
        if (!disk.made())
            ::_exit(kUnavailable);
    }
    // Unplugged and plugged back, nothing touched; the files it had seen
    // are looked up in another order first, so that their numbers differ
    // from the ones they had, as a user's replug gives.
    void replug()
    {
        std::vector<fs::path> seen;
        for (const auto& entry : fs::recursive_directory_iterator(at))
            seen.push_back(entry.path());
        std::sort(seen.begin(), seen.end());
        // A bookmark being made holds its folder a moment.
        KZFoundItemFactsQueue().waitUntilAllOperationsAreFinished();
        ASSERT_TRUE(disk.unplug()) << std::strerror(errno);
        ASSERT_TRUE(disk.plugIn());
        std::for_each(seen.rbegin(), seen.rend(), [](const fs::path& path) { platform::statPath(path, false); });
    }
};

void runOn(FuseKind kind, const std::function<void(const fs::path& folder)>& body)
{
    SCOPED_TRACE(kztest::nameOf(kind));
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to attach and mount disks";
    emptyTrash();
    kztest::TempDir d;
    const auto outcome = kztest::runWithPrivateMounts([&] { body(d.path()); });
    if (outcome == kztest::Isolated::Unavailable) {
        std::fprintf(stderr, "%s could not be made or mounted here (install exfat-fuse, exfatprogs, fusefat)\n",
                     kztest::nameOf(kind));
        return;
    }
    EXPECT_EQ(outcome, kztest::Isolated::Passed);
}

void forBothKinds(const std::function<void(FuseKind, const fs::path& folder)>& body)
{
    for (const FuseKind kind : {FuseKind::Exfat, FuseKind::Vfat})
        runOn(kind, [&](const fs::path& folder) { body(kind, folder); });
}

quint64 inodeOf(const fs::path& path)
{
    const auto st = platform::statPath(path, false);
    return st ? st->inode : 0;
}

// Items as the result window shows them: each with its bookmark, made
// while the search's disk was mounted.
KZFoundItemArray shownItems(Fixture& f, const std::vector<std::pair<std::string, qint64>>& relGroups)
{
    const KZFoundItemArray items = f.items(relGroups);
    for (const KZFoundItemRef& item : items) {
        item->setAliasAlreadyCreated(true);
        item->createAlias();
    }
    return items;
}

// The result's items that Restore and Undo name as back, while it lives.
class NamedBack
{
public:
    std::set<KZFoundItem*> all()
    {
        std::lock_guard guard(lock_);
        return named_;
    }

private:
    std::mutex lock_;
    std::set<KZFoundItem*> named_;
    platform::Subscription told_ = platform::NotificationCenter::defaultCenter().addObserver(
        KZNotification::itemsWereRestored, platform::bundleIdentifier(), [this](const platform::Notification& note) {
            std::lock_guard guard(lock_);
            for (const KZFoundItemRef& item : KZFoundItemsOfVariant(note.userInfo.value(u"removedItems"_s)))
                named_.insert(item.get());
        });
};

// Three items of two groups on the disk at `at` trashed from a result and
// put back by Restore, or moved into a folder and put back by Undo, with
// the stick replugged between or not:
// every one is named back to the result, which takes it into its list
// again, as from the home folder's disk. `replug` is empty there.
void namedBackToTheResult(const fs::path& at, const std::function<void()>& replug)
{
    for (const bool byUndo : {false, true}) {
        for (const bool replugged : {false, true}) {
            if (replugged && !replug)
                continue;
            SCOPED_TRACE(std::string(byUndo ? "Undo" : "Restore") + (replugged ? " after a replug" : ""));
            emptyTrash();
            const fs::path top = at / (std::string(byUndo ? "u" : "r") + (replugged ? "p" : ""));
            for (const char* name : {"keep", "t", "dest"})
                fs::create_directories(top / name);
            for (const char* name : {"keep/x", "t/x", "t/x2", "keep/y", "t/y"})
                std::ofstream(top / name) << "same bytes";
            Fixture f;
            const auto items = shownItems(f,
                                          {{(top / "keep/x").native(), 1},
                                           {(top / "t/x").native(), 1},
                                           {(top / "t/x2").native(), 1},
                                           {(top / "keep/y").native(), 2},
                                           {(top / "t/y").native(), 2}});
            f.panel->isMoveToTrash = !byUndo;
            f.panel->urlToMove = top / "dest";
            auto engine = f.engine({items[1], items[2], items[4]}, items);
            engine->doMove();
            ASSERT_EQ(engine->tally().done(), 3u);
            if (replugged) {
                replug();
                ASSERT_FALSE(::testing::Test::HasFatalFailure());
            }
            NamedBack told;
            KZRestoreRemovedFiles& restore = KZRestoreRemovedFiles::sharedControl();
            if (byUndo)
                restore.undoMove({engine->standardUndo(), {}, {}});
            else
                restore.restoreItemsOfFile(KZUndoFile::list(homeTrash()), {});
            restore.waitUntilIdle();
            for (const char* name : {"t/x", "t/x2", "t/y"})
                EXPECT_EQ(kztest::readFile(top / name), "same bytes") << name;
            EXPECT_EQ(told.all(), (std::set<KZFoundItem*>{items[1].get(), items[2].get(), items[4].get()}));
        }
    }
    emptyTrash();
}

} // namespace

// Searched, replugged, removed to the Trash: the items go. Replugged again,
// Restore brings them back at the first asking, not taken for gone, and a
// folder trashed before the first replug with them: under its Trash name,
// whose .trashinfo names its old place.
TEST(KZRenumberingDisk, AnItemIsTrashedAndRestoredAfterAReplug)
{
    forBothKinds([](FuseKind kind, const fs::path& folder) {
        Stick stick(kind, folder);
        const fs::path at = stick.at;
        Fixture f;
        fs::create_directories(at / "keep");
        fs::create_directories(at / "t");
        for (const char* name : {"keep/x", "t/x", "t/y", "keep/y"})
            std::ofstream(at / name) << "same bytes";
        const auto items = shownItems(f,
                                      {{(at / "keep/x").native(), 1},
                                       {(at / "t/x").native(), 1},
                                       {(at / "keep/y").native(), 2},
                                       {(at / "t/y").native(), 2}});
        // A folder, trashed before the replug as the disk's own driver
        // trashes it. fusefat moves no folder without replacing (EPERM):
        // there no folder goes or comes back.
        const bool withFolder = kind == FuseKind::Exfat;
        if (withFolder) {
            fs::create_directories(at / "t/d");
            std::ofstream(at / "t/d/f") << "same bytes";
            const fs::path trash = at / (".Trash-" + std::to_string(::getuid()));
            fs::create_directories(trash / "files");
            fs::create_directories(trash / "info");
            std::ofstream(trash / "info/d.trashinfo") << "[Trash Info]\nPath=t/d\nDeletionDate=2026-01-01T10:00:00\n";
            fs::rename(at / "t/d", trash / "files/d");
            KZPersistentUndoRecord folderRecord;
            folderRecord.oldPosition = at / "t/d";
            folderRecord.currPosition = trash / "files/d";
            folderRecord.device = quint64(platform::statPath(trash / "files/d", false)->device);
            folderRecord.inode = inodeOf(trash / "files/d");
            folderRecord.bookmark = platform::createBookmark(trash / "files/d");
            writeUndoFile({folderRecord}, KZUndoFile::nowSinceReferenceDate() - 60);
        }
        const quint64 before = inodeOf(at / "t/x");
        stick.replug();
        ASSERT_FALSE(::testing::Test::HasFatalFailure());
        if (inodeOf(at / "t/x") == before)
            std::fprintf(stderr, "the replug gave t/x its old number again\n");
        auto engine = f.engine({items[1], items[3]}, items);
        engine->doMove();
        EXPECT_EQ(engine->outcomeOf(items[1]), u"trash"_s);
        EXPECT_EQ(engine->outcomeOf(items[3]), u"trash"_s);
        EXPECT_EQ(engine->tally().changed, 0u);
        EXPECT_FALSE(fs::exists(at / "t/x"));

        stick.replug();
        ASSERT_FALSE(::testing::Test::HasFatalFailure());
        const auto undoFiles = KZUndoFile::list(homeTrash());
        ASSERT_EQ(undoFiles.size(), withFolder ? 2u : 1u);
        const auto back = KZRestoreRemovedFiles().restoreFiles(undoFiles);
        EXPECT_EQ(back.restored, withFolder ? 3u : 2u);
        EXPECT_EQ(back.notRestored.total(), 0u);
        EXPECT_EQ(kztest::readFile(at / "t/x"), "same bytes");
        EXPECT_EQ(kztest::readFile(at / "t/y"), "same bytes");
        if (withFolder) {
            EXPECT_EQ(kztest::readFile(at / "t/d/f"), "same bytes");
        }
        EXPECT_EQ(listedRecords(homeTrash()), 0u);
    });
}

// After the replug, a stranger at an item's place is no item of the search:
// another file of another size, and a folder where a file was, are changed.
// An item whose record carries nothing of its disk (no bookmark was made
// while its disk was mounted), and a folder, whose size and date say
// nothing of it, cannot be proved under another number: they are left
// where they are as not checked, never as changed.
TEST(KZRenumberingDisk, AfterAReplugAStrangerIsChangedAndWhatCannotBeProvedIsNotChecked)
{
    forBothKinds([](FuseKind kind, const fs::path& folder) {
        Stick stick(kind, folder);
        const fs::path at = stick.at;
        Fixture f;
        for (const char* name : {"keep", "t", "t/d", "keep/d"})
            fs::create_directories(at / name);
        for (const char* name : {"keep/x", "t/x", "keep/y", "t/y", "keep/z", "t/z", "t/d/f", "keep/d/f"})
            std::ofstream(at / name) << "same bytes";
        const auto items = shownItems(f,
                                      {{(at / "keep/x").native(), 1},
                                       {(at / "t/x").native(), 1},
                                       {(at / "keep/y").native(), 2},
                                       {(at / "t/y").native(), 2}});
        // Its bookmark never made.
        const auto unshown = f.items({{(at / "keep/z").native(), 3}, {(at / "t/z").native(), 3}});
        for (const KZFoundItemRef& item : unshown)
            item->setAliasAlreadyCreated(true);
        const auto folders = modeltest::makeItems({{.path = at / "keep/d", .group = 4, .isDirectory = true},
                                                   {.path = at / "t/d", .group = 4, .isDirectory = true}});
        for (const KZFoundItemRef& item : folders) {
            item->setAliasAlreadyCreated(true);
            item->createAlias();
        }
        stick.replug();
        ASSERT_FALSE(::testing::Test::HasFatalFailure());
        std::ofstream(at / "t/x", std::ios::trunc) << "other bytes, more of them";
        fs::remove(at / "t/y");
        fs::create_directories(at / "t/y");
        KZFoundItemArray all = items;
        all.append(unshown);
        all.append(folders);
        auto engine = f.engine({items[1], items[3], unshown[1], folders[1]}, all);
        engine->doMove();
        EXPECT_EQ(engine->outcomeOf(items[1]), u"changed"_s);
        EXPECT_EQ(engine->outcomeOf(items[3]), u"changed"_s);
        EXPECT_EQ(engine->outcomeOf(unshown[1]), u"not_checked"_s);
        EXPECT_EQ(engine->outcomeOf(folders[1]), u"not_checked"_s);
        EXPECT_EQ(engine->tally().changed, 2u);
        EXPECT_EQ(engine->tally().notChecked, 2u);
        EXPECT_EQ(engine->tally().done(), 0u);
        for (const char* name : {"t/x", "t/y", "t/z", "t/d/f"})
            EXPECT_TRUE(fs::exists(at / name)) << name;
        bool toldNotChecked = false;
        for (const KZRemove::Alert& alert : engine->errorAlerts())
            toldNotChecked = toldNotChecked || alert.key == u"not_checked_plur"_s;
        EXPECT_TRUE(toldNotChecked);
        EXPECT_FALSE(platform::localizedString(u"not_checked_plur"_s, u"Errors"_s).isEmpty());
    });
}

// Moved into a folder on the stick, replugged: Undo puts the items back.
// A stranger where one was put (another size) is not proved the item: it
// stays where it is, and so does its undo.
TEST(KZRenumberingDisk, AMoveOnTheStickIsUndoneAfterAReplug)
{
    forBothKinds([](FuseKind kind, const fs::path& folder) {
        Stick stick(kind, folder);
        const fs::path at = stick.at;
        Fixture f;
        for (const char* name : {"keep", "t", "dest"})
            fs::create_directories(at / name);
        for (const char* name : {"keep/x", "t/x", "keep/y", "t/y"})
            std::ofstream(at / name) << "same bytes";
        const auto items = shownItems(f,
                                      {{(at / "keep/x").native(), 1},
                                       {(at / "t/x").native(), 1},
                                       {(at / "keep/y").native(), 2},
                                       {(at / "t/y").native(), 2}});
        f.panel->isMoveToTrash = false;
        f.panel->urlToMove = at / "dest";
        auto engine = f.engine({items[1], items[3]}, items);
        engine->doMove();
        ASSERT_EQ(engine->standardUndo().size(), 2u);
        stick.replug();
        ASSERT_FALSE(::testing::Test::HasFatalFailure());
        std::ofstream(at / "dest/y", std::ios::trunc) << "a stranger of another size";

        const auto undone = KZRestoreRemovedFiles().doUndoMove({engine->standardUndo(), {}, {}});
        EXPECT_EQ(undone.restored, 1u);
        EXPECT_EQ(kztest::readFile(at / "t/x"), "same bytes");
        EXPECT_FALSE(fs::exists(at / "dest/x"));
        EXPECT_EQ(undone.notRestored.unproved, 1u);
        const auto waiting = waitingUndo(undone.kept.standardUndo);
        ASSERT_EQ(waiting.size(), 1u) << "the undo of what was not proved stays";
        EXPECT_EQ(waiting[0].currPosition, at / "dest/y");
        EXPECT_FALSE(fs::exists(at / "t/y"));
        EXPECT_EQ(kztest::readFile(at / "dest/y"), "a stranger of another size");
    });
}

// fusefat stamps a moved file with the time of the move, and vfat keeps
// dates in steps of two seconds: files written a step before their move
// come back by Undo, one right after its move, the other after a replug.
TEST(KZRenumberingDisk, AMoveAfterTheWritesDateIsUndone)
{
    runOn(FuseKind::Vfat, [](const fs::path& folder) {
        Stick stick(FuseKind::Vfat, folder);
        const fs::path at = stick.at;
        Fixture f;
        for (const char* name : {"keep", "t", "dest"})
            fs::create_directories(at / name);
        for (const char* name : {"keep/x", "t/x", "keep/y", "t/y"})
            std::ofstream(at / name) << "same bytes";
        const auto items = shownItems(f,
                                      {{(at / "keep/x").native(), 1},
                                       {(at / "t/x").native(), 1},
                                       {(at / "keep/y").native(), 2},
                                       {(at / "t/y").native(), 2}});
        const auto written = platform::statPath(at / "t/x", false)->modified;
        ASSERT_TRUE(kztest::waitUntil([&] { return std::time(nullptr) >= written.tv_sec + 2; }, std::chrono::seconds(5)));
        f.panel->isMoveToTrash = false;
        f.panel->urlToMove = at / "dest";
        auto first = f.engine({items[1]}, items);
        first->doMove();
        auto second = f.engine({items[3]}, items);
        second->doMove();
        ASSERT_EQ(first->standardUndo().size(), 1u);
        ASSERT_EQ(second->standardUndo().size(), 1u);
        if (platform::statPath(at / "dest/x", false)->modified.tv_sec == written.tv_sec)
            std::fprintf(stderr, "the move kept the file's date here\n");

        const auto undone = KZRestoreRemovedFiles().doUndoMove({first->standardUndo(), {}, {}});
        EXPECT_EQ(undone.restored, 1u);
        EXPECT_EQ(undone.notRestored.total(), 0u);
        EXPECT_EQ(kztest::readFile(at / "t/x"), "same bytes");
        stick.replug();
        ASSERT_FALSE(::testing::Test::HasFatalFailure());
        // The move back falls in a later step than the move.
        const auto moved = platform::statPath(at / "dest/y", false)->modified;
        ASSERT_TRUE(kztest::waitUntil([&] { return std::time(nullptr) >= moved.tv_sec + 2; }, std::chrono::seconds(5)));
        const auto undoneLater = KZRestoreRemovedFiles().doUndoMove({second->standardUndo(), {}, {}});
        EXPECT_EQ(undoneLater.restored, 1u);
        EXPECT_EQ(undoneLater.notRestored.total(), 0u);
        expectNothingLeftToUndo(undoneLater);
        // fusefat stamps the file it moves back too: a further Undo still
        // finds it back by the date it was given there.
        const auto again = KZRestoreRemovedFiles().doUndoMove(undoneLater.kept);
        EXPECT_EQ(again.alreadyBack, undoneLater.kept.standardUndo.size());
        EXPECT_EQ(again.notRestored.total(), 0u);
        EXPECT_EQ(kztest::readFile(at / "t/y"), "same bytes");
        EXPECT_FALSE(fs::exists(at / "dest/y"));
    });
}

// Moved from another disk onto the stick, which copies them (their
// originals stay), replugged: Undo deletes the copies, each still exactly
// what was made. A copy edited since, and a folder put at a copy's place,
// are kept.
TEST(KZRenumberingDisk, CopiesOntoTheStickAreUndoneAfterAReplug)
{
    runOn(FuseKind::Exfat, [](const fs::path& folder) {
        Stick stick(FuseKind::Exfat, folder);
        const fs::path at = stick.at;
        Fixture f;
        fs::create_directories(at / "dest");
        const auto items = f.items(
            {{"k/x", 1}, {"a/x", 1}, {"k/y", 2}, {"a/y", 2}, {"k/z", 3}, {"a/z", 3}, {"k/w", 6}, {"a/w", 6}});
        (void)f.items({{"k/d/f", 4}, {"a/d/f", 4}});
        const auto folderItems = modeltest::makeItems({{.path = f.dir / "k/d", .group = 5, .isDirectory = true},
                                                       {.path = f.dir / "a/d", .group = 5, .isDirectory = true}});
        KZFoundItemArray all = items;
        all.append(folderItems);
        f.panel->isMoveToTrash = false;
        f.panel->urlToMove = at / "dest";
        auto engine = f.engine({items[1], items[3], items[5], items[7], folderItems[1]}, all);
        engine->doMove();
        EXPECT_EQ(engine->tally().copied, 5u);
        std::vector<KZUndoMovedItem> undo = engine->standardUndo();
        ASSERT_EQ(undo.size(), 5u);
        stick.replug();
        ASSERT_FALSE(::testing::Test::HasFatalFailure());
        // One record as one written before copies kept their disk: under
        // other numbers nothing tells that the stick holds the copy. Of x
        // and w, one the replug gave another number.
        fs::path unproved;
        for (KZUndoMovedItem& record : undo)
            if (unproved.empty() && (record.currPosition == at / "dest/w" || record.currPosition == at / "dest/x")
                && record.copyIdentity && record.copyIdentity->nodes.front().inode != inodeOf(record.currPosition)) {
                record.copyIdentity->disk.reset();
                unproved = record.currPosition;
            }
        if (unproved.empty())
            std::fprintf(stderr, "the replug gave x and w their old numbers again\n");
        const fs::path proved = unproved == at / "dest/x" ? at / "dest/w" : at / "dest/x";
        // Edited in place; made a folder.
        std::ofstream(at / "dest/y", std::ios::trunc) << "edited on the stick";
        fs::remove(at / "dest/z");
        fs::create_directories(at / "dest/z");

        const auto undone = KZRestoreRemovedFiles().doUndoMove({undo, {}, {}});
        EXPECT_FALSE(fs::exists(proved)) << "the copy is gone";
        EXPECT_FALSE(fs::exists(at / "dest/d")) << "the folder's copy is gone";
        EXPECT_EQ(kztest::readFile(at / "dest/y"), "edited on the stick");
        EXPECT_TRUE(fs::is_directory(at / "dest/z"));
        std::set<fs::path> kept;
        for (const KZUndoMovedItem& record : waitingUndo(undone.kept.standardUndo))
            kept.insert(record.currPosition);
        EXPECT_FALSE(kept.count(proved));
        if (!unproved.empty()) {
            EXPECT_EQ(kztest::readFile(unproved), "same bytes");
            EXPECT_TRUE(kept.count(unproved)) << "the undo of a copy not proved stays";
            EXPECT_EQ(undone.notRestored.copiesUnproved, 2u) << "it and the copy edited since";
        }
        // The folder at z's place: the copy gone from the stick, or, where
        // nothing tells the stick from a copy of it (no serial), not found
        // on a disk that may be a copy.
        EXPECT_EQ(undone.notRestored.copyKept + undone.notRestored.gone + undone.notRestored.unproved
                      + undone.notRestored.possibleCopy,
                  unproved.empty() ? 2u : 3u);
        for (const char* name : {"a/x", "a/y", "a/z", "a/w", "a/d/f"})
            EXPECT_EQ(kztest::readFile(f.dir / name), "same bytes") << name;
    });
}

// Trashed, replugged, and the item in the Trash replaced by another of
// another size under its Trash name: Restore puts nothing back, and the
// record stays.
TEST(KZRenumberingDisk, AStrangerInTheTrashIsNotRestoredAfterAReplug)
{
    forBothKinds([](FuseKind kind, const fs::path& folder) {
        Stick stick(kind, folder);
        const fs::path at = stick.at;
        Fixture f;
        fs::create_directories(at / "keep");
        fs::create_directories(at / "t");
        for (const char* name : {"keep/x", "t/x"})
            std::ofstream(at / name) << "same bytes";
        const auto items = shownItems(f, {{(at / "keep/x").native(), 1}, {(at / "t/x").native(), 1}});
        auto engine = f.engine({items[1]}, items);
        engine->doMove();
        ASSERT_EQ(engine->outcomeOf(items[1]), u"trash"_s);
        const fs::path trashed = at / (".Trash-" + std::to_string(::getuid())) / "files/x";
        ASSERT_TRUE(fs::exists(trashed));
        stick.replug();
        ASSERT_FALSE(::testing::Test::HasFatalFailure());
        std::ofstream(trashed, std::ios::trunc) << "another item, another size";

        const auto undoFiles = KZUndoFile::list(homeTrash());
        ASSERT_EQ(undoFiles.size(), 1u);
        const auto back = KZRestoreRemovedFiles().restoreFiles(undoFiles);
        EXPECT_EQ(back.restored, 0u);
        EXPECT_FALSE(fs::exists(at / "t/x"));
        EXPECT_EQ(kztest::readFile(trashed), "another item, another size");
        ASSERT_EQ(KZUndoFile::list(homeTrash()).size(), 1u);
        const auto contents = KZUndoFile::read(KZUndoFile::list(homeTrash())[0]);
        ASSERT_TRUE(contents);
        EXPECT_EQ(contents->entries.size(), 1u) << "the record stays";
    });
}

namespace {

// Runs each step as uid 65534, with a home folder of its own, in one
// child, and replugs the stick as root between two steps: what the user
// found before a replug is what the user acts on after it.
void acrossReplugsAsOrdinaryUser(const fs::path& folder, Stick& stick, const std::vector<std::function<void()>>& steps)
{
    const uid_t user = 65534;
    const fs::path home = folder / "home";
    fs::create_directories(home);
    ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
    ASSERT_EQ(::lchown(home.c_str(), user, user), 0);
    int toParent[2];
    int toChild[2];
    ASSERT_EQ(::pipe(toParent), 0);
    ASSERT_EQ(::pipe(toChild), 0);
    std::fflush(stdout);
    const int failuresBefore = kztest::failuresOfCurrentTest();
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(toParent[0]);
        ::close(toChild[1]);
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid_t(user)) != 0 || ::setuid(user) != 0)
            ::_exit(10);
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (home / ".local/share").c_str(), 1);
        for (size_t i = 0; i < steps.size(); ++i) {
            if (i > 0) {
                KZFoundItemFactsQueue().waitUntilAllOperationsAreFinished();
                char go = 1;
                if (::write(toParent[1], &go, 1) != 1 || ::read(toChild[0], &go, 1) != 1)
                    ::_exit(11);
            }
            kztest::runInChild(steps[i]);
        }
        std::fflush(stdout);
        ::_exit(kztest::failuresOfCurrentTest() > failuresBefore ? 1 : 0);
    }
    ::close(toParent[1]);
    ::close(toChild[0]);
    char go = 0;
    while (::read(toParent[0], &go, 1) == 1) {
        stick.replug();
        go = 1;
        EXPECT_EQ(::write(toChild[1], &go, 1), 1);
    }
    ::close(toParent[0]);
    ::close(toChild[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the ordinary user's steps failed";
}

} // namespace

// The user's own stick, mounted for them: searched, replugged, trashed and
// moved by the user, who cannot open the stick's device; replugged again,
// Restore and Undo put every item back.
TEST(KZRenumberingDisk, AnOrdinaryUserRemovesAndRestoresAfterAReplug)
{
    runOn(FuseKind::Exfat, [](const fs::path& folder) {
        Stick stick(FuseKind::Exfat, folder, "uid=65534,gid=65534");
        const fs::path at = stick.at;
        std::unique_ptr<Fixture> f;
        KZFoundItemArray items;
        std::vector<KZUndoMovedItem> moved;
        acrossReplugsAsOrdinaryUser(folder, stick,
                                    {[&] {
                                         f = std::make_unique<Fixture>();
                                         for (const char* name : {"keep", "t", "m", "dest"})
                                             fs::create_directories(at / name);
                                         for (const char* name : {"keep/x", "t/x", "keep/y", "m/y"})
                                             std::ofstream(at / name) << "same bytes";
                                         items = shownItems(*f,
                                                            {{(at / "keep/x").native(), 1},
                                                             {(at / "t/x").native(), 1},
                                                             {(at / "keep/y").native(), 2},
                                                             {(at / "m/y").native(), 2}});
                                     },
                                     [&] {
                                         auto trash = f->engine({items[1]}, items);
                                         trash->doMove();
                                         EXPECT_EQ(trash->outcomeOf(items[1]), u"trash"_s);
                                         f->panel->isMoveToTrash = false;
                                         f->panel->urlToMove = at / "dest";
                                         auto move = f->engine({items[3]}, items);
                                         move->doMove();
                                         EXPECT_EQ(move->outcomeOf(items[3]), u"moved"_s);
                                         moved = move->standardUndo();
                                         EXPECT_EQ(moved.size(), 1u);
                                     },
                                     [&] {
                                         const auto undoFiles = KZUndoFile::list(homeTrash());
                                         ASSERT_EQ(undoFiles.size(), 1u);
                                         const auto back = KZRestoreRemovedFiles().restoreFiles(undoFiles);
                                         EXPECT_EQ(back.restored, 1u);
                                         EXPECT_EQ(back.notRestored.total(), 0u);
                                         EXPECT_EQ(kztest::readFile(at / "t/x"), "same bytes");
                                         const auto undone = KZRestoreRemovedFiles().doUndoMove({moved, {}, {}});
                                         EXPECT_EQ(undone.restored, 1u);
                                         expectNothingLeftToUndo(undone);
                                         EXPECT_EQ(kztest::readFile(at / "m/y"), "same bytes");
                                     }});
    });
}

namespace {

// What a kill leaves of a Restore: thrown from its step hook right after
// its `steps`-th change, it unwinds before the undo file is rewritten.
struct KilledHere {};

// Three items of the stick, t/a, t/b and t/c, each with a kept copy in
// keep/, as the result window shows them; trashed by a removal once the
// stick was plugged back (its files written in an earlier session).
void writeThree(const fs::path& at, std::unique_ptr<Fixture>& f)
{
    f = std::make_unique<Fixture>();
    fs::create_directories(at / "keep");
    fs::create_directories(at / "t");
    for (const char* name : {"a", "b", "c"}) {
        std::ofstream(at / "keep" / name) << "bytes of " << name;
        std::ofstream(at / "t" / name) << "bytes of " << name;
    }
}

void trashThree(const fs::path& at, Fixture& f, KZFoundItemArray& items)
{
    std::vector<std::pair<std::string, qint64>> groups;
    qint64 group = 0;
    for (const char* name : {"a", "b", "c"}) {
        groups.push_back({(at / "keep" / name).native(), ++group});
        groups.push_back({(at / "t" / name).native(), group});
    }
    items = shownItems(f, groups);
    auto engine = f.engine({items[1], items[3], items[5]}, items);
    engine->doMove();
    for (int i : {1, 3, 5})
        EXPECT_EQ(engine->outcomeOf(items[i]), u"trash"_s);
}

// A Restore killed right after its last move back: the items lie at their
// places, their .trashinfo files and their records still there.
void restoreKilledAfterItsLastMove(const fs::path& at)
{
    KZRestoreRemovedFiles::setRestoreStepHook([steps = 0]() mutable {
        if (++steps == 3)
            throw KilledHere{};
    });
    bool killed = false;
    try {
        KZRestoreRemovedFiles().restoreFiles(KZUndoFile::list(homeTrash()));
    } catch (const KilledHere&) {
        killed = true;
    }
    KZRestoreRemovedFiles::setRestoreStepHook({});
    EXPECT_TRUE(killed);
    for (const char* name : {"a", "b", "c"})
        EXPECT_TRUE(fs::exists(at / "t" / name)) << name;
}

// The next Restore: every item back at its place is counted back, never
// gone, and nothing of it stays (record, .trashinfo).
void nextRestoreFindsThemBack(const fs::path& at)
{
    const fs::path trash = at / (".Trash-" + std::to_string(::getuid()));
    EXPECT_EQ(entriesBesideUndoFiles(trash, "info"), 3u) << "the kill left each item's .trashinfo";
    const auto next = KZRestoreRemovedFiles().restoreFiles(KZUndoFile::list(homeTrash()));
    EXPECT_EQ(next.restored, 3u);
    EXPECT_EQ(next.notRestored.gone, 0u);
    EXPECT_EQ(next.notRestored.total(), 0u) << next.notRestored.reasonKey().toStdString();
    EXPECT_EQ(listedRecords(homeTrash()), 0u);
    // Kept, unlisted, only for the disk itself where the stick may be a copy.
    EXPECT_EQ(KZUndoFile::list(homeTrash()).empty(), next.onPossibleCopy == 0);
    EXPECT_EQ(entriesBesideUndoFiles(trash, "info"), 0u);
    for (const char* name : {"a", "b", "c"})
        EXPECT_EQ(kztest::readFile(at / "t" / name), std::string("bytes of ") + name);
}

} // namespace

// Trashed on the stick, the stick replugged, a Restore killed after its
// last move back; with or without another replug, the next Restore proves
// each item back at its place by all but its number, with the .trashinfo
// the kill left naming that place: counted back, never gone, and its
// .trashinfo and record go. By root, and by the ordinary user who owns the
// stick and cannot open its device.
TEST(KZRenumberingDisk, ItemsAKilledRestorePutBackAfterAReplugAreBack)
{
    struct Case {
        FuseKind kind;
        bool ordinaryUser;
        bool replugAfterKill;
    };
    for (const Case& c : {Case{FuseKind::Exfat, false, false}, Case{FuseKind::Exfat, false, true},
                          Case{FuseKind::Vfat, false, false}, Case{FuseKind::Vfat, false, true},
                          Case{FuseKind::Exfat, true, false}, Case{FuseKind::Exfat, true, true}}) {
        SCOPED_TRACE(std::string(c.ordinaryUser ? "as uid 65534" : "as root")
                     + (c.replugAfterKill ? ", replugged after the kill" : ""));
        runOn(c.kind, [&c](const fs::path& folder) {
            Stick stick(c.kind, folder, c.ordinaryUser ? "uid=65534,gid=65534" : "");
            const fs::path at = stick.at;
            std::unique_ptr<Fixture> f;
            KZFoundItemArray items;
            const std::vector<std::function<void()>> steps = {
                [&] { writeThree(at, f); },
                [&] { trashThree(at, *f, items); },
                [&] { restoreKilledAfterItsLastMove(at); },
                [&] { nextRestoreFindsThemBack(at); },
            };
            if (c.ordinaryUser) {
                // Replugged between each step; after the kill only when asked.
                std::vector<std::function<void()>> user = {steps[0], steps[1], steps[2]};
                if (c.replugAfterKill)
                    user.push_back(steps[3]);
                else
                    user[2] = [&] {
                        restoreKilledAfterItsLastMove(at);
                        nextRestoreFindsThemBack(at);
                    };
                acrossReplugsAsOrdinaryUser(folder, stick, user);
                return;
            }
            for (size_t i = 0; i < steps.size(); ++i) {
                steps[i]();
                if (i + 1 < steps.size() && (i != 2 || c.replugAfterKill)) {
                    stick.replug();
                    ASSERT_FALSE(::testing::Test::HasFatalFailure());
                }
            }
        });
    }
}

// Items put back by Restore or Undo on a stick come back into the open
// result, replugged meanwhile or not, as they do on the home folder's disk:
// the result's items are found by this removal's own record of them,
// whatever number the stick gives them now.
TEST(KZRenumberingDisk, ItemsPutBackComeBackIntoTheOpenResult)
{
    forBothKinds([](FuseKind kind, const fs::path& folder) {
        Stick stick(kind, folder);
        namedBackToTheResult(stick.at, [&stick] { stick.replug(); });
    });
    kztest::UserFolder home;
    namedBackToTheResult(home.path(), {});
}
