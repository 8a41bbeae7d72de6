#pragma once

#include "platform/Subscription.h"
#include "result/model/KZFoundItem.h"
#include "result/model/KZFoundListHost.h"

#include <QString>
#include <QVariantMap>

struct KZFoundListContext;

// The removal of one tab's marked items: the panel it opens (one at a time),
// the report it hands to the result controller, and the tracks it tells the
// music library about. Main thread, apart from the panel's report.
class KZFoundListRemoval {
public:
    // `context` outlives the removal.
    explicit KZFoundListRemoval(const KZFoundListContext& context);

    // Opens the panel for the tab's marked items; with nothing marked it
    // says so (or beeps) and posts "remotionFailed".
    void prepareRemotion();
    // The panel's report, from the removal's own thread.
    void itemsDidRemove(const QVariantMap& userInfo);
    void removePanelDidClose();
    bool isOpen() const { return static_cast<bool>(panel_); }
    // Gives up the panel's notifications; a delivery running elsewhere is
    // waited for.
    void stopObserving();
    // The music library's script text for the removed tracks, or empty.
    static QString notifyDeletedSongsToiTunes(const KZFoundItemArray& removedItems);

private:
    const KZFoundListContext& context_;
    KZFoundListHost::Panel panel_;
    platform::Subscription removedObservation_;
    platform::Subscription panelClosedObservation_;
};
