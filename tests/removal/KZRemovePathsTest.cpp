// Paths a removal meets as the system reads them: ".." after a link, a path
// longer than one system call takes, and what a removal that died before its
// first move leaves in the Trash.

#include "RemovalTestSupport.h"

#include "removal/KZRemovalJournal.h"
#include "removal/KZUndoFile.h"

#include <gtest/gtest.h>

#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace removaltest;
using namespace Qt::StringLiterals;

// The destination ~/w/link/../dest is the folder beside where the link
// leads, as the system names it: the item goes there, and its undo record
// says so, not ~/w/dest.
TEST(KZRemovePaths, ADestinationWithDotDotAfterALinkIsWhereTheSystemGoes)
{
    Fixture f;
    f.setLevel(0);
    f.dir.mkdir("t/inner");
    const fs::path beside = f.dir.mkdir("t/dest");
    const fs::path textual = f.dir.mkdir("w/dest");
    fs::create_directory_symlink(f.dir / "t/inner", f.dir / "w/link");
    const auto all = f.items({{"a/x.txt", 1}, {"k/x.txt", 1}});
    f.panel->isMoveToTrash = false;
    f.panel->urlToMove = f.dir / "w/link/../dest";
    auto engine = f.engine({all[0]}, all);
    engine->doMove();
    EXPECT_TRUE(fs::is_empty(textual)) << "the path was read as text";
    EXPECT_EQ(kztest::readFile(beside / "x.txt"), "same bytes");
    ASSERT_EQ(engine->standardUndo().size(), 1u);
    EXPECT_EQ(engine->standardUndo()[0].currPosition, fs::canonical(beside) / "x.txt");
}

// A file deeper than PATH_MAX that a search found is moved like any other,
// never taken for missing.
TEST(KZRemovePaths, AnItemBeyondTheLongestPathIsMoved)
{
    Fixture f;
    f.setLevel(0);
    const fs::path deep = kztest::makeFolderChain(f.dir.path(), 22, std::string(200, 'd'),
                                                  {{"a.txt", "deep pair"}, {"b.txt", "deep pair"}});
    ASSERT_FALSE(deep.empty());
    ASSERT_GT(deep.native().size(), size_t(PATH_MAX));
    const auto all = modeltest::makeItems({{.path = deep / "a.txt", .group = 1, .size = 9, .marked = true},
                                           {.path = deep / "b.txt", .group = 1, .size = 9}});
    const fs::path dest = f.dir.mkdir("dest");
    f.panel->isMoveToTrash = false;
    f.panel->urlToMove = dest;
    auto engine = f.engine({all[0]}, all);
    engine->doMove();
    EXPECT_EQ(engine->outcomeOf(all[0]), u"moved"_s);
    EXPECT_EQ(kztest::readFile(dest / "a.txt"), "deep pair");
    ASSERT_TRUE(engine->removedArray());
    EXPECT_TRUE(engine->removedArray()->contains(all[0]));
    kztest::removeFolderChain(f.dir.path(), std::string(200, 'd'));
}

namespace {
constexpr const char* kKilledItemVar = "KZ_TEST_KILLED_ITEM";
} // namespace

// Run by the test below in a fresh process: a removal that reserved the
// move of its item in the Trash and died before making it.
TEST(KZRemovePathsInFreshProcess, DISABLED_ARemovalDiesBeforeItsFirstMove)
{
    if (!kztest::inFreshProcess())
        GTEST_SKIP() << "runs only in the process the test below starts";
    const fs::path item = std::getenv(kKilledItemVar);
    const fs::path trash = platform::homeTrashDirectory();
    auto journal = KZRemovalJournal::beginIn(trash, 778.0);
    KZPersistentUndoRecord intent;
    intent.oldPosition = item;
    const auto st = platform::statPath(item, false);
    intent.device = quint64(st->device);
    intent.inode = st->inode;
    intent.identity = platform::FileIdentity::ofPath(item);
    if (!journal || !journal->intend(intent) || !platform::createTrashInfo(trash, "x.txt", item))
        ::_exit(2);
    ::_exit(0); // killed before the move
}

// A removal killed before its first move, whose item the user deleted since:
// nothing of it is waited for, so neither its journal nor the .trashinfo it
// reserved stays in the Trash. One whose disk is away still waits.
TEST(KZRemovePaths, ARemovalKilledBeforeItsFirstMoveLeavesNothingOnceItsItemIsGone)
{
    emptyTrash();
    kztest::TempDir d;
    const fs::path item = d.write("src/x.txt", "X");
    const fs::path trash = platform::homeTrashDirectory();
    ASSERT_EQ(kztest::runTestInFreshProcess("KZRemovePathsInFreshProcess.DISABLED_ARemovalDiesBeforeItsFirstMove",
                                            false, {std::string(kKilledItemVar) + "=" + item.native()}),
              kztest::Isolated::Passed);
    fs::remove(item);
    const fs::path info = trash / "info/x.txt.trashinfo";
    ASSERT_TRUE(fs::exists(info));
    const timespec old[2] = {{0, UTIME_OMIT}, {std::time(nullptr) - 3600, 0}};
    ::utimensat(AT_FDCWD, info.c_str(), old, 0);

    EXPECT_EQ(KZRemovalJournal::recoverInterrupted(trash), 0);
    EXPECT_TRUE(KZRemovalJournal::list(trash).empty()) << "the journal waits for an item that is gone";
    EXPECT_FALSE(fs::exists(info)) << "the reserved name of a move that never happened stays";
    EXPECT_TRUE(KZUndoFile::list(trash).empty());

    // Its folder gone too (a disk that is not connected): the journal waits.
    const fs::path away = d.write("away/y.txt", "Y");
    {
        auto journal = KZRemovalJournal::beginIn(trash, 779.0);
        ASSERT_TRUE(journal);
        KZPersistentUndoRecord intent;
        intent.oldPosition = away;
        const auto st = platform::statPath(away, false);
        intent.device = quint64(st->device);
        intent.inode = st->inode;
        ASSERT_TRUE(journal->intend(intent));
    }
    fs::remove_all(d / "away");
    KZRemovalJournal::recoverInterrupted(trash);
    EXPECT_EQ(KZRemovalJournal::list(trash).size(), 1u);
}
