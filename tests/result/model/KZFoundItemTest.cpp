#include "result/model/KZFoundItem.h"

#include "ResultModelTestSupport.h"
#include "TestSupport.h"
#include "platform/Bookmark.h"
#include "platform/FinderInfo.h"
#include "platform/OperationQueue.h"
#include "result/model/KZColumnKeys.h"
#include "services/KZDateUtilities.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <thread>

namespace fs = std::filesystem;
using modeltest::NodeSpec;

namespace {

KZFoundItemRef itemFor(const NodeSpec& spec, KZItemsInGroup counter = {})
{
    const auto node = modeltest::makeNode(spec, std::move(counter));
    return KZFoundItem::itemWithTreeNode(*node);
}

void drainFacts()
{
    KZFoundItemFactsQueue().waitUntilAllOperationsAreFinished();
}

// Occupies every thread of the facts queue until release(), so a test can
// count what gets queued behind it.
class FactsQueueBlocker {
public:
    static constexpr int kBlockers = 4; // at least the queue's width
    FactsQueueBlocker()
    {
        for (int i = 0; i < kBlockers; ++i) {
            KZFoundItemFactsQueue().addOperation([this] {
                std::unique_lock lock(mutex_);
                released_.wait(lock, [this] { return open_; });
            });
        }
    }
    ~FactsQueueBlocker() { release(); }
    void release()
    {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        released_.notify_all();
        drainFacts();
    }

private:
    std::mutex mutex_;
    std::condition_variable released_;
    bool open_ = false;
};

} // namespace

TEST(KZFoundItem, ColumnKeysAnswerTypedValues)
{
    kztest::TempDir dir;
    const fs::path file = dir.write("photo.txt", "12345");
    modeltest::setModified(file, 1600000000);
    const KZFoundItemRef item = itemFor({.path = file, .group = 42, .label = 3});
    item->setIsMarked(true);

    const QVariant name = item->valueForUndefinedKey(KZColumnKey::name_col);
    EXPECT_EQ(name.metaType(), QMetaType::fromType<QString>());
    EXPECT_EQ(name.toString(), QStringLiteral("photo.txt"));

    const QVariant size = item->valueForUndefinedKey(KZColumnKey::size_col);
    EXPECT_EQ(size.metaType(), QMetaType::fromType<quint64>());
    EXPECT_EQ(size.value<quint64>(), 5u);

    const QVariant date = item->valueForUndefinedKey(KZColumnKey::date_modified_col);
    ASSERT_EQ(date.metaType(), QMetaType::fromType<QDateTime>());
    EXPECT_EQ(date.toDateTime().toSecsSinceEpoch(), 1600000000);

    const QVariant location = item->valueForUndefinedKey(KZColumnKey::location_tag_col);
    EXPECT_EQ(location.metaType(), QMetaType::fromType<qint16>());
    EXPECT_EQ(location.value<qint16>(), 3);

    const QVariant check = item->valueForUndefinedKey(KZColumnKey::check_col);
    EXPECT_EQ(check.metaType(), QMetaType::fromType<int>()); // an integer, not a boolean
    EXPECT_EQ(check.toInt(), 1);
    item->setIsMarked(false);
    EXPECT_EQ(item->valueForUndefinedKey(KZColumnKey::check_col).toInt(), 0);

    const QVariant group = item->valueForUndefinedKey(KZColumnKey::dupe_group_col);
    EXPECT_EQ(group.metaType(), QMetaType::fromType<qint64>());
    EXPECT_EQ(group.value<qint64>(), 42);

    const QVariant other = item->valueForUndefinedKey(QStringLiteral("no_such_col"));
    EXPECT_EQ(other.value<KZFoundItemRef>(), item);
    drainFacts();
}

TEST(KZFoundItem, SizesSortAsNumbersNotAsText)
{
    kztest::TempDir dir;
    const KZFoundItemRef nine = itemFor({.path = dir.write("a", std::string(9, 'x'))});
    const KZFoundItemRef ten = itemFor({.path = dir.write("b", std::string(10, 'x'))});
    const QVariant a = nine->valueForUndefinedKey(KZColumnKey::size_col);
    const QVariant b = ten->valueForUndefinedKey(KZColumnKey::size_col);
    EXPECT_EQ(QVariant::compare(a, b), QPartialOrdering::Less);
    drainFacts();
}

TEST(KZFoundItem, UnmeasuredFolderSortsAsZeroBeforeSizedItems)
{
    kztest::TempDir dir;
    dir.write("folder/inner", "abc");
    const KZFoundItemRef folder = itemFor({.path = dir / "folder", .isDirectory = true});
    const KZFoundItemRef file = itemFor({.path = dir.write("f", "x")});

    const QVariant folderSize = folder->valueForUndefinedKey(KZColumnKey::size_col);
    EXPECT_EQ(folderSize.value<quint64>(), 0u);
    EXPECT_EQ(QVariant::compare(folderSize, file->valueForUndefinedKey(KZColumnKey::size_col)),
              QPartialOrdering::Less);
    // Neither the column nor size() measure a plain folder.
    EXPECT_EQ(folder->size(), 0u);
    drainFacts();
    EXPECT_EQ(folder->size(), 0u);
}

TEST(KZFoundItem, FolderSizeIsMeasuredOnceInTheBackground)
{
    kztest::TempDir dir;
    dir.write("folder/a", std::string(100, 'a'));
    dir.write("folder/sub/b", std::string(23, 'b'));
    const KZFoundItemRef folder = itemFor({.path = dir / "folder", .isDirectory = true});
    folder->url(); // the bookmark is made now, so that it is not in the count below
    drainFacts();

    {
        FactsQueueBlocker blocker;
        const int before = KZFoundItemFactsQueue().operationCount();
        std::vector<std::thread> askers;
        for (int t = 0; t < 8; ++t)
            askers.emplace_back([&] {
                for (int i = 0; i < 50; ++i)
                    EXPECT_EQ(folder->folderSize(), 0u); // unknown until measured
            });
        for (auto& asker : askers)
            asker.join();
        EXPECT_EQ(KZFoundItemFactsQueue().operationCount(), before + 1);
    }
    EXPECT_EQ(folder->folderSize(), 123u);
    EXPECT_EQ(folder->cfSize(), 123u);
}

TEST(KZFoundItem, BookmarkIsMadeOnceHoweverOftenTheLocationIsAsked)
{
    kztest::TempDir dir;
    const KZFoundItemRef item = itemFor({.path = dir.write("f.txt", "x")});
    {
        FactsQueueBlocker blocker;
        const int before = KZFoundItemFactsQueue().operationCount();
        std::vector<std::thread> askers;
        for (int t = 0; t < 8; ++t)
            askers.emplace_back([&] {
                for (int i = 0; i < 50; ++i)
                    item->url();
            });
        for (auto& asker : askers)
            asker.join();
        EXPECT_EQ(KZFoundItemFactsQueue().operationCount(), before + 1);
        EXPECT_TRUE(item->aliasData().isEmpty()); // made in the background
    }
    EXPECT_FALSE(item->aliasData().isEmpty());
}

TEST(KZFoundItem, ForcedFolderSizeTakesOverAQueuedMeasurement)
{
    kztest::TempDir dir;
    dir.write("pkg.app/Contents/x", std::string(7, 'x'));
    const KZFoundItemRef package = itemFor({.path = dir / "pkg.app", .isPackage = true});
    {
        FactsQueueBlocker blocker;
        EXPECT_EQ(package->size(), 0u); // queued behind the blocker
        package->forceCalculateFolderSize();
        EXPECT_EQ(package->size(), 7u);
    }
    EXPECT_EQ(package->size(), 7u);
}

TEST(KZFoundItem, FileWithoutRecordedSizeReadsItOnce)
{
    kztest::TempDir dir;
    const fs::path file = dir.write("f", "");
    const KZFoundItemRef item = itemFor({.path = file});
    EXPECT_EQ(item->size(), 0u);
    // Known now: growing the file does not change the answer.
    dir.write("f", "grown");
    EXPECT_EQ(item->size(), 0u);
    drainFacts();
}

TEST(KZFoundItem, MissingFileHasPlaceholdersAndIsTriedAgainForSize)
{
    kztest::TempDir dir;
    const fs::path file = dir / "gone.bin";
    const KZFoundItemRef item = itemFor({.path = file});
    EXPECT_EQ(item->path(), KZFoundItem::missingPath());
    EXPECT_TRUE(item->alreadyShown());
    EXPECT_TRUE(item->url().empty());
    EXPECT_EQ(item->parent(), QString());
    EXPECT_EQ(item->kind(), QString());
    EXPECT_EQ(item->size(), 0u);
    EXPECT_EQ(item->name(), QStringLiteral("gone.bin")); // keeps its name
    const double placeholder =
        KZDateUtilities::timeIntervalSinceReferenceDate(KZDateUtilities::sharedControl().wrongDate());
    EXPECT_EQ(item->dateCreated(), placeholder);

    // The file appears: its size was unknown and is read now.
    dir.write("gone.bin", "1234");
    EXPECT_EQ(item->size(), 4u);
    drainFacts();
}

TEST(KZFoundItem, RenamedFileIsFoundThroughItsBookmarkAndTheBookmarkRenewed)
{
    kztest::TempDir dir;
    const fs::path original = dir.write("docs/report.txt", "content");
    const KZFoundItemRef item = itemFor({.path = original});

    EXPECT_EQ(item->url(), original); // first use: the bookmark is made in the background
    drainFacts();
    const QByteArray firstBookmark = item->aliasData();
    ASSERT_FALSE(firstBookmark.isEmpty());
    EXPECT_TRUE(item->aliasAlreadyCreated());

    const fs::path renamed = dir / "docs/report (old).txt";
    fs::rename(original, renamed);
    item->setFileIcon(QImage(4, 4, QImage::Format_ARGB32));

    EXPECT_EQ(item->path(), renamed);
    EXPECT_EQ(item->parent(), QStringLiteral("docs"));
    EXPECT_TRUE(item->fileIcon().isNull()); // the cached icon was of the old location
    drainFacts();
    const QByteArray renewed = item->aliasData();
    ASSERT_FALSE(renewed.isEmpty());
    EXPECT_NE(renewed, firstBookmark);
    const auto resolved = platform::resolveBookmark(renewed);
    ASSERT_TRUE(resolved);
    EXPECT_EQ(resolved->path, renamed);
    EXPECT_FALSE(resolved->renamed);
}

TEST(KZFoundItem, FileMovedElsewhereShowsAsMissingAndKeepsItsLocation)
{
    kztest::TempDir dir;
    const fs::path original = dir.write("a/file.txt", "x");
    dir.mkdir("b");
    const KZFoundItemRef item = itemFor({.path = original});
    item->createAlias();
    ASSERT_FALSE(item->aliasData().isEmpty());

    fs::rename(original, dir / "b/file.txt");
    EXPECT_EQ(item->path(), KZFoundItem::missingPath());
    EXPECT_TRUE(item->url().empty());
    EXPECT_EQ(item->pathToDisplayInCell(), QStringLiteral("--"));

    // Nothing was forgotten: the file put back is found again.
    fs::rename(dir / "b/file.txt", original);
    EXPECT_EQ(item->path(), original);
    drainFacts();
}

TEST(KZFoundItem, RemovedItemIsNeverResolvedNorBookmarked)
{
    kztest::TempDir dir;
    const fs::path original = dir.write("f.txt", "x");
    const KZFoundItemRef item = itemFor({.path = original});
    item->setIsRemoved(true);
    EXPECT_EQ(item->url(), original);
    drainFacts();
    EXPECT_TRUE(item->aliasData().isEmpty());

    // With a bookmark from before the removal, a rename is not followed.
    item->setIsRemoved(false);
    item->createAlias();
    item->setIsRemoved(true);
    fs::rename(original, dir / "g.txt");
    EXPECT_EQ(item->path(), KZFoundItem::missingPath());
    EXPECT_EQ(item->url(), original);
    drainFacts();
}

TEST(KZFoundItem, StoredPathIsThePathAtRemoval)
{
    kztest::TempDir dir;
    const fs::path file = dir.write("f.txt", "x");
    const KZFoundItemRef item = itemFor({.path = file});
    EXPECT_TRUE(item->storedPath().empty());
    item->setStorePath();
    fs::remove(file);
    EXPECT_EQ(item->storedPath(), file);
    drainFacts();
}

TEST(KZFoundItem, PlainFolderAnswersNoTypeCodes)
{
    kztest::TempDir dir;
    dir.mkdir("folder");
    const KZFoundItemRef folder =
        itemFor({.path = dir / "folder", .isDirectory = true, .type = platform::osTypeFromString(u"TEXT")});
    EXPECT_EQ(folder->type(), 0u);
    EXPECT_EQ(folder->creator(), 0u);

    const KZFoundItemRef file = itemFor({.path = dir.write("f", "x"), .type = platform::osTypeFromString(u"TEXT")});
    EXPECT_EQ(file->type(), platform::osTypeFromString(u"TEXT"));
    drainFacts();
}

TEST(KZFoundItem, PackageReadsItsCodesFromItsFinderInformation)
{
    kztest::TempDir dir;
    const fs::path package = dir.mkdir("Tool.app");
    platform::FinderInfo info;
    info.setFileType(platform::osTypeFromString(u"APPL"));
    info.setCreator(platform::osTypeFromString(u"MRVX"));
    if (!platform::writeFinderInfo(package, info))
        GTEST_SKIP() << "the file system of the temporary folder keeps no user attributes";
    const KZFoundItemRef item = itemFor({.path = package, .isPackage = true});
    EXPECT_EQ(item->type(), platform::osTypeFromString(u"APPL"));
    EXPECT_EQ(item->creator(), platform::osTypeFromString(u"MRVX"));
    drainFacts();
}

TEST(KZFoundItem, KindIsReadOnceAndFolderKindDiffersFromFileKind)
{
    kztest::TempDir dir;
    const KZFoundItemRef text = itemFor({.path = dir.write("notes.txt", "hello")});
    const KZFoundItemRef folder = itemFor({.path = dir.mkdir("folder"), .isDirectory = true});
    const QString textKind = text->kind();
    EXPECT_FALSE(textKind.isEmpty());
    EXPECT_FALSE(folder->kind().isEmpty());
    EXPECT_NE(textKind, folder->kind());

    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t)
        readers.emplace_back([&] { EXPECT_EQ(text->kind(), textKind); });
    for (auto& reader : readers)
        reader.join();
    drainFacts();
}

// ---- The shared members counter ------------------------------------------------------

namespace {

struct CounterCase {
    const char* name;
    std::vector<int> removedBeforeTeardown; // members removed (and counted out) first
    std::vector<int> teardownOrder;
};

} // namespace

TEST(KZFoundItem, GroupCounterIsFreedByTheLastMemberWhateverTheOrder)
{
    const std::vector<CounterCase> cases = {
        {"no removals, in order", {}, {0, 1, 2}},
        {"no removals, reversed", {}, {2, 1, 0}},
        {"one removed, then all go", {1}, {1, 0, 2}},
        {"removed member goes last", {0}, {1, 2, 0}},
        {"every member removed", {0, 1, 2}, {2, 0, 1}},
    };
    kztest::TempDir dir;
    for (const CounterCase& c : cases) {
        SCOPED_TRACE(c.name);
        KZItemsInGroup counter = makeItemsInGroup(3);
        std::weak_ptr<std::atomic<quint32>> watch = counter;
        std::vector<KZFoundItemRef> members;
        for (int i = 0; i < 3; ++i)
            members.push_back(itemFor({.path = dir / ("m" + std::to_string(i))}, counter));
        counter.reset();

        for (int index : c.removedBeforeTeardown) {
            members[index]->subtractUnitItemsInGroup();
            members[index]->subtractUnitItemsInGroup(); // a repeated call changes nothing
        }
        const quint32 present = 3 - static_cast<quint32>(c.removedBeforeTeardown.size());
        EXPECT_EQ(members[0]->countOfItemsInGroup(), present);

        quint32 expected = present;
        for (size_t step = 0; step < c.teardownOrder.size(); ++step) {
            const int index = c.teardownOrder[step];
            const bool wasPresent = std::find(c.removedBeforeTeardown.begin(), c.removedBeforeTeardown.end(),
                                              index) == c.removedBeforeTeardown.end();
            members[index].reset();
            if (wasPresent)
                --expected;
            if (step + 1 < c.teardownOrder.size()) {
                const auto alive = watch.lock();
                ASSERT_TRUE(alive);
                EXPECT_EQ(alive->load(), expected);
            }
        }
        EXPECT_TRUE(watch.expired());
    }
}

TEST(KZFoundItem, UndoneRemovalCountsTheMemberAgain)
{
    kztest::TempDir dir;
    KZItemsInGroup counter = makeItemsInGroup(2);
    const KZFoundItemRef a = itemFor({.path = dir / "a"}, counter);
    const KZFoundItemRef b = itemFor({.path = dir / "b"}, counter);
    a->subtractUnitItemsInGroup();
    EXPECT_EQ(b->countOfItemsInGroup(), 1u);
    a->addUnitItemsInGroup();
    a->addUnitItemsInGroup();
    EXPECT_EQ(b->countOfItemsInGroup(), 2u);

    // An item outside any group has no counter to change.
    const auto node = modeltest::makeNode({.path = dir / "c"});
    node->itemsInGroup.reset();
    const KZFoundItemRef lone = KZFoundItem::itemWithTreeNode(*node);
    lone->subtractUnitItemsInGroup();
    lone->addUnitItemsInGroup();
    EXPECT_EQ(lone->countOfItemsInGroup(), 0u);
}

TEST(KZFoundItem, CounterSurvivesConcurrentRemovalsAndTeardown)
{
    kztest::TempDir dir;
    constexpr int kMembers = 64;
    KZItemsInGroup counter = makeItemsInGroup(kMembers);
    std::weak_ptr<std::atomic<quint32>> watch = counter;
    std::vector<KZFoundItemRef> members;
    for (int i = 0; i < kMembers; ++i)
        members.push_back(itemFor({.path = dir / ("m" + std::to_string(i))}, counter));
    counter.reset();

    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([&, t] {
            for (int i = t; i < kMembers; i += 4) {
                if (i % 2 == 0)
                    members[i]->subtractUnitItemsInGroup();
                members[i].reset();
            }
        });
    }
    for (auto& worker : workers)
        worker.join();
    EXPECT_TRUE(watch.expired());
}
