#pragma once

// What --save adds to the search tool: the result model of the found items
// and the saved-result file. Only maravex-search-full links it (see
// maravex-search.cpp).

#include "settings/KZSourceItem.h"

#include <QString>
#include <QVariantMap>

#include <filesystem>
#include <memory>
#include <vector>

class KZFoundList;
class TreeToCheck;

namespace consolesave {

// Before the search: pictures are decoded by the linked decoder, and saved
// library items carry their library's positions, as in the program.
void prepareProcess();

// The found items, kept as the result window keeps them, until saved.
class FoundItems {
public:
    FoundItems();
    ~FoundItems();
    FoundItems(const FoundItems&) = delete;
    FoundItems& operator=(const FoundItems&) = delete;

    // A node of `list`, whose disks it names.
    void add(const TreeToCheck& node, const KZFoundList& list);
    // Marked as a result window first marks them. `leftOut` receives what
    // the user is told of items that could not be recorded; empty when the
    // file holds every found item.
    bool save(const QVariantMap& result, const std::vector<KZSourceItemRef>& sources,
              const std::filesystem::path& file, QString* error, QString* leftOut) const;

private:
    struct Items;
    std::unique_ptr<Items> items_;
};

} // namespace consolesave
