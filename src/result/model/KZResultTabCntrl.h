#pragma once

#include <QVariantMap>

#include <memory>

class KZFoundItemsCntrl;
class QObject;

// What the result controller needs of the controller of one tab's content
// (its lists, sources list and views). The window's per-tab controller
// implements it; tests use a fake.
//
// The update calls may come from any thread; an implementation that touches
// widgets hops to the main thread and returns once the update is shown.
class KZResultTabCntrl {
public:
    virtual ~KZResultTabCntrl() = default;

    // The tab's top view, which the result window puts into its container.
    virtual QObject* resultView() const = 0;
    virtual bool isResultViewHidden() const = 0;
    virtual void setResultViewHidden(bool hidden) = 0;

    // Adds the tab's current list state to a marking request, for its undo.
    virtual void saveCurrentConfiguration(QVariantMap& request) = 0;
    // After a marking: {"addValue", "info" (KZViewToUpdateRef),
    // "menuItemTagToRestore", "oldMenuItamTag", "managedTags" (QList<quint64>),
    // "ownerTag", "locationTag", "itemSenderView", "firstTabTag", "menu"}.
    virtual void updateMarkedInfoWithDict(const QVariantMap& info) = 0;
    // After a removal: {"info" (KZViewToUpdateRef)}.
    virtual void updateRemovedInfoWithDict(const QVariantMap& info) = 0;
    // The tab's items changed (labels edited, a tab removed): rebuild its lists.
    virtual void updateFilesList(const std::shared_ptr<KZFoundItemsCntrl>& model) = 0;
    // Group options: {"groupItem", "ownerTag", "senderTag", "isForAllGroups"}.
    virtual void showMissingMembers(const QVariantMap& info) = 0;
    // {"groupItem", "ownerTag", "senderTag"}.
    virtual void revealGroup(const QVariantMap& info) = 0;
};
