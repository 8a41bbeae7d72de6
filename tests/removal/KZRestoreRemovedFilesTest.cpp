#include "RemovalTestSupport.h"

#include "platform/Bookmark.h"
#include "platform/FolderAttributes.h"
#include "platform/NotificationCenter.h"
#include "platform/OperationQueue.h"
#include "platform/PropertyList.h"
#include "removal/KZRestoreRemovedFiles.h"
#include "removal/KZUndoFile.h"
#include "result/model/KZListNotifications.h"

#include <gtest/gtest.h>

#include <QVariantMap>

#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

using namespace removaltest;
using Result = KZRestoreRemovedFiles::ItemResult;

namespace {

// What a removal records of the folder `item` leaves.
std::optional<platform::FolderAttributes> folderOf(const fs::path& item)
{
    const int fd = ::open(item.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    const auto attributes = platform::FolderAttributes::of(fd);
    ::close(fd);
    return attributes;
}

// Trashes `item` the way a removal does and answers its record.
KZPersistentUndoRecord trashWithRecord(const fs::path& item, bool alias = false)
{
    KZPersistentUndoRecord record;
    record.oldPosition = item;
    record.aliasWasCreated = alias;
    record.oldFolderAttributes = folderOf(item);
    const auto moved = platform::moveToTrash(item);
    EXPECT_TRUE(moved) << item;
    record.currPosition = *moved;
    record.bookmark = platform::createBookmark(*moved);
    return record;
}

// The record of a copy the removal made at `copy`, described as it is now.
KZUndoMovedItem copyRecord(const fs::path& copy, const fs::path& original)
{
    return KZUndoMovedItem{copy, original, false, true, KZCopyIdentity::capture(copy)};
}

bool hasTrashInfo(const fs::path& trashed)
{
    return fs::exists(trashed.parent_path().parent_path() / "info" / (trashed.filename().string() + ".trashinfo"));
}

// Every list of result items a restore names as back, while it lives.
class RestoredNames
{
public:
    std::vector<KZFoundItemArray> all()
    {
        std::lock_guard guard(lock_);
        return named_;
    }

private:
    std::mutex lock_;
    std::vector<KZFoundItemArray> named_;
    platform::Subscription told_ = platform::NotificationCenter::defaultCenter().addObserver(
        KZNotification::itemsWereRestored, platform::bundleIdentifier(), [this](const platform::Notification& note) {
            std::lock_guard guard(lock_);
            named_.push_back(KZFoundItemsOfVariant(note.userInfo.value(u"removedItems"_s)));
        });
};

void setTimes(const fs::path& path, time_t seconds)
{
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

// Its date only where it is the trashed folder itself.
void expectFolderAsLeft(const fs::path& folder, mode_t mode, uid_t owner, gid_t group,
                        std::optional<time_t> seconds = std::nullopt)
{
    const auto st = platform::statPath(folder, false);
    ASSERT_TRUE(st && st->isDir()) << folder;
    EXPECT_EQ(st->mode & 07777, mode) << folder;
    EXPECT_EQ(st->uid, owner) << folder;
    EXPECT_EQ(st->gid, group) << folder;
    if (seconds) {
        EXPECT_EQ(st->modified.tv_sec, *seconds) << folder;
    }
}

// D (0700) holds f1, f2 and sub (0750) holding g, all of `owner` and `group`. Their
// files leave, then D itself, emptied: every way back gives D and sub the
// owner and mode they had, never the open mode of a new folder, and the
// dates they had where the restore takes back the folder's removal too.
void putBackAPrivateFolder(const fs::path& top, uid_t owner, gid_t group)
{
    const char* const ways[] = {"both restored at once, oldest first", "the files' removal, then the folder's",
                                "undo of the files' move"};
    for (int w = 0; w < 3; ++w) {
        const char* const way = ways[w];
        SCOPED_TRACE(way);
        emptyTrash();
        const fs::path d = top / ("D" + std::to_string(w));
        const std::vector<fs::path> files = {d / "f1", d / "f2", d / "sub/g"};
        for (const fs::path& file : files) {
            fs::create_directories(file.parent_path());
            std::ofstream(file) << "private";
        }
        for (const auto& entry : fs::recursive_directory_iterator(d))
            ASSERT_EQ(::lchown(entry.path().c_str(), owner, group), 0);
        ASSERT_EQ(::lchown(d.c_str(), owner, group), 0);
        ASSERT_EQ(::chmod((d / "sub").c_str(), 0750), 0);
        ASSERT_EQ(::chmod(d.c_str(), 0700), 0);

        const bool undo = w == 2;
        std::vector<KZPersistentUndoRecord> trashed;
        KZUndoDict moved;
        for (const fs::path& file : files) {
            if (!undo) {
                trashed.push_back(trashWithRecord(file));
                continue;
            }
            const fs::path dest = top / "dest" / file.filename();
            fs::create_directories(dest.parent_path());
            KZUndoMovedItem record{dest, file};
            record.oldFolderAttributes = folderOf(file);
            fs::rename(file, dest);
            moved.standardUndo.push_back(std::move(record));
        }
        setTimes(d / "sub", 1000000000);
        setTimes(d, 1100000000);
        // From the empty folders' tab, later.
        const auto folder = trashWithRecord(d);
        ASSERT_FALSE(fs::exists(d));

        KZRestoreRemovedFiles restore;
        if (undo) {
            EXPECT_EQ(restore.doUndoMove(moved).restored, 3u);
        } else {
            const fs::path filesUndo = writeUndoFile(trashed, 100);
            const fs::path folderUndo = writeUndoFile({folder}, 200);
            if (w == 0) {
                EXPECT_EQ(restore.restoreFiles({filesUndo, folderUndo}).restored, 4u);
            } else {
                EXPECT_EQ(restore.restoreFiles({filesUndo}).restored, 3u);
                expectFolderAsLeft(d, 0700, owner, group);
                EXPECT_EQ(restore.restoreFiles({folderUndo}).restored, 1u);
            }
            EXPECT_EQ(countIn(trashFiles()), 0u) << "the trashed folder is merged into the one made";
        }
        for (const fs::path& file : files)
            EXPECT_EQ(kztest::readFile(file), "private");
        const bool asTrashed = w == 0;
        expectFolderAsLeft(d, 0700, owner, group, asTrashed ? std::optional<time_t>(1100000000) : std::nullopt);
        expectFolderAsLeft(d / "sub", 0750, owner, group,
                           asTrashed ? std::optional<time_t>(1000000000) : std::nullopt);
    }
    emptyTrash();
}

} // namespace

TEST(KZUndoFile, ARemovalToTheTrashWritesExactlyTheRecordedKeys)
{
    emptyTrash();
    Fixture f;
    const auto all = f.items({{"keep/a.txt", 1}, {"dup/a.txt", 1}, {"keep/b.txt", 2}, {"dup/b.txt", 2}});
    auto engine = f.engine({all[1], all[3]}, all);
    engine->doMove();
    ASSERT_EQ(engine->persistentUndo().size(), 2u);
    // The pass itself records what it trashed; take that file away to look
    // at one written with known roots.
    const auto written = KZUndoFile::list(homeTrash());
    ASSERT_EQ(written.size(), 1u) << "a Trash pass leaves exactly one undo file";
    fs::remove(written[0]);
    fs::remove(homeTrash() / "info" / (written[0].filename().string() + ".trashinfo"));

    KZRestoreRemovedFiles restore;
    restore.addRootPathWithTag(3, f.dir.path());
    restore.addRootPathWithTag(3, f.dir / "keep"); // the first root of a tag stays
    restore.registerRemoval(*engine, true);

    const auto files = KZUndoFile::list(homeTrash());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(hasTrashInfo(files[0]));
    EXPECT_TRUE(files[0].filename().string().starts_with(".Maravex4_"));
    const auto root = platform::PropertyList::readDictionary(files[0]);
    ASSERT_TRUE(root);
    EXPECT_EQ(root->keys(), (QStringList{u"rootData"_s, u"undoItems"_s}));
    const QVariantList roots = root->value(u"rootData"_s).toList();
    ASSERT_EQ(roots.size(), 1);
    EXPECT_EQ(platform::resolveBookmark(roots[0].toByteArray())->path, f.dir.path());
    const QVariantList items = root->value(u"undoItems"_s).toList();
    ASSERT_EQ(items.size(), 2);
    for (int i = 0; i < 2; ++i) {
        const QVariantMap entry = items[i].toMap();
        EXPECT_EQ(entry.keys(),
                  (QStringList{u"aliasWasCreated"_s, u"currPosition"_s, u"oldFolder"_s, u"oldPosition"_s}));
        EXPECT_EQ(entry.value(u"oldPosition"_s).toString().toStdString(), engine->persistentUndo()[i].oldPosition);
        // The folder the item left, as it was then: no ACL, none written.
        const auto dup = platform::statPath(f.dir / "dup", false);
        const QVariantMap folder = entry.value(u"oldFolder"_s).toMap();
        EXPECT_EQ(folder.keys(), (QStringList{u"group"_s, u"mode"_s, u"owner"_s}));
        EXPECT_EQ(folder.value(u"owner"_s).toLongLong(), qint64(dup->uid));
        EXPECT_EQ(folder.value(u"group"_s).toLongLong(), qint64(dup->gid));
        EXPECT_EQ(folder.value(u"mode"_s).toLongLong(), qint64(dup->mode & 07777));
        EXPECT_EQ(entry.value(u"aliasWasCreated"_s).typeId(), QMetaType::Bool);
        EXPECT_EQ(platform::resolveBookmark(entry.value(u"currPosition"_s).toByteArray())->path,
                  engine->persistentUndo()[i].currPosition);
    }

    // Everything of that removal comes back from the file.
    const auto result = restore.restoreFiles(files);
    EXPECT_EQ(result.restored, 2u);
    EXPECT_EQ(kztest::readFile(f.dir / "dup/a.txt"), "same bytes");
    EXPECT_EQ(kztest::readFile(f.dir / "dup/b.txt"), "same bytes");
    EXPECT_EQ(countIn(trashFiles()), 0u);
    EXPECT_EQ(countIn(homeTrash() / "info"), 0u);
}

TEST(KZUndoFile, NamesNeverReplaceAnEarlierFileAndReadBackTheirMoment)
{
    emptyTrash();
    kztest::TempDir dir;
    const auto a = trashWithRecord(dir.write("a", "1"));
    const auto b = trashWithRecord(dir.write("b", "2"));
    // Two removals in the same instant, and a stranger's file at the next name.
    const fs::path first = writeUndoFile({a}, 5000.5);
    fs::create_directories(trashFiles());
    kztest::TempDir().write("x", "");
    const std::string taken = KZUndoFile::fileNameFor(5000.501).toStdString();
    { std::ofstream(trashFiles() / taken) << "not ours"; }
    const fs::path second = writeUndoFile({b}, 5000.5);
    EXPECT_NE(first, second);
    EXPECT_NE(second.filename(), taken);
    EXPECT_EQ(kztest::readFile(trashFiles() / taken), "not ours");
    EXPECT_EQ(KZUndoFile::read(first)->entries.size(), 1u);
    EXPECT_EQ(KZUndoFile::list(homeTrash()).size(), 3u);
    EXPECT_FALSE(KZUndoFile::write(homeTrash(), {}, {}, 1.0)); // nothing moved, nothing written

    const struct {
        QString name;
        double seconds;
    } names[] = {{u".Maravex4_"_s, 0}, {u".Maravex4_abc"_s, 0}, {u".Maravex4_12.5"_s, 12.5},
                 {u".Maravex4_12.5.2"_s, 12.5}, {u".Maravex4_786853123.250000"_s, 786853123.25}};
    for (const auto& n : names)
        EXPECT_DOUBLE_EQ(KZUndoFile::secondsOfFileName(n.name), n.seconds) << n.name.toStdString();
}

TEST(KZRestoreRemovedFiles, RegistersAnUndoOnlyForItemsThatCanBeTakenBack)
{
    const struct {
        const char* label;
        KZUndoDict dict;
        bool trash;
        quint64 count;
    } cases[] = {
        {"moved and music", {{{"/a", "/b"}, {"/c", "/d"}}, {{"/e", "/f"}}, {{"/g"}}}, false, 3},
        {"created folders only", {{}, {}, {{"/g"}, {"/g/h"}}}, false, 0},
        {"nothing", {}, true, 0},
    };
    for (const auto& c : cases) {
        std::vector<QVariantMap> posted;
        auto sub = platform::NotificationCenter::defaultCenter().addObserver(
            u"registerRemovedUndo"_s, {}, [&](const platform::Notification& n) { posted.push_back(n.userInfo); });
        KZRestoreRemovedFiles restore;
        EXPECT_EQ(restore.implementUndoWithAction(c.dict, c.trash), c.count) << c.label;
        ASSERT_EQ(posted.size(), c.count ? 1u : 0u) << c.label;
        if (c.count) {
            EXPECT_EQ(posted[0].value(u"undoCount"_s).toULongLong(), c.count);
            EXPECT_EQ(posted[0].value(u"isTrashAction"_s).toBool(), c.trash);
            EXPECT_EQ(posted[0].value(u"undoDict"_s).value<KZUndoDict>().createdFolderUndo.size(), 1u);
        }
    }
}

// Each case builds a tree, undoes one record and checks that every byte the
// user had is still somewhere it can be found.
TEST(KZRestoreRemovedFiles, UndoPutsItemsBackAndNeverLosesAFile)
{
    struct Case {
        const char* label;
        std::function<KZUndoMovedItem(kztest::TempDir&)> build;
        Result expected;
        std::function<void(kztest::TempDir&)> check;
    };
    const std::vector<Case> cases = {
        {"moved back, parent made again",
         [](kztest::TempDir& d) { return KZUndoMovedItem{d.write("dest/a", "A"), d / "gone/deep/a"}; },
         Result::Restored, [](kztest::TempDir& d) { EXPECT_EQ(kztest::readFile(d / "gone/deep/a"), "A"); }},
        {"old place occupied",
         [](kztest::TempDir& d) {
             d.write("src/a", "user");
             return KZUndoMovedItem{d.write("dest/a", "A"), d / "src/a"};
         },
         Result::Occupied,
         [](kztest::TempDir& d) {
             EXPECT_EQ(kztest::readFile(d / "src/a"), "user");
             EXPECT_EQ(kztest::readFile(d / "dest/a"), "A");
         }},
        {"no old place", [](kztest::TempDir& d) { return KZUndoMovedItem{d.write("dest/a", "A"), {}}; },
         Result::NoOldPosition, [](kztest::TempDir& d) { EXPECT_EQ(kztest::readFile(d / "dest/a"), "A"); }},
        {"copy of a present original",
         [](kztest::TempDir& d) {
             d.write("src/a", "A");
             return copyRecord(d.write("dest/a", "A"), d / "src/a");
         },
         Result::CopyDeleted,
         [](kztest::TempDir& d) {
             EXPECT_FALSE(fs::exists(d / "dest/a"));
             EXPECT_EQ(kztest::readFile(d / "src/a"), "A");
         }},
        {"copy whose original vanished",
         [](kztest::TempDir& d) { return KZUndoMovedItem{d.write("dest/a", "A"), d / "src/a", false, true}; },
         Result::Restored, [](kztest::TempDir& d) { EXPECT_EQ(kztest::readFile(d / "src/a"), "A"); }},
        {"the removal's link gives way",
         [](kztest::TempDir& d) {
             fs::create_hard_link(d.write("keep/a", "A"), d.mkdir("src") / "a");
             return KZUndoMovedItem{d.write("dest/a", "A"), d / "src/a", true};
         },
         Result::Restored,
         [](kztest::TempDir& d) {
             EXPECT_EQ(kztest::readFile(d / "src/a"), "A");
             EXPECT_EQ(fs::hard_link_count(d / "keep/a"), 1u);
             EXPECT_EQ(countIn(d / "src"), 1u);
         }},
        {"a user's file took the link's place",
         [](kztest::TempDir& d) {
             d.write("src/a", "user's");
             return KZUndoMovedItem{d.write("dest/a", "A"), d / "src/a", true};
         },
         Result::Occupied,
         [](kztest::TempDir& d) {
             EXPECT_EQ(kztest::readFile(d / "src/a"), "user's");
             EXPECT_EQ(kztest::readFile(d / "dest/a"), "A");
         }},
        {"folder merged into the one now there",
         [](kztest::TempDir& d) {
             d.write("src/f/clash", "user");
             d.write("dest/f/clash", "mine");
             d.write("dest/f/sub/new", "N");
             return KZUndoMovedItem{d / "dest/f", d / "src/f"};
         },
         Result::Occupied,
         [](kztest::TempDir& d) {
             EXPECT_EQ(kztest::readFile(d / "src/f/clash"), "user");
             EXPECT_EQ(kztest::readFile(d / "dest/f/clash"), "mine");
             EXPECT_EQ(kztest::readFile(d / "src/f/sub/new"), "N");
         }},
        {"volume not mounted",
         [](kztest::TempDir& d) {
             d.mkdir("media/me");
             return KZUndoMovedItem{d.write("dest/a", "A"), d / "media/me/USB/docs/a"};
         },
         Result::MissingVolume,
         [](kztest::TempDir& d) {
             EXPECT_FALSE(fs::exists(d / "media/me/USB"));
             EXPECT_EQ(kztest::readFile(d / "dest/a"), "A");
         }},
        {"volume not mounted, straight under the base",
         [](kztest::TempDir& d) {
             d.mkdir("media");
             return KZUndoMovedItem{d.write("dest/a", "A"), d / "media/USB/a"};
         },
         Result::MissingVolume, [](kztest::TempDir& d) { EXPECT_FALSE(fs::exists(d / "media/USB")); }},
        {"nothing left to put back", [](kztest::TempDir& d) { return KZUndoMovedItem{d / "dest/a", d / "src/a"}; },
         Result::Missing, [](kztest::TempDir&) {}},
    };
    for (const auto& c : cases) {
        kztest::TempDir dir;
        KZRestoreRemovedFiles restore;
        restore.setMountBases({dir / "media"});
        const auto results = restore.undoMovedFiles({c.build(dir)}, false);
        ASSERT_EQ(results.size(), 1u);
        EXPECT_EQ(results[0], c.expected) << c.label;
        c.check(dir);
        EXPECT_EQ(restore.managedCount.load(), 1u);
        EXPECT_EQ(restore.restoredItems.load(), c.expected == Result::Restored ? 1u : 0u) << c.label;
    }
}

TEST(KZRestoreRemovedFiles, CreatedFoldersGoDeepestFirstAndOnlyWhenEmpty)
{
    kztest::TempDir dir;
    dir.mkdir("d/a/b/c");
    dir.write("d/x/users.txt", "U");
    KZRestoreRemovedFiles restore;
    // The list order puts parents first: they must still go.
    restore.removeCreatedFolders({{dir / "d"}, {dir / "d/a"}, {dir / "d/a/b"}, {dir / "d/a/b/c"}, {dir / "d/x"}});
    EXPECT_FALSE(fs::exists(dir / "d/a"));
    EXPECT_EQ(kztest::readFile(dir / "d/x/users.txt"), "U");
}

TEST(KZRestoreRemovedFiles, QueuedUndoPutsBackEveryListAndEndsWorking)
{
    kztest::TempDir dir;
    KZUndoDict dict;
    for (int i = 0; i < 3; ++i)
        dict.standardUndo.push_back({dir.write("dest/s" + std::to_string(i), "S"), dir / ("src/s" + std::to_string(i))});
    dict.itunesUndo.push_back({dir.write("dest/m", "M"), dir / "music/m"});
    dict.createdFolderUndo.push_back({dir / "dest"});
    KZRestoreRemovedFiles restore;
    restore.undoMove(dict);
    restore.waitUntilIdle();
    EXPECT_FALSE(restore.isWorking.load());
    EXPECT_EQ(restore.totToManage.load(), 4u);
    EXPECT_EQ(restore.managedCount.load(), 4u);
    // The music track is back on disk but the library was not told.
    EXPECT_EQ(restore.restoredItems.load(), 3u);
    EXPECT_EQ(restore.itunesNotAvailableCount.load(), 1u);
    EXPECT_EQ(kztest::readFile(dir / "music/m"), "M");
    EXPECT_FALSE(fs::exists(dir / "dest"));
}

// The result is told which of its items are back at their places: never
// one whose place is taken, nor one whose copy was only deleted.
TEST(KZRestoreRemovedFiles, AnUndoNamesTheResultItemsBackInPlace)
{
    Fixture f;
    const KZFoundItemArray items = f.items({{"src/a", 1}, {"src/b", 1}, {"music/m", 2}, {"src/c", 3}});
    const auto moveAway = [&f](const std::string& rel) {
        const fs::path moved = f.dir / "dest" / fs::path(rel).filename();
        fs::create_directories(moved.parent_path());
        fs::rename(f.dir / rel, moved);
        return moved;
    };
    KZUndoDict dict;
    dict.standardUndo.push_back({.currPosition = moveAway("src/a"), .oldPosition = f.dir / "src/a",
                                 .foundItem = items[0]});
    // Something new took the old place meanwhile.
    dict.standardUndo.push_back({.currPosition = moveAway("src/b"), .oldPosition = f.dir / "src/b",
                                 .foundItem = items[1]});
    f.dir.write("src/b", "new");
    dict.standardUndo.push_back(copyRecord(f.dir.write("dest/c", "same bytes"), f.dir / "src/c"));
    dict.standardUndo.back().foundItem = items[3];
    dict.itunesUndo.push_back({.currPosition = moveAway("music/m"), .oldPosition = f.dir / "music/m",
                               .foundItem = items[2]});
    // A record of no result's item goes back without being named.
    dict.standardUndo.push_back({f.dir.write("dest/x", "X"), f.dir / "src/x"});

    RestoredNames told;
    KZRestoreRemovedFiles restore;
    restore.undoMove(dict);
    restore.waitUntilIdle();
    const std::vector<KZFoundItemArray> named = told.all();
    ASSERT_EQ(named.size(), 1u);
    EXPECT_EQ(named.front(), (KZFoundItemArray{items[0], items[2]}));
    EXPECT_EQ(kztest::readFile(f.dir / "src/b"), "new");
    EXPECT_EQ(kztest::readFile(f.dir / "src/x"), "X");
}

// A restore from the Trash names the result's items that this run trashed
// and that are back: not one whose place is taken, nor one no result holds.
TEST(KZRestoreRemovedFiles, ARestoreNamesTheTrashedResultItemsBackInPlace)
{
    emptyTrash();
    Fixture f;
    KZFoundItemArray all = f.items({{"keep/a", 1}, {"dup/a", 1}, {"dup/b", 1}, {"dup/c", 1}});
    f.engine({all[1], all[2], all[3]}, all)->doMove();
    f.panel->itemsToRemove.clear();
    f.panel->resultItems.clear();
    ASSERT_FALSE(fs::exists(f.dir / "dup/a"));
    f.dir.write("dup/b", "new");
    const std::weak_ptr<KZFoundItem> closed = all[3];
    // A bookmark being made holds its item until it is done.
    KZFoundItemFactsQueue().waitUntilAllOperationsAreFinished();
    all[3].reset();
    ASSERT_TRUE(closed.expired()) << "the result that held it is gone";

    RestoredNames told;
    KZRestoreRemovedFiles& restore = KZRestoreRemovedFiles::sharedControl();
    restore.restoreItemsOfFile(KZUndoFile::list(homeTrash()), {});
    restore.waitUntilIdle();
    const std::vector<KZFoundItemArray> named = told.all();
    ASSERT_EQ(named.size(), 1u);
    EXPECT_EQ(named.front(), KZFoundItemArray{all[1]});
    EXPECT_EQ(kztest::readFile(f.dir / "dup/c"), "same bytes");
    EXPECT_EQ(kztest::readFile(f.dir / "dup/b"), "new");
    emptyTrash();
}

// Two hard-linked names are one file in the Trash but two entries of the
// result: a restore names each back, also when a killed restore had already
// put one of them in place.
TEST(KZRestoreRemovedFiles, ARestoreNamesBothHardLinkedNamesBack)
{
    for (const bool oneBackAlready : {false, true}) {
        SCOPED_TRACE(oneBackAlready ? "one already back" : "both in the Trash");
        emptyTrash();
        Fixture f;
        f.dir.write("dup/a", "same bytes");
        ASSERT_EQ(::link((f.dir / "dup/a").c_str(), (f.dir / "dup/b").c_str()), 0);
        const KZFoundItemArray all = f.items({{"keep/a", 1}, {"dup/a", 1}, {"dup/b", 1}});
        f.engine({all[1], all[2]}, all)->doMove();
        f.panel->itemsToRemove.clear();
        f.panel->resultItems.clear();
        ASSERT_FALSE(fs::exists(f.dir / "dup/a"));
        ASSERT_FALSE(fs::exists(f.dir / "dup/b"));
        if (oneBackAlready) {
            const auto files = KZUndoFile::list(homeTrash());
            ASSERT_EQ(files.size(), 1u);
            const auto contents = KZUndoFile::read(files[0]);
            ASSERT_TRUE(contents);
            for (const auto& entry : contents->entries)
                if (entry.oldPosition == f.dir / "dup/b")
                    fs::rename(platform::resolveBookmark(entry.currPosition)->path, f.dir / "dup/b");
            ASSERT_TRUE(fs::exists(f.dir / "dup/b"));
        }

        RestoredNames told;
        KZRestoreRemovedFiles& restore = KZRestoreRemovedFiles::sharedControl();
        restore.restoreItemsOfFile(KZUndoFile::list(homeTrash()), {});
        restore.waitUntilIdle();
        const std::vector<KZFoundItemArray> named = told.all();
        ASSERT_EQ(named.size(), 1u);
        KZFoundItemArray back = named.front();
        std::sort(back.begin(), back.end(), [](const auto& x, const auto& y) { return x->url() < y->url(); });
        EXPECT_EQ(back, (KZFoundItemArray{all[1], all[2]}));
        EXPECT_EQ(fs::hard_link_count(f.dir / "dup/a"), 2u);
        EXPECT_TRUE(fs::equivalent(f.dir / "dup/a", f.dir / "dup/b"));
    }
    emptyTrash();
}

namespace {

// Where the ordinary user's part of a case below, run in a process of its
// own, finds the folder it works in, and the undo files it restores (one a
// line).
constexpr const char* kUsersFolderVar = "KZ_TEST_USERS_FOLDER";
constexpr const char* kUndoFilesVar = "KZ_TEST_UNDO_FILES";

// Runs the case `name` of the suite KZRestoreRemovedFilesAsUser in a
// process of its own that is the ordinary user 65534, with its Trash in
// `dataHome`, given `folder` and `undoFiles`; answers whether it passed.
bool passesAsOrdinaryUser(const fs::path& dataHome, const std::string& name, const fs::path& folder,
                          const std::vector<fs::path>& undoFiles = {})
{
    std::string files;
    for (const fs::path& file : undoFiles)
        files += file.native() + "\n";
    return passesAsUserAfresh(65534, dataHome, "KZRestoreRemovedFilesAsUser." + name,
                              {std::string(kUsersFolderVar) + "=" + folder.native(),
                               std::string(kUndoFilesVar) + "=" + files});
}

} // namespace

TEST(KZRestoreRemovedFilesAsUser, DISABLED_PutsBackItsPrivateFolder)
{
    if (!actingAsTheUserTold())
        GTEST_SKIP() << "runs only in the process KZRestoreRemovedFiles.AFolderMadeWhereItsTrashedFolderWaitsIsThatFolder starts";
    putBackAPrivateFolder(toldPath(kUsersFolderVar), 65534, 65534);
}

// Restores, outside the group of its folder G, the file G/f and then G.
TEST(KZRestoreRemovedFilesAsUser, DISABLED_PutsBackAFolderOfAGroupItIsNotIn)
{
    if (!actingAsTheUserTold())
        GTEST_SKIP() << "runs only in the process KZRestoreRemovedFiles.AFolderMadeWhereItsTrashedFolderWaitsIsThatFolder starts";
    std::vector<fs::path> undoFiles;
    const char* told = std::getenv(kUndoFilesVar);
    std::istringstream lines(told ? told : "");
    for (std::string line; std::getline(lines, line);)
        undoFiles.emplace_back(line);
    ASSERT_EQ(undoFiles.size(), 2u);
    const fs::path g = toldPath(kUsersFolderVar) / "G";
    EXPECT_EQ(KZRestoreRemovedFiles().restoreFiles(undoFiles).restored, 2u);
    expectFolderAsLeft(g, 0700, 65534, 65534);
    EXPECT_EQ(kztest::readFile(g / "f"), "private");
}

// Restore and Undo that make a folder where a trashed folder of that place
// waits make that folder: as root for another user's folder, and as the
// ordinary user who owns it. One who cannot give the folder its group
// makes it private.
TEST(KZRestoreRemovedFiles, AFolderMadeWhereItsTrashedFolderWaitsIsThatFolder)
{
    kztest::UserFolder dir;
    if (::geteuid() != 0) {
        putBackAPrivateFolder(dir / "mine", ::geteuid(), ::getegid());
        return;
    }
    putBackAPrivateFolder(dir / "theirs", 1234, 1234);
    ::chmod(dir.path().c_str(), 0777);
    const bool owned = passesAsOrdinaryUser(dir / "data", "DISABLED_PutsBackItsPrivateFolder", dir / "user");
    EXPECT_TRUE(owned) << "as the ordinary user who owns the folder";

    // The user's folder G, of a group the user is not in, left for the Trash
    // after its file.
    const fs::path g = dir / "user/G";
    const fs::path file = dir.write("user/G/f", "private");
    std::vector<fs::path> undoFiles;
    {
        kztest::EnvGuard data("XDG_DATA_HOME");
        ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
        emptyTrash();
        ASSERT_EQ(::chmod(g.c_str(), 0750), 0);
        ASSERT_EQ(::lchown(g.c_str(), 65534, 1234), 0);
        undoFiles.push_back(writeUndoFile({trashWithRecord(file)}, 1000.0));
        undoFiles.push_back(writeUndoFile({trashWithRecord(g)}, 2000.0));
        for (const auto& entry : fs::recursive_directory_iterator(dir / "data")) {
            if (entry.path().filename() != "G") {
                ASSERT_EQ(::lchown(entry.path().c_str(), 65534, 65534), 0);
            }
        }
    }
    const bool grouped = passesAsOrdinaryUser(dir / "data", "DISABLED_PutsBackAFolderOfAGroupItIsNotIn", dir / "user",
                                              undoFiles);
    EXPECT_TRUE(grouped) << "as an ordinary user outside the folder's group";
}

TEST(KZRestoreRemovedFiles, RestoreKeepsWhatCouldNotGoBackInTheFile)
{
    emptyTrash();
    kztest::TempDir dir;
    const auto back = trashWithRecord(dir.write("src/back", "B"));
    const auto occupied = trashWithRecord(dir.write("src/occupied", "O"));
    const auto emptied = trashWithRecord(dir.write("src/emptied", "E"));
    const auto replaced = trashWithRecord(dir.write("src/replaced", "R"));
    const fs::path file = writeUndoFile({back, occupied, emptied, replaced}, 1000.0);
    dir.write("src/occupied", "user");
    fs::remove(emptied.currPosition);
    // A different file later took the Trash name of a recorded item; inode
    // numbers are often reused at once, so it may even carry the old one.
    fs::remove(replaced.currPosition);
    KZUndoFile::removeTrashInfoOf(replaced.currPosition);
    const fs::path stranger = dir.write("elsewhere/replaced", "stranger");
    ASSERT_EQ(platform::moveToTrash(stranger), replaced.currPosition);

    KZRestoreRemovedFiles restore;
    const auto result = restore.restoreFiles({file});
    EXPECT_EQ(result.restored, 1u);
    EXPECT_EQ(result.skipped, 3u);
    EXPECT_EQ(kztest::readFile(dir / "src/back"), "B");
    EXPECT_FALSE(hasTrashInfo(back.currPosition));
    EXPECT_EQ(kztest::readFile(dir / "src/occupied"), "user");
    EXPECT_EQ(kztest::readFile(occupied.currPosition), "O");
    EXPECT_EQ(kztest::readFile(replaced.currPosition), "stranger");
    EXPECT_FALSE(fs::exists(dir / "src/replaced"));

    // The occupied entry waits for its place. The entry whose Trash name now
    // holds a stranger's file is kept too when the stranger carries the old
    // inode (the file is not ours to judge), and dropped when it does not.
    const auto left = KZUndoFile::read(file);
    ASSERT_TRUE(left);
    ASSERT_GE(left->entries.size(), 1u);
    ASSERT_LE(left->entries.size(), 2u);
    EXPECT_EQ(left->entries[0].oldPosition, dir / "src/occupied");

    // Once the place is free that entry goes back; with the stranger gone
    // too, nothing is left and the file goes.
    fs::remove(dir / "src/occupied");
    EXPECT_EQ(restore.restoreFiles({file}).restored, 1u);
    EXPECT_EQ(kztest::readFile(dir / "src/occupied"), "O");
    fs::remove(replaced.currPosition);
    KZUndoFile::removeTrashInfoOf(replaced.currPosition);
    EXPECT_EQ(restore.restoreFiles({file}).restored, 0u);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_FALSE(hasTrashInfo(file));
}

TEST(KZRestoreRemovedFiles, DamagedAndCraftedFilesMoveNothingAndAreKept)
{
    emptyTrash();
    kztest::TempDir dir;
    const fs::path userFile = dir.write("home/precious", "P");
    const auto good = trashWithRecord(dir.write("src/good", "G"));
    fs::create_directories(trashFiles());
    const fs::path garbage = trashFiles() / ".Maravex4_1";
    { std::ofstream(garbage) << "<plist><dict><key>undoItems"; }

    const QByteArray userBookmark = platform::createBookmark(userFile);
    const QByteArray goodBookmark = good.bookmark;
    const QVariantList items{
        QVariantMap{{u"currPosition"_s, goodBookmark}, {u"oldPosition"_s, u"relative/path"_s}},
        QVariantMap{{u"currPosition"_s, goodBookmark}, {u"oldPosition"_s, QString::fromStdString((dir / "src/../x").string())}},
        QVariantMap{{u"currPosition"_s, goodBookmark}, {u"oldPosition"_s, 12}},
        QVariantMap{{u"currPosition"_s, u"not data"_s}, {u"oldPosition"_s, QString::fromStdString((dir / "y").string())}},
        QVariantMap{{u"currPosition"_s, goodBookmark}, {u"oldPosition"_s, QString::fromStdString((dir / "z").string())},
                    {u"aliasWasCreated"_s, u"yes"_s}},
        // Points outside the Trash: the user's file must not move.
        QVariantMap{{u"currPosition"_s, userBookmark}, {u"oldPosition"_s, QString::fromStdString((dir / "w").string())}},
        QString(u"not a dictionary"_s),
    };
    const fs::path crafted = trashFiles() / ".Maravex4_2";
    ASSERT_TRUE(platform::PropertyList::writeFile(crafted, QVariantMap{{u"rootData"_s, QVariantList{}}, {u"undoItems"_s, items}},
                                                  platform::PropertyList::Format::Xml));

    KZRestoreRemovedFiles restore;
    const auto result = restore.restoreFiles({garbage, crafted});
    EXPECT_EQ(result.restored, 0u);
    ASSERT_EQ(result.unreadable.size(), 1u);
    EXPECT_TRUE(fs::exists(garbage));
    EXPECT_EQ(kztest::readFile(userFile), "P");
    EXPECT_EQ(kztest::readFile(good.currPosition), "G");
    for (const char* name : {"x", "y", "z", "w"})
        EXPECT_FALSE(fs::exists(dir / name)) << name;
    const auto kept = KZUndoFile::read(crafted);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->entries.size(), items.size());
}

TEST(KZRestoreRemovedFiles, RestoringSeveralFilesReportsTheTotalOnce)
{
    emptyTrash();
    kztest::TempDir dir;
    std::vector<fs::path> files;
    for (int f = 0; f < 3; ++f) {
        std::vector<KZPersistentUndoRecord> records;
        for (int i = 0; i <= f; ++i)
            records.push_back(trashWithRecord(dir.write("src/" + std::to_string(f) + "_" + std::to_string(i), "x")));
        files.push_back(writeUndoFile(records, 100.0 + f));
    }
    // An undo file whose items are all gone from the Trash.
    fs::remove(trashWithRecord(dir.write("src/lost", "L")).currPosition);

    std::vector<QVariantMap> posted;
    KZRestoreRemovedFiles restore;
    std::mutex textsMutex;
    QStringList texts;
    restore.setInfoTextObserver([&](const QString& text) {
        std::lock_guard guard(textsMutex);
        texts << text;
    });
    auto sub = platform::NotificationCenter::defaultCenter().addObserver(
        u"updateRestoredList"_s, platform::NotificationObject(&restore),
        [&](const platform::Notification& n) { posted.push_back(n.userInfo); });
    restore.restoreItemsOfFile(files, {2, 1, 0});
    restore.waitUntilIdle();
    // Each removal is named while it is read, then while its items go back.
    const QStringList expected{u"Preparing removal 1…"_s, u"Putting back the items of removal 1…"_s,
                               u"Preparing removal 2…"_s, u"Putting back the items of removal 2…"_s,
                               u"Preparing removal 3…"_s, u"Putting back the items of removal 3…"_s};
    {
        std::lock_guard guard(textsMutex);
        EXPECT_EQ(texts.join(u'|').toStdString(), expected.join(u'|').toStdString());
    }
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].value(u"restoredItems"_s).toULongLong(), 6u);
    EXPECT_EQ(posted[0].value(u"indexes"_s).toList(), (QVariantList{2, 1, 0}));
    EXPECT_FALSE(restore.isWorking.load());
    EXPECT_EQ(restore.infoText(), QStringLiteral("Putting back the items of removal 3…")); // the last file's number
    EXPECT_TRUE(KZUndoFile::list(homeTrash()).empty());
    EXPECT_EQ(countIn(dir / "src"), 6u);
}

TEST(KZRestoreRemovedFiles, LockedCopiesStayAndAreToldOnce)
{
    kztest::TempDir dir;
    ScopedAlerts alerts;
    KZUndoDict dict;
    for (const char* name : {"a", "b"}) {
        dir.write(std::string("src/") + name, "A");
        dict.standardUndo.push_back(copyRecord(dir.write(std::string("dest/") + name, "A"), dir / "src" / name));
    }
    if (!kztest::setImmutable(dir / "dest/a", true) || !kztest::setImmutable(dir / "dest/b", true))
        GTEST_SKIP() << "no immutable flag here";
    KZRestoreRemovedFiles restore;
    restore.doUndoMove(dict);
    kztest::setImmutable(dir / "dest/a", false);
    kztest::setImmutable(dir / "dest/b", false);
    EXPECT_EQ(restore.lockedCount.load(), 2u);
    EXPECT_EQ(alerts.shown(), 1u);
    EXPECT_TRUE(fs::exists(dir / "dest/a"));
    EXPECT_EQ(kztest::readFile(dir / "src/a"), "A");
}

TEST(KZUndoFile, AFailedWriteIsToldAndLeavesNothingBehind)
{
    emptyTrash();
    ScopedAlerts alerts;
    kztest::TempDir dir;
    KZPersistentUndoRecord record;
    record.oldPosition = dir / "a";
    record.bookmark = QByteArray("b");
    fs::create_directories(homeTrash());
    { std::ofstream(trashFiles()) << "a file where the folder should be"; }
    KZRestoreRemovedFiles restore;
    EXPECT_FALSE(restore.createPermanentFile({record}));
    EXPECT_EQ(alerts.shown(), 1u);
    EXPECT_EQ(countIn(homeTrash() / "info"), 0u);
    fs::remove(trashFiles());
}

// A file name is bytes: one that is no UTF-8 goes back under the very same
// bytes, from the undo files written now and from those written before,
// which held the name as text with the undecodable bytes replaced.
TEST(KZRestoreRemovedFiles, NamesThatAreNotUtf8GoBackByteForByte)
{
    emptyTrash();
    kztest::TempDir d;
    const fs::path odd = d.write(std::string("caf\xe9 \xff.txt"), "written now");
    const fs::path older = d.write(std::string("\xe9t\xe9"), "written before");
    const fs::path plain = d.write("plain.txt", "plain");
    const auto file = writeUndoFile({trashWithRecord(odd), trashWithRecord(plain)}, 10.0);
    const auto oldFile = writeUndoFile({trashWithRecord(older)}, 20.0);
    // The old form, as it lies in the Trash today.
    auto old = KZUndoFile::read(oldFile);
    ASSERT_TRUE(old);
    old->entries[0].raw.insert(u"oldPosition"_s, QString::fromStdString(older.native()));
    ASSERT_TRUE(KZUndoFile::rewrite(oldFile, old->rootData, old->entries));

    const auto written = KZUndoFile::read(file);
    ASSERT_TRUE(written);
    ASSERT_EQ(written->entries.size(), 2u);
    EXPECT_TRUE(written->entries[0].valid);
    EXPECT_EQ(written->entries[0].oldPosition, odd);
    EXPECT_EQ(written->entries[1].raw.value(u"oldPosition"_s).typeId(), QMetaType::QString)
        << "a name that is text stays text";

    KZRestoreRemovedFiles engine;
    const auto result = engine.restoreFiles({file, oldFile});
    EXPECT_EQ(result.restored, 3u);
    EXPECT_EQ(result.notRestored.total(), 0u);
    EXPECT_EQ(kztest::readFile(odd), "written now");
    EXPECT_EQ(kztest::readFile(older), "written before");
    EXPECT_EQ(countIn(trashFiles()), 0u);
    EXPECT_TRUE(KZUndoFile::list(homeTrash()).empty());
}

namespace {

// f and g went to the Trash; an editor then saved f there the way editors
// save: a new file written beside it and renamed over it (a new inode
// under the same name, whose .trashinfo still names f's place). Restore
// keeps f's entry listed, as changed, each time, and puts g back.
void anEditorsSaveInTheTrash(const fs::path& top)
{
    emptyTrash();
    const fs::path f = top / "src/f";
    const fs::path g = top / "src/g";
    fs::create_directories(top / "src");
    std::ofstream(f) << "first";
    std::ofstream(g) << "g";
    const auto trashedF = trashWithRecord(f);
    const fs::path undo = writeUndoFile({trashedF, trashWithRecord(g)}, 1000.0);
    const fs::path saved = trashedF.currPosition.parent_path() / ".f.swp";
    std::ofstream(saved) << "saved in the Trash";
    ASSERT_EQ(::rename(saved.c_str(), trashedF.currPosition.c_str()), 0);

    KZRestoreRemovedFiles restore;
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        const auto result = restore.restoreFiles({undo});
        EXPECT_EQ(result.restored, run == 0 ? 1u : 0u);
        EXPECT_EQ(result.notRestored.changed, 1u);
        EXPECT_EQ(result.notRestored.gone, 0u);
        EXPECT_EQ(result.notRestored.reasonKey(), u"not_restored_changed"_s);
        const auto left = KZUndoFile::read(undo);
        ASSERT_TRUE(left) << "the entry stays listed";
        ASSERT_EQ(left->entries.size(), 1u);
        EXPECT_EQ(left->entries[0].oldPosition, f);
    }
    EXPECT_EQ(kztest::readFile(g), "g");
    EXPECT_FALSE(fs::exists(f)) << "what is no longer surely the item stays in the Trash";
    EXPECT_EQ(kztest::readFile(trashedF.currPosition), "saved in the Trash");
    EXPECT_TRUE(hasTrashInfo(trashedF.currPosition));
    emptyTrash();
}

} // namespace

TEST(KZRestoreRemovedFilesAsUser, DISABLED_KeepsListedAnItemAnEditorSavedInTheTrash)
{
    if (!actingAsTheUserTold())
        GTEST_SKIP() << "runs only in the process KZRestoreRemovedFiles.AnItemAnEditorSavedInTheTrashStaysListed starts";
    anEditorsSaveInTheTrash(toldPath(kUsersFolderVar));
}

TEST(KZRestoreRemovedFiles, AnItemAnEditorSavedInTheTrashStaysListed)
{
    kztest::UserFolder dir;
    anEditorsSaveInTheTrash(dir / "mine");
    if (::geteuid() != 0)
        return;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    EXPECT_TRUE(passesAsOrdinaryUser(dir / "data", "DISABLED_KeepsListedAnItemAnEditorSavedInTheTrash", dir / "user"))
        << "as the ordinary user";
}

namespace {

// An undo file of `records` written at `seconds`, each entry marked as put
// back from a disk that may have been a copy: kept for the disk itself.
fs::path keptForTheDiskItself(const std::vector<KZPersistentUndoRecord>& records, double seconds)
{
    const fs::path file = writeUndoFile(records, seconds);
    auto contents = KZUndoFile::read(file);
    EXPECT_TRUE(contents);
    if (!contents)
        return file;
    for (KZUndoFile::Entry& entry : contents->entries)
        entry.raw.insert(u"putBackOnPossibleCopy"_s, true);
    EXPECT_TRUE(KZUndoFile::rewrite(file, contents->rootData, contents->entries));
    return file;
}

bool onlyEntryIsListed(const fs::path& file)
{
    const auto contents = KZUndoFile::read(file);
    return contents && contents->entries.size() == 1 && KZRestoreRemovedFiles::isListed(contents->entries[0], file);
}

} // namespace

// A record kept for the disk itself is listed, and acted on, only where the
// Trash item at its name is that record's own: its .trashinfo names its
// place and a deletion before the record was written, and its kind is the
// one recorded. An item trashed there again later and a folder in its place
// are another's: the record stays, unlisted. Its name free on the disk
// itself, the record has done its work and goes.
TEST(KZRestoreRemovedFiles, AKeptRecordClaimsOnlyItsOwnTrashItem)
{
    struct Case {
        const char* name;
        double recordAfterTrashing; // seconds from the trashing to the record
        bool folderInItsPlace;
        bool nameFreed;
        bool listed;
        bool done;
    };
    for (const Case& c : {Case{"its own item", 60, false, false, true, false},
                          Case{"trashed again after the record", -3600, false, false, false, false},
                          Case{"a folder at its name", 60, true, false, false, false},
                          Case{"its name free", 60, false, true, false, true}}) {
        SCOPED_TRACE(c.name);
        emptyTrash();
        kztest::TempDir d;
        const auto record = trashWithIdentity(d.write("src/x", "x bytes"));
        const fs::path file = keptForTheDiskItself({record}, KZUndoFile::nowSinceReferenceDate() + c.recordAfterTrashing);
        if (c.folderInItsPlace) {
            fs::remove(record.currPosition);
            fs::create_directories(record.currPosition);
        }
        if (c.nameFreed)
            fs::remove(record.currPosition);
        EXPECT_EQ(onlyEntryIsListed(file), c.listed);
        EXPECT_EQ(listedRecords(homeTrash()), c.listed ? 1u : 0u);
        EXPECT_EQ(fs::exists(file), !c.done);
        if (c.done)
            continue;
        const auto result = KZRestoreRemovedFiles().restoreFiles({file});
        EXPECT_EQ(result.restored, c.listed ? 1u : 0u);
        EXPECT_EQ(result.notRestored.total(), 0u) << result.notRestored.reasonKey().toStdString();
        EXPECT_EQ(fs::exists(file), !c.listed) << "kept for the disk itself until its own item went back";
        EXPECT_EQ(fs::exists(record.oldPosition), c.listed);
    }
}

// The same item trashed, put back from a disk that may be a copy (its
// record kept for the disk itself), then trashed again to the same Trash
// name: one Trash item, listed by the later record alone, put back once
// and told once; the kept record stays for the disk itself, unlisted.
TEST(KZRestoreRemovedFiles, ATrashItemIsNeverListedByTwoRecords)
{
    emptyTrash();
    kztest::TempDir d;
    const fs::path item = d.write("src/x", "x bytes");
    const auto first = trashWithIdentity(item);
    const fs::path kept = keptForTheDiskItself({first}, KZUndoFile::nowSinceReferenceDate() - 3600);
    ASSERT_TRUE(platform::restoreFromTrash(first.currPosition, first.oldPosition));
    const auto again = trashWithIdentity(item);
    ASSERT_EQ(again.currPosition, first.currPosition) << "the same Trash name";
    const fs::path later = writeUndoFile({again}, KZUndoFile::nowSinceReferenceDate() + 60);

    EXPECT_FALSE(onlyEntryIsListed(kept));
    EXPECT_TRUE(onlyEntryIsListed(later));
    EXPECT_EQ(listedRecords(homeTrash()), 1u);
    const auto result = KZRestoreRemovedFiles().restoreFiles({kept, later});
    EXPECT_EQ(result.restored, 1u);
    EXPECT_EQ(result.notRestored.total(), 0u) << result.notRestored.reasonKey().toStdString();
    EXPECT_EQ(kztest::readFile(item), "x bytes");
    EXPECT_TRUE(fs::exists(kept));
    EXPECT_FALSE(fs::exists(later));
    EXPECT_EQ(listedRecords(homeTrash()), 0u);
}
