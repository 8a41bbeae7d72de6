#pragma once

#include <QtGlobal>

// The tag of a result tab, and of a row of its sources list: one unsigned
// type wherever a tag is held, compared or added to.
using KZTabTag = quint64;

// Tags of the result's tabs and rows. Labels defined by the user carry their
// own tags below the special range.
namespace KZTag {

inline constexpr KZTabTag allDuplicates = 0;
inline constexpr KZTabTag unlabeledFiles = 1;
inline constexpr KZTabTag folders = 2;
inline constexpr KZTabTag specialTabsStart = 100000000000ULL;
inline constexpr KZTabTag missingTracks = 100000000001ULL;
inline constexpr KZTabTag emptyFolders = 100000000002ULL;
// A source row's tag is this plus the source's location label.
inline constexpr KZTabTag sourceRowBase = 100000000004ULL;
// The marked-items row's tag is this plus the tab's tag.
inline constexpr KZTabTag markedItemsRowBase = 100000000103ULL;

} // namespace KZTag
