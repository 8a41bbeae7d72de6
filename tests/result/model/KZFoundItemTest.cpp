#include "result/model/KZFoundItem.h"

#include "ModelTestSupport.h"
#include "TestSupport.h"
#include "platform/Bookmark.h"
#include "platform/ChildProcess.h"
#include "platform/FinderInfo.h"
#include "platform/OperationQueue.h"
#include "result/model/KZColumnKeys.h"
#include "result/model/KZFindFolding.h"
#include "result/model/KZFoundListFinder.h"
#include "result/model/KZItemGroups.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>

namespace fs = std::filesystem;
using modeltest::ItemShape;
using modeltest::makeItem;
using modeltest::makeItems;

namespace {

void drainFacts()
{
    KZFoundItemFactsQueue().waitUntilAllOperationsAreFinished();
}

// Occupies every thread of the facts queue while it lives, so that a test
// can count what gets queued behind it.
class FactsQueueBlocker {
public:
    FactsQueueBlocker()
    {
        for (int i = 0; i < 4; ++i) // at least the queue's width
            KZFoundItemFactsQueue().addOperation([this] { gate_.wait(); });
    }
    ~FactsQueueBlocker()
    {
        gate_.open();
        drainFacts();
    }

private:
    kztest::Gate gate_;
};

} // namespace

TEST(KZFoundItem, ColumnKeysAnswerTypedValues)
{
    kztest::TempDir dir;
    const fs::path file = dir.write("photo.txt", std::string(9, 'x'));
    modeltest::setModified(file, 1600000000);
    const KZFoundItemRef item = makeItem({.path = file, .group = 42, .label = 3, .marked = true});

    const QVariant cases[][2] = {
        {item->valueForUndefinedKey(KZColumnKey::name_col), QStringLiteral("photo.txt")},
        {item->valueForUndefinedKey(KZColumnKey::size_col), QVariant::fromValue<quint64>(9)},
        {item->valueForUndefinedKey(KZColumnKey::location_tag_col), QVariant::fromValue<qint16>(3)},
        {item->valueForUndefinedKey(KZColumnKey::check_col), QVariant::fromValue<int>(1)}, // not a boolean
        {item->valueForUndefinedKey(KZColumnKey::dupe_group_col), QVariant::fromValue<qint64>(42)},
    };
    for (const auto& [actual, expected] : cases) {
        EXPECT_EQ(actual.metaType(), expected.metaType()) << expected.typeName();
        EXPECT_EQ(actual, expected);
    }
    const QVariant date = item->valueForUndefinedKey(KZColumnKey::date_modified_col);
    ASSERT_EQ(date.metaType(), QMetaType::fromType<QDateTime>());
    EXPECT_EQ(date.toDateTime().toSecsSinceEpoch(), 1600000000);
    EXPECT_EQ(item->valueForUndefinedKey(QStringLiteral("no_such_col")).value<KZFoundItemRef>(), item);

    // Sizes compare as numbers; a folder nobody measured sorts as zero.
    const KZFoundItemRef ten = makeItem({.path = dir.write("ten", std::string(10, 'x'))});
    dir.write("folder/inner", "abc");
    const KZFoundItemRef folder = makeItem({.path = dir / "folder", .isDirectory = true});
    const QVariant nine = item->valueForUndefinedKey(KZColumnKey::size_col);
    const QVariant unmeasured = folder->valueForUndefinedKey(KZColumnKey::size_col);
    EXPECT_EQ(QVariant::compare(nine, ten->valueForUndefinedKey(KZColumnKey::size_col)), QPartialOrdering::Less);
    EXPECT_EQ(QVariant::compare(unmeasured, nine), QPartialOrdering::Less);
    drainFacts();
    EXPECT_EQ(folder->size(), 0u);
}

TEST(KZFoundItem, SizeAndBookmarkAreWorkedOutOnceInTheBackground)
{
    kztest::TempDir dir;
    dir.write("Tool.app/a", std::string(100, 'a'));
    dir.write("Tool.app/sub/b", std::string(23, 'b'));
    const KZFoundItemRef package = makeItem({.path = dir / "Tool.app", .isPackage = true});
    {
        FactsQueueBlocker blocker;
        const int before = KZFoundItemFactsQueue().operationCount();
        modeltest::onThreads(8, [&] {
            for (int i = 0; i < 50; ++i) {
                EXPECT_EQ(package->size(), 0u); // unknown until measured
                EXPECT_EQ(package->folderSize(), 0u);
                package->url();
            }
        });
        EXPECT_EQ(KZFoundItemFactsQueue().operationCount(), before + 2);
        EXPECT_TRUE(package->aliasData().isEmpty());
        // A caller that cannot wait takes over the queued measurement.
        package->forceCalculateFolderSize();
        EXPECT_EQ(package->size(), 123u);
    }
    EXPECT_EQ(package->cfSize(), 123u);
    EXPECT_FALSE(package->aliasData().isEmpty());
}

TEST(KZFoundItem, SizeIsReadOnceExceptWhileTheFileIsMissing)
{
    kztest::TempDir dir;
    const KZFoundItemRef empty = makeItem({.path = dir.write("f", "")});
    EXPECT_EQ(empty->size(), 0u);
    dir.write("f", "grown");
    EXPECT_EQ(empty->size(), 0u);

    const KZFoundItemRef item = makeItem({.path = dir / "gone.bin"});
    EXPECT_EQ(item->path(), KZFoundItem::missingPath());
    EXPECT_TRUE(item->alreadyShown());
    EXPECT_TRUE(item->url().empty());
    EXPECT_EQ(item->size(), 0u);
    EXPECT_EQ(item->name(), QStringLiteral("gone.bin"));
    EXPECT_EQ(item->dateCreated(),
              KZDateUtilities::timeIntervalSinceReferenceDate(KZDateUtilities::sharedControl().wrongDate()));
    dir.write("gone.bin", "1234");
    EXPECT_EQ(item->size(), 4u);
    drainFacts();
}

TEST(KZFoundItem, RenamedFileIsFoundThroughItsBookmarkAndAMovedOneIsMissing)
{
    kztest::TempDir dir;
    const fs::path original = dir.write("docs/report.txt", "content");
    const KZFoundItemRef item = makeItem({.path = original});
    EXPECT_EQ(item->url(), original);
    drainFacts();
    const QByteArray firstBookmark = item->aliasData();
    ASSERT_FALSE(firstBookmark.isEmpty());

    const fs::path renamed = dir / "docs/report (old).txt";
    fs::rename(original, renamed);
    item->setFileIcon(QImage(4, 4, QImage::Format_ARGB32));
    EXPECT_EQ(item->path(), renamed);
    EXPECT_EQ(item->parent(), QStringLiteral("docs"));
    EXPECT_TRUE(item->fileIcon().isNull()); // the icon was of the old location
    drainFacts();
    const QByteArray renewed = item->aliasData();
    ASSERT_NE(renewed, firstBookmark);
    const auto resolved = platform::resolveBookmark(renewed);
    ASSERT_TRUE(resolved);
    EXPECT_EQ(resolved->path, renamed);
    EXPECT_FALSE(resolved->renamed);

    const fs::path moved = dir.mkdir("elsewhere") / "report (old).txt";
    fs::rename(renamed, moved);
    EXPECT_EQ(item->path(), KZFoundItem::missingPath());
    EXPECT_TRUE(item->url().empty());
    EXPECT_EQ(item->pathToDisplayInCell(), QStringLiteral("--"));
    // Nothing was forgotten: put back, it is found again.
    fs::rename(moved, renamed);
    EXPECT_EQ(item->path(), renamed);
    drainFacts();
}

// A found file deleted since the search, its inode number given to a
// newcomer in the same folder (ext4 hands it out at once; written into the
// bookmark here, so that any disk shows it): the item is missing, never
// listed under the newcomer's name, whether the newcomer is a folder, a
// file of another size and date, or one of another birth time.
TEST(KZFoundItem, ADeletedFileIsNotFollowedOntoANewcomerOnItsInode)
{
    kztest::TempDir dir;
    const fs::path folder = dir.mkdir("NB/newcomer folder");
    const fs::path file = dir.write("NB/newcomer file", "other bytes, other size");
    const fs::path twin = dir.write("NB/newcomer twin", "found bytes");
    // A memory file system stamps times from a clock that ticks every few
    // milliseconds: the twin's birth time must be a tick apart.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const fs::path found = dir.write("NB/found.bin", "found bytes");
    const auto st = platform::statPath(found, false);
    ASSERT_TRUE(st);
    // The twin has the found file's size and date, and a birth time of its own.
    const timespec times[2] = {st->accessed, st->modified};
    ASSERT_EQ(::utimensat(AT_FDCWD, twin.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    const auto recorded = platform::FileIdentity::ofPath(found);
    ASSERT_TRUE(recorded);
    struct Case {
        const char* name;
        fs::path newcomer;
        bool withBirth;
    };
    for (const Case& kase : {Case{"a folder", folder, false}, Case{"a file of another size", file, false},
                             Case{"a file of another birth time", twin, true}}) {
        SCOPED_TRACE(kase.name);
        if (kase.withBirth && !recorded->birth) {
            std::cout << "(no birth times here: " << kase.name << " left out)\n";
            continue;
        }
        const KZFoundItemRef item = makeItem({.path = found});
        platform::FileIdentity identity;
        identity.device = quint64(st->device);
        identity.inode = platform::statPath(kase.newcomer, false)->inode;
        identity.folder = false;
        if (kase.withBirth) {
            identity.birth = recorded->birth;
        } else {
            identity.size = st->size;
            identity.modified = platform::FileIdentity::Time{st->modified.tv_sec, st->modified.tv_nsec};
        }
        identity.fileSystem = recorded->fileSystem;
        identity.volume = recorded->volume;
        identity.mount = recorded->mount;
        item->setAliasData(platform::bookmarkOf(found, identity));
        fs::rename(found, dir / "kept aside");
        EXPECT_EQ(item->path(), KZFoundItem::missingPath());
        EXPECT_EQ(item->name(), QStringLiteral("found.bin"));
        fs::rename(dir / "kept aside", found);
        drainFacts();
    }
}

// Renamed in its folder before anything asked where it is (its row never
// drawn): the item is followed all the same, and the bookmark a removal or a
// save makes then names the file that was found, not a newcomer that took
// its old name.
TEST(KZFoundItem, AFileRenamedBeforeItsLocationWasAskedIsFollowed)
{
    kztest::TempDir dir;
    const fs::path original = dir.write("NB/data.bin", "found bytes");
    const fs::path renamed = dir / "NB/data2.bin";
    for (const bool newcomer : {false, true}) {
        SCOPED_TRACE(newcomer ? "another file took the old name" : "the old name is free");
        const KZFoundItemRef listed = makeItem({.path = original});
        const KZFoundItemRef removed = makeItem({.path = original});
        ASSERT_NE(listed->inode(), 0u);
        fs::rename(original, renamed);
        if (newcomer)
            dir.write("NB/data.bin", "newcomer");

        // What a removal or a save does first.
        removed->createAlias();
        const auto resolved = platform::resolveBookmark(removed->aliasData());
        ASSERT_TRUE(resolved);
        EXPECT_EQ(resolved->path, renamed);
        if (!newcomer) {
            // The list's road: its Name column asks before its path line.
            EXPECT_EQ(listed->name(), QStringLiteral("data2.bin")) << "the name it has now";
            EXPECT_EQ(listed->path(), renamed);
            EXPECT_FALSE(listed->alreadyShown());
        }
        fs::remove(original);
        fs::rename(renamed, original);
        drainFacts();
    }
}

// The Name column and its sorting follow a rename; a file that can no
// longer be found keeps the last name it had.
TEST(KZFoundItem, TheNameFollowsARenameInItsFolder)
{
    kztest::TempDir dir;
    const KZFoundItemRef item = makeItem({.path = dir.write("notes/note3.txt", "three")});
    fs::rename(dir / "notes/note3.txt", dir / "notes/note3-renamed.md");
    EXPECT_EQ(item->valueForUndefinedKey(KZColumnKey::name_col), QVariant(QStringLiteral("note3-renamed.md")));
    EXPECT_EQ(item->extension(), QStringLiteral("md"));
    fs::rename(dir / "notes/note3-renamed.md", dir.mkdir("elsewhere") / "note3.txt");
    EXPECT_EQ(item->name(), QStringLiteral("note3-renamed.md"));
    drainFacts();
}

TEST(KZFoundItem, RemovedItemIsNeverResolvedNorBookmarked)
{
    kztest::TempDir dir;
    const fs::path original = dir.write("f.txt", "x");
    const KZFoundItemRef item = makeItem({.path = original});
    item->setIsRemoved(true);
    EXPECT_EQ(item->url(), original);
    drainFacts();
    EXPECT_TRUE(item->aliasData().isEmpty());

    // With a bookmark from before the removal, a rename is not followed.
    item->setIsRemoved(false);
    item->createAlias();
    item->setStorePath();
    item->setIsRemoved(true);
    fs::rename(original, dir / "g.txt");
    EXPECT_EQ(item->path(), KZFoundItem::missingPath());
    EXPECT_EQ(item->url(), original);
    EXPECT_EQ(item->storedPath(), original);
    drainFacts();
}

TEST(KZFoundItem, TypeCodesOfFilesFoldersAndPackages)
{
    kztest::TempDir dir;
    const quint32 text = platform::osTypeFromString(u"TEXT");
    const KZFoundItemRef folder = makeItem({.path = dir.mkdir("folder"), .isDirectory = true, .osType = text});
    const KZFoundItemRef file = makeItem({.path = dir.write("notes.txt", "hello"), .osType = text});
    EXPECT_EQ(folder->type(), 0u); // a plain folder has no codes
    EXPECT_EQ(folder->creator(), 0u);
    EXPECT_EQ(file->type(), text);

    const fs::path package = dir.mkdir("Tool.app");
    platform::FinderInfo info;
    info.setFileType(platform::osTypeFromString(u"APPL"));
    info.setCreator(platform::osTypeFromString(u"MRVX"));
    if (!platform::writeFinderInfo(package, info))
        GTEST_SKIP() << "the file system of the temporary folder keeps no user attributes";
    const KZFoundItemRef item = makeItem({.path = package, .isPackage = true});
    EXPECT_EQ(item->type(), platform::osTypeFromString(u"APPL"));
    EXPECT_EQ(item->creator(), platform::osTypeFromString(u"MRVX"));
    drainFacts();
}

// ---- The shared members counter ------------------------------------------------------

TEST(KZFoundItem, GroupCounterIsFreedByTheLastMemberWhateverTheOrder)
{
    struct Case {
        const char* name;
        std::vector<int> removed;  // counted out before teardown (twice: the second call changes nothing)
        std::vector<int> restored; // removal undone (twice as well)
        std::vector<int> teardown;
        std::vector<quint32> left; // before each teardown step
    };
    const Case cases[] = {
        {"no removals, in order", {}, {}, {0, 1, 2}, {3, 2, 1}},
        {"no removals, reversed", {}, {}, {2, 1, 0}, {3, 2, 1}},
        {"one removed, then all go", {1}, {}, {1, 0, 2}, {2, 2, 1}},
        {"removed member goes last", {0}, {}, {1, 2, 0}, {2, 1, 0}},
        {"every member removed", {0, 1, 2}, {}, {2, 0, 1}, {0, 0, 0}},
        {"a removal undone counts again", {0, 2}, {2}, {2, 1, 0}, {2, 1, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        modeltest::ListWatch watch;
        KZFoundItemArray members = modeltest::makeItems({{}, {}, {}}, &watch);
        for (int index : c.removed) {
            members[index]->subtractUnitItemsInGroup();
            members[index]->subtractUnitItemsInGroup();
        }
        for (int index : c.restored) {
            members[index]->addUnitItemsInGroup();
            members[index]->addUnitItemsInGroup();
        }
        for (std::size_t step = 0; step < c.teardown.size(); ++step) {
            ASSERT_FALSE(watch.counters[1].expired());
            EXPECT_EQ(watch.counters[1].lock()->load(), c.left[step]) << "step " << step;
            members[c.teardown[step]].reset();
        }
        EXPECT_TRUE(watch.counters[1].expired());
    }

    // An item outside any group has no counter to change.
    const KZFoundItemRef lone = KZFoundItem::itemWithTreeNode(*modeltest::makeNode({}));
    lone->subtractUnitItemsInGroup();
    lone->addUnitItemsInGroup();
    EXPECT_EQ(lone->countOfItemsInGroup(), 0u);
}

TEST(KZFoundItem, CounterSurvivesConcurrentRemovalsAndTeardown)
{
    modeltest::ListWatch watch;
    std::vector<KZFoundItemRef> members;
    for (const KZFoundItemRef& item : modeltest::makeItems(std::vector<modeltest::ItemShape>(64), &watch))
        members.push_back(item);
    std::atomic<std::size_t> next{0};
    modeltest::onThreads(4, [&] {
        for (std::size_t i = next++; i < members.size(); i = next++) {
            if (i % 2 == 0)
                members[i]->subtractUnitItemsInGroup();
            members[i].reset();
        }
    });
    EXPECT_TRUE(watch.counters[1].expired());
}

// Run alone, in a process of its own, by the test below: work left on the
// items' queue when the program ends, as a removal leaves a bookmark to make.
TEST(KZFoundItemAtExit, DISABLED_LeavesWorkThatOutlastsTheTests)
{
    KZFoundItemFactsQueue().addOperation([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        if (!QCoreApplication::instance())
            std::_Exit(86);
    });
}

TEST(KZFoundItemAtExit, TheProgramWaitsForTheItemsWorkBeforeItsApplicationGoes)
{
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    ASSERT_FALSE(ec) << ec.message();
    const platform::ProcessOutput child = platform::runProcess(
        self,
        {"--gtest_also_run_disabled_tests", "--gtest_filter=KZFoundItemAtExit.DISABLED_LeavesWorkThatOutlastsTheTests"},
        std::chrono::seconds(60));
    ASSERT_TRUE(child.started) << child.error.toStdString();
    EXPECT_EQ(child.exitCode, 0) << child.standardError.toStdString();
    EXPECT_TRUE(child.standardOutput.contains("[  PASSED  ] 1 test")) << child.standardOutput.toStdString();
}

namespace {

quint32 placeChecksOf(const KZFoundItemArray& items)
{
    quint32 sum = 0;
    for (const KZFoundItemRef& item : items)
        sum += item->placeChecks();
    return sum;
}

} // namespace

// A member renamed before anything read its name: its group's row and Find
// by name know the new name only; a later rename is followed as soon as
// the item's place is looked at again.
TEST(KZFoundItem, AGroupAndFindByNameFollowARenameBeforeTheFirstLook)
{
    kztest::TempDir dir;
    const fs::path first = dir.write("first.txt", "same");
    const fs::path second = dir.write("second.txt", "same");
    const KZFoundItemArray items = makeItems({{.path = first, .group = 1}, {.path = second, .group = 1}});
    fs::rename(first, dir / "renamed.txt");

    const KZFoundItemGroupRef root = KZItemGroups::setupItemsByGroupForItems(items, true);
    ASSERT_EQ(root->groups().size(), 1);
    const KZFoundItemGroupRef group = root->groups().first();
    const KZShownList grouped = KZShownList::grouped(root);
    const auto find = [&](const char* text) { return KZFoundListFinder::searchString(KZFindFolding::fold(QString::fromUtf8(text)), grouped); };
    EXPECT_EQ(group->name(), QStringLiteral("renamed.txt"));
    EXPECT_FALSE(find("first").has_value()) << "the old name is matched no more";
    EXPECT_EQ(find("renamed"), (KZListRow{group, nullptr}));
    EXPECT_EQ(find("second"), (KZListRow{group, items[1]}));

    // Renamed again after its name was known: the row shown looks at the
    // place, and the group and Find follow.
    fs::rename(dir / "renamed.txt", dir / "twice.txt");
    EXPECT_EQ(group->name(), QStringLiteral("renamed.txt")) << "no disk read until the place is looked at";
    EXPECT_EQ(items[0]->name(), QStringLiteral("twice.txt"));
    EXPECT_EQ(group->name(), QStringLiteral("twice.txt"));
    EXPECT_FALSE(find("renamed").has_value());
    EXPECT_EQ(find("twice"), (KZListRow{group, nullptr}));
    drainFacts();
}

// Find by name and sorting by name look at each item's place once, on their
// first pass; every later pass reads no disk, whether the list is flat or
// grouped and whether the files are there or not.
TEST(KZFoundItem, FindByNameAndSortingReadTheDiskOnlyOnTheirFirstPass)
{
    kztest::TempDir dir;
    std::vector<ItemShape> shapes;
    for (int i = 0; i < 300; ++i) {
        // A third each: present, gone since the search, made up.
        fs::path path;
        if (i % 3 != 2)
            path = dir.write("f" + std::to_string(i), "x");
        shapes.push_back({.path = path, .group = i / 3});
    }
    const KZFoundItemArray items = makeItems(shapes);
    for (int i = 1; i < 300; i += 3)
        fs::remove(dir / ("f" + std::to_string(i)));
    const QString miss = KZFindFolding::fold(QStringLiteral("no such name"));

    const KZShownList flat = KZShownList::flat(items);
    EXPECT_FALSE(KZFoundListFinder::searchString(miss, flat).has_value());
    const quint32 firstPass = placeChecksOf(items);
    EXPECT_EQ(firstPass, quint32(items.size())) << "one look at each item's place";
    for (int again = 0; again < 3; ++again)
        EXPECT_FALSE(KZFoundListFinder::searchString(miss, flat).has_value());
    const KZShownList grouped = KZShownList::grouped(KZItemGroups::setupItemsByGroupForItems(items, true));
    EXPECT_FALSE(KZFoundListFinder::searchString(miss, grouped).has_value());
    for (const KZFoundItemRef& item : items)
        EXPECT_FALSE(item->valueForUndefinedKey(KZColumnKey::name_col).toString().isEmpty());
    EXPECT_EQ(placeChecksOf(items), firstPass) << "no disk read after the first pass";
    drainFacts();
}
