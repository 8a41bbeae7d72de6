#pragma once

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "app/search/ui/KZSearchWindowCntrl.h"
#include "app/ui/KZOpenSavedResult.h"
#include "platform/Subscription.h"
#include "preferences/ui/KZAboutCntrl.h"
#include "preferences/ui/KZSubscribe.h"
#include "preferences/ui/KZWelcomeCntrl.h"
#include "result/window/ui/KZResultWindowCntrl.h"

#include <QMenu>
#include <QWidget>

class KZCrashReporter;
class KZOpenSavedResult;
class KZRestoreWindowCntrl;
class KZNewSearchRouting;
class KZResultWindowRouting;
class KZSearchProgressWindow;
class QAction;

namespace platform {
struct Notification;
}

// The application's delegate: the start-up steps up to the first window, the
// secondary windows it owns (welcome, About, newsletter) and the menu items
// that open them. Lives for the whole run; main thread only.
class KZMaravexApp : public QObject {
    Q_OBJECT
public:
    // Tags of the menu items, as the menus of every window use them.
    enum AppMenuTag { AboutTag = 1, TellFriendTag = 2, NewsletterTag = 3, PreferencesTag = 4, UpdateTag = 9 };
    enum HelpMenuTag { ManualTag = 1, WelcomeTag = 2, MoreProductsTag = 3, ContactTag = 4 };
    enum FileMenuTag { NewSearchTag = 0, SearchAgainTag = 1, QuickLookTag = 2, OpenSavedTag = 3 };
    enum EditMenuTag { RestoreTag = 13000 };

    explicit KZMaravexApp(QObject* parent = nullptr);
    ~KZMaravexApp() override;

    // The running program's delegate (null before one exists).
    static KZMaravexApp* sharedDelegate();

    // Start-up, in this order.
    void applicationWillFinishLaunching();
    void applicationDidFinishLaunching();
    void showFirstWindow();
    // Quitting asks nothing and saves nothing; the run is recorded as ended
    // cleanly.
    void applicationWillTerminate();
    bool applicationShouldTerminateAfterLastWindowClosed() const { return true; }

    void openAboutWindow();
    // Edit item 13000: the window of removals still in the Trash.
    void restorePersistentAction();
    void showWelcome();
    void subscribeNewsletter();
    void checkForUpdate();
    // The services-menu entry of other desktops has no counterpart here; a
    // request only beeps.
    void addSourcesService();

    void appMenuAction(int tag);
    void helpMenuAction(int tag);

    // Folders and saved results handed to the program (arguments, or a later
    // start): folders become sources (the Alt key clears the sources first),
    // a saved result replaces what is on screen.
    void openFiles(const std::vector<std::filesystem::path>& paths);
    // This start could not become the one program of the user's (no private
    // place for its socket, `why`): says once, after the first window, that a
    // later start will run beside it.
    void tellRunningAlone(const QString& why);
    const std::vector<std::filesystem::path>& foldersToAdd() const;
    std::vector<std::filesystem::path> takeFoldersToAdd();

    // New Search and Search Again walk back to the search window.
    void newSearchAction();
    void searchAgainAction();
    void closeWindows();
    void openSavedAction();
    // Reopens a saved result (the routing's last step).
    void openSavedResult(const std::filesystem::path& file);
    KZOpenSavedResult* openedReader() const;
    KZNewSearchRouting& routing() const { return *routing_; }
    // How the delegate finds the result window controller of a key window
    // (none while no result window exists).
    void setResultWindowLookup(std::function<KZResultWindowRouting*(QWidget*)> lookup)
    {
        resultLookup_ = std::move(lookup);
    }

    // The menus' enabling and the Quick Look item's title.
    bool validateMenuItem(const QAction* item) const;
    void menuNeedsUpdate(QMenu* menu);
    // Close reaches the window's own close action while `useWindowClose` is
    // false (the search and progress windows set it while they are key);
    // with an `owner`, only while that window is the active one.
    void restoreCloseMenuItem(bool useWindowClose, std::function<void()> closeAction = {}, QWidget* owner = nullptr);
    // A window that took Close lost the activation: Close is plain again.
    void windowDidResignKey(QWidget* window);
    // File > Close: the active window closes.
    void closeActiveWindow();
    // Quit asks nothing; only a running removal holds it back.
    void quitAction();
    void closeAppWindow(QWidget* window);
    // An Undo with nothing to undo does nothing.
    void fakeUndo() {}

    // Where the crash reporter keeps its marker and logs (tests).
    void setCrashReportFolder(const std::filesystem::path& folder) { crashFolder_ = folder; }
    // What Quit ends the program with (the event loop's exit); tests record it.
    void setExit(std::function<void(int)> exit) { exit_ = std::move(exit); }
    KZCrashReporter* crashReporter() const { return crashReporter_.get(); }

    QWidget* window() const { return window_; }
    KZSearchWindowCntrl* windowCntrl() const { return windowCntrl_; }
    KZResultWindowCntrl* resultWindowCntrl() const { return resultWindow_.get(); }
    KZWelcomeCntrl* welcome() const { return welcome_; }
    KZAboutCntrl* about() const { return about_; }
    KZSubscribe* subscribe() const { return subscribe_; }
    bool aboutIsOpened() const { return aboutIsOpened_; }
    bool quickLookPanelIsVisible() const { return quickLookPanelIsVisible_; }
    void setQuickLookPanelIsVisible(bool visible) { quickLookPanelIsVisible_ = visible; }
    QString selectedFileName() const { return selectedFileName_; }
    quint64 selectionCount() const { return selectionCount_; }
    double start() const { return start_; }
    // The program's menus (shared by every window).
    QMenu* appMenu() const;
    QMenu* helpMenu() const;
    QMenu* fileMenu() const;
    QAction* closeMenuItem() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The main window to bring to the front for folders that wait for one,
    // unless a window waiting for an answer (an alert, a modal window) is up.
    QWidget* mainWindowForWaitingFolders() const;
    // Folders wait for a main window: hands them on if one is in front now,
    // and watches the windows only while they wait.
    void frontMayHaveChanged();
    void watchWindowsWhileFoldersWait();
    // After a scheduled step of the routing: brings the main window forward
    // for what now waits for it, and watches the windows while it waits.
    void followWaitingHandOver();
    void welcomeDidClose();
    void aboutDidClose();
    void newsletterDidClose();
    void listSelectionDidChange(const platform::Notification& notification);
    void buildMenus();
    class RoutingHost;
    friend class RoutingHost;
    void offerCrashLog(const std::filesystem::path& log);

    QPointer<QWidget> window_;
    QPointer<KZSearchWindowCntrl> windowCntrl_;
    QPointer<KZWelcomeCntrl> welcome_;
    QPointer<KZAboutCntrl> about_;
    QPointer<KZSubscribe> subscribe_;
    bool aboutIsOpened_ = false;
    bool quickLookPanelIsVisible_ = false;
    QString selectedFileName_;
    quint64 selectionCount_ = 0;
    double start_ = 0;
    std::unique_ptr<RoutingHost> routingHost_;
    std::unique_ptr<KZNewSearchRouting> routing_;
    std::function<KZResultWindowRouting*(QWidget*)> resultLookup_;
    std::unique_ptr<KZRestoreWindowCntrl> restoreWindowCntrl_;
    // The window of the last finished search; a new result replaces it.
    class ResultRouting;
    KZSearchProgressWindow* progressWindow() const;
    std::unique_ptr<KZResultWindowCntrl> resultWindow_;
    std::unique_ptr<ResultRouting> resultRouting_;
    bool closeUsesWindow_ = true;
    std::function<void()> closeAction_;
    QPointer<QWidget> closeOwner_;
    std::optional<std::filesystem::path> crashFolder_;
    std::function<void(int)> exit_ = [](int code) { QCoreApplication::exit(code); };
    std::unique_ptr<KZCrashReporter> crashReporter_;
    std::optional<std::filesystem::path> crashedLog_;
    QPointer<KZOpenSavedResult> openedReader_;
    // Installed on the application while handed folders wait for a main
    // window (see watchWindowsWhileFoldersWait()).
    QPointer<QObject> hideWatcher_;
    platform::Subscription readerDone_;
    // A saved result read and checked before its question: the opening that
    // follows takes it.
    std::shared_ptr<KZOpenSavedResult::Read> checkedSavedResult_;
};
