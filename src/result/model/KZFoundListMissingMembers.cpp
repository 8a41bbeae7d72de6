#include "result/model/KZFoundListMissingMembers.h"

#include "result/model/KZFoundItemsCntrl.h"
#include "result/model/KZFoundListContext.h"
#include "result/model/KZFoundListStore.h"
#include "result/model/KZListOutline.h"
#include "result/model/KZResultCntrl.h"

#include <functional>

KZFoundListMissingMembers::KZFoundListMissingMembers(const KZFoundListContext& context)
    : context_(context)
{
}

KZFoundItemGroupRef KZFoundListMissingMembers::findGroupByGroupID(qint64 groupID, quint64 tag) const
{
    const std::shared_ptr<KZFoundItemsCntrl> model = context_.model();
    const auto list = context_.store->list(tag);
    if (!model || !list || !list->isGrouped())
        return nullptr;
    return model->groupByIDWithRootArray(list->root, groupID);
}

namespace {

// The counter of a group row reads marked members of shown members: both
// change when members come and go.
void recountMarked(KZFoundItemGroup& group)
{
    quint16 marked = 0;
    for (const KZFoundItemRef& item : group.items()) {
        if (item->isMarked())
            ++marked;
    }
    group.setMarkedCount(marked);
}

} // namespace

void KZFoundListMissingMembers::addItemsToGroup(const KZFoundItemGroupRef& shown, const KZFoundItemGroupRef& full)
{
    if (!shown || !full || shown == full)
        return;
    KZFoundItemArray& members = shown->items();
    for (const KZFoundItemRef& item : full->items()) {
        if (!members.contains(item))
            members.prepend(item);
    }
    recountMarked(*shown);
}

void KZFoundListMissingMembers::showToAllGroups(const KZShownList& list)
{
    if (!list.isGrouped())
        return;
    for (const KZFoundItemGroupRef& group : list.root->groups())
        addItemsToGroup(group, findGroupByGroupID(group->groupID(), context_.tabTag));
}

void KZFoundListMissingMembers::show(const KZGroupOptionRequest& request)
{
    const auto group = request.groupItem.value<KZFoundItemGroupRef>();
    wereAdded_ = true;
    const qsizetype oldCount = group ? group->items().size() : 0;
    if (request.isForAllGroups)
        showToAllGroups(context_.store->list(context_.currentTag()).value_or(KZShownList()));
    else if (group)
        addItemsToGroup(group, findGroupByGroupID(group->groupID(), context_.tabTag));
    context_.store->bumpGeneration(context_.currentTag());
    if (context_.outline && group)
        context_.outline->updateRowsForGroup(group, oldCount);
}

void KZFoundListMissingMembers::removeExtraneous()
{
    const quint64 tag = context_.currentTag();
    // Which members belong to the list being left. The tab list keeps the
    // tab's own type (everything on tab 0); comparing it with a location, as
    // the location lists do, would strip every member.
    std::function<bool(const KZFoundItemRef&)> belongs;
    if (tag >= KZTag::markedItemsRowBase) {
        belongs = [](const KZFoundItemRef& item) { return item->isMarked(); };
    } else if (tag >= KZTag::sourceRowBase) {
        const qint64 location = KZResultCntrl::realLocationTag(tag);
        belongs = [location](const KZFoundItemRef& item) {
            return static_cast<qint64>(item->locationLabelTag()) == location;
        };
    } else if (tag == KZTag::allDuplicates) {
        belongs = [](const KZFoundItemRef&) { return true; };
    } else {
        belongs = [tag](const KZFoundItemRef& item) { return item->fileTypeTag() == tag; };
    }

    const KZShownList list = context_.store->list(context_.currentTag()).value_or(KZShownList());
    if (list.isGrouped()) {
        for (const KZFoundItemGroupRef& group : list.root->groups()) {
            KZFoundItemArray& members = group->items();
            for (qsizetype i = members.size() - 1; i >= 0; --i) {
                if (!belongs(members[i]))
                    members.removeAt(i);
            }
            recountMarked(*group);
        }
        context_.store->bumpGeneration(tag);
    } else {
        KZFoundItemArray kept;
        for (const KZFoundItemRef& item : list.items) {
            if (belongs(item))
                kept.append(item);
        }
        if (kept.size() != list.items.size())
            context_.store->store(tag, KZShownList::flat(kept), std::nullopt);
    }
    wereAdded_ = false;
}

void KZFoundListMissingMembers::revealGroup(const KZFoundItemRef& item)
{
    if (!item || !context_.outline)
        return;
    context_.outline->revealGroup(findGroupByGroupID(item->groupID(), context_.tabTag));
}
