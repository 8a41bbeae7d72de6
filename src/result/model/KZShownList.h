#pragma once

#include "result/model/KZFoundItem.h"
#include "result/model/KZFoundItemGroup.h"

#include <QList>
#include <QMetaType>

// One list of a tab as the outline shows it: flat (the items, in order) or
// grouped (a root group whose groups() are the rows, each holding its
// members). A list has one shape at a time.
struct KZShownList {
    KZFoundItemArray items;
    KZFoundItemGroupRef root;

    static KZShownList flat(KZFoundItemArray list) { return {std::move(list), nullptr}; }
    static KZShownList grouped(KZFoundItemGroupRef rootGroup) { return {{}, std::move(rootGroup)}; }

    bool isGrouped() const { return static_cast<bool>(root); }
    // Items, or members of every group, in list order.
    KZFoundItemArray flattened() const
    {
        if (!root)
            return items;
        KZFoundItemArray all;
        for (const KZFoundItemGroupRef& group : root->groups())
            all.append(group->items());
        return all;
    }
    qsizetype rowCount() const { return root ? root->groups().size() : items.size(); }
};

// One row of a list: a group row (item null) or an item row (with its
// group when the list is grouped).
struct KZListRow {
    KZFoundItemGroupRef group;
    KZFoundItemRef item;

    bool isGroupRow() const { return group && !item; }
    bool operator==(const KZListRow& other) const = default;
};

Q_DECLARE_METATYPE(KZShownList)
Q_DECLARE_METATYPE(KZListRow)
