#pragma once

#include <QList>
#include <QMetaType>
#include <QString>
#include <QVariant>

#include <utility>

// One key of a list's sort order, as the outline's column headers make them:
// a column key, a direction and the comparison used on the two values
// ("compare:", "caseInsensitiveCompare:", "localizedCaseInsensitiveCompare:"
// or "localizedStandardCompare:"). Found items and group rows answer the
// column keys themselves, so one descriptor sorts both kinds of row.
class KZSortDescriptor {
public:
    static const QString compareSelector;

    KZSortDescriptor() = default;
    KZSortDescriptor(QString key, bool ascending, QString selector = compareSelector)
        : key_(std::move(key)), selector_(std::move(selector)), ascending_(ascending) {}

    const QString& key() const { return key_; }
    bool ascending() const { return ascending_; }
    const QString& selector() const { return selector_; }

    // Negative, zero or positive as `a` sorts before, with or after `b` in
    // this descriptor's direction. Values that cannot be ordered against
    // each other (an invalid value, a number against a text) compare equal,
    // so they keep their relative order in a stable sort.
    int compareObject(const QVariant& a, const QVariant& b) const;

    bool operator==(const KZSortDescriptor& other) const = default;

private:
    QString key_;
    QString selector_ = compareSelector;
    bool ascending_ = true;
};

using KZSortDescriptors = QList<KZSortDescriptor>;

Q_DECLARE_METATYPE(KZSortDescriptor)
