#include "result/model/KZFoundListCntrl.h"

#include "platform/NotificationCenter.h"
#include "result/model/KZColumnKeys.h"
#include "result/model/KZFindFolding.h"
#include "result/model/KZFoundItemsCntrl.h"
#include "result/model/KZListNotifications.h"
#include "result/model/KZResultCntrl.h"
#include "settings/KZTags.h"

#include <QHash>

#include <algorithm>
#include <utility>

namespace {

// A sort computed on a list that changed meanwhile is done again, a few
// times at most.
constexpr int kSortAttempts = 3;

const QString kDescriptors = QStringLiteral("descriptors");
const QString kTag = QStringLiteral("tag");
const QString kUpdateInterface = QStringLiteral("updateInterface");

// What a sort of a grouped list needs of each group, read on the main thread.
struct GroupValues {
    QString name;
    qint64 groupID = 0;
    quint16 markedCount = 0;
    KZFoundItemArray items;
};

} // namespace

// ---- Sorting -----------------------------------------------------------------------

void KZFoundListCntrl::sortListWithDictionary(const QVariantMap& request)
{
    const auto descriptors = request.value(kDescriptors).value<KZSortDescriptors>();
    const bool updateInterface = request.value(kUpdateInterface).toBool();
    const quint64 tag = request.contains(kTag) ? request.value(kTag).toULongLong() : currentTag_.load();
    if (tag == currentTag_.load()) {
        std::lock_guard guard(foundItemsLock_);
        viewDescriptors_ = descriptors;
    }

    if (!sortByKindAlreayDone_ && !descriptors.isEmpty() && descriptors.first().key() == KZColumnKey::kind_col) {
        // Kinds are read from disk, once per tab, before the first sort by
        // kind; the sort follows when they are in.
        sortByKindAlreayDone_ = true;
        if (updateInterface) {
            if (host_)
                host_->startSpinner();
            if (outline_)
                outline_->setIsGatheringKind(true);
        }
        doGatherKindInfo(request);
        return;
    }
    sortList(descriptors, tag, updateInterface, 0);
}

void KZFoundListCntrl::doGatherKindInfo(const QVariantMap& request)
{
    // Location and marked lists hold the tab list's items.
    const KZFoundItemArray items = itemsWithTag(tabTag_);
    queue_.addOperation([this, items, request] {
        // Each item guards its own kind; no list lock is held over the reads.
        for (const KZFoundItemRef& item : items) {
            if (cancelled_.load())
                return;
            item->gatherKind();
        }
        platform::NotificationCenter::defaultCenter().post(KZNotification::sortList, platform::NotificationObject::number(static_cast<qint64>(tabTag_)),
                      request);
        runOnMainIfAlive([this] {
            if (outline_)
                outline_->setIsGatheringKind(false);
        });
    });
}

void KZFoundListCntrl::sortList(const KZSortDescriptors& descriptors, quint64 tag, bool updateInterface, int attempt)
{
    if (updateInterface && attempt == 0 && host_)
        host_->startSpinner();
    auto finish = [this, updateInterface] {
        if (!updateInterface)
            return;
        updateList(false);
        if (host_)
            host_->stopSpinner();
    };

    const std::optional<StoredList> entry = storedEntry(tag);
    const std::shared_ptr<KZFoundItemsCntrl> model = foundItemsCntrl();
    if (!entry || !model) {
        // Nothing to sort yet: the order is kept for when the list exists.
        {
            std::lock_guard guard(foundItemsLock_);
            sortDescriptorsByTag_[tag] = descriptors;
        }
        finish();
        return;
    }

    const quint64 generation = entry->generation;
    if (!entry->list.isGrouped()) {
        queue_.addOperation([this, model, descriptors, tag, updateInterface, attempt, generation, finish,
                             items = entry->list.items] {
            KZShownList sorted = KZShownList::flat(model->sortedGroupWithArray(items, descriptors, true));
            runOnMainIfAlive([this, sorted, descriptors, tag, updateInterface, attempt, generation, finish] {
                if (!storeList(tag, sorted, descriptors, generation)) {
                    if (attempt + 1 < kSortAttempts)
                        sortList(descriptors, tag, updateInterface, attempt + 1);
                    else
                        finish();
                    return;
                }
                finish();
            });
        });
        return;
    }

    // The groups stay the objects the outline knows (its selection points at
    // them); the worker sorts stand-ins and answers the new order.
    const KZFoundItemGroupRef root = entry->list.root;
    std::vector<GroupValues> values;
    values.reserve(static_cast<std::size_t>(root->groups().size()));
    for (const KZFoundItemGroupRef& group : root->groups())
        values.push_back({group->name(), group->groupID(), group->markedCount(), group->items()});

    queue_.addOperation([this, model, descriptors, tag, updateInterface, attempt, generation, finish, root,
                         values = std::move(values)] {
        KZFoundItemGroupRef stand = KZFoundItemGroup::itemGroup();
        QHash<const KZFoundItemGroup*, int> indexOf;
        indexOf.reserve(static_cast<qsizetype>(values.size()));
        for (std::size_t i = 0; i < values.size(); ++i) {
            KZFoundItemGroupRef group = KZFoundItemGroup::itemGroup();
            group->setName(values[i].name);
            group->setGroupID(values[i].groupID);
            group->setMarkedCount(values[i].markedCount);
            group->setItems(values[i].items);
            indexOf.insert(group.get(), static_cast<int>(i));
            stand->groups().append(group);
        }
        const KZFoundItemGroupRef sortedStand = model->sortedGroupWithArray(stand, descriptors, true);
        std::vector<std::pair<int, KZFoundItemArray>> order;
        order.reserve(values.size());
        for (const KZFoundItemGroupRef& group : sortedStand->groups())
            order.emplace_back(indexOf.value(group.get()), group->items());

        runOnMainIfAlive([this, order = std::move(order), descriptors, tag, updateInterface, attempt, generation,
                          finish, root]() mutable {
            const std::optional<StoredList> now = storedEntry(tag);
            if (!now || now->generation != generation || now->list.root != root) {
                if (attempt + 1 < kSortAttempts)
                    sortList(descriptors, tag, updateInterface, attempt + 1);
                else
                    finish();
                return;
            }
            const QList<KZFoundItemGroupRef> old = root->groups();
            KZFoundItemGroupRef sorted = KZFoundItemGroup::itemGroup();
            sorted->groups().reserve(old.size());
            // The members' old arrays are swapped out, not freed here: freeing
            // 100,000 references would hold this thread for a frame or more.
            std::vector<KZFoundItemArray> released;
            released.reserve(order.size());
            for (auto& [index, members] : order) {
                const KZFoundItemGroupRef& group = old[index];
                released.push_back(std::exchange(group->items(), std::move(members)));
                sorted->groups().append(group);
            }
            storeList(tag, KZShownList::grouped(sorted), descriptors, generation);
            queue_.addOperation([released = std::move(released)] {});
            finish();
        });
    });
}

// ---- Finding -----------------------------------------------------------------------

std::optional<KZListRow> KZFoundListCntrl::searchString(const QString& foldedText, const KZShownList& list)
{
    if (!list.isGrouped()) {
        for (const KZFoundItemRef& item : list.items) {
            if (KZFindFolding::nameContains(item->name(), foldedText))
                return KZListRow{nullptr, item};
        }
        return std::nullopt;
    }
    for (const KZFoundItemGroupRef& group : list.root->groups()) {
        if (KZFindFolding::nameContains(group->name(), foldedText))
            return KZListRow{group, nullptr};
        for (const KZFoundItemRef& item : group->items()) {
            if (KZFindFolding::nameContains(item->name(), foldedText))
                return KZListRow{group, item};
        }
    }
    return std::nullopt;
}

void KZFoundListCntrl::searchInFoundList(const QVariantMap& userInfo)
{
    if (!isVisible())
        return;
    const QString text = userInfo.value(QStringLiteral("string")).toString();
    if (text.isEmpty())
        return;
    KZShownList list = currentArray();
    if (list.isGrouped()) {
        // The worker searches stand-ins made from values read here: the
        // groups themselves belong to this thread.
        std::vector<std::pair<QString, KZFoundItemArray>> values;
        values.reserve(static_cast<std::size_t>(list.root->groups().size()));
        for (const KZFoundItemGroupRef& group : list.root->groups())
            values.emplace_back(group->name(), group->items());
        queue_.addOperation([this, text, values = std::move(values), root = list.root] {
            KZFoundItemGroupRef stand = KZFoundItemGroup::itemGroup();
            stand->groups().reserve(static_cast<qsizetype>(values.size()));
            for (const auto& [name, items] : values) {
                KZFoundItemGroupRef copy = KZFoundItemGroup::itemGroup();
                copy->setName(name);
                copy->setItems(items);
                stand->groups().append(copy);
            }
            const std::optional<KZListRow> hit = searchString(KZFindFolding::fold(text), KZShownList::grouped(stand));
            const qsizetype index = hit ? stand->groups().indexOf(hit->group) : -1;
            const KZFoundItemRef item = hit ? hit->item : nullptr;
            runOnMainIfAlive([this, index, item, root] {
                if (index < 0) {
                    if (host_)
                        host_->beep();
                    return;
                }
                if (outline_ && index < root->groups().size())
                    outline_->selectFoundItem(KZListRow{root->groups()[index], item});
            });
        });
        return;
    }
    queue_.addOperation([this, text, list] {
        std::optional<KZListRow> hit = searchString(KZFindFolding::fold(text), list);
        runOnMainIfAlive([this, hit] {
            if (!hit) {
                if (host_)
                    host_->beep();
                return;
            }
            if (outline_)
                outline_->selectFoundItem(*hit);
        });
    });
}

// ---- Undo and redo records --------------------------------------------------------------

std::optional<QVariantMap> KZFoundListCntrl::undoInfoToRegisterWithDict(QVariantMap& request) const
{
    namespace K = KZMarkingKey;
    const qint64 rule = request.value(K::menuItemTag).toLongLong();
    // Restoring marks is itself the undo; it registers nothing.
    if (rule == KZMarkRule::restore)
        return std::nullopt;
    const std::shared_ptr<KZFoundItemsCntrl> model = foundItemsCntrl();
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

QVariantMap KZFoundListCntrl::redoInfoToRegisterWithDict(const QVariantMap& request) const
{
    namespace K = KZMarkingKey;
    QVariantMap record = request;
    const std::shared_ptr<KZFoundItemsCntrl> model = foundItemsCntrl();
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

void KZFoundListCntrl::saveCurrentConfiguration(const QVariantMap&)
{
    if (!outline_)
        return;
    outline_->getInfoOfSelectedItemsWithArray(currentArray(), currentTag_.load());
}

// ---- Marked information ---------------------------------------------------------------

void KZFoundListCntrl::updateMarkedInfo(const KZMarkedInfoUpdate& info)
{
    qint64 rule = info.menuItemTagToRestore.toLongLong();
    const auto senderGroup = info.itemSenderView.value<KZFoundItemGroupRef>();
    if (senderGroup)
        senderGroup->setMarkedMenuItem(rule);
    else if (auto* menu = info.menu.value<KZMarkMenu*>())
        menu->setOnMenuItemWithTag(rule);
    if (senderGroup && shownByGroup_.load())
        rule = -1;
    // Gathering and grouping the marked items of a large tab is work for a
    // worker; the rest follows on this thread.
    const std::shared_ptr<KZFoundItemsCntrl> model = foundItemsCntrl();
    const quint64 markedTag = KZResultCntrl::itemMarkedTagWithOwnerTag(tabTag_);
    const bool grouped = shownByGroup_.load();
    queue_.addOperation([this, model, markedTag, grouped, info, rule] {
        std::optional<KZShownList> list;
        if (model) {
            quint64 size = 0;
            const KZFoundItemArray marked = model->markedItemsWithOwnerTag(tabTag_, &size);
            if (!marked.isEmpty())
                list = grouped ? KZShownList::grouped(model->setupItemsByGroupForItems(marked, true))
                               : KZShownList::flat(marked);
        }
        runOnMainIfAlive([this, list, markedTag, info, rule] {
            storeList(markedTag, list, std::nullopt);
            finishMarkedInfo(info, rule);
        });
    });
}

void KZFoundListCntrl::finishMarkedInfo(const KZMarkedInfoUpdate& info, qint64 menuItemTag)
{
    if (shownByGroup_.load())
        updateGroupItems(info.managedTags, menuItemTag);
    const quint64 markedTag = KZResultCntrl::itemMarkedTagWithOwnerTag(tabTag_);
    if (currentTag_.load() != markedTag) {
        if (isVisible() && outline_)
            outline_->updateListAfterMarked();
        return;
    }
    if (info.oldMenuItemTag.toLongLong() != 0) {
        updateList(true);
        return;
    }
    if (!isVisible())
        return;
    // The marked list was rebuilt: the outline must get the new one.
    updateList(true);
    if (outline_)
        outline_->updateListAfterMarked();
}

void KZFoundListCntrl::updateGroupItems(const QList<quint64>& tags, qint64 menuItemTag)
{
    for (const quint64 tag : tags) {
        if (const auto list = listWithTag(tag))
            updateGroupsWithArray(*list, menuItemTag);
    }
}

void KZFoundListCntrl::updateGroupsWithArray(const KZShownList& list, qint64 menuItemTag) const
{
    if (tabTag_ == KZTag::emptyFolders || !list.isGrouped())
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

bool KZFoundListCntrl::isLastItemToMark(const KZFoundItemRef& item) const
{
    const std::shared_ptr<KZFoundItemsCntrl> model = foundItemsCntrl();
    return model && model->isLastItemToMark(item);
}

// ---- Missing members ----------------------------------------------------------------------

KZFoundItemGroupRef KZFoundListCntrl::findGroupByGroupID(qint64 groupID, quint64 tag) const
{
    const std::shared_ptr<KZFoundItemsCntrl> model = foundItemsCntrl();
    const auto list = listWithTag(tag);
    if (!model || !list || !list->isGrouped())
        return nullptr;
    return model->groupByIDWithRootArray(list->root, groupID);
}

void KZFoundListCntrl::addItemsToGroup(const KZFoundItemGroupRef& shown, const KZFoundItemGroupRef& full) const
{
    if (!shown || !full || shown == full)
        return;
    KZFoundItemArray& members = shown->items();
    for (const KZFoundItemRef& item : full->items()) {
        if (!members.contains(item))
            members.prepend(item);
    }
}

void KZFoundListCntrl::showMissingMembersToAllGroups(const KZShownList& list)
{
    if (!list.isGrouped())
        return;
    for (const KZFoundItemGroupRef& group : list.root->groups())
        addItemsToGroup(group, findGroupByGroupID(group->groupID(), tabTag_));
}

void KZFoundListCntrl::showMissingMembers(const KZGroupOptionRequest& request)
{
    const auto group = request.groupItem.value<KZFoundItemGroupRef>();
    missingMembersWasAdded_ = true;
    const qsizetype oldCount = group ? group->items().size() : 0;
    if (request.isForAllGroups)
        showMissingMembersToAllGroups(currentArray());
    else if (group)
        addItemsToGroup(group, findGroupByGroupID(group->groupID(), tabTag_));
    bumpGeneration(currentTag_.load());
    if (outline_ && group)
        outline_->updateRowsForGroup(group, oldCount);
}

void KZFoundListCntrl::removeExtraneousItems()
{
    const quint64 tag = currentTag_.load();
    // Which members belong to the list being left. The tab list keeps the
    // tab's own type (everything on tab 0); comparing it with a location, as
    // the location lists do, would strip every member.
    std::function<bool(const KZFoundItemRef&)> belongs;
    if (tag >= KZTag::markedItemsRowBase) {
        belongs = [](const KZFoundItemRef& item) { return item->isMarked(); };
    } else if (tag >= KZTag::sourceRowBase) {
        const qint64 location = KZResultCntrl::realLocationTag(tag);
        belongs = [location](const KZFoundItemRef& item) {
            return static_cast<qint64>(item->locationLabelTag()) == location;
        };
    } else if (tag == KZTag::allDuplicates) {
        belongs = [](const KZFoundItemRef&) { return true; };
    } else {
        belongs = [tag](const KZFoundItemRef& item) { return item->fileTypeTag() == tag; };
    }

    const KZShownList list = currentArray();
    if (list.isGrouped()) {
        for (const KZFoundItemGroupRef& group : list.root->groups()) {
            KZFoundItemArray& members = group->items();
            for (qsizetype i = members.size() - 1; i >= 0; --i) {
                if (!belongs(members[i]))
                    members.removeAt(i);
            }
        }
        bumpGeneration(tag);
    } else {
        KZFoundItemArray kept;
        for (const KZFoundItemRef& item : list.items) {
            if (belongs(item))
                kept.append(item);
        }
        if (kept.size() != list.items.size())
            storeList(tag, KZShownList::flat(kept), std::nullopt);
    }
    missingMembersWasAdded_ = false;
}

void KZFoundListCntrl::revealGroup(const KZFoundItemRef& item)
{
    if (!item || !outline_)
        return;
    outline_->revealGroup(findGroupByGroupID(item->groupID(), tabTag_));
}
