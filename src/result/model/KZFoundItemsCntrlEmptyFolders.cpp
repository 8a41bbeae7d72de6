// The empty folders that a follow-up search finds after a removal, the
// bookkeeping after a removal, sorting that keeps each group together, and
// the look-ups the list models use.

#include "result/model/KZFoundItemsCntrl.h"
#include "engine/KZResultInfoKeys.h"

#include "engine/KZFoundList.h"
#include "engine/KZFoundListParcel.h"
#include "result/model/KZColumnKeys.h"
#include "result/model/KZGroupDictionary.h"
#include "result/model/KZMarkingRequest.h"

#include <algorithm>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The items of a removal, already counted out of the views it asks to update.
KZFoundItemArray removedItemsOf(const KZFoundItemsCntrl& cntrl, const QVariantMap& removal)
{
    const KZFoundItemArray removed = KZFoundItemsOfVariant(removal.value(KZMarkingKey::removedItems));
    if (const auto info = removal.value(KZMarkingKey::infoDict).value<KZViewsToUpdateRef>()) {
        for (const KZFoundItemRef& item : removed)
            cntrl.updateInfoDict(*info, item, std::nullopt);
    }
    return removed;
}

// Rows sorted with their keys read once each: a group row computes its
// values over all its members, so asking per comparison would cost a walk
// of the group every time.
template <class Row, class ValueOf>
void sortRows(QList<Row>& rows, const KZSortDescriptors& descriptors, ValueOf valueOf)
{
    if (descriptors.isEmpty() || rows.size() < 2)
        return;
    struct Keyed {
        Row row;
        QVariantList keys;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(static_cast<std::size_t>(rows.size()));
    for (const Row& row : rows) {
        Keyed entry{row, {}};
        entry.keys.reserve(descriptors.size());
        for (const KZSortDescriptor& descriptor : descriptors)
            entry.keys.append(valueOf(row, descriptor.key()));
        keyed.push_back(std::move(entry));
    }
    std::stable_sort(keyed.begin(), keyed.end(), [&descriptors](const Keyed& a, const Keyed& b) {
        for (qsizetype i = 0; i < descriptors.size(); ++i) {
            const int order = descriptors[i].compareObject(a.keys[i], b.keys[i]);
            if (order != 0)
                return order < 0;
        }
        return false;
    });
    for (std::size_t i = 0; i < keyed.size(); ++i)
        rows[static_cast<qsizetype>(i)] = std::move(keyed[i].row);
}

void sortItems(KZFoundItemArray& items, const KZSortDescriptors& descriptors)
{
    sortRows(items, descriptors,
             [](const KZFoundItemRef& item, const QString& key) { return item->valueForUndefinedKey(key); });
}

} // namespace

// ---- Empty folders -----------------------------------------------------------------------

void KZFoundItemsCntrl::doCreateEmptyFoldersList(const QVariantMap& resultInfo)
{
    KZFoundList list = KZFoundListParcel::take(resultInfo.value(KZResultKey::foundItems));
    const bool restoring = resultInfo.value(KZResultKey::isRestoreOfSaved).toBool();

    KZFoundItemArray built;
    built.reserve(static_cast<qsizetype>(list.size()));
    while (std::unique_ptr<TreeToCheck> node = list.takeFirst()) {
        KZFoundItemRef item = KZFoundItem::itemWithTreeNode(*node);
        // A reopened result brings its bookmarks and marks along; a new empty
        // folder starts marked, as there is nothing in it to keep.
        if (restoring)
            item->setAliasAlreadyCreated(true);
        else
            item->setIsMarked(true);
        built.append(std::move(item));
    }
    // Items of a later search come after those of the earlier ones; a search
    // that found nothing still makes the list exist.
    appendToEmptyFolders(built);

    if (restoring)
        finishToSetItems(allEmptyFolders().value_or(KZFoundItemArray()),
                         resultInfo.value(KZResultKey::isSavedItemsToRestore).toMap());
}

void KZFoundItemsCntrl::updateAfterRemotion(const QVariantMap& removal)
{
    removeFromAllItems(removedItemsOf(*this, removal));
}

void KZFoundItemsCntrl::updateEmptyFoldersAfterRemotion(const QVariantMap& removal)
{
    removeFromEmptyFolders(removedItemsOf(*this, removal));
}

void KZFoundItemsCntrl::cleanEmptyFoldersMemoryAfterTabRemotion()
{
    setAllEmptyFolders(std::nullopt);
}

// ---- Sorting -----------------------------------------------------------------------------

KZFoundItemGroupRef KZFoundItemsCntrl::sortedGroupWithArray(const KZFoundItemGroupRef& root,
                                                            const KZSortDescriptors& descriptors,
                                                            bool /*sortContainedItems*/) const
{
    KZFoundItemGroupRef sorted = KZFoundItemGroup::itemGroup();
    if (!root)
        return sorted;
    QList<KZFoundItemGroupRef> groups = root->groups();
    sortRows(groups, descriptors,
             [](const KZFoundItemGroupRef& group, const QString& key) { return group->valueForUndefinedKey(key); });
    for (const KZFoundItemGroupRef& group : groups) {
        KZFoundItemArray members = group->items();
        sortItems(members, descriptors);
        group->setItems(members);
    }
    sorted->setGroups(groups);
    return sorted;
}

KZFoundItemArray KZFoundItemsCntrl::sortedGroupWithArray(const KZFoundItemArray& items,
                                                         const KZSortDescriptors& descriptors,
                                                         bool sortContainedItems) const
{
    QList<KZGroupDictionary> rows;
    for (KZFoundItemArray group : groupsArrayWithArray(items)) {
        if (sortContainedItems)
            sortItems(group, descriptors);
        rows.append(KZGroupDictionary::dictionaryWithObjectsAndKeys(
            {{QVariant::fromValue(group), KZGroupDictionary::childrenKey}}));
    }

    // A flat list sorted by size orders whole groups by the size of one
    // copy, which is what each row of the list shows.
    KZSortDescriptors rowDescriptors = descriptors;
    if (!rowDescriptors.isEmpty() && rowDescriptors.first().key() == KZColumnKey::size_col) {
        const KZSortDescriptor& first = rowDescriptors.first();
        rowDescriptors.first() = KZSortDescriptor(KZColumnKey::size_col_ungrouped, first.ascending(), first.selector());
    }
    sortRows(rows, rowDescriptors,
             [](const KZGroupDictionary& row, const QString& key) { return row.objectForKey(key); });

    KZFoundItemArray sorted;
    sorted.reserve(items.size());
    for (const KZGroupDictionary& row : rows)
        sorted.append(row.children());
    return sorted;
}

// ---- Kinds -------------------------------------------------------------------------------

void KZFoundItemsCntrl::gatherKindInfo(const KZFoundItemGroupRef& root) const
{
    if (!root)
        return;
    for (const KZFoundItemGroupRef& group : root->groups())
        gatherDataWithArray(group->items());
}

void KZFoundItemsCntrl::gatherKindInfo(const KZFoundItemArray& items) const
{
    gatherDataWithArray(items);
}

void KZFoundItemsCntrl::gatherDataWithArray(const KZFoundItemArray& items) const
{
    for (const KZFoundItemRef& item : items)
        item->gatherKind();
}

// ---- Look-ups ----------------------------------------------------------------------------

KZFoundItemRef KZFoundItemsCntrl::itemByPathWithArray(const KZFoundItemArray& items, const fs::path& path) const
{
    const qsizetype index = indexOfItemInArray(items, path);
    return index == notFound ? nullptr : items[index];
}

KZFoundItemGroupRef KZFoundItemsCntrl::groupByIDWithRootArray(const KZFoundItemGroupRef& root, qint64 groupID) const
{
    if (!root)
        return nullptr;
    const qsizetype index = indexOfGroupInArray(root->groups(), groupID);
    return index == notFound ? nullptr : root->groups()[index];
}

qsizetype KZFoundItemsCntrl::indexOfGroupInArray(const QList<KZFoundItemGroupRef>& groups, qint64 groupID) const
{
    for (qsizetype i = 0; i < groups.size(); ++i) {
        if (groups[i]->groupID() == groupID)
            return i;
    }
    return notFound;
}

qsizetype KZFoundItemsCntrl::indexOfItemInArray(const KZFoundItemArray& items, const fs::path& path) const
{
    // Exact, byte for byte: two names that differ in case are two files.
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (items[i]->path().native() == path.native())
            return i;
    }
    return notFound;
}

qsizetype KZFoundItemsCntrl::indexOfItemInArray(const KZFoundItemArray& items, qint64 groupID) const
{
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (items[i]->groupID() == groupID)
            return i;
    }
    return notFound;
}

qsizetype KZFoundItemsCntrl::indexOfNotMarkedItemInArray(const KZFoundItemArray& items, qint64 groupID) const
{
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (items[i]->groupID() == groupID && !items[i]->isMarked())
            return i;
    }
    return notFound;
}
