#include "result/model/KZFoundListFinder.h"

#include "result/model/KZFindFolding.h"
#include "result/model/KZFoundListContext.h"
#include "result/model/KZFoundListHost.h"
#include "result/model/KZFoundListWorkers.h"
#include "result/model/KZListOutline.h"

#include <utility>
#include <vector>

KZFoundListFinder::KZFoundListFinder(const KZFoundListContext& context)
    : context_(context)
{
}

std::optional<KZListRow> KZFoundListFinder::searchString(const QString& foldedText, const KZShownList& list,
                                                         const std::optional<KZListRow>& after)
{
    // Every row in list order: a group row (member -1) and then its members.
    struct Row {
        qsizetype group;
        qsizetype member;
    };
    std::vector<Row> rows;
    qsizetype start = 0;
    if (!list.isGrouped()) {
        rows.reserve(static_cast<std::size_t>(list.items.size()));
        for (qsizetype i = 0; i < list.items.size(); ++i) {
            if (after && after->item == list.items[i])
                start = i + 1;
            rows.push_back({-1, i});
        }
    } else {
        const auto& groups = list.root->groups();
        for (qsizetype g = 0; g < groups.size(); ++g) {
            const bool inGroup = after && after->group == groups[g];
            if (inGroup && !after->item)
                start = static_cast<qsizetype>(rows.size()) + 1;
            rows.push_back({g, -1});
            const KZFoundItemArray& items = groups[g]->items();
            for (qsizetype i = 0; i < items.size(); ++i) {
                if (inGroup && after->item == items[i])
                    start = static_cast<qsizetype>(rows.size()) + 1;
                rows.push_back({g, i});
            }
        }
    }
    const qsizetype count = static_cast<qsizetype>(rows.size());
    for (qsizetype step = 0; step < count; ++step) {
        const Row& row = rows[static_cast<std::size_t>((start + step) % count)];
        if (!list.isGrouped()) {
            const KZFoundItemRef& item = list.items[row.member];
            if (KZFindFolding::nameContains(item->name(), foldedText))
                return KZListRow{nullptr, item};
            continue;
        }
        const KZFoundItemGroupRef& group = list.root->groups()[row.group];
        if (row.member < 0) {
            if (KZFindFolding::nameContains(group->name(), foldedText))
                return KZListRow{group, nullptr};
        } else if (KZFindFolding::nameContains(group->items()[row.member]->name(), foldedText)) {
            return KZListRow{group, group->items()[row.member]};
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

void KZFoundListFinder::find(const QString& text, const KZShownList& list, const std::optional<KZListRow>& after)
{
    if (!list.isGrouped()) {
        context_.workers->add([this, text, list, after] {
            std::optional<KZListRow> hit = searchString(KZFindFolding::fold(text), list, after);
            context_.workers->onMainLater([this, hit] { answer(hit); });
        });
        return;
    }
    // The worker searches stand-ins made from values read here: the groups
    // themselves belong to this thread.
    std::vector<std::pair<QString, KZFoundItemArray>> values;
    values.reserve(static_cast<std::size_t>(list.root->groups().size()));
    for (const KZFoundItemGroupRef& group : list.root->groups())
        values.emplace_back(group->name(), group->items());
    // Where to start, as the stand-ins will know it: by the group's place.
    const qsizetype afterGroup = after ? list.root->groups().indexOf(after->group) : -1;
    const KZFoundItemRef afterItem = afterGroup >= 0 ? after->item : nullptr;
    context_.workers->add([this, text, values = std::move(values), root = list.root, afterGroup, afterItem] {
        KZFoundItemGroupRef stand = KZFoundItemGroup::itemGroup();
        stand->groups().reserve(static_cast<qsizetype>(values.size()));
        for (const auto& [name, items] : values) {
            KZFoundItemGroupRef copy = KZFoundItemGroup::itemGroup();
            copy->setName(name);
            copy->setItems(items);
            stand->groups().append(copy);
        }
        std::optional<KZListRow> standAfter;
        if (afterGroup >= 0)
            standAfter = KZListRow{stand->groups()[afterGroup], afterItem};
        const std::optional<KZListRow> hit =
            searchString(KZFindFolding::fold(text), KZShownList::grouped(stand), standAfter);
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
