#include "engine/KZFolderListings.h"

#include "engine/KZFolderAncestry.h"
#include "engine/KZSearchItemInfo.h"
#include "platform/DirectoryListing.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string_view>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>

namespace kzfolders {

namespace {

// Names that never make two folders differ: the system's own view settings.
bool cantBeCompared(const std::string& name)
{
    return name == "." || name == ".." || name.rfind(".DS_Store", 0) == 0;
}

std::string caseFolded(const std::string& text)
{
    std::string folded = text;
    std::transform(folded.begin(), folded.end(), folded.begin(),
                   [](unsigned char c) { return char(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c); });
    return folded;
}

bool entryBefore(const DeepEntry& a, const DeepEntry& b)
{
    return a.key != b.key ? a.key < b.key : a.relative < b.relative;
}

// Opens a folder by a path of any length: a path longer than the system
// takes in one call is followed a piece at a time, each piece relative to
// the folder the previous one reached.
platform::DirectoryHandle openFolder(const std::string& bytes)
{
    constexpr std::size_t limit = PATH_MAX - 1;
    if (bytes.size() <= limit)
        return platform::DirectoryHandle::open(bytes);
    platform::DirectoryHandle here;
    std::size_t pos = 0;
    for (;;) {
        const bool last = bytes.size() - pos <= limit;
        const std::size_t cut = last ? bytes.size() : bytes.rfind('/', pos + limit);
        if (cut == std::string::npos || cut < pos)
            return {};
        const std::string piece = cut == pos ? std::string("/") : bytes.substr(pos, cut - pos);
        platform::DirectoryHandle next
            = platform::DirectoryHandle::openAt(here.isValid() ? here.fd() : AT_FDCWD, piece.c_str());
        if (!next.isValid() || last)
            return next;
        here = std::move(next);
        pos = cut + 1;
    }
}

bool identify(const platform::DirectoryHandle& handle, dev_t* device, ino_t* inode)
{
    struct stat st {};
    if (!handle.isValid() || ::fstat(handle.fd(), &st) != 0)
        return false;
    *device = st.st_dev;
    *inode = st.st_ino;
    return true;
}

// Folders a deep listing keeps open at once; deeper ones are opened again,
// as ".." of the folder below, when the listing climbs back to them.
constexpr std::size_t kMaxOpenFolders = 32;

// A location without the slashes that may end it, but for the root's own.
std::string_view trimmed(std::string_view location)
{
    while (location.size() > 1 && location.back() == '/')
        location.remove_suffix(1);
    return location;
}

std::uint64_t mixed(std::uint64_t hash, std::uint64_t value)
{
    hash ^= value + 0x9E3779B97F4A7C15ull + (hash << 6) + (hash >> 2);
    hash ^= hash >> 31;
    return hash * 0xBF58476D1CE4E5B9ull;
}

} // namespace

// The passed-over names are left out here, before two listings are lined
// up, so that they cannot shift the pairs. A folder that is only partly seen
// cannot be called a duplicate.
bool deepListing(const std::string& root, Listing* listing, const std::function<bool()>& stopped)
{
    listing->root = root;
    listing->complete = false;
    std::vector<DeepEntry>* entries = &listing->entries;
    struct Frame {
        platform::DirectoryHandle handle;
        std::string relative;
        dev_t device = 0;
        ino_t inode = 0;
        std::vector<std::string> subfolders;
        std::size_t next = 0;
    };
    std::vector<Frame> stack;
    // Lists the folder of a new frame; false when it cannot be read whole.
    auto enter = [&](Frame frame) {
        if (!identify(frame.handle, &frame.device, &frame.inode))
            return false;
        bool complete = true;
        int err = 0;
        const bool listed = frame.handle.list([&](const platform::DirEntry& entry) {
            if (cantBeCompared(entry.name))
                return true;
            if (entry.statFailed) {
                if (entry.statError == ENOENT)
                    return true; // gone since the folder was read
                complete = false;
                return false;
            }
            std::string path = frame.relative.empty() ? entry.name : frame.relative + '/' + entry.name;
            if (entry.stat.isDir())
                frame.subfolders.push_back(entry.name);
            DeepEntry deep;
            deep.key = caseFolded(path);
            deep.relative = std::move(path);
            deep.mode = entry.stat.mode;
            deep.size = entry.stat.size;
            deep.device = quint64(entry.stat.device);
            deep.inode = entry.stat.inode;
            entries->push_back(std::move(deep));
            return true;
        }, &err);
        if (!listed || !complete)
            return false;
        stack.push_back(std::move(frame));
        if (stack.size() > kMaxOpenFolders)
            stack[stack.size() - 1 - kMaxOpenFolders].handle = platform::DirectoryHandle();
        return true;
    };

    Frame top;
    top.handle = openFolder(root);
    if (!enter(std::move(top)))
        return false;
    while (!stack.empty()) {
        if (stopped())
            return false;
        Frame& here = stack.back();
        if (here.next < here.subfolders.size()) {
            const std::string& name = here.subfolders[here.next++];
            Frame child;
            child.handle = platform::DirectoryHandle::openAt(here.handle.fd(), name.c_str());
            child.relative = here.relative.empty() ? name : here.relative + '/' + name;
            if (!child.handle.isValid() || !enter(std::move(child)))
                return false;
            continue;
        }
        platform::DirectoryHandle left = std::move(here.handle);
        stack.pop_back();
        if (stack.empty() || stack.back().handle.isValid())
            continue;
        Frame& parent = stack.back();
        if (parent.next == parent.subfolders.size())
            continue; // nothing more to open there
        platform::DirectoryHandle up = platform::DirectoryHandle::openAt(left.fd(), "..");
        dev_t device = 0;
        ino_t inode = 0;
        if (!identify(up, &device, &inode) || device != parent.device || inode != parent.inode)
            return false; // moved while it was listed: not the folder it was
        parent.handle = std::move(up);
    }
    std::sort(entries->begin(), entries->end(), entryBefore);
    listing->complete = true;
    return true;
}

FolderView::FolderView(std::shared_ptr<const Listing> base, std::vector<std::uint32_t> picks, bool whole)
    : base_(std::move(base)), picks_(std::move(picks)), whole_(whole)
{
    std::uint64_t shape = size();
    for (std::size_t i = 0; i < size(); ++i) {
        const DeepEntry& entry = (*this)[i];
        shape = mixed(shape, entry.mode & S_IFMT);
        shape = mixed(shape, entry.isRegular() ? entry.size : 0);
    }
    shape_ = shape;
}

std::shared_ptr<const FolderView> viewBelow(const std::shared_ptr<const Listing>& listing, const std::string& relative,
                                            quint64 device, quint64 inode)
{
    if (!listing || !listing->complete || relative.empty())
        return nullptr;
    const std::vector<DeepEntry>& entries = listing->entries;
    DeepEntry probe;
    probe.key = caseFolded(relative);
    probe.relative = relative;
    const auto self = std::lower_bound(entries.begin(), entries.end(), probe, entryBefore);
    if (self == entries.end() || self->relative != relative || !self->isDir())
        return nullptr;
    if ((device != 0 || inode != 0) && (self->device != device || self->inode != inode))
        return nullptr;
    // Everything below it shares its path as a prefix, so it lies in one run
    // of the sorted entries; a sibling whose name differs only in case shares
    // the run and is left out by the exact path.
    const std::string keyPrefix = probe.key + '/';
    const std::string prefix = relative + '/';
    std::vector<std::uint32_t> picks;
    probe.key = keyPrefix;
    probe.relative.clear();
    for (auto it = std::lower_bound(self, entries.end(), probe, entryBefore);
         it != entries.end() && it->key.compare(0, keyPrefix.size(), keyPrefix) == 0; ++it) {
        if (it->relative.compare(0, prefix.size(), prefix) == 0)
            picks.push_back(std::uint32_t(it - entries.begin()));
    }
    return std::make_shared<FolderView>(listing, std::move(picks), false);
}

FolderListings::FolderListings(const std::vector<const KZSearchItemInfo*>& folders, const KZFolderAncestry& ancestry,
                               unsigned threads, std::function<bool()> stopped)
    : stopped_(std::move(stopped)), folders_(folders)
{
    const std::size_t count = folders.size();
    index_.reserve(count);
    struct Key {
        quint64 size, count;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& key) const noexcept
        {
            return std::size_t(key.size * 0x9E3779B97F4A7C15ull ^ key.count);
        }
    };
    std::unordered_map<Key, unsigned, KeyHash> met;
    auto comparable = [](const KZSearchItemInfo& folder) {
        return folder.isDirectory() && !folder.isPackage() && folder.totSize() > 0;
    };
    for (std::size_t i = 0; i < count; ++i) {
        index_.emplace(folders[i], i);
        if (comparable(*folders[i]))
            ++met[Key{folders[i]->totSize(), folders[i]->multiPurposeInfo()}];
    }
    std::vector<char> chosen(count, 0);
    for (std::size_t i = 0; i < count; ++i)
        chosen[i] = comparable(*folders[i]) && met[Key{folders[i]->totSize(), folders[i]->multiPurposeInfo()}] > 1;
    listedAbove_ = ancestry.highestChosenAbove(chosen);
    listedAbove_.resize(count, KZFolderAncestry::kNone);
    for (std::size_t i = 0; i < count; ++i)
        if (chosen[i] && listedAbove_[i] == KZFolderAncestry::kNone)
            tops_.push_back(i);
    listings_.resize(count);
    ready_.assign(count, 0);
    upFront_.assign(count, 0);
    for (std::size_t top : tops_)
        upFront_[top] = 1;
    views_.resize(count);
    // Locations are taken here, on this thread: the items are not shared.
    locations_.reserve(tops_.size());
    for (std::size_t top : tops_)
        locations_.emplace_back(trimmed(folders[top]->urlBytes()));
    if (threads <= 1 || tops_.size() < 2) {
        listFromQueue();
        return;
    }
    for (unsigned t = 0; t < std::min<std::size_t>(threads, tops_.size()); ++t)
        listers_.emplace_back([this] { listFromQueue(); });
}

void FolderListings::listFromQueue()
{
    for (std::size_t k = next_.fetch_add(1); k < tops_.size(); k = next_.fetch_add(1)) {
        auto listing = std::make_shared<Listing>();
        if (!stopped_()) // once stopped, what is left is not even opened
            deepListing(locations_[k], listing.get(), stopped_);
        std::lock_guard guard(lock_);
        listings_[tops_[k]] = std::move(listing);
        ready_[tops_[k]] = 1;
        madeOne_.notify_all();
    }
}

FolderListings::~FolderListings()
{
    for (std::thread& lister : listers_)
        lister.join();
}

const Listing* FolderListings::listingOf(std::size_t i)
{
    if (!upFront_[i])
        return nullptr;
    std::unique_lock lock(lock_);
    madeOne_.wait(lock, [&] { return ready_[i] != 0; });
    return listings_[i].get();
}

std::shared_ptr<const FolderView> FolderListings::listDirectly(const std::string& location)
{
    auto listing = std::make_shared<Listing>();
    deepListing(location, listing.get(), stopped_);
    if (stopped_())
        return nullptr; // cut short: never kept as the folder's listing
    return std::make_shared<FolderView>(std::move(listing), std::vector<std::uint32_t>(), true);
}

std::shared_ptr<const FolderView> FolderListings::viewOf(const KZSearchItemInfo& folder)
{
    const auto known = index_.find(&folder);
    if (known == index_.end()) {
        std::shared_ptr<const FolderView>& view = others_[&folder];
        if (!view)
            view = listDirectly(std::string(trimmed(folder.urlBytes())));
        return view;
    }
    const std::size_t i = known->second;
    std::shared_ptr<const FolderView>& view = views_[i];
    if (view)
        return view;
    const std::size_t above = listedAbove_[i];
    if (above == KZFolderAncestry::kNone && listingOf(i)) {
        view = std::make_shared<FolderView>(listings_[i], std::vector<std::uint32_t>(), true);
        return view;
    }
    const std::string location(trimmed(folder.urlBytes()));
    if (above != KZFolderAncestry::kNone && listingOf(above) && listings_[above]->complete) {
        const std::string& top = listings_[above]->root;
        const std::string prefix = top == "/" ? top : top + '/';
        if (location.size() > prefix.size() && location.compare(0, prefix.size(), prefix) == 0) {
            view = viewBelow(listings_[above], location.substr(prefix.size()),
                             folder.hasIdentity() ? folder.device() : 0, folder.hasIdentity() ? folder.inode() : 0);
        }
    }
    if (!view)
        view = listDirectly(location);
    return view;
}

} // namespace kzfolders
