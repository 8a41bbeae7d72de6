#pragma once

#include "result/model/KZSortDescriptor.h"

#include <QVariantList>
#include <QVariantMap>
#include <QtGlobal>

#include <functional>

struct KZFoundListContext;

// Puts back the per-tab state of a reopened result: each list's order, the
// selected rows and the expanded groups. A saved result is a file from
// anywhere: only known columns and comparisons are taken from it. Main
// thread.
class KZFoundListSavedState {
public:
    // `sort` runs a sort request as the list model does; `showOrder` makes
    // descriptors the view's order. `context` outlives the saved state.
    KZFoundListSavedState(const KZFoundListContext& context, std::function<void(const QVariantMap&)> sort,
                          std::function<void(const KZSortDescriptors&)> showOrder);

    void setSavedSettings(const QVariantMap& saved, bool shownByGroupWhenSaved);
    void setSavedSortDescriptors(const QVariantMap& saved);
    void setSavedSelection(const QVariantMap& saved, bool shownByGroupWhenSaved);
    void setSavedExpanded(const QVariantMap& saved);
    // The descriptors of a saved list, keeping only known columns and
    // comparisons.
    static KZSortDescriptors sortDescriptorsFromSaved(const QVariantList& saved);
    static qsizetype indexOfItemInArray(const QVariantList& saved, qint64 groupID);

private:
    const KZFoundListContext& context_;
    const std::function<void(const QVariantMap&)> sort_;
    const std::function<void(const KZSortDescriptors&)> showOrder_;
};
