#pragma once

#include <QList>
#include <QtGlobal>

// How one row of the flat list is painted: consecutive groups alternate
// between two greys, and a thin line marks where a group begins.
struct KZRowColourRecord {
    qint16 colorCode = 2;
    bool isFirstGroupLine = false;
    bool isLastGroupLine = false;

    bool operator==(const KZRowColourRecord&) const = default;
};

namespace KZRowColours {

// One record per row, from the rows' group identifiers in list order.
// Computed once per shown list, never per painted row.
QList<KZRowColourRecord> recordsForGroupIDs(const QList<qint64>& groupIDs);

// The record a row is painted with; rows past the end take the last record
// (a list that grew since the records were made) and an empty list a plain one.
KZRowColourRecord recordForRow(const QList<KZRowColourRecord>& records, qsizetype row);

// The background grey (0..1) of a flat row: odd codes, negative ones too,
// take the lighter grey.
double greyForCode(qint16 colorCode);

} // namespace KZRowColours
