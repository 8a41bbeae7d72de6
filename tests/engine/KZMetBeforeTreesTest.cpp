#include "engine/KZAppURLTree.h"
#include "engine/KZCompareCodes.h"
#include "engine/KZFoundFoldersTree.h"
#include "engine/KZFoundNodes.h"
#include "engine/KZNumberTree.h"
#include "EngineTestSupport.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

using enginetest::CountedCache;
using enginetest::countedNode;
using enginetest::item;

namespace {

// ---- Number tree ------------------------------------------------------------------

TEST(KZNumberTreeTest, SamePathTwiceIsTakenOnce)
{
    KZNumberTree tree;
    EXPECT_EQ(tree.urlAlreadyExist("/lib/Masters/a.jpg"), 0);
    EXPECT_EQ(tree.urlAlreadyExist("/lib/Masters/a.jpg"), -48);
    EXPECT_EQ(tree.urlAlreadyExist("/lib/Masters/b.jpg"), 0);
}

TEST(KZNumberTreeTest, OneLocationSpelledTwoWaysIsOnePath)
{
    KZNumberTree tree;
    EXPECT_EQ(tree.urlAlreadyExist("/lib/Masters/a.jpg"), 0);
    for (const char* spelling : {"/lib//Masters/a.jpg", "/lib/./Masters/a.jpg", "/lib/x/../Masters/a.jpg"})
        EXPECT_EQ(tree.urlAlreadyExist(spelling), -48) << spelling;
}

TEST(KZNumberTreeTest, ManyDistinctPathsAreAllNew)
{
    // Long paths sharing their beginning and end: a weak string hash makes
    // such paths collide, and a collision must not pass for a repeat.
    KZNumberTree tree;
    const std::string prefix(300, 'p');
    const std::string suffix(300, 's');
    for (int i = 0; i < 2000; ++i)
        ASSERT_EQ(tree.urlAlreadyExist("/" + prefix + std::to_string(i) + suffix), 0) << i;
    tree.clear();
    EXPECT_TRUE(tree.isEmpty());
    EXPECT_EQ(tree.urlAlreadyExist("/" + prefix + "0" + suffix), 0) << "a cleared tree forgets";
}

TEST(KZNumberTreeTest, TwoHalvesOfferingTheSamePathsTakeEachOnce)
{
    KZNumberTree tree;
    std::atomic<int> taken{0};
    auto half = [&] {
        for (int i = 0; i < 500; ++i) {
            if (tree.urlAlreadyExist("/lib/" + std::to_string(i) + ".heic") == 0)
                ++taken;
        }
    };
    std::thread one(half);
    std::thread two(half);
    one.join();
    two.join();
    EXPECT_EQ(taken.load(), 500);
}

// ---- Library URL tree ----------------------------------------------------------------

TEST(KZAppURLTreeTest, SameNameDifferentLocationsBothStay)
{
    KZAppURLTree tree;
    EXPECT_TRUE(tree.addNodeAppURLToTree("/Music/A/song.mp3", QStringLiteral("song.mp3")));
    EXPECT_TRUE(tree.addNodeAppURLToTree("/Music/B/song.mp3", QStringLiteral("song.mp3")));
    EXPECT_EQ(tree.size(), 2u);
    EXPECT_EQ(tree.appItemAlreadyExists(*item("/Music/A/song.mp3", QStringLiteral("song.mp3"))), -2);
    EXPECT_EQ(tree.appItemAlreadyExists(*item("/Music/B/song.mp3", QStringLiteral("song.mp3"))), -2);
    EXPECT_EQ(tree.appItemAlreadyExists(*item("/Music/C/song.mp3", QStringLiteral("song.mp3"))), 0);
}

TEST(KZAppURLTreeTest, SameLocationTwiceIsStoredOnce)
{
    KZAppURLTree tree;
    EXPECT_TRUE(tree.addNodeAppURLToTree("/Music/a.mp3", QStringLiteral("a.mp3")));
    EXPECT_FALSE(tree.addNodeAppURLToTree("/Music/a.mp3", QStringLiteral("a.mp3")));
    EXPECT_FALSE(tree.addNodeAppURLToTree("/Music//a.mp3", QStringLiteral("a.mp3")));
    EXPECT_EQ(tree.size(), 1u);
}

TEST(KZAppURLTreeTest, NodeWithoutNameStaysOutAndHidesNothing)
{
    KZAppURLTree tree;
    EXPECT_FALSE(tree.addNodeAppURLToTree("/Music/x.mp3", QString()));
    EXPECT_TRUE(tree.isEmpty());
    EXPECT_TRUE(tree.addNodeAppURLToTree("/Music/m.mp3", QStringLiteral("m.mp3")));
    EXPECT_EQ(tree.appItemAlreadyExists(*item("/Music/m.mp3", QStringLiteral("m.mp3"))), -2);
}

TEST(KZAppURLTreeTest, ManyNamesAreFoundByTheirLocation)
{
    KZAppURLTree tree;
    std::vector<QString> names;
    for (int i = 0; i < 200; ++i)
        names.push_back(QStringLiteral("Track %1.m4a").arg((i * 37) % 200));
    for (const QString& name : names)
        tree.addNodeAppURLToTree(std::filesystem::path("/Lib") / name.toStdString(), name);
    for (const QString& name : names) {
        // The scan's name may differ in case from the library's.
        EXPECT_EQ(tree.appItemAlreadyExists(*item(std::filesystem::path("/Lib") / name.toStdString(), name.toUpper())),
                  -2)
            << name.toStdString();
    }
    EXPECT_EQ(tree.appItemAlreadyExists(*item("/Elsewhere/Track 1.m4a", QStringLiteral("Track 1.m4a"))), 0);
    tree.freeAppURLsTreeNodes();
    EXPECT_TRUE(tree.isEmpty());
    EXPECT_EQ(tree.appItemAlreadyExists(*item("/Lib/Track 1.m4a", QStringLiteral("Track 1.m4a"))), 0);
}

// ---- Found folders ----------------------------------------------------------------------

TEST(KZFoundFoldersTreeTest, FolderReachedTwiceIsFiledOnce)
{
    const int before = CountedCache::alive();
    KZFoundFoldersTree tree;
    auto first = item("/a/Empty", QStringLiteral("Empty"));
    std::weak_ptr<KZSearchItemInfo> second;
    EXPECT_NE(tree.addFolderToNode(countedNode(first)), nullptr);
    {
        auto again = item("/a//Empty/", QStringLiteral("Empty"));
        second = again;
        EXPECT_EQ(tree.addFolderToNode(countedNode(std::move(again))), nullptr);
    }
    EXPECT_TRUE(second.expired()) << "the repeat's item reference is released";
    EXPECT_NE(tree.addFolderToNode(countedNode(item("/b/Empty", QStringLiteral("Empty")))), nullptr)
        << "same name, other folder";
    EXPECT_EQ(tree.size(), 2u);
    EXPECT_EQ(CountedCache::alive(), before + 2);
}

TEST(KZFoundFoldersTreeTest, FolderAlreadyExistsLooksAtBothNodesAndTheTree)
{
    KZFoundFoldersTree tree;
    tree.addFolderToNode(TreeToCheck::create(item("/x/One", QStringLiteral("One"))));
    tree.addFolderToNode(TreeToCheck::create(item("/x/Two", QStringLiteral("Two"))));
    TreeToCheck treeNode(item("/y/Three", QStringLiteral("Three")));

    struct Case {
        const char* path;
        const char* name;
        qint16 expected;
    } cases[] = {
        {"/y/Three", "Three", -2}, // the candidate tree node's own folder
        {"/x/One", "One", -2},     // already found
        {"/x/Two", "Two", -2},
        {"/z/One", "One", 0}, // same name elsewhere
        {"/x/Four", "Four", 0},
    };
    for (const Case& c : cases) {
        TreeToCheck newNode(item(c.path, QString::fromLatin1(c.name)));
        EXPECT_EQ(tree.folderAlreadyExists(treeNode, newNode), c.expected) << c.path;
    }
}

TEST(KZFoundFoldersTreeTest, EmptyingHandsEveryFolderOverOnceChildrenFirst)
{
    const int before = CountedCache::alive();
    KZFoundFoldersTree tree;
    for (const char* name : {"M", "C", "T", "A", "E"})
        tree.addFolderToNode(countedNode(item(std::string("/f/") + name, QString::fromLatin1(name))));
    QStringList order;
    std::set<const TreeToCheck*> seen;
    tree.freeUnusedFoldersTreeNodes([&](std::unique_ptr<TreeToCheck> node) {
        EXPECT_EQ(node->left, nullptr);
        EXPECT_EQ(node->right, nullptr);
        EXPECT_TRUE(seen.insert(node.get()).second);
        order << node->item->originalName();
    });
    // Larger names sort left: M has T on its left and C on its right; C has
    // E on its left and A on its right.
    EXPECT_EQ(order, (QStringList{QStringLiteral("T"), QStringLiteral("E"), QStringLiteral("A"), QStringLiteral("C"), QStringLiteral("M")}));
    EXPECT_TRUE(tree.isEmpty());
    EXPECT_EQ(CountedCache::alive(), before);
}

// ---- Where found nodes go ---------------------------------------------------------------

TEST(KZFoundNodesTest, NodesGoWhereThePhaseSays)
{
    const int before = CountedCache::alive();
    KZFoundNodes found;
    KZFoundNodes::Phase nested{true, false, false, false};
    TreeToCheck* filed = found.processFoundItem(countedNode(item("/e/One", QStringLiteral("One"))), nested);
    ASSERT_NE(filed, nullptr);
    EXPECT_EQ(filed->item->originalName(), QStringLiteral("One"));
    EXPECT_EQ(found.processFoundItem(countedNode(item("/e/One", QStringLiteral("One"))), nested), nullptr)
        << "reported once";
    found.processFoundItem(countedNode(item("/e/Two", QStringLiteral("Two"))), nested);
    EXPECT_TRUE(found.cStyleArray().isEmpty());

    KZFoundNodes::Phase duration{false, false, true, false};
    EXPECT_EQ(found.processFoundItem(countedNode(item("/d/song.mp3", QStringLiteral("song.mp3"))), duration),
              nullptr);
    EXPECT_EQ(found.durationItemsCount(), 1u);

    KZFoundNodes::Phase plain{};
    found.processFoundItem(countedNode(item("/p/x", QStringLiteral("x"))), plain);
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
}

TEST(KZFoundNodesTest, ClearFreesWhateverIsHeld)
{
    const int before = CountedCache::alive();
    KZFoundNodes found;
    found.processFoundItem(countedNode(item("/1", QStringLiteral("1"))), {true, false, false, false});
    found.processFoundItem(countedNode(item("/2", QStringLiteral("2"))), {false, false, true, false});
    found.processFoundItem(countedNode(item("/3", QStringLiteral("3"))), {});
    found.clear();
    EXPECT_EQ(CountedCache::alive(), before);
    EXPECT_TRUE(found.foldersTree().isEmpty());
}

// ---- Name and number comparisons ---------------------------------------------------------

TEST(KZCompareTest, NamesCompareWithoutCaseAndMissingNamesAreNotComparable)
{
    struct Case {
        QString tree;
        QString candidate;
        qint16 expected;
    } cases[] = {
        {QStringLiteral("photo.jpg"), QStringLiteral("Photo.JPG"), 0},
        {QStringLiteral("b"), QStringLiteral("a"), -1},
        {QStringLiteral("a"), QStringLiteral("b"), 1},
        {QString(), QStringLiteral("a"), -2},
        {QStringLiteral("a"), QString(), -2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(compareForSameString(c.tree, c.candidate), c.expected) << c.tree.toStdString();
    EXPECT_EQ(compareForSameNumber(10, 10), 0);
    EXPECT_EQ(compareForSameNumber(10, 9), -1);
    EXPECT_EQ(compareForSameNumber(10, 11), 1);
    EXPECT_EQ(compareForSameNumber(0, ~quint64(0)), 1);
}

} // namespace
