#include "result/model/KZFoundListBuilder.h"

#include "platform/NotificationCenter.h"
#include "result/model/KZColumnKeys.h"
#include "result/model/KZFoundItemsCntrl.h"
#include "result/model/KZFoundListContext.h"
#include "result/model/KZFoundListStore.h"
#include "result/model/KZFoundListWorkers.h"
#include "result/model/KZListNotifications.h"
#include "result/model/KZListOutline.h"
#include "result/model/KZResultCntrl.h"
#include "result/model/KZThreadBudget.h"
#include "settings/KZNotificationNames.h"

#include <vector>

namespace {

QVariant number(quint64 value)
{
    return QVariant::fromValue<quint64>(value);
}

// The order of a list whose view has none: group after group, and within a
// group by source.
KZSortDescriptors defaultSortDescriptors()
{
    return {KZSortDescriptor(KZColumnKey::dupe_group_col, true), KZSortDescriptor(KZColumnKey::location_tag_col, true)};
}

} // namespace

KZFoundListBuilder::KZFoundListBuilder(const KZFoundListContext& context)
    : context_(context)
{
}

QList<KZTabTag> KZFoundListBuilder::tagsToBuild() const
{
    QList<KZTabTag> tags{context_.tabTag};
    if (context_.sources.size() > 1) {
        for (const KZSourceItemRef& source : context_.sources)
            tags.append(KZResultCntrl::itemLocationTagWithLocationTag(source->locationLabelTag()));
    }
    tags.append(KZResultCntrl::itemMarkedTagWithOwnerTag(context_.tabTag));
    return tags;
}

void KZFoundListBuilder::buildAll(bool announceReady, bool refreshWhenDone)
{
    const QList<KZTabTag> tags = tagsToBuild();
    if (refreshWhenDone)
        listsToRefresh_.store(static_cast<qint16>(tags.size()));
    announceReady_.store(announceReady);
    listsToCreate_.store(static_cast<qint16>(tags.size()));
    context_.store->clearLists();
    startWorkers(tags);
}

void KZFoundListBuilder::rebuildAll()
{
    const QList<KZTabTag> tags = tagsToBuild();
    listsToRefresh_.store(static_cast<qint16>(tags.size()));
    listsToCreate_.fetch_add(static_cast<qint16>(tags.size()));
    startWorkers(tags);
}

void KZFoundListBuilder::startWorkers(const QList<KZTabTag>& tags)
{
    // The budget wait must not hold up the thread that asked (the main
    // thread on the empty-folders tab), so one operation starts the workers.
    KZFoundListWorkers* workers = context_.workers;
    workers->add([this, workers, tags] {
        for (const KZTabTag tag : tags) {
            if (!KZThreadBudget::waitUntilNewThreadIsAvailable(workers->cancelled()))
                return;
            KZChangeRunningThreadsCount(true);
            workers->add([this, tag] { buildOne(tag); });
        }
    });
}

KZFoundListBuilder::Built KZFoundListBuilder::buildList(const std::shared_ptr<KZFoundItemsCntrl>& model,
                                                        KZTabTag tag, bool grouped,
                                                        const KZSortDescriptors& descriptors) const
{
    Built built;
    if (!model)
        return built;
    quint64 size = 0;
    const KZFoundItemArray items = model->itemsByTag(tag, context_.tabTag, &size);
    if (items.isEmpty())
        return built;
    built.info.size = size;
    built.info.count = static_cast<quint64>(items.size());
    const KZFoundItemsCntrl::MarkedTotals marked = model->markedCountWithArray(items);
    built.info.markedCount = marked.markedCount;
    built.info.markedSize = marked.markedSize;
    if (grouped) {
        KZFoundItemGroupRef root = model->setupItemsByGroupForItems(items, true);
        if (!descriptors.isEmpty())
            root = model->sortedGroupWithArray(root, descriptors, true);
        built.list = KZShownList::grouped(std::move(root));
    } else {
        built.list = KZShownList::flat(descriptors.isEmpty() ? items
                                                             : model->sortedGroupWithArray(items, descriptors, true));
    }
    return built;
}

KZFoundListBuilder::ListInfo KZFoundListBuilder::gather(KZTabTag tag)
{
    const std::shared_ptr<KZFoundItemsCntrl> model = context_.model();
    KZFoundListStore& store = *context_.store;
    for (;;) {
        const KZSortDescriptors view = store.viewDescriptors();
        const KZSortDescriptors used = view.isEmpty() ? defaultSortDescriptors() : view;
        const bool grouped = context_.shownByGroup();
        Built built = buildList(model, tag, grouped, view);
        // Switched between grouped and flat meanwhile: every stored list
        // must have the present shape, so build again. The shape is asked
        // under the store's lock, which a switch takes to read the lists.
        if (store.storeUnless([this, grouped] { return grouped != context_.shownByGroup(); }, tag,
                              std::move(built.list), used))
            return built.info;
    }
}

void KZFoundListBuilder::postUpdateInfo(KZTabTag tag, const ListInfo& info) const
{
    platform::NotificationCenter::defaultCenter().post(
        KZNotification::updateInfo, platform::NotificationObject::number(static_cast<qint64>(context_.tabTag)),
        {{QStringLiteral("itemsToManageTag"), number(tag)},
         {QStringLiteral("size"), number(info.size)},
         {QStringLiteral("count"), number(info.count)},
         {QStringLiteral("markedCount"), number(info.markedCount)},
         {QStringLiteral("markedSize"), number(info.markedSize)}});
}

void KZFoundListBuilder::buildOne(KZTabTag tag)
{
    ListInfo info = gather(tag);
    // An ordinary tab's own list shows the label's total, which the tab
    // strip also shows.
    if (context_.tabTag < KZTag::specialTabsStart && tag < KZTag::specialTabsStart && context_.fileType)
        info.size = context_.fileType->size();
    postUpdateInfo(tag, info);
    KZChangeRunningThreadsCount(false);
    listDidBuild();

    qint16 pending = listsToRefresh_.load();
    while (pending > 0 && !listsToRefresh_.compare_exchange_weak(pending, static_cast<qint16>(pending - 1))) {
    }
    if (pending == 1) {
        context_.workers->onMainLater([this] {
            if (context_.isVisible())
                context_.showList(false);
        });
    } else if (pending <= 0 && tag == context_.currentTag()) {
        // The tab may have come on screen before its list was stored (the
        // result shown the moment the search ends): it showed no list then,
        // and is given this one now.
        context_.workers->onMainLater([this, tag] {
            if (context_.isVisible() && tag == context_.currentTag())
                context_.showList(false);
        });
    }
}

void KZFoundListBuilder::listDidBuild()
{
    // The worker that takes the count to 0 is the only one to announce the
    // lists; readyPosted_ keeps a later rebuild from announcing again.
    if (listsToCreate_.fetch_sub(1) != 1)
        return;
    if (!announceReady_.load() || readyPosted_.exchange(true))
        return;
    const void* object = context_.resultCntrl;
    platform::NotificationCenter::defaultCenter().post(KZNotification::KZListsReadyToShow, object,
                                                       {{QStringLiteral("tag"), number(context_.tabTag)}});
}

void KZFoundListBuilder::regroup(bool grouped)
{
    // Flattening reads the groups, which belong to this thread; the work
    // on whole lists happens on a worker.
    struct Job {
        KZTabTag tag;
        quint64 generation;
        KZFoundItemArray items;
    };
    std::vector<Job> jobs;
    for (const auto& [tag, entry] : context_.store->entries())
        jobs.push_back({tag, entry.generation, entry.list.flattened()});
    if (jobs.empty())
        return;
    context_.workers->add([this, grouped, jobs = std::move(jobs)] {
        const std::shared_ptr<KZFoundItemsCntrl> model = context_.model();
        if (!model)
            return;
        for (const Job& job : jobs) {
            KZShownList list = grouped ? KZShownList::grouped(model->setupItemsByGroupForItems(job.items, false))
                                       : KZShownList::flat(job.items);
            if (!context_.store->store(job.tag, std::move(list), std::nullopt, job.generation))
                continue;
            if (job.tag == context_.currentTag())
                context_.workers->onMainLater([this] {
                    if (context_.isVisible())
                        context_.showList(true);
                });
        }
    });
}

void KZFoundListBuilder::refreshEmptyFolders()
{
    context_.workers->add([this] {
        for (const KZTabTag tag : tagsToBuild()) {
            ListInfo info = gather(tag);
            if (tag == context_.currentTag())
                context_.workers->onMainLater([this, count = info.count] {
                    if (context_.outline)
                        context_.outline->setItemsCount(count);
                });
            info.size = 0;
            postUpdateInfo(tag, info);
        }
        context_.workers->onMainLater([this] { context_.showList(false); });
    });
}
