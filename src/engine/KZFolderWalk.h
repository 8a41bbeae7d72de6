#pragma once

#include "engine/KZExcludedInfo.h"
#include "engine/KZSearchItemInfo.h"
#include "platform/DirectoryListing.h"

#include <QtGlobal>

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include <sys/types.h>

class KZItemAttributes;
class KZItemReader;
class KZObjectIDSet;
class KZSearchCriteria;

// One scan worker's walk of one folder: every item below it that the reader
// accepts is handed to the delegate, files as their folder is listed and
// each folder after everything inside it.
//
// The walk is iterative (an explicit stack of open folders), so a deep tree
// cannot exhaust a thread's stack. Every folder is opened relative to its
// parent's descriptor, never by its full path, so neither depth nor the
// length of a path limits the walk, and each item costs one statx relative
// to its folder. Only the frames at the top of the stack, as many as its
// budget of open folders (kMaxOpenFolders unless told), keep their folders
// open; a frame that was closed is opened again, when the walk
// climbs back to it, as ".." of the folder it left (or name by name from the
// nearest open frame below), and checked to be the same folder by device and
// inode. A folder moved or replaced while the walk was below it is never
// walked in the wrong place: what is left of it is reported as not listed.
//
// A walk belongs to one thread; the delegate is called on that thread. The
// set of listed folders is shared with the other walks of the search, so
// that a folder met through two paths is listed once.
class KZFolderWalk {
public:
    static constexpr std::size_t kMaxOpenFolders = 64;

    class Delegate {
    public:
        virtual ~Delegate() = default;
        virtual bool walkWasStopped() const = 0;
        // Fills the item from attributes the listing read; false rejects it.
        virtual bool readWalkedItem(KZSearchItemInfo& item, qint16 label, const KZItemAttributes& attributes) = 0;
        virtual void walkedFile(KZSearchItemInfoRef item) = 0;
        // A folder (its contents handed on before it), or one left unwalked.
        virtual void walkedFolder(KZSearchItemInfoRef item) = 0;
        // A folder that could not be opened or listed to its end.
        virtual void folderNotListed(const std::filesystem::path& dir, int err) = 0;
        // An entry of a listed folder that could not be looked at.
        virtual void entryNotRead() = 0;
        // A folder's entries have all been handed on (its subfolders wait).
        virtual void folderListed() {}
        // Offers a visible subfolder, with its item, to another walk; true
        // when that one takes it, the folder itself included.
        virtual bool handOver(const std::filesystem::path& dir, qint16 label,
                              const std::shared_ptr<const KZExcludedInfo>& excluded, const KZSearchItemInfoRef& item)
        {
            (void)dir;
            (void)label;
            (void)excluded;
            (void)item;
            return false;
        }
    };

    // Everything given must outlive the walk. Walks side by side share the
    // descriptors a search may keep open by asking for a smaller budget.
    KZFolderWalk(const KZSearchCriteria& criteria, const KZItemReader& reader, KZObjectIDSet& listedFolders,
                 Delegate& delegate, std::size_t maxOpenFolders = kMaxOpenFolders);
    KZFolderWalk(const KZFolderWalk&) = delete;
    KZFolderWalk& operator=(const KZFolderWalk&) = delete;

    // Walks `root` under `label`. `rootSelf` (may be null) is the root folder
    // as a candidate, handed on after everything inside it.
    void walk(const std::filesystem::path& root, std::shared_ptr<const KZExcludedInfo> excluded, qint16 label,
              KZSearchItemInfoRef rootSelf = {});

private:
    struct PendingFolder {
        KZSearchItemInfoRef item;
        std::string name;
        bool hidden = false;
    };
    struct Frame {
        std::filesystem::path dir;
        std::string name; // in the folder below it on the stack
        platform::DirectoryHandle handle;
        dev_t device = 0;
        ino_t inode = 0;
        std::vector<PendingFolder> folders;
        std::size_t next = 0;
        KZSearchItemInfoRef self; // the folder as a candidate, after its contents
        // With folders measured by the walk: the sums so far, and the
        // subfolders whose own sums are still to come.
        quint64 size = 0;
        quint64 count = 0;
        std::vector<std::string> subfolders;
        std::unordered_set<std::string> walked;
        // Whether the listing showed content by the emptiness rule, or an
        // entry that only a look at it can judge.
        bool holdsContent = false;
        bool emptinessUnsure = false;
    };

    // Lists one folder onto the stack; false when it is not walked.
    bool enter(const std::filesystem::path& dir, int parentFd, const std::string& name, KZSearchItemInfoRef self);
    // Takes the next pending subfolder of the top frame.
    void walkNextFolder();
    // The top frame is done: its sums go to its parent, its folder is handed on.
    void leaveTop();
    bool reopenTop();
    static bool identify(Frame& frame);
    static bool isSame(const platform::DirectoryHandle& handle, const Frame& frame);

    const KZItemReader& reader_;
    KZObjectIDSet& listedFolders_;
    const std::size_t maxOpen_;
    Delegate& delegate_;
    const bool wantsHidden_;
    // Each folder's size and count are added up from the listings the walk
    // makes anyway, children into parents, so that measuring every folder
    // costs nothing beyond the walk. A folder handed to the other walk would
    // leave its parent without its sums: such a walk keeps its subfolders.
    const bool sums_;
    // A folder's emptiness, when the filters ask for it, is judged from the
    // walk's own listing too, instead of listing the folder once more.
    const bool weighs_;

    // Set for the length of walk().
    std::shared_ptr<const KZExcludedInfo> excluded_;
    bool excludes_ = false;
    std::unordered_set<std::string> exclusionHolders_;
    qint16 label_ = 0;
    std::vector<Frame> stack_;
};
