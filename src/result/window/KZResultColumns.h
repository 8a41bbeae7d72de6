#pragma once

#include "result/model/KZSortDescriptor.h"

#include <QList>
#include <QString>
#include <QtGlobal>

// The six columns of a tab's result list, in the order they stand.
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

namespace KZResultColumns {

inline const QString localizedCaseInsensitiveCompare = QStringLiteral("localizedCaseInsensitiveCompare:");

// Every column; the location column only matters with two or more searched
// locations (see isShown).
const QList<KZResultColumn>& all();
const KZResultColumn* columnWithIdentifier(const QString& identifier);
int indexOf(const QString& identifier);
// One searched location has nothing to tell apart, so its column is hidden.
bool isShown(const QString& identifier, qint16 searchedLocationCount);

// Members of one group together, ordered by their location's label.
KZSortDescriptors defaultSortDescriptors();

// The order after a click on a column's header: a click on the primary
// column turns its direction; any other column becomes primary in its own
// first direction, and the rest keep their order behind it without the
// clicked key.
KZSortDescriptors descriptorsAfterClick(const KZSortDescriptors& current, const QString& identifier);

// Row heights in points.
inline constexpr int groupRowHeight = 40;
inline constexpr int itemRowHeight = 36;

} // namespace KZResultColumns
