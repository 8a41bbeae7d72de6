#pragma once

#include "platform/Subscription.h"
#include "result/model/KZFoundItem.h"
#include "result/model/KZFoundListHost.h"

#include <QVariant>
#include <QVariantMap>

struct KZFoundListContext;

// The export of one tab's items: gathered on a worker in export order, then
// handed to the host's exporter, one export at a time. Main thread.
class KZFoundListExport {
public:
    // `sender` is the request's "sender" and the object of the exporter's
    // "exportingDidFinish"; `context` outlives the export.
    KZFoundListExport(const KZFoundListContext& context, QVariant sender, const void* senderObject);

    void exportResult();
    void exportingDidFinish();
    bool isRunning() const { return static_cast<bool>(panel_); }
    void stopObserving() { finishedObservation_.cancel(); }
    // The request an export of this tab gets, for `items` in export order.
    QVariantMap exportRequest(const KZFoundItemArray& items) const;
    // Marked members before unmarked ones, group after group.
    static KZFoundItemArray exportOrder(const KZFoundItemArray& items);

private:
    const KZFoundListContext& context_;
    const QVariant sender_;
    const void* const senderObject_;
    KZFoundListHost::Panel panel_;
    platform::Subscription finishedObservation_;
};
