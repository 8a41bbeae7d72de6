#include "ModelTestSupport.h"

#include "result/model/KZColumnKeys.h"
#include "result/model/KZFoundListStore.h"
#include "result/model/KZFoundListWorkers.h"
#include "result/model/KZThreadBudget.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <atomic>

using namespace modeltest;

namespace {

constexpr KZTabTag kList = 5;

const KZSortDescriptors kBySize{KZSortDescriptor(KZColumnKey::size_col, true)};

TEST(ListStore, WorkBegunOnAnOlderGenerationIsNotStoredOverANewerList)
{
    KZFoundListStore store;
    const KZFoundItemArray first = makeItems({{.group = 1}});
    const KZFoundItemArray second = makeItems({{.group = 2}});

    // Work that expects a list where there is none is refused.
    EXPECT_FALSE(store.store(kList, KZShownList::flat(first), std::nullopt, 7));
    ASSERT_TRUE(store.store(kList, KZShownList::flat(first), std::nullopt, 0));
    const quint64 begun = store.entry(kList)->generation;

    // Groups changed in place while a worker sorted: its answer and its
    // order are both refused.
    store.bumpGeneration(kList);
    EXPECT_FALSE(store.store(kList, KZShownList::flat(second), kBySize, begun));
    EXPECT_EQ(store.list(kList)->items, first);
    EXPECT_TRUE(store.sortDescriptors(kList).isEmpty());

    const quint64 present = store.entry(kList)->generation;
    EXPECT_TRUE(store.store(kList, KZShownList::flat(second), kBySize, present));
    EXPECT_EQ(store.list(kList)->items, second);
    EXPECT_GT(store.entry(kList)->generation, present);
    EXPECT_EQ(store.sortDescriptors(kList), kBySize);

    // Dropping a list keeps its order for when it is built again.
    EXPECT_TRUE(store.store(kList, std::nullopt, std::nullopt));
    EXPECT_FALSE(store.entry(kList).has_value());
    EXPECT_TRUE(store.tags().isEmpty());
    EXPECT_EQ(store.sortDescriptors(kList), kBySize);
}

TEST(ListStore, AListThatTurnedStaleBeforeTheStoreIsNotStored)
{
    KZFoundListStore store;
    bool shapeChanged = true;
    const auto stale = [&shapeChanged] { return shapeChanged; };
    EXPECT_FALSE(store.storeUnless(stale, kList, KZShownList::flat(makeItems({{.group = 1}})), kBySize));
    EXPECT_FALSE(store.entry(kList).has_value());
    EXPECT_TRUE(store.sortDescriptors(kList).isEmpty());

    shapeChanged = false;
    EXPECT_TRUE(store.storeUnless(stale, kList, KZShownList::flat(makeItems({{.group = 1}})), kBySize));
    EXPECT_EQ(store.tags(), QList<KZTabTag>{kList});
    EXPECT_EQ(store.sortDescriptors(kList), kBySize);
}

TEST(ListWorkers, AfterTheStopNothingQueuedForTheMainThreadRunsAndBudgetWaitsEnd)
{
    KZFoundListWorkers workers(QStringLiteral("ListWorkersTest"));
    std::atomic<bool> ranOnMain{false};
    std::atomic<bool> waitAnswer{true};
    workers.add([&] { workers.onMainLater([&] { ranOnMain = true; }); });
    // A worker waiting for room in a budget that never has any.
    workers.add(
        [&] { waitAnswer = KZThreadBudget::waitUntilNewThreadIsAvailable(workers.cancelled(), [] { return false; }); });
    workers.stop();
    QCoreApplication::processEvents();
    EXPECT_FALSE(ranOnMain.load());
    EXPECT_FALSE(waitAnswer.load());

    // On the main thread, onMain runs at once.
    bool ranAtOnce = false;
    workers.onMain([&] { ranAtOnce = true; });
    EXPECT_TRUE(ranAtOnce);
}

} // namespace
