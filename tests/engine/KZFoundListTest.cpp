#include "engine/KZCandidateStack.h"
#include "engine/KZFoundList.h"
#include "engine/KZFoundListParcel.h"
#include "EngineTestSupport.h"

#include <QVariantMap>

#include <QStringList>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using enginetest::CountedCache;
using enginetest::countedNode;
using enginetest::item;

namespace {

// Three items found in the order A, B, C, each referenced only by its node.
struct ThreeFinds {
    std::vector<std::weak_ptr<KZSearchItemInfo>> items;
    KZFoundList list;

    ThreeFinds()
    {
        for (const char* name : {"A", "B", "C"}) {
            auto info = item(std::string("/f/") + name, QString::fromLatin1(name));
            items.push_back(info);
            EXPECT_TRUE(list.prepend(countedNode(std::move(info))));
        }
    }

    bool allReleased() const
    {
        for (const auto& weak : items) {
            if (!weak.expired())
                return false;
        }
        return true;
    }
};

QStringList namesOf(const KZFoundList& list)
{
    QStringList names;
    for (const ArrayCStyle* cell = list.head(); cell; cell = cell->next)
        names << cell->node->item->originalName();
    return names;
}

TEST(KZFoundListTest, NewestFindComesFirst)
{
    ThreeFinds finds;
    EXPECT_EQ(namesOf(finds.list), (QStringList{QStringLiteral("C"), QStringLiteral("B"), QStringLiteral("A")}));
    EXPECT_EQ(finds.list.size(), 3u);
}

TEST(KZFoundListTest, DestroyingTheListFreesEveryNodeAndReleasesEveryItemOnce)
{
    const int before = CountedCache::alive();
    std::vector<std::weak_ptr<KZSearchItemInfo>> items;
    {
        ThreeFinds finds;
        items = finds.items;
        EXPECT_EQ(CountedCache::alive(), before + 3);
    }
    EXPECT_EQ(CountedCache::alive(), before);
    for (const auto& weak : items)
        EXPECT_TRUE(weak.expired());
}

TEST(KZFoundListTest, ReceiverWalkTakesEachNodeOnce)
{
    const int before = CountedCache::alive();
    ThreeFinds finds;
    QStringList seen;
    while (auto node = finds.list.takeFirst()) {
        seen << node->item->originalName();
        EXPECT_EQ(node->left, nullptr);
        EXPECT_EQ(node->right, nullptr);
    }
    EXPECT_EQ(seen, (QStringList{QStringLiteral("C"), QStringLiteral("B"), QStringLiteral("A")}));
    EXPECT_TRUE(finds.list.isEmpty());
    EXPECT_EQ(finds.list.size(), 0u);
    EXPECT_EQ(CountedCache::alive(), before);
    EXPECT_TRUE(finds.allReleased());
}

TEST(KZFoundListTest, MovedListHasOneOwner)
{
    const int before = CountedCache::alive();
    ThreeFinds finds;
    KZFoundList moved = std::move(finds.list);
    EXPECT_TRUE(finds.list.isEmpty());
    EXPECT_EQ(moved.size(), 3u);

    KZFoundList other;
    other.prepend(countedNode(item("/o", QStringLiteral("O"))));
    other = std::move(moved); // the node "O" is freed by the assignment
    EXPECT_EQ(other.size(), 3u);
    EXPECT_EQ(CountedCache::alive(), before + 3);
    other.clear();
    EXPECT_EQ(CountedCache::alive(), before);
    EXPECT_TRUE(finds.allReleased());
}

TEST(KZFoundListTest, PrependRefusesNoNode)
{
    KZFoundList list;
    EXPECT_FALSE(list.prepend(nullptr));
    EXPECT_TRUE(list.isEmpty());
}

TEST(KZFoundListParcelTest, TravelsInAUserInfoMapAndIsTakenOnce)
{
    const int before = CountedCache::alive();
    ThreeFinds finds;
    QVariantMap userInfo;
    userInfo.insert(QStringLiteral("KZResultFoundItems"), KZFoundListParcel::toVariant(std::move(finds.list)));
    const QVariantMap copy = userInfo; // observers get copies of the map

    KZFoundList received = KZFoundListParcel::take(copy.value(QStringLiteral("KZResultFoundItems")));
    EXPECT_EQ(namesOf(received), (QStringList{QStringLiteral("C"), QStringLiteral("B"), QStringLiteral("A")}));
    EXPECT_TRUE(KZFoundListParcel::take(userInfo.value(QStringLiteral("KZResultFoundItems"))).isEmpty())
        << "a second receiver gets nothing";
    EXPECT_TRUE(userInfo.value(QStringLiteral("KZResultFoundItems")).value<KZFoundListParcel>().isEmpty());

    received.clear();
    EXPECT_EQ(CountedCache::alive(), before);
    EXPECT_TRUE(finds.allReleased());
}

TEST(KZFoundListParcelTest, AbandonedParcelFreesTheList)
{
    const int before = CountedCache::alive();
    ThreeFinds finds;
    {
        QVariantMap userInfo;
        userInfo.insert(QStringLiteral("KZResultFoundItems"), KZFoundListParcel::toVariant(std::move(finds.list)));
        QVariant extra = userInfo.value(QStringLiteral("KZResultFoundItems"));
        EXPECT_EQ(CountedCache::alive(), before + 3);
    }
    EXPECT_EQ(CountedCache::alive(), before);
    EXPECT_TRUE(finds.allReleased());
}

TEST(KZFoundListParcelTest, EmptyOrForeignValuesGiveAnEmptyList)
{
    EXPECT_TRUE(KZFoundListParcel::take(QVariant()).isEmpty());
    EXPECT_TRUE(KZFoundListParcel::take(QVariant(0)).isEmpty());
    EXPECT_TRUE(KZFoundListParcel::take(KZFoundListParcel::toVariant(KZFoundList())).isEmpty());
    EXPECT_TRUE(KZFoundListParcel().isEmpty());
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
    size_t total = 0;
    for (size_t s : sizes) {
        EXPECT_TRUE(s == 0 || s == 3);
        total += s;
    }
    EXPECT_EQ(total, 3u);
    EXPECT_TRUE(finds.allReleased());
}

TEST(KZCandidateStackTest, PopsNewestFirstAndReleasesTheRest)
{
    std::weak_ptr<KZSearchItemInfo> left;
    {
        KZCandidateStack stack;
        for (const char* name : {"1", "2", "3"})
            stack.push(item(std::string("/s/") + name, QString::fromLatin1(name)));
        left = *stack.top();
        ASSERT_EQ(stack.size(), 3u);
        EXPECT_EQ(stack.pop()->originalName(), QStringLiteral("3"));
        EXPECT_EQ((*stack.top())->originalName(), QStringLiteral("2"));

        KZCandidateStack moved = std::move(stack);
        EXPECT_TRUE(stack.isEmpty());
        EXPECT_EQ(moved.size(), 2u);
        left = *moved.top();
    }
    EXPECT_TRUE(left.expired());
}

TEST(KZCandidateStackTest, EmptyStackAnswersNothing)
{
    KZCandidateStack stack;
    EXPECT_EQ(stack.top(), nullptr);
    EXPECT_EQ(stack.pop(), nullptr);
}

TEST(TreeToCheckTest, FreeingALongChainNeedsNoDeepStack)
{
    // Sorted input builds a chain; 300000 levels would overflow any thread
    // stack if the walk recursed.
    const int before = CountedCache::alive();
    TreeToCheck* root = nullptr;
    TreeToCheck** link = &root;
    for (int i = 0; i < 300000; ++i) {
        auto node = TreeToCheck::create(item("/c", QStringLiteral("c")));
        node->crcs = std::make_unique<CountedCache>();
        *link = node.release();
        link = (i % 2) ? &(*link)->left : &(*link)->right;
    }
    freeTree(root);
    EXPECT_EQ(root, nullptr);
    EXPECT_EQ(CountedCache::alive(), before);
}

TEST(TreeToCheckTest, PostOrderVisitsChildrenFirstLeftBeforeRight)
{
    //        d
    //      b   f
    //     a c e
    TreeToCheck nodes[6];
    const char* names = "abcdef";
    for (int i = 0; i < 6; ++i)
        nodes[i].item = item("/t", QString(QLatin1Char(names[i])));
    TreeToCheck& a = nodes[0];
    TreeToCheck& b = nodes[1];
    TreeToCheck& c = nodes[2];
    TreeToCheck& d = nodes[3];
    TreeToCheck& e = nodes[4];
    TreeToCheck& f = nodes[5];
    d.left = &b;
    d.right = &f;
    b.left = &a;
    b.right = &c;
    f.left = &e;
    QString order;
    forEachNodePostOrder(&d, [&](TreeToCheck* node) { order += node->item->originalName(); });
    EXPECT_EQ(order, QStringLiteral("acbefd"));
}

TEST(TreeToCheckTest, GroupCounterIsSharedAndFreedWithTheLastMember)
{
    std::weak_ptr<std::atomic<quint32>> counter;
    {
        auto head = TreeToCheck::create(item("/g/1", QStringLiteral("1")));
        head->itemsInGroup = makeItemsInGroup(1);
        counter = head->itemsInGroup;
        auto member = TreeToCheck::create(item("/g/2", QStringLiteral("2")));
        member->itemsInGroup = head->itemsInGroup;
        ++*member->itemsInGroup;
        EXPECT_EQ(head->itemsInGroup->load(), 2u);
        head.reset();
        EXPECT_FALSE(counter.expired()) << "the remaining member still holds the counter";
        // Far beyond the 16-bit range of older result files.
        member->itemsInGroup->store(70000);
        EXPECT_EQ(member->itemsInGroup->load(), 70000u);
    }
    EXPECT_TRUE(counter.expired());
}

} // namespace
