#pragma once

#include "engine/KZContentReader.h"
#include "engine/KZFoundListParcel.h"
#include "engine/KZNodeCache.h"
#include "engine/KZProgressControl.h"
#include "engine/KZSearchController.h"
#include "engine/KZSearchItemInfo.h"
#include "engine/TreeToCheck.h"
#include "platform/NotificationCenter.h"
#include "platform/OperationQueue.h"
#include "settings/KZNotificationNames.h"
#include "settings/KZSearchStuff.h"
#include "settings/KZSourceItem.h"

#include <QCoreApplication>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace enginetest {

namespace fs = std::filesystem;

inline QString str(const char* text) { return QString::fromUtf8(text); }

inline std::string randomBytes(std::size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    // Four bytes from each draw: the tests write megabytes of these.
    std::string bytes(n, '\0');
    for (std::size_t i = 0; i < n; i += 4) {
        const std::uint32_t word = gen();
        for (std::size_t k = 0; k < 4 && i + k < n; ++k)
            bytes[i + k] = char((word >> (8 * k)) & 0xFF);
    }
    return bytes;
}

inline std::string flipped(std::string bytes, std::size_t at, char mask = 1)
{
    bytes[at] = char(bytes[at] ^ mask);
    return bytes;
}

// A cache that counts how many of its kind are alive, so that a test can see
// every node freed exactly once (ASan reports a second free).
class CountedCache : public KZNodeCache {
public:
    CountedCache() { ++alive(); }
    ~CountedCache() override { --alive(); }
    static std::atomic<int>& alive()
    {
        static std::atomic<int> count{0};
        return count;
    }
};

inline KZSearchItemInfoRef item(const fs::path& url, const QString& name)
{
    auto info = KZSearchItemInfo::create(url);
    info->setOriginalName(name);
    return info;
}

inline std::unique_ptr<TreeToCheck> countedNode(KZSearchItemInfoRef candidate)
{
    auto node = TreeToCheck::create(std::move(candidate));
    node->crcs = std::make_unique<CountedCache>();
    return node;
}

// Tests may run as the super-user, whom permissions do not stop.
inline bool readableByAnyone(const fs::path& path)
{
    constexpr auto read = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path, ec);
    return ec || (status.permissions() & read) != fs::perms::none;
}

// Reads as a user without privileges would, records every read per open
// from any thread, and can refuse one file or fail its reads from an offset
// on, as a vanished file or a bad sector would.
class ObservingReader : public KZContentReader {
public:
    std::unique_ptr<File> open(const fs::path& path) override
    {
        {
            std::lock_guard guard(lock);
            ++attempts[path];
        }
        if (refuseAll || !readableByAnyone(path) || path == refused)
            return nullptr;
        auto inner = KZContentReader::fileSystem().open(path);
        if (!inner)
            return nullptr;
        std::lock_guard guard(lock);
        auto& opens = sessions[path];
        opens.emplace_back();
        return std::make_unique<Observed>(std::move(inner), this, path, opens.size() - 1);
    }

    // Every offset read, over all opens, in order.
    std::vector<quint64> offsetsOf(const fs::path& path)
    {
        std::lock_guard guard(lock);
        std::vector<quint64> all;
        for (const auto& offsets : sessions[path])
            all.insert(all.end(), offsets.begin(), offsets.end());
        return all;
    }

    std::mutex lock;
    std::map<fs::path, std::vector<std::vector<quint64>>> sessions; // per file, per open, the offsets
    std::map<fs::path, int> attempts; // every open asked for, refused or not
    bool refuseAll = false;
    fs::path refused;
    fs::path failing;
    quint64 failFrom = 0;

private:
    class Observed : public File {
    public:
        Observed(std::unique_ptr<File> inner, ObservingReader* owner, fs::path path, std::size_t session)
            : inner_(std::move(inner)), owner_(owner), path_(std::move(path)), session_(session) {}
        quint64 length() const override { return inner_->length(); }
        qint64 readAt(quint64 offset, char* buffer, std::size_t count) override
        {
            std::lock_guard guard(owner_->lock);
            owner_->sessions[path_][session_].push_back(offset);
            if (path_ == owner_->failing && offset >= owner_->failFrom)
                return -1;
            return inner_->readAt(offset, buffer, count);
        }

    private:
        std::unique_ptr<File> inner_;
        ObservingReader* owner_;
        fs::path path_;
        std::size_t session_;
    };
};

// A progress controller that records what the engine tells it and can be
// made to answer "stopped" once the search has listed enough items.
class RecordingProgress : public KZProgressControl {
public:
    bool wasStopped() const override { return stopped.load(); }
    void prepareToSearch(const QVariantMap& options) override
    {
        std::lock_guard guard(lock);
        prepareOptions = options;
    }
    void setFoundSize(quint64 size) override { foundSize = size; }
    void setFoundCount(quint64 count) override { foundCount = count; }
    void setCheckedCount(quint64 count) override { checkedCount = count; }
    void setItemsToCheckCount(quint64 count) override
    {
        if (stopAfterToCheck && count >= stopAfterToCheck)
            stopped = true;
        std::lock_guard guard(lock);
        toCheckCounts.push_back(count);
    }
    void setMainInfoTitle(const QString& title) override
    {
        std::lock_guard guard(lock);
        titles.append(title);
    }
    void setFoundItemFileType(const KZSearchItemInfo& item) override
    {
        std::lock_guard guard(lock);
        ++fileTypeCounts[item.fileTypeLabel()];
    }
    void setIsSearching(bool searching) override { isSearching = searching; }
    void showFolderView(bool show) override { (show ? folderViewShown : folderViewHidden)++; }
    void prepareToSearchForFoldersContent() override { ++foldersContentPrepared; }
    void initializeFoldersProgressWithTotValue(quint64 total) override
    {
        std::lock_guard guard(lock);
        folderTotals.push_back(total);
    }
    void setFolderSizeValue(quint64 size) override
    {
        std::lock_guard guard(lock);
        folderSizes.push_back(size);
    }
    void addCurrFoldersValue(quint64 value) override { folderValueAdded += value; }

    std::atomic<bool> stopped{false};
    std::atomic<quint64> stopAfterToCheck{0};
    std::atomic<quint64> foundSize{0};
    std::atomic<quint64> foundCount{0};
    std::atomic<quint64> checkedCount{0};
    std::atomic<bool> isSearching{true};
    std::atomic<int> folderViewShown{0};
    std::atomic<int> folderViewHidden{0};
    std::atomic<int> foldersContentPrepared{0};
    std::atomic<quint64> folderValueAdded{0};
    std::vector<quint64> folderTotals; // each pair of folders compared entry by entry
    std::vector<quint64> folderSizes;
    std::mutex lock;
    QVariantMap prepareOptions;
    std::map<quint64, int> fileTypeCounts;
    QStringList titles;
    std::vector<quint64> toCheckCounts;
};

// One found node, as the result model would see it.
struct FoundRow {
    fs::path path;
    quint64 groupID = 0;
    quint64 counter = 0; // the group's members counter, 0 without one
    const void* counterId = nullptr;
    bool head = false;
    quint64 size = 0;
    qint16 label = -1;
    quint64 fileTypeLabel = 0;
    qint16 owner = 0; // the media library it belongs to
    QString trackID;  // its identifier in that library
};

struct SearchResult {
    QVariantMap info;
    std::vector<FoundRow> rows; // in list order, newest find first
    int notifications = 0;
    std::shared_ptr<const KZScanDisks> disks; // as the found list carried them
};

inline KZSourceItemRef folderSource(const fs::path& path)
{
    return KZSourceItem::create({{str("url"), QVariant::fromValue(path)}});
}

struct SearchOptions {
    std::shared_ptr<RecordingProgress> progress;
    KZContentReader* reader = nullptr;
    bool noCriteria = false;
    unsigned hashingThreads = 0; // 0: as the machine gives
    unsigned scanThreads = 0;    // 0: as the machine gives
    std::size_t workerHashingBacklog = 1024; // 0: the scan workers hash every small file they may
    std::shared_ptr<KZSearchController>* keep = nullptr; // receives the controller
    // The follow-up search for the folders that a removal emptied.
    bool emptiedFoldersFollowUp = false;
    // The request's excluded locations, every one counted.
    std::vector<fs::path> excludedLocations = {};
    // How long the search may take; past it the result is empty (no
    // notification) and the search is left running.
    std::chrono::seconds bound{120};
};

// Runs one search to its end and answers what "searchDidTerminate" carried,
// walking the found list as the result model does (which frees every node).
inline SearchResult runSearch(const std::vector<KZSourceItemRef>& sources, const QVariantMap& criteria,
                              SearchOptions options = {})
{
    auto stuff = KZSearchStuff::searchStuff();
    stuff->setSources(sources);
    stuff->setCriteria(options.noCriteria ? std::nullopt : std::optional<QVariantMap>(criteria));
    stuff->setIsASearchForEmptyFoldersAfterTrashed(options.emptiedFoldersFollowUp);
    stuff->setExludedByLocation(options.excludedLocations);
    stuff->setExclLocsCount(options.excludedLocations.size());
    if (!options.progress)
        options.progress = std::make_shared<RecordingProgress>();

    static int senderTag = 0;
    std::mutex mutex;
    std::condition_variable done;
    SearchResult result;
    platform::Subscription subscription = platform::NotificationCenter::defaultCenter().addObserver(
        KZNotification::searchDidTerminate, platform::NotificationObject(&senderTag),
        [&](const platform::Notification& note) {
            std::lock_guard guard(mutex);
            if (result.notifications++ == 0)
                result.info = note.userInfo;
            done.notify_all();
        });
    {
        auto controller = KZSearchController::create(stuff, &senderTag, options.progress);
        controller->setContentReader(options.reader);
        controller->setHashingThreads(options.hashingThreads);
        controller->setScanThreads(options.scanThreads);
        controller->setWorkerHashingBacklog(options.workerHashingBacklog);
        controller->startToSearch();
        if (options.keep)
            *options.keep = controller;
    }
    {
        std::unique_lock lock(mutex);
        if (!done.wait_for(lock, options.bound, [&] { return result.notifications > 0; }))
            return {};
    }
    // Everything the search queued has returned: a second post would be seen.
    KZSearchOperationQueue().waitUntilAllOperationsAreFinished();
    std::lock_guard guard(mutex);
    KZFoundList list = KZFoundListParcel::take(result.info.value(str("KZResultFoundItems")));
    result.disks = list.scanDisks();
    while (std::unique_ptr<TreeToCheck> node = list.takeFirst()) {
        result.rows.push_back({node->item->url(), node->groupID,
                               node->itemsInGroup ? node->itemsInGroup->load() : 0, node->itemsInGroup.get(),
                               node->inGroup, node->item->totSize(), node->item->label(),
                               node->item->fileTypeLabel(),
                               node->item->appSuppInfo() ? node->item->appSuppInfo()->whichOwnerItem() : qint16(0),
                               node->item->appSuppInfo() ? node->item->appSuppInfo()->trackID() : QString()});
    }
    return result;
}

// The library passes ask their questions on the main thread, as the program does:
// the search runs beside a main thread that answers them, and a search that
// does not end in time fails the run instead of hanging it.
inline SearchResult runSearchAnswering(const std::vector<KZSourceItemRef>& sources, const QVariantMap& criteria,
                             SearchOptions options = {})
{
    auto running = std::async(std::launch::async, [&] { return runSearch(sources, criteria, options); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (running.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) {
        QCoreApplication::processEvents();
        if (std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "the search did not end within a minute\n");
            std::abort();
        }
    }
    return running.get();
}

inline SearchResult runSearch(const std::vector<fs::path>& folders, const QVariantMap& criteria,
                              SearchOptions options = {})
{
    std::vector<KZSourceItemRef> sources;
    for (const auto& folder : folders)
        sources.push_back(folderSource(folder));
    return runSearch(sources, criteria, std::move(options));
}

inline QVariantMap sizeAndContentCriteria(bool unique = false)
{
    return {
        {str("isSize"), true},
        {str("sizeStruct"), QVariantMap{{str(unique ? "isUnique" : "isSame"), true}}},
        {str("isContent"), true},
        {str("contentStruct"), QVariantMap{{str("isData"), true}}},
    };
}

using Groups = std::set<std::set<fs::path>>;

inline Groups groupSet(const std::vector<FoundRow>& rows)
{
    std::map<quint64, std::set<fs::path>> byId;
    for (const auto& row : rows)
        byId[row.groupID].insert(row.path);
    Groups groups;
    for (auto& [id, paths] : byId)
        groups.insert(paths);
    return groups;
}

} // namespace enginetest
