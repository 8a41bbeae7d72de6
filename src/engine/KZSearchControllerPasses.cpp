// The passes that are not part of the scan: the music and photo libraries,
// whose files are fed into the scan's per-item path as their libraries list
// them, saved searches, whose queries we evaluate over the file system,
// song durations (not built yet: the stage is called where its pass
// belongs, and until then contributes no items), and the content of
// duplicate folders, compared once the scan is over.

#include "engine/KZSearchController.h"

#include "engine/KZCompareCodes.h"
#include "engine/KZHashPool.h"
#include "engine/KZItemAttributes.h"
#include "engine/KZItemReader.h"
#include "engine/KZLocationGrouping.h"
#include "engine/KZMDQuery.h"
#include "engine/KZTreeWalk.h"
#include "media/KZiTunesSupport.h"
#include "platform/DirectoryListing.h"
#include "platform/Log.h"
#include "platform/OperationQueue.h"
#include "platform/Paths.h"
#include "platform/Users.h"
#include "services/KZErrorDelegate.h"
#include "settings/KZSearchCriteria.h"

#include <QDateTime>

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
    const fs::path library = platform::pathFromText(
        criteria_->excludePhotosItemsDict().value(QStringLiteral("libraryPath")).toString());
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
    // Before the half counts as done, so that the crypto library's state of
    // this pool thread is let go before the search can end.
    KZCrc32::threadFinished();
    {
        std::lock_guard guard(photosLock_);
        photosIsWorking_.fetch_sub(1);
    }
    signalEvent();
}

void KZSearchController::gatherSmartFolderItemsWithDict(const KZSourceItemRef& source, qint16 label)
{
    // Outstanding from here until its last result is in the scan: the
    // driver goes on with the next source, and its final wait lasts until
    // every saved search has ended.
    queriesWorking_.fetch_add(1);
    KZSearchOperationQueue().addOperation([self = shared_from_this(), file = source->path(), label] {
        self->doQuerySearch(file, label);
        if (self->smallSizesMet_)
            KZCrc32::threadFinished(); // its files may have been hashed here
        self->queriesWorking_.fetch_sub(1);
        self->signalEvent();
    });
}

namespace {

class StopAsking : public KZLocationGroupingDelegate {
public:
    explicit StopAsking(std::function<bool()> stopped) : stopped_(std::move(stopped)) {}
    bool nsWasStopped() override { return stopped_(); }

private:
    std::function<bool()> stopped_;
};

} // namespace

void KZSearchController::doQuerySearch(const fs::path& savedSearch, qint16 label)
{
    if (wasStopped())
        return;
    const auto stopped = [this] { return wasStopped(); };
    KZMDQuery::Options options;
    options.home = platform::homeDirectory();
    options.now = QDateTime::currentDateTime();
    options.includeHidden = criteria_->isInvisible();
    options.wasStopped = stopped;
    QString error;
    const std::optional<std::vector<KZLocationEntry>> results = KZMDQuery::run(savedSearch, options, &error);
    if (!results) {
        platform::logLine(QStringLiteral("Saved search skipped: ") + platform::pathText(savedSearch)
                          + QStringLiteral(": ") + error);
        return;
    }
    std::vector<std::size_t> order;
    if (std::any_of(results->begin(), results->end(), [](const KZLocationEntry& e) { return e.isFolder; })) {
        // A folder's contents are reached through its scan.
        StopAsking delegate(stopped);
        order = KZGroupItemsByLocation(*results, &delegate);
    } else {
        for (std::size_t i = 0; i < results->size(); ++i)
            order.push_back(i);
    }
    for (const std::size_t index : order) {
        if (wasStopped())
            break;
        const KZLocationEntry& entry = (*results)[index];
        if (reader_->isExcluded(entry.path, nullptr))
            continue;
        if (entry.isFolder) {
            searchWithURL(entry.path, nullptr, label);
            continue;
        }
        const KZItemAttributes attributes = KZItemAttributes::read(entry.path);
        const std::optional<QString> name = attributes.fileName();
        if (!name)
            continue;
        auto item = KZSearchItemInfo::create(entry.path);
        if (!readItem(*item, label, attributes))
            continue;
        item->setOriginalName(*name);
        processFileItem(std::move(item));
    }
}

void KZSearchController::collectSongsTime() {}

// ---- Folder content -------------------------------------------------------------------------

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

void KZSearchController::iterateFoldersTreeForContentTest(TreeToCheck* root)
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
        std::vector<std::string> roots;
        for (const KZSourceItemRef& source : searchStuff_->sources())
            if (source)
                roots.push_back(source->path().native());
        folderListings_ = std::make_unique<kzfolders::FolderListings>(
            folders, folderContentfound_, hashingThreads_ ? hashingThreads_ : KZHashPool::threadsFor(roots),
            [this] { return wasStopped(); });
    }
    inOrder([this](TreeToCheck* node) {
        if (wasStopped())
            return false;
        if (nodeIsContainedInFoundFolder(*node->item)) {
            std::lock_guard guard(progressLock_);
            setItemsCheckedProgress(++checkedFilesCount_);
        } else {
            secondTestForItem(node->item);
        }
        return true;
    });
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
            if (secondPass_->compareForSameUnique(**it, *node) == KZCompare::kSame) {
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
        if (progressCntrl_)
            progressCntrl_->addCurrFoldersValue(2);
        if (x.sameItem(y))
            continue; // two names of one file
        // Full digests, kept across comparisons: a file compared again with
        // another folder is not read again.
        std::unique_ptr<KZNodeCache>& cacheA = folderFileCaches_[ObjectKey{x.device, x.inode}];
        std::unique_ptr<KZNodeCache>& cacheB = folderFileCaches_[ObjectKey{y.device, y.inode}];
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
    folderListings_.reset();
}
