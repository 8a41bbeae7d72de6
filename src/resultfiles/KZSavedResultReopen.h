#pragma once

#include "engine/KZFoundList.h"
#include "engine/KZSearchItemInfo.h"
#include "resultfiles/KZReopenNotes.h"
#include "resultfiles/KZSavedResultFormat.h"
#include "settings/KZSourceItem.h"

#include <QString>
#include <QVariantMap>
#include <QtGlobal>

#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

// A saved result rebuilt against the disk as it is now.
struct KZReopenedResult {
    std::vector<KZSourceItemRef> sources;
    // The engine's found list, newest first: the records in reverse file order.
    KZFoundList items;
    quint64 itemsCount = 0;
    quint64 itemsSize = 0;
    std::optional<KZFoundList> emptyFolders;
    quint64 emptyFoldersCount = 0;
    KZReopenNotes notes;
    // The rebuild was stopped before its end: nothing of it is kept.
    bool stopped = false;
};

// Reopening a saved result without windows: the file read and checked, its
// sources resolved, its items rebuilt into the found list a search would
// have made.
//
// The file comes from anywhere, and what it lists decides what a later
// removal acts on, so nothing in it is trusted beyond what the disk says:
// - every path must be absolute and plain and lie inside a source that
//   resolved, outside that source's exclusions and the global ones (those
//   made for the music library told apart); with
//   nested sources, the innermost one that does not exclude it holds it;
// - a directory entry listed twice, also under two paths (a bind mount),
//   or a member inside another member of its group, is kept once, so one
//   file never passes for two copies of itself (two hard links to one file
//   are two entries, both kept, as a search finds them);
// - a group's members-left counter is never above the members rebuilt, and
//   never below 1;
// - every item is compared with what was saved (type, size, modification
//   and birth times): a marked one that changed is unmarked, an unmarked one
//   that changed is left out, and neither counts as a copy of its group;
// - a group keeps an unmarked member that did not change (the first one is
//   unmarked when none is), and a group of one is unmarked entirely;
// - the library that owned an item owns it again, and every item is flagged
//   as rebuilt, so that a removal compares its content with the copy that
//   stays before it goes; its mark rides with it (see
//   KZSearchItemInfo::isSavedMarked), not in a table by path.
class KZSavedResultReopen {
public:
    // Saved results larger than this are refused before they are read.
    static constexpr quint64 maxFileSize = quint64(256) * 1024 * 1024;

    // The file's result, read leniently (see KZSavedResultFormat); `damaged`
    // gets the count of records dropped. A file that is not a saved result
    // answers nullopt with the reason.
    static std::optional<KZSavedResult> readFile(const std::filesystem::path& file, QString* error,
                                                 int* damaged = nullptr);

    // The saved sources that still resolve, as sources of a search. Labels
    // that repeat or are out of range are numbered again in order. `damaged`
    // gets the count of records that name no item at all (a damaged file),
    // as against items that are gone.
    static std::vector<KZSourceItemRef> resolveSources(const std::vector<KZSavedSource>& saved,
                                                       int* damaged = nullptr);

    struct Options {
        // Locations left out of every search.
        std::vector<std::filesystem::path> globalExclusions;
        // Those of them that a search leaves out for the music library (its
        // media folder, a source whose name holds "iTunes"): an item there
        // is told apart from one outside the searched folders.
        std::vector<std::filesystem::path> musicLibraryExclusions;
        // Whether a file-type tab of that tag exists; empty: every ordinary tag does.
        std::function<bool(quint64)> fileTypeExists;
        // The search's own filing of an item whose saved tab cannot be used;
        // empty: folders to the folders tab, anything else to unlabelled files.
        std::function<quint64(const KZSearchItemInfo&)> fileTypeOf;
        // Told of every rebuilt item (the progress window counts them by type).
        std::function<void(const KZSearchItemInfo&)> didRebuildItem;
        // Asked between records and while a folder is measured, from the
        // rebuilding thread: true ends the rebuild (the program quits).
        std::function<bool()> stopped;
    };

    // The user's file-type labels decide which saved tabs exist and where an
    // item whose tab went is filed, as a search files it.
    static void useFileTypeLabels(Options& options, const QVariantList& labels);

    // Rebuilds the items and empty folders of `saved` inside `sources`.
    static KZReopenedResult rebuild(const KZSavedResult& saved, std::vector<KZSourceItemRef> sources,
                                    const Options& options);
    // The same, spending `saved` on the way: each record's bookmark is freed
    // once read, so that a large file's records do not stay beside the items
    // rebuilt from them.
    static KZReopenedResult rebuild(KZSavedResult&& saved, std::vector<KZSourceItemRef> sources,
                                    const Options& options);

    // True when `path` is absolute and has no empty, "." or ".." component.
    static bool isPlainAbsolute(const std::filesystem::path& path);

private:
    static KZReopenedResult rebuild(const KZSavedResult& saved, std::vector<KZSourceItemRef> sources,
                                    const Options& options, KZSavedResult* spent);
};
