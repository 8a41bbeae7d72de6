#pragma once

#include <QString>
#include <QVariantMap>

// What the end of a search shows, read from the result-info map alone.
namespace KZSearchTermination {

quint64 foundCount(const QVariantMap& info);
// Whether there is a result to show: duplicates, or missing music tracks the
// user asked to have listed.
bool hasResult(const QVariantMap& info);
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
// The notification on one line, for where no notification service shows it:
// its texts in order, the empty ones left out.
QString oneLine(const UserNotification& note);

} // namespace KZSearchTermination
