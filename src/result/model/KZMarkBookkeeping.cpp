#include "result/model/KZMarkBookkeeping.h"

#include "result/model/KZFoundItemsStore.h"
#include "result/model/KZItemGroups.h"
#include "settings/KZTags.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <unordered_map>
#include <vector>

namespace {

void recordChange(const KZViewToUpdateRef& entry, bool addition, qint64 size)
{
    if (!entry)
        return;
    entry->setNeedsUpdate(true);
    entry->setManagedCount(entry->managedCount() + (addition ? 1 : -1));
    entry->setSize(entry->size() + (addition ? size : -size));
}

} // namespace

KZMarkBookkeeping::KZMarkBookkeeping(const KZFoundItemsStore& store)
    : store_(store)
{
}

KZMarkBookkeeping::~KZMarkBookkeeping() = default;

struct KZMarkBookkeeping::GroupIndex {
    KZFoundItemArray source;
    std::unordered_map<qint64, KZFoundItemArray> members;
};

std::shared_ptr<const KZMarkBookkeeping::GroupIndex> KZMarkBookkeeping::groupIndex() const
{
    const KZFoundItemArray current = store_.allItems();
    std::lock_guard guard(groupIndexLock_);
    if (groupIndex_ && groupIndex_->source.size() == current.size()
        && groupIndex_->source.constData() == current.constData())
        return groupIndex_;
    auto index = std::make_shared<GroupIndex>();
    index->source = current;
    for (const KZFoundItemRef& item : current)
        index->members[item->groupID()].append(item);
    groupIndex_ = std::move(index);
    return groupIndex_;
}

// ---- Bookkeeping -------------------------------------------------------------------------

KZViewToUpdateRef KZMarkBookkeeping::locationInfoWithInfo(const KZViewToUpdateRef& info, quint64 locationTag) const
{
    KZViewToUpdateRef& entry = info->locationsInfo()[locationTag];
    if (!entry)
        entry = std::make_shared<KZViewToUpdate>();
    return entry;
}

void KZMarkBookkeeping::updateInfoDict(KZViewsToUpdate& infoDict, const KZFoundItemRef& item,
                                       std::optional<bool> wasMarked) const
{
    const qint16 types = store_.fileTypesFoundCount();
    KZViewToUpdateRef type;
    if (const auto found = infoDict.find(item->fileTypeTag()); found != infoDict.end())
        type = found->second;
    // Single-type results and the empty-folders tab have no tab of all types:
    // their one tab stands for it. A single-type result may also have the
    // missing-tracks tab, which holds no found items; its type's tab still
    // stands for all types, or no change there would ever be counted.
    KZViewToUpdateRef all;
    if (const auto found = infoDict.find(KZTag::allDuplicates); found != infoDict.end())
        all = found->second;
    else if (infoDict.size() == 1)
        all = infoDict.begin()->second;
    else if (types < 2)
        all = type;
    // One entry standing for both is counted once.
    if (type == all)
        type.reset();

    const bool addition = !wasMarked.value_or(false);

    KZViewToUpdateRef allLocation;
    KZViewToUpdateRef typeLocation;
    if (store_.lastLocationTagUsed() >= 0) {
        const KZTabTag locationTag = KZTag::sourceRowBase + static_cast<KZTabTag>(item->locationLabelTag());
        if (type && types > 1)
            typeLocation = locationInfoWithInfo(type, locationTag);
        if (all)
            allLocation = locationInfoWithInfo(all, locationTag);
    }

    const qint64 size = static_cast<qint64>(item->countedSize());
    recordChange(all, addition, size);
    recordChange(allLocation, addition, size);
    if (types >= 2)
        recordChange(type, addition, size);
    recordChange(typeLocation, addition, size);
}

// ---- Marked members ----------------------------------------------------------------------

bool KZMarkBookkeeping::isLastItemToMark(const KZFoundItemRef& item) const
{
    if (!item)
        return false;
    const auto index = groupIndex();
    const auto found = index->members.find(item->groupID());
    if (found == index->members.end() || found->second.isEmpty())
        return false;
    const KZFoundItemArray& members = found->second;
    qsizetype marked = 0;
    for (const KZFoundItemRef& member : members)
        marked += member->isMarked() ? 1 : 0;
    return members.size() - 1 <= marked;
}

KZMarkSnapshot KZMarkBookkeeping::marksFillingAGroup(const KZMarkSnapshot& snapshot) const
{
    // The state each snapshotted item would have, and per group the last
    // entry that would newly mark one of its members.
    std::unordered_map<const KZFoundItem*, bool> after;
    std::unordered_map<qint64, qsizetype> lastNewMark;
    for (qsizetype i = 0; i < snapshot.size(); ++i) {
        const KZMarkState& entry = snapshot.at(i);
        if (!entry.item)
            continue;
        after[entry.item.get()] = entry.state;
        if (entry.state && !entry.item->isMarked())
            lastNewMark[entry.item->groupID()] = i;
    }
    const auto index = groupIndex();
    std::vector<qsizetype> held;
    for (const auto& [groupID, at] : lastNewMark) {
        const auto found = index->members.find(groupID);
        if (found == index->members.end() || found->second.isEmpty())
            continue;
        bool anyUnmarked = false;
        for (const KZFoundItemRef& member : found->second) {
            const auto state = after.find(member.get());
            if (!(state == after.end() ? member->isMarked() : state->second)) {
                anyUnmarked = true;
                break;
            }
        }
        if (!anyUnmarked)
            held.push_back(at);
    }
    std::sort(held.begin(), held.end());
    KZMarkSnapshot filling;
    for (const qsizetype at : held)
        filling.append(snapshot.at(at));
    return filling;
}

KZMarkBookkeeping::MarkedTotals KZMarkBookkeeping::markedCountWithArray(const KZFoundItemArray& items)
{
    MarkedTotals totals;
    totals.markedCount = markedWithArray(items, &totals.markedSize);
    return totals;
}

KZMarkBookkeeping::MarkedTotals KZMarkBookkeeping::markedCountWithArray(const KZFoundItemGroupRef& root)
{
    MarkedTotals totals;
    if (root) {
        for (const KZFoundItemGroupRef& group : root->groups())
            totals.markedCount += markedWithArray(group->items(), &totals.markedSize);
    }
    return totals;
}

quint64 KZMarkBookkeeping::markedWithArray(const KZFoundItemArray& items, quint64* markedSize)
{
    quint64 count = 0;
    for (const KZFoundItemRef& item : items) {
        if (!item->isMarked())
            continue;
        ++count;
        if (markedSize)
            *markedSize += item->countedSize();
    }
    return count;
}

// ---- Snapshots ---------------------------------------------------------------------------

KZMarkSnapshot KZMarkBookkeeping::currentItemsMarkStateWithArray(const KZFoundItemArray& items)
{
    KZMarkSnapshot snapshot;
    snapshot.reserve(items.size());
    for (const KZFoundItemRef& item : items)
        snapshot.append({item, item->isMarked()});
    return snapshot;
}

KZMarkSnapshot KZMarkBookkeeping::currentMarkStateForRedoWithArray(const KZMarkSnapshot& snapshot)
{
    KZMarkSnapshot redo;
    redo.reserve(snapshot.size());
    for (const KZMarkState& entry : snapshot) {
        if (entry.item)
            redo.append({entry.item, entry.item->isMarked()});
    }
    return redo;
}

// ---- Masters -----------------------------------------------------------------------------

KZFoundItemArray KZMarkBookkeeping::masterForAliasArrayWithArray(const KZFoundItemArray& items) const
{
    QSet<const KZFoundItem*> leaving;
    for (const KZFoundItemRef& item : items)
        leaving.insert(item.get());

    const auto index = groupIndex();
    KZFoundItemArray masters;
    for (const KZFoundItemArray& group : KZItemGroups::groupsArrayWithArray(items)) {
        quint32 plain = 0;
        bool libraryMember = false;
        for (const KZFoundItemRef& item : group) {
            // Library items are removed through their applications, never
            // replaced by links.
            if (item->isPhotosItem() || item->isiTunesItem()) {
                libraryMember = true;
                break;
            }
            ++plain;
        }
        // Only when every member but one leaves does the one that stays
        // become the target of the links.
        if (libraryMember || plain + 1 != group.first()->countOfItemsInGroup())
            continue;
        const auto found = index->members.find(group.first()->groupID());
        if (found == index->members.end())
            continue;
        for (const KZFoundItemRef& candidate : found->second) {
            // The copy that stays must not be one that is leaving.
            if (!candidate->isMarked() && !leaving.contains(candidate.get())) {
                masters.append(candidate);
                break;
            }
        }
    }
    return masters;
}
