#include "result/model/KZFoundListMarks.h"

#include "result/model/KZFoundItemsCntrl.h"
#include "result/model/KZFoundListContext.h"
#include "result/model/KZFoundListStore.h"
#include "result/model/KZFoundListWorkers.h"
#include "result/model/KZListOutline.h"
#include "result/model/KZResultCntrl.h"

KZFoundListMarks::KZFoundListMarks(const KZFoundListContext& context)
    : context_(context)
{
}

KZFoundItemArray KZFoundListMarks::itemsWithTag(KZTabTag tag) const
{
    const auto list = context_.store->list(tag);
    return list ? list->flattened() : KZFoundItemArray();
}

// ---- Undo and redo records --------------------------------------------------------------

std::optional<QVariantMap> KZFoundListMarks::undoInfoToRegisterWithDict(QVariantMap& request) const
{
    namespace K = KZMarkingKey;
    const qint64 rule = request.value(K::menuItemTag).toLongLong();
    // Restoring marks is itself the undo; it registers nothing.
    if (rule == KZMarkRule::restore)
        return std::nullopt;
    const std::shared_ptr<KZFoundItemsCntrl> model = context_.model();
    if (!request.contains(K::itemsToManage)) {
        KZFoundItemArray items;
        if (rule == KZMarkRule::inLocation)
            items = model ? model->allItems() : KZFoundItemArray();
        else
            items = itemsWithTag(request.value(K::itemsToManageTag).toULongLong());
        request.insert(K::itemsToManage, QVariant::fromValue(items));
    }
    QVariantMap record = request;
    const KZFoundItemArray items = KZFoundItemsOfVariant(request.value(K::itemsToManage));
    record.insert(K::itemsToManage,
                  QVariant::fromValue(model ? model->currentItemsMarkStateWithArray(items) : KZMarkSnapshot()));
    const QString oldToRestore = QStringLiteral("oldMenuItemTagToRestore");
    const bool hasRestore = request.contains(K::menuItemTagToRestore);
    const QVariant restoreTag = request.value(K::menuItemTagToRestore);
    if (hasRestore) {
        record.insert(K::menuItemTagToRestore, request.value(oldToRestore));
        record.insert(oldToRestore, restoreTag);
    }
    record.insert(K::oldMenuItemTag, hasRestore ? restoreTag : QVariant(0));
    record.insert(K::menuItemTag, KZMarkRule::restore);
    record.insert(K::checkBtnState, 1);
    record.remove(QStringLiteral("view"));
    return record;
}

QVariantMap KZFoundListMarks::redoInfoToRegisterWithDict(const QVariantMap& request) const
{
    namespace K = KZMarkingKey;
    QVariantMap record = request;
    const std::shared_ptr<KZFoundItemsCntrl> model = context_.model();
    const auto snapshot = request.value(K::itemsToManage).value<KZMarkSnapshot>();
    record.insert(K::itemsToManage,
                  QVariant::fromValue(model ? model->currentMarkStateForRedoWithArray(snapshot) : KZMarkSnapshot()));
    const QString oldToRestore = QStringLiteral("oldMenuItemTagToRestore");
    if (request.contains(K::menuItemTagToRestore)) {
        record.insert(K::menuItemTagToRestore, request.value(oldToRestore));
        record.insert(oldToRestore, request.value(K::menuItemTagToRestore));
    }
    return record;
}

// ---- Marked information ---------------------------------------------------------------

void KZFoundListMarks::updateMarkedInfo(const KZMarkedInfoUpdate& info)
{
    qint64 rule = info.menuItemTagToRestore.toLongLong();
    const auto senderGroup = info.itemSenderView.value<KZFoundItemGroupRef>();
    if (senderGroup)
        senderGroup->setMarkedMenuItem(rule);
    else if (auto* menu = info.menu.value<KZMarkMenu*>())
        menu->setOnMenuItemWithTag(rule);
    if (senderGroup && context_.shownByGroup())
        rule = -1;
    // Gathering and grouping the marked items of a large tab is work for a
    // worker; the rest follows on this thread.
    const std::shared_ptr<KZFoundItemsCntrl> model = context_.model();
    const quint64 markedTag = KZResultCntrl::itemMarkedTagWithOwnerTag(context_.tabTag);
    const bool grouped = context_.shownByGroup();
    context_.workers->add([this, model, markedTag, grouped, info, rule] {
        std::optional<KZShownList> list;
        if (model) {
            quint64 size = 0;
            const KZFoundItemArray marked = model->markedItemsWithOwnerTag(context_.tabTag, &size);
            if (!marked.isEmpty())
                list = grouped ? KZShownList::grouped(model->setupItemsByGroupForItems(marked, true))
                               : KZShownList::flat(marked);
        }
        context_.workers->onMainLater([this, list, markedTag, info, rule] {
            context_.store->store(markedTag, list, std::nullopt);
            finishMarkedInfo(info, rule);
        });
    });
}

void KZFoundListMarks::finishMarkedInfo(const KZMarkedInfoUpdate& info, qint64 menuItemTag)
{
    if (context_.shownByGroup())
        updateGroupItems(info.managedTags, menuItemTag);
    const quint64 markedTag = KZResultCntrl::itemMarkedTagWithOwnerTag(context_.tabTag);
    if (context_.currentTag() != markedTag) {
        if (context_.isVisible() && context_.outline)
            context_.outline->updateListAfterMarked();
        return;
    }
    if (info.oldMenuItemTag.toLongLong() != 0) {
        context_.showList(true);
        return;
    }
    if (!context_.isVisible())
        return;
    // The marked list was rebuilt: the outline must get the new one.
    context_.showList(true);
    if (context_.outline)
        context_.outline->updateListAfterMarked();
}

void KZFoundListMarks::updateGroupItems(const QList<quint64>& tags, qint64 menuItemTag)
{
    for (const quint64 tag : tags) {
        if (const auto list = context_.store->list(tag))
            updateGroupsWithArray(*list, menuItemTag);
    }
}

void KZFoundListMarks::updateGroupsWithArray(const KZShownList& list, qint64 menuItemTag) const
{
    if (context_.tabTag == KZTag::emptyFolders || !list.isGrouped())
        return;
    for (const KZFoundItemGroupRef& group : list.root->groups()) {
        quint16 marked = 0;
        for (const KZFoundItemRef& item : group->items()) {
            if (item->isMarked())
                ++marked;
        }
        if (menuItemTag >= 0 && marked != group->markedCount())
            group->setMarkedMenuItem(menuItemTag);
        group->setMarkedCount(marked);
    }
}
