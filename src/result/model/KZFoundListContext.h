#pragma once

#include "settings/KZFileTypeLabel.h"
#include "settings/KZSourceItem.h"
#include "settings/KZTags.h"

#include <QString>

#include <functional>
#include <memory>
#include <vector>

class KZFoundItemsCntrl;
class KZFoundListHost;
class KZFoundListStore;
class KZFoundListWorkers;
class KZListOutline;
class KZResultCntrl;

// What the collaborators of one tab's list model share with it: the tab,
// the views around it, the stored lists and the workers. The list model
// owns everything this points at and outlives its collaborators.
struct KZFoundListContext {
    KZTabTag tabTag = 0;
    KZFileTypeLabelRef fileType;
    std::vector<KZSourceItemRef> sources;
    // Null in a model that only builds lists.
    KZResultCntrl* resultCntrl = nullptr;
    // Either may be null (tests, a model that only builds lists).
    KZFoundListHost* host = nullptr;
    KZListOutline* outline = nullptr;
    KZFoundListStore* store = nullptr;
    KZFoundListWorkers* workers = nullptr;
    std::function<std::shared_ptr<KZFoundItemsCntrl>()> model;
    std::function<KZTabTag()> currentTag;
    // The tab is on screen.
    std::function<bool()> isVisible;
    std::function<bool()> shownByGroup;
    // Hands the current list to the outline again; main thread.
    std::function<void(bool restoreScroll)> showList;

    // The localized text of `key` with the tab's name in it.
    QString withTabName(const QString& key) const;
};
