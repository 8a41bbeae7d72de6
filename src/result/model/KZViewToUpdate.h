#pragma once

#include <QMetaType>
#include <QtGlobal>

#include <map>
#include <memory>

class KZViewToUpdate;
using KZViewToUpdateRef = std::shared_ptr<KZViewToUpdate>;
// Tab tag (or location row tag) to what changed there.
using KZViewsToUpdate = std::map<quint64, KZViewToUpdateRef>;

// What one marking or removal changed in one tab, or in one location row of
// it: the tab's counters move by these amounts and its view is refreshed
// when needsUpdate is set. Made empty, filled by the model on the thread
// that marks, read by the tab controllers afterwards.
class KZViewToUpdate {
public:
    qint64 size() const { return size_; }
    void setSize(qint64 size) { size_ = size; }
    qint64 managedCount() const { return managedCount_; }
    void setManagedCount(qint64 count) { managedCount_ = count; }
    const KZViewsToUpdate& locationsInfo() const { return locationsInfo_; }
    KZViewsToUpdate& locationsInfo() { return locationsInfo_; }
    bool needsUpdate() const { return needsUpdate_; }
    void setNeedsUpdate(bool value) { needsUpdate_ = value; }

private:
    qint64 size_ = 0;
    qint64 managedCount_ = 0;
    KZViewsToUpdate locationsInfo_;
    bool needsUpdate_ = false;
};

Q_DECLARE_METATYPE(KZViewToUpdateRef)
