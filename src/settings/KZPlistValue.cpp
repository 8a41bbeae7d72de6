#include "settings/KZPlistValue.h"

#include <QMetaType>

#include <cmath>
#include <limits>

namespace KZPlistValue {

namespace {

bool isFloating(const QVariant& v)
{
    return v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float;
}

} // namespace

bool isNumber(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return true;
    default:
        return false;
    }
}

bool toBool(const QVariant& v)
{
    if (!isNumber(v))
        return false;
    if (isFloating(v))
        return v.toDouble() != 0.0;
    return v.typeId() == QMetaType::ULongLong ? v.toULongLong() != 0 : v.toLongLong() != 0;
}

qint64 toInteger(const QVariant& v)
{
    if (!isNumber(v))
        return 0;
    if (isFloating(v)) {
        const double d = v.toDouble();
        // A cast outside the range is undefined; such a number means nothing here.
        if (!std::isfinite(d) || d <= -9.2e18 || d >= 9.2e18)
            return 0;
        return static_cast<qint64>(d);
    }
    if (v.typeId() == QMetaType::ULongLong) {
        const quint64 u = v.toULongLong();
        return u > quint64(std::numeric_limits<qint64>::max()) ? 0 : qint64(u);
    }
    return v.toLongLong();
}

quint64 toUnsigned64(const QVariant& v)
{
    if (!isNumber(v))
        return 0;
    if (v.typeId() == QMetaType::ULongLong)
        return v.toULongLong();
    if (isFloating(v)) {
        const double d = v.toDouble();
        if (!std::isfinite(d) || d < 0.0 || d >= 1.8e19)
            return 0;
        return static_cast<quint64>(d);
    }
    const qint64 s = v.toLongLong();
    return s < 0 ? 0 : quint64(s);
}

quint32 toUnsigned32(const QVariant& v)
{
    const quint64 u = toUnsigned64(v);
    return u > std::numeric_limits<quint32>::max() ? 0 : quint32(u);
}

double toDouble(const QVariant& v)
{
    if (!isNumber(v))
        return 0.0;
    const double d = v.toDouble();
    return std::isfinite(d) ? d : 0.0;
}

QString toString(const QVariant& v)
{
    return v.typeId() == QMetaType::QString ? v.toString() : QString();
}

QVariantMap toMap(const QVariant& v)
{
    return v.typeId() == QMetaType::QVariantMap ? v.toMap() : QVariantMap();
}

QVariantList toList(const QVariant& v)
{
    return v.typeId() == QMetaType::QVariantList ? v.toList() : QVariantList();
}

} // namespace KZPlistValue
