#pragma once

#include "platform/Subscription.h"
#include "result/model/KZViewToUpdate.h"
#include "settings/KZSourceItem.h"

#include <QImage>
#include <QList>
#include <QMetaType>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>
#include <QtGlobal>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include <sys/resource.h>

class KZFoundItemsCntrl;
class KZProgressControl;
class KZResultSaving;
class KZResultTabCntrl;
class KZResultTabStrip;
class KZResultWindowHost;
class KZSearchController;
class KZSearchStuff;

// The controller of one result, that is of the content of one result window.
//
// It makes the found-items model, one controller per tab, and runs the
// start-up hand-shake: the model builds and marks its items on its queue
// ("resultSetupDidTerminate"), the tabs build their lists ("startToShowItems",
// then one "KZListsReadyToShow" per tab from list threads), and the last tab
// to be ready makes this controller post "resultIsReady" exactly once.
// Afterwards it routes the work of the open result: marking requests, tab
// selection, tabs added and removed as the user edits the file-type labels,
// refreshes after a removal, the follow-up search for emptied folders, and
// saving.
//
// Threads: made, used and destroyed on the main thread. "KZListsReadyToShow"
// arrives on list threads and "searchDidTerminate" on the engine's thread;
// their handlers touch only atomics and the model, and hand anything that
// concerns tabs to the main thread. Work queued for the main thread is
// dropped when the controller is gone by then.
class KZResultCntrl {
public:
    // The tabs' controllers by tab tag.
    using TabCntrls = std::map<quint64, std::unique_ptr<KZResultTabCntrl>>;

    // `resultWindowCntrl` owns this controller and outlives it.
    KZResultCntrl(const QVariantMap& resultInfo, KZResultWindowHost* resultWindowCntrl);
    ~KZResultCntrl();
    KZResultCntrl(const KZResultCntrl&) = delete;
    KZResultCntrl& operator=(const KZResultCntrl&) = delete;

    // ---- Tags ----------------------------------------------------------------------
    static quint64 itemMarkedTagWithOwnerTag(quint64 tag);
    static quint64 itemLocationTagWithLocationTag(qint16 label);
    static qint64 realLocationTag(quint64 tag);

    // ---- State -----------------------------------------------------------------------
    KZResultWindowHost* resultWindowCntrl() const { return resultWindowCntrl_; }
    KZResultTabStrip* tabsView() const;
    const TabCntrls& itemsTypeCntrls() const { return itemsTypeCntrls_; }
    KZResultTabCntrl* itemsTypeCntrl(quint64 tag) const;
    const std::vector<KZSourceItemRef>& sources() const { return sources_; }
    const std::shared_ptr<KZFoundItemsCntrl>& foundItemsCntrl() const { return foundItemsCntrl_; }
    qint16 listToCreate() const { return listToCreate_.load(); }
    // The running empty-folders search and its progress controller, if any.
    std::shared_ptr<KZSearchController> searchCntrl() const;
    std::shared_ptr<KZProgressControl> progressCntrl() const;
    const QVariantMap& savableInfoDict() const { return savableInfoDict_; }
    const std::shared_ptr<KZResultSaving>& saveCntrl() const { return saveCntrl_; }
    // The result info's "KZResultRemoveButton" and "KZResultSelectionInfoField",
    // handed on to every tab as they came.
    const QVariant& removeBtn() const { return removeBtn_; }
    const QVariant& selectionInfoFld() const { return selectionInfoFld_; }

    // ---- Start-up ----------------------------------------------------------------------
    // `userInfo` of "resultSetupDidTerminate": every result's model posts it
    // with the same object, so only the post that carries this controller's
    // own model ("foundItemsCntrl") starts the hand-shake, and only once.
    void resultSetupDidTerminate(const QVariantMap& userInfo);
    void listsReadyToShow();
    // Fills the location label images (labels 0 to 7).
    static void setupLabelImages();

    // ---- Tabs ----------------------------------------------------------------------------
    void prepareToShowWindowWithTabTag(quint64 tag);
    void showViewWithSelection(const QVariantMap& userInfo);
    void createNewAddedFileType(const QVariantMap& userInfo);
    void gatherDefaultChangedType(quint64 tag);
    void deleteRemovedFiletype(const QVariantMap& userInfo);
    void updateChangedTabs(const QList<quint64>& tags);
    void fileTypeExtensionsDidChange(quint64 tag, const QVariantMap& userInfo);

    // ---- Marking -------------------------------------------------------------------------
    void markItemsByUserChoice(const QVariantMap& request);
    void markItemsWithDictionary(const QVariantMap& request);
    void chooseLocationPanelDidEndWithCode(qint64 code, const QVariantMap& returnedInfo);
    // Where the folder chooser of a row's "mark in folder" opens: the
    // searched location of a location row, else the folder holding every
    // searched location; empty when there is none.
    std::filesystem::path folderOfSourceRow(quint64 rowTag) const;
    // The tab's tag followed by every location row tag the entry holds.
    QList<quint64> managedTags(const KZViewToUpdateRef& info, quint64 mainTag) const;
    void showMembersGroups(const QVariantMap& userInfo);

    // ---- After a removal ({"removedItems"}) ---------------------------------------------------
    void prepareUpdateWithDictionary(const QVariantMap& removal);
    void prepareUpdateForEmptyFoldersWithDictionary(const QVariantMap& removal);
    // After an undo ({"removedItems"}): the items of this result that came
    // back return to its lists and figures. Main thread.
    void itemsWereRestored(const QVariantMap& undo);

    // ---- Empty-folders follow-up -----------------------------------------------------------
    // `folders`: maps {"url", "locationLabelTag"} of the folders a removal left.
    void prepareToSearchForEmptyFolders(const QVariantList& folders);
    void searchDidTerminate(const QVariantMap& userInfo);
    void setupEmptyFolders(const QVariantMap& info);

    // ---- Saving and the menu -------------------------------------------------------------------
    void saveAsAction();
    void savingDidFinish();
    // Whether a menu item may be chosen; `fileMenuItemTag` is the item's tag
    // when it belongs to the File menu, else -1.
    bool validateMenuItem(qint64 fileMenuItemTag) const;

private:
    void initializeResultWithDict(const QVariantMap& info);
    void setupTabs(const QVariantMap& info);
    void setupItemsView(const QVariantMap& info);
    void createNewResultViewWithInfo(const QVariantMap& info);
    void addResultViewWithTag(quint64 tag);
    void setupSavableDict(const QVariantMap& info);
    QVariantMap tabDictionary(quint64 tag, const QVariantMap& info, bool deadTracks) const;
    // Posts "resultIsReady" the first time it is called.
    void postResultIsReady();
    // The model as threads other than the main thread must read it: its
    // building may end before the constructor has stored it.
    std::shared_ptr<KZFoundItemsCntrl> modelForWorkers() const;
    // Runs `work` on the main thread later, unless this controller is gone.
    void runOnMainIfAlive(std::function<void()> work);

    struct FollowUp {
        std::shared_ptr<KZSearchStuff> searchStuff;
        std::shared_ptr<KZSearchController> searchCntrl;
        std::shared_ptr<KZProgressControl> progressCntrl;
    };

    KZResultWindowHost* resultWindowCntrl_ = nullptr;
    QVariant removeBtn_;
    QVariant selectionInfoFld_;
    QVariant containerView_;
    std::vector<KZSourceItemRef> sources_;
    TabCntrls itemsTypeCntrls_;
    std::atomic<qint16> listToCreate_{0};
    std::atomic<bool> setupTerminated_{false};
    std::atomic<bool> readyPosted_{false};
    mutable std::mutex modelLock_;
    std::shared_ptr<KZFoundItemsCntrl> foundItemsCntrl_;
    QVariantMap savableInfoDict_;
    std::shared_ptr<KZResultSaving> saveCntrl_;

    mutable std::mutex followUpsLock_;
    std::vector<FollowUp> followUps_;

    // Liveness of this controller, for work queued onto the main thread.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);

    // Registrations; cancelled first thing in the destructor, which waits for
    // a delivery still running on another thread. Handlers that run on other
    // threads therefore never give up their own registration: a handler that
    // did could still be running when the destructor returns.
    platform::Subscription listsReadyObservation_;
    platform::Subscription setupObservation_;
    platform::Subscription showViewObservation_;
    platform::Subscription addedTypeObservation_;
    platform::Subscription removedTypeObservation_;
    platform::Subscription markObservation_;
    platform::Subscription groupsObservation_;
    platform::Subscription restoredObservation_;
    // Guarded by followUpsLock_: the last follow-up's end gives it up on the
    // engine's thread, after its last use of this controller.
    platform::Subscription followUpObservation_;
    platform::Subscription savingObservation_;
    std::map<quint64, platform::Subscription> extensionObservations_;
};

Q_DECLARE_METATYPE(KZResultCntrl*)

// ---- Shared by the whole result model ---------------------------------------------

// The image of a location label (0 to 7); a null image for any other label.
QImage KZLabelImageForTag(qint16 label);

// The worker-thread budget of the result model: every thread it starts on
// its own (folder sizes, bookmarks, list building) is counted in (true) and
// out (false). The count never goes below 0.
void KZChangeRunningThreadsCount(bool add);
// Whether one more thread may start: while the running count plus 700 stays
// below the hard limit on the user's processes, and always while fewer than
// two run.
bool KZCanStartNewThread();
// The same answer for a given count and hard limit (RLIM_INFINITY: none).
bool KZCanStartNewThreadWithLimit(qint64 running, rlim_t hardLimit);
qint64 KZRunningThreadsCount();
