#include "result/model/KZFoundListSorter.h"

#include "platform/NotificationCenter.h"
#include "result/model/KZColumnKeys.h"
#include "result/model/KZFoundItemsCntrl.h"
#include "result/model/KZFoundListContext.h"
#include "result/model/KZFoundListHost.h"
#include "result/model/KZFoundListStore.h"
#include "result/model/KZFoundListWorkers.h"
#include "result/model/KZListNotifications.h"
#include "result/model/KZListOutline.h"

#include <QHash>

#include <utility>
#include <vector>

namespace {

// A sort computed on a list that changed meanwhile is done again, a few
// times at most.
constexpr int kSortAttempts = 3;

const QString kDescriptors = QStringLiteral("descriptors");
const QString kTag = QStringLiteral("tag");
const QString kUpdateInterface = QStringLiteral("updateInterface");

// What a sort of a grouped list needs of each group, read on the main thread.
struct GroupValues {
    QString name;
    KZFoundItemRef namedAfter;
    qint64 groupID = 0;
    quint16 markedCount = 0;
    KZFoundItemArray items;
};

} // namespace

KZFoundListSorter::KZFoundListSorter(const KZFoundListContext& context, std::function<void()> showSorted)
    : context_(context)
    , showSorted_(std::move(showSorted))
{
}

void KZFoundListSorter::sortWithRequest(const QVariantMap& request)
{
    const auto descriptors = request.value(kDescriptors).value<KZSortDescriptors>();
    const bool updateInterface = request.value(kUpdateInterface).toBool();
    const KZTabTag current = context_.currentTag();
    const KZTabTag tag = request.contains(kTag) ? request.value(kTag).toULongLong() : current;
    if (tag == current)
        context_.store->setViewDescriptors(descriptors);

    if (!kindsGathered_ && !descriptors.isEmpty() && descriptors.first().key() == KZColumnKey::kind_col) {
        // Kinds are read from disk, once per tab, before the first sort by
        // kind; the sort follows when they are in.
        kindsGathered_ = true;
        if (updateInterface) {
            if (context_.host)
                context_.host->startSpinner();
            if (context_.outline)
                context_.outline->setIsGatheringKind(true);
        }
        gatherKinds(request);
        return;
    }
    sort(descriptors, tag, updateInterface, 0);
}

void KZFoundListSorter::gatherKinds(const QVariantMap& request)
{
    // Location and marked lists hold the tab list's items.
    const std::optional<KZShownList> tabList = context_.store->list(context_.tabTag);
    const KZFoundItemArray items = tabList ? tabList->flattened() : KZFoundItemArray();
    KZFoundListWorkers* workers = context_.workers;
    workers->add([this, workers, items, request] {
        // Each item guards its own kind; no list lock is held over the reads.
        for (const KZFoundItemRef& item : items) {
            if (workers->cancelled().load())
                return;
            item->gatherKind();
        }
        platform::NotificationCenter::defaultCenter().post(
            KZNotification::sortList, platform::NotificationObject::number(static_cast<qint64>(context_.tabTag)),
            request);
        workers->onMainLater([this] {
            if (context_.outline)
                context_.outline->setIsGatheringKind(false);
        });
    });
}

void KZFoundListSorter::sort(const KZSortDescriptors& descriptors, KZTabTag tag, bool updateInterface, int attempt)
{
    KZFoundListHost* host = context_.host;
    if (updateInterface && attempt == 0 && host)
        host->startSpinner();
    auto finish = [this, updateInterface, host] {
        if (!updateInterface)
            return;
        showSorted_();
        if (host)
            host->stopSpinner();
    };

    KZFoundListStore& store = *context_.store;
    KZFoundListWorkers& workers = *context_.workers;
    const std::optional<KZFoundListStore::Entry> entry = store.entry(tag);
    const std::shared_ptr<KZFoundItemsCntrl> model = context_.model();
    if (!entry || !model) {
        // Nothing to sort yet: the order is kept for when the list exists.
        store.setSortDescriptors(tag, descriptors);
        finish();
        return;
    }

    const quint64 generation = entry->generation;
    if (!entry->list.isGrouped()) {
        workers.add([this, &store, &workers, model, descriptors, tag, updateInterface, attempt, generation, finish,
                     items = entry->list.items] {
            KZShownList sorted = KZShownList::flat(model->sortedGroupWithArray(items, descriptors, true));
            workers.onMainLater([this, &store, sorted, descriptors, tag, updateInterface, attempt, generation, finish] {
                if (!store.store(tag, sorted, descriptors, generation)) {
                    if (attempt + 1 < kSortAttempts)
                        sort(descriptors, tag, updateInterface, attempt + 1);
                    else
                        finish();
                    return;
                }
                finish();
            });
        });
        return;
    }

    // The groups stay the objects the outline knows (its selection points at
    // them); the worker sorts stand-ins and answers the new order.
    const KZFoundItemGroupRef root = entry->list.root;
    std::vector<GroupValues> values;
    values.reserve(static_cast<std::size_t>(root->groups().size()));
    for (const KZFoundItemGroupRef& group : root->groups())
        values.push_back({group->givenName(), group->namedAfter(), group->groupID(), group->markedCount(), group->items()});

    workers.add([this, &store, &workers, model, descriptors, tag, updateInterface, attempt, generation, finish, root,
                 values = std::move(values)] {
        KZFoundItemGroupRef stand = KZFoundItemGroup::itemGroup();
        QHash<const KZFoundItemGroup*, int> indexOf;
        indexOf.reserve(static_cast<qsizetype>(values.size()));
        for (std::size_t i = 0; i < values.size(); ++i) {
            KZFoundItemGroupRef group = KZFoundItemGroup::itemGroup();
            group->setName(values[i].name);
            group->setNamedAfter(values[i].namedAfter);
            group->setGroupID(values[i].groupID);
            group->setMarkedCount(values[i].markedCount);
            group->setItems(values[i].items);
            indexOf.insert(group.get(), static_cast<int>(i));
            stand->groups().append(group);
        }
        const KZFoundItemGroupRef sortedStand = model->sortedGroupWithArray(stand, descriptors, true);
        std::vector<std::pair<int, KZFoundItemArray>> order;
        order.reserve(values.size());
        for (const KZFoundItemGroupRef& group : sortedStand->groups())
            order.emplace_back(indexOf.value(group.get()), group->items());

        workers.onMainLater([this, &store, &workers, order = std::move(order), descriptors, tag, updateInterface,
                             attempt, generation, finish, root]() mutable {
            const std::optional<KZFoundListStore::Entry> now = store.entry(tag);
            if (!now || now->generation != generation || now->list.root != root) {
                if (attempt + 1 < kSortAttempts)
                    sort(descriptors, tag, updateInterface, attempt + 1);
                else
                    finish();
                return;
            }
            const QList<KZFoundItemGroupRef> old = root->groups();
            KZFoundItemGroupRef sorted = KZFoundItemGroup::itemGroup();
            sorted->groups().reserve(old.size());
            // The members' old arrays are swapped out, not freed here: freeing
            // 100,000 references would hold this thread for a frame or more.
            std::vector<KZFoundItemArray> released;
            released.reserve(order.size());
            for (auto& [index, members] : order) {
                const KZFoundItemGroupRef& group = old[index];
                released.push_back(std::exchange(group->items(), std::move(members)));
                sorted->groups().append(group);
            }
            store.store(tag, KZShownList::grouped(sorted), descriptors, generation);
            workers.add([released = std::move(released)] {});
            finish();
        });
    });
}
