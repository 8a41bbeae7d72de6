#pragma once

#include "resultfiles/KZSavedResultFormat.h"

#include <QtGlobal>

#include <map>

class KZResultCntrl;
class KZResultOutlineCntrl;
class KZResultSourcesList;
struct KZSaveSnapshot;

// The view state of every tab of a result window as a saved result keeps
// it: per tab the sources list's rows and selection, and per list the sort
// order, the expanded groups and the selected rows. Read on the GUI thread
// before a save is queued; applied once a reopened result's lists exist.
class KZSavedViewState {
public:
    using Outlines = std::map<quint64, KZResultOutlineCntrl*>;

    // Fills the snapshot's left and right sides from every tab, not only the
    // tab on screen.
    static void read(const KZResultCntrl& result, const Outlines& outlines, KZSaveSnapshot& snapshot);
    // One tab's sources list (a tab without a sources list of its own gives
    // the row its list shows as the selection), and the way back.
    static KZSavedTabSources tabSources(const KZResultSourcesList* list, quint64 shownRowTag);
    static QVariantMap tabSourcesMap(const KZSavedTabSources& tab);

    // Hands every tab its saved state: the sources list first, then the
    // list's sort orders, expansions and selections.
    static void apply(const KZResultCntrl& result, const KZSavedResult& saved, bool shownByGroupWhenSaved);
    // A list record as the list model reads it.
    static QVariantMap listStateMap(const KZSavedListState& state);
};
