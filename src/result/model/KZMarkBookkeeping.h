#pragma once

#include "result/model/KZFoundItem.h"
#include "result/model/KZFoundItemGroup.h"
#include "result/model/KZMarkingRequest.h"
#include "result/model/KZViewToUpdate.h"

#include <QtGlobal>

#include <memory>
#include <mutex>
#include <optional>

class KZFoundItemsStore;

// What a marking changed, tab by tab and location by location; the marked
// totals of a list; mark snapshots for undo; the last-member test; and the
// copy that stays when duplicates are replaced by links. Any thread.
//
// The last-member test runs before every check-box click, so it answers from
// an index of the result's groups (group identifier -> members, in result
// order) instead of sorting the whole result per click. The index is built
// from a snapshot of the store's items and holds on to it: any change of the
// item list detaches the list from that snapshot, which is how a stale index
// is recognised and rebuilt on the next question.
class KZMarkBookkeeping {
public:
    // The marked totals of a flat list, or of every group of a root.
    struct MarkedTotals {
        quint64 markedCount = 0;
        quint64 markedSize = 0;
        bool operator==(const MarkedTotals&) const = default;
    };

    // `store` outlives the bookkeeping.
    explicit KZMarkBookkeeping(const KZFoundItemsStore& store);
    ~KZMarkBookkeeping();
    KZMarkBookkeeping(const KZMarkBookkeeping&) = delete;
    KZMarkBookkeeping& operator=(const KZMarkBookkeeping&) = delete;

    // Records one item whose mark changed; no previous mark counts as an
    // addition.
    void updateInfoDict(KZViewsToUpdate& infoDict, const KZFoundItemRef& item, std::optional<bool> wasMarked) const;
    KZViewToUpdateRef locationInfoWithInfo(const KZViewToUpdateRef& info, quint64 locationTag) const;

    // True when marking `item` would leave its group without an unmarked member.
    bool isLastItemToMark(const KZFoundItemRef& item) const;
    // The entries of a snapshot that would, once put back, leave their group
    // with every member marked: for each such group, its last entry that
    // turns an unmarked member marked.
    KZMarkSnapshot marksFillingAGroup(const KZMarkSnapshot& snapshot) const;

    static MarkedTotals markedCountWithArray(const KZFoundItemArray& items);
    static MarkedTotals markedCountWithArray(const KZFoundItemGroupRef& root);
    // The number of marked items; adds their sizes to `*markedSize`.
    static quint64 markedWithArray(const KZFoundItemArray& items, quint64* markedSize);
    static KZMarkSnapshot currentItemsMarkStateWithArray(const KZFoundItemArray& items);
    static KZMarkSnapshot currentMarkStateForRedoWithArray(const KZMarkSnapshot& snapshot);

    // For items about to be replaced by links: the copy that stays in each
    // group that keeps exactly one, at most one per group.
    KZFoundItemArray masterForAliasArrayWithArray(const KZFoundItemArray& items) const;

private:
    struct GroupIndex;
    std::shared_ptr<const GroupIndex> groupIndex() const;

    const KZFoundItemsStore& store_;
    mutable std::mutex groupIndexLock_;
    mutable std::shared_ptr<const GroupIndex> groupIndex_;
};
