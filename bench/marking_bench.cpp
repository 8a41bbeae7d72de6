// How long one click on a check box takes in a large result: the outline
// asks whether the click would mark a group's last copy, then the model
// marks the item and records the change for the tabs. Both must stay far
// below a frame, however many items the result holds.

#include "engine/KZSearchItemInfo.h"
#include "engine/TreeToCheck.h"
#include "platform/OperationQueue.h"
#include "result/model/KZFoundItemsCntrl.h"
#include "result/model/KZMarkingRequest.h"
#include "services/KZDateUtilities.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

namespace {

constexpr int kMembersPerGroup = 3;

std::shared_ptr<KZFoundItemsCntrl> makeResult(int itemCount)
{
    KZFoundItemArray items;
    items.reserve(itemCount);
    KZItemsInGroup counter;
    for (int i = 0; i < itemCount; ++i) {
        const int group = i / kMembersPerGroup + 1;
        if (i % kMembersPerGroup == 0)
            counter = makeItemsInGroup(kMembersPerGroup);
        auto record = KZSearchItemInfo::create(std::filesystem::path("/nonexistent/bench") / std::to_string(i));
        record->setLabel(static_cast<qint16>(i % 4));
        record->setTotSize(1000 + static_cast<quint64>(i % 7));
        record->setFileTypeLabel(3 + static_cast<quint64>(group % 3));
        record->setDevice(1);
        record->setInode(static_cast<quint64>(i) + 1);
        timespec time{};
        time.tv_sec = KZDateUtilities::referenceDateEpochSeconds + (i * 7919) % 100000;
        record->setModificationTime(time);
        TreeToCheck node(record);
        node.groupID = static_cast<quint64>(group);
        node.itemsInGroup = counter;
        items.append(KZFoundItem::itemWithTreeNode(node));
    }
    auto model = std::make_shared<KZFoundItemsCntrl>(nullptr, QVariantMap());
    model->setFileTypesFoundCount(3);
    model->setLastLocationTagUsed(3);
    model->setAllItems(items);
    model->markItemsByDefaultWithTag(0, 0, nullptr, items);
    return model;
}

void BM_CheckBoxClick(benchmark::State& state)
{
    const auto model = makeResult(static_cast<int>(state.range(0)));
    const KZFoundItemArray items = model->allItems();
    model->isLastItemToMark(items.first()); // the index is built once, on the first click
    qsizetype next = 0;
    for (auto _ : state) {
        const KZFoundItemRef& item = items[next];
        next = (next + 7919) % items.size();
        if (!item->isMarked() && model->isLastItemToMark(item))
            continue;
        auto info = std::make_shared<KZViewsToUpdate>();
        for (quint64 tab : {0, 3, 4, 5})
            (*info)[tab] = std::make_shared<KZViewToUpdate>();
        model->markItemsWithDict({{KZMarkingKey::menuItemTag, KZMarkRule::singleCheckBox},
                                  {KZMarkingKey::checkBtnState, item->isMarked() ? 0 : 1},
                                  {KZMarkingKey::ownerTag, QVariant::fromValue<quint64>(0)},
                                  {KZMarkingKey::itemsToManageTag, QVariant::fromValue<quint64>(0)},
                                  {KZMarkingKey::itemsToManage, QVariant::fromValue(KZFoundItemArray{item})},
                                  {KZMarkingKey::infoDict, QVariant::fromValue<KZViewsToUpdateRef>(info)}});
        benchmark::DoNotOptimize(info);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CheckBoxClick)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);

void BM_LastItemToMark(benchmark::State& state)
{
    const auto model = makeResult(static_cast<int>(state.range(0)));
    const KZFoundItemArray items = model->allItems();
    qsizetype next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(model->isLastItemToMark(items[next]));
        next = (next + 7919) % items.size();
    }
}
BENCHMARK(BM_LastItemToMark)->Arg(100000)->Unit(benchmark::kMicrosecond);

// A whole-result rule from the mark menu, for scale: it walks every group.
void BM_OldestRuleOnWholeResult(benchmark::State& state)
{
    const auto model = makeResult(static_cast<int>(state.range(0)));
    const KZFoundItemArray items = model->allItems();
    for (auto _ : state) {
        model->markItemsWithDict({{KZMarkingKey::menuItemTag, KZMarkRule::oldest},
                                  {KZMarkingKey::checkBtnState, 1},
                                  {KZMarkingKey::ownerTag, QVariant::fromValue<quint64>(0)},
                                  {KZMarkingKey::itemsToManageTag, QVariant::fromValue<quint64>(0)}});
    }
}
BENCHMARK(BM_OldestRuleOnWholeResult)->Arg(100000)->Unit(benchmark::kMillisecond);

// Mark in Folder with a folder that holds no item of the result: nothing
// changes, and the window waits for the whole walk.
void BM_MarkInFolderChangingNothing(benchmark::State& state)
{
    const auto model = makeResult(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        auto info = std::make_shared<KZViewsToUpdate>();
        for (quint64 tab : {0, 3, 4, 5})
            (*info)[tab] = std::make_shared<KZViewToUpdate>();
        model->markItemsWithDict(
            {{KZMarkingKey::menuItemTag, KZMarkRule::byChosenFolder},
             {KZMarkingKey::checkBtnState, 1},
             {KZMarkingKey::ownerTag, QVariant::fromValue<quint64>(0)},
             {KZMarkingKey::itemsToManageTag, QVariant::fromValue<quint64>(0)},
             {KZMarkingKey::urls, QVariant::fromValue(std::vector<std::filesystem::path>{"/elsewhere/folder"})},
             {KZMarkingKey::infoDict, QVariant::fromValue<KZViewsToUpdateRef>(info)}});
        benchmark::DoNotOptimize(info);
    }
}
BENCHMARK(BM_MarkInFolderChangingNothing)->Arg(100000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const platform::ApplicationWorkGuard applicationWork;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
