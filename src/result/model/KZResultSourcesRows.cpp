#include "result/model/KZResultSourcesRows.h"

#include "platform/StringTable.h"
#include "result/model/KZMarkingRequest.h"
#include "settings/KZPlistValue.h"
#include "settings/KZTags.h"

namespace {

namespace K = KZMarkingKey;

QVariant number(quint64 value)
{
    return QVariant::fromValue<quint64>(value);
}

void copySource(KZResultSourcesTypeItem& row, const KZSourceItem& source)
{
    row.url = source.url();
    row.isPhotosLib = source.isPhotosLib();
    row.isCurrentLibrary = source.isCurrentLibrary();
    row.librariesCount = source.librariesCount();
    row.iTunesLibValue = source.iTunesLibValue();
}

} // namespace

KZResultSourcesRows::KZResultSourcesRows(quint64 tabTag, const QString& tabName,
                                         const std::vector<KZSourceItemRef>& sources, bool searchStoppeByUser)
    : tabTag_(tabTag)
{
    auto make = [&](const QString& name, quint64 tag) {
        auto row = std::make_shared<KZResultSourcesTypeItem>(
            QVariantMap{{QStringLiteral("name"), name}, {QStringLiteral("tag"), number(tag)}});
        row->searchStoppeByUser = searchStoppeByUser;
        items_.push_back(row);
        return row;
    };
    KZResultSourcesTypeItemRef type = make(tabName, tabTag);
    type->markedMenuItem = KZMarkRule::byDefault;
    if (sources.size() < 2) {
        if (!sources.empty() && sources.front())
            copySource(*type, *sources.front());
    } else {
        type->drawHSeparator = true;
        // A source that was not searched has no label of its own: it takes
        // the one after the previous source's.
        qint16 label = -1;
        for (const KZSourceItemRef& source : sources) {
            if (source && source->wasSearched())
                label = source->locationLabelTag();
            else
                label = static_cast<qint16>(label + 1);
            const quint64 tag = KZTag::sourceRowBase + static_cast<quint64>(static_cast<quint16>(label));
            KZResultSourcesTypeItemRef row = make(source ? source->name() : QString(), tag);
            if (source)
                copySource(*row, *source);
            row->locationLabelTag = label;
            row->markedMenuItem = KZMarkRule::byDefault;
        }
    }
    items_.back()->drawHSeparator = true;
    make(platform::localizedString(QStringLiteral("marked_item")), KZTag::markedItemsRowBase + tabTag);
}

KZResultSourcesTypeItemRef KZResultSourcesRows::at(int row) const
{
    return row >= 0 && row < count() ? items_[static_cast<size_t>(row)] : nullptr;
}

std::optional<int> KZResultSourcesRows::indexOfItemWithTag(quint64 tag) const
{
    for (size_t i = 0; i < items_.size(); ++i)
        if (items_[i]->tag == tag)
            return static_cast<int>(i);
    return std::nullopt;
}

std::optional<QVariantMap> KZResultSourcesRows::selectionDidChange(int row)
{
    const KZResultSourcesTypeItemRef item = at(row);
    if (!item || row == currSelectedRow_)
        return std::nullopt;
    currSelectedRow_ = row;
    return QVariantMap{{QStringLiteral("tag"), number(item->tag)},
                       {QStringLiteral("searchStoppeByUser"), item->searchStoppeByUser},
                       {QStringLiteral("itemsCount"), number(item->itemsCount)}};
}

std::optional<QVariantMap> KZResultSourcesRows::completeMarkRequest(const QVariantMap& request) const
{
    if (!request.contains(K::itemsToManageTag))
        return std::nullopt;
    const auto index = indexOfItemWithTag(request.value(K::itemsToManageTag).toULongLong());
    if (!index)
        return std::nullopt;
    QVariantMap completed = request;
    completed.insert(K::locationTag, number(items_[static_cast<size_t>(*index)]->tag));
    completed.insert(K::ownerTag, number(tabTag_));
    return completed;
}

std::vector<std::pair<int, KZViewToUpdateRef>> KZResultSourcesRows::changedRows(const KZViewToUpdateRef& info) const
{
    std::vector<std::pair<int, KZViewToUpdateRef>> rows;
    if (!info)
        return rows;
    // The tab's own row and the marked row move with the whole tab; the
    // source rows with their share of it. A tag this list has no row for
    // (another tab's location) is passed over.
    std::map<quint64, KZViewToUpdateRef> changes(info->locationsInfo().begin(), info->locationsInfo().end());
    changes[tabTag_] = info;
    changes[KZTag::markedItemsRowBase + tabTag_] = info;
    for (const auto& [tag, change] : changes)
        if (const auto index = indexOfItemWithTag(tag); index && change)
            rows.emplace_back(*index, change);
    return rows;
}

QList<int> KZResultSourcesRows::updateMarkedInfo(const KZMarkedInfoUpdate& update)
{
    // Only a row's mark menu names a rule to show; a check box, the list's
    // own controls and undo change the figures alone.
    const bool showsRule = update.menuItemTagToRestore.isValid() && KZPlistValue::isNumber(update.itemSenderView);
    const qint64 rule = showsRule ? update.menuItemTagToRestore.toLongLong() : -1;
    const quint64 owner = update.ownerTag;
    const quint64 location = update.locationTag.toULongLong();
    const quint64 firstTab = update.firstTabTag.toULongLong();

    QList<int> changed;
    for (const auto& [index, change] : changedRows(update.info)) {
        KZResultSourcesTypeItem& row = *items_[static_cast<size_t>(index)];
        const qint64 n = change->managedCount();
        const qint64 s = change->size();
        row.markedCount = KZResultSourcesTypeItem::moved(row.markedCount, n, update.addValue);
        row.markedSize = KZResultSourcesTypeItem::moved(row.markedSize, s, update.addValue);
        if (row.isMarkedRow()) {
            row.itemsCount = KZResultSourcesTypeItem::moved(row.itemsCount, n, update.addValue);
            row.itemsSize = KZResultSourcesTypeItem::moved(row.itemsSize, s, update.addValue);
        }
        if (rule != -1) {
            const bool fromFirstTabRow = owner == location && location == firstTab;
            const bool fromOtherTabRow = owner == location && location > firstTab && tabTag_ == owner;
            const bool fromThisRow = owner != location && row.tag == location && tabTag_ == owner;
            if (fromFirstTabRow || fromOtherTabRow || fromThisRow)
                row.markedMenuItem = rule;
        }
        changed.append(index);
    }
    return changed;
}

QList<int> KZResultSourcesRows::updateRemovedInfo(const KZViewToUpdateRef& info)
{
    QList<int> changed;
    for (const auto& [index, change] : changedRows(info)) {
        KZResultSourcesTypeItem& row = *items_[static_cast<size_t>(index)];
        const qint64 n = change->managedCount();
        const qint64 s = change->size();
        row.removedCount = KZResultSourcesTypeItem::moved(row.removedCount, n, true);
        row.removedSize = KZResultSourcesTypeItem::moved(row.removedSize, s, true);
        row.markedCount = KZResultSourcesTypeItem::moved(row.markedCount, n, false);
        row.markedSize = KZResultSourcesTypeItem::moved(row.markedSize, s, false);
        row.itemsCount = KZResultSourcesTypeItem::moved(row.itemsCount, n, false);
        row.itemsSize = KZResultSourcesTypeItem::moved(row.itemsSize, s, false);
        changed.append(index);
    }
    return changed;
}

std::optional<int> KZResultSourcesRows::updateInfo(const QVariantMap& listInfo)
{
    const auto index = indexOfItemWithTag(listInfo.value(QStringLiteral("itemsToManageTag")).toULongLong());
    if (!index)
        return std::nullopt;
    KZResultSourcesTypeItem& row = *items_[static_cast<size_t>(*index)];
    row.itemsSize = listInfo.value(QStringLiteral("size")).toULongLong();
    row.itemsCount = listInfo.value(QStringLiteral("count")).toULongLong();
    row.markedCount = listInfo.value(QStringLiteral("markedCount")).toULongLong();
    row.markedSize = listInfo.value(QStringLiteral("markedSize")).toULongLong();
    return index;
}

void KZResultSourcesRows::setTabName(const QString& name)
{
    items_.front()->name = name;
}

QVariantMap KZResultSourcesRows::savedSettings() const
{
    QVariantList rows;
    for (const KZResultSourcesTypeItemRef& item : items_) {
        rows.append(QVariantMap{{QStringLiteral("tag"), number(item->tag)},
                                {QStringLiteral("isPhotosLib"), item->isPhotosLib},
                                {QStringLiteral("searchStoppeByUser"), item->searchStoppeByUser},
                                {QStringLiteral("markedCount"), number(item->markedCount)},
                                {QStringLiteral("markedSize"), number(item->markedSize)},
                                {QStringLiteral("removedSize"), number(item->removedSize)},
                                {QStringLiteral("removedCount"), number(item->removedCount)}});
    }
    const KZResultSourcesTypeItemRef selected = at(static_cast<int>(currSelectedRow_));
    return {{QStringLiteral("sources"), rows},
            {QStringLiteral("selection"), number(selected ? selected->tag : tabTag_)}};
}

std::optional<int> KZResultSourcesRows::setSavedSettings(const QVariantMap& saved)
{
    const auto toCount = [](const QVariant& value) -> quint64 {
        // A negative or unreadable figure from the file counts as none.
        bool ok = false;
        const qlonglong signedValue = value.toLongLong(&ok);
        if (value.typeId() != QMetaType::ULongLong && (!ok || signedValue < 0))
            return 0;
        return value.toULongLong();
    };
    for (const QVariant& entry : saved.value(QStringLiteral("sources")).toList()) {
        const QVariantMap values = entry.toMap();
        const auto index = indexOfItemWithTag(values.value(QStringLiteral("tag")).toULongLong());
        if (!index)
            continue;
        KZResultSourcesTypeItem& row = *items_[static_cast<size_t>(*index)];
        row.isPhotosLib = values.value(QStringLiteral("isPhotosLib")).toBool();
        row.searchStoppeByUser = values.value(QStringLiteral("searchStoppeByUser")).toBool();
        row.removedCount = toCount(values.value(QStringLiteral("removedCount")));
        row.removedSize = toCount(values.value(QStringLiteral("removedSize")));
    }
    if (!saved.contains(QStringLiteral("selection")))
        return std::nullopt;
    return indexOfItemWithTag(saved.value(QStringLiteral("selection")).toULongLong());
}
