#include "result/window/ui/KZSavedViewState.h"

#include "platform/Paths.h"
#include "result/model/KZFoundItemGroup.h"
#include "result/model/KZFoundListCntrl.h"
#include "result/model/KZResultCntrl.h"
#include "result/model/ui/KZResultItemsTypeCntrl.h"
#include "result/window/ui/KZFoundItemsOutlineView.h"
#include "result/window/ui/KZResultOutlineCntrl.h"
#include "resultfiles/KZSaveSnapshot.h"
#include "settings/KZTags.h"

#include <QWidget>

#include <algorithm>

namespace {

KZResultItemsTypeCntrl* tabOf(const std::unique_ptr<KZResultTabCntrl>& tab)
{
    return dynamic_cast<KZResultItemsTypeCntrl*>(tab.get());
}

KZResultSourcesList* sourcesListOf(KZResultItemsTypeCntrl* tab)
{
    return tab ? tab->sourcesListCntrl() : nullptr;
}

KZSavedListState listState(KZFoundListCntrl& list, KZResultOutlineCntrl* outline)
{
    KZSavedListState state;
    state.currSelectedSourceTag = list.nsCurrSelectedSourceTag();
    for (const quint64 tag : list.listTags()) {
        KZSortDescriptors descriptors = list.sortDescriptorsWithTag(tag);
        if (tag == state.currSelectedSourceTag && outline)
            descriptors = outline->sortDescriptors();
        if (!descriptors.isEmpty()) {
            auto& records = state.sortDescriptors[tag];
            for (const KZSortDescriptor& d : descriptors)
                records.push_back({d.ascending(), d.key(), d.selector()});
        }
        if (!list.shownByGroup())
            continue;
        const std::optional<KZShownList> shown = list.listWithTag(tag);
        if (!shown || !shown->root)
            continue;
        std::vector<qint64> expanded;
        for (const KZFoundItemGroupRef& group : shown->root->groups())
            if (group && group->isExpanded())
                expanded.push_back(group->groupID());
        if (!expanded.empty())
            state.expandedByTag[tag] = std::move(expanded);
    }
    if (!outline)
        return state;
    // The rows remembered per list, with the selection on screen in place of
    // what was remembered for the list shown (a list on screen remembers its
    // selection only when the user moves away from it).
    std::map<quint64, QList<KZListRow>> selections = outline->selectedItemsByTags();
    const QList<KZListRow> onScreen = outline->foundListView()->selectedRows();
    if (!onScreen.isEmpty())
        selections[state.currSelectedSourceTag] = onScreen;
    for (const auto& [tag, rows] : selections) {
        std::vector<KZSavedSelection> records;
        for (const KZListRow& row : rows) {
            KZSavedSelection record;
            record.isGroupItem = row.isGroupRow();
            if (row.item) {
                record.groupID = row.item->groupID();
                record.path = platform::pathText(row.item->url());
            } else if (row.group) {
                record.groupID = row.group->groupID();
            } else {
                continue;
            }
            if (std::find(records.begin(), records.end(), record) == records.end())
                records.push_back(std::move(record));
        }
        if (!records.empty())
            state.selectedItems[tag] = std::move(records);
    }
    return state;
}

// The record under tag 0 at `path` of the file written for `wrapper`: the
// sources lists and list models read the file's own records, so the format
// module's spelling of them is the one handed to them.
QVariantMap tagRecord(const KZSavedResult& wrapper, const QStringList& path)
{
    QVariantMap map = KZSavedResultFormat::toPropertyList(wrapper);
    for (const QString& key : path)
        map = map.value(key).toMap();
    return map.value(KZSavedResultFormat::tagKey(0)).toMap();
}

} // namespace

KZSavedTabSources KZSavedViewState::tabSources(const KZResultSourcesList* list, quint64 shownRowTag)
{
    namespace K = KZSavedResultKey;
    KZSavedTabSources saved;
    if (!list) {
        saved.selection = shownRowTag;
        return saved;
    }
    // The list hands its rows in the file's own record form.
    const QVariantMap record = list->savedSettings();
    for (const QVariant& entry : record.value(K::sources).toList()) {
        const QVariantMap row = entry.toMap();
        saved.sources.push_back({row.value(K::tag).toULongLong(), row.value(K::isPhotosLib).toBool(),
                                 row.value(K::searchStoppeByUser).toBool(), row.value(K::markedCount).toULongLong(),
                                 row.value(K::markedSize).toULongLong(), row.value(K::removedSize).toULongLong(),
                                 row.value(K::removedCount).toULongLong()});
    }
    saved.selection = record.value(K::selection).toULongLong();
    return saved;
}

QVariantMap KZSavedViewState::tabSourcesMap(const KZSavedTabSources& tab)
{
    KZSavedResult wrapper;
    wrapper.leftSide[0] = tab;
    return tagRecord(wrapper, {KZSavedResultKey::leftSide, KZSavedResultKey::itemInfo});
}

void KZSavedViewState::read(const KZResultCntrl& result, const Outlines& outlines, KZSaveSnapshot& snapshot)
{
    for (const auto& [tag, tabCntrl] : result.itemsTypeCntrls()) {
        KZResultItemsTypeCntrl* tab = tabOf(tabCntrl);
        KZFoundListCntrl* list = tab ? tab->foundListCntrl() : nullptr;
        snapshot.leftSide[tag] = tabSources(sourcesListOf(tab), list ? list->nsCurrSelectedSourceTag() : 0);
        if (!list || tag == KZTag::missingTracks)
            continue;
        const auto outline = outlines.find(tag);
        snapshot.rightSide[tag] = listState(*list, outline == outlines.end() ? nullptr : outline->second);
    }
}

QVariantMap KZSavedViewState::listStateMap(const KZSavedListState& state)
{
    KZSavedResult wrapper;
    wrapper.rightSide[0] = state;
    return tagRecord(wrapper, {KZSavedResultKey::rightSide});
}

void KZSavedViewState::apply(const KZResultCntrl& result, const KZSavedResult& saved, bool shownByGroupWhenSaved)
{
    for (const auto& [tag, tabCntrl] : result.itemsTypeCntrls()) {
        KZResultItemsTypeCntrl* tab = tabOf(tabCntrl);
        KZFoundListCntrl* list = tab ? tab->foundListCntrl() : nullptr;
        const auto left = saved.leftSide.find(tag);
        if (left != saved.leftSide.end()) {
            if (KZResultSourcesList* rows = sourcesListOf(tab)) {
                rows->setSavedSettings(tabSourcesMap(left->second));
            } else if (list && left->second.selection != 0 && left->second.selection != list->nsCurrSelectedSourceTag()
                       && list->listTags().contains(left->second.selection)) {
                // Without a sources list the saved row's list is shown directly.
                const std::optional<KZShownList> shown = list->listWithTag(left->second.selection);
                const quint64 count = shown ? quint64(shown->flattened().size()) : 0;
                list->sourceSelectionDidChange({{QStringLiteral("tag"), QVariant::fromValue(left->second.selection)},
                                                {QStringLiteral("itemsCount"), QVariant::fromValue(count)}});
            }
        }
        const auto right = saved.rightSide.find(tag);
        if (list && right != saved.rightSide.end())
            list->setSavedSettings(listStateMap(right->second), shownByGroupWhenSaved);
        if (list && tag == saved.selectedTabTag)
            list->reloadListView();
    }
}
