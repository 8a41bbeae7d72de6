#include "resultfiles/KZSavedResultReopen.h"

#include "engine/KZAppSuppInfo.h"
#include "engine/KZFileTypeTagger.h"
#include "engine/KZHashPool.h"
#include "engine/KZItemAttributes.h"
#include "engine/KZObjectIDSet.h"
#include "engine/KZScanDisks.h"
#include "engine/KZSearchController.h"
#include "engine/TreeToCheck.h"
#include "platform/Bookmark.h"
#include "platform/FileOps.h"
#include "platform/FileStat.h"
#include "platform/Packages.h"
#include "platform/ParallelFor.h"
#include "platform/Paths.h"
#include "platform/Volumes.h"
#include "services/KZFilesUtilities.h"
#include "services/KZStopSource.h"
#include "settings/KZPlistValue.h"
#include "settings/KZTags.h"

#include <QCryptographicHash>

#include <algorithm>
#include <array>
#include <atomic>
#include <exception>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <map>
#include <mutex>
#include <set>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

namespace fs = std::filesystem;

namespace {

// One record that resolved to a file inside the sources.
struct Candidate {
    // What grouping needs of its record, which may be freed before then.
    qint64 groupId = 0;
    quint32 countOfItemsInGroup = 0;
    // Its path is the item's own.
    KZSearchItemInfoRef item;
    bool marked = false;
    // Differs from what was saved: no copy of its group any more.
    bool changed = false;
    KZItemsInGroup itemsInGroup;
};

bool sameTime(const timespec& now, double saved)
{
    const double seconds = double(now.tv_sec) + double(now.tv_nsec) / 1e9;
    // A double keeps a date of this era to well under a microsecond.
    return std::fabs(seconds - saved) < 1e-6;
}

bool isEmptyFolder(const fs::path& folder)
{
    std::error_code ec;
    fs::directory_iterator entries(folder, ec);
    if (ec)
        return false;
    for (const fs::directory_entry& entry : entries) {
        if (!KZFilesUtilities::isFolderMetadataName(entry.path().filename().native()))
            return false;
    }
    return true;
}

// Every folder above `path` (a plain absolute path), nearest first.
template <typename Visit>
void forEachFolderAbove(const std::string& path, Visit&& visit)
{
    for (size_t end = path.rfind('/'); end != std::string::npos && end > 0; end = path.rfind('/', end - 1))
        visit(std::string_view(path.data(), end));
    if (path.size() > 1)
        visit(std::string_view("/"));
}

// A music track's identifier is hexadecimal text, as the library reader
// makes it; a file may hold it as the number itself.
QString trackText(const std::optional<QVariant>& trackID)
{
    if (!trackID)
        return {};
    if (trackID->typeId() == QMetaType::QString)
        return trackID->toString();
    // A real out of range (1e30, infinity) is no track's number: it reads as
    // 0, which names no track, rather than as whatever the conversion makes.
    return QString::number(KZPlistValue::toUnsigned64(*trackID), 16);
}

// Records of one folder mostly follow each other: their items share the
// folder's bytes, as the items a scan lists from one folder do, instead of
// each keeping its whole path. `folder` is null for "/" itself.
KZSearchItemInfoRef makeItem(const KZSearchItemInfo::Folder& folder, const fs::path& path)
{
    const std::string& bytes = path.native();
    auto item = folder ? KZSearchItemInfo::create(folder, bytes.substr(bytes.rfind('/') + 1))
                       : KZSearchItemInfo::create(path);
    item->setOriginalNameFromLocation();
    return item;
}

void readItem(KZSearchItemInfo* item, const KZItemAttributes& attributes, qint16 label, KZScanDisks& disks)
{
    const platform::FileStat& st = *attributes.stat();
    disks.note(st, [&attributes] { return attributes.path(); });
    item->setIsDirectory(attributes.isDirectory());
    item->setIsPackage(attributes.isPackage());
    item->setIsApplication(attributes.isApplication());
    item->setIsAlias(attributes.isAlias());
    item->setIsLocked(attributes.isLocked());
    item->setIsRegularFile(st.isRegular());
    item->setType(attributes.typeCode());
    item->setDevice(quint64(st.device));
    item->setInode(st.inode);
    item->setModificationTime(st.modified);
    item->setLinkCount(st.links);
    item->setLabel(label);
    // A folder is measured once the rebuild knows it keeps it.
    if (!attributes.isDirectory())
        item->setTotSize(attributes.totalFileSize().value_or(0));
}

// A bookmark by its BLAKE2b digest: the set of the bookmarks met keeps 32
// bytes a record instead of every record's bookmark (some 300 bytes) until
// the rebuild ends. Two bookmarks of one digest are not to be found.
using BookmarkDigest = std::array<quint64, 4>;

BookmarkDigest digestOf(const QByteArray& bookmark)
{
    // One per thread, started afresh for each bookmark: a record costs no
    // allocation.
    thread_local QCryptographicHash hash(QCryptographicHash::Blake2b_256);
    hash.reset();
    hash.addData(bookmark);
    BookmarkDigest digest;
    const QByteArrayView bytes = hash.resultView();
    std::memcpy(digest.data(), bytes.data(), std::min(sizeof digest, size_t(bytes.size())));
    return digest;
}

// The digests met, each once, in one open-addressed array rather than a
// node each among the items being made.
class DigestSet {
public:
    // False when the digest was there already.
    bool insert(const BookmarkDigest& digest)
    {
        // An all-zero digest marks an empty slot, so its own is kept apart.
        if (digest == BookmarkDigest{})
            return !std::exchange(zeroSeen_, true);
        if ((count_ + 1) * 4 > slots_.size() * 3)
            grow();
        const size_t mask = slots_.size() - 1;
        // The digest's bits are as good as random: its first word is the hash.
        for (size_t i = size_t(digest[0]) & mask;; i = (i + 1) & mask) {
            if (slots_[i] == BookmarkDigest{}) {
                slots_[i] = digest;
                ++count_;
                return true;
            }
            if (slots_[i] == digest)
                return false;
        }
    }

    // Room for `more` digests besides those met, made at once.
    void reserve(size_t more)
    {
        if (more == 0)
            return;
        size_t size = std::max<size_t>(slots_.size(), 4096);
        while ((count_ + more) * 4 > size * 3)
            size *= 2;
        if (size != slots_.size())
            grow(size);
    }

private:
    void grow(size_t size = 0)
    {
        std::vector<BookmarkDigest> old = std::move(slots_);
        slots_.assign(size ? size : old.empty() ? 4096 : old.size() * 2, BookmarkDigest{});
        const size_t mask = slots_.size() - 1;
        for (const BookmarkDigest& digest : old) {
            if (digest == BookmarkDigest{})
                continue;
            size_t i = size_t(digest[0]) & mask;
            while (slots_[i] != BookmarkDigest{})
                i = (i + 1) & mask;
            slots_[i] = digest;
        }
    }

    std::vector<BookmarkDigest> slots_;
    size_t count_ = 0;
    bool zeroSeen_ = false;
};

// The caller's stop test as the folder measurement asks it.
class StopTest : public KZStopSource {
public:
    explicit StopTest(const std::function<bool()>& stopped) : stopped_(stopped) {}
    bool wasStopped() const override { return stopped_ && stopped_(); }

private:
    const std::function<bool()>& stopped_;
};

} // namespace

std::optional<KZSavedResult> KZSavedResultReopen::readFile(const fs::path& file, QString* error, int* damaged)
{
    QString reason;
    // A file with holes claims bytes it never held, which would all be read
    // into memory: a saved result is written whole, and one with holes is
    // damaged.
    const auto whole = [](int fd, quint64 size) -> std::optional<QString> {
        const off_t hole = ::lseek(fd, 0, SEEK_HOLE);
        if (hole >= 0 && quint64(hole) < size)
            return QStringLiteral("the file has holes (parts that were never written): it is damaged");
        return std::nullopt;
    };
    const std::optional<QByteArray> bytes = platform::readRegularFile(file, maxFileSize, &reason, true, whole);
    const QString name = platform::pathText(file);
    if (!bytes) {
        if (error)
            *error = QStringLiteral("“%1” could not be read: %2").arg(name, reason);
        return std::nullopt;
    }
    KZSavedReadNotes notes;
    std::optional<KZSavedResult> result = KZSavedResultFormat::decode(*bytes, &reason, &notes);
    if (!result) {
        if (error)
            *error = QStringLiteral("“%1” is not a saved result. %2").arg(name, reason);
        return std::nullopt;
    }
    if (damaged)
        *damaged = notes.droppedRecords;
    return result;
}

bool KZSavedResultReopen::isPlainAbsolute(const fs::path& path)
{
    const std::string& bytes = path.native();
    if (bytes.empty() || bytes.front() != '/' || bytes.find('\0') != std::string::npos)
        return false;
    if (bytes == "/")
        return true;
    // Splitting by hand: fs::path folds repeated separators, which would let
    // "a//b" or a trailing "/" pass as plain.
    size_t start = 1;
    while (start <= bytes.size()) {
        const size_t end = std::min(bytes.find('/', start), bytes.size());
        const std::string_view part(bytes.data() + start, end - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        start = end + 1;
    }
    return true;
}

std::vector<KZSourceItemRef> KZSavedResultReopen::resolveSources(const std::vector<KZSavedSource>& saved,
                                                                  int* damaged)
{
    std::vector<KZSourceItemRef> sources;
    std::set<qint16> labels;
    bool renumber = false;
    for (const KZSavedSource& record : saved) {
        const std::optional<platform::ResolvedBookmark> resolved = platform::resolveBookmark(record.alias);
        if (!resolved || !isPlainAbsolute(resolved->path)) {
            if (damaged && (resolved || !platform::isWellFormedBookmark(record.alias)))
                ++*damaged;
            continue;
        }
        // Taken as the search window takes a chosen folder: where its links
        // lead (a result saved before kept them, and a removal follows
        // none), and never on the kernel's own file systems.
        const fs::path real = platform::linkFreePath(resolved->path, true);
        if (real.empty() || platform::isOnKernelFileSystem(real))
            continue;
        auto source = KZSourceItem::create({{QStringLiteral("url"), QVariant::fromValue(real)},
                                            {QStringLiteral("path"), QVariant::fromValue(resolved->path)}});
        source->setIsDisk(record.isDisk);
        source->setIsLocked(record.isLocked);
        source->setIsPhotosLib(record.isPhotosLib);
        source->setIsCurrentLibrary(record.isCurrentLibrary);
        source->setLibrariesCount(record.librariesCount);
        source->setITunesLibValue(record.iTunesLibValue);
        source->setTotSize(record.totSize);
        source->setFreeSize(record.freeSize);
        source->setIsSmartFolder(record.isSmartFolder);
        source->setWasSearched(record.wasSearched);
        // The search's own exclusions stay its own, so that the next search
        // takes them back instead of keeping them as the user's.
        std::vector<fs::path> byUser;
        std::vector<fs::path> bySearch = record.excludedProgrammatically;
        std::vector<fs::path> ownEntries;
        for (const fs::path& location : record.excluded) {
            const auto own = std::find(bySearch.begin(), bySearch.end(), location);
            if (own == bySearch.end()) {
                byUser.push_back(location);
            } else {
                bySearch.erase(own);
                ownEntries.push_back(location);
            }
        }
        source->setExcluded(byUser);
        source->setExcludedAddedProgramatically({});
        for (const fs::path& location : ownEntries)
            source->addExcludedProgramatically(location);
        source->setLocationLabelTag(record.locationLabelTag);
        source->setWasSecurityScoped(true);
        renumber = renumber || record.locationLabelTag < 0 || record.locationLabelTag >= 99
            || !labels.insert(record.locationLabelTag).second;
        sources.push_back(std::move(source));
    }
    if (renumber) {
        // As a search numbers them: 1, 2, … with several sources, 0 alone.
        qint16 label = sources.size() > 1 ? 1 : 0;
        for (const KZSourceItemRef& source : sources)
            source->setLocationLabelTag(label++);
    }
    return sources;
}

namespace {

// A folder records are compared with, and whether it is written plainly: a
// plain path is then compared with it by its bytes.
struct Folder {
    Folder(fs::path folder) : path(std::move(folder)), plain(KZSavedResultReopen::isPlainAbsolute(path)) { }
    fs::path path;
    bool plain;
};

// platform::isInsideFolder of a plain absolute path.
bool isInside(const fs::path& path, const Folder& folder)
{
    if (!folder.plain)
        return platform::isInsideFolder(path, folder.path);
    const std::string& bytes = path.native();
    const std::string& in = folder.path.native();
    return in == "/"
        || (bytes.compare(0, in.size(), in) == 0 && (bytes.size() == in.size() || bytes[in.size()] == '/'));
}

class Rebuilder {
public:
    Rebuilder(const std::vector<KZSourceItemRef>& sources, const KZSavedResultReopen::Options& options,
              KZReopenedResult& out)
        : sources_(sources), options_(options), out_(out), stop_(options.stopped),
          globalExclusions_(placesOf(options.globalExclusions)),
          musicLibraryExclusions_(placesOf(options.musicLibraryExclusions))
    {
        // A source's path is a look at the disk: asked once here, not once
        // per record and source.
        std::vector<std::string> roots;
        for (const KZSourceItemRef& source : sources_)
            if (source) {
                sourcePlaces_.push_back({source, source->path(), placesOf(source->excluded())});
                roots.push_back(sourcePlaces_.back().folder.path.native());
            }
        // The disk is asked about the records on as many threads as a search
        // of these folders scans them with: all cores but two, and the two
        // walks a rotating disk always had.
        const unsigned cores = KZHashPool::threadsFor(roots, KZSearchController::kMaxScanWorkers + 2);
        threads_ = cores > 2 ? cores - 2 : 2;
    }

    bool wasStopped() const { return stop_.wasStopped(); }

    // The groups that, as saved, had a copy kept: two members or more, one
    // of them unmarked. When such a group has to unmark a member so that a
    // copy stays, it is for what became of that copy on the disk, not for
    // anything the file says.
    void noteSavedCopies(const std::vector<KZSavedItem>& records)
    {
        std::unordered_map<qint64, std::pair<int, bool>> groups; // members (up to two), one unmarked
        for (const KZSavedItem& record : records) {
            auto& [members, unmarked] = groups[record.groupId];
            members = std::min(members + 1, 2);
            unmarked = unmarked || !record.isMarked;
        }
        for (const auto& [group, facts] : groups)
            if (facts.first == 2 && facts.second)
                savedCopies_.insert(group);
    }

    // The records that resolve inside the sources, in file order. The disk
    // is asked about each record on a few threads; everything that depends
    // on the records before it (the entries already seen, the caches, the
    // notes) is decided on this thread in file order, so the answer is the
    // same however the work was shared.
    // `spent`, when given, is `records` itself, owned by the caller: each
    // record's bookmark is freed once its batch is resolved.
    std::vector<Candidate> resolve(const std::vector<KZSavedItem>& records, bool emptyFolders,
                                   std::vector<KZSavedItem>* spent = nullptr)
    {
        std::vector<Candidate> kept;
        kept.reserve(records.size());
        seenAliases_.reserve(records.size());
        // Bounds what is held at once and how long a stop waits.
        constexpr size_t batch = 8192;
        for (size_t start = 0; start < records.size(); start += batch) {
            if (stop_.wasStopped())
                return {};
            const size_t end = std::min(records.size(), start + batch);
            // A record whose bookmark is that of a record before it names
            // the same item again: a repeat, never probed, so that one
            // bookmark under every record of a file costs one probe.
            std::vector<bool> repeat(end - start, false);
            for (size_t i = start + 1; i < end; ++i)
                repeat[i - start] = records[i - 1].alias.constData() == records[i].alias.constData()
                    && records[i - 1].alias.size() == records[i].alias.size();
            std::vector<BookmarkDigest> digests(end - start);
            forEachIndex(digests.size(), [&](size_t i) {
                if (!repeat[i])
                    digests[i] = digestOf(records[start + i].alias);
            });
            for (size_t i = 0; i < digests.size(); ++i)
                repeat[i] = repeat[i] || !seenAliases_.insert(digests[i]);
            digests.clear();
            std::vector<platform::BookmarkResolver::Probe> probes(end - start);
            forEachIndex(probes.size(), [&](size_t i) {
                if (!repeat[i])
                    probes[i] = platform::BookmarkResolver::probe(records[start + i].alias);
            });
            // A record's bookmark is read here only: the bytes, most of a
            // record, make room for the items being rebuilt.
            if (spent)
                for (size_t i = start; i < end; ++i)
                    (*spent)[i].alias = QByteArray();

            struct Place {
                const KZSavedItem* record = nullptr;
                fs::path path;
                KZSourceItemRef source;
                // What the look for the record showed at this very path.
                std::optional<platform::FileStat> seen;
                KZItemAttributes attributes;
                EntryKey entry;
                bool changed = false;
            };
            std::vector<Place> places;
            places.reserve(probes.size());
            for (size_t i = 0; i < probes.size(); ++i) {
                if (repeat[i]) {
                    ++out_.notes.duplicates;
                    continue;
                }
                // Only an item in place was looked at, at the stored path,
                // which is then the path resolved.
                std::optional<platform::FileStat> seen = std::move(probes[i].stat);
                std::optional<platform::ResolvedBookmark> resolved = bookmarks_.resolve(std::move(probes[i]));
                if (!resolved) {
                    ++out_.notes.notFound;
                    continue;
                }
                // The record's own name in its folder reached without links,
                // as its source is; a found link stays the link.
                const bool plain = KZSavedResultReopen::isPlainAbsolute(resolved->path);
                bool unchanged = false;
                fs::path path = linkFree(std::move(resolved->path), plain, &unchanged);
                int* leftOut = nullptr;
                KZSourceItemRef source = holder(path, plain && unchanged, &leftOut);
                if (!source) {
                    ++*leftOut;
                    continue;
                }
                if (!unchanged || resolved->renamed)
                    seen.reset();
                places.push_back(
                    {&records[start + i], std::move(path), std::move(source), std::move(seen), {}, {}, false});
            }
            probes.clear();

            forEachIndex(places.size(), [&](size_t i) {
                Place& place = places[i];
                // The probe's look at the same path serves: what an item is
                // decided from is one look, not two a moment apart. The
                // attributes hold the path from here on.
                place.attributes = place.seen ? KZItemAttributes::described(std::move(place.path), *place.seen)
                                              : KZItemAttributes::read(place.path);
                if (!place.attributes.exists())
                    return;
                place.entry = entryKey(place.attributes.path(), *place.attributes.stat());
                place.changed = !emptyFolders && changedSinceSaving(*place.record, *place.attributes.stat());
            });

            std::vector<Place*> taken;
            for (Place& place : places) {
                if (!place.attributes.exists()) {
                    ++out_.notes.notFound;
                    continue;
                }
                if (isOnKernelFileSystem(place.attributes.path(), *place.attributes.stat())) {
                    ++out_.notes.outsideSources;
                    continue;
                }
                // Two hard links to one file are two entries, both duplicates,
                // as a search finds them; one entry named twice, also under
                // two paths (a bind mount, a file system mounted twice), is a
                // repeat.
                if (!insertNew(std::move(place.entry))) {
                    ++out_.notes.duplicates;
                    continue;
                }
                if (emptyFolders && !(place.attributes.isDirectory() && isEmptyFolder(place.attributes.path()))) {
                    ++out_.notes.notEmpty;
                    continue;
                }
                // A kept copy that changed would pass for the copy that stays
                // while its twins go: it is no member of its group any more.
                if (place.changed && !place.record->isMarked) {
                    ++out_.notes.keptChanged;
                    continue;
                }
                taken.push_back(&place);
            }

            // The items outlive the rebuild: they are made here, one after
            // the other on this thread, and not among what the other
            // threads allocate for a moment while they read.
            std::vector<KZSearchItemInfoRef> items(taken.size());
            for (size_t i = 0; i < taken.size(); ++i)
                items[i] = makeItem(folderOf(taken[i]->attributes.path()), taken[i]->attributes.path());
            forEachIndex(taken.size(), [&](size_t i) {
                const Place& place = *taken[i];
                readItem(items[i].get(), place.attributes, place.source->locationLabelTag(), *disks_);
            });

            for (size_t i = 0; i < taken.size(); ++i) {
                Place& place = *taken[i];
                const KZSavedItem& record = *place.record;
                Candidate candidate{record.groupId, record.countOfItemsInGroup, std::move(items[i]),
                                    record.isMarked, false, {}};
                candidate.item->setFileTypeLabel(fileTypeOf(record, *candidate.item));
                candidate.item->setIsFromSavedResult(true);
                giveOwner(record, *place.source,
                          insidePhotoLibrary(place.attributes.path(), *place.attributes.stat()),
                          *candidate.item);
                if (place.changed) {
                    candidate.marked = false;
                    candidate.changed = true;
                    ++out_.notes.unmarkedChanged;
                }
                kept.push_back(std::move(candidate));
            }
        }
        return kept;
    }

    // Drops members inside another member of their group, keeps a copy of
    // every group unmarked, and lists the nodes newest first.
    KZFoundList build(std::vector<Candidate> candidates, bool markRules, quint64* count, quint64* size)
    {
        // Per group, its members' paths and every folder above them: each
        // check is a few look-ups, however large the group.
        struct Paths {
            std::unordered_set<std::string> members;
            std::unordered_set<std::string> above;
        };
        std::unordered_map<qint64, Paths> paths;
        std::vector<Candidate*> members;
        members.reserve(candidates.size());
        // Only a folder holds other items: a group of files alone has no
        // member inside another, and needs no list of the folders above them.
        std::unordered_set<qint64> withFolders;
        for (const Candidate& candidate : candidates)
            if (!candidate.item->isRegularFile())
                withFolders.insert(candidate.groupId);
        for (Candidate& candidate : candidates) {
            if (!withFolders.count(candidate.groupId)) {
                members.push_back(&candidate);
                continue;
            }
            Paths& group = paths[candidate.groupId];
            const std::string bytes = candidate.item->urlBytes();
            bool nested = group.above.count(bytes) != 0;
            forEachFolderAbove(bytes, [&](std::string_view folder) {
                nested = nested || group.members.count(std::string(folder)) != 0;
            });
            if (nested) {
                ++out_.notes.duplicates;
                candidate.item.reset();
                continue;
            }
            group.members.insert(bytes);
            forEachFolderAbove(bytes, [&](std::string_view folder) { group.above.emplace(folder); });
            members.push_back(&candidate);
        }
        // Folders found empty belong to no group of copies (the mark rules
        // run for groups only): a counter would make each of them the last
        // copy of a group it is not in.
        if (markRules) {
            // Each group's members together, in file order.
            std::stable_sort(members.begin(), members.end(), [](const Candidate* a, const Candidate* b) {
                return a->groupId < b->groupId;
            });
            // The counters outlive the rebuilt items, whose fields the
            // result's items copy before they let them go: made one by one
            // among the rebuilt items, they would keep the pages of those
            // from being used again. All of them share one block instead.
            size_t groups = 0;
            for (auto member = members.begin(); member != members.end(); ++member)
                groups += member == members.begin() || (*member)->groupId != (*(member - 1))->groupId;
            const std::shared_ptr<std::atomic<quint32>[]> counters(new std::atomic<quint32>[groups]());
            size_t group = 0;
            for (auto from = members.begin(); from != members.end(); ++group) {
                const qint64 groupId = (*from)->groupId;
                const auto to = std::find_if(from + 1, members.end(),
                                             [groupId](const Candidate* c) { return c->groupId != groupId; });
                // Members that changed since saving are no copies of the
                // group: they neither raise its counter nor keep it.
                const auto isCopy = [](const Candidate* c) { return !c->changed; };
                const size_t copies = size_t(std::count_if(from, to, isCopy));
                const quint32 saved = (*from)->countOfItemsInGroup;
                const KZItemsInGroup counter(counters, &counters[group]);
                counter->store(std::max<quint32>(1, std::min<quint32>(saved, quint32(copies))));
                const bool alone = copies <= 1;
                const bool anyKept = std::any_of(from, to,
                                                 [](const Candidate* c) { return !c->changed && !c->marked; });
                const auto first = std::find_if(from, to, isCopy);
                for (auto member = from; member != to; ++member) {
                    (*member)->itemsInGroup = counter;
                    if (!isCopy(*member))
                        continue;
                    if ((*member)->marked && (alone || (!anyKept && member == first))) {
                        (*member)->marked = false;
                        ++out_.notes.unmarkedToKeep;
                        out_.notes.unmarkedToKeepAfterChanges += savedCopies_.count(groupId) != 0;
                    }
                }
                from = to;
            }
        }

        KZFoundList list;
        list.setScanDisks(disks_);
        for (size_t i = 0; i < candidates.size(); ++i) {
            Candidate& candidate = candidates[i];
            if (!candidate.item)
                continue;
            // Only a folder that stays a copy of its group is measured: one
            // that changed since saving is no copy, and the list measures it
            // if it is ever shown. A whole disk can be named as a folder.
            if (candidate.item->isDirectory() && !candidate.changed) {
                quint64 found = 0;
                candidate.item->setTotSize(
                    KZFilesUtilities::sharedControl()
                        .iterateFolderForSize(candidate.item->url(), &found, &stop_)
                        .totalFileSize);
                candidate.item->setMultiPurposeInfo(found);
            }
            if (stop_.wasStopped())
                return {};
            // The mark travels with the item to the found item made from it.
            // Its bookmark served to find it here; the found item makes a
            // new one when first asked, as a searched item does, rather than
            // every item keeping the file's while the result is open.
            candidate.item->setIsSavedMarked(candidate.marked);
            if (options_.didRebuildItem)
                options_.didRebuildItem(*candidate.item);
            ++*count;
            *size += candidate.item->totSize();
            std::unique_ptr<TreeToCheck> node = TreeToCheck::create(candidate.item);
            if (!node)
                continue;
            node->groupID = quint64(candidate.groupId);
            node->itemsInGroup = std::move(candidate.itemsInGroup);
            list.prepend(std::move(node));
        }
        return list;
    }

private:
    // `plain`: the path is known to be plain and absolute. Without a holder,
    // `leftOut` names the note that says why.
    KZSourceItemRef holder(const fs::path& path, bool plain, int** leftOut) const
    {
        *leftOut = &out_.notes.outsideSources;
        if (!plain && !KZSavedResultReopen::isPlainAbsolute(path))
            return nullptr;
        const auto inAny = [&path](const std::vector<Folder>& folders) {
            return std::any_of(folders.begin(), folders.end(),
                               [&path](const Folder& folder) { return isInside(path, folder); });
        };
        // Inside a searched folder, but where a search never looks for the
        // music library's sake: that is the reason, not "outside".
        if (inAny(musicLibraryExclusions_)
            && std::any_of(sourcePlaces_.begin(), sourcePlaces_.end(),
                           [&path](const SourcePlace& source) { return isInside(path, source.folder); })) {
            *leftOut = &out_.notes.musicLibraryPlaces;
            return nullptr;
        }
        if (inAny(globalExclusions_))
            return nullptr;
        // Sources may nest: the outer one excludes the inner one, which
        // searched that part itself. The innermost source that takes the
        // path is the one that found it.
        const SourcePlace* holder = nullptr;
        for (const SourcePlace& source : sourcePlaces_) {
            if (!isInside(path, source.folder) || inAny(source.exclusions))
                continue;
            if (!holder
                || (source.folder.path != holder->folder.path
                    && platform::isInsideFolder(source.folder.path, holder->folder.path)))
                holder = &source;
        }
        if (!holder)
            return nullptr;
        return holder->source;
    }

    quint64 fileTypeOf(const KZSavedItem& record, const KZSearchItemInfo& item) const
    {
        const bool usable = record.fileTypeTag < KZTag::specialTabsStart
            && (!options_.fileTypeExists || options_.fileTypeExists(record.fileTypeTag));
        if (usable)
            return record.fileTypeTag;
        if (options_.fileTypeOf)
            return options_.fileTypeOf(item);
        return item.isDirectory() && !item.isPackage() ? KZTag::folders : KZTag::unlabeledFiles;
    }

    // Device and inode alone prove nothing: a file system gives a freed
    // inode number to the next file made, which may be given the old size
    // and date too. The birth time tells them apart where there is one.
    static bool changedSinceSaving(const KZSavedItem& record, const platform::FileStat& now)
    {
        // Older files keep no type; they saved a size only for files.
        const std::optional<bool> wasFolder = record.isFolder ? record.isFolder
                                              : record.size   ? std::optional<bool>(false)
                                                              : std::nullopt;
        if (wasFolder && (*wasFolder ? !now.isDir() : !now.isRegular()))
            return true;
        if (record.size && now.isRegular() && *record.size != now.size)
            return true;
        if (record.dateModified && !sameTime(now.modified, *record.dateModified))
            return true;
        return record.dateCreated && now.birth && !sameTime(*now.birth, *record.dateCreated);
    }

    // The library that owns an item, from its record and from where it lies:
    // nothing inside a photo library is a plain file that may be removed,
    // also when the result was saved from a search of a folder inside one.
    static void giveOwner(const KZSavedItem& record, const KZSourceItem& source, bool insidePhotoLibrary,
                          KZSearchItemInfo& item)
    {
        const bool photos = record.isPhotosItem || source.isPhotosLib() || insidePhotoLibrary;
        if (!photos && !record.isiTunesItem)
            return;
        item.setAppSuppInfo(KZAppSuppInfo::create(trackText(record.trackID),
                                                  photos ? KZAppSuppInfo::Photos : KZAppSuppInfo::ITunes));
    }

    // Where a record's folder is with its links followed, asked once per
    // folder: a result holds many files of one folder. A path that is not
    // plain stays as it is, to be refused as such.
    // `plain` tells whether the path is plain and absolute, `unchanged`
    // whether the answer is the path given.
    fs::path linkFree(fs::path path, bool plain, bool* unchanged)
    {
        *unchanged = true;
        // Of plain paths, only "/" itself is the root.
        if (!plain || path.native() == "/")
            return path;
        const std::string& bytes = path.native();
        const size_t slash = bytes.rfind('/');
        const std::string_view folder = slash == 0 ? std::string_view("/") : std::string_view(bytes.data(), slash);
        // Records of one folder mostly follow each other.
        if (!lastLinkFree_ || lastLinkFree_->first != folder) {
            auto found = linkFreeFolders_.find(std::string(folder));
            if (found == linkFreeFolders_.end())
                found = linkFreeFolders_.emplace(std::string(folder), platform::linkFreePath(path.parent_path(), true))
                            .first;
            lastLinkFree_ = &*found;
        }
        const fs::path& real = lastLinkFree_->second;
        // Most folders lead nowhere else: the path stays as it is.
        if (!real.empty() && real.native() == folder)
            return path;
        *unchanged = false;
        if (real.empty())
            return fs::path();
        return real / path.filename();
    }

    // platform::isInsidePhotoLibraryAsWritten of a record, asked once per
    // folder: an item that is no mount's root shares its folder's mount, so
    // it lies inside a library when its folder does, is one, or is the root
    // of a mount whose root is one.
    bool insidePhotoLibrary(const fs::path& path, const platform::FileStat& st)
    {
        if (!st.mountId || st.mountRoot || path.native() == "/")
            return platform::isInsidePhotoLibraryAsWritten(path);
        // The path is plain and absolute: its folder is what stands before
        // its last separator. Records of one folder mostly follow each other.
        const std::string& bytes = path.native();
        const size_t slash = bytes.rfind('/');
        const std::string_view above = slash == 0 ? std::string_view("/") : std::string_view(bytes.data(), slash);
        if (lastPhotoFolder_ && lastPhotoFolder_->first == above)
            return lastPhotoFolder_->second;
        const fs::path parent = path.parent_path();
        if (parent.empty())
            return platform::isInsidePhotoLibraryAsWritten(path);
        const auto known = photoFolders_.find(parent.native());
        if (known != photoFolders_.end()) {
            lastPhotoFolder_ = &*known;
            return known->second;
        }
        bool inside = platform::isInsidePhotoLibraryAsWritten(parent)
            || (parent != "/"
                && platform::nameExtension(parent).compare(QLatin1String("photoslibrary"), Qt::CaseInsensitive) == 0);
        if (!inside) {
            const auto folder = platform::statPath(parent, false);
            inside = folder && folder->mountRoot && folder->mountId
                && platform::photoLibraryPlaceOfMountRoot(*folder->mountId) == platform::PhotoLibraryPlace::Library;
        }
        lastPhotoFolder_ = &*photoFolders_.emplace(parent.native(), inside).first;
        return inside;
    }

    // The kernel's own file systems hold no user files; a record there is
    // dropped whatever its source. Asked once per device met.
    bool isOnKernelFileSystem(const fs::path& path, const platform::FileStat& st)
    {
        const auto known = kernelDevices_.find(st.device);
        if (known != kernelDevices_.end())
            return known->second;
        const bool kernel = platform::isKernelFileSystemAt(AT_FDCWD, path.c_str());
        kernelDevices_.emplace(st.device, kernel);
        return kernel;
    }

    // A directory entry as the search keys it: its folder's identity and
    // its name. A folder, or a file of one name, has one entry, so its own
    // identity names it too, also where a bind mount shows that very item
    // at a second place.
    using EntryKey = std::tuple<quint64, quint64, std::string>;
    struct EntryKeyHash {
        size_t operator()(const EntryKey& key) const
        {
            return std::hash<quint64>()(std::get<0>(key) * 0x9E3779B97F4A7C15ULL ^ std::get<1>(key))
                ^ std::hash<std::string>()(std::get<2>(key));
        }
    };
    static EntryKey entryKey(const fs::path& path, const platform::FileStat& st)
    {
        if (st.isDir() || st.links <= 1 || path.native() == "/")
            return {quint64(st.device), st.inode, std::string()};
        if (const auto folder = platform::statPath(path.parent_path(), true))
            return {quint64(folder->device), folder->inode, path.filename().native()};
        return {0, 0, path.native()};
    }

    // Records are compared where their links lead: so are the exclusions.
    static std::vector<Folder> placesOf(const std::vector<fs::path>& locations)
    {
        std::vector<Folder> places;
        for (const fs::path& location : locations)
            for (fs::path& place : platform::exclusionPlaces(location))
                places.push_back(std::move(place));
        return places;
    }

    const std::vector<KZSourceItemRef>& sources_;
    const KZSavedResultReopen::Options& options_;
    KZReopenedResult& out_;
    const StopTest stop_;
    const std::vector<Folder> globalExclusions_;
    const std::vector<Folder> musicLibraryExclusions_;
    struct SourcePlace {
        KZSourceItemRef source;
        Folder folder;
        std::vector<Folder> exclusions;
    };
    std::vector<SourcePlace> sourcePlaces_;
    platform::BookmarkResolver bookmarks_;
    // Every entry met, each once: most by their identity alone, in one
    // array, the others (hard links, by their folder and name) by their key.
    KZObjectIDSet seenItems_;
    // The disks of the records read, each as the rebuild met it.
    const std::shared_ptr<KZScanDisks> disks_ = std::make_shared<KZScanDisks>();
    std::unordered_set<EntryKey, EntryKeyHash> seenEntries_;
    std::unordered_set<qint64> savedCopies_;
    bool insertNew(EntryKey entry)
    {
        if (std::get<2>(entry).empty() && std::get<1>(entry) != 0)
            return seenItems_.insert(std::get<0>(entry), std::get<1>(entry));
        return seenEntries_.insert(std::move(entry)).second;
    }
    // Every bookmark met, each once.
    DigestSet seenAliases_;
    size_t threads_ = 2;
    // Runs work(i) for every i below `count` on the rebuild's threads. Each
    // call writes only its own slot, so what comes out does not depend on
    // the sharing.
    template <typename Work>
    void forEachIndex(size_t count, const Work& work) const
    {
        platform::forEachIndexInParallel(count, threads_, 256, work);
    }
    // The shared bytes of the folder holding `path` (plain and absolute):
    // the last one met again when the record is of the same folder.
    KZSearchItemInfo::Folder folderOf(const fs::path& path)
    {
        const std::string& bytes = path.native();
        const size_t slash = bytes.rfind('/');
        if (bytes == "/" || slash == std::string::npos)
            return {};
        const std::string_view folder = slash == 0 ? std::string_view("/") : std::string_view(bytes.data(), slash);
        if (!lastFolder_ || *lastFolder_ != folder)
            lastFolder_ = KZSearchItemInfo::Folder(std::string(folder));
        return lastFolder_;
    }
    KZSearchItemInfo::Folder lastFolder_;
    std::map<dev_t, bool> kernelDevices_;
    std::unordered_map<std::string, fs::path> linkFreeFolders_;
    const std::pair<const std::string, fs::path>* lastLinkFree_ = nullptr;
    std::unordered_map<std::string, bool> photoFolders_;
    const std::pair<const std::string, bool>* lastPhotoFolder_ = nullptr;
};

} // namespace

void KZSavedResultReopen::useFileTypeLabels(Options& options, const QVariantList& labels)
{
    auto tagger = std::make_shared<const KZFileTypeTagger>(labels);
    // The tabs a search makes besides the labels' own.
    options.fileTypeExists = [tagger](quint64 tag) {
        return tag == KZTag::allDuplicates || tag == KZTag::unlabeledFiles || tag == KZTag::folders
            || tagger->hasLabel(tag);
    };
    options.fileTypeOf = [tagger](const KZSearchItemInfo& item) { return tagger->tagFor(item); };
}

KZReopenedResult KZSavedResultReopen::rebuild(const KZSavedResult& saved, std::vector<KZSourceItemRef> sources,
                                              const Options& options)
{
    return rebuild(saved, std::move(sources), options, nullptr);
}

KZReopenedResult KZSavedResultReopen::rebuild(KZSavedResult&& saved, std::vector<KZSourceItemRef> sources,
                                              const Options& options)
{
    return rebuild(saved, std::move(sources), options, &saved);
}

KZReopenedResult KZSavedResultReopen::rebuild(const KZSavedResult& saved, std::vector<KZSourceItemRef> sources,
                                              const Options& options, KZSavedResult* spent)
{
    KZReopenedResult out;
    out.sources = std::move(sources);
    Rebuilder rebuilder(out.sources, options, out);
    rebuilder.noteSavedCopies(saved.items);
    std::vector<Candidate> candidates = rebuilder.resolve(saved.items, false, spent ? &spent->items : nullptr);
    // What is left of the records is of no more use: their room goes to the
    // items' nodes.
    if (spent)
        std::vector<KZSavedItem>().swap(spent->items);
    out.items = rebuilder.build(std::move(candidates), true, &out.itemsCount, &out.itemsSize);
    if (saved.emptyFolders && !saved.emptyFolders->empty()) {
        quint64 size = 0;
        KZFoundList folders = rebuilder.build(
            rebuilder.resolve(*saved.emptyFolders, true, spent ? &*spent->emptyFolders : nullptr), false,
            &out.emptyFoldersCount, &size);
        if (!folders.isEmpty())
            out.emptyFolders = std::move(folders);
    }
    if (rebuilder.wasStopped()) {
        // Half a result would pass for what the file holds.
        KZReopenedResult stopped;
        stopped.sources = std::move(out.sources);
        stopped.stopped = true;
        return stopped;
    }
    return out;
}
