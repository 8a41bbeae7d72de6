#include "result/model/KZFoundListSavedState.h"

#include "platform/NotificationCenter.h"
#include "platform/Paths.h"
#include "result/model/KZColumnKeys.h"
#include "result/model/KZFoundItemsCntrl.h"
#include "result/model/KZFoundListContext.h"
#include "result/model/KZFoundListStore.h"
#include "result/model/KZFoundListWorkers.h"
#include "result/model/KZListNotifications.h"
#include "result/model/KZListOutline.h"

#include <QSet>

#include <map>
#include <string>
#include <unordered_map>

namespace {

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

KZFoundListSavedState::KZFoundListSavedState(const KZFoundListContext& context,
                                             std::function<void(const QVariantMap&)> sort,
                                             std::function<void(const KZSortDescriptors&)> showOrder)
    : context_(context)
    , sort_(std::move(sort))
    , showOrder_(std::move(showOrder))
{
}

void KZFoundListSavedState::setSavedSettings(const QVariantMap& saved, bool shownByGroupWhenSaved)
{
    if (context_.tabTag != KZTag::emptyFolders) {
        setSavedSelection(saved.value(QStringLiteral("selectedItems")).toMap(), shownByGroupWhenSaved);
        if (shownByGroupWhenSaved)
            setSavedExpanded(saved.value(QStringLiteral("expandedByTag")).toMap());
    }
    setSavedSortDescriptors(saved.value(QStringLiteral("sortDescriptors")).toMap());
}

KZSortDescriptors KZFoundListSavedState::sortDescriptorsFromSaved(const QVariantList& saved)
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

void KZFoundListSavedState::setSavedSortDescriptors(const QVariantMap& saved)
{
    context_.store->clearSortDescriptors();
    for (auto entry = saved.constBegin(); entry != saved.constEnd(); ++entry) {
        const KZSortDescriptors descriptors = sortDescriptorsFromSaved(entry.value().toList());
        const quint64 tag = savedTag(entry.key());
        context_.store->setSortDescriptors(tag, descriptors);
        const QVariantMap request{{QStringLiteral("descriptors"), QVariant::fromValue(descriptors)},
                                  {QStringLiteral("tag"), QVariant::fromValue<quint64>(tag)},
                                  {QStringLiteral("updateInterface"), tag == context_.currentTag()}};
        if (tag == context_.currentTag()) {
            context_.workers->onMainLater([this, descriptors, request] {
                if (context_.outline)
                    context_.outline->setCurrSelectedTag(context_.currentTag());
                showOrder_(descriptors);
                sort_(request);
            });
        } else {
            platform::NotificationCenter::defaultCenter().post(
                KZNotification::sortList, platform::NotificationObject::number(static_cast<qint64>(context_.tabTag)),
                request);
        }
    }
}

void KZFoundListSavedState::setSavedSelection(const QVariantMap& saved, bool shownByGroupWhenSaved)
{
    const std::shared_ptr<KZFoundItemsCntrl> model = context_.model();
    std::map<quint64, QList<KZListRow>> selected;
    for (auto entry = saved.constBegin(); model && entry != saved.constEnd(); ++entry) {
        const quint64 tag = savedTag(entry.key());
        const auto list = context_.store->list(tag);
        if (!list)
            continue;
        // Rows saved from a flat list are found by their group all the same:
        // the list is grouped for the look-up only, and stored as it was.
        KZFoundItemGroupRef root = list->root;
        if (!root && !shownByGroupWhenSaved)
            root = model->setupItemsByGroupForItems(list->items, true);
        if (!root)
            continue;
        // Looked up by number and by path once each: a saved result may
        // select every row of a list of 100,000.
        std::unordered_map<qint64, KZFoundItemGroupRef> groups;
        for (const KZFoundItemGroupRef& group : root->groups())
            groups.try_emplace(group->groupID(), group);
        std::unordered_map<const KZFoundItemGroup*, std::unordered_map<std::string, KZFoundItemRef>> paths;
        QList<KZListRow> rows;
        for (const QVariant& value : entry.value().toList()) {
            const QVariantMap row = value.toMap();
            const auto byID = groups.find(row.value(QStringLiteral("groupID")).toLongLong());
            if (byID == groups.end() || !byID->second)
                continue;
            const KZFoundItemGroupRef& group = byID->second;
            if (row.value(QStringLiteral("isGroupItem")).toBool()) {
                if (list->isGrouped())
                    rows.append(KZListRow{group, nullptr});
                continue;
            }
            auto [members, added] = paths.try_emplace(group.get());
            if (added) {
                for (const KZFoundItemRef& item : group->items())
                    members->second.try_emplace(item->path().native(), item);
            }
            const std::filesystem::path path(platform::pathFromText(row.value(QStringLiteral("path")).toString()));
            if (const auto found = members->second.find(path.native()); found != members->second.end())
                rows.append(KZListRow{list->isGrouped() ? group : nullptr, found->second});
        }
        if (!rows.isEmpty())
            selected[tag] = rows;
    }
    if (context_.outline)
        context_.outline->setSelectedItemsByTags(selected);
}

qsizetype KZFoundListSavedState::indexOfItemInArray(const QVariantList& saved, qint64 groupID)
{
    for (qsizetype i = 0; i < saved.size(); ++i) {
        if (saved[i].toMap().value(QStringLiteral("groupID")).toLongLong() == groupID)
            return i;
    }
    return KZFoundItemsCntrl::notFound;
}

void KZFoundListSavedState::setSavedExpanded(const QVariantMap& saved)
{
    for (auto entry = saved.constBegin(); entry != saved.constEnd(); ++entry) {
        const auto list = context_.store->list(savedTag(entry.key()));
        if (!list || !list->isGrouped())
            continue;
        // The first record of each group counts, as a search of the rows
        // from the start would find it, in one pass over them.
        std::unordered_map<qint64, bool> expanded;
        for (const QVariant& row : entry.value().toList()) {
            const QVariantMap record = row.toMap();
            expanded.try_emplace(record.value(QStringLiteral("groupID")).toLongLong(),
                                 record.value(QStringLiteral("isExpanded")).toBool());
        }
        for (const KZFoundItemGroupRef& group : list->root->groups()) {
            if (const auto found = expanded.find(group->groupID()); found != expanded.end())
                group->setIsExpanded(found->second);
        }
    }
}
