#pragma once

#include "engine/KZFolderAncestry.h"
#include "engine/KZFolderListings.h"
#include "engine/KZNodeCache.h"
#include "engine/KZObjectKey.h"
#include "engine/KZSearchItemInfo.h"
#include "engine/TreeToCheck.h"

#include <QtGlobal>

#include <memory>
#include <unordered_map>
#include <vector>

class KZCrc32;
class KZProgressControl;
class KZSecondPass;

// The folder-content pass of a folder-content search, once the scan has
// ended: the folders the scan filed by size are compared by what they hold,
// entry by entry.
//
//   run: walk the size tree, larger folders first --> a folder inside (or
//        holding, or being) a found one is passed over --> the others go to
//        the delegate, which makes their node and hands it to fileFolder
//   fileFolder: meet the representatives of its size, newest first, through
//        the comparison cascade (whose content step comes back here as
//        compareFolders) --> same: joins that group, else a representative
//   end of run: group heads to the delegate, everything else freed
//
// A file compared against several representatives is read once: its digest
// is kept until the end of the run; each folder's deep listing is made once.
//
// Threads: everything runs on the driver and takes no lock; the counters
// and the found list are the delegate's, under its own lock.
class KZFolderContentPass {
public:
    class Delegate {
    public:
        virtual ~Delegate() = default;
        virtual bool passWasStopped() const = 0;
        // A folder of the walk that needs no comparison: counted as checked.
        virtual void folderPassedOver() = 0;
        // A folder of the walk to file: its node comes back to fileFolder.
        virtual void folderToFile(KZSearchItemInfoRef item) = 0;
        // `node` holds what `representative` holds: it joins the
        // representative's group, which starts now when it has none yet.
        virtual void folderMatched(TreeToCheck& representative, std::unique_ptr<TreeToCheck> node) = 0;
        // A group's head, handed on after its members at the end of a run.
        virtual void groupHeadFound(std::unique_ptr<TreeToCheck> node) = 0;
    };

    // Everything given must outlive the pass. `crc32` and `progress` may be
    // null (no content is compared; no progress is shown).
    KZFolderContentPass(KZSecondPass& cascade, KZCrc32* crc32, KZProgressControl* progress, Delegate& delegate);
    ~KZFolderContentPass();
    KZFolderContentPass(const KZFolderContentPass&) = delete;
    KZFolderContentPass& operator=(const KZFolderContentPass&) = delete;

    // Compares the folders of the size tree rooted at `root`; `listingThreads`
    // list them ahead of the comparisons.
    void run(TreeToCheck* root, unsigned listingThreads);
    // Files one folder's node against the representatives met so far.
    void fileFolder(std::unique_ptr<TreeToCheck> node);
    // Two folders of the same size, by what they hold: an answer of
    // KZCompareCodes.h.
    qint16 compareFolders(TreeToCheck& one, TreeToCheck& two);

private:
    bool wasStopped() const { return delegate_.passWasStopped(); }
    // Records found folders: the new node's, then the representative's.
    void foldersContentFound(const TreeToCheck* representative, const TreeToCheck& node);
    qint16 compareListedContent(TreeToCheck& one, TreeToCheck& two);
    void freeRepresentatives();
    void freeFolderMemory();

    KZSecondPass& cascade_;
    KZCrc32* crc32_;
    KZProgressControl* progress_;
    Delegate& delegate_;

    // Representatives of every distinct content met so far, oldest first
    // (matched newest first).
    std::vector<std::unique_ptr<TreeToCheck>> sortedItemsArray_;
    // The same representatives by total size, oldest first: a folder can
    // only match one of its own size, so only those are compared with it.
    std::unordered_map<quint64, std::vector<TreeToCheck*>> representativesBySize_;
    // The folders of the search and their parents, and which of them were
    // found, lie inside a found one or hold one.
    KZFolderAncestry folderContentfound_;
    // The digests of every file a deep comparison has read, so that a file
    // compared against several representatives is read once.
    std::unordered_map<KZObjectKey, std::unique_ptr<KZNodeCache>, KZObjectKeyHash> folderFileCaches_;
    // Each compared folder's deep listing, made once: a folder of a common
    // size meets many others of that size.
    std::unique_ptr<kzfolders::FolderListings> folderListings_;
};
