#pragma once

#include "platform/Subscription.h"

#include <QString>

#include <filesystem>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// What the routing asks of the three main windows and of the program around
// them. The application delegate answers with the real windows; tests with
// recording fakes.
class KZRoutingHost {
public:
    // The controller of the key window.
    enum class Front { None, Search, Progress, Result, Other };

    virtual ~KZRoutingHost() = default;

    virtual Front front() const = 0;
    // The main window on screen when it is the only one, whatever window is
    // in front of it (Preferences, About): the window a walk back has just
    // shown may not have taken the front yet. By default the front.
    virtual Front shownMainWindow() const { return front(); }
    // The front progress window's search is running.
    virtual bool progressIsSearching() const = 0;
    // The front result window is removing items.
    virtual bool resultIsRemoving() const = 0;
    // A removal is under way, whichever window is in front: from the click
    // on remove until its panel closes, and while its engine still runs.
    virtual bool removalIsUnderWay() const = 0;
    // Tells the user that what was handed over was not opened, because a
    // removal is under way (nothing named: New Search or Search Again would
    // have taken the result window away), and keeps the removal's window in
    // front.
    virtual void refuseWhileRemoving(const std::vector<std::filesystem::path>& notOpened) = 0;
    // The front search window's search view has a source (true without a
    // search view).
    virtual bool searchHasSources() const = 0;

    // "newSearch" to the front result window controller, progress window
    // controller or search view.
    virtual void postNewSearchToResult() = 0;
    virtual void postNewSearchToProgress() = 0;
    virtual void postNewSearchToSearchView() = 0;
    // Hands folders to the search view as new sources.
    virtual void addFolders(const std::vector<std::filesystem::path>& folders) = 0;

    // A directory that is not a package, reached through links as a drop on
    // the search window reaches it.
    virtual bool isFolder(const std::filesystem::path& path) const = 0;
    // Tells the user, once for the whole hand-over, which of the paths handed
    // over were not taken (not folders) and why.
    virtual void refuseNotFolders(const std::vector<std::filesystem::path>& notTaken) { (void)notTaken; }
    // The key that asks for "clear the sources first" is held.
    virtual bool clearKeyIsDown() const = 0;
    // Asks whether the result on screen may be replaced; answers the
    // button (1000 = continue), 1000 also when the question is suppressed.
    virtual qint64 askToReplaceResult() = 0;
    // Reads and checks a saved result before the result on screen is put at
    // stake for it; false when it cannot be opened, after telling the user why.
    virtual bool savedResultCanOpen(const std::filesystem::path& file)
    {
        (void)file;
        return true;
    }
    // The user kept the result on screen instead of opening `file`: what
    // was read of it to ask goes.
    virtual void savedResultDeclined(const std::filesystem::path& file) { (void)file; }
    // Opens a saved result once the search window is ready for it; the host
    // posts "openingDidFinish" when done (or at once when it cannot).
    virtual void openSavedResult(const std::filesystem::path& file) = 0;

    // Seconds since 1970, and a run of `work` after `seconds`.
    virtual double now() const = 0;
    virtual void runAfter(double seconds, std::function<void()> work) = 0;
};

// The walk back from the result window to the progress window to the search
// window for New Search and Search Again, and the files handed to the
// program. Each step observes its handshake only while it waits for it.
class KZNewSearchRouting {
public:
    static constexpr double kSavedResultDelay = 5.0;
    static constexpr qint64 kContinue = 1000;

    KZNewSearchRouting(KZRoutingHost& host, double launchTime);
    ~KZNewSearchRouting();
    KZNewSearchRouting(const KZNewSearchRouting&) = delete;
    KZNewSearchRouting& operator=(const KZNewSearchRouting&) = delete;

    void newSearchAction();
    void searchAgainAction();
    void closeWindows();
    // The result window in front declined "newSearch" (the user keeps its
    // result): the walk back ends without waiting for it to close.
    void resultWindowStays();

    // Paths handed to the program: a saved result (first path ending
    // ".maravex"; the others are ignored) or folders. What is handed over
    // while no main window is in front (the first Welcome, Preferences, an
    // alert, Quick Look) waits for one; each later hand-over of folders
    // joins them, in order. Folders go once: a walk back that ends short of
    // the search window (its question declined) drops them.
    void openFiles(const std::vector<std::filesystem::path>& paths);
    // The window in front changed: what waits for a main window goes to it
    // now.
    void frontChanged();
    // Folders or a saved result wait for a main window to come to the front.
    bool waitsForFront() const { return waitsForFront_ || !openAtFront_.empty(); }
    // A saved result is on its way to the screen, from the user's consent
    // until it has opened or failed to: folders handed over meanwhile wait
    // for its end, and no window is brought forward for them.
    bool isOpening() const { return openingIsUnderWay(); }
    // The open panel's choice of a saved result.
    void openSavedChosen(const std::filesystem::path& file);
    // Whether the result on screen may give way to the saved result `file`.
    bool ifCanContinue(const std::filesystem::path& file);
    void openSavedFile(const std::filesystem::path& file);

    // File menu items 0, 1 and 3 and others by the front controller.
    bool validateFileMenuItem(int tag) const;

    bool isSearchAgain() const { return isSearchAgain_; }
    const std::vector<std::filesystem::path>& foldersToAdd() const { return foldersToAdd_; }
    // Hands the waiting folders to a search window that takes them itself
    // (its first showing); they are no longer waited for.
    std::vector<std::filesystem::path> takeFoldersToAdd();
    // The user agreed to give the result on screen up for a saved result
    // that has not begun to open yet.
    bool canContinueOpening() const { return consentFor_.has_value(); }
    const std::optional<std::filesystem::path>& openURL() const { return openURL_; }
    // A handshake is being waited for.
    bool waitsForResult() const { return resultStep_.isActive(); }
    bool waitsForProgress() const { return progressStep_.isActive(); }
    bool waitsForReady() const { return readyStep_.isActive(); }
    bool waitsToOpen() const { return openStep_.isActive(); }

private:
    void sendNewSearchToResultWindow();
    void sendNewSearchToProgressWindow();
    void sendNewSearchToSearchWindow();
    void newSearchResultTerminated();
    void newSearchProgressTerminated(bool isClosed);
    void newSearchIsReady();
    void readyToStartToOpenFile();
    void openingDidFinish();
    // frontChanged() once the step under way has been acted on; once, however
    // many steps ask for it meanwhile.
    void frontChangedSoon();
    // A saved result is on its way to the screen: from the user's consent
    // (or a search window in front) until it has opened.
    bool openingIsUnderWay() const { return !settling_.empty() || openingHasBegun(); }
    // The walk back for a saved result or its opening runs.
    bool openingHasBegun() const { return openStep_.isActive() || finishStep_.isActive(); }
    // Another saved result than `file` was agreed to or is on its way: `file`
    // waits for it, and asks nothing before.
    bool anotherOpeningComes(const std::filesystem::path& file) const;
    // Whether `file` may go on to open: not during a removal, and with the
    // user's consent where the question can be asked now (it is kept for
    // this file alone).
    bool mayOpenSaved(const std::filesystem::path& file);
    void observeReady();
    // Keeps the waiting folders until the opening under way has ended.
    void holdForOpening();
    // A removal under way keeps its window: the request is refused, and
    // said so, before anything moves or asks.
    bool refusedDuringRemoval(const std::vector<std::filesystem::path>& notOpened);
    // Takes the waiting folders to the main window in front, or keeps them
    // waiting for one.
    void routeFolders();
    // A search, progress or result window is the one in front.
    bool mainWindowInFront() const;
    // The main window the walk back has reached.
    KZRoutingHost::Front reached() const;
    // A walk back ended short of the search window: the folders handed over
    // for it are not kept for a later one.
    void dropHandedFolders();

    KZRoutingHost& host_;
    double start_;
    bool isSearchAgain_ = false;
    // Consent is given for one file: another handed over meanwhile asks
    // its own question, once the first has opened.
    std::optional<std::filesystem::path> consentFor_;
    bool waitsForFront_ = false;
    // Folders held for an opening keep the sources when they go on, unless
    // their hand-over asked to clear them first.
    bool heldKeepSources_ = true;
    bool frontChangeScheduled_ = false;
    // A saved result is being read and checked, or asked about, before it
    // replaces the result on screen.
    bool checking_ = false;
    std::vector<std::filesystem::path> foldersToAdd_;
    std::optional<std::filesystem::path> openURL_;
    // Saved results handed over right after launch, waiting for the search
    // window to settle before they open.
    std::vector<std::filesystem::path> settling_;
    // Saved results that wait for a main window in front, or for the one
    // before them to open, in the order they were handed over.
    std::deque<std::filesystem::path> openAtFront_;
    platform::Subscription resultStep_;
    platform::Subscription progressStep_;
    platform::Subscription readyStep_;
    platform::Subscription openStep_;
    platform::Subscription finishStep_;
    // Scheduled work must not reach a routing that is gone.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
