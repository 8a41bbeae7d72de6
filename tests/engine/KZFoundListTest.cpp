#include "EngineTestSupport.h"

#include "engine/KZFoundList.h"
#include "engine/KZFoundListParcel.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

using namespace enginetest;

namespace {

const QString kItems = QStringLiteral("KZResultFoundItems");

// Three items found in the order A, B, C, each referenced only by its node.
struct ThreeFinds {
    std::vector<std::weak_ptr<KZSearchItemInfo>> items;
    KZFoundList list;
    const int aliveBefore = CountedCache::alive();

    ThreeFinds()
    {
        for (const char* name : {"A", "B", "C"}) {
            auto info = item(std::string("/f/") + name, str(name));
            items.push_back(info);
            EXPECT_TRUE(list.prepend(countedNode(std::move(info))));
        }
    }

    // Every node freed and every item released, each once (ASan sees a
    // second free).
    void expectAllFreed() const
    {
        EXPECT_EQ(CountedCache::alive(), aliveBefore);
        for (const auto& weak : items)
            EXPECT_TRUE(weak.expired());
    }
};

QStringList namesOf(const KZFoundList& list)
{
    QStringList names;
    for (const ArrayCStyle* cell = list.head(); cell; cell = cell->next)
        names << cell->node->item->originalName();
    return names;
}

const QStringList newestFirst{QStringLiteral("C"), QStringLiteral("B"), QStringLiteral("A")};

TEST(KZFoundListTest, ReceiverWalkTakesEachNodeOnceNewestFirst)
{
    ThreeFinds finds;
    EXPECT_FALSE(finds.list.prepend(nullptr));
    EXPECT_EQ(namesOf(finds.list), newestFirst);
    QStringList seen;
    while (auto node = finds.list.takeFirst()) {
        seen << node->item->originalName();
        EXPECT_EQ(node->left, nullptr);
        EXPECT_EQ(node->right, nullptr);
    }
    EXPECT_EQ(seen, newestFirst);
    EXPECT_TRUE(finds.list.isEmpty());
    finds.expectAllFreed();
}

TEST(KZFoundListTest, DestroyingOrReplacingAListFreesItsNodesOnce)
{
    ThreeFinds finds;
    KZFoundList moved = std::move(finds.list);
    EXPECT_TRUE(finds.list.isEmpty());
    KZFoundList other;
    other.prepend(countedNode(item("/o", str("O"))));
    other = std::move(moved); // the node "O" is freed by the assignment
    EXPECT_EQ(other.size(), 3u);
    EXPECT_EQ(CountedCache::alive(), finds.aliveBefore + 3);
    { KZFoundList last = std::move(other); }
    finds.expectAllFreed();
}

TEST(KZFoundListParcelTest, TravelsInAUserInfoMapIsTakenOnceAndFreedIfAbandoned)
{
    ThreeFinds finds;
    QVariantMap userInfo{{kItems, KZFoundListParcel::toVariant(std::move(finds.list))}};
    const QVariantMap copy = userInfo; // observers get copies of the map
    KZFoundList received = KZFoundListParcel::take(copy.value(kItems));
    EXPECT_EQ(namesOf(received), newestFirst);
    EXPECT_TRUE(KZFoundListParcel::take(userInfo.value(kItems)).isEmpty()) << "a second receiver gets nothing";
    received.clear();
    finds.expectAllFreed();

    for (const QVariant& foreign : {QVariant(), QVariant(0), KZFoundListParcel::toVariant(KZFoundList())})
        EXPECT_TRUE(KZFoundListParcel::take(foreign).isEmpty());

    ThreeFinds abandoned;
    {
        QVariantMap abandonedInfo{{kItems, KZFoundListParcel::toVariant(std::move(abandoned.list))}};
        QVariant extra = abandonedInfo.value(kItems);
    }
    abandoned.expectAllFreed();
}

TEST(KZFoundListParcelTest, ConcurrentReceiversNeverShareTheList)
{
    ThreeFinds finds;
    const QVariant parcel = KZFoundListParcel::toVariant(std::move(finds.list));
    std::vector<size_t> sizes(4, 0);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < sizes.size(); ++i)
        threads.emplace_back([&, i] { sizes[i] = KZFoundListParcel::take(parcel).size(); });
    for (auto& t : threads)
        t.join();
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ(sizes, (std::vector<size_t>{0, 0, 0, 3}));
    finds.expectAllFreed();
}

TEST(TreeToCheckTest, FreeingALongChainNeedsNoDeepStack)
{
    // Sorted input builds a chain; 300000 levels would overflow any thread
    // stack if the walk recursed.
    const int before = CountedCache::alive();
    TreeToCheck* root = nullptr;
    TreeToCheck** link = &root;
    for (int i = 0; i < 300000; ++i) {
        *link = countedNode(item("/c", str("c"))).release();
        link = (i % 2) ? &(*link)->left : &(*link)->right;
    }
    freeTree(root);
    EXPECT_EQ(root, nullptr);
    EXPECT_EQ(CountedCache::alive(), before);
}

// Groups far beyond the 16-bit range of older result files are counted.
static_assert(sizeof(KZItemsInGroup::element_type) >= sizeof(quint32));

} // namespace
