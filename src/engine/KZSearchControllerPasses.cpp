// The passes that are not part of the scan: the music and photo libraries,
// whose files are fed into the scan's per-item path as their libraries list
// them, saved searches and song durations (not built yet: each stage is
// called where its pass belongs, and until then a source of such a kind
// contributes no items), and the content of duplicate folders, compared
// once the scan is over.

#include "engine/KZSearchController.h"

#include "engine/KZCompareCodes.h"
#include "engine/KZItemAttributes.h"
#include "engine/KZTreeWalk.h"
#include "platform/DirectoryListing.h"
#include "platform/Log.h"
#include "platform/OperationQueue.h"
#include "services/KZErrorDelegate.h"
#include "media/KZiTunesSupport.h"
#include "settings/KZSearchCriteria.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

void KZSearchController::gatherLibraryExclusions()
{
    if (criteria_->excludeiTunesItems())
        processiTunesLocationWithLabel(0);
    if (wasStopped() || criteria_->excludePhotosItemsDict().isEmpty())
        return;
    const fs::path library = QFile::encodeName(
                                 criteria_->excludePhotosItemsDict().value(QStringLiteral("libraryPath")).toString())
                                 .toStdString();
    processPhotosLocation(library, 0);
}

namespace {

enum class LibraryFile { Present, Missing, Other };

// What a library names at `path`, seen without following a link: a file to
// search, nothing (a missing file, or a link that leads nowhere), or
// something that is not searched as a library file (a folder, a link to
// something that is there, a special file, a file that cannot be looked at).
LibraryFile libraryFileAt(const fs::path& path)
{
    struct stat st {};
    if (path.empty())
        return LibraryFile::Missing;
    if (::lstat(path.c_str(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? LibraryFile::Missing : LibraryFile::Other;
    if (S_ISREG(st.st_mode))
        return LibraryFile::Present;
    if (S_ISLNK(st.st_mode) && ::stat(path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR))
        return LibraryFile::Missing;
    return LibraryFile::Other;
}

std::shared_ptr<KZAppSuppInfo> libraryOwner(const QString& identifier, KZAppSuppInfo::Owner owner)
{
    auto info = KZAppSuppInfo::create();
    if (!identifier.isEmpty()) {
        info->setWhichOwnerItem(owner);
        info->setTrackID(identifier);
    }
    return info;
}

QVariantMap deadTrack(const KZiTunesTrack& track)
{
    return {{QStringLiteral("url"), QVariant::fromValue(track.url)},
            {QStringLiteral("trackID"), track.trackID},
            {QStringLiteral("songName"), track.songName},
            {QStringLiteral("artist"), track.artist},
            {QStringLiteral("album"), track.album},
            {QStringLiteral("isiTunes"), true}};
}

} // namespace

void KZSearchController::feedLibraryFile(const fs::path& url, qint16 label, bool leaveOut,
                                         std::shared_ptr<KZAppSuppInfo> owner)
{
    const KZItemAttributes attributes = KZItemAttributes::read(url);
    const std::optional<QString> name = attributes.fileName();
    if (!name)
        return;
    if (leaveOut) {
        std::lock_guard guard(photosLock_);
        appURLsTree_.addNodeAppURLToTree(url, *name);
        return;
    }
    if (libraryURLsMet_.urlAlreadyExist(url) != 0)
        return;
    auto item = KZSearchItemInfo::create(url);
    if (!readItem(*item, label, attributes))
        return;
    item->setOriginalName(*name);
    item->setAppSuppInfo(std::move(owner));
    processFileItem(std::move(item));
}

void KZSearchController::processiTunesLocationWithLabel(qint16 label)
{
    const std::vector<KZiTunesTrack> tracks = KZiTunesSupport::sharedControl().mediaItems();
    const bool leaveOut = criteria_->excludeiTunesItems();
    const bool onlyDead = criteria_->isOnlyDead();
    for (const KZiTunesTrack& track : tracks) {
        if (wasStopped())
            return;
        const LibraryFile file = libraryFileAt(track.url);
        if (file == LibraryFile::Present) {
            if (!onlyDead)
                feedLibraryFile(track.url, label, leaveOut, libraryOwner(track.trackID, KZAppSuppInfo::ITunes));
            continue;
        }
        if (file != LibraryFile::Missing || leaveOut)
            continue;
        if (!criteria_->isDeads())
            askForDeads();
        if (!criteria_->isDeads())
            continue;
        if (!deadItems_)
            deadItems_ = std::make_unique<QVariantList>();
        deadItems_->append(deadTrack(track));
        if (onlyDead) {
            {
                std::lock_guard guard(progressLock_);
                ++itemsFoundCount_;
            }
            updateCountsForOnlyDeads();
        }
    }
}

void KZSearchController::askForDeads()
{
    if (alreadyAskedForDead_.exchange(true))
        return;
    const qint64 answer = KZErrorDelegate::sharedControl().askToTheUserWithView(
        QStringLiteral("missing_files_detected"), QStringLiteral("missing_files_detected_mess"), {},
        QStringLiteral("yes_button"), QStringLiteral("no_button"), QString(), QStringLiteral("ask_show_deads"),
        false);
    if (answer == KZErrorDelegate::FirstButton)
        criteria_->setIsDeads(true);
}

void KZSearchController::updateCountsForOnlyDeads()
{
    std::lock_guard guard(progressLock_);
    setItemsFoundProgress(itemsFoundCount_);
}

void KZSearchController::processPhotosLocation(const fs::path& path, qint16 label)
{
    photosIsWorking_ = 0;
    std::vector<KZPhotosImageEntry> first = KZPhotosSupport::sharedControl().photosDataWithPath(path);
    if (first.empty()) {
        photosDatabaseWasNotFound_ = true;
        return;
    }
    // Two halves read file attributes at once; with a single image the
    // first half is empty and the second holds it, so that it is searched
    // (and protected as a library item) like any other.
    const std::ptrdiff_t half = std::ptrdiff_t(first.size() / 2);
    std::vector<KZPhotosImageEntry> second(std::make_move_iterator(first.begin() + half),
                                           std::make_move_iterator(first.end()));
    first.resize(std::size_t(half));
    for (std::vector<KZPhotosImageEntry>* part : {&first, &second}) {
        if (part->empty())
            continue;
        {
            std::lock_guard guard(photosLock_);
            photosIsWorking_.fetch_add(1);
        }
        KZSearchOperationQueue().addOperation([self = shared_from_this(), items = std::move(*part), label] {
            self->firstPassForPhotosWithArray(items, label);
        });
    }
    // The driver files what the halves find while they work, and sleeps
    // when there is nothing to file.
    const bool leaveOut = criteria_->excludePhotosItems();
    for (;;) {
        const quint64 seen = eventCount();
        if (!leaveOut)
            secondTestProcess();
        if (photosIsWorking_.load() == 0)
            break;
        if (leaveOut || wasStopped() || !driverHasWork())
            waitForEvent(seen);
    }
}

void KZSearchController::firstPassForPhotosWithArray(const std::vector<KZPhotosImageEntry>& items, qint16 label)
{
    const bool leaveOut = criteria_->excludePhotosItems();
    const bool onlyDead = criteria_->isOnlyDead();
    for (const KZPhotosImageEntry& entry : items) {
        if (wasStopped())
            break;
        // Missing images are not reported, and what is not a plain file in
        // the library's Masters is no image of it.
        if (onlyDead || libraryFileAt(entry.imagePath) != LibraryFile::Present)
            continue;
        feedLibraryFile(entry.imagePath, label, leaveOut, libraryOwner(entry.uuid, KZAppSuppInfo::Photos));
    }
    {
        std::lock_guard guard(photosLock_);
        photosIsWorking_.fetch_sub(1);
    }
    signalEvent();
}

void KZSearchController::gatherSmartFolderItemsWithDict(const KZSourceItemRef& /*source*/, qint16 /*label*/) {}

void KZSearchController::collectSongsTime() {}

// ---- Folder content -------------------------------------------------------------------------

namespace kzfolders {

struct DeepEntry {
    std::string key;      // the path below the folder, case-folded: the sort order
    std::string relative; // the same as it is, to open it and to break ties
    platform::FileStat stat;
};

struct Listing {
    bool complete = false;
    std::vector<DeepEntry> entries;
};

} // namespace kzfolders

namespace {

using kzfolders::DeepEntry;


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

// Opens a folder by a path of any length: a path longer than the system
// takes in one call is followed a piece at a time, each piece relative to
// the folder the previous one reached.
platform::DirectoryHandle openFolder(const fs::path& path, int* err)
{
    constexpr std::size_t limit = PATH_MAX - 1;
    const std::string& bytes = path.native();
    if (bytes.size() <= limit)
        return platform::DirectoryHandle::open(path, err);
    platform::DirectoryHandle here;
    std::size_t pos = 0;
    for (;;) {
        const bool last = bytes.size() - pos <= limit;
        const std::size_t cut = last ? bytes.size() : bytes.rfind('/', pos + limit);
        if (cut == std::string::npos || cut < pos) {
            if (err)
                *err = ENAMETOOLONG;
            return {};
        }
        const std::string piece = cut == pos ? std::string("/") : bytes.substr(pos, cut - pos);
        platform::DirectoryHandle next
            = platform::DirectoryHandle::openAt(here.isValid() ? here.fd() : AT_FDCWD, piece.c_str(), err);
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

// Every entry below the folder, hidden ones included, sorted by path
// ignoring case. The passed-over names are left out here, before the two
// listings are lined up, so that they cannot shift the pairs. Each folder is
// opened relative to its parent, so neither depth nor the length of a path
// limits it and no path is resolved again. False when any part of the tree
// could not be listed or read: a folder that is only partly seen cannot be
// called a duplicate.
bool deepListing(const fs::path& root, std::vector<DeepEntry>* entries, const std::function<bool()>& stopped)
{
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
            entries->push_back({caseFolded(path), std::move(path), entry.stat});
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
    top.handle = openFolder(root, nullptr);
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
    std::sort(entries->begin(), entries->end(), [](const DeepEntry& a, const DeepEntry& b) {
        return a.key != b.key ? a.key < b.key : a.relative < b.relative;
    });
    return true;
}

std::string linkTarget(const fs::path& path, bool* ok)
{
    std::string target(PATH_MAX, '\0');
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    *ok = n >= 0;
    target.resize(n < 0 ? 0 : std::size_t(n));
    return target;
}

} // namespace

void KZSearchController::iterateFoldersTreeForContentTest(TreeToCheck* root)
{
    // Every folder of the search is in the tree: their family is learnt
    // once, so that each one met below is placed without a look at the disk.
    {
        std::vector<const KZSearchItemInfo*> folders;
        forEachNodePostOrder(root, [&](const TreeToCheck* node) {
            if (node->item)
                folders.push_back(node->item.get());
        });
        folderContentfound_.learn(folders);
    }
    // In order, larger folders first: a copied tree is met at its top, and
    // everything inside it is then passed over without a comparison. The
    // tree is not balanced, so the walk keeps its own stack.
    std::vector<TreeToCheck*> stack;
    TreeToCheck* node = root;
    while ((node || !stack.empty()) && !wasStopped()) {
        while (node) {
            stack.push_back(node);
            node = node->left;
        }
        node = stack.back();
        stack.pop_back();
        if (nodeIsContainedInFoundFolder(*node->item)) {
            std::lock_guard guard(progressLock_);
            setItemsCheckedProgress(++checkedFilesCount_);
        } else {
            secondTestForItem(node->item);
        }
        node = node->right;
    }
    freeSortedItemsArray();
    freeContaindeFolderMemory();
}

bool KZSearchController::nodeIsContainedInFoundFolder(const KZSearchItemInfo& item)
{
    return folderContentfound_.isContained(item);
}

void KZSearchController::secondTestForFolderContent(std::unique_ptr<TreeToCheck> node)
{
    auto keep = [this](std::unique_ptr<TreeToCheck> representative) {
        representativesBySize_[representative->item->totSize()].push_back(representative.get());
        sortedItemsArray_.push_back(std::move(representative));
    };
    if (sortedItemsArray_.empty()) {
        keep(std::move(node));
        return;
    }
    // Representatives of another size answer "different" without a look at
    // either folder: only those of the folder's own size are asked.
    TreeToCheck* match = nullptr;
    bool stopped = false;
    if (const auto bucket = representativesBySize_.find(node->item->totSize()); bucket != representativesBySize_.end()) {
        for (auto it = bucket->second.rbegin(); it != bucket->second.rend(); ++it) {
            if (wasStopped()) {
                stopped = true;
                break;
            }
            if (compareForSameUnique(**it, *node) == KZCompare::kSame) {
                match = *it;
                break;
            }
        }
    }
    if (!match) {
        // Not comparable with the oldest representative is no reason to
        // drop the folder: it would then never meet its own duplicates.
        if (!stopped && !wasStopped())
            keep(std::move(node));
        return;
    }

    TreeToCheck& representative = *match;
    foldersContentFound(representative.inGroup ? nullptr : &representative, *node);
    std::lock_guard guard(progressLock_);
    if (!representative.inGroup) {
        representative.groupID = ++currGroupID_;
        representative.inGroup = true;
        representative.itemsInGroup = makeItemsInGroup(1);
        setItemsFoundProgress(++itemsFoundCount_);
        setInfoFoundItemProgress(*representative.item);
    }
    node->groupID = representative.groupID;
    representative.itemsInGroup->fetch_add(1);
    node->itemsInGroup = representative.itemsInGroup;
    setItemsFoundProgress(++itemsFoundCount_);
    setInfoFoundItemProgress(*node->item);
    processFoundItem(std::move(node));
}

void KZSearchController::foldersContentFound(const TreeToCheck* representative, const TreeToCheck& node)
{
    for (const TreeToCheck* found : {&node, representative})
        if (found)
            folderContentfound_.addFound(*found->item);
}

qint16 KZSearchController::compareForSameFolderContent(TreeToCheck& one, TreeToCheck& two)
{
    const KZSearchItemInfo& a = *one.item;
    const KZSearchItemInfo& b = *two.item;
    if (a.totSize() == 0 || a.totSize() != b.totSize() || a.multiPurposeInfo() != b.multiPurposeInfo())
        return KZCompare::kAfter;
    if (progressCntrl_) {
        progressCntrl_->initializeFoldersProgressWithTotValue(a.multiPurposeInfo() + b.multiPurposeInfo());
        progressCntrl_->setFolderSizeValue(a.totSize() + b.totSize());
    }
    return iterateAndCompareForSameFolderContent(one, two);
}

qint16 KZSearchController::iterateAndCompareForSameFolderContent(TreeToCheck& one, TreeToCheck& two)
{
    if (wasStopped() || !crc32_)
        return KZCompare::kAfter;
    const fs::path rootOne = one.item->url();
    const fs::path rootTwo = two.item->url();
    const std::shared_ptr<const kzfolders::Listing> listingOne = deepListingOf(rootOne);
    const std::shared_ptr<const kzfolders::Listing> listingTwo = deepListingOf(rootTwo);
    if (!listingOne || !listingTwo || !listingOne->complete || !listingTwo->complete)
        return wasStopped() ? KZCompare::kAfter : KZCompare::kNotComparable;
    const std::vector<DeepEntry>& left = listingOne->entries;
    const std::vector<DeepEntry>& right = listingTwo->entries;
    if (left.empty() || right.empty() || left.size() != right.size())
        return KZCompare::kAfter;

    // What the listings tell apart costs nothing to read: every pair is
    // looked at before any file is opened.
    for (std::size_t i = 0; i < left.size(); ++i) {
        const platform::FileStat& x = left[i].stat;
        const platform::FileStat& y = right[i].stat;
        if ((x.mode & S_IFMT) != (y.mode & S_IFMT))
            return KZCompare::kAfter; // a file against a folder, or a link against a file
        if (x.isRegular() && x.size != y.size)
            return KZCompare::kAfter;
    }
    for (std::size_t i = 0; i < left.size(); ++i) {
        if (wasStopped())
            return KZCompare::kAfter;
        const platform::FileStat& x = left[i].stat;
        const platform::FileStat& y = right[i].stat;
        if (x.isDir())
            continue; // their contents come later in the listings
        const fs::path pa = rootOne / left[i].relative;
        const fs::path pb = rootTwo / right[i].relative;
        if (x.isSymlink()) {
            bool okA = false;
            bool okB = false;
            const std::string ta = linkTarget(pa, &okA);
            const std::string tb = linkTarget(pb, &okB);
            if (!okA || !okB)
                return KZCompare::kNotComparable;
            if (ta != tb)
                return KZCompare::kAfter;
            continue;
        }
        if (!x.isRegular())
            continue; // pipes and devices hold no content of their own
        if (progressCntrl_)
            progressCntrl_->addCurrFoldersValue(2);
        if (x.sameItem(y))
            continue; // two names of one file
        // Full digests, kept across comparisons: a file compared again with
        // another folder is not read again.
        std::unique_ptr<KZNodeCache>& cacheA = folderFileCaches_[ObjectKey{quint64(x.device), x.inode}];
        std::unique_ptr<KZNodeCache>& cacheB = folderFileCaches_[ObjectKey{quint64(y.device), y.inode}];
        KZCrc32::Unreadable unreadable = KZCrc32::Unreadable::None;
        const qint16 r = crc32_->compareContentOfFile(pa, pb, &cacheA, &cacheB, &unreadable);
        if (r == KZCompare::kSame)
            continue;
        if (r == KZCompare::kNotComparable)
            return wasStopped() ? KZCompare::kAfter : KZCompare::kNotComparable;
        return KZCompare::kAfter;
    }
    return KZCompare::kSame;
}

std::shared_ptr<const kzfolders::Listing> KZSearchController::deepListingOf(const fs::path& folder)
{
    auto known = deepListings_.find(folder.native());
    if (known != deepListings_.end())
        return known->second;
    auto listing = std::make_shared<kzfolders::Listing>();
    listing->complete = deepListing(folder, &listing->entries, [this] { return wasStopped(); });
    if (wasStopped())
        return nullptr; // cut short: never kept as the folder's listing
    deepListings_.emplace(folder.native(), listing);
    return listing;
}

void KZSearchController::freeSortedItemsArray()
{
    // Each group's head is filed after its members, as the list expects.
    for (std::unique_ptr<TreeToCheck>& representative : sortedItemsArray_) {
        representative->crcs.reset();
        if (representative->inGroup)
            processFoundItem(std::move(representative));
    }
    sortedItemsArray_.clear();
    representativesBySize_.clear();
}

void KZSearchController::freeContaindeFolderMemory()
{
    folderContentfound_.clear();
    folderFileCaches_.clear();
    deepListings_.clear();
}
