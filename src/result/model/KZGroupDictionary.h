#pragma once

#include "result/model/KZFoundItem.h"

#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <initializer_list>
#include <utility>

// Stands for a group row while a flat list is sorted group by group: it holds
// the group's members under "children" and answers the list's column keys
// for the whole group, like a group row does.
class KZGroupDictionary {
public:
    static const QString childrenKey; // "children": a KZFoundItemArray

    KZGroupDictionary() = default;
    explicit KZGroupDictionary(const QVariantMap& dictionary);

    // Pairs of object and key. An invalid first object gives an empty
    // dictionary; a pair without a key is a caller's mistake and is left out.
    static KZGroupDictionary dictionaryWithObjectsAndKeys(std::initializer_list<std::pair<QVariant, QString>> pairs);

    const QVariantMap& embeddedDictionary() const { return embeddedDictionary_; }

    // The stored entry, or else the computed value of the column key.
    QVariant objectForKey(const QString& key) const;
    void setObject(const QVariant& object, const QString& key);
    void removeObjectForKey(const QString& key);

    KZFoundItemArray children() const;
    QVariant valueForUndefinedKey(const QString& key) const;

private:
    QVariantMap embeddedDictionary_;
};
