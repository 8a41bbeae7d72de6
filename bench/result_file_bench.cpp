// Saving and reopening a large result (Google Benchmark): the command-line
// tools' save of a finished search (bookmarks, records, the binary property
// list, the file), and the reopening of that file (reading and checking it,
// then rebuilding every record against the disk into the found list a search
// would have made).
//
//   result_file_bench [--folder DIR] [--benchmark_filter=...]
//
// The N files (N = 100,000 and 400,000) lie in folders of 1,000, in pairs of
// copies, in DIR (default: a new folder in the temporary folder), made on
// first use and removed at the end. Besides the time, each run reports the
// process's peak resident memory ("peak_MB", the largest so far: run one
// benchmark per process to read it for that benchmark alone), how far a save
// raised it ("peak_growth_MB", when the save sets the peak), what the step
// still holds once it has ended ("after_MB"; for a save, with the result
// still there) and the file's size per item.

#include "engine/TreeToCheck.h"
#include "platform/FileStat.h"
#include "platform/MallocArenas.h"
#include "platform/OperationQueue.h"
#include "result/model/KZFoundItem.h"
#include "resultfiles/KZSaveResult.h"
#include "resultfiles/KZSavedResultReopen.h"
#include "settings/KZTags.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

fs::path g_root;

double peakMegabytes()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

double residentMegabytes()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return double(resident) * double(::sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// The tree of `files` files, made once per size.
fs::path tree(int files)
{
    const fs::path top = g_root / ("tree-" + std::to_string(files));
    if (fs::exists(top / ".done"))
        return top;
    for (int i = 0; i < files; ++i) {
        const fs::path folder = top / ("d" + std::to_string(i / 1000));
        if (i % 1000 == 0)
            fs::create_directories(folder);
        const std::string content = "group " + std::to_string(i / 2) + " of the bench\n";
        const fs::path file = folder / ("file-with-a-name-" + std::to_string(i) + ".txt");
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || ::write(fd, content.data(), content.size()) != ssize_t(content.size())) {
            std::fprintf(stderr, "result_file_bench: cannot write %s\n", file.c_str());
            std::exit(1);
        }
        ::close(fd);
    }
    std::ofstream(top / ".done") << "";
    return top;
}

// The found items a search of the tree hands the result window.
KZFoundItemArray foundItems(const fs::path& top, int files)
{
    KZFoundItemArray items;
    items.reserve(files);
    KZItemsInGroup counter;
    for (int i = 0; i < files; ++i) {
        if (i % 2 == 0)
            counter = makeItemsInGroup(2);
        const fs::path file =
            top / ("d" + std::to_string(i / 1000)) / ("file-with-a-name-" + std::to_string(i) + ".txt");
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
        items.append(KZFoundItem::itemWithTreeNode(node));
    }
    return items;
}

std::vector<KZSourceItemRef> sourcesOf(const fs::path& top)
{
    return {KZSourceItem::create({{QStringLiteral("url"), QVariant::fromValue(top)}})};
}

fs::path savedFile(int files)
{
    return g_root / ("result-" + std::to_string(files) + ".maravex");
}

void reportMemory(benchmark::State& state, double before)
{
    state.counters["peak_MB"] = peakMegabytes();
    state.counters["after_MB"] = residentMegabytes() - before;
}

void BM_Save(benchmark::State& state)
{
    const int files = int(state.range(0));
    const fs::path top = tree(files);
    const fs::path file = savedFile(files);
    const std::vector<KZSourceItemRef> sources = sourcesOf(top);
    double kept = 0;
    double peakBefore = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // Fresh items: a save makes each item's bookmark once.
        KZFoundItemArray items = foundItems(top, files);
        const double before = residentMegabytes();
        peakBefore = peakMegabytes();
        state.ResumeTiming();
        QString error;
        if (!KZSaveResult::saveSearchResult(items, {}, sources, file, &error)) {
            state.SkipWithError(error.toUtf8().constData());
            return;
        }
        state.PauseTiming();
        // What the save left behind while the result stays: the items'
        // bookmarks, and whatever it did not give back.
        kept = residentMegabytes() - before;
        items.clear();
        state.ResumeTiming();
    }
    state.counters["peak_MB"] = peakMegabytes();
    state.counters["peak_growth_MB"] = peakMegabytes() - peakBefore;
    state.counters["after_MB"] = kept;
    state.counters["file_bytes_per_item"] = double(fs::file_size(file)) / files;
    state.SetItemsProcessed(state.iterations() * files);
}
BENCHMARK(BM_Save)->Arg(100000)->Arg(400000)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_Reopen(benchmark::State& state)
{
    const int files = int(state.range(0));
    const fs::path top = tree(files);
    const fs::path file = savedFile(files);
    if (!fs::exists(file)) {
        QString error;
        if (!KZSaveResult::saveSearchResult(foundItems(top, files), {}, sourcesOf(top), file, &error)) {
            state.SkipWithError(error.toUtf8().constData());
            return;
        }
    }
    const double before = residentMegabytes();
    double readSeconds = 0;
    for (auto _ : state) {
        std::optional<KZReopenedResult> rebuilt;
        {
            const auto start = std::chrono::steady_clock::now();
            QString error;
            const std::optional<KZSavedResult> saved = KZSavedResultReopen::readFile(file, &error);
            if (!saved) {
                state.SkipWithError(error.toUtf8().constData());
                return;
            }
            readSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            rebuilt = KZSavedResultReopen::rebuild(*saved, KZSavedResultReopen::resolveSources(saved->sources), {});
        }
        if (rebuilt->itemsCount != quint64(files)) {
            state.SkipWithError("not every item was rebuilt");
            return;
        }
        benchmark::DoNotOptimize(rebuilt->itemsCount);
        // The window keeps what was rebuilt: its freeing is no part of the
        // reopening (the file's records, freed above, are).
        state.PauseTiming();
        rebuilt.reset();
        state.ResumeTiming();
    }
    reportMemory(state, before);
    state.counters["read_s"] = readSeconds / double(state.iterations());
    state.SetItemsProcessed(state.iterations() * files);
}
BENCHMARK(BM_Reopen)->Arg(100000)->Arg(400000)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    platform::limitMallocArenas();
    QCoreApplication app(argc, argv);
    const platform::ApplicationWorkGuard applicationWork;
    bool ownRoot = true;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--folder") && i + 1 < argc) {
            g_root = argv[i + 1];
            ownRoot = false;
            for (int j = i; j + 2 <= argc; ++j)
                argv[j] = argv[j + 2];
            argc -= 2;
            break;
        }
    }
    if (g_root.empty())
        g_root = fs::temp_directory_path() / ("maravex-result-file-bench-" + std::to_string(::getpid()));
    fs::create_directories(g_root);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (ownRoot) {
        std::error_code ec;
        fs::remove_all(g_root, ec);
    }
    return 0;
}
