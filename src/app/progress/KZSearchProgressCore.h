#pragma once

#include "app/progress/KZSearchProgressDisplay.h"
#include "engine/KZProgressControl.h"
#include "platform/Subscription.h"

#include <QString>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class KZProgressClock;
class QObject;

// The progress controller without its widgets: the counters that the
// engine's threads replace, the clock that samples them, the refresh of the
// fields, and the end of the search with its choices. The window is reached
// only through KZSearchProgressDisplay, on the GUI thread.
//
// Threads: the setters run on any thread and hold `progressLock` for one
// replacement; the clock's tick runs on the clock thread and only samples and
// queues work onto the GUI thread (it never waits for it); everything that
// touches the display runs on the GUI thread.
class KZSearchProgressCore : public KZProgressControl {
public:
    using Dispatch = std::function<void(std::function<void()>)>;

    // The intervals of the refresh, in seconds.
    static constexpr double refreshInterval = 0.1;
    static constexpr double spinnerDelay = 1.0;
    static constexpr double stallDelay = 2.0;
    static constexpr double stallSampleInterval = 1.0;
    static constexpr double ringDelay = 2.0;
    static constexpr double folderPanelDelay = 0.5;
    static constexpr int folderPanelHideAfter = 10;
    // Larger results are offered only once the result controller is ready.
    static constexpr quint64 immediateResultLimit = 10000;

    // `display` may be null (no window). `notificationObject` is the object
    // under which the engine posts to this controller ("updateOtherFoldersInfo")
    // and `searchView` the object of "resetButtonDidClick".
    KZSearchProgressCore(KZSearchProgressDisplay* display, const void* notificationObject,
                         const void* searchView);
    ~KZSearchProgressCore() override;

    KZSearchProgressCore(const KZSearchProgressCore&) = delete;
    KZSearchProgressCore& operator=(const KZSearchProgressCore&) = delete;

    // Tests and benchmarks: the hop to the GUI thread. Time comes from
    // platform::Clock.
    void setDispatch(Dispatch dispatch);
    // Whether prepareToSearch() starts the clock thread (tests tick by hand).
    void setStartsClock(bool starts) { startsClock_ = starts; }

    // ---- KZProgressControl ----
    bool wasStopped() const override { return wasStopped_.load(); }
    void prepareToSearch(const QVariantMap& options) override;
    void setIsSearching(bool searching) override;
    void setFoundSize(quint64 size) override;
    void setFoundCount(quint64 count) override;
    void setMissingTracksCount(quint64 count) override;
    void setCheckedCount(quint64 count) override;
    void setItemsToCheckCount(quint64 count) override;
    void prepareToSearchForFoldersContent() override;
    void allowsShowResult() override;
    void setMainInfoTitle(const QString& title) override;
    void showDeterminateProgress() override;
    void showFolderView(bool show) override;
    void initializeFoldersProgressWithTotValue(quint64 total) override;
    void setFolderSizeValue(quint64 size) override;
    void addCurrFoldersValue(quint64 count) override;
    void setFoundItemFileType(const KZSearchItemInfo& item) override;
    QVariantMap fileTypes() const override;

    // Adds one item of `size` bytes to the tally of type `tag`.
    void addFoundItemOfType(quint64 tag, quint64 size);
    KZFileTypeSnapshot fileTypeSnapshot() const;

    // ---- The clock ----
    // One sample; answers true once the search has ended and its end has been
    // queued. Safe to call from any one thread at a time.
    bool tick();
    // The refresh of the fields (GUI thread).
    void updateProgressFieldsStatus();
    bool clockIsRunning() const;

    // ---- The end and the user's choices (GUI thread) ----
    void prepareToShowResult();
    bool searchIsValid() const;
    // The title the window keeps after the end: a stopped search says so.
    QString endTitle() const;
    void stopAction();
    void stopSearchingDueError();
    // The ready state of the result controller; any thread.
    void resultIsReadyNotified();
    void removeObservers();
    void setSavedProgress(const QVariantMap& resultInfo);
    // Start over: answers whether the window goes back to the search window.
    // `ask` false: the user already agreed to lose the result elsewhere.
    bool resetAction(bool ask = true);
    // Close: answers whether the user agreed to close the window.
    bool closeAction();
    void showResultWithFileTypeTag(quint64 tag, QObject* fromWindow, QObject* roundView);

    // ---- State ----
    bool isSearching() const { return isSearching_.load(); }
    bool stoppedDueAnError() const { return stoppedDueAnError_.load(); }
    bool resultIsReady() const { return resultIsReady_.load(); }
    bool isRestoreOpening() const { return isRestoreOpening_.load(); }
    bool isInderminate() const { return isInderminate_.load(); }
    bool isSearchForFolders() const { return isSearchForFolders_.load(); }
    bool windowIsShown() const { return windowIsShown_.load(); }
    bool hungStringShown() const { return hungStringShown_; }
    bool progressViewAlreadyShown() const { return progressViewAlreadyShown_; }
    bool resultOffered() const { return resultOffered_; }
    bool waitingForResult() const { return waitingForResult_; }
    bool observersRemoved() const { return !stopErrorObservation_.isActive(); }
    QString mainInfoStr() const;
    quint64 itemsToCheckCount() const { return itemsToCheckCount_; }
    quint64 foundCount() const { return foundCount_; }
    quint64 checkedCount() const { return checkedCount_; }
    quint64 foundSizeValue() const { return foundSizeValue_; }
    // The percentage the determinate progress shows.
    double percentage() const;

private:
    struct Live {
        quint64 foundSize = 0, foundCount = 0, checked = 0, toCheck = 0;
    };
    Live sampleLive() const;
    void onMain(std::function<void()> work);
    void showTitle(const QString& text);
    void showHungInfo(bool show);
    void refreshFolders(double now);
    void waitUntilResultIsReadyToShow();
    double now() const;

    // Expires with the controller; queued GUI work checks it first.
    std::shared_ptr<char> alive_ = std::make_shared<char>();
    KZSearchProgressDisplay* display_;
    const void* notificationObject_;
    const void* searchView_;
    Dispatch dispatch_;
    bool startsClock_ = true;
    std::unique_ptr<KZProgressClock> progressClock_;

    // Guards the live values, the type table and the folder counters.
    mutable std::recursive_mutex progressLock_;
    Live live_;
    KZFileTypeSnapshot fileTypes_;
    double foldersStartTime_ = 0;
    quint64 foldersTotValue_ = 1;
    quint64 currFoldersValue_ = 0;
    quint64 foldersSize_ = 0;
    bool inititialValueShown_ = false;

    // Serialises ticks.
    std::mutex clockLock_;
    double startTime_ = 0;
    double updatedTime_ = 0;
    std::atomic<bool> refreshQueued_{false};
    std::atomic<bool> ringUpdateQueued_{false};
    std::atomic<bool> endQueued_{false};
    std::atomic<quint64> lastToCheckCount_{0};
    std::atomic<quint64> lastCheckedCount_{0};
    double lastPercentSent_ = -1; // clock thread only

    // Read by other threads.
    std::atomic<bool> wasStopped_{false};
    std::atomic<bool> isSearching_{false};
    std::atomic<bool> windowIsShown_{false};
    std::atomic<bool> isInderminate_{true};
    std::atomic<bool> stoppedDueAnError_{false};
    std::atomic<quint64> missingTracksCount_{0};
    std::atomic<bool> resultIsReady_{false};
    std::atomic<bool> isRestoreOpening_{false};
    std::atomic<bool> isSearchForFolders_{false};

    // GUI thread only.
    quint64 foundSizeValue_ = 0, foundCount_ = 0, checkedCount_ = 0, itemsToCheckCount_ = 0;
    quint64 staticCheckedCount_ = 0;
    double hungStartTime_ = 0;
    bool hungStringShown_ = false;
    bool progressViewAlreadyShown_ = false;
    int timesNotShowed_ = 0;
    bool waitingForResult_ = false;
    bool resultOffered_ = false;
    bool endPerformed_ = false;

    mutable std::mutex titleLock_;
    QString mainInfoStr_;

    platform::Subscription resultReadyObservation_;
    platform::Subscription stopErrorObservation_;
    platform::Subscription tabsAnimationObservation_;
    platform::Subscription foldersInfoObservation_;
};
