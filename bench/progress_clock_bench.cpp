// What the progress window's clock costs the engine: the same search over
// one tree, alternately with a bare progress control (counters only) and with
// the window's controller core, whose clock thread samples the counters and
// refreshes a counting display on the main thread. Prints the median wall
// time of each and how often the display was refreshed.
//
//   progress_clock_bench [--runs N] PATH...

#include "app/progress/KZSearchProgressCore.h"
#include "engine/KZFoundListParcel.h"
#include "engine/KZProgressControl.h"
#include "engine/KZSearchController.h"
#include "platform/NotificationCenter.h"
#include "platform/OperationQueue.h"
#include "services/KZSearchInProgress.h"
#include "settings/KZDefaultsRegistry.h"
#include "settings/KZNotificationNames.h"
#include "settings/KZSearchStuff.h"
#include "settings/KZSourceItem.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The engine's own minimum: counters kept, nothing shown.
class BareProgress : public KZProgressControl {
public:
    bool wasStopped() const override { return false; }
    void prepareToSearch(const QVariantMap&) override {}
    void setIsSearching(bool) override {}
    void setFoundSize(quint64 v) override { foundSize = v; }
    void setFoundCount(quint64 v) override { foundCount = v; }
    void setCheckedCount(quint64 v) override { checked = v; }
    void setItemsToCheckCount(quint64 v) override { toCheck = v; }
    std::atomic<quint64> foundSize{0}, foundCount{0}, checked{0}, toCheck{0};
};

// A window that only counts what it is asked to show.
struct CountingDisplay : KZSearchProgressDisplay {
    int refreshes = 0;
    bool ended = false;
    void resetForNewSearch() override {}
    void showWindow() override {}
    void hideWindow() override {}
    void setFieldText(Field field, const QString&) override { refreshes += field == Field::itemsFound; }
    void setTitleText(const QString&) override {}
    void setFolderCaptions() override {}
    void startIndeterminateAnimation() override {}
    void setDeterminate() override {}
    void setPercentage(double) override {}
    void stopProgressAnimation() override {}
    void showFolderView(bool) override {}
    void initializeForNewFolder() override {}
    void setFolderCurrent(const QString&) override {}
    void setFolderTotals(const QString&, const QString&) override {}
    void updateTabs(const KZFileTypeSnapshot&) override {}
    void closeExtraInfo() override {}
    void enlargeRing(bool) override {}
    void showEnd(bool, const KZFileTypeSnapshot&) override { ended = true; }
    void showPreparingResult() override {}
    void offerResult(const QString&) override {}
    void showInvalidEnd(const QString&) override { ended = true; }
};

// Adapts the core, which a bench owns by value, to the engine's shared owner.
struct CoreHolder {
    CountingDisplay display;
    KZSearchProgressCore core{&display, nullptr, nullptr};
};

double runOnce(QCoreApplication& app, const std::vector<fs::path>& paths, std::shared_ptr<KZProgressControl> progress,
               const std::function<bool()>& endShown)
{
    auto stuff = KZSearchStuff::searchStuff();
    stuff->setSearchType(KZSearchStuff::duplicateFiles);
    std::vector<KZSourceItemRef> sources;
    for (const auto& path : paths)
        sources.push_back(KZSourceItem::create({{QStringLiteral("url"), QVariant::fromValue(path)}}));
    stuff->setSources(sources);
    stuff->globalExclusions();
    stuff->setCriteria(stuff->criteriaWithTag(KZSearchStuff::duplicateFiles));

    static int sender = 0;
    QVariantMap result;
    bool terminated = false;
    auto subscription = platform::NotificationCenter::defaultCenter().addObserver(
        KZNotification::searchDidTerminate, platform::NotificationObject(&sender),
        [&](const platform::Notification& note) {
            QMetaObject::invokeMethod(&app, [&, info = note.userInfo] {
                result = info;
                terminated = true;
            }, Qt::QueuedConnection);
        });
    QElapsedTimer timer;
    timer.start();
    {
        auto search = KZSearchController::create(stuff, &sender, progress);
        search->startToSearch();
    }
    while (!terminated || !endShown())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    KZSearchOperationQueue().waitUntilAllOperationsAreFinished();
    KZFoundListParcel::take(result.value(QStringLiteral("KZResultFoundItems")));
    return seconds;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const platform::ApplicationWorkGuard applicationWork;
    int runs = 5;
    std::vector<fs::path> paths;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else
            paths.emplace_back(arg);
    }
    if (paths.empty()) {
        std::fprintf(stderr, "usage: progress_clock_bench [--runs N] PATH...\n");
        return 2;
    }
    KZDefaultsRegistry::setupDefaultsPreferences();

    std::vector<double> bare, clocked;
    double worstRate = 0;
    // One untimed run warms the page cache; then the two take turns.
    runOnce(app, paths, std::make_shared<BareProgress>(), [] { return true; });
    for (int run = 0; run < runs; ++run) {
        bare.push_back(runOnce(app, paths, std::make_shared<BareProgress>(), [] { return true; }));
        auto holder = std::make_shared<CoreHolder>();
        std::shared_ptr<KZProgressControl> progress(holder, &holder->core);
        const double seconds = runOnce(app, paths, progress, [&] { return holder->display.ended; });
        clocked.push_back(seconds);
        worstRate = std::max(worstRate, holder->display.refreshes / seconds);
        KZSetSearchInProgress(false);
    }
    const double b = median(bare), c = median(clocked);
    std::printf("runs: %d\nbare progress:      %.3f s (median)\nwith window clock:  %.3f s (median)\n"
                "difference:         %+.2f %%\nrefreshes per second (worst run): %.1f\n",
                runs, b, c, (c - b) / b * 100.0, worstRate);
    return 0;
}
