#pragma once

#include "result/model/KZFoundItem.h"

#include <QString>
#include <QVariant>
#include <QtGlobal>

#include <memory>

// The aggregate values of a group row, over the group's members. Holds no
// state; one shared instance serves every list.
class KZSortGroupModule {
public:
    static KZSortGroupModule& sharedControl();
    // Replaces the shared instance (tests); nullptr makes the next call build
    // a fresh one. The shared instance is never destroyed at exit
    // (platform::SharedInstance).
    static void setSharedControl(std::unique_ptr<KZSortGroupModule> instance);

    // What a group row answers for a key it does not know: an empty text for
    // the text columns, false for anything else.
    QVariant emptyForKey(const QString& key) const;

    quint64 sizeOfItemsInArray(const KZFoundItemArray& items) const;
    // The size of one member, the size each single duplicate takes; 0 when
    // there is none.
    quint64 sizeOfFirstItemsInArray(const KZFoundItemArray& items) const;
    quint64 checkedCountSizeInArray(const KZFoundItemArray& items) const;
    // The share of marked members as a whole percentage, rounded down; 0 for
    // an empty array.
    qint16 checkedCountInArray(const KZFoundItemArray& items) const;

    // The group row's value of `key` over `members` (the first member stands
    // for the group). `withIcon`: group dictionaries answer "icon" with the
    // first member's icon, group objects leave it to emptyForKey().
    QVariant valueForKey(const QString& key, const KZFoundItemArray& members, bool withIcon) const;
};
