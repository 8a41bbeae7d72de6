#include "app/ui/KZMaravexApp.h"
#include "app/ui/KZOpenSavedResult.h"
#include "app/ui/KZWindowFlipAnimator.h"
#include "platform/Clock.h"
#include "platform/MainThread.h"
#include "platform/MallocArenas.h"
#include "platform/Paths.h"
#include "platform/Trash.h"
#include "removal/KZRemove.h"
#include "removal/KZRestoreList.h"
#include "removal/KZRestoreRemovedFiles.h"
#include "removal/ui/KZRestoreProgressWindow.h"
#include "removal/ui/KZRestoreWindowCntrl.h"
#include "services/KZFileDialogPresenter.h"

#include "app/KZCrashReporter.h"
#include "app/KZNewSearchRouting.h"
#include "app/search/KZMusicLibraryReading.h"
#include "app/progress/KZSearchProgressCore.h"
#include "app/progress/ui/KZSearchProgress.h"
#include "app/progress/ui/KZSearchProgressWindow.h"
#include "app/ui/KZQuitPolicy.h"
#include "app/ui/KZResultWindowRouting.h"
#include "app/ui/KZWindowTransitionAnimator.h"
#include "app/KZUpdater.h"
#include "app/search/KZSourcesCntrl.h"
#include "app/search/ui/KZSearchWindowCntrl.h"
#include "app/search/ui/KZSearchWindowLayout.h"
#include "media/KZiTunesSupport.h"
#include "result/model/KZLibraryLookups.h"
#include "result/window/KZFoundItemPreviewFacts.h"
#include "preferences/KZURLOpener.h"
#include "preferences/ui/KZAboutCntrl.h"
#include "preferences/ui/KZAboutWindow.h"
#include "preferences/ui/KZPreferencesWindow.h"
#include "preferences/ui/KZSubscribe.h"
#include "preferences/ui/KZSubscribeWindow.h"
#include "preferences/ui/KZUnsentMailDialog.h"
#include "preferences/ui/KZWelcomeCntrl.h"
#include "preferences/ui/KZWelcomeWindow.h"

#include "platform/NotificationCenter.h"
#include "platform/Packages.h"
#include "platform/Resources.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "preferences/KZPreferencesWindowOpen.h"
#include "services/KZErrorDelegate.h"
#include "services/KZFilesUtilities.h"
#include "services/KZSearchInProgress.h"
#include "services/KZSystemVersionNumber.h"
#include "services/ui/KZMenuSet.h"
#include "services/ui/KZWindowPlacement.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZDefaultsRegistry.h"
#include "settings/KZNotificationNames.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFile>
#include <QDateTime>
#include <QGuiApplication>
#include <QMenu>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <QWindow>

#include <functional>
#include <utility>

#include <utility>

namespace fs = std::filesystem;

namespace {

KZMaravexApp* g_delegate = nullptr;

QString text(const char* key)
{
    return platform::localizedString(QString::fromLatin1(key));
}

} // namespace

// The result window as New Search reaches it: it zooms back into the
// progress window, whose end the routing waits for.
class KZMaravexApp::ResultRouting : public KZResultWindowRouting {
public:
    ResultRouting(KZMaravexApp& app, KZResultWindowCntrl* cntrl) : app_(app), cntrl_(cntrl) {}

    QWidget* window() const override { return cntrl_; }
    bool isRemoving() const override { return cntrl_ && cntrl_->isRemoving(); }
    void newSearch() override
    {
        KZSearchProgressWindow* progress = app_.progressWindow();
        QWidget* search = app_.window_;
        KZSearchView* view = app_.windowCntrl_ ? app_.windowCntrl_->searchView() : nullptr;
        if (cntrl_ && !progress && search && view) {
            // Asked once the menu item that chose it has returned, as the
            // progress window asks once the result window has gone.
            QTimer::singleShot(0, cntrl_.data(), [&app = app_, self = this] {
                if (app.resultRouting_.get() == self)
                    self->leaveReopenedResult();
            });
            return;
        }
        // Posted to the window first, which takes its preview panel away
        // before the transition starts.
        platform::NotificationCenter::defaultCenter().post(KZNotification::newSearch, notificationObject());
        if (!cntrl_ || !progress) {
            // Nothing to zoom back into: the routing must not wait forever.
            if (cntrl_)
                cntrl_->hide();
            platform::NotificationCenter::defaultCenter().post(KZNotification::newSearchResultTerminated,
                                                               platform::bundleIdentifier(),
                                                               {{QStringLiteral("direction"), 1}});
            return;
        }
        KZWindowTransitionAnimator::sharedControl().transitionFromWindow(
            cntrl_, progress, KZWindowTransitionAnimator::Closing, progress->mainView());
    }

    // The result window's back button: back to the progress window the
    // result came from, which keeps it for its Show Result; nothing is asked
    // and nothing goes; a reopened result's too, which came up from one.
    // Without such a window to come back to, leaving is Search Again, which
    // asks before it goes.
    void goBack()
    {
        KZSearchProgressWindow* progress = app_.progressWindow();
        if (!cntrl_)
            return;
        if (!progress) {
            app_.searchAgainAction();
            return;
        }
        KZWindowTransitionAnimator::sharedControl().transitionFromWindow(
            cntrl_, progress, KZWindowTransitionAnimator::Closing, progress->mainView());
    }

private:
    platform::NotificationObject notificationObject() const
    {
        return cntrl_ ? platform::NotificationObject(cntrl_->notificationObject())
                      : platform::NotificationObject(static_cast<const void*>(this));
    }

    // A result with no progress window behind it: once the user agreed to
    // lose it, it zooms back into the search window that holds its sources;
    // else the walk back ends here.
    void leaveReopenedResult()
    {
        QWidget* search = app_.window_;
        KZSearchView* view = app_.windowCntrl_ ? app_.windowCntrl_->searchView() : nullptr;
        if (!cntrl_ || !search || !view || !mayLoseReopenedResult()) {
            if (app_.routing_)
                app_.routing_->resultWindowStays();
            return;
        }
        platform::NotificationCenter::defaultCenter().post(KZNotification::newSearch, notificationObject());
        KZWindowTransitionAnimator::sharedControl().transitionFromWindow(cntrl_, search,
                                                                         KZWindowTransitionAnimator::Closing, view);
    }

    // The question the progress window asks before a search's result goes,
    // asked by the result's windowless progress controller; not
    // asked again when the user agreed already (a saved result replacing it).
    bool mayLoseReopenedResult() const
    {
        const std::shared_ptr<KZSearchProgress> asking = app_.windowCntrl_ ? app_.windowCntrl_->progressCntrl() : nullptr;
        if (!asking)
            return true;
        const bool agreed = app_.routing_ && app_.routing_->waitsToOpen();
        return asking->core().resetAction(!agreed);
    }

    KZMaravexApp& app_;
    QPointer<KZResultWindowCntrl> cntrl_;
};

KZSearchProgressWindow* KZMaravexApp::progressWindow() const
{
    if (!windowCntrl_ || !windowCntrl_->progressCntrl())
        return nullptr;
    return windowCntrl_->progressCntrl()->progressWindow();
}

// The three main windows as the routing sees them.
class KZMaravexApp::RoutingHost : public KZRoutingHost {
public:
    explicit RoutingHost(KZMaravexApp& app) : app_(app) {}

    KZResultWindowRouting* result() const
    {
        QWidget* key = keyWindow();
        return key && app_.resultLookup_ ? app_.resultLookup_(key) : nullptr;
    }
    KZSearchProgress* progress() const
    {
        if (!app_.windowCntrl_)
            return nullptr;
        const auto& progress = app_.windowCntrl_->progressCntrl();
        return progress ? progress.get() : nullptr;
    }

    Front kindOf(QWidget* window) const
    {
        if (app_.windowCntrl_ && window == app_.windowCntrl_->window())
            return Front::Search;
        if (KZSearchProgress* p = progress(); p && window == p->window())
            return Front::Progress;
        if (app_.resultLookup_ && app_.resultLookup_(window))
            return Front::Result;
        return Front::Other;
    }

    // The key window; while another program is active (folders handed over
    // from a file manager), the one main window on screen stands for it, so
    // that the hand-over is not left waiting.
    QWidget* keyWindow() const
    {
        // A window just hidden by a transition may still be reported active
        // until the window system confirms the next one; it is no longer key.
        if (QWidget* key = QApplication::activeWindow(); key && key->isVisible())
            return key;
        return mainWindowOnScreen();
    }
    // The one main window on screen (search, progress or result), if one.
    QWidget* mainWindowOnScreen() const
    {
        QWidget* shown = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && kindOf(w) != Front::Other) {
                if (shown)
                    return nullptr;
                shown = w;
            }
        }
        return shown;
    }

    Front front() const override
    {
        QWidget* key = keyWindow();
        return key ? kindOf(key) : Front::None;
    }
    Front shownMainWindow() const override
    {
        QWidget* shown = mainWindowOnScreen();
        return shown ? kindOf(shown) : Front::None;
    }
    bool progressIsSearching() const override
    {
        KZSearchProgress* p = progress();
        return p && p->isSearching();
    }
    bool resultIsRemoving() const override
    {
        KZResultWindowRouting* r = result();
        return r && r->isRemoving();
    }
    bool removalIsUnderWay() const override
    {
        return (app_.resultWindow_ && app_.resultWindow_->isRemoving()) || KZRemove::isRemovalRunning();
    }
    void refuseWhileRemoving(const std::vector<fs::path>& notOpened) override
    {
        // Over the removal's window, so that the user sees why.
        if (KZResultWindowCntrl* result = app_.resultWindow_.get(); result && result->isVisible()) {
            result->raise();
            result->activateWindow();
        }
        KZErrorDelegate& alerts = KZErrorDelegate::sharedControl();
        if (notOpened.empty()) {
            // What Close of that window says, with the same don't-show-again.
            alerts.showMessagePanelWithView(QStringLiteral("close_result_window_while_removing"), QString(), {},
                                            KZDefaultsKey::ask_result_removing_while_removing, false);
            return;
        }
        QStringList names;
        for (const fs::path& path : notOpened)
            names.append(platform::pathText(path));
        alerts.showError(QStringLiteral("not_opened_while_removing"), QStringLiteral("open_after_removal"),
                         {KZErrorDelegate::listOfNames(names)});
    }
    bool searchHasSources() const override
    {
        KZSearchView* view = app_.windowCntrl_ ? app_.windowCntrl_->searchView() : nullptr;
        return !view || !view->sourcesCntrl().sources().empty();
    }
    void postNewSearchToResult() override
    {
        if (KZResultWindowRouting* r = result())
            r->newSearch();
    }
    void postNewSearchToProgress() override
    {
        // An opening waits for this walk: its question was the only one.
        const bool agreed = app_.routing_ && app_.routing_->waitsToOpen();
        if (KZSearchProgress* p = progress())
            platform::NotificationCenter::defaultCenter().post(
                KZNotification::newSearch, platform::NotificationObject(static_cast<const void*>(p)),
                {{QStringLiteral("resultLossAgreed"), agreed}});
    }
    void postNewSearchToSearchView() override
    {
        if (KZSearchView* view = app_.windowCntrl_ ? app_.windowCntrl_->searchView() : nullptr)
            platform::NotificationCenter::defaultCenter().post(
                KZNotification::newSearch, platform::NotificationObject(static_cast<const void*>(view)));
    }
    void addFolders(const std::vector<fs::path>& folders) override
    {
        if (app_.windowCntrl_)
            app_.windowCntrl_->addFolders(folders);
    }
    bool isFolder(const fs::path& path) const override
    {
        // A link to a folder is that folder, as a drop on the search window
        // or the + panel takes it; the source keeps the path as given.
        const fs::path real = platform::linkFreePath(path, true);
        const KZFilesUtilities& files = KZFilesUtilities::sharedControl();
        return !real.empty() && files.isDirectoryWithURL(real) && !files.isPackageWithURL(real);
    }
    void refuseNotFolders(const std::vector<fs::path>& notTaken) override
    {
        QStringList lines;
        for (const fs::path& path : notTaken)
            lines.append(KZErrorDelegate::replaceContentOfString(text(notTakenReason(path)), {platform::pathText(path)}));
        // Once the hand-over is done and the window it went to is in front.
        QTimer::singleShot(0, &app_, [lines] {
            KZErrorDelegate::sharedControl().showError(QStringLiteral("not_opened_not_folders"),
                                                       QStringLiteral("not_opened_not_folders_info"),
                                                       {KZErrorDelegate::listOfNames(lines)});
        });
    }
    static const char* notTakenReason(const fs::path& path)
    {
        const fs::path real = platform::linkFreePath(path, true);
        const KZFilesUtilities& files = KZFilesUtilities::sharedControl();
        std::error_code ec;
        if (real.empty() || !fs::exists(real, ec))
            return "not_taken_missing";
        if (files.isDirectoryWithURL(real)) {
            if (platform::nameExtension(real) == QLatin1String("photoslibrary"))
                return "not_taken_photo_library";
            return "not_taken_package";
        }
        if (path.extension() == ".maravex")
            return "not_taken_saved_result";
        return "not_taken_file";
    }
    bool clearKeyIsDown() const override
    {
        return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::AltModifier);
    }
    qint64 askToReplaceResult() override
    {
        return KZErrorDelegate::sharedControl().askToTheUserWithView(
            QStringLiteral("ask_open_file"), QStringLiteral("losing_result_msg"), {}, text("continue_button"),
            text("dont_continue_button"), QString(), QStringLiteral("show_open_saved_file"), false);
    }
    bool savedResultCanOpen(const fs::path& file) override
    {
        // Read aside: a large file takes seconds, and the windows must not
        // freeze meanwhile.
        std::shared_ptr<KZOpenSavedResult::Read> read = KZOpenSavedResult::readFileAside(file);
        if (const std::optional<QString> failure = KZOpenSavedResult::failureOf(*read)) {
            KZErrorDelegate::sharedControl().showError(QStringLiteral("result_not_opened"), {}, {*failure});
            return false;
        }
        // The opening that follows takes this reading instead of a second one.
        app_.checkedSavedResult_ = std::move(read);
        return true;
    }
    void savedResultDeclined(const fs::path&) override
    {
        // A large result is hundreds of megabytes: given back to the system,
        // not kept by the allocator for later.
        app_.checkedSavedResult_.reset();
        platform::releaseFreeMemory();
    }
    void openSavedResult(const fs::path& file) override { app_.openSavedResult(file); }
    double now() const override { return platform::Clock::shared().now(); }
    void runAfter(double seconds, std::function<void()> work) override
    {
        platform::Clock::shared().runAfter(seconds, &app_, [&app = app_, work = std::move(work)] {
            work();
            // An opening that came due behind another window waits for a
            // main window as a hand-over does.
            app.followWaitingHandOver();
        });
    }

private:
    KZMaravexApp& app_;
};

KZMaravexApp::KZMaravexApp(QObject* parent) : QObject(parent)
{
    g_delegate = this;
    routingHost_ = std::make_unique<RoutingHost>(*this);
    routing_ = std::make_unique<KZNewSearchRouting>(*routingHost_, 0);
    // Folders handed over while another window was in front wait for a main
    // window; they are handed on once the change of window has settled (a
    // window that closes may leave no focus window for a moment).
    connect(qApp, &QGuiApplication::focusWindowChanged, this, &KZMaravexApp::frontMayHaveChanged);
}

namespace {

// Tells of every window that hides while it is installed: a window that
// closes may leave no window with the focus, and then no change of focus
// says that the front has changed.
class WindowHideWatcher : public QObject {
public:
    WindowHideWatcher(std::function<void()> hidden, QObject* parent) : QObject(parent), hidden_(std::move(hidden))
    {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Hide && watched->isWidgetType() && static_cast<QWidget*>(watched)->isWindow())
            hidden_();
        return false;
    }

private:
    std::function<void()> hidden_;
};

} // namespace

void KZMaravexApp::frontMayHaveChanged()
{
    if (!routing_ || !routing_->waitsForFront()) {
        watchWindowsWhileFoldersWait();
        return;
    }
    // Once the change has settled: a window just hidden may still be the
    // active one for a moment.
    QTimer::singleShot(0, this, [this] {
        if (!routing_)
            return;
        routing_->frontChanged();
        // An answered alert may hand the front to Preferences rather than to
        // the main window the folders wait for.
        if (QWidget* main = mainWindowForWaitingFolders()) {
            main->raise();
            main->activateWindow();
        }
        watchWindowsWhileFoldersWait();
    });
}

void KZMaravexApp::watchWindowsWhileFoldersWait()
{
    const bool waits = routing_ && routing_->waitsForFront();
    if (waits && !hideWatcher_)
        hideWatcher_ = new WindowHideWatcher([this] { frontMayHaveChanged(); }, this);
    else if (!waits && hideWatcher_)
        std::exchange(hideWatcher_, nullptr)->deleteLater(); // maybe from inside its own filter
}

KZMaravexApp::~KZMaravexApp()
{
    platform::NotificationCenter::defaultCenter().removeObserver(this);
    routing_.reset();
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
    start_ = routingHost_->now();
    routing_ = std::make_unique<KZNewSearchRouting>(*routingHost_, start_);
    setResultWindowLookup([this](QWidget* window) -> KZResultWindowRouting* {
        return resultRouting_ && window && window == resultRouting_->window() ? resultRouting_.get() : nullptr;
    });

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
            services.undoMove = [](const QVariant& undoDict) {
                if (undoDict.canConvert<KZUndoDict>())
                    KZRestoreProgressWindow::undoWithProgress(KZRestoreRemovedFiles::sharedControl(),
                                                              undoDict.value<KZUndoDict>());
            };
            services.goBack = [this] {
                if (resultRouting_)
                    resultRouting_->goBack();
            };
            services.present = [this](QWidget* result) {
                KZSearchProgressWindow* progress = progressWindow();
                if (!progress || !progress->isVisible()) {
                    KZWindowPlacement::centre(result);
                    result->show();
                    result->raise();
                    result->activateWindow();
                    return;
                }
                KZWindowTransitionAnimator::sharedControl().transitionFromWindow(
                    progress, result, KZWindowTransitionAnimator::Opening, progress->mainView());
            };
            resultRouting_.reset();
            resultWindow_ = std::make_unique<KZResultWindowCntrl>(std::move(services));
            resultRouting_ = std::make_unique<ResultRouting>(*this, resultWindow_.get());
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
    // The music library's media folder is left out of searches that do not
    // search the library itself.
    KZiTunesSupport::installMediaFolderProvider();
    // Found library items show their library's tags and positions, and the
    // preview shows what the found pictures and songs know of themselves.
    KZLibraryLookups::install(KZLibraryLookups::fromReaders());
    static KZFoundItemPreviewFacts previewFacts(KZPreviewFacts::shared());
    KZPreviewFacts::setShared(&previewFacts);
    KZiTunesSupport::followLibraryChanges();

    platform::NotificationCenter::defaultCenter().addObserver(
        this, KZNotification::listSelectionDidChange, platform::bundleIdentifier(),
        [this](const platform::Notification& n) { listSelectionDidChange(n); });
    platform::NotificationCenter::defaultCenter().addObserver(
        this, QStringLiteral("quickLookWindowVisibilityWillChange"), platform::bundleIdentifier(),
        [this](const platform::Notification& n) {
            setQuickLookPanelIsVisible(n.userInfo.value(QStringLiteral("isVisible")).toBool());
        });

    buildMenus();
    showFirstWindow();
    // A removal killed part-way left its items in the Trash with only a
    // journal naming them: they are made restorable again.
    KZRestoreRemovedFiles::sharedControl().recoverInterruptedRemovals(platform::homeTrashDirectory());

    // Damaged settings start afresh, which looks like a first run: the user
    // is told why, once, after the first window is up.
    if (std::optional<platform::UserDefaults::Reset> reset = platform::UserDefaults::standard().takeReset()) {
        QTimer::singleShot(0, this, [reset = *reset] {
            if (reset.movedTo.empty())
                KZErrorDelegate::sharedControl().showError(QStringLiteral("settings_reset_not_kept"),
                                                           QStringLiteral("settings_reset_mess"));
            else
                KZErrorDelegate::sharedControl().showError(QStringLiteral("settings_reset"),
                                                           QStringLiteral("settings_reset_mess"),
                                                           {platform::pathText(reset.movedTo)});
        });
    }

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
    // One set of menus for every window; this delegate answers the items it
    // owns (the result window answers Save and the Result menu).
    using Set = KZMenuSet;
    auto on = [this](Set::Menu menu, int tag, std::function<void()> handler) {
        Set::setHandler(menu, tag, std::move(handler), this);
    };
    on(Set::File, Set::NewSearchTag, [this] { newSearchAction(); });
    on(Set::File, Set::SearchAgainTag, [this] { searchAgainAction(); });
    on(Set::File, Set::OpenSavedTag, [this] { openSavedAction(); });
    on(Set::File, Set::CloseTag, [this] { closeActiveWindow(); });
    // Windows without undo of their own: Ctrl+Z reaches the inert undo.
    on(Set::Edit, Set::UndoTag, [this] { fakeUndo(); });
    on(Set::Edit, Set::RestoreTag, [this] { restorePersistentAction(); });
    for (int tag : {Set::AboutTag, Set::TellFriendTag, Set::NewsletterTag, Set::PreferencesTag, Set::UpdateTag})
        on(Set::App, tag, [this, tag] { appMenuAction(tag); });
    on(Set::App, Set::QuitTag, [this] { quitAction(); });
    for (int tag : {Set::ManualTag, Set::WelcomeTag, Set::MoreProductsTag, Set::ContactTag})
        on(Set::Help, tag, [this, tag] { helpMenuAction(tag); });
    Set::setValidator([this](const QAction* item) { return validateMenuItem(item); }, this);
    Set::setMenuWillShow(
        [this](Set::Menu role, QMenu* menu) {
            if (role == Set::File)
                menuNeedsUpdate(menu);
        },
        this);
    if (window_)
        Set::shared().attachShortcuts(window_);
}

QMenu* KZMaravexApp::appMenu() const
{
    return KZMenuSet::shared().popupMenu();
}

QMenu* KZMaravexApp::fileMenu() const
{
    return KZMenuSet::shared().submenu(KZMenuSet::File);
}

QMenu* KZMaravexApp::helpMenu() const
{
    return KZMenuSet::shared().submenu(KZMenuSet::Help);
}

QAction* KZMaravexApp::closeMenuItem() const
{
    return KZMenuSet::shared().item(KZMenuSet::File, KZMenuSet::CloseTag);
}

void KZMaravexApp::quitAction()
{
    // A removal under way cannot be cut short: the result window says so.
    // Once its panel shows the final card nothing moves any more.
    if (resultWindow_ && resultWindow_->isVisible() && resultWindow_->removalRefusesQuit()) {
        resultWindow_->close();
        return;
    }
    // A reading of the music library would start its search once it ends:
    // it is stopped as its Stop stops it, nothing of it kept, no search.
    if (windowCntrl_)
        if (KZMusicLibraryReading* reading = windowCntrl_->musicLibraryReading(); reading && reading->isRunning())
            reading->stop();
    // Quitting asks nothing: closing each window would ask about the result.
    exit_(0);
}

void KZMaravexApp::closeActiveWindow()
{
    QWidget* key = QApplication::activeWindow();
    // The round windows close through their own action, but only while they
    // are the window in front; any other window is closed as it is.
    if (!closeUsesWindow_ && closeAction_ && (!closeOwner_ || closeOwner_ == key)) {
        const std::function<void()> action = closeAction_;
        action();
    } else if (key) {
        key->close();
    }
}

bool KZMaravexApp::eventFilter(QObject* watched, QEvent* event)
{
    // The round search window has no menu bar; its context menu carries the
    // application's items.
    if (event->type() == QEvent::ContextMenu && watched == window_) {
        appMenu()->popup(static_cast<QContextMenuEvent*>(event)->globalPos());
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
    case TellFriendTag:
        KZUnsentMailDialog::sendOrShow(
            QUrl(QString::fromLatin1(QUrl::toPercentEncoding(text("tell_to_friend"), "!$&'()*+,;=:@/?"))));
        break;
    case NewsletterTag:
        subscribeNewsletter();
        break;
    case PreferencesTag:
        KZPreferencesWindow::showShared();
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
    QString address;
    switch (tag) {
    case ManualTag: {
        const fs::path manual = platform::resourcePath("User Manual.pdf");
        if (!manual.empty())
            KZOpenURLOrTell(QUrl::fromLocalFile(platform::pathText(manual)));
        return;
    }
    case WelcomeTag:
        showWelcome();
        return;
    case MoreProductsTag:
        address = text("more_products");
        break;
    case ContactTag:
    case ContactTag + 1:
    case ContactTag + 2:
        address = text("contact");
        break;
    default:
        return;
    }
    // An address that is not a valid URL opens nothing.
    const QUrl url(address, QUrl::StrictMode);
    if (address.isEmpty() || !url.isValid() || url.scheme().isEmpty())
        return;
    if (url.scheme().compare(QLatin1String("mailto"), Qt::CaseInsensitive) == 0)
        KZUnsentMailDialog::sendOrShow(url);
    else
        KZOpenURLOrTell(url);
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
    routing_->openFiles(paths);
    watchWindowsWhileFoldersWait();
    // A saved result on its way keeps the screen as it is: what was handed
    // over is taken up once it has opened.
    if (routing_->isOpening())
        return;
    // The program is already running: bring its front window to the user.
    QWidget* front = QApplication::activeWindow();
    // What waits behind Preferences, About or Quick Look goes to the main
    // window once it is in front, so it is brought there. What asks for an
    // answer first (an alert, a modal window) keeps the front; the hand-over
    // follows once it has been answered. The first Welcome keeps it too:
    // the search window comes only once it has closed.
    if (QWidget* main = mainWindowForWaitingFolders())
        front = main;
    if (!front && window_ && window_->isVisible())
        front = window_;
    if (front) {
        front->raise();
        front->activateWindow();
    }
}

void KZMaravexApp::followWaitingHandOver()
{
    watchWindowsWhileFoldersWait();
    if (QWidget* main = mainWindowForWaitingFolders()) {
        main->raise();
        main->activateWindow();
    }
}

QWidget* KZMaravexApp::mainWindowForWaitingFolders() const
{
    if (!routing_ || !routing_->waitsForFront() || routing_->isOpening() || QApplication::activeModalWidget())
        return nullptr;
    return routingHost_->mainWindowOnScreen();
}

void KZMaravexApp::tellRunningAlone(const QString& why)
{
    QTimer::singleShot(0, this, [why] {
        KZErrorDelegate::sharedControl().showError(QStringLiteral("running_alone"), QStringLiteral("running_alone_info"),
                                                   {why});
    });
}

const std::vector<fs::path>& KZMaravexApp::foldersToAdd() const
{
    return routing_->foldersToAdd();
}

std::vector<fs::path> KZMaravexApp::takeFoldersToAdd()
{
    return routing_->takeFoldersToAdd();
}

void KZMaravexApp::newSearchAction()
{
    routing_->newSearchAction();
}

void KZMaravexApp::searchAgainAction()
{
    routing_->searchAgainAction();
}

void KZMaravexApp::closeWindows()
{
    routing_->closeWindows();
}

void KZMaravexApp::openSavedAction()
{
    KZFileDialogPresenter::Request ask;
    ask.mode = KZFileDialogPresenter::Mode::OpenFiles;
    ask.title = text("ask_for_saved_file_title");
    ask.message = text("ask_for_saved_file");
    ask.allowedTypes = {QStringLiteral("maravex")};
    ask.window = QApplication::activeWindow();
    KZFileDialogPresenter::ask(ask, [this](const KZFileDialogPresenter::Answer& answer) {
        if (!answer.accepted || answer.paths.isEmpty() || answer.paths.first().isEmpty())
            return;
        routing_->openSavedChosen(platform::pathFromText(answer.paths.first()));
    });
}

KZOpenSavedResult* KZMaravexApp::openedReader() const
{
    return openedReader_;
}

void KZMaravexApp::openSavedResult(const fs::path& file)
{
    KZOpenSavedResult::Host host;
    host.searchWindowCntrl = windowCntrl_;
    host.searchWindow = window_;
    host.resultWindow = [this] { return resultWindow_.get(); };
    host.removalIsRunning = [] { return KZRemove::isRemovalRunning(); };
    host.delegate = this;
    host.flip = [search = QPointer<QWidget>(window_)](QWidget* opening, std::function<void()> done) {
        KZWindowFlipAnimator& flipper = KZWindowFlipAnimator::sharedWindowFlipAnimator();
        QWidget* front = flipper.currentWindow();
        if (!front || !front->isVisible()) {
            opening->show();
            // Nothing to flip from (a result handed over at launch): the
            // opening window takes the search window's place. Left standing,
            // the search window would wait behind the result as a second
            // main window.
            if (search && search != opening)
                search->hide();
            QTimer::singleShot(0, opening, std::move(done));
            return;
        }
        auto token = std::make_shared<platform::Subscription>();
        *token = platform::NotificationCenter::defaultCenter().addObserver(
            KZNotification::flipAnimationDidEnd, platform::NotificationObject(static_cast<const void*>(opening)),
            [token, done](const platform::Notification&) {
                token->cancel();
                platform::runOnMain(done);
            });
        flipper.flipToWindow(opening, 0);
    };
    // One reader per opening; it goes once it has said it finished.
    auto* reader = new KZOpenSavedResult(std::move(host), this);
    openedReader_ = reader;
    readerDone_ = platform::NotificationCenter::defaultCenter().addObserver(
        KZNotification::openingDidFinish, platform::NotificationObject(static_cast<const void*>(this)),
        [this, reader = QPointer<KZOpenSavedResult>(reader)](const platform::Notification&) {
            // Queued: this delegate may be gone by the time it runs, and a
            // second file may have begun to open in between. Only the reader
            // that finished goes; the next one and its watch stay.
            platform::runOnMain([guard = QPointer<KZMaravexApp>(this), reader] {
                if (!guard || !reader)
                    return;
                if (guard->openedReader_ == reader)
                    guard->readerDone_.cancel();
                reader->deleteLater();
            });
        });
    std::shared_ptr<KZOpenSavedResult::Read> checked = std::exchange(checkedSavedResult_, nullptr);
    reader->prepareOpenSavedFile(file, checked && checked->file == file ? std::move(checked) : nullptr);
}

void KZMaravexApp::restorePersistentAction()
{
    if (!restoreWindowCntrl_)
        restoreWindowCntrl_ = std::make_unique<KZRestoreWindowCntrl>(KZRestoreRemovedFiles::sharedControl(),
                                                                     platform::homeTrashDirectory());
    restoreWindowCntrl_->showWindow();
}

bool KZMaravexApp::validateMenuItem(const QAction* item) const
{
    if (about_)
        return false;
    const KZMenuSet::Menu menu = KZMenuSet::menuOf(item);
    const int tag = item->data().toInt();
    if (menu == KZMenuSet::App && tag == PreferencesTag)
        return !KZIsSearchInProgress();
    // Nothing outside a result window can be undone.
    if (menu == KZMenuSet::Edit && (tag == KZMenuSet::UndoTag || tag == KZMenuSet::RedoTag))
        return false;
    // Only while the Trash holds a removal that can be put back.
    if (menu == KZMenuSet::Edit && tag == RestoreTag)
        return KZRestoreList::areTherePermanentFiles(platform::homeTrashDirectory());
    // A build or an install without the manual has nothing to open.
    if (menu == KZMenuSet::Help && tag == ManualTag)
        return !platform::resourcePath("User Manual.pdf").empty();
    if (menu == KZMenuSet::File && tag >= 0)
        return routing_->validateFileMenuItem(tag);
    return true;
}

void KZMaravexApp::menuNeedsUpdate(QMenu* menu)
{
    if (!menu)
        return;
    // The Quick Look item of any File menu: the shared one, or the result
    // window's own.
    for (QAction* action : menu->actions()) {
        if (action->isSeparator() || action->menu() || action->data().toInt() != QuickLookTag ||
            !action->data().isValid())
            continue;
        if (quickLookPanelIsVisible_)
            action->setText(text("close_quick_look"));
        else if (!selectedFileName_.isEmpty())
            action->setText(QStringLiteral("%1 %2").arg(
                text("quick_look"), selectionCount_ == 1 ? QStringLiteral("\"%1\"").arg(selectedFileName_)
                                                          : selectedFileName_));
        else
            action->setText(text("quick_look"));
    }
}

void KZMaravexApp::restoreCloseMenuItem(bool useWindowClose, std::function<void()> closeAction, QWidget* owner)
{
    closeUsesWindow_ = useWindowClose;
    closeAction_ = useWindowClose ? std::function<void()>() : std::move(closeAction);
    closeOwner_ = useWindowClose ? nullptr : owner;
}

void KZMaravexApp::windowDidResignKey(QWidget* window)
{
    // Close goes back to plain closing, unless another window took it first.
    if (window && closeOwner_ == window)
        restoreCloseMenuItem(true);
}

void KZMaravexApp::closeAppWindow(QWidget* window)
{
    restoreCloseMenuItem(true);
    if (!window)
        return;
    window->close();
    // The closed window still counts, as it would in the window list; the
    // overlays of running transitions never do.
    QWidgetList windows;
    windows.append(window);
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w != window && w->isVisible() && KZQuitPolicy::keepsProgramAlive(w))
            windows.append(w);
    }
    if (windows.size() == 2 && KZPreferencesWindowIsOpen())
        windows.at(1)->close();
}

void KZMaravexApp::offerCrashLog(const fs::path& log)
{
    const qint64 answer = KZErrorDelegate::sharedControl().askToTheUser(
        QStringLiteral("crash_found"), QStringLiteral("crash_found_info"), {}, QStringLiteral("crash_show_log_button"),
        QStringLiteral("dont_continue_button"), QString(), false, nullptr, false);
    if (answer == KZErrorDelegate::FirstButton)
        KZOpenURLOrTell(QUrl::fromLocalFile(platform::pathText(log)));
}
