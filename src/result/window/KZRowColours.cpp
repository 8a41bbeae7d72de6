#include "result/window/KZRowColours.h"

namespace KZRowColours {

QList<KZRowColourRecord> recordsForGroupIDs(const QList<qint64>& groupIDs)
{
    QList<KZRowColourRecord> records;
    records.reserve(groupIDs.size());
    const qsizetype n = groupIDs.size();
    qint64 previous = 0;
    qint16 code = 2;
    bool first = false;
    for (qsizetype i = 0; i < n; ++i) {
        const qint64 id = groupIDs.at(i);
        if (id != previous) {
            // A group that starts on the very last row is left unmarked, and
            // so is the row before it: there is no room for its line.
            if (i > 0 && i < n - 1) {
                records.last().isLastGroupLine = true;
                first = true;
            }
            previous = id;
            code = code == 2 ? 1 : 2;
        }
        records.append({code, first, false});
        first = false;
    }
    return records;
}

KZRowColourRecord recordForRow(const QList<KZRowColourRecord>& records, qsizetype row)
{
    if (records.isEmpty())
        return {};
    if (row < 0 || row >= records.size())
        return records.last();
    return records.at(row);
}

double greyForCode(qint16 colorCode)
{
    return colorCode % 2 != 0 ? 0.99 : 0.95;
}

} // namespace KZRowColours
