#include "engine/KZFileTypeTagger.h"

#include "engine/KZSearchItemInfo.h"
#include "settings/KZTags.h"

KZFileTypeTagger::KZFileTypeTagger(const QVariantList& labels)
{
    for (const QVariant& entry : labels) {
        const QVariantMap label = entry.toMap();
        const quint64 tag = label.value(QStringLiteral("file_type_tag")).toULongLong();
        tags_.insert(tag);
        for (const QVariant& listed : label.value(QStringLiteral("labels_extension")).toList()) {
            const QString extension = listed.toString().toCaseFolded();
            if (!byExtension_.contains(extension))
                byExtension_.insert(extension, tag);
        }
        for (const QVariant& listed : label.value(QStringLiteral("labels_type_array")).toList()) {
            const quint32 type = osTypeFromString(listed.toString());
            if (!byType_.contains(type))
                byType_.insert(type, tag);
        }
    }
}

quint64 KZFileTypeTagger::tagFor(const KZSearchItemInfo& item) const
{
    if (item.isDirectory() && !item.isPackage())
        return KZTag::folders;
    const QString extension = item.extension();
    const auto byExtension = extension.isEmpty() ? byExtension_.cend() : byExtension_.constFind(extension.toCaseFolded());
    if (byExtension != byExtension_.cend())
        return *byExtension;
    if (item.type() != 0) {
        const auto byType = byType_.constFind(item.type());
        if (byType != byType_.cend())
            return *byType;
    }
    return KZTag::unlabeledFiles;
}

quint32 KZFileTypeTagger::osTypeFromString(const QString& text)
{
    QString code = text;
    if (code.size() == 6 && code.startsWith(QLatin1Char('\'')) && code.endsWith(QLatin1Char('\'')))
        code = code.mid(1, 4);
    if (code.size() != 4)
        return 0;
    quint32 value = 0;
    for (const QChar ch : code) {
        if (ch.unicode() > 0xFF)
            return 0;
        value = (value << 8) | quint32(ch.unicode());
    }
    return value;
}
