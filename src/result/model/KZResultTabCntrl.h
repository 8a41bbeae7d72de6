#pragma once

#include "result/model/KZViewToUpdate.h"

#include <QList>
#include <QVariant>
#include <QVariantMap>
#include <QtGlobal>

#include <memory>

class KZFoundItemsCntrl;
class QObject;

// What a marking changed on one tab, for that tab's counters and its undo.
struct KZMarkedInfoUpdate {
    bool addValue = false;            // the marking added marks (check box on)
    KZViewToUpdateRef info;           // the changes on this tab
    QVariant menuItemTagToRestore;    // as the request carried it
    QVariant oldMenuItemTag;          // the request's earlier rule, else its rule
    QList<quint64> managedTags;       // this tab's tag, then its changed location rows
    quint64 ownerTag = 0;             // the tab the request came from
    QVariant locationTag;             // the request's, else the not-found number
    QVariant itemSenderView;          // the request's, else 0
    QVariant firstTabTag;             // the first tab on the strip; none without a strip
    QVariant menu;                    // the request's menu, for the owner tab only
};

// A group option asked from a list: the group's row, the tab it was asked
// from and the list that asked.
struct KZGroupOptionRequest {
    QVariant groupItem;
    QVariant ownerTag;
    QVariant senderTag;
    bool isForAllGroups = false;      // missing members only
};

class KZResultTabCntrl {
public:
    virtual ~KZResultTabCntrl() = default;

    // The tab's top view, which the result window puts into its container.
    virtual QObject* resultView() const = 0;
    virtual bool isResultViewHidden() const = 0;
    virtual void setResultViewHidden(bool hidden) = 0;

    // Adds the tab's current list state to a marking request, for its undo.
    virtual void saveCurrentConfiguration(QVariantMap& request) = 0;
    virtual void updateMarkedInfoWithDict(const KZMarkedInfoUpdate& update) = 0;
    // After a removal: what it changed on this tab.
    virtual void updateRemovedInfoWithDict(const KZViewToUpdateRef& info) = 0;
    // The tab's items changed (labels edited, a tab removed): rebuild its lists.
    virtual void updateFilesList(const std::shared_ptr<KZFoundItemsCntrl>& model) = 0;
    virtual void showMissingMembers(const KZGroupOptionRequest& request) = 0;
    virtual void revealGroup(const KZGroupOptionRequest& request) = 0;
};
