#pragma once

#include "result/model/KZResultSourcesTypeItem.h"
#include "result/model/KZResultTabCntrl.h"
#include "settings/KZSourceItem.h"

#include <QList>
#include <QString>
#include <QVariantMap>

#include <optional>
#include <vector>

// The rows of one tab's sources list and what happens to their figures,
// without any view: the list controller shows them and turns clicks into
// calls here. Main thread only.
//
// With one source the rows are [tab, marked]; with two or more, [tab,
// source 1 ... source n, marked], with separators under the tab's row and
// under the last source.
class KZResultSourcesRows {
public:
    KZResultSourcesRows(quint64 tabTag, const QString& tabName, const std::vector<KZSourceItemRef>& sources,
                        bool searchStoppeByUser);

    quint64 tabTag() const { return tabTag_; }
    const std::vector<KZResultSourcesTypeItemRef>& items() const { return items_; }
    int count() const { return static_cast<int>(items_.size()); }
    KZResultSourcesTypeItemRef at(int row) const;
    std::optional<int> indexOfItemWithTag(quint64 tag) const;

    // The row last reported as selected.
    qint64 currSelectedRow() const { return currSelectedRow_; }
    // The table selected `row`: the userInfo of "sourceSelectionDidChange"
    // when that is a row other than the one reported last, else nothing.
    std::optional<QVariantMap> selectionDidChange(int row);

    // A row's check box or mark menu asks to mark: the request with the
    // row's "locationTag" and the tab's "ownerTag", or nothing when no row
    // has the request's "itemsToManageTag" (it vanished meanwhile).
    std::optional<QVariantMap> completeMarkRequest(const QVariantMap& request) const;

    // The rows a marking, a removal or a list count changed (indexes).
    QList<int> updateMarkedInfo(const KZMarkedInfoUpdate& update);
    QList<int> updateRemovedInfo(const KZViewToUpdateRef& info);
    std::optional<int> updateInfo(const QVariantMap& listInfo);
    // The tab's label was renamed.
    void setTabName(const QString& name);

    // What a saved result keeps of the list: {"sources": one map per row
    // ("tag", "isPhotosLib", "searchStoppeByUser", "markedCount",
    // "markedSize", "removedSize", "removedCount"), "selection": the tag of
    // the selected row}.
    QVariantMap savedSettings() const;
    // Puts back the removed figures and flags of a reopened result; marked
    // figures come from the lists themselves. Answers the index of the row
    // to select, when the saved selection names a row of this list.
    std::optional<int> setSavedSettings(const QVariantMap& saved);

private:
    // Row tag -> change record, with the tab's and the marked row's own.
    std::vector<std::pair<int, KZViewToUpdateRef>> changedRows(const KZViewToUpdateRef& info) const;

    quint64 tabTag_;
    std::vector<KZResultSourcesTypeItemRef> items_;
    qint64 currSelectedRow_ = 0;
};
