#pragma once

#include "platform/FileIdentity.h"

#include <QByteArray>
#include <QString>

#include <filesystem>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace platform {

// A stored reference to an item: a binary property list {"path": the path's
// bytes, "pathString": the path for display, "device", "inode", and the rest
// of the item's identity: "birthSeconds" and "birthNanoseconds", or where the
// file system keeps no birth time "size", "modifiedSeconds" and
// "modifiedNanoseconds"; "fileSystem", the file system's own identity,
// "volume" and "mount", its block device's and its mount's, and "folder"}. The item is the path itself (a symbolic link is not followed).
// With FoldersAbove::Recorded it also holds "folders": the identity of each
// folder above the item on its disk, so that the item is still found once
// one of them is renamed (see foldersAbove).
enum class FoldersAbove { Left, Recorded };
QByteArray createBookmark(const std::filesystem::path& path, QString* error = nullptr,
                          FoldersAbove folders = FoldersAbove::Left);
// The same reference made from an identity already read (by a scan), without
// looking at the disk: an item renamed since it was read is still found by
// it, where createBookmark() would find nothing at the old path. Folders
// above are recorded only while the path still holds that very inode.
QByteArray bookmarkOf(const std::filesystem::path& path, const FileIdentity& identity, QString* error = nullptr,
                      FoldersAbove folders = FoldersAbove::Left);

// The most bytes a bookmark may hold; a larger one is refused as damaged.
inline constexpr quint64 kMaxBookmarkBytes = quint64(64) * 1024;

struct ResolvedBookmark {
    std::filesystem::path path;
    // Found under another name in the same folder, or in a folder above it
    // that was renamed: the path differs from the stored one.
    bool renamed = false;
};

// The stored path when it still holds the same disk and inode (a disk back
// under another device number is the same by its file system) and no
// stranger made there on the freed inode (another kind, birth time or
// generation); else the entry of the same parent folder with that inode,
// where it is proved the item (its kind, and its birth time, a folder's
// generation, or a file recorded without birth time its size and date):
// the item was renamed; else, where the bookmark records the folders above
// the item, the same place reached through the folders that were renamed,
// each found in the folder above it by its inode and proved that folder by
// its birth time or generation (a folder that has neither is not followed);
// else the item is missing and the answer is nullopt (with a reason in
// `error`). A move to another folder is not followed.
std::optional<ResolvedBookmark> resolveBookmark(const QByteArray& data, QString* error = nullptr);

// What a bookmark names, read without looking at the disk: the path it was
// made for and the identity the item had then. nullopt when it is damaged.
struct BookmarkTarget {
    std::filesystem::path path;
    quint64 device = 0;
    quint64 inode = 0;
    // Device and inode with what else was recorded; a reference from before
    // the rest was kept holds device and inode alone, which prove nothing.
    FileIdentity identity;
    // The record of the folders above the item, as stored; empty in a
    // bookmark that records none. Read only where the item is not in place.
    QByteArray foldersRecord;
    // That record read: the folders, outermost first, that are the last
    // ones of the path's folders, on the item's disk, below its mount's root
    // and any link on the way. Each holds its inode and its birth time or
    // generation (neither where its disk keeps none); device and disk marks
    // are the item's. Empty where there is no record, or it does not read.
    std::vector<FileIdentity> foldersAbove() const;
};
std::optional<BookmarkTarget> bookmarkTarget(const QByteArray& data, QString* error = nullptr);

// Whether `data` holds a whole reference (path, device and inode), whatever
// became of the item since: one that does not is damage, not a missing item.
bool isWellFormedBookmark(const QByteArray& data);

// Resolves many bookmarks as resolveBookmark does, but lists each folder at
// most once to look for renamed items: a result whose files left one large
// folder costs one listing of it instead of one per file. What a listing
// showed is kept for the resolver's life, so make one per batch.
class BookmarkResolver {
public:
    // A bookmark read and looked up where it points, with no renamed entry
    // looked for yet: what each of many bookmarks needs on its own, so it
    // may run for several of them on several threads at once.
    struct Probe {
        std::optional<BookmarkTarget> target;
        QString error; // why there is no target
        bool inPlace = false; // the stored path still holds the item
        // What the stored path showed (a link described, not followed) when
        // the item is in place: a caller that looks at that very path again
        // may take this instead of asking the disk twice.
        std::optional<FileStat> stat;
    };
    static Probe probe(const QByteArray& data);

    std::optional<ResolvedBookmark> resolve(const QByteArray& data, QString* error = nullptr);
    // The same answer as resolve() of the probed bookmark.
    std::optional<ResolvedBookmark> resolve(Probe probed, QString* error = nullptr);

private:
    struct IdentityHash {
        size_t operator()(const std::pair<quint64, quint64>& id) const
        {
            return std::hash<quint64>()(id.first * 0x9E3779B97F4A7C15ULL ^ id.second);
        }
    };
    // Per folder: the name of each identity, the first in listing order.
    using Names = std::unordered_map<std::pair<quint64, quint64>, std::string, IdentityHash>;
    std::unordered_map<std::string, Names> folders_;
    // Per stored folder of items, disk and record of the folders above
    // them (one key of all three, so that a file of many records finds each
    // way at once): where those folders lead now, renamed ones followed
    // (none when they lead nowhere new).
    struct FolderWay {
        std::optional<std::filesystem::path> leadsTo;
        quint64 device = 0; // of the folder it leads to
    };
    std::unordered_map<std::string, FolderWay> ways_;
};

} // namespace platform
