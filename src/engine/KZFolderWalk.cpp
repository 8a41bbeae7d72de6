#include "engine/KZFolderWalk.h"

#include "engine/KZEnginePaths.h"
#include "engine/KZItemAttributes.h"
#include "engine/KZItemReader.h"
#include "engine/KZObjectIDSet.h"
#include "platform/Paths.h"
#include "platform/Volumes.h"
#include "settings/KZSearchCriteria.h"

#include <QByteArray>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

// The other walk opens what it is handed by its path: a folder deep enough
// for its path to near the system's limit stays with the walk that met it.
constexpr std::size_t kMaxHandOverPath = PATH_MAX / 2;

QString extensionOfName(const std::string& name)
{
    return KZSearchItemInfo::extensionOfName(platform::pathText(name));
}

} // namespace

KZFolderWalk::KZFolderWalk(const KZSearchCriteria& criteria, const KZItemReader& reader,
                           KZObjectIDSet& listedFolders, Delegate& delegate, std::size_t maxOpenFolders)
    : reader_(reader),
      listedFolders_(listedFolders),
      maxOpen_(std::max<std::size_t>(1, maxOpenFolders)),
      delegate_(delegate),
      wantsHidden_(criteria.isInvisible()),
      sums_(reader.foldersMeasuredByScan()),
      // Nested emptiness looks at whole subtrees and is left to the filters.
      weighs_(sums_ || ((criteria.isFolderEmpty() || criteria.isFolderNotEmpty()) && !criteria.isNestedEmptied()))
{
}

void KZFolderWalk::walk(const fs::path& root, std::shared_ptr<const KZExcludedInfo> excluded, qint16 label,
                        KZSearchItemInfoRef rootSelf)
{
    excluded_ = std::move(excluded);
    excludes_ = reader_.excludesAny(excluded_.get());
    exclusionHolders_ = excludes_ ? reader_.foldersHoldingExclusions(excluded_.get())
                                  : std::unordered_set<std::string>();
    label_ = label;
    stack_.clear();

    if (reader_.extensionIsSame(extensionOfName(KZEnginePaths::lastComponent(root).native())))
        return;
    if (!enter(root, -1, std::string(), rootSelf) && rootSelf) {
        reader_.measureFolder(*rootSelf);
        delegate_.walkedFolder(std::move(rootSelf));
    }

    while (!stack_.empty()) {
        if (delegate_.walkWasStopped()) {
            stack_.clear();
            return;
        }
        if (stack_.back().next < stack_.back().folders.size())
            walkNextFolder();
        else
            leaveTop();
    }
}

bool KZFolderWalk::identify(Frame& frame)
{
    struct stat st {};
    if (::fstat(frame.handle.fd(), &st) != 0)
        return false;
    frame.device = st.st_dev;
    frame.inode = st.st_ino;
    return true;
}

bool KZFolderWalk::isSame(const platform::DirectoryHandle& handle, const Frame& frame)
{
    struct stat st {};
    return handle.isValid() && ::fstat(handle.fd(), &st) == 0 && st.st_dev == frame.device
        && st.st_ino == frame.inode;
}

// Opens the top frame again from the nearest frame below that is open, name
// by name; false when a folder on the way is no longer the one that was
// listed.
bool KZFolderWalk::reopenTop()
{
    std::size_t base = stack_.size() - 1;
    while (base > 0 && !stack_[base - 1].handle.isValid())
        --base;
    for (std::size_t i = base; i < stack_.size(); ++i) {
        platform::DirectoryHandle handle = i == 0 ? platform::DirectoryHandle::open(stack_[0].dir)
                                                  : platform::DirectoryHandle::openAt(stack_[i - 1].handle.fd(),
                                                                                      stack_[i].name.c_str());
        if (!isSame(handle, stack_[i]))
            return false;
        stack_[i].handle = std::move(handle);
    }
    for (std::size_t i = base; i + maxOpen_ < stack_.size(); ++i)
        stack_[i].handle = platform::DirectoryHandle();
    return true;
}

// Files become candidates at once; plain subfolders wait in the frame, to be
// walked (or offered to the other walk) and then handed on themselves, after
// everything inside them.
bool KZFolderWalk::enter(const fs::path& dir, int parentFd, const std::string& name, KZSearchItemInfoRef self)
{
    if (delegate_.walkWasStopped() || reader_.isExcluded(dir, excluded_.get()))
        return false;
    int err = 0;
    Frame frame;
    frame.dir = dir;
    frame.name = name;
    frame.self = std::move(self);
    frame.handle = parentFd >= 0 ? platform::DirectoryHandle::openAt(parentFd, name.c_str(), &err)
                                 : platform::DirectoryHandle::open(dir, &err);
    if (frame.handle.isValid() && !identify(frame)) {
        err = errno;
        frame.handle = platform::DirectoryHandle();
    }
    if (!frame.handle.isValid()) {
        delegate_.folderNotListed(dir, err);
        return false;
    }
    // A folder met again (through overlapping sources or a second mount) is
    // not listed again: what it holds was met the first time.
    if (!listedFolders_.insert(frame.device, frame.inode))
        return false;
    const KZSearchItemInfo::Folder folder = KZSearchItemInfo::makeFolder(dir);
    const bool excludesEntries = excludes_ && KZItemReader::mayHoldExclusions(dir, exclusionHolders_);
    const bool listed = frame.handle.list([&](const platform::DirEntry& entry) {
        if (delegate_.walkWasStopped())
            return false;
        // Another file system starts here. The kernel's own (/proc, /sys,
        // /dev) hold no user files: walking them costs minutes, fills the
        // log with unreadable entries and offers device registers as
        // duplicates. Only a change of device is looked at, so the walk pays
        // for this once per mount it meets.
        if (!entry.statFailed && entry.stat.device != frame.device
            && platform::isKernelFileSystemAt(frame.handle.fd(), entry.name.c_str()))
            return true;
        if (sums_ && !entry.statFailed) {
            // The same rule as a folder measurement: view-settings files
            // count for nothing, whatever the filters leave out counts.
            if (!entry.name.starts_with(".DS_Store")) {
                ++frame.count;
                if (!entry.stat.isDir())
                    frame.size += entry.stat.size;
            }
            if (entry.stat.isDir())
                frame.subfolders.push_back(entry.name);
        }
        if (weighs_ && !frame.holdsContent) {
            const KZItemReader::EntryWeight weight = reader_.weighEntryForEmptiness(entry);
            frame.holdsContent = weight == KZItemReader::EntryWeight::Content
                || weight == KZItemReader::EntryWeight::Subfolder;
            frame.emptinessUnsure |= weight == KZItemReader::EntryWeight::Unsure;
        }
        if (entry.name.empty() || (!wantsHidden_ && entry.name.front() == '.'))
            return true;
        if (excludesEntries && reader_.isExcluded(dir / entry.name, excluded_.get()))
            return true;
        if (entry.statFailed) {
            if (entry.statError != ENOENT) // gone since the folder was read is no failure
                delegate_.entryNotRead();
            return true;
        }
        const KZItemAttributes attributes = KZItemAttributes::fromEntry(dir, entry, frame.handle.fd());
        auto item = KZSearchItemInfo::create(folder, entry.name);
        if (!delegate_.readWalkedItem(*item, label_, attributes))
            return true;
        item->setOriginalNameFromLocation();
        if (item->isDirectory() && !item->isPackage() && !item->isApplication()) {
            // A folder whose extension is left out is neither walked nor a
            // candidate.
            if (reader_.extensionIsSame(item->extension()))
                return true;
            const bool hidden = !wantsHidden_ && attributes.isHidden();
            frame.folders.push_back({std::move(item), entry.name, hidden});
        } else {
            delegate_.walkedFile(std::move(item));
        }
        return !delegate_.walkWasStopped();
    }, &err);
    if (!listed) {
        delegate_.folderNotListed(dir, err);
        frame.holdsContent = true; // not listed to its end: never called empty
    }
    delegate_.folderListed();
    stack_.push_back(std::move(frame));
    if (stack_.size() > maxOpen_)
        stack_[stack_.size() - 1 - maxOpen_].handle = platform::DirectoryHandle();
    return true;
}

void KZFolderWalk::walkNextFolder()
{
    Frame& top = stack_.back();
    PendingFolder pending = std::move(top.folders[top.next++]);
    const fs::path dir = top.dir / pending.name;
    if (!sums_ && !pending.hidden && dir.native().size() < kMaxHandOverPath
        && delegate_.handOver(dir, label_, excluded_, pending.item))
        return;
    if (!top.handle.isValid() && !reopenTop()) {
        // The folder was moved or replaced while its subfolders were walked:
        // what is left of it cannot be reached safely.
        delegate_.folderNotListed(dir, ESTALE);
        for (std::size_t i = top.next; i < top.folders.size(); ++i)
            delegate_.folderNotListed(top.dir / top.folders[i].name, ESTALE);
        top.next = top.folders.size();
        return;
    }
    // enter() may grow the stack: `top` is not used after it.
    const int parentFd = top.handle.fd();
    if (!pending.hidden && enter(dir, parentFd, pending.name, pending.item))
        return; // handed on when its frame is done
    Frame& parent = stack_.back();
    if (sums_) {
        reader_.measureFolder(*pending.item);
        parent.size += pending.item->totSize();
        parent.count += pending.item->multiPurposeInfo();
        parent.walked.insert(pending.name);
    }
    delegate_.walkedFolder(std::move(pending.item));
}

void KZFolderWalk::leaveTop()
{
    Frame& top = stack_.back();
    KZSearchItemInfoRef self = std::move(top.self);
    if (self && weighs_ && !sums_ && (top.holdsContent || !top.emptinessUnsure))
        self->setEmptyAsScanned(!top.holdsContent);
    if (sums_) {
        // Subfolders the walk passed over (hidden, left out, packages, not
        // listed) are measured on their own.
        for (const std::string& name : top.subfolders) {
            if (top.walked.count(name) != 0)
                continue;
            auto child = KZSearchItemInfo::create(top.dir / name);
            reader_.measureFolder(*child);
            top.size += child->totSize();
            top.count += child->multiPurposeInfo();
        }
        if (self) {
            self->setTotSize(top.size);
            self->setMultiPurposeInfo(top.count);
            if (top.holdsContent || !top.emptinessUnsure)
                self->setEmptyAsScanned(!top.holdsContent);
        }
        if (stack_.size() > 1) {
            Frame& parent = stack_[stack_.size() - 2];
            parent.size += top.size;
            parent.count += top.count;
            parent.walked.insert(top.name);
        }
    }
    platform::DirectoryHandle left = std::move(top.handle);
    stack_.pop_back();
    if (!stack_.empty() && !stack_.back().handle.isValid() && left.isValid()) {
        platform::DirectoryHandle parent = platform::DirectoryHandle::openAt(left.fd(), "..");
        if (isSame(parent, stack_.back()))
            stack_.back().handle = std::move(parent);
    }
    if (self)
        delegate_.walkedFolder(std::move(self));
}
