#pragma once

#include "engine/TreeToCheck.h"

#include <QtGlobal>

#include <atomic>
#include <filesystem>
#include <memory>
#include <unordered_map>
#include <vector>

class KZCrc32;
class KZHashAhead;
class KZSearchCriteria;
class KZSearchItemInfo;

// The second pass: candidates are filed into a candidate tree ordered by the
// comparison cascade. A candidate that compares equal to a tree node joins
// that node's group; the node heading the group stays in the tree and leaves
// it when the tree is emptied at the end, so a group's head always follows
// its members.
//
//        tree node                cascade: name -> identity -> size -> content
//        /       \                1 goes left, -1 right, 0 joins the group,
//     (R=1)    (other R)          -2 (not comparable) drops the candidate
//
// Files are opened only when they meet a node of the same size, so a file
// whose size nobody else has is never read. The trees are walked and freed
// without recursion: equal sizes arriving in order make a chain as long as
// the tree.
//
// Where the cascade orders by size before anything else, the main tree is a
// tree per size: in one tree a candidate passes the nodes of other sizes by
// size alone, so the nodes of its own size it meets, and their order, are
// the same, and the walk does not pass the others at all.
//
// A node whose file fails leaves its tree at once, so that no candidate
// opens it again or is led past the nodes below it; a group's head that
// fails (one found through a second name, never read) is still handed on
// as found when the trees are emptied.
//
// Threads: the main tree belongs to the driver, the image tree to the image
// pass; each tree has that one writer. The counters and the found list are
// the owner's: the delegate keeps them, under its own lock.
class KZSecondPass {
public:
    enum class Tree { Main, Images };

    class Delegate {
    public:
        virtual ~Delegate() = default;
        virtual bool passWasStopped() const = 0;
        // A candidate that leaves the pass without meeting a duplicate.
        virtual void candidateDropped() = 0;
        // A file whose content could not be read; once per file.
        virtual void contentUnreadable() = 0;
        // Two folders of the same size, by what they hold (a folder-content
        // search once the scan has ended); an answer of KZCompareCodes.h.
        virtual qint16 compareFolderContent(TreeToCheck& one, TreeToCheck& two) = 0;
        // Of two equal folders of a nested-empty search, whether the new one
        // is already found through another (an answer of KZCompareCodes.h).
        virtual qint16 compareFoundFolders(TreeToCheck& here, TreeToCheck& node) = 0;
        // `node` duplicates `here`: it joins here's group, which starts now
        // when here has none yet.
        virtual void joinGroup(TreeToCheck& here, std::unique_ptr<TreeToCheck> node) = 0;
        // A node the emptied tree hands on as found.
        virtual void foundInTree(std::unique_ptr<TreeToCheck> node) = 0;
    };

    // Everything given must outlive the pass. `crc32` may be null (content
    // not compared); `readingIsTerminated` turns folder sizes into folder
    // contents once the scan of a folder-content search has ended.
    KZSecondPass(const KZSearchCriteria& criteria, KZCrc32* crc32, const std::atomic<bool>& readingIsTerminated,
                 Delegate& delegate);
    ~KZSecondPass();
    KZSecondPass(const KZSecondPass&) = delete;
    KZSecondPass& operator=(const KZSecondPass&) = delete;

    // Where file hashes are prepared ahead of the main tree (may be null).
    void setHashAhead(KZHashAhead* hashAhead) { hashAhead_ = hashAhead; }

    // Files the node into the tree: it stays as a tree node, joins a group
    // through the delegate, or is dropped.
    void addNode(std::unique_ptr<TreeToCheck> node, Tree tree);
    // Hands every node that was found (group heads; for a unique search the
    // nodes without a group) to the delegate and frees the rest.
    void emptyTree(Tree tree);

    // The main tree where it is one tree (a folder-content search).
    TreeToCheck* mainTree() const { return checkTree_; }

    // The comparison cascade: answers of KZCompareCodes.h.
    qint16 compareForSameUnique(TreeToCheck& treeNode, TreeToCheck& newNode);

private:
    TreeToCheck*& root(Tree tree) { return tree == Tree::Main ? checkTree_ : checkTreeForImages_; }
    // Whether the candidate may meet others in the tree at all: with content
    // compared, only regular files that the scan could read.
    bool mayEnterTree(const KZSearchItemInfo& item) const;
    bool treeOrderedBySizeFirst() const;
    // Takes the node at `link` out of its tree, keeping the others in order.
    std::unique_ptr<TreeToCheck> unlinkNode(TreeToCheck** link);

    qint16 compareForSameSize(TreeToCheck& treeNode, TreeToCheck& newNode);
    // A folder or a package: an item without bytes of its own to compare.
    static bool isFolderLike(const KZSearchItemInfo& item);
    qint16 compareContentOfFiles(TreeToCheck& treeNode, TreeToCheck& newNode);
    bool contentsEqualAtPath(const std::filesystem::path& one, const std::filesystem::path& two);

    const KZSearchCriteria& criteria_;
    KZCrc32* crc32_;
    const std::atomic<bool>& readingIsTerminated_;
    Delegate& delegate_;
    KZHashAhead* hashAhead_ = nullptr;
    const bool isSameSearch_;
    const bool isUniqueSearch_;
    const bool bySizeTrees_; // after the two above

    TreeToCheck* checkTree_ = nullptr;          // driver only
    std::unordered_map<quint64, TreeToCheck*> sizeTrees_; // driver only; the main tree by size
    std::vector<std::unique_ptr<TreeToCheck>> failedHeads_; // driver only; out of the main tree
    std::vector<std::unique_ptr<TreeToCheck>> failedImageHeads_; // image pass only
    TreeToCheck* checkTreeForImages_ = nullptr; // image pass only
};
