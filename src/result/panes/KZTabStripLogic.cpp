#include "result/panes/KZTabStripLogic.h"

#include "settings/KZDefaultsKeys.h"
#include "settings/KZTags.h"

#include <QVariantMap>

#include <algorithm>
#include <limits>

namespace KZTabStripLogic {

bool isFixedTag(quint64 tag)
{
    return tag == quint64(KZTag::allDuplicates) || tag == quint64(KZTag::unlabeledFiles)
        || tag == quint64(KZTag::folders) || tag == quint64(KZTag::missingTracks)
        || tag == quint64(KZTag::emptyFolders);
}

double minWidth(double selfWidth, std::size_t count)
{
    if (count == 0)
        return 0.0;
    const double n = double(count);
    return std::max(0.0, (selfWidth - kTabGap * n) / n);
}

Row rowLayout(const std::vector<quint64>& orderedTags, double selfWidth)
{
    Row row;
    bool fixedGapUsed = false;
    for (std::size_t i = 0; i < orderedTags.size(); ++i) {
        double gap = i == 0 ? kEdge : kTabGap;
        if (i > 0 && !fixedGapUsed && orderedTags[i] > quint64(KZTag::specialTabsStart)) {
            gap = kFixedTabsGap;
            fixedGapUsed = true;
        }
        row.gapsBefore.push_back(gap);
    }
    const double m = std::min(minWidth(selfWidth, orderedTags.size()), double(std::numeric_limits<qint16>::max()));
    row.minTabWidth = int(m);
    return row;
}

quint64 resolveSelection(const std::vector<quint64>& orderedTags, quint64 requested)
{
    return orderedTags.size() == 1 ? orderedTags.front() : requested;
}

std::optional<quint64> nextForCycle(const std::vector<quint64>& orderedTags, std::optional<quint64> selected)
{
    if (!selected)
        return std::nullopt;
    const auto at = std::find(orderedTags.begin(), orderedTags.end(), *selected);
    if (at == orderedTags.end())
        return std::nullopt;
    const auto next = std::next(at);
    return next == orderedTags.end() ? orderedTags.front() : *next;
}

std::optional<quint64> selectionAfterRemoval(const std::vector<quint64>& orderedTags, quint64 removed,
                                             std::optional<quint64> selected)
{
    if (!selected || *selected != removed)
        return std::nullopt;
    for (const quint64 tag : orderedTags) {
        if (tag != removed)
            return tag;
    }
    return std::nullopt;
}

std::vector<quint64> labelTags(const QVariantList& labels)
{
    std::vector<quint64> tags;
    for (const QVariant& label : labels) {
        const QVariant tag = label.toMap().value(KZLabelKey::file_type_tag);
        if (tag.isValid())
            tags.push_back(tag.toULongLong());
    }
    return tags;
}

std::vector<quint64> addedTabs(const QVariantList& labels, const std::vector<quint64>& tabTags,
                               const QVariantList& oldLabels)
{
    const std::vector<quint64> old = labelTags(oldLabels);
    std::vector<quint64> added;
    auto contains = [](const std::vector<quint64>& v, quint64 t) { return std::find(v.begin(), v.end(), t) != v.end(); };
    for (const quint64 tag : labelTags(labels)) {
        if (isFixedTag(tag) || contains(tabTags, tag) || contains(old, tag) || contains(added, tag))
            continue;
        added.push_back(tag);
    }
    return added;
}

std::optional<quint64> removedTab(const std::vector<quint64>& orderedTabTags, const QVariantList& labels,
                                  const QVariantList& oldLabels)
{
    if (orderedTabTags.size() < 2)
        return std::nullopt;
    const std::vector<quint64> present = labelTags(labels);
    const std::vector<quint64> before = labelTags(oldLabels);
    auto contains = [](const std::vector<quint64>& v, quint64 t) { return std::find(v.begin(), v.end(), t) != v.end(); };
    for (const quint64 tag : orderedTabTags) {
        if (isFixedTag(tag) || contains(present, tag) || !contains(before, tag))
            continue;
        return tag;
    }
    return std::nullopt;
}

} // namespace KZTabStripLogic
