// The program's own roads to a result window, as a user takes them, beside
// each other on one tree of N files in pairs:
//
// - search: the search window's Start, the search, Show Result as soon as it
//   is offered (once the result's lists are ready), until the result window
//   is on screen;
// - open:   File ▸ Open of that tree's saved result (read, checked against
//   the disk, rebuilt, the progress window fed, the result window made),
//   until the result window is on screen and the opening has ended;
// - over:   the same File ▸ Open over the result of a search of that tree on
//   screen (the first road, untimed), from Continue in "Open the saved
//   result?": the walk back from the result window and the old result let
//   go, then the opening, until the new result window is on screen;
// - again:  the fresh search a user makes from that same result on screen,
//   from Search Again: the walk back to the search window, Start, the
//   search, Show Result, until the new result window is on screen.
//
// Each road runs in a process of its own, with the real windows and their
// transitions, under a scratch home folder, so that its peak memory is its
// own; the roads take turns. Run it under the offscreen platform:
//
//   QT_QPA_PLATFORM=offscreen program_road_bench [--files N[,N...]] [--runs R] [--folder DIR]
//
// N defaults to 100,000 and 400,000, R to 3. The trees are made in DIR
// (default: a new folder in the temporary folder), once per size, and the
// saved result is written as the command-line tools write it; a DIR that
// is given is kept for later runs. KZ_ROAD_TIMELINE=1 prints when each step
// of the windows' handshakes came along each road.

#include "app/KZNewSearchRouting.h"
#include "app/progress/KZSearchProgressCore.h"
#include "app/progress/ui/KZSearchProgress.h"
#include "app/search/ui/KZSearchView.h"
#include "app/search/ui/KZSearchWindowCntrl.h"
#include "app/ui/KZMaravexApp.h"
#include "app/ui/KZWindowFlipAnimator.h"
#include "app/ui/KZWindowTransitionAnimator.h"
#include "engine/TreeToCheck.h"
#include "platform/FileStat.h"
#include "platform/MallocArenas.h"
#include "platform/NotificationCenter.h"
#include "platform/OperationQueue.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "result/model/KZFoundItem.h"
#include "result/model/KZFoundItemsCntrl.h"
#include "result/model/KZResultCntrl.h"
#include "result/window/ui/KZResultWindowCntrl.h"
#include "resultfiles/KZSaveResult.h"
#include "services/KZAlertPresenter.h"
#include "services/KZErrorDelegate.h"
#include "services/KZOpenFileLimit.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZNotificationNames.h"
#include "settings/KZTags.h"

#include <QPushButton>
#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// The process's own high-water mark: the resident set's largest size since
// this program started (not getrusage, whose figure keeps what the process
// was before exec).
double peakMegabytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atof(line.c_str() + 6) / 1024.0;
    return 0;
}

fs::path fileOf(const fs::path& top, int i)
{
    return top / ("d" + std::to_string(i / 1000)) / ("file-with-a-name-" + std::to_string(i) + ".txt");
}

// N files in folders of 1,000, in pairs of copies, and their saved result.
void makeTree(const fs::path& top, const fs::path& saved, int files)
{
    if (fs::exists(top / ".done") && fs::exists(saved))
        return;
    for (int i = 0; i < files; ++i) {
        const fs::path file = fileOf(top, i);
        if (i % 1000 == 0)
            fs::create_directories(file.parent_path());
        const std::string content = "group " + std::to_string(i / 2) + " of the bench\n";
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || ::write(fd, content.data(), content.size()) != ssize_t(content.size())) {
            std::fprintf(stderr, "program_road_bench: cannot write %s\n", file.c_str());
            std::exit(1);
        }
        ::close(fd);
    }
    KZFoundItemArray items;
    items.reserve(files);
    KZItemsInGroup counter;
    for (int i = 0; i < files; ++i) {
        if (i % 2 == 0)
            counter = makeItemsInGroup(2);
        const fs::path file = fileOf(top, i);
        const auto st = platform::statPath(file, false);
        auto record = KZSearchItemInfo::create(file);
        record->setOriginalNameFromLocation();
        record->setIsRegularFile(true);
        record->setTotSize(st ? st->size : 0);
        record->setDevice(st ? quint64(st->device) : 0);
        record->setInode(st ? st->inode : 0);
        if (st)
            record->setModificationTime(st->modified);
        record->setFileTypeLabel(KZTag::unlabeledFiles);
        record->setLabel(0);
        TreeToCheck node(record);
        node.groupID = quint64(i / 2 + 1);
        node.itemsInGroup = counter;
        KZFoundItemRef item = KZFoundItem::itemWithTreeNode(node);
        item->setIsMarked(i % 2 == 1);
        items.append(item);
    }
    QString error;
    if (!KZSaveResult::saveSearchResult(items, {}, {KZSourceItem::create({{QStringLiteral("url"),
                                                                           QVariant::fromValue(top)}})},
                                        saved, &error)) {
        std::fprintf(stderr, "program_road_bench: %s\n", qPrintable(error));
        std::exit(1);
    }
    std::ofstream(top / ".done") << "";
}

// Every question answered with its first button, every alert counted but
// the question before a saved result replaces the one on screen, whose
// answer is when the road over a result starts.
class Answering : public KZAlertPresenter {
public:
    int alerts = 0;
    std::optional<Clock::time_point> continued;
    Answer runModal(const Alert& alert) override
    {
        if (alert.messageText == platform::localizedString(QStringLiteral("ask_open_file")) && !continued) {
            continued = Clock::now();
            return {};
        }
        // Search Again's own question, on the road that takes it.
        if (alert.messageText == platform::localizedString(QStringLiteral("search_again")))
            return {};
        ++alerts;
        std::fprintf(stderr, "alert: %s %s\n", qPrintable(alert.messageText), qPrintable(alert.informativeText));
        return {};
    }
    void beginSheet(const Alert& alert) override { runModal(alert); }
};

// Runs the event loop until `done`, looking every millisecond, as a user
// would see the window come.
template <typename Done>
bool waitFor(Done&& done, double seconds)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer look;
    look.setInterval(1);
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    look.start();
    loop.exec();
    return done();
}

// One road in this process; prints "seconds peak_MB items".
int runRoad(int argc, char** argv, const std::string& road, const fs::path& top, const fs::path& saved)
{
    QApplication app(argc, argv);
    const platform::ApplicationWorkGuard applicationWork;
    const KZOpenFileLimit openFiles = KZRaiseOpenFileLimit();
    (void)openFiles;
    auto answering = std::make_shared<Answering>();
    KZErrorDelegate::sharedControl().setPresenter(answering);
    platform::UserDefaults::standard().setValue(KZDefaultsKey::is_first_run, false);

    KZMaravexApp delegate;
    delegate.applicationWillFinishLaunching();
    delegate.applicationDidFinishLaunching();
    if (!waitFor([&] { return delegate.window() && delegate.window()->isVisible(); }, 60)) {
        std::fprintf(stderr, "program_road_bench: the search window never came\n");
        return 1;
    }
    int finishes = 0;
    const platform::Subscription finished = platform::NotificationCenter::defaultCenter().addObserver(
        KZNotification::openingDidFinish, platform::NotificationObject(static_cast<const void*>(&delegate)),
        [&finishes](const platform::Notification&) { ++finishes; });
    const double before = peakMegabytes();

    // No flip or zoom under way: the windows take clicks again.
    const auto settled = [] {
        return !KZWindowFlipAnimator::sharedWindowFlipAnimator().isFlipping()
            && !KZWindowTransitionAnimator::sharedControl().isRunning();
    };
    Clock::time_point start;
    // KZ_ROAD_TIMELINE=1: when each step of the handshakes came, from the
    // road's start, on standard error; what is seen before the start is
    // printed against the first road's own start and ignored.
    struct Step {
        QString name;
        Clock::time_point at;
    };
    std::vector<Step> timeline;
    std::mutex timelineLock; // some steps are posted from the queues' threads
    std::vector<platform::Subscription> watches;
    if (const char* wanted = std::getenv("KZ_ROAD_TIMELINE"); wanted && *wanted == '1')
        for (const QString& name :
             {KZNotification::newSearchResultTerminated, KZNotification::newSearchProgressTerminated,
              KZNotification::readyToStartToOpenFile, KZNotification::flipAnimationDidEnd,
              KZNotification::searchDidTerminate, KZNotification::resultSetupDidTerminate,
              KZNotification::startToShowItems, KZNotification::resultIsReady,
              KZNotification::openAnimationDidTerminate, KZNotification::openingDidFinish})
            watches.push_back(platform::NotificationCenter::defaultCenter().addObserver(
                name, platform::NotificationObject(),
                [&timeline, &timelineLock, name](const platform::Notification&) {
                    std::lock_guard guard(timelineLock);
                    timeline.push_back({name, Clock::now()});
                }));
    // Start in the search window, the search, then Show Result, offered once
    // the result's lists are ready and clickable once the flip has turned
    // the progress window in; true once a result window other than
    // `replaced` is on screen.
    const auto searchAndShowResult = [&](const KZResultWindowCntrl* replaced) {
        delegate.windowCntrl()->searchView()->startButton()->click();
        const auto progress = delegate.windowCntrl()->progressCntrl();
        if (!progress || !waitFor([&] { return progress->core().resultOffered() && settled(); }, 600)) {
            std::fprintf(stderr, "program_road_bench: the search never ended\n");
            return false;
        }
        progress->showResultAction();
        return waitFor(
            [&] {
                return delegate.resultWindowCntrl() && delegate.resultWindowCntrl() != replaced
                    && delegate.resultWindowCntrl()->isVisible();
            },
            600);
    };
    bool shown = false;
    if (road == "search" || road == "over" || road == "again") {
        KZSearchView* view = delegate.windowCntrl()->searchView();
        delegate.windowCntrl()->addFolders({top});
        if (!waitFor([&] { return view->phase() == KZSearchView::Phase::LaidOut && view->sourcesCntrl().sources().size() == 1; },
                     60)) {
            std::fprintf(stderr, "program_road_bench: the source never came\n");
            return 1;
        }
        start = Clock::now();
        shown = searchAndShowResult(nullptr);
    }
    if (road == "again" && shown) {
        waitFor([] { return false; }, 1.0);
        const KZResultWindowCntrl* searched = delegate.resultWindowCntrl();
        KZSearchView* view = delegate.windowCntrl()->searchView();
        start = Clock::now();
        delegate.searchAgainAction();
        // Back at the search window with its source kept, ready for Start.
        if (!waitFor(
                [&] {
                    return delegate.window()->isVisible() && view->phase() == KZSearchView::Phase::LaidOut
                        && view->startButton()->isEnabled() && settled();
                },
                60)) {
            std::fprintf(stderr, "program_road_bench: the search window never came back\n");
            return 1;
        }
        shown = searchAndShowResult(searched);
    } else if (road == "over" && shown) {
        // Once the result window has settled on screen, as a user sees it
        // before choosing File ▸ Open.
        waitFor([] { return false; }, 1.0);
        const KZResultWindowCntrl* searched = delegate.resultWindowCntrl();
        delegate.routing().openSavedChosen(saved);
        start = answering->continued.value_or(Clock::now());
        shown = waitFor(
            [&] {
                return finishes > 0 && delegate.resultWindowCntrl() && delegate.resultWindowCntrl() != searched
                    && delegate.resultWindowCntrl()->isVisible();
            },
            600);
    } else if (road == "open") {
        start = Clock::now();
        delegate.openSavedResult(saved);
        shown = waitFor(
            [&] { return finishes > 0 && delegate.resultWindowCntrl() && delegate.resultWindowCntrl()->isVisible(); },
            600);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!shown) {
        std::fprintf(stderr, "program_road_bench: the result window never came\n");
        return 1;
    }
    {
        std::lock_guard guard(timelineLock);
        for (const Step& step : timeline)
            if (step.at >= start)
                std::fprintf(stderr, "  %s %7.3f %s\n", road.c_str(), std::chrono::duration<double>(step.at - start).count(),
                             qPrintable(step.name));
    }
    KZResultCntrl* result = delegate.resultWindowCntrl()->resultCntrl();
    const quint64 items = result && result->foundItemsCntrl() ? quint64(result->foundItemsCntrl()->allItems().size()) : 0;
    std::printf("%.3f %.0f %.0f %llu %d\n", seconds, peakMegabytes(), before, static_cast<unsigned long long>(items),
                answering->alerts);
    std::fflush(stdout);
    // What the windows hold is the program's until it quits: not timed.
    delegate.applicationWillTerminate();
    std::_Exit(0);
}

constexpr int kRoads = 4;
constexpr const char* kRoadNames[kRoads] = {"search", "open", "over", "again"};

struct Figures {
    double seconds = 0;
    double peak = 0;
    double before = 0;
    unsigned long long items = 0;
    int alerts = 0;
};

bool runChild(const char* self, const std::string& road, const fs::path& top, const fs::path& saved,
              const fs::path& home, Figures* out)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return false;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        fs::remove_all(home);
        fs::create_directories(home / "config");
        fs::create_directories(home / "data");
        fs::create_directories(home / "cache");
        fs::create_directories(home / "runtime");
        fs::permissions(home / "runtime", fs::perms::owner_all);
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
        ::setenv("XDG_CACHE_HOME", (home / "cache").c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", (home / "runtime").c_str(), 1);
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
        ::execl(self, self, "--road", road.c_str(), top.c_str(), saved.c_str(), static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    ::close(pipeFds[1]);
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, size_t(n));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return false;
    return std::sscanf(text.c_str(), "%lf %lf %lf %llu %d", &out->seconds, &out->peak, &out->before, &out->items,
                       &out->alerts)
        == 5;
}

} // namespace

int main(int argc, char** argv)
{
    platform::limitMallocArenas();
    if (argc == 5 && !std::strcmp(argv[1], "--road"))
        return runRoad(1, argv, argv[2], argv[3], argv[4]);

    std::vector<int> sizes{100000, 400000};
    int runs = 3;
    fs::path root;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--files")) {
            sizes.clear();
            for (const char* p = argv[i + 1]; *p;) {
                sizes.push_back(std::atoi(p));
                p = std::strchr(p, ',');
                if (!p)
                    break;
                ++p;
            }
        } else if (!std::strcmp(argv[i], "--runs")) {
            runs = std::max(1, std::atoi(argv[i + 1]));
        } else if (!std::strcmp(argv[i], "--folder")) {
            root = argv[i + 1];
        } else {
            std::fprintf(stderr, "usage: program_road_bench [--files N[,N...]] [--runs R] [--folder DIR]\n");
            return 2;
        }
    }
    const bool ownRoot = root.empty();
    if (ownRoot)
        root = fs::temp_directory_path() / ("maravex-program-road-bench-" + std::to_string(::getpid()));
    fs::create_directories(root);
    {
        QCoreApplication core(argc, argv);
        const platform::ApplicationWorkGuard applicationWork;
        for (const int files : sizes)
            makeTree(root / ("tree-" + std::to_string(files)), root / ("result-" + std::to_string(files) + ".maravex"),
                     files);
    }
    const std::string self = fs::read_symlink("/proc/self/exe");
    std::printf("| Road | Items | Runs | Seconds, each run | Peak MB, each run | Peak MB at the search window |\n"
                "|---|---:|---:|---|---|---:|\n");
    int failures = 0;
    for (const int files : sizes) {
        const fs::path top = root / ("tree-" + std::to_string(files));
        const fs::path saved = root / ("result-" + std::to_string(files) + ".maravex");
        std::vector<Figures> byRoad[kRoads];
        for (int run = 0; run < runs; ++run) {
            for (int r = 0; r < kRoads; ++r) {
                // Turning which goes first, so none always finds the cache
                // warmed by another.
                const int road = (r + run) % kRoads;
                Figures figures;
                if (!runChild(self.c_str(), kRoadNames[road], top, saved, root / "home", &figures)) {
                    std::fprintf(stderr, "program_road_bench: the %s road failed\n", kRoadNames[road]);
                    ++failures;
                    continue;
                }
                if (figures.items != static_cast<unsigned long long>(files) || figures.alerts != 0)
                    std::fprintf(stderr, "program_road_bench: %s road: %llu items, %d alerts\n", kRoadNames[road],
                                 figures.items, figures.alerts);
                byRoad[road].push_back(figures);
            }
        }
        for (int road = 0; road < kRoads; ++road) {
            std::string secondsText, peakText;
            double before = 0;
            for (const Figures& f : byRoad[road]) {
                char cell[64];
                std::snprintf(cell, sizeof cell, "%s%.2f", secondsText.empty() ? "" : ", ", f.seconds);
                secondsText += cell;
                std::snprintf(cell, sizeof cell, "%s%.0f", peakText.empty() ? "" : ", ", f.peak);
                peakText += cell;
                before = f.before;
            }
            std::printf("| %s | %d | %zu | %s | %s | %.0f |\n", kRoadNames[road], files,
                        byRoad[road].size(), secondsText.c_str(), peakText.c_str(), before);
            std::fflush(stdout);
        }
    }
    if (ownRoot) {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    return failures == 0 ? 0 : 1;
}
