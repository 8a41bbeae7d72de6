#include "result/model/KZResultSourcesTypeItem.h"

#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "services/KZNumberUtilities.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZTags.h"

#include <limits>

namespace {

QString text(const char* key)
{
    return platform::localizedString(QString::fromLatin1(key));
}

// The empty-folders tab shows counts alone; every other tab a size and a count.
QString figures(quint64 ownerTag, const char* sizedKey, const char* countKey, quint64 size, quint64 count)
{
    const KZNumberUtilities& numbers = KZNumberUtilities::sharedControl();
    const QString countText = numbers.numberToFormatString(static_cast<double>(count));
    if (ownerTag != KZTag::emptyFolders)
        return text(sizedKey).arg(numbers.sizeToFormatString(size, 4, true), countText);
    return text(countKey).arg(countText);
}

} // namespace

KZResultSourcesTypeItem::KZResultSourcesTypeItem(const QVariantMap& dictionary)
    : name(dictionary.value(QStringLiteral("name")).toString())
    , itemsSize(dictionary.value(QStringLiteral("size")).toULongLong())
    , itemsCount(dictionary.value(QStringLiteral("count")).toULongLong())
    , tag(dictionary.value(QStringLiteral("tag")).toULongLong())
{
}

bool KZResultSourcesTypeItem::isMarkedRow() const
{
    return tag >= KZTag::markedItemsRowBase;
}

bool KZResultSourcesTypeItem::isSourceRow() const
{
    return tag > KZTag::sourceRowBase - 1 && tag < KZTag::markedItemsRowBase;
}

bool KZResultSourcesTypeItem::isTypeRow() const
{
    return tag < KZTag::specialTabsStart || tag == KZTag::emptyFolders;
}

bool KZResultSourcesTypeItem::showMarkedInfo()
{
    const QVariant value = platform::UserDefaults::standard().value(KZDefaultsKey::show_marked_info);
    return value.isValid() && value.toBool();
}

quint64 KZResultSourcesTypeItem::moved(quint64 value, qint64 by, bool add)
{
    // A negative change runs the other way; its size is taken without
    // overflowing at the smallest value.
    const quint64 amount = by < 0 ? static_cast<quint64>(-(by + 1)) + 1 : static_cast<quint64>(by);
    if (add != (by < 0))
        return value > std::numeric_limits<quint64>::max() - amount ? std::numeric_limits<quint64>::max()
                                                                      : value + amount;
    return value > amount ? value - amount : 0;
}

QString KZResultSourcesTypeItem::formattedInfoWithOwnerTag(quint64 ownerTag) const
{
    return formattedInfoWithOwnerTag(ownerTag, showMarkedInfo());
}

QString KZResultSourcesTypeItem::formattedInfoWithOwnerTag(quint64 ownerTag, bool showMarked) const
{
    if (isMarkedRow()) {
        if (markedCount == 0)
            return text("no_marked_items");
        return figures(ownerTag, "marked_info", "marked_count", markedSize, markedCount);
    }
    // A row whose duplicates all went keeps telling what went, whatever the
    // preference.
    if (itemsCount == 0 && removedCount > 0)
        return figures(ownerTag, "removed_info", "removed_count", removedSize, removedCount);
    if (showMarked) {
        if (markedCount == 0)
            return text("no_marked_items");
        return figures(ownerTag, "marked_info", "marked_count", markedSize, markedCount);
    }
    return figures(ownerTag, "items_info", "items_count", itemsSize, itemsCount);
}

QString KZResultSourcesTypeItem::appropriateInfoString(quint64 ownerTag, bool showMarked) const
{
    const quint64 count = showMarked ? itemsCount : markedCount;
    if (count == 0)
        return text("no_marked_items");
    if (showMarked)
        return figures(ownerTag, "items_info", "items_count", itemsSize, itemsCount);
    return figures(ownerTag, "marked_info", "marked_count", markedSize, markedCount);
}

QString KZResultSourcesTypeItem::appriopiateRemoveString(quint64 ownerTag, bool showMarked) const
{
    if (removedCount == 0)
        return text("no_removed_items");
    // Everything removed: the row's own line shows the removed figures, so
    // the popover shows the ones the line would otherwise show.
    if (itemsCount == 0) {
        if (showMarked)
            return figures(ownerTag, "marked_info", "marked_count", markedSize, markedCount);
        return figures(ownerTag, "items_info", "items_count", itemsSize, itemsCount);
    }
    return figures(ownerTag, "removed_info", "removed_count", removedSize, removedCount);
}
