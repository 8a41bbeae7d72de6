#include "engine/KZLocationGrouping.h"

#include "platform/FileStat.h"
#include "platform/Log.h"

#include <set>
#include <utility>

namespace fs = std::filesystem;

namespace {

using Identity = std::pair<quint64, quint64>; // device, inode

struct Record {
    std::size_t index = 0;
    Identity identity{};
    bool isFolder = false;
    std::vector<Identity> ancestors; // nearest first
};

bool stopped(KZLocationGroupingDelegate* delegate)
{
    return delegate && delegate->nsWasStopped();
}

} // namespace

std::vector<std::size_t> KZGroupItemsByLocation(const std::vector<KZLocationEntry>& entries,
                                                KZLocationGroupingDelegate* delegate)
{
    if (entries.size() == 1)
        return {0};
    if (delegate) {
        delegate->groupingStepBegan(2);
        delegate->updateFieldInfoWithString(QStringLiteral("gathering_data"));
    }

    std::vector<Record> records;
    records.reserve(entries.size());
    std::set<Identity> folders;
    quint64 count = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (stopped(delegate))
            break;
        if (delegate)
            delegate->setAlreadyCheckedCount(++count);
        const fs::path path = entries[i].path.lexically_normal();
        const auto st = platform::statPath(path, false);
        if (!st)
            continue;
        Record record{i, {quint64(st->device), st->inode}, entries[i].isFolder, {}};
        // Parents are read through the path the item was found under; a link
        // in that path is followed like the kernel follows it.
        for (fs::path parent = path.parent_path(); !parent.empty(); parent = parent.parent_path()) {
            const auto folder = platform::statPath(parent, true);
            if (!folder) {
                platform::logLine(QStringLiteral("groupItemsByLocation->parentURL error: No Parent directory ID"));
                record.ancestors.clear();
                break;
            }
            record.ancestors.push_back({quint64(folder->device), folder->inode});
            if (parent == parent.root_path())
                break;
        }
        if (record.isFolder)
            folders.insert(record.identity);
        records.push_back(std::move(record));
    }

    std::vector<bool> inside(records.size(), false);
    // Every list that was gathered says it is being compared, even one
    // without folders, where the step is over at once: the progress window
    // must not keep "gathering" for the rest of the search.
    const bool compares = !records.empty() && !stopped(delegate);
    if (compares && delegate)
        delegate->updateFieldInfoWithString(QStringLiteral("comparing"));
    if (compares && !folders.empty()) {
        if (delegate) {
            delegate->setAlreadyCheckedCount(0);
            delegate->groupingStepBegan(3);
        }
        count = 0;
        for (std::size_t r = 0; r < records.size(); ++r) {
            if (stopped(delegate))
                break;
            if (delegate)
                delegate->setAlreadyCheckedCount(++count);
            for (const Identity& ancestor : records[r].ancestors) {
                // The same item listed twice (a second path, a hard link) is
                // not inside itself.
                if (ancestor != records[r].identity && folders.count(ancestor)) {
                    inside[r] = true;
                    break;
                }
            }
        }
    }

    std::vector<std::size_t> kept;
    for (std::size_t r = records.size(); r-- > 0;) {
        if (!inside[r])
            kept.push_back(records[r].index);
    }
    return kept;
}
