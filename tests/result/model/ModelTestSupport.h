#pragma once

// Found lists, items and models made for the tests. A node whose path exists
// takes its size, identity and date from the disk as a scan would; a node
// without a path gets a made-up location and identity.

#include "engine/KZAppSuppInfo.h"
#include "engine/KZFoundListParcel.h"
#include "engine/TreeToCheck.h"
#include "platform/FileStat.h"
#include "result/model/KZFoundItem.h"
#include "result/model/KZFoundItemsCntrl.h"
#include "result/model/KZMarkingRequest.h"
#include "services/KZDateUtilities.h"

#include <QFile>

#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <thread>

#include <sys/time.h>

namespace modeltest {

// Each node carries one, so a node freed twice or never shows in the count
// (and a second free in ASan).
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

struct ItemShape {
    std::filesystem::path path{}; // empty: a made-up location that does not exist
    qint64 group = 1;
    qint16 label = 0;             // location label; -1 for a search of one source
    quint64 tag = 3;              // file-type tag
    quint64 size = 0;             // 0: the file's own size, if there is a file
    std::optional<double> date{}; // seconds since 1 January 2001; else the file's, else 100
    bool marked = false;
    bool isDirectory = false;
    bool isPackage = false;
    quint32 osType = 0;
    qint16 owner = KZAppSuppInfo::None;
};

// What a test can watch after the list is handed over.
struct ListWatch {
    std::vector<std::weak_ptr<KZSearchItemInfo>> records;
    std::map<qint64, std::weak_ptr<std::atomic<quint32>>> counters;
};

inline std::unique_ptr<TreeToCheck> makeNode(const ItemShape& shape, const KZItemsInGroup& counter = {})
{
    static std::atomic<quint64> nextInode{1000};
    const quint64 inode = nextInode.fetch_add(1);
    const bool madeUp = shape.path.empty();
    const std::filesystem::path location =
        madeUp ? std::filesystem::path("/nonexistent/model") / ("item" + std::to_string(inode)) : shape.path;
    auto record = KZSearchItemInfo::create(location);
    record->setOriginalName(QFile::decodeName(location.filename().c_str()));
    record->setLabel(shape.label);
    record->setFileTypeLabel(shape.tag);
    record->setIsDirectory(shape.isDirectory || shape.isPackage);
    record->setIsPackage(shape.isPackage);
    record->setType(shape.osType);
    record->setTotSize(shape.size);
    timespec modified{};
    if (madeUp) {
        record->setDevice(1);
        record->setInode(inode);
    } else if (const auto st = platform::statPath(location, false)) {
        record->setDevice(st->device);
        record->setInode(st->inode);
        modified = st->modified;
        if (shape.size == 0 && st->isRegular())
            record->setTotSize(st->size);
    }
    if (shape.date || madeUp) {
        const double date = shape.date.value_or(100);
        modified.tv_sec = static_cast<time_t>(std::floor(date)) + KZDateUtilities::referenceDateEpochSeconds;
        modified.tv_nsec = static_cast<long>((date - std::floor(date)) * 1e9);
    }
    record->setModificationTime(modified);
    if (shape.owner != KZAppSuppInfo::None)
        record->setAppSuppInfo(KZAppSuppInfo::create(QStringLiteral("id"), shape.owner));
    auto node = TreeToCheck::create(record);
    node->groupID = static_cast<quint64>(shape.group);
    node->itemsInGroup = counter;
    node->crcs = std::make_unique<CountedCache>();
    return node;
}

// The engine's list of the shapes, in order; members of one group share a
// counter that holds the group's size.
inline KZFoundList makeList(const std::vector<ItemShape>& shapes, ListWatch* watch = nullptr)
{
    std::map<qint64, KZItemsInGroup> counters;
    for (const ItemShape& shape : shapes) {
        KZItemsInGroup& counter = counters[shape.group];
        counter = counter ? counter : makeItemsInGroup(0);
        counter->fetch_add(1);
    }
    KZFoundList list;
    // The list hands its newest node out first: prepend from the last.
    for (auto shape = shapes.rbegin(); shape != shapes.rend(); ++shape) {
        auto node = makeNode(*shape, counters[shape->group]);
        if (watch) {
            watch->records.push_back(node->item);
            watch->counters[shape->group] = counters[shape->group];
        }
        list.prepend(std::move(node));
    }
    return list;
}

inline QVariant parcelOf(const std::vector<ItemShape>& shapes)
{
    return KZFoundListParcel::toVariant(makeList(shapes));
}

// Items of the shapes, in order, as a model would have built them.
inline KZFoundItemArray makeItems(const std::vector<ItemShape>& shapes, ListWatch* watch = nullptr)
{
    KZFoundList list = makeList(shapes, watch);
    KZFoundItemArray items;
    for (const ItemShape& shape : shapes) {
        items.append(KZFoundItem::itemWithTreeNode(*list.takeFirst()));
        items.back()->setIsMarked(shape.marked);
    }
    return items;
}

inline KZFoundItemRef makeItem(const ItemShape& shape)
{
    return makeItems({shape}).first();
}

// A model holding `items`, with `types` file types found and location rows
// when `lastLocation` is 0 or more.
inline std::shared_ptr<KZFoundItemsCntrl> makeModel(const KZFoundItemArray& items, qint16 types = 2,
                                                    qint16 lastLocation = 1)
{
    auto model = std::make_shared<KZFoundItemsCntrl>(nullptr, QVariantMap());
    model->setFileTypesFoundCount(types);
    model->setLastLocationTagUsed(lastLocation);
    model->setAllItems(items);
    return model;
}

// A marking request of `rule` from the tab `owner` for its list `tag`; the
// items and the bookkeeping only when given.
inline QVariantMap markRequest(int rule, int check, quint64 owner, quint64 tag, const QVariant& items = {},
                               const KZViewsToUpdateRef& info = nullptr)
{
    QVariantMap request{{KZMarkingKey::menuItemTag, rule},
                        {KZMarkingKey::checkBtnState, check},
                        {KZMarkingKey::ownerTag, QVariant::fromValue(owner)},
                        {KZMarkingKey::itemsToManageTag, QVariant::fromValue(tag)}};
    if (items.isValid())
        request.insert(KZMarkingKey::itemsToManage, items);
    if (info)
        request.insert(KZMarkingKey::infoDict, QVariant::fromValue(info));
    return request;
}

// Bookkeeping entries for the tabs.
inline KZViewsToUpdateRef viewsFor(const std::vector<quint64>& tabs)
{
    auto info = std::make_shared<KZViewsToUpdate>();
    for (quint64 tab : tabs)
        (*info)[tab] = std::make_shared<KZViewToUpdate>();
    return info;
}

// "1" for each marked item, "0" for each unmarked one, in list order.
inline std::string marksOf(const KZFoundItemArray& items)
{
    std::string marks;
    for (const KZFoundItemRef& item : items)
        marks += item->isMarked() ? '1' : '0';
    return marks;
}

inline QStringList names(const KZFoundItemArray& items)
{
    QStringList result;
    for (const KZFoundItemRef& item : items)
        result << item->name();
    return result;
}

inline void onThreads(int count, const std::function<void()>& work)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < count; ++t)
        threads.emplace_back(work);
    for (std::thread& thread : threads)
        thread.join();
}

// Sets a file's modification time to `seconds` since 1970.
inline void setModified(const std::filesystem::path& path, time_t seconds)
{
    const timeval times[2] = {{seconds, 0}, {seconds, 0}};
    ::utimes(path.c_str(), times);
}

} // namespace modeltest
