#include "result/model/KZFoundItemGroup.h"

#include "platform/StringTable.h"
#include "result/model/KZSortGroupModule.h"
#include "services/KZErrorDelegate.h"
#include "services/KZNumberUtilities.h"

namespace {

QString formattedBytes(quint64 bytes)
{
    return KZNumberUtilities::sharedControl().sizeToFormatString(bytes, 4, true);
}

} // namespace

KZFoundItemGroupRef KZFoundItemGroup::itemGroup()
{
    return std::make_shared<KZFoundItemGroup>();
}

QString KZFoundItemGroup::formattedMarkedCount() const
{
    return KZNumberUtilities::sharedControl().numberToFormatString(markedCount_);
}

QString KZFoundItemGroup::extraInfoFormatted(bool marked) const
{
    const QString format = platform::localizedString(
        marked ? QStringLiteral("marked_group_cell_extra_info") : QStringLiteral("group_cell_extra_info"));
    return KZErrorDelegate::replaceContentOfString(format, {formattedSize(), formattedMarkedSize()});
}

QString KZFoundItemGroup::formattedSize() const
{
    return formattedBytes(KZSortGroupModule::sharedControl().sizeOfItemsInArray(items_));
}

QString KZFoundItemGroup::formattedCount() const
{
    return KZNumberUtilities::sharedControl().numberToFormatString(static_cast<double>(items_.size()));
}

QString KZFoundItemGroup::formattedMarkedSize() const
{
    return formattedBytes(KZSortGroupModule::sharedControl().checkedCountSizeInArray(items_));
}

QVariant KZFoundItemGroup::valueForUndefinedKey(const QString& key) const
{
    return KZSortGroupModule::sharedControl().valueForKey(key, items_, false);
}
