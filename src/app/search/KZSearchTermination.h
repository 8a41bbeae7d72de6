#pragma once

#include <QString>
#include <QVariantMap>

// What the end of a search shows, read from the result-info map alone.
namespace KZSearchTermination {

quint64 foundCount(const QVariantMap& info);
// The message under "no_items_found": the photo library's own one when it
// was searched and its database could be read, else none.
QString noItemsMessage(const QVariantMap& info);

struct UserNotification {
    QString title;
    QString subtitle;
    QString body;
};
// The desktop notification's texts; `appName` is the title.
UserNotification userNotification(const QVariantMap& info, const QString& appName);

} // namespace KZSearchTermination
