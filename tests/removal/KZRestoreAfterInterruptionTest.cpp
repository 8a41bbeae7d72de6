// What Restore finds after the things a user's machine does to it: a disk
// unplugged, a process killed part-way through a restore, a removal killed
// right after a move into a mount's own Trash.

#include "RemovalTestSupport.h"

#include "platform/Bookmark.h"
#include "removal/KZRemovalJournal.h"
#include "removal/KZRestoreList.h"
#include "removal/KZRestoreRemovedFiles.h"
#include "removal/KZUndoFile.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

using namespace removaltest;

namespace {

// What a removal writes before it moves the item.
KZPersistentUndoRecord intentFor(const fs::path& item)
{
    KZPersistentUndoRecord intent;
    intent.oldPosition = item;
    if (const auto st = platform::statPath(item, false)) {
        intent.device = quint64(st->device);
        intent.inode = st->inode;
    }
    return intent;
}

// The journal a removal killed right after its intents leaves, written as
// the removal writes it: a forked child must not start the journal's thread.
fs::path writeKilledJournal(const std::vector<KZPersistentUndoRecord>& intents)
{
    fs::create_directories(homeTrash() / "files");
    const fs::path journal = homeTrash() / "files" / (std::string(KZRemovalJournal::namePrefix) + "42.000000");
    std::ofstream out(journal);
    out << "maravex-removal-journal 1\n";
    for (const auto& intent : intents)
        out << "intent\t" << platform::encodeTrashPath(intent.oldPosition.native()) << '\t' << intent.device << '\t'
            << intent.inode << "\t0\t0\t0\n";
    return journal;
}

void makeOld(const fs::path& path)
{
    timespec times[2] = {{0, UTIME_OMIT}, {std::time(nullptr) - 3600, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

std::size_t entriesOf(const fs::path& undoFile)
{
    const auto contents = KZUndoFile::read(undoFile);
    return contents ? contents->entries.size() : 0;
}

std::vector<fs::path> oldPositionsIn(const std::vector<fs::path>& undoFiles)
{
    std::vector<fs::path> places;
    for (const fs::path& file : undoFiles)
        if (const auto contents = KZUndoFile::read(file))
            for (const auto& entry : contents->entries)
                places.push_back(entry.oldPosition);
    std::sort(places.begin(), places.end());
    return places;
}

// A trash at the top of a "volume" folder, as another disk has it, with
// `name` moved into it from `volume`.
fs::path trashOnVolume(const fs::path& volume, const std::string& name)
{
    const fs::path trash = volume / (".Trash-" + std::to_string(::getuid()));
    for (const fs::path& dir : {trash, trash / "files", trash / "info"}) {
        fs::create_directories(dir);
        fs::permissions(dir, fs::perms::owner_all);
    }
    EXPECT_TRUE(platform::createTrashInfo(trash, name, volume / name));
    fs::rename(volume / name, trash / "files" / name);
    return trash / "files" / name;
}

KZPersistentUndoRecord recordOf(const fs::path& oldPosition, const fs::path& trashed)
{
    KZPersistentUndoRecord record;
    record.oldPosition = oldPosition;
    record.currPosition = trashed;
    record.bookmark = platform::createBookmark(trashed);
    return record;
}

} // namespace

// An unplugged disk takes its Trash along: Restore keeps the record of what
// lies there, says that its disk is not connected, and puts it back once
// the disk is there again.
TEST(KZRestoreAfterInterruption, AnUnpluggedDiskKeepsItsRecordsUntilItIsBack)
{
    emptyTrash();
    kztest::TempDir d;
    const fs::path onDisk = d.write("usb/photo.jpg", "on the disk");
    const fs::path onHome = d.write("home/notes.txt", "at home");
    const auto home = trashWithIdentity(onHome);
    const auto disk = recordOf(onDisk, trashOnVolume(d / "usb", "photo.jpg"));
    const fs::path file = writeUndoFile({home, disk}, 500.0);

    fs::rename(d / "usb", d / "unplugged");
    KZRestoreRemovedFiles restore;
    const auto first = restore.restoreFiles({file});
    EXPECT_EQ(first.restored, 1u);
    EXPECT_EQ(first.notRestored.disconnected, 1u);
    EXPECT_EQ(first.notRestored.gone, 0u) << "never told as taken out of the Trash";
    {
        ScopedAlerts alerts;
        KZRestoreRemovedFiles::tellOutcome(first.restored, first.notRestored.total(), first.notRestored.reasonKey(),
                                           true);
        ASSERT_EQ(alerts.shown(), 1u);
        const QString why = alerts.presenter->calls.at(0).alert.informativeText;
        EXPECT_TRUE(why.contains(QStringLiteral("disk that is not connected"))) << why.toStdString();
    }
    EXPECT_EQ(kztest::readFile(onHome), "at home");
    ASSERT_TRUE(fs::exists(file)) << "the record of what is on the disk stays";
    EXPECT_EQ(entriesOf(file), 1u);
    KZRestoreList list(homeTrash());
    list.permanentItems();
    ASSERT_EQ(list.rows().size(), 1u);
    EXPECT_TRUE(list.rows()[0].name.startsWith(QStringLiteral("1 item trashed at ")));

    fs::rename(d / "unplugged", d / "usb");
    const auto second = restore.restoreFiles({file});
    EXPECT_EQ(second.restored, 1u);
    EXPECT_EQ(second.notRestored.total(), 0u);
    EXPECT_EQ(kztest::readFile(onDisk), "on the disk");
    EXPECT_FALSE(fs::exists(file));
}

// The same with a real second file system: unmounted, and with another one
// mounted over its place.
TEST(KZRestoreAfterInterruption, AnUnmountedFileSystemKeepsItsRecordsUntilItIsMountedAgain)
{
    emptyTrash();
    kztest::TempDir d;
    const auto outcome = kztest::runWithPrivateMounts([&] {
        const fs::path disk = d / "disk";
        kztest::mountTmpfs(disk);
        const fs::path clip = d.write("disk/clip.mov", "clip");
        const auto record = trashWithIdentity(clip);
        ASSERT_NE(record.currPosition.parent_path(), homeTrash() / "files") << "it stays on its own disk";
        const fs::path file = writeUndoFile({record}, 500.0);
        KZRestoreRemovedFiles restore;

        kztest::mountTmpfs(disk); // another disk in its place, with no such Trash
        auto result = restore.restoreFiles({file});
        EXPECT_EQ(result.notRestored.disconnected, 1u);
        EXPECT_EQ(entriesOf(file), 1u);
        ASSERT_EQ(unplug(disk), 0) << std::strerror(errno);
        result = restore.restoreFiles({file});
        EXPECT_EQ(result.restored, 1u);
        EXPECT_EQ(kztest::readFile(clip), "clip");
        EXPECT_FALSE(fs::exists(file));

        const fs::path song = d.write("disk/song.flac", "song");
        const fs::path second = writeUndoFile({trashWithIdentity(song)}, 600.0);
        ASSERT_EQ(::umount2(disk.c_str(), MNT_DETACH), 0); // unplugged: nothing is mounted there now
        result = restore.restoreFiles({second});
        EXPECT_EQ(result.notRestored.disconnected, 1u);
        EXPECT_EQ(entriesOf(second), 1u);
    });
    if (outcome == kztest::Isolated::Unavailable)
        GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(outcome, kztest::Isolated::Passed);
}

// A restore killed part-way moved some items back and never rewrote its
// file: the next restore counts those as put back, not as taken out of the
// Trash, and takes away the .trashinfo the kill left (which the sweep of
// the next start leaves). An item emptied from
// the Trash whose old place holds another file is still gone.
TEST(KZRestoreAfterInterruption, ItemsAKilledRestorePutBackCountAsRestored)
{
    emptyTrash();
    kztest::TempDir d;
    const auto a = trashWithIdentity(d.write("src/a", "A"));
    const auto b = trashWithIdentity(d.write("src/b", "B"));
    const auto c = trashWithIdentity(d.write("src/c", "C"));
    const auto emptied = trashWithIdentity(d.write("src/emptied", "E"));
    const fs::path file = writeUndoFile({a, b, c, emptied}, 500.0);

    // The disk as the kill left it: a back with its .trashinfo still there,
    // b back and its .trashinfo gone, c not reached yet.
    fs::rename(a.currPosition, a.oldPosition);
    ASSERT_TRUE(platform::restoreFromTrash(b.currPosition, b.oldPosition));
    fs::remove(emptied.currPosition);
    KZUndoFile::removeTrashInfoOf(emptied.currPosition);
    d.write("src/emptied", "a new file of the user");
    // The next start's sweep of the Trash keeps the .trashinfo that proves
    // a back on a disk without birth times, however old.
    const fs::path infoOfA = homeTrash() / "info" / (a.currPosition.filename().native() + ".trashinfo");
    makeOld(infoOfA);
    KZRemovalJournal::recoverInterrupted(homeTrash());
    EXPECT_TRUE(fs::exists(infoOfA));

    KZRestoreRemovedFiles restore;
    const auto result = restore.restoreFiles({file});
    EXPECT_EQ(result.restored, 3u);
    EXPECT_EQ(result.notRestored.gone, 1u);
    EXPECT_EQ(result.notRestored.total(), 1u);
    EXPECT_EQ(kztest::readFile(a.oldPosition), "A");
    EXPECT_EQ(kztest::readFile(c.oldPosition), "C");
    EXPECT_EQ(kztest::readFile(d / "src/emptied"), "a new file of the user");
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(fs::is_empty(homeTrash() / "info")) << "nothing is left to say an item is in the Trash";
}

// A Restore killed after it rewrote its undo file, before it took away the
// .trashinfo files of what it put back, left what its journal announced:
// the next start takes the .trashinfo of each announced item back at its
// place that the file no longer lists, and the temporary file of an
// announced rewrite; an item the file still lists keeps its .trashinfo for
// the next Restore, and nothing the journal did not announce is touched.
TEST(KZRestoreAfterInterruption, TheNextStartFinishesWhatAKilledRestoreAnnounced)
{
    emptyTrash();
    kztest::TempDir d;
    const auto gone = trashWithIdentity(d.write("src/gone", "G"));     // back, no longer listed
    const auto listed = trashWithIdentity(d.write("src/listed", "L")); // back, still listed
    const auto quiet = trashWithIdentity(d.write("src/quiet", "Q"));   // back, never announced
    const auto moved = trashWithIdentity(d.write("src/moved", "M"));   // announced, taken elsewhere since
    const fs::path file = writeUndoFile({gone, listed, quiet, moved}, 500.0);
    const auto contents = KZUndoFile::read(file);
    ASSERT_TRUE(contents);
    const fs::path announcedTemporary = homeTrash() / ".Maravex4-rewrite_Ab12Cd";
    const fs::path otherTemporary = homeTrash() / ".Maravex4-rewrite_Xy34Zw";
    {
        auto journal = KZRemovalJournal::begin();
        ASSERT_TRUE(journal);
        for (const auto* record : {&gone, &listed, &moved})
            journal->restoring(file.filename().native(), record->bookmark, record->oldPosition);
        journal->rewriting(announcedTemporary);
        journal->rewriting(d / "not-in-the-trash"); // never taken: not a rewrite's place
        // Killed: the journal stays, unfinished.
    }
    for (const auto* record : {&gone, &listed, &quiet, &moved})
        fs::rename(record->currPosition, record->oldPosition);
    fs::rename(moved.oldPosition, d / "elsewhere");
    std::vector<KZUndoFile::Entry> keep;
    for (const auto& entry : contents->entries)
        if (entry.oldPosition == listed.oldPosition)
            keep.push_back(entry);
    ASSERT_TRUE(KZUndoFile::rewrite(file, contents->rootData, keep));
    std::ofstream(announcedTemporary) << "<?xml";
    std::ofstream(otherTemporary) << "<?xml";
    d.write("not-in-the-trash", "the user's");

    const auto infoOf = [](const KZPersistentUndoRecord& record) {
        return homeTrash() / "info" / (record.currPosition.filename().native() + ".trashinfo");
    };
    KZRemovalJournal::recoverInterrupted(homeTrash());
    EXPECT_TRUE(KZRemovalJournal::list(homeTrash()).empty());
    EXPECT_FALSE(fs::exists(infoOf(gone)));
    EXPECT_TRUE(fs::exists(infoOf(listed))) << "what tells the next Restore that the item left";
    EXPECT_TRUE(fs::exists(infoOf(quiet))) << "never announced";
    EXPECT_TRUE(fs::exists(infoOf(moved))) << "not proved back";
    EXPECT_FALSE(fs::exists(announcedTemporary));
    EXPECT_TRUE(fs::exists(otherTemporary)) << "young, unannounced: a rewrite may be under way";
    EXPECT_EQ(kztest::readFile(d / "not-in-the-trash"), "the user's");

    const auto result = KZRestoreRemovedFiles().restoreFiles({file});
    EXPECT_EQ(result.restored, 1u);
    EXPECT_EQ(result.notRestored.total(), 0u);
    EXPECT_FALSE(fs::exists(infoOf(listed)));
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(KZRemovalJournal::list(homeTrash()).empty()) << "a Restore that ends takes its journal along";
}

// A name is an undo file's only when it is the prefix and a moment; what a
// rewrite leaves while it runs, or when killed, never lists as one, and
// recovery takes it away once it is old enough not to be a rewrite under way.
TEST(KZRestoreAfterInterruption, WhatAKilledRewriteLeavesIsNeverListed)
{
    for (const char* name : {".Maravex4_", ".Maravex4_123.456000", ".Maravex4_-5", ".Maravex4_7"})
        EXPECT_TRUE(KZUndoFile::isUndoFileName(name)) << name;
    for (const char* name : {"..Maravex4_1.000000.tmp-Ab12Cd", ".Maravex4_1.5.tmp-abc", "x.Maravex4_1", ".Maravex4_abc",
                             ".Maravex4_1.2.3", ".Maravex4-journal_1.000000"})
        EXPECT_FALSE(KZUndoFile::isUndoFileName(name)) << name;

    emptyTrash();
    kztest::TempDir d;
    const auto a = trashWithIdentity(d.write("src/a", "A"));
    const auto b = trashWithIdentity(d.write("src/b", "B"));
    const fs::path file = writeUndoFile({a, b}, 500.0);
    auto contents = KZUndoFile::read(file);
    ASSERT_TRUE(contents);

    // While the rewrite runs, the listing sees the one file; the kill that
    // would strike now leaves the temporary file behind (kept by a link).
    fs::path left;
    const bool rewritten = KZUndoFile::rewrite(
        file, {}, {contents->entries[1]}, nullptr, [&](const fs::path& temporary) {
            EXPECT_EQ(KZUndoFile::list(homeTrash()), std::vector<fs::path>{file});
            EXPECT_NE(temporary.parent_path(), homeTrash() / "files");
            left = temporary.native() + "k";
            ASSERT_EQ(::link(temporary.c_str(), left.c_str()), 0);
        });
    ASSERT_TRUE(rewritten);
    EXPECT_EQ(entriesOf(file), 1u);

    // What earlier versions left inside files/ when killed mid-rewrite.
    const fs::path whole = trashFiles() / ("." + file.filename().string() + ".tmp-Ab12Cd");
    const fs::path half = trashFiles() / ("." + file.filename().string() + ".tmp-Xy34Zw");
    fs::copy_file(file, whole);
    {
        std::ofstream(half) << "<?xml version=\"1.0\"?><plist><dict><key>undo";
    }

    EXPECT_EQ(KZUndoFile::list(homeTrash()), std::vector<fs::path>{file});
    KZRestoreList list(homeTrash());
    list.permanentItems();
    ASSERT_EQ(list.rows().size(), 1u) << "no phantom row";
    EXPECT_EQ(list.rows()[0].path, file);
    EXPECT_TRUE(fs::exists(left)) << "young: a rewrite may be under way";
    for (const fs::path& leftover : {left, whole, half})
        makeOld(leftover);

    KZRemovalJournal::recoverInterrupted(homeTrash());
    for (const fs::path& leftover : {left, whole, half})
        EXPECT_FALSE(fs::exists(leftover)) << leftover;
    EXPECT_EQ(entriesOf(file), 1u);

    // With only leftovers in the Trash, nothing offers Restore.
    KZRestoreRemovedFiles().restoreFiles({file});
    EXPECT_FALSE(fs::exists(file));
    std::ofstream(half) << "half";
    EXPECT_FALSE(KZRestoreList::areTherePermanentFiles(homeTrash()));
}

// A bind mount of the home file system has the home trash's device, so the
// home trash is tried first, and the item lands in the Trash at the top of
// its own mount. A removal killed right after that move still leaves
// Restore the item.
TEST(KZRestoreAfterInterruption, AKillAfterAMoveIntoABindMountsOwnTrashStillListsTheItem)
{
    emptyTrash();
    kztest::TempDir d;
    d.write("source/x.txt", "bound");
    const auto outcome = kztest::runWithPrivateMounts([&] {
        const fs::path bound = d / "bound";
        kztest::bindMount(d / "source", bound);
        const fs::path item = bound / "x.txt";
        writeKilledJournal({intentFor(item)});
        const auto moved = platform::moveToTrash(item);
        ASSERT_TRUE(moved);
        const fs::path trashed = *moved; // killed before the entry: the journal stays as it is
        ASSERT_EQ(trashed.parent_path().parent_path(), bound / (".Trash-" + std::to_string(::getuid())));

        EXPECT_EQ(KZRemovalJournal::recoverInterrupted(homeTrash()), 1);
        EXPECT_TRUE(KZRemovalJournal::list(homeTrash()).empty());
        const auto files = KZUndoFile::list(homeTrash());
        ASSERT_EQ(files.size(), 1u);
        EXPECT_EQ(oldPositionsIn(files), std::vector<fs::path>{item});
        const auto result = KZRestoreRemovedFiles().restoreFiles(files);
        EXPECT_EQ(result.restored, 1u);
        EXPECT_EQ(kztest::readFile(item), "bound");
    });
    if (outcome == kztest::Isolated::Unavailable)
        GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(outcome, kztest::Isolated::Passed);
}

// An intended item that left its place and is in no trash (its disk was
// unplugged before the next start) keeps the journal. Each fold lists only
// what no earlier fold did, also once that list has been restored and is
// gone, and the journal goes when its last item is found.
TEST(KZRestoreAfterInterruption, AJournalStaysUntilEveryIntendedItemIsFoundAndListsEachOnce)
{
    emptyTrash();
    kztest::TempDir d;
    const fs::path recorded = d.write("src/recorded", "R");
    const fs::path found = d.write("src/found", "F");
    const fs::path away = d.write("disk/away", "W");
    {
        auto journal = KZRemovalJournal::begin();
        ASSERT_TRUE(journal);
        for (const fs::path& item : {recorded, found, away})
            journal->intend(intentFor(item));
        journal->append(trashWithIdentity(recorded));
        trashWithIdentity(found);
        fs::rename(trashWithIdentity(away).currPosition, d / "unplugged");
        KZUndoFile::removeTrashInfoOf(homeTrash() / "files/away");
        // Its disk goes with the folder it was in.
        fs::rename(d / "disk", d / "disk unplugged");
    } // killed

    EXPECT_EQ(KZRemovalJournal::recoverInterrupted(homeTrash()), 1);
    auto files = KZUndoFile::list(homeTrash());
    EXPECT_EQ(oldPositionsIn(files), (std::vector<fs::path>{found, recorded}));
    const auto journals = KZRemovalJournal::list(homeTrash());
    ASSERT_EQ(journals.size(), 1u) << "the journal is all that says where the third item went";
    EXPECT_TRUE(KZRemovalJournal::isWaiting(journals[0]));

    EXPECT_EQ(KZRemovalJournal::recoverInterrupted(homeTrash()), 0) << "nothing new to list";
    EXPECT_EQ(KZRestoreRemovedFiles().restoreFiles(files).restored, 2u);
    EXPECT_TRUE(KZUndoFile::list(homeTrash()).empty());
    EXPECT_EQ(KZRemovalJournal::recoverInterrupted(homeTrash()), 0) << "what was restored is never listed again";
    EXPECT_TRUE(KZUndoFile::list(homeTrash()).empty());
    EXPECT_FALSE(KZRestoreList::areTherePermanentFiles(homeTrash())) << "a waiting journal offers nothing";

    // Its disk is back: the item lies in the Trash it went to.
    fs::create_directories(trashFiles());
    fs::rename(d / "disk unplugged", d / "disk");
    ASSERT_TRUE(platform::createTrashInfo(homeTrash(), "away", away));
    fs::rename(d / "unplugged", trashFiles() / "away");
    EXPECT_EQ(KZRemovalJournal::recoverInterrupted(homeTrash()), 1);
    files = KZUndoFile::list(homeTrash());
    EXPECT_EQ(oldPositionsIn(files), std::vector<fs::path>{away});
    EXPECT_TRUE(KZRemovalJournal::list(homeTrash()).empty());
    EXPECT_EQ(KZRestoreRemovedFiles().restoreFiles(files).restored, 1u);
    EXPECT_EQ(kztest::readFile(away), "W");
}

// An ordinary user's journal that cannot be opened for writing (root opens
// anything) cannot record what a fold listed: it is folded once and goes, as
// a journal always did, so that no later fold lists its items twice.
TEST(KZRestoreAfterInterruption, AJournalThatCannotBeWrittenToIsFoldedOnceAndGoes)
{
    kztest::UserFolder d;
    ::chmod(d.path().c_str(), 0777);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(10);
        ::setenv("XDG_DATA_HOME", (d / "data").c_str(), 1);
        const fs::path moved = d.write("mine/moved", "M");
        const fs::path away = d.write("mine/away", "W");
        const fs::path journalPath = writeKilledJournal({intentFor(moved), intentFor(away)});
        if (!platform::moveToTrash(moved))
            ::_exit(12);
        fs::rename(away, d / "unplugged"); // then killed
        ::chmod(journalPath.c_str(), 0400);
        if (KZRemovalJournal::recoverInterrupted(homeTrash()) != 1)
            ::_exit(13);
        if (!KZRemovalJournal::list(homeTrash()).empty())
            ::_exit(14);
        if (KZRemovalJournal::recoverInterrupted(homeTrash()) != 0)
            ::_exit(15);
        if (oldPositionsIn(KZUndoFile::list(homeTrash())) != std::vector<fs::path>{moved})
            ::_exit(16);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
