#include "app/KZNewSearchRouting.h"

#include "platform/NotificationCenter.h"
#include "settings/KZNotificationNames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <set>
#include <utility>

namespace fs = std::filesystem;

namespace {

using Front = KZRoutingHost::Front;

// The three windows as the routing sees them: each "newSearch" answers with
// the handshake the real window (and its transition) would post.
class FakeWindows : public KZRoutingHost {
public:
    Front front_ = Front::Search;
    bool searching = false;
    bool removing = false;
    bool removalUnderWay = false;
    bool hasSources = true;
    bool clearKey = false;
    bool declineReset = false; // the progress window's "start over?" answered no
    bool noProgressWindow = false; // a reopened result closes into the search window
    // Preferences or About stays the key window over whichever main window
    // a transition shows.
    bool preferencesKeepFront = false;
    Front shown_ = Front::None; // the main window on screen while another is key
    qint64 answer = 1000;
    double clock = 100.0;
    std::set<fs::path> folders;
    std::vector<fs::path> sources{"/old"};

    std::vector<std::string> log;
    int questions = 0;
    std::vector<std::vector<fs::path>> refusals;
    std::vector<std::pair<double, std::function<void()>>> later;
    std::function<void()> whileAsking;
    // Each window's answer comes later, as its transition ends: walk() lets
    // them come, in order.
    bool slowWalk = false;
    std::deque<std::function<void()>> steps;
    void step(std::function<void()> work)
    {
        if (slowWalk)
            steps.push_back(std::move(work));
        else
            work();
    }
    void walk()
    {
        while (!steps.empty()) {
            std::function<void()> next = std::move(steps.front());
            steps.pop_front();
            next();
        }
    }
    // A reopened result asked to go, whose question the user declined.
    std::function<void()> resultStays;

    Front front() const override { return front_; }
    Front shownMainWindow() const override { return front_ == Front::Other ? shown_ : front_; }
    // A transition shows `next`; the key window follows unless Preferences
    // keeps it.
    void show(Front next)
    {
        if (preferencesKeepFront) {
            front_ = Front::Other;
            shown_ = next;
        } else {
            front_ = next;
        }
    }
    bool progressIsSearching() const override { return searching; }
    bool resultIsRemoving() const override { return removing; }
    bool removalIsUnderWay() const override { return removalUnderWay; }
    void refuseWhileRemoving(const std::vector<fs::path>& notOpened) override { refusals.push_back(notOpened); }
    void refuseNotFolders(const std::vector<fs::path>& notTaken) override { notFolders.push_back(notTaken); }
    std::vector<std::vector<fs::path>> notFolders;
    bool searchHasSources() const override { return hasSources; }

    void postNewSearchToResult() override
    {
        log.push_back("result");
        if (resultStays)
            return resultStays();
        step([this] {
            show(noProgressWindow ? Front::Search : Front::Progress);
            post(KZNotification::newSearchResultTerminated, {{QStringLiteral("direction"), 1}});
        });
    }
    void postNewSearchToProgress() override
    {
        log.push_back("progress");
        // The progress window's question is open: another window in front.
        if (whileAsking) {
            const Front before = front_;
            front_ = Front::Other;
            std::exchange(whileAsking, nullptr)();
            front_ = before;
        }
        if (declineReset) {
            post(KZNotification::newSearchProgressTerminated, {{QStringLiteral("isClosed"), false}});
            return;
        }
        step([this] {
            show(Front::Search);
            post(KZNotification::flipAnimationDidEnd, {});
            post(KZNotification::newSearchProgressTerminated, {{QStringLiteral("isClosed"), true}});
        });
    }
    void postNewSearchToSearchView() override
    {
        log.push_back("search");
        sources.clear();
        post(KZNotification::readyToStartToOpenFile, {});
        post(KZNotification::newSearchIsReady, {});
    }
    void addFolders(const std::vector<fs::path>& added) override
    {
        log.push_back("add");
        sources.insert(sources.end(), added.begin(), added.end());
    }
    bool isFolder(const fs::path& path) const override { return folders.count(path) != 0; }
    bool clearKeyIsDown() const override { return clearKey; }
    qint64 askToReplaceResult() override
    {
        ++questions;
        return answer;
    }
    // Runs while the saved result is read and checked, before its question.
    std::function<void()> whileChecking;
    int checks = 0;
    bool savedResultCanOpen(const fs::path&) override
    {
        ++checks;
        if (whileChecking)
            std::exchange(whileChecking, nullptr)();
        return true;
    }
    std::vector<fs::path> declined;
    void savedResultDeclined(const fs::path& file) override { declined.push_back(file); }
    void openSavedResult(const fs::path& file) override
    {
        log.push_back("open " + file.string());
        step([this] {
            if (slowWalk)
                show(Front::Result);
            post(KZNotification::openingDidFinish, {});
        });
    }
    double now() const override { return clock; }
    void runAfter(double seconds, std::function<void()> work) override { later.emplace_back(seconds, std::move(work)); }

    static void post(const QString& name, const QVariantMap& info)
    {
        platform::NotificationCenter::defaultCenter().post(name, platform::bundleIdentifier(), info);
    }
};

using Log = std::vector<std::string>;

TEST(KZNewSearchRouting, NewSearchAndSearchAgainWalkBackFromEachWindow)
{
    struct Case {
        const char* name;
        Front front;
        bool again;
        Log steps;
        bool sourcesKept;
    } const cases[] = {
        {"new search from result", Front::Result, false, {"result", "progress", "search"}, false},
        {"new search from progress", Front::Progress, false, {"progress", "search"}, false},
        {"new search from search", Front::Search, false, {"search"}, false},
        {"search again from result", Front::Result, true, {"result", "progress"}, true},
        {"search again from progress", Front::Progress, true, {"progress"}, true},
        {"nothing in front", Front::None, false, {}, true},
        {"another window in front", Front::Other, true, {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeWindows windows;
        windows.front_ = c.front;
        KZNewSearchRouting routing(windows, 0);
        c.again ? routing.searchAgainAction() : routing.newSearchAction();
        EXPECT_EQ(windows.log, c.steps);
        EXPECT_EQ(windows.sources.empty(), !c.sourcesKept);
        // The routing ends with nothing left observed and Search Again reset;
        // a command that moved nothing keeps it for the next hand-over.
        EXPECT_FALSE(routing.waitsForResult());
        EXPECT_FALSE(routing.waitsForProgress());
        EXPECT_EQ(routing.isSearchAgain(), c.again && c.steps.empty());
    }
}

TEST(KZNewSearchRouting, ProgressWindowThatStaysEndsTheRouting)
{
    FakeWindows windows;
    windows.front_ = Front::Result;
    windows.declineReset = true;
    KZNewSearchRouting routing(windows, 0);
    routing.newSearchAction();
    EXPECT_EQ(windows.log, (Log{"result", "progress"}));
    EXPECT_FALSE(routing.waitsForProgress());
    // A later flip (not part of a routing) is not taken for an answer.
    FakeWindows::post(KZNotification::newSearchProgressTerminated, {{QStringLiteral("isClosed"), true}});
    EXPECT_EQ(windows.log, (Log{"result", "progress"}));
}

TEST(KZNewSearchRouting, BusyProgressWindowMovesNothingAndKeepsFoldersWaiting)
{
    FakeWindows windows;
    windows.front_ = Front::Progress;
    windows.searching = true;
    windows.folders = {"/a"};
    KZNewSearchRouting routing(windows, 0);
    routing.newSearchAction();
    routing.searchAgainAction();
    routing.openFiles({"/a"});
    EXPECT_TRUE(windows.log.empty());
    EXPECT_EQ(routing.foldersToAdd(), (std::vector<fs::path>{"/a"}));
    // The next reset of the search view takes them, once.
    FakeWindows::post(KZNotification::newSearchIsReady, {});
    FakeWindows::post(KZNotification::newSearchIsReady, {});
    EXPECT_EQ(windows.log, (Log{"add"}));
    EXPECT_EQ(windows.sources, (std::vector<fs::path>{"/old", "/a"}));
}

TEST(KZNewSearchRouting, FoldersHandedToTheProgram)
{
    struct Case {
        const char* name;
        Front front;
        bool clearKey;
        std::vector<fs::path> paths;
        Log steps;
        std::vector<fs::path> sources;
        // Named to the user in one alert; none when every path was taken.
        std::vector<fs::path> notTaken;
    } const cases[] = {
        {"search window, add", Front::Search, false, {"/a", "/file", "/b"}, {"add"}, {"/old", "/a", "/b"}, {"/file"}},
        {"search window, clear first", Front::Search, true, {"/a"}, {"search", "add"}, {"/a"}, {}},
        {"result window, add", Front::Result, false, {"/a"}, {"result", "progress", "add"}, {"/old", "/a"}, {}},
        {"result window, clear first", Front::Result, true, {"/b"}, {"result", "progress", "search", "add"}, {"/b"}, {}},
        {"no folder at all", Front::Search, false, {"/file", "/app.app"}, {}, {"/old"}, {"/file", "/app.app"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeWindows windows;
        windows.front_ = c.front;
        windows.clearKey = c.clearKey;
        windows.folders = {"/a", "/b"};
        KZNewSearchRouting routing(windows, 0);
        routing.openFiles(c.paths);
        EXPECT_EQ(windows.log, c.steps);
        EXPECT_EQ(windows.sources, c.sources);
        EXPECT_TRUE(routing.foldersToAdd().empty());
        EXPECT_FALSE(routing.isSearchAgain());
        EXPECT_FALSE(routing.waitsForReady());
        if (c.notTaken.empty())
            EXPECT_TRUE(windows.notFolders.empty());
        else
            EXPECT_EQ(windows.notFolders, (std::vector<std::vector<fs::path>>{c.notTaken}));
    }
}

// Folders handed over while Preferences, an alert or Quick Look is in front
// wait for a main window, each hand-over behind the last, and go to the
// window that comes to the front, as if handed to it then.
TEST(KZNewSearchRouting, FoldersWaitForAMainWindowInFrontAndArriveInOrder)
{
    struct Case {
        const char* name;
        Front waitingBehind;
        Front thenInFront;
        Log steps;
    } const cases[] = {
        {"search window after Preferences", Front::Other, Front::Search, {"add"}},
        {"result window after Quick Look", Front::Other, Front::Result, {"result", "progress", "add"}},
        {"search window after nothing in front", Front::None, Front::Search, {"add"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeWindows windows;
        windows.front_ = c.waitingBehind;
        windows.folders = {"/a", "/b", "/c"};
        KZNewSearchRouting routing(windows, 0);
        routing.openFiles({"/a"});
        routing.openFiles({"/b", "/a"});
        routing.frontChanged();
        EXPECT_TRUE(windows.log.empty());
        EXPECT_TRUE(routing.waitsForFront());
        EXPECT_EQ(routing.foldersToAdd(), (std::vector<fs::path>{"/a", "/b"}));
        windows.front_ = c.thenInFront;
        routing.openFiles({"/c"});
        EXPECT_EQ(windows.log, c.steps);
        EXPECT_EQ(windows.sources, (std::vector<fs::path>{"/old", "/a", "/b", "/c"}));
        EXPECT_FALSE(routing.waitsForFront());
        EXPECT_TRUE(routing.foldersToAdd().empty());
        // Nothing is added twice by a later change of window or reset.
        routing.frontChanged();
        FakeWindows::post(KZNotification::newSearchIsReady, {});
        EXPECT_EQ(windows.log, c.steps);
    }

    // A change of window alone hands them over; a removal begun meanwhile
    // refuses them, as it refuses a hand-over.
    for (const bool removal : {false, true}) {
        SCOPED_TRACE(removal ? "removal begun" : "front changed");
        FakeWindows windows;
        windows.front_ = Front::Other;
        windows.folders = {"/a"};
        KZNewSearchRouting routing(windows, 0);
        routing.openFiles({"/a"});
        windows.front_ = Front::Search;
        windows.removalUnderWay = removal;
        routing.frontChanged();
        EXPECT_EQ(windows.log, removal ? Log{} : Log{"add"});
        EXPECT_EQ(windows.refusals, removal ? std::vector<std::vector<fs::path>>{{"/a"}} : std::vector<std::vector<fs::path>>{});
        EXPECT_TRUE(routing.foldersToAdd().empty());
        FakeWindows::post(KZNotification::newSearchIsReady, {});
        EXPECT_EQ(windows.sources.size(), removal ? 1u : 2u);
    }

    // Handed over while New Search's question is open: the walk goes on
    // as asked (the sources cleared) and the folders come after it.
    {
        FakeWindows windows;
        windows.front_ = Front::Result;
        windows.folders = {"/a"};
        KZNewSearchRouting routing(windows, 0);
        windows.whileAsking = [&] { routing.openFiles({"/a"}); };
        routing.newSearchAction();
        EXPECT_EQ(windows.log, (Log{"result", "progress", "search", "add"}));
        EXPECT_EQ(windows.sources, std::vector<fs::path>{"/a"});
        EXPECT_TRUE(routing.foldersToAdd().empty());
        EXPECT_FALSE(routing.waitsForFront());
    }

    // Behind a busy progress window they join the folders already waiting.
    FakeWindows windows;
    windows.front_ = Front::Progress;
    windows.searching = true;
    windows.folders = {"/a", "/b"};
    KZNewSearchRouting routing(windows, 0);
    routing.openFiles({"/a"});
    routing.openFiles({"/b"});
    FakeWindows::post(KZNotification::newSearchIsReady, {});
    EXPECT_EQ(windows.sources, (std::vector<fs::path>{"/old", "/a", "/b"}));
}

// Preferences or About in front of the result window: the folders wait
// until the result window is brought forward, and the walk goes on through
// the progress window to the search window although Preferences takes the
// front again as each window shows.
TEST(KZNewSearchRouting, AWalkBehindPreferencesGoesOnToTheSearchWindow)
{
    for (const bool clearFirst : {false, true}) {
        SCOPED_TRACE(clearFirst ? "clear first" : "add");
        FakeWindows windows;
        windows.front_ = Front::Other;
        windows.shown_ = Front::Result;
        windows.preferencesKeepFront = true;
        windows.clearKey = clearFirst;
        windows.folders = {"/a"};
        KZNewSearchRouting routing(windows, 0);
        routing.openFiles({"/a"});
        EXPECT_TRUE(windows.log.empty());
        EXPECT_TRUE(routing.waitsForFront());
        windows.front_ = Front::Result; // brought forward for the folders
        routing.frontChanged();
        EXPECT_EQ(windows.log, clearFirst ? (Log{"result", "progress", "search", "add"}) : (Log{"result", "progress", "add"}));
        EXPECT_EQ(windows.sources, clearFirst ? (std::vector<fs::path>{"/a"}) : (std::vector<fs::path>{"/old", "/a"}));
        EXPECT_TRUE(routing.foldersToAdd().empty());
        EXPECT_FALSE(routing.waitsForFront() || routing.waitsForResult() || routing.waitsForProgress());
    }
}

// A walk back for handed folders that the user declines (the progress
// window's question, or a reopened result's) ends there, and the folders go
// with it: no later New Search or reset adds them.
TEST(KZNewSearchRouting, FoldersOfADeclinedWalkAreDropped)
{
    struct Case {
        const char* name;
        Front front;
        bool reopened;
        Log steps;
    } const cases[] = {
        {"from the result window", Front::Result, false, {"result", "progress"}},
        {"from the progress window", Front::Progress, false, {"progress"}},
        {"from a reopened result", Front::Result, true, {"result"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeWindows windows;
        windows.front_ = c.front;
        windows.folders = {"/a"};
        windows.declineReset = !c.reopened;
        KZNewSearchRouting routing(windows, 0);
        if (c.reopened)
            windows.resultStays = [&routing] { routing.resultWindowStays(); };
        routing.openFiles({"/a"});
        EXPECT_EQ(windows.log, c.steps);
        EXPECT_TRUE(routing.foldersToAdd().empty());
        EXPECT_FALSE(routing.waitsForReady() || routing.waitsForFront() || routing.isSearchAgain());

        windows.declineReset = false;
        windows.resultStays = nullptr;
        windows.log.clear();
        routing.newSearchAction();
        FakeWindows::post(KZNotification::newSearchIsReady, {});
        EXPECT_EQ(std::count(windows.log.begin(), windows.log.end(), "add"), 0);
        EXPECT_TRUE(windows.sources.empty());
    }
}

// A saved result handed over behind another window (the first Welcome at
// launch, Preferences over a result) waits for a main window in front, asks
// there what it would ask there, and opens.
TEST(KZNewSearchRouting, ASavedResultBehindAnotherWindowOpensOnceAMainWindowIsInFront)
{
    struct Case {
        const char* name;
        Front behind;
        Front thenInFront;
        double sinceLaunch;
        qint64 answer;
        int questions;
        Log steps;
    } const cases[] = {
        {"the first Welcome at launch", Front::Other, Front::Search, 1, 1000, 0, {"search", "open /r.maravex"}},
        {"nothing in front at launch", Front::None, Front::Search, 1, 1000, 0, {"search", "open /r.maravex"}},
        {"Preferences over a result", Front::Other, Front::Result, 60, 1000, 1,
         {"result", "progress", "search", "open /r.maravex"}},
        {"Preferences over a result, declined", Front::Other, Front::Result, 60, 1001, 1, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeWindows windows;
        windows.front_ = c.behind;
        windows.answer = c.answer;
        KZNewSearchRouting routing(windows, windows.clock - c.sinceLaunch);
        routing.openFiles({"/r.maravex"});
        for (auto& [seconds, work] : std::exchange(windows.later, {}))
            work();
        routing.frontChanged();
        EXPECT_TRUE(windows.log.empty());
        EXPECT_EQ(windows.questions, 0) << "nothing asked behind another window";
        EXPECT_TRUE(routing.waitsForFront());
        EXPECT_FALSE(routing.waitsToOpen());

        windows.front_ = c.thenInFront;
        routing.frontChanged();
        EXPECT_EQ(windows.questions, c.questions);
        EXPECT_EQ(windows.log, c.steps);
        EXPECT_FALSE(routing.waitsForFront() || routing.waitsToOpen());
        EXPECT_FALSE(routing.openURL().has_value());
        routing.frontChanged();
        EXPECT_EQ(windows.log, c.steps) << "opened once";
    }
}

TEST(KZNewSearchRouting, SavedResults)
{
    struct Case {
        const char* name;
        Front front;
        double sinceLaunch;
        qint64 answer;
        std::vector<fs::path> paths;
        int questions;
        double delay; // -1: none
        Log steps;
    } const cases[] = {
        {"search window, later", Front::Search, 60, 1000, {"/r.maravex"}, 0, -1, {"search", "open /r.maravex"}},
        {"right after launch waits 5 s", Front::Search, 1, 1000, {"/r.maravex"}, 0, 5.0, {"search", "open /r.maravex"}},
        {"over a result, agreed", Front::Result, 60, 1000, {"/r.maravex"}, 1, -1,
         {"result", "progress", "search", "open /r.maravex"}},
        {"over progress, declined", Front::Progress, 60, 1001, {"/r.maravex"}, 1, -1, {}},
        {"others ignored", Front::Search, 60, 1000, {"/r.maravex", "/a"}, 0, -1, {"search", "open /r.maravex"}},
        {"extension is case-sensitive", Front::Search, 60, 1000, {"/r.MARAVEX"}, 0, -1, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeWindows windows;
        windows.front_ = c.front;
        windows.answer = c.answer;
        windows.folders = {"/a"};
        KZNewSearchRouting routing(windows, windows.clock - c.sinceLaunch);
        routing.openFiles(c.paths);
        EXPECT_EQ(windows.questions, c.questions);
        if (c.delay >= 0) {
            ASSERT_EQ(windows.later.size(), 1U);
            EXPECT_DOUBLE_EQ(windows.later.front().first, c.delay);
            EXPECT_TRUE(windows.log.empty());
            windows.later.front().second();
        } else {
            EXPECT_TRUE(windows.later.empty());
        }
        EXPECT_EQ(windows.log, c.steps);
        EXPECT_FALSE(routing.openURL().has_value());
        EXPECT_FALSE(routing.canContinueOpening());
    }
}

// A saved result named at launch waits for the search window to settle
// before it opens; it is under way from its hand-over. Folders handed over
// during that wait go nowhere until it has opened, then ask of its result
// and join its sources. Handed over again, it opens once; another saved
// result waits for it and then asks of its result.
TEST(KZNewSearchRouting, HandOversDuringTheLaunchWaitOfASavedResultWaitForItsOpening)
{
    struct Case {
        const char* name;
        std::vector<fs::path> during;
        Log after;
        int questions;
    } const cases[] = {
        // The progress window asks "Start a new search?" on the way back.
        {"a folder", {"/a"}, {"result", "progress", "add"}, 0},
        {"the same saved result", {"/r.maravex"}, {}, 0},
        {"another saved result", {"/s.maravex"}, {"result", "progress", "search", "open /s.maravex"}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeWindows windows;
        windows.folders = {"/a"};
        KZNewSearchRouting routing(windows, windows.clock - 1);
        routing.openFiles({"/r.maravex"});
        EXPECT_TRUE(routing.isOpening());
        windows.clock += 2;
        routing.openFiles(c.during);
        routing.frontChanged();
        EXPECT_TRUE(windows.log.empty()) << "nothing moves before the opening";
        EXPECT_EQ(windows.sources, std::vector<fs::path>{"/old"});
        // The first saved result's wait ends (another waits on its own).
        ASSERT_FALSE(windows.later.empty());
        auto settled = std::move(windows.later.front().second);
        windows.later.erase(windows.later.begin());
        settled();
        EXPECT_EQ(windows.log, (Log{"search", "open /r.maravex"}));
        EXPECT_EQ(routing.isOpening(), c.during.front() == "/s.maravex");
        EXPECT_EQ(windows.questions, 0);

        // Once the end has been acted on, over the reopened result.
        windows.log.clear();
        windows.front_ = Front::Result;
        windows.sources = {"/saved"};
        for (int turn = 0; turn < 2 && !windows.later.empty(); ++turn) {
            auto next = std::move(windows.later.front().second);
            windows.later.erase(windows.later.begin());
            next();
        }
        EXPECT_EQ(windows.log, c.after);
        EXPECT_EQ(windows.questions, c.questions);
        if (c.during.front() == "/a") {
            EXPECT_EQ(windows.sources, (std::vector<fs::path>{"/saved", "/a"}));
        }
        EXPECT_FALSE(routing.waitsForFront() || routing.isOpening() || routing.waitsForReady());
    }
}

// A removal begun during the launch wait refuses the saved result, and the
// folders held for it go on as a hand-over now would.
TEST(KZNewSearchRouting, ASavedResultRefusedAfterTheLaunchWaitHoldsNothing)
{
    FakeWindows windows;
    windows.folders = {"/a"};
    KZNewSearchRouting routing(windows, windows.clock - 1);
    routing.openFiles({"/r.maravex"});
    routing.openFiles({"/a"});
    windows.removalUnderWay = true;
    std::exchange(windows.later, {}).front().second();
    EXPECT_EQ(windows.refusals, (std::vector<std::vector<fs::path>>{{"/r.maravex"}}));
    windows.removalUnderWay = false;
    ASSERT_EQ(windows.later.size(), 1u);
    std::exchange(windows.later, {}).front().second();
    EXPECT_EQ(windows.log, (Log{"add"}));
    EXPECT_EQ(windows.sources, (std::vector<fs::path>{"/old", "/a"}));
    EXPECT_FALSE(routing.waitsForFront() || routing.isOpening());
}

// What was read of a saved result to ask about it goes once the user keeps
// the result on screen; one that opens keeps it for the opening.
TEST(KZNewSearchRouting, ADeclinedSavedResultIsLetGo)
{
    for (const qint64 answer : {qint64(1000), qint64(1001)}) {
        FakeWindows windows;
        windows.front_ = Front::Result;
        windows.answer = answer;
        KZNewSearchRouting routing(windows, 0);
        routing.openFiles({"/r.maravex"});
        EXPECT_EQ(windows.questions, 1);
        EXPECT_EQ(windows.declined, answer == 1000 ? std::vector<fs::path>{} : std::vector<fs::path>{"/r.maravex"});
    }
}

// Folders handed over while the saved result is read and checked, before
// "Open the saved result?" is asked: nothing walks meanwhile, and they wait
// as they would behind the question. Opened, they wait for the opening to
// end and then go to the window in front; declined, they make a walk of
// their own afterwards. A second saved result waits too.
TEST(KZNewSearchRouting, AHandOverDuringTheCheckOfASavedResultWaitsForItsAnswer)
{
    for (const qint64 answer : {qint64(1000), qint64(1001)}) {
        SCOPED_TRACE(answer == 1000 ? "opened" : "declined");
        FakeWindows windows;
        windows.front_ = Front::Result;
        windows.answer = answer;
        windows.folders = {"/a"};
        KZNewSearchRouting routing(windows, 0);
        windows.whileChecking = [&] {
            routing.openFiles({"/a"});
            routing.openFiles({"/s.maravex"});
            EXPECT_TRUE(windows.log.empty()) << "nothing walks before the answer";
            EXPECT_EQ(windows.questions, 0);
            EXPECT_TRUE(routing.waitsForFront());
        };
        routing.openSavedChosen("/r.maravex");
        EXPECT_EQ(windows.questions, 1);
        if (answer == 1000) {
            EXPECT_EQ(windows.log, (Log{"result", "progress", "search", "open /r.maravex"}));
            EXPECT_TRUE(windows.sources.empty()) << "nothing went into the search window the opening covers";
            EXPECT_EQ(routing.foldersToAdd(), std::vector<fs::path>{"/a"});
        } else {
            EXPECT_TRUE(windows.log.empty());
            EXPECT_EQ(windows.declined, std::vector<fs::path>{"/r.maravex"});
        }
        // What waited goes on once the answer has been acted on.
        ASSERT_EQ(windows.later.size(), 1u);
        EXPECT_DOUBLE_EQ(windows.later.front().first, 0);
        windows.log.clear();
        windows.front_ = Front::Result;
        std::exchange(windows.later, {}).front().second();
        // The second file asks of the result then on screen; the folder
        // goes once it has opened (to the search window these windows leave
        // in front), and after a declined opening walks back on its own.
        EXPECT_EQ(windows.questions, 2);
        if (answer == 1000) {
            EXPECT_EQ(windows.log, (Log{"result", "progress", "search", "open /s.maravex", "add"}));
            EXPECT_EQ(windows.sources, std::vector<fs::path>{"/a"});
        } else {
            EXPECT_EQ(windows.log, (Log{"result", "progress", "add"}));
            EXPECT_EQ(windows.sources, (std::vector<fs::path>{"/old", "/a"}));
        }
        EXPECT_FALSE(routing.waitsForFront());
        EXPECT_TRUE(routing.foldersToAdd().empty());
    }
}

// Folders handed over while a saved result opens (the walk back before it,
// the search window's reset, the opening window) go nowhere and ask nothing
// until the opening has ended. Then they ask of the reopened result, as any
// hand-over over a result does, and join its sources; where the opening
// failed and the search window came back, they join that window's sources.
TEST(KZNewSearchRouting, FoldersHandedOverWhileASavedResultOpensWaitForItsEnd)
{
    struct Case {
        const char* name;
        int stepsBefore; // of the slow walk: result, progress, opening
        bool opens;
        bool clearKey;
        Log after;
        std::vector<fs::path> sources;
    } const cases[] = {
        {"as the result window goes, opened", 0, true, false, {"result", "progress", "add"}, {"/saved", "/a"}},
        {"as the progress window goes, opened", 1, true, false, {"result", "progress", "add"}, {"/saved", "/a"}},
        {"during the opening, opened", 2, true, false, {"result", "progress", "add"}, {"/saved", "/a"}},
        {"during the opening, sources cleared", 2, true, true,
         {"result", "progress", "search", "add"}, {"/a"}},
        {"during the opening, failed", 2, false, false, {"add"}, {"/a"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeWindows windows;
        windows.front_ = Front::Result;
        windows.slowWalk = true;
        windows.folders = {"/a"};
        KZNewSearchRouting routing(windows, 0);
        routing.openSavedChosen("/r.maravex");
        ASSERT_EQ(windows.questions, 1);
        for (int i = 0; i < c.stepsBefore; ++i) {
            ASSERT_FALSE(windows.steps.empty());
            std::function<void()> next = std::move(windows.steps.front());
            windows.steps.pop_front();
            next();
        }
        EXPECT_TRUE(routing.isOpening());
        windows.front_ = Front::Other; // the opening window, or a transition
        windows.clearKey = c.clearKey;
        routing.openFiles({"/a"});
        windows.clearKey = false;
        routing.frontChanged();
        windows.front_ = Front::Progress; // shown on the way up to the result
        routing.frontChanged();
        EXPECT_EQ(windows.questions, 1) << "nothing asked yet";
        EXPECT_TRUE(routing.waitsForFront());
        EXPECT_EQ(routing.foldersToAdd(), std::vector<fs::path>{"/a"});

        // The rest of the walk and the opening; the real one ends with the
        // reopened result in front, or the search window where it failed.
        windows.front_ = Front::Result;
        if (!c.opens) {
            windows.steps.clear();
            windows.log.clear();
            windows.log.push_back("open /r.maravex");
            windows.front_ = Front::Search;
            FakeWindows::post(KZNotification::openingDidFinish, {});
        }
        windows.walk();
        EXPECT_EQ(windows.log.back(), "open /r.maravex");
        EXPECT_FALSE(routing.isOpening());
        EXPECT_EQ(std::count(windows.log.begin(), windows.log.end(), "add"), 0) << "nothing added while it opened";
        windows.log.clear();
        windows.sources = {"/saved"};
        if (!c.opens)
            windows.sources.clear();
        // Once the end has been acted on.
        ASSERT_EQ(windows.later.size(), 1u);
        std::exchange(windows.later, {}).front().second();
        windows.walk();
        EXPECT_EQ(windows.log, c.after);
        EXPECT_EQ(windows.sources, c.sources);
        EXPECT_FALSE(routing.waitsForFront() || routing.waitsForReady() || routing.waitsForResult() ||
                     routing.waitsForProgress());
        EXPECT_TRUE(routing.foldersToAdd().empty());
    }
}

// A walk back for a saved result that ends short (its window kept) opens
// nothing, and leaves nothing held for an opening that will never end.
TEST(KZNewSearchRouting, AnOpeningWhoseWalkEndsShortHoldsNothing)
{
    FakeWindows windows;
    windows.front_ = Front::Result;
    windows.folders = {"/a"};
    windows.declineReset = true;
    KZNewSearchRouting routing(windows, 0);
    routing.openSavedChosen("/r.maravex");
    EXPECT_EQ(windows.log, (Log{"result", "progress"}));
    EXPECT_FALSE(routing.isOpening());
    EXPECT_FALSE(routing.waitsToOpen());
    windows.declineReset = false;
    windows.front_ = Front::Progress;
    windows.log.clear();
    routing.openFiles({"/a"});
    EXPECT_EQ(windows.log, (Log{"progress", "add"}));
}

// Saved result B handed over (a second start) while A is checked before
// its question, with the walk back taking the time its transitions take:
// the consent given for A opens A, and B asks its own question once A's
// result is in front.
TEST(KZNewSearchRouting, ConsentBelongsToTheSavedResultItWasGivenFor)
{
    for (const qint64 answerForB : {qint64(1000), qint64(1001)}) {
        SCOPED_TRACE(answerForB == 1000 ? "B agreed" : "B declined");
        FakeWindows windows;
        windows.front_ = Front::Result;
        windows.slowWalk = true;
        KZNewSearchRouting routing(windows, 0);
        windows.whileChecking = [&] { routing.openFiles({"/b.maravex"}); };
        routing.openFiles({"/a.maravex"});
        EXPECT_EQ(windows.questions, 1);
        EXPECT_TRUE(routing.canContinueOpening());
        // What waited behind the question goes on while the walk runs.
        for (auto& [seconds, work] : std::exchange(windows.later, {}))
            work();
        EXPECT_EQ(windows.questions, 1) << "nothing asked over a result that is going";
        windows.walk();
        EXPECT_EQ(windows.log, (Log{"result", "progress", "search", "open /a.maravex"}));
        EXPECT_FALSE(routing.canContinueOpening());

        windows.answer = answerForB;
        windows.log.clear();
        ASSERT_EQ(windows.later.size(), 1u);
        std::exchange(windows.later, {}).front().second();
        EXPECT_EQ(windows.questions, 2) << "B asks of A's result";
        EXPECT_EQ(windows.checks, 2);
        windows.walk();
        EXPECT_EQ(windows.log, answerForB == 1000 ? (Log{"result", "progress", "search", "open /b.maravex"}) : Log{});
        EXPECT_FALSE(routing.waitsForFront() || routing.waitsToOpen() || routing.canContinueOpening());
    }
}

// A reopened result has no progress window behind it: it closes straight
// into the search window, where New Search clears the sources and Search
// Again keeps them.
TEST(KZNewSearchRouting, AResultWithoutProgressWindowClosesIntoTheSearchWindow)
{
    for (const bool again : {false, true}) {
        SCOPED_TRACE(again ? "search again" : "new search");
        FakeWindows windows;
        windows.front_ = Front::Result;
        windows.noProgressWindow = true;
        KZNewSearchRouting routing(windows, 0);
        again ? routing.searchAgainAction() : routing.newSearchAction();
        EXPECT_EQ(windows.log, again ? Log{"result"} : (Log{"result", "search"}));
        EXPECT_EQ(windows.sources.empty(), !again);
        EXPECT_FALSE(routing.waitsForResult());
        EXPECT_FALSE(routing.isSearchAgain());
    }
}

// A Search Again that stopped at the progress window (its question
// declined) leaves nothing behind: a saved result opened later still clears
// the sources and opens.
TEST(KZNewSearchRouting, OpeningAfterAStoppedSearchAgainStillOpens)
{
    FakeWindows windows;
    windows.front_ = Front::Result;
    windows.declineReset = true;
    KZNewSearchRouting routing(windows, 0);
    routing.searchAgainAction();
    EXPECT_EQ(windows.log, (Log{"result", "progress"}));
    windows.declineReset = false;
    windows.log.clear();
    routing.openSavedChosen("/r.maravex");
    EXPECT_EQ(windows.questions, 1);
    EXPECT_EQ(windows.log, (Log{"progress", "search", "open /r.maravex"}));
    EXPECT_TRUE(windows.sources.empty());
    EXPECT_FALSE(routing.waitsToOpen());
}

// While a removal is under way nothing walks its window away, nothing asks
// to replace it, nothing is left waiting, and the user hears what was refused.
TEST(KZNewSearchRouting, EveryHandOverDuringARemovalIsRefusedAndSaid)
{
    using Paths = std::vector<fs::path>;
    struct Case {
        const char* name;
        Front front;
        bool clearKey;
        std::function<void(KZNewSearchRouting&)> request;
        Paths refused;
    } const cases[] = {
        {"folders", Front::Result, false, [](auto& r) { r.openFiles({"/a", "/file", "/b"}); }, {"/a", "/b"}},
        {"folders, clear first", Front::Result, true, [](auto& r) { r.openFiles({"/b"}); }, {"/b"}},
        {"saved result", Front::Result, false, [](auto& r) { r.openFiles({"/r.maravex", "/a"}); }, {"/r.maravex"}},
        {"saved result from the open panel", Front::Result, false, [](auto& r) { r.openSavedChosen("/r.maravex"); },
         {"/r.maravex"}},
        {"new search", Front::Result, false, [](auto& r) { r.newSearchAction(); }, {}},
        {"search again", Front::Result, false, [](auto& r) { r.searchAgainAction(); }, {}},
        {"walk asked for directly", Front::Result, false, [](auto& r) { r.closeWindows(); }, {}},
        // A question of the removal may be the window in front.
        {"folders under a question", Front::Other, false, [](auto& r) { r.openFiles({"/a"}); }, {"/a"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeWindows windows;
        windows.front_ = c.front;
        windows.folders = {"/a", "/b"};
        windows.removalUnderWay = true;
        windows.clearKey = c.clearKey;
        KZNewSearchRouting routing(windows, windows.clock - 60);
        c.request(routing);
        EXPECT_TRUE(windows.log.empty());
        EXPECT_EQ(windows.questions, 0);
        ASSERT_EQ(windows.refusals.size(), 1U);
        EXPECT_EQ(windows.refusals.front(), c.refused);
        EXPECT_TRUE(routing.foldersToAdd().empty());
        EXPECT_FALSE(routing.openURL().has_value());
        EXPECT_FALSE(routing.canContinueOpening());
        EXPECT_FALSE(routing.waitsForResult() || routing.waitsForReady() || routing.waitsToOpen());
        // A later reset of the search view adds nothing that was refused.
        FakeWindows::post(KZNotification::newSearchIsReady, {});
        FakeWindows::post(KZNotification::readyToStartToOpenFile, {});
        EXPECT_TRUE(windows.log.empty());
        EXPECT_EQ(windows.sources, (Paths{"/old"}));
    }

    // A saved result handed over at launch waits; a removal that began
    // meanwhile refuses it when it comes due. Paths that are no folder and
    // no saved result are refused as such, the removal or not.
    FakeWindows windows;
    windows.front_ = Front::Search;
    windows.folders = {"/a"};
    KZNewSearchRouting routing(windows, windows.clock);
    routing.openFiles({"/r.maravex"});
    ASSERT_EQ(windows.later.size(), 1U);
    windows.front_ = Front::Result;
    windows.removalUnderWay = true;
    routing.openFiles({"/file"});
    windows.later.front().second();
    EXPECT_TRUE(windows.log.empty());
    EXPECT_EQ(windows.refusals, (std::vector<Paths>{{"/r.maravex"}}));
    EXPECT_EQ(windows.notFolders, (std::vector<Paths>{{"/file"}}));
    EXPECT_FALSE(routing.waitsToOpen());

    // Once the removal has ended the same request goes through.
    windows.removalUnderWay = false;
    routing.openFiles({"/a"});
    EXPECT_EQ(windows.log, (Log{"result", "progress", "add"}));
}

TEST(KZNewSearchRouting, FileMenuFollowsTheFrontController)
{
    struct Case {
        Front front;
        bool busy; // searching / removing
        bool sources;
        bool tag0, tag1, tag3, tag2;
    } const cases[] = {
        {Front::Search, false, true, true, false, true, true},
        {Front::Search, false, false, false, false, true, true},
        {Front::Progress, true, true, false, false, false, true},
        {Front::Progress, false, true, true, true, true, true},
        {Front::Result, true, true, false, false, false, true},
        {Front::Result, false, true, true, true, true, true},
        {Front::Other, true, false, true, true, true, true},
        {Front::None, true, false, true, true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.front));
        FakeWindows windows;
        windows.front_ = c.front;
        windows.searching = c.busy;
        windows.removing = c.busy;
        windows.hasSources = c.sources;
        KZNewSearchRouting routing(windows, 0);
        EXPECT_EQ(routing.validateFileMenuItem(0), c.tag0);
        EXPECT_EQ(routing.validateFileMenuItem(1), c.tag1);
        EXPECT_EQ(routing.validateFileMenuItem(3), c.tag3);
        EXPECT_EQ(routing.validateFileMenuItem(2), c.tag2);
    }
}

TEST(KZNewSearchRouting, ScheduledOpeningOutlivedByNothing)
{
    FakeWindows windows;
    std::function<void()> pending;
    {
        KZNewSearchRouting routing(windows, windows.clock);
        routing.openFiles({"/r.maravex"});
        ASSERT_EQ(windows.later.size(), 1U);
        pending = windows.later.front().second;
    }
    pending(); // the routing is gone: nothing happens, nothing crashes
    EXPECT_TRUE(windows.log.empty());
}

} // namespace
