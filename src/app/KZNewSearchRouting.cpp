#include "app/KZNewSearchRouting.h"

#include "platform/NotificationCenter.h"
#include "settings/KZNotificationNames.h"

#include <QScopeGuard>

#include <algorithm>
#include <utility>

namespace fs = std::filesystem;

namespace {

platform::NotificationCenter& center()
{
    return platform::NotificationCenter::defaultCenter();
}

// A saved result's extension, compared exactly (case matters).
bool isSavedResult(const fs::path& path)
{
    return path.extension() == ".maravex";
}

} // namespace

KZNewSearchRouting::KZNewSearchRouting(KZRoutingHost& host, double launchTime) : host_(host), start_(launchTime) {}

KZNewSearchRouting::~KZNewSearchRouting()
{
    *alive_ = false;
}

void KZNewSearchRouting::newSearchAction()
{
    if (refusedDuringRemoval({}))
        return;
    isSearchAgain_ = false;
    closeWindows();
}

void KZNewSearchRouting::searchAgainAction()
{
    if (refusedDuringRemoval({}))
        return;
    isSearchAgain_ = true;
    closeWindows();
}

void KZNewSearchRouting::closeWindows()
{
    switch (host_.front()) {
    case KZRoutingHost::Front::Search:
        sendNewSearchToSearchWindow();
        break;
    case KZRoutingHost::Front::Progress:
        // A running search moves nothing; what waits stays pending.
        if (!host_.progressIsSearching())
            sendNewSearchToProgressWindow();
        break;
    case KZRoutingHost::Front::Result:
        // The window of a removal under way is never walked away from, as
        // it cannot be closed.
        if (!refusedDuringRemoval({}))
            sendNewSearchToResultWindow();
        break;
    case KZRoutingHost::Front::None:
    case KZRoutingHost::Front::Other:
        break;
    }
}

bool KZNewSearchRouting::refusedDuringRemoval(const std::vector<fs::path>& notOpened)
{
    if (!host_.removalIsUnderWay())
        return false;
    host_.refuseWhileRemoving(notOpened);
    return true;
}

void KZNewSearchRouting::sendNewSearchToResultWindow()
{
    resultStep_ = center().addObserver(KZNotification::newSearchResultTerminated, platform::bundleIdentifier(),
                                       [this](const platform::Notification&) { newSearchResultTerminated(); });
    host_.postNewSearchToResult();
}

void KZNewSearchRouting::resultWindowStays()
{
    resultStep_.cancel();
    dropHandedFolders();
}

bool KZNewSearchRouting::mainWindowInFront() const
{
    // The check and the question before a saved result replaces the one on
    // screen stand in front of every window until they are answered.
    if (checking_)
        return false;
    const KZRoutingHost::Front front = host_.front();
    return front != KZRoutingHost::Front::None && front != KZRoutingHost::Front::Other;
}

KZRoutingHost::Front KZNewSearchRouting::reached() const
{
    // Preferences or About may take the front from the window the walk has
    // just shown: the walk goes on in that window all the same.
    return mainWindowInFront() ? host_.front() : host_.shownMainWindow();
}

void KZNewSearchRouting::dropHandedFolders()
{
    readyStep_.cancel();
    foldersToAdd_.clear();
    isSearchAgain_ = false;
    waitsForFront_ = false;
    heldKeepSources_ = true;
    // A saved result whose walk back ended short does not open: nothing may
    // stay held for it.
    if (openStep_.isActive()) {
        openStep_.cancel();
        consentFor_.reset();
        openURL_.reset();
    }
}

void KZNewSearchRouting::holdForOpening()
{
    // Not into the search window: the opening puts the saved sources there
    // and takes it off the screen, and nobody would see them arrive.
    readyStep_.cancel();
    waitsForFront_ = true;
}

void KZNewSearchRouting::newSearchResultTerminated()
{
    resultStep_.cancel();
    switch (reached()) {
    case KZRoutingHost::Front::Progress:
        sendNewSearchToProgressWindow();
        break;
    case KZRoutingHost::Front::Search:
        // A result with no progress window behind it went
        // straight back to the search window: the progress step is done.
        newSearchProgressTerminated(true);
        break;
    default:
        dropHandedFolders();
        break;
    }
}

void KZNewSearchRouting::sendNewSearchToProgressWindow()
{
    progressStep_ = center().addObserver(
        KZNotification::newSearchProgressTerminated, platform::bundleIdentifier(),
        [this](const platform::Notification& n) {
            newSearchProgressTerminated(n.userInfo.value(QStringLiteral("isClosed")).toBool());
        });
    host_.postNewSearchToProgress();
}

void KZNewSearchRouting::newSearchProgressTerminated(bool isClosed)
{
    progressStep_.cancel();
    // The user kept the result: what was handed over for the walk goes with
    // it, rather than turning up at some later search.
    if (!isClosed) {
        dropHandedFolders();
        return;
    }
    if (isSearchAgain_) {
        if (!foldersToAdd_.empty())
            center().post(KZNotification::newSearchIsReady, platform::bundleIdentifier());
        else
            isSearchAgain_ = false;
        return;
    }
    if (reached() == KZRoutingHost::Front::Search)
        sendNewSearchToSearchWindow();
    else
        dropHandedFolders();
}

void KZNewSearchRouting::sendNewSearchToSearchWindow()
{
    host_.postNewSearchToSearchView();
}

void KZNewSearchRouting::observeReady()
{
    // One registration at a time: a second hand-over of folders must not
    // add them twice.
    readyStep_ = center().addObserver(KZNotification::newSearchIsReady, platform::bundleIdentifier(),
                                      [this](const platform::Notification&) { newSearchIsReady(); });
}

void KZNewSearchRouting::newSearchIsReady()
{
    readyStep_.cancel();
    waitsForFront_ = false;
    if (foldersToAdd_.empty())
        return;
    isSearchAgain_ = false;
    const std::vector<fs::path> folders = std::move(foldersToAdd_);
    foldersToAdd_.clear();
    host_.addFolders(folders);
}

std::vector<fs::path> KZNewSearchRouting::takeFoldersToAdd()
{
    readyStep_.cancel();
    isSearchAgain_ = false;
    waitsForFront_ = false;
    std::vector<fs::path> folders = std::move(foldersToAdd_);
    foldersToAdd_.clear();
    return folders;
}

void KZNewSearchRouting::openFiles(const std::vector<fs::path>& paths)
{
    if (paths.empty())
        return;
    if (isSavedResult(paths.front())) {
        const fs::path file = paths.front();
        if (!mayOpenSaved(file))
            return;
        const double waited = host_.now() - start_;
        const bool settles = std::find(settling_.begin(), settling_.end(), file) != settling_.end();
        if (settles) {
            // Handed over again while it waits: it opens once.
        } else if (waited < kSavedResultDelay) {
            // Right after launch the search window is still settling; the
            // opening waits until it has. It is under way from now: folders
            // handed over meanwhile are held for its end, as during any
            // opening, rather than landing in a search window it replaces.
            settling_.push_back(file);
            host_.runAfter(kSavedResultDelay, [this, alive = alive_, file] {
                if (!*alive)
                    return;
                settling_.erase(std::find(settling_.begin(), settling_.end(), file));
                openSavedFile(file);
                // An opening that did not begin (a removal began meanwhile)
                // holds nothing back: its folders go on as after its end.
                if (!openingIsUnderWay() && waitsForFront_ && !foldersToAdd_.empty()) {
                    isSearchAgain_ = std::exchange(heldKeepSources_, true);
                    frontChangedSoon();
                }
            });
        } else {
            openSavedFile(file);
        }
        return;
    }

    std::vector<fs::path> folders;
    std::vector<fs::path> notTaken;
    for (const fs::path& path : paths) {
        if (host_.isFolder(path))
            folders.push_back(path);
        else
            notTaken.push_back(path);
    }
    // Refused rather than kept waiting: folders added once the removal has
    // ended would surprise the user long after they handed them over.
    if (!folders.empty() && refusedDuringRemoval(folders))
        return;
    // Said, not dropped in silence: the program would look as if it had
    // ignored the request.
    if (!notTaken.empty())
        host_.refuseNotFolders(notTaken);
    if (folders.empty())
        return;
    const bool clearFirst = host_.clearKeyIsDown();
    // Folders that still wait keep their place ahead of these: a hand-over
    // never replaces an earlier one. One that asks to clear the sources
    // first clears them for all.
    const bool joining = !foldersToAdd_.empty();
    for (fs::path& folder : folders)
        if (std::find(foldersToAdd_.begin(), foldersToAdd_.end(), folder) == foldersToAdd_.end())
            foldersToAdd_.push_back(std::move(folder));
    // A saved result on its way: they go once it has opened, asking of its
    // result as over any other, or once it has failed, to the search window.
    if (openingIsUnderWay()) {
        heldKeepSources_ = joining ? heldKeepSources_ && !clearFirst : !clearFirst;
        holdForOpening();
        return;
    }
    // A walk back under way (its question may be open right now) takes them
    // when it ends, and keeps or clears the sources as it was asked to.
    if (resultStep_.isActive() || progressStep_.isActive()) {
        observeReady();
        return;
    }
    isSearchAgain_ = joining ? isSearchAgain_ && !clearFirst : !clearFirst;
    observeReady();
    routeFolders();
}

void KZNewSearchRouting::routeFolders()
{
    const KZRoutingHost::Front front = checking_ ? KZRoutingHost::Front::Other : host_.front();
    // Another window in front (Preferences, an alert, Quick Look): the
    // folders wait until a main window comes to the front.
    waitsForFront_ = front == KZRoutingHost::Front::None || front == KZRoutingHost::Front::Other;
    if (waitsForFront_)
        return;
    if (front == KZRoutingHost::Front::Search && isSearchAgain_)
        center().post(KZNotification::newSearchIsReady, platform::bundleIdentifier());
    else
        closeWindows();
}

void KZNewSearchRouting::frontChanged()
{
    if (!openAtFront_.empty() && mainWindowInFront())
        openSavedFile(fs::path(openAtFront_.front()));
    if (!waitsForFront_ || foldersToAdd_.empty())
        return;
    // Folders that waited wait on for an opening the change of front began
    // or that still runs.
    if (openingIsUnderWay()) {
        holdForOpening();
        return;
    }
    // A removal may have begun while they waited: they are refused as a
    // hand-over during it is.
    if (refusedDuringRemoval(foldersToAdd_)) {
        dropHandedFolders();
        return;
    }
    // The answer to a question they waited behind began a walk back: they
    // go with it, as folders handed over during a walk do, instead of
    // starting a second one.
    if (!checking_ && (resultStep_.isActive() || progressStep_.isActive())) {
        waitsForFront_ = false;
        return;
    }
    // Folders held for an opening stopped listening for the search window,
    // so that its readiness at the opening's start could not take them.
    observeReady();
    routeFolders();
}

bool KZNewSearchRouting::ifCanContinue(const fs::path& file)
{
    const KZRoutingHost::Front front = host_.front();
    if (front != KZRoutingHost::Front::Progress && front != KZRoutingHost::Front::Result)
        return true;
    // A file that cannot open must not cost the result on screen: it is read
    // and checked before the user is asked to give that result up.
    bool canContinue = false;
    {
        // What is handed over meanwhile waits as it waits behind any
        // question: reading a large file takes seconds while the windows run.
        checking_ = true;
        const auto checked = qScopeGuard([this] { checking_ = false; });
        if (host_.savedResultCanOpen(file)) {
            canContinue = host_.askToReplaceResult() == kContinue;
            if (!canContinue)
                host_.savedResultDeclined(file);
        }
    }
    // Nothing else may tell that the check is over (it changes no window):
    // what waited goes on once this answer has been acted on.
    if (waitsForFront())
        frontChangedSoon();
    return canContinue;
}

void KZNewSearchRouting::openSavedFile(const fs::path& file)
{
    // Behind the first Welcome, Preferences or About: it opens, asking what
    // it would ask now, once a main window comes to the front. Behind
    // another saved result agreed to or on its way: once that one has
    // opened, asking about it.
    const bool waits = !mainWindowInFront() || anotherOpeningComes(file);
    const auto waiting = std::find(openAtFront_.begin(), openAtFront_.end(), file);
    if (waits) {
        if (waiting == openAtFront_.end())
            openAtFront_.push_back(file);
        return;
    }
    if (waiting != openAtFront_.end())
        openAtFront_.erase(waiting);
    // A removal may have begun while the opening waited.
    if (refusedDuringRemoval({file})) {
        consentFor_.reset();
        return;
    }
    // Handed over again while it opens.
    if (openingHasBegun())
        return;
    if (consentFor_ != file) {
        if (!ifCanContinue(file))
            return;
        consentFor_ = file;
    }
    // The saved result replaces the sources, whatever an earlier Search
    // Again that stopped half-way left behind.
    isSearchAgain_ = false;
    openURL_ = file;
    openStep_ = center().addObserver(KZNotification::readyToStartToOpenFile, platform::bundleIdentifier(),
                                     [this](const platform::Notification&) { readyToStartToOpenFile(); });
    closeWindows();
}

void KZNewSearchRouting::openSavedChosen(const fs::path& file)
{
    if (mayOpenSaved(file))
        openSavedFile(file);
}

bool KZNewSearchRouting::mayOpenSaved(const fs::path& file)
{
    if (refusedDuringRemoval({file}))
        return false;
    // Behind another window (the first Welcome, Preferences) or another
    // saved result nothing is asked yet: the opening asks once a main
    // window is in front and the other has opened.
    if (mainWindowInFront() && !anotherOpeningComes(file)) {
        if (!ifCanContinue(file))
            return false;
        consentFor_ = file;
    }
    return true;
}

bool KZNewSearchRouting::anotherOpeningComes(const fs::path& file) const
{
    return (consentFor_ && *consentFor_ != file) || (openingHasBegun() && openURL_ != file);
}

void KZNewSearchRouting::readyToStartToOpenFile()
{
    openStep_.cancel();
    consentFor_.reset();
    if (!openURL_)
        return;
    // Folders that joined the walk back wait for the opening's end: the
    // search window that the walk reached is about to be covered.
    if (!foldersToAdd_.empty())
        holdForOpening();
    // Posted by whoever the host has open the file.
    finishStep_ = center().addObserver(KZNotification::openingDidFinish, platform::NotificationObject(),
                                       [this](const platform::Notification&) { openingDidFinish(); });
    host_.openSavedResult(*openURL_);
}

void KZNewSearchRouting::openingDidFinish()
{
    finishStep_.cancel();
    openURL_.reset();
    // Folders held for the opening go on as a hand-over now would: over the
    // reopened result they ask first; where nothing opened, the search
    // window takes them.
    const bool heldFolders = waitsForFront_ && !foldersToAdd_.empty();
    if (heldFolders)
        isSearchAgain_ = std::exchange(heldKeepSources_, true);
    // A saved result handed over meanwhile asks about the one now open.
    if (!openAtFront_.empty() || heldFolders)
        frontChangedSoon();
}

void KZNewSearchRouting::frontChangedSoon()
{
    if (std::exchange(frontChangeScheduled_, true))
        return;
    host_.runAfter(0, [this, alive = alive_] {
        if (!*alive)
            return;
        frontChangeScheduled_ = false;
        frontChanged();
    });
}

bool KZNewSearchRouting::validateFileMenuItem(int tag) const
{
    if (tag != 0 && tag != 1 && tag != 3)
        return true;
    switch (host_.front()) {
    case KZRoutingHost::Front::Search:
        if (tag == 0)
            return host_.searchHasSources();
        return tag == 3;
    case KZRoutingHost::Front::Progress:
        return !host_.progressIsSearching();
    case KZRoutingHost::Front::Result:
        return !host_.resultIsRemoving();
    case KZRoutingHost::Front::None:
    case KZRoutingHost::Front::Other:
        break;
    }
    return true;
}
