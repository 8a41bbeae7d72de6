#include "result/model/KZMarkingRules.h"

#include "platform/Paths.h"
#include "result/model/KZFoundItemsStore.h"
#include "result/model/KZItemGroups.h"
#include "result/model/KZMarkBookkeeping.h"
#include "services/KZFilesUtilities.h"
#include "settings/KZTags.h"

#include <QUrl>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;

namespace {

bool isLocationRow(quint64 tag)
{
    return tag >= KZTag::sourceRowBase && tag < KZTag::markedItemsRowBase;
}

// A member with the date it is sorted by, read once per rule.
struct Dated {
    KZFoundItemRef item;
    double date;
};

std::vector<Dated> datedMembers(const KZFoundItemArray& group)
{
    std::vector<Dated> members;
    members.reserve(static_cast<std::size_t>(group.size()));
    for (const KZFoundItemRef& item : group)
        members.push_back({item, item->dateModified()});
    return members;
}

KZFoundItemArray byLocation(KZFoundItemArray group)
{
    std::stable_sort(group.begin(), group.end(), [](const KZFoundItemRef& a, const KZFoundItemRef& b) {
        return a->locationLabelTag() < b->locationLabelTag();
    });
    return group;
}

KZMarkSnapshot snapshotOfVariant(const QVariant& value)
{
    if (value.metaType() == QMetaType::fromType<KZMarkSnapshot>())
        return value.value<KZMarkSnapshot>();
    KZMarkSnapshot snapshot;
    for (const QVariant& entry : value.toList()) {
        const QVariantMap map = entry.toMap();
        if (auto item = map.value(KZMarkingKey::item).value<KZFoundItemRef>())
            snapshot.append({std::move(item), map.value(KZMarkingKey::state).toBool()});
    }
    return snapshot;
}

fs::path pathOfVariant(const QVariant& value)
{
    if (value.metaType() == QMetaType::fromType<fs::path>())
        return value.value<fs::path>();
    if (value.metaType() == QMetaType::fromType<QUrl>())
        return KZFilesUtilities::pathFromFileURL(value.toUrl());
    if (value.metaType() == QMetaType::fromType<QString>()) {
        const QString text = value.toString();
        const QUrl url(text);
        if (url.isLocalFile())
            return KZFilesUtilities::pathFromFileURL(url);
        return platform::pathFromText(text);
    }
    return {};
}

std::vector<fs::path> pathsOfVariant(const QVariant& value)
{
    std::vector<fs::path> paths;
    auto add = [&paths](const fs::path& path) {
        if (!path.empty())
            paths.push_back(path);
    };
    if (value.metaType() == QMetaType::fromType<QList<QUrl>>()) {
        for (const QUrl& url : value.value<QList<QUrl>>())
            add(KZFilesUtilities::pathFromFileURL(url));
    } else if (value.metaType() == QMetaType::fromType<std::vector<fs::path>>()) {
        for (const fs::path& path : value.value<std::vector<fs::path>>())
            add(path);
    } else if (value.metaType() == QMetaType::fromType<QVariantList>()
               || value.metaType() == QMetaType::fromType<QStringList>()) {
        for (const QVariant& entry : value.toList())
            add(pathOfVariant(entry));
    } else {
        add(pathOfVariant(value));
    }
    return paths;
}

// The components of a path, byte for byte, without the empty ones a
// trailing separator leaves.
std::vector<std::string> componentsOf(const fs::path& path)
{
    std::vector<std::string> components;
    for (const fs::path& part : path) {
        if (!part.empty())
            components.push_back(part.native());
    }
    return components;
}

// Whether `path` lies below the folder of `folder`'s components, compared
// as componentsOf compares them but without taking the path apart: the
// rule asks it of every item of the result.
bool isBelowFolder(const std::string& path, const std::vector<std::string>& folder)
{
    size_t at = 0;
    const auto nextPart = [&]() -> std::optional<std::string_view> {
        if (at == 0 && !path.empty() && path.front() == '/') {
            while (at < path.size() && path[at] == '/')
                ++at;
            return std::string_view("/");
        }
        while (at < path.size() && path[at] == '/')
            ++at;
        if (at >= path.size())
            return std::nullopt;
        const size_t end = std::min(path.find('/', at), path.size());
        const std::string_view part(path.data() + at, end - at);
        at = end;
        return part;
    };
    for (const std::string& component : folder) {
        const std::optional<std::string_view> part = nextPart();
        if (!part || *part != component)
            return false;
    }
    // The folder itself is not below it.
    return nextPart().has_value();
}

} // namespace

KZMarkingRules::KZMarkingRules(const KZFoundItemsStore& store, const KZMarkBookkeeping& bookkeeping)
    : store_(store)
    , bookkeeping_(bookkeeping)
{
}

void KZMarkingRules::setMark(const KZFoundItemRef& item, bool marked, KZViewsToUpdate* markedInfo,
                                bool reportPrevious) const
{
    const bool before = item->isMarked();
    if (before == marked)
        return;
    item->setIsMarked(marked);
    if (markedInfo)
        bookkeeping_.updateInfoDict(*markedInfo, item, reportPrevious ? std::optional<bool>(before) : std::nullopt);
}

// ---- Dispatch ------------------------------------------------------------------------

void KZMarkingRules::markItemsWithDict(const QVariantMap& request) const
{
    namespace K = KZMarkingKey;
    // An absent rule reads as 0, the single check box, as an absent number
    // does everywhere else in a request.
    const qint64 rule = request.value(K::menuItemTag).toLongLong();
    const bool checkOn = request.value(K::checkBtnState).toLongLong() != 0;
    const quint64 ownerTag = request.value(K::ownerTag).toULongLong();
    quint64 tag = request.value(K::itemsToManageTag).toULongLong();
    const KZViewsToUpdateRef info = request.value(K::infoDict).value<KZViewsToUpdateRef>();
    KZViewsToUpdate* markedInfo = info.get();

    // A restore request carries mark states, not plain items.
    KZMarkSnapshot snapshot;
    KZFoundItemArray items;
    if (rule == KZMarkRule::restore) {
        snapshot = snapshotOfVariant(request.value(K::itemsToManage));
        for (const KZMarkState& entry : snapshot)
            items.append(entry.item);
    } else {
        if (request.contains(K::itemsToManage))
            items = KZFoundItemsOfVariant(request.value(K::itemsToManage));
        else if (ownerTag == KZTag::emptyFolders)
            // The empty-folders tab marks every member of what it shows; its
            // rules must never reach the duplicates, or a whole group could
            // end up marked.
            items = store_.allEmptyFolders().value_or(KZFoundItemArray{});
        else
            items = store_.allItems();
    }

    bool fromLocation = false;
    if (isLocationRow(tag) && rule != KZMarkRule::singleCheckBox) {
        tag -= KZTag::sourceRowBase;
        fromLocation = true;
    }

    if (!checkOn && rule != KZMarkRule::singleCheckBox) {
        unmarkItemWithTag(tag, ownerTag, markedInfo, items, fromLocation);
        return;
    }

    switch (rule) {
    case KZMarkRule::singleCheckBox:
        markSingleItem(tag, ownerTag, markedInfo, items);
        break;
    case KZMarkRule::byDefault:
        markItemsByDefaultWithTag(tag, ownerTag, markedInfo, items);
        break;
    case KZMarkRule::oldest:
    case KZMarkRule::newest:
        markItemsByAgeWithTag(tag, ownerTag, markedInfo, items, rule == KZMarkRule::oldest);
        break;
    case KZMarkRule::byChosenFolder:
        markItemsByLocationsWithTag(tag, ownerTag, markedInfo, items, pathsOfVariant(request.value(K::urls)));
        break;
    case KZMarkRule::random:
        markItemsRandomlyWithTag(tag, ownerTag, markedInfo, items);
        break;
    case KZMarkRule::inLocation:
        markItemsInLocation(tag, ownerTag, markedInfo, items);
        break;
    case KZMarkRule::swap:
        swapMarksWithWithTag(tag, ownerTag, markedInfo, fromLocation, items);
        break;
    case KZMarkRule::restore:
        undoMarkWithDict(snapshot, markedInfo);
        break;
    default:
        // Numbers outside the mark menu ask for nothing.
        break;
    }
}

// ---- The rules -----------------------------------------------------------------------

bool KZMarkingRules::canProceedToSwapMarks(const KZFoundItemArray& group)
{
    bool sawMarked = false;
    bool sawUnmarked = false;
    for (const KZFoundItemRef& item : group) {
        (item->isMarked() ? sawMarked : sawUnmarked) = true;
        if (sawMarked && sawUnmarked)
            return true;
    }
    return false;
}

void KZMarkingRules::markSingleItem(quint64 /*tag*/, quint64 /*ownerTag*/, KZViewsToUpdate* markedInfo,
                                       const KZFoundItemArray& items) const
{
    // A click on one check box: nothing to toggle when the list is empty.
    if (items.isEmpty())
        return;
    const KZFoundItemRef& item = items.first();
    setMark(item, !item->isMarked(), markedInfo, false);
}

void KZMarkingRules::markItemsByDefaultWithTag(quint64 /*tag*/, quint64 ownerTag, KZViewsToUpdate* markedInfo,
                                                  const KZFoundItemArray& items) const
{
    const bool markAll = ownerTag == KZTag::emptyFolders;
    for (const KZFoundItemArray& group : KZItemGroups::groupsArrayWithArray(items)) {
        // Oldest first; among equally dated copies the highest location label
        // comes last, so the newest copy in the last searched location stays.
        std::vector<Dated> members = datedMembers(group);
        std::stable_sort(members.begin(), members.end(), [](const Dated& a, const Dated& b) {
            if (a.date != b.date)
                return a.date < b.date;
            return a.item->locationLabelTag() < b.item->locationLabelTag();
        });
        const std::size_t toMark = markAll ? members.size() : members.size() - 1;
        for (std::size_t i = 0; i < members.size(); ++i)
            setMark(members[i].item, i < toMark, markedInfo, true);
    }
}

void KZMarkingRules::markItemsByAgeWithTag(quint64 /*tag*/, quint64 /*ownerTag*/, KZViewsToUpdate* markedInfo,
                                              const KZFoundItemArray& items, bool ageIsOldest) const
{
    for (const KZFoundItemArray& group : KZItemGroups::groupsArrayWithArray(items)) {
        std::vector<Dated> members = datedMembers(group);
        std::stable_sort(members.begin(), members.end(), [ageIsOldest](const Dated& a, const Dated& b) {
            if (a.date != b.date)
                return ageIsOldest ? a.date < b.date : a.date > b.date;
            return a.item->locationLabelTag() < b.item->locationLabelTag();
        });
        // The last member is the one kept; every member sharing its date is
        // kept too, since none of them is older (or newer) than it.
        const double keptDate = members.back().date;
        bool stopped = false;
        for (std::size_t i = 0; i < members.size(); ++i) {
            const bool isLast = i + 1 == members.size();
            if (!isLast && !stopped && members[i].date == keptDate)
                stopped = true;
            setMark(members[i].item, !isLast && !stopped, markedInfo, true);
        }
    }
}

void KZMarkingRules::markItemsByLocationsWithTag(quint64 /*tag*/, quint64 /*ownerTag*/,
                                                    KZViewsToUpdate* markedInfo, const KZFoundItemArray& items,
                                                    const std::vector<fs::path>& locationsToReport) const
{
    if (locationsToReport.empty())
        return;
    // The folder chooser offers a single folder.
    const std::vector<std::string> folder = componentsOf(locationsToReport.front());
    if (folder.empty())
        return;
    for (const KZFoundItemArray& group : KZItemGroups::groupsArrayWithArray(items)) {
        const qsizetype cap = group.size() - 1;
        qsizetype marked = 0;
        for (const KZFoundItemRef& item : byLocation(group)) {
            // Only items below the folder count: the folder itself, or an
            // item as deep as it, is not "inside" it. The recorded place
            // decides without the disk (an item is followed only through
            // renames in its own folder); only an item below the folder is
            // asked whether it is still there, so that a missing one is
            // never marked.
            const bool inside =
                isBelowFolder(item->recordedURL().native(), folder) && isBelowFolder(item->path().native(), folder);
            const bool mark = inside && marked < cap;
            if (mark)
                ++marked;
            setMark(item, mark, markedInfo, true);
        }
    }
}

void KZMarkingRules::markItemsRandomlyWithTag(quint64 /*tag*/, quint64 /*ownerTag*/, KZViewsToUpdate* markedInfo,
                                                 const KZFoundItemArray& items) const
{
    // Named "random" in the menu, but repeatable: the copy in the last
    // searched location stays, so running it twice gives the same marks.
    for (const KZFoundItemArray& group : KZItemGroups::groupsArrayWithArray(items)) {
        const KZFoundItemArray ordered = byLocation(group);
        for (qsizetype i = 0; i < ordered.size(); ++i)
            setMark(ordered[i], i + 1 < ordered.size(), markedInfo, true);
    }
}

void KZMarkingRules::markItemsInLocation(quint64 tag, quint64 ownerTag, KZViewsToUpdate* markedInfo,
                                            const KZFoundItemArray& items) const
{
    const qint64 label = static_cast<qint64>(tag);
    auto walked = [ownerTag](const KZFoundItemRef& item) {
        return ownerTag == KZTag::allDuplicates || item->fileTypeTag() == ownerTag;
    };
    for (const KZFoundItemArray& group : KZItemGroups::groupsArrayWithArray(items)) {
        const qsizetype cap = group.size() - 1;
        // Members of another tab keep their marks; those already marked count
        // toward the cap, so a group split over two tabs keeps a copy.
        qsizetype marked = 0;
        for (const KZFoundItemRef& item : group) {
            if (!walked(item) && item->isMarked())
                ++marked;
        }
        for (const KZFoundItemRef& item : byLocation(group)) {
            if (!walked(item))
                continue;
            const bool mark = item->locationLabelTag() == label && marked < cap;
            if (mark)
                ++marked;
            setMark(item, mark, markedInfo, true);
        }
    }
}

void KZMarkingRules::swapMarksWithWithTag(quint64 tag, quint64 ownerTag, KZViewsToUpdate* markedInfo,
                                             bool calledFromLocation, const KZFoundItemArray& items) const
{
    const bool everyType = ownerTag == KZTag::allDuplicates || store_.fileTypesFoundCount() == 1;
    const qint64 label = static_cast<qint64>(tag);
    for (const KZFoundItemArray& group : KZItemGroups::groupsArrayWithArray(items)) {
        KZFoundItemArray swapped;
        for (const KZFoundItemRef& item : byLocation(group)) {
            if (!everyType && item->fileTypeTag() != ownerTag)
                continue;
            // Asked from a location row, the swap stays in that location.
            if (calledFromLocation && item->locationLabelTag() != label)
                continue;
            swapped.append(item);
        }
        // Limited to a location, the mix that matters is the one being
        // flipped: the location's lone unmarked copy next to a copy marked
        // elsewhere would otherwise leave the whole group marked.
        if (!canProceedToSwapMarks(calledFromLocation ? swapped : group))
            continue;
        for (const KZFoundItemRef& item : swapped)
            setMark(item, !item->isMarked(), markedInfo, true);
    }
}

void KZMarkingRules::undoMarkWithDict(const KZMarkSnapshot& entries, KZViewsToUpdate* markedInfo) const
{
    for (const KZMarkState& entry : entries) {
        if (entry.item)
            setMark(entry.item, entry.state, markedInfo, true);
    }
}

void KZMarkingRules::unmarkItemWithTag(quint64 tag, quint64 ownerTag, KZViewsToUpdate* markedInfo,
                                          const KZFoundItemArray& items, bool calledFromLocation) const
{
    // Only a location row limits the unmarking to its location; the tab's own
    // row and its marked-items row unmark the whole tab. (Location label 0 is
    // a real location, so "no limit" cannot be spelled as tag 0.)
    const bool limited = calledFromLocation;
    const qint64 label = static_cast<qint64>(tag);
    for (const KZFoundItemRef& item : items) {
        if (!item->isMarked())
            continue;
        bool unmark = ownerTag == KZTag::emptyFolders;
        if (!unmark) {
            const bool inTab = ownerTag == KZTag::allDuplicates || item->fileTypeTag() == ownerTag;
            unmark = inTab && (!limited || item->locationLabelTag() == label);
        }
        if (unmark)
            setMark(item, false, markedInfo, false);
    }
}
