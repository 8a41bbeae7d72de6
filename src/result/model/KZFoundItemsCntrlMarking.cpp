#include "result/model/KZFoundItemsCntrl.h"

#include "settings/KZTags.h"

#include <algorithm>

namespace {

constexpr quint64 kAllDuplicates = static_cast<quint64>(KZTag::allDuplicates);
constexpr quint64 kEmptyFolders = static_cast<quint64>(KZTag::emptyFolders);

void recordChange(const KZViewToUpdateRef& entry, bool addition, qint64 size)
{
    if (!entry)
        return;
    entry->setNeedsUpdate(true);
    entry->setManagedCount(entry->managedCount() + (addition ? 1 : -1));
    entry->setSize(entry->size() + (addition ? size : -size));
}

} // namespace

QList<KZFoundItemArray> KZFoundItemsCntrl::groupsArrayWithArray(const KZFoundItemArray& items) const
{
    KZFoundItemArray ordered = items;
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const KZFoundItemRef& a, const KZFoundItemRef& b) { return a->groupID() < b->groupID(); });
    QList<KZFoundItemArray> groups;
    for (const KZFoundItemRef& item : ordered) {
        if (groups.isEmpty() || groups.last().first()->groupID() != item->groupID())
            groups.append(KZFoundItemArray());
        groups.last().append(item);
    }
    return groups;
}

void KZFoundItemsCntrl::markItemsByDefaultWithTag(quint64 /*tag*/, quint64 ownerTag, KZViewsToUpdate* markedInfo,
                                                  const KZFoundItemArray& items)
{
    const bool markAll = ownerTag == kEmptyFolders;
    for (KZFoundItemArray group : groupsArrayWithArray(items)) {
        // Oldest first; among equally dated copies the highest location label
        // comes last, so the newest copy in the last searched location stays.
        std::stable_sort(group.begin(), group.end(), [](const KZFoundItemRef& a, const KZFoundItemRef& b) {
            const double da = a->dateModified();
            const double db = b->dateModified();
            if (da != db)
                return da < db;
            return a->locationLabelTag() < b->locationLabelTag();
        });
        const qsizetype toMark = markAll ? group.size() : group.size() - 1;
        qsizetype marked = 0;
        for (const KZFoundItemRef& item : group) {
            const bool before = item->isMarked();
            const bool after = marked < toMark;
            if (after)
                ++marked;
            item->setIsMarked(after);
            if (markedInfo && before != after)
                updateInfoDict(*markedInfo, item, before);
        }
    }
}

KZViewToUpdateRef KZFoundItemsCntrl::locationInfoWithInfo(const KZViewToUpdateRef& info, quint64 locationTag) const
{
    KZViewToUpdateRef& entry = info->locationsInfo()[locationTag];
    if (!entry)
        entry = std::make_shared<KZViewToUpdate>();
    return entry;
}

void KZFoundItemsCntrl::updateInfoDict(KZViewsToUpdate& infoDict, const KZFoundItemRef& item,
                                       std::optional<bool> wasMarked) const
{
    // Single-type results and the empty-folders tab keep one entry, which
    // then stands for the tab of all types.
    KZViewToUpdateRef all;
    if (const auto found = infoDict.find(kAllDuplicates); found != infoDict.end())
        all = found->second;
    else if (infoDict.size() == 1)
        all = infoDict.begin()->second;
    KZViewToUpdateRef type;
    if (const auto found = infoDict.find(item->fileTypeTag()); found != infoDict.end())
        type = found->second;

    const bool addition = !wasMarked.value_or(false);
    const qint16 types = fileTypesFoundCount();

    KZViewToUpdateRef allLocation;
    KZViewToUpdateRef typeLocation;
    if (lastLocationTagUsed() >= 0) {
        const quint64 locationTag = static_cast<quint64>(KZTag::sourceRowBase + item->locationLabelTag());
        if (type && types > 1)
            typeLocation = locationInfoWithInfo(type, locationTag);
        if (all)
            allLocation = locationInfoWithInfo(all, locationTag);
    }

    const qint64 size = static_cast<qint64>(item->size());
    recordChange(all, addition, size);
    recordChange(allLocation, addition, size);
    if (types >= 2)
        recordChange(type, addition, size);
    recordChange(typeLocation, addition, size);
}
