#include "engine/KZFolderContentPass.h"

#include "engine/KZCompareCodes.h"
#include "engine/KZCrc32.h"
#include "engine/KZProgressControl.h"
#include "engine/KZSecondPass.h"

#include <climits>
#include <filesystem>
#include <functional>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string linkTarget(const std::string& path, bool* ok)
{
    std::string target(PATH_MAX, '\0');
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    *ok = n >= 0;
    target.resize(n < 0 ? 0 : std::size_t(n));
    return target;
}

std::string below(const std::string& root, const std::string& relative)
{
    std::string path = root;
    if (path.empty() || path.back() != '/')
        path += '/';
    path += relative;
    return path;
}

// Files of folders whose listings agree are read whole when they are this
// small, even when they differ early: the waste is bounded, and a file read
// whole is never opened again to go on where an earlier comparison stopped.
bool readWhole(quint64 length)
{
    return KZCrc32::blocksOf(length) <= 64;
}

} // namespace

KZFolderContentPass::KZFolderContentPass(KZSecondPass& cascade, KZCrc32* crc32, KZProgressControl* progress,
                                         Delegate& delegate)
    : cascade_(cascade), crc32_(crc32), progress_(progress), delegate_(delegate)
{
}

KZFolderContentPass::~KZFolderContentPass() = default;

void KZFolderContentPass::run(TreeToCheck* root, unsigned listingThreads)
{
    // In order, larger folders first: a copied tree is met at its top, and
    // everything inside it is then passed over without a comparison. The
    // tree is not balanced, so the walk keeps its own stack.
    auto inOrder = [root](const std::function<bool(TreeToCheck*)>& visit) {
        std::vector<TreeToCheck*> stack;
        TreeToCheck* node = root;
        while (node || !stack.empty()) {
            while (node) {
                stack.push_back(node);
                node = node->left;
            }
            node = stack.back();
            stack.pop_back();
            if (!visit(node))
                return;
            node = node->right;
        }
    };
    // Every folder of the search is in the tree: their family is learnt
    // once, so that each one met below is placed without a look at the disk.
    {
        std::vector<const KZSearchItemInfo*> folders;
        inOrder([&](TreeToCheck* node) {
            if (node->item)
                folders.push_back(node->item.get());
            return true;
        });
        folderContentfound_.learn(folders);
        // The folders to compare are listed side by side, in the order the
        // comparisons meet them, while the comparisons begin.
        folderListings_ = std::make_unique<kzfolders::FolderListings>(folders, folderContentfound_, listingThreads,
                                                                      [this] { return wasStopped(); });
    }
    inOrder([this](TreeToCheck* node) {
        if (wasStopped())
            return false;
        if (folderContentfound_.isContained(*node->item))
            delegate_.folderPassedOver();
        else
            delegate_.folderToFile(node->item);
        return true;
    });
    freeRepresentatives();
    freeFolderMemory();
}

void KZFolderContentPass::fileFolder(std::unique_ptr<TreeToCheck> node)
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
            if (cascade_.compareForSameUnique(**it, *node) == KZCompare::kSame) {
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
    delegate_.folderMatched(representative, std::move(node));
}

void KZFolderContentPass::foldersContentFound(const TreeToCheck* representative, const TreeToCheck& node)
{
    for (const TreeToCheck* found : {&node, representative})
        if (found)
            folderContentfound_.addFound(*found->item);
}

qint16 KZFolderContentPass::compareFolders(TreeToCheck& one, TreeToCheck& two)
{
    const KZSearchItemInfo& a = *one.item;
    const KZSearchItemInfo& b = *two.item;
    if (a.totSize() == 0 || a.totSize() != b.totSize() || a.multiPurposeInfo() != b.multiPurposeInfo())
        return KZCompare::kAfter;
    if (progress_) {
        progress_->initializeFoldersProgressWithTotValue(a.multiPurposeInfo() + b.multiPurposeInfo());
        progress_->setFolderSizeValue(a.totSize() + b.totSize());
    }
    return compareListedContent(one, two);
}

qint16 KZFolderContentPass::compareListedContent(TreeToCheck& one, TreeToCheck& two)
{
    if (wasStopped() || !crc32_ || !folderListings_)
        return KZCompare::kAfter;
    const std::shared_ptr<const kzfolders::FolderView> viewOne = folderListings_->viewOf(*one.item);
    const std::shared_ptr<const kzfolders::FolderView> viewTwo = folderListings_->viewOf(*two.item);
    if (!viewOne || !viewTwo || !viewOne->complete() || !viewTwo->complete())
        return wasStopped() ? KZCompare::kAfter : KZCompare::kNotComparable;
    const kzfolders::FolderView& left = *viewOne;
    const kzfolders::FolderView& right = *viewTwo;
    if (left.size() == 0 || right.size() == 0 || left.size() != right.size() || left.shape() != right.shape())
        return KZCompare::kAfter;

    // What the listings tell apart costs nothing to read: every pair is
    // looked at before any file is opened.
    for (std::size_t i = 0; i < left.size(); ++i) {
        const kzfolders::DeepEntry& x = left[i];
        const kzfolders::DeepEntry& y = right[i];
        if ((x.mode & S_IFMT) != (y.mode & S_IFMT))
            return KZCompare::kAfter; // a file against a folder, or a link against a file
        if (x.isRegular() && x.size != y.size)
            return KZCompare::kAfter;
    }
    for (std::size_t i = 0; i < left.size(); ++i) {
        if (wasStopped())
            return KZCompare::kAfter;
        const kzfolders::DeepEntry& x = left[i];
        const kzfolders::DeepEntry& y = right[i];
        if (x.isDir())
            continue; // their contents come later in the listings
        if (x.isSymlink()) {
            bool okA = false;
            bool okB = false;
            const std::string ta = linkTarget(below(left.root(), x.relative), &okA);
            const std::string tb = linkTarget(below(right.root(), y.relative), &okB);
            if (!okA || !okB)
                return KZCompare::kNotComparable;
            if (ta != tb)
                return KZCompare::kAfter;
            continue;
        }
        if (!x.isRegular())
            continue; // pipes and devices hold no content of their own
        if (progress_)
            progress_->addCurrFoldersValue(2);
        if (x.sameItem(y))
            continue; // two names of one file
        // Full digests, kept across comparisons: a file compared again with
        // another folder is not read again.
        std::unique_ptr<KZNodeCache>& cacheA = folderFileCaches_[KZObjectKey{x.device, x.inode}];
        std::unique_ptr<KZNodeCache>& cacheB = folderFileCaches_[KZObjectKey{y.device, y.inode}];
        if (const auto known = KZCrc32::compareKnownContent(cacheA.get(), cacheB.get())) {
            if (*known == KZCompare::kSame)
                continue;
            return KZCompare::kAfter;
        }
        const fs::path pathA(below(left.root(), x.relative));
        const fs::path pathB(below(right.root(), y.relative));
        qint16 r = KZCompare::kNotComparable;
        if (readWhole(x.size)) {
            // Never left part-read, so never opened again to go on with it.
            if (crc32_->hashAhead(pathA, x.size, KZCrc32::blocksOf(x.size), &cacheA)
                && crc32_->hashAhead(pathB, y.size, KZCrc32::blocksOf(y.size), &cacheB))
                r = KZCrc32::compareKnownContent(cacheA.get(), cacheB.get()).value_or(KZCompare::kNotComparable);
        } else {
            r = crc32_->compareContentOfFile(pathA, pathB, &cacheA, &cacheB);
        }
        if (r == KZCompare::kSame)
            continue;
        if (r == KZCompare::kNotComparable)
            return wasStopped() ? KZCompare::kAfter : KZCompare::kNotComparable;
        return KZCompare::kAfter;
    }
    return KZCompare::kSame;
}

void KZFolderContentPass::freeRepresentatives()
{
    // Each group's head is filed after its members, as the list expects.
    for (std::unique_ptr<TreeToCheck>& representative : sortedItemsArray_) {
        representative->crcs.reset();
        if (representative->inGroup)
            delegate_.groupHeadFound(std::move(representative));
    }
    sortedItemsArray_.clear();
    representativesBySize_.clear();
}

void KZFolderContentPass::freeFolderMemory()
{
    folderContentfound_.clear();
    folderFileCaches_.clear();
    folderListings_.reset();
}
