#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QVariantList>
#include <QtGlobal>

class KZSearchItemInfo;

// Files an item under a file-type tab the way a search does: folders that
// are not packages under the folders tab, anything else by its extension,
// then by its type code, under the first label that lists it, else under
// the unlabelled files. A search and a reopened result share it, so a
// reopened item whose saved tab no longer exists lands where a new search
// would put it.
class KZFileTypeTagger {
public:
    KZFileTypeTagger() = default;
    // `labels`: the user's file-type labels, each {"file_type_tag",
    // "labels_extension", "labels_type_array"}.
    explicit KZFileTypeTagger(const QVariantList& labels);

    quint64 tagFor(const KZSearchItemInfo& item) const;
    // True for a tag that one of the labels has.
    bool hasLabel(quint64 tag) const { return tags_.contains(tag); }

    // The four-character code of a label's type entry ("'JPEG'" or "JPEG");
    // 0 when the text is no such code.
    static quint32 osTypeFromString(const QString& text);

private:
    QHash<QString, quint64> byExtension_;
    QHash<quint32, quint64> byType_;
    QSet<quint64> tags_;
};
