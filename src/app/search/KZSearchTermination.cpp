#include "app/search/KZSearchTermination.h"

#include "engine/KZResultInfoKeys.h"
#include "platform/StringTable.h"
#include "services/KZErrorDelegate.h"
#include "services/KZNumberUtilities.h"
#include "settings/KZSearchStuff.h"

#include <QStringList>

namespace KZSearchTermination {

quint64 foundCount(const QVariantMap& info)
{
    return info.value(KZResultKey::foundItemsCount).toULongLong();
}

bool hasResult(const QVariantMap& info)
{
    return foundCount(info) != 0 || !info.value(KZResultKey::foundDeads).toList().isEmpty();
}

QString noItemsMessage(const QVariantMap& info)
{
    if (info.value(KZResultKey::searchedInPhotos).toBool() && !info.value(KZResultKey::photosDatabaseWasNotFound).toBool())
        return QStringLiteral("no_items_found_photos_mess");
    return {};
}

QString skippedSources(const QVariantMap& info)
{
    return info.value(KZResultKey::skippedSources).toStringList().join(QStringLiteral("; "));
}

NothingFoundAlert nothingFoundAlert(const QVariantMap& info)
{
    // A reopened result whose items are all gone found nothing because
    // nothing of it is left, not because the folders hold no duplicates.
    if (info.value(KZResultKey::isRestoreOfSaved).toBool()) {
        // Items that are all there but lie outside the searched folders
        // were left out, not lost: the reopening says which it was.
        const QString leftOut = info.value(KZResultKey::reopenLeftOut).toString();
        return {QStringLiteral("result_not_opened"), {},
                {leftOut.isEmpty() ? platform::localizedString(QStringLiteral("open_saved_no_items")) : leftOut}};
    }
    if (const QString skipped = skippedSources(info); !skipped.isEmpty())
        return {QStringLiteral("saved_search_not_searched"), QStringLiteral("saved_search_not_searched_none"), {skipped}};
    return {QStringLiteral("no_items_found"), noItemsMessage(info), {}};
}

bool hasUserNotification(const QVariantMap& info)
{
    // A reopened result that shows nothing was not opened: its alert says
    // why, and a notice that it is open again would contradict it.
    return !info.value(KZResultKey::isRestoreOfSaved).toBool() || hasResult(info);
}

UserNotification userNotification(const QVariantMap& info, const QString& appName)
{
    UserNotification note;
    note.title = appName;
    if (info.value(KZResultKey::isRestoreOfSaved).toBool()) {
        note.body = platform::localizedString(QStringLiteral("opening_saved_terminated_description"));
        return note;
    }
    quint64 type = KZSearchStuff::duplicateFiles;
    const auto request = info.value(KZResultKey::searchStuffItem).value<std::shared_ptr<KZSearchStuff>>();
    if (request)
        type = request->searchType();
    const QString typeName = platform::localizedString(
        type != KZSearchStuff::duplicateFiles ? QStringLiteral("duplicate_folders") : QStringLiteral("duplicate_files"));
    note.subtitle = KZErrorDelegate::replaceContentOfString(
        platform::localizedString(QStringLiteral("search_terminated")), {typeName});
    const auto& numbers = KZNumberUtilities::sharedControl();
    note.body = KZErrorDelegate::replaceContentOfString(
        platform::localizedString(QStringLiteral("search_terminated_description")),
        {numbers.numberToFormatString(static_cast<double>(info.value(KZResultKey::checkedItemsCount).toULongLong())),
         numbers.sizeToFormatString(info.value(KZResultKey::foundItemsSize).toULongLong(), 4, false)});
    return note;
}

QString oneLine(const UserNotification& note)
{
    QStringList parts;
    for (const QString& part : {note.title, note.subtitle, note.body})
        if (!part.isEmpty())
            parts << part;
    return parts.join(QLatin1Char(' '));
}

} // namespace KZSearchTermination
