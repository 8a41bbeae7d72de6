#pragma once

#include <QString>
#include <QtGlobal>

#include <filesystem>
#include <string_view>

class KZStopSource;

// Sums of a folder measurement: the items' total sizes (what the item takes
// as a whole, every fork included; on Linux there is only the data) and
// their data sizes.
struct ItemSizeInfo {
    quint64 totalFileSize = 0;
    quint64 fileSize = 0;
};

// Counters of a folder measurement, owned by the caller.
struct ItemCountInfo {
    quint64 folders = 0;          // directories that are not packages
    quint64 filesAndPackages = 0; // everything else, packages included
};

// Folder measurement, and the names a folder may hold and still count as
// empty. Safe from any thread.
namespace KZFolderSizes {

// Every item below `folder` (hidden ones and package contents included,
// symbolic links not followed) adds one to `itemsFound` and its sizes to
// the sums; folders add no size. Unreadable folders are passed over.
// `stop`, when given, is asked before every item; a stopped measurement
// answers what was summed until then.
ItemSizeInfo iterateFolderForSize(const std::filesystem::path& folder, quint64* itemsFound,
                                  const KZStopSource* stop = nullptr);
// The measurement of a scan: Finder's ".DS_Store" files are left out,
// `stop` is asked before and after every item, and the first error ends
// the measurement. Answers what was summed until then. With
// `incrementCount` the items are counted into `itemsFound`.
ItemSizeInfo iterateFolderForSize(const std::filesystem::path& folder, const KZStopSource* stop,
                                  ItemCountInfo* itemsFound, bool incrementCount);
// true when an item of that name is measured.
bool cantBeCalculated(const QString& name);
// The file system's own bookkeeping that a folder may hold and still be
// empty: ".DS_Store", ".localized", AppleDouble "._" files and the
// custom-icon file "Icon\r". Any other name, a dot file such as ".env"
// or ".gitignore" included, is content.
bool isFolderMetadataName(std::string_view name);

} // namespace KZFolderSizes
