// The passes that are not part of the scan: the music and photo libraries,
// saved searches and song durations (not built yet: each stage is called
// where its pass belongs, so that a pass plugs in here without touching the
// driver, and until then a source of such a kind contributes no items), and
// the content of duplicate folders, compared once the scan is over.

#include "engine/KZSearchController.h"

#include "engine/KZCompareCodes.h"
#include "platform/DirectoryListing.h"
#include "platform/Log.h"
#include "settings/KZSearchCriteria.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <functional>
#include <string>
#include <vector>

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

void KZSearchController::processiTunesLocationWithLabel(qint16 /*label*/) {}

void KZSearchController::processPhotosLocation(const fs::path& /*path*/, qint16 /*label*/) {}

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

// Every entry below the folder, hidden ones included, sorted by path
// ignoring case. The passed-over names are left out here, before the two
// listings are lined up, so that they cannot shift the pairs. False when
// any part of the tree could not be listed or read: a folder that is only
// partly seen cannot be called a duplicate.
bool deepListing(const fs::path& root, std::vector<DeepEntry>* entries, const std::function<bool()>& stopped)
{
    std::vector<std::string> pending{std::string()};
    while (!pending.empty()) {
        if (stopped())
            return false;
        const std::string relative = std::move(pending.back());
        pending.pop_back();
        bool complete = true;
        int err = 0;
        const bool listed = platform::listDirectory(relative.empty() ? root : root / relative,
                                                    [&](const platform::DirEntry& entry) {
            if (cantBeCompared(entry.name))
                return true;
            if (entry.statFailed) {
                if (entry.statError == ENOENT)
                    return true; // gone since the folder was read
                complete = false;
                return false;
            }
            std::string path = relative.empty() ? entry.name : relative + '/' + entry.name;
            if (entry.stat.isDir())
                pending.push_back(path);
            entries->push_back({caseFolded(path), std::move(path), entry.stat});
            return true;
        }, &err);
        if (!listed || !complete)
            return false;
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

std::vector<KZSearchController::ObjectKey> KZSearchController::ancestorsOf(const fs::path& path)
{
    // Every folder of a deep tree shares its upper folders with the others:
    // each is looked up once per search, not once per folder below it.
    // Climbed on the bytes: splitting a long path into components at every
    // level would make a deep tree cost the square of its depth.
    std::vector<ObjectKey> chain;
    std::string parent = path.native();
    while (parent.size() > 1 && parent.back() == '/')
        parent.pop_back();
    for (;;) {
        const std::size_t slash = parent.rfind('/');
        if (slash == std::string::npos || parent.size() <= 1)
            break;
        parent.resize(slash == 0 ? 1 : slash);
        auto known = folderIdentities_.find(parent);
        if (known == folderIdentities_.end()) {
            struct stat st {};
            if (::lstat(parent.c_str(), &st) != 0) {
                platform::logLine(QStringLiteral("Folder comparison: no identity for the folder above %1")
                                      .arg(QFile::decodeName(path.c_str())));
                return {};
            }
            known = folderIdentities_.emplace(parent, ObjectKey{quint64(st.st_dev), quint64(st.st_ino)}).first;
        }
        chain.push_back(known->second);
    }
    std::reverse(chain.begin(), chain.end());
    return chain;
}

bool KZSearchController::nodeIsContainedInFoundFolder(const KZSearchItemInfo& item)
{
    if (folderContentfound_.empty())
        return false;
    const fs::path url = item.url();
    struct stat st {};
    if (::lstat(url.c_str(), &st) != 0)
        return true; // gone or unreadable: nothing to compare
    const ObjectKey self{quint64(st.st_dev), quint64(st.st_ino)};
    const std::vector<ObjectKey> ancestors = ancestorsOf(url);
    for (const FoundFolder& found : folderContentfound_) {
        if (wasStopped())
            break;
        if (found.self == self)
            return true;
        if (std::find(found.ancestors.begin(), found.ancestors.end(), self) != found.ancestors.end())
            return true; // holds a found folder
        if (std::find(ancestors.begin(), ancestors.end(), found.self) != ancestors.end())
            return true; // lies inside one
    }
    return false;
}

void KZSearchController::secondTestForFolderContent(std::unique_ptr<TreeToCheck> node)
{
    if (sortedItemsArray_.empty()) {
        sortedItemsArray_.push_back(std::move(node));
        return;
    }
    TreeToCheck* match = nullptr;
    bool compared = false;
    for (auto it = sortedItemsArray_.rbegin(); it != sortedItemsArray_.rend() && !wasStopped(); ++it) {
        compared = true;
        if (compareForSameUnique(**it, *node) == KZCompare::kSame) {
            match = it->get();
            break;
        }
    }
    if (!match) {
        // Not comparable with the oldest representative is no reason to
        // drop the folder: it would then never meet its own duplicates.
        if (compared && !wasStopped())
            sortedItemsArray_.push_back(std::move(node));
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
    for (const TreeToCheck* found : {&node, representative}) {
        if (!found)
            continue;
        const fs::path url = found->item->url();
        struct stat st {};
        if (::lstat(url.c_str(), &st) != 0)
            continue;
        folderContentfound_.push_back(
            {ObjectKey{quint64(st.st_dev), quint64(st.st_ino)}, found->item->totSize(), ancestorsOf(url)});
    }
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

    for (std::size_t i = 0; i < left.size(); ++i) {
        if (wasStopped())
            return KZCompare::kAfter;
        const platform::FileStat& x = left[i].stat;
        const platform::FileStat& y = right[i].stat;
        if ((x.mode & S_IFMT) != (y.mode & S_IFMT))
            return KZCompare::kAfter; // a file against a folder, or a link against a file
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
        if (x.size != y.size)
            return KZCompare::kAfter;
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
}

void KZSearchController::freeContaindeFolderMemory()
{
    folderContentfound_.clear();
    folderFileCaches_.clear();
    folderIdentities_.clear();
    deepListings_.clear();
}
