#include "app/progress/KZSearchProgressCore.h"

#include "services/KZProgressClock.h"
#include "engine/KZResultInfoKeys.h"
#include "engine/KZSearchItemInfo.h"
#include "platform/Clock.h"
#include "platform/MainThread.h"
#include "platform/NotificationCenter.h"
#include "platform/StringTable.h"
#include "services/KZErrorDelegate.h"
#include "services/KZNumberUtilities.h"
#include "services/KZSearchInProgress.h"
#include "settings/KZNotificationNames.h"


namespace {

QString localized(const char* key)
{
    return platform::localizedString(QString::fromLatin1(key));
}

QString countText(quint64 value)
{
    return KZNumberUtilities::sharedControl().numberToFormatString(static_cast<double>(value));
}

QString sizeText(quint64 bytes)
{
    return KZNumberUtilities::sharedControl().sizeToFormatString(bytes, 4, true);
}

platform::NotificationCenter& center()
{
    return platform::NotificationCenter::defaultCenter();
}

} // namespace

KZSearchProgressCore::KZSearchProgressCore(KZSearchProgressDisplay* display, const void* notificationObject,
                                           const void* searchView)
    : display_(display),
      notificationObject_(notificationObject ? notificationObject : static_cast<const KZProgressControl*>(this)),
      searchView_(searchView),
      dispatch_([](std::function<void()> work) { platform::runOnMain(std::move(work)); })
{
}

KZSearchProgressCore::~KZSearchProgressCore()
{
    // The clock goes first: a tick must not sample a half-destroyed object.
    progressClock_.reset();
    resultReadyObservation_.cancel();
    stopErrorObservation_.cancel();
    tabsAnimationObservation_.cancel();
    foldersInfoObservation_.cancel();
    // Only now nothing can queue more work; what is queued finds it expired.
    alive_.reset();
}

void KZSearchProgressCore::setDispatch(Dispatch dispatch)
{
    dispatch_ = std::move(dispatch);
}

double KZSearchProgressCore::now() const
{
    return platform::Clock::shared().now();
}

void KZSearchProgressCore::onMain(std::function<void()> work)
{
    // Work queued for the GUI thread may land after the controller is gone.
    dispatch_([alive = std::weak_ptr<char>(alive_), work = std::move(work)] {
        if (alive.lock())
            work();
    });
}

// ---- Counters (any thread) ----------------------------------------------------------

void KZSearchProgressCore::setFoundSize(quint64 size)
{
    std::lock_guard guard(progressLock_);
    live_.foundSize = size;
}

void KZSearchProgressCore::setFoundCount(quint64 count)
{
    std::lock_guard guard(progressLock_);
    live_.foundCount = count;
}

void KZSearchProgressCore::setCheckedCount(quint64 count)
{
    std::lock_guard guard(progressLock_);
    live_.checked = count;
}

void KZSearchProgressCore::setItemsToCheckCount(quint64 count)
{
    std::lock_guard guard(progressLock_);
    live_.toCheck = count;
}

KZSearchProgressCore::Live KZSearchProgressCore::sampleLive() const
{
    std::lock_guard guard(progressLock_);
    return live_;
}

void KZSearchProgressCore::setFoundItemFileType(const KZSearchItemInfo& item)
{
    addFoundItemOfType(item.fileTypeLabel(), item.totSize());
}

void KZSearchProgressCore::addFoundItemOfType(quint64 tag, quint64 size)
{
    std::lock_guard guard(progressLock_);
    auto found = fileTypes_.find(tag);
    if (found == fileTypes_.end()) {
        // Made outside the label's lock: a new label reads the defaults.
        auto label = KZFileTypeLabel::create(tag);
        std::lock_guard labelGuard(label->fileTypeLabelLock());
        label->setFilesCount(1);
        label->setSize(size);
        fileTypes_.emplace(tag, std::move(label));
        return;
    }
    // Count and size change together under the label's own lock, since the
    // information panel reads them as a pair on the GUI thread.
    KZFileTypeLabel& label = *found->second;
    std::lock_guard labelGuard(label.fileTypeLabelLock());
    label.setFilesCount(label.filesCount() + 1);
    label.setSize(label.size() + size);
}

KZFileTypeSnapshot KZSearchProgressCore::fileTypeSnapshot() const
{
    std::lock_guard guard(progressLock_);
    return fileTypes_;
}

QVariantMap KZSearchProgressCore::fileTypes() const
{
    QVariantMap types;
    for (const auto& [tag, label] : fileTypeSnapshot())
        types.insert(QString::number(tag), QVariant::fromValue(label));
    return types;
}

void KZSearchProgressCore::setFolderSizeValue(quint64 size)
{
    std::lock_guard guard(progressLock_);
    foldersSize_ = size;
}

void KZSearchProgressCore::addCurrFoldersValue(quint64 count)
{
    std::lock_guard guard(progressLock_);
    currFoldersValue_ += count;
}

void KZSearchProgressCore::initializeFoldersProgressWithTotValue(quint64 total)
{
    {
        std::lock_guard guard(progressLock_);
        foldersStartTime_ = now();
        // A total of 0 would show an empty folder as never finishing.
        foldersTotValue_ = total == 0 ? 1 : total;
        foldersSize_ = 0;
        currFoldersValue_ = 0;
        inititialValueShown_ = false;
    }
    if (display_)
        onMain([this] { display_->initializeForNewFolder(); });
}

// ---- Phases ---------------------------------------------------------------------------

void KZSearchProgressCore::prepareToSearch(const QVariantMap& options)
{
    if (!platform::isMainThread()) {
        platform::runOnMainAndWait([this, &options] { prepareToSearch(options); });
        return;
    }
    const bool emptiedFolders = options.value(QStringLiteral("isEmptiedFolders")).toBool();
    const bool showInterface = options.value(QStringLiteral("showInterface")).toBool();
    if (progressClock_)
        progressClock_->stop();

    if (showInterface) {
        isSearching_ = true;
        KZSetSearchInProgress(true);
    }
    wasStopped_ = false;
    foundSizeValue_ = foundCount_ = checkedCount_ = itemsToCheckCount_ = 0;
    missingTracksCount_ = 0;
    windowIsShown_ = true;
    stoppedDueAnError_ = false;
    isSearchForFolders_ = false;
    resultIsReady_ = false;
    isRestoreOpening_ = false;
    progressViewAlreadyShown_ = false;
    isInderminate_ = true;
    hungStringShown_ = false;
    waitingForResult_ = false;
    resultOffered_ = false;
    endPerformed_ = false;
    endQueued_ = false;
    refreshQueued_ = false;
    ringUpdateQueued_ = false;
    lastToCheckCount_ = 0;
    lastCheckedCount_ = 0;
    lastPercentSent_ = -1;
    staticCheckedCount_ = 0;
    timesNotShowed_ = 0;

    {
        std::lock_guard guard(progressLock_);
        live_ = Live();
        fileTypes_.clear();
        foldersStartTime_ = 0;
        foldersTotValue_ = 1;
        currFoldersValue_ = 0;
        foldersSize_ = 0;
        inititialValueShown_ = false;
    }
    if (!emptiedFolders && display_)
        display_->resetForNewSearch();

    {
        std::lock_guard guard(titleLock_);
        mainInfoStr_.clear();
    }
    setMainInfoTitle(localized("scanning"));
    const double start = now();
    startTime_ = start;
    updatedTime_ = start;
    hungStartTime_ = start;

    // Observed from the start, so that a result that is ready before the
    // clock's last tick is never waited for.
    resultReadyObservation_ = center().addObserver(
        KZNotification::resultIsReady, platform::bundleIdentifier(),
        [this](const platform::Notification&) { resultIsReadyNotified(); });

    if (!emptiedFolders && showInterface) {
        stopErrorObservation_ = center().addObserver(
            KZNotification::stopSearchingDueError, platform::bundleIdentifier(),
            [this](const platform::Notification&) { onMain([this] { stopSearchingDueError(); }); });
        tabsAnimationObservation_ = center().addObserver(
            KZNotification::tabsAnimationDidEnd, platform::bundleIdentifier(),
            [this](const platform::Notification&) { onMain([this] { removeObservers(); }); });
        if (startsClock_) {
            if (!progressClock_)
                progressClock_ = std::make_unique<KZProgressClock>([this] { return tick(); });
            progressClock_->start();
        }
        if (display_)
            display_->showWindow();
    }
}

void KZSearchProgressCore::setIsSearching(bool searching)
{
    isSearching_ = searching;
}

bool KZSearchProgressCore::clockIsRunning() const
{
    return progressClock_ && progressClock_->isRunning();
}

void KZSearchProgressCore::setMainInfoTitle(const QString& title)
{
    QString shown;
    {
        std::lock_guard guard(titleLock_);
        if (!title.isNull())
            mainInfoStr_ = title;
        shown = mainInfoStr_;
    }
    if (display_)
        onMain([this, shown] { showTitle(shown); });
}

QString KZSearchProgressCore::mainInfoStr() const
{
    std::lock_guard guard(titleLock_);
    return mainInfoStr_;
}

void KZSearchProgressCore::showTitle(const QString& text)
{
    if (display_)
        display_->setTitleText(text);
}

void KZSearchProgressCore::showDeterminateProgress()
{
    // Queued rather than waited for: the engine's thread may hold its own
    // locks here, and the window must never hold the engine up.
    isInderminate_ = false;
    if (display_)
        onMain([this] { display_->setDeterminate(); });
    setMainInfoTitle(localized("checking"));
}

void KZSearchProgressCore::showFolderView(bool show)
{
    if (display_)
        onMain([this, show] { display_->showFolderView(show); });
}

void KZSearchProgressCore::prepareToSearchForFoldersContent()
{
    isSearchForFolders_ = true;
    if (display_) {
        onMain([this] {
            timesNotShowed_ = 0;
            display_->setFolderCaptions();
        });
    }
    foldersInfoObservation_ = center().addObserver(
        KZNotification::updateOtherFoldersInfo, notificationObject_, [this](const platform::Notification& note) {
            const bool show = note.userInfo.value(QStringLiteral("show")).toBool();
            onMain([this, show] { showHungInfo(show); });
        });
}

double KZSearchProgressCore::percentage() const
{
    const quint64 toCheck = lastToCheckCount_.load();
    // Nothing known to check yet: the ratio is undefined, show none done.
    if (toCheck == 0)
        return 0.0;
    return static_cast<double>(lastCheckedCount_.load()) / static_cast<double>(toCheck) * 100.0;
}

// ---- The clock ---------------------------------------------------------------------------

bool KZSearchProgressCore::tick()
{
    std::lock_guard tickGuard(clockLock_);
    const bool terminated = !isSearching_.load();
    if (endQueued_.load())
        return true;
    const double t = now();

    if (windowIsShown_.load()) {
        if (t - updatedTime_ >= refreshInterval || terminated) {
            updatedTime_ = t;
            // The ring of the disc moves with the refresh, and only when its
            // value changed: the GUI thread is asked at most ten times a second.
            if (!isInderminate_.load()) {
                lastCheckedCount_ = sampleLive().checked;
                const double percent = percentage();
                if (display_ && percent != lastPercentSent_) {
                    lastPercentSent_ = percent;
                    onMain([this, percent] { display_->setPercentage(percent); });
                }
            }
            // One refresh in flight at a time: a busy GUI thread gets fewer
            // refreshes, never a queue of stale ones.
            if (!terminated && !refreshQueued_.exchange(true)) {
                onMain([this] {
                    refreshQueued_ = false;
                    updateProgressFieldsStatus();
                });
            }
            std::size_t typeCount = 0;
            {
                std::lock_guard guard(progressLock_);
                typeCount = fileTypes_.size();
            }
            if (!terminated && typeCount >= 2 && t - startTime_ >= ringDelay && display_
                && !ringUpdateQueued_.exchange(true)) {
                onMain([this, types = fileTypeSnapshot()] {
                    ringUpdateQueued_ = false;
                    display_->updateTabs(types);
                });
            }
        }
    }

    if (terminated) {
        endQueued_ = true;
        onMain([this] {
            updateProgressFieldsStatus();
            prepareToShowResult();
        });
        return true;
    }
    return false;
}

void KZSearchProgressCore::updateProgressFieldsStatus()
{
    const double t = now();
    const Live live = sampleLive();
    const bool searching = isSearching_.load();
    using Field = KZSearchProgressDisplay::Field;

    if (t - startTime_ >= spinnerDelay && !progressViewAlreadyShown_ && searching && !wasStopped_.load()) {
        progressViewAlreadyShown_ = true;
        if (display_)
            display_->startIndeterminateAnimation();
    }

    if (live.toCheck != itemsToCheckCount_) {
        itemsToCheckCount_ = live.toCheck;
        lastToCheckCount_ = live.toCheck;
        if (display_)
            display_->setFieldText(Field::itemsToCheck, countText(live.toCheck));
        if (hungStringShown_) {
            hungStringShown_ = false;
            showHungInfo(false);
        }
        hungStartTime_ = t;
    } else if (!hungStringShown_ && isInderminate_.load() && t - hungStartTime_ >= stallDelay) {
        if (live.checked == staticCheckedCount_) {
            hungStringShown_ = true;
            showHungInfo(true);
        }
    }

    if (live.checked != checkedCount_) {
        checkedCount_ = live.checked;
        if (display_)
            display_->setFieldText(Field::checked, countText(live.checked));
        if (hungStringShown_) {
            hungStringShown_ = false;
            showHungInfo(false);
        }
        if (t - hungStartTime_ >= stallSampleInterval) {
            hungStartTime_ = t;
            staticCheckedCount_ = live.checked;
        }
    }

    if (live.foundCount != foundCount_ || !searching) {
        foundCount_ = live.foundCount;
        if (display_)
            display_->setFieldText(Field::itemsFound, countText(live.foundCount));
    }
    if (live.foundSize != foundSizeValue_ || !searching) {
        foundSizeValue_ = live.foundSize;
        if (display_)
            display_->setFieldText(Field::sizeFound, sizeText(live.foundSize));
    }

    if (isSearchForFolders_.load())
        refreshFolders(t);
}

void KZSearchProgressCore::refreshFolders(double t)
{
    QString current, total, size;
    bool showPanel = false, showTotals = false, hidePanel = false, showCurrent = false;
    {
        std::lock_guard guard(progressLock_);
        if (foldersStartTime_ > 0 && t - foldersStartTime_ >= folderPanelDelay) {
            timesNotShowed_ = 0;
            showCurrent = true;
            current = countText(currFoldersValue_);
            if (!inititialValueShown_) {
                showPanel = true;
                if (foldersTotValue_ != 0) {
                    showTotals = true;
                    total = countText(foldersTotValue_);
                    size = sizeText(foldersSize_);
                    inititialValueShown_ = true;
                }
            }
        } else if (++timesNotShowed_ >= folderPanelHideAfter) {
            hidePanel = true;
        }
    }
    // The display is called outside the lock: the workers must never wait
    // for a repaint.
    if (!display_)
        return;
    if (showCurrent)
        display_->setFolderCurrent(current);
    if (showPanel)
        display_->showFolderView(true);
    if (showTotals)
        display_->setFolderTotals(total, size);
    if (hidePanel)
        display_->showFolderView(false);
}

void KZSearchProgressCore::showHungInfo(bool show)
{
    if (show) {
        bool totalsShown = false;
        {
            std::lock_guard guard(progressLock_);
            totalsShown = inititialValueShown_;
        }
        showTitle(localized(totalsShown ? "comparing_huge_files" : "comparing_huge_folders"));
        return;
    }
    const QString title = mainInfoStr();
    if (!title.isEmpty())
        showTitle(title);
}

// ---- The end -------------------------------------------------------------------------------

bool KZSearchProgressCore::searchIsValid() const
{
    return (foundCount_ > 0 || missingTracksCount_.load() > 0) && !stoppedDueAnError_.load();
}

void KZSearchProgressCore::setMissingTracksCount(quint64 count)
{
    missingTracksCount_ = count;
}

void KZSearchProgressCore::prepareToShowResult()
{
    if (endPerformed_)
        return;
    endPerformed_ = true;
    const bool valid = searchIsValid();
    if (display_) {
        display_->closeExtraInfo();
        display_->showEnd(valid, fileTypeSnapshot());
    } else {
        removeObservers();
    }
    if (!valid) {
        // Nothing will be offered, so nothing else would ever lower the flag
        // and the menus and tabs would think a search still runs.
        KZSetSearchInProgress(false);
        if (display_)
            display_->showInvalidEnd(endTitle());
        return;
    }
    if (foundCount_ > immediateResultLimit && !isRestoreOpening_.load())
        waitUntilResultIsReadyToShow();
    else
        allowsShowResult();
}

void KZSearchProgressCore::waitUntilResultIsReadyToShow()
{
    if (resultIsReady_.load()) {
        allowsShowResult();
        return;
    }
    waitingForResult_ = true;
    setMainInfoTitle(localized("preparing_result"));
    if (display_)
        display_->showPreparingResult();
}

void KZSearchProgressCore::resultIsReadyNotified()
{
    resultIsReady_ = true;
    // Decided on the GUI thread, where the end runs too: whichever comes
    // second offers the result, exactly once.
    onMain([this] {
        if (waitingForResult_)
            allowsShowResult();
    });
}

void KZSearchProgressCore::allowsShowResult()
{
    if (!platform::isMainThread()) {
        onMain([this] { allowsShowResult(); });
        return;
    }
    if (resultOffered_)
        return;
    resultOffered_ = true;
    waitingForResult_ = false;
    KZSetSearchInProgress(false);
    if (display_)
        display_->offerResult(endTitle());
    if (!isRestoreOpening_.load())
        resultReadyObservation_.cancel();
}

QString KZSearchProgressCore::endTitle() const
{
    // What a stopped search found is only part of what is there; without
    // a word it would look like a search that ran to its end.
    return wasStopped_.load() ? localized("search_stopped") : QString();
}

void KZSearchProgressCore::removeObservers()
{
    stopErrorObservation_.cancel();
    tabsAnimationObservation_.cancel();
    foldersInfoObservation_.cancel();
}

void KZSearchProgressCore::stopAction()
{
    wasStopped_ = true;
    setMainInfoTitle(localized("stopping"));
    if (display_) {
        display_->closeExtraInfo();
        display_->stopProgressAnimation();
    }
}

void KZSearchProgressCore::stopSearchingDueError()
{
    stoppedDueAnError_ = true;
    stopAction();
}

void KZSearchProgressCore::setSavedProgress(const QVariantMap& info)
{
    setFoundSize(info.value(KZResultKey::foundItemsSize).toULongLong());
    setFoundCount(info.value(KZResultKey::foundItemsCount).toULongLong());
    setCheckedCount(info.value(KZResultKey::checkedItemsCount).toULongLong());
    setItemsToCheckCount(info.value(KZResultKey::itemsToCheckCount).toULongLong());
    isRestoreOpening_ = true;
    auto finish = [this] {
        updateProgressFieldsStatus();
        if (display_)
            display_->enlargeRing(true);
        prepareToShowResult();
    };
    if (platform::isMainThread())
        finish();
    else
        platform::runOnMainAndWait(finish);
}

bool KZSearchProgressCore::resetAction(bool ask)
{
    if (!searchIsValid()) {
        if (display_)
            display_->hideWindow();
        return true;
    }
    const qint64 answer =
        !ask ? qint64(KZErrorDelegate::FirstButton)
             : KZErrorDelegate::sharedControl().askToTheUserWithView(
                   QStringLiteral("search_again"), QStringLiteral("losing_result_msg"), {},
                   localized("search_again_button"), localized("dont_search_again_button"), QString(),
                   QStringLiteral("ask_result_start_over"), false);
    if (answer == KZErrorDelegate::FirstButton) {
        if (display_) {
            display_->hideWindow();
            display_->closeExtraInfo();
        }
        center().post(KZNotification::resetButtonDidClick, searchView_);
        return true;
    }
    center().post(KZNotification::newSearchProgressTerminated, platform::bundleIdentifier(),
                  {{QStringLiteral("isClosed"), false}});
    return false;
}

bool KZSearchProgressCore::closeAction()
{
    const qint64 answer = KZErrorDelegate::sharedControl().askToTheUserWithView(
        QStringLiteral("close_result_window"), QStringLiteral("losing_result_msg"), {}, localized("close_button"),
        localized("dont_close_button"), QString(), QStringLiteral("ask_result_start_over"), false);
    return answer == KZErrorDelegate::FirstButton;
}

void KZSearchProgressCore::showResultWithFileTypeTag(quint64 tag, QObject* fromWindow, QObject* roundView)
{
    if (display_)
        display_->closeExtraInfo();
    center().post(KZNotification::showWindowWithTag, platform::bundleIdentifier(),
                  {{QStringLiteral("tag"), QVariant::fromValue<qulonglong>(tag)},
                   {QStringLiteral("fromWindow"), QVariant::fromValue(fromWindow)},
                   {QStringLiteral("roundView"), QVariant::fromValue(roundView)}});
}
