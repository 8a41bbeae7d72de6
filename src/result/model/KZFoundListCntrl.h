#pragma once

#include "platform/Subscription.h"
#include "result/model/KZFoundListBuilder.h"
#include "result/model/KZFoundListContext.h"
#include "result/model/KZFoundListExport.h"
#include "result/model/KZFoundListFinder.h"
#include "result/model/KZFoundListHost.h"
#include "result/model/KZFoundListMarks.h"
#include "result/model/KZFoundListMissingMembers.h"
#include "result/model/KZFoundListRemoval.h"
#include "result/model/KZFoundListSavedState.h"
#include "result/model/KZFoundListSorter.h"
#include "result/model/KZFoundListStore.h"
#include "result/model/KZFoundListWorkers.h"
#include "result/model/KZListOutline.h"
#include "result/model/KZMarkingRequest.h"
#include "result/model/KZResultTabCntrl.h"
#include "result/model/KZShownList.h"
#include "result/model/KZSortDescriptor.h"
#include "settings/KZFileTypeLabel.h"
#include "settings/KZSourceItem.h"
#include "settings/KZTags.h"

#include <QList>
#include <QMetaType>
#include <QVariantList>
#include <QVariantMap>
#include <QtGlobal>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class KZFoundItemsCntrl;
class KZResultCntrl;

// The list model of one file-type tab: every list the tab's outline can
// show, keyed by list tag (the tab list under the tab's tag, one list per
// source when there are two or more, the marked list), built from the
// found-items model and kept up to date after marking, sorting, removal and
// label changes. It is the façade of the tab's list work: the lists live in
// a KZFoundListStore and are built by a KZFoundListBuilder; sorting (KZFoundListSorter),
// finding (KZFoundListFinder), marking (KZFoundListMarks), missing members
// (KZFoundListMissingMembers), removal (KZFoundListRemoval), export
// (KZFoundListExport) and the saved per-tab state (KZFoundListSavedState)
// are collaborators sharing one KZFoundListContext.
//
// Threads. The lists are built by one worker per list, each started only
// when the thread budget has room (the wait sleeps on the budget's
// condition variable). Sorting, finding, regrouping and refreshing also run
// on workers. Workers never touch a list that was handed over: they read
// values taken on the main thread (item arrays, the view's sort order) and
// produce new lists, which are stored with a new generation; work computed from an older generation is done again rather
// than stored over a newer list. Groups handed over belong to the main
// thread, which alone reads and changes them. Continuations to the main
// thread are queued, never waited for, so the destructor (on the main
// thread) can wait for the workers without a deadlock.
class KZFoundListCntrl {
public:
    struct Settings {
        KZFileTypeLabelRef fileType;
        std::vector<KZSourceItemRef> sources;
        // Object of "KZListsReadyToShow" and target of the removal updates;
        // may be null in a model that only builds lists.
        KZResultCntrl* resultCntrl = nullptr;
        // Known at once for the empty-folders tab (and in tests); otherwise
        // it comes with "startToShowItems".
        std::shared_ptr<KZFoundItemsCntrl> foundItemsCntrl;
        KZFoundListHost* host = nullptr;
        std::unique_ptr<KZListOutline> outline;
        // Whether the user wants groups; read once here and again on
        // "showByGroup". Empty: the "show_result_by_group" default.
        std::function<bool()> showResultByGroup;
    };

    // The counts of one list, as "updateInfo" reports them.
    using ListInfo = KZFoundListBuilder::ListInfo;

    // Made on the main thread.
    explicit KZFoundListCntrl(Settings settings);
    ~KZFoundListCntrl();
    KZFoundListCntrl(const KZFoundListCntrl&) = delete;
    KZFoundListCntrl& operator=(const KZFoundListCntrl&) = delete;

    // ---- State ---------------------------------------------------------------------
    quint64 tabTag() const { return tabTag_; }
    const KZFileTypeLabelRef& fileTypeItem() const { return fileTypeItem_; }
    const std::vector<KZSourceItemRef>& sources() const { return sources_; }
    KZListOutline* outlineCntrl() const { return outline_.get(); }
    std::shared_ptr<KZFoundItemsCntrl> foundItemsCntrl() const;
    bool shownByGroup() const { return shownByGroup_.load(); }
    bool searchStoppeByUser() const { return searchStoppeByUser_; }
    quint64 nsCurrSelectedSourceTag() const { return currentTag_.load(); }
    qint16 itemsArrayToCreate() const { return builder_.listsToCreate(); }
    qint16 updatedArray() const { return builder_.listsToRefresh(); }
    bool sortByKindAlreayDone() const { return sorter_.kindsGathered(); }
    bool missingMembersWasAdded() const { return missingMembers_.wereAdded(); }
    // The list last handed to the outline; absent while the tab is hidden.
    const std::optional<KZShownList>& currArray() const { return currArray_; }
    bool isVisible() const;

    // The list under a tag (a snapshot), or none.
    std::optional<KZShownList> listWithTag(quint64 tag) const;
    KZSortDescriptors sortDescriptorsWithTag(quint64 tag) const;
    QList<quint64> listTags() const;
    // The list under the current tag, or an empty list.
    KZShownList currentArray() const;
    // The items of a list, flattened; empty when there is none.
    KZFoundItemArray itemsWithTag(quint64 tag) const;

    // Waits for the model's background work; continuations it queued for the
    // main thread may still be pending (tests and benchmarks).
    void waitUntilIdle();

    // ---- Building the lists -------------------------------------------------------
    void initialize();
    void setupShowByGroup();
    // The found items exist: build every list, then post "KZListsReadyToShow".
    void startToShowItems(const std::shared_ptr<KZFoundItemsCntrl>& model);
    // Starts one worker per list; returns at once. Only a first build
    // announces itself with "KZListsReadyToShow".
    void initializeFoundItemsVariables(bool announceReady);
    // Builds one list and stores it (or drops the tag when the query answers
    // nothing); answers its counts. Any thread.
    ListInfo gatherItemsByTag(quint64 tag) { return builder_.gather(tag); }
    void setupForGroup(bool grouped);
    void updateList(bool restoreScroll);
    void sourceSelectionDidChange(const QVariantMap& userInfo);
    void superviewWillHide();
    void superviewDidHide();
    void superviewDidUnhide();
    void expandItems(const QVariantMap& userInfo);
    void showByGroup();
    // The tab's items changed (labels edited): every list is built again.
    void updateFilesList(const std::shared_ptr<KZFoundItemsCntrl>& model);
    void updateListWithNewType();
    void emptyFoldersWereAdded();

    // ---- Sorting, finding, marked information --------------------------------------
    // {"descriptors" (KZSortDescriptors), "tag", "updateInterface"}; main thread.
    void sortListWithDictionary(const QVariantMap& request);
    // {"string"}; main thread. The answer arrives later: a selected row or a beep.
    // Each find starts at the top of the list, whatever is selected, so the
    // same text always lands on the same row.
    void searchInFoundList(const QVariantMap& userInfo);
    // The first row of `list` whose name contains the folded text; groups
    // before their members.
    static std::optional<KZListRow> searchString(const QString& foldedText, const KZShownList& list)
    {
        return KZFoundListFinder::searchString(foldedText, list);
    }

    std::optional<QVariantMap> undoInfoToRegisterWithDict(QVariantMap& request) const;
    QVariantMap redoInfoToRegisterWithDict(const QVariantMap& request) const;
    void saveCurrentConfiguration(const QVariantMap& request);
    // {"menu", "itemSenderView", "menuItemTagToRestore", "managedTags",
    // "oldMenuItamTag"}; main thread.
    void updateMarkedInfo(const KZMarkedInfoUpdate& info);
    void updateGroupItems(const QList<quint64>& tags, qint64 menuItemTag) { marks_.updateGroupItems(tags, menuItemTag); }
    void updateGroupsWithArray(const KZShownList& list, qint64 menuItemTag) const
    {
        marks_.updateGroupsWithArray(list, menuItemTag);
    }
    bool isLastItemToMark(const KZFoundItemRef& item) const;

    // {"isForAllGroups", "groupItem"}.
    void showMissingMembers(const KZGroupOptionRequest& request);
    void showMissingMembersToAllGroups(const KZShownList& list) { missingMembers_.showToAllGroups(list); }
    void addItemsToGroup(const KZFoundItemGroupRef& shown, const KZFoundItemGroupRef& full) const
    {
        KZFoundListMissingMembers::addItemsToGroup(shown, full);
    }
    void removeExtraneousItems();
    void revealGroup(const KZFoundItemRef& item);
    KZFoundItemGroupRef findGroupByGroupID(qint64 groupID, quint64 tag) const
    {
        return missingMembers_.findGroupByGroupID(groupID, tag);
    }

    // ---- Hand-offs: removal, export, menus, saved state -----------------------------
    void removeButtonDidClick();
    void prepareRemotion();
    void itemsDidRemove(const QVariantMap& userInfo);
    void removePanelDidClose();
    void updateRemovedInfo();
    bool removalIsOpen() const { return removal_.isOpen(); }
    static QString notifyDeletedSongsToiTunes(const KZFoundItemArray& removedItems)
    {
        return KZFoundListRemoval::notifyDeletedSongsToiTunes(removedItems);
    }
    // Rule tags of the groups of a grouped list: [{"groupID", "markedMenuItem"}].
    std::optional<QVariantList> menuItemTagsForTag(quint64 tag) const;
    static void updateMenuItemsTags(const QVariantList& tags, const KZShownList& list);

    void saveSelectedItems();
    void reloadListView();
    void exportResult();
    void exportingDidFinish();
    bool exportIsRunning() const { return export_.isRunning(); }
    // The request an export of this tab gets, for `items` in export order.
    QVariantMap exportRequest(const KZFoundItemArray& items) const { return export_.exportRequest(items); }
    // Marked members before unmarked ones, group after group.
    static KZFoundItemArray exportOrder(const KZFoundItemArray& items)
    {
        return KZFoundListExport::exportOrder(items);
    }

    void changeResultMenuItemsTarget(bool release);
    // `inResultMenu`: the item belongs to the result menu.
    bool validateMenuItem(qint64 tag, bool inResultMenu) const;
    void menuNeedsUpdate();

    void setSavedSettings(const QVariantMap& saved, bool shownByGroupWhenSaved)
    {
        // A change of grouping just asked for (a reopened result shown as it
        // was saved) regroups the lists on a worker: the saved rows and open
        // groups are looked up in the lists of the new shape, not in those
        // it replaces.
        workers_.waitUntilIdle();
        savedState_.setSavedSettings(saved, shownByGroupWhenSaved);
    }
    void setSavedSortDescriptors(const QVariantMap& saved) { savedState_.setSavedSortDescriptors(saved); }
    void setSavedSelection(const QVariantMap& saved, bool shownByGroupWhenSaved)
    {
        savedState_.setSavedSelection(saved, shownByGroupWhenSaved);
    }
    void setSavedExpanded(const QVariantMap& saved) { savedState_.setSavedExpanded(saved); }
    // The descriptors of a saved list, keeping only known columns and
    // comparisons.
    static KZSortDescriptors sortDescriptorsFromSaved(const QVariantList& saved)
    {
        return KZFoundListSavedState::sortDescriptorsFromSaved(saved);
    }
    static qsizetype indexOfItemInArray(const QVariantList& saved, qint64 groupID)
    {
        return KZFoundListSavedState::indexOfItemInArray(saved, groupID);
    }

private:

    // The view's order, also handed to the outline.
    void setViewDescriptors(const KZSortDescriptors& descriptors);

    void setFoundItemsCntrl(const std::shared_ptr<KZFoundItemsCntrl>& model);


    const quint64 tabTag_;
    const KZFileTypeLabelRef fileTypeItem_;
    const std::vector<KZSourceItemRef> sources_;
    KZResultCntrl* const resultCntrl_;
    KZFoundListHost* const host_;
    std::unique_ptr<KZListOutline> outline_;
    std::function<bool()> showResultByGroup_;

    mutable std::mutex modelLock_;
    std::shared_ptr<KZFoundItemsCntrl> foundItemsCntrl_;

    KZFoundListStore store_;

    std::atomic<bool> shownByGroup_{false};
    std::atomic<quint64> currentTag_;
    // The first build has been started (by the hand-shake or a refresh).
    std::atomic<bool> started_{false};

    // Main thread only.
    bool searchStoppeByUser_ = false;
    std::optional<KZShownList> currArray_;

    std::vector<platform::Subscription> observations_;
    platform::Subscription startObservation_;
    platform::Subscription emptyFoldersObservation_;

    // What the collaborators below share; made from the members above.
    const KZFoundListContext context_;
    KZFoundListBuilder builder_;
    KZFoundListSorter sorter_;
    KZFoundListFinder finder_;
    KZFoundListRemoval removal_;
    KZFoundListExport export_;
    KZFoundListMarks marks_;
    KZFoundListMissingMembers missingMembers_;
    KZFoundListSavedState savedState_;

    // Last, so that it is destroyed first: its destructor waits for the
    // workers, which use everything above.
    KZFoundListWorkers workers_;
};
Q_DECLARE_METATYPE(KZFoundListCntrl*)
