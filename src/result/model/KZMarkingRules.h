#pragma once

#include "result/model/KZFoundItem.h"
#include "result/model/KZMarkingRequest.h"
#include "result/model/KZViewToUpdate.h"

#include <QVariantMap>
#include <QtGlobal>

#include <filesystem>
#include <vector>

class KZFoundItemsStore;
class KZMarkBookkeeping;

// The marking rules of a result: which copies of each group are marked for
// removal and which one is kept.
//
// Every rule works group by group over the items it is given (a tab's list, a
// location's list, or the whole result), so a group holds only the members
// present in that list. Rules 1 to 6 leave at least one member of each group
// unmarked, counting every member of the group that is in the list; only the
// default rule on the empty-folders tab, swap, restore and the single check
// box may mark a whole group, because there the user asked for exactly that.
//
// A rule decides each member's final mark and writes it once, so a list
// thread reading marks meanwhile never sees a member unmarked on its way to
// being marked again. Each change is reported to the bookkeeping at once.
class KZMarkingRules {
public:
    // Both outlive the rules.
    KZMarkingRules(const KZFoundItemsStore& store, const KZMarkBookkeeping& bookkeeping);

    // The one entry of the rules: reads a marking request (KZMarkingKey) and
    // runs the rule it names, or unmarks when its check box is off.
    void markItemsWithDict(const QVariantMap& request) const;
    // True when the group has both marked and unmarked members.
    static bool canProceedToSwapMarks(const KZFoundItemArray& group);

    void markSingleItem(quint64 tag, quint64 ownerTag, KZViewsToUpdate* markedInfo,
                        const KZFoundItemArray& items) const;
    // Every member of each group but the most recently modified one (the one
    // with the highest location label among equals) is marked; on the
    // empty-folders tab every member is.
    void markItemsByDefaultWithTag(quint64 tag, quint64 ownerTag, KZViewsToUpdate* markedInfo,
                                   const KZFoundItemArray& items) const;
    // Oldest: every copy older than the group's newest date is marked; newest:
    // every copy newer than its oldest date.
    void markItemsByAgeWithTag(quint64 tag, quint64 ownerTag, KZViewsToUpdate* markedInfo,
                               const KZFoundItemArray& items, bool ageIsOldest) const;
    // Copies inside the first folder of `locationsToReport` are marked.
    void markItemsByLocationsWithTag(quint64 tag, quint64 ownerTag, KZViewsToUpdate* markedInfo,
                                     const KZFoundItemArray& items,
                                     const std::vector<std::filesystem::path>& locationsToReport) const;
    // Every copy but the one with the highest location label; repeatable.
    void markItemsRandomlyWithTag(quint64 tag, quint64 ownerTag, KZViewsToUpdate* markedInfo,
                                  const KZFoundItemArray& items) const;
    // Copies of the owner's tab in location label `tag` are marked.
    void markItemsInLocation(quint64 tag, quint64 ownerTag, KZViewsToUpdate* markedInfo,
                             const KZFoundItemArray& items) const;
    void swapMarksWithWithTag(quint64 tag, quint64 ownerTag, KZViewsToUpdate* markedInfo, bool calledFromLocation,
                              const KZFoundItemArray& items) const;
    // Puts back the marks of a snapshot (undo and redo).
    void undoMarkWithDict(const KZMarkSnapshot& entries, KZViewsToUpdate* markedInfo) const;
    // `calledFromLocation`: `tag` is a location label that limits the unmarking.
    void unmarkItemWithTag(quint64 tag, quint64 ownerTag, KZViewsToUpdate* markedInfo, const KZFoundItemArray& items,
                           bool calledFromLocation = false) const;

private:
    // Writes the final mark once and reports a change; `reportPrevious`
    // false reports it as an addition (single check box, unmark).
    void setMark(const KZFoundItemRef& item, bool marked, KZViewsToUpdate* markedInfo, bool reportPrevious) const;

    const KZFoundItemsStore& store_;
    const KZMarkBookkeeping& bookkeeping_;
};
