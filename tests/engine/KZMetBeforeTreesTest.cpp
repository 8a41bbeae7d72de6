#include "EngineTestSupport.h"

#include "engine/KZAppURLTree.h"
#include "engine/KZCompareCodes.h"
#include "engine/KZFoundFoldersTree.h"
#include "engine/KZFoundNodes.h"
#include "engine/KZNumberTree.h"
#include "engine/KZObjectIDSet.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <thread>

using namespace enginetest;

namespace {

TEST(KZNumberTreeTest, OneLocationInAnySpellingIsTakenOnce)
{
    KZNumberTree tree;
    EXPECT_EQ(tree.urlAlreadyExist("/lib/Masters/a.jpg"), 0);
    for (const char* spelling : {"/lib/Masters/a.jpg", "/lib//Masters/a.jpg", "/lib/./Masters/a.jpg", "/lib/x/../Masters/a.jpg"})
        EXPECT_EQ(tree.urlAlreadyExist(spelling), -48) << spelling;
    EXPECT_EQ(tree.urlAlreadyExist("/lib/Masters/b.jpg"), 0);

    // Long paths sharing their beginning and end: a weak string hash makes
    // such paths collide, and a collision must not pass for a repeat.
    tree.clear();
    const std::string prefix(300, 'p');
    const std::string suffix(300, 's');
    for (int i = 0; i < 2000; ++i)
        ASSERT_EQ(tree.urlAlreadyExist("/" + prefix + std::to_string(i) + suffix), 0) << i;
}

TEST(KZNumberTreeTest, TwoHalvesOfferingTheSamePathsTakeEachOnce)
{
    KZNumberTree tree;
    std::atomic<int> taken{0};
    auto half = [&] {
        for (int i = 0; i < 500; ++i)
            if (tree.urlAlreadyExist("/lib/" + std::to_string(i) + ".heic") == 0)
                ++taken;
    };
    std::thread one(half);
    std::thread two(half);
    one.join();
    two.join();
    EXPECT_EQ(taken.load(), 500);
}

TEST(KZObjectIDSetTest, EachDeviceAndFullInodePairIsNewOnce)
{
    KZObjectIDSet set;
    EXPECT_TRUE(set.insert(1, 2));
    EXPECT_FALSE(set.insert(1, 2));
    EXPECT_TRUE(set.insert(2, 1)) << "device and inode are not interchangeable";
    EXPECT_TRUE(set.insert(1, 2 + (quint64(1) << 32))) << "inodes are 64-bit, never truncated";
    EXPECT_TRUE(set.insert(1, 0)) << "inode 0 names no file and is never remembered";
    EXPECT_TRUE(set.insert(1, 0));
    set.clear();
    EXPECT_TRUE(set.insert(1, 2));
}

TEST(KZObjectIDSetTest, ThreadsMeetingTheSamePairsFileEachOnce)
{
    // Two scan workers over overlapping trees, the set growing under them:
    // every pair is new to exactly one of them.
    KZObjectIDSet set;
    std::atomic<int> fresh{0};
    auto work = [&](quint64 from) {
        for (quint64 inode = from; inode < from + 30000; ++inode)
            if (set.insert(3, inode * 4096))
                ++fresh;
    };
    std::thread one(work, 1);
    std::thread two(work, 10001);
    one.join();
    two.join();
    EXPECT_EQ(fresh.load(), 40000);
    EXPECT_FALSE(set.insert(3, 4096));
}

TEST(KZAppURLTreeTest, LibraryItemsAreFoundByTheirLocation)
{
    KZAppURLTree tree;
    EXPECT_FALSE(tree.addNodeAppURLToTree("/Music/x.mp3", QString())) << "a node without a name stays out";
    EXPECT_TRUE(tree.isEmpty());
    EXPECT_TRUE(tree.addNodeAppURLToTree("/Music/A/song.mp3", str("song.mp3")));
    EXPECT_TRUE(tree.addNodeAppURLToTree("/Music/B/song.mp3", str("song.mp3"))) << "same name, other location";
    EXPECT_FALSE(tree.addNodeAppURLToTree("/Music//A/song.mp3", str("song.mp3"))) << "same location";
    std::vector<QString> names;
    for (int i = 0; i < 200; ++i)
        names.push_back(QStringLiteral("Track %1.m4a").arg((i * 37) % 200));
    for (const QString& name : names)
        tree.addNodeAppURLToTree(fs::path("/Lib") / name.toStdString(), name);
    EXPECT_EQ(tree.size(), 202u);
    // The scan's name may differ in case from the library's.
    for (const QString& name : names)
        EXPECT_EQ(tree.appItemAlreadyExists(*item(fs::path("/Lib") / name.toStdString(), name.toUpper())), -2)
            << name.toStdString();
    EXPECT_EQ(tree.appItemAlreadyExists(*item("/Music/B/song.mp3", str("song.mp3"))), -2);
    EXPECT_EQ(tree.appItemAlreadyExists(*item("/Music/C/song.mp3", str("song.mp3"))), 0);
    tree.freeAppURLsTreeNodes();
    EXPECT_TRUE(tree.isEmpty());
    EXPECT_EQ(tree.appItemAlreadyExists(*item("/Lib/Track 1.m4a", str("Track 1.m4a"))), 0);
}

TEST(KZFoundFoldersTreeTest, FolderReachedTwiceIsFiledOnce)
{
    const int before = CountedCache::alive();
    {
        KZFoundFoldersTree tree;
        EXPECT_NE(tree.addFolderToNode(countedNode(item("/a/Empty", str("Empty")))), nullptr);
        std::weak_ptr<KZSearchItemInfo> second;
        {
            auto again = item("/a//Empty/", str("Empty"));
            second = again;
            EXPECT_EQ(tree.addFolderToNode(countedNode(std::move(again))), nullptr);
        }
        EXPECT_TRUE(second.expired()) << "the repeat's item reference is released";
        EXPECT_NE(tree.addFolderToNode(countedNode(item("/b/Empty", str("Empty")))), nullptr) << "same name, other folder";
        EXPECT_EQ(CountedCache::alive(), before + 2);

        const TreeToCheck treeNode(item("/y/Three", str("Three")));
        const std::vector<std::pair<const char*, qint16>> cases{
            {"/y/Three", -2}, // the candidate tree node's own folder
            {"/a/Empty", -2}, // already found
            {"/z/Empty", 0},  // same name elsewhere
            {"/a/Four", 0},
        };
        for (const auto& [path, expected] : cases) {
            const TreeToCheck newNode(item(path, QString::fromStdString(fs::path(path).filename().native())));
            EXPECT_EQ(tree.folderAlreadyExists(treeNode, newNode), expected) << path;
        }
    }
    EXPECT_EQ(CountedCache::alive(), before);
}

TEST(KZFoundFoldersTreeTest, EmptyingHandsEveryFolderOverOnceChildrenFirst)
{
    const int before = CountedCache::alive();
    KZFoundFoldersTree tree;
    for (const char* name : {"M", "C", "T", "A", "E"})
        tree.addFolderToNode(countedNode(item(std::string("/f/") + name, str(name))));
    QStringList order;
    tree.freeUnusedFoldersTreeNodes([&](std::unique_ptr<TreeToCheck> node) {
        EXPECT_EQ(node->left, nullptr);
        EXPECT_EQ(node->right, nullptr);
        order << node->item->originalName();
    });
    // Larger names sort left: M has T on its left and C on its right; C has
    // E on its left and A on its right.
    EXPECT_EQ(order.join(QString()), str("TEACM"));
    EXPECT_TRUE(tree.isEmpty());
    EXPECT_EQ(CountedCache::alive(), before);
}

TEST(KZFoundNodesTest, NodesGoWhereThePhaseSays)
{
    const int before = CountedCache::alive();
    KZFoundNodes found;
    const KZFoundNodes::Phase nested{true, false, false, false};
    TreeToCheck* filed = found.processFoundItem(countedNode(item("/e/One", str("One"))), nested);
    ASSERT_NE(filed, nullptr);
    EXPECT_EQ(filed->item->originalName(), str("One"));
    EXPECT_EQ(found.processFoundItem(countedNode(item("/e/One", str("One"))), nested), nullptr) << "reported once";
    found.processFoundItem(countedNode(item("/e/Two", str("Two"))), nested);
    EXPECT_TRUE(found.cStyleArray().isEmpty());

    const KZFoundNodes::Phase duration{false, false, true, false};
    EXPECT_EQ(found.processFoundItem(countedNode(item("/d/song.mp3", str("song.mp3"))), duration), nullptr);
    EXPECT_EQ(found.durationItemsCount(), 1u);
    found.processFoundItem(countedNode(item("/p/x", str("x"))), {});
    EXPECT_EQ(found.cStyleArray().size(), 1u);

    found.freeUnusedFoldersTreeNodes();
    found.restoreDurationItems();
    EXPECT_EQ(found.cStyleArray().size(), 4u) << "every confirmed node ends in the list";
    EXPECT_EQ(found.durationItemsCount(), 0u);
    KZFoundList handedOver = found.takeList();
    EXPECT_TRUE(found.cStyleArray().isEmpty());
    EXPECT_EQ(handedOver.size(), 4u);
    handedOver.clear();
    EXPECT_EQ(CountedCache::alive(), before);

    // Whatever is still held when a search is abandoned is freed too.
    found.processFoundItem(countedNode(item("/1", str("1"))), nested);
    found.processFoundItem(countedNode(item("/2", str("2"))), duration);
    found.processFoundItem(countedNode(item("/3", str("3"))), {});
    found.clear();
    EXPECT_EQ(CountedCache::alive(), before);
    EXPECT_TRUE(found.foldersTree().isEmpty());
}

TEST(KZCompareTest, NamesCompareWithoutCaseAndMissingNamesAreNotComparable)
{
    const std::vector<std::tuple<QString, QString, qint16>> cases{
        {str("photo.jpg"), str("Photo.JPG"), 0}, {str("b"), str("a"), -1}, {str("a"), str("b"), 1},
        {QString(), str("a"), -2},               {str("a"), QString(), -2},
    };
    for (const auto& [tree, candidate, expected] : cases)
        EXPECT_EQ(compareForSameString(tree, candidate), expected) << tree.toStdString();
    EXPECT_EQ(compareForSameNumber(10, 10), 0);
    EXPECT_EQ(compareForSameNumber(10, 9), -1);
    EXPECT_EQ(compareForSameNumber(10, 11), 1);
    EXPECT_EQ(compareForSameNumber(0, ~quint64(0)), 1);
}

} // namespace
