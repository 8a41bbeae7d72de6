#include "app/ui/KZMaravexApp.h"

#include "app/KZCrashReporter.h"
#include "app/KZUpdater.h"
#include "app/search/KZSourcesCntrl.h"
#include "app/search/ui/KZSearchWindowCntrl.h"
#include "app/search/ui/KZSearchWindowLayout.h"
#include "preferences/KZURLOpener.h"
#include "preferences/ui/KZAboutCntrl.h"
#include "preferences/ui/KZAboutWindow.h"
#include "preferences/ui/KZSubscribe.h"
#include "preferences/ui/KZSubscribeWindow.h"
#include "preferences/ui/KZWelcomeCntrl.h"
#include "preferences/ui/KZWelcomeWindow.h"

#include "platform/NotificationCenter.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "services/KZErrorDelegate.h"
#include "services/KZSystemVersionNumber.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZDefaultsRegistry.h"
#include "settings/KZNotificationNames.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QFile>
#include <QMenu>
#include <QTimer>
#include <QUrl>
#include <QWidget>

namespace fs = std::filesystem;

namespace {

KZMaravexApp* g_delegate = nullptr;

QString text(const char* key)
{
    return platform::localizedString(QString::fromLatin1(key));
}

QAction* addTaggedAction(QMenu* menu, const char* key, const char* name, int tag)
{
    QAction* action = menu->addAction(text(key));
    action->setObjectName(QString::fromLatin1(name));
    action->setData(tag);
    return action;
}

} // namespace

KZMaravexApp::KZMaravexApp(QObject* parent) : QObject(parent)
{
    g_delegate = this;
}

KZMaravexApp::~KZMaravexApp()
{
    platform::NotificationCenter::defaultCenter().removeObserver(this);
    delete welcome_.data();
    delete about_.data();
    delete subscribe_.data();
    if (g_delegate == this)
        g_delegate = nullptr;
}

KZMaravexApp* KZMaravexApp::sharedDelegate()
{
    return g_delegate;
}

void KZMaravexApp::applicationWillFinishLaunching()
{
    start_ = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;

    const KZSearchWindowLayout layout = buildSearchWindowLayout(this);
    window_ = layout.window;
    windowCntrl_ = layout.windowCntrl;
    if (window_)
        window_->installEventFilter(this);
    if (windowCntrl_) {
        windowCntrl_->setResultReceiver([this](const QVariantMap& info) {
            KZResultWindowCntrl::Services services;
            services.aboutIsOpened = [this] { return aboutIsOpened_; };
            services.emptyFoldersSources = [](const QVariantList& folders) {
                return KZSourcesCntrl::sharedControl().emptyFoldersSourcesWithFolders(folders);
            };
            resultWindow_ = std::make_unique<KZResultWindowCntrl>(std::move(services));
            resultWindow_->initializeResultWithInfo(info);
        });
    }

    // Asked once, whether or not the search window could be built.
    crashReporter_ = std::make_unique<KZCrashReporter>(crashFolder_.value_or(KZCrashReporter::defaultFolder()));
    crashedLog_ = crashReporter_->checkForNewCrashes();
}

void KZMaravexApp::applicationDidFinishLaunching()
{
    KZDefaultsRegistry::setupDefaultsPreferences();
    KZSystemVersionNumber();

    platform::NotificationCenter::defaultCenter().addObserver(
        this, KZNotification::listSelectionDidChange, platform::bundleIdentifier(),
        [this](const platform::Notification& n) { listSelectionDidChange(n); });

    buildMenus();
    showFirstWindow();

    if (crashedLog_) {
        const fs::path log = *crashedLog_;
        crashedLog_.reset();
        // After the first window is up, so that the question has a context.
        QTimer::singleShot(0, this, [this, log] { offerCrashLog(log); });
    }
}

void KZMaravexApp::showFirstWindow()
{
    if (platform::UserDefaults::standard().boolForKey(KZDefaultsKey::is_first_run))
        showWelcome();
    else if (windowCntrl_)
        windowCntrl_->setTheWindow(window_);
}

void KZMaravexApp::applicationWillTerminate()
{
    if (crashReporter_)
        crashReporter_->endCleanly();
}

void KZMaravexApp::buildMenus()
{
    appMenu_ = std::make_unique<QMenu>();
    appMenu_->setObjectName(QStringLiteral("appMenu"));
    addTaggedAction(appMenu_.get(), "menu_about", "about", AboutTag);
    addTaggedAction(appMenu_.get(), "menu_newsletter", "newsletter", NewsletterTag);
    appMenu_->addSeparator();
    addTaggedAction(appMenu_.get(), "check_update", "checkUpdate", UpdateTag);
    appMenu_->addSeparator();
    helpMenu_ = appMenu_->addMenu(text("menu_help"));
    helpMenu_->setObjectName(QStringLiteral("helpMenu"));
    addTaggedAction(helpMenu_, "menu_welcome", "welcome", WelcomeTag);
    appMenu_->addSeparator();
    QAction* quit = appMenu_->addAction(text("menu_quit"));
    quit->setObjectName(QStringLiteral("quit"));
    quit->setShortcut(QKeySequence::Quit);
    connect(quit, &QAction::triggered, qApp, &QApplication::quit, Qt::QueuedConnection);
    // A shortcut works only on a widget that holds its action.
    if (window_)
        window_->addAction(quit);

    connect(appMenu_.get(), &QMenu::triggered, this, [this](QAction* action) {
        if (action->data().isValid() && action->menu() == nullptr && helpMenu_->actions().contains(action))
            helpMenuAction(action->data().toInt());
        else if (action->data().isValid())
            appMenuAction(action->data().toInt());
    });
    // While the About window is open every item waits, as the windows' own
    // menus do.
    auto validate = [this](QMenu* menu) {
        for (QAction* action : menu->actions())
            action->setEnabled(!aboutIsOpened_);
    };
    connect(appMenu_.get(), &QMenu::aboutToShow, this, [this, validate] { validate(appMenu_.get()); });
    connect(helpMenu_, &QMenu::aboutToShow, this, [this, validate] { validate(helpMenu_); });
}

bool KZMaravexApp::eventFilter(QObject* watched, QEvent* event)
{
    // The round search window has no menu bar; its context menu carries the
    // application's items.
    if (event->type() == QEvent::ContextMenu && watched == window_ && appMenu_) {
        appMenu_->popup(static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void KZMaravexApp::appMenuAction(int tag)
{
    switch (tag) {
    case AboutTag:
        openAboutWindow();
        break;
    case NewsletterTag:
        subscribeNewsletter();
        break;
    case UpdateTag:
        checkForUpdate();
        break;
    default:
        break;
    }
}

void KZMaravexApp::helpMenuAction(int tag)
{
    if (tag == WelcomeTag)
        showWelcome();
}

void KZMaravexApp::listSelectionDidChange(const platform::Notification& notification)
{
    selectedFileName_ = notification.userInfo.value(QStringLiteral("fileName")).toString();
    selectionCount_ = notification.userInfo.value(QStringLiteral("count")).toULongLong();
}

void KZMaravexApp::openAboutWindow()
{
    // One About window at a time: a second request brings it forward.
    if (about_) {
        if (QWidget* shown = about_->window()) {
            shown->raise();
            shown->activateWindow();
        }
        return;
    }
    platform::NotificationCenter::defaultCenter().addObserver(
        this, KZNotification::aboutDidClose, platform::NotificationObject(static_cast<const void*>(this)),
        [this](const platform::Notification&) { aboutDidClose(); });
    about_ = new KZAboutCntrl(this, this);
    aboutIsOpened_ = true;
}

void KZMaravexApp::aboutDidClose()
{
    if (about_)
        about_->deleteLater();
    about_ = nullptr;
    aboutIsOpened_ = false;
    platform::NotificationCenter::defaultCenter().removeObserver(this, KZNotification::aboutDidClose);
}

void KZMaravexApp::showWelcome()
{
    if (welcome_) {
        if (QWidget* shown = welcome_->window()) {
            shown->raise();
            shown->activateWindow();
        }
        return;
    }
    platform::NotificationCenter::defaultCenter().addObserver(
        this, KZNotification::welcomeDidClose, platform::NotificationObject(static_cast<const void*>(this)),
        [this](const platform::Notification&) { welcomeDidClose(); });
    welcome_ = new KZWelcomeCntrl(this, [this] { subscribeNewsletter(); }, this);
}

void KZMaravexApp::welcomeDidClose()
{
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    // Only the first welcome leads on to the search window; one opened from
    // the Help menu changes nothing.
    if (defaults.boolForKey(KZDefaultsKey::is_first_run)) {
        if (windowCntrl_)
            windowCntrl_->setTheWindow(window_);
        defaults.setValue(KZDefaultsKey::is_first_run, false);
    }
    platform::NotificationCenter::defaultCenter().removeObserver(this, KZNotification::welcomeDidClose);
    if (welcome_)
        welcome_->deleteLater();
    welcome_ = nullptr;
}

void KZMaravexApp::subscribeNewsletter()
{
    if (subscribe_) {
        if (QWidget* shown = subscribe_->window()) {
            shown->raise();
            shown->activateWindow();
        }
        return;
    }
    platform::NotificationCenter::defaultCenter().addObserver(
        this, KZNotification::newsletterDidClose, platform::NotificationObject(static_cast<const void*>(this)),
        [this](const platform::Notification&) { newsletterDidClose(); });
    subscribe_ = new KZSubscribe(this, this);
}

void KZMaravexApp::newsletterDidClose()
{
    platform::NotificationCenter::defaultCenter().removeObserver(this, KZNotification::newsletterDidClose);
    if (subscribe_)
        subscribe_->deleteLater();
    subscribe_ = nullptr;
}

void KZMaravexApp::checkForUpdate()
{
    QTimer::singleShot(0, this, [] { KZUpdater::sharedUpdater().checkForUpdates(); });
}

void KZMaravexApp::addSourcesService()
{
    QApplication::beep();
}

void KZMaravexApp::openFiles(const std::vector<fs::path>& paths)
{
    foldersToAdd_.insert(foldersToAdd_.end(), paths.begin(), paths.end());
    // The program is already running: bring its front window to the user.
    QWidget* front = QApplication::activeWindow();
    if (!front && window_ && window_->isVisible())
        front = window_;
    if (front) {
        front->raise();
        front->activateWindow();
    }
}

void KZMaravexApp::offerCrashLog(const fs::path& log)
{
    const qint64 answer = KZErrorDelegate::sharedControl().askToTheUser(
        QStringLiteral("crash_found"), QStringLiteral("crash_found_info"), {}, QStringLiteral("crash_show_log_button"),
        QStringLiteral("dont_continue_button"), QString(), false, nullptr, false);
    if (answer == KZErrorDelegate::FirstButton)
        KZOpenURL(QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(log.native()))));
}
