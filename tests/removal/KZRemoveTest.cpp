#include "RemovalTestSupport.h"

#include "platform/FileOps.h"
#include "platform/FileStat.h"
#include "platform/Trash.h"
#include "services/KZNumberUtilities.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace removaltest;
using namespace Qt::StringLiterals;

TEST(KZRemoveTrash, TrashedFilesHaveARestorableTrashInfoAndARecord)
{
    emptyTrash();
    Fixture f;
    const auto all = f.items({{"keep/a b%.txt", 1}, {"dup/a b%.txt", 1}, {"dup/\xC3\xA9t\xC3\xA9.txt", 2},
                              {"keep/\xC3\xA9t\xC3\xA9.txt", 2}});
    const KZFoundItemArray remove{all[1], all[2]};
    const fs::path first = all[1]->url(), second = all[2]->url();
    auto engine = f.engine(remove, all);
    engine->doMove();

    EXPECT_FALSE(fs::exists(first));
    EXPECT_FALSE(fs::exists(second));
    ASSERT_EQ(engine->persistentUndo().size(), 2u);
    for (const auto& record : engine->persistentUndo()) {
        const auto info = platform::readTrashInfo(record.currPosition);
        ASSERT_TRUE(info) << record.currPosition;
        EXPECT_EQ(info->originalPath, record.oldPosition);
        EXPECT_TRUE(info->deletionDate.isValid());
        EXPECT_EQ(record.currPosition.parent_path(), trashFiles());
        EXPECT_EQ(platform::statPath(record.currPosition, false)->inode, record.inode);
    }
    // The Path line is percent-encoded as a file manager reads it.
    const auto infoFile = platform::homeTrashDirectory() / "info" / "a b%.txt.trashinfo";
    EXPECT_NE(kztest::readFile(infoFile).find("Path=" + platform::encodeTrashPath(first.string())), std::string::npos);
    EXPECT_NE(kztest::readFile(infoFile).find("%20b%25.txt"), std::string::npos);

    ASSERT_TRUE(engine->removedArray());
    EXPECT_EQ(engine->removedArray()->size(), 2);
    EXPECT_TRUE(all[1]->isRemoved());
    EXPECT_FALSE(all[0]->isRemoved());
    EXPECT_EQ(all[0]->countOfItemsInGroup(), 1u);
    EXPECT_FALSE(f.panel->isWorking.load());
    EXPECT_EQ(f.panel->ended.load(), 1);
    EXPECT_EQ(f.panel->managedCount.load(), 2u);
    EXPECT_TRUE(engine->errorAlerts().empty());
}

TEST(KZRemoveTrash, EmptyRequestOnlyEndsTheWork)
{
    Fixture f;
    f.panel->isWorking = true;
    auto engine = f.engine({}, {});
    engine->doMove();
    EXPECT_FALSE(f.panel->isWorking.load());
    EXPECT_FALSE(engine->removedArray());
    EXPECT_EQ(f.alerts.shown(), 0u);
}

TEST(KZRemoveTrash, NoUsableTrashLeavesTheItemAndStopsWithAnAlert)
{
    Fixture f;
    const auto all = f.items({{"a", 1}, {"b", 1}, {"c", 1}});
    f.setLevel(0);
    f.fs->before = [](const std::string& op, const fs::path&) { return op == "trash" ? platform::noUsableTrash : 0; };
    auto engine = f.engine({all[0], all[1]}, all);
    engine->doMove();
    EXPECT_TRUE(fs::exists(f.dir / "a"));
    EXPECT_TRUE(fs::exists(f.dir / "b"));
    EXPECT_FALSE(all[0]->isRemoved());
    EXPECT_TRUE(engine->persistentUndo().empty());
    EXPECT_TRUE(engine->removedArray() && engine->removedArray()->isEmpty());
    ASSERT_EQ(f.alerts.shown(), 1u); // the batch ends at the first item
}

// ---- Failures of single items ----------------------------------------------------------------

TEST(KZRemoveJobs, InjectedErrorsAreCountedAndTheBatchGoesOn)
{
    const std::vector<std::pair<int, QStringList>> cases = {
        // Told once: the volume did not refuse, the permission did.
        {EACCES, {u"permission_not_allowed_sing"_s}},
        {EPERM, {u"permission_not_allowed_sing"_s}},
        {EILSEQ, {u"bad_file_name_sing"_s}},
        {ENAMETOOLONG, {u"bad_file_name_sing"_s}},
        {EBUSY, {u"busy_sing"_s}},
        {EROFS, {u"disk_locked_sing"_s}},
        {platform::folderMoveRefusedByDisk, {u"disk_locked_sing"_s}},
    };
    for (const auto& [err, keys] : cases) {
        for (const bool toTrash : {true, false}) {
            emptyTrash();
            Fixture f;
            const auto all = f.items({{"k/x", 1}, {"d/x", 1}, {"k/y", 2}, {"d/y", 2}});
            const fs::path dest = f.dir.mkdir("dest");
            f.panel->isMoveToTrash = toTrash;
            f.panel->urlToMove = dest;
            const int code = err;
            f.fs->before = [&, code](const std::string& op, const fs::path& path) {
                return (op == "trash" || op == "move") && path == all[1]->storedPath() ? code : 0;
            };
            auto engine = f.engine({all[1], all[3]}, all);
            engine->doMove();
            QStringList shown;
            for (const auto& alert : engine->errorAlerts())
                shown << alert.key;
            EXPECT_EQ(shown, keys) << err << " trash " << toTrash;
            EXPECT_TRUE(fs::exists(f.dir / "d/x")) << err;
            EXPECT_FALSE(fs::exists(f.dir / "d/y")) << err; // the next item still went
            EXPECT_FALSE(all[1]->isRemoved());
            EXPECT_EQ(engine->removedArray()->size(), 1);
            EXPECT_EQ(f.alerts.shown(), 0u);
        }
    }
}

TEST(KZRemoveJobs, ItemsThatChangedSinceTheSearchAreLeftAlone)
{
    const std::vector<std::pair<const char*, std::function<void(const fs::path&)>>> changes = {
        {"size", [](const fs::path& p) {
             const auto st = platform::statPath(p, false);
             kztest::TempDir().write("x", "");
             std::FILE* file = std::fopen(p.c_str(), "ab");
             std::fputs("more", file);
             std::fclose(file);
             const timespec times[2] = {st->accessed, st->modified};
             ::utimensat(AT_FDCWD, p.c_str(), times, 0);
         }},
        {"mtime", [](const fs::path& p) {
             const timespec times[2] = {{0, UTIME_OMIT}, {1000000, 0}};
             ::utimensat(AT_FDCWD, p.c_str(), times, 0);
         }},
        {"inode", [](const fs::path& p) {
             const auto st = platform::statPath(p, false);
             const std::string bytes = kztest::readFile(p);
             // Kept aside, or the new file could get the freed inode number.
             fs::rename(p, p.parent_path() / "aside");
             std::FILE* file = std::fopen(p.c_str(), "wb");
             std::fputs(bytes.c_str(), file);
             std::fclose(file);
             const timespec times[2] = {st->accessed, st->modified};
             ::utimensat(AT_FDCWD, p.c_str(), times, 0);
         }},
        {"vanished", [](const fs::path& p) { fs::remove(p); }},
    };
    for (const auto& [what, change] : changes) {
        for (const bool toTrash : {true, false}) {
            emptyTrash();
            Fixture f;
            f.setLevel(0);
            const auto all = f.items({{"k/x", 1}, {"d/x", 1}});
            f.panel->isMoveToTrash = toTrash;
            f.panel->urlToMove = f.dir.mkdir("dest");
            change(all[1]->url().empty() ? f.dir / "d/x" : all[1]->url());
            const bool vanished = std::string(what) == "vanished";
            auto engine = f.engine({all[1]}, all);
            engine->doMove();
            EXPECT_EQ(fs::exists(f.dir / "d/x"), !vanished) << what;
            EXPECT_EQ(countIn(f.dir / "dest"), 0u) << what;
            EXPECT_FALSE(all[1]->isRemoved()) << what;
            EXPECT_FALSE(engine->removedArray() && !engine->removedArray()->isEmpty()) << what;
            EXPECT_EQ(engine->tally().changed + engine->tally().notFound, 1u) << what;
        }
    }
}

// ---- Renaming -----------------------------------------------------------------------------------

TEST(KZRemoveJobs, ClashesAreNumberedPerBaseNameAcrossTheRun)
{
    Fixture f;
    const fs::path dest = f.dir.mkdir("dest");
    f.dir.write("dest/Report.pdf", "older");
    f.dir.write("dest/Report.txt", "older");
    f.dir.write("dest/Scans/keep", "older");
    const auto all = f.items({{"a/Report.pdf", 1}, {"b/Report.pdf", 1}, {"c/Report.txt", 2}, {"k/Report.txt", 2},
                              {"d/Scans/s", 3}});
    f.panel->isMoveToTrash = false;
    f.panel->renameMove = true;
    f.panel->urlToMove = dest;
    auto engine = f.engine({all[0], all[1], all[2]}, all);
    engine->doMove();
    EXPECT_EQ(kztest::readFile(dest / "Report.pdf"), "older");
    EXPECT_EQ(kztest::readFile(dest / "Report  1.pdf"), "same bytes");
    EXPECT_EQ(kztest::readFile(dest / "Report  2.pdf"), "same bytes");
    EXPECT_EQ(kztest::readFile(dest / "Report  3.txt"), "same bytes");
    EXPECT_EQ(engine->renamedDict().at("Report"), 3u);
    EXPECT_EQ(engine->standardUndo().size(), 3u);
    EXPECT_EQ(engine->standardUndo()[1].currPosition, dest / "Report  2.pdf");
    EXPECT_EQ(engine->removedArray()->size(), 3);

    // A number already taken at the destination is skipped, not replaced.
    Fixture g;
    const fs::path dest2 = g.dir.mkdir("dest");
    g.dir.write("dest/Scans/keep", "older");
    g.dir.write("dest/Scans  1", "a file");
    const auto folder = g.items({{"d/Scans/s", 1}, {"k/Scans/s", 1}});
    ASSERT_TRUE(fs::is_directory(g.dir / "d/Scans"));
    const auto folders = modeltest::makeItems({{.path = g.dir / "d/Scans", .group = 7, .isDirectory = true},
                                               {.path = g.dir / "k/Scans", .group = 7, .isDirectory = true}});
    g.panel->isMoveToTrash = false;
    g.panel->renameMove = true;
    g.panel->urlToMove = dest2;
    auto second = g.engine({folders[0]}, folders);
    second->doMove();
    EXPECT_EQ(kztest::readFile(dest2 / "Scans  1"), "a file");
    EXPECT_EQ(kztest::readFile(dest2 / "Scans  2/s"), "same bytes");
    EXPECT_EQ(kztest::readFile(dest2 / "Scans/keep"), "older");
}

TEST(KZRemoveJobs, WithRenamingOffAClashLeavesTheItemAndCountsIt)
{
    Fixture f;
    const fs::path dest = f.dir.mkdir("dest");
    f.dir.write("dest/Report.pdf", "older");
    const auto all = f.items({{"a/Report.pdf", 1}, {"k/Report.pdf", 1}});
    f.panel->isMoveToTrash = false;
    f.panel->urlToMove = dest;
    auto engine = f.engine({all[0]}, all);
    engine->doMove();
    EXPECT_EQ(kztest::readFile(dest / "Report.pdf"), "older");
    EXPECT_TRUE(fs::exists(f.dir / "a/Report.pdf"));
    EXPECT_EQ(engine->tally().sameName, 1u);
    EXPECT_EQ(f.alerts.shown(), 0u);
    EXPECT_TRUE(engine->removedArray()->isEmpty());
}

TEST(KZRemoveJobs, RenamedItemWithRebuiltFoldersLandsInTheChosenFolder)
{
    Fixture f;
    const fs::path dest = f.dir.mkdir("dest");
    const auto all = f.items({{"a/Report.pdf", 1}, {"k/Report.pdf", 1}});
    const fs::path rebuilt = dest / all[0]->url().relative_path();
    fs::create_directories(rebuilt.parent_path());
    kztest::TempDir scratch;
    fs::copy_file(f.dir / "k/Report.pdf", rebuilt);
    f.panel->isMoveToTrash = false;
    f.panel->renameMove = f.panel->createFolders = true;
    f.panel->urlToMove = dest;
    auto engine = f.engine({all[0]}, all);
    engine->doMove();
    EXPECT_TRUE(fs::exists(dest / "Report  1.pdf"));
    EXPECT_FALSE(fs::exists(f.dir / "a/Report.pdf"));
}

// ---- Copies, deletions, links ------------------------------------------------------------------

TEST(KZRemoveJobs, ACopyLeavesTheSourceUnmarkedAndCountsItsSize)
{
    for (const bool links : {false, true}) {
        Fixture f;
        const fs::path dest = f.dir.mkdir("dest");
        const auto all = f.items({{"a/x", 1}, {"k/x", 1}});
        f.panel->isMoveToTrash = false;
        f.panel->isCreateAlias = links;
        f.panel->mastersAlias = {all[1]};
        f.panel->urlToMove = dest;
        f.panel->itemsToRemove = {all[0]};
        f.panel->resultItems = all;
        KZRemove engine(f.panel, f.fs);
        engine.moveItems({all[0]}, KZRemove::CopyJob, dest);
        EXPECT_EQ(kztest::readFile(dest / "x"), "same bytes");
        EXPECT_EQ(kztest::readFile(f.dir / "a/x"), "same bytes");
        EXPECT_NE(platform::statPath(f.dir / "a/x", false)->inode, platform::statPath(f.dir / "k/x", false)->inode);
        EXPECT_FALSE(all[0]->isRemoved());
        EXPECT_EQ(f.panel->removedSize.load(), 10u);
        ASSERT_EQ(engine.standardUndo().size(), 1u);
        EXPECT_TRUE(engine.standardUndo()[0].isCopy);
        EXPECT_EQ(engine.standardUndo()[0].currPosition, dest / "x");
        EXPECT_EQ(f.alerts.shown(), 0u) << links;
        EXPECT_TRUE(engine.findProcessedItems({all[0]}).isEmpty());
    }
}

TEST(KZRemoveJobs, AMoveAcrossFileSystemsCopiesAndNeverDeletes)
{
    Fixture f;
    const fs::path dest = f.dir.mkdir("dest");
    const auto all = f.items({{"a/x", 1}, {"k/x", 1}});
    f.panel->isMoveToTrash = false;
    f.panel->urlToMove = dest;
    f.fs->before = [](const std::string& op, const fs::path&) { return op == "move" ? EXDEV : 0; };
    auto engine = f.engine({all[0]}, all);
    engine->doMove();
    EXPECT_EQ(kztest::readFile(f.dir / "a/x"), "same bytes");
    EXPECT_EQ(kztest::readFile(dest / "x"), "same bytes");
    EXPECT_FALSE(all[0]->isRemoved());
    EXPECT_TRUE(engine->removedArray()->isEmpty());
    ASSERT_EQ(engine->standardUndo().size(), 1u);
    EXPECT_TRUE(engine->standardUndo()[0].isCopy);
}

TEST(KZRemoveJobs, HardLinksPointTheOldPlaceAtTheKeptCopy)
{
    for (const bool toTrash : {true, false}) {
        emptyTrash();
        Fixture f;
        const auto all = f.items({{"k/x", 1}, {"a/x", 1}, {"b/x", 1}});
        f.setLevel(2);
        f.panel->isMoveToTrash = toTrash;
        f.panel->urlToMove = f.dir.mkdir("dest");
        f.panel->renameMove = true;
        f.panel->isCreateAlias = true;
        f.panel->mastersAlias = {all[0]};
        auto engine = f.engine({all[1], all[2]}, all);
        engine->doMove();
        const auto kept = platform::statPath(f.dir / "k/x", false);
        EXPECT_EQ(kept->links, 3u);
        for (const char* rel : {"a/x", "b/x"})
            EXPECT_EQ(platform::statPath(f.dir / rel, false)->inode, kept->inode) << rel;
        EXPECT_EQ(engine->removedArray()->size(), 2);
        EXPECT_EQ(all[0]->countOfItemsInGroup(), 1u);
    }
}

TEST(KZRemoveJobs, AKeptCopyOnAnotherVolumeGetsNoLinkAndIsCounted)
{
    const std::optional<fs::path> volume = kztest::otherVolume();
    if (!volume)
        GTEST_SKIP() << "no second file system";
    const kztest::TempDir otherDir(*volume);
    const fs::path other = otherDir.path();
    emptyTrash();
    Fixture f;
    std::ofstream(other / "kept") << "same bytes";
    const auto kept = modeltest::makeItems({{.path = other / "kept", .group = 1}});
    const auto local = f.items({{"a/x", 1}});
    f.setLevel(0);
    f.panel->isCreateAlias = true;
    f.panel->mastersAlias = kept;
    auto engine = f.engine(local, KZFoundItemArray{kept[0], local[0]});
    engine->doMove();
    EXPECT_FALSE(fs::exists(f.dir / "a/x"));
    EXPECT_EQ(engine->tally().linkNotSameVolume, 1u);
    EXPECT_EQ(engine->removedArray()->size(), 1);
    EXPECT_EQ(engine->persistentUndo().size(), 1u);
    EXPECT_EQ(f.alerts.shown(), 0u);
}

namespace {

// a/x removed (to the Trash or into "dest") with a link to its kept copy
// k/x left in its place; both items.
KZFoundItemArray linkedToItsKeptCopy(Fixture& f, bool toTrash)
{
    const auto all = f.items({{"k/x", 1}, {"a/x", 1}});
    f.setLevel(0);
    f.panel->isMoveToTrash = toTrash;
    f.panel->urlToMove = f.dir.mkdir("dest");
    f.panel->isCreateAlias = true;
    f.panel->mastersAlias = {all[0]};
    return all;
}

} // namespace

// The link is tried before the item leaves: refused, the item stays where
// it is, whatever the job, and is told as the link not made.
TEST(KZRemoveJobs, ARefusedLinkLeavesTheItemInPlace)
{
    for (const int refusal : {EMLINK, EACCES, EPERM}) {
        for (const bool toTrash : {true, false}) {
            SCOPED_TRACE(std::string(toTrash ? "trash " : "move ") + std::to_string(refusal));
            emptyTrash();
            Fixture f;
            const auto all = linkedToItsKeptCopy(f, toTrash);
            f.fs->before = [refusal](const std::string& op, const fs::path&) { return op == "link" ? refusal : 0; };
            auto engine = f.engine({all[1]}, all);
            engine->doMove();
            EXPECT_EQ(kztest::readFile(f.dir / "a/x"), "same bytes");
            EXPECT_EQ(platform::statPath(f.dir / "a/x", false)->links, 1u);
            EXPECT_EQ(countIn(f.dir / "dest"), 0u);
            EXPECT_EQ(countIn(f.dir / "a"), 1u) << "no hidden link left beside it";
            EXPECT_FALSE(all[1]->isRemoved());
            EXPECT_TRUE(engine->removedArray()->isEmpty());
            EXPECT_TRUE(engine->standardUndo().empty());
            EXPECT_TRUE(engine->persistentUndo().empty());
            EXPECT_EQ(engine->outcomeOf(all[1]), u"link_not_made"_s);
            QStringList shown;
            for (const auto& alert : engine->errorAlerts())
                shown << alert.key;
            EXPECT_EQ(shown, QStringList{u"link_not_made_sing"_s});
            EXPECT_EQ(f.alerts.shown(), 0u);
        }
    }
}

// The link made beside the item cannot take its place after the move (a
// name that appeared there since): a moved item comes back; a trashed one
// keeps its record in the Trash. The hidden link goes either way.
TEST(KZRemoveJobs, ALinkThatCannotTakeThePlaceAfterTheMoveKeepsTheItemsRecord)
{
    for (const bool toTrash : {true, false}) {
        SCOPED_TRACE(toTrash ? "trash" : "move");
        emptyTrash();
        Fixture f;
        const auto all = linkedToItsKeptCopy(f, toTrash);
        f.fs->before = [](const std::string& op, const fs::path& path) {
            return op == "move" && path.filename().native().starts_with(".maravex-link-") ? EACCES : 0;
        };
        auto engine = f.engine({all[1]}, all);
        engine->doMove();
        EXPECT_EQ(f.alerts.shown(), 1u); // the link's own alert, no second one
        EXPECT_EQ(platform::statPath(f.dir / "k/x", false)->links, 1u) << "the hidden link is gone";
        if (toTrash) {
            ASSERT_EQ(engine->persistentUndo().size(), 1u);
            EXPECT_TRUE(fs::exists(engine->persistentUndo()[0].currPosition));
            EXPECT_TRUE(all[1]->isRemoved());
            EXPECT_EQ(engine->removedArray()->size(), 1);
            EXPECT_EQ(countIn(f.dir / "a"), 0u);
        } else {
            EXPECT_EQ(kztest::readFile(f.dir / "a/x"), "same bytes");
            EXPECT_EQ(countIn(f.dir / "dest"), 0u);
            EXPECT_FALSE(all[1]->isRemoved());
            EXPECT_TRUE(engine->standardUndo().empty());
        }
    }
}

TEST(KZRemoveJobs, ASecondRemovalStillFindsTheKeptCopyForItsLink)
{
    emptyTrash();
    Fixture f;
    const auto all = f.items({{"k/x", 1}, {"a/x", 1}, {"b/x", 1}});
    for (const auto& item : all)
        item->setIsMarked(false);
    const auto model = modeltest::makeModel(all);

    all[1]->setIsMarked(true);
    f.panel->isCreateAlias = true;
    f.panel->mastersAlias = model->masterForAliasArrayWithArray({all[1]});
    EXPECT_TRUE(f.panel->mastersAlias.isEmpty()); // another copy stays
    f.engine({all[1]}, all)->doMove();
    ASSERT_FALSE(fs::exists(f.dir / "a/x"));
    EXPECT_EQ(all[0]->countOfItemsInGroup(), 2u);

    Fixture g;
    all[2]->setIsMarked(true);
    g.panel->isCreateAlias = true;
    g.panel->mastersAlias = model->masterForAliasArrayWithArray({all[2]});
    ASSERT_EQ(g.panel->mastersAlias.size(), 1);
    EXPECT_EQ(g.panel->mastersAlias[0], all[0]);
    g.panel->itemsToRemove = {all[2]};
    g.panel->resultItems = all;
    auto second = std::make_shared<KZRemove>(g.panel, g.fs);
    second->doMove();
    EXPECT_EQ(platform::statPath(f.dir / "b/x", false)->inode, platform::statPath(f.dir / "k/x", false)->inode);
    EXPECT_EQ(all[0]->countOfItemsInGroup(), 1u);
}

TEST(KZRemoveJobs, ItemsWithFailedJobsAreNotReportedWithLinksRequested)
{
    emptyTrash();
    Fixture f;
    const auto all = f.items({{"k/x", 1}, {"a/x", 1}, {"b/x", 1}});
    f.setLevel(0);
    f.panel->isCreateAlias = true;
    f.panel->mastersAlias = {all[0]};
    f.fs->before = [&](const std::string& op, const fs::path& path) {
        return op == "trash" && path == all[1]->storedPath() ? EACCES : 0;
    };
    auto engine = f.engine({all[1], all[2]}, all);
    engine->doMove();
    ASSERT_EQ(engine->removedArray()->size(), 1);
    EXPECT_EQ(engine->removedArray()->at(0), all[2]);
    EXPECT_FALSE(all[1]->isRemoved());
}

// ---- Items on volumes that are not local --------------------------------------------------------

TEST(KZRemoveShared, DeletesOnlyWithAStayingCopyOutsideTheRemoval)
{
    Fixture f;
    f.setLevel(0);
    const auto all = f.items({{"k/x", 1}, {"a/x", 1}, {"f/in/y", 2}, {"b/y", 2}, {"c/z", 3}});
    const auto folder = modeltest::makeItems({{.path = f.dir / "f", .group = 9, .isDirectory = true}});
    KZFoundItemArray everything = all;
    everything.append(folder);
    f.fs->local = [](const fs::path&) { return std::optional<bool>(false); };
    f.alerts.presenter->script = [](const KZAlertPresenter::Alert&) {
        return KZAlertPresenter::Answer{KZAlertPresenter::SecondButton};
    };
    // y's other copy lies inside a folder that goes in the same removal, z
    // has no other copy at all.
    auto engine = f.engine({all[1], all[3], folder[0], all[4]}, everything);
    f.panel->itemsArefiles = false;
    engine->doMove();
    EXPECT_TRUE(engine->thereAreShared.load());
    EXPECT_FALSE(fs::exists(f.dir / "a/x"));
    EXPECT_TRUE(fs::exists(f.dir / "b/y"));
    EXPECT_TRUE(fs::exists(f.dir / "c/z"));
    EXPECT_TRUE(fs::exists(f.dir / "f/in/y"));
    EXPECT_EQ(engine->tally().lastMember, 3u);
    EXPECT_EQ(engine->removedArray()->size(), 1);
    EXPECT_EQ(f.alerts.shown(), 1u);
    EXPECT_EQ(f.alerts.presenter->calls[0].alert.cancelButton, KZAlertPresenter::FirstButton);
    EXPECT_EQ(f.panel->statusList().count(u"deleting"_s), 1);
}

TEST(KZRemoveShared, StopAnswerTrashesTheItemsAcceptedBefore)
{
    emptyTrash();
    Fixture f;
    f.setLevel(0);
    const auto all = f.items({{"k/x", 1}, {"a/x", 1}, {"b/x", 1}, {"c/x", 1}});
    f.fs->local = [&](const fs::path& p) { return std::optional<bool>(p != all[2]->url()); };
    auto engine = f.engine({all[1], all[2], all[3]}, all);
    engine->doMove(); // the scripted default answer is the first button, "stop"
    EXPECT_FALSE(fs::exists(f.dir / "a/x"));
    EXPECT_TRUE(fs::exists(f.dir / "b/x"));
    EXPECT_TRUE(fs::exists(f.dir / "c/x"));
    EXPECT_FALSE(engine->thereAreShared.load());
}

// A local volume where no Trash can be used is asked about before anything
// moves, as a volume that is not local is: stopped there, its items stay
// and no error stops the removal half way; agreed to, they are deleted.
TEST(KZRemoveShared, AVolumeWithoutATrashIsAskedAboutBeforeTheStart)
{
    for (const bool agree : {false, true}) {
        SCOPED_TRACE(agree ? "delete them" : "stop");
        emptyTrash();
        Fixture f;
        f.setLevel(0);
        const auto all = f.items({{"k/x", 1}, {"a/x", 1}, {"b/x", 1}});
        f.fs->trashable = [&](const fs::path& p) { return std::optional<bool>(p != all[1]->url()); };
        if (agree)
            f.alerts.presenter->script = [](const KZAlertPresenter::Alert&) {
                return KZAlertPresenter::Answer{KZAlertPresenter::SecondButton};
            };
        auto engine = f.engine({all[1], all[2]}, all);
        engine->doMove();
        ASSERT_EQ(f.alerts.shown(), 1u) << "one question, and no error after it";
        EXPECT_EQ(f.alerts.presenter->calls[0].alert.cancelButton, KZAlertPresenter::FirstButton);
        EXPECT_TRUE(std::none_of(f.fs->calls.begin(), f.fs->calls.end(),
                                 [](const auto& call) { return call.first == "trash"; }))
            << "nothing was sent to a Trash";
        EXPECT_EQ(fs::exists(f.dir / "a/x"), !agree);
        EXPECT_EQ(fs::exists(f.dir / "b/x"), !agree);
        EXPECT_TRUE(fs::exists(f.dir / "k/x"));
        EXPECT_EQ(engine->thereAreShared.load(), agree);
        EXPECT_EQ(countIn(trashFiles()), 0u);
    }
}

TEST(KZRemoveShared, UnreadableLocalityIsCountedNotDropped)
{
    emptyTrash();
    Fixture f;
    f.setLevel(0);
    const auto all = f.items({{"k/x", 1}, {"a/x", 1}, {"b/x", 1}});
    f.fs->local = [&](const fs::path& p) { return p == all[1]->url() ? std::nullopt : std::optional<bool>(true); };
    auto engine = f.engine({all[1], all[2]}, all);
    engine->doMove();
    EXPECT_TRUE(fs::exists(f.dir / "a/x"));
    EXPECT_FALSE(fs::exists(f.dir / "b/x"));
    EXPECT_EQ(engine->tally().notFound, 1u);
}

TEST(KZRemoveShared, StopDuringADeletionBatchLeavesTheRest)
{
    Fixture f;
    f.setLevel(0);
    const auto all = f.items({{"k/x", 1}, {"a/x", 1}, {"b/x", 1}, {"c/x", 1}});
    f.fs->local = [](const fs::path&) { return std::optional<bool>(false); };
    f.alerts.presenter->script = [](const KZAlertPresenter::Alert&) {
        return KZAlertPresenter::Answer{KZAlertPresenter::SecondButton};
    };
    int deletions = 0;
    f.fs->before = [&](const std::string& op, const fs::path&) {
        if (op == "delete" && ++deletions == 2)
            f.panel->wasStopped = true;
        return 0;
    };
    auto engine = f.engine({all[1], all[2], all[3]}, all);
    engine->doMove();
    EXPECT_FALSE(fs::exists(f.dir / "a/x"));
    EXPECT_FALSE(fs::exists(f.dir / "b/x")); // the item in hand is finished
    EXPECT_TRUE(fs::exists(f.dir / "c/x"));
    EXPECT_TRUE(fs::exists(f.dir / "k/x"));
    EXPECT_EQ(f.panel->managedCount.load(), 2u);
}

// ---- The last-member rule ----------------------------------------------------------------------

TEST(KZRemoveSecurity, LevelsDecideTheLastMember)
{
    struct Case {
        int level;
        qint64 answer;
        bool lastGoes;
        quint64 keptCount;
        std::size_t questions;
    };
    const Case cases[] = {
        {0, 0, true, 0, 0},
        {1, KZAlertPresenter::FirstButton, true, 0, 1},
        {1, KZAlertPresenter::SecondButton, false, 0, 1},
        {2, 0, false, 1, 0},
        {3, 0, true, 0, 0},
    };
    for (const Case& c : cases) {
        emptyTrash();
        Fixture f;
        f.setLevel(c.level);
        const qint64 answer = c.answer;
        f.alerts.presenter->script = [answer](const KZAlertPresenter::Alert&) {
            return KZAlertPresenter::Answer{answer ? answer : KZAlertPresenter::FirstButton};
        };
        const auto all = f.items({{"a/x", 1}, {"b/x", 1}, {"c/x", 1}});
        auto engine = f.engine(all, all);
        engine->doMove();
        EXPECT_FALSE(fs::exists(f.dir / "a/x")) << c.level;
        EXPECT_FALSE(fs::exists(f.dir / "b/x")) << c.level;
        EXPECT_EQ(!fs::exists(f.dir / "c/x"), c.lastGoes) << c.level;
        EXPECT_EQ(engine->tally().lastMember, c.keptCount) << c.level;
        EXPECT_EQ(f.alerts.shown(), c.questions) << c.level;
    }
}

TEST(KZRemoveSecurity, ApplyToAllAnswersEveryLaterLastMember)
{
    for (const qint64 answer : {KZAlertPresenter::FirstButton, KZAlertPresenter::SecondButton}) {
        emptyTrash();
        Fixture f;
        f.setLevel(1);
        f.alerts.presenter->script = [answer](const KZAlertPresenter::Alert& alert) {
            EXPECT_TRUE(alert.showsApplyToAll);
            return KZAlertPresenter::Answer{answer, false, true};
        };
        const auto all = f.items({{"a/x", 1}, {"b/x", 1}, {"a/y", 2}, {"b/y", 2}, {"a/z", 3}, {"b/z", 3}});
        auto engine = f.engine(all, all);
        engine->doMove();
        EXPECT_EQ(f.alerts.shown(), 1u);
        const bool go = answer == KZAlertPresenter::FirstButton;
        for (const char* rel : {"b/x", "b/y", "b/z"})
            EXPECT_EQ(!fs::exists(f.dir / rel), go) << rel;
        for (const char* rel : {"a/x", "a/y", "a/z"})
            EXPECT_FALSE(fs::exists(f.dir / rel)) << rel;
    }
}

TEST(KZRemoveSecurity, StopDuringTheCollectionRestoresEveryCounter)
{
    emptyTrash();
    Fixture f;
    f.setLevel(2);
    const auto all = f.items({{"a/x", 1}, {"b/x", 1}, {"c/x", 1}, {"a/y", 2}, {"b/y", 2}});
    std::vector<quint32> before;
    for (const auto& item : all)
        before.push_back(item->countOfItemsInGroup());
    int asked = 0;
    f.fs->before = [&](const std::string& op, const fs::path&) {
        if (op == "locked" && ++asked == 4)
            f.panel->wasStopped = true;
        return 0;
    };
    auto engine = f.engine(all, all);
    engine->doMove();
    for (qsizetype i = 0; i < all.size(); ++i) {
        EXPECT_EQ(all[i]->countOfItemsInGroup(), before[size_t(i)]) << i;
        EXPECT_TRUE(fs::exists(all[i]->storedPath().empty() ? all[i]->url() : all[i]->storedPath())) << i;
    }
    EXPECT_FALSE(engine->removedArray());
    EXPECT_FALSE(f.panel->isWorking.load());
}

TEST(KZRemoveSecurity, LockedItemsStayAndAreReported)
{
    Fixture f;
    f.setLevel(0);
    const auto all = f.items({{"a/x", 1}, {"b/x", 1}, {"c/x", 1}});
    f.fs->before = [](const std::string& op, const fs::path&) { return op == "locked" ? 1 : 0; };
    auto engine = f.engine({all[0], all[1]}, all);
    engine->doMove();
    EXPECT_TRUE(fs::exists(f.dir / "a/x"));
    EXPECT_TRUE(fs::exists(f.dir / "b/x"));
    EXPECT_FALSE(engine->removedArray());
    EXPECT_EQ(engine->errorAlerts(), (std::vector<KZRemove::Alert>{{u"locked_plur"_s, {u"2"_s}}}));

    // Beside items that went, the locked one is still reported.
    Fixture g;
    g.setLevel(0);
    const auto mixed = g.items({{"a/x", 1}, {"b/x", 1}, {"c/x", 1}});
    g.fs->before = [&](const std::string& op, const fs::path& p) { return op == "locked" && p == mixed[0]->url() ? 1 : 0; };
    auto second = g.engine({mixed[0], mixed[1]}, mixed);
    second->doMove();
    EXPECT_TRUE(fs::exists(g.dir / "a/x"));
    EXPECT_FALSE(fs::exists(g.dir / "b/x"));
    EXPECT_EQ(second->errorAlerts(), (std::vector<KZRemove::Alert>{{u"locked_sing"_s, {}}}));
}

// ---- The folder pass ---------------------------------------------------------------------------

TEST(KZRemoveFolder, SameVolumeItemsGoFirstAndOtherVolumesAreCopied)
{
    const std::optional<fs::path> volume = kztest::otherVolume();
    if (!volume)
        GTEST_SKIP() << "no second file system to copy across";
    const kztest::TempDir otherDir(*volume);
    const fs::path other = otherDir.path();
    Fixture f;
    std::ofstream(other / "far") << "same bytes";
    const auto far = modeltest::makeItems({{.path = other / "far", .group = 1}});
    const auto near = f.items({{"near", 1}, {"kept", 1}});
    const auto all = KZFoundItemArray{far[0], near[0], near[1]};
    f.panel->isMoveToTrash = false;
    f.panel->urlToMove = f.dir.mkdir("dest");
    auto engine = f.engine({far[0], near[0]}, all);
    engine->doMove();
    std::vector<std::string> ops;
    for (const auto& [op, path] : f.fs->calls)
        if (op == "move" || op == "copy")
            ops.push_back(op + ":" + path.filename().string());
    EXPECT_EQ(ops, (std::vector<std::string>{"move:near", "copy:far"}));
    EXPECT_TRUE(fs::exists(other / "far"));
    EXPECT_TRUE(fs::exists(f.dir / "dest/far"));
    EXPECT_FALSE(fs::exists(f.dir / "near"));
    ASSERT_TRUE(engine->removedArray());
    EXPECT_EQ(*engine->removedArray(), KZFoundItemArray{near[0]});
    EXPECT_FALSE(far[0]->isRemoved());
}

TEST(KZRemoveFolder, MissingDestinationMovesNothingAndSaysSo)
{
    Fixture f;
    const auto all = f.items({{"a/x", 1}, {"b/x", 1}});
    f.panel->isMoveToTrash = false;
    f.panel->urlToMove = f.dir / "gone";
    auto engine = f.engine({all[0]}, all);
    engine->doMove();
    EXPECT_TRUE(fs::exists(f.dir / "a/x"));
    EXPECT_EQ(f.alerts.shown(), 1u);
    EXPECT_FALSE(f.panel->isWorking.load());
}

// A relative destination names whatever folder the program runs in.
TEST(KZRemoveFolder, ARelativeOrEmptyDestinationMovesNothing)
{
    Fixture f;
    const kztest::TempDir cwd;
    const ScopedWorkingFolder here(cwd.path());
    cwd.mkdir("dest");
    const auto all = f.items({{"a/x", 1}, {"b/x", 1}, {"a/y", 2}, {"b/y", 2}});

    // The pass refuses such a folder as it refuses a missing one.
    f.panel->isMoveToTrash = false;
    f.panel->urlToMove = "dest";
    auto pass = f.engine({all[0], all[2]}, all);
    pass->doMove();
    EXPECT_EQ(countIn(cwd / "dest"), 0u);
    EXPECT_EQ(f.alerts.shown(), 1u);

    // So does the job itself, whoever calls it: every item stays and is told.
    for (const auto& [job, destination] :
         {std::pair{KZRemove::MoveJob, fs::path()}, std::pair{KZRemove::CopyJob, fs::path("dest")},
          std::pair{KZRemove::MoveJob, fs::path("dest")}}) {
        KZRemove engine(f.panel, f.fs);
        EXPECT_EQ(engine.moveItems({all[0], all[2]}, job, destination), KZRemoveCode::noDestination);
        EXPECT_EQ(engine.tally().otherFailure, 2u) << destination;
        EXPECT_EQ(engine.tally().done(), 0u);
        EXPECT_EQ(engine.outcomeOf(all[0]), u"no_destination"_s);
        EXPECT_TRUE(engine.standardUndo().empty());
        EXPECT_EQ(engine.errorAlerts(), (std::vector<KZRemove::Alert>{{u"not_removed_plur"_s, {u"2"_s}}}));
    }
    EXPECT_TRUE(fs::exists(f.dir / "a/x"));
    EXPECT_TRUE(fs::exists(f.dir / "a/y"));
    EXPECT_EQ(countIn(cwd.path()), 1u); // the "dest" folder alone
    EXPECT_EQ(countIn(cwd / "dest"), 0u);
    EXPECT_FALSE(KZRemove(f.panel, f.fs).createDestinationRoot("dest", f.dir / "a/x"));
}

TEST(KZRemoveFolder, FoldersInsideListedFoldersAreLeftToTheirParent)
{
    Fixture f;
    f.dir.write("d/inner/x", "1");
    f.dir.write("k/inner/x", "1");
    const auto items = modeltest::makeItems({{.path = f.dir / "d", .group = 1, .isDirectory = true},
                                             {.path = f.dir / "d/inner", .group = 2, .isDirectory = true},
                                             {.path = f.dir / "k", .group = 1, .isDirectory = true},
                                             {.path = f.dir / "k/inner", .group = 2, .isDirectory = true}});
    f.panel->isMoveToTrash = false;
    f.panel->itemsArefiles = false;
    f.panel->urlToMove = f.dir.mkdir("dest");
    auto engine = f.engine({items[0], items[1]}, items);
    engine->doMove();
    EXPECT_EQ(kztest::readFile(f.dir / "dest/d/inner/x"), "1");
    EXPECT_FALSE(fs::exists(f.dir / "dest/inner"));
    EXPECT_EQ(engine->removedArray()->size(), 2); // the inner folder left with its parent
}

// ---- Destination folder tree ---------------------------------------------------------------------

TEST(KZRemoveFolderTree, RebuildsTheItemsPath)
{
    struct Case {
        const char* source;
        const char* target;
        std::vector<const char*> created;
    };
    const Case cases[] = {
        {"/Users/Shared/Pictures/a.jpg", "Users/Shared/Pictures/a.jpg", {"Users", "Users/Shared", "Users/Shared/Pictures"}},
        {"/Volumes/Disk2/Work/b.doc", "Disk2/Work/b.doc", {"Disk2", "Disk2/Work"}},
        {"/Volumes/Disk2/c.txt", "Disk2/c.txt", {"Disk2"}},
        {"/media/me/Stick/d.txt", "media/me/Stick/d.txt", {"media", "media/me", "media/me/Stick"}},
    };
    for (const Case& c : cases) {
        Fixture f;
        const fs::path dest = f.dir.mkdir("Backup");
        KZRemove engine(f.panel, f.fs);
        const auto target = engine.createDestinationRoot(dest, c.source);
        ASSERT_TRUE(target) << c.source;
        EXPECT_EQ(*target, dest / c.target);
        std::vector<fs::path> expected;
        for (const char* rel : c.created)
            expected.push_back(dest / rel);
        std::vector<fs::path> made;
        for (const KZCreatedFolder& folder : engine.createdFolderUndo()) {
            made.push_back(folder.path);
            EXPECT_TRUE(folder.identity) << folder.path;
            EXPECT_EQ(folder.madeAt, fs::canonical(folder.path));
        }
        EXPECT_EQ(made, expected) << c.source;
        // The second item of the same folder creates nothing.
        EXPECT_EQ(engine.createDestinationRoot(dest, fs::path(c.source).parent_path() / "other"),
                  (dest / c.target).parent_path() / "other");
        EXPECT_EQ(engine.createdFolderUndo().size(), expected.size());
    }
}

TEST(KZRemoveFolderTree, RefusesStepsThatAreNotFolders)
{
    Fixture f;
    const fs::path dest = f.dir.mkdir("Backup");
    const fs::path outside = f.dir.mkdir("outside");
    fs::create_directory_symlink(outside, dest / "Users");
    f.dir.write("Backup/Data", "a file");
    KZRemove engine(f.panel, f.fs);
    EXPECT_FALSE(engine.createDestinationRoot(dest, "/Users/Shared/a.jpg"));
    EXPECT_FALSE(engine.createDestinationRoot(dest, "/Data/b.jpg"));
    EXPECT_EQ(countIn(outside), 0u);
    EXPECT_TRUE(engine.createdFolderUndo().empty());
}

// ---- The report ----------------------------------------------------------------------------------

TEST(KZRemoveReport, OneAlertPerCounterInOrder)
{
    Fixture f;
    KZRemove engine(f.panel, f.fs);
    EXPECT_TRUE(engine.errorAlerts().empty());
    KZRemoveTally tally;
    tally.linkNotSameVolume = 2;
    tally.notFound = 1;
    tally.locked = 3;
    tally.diskLocked = 1;
    tally.noPermission = 1;
    tally.sameName = 1200;
    engine.setTallyForTesting(tally);
    const std::vector<KZRemove::Alert> expected = {
        {u"locked_plur"_s, {u"3"_s}},
        {u"not_found_sing"_s, {}},
        {u"permission_not_allowed_sing"_s, {}},
        {u"disk_locked_sing"_s, {}},
        {u"same_name_plur"_s, {KZNumberUtilities::sharedControl().numberToFormatString(1200)}},
        {u"hard_link_not_same_volume_plur"_s, {u"2"_s}},
    };
    EXPECT_EQ(engine.errorAlerts(), expected);
    engine.showErrors();
    ASSERT_EQ(f.alerts.shown(), expected.size());
    EXPECT_TRUE(f.alerts.presenter->calls[0].alert.messageText.contains(u"3"_s));
}

// ---- One removal at a time ------------------------------------------------------------------------

TEST(KZRemoveEngine, ASecondRemovalIsRefusedWhileOneRuns)
{
    emptyTrash();
    Fixture f;
    f.setLevel(0);
    const auto all = f.items({{"a/x", 1}, {"b/x", 1}, {"c/x", 1}});
    kztest::Gate entered, release;
    f.fs->before = [&](const std::string& op, const fs::path&) {
        if (op == "trash") {
            entered.open();
            release.wait();
        }
        return 0;
    };
    auto first = f.engine({all[0]}, all);
    f.panel->isWorking = true;
    first->startMoving();
    ASSERT_TRUE(entered.wait());
    EXPECT_TRUE(KZRemove::isRemovalRunning());

    auto otherPanel = std::make_shared<RecordingPanel>();
    otherPanel->itemsToRemove = {all[1]};
    otherPanel->isWorking = true;
    auto second = std::make_shared<KZRemove>(otherPanel, std::make_shared<InjectingFileSystem>());
    second->doMove();
    EXPECT_TRUE(second->refused.load());
    EXPECT_FALSE(otherPanel->isWorking.load());
    EXPECT_TRUE(fs::exists(f.dir / "b/x"));
    EXPECT_EQ(f.alerts.shown(), 1u);

    release.open();
    EXPECT_TRUE(kztest::waitUntil([&] { return !f.panel->isWorking.load(); }));
    EXPECT_FALSE(fs::exists(f.dir / "a/x"));
    EXPECT_TRUE(kztest::waitUntil([] { return !KZRemove::isRemovalRunning(); }));
}
