#pragma once

#include "engine/KZNodeCache.h"
#include "engine/KZSearchItemInfo.h"
#include "engine/TreeToCheck.h"

#include <QString>

#include <atomic>
#include <filesystem>
#include <memory>

namespace enginetest {

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

inline KZSearchItemInfoRef item(const std::filesystem::path& url, const QString& name)
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

} // namespace enginetest
