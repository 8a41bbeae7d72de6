#include "engine/KZFolderAncestry.h"

#include "engine/KZSearchItemInfo.h"

#include <string>
#include <string_view>

void KZFolderAncestry::learn(const std::vector<const KZSearchItemInfo*>& folders)
{
    clear();
    const std::size_t count = folders.size();
    // Locations link each folder to its parent once, here; the strings are
    // dropped again before the walk.
    std::vector<std::string> locations;
    locations.reserve(count); // string_views below point into these
    std::unordered_map<std::string_view, std::size_t> byLocation;
    byLocation.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        locations.push_back(folders[i]->urlBytes());
        std::string& location = locations.back();
        while (location.size() > 1 && location.back() == '/')
            location.pop_back();
        byLocation.emplace(std::string_view(location), i);
        if (folders[i]->hasIdentity())
            byIdentity_.emplace(Identity{folders[i]->device(), folders[i]->inode()}, i);
    }
    parent_.assign(count, kNone);
    std::vector<std::size_t> childCount(count + 1, 0);
    for (std::size_t i = 0; i < count; ++i) {
        const std::string_view location = locations[i];
        const std::size_t slash = location.rfind('/');
        if (slash == std::string_view::npos || location.size() <= 1)
            continue;
        const auto parent = byLocation.find(location.substr(0, slash == 0 ? 1 : slash));
        if (parent == byLocation.end() || parent->second == i)
            continue;
        parent_[i] = parent->second;
        ++childCount[parent->second];
    }
    firstChild_.assign(count + 1, 0);
    for (std::size_t i = 0; i < count; ++i)
        firstChild_[i + 1] = firstChild_[i] + childCount[i];
    children_.assign(firstChild_[count], 0);
    std::vector<std::size_t> filled(firstChild_.begin(), firstChild_.end() - 1);
    for (std::size_t i = 0; i < count; ++i)
        if (parent_[i] != kNone)
            children_[filled[parent_[i]]++] = i;
    state_.assign(count, 0);
}

std::size_t KZFolderAncestry::indexOf(const KZSearchItemInfo& folder) const
{
    if (!folder.hasIdentity())
        return kNone;
    const auto known = byIdentity_.find(Identity{folder.device(), folder.inode()});
    return known == byIdentity_.end() ? kNone : known->second;
}

void KZFolderAncestry::addFound(const KZSearchItemInfo& folder)
{
    const std::size_t found = indexOf(folder);
    if (found == kNone || (state_[found] & kFound))
        return;
    anyFound_ = true;
    const bool wasInside = state_[found] & kInside;
    state_[found] |= kFound;
    // Everything below it. A folder already marked had its whole subtree
    // marked with it, so each folder is visited once over the whole walk.
    if (!wasInside) {
        std::vector<std::size_t> pending(children_.begin() + std::ptrdiff_t(firstChild_[found]),
                                         children_.begin() + std::ptrdiff_t(firstChild_[found + 1]));
        while (!pending.empty()) {
            const std::size_t i = pending.back();
            pending.pop_back();
            if (state_[i] & (kInside | kFound)) {
                state_[i] |= kInside;
                continue;
            }
            state_[i] |= kInside;
            pending.insert(pending.end(), children_.begin() + std::ptrdiff_t(firstChild_[i]),
                           children_.begin() + std::ptrdiff_t(firstChild_[i + 1]));
        }
    }
    // Everything above it, up to a folder that already holds a found one.
    for (std::size_t i = parent_[found]; i != kNone && !(state_[i] & kHolds); i = parent_[i])
        state_[i] |= kHolds;
}

bool KZFolderAncestry::isContained(const KZSearchItemInfo& folder) const
{
    if (!anyFound_)
        return false;
    const std::size_t i = indexOf(folder);
    return i != kNone && state_[i] != 0;
}

std::vector<std::size_t> KZFolderAncestry::highestChosenAbove(const std::vector<char>& chosen) const
{
    const std::size_t count = parent_.size();
    std::vector<std::size_t> highest(count, kNone);
    // From the tops down, so that a folder's parent is settled before it.
    std::vector<std::size_t> pending;
    for (std::size_t i = 0; i < count; ++i)
        if (parent_[i] == kNone)
            pending.push_back(i);
    while (!pending.empty()) {
        const std::size_t i = pending.back();
        pending.pop_back();
        const std::size_t below = highest[i] != kNone ? highest[i] : (i < chosen.size() && chosen[i] ? i : kNone);
        for (std::size_t c = firstChild_[i]; c < firstChild_[i + 1]; ++c) {
            highest[children_[c]] = below;
            pending.push_back(children_[c]);
        }
    }
    return highest;
}

void KZFolderAncestry::clear()
{
    byIdentity_.clear();
    parent_.clear();
    firstChild_.clear();
    children_.clear();
    state_.clear();
    anyFound_ = false;
}
