#include "result/model/KZFoundListContext.h"

#include "platform/StringTable.h"
#include "services/KZErrorDelegate.h"

QString KZFoundListContext::withTabName(const QString& key) const
{
    return KZErrorDelegate::replaceContentOfString(platform::localizedString(key),
                                                   {fileType ? fileType->removeBtnTitle() : QString()});
}
