#include "app/search/ui/KZSearchWindowCntrl.h"

#include "app/progress/ui/KZSearchProgress.h"
#include "app/progress/KZSearchProgressCore.h"
#include "app/search/KZMusicLibraryReading.h"
#include "app/search/KZResultModelHandOff.h"
#include "app/search/KZSearchPreparation.h"
#include "app/search/KZSearchTermination.h"
#include "app/search/ui/KZMusicLibraryReadingSheet.h"
#include "app/search/ui/KZSearchView.h"
#include "app/ui/KZMaravexApp.h"
#include "engine/KZFoundListParcel.h"
#include "engine/KZResultInfoKeys.h"
#include "engine/KZSearchController.h"
#include "media/KZAppsSupport.h"
#include "platform/Log.h"
#include "platform/MainThread.h"
#include "platform/NotificationCenter.h"
#include "services/KZErrorDelegate.h"
#include "services/ui/KZWindowPlacement.h"
#include "services/ui/KZThemeImageSwitchButton.h"
#include "settings/KZNotificationNames.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QTimer>

KZSearchWindowCntrl::KZSearchWindowCntrl(KZSearchView* searchView, QObject* parent)
    : QObject(parent), searchView_(searchView)
{
    if (searchView_)
        connect(searchView_, &KZSearchView::startClicked, this, &KZSearchWindowCntrl::startScanAction);
    if (searchView_)
        connect(searchView_, &KZSearchView::closeClicked, this, &KZSearchWindowCntrl::closeWindowAction);
    // The guard posts from its own thread; the answer is handled here.
    const auto onAnswer = [guard = QPointer<KZSearchWindowCntrl>(this)](const platform::Notification& n) {
        platform::runOnMain([guard, info = n.userInfo] {
            if (guard)
                guard->appWatchAnswered(info);
        });
    };
    auto& center = platform::NotificationCenter::defaultCenter();
    appOpenedObservation_ = center.addObserver(QStringLiteral("appWasOpened"),
                                               platform::NotificationObject(platform::bundleIdentifier()), onAnswer);
    appClosedObservation_ = center.addObserver(QStringLiteral("appWasClosed"),
                                               platform::NotificationObject(platform::bundleIdentifier()), onAnswer);
}

void KZSearchWindowCntrl::appWatchAnswered(const QVariantMap& userInfo)
{
    const QString identifier = userInfo.value(QStringLiteral("NSApplicationBundleIdentifier")).toString();
    const bool goOn = userInfo.value(QStringLiteral("continue")).toBool();
    const std::vector<KZSourceItemRef> sources =
        searchView_ ? searchView_->sourcesCntrl().sources() : std::vector<KZSourceItemRef>();
    if (!KZSearchPreparation::appWatchAnswered(identifier, goOn, sources))
        QApplication::beep();
}

void KZSearchWindowCntrl::closeWindowAction()
{
    // A search that waits for the music library no longer starts.
    if (musicReading_)
        musicReading_->stop();
    if (!window_)
        return;
    if (KZMaravexApp* app = KZMaravexApp::sharedDelegate())
        app->closeAppWindow(window_);
    else
        window_->close();
}

bool KZSearchWindowCntrl::eventFilter(QObject* watched, QEvent* event)
{
    // The round window has no title bar: Close from the menu must end the
    // way its own close button does.
    if (watched == window_ && event->type() == QEvent::WindowActivate) {
        if (KZMaravexApp* app = KZMaravexApp::sharedDelegate()) {
            QPointer<KZSearchWindowCntrl> self(this);
            app->restoreCloseMenuItem(
                false,
                [self] {
                    if (self)
                        self->closeWindowAction();
                },
                window_);
        }
    } else if (watched == window_ && event->type() == QEvent::WindowDeactivate) {
        // Handed back, or Close pressed in the next window would close this one.
        if (KZMaravexApp* app = KZMaravexApp::sharedDelegate())
            app->windowDidResignKey(window_);
    }
    return QObject::eventFilter(watched, event);
}

KZSearchWindowCntrl::~KZSearchWindowCntrl()
{
    // Before the members they reach go away; a delivery on the engine's
    // thread is waited for here.
    terminateObservation_.cancel();
    resetObservation_.cancel();
    setupObservation_.cancel();
    appOpenedObservation_.cancel();
    appClosedObservation_.cancel();
    // The sheet first: its Stop reaches the reading.
    readingSheet_.reset();
    musicReading_.reset();
}

void KZSearchWindowCntrl::setTheWindow(QWidget* window)
{
    if (window_)
        window_->removeEventFilter(this);
    window_ = window;
    if (!window_)
        return;
    window_->installEventFilter(this);
    // Centred the first time; later only kept wholly on screen.
    if (!window_->property("kzPlaced").toBool()) {
        KZWindowPlacement::centre(window_);
        window_->setProperty("kzPlaced", true);
    } else {
        KZWindowPlacement::keepOnScreen(window_);
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
    if (searchView_)
        searchView_->setFocus();
    if (!tookStartFolders_) {
        tookStartFolders_ = true;
        // Next turn of the loop: the program hands its arguments over right
        // after the first window is up.
        QTimer::singleShot(0, this, [this] {
            if (KZMaravexApp* app = KZMaravexApp::sharedDelegate(); app && !app->foldersToAdd().empty())
                addFolders(app->takeFoldersToAdd());
        });
    }
}

void KZSearchWindowCntrl::addFolders(const std::vector<std::filesystem::path>& folders)
{
    if (searchView_ && !folders.empty())
        searchView_->animateAddedItems(folders);
}

int KZSearchWindowCntrl::searchType() const
{
    return searchView_ && searchView_->toggleBtn() ? searchView_->toggleBtn()->state() : 0;
}

std::shared_ptr<KZSearchController> KZSearchWindowCntrl::searchCntrl() const
{
    return searchCntrl_;
}

void KZSearchWindowCntrl::startScanAction()
{
    // Pressed again while the library is read: the search already waits.
    if (musicReading_ && musicReading_->isRunning())
        return;
    if (!musicReading_) {
        musicReading_ = std::make_unique<KZMusicLibraryReading>();
        connect(musicReading_.get(), &KZMusicLibraryReading::finished, this,
                &KZSearchWindowCntrl::musicLibraryReadingEnded);
        readingSheetTimer_ = new QTimer(this);
        readingSheetTimer_->setSingleShot(true);
        connect(readingSheetTimer_, &QTimer::timeout, this, [this] {
            if (!musicReading_ || !musicReading_->isRunning())
                return;
            readingSheet_ = std::make_unique<KZMusicLibraryReadingSheet>(window_ ? window_.data() : searchView_.data(),
                                                                         [this] {
                                                                             if (musicReading_)
                                                                                 musicReading_->stop();
                                                                         });
            readingSheet_->show();
        });
    }
    // The sources are checked against the music library, which a large
    // export takes seconds to read: read aside, the window goes on.
    if (musicReading_->start()) {
        readingSheetTimer_->start(kReadingSheetDelayMs);
        return;
    }
    startScan();
}

void KZSearchWindowCntrl::musicLibraryReadingEnded(bool stopped)
{
    if (readingSheetTimer_)
        readingSheetTimer_->stop();
    readingSheet_.reset();
    // As before the reading went aside: why the library was not read comes
    // before the search's own questions.
    if (musicReading_)
        musicReading_->tellRefusal();
    if (!stopped)
        startScan();
}

void KZSearchWindowCntrl::startScan()
{
    std::shared_ptr<KZSearchProgress> progress;
    auto request = preliminaryToScanWithOption(true, &progress);
    if (!progress)
        return;
    searchCntrl_ = KZSearchController::create(request, this, progress->engineProgress());
    searchCntrl_->startToSearch();
}

std::shared_ptr<KZSearchStuff> KZSearchWindowCntrl::preliminaryToScanWithOption(
    bool allowInterface, std::shared_ptr<KZSearchProgress>* progressControl, ProgressWindow window)
{
    if (!searchView_)
        return KZSearchStuff::searchStuff();
    // The questions and reopenings below are ours: the watch pauses, and
    // runs during the search only when a library stays among the sources.
    KZAppsSupport::sharedControl().removeObservers();
    const auto outcome =
        KZSearchPreparation::prepare(searchView_->sourcesCntrl(), searchType() == 1, allowInterface);
    if (!outcome.proceed)
        return outcome.request;
    if (outcome.watchLibraries)
        KZAppsSupport::sharedControl().addObservers();

    // The progress controller first: observers registered only once it
    // exists, so a start that fails before leaves none behind.
    auto progress = KZSearchProgress::create(searchView_, allowInterface || window == ProgressWindow::Made);
    if (!progress)
        return outcome.request;

    auto& center = platform::NotificationCenter::defaultCenter();
    terminateObservation_ = center.addObserver(KZNotification::searchDidTerminate,
                                               platform::NotificationObject(static_cast<const void*>(this)),
                                               [this](const platform::Notification& n) { searchDidTerminate(n.userInfo); });
    resetObservation_ = center.addObserver(KZNotification::resetButtonDidClick,
                                           platform::NotificationObject(static_cast<const void*>(searchView_.data())),
                                           [this](const platform::Notification&) {
                                               platform::runOnMain([guard = QPointer<KZSearchWindowCntrl>(this)] {
                                                   if (guard)
                                                       guard->resetButtonDidClick();
                                               });
                                           });
    progressCntrl_ = progress;
    if (progressControl)
        *progressControl = progress;
    return outcome.request;
}

void KZSearchWindowCntrl::resetButtonDidClick()
{
    resetObservation_.cancel();
    progressCntrl_.reset();
    handOff_.reset();
}

void KZSearchWindowCntrl::searchDidTerminate(const QVariantMap& userInfo)
{
    QPointer<KZSearchWindowCntrl> guard(this);
    // A saved search that could not be read searched nothing; an empty or
    // short result must not pass for what it would have found.
    const QString skipped = KZSearchTermination::skippedSources(userInfo);
    if (KZSearchTermination::hasResult(userInfo)) {
        // Not waited for: the map carries the found list to the main thread,
        // and an engine thread blocked on the main thread would deadlock with
        // a controller that is being destroyed there and waits for this
        // delivery to return.
        platform::runOnMain([guard, userInfo, skipped] {
            if (!guard)
                return;
            guard->createResult(userInfo);
            if (!skipped.isEmpty() && !(guard->progressCntrl_ && guard->progressCntrl_->stoppedDueAnError()))
                KZErrorDelegate::sharedControl().showError(QStringLiteral("saved_search_not_searched"),
                                                           QStringLiteral("saved_search_not_searched_mess"), {skipped});
        });
    } else {
        // The engine's thread goes on at once; the main thread shows the
        // alert once the progress window is up, so it never stands in front
        // of an empty screen.
        platform::runOnMain([guard, userInfo] {
            if (!guard)
                return;
            auto tell = [guard, userInfo] {
                if (!guard)
                    return;
                const KZSearchTermination::NothingFoundAlert alert = KZSearchTermination::nothingFoundAlert(userInfo);
                KZErrorDelegate::sharedControl().showError(alert.error, alert.message, alert.names);
                Q_EMIT guard->searchEndHandled(0);
            };
            // A reopened result has no progress window to wait for: its
            // opening shows none, and waiting would only hold the news back.
            if (userInfo.value(KZResultKey::isRestoreOfSaved).toBool())
                tell();
            else
                guard->whenProgressWindowIsShown(std::move(tell));
        });
    }
    platform::runOnMain([guard, userInfo] {
        if (!guard)
            return;
        guard->terminateObservation_.cancel();
        if (!(guard->progressCntrl_ && guard->progressCntrl_->stoppedDueAnError())
            && KZSearchTermination::hasUserNotification(userInfo))
            guard->showUserNotification(userInfo);
    });
}

void KZSearchWindowCntrl::whenProgressWindowIsShown(std::function<void()> then, int attempts)
{
    const auto progress = progressCntrl_;
    // A window that never comes up (closed, or no screen) must not keep the
    // user from hearing the outcome: after about ten seconds it is told anyway.
    if (!progress || !progress->window() || progress->core().windowIsShown() || attempts >= 330) {
        then();
        return;
    }
    // A continuation on the main loop: check again shortly, never block.
    QTimer::singleShot(30, this, [this, then = std::move(then), attempts]() mutable {
        whenProgressWindowIsShown(std::move(then), attempts + 1);
    });
}

void KZSearchWindowCntrl::createResult(const QVariantMap& info)
{
    if (progressCntrl_ && progressCntrl_->stoppedDueAnError()) {
        // No model will take the list: free it now rather than with the
        // last copy of the info map, wherever that ends up.
        KZFoundList dropped = KZFoundListParcel::take(info.value(KZResultKey::foundItems));
        platform::logLine(QStringLiteral("search stopped by an error; its found items are dropped"));
        searchCntrl_.reset();
        return;
    }
    setupObservation_ = platform::NotificationCenter::defaultCenter().addObserver(
        KZNotification::resultSetupDidTerminate, platform::NotificationObject(platform::bundleIdentifier()),
        [guard = QPointer<KZSearchWindowCntrl>(this)](const platform::Notification&) {
            platform::runOnMain([guard] {
                if (!guard)
                    return;
                guard->setupObservation_.cancel();
                guard->searchCntrl_.reset();
            });
        });
    if (resultReceiver_) {
        resultReceiver_(info);
    } else {
        handOff_ = std::make_unique<KZResultModelHandOff>();
        handOff_->initializeResultWithInfo(info);
    }
    Q_EMIT searchEndHandled(KZSearchTermination::foundCount(info));
}

void KZSearchWindowCntrl::showUserNotification(const QVariantMap& info)
{
    const QString appName = QCoreApplication::applicationName().isEmpty() ? QStringLiteral("Maravex")
                                                                           : QCoreApplication::applicationName();
    const auto note = KZSearchTermination::userNotification(info, appName);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        platform::logLine(QStringLiteral("notification (no session bus): ") + KZSearchTermination::oneLine(note));
        return;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
                                                          QStringLiteral("/org/freedesktop/Notifications"),
                                                          QStringLiteral("org.freedesktop.Notifications"),
                                                          QStringLiteral("Notify"));
    const QString summary = note.subtitle.isEmpty() ? note.title : note.subtitle;
    message << appName << quint32(0) << QStringLiteral("system-search") << summary << note.body << QStringList()
            << QVariantMap() << qint32(-1);
    bus.asyncCall(message);
}
