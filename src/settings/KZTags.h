#pragma once

#include <QtGlobal>

// Tags of the result's tabs and rows. Labels defined by the user carry their
// own tags below the special range.
namespace KZTag {

inline constexpr qint64 allDuplicates = 0;
inline constexpr qint64 unlabeledFiles = 1;
inline constexpr qint64 folders = 2;
inline constexpr qint64 specialTabsStart = 100000000000LL;
inline constexpr qint64 missingTracks = 100000000001LL;
inline constexpr qint64 emptyFolders = 100000000002LL;
// A source row's tag is this plus the source's location label.
inline constexpr qint64 sourceRowBase = 100000000004LL;
// The marked-items row's tag is this plus the tab's tag.
inline constexpr qint64 markedItemsRowBase = 100000000103LL;

} // namespace KZTag
