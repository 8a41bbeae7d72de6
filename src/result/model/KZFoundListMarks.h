#pragma once

#include "result/model/KZFoundItem.h"
#include "result/model/KZResultTabCntrl.h"
#include "result/model/KZShownList.h"
#include "settings/KZTags.h"

#include <QList>
#include <QVariantMap>

#include <optional>

struct KZFoundListContext;

// What a marking means to one tab's lists: the undo and redo records of a
// marking request, and after a marking the rebuilt marked list and the
// marked counts and rule tags of the shown groups. Main thread; the marked
// list is gathered on a worker.
class KZFoundListMarks {
public:
    // `context` outlives the marks.
    explicit KZFoundListMarks(const KZFoundListContext& context);

    // The record that undoes `request` (which gets its items filled in), or
    // none for a request that restores marks.
    std::optional<QVariantMap> undoInfoToRegisterWithDict(QVariantMap& request) const;
    QVariantMap redoInfoToRegisterWithDict(const QVariantMap& request) const;
    void updateMarkedInfo(const KZMarkedInfoUpdate& info);
    void updateGroupItems(const QList<quint64>& tags, qint64 menuItemTag);
    // Recounts each group's marked members; a group whose count changed gets
    // `menuItemTag` as its rule, unless it is negative.
    void updateGroupsWithArray(const KZShownList& list, qint64 menuItemTag) const;

private:
    KZFoundItemArray itemsWithTag(KZTabTag tag) const;
    void finishMarkedInfo(const KZMarkedInfoUpdate& info, qint64 menuItemTag);

    const KZFoundListContext& context_;
};
