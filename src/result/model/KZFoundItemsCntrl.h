#pragma once

#include "engine/TreeToCheck.h"
#include "result/model/KZFoundItem.h"
#include "result/model/KZFoundItemGroup.h"
#include "result/model/KZFoundItemsStore.h"
#include "result/model/KZGroupSorter.h"
#include "result/model/KZItemGroups.h"
#include "result/model/KZMarkBookkeeping.h"
#include "result/model/KZMarkingRequest.h"
#include "result/model/KZMarkingRules.h"
#include "result/model/KZSortDescriptor.h"
#include "result/model/KZViewToUpdate.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QVariantList>
#include <QVariantMap>
#include <QtGlobal>

#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

class KZResultCntrl;

namespace platform {
class OperationQueue;
}

// The found-items model of one result: it turns the engine's found list into
// found items, marks them (or puts back the marks of a reopened result), and
// answers the per-tab queries of the list models.
//
// It is the façade of the result's items: they live in a KZFoundItemsStore,
// the marking rules (KZMarkingRules) and their bookkeeping
// (KZMarkBookkeeping) are collaborators, and grouping, look-ups
// (KZItemGroups) and sorting (KZGroupSorter) are pure functions it forwards
// to.
class KZFoundItemsCntrl : public std::enable_shared_from_this<KZFoundItemsCntrl> {
public:
    // Makes the model and queues the building of its items on
    // KZFoundItemsOperationQueue(); returns at once. "resultSetupDidTerminate"
    // tells when the items are ready.
    static std::shared_ptr<KZFoundItemsCntrl> create(KZResultCntrl* controller, const QVariantMap& resultInfo);

    // Reads the counts and flags of the result info; builds nothing.
    KZFoundItemsCntrl(KZResultCntrl* controller, const QVariantMap& resultInfo);
    KZFoundItemsCntrl(const KZFoundItemsCntrl&) = delete;
    KZFoundItemsCntrl& operator=(const KZFoundItemsCntrl&) = delete;

    // ---- Building ----------------------------------------------------------------

    // Takes the found list out of "KZResultFoundItems" (a KZFoundListParcel)
    // and consumes it: every cell and node is freed, the records released, the
    // groups' members counters pass to the items. Then marks the items (or
    // restores the saved marks) and posts "resultSetupDidTerminate"
    // ({"foundItemsCntrl": this model}), also for an empty list.
    void doCreateList(const QVariantMap& info);
    // Saved marks and bookmarks, by the item's present location.
    void finishToSetItems(const KZFoundItemArray& items, const QVariantMap& itemsToRestore);
    // The key of a saved item in "KZResultIsSavedItemsToRestore": the bytes
    // of its location, one character each, so a name that is not UTF-8 keeps
    // a key of its own.
    static QString savedItemKey(const std::filesystem::path& location);

    bool isImage(const TreeToCheck& node) const;
    bool isSong(const TreeToCheck& node) const;
    // A song, an image or a plain found item, as the node's file is.
    KZFoundItemRef makeItem(const TreeToCheck& node) const;
    // Library positions of music and Photos items.
    void doGetSupportedAppsPath(const QVariantMap& info);

    // ---- Queries of the list models -----------------------------------------------

    // The items of a list tag for a tab (see the tag table in KZTags.h);
    // `foundSize` gets their total size, or 0 where the whole result is
    // answered.
    KZFoundItemArray itemsByTag(quint64 tag, quint64 ownerTag, quint64* foundSize) const;
    // Each adds the sizes of what it answers to `*foundSize`.
    KZFoundItemArray markedItemsWithOwnerTag(quint64 ownerTag, quint64* foundSize) const;
    KZFoundItemArray itemsWithOwnerTag(quint64 ownerTag, quint64* foundSize) const;
    KZFoundItemArray locationItemsWithLabelTag(qint16 label, quint64 ownerTag, quint64* foundSize) const;

    // ---- File-type tags -------------------------------------------------------------

    // A label ("labels_extension": "a,b,c", "labels_type_array") was added or
    // changed: its items move to `tag`, every other item is tagged afresh.
    // Answers the tags whose tabs changed.
    QList<quint64> changeItemTypesTagWithExtensions(const QVariantMap& label, quint64 tag);
    // Tags `items` (every item when absent) afresh from the user's labels,
    // leaving out the labels of `excludingTags`; answers each tag given once.
    QList<quint64> assignTagsToOrphanItems(const std::optional<KZFoundItemArray>& items,
                                           const std::optional<QSet<quint64>>& excludingTags);
    quint64 assignFileTypeTagToItem(const KZFoundItemRef& item, const QVariantList& fileTypes);

    // ---- Groups ------------------------------------------------------------------------

    // A root group whose groups() hold the items group by group. Without
    // sorting, members of one group must be adjacent: each run of equal
    // identifiers makes a group.
    KZFoundItemGroupRef setupItemsByGroupForItems(const KZFoundItemArray& items, bool sortGroupBefore) const
    {
        return KZItemGroups::setupItemsByGroupForItems(items, sortGroupBefore);
    }
    // The members of every group of the root, group after group.
    KZFoundItemArray separateItemsFromGroups(const KZFoundItemGroupRef& root) const
    {
        return KZItemGroups::separateItemsFromGroups(root);
    }

    // ---- Marking ------------------------------------------------------------------------

    // The items cut into their groups, in ascending group identifier.
    QList<KZFoundItemArray> groupsArrayWithArray(const KZFoundItemArray& items) const
    {
        return KZItemGroups::groupsArrayWithArray(items);
    }
    // Every member of each group but the most recently modified one (the one
    // with the highest location label among equals) is marked; on the
    // empty-folders tab every member is.
    void markItemsByDefaultWithTag(quint64 tag, quint64 ownerTag, KZViewsToUpdate* markedInfo,
                                   const KZFoundItemArray& items)
    {
        rules_.markItemsByDefaultWithTag(tag, ownerTag, markedInfo, items);
    }
    // Records one item whose mark changed; no previous mark counts as an
    // addition.
    void updateInfoDict(KZViewsToUpdate& infoDict, const KZFoundItemRef& item, std::optional<bool> wasMarked) const
    {
        bookkeeping_.updateInfoDict(infoDict, item, wasMarked);
    }
    KZViewToUpdateRef locationInfoWithInfo(const KZViewToUpdateRef& info, quint64 locationTag) const
    {
        return bookkeeping_.locationInfoWithInfo(info, locationTag);
    }

    // ---- State --------------------------------------------------------------------------

    KZResultCntrl* resultCntrl() const { return resultCntrl_; }
    void setResultCntrl(KZResultCntrl* controller) { resultCntrl_ = controller; }

    KZFoundItemArray allItems() const { return store_.allItems(); }
    void setAllItems(const KZFoundItemArray& items) { store_.setAllItems(items); }
    void removeFromAllItems(const KZFoundItemArray& removed) { store_.removeFromAllItems(removed); }
    // Absent until the first empty-folders search.
    std::optional<KZFoundItemArray> allEmptyFolders() const { return store_.allEmptyFolders(); }
    void setAllEmptyFolders(const std::optional<KZFoundItemArray>& folders) { store_.setAllEmptyFolders(folders); }
    void appendToEmptyFolders(const KZFoundItemArray& folders) { store_.appendToEmptyFolders(folders); }
    void removeFromEmptyFolders(const KZFoundItemArray& removed) { store_.removeFromEmptyFolders(removed); }

    qint16 fileTypesFoundCount() const { return store_.fileTypesFoundCount(); }
    void setFileTypesFoundCount(qint16 count) { store_.setFileTypesFoundCount(count); }
    qint16 lastLocationTagUsed() const { return store_.lastLocationTagUsed(); }
    void setLastLocationTagUsed(qint16 tag) { store_.setLastLocationTagUsed(tag); }
    bool isPhotosSearch() const { return isPhotosSearch_; }
    void setIsPhotosSearch(bool value) { isPhotosSearch_ = value; }
    bool isiTunesSearch() const { return isiTunesSearch_; }
    void setIsiTunesSearch(bool value) { isiTunesSearch_ = value; }

    // ---- Marking rules ----------------------------------------------------------------

    // The answer of the index look-ups when nothing matches.
    static constexpr qsizetype notFound = KZItemGroups::notFound;

    // The one entry of the rules: reads a marking request (KZMarkingKey) and
    // runs the rule it names, or unmarks when its check box is off.
    void markItemsWithDict(const QVariantMap& request) { rules_.markItemsWithDict(request); }
    // True when the group has both marked and unmarked members.
    bool canProceedToSwapMarks(const KZFoundItemArray& group) const
    {
        return KZMarkingRules::canProceedToSwapMarks(group);
    }
    void markSingleItem(quint64 tag, quint64 ownerTag, KZViewsToUpdate* markedInfo, const KZFoundItemArray& items)
    {
        rules_.markSingleItem(tag, ownerTag, markedInfo, items);
    }
    void markItemsByAgeWithTag(quint64 tag, quint64 ownerTag, KZViewsToUpdate* markedInfo,
                               const KZFoundItemArray& items, bool ageIsOldest)
    {
        rules_.markItemsByAgeWithTag(tag, ownerTag, markedInfo, items, ageIsOldest);
    }
    void markItemsByLocationsWithTag(quint64 tag, quint64 ownerTag, KZViewsToUpdate* markedInfo,
                                     const KZFoundItemArray& items,
                                     const std::vector<std::filesystem::path>& locationsToReport)
    {
        rules_.markItemsByLocationsWithTag(tag, ownerTag, markedInfo, items, locationsToReport);
    }
    void markItemsRandomlyWithTag(quint64 tag, quint64 ownerTag, KZViewsToUpdate* markedInfo,
                                  const KZFoundItemArray& items)
    {
        rules_.markItemsRandomlyWithTag(tag, ownerTag, markedInfo, items);
    }
    void markItemsInLocation(quint64 tag, quint64 ownerTag, KZViewsToUpdate* markedInfo, const KZFoundItemArray& items)
    {
        rules_.markItemsInLocation(tag, ownerTag, markedInfo, items);
    }
    void swapMarksWithWithTag(quint64 tag, quint64 ownerTag, KZViewsToUpdate* markedInfo, bool calledFromLocation,
                              const KZFoundItemArray& items)
    {
        rules_.swapMarksWithWithTag(tag, ownerTag, markedInfo, calledFromLocation, items);
    }
    void undoMarkWithDict(const KZMarkSnapshot& entries, KZViewsToUpdate* markedInfo)
    {
        rules_.undoMarkWithDict(entries, markedInfo);
    }
    void unmarkItemWithTag(quint64 tag, quint64 ownerTag, KZViewsToUpdate* markedInfo, const KZFoundItemArray& items,
                           bool calledFromLocation = false)
    {
        rules_.unmarkItemWithTag(tag, ownerTag, markedInfo, items, calledFromLocation);
    }

    // ---- Bookkeeping, undo, masters ----------------------------------------------------

    using MarkedTotals = KZMarkBookkeeping::MarkedTotals;
    bool isLastItemToMark(const KZFoundItemRef& item) const { return bookkeeping_.isLastItemToMark(item); }
    KZMarkSnapshot marksFillingAGroup(const KZMarkSnapshot& snapshot) const
    {
        return bookkeeping_.marksFillingAGroup(snapshot);
    }
    MarkedTotals markedCountWithArray(const KZFoundItemArray& items) const
    {
        return KZMarkBookkeeping::markedCountWithArray(items);
    }
    MarkedTotals markedCountWithArray(const KZFoundItemGroupRef& root) const
    {
        return KZMarkBookkeeping::markedCountWithArray(root);
    }
    quint64 markedWithArray(const KZFoundItemArray& items, quint64* markedSize) const
    {
        return KZMarkBookkeeping::markedWithArray(items, markedSize);
    }
    KZMarkSnapshot currentItemsMarkStateWithArray(const KZFoundItemArray& items) const
    {
        return KZMarkBookkeeping::currentItemsMarkStateWithArray(items);
    }
    KZMarkSnapshot currentMarkStateForRedoWithArray(const KZMarkSnapshot& snapshot) const
    {
        return KZMarkBookkeeping::currentMarkStateForRedoWithArray(snapshot);
    }
    KZFoundItemArray masterForAliasArrayWithArray(const KZFoundItemArray& items) const
    {
        return bookkeeping_.masterForAliasArrayWithArray(items);
    }

    // ---- Empty folders -----------------------------------------------------------------

    // Builds the items of an empty-folders search ("KZResultFoundItems") and
    // appends them to allEmptyFolders().
    void doCreateEmptyFoldersList(const QVariantMap& resultInfo);
    // After a removal ({"removedItems", "infoDict"}): records each removed
    // item and drops it from the list.
    void updateEmptyFoldersAfterRemotion(const QVariantMap& removal);
    void updateAfterRemotion(const QVariantMap& removal);
    // After an undo put `restored` back at their places: those this result
    // dropped return to their lists with their groups' counters raised
    // again, each recorded as a removal taken back in `info` (or, for the
    // empty-folders tab, `emptyFoldersInfo`).
    KZFoundItemsStore::TakenBack updateAfterRestore(const KZFoundItemArray& restored, KZViewsToUpdate& info,
                                                    KZViewsToUpdate& emptyFoldersInfo);
    void cleanEmptyFoldersMemoryAfterTabRemotion();
    // Listed empty folders that `restored` went back into hold something
    // again and leave the list (an empty folder put back itself stays), as
    // do those no longer on disk. Answers whether any left.
    bool dropEmptyFoldersRefilledBy(const KZFoundItemArray& restored);
    // The list exists, lists nothing, and no removal of its folders waits
    // for an undo.
    bool emptyFoldersAreSpent() const;

    // ---- Sorting and look-ups ----------------------------------------------------------

    KZFoundItemGroupRef sortedGroupWithArray(const KZFoundItemGroupRef& root, const KZSortDescriptors& descriptors,
                                             bool sortContainedItems) const
    {
        return KZGroupSorter::sortedGroupWithArray(root, descriptors, sortContainedItems);
    }
    KZFoundItemArray sortedGroupWithArray(const KZFoundItemArray& items, const KZSortDescriptors& descriptors,
                                          bool sortContainedItems) const
    {
        return KZGroupSorter::sortedGroupWithArray(items, descriptors, sortContainedItems);
    }
    void gatherKindInfo(const KZFoundItemGroupRef& root) const { KZGroupSorter::gatherKindInfo(root); }
    void gatherKindInfo(const KZFoundItemArray& items) const { KZGroupSorter::gatherKindInfo(items); }
    void gatherDataWithArray(const KZFoundItemArray& items) const { KZGroupSorter::gatherKindInfo(items); }
    KZFoundItemRef itemByPathWithArray(const KZFoundItemArray& items, const std::filesystem::path& path) const
    {
        return KZItemGroups::itemByPathWithArray(items, path);
    }
    KZFoundItemGroupRef groupByIDWithRootArray(const KZFoundItemGroupRef& root, qint64 groupID) const
    {
        return KZItemGroups::groupByIDWithRootArray(root, groupID);
    }
    qsizetype indexOfGroupInArray(const QList<KZFoundItemGroupRef>& groups, qint64 groupID) const
    {
        return KZItemGroups::indexOfGroupInArray(groups, groupID);
    }
    qsizetype indexOfItemInArray(const KZFoundItemArray& items, const std::filesystem::path& path) const
    {
        return KZItemGroups::indexOfItemInArray(items, path);
    }
    qsizetype indexOfItemInArray(const KZFoundItemArray& items, qint64 groupID) const
    {
        return KZItemGroups::indexOfItemInArray(items, groupID);
    }
    qsizetype indexOfNotMarkedItemInArray(const KZFoundItemArray& items, qint64 groupID) const
    {
        return KZItemGroups::indexOfNotMarkedItemInArray(items, groupID);
    }

private:
    // The owning result controller; it outlives the model.
    KZResultCntrl* resultCntrl_ = nullptr;
    bool isPhotosSearch_ = false;
    bool isiTunesSearch_ = false;

    KZFoundItemsStore store_;
    KZMarkBookkeeping bookkeeping_{store_};
    KZMarkingRules rules_{store_, bookkeeping_};
};

// The queue on which every result builds its items, shared by all results
// and without a width limit.
platform::OperationQueue& KZFoundItemsOperationQueue();
