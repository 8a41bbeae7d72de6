#pragma once

#include "engine/KZProgressControl.h"

// The progress of a search that nobody watches (the empty-folder follow-up
// started by a removal): every report is dropped, and only the search's own
// end stops it. A caller that wants one report overrides that one.
class KZNullProgress : public KZProgressControl {
public:
    bool wasStopped() const override { return false; }
    void prepareToSearch(const QVariantMap&) override {}
    void setIsSearching(bool) override {}
    void setFoundSize(quint64) override {}
    void setFoundCount(quint64) override {}
    void setCheckedCount(quint64) override {}
    void setItemsToCheckCount(quint64) override {}
};
