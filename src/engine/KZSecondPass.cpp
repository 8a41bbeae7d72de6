#include "engine/KZSecondPass.h"

#include "engine/KZCompareCodes.h"
#include "engine/KZCrc32.h"
#include "engine/KZHashAhead.h"
#include "engine/KZHashPool.h"
#include "platform/DirectoryListing.h"
#include "settings/KZSearchCriteria.h"

#include <algorithm>
#include <climits>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

KZSecondPass::KZSecondPass(const KZSearchCriteria& criteria, KZCrc32* crc32,
                           const std::atomic<bool>& readingIsTerminated, Delegate& delegate)
    : criteria_(criteria),
      crc32_(crc32),
      readingIsTerminated_(readingIsTerminated),
      delegate_(delegate),
      isSameSearch_(criteria.isSameSearch()),
      isUniqueSearch_(criteria.isUniqueSearch()),
      bySizeTrees_(treeOrderedBySizeFirst())
{
}

KZSecondPass::~KZSecondPass()
{
    freeTree(checkTree_);
    freeTree(checkTreeForImages_);
    for (auto& [size, tree] : sizeTrees_)
        freeTree(tree);
}

void KZSecondPass::addNode(std::unique_ptr<TreeToCheck> node, Tree which)
{
    TreeToCheck** tree = &root(which);
    const bool folderSearch = criteria_.isFolderCompareContent();
    const bool nested = criteria_.isNestedEmptied();
    const bool onlyDuration = criteria_.isOnlySameDuration();

    if (!mayEnterTree(*node->item)) {
        if (node->item->isContentUnreadable())
            delegate_.contentUnreadable();
        delegate_.candidateDropped();
        return;
    }

    node->noteFirstSum();
    TreeToCheck** link = tree;
    if (which == Tree::Main && bySizeTrees_ && node->keyed && !node->imageContent)
        link = &sizeTrees_[node->totSize]; // a node without the key meets only its like
    for (;;) {
        if (!*link) {
            if (which == Tree::Main && hashAhead_)
                hashAhead_->notePartialNode(node.get());
            *link = node.release();
            return;
        }
        TreeToCheck& here = **link;
        qint16 r = compareForSameUnique(here, *node);
        if (here.unreadable) {
            // Its file failed: it leaves the tree, so that no later candidate
            // opens it again, and the candidate goes on from its place.
            std::unique_ptr<TreeToCheck> gone = unlinkNode(link);
            if (gone->inGroup)
                (which == Tree::Main ? failedHeads_ : failedImageHeads_).push_back(std::move(gone));
            else
                delegate_.candidateDropped();
            if (!node->unreadable)
                continue;
        }
        if (node->unreadable) {
            delegate_.candidateDropped();
            return;
        }

        if (folderSearch) {
            // During the scan the tree only orders the folders. Of two equal
            // sizes the one holding more items goes first: a folder always
            // comes before the folders inside it, so a copied chain is met
            // at its top even when only its deepest folder holds a file.
            if (r == KZCompare::kSame)
                r = compareForSameNumber(here.item->multiPurposeInfo(), node->item->multiPurposeInfo());
            link = r == KZCompare::kAfter ? &here.left : &here.right;
            continue;
        }
        if (r == KZCompare::kSame && nested)
            r = delegate_.compareFoundFolders(here, *node);
        if (onlyDuration)
            r = KZCompare::kSame;
        if (r == KZCompare::kNotComparable) {
            delegate_.candidateDropped();
            return; // the node and its reference to the item go away
        }
        if (r != KZCompare::kSame) {
            link = r == KZCompare::kAfter ? &here.left : &here.right;
            continue;
        }

        // A duplicate of the tree node.
        node->forgetFirstSum();
        delegate_.joinGroup(here, std::move(node));
        return;
    }
}

bool KZSecondPass::treeOrderedBySizeFirst() const
{
    // Names come before sizes in the cascade, folders and durations order or
    // join nodes by other means: trees by size serve only the plain cascade.
    return (criteria_.isSameSize() || criteria_.isUniqueSize()) && !criteria_.isSameName()
        && !criteria_.isUniqueName() && !criteria_.isFolderCompareContent() && !criteria_.isNestedEmptied()
        && !criteria_.isOnlySameDuration();
}

bool KZSecondPass::mayEnterTree(const KZSearchItemInfo& item) const
{
    if (!criteria_.isCompareContent() || item.isDirectory())
        return true;
    return item.isRegularFile() && !item.isContentUnreadable();
}

std::unique_ptr<TreeToCheck> KZSecondPass::unlinkNode(TreeToCheck** link)
{
    std::unique_ptr<TreeToCheck> gone(*link);
    if (hashAhead_)
        hashAhead_->forgetPartialNode(gone.get());
    if (!gone->left) {
        *link = gone->right;
    } else if (!gone->right) {
        *link = gone->left;
    } else {
        // Its neighbour in order, the first node of its right subtree, takes
        // its place.
        TreeToCheck** nextLink = &gone->right;
        while ((*nextLink)->left)
            nextLink = &(*nextLink)->left;
        TreeToCheck* next = *nextLink;
        *nextLink = next->right;
        next->left = gone->left;
        next->right = gone->right;
        *link = next;
    }
    gone->left = nullptr;
    gone->right = nullptr;
    return gone;
}

void KZSecondPass::emptyTree(Tree which)
{
    // The one tree, then the trees by size from the smallest, then the
    // group heads that left them: the same order whatever the timing.
    std::vector<TreeToCheck*> trees{root(which)};
    root(which) = nullptr;
    if (which == Tree::Main) {
        std::vector<std::pair<quint64, TreeToCheck*>> bySize(sizeTrees_.begin(), sizeTrees_.end());
        sizeTrees_ = {};
        std::sort(bySize.begin(), bySize.end());
        for (const auto& [size, tree] : bySize)
            trees.push_back(tree);
    }
    auto isFound = [this](const TreeToCheck& node) {
        return (isSameSearch_ && node.inGroup) || (isUniqueSearch_ && !node.inGroup);
    };
    // Most nodes are not found and are only freed: the trees are walked and
    // freed side by side on the pool, and what each walk found is handed
    // on afterwards, tree by tree, in the order of a single walk.
    std::vector<std::vector<TreeToCheck*>> found(trees.size());
    auto walk = [&](std::size_t i) {
        forEachNodePostOrder(trees[i], [&](TreeToCheck* node) {
            node->left = nullptr;
            node->right = nullptr;
            node->crcs.reset();
            node->forgetFirstSum();
            if (isFound(*node))
                found[i].push_back(node);
            else
                delete node;
        });
    };
    if (which == Tree::Main && hashAhead_)
        hashAhead_->pool().forEach(trees.size(), walk);
    else
        for (std::size_t i = 0; i < trees.size(); ++i)
            walk(i);
    for (const std::vector<TreeToCheck*>& nodes : found) {
        for (TreeToCheck* node : nodes)
            delegate_.foundInTree(std::unique_ptr<TreeToCheck>(node));
    }
    std::vector<std::unique_ptr<TreeToCheck>> failed
        = std::move(which == Tree::Main ? failedHeads_ : failedImageHeads_);
    for (std::unique_ptr<TreeToCheck>& node : failed) {
        node->crcs.reset();
        node->forgetFirstSum();
        if (isFound(*node))
            delegate_.foundInTree(std::move(node));
    }
}

// ---- The comparison cascade -----------------------------------------------------------------

qint16 KZSecondPass::compareForSameUnique(TreeToCheck& treeNode, TreeToCheck& newNode)
{
    bool nameTested = false;
    if (criteria_.isSameName() || criteria_.isUniqueName()) {
        const bool withoutExtension = criteria_.noExtensionCompare();
        const qint16 r = compareForSameString(treeNode.item->nameWithOption(withoutExtension),
                                              newNode.item->nameWithOption(withoutExtension));
        if (r != KZCompare::kSame)
            return r;
        nameTested = true;
    }
    if (criteria_.isSameSize() || criteria_.isUniqueSize() || criteria_.isFolderCompareContent())
        return compareForSameSize(treeNode, newNode);
    return nameTested ? KZCompare::kSame : KZCompare::kNotComparable;
}

qint16 KZSecondPass::compareForSameSize(TreeToCheck& treeNode, TreeToCheck& newNode)
{
    if (treeNode.unreadable)
        return KZCompare::kAfter; // a group's head whose file has gone: passed, never opened
    // Most pairs differ in size: decided from the nodes alone, without
    // touching the tree item (two names of one file have one size).
    if (treeNode.keyed && newNode.keyed && !treeNode.imageContent && !newNode.imageContent) {
        if (treeNode.totSize != newNode.totSize)
            return compareForSameNumber(treeNode.totSize, newNode.totSize);
        // Two files hashed before may hold their answer in their caches (two
        // names of one file hash alike); only files still to be read need
        // the items.
        if (criteria_.isCompareContent()) {
            // What compareKnownContent would answer from the first block.
            if (treeNode.hasFirstSum() && newNode.hasFirstSum() && treeNode.firstSum != newNode.firstSum)
                return KZCrc32::compareForSameNumber(treeNode.firstSum, newNode.firstSum);
            if (const auto known = KZCrc32::compareKnownContent(treeNode.crcs.get(), newNode.crcs.get())) {
                if (*known == KZCompare::kSame)
                    newNode.crcs.reset(); // a member of a group is never compared again
                return *known;
            }
        }
    }

    KZSearchItemInfo& treeItem = *treeNode.item;
    KZSearchItemInfo& newItem = *newNode.item;

    // Two names of one file (hard links): the same content, nothing to read.
    if (treeItem.hasIdentity() && newItem.hasIdentity() && treeItem.device() == newItem.device()
        && treeItem.inode() == newItem.inode())
        return KZCompare::kSame;

    const bool treeImage = treeItem.isImageContent();
    const bool newImage = newItem.isImageContent();
    if (treeImage || newImage) {
        if (!treeImage || !newImage || !crc32_)
            return KZCompare::kNotComparable;
        for (TreeToCheck* node : {&newNode, &treeNode}) {
            if (node->crcs)
                continue;
            node->crcs = node->item->hasImageRecord() ? node->item->takeImageRecord()
                                                       : crc32_->CRCForImageWithURL(node->item->url());
            if (!node->crcs) {
                node->item->setIsImageContent(false);
                node->imageContent = false;
                return KZCompare::kNotComparable;
            }
        }
        const qint16 r = crc32_->compareContentOfPhoto(treeItem.url(), newItem.url(), &treeNode.crcs, &newNode.crcs);
        if (r == KZCompare::kSame)
            newNode.crcs.reset();
        return r;
    }

    qint16 r = compareForSameNumber(treeItem.totSize(), newItem.totSize());
    const bool compareContent
        = criteria_.isCompareContent() || (criteria_.isFolderCompareContent() && readingIsTerminated_);
    if (r != KZCompare::kSame || !compareContent)
        return r;

    // A folder, a package too, has no bytes to read as a file. Of one size,
    // files come before folders: a file and a folder are told apart by the
    // items alone, always on the same side, so that the tree stays a search
    // tree and a package still meets its twins past the files of its size.
    const bool treeFolder = isFolderLike(treeItem);
    const bool newFolder = isFolderLike(newItem);
    if (treeFolder != newFolder)
        return newFolder ? KZCompare::kAfter : KZCompare::kBefore;
    if (!treeFolder)
        return compareContentOfFiles(treeNode, newNode);
    if (criteria_.isFolderCompareContent() && !(treeItem.isPackage() && newItem.isPackage()))
        return delegate_.compareFolderContent(treeNode, newNode);
    // Compared entry by entry, as a package's content is.
    return contentsEqualAtPath(treeItem.url(), newItem.url()) ? KZCompare::kSame : KZCompare::kAfter;
}

bool KZSecondPass::isFolderLike(const KZSearchItemInfo& item)
{
    return item.isDirectory() || item.isPackage();
}

qint16 KZSecondPass::compareContentOfFiles(TreeToCheck& treeNode, TreeToCheck& newNode)
{
    if (!crc32_)
        return KZCompare::kNotComparable;
    KZSearchItemInfo& treeItem = *treeNode.item;
    KZSearchItemInfo& newItem = *newNode.item;
    KZCrc32::Unreadable unreadable = KZCrc32::Unreadable::None;
    const qint16 r = crc32_->compareContentOfFile(treeItem, newItem, &treeNode.crcs, &newNode.crcs, &unreadable);
    treeNode.noteFirstSum();
    newNode.noteFirstSum();
    if (r == KZCompare::kSame) {
        newNode.crcs.reset(); // a member of a group is never compared again
        return r;
    }
    if (r != KZCompare::kNotComparable)
        return r; // ordered by the first block that differs, so the tree stays a search tree
    // A file that failed is marked on its first failure and never opened
    // again: the tree node leaves the tree (the candidate goes on past it and
    // can still meet its real duplicates), a candidate is dropped.
    const bool treeFailed = unreadable == KZCrc32::Unreadable::One || unreadable == KZCrc32::Unreadable::Both;
    const bool newFailed = unreadable == KZCrc32::Unreadable::Two || unreadable == KZCrc32::Unreadable::Both;
    if (treeFailed) {
        treeNode.unreadable = true;
        delegate_.contentUnreadable();
    }
    if (newFailed) {
        newNode.unreadable = true;
        delegate_.contentUnreadable();
    }
    // Otherwise not comparable (lengths changed, the search stopped). With
    // content as the only criterion the candidate stays in the tree instead
    // of being dropped.
    if (treeFailed || criteria_.isOnlyContent())
        return KZCompare::kAfter;
    return r;
}

bool KZSecondPass::contentsEqualAtPath(const fs::path& one, const fs::path& two)
{
    if (!crc32_)
        return false;
    struct Entry {
        std::string name;
        platform::FileStat stat;
    };
    auto listing = [](const fs::path& dir, std::vector<Entry>* entries) {
        const bool listed = platform::listDirectory(dir, [&](const platform::DirEntry& entry) {
            if (entry.statFailed)
                return false;
            entries->push_back({entry.name, entry.stat});
            return true;
        });
        std::sort(entries->begin(), entries->end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
        return listed;
    };
    auto linkTarget = [](const fs::path& path) {
        std::string target(PATH_MAX, '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        target.resize(n < 0 ? 0 : std::size_t(n));
        return n < 0 ? std::string(1, '\0') + path.native() : target;
    };

    std::vector<std::pair<fs::path, fs::path>> pending{{one, two}};
    while (!pending.empty()) {
        if (delegate_.passWasStopped())
            return false;
        const auto [a, b] = std::move(pending.back());
        pending.pop_back();
        std::vector<Entry> left;
        std::vector<Entry> right;
        if (!listing(a, &left) || !listing(b, &right) || left.size() != right.size())
            return false;
        for (std::size_t i = 0; i < left.size(); ++i) {
            const Entry& x = left[i];
            const Entry& y = right[i];
            if (x.name != y.name || (x.stat.mode & S_IFMT) != (y.stat.mode & S_IFMT))
                return false;
            const fs::path pa = a / x.name;
            const fs::path pb = b / y.name;
            if (x.stat.isDir()) {
                pending.emplace_back(pa, pb);
            } else if (x.stat.isSymlink()) {
                if (linkTarget(pa) != linkTarget(pb))
                    return false;
            } else if (x.stat.isRegular()) {
                std::unique_ptr<KZNodeCache> cacheA;
                std::unique_ptr<KZNodeCache> cacheB;
                if (x.stat.size != y.stat.size || crc32_->compareContentOfFile(pa, pb, &cacheA, &cacheB) != 0)
                    return false;
            } else {
                return false; // pipes and devices have no content to compare
            }
        }
    }
    return true;
}
