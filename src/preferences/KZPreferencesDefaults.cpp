#include "preferences/KZPreferencesDefaults.h"

#include "platform/Log.h"
#include "platform/UserDefaults.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZDefaultsRegistry.h"

#include <QMetaType>

#include <cmath>

namespace KZPreferencesDefaults {

namespace {

QString typeName(const QVariant& value)
{
    return value.isValid() ? QString::fromLatin1(value.metaType().name()) : QStringLiteral("nothing");
}

} // namespace

QList<QVariantMap> dictionaries(const platform::UserDefaults& defaults, const QString& key)
{
    const QVariant value = defaults.value(key);
    QList<QVariantMap> rows;
    if (!value.isValid())
        return rows;
    if (value.typeId() != QMetaType::QVariantList) {
        platform::logLine(QStringLiteral("The preference \"%1\" holds %2 instead of a list; it is shown empty")
                              .arg(key, typeName(value)));
        return rows;
    }
    const QVariantList list = value.toList();
    rows.reserve(list.size());
    qsizetype dropped = 0;
    for (const QVariant& entry : list) {
        if (entry.typeId() == QMetaType::QVariantMap)
            rows.append(entry.toMap());
        else
            ++dropped;
    }
    if (dropped > 0)
        platform::logLine(QStringLiteral("The preference \"%1\" holds %2 entries that are not dictionaries; "
                                         "they are left out")
                              .arg(key)
                              .arg(dropped));
    return rows;
}

void setDictionaries(platform::UserDefaults& defaults, const QString& key, const QList<QVariantMap>& rows)
{
    QVariantList list;
    list.reserve(rows.size());
    for (const QVariantMap& row : rows)
        list.append(row);
    defaults.setValue(key, list);
}

std::optional<quint64> unsignedValue(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? 1 : 0;
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::Char:
    case QMetaType::SChar: {
        const qint64 n = value.toLongLong();
        if (n < 0)
            return std::nullopt;
        return static_cast<quint64>(n);
    }
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
    case QMetaType::UChar:
        return value.toULongLong();
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = value.toDouble();
        // 2^64 itself is not representable as a quint64.
        if (!(d >= 0) || d >= 18446744073709551616.0 || std::floor(d) != d)
            return std::nullopt;
        return static_cast<quint64>(d);
    }
    default:
        return std::nullopt;
    }
}

std::optional<QString> stringValue(const QVariant& value)
{
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    return value.toString();
}

QStringList stringList(const QVariant& value)
{
    QStringList strings;
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList();
    if (value.typeId() != QMetaType::QVariantList)
        return strings;
    for (const QVariant& entry : value.toList()) {
        if (entry.typeId() == QMetaType::QString)
            strings.append(entry.toString());
    }
    return strings;
}

QVariant registeredValue(const platform::UserDefaults& defaults, const QString& key)
{
    const QVariantMap registered = defaults.registeredDefaults();
    if (registered.contains(key))
        return registered.value(key);
    return KZDefaultsRegistry::defaultValues().value(key);
}

void restoreKey(platform::UserDefaults& defaults, const QString& key)
{
    defaults.setValue(key, registeredValue(defaults, key));
}

void restoreValues(platform::UserDefaults& defaults)
{
    namespace K = KZDefaultsKey;
    for (const QString& key :
         {K::reduce_transparence, K::report_empty_folders, K::check_image_metadata_option, K::security_moving_to_trash})
        restoreKey(defaults, key);
}

void restoreWarnings(platform::UserDefaults& defaults)
{
    for (const QString& key : KZDefaultsRegistry::alertSuppressionKeys())
        defaults.setValue(key, false);
}

QString lexicallyNormalized(const QString& path)
{
    if (path.isEmpty())
        return path;
    const bool absolute = path.startsWith(QLatin1Char('/'));
    QStringList parts;
    for (const QString& part : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part != QLatin1String("."))
            parts.append(part);
    }
    const QString joined = parts.join(QLatin1Char('/'));
    if (absolute)
        return QLatin1Char('/') + joined;
    return joined.isEmpty() ? QStringLiteral(".") : joined;
}

} // namespace KZPreferencesDefaults
