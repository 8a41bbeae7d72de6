#pragma once

#include "engine/KZContentReader.h"
#include "engine/KZFoundListParcel.h"
#include "engine/KZProgressControl.h"
#include "engine/KZSearchController.h"
#include "engine/KZSearchItemInfo.h"
#include "platform/NotificationCenter.h"
#include "platform/OperationQueue.h"
#include "settings/KZNotificationNames.h"
#include "settings/KZSearchStuff.h"
#include "settings/KZSourceItem.h"

#include <QVariant>
#include <QVariantMap>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace searchtest {

namespace fs = std::filesystem;

inline QString str(const char* text)
{
    return QString::fromLatin1(text);
}

// A progress controller that records what the engine tells it and can be
// made to answer "stopped" once the search has checked enough items.
class RecordingProgress : public KZProgressControl {
public:
    bool wasStopped() const override { return stopped.load(); }
    void prepareToSearch(const QVariantMap& options) override
    {
        std::lock_guard guard(lock);
        prepareOptions = options;
        ++prepareCalls;
    }
    void prepareToSearchForFoldersContent() override {}
    void allowsShowResult() override {}
    void setFoundSize(quint64 size) override { foundSize = size; }
    void setFoundCount(quint64 count) override { foundCount = count; }
    void setCheckedCount(quint64 count) override
    {
        checkedCount = count;
        if (stopAfterChecked && count >= stopAfterChecked)
            stopped = true;
    }
    void setItemsToCheckCount(quint64 count) override
    {
        itemsToCheck = count;
        if (stopAfterToCheck && count >= stopAfterToCheck)
            stopped = true;
    }
    void setFoundItemFileType(const KZSearchItemInfo& item) override
    {
        std::lock_guard guard(lock);
        ++fileTypeCounts[item.fileTypeLabel()];
    }
    void setMainInfoTitle(const QString& title) override
    {
        std::lock_guard guard(lock);
        titles.push_back(title);
    }
    void setIsSearching(bool searching) override { isSearching = searching; }
    void showDeterminateProgress() override { ++determinateCalls; }
    void showFolderView(bool) override {}
    void initializeFoldersProgressWithTotValue(quint64) override {}
    void setFolderSizeValue(quint64) override {}
    void addCurrFoldersValue(quint64) override {}

    std::atomic<bool> stopped{false};
    std::atomic<quint64> stopAfterChecked{0};
    std::atomic<quint64> stopAfterToCheck{0};
    std::atomic<quint64> foundSize{0};
    std::atomic<quint64> foundCount{0};
    std::atomic<quint64> checkedCount{0};
    std::atomic<quint64> itemsToCheck{0};
    std::atomic<bool> isSearching{true};
    std::atomic<int> determinateCalls{0};
    std::mutex lock;
    QVariantMap prepareOptions;
    int prepareCalls = 0;
    std::map<quint64, int> fileTypeCounts;
    std::vector<QString> titles;
};

// One found node, as the result model would see it.
struct FoundRow {
    fs::path path;
    quint64 groupID = 0;
    quint64 counter = 0;          // the group's members counter, 0 without one
    const void* counterId = nullptr;
    bool head = false;
    quint64 size = 0;
    qint16 label = -1;
    quint64 fileTypeLabel = 0;
};

struct SearchResult {
    QVariantMap info;
    std::vector<FoundRow> rows; // in list order, newest find first
    int notifications = 0;
};

// Takes the list out of a result-info map and walks it as the result model
// does, freeing every node.
inline std::vector<FoundRow> takeRows(const QVariantMap& info)
{
    std::vector<FoundRow> rows;
    KZFoundList list = KZFoundListParcel::take(info.value(str("KZResultFoundItems")));
    while (std::unique_ptr<TreeToCheck> node = list.takeFirst()) {
        FoundRow row;
        row.path = node->item->url();
        row.groupID = node->groupID;
        row.counter = node->itemsInGroup ? node->itemsInGroup->load() : 0;
        row.counterId = node->itemsInGroup.get();
        row.head = node->inGroup;
        row.size = node->item->totSize();
        row.label = node->item->label();
        row.fileTypeLabel = node->item->fileTypeLabel();
        rows.push_back(row);
    }
    return rows;
}

inline KZSourceItemRef folderSource(const fs::path& path)
{
    return KZSourceItem::create({{str("url"), QVariant::fromValue(path)}});
}

struct SearchOptions {
    std::shared_ptr<RecordingProgress> progress;
    KZContentReader* reader = nullptr;
    std::vector<fs::path> excludedLocations;
    bool followUp = false;
    bool noCriteria = false;
    std::shared_ptr<KZSearchController>* keep = nullptr; // receives the controller
};

// Runs one search to its end and answers what "searchDidTerminate" carried.
inline SearchResult runSearch(const std::vector<KZSourceItemRef>& sources, const QVariantMap& criteria,
                              SearchOptions options = {})
{
    auto stuff = KZSearchStuff::searchStuff();
    stuff->setSources(sources);
    stuff->setCriteria(options.noCriteria ? std::nullopt : std::optional<QVariantMap>(criteria));
    stuff->setExludedByLocation(options.excludedLocations);
    stuff->setExclLocsCount(options.excludedLocations.size());
    stuff->setIsASearchForEmptyFoldersAfterTrashed(options.followUp);
    if (!options.progress)
        options.progress = std::make_shared<RecordingProgress>();

    static int senderTag = 0;
    const void* sender = &senderTag;
    std::mutex mutex;
    std::condition_variable done;
    SearchResult result;
    platform::Subscription subscription = platform::NotificationCenter::defaultCenter().addObserver(
        KZNotification::searchDidTerminate, platform::NotificationObject(sender),
        [&](const platform::Notification& note) {
            std::lock_guard guard(mutex);
            if (result.notifications++ == 0)
                result.info = note.userInfo;
            done.notify_all();
        });

    {
        auto controller = KZSearchController::create(stuff, sender, options.progress);
        controller->setContentReader(options.reader);
        controller->startToSearch();
        if (options.keep)
            *options.keep = controller;
    }
    {
        std::unique_lock lock(mutex);
        done.wait_for(lock, std::chrono::seconds(120), [&] { return result.notifications > 0; });
    }
    // Everything the search queued has returned: a second post would be seen.
    KZSearchOperationQueue().waitUntilAllOperationsAreFinished();
    std::lock_guard guard(mutex);
    result.rows = takeRows(result.info);
    return result;
}

inline SearchResult runSearch(const std::vector<fs::path>& folders, const QVariantMap& criteria,
                              SearchOptions options = {})
{
    std::vector<KZSourceItemRef> sources;
    for (const auto& folder : folders)
        sources.push_back(folderSource(folder));
    return runSearch(sources, criteria, std::move(options));
}

inline QVariantMap sizeAndContentCriteria(bool unique)
{
    return {
        {str("isSize"), true},
        {str("sizeStruct"), QVariantMap{{str(unique ? "isUnique" : "isSame"), true}}},
        {str("isContent"), true},
        {str("contentStruct"), QVariantMap{{str("isData"), true}}},
    };
}

// Groups of found paths keyed by group number.
inline std::map<quint64, std::set<fs::path>> groupsOf(const std::vector<FoundRow>& rows)
{
    std::map<quint64, std::set<fs::path>> groups;
    for (const auto& row : rows)
        groups[row.groupID].insert(row.path);
    return groups;
}

} // namespace searchtest
