// A saved result reopened days later and removed as the program removes it:
// whatever happened to the kept copies since saving, no content is lost.

#include "removal/RemovalTestSupport.h"

#include "platform/Bookmark.h"
#include "platform/Paths.h"
#include "result/model/KZFoundItemsCntrl.h"
#include "resultfiles/KZSaveResult.h"
#include "resultfiles/KZSavedResultReopen.h"

#include <gtest/gtest.h>

#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

using namespace removaltest;

namespace {

// Writes over a file in place: the same inode.
void overwrite(const fs::path& file, const std::string& content)
{
    std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
}

// Writes over a file and gives it its old dates back.
void rewriteKeepingDates(const fs::path& file, const std::string& content)
{
    const auto st = platform::statPath(file, false);
    overwrite(file, content);
    const timespec times[2] = {st->accessed, st->modified};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    ASSERT_EQ(platform::statPath(file, false)->inode, st->inode);
}

// Pairs of equal files under src/, the first of each kept and the second
// marked, saved as the program saves them; then reopened against the disk
// as it is by then, and removed.
struct ReopenedRemoval : Fixture {
    KZSavedResult saved;
    KZFoundItemArray reopened;
    KZReopenNotes notes;

    std::pair<fs::path, fs::path> pair(const std::string& name, const std::string& content)
    {
        return {dir.write("src/" + name + "-kept", content), dir.write("src/" + name + "-marked", content)};
    }

    void save(const std::vector<std::pair<fs::path, fs::path>>& pairs)
    {
        std::vector<modeltest::ItemShape> shapes;
        for (size_t i = 0; i < pairs.size(); ++i) {
            shapes.push_back({.path = pairs[i].first, .group = qint64(i + 1)});
            shapes.push_back({.path = pairs[i].second, .group = qint64(i + 1), .marked = true});
        }
        for (const KZFoundItemRef& item : modeltest::makeItems(shapes))
            saved.items.push_back(*KZSaveResult::savedItem(item));
        KZSavedSource source;
        source.alias = platform::createBookmark(dir / "src");
        source.wasSearched = true;
        saved.sources = {source};
    }

    void reopen()
    {
        KZReopenedResult result =
            KZSavedResultReopen::rebuild(saved, KZSavedResultReopen::resolveSources(saved.sources), {});
        notes = result.notes;
        // Each found item takes its saved mark from the rebuilt record.
        while (std::unique_ptr<TreeToCheck> node = result.items.takeFirst())
            reopened.append(KZFoundItem::itemWithTreeNode(*node));
    }

    KZFoundItemArray marked() const
    {
        KZFoundItemArray items;
        for (const KZFoundItemRef& item : reopened)
            if (item->isMarked())
                items.append(item);
        return items;
    }

    std::shared_ptr<KZRemove> remove()
    {
        const KZFoundItemArray leaving = marked();
        auto removal = engine(leaving, reopened);
        if (panel->isCreateAlias) {
            auto model = std::make_shared<KZFoundItemsCntrl>(nullptr, QVariantMap());
            model->setAllItems(reopened);
            panel->mastersAlias = model->masterForAliasArrayWithArray(leaving);
        }
        removal->doMove();
        return removal;
    }

    QString outcomeOf(const fs::path& path, const KZRemove& removal) const
    {
        for (const KZFoundItemRef& item : reopened)
            if (item->recordedURL() == path)
                return removal.outcomeOf(item);
        return QStringLiteral("not reopened");
    }
};

void answerDeleteAll(Fixture& f)
{
    f.fs->local = [](const fs::path&) { return std::optional<bool>(false); };
    f.alerts.presenter->script = [](const KZAlertPresenter::Alert&) {
        return KZAlertPresenter::Answer{KZAlertPresenter::SecondButton};
    };
}

} // namespace

// The kept copy rewritten in place with its old size and dates, edited, or
// replaced by a folder of the user's: each marked twin stays, with its
// bytes; an untouched group still loses its marked copy.
TEST(ReopenedRemoval, KeptCopiesChangedSinceSavingKeepTheirTwinsOutOfTheTrash)
{
    emptyTrash();
    ReopenedRemoval f;
    const auto rewritten = f.pair("rewritten", "first bytes");
    const auto edited = f.pair("edited", "second bytes");
    const auto replaced = f.pair("replaced", "third bytes");
    const auto intact = f.pair("intact", "fourth bytes");
    f.save({rewritten, edited, replaced, intact});

    rewriteKeepingDates(rewritten.first, "FIRST BYTES");
    overwrite(edited.first, "SECOND BYTES");
    const timespec later[2] = {{0, UTIME_OMIT}, {time(nullptr) + 60, 0}};
    ::utimensat(AT_FDCWD, edited.first.c_str(), later, 0);
    fs::remove(replaced.first);
    f.dir.write("src/replaced-kept/notes.txt", "the user's");
    f.reopen();
    const auto removal = f.remove();

    EXPECT_EQ(kztest::readFile(rewritten.second), "first bytes");
    EXPECT_EQ(f.outcomeOf(rewritten.second, *removal), QStringLiteral("last_member"));
    EXPECT_EQ(kztest::readFile(edited.second), "second bytes");
    EXPECT_EQ(kztest::readFile(replaced.second), "third bytes");
    EXPECT_EQ(kztest::readFile(replaced.first / "notes.txt"), "the user's");
    EXPECT_FALSE(fs::exists(intact.second));
    EXPECT_EQ(removal->tally().trashed, 1u);
    // The edited copy, and the folder if it was given the file's inode.
    EXPECT_GE(f.notes.keptChanged, 1);
}

// Marked copies renamed in their folders before anything asked where they
// are: one renamed before the result is saved, one after it was reopened.
// Each is followed into the Trash.
TEST(ReopenedRemoval, CopiesRenamedInTheirFoldersAreFollowedThroughSaveReopenAndRemoval)
{
    emptyTrash();
    ReopenedRemoval f;
    const auto beforeSave = f.pair("before-save", "first bytes");
    const auto afterReopen = f.pair("after-reopen", "second bytes");
    const fs::path savedAs = f.dir / "src/before-save-renamed";
    std::vector<modeltest::ItemShape> shapes;
    for (const auto& [kept, marked] : {beforeSave, afterReopen}) {
        shapes.push_back({.path = kept, .group = qint64(shapes.size() + 1)});
        shapes.push_back({.path = marked, .group = qint64(shapes.size()), .marked = true});
    }
    const KZFoundItemArray found = modeltest::makeItems(shapes);
    fs::rename(beforeSave.second, savedAs);
    for (const KZFoundItemRef& item : found)
        f.saved.items.push_back(*KZSaveResult::savedItem(item));
    KZSavedSource source;
    source.alias = platform::createBookmark(f.dir / "src");
    source.wasSearched = true;
    f.saved.sources = {source};

    f.reopen();
    ASSERT_EQ(f.marked().size(), 2);
    const fs::path reopenedAs = f.dir / "src/after-reopen-renamed";
    fs::rename(afterReopen.second, reopenedAs);
    const auto removal = f.remove();

    EXPECT_EQ(removal->tally().trashed, 2u);
    EXPECT_EQ(removal->tally().notFound, 0u);
    for (const fs::path& gone : {savedAs, reopenedAs, beforeSave.second, afterReopen.second})
        EXPECT_FALSE(fs::exists(gone)) << gone;
    EXPECT_EQ(kztest::readFile(beforeSave.first), "first bytes");
    EXPECT_EQ(kztest::readFile(afterReopen.first), "second bytes");
}

// The same comparison before a permanent deletion, and before a move that
// leaves a hard link to the kept copy.
TEST(ReopenedRemoval, DeletionsAndMovesWithLinksCompareTheBytesToo)
{
    for (const bool deleteAll : {true, false}) {
        SCOPED_TRACE(deleteAll ? "deleted for good" : "moved, linked");
        ReopenedRemoval f;
        const auto rewritten = f.pair("rewritten", "same size");
        const auto intact = f.pair("intact", "untouched");
        f.save({rewritten, intact});
        rewriteKeepingDates(rewritten.first, "SAME SIZE");
        f.reopen();
        if (deleteAll) {
            answerDeleteAll(f);
        } else {
            f.panel->isMoveToTrash = false;
            f.panel->urlToMove = f.dir.mkdir("dest");
            f.panel->isCreateAlias = true;
        }
        const auto removal = f.remove();

        EXPECT_EQ(kztest::readFile(rewritten.second), "same size");
        EXPECT_EQ(f.outcomeOf(rewritten.second, *removal), QStringLiteral("last_member"));
        EXPECT_EQ(removal->tally().done(), 1u);
        if (!deleteAll) {
            EXPECT_EQ(kztest::readFile(f.dir / "dest/intact-marked"), "untouched");
            EXPECT_EQ(platform::statPath(intact.second, false)->inode, platform::statPath(intact.first, false)->inode)
                << "the link points at the kept copy";
        }
    }
}

// A saved search of a photo library, reopened and removed: its files are
// only ever tagged in the library, which cannot be reached here.
TEST(ReopenedRemoval, APhotoLibrarySearchMovesNoFileOutOfThePackage)
{
    emptyTrash();
    ReopenedRemoval f;
    const fs::path library = f.dir / "src/Photos.photoslibrary";
    const fs::path a = f.dir.write("src/Photos.photoslibrary/Masters/a.jpg", "picture");
    const fs::path b = f.dir.write("src/Photos.photoslibrary/Masters/b.jpg", "picture");
    KZSavedItem kept, marked;
    for (auto [record, path, isMarked] : {std::tuple(&kept, a, false), std::tuple(&marked, b, true)}) {
        record->alias = platform::createBookmark(path);
        record->groupId = 1;
        record->countOfItemsInGroup = 2;
        record->isMarked = isMarked;
        record->isPhotosItem = true;
        record->trackID = QVariant(QString::fromStdString(path.stem().string()));
    }
    f.saved.items = {kept, marked};
    KZSavedSource source;
    source.alias = platform::createBookmark(library);
    source.isPhotosLib = true;
    f.saved.sources = {source};
    f.reopen();
    ASSERT_EQ(f.marked().size(), 1);
    for (const bool trash : {true, false}) {
        f.panel->isMoveToTrash = trash;
        f.panel->urlToMove = f.dir.mkdir("dest");
        const auto removal = f.remove();
        EXPECT_TRUE(fs::exists(a) && fs::exists(b));
        EXPECT_EQ(removal->tally().done(), 0u);
        EXPECT_EQ(f.outcomeOf(b, *removal), QStringLiteral("not_tagged"));
    }
    EXPECT_EQ(countIn(trashFiles()), 0u);
    EXPECT_EQ(countIn(f.dir / "dest"), 0u);
}

// A reopened item acts where it was checked: its folder swapped for a link
// between the check and the act never sends the removal to another file.
TEST(ReopenedRemoval, AFolderSwappedForALinkNeverRedirectsTheRemoval)
{
    for (const char* op : {"trash", "move"}) {
        emptyTrash();
        ReopenedRemoval f;
        f.setLevel(0);
        const fs::path kept = f.dir.write("src/k/x", "same bytes");
        const fs::path marked = f.dir.write("src/d/x", "same bytes");
        f.dir.write("src/other/x", "another folder's file");
        const quint64 inode = platform::statPath(marked, false)->inode;
        f.save({{kept, marked}});
        f.reopen();
        ASSERT_EQ(f.marked().size(), 1);
        const std::string step = op;
        const fs::path dest = f.dir.mkdir("dest");
        f.panel->isMoveToTrash = step == "trash";
        f.panel->urlToMove = dest;
        f.fs->before = [&](const std::string& o, const fs::path& path) {
            if (o == step && path == marked) {
                fs::rename(f.dir / "src/d", f.dir / "src/d.aside");
                fs::create_directory_symlink(f.dir / "src/other", f.dir / "src/d");
            }
            return 0;
        };
        auto removal = f.remove();
        SCOPED_TRACE(op);
        ASSERT_TRUE(fs::is_symlink(f.dir / "src/d")) << "the folder was swapped";
        EXPECT_EQ(kztest::readFile(f.dir / "src/other/x"), "another folder's file");
        EXPECT_EQ(kztest::readFile(kept), "same bytes");
        EXPECT_FALSE(fs::exists(f.dir / "src/d.aside/x"));
        if (step == "trash") {
            ASSERT_EQ(removal->persistentUndo().size(), 1u);
            EXPECT_EQ(removal->persistentUndo()[0].inode, inode);
        } else {
            EXPECT_EQ(platform::statPath(dest / "x", false)->inode, inode);
        }
    }
}

// A result saved from a search of a folder inside a photo library (a plain
// source, plain records) reopens with the library's files as library items:
// no job takes a master out of the package.
TEST(ReopenedRemoval, AFolderInsideAPhotoLibraryLosesNoMasterOnAnyJob)
{
    emptyTrash();
    ReopenedRemoval f;
    f.setLevel(0);
    const fs::path masters = f.dir.mkdir("src/Lib.photoslibrary/Masters");
    const fs::path a = f.dir.write("src/Lib.photoslibrary/Masters/a.jpg", "picture");
    const fs::path b = f.dir.write("src/Lib.photoslibrary/Masters/b.jpg", "picture");
    f.save({{a, b}});
    f.saved.sources[0].alias = platform::createBookmark(masters);
    f.reopen();
    ASSERT_EQ(f.reopened.size(), 2);
    ASSERT_EQ(f.marked().size(), 1);
    for (const KZFoundItemRef& item : f.reopened)
        EXPECT_TRUE(item->isPhotosItem()) << item->url();
    for (const bool trash : {true, false}) {
        f.panel->isMoveToTrash = trash;
        f.panel->urlToMove = f.dir.mkdir("dest");
        const auto removal = f.remove();
        EXPECT_TRUE(fs::exists(a) && fs::exists(b));
        EXPECT_EQ(removal->tally().done(), 0u);
        EXPECT_EQ(f.outcomeOf(b, *removal), QStringLiteral("not_tagged"));
    }
    EXPECT_EQ(countIn(trashFiles()), 0u);
    EXPECT_EQ(countIn(f.dir / "dest"), 0u);
}

// A result saved with its folder named through a link (as every result was
// before sources were taken where their links lead) reopens where the link
// leads: the marked copy leaves, and none is taken for changed. A removal
// follows no link, so the old paths reached nothing.
TEST(ReopenedRemoval, ASourceNamedThroughALinkIsRemovedWhereTheLinkLeads)
{
    emptyTrash();
    ReopenedRemoval f;
    const fs::path top = fs::canonical(f.dir.path());
    const fs::path kept = f.dir.write("real/src/k", "linked pair");
    const fs::path marked = f.dir.write("real/src/m", "linked pair");
    fs::create_directory_symlink(top / "real", top / "link");
    f.save({{top / "link/src/k", top / "link/src/m"}});
    f.saved.sources[0].alias = platform::createBookmark(top / "link/src");
    f.reopen();
    ASSERT_EQ(f.marked().size(), 1);
    EXPECT_EQ(f.marked()[0]->url(), top / "real/src/m");
    const auto removal = f.remove();
    EXPECT_EQ(removal->tally().trashed, 1u);
    EXPECT_EQ(removal->tally().changed, 0u);
    EXPECT_FALSE(fs::exists(marked));
    EXPECT_EQ(kztest::readFile(kept), "linked pair");
}

// The kernel's own file systems hold no user files: a saved source on one is
// not taken back, and a record there is dropped whatever its source.
TEST(ReopenedRemoval, NothingOnTheKernelsOwnFileSystemsComesBack)
{
    ReopenedRemoval f;
    const fs::path status = "/proc/" + std::to_string(::getpid()) + "/status";
    KZSavedSource proc;
    proc.alias = platform::createBookmark(status.parent_path());
    EXPECT_TRUE(KZSavedResultReopen::resolveSources({proc}).empty());

    const fs::path copy = f.dir.write("src/status", "copy");
    f.save({{copy, status}});
    f.saved.sources[0].alias = platform::createBookmark("/");
    f.reopen();
    EXPECT_EQ(f.notes.outsideSources, 1);
    for (const KZFoundItemRef& item : f.reopened)
        EXPECT_FALSE(platform::isInsideFolder(item->url(), "/proc")) << item->url();
    EXPECT_TRUE(f.marked().isEmpty());
}

// A reopened result's folders found empty after a removal leave for the
// Trash with the registered settings, as they would before the save; one
// that has been given a file since stays with it.
TEST(ReopenedRemoval, EmptyFoldersOfTheResultLeaveWhileTheyAreStillEmpty)
{
    emptyTrash();
    ReopenedRemoval f;
    const fs::path trip = f.dir.mkdir("src/Trip");
    const fs::path scans = f.dir.mkdir("src/Scans");
    const fs::path filled = f.dir.mkdir("src/Filled");
    std::vector<modeltest::ItemShape> shapes;
    for (const fs::path& folder : {trip, scans, filled})
        shapes.push_back({.path = folder, .group = 0, .marked = true, .isDirectory = true});
    f.saved.emptyFolders.emplace();
    for (const KZFoundItemRef& item : modeltest::makeItems(shapes))
        f.saved.emptyFolders->push_back(*KZSaveResult::savedItem(item));
    f.save({f.pair("kept", "bytes")});
    f.dir.write("src/Filled/new.txt", "the user's");

    KZReopenedResult result =
        KZSavedResultReopen::rebuild(f.saved, KZSavedResultReopen::resolveSources(f.saved.sources), {});
    ASSERT_TRUE(result.emptyFolders.has_value());
    KZFoundItemArray folders;
    while (std::unique_ptr<TreeToCheck> node = result.emptyFolders->takeFirst())
        folders.append(KZFoundItem::itemWithTreeNode(*node));
    ASSERT_EQ(folders.size(), 2) << "a folder no longer empty is not reopened as one";
    for (const KZFoundItemRef& folder : folders)
        folder->setIsMarked(true);
    // Filled after the reopening, before the removal.
    f.dir.write("src/Scans/late.txt", "later still");
    f.panel->itemsArefiles = false;
    const auto removal = f.engine(folders, folders);
    removal->doMove();

    EXPECT_FALSE(fs::exists(trip));
    EXPECT_EQ(kztest::readFile(scans / "late.txt"), "later still");
    EXPECT_EQ(kztest::readFile(filled / "new.txt"), "the user's");
    EXPECT_EQ(removal->tally().trashed, 1u);
    EXPECT_EQ(removal->tally().lastMember, 0u) << "an empty folder is nobody's last copy";
}
