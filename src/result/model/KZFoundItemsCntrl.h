#pragma once

#include "engine/TreeToCheck.h"
#include "result/model/KZFoundItem.h"
#include "result/model/KZFoundItemGroup.h"
#include "result/model/KZMarkingRequest.h"
#include "result/model/KZSortDescriptor.h"
#include "result/model/KZViewToUpdate.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QVariantList>
#include <QVariantMap>
#include <QtGlobal>

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
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
// The item lists are read by list threads and the main thread while a
// removal or the empty-folders follow-up changes them. They are implicitly
// shared arrays behind a lock: a reader takes a snapshot (a cheap copy made
// under the lock) and walks it freely, a writer edits under the lock, which
// detaches it from every snapshot in use. No reader ever sees an array in
// the middle of a change.
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
    // The key of a saved item in "KZResultIsSavedItemsToRestore": its file URL,
    // every byte of a name that is not UTF-8 kept as a percent escape.
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
    KZFoundItemGroupRef setupItemsByGroupForItems(const KZFoundItemArray& items, bool sortGroupBefore) const;
    // The members of every group of the root, group after group.
    KZFoundItemArray separateItemsFromGroups(const KZFoundItemGroupRef& root) const;

    // ---- Marking ------------------------------------------------------------------------

    // The items cut into their groups, in ascending group identifier.
    QList<KZFoundItemArray> groupsArrayWithArray(const KZFoundItemArray& items) const;
    // Every member of each group but the most recently modified one (the one
    // with the highest location label among equals) is marked; on the
    // empty-folders tab every member is.
    void markItemsByDefaultWithTag(quint64 tag, quint64 ownerTag, KZViewsToUpdate* markedInfo,
                                   const KZFoundItemArray& items);
    // Records one item whose mark changed; no previous mark counts as an
    // addition.
    void updateInfoDict(KZViewsToUpdate& infoDict, const KZFoundItemRef& item, std::optional<bool> wasMarked) const;
    KZViewToUpdateRef locationInfoWithInfo(const KZViewToUpdateRef& info, quint64 locationTag) const;

    // ---- State --------------------------------------------------------------------------

    KZResultCntrl* resultCntrl() const { return resultCntrl_; }
    void setResultCntrl(KZResultCntrl* controller) { resultCntrl_ = controller; }

    KZFoundItemArray allItems() const;
    void setAllItems(const KZFoundItemArray& items);
    void removeFromAllItems(const KZFoundItemArray& removed);
    // Absent until the first empty-folders search.
    std::optional<KZFoundItemArray> allEmptyFolders() const;
    void setAllEmptyFolders(const std::optional<KZFoundItemArray>& folders);
    void appendToEmptyFolders(const KZFoundItemArray& folders);
    void removeFromEmptyFolders(const KZFoundItemArray& removed);

    qint16 fileTypesFoundCount() const { return fileTypesFoundCount_.load(); }
    void setFileTypesFoundCount(qint16 count) { fileTypesFoundCount_.store(count); }
    qint16 lastLocationTagUsed() const { return lastLocationTagUsed_.load(); }
    void setLastLocationTagUsed(qint16 tag) { lastLocationTagUsed_.store(tag); }
    bool isPhotosSearch() const { return isPhotosSearch_; }
    void setIsPhotosSearch(bool value) { isPhotosSearch_ = value; }
    bool isiTunesSearch() const { return isiTunesSearch_; }
    void setIsiTunesSearch(bool value) { isiTunesSearch_ = value; }

private:
    // The owning result controller; it outlives the model.
    KZResultCntrl* resultCntrl_ = nullptr;

    mutable std::mutex itemsLock_;
    KZFoundItemArray allItems_;
    std::optional<KZFoundItemArray> allEmptyFolders_;

    std::atomic<qint16> fileTypesFoundCount_{0};
    std::atomic<qint16> lastLocationTagUsed_{-1};
    bool isPhotosSearch_ = false;
    bool isiTunesSearch_ = false;

    // ==== Marking, bookkeeping, empty folders and look-ups ===========================
    // (KZFoundItemsCntrlMarking.cpp, KZFoundItemsCntrlBookkeeping.cpp,
    // KZFoundItemsCntrlEmptyFolders.cpp)
public:
    // The answer of the index look-ups when nothing matches.
    static constexpr qsizetype notFound = -1;

    // -- Marking rules --
    // The one entry of the rules: reads a marking request (KZMarkingKey) and
    // runs the rule it names, or unmarks when its check box is off.
    void markItemsWithDict(const QVariantMap& request);
    // True when the group has both marked and unmarked members.
    bool canProceedToSwapMarks(const KZFoundItemArray& group) const;
    void markSingleItem(quint64 tag, quint64 ownerTag, KZViewsToUpdate* markedInfo, const KZFoundItemArray& items);
    // Oldest: every copy older than the group's newest date is marked; newest:
    // every copy newer than its oldest date.
    void markItemsByAgeWithTag(quint64 tag, quint64 ownerTag, KZViewsToUpdate* markedInfo,
                               const KZFoundItemArray& items, bool ageIsOldest);
    // Copies inside the first folder of `locationsToReport` are marked.
    void markItemsByLocationsWithTag(quint64 tag, quint64 ownerTag, KZViewsToUpdate* markedInfo,
                                     const KZFoundItemArray& items,
                                     const std::vector<std::filesystem::path>& locationsToReport);
    // Every copy but the one with the highest location label; repeatable.
    void markItemsRandomlyWithTag(quint64 tag, quint64 ownerTag, KZViewsToUpdate* markedInfo,
                                  const KZFoundItemArray& items);
    // Copies of the owner's tab in location label `tag` are marked.
    void markItemsInLocation(quint64 tag, quint64 ownerTag, KZViewsToUpdate* markedInfo,
                             const KZFoundItemArray& items);
    void swapMarksWithWithTag(quint64 tag, quint64 ownerTag, KZViewsToUpdate* markedInfo, bool calledFromLocation,
                              const KZFoundItemArray& items);
    // Puts back the marks of a snapshot (undo and redo).
    void undoMarkWithDict(const KZMarkSnapshot& entries, KZViewsToUpdate* markedInfo);
    // `calledFromLocation`: `tag` is a location label that limits the unmarking.
    void unmarkItemWithTag(quint64 tag, quint64 ownerTag, KZViewsToUpdate* markedInfo, const KZFoundItemArray& items,
                           bool calledFromLocation = false);

    // -- Bookkeeping, undo, masters --
    // True when marking `item` would leave its group without an unmarked member.
    bool isLastItemToMark(const KZFoundItemRef& item) const;
    // The entries of a snapshot that would, once put back, leave their group
    // with every member marked: for each such group, its last entry that
    // turns an unmarked member marked.
    KZMarkSnapshot marksFillingAGroup(const KZMarkSnapshot& snapshot) const;
    // The marked totals of a flat list, or of every group of a root.
    struct MarkedTotals {
        quint64 markedCount = 0;
        quint64 markedSize = 0;
        bool operator==(const MarkedTotals&) const = default;
    };
    MarkedTotals markedCountWithArray(const KZFoundItemArray& items) const;
    MarkedTotals markedCountWithArray(const KZFoundItemGroupRef& root) const;
    // The number of marked items; adds their sizes to `*markedSize`.
    quint64 markedWithArray(const KZFoundItemArray& items, quint64* markedSize) const;
    KZMarkSnapshot currentItemsMarkStateWithArray(const KZFoundItemArray& items) const;
    KZMarkSnapshot currentMarkStateForRedoWithArray(const KZMarkSnapshot& snapshot) const;
    // For items about to be replaced by links: the copy that stays in each
    // group that keeps exactly one, at most one per group.
    KZFoundItemArray masterForAliasArrayWithArray(const KZFoundItemArray& items) const;

    // -- Empty folders, sorting, look-ups --
    // Builds the items of an empty-folders search ("KZResultFoundItems") and
    // appends them to allEmptyFolders().
    void doCreateEmptyFoldersList(const QVariantMap& resultInfo);
    // After a removal ({"removedItems", "infoDict"}): records each removed
    // item and drops it from the list.
    void updateEmptyFoldersAfterRemotion(const QVariantMap& removal);
    void updateAfterRemotion(const QVariantMap& removal);
    void cleanEmptyFoldersMemoryAfterTabRemotion();
    // Sorting that keeps the members of a group next to each other.
    KZFoundItemGroupRef sortedGroupWithArray(const KZFoundItemGroupRef& root, const KZSortDescriptors& descriptors,
                                             bool sortContainedItems) const;
    KZFoundItemArray sortedGroupWithArray(const KZFoundItemArray& items, const KZSortDescriptors& descriptors,
                                          bool sortContainedItems) const;
    void gatherKindInfo(const KZFoundItemGroupRef& root) const;
    void gatherKindInfo(const KZFoundItemArray& items) const;
    void gatherDataWithArray(const KZFoundItemArray& items) const;
    KZFoundItemRef itemByPathWithArray(const KZFoundItemArray& items, const std::filesystem::path& path) const;
    KZFoundItemGroupRef groupByIDWithRootArray(const KZFoundItemGroupRef& root, qint64 groupID) const;
    qsizetype indexOfGroupInArray(const QList<KZFoundItemGroupRef>& groups, qint64 groupID) const;
    qsizetype indexOfItemInArray(const KZFoundItemArray& items, const std::filesystem::path& path) const;
    qsizetype indexOfItemInArray(const KZFoundItemArray& items, qint64 groupID) const;
    qsizetype indexOfNotMarkedItemInArray(const KZFoundItemArray& items, qint64 groupID) const;

private:
    struct GroupIndex;
    std::shared_ptr<const GroupIndex> groupIndex() const;
    // Writes the final mark once and reports a change; `reportPrevious`
    // false reports it as an addition (single check box, unmark).
    void setMark(const KZFoundItemRef& item, bool marked, KZViewsToUpdate* markedInfo, bool reportPrevious) const;

    mutable std::mutex groupIndexLock_;
    mutable std::shared_ptr<const GroupIndex> groupIndex_;
    // ==== end of marking section ========================================================
};

// The queue on which every result builds its items, shared by all results
// and without a width limit.
platform::OperationQueue& KZFoundItemsOperationQueue();
