#pragma once

#include <QtGlobal>

#include <cstddef>
#include <unordered_map>
#include <vector>

class KZSearchItemInfo;

// The folders of a duplicate-folders search and the folder above each one,
// so that the walk can tell, for every folder it meets, whether it is a
// folder already found, lies inside one or holds one. Folders are known by
// (device, 64-bit inode) as the scan read them: nothing is looked up on the
// disk again, and marking a found folder's family costs each folder once over
// the whole walk, however deep the tree.
class KZFolderAncestry {
public:
    // Every folder the walk may meet, once, before it starts; a folder's
    // parent is the folder whose location is its own without the last name.
    void learn(const std::vector<const KZSearchItemInfo*>& folders);

    // Records a folder found as a duplicate. A folder the scan did not give
    // an identity, or that was not learned, is not recorded.
    void addFound(const KZSearchItemInfo& folder);

    // Whether the folder is, lies inside or holds a folder found so far.
    bool isContained(const KZSearchItemInfo& folder) const;

    // For every learnt folder, the highest of the folders above it that
    // `chosen` marks, or kNone.
    std::vector<std::size_t> highestChosenAbove(const std::vector<char>& chosen) const;

    bool anyFound() const { return anyFound_; }
    std::size_t size() const { return parent_.size(); }
    void clear();

    static constexpr std::size_t kNone = std::size_t(-1);

private:
    struct Identity {
        quint64 device;
        quint64 inode;
        bool operator==(const Identity&) const = default;
    };
    struct IdentityHash {
        std::size_t operator()(const Identity& key) const noexcept
        {
            return std::size_t(key.inode * 0x9E3779B97F4A7C15ull ^ key.device);
        }
    };
    enum : quint8 { kFound = 1, kInside = 2, kHolds = 4 };

    std::size_t indexOf(const KZSearchItemInfo& folder) const;

    std::unordered_map<Identity, std::size_t, IdentityHash> byIdentity_;
    std::vector<std::size_t> parent_;
    // Children of folder i: children_[firstChild_[i] .. firstChild_[i + 1]).
    std::vector<std::size_t> firstChild_;
    std::vector<std::size_t> children_;
    std::vector<quint8> state_;
    bool anyFound_ = false;
};
