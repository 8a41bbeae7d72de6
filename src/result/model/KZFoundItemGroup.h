#pragma once

#include "result/model/KZFoundItem.h"

#include <QImage>
#include <QMetaType>
#include <QString>
#include <QVariant>
#include <QtGlobal>

#include <memory>

class KZFoundItemGroup;
using KZFoundItemGroupRef = std::shared_ptr<KZFoundItemGroup>;

// One group of duplicates as a row of the result list, with the texts and
// sort values of that row. A grouped list is a root group whose members are
// the groups (groups()).
//
// A group has no lock: a list thread builds it and hands it over, and from
// then on only the main thread reads or changes it.
class KZFoundItemGroup {
public:
    static KZFoundItemGroupRef itemGroup();

    const KZFoundItemArray& items() const { return items_; }
    KZFoundItemArray& items() { return items_; }
    void setItems(const KZFoundItemArray& items) { items_ = items; }

    // The groups of a root group.
    const QList<KZFoundItemGroupRef>& groups() const { return groups_; }
    QList<KZFoundItemGroupRef>& groups() { return groups_; }
    void setGroups(const QList<KZFoundItemGroupRef>& groups) { groups_ = groups; }

    // The name of the member the group is named after, which follows that
    // member's renames (KZFoundItem::knownName); else the name given.
    QString name() const { return namedAfter_ ? namedAfter_->knownName() : name_; }
    void setName(const QString& name)
    {
        name_ = name;
        namedAfter_.reset();
    }
    // The name given with setName(), whether or not a member names the group.
    const QString& givenName() const { return name_; }
    const KZFoundItemRef& namedAfter() const { return namedAfter_; }
    void setNamedAfter(const KZFoundItemRef& member) { namedAfter_ = member; }
    // Names a stand-in as `group` is named.
    void setNameAs(const KZFoundItemGroup& group)
    {
        name_ = group.name_;
        namedAfter_ = group.namedAfter_;
    }
    const QImage& fileIcon() const { return fileIcon_; }
    void setFileIcon(const QImage& icon) { fileIcon_ = icon; }
    qint64 groupID() const { return groupID_; }
    void setGroupID(qint64 groupID) { groupID_ = groupID; }
    quint16 markedCount() const { return markedCount_; }
    void setMarkedCount(quint16 count) { markedCount_ = count; }
    bool isExpanded() const { return isExpanded_; }
    void setIsExpanded(bool value) { isExpanded_ = value; }
    qint64 markedMenuItem() const { return markedMenuItem_; }
    void setMarkedMenuItem(qint64 tag) { markedMenuItem_ = tag; }

    QString formattedMarkedCount() const;
    // The row's second line: the group's size and its marked size, in the
    // marked or the plain wording.
    QString extraInfoFormatted(bool marked) const;
    QString formattedSize() const;
    QString formattedCount() const;
    QString formattedMarkedSize() const;

    // The row's value of a list column, over its members (see
    // KZSortGroupModule::valueForKey); "icon" is not answered here.
    QVariant valueForUndefinedKey(const QString& key) const;

private:
    KZFoundItemArray items_;
    QList<KZFoundItemGroupRef> groups_;
    QString name_;
    KZFoundItemRef namedAfter_;
    QImage fileIcon_;
    qint64 groupID_ = 0;
    quint16 markedCount_ = 0;
    bool isExpanded_ = false;
    qint64 markedMenuItem_ = 1;
};

Q_DECLARE_METATYPE(KZFoundItemGroupRef)
