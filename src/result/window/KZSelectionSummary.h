#pragma once

#include <QString>
#include <QtGlobal>

namespace KZSelectionSummary {

// The line under the list: how many of the list's items and groups are
// selected. Empty when nothing is.
QString text(quint64 selectedGroups, quint64 selectedItems, quint64 itemsCount, quint64 groupsCount);

} // namespace KZSelectionSummary
