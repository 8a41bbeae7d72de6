#pragma once

#include "result/model/KZFoundItem.h"
#include "result/model/KZFoundItemGroup.h"

#include <QList>
#include <QtGlobal>

#include <filesystem>

// Cutting items into their duplicate groups, and finding a group or an item
// in a list. Pure functions of their arguments; any thread.
class KZItemGroups {
public:
    // The answer of the index look-ups when nothing matches.
    static constexpr qsizetype notFound = -1;

    // The items cut into their groups, in ascending group identifier.
    static QList<KZFoundItemArray> groupsArrayWithArray(const KZFoundItemArray& items);
    // A root group whose groups() hold the items group by group. Without
    // sorting, members of one group must be adjacent: each run of equal
    // identifiers makes a group.
    static KZFoundItemGroupRef setupItemsByGroupForItems(const KZFoundItemArray& items, bool sortGroupBefore);
    // The members of every group of the root, group after group.
    static KZFoundItemArray separateItemsFromGroups(const KZFoundItemGroupRef& root);

    static KZFoundItemRef itemByPathWithArray(const KZFoundItemArray& items, const std::filesystem::path& path);
    static KZFoundItemGroupRef groupByIDWithRootArray(const KZFoundItemGroupRef& root, qint64 groupID);
    static qsizetype indexOfGroupInArray(const QList<KZFoundItemGroupRef>& groups, qint64 groupID);
    // Exact, byte for byte: two names that differ in case are two files.
    static qsizetype indexOfItemInArray(const KZFoundItemArray& items, const std::filesystem::path& path);
    static qsizetype indexOfItemInArray(const KZFoundItemArray& items, qint64 groupID);
    static qsizetype indexOfNotMarkedItemInArray(const KZFoundItemArray& items, qint64 groupID);
};
