#pragma once

#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>
#include <QtGlobal>

// Typed reads of property-list values. A value of the wrong type reads as if
// it were absent (NO, 0 or nothing): stored dictionaries come from files that
// other versions or the user may have written, and a wrong type must never
// turn into a plausible-looking number.
namespace KZPlistValue {

// Booleans and numbers (any non-zero number is YES).
bool isNumber(const QVariant& value);
bool toBool(const QVariant& value);
// Whole numbers; a real is truncated, one out of range reads as 0.
qint64 toInteger(const QVariant& value);
// Counts of bytes and the like; a negative or out-of-range number reads as 0.
quint64 toUnsigned64(const QVariant& value);
// As toUnsigned64, then 0 when it does not fit into 32 bits.
quint32 toUnsigned32(const QVariant& value);
// A finite number; anything else reads as 0.
double toDouble(const QVariant& value);
QString toString(const QVariant& value); // null unless a string
QVariantMap toMap(const QVariant& value);
QVariantList toList(const QVariant& value);

inline bool boolValue(const QVariantMap& map, const QString& key) { return toBool(map.value(key)); }
inline qint64 integerValue(const QVariantMap& map, const QString& key) { return toInteger(map.value(key)); }
inline quint64 unsigned64Value(const QVariantMap& map, const QString& key) { return toUnsigned64(map.value(key)); }
inline quint32 unsigned32Value(const QVariantMap& map, const QString& key) { return toUnsigned32(map.value(key)); }
inline double doubleValue(const QVariantMap& map, const QString& key) { return toDouble(map.value(key)); }
inline QString stringValue(const QVariantMap& map, const QString& key) { return toString(map.value(key)); }
inline QVariantMap mapValue(const QVariantMap& map, const QString& key) { return toMap(map.value(key)); }
inline QVariantList listValue(const QVariantMap& map, const QString& key) { return toList(map.value(key)); }

} // namespace KZPlistValue
