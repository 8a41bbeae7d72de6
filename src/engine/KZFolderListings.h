#pragma once

#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include <sys/stat.h>
#include <sys/types.h>

class KZFolderAncestry;
class KZSearchItemInfo;

namespace kzfolders {

// One entry below a compared folder, with what the comparison needs of it.
struct DeepEntry {
    std::string key;      // the path below the listed folder, case-folded: the sort order
    std::string relative; // the same as it is, to open it and to break ties
    mode_t mode = 0;
    quint64 size = 0;
    quint64 device = 0;
    quint64 inode = 0;

    bool isDir() const { return S_ISDIR(mode); }
    bool isRegular() const { return S_ISREG(mode); }
    bool isSymlink() const { return S_ISLNK(mode); }
    bool sameItem(const DeepEntry& other) const { return device == other.device && inode == other.inode; }
};

// Every entry below one folder, hidden ones included, sorted by path
// ignoring case, the passed-over names left out.
struct Listing {
    std::string root; // the listed folder
    bool complete = false;
    std::vector<DeepEntry> entries;
};

// Lists `root` whole into `listing`. Each folder is opened relative to its
// parent, so neither depth nor the length of a path limits it. False (and
// the listing incomplete) when any part could not be listed or read, or
// when `stopped` answers true.
bool deepListing(const std::string& root, Listing* listing, const std::function<bool()>& stopped);

// A folder's deep listing, possibly seen through the listing of a folder
// above it: the entries are the same, in the same order, and their
// `relative` paths lead from `root()` to the same files.
class FolderView {
public:
    FolderView(std::shared_ptr<const Listing> base, std::vector<std::uint32_t> picks, bool whole);

    bool complete() const { return base_->complete; }
    std::size_t size() const { return whole_ ? base_->entries.size() : picks_.size(); }
    const DeepEntry& operator[](std::size_t i) const { return base_->entries[whole_ ? i : picks_[i]]; }
    const std::string& root() const { return base_->root; }
    // The kinds of the entries and the sizes of the files, in order, as one
    // number: two folders whose shapes differ cannot hold the same content.
    std::uint64_t shape() const { return shape_; }

private:
    std::shared_ptr<const Listing> base_;
    std::vector<std::uint32_t> picks_;
    bool whole_;
    std::uint64_t shape_ = 0;
};

// The part of a complete listing below the entry `relative` (a path from its
// root), which must be a folder with the given identity (0, 0 for any).
// Null when the listing holds no such folder, for instance when one of the
// names on the way is passed over.
std::shared_ptr<const FolderView> viewBelow(const std::shared_ptr<const Listing>& listing, const std::string& relative,
                                            quint64 device, quint64 inode);

// The deep listings of the folders a folder search compares. Only folders
// that share their size and count with another can be compared; those of
// them that lie inside no other such folder are listed side by side, in the
// order the comparisons meet them, while the comparisons begin, and any
// folder below them is then seen through their listing: each entry of the
// tree is listed at most once.
class FolderListings {
public:
    // `folders` in the order the comparisons meet them, which is the order
    // the ancestry learnt them in; with one thread the listings are made
    // before the constructor returns.
    FolderListings(const std::vector<const KZSearchItemInfo*>& folders, const KZFolderAncestry& ancestry,
                   unsigned threads, std::function<bool()> stopped);
    ~FolderListings();
    FolderListings(const FolderListings&) = delete;
    FolderListings& operator=(const FolderListings&) = delete;

    // Null when the search was stopped while the folder was listed.
    std::shared_ptr<const FolderView> viewOf(const KZSearchItemInfo& folder);

private:
    // The listing of a folder listed up front, once it is made.
    const Listing* listingOf(std::size_t i);
    // Lists the next folder nobody has taken yet, until none is left.
    void listFromQueue();
    std::shared_ptr<const FolderView> listDirectly(const std::string& location);

    std::function<bool()> stopped_;
    std::vector<const KZSearchItemInfo*> folders_;
    std::unordered_map<const KZSearchItemInfo*, std::size_t> index_;
    std::vector<std::size_t> listedAbove_;  // the folder whose listing holds this one's, or none
    std::vector<std::size_t> tops_;         // the folders listed up front, in their order
    std::vector<std::string> locations_;    // of tops_
    std::atomic<std::size_t> next_{0};      // the first of tops_ nobody has taken
    std::vector<char> upFront_;             // by folder: one of tops_
    std::vector<std::shared_ptr<Listing>> listings_; // of those, by folder; each written once, then ready
    std::vector<char> ready_;               // under lock_
    std::mutex lock_;
    std::condition_variable madeOne_;
    std::vector<std::thread> listers_;
    std::vector<std::shared_ptr<const FolderView>> views_;
    std::unordered_map<const KZSearchItemInfo*, std::shared_ptr<const FolderView>> others_;
};

} // namespace kzfolders
