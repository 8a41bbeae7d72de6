#include "platform/Bookmark.h"

#include "platform/BinaryPropertyListReader.h"
#include "platform/BinaryPropertyListWriter.h"
#include "platform/DirectoryListing.h"
#include "platform/FileOps.h"
#include "platform/FileStat.h"
#include "platform/Paths.h"
#include "platform/PropertyList.h"

#include <QVariantMap>

#include <fcntl.h>

#include <functional>

namespace platform {

namespace {

const QString kPathKey = QStringLiteral("path");
const QString kPathStringKey = QStringLiteral("pathString");
const QString kDeviceKey = QStringLiteral("device");
const QString kInodeKey = QStringLiteral("inode");

bool setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
    return false;
}

} // namespace

QByteArray createBookmark(const std::filesystem::path& path, QString* error)
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
    return bookmarkOf(path, FileIdentity::of(AT_FDCWD, path.c_str(), *st, fileSystemOf(path)), error);
}

QByteArray bookmarkOf(const std::filesystem::path& path, const FileIdentity& identity, QString* error)
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

std::optional<ResolvedBookmark> resolveTarget(BookmarkTarget target, bool inPlace, QString* error,
                                              const RenameLookup& lookup)
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
    return resolveTarget(std::move(*target), inPlace, error, lookup);
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
    return resolveTarget(std::move(*probed.target), probed.inPlace, error, [this](const std::filesystem::path& parent, quint64 device, quint64 inode) {
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
    });
}

} // namespace platform
