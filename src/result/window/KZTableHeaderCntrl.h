#pragma once

#include "result/model/KZSortDescriptor.h"

#include <QList>
#include <QString>
#include <QtGlobal>

// One of the six columns of a tab's result list.
struct KZResultColumn {
    QString identifier;
    // Key of the header's text; empty for a column whose header is an image.
    QString titleKey;
    QString headerImage;
    Qt::Alignment headerAlignment = Qt::AlignLeft;
    int minWidth = 0;
    int maxWidth = 10000;
    int initialWidth = 0;
    bool resizable = true;
    // What a click on the header sorts by first.
    KZSortDescriptor prototype;
};

// The columns of a tab's result list and the order the list is sorted in:
// what each header shows, how wide each column may be, what a click on a
// header sorts by, and the default order of a new list. The outline
// controller applies these to its header (widths, resizing, the hidden
// location column, the sort indicator) and asks here what a click means.
class KZTableHeaderCntrl {
public:
    KZTableHeaderCntrl() = delete;

    static inline const QString localizedCaseInsensitiveCompare = QStringLiteral("localizedCaseInsensitiveCompare:");

    // Every column; the location column only matters with two or more searched
    // locations (see isShown).
    static const QList<KZResultColumn>& all();
    static const KZResultColumn* columnWithIdentifier(const QString& identifier);
    static int indexOf(const QString& identifier);
    // One searched location has nothing to tell apart, so its column is hidden.
    static bool isShown(const QString& identifier, qint16 searchedLocationCount);

    // Members of one group together, ordered by their location's label.
    static KZSortDescriptors defaultSortDescriptors();

    // The order after a click on a column's header: a click on the primary
    // column turns its direction; any other column becomes primary in its own
    // first direction, and the rest keep their order behind it without the
    // clicked key.
    static KZSortDescriptors descriptorsAfterClick(const KZSortDescriptors& current, const QString& identifier);

    // Row heights in points.
    static constexpr int groupRowHeight = 40;
    static constexpr int itemRowHeight = 36;
};
