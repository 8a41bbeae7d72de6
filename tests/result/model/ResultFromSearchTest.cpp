// A result built from what the real engine found on a generated tree.
#include "result/model/KZFoundItemsCntrl.h"

#include "ResultModelTestSupport.h"
#include "TestSupport.h"
#include "engine/KZFoundListParcel.h"
#include "engine/KZProgressControl.h"
#include "engine/KZSearchController.h"
#include "platform/NotificationCenter.h"
#include "platform/OperationQueue.h"
#include "settings/KZDefaultsRegistry.h"
#include "settings/KZNotificationNames.h"
#include "settings/KZSearchStuff.h"
#include "settings/KZSourceItem.h"
#include "settings/KZTags.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <set>

namespace fs = std::filesystem;

namespace {

// Counts the found items per file-type tag, as the progress window does.
class CountingProgress : public KZProgressControl {
public:
    bool wasStopped() const override { return false; }
    void prepareToSearch(const QVariantMap&) override {}
    void prepareToSearchForFoldersContent() override {}
    void allowsShowResult() override {}
    void setFoundSize(quint64) override {}
    void setFoundCount(quint64) override {}
    void setCheckedCount(quint64) override {}
    void setItemsToCheckCount(quint64) override {}
    void setFoundItemFileType(const KZSearchItemInfo& item) override
    {
        std::lock_guard guard(lock_);
        ++counts_[item.fileTypeLabel()];
    }
    void setMainInfoTitle(const QString&) override {}
    void setIsSearching(bool) override {}
    void showDeterminateProgress() override {}
    void showFolderView(bool) override {}
    void initializeFoldersProgressWithTotValue(quint64) override {}
    void setFolderSizeValue(quint64) override {}
    void addCurrFoldersValue(quint64) override {}
    QVariantMap fileTypes() const override
    {
        std::lock_guard guard(lock_);
        QVariantMap types;
        for (const auto& [tag, count] : counts_)
            types.insert(QString::number(tag), count);
        return types;
    }

private:
    mutable std::mutex lock_;
    std::map<quint64, int> counts_;
};

QVariantMap searchFor(const std::vector<fs::path>& folders)
{
    auto stuff = KZSearchStuff::searchStuff();
    std::vector<KZSourceItemRef> sources;
    for (const fs::path& folder : folders)
        sources.push_back(KZSourceItem::create({{QStringLiteral("url"), QVariant::fromValue(folder)}}));
    stuff->setSources(sources);
    stuff->setCriteria(QVariantMap{
        {QStringLiteral("isSize"), true},
        {QStringLiteral("sizeStruct"), QVariantMap{{QStringLiteral("isSame"), true}}},
        {QStringLiteral("isContent"), true},
        {QStringLiteral("contentStruct"), QVariantMap{{QStringLiteral("isData"), true}}},
    });

    static int senderTag = 0;
    std::mutex mutex;
    std::condition_variable done;
    std::optional<QVariantMap> info;
    platform::Subscription subscription = platform::NotificationCenter::defaultCenter().addObserver(
        KZNotification::searchDidTerminate, platform::NotificationObject(&senderTag),
        [&](const platform::Notification& note) {
            std::lock_guard guard(mutex);
            if (!info)
                info = note.userInfo;
            done.notify_all();
        });
    KZSearchController::create(stuff, &senderTag, std::make_shared<CountingProgress>())->startToSearch();
    {
        std::unique_lock lock(mutex);
        done.wait_for(lock, std::chrono::seconds(120), [&] { return info.has_value(); });
    }
    KZSearchOperationQueue().waitUntilAllOperationsAreFinished();
    std::lock_guard guard(mutex);
    return info.value_or(QVariantMap());
}

} // namespace

TEST(ResultFromSearch, EngineListBecomesGroupedMarkedItems)
{
    KZDefaultsRegistry::setupDefaultsPreferences();
    kztest::TempDir dir;
    const auto put = [&](const std::string& rel, const std::string& bytes, time_t modified) {
        const fs::path path = dir.write(rel, bytes);
        modeltest::setModified(path, modified);
        return path;
    };
    const std::string photo(5000, 'p');
    const std::string notes = "the same notes, three times";
    const std::string data(70000, 'd');
    put("A/photo.jpg", photo, 1000);
    put("A/notes.txt", notes, 1000);
    const fs::path newestNotes = put("A/sub/copy.txt", notes, 9000);
    put("A/unique.bin", "only once", 1000);
    const fs::path newestPhoto = put("B/photo.jpg", photo, 2000);
    put("B/notes-copy.txt", notes, 3000);
    put("B/other.dat", data, 1000);
    const fs::path newestData = put("B/other2.dat", data, 1500);

    QVariantMap info = searchFor({dir / "A", dir / "B"});
    ASSERT_FALSE(info.isEmpty()) << "the search never ended";

    std::atomic<int> setups{0};
    platform::Subscription observer = platform::NotificationCenter::defaultCenter().addObserver(
        KZNotification::resultSetupDidTerminate, platform::bundleIdentifier(),
        [&](const platform::Notification&) { ++setups; });
    auto model = KZFoundItemsCntrl::create(nullptr, info);
    KZFoundItemsOperationQueue().waitUntilAllOperationsAreFinished();
    EXPECT_EQ(setups.load(), 1);
    EXPECT_TRUE(info.value(QStringLiteral("KZResultFoundItems")).value<KZFoundListParcel>().isEmpty());

    const KZFoundItemArray items = model->allItems();
    ASSERT_EQ(items.size(), 7);
    std::map<qint64, std::set<fs::path>> groups;
    std::map<qint64, int> unmarked;
    std::set<fs::path> kept;
    for (const KZFoundItemRef& item : items) {
        groups[item->groupID()].insert(item->url());
        if (!item->isMarked()) {
            ++unmarked[item->groupID()];
            kept.insert(item->url());
        }
    }
    const std::set<std::set<fs::path>> expected = {
        {dir / "A/photo.jpg", dir / "B/photo.jpg"},
        {dir / "A/notes.txt", dir / "A/sub/copy.txt", dir / "B/notes-copy.txt"},
        {dir / "B/other.dat", dir / "B/other2.dat"},
    };
    std::set<std::set<fs::path>> found;
    for (const auto& [id, paths] : groups)
        found.insert(paths);
    EXPECT_EQ(found, expected);

    for (const KZFoundItemRef& item : items)
        EXPECT_EQ(item->countOfItemsInGroup(), groups[item->groupID()].size()) << item->url();
    for (const auto& [id, count] : unmarked)
        EXPECT_EQ(count, 1) << "group " << id;
    EXPECT_EQ(unmarked.size(), 3u);
    EXPECT_EQ(kept, (std::set<fs::path>{newestNotes, newestPhoto, newestData}));

    // Two sources: each item carries its source's label, and the location
    // rows answer by it.
    quint64 size = 0;
    const KZFoundItemArray fromB =
        model->itemsByTag(static_cast<quint64>(KZTag::sourceRowBase) + 1, 0, &size);
    EXPECT_EQ(fromB.size(), 4);
    EXPECT_EQ(size, photo.size() + notes.size() + 2 * data.size());
    for (const KZFoundItemRef& item : fromB)
        EXPECT_EQ(item->url().parent_path().filename(), fs::path("B"));

    // The marked row of the whole result holds the four copies that go.
    EXPECT_EQ(model->itemsByTag(static_cast<quint64>(KZTag::markedItemsRowBase), 0, &size).size(), 4);
    model.reset();
    KZFoundItemFactsQueue().waitUntilAllOperationsAreFinished();
}
