#pragma once

// Found items and models made in memory for the marking tests: each item has
// the group, date, location, tab and size a case asks for, and nothing on
// disk unless a case gives it a real path.

#include "engine/KZAppSuppInfo.h"
#include "engine/KZFoundList.h"
#include "engine/KZFoundListParcel.h"
#include "engine/KZSearchItemInfo.h"
#include "engine/TreeToCheck.h"
#include "result/model/KZFoundItem.h"
#include "result/model/KZFoundItemsCntrl.h"
#include "services/KZDateUtilities.h"

#include <QString>
#include <QVariantMap>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace markingtest {

struct ItemShape {
    qint64 group = 1;
    double date = 100;       // seconds since 1 January 2001
    qint16 label = 0;        // location label
    quint64 type = 3;        // file-type tag
    quint64 size = 10;
    bool marked = false;
    std::filesystem::path path; // empty: a made-up path that does not exist
    qint16 owner = KZAppSuppInfo::None;
};

inline std::unique_ptr<TreeToCheck> makeNode(const ItemShape& shape, const KZItemsInGroup& counter)
{
    static std::atomic<quint64> nextInode{1000};
    const quint64 inode = nextInode.fetch_add(1);
    const std::filesystem::path location =
        shape.path.empty() ? std::filesystem::path("/nonexistent/marking") / ("item" + std::to_string(inode)) : shape.path;
    auto record = KZSearchItemInfo::create(location);
    record->setOriginalName(QString::fromStdString(location.filename().string()));
    record->setLabel(shape.label);
    record->setTotSize(shape.size);
    record->setFileTypeLabel(shape.type);
    record->setDevice(1);
    record->setInode(inode);
    const double wholeSeconds = std::floor(shape.date);
    timespec time{};
    time.tv_sec = static_cast<time_t>(wholeSeconds) + KZDateUtilities::referenceDateEpochSeconds;
    time.tv_nsec = static_cast<long>((shape.date - wholeSeconds) * 1e9);
    record->setModificationTime(time);
    if (shape.owner != KZAppSuppInfo::None)
        record->setAppSuppInfo(KZAppSuppInfo::create(QStringLiteral("id"), shape.owner));
    auto node = std::make_unique<TreeToCheck>(record);
    node->groupID = static_cast<quint64>(shape.group);
    node->itemsInGroup = counter;
    return node;
}

// Items of the shapes, in order; members of one group share a counter that
// holds the group's size.
inline KZFoundItemArray makeItems(const std::vector<ItemShape>& shapes)
{
    std::map<qint64, quint32> sizes;
    for (const ItemShape& shape : shapes)
        ++sizes[shape.group];
    std::map<qint64, KZItemsInGroup> counters;
    KZFoundItemArray items;
    for (const ItemShape& shape : shapes) {
        KZItemsInGroup& counter = counters[shape.group];
        if (!counter)
            counter = makeItemsInGroup(sizes[shape.group]);
        auto node = makeNode(shape, counter);
        KZFoundItemRef item = KZFoundItem::itemWithTreeNode(*node);
        item->setIsMarked(shape.marked);
        items.append(item);
    }
    return items;
}

// A found list in the engine's form, carrying the shapes.
inline QVariant parcelOf(const std::vector<ItemShape>& shapes)
{
    KZFoundList list;
    std::map<qint64, KZItemsInGroup> counters;
    // The list hands its newest node out first: prepend from the last shape.
    for (auto shape = shapes.rbegin(); shape != shapes.rend(); ++shape) {
        KZItemsInGroup& counter = counters[shape->group];
        if (!counter)
            counter = makeItemsInGroup(0);
        counter->fetch_add(1);
        list.prepend(makeNode(*shape, counter));
    }
    return KZFoundListParcel::toVariant(std::move(list));
}

// A model holding `items`, as if it had built them, with `types` file types
// found and location rows when `lastLocation` is 0 or more.
inline std::shared_ptr<KZFoundItemsCntrl> makeModel(const KZFoundItemArray& items, qint16 types = 2,
                                                    qint16 lastLocation = 1)
{
    auto model = std::make_shared<KZFoundItemsCntrl>(nullptr, QVariantMap());
    model->setFileTypesFoundCount(types);
    model->setLastLocationTagUsed(lastLocation);
    model->setAllItems(items);
    return model;
}

// "1" for each marked item, "0" for each unmarked one, in list order.
inline std::string marksOf(const KZFoundItemArray& items)
{
    std::string marks;
    for (const KZFoundItemRef& item : items)
        marks += item->isMarked() ? '1' : '0';
    return marks;
}

} // namespace markingtest
