#include "platform/Bookmark.h"

#include "platform/BinaryPropertyListReader.h"
#include "platform/BinaryPropertyListWriter.h"
#include "platform/DirectoryListing.h"
#include "platform/FileSystemFacts.h"
#include "platform/FileOps.h"
#include "platform/FileStat.h"
#include "platform/Paths.h"
#include "platform/PropertyList.h"

#include <QVariantMap>
#include <QtEndian>

#include <fcntl.h>
#include <unistd.h>

#include <functional>
#include <mutex>

namespace platform {

namespace {

const QString kPathKey = QStringLiteral("path");
const QString kPathStringKey = QStringLiteral("pathString");
const QString kDeviceKey = QStringLiteral("device");
const QString kInodeKey = QStringLiteral("inode");
const QString kFoldersKey = QStringLiteral("folders");

bool setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
    return false;
}

} // namespace

namespace {

// The record of the folders above an item: a layout byte, then for each
// folder, outermost first, its inode (8 bytes, big-endian) and a kind byte:
// 0 nothing more, 1 a birth time (seconds, 8 bytes, and nanoseconds, 4
// bytes), 2 a generation (8 bytes). Data inside the property list, so that
// a bookmark stays a dictionary of plain values, read without a map.
constexpr char kFoldersLayout = 1;
enum FolderProof : char { kNoProof = 0, kBirthProof = 1, kGenerationProof = 2 };

template <typename T>
void appendBigEndian(QByteArray& out, T value)
{
    char bytes[sizeof(T)];
    qToBigEndian(value, bytes);
    out.append(bytes, sizeof(T));
}

QByteArray encodeFolders(const std::vector<FileIdentity>& folders)
{
    QByteArray out;
    out.reserve(qsizetype(1 + folders.size() * 21));
    out.append(kFoldersLayout);
    for (const FileIdentity& folder : folders) {
        appendBigEndian<quint64>(out, folder.inode);
        if (folder.birth) {
            out.append(char(kBirthProof));
            appendBigEndian<quint64>(out, quint64(folder.birth->seconds));
            appendBigEndian<quint32>(out, quint32(folder.birth->nanoseconds));
        } else if (folder.generation) {
            out.append(char(kGenerationProof));
            appendBigEndian<quint64>(out, *folder.generation);
        } else {
            out.append(char(kNoProof));
        }
    }
    return out;
}

// Nothing unless the whole record reads as written: a record that does not
// leaves the bookmark as one that records no folders.
std::vector<FileIdentity> decodeFolders(const QByteArray& data, const FileIdentity& item)
{
    std::vector<FileIdentity> folders;
    const auto* bytes = reinterpret_cast<const uchar*>(data.constData());
    const size_t size = size_t(data.size());
    if (size == 0 || bytes[0] != kFoldersLayout)
        return {};
    size_t at = 1;
    const auto take = [&](size_t count) {
        const bool fits = size - at >= count;
        at += fits ? count : 0;
        return fits;
    };
    while (at < size) {
        FileIdentity folder;
        folder.device = item.device;
        folder.fileSystem = item.fileSystem;
        folder.volume = item.volume;
        folder.mount = item.mount;
        folder.folder = true;
        if (!take(9))
            return {};
        folder.inode = qFromBigEndian<quint64>(bytes + at - 9);
        const uchar kind = bytes[at - 1];
        if (kind == kBirthProof) {
            if (!take(12))
                return {};
            const quint32 nanoseconds = qFromBigEndian<quint32>(bytes + at - 4);
            if (nanoseconds >= 1000000000)
                return {};
            folder.birth = FileIdentity::Time{qint64(qFromBigEndian<quint64>(bytes + at - 12)), qint64(nanoseconds)};
        } else if (kind == kGenerationProof) {
            if (!take(8))
                return {};
            folder.generation = qFromBigEndian<quint64>(bytes + at - 8);
        } else if (kind != kNoProof) {
            return {};
        }
        if (folder.inode == 0)
            return {};
        folders.push_back(std::move(folder));
    }
    return folders;
}

// What the folder holding an item was, to tell whether a record of the
// folders above it, read a moment ago, still holds.
struct FolderSeen {
    quint64 device = 0;
    quint64 inode = 0;
    std::optional<FileIdentity::Time> birth;
    std::optional<quint64> generation;
};

// Reads, from "/" down and without following a link unseen, the folders
// above `path` on the disk of its folder: what lies above that disk's root,
// or above a link on the way (where the path leads on elsewhere), is left
// out. Empty when the way cannot be walked.
std::optional<QByteArray> readFoldersAbove(const std::filesystem::path& parent, FolderSeen* seen)
{
    int fd = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    auto st = statAt(fd, ".", false);
    std::vector<FileIdentity> folders;
    bool keepsBirth = keepsBirthAcrossRenameAt(fd);
    for (const auto& part : parent.relative_path()) {
        const std::string& name = part.native();
        if (!st || name.empty() || name == "." || name == "..") {
            ::close(fd);
            return std::nullopt;
        }
        bool throughLink = false;
        int next = openFolderAt(fd, name.c_str(), kFolderPathOnly);
        if (next < 0 && (errno == ENOTDIR || errno == ELOOP)) {
            next = openFolderAt(fd, name.c_str(), kFolderPathOnly | kFolderFollowLink);
            throughLink = true;
        }
        ::close(fd);
        if (next < 0)
            return std::nullopt;
        fd = next;
        const dev_t deviceAbove = st->device;
        st = statAt(fd, ".", false);
        if (!st)
            break;
        // A rename never carries a folder across a link or a mount: where
        // one stands, the folders below it are the ones that count.
        if (throughLink || st->mountRoot || st->device != deviceAbove) {
            folders.clear();
            keepsBirth = keepsBirthAcrossRenameAt(fd);
            continue;
        }
        FileSystemFacts facts;
        facts.keepsBirthAcrossRename = keepsBirth;
        folders.push_back(FileIdentity::of(fd, "", *st, facts));
    }
    std::optional<QByteArray> record;
    if (st) {
        seen->device = quint64(st->device);
        seen->inode = st->inode;
        if (st->birth && keepsBirth)
            seen->birth = FileIdentity::Time{qint64(st->birth->tv_sec), qint64(st->birth->tv_nsec)};
        else
            seen->generation = folderGenerationAt(fd, "");
        record = encodeFolders(folders);
    }
    ::close(fd);
    return record;
}

// The folders above many items of one folder are read once: a save makes a
// bookmark for each item. A record is taken again only while the folder at
// that path is proved the one it was read of (its birth time or generation).
class FoldersAboveCache {
public:
    std::optional<QByteArray> of(const std::filesystem::path& parent)
    {
        if (const auto now = statPath(parent, true)) {
            std::lock_guard guard(lock_);
            const auto known = records_.find(parent.native());
            if (known != records_.end() && isStill(known->second.first, *now, parent))
                return known->second.second;
        }
        FolderSeen seen;
        std::optional<QByteArray> record = readFoldersAbove(parent, &seen);
        if (record && (seen.birth || seen.generation)) {
            std::lock_guard guard(lock_);
            // Bounded (some 3 MB at most): a save walks its items group by
            // group, each group's members in folders of their own, so that
            // the folders of a few thousand are asked for over and over.
            if (records_.size() >= 8192)
                records_.clear();
            records_.insert_or_assign(parent.native(), std::make_pair(seen, *record));
        }
        return record;
    }

private:
    static bool isStill(const FolderSeen& seen, const FileStat& now, const std::filesystem::path& parent)
    {
        if (quint64(now.device) != seen.device || now.inode != seen.inode)
            return false;
        if (seen.birth)
            return now.birth && FileIdentity::Time{qint64(now.birth->tv_sec), qint64(now.birth->tv_nsec)} == *seen.birth;
        return seen.generation && folderGenerationAt(AT_FDCWD, parent.c_str()) == seen.generation;
    }

    std::mutex lock_;
    std::unordered_map<std::string, std::pair<FolderSeen, QByteArray>> records_;
};

// The record of the folders above `path` for the item `identity`, only
// while the path holds that item: else the folders read would be those of
// another place.
std::optional<QByteArray> foldersAboveOf(const std::filesystem::path& path, const FileIdentity& identity)
{
    if (!path.is_absolute() || !path.has_parent_path() || path.filename().empty() || path == path.root_path())
        return std::nullopt;
    static FoldersAboveCache cache;
    std::optional<QByteArray> record = cache.of(path.parent_path());
    const auto st = statPath(path, false);
    if (!record || !st || quint64(st->device) != identity.device || st->inode != identity.inode)
        return std::nullopt;
    return record;
}

} // namespace

QByteArray createBookmark(const std::filesystem::path& path, QString* error, FoldersAbove folders)
{
    if (path.empty()) {
        setError(error, QStringLiteral("No item was given to remember."));
        return {};
    }
    int err = 0;
    const auto st = statPath(path, false, &err);
    if (!st) {
        setError(
            error,
            QStringLiteral("Cannot remember \u201c%1\u201d: %2").arg(platform::pathText(path), systemErrorString(err)));
        return {};
    }
    return bookmarkOf(path, FileIdentity::of(AT_FDCWD, path.c_str(), *st, fileSystemOf(path)), error, folders);
}

QByteArray bookmarkOf(const std::filesystem::path& path, const FileIdentity& identity, QString* error,
                      FoldersAbove folders)
{
    if (path.empty() || identity.inode == 0) {
        setError(error, QStringLiteral("No item was given to remember."));
        return {};
    }
    const std::string& bytes = path.native();
    QVariantMap map;
    map.insert(kPathKey, QByteArray(bytes.data(), qsizetype(bytes.size())));
    map.insert(kPathStringKey, platform::pathText(path));
    map.insert(kDeviceKey, identity.device);
    map.insert(kInodeKey, identity.inode);
    identity.insertInto(map);
    if (folders == FoldersAbove::Recorded)
        if (const std::optional<QByteArray> record = foldersAboveOf(path, identity))
            map.insert(kFoldersKey, *record);
    // Written directly: a save makes one for each of its items, and the
    // general writer's set-up costs more than such a small list.
    BinaryPropertyListWriter writer;
    const BinaryPropertyListWriter::Ref top = writer.value(map);
    return writer.finish(top, error);
}

namespace {

// Answers the name of the entry of `parent` with this identity.
using RenameLookup =
    std::function<std::optional<std::string>(const std::filesystem::path& parent, quint64 device, quint64 inode)>;

// What the entry at `path`, which holds the recorded inode on the item's
// disk, is of the item: the item, a stranger (another kind, or a birth time
// or generation of its own), or not told (a record that holds nothing a
// newcomer would not share). A file system hands a freed inode to the next
// item made at once, often in the same folder: the inode alone never tells.
Proof proveEntry(const FileIdentity& identity, const std::filesystem::path& path, const FileStat& st)
{
    return identity.proveOnItsDisk(st, folderGenerationQueryOf(path));
}

// Whether the item still stands at the stored path; if so, `seen` gets what
// the path showed.
bool isInPlace(const BookmarkTarget& target, std::optional<FileStat>* seen = nullptr)
{
    // Its disk may be back under another device number: its file system's
    // own identity tells it. Found is not proved: a byte copy of the disk
    // shows the item too, and what acts on it proves the disk itself; nor is
    // an item changed since, which its callers compare with what they hold.
    // A stranger made under the same name on the freed inode is not the item.
    auto st = statPath(target.path, false);
    if (!st)
        return false;
    const FileSystemQuery fileSystemNow = fileSystemQueryOf(target.path, *st);
    bool inPlace = false;
    if (st->inode == target.identity.inode) {
        inPlace = target.identity.disk().proveSameDisk(quint64(st->device), fileSystemNow) != Proof::Different
            && proveEntry(target.identity, target.path, *st) != Proof::Different;
    } else {
        // On a disk that numbers its files anew at every mount, mounted
        // again, the item is in place under another number where it is
        // proved by all but it. A folder there has nothing but its number
        // and its place to name it (no birth time, and a date that changes
        // with its entries): not proved means its disk and kind are, and
        // its place names it as its number did.
        const Proof proof = target.identity.prove(*st, fileSystemNow);
        inPlace = proof == Proof::Proved || (proof == Proof::NotProved && st->isDir());
    }
    if (inPlace && seen)
        *seen = std::move(st);
    return inPlace;
}

// Where the folders recorded above the item lead now, from the folder above
// the outermost of them down, each at its own name or else found renamed in
// the folder above it: the folder that holds the item's place now, only
// when some folder on the way was found renamed.
struct FolderReached {
    std::filesystem::path path;
    quint64 device = 0;
};
std::optional<FolderReached> followFoldersAbove(const BookmarkTarget& target, const RenameLookup& lookup)
{
    const std::vector<FileIdentity> folders = target.foldersAbove();
    std::vector<std::string> names;
    for (const auto& part : target.path.parent_path().relative_path())
        names.push_back(part.native());
    if (folders.empty() || folders.size() > names.size() || !target.path.is_absolute())
        return std::nullopt;
    std::filesystem::path current = target.path.root_path();
    const size_t first = names.size() - folders.size();
    for (size_t i = 0; i < first; ++i)
        current /= names[i];
    // The outermost folder's own folder, on the item's disk (which may be
    // back under another number): another disk given the old number holds
    // inodes of the same numbers, none of them these folders.
    const auto top = statPath(current, true);
    if (!top || !top->isDir()
        || target.identity.disk().proveSameDisk(quint64(top->device), fileSystemQueryOf(current / "."))
               == Proof::Different)
        return std::nullopt;
    const quint64 device = quint64(top->device);
    bool renamedOnTheWay = false;
    for (size_t i = 0; i < folders.size(); ++i) {
        const FileIdentity& folder = folders[i];
        const auto isFolder = [&](const std::filesystem::path& at, Proof needed) {
            const auto st = statPath(at, false);
            if (!st || !st->isDir() || quint64(st->device) != device || st->inode != folder.inode)
                return false;
            const Proof proof = folder.proveOnItsDisk(*st, folderGenerationQueryOf(at));
            return needed == Proof::Proved ? proof == Proof::Proved : proof != Proof::Different;
        };
        // At its own name its path names it, as the item's own path does.
        std::filesystem::path next = current / names[first + i];
        if (!isFolder(next, Proof::NotProved)) {
            // Elsewhere, only a folder proved the one recorded: a freed
            // inode is soon another folder's.
            const std::optional<std::string> name = lookup(current, device, folder.inode);
            if (!name)
                return std::nullopt;
            next = current / *name;
            if (!isFolder(next, Proof::Proved))
                return std::nullopt;
            renamedOnTheWay = true;
        }
        current = std::move(next);
    }
    if (!renamedOnTheWay)
        return std::nullopt;
    return FolderReached{std::move(current), device};
}

// The item in `folder`, proved the folder that held it: at its own name
// as it would be in place, the folder naming its entry as the stored path
// did; under another name in it only where it is proved the item.
std::optional<std::filesystem::path> itemInFolder(const BookmarkTarget& target, const FolderReached& reached,
                                                  const RenameLookup& lookup)
{
    const FileIdentity& identity = target.identity;
    const std::filesystem::path& folder = reached.path;
    const quint64 device = reached.device;
    std::filesystem::path at = folder / target.path.filename();
    if (const auto st = statPath(at, false); st && quint64(st->device) == device && st->inode == identity.inode
                                             && proveEntry(identity, at, *st) != Proof::Different)
        return at;
    if (const std::optional<std::string> name = lookup(folder, device, identity.inode)) {
        at = folder / *name;
        const auto st = statPath(at, false);
        if (st && quint64(st->device) == device && st->inode == identity.inode
            && proveEntry(identity, at, *st) == Proof::Proved)
            return at;
    }
    return std::nullopt;
}

// What a way down to an item's folder depends on: the folder's stored path
// (which holds no NUL), the item's disk and the record of the folders above,
// in bytes that tell each part from the next.
std::string wayKey(const BookmarkTarget& target)
{
    const DiskIdentity disk = target.identity.disk();
    std::string key = target.path.parent_path().native();
    key.push_back('\0');
    const auto number = [&key](quint64 value) { key.append(reinterpret_cast<const char*>(&value), sizeof value); };
    number(disk.device);
    for (const std::optional<quint64>& mark : {disk.fileSystem, disk.volume, disk.mount}) {
        key.push_back(mark ? '\1' : '\0');
        number(mark.value_or(0));
    }
    key.append(target.foldersRecord.constData(), size_t(target.foldersRecord.size()));
    return key;
}

// Where the folders above lead: followFoldersAbove, or an answer kept.
using FolderWalk = std::function<std::optional<FolderReached>(const BookmarkTarget& target)>;

std::optional<ResolvedBookmark> resolveTarget(BookmarkTarget target, bool inPlace, QString* error,
                                              const RenameLookup& lookup, const FolderWalk& walk)
{
    if (inPlace)
        return ResolvedBookmark{std::move(target.path), false};
    const auto& path = target.path;
    const FileIdentity& identity = target.identity;

    // The item may have been renamed in its folder: look for its identity
    // there, under the device number its folder's disk has now. Moves
    // elsewhere are not followed, the item counts as missing.
    std::optional<ResolvedBookmark> found;
    const auto parent = path.parent_path();
    if (!parent.empty()) {
        quint64 device = identity.device;
        Proof sameDisk = Proof::Different;
        if (const auto folder = statPath(parent, true)) {
            sameDisk = identity.disk().proveSameDisk(quint64(folder->device), fileSystemQueryOf(parent / "."));
            if (sameDisk != Proof::Different)
                device = quint64(folder->device);
        }
        // Another disk that was given the old device number holds inodes of
        // the same numbers, none of them the item.
        const bool otherDiskInPlace = sameDisk == Proof::Different && device == identity.device
                                      && identity.fileSystem;
        // Followed only to the item itself: the entry that holds its inode
        // now may be a newcomer given the freed number, and where nothing
        // proves it is not, the item counts as missing.
        if (!otherDiskInPlace)
            if (const std::optional<std::string> name = lookup(parent, device, identity.inode)) {
                std::filesystem::path renamed = parent / *name;
                const auto st = statPath(renamed, false);
                if (st && quint64(st->device) == device && st->inode == identity.inode
                    && proveEntry(identity, renamed, *st) == Proof::Proved)
                    found = ResolvedBookmark{std::move(renamed), true};
            }
    }
    // A folder above it renamed: the item is looked for at its place there.
    if (!found)
        if (const std::optional<FolderReached> folder = walk(target))
            if (std::optional<std::filesystem::path> moved = itemInFolder(target, *folder, lookup))
                found = ResolvedBookmark{std::move(*moved), true};
    if (!found)
        setError(error, QStringLiteral("\u201c%1\u201d can no longer be found.").arg(platform::pathText(path)));
    return found;
}

std::optional<ResolvedBookmark> resolveWith(const QByteArray& data, QString* error, const RenameLookup& lookup)
{
    auto target = bookmarkTarget(data, error);
    if (!target)
        return std::nullopt;
    const bool inPlace = isInPlace(*target);
    return resolveTarget(std::move(*target), inPlace, error, lookup,
                         [&lookup](const BookmarkTarget& moved) { return followFoldersAbove(moved, lookup); });
}

} // namespace

namespace {

// A bookmark's fields, as a lookup of the value stored under a key.
std::optional<BookmarkTarget> targetOf(const std::function<QVariant(const QString& key)>& value, QString* error)
{
    const QVariant storedPath = value(kPathKey);
    BookmarkTarget target;
    const auto number = [&value](const QString& key, quint64* out) {
        const std::optional<quint64> stored = storedUnsigned(value(key));
        if (stored)
            *out = *stored;
        return stored.has_value();
    };
    // A path holding a NUL is no path: the system would stop there and name
    // another item.
    if (storedPath.typeId() != QMetaType::QByteArray || storedPath.toByteArray().isEmpty()
        || storedPath.toByteArray().contains('\0') || !number(kDeviceKey, &target.device)
        || !number(kInodeKey, &target.inode)) {
        setError(error, QStringLiteral("The stored item reference is incomplete."));
        return std::nullopt;
    }
    target.identity = FileIdentity::readWith(value, target.device, target.inode);
    const QByteArray pathBytes = storedPath.toByteArray();
    target.path = std::filesystem::path(std::string(pathBytes.constData(), size_t(pathBytes.size())));
    // A bookmark made before the folders above were kept, or with a record
    // of them that does not read, follows no renamed folder.
    if (const QVariant folders = value(kFoldersKey); folders.typeId() == QMetaType::QByteArray)
        target.foldersRecord = folders.toByteArray();
    return target;
}

} // namespace

std::optional<BookmarkTarget> bookmarkTarget(const QByteArray& data, QString* error)
{
    // A path of PATH_MAX bytes, kept twice and written as XML with every
    // character escaped, still fits: what is larger is no bookmark, and is
    // not parsed (a reopened result may hold one under every record).
    if (quint64(data.size()) > kMaxBookmarkBytes) {
        setError(error, QStringLiteral("The stored item reference is damaged: it holds %1 bytes, more than any "
                                       "item reference (at most %2).")
                            .arg(data.size())
                            .arg(kMaxBookmarkBytes));
        return std::nullopt;
    }
    // A reopened result reads one for each of its items: what this program
    // writes is read without building a map of it.
    // The path for display is not needed to find the item.
    const auto wanted = [](std::string_view key) { return key != std::string_view("pathString"); };
    if (const auto entries = readFlatBinaryDictionary(data, wanted)) {
        return targetOf(
            [&entries](const QString& key) {
                const QVariant* value = entryValue(*entries, key);
                return value ? *value : QVariant();
            },
            error);
    }
    QString parseError;
    const auto value = data.startsWith("bplist") ? readBinaryPropertyList(data, &parseError)
                                                 : PropertyList::fromData(data, &parseError);
    if (!value || value->typeId() != QMetaType::QVariantMap) {
        setError(error, QStringLiteral("The stored item reference is damaged%1")
                            .arg(parseError.isEmpty() ? QStringLiteral(".") : QStringLiteral(": ") + parseError));
        return std::nullopt;
    }
    const QVariantMap map = value->toMap();
    return targetOf([&map](const QString& key) { return map.value(key); }, error);
}

std::vector<FileIdentity> BookmarkTarget::foldersAbove() const
{
    return decodeFolders(foldersRecord, identity);
}

bool isWellFormedBookmark(const QByteArray& data)
{
    return bookmarkTarget(data, nullptr).has_value();
}

std::optional<ResolvedBookmark> resolveBookmark(const QByteArray& data, QString* error)
{
    return resolveWith(data, error, [](const std::filesystem::path& parent, quint64 device, quint64 inode) {
        std::optional<std::string> name;
        listDirectory(parent, [&](const DirEntry& entry) {
            if (!entry.statFailed && quint64(entry.stat.device) == device && entry.stat.inode == inode) {
                name = entry.name;
                return false;
            }
            return true;
        });
        return name;
    });
}

BookmarkResolver::Probe BookmarkResolver::probe(const QByteArray& data)
{
    Probe probed;
    probed.target = bookmarkTarget(data, &probed.error);
    probed.inPlace = probed.target && isInPlace(*probed.target, &probed.stat);
    return probed;
}

std::optional<ResolvedBookmark> BookmarkResolver::resolve(const QByteArray& data, QString* error)
{
    return resolve(probe(data), error);
}

std::optional<ResolvedBookmark> BookmarkResolver::resolve(Probe probed, QString* error)
{
    if (!probed.target) {
        setError(error, probed.error);
        return std::nullopt;
    }
    const RenameLookup lookup = [this](const std::filesystem::path& parent, quint64 device, quint64 inode) {
        auto [folder, added] = folders_.try_emplace(parent.native());
        if (added) {
            Names& names = folder->second;
            listDirectory(parent, [&names](const DirEntry& entry) {
                if (!entry.statFailed)
                    names.try_emplace({quint64(entry.stat.device), entry.stat.inode}, entry.name);
                return true;
            });
        }
        const auto found = folder->second.find({device, inode});
        return found == folder->second.end() ? std::nullopt : std::optional<std::string>(found->second);
    };
    // The items of one folder share their way: it is walked once.
    const FolderWalk walk = [this, &lookup](const BookmarkTarget& target) -> std::optional<FolderReached> {
        if (target.foldersRecord.isEmpty())
            return std::nullopt;
        auto [way, added] = ways_.try_emplace(wayKey(target));
        if (added)
            if (const std::optional<FolderReached> reached = followFoldersAbove(target, lookup))
                way->second = {reached->path, reached->device};
        if (!way->second.leadsTo)
            return std::nullopt;
        return FolderReached{*way->second.leadsTo, way->second.device};
    };
    return resolveTarget(std::move(*probed.target), probed.inPlace, error, lookup, walk);
}

} // namespace platform
