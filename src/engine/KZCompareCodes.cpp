#include "engine/KZCompareCodes.h"

qint16 compareForSameString(const QString& treeString, const QString& newString)
{
    if (treeString.isNull() || newString.isNull())
        return KZCompare::kNotComparable;
    const int order = newString.compare(treeString, Qt::CaseInsensitive);
    if (order < 0)
        return KZCompare::kBefore;
    return order > 0 ? KZCompare::kAfter : KZCompare::kSame;
}

qint16 compareForSameNumber(quint64 treeValue, quint64 newValue)
{
    if (newValue == treeValue)
        return KZCompare::kSame;
    return newValue < treeValue ? KZCompare::kBefore : KZCompare::kAfter;
}
