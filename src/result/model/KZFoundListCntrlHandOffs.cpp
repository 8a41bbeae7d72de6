#include "result/model/KZFoundListCntrl.h"

#include "platform/NotificationCenter.h"
#include "platform/Paths.h"
#include "platform/StringTable.h"
#include "result/model/KZColumnKeys.h"
#include "result/model/KZFoundItemsCntrl.h"
#include "result/model/KZListNotifications.h"
#include "result/model/KZMusicLibraryNotifier.h"
#include "result/model/KZResultCntrl.h"
#include "services/KZErrorDelegate.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZTags.h"

#include <QSet>

#include <algorithm>

namespace {

constexpr quint64 kEmptyFolders = static_cast<quint64>(KZTag::emptyFolders);
constexpr quint64 kFolders = static_cast<quint64>(KZTag::folders);
constexpr quint64 kAllDuplicates = static_cast<quint64>(KZTag::allDuplicates);
constexpr qint64 kRemoveItem = 1;
constexpr qint64 kExportItem = 2;
constexpr qint64 kMarkItem = 102;

platform::NotificationCenter& center()
{
    return platform::NotificationCenter::defaultCenter();
}

QString withTabName(const QString& key, const KZFileTypeLabelRef& label)
{
    return KZErrorDelegate::replaceContentOfString(platform::localizedString(key),
                                                   {label ? label->removeBtnTitle() : QString()});
}

// The comparisons a saved order may name, and the columns it may sort by.
// A saved result is a file from anywhere: nothing else is taken from it.
const QSet<QString>& knownSelectors()
{
    static const QSet<QString> selectors{
        QStringLiteral("compare:"), QStringLiteral("caseInsensitiveCompare:"), QStringLiteral("localizedCompare:"),
        QStringLiteral("localizedCaseInsensitiveCompare:"), QStringLiteral("localizedStandardCompare:")};
    return selectors;
}

const QSet<QString>& knownColumns()
{
    static const QSet<QString> columns{KZColumnKey::name_col,          KZColumnKey::kind_col,
                                       KZColumnKey::size_col,          KZColumnKey::date_modified_col,
                                       KZColumnKey::location_tag_col,  KZColumnKey::check_col,
                                       KZColumnKey::dupe_group_col};
    return columns;
}

quint64 savedTag(const QString& key)
{
    // A key that is not a number reads as 0, as integerValue would.
    return static_cast<quint64>(key.toLongLong());
}

} // namespace

// ---- Removal -------------------------------------------------------------------------

void KZFoundListCntrl::removeButtonDidClick()
{
    if (isVisible())
        prepareRemotion();
}

void KZFoundListCntrl::prepareRemotion()
{
    // One panel at a time for a tab.
    if (removeCntrl_)
        return;
    const std::shared_ptr<KZFoundItemsCntrl> model = foundItemsCntrl();
    quint64 size = 0;
    const KZFoundItemArray marked =
        model ? model->itemsByTag(KZResultCntrl::itemMarkedTagWithOwnerTag(tabTag_), tabTag_, &size) : KZFoundItemArray();
    if (marked.isEmpty()) {
        const bool shown = KZErrorDelegate::sharedControl().showMessagePanelWithView(
            QStringLiteral("nothing_to_remove"), QString(), {}, KZDefaultsKey::show_nothing_to_remove, true);
        if (!shown && host_)
            host_->beep();
        center().post(KZNotification::remotionFailed, platform::bundleIdentifier());
        return;
    }
    if (!host_)
        return;

    QVariantMap request;
    request.insert(QStringLiteral("itemsToRemove"), QVariant::fromValue(marked));
    request.insert(QStringLiteral("size"), QVariant::fromValue<quint64>(size));
    request.insert(QStringLiteral("resultView"), outline_ ? outline_->removalCoverView() : QVariant());
    request.insert(QStringLiteral("foundItemsCntrl"), QVariant::fromValue(model));
    request.insert(QStringLiteral("isEmptyFolders"), false);
    request.insert(QStringLiteral("areFiles"), tabTag_ != kFolders && tabTag_ != kEmptyFolders);
    request.insert(QStringLiteral("undoMarkTarget"), QVariant::fromValue(outline_.get()));
    request.insert(QStringLiteral("KZResultSearchSources"), QVariant::fromValue(sources_));
    request.insert(QStringLiteral("resultCntrl"), QVariant::fromValue(resultCntrl_));
    request.insert(QStringLiteral("ownerTag"), QVariant::fromValue<quint64>(tabTag_));
    request.insert(QStringLiteral("viewsToDisable"), host_->viewsToDisable());

    // Registered before the panel exists: it may report at once.
    const void* modelObject = model.get();
    removedObservation_ = center().addObserver(
        KZNotification::itemsDidRemove, modelObject,
        [this](const platform::Notification& note) { itemsDidRemove(note.userInfo); });
    panelClosedObservation_ = center().addObserver(
        KZNotification::removePanelDidClose, platform::bundleIdentifier(),
        [this](const platform::Notification&) { whenOnMain([this] { removePanelDidClose(); }); });
    removeCntrl_ = host_->openRemovalPanel(request);
    if (!removeCntrl_) {
        removedObservation_.cancel();
        panelClosedObservation_.cancel();
    }
}

void KZFoundListCntrl::itemsDidRemove(const QVariantMap& userInfo)
{
    QVariantMap removal = userInfo;
    const KZFoundItemArray removed = KZFoundItemsOfVariant(userInfo.value(QStringLiteral("removedItems")));
    // The result controller and its tabs belong to the main thread; the
    // panel reports from the removal's own thread.
    runOnMainIfAlive([this, removal]() mutable {
        if (!resultCntrl_)
            return;
        if (tabTag_ == kEmptyFolders) {
            resultCntrl_->prepareUpdateForEmptyFoldersWithDictionary(removal);
            return;
        }
        removal.insert(QStringLiteral("ownerTag"), QVariant::fromValue<quint64>(tabTag_));
        resultCntrl_->prepareUpdateWithDictionary(removal);
    });
    const QString tracks = notifyDeletedSongsToiTunes(removed);
    if (!tracks.isEmpty())
        KZMusicLibraryNotifier::sharedControl().notifyDeletion(tracks);
}

QString KZFoundListCntrl::notifyDeletedSongsToiTunes(const KZFoundItemArray& removedItems)
{
    QStringList tracks;
    for (const KZFoundItemRef& item : removedItems) {
        if (item && item->isiTunesItem())
            tracks.append(item->trackID());
    }
    return KZMusicLibraryNotifier::deletionText(tracks);
}

void KZFoundListCntrl::removePanelDidClose()
{
    if (!removeCntrl_)
        return;
    removeCntrl_.reset();
    // Given up whether or not the tab is on screen: a registration left
    // behind would handle the next removal's "itemsDidRemove" twice.
    removedObservation_.cancel();
    panelClosedObservation_.cancel();
    if (isVisible() && host_)
        host_->makeResultViewFirstResponder();
}

std::optional<QVariantList> KZFoundListCntrl::menuItemTagsForTag(quint64 tag) const
{
    if (!shownByGroup_.load())
        return std::nullopt;
    const auto list = listWithTag(tag);
    if (!list || !list->isGrouped())
        return std::nullopt;
    QVariantList tags;
    for (const KZFoundItemGroupRef& group : list->root->groups())
        tags.append(QVariantMap{{QStringLiteral("groupID"), group->groupID()},
                                {QStringLiteral("markedMenuItem"), group->markedMenuItem()}});
    return tags;
}

void KZFoundListCntrl::updateMenuItemsTags(const QVariantList& tags, const KZShownList& list)
{
    if (!list.isGrouped())
        return;
    QHash<qint64, KZFoundItemGroupRef> byID;
    for (const KZFoundItemGroupRef& group : list.root->groups())
        byID.insert(group->groupID(), group);
    for (const QVariant& entry : tags) {
        const QVariantMap tag = entry.toMap();
        if (const KZFoundItemGroupRef group = byID.value(tag.value(QStringLiteral("groupID")).toLongLong()))
            group->setMarkedMenuItem(tag.value(QStringLiteral("markedMenuItem")).toLongLong());
    }
}

void KZFoundListCntrl::updateRemovedInfo()
{
    // The rule tags live in groups, which this thread owns: noted here, put
    // back here once the new lists are in.
    std::map<quint64, QVariantList> menuTags;
    for (const quint64 tag : listTags()) {
        if (auto tags = menuItemTagsForTag(tag))
            menuTags[tag] = std::move(*tags);
    }
    queue_.addOperation([this, menuTags] {
        std::map<quint64, quint64> counts;
        for (const quint64 tag : tagsToBuild())
            counts[tag] = gatherItemsByTag(tag).count;
        runOnMainIfAlive([this, menuTags, counts] {
            for (const auto& [tag, tags] : menuTags) {
                if (const auto list = listWithTag(tag))
                    updateMenuItemsTags(tags, *list);
            }
            if (outline_) {
                if (const auto count = counts.find(currentTag_.load()); count != counts.end())
                    outline_->setItemsCount(count->second);
            }
            if (!isVisible())
                return;
            if (outline_)
                outline_->resetSelectionState();
            updateList(false);
        });
    });
}

// ---- Saving and export -------------------------------------------------------------------

void KZFoundListCntrl::saveSelectedItems()
{
    if (isVisible() && outline_)
        outline_->getInfoOfSelectedItemsWithArray(currentArray(), currentTag_.load());
}

void KZFoundListCntrl::reloadListView()
{
    runOnMainIfAlive([this] { updateList(true); });
}

KZFoundItemArray KZFoundListCntrl::exportOrder(const KZFoundItemArray& items)
{
    KZFoundItemArray ordered = items;
    std::stable_sort(ordered.begin(), ordered.end(), [](const KZFoundItemRef& a, const KZFoundItemRef& b) {
        if (a->groupID() != b->groupID())
            return a->groupID() < b->groupID();
        return a->isMarked() && !b->isMarked();
    });
    return ordered;
}

QVariantMap KZFoundListCntrl::exportRequest(const KZFoundItemArray& items) const
{
    QVariantMap request;
    request.insert(QStringLiteral("name"), fileTypeItem_ ? fileTypeItem_->removeBtnTitle() : QString());
    request.insert(QStringLiteral("suggestName"),
                   tabTag_ == kAllDuplicates ? platform::localizedString(QStringLiteral("export_all_files_name"))
                                             : withTabName(QStringLiteral("export_file_name"), fileTypeItem_));
    request.insert(QStringLiteral("sources"), QVariant::fromValue(sources_));
    request.insert(QStringLiteral("sender"), QVariant::fromValue(const_cast<KZFoundListCntrl*>(this)));
    request.insert(QStringLiteral("items"), QVariant::fromValue(items));
    request.insert(QStringLiteral("window"), host_ ? host_->window() : QVariant());
    request.insert(QStringLiteral("columns"), outline_ ? outline_->tableColumns() : QVariantList());
    return request;
}

void KZFoundListCntrl::exportResult()
{
    const std::shared_ptr<KZFoundItemsCntrl> model = foundItemsCntrl();
    if (!model || exportCntrl_ || !host_)
        return;
    queue_.addOperation([this, model] {
        const KZFoundItemArray items = exportOrder(model->itemsByTag(tabTag_, tabTag_, nullptr));
        if (items.isEmpty())
            return;
        runOnMainIfAlive([this, items] {
            if (exportCntrl_)
                return;
            const void* self = this;
            exportObservation_ = center().addObserver(
                KZNotification::exportingDidFinish, self,
                [this](const platform::Notification&) { whenOnMain([this] { exportingDidFinish(); }); });
            exportCntrl_ = host_->exportItems(exportRequest(items));
            if (!exportCntrl_)
                exportObservation_.cancel();
        });
    });
}

void KZFoundListCntrl::exportingDidFinish()
{
    exportObservation_.cancel();
    exportCntrl_.reset();
}

// ---- The result menu ---------------------------------------------------------------------

void KZFoundListCntrl::changeResultMenuItemsTarget(bool release)
{
    KZResultMenu* menu = host_ ? host_->resultMenu() : nullptr;
    if (!menu)
        return;
    if (release) {
        menu->setItemAction(kRemoveItem, {});
        menu->setItemAction(kExportItem, {});
        return;
    }
    menu->setItemAction(kRemoveItem, [this] { prepareRemotion(); });
    menu->setItemAction(kExportItem, [this] { exportResult(); });
}

bool KZFoundListCntrl::validateMenuItem(qint64 tag, bool inResultMenu) const
{
    if (host_ && host_->aboutIsOpened())
        return false;
    if (!inResultMenu)
        return true;
    if (!host_ || !host_->isWindowVisible())
        return false;
    if (tag == kExportItem)
        return true;
    if (tag == kMarkItem)
        return outline_ && outline_->checkForSelectionWithTag(kMarkItem);
    return true;
}

void KZFoundListCntrl::menuNeedsUpdate()
{
    KZResultMenu* menu = host_ ? host_->resultMenu() : nullptr;
    if (!menu || !isVisible())
        return;
    if (outline_)
        menu->setItemTitle(kMarkItem, outline_->markedMenuItemTitle());
    menu->setItemTitle(kRemoveItem, withTabName(QStringLiteral("remove_button_title"), fileTypeItem_));
    menu->setItemTitle(kExportItem, withTabName(QStringLiteral("export_menu_title"), fileTypeItem_));
}

// ---- Saved per-tab state -------------------------------------------------------------------

void KZFoundListCntrl::setSavedSettings(const QVariantMap& saved, bool shownByGroupWhenSaved)
{
    if (tabTag_ != kEmptyFolders) {
        setSavedSelection(saved.value(QStringLiteral("selectedItems")).toMap(), shownByGroupWhenSaved);
        if (shownByGroupWhenSaved)
            setSavedExpanded(saved.value(QStringLiteral("expandedByTag")).toMap());
    }
    setSavedSortDescriptors(saved.value(QStringLiteral("sortDescriptors")).toMap());
}

KZSortDescriptors KZFoundListCntrl::sortDescriptorsFromSaved(const QVariantList& saved)
{
    KZSortDescriptors descriptors;
    for (const QVariant& entry : saved) {
        const QVariantMap descriptor = entry.toMap();
        const QString key = descriptor.value(QStringLiteral("key")).toString();
        const QString selector = descriptor.value(QStringLiteral("selector")).toString();
        if (!knownColumns().contains(key) || !knownSelectors().contains(selector))
            continue;
        descriptors.append(KZSortDescriptor(key, descriptor.value(QStringLiteral("ascending")).toBool(), selector));
    }
    return descriptors;
}

void KZFoundListCntrl::setSavedSortDescriptors(const QVariantMap& saved)
{
    {
        std::lock_guard guard(foundItemsLock_);
        sortDescriptorsByTag_.clear();
    }
    for (auto entry = saved.constBegin(); entry != saved.constEnd(); ++entry) {
        const KZSortDescriptors descriptors = sortDescriptorsFromSaved(entry.value().toList());
        const quint64 tag = savedTag(entry.key());
        {
            std::lock_guard guard(foundItemsLock_);
            sortDescriptorsByTag_[tag] = descriptors;
        }
        const QVariantMap request{{QStringLiteral("descriptors"), QVariant::fromValue(descriptors)},
                                  {QStringLiteral("tag"), QVariant::fromValue<quint64>(tag)},
                                  {QStringLiteral("updateInterface"), tag == currentTag_.load()}};
        if (tag == currentTag_.load()) {
            runOnMainIfAlive([this, descriptors, request] {
                if (outline_)
                    outline_->setCurrSelectedTag(currentTag_.load());
                setViewDescriptors(descriptors);
                sortListWithDictionary(request);
            });
        } else {
            center().post(KZNotification::sortList, platform::NotificationObject::number(static_cast<qint64>(tabTag_)),
                          request);
        }
    }
}

void KZFoundListCntrl::setSavedSelection(const QVariantMap& saved, bool shownByGroupWhenSaved)
{
    const std::shared_ptr<KZFoundItemsCntrl> model = foundItemsCntrl();
    std::map<quint64, QList<KZListRow>> selected;
    for (auto entry = saved.constBegin(); model && entry != saved.constEnd(); ++entry) {
        const quint64 tag = savedTag(entry.key());
        const auto list = listWithTag(tag);
        if (!list)
            continue;
        // Rows saved from a flat list are found by their group all the same:
        // the list is grouped for the look-up only, and stored as it was.
        KZFoundItemGroupRef root = list->root;
        if (!root && !shownByGroupWhenSaved)
            root = model->setupItemsByGroupForItems(list->items, true);
        if (!root)
            continue;
        QList<KZListRow> rows;
        for (const QVariant& value : entry.value().toList()) {
            const QVariantMap row = value.toMap();
            const KZFoundItemGroupRef group =
                model->groupByIDWithRootArray(root, row.value(QStringLiteral("groupID")).toLongLong());
            if (!group)
                continue;
            if (row.value(QStringLiteral("isGroupItem")).toBool()) {
                if (list->isGrouped())
                    rows.append(KZListRow{group, nullptr});
                continue;
            }
            const std::filesystem::path path(platform::pathFromText(row.value(QStringLiteral("path")).toString()));
            if (const KZFoundItemRef item = model->itemByPathWithArray(group->items(), path))
                rows.append(KZListRow{list->isGrouped() ? group : nullptr, item});
        }
        if (!rows.isEmpty())
            selected[tag] = rows;
    }
    if (outline_)
        outline_->setSelectedItemsByTags(selected);
}

qsizetype KZFoundListCntrl::indexOfItemInArray(const QVariantList& saved, qint64 groupID)
{
    for (qsizetype i = 0; i < saved.size(); ++i) {
        if (saved[i].toMap().value(QStringLiteral("groupID")).toLongLong() == groupID)
            return i;
    }
    return KZFoundItemsCntrl::notFound;
}

void KZFoundListCntrl::setSavedExpanded(const QVariantMap& saved)
{
    for (auto entry = saved.constBegin(); entry != saved.constEnd(); ++entry) {
        const auto list = listWithTag(savedTag(entry.key()));
        if (!list || !list->isGrouped())
            continue;
        const QVariantList rows = entry.value().toList();
        for (const KZFoundItemGroupRef& group : list->root->groups()) {
            const qsizetype index = indexOfItemInArray(rows, group->groupID());
            if (index != KZFoundItemsCntrl::notFound)
                group->setIsExpanded(rows[index].toMap().value(QStringLiteral("isExpanded")).toBool());
        }
    }
}
