#include "RemovalTestSupport.h"
#include "RunConditions.h"

#include "platform/Bookmark.h"
#include "platform/FileIdentity.h"
#include "platform/FolderAttributes.h"
#include "removal/KZRemovalJournal.h"
#include "removal/KZRestoreRemovedFiles.h"
#include "removal/KZUndoFile.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>

using namespace removaltest;

namespace {

bool hasInfo(const fs::path& trashDir, const fs::path& file)
{
    return fs::exists(trashDir / "info" / (file.filename().string() + ".trashinfo"));
}

void makeOld(const fs::path& path)
{
    timespec times[2] = {{0, UTIME_OMIT}, {std::time(nullptr) - 3600, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

// Folds the journal a dead removal left into the one undo file it makes, and
// reads that file.
void recoverTheOneUndoFile(std::vector<fs::path>& files, std::optional<KZUndoFile::Contents>& contents)
{
    EXPECT_EQ(KZRemovalJournal::recoverInterrupted(homeTrash()), 1);
    files = KZUndoFile::list(homeTrash());
    ASSERT_EQ(files.size(), 1u);
    contents = KZUndoFile::read(files[0]);
    ASSERT_TRUE(contents);
}

} // namespace

TEST(KZRemovalJournal, EntriesReadBackAsAppendedAndATornLastLineIsLeftOut)
{
    emptyTrash();
    kztest::TempDir d;
    KZPersistentUndoRecord a;
    a.oldPosition = d / "odd\tname\nwith % and é";
    a.currPosition = homeTrash() / "files/odd";
    a.device = 42;
    a.inode = 1ull << 40;
    a.aliasWasCreated = true;
    a.isiTunesItem = true;
    a.locationLabelTag = 3;
    a.bookmark = QByteArray("\0\1bookmark\n", 11);
    KZPersistentUndoRecord b;
    b.oldPosition = d / "b";
    b.currPosition = homeTrash() / "files/b";

    auto journal = KZRemovalJournal::begin();
    ASSERT_TRUE(journal);
    const fs::path path = journal->path();
    EXPECT_TRUE(hasInfo(homeTrash(), path)) << "emptying the Trash takes it too";
    journal->append(a);
    journal->append(b);
    {
        std::ofstream(path, std::ios::app) << "item\t%2Fhalf";
    }
    auto contents = KZRemovalJournal::read(path);
    ASSERT_TRUE(contents);
    EXPECT_FALSE(contents->finished);
    ASSERT_EQ(contents->records.size(), 2u);
    const auto& r = contents->records[0];
    EXPECT_EQ(r.oldPosition, a.oldPosition);
    EXPECT_EQ(r.currPosition, a.currPosition);
    EXPECT_EQ(r.device, 42u);
    EXPECT_EQ(r.inode, 1ull << 40);
    EXPECT_TRUE(r.aliasWasCreated);
    EXPECT_TRUE(r.isiTunesItem);
    EXPECT_EQ(r.locationLabelTag, 3);
    EXPECT_EQ(r.bookmark, a.bookmark);
    EXPECT_EQ(contents->records[1].oldPosition, b.oldPosition);

    // The undo files are not mistaken for journals, nor the journal for one.
    EXPECT_TRUE(KZUndoFile::list(homeTrash()).empty());
    EXPECT_EQ(KZRemovalJournal::list(homeTrash()), std::vector<fs::path>{path});

    journal->finish(homeTrash() / "files/.Maravex4_1.000000");
    EXPECT_FALSE(fs::exists(path));
    EXPECT_FALSE(hasInfo(homeTrash(), path));
}

TEST(KZRemovalJournal, EntriesThatCouldSendAnItemAnywhereAreLeftOut)
{
    emptyTrash();
    fs::create_directories(homeTrash() / "files");
    const fs::path path = homeTrash() / "files" / (std::string(KZRemovalJournal::namePrefix) + "5.000000");
    std::ofstream(path) << "maravex-removal-journal 1\n"
                        << "item\trelative/path\t/t/files/a\t1\t2\t0\t0\t-1\t\n"
                        << "item\t/a/../etc\t/t/files/a\t1\t2\t0\t0\t-1\t\n"
                        << "item\t/ok\t/t/files/a\tx\t2\t0\t0\t-1\t\n"
                        << "item\t/ok\t/t/files/a\t1\t2\tyes\t0\t-1\t\n"
                        << "item\t/ok\t/t/files/a\t1\t2\t0\t0\t-1\t!!notbase64\n"
                        << "item\t/ok\t/t/files/a\t1\t2\t0\t0\t-1\t\n";
    const auto contents = KZRemovalJournal::read(path);
    ASSERT_TRUE(contents);
    ASSERT_EQ(contents->records.size(), 1u);
    EXPECT_EQ(contents->records[0].oldPosition, fs::path("/ok"));

    // Not a journal at all, or not a regular file: never read, never hangs.
    std::ofstream(homeTrash() / "files/other") << "<plist/>";
    EXPECT_FALSE(KZRemovalJournal::read(homeTrash() / "files/other"));
    const fs::path fifo = homeTrash() / "files" / (std::string(KZRemovalJournal::namePrefix) + "6.000000");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(KZRemovalJournal::read(fifo));
    EXPECT_EQ(KZRemovalJournal::list(homeTrash()), std::vector<fs::path>{path}) << "the pipe is not listed";
}

namespace {
constexpr const char* kKilledFolderVar = "KZ_TEST_KILLED_FOLDER";
} // namespace

// Run by the test below in a fresh process: a removal that moved two items
// and died before its third.
TEST(KZRemovalJournalInFreshProcess, DISABLED_ARemovalDiesPartWay)
{
    if (!kztest::inFreshProcess())
        GTEST_SKIP() << "runs only in the process the test below starts";
    const fs::path src = std::getenv(kKilledFolderVar);
    auto journal = KZRemovalJournal::beginIn(homeTrash(), 777.0);
    if (!journal)
        ::_exit(2);
    journal->append(trashWithIdentity(src / "a.txt"));
    auto withoutBookmark = trashWithIdentity(src / "b.txt");
    withoutBookmark.bookmark.clear(); // the bookmark step failed for this one
    journal->append(withoutBookmark);
    // The next item's .trashinfo was reserved; the process died before its move.
    platform::createTrashInfo(homeTrash(), "never.txt", src / "never.txt");
    ::_exit(0); // no destructor, no finish: as a kill would leave it
}

// A removal killed part-way: what moved is in the Trash, the journal names
// it, and the next start folds it into an undo file that Restore reads.
TEST(KZRemovalJournal, AKilledRemovalLeavesRestoreExactlyWhatMoved)
{
    emptyTrash();
    kztest::TempDir d;
    const fs::path a = d.write("src/a.txt", "A");
    const fs::path b = d.write("src/b.txt", "B");
    const fs::path never = d.write("src/never.txt", "N");

    ASSERT_EQ(kztest::runTestInFreshProcess("KZRemovalJournalInFreshProcess.DISABLED_ARemovalDiesPartWay", false,
                                            {std::string(kKilledFolderVar) + "=" + (d / "src").native()}),
              kztest::Isolated::Passed);
    ASSERT_FALSE(fs::exists(a));
    const fs::path orphanInfo = homeTrash() / "info/never.txt.trashinfo";
    ASSERT_TRUE(fs::exists(orphanInfo));
    ASSERT_EQ(KZRemovalJournal::list(homeTrash()).size(), 1u);

    // A young orphan may be another program's move under way: it stays.
    KZRemovalJournal::removeOrphanTrashInfos(homeTrash());
    EXPECT_TRUE(fs::exists(orphanInfo));
    makeOld(orphanInfo);

    EXPECT_EQ(KZRemovalJournal::recoverInterrupted(homeTrash()), 1);
    EXPECT_TRUE(KZRemovalJournal::list(homeTrash()).empty());
    EXPECT_FALSE(fs::exists(orphanInfo)) << "the move that never happened leaves nothing in the Trash";
    EXPECT_TRUE(fs::exists(never));

    const auto files = KZUndoFile::list(homeTrash());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_DOUBLE_EQ(KZUndoFile::secondsOfFileName(QString::fromStdString(files[0].filename().string())), 777.0);
    const auto contents = KZUndoFile::read(files[0]);
    ASSERT_TRUE(contents);
    ASSERT_EQ(contents->entries.size(), 2u);
    EXPECT_TRUE(contents->entries[0].valid);
    EXPECT_TRUE(contents->entries[1].valid) << "its bookmark was made when it was folded";

    KZRestoreRemovedFiles engine;
    const auto result = engine.restoreFiles(files);
    EXPECT_EQ(result.restored, 2u);
    EXPECT_TRUE(fs::exists(a));
    EXPECT_TRUE(fs::exists(b));
    EXPECT_TRUE(KZUndoFile::list(homeTrash()).empty());
}

namespace {

// Runs the case `name` of this file in a fresh process, on the items in
// `folder`, as on a kernel before 6.8 there too (as kztest::
// BeforeLastingMountIds makes it here): a disk without an identity of its
// own is then, to the other process, only "the disk or a copy".
kztest::Isolated inAnotherProcessBeforeLastingMountIds(const char* name, const fs::path& folder)
{
    const char* run = std::getenv("MARAVEX_TEST_KERNEL");
    return kztest::runTestInFreshProcess(
        std::string("KZRemovalJournalInFreshProcess.") + name, false,
        {std::string(kKilledFolderVar) + "=" + folder.native(),
         std::string("MARAVEX_TEST_KERNEL=") + (run && *run ? std::string(run) + "," : "") + "no-unique-mount-id"});
}

} // namespace

// Run by the test below in a fresh process: a Trash removal killed after it
// reserved its item's Trash name, before its move.
TEST(KZRemovalJournalInFreshProcess, DISABLED_ARemovalDiesBeforeItsMove)
{
    if (!kztest::inFreshProcess())
        GTEST_SKIP() << "runs only in the process the test below starts";
    const fs::path item = fs::path(std::getenv(kKilledFolderVar)) / "x.txt";
    auto journal = KZRemovalJournal::begin();
    const auto st = platform::statPath(item, false);
    if (!journal || !st)
        ::_exit(2);
    KZPersistentUndoRecord intent;
    intent.oldPosition = item;
    intent.device = quint64(st->device);
    intent.inode = st->inode;
    intent.identity = platform::FileIdentity::of(*st, platform::fileSystemOf(item));
    const fs::path info = homeTrash() / "info/x.txt.trashinfo";
    if (!journal->intend(intent) || !platform::createTrashInfo(homeTrash(), "x.txt", item))
        ::_exit(2);
    const auto reservation = platform::FileIdentity::ofPath(info);
    if (!reservation)
        ::_exit(2);
    journal->reserved(info, *reservation);
    ::_exit(0);
}

// That removal's next start sees the disk as only "the disk or a copy" (a
// kernel before 6.8, a disk without an identity of its own), and its journal
// lies in a Trash on that very disk: a copy would hold the journal as it was
// when it was made, so the journal speaks of that disk alone. The item never
// moved: its Trash name goes, and nothing waits.
TEST(KZRemovalJournal, OnADiskThatMayBeACopyItsOwnJournalTellsWhatNeverMoved)
{
    emptyTrash();
    kztest::TempDir d;
    const fs::path item = d.write("src/x.txt", "X");
    kztest::BeforeLastingMountIds before;
    ASSERT_EQ(inAnotherProcessBeforeLastingMountIds("DISABLED_ARemovalDiesBeforeItsMove", d / "src"),
              kztest::Isolated::Passed);
    ASSERT_EQ(KZRemovalJournal::list(homeTrash()).size(), 1u);
    ASSERT_TRUE(fs::exists(homeTrash() / "info/x.txt.trashinfo"));

    KZRemovalJournal::recoverInterrupted(homeTrash());
    EXPECT_TRUE(KZRemovalJournal::list(homeTrash()).empty()) << "nothing waits for another disk";
    EXPECT_FALSE(fs::exists(homeTrash() / "info/x.txt.trashinfo")) << "the name is free for the next removal";
    EXPECT_EQ(kztest::readFile(item), "X");
    EXPECT_TRUE(KZUndoFile::list(homeTrash()).empty());
}

// Run by the test below in a fresh process: an item trashed, and its undo
// file written.
TEST(KZRemovalJournalInFreshProcess, DISABLED_ARemovalTrashesAnItem)
{
    if (!kztest::inFreshProcess())
        GTEST_SKIP() << "runs only in the process the test below starts";
    writeUndoFile({trashWithIdentity(fs::path(std::getenv(kKilledFolderVar)) / "x.txt")}, 777.0);
    ::_exit(::testing::Test::HasFailure() ? 2 : 0);
}

// Restored where its disk is only "the disk or a copy", from an undo file on
// that very disk: the user is told, and no record is kept for the disk
// itself, which would keep the record in its own undo file.
TEST(KZRemovalJournal, ARestoreFromAnUndoFileOnTheItemsOwnDiskKeepsNoRecordForAnother)
{
    emptyTrash();
    kztest::TempDir d;
    const fs::path item = d.write("src/x.txt", "X");
    kztest::BeforeLastingMountIds before;
    ASSERT_EQ(inAnotherProcessBeforeLastingMountIds("DISABLED_ARemovalTrashesAnItem", d / "src"),
              kztest::Isolated::Passed);
    ASSERT_FALSE(fs::exists(item));
    const auto files = KZUndoFile::list(homeTrash());
    ASSERT_EQ(files.size(), 1u);
    const auto contents = KZUndoFile::read(files[0]);
    ASSERT_TRUE(contents && contents->entries.size() == 1);
    const auto target = platform::bookmarkTarget(contents->entries[0].currPosition);
    ASSERT_TRUE(target);
    const fs::path trashFiles = homeTrash() / "files";
    // Where the disk tells itself (an identity of its own, or a mount ID
    // that lasts), the same holds, without the words.
    const bool possibleCopy
        = target->identity.disk().judge(quint64(platform::statPath(trashFiles, false)->device),
                                        platform::fileSystemQueryOf(trashFiles))
          == platform::DiskAnswer::SameOrCopy;

    const auto result = KZRestoreRemovedFiles().restoreFiles(files);
    EXPECT_EQ(result.restored, 1u);
    EXPECT_EQ(result.onPossibleCopy, possibleCopy ? 1u : 0u) << "the user is told";
    EXPECT_EQ(kztest::readFile(item), "X");
    EXPECT_TRUE(KZUndoFile::list(homeTrash()).empty()) << "no hidden record stays in the Trash";
}

// The same, the Trash emptied first: on the disk its undo file lies on, the
// item's absence tells that it went, and the record goes with it.
TEST(KZRemovalJournal, AnItemEmptiedFromTheTrashOfTheUndoFilesOwnDiskIsGone)
{
    emptyTrash();
    kztest::TempDir d;
    d.write("src/x.txt", "X");
    kztest::BeforeLastingMountIds before;
    ASSERT_EQ(inAnotherProcessBeforeLastingMountIds("DISABLED_ARemovalTrashesAnItem", d / "src"),
              kztest::Isolated::Passed);
    ASSERT_TRUE(fs::remove(homeTrash() / "files/x.txt"));
    ASSERT_TRUE(fs::remove(homeTrash() / "info/x.txt.trashinfo"));
    const auto result = KZRestoreRemovedFiles().restoreFiles(KZUndoFile::list(homeTrash()));
    EXPECT_EQ(result.restored, 0u);
    EXPECT_EQ(result.notRestored.gone, 1u) << "taken out of the Trash, or the Trash emptied";
    EXPECT_TRUE(KZUndoFile::list(homeTrash()).empty()) << "nothing stays listed for good";
}

TEST(KZRemovalJournal, AJournalInUseOrFinishedIsNeverFoldedIntoAnUndoFile)
{
    emptyTrash();
    kztest::TempDir d;
    auto live = KZRemovalJournal::begin();
    ASSERT_TRUE(live);
    live->append(trashWithIdentity(d.write("a", "A")));
    EXPECT_EQ(KZRemovalJournal::recoverInterrupted(homeTrash()), 0) << "its removal still runs";
    EXPECT_TRUE(fs::exists(live->path()));
    EXPECT_TRUE(KZUndoFile::list(homeTrash()).empty());

    // The undo file was written and the process died before the journal went.
    const fs::path finished = homeTrash() / "files" / (std::string(KZRemovalJournal::namePrefix) + "9.000000");
    std::ofstream(finished) << "maravex-removal-journal 1\n"
                            << "item\t/x\t/t/files/x\t1\t2\t0\t0\t-1\t\n"
                            << "finished\t.Maravex4_9.000000\n";
    live.reset(); // ended without its undo file: now it is foldable
    EXPECT_EQ(KZRemovalJournal::recoverInterrupted(homeTrash()), 1);
    EXPECT_TRUE(KZRemovalJournal::list(homeTrash()).empty());
    EXPECT_EQ(KZUndoFile::list(homeTrash()).size(), 1u);
}

TEST(KZRemovalJournal, TheFinishedUndoFileTakesTheJournalAwayAndAFailedOneKeepsIt)
{
    emptyTrash();
    kztest::TempDir d;
    auto& engine = KZRestoreRemovedFiles::sharedControl();
    {
        auto journal = KZRemovalJournal::begin();
        ASSERT_TRUE(journal);
        const auto record = trashWithIdentity(d.write("a", "A"));
        journal->append(record);
        const auto written = engine.createPermanentFile({record}, journal.get());
        ASSERT_TRUE(written);
        EXPECT_TRUE(KZRemovalJournal::list(homeTrash()).empty());
    }
    {
        auto journal = KZRemovalJournal::begin();
        ASSERT_TRUE(journal);
        engine.createPermanentFile({}, journal.get());
        EXPECT_TRUE(KZRemovalJournal::list(homeTrash()).empty()) << "nothing moved, nothing to keep";
    }
    if (::geteuid() == 0)
        return;
    {
        ScopedAlerts alerts;
        auto journal = KZRemovalJournal::begin();
        ASSERT_TRUE(journal);
        const auto record = trashWithIdentity(d.write("b", "B"));
        journal->append(record);
        fs::permissions(homeTrash() / "files", fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_FALSE(engine.createPermanentFile({record}, journal.get()));
        fs::permissions(homeTrash() / "files", fs::perms::owner_all);
        EXPECT_EQ(KZRemovalJournal::list(homeTrash()).size(), 1u) << "Restore still finds the item";
    }
}

// Killed after the undo file was written, before the journal said so: the
// next start finds that undo file and writes no second one, and Restore
// puts everything back without a word of failure. Killed while writing it,
// the torn file is replaced by a whole one.
TEST(KZRemovalJournal, AKillAroundTheUndoFileNeverListsAnItemTwice)
{
    for (const bool torn : {false, true}) {
        SCOPED_TRACE(torn ? "torn" : "whole");
        emptyTrash();
        kztest::TempDir d;
        KZRestoreRemovedFiles engine;
        auto journal = KZRemovalJournal::begin();
        ASSERT_TRUE(journal);
        const fs::path path = journal->path();
        // Every line the removal writes, kept past the journal's end.
        const fs::path lines = d / "lines";
        ASSERT_EQ(::link(path.c_str(), lines.c_str()), 0);
        const auto a = trashWithIdentity(d.write("a", "A"));
        const auto b = trashWithIdentity(d.write("b", "B"));
        journal->append(a);
        journal->append(b);
        const auto undoFile = engine.createPermanentFile({a, b}, journal.get());
        ASSERT_TRUE(undoFile);
        journal.reset();
        ASSERT_FALSE(fs::exists(path));

        // The disk as the kill left it: the journal's last line never came.
        std::string text = kztest::readFile(lines);
        const auto last = text.rfind("\nfinished");
        ASSERT_NE(last, std::string::npos);
        text.resize(last + 1);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
        ASSERT_TRUE(platform::createTrashInfo(homeTrash(), path.filename().native(), d / "x"));
        if (torn)
            fs::resize_file(*undoFile, fs::file_size(*undoFile) / 2);

        EXPECT_EQ(KZRemovalJournal::recoverInterrupted(homeTrash()), torn ? 1 : 0);
        EXPECT_TRUE(KZRemovalJournal::list(homeTrash()).empty());
        const auto files = KZUndoFile::list(homeTrash());
        ASSERT_EQ(files.size(), 1u);
        const auto result = engine.restoreFiles(files);
        EXPECT_EQ(result.restored, 2u);
        EXPECT_EQ(result.notRestored.total(), 0u);
        EXPECT_TRUE(fs::exists(d / "a"));
        EXPECT_TRUE(fs::exists(d / "b"));
        EXPECT_TRUE(fs::is_empty(homeTrash() / "files"));
        EXPECT_TRUE(fs::is_empty(homeTrash() / "info"));
    }
}

// What a kill can leave half made in the Trash: an empty .trashinfo (killed
// while creating it), a journal killed at its birth, the .trashinfo of an
// undo file that was never created. Recovery takes each away once it is old
// enough not to be another program's move under way, and leaves what
// describes an item.
TEST(KZRemovalJournal, LeftoversOfAKilledMomentGoOnceOld)
{
    emptyTrash();
    kztest::TempDir d;
    const fs::path files = homeTrash() / "files";
    const fs::path info = homeTrash() / "info";
    fs::create_directories(files);
    fs::create_directories(info);
    const auto empty = [&](const std::string& name) {
        std::ofstream(info / (name + ".trashinfo"));
        return info / (name + ".trashinfo");
    };
    const fs::path emptyInfo = empty("report.pdf");
    const fs::path young = empty("young.txt");
    const fs::path described = empty("described.txt");
    std::ofstream(files / "described.txt") << "an item is there";
    const std::string journalName = std::string(KZRemovalJournal::namePrefix) + "3.000000";
    std::ofstream(files / journalName) << "maravex-remo";
    ASSERT_TRUE(platform::createTrashInfo(homeTrash(), journalName, d / "j"));
    ASSERT_TRUE(platform::createTrashInfo(homeTrash(), ".Maravex4_4.000000", d / "u"));
    for (const fs::path& old : {emptyInfo, described, info / (journalName + ".trashinfo"),
                                info / ".Maravex4_4.000000.trashinfo"})
        makeOld(old);

    EXPECT_EQ(KZRemovalJournal::recoverInterrupted(homeTrash()), 0);
    EXPECT_FALSE(fs::exists(emptyInfo));
    EXPECT_TRUE(fs::exists(young)) << "another program may be writing it right now";
    EXPECT_TRUE(fs::exists(described));
    EXPECT_FALSE(fs::exists(files / journalName));
    EXPECT_FALSE(fs::exists(info / (journalName + ".trashinfo")));
    EXPECT_FALSE(fs::exists(info / ".Maravex4_4.000000.trashinfo"));
    EXPECT_TRUE(KZUndoFile::list(homeTrash()).empty());
}

// Intents without an entry are folded against the Trash itself: only an item
// found there under its recorded identity, with a .trashinfo naming its old
// place, is listed, and an item with an entry is listed once.
TEST(KZRemovalJournal, IntentsListOnlyWhatReallyReachedTheTrash)
{
    emptyTrash();
    kztest::TempDir d;
    const auto intentOf = [](const fs::path& item) {
        KZPersistentUndoRecord intent;
        intent.oldPosition = item;
        const auto st = platform::statPath(item, false);
        intent.device = quint64(st->device);
        intent.inode = st->inode;
        intent.isiTunesItem = true;
        return intent;
    };
    const fs::path moved = d.write("src/x.txt", "moved, no entry");
    const fs::path stayed = d.write("stayed.txt", "never moved");
    const fs::path recorded = d.write("recorded.txt", "moved with its entry");
    const fs::path taken = d.write("taken.txt", "taken out of the Trash since");
    trashWithIdentity(d.write("x.txt", "another x.txt, already in the Trash"));
    {
        auto journal = KZRemovalJournal::begin();
        ASSERT_TRUE(journal);
        for (const fs::path& item : {moved, stayed, recorded, taken})
            journal->intend(intentOf(item));
        EXPECT_EQ(trashWithIdentity(moved).currPosition.filename(), "x.2.txt");
        journal->append(trashWithIdentity(recorded));
        fs::rename(trashWithIdentity(taken).currPosition, d / "taken back");
    } // the removal dies without its undo file

    std::vector<fs::path> files;
    std::optional<KZUndoFile::Contents> contents;
    ASSERT_NO_FATAL_FAILURE(recoverTheOneUndoFile(files, contents));
    std::vector<fs::path> listed;
    for (const auto& entry : contents->entries)
        listed.push_back(entry.oldPosition);
    EXPECT_EQ(listed, (std::vector<fs::path>{recorded, moved}));
    EXPECT_TRUE(contents->entries[1].isiTunesItem) << "what the intent said is kept";
    EXPECT_EQ(KZRestoreRemovedFiles().restoreFiles(files).restored, 1u) << "the other one is a music track";
    EXPECT_EQ(kztest::readFile(moved), "moved, no entry");
}

// A name is bytes: one that is no UTF-8 passes through the journal, its
// folding into an undo file and the restore under the very same bytes,
// whether it was journalled as moved or only as about to move.
TEST(KZRemovalJournal, NamesThatAreNotUtf8SurviveTheJournalAndItsFolding)
{
    emptyTrash();
    kztest::TempDir d;
    const fs::path recorded = d.write(std::string("caf\xe9 \xff.txt"), "recorded");
    const fs::path intended = d.write(std::string("\xe9t\xe9/\xfe\xfd"), "only intended");
    {
        auto journal = KZRemovalJournal::begin();
        ASSERT_TRUE(journal);
        KZPersistentUndoRecord intent;
        intent.oldPosition = intended;
        const auto st = platform::statPath(intended, false);
        ASSERT_TRUE(st);
        intent.device = quint64(st->device);
        intent.inode = st->inode;
        journal->intend(intent);
        trashWithIdentity(intended);
        journal->append(trashWithIdentity(recorded));
        const auto read = KZRemovalJournal::read(journal->path());
        ASSERT_TRUE(read);
        ASSERT_EQ(read->records.size(), 1u);
        EXPECT_EQ(read->records[0].oldPosition.native(), recorded.native());
        ASSERT_EQ(read->pending.size(), 1u);
        EXPECT_EQ(read->pending[0].oldPosition.native(), intended.native());
    } // the removal dies without its undo file

    std::vector<fs::path> files;
    std::optional<KZUndoFile::Contents> contents;
    ASSERT_NO_FATAL_FAILURE(recoverTheOneUndoFile(files, contents));
    ASSERT_EQ(contents->entries.size(), 2u);
    EXPECT_EQ(contents->entries[0].oldPosition.native(), recorded.native());
    EXPECT_EQ(contents->entries[1].oldPosition.native(), intended.native());
    const auto result = KZRestoreRemovedFiles().restoreFiles(files);
    EXPECT_EQ(result.restored, 2u);
    EXPECT_EQ(kztest::readFile(recorded), "recorded");
    EXPECT_EQ(kztest::readFile(intended), "only intended");
    EXPECT_EQ(countIn(trashFiles()), 0u);
}

namespace {

// The identity of `item` as it is, or with its birth time (its modification
// time where the file system keeps none) a second off: that of another file
// that was given the same device and inode.
platform::FileIdentity identityOf(const fs::path& item, bool another = false)
{
    const auto st = platform::statPath(item, false);
    EXPECT_TRUE(st) << item;
    auto identity = platform::FileIdentity::of(st.value_or(platform::FileStat{}), platform::fileSystemOf(item));
    if (another)
        (identity.birth ? identity.birth : identity.modified)->seconds -= 1;
    return identity;
}

KZPersistentUndoRecord intentWithIdentity(const fs::path& item, bool another = false)
{
    KZPersistentUndoRecord intent;
    intent.oldPosition = item;
    intent.identity = identityOf(item, another);
    intent.device = intent.identity->device;
    intent.inode = intent.identity->inode;
    return intent;
}

} // namespace

// A freed inode goes to the next new file at once: what a fold finds in the
// Trash under the device and inode an intent kept is the item only when its
// birth time says so too. An intent of an older journal, which kept device
// and inode alone, is still found by them. What lies under a Trash name
// whose .trashinfo names an intent's old place is listed all the same (an
// editor's save may have put it there), as the item that left: Restore
// never moves it, and keeps it listed as changed.
TEST(KZRemovalJournal, AnIntentIsFoldedOnlyForTheVeryItemThatLeft)
{
    emptyTrash();
    kztest::TempDir d;
    const fs::path moved = d.write("moved.txt", "the item that left");
    const fs::path stranger = d.write("stranger.txt", "another file under the same inode");
    const fs::path older = d.write("older.txt", "intended by an older journal");
    fs::path path;
    {
        auto journal = KZRemovalJournal::begin();
        ASSERT_TRUE(journal);
        path = journal->path();
        const KZPersistentUndoRecord movedIntent = intentWithIdentity(moved);
        ASSERT_TRUE(journal->intend(movedIntent));
        ASSERT_TRUE(journal->intend(intentWithIdentity(stranger, true)));
        const auto read = KZRemovalJournal::read(path);
        ASSERT_TRUE(read);
        ASSERT_EQ(read->pending.size(), 2u);
        EXPECT_EQ(read->pending[0].identity, movedIntent.identity) << "the intent keeps the whole identity";
        for (const fs::path& item : {moved, stranger, older})
            trashWithIdentity(item);
    } // the removal dies without its undo file
    {
        const auto st = platform::statPath(homeTrash() / "files/older.txt", false);
        ASSERT_TRUE(st);
        std::ofstream(path, std::ios::app) << "intent\t" << platform::encodeTrashPath(older.native()) << '\t'
                                           << st->device << '\t' << st->inode << "\t0\t0\t-1\n";
    }

    std::vector<fs::path> files;
    std::optional<KZUndoFile::Contents> contents;
    ASSERT_NO_FATAL_FAILURE(recoverTheOneUndoFile(files, contents));
    std::vector<fs::path> listed;
    for (const auto& entry : contents->entries)
        listed.push_back(entry.oldPosition);
    EXPECT_EQ(listed, (std::vector<fs::path>{moved, older, stranger}));
    EXPECT_TRUE(KZRemovalJournal::list(homeTrash()).empty()) << "its disk is here: nothing is left to wait for";
    EXPECT_TRUE(fs::exists(homeTrash() / "files/stranger.txt")) << "what is not the item is left alone";
    const auto result = KZRestoreRemovedFiles().restoreFiles(files);
    EXPECT_EQ(result.restored, 2u);
    EXPECT_EQ(result.notRestored.changed, 1u) << "the stranger is not taken for the item";
    EXPECT_TRUE(fs::exists(homeTrash() / "files/stranger.txt"));
    EXPECT_EQ(kztest::readFile(moved), "the item that left");
    EXPECT_FALSE(fs::exists(stranger));
}

// An entry whose bookmark could not be made gets one at the fold, but only
// for the item the entry names: not for another file given its inode.
TEST(KZRemovalJournal, ABookmarkMadeAtTheFoldIsOnlyForTheItemTheEntryNames)
{
    emptyTrash();
    kztest::TempDir d;
    const fs::path item = d.write("item.txt", "recorded without a bookmark");
    const fs::path stranger = d.write("stranger.txt", "another file under the same inode");
    {
        auto journal = KZRemovalJournal::begin();
        ASSERT_TRUE(journal);
        for (const fs::path& each : {item, stranger}) {
            KZPersistentUndoRecord record = trashWithIdentity(each);
            record.bookmark.clear();
            record.identity = identityOf(record.currPosition, each == stranger);
            journal->append(record);
        }
        const auto read = KZRemovalJournal::read(journal->path());
        ASSERT_TRUE(read);
        ASSERT_EQ(read->records.size(), 2u);
        EXPECT_TRUE(read->records[1].identity && read->records[1].identity->canProve());
    } // the removal dies without its undo file

    std::vector<fs::path> files;
    std::optional<KZUndoFile::Contents> contents;
    ASSERT_NO_FATAL_FAILURE(recoverTheOneUndoFile(files, contents));
    ASSERT_EQ(contents->entries.size(), 2u);
    EXPECT_FALSE(contents->entries[0].currPosition.isEmpty());
    EXPECT_TRUE(contents->entries[1].currPosition.isEmpty()) << "no bookmark of another file";
}

// A removal killed after a move and before its entry, on a disk that only
// one side names (the intent was made where no identity of the disk could
// be read, the disk tells one now: not proved the item's) and that keeps no
// birth times: another
// file has the item's inode in the Trash, under the item's name, by the
// time the next start folds the journal. It cannot be told from the item
// edited there, so it is listed as the item that left, never as itself:
// Restore keeps it where it is and says it may not be the item.
TEST(KZRemovalJournal, AStrangerUnderTheItemsInodeOnADiskNotProvedIsNeverPutBackAsTheItem)
{
    emptyTrash();
    kztest::TempDir d;
    const fs::path item = d.write("item.txt", "the item that left");
    const platform::FileSystemFacts disk = platform::fileSystemOf(item);
    if (!disk.identity && !disk.volume)
        GTEST_SKIP() << "the temporary folder's disk tells no identity of its own here";
    const auto read = platform::statPath(item, false);
    ASSERT_TRUE(read);
    platform::FileIdentity left;
    left.device = quint64(read->device);
    left.inode = read->inode;
    left.size = quint64(read->size);
    left.modified = platform::FileIdentity::Time{qint64(read->modified.tv_sec), qint64(read->modified.tv_nsec)};
    left.folder = false;
    KZPersistentUndoRecord intent;
    intent.oldPosition = item;
    intent.device = left.device;
    intent.inode = left.inode;
    intent.identity = left;
    fs::path trashed;
    {
        auto journal = KZRemovalJournal::begin();
        ASSERT_TRUE(journal);
        ASSERT_TRUE(journal->intend(intent));
        const auto moved = platform::moveToTrash(item);
        ASSERT_TRUE(moved);
        trashed = *moved;
    } // killed between the move and its entry
    {
        const int fd = ::open(trashed.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW);
        ASSERT_GE(fd, 0);
        const std::string stranger = "a stranger, longer than the item that left";
        ASSERT_EQ(::write(fd, stranger.data(), stranger.size()), ssize_t(stranger.size()));
        const timespec times[2] = {{0, UTIME_OMIT}, {read->modified.tv_sec - 7200, 0}};
        ASSERT_EQ(::futimens(fd, times), 0);
        ::close(fd);
    }
    const auto there = platform::statPath(trashed, false);
    ASSERT_TRUE(there);
    ASSERT_EQ(there->inode, left.inode);

    std::vector<fs::path> files;
    std::optional<KZUndoFile::Contents> contents;
    ASSERT_NO_FATAL_FAILURE(recoverTheOneUndoFile(files, contents));
    ASSERT_EQ(contents->entries.size(), 1u) << "what lies under its Trash name stays listed";
    const auto target = platform::bookmarkTarget(contents->entries[0].currPosition);
    ASSERT_TRUE(target);
    EXPECT_EQ(target->identity.size, left.size) << "the bookmark keeps the identity the item left with";
    EXPECT_EQ(target->identity.modified, left.modified);

    const auto result = KZRestoreRemovedFiles().restoreFiles(files);
    EXPECT_EQ(result.restored, 0u);
    EXPECT_FALSE(fs::exists(item)) << "the stranger is not put back as the item";
    EXPECT_TRUE(fs::exists(trashed));
    EXPECT_EQ(KZUndoFile::list(homeTrash()).size(), 1u) << "its record is kept";
}

// The folder an item left, ACLs and all, goes through the journal and its
// folding into the undo file whole, whether the item was journalled as
// moved or only as about to move. A folder line that is not plainly one
// gives nothing, and an intent without one (an earlier version's) reads as
// before.
TEST(KZRemovalJournal, TheFolderAnItemLeftSurvivesTheJournalAndItsFolding)
{
    emptyTrash();
    kztest::TempDir d;
    const fs::path intended = d.write("a/intended", "only intended");
    const fs::path recorded = d.write("a/recorded", "with its entry");
    const fs::path crafted = d.write("b/crafted", "a damaged folder line");
    const fs::path older = d.write("c/older", "no folder line");
    const platform::FolderAttributes folder{1234, 4321, 02750, QByteArray("\2\0\0\0\1\0\7\0", 8), QByteArray("dflt")};
    fs::path path;
    {
        auto journal = KZRemovalJournal::begin();
        ASSERT_TRUE(journal);
        path = journal->path();
        for (const fs::path& item : {intended, recorded, crafted, older}) {
            KZPersistentUndoRecord intent = intentWithIdentity(item);
            if (item != older)
                intent.oldFolderAttributes = folder;
            ASSERT_TRUE(journal->intend(intent));
            KZPersistentUndoRecord moved = trashWithIdentity(item);
            if (item == recorded)
                journal->append(moved);
        }
    } // the removal dies without its undo file
    {
        // A damaged line for the same place changes nothing.
        std::ofstream(path, std::ios::app) << "folder\t" << platform::encodeTrashPath(crafted.native())
                                           << "\t-1\t0\t511\t\t\n";
    }
    const auto read = KZRemovalJournal::read(path);
    ASSERT_TRUE(read);
    ASSERT_EQ(read->records.size(), 1u);
    EXPECT_EQ(read->records[0].oldFolderAttributes, folder);

    std::vector<fs::path> files;
    std::optional<KZUndoFile::Contents> contents;
    ASSERT_NO_FATAL_FAILURE(recoverTheOneUndoFile(files, contents));
    std::map<fs::path, std::optional<platform::FolderAttributes>> folders;
    for (const auto& entry : contents->entries)
        folders[entry.oldPosition] = entry.oldFolder;
    EXPECT_EQ(folders.size(), 4u);
    EXPECT_EQ(folders[intended], folder);
    EXPECT_EQ(folders[recorded], folder);
    EXPECT_EQ(folders[crafted], folder) << "a line that is not plainly one is left out";
    EXPECT_EQ(folders[older], std::nullopt);
    EXPECT_EQ(KZRestoreRemovedFiles().restoreFiles(files).restored, 4u);
}

// A removal killed between f's move and its entry; an editor then saved f
// in the Trash the way editors save (a new file renamed over it: another
// inode under the same Trash name, beside the same .trashinfo). The fold
// lists f all the same, as it left, and Restore keeps it listed as changed
// each time; the older f that another removal lists under the name "f" is
// not taken for it, and g, moved with its entry, comes back.
TEST(KZRemovalJournal, AnItemSavedAnewInTheTrashBeforeItsEntryStaysListed)
{
    emptyTrash();
    kztest::TempDir d;
    const fs::path f = d / "src/f";
    const auto older = trashWithIdentity(d.write("src/f", "an older f, listed by another removal"));
    const fs::path listedBefore = writeUndoFile({older}, 500.0);
    d.write("src/f", "first");
    const fs::path g = d.write("src/g", "g");
    fs::path trashedF;
    {
        auto journal = KZRemovalJournal::begin();
        ASSERT_TRUE(journal);
        ASSERT_TRUE(journal->intend(intentWithIdentity(f)));
        ASSERT_TRUE(journal->intend(intentWithIdentity(g)));
        journal->append(trashWithIdentity(g));
        trashedF = trashWithIdentity(f).currPosition;
    } // killed before f's entry
    ASSERT_NE(trashedF, older.currPosition);
    const fs::path saved = trashedF.parent_path() / ".f.swp";
    std::ofstream(saved) << "saved in the Trash";
    ASSERT_EQ(::rename(saved.c_str(), trashedF.c_str()), 0);

    EXPECT_EQ(KZRemovalJournal::recoverInterrupted(homeTrash()), 1);
    std::vector<fs::path> files = KZUndoFile::list(homeTrash());
    std::erase(files, listedBefore);
    ASSERT_EQ(files.size(), 1u);
    const auto contents = KZUndoFile::read(files[0]);
    ASSERT_TRUE(contents);
    std::vector<fs::path> listed;
    for (const auto& entry : contents->entries)
        listed.push_back(entry.oldPosition);
    EXPECT_EQ(listed, (std::vector<fs::path>{g, f})) << "nothing in the Trash is left unlisted";
    const auto target = platform::bookmarkTarget(contents->entries[1].currPosition);
    ASSERT_TRUE(target);
    EXPECT_EQ(target->path, trashedF);

    KZRestoreRemovedFiles restore;
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        EXPECT_EQ(KZRemovalJournal::recoverInterrupted(homeTrash()), 0) << "listed once";
        const auto result = restore.restoreFiles(files);
        EXPECT_EQ(result.restored, run == 0 ? 1u : 0u);
        EXPECT_EQ(result.notRestored.changed, 1u);
        EXPECT_EQ(result.notRestored.total(), 1u);
        const auto left = KZUndoFile::read(files[0]);
        ASSERT_TRUE(left) << "f stays listed";
        ASSERT_EQ(left->entries.size(), 1u);
        EXPECT_EQ(left->entries[0].oldPosition, f);
    }
    EXPECT_EQ(kztest::readFile(g), "g");
    EXPECT_FALSE(fs::exists(f)) << "what is no longer surely the item stays in the Trash";
    EXPECT_EQ(kztest::readFile(trashedF), "saved in the Trash");
    EXPECT_EQ(kztest::readFile(older.currPosition), "an older f, listed by another removal");
    EXPECT_EQ(KZUndoFile::read(listedBefore)->entries.size(), 1u);
}

namespace {

// An empty file or folder made at `place` as a move reserves it.
void makeEmpty(const fs::path& place, bool folder)
{
    if (folder) {
        ASSERT_EQ(::mkdir(place.c_str(), 0700), 0) << place;
    } else {
        const int fd = ::open(place.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0) << place;
        ::close(fd);
    }
}

// Made at `place` as a move reserves it, and named in `journal`.
void reserve(KZRemovalJournal& journal, const fs::path& place, bool folder)
{
    makeEmpty(place, folder);
    if (::testing::Test::HasFatalFailure())
        return;
    const auto identity = platform::FileIdentity::ofPath(place);
    ASSERT_TRUE(identity);
    journal.reserved(place, *identity);
}

} // namespace

// A removal killed between reserving a name and its move: the recovery
// takes away what is still the very, empty reservation it made (a
// placeholder file or folder, a .trashinfo whose item never came) and
// leaves whatever the user or the move made of it since.
TEST(KZRemovalJournal, AReservationGoesOnlyWhileItIsStillTheEmptyOneMade)
{
    emptyTrash();
    kztest::TempDir d;
    const fs::path dest = d / "dest";
    fs::create_directories(dest);
    const fs::path info = homeTrash() / "info";
    const fs::path files = homeTrash() / "files";
    {
        auto journal = KZRemovalJournal::begin();
        ASSERT_TRUE(journal);
        reserve(*journal, dest / "left", false);
        reserve(*journal, dest / "left folder", true);
        reserve(*journal, dest / "filled", false);
        reserve(*journal, dest / "filled folder", true);
        reserve(*journal, dest / "replaced", false);
        reserve(*journal, dest / "taken by the item", false);
        ASSERT_TRUE(platform::createTrashInfo(homeTrash(), "never came", d / "never came"));
        journal->reserved(info / "never came.trashinfo", *platform::FileIdentity::ofPath(info / "never came.trashinfo"));
        ASSERT_TRUE(platform::createTrashInfo(homeTrash(), "came", d / "came"));
        journal->reserved(info / "came.trashinfo", *platform::FileIdentity::ofPath(info / "came.trashinfo"));
        // The placeholder of a disk without the no-replace rename, beside
        // its .trashinfo: both go, the placeholder first.
        ASSERT_TRUE(platform::createTrashInfo(homeTrash(), "placeholder", d / "placeholder"));
        journal->reserved(info / "placeholder.trashinfo", *platform::FileIdentity::ofPath(info / "placeholder.trashinfo"));
        reserve(*journal, files / "placeholder", false);
        // A .trashinfo whose item a record names: what a Restore killed
        // before rewriting its undo file keeps as its evidence.
        ASSERT_TRUE(platform::createTrashInfo(homeTrash(), "named", d / "named"));
        journal->reserved(info / "named.trashinfo", *platform::FileIdentity::ofPath(info / "named.trashinfo"));
        KZPersistentUndoRecord named;
        named.oldPosition = d / "named";
        named.currPosition = files / "named";
        journal->append(named);

        std::ofstream(dest / "filled") << "the user's";
        std::ofstream(dest / "filled folder/inside") << "the user's";
        std::ofstream(dest / "new") << "";
        fs::rename(dest / "new", dest / "replaced");
        std::ofstream(d / "item") << "moved";
        fs::remove(dest / "taken by the item");
        fs::rename(d / "item", dest / "taken by the item");
        std::ofstream(files / "came") << "moved";

        // Read back as written, and a line the reader cannot take is left out.
        std::ofstream(journal->path(), std::ios::app) << "reserved\t%2Fa\t1\t2\tsize=x\n";
        const auto contents = KZRemovalJournal::read(journal->path());
        ASSERT_TRUE(contents);
        ASSERT_EQ(contents->reservations.size(), 11u);
        EXPECT_EQ(contents->reservations[1].place, dest / "left folder");
        EXPECT_EQ(contents->reservations[1].identity, *platform::FileIdentity::ofPath(dest / "left folder"));
        // Killed: the journal stays.
    }
    // Created a moment ago: no age rule takes a .trashinfo, only the journal.
    KZRemovalJournal::recoverInterrupted(homeTrash());
    EXPECT_TRUE(KZRemovalJournal::list(homeTrash()).empty());
    for (const char* gone : {"left", "left folder"})
        EXPECT_FALSE(platform::statPath(dest / gone, false)) << gone;
    EXPECT_FALSE(fs::exists(info / "never came.trashinfo"));
    EXPECT_FALSE(fs::exists(files / "placeholder"));
    EXPECT_FALSE(fs::exists(info / "placeholder.trashinfo"));
    EXPECT_EQ(kztest::readFile(dest / "filled"), "the user's");
    EXPECT_EQ(kztest::readFile(dest / "filled folder/inside"), "the user's");
    EXPECT_TRUE(fs::exists(dest / "replaced")) << "another file, empty as it is";
    EXPECT_EQ(kztest::readFile(dest / "taken by the item"), "moved");
    EXPECT_TRUE(fs::exists(info / "came.trashinfo")) << "its item is in the Trash";
    EXPECT_TRUE(fs::exists(info / "named.trashinfo")) << "a record names its item";
}

namespace {

// `place` announced in `journal` as a move announces it, `delay` seconds
// from now, for the item at `item` (none: a .trashinfo).
void announce(KZRemovalJournal& journal, const fs::path& place, const fs::path& item, bool folder, int delay = 0)
{
    platform::ReservationIntent intent;
    intent.place = place;
    intent.item = item;
    intent.folder = folder;
    ::clock_gettime(CLOCK_REALTIME, &intent.announced);
    intent.announced.tv_sec += delay;
    journal.reserving(intent);
}

} // namespace

// A job killed right after it made a reservation, before it could name what
// it made: the name was announced before, and the recovery takes away an
// empty file or folder made there no earlier than the announcement while
// the item it was for still lies at its own place; nothing else.
TEST(KZRemovalJournal, AReservationKilledRightAfterItsCreationGoesByItsAnnouncement)
{
    emptyTrash();
    kztest::TempDir d;
    const fs::path dest = d / "dest";
    fs::create_directories(dest);
    const fs::path info = homeTrash() / "info";
    const fs::path files = homeTrash() / "files";
    struct Row {
        const char* name;
        bool folder;
        bool itemStays; // the item is still at its own place
        int delay;      // the announcement, from now
        const char* content;
        bool goes;
    };
    const Row rows[] = {
        {"file", false, true, 0, nullptr, true},
        {"folder", true, true, 0, nullptr, true},
        {"taken by the empty item", false, false, 0, nullptr, false},
        {"made before the announcement", false, true, 60, nullptr, false},
        {"filled", false, true, 0, "the user's", false},
        {"filled folder", true, true, 0, "the user's", false},
    };
    {
        auto journal = KZRemovalJournal::begin();
        ASSERT_TRUE(journal);
        for (const Row& row : rows) {
            const fs::path item = d / (std::string(row.name) + " item");
            std::ofstream(item) << "";
            announce(*journal, dest / row.name, item, row.folder, row.delay);
            makeEmpty(dest / row.name, row.folder);
            if (!row.itemStays)
                fs::rename(item, dest / row.name);
            if (row.content)
                std::ofstream(row.folder ? dest / row.name / "inside" : dest / row.name) << row.content;
        }
        // A .trashinfo announced and written, its item never came; another
        // whose item came.
        announce(*journal, info / "never came.trashinfo", {}, false);
        ASSERT_TRUE(platform::createTrashInfo(homeTrash(), "never came", d / "never came"));
        announce(*journal, info / "came.trashinfo", {}, false);
        ASSERT_TRUE(platform::createTrashInfo(homeTrash(), "came", d / "came"));
        std::ofstream(files / "came") << "moved";
        // Announced, then named once made: what was made decides, and an
        // empty file of another that took its place stays.
        std::ofstream(d / "named item") << "item";
        announce(*journal, dest / "named", d / "named item", false);
        makeEmpty(dest / "named", false);
        journal->reserved(dest / "named", *platform::FileIdentity::ofPath(dest / "named"));
        fs::remove(dest / "named");
        makeEmpty(dest / "named", false);
        // Named with what tells nothing of a folder (a disk without birth
        // times, its change time in whole seconds): known by its
        // announcement as if it were not named.
        std::ofstream(d / "untold item") << "item";
        announce(*journal, dest / "untold", d / "untold item", true);
        makeEmpty(dest / "untold", true);
        auto untold = *platform::FileIdentity::ofPath(dest / "untold");
        untold.birth.reset();
        untold.generation.reset();
        untold.changed.reset();
        journal->reserved(dest / "untold", untold);
        // A line the reader cannot take is left out.
        std::ofstream(journal->path(), std::ios::app) << "reserving\t%2Fa\t\tx\t1\t2\n";
        const auto contents = KZRemovalJournal::read(journal->path());
        ASSERT_TRUE(contents);
        ASSERT_EQ(contents->intendedReservations.size(), std::size(rows) + 4);
        EXPECT_EQ(contents->intendedReservations[1].place, dest / "folder");
        EXPECT_TRUE(contents->intendedReservations[1].folder);
        EXPECT_EQ(contents->intendedReservations[1].item, d / "folder item");
        // Killed: the journal stays.
    }
    KZRemovalJournal::recoverInterrupted(homeTrash());
    EXPECT_TRUE(KZRemovalJournal::list(homeTrash()).empty());
    for (const Row& row : rows)
        EXPECT_EQ(!platform::statPath(dest / row.name, false), row.goes) << row.name;
    EXPECT_FALSE(fs::exists(info / "never came.trashinfo"));
    EXPECT_TRUE(fs::exists(info / "came.trashinfo")) << "its item is in the Trash";
    EXPECT_TRUE(fs::exists(dest / "named")) << "another file, empty as it is";
    EXPECT_FALSE(fs::exists(dest / "untold"));
}

// The job was killed a minute ago, right after it announced its names; the
// user has since made an empty file, an empty folder and a .trashinfo at
// them. A reservation is made right after its announcement, before the job
// could write anything more: what was made long after the journal's last
// line is no job's, and stays.
TEST(KZRemovalJournal, WhatTheUserMadeAtAnAnnouncedNameAfterTheKillStays)
{
    emptyTrash();
    kztest::TempDir d;
    const fs::path dest = d / "dest";
    fs::create_directories(dest);
    const fs::path info = homeTrash() / "info";
    fs::path journalPath;
    {
        auto journal = KZRemovalJournal::begin();
        ASSERT_TRUE(journal);
        journalPath = journal->path();
        for (const char* name : {"file", "folder"}) {
            const fs::path item = d / (std::string(name) + " item");
            std::ofstream(item) << "";
            announce(*journal, dest / name, item, name[1] == 'o', -60);
        }
        announce(*journal, info / "theirs.trashinfo", {}, false, -60);
    }
    const timespec aMinuteAgo[2] = {{std::time(nullptr) - 60, 0}, {std::time(nullptr) - 60, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, journalPath.c_str(), aMinuteAgo, AT_SYMLINK_NOFOLLOW), 0);
    makeEmpty(dest / "file", false);
    makeEmpty(dest / "folder", true);
    ASSERT_TRUE(platform::createTrashInfo(homeTrash(), "theirs", d / "theirs"));

    KZRemovalJournal::recoverInterrupted(homeTrash());
    EXPECT_TRUE(KZRemovalJournal::list(homeTrash()).empty());
    EXPECT_TRUE(fs::exists(dest / "file"));
    EXPECT_TRUE(fs::exists(dest / "folder"));
    EXPECT_TRUE(fs::exists(info / "theirs.trashinfo"));
}

namespace {

// The folder made by the move below after which its process dies.
constexpr const char* kDieAtFolderVar = "KZ_TEST_DIE_AT_FOLDER";

} // namespace

// Run by the test below in a fresh process: a move that rebuilds its item's
// folders under the destination, killed right after it made the n-th of
// them, before the item moved in.
TEST(KZRemovalJournalInFreshProcess, DISABLED_AMoveDiesRightAfterMakingAFolder)
{
    if (!kztest::inFreshProcess())
        GTEST_SKIP() << "runs only in the process the test below starts";
    struct DyingFileSystem : KZRemovalFileSystem {
        int dieAt = 0;
        int made = 0;
        bool makeFolderAt(int dirfd, const std::string& name, int* err) override
        {
            const bool ok = KZRemovalFileSystem::makeFolderAt(dirfd, name, err);
            if (ok && ++made == dieAt)
                ::_exit(0); // no destructor, no finish: as a kill would leave it
            return ok;
        }
    };
    const fs::path root = std::getenv(kKilledFolderVar);
    auto fileSystem = std::make_shared<DyingFileSystem>();
    fileSystem->dieAt = std::atoi(std::getenv(kDieAtFolderVar));
    const KZFoundItemArray all = modeltest::makeItems(
        {{.path = root / "src/a/x", .group = 1, .marked = true}, {.path = root / "src/k/x", .group = 1}});
    auto panel = std::make_shared<RecordingPanel>();
    panel->isMoveToTrash = false;
    panel->createFolders = true;
    panel->urlToMove = root / "dest";
    panel->itemsToRemove = {all[0]};
    panel->resultItems = all;
    KZRemove(panel, fileSystem).doMove();
    ::_exit(2); // it made fewer folders than that
}

// Killed right after each folder it made for its item: the next start
// takes away every folder of the rebuilt path that the move made, deepest
// first, and the item is where it was.
TEST(KZRemovalJournal, AMoveKilledAfterMakingAFolderLeavesNoneOfItsFolders)
{
    emptyTrash();
    kztest::TempDir d;
    const fs::path item = d.write("src/a/x", "same");
    d.write("src/k/x", "same");
    const fs::path dest = d.mkdir("dest");
    const fs::path rebuilt = item.parent_path().relative_path();
    const int made = int(std::distance(rebuilt.begin(), rebuilt.end()));
    for (int k = 1; k <= made; ++k) {
        ASSERT_EQ(kztest::runTestInFreshProcess("KZRemovalJournalInFreshProcess.DISABLED_AMoveDiesRightAfterMakingAFolder",
                                                false,
                                                {std::string(kKilledFolderVar) + "=" + d.path().native(),
                                                 std::string(kDieAtFolderVar) + "=" + std::to_string(k)}),
                  kztest::Isolated::Passed)
            << k;
        ASSERT_FALSE(fs::is_empty(dest)) << k;
        KZRemovalJournal::recoverInterrupted(homeTrash());
        EXPECT_TRUE(KZRemovalJournal::list(homeTrash()).empty()) << k;
        EXPECT_TRUE(fs::is_empty(dest)) << "killed after folder " << k << " of " << made;
        EXPECT_EQ(kztest::readFile(item), "same");
        fs::remove_all(dest);
        fs::create_directory(dest);
    }
}

// A removal killed where the disk tells nothing of its item's fate (here
// the intent names another disk than the one the item lies on, as a stick
// mounted again shows it when nothing tells it from a copy): the item lies
// at its place, and only the journal can say that it never moved. It says
// so where the removal went on to another item, and where every
// .trashinfo it made for the item was given up, never made, or found
// unused and taken away now. A .trashinfo made and gone since says
// nothing, nor does the silence of a journal that announces no names.
TEST(KZRemovalJournal, OnlyTheJournalTellsThatAnItemNeverMoved)
{
    emptyTrash();
    kztest::TempDir d;
    const fs::path info = homeTrash() / "info";
    enum class Info { None, NeverMade, GivenUp, LeftUnused, MadeAndGone };
    struct Row {
        const char* name;
        bool announces;
        bool followed; // another item's intent came after
        Info info;
        bool waits;
    };
    const Row rows[] = {
        {"followed", true, true, Info::MadeAndGone, false},
        {"no trashinfo", true, false, Info::None, false},
        {"never made", true, false, Info::NeverMade, false},
        {"given up", true, false, Info::GivenUp, false},
        {"left unused", true, false, Info::LeftUnused, false},
        {"made and gone", true, false, Info::MadeAndGone, true},
        {"older journal", false, true, Info::None, true},
    };
    const auto intentFor = [](const fs::path& item) {
        const auto st = platform::statPath(item, false);
        KZPersistentUndoRecord intent;
        intent.oldPosition = item;
        intent.device = quint64(st->device) + 1;
        intent.inode = st->inode;
        intent.identity = platform::FileIdentity::of(*st, platform::fileSystemOf(item));
        intent.identity->device = intent.device;
        intent.identity->fileSystem = 0x5eedULL;
        return intent;
    };
    std::map<std::string, fs::path> journals;
    int older = 0;
    for (const Row& row : rows) {
        const KZPersistentUndoRecord intent = intentFor(d.write(std::string(row.name) + "/item", "stays"));
        const KZPersistentUndoRecord next = intentFor(d.write(std::string(row.name) + "/next", "stays"));
        if (!row.announces) {
            // Written as an earlier version wrote it, without the line that
            // says that every name is announced.
            journals[row.name] = homeTrash() / "files" / (KZRemovalJournal::namePrefix + std::to_string(++older));
            std::ofstream out(journals[row.name]);
            out << "maravex-removal-journal 1\n";
            for (const auto& record : {intent, next})
                out << "intent\t" << platform::encodeTrashPath(record.oldPosition.native()) << '\t' << record.device
                    << '\t' << record.inode << "\t0\t0\t0\n";
            continue;
        }
        auto journal = KZRemovalJournal::begin(nullptr, true);
        ASSERT_TRUE(journal);
        journals[row.name] = journal->path();
        ASSERT_TRUE(journal->intend(intent));
        const fs::path place = info / (std::string(row.name) + ".trashinfo");
        if (row.info != Info::None)
            announce(*journal, place, {}, false);
        if (row.info == Info::GivenUp || row.info == Info::LeftUnused || row.info == Info::MadeAndGone) {
            ASSERT_TRUE(platform::createTrashInfo(homeTrash(), row.name, intent.oldPosition));
            journal->reserved(place, *platform::FileIdentity::ofPath(place));
        }
        if (row.info == Info::GivenUp)
            journal->givenUp(place);
        if (row.info == Info::GivenUp || row.info == Info::MadeAndGone)
            fs::remove(place);
        if (row.followed) {
            ASSERT_TRUE(journal->intend(next));
        }
        // Killed: the journal stays.
    }
    KZRemovalJournal::recoverInterrupted(homeTrash());
    for (const Row& row : rows) {
        EXPECT_EQ(fs::exists(journals[row.name]), row.waits) << row.name;
        EXPECT_EQ(kztest::readFile(d / row.name / "item"), "stays") << row.name;
    }
    EXPECT_FALSE(fs::exists(info / "left unused.trashinfo")) << "the name is free for the next removal";
    EXPECT_TRUE(KZUndoFile::list(homeTrash()).empty()) << "nothing is listed that never moved";
}

// A file a killed move left dated by the move gets its own dates back only
// while nothing else can be what lies there: its recorded size, a regular
// file, and dated between the announcement (less a FAT clock step) and a
// moment after the journal's last line.
TEST(KZRemovalJournal, AFileAKilledMoveLeftDatedByTheMoveGetsItsDatesBackOnlyWithinTheKill)
{
    const time_t now = std::time(nullptr);
    const timespec announced{now - 100, 0};
    const timespec lastWritten{now - 90, 0};
    struct Case {
        const char* name;
        time_t dated;
        std::string content = "12345";
        bool folder = false;
        bool givenBack = true;
    };
    const Case cases[] = {
        {"at the announcement", now - 100},
        {"one FAT step before it", now - 102},
        {"before that", now - 103, "12345", false, false},
        {"a moment after the last line", now - 86},
        {"later", now - 84, "12345", false, false},
        {"of another size", now - 95, "123456", false, false},
        {"a folder", now - 95, "", true, false},
    };
    kztest::TempDir d;
    platform::FileIdentity recorded;
    recorded.size = 5;
    recorded.modified = platform::FileIdentity::Time{now - 86400, 0};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path at = d / c.name;
        if (c.folder)
            fs::create_directories(at);
        else
            std::ofstream(at) << c.content;
        const timespec times[2] = {{c.dated, 0}, {c.dated, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, at.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
        EXPECT_EQ(KZRemovalJournal::giveBackDatesOfKilledMove(at, recorded, announced, lastWritten), c.givenBack);
        struct stat st {};
        ASSERT_EQ(::lstat(at.c_str(), &st), 0);
        EXPECT_EQ(st.st_mtim.tv_sec, c.givenBack ? now - 86400 : c.dated);
    }
    // Where the disk keeps birth times the move leaves the dates alone.
    const fs::path born = d.write("born", "12345");
    platform::FileIdentity withBirth = recorded;
    withBirth.birth = platform::FileIdentity::Time{now - 86400, 0};
    EXPECT_FALSE(KZRemovalJournal::giveBackDatesOfKilledMove(born, withBirth, {now - 10, 0}, {now, 0}));
}

// A move into a folder (or its Undo) killed between the rename over its
// placeholder and giving the file its dates back: the next start gives them
// back to the file the journal announced with its size and date, and to
// nothing else that lies at an announced place.
TEST(KZRemovalJournal, AFileAKilledMoveLeftDatedByTheMoveGetsItsDatesBack)
{
    emptyTrash();
    kztest::TempDir d;
    const fs::path dest = d / "dest";
    fs::create_directories(dest);
    const timespec itsDate{1767268800, 0};
    struct Row {
        const char* name;
        bool itemLeft;       // the file is no longer at its own place
        std::string content; // what lies at the new place
        bool givenBack;
    };
    const Row rows[] = {
        {"moved", true, "12345", true},
        {"never moved", false, "12345", false}, // another file lies at the place
        {"another size", true, "123456", false},
    };
    {
        auto journal = KZRemovalJournal::begin();
        ASSERT_TRUE(journal);
        for (const Row& row : rows) {
            const fs::path item = d / (std::string(row.name) + " item");
            platform::ReservationIntent intent;
            intent.place = dest / row.name;
            intent.item = item;
            intent.size = 5;
            intent.modified = itsDate;
            ::clock_gettime(CLOCK_REALTIME, &intent.announced);
            journal->reserving(intent);
            if (!row.itemLeft)
                std::ofstream(item) << "12345";
            std::ofstream(dest / row.name) << row.content;
        }
        // A file's size and date on a folder's line: the line is left out.
        std::ofstream(journal->path(), std::ios::app) << "reserving\t%2Fa\t%2Fb\td\t1\t2\t5\t1767268800\t0\n";
        const auto contents = KZRemovalJournal::read(journal->path());
        ASSERT_TRUE(contents);
        ASSERT_EQ(contents->intendedReservations.size(), std::size(rows));
        EXPECT_EQ(contents->intendedReservations[0].size, 5u);
        ASSERT_TRUE(contents->intendedReservations[0].modified);
        EXPECT_EQ(contents->intendedReservations[0].modified->tv_sec, itsDate.tv_sec);
        // Killed: the journal stays.
    }
    KZRemovalJournal::recoverInterrupted(homeTrash());
    EXPECT_TRUE(KZRemovalJournal::list(homeTrash()).empty());
    for (const Row& row : rows) {
        struct stat st {};
        ASSERT_EQ(::lstat((dest / row.name).c_str(), &st), 0) << row.name;
        EXPECT_EQ(st.st_mtim.tv_sec == itsDate.tv_sec, row.givenBack) << row.name;
    }
}

// A job killed part-way through a copy: the next start takes away the copy
// cut short, which would pass for the item, and nothing else at an
// announced copy's place.
TEST(KZRemovalJournal, OnlyACopyCutShortGoes)
{
    emptyTrash();
    kztest::TempDir d;
    const std::string big(200000, 'b');
    struct Row {
        const char* name;
        bool folder;
        std::string item;   // the item's file (a folder holds it as "one", and "two")
        std::string copied; // what the copy's file holds
        bool itemStays;
        bool made;          // the journal says the copy was made whole
        bool goes;
        int announcedIn = 0; // seconds after what lies there last changed
        bool takenApart = false;
    };
    const Row rows[] = {
        {"cut short", false, big, big.substr(0, 65536), true, false, true},
        {"empty", false, big, "", true, false, true},
        {"a folder cut short", true, "one", "one", true, false, true},
        {"whole", false, big, big, true, false, false},
        {"whole folder", true, "one", "one", true, false, false},
        {"another file", false, big, "c" + big.substr(0, 99), true, false, false},
        {"item gone", false, big, big.substr(0, 10), false, false, false},
        {"said made", false, big, big.substr(0, 10), true, true, false},
        // Lay there before the copy was announced (which then made nothing).
        {"there before", false, big, big.substr(0, 10), true, false, false, 10},
        // Made long before, proved the copy, and taken apart since.
        {"a folder taken apart", true, "one", "one", true, false, true, 10, true},
    };
    {
        auto journal = KZRemovalJournal::begin();
        ASSERT_TRUE(journal);
        for (const Row& row : rows) {
            const fs::path item = d / "items" / row.name;
            const fs::path copy = d / "copies" / row.name;
            fs::create_directories(d / "copies");
            platform::ReservationIntent intent;
            intent.place = copy;
            intent.item = item;
            intent.folder = row.folder;
            intent.takenApart = row.takenApart;
            ::clock_gettime(CLOCK_REALTIME, &intent.announced);
            intent.announced.tv_sec += row.announcedIn;
            journal->copying(intent);
            if (row.folder) {
                d.write(fs::path("items") / row.name / "one", row.item);
                d.write(fs::path("items") / row.name / "two", row.item);
                d.write(fs::path("copies") / row.name / "one", row.copied);
                if (std::string(row.name).starts_with("whole"))
                    d.write(fs::path("copies") / row.name / "two", row.item);
            } else {
                d.write(fs::path("items") / row.name, row.item);
                d.write(fs::path("copies") / row.name, row.copied);
            }
            if (!row.itemStays)
                fs::remove(item);
            if (row.made)
                journal->copied(copy);
        }
        // Killed: the journal stays.
    }
    KZRemovalJournal::recoverInterrupted(homeTrash());
    EXPECT_TRUE(KZRemovalJournal::list(homeTrash()).empty());
    for (const Row& row : rows) {
        EXPECT_EQ(!fs::exists(d / "copies" / row.name), row.goes) << row.name;
        if (row.itemStays) {
            EXPECT_TRUE(fs::exists(d / "items" / row.name)) << row.name;
        }
    }
}
