#pragma once

#include "result/model/KZFoundItem.h"
#include "resultfiles/KZSavedResultFormat.h"
#include "settings/KZSourceItem.h"

#include <QVariantMap>

#include <map>
#include <optional>
#include <vector>

// Everything a save needs, taken on the GUI thread before the work is
// queued: the worker only makes references, converts and writes, and never
// touches a window or a list controller.
struct KZSaveSnapshot {
    KZFoundItemArray items;
    KZFoundItemArray emptyFolders;
    std::vector<KZSourceItemRef> sources;
    std::map<quint64, KZSavedTabSources> leftSide;
    quint64 selectedTabTag = 0;
    std::map<quint64, KZSavedListState> rightSide;
    std::optional<std::vector<KZSavedDeadTrack>> deadTracks;
    KZSavedGenericInfo genericInfo;

    // What the save request carries from the result model: the found items,
    // the empty folders, the sources and the result-info values. The tabs'
    // view state is added by the window that owns the tabs.
    static KZSaveSnapshot fromRequest(const QVariantMap& request);
};
