#pragma once

#include "result/model/KZFoundItem.h"

#include <QString>

// The commands of a list's context menu, shared with the File and Result
// menus by tag.
namespace KZResultMenus {

inline constexpr int revealTag = 100;
inline constexpr int openTag = 101;
inline constexpr int markTag = 102;

// The title of the mark item for the items the menu acts on; empty when
// there are none (the title is then left as it is).
QString markItemTitle(const KZFoundItemArray& items);
// Whether a command may be chosen. Opening tests the first item only: a
// plain folder would open a file manager, not the file.
bool checkForSelectionWithTag(int tag, const KZFoundItemArray& items, bool aboutIsOpen);

} // namespace KZResultMenus
