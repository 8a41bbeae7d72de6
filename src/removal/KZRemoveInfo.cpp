#include "removal/KZRemoveInfo.h"

#include "platform/StringTable.h"

QString KZRemoveInfoText(int tag)
{
    const QString key = QString::number(tag);
    return platform::localizedString(key, QStringLiteral("RemovingInfo"));
}
