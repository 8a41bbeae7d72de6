#include "removal/KZRemoveInfo.h"

#include "platform/StringTable.h"

QString KZRemoveInfoText(int tag)
{
    const QString key = QString::number(tag);
    QString text = platform::localizedString(key, QStringLiteral("RemovingInfo"));
    // The Photos entry names the keywords the removal gives, in the user's language.
    if (tag == 3 && text != key)
        text = text.arg(platform::localizedString(QStringLiteral("delete_photos_keyword")),
                        platform::localizedString(QStringLiteral("move_photos_keyword")));
    return text;
}
