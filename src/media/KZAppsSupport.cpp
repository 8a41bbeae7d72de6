#include "media/KZAppsSupport.h"

#include "media/KZApplescript.h"
#include "platform/NotificationCenter.h"
#include "platform/ScriptRunner.h"
#include "platform/SharedInstance.h"
#include "platform/StringTable.h"
#include "services/KZErrorDelegate.h"
#include "services/KZFilesUtilities.h"
#include "services/KZSearchInProgress.h"
#include "settings/KZNotificationNames.h"

#include <condition_variable>

using platform::ProcessEvent;

namespace {

platform::SharedInstance<KZAppsSupport>& instance()
{
    static platform::SharedInstance<KZAppsSupport> shared(
        []() -> std::unique_ptr<KZAppsSupport> { return std::make_unique<KZAppsSupport>(); });
    return shared;
}

const QString kAppWasOpened = QStringLiteral("appWasOpened");
const QString kAppWasClosed = QStringLiteral("appWasClosed");

} // namespace

KZAppsSupport& KZAppsSupport::sharedControl()
{
    return instance().get();
}

void KZAppsSupport::setSharedControl(std::unique_ptr<KZAppsSupport> guard)
{
    instance().replace(std::move(guard));
}

KZAppsSupport::KZAppsSupport(platform::ProcessWatcher* watcher) : watcher_(watcher) {}

KZAppsSupport::~KZAppsSupport()
{
    removeObservers();
    reactions_.waitUntilAllOperationsAreFinished();
}

platform::ProcessWatcher& KZAppsSupport::watcher() const
{
    return watcher_ ? *watcher_ : platform::ProcessWatcher::shared();
}

// ---- The watch ---------------------------------------------------------------------------------

void KZAppsSupport::addObservers()
{
    std::lock_guard lock(watchMutex_);
    if (watch_.isActive())
        return;
    watch_ = watcher().observe([this](const ProcessEvent& event) {
        // A question waits for the user; the watcher's thread must not.
        reactions_.addOperation([this, event] {
            if (event.kind == ProcessEvent::Kind::Launched)
                appLaunched(event);
            else
                appTerminated(event);
        });
    });
}

void KZAppsSupport::removeObservers()
{
    platform::Subscription ended;
    {
        std::lock_guard lock(watchMutex_);
        ended = std::move(watch_);
    }
    ended.cancel();
}

bool KZAppsSupport::isObserving() const
{
    std::lock_guard lock(watchMutex_);
    return watch_.isActive();
}

void KZAppsSupport::waitForWatchReactions()
{
    reactions_.waitUntilAllOperationsAreFinished();
}

bool KZAppsSupport::isAnSupportedAppWithIdentifier(const QString& identifier) const
{
    if (identifier.isEmpty())
        return false;
    if (photosIsInSource_.load() && identifier == photosIdentifier)
        return true;
    return iTunesIsInSource_.load() && identifier == iTunesIdentifier;
}

void KZAppsSupport::appLaunched(const ProcessEvent& event)
{
    watchEvent(event, true);
}

void KZAppsSupport::appTerminated(const ProcessEvent& event)
{
    watchEvent(event, false);
}

QString KZAppsSupport::displayName(const QString& identifier, const QString& fallback) const
{
    QString name = KZFilesUtilities::sharedControl().appNameWithIdentifier(identifier);
    if (name.isEmpty())
        name = fallback;
    return name.isEmpty() ? identifier : name;
}

void KZAppsSupport::watchEvent(const ProcessEvent& event, bool launched)
{
    if (!isAnSupportedAppWithIdentifier(event.identifier))
        return;
    // One question or error at a time: a second launch or quit while one is
    // on screen is passed over.
    if (alertIsShowed_.exchange(true))
        return;
    const QString name = displayName(event.identifier, event.name);
    auto& alerts = KZErrorDelegate::sharedControl();
    auto& center = platform::NotificationCenter::defaultCenter();
    if (!KZIsSearchInProgress()) {
        const qint64 answer = alerts.askToTheUser(
            launched ? QStringLiteral("app_opened_by_user_ask_to_continue")
                     : QStringLiteral("app_closed_by_user_ask_to_continue"),
            QString(), {name, name}, platform::localizedString(QStringLiteral("continue_button")),
            platform::localizedString(QStringLiteral("dont_continue_button")), QString(), false, nullptr, true);
        alertIsShowed_.store(false);
        center.post(launched ? kAppWasOpened : kAppWasClosed, platform::bundleIdentifier(),
                    {{QStringLiteral("NSApplicationBundleIdentifier"), event.identifier},
                     {QStringLiteral("continue"), answer == KZErrorDelegate::FirstButton}});
        return;
    }
    removeObservers();
    alerts.showError(launched ? QStringLiteral("app_opened_by_user") : QStringLiteral("app_closed_by_user"), QString(),
                     {name, name});
    center.post(KZNotification::stopSearchingDueError, platform::bundleIdentifier());
    alertIsShowed_.store(false);
}

// ---- Asking and managing -----------------------------------------------------------------------

bool KZAppsSupport::askToManageAppWithIndentifier(const QString& identifier, const QVariantMap& manageOptions)
{
    const bool photos = identifier == photosIdentifier;
    std::atomic<bool>& wasAsked = photos ? managePhotosWasAsked_ : manageiTunesWasAsked_;
    if (wasAsked.load()) {
        manageAppWithDict(manageOptions);
        return true;
    }
    // Nothing can quit or open the application here, so its leave would be
    // asked for nothing: the library is searched from its files, and the
    // question waits for a run in which the application can be reached.
    if (!platform::ScriptRunner::shared().canReachApplications()) {
        (photos ? photosIsInSource_ : iTunesIsInSource_).store(true);
        return true;
    }
    const qint64 answer = KZErrorDelegate::sharedControl().askToTheUserWithView(
        photos ? QStringLiteral("manage_photos_app") : QStringLiteral("manage_iTunes_app"),
        QStringLiteral("manage_app_msg"), {}, platform::localizedString(QStringLiteral("allow_button")),
        platform::localizedString(QStringLiteral("dont_allow_button")), QString(),
        photos ? QStringLiteral("ask_close_photos") : QStringLiteral("ask_close_iTunes"), false);
    const bool allowed = answer == KZErrorDelegate::FirstButton;
    // A refused library leaves the sources, so the watch must not react to
    // its application; the question comes again at the next search.
    if (allowed) {
        wasAsked.store(true);
        (photos ? photosIsInSource_ : iTunesIsInSource_).store(true);
    }
    return allowed;
}

void KZAppsSupport::quitAndWait(const QString& appName, const QString& identifier)
{
    // The answer of the script is not used; only whether it could be sent.
    if (KZApplescript::sharedControl().runQuitApp(appName).status != platform::ScriptResult::Status::NotAvailable)
        waitUntilAppIsClosed(identifier);
}

bool KZAppsSupport::manageAppWithDict(const QVariantMap& manageOptions)
{
    const QString path = manageOptions.value(pathKey).toString();
    const QString appName = manageOptions.value(appNameKey).toString();
    const QString identifier = manageOptions.value(identifierKey).toString();
    // The music library is read from its export file: nothing to quit or open.
    if (identifier == iTunesIdentifier) {
        iTunesIsInSource_.store(true);
        return false;
    }
    const bool photos = identifier == photosIdentifier;
    // The quits and launches that follow are ours, not the user's.
    if (photos)
        photosIsInSource_.store(false);
    if (manageOptions.value(closeFirstKey).toBool())
        quitAndWait(appName, identifier);
    const auto opened = platform::ScriptRunner::shared().openWithApplication(path, appName);
    const bool reached = opened.status != platform::ScriptResult::Status::NotAvailable;
    if (reached) {
        waitUntilAppIsOpened(identifier);
        if (manageOptions.value(closeAgainKey).toBool())
            quitAndWait(appName, identifier);
    }
    if (photos)
        photosIsInSource_.store(true);
    return reached;
}

bool KZAppsSupport::reopenPhotosOnLibrary(const QString& library)
{
    const bool wasWatching = isObserving();
    removeObservers();
    const bool reached = manageAppWithDict({{pathKey, library},
                                            {appNameKey, displayName(photosIdentifier, QStringLiteral("Photos"))},
                                            {identifierKey, photosIdentifier},
                                            {closeFirstKey, true},
                                            {closeAgainKey, false}});
    if (wasWatching)
        addObservers();
    return reached;
}

// ---- Waits -------------------------------------------------------------------------------------

namespace {

// One wait: its own subscription to the watcher, a flag and a condition.
struct Wait {
    std::mutex mutex;
    std::condition_variable condition;
    bool done = false;

    void finish()
    {
        {
            std::lock_guard lock(mutex);
            done = true;
        }
        condition.notify_all();
    }
    bool until(std::chrono::steady_clock::time_point deadline)
    {
        std::unique_lock lock(mutex);
        return condition.wait_until(lock, deadline, [this] { return done; });
    }
};

} // namespace

bool KZAppsSupport::waitFor(const QString& identifier, bool closing)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitLimitMs_.load());
    auto wait = std::make_shared<Wait>();
    platform::ProcessWatcher& processes = watcher();
    const auto kind = closing ? ProcessEvent::Kind::Terminated : ProcessEvent::Kind::Launched;
    // An application may run as several processes: a wait for the quit
    // ends with the last of them.
    auto reached = [&processes, identifier, closing] { return processes.isRunning(identifier) != closing; };
    platform::Subscription subscription = processes.observe([wait, identifier, kind, reached](const ProcessEvent& event) {
        if (event.kind == kind && event.identifier == identifier && reached())
            wait->finish();
    });
    // Already there before the subscription began.
    if (reached())
        wait->finish();
    const bool done = wait->until(deadline);
    subscription.cancel();
    if (!done)
        showAbortedErrorForClosed(closing, identifier);
    return done;
}

bool KZAppsSupport::waitUntilAppIsOpened(const QString& identifier)
{
    return waitFor(identifier, false);
}

bool KZAppsSupport::waitUntilAppIsClosed(const QString& identifier)
{
    return waitFor(identifier, true);
}

void KZAppsSupport::showAbortedErrorForClosed(bool closing, const QString& identifier)
{
    const QString name = displayName(photosIdentifier, QStringLiteral("Photos"));
    Q_UNUSED(identifier);
    KZErrorDelegate::sharedControl().showError(closing ? QStringLiteral("supported_app_aborted_closing")
                                                       : QStringLiteral("supported_app_aborted_opening"),
                                               QString(), {name, name});
}
