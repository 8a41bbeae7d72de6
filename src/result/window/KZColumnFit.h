#pragma once

#include <QList>
#include <QtGlobal>

// How the columns of a tab's result list share the list's width. The check
// and location columns keep their own widths; the others start at their
// least and grow by turns, the name first, until the list is full: a full
// date or a wide kind never pushes the name into a narrow column nor the
// size and kind out of sight. Below the least widths the list scrolls.
namespace KZColumnFit {

// Widths in the order of KZTableHeaderCntrl::all(); 0 for a hidden column.
// `checkWidth` is the check column's width (it makes room for the members'
// indentation), `fullDateWidth` what a full date with its time needs.
QList<int> resultListWidths(int available, bool locationShown, int checkWidth, int fullDateWidth);

} // namespace KZColumnFit
