#include "result/model/KZFoundListFinder.h"

#include "result/model/KZFindFolding.h"
#include "result/model/KZFoundListContext.h"
#include "result/model/KZFoundListHost.h"
#include "result/model/KZFoundListWorkers.h"
#include "result/model/KZListOutline.h"


KZFoundListFinder::KZFoundListFinder(const KZFoundListContext& context)
    : context_(context)
{
}

std::optional<KZListRow> KZFoundListFinder::searchString(const QString& foldedText, const KZShownList& list)
{
    if (!list.isGrouped()) {
        for (const KZFoundItemRef& item : list.items) {
            if (KZFindFolding::nameContains(item->knownName(), foldedText))
                return KZListRow{nullptr, item};
        }
        return std::nullopt;
    }
    for (const KZFoundItemGroupRef& group : list.root->groups()) {
        if (KZFindFolding::nameContains(group->name(), foldedText))
            return KZListRow{group, nullptr};
        for (const KZFoundItemRef& item : group->items()) {
            if (KZFindFolding::nameContains(item->knownName(), foldedText))
                return KZListRow{group, item};
        }
    }
    return std::nullopt;
}

void KZFoundListFinder::answer(const std::optional<KZListRow>& hit) const
{
    if (!hit) {
        if (context_.host)
            context_.host->beep();
        return;
    }
    if (context_.outline)
        context_.outline->selectFoundItem(*hit);
}

void KZFoundListFinder::find(const QString& text, const KZShownList& list)
{
    if (!list.isGrouped()) {
        context_.workers->add([this, text, list] {
            std::optional<KZListRow> hit = searchString(KZFindFolding::fold(text), list);
            context_.workers->onMainLater([this, hit] { answer(hit); });
        });
        return;
    }
    // The worker searches stand-ins made here: the groups themselves belong
    // to this thread. A stand-in reads its name from the member the group is
    // named after, on the worker, so the first search reads the disk there.
    KZFoundItemGroupRef stand = KZFoundItemGroup::itemGroup();
    stand->groups().reserve(list.root->groups().size());
    for (const KZFoundItemGroupRef& group : list.root->groups()) {
        KZFoundItemGroupRef copy = KZFoundItemGroup::itemGroup();
        copy->setNameAs(*group);
        copy->setItems(group->items());
        stand->groups().append(copy);
    }
    context_.workers->add([this, text, stand, root = list.root] {
        const std::optional<KZListRow> hit = searchString(KZFindFolding::fold(text), KZShownList::grouped(stand));
        const qsizetype index = hit ? stand->groups().indexOf(hit->group) : -1;
        const KZFoundItemRef item = hit ? hit->item : nullptr;
        context_.workers->onMainLater([this, index, item, root] {
            // The outline selects the real group, not its stand-in.
            if (index < 0)
                answer(std::nullopt);
            else if (index < root->groups().size())
                answer(KZListRow{root->groups()[index], item});
        });
    });
}
