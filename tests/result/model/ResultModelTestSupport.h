#pragma once

#include "engine/KZFoundList.h"
#include "engine/KZNodeCache.h"
#include "engine/KZSearchItemInfo.h"
#include "engine/TreeToCheck.h"
#include "platform/FileStat.h"

#include <QFile>
#include <QString>

#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include <sys/time.h>

namespace modeltest {

// Counts live nodes: each node carries one, so a node freed twice or never
// shows in the count (and a second free in ASan).
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

// One node of a synthetic found list. A path that exists on disk gives the
// record its size, identity and modification time as a scan would.
struct NodeSpec {
    std::filesystem::path path;
    quint64 group = 1;
    qint16 label = -1;
    quint64 fileTypeTag = 1;
    bool isDirectory = false;
    bool isPackage = false;
    quint32 type = 0;
    quint64 size = 0;
};

// What a test can watch after the list is handed over.
struct ListWatch {
    std::vector<std::weak_ptr<KZSearchItemInfo>> records;
    std::map<quint64, std::weak_ptr<std::atomic<quint32>>> counters;
};

inline KZFoundList makeList(const std::vector<NodeSpec>& specs, ListWatch* watch = nullptr)
{
    std::map<quint64, quint32> members;
    for (const NodeSpec& spec : specs)
        ++members[spec.group];
    std::map<quint64, KZItemsInGroup> counters;
    for (const auto& [group, count] : members) {
        counters[group] = makeItemsInGroup(count);
        if (watch)
            watch->counters[group] = counters[group];
    }

    KZFoundList list;
    // The list is walked newest first: prepend backwards to keep spec order.
    for (auto it = specs.rbegin(); it != specs.rend(); ++it) {
        const NodeSpec& spec = *it;
        auto record = KZSearchItemInfo::create(spec.path);
        record->setOriginalName(QFile::decodeName(spec.path.filename().c_str()));
        record->setLabel(spec.label);
        record->setFileTypeLabel(spec.fileTypeTag);
        record->setIsDirectory(spec.isDirectory || spec.isPackage);
        record->setIsPackage(spec.isPackage);
        record->setType(spec.type);
        record->setTotSize(spec.size);
        if (const auto st = platform::statPath(spec.path, false)) {
            record->setDevice(st->device);
            record->setInode(st->inode);
            record->setModificationTime(st->modified);
            if (spec.size == 0 && st->isRegular())
                record->setTotSize(st->size);
        }
        if (watch)
            watch->records.push_back(record);
        auto node = TreeToCheck::create(record);
        node->groupID = spec.group;
        node->itemsInGroup = counters[spec.group];
        node->crcs = std::make_unique<CountedCache>();
        list.prepend(std::move(node));
    }
    return list;
}

// One node for a test that needs a single item.
inline std::unique_ptr<TreeToCheck> makeNode(const NodeSpec& spec, KZItemsInGroup counter = {})
{
    KZFoundList list = makeList({spec});
    auto node = list.takeFirst();
    if (counter)
        node->itemsInGroup = std::move(counter);
    return node;
}

// Sets a file's modification time to `seconds` since 1970.
inline void setModified(const std::filesystem::path& path, time_t seconds)
{
    const timeval times[2] = {{seconds, 0}, {seconds, 0}};
    ::utimes(path.c_str(), times);
}

} // namespace modeltest
