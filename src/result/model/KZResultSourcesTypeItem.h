#pragma once

#include <QMetaType>
#include <QString>
#include <QVariantMap>
#include <QtGlobal>

#include <filesystem>
#include <memory>

// One row of a tab's sources list: the whole tab, one searched source, or
// the tab's marked items, with its counts and sizes and the line its cell
// shows under the name. A plain record: the list fills it and moves its
// figures, the cell and the info popover read it, and a saved result keeps
// its marked and removed figures.
//
// Counts and sizes are unsigned and never wrap: a change that would take one
// below zero leaves it at zero (a late list count racing a marking, or a
// figure read back from a saved file, must not show 18 quintillion items).
class KZResultSourcesTypeItem {
public:
    // {"name", "size", "count", "tag"}.
    explicit KZResultSourcesTypeItem(const QVariantMap& dictionary);

    std::filesystem::path url;
    QString name;
    quint64 itemsSize = 0;
    quint64 itemsCount = 0;
    quint64 tag = 0;
    bool isPhotosLib = false;
    bool isCurrentLibrary = false;
    qint16 librariesCount = 0;
    qint16 iTunesLibValue = 0;
    bool drawHSeparator = false;
    qint16 locationLabelTag = -1;
    bool searchStoppeByUser = false;
    quint64 markedCount = 0;
    quint64 markedSize = 0;
    quint64 removedSize = 0;
    quint64 removedCount = 0;
    qint64 markedMenuItem = 0;

    bool isMarkedRow() const;
    bool isSourceRow() const;
    // The tab's own row (a file-type tab or the empty-folders tab).
    bool isTypeRow() const;

    // The line under the row's name in the list of the tab `ownerTag`.
    QString formattedInfoWithOwnerTag(quint64 ownerTag) const;
    QString formattedInfoWithOwnerTag(quint64 ownerTag, bool showMarkedInfo) const;

    // The info popover's figures: what the row's own line does not show,
    // and what was removed.
    QString appropriateInfoString(quint64 ownerTag, bool showMarkedInfo) const;
    QString appriopiateRemoveString(quint64 ownerTag, bool showMarkedInfo) const;

    // The "show_marked_info" preference (an absent value reads as off).
    static bool showMarkedInfo();

    // `value` moved by `by` (added when `add`), held between 0 and the
    // largest count.
    static quint64 moved(quint64 value, qint64 by, bool add);
};

using KZResultSourcesTypeItemRef = std::shared_ptr<KZResultSourcesTypeItem>;
Q_DECLARE_METATYPE(KZResultSourcesTypeItemRef)
