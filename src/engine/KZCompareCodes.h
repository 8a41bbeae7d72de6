#pragma once

#include <QString>
#include <QtGlobal>

// Answers of the engine's comparisons and look-ups. They double as the sort
// order of the comparison trees: 1 descends left, any other non-zero answer
// but kNotComparable descends right.
namespace KZCompare {

inline constexpr qint16 kSame = 0;
inline constexpr qint16 kAfter = 1;          // the new item sorts after the tree item
inline constexpr qint16 kBefore = -1;        // the new item sorts before it
inline constexpr qint16 kNotComparable = -2; // also: "already present" for the met-before trees
inline constexpr qint16 kAlreadySeen = -48;  // a path offered twice, or no room to record it

} // namespace KZCompare

// Names: case-insensitive, the new name against the tree's; a missing name on
// either side is not comparable.
qint16 compareForSameString(const QString& treeString, const QString& newString);

// 0 when equal, -1 when the new value is smaller, 1 when it is larger.
qint16 compareForSameNumber(quint64 treeValue, quint64 newValue);
