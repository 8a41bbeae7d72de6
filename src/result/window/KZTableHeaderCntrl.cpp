#include "result/window/KZTableHeaderCntrl.h"

#include "result/model/KZColumnKeys.h"

const QList<KZResultColumn>& KZTableHeaderCntrl::all()
{
    static const QList<KZResultColumn> columns = [] {
        using namespace KZColumnKey;
        const QString cmp = KZSortDescriptor::compareSelector;
        QList<KZResultColumn> list;
        list.append({check_col, {}, QStringLiteral("check_header"), Qt::AlignHCenter, 28, 64, 28, false,
                     KZSortDescriptor(check_col, false, cmp)});
        list.append({location_tag_col, {}, QStringLiteral("label_header"), Qt::AlignHCenter, 28, 28, 28, false,
                     KZSortDescriptor(location_tag_col, true, cmp)});
        list.append({name_col, QStringLiteral("name"), {}, Qt::AlignLeft, 254, 10000, 300, true,
                     KZSortDescriptor(name_col, true, localizedCaseInsensitiveCompare)});
        list.append({date_modified_col, QStringLiteral("date_modified"), {}, Qt::AlignLeft, 54, 10000, 220, true,
                     KZSortDescriptor(date_modified_col, true, cmp)});
        list.append({size_col, QStringLiteral("size_column"), {}, Qt::AlignRight, 54, 200, 80, true,
                     KZSortDescriptor(size_col, true, cmp)});
        list.append({kind_col, QStringLiteral("kind"), {}, Qt::AlignLeft, 154, 10000, 160, true,
                     KZSortDescriptor(kind_col, true, localizedCaseInsensitiveCompare)});
        return list;
    }();
    return columns;
}

const KZResultColumn* KZTableHeaderCntrl::columnWithIdentifier(const QString& identifier)
{
    for (const KZResultColumn& column : all())
        if (column.identifier == identifier)
            return &column;
    return nullptr;
}

int KZTableHeaderCntrl::indexOf(const QString& identifier)
{
    const auto& columns = all();
    for (int i = 0; i < columns.size(); ++i)
        if (columns.at(i).identifier == identifier)
            return i;
    return -1;
}

bool KZTableHeaderCntrl::isShown(const QString& identifier, qint16 searchedLocationCount)
{
    if (identifier == KZColumnKey::location_tag_col)
        return searchedLocationCount >= 2;
    return columnWithIdentifier(identifier) != nullptr;
}

KZSortDescriptors KZTableHeaderCntrl::defaultSortDescriptors()
{
    return {KZSortDescriptor(KZColumnKey::dupe_group_col, true), KZSortDescriptor(KZColumnKey::location_tag_col, true)};
}

KZSortDescriptors KZTableHeaderCntrl::descriptorsAfterClick(const KZSortDescriptors& current, const QString& identifier)
{
    const KZResultColumn* column = columnWithIdentifier(identifier);
    if (!column)
        return current;
    if (!current.isEmpty() && current.first().key() == identifier) {
        KZSortDescriptors toggled = current;
        const KZSortDescriptor& primary = current.first();
        toggled[0] = KZSortDescriptor(primary.key(), !primary.ascending(), primary.selector());
        return toggled;
    }
    KZSortDescriptors result{column->prototype};
    for (const KZSortDescriptor& descriptor : current)
        if (descriptor.key() != identifier)
            result.append(descriptor);
    return result;
}
