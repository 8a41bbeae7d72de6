#pragma once

#include "result/model/KZFoundItem.h"
#include "result/model/KZFoundItemGroup.h"
#include "result/model/KZResultTabCntrl.h"
#include "result/model/KZShownList.h"
#include "settings/KZTags.h"

struct KZFoundListContext;

// The members of a group that the shown list leaves out (a location or the
// marked list shows only some of them): shown on request, taken from the
// tab list, and dropped again when the user leaves the list. Main thread:
// the groups belong to it.
class KZFoundListMissingMembers {
public:
    // `context` outlives the missing members.
    explicit KZFoundListMissingMembers(const KZFoundListContext& context);

    bool wereAdded() const { return wereAdded_; }
    // {"isForAllGroups", "groupItem"}.
    void show(const KZGroupOptionRequest& request);
    void showToAllGroups(const KZShownList& list);
    // Puts the members of `full` that `shown` lacks in front of it.
    static void addItemsToGroup(const KZFoundItemGroupRef& shown, const KZFoundItemGroupRef& full);
    // Drops from the current list the members that do not belong to it.
    void removeExtraneous();
    void revealGroup(const KZFoundItemRef& item);
    KZFoundItemGroupRef findGroupByGroupID(qint64 groupID, KZTabTag tag) const;

private:
    const KZFoundListContext& context_;
    bool wereAdded_ = false;
};
