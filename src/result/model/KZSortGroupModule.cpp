#include "result/model/KZSortGroupModule.h"

#include "platform/SharedInstance.h"
#include "result/model/KZColumnKeys.h"

namespace {

platform::SharedInstance<KZSortGroupModule>& sharedInstance()
{
    static platform::SharedInstance<KZSortGroupModule> instance([] { return std::make_unique<KZSortGroupModule>(); });
    return instance;
}

} // namespace

KZSortGroupModule& KZSortGroupModule::sharedControl()
{
    return sharedInstance().get();
}

void KZSortGroupModule::setSharedControl(std::unique_ptr<KZSortGroupModule> instance)
{
    sharedInstance().replace(std::move(instance));
}

QVariant KZSortGroupModule::emptyForKey(const QString& key) const
{
    if (key == KZColumnKey::name_col || key == KZColumnKey::kind_col)
        return QString();
    return false;
}

quint64 KZSortGroupModule::sizeOfItemsInArray(const KZFoundItemArray& items) const
{
    quint64 total = 0;
    for (const KZFoundItemRef& item : items)
        total += item->size();
    return total;
}

quint64 KZSortGroupModule::sizeOfFirstItemsInArray(const KZFoundItemArray& items) const
{
    return items.isEmpty() ? 0 : items.first()->size();
}

quint64 KZSortGroupModule::checkedCountSizeInArray(const KZFoundItemArray& items) const
{
    quint64 total = 0;
    for (const KZFoundItemRef& item : items) {
        if (item->isMarked())
            total += item->size();
    }
    return total;
}

qint16 KZSortGroupModule::checkedCountInArray(const KZFoundItemArray& items) const
{
    if (items.isEmpty())
        return 0;
    qsizetype marked = 0;
    for (const KZFoundItemRef& item : items)
        marked += item->isMarked() ? 1 : 0;
    return static_cast<qint16>(marked * 100 / items.size());
}

QVariant KZSortGroupModule::valueForKey(const QString& key, const KZFoundItemArray& members, bool withIcon) const
{
    namespace K = KZColumnKey;
    const KZFoundItemRef first = members.isEmpty() ? nullptr : members.first();
    if (key == K::size_col)
        return QVariant::fromValue<quint64>(sizeOfItemsInArray(members));
    if (key == K::size_col_ungrouped)
        return QVariant::fromValue<quint64>(sizeOfFirstItemsInArray(members));
    if (key == K::checkedSize)
        return QVariant::fromValue<quint64>(checkedCountSizeInArray(members));
    if (key == K::check_col)
        return QVariant::fromValue<qint16>(checkedCountInArray(members));
    if (key == K::items_in_group)
        return QVariant::fromValue<quint64>(static_cast<quint64>(members.size()));
    if (!first)
        return emptyForKey(key);
    if (key == K::name_col)
        return first->knownName();
    if (key == K::kind_col)
        return first->kind();
    if (key == K::dupe_group_col)
        return QVariant::fromValue<qint64>(first->groupID());
    if (key == K::icon && withIcon)
        return first->fileIcon();
    if (key == K::isInvisible)
        return first->isInvisible();
    if (key == K::isDirectory)
        return first->isDirectory();
    if (key == K::date_modified_col)
        return first->cfDateModified();
    if (key == K::location_tag_col)
        return QVariant::fromValue<qint16>(first->locationLabelTag());
    return emptyForKey(key);
}
