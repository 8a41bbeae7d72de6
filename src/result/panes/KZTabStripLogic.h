#pragma once

#include <QVariantList>
#include <QtGlobal>

#include <optional>
#include <vector>

// The rules of the result window's row of file-type tabs that do not depend
// on widgets: order, widths, which tab a selection request ends on, and which
// tabs a change of the labels default adds or removes.
namespace KZTabStripLogic {

inline constexpr double kMinSelfWidth = 730.0;
inline constexpr double kMinWindowWidth = 730.0;
inline constexpr double kMinWindowHeight = 560.0;
inline constexpr double kTabHeight = 28.0;
inline constexpr double kTabTop = 2.0;
inline constexpr double kEdge = 1.0;
inline constexpr double kTabGap = 4.0;
// Set apart from the file types: the dead-tracks and empty-folders tabs.
inline constexpr double kFixedTabsGap = 32.0;

// Tags whose tabs never follow a label of the defaults.
bool isFixedTag(quint64 tag);

// The narrowest a tab may become with `count` tabs sharing `selfWidth`;
// 0 without tabs.
double minWidth(double selfWidth, std::size_t count);

// The row of tabs, left to right: the space before each tab (1 before the
// first, 4 between tabs, 32 once before the first fixed tab at the end), the
// space after the last one, and each tab's minimum width (whole points).
struct Row {
    std::vector<double> gapsBefore;
    double trailing = kEdge;
    int minTabWidth = 0;
};
Row rowLayout(const std::vector<quint64>& orderedTags, double selfWidth = kMinSelfWidth);

// The tag a selection request ends on: a strip of one tab always selects it.
quint64 resolveSelection(const std::vector<quint64>& orderedTags, quint64 requested);

// The tab after the selected one, wrapping from the last to the first;
// nothing when no tab is selected.
std::optional<quint64> nextForCycle(const std::vector<quint64>& orderedTags, std::optional<quint64> selected);

// The tab to select when `removed` goes: the first of those that remain when
// it was the selected one (the first one included), nothing otherwise.
std::optional<quint64> selectionAfterRemoval(const std::vector<quint64>& orderedTags, quint64 removed,
                                             std::optional<quint64> selected);

// The tags of the labels dictionaries ("file_type_tag"), in their order.
std::vector<quint64> labelTags(const QVariantList& labels);

// Labels of `labels` that need a new tab: not fixed, without a tab yet and
// not in the labels seen before (a label that existed before and has no tab
// had no duplicates, and gets none now). In label order.
std::vector<quint64> addedTabs(const QVariantList& labels, const std::vector<quint64>& tabTags,
                               const QVariantList& oldLabels);

// The first tab, in tag order, whose label this change took away: in
// `oldLabels`, gone from `labels`. A tab the user chose to keep after an
// earlier deletion is not offered again. Fixed tabs are never offered and
// neither is the last tab.
std::optional<quint64> removedTab(const std::vector<quint64>& orderedTabTags, const QVariantList& labels,
                                  const QVariantList& oldLabels);

} // namespace KZTabStripLogic
